// Well loading end to end: listing, detection, survey and LAS reading,
// trajectory building and storing, over 200 generated well directories of
// one survey (200 stations) and three LAS 2.0 files (2,000 samples, three
// curves each).

#include <benchmark/benchmark.h>
#include <unistd.h>

#include <cmath>
#include <filesystem>
#include <cstdlib>
#include <fstream>
#include <numbers>
#include <string>

#include "manager/geodata.hpp"

namespace {

namespace fs = std::filesystem;

constexpr int kWells = 200;
constexpr int kStations = 200;
constexpr int kSamples = 2000;

void write(const fs::path& p, const std::string& s) {
    std::ofstream f(p, std::ios::binary);
    f << s;
}

std::string survey(int well) {
    std::string s = "# WELL TRACE FROM PETREL\n";
    s += "# WELL HEAD X-COORDINATE: " + std::to_string(1000 + well) + " (m)\n";
    s += "# WELL HEAD Y-COORDINATE: " + std::to_string(2000 + well) + " (m)\n";
    s += "# WELL DATUM (KB, Kelly bushing, from MSL): 25 (m)\n";
    s += "# MD X Y Z TVD DX DY TWT INCL DLS AZIM\n";
    double x = 1000 + well, y = 2000 + well, tvd = 0;
    for (int k = 0; k < kStations; ++k) {
        const double md = 10.0 * k;
        const double inc = std::min(30.0, 0.3 * k);
        if (k > 0) {
            tvd += 10.0 * std::cos(inc * std::numbers::pi / 180);
            x += 10.0 * std::sin(inc * std::numbers::pi / 180);
        }
        s += std::to_string(md) + " " + std::to_string(x) + " " + std::to_string(y) + " " + std::to_string(25 - tvd) +
             " " + std::to_string(tvd) + " 0 0 0 " + std::to_string(inc) + " 0 90\n";
    }
    return s;
}

std::string las(int file) {
    std::string s = "~Version\n VERS. 2.0 : v\n WRAP. NO : w\n~Well\n NULL. -999.25 : n\n~Curve\nDEPT.M : d\n";
    s += "GR" + std::to_string(file) + ".API : g\nRHOB.G/C3 : r\nNPHI.V/V : n\n~A\n";
    for (int k = 0; k < kSamples; ++k) {
        const double md = 100 + 0.5 * k;
        s += std::to_string(md) + " " + std::to_string(50 + k % 40) + " " + std::to_string(2.3 + 0.001 * (k % 100)) +
             " " + std::to_string(0.2 + 0.0001 * (k % 300)) + "\n";
    }
    return s;
}

/// The generated directories, written once per process.
const fs::path& wells_root() {
    static const fs::path root = [] {
        fs::path r = fs::temp_directory_path() / ("vz_loaders_bench_" + std::to_string(::getpid()));
        fs::remove_all(r);
        for (int w = 0; w < kWells; ++w) {
            const std::string id = "W" + std::to_string(w);
            const fs::path dir = r / id;
            fs::create_directories(dir);
            write(dir / (id + ".wellpath"), survey(w));
            for (int f = 0; f < 3; ++f) write(dir / (id + "_log" + std::to_string(f) + ".las"), las(f));
        }
        std::atexit([] {
            std::error_code ec;
            fs::remove_all(fs::temp_directory_path() / ("vz_loaders_bench_" + std::to_string(::getpid())), ec);
        });
        return r;
    }();
    return root;
}

void BM_LoadWellDirectories(benchmark::State& state) {
    const fs::path& root = wells_root();
    for (auto _ : state) {
        vz::GeoData project = vz::GeoData::make(vz::LengthUnit::Metres);
        for (int w = 0; w < kWells; ++w) {
            const std::string id = "W" + std::to_string(w);
            auto r = project.load_well(id, {0, 0}, 0, root / id);
            if (!r) {
                state.SkipWithError(r.error().display().c_str());
                return;
            }
        }
        benchmark::DoNotOptimize(project.wells.size());
    }
    state.counters["wells_per_second"] =
        benchmark::Counter(static_cast<double>(kWells) * static_cast<double>(state.iterations()),
                           benchmark::Counter::kIsRate);
}
BENCHMARK(BM_LoadWellDirectories)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
