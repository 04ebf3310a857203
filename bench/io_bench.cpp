// Reader and writer throughput on generated files: LAS 2.0 (blank- and
// comma-separated rows) and 3.0, IRAP classic grids (read and write,
// 4000 x 4000) and points CSV (1,000,000 rows).

#include <benchmark/benchmark.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>

#include "io/csv.hpp"
#include "io/irap.hpp"
#include "io/las.hpp"

namespace {

namespace fs = std::filesystem;

fs::path scratch() {
    static const fs::path dir = [] {
        auto d = fs::temp_directory_path() / ("vz_io_bench_" + std::to_string(::getpid()));
        fs::create_directories(d);
        std::atexit([] { fs::remove_all(fs::temp_directory_path() / ("vz_io_bench_" + std::to_string(::getpid()))); });
        return d;
    }();
    return dir;
}

void write_text(const fs::path& p, const std::string& s) {
    std::ofstream f(p, std::ios::binary);
    f.write(s.data(), static_cast<std::streamsize>(s.size()));
}

// The data rows shared by the LAS benchmarks: 8 curves and `rows` depth
// steps, about 80 bytes a row, with a null every 97th row.
const std::string& las_rows() {
    static const std::string s = [] {
        const int rows = 1'000'000;
        std::string out;
        out.reserve(static_cast<std::size_t>(rows) * 90);
        std::mt19937 rng(1);
        std::uniform_real_distribution<double> d(0, 200);
        char buf[256];
        for (int i = 0; i < rows; ++i) {
            int n = std::snprintf(buf, sizeof buf, "%.4f %.4f %.4f %.4f %.4f %.4f %.4f %.4f\n", 1000 + i * 0.1524,
                                  d(rng), 2 + d(rng) / 100, d(rng) / 400, d(rng), 40 + d(rng) / 2,
                                  i % 97 == 0 ? -999.25 : 8.5 + d(rng) / 100, d(rng) - 100);
            out.append(buf, static_cast<std::size_t>(n));
        }
        return out;
    }();
    return s;
}

// The same rows as a LAS 2.0 file and as a LAS 3.0 file (definition and data
// sections of the log group).
const fs::path& las_file(bool v3) {
    static const auto make = [](bool three) {
        std::string s = three ? "~Version\n VERS. 3.0 : v\n WRAP. NO : w\n DLM. SPACE : d\n~Well\n NULL. -999.25 : n\n"
                                "~Log_Definition\n"
                              : "~Version\n VERS. 2.0 : v\n WRAP. NO : w\n~Well\n NULL. -999.25 : n\n~Curve\n";
        s += " DEPT.M : d\n GR.API : g\n RHOB.G/C3 : r\n NPHI.V/V : n\n RT.OHMM : t\n DT.US/F : s\n CALI.IN : c\n"
             " SP.MV : p\n";
        s += three ? "~Log_Data | Log_Definition\n" : "~A\n";
        s += las_rows();
        auto path = scratch() / (three ? "big_v3.las" : "big.las");
        write_text(path, s);
        return path;
    };
    static const fs::path v2 = make(false);
    static const fs::path v3p = make(true);
    return v3 ? v3p : v2;
}

void BM_LasRead(benchmark::State& state) {
    const auto& p = las_file(false);
    const auto bytes = fs::file_size(p);
    for (auto _ : state) {
        auto r = vz::las::read_file(p);
        if (!r) state.SkipWithError(r.error().display().c_str());
        benchmark::DoNotOptimize(r);
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * bytes));
}
BENCHMARK(BM_LasRead)->Unit(benchmark::kMillisecond);

void BM_Las3Read(benchmark::State& state) {
    const auto& p = las_file(true);
    const auto bytes = fs::file_size(p);
    for (auto _ : state) {
        auto r = vz::las::read_file(p);
        if (!r) state.SkipWithError(r.error().display().c_str());
        else if (r->curves.size() != 7 || r->depth.size() != 1'000'000) state.SkipWithError("unexpected shape");
        benchmark::DoNotOptimize(r);
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * bytes));
}
BENCHMARK(BM_Las3Read)->Unit(benchmark::kMillisecond);

