#pragma once
/// A small parallel-for for kernels whose items (lattice nodes, rows, levels)
/// are independent of one another.
///
/// Threads live only inside one call: `for_each_chunk` starts its threads,
/// works with them and joins every one of them before it returns, so the
/// library keeps no thread running between calls and none outlives the call
/// that started it. The calling thread takes part in the work.
///
/// The number of threads comes from the hardware (`std::thread::
/// hardware_concurrency`). The environment variable VORIDEZ_NUM_THREADS,
/// when it holds a positive decimal integer, overrides it (1 keeps every
/// kernel on the calling thread); any other content is ignored. The variable
/// is read at every call, so a program may change it between calls.
///
/// Results never depend on the thread count: every item is computed by the
/// same operations in the same order whichever thread runs it, and each item
/// writes only its own outputs.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <thread>
#include <type_traits>

namespace vz::parallel {

/// The environment variable that overrides the hardware thread count.
inline constexpr const char* kThreadsVariable = "VORIDEZ_NUM_THREADS";

/// Most threads one call uses, whatever the hardware or the variable says.
inline constexpr std::size_t kMaxThreads = 256;

/// Rough count of elementary operations below which a chunk of work is not
/// worth a thread of its own (starting and joining a thread costs some tens
/// of microseconds).
inline constexpr std::uint64_t kMinChunkWork = std::uint64_t{1} << 18;

/// The threads a kernel may use: VORIDEZ_NUM_THREADS when it holds a positive
/// decimal integer, else the hardware's concurrency; at least 1, at most
/// `kMaxThreads`.
std::size_t thread_count();

/// Items per chunk when each item costs about `work_per_item` elementary
/// operations: enough that a chunk carries `kMinChunkWork`, at least 1.
std::size_t chunk_items(std::uint64_t work_per_item);

namespace detail {
using ChunkFn = void (*)(void* body, std::size_t begin, std::size_t end);
void run_chunks(std::size_t count, std::size_t chunk, ChunkFn fn, void* body);
}  // namespace detail

/// Calls `body(begin, end)` for the consecutive chunks [0, chunk),
/// [chunk, 2 chunk), … of [0, count) (the last one shorter), each exactly
/// once. Chunks are handed out in ascending order to up to `thread_count()`
/// threads, the calling thread among them, each thread taking the next chunk
/// when it has finished its last; with one chunk or one thread no thread is
/// started. A body may therefore wait for chunks before its own to finish:
/// they have all been handed to threads that are running them.
///
/// Every thread is joined before the call returns. An exception thrown by a
/// body (an allocation failure) is caught in its thread, no further chunk is
/// handed out, and the first such exception is rethrown on the calling thread
/// after the join. A body that waits for earlier chunks must not throw.
template <class Body>
void for_each_chunk(std::size_t count, std::size_t chunk, Body&& body) {
    using B = std::remove_reference_t<Body>;
    auto call = [](void* b, std::size_t begin, std::size_t end) { (*static_cast<B*>(b))(begin, end); };
    detail::run_chunks(count, chunk, call, const_cast<void*>(static_cast<const void*>(std::addressof(body))));
}

/// A pause in a loop that waits for another thread: the processor's spin
/// hint where there is one, else a yield.
inline void cpu_relax() {
#if defined(__GNUC__) && defined(__x86_64__)
    __builtin_ia32_pause();
#else
    std::this_thread::yield();
#endif
}

}  // namespace vz::parallel
