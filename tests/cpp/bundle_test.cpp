#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <optional>
#include <string>
#include <vector>

#include "analysis/bundle.hpp"
#include "core/log.hpp"
#include "core/trajectory.hpp"
#include "core/well.hpp"

namespace vz {
namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kInf = std::numeric_limits<double>::infinity();

// Equal element by element, NaN matching NaN.
void expect_same(const std::vector<double>& got, const std::vector<double>& want, const std::string& what) {
    ASSERT_EQ(got.size(), want.size()) << what;
    for (std::size_t k = 0; k < want.size(); ++k) {
        if (std::isnan(want[k])) EXPECT_TRUE(std::isnan(got[k])) << what << " at " << k;
        else EXPECT_DOUBLE_EQ(got[k], want[k]) << what << " at " << k;
    }
}

Log make_log(const std::string& mnemonic, std::vector<double> md, std::vector<double> values) {
    auto log = Log::make(mnemonic, "v/v", std::move(md), std::move(values));
    EXPECT_TRUE(log.has_value());
    return *log;
}

TEST(Bundle, ResampleRule) {
    struct Case {
        const char* name;
        std::vector<double> md, values, grid, want;
    };
    const Case cases[] = {
        {"inside, at the ends and outside", {0, 1, 2}, {10, 20, 40}, {-0.5, 0, 0.5, 1, 1.25, 2, 2.5},
         {kNaN, 10, 15, 20, 25, 40, kNaN}},
        {"NaN depth", {0, 1}, {10, 20}, {kNaN, 0.5}, {kNaN, 15}},
        // A repeated depth: interpolation from the left neighbour up to the
        // first of the two samples; beyond it from the second.
        {"repeated depth", {0, 1, 1, 2}, {0, 10, 30, 50}, {0.5, 1, 1.5}, {5, 10, 40}},
        // The first two depths equal: a zero-length step takes the left value.
        {"first two equal", {0, 0, 1}, {7, 9, 11}, {0, 0.5}, {7, 10}},
        // A NaN value spoils both intervals it bounds, their outer ends too
        // (the first depth interpolates towards the second sample, the last
        // from the one before it).
        {"NaN value propagates", {0, 1, 2}, {1, kNaN, 3}, {0, 0.5, 1.5, 2}, {kNaN, kNaN, kNaN, kNaN}},
        {"NaN value elsewhere", {0, 1, 2, 3}, {1, 2, 3, kNaN}, {0, 1.5}, {1, 2.5}},
        {"descending depths give NaN everywhere", {2, 1, 0}, {1, 2, 3}, {0, 0.5, 1, 2}, {kNaN, kNaN, kNaN, kNaN}},
        {"empty log", {}, {}, {0, 1}, {kNaN, kNaN}},
        // One sample: its depth takes its value; no second sample is read
        // (the sanitizer run would see such a read on the one-element array).
        {"one sample", {5}, {42}, {4, 5, 6}, {kNaN, 42, kNaN}},
    };
    for (const auto& c : cases) expect_same(bundle::resample(c.md, c.values, c.grid), c.want, c.name);
}

TEST(Bundle, OneSampleLogInTheGatheredBundle) {
    Sidetrack bore;
    bore.push_log(make_log("GR", {5}, {42}));
    const auto data = bundle::gather(bore, 0.0, std::nullopt);
    expect_same(data.md, {5}, "grid");
    ASSERT_EQ(data.curves.size(), 1u);
    expect_same(data.curves[0].values, {42}, "values");
}

TEST(Bundle, GridMergesEveryLogInTotalOrder) {
    // Sampled at 0.5 and 1.0 over overlapping ranges: one grid with every
    // depth of both; each curve interpolated inside its own range only.
    Sidetrack bore;
    bore.push_log(make_log("A", {0, 0.5, 1, 1.5, 2}, {0, 1, 2, 3, 4}));
    bore.push_log(make_log("B", {1, 2, 3}, {10, 20, 30}));
    const auto data = bundle::gather(bore, 0.0, std::nullopt);
    expect_same(data.md, {0, 0.5, 1, 1.5, 2, 3}, "grid");
    ASSERT_EQ(data.curves.size(), 2u);
    expect_same(data.curves[0].values, {0, 1, 2, 3, 4, kNaN}, "A");
    expect_same(data.curves[1].values, {kNaN, kNaN, 10, 15, 20, 30}, "B");

    // Zeros of both signs merge into the first met after sorting (-0.0);
    // NaNs are kept, a negative NaN before -inf and a positive one last.
    const double neg_nan = -std::numeric_limits<double>::quiet_NaN();
    const Log odd = make_log("C", {1, 0.0, kNaN, -0.0, neg_nan, -kInf, 1}, std::vector<double>(7, 1.0));
    const Log* logs[] = {&odd};
    const auto grid = bundle::depth_grid(logs);
    ASSERT_EQ(grid.size(), 5u);
    EXPECT_TRUE(std::isnan(grid[0]) && std::signbit(grid[0]));
    EXPECT_EQ(grid[1], -kInf);
    EXPECT_TRUE(grid[2] == 0.0 && std::signbit(grid[2]));
    EXPECT_EQ(grid[3], 1.0);
    EXPECT_TRUE(std::isnan(grid[4]) && !std::signbit(grid[4]));
}

TEST(Bundle, ArraysOfDifferentLengthAreNeverReadPastTheirEnd) {
    Sidetrack bore;
    Log log = make_log("GR", {0, 1, 2}, {5, 6, 7});
    log.values.pop_back();  // a log assembled field by field
    bore.push_log(std::move(log));
    const auto data = bundle::gather(bore, 0.0, std::nullopt);
    expect_same(data.md, {0, 1}, "grid");
    expect_same(data.curves[0].values, {5, 6}, "values");
}

TEST(Bundle, CurveSelection) {
    const Log phie = make_log("PHIE", {0}, {0});
    const Log alias = make_log("PHI_E", {0}, {0});  // canonical PHIE
    const Log gr = make_log("GR", {0}, {0});
    struct Case {
        bundle::CurveSelection selection;
        bool phie, alias, gr;
    };
    const Case cases[] = {
        {std::nullopt, true, true, true},
        {std::vector<std::string>{}, false, false, false},
        {std::vector<std::string>{"phie"}, true, true, false},
        {std::vector<std::string>{"phi_e"}, false, true, false},  // entries are not canonicalised
        {std::vector<std::string>{"gr", "nothing"}, false, false, true},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(bundle::curve_selected(phie, c.selection), c.phie);
        EXPECT_EQ(bundle::curve_selected(alias, c.selection), c.alias);
        EXPECT_EQ(bundle::curve_selected(gr, c.selection), c.gr);
    }
}

TEST(Bundle, VerticalDepthsFollowTheActiveTrajectoryElseMdMinusDatum) {
    Sidetrack bore;
    bore.kb = 25;
    ASSERT_TRUE(bore.push_trajectory(TrajectorySource::survey({{0, 0, 0}, {100, 0, 0}})).has_value());
    bore.add_tops({{"A", 10}, {"B", 40}});
    bore.push_log(make_log("GR", {0, 50, 100, 150}, {1, 2, 3, 4}));
    // The datum passed in is the well's; positions come from the trajectory
    // (z = md - 25 on this vertical hole), beyond its last station md - kb.
    const auto data = bundle::gather(bore, 30.0, std::nullopt);
    expect_same(data.tvd, {-25, 25, 75, 120}, "tvd");
    ASSERT_EQ(data.zones.size(), 2u);
    EXPECT_EQ(data.zones[0].name, "A");
    EXPECT_DOUBLE_EQ(data.zones[0].top_tvd, -15);
    EXPECT_DOUBLE_EQ(data.zones[0].base_tvd, 15);
    EXPECT_DOUBLE_EQ(data.zones[1].base_md, 100);
    EXPECT_DOUBLE_EQ(data.zones[1].base_tvd, 75);

    // Without a trajectory: md - kb everywhere, the last zone's base NaN.
    Sidetrack flat;
    flat.add_tops({{"A", 10}, {"B", 40}});
    flat.push_log(make_log("GR", {0, 50}, {1, 2}));
    const auto f = bundle::gather(flat, 30.0, std::nullopt);
    expect_same(f.tvd, {-30, 20}, "flat tvd");
    EXPECT_DOUBLE_EQ(f.zones[0].top_tvd, -20);
    EXPECT_TRUE(std::isnan(f.zones[1].base_md));
    EXPECT_TRUE(std::isnan(f.zones[1].base_tvd));
}

TEST(Bundle, EmptySelectionKeepsTheZones) {
    Sidetrack bore;
    bore.add_tops({{"A", 10}});
    bore.push_log(make_log("GR", {0, 50}, {1, 2}));
    const auto data = bundle::gather(bore, 0.0, std::vector<std::string>{});
    EXPECT_TRUE(data.md.empty());
    EXPECT_TRUE(data.tvd.empty());
    EXPECT_TRUE(data.curves.empty());
    ASSERT_EQ(data.zones.size(), 1u);
    const Log core = [] {
        Log l = make_log("CPOR", {1}, {0.2});
        l.kind = LogKind::Core;
        return l;
    }();
    const Log* logs[] = {&core};
    const auto rows = bundle::resample_logs(logs, std::vector<double>{1});
    EXPECT_TRUE(rows[0].core);
    EXPECT_EQ(rows[0].unit, "v/v");
}

}  // namespace
}  // namespace vz
