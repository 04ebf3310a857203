// Masking a 1,000 x 1,000 surface by polygon outlines: a field or licence
// outline of a few hundred to tens of thousands of vertices, as shapefiles
// carry them, on a rotated lattice and on an axis-aligned one, and an outline
// with holes.

#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdint>
#include <random>
#include <vector>

#include "core/polygons.hpp"
#include "core/surface.hpp"

namespace {

constexpr std::size_t kN = 1000;
constexpr double kXori = 450000.0, kYori = 6700000.0, kInc = 25.0;

vz::Surface flat_surface(double rotation_deg) {
    const vz::GridGeometry g{kXori, kYori, kInc, kInc, kN, kN, rotation_deg, false};
    vz::Grid2 v(kN, kN);
    for (std::size_t i = 0; i < kN; ++i)
        for (std::size_t j = 0; j < kN; ++j) v(i, j) = 2000.0 + 0.01 * double(i) - 0.02 * double(j);
    return *vz::Surface::make(g, std::move(v));
}

/// A ragged closed outline of `n` vertices around (cx, cy): a lobed radius
/// with a little noise on every vertex, as digitised outlines have.
std::vector<vz::Coord> outline(std::size_t n, double cx, double cy, double radius, std::uint64_t seed) {
    std::mt19937_64 rng(seed);
    std::uniform_real_distribution<double> noise(-0.01, 0.01);
    std::vector<vz::Coord> ring;
    ring.reserve(n + 1);
    for (std::size_t k = 0; k < n; ++k) {
        const double t = 2.0 * M_PI * double(k) / double(n);
        const double r = radius * (1.0 + 0.2 * std::sin(5.0 * t) + 0.05 * std::cos(17.0 * t) + noise(rng));
        ring.push_back({cx + r * std::cos(t), cy + r * std::sin(t)});
    }
    return ring;
}

/// The centre of the rotated lattice in world coordinates.
std::pair<double, double> centre(double rotation_deg) {
    return flat_surface(rotation_deg).geom.node_xy(kN / 2, kN / 2);
}

void clip_case(benchmark::State& state, double rotation_deg, bool holes) {
    const vz::Surface surface = flat_surface(rotation_deg);
    const auto n = static_cast<std::size_t>(state.range(0));
    const auto [cx, cy] = centre(rotation_deg);
    const double extent = kInc * double(kN);
    std::vector<std::vector<vz::Coord>> interiors;
    if (holes) {
        for (int h = 0; h < 4; ++h) {
            const double a = 0.5 * M_PI * h + 0.3;
            interiors.push_back(outline(n / 8, cx + 0.18 * extent * std::cos(a), cy + 0.18 * extent * std::sin(a),
                                        0.06 * extent, 10 + h));
        }
    }
    const vz::PolygonSet mask{{vz::Polygon::closed(outline(n, cx, cy, 0.35 * extent, 1), interiors)},
                              {},
                              vz::History::make("bench")};
    for (auto _ : state) benchmark::DoNotOptimize(mask.clip(surface));
    state.SetItemsProcessed(state.iterations() * static_cast<std::int64_t>(kN * kN));
    state.counters["vertices"] = double(n);
}

void BM_ClipOutlineRotated(benchmark::State& state) { clip_case(state, 30.0, false); }
BENCHMARK(BM_ClipOutlineRotated)->Arg(100)->Arg(1000)->Arg(10000)->Arg(100000)->Unit(benchmark::kMillisecond);

void BM_ClipOutlineAxisAligned(benchmark::State& state) { clip_case(state, 0.0, false); }
BENCHMARK(BM_ClipOutlineAxisAligned)->Arg(100)->Arg(10000)->Unit(benchmark::kMillisecond);

void BM_ClipOutlineWithHoles(benchmark::State& state) { clip_case(state, 30.0, true); }
BENCHMARK(BM_ClipOutlineWithHoles)->Arg(800)->Arg(16000)->Unit(benchmark::kMillisecond);

void BM_ClipLatticeFootprint(benchmark::State& state) {
    // The lattice's own footprint: every edge runs along a row or column of
    // nodes, so each of those nodes sits on the outline.
    const vz::Surface surface = flat_surface(30.0);
    const vz::PolygonSet mask = vz::PolygonSet::from_grid_geometry(surface.geom);
    for (auto _ : state) benchmark::DoNotOptimize(mask.clip(surface));
    state.SetItemsProcessed(state.iterations() * static_cast<std::int64_t>(kN * kN));
}
BENCHMARK(BM_ClipLatticeFootprint)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
