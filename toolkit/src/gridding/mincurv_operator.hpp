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
/// end the process. Beyond the budget the minimum-curvature driver factors
/// the same system in sparse form, whose factors are held to the same budget.
std::uint64_t band_budget_bytes();

/// What `MinCurvatureOperator::factor` does with a system whose band storage
/// exceeds its budget: refuse it, or factor it in sparse form.
enum class BeyondBudget { Refuse, Sparse };

/// The node (column, row) that a sample at (x, y) pins: the nearest node, by
/// rounding the fractional index with halves away from zero. Absent when an
/// increment is 0, any lattice field or coordinate is not finite, or the
/// rounded node lies outside the lattice.
std::optional<std::pair<std::uint64_t, std::uint64_t>> snap_to_node(const Lattice& lattice, double x, double y);

class MinCurvatureOperator {
public:
    /// Builds and factors the system for `positions` (x, y) on `lattice`.
    /// Errors: InvalidGeometry "MinCurvatureOperator::factor: lattice must be
    /// at least 2x2"; InvalidArgument "MinCurvatureOperator: conditioning
    /// system is singular (too few / collinear hard anchors to pin the
    /// surface)" when the band matrix cannot be factored, unshifted and (with
    /// 4 or more anchors) with a diagonal shift of 1e-8 times its largest
    /// diagonal entry; InvalidArgument when the problem exceeds 32-bit node
    /// or sample indices.
    ///
    /// The system is factored in band form when its band storage fits in
    /// `budget_bytes`. Beyond that, `beyond` decides: Refuse fails with
    /// InvalidArgument; Sparse factors the same system with a sparse LU
    /// (unknowns eliminated in nested-dissection order over the lattice,
    /// partial pivoting), which fails with InvalidArgument when its factors
    /// would exceed `band_budget_bytes()`. The sparse factors take the same
    /// singularity test, and their solutions agree with the band's to
    /// rounding.
    static ToolsResult<MinCurvatureOperator> factor(const Lattice& lattice,
                                                    std::span<const std::array<double, 2>> positions,
                                                    std::uint64_t budget_bytes = band_budget_bytes(),
                                                    BeyondBudget beyond = BeyondBudget::Refuse);

    /// Solves for the z values of the samples the operator was built for, in
    /// the same order. Anchors take the mean z of their samples. Errors:
    /// InvalidArgument "MinCurvatureOperator::solve: expected {} z-values,
    /// got {}". Safe to call from several threads at once.
    ToolsResult<Array2> solve(std::span<const double> z) const;

    const Lattice& lattice() const { return lattice_; }
    std::uint64_t ncol() const { return lattice_.ncol; }
    std::uint64_t nrow() const { return lattice_.nrow; }
    std::uint64_t sample_count() const { return sample_count_; }
    /// Anchor nodes (column, row) in the order a sample first pinned them.
    const std::vector<std::pair<std::uint64_t, std::uint64_t>>& anchors() const { return anchors_; }
    /// Free nodes (column, row) in free-index order.
    const std::vector<std::pair<std::uint64_t, std::uint64_t>>& free_nodes() const { return free_; }
    /// The factored band matrix; absent when every node is an anchor or the
    /// system was factored in sparse form.
    const std::optional<BandLu>& band() const { return band_; }
    /// The sparse factors; present when the system was factored in sparse
    /// form.
    const std::optional<SparseLu>& sparse() const { return sparse_; }

private:
    MinCurvatureOperator() = default;

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
    // one term per contribution, in the order the stencil produced them.
    std::vector<std::uint64_t> coupling_start_;
    std::vector<std::pair<std::uint32_t, double>> couplings_;
    std::optional<BandLu> band_;
    std::optional<SparseLu> sparse_;
};

/// `min_curvature` with the band factorisation held to `band_budget` bytes
/// instead of `band_budget_bytes()`; beyond it the system is factored in
/// sparse form.
Array2 min_curvature(std::span<const Sample> samples, const Lattice& lattice, std::uint64_t band_budget);

/// The relaxation `min_curvature` falls back on, with the sweeps capped at
/// `max_sweeps` (20000 there): the inverse-distance surface over the samples
/// with each pinned node set to the mean of its samples, then sweeps of
/// successive over-relaxation (factor 1.5) over the free nodes, rows outer
/// and columns inner, until a sweep changes no node by 1e-6 or more. A
/// lattice with fewer than 2 columns or rows is returned unrelaxed. The
/// sweeps run on the toolkit's threads; the result does not depend on their
/// number.
Array2 min_curvature_relaxation(std::span<const Sample> samples, const Lattice& lattice, int max_sweeps);

}  // namespace vz::gridding
