#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <memory>
#include <new>
#include <thread>
#include <vector>

#include "gridding/grid.hpp"
#include "gridding/mincurv_operator.hpp"
#include "parallel/parallel_for.hpp"

namespace vz::gridding {

namespace {

constexpr int kMaxSweeps = 20000;
/// The relaxation stops once every residual of a sweep is at most this
/// fraction of the largest |z| of the pinned nodes.
constexpr double kResidual = 1e-9;
constexpr double kOverRelaxation = 1.5;
/// An update moves its node by this fraction of the residual of its
/// equation (16 z - 6.25 E + 1.5 D + 0.75 F): the over-relaxation factor over
/// the weight of the node itself.
constexpr double kChangePerResidual = kOverRelaxation / 16.0;

/// Rows relaxed together, each two columns behind the row above it: their
/// nodes depend on one another only through values already final, so the
/// processor overlaps their updates.
constexpr std::int64_t kGroupRows = 4;
/// Lattices with fewer nodes relax on the calling thread.
constexpr std::uint64_t kMinThreadedNodes = 16384;
/// Bands of rows are at least this tall.
constexpr std::int64_t kMinBandRows = 16;
/// Nodes a band relaxes between two looks at its neighbours.
constexpr std::int64_t kChunkNodes = 2048;
/// Looks at a band that cannot go on before taking another or yielding the
/// processor.
constexpr int kSpins = 2048;

/// The relaxation grid: values row-major (node (i, j) at j * ncol + i), so
/// that the sweep's rows are contiguous, and the nodes pinned by samples.
struct Grid {
    std::int64_t nc, nr;
    double* z;
    const char* fixed;

    /// z + 1.5 (c - z) for the value c that solves the node's own equation,
    /// from its edge (e), diagonal (d) and distance-2 (f) neighbour sums;
    /// the change raises `largest` (a NaN change does not count).
    static void update(double* p, double e, double d, double f, double& largest) {
        const double old = *p;
        const double c = (0.25 * e + 0.75 * (8.0 * e - 2.0 * d - f)) * 0.0625;
        const double v = old + kOverRelaxation * (c - old);
        *p = v;
        const double change = std::fabs(v - old);
        if (change > largest) largest = change;
    }

    /// A node two or more nodes away from every edge.
    void relax_inner(std::int64_t i, std::int64_t j, double& largest) const {
        const std::int64_t id = j * nc + i;
        if (fixed[id]) return;
        double* p = z + id;
        const double e = p[nc] + p[-nc] + p[1] + p[-1];
        const double d = p[nc + 1] + p[nc - 1] + p[-nc + 1] + p[-nc - 1];
        const double f = p[2 * nc] + p[-2 * nc] + p[2] + p[-2];
        update(p, e, d, f, largest);
    }

    /// Value at (k, l), extrapolating linearly past the edges, the column
    /// brought inside before the row.
    double at(std::int64_t k, std::int64_t l) const {
        if (k < 0) return 2.0 * at(k + 1, l) - at(k + 2, l);
        if (k >= nc) return 2.0 * at(k - 1, l) - at(k - 2, l);
        if (l < 0) return 2.0 * at(k, l + 1) - at(k, l + 2);
        if (l >= nr) return 2.0 * at(k, l - 1) - at(k, l - 2);
        return z[l * nc + k];
    }

