// Hot paths of the regular surface: lattice resampling, dip and smoothing on
// a 2,000 x 2,000 surface.

#include <benchmark/benchmark.h>

#include <cmath>

#include "core/surface.hpp"

namespace {

constexpr std::size_t kN = 2000;

vz::Surface wavy_surface() {
    const vz::GridGeometry g{450000.0, 6700000.0, 25.0, 25.0, kN, kN, 12.0, false};
    vz::Grid2 v(kN, kN);
    for (std::size_t i = 0; i < kN; ++i)
        for (std::size_t j = 0; j < kN; ++j)
            v(i, j) = (i * 7 + j * 3) % 101 == 0 ? std::nan("")
                                                 : 2000.0 + 40.0 * std::sin(i * 0.01) * std::cos(j * 0.013);
    return *vz::Surface::make(g, std::move(v));
}

const vz::Surface& surface() {
    static const vz::Surface s = wavy_surface();
    return s;
}

void BM_ResampleBilinear(benchmark::State& state) {
    const vz::Surface& s = surface();
    // A differently rotated, flipped target of the same node count covering the source.
    const vz::GridGeometry target{450500.0, 6700500.0, 24.0, 24.0, kN, kN, -5.0, true};
    for (auto _ : state) benchmark::DoNotOptimize(s.resample(target));
    state.SetItemsProcessed(state.iterations() * kN * kN);
}
BENCHMARK(BM_ResampleBilinear)->Unit(benchmark::kMillisecond);

void BM_ResampleNearest(benchmark::State& state) {
    vz::Surface s = surface();
    s.primary_metadata = vz::AttributeMetadata{"code", "code", vz::AttributeKind::Categorical, {}, {}};
    const vz::GridGeometry target{450500.0, 6700500.0, 24.0, 24.0, kN, kN, -5.0, true};
    for (auto _ : state) benchmark::DoNotOptimize(s.resample(target));
    state.SetItemsProcessed(state.iterations() * kN * kN);
}
BENCHMARK(BM_ResampleNearest)->Unit(benchmark::kMillisecond);

void BM_DipSurfaces(benchmark::State& state) {
    const vz::Surface& s = surface();
    for (auto _ : state) benchmark::DoNotOptimize(s.dip_surfaces());
    state.SetItemsProcessed(state.iterations() * kN * kN);
}
BENCHMARK(BM_DipSurfaces)->Unit(benchmark::kMillisecond);

void BM_Smooth(benchmark::State& state) {
    const vz::Surface& s = surface();
    const auto radius = static_cast<std::uint64_t>(state.range(0));
    for (auto _ : state) benchmark::DoNotOptimize(s.smooth(radius));
    state.SetItemsProcessed(state.iterations() * kN * kN);
}
BENCHMARK(BM_Smooth)->Arg(1)->Arg(3)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
