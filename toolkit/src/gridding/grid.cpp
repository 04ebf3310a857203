#include "gridding/grid.hpp"

namespace vz::gridding {

ToolsResult<Array2> grid(std::span<const Sample> samples, const Lattice& lattice, std::uint8_t method) {
    if (samples.empty()) return std::unexpected(ToolsError::empty_input("grid: no points to grid"));
    switch (method) {
        case kMethodNearest: return nearest(samples, lattice);
        case kMethodInverseDistance: return inverse_distance(samples, lattice);
        default: return min_curvature(samples, lattice);
    }
}

}  // namespace vz::gridding
