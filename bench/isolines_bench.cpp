// Iso-lines of a large regular surface, and a batch of wells crossing a
// large surface.

#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <string>
#include <vector>

#include "algorithms/batch_intersections.hpp"
#include "algorithms/surfaces.hpp"
#include "algorithms/triangle_views.hpp"
#include "core/surface.hpp"
#include "core/trajectory.hpp"
#include "core/well.hpp"
#include "parallel/parallel_for.hpp"

namespace {

template <class T>
T or_die(vz::Result<T> r, const char* what) {
    if (!r) {
        std::fprintf(stderr, "%s: %s\n", what, r.error().display().c_str());
        std::abort();
    }
    return std::move(*r);
}

/// n x n nodes 10 m apart of gentle folds around elevation -2000 (range
/// about -2100 … -1900), a few undefined nodes sprinkled in.
vz::Surface folded_surface(std::size_t n) {
    vz::Grid2 v(n, n);
    for (std::size_t i = 0; i < n; ++i)
        for (std::size_t j = 0; j < n; ++j) {
            const double x = 10.0 * double(i);
            const double y = 10.0 * double(j);
            v(i, j) = (i * 131 + j * 17) % 997 == 0
                          ? std::nan("")
                          : -2000.0 + 60.0 * std::sin(x / 700.0) * std::cos(y / 900.0) +
                                40.0 * std::sin((x + y) / 2300.0);
        }
    return or_die(vz::Surface::make(vz::GridGeometry{0, 0, 10, 10, n, n, 0, false}, std::move(v)), "surface");
}

/// Iso-lines of 2,000 x 2,000 nodes at 49 levels (interval 4 over about
/// 200 m of relief), per-node values and levels included.
void BM_IsoLinesSurface(benchmark::State& state) {
    // Threads: the argument, or the machine's own count for 0.
    if (state.range(0) > 0)
        ::setenv(vz::parallel::kThreadsVariable, std::to_string(state.range(0)).c_str(), 1);
    const vz::Surface s = folded_surface(2000);
    std::size_t lines = 0;
    std::size_t levels = 0;
    for (auto _ : state) {
        auto got = or_die(vz::surfaces::iso_lines(s, 4.0, std::nullopt, std::nullopt, std::nullopt), "iso_lines");
        levels = got.size();
        lines = 0;
        for (const auto& [level, ls] : got) lines += ls.size();
        benchmark::DoNotOptimize(got);
    }
    state.counters["levels"] = double(levels);
    state.counters["lines"] = double(lines);
    state.counters["threads"] = double(vz::parallel::thread_count());
    ::unsetenv(vz::parallel::kThreadsVariable);
}
BENCHMARK(BM_IsoLinesSurface)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond)->Iterations(2);

/// The same with simplification.
void BM_IsoLinesSurfaceSimplified(benchmark::State& state) {
    const vz::Surface s = folded_surface(2000);
    for (auto _ : state) {
        auto got = or_die(vz::surfaces::iso_lines(s, 4.0, std::nullopt, std::nullopt, 5.0), "iso_lines");
        benchmark::DoNotOptimize(got);
    }
}
BENCHMARK(BM_IsoLinesSurfaceSimplified)->Unit(benchmark::kMillisecond)->Iterations(2);

/// Wells on a 25 x 20 pattern (500 with the default argument), each
/// vertical to 1,500 m and then deviating east to cross the surface once,
/// against 1,000 x 1,000 nodes. The surface's mesh is built in every
/// iteration; a batch of many wells prepares it once for searching, a batch
/// of a few searches each well on its own.
void BM_BatchIntersections(benchmark::State& state) {
    const vz::Surface s = folded_surface(1000);
    std::vector<vz::Well> wells;
    for (int k = 0; k < state.range(0); ++k) {
        const double x = 200.0 + 380.0 * (k % 25);
        const double y = 200.0 + 480.0 * (k / 25);
        vz::Well w = vz::Well::make("W" + std::to_string(k), x, y, 30.0);
        std::vector<vz::SurveyStation> rows;
        for (int m = 0; m <= 100; ++m) {
            const double md = 25.0 * m;
            rows.push_back({md, std::fmin(60.0, std::fmax(0.0, (md - 1500.0) * 0.06)), 90.0});
        }
        or_die(w.sidetrack_entry("").push_trajectory(vz::TrajectorySource::survey(std::move(rows))), "trajectory");
        wells.push_back(std::move(w));
    }
    std::vector<std::reference_wrapper<const vz::Well>> refs(wells.begin(), wells.end());
    const vz::SurfaceMeshView view(s);
    std::size_t hits = 0;
    for (auto _ : state) {
        auto got = or_die(vz::intersections::intersect_wells_with_surface(refs, view, 0.01, false), "batch");
        hits = got.hits.size();
        benchmark::DoNotOptimize(got);
    }
    state.counters["hits"] = double(hits);
}
BENCHMARK(BM_BatchIntersections)->Arg(500)->Arg(3)->Unit(benchmark::kMillisecond)->Iterations(2);

}  // namespace

BENCHMARK_MAIN();
