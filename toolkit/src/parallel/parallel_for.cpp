#include "parallel/parallel_for.hpp"

#include <algorithm>
#include <array>
#include <atomic>
#include <cstdlib>
#include <exception>
#include <mutex>
#include <thread>

namespace vz::parallel {

namespace {

/// The variable's value as a positive count, or 0 when it is unset, empty,
/// not all decimal digits, 0 or absurdly large.
std::size_t threads_from_environment() {
    const char* text = std::getenv(kThreadsVariable);
    if (text == nullptr || *text == '\0') return 0;
    std::size_t n = 0;
    for (const char* p = text; *p != '\0'; ++p) {
        if (*p < '0' || *p > '9') return 0;
        n = n * 10 + static_cast<std::size_t>(*p - '0');
        if (n > 1'000'000) return 0;
    }
    return n;
}

}  // namespace

std::size_t thread_count() {
    std::size_t n = threads_from_environment();
    if (n == 0) n = std::thread::hardware_concurrency();
    return std::clamp<std::size_t>(n, 1, kMaxThreads);
}

std::size_t chunk_items(std::uint64_t work_per_item) {
    if (work_per_item >= kMinChunkWork) return 1;
    if (work_per_item == 0) work_per_item = 1;
    return static_cast<std::size_t>((kMinChunkWork + work_per_item - 1) / work_per_item);
}

namespace detail {

void run_chunks(std::size_t count, std::size_t chunk, ChunkFn fn, void* body) {
    if (count == 0) return;
    if (chunk == 0) chunk = 1;
    const std::size_t chunks = (count - 1) / chunk + 1;
    auto bounds = [&](std::size_t c) {
        const std::size_t begin = c * chunk;
        return std::pair{begin, begin + std::min(chunk, count - begin)};
    };
    const std::size_t threads = std::min(thread_count(), chunks);
    if (threads <= 1) {
        for (std::size_t c = 0; c < chunks; ++c) {
            const auto [begin, end] = bounds(c);
            fn(body, begin, end);
        }
        return;
    }

    std::atomic<std::size_t> next{0};
    std::atomic<bool> failed{false};
    std::mutex error_lock;
    std::exception_ptr error;
    auto work = [&]() noexcept {
        try {
            while (!failed.load(std::memory_order_relaxed)) {
                const std::size_t c = next.fetch_add(1, std::memory_order_relaxed);
                if (c >= chunks) return;
                const auto [begin, end] = bounds(c);
                fn(body, begin, end);
            }
        } catch (...) {
            const std::lock_guard<std::mutex> hold(error_lock);
            if (!error) error = std::current_exception();
            failed.store(true, std::memory_order_relaxed);
        }
    };

    // A fixed array: starting the pool allocates nothing that could fail
    // before a thread runs. A thread the system refuses to start is simply
    // missing; the threads that did start, the calling one included, take
    // its chunks.
    std::array<std::thread, kMaxThreads> pool;
    std::size_t started = 0;
    for (; started + 1 < threads; ++started) {
        try {
            pool[started] = std::thread(work);
        } catch (...) {
            break;
        }
    }
    work();
    for (std::size_t k = 0; k < started; ++k) pool[k].join();
    if (error) std::rethrow_exception(error);
}

}  // namespace detail
}  // namespace vz::parallel
