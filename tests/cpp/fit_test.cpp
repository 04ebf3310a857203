// Lattice fits (bare XY and indexed), outlines of node lattices by edge mode,
// column/row attributes to indexed points and structured surfaces, and the
// geometry inference of point sets.

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <limits>
#include <numbers>
#include <optional>
#include <random>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include <filesystem>

#include "core/points.hpp"
#include "core/polygons.hpp"
#include "core/shell/edges.hpp"
#include "core/shell/fit.hpp"
#include "core/shell/infer.hpp"
#include "foundation/error.hpp"
#include "io/earthvision.hpp"

namespace vz {
namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kInf = std::numeric_limits<double>::infinity();
const std::string kPrefix = "geometry inference failed: ";

using P = std::array<double, 3>;

template <class T>
std::string error_text(const Result<T>& r) {
    return r ? std::string("<ok>") : r.error().display();
}

/// Points of an ncol x nrow lattice (xinc, yinc, rotation deg, origin), row
/// by row, skipping the nodes `skip` names; z = i + 100 j.
std::vector<P> lattice(int ncol, int nrow, double xinc, double yinc, double deg, std::array<double, 2> origin,
                       const std::set<std::pair<int, int>>& skip = {}) {
    const double r = deg * std::numbers::pi / 180.0;
    std::vector<P> out;
    for (int j = 0; j < nrow; ++j)
        for (int i = 0; i < ncol; ++i)
            if (!skip.contains({i, j}))
                out.push_back({origin[0] + i * xinc * std::cos(r) - j * yinc * std::sin(r),
                               origin[1] + i * xinc * std::sin(r) + j * yinc * std::cos(r), i + 100.0 * j});
    return out;
}

/// Every point lies on a node of `g` (within 1e-6) and each node is claimed once.
void expect_points_on_nodes(const GridGeometry& g, const std::vector<std::pair<std::int64_t, std::int64_t>>& nodes,
                            const std::vector<P>& pts) {
    ASSERT_EQ(nodes.size(), pts.size());
    std::vector<char> used(pts.size(), 0);
    for (const auto& [c, r] : nodes) {
        const auto [x, y] = g.node_xy(static_cast<std::uint64_t>(c), static_cast<std::uint64_t>(r));
        bool found = false;
        for (std::size_t k = 0; k < pts.size() && !found; ++k) {
            if (!used[k] && std::fabs(pts[k][0] - x) < 1e-6 && std::fabs(pts[k][1] - y) < 1e-6) {
                used[k] = 1;
                found = true;
            }
        }
        EXPECT_TRUE(found) << "node (" << c << ", " << r << ")";
    }
}

// ===========================================================================
// fit::median and fit::axis_spacing

TEST(FitMedian, MiddleOrMeanUnderTotalOrder) {
    struct Case {
        std::vector<double> values;
        std::optional<double> expected;
    };
    const Case cases[] = {
        {{}, std::nullopt},
        {{3}, 3.0},
        {{1, 3}, 2.0},
        {{3, 1, 2}, 2.0},
        {{4, -1, 10, 2}, 3.0},
        {{kNaN, 1, 2}, 2.0},  // NaN sorts after everything
        {{kInf, -kInf, 5}, 5.0},
    };
    for (const Case& c : cases) {
        const auto m = fit::median(c.values);
        ASSERT_EQ(m.has_value(), c.expected.has_value());
        if (m) {
            EXPECT_EQ(*m, *c.expected);
        }
    }
}

TEST(FitRoundToIndex, HalfAwayFromZeroSaturated) {
    constexpr std::int64_t kMax = std::numeric_limits<std::int64_t>::max();
    constexpr std::int64_t kMin = std::numeric_limits<std::int64_t>::min();
    const std::pair<double, std::int64_t> cases[] = {
        {2.5, 3}, {-2.5, -3}, {2.4999999, 2}, {-0.0, 0}, {kNaN, 0}, {1e30, kMax}, {-1e30, kMin},
        {9223372036854775808.0, kMax}, {-9223372036854775808.0, kMin}, {kInf, kMax}, {-kInf, kMin},
        {9007199254740993.0, 9007199254740992},
    };
    for (const auto& [v, expected] : cases) EXPECT_EQ(fit::round_to_index(v), expected) << v;
}

TEST(FitAxisSpacing, MedianOfTheShortAlongAxisSteps) {
    const std::array<double, 2> ex{1.0, 0.0};
    struct Case {
        const char* what;
        std::vector<std::array<double, 2>> diffs;
        double tolerance;
        std::optional<double> expected;
    };
    const std::vector<Case> cases = {
        {"odd count", {{10, 0}, {-10, 0}, {11, 0}}, 0.01, 10.0},
        {"even count averages", {{10, 0}, {12, 0}}, 0.01, 11.0},
        {"beyond 1.5x the shortest dropped", {{10, 0}, {10, 0}, {20, 0}, {30, 0}}, 0.01, 10.0},
        {"across within tolerance kept", {{10, 0.005}, {14, 0}}, 0.01, 12.0},
        {"across beyond tolerance ignored", {{10, 0.5}, {14, 0}}, 0.01, 14.0},
        {"along within tolerance ignored", {{0.005, 0}, {14, 0}}, 0.01, 14.0},
        {"nothing along the axis", {{0, 10}, {0, -10}}, 0.01, std::nullopt},
    };
    for (const Case& c : cases) {
        const auto r = fit::axis_spacing(c.diffs, ex, c.tolerance);
        ASSERT_EQ(r.has_value(), c.expected.has_value()) << c.what;
        if (r) {
            EXPECT_EQ(*r, *c.expected) << c.what;
        } else {
            EXPECT_EQ(r.error().display(), kPrefix + "could not detect regular spacing on both grid axes");
        }
    }
}

// ===========================================================================
// fit::fit_lattice_xy

TEST(FitLatticeXY, FailuresInOrder) {
    const auto good = lattice(6, 5, 25, 50, 0, {0, 0});
    auto displaced = good;
    displaced[7][0] += 0.3;  // node (1, 1), not on the lattice's lower-left edge
    auto doubled = good;
    doubled.push_back(good[9]);
    struct Case {
        const char* what;
        std::vector<P> points;
        double tolerance;
        const char* message;
    };
    const std::vector<Case> cases = {
        {"zero tolerance", good, 0.0, "tolerance must be a finite positive number"},
        {"NaN tolerance", good, kNaN, "tolerance must be a finite positive number"},
        {"infinite tolerance", good, kInf, "tolerance must be a finite positive number"},
        {"three finite points",
         {{0, 0, 0}, {1, 0, 0}, {0, 1, 0}, {kNaN, 0, 0}, {0, kInf, 0}},
         1e-3,
         "at least four finite points are required"},
        {"all at one position", {{5, 5, 0}, {5, 5, 1}, {5, 5, 2}, {5, 5, 3}}, 1e-3,
         "not enough neighbouring points to detect grid axes"},
        {"differences overflow", {{-1.5e308, 0, 0}, {1.5e308, 0, 0}, {0, -1.5e308, 0}, {0, 1.5e308, 0}}, 1e-3,
         "zero-length vector while detecting grid axes"},
        {"points on one line", {{0, 0, 0}, {1, 0, 0}, {2, 0, 0}, {3, 0, 0}, {4, 0, 0}}, 1e-3,
         "could not detect regular spacing on both grid axes"},
        {"displaced point", displaced, 1e-3, "point misses inferred lattice by 0.300000, above tolerance 0.001000"},
        {"two points on one node", doubled, 1e-3, "multiple points map to the same inferred grid node"},
    };
    for (const Case& c : cases) {
        const auto r = fit::fit_lattice_xy(c.points, c.tolerance);
        ASSERT_FALSE(r.has_value()) << c.what;
        EXPECT_EQ(r.error().kind(), ErrorKind::GeometryInference) << c.what;
        EXPECT_EQ(r.error().display(), kPrefix + c.message) << c.what;
    }
}

struct XYCase {
    const char* what;
    int ncol, nrow;
    double xinc, yinc, deg;
    std::set<std::pair<int, int>> skip;
    // Expected geometry.
    double exinc, eyinc, edeg;
    std::uint64_t encol, enrow;
    std::array<double, 2> eorigin;
};

class FitLatticeXYOk : public ::testing::TestWithParam<XYCase> {};

TEST_P(FitLatticeXYOk, RecoversTheLattice) {
    const XYCase& c = GetParam();
    auto pts = lattice(c.ncol, c.nrow, c.xinc, c.yinc, c.deg, {1000.0, 2000.0}, c.skip);
    std::vector<P> with_junk = pts;
    with_junk.insert(with_junk.begin() + 3, P{kNaN, 1.0, 2.0});  // left out before counting
    const auto r = fit::fit_lattice_xy(with_junk, 1e-3);
    ASSERT_TRUE(r.has_value()) << error_text(r);
    const GridGeometry& g = r->geometry;
    EXPECT_NEAR(g.xinc, c.exinc, 1e-9);
    EXPECT_NEAR(g.yinc, c.eyinc, 1e-9);
    EXPECT_NEAR(g.rotation_deg, c.edeg, 1e-9);
    EXPECT_EQ(g.ncol, c.encol);
    EXPECT_EQ(g.nrow, c.enrow);
    EXPECT_FALSE(g.yflip);
    EXPECT_NEAR(g.xori, c.eorigin[0], 1e-6);
    EXPECT_NEAR(g.yori, c.eorigin[1], 1e-6);
    EXPECT_TRUE(std::is_sorted(r->occupied.begin(), r->occupied.end()));
    expect_points_on_nodes(g, r->occupied, pts);

    // Any order of the points gives the same lattice.
    std::mt19937 rng(11);
    std::shuffle(pts.begin(), pts.end(), rng);
    const auto s = fit::fit_lattice_xy(pts, 1e-3);
    ASSERT_TRUE(s.has_value()) << error_text(s);
    EXPECT_NEAR(s->geometry.xinc, g.xinc, 1e-9);
    EXPECT_NEAR(s->geometry.yinc, g.yinc, 1e-9);
    EXPECT_NEAR(s->geometry.rotation_deg, g.rotation_deg, 1e-9);
    EXPECT_NEAR(s->geometry.xori, g.xori, 1e-6);
    EXPECT_NEAR(s->geometry.yori, g.yori, 1e-6);
    EXPECT_EQ(s->geometry.ncol, g.ncol);
    EXPECT_EQ(s->geometry.nrow, g.nrow);
    EXPECT_EQ(s->occupied, r->occupied);
}

const double kCos120 = std::cos(120.0 * std::numbers::pi / 180.0);
const double kSin120 = std::sin(120.0 * std::numbers::pi / 180.0);

INSTANTIATE_TEST_SUITE_P(
    Lattices, FitLatticeXYOk,
    ::testing::Values(
        XYCase{"10x5 rotated 30", 10, 5, 25, 50, 30, {}, 25, 50, 30, 10, 5, {1000, 2000}},
        XYCase{"axis aligned with holes", 8, 6, 10, 20, 0, {{3, 2}, {0, 5}, {7, 0}}, 10, 20, 0, 8, 6, {1000, 2000}},
        // The short axis points at 120 degrees; it is turned to -60 so that it
        // runs towards +x, and the lattice corner moves to the far end.
        XYCase{"short axis at 120", 10, 5, 25, 50, 120, {}, 25, 50, -60, 10, 5,
               {1000 + 9 * 25 * kCos120 - 4 * 50 * kSin120, 2000 + 9 * 25 * kSin120 + 4 * 50 * kCos120}},
        XYCase{"negative rotation", 7, 9, 3, 2, -20, {}, 2, 3, 70, 9, 7,
               {1000 + 6 * 3 * std::cos(-20 * std::numbers::pi / 180), 2000 + 6 * 3 * std::sin(-20 * std::numbers::pi / 180)}}),
    [](const auto& info) { return std::string("case") + std::to_string(info.index); });

// ===========================================================================
// fit::fit_lattice_indexed

std::vector<fit::IndexedNode> indexed_lattice(int ncol, int nrow, std::int64_t c0, std::int64_t r0, double xinc,
                                              double yinc, double deg, std::array<double, 2> origin) {
    const double r = deg * std::numbers::pi / 180.0;
    std::vector<fit::IndexedNode> out;
    for (int j = 0; j < nrow; ++j)
        for (int i = 0; i < ncol; ++i)
            out.push_back({c0 + i, r0 + j, origin[0] + i * xinc * std::cos(r) - j * yinc * std::sin(r),
                           origin[1] + i * xinc * std::sin(r) + j * yinc * std::cos(r)});
    return out;
}

TEST(FitLatticeIndexed, FailuresInOrder) {
    using N = fit::IndexedNode;
    const auto good = indexed_lattice(3, 3, 0, 0, 10, 10, 0, {0, 0});
    constexpr std::int64_t kMax = std::numeric_limits<std::int64_t>::max();
    constexpr std::int64_t kMin = std::numeric_limits<std::int64_t>::min();
    struct Case {
        const char* what;
        std::vector<N> nodes;
        double tolerance;
        std::string message;
    };
    const std::vector<Case> cases = {
        {"negative tolerance", good, -1e-3, "tolerance must be a finite positive number"},
        {"three nodes", {{0, 0, 0, 0}, {1, 0, 1, 0}, {0, 1, 0, 1}}, 1e-3,
         "column/row geometry inference requires at least four indexed points"},
        {"a single row", {{0, 0, 0, 0}, {1, 0, 1, 0}, {2, 0, 2, 0}, {3, 0, 3, 0}}, 1e-3,
         "column/row attributes do not span a two-dimensional grid"},
        {"all nodes at one place", {{0, 0, 5, 5}, {1, 0, 5, 5}, {0, 1, 5, 5}, {1, 1, 5, 5}}, 1e-3,
         "column/row attributes are present, but adjacent indexed nodes are too sparse to infer spacing"},
        {"no adjacent rows", {{0, 0, 0, 0}, {1, 0, 1, 0}, {0, 2, 0, 2}, {1, 2, 1, 2}}, 1e-3,
         "column/row attributes are present, but adjacent indexed nodes are too sparse to infer spacing"},
        // Column steps (1, 0) and (-1, 0): their median is the zero vector.
        {"median column step zero", {{0, 0, 0, 0}, {1, 0, 1, 0}, {0, 1, 0, 1}, {1, 1, -1, 1}}, 1e-3,
         "zero-length vector while detecting grid axes"},
        {"rows along the columns", {{0, 0, 0, 0}, {1, 0, 1, 0}, {0, 1, 2, 0}, {1, 1, 3, 0}}, 1e-3,
         "column/row attributes imply a degenerate row spacing"},
        // Residuals 0, 0.5, 0, 0.5 against the fitted xinc 10.5.
        {"curvilinear",
         {{0, 0, 0, 0}, {1, 0, 10, 0}, {0, 1, 0, 10}, {1, 1, 11, 10}},
         1e-3,
         "column/row nodes miss the inferred regular lattice by a median of 0.250000 (worst 0.500000), above "
         "tolerance 0.001000; the mesh is curvilinear rather than a regular grid — use to_structured_surface, which "
         "carries explicit per-node XY"},
        {"index span of 2^64 nodes", {{kMin, 0, 0, 0}, {kMax, 0, 1, 0}, {0, 1, 0, 1}, {1, 1, 1, 1}}, 1e-3,
         "column/row indices span more lattice nodes than a count can hold"},
    };
    for (const Case& c : cases) {
        const auto r = fit::fit_lattice_indexed(c.nodes, c.tolerance);
        ASSERT_FALSE(r.has_value()) << c.what;
        EXPECT_EQ(r.error().kind(), ErrorKind::GeometryInference) << c.what;
        EXPECT_EQ(r.error().display(), kPrefix + c.message) << c.what;
    }
}

TEST(FitLatticeIndexed, RecoversRotatedFlippedAndOffsetLattices) {
    struct Case {
        const char* what;
        std::vector<fit::IndexedNode> nodes;
        GridGeometry expected;
    };
    // Rows running against the left-hand normal of the columns: y-flip.
    std::vector<fit::IndexedNode> flipped;
    for (int j = 0; j < 4; ++j)
        for (int i = 0; i < 5; ++i) flipped.push_back({i, j, 100.0 + 10.0 * i, 50.0 - 20.0 * j});
    const std::vector<Case> cases = {
        {"rotated 30, indices from 5 and -3", indexed_lattice(6, 4, 5, -3, 25, 40, 30, {700, 900}),
         GridGeometry{700, 900, 25, 40, 6, 4, 30, false}},
        {"y-flip", flipped, GridGeometry{100, 50, 10, 20, 5, 4, 0, true}},
        {"rotated -135", indexed_lattice(4, 5, 0, 0, 3, 2, -135, {0, 0}), GridGeometry{0, 0, 3, 2, 4, 5, -135, false}},
    };
    for (const Case& c : cases) {
        const auto r = fit::fit_lattice_indexed(c.nodes, 1e-3);
        ASSERT_TRUE(r.has_value()) << c.what << ": " << error_text(r);
        EXPECT_NEAR(r->xori, c.expected.xori, 1e-9) << c.what;
        EXPECT_NEAR(r->yori, c.expected.yori, 1e-9) << c.what;
        EXPECT_NEAR(r->xinc, c.expected.xinc, 1e-9) << c.what;
        EXPECT_NEAR(r->yinc, c.expected.yinc, 1e-9) << c.what;
        EXPECT_EQ(r->ncol, c.expected.ncol) << c.what;
        EXPECT_EQ(r->nrow, c.expected.nrow) << c.what;
        EXPECT_NEAR(r->rotation_deg, c.expected.rotation_deg, 1e-9) << c.what;
        EXPECT_EQ(r->yflip, c.expected.yflip) << c.what;
    }
}

TEST(FitLatticeIndexed, MedianResidualDecidesNotTheWorst) {
    auto nodes = indexed_lattice(5, 5, 0, 0, 10, 10, 0, {0, 0});
    nodes[12].x += 0.4;  // the centre node misses by 0.4
    const auto r = fit::fit_lattice_indexed(nodes, 1e-3);
    ASSERT_TRUE(r.has_value()) << error_text(r);
    EXPECT_EQ(r->ncol, 5u);
    EXPECT_NEAR(r->xinc, 10.0, 1e-12);

    // A repeated (column, row) counts for every median, its later position
    // for the steps: given first, the stray copy leaves the steps exact and
    // only adds one outlying residual.
    std::vector<fit::IndexedNode> repeated = {
        {1, 1, 12, 10}, {0, 0, 0, 0}, {1, 0, 10, 0}, {0, 1, 0, 10}, {1, 1, 10, 10}};
    const auto q = fit::fit_lattice_indexed(repeated, 1e-3);
    ASSERT_TRUE(q.has_value()) << error_text(q);
    EXPECT_EQ(q->xinc, 10.0);
    EXPECT_EQ(q->yinc, 10.0);
    // Given last, it sets the steps: xinc 11 and three nodes a unit off.
    std::rotate(repeated.begin(), repeated.begin() + 1, repeated.end());
    EXPECT_EQ(error_text(fit::fit_lattice_indexed(repeated, 1e-3)),
              kPrefix + "column/row nodes miss the inferred regular lattice by a median of 1.000000 (worst 1.000000), "
                        "above tolerance 0.001000; the mesh is curvilinear rather than a regular grid — use "
                        "to_structured_surface, which carries explicit per-node XY");
}

// ===========================================================================
// Outlines of node lattices

/// Node arrays of an ncol x nrow lattice whose world position is its index
/// (x = i, y = j); `absent` nodes are NaN.
std::pair<Grid2, Grid2> index_space(std::size_t ncol, std::size_t nrow,
                                    const std::set<std::pair<std::size_t, std::size_t>>& absent = {}) {
    Grid2 x(ncol, nrow), y(ncol, nrow);
    for (std::size_t i = 0; i < ncol; ++i)
        for (std::size_t j = 0; j < nrow; ++j) {
            const bool gone = absent.contains({i, j});
            x(i, j) = gone ? kNaN : static_cast<double>(i);
            y(i, j) = gone ? kNaN : static_cast<double>(j);
        }
    return {x, y};
}

using Side = std::pair<std::pair<double, double>, std::pair<double, double>>;

/// The directed sides of every ring of an outline.
std::multiset<Side> sides_of(const PolygonSet& set) {
    std::multiset<Side> out;
    for (const Polygon& p : set.polygons)
        for (std::size_t k = 0; k + 1 < p.exterior.size(); ++k)
            out.insert({{p.exterior[k].x, p.exterior[k].y}, {p.exterior[k + 1].x, p.exterior[k + 1].y}});
    return out;
}

double ring_signed_area(const Polygon& p) { return ring_area(p.exterior); }

TEST(StructuredEdge, OccupiedOutlines) {
    // Full 3 x 3: one counter-clockwise ring of the 8 border nodes.
    {
        const auto [x, y] = index_space(3, 3);
        const auto e = points::occupied_edge(x, y, nullptr);
        ASSERT_TRUE(e.has_value()) << error_text(e);
        ASSERT_EQ(e->size(), 1u);
        EXPECT_EQ(e->polygons[0].exterior.size(), 9u);
        EXPECT_EQ(e->polygons[0].exterior.front(), e->polygons[0].exterior.back());
        EXPECT_DOUBLE_EQ(ring_signed_area(e->polygons[0]), 4.0);
        EXPECT_EQ(e->history.entries(), std::vector<std::string>{"polygons.from_rings"});
    }
    // 4 x 4 without node (1, 1): the L of five cells, one ring, since the gap
    // reaches the border.
    {
        const auto [x, y] = index_space(4, 4, {{1, 1}});
        const auto e = points::occupied_edge(x, y, nullptr);
        ASSERT_TRUE(e.has_value()) << error_text(e);
        ASSERT_EQ(e->size(), 1u);
        EXPECT_DOUBLE_EQ(ring_signed_area(e->polygons[0]), 5.0);
    }
    // 5 x 5 with a value array NaN at the centre: the outer ring (16 nodes,
    // counter-clockwise) and the ring of 8 around the gap (clockwise).
    {
        const auto [x, y] = index_space(5, 5);
        Grid2 v(5, 5, 1.0);
        v(2, 2) = kNaN;
        const auto e = points::occupied_edge(x, y, &v);
        ASSERT_TRUE(e.has_value()) << error_text(e);
        ASSERT_EQ(e->size(), 2u);
        std::vector<std::pair<std::size_t, double>> rings;
        for (const Polygon& p : e->polygons) rings.emplace_back(p.exterior.size() - 1, ring_signed_area(p));
        std::sort(rings.begin(), rings.end());
        EXPECT_EQ(rings[0], (std::pair<std::size_t, double>{8, -4.0}));
        EXPECT_EQ(rings[1], (std::pair<std::size_t, double>{16, 16.0}));
    }
    // Two cells touching at one corner: all 8 boundary sides traced once, in
    // their own (counter-clockwise) direction.
    {
        const auto [x, y] = index_space(3, 3, {{2, 0}, {0, 2}});
        const auto e = points::occupied_edge(x, y, nullptr);
        ASSERT_TRUE(e.has_value()) << error_text(e);
        const std::multiset<Side> expected = {
            {{0, 0}, {1, 0}}, {{1, 0}, {1, 1}}, {{1, 1}, {0, 1}}, {{0, 1}, {0, 0}},
            {{1, 1}, {2, 1}}, {{2, 1}, {2, 2}}, {{2, 2}, {1, 2}}, {{1, 2}, {1, 1}},
        };
        EXPECT_EQ(sides_of(*e), expected);
        // Tracing starts at the first node that got a side, (0, 0); at the
        // shared corner the side added last, towards (2, 1), is taken first,
        // so one ring passes through the corner twice.
        ASSERT_EQ(e->size(), 1u);
        EXPECT_EQ(e->polygons[0].exterior.size(), 9u);
    }
}

TEST(StructuredEdge, PerimeterStartsAtTheOriginNode) {
    const auto [x, y] = index_space(3, 3);
    const auto e = points::perimeter_edge(x, y);
    ASSERT_TRUE(e.has_value()) << error_text(e);
    const std::vector<Coord> expected = {{0, 0}, {1, 0}, {2, 0}, {2, 1}, {2, 2}, {1, 2}, {0, 2}, {0, 1}, {0, 0}};
    EXPECT_EQ(e->polygons.at(0).exterior, expected);

    // Interior gaps do not matter to the perimeter.
    const auto [x2, y2] = index_space(4, 3, {{1, 1}});
    const auto e2 = points::perimeter_edge(x2, y2);
    ASSERT_TRUE(e2.has_value());
    EXPECT_EQ(e2->polygons.at(0).exterior.size(), 11u);
}

TEST(StructuredEdge, FailuresByStep) {
    const auto [x13, y13] = index_space(1, 3);
    const auto [x33, y33] = index_space(3, 3);
    const auto [xh, yh] = index_space(3, 3, {{1, 0}});
    const auto [xd, yd] = index_space(3, 3, {{1, 1}});  // no occupied cell at all
    Grid2 wrong(2, 3, 1.0);
    Grid2 line_x(2, 2), line_y(2, 2, 0.0);
    for (std::size_t i = 0; i < 2; ++i)
        for (std::size_t j = 0; j < 2; ++j) line_x(i, j) = double(2 * i + j);
    struct Case {
        const char* what;
        Result<PolygonSet> got;
        const char* message;
    };
    const Case cases[] = {
        {"occupied 1x3", points::occupied_edge(x13, y13, nullptr), "occupied edge requires at least 2x2 nodes"},
        {"occupied value shape", points::occupied_edge(x33, y33, &wrong),
         "occupied edge value array does not match node geometry"},
        {"occupied without cells", points::occupied_edge(xd, yd, nullptr),
         "occupied edge has no complete occupied cells"},
        {"perimeter 1x3", points::perimeter_edge(x13, y13),
         "structured surface perimeter edge requires at least 2x2 nodes"},
        {"perimeter hole on the border", points::perimeter_edge(xh, yh),
         "structured surface perimeter edge has missing boundary nodes"},
        {"hull of a line", points::convex_hull_edge(line_x, line_y),
         "structured surface edge requires at least three non-collinear nodes"},
        // 1 x n nodes on a line: occupied and perimeter fail, the hull too.
        {"occupied mode falls back to the hull", points::structured_edge(x13, y13, nullptr, std::nullopt, EdgeMode::Occupied),
         "structured surface edge requires at least three non-collinear nodes"},
        {"full rect without nominal", points::structured_edge(x33, y33, nullptr, std::nullopt, EdgeMode::FullRect),
         "full_rect edge requires a nominal regular geometry; this mesh is curvilinear — use the occupied edge"},
    };
    for (const Case& c : cases) {
        ASSERT_FALSE(c.got.has_value()) << c.what;
        EXPECT_EQ(c.got.error().kind(), ErrorKind::GeometryInference) << c.what;
        EXPECT_EQ(c.got.error().display(), kPrefix + c.message) << c.what;
    }
}

TEST(StructuredEdge, ModesAndFallbacks) {
    // Node (1, 1) of 3 x 3 absent: no occupied cell, the perimeter holds.
    const auto [xd, yd] = index_space(3, 3, {{1, 1}});
    const auto occ = points::structured_edge(xd, yd, nullptr, std::nullopt, EdgeMode::Occupied);
    ASSERT_TRUE(occ.has_value());
    EXPECT_EQ(occ->polygons.at(0).exterior.size(), 9u);
    EXPECT_EQ(occ->polygons.at(0).exterior.front(), (Coord{0, 0}));

    // Border node missing too: the hull is the last resort.
    const auto [xb, yb] = index_space(3, 3, {{1, 1}, {1, 0}});
    const auto hull = points::structured_edge(xb, yb, nullptr, std::nullopt, EdgeMode::Occupied);
    ASSERT_TRUE(hull.has_value());
    EXPECT_EQ(hull->history.entries(), std::vector<std::string>{"polygons.convex_hull_xy"});
    const auto hull2 = points::structured_edge(xb, yb, nullptr, std::nullopt, EdgeMode::ConvexHull);
    ASSERT_TRUE(hull2.has_value());
    EXPECT_EQ(*hull2, *hull);

    // FullRect: the nominal footprint whatever the nodes hold.
    const GridGeometry g{10, 20, 5, 5, 4, 3, 0, false};
    const auto rect = points::structured_edge(xb, yb, nullptr, g, EdgeMode::FullRect);
    ASSERT_TRUE(rect.has_value());
    EXPECT_EQ(*rect, PolygonSet::from_grid_geometry(g));
    EXPECT_STREQ(edge_mode_name(EdgeMode::Occupied), "Occupied");
    EXPECT_STREQ(edge_mode_name(EdgeMode::ConvexHull), "ConvexHull");
    EXPECT_STREQ(edge_mode_name(EdgeMode::FullRect), "FullRect");
}

// ===========================================================================
// Column/row attributes

PointSet with_columns(std::vector<P> pts, std::vector<double> col, std::vector<double> row,
                      const char* cname = "column", const char* rname = "row") {
    PointSet s = PointSet::from_coords(std::move(pts));
    EXPECT_TRUE(s.set_attr(cname, std::move(col)).has_value());
    EXPECT_TRUE(s.set_attr(rname, std::move(row)).has_value());
    return s;
}

TEST(TopologyIndices, ReadsRoundsAndRefuses) {
    const std::vector<P> four = {{0, 0, 1}, {1, 0, 2}, {0, 1, 3}, {1, 1, 4}};
    struct Case {
        const char* what;
        std::vector<P> pts;
        std::vector<double> col, row;
        std::vector<std::pair<std::int64_t, std::int64_t>> expected;  // when message is null
        const char* message;
    };
    const std::vector<Case> cases = {
        {"near-integers accepted", four, {1.0000004, 2, 1, 2}, {5, 5, 6, 6}, {{1, 5}, {2, 5}, {1, 6}, {2, 6}}, nullptr},
        {"half away from zero", four, {-2.0000001, 2, 1, 2}, {5, 5, 6, 6}, {{-2, 5}, {2, 5}, {1, 6}, {2, 6}}, nullptr},
        {"NaN row skips the point", four, {1, 2, 1, 2}, {5, kNaN, 6, 6}, {{1, 5}, {1, 6}, {2, 6}}, nullptr},
        {"NaN x skipped before its attributes", {{kNaN, 0, 1}, {1, 0, 2}, {0, 1, 3}, {1, 1, 4}}, {1.5, 2, 1, 2},
         {kInf, 5, 6, 6}, {{2, 5}, {1, 6}, {2, 6}}, nullptr},
        {"fractional column", four, {1.5, 2, 1, 2}, {5, 5, 6, 6}, {}, "column attribute contains non-integer grid indices"},
        {"infinite row", four, {1, 2, 1, 2}, {5, -kInf, 6, 6}, {}, "row attribute contains a non-finite value"},
        {"infinite column", four, {kInf, 2, 1, 2}, {5, 5, 6, 6}, {}, "column attribute contains a non-finite value"},
        {"huge values saturate", four, {1e30, 2, 1, 2}, {-1e30, 5, 6, 6},
         {{std::numeric_limits<std::int64_t>::max(), std::numeric_limits<std::int64_t>::min()}, {2, 5}, {1, 6}, {2, 6}},
         nullptr},
    };
    for (const Case& c : cases) {
        const PointSet s = with_columns(c.pts, c.col, c.row);
        const auto r = points::topology_indices(s.points, s.attributes);
        if (c.message) {
            ASSERT_FALSE(r.has_value()) << c.what;
            EXPECT_EQ(r.error().display(), kPrefix + c.message) << c.what;
            continue;
        }
        ASSERT_TRUE(r.has_value()) << c.what << ": " << error_text(r);
        std::vector<std::pair<std::int64_t, std::int64_t>> got;
        for (const auto& p : *r) got.emplace_back(p.column, p.row);
        EXPECT_EQ(got, c.expected) << c.what;
    }

    // Attribute lookup: normalised names, missing attributes, wrong lengths.
    const PointSet named = with_columns(four, {0, 1, 0, 1}, {0, 0, 1, 1}, " COL ", "Row");
    const auto r = points::topology_indices(named.points, named.attributes);
    ASSERT_TRUE(r.has_value());
    EXPECT_EQ(r->at(3), (points::IndexedPoint{1, 1, 1, 1, 4}));
    PointSet no_row = PointSet::from_coords(four);
    ASSERT_TRUE(no_row.set_attr("column", {0, 1, 0, 1}).has_value());
    ASSERT_TRUE(no_row.set_attr("i", {0, 1, 0, 1}).has_value());
    EXPECT_EQ(error_text(points::topology_indices(no_row.points, no_row.attributes)),
              kPrefix + "structured surface conversion requires column/row topology attributes");
    AttributeColumns short_cols;
    short_cols.insert({"column", {0, 1, 0}});
    short_cols.insert({"row", {0, 0, 1, 1}});
    EXPECT_EQ(error_text(points::topology_indices(four, short_cols)),
              kPrefix + "column/row attributes must match point count");
    EXPECT_EQ(error_text(points::grid_from_topology(four, short_cols, 1e-3)),
              kPrefix + "column/row attributes must match point count");
    const auto absent = points::grid_from_topology(no_row.points, no_row.attributes, 1e-3);
    ASSERT_TRUE(absent.has_value());
    EXPECT_FALSE(absent->has_value());
    EXPECT_EQ(error_text(points::grid_from_topology(no_row.points, no_row.attributes, 0.0)),
              kPrefix + "tolerance must be a finite positive number");
}

// ===========================================================================
// Points to structured surface

TEST(ToStructuredSurface, PlacesPointsOnTheirNodes) {
    PointSet s = with_columns({{10, 20, 1}, {11, 20, 2}, {10, 21, 3}, {11, 21, 4}}, {1, 2, 1, 2}, {5, 5, 6, 6});
    ASSERT_TRUE(s.set_attr("phi", {0.1, 0.2, 0.3, 0.4}).has_value());
    const auto r = points::to_structured_surface(s, 1e-3, EdgeMode::Occupied);
    ASSERT_TRUE(r.has_value()) << error_text(r);
    EXPECT_EQ(r->ncol(), 2u);
    EXPECT_EQ(r->nrow(), 2u);
    EXPECT_EQ(r->shell->x()(0, 0), 10.0);
    EXPECT_EQ(r->shell->y()(0, 0), 20.0);
    EXPECT_EQ(r->values(0, 0), 1.0);
    EXPECT_EQ(r->values(1, 1), 4.0);
    EXPECT_TRUE(r->attributes.empty());  // no column is carried, column and row included
    ASSERT_TRUE(r->shell->nominal().has_value());
    EXPECT_NEAR(r->shell->nominal()->xinc, 1.0, 1e-12);
    EXPECT_EQ(r->history.entries(),
              (std::vector<std::string>{"points.from_coords", "points.set_attr(name=column)", "points.set_attr(name=row)",
                                        "points.set_attr(name=phi)", "points.to_structured_surface(edge=Occupied)"}));

    PointSet five = with_columns({{10, 20, 1}, {11, 20, 2}, {10, 21, 3}, {11, 21, 4}, {12, 22, 5}}, {1, 2, 1, 2, 2},
                                 {5, 5, 6, 6, 6});
    EXPECT_EQ(error_text(points::to_structured_surface(five, 1e-3, EdgeMode::Occupied)),
              kPrefix + "multiple points map to structured node column=2, row=6");
}

TEST(ToStructuredSurface, EdgeModesNominalAndFailures) {
    // A curved 4 x 3 lattice: no nominal geometry, so FullRect fails.
    std::vector<P> pts;
    std::vector<double> col, row;
    for (int j = 0; j < 3; ++j)
        for (int i = 0; i < 4; ++i) {
            pts.push_back({10.0 * i, 10.0 * j + 0.5 * i * i, double(i + j)});
            col.push_back(i);
            row.push_back(j);
        }
    const PointSet curved = with_columns(pts, col, row);
    struct Case {
        const char* what;
        const PointSet* set;
        double tolerance;
        EdgeMode mode;
        const char* message;  // nullptr: success
        const char* entry;
    };
    const PointSet regular = with_columns({{0, 0, 1}, {5, 0, 1}, {0, 5, 1}, {5, 5, 1}}, {0, 1, 0, 1}, {0, 0, 1, 1});
    const PointSet three = with_columns({{0, 0, 1}, {5, 0, 1}, {0, 5, 1}, {kNaN, 5, 1}}, {0, 1, 0, 1}, {0, 0, 1, 1});
    const PointSet one_row = with_columns({{0, 0, 1}, {5, 0, 1}, {10, 0, 1}, {15, 0, 1}}, {0, 1, 2, 3}, {0, 0, 0, 0});
    const PointSet far = with_columns({{0, 0, 1}, {5, 0, 1}, {0, 5, 1}, {5, 5, 1}}, {0, 1, 0, 1e12}, {0, 0, 1, 1});
    const Case cases[] = {
        {"curved, occupied", &curved, 1e-3, EdgeMode::Occupied, nullptr, "points.to_structured_surface(edge=Occupied)"},
        {"curved, hull", &curved, 1e-3, EdgeMode::ConvexHull, nullptr, "points.to_structured_surface(edge=ConvexHull)"},
        {"curved, full rect", &curved, 1e-3, EdgeMode::FullRect,
         "full_rect edge requires a nominal regular geometry; this mesh is curvilinear — use the occupied edge", nullptr},
        {"regular, full rect", &regular, 1e-3, EdgeMode::FullRect, nullptr, "points.to_structured_surface(edge=FullRect)"},
        {"zero tolerance converts without nominal", &regular, 0.0, EdgeMode::Occupied, nullptr,
         "points.to_structured_surface(edge=Occupied)"},
        {"zero tolerance and full rect", &regular, 0.0, EdgeMode::FullRect,
         "full_rect edge requires a nominal regular geometry; this mesh is curvilinear — use the occupied edge", nullptr},
        {"three indexed points", &three, 1e-3, EdgeMode::Occupied,
         "structured surface conversion requires at least four indexed points", nullptr},
        {"one row", &one_row, 1e-3, EdgeMode::Occupied,
         "column/row attributes do not span a two-dimensional structured surface", nullptr},
        {"index span beyond the node budget", &far, 1e-3, EdgeMode::Occupied,
         "lattice of 1000000000001 x 2 nodes exceeds the 33554432 nodes allowed for 4 points",
         nullptr},
    };
    for (const Case& c : cases) {
        const auto r = points::to_structured_surface(*c.set, c.tolerance, c.mode);
        if (c.message) {
            ASSERT_FALSE(r.has_value()) << c.what;
            EXPECT_EQ(r.error().kind(), ErrorKind::GeometryInference) << c.what;
            EXPECT_EQ(r.error().display(), kPrefix + c.message) << c.what;
            continue;
        }
        ASSERT_TRUE(r.has_value()) << c.what << ": " << error_text(r);
        EXPECT_EQ(r->history.entries().back(), c.entry) << c.what;
        EXPECT_EQ(r->shell->nominal().has_value(), c.set == &regular && c.tolerance > 0) << c.what;
    }
}

// ===========================================================================
// Geometry inference

TEST(InferGeometry, BarePathOutlines) {
    const auto pts = lattice(10, 8, 20, 30, 25, {500, 600});
    const PointSet full = PointSet::from_coords(pts);
    const auto rect = points::infer_geometry(full, 1e-3, EdgeMode::FullRect);
    ASSERT_TRUE(rect.has_value()) << error_text(rect);
    const GridGeometry& g = rect->first;
    EXPECT_EQ(g.ncol, 10u);
    EXPECT_EQ(g.nrow, 8u);
    EXPECT_NEAR(g.rotation_deg, 25, 1e-9);
    EXPECT_EQ(rect->second, PolygonSet::from_grid_geometry(g));
    const auto grid_only = points::infer_grid_geometry(full, 1e-3);
    ASSERT_TRUE(grid_only.has_value());
    EXPECT_EQ(*grid_only, g);

    // Occupied, every node present: one ring round the 9 x 7 cells through
    // the lattice's own node positions.
    const auto occ = points::infer_geometry(full, 1e-3, EdgeMode::Occupied);
    ASSERT_TRUE(occ.has_value()) << error_text(occ);
    ASSERT_EQ(occ->second.size(), 1u);
    const auto& ring = occ->second.polygons[0].exterior;
    EXPECT_EQ(ring.size(), 2u * 9 + 2u * 7 + 1);
    for (const Coord& v : ring) {
        const auto ij = g.xy_to_ij(v.x, v.y);
        ASSERT_TRUE(ij.has_value());
        const auto [x, y] = g.node_xy(static_cast<std::uint64_t>(std::llround(ij->first)),
                                      static_cast<std::uint64_t>(std::llround(ij->second)));
        EXPECT_EQ(v.x, x);
        EXPECT_EQ(v.y, y);
    }
    EXPECT_NEAR(std::fabs(occ->second.total_area()), 9 * 20 * 7 * 30, 1e-6);

    // Node (4, 3) removed: the outer ring and a clockwise ring of 8 nodes.
    const PointSet holed = PointSet::from_coords(lattice(10, 8, 20, 30, 25, {500, 600}, {{4, 3}}));
    const auto h = points::infer_geometry(holed, 1e-3, EdgeMode::Occupied);
    ASSERT_TRUE(h.has_value()) << error_text(h);
    ASSERT_EQ(h->second.size(), 2u);
    std::vector<std::size_t> sizes;
    for (const Polygon& p : h->second.polygons) sizes.push_back(p.exterior.size() - 1);
    std::sort(sizes.begin(), sizes.end());
    EXPECT_EQ(sizes, (std::vector<std::size_t>{8, 32}));

    // Convex hull of the points themselves.
    const auto hull = points::infer_geometry(full, 1e-3, EdgeMode::ConvexHull);
    ASSERT_TRUE(hull.has_value());
    EXPECT_EQ(hull->second.history.entries(), std::vector<std::string>{"polygons.convex_hull_xy"});
    EXPECT_NEAR(hull->second.total_area(), 9 * 20 * 7 * 30, 1e-6);
}

TEST(InferGeometry, ColumnRowPath) {
    // Attributes present: the indexed fit, even where the bare fit would fail
    // (two points share one XY but carry different indices).
    std::vector<P> pts;
    std::vector<double> col, row;
    for (int j = 0; j < 4; ++j)
        for (int i = 0; i < 5; ++i) {
            pts.push_back({100.0 + 10 * i, 200.0 + 10 * j, 0});
            col.push_back(i + 1);
            row.push_back(j + 1);
        }
    const PointSet s = with_columns(pts, col, row);
    const auto occ = points::infer_geometry(s, 1e-3, EdgeMode::Occupied);
    ASSERT_TRUE(occ.has_value()) << error_text(occ);
    EXPECT_EQ(occ->first, (GridGeometry{100, 200, 10, 10, 5, 4, 0, false}));
    ASSERT_EQ(occ->second.size(), 1u);
    EXPECT_DOUBLE_EQ(occ->second.total_area(), 40 * 30);
}

TEST(InferGeometry, FailuresAndDiagnosis) {
    const std::string suffix =
        "; duplicate XY nodes were found and no column/row topology attributes are available. Petrel surface point "
        "exports can lose grid topology in plain IRAP-points form; an EarthVisionGrid export (or a point file "
        "carrying column/row) restores it. Note that topology alone does not make a mesh regular — if the "
        "recovered mesh is curvilinear it has no GridGeometry at all, and to_structured_surface is the exact "
        "representation";
    auto base = lattice(5, 4, 10, 10, 0, {0, 0});
    std::vector<P> twice = base;
    twice.insert(twice.end(), base.begin(), base.end());
    std::vector<double> idx(twice.size(), 1.0);

    PointSet column_only = PointSet::from_coords(twice);
    ASSERT_TRUE(column_only.set_attr("col", idx).has_value());
    // Curvilinear nodes with column/row: the indexed fit's message (residuals
    // 0, 0.5, 0, 0.5 against xinc 10.5), no bare fit.
    const PointSet curved = with_columns({{0, 0, 0}, {10, 0, 0}, {0, 10, 0}, {11, 10, 0}}, {0, 1, 0, 1}, {0, 0, 1, 1});
    // Two points at column 3, row 4 on the column/row path.
    const PointSet dup_indexed = with_columns({{0, 0, 0}, {10, 0, 0}, {0, 10, 0}, {10, 10, 0}, {10.0002, 10, 0}},
                                              {2, 3, 2, 3, 3}, {3, 3, 4, 4, 4});

    const std::vector<P> far_pts = {{0, 0, 0}, {1, 0, 0}, {0, 1, 0}, {1, 1, 0}, {1e8, 0, 0}};
    const PointSet far_apart = PointSet::from_coords(far_pts);
    const PointSet far_indexed = with_columns(far_pts, {0, 1, 0, 1, 1e8}, {0, 0, 1, 1, 0});
    const auto far_rect = points::infer_geometry(far_apart, 1e-3, EdgeMode::FullRect);
    ASSERT_TRUE(far_rect.has_value()) << error_text(far_rect);
    EXPECT_EQ(far_rect->first.ncol, 100000001u);
    struct Case {
        const char* what;
        PointSet set;
        double tolerance;
        EdgeMode mode;
        std::string message;
    };
    const std::vector<Case> cases = {
        {"every point twice, no attributes", PointSet::from_coords(twice), 1e-3, EdgeMode::FullRect,
         "multiple points map to the same inferred grid node" + suffix},
        {"every point twice, column attribute only", column_only, 1e-3, EdgeMode::FullRect,
         "multiple points map to the same inferred grid node"},
        {"same key: 0.0001 and 0.0004", PointSet::from_coords({{0.0001, 0, 0}, {0.0004, 0, 0}}), 1e-3,
         EdgeMode::FullRect, "at least four finite points are required" + suffix},
        {"different keys: 0.0004 and 0.0006", PointSet::from_coords({{0.0004, 0, 0}, {0.0006, 0, 0}}), 1e-3,
         EdgeMode::FullRect, "at least four finite points are required"},
        {"invalid tolerance", PointSet::from_coords(base), kNaN, EdgeMode::FullRect,
         "tolerance must be a finite positive number"},
        {"curvilinear column/row", curved, 1e-3, EdgeMode::Occupied,
         "column/row nodes miss the inferred regular lattice by a median of 0.250000 (worst 0.500000), above "
         "tolerance 0.001000; the mesh is curvilinear rather than a regular grid — use to_structured_surface, which "
         "carries explicit per-node XY"},
        {"duplicate topology node", dup_indexed, 1e-2, EdgeMode::Occupied,
         "multiple points map to topology node column=3, row=4"},
        // The lattice itself is fine, but the outline arrays would be huge.
        {"occupied outline beyond the node budget", far_apart, 1e-3, EdgeMode::Occupied,
         "lattice of 100000001 x 2 nodes exceeds the 33554432 nodes allowed for 5 points"},
        {"indexed outline beyond the node budget", far_indexed, 1e-3, EdgeMode::Occupied,
         "lattice of 100000001 x 2 nodes exceeds the 33554432 nodes allowed for 5 points"},
    };
    for (const Case& c : cases) {
        const auto r = points::infer_geometry(c.set, c.tolerance, c.mode);
        ASSERT_FALSE(r.has_value()) << c.what;
        EXPECT_EQ(r.error().kind(), ErrorKind::GeometryInference) << c.what;
        EXPECT_EQ(r.error().display(), kPrefix + c.message) << c.what;
    }
}

// ===========================================================================
// A real curvilinear mesh with column/row fields (an EarthVision export)

TEST(RealCurvilinearMesh, ConvertsExactlyButHasNoRegularLattice) {
    std::filesystem::path path;
#ifdef VZ_SHARED_DATA_DIR
    path = std::filesystem::path(VZ_SHARED_DATA_DIR) / "earthvision/resinsight_norne_test.ptl";
#endif
    if (path.empty() || !std::filesystem::exists(path)) GTEST_SKIP() << "shared sample data not available";
    const auto columns = earthvision::read_points(path);
    ASSERT_TRUE(columns.has_value()) << columns.error().display();
    const auto set = PointSet::from_columns(columns->points, columns->attributes);
    ASSERT_TRUE(set.has_value());
    const auto col = *set->attr(*points::column_attr_name(set->attributes));
    const auto row = *set->attr(*points::row_attr_name(set->attributes));
    const auto [cmin, cmax] = std::minmax_element(col.begin(), col.end());
    const auto [rmin, rmax] = std::minmax_element(row.begin(), row.end());

    const auto s = points::to_structured_surface(*set, 1e-3, EdgeMode::Occupied);
    ASSERT_TRUE(s.has_value()) << error_text(s);
    ASSERT_EQ(s->ncol(), static_cast<std::size_t>(*cmax - *cmin + 1));
    ASSERT_EQ(s->nrow(), static_cast<std::size_t>(*rmax - *rmin + 1));
    EXPECT_FALSE(s->shell->nominal().has_value());
    for (std::size_t k = 0; k < set->size(); ++k) {
        const auto i = static_cast<std::size_t>(col[k] - *cmin);
        const auto j = static_cast<std::size_t>(row[k] - *rmin);
        EXPECT_EQ(s->shell->x()(i, j), set->points[k][0]);
        EXPECT_EQ(s->shell->y()(i, j), set->points[k][1]);
        EXPECT_EQ(s->values(i, j), set->points[k][2]);
    }
    EXPECT_GE(s->shell->edge().size(), 1u);
    EXPECT_EQ(error_text(points::to_structured_surface(*set, 1e-3, EdgeMode::FullRect)),
              kPrefix + "full_rect edge requires a nominal regular geometry; this mesh is curvilinear — use the "
                        "occupied edge");

    const std::string inferred = error_text(points::infer_geometry(*set, 1e-3, EdgeMode::Occupied));
    EXPECT_TRUE(inferred.starts_with(kPrefix + "column/row nodes miss the inferred regular lattice by a median of "))
        << inferred;
    EXPECT_TRUE(inferred.ends_with("; the mesh is curvilinear rather than a regular grid — use to_structured_surface, "
                                   "which carries explicit per-node XY"))
        << inferred;
}

}  // namespace
}  // namespace vz
