#include "gridding/mincurv_iterative.hpp"

#include <algorithm>
#include <cmath>
#include <limits>
#include <new>

#include "gridding/mincurv_stencil.hpp"

namespace vz::gridding {

namespace {

/// Lattices of at most this many nodes are factored instead of coarsened.
constexpr std::int64_t kCoarsestNodes = 512;
/// A lattice axis of at most this many nodes is not coarsened.
constexpr std::int64_t kShortestAxis = 4;
/// Gauss-Seidel sweeps before and after the coarse correction, and the
/// coarse corrections per level (2: a W-cycle).
constexpr int kPreSweeps = 2;
constexpr int kPostSweeps = 2;
constexpr int kCoarseVisits = 2;
/// Rows of a block of the smoothing (at least 2, the reach of an equation).
constexpr std::int64_t kBlockRows = 4;
/// Entries of the fixed chunks sums are taken over.
constexpr std::size_t kSumChunk = 8192;
/// Rows of a chunk of work over a lattice whose rows hold `nodes` nodes each:
/// enough that a chunk carries some 8192 nodes, at least one row. The team
/// hands out chunks for a few microseconds each, so that even one colour of
/// a sweep spreads over every thread.
std::size_t rows_per_chunk(std::int64_t nodes) {
    return static_cast<std::size_t>(std::max<std::int64_t>(1, 8192 / std::max<std::int64_t>(1, nodes)));
}

/// Entry k of a 5 x 5 stencil lies at column offset k % 5 - 2 and row offset
/// k / 5 - 2.
constexpr int dc_of(int k) { return k % 5 - 2; }
constexpr int dr_of(int k) { return k / 5 - 2; }

/// Interpolation along one axis from a coarse to a fine lattice: fine node f
/// takes the weights `w` of coarse nodes `c` (one or two).
struct Taps {
    std::int64_t c[2] = {0, 0};
    double w[2] = {0.0, 0.0};
    int n = 0;
};

/// Bilinear interpolation along an axis of `fine` nodes onto `coarse` ones:
/// even fine nodes sit on coarse ones, odd ones half-way between; an odd last
/// node past the last coarse one is extrapolated linearly. Without
/// coarsening (coarse == fine), the identity.
std::vector<Taps> axis_taps(std::int64_t fine, std::int64_t coarse) {
    std::vector<Taps> taps(static_cast<std::size_t>(fine));
    for (std::int64_t f = 0; f < fine; ++f) {
        Taps& t = taps[static_cast<std::size_t>(f)];
        if (coarse == fine) {
            t = {{f, 0}, {1.0, 0.0}, 1};
        } else if (f % 2 == 0) {
            t = {{f / 2, 0}, {1.0, 0.0}, 1};
        } else if ((f + 1) / 2 < coarse) {
            t = {{(f - 1) / 2, (f + 1) / 2}, {0.5, 0.5}, 2};
        } else {
            t = {{(f - 1) / 2, (f - 3) / 2}, {1.5, -0.5}, 2};
        }
    }
    return taps;
}

/// The transpose of `axis_taps`: per coarse node, the fine nodes that take a
/// weight from it, in ascending order.
std::vector<std::vector<std::pair<std::int64_t, double>>> axis_sources(const std::vector<Taps>& taps,
                                                                       std::int64_t coarse) {
    std::vector<std::vector<std::pair<std::int64_t, double>>> out(static_cast<std::size_t>(coarse));
    for (std::size_t f = 0; f < taps.size(); ++f)
        for (int k = 0; k < taps[f].n; ++k)
            out[static_cast<std::size_t>(taps[f].c[k])].emplace_back(static_cast<std::int64_t>(f), taps[f].w[k]);
    return out;
}

}  // namespace

// ---------------------------------------------------------------- fine equations

MinCurvatureEquations::MinCurvatureEquations(std::int64_t nc, std::int64_t nr, std::span<const std::int32_t> node_anchor,
                                             double shift)
    : layout_{nc, nr}, shift_(shift), free_(layout_.size(), 0) {
    for (std::int64_t j = 0; j < nr; ++j)
        for (std::int64_t i = 0; i < nc; ++i)
            free_[layout_.at(i, j)] = node_anchor[static_cast<std::size_t>(i + j * nc)] < 0 ? 1 : 0;
    // One node of each kind present: its distances (up to 2) to the four
    // edges decide its equation.
    std::array<bool, 81> done{};
    for (std::int64_t j = 0; j < nr; ++j) {
        for (std::int64_t i = 0; i < nc; ++i) {
            const std::size_t k = class_of(i, j);
            if (!done[k]) {
                classes_[k] = mincurv::folded_equation(i, j, nc, nr);
                done[k] = true;
            }
            // Interior rows have the same kinds throughout; skip to the far
            // edge.
            if (i == 2 && nc > 6) i = nc - 3;
        }
        if (j == 2 && nr > 6) j = nr - 3;
    }
    // The largest weight a free node puts on itself, as the band assembly
    // finds it among its diagonal entries.
    for (std::int64_t j = 0; j < nr; ++j)
        for (std::int64_t i = 0; i < nc; ++i)
            if (free_[layout_.at(i, j)])
                largest_diagonal_ = std::max(largest_diagonal_, std::fabs(classes_[class_of(i, j)][12]));
    for (std::size_t k = 0; k < classes_.size(); ++k)
        if (done[k]) classes_[k][12] += shift;
}

std::size_t MinCurvatureEquations::class_of(std::int64_t i, std::int64_t j) const {
    const auto near = [](std::int64_t a) { return static_cast<std::size_t>(std::min<std::int64_t>(a, 2)); };
    const std::size_t ci = near(i) * 3 + near(layout_.nc - 1 - i);
    const std::size_t cj = near(j) * 3 + near(layout_.nr - 1 - j);
    return ci * 9 + cj;
}

void MinCurvatureEquations::apply(parallel::Team& team, const double* x, double* y) const {
    const std::int64_t nc = layout_.nc, nr = layout_.nr, s = layout_.stride();
    const double centre = 16.0 + shift_;
    team.for_each_chunk(static_cast<std::size_t>(nr), rows_per_chunk(nc), [&](std::size_t j0, std::size_t j1) {
        for (auto j = static_cast<std::int64_t>(j0); j < static_cast<std::int64_t>(j1); ++j) {
            const std::size_t row = layout_.at(0, j);
            const bool inner_row = j >= 2 && j + 2 < nr;
            for (std::int64_t i = 0; i < nc; ++i) {
                const std::size_t id = row + static_cast<std::size_t>(i);
                if (!free_[id]) {
                    y[id] = 0.0;
                    continue;
                }
                const double* p = x + id;
                if (inner_row && i >= 2 && i + 2 < nc) {
                    const double e = p[s] + p[-s] + p[1] + p[-1];
                    const double d = p[s + 1] + p[s - 1] + p[-s + 1] + p[-s - 1];
                    const double f = p[2 * s] + p[-2 * s] + p[2] + p[-2];
                    y[id] = centre * p[0] - 6.25 * e + 1.5 * d + 0.75 * f;
                } else {
                    const auto& eq = classes_[class_of(i, j)];
                    double sum = 0.0;
                    for (int k = 0; k < 25; ++k)
                        if (eq[static_cast<std::size_t>(k)] != 0.0)
                            sum += eq[static_cast<std::size_t>(k)] * p[dc_of(k) + dr_of(k) * s];
                    y[id] = sum;
                }
            }
        }
    });
    // Border rows and columns stay as they are: every caller's vectors hold
    // zeros there.
}

namespace {

/// A sum of products kept as a rounded sum and its error: the error-free
/// transformations of the sum (two-sum) and of the product (by a fused
/// multiply-add), so that the result is as accurate as if computed in twice
/// the precision.
struct AccurateSum {
    double s = 0.0, c = 0.0;
    void add_product(double a, double x) {
        const double p = a * x;
        const double pe = std::fma(a, x, -p);
        const double t = s + p;
        const double z = t - s;
        c += (s - (t - z)) + (p - z) + pe;
        s = t;
    }
    double value() const { return s + c; }
};

}  // namespace

void MinCurvatureEquations::residual(parallel::Team& team, const double* v, const double* base, double* r) const {
    const std::int64_t nc = layout_.nc, nr = layout_.nr, s = layout_.stride();
    team.for_each_chunk(static_cast<std::size_t>(nr), rows_per_chunk(nc), [&](std::size_t j0, std::size_t j1) {
        for (auto j = static_cast<std::int64_t>(j0); j < static_cast<std::int64_t>(j1); ++j) {
            const std::size_t row = layout_.at(0, j);
            for (std::int64_t i = 0; i < nc; ++i) {
                const std::size_t id = row + static_cast<std::size_t>(i);
                if (!free_[id]) {
                    r[id] = 0.0;
                    continue;
                }
                const auto& eq = classes_[class_of(i, j)];
                const double* p = v + id;
                AccurateSum sum;
                // The shift is part of the stored own weight; it applies to
                // base as well.
                for (int k = 0; k < 25; ++k)
                    if (eq[static_cast<std::size_t>(k)] != 0.0)
                        sum.add_product(eq[static_cast<std::size_t>(k)], p[dc_of(k) + dr_of(k) * s]);
                if (base && shift_ != 0.0) sum.add_product(shift_, base[id]);
                r[id] = -sum.value();
            }
        }
    });
}

// ---------------------------------------------------------------- multigrid

/// One lattice of the hierarchy. Level 0 is the fine lattice, whose
/// equations `MinCurvatureEquations` holds; every coarser level holds its
/// 25-point equations node by node (i + j * nc).
struct MinCurvatureMultigrid::Level {
    LatticeLayout layout;
    std::vector<unsigned char> free;  // padded
    std::vector<double> stencil;      // 25 per node; empty on level 0
    std::vector<double> inverse_diagonal;  // padded; 0 where not free
    // Interpolation from the next coarser level (absent on the last).
    std::vector<Taps> taps_i, taps_j;
    std::vector<std::vector<std::pair<std::int64_t, double>>> sources_i, sources_j;
};

MinCurvatureMultigrid::MinCurvatureMultigrid(MinCurvatureMultigrid&&) noexcept = default;
MinCurvatureMultigrid& MinCurvatureMultigrid::operator=(MinCurvatureMultigrid&&) noexcept = default;
MinCurvatureMultigrid::~MinCurvatureMultigrid() = default;

namespace {

/// The equation of node (i, j) of a level: the fine equations' kinds on
/// level 0, the stored stencil elsewhere.
struct LevelView {
    const MinCurvatureEquations* fine;
    const LatticeLayout* layout;
    const std::vector<unsigned char>* free;
    const std::vector<double>* stencil;

