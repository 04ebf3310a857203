#include "parallel/machine.hpp"

#if defined(_WIN32)
#include <windows.h>
#else
#include <sys/resource.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#endif

#include <algorithm>

namespace vz::parallel {

std::optional<std::uint64_t> parse_memory_limit(const char* text) {
    if (!text || *text < '0' || *text > '9') return std::nullopt;
    char* end = nullptr;
    const unsigned long long v = std::strtoull(text, &end, 10);
    if (end == text || v == 0) return std::nullopt;  // "max", garbage or nothing
    while (*end == ' ' || *end == '\n') ++end;
    if (*end != '\0') return std::nullopt;
    return static_cast<std::uint64_t>(v);
}

#if !defined(_WIN32)
namespace {

std::optional<std::uint64_t> limit_from_file(const char* path) {
    std::FILE* f = std::fopen(path, "r");
    if (!f) return std::nullopt;
    char buf[64] = {};
    const std::size_t n = std::fread(buf, 1, sizeof buf - 1, f);
    std::fclose(f);
    buf[n] = '\0';
    return parse_memory_limit(buf);
}

std::optional<std::uint64_t> lower(std::optional<std::uint64_t> a, std::optional<std::uint64_t> b) {
    if (!a) return b;
    if (!b) return a;
    return std::min(*a, *b);
}

}  // namespace
#endif

std::optional<std::uint64_t> physical_memory_bytes() {
#if defined(_WIN32)
    MEMORYSTATUSEX status{};
    status.dwLength = sizeof(status);
    if (!GlobalMemoryStatusEx(&status) || status.ullTotalPhys == 0) return std::nullopt;
    return static_cast<std::uint64_t>(status.ullTotalPhys);
#else
    const long pages = sysconf(_SC_PHYS_PAGES);
    const long page_size = sysconf(_SC_PAGESIZE);
    std::optional<std::uint64_t> bytes;
    std::uint64_t total = 0;
    if (pages > 0 && page_size > 0 &&
        !__builtin_mul_overflow(static_cast<std::uint64_t>(pages), static_cast<std::uint64_t>(page_size), &total))
        bytes = total;
    // A container's limit (control groups v2, then v1; a v1 group without a
    // limit reports a huge number, which the minimum ignores).
    bytes = lower(bytes, limit_from_file("/sys/fs/cgroup/memory.max"));
    bytes = lower(bytes, limit_from_file("/sys/fs/cgroup/memory/memory.limit_in_bytes"));
    rlimit as{};
    if (getrlimit(RLIMIT_AS, &as) == 0 && as.rlim_cur != RLIM_INFINITY)
        bytes = lower(bytes, static_cast<std::uint64_t>(as.rlim_cur));
    return bytes;
#endif
}

}  // namespace vz::parallel
