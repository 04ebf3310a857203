#include "gridding/mincurv_operator.hpp"

#include <fmt/format.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <limits>
#include <new>
#include <type_traits>

#include "gridding/bilinear.hpp"
#include "gridding/mincurv_iterative.hpp"
#include "gridding/mincurv_stencil.hpp"
#include "gridding/sparse_lu.hpp"
#include "parallel/machine.hpp"
#include "parallel/team.hpp"

namespace vz::gridding {

namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

constexpr const char* kSingular =
    "MinCurvatureOperator: conditioning system is singular (too few / collinear hard anchors to pin the surface)";

/// GMRES vectors kept between restarts on the iterative paths, at most
/// (allocated as the iterations reach them).
constexpr std::size_t kRestart = 60;
/// Fewer would restart too often to converge reliably.
constexpr std::size_t kLeastRestart = 8;
/// Iterations of one GMRES run, at most.
constexpr std::size_t kMaxIterations = 1000;
/// The iterative paths go on until rounding stops the residual, which the
/// residual relative to the size of the right-hand sides never reaches...
constexpr double kTolerance = 1e-16;
/// ...and count a solve as done once the residual is within this fraction
/// of that size; short of it, the next preconditioner takes over.
constexpr double kSolved = 1e-12;
/// A band solution whose residual is within this fraction of the size of
/// the right-hand sides is returned as it is: rounding alone leaves some
/// 1e-14 to 1e-12 there, while eliminations that lost an ill-conditioned
/// system's solution leave 1e-11 and more.
constexpr double kBandKept = 1e-11;
/// The multigrid cycle is built on the equations with this fraction of
/// their largest diagonal entry added to the diagonal: with few anchors the
/// restrictions of the equations themselves to coarse lattices are singular
/// to rounding, and their corrections beyond what rounding can carry. GMRES
/// on the true equations makes up for the difference.
constexpr double kPreconditionerShift = 1e-8;

/// Bytes the sparse factors take per entry, as measured: the values, their
/// row indices, and the slack the factorisation keeps as its storage grows.
constexpr double kSparseBytesPerEntry = 12.0;

/// Regions of at most this many nodes are not cut further.
constexpr std::uint64_t kLeafNodes = 64;

/// The elimination order of the free unknowns for the sparse factorisation,
/// and the number of entries its factors will hold, roughly.
struct Dissection {
    std::vector<std::uint32_t> order;
    double factor_entries = 0.0;
};

/// Nested dissection of the lattice. A region (a box of columns and rows) is
/// cut across its longer side by a separator two nodes wide, which no
/// equation reaches across: the stencil reaches two nodes along an axis and
/// one along a diagonal, and the extrapolation past an edge folds back
/// inside that reach. The two halves are ordered first, each in the same
/// way, then the separator; small regions row by row. Eliminating a block
/// (a separator or a small region) fills it densely against itself and
/// against the free nodes of the ring two nodes wide around its region,
/// which is what the estimate of the factors counts (in L and in U).
Dissection dissect(std::uint64_t ncol, std::uint64_t nrow, const std::vector<std::int32_t>& node_free,
                   std::uint64_t free_count) {
    Dissection d;
    d.order.reserve(free_count);
    const double free_share = static_cast<double>(free_count) / static_cast<double>(ncol * nrow);
    // Free nodes of the box [i0, i1) x [j0, j1), appended row by row.
    auto emit = [&](std::uint64_t i0, std::uint64_t i1, std::uint64_t j0, std::uint64_t j1) {
        const std::size_t before = d.order.size();
        for (std::uint64_t j = j0; j < j1; ++j)
            for (std::uint64_t i = i0; i < i1; ++i)
                if (const std::int32_t f = node_free[i + j * ncol]; f >= 0) d.order.push_back(static_cast<std::uint32_t>(f));
        return static_cast<double>(d.order.size() - before);
    };
    // Free nodes, roughly, on the ring two wide around the box.
    auto ring = [&](std::uint64_t i0, std::uint64_t i1, std::uint64_t j0, std::uint64_t j1) {
        const std::uint64_t a0 = i0 >= 2 ? i0 - 2 : 0, a1 = std::min(ncol, i1 + 2);
        const std::uint64_t b0 = j0 >= 2 ? j0 - 2 : 0, b1 = std::min(nrow, j1 + 2);
        return static_cast<double>((a1 - a0) * (b1 - b0) - (i1 - i0) * (j1 - j0)) * free_share;
    };
    auto fill = [](double block, double around) { return block * block + 2.0 * block * around; };
    auto cut = [&](auto&& self, std::uint64_t i0, std::uint64_t i1, std::uint64_t j0, std::uint64_t j1) -> void {
        const std::uint64_t w = i1 - i0, h = j1 - j0;
        if (w * h <= kLeafNodes) {
            d.factor_entries += fill(emit(i0, i1, j0, j1), ring(i0, i1, j0, j1));
            return;
        }
        double block = 0.0;
        if (w >= h) {
            const std::uint64_t m = i0 + (w - 2) / 2;
            self(self, i0, m, j0, j1);
            self(self, m + 2, i1, j0, j1);
            block = emit(m, m + 2, j0, j1);
        } else {
            const std::uint64_t m = j0 + (h - 2) / 2;
            self(self, i0, i1, j0, m);
            self(self, i0, i1, m + 2, j1);
            block = emit(i0, i1, m, m + 2);
        }
        d.factor_entries += fill(block, ring(i0, i1, j0, j1));
    };
    cut(cut, 0, ncol, 0, nrow);
    return d;
}

}  // namespace

