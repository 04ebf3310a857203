#pragma once
/// The iterative solve of the minimum-curvature system: the equations of the
/// free nodes applied straight from the stencil (nothing of the matrix is
/// stored but a few edge stencils), a multigrid cycle over ever coarser
/// lattices as the preconditioner, and restarted GMRES on the true system
/// (which is not symmetric at the edges), stopped on its residual.
///
/// Memory is a few dozen values per node, whatever the number of samples.
/// Every sum runs in a fixed order over fixed chunks of the lattice, so the
/// results are the same, bit for bit, on any number of threads.
///
/// Vectors cover the lattice with a border two nodes wide on every side
/// (`LatticeLayout`), which holds zeros; anchors hold zeros in every vector
/// the solve works on.

#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <vector>

#include "parallel/team.hpp"

namespace vz::gridding {

/// A lattice of nc x nr nodes stored row by row with a border of two nodes:
/// node (i, j) at (j + 2) * stride + (i + 2).
struct LatticeLayout {
    std::int64_t nc = 0, nr = 0;
    std::int64_t stride() const { return nc + 4; }
    std::size_t size() const { return static_cast<std::size_t>((nc + 4) * (nr + 4)); }
    std::size_t at(std::int64_t i, std::int64_t j) const { return static_cast<std::size_t>((j + 2) * stride() + i + 2); }
};

/// The equations of the free nodes of one lattice, with `shift` added to
/// every free node's own weight.
class MinCurvatureEquations {
public:
    /// `node_anchor` holds, per node i + j * nc, the node's anchor index or
    /// -1 for a free node. nc and nr must be at least 2.
    MinCurvatureEquations(std::int64_t nc, std::int64_t nr, std::span<const std::int32_t> node_anchor, double shift);

    const LatticeLayout& layout() const { return layout_; }
    double shift() const { return shift_; }
    /// Per padded node: 1 for a free node, 0 for an anchor or the border.
    const std::vector<unsigned char>& free() const { return free_; }
    /// The largest |weight| a free node puts on itself, before the shift.
    double largest_diagonal() const { return largest_diagonal_; }

    /// y = the left-hand sides of the free nodes' equations at the values x
    /// (anchors included as they stand in x; the shift applies to free nodes);
    /// y is 0 at anchors and on the border.
    void apply(parallel::Team& team, const double* x, double* y) const;

    /// r = -(the left-hand sides at v, plus the shift times `base`) at the
    /// free nodes, 0 elsewhere, each summed so that it is as accurate as if
    /// computed in twice the precision and then rounded: the residual of the
    /// equations at z = base + v where `base` satisfies every equation of the
    /// unshifted system (v holds the anchors' departures from base and the
    /// free nodes' unknowns; `base` may be null without a shift).
    void residual(parallel::Team& team, const double* v, const double* base, double* r) const;

    /// The equation of free node (i, j) on the 5 x 5 nodes around it, the
    /// shift included (entry (dc + 2) + 5 (dr + 2)).
    const std::array<double, 25>& equation(std::int64_t i, std::int64_t j) const {
        return classes_[class_of(i, j)];
    }
    bool interior(std::int64_t i, std::int64_t j) const {
        return i >= 2 && j >= 2 && i + 2 < layout_.nc && j + 2 < layout_.nr;
    }

private:
    std::size_t class_of(std::int64_t i, std::int64_t j) const;

    LatticeLayout layout_;
    double shift_ = 0.0;
    double largest_diagonal_ = 0.0;
    std::vector<unsigned char> free_;
    // The equations differ only by how close a node is to each edge (up to
    // 2 nodes), 81 kinds in all.
    std::array<std::array<double, 25>, 81> classes_{};
};

/// The multigrid cycle used as preconditioner: Galerkin coarse lattices
/// (the fine equations restricted by bilinear interpolation, anchors held at
/// zero), Gauss-Seidel smoothing by blocks of rows, and the coarsest lattice
/// factored densely with partial pivoting.
class MinCurvatureMultigrid {
public:
    /// Builds the coarse lattices of `eq`, which it keeps by reference.
    /// Absent when their storage cannot be allocated.
    static std::optional<MinCurvatureMultigrid> build(const MinCurvatureEquations& eq, parallel::Team& team);

    /// z = the cycle's approximation of A^-1 r (r and z in the fine layout,
    /// z 0 at anchors).
    void apply(parallel::Team& team, const double* r, double* z) const;

    std::size_t levels() const { return levels_.size(); }

    MinCurvatureMultigrid(MinCurvatureMultigrid&&) noexcept;
    MinCurvatureMultigrid& operator=(MinCurvatureMultigrid&&) noexcept;
    ~MinCurvatureMultigrid();

private:
    struct Level;
    MinCurvatureMultigrid() = default;

    const MinCurvatureEquations* fine_ = nullptr;
    std::vector<std::unique_ptr<Level>> levels_;  // [0] describes the fine lattice
    // The coarsest lattice's equations factored densely with partial
    // pivoting (row-major n x n, the pivots' rows), or empty.
    std::vector<double> coarsest_;
    std::vector<std::uint32_t> coarsest_pivot_;
    std::vector<std::uint32_t> coarsest_nodes_;  // unknown -> padded node of the last level
};

/// Outcome of `gmres`.
struct KrylovOutcome {
    bool converged = false;
    std::size_t iterations = 0;
    double residual = 0.0;  // ||b - A x|| at the end
    bool unstable = false;  // a cycle raised the residual (and was undone)
};

/// Restarted GMRES (right preconditioned, `restart` vectors kept) for
/// A x = b on the fine layout, from the x given. `residual(x, r)` gives
/// r = b - A x, as accurately as it can (each restart starts from it, so that
/// the restarts refine x as far as that accuracy allows); `apply_a` and
/// `precondition` serve the steps in between. Stops once the residual's norm
/// is at most `tolerance`, after `max_iterations`, when a whole restart cycle
/// no longer lowers it by a hundredth, or when one raises it (that cycle is
/// undone): x is the best iterate met. Every function writes 0 at anchors and
/// on the border.
KrylovOutcome gmres(parallel::Team& team, const std::function<void(const double*, double*)>& apply_a,
                    const std::function<void(const double*, double*)>& precondition,
                    const std::function<void(const double*, double*)>& residual, std::span<double> x,
                    double tolerance, std::size_t restart, std::size_t max_iterations);

/// The sum of a[k] * b[k], summed in fixed chunks of the index range, the
/// chunks' sums then added in order: the same on any number of threads.
double dot(parallel::Team& team, std::span<const double> a, std::span<const double> b);

}  // namespace vz::gridding
