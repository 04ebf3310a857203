#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <limits>
#include <ostream>
#include <random>
#include <string>
#include <vector>

#include "core/geometry/point_grid.hpp"
#include "core/geometry/predicates.hpp"
#include "core/geometry/spatial_index.hpp"

namespace vz::geometry {
namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kInf = std::numeric_limits<double>::infinity();

using Pts = std::vector<std::array<double, 2>>;

// Reference answers by brute force over every finite point, ordered by the
// index's documented rule (squared distance, index).
std::vector<Neighbor> brute_sorted(const Pts& pts, double x, double y) {
    std::vector<Neighbor> all;
    for (std::size_t k = 0; k < pts.size(); ++k) {
        if (!std::isfinite(pts[k][0]) || !std::isfinite(pts[k][1])) continue;
        const double dx = pts[k][0] - x;
        const double dy = pts[k][1] - y;
        all.push_back({k, dx * dx + dy * dy});
    }
    std::sort(all.begin(), all.end(), [](const Neighbor& a, const Neighbor& b) {
        return a.dist2 != b.dist2 ? a.dist2 < b.dist2 : a.index < b.index;
    });
    return all;
}

struct PointCloud {
    std::string name;
    Pts pts;
};

void PrintTo(const PointCloud& c, std::ostream* os) { *os << c.name; }

// Clouds chosen for their ties: lattices put many entries at exactly equal
// distances from lattice nodes and cell centres, duplicates tie at distance 0.
std::vector<PointCloud> clouds() {
    std::vector<PointCloud> out;
    std::mt19937_64 rng(7);
    std::uniform_real_distribution<double> u(-50.0, 50.0);
    {
        Pts p;
        for (int i = 0; i < 600; ++i) p.push_back({u(rng), u(rng)});
        out.push_back({"random", p});
    }
    {
        Pts p;
        for (int j = 0; j < 20; ++j)
            for (int i = 0; i < 25; ++i) p.push_back({i * 2.0, j * 2.0});
        out.push_back({"lattice", p});
    }
    {
        // A lattice listed backwards with every node present three times.
        Pts p;
        for (int rep = 0; rep < 3; ++rep)
            for (int j = 9; j >= 0; --j)
                for (int i = 9; i >= 0; --i) p.push_back({i * 0.5 + 100.0, j * 0.5 - 100.0});
        out.push_back({"duplicated_lattice", p});
    }
    {
        // Points on circles around the origin (equidistant) mixed with NaN and
        // infinite coordinates that the index must leave out.
        Pts p;
        for (int r = 1; r <= 4; ++r) {
            p.push_back({double(r), 0.0});
            p.push_back({0.0, double(r)});
            p.push_back({-double(r), 0.0});
            p.push_back({0.0, -double(r)});
            p.push_back({kNaN, 1.0});
            p.push_back({1.0, kInf});
        }
        p.push_back({0.0, 0.0});
        out.push_back({"rings_with_nonfinite", p});
    }
    return out;
}

std::vector<std::array<double, 2>> queries_for(const Pts& pts) {
    std::vector<std::array<double, 2>> q;
    std::mt19937_64 rng(11);
    std::uniform_real_distribution<double> u(-60.0, 160.0);
    for (int i = 0; i < 25; ++i) q.push_back({u(rng), u(rng) - 100.0});
    for (std::size_t k = 0; k < pts.size(); k += 7) {
        if (!std::isfinite(pts[k][0]) || !std::isfinite(pts[k][1])) continue;
        q.push_back(pts[k]);                                      // at an entry
        q.push_back({pts[k][0] + 0.25, pts[k][1] + 0.25});        // a cell-centre-like spot
        q.push_back({pts[k][0] + 1.0, pts[k][1]});                // midway between lattice nodes
    }
    q.push_back({0.0, 0.0});
    return q;
}

class PointIndexCloud : public ::testing::TestWithParam<PointCloud> {};

TEST_P(PointIndexCloud, NearestQueriesMatchBruteForceOrder) {
    const Pts& pts = GetParam().pts;
    const PointIndex index = PointIndex::bulk_load(pts);
    const std::size_t finite = brute_sorted(pts, 0.0, 0.0).size();
    ASSERT_EQ(index.size(), finite);
    for (const auto& q : queries_for(pts)) {
        const auto want = brute_sorted(pts, q[0], q[1]);
        const auto got1 = index.nearest(q[0], q[1]);
        ASSERT_TRUE(got1.has_value());
        EXPECT_EQ(*got1, want.front());
        for (std::size_t k : {std::size_t{1}, std::size_t{4}, std::size_t{5}, std::size_t{9}, std::size_t{13},
                              std::size_t{64}, finite, finite + 10}) {
            const auto got = index.nearest_k(q[0], q[1], k);
            const std::size_t n = std::min(k, want.size());
            ASSERT_EQ(got.size(), n) << "k=" << k;
            for (std::size_t i = 0; i < n; ++i) {
                ASSERT_EQ(got[i], want[i]) << "k=" << k << " i=" << i << " q=(" << q[0] << "," << q[1] << ")";
            }
        }
    }
}

TEST_P(PointIndexCloud, IterationVisitsInOrderAndStopsEarly) {
    const Pts& pts = GetParam().pts;
    const PointIndex index = PointIndex::bulk_load(pts);
    for (const auto& q : queries_for(pts)) {
        const auto want = brute_sorted(pts, q[0], q[1]);
        for (std::size_t stop_after : {std::size_t{1}, std::size_t{17}, std::size_t{70}, want.size() + 5}) {
            std::vector<Neighbor> seen;
            index.for_each_nearest(q[0], q[1], [&](const Neighbor& nb) {
                seen.push_back(nb);
                return seen.size() < stop_after;
            });
            const std::size_t n = std::min(stop_after, want.size());
            ASSERT_EQ(seen.size(), n);
            EXPECT_TRUE(std::equal(seen.begin(), seen.end(), want.begin()));
        }
    }
}

TEST_P(PointIndexCloud, WithinIncludesBoundaryInOrder) {
    const Pts& pts = GetParam().pts;
    const PointIndex index = PointIndex::bulk_load(pts);
    for (const auto& q : queries_for(pts)) {
        const auto all = brute_sorted(pts, q[0], q[1]);
        // Radii equal to actual entry distances test the inclusive boundary.
        std::vector<double> radii = {0.0, 0.3, 2.0, 2.5, 7.0, kInf};
        for (std::size_t i = 0; i < all.size(); i += 37) radii.push_back(std::sqrt(all[i].dist2));
        for (double r : radii) {
            std::vector<Neighbor> want;
            for (const auto& nb : all)
                if (nb.dist2 <= r * r) want.push_back(nb);
            EXPECT_EQ(index.within(q[0], q[1], r), want) << "r=" << r;
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Clouds, PointIndexCloud, ::testing::ValuesIn(clouds()),
                         [](const auto& info) { return info.param.name; });

TEST(PointIndex, TiesAndDuplicatesComeInIndexOrder) {
    // Four entries at distance 1 listed clockwise, then the origin twice.
    const Pts pts = {{0.0, 1.0}, {1.0, 0.0}, {0.0, -1.0}, {-1.0, 0.0}, {0.0, 0.0}, {0.0, 0.0}};
    const PointIndex index = PointIndex::bulk_load(pts);
    std::vector<std::size_t> order;
    index.for_each_nearest(0.0, 0.0, [&](const Neighbor& nb) {
        order.push_back(nb.index);
        return true;
    });
    EXPECT_EQ(order, (std::vector<std::size_t>{4, 5, 0, 1, 2, 3}));
    EXPECT_EQ(index.nearest(0.0, 0.0), (Neighbor{4, 0.0}));
    const auto two_of_ring = index.nearest_k(0.0, 0.0, 4);
    ASSERT_EQ(two_of_ring.size(), 4u);
    EXPECT_EQ(two_of_ring[2], (Neighbor{0, 1.0}));
    EXPECT_EQ(two_of_ring[3], (Neighbor{1, 1.0}));
    const auto ring = index.within(0.5, 0.5, std::sqrt(0.5));
    std::vector<std::size_t> ring_idx;
    for (const auto& nb : ring) ring_idx.push_back(nb.index);
    EXPECT_EQ(ring_idx, (std::vector<std::size_t>{0, 1, 4, 5}));
}

TEST(PointIndex, OverflowingDistancesStillOrderByIndex) {
    // Squared distances beyond the double range are +inf and tie; the index
    // order then decides, after every finite distance.
    const Pts pts = {{1e200, 0.0}, {3.0, 4.0}, {-1e200, 1e200}, {0.0, -1e300}, {0.0, 1.0}};
    const PointIndex index = PointIndex::bulk_load(pts);
    std::vector<std::size_t> order;
    index.for_each_nearest(0.0, 0.0, [&](const Neighbor& nb) {
        order.push_back(nb.index);
        return true;
    });
    EXPECT_EQ(order, (std::vector<std::size_t>{4, 1, 0, 2, 3}));
    const auto two = index.nearest_k(0.0, 0.0, 3);
    ASSERT_EQ(two.size(), 3u);
    EXPECT_EQ(two[2], (Neighbor{0, kInf}));
    EXPECT_EQ(index.within(0.0, 0.0, 1e300).size(), 5u);
}

TEST(PointIndex, EmptyAndUnorderablePositionsAnswerNothing) {
    const PointIndex empty;
    EXPECT_EQ(empty.size(), 0u);
    EXPECT_FALSE(empty.nearest(0.0, 0.0).has_value());
    EXPECT_TRUE(empty.nearest_k(0.0, 0.0, 3).empty());
    EXPECT_TRUE(empty.within(0.0, 0.0, 10.0).empty());

    const PointIndex only_bad = PointIndex::bulk_load(Pts{{kNaN, 0.0}, {0.0, -kInf}});
    EXPECT_TRUE(only_bad.empty());
    EXPECT_FALSE(only_bad.nearest(0.0, 0.0).has_value());

    const PointIndex index = PointIndex::bulk_load(Pts{{0.0, 0.0}, {1.0, 1.0}});
    const struct {
        double x, y, r;
    } cases[] = {{kNaN, 0.0, 1.0}, {0.0, kInf, 1.0}, {0.0, 0.0, -1.0}, {0.0, 0.0, kNaN}};
    for (const auto& c : cases) {
        EXPECT_TRUE(index.within(c.x, c.y, c.r).empty());
        if (!std::isfinite(c.x) || !std::isfinite(c.y)) {
            EXPECT_FALSE(index.nearest(c.x, c.y).has_value());
            EXPECT_TRUE(index.nearest_k(c.x, c.y, 2).empty());
            int visits = 0;
            index.for_each_nearest(c.x, c.y, [&](const Neighbor&) { return ++visits, true; });
            EXPECT_EQ(visits, 0);
        }
    }
    EXPECT_TRUE(index.nearest_k(0.0, 0.0, 0).empty());
}

TEST(PointIndex, BulkLoadXyKeepsIndicesAndChecksLengths) {
    const std::vector<double> xs = {5.0, kNaN, 1.0};
    const std::vector<double> ys = {5.0, 0.0, 1.0};
    auto index = PointIndex::bulk_load_xy(xs, ys);
    ASSERT_TRUE(index.has_value());
    EXPECT_EQ(index->size(), 2u);
    EXPECT_EQ(index->nearest(0.0, 0.0), (Neighbor{2, 2.0}));

    auto bad = PointIndex::bulk_load_xy(xs, std::vector<double>{1.0});
    ASSERT_FALSE(bad.has_value());
    EXPECT_EQ(bad.error().kind(), ErrorKind::GeometryMismatch);
    EXPECT_EQ(bad.error().message(), "point index needs as many x as y coordinates (3 vs 1)");
}

// --- point grid -------------------------------------------------------------

// The grid's disc searches against the point index's, over clouds whose
// density, coordinates or duplicates make a grid misjudge its cells: each
// search must give exactly the entries and squared distances of
// `PointIndex::within`, whatever the cell size.
struct GridCloud {
    std::string name;
    Pts pts;
    /// Cell sides to build the grid with.
    std::vector<double> cells;
};

void PrintTo(const GridCloud& c, std::ostream* os) { *os << c.name; }

std::vector<GridCloud> grid_clouds() {
    std::vector<GridCloud> out;
    std::mt19937_64 rng(23);
    std::uniform_real_distribution<double> u(0.0, 1.0);
    std::normal_distribution<double> g(0.0, 1.0);
    for (const PointCloud& c : clouds()) out.push_back({c.name, c.pts, {0.7, 2.0, 9.0, 1e6}});
    {
        // A dense knot in a sparse field: most cells empty, a few crowded.
        Pts p;
        for (int k = 0; k < 250; ++k) p.push_back({200.0 * u(rng), 200.0 * u(rng)});
        for (int k = 0; k < 300; ++k) p.push_back({60.0 + 0.05 * g(rng), 80.0 + 0.05 * g(rng)});
        out.push_back({"dense_knot", p, {0.01, 1.5, 25.0}});
    }
    {
        // Projected coordinates far from the origin, and coordinates near
        // 2^52 where neighbouring doubles are a unit apart, with duplicates.
        Pts p;
        for (int k = 0; k < 400; ++k) p.push_back({456789.125 + 50.0 * u(rng), 6543210.5 + 50.0 * u(rng)});
        out.push_back({"projected", p, {0.3, 4.0}});
        Pts q;
        const double base = 0x1p52;
        for (int j = 0; j < 20; ++j)
            for (int i = 0; i < 20; ++i) q.push_back({base + 3.0 * i, -base + 2.0 * j});
        for (int k = 0; k < 40; ++k) q.push_back(q[static_cast<std::size_t>(k * 7)]);
        out.push_back({"near_2_to_52", q, {1.0, 5.0, 64.0}});
    }
    {
        // NaN and infinite coordinates mixed into a lattice, which the grid
        // leaves out of its bounds and its answers.
        Pts p;
        for (int j = 0; j < 15; ++j)
            for (int i = 0; i < 15; ++i) {
                p.push_back({-7.5 + i, 3.0 * j});
                if ((i + j) % 11 == 0) p.push_back({kNaN, 1.0});
                if ((i * j) % 13 == 5) p.push_back({2.0, -kInf});
            }
        out.push_back({"lattice_with_nonfinite", p, {1.0, 3.0}});
    }
    return out;
}

class PointGridCloud : public ::testing::TestWithParam<GridCloud> {};

TEST_P(PointGridCloud, DiscSearchesMatchThePointIndex) {
    const GridCloud& cloud = GetParam();
    const PointIndex index = PointIndex::bulk_load(cloud.pts);
    std::size_t built = 0;
    for (const double cell : cloud.cells) {
        // Cells far finer than the cloud need more cells than allowed.
        const auto grid = PointGrid::build(cloud.pts, cell, std::size_t{1} << 22);
        if (!grid) continue;
        ++built;
        EXPECT_EQ(grid->size(), index.size());
        auto queries = queries_for(cloud.pts);
        for (std::size_t k = 0; k < cloud.pts.size(); k += 13) {
            const auto& p = cloud.pts[k];
            queries.push_back({p[0] + 0.5 * cell, p[1] - 0.25 * cell});
        }
        for (const auto& q : queries) {
            const auto all = brute_sorted(cloud.pts, q[0], q[1]);
            std::vector<double> radii = {0.0, 0.3, 2.0, 0.5 * cell, 2.2 * cell, kInf};
            for (std::size_t i = 0; i < all.size(); i += 97) radii.push_back(std::sqrt(all[i].dist2));
            for (const double r : radii) {
                std::vector<Neighbor> got;
                grid->for_each_within(q[0], q[1], r, [&](std::size_t e, double d2) { got.push_back({e, d2}); });
                std::sort(got.begin(), got.end(), [](const Neighbor& a, const Neighbor& b) {
                    return a.dist2 != b.dist2 ? a.dist2 < b.dist2 : a.index < b.index;
                });
                ASSERT_EQ(got, index.within(q[0], q[1], r))
                    << cloud.name << " cell=" << cell << " r=" << r << " q=(" << q[0] << "," << q[1] << ")";
            }
        }
    }
    EXPECT_GT(built, 0u) << cloud.name;
}

// The grid's own order names the same entries: every place maps back to its
// point, places of one search lie within the rows the search reads, and the
// positions in grid order are the points'.
TEST_P(PointGridCloud, PlacesNameTheirPoints) {
    const GridCloud& cloud = GetParam();
    const auto grid = PointGrid::build(cloud.pts, cloud.cells.back(), 4 * cloud.pts.size() + 64);
    ASSERT_TRUE(grid.has_value());
    std::vector<int> seen(cloud.pts.size(), 0);
    for (std::size_t e = 0; e < grid->size(); ++e) {
        const std::size_t k = grid->index_of(e);
        ASSERT_LT(k, cloud.pts.size());
        ++seen[k];
        EXPECT_EQ(grid->points()[e], cloud.pts[k]);
    }
    for (std::size_t k = 0; k < cloud.pts.size(); ++k)
        EXPECT_EQ(seen[k], std::isfinite(cloud.pts[k][0]) && std::isfinite(cloud.pts[k][1]) ? 1 : 0) << k;
    const auto q = queries_for(cloud.pts).front();
    std::vector<std::size_t> by_place, by_index;
    grid->for_each_entry_within(q[0], q[1], 30.0, [&](std::size_t e, double) { by_place.push_back(grid->index_of(e)); });
    grid->for_each_within(q[0], q[1], 30.0, [&](std::size_t k, double) { by_index.push_back(k); });
    EXPECT_EQ(by_place, by_index);
}

INSTANTIATE_TEST_SUITE_P(Clouds, PointGridCloud, ::testing::ValuesIn(grid_clouds()),
                         [](const auto& info) { return info.param.name; });

TEST(PointGrid, RefusesWhatItCannotHoldAndMeasuresCrowding) {
    const Pts lattice = {{0.0, 0.0}, {1.0, 0.0}, {0.0, 1.0}, {1.0, 1.0}, {kNaN, 0.0}};
    for (const double cell : {0.0, -1.0, kNaN, kInf, 1e-320})
        EXPECT_FALSE(PointGrid::build(lattice, cell, 1000).has_value()) << cell;
    EXPECT_FALSE(PointGrid::build(Pts{{kNaN, 1.0}, {0.0, kInf}}, 1.0, 1000).has_value());
    EXPECT_FALSE(PointGrid::build(Pts{}, 1.0, 1000).has_value());
    // Unit cells over a 2 x 2 lattice need 2 x 2 cells; one cell short fails.
    EXPECT_FALSE(PointGrid::build(lattice, 1.0, 3).has_value());
    const auto unit = PointGrid::build(lattice, 1.0, 4);
    ASSERT_TRUE(unit.has_value());
    EXPECT_EQ(unit->cells(), 4u);
    EXPECT_EQ(unit->size(), 4u);
    EXPECT_EQ(unit->crowding(), 1.0);
    // One cell holding all four: each entry shares it with all of them.
    const auto one = PointGrid::build(lattice, 10.0, 4);
    ASSERT_TRUE(one.has_value());
    EXPECT_EQ(one->cells(), 1u);
    EXPECT_EQ(one->crowding(), 4.0);
    // Far-apart points in a fine grid would need more cells than allowed.
    EXPECT_FALSE(PointGrid::build(Pts{{0.0, 0.0}, {1e6, 1e6}}, 1.0, 1u << 20).has_value());
    // A single point, and searches from positions no entry can be ordered
    // against or with radii that take nothing.
    const auto single = PointGrid::build(Pts{{3.0, 4.0}}, 1.0, 4);
    ASSERT_TRUE(single.has_value());
    const struct {
        double x, y, r;
        std::size_t hits;
    } cases[] = {{0.0, 0.0, 5.0, 1}, {0.0, 0.0, 4.999, 0}, {kNaN, 0.0, 10.0, 0}, {0.0, -kInf, 10.0, 0},
                 {3.0, 4.0, -1.0, 0}, {3.0, 4.0, kNaN, 0}, {3.0, 4.0, 0.0, 1}, {-1e300, 1e300, kInf, 1}};
    for (const auto& c : cases) {
        std::size_t hits = 0;
        single->for_each_within(c.x, c.y, c.r, [&](std::size_t, double) { ++hits; });
        EXPECT_EQ(hits, c.hits) << c.x << " " << c.y << " " << c.r;
    }
}

// --- 3-D boxes --------------------------------------------------------------

bool boxes_touch(const Box3& a, const Box3& b) {
    for (int i = 0; i < 3; ++i) {
        if (a.max[i] < b.min[i] || b.max[i] < a.min[i]) return false;
    }
    return true;
}

bool box_ok(const Box3& b) {
    for (int i = 0; i < 3; ++i) {
        if (!std::isfinite(b.min[i]) || !std::isfinite(b.max[i]) || b.min[i] > b.max[i]) return false;
    }
    return true;
}

TEST(BoxIndex3, QueriesMatchBruteForceInAscendingOrder) {
    // Boxes on an integer lattice so that many of them touch the query boxes
    // exactly at faces, edges or corners, plus random boxes, duplicates and
    // boxes the index must leave out.
    std::vector<Box3> boxes;
    std::mt19937_64 rng(3);
    std::uniform_int_distribution<int> cell(0, 9);
    std::uniform_real_distribution<double> u(0.0, 10.0);
    for (int k = 0; k < 3000; ++k) {
        const double x = cell(rng), y = cell(rng), z = cell(rng);
        boxes.push_back({{x, y, z}, {x + cell(rng) % 3, y + 1.0, z + cell(rng) % 2}});
    }
    for (int k = 0; k < 3000; ++k) {
        const double a = u(rng), b = u(rng), c = u(rng);
        boxes.push_back({{a, b, c}, {a + u(rng) * 0.2, b + u(rng) * 0.2, c}});
    }
    boxes.push_back(boxes[5]);
    boxes.push_back({{1.0, 1.0, kNaN}, {2.0, 2.0, 2.0}});
    boxes.push_back({{1.0, 1.0, 1.0}, {2.0, 0.5, 2.0}});
    boxes.push_back({{-kInf, 1.0, 1.0}, {2.0, 2.0, 2.0}});
    const BoxIndex3 index = BoxIndex3::bulk_load(boxes);
    EXPECT_EQ(index.size(), boxes.size() - 3);

    std::vector<Box3> queries = {{{3.0, 3.0, 3.0}, {3.0, 3.0, 3.0}},  // a point on lattice corners
                                 {{2.0, 2.0, 2.0}, {4.0, 4.0, 4.0}},
                                 {{-1.0, -1.0, -1.0}, {0.0, 20.0, 20.0}},
                                 {{9.5, 9.5, 9.5}, {30.0, 30.0, 30.0}},
                                 {{-kInf, 4.5, 4.5}, {kInf, 4.5, 4.5}},
                                 {{20.0, 20.0, 20.0}, {21.0, 21.0, 21.0}}};
    for (int k = 0; k < 200; ++k) {
        const double a = u(rng), b = u(rng), c = u(rng);
        queries.push_back({{a, b, c}, {a + u(rng) * 0.3, b + u(rng) * 0.3, c + u(rng) * 0.3}});
    }
    std::vector<std::size_t> got;
    std::size_t total_hits = 0;
    for (const Box3& q : queries) {
        std::vector<std::size_t> want;
        for (std::size_t k = 0; k < boxes.size(); ++k)
            if (box_ok(boxes[k]) && boxes_touch(boxes[k], q)) want.push_back(k);
        index.query(q, got);
        EXPECT_EQ(got, want);
        total_hits += want.size();
    }
    EXPECT_GT(total_hits, 1000u);  // the table really exercises hits
}

TEST(BoxIndex3, DegenerateQueriesAndEmptyIndexHitNothing) {
    const std::vector<Box3> boxes = {{{0.0, 0.0, 0.0}, {1.0, 1.0, 1.0}}};
    const BoxIndex3 index = BoxIndex3::bulk_load(boxes);
    std::vector<std::size_t> out = {99, 98};
    index.query({{kNaN, 0.0, 0.0}, {1.0, 1.0, 1.0}}, out);
    EXPECT_TRUE(out.empty());
    EXPECT_TRUE(index.query({{0.5, 0.5, 0.5}, {0.4, 0.6, 0.6}}).empty());
    EXPECT_EQ(index.query({{1.0, 1.0, 1.0}, {2.0, 2.0, 2.0}}), std::vector<std::size_t>{0});
    const BoxIndex3 empty;
    EXPECT_TRUE(empty.query({{0.0, 0.0, 0.0}, {1.0, 1.0, 1.0}}).empty());
    EXPECT_EQ(BoxIndex3::bulk_load({}).size(), 0u);
}


// --- exact predicates ---------------------------------------------------------

// Independent oracle: every double is an integer times a power of two, so
// after scaling all inputs to their smallest exponent the determinants are
// integer polynomials, evaluated here with a small arbitrary-precision integer.
struct Big {
    bool neg = false;
    std::vector<std::uint32_t> mag;  // little-endian limbs, no trailing zeros

    static int cmp_mag(const std::vector<std::uint32_t>& a, const std::vector<std::uint32_t>& b) {
        if (a.size() != b.size()) return a.size() < b.size() ? -1 : 1;
        for (std::size_t i = a.size(); i-- > 0;)
            if (a[i] != b[i]) return a[i] < b[i] ? -1 : 1;
        return 0;
    }
    static void trim(std::vector<std::uint32_t>& a) {
        while (!a.empty() && a.back() == 0) a.pop_back();
    }
    static std::vector<std::uint32_t> add_mag(const std::vector<std::uint32_t>& a, const std::vector<std::uint32_t>& b) {
        std::vector<std::uint32_t> r(std::max(a.size(), b.size()) + 1, 0);
        std::uint64_t carry = 0;
        for (std::size_t i = 0; i < r.size(); ++i) {
            std::uint64_t t = carry;
            if (i < a.size()) t += a[i];
            if (i < b.size()) t += b[i];
            r[i] = static_cast<std::uint32_t>(t);
            carry = t >> 32;
        }
        trim(r);
        return r;
    }
    static std::vector<std::uint32_t> sub_mag(const std::vector<std::uint32_t>& a, const std::vector<std::uint32_t>& b) {
        std::vector<std::uint32_t> r(a.size(), 0);  // requires |a| >= |b|
        std::int64_t borrow = 0;
        for (std::size_t i = 0; i < a.size(); ++i) {
            std::int64_t t = std::int64_t(a[i]) - borrow - (i < b.size() ? std::int64_t(b[i]) : 0);
            borrow = t < 0;
            r[i] = static_cast<std::uint32_t>(t + (borrow << 32));
        }
        trim(r);
        return r;
    }
    friend Big operator+(const Big& a, const Big& b) {
        Big r;
        if (a.neg == b.neg) {
            r.mag = add_mag(a.mag, b.mag);
            r.neg = a.neg;
        } else if (cmp_mag(a.mag, b.mag) >= 0) {
            r.mag = sub_mag(a.mag, b.mag);
            r.neg = a.neg;
        } else {
            r.mag = sub_mag(b.mag, a.mag);
            r.neg = b.neg;
        }
        if (r.mag.empty()) r.neg = false;
        return r;
    }
    friend Big operator-(const Big& a, Big b) {
        if (!b.mag.empty()) b.neg = !b.neg;
        return a + b;
    }
    friend Big operator*(const Big& a, const Big& b) {
        Big r;
        if (a.mag.empty() || b.mag.empty()) return r;
        std::vector<std::uint64_t> acc(a.mag.size() + b.mag.size() + 1, 0);
        for (std::size_t i = 0; i < a.mag.size(); ++i) {
            std::uint64_t carry = 0;
            for (std::size_t j = 0; j < b.mag.size(); ++j) {
                const std::uint64_t t = acc[i + j] + std::uint64_t(a.mag[i]) * b.mag[j] + carry;
                acc[i + j] = t & 0xffffffffu;
                carry = t >> 32;
            }
            acc[i + b.mag.size()] += carry;
        }
        for (auto v : acc) r.mag.push_back(static_cast<std::uint32_t>(v));
        trim(r.mag);
        r.neg = a.neg != b.neg;
        return r;
    }
    int sign() const { return mag.empty() ? 0 : (neg ? -1 : 1); }
};

// v = m * 2^e with integer m (|m| < 2^53); the exponent of the lowest bit.
int low_exponent(double v) {
    int ex = 0;
    const double f = std::frexp(v, &ex);
    return ex - 53 + (f == 0.0 ? 1000000 : 0);
}

Big to_big(double v, int base_exp) {
    Big r;
    if (v == 0.0) return r;
    int ex = 0;
    const double f = std::frexp(std::fabs(v), &ex);
    std::uint64_t m = static_cast<std::uint64_t>(std::ldexp(f, 53));
    int shift = ex - 53 - base_exp;
    r.mag = {static_cast<std::uint32_t>(m), static_cast<std::uint32_t>(m >> 32)};
    Big::trim(r.mag);
    Big two_pow;
    two_pow.mag.assign(std::size_t(shift / 32) + 1, 0);
    two_pow.mag.back() = 1u << (shift % 32);
    r = r * two_pow;
    r.neg = v < 0;
    return r;
}

int oracle_orient(double ax, double ay, double bx, double by, double cx, double cy) {
    int e = 1000000;
    for (double v : {ax, ay, bx, by, cx, cy}) e = std::min(e, low_exponent(v));
    const Big Ax = to_big(ax, e), Ay = to_big(ay, e), Bx = to_big(bx, e), By = to_big(by, e), Cx = to_big(cx, e),
              Cy = to_big(cy, e);
    return ((Ax - Cx) * (By - Cy) - (Ay - Cy) * (Bx - Cx)).sign();
}

int oracle_incircle(double ax, double ay, double bx, double by, double cx, double cy, double dx, double dy) {
    int e = 1000000;
    for (double v : {ax, ay, bx, by, cx, cy, dx, dy}) e = std::min(e, low_exponent(v));
    const Big Dx = to_big(dx, e), Dy = to_big(dy, e);
    const Big adx = to_big(ax, e) - Dx, ady = to_big(ay, e) - Dy;
    const Big bdx = to_big(bx, e) - Dx, bdy = to_big(by, e) - Dy;
    const Big cdx = to_big(cx, e) - Dx, cdy = to_big(cy, e) - Dy;
    const Big det = (adx * adx + ady * ady) * (bdx * cdy - bdy * cdx) + (bdx * bdx + bdy * bdy) * (cdx * ady - cdy * adx) +
                    (cdx * cdx + cdy * cdy) * (adx * bdy - ady * bdx);
    return det.sign();
}

int sgn(double v) { return (v > 0.0) - (v < 0.0); }

double naive_orient(double ax, double ay, double bx, double by, double cx, double cy) {
    return (ax - cx) * (by - cy) - (ay - cy) * (bx - cx);
}

double naive_incircle(double ax, double ay, double bx, double by, double cx, double cy, double dx, double dy) {
    const double adx = ax - dx, ady = ay - dy, bdx = bx - dx, bdy = by - dy, cdx = cx - dx, cdy = cy - dy;
    return (adx * adx + ady * ady) * (bdx * cdy - bdy * cdx) + (bdx * bdx + bdy * bdy) * (cdx * ady - cdy * adx) +
           (cdx * cdx + cdy * cdy) * (adx * bdy - ady * bdx);
}

TEST(Predicates, SignConventions) {
    const struct {
        std::array<double, 2> a, b, c, d;
        int orient, incircle;
    } cases[] = {
        {{0, 0}, {1, 0}, {0, 1}, {0.25, 0.25}, 1, 1},    // CCW, d inside
        {{0, 0}, {0, 1}, {1, 0}, {0.25, 0.25}, -1, -1},  // CW flips the in-circle sign
        {{0, 0}, {1, 0}, {0, 1}, {2, 2}, 1, -1},         // outside
        {{0, 0}, {1, 0}, {0, 1}, {1, 1}, 1, 0},          // cocircular
        {{0, 0}, {1, 1}, {2, 2}, {5, -3}, 0, 0},         // collinear a, b, c (in-circle checked by the oracle)
        {{-3, 2}, {-3, 2}, {7, 1}, {0, 0}, 0, 0},        // repeated point
    };
    for (const auto& c : cases) {
        EXPECT_EQ(sgn(orient2d(c.a, c.b, c.c)), c.orient);
        EXPECT_EQ(sgn(orient2d(c.a, c.b, c.c)),
                  oracle_orient(c.a[0], c.a[1], c.b[0], c.b[1], c.c[0], c.c[1]));
        EXPECT_EQ(sgn(incircle(c.a, c.b, c.c, c.d)),
                  oracle_incircle(c.a[0], c.a[1], c.b[0], c.b[1], c.c[0], c.c[1], c.d[0], c.d[1]));
        if (c.orient != 0) {
            EXPECT_EQ(sgn(incircle(c.a, c.b, c.c, c.d)), c.incircle);
        }
    }
}

// Points a = (x0 + i ulp, y0 + j ulp) against a line through b and c: the
// classic near-collinear grid on which naive arithmetic returns wrong signs.
TEST(Predicates, Orient2dOnUlpGridsNearALine) {
    const struct {
        double x0, y0, bx, by, cx, cy;
    } cases[] = {
        {0.5, 0.5, 12.0, 12.0, 24.0, 24.0},
        {0.5, 0.5, 18.0, 18.0, 24.0, 24.0},
        {0.50000000000002531, 0.5000000000000171, 17.300000000000001, 17.300000000000001, 24.00000000000005,
         24.0000000000000053},
        {-7.25, 3.5, 1e6 + 0.1, 2e6 + 0.3, -1e-3, 1e-7},
    };
    int naive_wrong = 0;
    for (const auto& c : cases) {
        for (int i = 0; i < 64; ++i) {
            for (int j = 0; j < 64; ++j) {
                double ax = c.x0, ay = c.y0;
                for (int k = 0; k < i; ++k) ax = std::nextafter(ax, kInf);
                for (int k = 0; k < j; ++k) ay = std::nextafter(ay, kInf);
                const int want = oracle_orient(ax, ay, c.bx, c.by, c.cx, c.cy);
                ASSERT_EQ(sgn(orient2d(ax, ay, c.bx, c.by, c.cx, c.cy)), want) << i << "," << j;
                // Rotations keep the sign, a swap flips it.
                ASSERT_EQ(sgn(orient2d(c.bx, c.by, c.cx, c.cy, ax, ay)), want);
                ASSERT_EQ(sgn(orient2d(c.bx, c.by, ax, ay, c.cx, c.cy)), -want);
                ASSERT_EQ(sgn(detail::orient2d_exact(ax, ay, c.bx, c.by, c.cx, c.cy)), want);
                naive_wrong += sgn(naive_orient(ax, ay, c.bx, c.by, c.cx, c.cy)) != want;
            }
        }
    }
    EXPECT_GT(naive_wrong, 100);  // the grid really is beyond plain arithmetic
}

// d close to the circle through a, b, c: points rounded onto circles, then
// nudged by a few ulps, around an origin and far from it.
TEST(Predicates, IncircleNearCocircularPoints) {
    std::mt19937_64 rng(5);
    std::uniform_real_distribution<double> angle(0.0, 6.283185307179586);
    const struct {
        double cx, cy, r;
    } circles[] = {{0.0, 0.0, 1.0}, {1e3 + 0.1, -2e3 + 0.3, 7.5}, {0.5, 0.5, 1e-3}, {-4e5, 3e5, 1e4}};
    int naive_wrong = 0;
    int checked = 0;
    for (const auto& circ : circles) {
        for (int trial = 0; trial < 200; ++trial) {
            std::array<double, 2> p[4];
            for (auto& q : p) {
                const double t = angle(rng);
                q = {circ.cx + circ.r * std::cos(t), circ.cy + circ.r * std::sin(t)};
            }
            if (orient2d(p[0], p[1], p[2]) < 0) std::swap(p[1], p[2]);
            for (int di = -2; di <= 2; ++di) {
                for (int dj = -2; dj <= 2; ++dj) {
                    std::array<double, 2> d = p[3];
                    for (int k = 0; k < std::abs(di); ++k) d[0] = std::nextafter(d[0], di > 0 ? kInf : -kInf);
                    for (int k = 0; k < std::abs(dj); ++k) d[1] = std::nextafter(d[1], dj > 0 ? kInf : -kInf);
                    const int want = oracle_incircle(p[0][0], p[0][1], p[1][0], p[1][1], p[2][0], p[2][1], d[0], d[1]);
                    ASSERT_EQ(sgn(incircle(p[0], p[1], p[2], d)), want);
                    // Cyclic rotation keeps the sign, a swap of two corners flips it.
                    ASSERT_EQ(sgn(incircle(p[1], p[2], p[0], d)), want);
                    ASSERT_EQ(sgn(incircle(p[1], p[0], p[2], d)), -want);
                    ASSERT_EQ(sgn(detail::incircle_exact(p[0][0], p[0][1], p[1][0], p[1][1], p[2][0], p[2][1], d[0],
                                                         d[1])),
                              want);
                    naive_wrong += sgn(naive_incircle(p[0][0], p[0][1], p[1][0], p[1][1], p[2][0], p[2][1], d[0],
                                                      d[1])) != want;
                    ++checked;
                }
            }
        }
    }
    EXPECT_GT(naive_wrong, checked / 50);
}

// Exactly degenerate configurations, shifted off the origin by amounts that
// make every difference inexact-looking yet representable: the answer is 0.
TEST(Predicates, ExactDegeneraciesGiveZero) {
    const double shifts[] = {0.0, 1024.0, -3.0e9, 0.125, 123456.75};
    for (double s : shifts) {
        // On the line y = 2x + 1.
        EXPECT_EQ(orient2d(s + 1.0, s + 3.0, s + 5.0, s + 11.0, s - 2.0, s - 3.0), 0.0) << s;
        // Integer points of the circle x² + y² = 25² around (s, s).
        EXPECT_EQ(incircle(s + 25.0, s, s + 7.0, s + 24.0, s - 15.0, s + 20.0, s + 20.0, s - 15.0), 0.0) << s;
        EXPECT_EQ(incircle(s - 24.0, s - 7.0, s + 0.0, s - 25.0, s + 24.0, s + 7.0, s - 7.0, s + 24.0), 0.0) << s;
        // A unit lattice cell.
        EXPECT_EQ(incircle(s, s, s + 1.0, s, s + 1.0, s + 1.0, s, s + 1.0), 0.0) << s;
    }
}

// The filter path and the exact path agree in sign on random inputs across
// magnitudes, including many exactly or nearly degenerate ones.
TEST(Predicates, FilteredAndExactAgreeOnRandomInputs) {
    std::mt19937_64 rng(99);
    std::uniform_real_distribution<double> u(-1.0, 1.0);
    std::uniform_int_distribution<int> small(-4, 4);
    std::uniform_int_distribution<int> pick(0, 3);
    const double scales[] = {1e-30, 1e-3, 1.0, 1e5, 1e40};
    int disagreements_with_oracle = 0;
    for (double scale : scales) {
        for (int t = 0; t < 3000; ++t) {
            double v[8];
            const int mode = pick(rng);
            for (int k = 0; k < 8; ++k) {
                if (mode == 0) v[k] = u(rng) * scale;                      // general position
                else if (mode == 1) v[k] = small(rng) * scale;             // small lattice: many ties
                else if (mode == 2) v[k] = (0.5 + small(rng) * 0x1p-52) * scale;  // ulp cluster
                else v[k] = (small(rng) + u(rng) * 1e-12) * scale;         // perturbed lattice
            }
            const double o = orient2d(v[0], v[1], v[2], v[3], v[4], v[5]);
            const double oe = detail::orient2d_exact(v[0], v[1], v[2], v[3], v[4], v[5]);
            ASSERT_EQ(sgn(o), sgn(oe));
            const double ic = incircle(v[0], v[1], v[2], v[3], v[4], v[5], v[6], v[7]);
            const double ice = detail::incircle_exact(v[0], v[1], v[2], v[3], v[4], v[5], v[6], v[7]);
            ASSERT_EQ(sgn(ic), sgn(ice));
            if (t % 10 == 0) {
                disagreements_with_oracle += sgn(o) != oracle_orient(v[0], v[1], v[2], v[3], v[4], v[5]);
                disagreements_with_oracle +=
                    sgn(ic) != oracle_incircle(v[0], v[1], v[2], v[3], v[4], v[5], v[6], v[7]);
            }
        }
    }
    EXPECT_EQ(disagreements_with_oracle, 0);
}

}  // namespace
}  // namespace vz::geometry
