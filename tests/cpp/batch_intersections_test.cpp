// Crossings of one surface with many wells: hits, skipped and failed rows,
// their order, and agreement with the bore queries.

#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <limits>
#include <optional>
#include <string>
#include <vector>

#include "algorithms/batch_intersections.hpp"
#include "algorithms/triangle_views.hpp"
#include "core/surface.hpp"
#include "core/trajectory.hpp"
#include "core/well.hpp"

namespace vz {
namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kTol = 0.01;

/// A flat surface at elevation -100 over [0, 1000] x [0, 1000].
Surface flat_surface() {
    auto s = Surface::make(GridGeometry{0, 0, 100, 100, 11, 11, 0, false}, Grid2(11, 11, -100.0));
    EXPECT_TRUE(s.has_value());
    return *s;
}

/// Stations without tangents (positions between them interpolated along
/// straight legs) at (x, y, subsea depth), md = the path length so far.
Trajectory path(const std::vector<std::array<double, 3>>& points) {
    std::vector<Station> rows;
    double md = 0;
    for (std::size_t k = 0; k < points.size(); ++k) {
        if (k > 0) {
            const auto& a = points[k - 1];
            const auto& b = points[k];
            md += std::hypot(b[0] - a[0], b[1] - a[1], b[2] - a[2]);
        }
        rows.push_back({md, points[k][0], points[k][1], points[k][2], std::nullopt});
    }
    auto t = Trajectory::from_station_records(std::move(rows));
    EXPECT_TRUE(t.has_value()) << t.error().display();
    return *t;
}

Trajectory vertical(double x, double y) { return path({{x, y, 0}, {x, y, 150}, {x, y, 300}}); }
/// Down through the surface and back up again, 200 m further east.
Trajectory u_turn(double x, double y) { return path({{x, y, 0}, {x + 100, y, 200}, {x + 200, y, 0}}); }
/// Along the surface itself at subsea depth 100.
Trajectory in_plane(double x, double y) { return path({{x, y, 100}, {x + 100, y, 100}, {x + 200, y, 100}}); }

Well well_with(const std::string& name, std::vector<std::pair<std::string, std::optional<Trajectory>>> bores) {
    Well w = Well::make(name, 0, 0, 0);
    for (auto& [label, trajectory] : bores) {
        Sidetrack& bore = w.sidetrack_entry(label);
        if (trajectory) {
            bore.trajectories.push_back(std::move(*trajectory));
            bore.active = bore.trajectories.size() - 1;
        }
    }
    return w;
}

Result<WellIntersectionBatch> run(const std::vector<Well>& wells, const TriangleMeshSource& surface, double tol,
                                  bool all) {
    std::vector<std::reference_wrapper<const Well>> refs(wells.begin(), wells.end());
    return intersections::intersect_wells_with_surface(refs, surface, tol, all);
}

struct HitKey {
    std::string well;
    std::string bore;
    double md;
};

void expect_hits(const std::vector<SurfaceIntersection>& hits, const std::vector<HitKey>& expected) {
    ASSERT_EQ(hits.size(), expected.size());
    for (std::size_t k = 0; k < hits.size(); ++k) {
        EXPECT_EQ(hits[k].well, std::optional<std::string>(expected[k].well)) << k;
        EXPECT_EQ(hits[k].bore, std::optional<std::string>(expected[k].bore)) << k;
        EXPECT_FALSE(hits[k].surface.has_value()) << k;
        EXPECT_NEAR(hits[k].md, expected[k].md, kTol) << k;
    }
}

const char* kNoCrossing = "trajectory does not intersect the finite surface geometry";
const char* kTwice =
    "unsupported: trajectory crosses the surface 2 times; call intersections(...) and select a crossing explicitly";

// ---- a batch with hits, skipped and failed rows ----------------------------------

class Batch : public ::testing::Test {
protected:
    Batch() {
        // Listed out of name order: hits must come out sorted by well.
        wells.push_back(well_with("B", {{"", vertical(100, 100)}, {"ST1", u_turn(300, 300)}}));
        wells.push_back(well_with("A", {{"", std::nullopt}, {"ST2", vertical(500, 500)}, {"ST1", vertical(600, 600)}}));
        wells.push_back(well_with("C", {{"", std::nullopt}, {"X", std::nullopt}}));
        wells.push_back(well_with("D", {{"", vertical(5000, 5000)}}));
        wells.push_back(well_with("E", {{"", in_plane(200, 700)}}));
    }

