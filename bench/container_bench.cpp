// Container file throughput: saving and reading 200 MB of section data,
// measured against plain zstd level 3 on the same bytes in the same run.

#include <benchmark/benchmark.h>
#include <unistd.h>
#include <zstd.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include "container/container.hpp"

namespace {

namespace fs = std::filesystem;
using vz::container::Section;

constexpr std::size_t kSections = 20;
constexpr std::size_t kSectionBytes = 10u << 20;  // 20 x 10 MiB = 200 MiB

/// Grid-like float data: a smooth surface with measurement noise, the kind
/// of payload project files mostly carry.
const std::vector<Section>& sections() {
    static const std::vector<Section> data = [] {
        std::vector<Section> out;
        std::mt19937_64 rng(1);
        std::normal_distribution<double> noise(0.0, 0.05);
        const std::size_t n = kSectionBytes / sizeof(double);
        for (std::size_t s = 0; s < kSections; ++s) {
            std::vector<double> values(n);
            for (std::size_t k = 0; k < n; ++k) {
                const double i = static_cast<double>(k / 1000), j = static_cast<double>(k % 1000);
                values[k] = 1500.0 + 20.0 * std::sin(i / 50.0 + static_cast<double>(s)) + 0.01 * j + noise(rng);
                values[k] = std::round(values[k] * 100.0) / 100.0;
            }
            Section sec{"surface", "S" + std::to_string(s), {}, std::vector<std::uint8_t>(kSectionBytes), 2};
            std::memcpy(sec.data.data(), values.data(), kSectionBytes);
            out.push_back(std::move(sec));
        }
        return out;
    }();
    return data;
}

fs::path bench_path() { return fs::temp_directory_path() / ("vz_container_bench_" + std::to_string(::getpid()) + ".zedod"); }

void set_bytes(benchmark::State& state) {
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) *
                            static_cast<std::int64_t>(kSections * kSectionBytes));
}

void BM_ContainerSave(benchmark::State& state) {
    const auto& secs = sections();
    const fs::path path = bench_path();
    for (auto _ : state) {
        auto r = vz::container::save(path, vz::container::Json(), 2, secs);
        if (!r) state.SkipWithError(r.error().display().c_str());
    }
    set_bytes(state);
    std::error_code ec;
    state.counters["file_MB"] = static_cast<double>(fs::file_size(path, ec)) / 1e6;
    fs::remove(path, ec);
}

void BM_PlainZstdCompress(benchmark::State& state) {
    const auto& secs = sections();
    ZSTD_CCtx* ctx = ZSTD_createCCtx();
    std::vector<std::vector<std::uint8_t>> out(secs.size());
    for (auto _ : state) {
        for (std::size_t s = 0; s < secs.size(); ++s) {
            out[s].resize(ZSTD_compressBound(secs[s].data.size()));
            const std::size_t n =
                ZSTD_compressCCtx(ctx, out[s].data(), out[s].size(), secs[s].data.data(), secs[s].data.size(), 3);
            out[s].resize(n);
        }
        benchmark::DoNotOptimize(out.data());
    }
    ZSTD_freeCCtx(ctx);
    set_bytes(state);
}

void BM_ContainerOpenAndRead(benchmark::State& state) {
    const auto& secs = sections();
    const fs::path path = bench_path();
    if (!vz::container::save(path, vz::container::Json(), 2, secs)) {
        state.SkipWithError("save failed");
        return;
    }
    for (auto _ : state) {
        auto c = vz::container::open(path);
        if (!c) {
            state.SkipWithError(c.error().display().c_str());
            break;
        }
        for (const auto& e : c->header.sections) {
            auto s = vz::container::read_section(*c, e.name);
            if (!s) state.SkipWithError(s.error().display().c_str());
            benchmark::DoNotOptimize(s->data.data());
        }
    }
    set_bytes(state);
    std::error_code ec;
    fs::remove(path, ec);
}

void BM_PlainZstdDecompress(benchmark::State& state) {
    const auto& secs = sections();
    std::vector<std::vector<std::uint8_t>> frames;
    for (const auto& s : secs) {
        std::vector<std::uint8_t> f(ZSTD_compressBound(s.data.size()));
        f.resize(ZSTD_compress(f.data(), f.size(), s.data.data(), s.data.size(), 3));
        frames.push_back(std::move(f));
    }
    for (auto _ : state) {
        for (const auto& f : frames) {
            std::vector<std::uint8_t> out(kSectionBytes);
            const std::size_t n = ZSTD_decompress(out.data(), out.size(), f.data(), f.size());
            benchmark::DoNotOptimize(n);
            benchmark::DoNotOptimize(out.data());
        }
    }
    set_bytes(state);
}

BENCHMARK(BM_ContainerSave)->Unit(benchmark::kMillisecond)->Iterations(3)->UseRealTime();
BENCHMARK(BM_PlainZstdCompress)->Unit(benchmark::kMillisecond)->Iterations(3)->UseRealTime();
BENCHMARK(BM_ContainerOpenAndRead)->Unit(benchmark::kMillisecond)->Iterations(5)->UseRealTime();
BENCHMARK(BM_PlainZstdDecompress)->Unit(benchmark::kMillisecond)->Iterations(5)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