std::optional<std::pair<std::uint64_t, std::uint64_t>> snap_to_node(const Lattice& lattice, double x, double y) {
    const auto ij = xy_to_ij(lattice, x, y);
    if (!ij) return std::nullopt;
    const double t = std::round(ij->first), s = std::round(ij->second);
    if (t < 0.0 || s < 0.0) return std::nullopt;
    if (t >= static_cast<double>(lattice.ncol) || s >= static_cast<double>(lattice.nrow)) return std::nullopt;
    return std::pair{static_cast<std::uint64_t>(t), static_cast<std::uint64_t>(s)};
}

std::uint64_t band_budget_bytes() {
    const auto memory = parallel::physical_memory_bytes();
    return memory ? *memory / 4 : std::uint64_t{1} << 30;
}

MinCurvatureOperator::MinCurvatureOperator() = default;
MinCurvatureOperator::MinCurvatureOperator(MinCurvatureOperator&&) noexcept = default;
MinCurvatureOperator& MinCurvatureOperator::operator=(MinCurvatureOperator&&) noexcept = default;
MinCurvatureOperator::~MinCurvatureOperator() = default;

ToolsResult<MinCurvatureOperator> MinCurvatureOperator::factor(const Lattice& lattice,
                                                               std::span<const std::array<double, 2>> positions,
                                                               std::uint64_t budget_bytes, BeyondBudget beyond) {
    if (lattice.ncol <= 1 || lattice.nrow <= 1)
        return std::unexpected(ToolsError::invalid_geometry("MinCurvatureOperator::factor: lattice must be at least 2x2"));
    const std::uint64_t ncol = lattice.ncol, nrow = lattice.nrow;
    // Node, free and anchor indices are 32-bit, and so are the node indices
    // of the iterative solve's padded lattice; larger problems are refused
    // here (the driver then relaxes iteratively).
    if (ncol > std::numeric_limits<std::int32_t>::max() / nrow ||
        (ncol + 4) > std::numeric_limits<std::uint32_t>::max() / (nrow + 4) ||
        positions.size() > std::numeric_limits<std::uint32_t>::max())
        return std::unexpected(ToolsError::invalid_argument(
            fmt::format("MinCurvatureOperator::factor: {} x {} nodes with {} samples exceed 32-bit indices", ncol,
                        nrow, positions.size())));
    const std::uint64_t nodes = ncol * nrow;

    MinCurvatureOperator op;
    op.lattice_ = lattice;
    op.restart_ = kRestart;
    op.sample_count_ = positions.size();
    op.node_anchor_.assign(nodes, -1);

    // Anchors in the order a sample first pins them; each keeps its samples.
    std::vector<std::int32_t> sample_anchor(positions.size(), -1);
    std::vector<std::uint32_t> anchor_count;
    for (std::size_t k = 0; k < positions.size(); ++k) {
        const auto node = snap_to_node(lattice, positions[k][0], positions[k][1]);
        if (!node) continue;
        const std::uint64_t id = node->first + node->second * ncol;
        if (op.node_anchor_[id] < 0) {
            op.node_anchor_[id] = static_cast<std::int32_t>(op.anchors_.size());
            op.anchors_.push_back(*node);
            anchor_count.push_back(0);
        }
        sample_anchor[k] = op.node_anchor_[id];
        ++anchor_count[static_cast<std::size_t>(op.node_anchor_[id])];
    }
    op.anchor_start_.assign(op.anchors_.size() + 1, 0);
    for (std::size_t a = 0; a < op.anchors_.size(); ++a) op.anchor_start_[a + 1] = op.anchor_start_[a] + anchor_count[a];
    op.anchor_samples_.resize(op.anchor_start_.back());
    {
        std::vector<std::uint32_t> fill(op.anchor_start_.begin(), op.anchor_start_.end() - 1);
        for (std::size_t k = 0; k < positions.size(); ++k)
            if (sample_anchor[k] >= 0)
                op.anchor_samples_[fill[static_cast<std::size_t>(sample_anchor[k])]++] = static_cast<std::uint32_t>(k);
    }

    // Free nodes, the shorter dimension varying fastest (columns when square).
    op.node_free_.assign(nodes, -1);
    op.free_.reserve(nodes - op.anchors_.size());
    auto visit = [&](std::uint64_t i, std::uint64_t j) {
        const std::uint64_t id = i + j * ncol;
        if (op.node_anchor_[id] >= 0) return;
        op.node_free_[id] = static_cast<std::int32_t>(op.free_.size());
        op.free_.emplace_back(i, j);
    };
    if (nrow < ncol) {
        for (std::uint64_t i = 0; i < ncol; ++i)
            for (std::uint64_t j = 0; j < nrow; ++j) visit(i, j);
    } else {
        for (std::uint64_t j = 0; j < nrow; ++j)
            for (std::uint64_t i = 0; i < ncol; ++i) visit(i, j);
    }
    if (op.free_.empty()) return op;
    // Fewer than four anchors never determine the bilinear functions that
    // satisfy every equation: such a system is singular, whatever rounding
    // an elimination would show, and the driver relaxes instead.
    if (op.anchors_.size() < 4) return std::unexpected(ToolsError::invalid_argument(kSingular));
    // Nor do more anchors that all lie on one curve a bilinear function
    // vanishes on: the system with a shifted diagonal stands in for it, on
    // every path.
    const bool singular = !determine_bilinear(op.anchors_);

    const auto inc = static_cast<std::int64_t>(ncol), inr = static_cast<std::int64_t>(nrow);
    auto each_equation = [&](auto&& on_term) {
        for (std::size_t r = 0; r < op.free_.size(); ++r) {
            const auto [i, j] = op.free_[r];
            auto sink = [&](std::int64_t k, std::int64_t l, double w) {
                on_term(r, static_cast<std::uint64_t>(k) + static_cast<std::uint64_t>(l) * ncol, w);
            };
            for (const mincurv::StencilTerm& t : mincurv::kStencil)
                mincurv::add_term(static_cast<std::int64_t>(i) + t.dc, static_cast<std::int64_t>(j) + t.dr, t.w, inc,
                                  inr, sink);
        }
    };

    // The half bandwidth first, so that a band beyond the memory budget is
    // refused before anything large is built.
    std::uint64_t h = 0;
    each_equation([&](std::size_t r, std::uint64_t id, double) {
        const std::int32_t c = op.node_free_[id];
        if (c < 0) return;
        const std::uint64_t d = r > static_cast<std::uint64_t>(c) ? r - static_cast<std::uint64_t>(c)
                                                                   : static_cast<std::uint64_t>(c) - r;
        h = std::max(h, d);
    });
    const std::uint64_t n = op.free_.size();
    const auto len = band_storage_len(n, h);
    const bool band_fits = len && *len <= budget_bytes / sizeof(double);
    if (!band_fits && beyond == BeyondBudget::Refuse)
        return std::unexpected(ToolsError::invalid_argument(fmt::format(
            "MinCurvatureOperator::factor: band storage of {} x {} values exceeds the memory budget", n, 2 * h + 1)));

    if (band_fits) {
        std::vector<SparseEntry> entries;
        entries.reserve(13 * n);
        op.coupling_start_.assign(n + 1, 0);
        double maxdiag = 0.0;
        std::vector<double> diag(n, 0.0);
        each_equation([&](std::size_t r, std::uint64_t id, double w) {
            const std::int32_t c = op.node_free_[id];
            if (c >= 0) {
                entries.push_back({static_cast<std::uint32_t>(r), static_cast<std::uint32_t>(c), w});
                if (static_cast<std::size_t>(c) == r) diag[r] += w;
            } else {
                op.couplings_.emplace_back(static_cast<std::uint32_t>(op.node_anchor_[id]), w);
            }
            op.coupling_start_[r + 1] = op.couplings_.size();
        });
        for (double d : diag) maxdiag = std::max(maxdiag, std::fabs(d));
        const double shift = 1e-8 * maxdiag;
        if (!singular) {
            op.band_ = BandLu::assemble_and_factor(entries, n, h, 0.0);
            if (op.band_) return op;
        }
        // The shifted system: the system itself when the anchors are
        // singular by geometry, else the preconditioner that brings GMRES
        // to the system itself in a few steps.
        op.band_ = BandLu::assemble_and_factor(entries, n, h, shift);
        if (op.band_) {
            if (singular) {
                op.shift_ = shift;
                return op;
            }
            op.path_ = SolvePath::RefinedBand;
            op.couplings_ = {};
            op.coupling_start_ = {};
            op.equations_ = std::make_unique<MinCurvatureEquations>(inc, inr, op.node_anchor_, 0.0);
            return op;
        }
        // Not even the shifted band factors: the multigrid path below.
        op.couplings_ = {};
        op.coupling_start_ = {};
    }

    // The iterative path, within the machine's budget: GMRES keeps
    // `restart` vectors over the padded lattice, the solve a few more, the
    // multigrid levels and the tables above some dozens of bytes per node.
    const double padded = static_cast<double>((ncol + 4) * (nrow + 4));
    const double budget = static_cast<double>(band_budget_bytes());
    std::size_t restart = kRestart;
    auto need = [&](std::size_t m) { return padded * (8.0 * static_cast<double>(m + 8) + 120.0); };
    while (restart > kLeastRestart && need(restart) > budget) --restart;
    if (need(restart) > budget)
        return std::unexpected(ToolsError::invalid_argument(fmt::format(
            "MinCurvatureOperator::factor: an iterative solve of {} x {} nodes exceeds the memory budget", ncol,
            nrow)));
    op.path_ = SolvePath::Iterative;
    op.restart_ = restart;
    op.band_.reset();
    try {
        auto equations = std::make_unique<MinCurvatureEquations>(inc, inr, op.node_anchor_, 0.0);
        if (singular) {
            op.shift_ = 1e-8 * equations->largest_diagonal();
            equations = std::make_unique<MinCurvatureEquations>(inc, inr, op.node_anchor_, op.shift_);
        }
        op.preconditioned_ = std::make_unique<MinCurvatureEquations>(
            inc, inr, op.node_anchor_, op.shift_ + kPreconditionerShift * equations->largest_diagonal());
        parallel::Team team;
        auto mg = MinCurvatureMultigrid::build(*op.preconditioned_, team);
        if (!mg) throw std::bad_alloc();
        op.equations_ = std::move(equations);
        op.multigrid_ = std::make_unique<MinCurvatureMultigrid>(std::move(*mg));
    } catch (const std::bad_alloc&) {
        return std::unexpected(ToolsError::invalid_argument(fmt::format(
            "MinCurvatureOperator::factor: an iterative solve of {} x {} nodes exceeds the memory budget", ncol,
            nrow)));
    }
    return op;
}

