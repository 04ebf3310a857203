// Crossing search of a long deviated well against a large, gently folded
// triangle mesh.

#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "algorithms/intersections.hpp"
#include "core/trajectory.hpp"

namespace {

using vz::TriangleMesh;

/// A regular mesh of n x n cells of 10 m (two triangles each) over a gentle
/// fold around elevation -2000.
TriangleMesh folded_mesh(int n) {
    TriangleMesh m;
    m.vertices.reserve(static_cast<std::size_t>(n + 1) * (n + 1));
    for (int j = 0; j <= n; ++j)
        for (int i = 0; i <= n; ++i) {
            const double x = 10.0 * i;
            const double y = 10.0 * j;
            m.vertices.push_back({x, y, -2000.0 + 40.0 * std::sin(x / 700.0) * std::cos(y / 900.0)});
        }
    m.triangles.reserve(static_cast<std::size_t>(n) * n * 2);
    const auto id = [n](int i, int j) { return static_cast<std::uint32_t>(j * (n + 1) + i); };
    for (int j = 0; j < n; ++j)
        for (int i = 0; i < n; ++i) {
            m.triangles.push_back({id(i, j), id(i + 1, j), id(i + 1, j + 1)});
            m.triangles.push_back({id(i, j), id(i + 1, j + 1), id(i, j + 1)});
        }
    return m;
}

/// 1,000 survey stations 5 m apart: vertical to 1,480 m, then building 11
/// degrees per 100 m towards the east up to horizontal, landing near the
/// fold's mean depth and running along it for some 2.7 km.
vz::Trajectory long_well() {
    std::vector<vz::SurveyStation> rows;
    for (int k = 0; k < 1000; ++k) {
        const double md = 5.0 * k;
        const double inc = std::fmin(90.0, std::fmax(0.0, (md - 1480.0) * 0.11));
        rows.push_back({md, inc, 90.0});
    }
    auto t = vz::Trajectory::from_source(vz::TrajectorySource::survey(std::move(rows)), 1500.0, 3500.0, 0.0);
    if (!t) {
        std::fprintf(stderr, "trajectory: %s\n", t.error().display().c_str());
        std::abort();
    }
    return *t;
}

/// 1,000 stations on a straight line across the whole mesh, diagonally and
/// slowly deepening through the fold: every triangle lies within the well's
/// reach, so the whole mesh is indexed.
vz::Trajectory diagonal_well(int cells) {
    const double extent = 10.0 * cells;
    const double length = std::sqrt(2.0 * extent * extent + 100.0 * 100.0);
    std::vector<vz::Station> stations;
    for (int k = 0; k < 1000; ++k) {
        const double f = k / 999.0;
        stations.push_back({f * length, f * extent, f * extent, 1950.0 + 100.0 * f, std::nullopt});
    }
    auto t = vz::Trajectory::from_station_records(std::move(stations));
    if (!t) {
        std::fprintf(stderr, "trajectory: %s\n", t.error().display().c_str());
        std::abort();
    }
    return *t;
}

class Source final : public vz::TriangleMeshSource {
public:
    explicit Source(const TriangleMesh& m) : mesh_(m) {}
    vz::Result<TriangleMesh> triangle_mesh() const override { return mesh_; }

private:
    const TriangleMesh& mesh_;
};

// 708 x 708 cells: 1,002,528 triangles.
constexpr int kCells = 708;

void BM_CrossingKernel(benchmark::State& state) {
    const TriangleMesh mesh = folded_mesh(kCells);
    const vz::Trajectory well = long_well();
    const std::vector<double> mds = well.mds();
    std::size_t found = 0;
    for (auto _ : state) {
        auto r = vz::intersections::intersect_trajectory_with_mesh(mds, well, mesh.vertices, mesh.triangles, 1e-3);
        if (!r) {
            state.SkipWithError(r.error().display().c_str());
            return;
        }
        found = r->size();
        benchmark::DoNotOptimize(r->data());
    }
    state.counters["triangles"] = static_cast<double>(mesh.triangles.size());
    state.counters["crossings"] = static_cast<double>(found);
}
BENCHMARK(BM_CrossingKernel)->Unit(benchmark::kMillisecond);

void BM_CrossingKernelAcrossMesh(benchmark::State& state) {
    const TriangleMesh mesh = folded_mesh(kCells);
    const vz::Trajectory well = diagonal_well(kCells);
    const std::vector<double> mds = well.mds();
    std::size_t found = 0;
    for (auto _ : state) {
        auto r = vz::intersections::intersect_trajectory_with_mesh(mds, well, mesh.vertices, mesh.triangles, 1e-3);
        if (!r) {
            state.SkipWithError(r.error().display().c_str());
            return;
        }
        found = r->size();
        benchmark::DoNotOptimize(r->data());
    }
    state.counters["crossings"] = static_cast<double>(found);
}
BENCHMARK(BM_CrossingKernelAcrossMesh)->Unit(benchmark::kMillisecond);

// Preparing the mesh once for many searches: usable triangles, step and an
// index of every triangle's box.
void BM_PrepareMesh(benchmark::State& state) {
    const TriangleMesh mesh = folded_mesh(kCells);
    for (auto _ : state) {
        auto r = vz::intersections::PreparedMesh::prepare(mesh.vertices, mesh.triangles, 1e-3);
        if (!r) {
            state.SkipWithError(r.error().display().c_str());
            return;
        }
        benchmark::DoNotOptimize(r->step());
    }
}
BENCHMARK(BM_PrepareMesh)->Unit(benchmark::kMillisecond);

// One search in a prepared mesh: what each further well of a batch costs.
void BM_CrossingKernelPrepared(benchmark::State& state) {
    const TriangleMesh mesh = folded_mesh(kCells);
    const auto prepared = vz::intersections::PreparedMesh::prepare(mesh.vertices, mesh.triangles, 1e-3);
    if (!prepared) {
        state.SkipWithError(prepared.error().display().c_str());
        return;
    }
    const vz::Trajectory well = long_well();
    const std::vector<double> mds = well.mds();
    std::size_t found = 0;
    for (auto _ : state) {
        auto r = vz::intersections::intersect_trajectory_with_mesh(mds, well, *prepared);
        if (!r) {
            state.SkipWithError(r.error().display().c_str());
            return;
        }
        found = r->size();
        benchmark::DoNotOptimize(r->data());
    }
    state.counters["crossings"] = static_cast<double>(found);
}
BENCHMARK(BM_CrossingKernelPrepared)->Unit(benchmark::kMillisecond);

// The driver adds the copy of the mesh that every surface view hands out.
void BM_CrossingDriver(benchmark::State& state) {
    const TriangleMesh mesh = folded_mesh(kCells);
    const Source source(mesh);
    const vz::Trajectory well = long_well();
    std::size_t found = 0;
    for (auto _ : state) {
        auto r = vz::intersections::intersect_trajectory_surface(well, source, 1e-3);
        if (!r) {
            state.SkipWithError(r.error().display().c_str());
            return;
        }
        found = r->size();
        benchmark::DoNotOptimize(r->data());
    }
    state.counters["crossings"] = static_cast<double>(found);
}
BENCHMARK(BM_CrossingDriver)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
