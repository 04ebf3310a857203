#include "gridding/band_lu.hpp"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstring>
#include <limits>
#include <new>
#include <vector>

#include "parallel/parallel_for.hpp"
#include "parallel/team.hpp"

namespace vz::gridding {

namespace {

/// Four and eight doubles operated on element-wise.
typedef double Quad __attribute__((vector_size(4 * sizeof(double))));
typedef double Oct __attribute__((vector_size(8 * sizeof(double))));

/// Rows eliminated together, and pivots applied together, by one tile.
constexpr std::size_t kTileRows = 16;
constexpr std::size_t kTilePivots = 8;

/// Looks at a row not yet published before sleeping until it is.
constexpr int kSpins = 2048;

/// Blocks of rows one thread holds under elimination at once.
constexpr std::size_t kHeldBlocks = 4;

using TileRows = double* const[kTileRows];
using TilePivots = const double* const[kTilePivots];
using TileMultipliers = const double[kTilePivots][kTileRows];

/// For every column k in [k0, k1) and every tile row r, applies the tile's
/// pivots in ascending order: rows[r][k] -= pivots[p][k] * m[p][r] for
/// p = 0, 1, … Each element sees exactly the operations, in the order, that
/// the pivot-by-pivot elimination gives it.
template <class Vec>
[[gnu::always_inline]] inline void tile_body(TileRows rows, TilePivots pivots, TileMultipliers m, std::size_t k0,
                                             std::size_t k1) {
    // The fixed loops are unrolled whatever the optimisation level, so that
    // the accumulators live in registers.
    constexpr std::size_t kWidth = sizeof(Vec) / sizeof(double);
    std::size_t k = k0;
    for (; k + kWidth <= k1; k += kWidth) {
        Vec acc[kTileRows];
#pragma GCC unroll 16
        for (std::size_t r = 0; r < kTileRows; ++r) std::memcpy(&acc[r], rows[r] + k, sizeof(Vec));
#pragma GCC unroll 8
        for (std::size_t p = 0; p < kTilePivots; ++p) {
            Vec u;
            std::memcpy(&u, pivots[p] + k, sizeof(Vec));
#pragma GCC unroll 16
            for (std::size_t r = 0; r < kTileRows; ++r) acc[r] -= u * m[p][r];
        }
#pragma GCC unroll 16
        for (std::size_t r = 0; r < kTileRows; ++r) std::memcpy(rows[r] + k, &acc[r], sizeof(Vec));
    }
    for (; k < k1; ++k)
        for (std::size_t r = 0; r < kTileRows; ++r) {
            double a = rows[r][k];
            for (std::size_t p = 0; p < kTilePivots; ++p) a -= pivots[p][k] * m[p][r];
            rows[r][k] = a;
        }
}

void tile_plain(TileRows rows, TilePivots pivots, TileMultipliers m, std::size_t k0, std::size_t k1) {
    tile_body<Quad>(rows, pivots, m, k0, k1);
}

// On x86-64 the same tile is also compiled for wider registers (more and
// longer ones) and chosen at run time where the processor has them. The
// element-wise operations, and so the results, are the same in every copy:
// products and differences are rounded one by one, never fused.
#if defined(__GNUC__) && defined(__x86_64__)
[[gnu::target("avx512f")]] void tile_avx512(TileRows rows, TilePivots pivots, TileMultipliers m, std::size_t k0,
                                            std::size_t k1) {
    tile_body<Oct>(rows, pivots, m, k0, k1);
}
[[gnu::target("avx2")]] void tile_avx2(TileRows rows, TilePivots pivots, TileMultipliers m, std::size_t k0,
                                       std::size_t k1) {
    tile_body<Quad>(rows, pivots, m, k0, k1);
}
#endif

using TileFn = void (*)(TileRows, TilePivots, TileMultipliers, std::size_t, std::size_t);

TileFn tile_for_this_processor() {
#if defined(__GNUC__) && defined(__x86_64__)
    __builtin_cpu_init();
    if (__builtin_cpu_supports("avx512f")) return tile_avx512;
    if (__builtin_cpu_supports("avx2")) return tile_avx2;
#endif
    return tile_plain;
}

void apply_tile(TileRows rows, TilePivots pivots, TileMultipliers m, std::size_t k0, std::size_t k1) {
    static const TileFn tile = tile_for_this_processor();
    tile(rows, pivots, m, k0, k1);
}

/// row_j[k] -= row_i[k] * m for k in [k0, k1).
void apply_pivot(double* row_j, const double* row_i, double m, std::size_t k0, std::size_t k1) {
    std::size_t k = k0;
    for (; k + 4 <= k1; k += 4) {
        Quad a, u;
        std::memcpy(&a, row_j + k, sizeof(Quad));
        std::memcpy(&u, row_i + k, sizeof(Quad));
        a -= u * m;
        std::memcpy(row_j + k, &a, sizeof(Quad));
    }
    for (; k < k1; ++k) row_j[k] -= row_i[k] * m;
}

}  // namespace

std::optional<std::uint64_t> band_storage_len(std::uint64_t n, std::uint64_t h) {
    std::uint64_t width = 0, len = 0;
    if (__builtin_mul_overflow(h, std::uint64_t{2}, &width) || __builtin_add_overflow(width, 1, &width) ||
        __builtin_mul_overflow(n, width, &len))
        return std::nullopt;
    return len;
}

std::optional<BandLu> BandLu::assemble_and_factor(std::span<const SparseEntry> entries, std::size_t n, std::size_t h,
                                                  double diagonal_shift) {
    const auto len = band_storage_len(n, h);
    if (!len || *len > SIZE_MAX / sizeof(double)) return std::nullopt;
    // An allocation the machine cannot back is reported as "cannot factor";
    // the caller then takes its iterative path.
    const auto count = static_cast<std::size_t>(*len);
    std::unique_ptr<double[]> storage(new (std::nothrow) double[count]);
    if (!storage) return std::nullopt;
    // Gigabytes for a large lattice: the zeros (and the first touch of every
    // page) are written by several threads.
    parallel::for_each_chunk(count, std::size_t{1} << 17, [&storage](std::size_t begin, std::size_t end) {
        std::fill(storage.get() + begin, storage.get() + end, 0.0);
    });
    BandLu m(std::move(storage), n, h);
    for (const SparseEntry& e : entries) m.at(e.row, e.col) += e.value;
    if (diagonal_shift != 0.0)
        for (std::size_t k = 0; k < n; ++k) m.at(k, k) += diagonal_shift;
    if (!m.factor()) return std::nullopt;
    return m;
}

// The elimination runs row by row: row j takes the pivots i = j - h … j - 1
// in ascending order, each pivot row final by then, computing its multiplier
// A[j][i] / A[i][i] and updating A[j][k] for k = i + 1 … i + h. Every element
// thus meets the same multipliers and updates, in the same order, as in the
// elimination pivot by pivot (which subtracts pivot i from the rows below it
// before moving to pivot i + 1), and the factors are bit for bit the same.
// Rows are handed to threads in ascending blocks; a block waits only for the
// pivot rows it needs, which blocks before it are finishing. A singular
// matrix is found whatever the order: the same pivots and multipliers are
// computed and checked.
bool BandLu::factor() {
    double maxdiag = 0.0;
    for (std::size_t k = 0; k < n_; ++k) {
        const double d = std::fabs(at(k, k));
        if (d > maxdiag) maxdiag = d;  // NaN never compares greater
    }
    const double tol = 1e-10 * maxdiag;
    const std::size_t n = n_, h = h_;
    double* const base = a_.get();
    // row(r)[c] is A[r][c] for |r - c| <= h.
    auto row = [base, h](std::size_t r) { return base + r * (2 * h) + h; };
    auto pivot_fails = [&](std::size_t i) {
        const double p = row(i)[i];
        return !std::isfinite(std::fabs(p)) || std::fabs(p) <= tol;
    };

    // Per row, once final: whether its upper part (the pivot row it lends
    // the rows below) is finite throughout.
    std::unique_ptr<unsigned char[]> finite_row(new (std::nothrow) unsigned char[n]);
    if (!finite_row) return false;
    auto finite_upper = [&](std::size_t i) -> unsigned char {
        const double* row_i = row(i);
        const std::size_t last = std::min(n - 1, i + h);
        for (std::size_t k = i; k <= last; ++k)
            if (!std::isfinite(row_i[k])) return 0;
        return 1;
    };

    // Rows [0, done) are final with their pivots checked; kFailed once a
    // pivot or multiplier failed. Each row is published as soon as it is
    // final, so that the blocks after it can go on at once.
    constexpr std::size_t kFailed = std::numeric_limits<std::size_t>::max();
    std::atomic<std::size_t> done{0};
    // Returns once done differs from `seen`: at once if it does already,
    // after looking again for a while (the next row is usually moments
    // away), else after sleeping until a row is published.
    auto wait_change = [&](std::size_t seen) {
        for (int spin = 0; spin < kSpins; ++spin) {
            if (done.load(std::memory_order_acquire) != seen) return;
            parallel::cpu_relax();
        }
        done.wait(seen, std::memory_order_acquire);
    };
    // Raises done to `rows` when it stands at `from` or above (and below
    // `rows`), keeping a failure.
    auto publish = [&](std::size_t from, std::size_t rows) {
        std::size_t d = done.load(std::memory_order_relaxed);
        while (d != kFailed && d >= from && d < rows &&
               !done.compare_exchange_weak(d, rows, std::memory_order_release, std::memory_order_relaxed)) {
        }
        done.notify_all();
    };
    auto fail = [&] {
        done.store(kFailed, std::memory_order_release);
        done.notify_all();
    };

    // Pivots [i1, i2), all before row b0, on the rows [b0, b1).
    auto eliminate_group = [&](std::size_t i1, std::size_t i2, std::size_t b0, std::size_t b1) {
        double m[kTilePivots][kTileRows] = {};
        // A zero multiplier skips its pivot in the elimination pivot by
        // pivot; in a tile it subtracts a product of 0, which changes no
        // element as long as the pivot row is finite: an element under
        // elimination is never -0 (it starts as +0 plus entries, and a
        // difference is -0 only when taken from -0). So only pivot rows with
        // an infinite or NaN element keep a group out of the tiles.
        bool tile = i2 - i1 == kTilePivots && b1 - b0 == kTileRows;
        for (std::size_t i = i1; tile && i < i2; ++i) tile = finite_row[i] != 0;
        // The multipliers, and the updates of the group's own columns that
        // the later multipliers of the group depend on.
        for (std::size_t i = i1; i < i2; ++i) {
            const double* row_i = row(i);
            const double p = row_i[i];
            const std::size_t last = std::min(n - 1, i + h);
            for (std::size_t j = b0; j < b1; ++j) {
                if (j > i + h) {  // row j's band starts after pivot i
                    tile = false;
                    continue;
                }
                double* row_j = row(j);
                const double mj = row_j[i] / p;
                if (!std::isfinite(mj)) return false;
                row_j[i] = mj;
                m[i - i1][j - b0] = mj;
                if (mj == 0.0) continue;
                apply_pivot(row_j, row_i, mj, i + 1, std::min(last, i2 - 1) + 1);
            }
        }
        // The columns from i2 on: nothing where every multiplier is 0 (the
        // rows' bands start later), one pivot at a time where few are not.
        std::size_t nonzero = 0;
        for (std::size_t q = 0; q < kTilePivots; ++q)
            for (std::size_t r = 0; r < kTileRows; ++r) nonzero += m[q][r] != 0.0;
        if (nonzero == 0) return true;
        if (nonzero < kTilePivots) tile = false;
        if (tile) {
            double* rows[kTileRows];
            const double* pivots[kTilePivots];
            for (std::size_t r = 0; r < kTileRows; ++r) rows[r] = row(b0 + r);
            for (std::size_t q = 0; q < kTilePivots; ++q) pivots[q] = row(i1 + q);
            // Columns every pivot of the group reaches, then the columns
            // only the later pivots reach.
            const std::size_t common_end = std::min(n - 1, i1 + h) + 1;
            if (i2 < common_end) apply_tile(rows, pivots, m, i2, common_end);
            for (std::size_t i = i1; i < i2; ++i) {
                const std::size_t end = std::min(n - 1, i + h) + 1;
                const std::size_t begin = std::max(i2, common_end);
                for (std::size_t r = 0; r < kTileRows; ++r)
                    if (m[i - i1][r] != 0.0)
                        apply_pivot(rows[r], pivots[i - i1], m[i - i1][r], begin, std::max(begin, end));
            }
        } else {
            for (std::size_t i = i1; i < i2; ++i) {
                const std::size_t end = std::min(n - 1, i + h) + 1;
                for (std::size_t j = b0; j < b1; ++j) {
                    if (j > i + h || m[i - i1][j - b0] == 0.0) continue;
                    apply_pivot(row(j), row(i), m[i - i1][j - b0], i2, std::max(i2, end));
                }
            }
        }
        return true;
    };

    // The rows [b0, b1) among themselves, once every pivot before b0 has
    // been applied to them: each row's pivot is checked and the row
    // published as soon as it is final.
    auto eliminate_block = [&](std::size_t b0, std::size_t b1) {
        for (std::size_t i = b0; i < b1; ++i) {
            if (pivot_fails(i)) return false;
            finite_row[i] = finite_upper(i);
            publish(i, i + 1);
            const double* row_i = row(i);
            const double p = row_i[i];
            const std::size_t last = std::min(n - 1, i + h);
            for (std::size_t j = i + 1; j < b1 && j <= last; ++j) {
                double* row_j = row(j);
                const double mj = row_j[i] / p;
                if (!std::isfinite(mj)) return false;
                row_j[i] = mj;
                if (mj != 0.0) apply_pivot(row_j, row_i, mj, i + 1, last + 1);
            }
        }
        return true;
    };

    // A block of rows under elimination: the next pivot to apply to it.
    struct Block {
        std::size_t b0 = 0, b1 = 0, next = 0;
        bool own_done = false;  // eliminated among themselves
    };
    enum class Step { Blocked, Progressed, Finished, Failed };
    // One step of a block: the next pivot group once its rows are published,
    // else the block's own elimination, else publishing the block once the
    // rows before it are.
    auto advance = [&](Block& b) {
        const std::size_t d = done.load(std::memory_order_acquire);
        if (d == kFailed) return Step::Failed;
        if (b.next < b.b0) {
            const std::size_t i2 = std::min(b.b0, b.next + kTilePivots);
            if (d < i2) return Step::Blocked;
            if (!eliminate_group(b.next, i2, b.b0, b.b1)) return Step::Failed;
            b.next = i2;
            return Step::Progressed;
        }
        if (!b.own_done) {
            if (!eliminate_block(b.b0, b.b1)) return Step::Failed;
            b.own_done = true;
            return Step::Progressed;
        }
        // Rows that did not depend on their predecessors (a diagonal
        // matrix) may be final before the blocks ahead of them.
        if (d < b.b0) return Step::Blocked;
        publish(b.b0, b.b1);
        return Step::Finished;
    };

    // Each worker takes blocks in ascending order and holds a few at once:
    // when the block it works on waits for rows still under elimination
    // elsewhere (or on a thread the system has paused), it goes on with the
    // pivots its later blocks can already take. The oldest unfinished block
    // can always go on, so the work never stalls for good.
    const std::size_t blocks = (n + kTileRows - 1) / kTileRows;
    std::atomic<std::size_t> next_block{0};
    auto worker = [&](std::size_t, std::size_t) {
        Block held[kHeldBlocks];
        std::size_t count = 0;
        bool more = true;
        for (;;) {
            const std::size_t observed = done.load(std::memory_order_acquire);
            if (observed == kFailed) return;
            // One step of the oldest block that can take one: the oldest
            // blocks hold up the others, so they come first after every step.
            bool progressed = false;
            for (std::size_t q = 0; q < count && !progressed; ++q) {
                const Step step = advance(held[q]);
                if (step == Step::Failed) {
                    fail();
                    return;
                }
                if (step == Step::Finished) {
                    std::copy(held + q + 1, held + count, held + q);
                    --count;
                }
                progressed = step != Step::Blocked;
            }
            if (progressed) continue;
            if (more && count < kHeldBlocks) {
                const std::size_t k = next_block.fetch_add(1, std::memory_order_relaxed);
                if (k < blocks) {
                    const std::size_t b0 = k * kTileRows;
                    held[count++] = Block{b0, std::min(n, b0 + kTileRows), b0 > h ? b0 - h : 0, false};
                    continue;
                }
                more = false;
            }
            if (count == 0) return;
            wait_change(observed);
        }
    };
    // Threads only where the work pays for them: a block costs about
    // kTileRows * h * h operations and hands its rows on to the next, and
    // about h / kTileRows blocks can be under way at once.
    const std::uint64_t block_work = std::uint64_t{kTileRows} * h * h;
    const bool threaded = block_work >= parallel::kMinChunkWork && blocks >= 16;
    const std::size_t workers =
        threaded ? std::min({parallel::thread_count(), std::max<std::size_t>(1, h / (2 * kTileRows)), blocks}) : 1;
    parallel::for_each_chunk(workers, 1, worker);
    factored_ = done.load(std::memory_order_acquire) == n;
    return factored_;
}

void BandLu::solve(std::span<const double> rhs, std::span<double> out) const {
    std::copy(rhs.begin(), rhs.end(), out.begin());
    // Forward substitution with unit L: each row's sum runs over its band in
    // ascending order. Rows are taken a few at a time and their sums over
    // the columns before the group advanced together, which changes no
    // operation of any row while the adder works on several sums at once.
    constexpr std::size_t kRows = 8;
    for (std::size_t i0 = 0; i0 < n_; i0 += kRows) {
        const std::size_t rows = std::min(kRows, n_ - i0);
        double sum[kRows] = {};
        const std::size_t lo = i0 > h_ ? i0 - h_ : 0;
        for (std::size_t j = lo; j < i0; ++j)
            for (std::size_t r = 0; r < rows; ++r)
                if (j + h_ >= i0 + r) sum[r] += at(i0 + r, j) * out[j];
        for (std::size_t r = 0; r < rows; ++r) {
            const std::size_t i = i0 + r;
            for (std::size_t j = std::max(i0, i > h_ ? i - h_ : 0); j < i; ++j) sum[r] += at(i, j) * out[j];
            out[i] -= sum[r];
        }
    }
    for (std::size_t i = n_; i-- > 0;) {
        const std::size_t last = std::min(n_ - 1, i + h_);
        double sum = 0.0;
        for (std::size_t k = i + 1; k <= last; ++k) sum += at(i, k) * out[k];
        out[i] = (out[i] - sum) / at(i, i);
    }
}

void BandLu::solve(parallel::Team& team, std::span<const double> rhs, std::span<double> out) const {
    // Blocks of rows: within a block the substitution runs row by row, and
    // each row's sum over the columns outside the block (all final by then)
    // is taken first, rows in parallel, each in ascending column order.
    constexpr std::size_t kBlock = 256;
    const std::size_t n = n_, h = h_;
    std::copy(rhs.begin(), rhs.end(), out.begin());
    std::vector<double> outside(kBlock);
    const std::size_t rows_per_chunk = std::max<std::size_t>(1, 16384 / std::max<std::size_t>(1, h));
    for (std::size_t i0 = 0; i0 < n; i0 += kBlock) {
        const std::size_t i1 = std::min(n, i0 + kBlock);
        team.for_each_chunk(i1 - i0, rows_per_chunk, [&](std::size_t a, std::size_t e) {
            for (std::size_t r = a; r < e; ++r) {
                const std::size_t i = i0 + r;
                double sum = 0.0;
                for (std::size_t j = i > h ? i - h : 0; j < i0; ++j) sum += at(i, j) * out[j];
                outside[r] = sum;
            }
        });
        for (std::size_t i = i0; i < i1; ++i) {
            double sum = outside[i - i0];
            for (std::size_t j = std::max(i0, i > h ? i - h : 0); j < i; ++j) sum += at(i, j) * out[j];
            out[i] -= sum;
        }
    }
    for (std::size_t i1 = n; i1 > 0;) {
        const std::size_t i0 = i1 > kBlock ? i1 - kBlock : 0;
        team.for_each_chunk(i1 - i0, rows_per_chunk, [&](std::size_t a, std::size_t e) {
            for (std::size_t r = a; r < e; ++r) {
                const std::size_t i = i0 + r;
                const std::size_t last = std::min(n - 1, i + h);
                double sum = 0.0;
                for (std::size_t k = i1; k <= last; ++k) sum += at(i, k) * out[k];
                outside[r] = sum;
            }
        });
        for (std::size_t i = i1; i-- > i0;) {
            const std::size_t last = std::min({n - 1, i + h, i1 - 1});
            double sum = outside[i - i0];
            for (std::size_t k = i + 1; k <= last; ++k) sum += at(i, k) * out[k];
            out[i] = (out[i] - sum) / at(i, i);
        }
        i1 = i0;
    }
}

}  // namespace vz::gridding
