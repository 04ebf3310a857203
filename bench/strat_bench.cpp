// The stratigraphic column of one well: many picks of a few names, and many
// distinct tops. Both used to compare every two picks of a well.

#include <benchmark/benchmark.h>

#include <string>
#include <vector>

#include "algorithms/wells.hpp"

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

}  // namespace

BENCHMARK_MAIN();
