#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <limits>
#include <string>
#include <vector>

#include "core/grid_geometry.hpp"
#include "core/gridding.hpp"
#include "core/points.hpp"
#include "core/surface.hpp"
#include "foundation/error.hpp"

namespace vz {
namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kInf = std::numeric_limits<double>::infinity();

using P = std::array<double, 3>;

TEST(PointSet, FromCoordsKeepsPointsAsGiven) {
    const PointSet empty = PointSet::from_coords({});
    EXPECT_TRUE(empty.points.empty());
    EXPECT_TRUE(empty.attr_names().empty());
    EXPECT_EQ(empty.history.entries(), std::vector<std::string>{"points.from_coords"});

    const PointSet s = PointSet::from_coords({{1, 2, 3}, {kNaN, 5, kInf}});
    ASSERT_EQ(s.size(), 2u);
    EXPECT_EQ(s.points[0], (P{1, 2, 3}));
    EXPECT_TRUE(std::isnan(s.points[1][0]));
    EXPECT_EQ(s.points[1][2], kInf);
}

TEST(PointSet, ColumnLengthsAreChecked) {
    const std::vector<P> four = {{0, 0, 0}, {1, 0, 0}, {0, 1, 0}, {1, 1, 0}};
    struct Case {
        const char* what;
        std::vector<std::pair<std::string, std::size_t>> columns;
        const char* message;  // nullptr: success
    };
    const Case cases[] = {
        {"all match", {{"a", 4}, {"phi", 4}}, nullptr},
        {"one short", {{"a", 4}, {"phi", 3}}, "parse error: point attribute 'phi' has 3 rows, expected 4"},
        {"first bad named", {{"b", 5}, {"a", 4}, {"phi", 3}}, "parse error: point attribute 'b' has 5 rows, expected 4"},
        {"empty column", {{"z2", 0}}, "parse error: point attribute 'z2' has 0 rows, expected 4"},
    };
    for (const Case& c : cases) {
        AttributeColumns cols;
        for (const auto& [name, n] : c.columns) cols[name] = std::vector<double>(n, 1.5);
        auto r = PointSet::from_columns(four, cols);
        if (!c.message) {
            ASSERT_TRUE(r.has_value()) << c.what;
            EXPECT_TRUE(r->history.empty());
            EXPECT_EQ(r->attr_names(), (std::vector<std::string>{"a", "phi"}));
        } else {
            ASSERT_FALSE(r.has_value()) << c.what;
            EXPECT_EQ(r.error().kind(), ErrorKind::Parse);
            EXPECT_EQ(r.error().display(), c.message) << c.what;
        }
    }
}

TEST(PointSet, SetAttrKeepsOrderAndHistory) {
    PointSet s = PointSet::from_coords({{0, 0, 1}, {1, 0, 2}, {2, 0, 3}});
    ASSERT_TRUE(s.set_attr("phi", {0.1, 0.2, 0.3}).has_value());
    ASSERT_TRUE(s.set_attr("sw", {1, 1, 1}).has_value());
    ASSERT_TRUE(s.set_attr("phi", {0.4, 0.5, 0.6}).has_value());
    EXPECT_EQ(s.attr_names(), (std::vector<std::string>{"phi", "sw"}));
    EXPECT_EQ(std::vector<double>(s.attr("phi")->begin(), s.attr("phi")->end()), (std::vector<double>{0.4, 0.5, 0.6}));
    EXPECT_EQ(s.history.entries(), (std::vector<std::string>{"points.from_coords", "points.set_attr(name=phi)",
                                                             "points.set_attr(name=sw)", "points.set_attr(name=phi)"}));

    const PointSet before = s;
    auto bad = s.set_attr("PHI", {1, 2});
    ASSERT_FALSE(bad.has_value());
    EXPECT_EQ(bad.error().kind(), ErrorKind::Parse);
    EXPECT_EQ(bad.error().display(), "parse error: point attribute 'PHI' has 2 rows, expected 3");
    EXPECT_TRUE(s == before);  // columns, values and history untouched
    EXPECT_FALSE(s.attr("PHI").has_value());  // names match exactly
}

TEST(PointSet, Statistics) {
    PointSet s = PointSet::from_coords({{0, 0, 4}, {1, 0, kNaN}, {2, 0, 2}});
    ASSERT_TRUE(s.set_attr("nan", {kNaN, kNaN, kNaN}).has_value());
    ASSERT_TRUE(s.set_attr("v", {1, 2, 6}).has_value());
    EXPECT_EQ(s.stats("nan")->count, 0u);
    EXPECT_EQ(s.stats("v")->count, 3u);
    EXPECT_EQ(s.stats("v")->mean, 3.0);
    EXPECT_FALSE(s.stats("missing").has_value());
    const Stats z = s.z_stats();
    EXPECT_EQ(z.count, 2u);
    EXPECT_EQ(z.min, 2.0);
    EXPECT_EQ(z.max, 4.0);
}

TEST(PointSet, NearestInThePlane) {
    const PointSet s = PointSet::from_coords(
        {{10, 10, -100}, {kNaN, 0, 0}, {0, 0, 1e9}, {3, 4, 0}, {-3, -4, 0}, {0, kInf, 0}, {0, 0, 5}});
    struct Case {
        double x, y;
        std::optional<std::size_t> expected;
    };
    const Case cases[] = {
        {0, 0, 2},        // exact hit; the duplicate at index 6 comes later
        {9, 9, 0},        // z plays no part
        {0.1, 0.1, 2},    // near the duplicates
        {0, 5.5, 3},      // (3, 4) and (-3, -4) are both 5 from the origin; here (3, 4) is nearer
        {0, 0.0001, 2},   //
        {kNaN, 0, std::nullopt},
    };
    for (const Case& c : cases) EXPECT_EQ(s.nearest(c.x, c.y), c.expected) << c.x << "," << c.y;
    EXPECT_FALSE(PointSet::from_coords({}).nearest(0, 0).has_value());
    EXPECT_EQ(PointSet::from_coords({{5, 5, 5}}).nearest(-1e9, 1e9), 0u);
    // Equal distance: the lowest index.
    EXPECT_EQ(PointSet::from_coords({{5, 0, 0}, {-5, 0, 0}}).nearest(0, 0), 0u);
    EXPECT_EQ(PointSet::from_coords({{-5, 0, 0}, {5, 0, 0}}).nearest(0, 0), 0u);
}

TEST(PointSet, ToSurfaceGridsZWithHistory) {
    const GridGeometry g{0, 0, 1, 1, 3, 2, 0, false};
    PointSet s = PointSet::from_coords({{0, 0, 1}, {2, 1, 5}, {1, 0, 3}});
    ASSERT_TRUE(s.set_attr("a", {7, 7, 7}).has_value());
    const struct {
        GriddingMethod m;
        const char* entry;
    } cases[] = {{GriddingMethod::Nearest, "points.to_surface(method=Nearest)"},
                 {GriddingMethod::InverseDistance, "points.to_surface(method=InverseDistance)"},
                 {GriddingMethod::MinimumCurvature, "points.to_surface(method=MinimumCurvature)"}};
    for (const auto& c : cases) {
        auto surf = s.to_surface(g, c.m);
        ASSERT_TRUE(surf.has_value());
        EXPECT_EQ(surf->geom, g);
        EXPECT_EQ(surf->values, *gridding::grid(s.points, g, c.m));
        EXPECT_TRUE(surf->attributes.empty());
        EXPECT_FALSE(surf->primary_metadata.has_value());
        EXPECT_EQ(surf->history.entries(),
                  (std::vector<std::string>{"points.from_coords", "points.set_attr(name=a)", c.entry}));
        EXPECT_EQ(surf->values(1, 0), 3.0);  // every kernel keeps a sample sitting on a node
    }
    const PointSet empty = PointSet::from_coords({});
    for (const auto& c : cases) {
        auto r = empty.to_surface(g, c.m);
        ASSERT_FALSE(r.has_value());
        EXPECT_EQ(r.error().kind(), ErrorKind::Tools);
        EXPECT_EQ(r.error().display(), "empty input: grid: no points to grid");
    }
}

TEST(NormalizeAttrName, TrimsLowersAndUnderscores) {
    const struct {
        const char* in;
        const char* out;
    } cases[] = {
        {" Column ", "column"},   {"COL", "col"},           {"Grid-Row", "grid_row"}, {"row-", "row_"},
        {"a\tb", "a\tb"},         {"\u00a0Row\u2003", "row"}, {"Äbc", "Äbc"},         {"two words", "two_words"},
        {"\t\n ROW \r", "row"},   {"", ""},
    };
    for (const auto& c : cases) EXPECT_EQ(points::normalize_attr_name(c.in), c.out) << c.in;
}

TEST(NormalizeAttrName, OnlyColumnColAndRowAreTopology) {
    const struct {
        std::vector<std::string> names;
        std::optional<std::string> column, row;
    } cases[] = {
        {{"x", " Column ", "COL", "Row"}, " Column ", "Row"},
        {{"grid_column", "i", "j", "grid-row"}, std::nullopt, std::nullopt},
        {{"ROW", "row", "col"}, "col", "ROW"},
        {{}, std::nullopt, std::nullopt},
    };
    for (const auto& c : cases) {
        AttributeColumns cols;
        for (const auto& n : c.names) cols[n] = {};
        EXPECT_EQ(points::column_attr_name(cols), c.column);
        EXPECT_EQ(points::row_attr_name(cols), c.row);
    }
}

}  // namespace
}  // namespace vz
