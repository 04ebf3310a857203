#pragma once
/// Helpers shared by the surface arithmetic and analysis and by the other
/// surface kinds: collecting lattice values in lattice order and the one-pass
/// dip kernel. The operations themselves are members of `Surface`
/// (core/surface.hpp).
///
/// Lattice order: column index outer, row index inner (i = 0, j = 0 … nrow-1,
/// then i = 1, …), which is the storage order of `Grid2`.

#include <utility>
#include <vector>

#include "core/grid_geometry.hpp"
#include "foundation/grid2.hpp"

namespace vz::surface_ops {

/// Every node value in lattice order, NaN included.
std::vector<double> lane_values(const Grid2& lane);

/// The non-NaN node values in lattice order (infinities kept).
std::vector<double> non_nan_values(const Grid2& lane);

/// Dip angle (degrees) and dip azimuth (degrees clockwise from +y towards +x,
/// direction of steepest descent, in [0, 360)) of `values` on `geom`, both of
/// shape (ncol, nrow). Central differences where both lattice neighbours are
/// defined, one-sided where only one is; a node without a defined neighbour
/// along either lattice axis, an undefined node, a zero or non-finite
/// increment give NaN in both; a flat node has dip 0 and azimuth NaN.
/// Rotation and yflip of the lattice are honoured.
std::pair<Grid2, Grid2> dip_grids(const Grid2& values, const GridGeometry& geom);

}  // namespace vz::surface_ops
