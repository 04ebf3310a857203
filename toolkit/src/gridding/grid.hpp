#pragma once
/// Gridding of scattered samples onto a regular lattice: one entry point that
/// dispatches on the method, and the three kernels behind it (nearest sample,
/// inverse-distance weighting, minimum curvature).
///
/// Every kernel is a pure function: it keeps no state between calls, allocates
/// its own output and changes neither the samples nor the lattice. Results are
/// ncol x nrow arrays indexed [column i, row j] with NaN for a node that
/// received no value.

#include <array>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <limits>
#include <span>
#include <vector>

#include "gridding/lattice.hpp"
#include "tools_error.hpp"

namespace vz::gridding {

/// One scattered sample (x, y, z) in world units.
using Sample = std::array<double, 3>;

/// An ncol x nrow array of doubles stored column-outer, row-inner
/// (`values[i * nrow + j]`).
struct Array2 {
    std::uint64_t ncol = 0;
    std::uint64_t nrow = 0;
    std::vector<double> values;

    /// An array of the given shape holding `fill` everywhere.
    static Array2 filled(std::uint64_t ncol, std::uint64_t nrow, double fill) {
        return {ncol, nrow, std::vector<double>(static_cast<std::size_t>(ncol * nrow), fill)};
    }
    double& operator()(std::uint64_t i, std::uint64_t j) { return values[i * nrow + j]; }
    double operator()(std::uint64_t i, std::uint64_t j) const { return values[i * nrow + j]; }
};

/// Method codes accepted by `grid`: 0 nearest, 1 inverse distance, any other
/// value minimum curvature.
inline constexpr std::uint8_t kMethodNearest = 0;
inline constexpr std::uint8_t kMethodInverseDistance = 1;
inline constexpr std::uint8_t kMethodMinimumCurvature = 2;

/// Largest node count, and largest count along either axis, that `grid`
/// accepts (2^37 doubles, 1 TiB of output); larger lattices, or ones whose
/// ncol * nrow overflows, cannot be held.
inline constexpr std::uint64_t kMaxLatticeNodes = std::uint64_t{1} << 37;

/// Grids `samples` onto `lattice` with the kernel selected by `method`.
/// Errors: EmptyInput "grid: no points to grid" when `samples` is empty
/// (checked before dispatch, for every method); InvalidArgument
/// "grid: lattice (ncol={}, nrow={}) is too large" beyond
/// `kMaxLatticeNodes` or when its arrays cannot be allocated. The kernel's
/// result is returned unchanged.
ToolsResult<Array2> grid(std::span<const Sample> samples, const Lattice& lattice, std::uint8_t method);

/// Every node takes the z of the planar-nearest sample, however far away.
/// Among samples at the same shortest distance the one first in input order
/// wins. Samples with a non-finite x or y take no part; a node whose world
/// position is not finite, or a call without usable samples, gives NaN.
/// Never fails.
Array2 nearest(std::span<const Sample> samples, const Lattice& lattice);

/// Inverse-square-distance weighting over every sample (no search radius).
/// A node that coincides exactly with a sample takes that sample's z (the
/// first such sample in input order). Samples with a non-finite x, y or z are
/// left out, so one bad sample cannot spoil the grid. No usable samples: all
/// NaN. Never fails.
Array2 inverse_distance(std::span<const Sample> samples, const Lattice& lattice);

/// The minimum-curvature surface through the samples' nearest nodes: a direct
/// solve (a banded LU, refined by GMRES where rounding lost its solution),
/// the same system solved by GMRES with multigrid where the band would not
/// fit in memory, or successive over-relaxation from the inverse-distance
/// surface when fewer than 4 nodes are pinned, the lattice is too small, or
/// the tables cannot be allocated.
/// Samples with a non-finite x, y or z are left out. Never fails.
Array2 min_curvature(std::span<const Sample> samples, const Lattice& lattice);

/// True when x, y and z of the sample are all finite.
inline bool finite_sample(const Sample& s) {
    return std::isfinite(s[0]) && std::isfinite(s[1]) && std::isfinite(s[2]);
}

}  // namespace vz::gridding
