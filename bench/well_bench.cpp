// Minimum-curvature positioning of long surveys and queries along them.

#include <benchmark/benchmark.h>

#include <cmath>
#include <vector>

#include "core/log.hpp"
#include "core/trajectory.hpp"

namespace {

/// A smooth build-and-turn survey of n stations, 10 MD units apart.
std::vector<vz::SurveyStation> make_survey(std::size_t n) {
    std::vector<vz::SurveyStation> rows;
    rows.reserve(n);
    for (std::size_t i = 0; i < n; ++i) {
        const double s = static_cast<double>(i) / static_cast<double>(n);
        rows.push_back({100.0 + 10.0 * static_cast<double>(i), 85.0 * s * s, 360.0 * s + 20.0 * std::sin(40 * s)});
    }
    return rows;
}

vz::Trajectory make_trajectory(std::size_t n) {
    return *vz::Trajectory::from_source(vz::TrajectorySource::survey(make_survey(n)), 1000, 2000, 25);
}

void BM_SurveyPositioning(benchmark::State& state) {
    const auto source = vz::TrajectorySource::survey(make_survey(static_cast<std::size_t>(state.range(0))));
    for (auto _ : state) {
        auto t = vz::Trajectory::from_source(source, 1000, 2000, 25);
        benchmark::DoNotOptimize(t);
    }
    state.SetItemsProcessed(state.iterations() * state.range(0));
}
BENCHMARK(BM_SurveyPositioning)->Arg(10000);

/// Queries spread over the whole MD range, in a scattered order.
std::vector<double> query_mds(const vz::Trajectory& t, std::size_t count) {
    std::vector<double> mds;
    mds.reserve(count);
    const double span = t.last_md() - t.first_md();
    for (std::size_t i = 0; i < count; ++i) {
        const double f = std::fmod(static_cast<double>(i) * 0.6180339887498949, 1.0);
        mds.push_back(t.first_md() + f * span);
    }
    return mds;
}

void BM_PositionAtMd(benchmark::State& state) {
    const auto t = make_trajectory(static_cast<std::size_t>(state.range(0)));
    const auto mds = query_mds(t, 4096);
    for (auto _ : state) {
        for (double md : mds) benchmark::DoNotOptimize(t.position_at_md(md));
    }
    state.SetItemsProcessed(state.iterations() * static_cast<std::int64_t>(mds.size()));
}
BENCHMARK(BM_PositionAtMd)->Arg(10000);

void BM_Tvd(benchmark::State& state) {
    const auto t = make_trajectory(static_cast<std::size_t>(state.range(0)));
    const auto mds = query_mds(t, 4096);
    for (auto _ : state) {
        for (double md : mds) benchmark::DoNotOptimize(t.tvd(md));
    }
    state.SetItemsProcessed(state.iterations() * static_cast<std::int64_t>(mds.size()));
}
BENCHMARK(BM_Tvd)->Arg(10000);

void BM_MdAtTvd(benchmark::State& state) {
    const auto t = make_trajectory(static_cast<std::size_t>(state.range(0)));
    const double z0 = t.stations().front().z;
    const double z1 = t.stations().back().z;
    std::vector<double> tvds;
    for (int i = 0; i < 64; ++i) tvds.push_back(z0 + (z1 - z0) * (i + 0.5) / 64.0);
    for (auto _ : state) {
        for (double z : tvds) benchmark::DoNotOptimize(t.md_at_tvd(z));
    }
    state.SetItemsProcessed(state.iterations() * static_cast<std::int64_t>(tvds.size()));
}
BENCHMARK(BM_MdAtTvd)->Arg(10000);

void BM_LogResample(benchmark::State& state) {
    const std::size_t n = static_cast<std::size_t>(state.range(0));
    std::vector<double> md(n), values(n), targets(n);
    for (std::size_t i = 0; i < n; ++i) {
        md[i] = 1000.0 + 0.1524 * static_cast<double>(i);
        values[i] = std::sin(0.01 * static_cast<double>(i));
        targets[i] = 1000.05 + 0.1524 * static_cast<double>(i);
    }
    const auto log = *vz::Log::make("PHIE", "v/v", md, values);
    const auto view = log.view();
    for (auto _ : state) benchmark::DoNotOptimize(vz::Log::resample(view, targets));
    state.SetItemsProcessed(state.iterations() * state.range(0));
}
BENCHMARK(BM_LogResample)->Arg(100000);

}  // namespace

BENCHMARK_MAIN();
