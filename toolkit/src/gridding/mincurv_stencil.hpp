#pragma once
/// The minimum-curvature equation of one free node, as the direct and the
/// iterative solves both build it: 13 weights over the node's neighbours,
/// neighbours outside the lattice replaced by linear extrapolation along the
/// axis that leaves it (the column brought inside before the row).

#include <array>
#include <cstdint>

namespace vz::gridding::mincurv {

/// One term of a free node's equation: (column offset, row offset, weight).
struct StencilTerm {
    int dc, dr;
    double w;
};

/// The 13 terms in the order the equations are assembled.
inline constexpr StencilTerm kStencil[13] = {
    {0, 0, 16.0},   {0, 1, -6.25}, {0, -1, -6.25}, {1, 0, -6.25}, {-1, 0, -6.25}, {1, 1, 1.5},  {-1, 1, 1.5},
    {1, -1, 1.5},   {-1, -1, 1.5}, {0, 2, 0.75},   {0, -2, 0.75}, {2, 0, 0.75},   {-2, 0, 0.75},
};

/// Adds weight w at lattice position (k, l), replacing a position outside the
/// lattice by its linear extrapolation z(k) = 2 z(k+1) - z(k+2) (and the
/// mirror rule past the far side), the column brought inside before the row.
/// `sink(k, l, w)` receives every resulting contribution at a node inside.
template <class Sink>
void add_term(std::int64_t k, std::int64_t l, double w, std::int64_t ncol, std::int64_t nrow, Sink& sink) {
    while (k < 0) {
        add_term(k + 1, l, 2.0 * w, ncol, nrow, sink);
        k += 2;
        w = -w;
    }
    while (k >= ncol) {
        add_term(k - 1, l, 2.0 * w, ncol, nrow, sink);
        k -= 2;
        w = -w;
    }
    while (l < 0) {
        add_term(k, l + 1, 2.0 * w, ncol, nrow, sink);
        l += 2;
        w = -w;
    }
    while (l >= nrow) {
        add_term(k, l - 1, 2.0 * w, ncol, nrow, sink);
        l -= 2;
        w = -w;
    }
    sink(k, l, w);
}

/// The equation of node (i, j) of an ncol x nrow lattice (both at least 2)
/// gathered on the 5 x 5 nodes around it: entry (dc + 2) + 5 (dr + 2) holds
/// the total weight on node (i + dc, j + dr). Extrapolation folds every
/// weight back inside that box, onto nodes of the lattice.
std::array<double, 25> folded_equation(std::int64_t i, std::int64_t j, std::int64_t ncol, std::int64_t nrow);

}  // namespace vz::gridding::mincurv
