#pragma once
/// The bilinear functions a + b i + c j + d i j of the lattice indices. Every
/// one of them satisfies every minimum-curvature equation and the
/// extrapolation at the edges exactly, so they are what the anchors of a
/// minimum-curvature system must pin down, and what the solver may take out
/// of the data before solving for the rest.

#include <cstdint>
#include <span>
#include <utility>

namespace vz::gridding {

/// True when the only bilinear function that vanishes at every node of
/// `nodes` (column, row) is zero, that is when the rows (1, i, j, i j) of the
/// nodes have rank 4. False for fewer than four distinct nodes, for nodes on
/// one straight line of any direction, on one column and one row together,
/// or on one hyperbola (i - p)(j - q) = k. Decided exactly, whatever the size
/// of the indices (below 2^31 each).
bool determine_bilinear(std::span<const std::pair<std::uint64_t, std::uint64_t>> nodes);

/// A bilinear function of the lattice indices, held about a centre so that
/// evaluating it far from the origin loses nothing to cancellation.
struct Bilinear {
    double i0 = 0.0, j0 = 0.0, scale = 1.0;
    double a = 0.0, b = 0.0, c = 0.0, d = 0.0;

    double at(double i, double j) const {
        const double u = (i - i0) / scale, v = (j - j0) / scale;
        return a + b * u + c * v + d * u * v;
    }
};

/// The least-squares bilinear function through values at nodes (column,
/// row), all of them finite. With `full` false, or when the fit is not
/// determined or not finite, the mean of the values (a constant function).
Bilinear fit_bilinear(std::span<const std::pair<std::uint64_t, std::uint64_t>> nodes, std::span<const double> values,
                      bool full);

}  // namespace vz::gridding
