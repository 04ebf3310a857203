// Hot paths of the geometry shells on a 1,000 x 1,000 lattice (a million
// nodes, two million triangles): exploding a structured shell into a mesh,
// validating a mesh, connected components, wireframes and coarse levels.

#include <benchmark/benchmark.h>

#include <cmath>
#include <memory>

#include "core/shell/mesh.hpp"
#include "core/shell/structured.hpp"

namespace {

constexpr std::size_t kN = 1000;

/// A curvilinear lattice with a scattering of absent nodes.
vz::StructuredShell wavy_shell() {
    vz::Grid2 x(kN, kN), y(kN, kN);
    for (std::size_t i = 0; i < kN; ++i)
        for (std::size_t j = 0; j < kN; ++j) {
            const bool absent = (i * 7 + j * 3) % 211 == 0;
            x(i, j) = absent ? std::nan("") : 450000.0 + 25.0 * double(i) + 3.0 * std::sin(double(j) * 0.02);
            y(i, j) = absent ? std::nan("") : 6700000.0 + 25.0 * double(j) + 3.0 * std::cos(double(i) * 0.03);
        }
    return *vz::StructuredShell::make(std::move(x), std::move(y), std::nullopt, vz::PolygonSet{});
}

const vz::StructuredShell& shell() {
    static const vz::StructuredShell s = wavy_shell();
    return s;
}

const vz::MeshShell& mesh() {
    static const vz::MeshShell m = *shell().to_mesh_shell();
    return m;
}

void BM_StructuredToMesh(benchmark::State& state) {
    const auto& s = shell();
    for (auto _ : state) benchmark::DoNotOptimize(s.to_mesh_shell());
    state.SetItemsProcessed(state.iterations() * kN * kN);
}
BENCHMARK(BM_StructuredToMesh)->Unit(benchmark::kMillisecond);

void BM_MeshShellMake(benchmark::State& state) {
    const auto& m = mesh();
    for (auto _ : state) {
        state.PauseTiming();
        auto nodes = m.nodes();
        auto tris = m.triangles();
        auto wire = m.wireframe();
        auto labels = m.labels();
        state.ResumeTiming();
        benchmark::DoNotOptimize(vz::MeshShell::make(std::move(nodes), std::move(tris), std::move(wire),
                                                     vz::PolygonSet{}, std::move(labels)));
    }
    state.SetItemsProcessed(state.iterations() * m.triangles().size());
}
BENCHMARK(BM_MeshShellMake)->Unit(benchmark::kMillisecond);

void BM_Components(benchmark::State& state) {
    const auto& m = mesh();
    for (auto _ : state) benchmark::DoNotOptimize(m.components());
    state.SetItemsProcessed(state.iterations() * m.triangles().size());
}
BENCHMARK(BM_Components)->Unit(benchmark::kMillisecond);

void BM_BuildWireframe(benchmark::State& state) {
    const auto& m = mesh();
    for (auto _ : state) benchmark::DoNotOptimize(vz::mesh::build_wireframe(m.triangles(), m.labels()));
    state.SetItemsProcessed(state.iterations() * m.triangles().size());
}
BENCHMARK(BM_BuildWireframe)->Unit(benchmark::kMillisecond);

void BM_WireframeStride(benchmark::State& state) {
    const auto& m = mesh();
    for (auto _ : state) benchmark::DoNotOptimize(m.wireframe_edges(static_cast<std::uint64_t>(state.range(0))));
    state.SetItemsProcessed(state.iterations() * m.triangles().size());
}
BENCHMARK(BM_WireframeStride)->Arg(4)->Arg(32)->Unit(benchmark::kMillisecond);

void BM_Coarsen(benchmark::State& state) {
    const auto& m = mesh();
    for (auto _ : state) benchmark::DoNotOptimize(m.coarsen(static_cast<std::uint64_t>(state.range(0))));
    state.SetItemsProcessed(state.iterations() * m.node_count());
}
BENCHMARK(BM_Coarsen)->Arg(2)->Arg(16)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
