// Gridding kernels on scattered samples: nearest sample, inverse distance and
// minimum curvature, each on the lattice sizes they are used at.
#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "gridding/grid.hpp"
#include "gridding/lattice.hpp"
#include "parallel/parallel_for.hpp"

namespace {

using vz::gridding::Lattice;
using vz::gridding::Sample;

/// A square lattice of `side` nodes with 10-unit spacing.
Lattice square_lattice(std::uint64_t side) { return {1000.0, 2000.0, 10.0, 10.0, side, side, 0.0, false}; }

/// `n` samples scattered uniformly over the lattice, z a smooth surface.
std::vector<Sample> scattered(std::size_t n, const Lattice& g) {
    std::mt19937_64 rng(12345);
    const double w = g.xinc * double(g.ncol - 1), h = g.yinc * double(g.nrow - 1);
    std::uniform_real_distribution<double> ux(g.xori, g.xori + w), uy(g.yori, g.yori + h);
    std::vector<Sample> s(n);
    for (auto& p : s) {
        p[0] = ux(rng);
        p[1] = uy(rng);
        p[2] = 1500.0 + 40.0 * std::sin(p[0] / 700.0) * std::cos(p[1] / 900.0) + 0.01 * (p[0] - g.xori);
    }
    return s;
}

/// Threads for the kernels: the third argument, or the machine's own count
/// for 0.
void set_threads(std::int64_t threads) {
    if (threads > 0)
        ::setenv(vz::parallel::kThreadsVariable, std::to_string(threads).c_str(), 1);
    else
        ::unsetenv(vz::parallel::kThreadsVariable);
}

/// The process's peak resident memory in bytes since the last
/// `reset_peak_memory` (Linux: VmHWM, reset through clear_refs); 0 where it
/// cannot be told.
double peak_memory() {
#if defined(__linux__)
    std::FILE* f = std::fopen("/proc/self/status", "r");
    if (!f) return 0.0;
    char line[256];
    double kb = 0.0;
    while (std::fgets(line, sizeof line, f))
        if (std::strncmp(line, "VmHWM:", 6) == 0) kb = std::strtod(line + 6, nullptr);
    std::fclose(f);
    return kb * 1024.0;
#else
    return 0.0;
#endif
}

void reset_peak_memory() {
#if defined(__linux__)
    if (std::FILE* f = std::fopen("/proc/self/clear_refs", "w")) {
        std::fputs("5", f);
        std::fclose(f);
    }
#endif
}

void run(benchmark::State& state, std::uint8_t method) {
    set_threads(state.range(2));
    const Lattice g = square_lattice(static_cast<std::uint64_t>(state.range(1)));
    const auto samples = scattered(static_cast<std::size_t>(state.range(0)), g);
    // The peak of the process while the kernel runs (its input and output
    // included), beside the time.
    reset_peak_memory();
    for (auto _ : state) {
        auto out = vz::gridding::grid(samples, g, method);
        benchmark::DoNotOptimize(out);
    }
    state.counters["peak_MB"] = peak_memory() / 1e6;
    state.counters["nodes"] = double(g.ncol * g.nrow);
    state.counters["samples"] = double(samples.size());
    state.counters["threads"] = double(vz::parallel::thread_count());
    set_threads(0);
}

void BM_Nearest(benchmark::State& state) { run(state, vz::gridding::kMethodNearest); }
void BM_InverseDistance(benchmark::State& state) { run(state, vz::gridding::kMethodInverseDistance); }
void BM_MinimumCurvature(benchmark::State& state) { run(state, vz::gridding::kMethodMinimumCurvature); }

// The reference load: 100,000 samples onto 500 x 500 nodes, on the machine's
// threads and on one.
BENCHMARK(BM_Nearest)->Args({100000, 500, 0})->Unit(benchmark::kMillisecond);
BENCHMARK(BM_InverseDistance)->Args({100000, 500, 0})->Args({100000, 500, 1})->Iterations(1)->Unit(benchmark::kSecond);
BENCHMARK(BM_MinimumCurvature)->Args({100000, 500, 0})->Args({100000, 500, 1})->Iterations(1)->Unit(benchmark::kSecond);
// Smaller loads: inverse distance per node-sample pair, and minimum curvature
// on smaller lattices.
BENCHMARK(BM_InverseDistance)->Args({2000, 100, 0})->Unit(benchmark::kMillisecond);
BENCHMARK(BM_MinimumCurvature)->Args({2000, 100, 0})->Unit(benchmark::kMillisecond);
BENCHMARK(BM_MinimumCurvature)->Args({20000, 300, 0})->Iterations(1)->Unit(benchmark::kSecond);
// A map-sized lattice: its band storage (about 32 GB) exceeds the memory
// budget of most machines, and the system is solved iteratively.
BENCHMARK(BM_MinimumCurvature)->Args({100000, 1000, 0})->Args({100000, 1000, 1})->Iterations(1)->Unit(benchmark::kSecond);
// A top picked in a few wells: three samples cannot pin the surface (the
// system is singular and the kernel relaxes), five can.
BENCHMARK(BM_MinimumCurvature)
    ->Args({3, 201, 0})
    ->Args({5, 201, 0})
    ->Args({3, 401, 0})
    ->Args({3, 401, 1})
    ->Args({5, 401, 0})
    ->Iterations(1)
    ->Unit(benchmark::kSecond);

}  // namespace

BENCHMARK_MAIN();
