#include "gridding/grid.hpp"

#include <fmt/format.h>

namespace vz::gridding {

ToolsResult<Array2> grid(std::span<const Sample> samples, const Lattice& lattice, std::uint8_t method) {
    if (samples.empty()) return std::unexpected(ToolsError::empty_input("grid: no points to grid"));
    std::uint64_t nodes = 0;
    if (__builtin_mul_overflow(lattice.ncol, lattice.nrow, &nodes) || nodes > kMaxLatticeNodes)
        return std::unexpected(ToolsError::invalid_argument(
            fmt::format("grid: lattice (ncol={}, nrow={}) is too large", lattice.ncol, lattice.nrow)));
    switch (method) {
        case kMethodNearest: return nearest(samples, lattice);
        case kMethodInverseDistance: return inverse_distance(samples, lattice);
        default: return min_curvature(samples, lattice);
    }
}

}  // namespace vz::gridding
