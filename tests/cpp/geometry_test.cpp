#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <limits>
#include <random>
#include <string>
#include <vector>

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

}  // namespace
}  // namespace vz::geometry
