#pragma once
/// `MinCurvatureOperator`: the factored minimum-curvature system of one
/// lattice and one layout of sample positions.
///
/// A sample pins the node nearest to it (an anchor, valued by the mean z of
/// its samples); every other node is free and satisfies
///   16 z - 6.25 E + 1.5 D + 0.75 F = 0
/// with E, D, F the sums over the edge, diagonal and distance-2 axial
/// neighbours, where neighbours outside the lattice are linear extrapolations
/// along the axis that leaves it. The free nodes are numbered with the shorter
/// lattice dimension varying fastest, which keeps the band narrow.

#include <array>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <utility>
#include <vector>

#include "gridding/band_lu.hpp"
#include "gridding/grid.hpp"
#include "gridding/lattice.hpp"
#include "gridding/sparse_lu.hpp"
#include "tools_error.hpp"

namespace vz::gridding {

/// Band storage above this many bytes is not attempted: a quarter of the
/// machine's physical memory, or 1 GiB where that cannot be told. The band
/// factorisation of a 500 x 500 lattice needs up to about 4 GB (less the
/// more nodes the samples pin); an allocation the machine cannot back would
/// end the process. Beyond the budget the minimum-curvature driver solves
/// the same system iteratively, in memory of a few dozen values per node.
std::uint64_t band_budget_bytes();

/// What `MinCurvatureOperator::factor` does with a system whose band storage
/// exceeds its budget: refuse it, or solve it iteratively.
enum class BeyondBudget { Refuse, Iterate };

/// How an operator solves its system.
enum class SolvePath {
    /// The band factors of the system itself (or no free node at all).
    Band,
    /// GMRES on the system, preconditioned by the band factors of the system
    /// with its diagonal shifted: for a system whose elimination without
    /// pivoting meets a tiny pivot although its anchors pin it.
    RefinedBand,
    /// GMRES preconditioned by multigrid: for a system whose band storage
    /// exceeds the budget.
    Iterative,
};

/// The node (column, row) that a sample at (x, y) pins: the nearest node, by
/// rounding the fractional index with halves away from zero. Absent when an
/// increment is 0, any lattice field or coordinate is not finite, or the
/// rounded node lies outside the lattice.
std::optional<std::pair<std::uint64_t, std::uint64_t>> snap_to_node(const Lattice& lattice, double x, double y);

class MinCurvatureEquations;
class MinCurvatureMultigrid;

class MinCurvatureOperator {
public:
    /// Builds and factors the system for `positions` (x, y) on `lattice`.
    /// Errors: InvalidGeometry "MinCurvatureOperator::factor: lattice must be
    /// at least 2x2"; InvalidArgument "MinCurvatureOperator: conditioning
    /// system is singular (too few / collinear hard anchors to pin the
    /// surface)" for fewer than 4 anchors; InvalidArgument when the problem
    /// exceeds 32-bit node or sample indices, or the memory budget.
    ///
    /// The system is singular when its anchors do not determine the bilinear
    /// functions a + b i + c j + d i j, which satisfy every equation: fewer
    /// than 4 anchors, or anchors on one straight line, on one column and
    /// one row, or on one hyperbola of the lattice (`determine_bilinear`).
    /// With 4 or more such anchors the system solved, on every path, is the
    /// one with 1e-8 times its largest diagonal entry added to the diagonal;
    /// every other system is solved as it stands, on every path.
    ///
    /// The system is factored in band form when its band storage fits in
    /// `budget_bytes`; a band elimination that meets a tiny pivot in a system
    /// that is not singular is kept as the preconditioner of GMRES on the
    /// system itself (`SolvePath::RefinedBand`). Beyond the budget, `beyond`
    /// decides: Refuse fails with InvalidArgument; Iterate prepares GMRES
    /// preconditioned by multigrid (`SolvePath::Iterative`), which fails with
    /// InvalidArgument when even that would exceed `band_budget_bytes()`.
    /// Every path gives the same surface to within rounding and the
    /// conditioning of the system.
    static ToolsResult<MinCurvatureOperator> factor(const Lattice& lattice,
                                                    std::span<const std::array<double, 2>> positions,
                                                    std::uint64_t budget_bytes = band_budget_bytes(),
                                                    BeyondBudget beyond = BeyondBudget::Refuse);

    /// Solves for the z values of the samples the operator was built for, in
    /// the same order. Anchors take the mean z of their samples. Errors:
    /// InvalidArgument "MinCurvatureOperator::solve: expected {} z-values,
    /// got {}". Safe to call from several threads at once.
    ///
    /// A band solution whose residual (summed as in twice the precision) is
    /// not within 1e-11 of the size of the right-hand sides is refined by
    /// GMRES on the band factors; ordinary band solutions are returned as the
    /// elimination gives them. The iterative solves first take out the
    /// least-squares bilinear function of the anchor values (their mean, for a
    /// shifted system), which every equation satisfies, and solve for the
    /// rest until rounding stops the residual: preconditioned by the band
    /// factors, by the multigrid cycle, and, where that leaves the residual
    /// above 1e-12 of the right-hand sides and the memory budget holds them,
    /// by the sparse factors of the system (Eigen's LU in nested-dissection
    /// order).
    ToolsResult<Array2> solve(std::span<const double> z) const;

