#include "parallel/team.hpp"

#include <algorithm>

namespace vz::parallel {

namespace {

/// Looks at the round counter before sleeping until it changes: rounds
/// follow one another within microseconds while a solve runs.
constexpr int kSpins = 4096;

template <class T>
void wait_while_equal(const std::atomic<T>& a, T seen) {
    for (int spin = 0; spin < kSpins; ++spin) {
        if (a.load(std::memory_order_acquire) != seen) return;
        cpu_relax();
    }
    a.wait(seen, std::memory_order_acquire);
}

}  // namespace

Team::Team(std::size_t threads) {
    if (threads == 0) threads = thread_count();
    threads = std::clamp<std::size_t>(threads, 1, kMaxThreads);
    for (; started_ + 1 < threads; ++started_) {
        try {
            pool_[started_] = std::thread([this] { worker(); });
        } catch (...) {
            break;
        }
    }
}

Team::~Team() {
    stop_.store(true, std::memory_order_release);
    round_.fetch_add(1, std::memory_order_acq_rel);
    round_.notify_all();
    for (std::size_t k = 0; k < started_; ++k) pool_[k].join();
}

void Team::work_round() {
    for (;;) {
        const std::size_t c = next_.fetch_add(1, std::memory_order_relaxed);
        if (c >= chunks_) return;
        const std::size_t begin = c * chunk_;
        fn_(body_, begin, begin + std::min(chunk_, count_ - begin));
    }
}

void Team::worker() {
    std::uint64_t seen = 0;
    for (;;) {
        wait_while_equal(round_, seen);
        seen = round_.load(std::memory_order_acquire);
        if (stop_.load(std::memory_order_acquire)) return;
        work_round();
        finished_.fetch_add(1, std::memory_order_acq_rel);
        finished_.notify_one();
    }
}

void Team::run(std::size_t count, std::size_t chunk, ChunkFn fn, void* body) {
    if (count == 0) return;
    if (chunk == 0) chunk = 1;
    const std::size_t chunks = (count - 1) / chunk + 1;
    if (started_ == 0 || chunks == 1) {
        for (std::size_t c = 0; c < chunks; ++c) {
            const std::size_t begin = c * chunk;
            fn(body, begin, begin + std::min(chunk, count - begin));
        }
        return;
    }
    fn_ = fn;
    body_ = body;
    count_ = count;
    chunk_ = chunk;
    chunks_ = chunks;
    next_.store(0, std::memory_order_relaxed);
    finished_.store(0, std::memory_order_relaxed);
    round_.fetch_add(1, std::memory_order_acq_rel);
    round_.notify_all();
    work_round();
    // Every thread takes part in every round, even one that finds no chunk
    // left: the round's fields are not touched again before all are done.
    for (std::size_t done = finished_.load(std::memory_order_acquire); done < started_;
         done = finished_.load(std::memory_order_acquire))
        wait_while_equal(finished_, done);
}

}  // namespace vz::parallel