ToolsResult<Array2> MinCurvatureOperator::solve(std::span<const double> z) const {
    if (z.size() != sample_count_)
        return std::unexpected(ToolsError::invalid_argument(
            fmt::format("MinCurvatureOperator::solve: expected {} z-values, got {}", sample_count_, z.size())));
    std::vector<double> anchor_value(anchors_.size());
    for (std::size_t a = 0; a < anchors_.size(); ++a) {
        double sum = 0.0;
        for (std::uint32_t k = anchor_start_[a]; k < anchor_start_[a + 1]; ++k) sum += z[anchor_samples_[k]];
        anchor_value[a] = sum / static_cast<double>(anchor_start_[a + 1] - anchor_start_[a]);
    }
    Array2 out = Array2::filled(lattice_.ncol, lattice_.nrow, kNaN);
    for (std::size_t a = 0; a < anchors_.size(); ++a) out(anchors_[a].first, anchors_[a].second) = anchor_value[a];
    if (free_.empty()) return out;
    if (path_ != SolvePath::Band) return solve_iteratively(std::move(anchor_value), std::move(out), false);
    const std::size_t n = free_.size();
    // Per-solve scratch: concurrent solves of one operator never share it.
    std::vector<double> rhs(n), x(n);
    for (std::size_t r = 0; r < n; ++r) {
        double sum = 0.0;
        for (std::uint64_t t = coupling_start_[r]; t < coupling_start_[r + 1]; ++t)
            sum += couplings_[t].second * anchor_value[couplings_[t].first];
        rhs[r] = 0.0 - sum;
    }
    band_->solve(rhs, x);
    for (std::size_t r = 0; r < n; ++r) out(free_[r].first, free_[r].second) = x[r];
    // Elimination without pivoting can lose the solution of a system that
    // is ill-conditioned (few anchors far from the lattice's corners) while
    // meeting no tiny pivot: the surface is checked by its residual and, only
    // where that is not small, refined by GMRES on the same band factors.
    return solve_iteratively(std::move(anchor_value), std::move(out), true);
}

