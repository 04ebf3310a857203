#pragma once
/// Transfer of lattice values from one regular lattice onto the nodes of
/// another. Each target node is placed in the world by the target's
/// node-to-world transform and located in the source by the inverse of the
/// source's transform; origins, increments, rotations and flips of the two
/// lattices are independent.

#include <cstddef>
#include <span>
#include <vector>

#include "gridding/lattice.hpp"
#include "tools_error.hpp"

namespace vz::gridding {

/// Values of `src` (shape src_ncol x src_nrow, `[i * src_nrow + j]`, NaN for
/// an undefined node) resampled onto `dst`; the result has dst.ncol x
/// dst.nrow values in the same layout, NaN where nothing can be placed.
///
/// `nearest`: the value of the nearest source node (rounding half away from
/// zero); otherwise bilinear over the surrounding cell, NaN when the nearest
/// node is NaN, other non-finite corners left out and the remaining weights
/// renormalised. Fractional indices within 1e-9 of an integer snap onto it.
///
/// Errors, in this order: `InvalidArgument` when the values' shape is not
/// (src.ncol, src.nrow); `InvalidGeometry` for a source with no columns or
/// rows or a zero increment; `InvalidArgument` when the target has more
/// nodes than can be held.
ToolsResult<std::vector<double>> resample(std::span<const double> values, std::size_t src_ncol,
                                          std::size_t src_nrow, const Lattice& src, const Lattice& dst,
                                          bool nearest);

}  // namespace vz::gridding
