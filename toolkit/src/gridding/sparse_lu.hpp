#pragma once
/// `SparseLu`: LU factorisation with partial pivoting of a square sparse
/// matrix, for the minimum-curvature systems whose band storage would not fit
/// in memory and whose few, far-apart anchors leave them too nearly singular
/// for the multigrid cycle: its factors precondition GMRES there. The
/// unknowns are eliminated in an order the caller gives (a fill-reducing
/// one); the factors keep only the entries that elimination in that order
/// creates.
///
/// The sparse library behind it is seen by its source file alone.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>

#include "gridding/band_lu.hpp"

namespace vz::gridding {

class SparseLu {
public:
    /// Builds the n x n matrix from `entries` (contributions to the same
    /// (row, col) add up; every index below n), adds `diagonal_shift` to every
    /// diagonal element when it is not 0, and factors it with the unknowns
    /// eliminated in the order `order` (a permutation of 0 … n-1: order[p] is
    /// the unknown eliminated p-th, and the equation of the same index is its
    /// first choice of pivot row). Absent when the matrix is singular: the
    /// elimination finds no pivot for a column, or a pivot is not finite or
    /// not above 1e-10 times the largest |diagonal element| of the matrix (the
    /// test the band factorisation applies). Also absent when the factors
    /// cannot be allocated. n must be below 2^31.
    static std::optional<SparseLu> factor(std::span<const SparseEntry> entries, std::size_t n,
                                          double diagonal_shift, std::span<const std::uint32_t> order);

    /// Solves A x = rhs: `out` receives x. Both spans hold n values. Safe to
    /// call from several threads at once.
    void solve(std::span<const double> rhs, std::span<double> out) const;

    std::size_t n() const { return n_; }

    SparseLu(SparseLu&&) noexcept;
    SparseLu& operator=(SparseLu&&) noexcept;
    ~SparseLu();

private:
    struct Impl;
    SparseLu(std::unique_ptr<Impl> impl, std::size_t n);

    std::unique_ptr<Impl> impl_;
    std::size_t n_ = 0;
};

}  // namespace vz::gridding
