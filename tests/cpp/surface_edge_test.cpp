// The convex outline of a surface's defined nodes.

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <vector>

#include "core/polygons.hpp"
#include "core/surface.hpp"
#include "surface_test_util.hpp"

namespace vz {
namespace {

using testutil::cols;
using testutil::error_text;
using testutil::from_fn;
using testutil::geo;
using testutil::kInf;
using testutil::kNaN;

Surface make_surface(const GridGeometry& g, Grid2 v) {
    auto s = Surface::make(g, std::move(v));
    EXPECT_TRUE(s) << error_text(s);
    return *s;
}

/// Distinct vertices of a ring (a closing repeat of the first is dropped).
std::vector<Coord> distinct(std::vector<Coord> ring) {
    if (ring.size() > 1 && ring.front() == ring.back()) ring.pop_back();
    return ring;
}

bool contains_near(const std::vector<Coord>& ring, double x, double y) {
    return std::any_of(ring.begin(), ring.end(),
                       [&](const Coord& c) { return std::fabs(c.x - x) < 1e-9 && std::fabs(c.y - y) < 1e-9; });
}

TEST(SurfaceEdge, HullOfDefinedNodes) {
    struct Case {
        const char* what;
        GridGeometry g;
        Grid2 values;
        std::size_t vertices;
        double area;
    };
    const Case cases[] = {
        {"full 2 x 2", geo(10, 20, 2, 3, 2, 2), Grid2(2, 2, 1.0), 4, 6.0},
        {"rotated and flipped 2 x 2", geo(10, 20, 2, 3, 2, 2, 30, true), Grid2(2, 2, 1.0), 4, 6.0},
        {"3 x 3 without one corner", geo(0, 0, 1, 1, 3, 3), cols({{1, 1, 1}, {1, kNaN, 1}, {1, 1, kNaN}}), 5, 3.5},
        {"infinite values count as defined", geo(0, 0, 1, 1, 2, 2), cols({{kInf, -kInf}, {1, kInf}}), 4, 1.0},
    };
    for (const Case& c : cases) {
        const Surface s = make_surface(c.g, c.values);
        auto e = s.edge();
        ASSERT_TRUE(e) << c.what;
        ASSERT_EQ(e->size(), 1u) << c.what;
        const auto ring = distinct(e->polygons[0].exterior);
        EXPECT_EQ(ring.size(), c.vertices) << c.what;
        EXPECT_NEAR(e->polygons[0].signed_area(), c.area, 1e-9) << c.what;  // counter-clockwise
        EXPECT_TRUE(e->polygons[0].interiors.empty());
        EXPECT_EQ(e->history.entries(), std::vector<std::string>{"polygons.convex_hull_xy"});
        // Every hull vertex is the world position of a defined node.
        for (const Coord& v : ring) {
            bool found = false;
            for (std::uint64_t i = 0; i < c.g.ncol; ++i)
                for (std::uint64_t j = 0; j < c.g.nrow; ++j) {
                    auto [x, y] = c.g.node_xy(i, j);
                    if (!std::isnan(c.values(i, j)) && std::fabs(x - v.x) < 1e-9 && std::fabs(y - v.y) < 1e-9)
                        found = true;
                }
            EXPECT_TRUE(found) << c.what << ": vertex " << v.x << "," << v.y;
        }
    }
    // The corners of the full 2 x 2 lattice are exactly the hull.
    const GridGeometry g = geo(10, 20, 2, 3, 2, 2);
    auto e = make_surface(g, Grid2(2, 2, 0.0)).edge();
    ASSERT_TRUE(e);
    const auto ring = distinct(e->polygons[0].exterior);
    for (auto [i, j] : {std::pair{0, 0}, {1, 0}, {0, 1}, {1, 1}}) {
        auto [x, y] = g.node_xy(i, j);
        EXPECT_TRUE(contains_near(ring, x, y)) << i << "," << j;
    }
}

TEST(SurfaceEdge, AbsentForTooFewOrCollinearNodes) {
    struct Case {
        const char* what;
        GridGeometry g;
        Grid2 values;
    };
    const Case cases[] = {
        {"two defined nodes", geo(0, 0, 1, 1, 2, 2), cols({{1, kNaN}, {kNaN, 2}})},
        {"nothing defined", geo(0, 0, 1, 1, 2, 2), Grid2(2, 2, kNaN)},
        {"one row", geo(0, 0, 1, 1, 5, 1), Grid2(5, 1, 1.0)},
        {"no nodes", geo(0, 0, 1, 1, 0, 0), Grid2(0, 0)},
        {"zero increments", geo(0, 0, 0, 0, 3, 3), Grid2(3, 3, 1.0)},
        // Non-finite positions take no part instead of confusing the hull.
        {"NaN origin", geo(kNaN, 0, 1, 1, 3, 3), Grid2(3, 3, 1.0)},
        {"infinite increment", geo(0, 0, kInf, 1, 3, 3), Grid2(3, 3, 1.0)},
    };
    for (const Case& c : cases) EXPECT_FALSE(make_surface(c.g, c.values).edge()) << c.what;
}

}  // namespace
}  // namespace vz
