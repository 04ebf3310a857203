#include <gtest/gtest.h>

#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <new>
#include <optional>
#include <thread>
#include <vector>

#include "parallel/machine.hpp"
#include "parallel/parallel_for.hpp"
#include "thread_count_util.hpp"

namespace vz::parallel {
namespace {

using vz::testing::ScopedThreadCount;

std::size_t hardware() {
    return std::clamp<std::size_t>(std::thread::hardware_concurrency(), 1, kMaxThreads);
}

TEST(ThreadCount, EnvironmentOverridesTheHardware) {
    struct Case {
        std::optional<std::string> value;
        std::size_t expected;
    };
    const Case cases[] = {
        {std::nullopt, hardware()}, {"1", 1}, {"3", 3}, {"0012", 12}, {"100000", kMaxThreads},
        {"0", hardware()},          {"", hardware()}, {"-2", hardware()}, {"4 ", hardware()}, {"two", hardware()},
        {"99999999999999999999999", hardware()},
    };
    for (const Case& c : cases) {
        const ScopedThreadCount env(c.value);
        EXPECT_EQ(thread_count(), c.expected) << (c.value ? *c.value : "(unset)");
    }
}

TEST(ChunkItems, CarriesTheMinimumWork) {
    EXPECT_EQ(chunk_items(0), kMinChunkWork);
    EXPECT_EQ(chunk_items(1), kMinChunkWork);
    EXPECT_EQ(chunk_items(3), (kMinChunkWork + 2) / 3);
    EXPECT_EQ(chunk_items(kMinChunkWork), 1u);
    EXPECT_EQ(chunk_items(~std::uint64_t{0}), 1u);
}

TEST(ForEachChunk, EveryChunkRunsOnceWithItsBounds) {
    struct Case {
        std::size_t count, chunk;
    };
    const Case cases[] = {{0, 4}, {1, 4}, {10, 3}, {12, 3}, {1000, 7}, {1000, 1000}, {1000, 5000}, {37, 0}};
    for (const std::size_t threads : {std::size_t{1}, std::size_t{4}, std::size_t{64}}) {
        const ScopedThreadCount env(threads);
        for (const Case& c : cases) {
            const std::size_t step = std::max<std::size_t>(c.chunk, 1);
            const std::size_t chunks = (c.count + step - 1) / step;
            std::vector<std::atomic<int>> visits(c.count);
            std::vector<std::atomic<std::size_t>> ends(chunks);
            std::atomic<int> stray{0};
            for_each_chunk(c.count, c.chunk, [&](std::size_t begin, std::size_t end) {
                if (begin % step != 0 || end <= begin || end > c.count) {
                    ++stray;
                    return;
                }
                ends[begin / step] = end;
                for (std::size_t k = begin; k < end; ++k) ++visits[k];
            });
            EXPECT_EQ(stray.load(), 0);
            for (std::size_t k = 0; k < c.count; ++k) ASSERT_EQ(visits[k].load(), 1) << c.count << "/" << c.chunk;
            for (std::size_t b = 0; b < chunks; ++b)
                EXPECT_EQ(ends[b].load(), std::min(c.count, (b + 1) * step)) << c.count << "/" << c.chunk;
        }
    }
}

TEST(ForEachChunk, ABodyMayWaitForEarlierChunks) {
    // Each chunk waits until every earlier chunk has finished: this completes
    // only because chunks are handed out in ascending order.
    for (const std::size_t threads : {std::size_t{1}, std::size_t{3}, std::size_t{16}}) {
        const ScopedThreadCount env(threads);
        std::atomic<std::size_t> done{0};
        std::vector<std::size_t> order;
        for_each_chunk(200, 1, [&](std::size_t begin, std::size_t) {
            while (done.load(std::memory_order_acquire) != begin) std::this_thread::yield();
            order.push_back(begin);
            done.store(begin + 1, std::memory_order_release);
        });
        ASSERT_EQ(order.size(), 200u);
        for (std::size_t k = 0; k < order.size(); ++k) EXPECT_EQ(order[k], k);
    }
}

TEST(ForEachChunk, AllocationFailureReachesTheCaller) {
    for (const std::size_t threads : {std::size_t{1}, std::size_t{4}}) {
        const ScopedThreadCount env(threads);
        std::atomic<int> ran{0};
        EXPECT_THROW(for_each_chunk(64, 1,
                                    [&](std::size_t begin, std::size_t) {
                                        ++ran;
                                        if (begin == 5) throw std::bad_alloc();
                                    }),
                     std::bad_alloc);
        EXPECT_GE(ran.load(), 6);
        // The pool is gone: the next call works as usual.
        std::atomic<int> after{0};
        for_each_chunk(64, 1, [&](std::size_t, std::size_t) { ++after; });
        EXPECT_EQ(after.load(), 64);
    }
}

}  // namespace
}  // namespace vz::parallel

TEST(MachineMemory, ControlGroupLimitTexts) {
    struct Case {
        const char* text;
        std::optional<std::uint64_t> bytes;
    };
    const Case cases[] = {
        {"max\n", std::nullopt},     {"8589934592\n", 8589934592ull}, {"1024", 1024ull},
        {"0\n", std::nullopt},       {"", std::nullopt},              {"12abc\n", std::nullopt},
        {"-5\n", std::nullopt},      {nullptr, std::nullopt},
    };
    for (const Case& c : cases) EXPECT_EQ(vz::parallel::parse_memory_limit(c.text), c.bytes) << (c.text ? c.text : "null");
}

TEST(MachineMemory, AnAddressSpaceLimitLowersTheBudget) {
    const auto unlimited = vz::parallel::physical_memory_bytes();
    ASSERT_TRUE(unlimited.has_value());
    // In a child, so that the limit never touches this process; the child
    // only reads limits and exits.
    const std::uint64_t limit = *unlimited / 2;
    const pid_t pid = fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
        rlimit as{};
        getrlimit(RLIMIT_AS, &as);
        as.rlim_cur = static_cast<rlim_t>(limit);
        if (setrlimit(RLIMIT_AS, &as) != 0) _exit(2);
        const auto bytes = vz::parallel::physical_memory_bytes();
        _exit(bytes && *bytes == limit ? 0 : 1);
    }
    int status = 0;
    ASSERT_EQ(waitpid(pid, &status, 0), pid);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0);
}
