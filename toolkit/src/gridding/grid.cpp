#include "gridding/grid.hpp"

#include <fmt/format.h>

#include <new>

namespace vz::gridding {

ToolsResult<Array2> grid(std::span<const Sample> samples, const Lattice& lattice, std::uint8_t method) {
    if (samples.empty()) return std::unexpected(ToolsError::empty_input("grid: no points to grid"));
    std::uint64_t nodes = 0;
    if (lattice.ncol > kMaxLatticeNodes || lattice.nrow > kMaxLatticeNodes ||
        __builtin_mul_overflow(lattice.ncol, lattice.nrow, &nodes) || nodes > kMaxLatticeNodes)
        return std::unexpected(ToolsError::invalid_argument(
            fmt::format("grid: lattice (ncol={}, nrow={}) is too large", lattice.ncol, lattice.nrow)));
    // A lattice under the node limit may still be more than the machine can
    // back; that is refused like an oversized one instead of ending the process.
    try {
        switch (method) {
            case kMethodNearest: return nearest(samples, lattice);
            case kMethodInverseDistance: return inverse_distance(samples, lattice);
            default: return min_curvature(samples, lattice);
        }
    } catch (const std::bad_alloc&) {
        return std::unexpected(ToolsError::invalid_argument(
            fmt::format("grid: lattice (ncol={}, nrow={}) is too large", lattice.ncol, lattice.nrow)));
    }
}

}  // namespace vz::gridding