    const Lattice& lattice() const { return lattice_; }
    std::uint64_t ncol() const { return lattice_.ncol; }
    std::uint64_t nrow() const { return lattice_.nrow; }
    std::uint64_t sample_count() const { return sample_count_; }
    /// Anchor nodes (column, row) in the order a sample first pinned them.
    const std::vector<std::pair<std::uint64_t, std::uint64_t>>& anchors() const { return anchors_; }
    /// Free nodes (column, row) in free-index order.
    const std::vector<std::pair<std::uint64_t, std::uint64_t>>& free_nodes() const { return free_; }
    /// The factored band matrix (of the shifted system on the refined path);
    /// absent when every node is an anchor or on the iterative path.
    const std::optional<BandLu>& band() const { return band_; }
    SolvePath path() const { return path_; }
    /// Whether the system solved has its diagonal shifted (anchors singular
    /// by geometry).
    bool shifted() const { return shift_ != 0.0; }

    MinCurvatureOperator(MinCurvatureOperator&&) noexcept;
    MinCurvatureOperator& operator=(MinCurvatureOperator&&) noexcept;
    ~MinCurvatureOperator();

private:
    MinCurvatureOperator();

    /// The iterative solve for the free nodes of `out` (anchors filled in);
    /// `from_band`: `out` holds the band's solution, kept as it is when its
    /// residual is small, else the start of the refinement.
    ToolsResult<Array2> solve_iteratively(std::vector<double> anchor_value, Array2 out, bool from_band) const;
    /// The sparse factors of the system (with the diagonal shifted where it
    /// is or where the unshifted elimination meets a tiny pivot); absent when
    /// they would exceed `band_budget_bytes()` or cannot be made.
    std::optional<SparseLu> sparse_factors() const;

    Lattice lattice_{};
    std::uint64_t sample_count_ = 0;
    std::vector<std::pair<std::uint64_t, std::uint64_t>> anchors_;
    // Sample indices per anchor, flattened: anchor a owns
    // anchor_samples_[anchor_start_[a] .. anchor_start_[a + 1]).
    std::vector<std::uint32_t> anchor_start_;
    std::vector<std::uint32_t> anchor_samples_;
    std::vector<std::int32_t> node_anchor_;  // i + j * ncol -> anchor index or -1
    std::vector<std::int32_t> node_free_;    // i + j * ncol -> free index or -1
    std::vector<std::pair<std::uint64_t, std::uint64_t>> free_;
    // Anchor terms of each free equation, flattened like the anchor samples;
    // one term per contribution, in the order the stencil produced them
    // (band path only).
    std::vector<std::uint64_t> coupling_start_;
    std::vector<std::pair<std::uint32_t, double>> couplings_;
    std::optional<BandLu> band_;
    SolvePath path_ = SolvePath::Band;
    double shift_ = 0.0;
    // The iterative paths: the equations applied from the stencil, and the
    // multigrid preconditioner with the equations it is built on (iterative
    // path only).
    std::unique_ptr<MinCurvatureEquations> equations_;
    std::unique_ptr<MinCurvatureEquations> preconditioned_;  // the shifted equations the multigrid is built on
    std::unique_ptr<MinCurvatureMultigrid> multigrid_;
    std::size_t restart_ = 0;
};

/// `min_curvature` with the band factorisation held to `band_budget` bytes
/// instead of `band_budget_bytes()`; beyond it the system is solved
/// iteratively.
Array2 min_curvature(std::span<const Sample> samples, const Lattice& lattice, std::uint64_t band_budget);

/// The relaxation `min_curvature` falls back on when fewer than 4 nodes are
/// pinned, with the sweeps capped at `max_sweeps` (20000 there): the
/// inverse-distance surface over the samples with each pinned node set to
/// the mean of its samples, then sweeps of successive over-relaxation
/// (factor 1.5) over the free nodes, rows outer and columns inner, until the
/// residuals of the equations a sweep meets (each update moves its node by
/// 1.5 / 16 of the residual there) are all at most 1e-9 of the largest |z|
/// of the pinned nodes. A lattice with fewer than 2 columns or rows is
/// returned unrelaxed. The sweeps run on the toolkit's threads; the result
/// does not depend on their number.
Array2 min_curvature_relaxation(std::span<const Sample> samples, const Lattice& lattice, int max_sweeps);

}  // namespace vz::gridding
