// Loading EarthVision grids as structured surfaces: a 1000 x 1000 numbered
// export (a slightly bent lattice with a clipped corner and scattered null
// values), parsed alone and parsed plus assembled, so the cost of placing
// the nodes, tracing the outline and fitting the nominal lattice shows
// against the cost of the file read.

#include <benchmark/benchmark.h>
#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>

#include <fmt/format.h>

#include "io/structured_load.hpp"
#include "io/earthvision.hpp"

namespace {

namespace fs = std::filesystem;

constexpr int kSide = 1000;

const fs::path& grid_file() {
    static const fs::path path = [] {
        fs::path p = fs::temp_directory_path() / fmt::format("vz_structured_load_bench_{}.ev", ::getpid());
        std::string text = fmt::format("#Type: scattered data\n#Grid_size: {} x {}\n#Null_value: -999\n", kSide, kSide);
        text.reserve(std::size_t{kSide} * kSide * 48);
        for (int j = 0; j < kSide; ++j)
            for (int i = 0; i < kSide; ++i) {
                if (i + j > 2 * kSide - 100) continue;  // clipped corner
                const double x = 455000.0 + 25.0 * i + 0.002 * j * j;
                const double y = 7320000.0 + 25.0 * j;
                const double z = (i * 7 + j * 13) % 97 == 0 ? -999.0 : -2500.0 + 10.0 * std::sin(i / 40.0) * std::cos(j / 55.0);
                text += fmt::format("{:.6f} {:.6f} {:.6f} {} {}\n", x, y, z, i + 1, j + 1);
            }
        std::ofstream(p, std::ios::binary) << text;
        return p;
    }();
    return path;
}

void BM_EarthVisionReadGrid(benchmark::State& state) {
    const fs::path& path = grid_file();
    for (auto _ : state) {
        auto grid = vz::earthvision::read_grid(path);
        if (!grid) state.SkipWithError(grid.error().display().c_str());
        benchmark::DoNotOptimize(grid);
    }
}
BENCHMARK(BM_EarthVisionReadGrid)->Unit(benchmark::kMillisecond);

void BM_EarthVisionLoadStructured(benchmark::State& state) {
    const fs::path& path = grid_file();
    for (auto _ : state) {
        auto surface = vz::structured_load::load_earthvision_grid(path);
        if (!surface) state.SkipWithError(surface.error().display().c_str());
        benchmark::DoNotOptimize(surface);
    }
}
BENCHMARK(BM_EarthVisionLoadStructured)->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    std::error_code ec;
    fs::remove(grid_file(), ec);
    return 0;
}
