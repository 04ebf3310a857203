#pragma once
/// The core's entry to the toolkit gridding kernels: scattered (x, y, z)
/// samples onto a `GridGeometry` lattice, as a `Grid2` indexed [column, row].

#include <array>
#include <span>

#include "core/grid_geometry.hpp"
#include "core/gridding_method.hpp"
#include "foundation/grid2.hpp"
#include "foundation/result.hpp"

namespace vz::gridding {

/// Grids `samples` onto `geometry` with the kernel chosen by `method`
/// (nearest sample, inverse distance, minimum curvature). Nodes that receive
/// no value hold NaN. Errors: Tools (EmptyInput "grid: no points to grid")
/// when `samples` is empty.
Result<Grid2> grid(std::span<const std::array<double, 3>> samples, const GridGeometry& geometry,
                   GriddingMethod method);

}  // namespace vz::gridding
