#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <optional>
#include <random>
#include <set>
#include <string>
#include <unordered_map>
#include <vector>

#include "algorithms/wells.hpp"
#include "analysis/interpret.hpp"
#include "analysis/well_tables.hpp"
#include "core/log.hpp"
#include "core/trajectory.hpp"
#include "core/well.hpp"
#include "child_process.hpp"

namespace vz {
namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

// ---------------------------------------------------------------------------
// Stratigraphic hints

TEST(StratHint, ParseShorthand) {
    struct Case {
        std::string text;
        std::optional<std::pair<std::string, std::string>> hint;  // (above, below)
        std::string error;
    };
    const Case cases[] = {
        {"Base Shale < Upper Sand", std::pair{"Base Shale", "Upper Sand"}, ""},
        {"Upper Sand > Base Shale", std::pair{"Base Shale", "Upper Sand"}, ""},
        {"  A<B  ", std::pair{"A", "B"}, ""},
        {"A > B < C", std::pair{"A > B", "C"}, ""},
        {"\u00a0A\u2003<\tB\u3000", std::pair{"A", "B"}, ""},  // Unicode white space trimmed
        {"A < ", std::nullopt, "parse error: strat hint 'A < ' has an empty side"},
        {" > B", std::nullopt, "parse error: strat hint ' > B' has an empty side"},
        {"A - B", std::nullopt, "parse error: strat hint 'A - B' must contain '<' (above) or '>' (below)"},
        {"", std::nullopt, "parse error: strat hint '' must contain '<' (above) or '>' (below)"},
    };
    for (const auto& c : cases) {
        std::vector<StratHint> hints = {{"X", "Y"}};
        auto r = StratHint::parse(c.text, hints);
        if (c.hint) {
            ASSERT_TRUE(r.has_value()) << c.text;
            ASSERT_EQ(hints.size(), 2u);
            EXPECT_EQ(hints[0], (StratHint{"X", "Y"}));
            EXPECT_EQ(hints[1], (StratHint{c.hint->first, c.hint->second})) << c.text;
        } else {
            ASSERT_FALSE(r.has_value()) << c.text;
            EXPECT_EQ(r.error().kind(), ErrorKind::Parse);
            EXPECT_EQ(r.error().display(), c.error);
            EXPECT_EQ(hints, (std::vector<StratHint>{{"X", "Y"}})) << c.text;
        }
    }
}

TEST(StratHint, ResolveName) {
    const std::vector<std::string> three = {"Top A", "Base Shale top", "Upper Sand top"};
    const std::vector<std::string> one = {"Base Shale top"};
    const std::vector<std::string> twins = {"Top A", "TOP A"};
    const std::vector<std::string> none;
    const auto no_match = [](const std::string& n) {
        return "parse error: strat hint entry '" + n +
               "': no loaded well top matches it (from the IngestSpec strat_hints / strat_hint hints)";
    };
    struct Case {
        const std::vector<std::string>* candidates;
        std::string name;
        std::string result;  // the resolved candidate, or the error display
        bool ok;
    };
    const Case cases[] = {
        {&three, "top a", "Top A", true},
        {&three, "  Base Shale ", "Base Shale top", true},
        {&three, "sand", "Upper Sand top", true},
        {&three, "SHALE TOP", "Base Shale top", true},
        {&twins, "top a", "Top A", true},
        {&twins, "TOP A", "Top A", true},
        {&three, "top",
         "parse error: strat hint entry 'top' is ambiguous — matches Top A, Base Shale top, Upper Sand top "
         "(disambiguate the IngestSpec strat_hints / strat_hint entry)",
         false},
        {&three, "Lower", no_match("Lower"), false},
        {&none, "Top A", no_match("Top A"), false},
        // An empty or blank name names no top, whatever the candidates.
        {&three, "", no_match(""), false},
        {&one, "   ", no_match("   "), false},
        {&one, "\u00a0", no_match("\u00a0"), false},
    };
    for (const auto& c : cases) {
        auto r = StratHint::resolve_name(c.name, *c.candidates);
        if (c.ok) {
            ASSERT_TRUE(r.has_value()) << c.name << ": " << r.error().display();
            EXPECT_EQ(*r, c.result);
        } else {
            ASSERT_FALSE(r.has_value()) << c.name;
            EXPECT_EQ(r.error().kind(), ErrorKind::Parse);
            EXPECT_EQ(r.error().display(), c.result);
        }
    }
}

// ---------------------------------------------------------------------------
// Column inference

using Picks = std::vector<std::vector<DepthPick>>;

TEST(StratOrder, InferFromPicksAndHints) {
    struct Case {
        const char* name;
        Picks picks;
        std::vector<StratHint> hints;
        std::vector<std::string> order;
    };
    const Case cases[] = {
        {"no picks", {}, {}, {}},
        {"no picks, hints ignored", {{}, {}}, {{"A", "B"}}, {}},
        {"one well", {{{"A", 1000}, {"B", 1100}}}, {}, {"A", "B"}},
        {"depth decides, not file order", {{{"B", 1100}, {"A", 1000}}}, {}, {"A", "B"}},
        {"unrelated top keeps first-seen place", {{{"A", 1000}, {"B", 1100}}, {{"C", 900}}}, {}, {"A", "B", "C"}},
        {"contradicting wells: cycle broken at first seen",
         {{{"A", 1000}, {"B", 1100}}, {{"B", 1000}, {"A", 1100}}},
         {},
         {"A", "B"}},
        {"equal depths give no edge", {{{"B", 1000}, {"A", 1000}}, {{"A", 5}, {"B", 5}}}, {}, {"B", "A"}},
        {"NaN depth gives no edge", {{{"B", kNaN}, {"A", 1000}}}, {}, {"B", "A"}},
        {"chain across wells",
         {{{"C", 1200}, {"B", 1100}}, {{"B", 500}, {"A", 400}}},
         {},
         {"A", "B", "C"}},
        {"repeated name pairs with the others only",
         {{{"A", 1000}, {"B", 900}, {"A", 800}}},
         {},
         {"A", "B"}},  // A@1000 below B, A@800 above B: a cycle, A seen first
        {"hint against the data is ignored", {{{"A", 1000}, {"B", 1100}}}, {{"B", "A"}}, {"A", "B"}},
        {"hint against transitive data is ignored",
         {{{"A", 1000}, {"B", 1100}}, {{"B", 1000}, {"C", 1100}}},
         {{"C", "A"}},
         {"A", "B", "C"}},
        {"hint orders what the data leave open",
         {{{"A", 1000}, {"B", 1100}}, {{"C", 900}}},
         {{"C", "A"}},
         {"C", "A", "B"}},
        {"hint with an unknown or identical name is skipped",
         {{{"A", 1000}}, {{"B", 900}}},
         {{"Z", "A"}, {"B", "B"}, {"a", "b"}},
         {"A", "B"}},
        {"contradicting hints form a cycle broken at first seen",
         {{{"D", 10}}, {{"C", 20}}},
         {{"C", "D"}, {"D", "C"}},
         {"D", "C"}},
        // The reachability test follows data edges only: the third hint is
        // added although the first two already lead from A to C, and the
        // cycle is broken at C, seen first.
        {"hint edges are not followed when testing later hints",
         {{{"C", 1}}, {{"B", 1}}, {{"A", 1}}},
         {{"A", "B"}, {"B", "C"}, {"C", "A"}},
         {"C", "A", "B"}},
    };
    for (const auto& c : cases) {
        auto order = wells::infer_strat_order(c.picks, c.hints);
        ASSERT_TRUE(order) << c.name << ": " << order.error().display();
        EXPECT_EQ(*order, c.order) << c.name;
    }
}

// The column by the letter of its definition: every two picks of a well
// compared, edges in an ordered set, the lowest free node placed each round.
// Slow, but plainly right: the reference for the inference by pairs of names.
std::vector<std::string> column_by_every_pair_of_picks(const Picks& picks, const std::vector<StratHint>& hints) {
    std::vector<std::string> names;
    std::unordered_map<std::string, std::size_t> node;
    for (const auto& well : picks)
        for (const auto& p : well)
            if (node.emplace(p.name, names.size()).second) names.push_back(p.name);
    std::set<std::pair<std::size_t, std::size_t>> edges;
    for (const auto& well : picks)
        for (std::size_t i = 0; i < well.size(); ++i)
            for (std::size_t j = i + 1; j < well.size(); ++j) {
                if (well[i].name == well[j].name) continue;
                if (well[j].md > well[i].md) edges.emplace(node[well[i].name], node[well[j].name]);
                if (well[j].md < well[i].md) edges.emplace(node[well[j].name], node[well[i].name]);
            }
    const auto data = edges;
    for (const auto& h : hints) {
        if (!node.contains(h.above) || !node.contains(h.below)) continue;
        const std::size_t a = node[h.above], b = node[h.below];
        if (a == b) continue;
        std::vector<char> seen(names.size());
        std::vector<std::size_t> stack{b};
        bool reached = false;
        while (!stack.empty() && !reached) {
            std::size_t at = stack.back();
            stack.pop_back();
            for (const auto& [from, to] : data)
                if (from == at) {
                    if (to == a) reached = true;
                    if (!seen[to]) seen[to] = 1, stack.push_back(to);
                }
        }
        if (!reached) edges.emplace(a, b);
    }
    std::vector<std::size_t> indegree(names.size());
    for (const auto& [from, to] : edges) ++indegree[to];
    std::vector<char> placed(names.size());
    std::vector<std::string> order;
    for (std::size_t round = 0; round < names.size(); ++round) {
        std::size_t pick = names.size();
        for (std::size_t k = 0; k < names.size() && pick == names.size(); ++k)
            if (!placed[k] && indegree[k] == 0) pick = k;
        for (std::size_t k = 0; k < names.size() && pick == names.size(); ++k)
            if (!placed[k]) pick = k;
        placed[pick] = 1;
        order.push_back(names[pick]);
        for (const auto& [from, to] : edges)
            if (from == pick && !placed[to] && indegree[to] > 0) --indegree[to];
    }
    return order;
}

// Pairs of names give the column that every pair of picks gives, on random
// wells with repeated names, equal and NaN depths, cycles and hints.
TEST(StratOrder, PairsOfNamesMatchEveryPairOfPicks) {
    std::mt19937 rng(20);
    for (int trial = 0; trial < 400; ++trial) {
        const int name_count = 1 + static_cast<int>(rng() % 12);
        const int depth_levels = 1 + static_cast<int>(rng() % 8);  // few levels: many equal depths
        Picks picks(1 + rng() % 4);
        for (auto& well : picks) {
            const std::size_t count = rng() % 10;
            for (std::size_t k = 0; k < count; ++k) {
                const double md = rng() % 11 == 0 ? kNaN : 1000.0 + 10.0 * static_cast<double>(rng() % depth_levels);
                well.push_back({"T" + std::to_string(rng() % name_count), md});
            }
        }
        std::vector<StratHint> hints;
        for (std::size_t k = rng() % 4; k > 0; --k)
            hints.push_back({"T" + std::to_string(rng() % (name_count + 1)), "T" + std::to_string(rng() % name_count)});
        auto order = wells::infer_strat_order(picks, hints);
        ASSERT_TRUE(order) << order.error().display();
        ASSERT_EQ(*order, column_by_every_pair_of_picks(picks, hints)) << "trial " << trial;
    }
}

// Many picks of few names cost the names, not the picks; a well of 20,000
// distinct tops is answered within a small memory budget (about 50 MB of
// pairs). Under an address-space limit neither lets an allocation failure
// escape.
TEST(StratOrder, LargeWellsAreAnsweredInBoundedMemory) {
    VZ_SKIP_WITHOUT_ADDRESS_LIMIT();
    const std::string report = testing::run_with_memory_budget(std::size_t{512} << 20, []() -> std::string {
        Picks repeated(1);
        for (int k = 0; k < 20000; ++k) repeated[0].push_back({"T" + std::to_string(k % 3), 3000.0 - k % 3 * 1000});
        auto few = wells::infer_strat_order(repeated, {});
        if (!few) return few.error().display();
        if (*few != std::vector<std::string>{"T2", "T1", "T0"}) return "wrong order of three names";

        // Distinct tops listed deepest first: the column reverses them.
        const int n = 20000;
        Picks distinct(1);
        for (int k = 0; k < n; ++k) distinct[0].push_back({"T" + std::to_string(k), static_cast<double>(n - k)});
        const std::vector<StratHint> against_the_data = {{"T0", "T1"}};
        auto many = wells::infer_strat_order(distinct, against_the_data);
        if (!many) return many.error().display();
        if (many->size() != static_cast<std::size_t>(n)) return "wrong size";
        for (int k = 0; k < n; ++k)
            if ((*many)[static_cast<std::size_t>(k)] != "T" + std::to_string(n - 1 - k)) return "wrong order";
        return "";
    });
    EXPECT_EQ(report, "");
}

TEST(StratOrder, RankMap) {
    const std::vector<std::string> order = {"A", "B", "a", "B"};
    const auto ranks = strat_rank_map(order);
    EXPECT_EQ(ranks.size(), 3u);
    EXPECT_EQ(ranks.at("A"), 0u);
    EXPECT_EQ(ranks.at("a"), 2u);
    EXPECT_EQ(ranks.at("B"), 3u);  // a repeated name keeps its later position
    EXPECT_FALSE(ranks.contains("b"));
    EXPECT_TRUE(strat_rank_map({}).empty());
}

// ---------------------------------------------------------------------------
// Bores for the net and zone-table tests

/// A vertical bore from md 0 to `td` (md = tvd), with the given tops.
Sidetrack bore_with(double td, std::vector<DepthPick> tops) {
    Sidetrack b;
    auto t = Trajectory::from_station_records({Station{0, 0, 0, 0, std::nullopt}, Station{td, 0, 0, td, std::nullopt}});
    EXPECT_TRUE(t.has_value());
    b.trajectories.push_back(*t);
    b.add_tops(std::move(tops));
    return b;
}

void add_log(Sidetrack& b, const std::string& mnemonic, std::vector<double> md, std::vector<double> values) {
    auto log = Log::make(mnemonic, "", std::move(md), std::move(values));
    ASSERT_TRUE(log.has_value());
    b.push_log(std::move(*log));
}

std::vector<double> range_md(double from, double step, int n) {
    std::vector<double> v;
    for (int k = 0; k < n; ++k) v.push_back(from + step * k);
    return v;
}

// ---------------------------------------------------------------------------
// Net test

TEST(NetFlags, InclusiveCutoffsAndNaN) {
    const Cutoffs cut{0.08, 0.5, 0.5};
    struct Case {
        std::vector<double> phi, sw;
        std::optional<std::vector<double>> vsh;
        Cutoffs cutoffs;
        std::vector<std::uint8_t> flags;
    };
    const Case cases[] = {
        {{0.08, 0.0799, 0.3}, {0.5, 0.1, 0.5000001}, std::nullopt, cut, {1, 0, 0}},
        {{kNaN, 0.2, 0.2}, {0.1, kNaN, 0.1}, std::vector<double>{0.1, 0.1, kNaN}, cut, {0, 0, 0}},
        {{0.2, 0.2}, {0.1, 0.1}, std::vector<double>{0.5, 0.6}, cut, {1, 0}},
        // Short sw and vsh lists read NaN past their ends.
        {{0.2, 0.2, 0.2}, {0.1}, std::nullopt, cut, {1, 0, 0}},
        {{0.2, 0.2}, {0.1, 0.1}, std::vector<double>{0.1}, cut, {1, 0}},
        // Without vsh the shale volume reads 0: a negative vsh_max fails all.
        {{0.2}, {0.1}, std::nullopt, Cutoffs{0.08, 0.5, -0.01}, {0}},
        {{0.2}, {0.1}, std::nullopt, Cutoffs{0.08, 0.5, 0.0}, {1}},
        {{}, {0.1}, std::nullopt, cut, {}},
    };
    for (const auto& c : cases) {
        const auto vsh = c.vsh ? std::optional<std::span<const double>>(*c.vsh) : std::nullopt;
        EXPECT_EQ(interpret::net_flags(c.phi, c.sw, vsh, c.cutoffs), c.flags);
    }
}

TEST(NetZoneStats, ConditioningCurvesDecide) {
    // Zones Z1 [1000, 1100) and Z2 [1100, 1300); GR every 10 m from 1000 with
    // value (md - 1000) / 10, porosity good on even samples, water wet from
    // 1200 down, shale good everywhere but 1000.
    const auto md = range_md(1000, 10, 30);
    std::vector<double> gr, phi, sw, vsh;
    for (int k = 0; k < 30; ++k) {
        gr.push_back(k);
        phi.push_back(k % 2 == 0 ? 0.2 : 0.01);
        sw.push_back(md[k] >= 1200 ? 0.9 : 0.3);
        vsh.push_back(k == 0 ? 0.9 : 0.1);
    }
    const auto make = [&](bool with_phi, bool with_value) {
        Sidetrack b = bore_with(1300, {{"Z1", 1000}, {"Z2", 1100}});
        if (with_value) add_log(b, "GR", md, gr);
        if (with_phi) add_log(b, "PHIE", md, phi);
        add_log(b, "SW", md, sw);
        add_log(b, "VSH", md, vsh);
        return b;
    };
    // The sw curve covers only [1000, 1150]: the samples past it are not net.
    Sidetrack short_sw = bore_with(1300, {{"Z1", 1000}, {"Z2", 1100}});
    add_log(short_sw, "GR", md, gr);
    add_log(short_sw, "PHIE", md, phi);
    add_log(short_sw, "SW", range_md(1000, 10, 16), std::vector<double>(16, 0.3));

    using Result = std::vector<std::pair<std::string, std::vector<double>>>;
    struct Case {
        const char* name;
        Sidetrack bore;
        std::optional<std::string_view> vsh;
        Result expected;
    };
    const Case cases[] = {
        {"no vsh curve named", make(true, true), std::nullopt, {{"Z1", {0, 2, 4, 6, 8}}, {"Z2", {10, 12, 14, 16, 18}}}},
        {"vsh applied", make(true, true), "vsh", {{"Z1", {2, 4, 6, 8}}, {"Z2", {10, 12, 14, 16, 18}}}},
        {"vsh named but missing", make(true, true), "NOPE", {{"Z1", {0, 2, 4, 6, 8}}, {"Z2", {10, 12, 14, 16, 18}}}},
        {"phi missing", make(false, true), std::nullopt, {{"Z1", {}}, {"Z2", {}}}},
        {"value curve missing", make(true, false), std::nullopt, {{"Z1", {}}, {"Z2", {}}}},
        {"sw ends early", short_sw, std::nullopt, {{"Z1", {0, 2, 4, 6, 8}}, {"Z2", {10, 12, 14}}}},
        {"no tops", bore_with(1300, {}), std::nullopt, {}},
    };
    for (const auto& c : cases)
        EXPECT_EQ(well_tables::net_zone_stats(c.bore, "gr", "phie", "Sw", c.vsh, Cutoffs{0.08, 0.5, 0.5}), c.expected)
            << c.name;
}

// ---------------------------------------------------------------------------
// Zone tables

TEST(ZoneTable, StatByNameAndThicknessWeights) {
    const std::vector<double> v = {4, 1, 3, 2, kNaN};
    const Stats s = Stats::from_values(v);
    struct Case {
        const char* name;
        double value;
    };
    const Case cases[] = {{"mean", 2.5}, {"sum", 10}, {"count", 4}, {"samples", 4}, {"min", 1},
                          {"max", 4},    {"std", std::sqrt(1.25)}, {"p50", s.p50},   {"p10", s.p10},
                          {"p90", s.p90}};
    for (const auto& c : cases) EXPECT_DOUBLE_EQ(well_tables::stat_by_name(s, c.name), c.value) << c.name;
    for (const char* other : {"gross", "Mean", "", "p95"}) EXPECT_TRUE(std::isnan(well_tables::stat_by_name(s, other)));

    struct W {
        std::vector<double> md, w;
    };
    const W weights[] = {{{100, 101, 103}, {1, 1.5, 2}}, {{5, 5}, {0, 0}}, {{0, 10, 20, 30}, {10, 10, 10, 10}}};
    for (const auto& c : weights) EXPECT_EQ(well_tables::thickness_weights(c.md), c.w);
}

/// Two bores: A with zones Z1 [1000, 1100) and Z2 [1100, 1300), GR every 10 m
/// valued (md - 1000) / 10 and a porosity good on even samples; B with the
/// zone Z1 [1050, 1300) and a constant GR of 50 from 1050, without porosity.
struct TwoBores {
    Sidetrack a = bore_with(1300, {{"Z1", 1000}, {"Z2", 1100}});
    Sidetrack b = bore_with(1300, {{"Z1", 1050}});
    TwoBores() {
        const auto md = range_md(1000, 10, 30);
        std::vector<double> gr, phi;
        for (int k = 0; k < 30; ++k) {
            gr.push_back(k);
            phi.push_back(k % 2 == 0 ? 0.2 : 0.01);
        }
        add_log(a, "GR", md, gr);
        add_log(a, "PHIE", md, phi);
        add_log(a, "SW", md, std::vector<double>(30, 0.3));
        add_log(b, "GR", range_md(1050, 10, 25), std::vector<double>(25, 50.0));
    }
    std::vector<well_tables::BoreRow> rows() const { return {{"A", &a}, {"B", &b}}; }
};

struct Row {
    std::string zone, bore;
    std::vector<double> values;
};

void expect_table(const ZoneTable& t, const std::vector<Row>& rows, std::size_t nstats, const char* name) {
    ASSERT_EQ(t.zone.size(), rows.size()) << name;
    ASSERT_EQ(t.bore.size(), rows.size()) << name;
    ASSERT_EQ(t.stats.size(), nstats) << name;
    for (const auto& col : t.stats) ASSERT_EQ(col.size(), rows.size()) << name;
    for (std::size_t r = 0; r < rows.size(); ++r) {
        EXPECT_EQ(t.zone[r], rows[r].zone) << name << " row " << r;
        EXPECT_EQ(t.bore[r], rows[r].bore) << name << " row " << r;
        for (std::size_t s = 0; s < nstats; ++s) {
            const double want = rows[r].values[s];
            const double got = t.stats[s][r];
            if (std::isnan(want)) {
                EXPECT_TRUE(std::isnan(got)) << name << " row " << r << " stat " << s << " = " << got;
            } else {
                EXPECT_DOUBLE_EQ(got, want) << name << " row " << r << " stat " << s;
            }
        }
    }
}

TEST(ZoneTable, TidyAndAggregateForms) {
    const TwoBores f;
    const auto rows = f.rows();
    const std::vector<std::string> names = {"count", "mean", "gross", "sum"};
    const NetConditioning net{"phie", "sw", Cutoffs{0.08, 0.5, 0.5}, std::nullopt};
    const double n = kNaN;
    struct Case {
        const char* name;
        bool include_empty, aggregate, weighted;
        std::optional<NetConditioning> net;
        std::vector<Row> rows;
        std::optional<std::vector<std::string>> order;
    };
    const Case cases[] = {
        {"tidy",
         false, false, false, std::nullopt,
         {{"Z1", "A", {10, 4.5, 100, 45}}, {"Z2", "A", {20, 19.5, 200, 390}}, {"Z1", "B", {25, 50, 250, 1250}}},
         std::vector<std::string>{"Z1", "Z2"}},
        {"aggregate",
         false, true, false, std::nullopt,
         {{"Z1", "all", {35, 1295.0 / 35, 175, 1295}},
          {"Z1", "A", {10, 4.5, 100, 45}},
          {"Z1", "B", {25, 50, 250, 1250}},
          {"Z2", "all", {20, 19.5, 200, 390}},
          {"Z2", "A", {20, 19.5, 200, 390}}},
         std::nullopt},
        // Even 10 m sampling: every weight is 10, the weighted means agree
        // with the plain ones and the weighted sums are ten times larger.
        {"tidy weighted",
         false, false, true, std::nullopt,
         {{"Z1", "A", {10, 4.5, 100, 450}}, {"Z2", "A", {20, 19.5, 200, 3900}}, {"Z1", "B", {25, 50, 250, 12500}}},
         std::vector<std::string>{"Z1", "Z2"}},
        // Net: even samples of A; B has no porosity curve, so nothing is net.
        {"net tidy",
         false, false, false, net,
         {{"Z1", "A", {5, 4, 100, 20}}, {"Z2", "A", {10, 19, 200, 190}}},
         std::vector<std::string>{"Z1", "Z2"}},
        {"net tidy with empty cells",
         true, false, false, net,
         {{"Z1", "A", {5, 4, 100, 20}}, {"Z2", "A", {10, 19, 200, 190}}, {"Z1", "B", {0, n, 250, 0}}},
         std::vector<std::string>{"Z1", "Z2"}},
        // The "all" row's gross is the mean over the zone's emitted cells.
        {"net aggregate",
         false, true, false, net,
         {{"Z1", "all", {5, 4, 100, 20}},
          {"Z1", "A", {5, 4, 100, 20}},
          {"Z2", "all", {10, 19, 200, 190}},
          {"Z2", "A", {10, 19, 200, 190}}},
         std::nullopt},
        {"net aggregate with empty cells",
         true, true, false, net,
         {{"Z1", "all", {5, 4, 175, 20}},
          {"Z1", "A", {5, 4, 100, 20}},
          {"Z1", "B", {0, n, 250, 0}},
          {"Z2", "all", {10, 19, 200, 190}},
          {"Z2", "A", {10, 19, 200, 190}}},
         std::nullopt},
    };
    for (const auto& c : cases) {
        const auto t = well_tables::zone_table(rows, "gr", names, std::nullopt, c.include_empty, c.aggregate,
                                               c.weighted, c.net);
        expect_table(t, c.rows, names.size(), c.name);
        EXPECT_EQ(t.zone_order, c.order) << c.name;
        EXPECT_EQ(t.is_aggregate(), c.aggregate) << c.name;
    }
}

TEST(ZoneTable, EmptyCellsFiltersAndSkippedBores) {
    TwoBores f;
    // A third bore with tops and logs but no trajectory never gives a row.
    Sidetrack no_path;
    no_path.add_tops({{"Z1", 1000}});
    add_log(no_path, "GR", {1000, 1010}, {1, 2});
    // A fourth bore whose first zone has no thickness (two tops at one md).
    Sidetrack thin = bore_with(1300, {{"T0", 1000}, {"Z2", 1000}});
    add_log(thin, "GR", {1000, 1010}, {7, 9});
    const std::vector<well_tables::BoreRow> rows = {{"A", &f.a}, {"none", &no_path}, {"thin", &thin}};
    const std::vector<std::string> names = {"count", "sum", "mean", "gross"};
    const double n = kNaN;
    struct Case {
        const char* name;
        std::string curve;
        std::optional<std::vector<std::string>> filter;
        bool include_empty, aggregate;
        std::vector<Row> rows;
    };
    const Case cases[] = {
        {"zero-thickness zone dropped",
         "GR", std::nullopt, false, false,
         {{"Z1", "A", {10, 45, 4.5, 100}}, {"Z2", "A", {20, 390, 19.5, 200}}, {"Z2", "thin", {2, 16, 8, 300}}}},
        {"zero-thickness zone kept with count and sum 0",
         "GR", std::nullopt, true, false,
         {{"Z1", "A", {10, 45, 4.5, 100}},
          {"Z2", "A", {20, 390, 19.5, 200}},
          {"T0", "thin", {0, 0, n, 0}},
          {"Z2", "thin", {2, 16, 8, 300}}}},
        {"missing curve dropped", "NOPE", std::nullopt, false, false, {}},
        {"missing curve kept: all NaN but gross",
         "NOPE", std::nullopt, true, false,
         {{"Z1", "A", {n, n, n, 100}}, {"Z2", "A", {n, n, n, 200}}, {"T0", "thin", {n, n, n, 0}},
          {"Z2", "thin", {n, n, n, 300}}}},
        {"missing curve, aggregate with empty",
         "NOPE", std::nullopt, true, true,
         {{"Z1", "all", {0, 0, n, 100}},
          {"Z1", "A", {n, n, n, 100}},
          {"Z2", "all", {0, 0, n, 250}},
          {"Z2", "A", {n, n, n, 200}},
          {"Z2", "thin", {n, n, n, 300}},
          {"T0", "all", {0, 0, n, 0}},
          {"T0", "thin", {n, n, n, 0}}}},
        {"filter ignores case", "GR", std::vector<std::string>{"Z2"}, false, false,
         {{"Z2", "A", {20, 390, 19.5, 200}}, {"Z2", "thin", {2, 16, 8, 300}}}},
        {"filter ignores case, either way", "GR", std::vector<std::string>{"z1", "t0"}, true, false,
         {{"Z1", "A", {10, 45, 4.5, 100}}, {"T0", "thin", {0, 0, n, 0}}}},
        {"filter is not trimmed", "GR", std::vector<std::string>{" z2"}, true, false, {}},
        {"empty filter keeps nothing", "GR", std::vector<std::string>{}, true, true, {}},
    };
    for (const auto& c : cases) {
        const auto t =
            well_tables::zone_table(rows, c.curve, names, c.filter, c.include_empty, c.aggregate, false, std::nullopt);
        expect_table(t, c.rows, names.size(), c.name);
    }
    // Tidy form: the zone order lists only zones that have rows.
    const auto tidy = well_tables::zone_table(rows, "GR", names, std::nullopt, false, false, false, std::nullopt);
    EXPECT_EQ(tidy.zone_order, (std::vector<std::string>{"Z1", "Z2"}));
    const auto none = well_tables::zone_table(rows, "GR", names, std::vector<std::string>{}, true, false, false,
                                              std::nullopt);
    EXPECT_EQ(none.zone_order, std::vector<std::string>{});
    // No statistic names: rows without statistic columns.
    const auto bare = well_tables::zone_table(rows, "GR", {}, std::nullopt, false, false, false, std::nullopt);
    EXPECT_EQ(bare.zone, (std::vector<std::string>{"Z1", "Z2", "Z2"}));
    EXPECT_TRUE(bare.stats.empty());
}

TEST(ZoneTable, WeightsFollowTheKeptSamples) {
    // Samples at md 100, 101, 103 and 104 weigh 1, 1.5, 1.5 and 1.
    Sidetrack b = bore_with(200, {{"T", 100}, {"U", 110}});
    add_log(b, "GR", {100, 101, 103, 104, 110}, {0, 1, 2, 6, 40});
    // Porosity removes the sample at 101: the kept samples at 100, 103 and
    // 104 weigh 3, 2 and 1.
    add_log(b, "PHIE", {100, 101, 103, 104, 110}, {0.2, 0.0, 0.2, 0.2, 0.2});
    add_log(b, "SW", {100, 110}, {0.1, 0.1});
    const std::vector<well_tables::BoreRow> rows = {{"b", &b}};
    const std::vector<std::string> names = {"mean", "count"};
    const NetConditioning net{"PHIE", "SW", Cutoffs{0.08, 0.5, 0.5}, std::nullopt};
    struct Case {
        const char* name;
        bool weighted;
        std::optional<NetConditioning> net;
        std::vector<Row> rows;
    };
    const Case cases[] = {
        {"plain", false, std::nullopt, {{"T", "b", {9.0 / 4, 4}}, {"U", "b", {40, 1}}}},
        {"weighted", true, std::nullopt,
         {{"T", "b", {(0 * 1 + 1 * 1.5 + 2 * 1.5 + 6 * 1) / 5.0, 4}}, {"U", "b", {40, 1}}}},
        {"net plain", false, net, {{"T", "b", {8.0 / 3, 3}}, {"U", "b", {40, 1}}}},
        {"net weighted", true, net, {{"T", "b", {(0 * 3 + 2 * 2 + 6 * 1) / 6.0, 3}}, {"U", "b", {40, 1}}}},
    };
    for (const auto& c : cases) {
        const auto t = well_tables::zone_table(rows, "GR", names, std::nullopt, false, false, c.weighted, c.net);
        expect_table(t, c.rows, names.size(), c.name);
    }
    // Two samples sharing one md both weigh 0: weighted, the cell is empty.
    Sidetrack same = bore_with(200, {{"T", 100}});
    add_log(same, "GR", {150, 150}, {1, 2});
    const std::vector<well_tables::BoreRow> same_rows = {{"s", &same}};
    EXPECT_TRUE(well_tables::zone_table(same_rows, "GR", names, std::nullopt, false, false, true, std::nullopt)
                    .zone.empty());
    expect_table(well_tables::zone_table(same_rows, "GR", names, std::nullopt, false, false, false, std::nullopt),
                 {{"T", "s", {1.5, 2}}}, names.size(), "same md unweighted");
}

}  // namespace
}  // namespace vz