    /// Any node; the same sums as `relax_inner`, term by term, where both
    /// apply.
    void relax_any(std::int64_t i, std::int64_t j, double& largest) const {
        if (j >= 2 && j + 2 < nr && i >= 2 && i + 2 < nc) return relax_inner(i, j, largest);
        if (fixed[j * nc + i]) return;
        const double e = at(i, j + 1) + at(i, j - 1) + at(i + 1, j) + at(i - 1, j);
        const double d = at(i + 1, j + 1) + at(i - 1, j + 1) + at(i + 1, j - 1) + at(i - 1, j - 1);
        const double f = at(i, j + 2) + at(i, j - 2) + at(i + 2, j) + at(i - 2, j);
        update(z + j * nc + i, e, d, f, largest);
    }
};

/// Steps [a, b) of the group of `rows` rows from j0: at step c, row j0 + r
/// relaxes column c - 2r. `inner` steps [lo, hi) have every row's node two
/// or more nodes from every edge.
template <std::int64_t Rows>
void relax_steps(const Grid& g, std::int64_t j0, std::int64_t a, std::int64_t b, std::int64_t lo, std::int64_t hi,
                 double& largest) {
    auto any_step = [&](std::int64_t c) {
        for (std::int64_t r = 0; r < Rows; ++r) {
            const std::int64_t i = c - 2 * r;
            if (i >= 0 && i < g.nc) g.relax_any(i, j0 + r, largest);
        }
    };
    std::int64_t c = a;
    for (; c < std::min(b, lo); ++c) any_step(c);
    double row_largest[Rows] = {};
    for (; c < std::min(b, hi); ++c) {
#pragma GCC unroll 8
        for (std::int64_t r = 0; r < Rows; ++r) g.relax_inner(c - 2 * r, j0 + r, row_largest[r]);
    }
    for (std::int64_t r = 0; r < Rows; ++r)
        if (row_largest[r] > largest) largest = row_largest[r];
    for (; c < b; ++c) any_step(c);
}

/// Steps [a, b) of the band of `height` rows from row j_begin: at band step
/// c, band row r relaxes column c - 2r. Each group of up to `kGroupRows`
/// rows in turn takes the steps; the rows of a group go together, and a
/// group reads of the group above only columns the steps have already
/// given it.
void relax_band_steps(const Grid& g, std::int64_t j_begin, std::int64_t height, std::int64_t a, std::int64_t b,
                      double& largest) {
    const std::int64_t nc = g.nc, nr = g.nr;
    for (std::int64_t r0 = 0; r0 < height; r0 += kGroupRows) {
        const std::int64_t rows = std::min(kGroupRows, height - r0);
        const std::int64_t j0 = j_begin + r0;
        const std::int64_t steps = nc + 2 * (rows - 1);
        const std::int64_t ga = std::max<std::int64_t>(0, a - 2 * r0), gb = std::min(steps, b - 2 * r0);
        if (ga >= gb) continue;
        const bool inner_rows = j0 >= 2 && j0 + rows + 2 <= nr;
        const std::int64_t lo = inner_rows ? 2 + 2 * (rows - 1) : steps;
        const std::int64_t hi = inner_rows ? std::max(lo, nc - 2) : steps;
        switch (rows) {
            case 4: relax_steps<4>(g, j0, ga, gb, lo, hi, largest); break;
            case 3: relax_steps<3>(g, j0, ga, gb, lo, hi, largest); break;
            case 2: relax_steps<2>(g, j0, ga, gb, lo, hi, largest); break;
            default: relax_steps<1>(g, j0, ga, gb, lo, hi, largest); break;
        }
    }
}

/// Successive over-relaxation of the grid's free nodes: sweeps of every row
/// in turn (rows outer, columns inner), each node taking the values of its
/// neighbours as they stand, until a sweep changes no node by more than
/// `limit`, or `max_sweeps` sweeps.
///
/// On several threads the rows are split into bands, one per thread, and
/// each band is swept as a wavefront, its rows two columns apart, a chunk of
/// columns at a time. A chunk runs once the band above has relaxed, in the
/// same sweep, every node of its last row the chunk reads, and once the band
/// below has relaxed, in the sweep before, every node of its first rows the
/// chunk reads; the band below cannot come back to those rows before this
/// band's sweep has passed them, since it waits for this band in its turn.
/// Every node thus reads exactly the values the one-thread sweep gives it,
/// and the result is the same bit for bit. The bands go on from sweep to
/// sweep without waiting for the sweep's largest change, which the last band
/// learns when it ends the sweep; the sweeps the upper bands began after the
/// sweep that converged are then undone from the copy each band keeps of its
/// rows at the start of each sweep.
///
/// A band advances by one chunk at a time through whichever thread takes it:
/// a thread keeps to its own band and takes another only when its own has
/// long been waiting, so that the work goes on even with fewer threads than
/// bands.
void sweep(Grid g, int max_sweeps, double limit) {
    const std::int64_t nc = g.nc, nr = g.nr;
    const auto nodes = static_cast<std::uint64_t>(nc) * static_cast<std::uint64_t>(nr);
    const auto sweeps = static_cast<std::uint64_t>(max_sweeps);
    constexpr std::uint64_t kNone = std::numeric_limits<std::uint64_t>::max();

    std::size_t bands = 1;
    if (nodes >= kMinThreadedNodes)
        bands = std::min<std::size_t>(parallel::thread_count(),
                                      static_cast<std::size_t>(std::max<std::int64_t>(1, nr / kMinBandRows)));
    // A band's copies of its rows, for the sweeps that may be undone: the
    // upper bands run at most one sweep ahead of the band below, so at most
    // `bands` sweeps after the one that converged. Within the memory budget;
    // without them, one band.
    const std::size_t copies = bands + 2;
    while (bands > 1 && copies * nodes > band_budget_bytes() / sizeof(double)) --bands;
    std::unique_ptr<double[]> saved;
    if (bands > 1) {
        saved.reset(new (std::nothrow) double[(bands + 2) * nodes]);
        if (!saved) bands = 1;
    }
    const std::size_t ring = bands + 2;

    struct alignas(64) Band {
        std::int64_t j_begin = 0, height = 0;
        // Columns relaxed of the band's second row and of its last row, the
        // rows that trail among those its neighbours read (the first row runs
        // two columns ahead of the second until it ends, the row before last
        // two ahead of the last), published as (sweep + 1) * (nc + 1) +
        // columns, which only grows and is above the 0 the band starts with.
        alignas(64) std::atomic<std::uint64_t> second{0};
        alignas(64) std::atomic<std::uint64_t> last{0};
        alignas(64) std::atomic<bool> busy{false};
        // Held by the thread that holds `busy`.
        std::uint64_t sweep = 0;
        std::int64_t step = 0;
        double largest = 0.0;
        std::uint64_t copied = kNone;  // latest sweep whose starting rows are copied
        bool done = false;
    };
    std::unique_ptr<Band[]> band(new Band[bands]);
    for (std::size_t k = 0; k < bands; ++k) {
        band[k].j_begin = nr * static_cast<std::int64_t>(k) / static_cast<std::int64_t>(bands);
        band[k].height = nr * static_cast<std::int64_t>(k + 1) / static_cast<std::int64_t>(bands) - band[k].j_begin;
    }
    const auto stride = static_cast<std::uint64_t>(nc) + 1;
    // Largest change of sweep s from the bands above the last, by s % ring:
    // each band adds its own before it reports its last row final, and the
    // last band, which ends every sweep after all the others, reads and
    // clears it.
    std::unique_ptr<std::atomic<double>[]> sweep_largest(new std::atomic<double>[ring]);
    for (std::size_t k = 0; k < ring; ++k) sweep_largest[k].store(0.0, std::memory_order_relaxed);
    // The first sweep that converged.
    std::atomic<std::uint64_t> converged{kNone};
    std::atomic<std::size_t> bands_done{0};

    enum class Step { Blocked, Progressed };
    // One chunk of band k, if it may go on; the caller holds its `busy`.
    auto advance = [&](std::size_t k) {
        Band& b = band[k];
        if (b.done) return Step::Blocked;
        const std::uint64_t s = b.sweep;
        if (s >= sweeps || converged.load(std::memory_order_acquire) < s) {
            b.done = true;
            bands_done.fetch_add(1, std::memory_order_release);
            return Step::Progressed;
        }
        const std::int64_t h = b.height;
        const std::int64_t steps = nc + 2 * (h - 1);
        const std::int64_t chunk = std::max<std::int64_t>(16, kChunkNodes / h);
        const std::int64_t from = b.step, to = std::min(steps, from + chunk);
        // The band above, this sweep: its last row up to column `to` (the
        // first row here relaxes up to column to - 1).
        if (k > 0 && band[k - 1].last.load(std::memory_order_acquire) <
                         (s + 1) * stride + static_cast<std::uint64_t>(std::min(to + 1, nc)))
            return Step::Blocked;
        // The band below, the sweep before: its second row up to column
        // to - 2h + 1, read by the last row here, and so its first row up to
        // column to - 2h + 3, read by the row before last.
        if (k + 1 < bands && s > 0 &&
            band[k + 1].second.load(std::memory_order_acquire) <
                s * stride + static_cast<std::uint64_t>(std::clamp<std::int64_t>(to - 2 * h + 2, 0, nc)))
            return Step::Blocked;
        if (from == 0 && saved) {
            std::memcpy(saved.get() + (s % ring) * nodes + b.j_begin * nc, g.z + b.j_begin * nc,
                        static_cast<std::size_t>(h * nc) * sizeof(double));
            b.copied = s;
        }
        relax_band_steps(g, b.j_begin, h, from, to, b.largest);
        b.step = to;
        if (to == steps) {
            if (k + 1 < bands) {
                std::atomic<double>& l = sweep_largest[s % ring];
                double cur = l.load(std::memory_order_relaxed);
                while (b.largest > cur && !l.compare_exchange_weak(cur, b.largest, std::memory_order_relaxed)) {
                }
            } else {
                const double l = std::max(b.largest, sweep_largest[s % ring].load(std::memory_order_relaxed));
                sweep_largest[s % ring].store(0.0, std::memory_order_relaxed);
                if (l <= limit) converged.store(s, std::memory_order_release);
            }
        }
        b.second.store((s + 1) * stride + static_cast<std::uint64_t>(std::clamp<std::int64_t>(to - 2, 0, nc)),
                       std::memory_order_release);
        b.last.store((s + 1) * stride + static_cast<std::uint64_t>(std::clamp<std::int64_t>(to - 2 * (h - 1), 0, nc)),
                     std::memory_order_release);
        if (to == steps) {
            b.sweep = s + 1;
            b.step = 0;
            b.largest = 0.0;
        }
        return Step::Progressed;
    };
    auto try_advance = [&](std::size_t k) {
        Band& b = band[k];
        if (b.busy.load(std::memory_order_relaxed) || b.busy.exchange(true, std::memory_order_acquire))
            return Step::Blocked;
        const Step step = advance(k);
        b.busy.store(false, std::memory_order_release);
        return step;
    };
    auto worker = [&](std::size_t home, std::size_t) {
        for (int idle = 0; bands_done.load(std::memory_order_acquire) < bands;) {
            if (try_advance(home) == Step::Progressed) {
                idle = 0;
                continue;
            }
            if (++idle < kSpins) {
                parallel::cpu_relax();
                continue;
            }
            // Long waiting: another band may lack its thread.
            bool progressed = false;
            for (std::size_t k = 0; k < bands && !progressed; ++k)
                progressed = k != home && try_advance(k) == Step::Progressed;
            if (!progressed) std::this_thread::yield();
            idle = progressed ? 0 : kSpins;
        }
    };
    parallel::for_each_chunk(bands, 1, worker);

    // Undo what the bands did after the sweep that converged.
    const std::uint64_t last = converged.load(std::memory_order_acquire);
    if (last == kNone || !saved) return;
    for (std::size_t k = 0; k < bands; ++k) {
        const Band& b = band[k];
        if (b.copied == kNone || b.copied <= last) continue;
        std::memcpy(g.z + b.j_begin * nc, saved.get() + ((last + 1) % ring) * nodes + b.j_begin * nc,
                    static_cast<std::size_t>(b.height * nc) * sizeof(double));
    }
}

}  // namespace

Array2 min_curvature_relaxation(std::span<const Sample> samples, const Lattice& lattice, int max_sweeps) {
    Array2 start = inverse_distance(samples, lattice);
    const std::uint64_t ncol = lattice.ncol, nrow = lattice.nrow;
    if (ncol == 0 || nrow == 0) return start;

    // Mean z of the samples pinned to each node, summed in input order.
    std::vector<double> sum(ncol * nrow, 0.0);
    std::vector<std::uint32_t> count(ncol * nrow, 0);
    for (const Sample& s : samples) {
        const auto node = snap_to_node(lattice, s[0], s[1]);
        if (!node) continue;
        const std::uint64_t id = node->first * nrow + node->second;
        sum[id] += s[2];
        ++count[id];
    }
    for (std::uint64_t id = 0; id < ncol * nrow; ++id)
        if (count[id] > 0) start.values[id] = sum[id] / static_cast<double>(count[id]);
    if (ncol < 2 || nrow < 2 || max_sweeps <= 0) return start;
    // A residual a sweep meets is the change it makes over
    // `kChangePerResidual`; the sweeps end once every residual of one is
    // small beside the values pinned, wherever those lie.
    double scale = 0.0;
    for (std::uint64_t id = 0; id < ncol * nrow; ++id)
        if (count[id] > 0) scale = std::max(scale, std::fabs(start.values[id]));
    const double limit = kChangePerResidual * kResidual * scale;

    std::vector<double> z(ncol * nrow);
    std::vector<char> fixed(ncol * nrow);
    for (std::uint64_t i = 0; i < ncol; ++i)
        for (std::uint64_t j = 0; j < nrow; ++j) {
            z[j * ncol + i] = start.values[i * nrow + j];
            fixed[j * ncol + i] = count[i * nrow + j] > 0;
        }
    sweep(Grid{static_cast<std::int64_t>(ncol), static_cast<std::int64_t>(nrow), z.data(), fixed.data()}, max_sweeps,
          limit);
    for (std::uint64_t i = 0; i < ncol; ++i)
        for (std::uint64_t j = 0; j < nrow; ++j) start.values[i * nrow + j] = z[j * ncol + i];
    return start;
}

Array2 min_curvature(std::span<const Sample> samples, const Lattice& lattice) {
    return min_curvature(samples, lattice, band_budget_bytes());
}

Array2 min_curvature(std::span<const Sample> samples, const Lattice& lattice, std::uint64_t band_budget) {
    // A sample with a non-finite coordinate or value would spread NaN over the
    // whole surface; such samples are left out.
    std::vector<Sample> usable;
    usable.reserve(samples.size());
    for (const Sample& s : samples)
        if (finite_sample(s)) usable.push_back(s);

    std::vector<std::array<double, 2>> positions(usable.size());
    std::vector<double> z(usable.size());
    for (std::size_t k = 0; k < usable.size(); ++k) {
        positions[k] = {usable[k][0], usable[k][1]};
        z[k] = usable[k][2];
    }
    // The direct solve in band form where the band fits the budget, else the
    // same system solved iteratively. Fewer than four anchors, a lattice
    // too small, or running out of memory for the tables lead to the
    // relaxation; the operator is released before relaxing.
    try {
        if (auto op = MinCurvatureOperator::factor(lattice, positions, band_budget, BeyondBudget::Iterate)) {
            if (auto solved = op->solve(z)) return std::move(*solved);
        }
    } catch (const std::bad_alloc&) {
    }
    positions = {};
    z = {};
    return min_curvature_relaxation(usable, lattice, kMaxSweeps);
}

}  // namespace vz::gridding
