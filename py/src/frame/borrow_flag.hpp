#pragma once
/// The access flag every mutable binding object carries: free, shared by n
/// readers, or held exclusively by one writer. Taking access never waits: a
/// conflicting request fails at once, so a call that released the interpreter
/// lock while holding access makes other threads fail instead of block.
///
/// Free of Python on purpose: the flag is changed with atomic
/// read-modify-write operations and may be released without the interpreter
/// lock.

#include <atomic>
#include <cstdint>
#include <optional>

namespace vz::py {

/// Why an access request failed.
enum class BorrowError {
    AlreadyBorrowed,         ///< exclusive access wanted while the object is in use
    AlreadyMutablyBorrowed,  ///< shared access wanted while the object is held exclusively
};

/// The RuntimeError text of a failed access request.
inline const char* borrow_error_text(BorrowError e) {
    return e == BorrowError::AlreadyBorrowed ? "Already borrowed" : "Already mutably borrowed";
}

/// Three-state access counter: 0 free, n > 0 readers, -1 one writer.
class BorrowFlag {
public:
    BorrowFlag() = default;
    BorrowFlag(const BorrowFlag&) = delete;
    BorrowFlag& operator=(const BorrowFlag&) = delete;

    /// Takes shared access; fails while the object is held exclusively.
    std::optional<BorrowError> try_shared() noexcept {
        std::int64_t cur = state_.load(std::memory_order_relaxed);
        do {
            if (cur == kExclusive) return BorrowError::AlreadyMutablyBorrowed;
        } while (!state_.compare_exchange_weak(cur, cur + 1, std::memory_order_acquire, std::memory_order_relaxed));
        return std::nullopt;
    }

    /// Takes exclusive access; fails while any access is held.
    std::optional<BorrowError> try_exclusive() noexcept {
        std::int64_t expected = 0;
        if (state_.compare_exchange_strong(expected, kExclusive, std::memory_order_acquire,
                                           std::memory_order_relaxed))
            return std::nullopt;
        return BorrowError::AlreadyBorrowed;
    }

    /// Gives back one shared access taken by `try_shared`.
    void release_shared() noexcept { state_.fetch_sub(1, std::memory_order_release); }
    /// Gives back the exclusive access taken by `try_exclusive`.
    void release_exclusive() noexcept { state_.store(0, std::memory_order_release); }

    /// Number of readers (0 when free or held exclusively).
    std::int64_t readers() const noexcept {
        const std::int64_t s = state_.load(std::memory_order_acquire);
        return s > 0 ? s : 0;
    }
    bool is_exclusive() const noexcept { return state_.load(std::memory_order_acquire) == kExclusive; }
    bool is_free() const noexcept { return state_.load(std::memory_order_acquire) == 0; }

private:
    static constexpr std::int64_t kExclusive = -1;
    std::atomic<std::int64_t> state_{0};
};

}  // namespace vz::py
