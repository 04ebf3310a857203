#include <algorithm>
#include <cmath>
#include <cstdint>
#include <new>
#include <vector>

#include "gridding/grid.hpp"
#include "gridding/mincurv_operator.hpp"

namespace vz::gridding {

namespace {

constexpr int kMaxSweeps = 20000;
constexpr double kConvergence = 1e-6;
constexpr double kOverRelaxation = 1.5;

/// Successive over-relaxation on the minimum-curvature equation, starting
/// from the inverse-distance surface with the pinned nodes fixed at the mean
/// of their samples.
Array2 relax(std::span<const Sample> samples, const Lattice& lattice) {
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
    if (ncol < 2 || nrow < 2) return start;

    // The sweep visits rows outer and columns inner; a row-major working copy
    // keeps that walk contiguous in memory.
    const auto nc = static_cast<std::int64_t>(ncol), nr = static_cast<std::int64_t>(nrow);
    std::vector<double> z(ncol * nrow);
    std::vector<char> fixed(ncol * nrow);
    for (std::uint64_t i = 0; i < ncol; ++i)
        for (std::uint64_t j = 0; j < nrow; ++j) {
            z[j * ncol + i] = start.values[i * nrow + j];
            fixed[j * ncol + i] = count[i * nrow + j] > 0;
        }

    // Value at (k, l), extrapolating linearly past the edges, the column
    // brought inside before the row.
    auto at = [&](auto&& self, std::int64_t k, std::int64_t l) -> double {
        if (k < 0) return 2.0 * self(self, k + 1, l) - self(self, k + 2, l);
        if (k >= nc) return 2.0 * self(self, k - 1, l) - self(self, k - 2, l);
        if (l < 0) return 2.0 * self(self, k, l + 1) - self(self, k, l + 2);
        if (l >= nr) return 2.0 * self(self, k, l - 1) - self(self, k, l - 2);
        return z[static_cast<std::uint64_t>(l) * ncol + static_cast<std::uint64_t>(k)];
    };
    auto update = [&](std::uint64_t id, double e, double d, double f, double& largest) {
        const double old = z[id];
        const double c = (0.25 * e + 0.75 * (8.0 * e - 2.0 * d - f)) * 0.0625;
        const double v = old + kOverRelaxation * (c - old);
        z[id] = v;
        const double change = std::fabs(v - old);
        if (change > largest) largest = change;  // a NaN change does not count
    };

    for (int sweep = 0; sweep < kMaxSweeps; ++sweep) {
        double largest = 0.0;
        for (std::int64_t j = 0; j < nr; ++j) {
            const bool inner_row = j >= 2 && j + 2 < nr;
            for (std::int64_t i = 0; i < nc; ++i) {
                const std::uint64_t id = static_cast<std::uint64_t>(j * nc + i);
                if (fixed[id]) continue;
                if (inner_row && i >= 2 && i + 2 < nc) {
                    const double* p = &z[id];
                    const double e = p[nc] + p[-nc] + p[1] + p[-1];
                    const double d = p[nc + 1] + p[nc - 1] + p[-nc + 1] + p[-nc - 1];
                    const double f = p[2 * nc] + p[-2 * nc] + p[2] + p[-2];
                    update(id, e, d, f, largest);
                } else {
                    const double e = at(at, i, j + 1) + at(at, i, j - 1) + at(at, i + 1, j) + at(at, i - 1, j);
                    const double d =
                        at(at, i + 1, j + 1) + at(at, i - 1, j + 1) + at(at, i + 1, j - 1) + at(at, i - 1, j - 1);
                    const double f = at(at, i, j + 2) + at(at, i, j - 2) + at(at, i + 2, j) + at(at, i - 2, j);
                    update(id, e, d, f, largest);
                }
            }
        }
        if (largest < kConvergence) break;
    }
    for (std::uint64_t i = 0; i < ncol; ++i)
        for (std::uint64_t j = 0; j < nrow; ++j) start.values[i * nrow + j] = z[j * ncol + i];
    return start;
}

}  // namespace

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
    // The direct solve in band form where the band fits the budget, else in
    // sparse form. Any failure of it, running out of memory for its tables
    // included, leads to the relaxation, which needs far less memory; the
    // operator is released before relaxing.
    try {
        if (auto op = MinCurvatureOperator::factor(lattice, positions, band_budget, BeyondBudget::Sparse)) {
            if (auto solved = op->solve(z)) return std::move(*solved);
        }
    } catch (const std::bad_alloc&) {
    }
    positions = {};
    z = {};
    return relax(usable, lattice);
}

}  // namespace vz::gridding
