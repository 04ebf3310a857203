#pragma once
// Runs part of a test in a forked child: with limits the test process must
// not take on itself, such as an address space that may grow only by a given
// budget, so an input that describes more than the budget shows what the
// code does when an allocation fails: return an error or a result, never let
// an exception escape (which would end a Python process).
//
// Address-space limits do not mix with AddressSanitizer, which reserves
// terabytes of shadow memory up front: sanitizer builds skip these tests.

#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstddef>
#include <cstdio>
#include <exception>
#include <string>
#include <utility>

namespace vz::testing {

#if defined(__SANITIZE_ADDRESS__)
inline constexpr bool kAddressLimitWorks = false;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
inline constexpr bool kAddressLimitWorks = false;
#else
inline constexpr bool kAddressLimitWorks = true;
#endif
#else
inline constexpr bool kAddressLimitWorks = true;
#endif

#define VZ_SKIP_WITHOUT_ADDRESS_LIMIT()                 \
    if (!::vz::testing::kAddressLimitWorks) GTEST_SKIP() \
        << "address-space limits do not work under the address sanitizer"

/// Bytes of address space the process holds now.
inline std::size_t address_space_in_use() {
    std::size_t pages = 0;
    if (std::FILE* f = std::fopen("/proc/self/statm", "r")) {
        if (std::fscanf(f, "%zu", &pages) != 1) pages = 0;
        std::fclose(f);
    }
    return pages * static_cast<std::size_t>(::sysconf(_SC_PAGESIZE));
}

/// Runs `body` (returning "" when its checks pass, else what went wrong) in a
/// forked child after `setup` (which returns "" or why it failed). Returns
/// the child's report: "" when the checks passed, the text of `setup` or
/// `body`, "escaped exception: …" when an exception left the body, or how
/// the child ended abnormally.
template <class Setup, class Body>
std::string run_in_child(Setup&& setup, Body&& body) {
    int fds[2];
    if (::pipe(fds) != 0) return "pipe failed";
    std::fflush(nullptr);
    const pid_t pid = ::fork();
    if (pid < 0) return "fork failed";
    if (pid == 0) {
        ::close(fds[0]);
        std::string report = setup();
        if (report.empty()) {
            try {
                report = body();
            } catch (const std::exception& e) {
                report = std::string("escaped exception: ") + e.what();
            } catch (...) {
                report = "escaped exception";
            }
        }
        const char* p = report.data();
        std::size_t left = report.size();
        while (left > 0) {
            const ssize_t k = ::write(fds[1], p, left);
            if (k <= 0) break;
            p += k;
            left -= static_cast<std::size_t>(k);
        }
        ::_exit(0);
    }
    ::close(fds[1]);
    std::string report;
    char buf[4096];
    ssize_t k;
    while ((k = ::read(fds[0], buf, sizeof buf)) > 0) report.append(buf, static_cast<std::size_t>(k));
    ::close(fds[0]);
    int status = 0;
    ::waitpid(pid, &status, 0);
    if (WIFSIGNALED(status)) return report + "child ended by signal " + std::to_string(WTERMSIG(status));
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) return report + "child failed";
    return report;
}

/// `run_in_child` with the child's address space allowed to grow by at most
/// `budget` bytes beyond what it holds at the fork.
template <class Body>
std::string run_with_memory_budget(std::size_t budget, Body&& body) {
    return run_in_child(
        [budget]() -> std::string {
            const rlim_t limit = static_cast<rlim_t>(address_space_in_use() + budget);
            const rlimit rl{limit, limit};
            return ::setrlimit(RLIMIT_AS, &rl) == 0 ? "" : "setrlimit failed";
        },
        std::forward<Body>(body));
}

}  // namespace vz::testing
