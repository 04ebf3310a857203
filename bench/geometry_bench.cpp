// Benchmarks of the geometry foundations: Delaunay triangulation, the planar
// point index and the 3-D box index.

#include <benchmark/benchmark.h>

#include <array>
#include <cmath>
#include <random>
#include <vector>

#include "core/geometry/delaunay.hpp"
#include "core/geometry/predicates.hpp"
#include "core/geometry/spatial_index.hpp"

namespace {

using vz::geometry::Box3;
using vz::geometry::BoxIndex3;
using vz::geometry::PointIndex;

std::vector<std::array<double, 2>> random_points(std::size_t n, std::uint64_t seed) {
    std::mt19937_64 rng(seed);
    std::uniform_real_distribution<double> u(0.0, 1000.0);
    std::vector<std::array<double, 2>> p(n);
    for (auto& q : p) q = {u(rng), u(rng)};
    return p;
}

/// A rotated world lattice expressed in cell units, as the point-set
/// triangulation feeds it: nearly cocircular everywhere.
std::vector<std::array<double, 2>> lattice_cell_units(int ni, int nj, double angle) {
    std::vector<std::array<double, 2>> p;
    p.reserve(std::size_t(ni) * nj);
    const double c = std::cos(angle), s = std::sin(angle), step = 25.0;
    for (int j = 0; j < nj; ++j) {
        for (int i = 0; i < ni; ++i) {
            const double x = 456789.0 + (i * c - j * s) * step;
            const double y = 6543210.0 + (i * s + j * c) * step;
            p.push_back({(x * c + y * s) / step, (-x * s + y * c) / step});
        }
    }
    return p;
}

void BM_DelaunayRandom(benchmark::State& state) {
    const auto pts = random_points(static_cast<std::size_t>(state.range(0)), 1);
    for (auto _ : state) {
        auto tris = vz::geometry::delaunay_triangulate(pts);
        benchmark::DoNotOptimize(tris);
    }
    state.SetItemsProcessed(state.iterations() * state.range(0));
}
BENCHMARK(BM_DelaunayRandom)->Arg(100000)->Arg(1000000)->Unit(benchmark::kMillisecond);

void BM_DelaunayLatticeExact(benchmark::State& state) {
    // An exact integer lattice: every cell is exactly cocircular.
    const int n = static_cast<int>(state.range(0));
    std::vector<std::array<double, 2>> pts;
    pts.reserve(std::size_t(n) * n);
    for (int j = 0; j < n; ++j)
        for (int i = 0; i < n; ++i) pts.push_back({double(i), double(j)});
    for (auto _ : state) {
        auto tris = vz::geometry::delaunay_triangulate(pts);
        benchmark::DoNotOptimize(tris);
    }
    state.SetItemsProcessed(state.iterations() * n * n);
}
BENCHMARK(BM_DelaunayLatticeExact)->Arg(1000)->Unit(benchmark::kMillisecond);

void BM_DelaunayLatticeRotated(benchmark::State& state) {
    const int n = static_cast<int>(state.range(0));
    const auto pts = lattice_cell_units(n, n, 0.37);
    for (auto _ : state) {
        auto tris = vz::geometry::delaunay_triangulate(pts);
        benchmark::DoNotOptimize(tris);
    }
    state.SetItemsProcessed(state.iterations() * n * n);
}
BENCHMARK(BM_DelaunayLatticeRotated)->Arg(1000)->Unit(benchmark::kMillisecond);

void BM_PointIndexBulkLoad(benchmark::State& state) {
    const auto pts = random_points(static_cast<std::size_t>(state.range(0)), 2);
    for (auto _ : state) {
        auto index = PointIndex::bulk_load(pts);
        benchmark::DoNotOptimize(index);
    }
    state.SetItemsProcessed(state.iterations() * state.range(0));
}
BENCHMARK(BM_PointIndexBulkLoad)->Arg(1000000)->Unit(benchmark::kMillisecond);

void BM_PointIndexNearest(benchmark::State& state) {
    // 1M nearest queries against 1M points.
    const auto pts = random_points(1000000, 3);
    const auto queries = random_points(static_cast<std::size_t>(state.range(0)), 4);
    const PointIndex index = PointIndex::bulk_load(pts);
    for (auto _ : state) {
        std::size_t sum = 0;
        for (const auto& q : queries) sum += index.nearest(q[0], q[1])->index;
        benchmark::DoNotOptimize(sum);
    }
    state.SetItemsProcessed(state.iterations() * state.range(0));
}
BENCHMARK(BM_PointIndexNearest)->Arg(1000000)->Unit(benchmark::kMillisecond);

void BM_PointIndexNearestKOnLattice(benchmark::State& state) {
    // 13 nearest around lattice nodes: the tie-heavy case of neighbour searches.
    std::vector<std::array<double, 2>> pts;
    for (int j = 0; j < 500; ++j)
        for (int i = 0; i < 500; ++i) pts.push_back({i * 25.0, j * 25.0});
    const PointIndex index = PointIndex::bulk_load(pts);
    for (auto _ : state) {
        std::size_t sum = 0;
        for (std::size_t k = 0; k < pts.size(); k += 7) sum += index.nearest_k(pts[k][0], pts[k][1], 13).size();
        benchmark::DoNotOptimize(sum);
    }
    state.SetItemsProcessed(state.iterations() * static_cast<std::int64_t>(pts.size() / 7));
}
BENCHMARK(BM_PointIndexNearestKOnLattice)->Unit(benchmark::kMillisecond);

/// Padded boxes of the triangles of an n × n node surface (2 (n-1)² boxes).
std::vector<Box3> surface_boxes(int n) {
    std::vector<Box3> boxes;
    boxes.reserve(2 * std::size_t(n - 1) * (n - 1));
    auto z = [](double x, double y) { return 100.0 * std::sin(x * 0.001) * std::cos(y * 0.0013); };
    const double h = 10.0, tol = 0.01;
    for (int j = 0; j + 1 < n; ++j) {
        for (int i = 0; i + 1 < n; ++i) {
            const double x0 = i * h, y0 = j * h, x1 = x0 + h, y1 = y0 + h;
            const double z00 = z(x0, y0), z10 = z(x1, y0), z01 = z(x0, y1), z11 = z(x1, y1);
            for (int t = 0; t < 2; ++t) {
                const double za = z00, zb = t == 0 ? z10 : z11, zc = t == 0 ? z11 : z01;
                boxes.push_back({{x0 - tol, y0 - tol, std::min({za, zb, zc}) - tol},
                                 {x1 + tol, y1 + tol, std::max({za, zb, zc}) + tol}});
            }
        }
    }
    return boxes;
}

void BM_BoxIndex3BulkLoad(benchmark::State& state) {
    const auto boxes = surface_boxes(static_cast<int>(state.range(0)));
    for (auto _ : state) {
        auto index = BoxIndex3::bulk_load(boxes);
        benchmark::DoNotOptimize(index);
    }
    state.SetItemsProcessed(state.iterations() * static_cast<std::int64_t>(boxes.size()));
}
BENCHMARK(BM_BoxIndex3BulkLoad)->Arg(1001)->Unit(benchmark::kMillisecond);

void BM_BoxIndex3Query(benchmark::State& state) {
    // Short vertical well segments through a 2M-triangle surface.
    const auto boxes = surface_boxes(1001);
    const BoxIndex3 index = BoxIndex3::bulk_load(boxes);
    std::mt19937_64 rng(5);
    std::uniform_real_distribution<double> u(0.0, 10000.0);
    std::vector<Box3> queries(100000);
    for (auto& q : queries) {
        const double x = u(rng), y = u(rng), z0 = u(rng) * 0.02 - 100.0;
        q = {{x - 0.01, y - 0.01, z0}, {x + 2.0, y + 2.0, z0 + 3.0}};
    }
    std::vector<std::size_t> out;
    for (auto _ : state) {
        std::size_t hits = 0;
        for (const auto& q : queries) {
            index.query(q, out);
            hits += out.size();
        }
        benchmark::DoNotOptimize(hits);
    }
    state.SetItemsProcessed(state.iterations() * static_cast<std::int64_t>(queries.size()));
}
BENCHMARK(BM_BoxIndex3Query)->Unit(benchmark::kMillisecond);

void BM_Incircle(benchmark::State& state) {
    // Mixed: half general position, half exactly cocircular lattice cells.
    const auto pts = random_points(4096, 6);
    for (auto _ : state) {
        double s = 0.0;
        for (std::size_t k = 0; k + 3 < pts.size(); k += 4) {
            s += vz::geometry::incircle(pts[k], pts[k + 1], pts[k + 2], pts[k + 3]);
            const double x = pts[k][0], y = pts[k][1];
            s += vz::geometry::incircle(x, y, x + 1.0, y, x + 1.0, y + 1.0, x, y + 1.0);
        }
        benchmark::DoNotOptimize(s);
    }
    state.SetItemsProcessed(state.iterations() * 2048);
}
BENCHMARK(BM_Incircle);

}  // namespace

BENCHMARK_MAIN();