std::optional<SparseLu> MinCurvatureOperator::sparse_factors() const {
    const std::uint64_t ncol = lattice_.ncol, nrow = lattice_.nrow;
    const std::size_t n = free_.size();
    Dissection d = dissect(ncol, nrow, node_free_, n);
    if (d.factor_entries * kSparseBytesPerEntry > static_cast<double>(band_budget_bytes()) ||
        d.factor_entries > static_cast<double>(std::numeric_limits<std::int32_t>::max() / 2))
        return std::nullopt;
    try {
        std::vector<SparseEntry> entries;
        entries.reserve(13 * n);
        double maxdiag = 0.0;
        const auto inc = static_cast<std::int64_t>(ncol), inr = static_cast<std::int64_t>(nrow);
        for (std::size_t r = 0; r < n; ++r) {
            const auto [i, j] = free_[r];
            double diag = 0.0;
            auto sink = [&](std::int64_t k, std::int64_t l, double w) {
                const std::int32_t c = node_free_[static_cast<std::uint64_t>(k) + static_cast<std::uint64_t>(l) * ncol];
                if (c < 0) return;
                entries.push_back({static_cast<std::uint32_t>(r), static_cast<std::uint32_t>(c), w});
                if (static_cast<std::size_t>(c) == r) diag += w;
            };
            for (const mincurv::StencilTerm& t : mincurv::kStencil)
                mincurv::add_term(static_cast<std::int64_t>(i) + t.dc, static_cast<std::int64_t>(j) + t.dr, t.w, inc,
                                  inr, sink);
            maxdiag = std::max(maxdiag, std::fabs(diag));
        }
        if (shift_ == 0.0)
            if (auto lu = SparseLu::factor(entries, n, 0.0, d.order)) return lu;
        return SparseLu::factor(entries, n, shift_ != 0.0 ? shift_ : 1e-8 * maxdiag, d.order);
    } catch (const std::bad_alloc&) {
        return std::nullopt;
    }
}

