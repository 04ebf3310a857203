// Project file throughput: saving and opening a project of 1,000 wells (five
// logs each) and 20 regular surfaces of 1,000 x 1,000 nodes, against plain
// zstd level 3 over the same payload bytes. Throughput counts the
// uncompressed payload bytes of every section.
//
// The logs hold 1,000 samples each (not 10,000) so that the project, its
// payloads and the compressed file stay well under a gigabyte on a shared
// machine; the surfaces keep their full size.

#include <benchmark/benchmark.h>
#include <unistd.h>
#include <zstd.h>

#include <cmath>
#include <cstdint>
#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include "manager/element.hpp"
#include "manager/geodata.hpp"
#include "manager/project.hpp"

namespace {

namespace fs = std::filesystem;

constexpr std::size_t kWells = 1000;
constexpr std::size_t kLogsPerWell = 5;
constexpr std::size_t kSamples = 1000;
constexpr std::size_t kSurfaces = 20;
constexpr std::size_t kNodes = 1000;

/// Logs sampled every half metre with smooth variation and noise rounded to
/// the precision tools record, surfaces smooth with noise: the shapes of
/// real project data.
const vz::GeoData& project() {
    static const vz::GeoData p = [] {
        vz::GeoData g = vz::GeoData::make(vz::LengthUnit::Metres);
        std::mt19937_64 rng(7);
        std::normal_distribution<double> noise(0.0, 1.0);
        const char* mnemonics[kLogsPerWell] = {"GR", "RHOB", "NPHI", "DT", "RT"};
        for (std::size_t w = 0; w < kWells; ++w) {
            const std::string id = "W" + std::to_string(w);
            vz::Well well = vz::Well::make(id, 400000.0 + 50.0 * static_cast<double>(w), 6700000.0, 25.0);
            vz::Sidetrack& bore = well.sidetrack_entry("");
            auto traj = vz::Trajectory::from_station_records(
                {{0.0, well.head[0], well.head[1], -25.0, vz::Tangent{0, 0, 1}},
                 {static_cast<double>(kSamples), well.head[0] + 10.0, well.head[1], 900.0, vz::Tangent{0.1, 0, 0.99}}});
            bore.trajectories.push_back(std::move(*traj));
            std::vector<double> md(kSamples);
            for (std::size_t k = 0; k < kSamples; ++k) md[k] = 1000.0 + 0.5 * static_cast<double>(k);
            for (std::size_t l = 0; l < kLogsPerWell; ++l) {
                std::vector<double> values(kSamples);
                for (std::size_t k = 0; k < kSamples; ++k) {
                    const double v = 60.0 + 30.0 * std::sin(static_cast<double>(k) / 40.0 + static_cast<double>(l)) +
                                     2.0 * noise(rng);
                    values[k] = std::round(v * 1000.0) / 1000.0;
                }
                bore.logs.push_back(std::move(*vz::Log::make(mnemonics[l], "API", md, std::move(values))));
            }
            bore.tops = {{"Top A", 1100.0}, {"Top B", 1300.0}};
            g.wells.insert({id, std::move(well)});
        }
        for (std::size_t s = 0; s < kSurfaces; ++s) {
            const vz::GridGeometry geom{400000.0, 6700000.0, 25.0, 25.0, kNodes, kNodes, 0.0, false};
            vz::Grid2 values(kNodes, kNodes);
            for (std::size_t i = 0; i < kNodes; ++i) {
                for (std::size_t j = 0; j < kNodes; ++j) {
                    const double v = 1500.0 + 100.0 * static_cast<double>(s) +
                                     20.0 * std::sin(static_cast<double>(i) / 50.0) + 0.01 * static_cast<double>(j) +
                                     0.05 * noise(rng);
                    values(i, j) = std::round(v * 100.0) / 100.0;
                }
            }
            const std::string name = "S" + std::to_string(s);
            g.surfaces.insert({name, std::move(*vz::Surface::make(geom, std::move(values)))});
            g.surface_order.push_back(name);
        }
        return g;
    }();
    return p;
}

/// The uncompressed payload of every element section, as save builds them.
const std::vector<std::vector<std::uint8_t>>& payloads() {
    static const std::vector<std::vector<std::uint8_t>> out = [] {
        std::vector<std::vector<std::uint8_t>> v;
        for (const auto& [name, s] : project().surfaces) v.push_back(*vz::element::serialize_surface(s));
        for (const auto& [name, w] : project().wells) v.push_back(*vz::element::serialize_well(w));
        return v;
    }();
    return out;
}

std::int64_t payload_bytes() {
    std::int64_t n = 0;
    for (const auto& p : payloads()) n += static_cast<std::int64_t>(p.size());
    return n;
}

fs::path bench_path() { return fs::temp_directory_path() / ("vz_project_bench_" + std::to_string(::getpid()) + ".zedod"); }

void BM_ProjectSave(benchmark::State& state) {
    const vz::GeoData& p = project();
    const fs::path path = bench_path();
    for (auto _ : state) {
        auto r = vz::project::save(p, path);
        if (!r) state.SkipWithError(r.error().display().c_str());
    }
    state.SetBytesProcessed(state.iterations() * payload_bytes());
    std::error_code ec;
    state.counters["file_MB"] = static_cast<double>(fs::file_size(path, ec)) / 1e6;
    fs::remove(path, ec);
}

void BM_ProjectOpen(benchmark::State& state) {
    const fs::path path = bench_path();
    if (!vz::project::save(project(), path)) state.SkipWithError("save failed");
    for (auto _ : state) {
        auto g = vz::project::open(path);
        if (!g) state.SkipWithError(g.error().display().c_str());
        benchmark::DoNotOptimize(g);
    }
    state.SetBytesProcessed(state.iterations() * payload_bytes());
    std::error_code ec;
    fs::remove(path, ec);
}

/// Encoding alone: every element's payload built in memory.
void BM_ProjectEncodeOnly(benchmark::State& state) {
    const vz::GeoData& p = project();
    for (auto _ : state) {
        for (const auto& [name, s] : p.surfaces) benchmark::DoNotOptimize(vz::element::serialize_surface(s));
        for (const auto& [name, w] : p.wells) benchmark::DoNotOptimize(vz::element::serialize_well(w));
    }
    state.SetBytesProcessed(state.iterations() * payload_bytes());
}

/// Plain zstd level 3, one frame per payload: the floor for save.
void BM_Zstd3Compress(benchmark::State& state) {
    const auto& data = payloads();
    std::vector<std::uint8_t> out;
    for (auto _ : state) {
        for (const auto& d : data) {
            out.resize(ZSTD_compressBound(d.size()));
            benchmark::DoNotOptimize(ZSTD_compress(out.data(), out.size(), d.data(), d.size(), 3));
        }
    }
    state.SetBytesProcessed(state.iterations() * payload_bytes());
}

/// Plain zstd decompression of the same frames: the floor for open.
void BM_Zstd3Decompress(benchmark::State& state) {
    std::vector<std::vector<std::uint8_t>> frames;
    for (const auto& d : payloads()) {
        std::vector<std::uint8_t> f(ZSTD_compressBound(d.size()));
        f.resize(ZSTD_compress(f.data(), f.size(), d.data(), d.size(), 3));
        frames.push_back(std::move(f));
    }
    std::vector<std::uint8_t> out;
    for (auto _ : state) {
        for (std::size_t k = 0; k < frames.size(); ++k) {
            out.resize(payloads()[k].size());
            benchmark::DoNotOptimize(ZSTD_decompress(out.data(), out.size(), frames[k].data(), frames[k].size()));
        }
    }
    state.SetBytesProcessed(state.iterations() * payload_bytes());
}

/// A project of many small sections (model sections of a few bytes each):
/// opening costs one lookup per section, not a scan of the manifest.
void BM_ProjectOpenManySections(benchmark::State& state) {
    const fs::path path = bench_path();
    vz::GeoData g = vz::GeoData::make(vz::LengthUnit::Metres);
    for (std::int64_t k = 0; k < state.range(0); ++k)
        g.model_sections.insert({"model/" + std::to_string(k), vz::ModelSection{{}, {1, 2, 3}, 1}});
    if (!vz::project::save(g, path)) state.SkipWithError("save failed");
    for (auto _ : state) {
        auto opened = vz::project::open(path);
        if (!opened) state.SkipWithError(opened.error().display().c_str());
        benchmark::DoNotOptimize(opened);
    }
    state.SetItemsProcessed(state.iterations() * state.range(0));
    std::error_code ec;
    fs::remove(path, ec);
}

BENCHMARK(BM_ProjectOpenManySections)->Arg(10000)->Arg(100000)->Unit(benchmark::kMillisecond)->Iterations(2);
BENCHMARK(BM_ProjectEncodeOnly)->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK(BM_Zstd3Compress)->Unit(benchmark::kMillisecond)->Iterations(2);
BENCHMARK(BM_ProjectSave)->Unit(benchmark::kMillisecond)->Iterations(2);
BENCHMARK(BM_Zstd3Decompress)->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK(BM_ProjectOpen)->Unit(benchmark::kMillisecond)->Iterations(3);

}  // namespace

BENCHMARK_MAIN();
