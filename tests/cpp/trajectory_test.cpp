#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <numbers>
#include <optional>
#include <string>
#include <vector>

#include "core/trajectory.hpp"

namespace vz {
namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kPi = std::numbers::pi;

Trajectory survey(std::vector<SurveyStation> rows, double hx = 0, double hy = 0, double kb = 0) {
    auto t = Trajectory::from_source(TrajectorySource::survey(std::move(rows)), hx, hy, kb);
    EXPECT_TRUE(t.has_value()) << (t ? "" : t.error().display());
    return *t;
}

void expect_near(const Xyz& got, const Xyz& want, double tol, const std::string& what = "") {
    for (int i = 0; i < 3; ++i) EXPECT_NEAR(got[i], want[i], tol) << what << " coordinate " << i;
}

/// Textbook minimum curvature (dogleg from the inclination/azimuth form and
/// the ratio factor 2/b tan(b/2)), written independently of the library, in
/// (east, north, down) offsets.
Xyz textbook_step(const SurveyStation& a, const SurveyStation& b) {
    const double d = kPi / 180.0;
    const double i1 = a.inc_deg * d, i2 = b.inc_deg * d, a1 = a.azi_deg * d, a2 = b.azi_deg * d;
    const double beta = std::acos(std::cos(i2 - i1) - std::sin(i1) * std::sin(i2) * (1 - std::cos(a2 - a1)));
    const double rf = beta < 1e-9 ? 1.0 : 2.0 / beta * std::tan(beta / 2.0);
    const double h = (b.md - a.md) / 2.0 * rf;
    return {h * (std::sin(i1) * std::sin(a1) + std::sin(i2) * std::sin(a2)),
            h * (std::sin(i1) * std::cos(a1) + std::sin(i2) * std::cos(a2)), h * (std::cos(i1) + std::cos(i2))};
}

TEST(Trajectory, VerticalSurveyFromTheDatum) {
    const Trajectory t = survey({{1000, 0, 0}, {2000, 0, 0}}, 0, 0, 25);
    ASSERT_EQ(t.stations().size(), 2u);
    EXPECT_DOUBLE_EQ(t.stations()[0].z, 975.0);
    EXPECT_DOUBLE_EQ(t.stations()[1].z, 1975.0);
    EXPECT_DOUBLE_EQ(*t.tvd(1500), 1475.0);
    expect_near(*t.xyz(1500), {0, 0, -1475}, 1e-9);
    EXPECT_DOUBLE_EQ(*t.md_at_tvd(1475), 1500.0);
    EXPECT_EQ(t.mds(), (std::vector<double>{1000, 2000}));
    ASSERT_TRUE(t.stations()[0].tangent.has_value());
    EXPECT_EQ(*t.stations()[0].tangent, (Tangent{0, 0, 1}));
}

TEST(Trajectory, HeadOffsetsTheWholePath) {
    const Trajectory t = survey({{0, 0, 0}, {100, 30, 120}, {250, 45, 130}}, 5000, 7000, 10);
    const Trajectory at_origin = survey({{0, 0, 0}, {100, 30, 120}, {250, 45, 130}}, 0, 0, 10);
    for (double md : {0.0, 50.0, 100.0, 175.0, 250.0}) {
        const Xyz a = *t.position_at_md(md), b = *at_origin.position_at_md(md);
        expect_near(a, {b[0] + 5000, b[1] + 7000, b[2]}, 1e-9);
    }
}

TEST(Trajectory, QueriesAnswerOnlyInsideTheStationRange) {
    const Trajectory t = survey({{1000, 0, 0}, {2000, 0, 0}}, 0, 0, 25);
    struct Case {
        double md;
        bool present;
    };
    const Case cases[] = {
        {1000, true}, {2000, true}, {1999.999, true}, {2000.001, false},
        {999.999, false}, {kNaN, false}, {-1e300, false}, {std::numeric_limits<double>::infinity(), false},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(t.position_at_md(c.md).has_value(), c.present) << c.md;
        EXPECT_EQ(t.tvd(c.md).has_value(), c.present) << c.md;
        EXPECT_EQ(t.xyz(c.md).has_value(), c.present) << c.md;
    }
}

TEST(Trajectory, SingleStationAnswersOnlyAtItsDepth) {
    const Trajectory t = survey({{500, 10, 20}}, 1, 2, 25);
    expect_near(*t.position_at_md(500), {1, 2, 475}, 0);
    EXPECT_FALSE(t.position_at_md(500.0000001).has_value());
    EXPECT_FALSE(t.position_at_md(499.9999999).has_value());
    EXPECT_DOUBLE_EQ(*t.md_at_tvd(475), 500.0);
    EXPECT_FALSE(t.md_at_tvd(475.5).has_value());
}

TEST(Trajectory, ConstructionFailures) {
    struct Case {
        const char* name;
        std::vector<double> mds;
        const char* message;
    };
    const Case cases[] = {
        {"empty", {}, "trajectory needs at least one station"},
        {"repeated md", {1000, 1000}, "station measured depth must strictly increase"},
        {"decreasing md", {1000, 1100, 1050}, "station measured depth must strictly increase"},
        // A NaN depth would otherwise turn every later station NaN.
        {"NaN md", {1000, kNaN, 1200}, "station measured depth must strictly increase"},
        {"NaN last md", {1000, 1100, kNaN}, "station measured depth must strictly increase"},
        {"NaN first md", {kNaN, 1100}, "station measured depth must strictly increase"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        std::vector<SurveyStation> rows;
        std::vector<PositionedStation> placed;
        std::vector<Station> records;
        for (double md : c.mds) {
            rows.push_back({md, 10, 10});
            placed.push_back({md, 10, 10, 0, 0, md});
            records.push_back({md, 0, 0, md, std::nullopt});
        }
        const Result<Trajectory> results[] = {
            Trajectory::from_source(TrajectorySource::survey(rows), 0, 0, 0),
            Trajectory::from_source(TrajectorySource::positioned(placed), 0, 0, 0),
            Trajectory::from_station_records(records),
        };
        for (const auto& r : results) {
            ASSERT_FALSE(r.has_value());
            EXPECT_EQ(r.error().kind(), ErrorKind::OutOfRange);
            EXPECT_EQ(r.error().display(), std::string("out of range: ") + c.message);
        }
    }
}

TEST(Trajectory, TangentsFromAngles) {
    struct Case {
        double inc, azi;
        Tangent want;
    };
    const Case cases[] = {
        {0, 0, {0, 0, 1}},
        {90, 0, {1, 0, 0}},
        {90, 90, {0, 1, 0}},
        {90, 180, {-1, 0, 0}},
        {90, 270, {0, -1, 0}},
        {60, 45, {std::sqrt(3.0) / 2 * std::sqrt(0.5), std::sqrt(3.0) / 2 * std::sqrt(0.5), 0.5}},
    };
    for (const auto& c : cases) {
        const Tangent t = Tangent::from_angles(c.inc, c.azi);
        EXPECT_NEAR(t.north, c.want.north, 1e-15);
        EXPECT_NEAR(t.east, c.want.east, 1e-15);
        EXPECT_NEAR(t.down, c.want.down, 1e-15);
    }
}

TEST(Trajectory, StraightInclinedHoleIsASegment) {
    const Trajectory t = survey({{1000, 30, 45}, {2000, 30, 45}}, 100, 200, 0);
    const double s = std::sin(kPi / 6) * std::sqrt(0.5);
    const Xyz start{100, 200, 1000};
    const Xyz end{100 + 1000 * s, 200 + 1000 * s, 1000 + 1000 * std::cos(kPi / 6)};
    expect_near(t.stations()[1].position(), end, 1e-9);
    for (double f : {0.1, 0.25, 0.5, 0.9}) {
        const Xyz p = *t.position_at_md(1000 + 1000 * f);
        for (int i = 0; i < 3; ++i) EXPECT_NEAR(p[i], start[i] + f * (end[i] - start[i]), 1e-9) << f;
    }
}

TEST(Trajectory, QuarterCircleBuild) {
    // inc 0 -> 90 over 100 MD units, azimuth north: a quarter circle of
    // radius 200/pi, centred 200/pi north of the start at the start's depth.
    const Trajectory t = survey({{0, 0, 0}, {100, 90, 0}}, 0, 0, 0);
    const double r = 200.0 / kPi;
    expect_near(t.stations()[1].position(), {0, r, r}, 1e-9, "end");
    for (double f : {0.1, 0.25, 0.5, 0.75}) {
        const Xyz p = *t.position_at_md(100 * f);
        const double phi = f * kPi / 2;
        expect_near(p, {0, r * (1 - std::cos(phi)), r * std::sin(phi)}, 1e-9, "fraction " + std::to_string(f));
        EXPECT_NEAR(std::hypot(p[1] - r, p[2]), r, 1e-9);
    }
}

TEST(Trajectory, DeviatedSurveyMatchesTextbookMinimumCurvature) {
    const std::vector<SurveyStation> rows{
        {1000, 0, 0}, {1100, 10, 90}, {1250, 25, 100}, {1400, 40, 80}, {1600, 40, 80}, {1800, 60, 300},
        {2000, 85, 310}, {2100, 95, 315}};
    const Trajectory t = survey(rows, 1000, 2000, 30);
    Xyz want{1000, 2000, 970};
    for (std::size_t k = 0; k < rows.size(); ++k) {
        if (k > 0) {
            const Xyz d = textbook_step(rows[k - 1], rows[k]);
            for (int i = 0; i < 3; ++i) want[i] += d[i];
        }
        expect_near(t.stations()[k].position(), want, 1e-8, "station " + std::to_string(k));
        // A query at a station's depth gives the station.
        expect_near(*t.position_at_md(rows[k].md), want, 1e-8, "query " + std::to_string(k));
    }
}

TEST(Trajectory, HandComputedBuildAndTurn) {
    // inc 0 -> 10 degrees towards east over 100: dogleg 10 degrees,
    // RF = 2/b tan(b/2) = 1.00254624, east 50 sin10 RF = 8.70451634,
    // down 50 (1 + cos10) RF = 99.49307700.
    const Trajectory t = survey({{1000, 0, 0}, {1100, 10, 90}}, 0, 0, 0);
    const Xyz end = t.stations()[1].position();
    EXPECT_NEAR(end[0], 8.70451634, 1e-8);
    EXPECT_NEAR(end[1], 0.0, 1e-12);
    EXPECT_NEAR(end[2], 1000 + 99.49307700, 1e-8);
}

TEST(Trajectory, MinimumCurvaturePointIsOnTheArc) {
    // A 60-degree turn in the horizontal plane: every point lies on a circle
    // of radius L / theta through the start.
    const Tangent t1 = Tangent::from_angles(90, 0);
    const Tangent t2 = Tangent::from_angles(90, 60);
    const double L = 300, theta = kPi / 3, radius = L / theta;
    // Centre lies east of the start (the hole turns from north to east).
    const Xyz start{0, 0, 0};
    for (double f : {0.0, 0.2, 0.5, 0.8, 1.0}) {
        const Xyz p = min_curvature_point(start, t1, t2, f, L);
        EXPECT_NEAR(std::hypot(p[0] - radius, p[1]), radius, 1e-9) << f;
        EXPECT_NEAR(p[2], 0.0, 1e-12);
        // Arc length from the start equals f * L.
        const double angle = std::atan2(p[1], radius - p[0]);
        EXPECT_NEAR(angle * radius, f * L, 1e-9) << f;
    }
}

TEST(Trajectory, PositionedStationsKeepTheirPositions) {
    const std::vector<PositionedStation> rows{
        {100, 0, 0, 10, 20, 90}, {200, 0, 0, 10, 20, 190}, {300, 90, 90, 60, 20, 240}};
    auto t = Trajectory::from_source(TrajectorySource::positioned(rows), 999, 999, 999);
    ASSERT_TRUE(t.has_value());
    for (std::size_t k = 0; k < rows.size(); ++k) {
        const Station& s = t->stations()[k];
        expect_near(s.position(), {rows[k].x, rows[k].y, rows[k].z}, 0);
        ASSERT_TRUE(s.tangent.has_value());
    }
    expect_near(*t->position_at_md(100), {10, 20, 90}, 0);
    expect_near(*t->position_at_md(150), {10, 20, 140}, 1e-12);
    // At a later station's depth the answer is the end of the arc from the
    // previous station, which here is where the survey put it.
    const Xyz arc_end = min_curvature_point({10, 20, 190}, Tangent{0, 0, 1}, Tangent::from_angles(90, 90), 1.0, 100);
    expect_near(*t->position_at_md(300), arc_end, 1e-12);
}

TEST(Trajectory, StationsWithoutTangentInterpolateLinearly) {
    auto t = Trajectory::from_station_records({{0, 0, 0, 0, Tangent{0, 0, 1}},
                                               {100, 100, 0, 50, std::nullopt},
                                               {200, 100, 100, 50, Tangent{0, 1, 0}}});
    ASSERT_TRUE(t.has_value());
    expect_near(*t->position_at_md(25), {25, 0, 12.5}, 1e-12);
    expect_near(*t->position_at_md(150), {100, 50, 50}, 1e-12);
}

TEST(Trajectory, MdAtTvd) {
    // Down from 100 to 200, back up to 100, then down to 300 (z values).
    auto u = Trajectory::from_station_records({{1000, 0, 0, 100, std::nullopt},
                                               {1100, 0, 0, 200, std::nullopt},
                                               {1200, 0, 0, 100, std::nullopt},
                                               {1300, 0, 0, 100, std::nullopt},
                                               {1400, 0, 0, 300, std::nullopt}});
    ASSERT_TRUE(u.has_value());
    struct Case {
        double tvd;
        std::optional<double> md;
    };
    const Case cases[] = {
        {150, 1050},  // first crossing in MD order, not the one on the way up
        {200, 1100},
        {100, 1000},
        {250, 1375},  // only the last interval reaches it
        {300, 1400},
        {99, std::nullopt},
        {301, std::nullopt},
        {kNaN, std::nullopt},
    };
    for (const auto& c : cases) {
        const auto got = u->md_at_tvd(c.tvd);
        ASSERT_EQ(got.has_value(), c.md.has_value()) << c.tvd;
        if (got) {
            EXPECT_DOUBLE_EQ(*got, *c.md) << c.tvd;
        }
    }
    // A flat interval answers its first station.
    auto flat = Trajectory::from_station_records({{0, 0, 0, 50, std::nullopt}, {10, 5, 0, 50, std::nullopt}});
    EXPECT_DOUBLE_EQ(*flat->md_at_tvd(50), 0.0);
}

TEST(Trajectory, MdAtTvdIsLinearBetweenStations) {
    const Trajectory t = survey({{0, 0, 0}, {100, 90, 0}}, 0, 0, 0);
    const double tvd = *t.tvd(50);
    const double md = *t.md_at_tvd(tvd);
    const double r = 200 / kPi;
    EXPECT_DOUBLE_EQ(md, 100 * tvd / r);  // linear in z between the two stations
    EXPECT_GT(std::abs(md - 50), 1.0);    // so it differs from the arc's own md
}

}  // namespace
}  // namespace vz
