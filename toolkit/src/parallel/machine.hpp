#pragma once
/// What the machine offers the kernels besides threads: its memory.

#include <cstdint>
#include <optional>

namespace vz::parallel {

/// The memory this process may use, in bytes: the machine's physical memory
/// as the operating system reports it, lowered to the memory limit of the
/// process's control group (a container's limit) and to its address-space
/// limit when those are lower; absent where none of them can be told.
std::optional<std::uint64_t> physical_memory_bytes();

/// A control group's memory limit file as text ("max" or a byte count) to
/// bytes; absent for "max", an unreadable text or zero.
std::optional<std::uint64_t> parse_memory_limit(const char* text);

}  // namespace vz::parallel
