#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstddef>
#include <thread>
#include <vector>

#include "parallel/team.hpp"
#include "thread_count_util.hpp"

namespace vz::parallel {
namespace {

TEST(Team, EveryChunkOfEveryRoundRunsOnceWithItsBounds) {
    // Many rounds in a row, of every shape, on teams of every size: each
    // round is over when the call returns, with every chunk run once.
    struct Case {
        std::size_t count, chunk;
    };
    const Case cases[] = {{0, 4}, {1, 4}, {10, 3}, {12, 3}, {1000, 7}, {1000, 1000}, {1000, 5000}, {37, 0}};
    for (const std::size_t threads : {std::size_t{1}, std::size_t{2}, std::size_t{5}, std::size_t{64}}) {
        const vz::testing::ScopedThreadCount env(threads);
        Team team;
        EXPECT_EQ(team.size(), threads);
        for (int round = 0; round < 200; ++round) {
            const Case& c = cases[static_cast<std::size_t>(round) % std::size(cases)];
            const std::size_t step = std::max<std::size_t>(c.chunk, 1);
            std::vector<int> visits(c.count, 0);  // each chunk writes its own
            std::vector<std::size_t> ends((c.count + step - 1) / step, 0);
            std::atomic<int> stray{0};
            team.for_each_chunk(c.count, c.chunk, [&](std::size_t begin, std::size_t end) {
                if (begin % step != 0 || end <= begin || end > c.count) {
                    ++stray;
                    return;
                }
                ends[begin / step] = end;
                for (std::size_t k = begin; k < end; ++k) ++visits[k];
            });
            ASSERT_EQ(stray.load(), 0);
            for (std::size_t k = 0; k < c.count; ++k) ASSERT_EQ(visits[k], 1) << c.count << "/" << c.chunk;
            for (std::size_t b = 0; b < ends.size(); ++b) ASSERT_EQ(ends[b], std::min(c.count, (b + 1) * step));
        }
    }
}

TEST(Team, RoundsUseTheTeamsThreads) {
    // With more chunks than threads and chunks that wait for one another,
    // every thread of the team takes part: the round cannot finish otherwise.
    const vz::testing::ScopedThreadCount env(4);
    Team team;
    ASSERT_EQ(team.size(), 4u);
    for (int round = 0; round < 20; ++round) {
        std::atomic<int> arrived{0};
        team.for_each_chunk(4, 1, [&](std::size_t, std::size_t) {
            arrived.fetch_add(1);
            while (arrived.load() < 4) std::this_thread::yield();
        });
        EXPECT_EQ(arrived.load(), 4);
    }
}

}  // namespace
}  // namespace vz::parallel
