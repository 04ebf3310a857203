// Benchmarks of the point-set triangulation (topology detection, Delaunay in
// cell units, edge rule, island removal, outline tracing, shell) and of the
// mesh-from-triangles builder on its own.

#include <benchmark/benchmark.h>

#include <array>
#include <cmath>
#include <cstdint>
#include <optional>
#include <random>
#include <vector>

#include "core/points.hpp"
#include "core/geometry/delaunay.hpp"
#include "core/shell/boundary.hpp"
#include "core/topology.hpp"
#include "core/triangulate.hpp"

namespace {

vz::PointSet random_points(std::size_t n, std::uint64_t seed) {
    std::mt19937_64 rng(seed);
    std::uniform_real_distribution<double> u(0.0, 1000.0);
    std::vector<std::array<double, 3>> p(n);
    for (auto& q : p) q = {u(rng), u(rng), u(rng)};
    return vz::PointSet::from_coords(std::move(p));
}

/// A rotated n x n lattice in world coordinates, cut through the middle by a
/// fault that throws one side half a cell.
vz::PointSet faulted_lattice(int n) {
    const double angle = 0.35, c = std::cos(angle), s = std::sin(angle), step = 25.0;
    std::vector<std::array<double, 3>> p;
    p.reserve(std::size_t(n) * n);
    for (int j = 0; j < n; ++j)
        for (int i = 0; i < n; ++i) {
            const double a = i * step;
            const double b = (j + (i >= n / 2 ? 0.5 : 0.0)) * step;
            p.push_back({456789.0 + a * c - b * s, 6543210.0 + a * s + b * c, 0.01 * i - 0.02 * j});
        }
    return vz::PointSet::from_coords(std::move(p));
}

void BM_ToTriSurfaceRandom(benchmark::State& state) {
    const auto pts = random_points(static_cast<std::size_t>(state.range(0)), 1);
    for (auto _ : state) {
        auto surface = vz::points::to_tri_surface(pts, std::nullopt, std::nullopt);
        if (!surface) state.SkipWithError(surface.error().display().c_str());
        benchmark::DoNotOptimize(surface);
    }
    state.SetItemsProcessed(state.iterations() * state.range(0));
}
BENCHMARK(BM_ToTriSurfaceRandom)->Arg(100000)->Arg(1000000)->Unit(benchmark::kMillisecond);

/// The Delaunay step of `BM_ToTriSurfaceRandom` alone: the same points in the
/// cell units of their detected lattice, as the triangulation sees them.
void BM_ToTriSurfaceRandomDelaunayStep(benchmark::State& state) {
    const auto pts = random_points(static_cast<std::size_t>(state.range(0)), 1);
    const auto detection = vz::topology::detect(pts.points, std::nullopt);
    if (!detection) {
        state.SkipWithError(detection.error().display().c_str());
        return;
    }
    const auto& rot = detection->rotation;
    std::vector<std::array<double, 2>> uv(detection->points.size());
    for (std::size_t k = 0; k < uv.size(); ++k) {
        const auto [x, y] = detection->points[k];
        uv[k] = {(x * rot[0] + y * rot[1]) / detection->step_i, (x * rot[2] + y * rot[3]) / detection->step_j};
    }
    for (auto _ : state) {
        auto triangles = vz::geometry::delaunay_triangulate(uv);
        if (!triangles) state.SkipWithError(triangles.error().display().c_str());
        benchmark::DoNotOptimize(triangles);
    }
    state.SetItemsProcessed(state.iterations() * state.range(0));
}
BENCHMARK(BM_ToTriSurfaceRandomDelaunayStep)->Arg(100000)->Arg(1000000)->Unit(benchmark::kMillisecond);

void BM_ToTriSurfaceFaultedLattice(benchmark::State& state) {
    const auto pts = faulted_lattice(static_cast<int>(state.range(0)));
    for (auto _ : state) {
        auto surface = vz::points::to_tri_surface(pts, std::nullopt, std::nullopt);
        if (!surface) state.SkipWithError(surface.error().display().c_str());
        benchmark::DoNotOptimize(surface);
    }
    state.SetItemsProcessed(state.iterations() * state.range(0) * state.range(0));
}
BENCHMARK(BM_ToTriSurfaceFaultedLattice)->Arg(1000)->Unit(benchmark::kMillisecond);

void BM_MeshFromTriangles(benchmark::State& state) {
    // A labelled n x n lattice mesh with every fifth cell left out: many holes
    // to trace.
    const auto n = static_cast<std::uint32_t>(state.range(0));
    std::vector<vz::NodeXY> nodes;
    std::vector<std::optional<vz::NodeLabel>> labels;
    for (std::uint32_t j = 0; j < n; ++j)
        for (std::uint32_t i = 0; i < n; ++i) {
            nodes.push_back({double(i), double(j)});
            labels.push_back(vz::NodeLabel{0, static_cast<std::int32_t>(i), static_cast<std::int32_t>(j)});
        }
    std::vector<vz::MeshTriangle> tris;
    for (std::uint32_t j = 0; j + 1 < n; ++j)
        for (std::uint32_t i = 0; i + 1 < n; ++i) {
            if ((i * 7 + j * 3) % 5 == 0 && i > 0 && j > 0 && i + 2 < n && j + 2 < n) continue;
            const std::uint32_t a = j * n + i;
            tris.push_back({a, a + 1, a + n + 1});
            tris.push_back({a, a + n + 1, a + n});
        }
    for (auto _ : state) {
        auto shell = vz::mesh::from_triangles(nodes, tris, labels);
        if (!shell) state.SkipWithError(shell.error().display().c_str());
        benchmark::DoNotOptimize(shell);
    }
    state.SetItemsProcessed(state.iterations() * static_cast<std::int64_t>(tris.size()));
}
BENCHMARK(BM_MeshFromTriangles)->Arg(1000)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
