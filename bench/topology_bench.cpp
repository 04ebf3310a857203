// Benchmarks of topology detection, the bare-XY lattice fit and the lifting of
// a regular surface to a triangulated one.

#include <benchmark/benchmark.h>

#include <array>
#include <cmath>
#include <random>
#include <vector>

#include "core/shell/fit.hpp"
#include "core/surface.hpp"
#include "core/surface_convert.hpp"
#include "core/topology.hpp"

namespace {

/// 500 x 500 nodes of a lattice rotated by 17 degrees, spacings 12.5 and 20,
/// at projected-coordinate magnitudes.
std::vector<std::array<double, 3>> rotated_lattice() {
    std::vector<std::array<double, 3>> p;
    const int n = 500;
    p.reserve(std::size_t(n) * n);
    const double r = 17.0 * 3.141592653589793 / 180.0;
    const double c = std::cos(r), s = std::sin(r);
    for (int j = 0; j < n; ++j)
        for (int i = 0; i < n; ++i)
            p.push_back({456789.0 + i * 12.5 * c - j * 20.0 * s, 6543210.0 + i * 12.5 * s + j * 20.0 * c,
                         1500.0 + 0.1 * i - 0.05 * j});
    return p;
}

void BM_TopologyDetect(benchmark::State& state) {
    const auto pts = rotated_lattice();
    for (auto _ : state) {
        auto d = vz::topology::detect(pts, std::nullopt);
        if (!d || d->blocks != 1) state.SkipWithError("detection failed");
        benchmark::DoNotOptimize(d);
    }
    state.SetItemsProcessed(state.iterations() * static_cast<std::int64_t>(pts.size()));
}
BENCHMARK(BM_TopologyDetect)->Unit(benchmark::kMillisecond);

/// Uniform random points: no lattice order, so the walk breaks into about one
/// block per four points and every block needs a seed search.
void BM_TopologyDetectScattered(benchmark::State& state) {
    std::mt19937_64 rng(3);
    std::uniform_real_distribution<double> u(0.0, 1000.0);
    std::vector<std::array<double, 3>> pts(static_cast<std::size_t>(state.range(0)));
    for (auto& p : pts) p = {456789.0 + u(rng), 6543210.0 + u(rng), u(rng)};
    for (auto _ : state) {
        auto d = vz::topology::detect(pts, std::nullopt);
        if (!d) state.SkipWithError("detection failed");
        benchmark::DoNotOptimize(d);
    }
    state.SetItemsProcessed(state.iterations() * static_cast<std::int64_t>(pts.size()));
}
BENCHMARK(BM_TopologyDetectScattered)->Arg(200000)->Unit(benchmark::kMillisecond);

void BM_FitLatticeXY(benchmark::State& state) {
    const auto pts = rotated_lattice();
    for (auto _ : state) {
        auto f = vz::fit::fit_lattice_xy(pts, 1e-3);
        if (!f) state.SkipWithError("fit failed");
        benchmark::DoNotOptimize(f);
    }
    state.SetItemsProcessed(state.iterations() * static_cast<std::int64_t>(pts.size()));
}
BENCHMARK(BM_FitLatticeXY)->Unit(benchmark::kMillisecond);

void BM_RegularToTriSurface(benchmark::State& state) {
    const std::size_t n = 2000;
    const vz::GridGeometry g{456789.0, 6543210.0, 25.0, 25.0, n, n, 17.0, false};
    vz::Grid2 v(n, n);
    for (std::size_t i = 0; i < n; ++i)
        for (std::size_t j = 0; j < n; ++j) v(i, j) = 1500.0 + 0.1 * double(i) - 0.05 * double(j);
    auto surface = vz::Surface::make(g, std::move(v));
    if (!surface) {
        state.SkipWithError("surface");
        return;
    }
    for (auto _ : state) {
        auto t = vz::surface_convert::to_tri_surface(*surface);
        if (!t) state.SkipWithError("conversion failed");
        benchmark::DoNotOptimize(t);
    }
    state.SetItemsProcessed(state.iterations() * static_cast<std::int64_t>(n * n));
}
BENCHMARK(BM_RegularToTriSurface)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
