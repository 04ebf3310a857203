#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <limits>
#include <optional>
#include <string>
#include <vector>

#include "core/grid_geometry.hpp"
#include "core/polygons.hpp"
#include "core/surface.hpp"
#include "foundation/error.hpp"

namespace vz {
namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

using V3 = std::array<double, 3>;
using Ring3 = std::vector<V3>;

std::vector<Coord> ring(std::initializer_list<Coord> c) { return c; }

std::vector<Coord> square(double x0, double y0, double side, bool clockwise = false) {
    if (clockwise) return {{x0, y0}, {x0, y0 + side}, {x0 + side, y0 + side}, {x0 + side, y0}, {x0, y0}};
    return {{x0, y0}, {x0 + side, y0}, {x0 + side, y0 + side}, {x0, y0 + side}, {x0, y0}};
}

PolygonSet set_of(std::vector<Polygon> polygons) { return {std::move(polygons), {}, History::make("test")}; }

// ---------------------------------------------------------------- construction

TEST(PolygonSet, FromRingsDropsShortRingsAndCloses) {
    const std::vector<Ring3> rings = {
        {{0, 0, 9}, {1, 0, 9}},                                      // two vertices: dropped
        {{0, 0, 1}, {4, 0, 2}, {0, 3, 3}},                           // triangle: closed
        {{0, 0, 0}, {2, 0, 0}, {2, 2, 0}, {0, 2, 0}, {0, 0, 0}},     // already closed
        {{kNaN, 0, 0}, {1, 1, 0}, {kNaN, 0, 0}},                     // NaN never equals: closed again
    };
    const PolygonSet s = PolygonSet::from_rings(rings);
    ASSERT_EQ(s.size(), 3u);
    EXPECT_EQ(s.polygons[0].exterior, ring({{0, 0}, {4, 0}, {0, 3}, {0, 0}}));
    EXPECT_TRUE(s.polygons[0].interiors.empty());
    EXPECT_EQ(s.polygons[1].exterior, square(0, 0, 2));
    EXPECT_EQ(s.polygons[2].exterior.size(), 4u);
    EXPECT_TRUE(s.attributes.empty());
    EXPECT_EQ(s.history.entries(), std::vector<std::string>{"polygons.from_rings"});
    EXPECT_EQ(PolygonSet::from_rings({}).size(), 0u);
    EXPECT_EQ(PolygonSet::from_rings({}).history.entries(), std::vector<std::string>{"polygons.from_rings"});
    EXPECT_EQ(s.element_kind(), "polygons");
}

TEST(PolygonSet, RingsReturnsClosedExteriorsWithZeroZ) {
    PolygonSet s = set_of({Polygon::closed(square(0, 0, 1), {square(0.2, 0.2, 0.1)})});
    const auto r = s.rings();
    ASSERT_EQ(r.size(), 1u);
    EXPECT_EQ(r[0], (Ring3{{0, 0, 0}, {1, 0, 0}, {1, 1, 0}, {0, 1, 0}, {0, 0, 0}}));
}

TEST(PolygonSet, GridFootprint) {
    struct Case {
        const char* what;
        GridGeometry g;
        std::vector<Coord> expected;
    };
    const Case cases[] = {
        {"plain", {100, 200, 10, 5, 3, 2, 0, false}, {{100, 200}, {120, 200}, {120, 205}, {100, 205}, {100, 200}}},
        {"yflip", {100, 200, 10, 5, 3, 2, 0, true}, {{100, 200}, {120, 200}, {120, 195}, {100, 195}, {100, 200}}},
        {"one node", {7, 8, 10, 5, 1, 1, 0, false}, {{7, 8}, {7, 8}, {7, 8}, {7, 8}}},
        {"empty", {7, 8, 10, 5, 0, 0, 0, false}, {{7, 8}, {7, 8}, {7, 8}, {7, 8}}},
    };
    for (const Case& c : cases) {
        const PolygonSet s = PolygonSet::from_grid_geometry(c.g);
        ASSERT_EQ(s.size(), 1u) << c.what;
        EXPECT_EQ(s.polygons[0].exterior, c.expected) << c.what;
        EXPECT_EQ(s.history.entries(), std::vector<std::string>{"polygons.from_grid_geometry"});
    }
    EXPECT_EQ(PolygonSet::from_grid_geometry({7, 8, 10, 5, 1, 1, 0, false}).areas(), std::vector<double>{0.0});
    // Rotated 90 degrees: the footprint turns with the lattice, area kept.
    const PolygonSet rot = PolygonSet::from_grid_geometry({0, 0, 10, 5, 3, 2, 90, false});
    EXPECT_NEAR(rot.total_area(), 100.0, 1e-9);
    EXPECT_NEAR(rot.polygons[0].exterior[1].y, 20.0, 1e-12);
}

// ---------------------------------------------------------------- areas, bbox

TEST(PolygonSet, Areas) {
    struct Case {
        const char* what;
        std::vector<Polygon> polygons;
        std::vector<double> areas;
        double total;
    };
    const Case cases[] = {
        {"empty set", {}, {}, -0.0},
        {"two unit squares", {Polygon::closed(square(0, 0, 1)), Polygon::closed(square(5, 5, 1))}, {1, 1}, 2.0},
        {"clockwise ring", {Polygon::closed(square(0, 0, 2, true))}, {4}, 4.0},
        {"square with a quarter hole", {Polygon::closed(square(0, 0, 2), {square(0.5, 0.5, 1, true)})}, {3}, 3.0},
        {"clockwise with hole", {Polygon::closed(square(0, 0, 2, true), {square(0.5, 0.5, 1)})}, {3}, 3.0},
        {"far from the origin", {Polygon::closed(square(1e9, -1e9, 0.5))}, {0.25}, 0.25},
        {"open ring counts 0", {Polygon{ring({{0, 0}, {1, 0}, {1, 1}}), {}}}, {0}, 0.0},
        {"two vertices count 0", {Polygon{ring({{0, 0}, {0, 0}}), {}}}, {0}, 0.0},
        {"empty exterior", {Polygon{}}, {0}, 0.0},
    };
    for (const Case& c : cases) {
        const PolygonSet s = set_of(c.polygons);
        EXPECT_EQ(s.areas(), c.areas) << c.what;
        EXPECT_EQ(s.total_area(), c.total) << c.what;
        EXPECT_EQ(std::signbit(s.total_area()), std::signbit(c.total)) << c.what;
    }
    EXPECT_EQ(Polygon::closed(square(0, 0, 2, true)).signed_area(), -4.0);
    EXPECT_EQ(Polygon::closed(square(0, 0, 2), {square(0, 0, 1)}).signed_area(), 3.0);
}

TEST(PolygonSet, BoundingBox) {
    const PolygonSet empty = set_of({});
    const BBox e = empty.bbox();
    EXPECT_TRUE(std::isnan(e.xmin) && std::isnan(e.ymin) && std::isnan(e.xmax) && std::isnan(e.ymax));
    const BBox only_empty_exterior = set_of({Polygon{}}).bbox();
    EXPECT_TRUE(std::isnan(only_empty_exterior.xmin));
    // A hole reaching outside the exterior does not count; NaN vertices are ignored.
    const PolygonSet s = set_of({Polygon::closed(square(0, 0, 2), {square(-5, -5, 20)}), Polygon{},
                                 Polygon::closed(ring({{3, kNaN}, {4, 1}, {3.5, -1}}))});
    EXPECT_EQ(s.bbox(), (BBox{0, -1, 4, 2}));
}

// ---------------------------------------------------------------- containment

TEST(RingClassification, InsideBoundaryOutside) {
    const std::vector<Coord> sq = square(0, 0, 2);
    const std::vector<Coord> cw = square(0, 0, 2, true);
    const std::vector<Coord> bow = ring({{0, 0}, {2, 2}, {2, 0}, {0, 2}, {0, 0}});  // self-crossing
    struct Case {
        const char* what;
        std::vector<Coord> r;
        double x, y;
        RingPosition expected;
    };
    const Case cases[] = {
        {"centre", sq, 1, 1, RingPosition::Inside},
        {"centre, clockwise", cw, 1, 1, RingPosition::Inside},
        {"edge", sq, 2, 1, RingPosition::OnBoundary},
        {"vertex", sq, 0, 0, RingPosition::OnBoundary},
        {"edge, clockwise", cw, 1, 0, RingPosition::OnBoundary},
        {"on the edge's line, beyond it", sq, 3, 0, RingPosition::Outside},
        {"outside", sq, -0.5, 1, RingPosition::Outside},
        {"level with a vertex", sq, 3, 2, RingPosition::Outside},
        {"just inside", sq, 2 - 1e-15, 1, RingPosition::Inside},
        {"just outside", sq, 2 + 4e-16, 1, RingPosition::Outside},
        {"bow tie lobe", bow, 1.9, 1, RingPosition::Inside},
        {"bow tie crossing", bow, 1, 1, RingPosition::OnBoundary},
        {"empty ring", {}, 0, 0, RingPosition::Outside},
        {"one vertex, at it", ring({{1, 2}}), 1, 2, RingPosition::OnBoundary},
        {"one vertex, elsewhere", ring({{1, 2}}), 1, 2.5, RingPosition::Outside},
        {"two vertices, on the segment", ring({{0, 0}, {2, 2}}), 1, 1, RingPosition::OnBoundary},
        {"NaN point", sq, kNaN, 1, RingPosition::Outside},
    };
    for (const Case& c : cases) EXPECT_EQ(classify_point_in_ring(c.x, c.y, c.r), c.expected) << c.what;
}

TEST(RingClassification, ExactOrientationNearAnEdge) {
    // Points a few units in the last place beside the edge (0.1, 0.3) ->
    // (24.7, 17.3), on its left (the interior side of this counter-clockwise
    // triangle). The plain floating-point determinant calls the first one
    // collinear and the second one right of the edge; the exact test must not.
    const std::vector<Coord> tri = ring({{0.1, 0.3}, {24.7, 17.3}, {0.1, 17.3}, {0.1, 0.3}});
    const std::vector<Coord> cw = ring({{0.1, 0.3}, {0.1, 17.3}, {24.7, 17.3}, {0.1, 0.3}});
    const Coord near[] = {{11.999999999999929, 8.52357723577231}, {11.999999999999934, 8.523577235772313}};
    for (const Coord& p : near) {
        EXPECT_EQ(classify_point_in_ring(p.x, p.y, tri), RingPosition::Inside) << p.x;
        EXPECT_EQ(classify_point_in_ring(p.x, p.y, cw), RingPosition::Inside) << p.x;
    }
}

TEST(PolygonSet, StrictContainment) {
    const PolygonSet holed = set_of({Polygon::closed(square(0, 0, 2), {square(0.5, 0.5, 1)})});
    struct Case {
        const char* what;
        double x, y;
        bool expected;
    };
    const Case cases[] = {
        {"inside the hole", 1, 1, false},   {"on the hole's edge", 1.5, 1, false}, {"between the rings", 0.25, 1, true},
        {"on the outer edge", 0, 1, false}, {"outside", 3, 1, false},              {"hole corner", 0.5, 0.5, false},
    };
    for (const Case& c : cases) EXPECT_EQ(holed.contains(c.x, c.y), c.expected) << c.what;
    EXPECT_FALSE(set_of({}).contains(0, 0));
    // Any polygon of the set may contain the point; empty exteriors are skipped.
    const PolygonSet two = set_of({Polygon{}, Polygon::closed(square(0, 0, 1)), Polygon::closed(square(5, 5, 1))});
    EXPECT_TRUE(two.contains(5.5, 5.5));
    EXPECT_FALSE(two.contains(3, 3));
}

// ---------------------------------------------------------------- convex hull

TEST(PolygonSet, ConvexHull) {
    using A2 = std::array<double, 2>;
    struct Case {
        const char* what;
        std::vector<A2> points;
        std::optional<std::vector<Coord>> expected;
    };
    const Case cases[] = {
        {"none", {}, std::nullopt},
        {"one point", {{1, 1}}, std::nullopt},
        {"three copies", {{1, 1}, {1, 1}, {1, 1}}, std::nullopt},
        {"collinear", {{0, 0}, {1, 1}, {2, 2}}, std::nullopt},
        {"collinear with duplicates", {{2, 2}, {0, 0}, {1, 1}, {0, 0}}, std::nullopt},
        {"square, centre, edge midpoint",
         {{2, 2}, {1, 1}, {0, 2}, {2, 0}, {1, 0}, {0, 0}},
         std::vector<Coord>{{0, 0}, {2, 0}, {2, 2}, {0, 2}, {0, 0}}},
        {"triangle given clockwise", {{0, 0}, {0, 3}, {4, 0}}, std::vector<Coord>{{0, 0}, {4, 0}, {0, 3}, {0, 0}}},
        {"signed zeros are one point", {{0.0, 0.0}, {-0.0, 0.0}, {1, 0}, {0, 1}},
         std::vector<Coord>{{-0.0, 0.0}, {1, 0}, {0, 1}, {-0.0, 0.0}}},
    };
    for (const Case& c : cases) {
        const auto hull = PolygonSet::convex_hull_xy(c.points);
        ASSERT_EQ(hull.has_value(), c.expected.has_value()) << c.what;
        if (!hull) continue;
        ASSERT_EQ(hull->size(), 1u);
        EXPECT_EQ(hull->polygons[0].exterior, *c.expected) << c.what;
        EXPECT_EQ(std::signbit(hull->polygons[0].exterior[0].x), std::signbit((*c.expected)[0].x)) << c.what;
        EXPECT_EQ(hull->history.entries(), std::vector<std::string>{"polygons.convex_hull_xy"});
        EXPECT_GT(hull->polygons[0].signed_area(), 0.0) << c.what;  // counter-clockwise
    }
}

TEST(PolygonSet, ConvexHullContainsEveryPoint) {
    std::vector<std::array<double, 2>> pts;
    for (int k = 0; k < 200; ++k) pts.push_back({std::sin(k * 0.37) * 50 + k % 7, std::cos(k * 0.91) * 30 - k % 5});
    const auto hull = PolygonSet::convex_hull_xy(pts);
    ASSERT_TRUE(hull.has_value());
    const auto& ext = hull->polygons[0].exterior;
    for (const auto& p : pts) EXPECT_NE(classify_point_in_ring(p[0], p[1], ext), RingPosition::Outside);
    for (std::size_t k = 0; k + 2 < ext.size(); ++k) {
        const double cross = (ext[k + 1].x - ext[k].x) * (ext[k + 2].y - ext[k].y) -
                             (ext[k + 1].y - ext[k].y) * (ext[k + 2].x - ext[k].x);
        EXPECT_GT(cross, 0.0) << k;  // strictly convex, no collinear vertex kept
    }
}

// ---------------------------------------------------------------- clip, set_attr

TEST(PolygonSet, ClipMasksTheSurface) {
    const GridGeometry g{0, 0, 1, 1, 4, 3, 0, false};
    Grid2 v(4, 3);
    for (std::size_t i = 0; i < 4; ++i)
        for (std::size_t j = 0; j < 3; ++j) v(i, j) = double(10 * i + j);
    v(0, 0) = kNaN;
    auto made = Surface::make(g, v);
    ASSERT_TRUE(made.has_value());
    Surface surface = *made;
    ASSERT_TRUE(surface.set_attr("lane", v).has_value());

    struct Case {
        const char* what;
        std::vector<Polygon> polygons;
        std::vector<std::pair<std::size_t, std::size_t>> kept;
    };
    std::vector<std::pair<std::size_t, std::size_t>> all;
    for (std::size_t i = 0; i < 4; ++i)
        for (std::size_t j = 0; j < 3; ++j) all.emplace_back(i, j);
    const Case cases[] = {
        {"no polygon", {}, {}},
        {"covers all with a margin", {Polygon::closed(square(-1, -1, 10))}, all},
        {"nodes on the edge are out", {Polygon::closed(square(1, 0, 2))}, {{2, 1}}},
        {"hole", {Polygon::closed(square(-1, -1, 10), {square(0.5, 0.5, 2)})},
         {{0, 0}, {0, 1}, {0, 2}, {1, 0}, {2, 0}, {3, 0}, {3, 1}, {3, 2}}},
    };
    for (const Case& c : cases) {
        PolygonSet mask = set_of(c.polygons);
        mask.history.push("polygons.set_attr(name=a)");
        const Surface out = mask.clip(surface);
        EXPECT_EQ(out.geom, g);
        EXPECT_TRUE(out.attributes.empty());
        EXPECT_FALSE(out.primary_metadata.has_value());
        std::vector<std::string> history = surface.history.entries();
        history.insert(history.end(), {"mask.test", "mask.polygons.set_attr(name=a)", "polygons.clip(surface)"});
        EXPECT_EQ(out.history.entries(), history) << c.what;
        for (std::size_t i = 0; i < 4; ++i)
            for (std::size_t j = 0; j < 3; ++j) {
                const bool kept = std::find(c.kept.begin(), c.kept.end(), std::pair{i, j}) != c.kept.end();
                if (kept && !std::isnan(v(i, j)))
                    EXPECT_EQ(out.values(i, j), v(i, j)) << c.what << " " << i << "," << j;
                else
                    EXPECT_TRUE(std::isnan(out.values(i, j))) << c.what << " " << i << "," << j;
            }
    }
    EXPECT_EQ(surface.values(1, 1), 11.0);  // the input is untouched
}

TEST(PolygonSet, SetAttr) {
    PolygonSet s = PolygonSet::from_rings(std::vector<Ring3>{{{0, 0, 0}, {1, 0, 0}, {0, 1, 0}},
                                                             {{5, 5, 0}, {6, 5, 0}, {5, 6, 0}}});
    ASSERT_TRUE(s.set_attr("a", {1, 2}).has_value());
    ASSERT_TRUE(s.set_attr("b", {3, 4}).has_value());
    ASSERT_TRUE(s.set_attr("a", {5, 6}).has_value());
    EXPECT_EQ(s.attr_names(), (std::vector<std::string>{"a", "b"}));
    EXPECT_EQ((*s.attr("a"))[1], 6.0);
    const PolygonSet before = s;
    auto bad = s.set_attr("area", {1, 2, 3});
    ASSERT_FALSE(bad.has_value());
    EXPECT_EQ(bad.error().kind(), ErrorKind::Parse);
    EXPECT_EQ(bad.error().display(), "parse error: polygon attribute 'area' has 3 rows, expected 2");
    EXPECT_TRUE(s == before);  // columns, values and history untouched
    EXPECT_EQ(s.history.entries(), (std::vector<std::string>{"polygons.from_rings", "polygons.set_attr(name=a)",
                                                             "polygons.set_attr(name=b)", "polygons.set_attr(name=a)"}));
}

}  // namespace
}  // namespace vz
