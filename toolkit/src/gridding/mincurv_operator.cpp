#include "gridding/mincurv_operator.hpp"

#include <fmt/format.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <limits>

#include "parallel/machine.hpp"

namespace vz::gridding {

namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

constexpr const char* kSingular =
    "MinCurvatureOperator: conditioning system is singular (too few / collinear hard anchors to pin the surface)";

/// The 13 terms of a free node's equation: (column offset, row offset, weight).
struct StencilTerm {
    int dc, dr;
    double w;
};
constexpr StencilTerm kStencil[13] = {
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

ToolsResult<MinCurvatureOperator> MinCurvatureOperator::factor(const Lattice& lattice,
                                                               std::span<const std::array<double, 2>> positions,
                                                               std::uint64_t budget_bytes, BeyondBudget beyond) {
    if (lattice.ncol <= 1 || lattice.nrow <= 1)
        return std::unexpected(ToolsError::invalid_geometry("MinCurvatureOperator::factor: lattice must be at least 2x2"));
    const std::uint64_t ncol = lattice.ncol, nrow = lattice.nrow;
    // Node, free and anchor indices are 32-bit; larger problems are refused
    // here (the driver then relaxes iteratively).
    if (ncol > std::numeric_limits<std::int32_t>::max() / nrow ||
        positions.size() > std::numeric_limits<std::uint32_t>::max())
        return std::unexpected(ToolsError::invalid_argument(
            fmt::format("MinCurvatureOperator::factor: {} x {} nodes with {} samples exceed 32-bit indices", ncol,
                        nrow, positions.size())));
    const std::uint64_t nodes = ncol * nrow;

    MinCurvatureOperator op;
    op.lattice_ = lattice;
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

    const auto inc = static_cast<std::int64_t>(ncol), inr = static_cast<std::int64_t>(nrow);
    auto each_equation = [&](auto&& on_term) {
        for (std::size_t r = 0; r < op.free_.size(); ++r) {
            const auto [i, j] = op.free_[r];
            auto sink = [&](std::int64_t k, std::int64_t l, double w) {
                on_term(r, static_cast<std::uint64_t>(k) + static_cast<std::uint64_t>(l) * ncol, w);
            };
            for (const StencilTerm& t : kStencil)
                add_term(static_cast<std::int64_t>(i) + t.dc, static_cast<std::int64_t>(j) + t.dr, t.w, inc, inr, sink);
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
    // Beyond the band's budget, the sparse factors: refused in their turn
    // when the machine cannot hold them, or when they would need more
    // entries than their 32-bit indices reach.
    std::vector<std::uint32_t> order;
    if (!band_fits) {
        Dissection d = dissect(ncol, nrow, op.node_free_, n);
        if (d.factor_entries * kSparseBytesPerEntry > static_cast<double>(band_budget_bytes()) ||
            d.factor_entries > static_cast<double>(std::numeric_limits<std::int32_t>::max() / 2))
            return std::unexpected(ToolsError::invalid_argument(fmt::format(
                "MinCurvatureOperator::factor: sparse factors of about {} values exceed the memory budget",
                static_cast<std::uint64_t>(d.factor_entries))));
        order = std::move(d.order);
    }

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

    // Fewer than four anchors never determine the bilinear functions that
    // satisfy every equation, so such a system is singular whatever rounding
    // the elimination would show.
    if (op.anchors_.size() >= 4) {
        if (band_fits) {
            op.band_ = BandLu::assemble_and_factor(entries, n, h, 0.0);
            if (!op.band_) op.band_ = BandLu::assemble_and_factor(entries, n, h, 1e-8 * maxdiag);
        } else {
            op.sparse_ = SparseLu::factor(entries, n, 0.0, order);
            if (!op.sparse_) op.sparse_ = SparseLu::factor(entries, n, 1e-8 * maxdiag, order);
        }
    }
    if (!op.band_ && !op.sparse_) return std::unexpected(ToolsError::invalid_argument(kSingular));
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
    if (band_ || sparse_) {
        const std::size_t n = free_.size();
        // Per-solve scratch: concurrent solves of one operator never share it.
        std::vector<double> rhs(n), x(n);
        for (std::size_t r = 0; r < n; ++r) {
            double sum = 0.0;
            for (std::uint64_t t = coupling_start_[r]; t < coupling_start_[r + 1]; ++t)
                sum += couplings_[t].second * anchor_value[couplings_[t].first];
            rhs[r] = 0.0 - sum;
        }
        if (band_)
            band_->solve(rhs, x);
        else
            sparse_->solve(rhs, x);
        for (std::size_t r = 0; r < n; ++r) out(free_[r].first, free_[r].second) = x[r];
    }
    return out;
}

}  // namespace vz::gridding
