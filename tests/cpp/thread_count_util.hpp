#pragma once
// Forcing the kernels' thread count from a test, through the environment
// variable the library reads at every call.

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "parallel/parallel_for.hpp"

namespace vz::testing {

/// Sets VORIDEZ_NUM_THREADS (or removes it, for an absent value) while the
/// object lives, restoring the previous state afterwards.
class ScopedThreadCount {
public:
    explicit ScopedThreadCount(std::optional<std::string> value) {
        if (const char* old = std::getenv(parallel::kThreadsVariable)) previous_ = old;
        if (value)
            ::setenv(parallel::kThreadsVariable, value->c_str(), 1);
        else
            ::unsetenv(parallel::kThreadsVariable);
    }
    explicit ScopedThreadCount(std::size_t threads) : ScopedThreadCount(std::to_string(threads)) {}
    ~ScopedThreadCount() {
        if (previous_)
            ::setenv(parallel::kThreadsVariable, previous_->c_str(), 1);
        else
            ::unsetenv(parallel::kThreadsVariable);
    }
    ScopedThreadCount(const ScopedThreadCount&) = delete;
    ScopedThreadCount& operator=(const ScopedThreadCount&) = delete;

private:
    std::optional<std::string> previous_;
};

/// Thread counts a threaded kernel is run with against its one-thread result:
/// a few, more than the chunks of small inputs, and a count that does not
/// divide typical sizes.
inline constexpr std::size_t kThreadCounts[] = {2, 3, 8, 33};

/// The bit patterns of doubles, so that NaN compares equal to the same NaN
/// and -0 differs from +0.
inline std::vector<std::uint64_t> bits(std::span<const double> values) {
    std::vector<std::uint64_t> out(values.size());
    if (!values.empty()) std::memcpy(out.data(), values.data(), values.size() * sizeof(double));
    return out;
}

}  // namespace vz::testing