// The same rows separated by commas, in a LAS 2.0 file without a DLM line:
// the reader finds the commas over every row before it reads them.
void BM_LasCommaRowsRead(benchmark::State& state) {
    static const fs::path p = [] {
        std::string s = "~Version\n VERS. 2.0 : v\n WRAP. NO : w\n~Well\n NULL. -999.25 : n\n~Curve\n"
                        " DEPT.M : d\n GR.API : g\n RHOB.G/C3 : r\n NPHI.V/V : n\n RT.OHMM : t\n DT.US/F : s\n"
                        " CALI.IN : c\n SP.MV : p\n~A\n";
        std::string rows = las_rows();
        std::replace(rows.begin(), rows.end(), ' ', ',');
        s += rows;
        auto path = scratch() / "big_commas.las";
        write_text(path, s);
        return path;
    }();
    const auto bytes = fs::file_size(p);
    for (auto _ : state) {
        auto r = vz::las::read_file(p);
        if (!r) state.SkipWithError(r.error().display().c_str());
        else if (r->curves.size() != 7 || r->depth.size() != 1'000'000 || std::isnan(r->curves[0].values[1]))
            state.SkipWithError("unexpected shape");
        benchmark::DoNotOptimize(r);
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * bytes));
}
BENCHMARK(BM_LasCommaRowsRead)->Unit(benchmark::kMillisecond);

struct Grid {
    vz::GridGeometry geom;
    vz::Grid2 values;
};

const Grid& grid_4000() {
    static const Grid g = [] {
        Grid out{{461000.0, 5930000.0, 25.0, 25.0, 4000, 4000, 30.0, false}, vz::Grid2(4000, 4000)};
        std::mt19937 rng(2);
        std::uniform_real_distribution<double> d(1500, 2500);
        for (double& v : out.values.data()) v = d(rng);
        return out;
    }();
    return g;
}

void BM_IrapWrite(benchmark::State& state) {
    const auto& g = grid_4000();
    auto p = scratch() / "w.irap";
    for (auto _ : state) {
        auto r = vz::irap::write_classic(p, g.geom, g.values);
        if (!r) state.SkipWithError(r.error().display().c_str());
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * fs::file_size(p)));
    state.counters["nodes/s"] = benchmark::Counter(static_cast<double>(state.iterations()) * 16e6, benchmark::Counter::kIsRate);
}
BENCHMARK(BM_IrapWrite)->Unit(benchmark::kMillisecond);

void BM_IrapRead(benchmark::State& state) {
    const auto& g = grid_4000();
    auto p = scratch() / "r.irap";
    if (!fs::exists(p)) (void)vz::irap::write_classic(p, g.geom, g.values);
    for (auto _ : state) {
        auto r = vz::irap::read_classic(p);
        if (!r) state.SkipWithError(r.error().display().c_str());
        benchmark::DoNotOptimize(r);
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * fs::file_size(p)));
    state.counters["nodes/s"] = benchmark::Counter(static_cast<double>(state.iterations()) * 16e6, benchmark::Counter::kIsRate);
}
BENCHMARK(BM_IrapRead)->Unit(benchmark::kMillisecond);

void BM_PointsCsvRead(benchmark::State& state) {
    static const fs::path p = [] {
        std::string s = "x,y,z,porosity,facies,name\n";
        std::mt19937 rng(3);
        std::uniform_real_distribution<double> d(0, 1);
        char buf[160];
        for (int i = 0; i < 1'000'000; ++i) {
            int n = std::snprintf(buf, sizeof buf, "%.3f,%.3f,%.3f,%.4f,%d,w%d\n", 460000 + d(rng) * 5000,
                                  5930000 + d(rng) * 5000, 1500 + d(rng) * 100, d(rng) * 0.3, i % 5, i % 13);
            s.append(buf, static_cast<std::size_t>(n));
        }
        auto path = scratch() / "points.csv";
        write_text(path, s);
        return path;
    }();
    for (auto _ : state) {
        auto r = vz::csv_points::read_file(p, "x", "y", "z");
        if (!r) state.SkipWithError(r.error().display().c_str());
        benchmark::DoNotOptimize(r);
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * fs::file_size(p)));
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations()) * 1'000'000);
}
BENCHMARK(BM_PointsCsvRead)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
