#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <optional>
#include <string>
#include <vector>

#include "core/log.hpp"
#include "core/mnemonics.hpp"

namespace vz {
namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kInf = std::numeric_limits<double>::infinity();

Log make_log(std::vector<double> md, std::vector<double> values, std::string mnemonic = "GR") {
    auto log = Log::make(std::move(mnemonic), "API", std::move(md), std::move(values));
    EXPECT_TRUE(log.has_value());
    return *log;
}

/// Equality that treats two NaNs as equal.
void expect_same(const std::vector<double>& got, const std::vector<double>& want) {
    ASSERT_EQ(got.size(), want.size());
    for (std::size_t i = 0; i < got.size(); ++i) {
        if (std::isnan(want[i]))
            EXPECT_TRUE(std::isnan(got[i])) << "index " << i << " got " << got[i];
        else
            EXPECT_DOUBLE_EQ(got[i], want[i]) << "index " << i;
    }
}

TEST(Log, ConstructionKeepsTextsAndStartsHistory) {
    auto log = Log::make("  phie_2019 ", "", {1, 2}, {0.1, 0.2});
    ASSERT_TRUE(log.has_value());
    EXPECT_EQ(log->mnemonic, "  phie_2019 ");
    EXPECT_EQ(log->unit, "");
    EXPECT_EQ(log->kind, LogKind::Standard);
    EXPECT_EQ(log->history.entries(), std::vector<std::string>{"log.new"});
    EXPECT_EQ(log->md, (std::vector<double>{1, 2}));

    const std::vector<double> depth{10, 20, 30};
    auto curve = Log::from_curve({"RHOB", "g/cc", {2.1, 2.2, 2.3}}, depth);
    ASSERT_TRUE(curve.has_value());
    EXPECT_EQ(curve->md, depth);
    EXPECT_EQ(curve->unit, "g/cc");
    EXPECT_EQ(curve->history.entries(), std::vector<std::string>{"log.new"});
}

TEST(Log, LengthMismatchIsAParseError) {
    struct Case {
        std::size_t md_len, values_len;
        const char* text;
    };
    const Case cases[] = {
        {3, 2, "parse error: log 'GR': md len 3 != values len 2"},
        {0, 1, "parse error: log 'GR': md len 0 != values len 1"},
    };
    for (const auto& c : cases) {
        auto log = Log::make("GR", "", std::vector<double>(c.md_len, 1.0), std::vector<double>(c.values_len, 1.0));
        ASSERT_FALSE(log.has_value());
        EXPECT_EQ(log.error().kind(), ErrorKind::Parse);
        EXPECT_EQ(log.error().display(), c.text);
    }
    auto curve = Log::from_curve({"NPHI", "", {1, 2}}, std::vector<double>{5});
    ASSERT_FALSE(curve.has_value());
    EXPECT_EQ(curve.error().message(), "log 'NPHI': md len 1 != values len 2");
}

TEST(Log, ClipIsHalfOpenAndExtendsHistory) {
    const Log log = make_log({100, 101, 102, 103}, {1, 2, 3, 4});
    struct Case {
        double top, base;
        std::vector<double> md;
        const char* entry;
    };
    const Case cases[] = {
        {101, 103, {101, 102}, "log.clip(top_md=101, base_md=103)"},
        {103, 101, {}, "log.clip(top_md=103, base_md=101)"},
        {99, 200, {100, 101, 102, 103}, "log.clip(top_md=99, base_md=200)"},
        {100.5, 102.25, {101, 102}, "log.clip(top_md=100.5, base_md=102.25)"},
        {kNaN, 102, {100, 101}, "log.clip(top_md=NaN, base_md=102)"},
        {100, kNaN, {}, "log.clip(top_md=100, base_md=NaN)"},
        {-kInf, kInf, {100, 101, 102, 103}, "log.clip(top_md=-inf, base_md=inf)"},
        {102, 102, {}, "log.clip(top_md=102, base_md=102)"},
    };
    for (const auto& c : cases) {
        const LogView v = Log::clip(log, c.top, c.base);
        EXPECT_EQ(std::vector<double>(v.md().begin(), v.md().end()), c.md) << c.entry;
        ASSERT_EQ(v.values().size(), v.md().size());
        // The view shares the log's storage rather than copying it.
        if (!v.empty()) {
            EXPECT_GE(v.md().data(), log.md.data());
            EXPECT_EQ(v.values().data() - log.values.data(), v.md().data() - log.md.data());
        }
        EXPECT_EQ(v.history().entries(), (std::vector<std::string>{"log.new", c.entry}));
    }
    EXPECT_EQ(log.history.entries(), std::vector<std::string>{"log.new"});
}

TEST(Log, WholeViewCopiesHistoryOnly) {
    const Log log = make_log({1, 2, 3}, {4, 5, 6});
    const LogView v = log.view();
    EXPECT_EQ(v.md().data(), log.md.data());
    EXPECT_EQ(v.values().data(), log.values.data());
    EXPECT_EQ(v.size(), 3u);
    EXPECT_EQ(v.history(), log.history);
}

TEST(Log, ArraysOfDifferingLengthAreNeverReadPastTheShorter) {
    // Only a log assembled field by field (say from a damaged file) can
    // break the one-length rule; its views keep to the paired samples.
    for (const bool md_longer : {true, false}) {
        SCOPED_TRACE(md_longer ? "md longer" : "values longer");
        Log log = make_log({100, 101}, {1, 3});
        if (md_longer) {
            log.md = {100, 101, 102, 103};
        } else {
            log.values = {1, 3, 5, 7};
        }
        const LogView whole = log.view();
        EXPECT_EQ(whole.md().size(), 2u);
        EXPECT_EQ(whole.values().size(), 2u);
        EXPECT_DOUBLE_EQ(*whole.at_md(100.5), 2.0);
        EXPECT_FALSE(whole.at_md(102).has_value());
        const LogView clipped = Log::clip(log, 99, 200);
        EXPECT_EQ(clipped.md().size(), 2u);
        EXPECT_EQ(clipped.values().size(), 2u);
        EXPECT_EQ(clipped.stats().count, 2u);
        expect_same(Log::resample(whole, std::vector<double>{100, 100.5, 102}), {1, 2, kNaN});
    }
}

TEST(LogView, AtMdInterpolatesInsideTheSampledRangeOnly) {
    struct Case {
        std::vector<double> md, values;
        double at;
        std::optional<double> want;  // NaN inside means "present and NaN"
    };
    const Case cases[] = {
        {{100, 101}, {1, 3}, 100.5, 2.0},
        {{100, 101}, {1, 3}, 100, 1.0},
        {{100, 101}, {1, 3}, 101, 3.0},
        {{100, 101}, {1, 3}, 99.9, std::nullopt},
        {{100, 101}, {1, 3}, 101.1, std::nullopt},
        {{100, 101}, {1, 3}, kNaN, std::nullopt},
        {{100, 100, 101}, {1, 2, 3}, 100, 1.0},  // zero-length step takes its left sample
        {{100, 101, 102}, {1, kNaN, 5}, 100.5, kNaN},
        {{100, 101, 102}, {1, kNaN, 5}, 100, kNaN},  // a NaN at either end of the interval
        {{100, 101, 102}, {1, kNaN, 5}, 102, kNaN},
        {{100, 101, 103}, {0, 10, 30}, 102, 20.0},
        {{100}, {7}, 100, 7.0},
        {{100}, {7}, 100.000001, std::nullopt},
        {{100}, {7}, 99, std::nullopt},
        {{}, {}, 100, std::nullopt},
    };
    for (const auto& c : cases) {
        const Log log = make_log(c.md, c.values);
        const auto got = log.view().at_md(c.at);
        ASSERT_EQ(got.has_value(), c.want.has_value()) << "at " << c.at;
        if (!got) continue;
        if (std::isnan(*c.want))
            EXPECT_TRUE(std::isnan(*got));
        else
            EXPECT_DOUBLE_EQ(*got, *c.want) << "at " << c.at;
    }
}

TEST(Log, ReadingAtASampleDepthGivesThatSamplesValueExactly) {
    // 0.5 + (0.08 - 0.5) is not 0.08 in binary floating point; a curve read
    // at its own depths must still give back 0.08, or a value equal to a
    // cutoff would fall on the wrong side of it.
    const Log log = make_log({100, 101, 102, 103}, {0.5, 0.08, 0.1, 0.45});
    const std::vector<double> own(log.md.begin(), log.md.end());
    const auto resampled = Log::resample(log.view(), own);
    for (std::size_t k = 0; k < own.size(); ++k) {
        EXPECT_EQ(resampled[k], log.values[k]) << own[k];
        EXPECT_EQ(log.view().at_md(own[k]), std::optional<double>(log.values[k])) << own[k];
    }
    // A NaN or infinite neighbour below still spoils the sample's value.
    const Log spoiled = make_log({100, 101, 102}, {kNaN, 2, 3});
    EXPECT_TRUE(std::isnan(*spoiled.view().at_md(101)));
    const Log infinite = make_log({100, 101}, {kInf, 2});
    EXPECT_TRUE(std::isnan(*infinite.view().at_md(101)));
}

TEST(LogView, AtMdOnAClippedViewStaysInsideTheClip) {
    const Log log = make_log({100, 101, 102, 103}, {0, 10, 20, 30});
    const LogView v = Log::clip(log, 101, 103);
    EXPECT_FALSE(v.at_md(100.5).has_value());
    EXPECT_FALSE(v.at_md(102.5).has_value());
    EXPECT_DOUBLE_EQ(*v.at_md(101.5), 15.0);

    // A clip of one sample answers at that sample only, never pairing it
    // with the stored neighbours outside the clip.
    const LogView one = Log::clip(log, 101, 102);
    ASSERT_EQ(one.size(), 1u);
    EXPECT_EQ(one.at_md(101), std::optional<double>(10.0));
    for (const double at : {100.5, 101.5, 102.0}) EXPECT_FALSE(one.at_md(at).has_value()) << at;
    expect_same(Log::resample(one, std::vector<double>{100.5, 101, 101.5}), {kNaN, 10, kNaN});
}

TEST(Log, ResampleOntoTargets) {
    struct Case {
        const char* name;
        std::vector<double> md, values, targets, want;
    };
    const Case cases[] = {
        {"worked example", {100, 101}, {1, 3}, {99, 100, 100.5, 102}, {kNaN, 1, 2, kNaN}},
        {"empty source", {}, {}, {1, 2}, {kNaN, kNaN}},
        {"one sample", {100}, {7}, {99, 100, 101}, {kNaN, 7, kNaN}},
        {"NaN target", {100, 101}, {1, 3}, {kNaN, 100.25}, {kNaN, 1.5}},
        {"many intervals", {0, 10, 20, 30}, {0, 100, 0, 300}, {5, 10, 15, 25, 30}, {50, 100, 50, 150, 300}},
        {"duplicate md", {100, 100, 101}, {1, 2, 3}, {100, 100.5}, {1, 2.5}},
        // Targets that go backwards are interpolated from their own samples,
        // never extrapolated from an interval reached by an earlier target.
        {"descending targets", {100, 101, 102, 103}, {0, 10, 20, 30}, {102.5, 100.5, 101}, {25, 5, 10}},
        {"back to a sample", {100, 101, 102, 103}, {0, 10, kNaN, 30}, {102.5, 101, 100}, {kNaN, 10, 0}},
        {"zigzag", {0, 1, 2, 3, 4}, {0, 1, 4, 9, 16}, {3.5, 0.5, 2.5, 1.5}, {12.5, 0.5, 6.5, 2.5}},
        {"no targets", {0, 1}, {0, 1}, {}, {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const Log log = make_log(c.md, c.values);
        expect_same(Log::resample(log.view(), c.targets), c.want);
    }
}

TEST(Log, ResampleAgreesWithAtMdForEveryOrderOfTargets) {
    const Log log = make_log({0, 1, 1, 2.5, 4, 7}, {3, 1, 4, 1, 5, 9});
    std::vector<double> targets;
    for (int i = -2; i <= 30; ++i) targets.push_back(i * 0.25);
    std::vector<double> shuffled = targets;
    std::reverse(shuffled.begin(), shuffled.end());
    std::swap(shuffled[3], shuffled[20]);
    for (const auto& ts : {targets, shuffled}) {
        const auto got = Log::resample(log.view(), ts);
        for (std::size_t i = 0; i < ts.size(); ++i) {
            const auto want = log.view().at_md(ts[i]);
            if (want)
                EXPECT_DOUBLE_EQ(got[i], *want) << "target " << ts[i];
            else
                EXPECT_TRUE(std::isnan(got[i])) << "target " << ts[i];
        }
    }
}

TEST(LogView, StatsAndGeomeanOfTheViewedSamples) {
    const Log log = make_log({1, 2, 3, 4, 5}, {1, kNaN, 4, 16, -2});
    const Stats all = log.view().stats();
    EXPECT_EQ(all.count, 4u);
    EXPECT_DOUBLE_EQ(all.sum, 19.0);
    EXPECT_DOUBLE_EQ(log.view().geomean(), 4.0);  // cube root of 1 * 4 * 16; -2 and NaN skipped

    const Stats clipped = Log::clip(log, 3, 5).stats();
    EXPECT_EQ(clipped.count, 2u);
    EXPECT_DOUBLE_EQ(clipped.mean, 10.0);

    const Stats none = Log::clip(log, 5, 1).stats();
    EXPECT_EQ(none.count, 0u);
    EXPECT_EQ(none.sum, 0.0);
    EXPECT_TRUE(std::isnan(none.mean));
}

TEST(Mnemonics, ResolveALogsMnemonic) {
    const AliasMap aliases{{"gr", "GAMMA_RAY"}};
    const AliasMap empty;
    struct Case {
        const char* raw;
        const AliasMap* map;
        const char* want;
    };
    const Case cases[] = {
        {" GRC ", nullptr, " GRC "},  // no map: exactly as read
        {" GR ", &aliases, "GAMMA_RAY"},
        {"GR_2019", &aliases, "GR"},  // key not tag-stripped, so the table decides
        {"phie_2019", &empty, "PHIE"},
        {"Foo_2019", &empty, "Foo"},
    };
    for (const auto& c : cases) {
        Log log = make_log({1, 2}, {3, 4}, c.raw);
        log.kind = LogKind::Core;
        log.history.push("extra");
        const Log before = log;
        const Log out = mnemonics::resolve(log, c.map);
        EXPECT_EQ(out.mnemonic, c.want) << c.raw;
        Log expected = before;
        expected.mnemonic = c.want;
        EXPECT_EQ(out, expected) << "other fields must be kept";
    }
}

}  // namespace
}  // namespace vz
