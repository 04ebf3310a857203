#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <cstdint>
#include <limits>
#include <optional>
#include <random>
#include <string>
#include <vector>

#include "core/grid_geometry.hpp"
#include "core/polygon_mask.hpp"
#include "core/polygons.hpp"
#include "core/surface.hpp"
#include "foundation/error.hpp"
#include "thread_count_util.hpp"

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

// Rings after the first of a polygon are its holes: short ones are dropped,
// the polygon only when its exterior is short.
TEST(PolygonSet, FromPolygonsKeepsHoles) {
    const Ring3 outer{{0, 0, 5}, {4, 0, 5}, {4, 4, 5}, {0, 4, 5}};    // open: closed on building
    const Ring3 hole{{1, 1, 0}, {2, 1, 0}, {2, 2, 0}, {1, 2, 0}, {1, 1, 0}};
    const Ring3 hole2{{3, 3, 0}, {3.5, 3, 0}, {3.5, 3.5, 0}};
    const Ring3 two{{1, 1, 0}, {3, 3, 0}};
    const Ring3 lone{{10, 10, 0}, {11, 10, 0}, {11, 11, 0}};
    const std::vector<std::vector<Ring3>> polygons = {
        {outer, hole, two, hole2},  // the two-vertex hole is dropped, the others kept in order
        {two, hole},                // a two-vertex exterior: dropped with its hole
        {},                         // no rings: nothing
        {lone},                     // a ring alone is a polygon without holes
    };
    const PolygonSet s = PolygonSet::from_polygons(polygons);
    ASSERT_EQ(s.size(), 2u);
    EXPECT_EQ(s.polygons[0].exterior, square(0, 0, 4));
    EXPECT_EQ(s.polygons[0].interiors,
              (std::vector<std::vector<Coord>>{square(1, 1, 1), ring({{3, 3}, {3.5, 3}, {3.5, 3.5}, {3, 3}})}));
    EXPECT_EQ(s.polygons[1], Polygon::closed(ring({{10, 10}, {11, 10}, {11, 11}})));
    EXPECT_EQ(s.areas(), (std::vector<double>{16.0 - 1.0 - 0.125, 0.5}));
    EXPECT_FALSE(s.contains(1.5, 1.5));  // in the hole
    EXPECT_TRUE(s.contains(0.5, 0.5));
    EXPECT_TRUE(s.attributes.empty());
    EXPECT_EQ(s.history.entries(), std::vector<std::string>{"polygons.from_polygons"});
    // Polygons of one ring build what the ring constructor builds.
    const std::vector<Ring3> rings = {outer, two, hole};
    std::vector<std::vector<Ring3>> singles;
    for (const auto& r : rings) singles.push_back({r});
    EXPECT_EQ(PolygonSet::from_polygons(singles).polygons, PolygonSet::from_rings(rings).polygons);
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

// ---------------------------------------------------------------- masking by detailed outlines
//
// The lattice mask sweeps columns and decides most nodes from crossing counts;
// every answer must still be the per-node test of the node's world position.

/// The per-node answers, [i * nrow + j].
std::vector<std::uint8_t> per_node(const PolygonSet& set, const GridGeometry& g) {
    std::vector<std::uint8_t> out(g.ncol * g.nrow);
    for (std::size_t i = 0; i < g.ncol; ++i)
        for (std::size_t j = 0; j < g.nrow; ++j) {
            const auto [x, y] = g.node_xy(i, j);
            out[i * g.nrow + j] = set.contains(x, y);
        }
    return out;
}

std::vector<std::uint8_t> swept(const PolygonSet& set, const GridGeometry& g) {
    std::vector<std::uint8_t> out(g.ncol * g.nrow, 0);
    lattice_containment(set.polygons, g, g.ncol, g.nrow, out);
    return out;
}

/// Empty when the sweep agrees with the per-node test, else the first nodes
/// where it does not.
std::string disagreements(const PolygonSet& set, const GridGeometry& g) {
    const auto want = per_node(set, g), got = swept(set, g);
    std::string out;
    int shown = 0;
    for (std::size_t k = 0; k < want.size() && shown < 6; ++k) {
        if (want[k] == got[k]) continue;
        out += "(" + std::to_string(k / g.nrow) + "," + std::to_string(k % g.nrow) + ") wants " +
               std::to_string(want[k]) + "; ";
        ++shown;
    }
    return out;
}

struct Lattice {
    const char* what;
    GridGeometry g;
};

/// Lattices a mask meets: axis-aligned on whole numbers (exact collinearity
/// everywhere), rotated, flipped, negative increments, map coordinates, tiny
/// increments, one column or one row, and transforms the sweep cannot take
/// (coordinates so small that orientation products underflow, a zero
/// increment, a NaN rotation, coordinates too large for exact products).
const Lattice kLattices[] = {
    {"whole numbers", {0, 0, 1, 1, 41, 37, 0, false}},
    {"map coordinates, rotated 30", {450000.5, 6700000.25, 25, 12.5, 33, 29, 30, false}},
    {"rotated 90, flipped", {-100, 50, 2, 3, 30, 31, 90, true}},
    {"negative xinc, rotated -135", {10, -20, -1.5, 2.5, 31, 27, -135, false}},
    {"rotated 180, flipped", {5, 5, 0.5, 0.5, 28, 30, 180, true}},
    {"small increments", {1e-3, 5e-3, 1e-4, 1e-4, 25, 26, 12.345, true}},
    {"coordinates whose products underflow", {3e-161, -2e-161, 1e-161, 3e-161, 20, 20, -33, true}},
    {"one column", {0, 0, 1, 1, 1, 50, 0, false}},
    {"one row", {0, 0, 1, 1, 50, 1, 45, false}},
    {"zero xinc", {0, 0, 0, 1, 12, 12, 0, false}},
    {"NaN rotation", {0, 0, 1, 1, 12, 12, kNaN, false}},
    {"huge origin", {1e200, 1e200, 1, 1, 12, 12, 0, false}},
};

/// A star of `n` vertices around (cx, cy), radii in [r/3, r], closed; with
/// `sorted` false the angles are shuffled and the ring crosses itself. Some
/// vertices are pulled onto lattice nodes, node midpoints or the previous
/// vertex, some put on the line of the two before, so that nodes fall on
/// edges and vertices.
std::vector<Coord> star(std::mt19937_64& rng, const GridGeometry& g, double cx, double cy, double r, std::size_t n,
                        bool sorted) {
    std::uniform_real_distribution<double> unit(0.0, 1.0);
    std::vector<double> angles(n);
    for (std::size_t k = 0; k < n; ++k) angles[k] = 2 * M_PI * (double(k) + (sorted ? 0.8 * unit(rng) : 0.0)) / n;
    if (!sorted) std::shuffle(angles.begin(), angles.end(), rng);
    auto node_near = [&](double x, double y) {
        const auto ij = g.xy_to_ij(x, y);
        if (!ij) return Coord{x, y};
        const double fi = std::clamp(std::round(ij->first), 0.0, double(g.ncol) - 1);
        const double fj = std::clamp(std::round(ij->second), 0.0, double(g.nrow) - 1);
        const auto [nx, ny] = g.node_xy(std::uint64_t(fi), std::uint64_t(fj));
        return Coord{nx, ny};
    };
    std::vector<Coord> ring;
    for (std::size_t k = 0; k < n; ++k) {
        const double rad = r * (1.0 + 2.0 * unit(rng)) / 3.0;
        Coord c{cx + rad * std::cos(angles[k]), cy + rad * std::sin(angles[k])};
        const double pick = unit(rng);
        if (pick < 0.3) {
            c = node_near(c.x, c.y);
        } else if (pick < 0.4) {
            const Coord a = node_near(c.x, c.y), b = node_near(c.x + g.xinc, c.y + g.yinc);
            c = {(a.x + b.x) / 2, (a.y + b.y) / 2};
        } else if (pick < 0.45 && !ring.empty()) {
            c = ring.back();
        } else if (pick < 0.55 && ring.size() >= 2) {
            const Coord a = ring[ring.size() - 2], b = ring.back();
            c = {b.x + (b.x - a.x), b.y + (b.y - a.y)};
        }
        ring.push_back(c);
    }
    close_ring(ring);
    return ring;
}

TEST(LatticeMask, RandomOutlinesWithHolesMatchThePerNodeTest) {
    std::mt19937_64 rng(20250611);
    std::uniform_real_distribution<double> unit(0.0, 1.0);
    for (const Lattice& l : kLattices) {
        const GridGeometry& g = l.g;
        const auto [cx, cy] = g.node_xy(g.ncol / 2, g.nrow / 2);
        const double extent = std::max(std::fabs(g.xinc) * g.ncol, std::fabs(g.yinc) * g.nrow);
        for (int trial = 0; trial < 12; ++trial) {
            std::vector<Polygon> polygons;
            const int count = 1 + trial % 3;
            for (int p = 0; p < count; ++p) {
                const double px = cx + (unit(rng) - 0.5) * extent, py = cy + (unit(rng) - 0.5) * extent;
                const double r = extent * (0.2 + 0.5 * unit(rng));
                const std::size_t n = 3 + std::size_t(unit(rng) * (trial < 6 ? 12 : 120));
                std::vector<std::vector<Coord>> holes;
                for (int h = 0; h < trial % 4; ++h)
                    holes.push_back(star(rng, g, px + (unit(rng) - 0.5) * r, py + (unit(rng) - 0.5) * r,
                                         r * 0.4 * unit(rng), 3 + std::size_t(unit(rng) * 20), h % 2 == 0));
                polygons.push_back(Polygon::closed(star(rng, g, px, py, r, n, trial % 5 != 4), std::move(holes)));
            }
            const PolygonSet set = set_of(polygons);
            EXPECT_EQ(disagreements(set, g), "") << l.what << ", trial " << trial;
        }
    }
}

TEST(LatticeMask, OutlinesThroughNodesMatchThePerNodeTest) {
    for (const Lattice& l : kLattices) {
        const GridGeometry& g = l.g;
        const std::uint64_t a = g.ncol - 1, b = g.nrow - 1;
        auto n = [&](std::uint64_t i, std::uint64_t j) {
            const auto [x, y] = g.node_xy(std::min(i, a), std::min(j, b));
            return Coord{x, y};
        };
        auto poly = [](std::vector<Coord> exterior, std::vector<std::vector<Coord>> holes = {}) {
            return Polygon::closed(std::move(exterior), std::move(holes));
        };
        const Coord c0 = n(a / 4, b / 4), c1 = n(3 * a / 4, b / 4), c2 = n(3 * a / 4, 3 * b / 4),
                    c3 = n(a / 4, 3 * b / 4), mid = n(a / 2, b / 2);
        const auto footprint = PolygonSet::from_grid_geometry(g).polygons[0].exterior;
        const Coord far{g.xori + 1e6, g.yori - 1e6};
        struct Case {
            const char* what;
            std::vector<Polygon> polygons;
        };
        const Case cases[] = {
            {"the lattice footprint", {poly(footprint)}},
            {"rectangle along lattice lines", {poly({c0, c1, c2, c3})}},
            {"diagonals through nodes", {poly({n(0, 0), n(8, 4), n(8, 12), n(0, 8)})}},
            {"bow tie through nodes", {poly({c0, c2, c1, c3})}},
            {"hole along lattice lines", {poly(footprint, {{c0, c1, c2, c3}})}},
            {"hole sharing the outer edge", {poly({c0, c1, c2, c3}, {{c0, c1, mid}})}},
            {"hole equal to the exterior", {poly({c0, c1, c2, c3}, {{c0, c1, c2, c3}})}},
            {"keyhole: a bridge walked both ways",
             {poly({n(0, 0), n(a, 0), n(a, b), n(0, b), n(0, 0), c0, c3, c2, c1, c0, n(0, 0)})}},
            {"collinear and repeated vertices",
             {poly({c0, c0, n(a / 2, b / 4), n(a / 2, b / 4), c1, c2, n(a / 2, 3 * b / 4), c3, c3})}},
            {"zero area along a row", {poly({n(0, b / 2), n(a, b / 2), n(a / 2, b / 2)})}},
            {"triangle inside one cell", {poly({n(1, 1), Coord{(n(1, 1).x + n(2, 2).x) / 2, n(1, 1).y},
                                                Coord{n(1, 1).x, (n(1, 1).y + n(2, 2).y) / 2}})}},
            {"one-vertex hole on a node", {poly(footprint, {{mid}})}},
            {"two-vertex hole along a line", {poly(footprint, {{c0, c1}})}},
            {"far away", {poly({far, Coord{far.x + 1, far.y}, Coord{far.x, far.y + 1}})}},
            {"covering everything with a margin",
             {poly({Coord{-1e7, -1e7}, Coord{1e7, -1e7}, Coord{1e7, 1e7}, Coord{-1e7, 1e7}})}},
            {"several polygons, overlapping",
             {poly({c0, c1, c2}), poly({c0, c2, c3}), poly({c1, c2, c3}, {{mid, c2, c3}})}},
        };
        for (const Case& c : cases) EXPECT_EQ(disagreements(set_of(c.polygons), g), "") << l.what << ": " << c.what;
    }
}

TEST(LatticeMask, RingsTestedNodeByNodeMatchThePerNodeTest) {
    // Rings the sweep cannot take: an open chain (its crossing count depends
    // on the direction it is counted in), a NaN vertex splitting a ring,
    // coordinates beyond the range of exact products, and a subnormal one.
    const GridGeometry g{0, 0, 1, 1, 24, 20, 17.5, false};
    const std::vector<Coord> open = {{4, 2}, {16, 2}, {16, 14}, {4, 14}};  // the left side is missing
    const std::vector<Coord> split = {{4, 2}, {16, 2}, {kNaN, 8}, {16, 14}, {4, 14}, {4, 2}};
    const std::vector<Coord> inner = {{6, 4}, {12, 4}, {12, 10}, {6, 10}, {6, 4}};
    const std::vector<Coord> huge = {{-1e200, -1e200}, {1e200, -1e200}, {0, 1e200}, {-1e200, -1e200}};
    const std::vector<Coord> subnormal = {{4, 2}, {16, 2}, {16, 14}, {4e-320, 14}, {4, 2}};
    struct Case {
        const char* what;
        std::vector<Polygon> polygons;
    };
    const Case cases[] = {
        {"open exterior", {Polygon{open, {}}}},
        {"open hole", {Polygon::closed(square(-5, -5, 40), {}), Polygon{square(-5, -5, 40), {open}}}},
        {"NaN vertex in the exterior", {Polygon{split, {}}}},
        {"NaN vertex in a hole", {Polygon{square(-5, -5, 40), {split, inner}}}},
        {"huge exterior, swept hole", {Polygon{huge, {inner}}}},
        {"subnormal vertex", {Polygon{subnormal, {}}, Polygon{square(30, 0, 5), {}}}},
    };
    for (const Case& c : cases) EXPECT_EQ(disagreements(set_of(c.polygons), g), "") << c.what;
}

TEST(LatticeMask, LongEdgesAcrossEveryColumn) {
    // A spiky star whose edges each cross hundreds of columns: more column
    // entries than are held at once, so the columns are swept in bands.
    const GridGeometry g{0, 0, 1, 1, 500, 8, 10, false};
    const auto [cx, cy] = g.node_xy(250, 4);
    std::vector<Coord> spikes;
    for (int k = 0; k < 7000; ++k) {
        const double t = 2 * M_PI * k / 7000, r = k % 2 == 0 ? 400.0 : 3.0 + (k % 7);
        spikes.push_back({cx + r * std::cos(t), cy + r * std::sin(t)});
    }
    const PolygonSet set = set_of({Polygon::closed(spikes)});
    EXPECT_EQ(disagreements(set, g), "");
}

TEST(LatticeMask, SameAnswersAtAnyThreadCount) {
    // Wide enough that the columns are shared out in several chunks.
    const GridGeometry g{1000, 2000, 2, 3, 6000, 9, 33, true};
    std::mt19937_64 rng(7);
    const auto [x0, y0] = g.node_xy(0, 4);
    const auto [x1, y1] = g.node_xy(5999, 4);
    std::vector<Coord> outline;
    for (int k = 0; k <= 300; ++k) {
        const double t = k / 300.0, wave = 14.0 * std::sin(t * 157.0);
        outline.push_back({x0 + t * (x1 - x0) - wave * 0.5, y0 + t * (y1 - y0) + wave});
    }
    for (int k = 300; k >= 0; --k) outline.push_back({outline[std::size_t(k)].x + 3, outline[std::size_t(k)].y - 20});
    const PolygonSet set = set_of({Polygon::closed(outline, {star(rng, g, x0 + 0.5 * (x1 - x0), y0, 8, 40, true)})});
    std::vector<std::uint8_t> one;
    {
        const vz::testing::ScopedThreadCount threads(1);
        one = swept(set, g);
    }
    EXPECT_EQ(one, per_node(set, g));
    EXPECT_NE(std::count(one.begin(), one.end(), 1), 0);
    for (std::size_t n : vz::testing::kThreadCounts) {
        const vz::testing::ScopedThreadCount threads(n);
        EXPECT_EQ(swept(set, g), one) << n << " threads";
    }
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
