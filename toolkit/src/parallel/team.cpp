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

namespace {

constexpr std::uint64_t kClosed = std::uint64_t{1} << 31;
constexpr std::uint64_t kInside = kClosed - 1;

}  // namespace

void Team::work_round() {
    for (;;) {
        const std::size_t c = next_.fetch_add(1, std::memory_order_relaxed);
        if (c >= chunks_) return;
        const std::size_t begin = c * chunk_;
        fn_(body_, begin, begin + std::min(chunk_, count_ - begin));
        if (finished_.fetch_add(1, std::memory_order_acq_rel) + 1 == chunks_) finished_.notify_all();
    }
}

void Team::worker() {
    std::uint64_t seen = 0;
    for (;;) {
        wait_while_equal(round_, seen);
        seen = round_.load(std::memory_order_acquire);
        if (stop_.load(std::memory_order_acquire)) return;
        // Enter the round unless it is over already (or a later one began).
        std::uint64_t s = state_.load(std::memory_order_acquire);
        bool inside = false;
        while ((s >> 32) == (seen & 0xffffffffu) && !(s & kClosed)) {
            if (state_.compare_exchange_weak(s, s + 1, std::memory_order_acq_rel, std::memory_order_acquire)) {
                inside = true;
                break;
            }
        }
        if (!inside) continue;
        work_round();
        if (((state_.fetch_sub(1, std::memory_order_acq_rel) - 1) & kInside) == 0) state_.notify_all();
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
    const std::uint64_t round = round_.load(std::memory_order_relaxed) + 1;
    state_.store((round & 0xffffffffu) << 32, std::memory_order_release);
    round_.store(round, std::memory_order_release);
    round_.notify_all();
    work_round();
    for (std::size_t done = finished_.load(std::memory_order_acquire); done < chunks;
         done = finished_.load(std::memory_order_acquire))
        wait_while_equal(finished_, done);
    // Close the round and let the threads inside leave it.
    for (std::uint64_t s = state_.fetch_or(kClosed, std::memory_order_acq_rel) | kClosed; (s & kInside) != 0;
         s = state_.load(std::memory_order_acquire))
        wait_while_equal(state_, s);
}

}  // namespace vz::parallel