ToolsResult<Array2> MinCurvatureOperator::solve_iteratively(std::vector<double> anchor_value, Array2 out,
                                                            bool from_band) const {
    std::optional<MinCurvatureEquations> band_equations;
    if (!equations_)
        band_equations.emplace(static_cast<std::int64_t>(lattice_.ncol), static_cast<std::int64_t>(lattice_.nrow),
                               node_anchor_, shift_);
    const MinCurvatureEquations& eq = equations_ ? *equations_ : *band_equations;
    const LatticeLayout& layout = eq.layout();
    const std::size_t size = layout.size();
    parallel::Team team;
    auto apply = [&](const double* x, double* y) { eq.apply(team, x, y); };
    auto at = [&](std::uint64_t i, std::uint64_t j) {
        return layout.at(static_cast<std::int64_t>(i), static_cast<std::int64_t>(j));
    };

    // The surface is the bilinear function p that fits the anchors best (a
    // constant for a shifted system, whose anchors do not determine one)
    // plus the solution w of the same equations with the anchors' departures
    // from p as their values: p satisfies every equation exactly, and w is
    // smaller, so the solve loses less to rounding. The shift, where there is
    // one, acts on p as well.
    const Bilinear p = fit_bilinear(anchors_, anchor_value, shift_ == 0.0);
    double mean = 0.0;
    for (double v : anchor_value) mean += v;
    mean /= static_cast<double>(anchor_value.size());
    // The departures of the anchors from p; the unknowns of the free nodes
    // (w, 0 at anchors) join them where a residual is taken.
    std::vector<double> departures(size, 0.0), w(size, 0.0), v(size, 0.0), r(size, 0.0);
    for (std::size_t a = 0; a < anchors_.size(); ++a) {
        const auto [i, j] = anchors_[a];
        departures[at(i, j)] = anchor_value[a] - p.at(static_cast<double>(i), static_cast<double>(j));
    }
    std::vector<double> base;
    if (shift_ != 0.0) {
        base.assign(size, 0.0);
        for (const auto& [i, j] : free_) base[at(i, j)] = p.at(static_cast<double>(i), static_cast<double>(j));
    }
    // Residuals are summed as if in twice the precision: the system can be
    // so ill-conditioned (its anchors far from the lattice's corners) that
    // residuals rounded in plain precision would decide the surface.
    auto residual = [&](const double* x, double* out_r) {
        for (std::size_t k = 0; k < size; ++k) v[k] = departures[k] + x[k];  // one of the two is 0
        eq.residual(team, v.data(), base.empty() ? nullptr : base.data(), out_r);
    };
    // The scale of the residual: the right-hand sides the anchors' spread
    // about their mean gives, offsets and trends aside; or the right-hand
    // sides of this solve, where larger.
    residual(w.data(), r.data());
    const double rhs = std::sqrt(dot(team, r, r));
    std::fill(v.begin(), v.end(), 0.0);
    for (std::size_t a = 0; a < anchors_.size(); ++a) v[at(anchors_[a].first, anchors_[a].second)] = anchor_value[a] - mean;
    apply(v.data(), r.data());
    const double scale = std::max(std::sqrt(dot(team, r, r)), rhs);
    const double tolerance = kTolerance * scale;
    if (from_band) {
        // The band's surface as it stands, its residual taken on it whole.
        std::fill(v.begin(), v.end(), 0.0);
        for (std::uint64_t i = 0; i < lattice_.ncol; ++i)
            for (std::uint64_t j = 0; j < lattice_.nrow; ++j) v[at(i, j)] = out(i, j);
        eq.residual(team, v.data(), nullptr, r.data());
        if (std::sqrt(dot(team, r, r)) <= kBandKept * scale) return out;
        for (const auto& [i, j] : free_) w[at(i, j)] = out(i, j) - p.at(static_cast<double>(i), static_cast<double>(j));
    }

    // The band factors solve on the team; the sparse ones on one thread.
    auto solve_with = [&](const auto& factors, std::span<const double> in, std::span<double> x) {
        if constexpr (std::is_same_v<std::decay_t<decltype(factors)>, BandLu>)
            factors.solve(team, in, x);
        else
            factors.solve(in, x);
    };
    // GMRES preconditioned by factors in free-node order (band or sparse).
    auto with_factors = [&](const auto& factors) {
        const std::size_t n = free_.size();
        std::vector<std::size_t> node_of(n);
        for (std::size_t f = 0; f < n; ++f) node_of[f] = at(free_[f].first, free_[f].second);
        std::vector<double> rhs_f(n), x(n);
        auto precondition = [&](const double* in, double* z) {
            for (std::size_t f = 0; f < n; ++f) rhs_f[f] = in[node_of[f]];
            solve_with(factors, rhs_f, x);
            std::fill(z, z + size, 0.0);
            for (std::size_t f = 0; f < n; ++f) z[node_of[f]] = x[f];
        };
        return gmres(team, apply, precondition, residual, w, tolerance, restart_, kMaxIterations);
    };
    KrylovOutcome outcome;
    outcome.residual = HUGE_VAL;
    if (band_) outcome = with_factors(*band_);
    // The multigrid cycle: on the iterative path, or when the band factors
    // left GMRES short of the system's solution.
    if (path_ == SolvePath::Iterative || !(outcome.residual <= kSolved * scale)) {
        std::optional<MinCurvatureEquations> shifted;
        std::optional<MinCurvatureMultigrid> local;
        const MinCurvatureMultigrid* mg = multigrid_.get();
        if (!mg) {
            shifted.emplace(layout.nc, layout.nr, node_anchor_, shift_ + kPreconditionerShift * eq.largest_diagonal());
            local = MinCurvatureMultigrid::build(*shifted, team);
            mg = local ? &*local : nullptr;
        }
        if (mg) {
            auto precondition = [&](const double* in, double* z) { mg->apply(team, in, z); };
            outcome = gmres(team, apply, precondition, residual, w, tolerance, restart_, kMaxIterations);
        }
    }
    // Few anchors far apart leave the system nearly singular in a few smooth
    // directions, which a multigrid cycle resolves slowly. Where its GMRES
    // stops short and the memory holds them, the sparse factors of the
    // system precondition GMRES as the band factors do.
    if (!(outcome.residual <= kSolved * scale))
        if (auto lu = sparse_factors()) outcome = with_factors(*lu);
    for (const auto& [i, j] : free_) out(i, j) = p.at(static_cast<double>(i), static_cast<double>(j)) + w[at(i, j)];
    return out;
}

}  // namespace vz::gridding
