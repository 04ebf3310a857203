#pragma once
/// What the machine offers the kernels besides threads: its memory.

#include <cstdint>
#include <optional>

namespace vz::parallel {

/// The machine's physical memory in bytes, as the operating system reports
/// it; absent where it cannot be told.
std::optional<std::uint64_t> physical_memory_bytes();

}  // namespace vz::parallel
