#pragma once
/// A team of threads kept for the length of one kernel call, for kernels that
/// hand out many short rounds of work in a row (an iterative solve runs
/// thousands of sweeps and sums, each too short to pay for starting threads
/// of its own).
///
/// The team starts its threads when it is made and joins every one of them
/// when it is destroyed, so, as with `for_each_chunk`, no thread outlives the
/// call that made the team. Its size follows `thread_count()` (and so
/// VORIDEZ_NUM_THREADS); a thread the system refuses to start is simply
/// missing. The calling thread takes part in every round.
///
/// Results never depend on the team's size as long as each chunk writes only
/// its own outputs: chunks are fixed by the count and the chunk size alone.

#include <array>
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <thread>
#include <type_traits>

#include "parallel/parallel_for.hpp"

namespace vz::parallel {

class Team {
public:
    /// Starts up to `threads - 1` threads (at most `kMaxThreads - 1`); 0 means
    /// `thread_count()`.
    explicit Team(std::size_t threads = 0);
    ~Team();
    Team(const Team&) = delete;
    Team& operator=(const Team&) = delete;

    /// Threads taking part in a round, the calling one included.
    std::size_t size() const { return started_ + 1; }

    /// Calls `body(begin, end)` for the consecutive chunks [0, chunk),
    /// [chunk, 2 chunk), … of [0, count), each exactly once, and returns when
    /// all have run. With one chunk, or a team of one, the calling thread runs
    /// them all. Bodies must not throw, and a body must not start a round of
    /// the same team.
    template <class Body>
    void for_each_chunk(std::size_t count, std::size_t chunk, Body&& body) {
        using B = std::remove_reference_t<Body>;
        auto call = [](void* b, std::size_t begin, std::size_t end) { (*static_cast<B*>(b))(begin, end); };
        run(count, chunk, call, const_cast<void*>(static_cast<const void*>(std::addressof(body))));
    }

private:
    using ChunkFn = void (*)(void* body, std::size_t begin, std::size_t end);
    void run(std::size_t count, std::size_t chunk, ChunkFn fn, void* body);
    void work_round();
    void worker();

    std::array<std::thread, kMaxThreads> pool_;
    std::size_t started_ = 0;

    // The round in progress, published by raising `round_`, which the
    // threads wait on. A thread takes part only after entering the round
    // through `state_` (the round's number above bit 32, bit 31 once the
    // round is closed, below it the threads inside), so that the calling
    // thread waits for the chunks and for the threads inside, never for a
    // thread the system has not woken yet; the fields are not touched again
    // before the round is closed and empty.
    ChunkFn fn_ = nullptr;
    void* body_ = nullptr;
    std::size_t count_ = 0, chunk_ = 1, chunks_ = 0;
    alignas(64) std::atomic<std::size_t> next_{0};
    alignas(64) std::atomic<std::size_t> finished_{0};  // chunks done
    alignas(64) std::atomic<std::uint64_t> state_{0};
    alignas(64) std::atomic<std::uint64_t> round_{0};
    std::atomic<bool> stop_{false};
};

}  // namespace vz::parallel
