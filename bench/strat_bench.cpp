// The stratigraphic column of one well: many picks of a few names, and many
// distinct tops. Both used to compare every two picks of a well.

#include <benchmark/benchmark.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "algorithms/wells.hpp"
#include "manager/geodata.hpp"

namespace {

using Picks = std::vector<std::vector<vz::DepthPick>>;

/// One well of `n` picks cycling through `names` names, deeper names later
/// in the cycle.
Picks one_well(std::size_t n, std::size_t names) {
    Picks picks(1);
    picks[0].reserve(n);
    for (std::size_t k = 0; k < n; ++k)
        picks[0].push_back({"T" + std::to_string(k % names), 1000.0 + static_cast<double>(k % names) * 10.0 +
                                                                 static_cast<double>(k) * 1e-6});
    return picks;
}

void run(benchmark::State& state, std::size_t names) {
    const auto picks = one_well(static_cast<std::size_t>(state.range(0)), names);
    for (auto _ : state) {
        auto order = vz::wells::infer_strat_order(picks, {});
        if (!order) state.SkipWithError(order.error().display().c_str());
        benchmark::DoNotOptimize(order);
    }
    state.SetItemsProcessed(state.iterations() * state.range(0));
}

void BM_StratOrderRepeatedNames(benchmark::State& state) { run(state, 3); }
BENCHMARK(BM_StratOrderRepeatedNames)->Arg(2000)->Arg(20000)->Unit(benchmark::kMillisecond);

void BM_StratOrderDistinctTops(benchmark::State& state) { run(state, static_cast<std::size_t>(state.range(0))); }
BENCHMARK(BM_StratOrderDistinctTops)->Arg(2000)->Arg(20000)->Unit(benchmark::kMillisecond);


// Loading a tops file whose picks all go to one bore: the routing used to
// re-sort the bore's tops after every pick.
void BM_LoadWellTopsOneBore(benchmark::State& state) {
    namespace fs = std::filesystem;
    const fs::path dir = fs::temp_directory_path() / "vz_strat_bench";
    fs::create_directories(dir);
    const fs::path tops = dir / "tops.txt";
    {
        std::ofstream out(tops);
        out << "END HEADER\n";
        for (std::int64_t k = 0; k < state.range(0); ++k)
            out << "0 0 0 -999 -999 0 " << 1000.0 + static_cast<double>(k) * 0.5 << " -999 Horizon \"T"
                << k % 3 << "\" \"W\"\n";
    }
    for (auto _ : state) {
        state.PauseTiming();
        auto geo = vz::GeoData::make(vz::LengthUnit::Metres);
        geo.wells.insert({"W", vz::Well::make("W", 0.0, 0.0, 0.0)});
        state.ResumeTiming();
        auto n = geo.load_well_tops(tops);
        if (!n) state.SkipWithError(n.error().display().c_str());
        benchmark::DoNotOptimize(n);
    }
    fs::remove_all(dir);
    state.SetItemsProcessed(state.iterations() * state.range(0));
}
BENCHMARK(BM_LoadWellTopsOneBore)->Arg(2000)->Arg(20000)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
