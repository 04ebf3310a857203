#pragma once
// The minimum-curvature equation written out plainly, as the tests check
// the kernels against it: neighbour sums with linear extrapolation past the
// edges, and the residual at one node.

#include <cstdint>

#include "gridding/grid.hpp"

namespace vz::testing {

/// Value at (k, l) of `a`, extrapolating linearly past the edges, the column
/// brought inside before the row.
inline double ghost_at(const gridding::Array2& a, std::int64_t k, std::int64_t l) {
    const auto nc = static_cast<std::int64_t>(a.ncol), nr = static_cast<std::int64_t>(a.nrow);
    if (k < 0) return 2 * ghost_at(a, k + 1, l) - ghost_at(a, k + 2, l);
    if (k >= nc) return 2 * ghost_at(a, k - 1, l) - ghost_at(a, k - 2, l);
    if (l < 0) return 2 * ghost_at(a, k, l + 1) - ghost_at(a, k, l + 2);
    if (l >= nr) return 2 * ghost_at(a, k, l - 1) - ghost_at(a, k, l - 2);
    return a(static_cast<std::uint64_t>(k), static_cast<std::uint64_t>(l));
}

/// The edge (e), diagonal (d) and distance-2 (f) neighbour sums of node (i, j).
struct StencilSums {
    double e, d, f;
};

inline StencilSums stencil_sums(const gridding::Array2& a, std::int64_t i, std::int64_t j) {
    auto at = [&](std::int64_t k, std::int64_t l) { return ghost_at(a, k, l); };
    return {at(i, j + 1) + at(i, j - 1) + at(i + 1, j) + at(i - 1, j),
            at(i + 1, j + 1) + at(i - 1, j + 1) + at(i + 1, j - 1) + at(i - 1, j - 1),
            at(i, j + 2) + at(i, j - 2) + at(i + 2, j) + at(i - 2, j)};
}

/// Residual of the minimum-curvature equation at node (i, j).
inline double mincurv_residual(const gridding::Array2& a, std::int64_t i, std::int64_t j) {
    const StencilSums s = stencil_sums(a, i, j);
    return 16 * ghost_at(a, i, j) - 6.25 * s.e + 1.5 * s.d + 0.75 * s.f;
}

}  // namespace vz::testing
