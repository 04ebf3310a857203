#pragma once
/// `BandLu`: LU factorisation without pivoting of a square band matrix,
/// as used by the minimum-curvature operator.
///
/// A matrix of n rows with half bandwidth h is stored row by row in
/// n * (2h + 1) doubles: element (r, c), |r - c| <= h, lives at
/// r * (2h + 1) + (c - r + h). After factorisation the same storage holds the
/// unit lower triangle L below the diagonal and U on and above it.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>

namespace vz::parallel {
class Team;
}

namespace vz::gridding {

/// One contribution to a sparse matrix entry; contributions to the same
/// (row, col) add up.
struct SparseEntry {
    std::uint32_t row;
    std::uint32_t col;
    double value;
};

/// Number of doubles the band storage of an n-row matrix with half bandwidth
/// h needs, or absent when the count does not fit in 64 bits.
std::optional<std::uint64_t> band_storage_len(std::uint64_t n, std::uint64_t h);

class BandLu {
public:
    /// Builds the n x n band matrix of half bandwidth `h` from `entries`
    /// (each must satisfy |row - col| <= h and row, col < n), adds
    /// `diagonal_shift` to every diagonal element when it is not 0, and
    /// factors it. Absent when the matrix is singular: a pivot that is not
    /// finite or not above 1e-10 times the largest |diagonal| (taken before
    /// elimination, NaN ignored), or a multiplier that is not finite. Also
    /// absent when the storage cannot be allocated.
    static std::optional<BandLu> assemble_and_factor(std::span<const SparseEntry> entries, std::size_t n,
                                                     std::size_t h, double diagonal_shift);

    /// Solves A x = rhs with the factored matrix: `out` receives x. Both spans
    /// hold n values; `out` may alias nothing else.
    void solve(std::span<const double> rhs, std::span<double> out) const;

    /// The same solve on the team's threads, rows taken in blocks whose
    /// sums over the columns before (after) the block run in parallel: the
    /// result does not depend on the team's size, though its rounding
    /// differs from `solve`'s.
    void solve(parallel::Team& team, std::span<const double> rhs, std::span<double> out) const;

    std::size_t n() const { return n_; }
    std::size_t half_bandwidth() const { return h_; }
    bool factored() const { return factored_; }

private:
    BandLu(std::unique_ptr<double[]> a, std::size_t n, std::size_t h) : a_(std::move(a)), n_(n), h_(h) {}
    double& at(std::size_t r, std::size_t c) { return a_[r * (2 * h_ + 1) + (c + h_ - r)]; }
    double at(std::size_t r, std::size_t c) const { return a_[r * (2 * h_ + 1) + (c + h_ - r)]; }
    bool factor();

    std::unique_ptr<double[]> a_;
    std::size_t n_ = 0;
    std::size_t h_ = 0;
    bool factored_ = false;
};

}  // namespace vz::gridding