    const double* equation(std::int64_t i, std::int64_t j) const {
        if (stencil->empty()) return fine->equation(i, j).data();
        return stencil->data() + static_cast<std::size_t>(i + j * layout->nc) * 25;
    }
    /// The left-hand side of node (i, j)'s equation at the values x.
    double lhs(const double* x, std::int64_t i, std::int64_t j) const {
        const std::int64_t s = layout->stride();
        const double* p = x + layout->at(i, j);
        if (stencil->empty() && fine->interior(i, j)) {
            const double e = p[s] + p[-s] + p[1] + p[-1];
            const double d = p[s + 1] + p[s - 1] + p[-s + 1] + p[-s - 1];
            const double f = p[2 * s] + p[-2 * s] + p[2] + p[-2];
            return (16.0 + fine->shift()) * p[0] - 6.25 * e + 1.5 * d + 0.75 * f;
        }
        const double* eq = equation(i, j);
        double sum = 0.0;
        for (int r = 0; r < 5; ++r) {
            const double* row = p + (r - 2) * s - 2;
            const double* e = eq + 5 * r;
            sum += e[0] * row[0] + e[1] * row[1] + e[2] * row[2] + e[3] * row[3] + e[4] * row[4];
        }
        return sum;
    }
};

}  // namespace

std::optional<MinCurvatureMultigrid> MinCurvatureMultigrid::build(const MinCurvatureEquations& eq,
                                                                  parallel::Team& team) {
    MinCurvatureMultigrid mg;
    mg.fine_ = &eq;
    try {
        auto level0 = std::make_unique<Level>();
        level0->layout = eq.layout();
        level0->free = eq.free();
        mg.levels_.push_back(std::move(level0));
        for (;;) {
            Level& f = *mg.levels_.back();
            const std::int64_t nc = f.layout.nc, nr = f.layout.nr;
            const bool cut_i = nc > kShortestAxis, cut_j = nr > kShortestAxis;
            if (nc * nr <= kCoarsestNodes || (!cut_i && !cut_j)) break;
            const std::int64_t cc = cut_i ? (nc + 1) / 2 : nc, cr = cut_j ? (nr + 1) / 2 : nr;
            f.taps_i = axis_taps(nc, cc);
            f.taps_j = axis_taps(nr, cr);
            f.sources_i = axis_sources(f.taps_i, cc);
            f.sources_j = axis_sources(f.taps_j, cr);

            auto c = std::make_unique<Level>();
            c->layout = {cc, cr};
            c->free.assign(c->layout.size(), 0);
            c->stencil.assign(static_cast<std::size_t>(cc * cr) * 25, 0.0);
            const LevelView fv{&eq, &f.layout, &f.free, &f.stencil};
            // Coarse equation of node (I, J): the fine equations of the fine
            // nodes interpolated from it, weighted as the interpolation
            // weights them, on the coarse nodes interpolated to the fine
            // nodes those equations reach. Anchors take no part: they neither
            // receive a correction nor carry an equation.
            Level& cl = *c;
            team.for_each_chunk(static_cast<std::size_t>(cr), rows_per_chunk(cc), [&](std::size_t r0, std::size_t r1) {
                for (auto J = static_cast<std::int64_t>(r0); J < static_cast<std::int64_t>(r1); ++J)
                    for (std::int64_t I = 0; I < cc; ++I) {
                        double* out = cl.stencil.data() + static_cast<std::size_t>(I + J * cc) * 25;
                        for (const auto& [fj, wj] : f.sources_j[static_cast<std::size_t>(J)])
                            for (const auto& [fi, wi] : f.sources_i[static_cast<std::size_t>(I)]) {
                                if (!f.free[f.layout.at(fi, fj)]) continue;
                                const double* a = fv.equation(fi, fj);
                                for (int k = 0; k < 25; ++k) {
                                    if (a[k] == 0.0) continue;
                                    const std::int64_t gi = fi + dc_of(k), gj = fj + dr_of(k);
                                    if (!f.free[f.layout.at(gi, gj)]) continue;
                                    const double w = wi * wj * a[k];
                                    const Taps& ti = f.taps_i[static_cast<std::size_t>(gi)];
                                    const Taps& tj = f.taps_j[static_cast<std::size_t>(gj)];
                                    for (int y = 0; y < tj.n; ++y)
                                        for (int x = 0; x < ti.n; ++x) {
                                            // The reach of the interpolation and of
                                            // the equations keeps every coarse
                                            // neighbour within two nodes.
                                            const auto di = static_cast<int>(ti.c[x] - I);
                                            const auto dj = static_cast<int>(tj.c[y] - J);
                                            out[(di + 2) + 5 * (dj + 2)] += w * ti.w[x] * tj.w[y];
                                        }
                                }
                            }
                        cl.free[cl.layout.at(I, J)] = out[12] != 0.0 ? 1 : 0;
                    }
            });
            mg.levels_.push_back(std::move(c));
        }
        // Inverse diagonals for the smoothing.
        for (auto& lp : mg.levels_) {
            Level& l = *lp;
            l.inverse_diagonal.assign(l.layout.size(), 0.0);
            const LevelView v{&eq, &l.layout, &l.free, &l.stencil};
            for (std::int64_t j = 0; j < l.layout.nr; ++j)
                for (std::int64_t i = 0; i < l.layout.nc; ++i)
                    if (l.free[l.layout.at(i, j)]) l.inverse_diagonal[l.layout.at(i, j)] = 1.0 / v.equation(i, j)[12];
        }
        // The coarsest lattice, factored densely with partial pivoting: its
        // equations inherit the near-singularity of a fine system whose few
        // anchors lie far from the lattice's corners, which elimination
        // without pivoting does not survive.
        Level& last = *mg.levels_.back();
        std::vector<std::int64_t> index(last.layout.size(), -1);
        for (std::int64_t j = 0; j < last.layout.nr; ++j)
            for (std::int64_t i = 0; i < last.layout.nc; ++i)
                if (last.free[last.layout.at(i, j)]) {
                    index[last.layout.at(i, j)] = static_cast<std::int64_t>(mg.coarsest_nodes_.size());
                    mg.coarsest_nodes_.push_back(static_cast<std::uint32_t>(last.layout.at(i, j)));
                }
        const std::size_t n = mg.coarsest_nodes_.size();
        std::vector<double>& a = mg.coarsest_;
        a.assign(n * n, 0.0);
        const LevelView v{&eq, &last.layout, &last.free, &last.stencil};
        for (std::size_t r = 0; r < n; ++r) {
            const std::int64_t id = mg.coarsest_nodes_[r];
            const std::int64_t i = id % last.layout.stride() - 2, j = id / last.layout.stride() - 2;
            const double* e = v.equation(i, j);
            for (int k = 0; k < 25; ++k) {
                if (e[k] == 0.0) continue;
                const std::int64_t c = index[last.layout.at(i + dc_of(k), j + dr_of(k))];
                if (c >= 0) a[r * n + static_cast<std::size_t>(c)] += e[k];
            }
        }
        mg.coarsest_pivot_.resize(n);
        for (std::size_t k = 0; k < n; ++k) {
            std::size_t p = k;
            for (std::size_t r = k + 1; r < n; ++r)
                if (std::fabs(a[r * n + k]) > std::fabs(a[p * n + k])) p = r;
            mg.coarsest_pivot_[k] = static_cast<std::uint32_t>(p);
            if (p != k)
                for (std::size_t c = 0; c < n; ++c) std::swap(a[k * n + c], a[p * n + c]);
            const double pivot = a[k * n + k];
            if (!(std::fabs(pivot) > 0.0) || !std::isfinite(pivot)) {
                // Exactly singular: the smoothing alone serves the coarsest.
                a.clear();
                mg.coarsest_pivot_.clear();
                break;
            }
            for (std::size_t r = k + 1; r < n; ++r) {
                const double m = a[r * n + k] / pivot;
                a[r * n + k] = m;
                if (m == 0.0) continue;
                for (std::size_t c = k + 1; c < n; ++c) a[r * n + c] -= m * a[k * n + c];
            }
        }
    } catch (const std::bad_alloc&) {
        return std::nullopt;
    }
    return mg;
}

namespace {

/// Work vectors of one cycle, per level.
struct CycleWork {
    std::vector<std::vector<double>> x, b, r;
};

}  // namespace

void MinCurvatureMultigrid::apply(parallel::Team& team, const double* r_in, double* z) const {
    const std::size_t levels = levels_.size();
    CycleWork w;
    w.x.resize(levels);
    w.b.resize(levels);
    w.r.resize(levels);
    for (std::size_t l = 0; l < levels; ++l) {
        const std::size_t size = levels_[l]->layout.size();
        w.r[l].assign(size, 0.0);
        if (l > 0) {
            w.x[l].assign(size, 0.0);
            w.b[l].assign(size, 0.0);
        }
    }

    auto view = [&](std::size_t l) {
        const Level& lv = *levels_[l];
        return LevelView{fine_, &lv.layout, &lv.free, &lv.stencil};
    };
    // Gauss-Seidel by blocks of `kBlockRows` rows in two colours: the even
    // blocks, then the odd ones (in the backward direction the odd blocks
    // first, and each block backward). A block's equations reach two rows
    // into the blocks beside it, which are of the other colour, so the
    // blocks of one colour are relaxed independently, each node by node in
    // order, and the partition does not depend on the threads.
    auto smooth = [&](std::size_t l, double* x, const double* b, int sweeps, bool backward) {
        const Level& lv = *levels_[l];
        const LevelView v = view(l);
        const std::int64_t nc = lv.layout.nc, nr = lv.layout.nr;
        const std::int64_t blocks = (nr + kBlockRows - 1) / kBlockRows;
        auto relax = [&](std::int64_t i, std::int64_t j) {
            const std::size_t id = lv.layout.at(i, j);
            if (lv.free[id]) x[id] += (b[id] - v.lhs(x, i, j)) * lv.inverse_diagonal[id];
        };
        for (int s = 0; s < sweeps; ++s)
            for (int q = 0; q < 2; ++q) {
                const std::int64_t colour = backward ? 1 - q : q;
                const std::int64_t count = (blocks - colour + 1) / 2;
                if (count <= 0) continue;
                team.for_each_chunk(static_cast<std::size_t>(count), rows_per_chunk(nc * kBlockRows),
                                    [&](std::size_t a, std::size_t e) {
                                        for (std::size_t t = a; t < e; ++t) {
                                            const std::int64_t j0 = (2 * static_cast<std::int64_t>(t) + colour) * kBlockRows;
                                            const std::int64_t j1 = std::min(nr, j0 + kBlockRows);
                                            if (!backward) {
                                                for (std::int64_t j = j0; j < j1; ++j)
                                                    for (std::int64_t i = 0; i < nc; ++i) relax(i, j);
                                            } else {
                                                for (std::int64_t j = j1; j-- > j0;)
                                                    for (std::int64_t i = nc; i-- > 0;) relax(i, j);
                                            }
                                        }
                                    });
            }
    };
    auto residual = [&](std::size_t l, const double* x, const double* b, double* r) {
        const Level& lv = *levels_[l];
        const LevelView v = view(l);
        team.for_each_chunk(static_cast<std::size_t>(lv.layout.nr), rows_per_chunk(lv.layout.nc),
                            [&](std::size_t a, std::size_t e) {
                                for (auto j = static_cast<std::int64_t>(a); j < static_cast<std::int64_t>(e); ++j)
                                    for (std::int64_t i = 0; i < lv.layout.nc; ++i) {
                                        const std::size_t id = lv.layout.at(i, j);
                                        r[id] = lv.free[id] ? b[id] - v.lhs(x, i, j) : 0.0;
                                    }
                            });
    };
    // b_c = interpolation transposed, applied to the fine residual.
    auto restrict_to = [&](std::size_t l, const double* r, double* bc) {
        const Level& f = *levels_[l];
        const Level& c = *levels_[l + 1];
        team.for_each_chunk(static_cast<std::size_t>(c.layout.nr), rows_per_chunk(c.layout.nc),
                            [&](std::size_t a, std::size_t e) {
                                for (auto J = static_cast<std::int64_t>(a); J < static_cast<std::int64_t>(e); ++J)
                                    for (std::int64_t I = 0; I < c.layout.nc; ++I) {
                                        double sum = 0.0;
                                        for (const auto& [fj, wj] : f.sources_j[static_cast<std::size_t>(J)]) {
                                            double row = 0.0;
                                            for (const auto& [fi, wi] : f.sources_i[static_cast<std::size_t>(I)])
                                                row += wi * r[f.layout.at(fi, fj)];
                                            sum += wj * row;
                                        }
                                        const std::size_t id = c.layout.at(I, J);
                                        bc[id] = c.free[id] ? sum : 0.0;
                                    }
                            });
    };
    // x += interpolation of the coarse correction, at free nodes.
    auto correct = [&](std::size_t l, double* x, const double* xc) {
        const Level& f = *levels_[l];
        const Level& c = *levels_[l + 1];
        team.for_each_chunk(static_cast<std::size_t>(f.layout.nr), rows_per_chunk(f.layout.nc),
                            [&](std::size_t a, std::size_t e) {
                                for (auto j = static_cast<std::int64_t>(a); j < static_cast<std::int64_t>(e); ++j) {
                                    const Taps& tj = f.taps_j[static_cast<std::size_t>(j)];
                                    for (std::int64_t i = 0; i < f.layout.nc; ++i) {
                                        const std::size_t id = f.layout.at(i, j);
                                        if (!f.free[id]) continue;
                                        const Taps& ti = f.taps_i[static_cast<std::size_t>(i)];
                                        double sum = 0.0;
                                        for (int y = 0; y < tj.n; ++y) {
                                            double row = 0.0;
                                            for (int q = 0; q < ti.n; ++q)
                                                row += ti.w[q] * xc[c.layout.at(ti.c[q], tj.c[y])];
                                            sum += tj.w[y] * row;
                                        }
                                        x[id] += sum;
                                    }
                                }
                            });
    };
    auto solve_coarsest = [&](std::size_t l, double* x, const double* b) {
        const Level& lv = *levels_[l];
        if (coarsest_.empty()) {
            smooth(l, x, b, 8, false);
            smooth(l, x, b, 8, true);
            return;
        }
        const std::size_t n = coarsest_nodes_.size();
        std::vector<double> y(n);
        for (std::size_t k = 0; k < n; ++k) y[k] = b[coarsest_nodes_[k]];
        for (std::size_t k = 0; k < n; ++k) std::swap(y[k], y[coarsest_pivot_[k]]);
        for (std::size_t r = 0; r < n; ++r) {
            double s = y[r];
            for (std::size_t c = 0; c < r; ++c) s -= coarsest_[r * n + c] * y[c];
            y[r] = s;
        }
        for (std::size_t r = n; r-- > 0;) {
            double s = y[r];
            for (std::size_t c = r + 1; c < n; ++c) s -= coarsest_[r * n + c] * y[c];
            y[r] = s / coarsest_[r * n + r];
        }
        std::fill(x, x + lv.layout.size(), 0.0);
        for (std::size_t k = 0; k < n; ++k) x[coarsest_nodes_[k]] = y[k];
    };
    auto cycle = [&](auto&& self, std::size_t l, double* x, const double* b) -> void {
        if (l + 1 == levels) {
            solve_coarsest(l, x, b);
            return;
        }
        smooth(l, x, b, kPreSweeps, false);
        residual(l, x, b, w.r[l].data());
        restrict_to(l, w.r[l].data(), w.b[l + 1].data());
        std::fill(w.x[l + 1].begin(), w.x[l + 1].end(), 0.0);
        // The coarsest solve is exact: visiting it twice gains nothing.
        const int visits = l + 2 == levels ? 1 : kCoarseVisits;
        for (int v = 0; v < visits; ++v) self(self, l + 1, w.x[l + 1].data(), w.b[l + 1].data());
        correct(l, x, w.x[l + 1].data());
        smooth(l, x, b, kPostSweeps, true);
    };
    std::fill(z, z + levels_.front()->layout.size(), 0.0);
    cycle(cycle, 0, z, r_in);
}

// ---------------------------------------------------------------- GMRES

namespace {

std::size_t sum_chunks(std::size_t size) { return (size + kSumChunk - 1) / kSumChunk; }

/// h[q] = sum of v[q][k] * w[k] for q < count, each summed over fixed chunks.
void dots(parallel::Team& team, const std::vector<std::vector<double>>& v, std::size_t count, const double* w,
          std::size_t size, std::vector<double>& partial, double* h) {
    const std::size_t chunks = sum_chunks(size);
    partial.assign(chunks * count, 0.0);
    team.for_each_chunk(chunks, 1, [&](std::size_t c0, std::size_t c1) {
        for (std::size_t c = c0; c < c1; ++c) {
            const std::size_t a = c * kSumChunk, e = std::min(size, a + kSumChunk);
            for (std::size_t q = 0; q < count; ++q) {
                const double* vq = v[q].data();
                double s = 0.0;
                for (std::size_t k = a; k < e; ++k) s += vq[k] * w[k];
                partial[c * count + q] = s;
            }
        }
    });
    for (std::size_t q = 0; q < count; ++q) {
        double s = 0.0;
        for (std::size_t c = 0; c < chunks; ++c) s += partial[c * count + q];
        h[q] = s;
    }
}

}  // namespace

double dot(parallel::Team& team, std::span<const double> a, std::span<const double> b) {
    const std::size_t size = a.size(), chunks = sum_chunks(size);
    std::vector<double> partial(chunks, 0.0);
    team.for_each_chunk(chunks, 1, [&](std::size_t c0, std::size_t c1) {
        for (std::size_t c = c0; c < c1; ++c) {
            const std::size_t s0 = c * kSumChunk, e = std::min(size, s0 + kSumChunk);
            double s = 0.0;
            for (std::size_t k = s0; k < e; ++k) s += a[k] * b[k];
            partial[c] = s;
        }
    });
    double s = 0.0;
    for (double p : partial) s += p;
    return s;
}

KrylovOutcome gmres(parallel::Team& team, const std::function<void(const double*, double*)>& apply_a,
                    const std::function<void(const double*, double*)>& precondition,
                    const std::function<void(const double*, double*)>& residual, std::span<double> x,
                    double tolerance, std::size_t restart, std::size_t max_iterations) {
    const std::size_t size = x.size();
    restart = std::clamp<std::size_t>(restart, 1, 1000);
    KrylovOutcome out;
    std::vector<std::vector<double>> v(restart + 1);
    std::vector<double> z(size), w(size), partial;
    std::vector<double> hess((restart + 1) * restart), cs(restart), sn(restart), g(restart + 1), h(restart + 1),
        h2(restart + 1), y(restart);
    auto for_elements = [&](auto&& body) {
        team.for_each_chunk(size, kSumChunk, [&](std::size_t a, std::size_t e) {
            for (std::size_t k = a; k < e; ++k) body(k);
        });
    };
    auto true_residual = [&](double* r) {
        residual(x.data(), r);
        return std::sqrt(dot(team, {r, size}, {r, size}));
    };

    v[0].assign(size, 0.0);
    double beta = true_residual(v[0].data());
    out.residual = beta;
    double cycle_start = beta;
    while (beta > tolerance && out.iterations < max_iterations) {
        for_elements([&, inv = 1.0 / beta](std::size_t k) { v[0][k] *= inv; });
        std::fill(g.begin(), g.end(), 0.0);
        g[0] = beta;
        std::size_t m = 0;
        for (; m < restart && out.iterations < max_iterations; ++m) {
            ++out.iterations;
            precondition(v[m].data(), z.data());
            apply_a(z.data(), w.data());
            // Classical Gram-Schmidt, twice: each pass one sweep of sums.
            for (int pass = 0; pass < 2; ++pass) {
                double* hp = pass == 0 ? h.data() : h2.data();
                dots(team, v, m + 1, w.data(), size, partial, hp);
                for_elements([&](std::size_t k) {
                    double s = w[k];
                    for (std::size_t q = 0; q <= m; ++q) s -= hp[q] * v[q][k];
                    w[k] = s;
                });
            }
            for (std::size_t q = 0; q <= m; ++q) h[q] += h2[q];
            const double norm = std::sqrt(dot(team, w, w));
            h[m + 1] = norm;
            if (v[m + 1].size() != size) v[m + 1].assign(size, 0.0);
            if (norm > 0.0)
                for_elements([&, inv = 1.0 / norm](std::size_t k) { v[m + 1][k] = w[k] * inv; });
            // The new column of the Hessenberg matrix, rotated by the earlier
            // rotations, and the rotation that clears its last entry.
            for (std::size_t q = 0; q < m; ++q) {
                const double a = h[q], c = h[q + 1];
                h[q] = cs[q] * a + sn[q] * c;
                h[q + 1] = -sn[q] * a + cs[q] * c;
            }
            const double r = std::hypot(h[m], h[m + 1]);
            cs[m] = r > 0.0 ? h[m] / r : 1.0;
            sn[m] = r > 0.0 ? h[m + 1] / r : 0.0;
            h[m] = r;
            h[m + 1] = 0.0;
            g[m + 1] = -sn[m] * g[m];
            g[m] = cs[m] * g[m];
            for (std::size_t q = 0; q <= m; ++q) hess[q * restart + m] = h[q];
            if (std::fabs(g[m + 1]) <= tolerance || norm == 0.0 || !std::isfinite(g[m + 1])) {
                ++m;
                break;
            }
        }
        // x += M^-1 (V y), y from the triangular system.
        for (std::size_t q = m; q-- > 0;) {
            double s = g[q];
            for (std::size_t c = q + 1; c < m; ++c) s -= hess[q * restart + c] * y[c];
            y[q] = hess[q * restart + q] != 0.0 ? s / hess[q * restart + q] : 0.0;
        }
        for_elements([&](std::size_t k) {
            double s = 0.0;
            for (std::size_t q = 0; q < m; ++q) s += y[q] * v[q][k];
            w[k] = s;
        });
        precondition(w.data(), z.data());
        for_elements([&](std::size_t k) { x[k] += z[k]; });
        beta = true_residual(v[0].data());
        // GMRES lowers the residual over each cycle in exact arithmetic; a
        // cycle that raised it instead (a preconditioner whose corrections
        // rounding swamps) is undone, and the caller may go on with another.
        if (!(beta < cycle_start)) {
            for_elements([&](std::size_t k) { x[k] -= z[k]; });
            out.unstable = true;
            break;
        }
        out.residual = beta;
        // A cycle that no longer gains is the end of what this
        // preconditioner can do.
        if (beta > 0.99 * cycle_start) break;
        cycle_start = beta;
    }
    out.converged = out.residual <= tolerance;
    return out;
}

}  // namespace vz::gridding
