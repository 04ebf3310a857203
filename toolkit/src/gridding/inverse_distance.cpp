#include <algorithm>
#include <cstddef>
#include <vector>

#include "gridding/grid.hpp"
#include "parallel/parallel_for.hpp"

namespace vz::gridding {

namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

/// Two doubles operated on element-wise; every target has instructions for
/// them, and four of them per block keep the divider and adders busy.
typedef double Pair __attribute__((vector_size(2 * sizeof(double))));
constexpr std::size_t kWidth = 2;
constexpr std::size_t kGroups = 4;
constexpr std::size_t kLanes = kWidth * kGroups;

/// The usable samples as three parallel arrays, in input order.
struct Columns {
    std::vector<double> x, y, z;
};

Columns finite_columns(std::span<const Sample> samples) {
    Columns c;
    c.x.reserve(samples.size());
    c.y.reserve(samples.size());
    c.z.reserve(samples.size());
    for (const Sample& s : samples) {
        if (!finite_sample(s)) continue;
        c.x.push_back(s[0]);
        c.y.push_back(s[1]);
        c.z.push_back(s[2]);
    }
    return c;
}

/// One node by the plain walk: the first sample at squared distance exactly 0
/// decides the node; otherwise the weighted mean with weights 1 / d^2.
double node_value(const Columns& c, double px, double py) {
    double sum = 0.0, total = 0.0;
    const std::size_t n = c.x.size();
    for (std::size_t k = 0; k < n; ++k) {
        const double dx = c.x[k] - px, dy = c.y[k] - py;
        const double d2 = dx * dx + dy * dy;
        if (d2 == 0.0) return c.z[k];
        const double w = 1.0 / d2;
        sum += w * c.z[k];
        total += w;
    }
    return total > 0.0 ? sum / total : kNaN;
}

}  // namespace

Array2 inverse_distance(std::span<const Sample> samples, const Lattice& lattice) {
    Array2 out = Array2::filled(lattice.ncol, lattice.nrow, kNaN);
    if (lattice.nrow == 0 || lattice.ncol == 0) return out;
    const Columns c = finite_columns(samples);
    if (c.x.empty()) return out;
    const std::size_t n = c.x.size();

    // Nodes are processed in blocks of kLanes; each node keeps its own sums,
    // accumulated over the samples in input order, so the values are exactly
    // those of the plain walk while the lanes run as vectors (element-wise
    // IEEE operations, the same for every lane). A lane that met a squared
    // distance of exactly 0 is redone by the plain walk, which finds the first
    // exact hit in input order. Nodes are independent, so threads take ranges
    // of them (rows outer, columns inner: node = j * ncol + i) and each writes
    // only its own nodes.
    auto nodes_range = [&](std::uint64_t node, std::uint64_t end) {
        while (node < end) {
            const std::size_t lanes = static_cast<std::size_t>(std::min<std::uint64_t>(kLanes, end - node));
            Pair px[kGroups], py[kGroups], sum[kGroups], total[kGroups], dmin[kGroups];
            std::uint64_t ii[kLanes], jj[kLanes];
            for (std::size_t l = 0; l < kLanes; ++l) {
                const std::uint64_t id = node + std::min(l, lanes - 1);
                ii[l] = id % lattice.ncol;
                jj[l] = id / lattice.ncol;
                auto [x, y] = node_xy(lattice, ii[l], jj[l]);
                px[l / kWidth][l % kWidth] = x;
                py[l / kWidth][l % kWidth] = y;
            }
            for (std::size_t g = 0; g < kGroups; ++g) {
                sum[g] = Pair{0.0, 0.0};
                total[g] = Pair{0.0, 0.0};
                dmin[g] = Pair{1.0, 1.0};
            }
            for (std::size_t k = 0; k < n; ++k) {
                const double sx = c.x[k], sy = c.y[k], sz = c.z[k];
#pragma GCC unroll 4
                for (std::size_t g = 0; g < kGroups; ++g) {
                    const Pair dx = sx - px[g], dy = sy - py[g];
                    const Pair d2 = dx * dx + dy * dy;
                    const Pair w = 1.0 / d2;
                    sum[g] += w * sz;
                    total[g] += w;
                    dmin[g] = d2 < dmin[g] ? d2 : dmin[g];
                }
            }
            for (std::size_t l = 0; l < lanes; ++l) {
                const std::size_t g = l / kWidth, e = l % kWidth;
                double v;
                if (dmin[g][e] == 0.0)
                    v = node_value(c, px[g][e], py[g][e]);
                else
                    v = total[g][e] > 0.0 ? sum[g][e] / total[g][e] : kNaN;
                out(ii[l], jj[l]) = v;
            }
            node += lanes;
        }
    };
    // About ten operations per node and sample; chunks are whole lane blocks.
    const std::size_t per_chunk = parallel::chunk_items(10 * std::uint64_t{n});
    const std::size_t chunk = (per_chunk + kLanes - 1) / kLanes * kLanes;
    parallel::for_each_chunk(static_cast<std::size_t>(lattice.ncol * lattice.nrow), chunk,
                             [&](std::size_t begin, std::size_t end) { nodes_range(begin, end); });
    return out;
}

}  // namespace vz::gridding