    Surface surface = flat_surface();
    std::vector<Well> wells;
};

TEST_F(Batch, AllModeReportsEveryCrossingAndEveryRow) {
    auto got = run(wells, SurfaceMeshView(surface), kTol, true);
    ASSERT_TRUE(got.has_value()) << got.error().display();
    const double u_first = std::hypot(50.0, 100.0);
    const double u_second = std::hypot(100.0, 200.0) + std::hypot(50.0, 100.0);
    expect_hits(got->hits, {{"A", "ST1", 100}, {"A", "ST2", 100}, {"B", "", 100}, {"B", "ST1", u_first},
                            {"B", "ST1", u_second}});
    EXPECT_EQ(got->skipped, (std::vector<WellIntersectionRow>{
                                {"C", "", "missing_trajectory", "well has no positioned bore"},
                                {"D", "", "outside_or_no_intersection", kNoCrossing},
                            }));
    ASSERT_EQ(got->failed.size(), 1u);
    EXPECT_EQ(got->failed[0].well, "E");
    EXPECT_EQ(got->failed[0].bore, "");
    EXPECT_EQ(got->failed[0].reason, "coplanar");
    EXPECT_EQ(got->failed[0].message.rfind("unsupported: ", 0), 0u) << got->failed[0].message;
    EXPECT_NE(got->failed[0].message.find("coplanar"), std::string::npos);
}

TEST_F(Batch, SingleModeTurnsSeveralCrossingsIntoAFailedRow) {
    auto got = run(wells, SurfaceMeshView(surface), kTol, false);
    ASSERT_TRUE(got.has_value()) << got.error().display();
    expect_hits(got->hits, {{"A", "ST1", 100}, {"A", "ST2", 100}, {"B", "", 100}});
    EXPECT_EQ(got->skipped.size(), 2u);
    ASSERT_EQ(got->failed.size(), 2u);
    EXPECT_EQ(got->failed[0], (WellIntersectionRow{"B", "ST1", "multiple_intersections", kTwice}));
    EXPECT_EQ(got->failed[1].reason, "coplanar");
}

TEST_F(Batch, InvalidToleranceFailsEveryPositionedBoreAndKeepsTheMissingRows) {
    for (const double tol : {0.0, -1.0, kNaN}) {
        auto got = run(wells, SurfaceMeshView(surface), tol, true);
        ASSERT_TRUE(got.has_value());
        EXPECT_TRUE(got->hits.empty());
        EXPECT_EQ(got->skipped, (std::vector<WellIntersectionRow>{
                                    {"C", "", "missing_trajectory", "well has no positioned bore"}}));
        const std::string msg = "out of range: intersection tolerance must be finite and positive";
        EXPECT_EQ(got->failed, (std::vector<WellIntersectionRow>{{"B", "", "intersection_error", msg},
                                                                 {"B", "ST1", "intersection_error", msg},
                                                                 {"A", "ST2", "intersection_error", msg},
                                                                 {"A", "ST1", "intersection_error", msg},
                                                                 {"D", "", "intersection_error", msg},
                                                                 {"E", "", "intersection_error", msg}}));
    }
}

TEST_F(Batch, HitsAreThoseOfTheBoreQueriesStampedWithWellAndBore) {
    const SurfaceMeshView view(surface);
    for (const bool all : {true, false}) {
        auto got = run(wells, view, kTol, all);
        ASSERT_TRUE(got.has_value());
        std::vector<SurfaceIntersection> expected;
        for (const Well& w : wells)
            for (const auto& [label, bore] : w.bores) {
                if (all) {
                    auto hits = intersections::bore_intersections(bore, view, kTol);
                    if (!hits) continue;
                    for (auto& h : *hits) expected.push_back(std::move(h).with_identity(w.name, label, std::nullopt));
                } else {
                    auto hit = intersections::bore_intersection(bore, view, kTol);
                    if (hit && *hit) expected.push_back(std::move(**hit).with_identity(w.name, label, std::nullopt));
                }
            }
        std::stable_sort(expected.begin(), expected.end(), intersections::cmp_hits_well_bore_md);
        EXPECT_EQ(got->hits, expected) << "all=" << all;
    }
}

TEST_F(Batch, SurfaceThatCannotBeSearchedFailsTheWholeBatch) {
    auto one_row = Surface::make(GridGeometry{0, 0, 100, 100, 11, 1, 0, false}, Grid2(11, 1, -100.0));
    ASSERT_TRUE(one_row.has_value());
    auto got = run(wells, SurfaceMeshView(*one_row), 0.0, true);
    ASSERT_FALSE(got.has_value());
    EXPECT_EQ(got.error().display(),
              "geometry inference failed: structured shell has no complete cell to triangulate");
}

TEST_F(Batch, TheWellsAreOnlyRead) {
    const std::vector<Well> before = wells;
    ASSERT_TRUE(run(wells, SurfaceMeshView(surface), kTol, true).has_value());
    EXPECT_EQ(wells, before);
}

/// The batch as the bore queries define it: every row and hit computed
/// from `Sidetrack::intersections` / `Sidetrack::intersection` bore by bore.
WellIntersectionBatch batch_from_bore_queries(const std::vector<Well>& wells, const TriangleMeshSource& surface,
                                              double tol, bool all) {
    WellIntersectionBatch out;
    for (const Well& w : wells) {
        bool queried = false;
        for (const auto& [label, bore] : w.bores) {
            if (!bore.has_trajectory()) continue;
            queried = true;
            Result<std::vector<SurfaceIntersection>> hits = std::vector<SurfaceIntersection>{};
            if (all) {
                hits = intersections::bore_intersections(bore, surface, tol);
            } else if (auto one = intersections::bore_intersection(bore, surface, tol); !one) {
                hits = std::unexpected(one.error());
            } else if (*one) {
                hits->push_back(std::move(**one));
            }
            if (!hits) {
                const std::string text = hits.error().display();
                const std::string reason = text.find("coplanar") != std::string::npos ? "coplanar"
                                           : text.find("crosses the surface") != std::string::npos
                                               ? "multiple_intersections"
                                               : "intersection_error";
                out.failed.push_back({w.name, label, reason, text});
            } else if (hits->empty()) {
                out.skipped.push_back({w.name, label, "outside_or_no_intersection", kNoCrossing});
            } else {
                for (auto& h : *hits) out.hits.push_back(std::move(h).with_identity(w.name, label, std::nullopt));
            }
        }
        if (!queried) out.skipped.push_back({w.name, "", "missing_trajectory", "well has no positioned bore"});
    }
    std::stable_sort(out.hits.begin(), out.hits.end(), intersections::cmp_hits_well_bore_md);
    return out;
}

/// A folded surface of 31 x 31 nodes 20 m apart around elevation -100.
Surface folded_surface() {
    Grid2 v(31, 31);
    for (std::size_t i = 0; i < 31; ++i)
        for (std::size_t j = 0; j < 31; ++j)
            v(i, j) = -100.0 + 30.0 * std::sin(20.0 * i / 90.0) * std::cos(20.0 * j / 120.0);
    auto s = Surface::make(GridGeometry{0, 0, 20, 20, 31, 31, 0, false}, std::move(v));
    EXPECT_TRUE(s.has_value());
    return *s;
}

// Small batches search every bore from scratch, larger ones prepare the mesh
// once; either way the batch is exactly what the bore queries give.
TEST(BatchSizes, EveryBatchSizeMatchesTheBoreQueries) {
    const Surface surface = folded_surface();
    const SurfaceMeshView view(surface);
    for (const std::size_t count : {1u, 2u, 3u, 4u, 5u, 9u}) {
        std::vector<Well> wells;
        for (std::size_t k = 0; k < count; ++k) {
            const double x = 40.0 + 61.0 * k;
            const double y = 30.0 + 47.0 * k;
            std::vector<std::pair<std::string, std::optional<Trajectory>>> bores = {{"", vertical(x, y)}};
            if (k % 2 == 1) bores.push_back({"ST1", u_turn(x, 600.0 - y)});
            if (k % 3 == 2) bores.push_back({"ST2", std::nullopt});
            if (k == 7) bores = {{"", std::nullopt}};
            wells.push_back(well_with("W" + std::to_string(k), std::move(bores)));
        }
        for (const double tol : {kTol, 0.0}) {
            for (const bool all : {true, false}) {
                auto got = run(wells, view, tol, all);
                ASSERT_TRUE(got.has_value()) << got.error().display();
                EXPECT_EQ(*got, batch_from_bore_queries(wells, view, tol, all))
                    << count << " wells, tolerance " << tol << ", all=" << all;
                if (tol > 0.0) {
                    EXPECT_FALSE(got->hits.empty());
                }
            }
        }
    }
}

TEST(BatchEdges, EmptyListGivesThreeEmptyLists) {
    const Surface s = flat_surface();
    auto got = run({}, SurfaceMeshView(s), kTol, false);
    ASSERT_TRUE(got.has_value());
    EXPECT_EQ(*got, WellIntersectionBatch{});
}

TEST(BatchEdges, MainBoreWithoutTrajectoryIsPassedOverSilently) {
    const Surface s = flat_surface();
    std::vector<Well> wells;
    wells.push_back(well_with("W", {{"", std::nullopt}, {"ST", vertical(400, 400)}}));
    wells.push_back(well_with("V", {{"", std::nullopt}}));
    auto got = run(wells, SurfaceMeshView(s), kTol, false);
    ASSERT_TRUE(got.has_value());
    expect_hits(got->hits, {{"W", "ST", 100}});
    EXPECT_EQ(got->skipped,
              (std::vector<WellIntersectionRow>{{"V", "", "missing_trajectory", "well has no positioned bore"}}));
    EXPECT_TRUE(got->failed.empty());
}

// ---- the order of hits -----------------------------------------------------------

struct OrderCase {
    const char* name;
    SurfaceIntersection a;
    SurfaceIntersection b;
    bool a_first;
};

SurfaceIntersection hit(std::optional<std::string> well, std::optional<std::string> bore, double md) {
    SurfaceIntersection h;
    h.md = md;
    h.well = std::move(well);
    h.bore = std::move(bore);
    return h;
}

class HitOrder : public ::testing::TestWithParam<OrderCase> {};

TEST_P(HitOrder, ComparesWellThenBoreThenMd) {
    const auto& c = GetParam();
    EXPECT_EQ(intersections::cmp_hits_well_bore_md(c.a, c.b), c.a_first);
    EXPECT_FALSE(intersections::cmp_hits_well_bore_md(c.b, c.a) && c.a_first);
}

INSTANTIATE_TEST_SUITE_P(
    Table, HitOrder,
    ::testing::Values(OrderCase{"absent_well_first", hit(std::nullopt, "z", 9), hit("", "", 0), true},
                      OrderCase{"well_before_bore", hit("A", "Z", 9), hit("B", "", 0), true},
                      OrderCase{"prefix_first", hit("W", "", 9), hit("W", "ST1", 0), true},
                      OrderCase{"bytewise_upper_before_lower", hit("W", "ST", 9), hit("W", "st", 0), true},
                      OrderCase{"bytewise_high_bytes_last", hit("\xc3\xa9", "", 0), hit("z", "", 0), false},
                      OrderCase{"absent_bore_first", hit("W", std::nullopt, 9), hit("W", "", 0), true},
                      OrderCase{"md_ascending", hit("W", "", 1), hit("W", "", 2), true},
                      OrderCase{"negative_zero_first", hit("W", "", -0.0), hit("W", "", 0.0), true},
                      OrderCase{"nan_after_infinity", hit("W", "", kNaN), hit("W", "", INFINITY), false},
                      OrderCase{"equal_keys", hit("W", "", 1), hit("W", "", 1), false}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace vz
