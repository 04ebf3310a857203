// Iso-lines: levels from an interval, marching triangles with ordered
// chaining, Douglas-Peucker simplification, the lattice meshes they are traced
// on and the drivers of the three surface kinds.

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <functional>
#include <limits>
#include <map>
#include <memory>
#include <optional>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "algorithms/surfaces.hpp"
#include "core/polygons.hpp"
#include "core/shell/mesh.hpp"
#include "core/shell/structured.hpp"
#include "core/structured_surface.hpp"
#include "core/surface.hpp"
#include "core/tri_surface.hpp"
#include "thread_count_util.hpp"

namespace vz {
namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kInf = std::numeric_limits<double>::infinity();

using Levels = std::optional<std::vector<double>>;

GridGeometry geo(double xori, double yori, double xinc, double yinc, std::uint64_t ncol, std::uint64_t nrow,
                 double rot = 0.0, bool yflip = false) {
    return GridGeometry{xori, yori, xinc, yinc, ncol, nrow, rot, yflip};
}

template <class F>
Grid2 from_fn(std::size_t ncol, std::size_t nrow, F f) {
    Grid2 g(ncol, nrow);
    for (std::size_t i = 0; i < ncol; ++i)
        for (std::size_t j = 0; j < nrow; ++j) g(i, j) = f(i, j);
    return g;
}

Surface make_surface(const GridGeometry& g, Grid2 values) {
    auto s = Surface::make(g, std::move(values));
    EXPECT_TRUE(s.has_value()) << s.error().display();
    return *s;
}

/// The same lattice and values as a structured surface.
StructuredMeshSurface make_structured(const GridGeometry& g, const Grid2& values) {
    Grid2 x(g.ncol, g.nrow);
    Grid2 y(g.ncol, g.nrow);
    for (std::size_t i = 0; i < g.ncol; ++i)
        for (std::size_t j = 0; j < g.nrow; ++j) std::tie(x(i, j), y(i, j)) = g.node_xy(i, j);
    auto s = StructuredMeshSurface::make(std::move(x), std::move(y), values, g, PolygonSet::from_grid_geometry(g));
    EXPECT_TRUE(s.has_value()) << s.error().display();
    return *s;
}

/// The same lattice and values as a triangulated surface on the lattice's
/// mesh shell (node k = the k-th node row by row).
TriSurface make_tri(const GridGeometry& g, const Grid2& values) {
    auto shell = MeshShell::from_grid_geometry(g);
    EXPECT_TRUE(shell.has_value()) << shell.error().display();
    std::vector<double> v;
    for (const auto& label : shell->labels()) v.push_back(values(label->i, label->j));
    auto s = TriSurface::from_shell(std::make_shared<const MeshShell>(std::move(*shell)), std::move(v));
    EXPECT_TRUE(s.has_value()) << s.error().display();
    return *s;
}

bool same_bits(double a, double b) { return std::memcmp(&a, &b, sizeof a) == 0; }

bool same_lines(const std::vector<Polyline>& a, const std::vector<Polyline>& b) {
    if (a.size() != b.size()) return false;
    for (std::size_t k = 0; k < a.size(); ++k) {
        if (a[k].size() != b[k].size()) return false;
        for (std::size_t p = 0; p < a[k].size(); ++p)
            if (!same_bits(a[k][p][0], b[k][p][0]) || !same_bits(a[k][p][1], b[k][p][1])) return false;
    }
    return true;
}

bool same_result(const std::vector<IsoLevel>& a, const std::vector<IsoLevel>& b) {
    if (a.size() != b.size()) return false;
    for (std::size_t k = 0; k < a.size(); ++k)
        if (!same_bits(a[k].first, b[k].first) || !same_lines(a[k].second, b[k].second)) return false;
    return true;
}

bool closed(const Polyline& p) {
    return p.size() >= 2 && same_bits(p.front()[0], p.back()[0]) && same_bits(p.front()[1], p.back()[1]);
}

// ---- levels -----------------------------------------------------------------

struct LevelsCase {
    const char* name;
    std::vector<double> values;
    std::optional<double> interval;
    Levels levels;
    std::vector<double> expected;
    const char* error;  // display text, or nullptr
};

class IsoLevels : public ::testing::TestWithParam<LevelsCase> {};

TEST_P(IsoLevels, DerivesOrKeepsTheLevels) {
    const auto& c = GetParam();
    auto got = iso_lines::levels(c.values, c.interval, c.levels);
    if (c.error != nullptr) {
        ASSERT_FALSE(got.has_value());
        EXPECT_EQ(got.error().kind(), ErrorKind::OutOfRange);
        EXPECT_EQ(got.error().display(), c.error);
        return;
    }
    ASSERT_TRUE(got.has_value()) << got.error().display();
    ASSERT_EQ(got->size(), c.expected.size());
    for (std::size_t k = 0; k < c.expected.size(); ++k) EXPECT_TRUE(same_bits((*got)[k], c.expected[k])) << k;
}

INSTANTIATE_TEST_SUITE_P(
    Table, IsoLevels,
    ::testing::Values(
        LevelsCase{"inside", {0.2, 2.7, 1.1}, 1.0, {}, {1, 2}, nullptr},
        LevelsCase{"ends_on_levels", {1.0, 3.0, 2.0}, 1.0, {}, {1, 2, 3}, nullptr},
        LevelsCase{"slack_beyond_max", {0.0, 2.0 - 1e-12}, 1.0, {}, {0, 1, 2}, nullptr},
        LevelsCase{"negative_values", {-2.5, -0.5, kNaN}, 1.0, {}, {-2, -1}, nullptr},
        LevelsCase{"non_finite_skipped", {kInf, 0.5, -kInf, 1.5, kNaN}, 0.5, {}, {0.5, 1, 1.5}, nullptr},
        LevelsCase{"between_levels", {0.1, 0.9}, 1.0, {}, {}, nullptr},
        LevelsCase{"no_finite_value", {kNaN, kInf}, 1.0, {}, {}, nullptr},
        LevelsCase{"explicit_as_given", {0.0, 10.0}, 1.0, std::vector<double>{5, 1, 5}, {5, 1, 5}, nullptr},
        LevelsCase{"explicit_empty", {0.0, 10.0}, 1.0, std::vector<double>{}, {}, nullptr},
        LevelsCase{"explicit_nan_kept", {}, std::nullopt, std::vector<double>{kNaN, -3}, {kNaN, -3}, nullptr},
        LevelsCase{"explicit_with_bad_interval", {0.0}, -1.0, std::vector<double>{2}, {2}, nullptr},
        LevelsCase{"neither", {0.0, 1.0}, std::nullopt, {}, {},
                   "out of range: iso_lines: provide an interval or explicit levels"},
        LevelsCase{"neither_all_nan", {kNaN}, std::nullopt, {}, {},
                   "out of range: iso_lines: provide an interval or explicit levels"},
        LevelsCase{"zero", {0.0, 1.0}, 0.0, {}, {},
                   "out of range: iso-line interval must be a finite positive number, got 0"},
        LevelsCase{"negative", {0.0, 1.0}, -2.5, {}, {},
                   "out of range: iso-line interval must be a finite positive number, got -2.5"},
        LevelsCase{"nan", {0.0, 1.0}, kNaN, {}, {},
                   "out of range: iso-line interval must be a finite positive number, got NaN"},
        LevelsCase{"inf", {0.0, 1.0}, kInf, {}, {},
                   "out of range: iso-line interval must be a finite positive number, got inf"},
        LevelsCase{"interval_checked_without_values", {}, 0.0, {}, {},
                   "out of range: iso-line interval must be a finite positive number, got 0"},
        LevelsCase{"too_many_levels", {0.0, 100000.0}, 1.0, {}, {},
                   "out of range: iso-line interval 1 gives more than 100000 levels between 0 and 100000"},
        // lo and hi saturate at the 64-bit integer range.
        LevelsCase{"saturated_range", {-1e20, 1e20}, 1e-3, {}, {},
                   "out of range: iso-line interval 0.001 gives more than 100000 levels between "
                   "-100000000000000000000 and 100000000000000000000"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(IsoLevels, TheLevelCapAdmitsExactlyOneHundredThousandLevels) {
    const std::vector<double> values{0.0, 99999.0};
    auto got = iso_lines::levels(values, 1.0, std::nullopt);
    ASSERT_TRUE(got.has_value()) << got.error().display();
    ASSERT_EQ(got->size(), iso_lines::kMaxIntervalLevels);
    EXPECT_EQ(got->front(), 0.0);
    EXPECT_EQ(got->back(), 99999.0);
}

TEST(IsoLevels, LevelsAreMultiplesOfTheIntervalNotRunningSums) {
    auto got = iso_lines::levels(std::vector<double>{0.0, 3.0}, 0.1, std::nullopt);
    ASSERT_TRUE(got.has_value());
    ASSERT_EQ(got->size(), 31u);
    for (std::size_t k = 0; k < got->size(); ++k) EXPECT_TRUE(same_bits((*got)[k], static_cast<double>(k) * 0.1)) << k;
}

// ---- tracing small meshes exactly ---------------------------------------------

struct TraceCase {
    const char* name;
    GridGeometry geom;
    Grid2 values;  // shape (ncol, nrow)
    double level;
    std::vector<Polyline> expected;
};

class TraceSmall : public ::testing::TestWithParam<TraceCase> {};

TEST_P(TraceSmall, GivesTheExpectedPolylines) {
    const auto& c = GetParam();
    auto got = surfaces::iso_lines(make_surface(c.geom, c.values), std::nullopt, std::vector<double>{c.level},
                                   std::nullopt, std::nullopt);
    ASSERT_TRUE(got.has_value()) << got.error().display();
    ASSERT_EQ(got->size(), 1u);
    EXPECT_TRUE(same_bits(got->front().first, c.level));
    const auto& lines = got->front().second;
    ASSERT_EQ(lines.size(), c.expected.size());
    for (std::size_t k = 0; k < lines.size(); ++k) {
        ASSERT_EQ(lines[k].size(), c.expected[k].size()) << "line " << k;
        for (std::size_t p = 0; p < lines[k].size(); ++p) {
            EXPECT_EQ(lines[k][p][0], c.expected[k][p][0]) << "line " << k << " point " << p;
            EXPECT_EQ(lines[k][p][1], c.expected[k][p][1]) << "line " << k << " point " << p;
        }
    }
}

/// 3 x 3 lattice with increments 1 at the origin, one value per node.
Grid2 three_by_three(double centre, double rest) {
    return from_fn(3, 3, [&](std::size_t i, std::size_t j) { return i == 1 && j == 1 ? centre : rest; });
}

INSTANTIATE_TEST_SUITE_P(
    Table, TraceSmall,
    ::testing::Values(
        // Starts on the left edge (the smallest edge key), passes the
        // diagonal, ends on the right edge.
        TraceCase{"two_by_two_rows", geo(0, 0, 1, 1, 2, 2), from_fn(2, 2, [](auto, auto j) { return double(j); }), 0.5,
                  {{{0, 0.5}, {0.5, 0.5}, {1, 0.5}}}},
        // A peak node: one ring around it, first point repeated, walked from
        // the smallest key towards its smaller neighbour.
        TraceCase{"peak_ring", geo(0, 0, 1, 1, 3, 3), three_by_three(1, 0), 0.5,
                  {{{0.5, 0.5}, {1, 0.5}, {1.5, 1}, {1.5, 1.5}, {1, 1.5}, {0.5, 1}, {0.5, 0.5}}}},
        // The level touches the peak node only: no segment anywhere.
        TraceCase{"touch_at_one_node", geo(0, 0, 1, 1, 3, 3), three_by_three(1, 0), 1.0, {}},
        // A pit: nodes at the level count as above, so the ring runs round
        // the pit through the edge midpoints.
        TraceCase{"pit_ring", geo(0, 0, 1, 1, 3, 3), three_by_three(-1, 1), 0.0,
                  {{{0.5, 0.5}, {1, 0.5}, {1.5, 1}, {1.5, 1.5}, {1, 1.5}, {0.5, 1}, {0.5, 0.5}}}},
        // The diagonal lies on the level and both third corners are below:
        // its segment is held once, so one open line of two node points.
        TraceCase{"edge_on_level_once", geo(0, 0, 1, 1, 2, 2),
                  from_fn(2, 2, [](auto i, auto j) { return i == j ? 1.0 : 0.0; }), 1.0, {{{0, 0}, {1, 1}}}},
        // A level equal to a column of node values runs through the nodes.
        TraceCase{"through_nodes", geo(0, 0, 1, 1, 4, 3), from_fn(4, 3, [](auto i, auto) { return double(i); }), 2.0,
                  {{{2, 0}, {2, 1}, {2, 2}}}},
        // A NaN node removes every triangle touching it: only the triangle
        // (0,1)-(1,2)-(0,2) still crosses the level.
        TraceCase{"nan_hole", geo(0, 0, 1, 1, 3, 3),
                  from_fn(3, 3, [](auto i, auto j) { return i == 1 && j == 1 ? kNaN : double(i); }), 0.5,
                  {{{0.5, 1.5}, {0.5, 2}}}},
        // A saddle through the centre node: it carries four segments, and
        // the walk from the smallest odd key leaves it by its smallest
        // unused neighbour.
        TraceCase{"saddle_through_node", geo(0, 0, 1, 1, 3, 3),
                  from_fn(3, 3, [](auto i, auto j) { return -(double(i) - 1) * (double(j) - 1); }), 0.0,
                  {{{1, 0}, {1, 1}, {0, 1}}, {{2, 1}, {1, 1}, {1, 2}}}}),
    [](const auto& info) { return std::string(info.param.name); });

// ---- against a direct transcription with ordered maps and sets ------------------

/// The tracing rules written out plainly: an ordered map of crossing
/// positions, an ordered set of segments, ordered adjacency, chains from the
/// odd keys and then from the smallest remaining segment.
std::vector<Polyline> reference_trace(const std::vector<NodeXY>& nodes, const std::vector<MeshTriangle>& triangles,
                                      const std::vector<double>& values, double level) {
    using Segment = std::pair<ContourKey, ContourKey>;
    std::map<ContourKey, IsoPoint> points;
    std::set<Segment> segments;
    for (const auto& tri : triangles) {
        const double v[3] = {values[tri[0]], values[tri[1]], values[tri[2]]};
        if (std::isnan(v[0]) || std::isnan(v[1]) || std::isnan(v[2])) continue;
        const bool above[3] = {v[0] >= level, v[1] >= level, v[2] >= level};
        if (above[0] == above[1] && above[1] == above[2]) continue;
        std::vector<ContourKey> keys;
        for (const auto& [a, b] : {std::pair{0, 1}, std::pair{1, 2}, std::pair{2, 0}}) {
            if (above[a] == above[b]) continue;
            const double t = (level - v[a]) / (v[b] - v[a]);
            const NodeXY& pa = nodes[tri[a]];
            const NodeXY& pb = nodes[tri[b]];
            ContourKey key;
            IsoPoint pos;
            if (t <= 0) {
                key = ContourKey::node(tri[a]);
                pos = {pa[0], pa[1]};
            } else if (t >= 1) {
                key = ContourKey::node(tri[b]);
                pos = {pb[0], pb[1]};
            } else {
                key = ContourKey::edge(tri[a], tri[b]);
                pos = {(pb[0] - pa[0]) * t + pa[0], (pb[1] - pa[1]) * t + pa[1]};
            }
            points.emplace(key, pos);
            keys.push_back(key);
        }
        if (keys[0] != keys[1]) segments.insert(std::minmax(keys[0], keys[1]));
    }
    std::map<ContourKey, std::vector<ContourKey>> adjacency;
    for (const auto& [a, b] : segments) {
        adjacency[a].push_back(b);
        adjacency[b].push_back(a);
    }
    for (auto& [k, list] : adjacency) std::sort(list.begin(), list.end());
    const auto unused = [&](ContourKey a, ContourKey b) { return segments.count(std::minmax(a, b)) > 0; };
    const auto chain_from = [&](ContourKey s) {
        Polyline line{points.at(s)};
        ContourKey cur = s;
        for (;;) {
            std::optional<ContourKey> next;
            for (const auto& n : adjacency[cur])
                if (unused(cur, n)) {
                    next = n;
                    break;
                }
            if (!next) return line;
            segments.erase(std::minmax(cur, *next));
            line.push_back(points.at(*next));
            cur = *next;
        }
    };
    std::vector<Polyline> out;
    std::vector<ContourKey> odd;
    for (const auto& [k, list] : adjacency)
        if (list.size() % 2 == 1) odd.push_back(k);
    for (const auto& s : odd)
        while (std::any_of(adjacency[s].begin(), adjacency[s].end(), [&](ContourKey n) { return unused(s, n); }))
            out.push_back(chain_from(s));
    while (!segments.empty()) out.push_back(chain_from(segments.begin()->first));
    std::erase_if(out, [](const Polyline& p) { return p.size() < 2; });
    return out;
}

TEST(TraceAgainstReference, RandomSurfacesGiveTheSamePolylinesBitForBit) {
    std::mt19937 rng(20240611);
    std::uniform_real_distribution<double> unit(0.0, 1.0);
    std::size_t compared = 0;
    for (int round = 0; round < 40; ++round) {
        const std::size_t nc = 2 + rng() % 14;
        const std::size_t nr = 2 + rng() % 14;
        const bool quantised = round % 2 == 0;  // many nodes exactly on the levels
        const Grid2 v = from_fn(nc, nr, [&](auto, auto) {
            if (unit(rng) < 0.08) return kNaN;
            const double x = unit(rng) * 6.0 - 3.0;
            return quantised ? std::round(x * 2.0) / 2.0 : x;
        });
        const auto g = geo(unit(rng) * 100, unit(rng) * 100, 0.5 + unit(rng), 0.5 + unit(rng), nc, nr,
                           unit(rng) * 360.0, round % 3 == 0);
        auto mesh = surfaces::quad_mesh(g);
        ASSERT_TRUE(mesh.has_value());
        auto values = surfaces::node_values(*mesh, v, "test");
        ASSERT_TRUE(values.has_value());
        const std::vector<double> levels{-2.5, -1.0, -0.5, 0.0, 0.25, 0.5, 1.0, 1.7, 2.0};
        const auto all = surfaces::trace_levels(mesh->nodes, mesh->triangles, *values, levels);
        for (std::size_t k = 0; k < levels.size(); ++k) {
            const auto expected = reference_trace(mesh->nodes, mesh->triangles, *values, levels[k]);
            compared += expected.size();
            EXPECT_TRUE(same_lines(all[k].second, expected)) << "round " << round << ", level " << levels[k];
            EXPECT_TRUE(same_lines(surfaces::trace_level(mesh->nodes, mesh->triangles, *values, levels[k]), expected))
                << "round " << round << ", level " << levels[k];
        }
    }
    EXPECT_GT(compared, 500u);
}

// ---- properties on larger surfaces --------------------------------------------

TEST(IsoLinesSurface, TiltedPlaneGivesStraightLinesAtTheLevels) {
    // z = 2 x + 0.5 on a lattice rotated by 30 degrees, so the world x is not
    // the column; every line must follow a column line of constant value.
    const auto g = geo(100, 200, 2, 3, 9, 7, 30.0);
    const Surface s = make_surface(g, from_fn(9, 7, [](auto i, auto) { return 2.0 * double(i) + 0.5; }));
    auto got = surfaces::iso_lines(s, 3.0, std::nullopt, std::nullopt, std::nullopt);
    ASSERT_TRUE(got.has_value()) << got.error().display();
    // Values 0.5 … 16.5: levels 3 … 15.
    ASSERT_EQ(got->size(), 5u);
    const double c = std::cos(30.0 * M_PI / 180.0);
    const double sn = std::sin(30.0 * M_PI / 180.0);
    for (std::size_t k = 0; k < got->size(); ++k) {
        const auto& [level, lines] = (*got)[k];
        EXPECT_EQ(level, 3.0 * double(k + 1));
        ASSERT_EQ(lines.size(), 1u) << level;
        const Polyline& line = lines.front();
        EXPECT_FALSE(closed(line));
        // The column coordinate of each point, undoing the rotation.
        const double col = (level - 0.5) / 2.0;
        for (const auto& p : line) {
            const double u = (p[0] - 100) * c + (p[1] - 200) * sn;
            EXPECT_NEAR(u / 2.0, col, 1e-9) << level;
        }
        // Row coordinates run from the first row to the last.
        const double v0 = (-(line.front()[0] - 100) * sn + (line.front()[1] - 200) * c) / 3.0;
        const double v1 = (-(line.back()[0] - 100) * sn + (line.back()[1] - 200) * c) / 3.0;
        EXPECT_NEAR(std::min(v0, v1), 0.0, 1e-9);
        EXPECT_NEAR(std::max(v0, v1), 6.0, 1e-9);

        // Simplified, a straight line keeps only its two end points.
        auto simple = surfaces::iso_lines(s, std::nullopt, std::vector<double>{level}, std::nullopt, 1e-6);
        ASSERT_TRUE(simple.has_value());
        ASSERT_EQ(simple->front().second.size(), 1u);
        const Polyline& two = simple->front().second.front();
        ASSERT_EQ(two.size(), 2u);
        EXPECT_TRUE(same_bits(two.front()[0], line.front()[0]) && same_bits(two.back()[1], line.back()[1]));
    }
}

TEST(IsoLinesSurface, ConeGivesOneClosedRingPerLevel) {
    const std::size_t n = 41;
    const auto g = geo(-20, -20, 1, 1, n, n);
    const auto cone = [](double x, double y) { return std::hypot(x, y); };
    const Surface s =
        make_surface(g, from_fn(n, n, [&](auto i, auto j) { return cone(double(i) - 20, double(j) - 20); }));
    auto got = surfaces::iso_lines(s, std::nullopt, std::vector<double>{2.5, 7.5, 12.5, 17.5}, std::nullopt,
                                   std::nullopt);
    ASSERT_TRUE(got.has_value()) << got.error().display();
    for (const auto& [level, lines] : *got) {
        ASSERT_EQ(lines.size(), 1u) << level;
        const Polyline& ring = lines.front();
        EXPECT_TRUE(closed(ring)) << level;
        EXPECT_GT(ring.size(), 8u);
        // Points lie on lattice edges, where the cone is interpolated
        // linearly: within one cell of the true circle.
        for (const auto& p : ring) EXPECT_NEAR(cone(p[0], p[1]), level, 0.2) << level;
        // No point repeats inside the ring.
        for (std::size_t a = 0; a + 1 < ring.size(); ++a)
            for (std::size_t b = a + 1; b + 1 < ring.size(); ++b)
                EXPECT_FALSE(ring[a] == ring[b]) << level << ": " << a << ", " << b;

        // Simplification keeps the ring closed, keeps a subsequence of its
        // points and stays within the tolerance of the circle's sampling.
        const Polyline simple = surfaces::simplify_polyline(ring, 0.3);
        EXPECT_TRUE(closed(simple));
        EXPECT_LT(simple.size(), ring.size());
        EXPECT_GT(simple.size(), 3u);
        std::size_t at = 0;
        for (const auto& p : simple) {
            while (at < ring.size() && !(ring[at] == p)) ++at;
            EXPECT_LT(at, ring.size()) << "simplified point not in order in the ring";
        }
    }
}

TEST(IsoLinesSurface, NanHoleSplitsALineIntoOpenLinesEndingAtTheHole) {
    // z = x with a 2 x 2 hole in the middle of the lattice.
    const std::size_t n = 11;
    const Surface s = make_surface(geo(0, 0, 1, 1, n, n), from_fn(n, n, [](auto i, auto j) {
                                       return (i == 5 || i == 6) && (j == 4 || j == 5) ? kNaN : double(i);
                                   }));
    auto got = surfaces::iso_lines(s, std::nullopt, std::vector<double>{5.5, 2.5}, std::nullopt, std::nullopt);
    ASSERT_TRUE(got.has_value());
    const auto& through_hole = (*got)[0].second;
    ASSERT_EQ(through_hole.size(), 2u);
    for (const auto& line : through_hole) {
        EXPECT_FALSE(closed(line));
        for (const auto& p : line) EXPECT_EQ(p[0], 5.5);
    }
    // One line ends below the hole, the other starts above it.
    const double lo_end = std::max(through_hole[0].front()[1], through_hole[0].back()[1]);
    const double hi_start = std::min(through_hole[1].front()[1], through_hole[1].back()[1]);
    EXPECT_LE(lo_end, 4.0);
    EXPECT_GE(hi_start, 5.0);
    // Away from the hole the line is whole.
    ASSERT_EQ((*got)[1].second.size(), 1u);
    EXPECT_EQ((*got)[1].first, 2.5);
}

TEST(IsoLinesSurface, ConstantSurfaceGivesItsLevelWithoutLines) {
    const Surface s = make_surface(geo(0, 0, 1, 1, 4, 4), Grid2(4, 4, 5.0));
    auto got = surfaces::iso_lines(s, 1.0, std::nullopt, std::nullopt, std::nullopt);
    ASSERT_TRUE(got.has_value());
    ASSERT_EQ(got->size(), 1u);
    EXPECT_EQ(got->front().first, 5.0);
    EXPECT_TRUE(got->front().second.empty());
}

TEST(IsoLinesSurface, RepeatedAndNanLevelsKeepTheirPlaces) {
    const Surface s = make_surface(geo(0, 0, 1, 1, 6, 6),
                                   from_fn(6, 6, [](auto i, auto j) { return double(i) * double(j); }));
    auto got = surfaces::iso_lines(s, 1.0, std::vector<double>{5, kNaN, 1, 5}, std::nullopt, std::nullopt);
    ASSERT_TRUE(got.has_value());
    ASSERT_EQ(got->size(), 4u);
    EXPECT_EQ((*got)[0].first, 5.0);
    EXPECT_TRUE(std::isnan((*got)[1].first));
    EXPECT_TRUE((*got)[1].second.empty());
    EXPECT_EQ((*got)[2].first, 1.0);
    EXPECT_FALSE((*got)[0].second.empty());
    EXPECT_TRUE(same_lines((*got)[0].second, (*got)[3].second));
}

TEST(IsoLinesSurface, AllNanSurfaceHasNoLevelsFromAnIntervalAndEmptyExplicitLevels) {
    const Surface s = make_surface(geo(0, 0, 1, 1, 3, 3), Grid2(3, 3, kNaN));
    auto by_interval = surfaces::iso_lines(s, 1.0, std::nullopt, std::nullopt, std::nullopt);
    ASSERT_TRUE(by_interval.has_value());
    EXPECT_TRUE(by_interval->empty());
    auto explicit_levels = surfaces::iso_lines(s, std::nullopt, std::vector<double>{0, 1}, std::nullopt, std::nullopt);
    ASSERT_TRUE(explicit_levels.has_value());
    ASSERT_EQ(explicit_levels->size(), 2u);
    EXPECT_TRUE((*explicit_levels)[0].second.empty());
    EXPECT_TRUE((*explicit_levels)[1].second.empty());
}

TEST(IsoLinesSurface, AttributeLaneIsContouredInsteadOfThePrimaryValues) {
    Surface s = make_surface(geo(0, 0, 1, 1, 5, 5), from_fn(5, 5, [](auto i, auto) { return double(i); }));
    ASSERT_TRUE(s.set_attr("depth", from_fn(5, 5, [](auto, auto j) { return double(j); })).has_value());
    auto got = surfaces::iso_lines(s, std::nullopt, std::vector<double>{1.5}, std::string("depth"), std::nullopt);
    ASSERT_TRUE(got.has_value());
    ASSERT_EQ(got->front().second.size(), 1u);
    for (const auto& p : got->front().second.front()) EXPECT_EQ(p[1], 1.5);
}

/// A bumpy surface with a few holes, many levels: the three surface kinds
/// share one mesh, so they must give the same polylines bit for bit, and a
/// second run the same again.
TEST(IsoLinesSurface, AllThreeSurfaceKindsGiveTheSamePolylines) {
    const std::size_t nc = 23;
    const std::size_t nr = 17;
    for (const auto& g : {geo(500, -40, 25, 12.5, nc, nr), geo(500, -40, 25, 12.5, nc, nr, 17.0, true)}) {
        const Grid2 v = from_fn(nc, nr, [](auto i, auto j) {
            if ((i * 7 + j * 3) % 29 == 0) return kNaN;
            return 10.0 * std::sin(double(i) * 0.4) * std::cos(double(j) * 0.5) + 0.3 * double(i);
        });
        const Surface regular = make_surface(g, v);
        const auto a = surfaces::iso_lines(regular, 1.5, std::nullopt, std::nullopt, std::nullopt);
        const auto b = surfaces::iso_lines(make_structured(g, v), 1.5, std::nullopt, std::nullopt, std::nullopt);
        const auto c = surfaces::iso_lines(make_tri(g, v), 1.5, std::nullopt, std::nullopt, std::nullopt);
        const auto again = surfaces::iso_lines(regular, 1.5, std::nullopt, std::nullopt, std::nullopt);
        ASSERT_TRUE(a && b && c && again);
        std::size_t count = 0;
        for (const auto& [level, lines] : *a) count += lines.size();
        EXPECT_GT(count, 20u);
        EXPECT_TRUE(same_result(*a, *b));
        EXPECT_TRUE(same_result(*a, *c));
        EXPECT_TRUE(same_result(*a, *again));

        const auto sa = surfaces::iso_lines(regular, 1.5, std::nullopt, std::nullopt, 2.0);
        const auto sc = surfaces::iso_lines(make_tri(g, v), 1.5, std::nullopt, std::nullopt, 2.0);
        ASSERT_TRUE(sa && sc);
        EXPECT_TRUE(same_result(*sa, *sc));
        EXPECT_FALSE(same_result(*a, *sa));
    }
}

TEST(IsoLinesSurface, AllLevelsAtOnceEqualEachLevelAlone) {
    // Levels in any order, repeated, signed zeros, NaN, infinities and
    // levels on node values, over a surface with holes and infinite nodes.
    const auto g = geo(0, 0, 1, 1, 19, 13, 10.0);
    const Grid2 v = from_fn(19, 13, [](auto i, auto j) {
        if ((i * 5 + j * 11) % 23 == 0) return kNaN;
        if (i == 3 && j == 4) return kInf;
        if (i == 12 && j == 9) return -kInf;
        return std::round(4.0 * std::sin(double(i) * 0.5) * std::cos(double(j) * 0.7) * 4.0) / 4.0;
    });
    auto mesh = surfaces::quad_mesh(g);
    ASSERT_TRUE(mesh.has_value());
    auto values = surfaces::node_values(*mesh, v, "test");
    ASSERT_TRUE(values.has_value());
    const std::vector<double> levels{2.0, -1.5, 0.0, -0.0, kNaN, 2.0, 0.25, 3.75, kInf, -kInf, -3.0, 1.0, 0.3};
    const auto all = surfaces::trace_levels(mesh->nodes, mesh->triangles, *values, levels);
    ASSERT_EQ(all.size(), levels.size());
    std::size_t lines = 0;
    for (std::size_t k = 0; k < levels.size(); ++k) {
        EXPECT_TRUE(same_bits(all[k].first, levels[k])) << k;
        const auto alone = surfaces::trace_level(mesh->nodes, mesh->triangles, *values, levels[k]);
        EXPECT_TRUE(same_lines(all[k].second, alone)) << "level " << levels[k];
        lines += alone.size();
    }
    EXPECT_GT(lines, 20u);
}

/// A regular surface is contoured by walking its lattice in place; the
/// explicit quad-split mesh is the reference, and every thread count must
/// give its result bit for bit: the same lines, points and order.
struct WalkCase {
    const char* name;
    GridGeometry g;
    std::function<double(std::size_t, std::size_t)> z;
    std::optional<double> interval;
    Levels levels;
    std::optional<double> simplify;
};

void PrintTo(const WalkCase& c, std::ostream* os) { *os << c.name; }

double bumps(std::size_t i, std::size_t j) {
    return 10.0 * std::sin(double(i) * 0.37) * std::cos(double(j) * 0.29) + 0.2 * double(i) - 0.1 * double(j);
}

class WalkedLattice : public ::testing::TestWithParam<WalkCase> {};

TEST_P(WalkedLattice, GivesTheExplicitMeshResult) {
    const WalkCase& c = GetParam();
    const Surface s = make_surface(c.g, from_fn(c.g.ncol, c.g.nrow, c.z));
    Result<std::vector<IsoLevel>> expected = fail(Error::not_found("unset"));
    {
        const vz::testing::ScopedThreadCount env(1);
        expected = surfaces::explicit_iso_lines(s, c.interval, c.levels, std::nullopt, c.simplify);
    }
    std::size_t lines = 0;
    if (expected)
        for (const auto& [level, ls] : *expected) lines += ls.size();
    for (const std::size_t threads : {std::size_t{1}, std::size_t{2}, std::size_t{3}, std::size_t{8}}) {
        const vz::testing::ScopedThreadCount env(threads);
        const auto got = surfaces::iso_lines(s, c.interval, c.levels, std::nullopt, c.simplify);
        ASSERT_EQ(got.has_value(), expected.has_value()) << threads << " threads";
        if (!got) {
            EXPECT_EQ(got.error().display(), expected.error().display());
            continue;
        }
        EXPECT_TRUE(same_result(*got, *expected)) << threads << " threads, " << lines << " lines";
    }
}

INSTANTIATE_TEST_SUITE_P(
    IsoLinesSurface, WalkedLattice,
    ::testing::Values(
        WalkCase{"holes", geo(500, -40, 25, 12.5, 37, 29),
                 [](auto i, auto j) { return (i * 7 + j * 3) % 29 == 0 ? kNaN : bumps(i, j); }, 1.0, std::nullopt,
                 std::nullopt},
        WalkCase{"rotated_flipped", geo(1e5, 7e6, 12.5, 20, 31, 23, 33.0, true), bumps, 0.7, std::nullopt,
                 std::nullopt},
        WalkCase{"quarter_turns", geo(0, 0, 1, 1, 19, 17, 90.0, true), bumps, 1.5, std::nullopt, std::nullopt},
        WalkCase{"half_turn", geo(10, 10, 2, 0.5, 17, 19, 180.0), bumps, 1.5, std::nullopt, std::nullopt},
        WalkCase{"three_quarter_turn_negative_increment", geo(10, 10, -2, 0.5, 17, 19, 270.0), bumps, 1.5,
                 std::nullopt, std::nullopt},
        // Plateaus and levels exactly on node values: node keys, edges on the
        // level, saddles through nodes; repeated and signed-zero levels.
        WalkCase{"flat_areas_levels_on_nodes", geo(0, 0, 1, 1, 29, 21, 12.0),
                 [](auto i, auto j) { return std::round(bumps(i, j) / 2.0) * 0.5; }, std::nullopt,
                 Levels({0.0, 0.5, -0.5, 1.0, 0.5, -0.0, 2.5, -1.0}), std::nullopt},
        WalkCase{"infinite_nodes", geo(0, 0, 1, 1, 23, 19, 5.0),
                 [](auto i, auto j) {
                     if (i == 4 && j == 5) return kInf;
                     if (i == 15 && j == 11) return -kInf;
                     return bumps(i, j);
                 },
                 2.0, std::nullopt, std::nullopt},
        // Collinear nodes (no area) and nearly collinear ones, where the
        // orientation of single triangles decides the corner order.
        WalkCase{"zero_increment", geo(0, 0, 0, 1, 9, 8), bumps, 1.0, std::nullopt, std::nullopt},
        WalkCase{"sliver_cells", geo(3, 4, 1e-12, 1e9, 13, 11, 45.0), bumps, 1.0, std::nullopt, std::nullopt},
        WalkCase{"two_by_two", geo(0, 0, 1, 1, 2, 2), [](auto, auto j) { return double(j); }, std::nullopt,
                 Levels({0.5, 0.0, 1.0}), std::nullopt},
        WalkCase{"simplified", geo(500, -40, 25, 12.5, 41, 33, 17.0, true), bumps, 1.0, std::nullopt, 9.0},
        // Large enough that filing and tracing run on several threads.
        WalkCase{"many_levels", geo(0, 0, 10, 10, 220, 160, 8.0),
                 [](auto i, auto j) { return (i * 13 + j * 7) % 101 == 0 ? kNaN : 4.0 * bumps(i, j); }, 2.5,
                 std::nullopt, 3.0},
        // Lattices the walk does not take: the explicit mesh answers, errors
        // included.
        WalkCase{"not_finite_origin", geo(kNaN, 0, 1, 1, 6, 5), bumps, 1.0, std::nullopt, std::nullopt},
        WalkCase{"one_row", geo(0, 0, 1, 1, 6, 1), bumps, 1.0, std::nullopt, std::nullopt},
        WalkCase{"overflowing_positions", geo(1e308, 0, 1e308, 1, 6, 5), bumps, 1.0, std::nullopt, std::nullopt}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(IsoLinesSurface, StructuredShellWithAbsentNodesLeavesTheirCellsOut) {
    // z = x on a 6 x 5 shell whose node (2, 2) has no position: the level
    // 2.5 runs along the column gap between 2 and 3, broken at that node.
    const auto g = geo(0, 0, 1, 1, 6, 5);
    StructuredMeshSurface s = make_structured(g, from_fn(6, 5, [](auto i, auto) { return double(i); }));
    Grid2 x = s.shell->x();
    Grid2 y = s.shell->y();
    x(2, 2) = kNaN;
    auto holed =
        StructuredMeshSurface::make(std::move(x), std::move(y), s.values, g, PolygonSet::from_grid_geometry(g));
    ASSERT_TRUE(holed.has_value());
    auto got = surfaces::iso_lines(*holed, std::nullopt, std::vector<double>{2.5}, std::nullopt, std::nullopt);
    ASSERT_TRUE(got.has_value()) << got.error().display();
    const auto& lines = got->front().second;
    ASSERT_EQ(lines.size(), 2u);
    for (const auto& line : lines)
        for (const auto& p : line) {
            EXPECT_EQ(p[0], 2.5);
            EXPECT_FALSE(p[1] > 1.0 && p[1] < 3.0) << p[1];
        }
}

// ---- drivers: errors and their order ----------------------------------------

struct DriverErrorCase {
    const char* name;
    std::uint64_t ncol;
    std::uint64_t nrow;
    std::optional<double> interval;
    std::optional<std::string> attr;
    ErrorKind kind;
    const char* display;
};

class IsoLinesErrors : public ::testing::TestWithParam<DriverErrorCase> {};

TEST_P(IsoLinesErrors, ComeInTheOrderMeshLaneLevels) {
    const auto& c = GetParam();
    const auto g = geo(0, 0, 1, 1, c.ncol, c.nrow);
    const Grid2 v(c.ncol, c.nrow, 1.0);
    Surface regular = make_surface(g, v);
    ASSERT_TRUE(regular.set_attr("lane", v).has_value());
    std::vector<Result<std::vector<IsoLevel>>> results;
    results.push_back(surfaces::iso_lines(regular, c.interval, std::nullopt, c.attr, std::nullopt));
    if (c.ncol > 0 && c.nrow > 0) {
        StructuredMeshSurface structured = make_structured(g, v);
        ASSERT_TRUE(structured.set_attr("lane", v).has_value());
        results.push_back(surfaces::iso_lines(structured, c.interval, std::nullopt, c.attr, std::nullopt));
    }
    if (c.ncol > 1 && c.nrow > 1) {
        TriSurface tri = make_tri(g, v);
        ASSERT_TRUE(tri.set_attr("lane", std::vector<double>(tri.values.size(), 1.0)).has_value());
        results.push_back(surfaces::iso_lines(tri, c.interval, std::nullopt, c.attr, std::nullopt));
    }
    for (std::size_t k = 0; k < results.size(); ++k) {
        ASSERT_FALSE(results[k].has_value()) << "surface kind " << k;
        EXPECT_EQ(results[k].error().kind(), c.kind) << "surface kind " << k;
        EXPECT_EQ(results[k].error().display(), c.display) << "surface kind " << k;
    }
}

INSTANTIATE_TEST_SUITE_P(
    Table, IsoLinesErrors,
    ::testing::Values(
        DriverErrorCase{"single_row_before_lane_and_levels", 4, 1, std::nullopt, std::string("nope"),
                        ErrorKind::GeometryInference,
                        "geometry inference failed: structured shell has no complete cell to triangulate"},
        DriverErrorCase{"single_column", 1, 4, 1.0, std::nullopt, ErrorKind::GeometryInference,
                        "geometry inference failed: structured shell has no complete cell to triangulate"},
        DriverErrorCase{"no_columns", 0, 3, 1.0, std::nullopt, ErrorKind::GeometryMismatch,
                        "geometry mismatch: StructuredShell::new: shape must be non-empty"},
        DriverErrorCase{"lane_before_levels", 3, 3, std::nullopt, std::string("nope"), ErrorKind::NotFound,
                        "not found: no attribute layer 'nope'"},
        DriverErrorCase{"lane_names_are_exact", 3, 3, 1.0, std::string("Lane"), ErrorKind::NotFound,
                        "not found: no attribute layer 'Lane'"},
        DriverErrorCase{"levels", 3, 3, std::nullopt, std::string("lane"), ErrorKind::OutOfRange,
                        "out of range: iso_lines: provide an interval or explicit levels"},
        DriverErrorCase{"interval", 3, 3, 0.0, std::nullopt, ErrorKind::OutOfRange,
                        "out of range: iso-line interval must be a finite positive number, got 0"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(IsoLinesErrors, LaneOfTheWrongShapeIsRefusedNotReadOutOfBounds) {
    Surface s = make_surface(geo(0, 0, 1, 1, 3, 3), Grid2(3, 3, 0.0));
    s.values = Grid2(2, 2, 0.0);  // fields are public; the driver must not trust them
    auto got = surfaces::iso_lines(s, 1.0, std::nullopt, std::nullopt, std::nullopt);
    ASSERT_FALSE(got.has_value());
    EXPECT_EQ(got.error().kind(), ErrorKind::GeometryMismatch);

    TriSurface t = make_tri(geo(0, 0, 1, 1, 3, 3), Grid2(3, 3, 0.0));
    t.values.pop_back();
    auto tri = surfaces::iso_lines(t, 1.0, std::nullopt, std::nullopt, std::nullopt);
    ASSERT_FALSE(tri.has_value());
    EXPECT_EQ(tri.error().display(), "geometry mismatch: TriSurface iso-lines: 8 lane values for 9 shell nodes");
}

// ---- the lattice meshes ---------------------------------------------------------

class QuadMeshes : public ::testing::TestWithParam<GridGeometry> {};

TEST_P(QuadMeshes, MatchTheMeshShellOfTheLattice) {
    const GridGeometry& g = GetParam();
    auto mine = surfaces::quad_mesh(g);
    auto theirs = MeshShell::from_grid_geometry(g);
    ASSERT_EQ(mine.has_value(), theirs.has_value());
    if (!mine) {
        EXPECT_EQ(mine.error().display(), theirs.error().display());
        return;
    }
    ASSERT_EQ(mine->nodes.size(), theirs->nodes().size());
    for (std::size_t k = 0; k < mine->nodes.size(); ++k) {
        EXPECT_TRUE(same_bits(mine->nodes[k][0], theirs->nodes()[k][0]) &&
                    same_bits(mine->nodes[k][1], theirs->nodes()[k][1]))
            << k;
        const auto& label = theirs->labels()[k];
        ASSERT_TRUE(label.has_value());
        EXPECT_EQ(mine->cells[k], std::size_t(label->i) * g.nrow + std::size_t(label->j)) << k;
    }
    EXPECT_EQ(mine->triangles, theirs->triangles());
}

INSTANTIATE_TEST_SUITE_P(Table, QuadMeshes,
                         ::testing::Values(geo(0, 0, 1, 1, 2, 2), geo(10, 20, 2.5, 4, 5, 3),
                                           geo(10, 20, 2.5, 4, 5, 3, 33.0), geo(10, 20, 2.5, 4, 5, 3, 0.0, true),
                                           geo(10, 20, 2.5, 4, 4, 6, -120.0, true), geo(0, 0, 1, 1, 1, 5),
                                           geo(0, 0, 1, 1, 5, 1), geo(0, 0, 1, 1, 0, 5), geo(kNaN, 0, 1, 1, 3, 3)));

TEST(QuadMeshes, StructuredShellWithAbsentNodesMatchesItsMeshShell) {
    Grid2 x = from_fn(5, 4, [](auto i, auto j) { return double(i) + 0.1 * double(j); });
    Grid2 y = from_fn(5, 4, [](auto i, auto j) { return double(j) - 0.2 * double(i); });
    x(1, 1) = kNaN;
    y(3, 2) = kInf;
    x(4, 3) = kNaN;
    auto shell = StructuredShell::make(x, y, std::nullopt, PolygonSet{});
    ASSERT_TRUE(shell.has_value());
    auto mine = surfaces::quad_mesh(*shell);
    auto theirs = shell->to_mesh_shell();
    ASSERT_TRUE(mine.has_value() && theirs.has_value());
    ASSERT_EQ(mine->nodes.size(), 17u);
    EXPECT_EQ(mine->nodes, theirs->nodes());
    EXPECT_EQ(mine->triangles, theirs->triangles());
}

// ---- simplification -------------------------------------------------------------

struct SimplifyCase {
    const char* name;
    Polyline in;
    double tol;
    Polyline expected;
};

class Simplify : public ::testing::TestWithParam<SimplifyCase> {};

TEST_P(Simplify, KeepsTheExpectedPoints) {
    const auto& c = GetParam();
    EXPECT_EQ(surfaces::simplify_polyline(c.in, c.tol), c.expected);
}

const Polyline kBump{{0, 0}, {1, 0.1}, {2, 0}};
const Polyline kSquare{{0, 0}, {1, 0}, {2, 0}, {2, 2}, {0, 2}, {0, 0}};
const Polyline kSliver{{0, 0}, {1, 0.01}, {2, 0}, {1, -0.01}, {0, 0}};

INSTANTIATE_TEST_SUITE_P(
    Table, Simplify,
    ::testing::Values(
        SimplifyCase{"open_dropped", kBump, 0.2, {{0, 0}, {2, 0}}},
        SimplifyCase{"open_kept", kBump, 0.05, kBump},
        SimplifyCase{"exactly_at_tolerance_dropped", {{0, 0}, {1, 0.5}, {2, 0}}, 0.5, {{0, 0}, {2, 0}}},
        SimplifyCase{"tolerance_zero", kBump, 0.0, kBump},
        SimplifyCase{"tolerance_negative", kBump, -1.0, kBump},
        SimplifyCase{"tolerance_nan", kBump, kNaN, kBump},
        SimplifyCase{"tolerance_inf", kBump, kInf, kBump},
        SimplifyCase{"two_points", {{0, 0}, {5, 5}}, 1.0, {{0, 0}, {5, 5}}},
        SimplifyCase{"first_maximum_wins", {{0, 0}, {1, 1}, {2, 1}, {3, 0}}, 0.5, {{0, 0}, {1, 1}, {3, 0}}},
        SimplifyCase{"open_line_keeps_both_ends", {{0, 0}, {1, 0}, {2, 0}, {3, 0}, {4, 0}}, 10.0, {{0, 0}, {4, 0}}},
        SimplifyCase{"ring_cut_at_farthest_point", kSquare, 0.1, {{0, 0}, {2, 0}, {2, 2}, {0, 2}, {0, 0}}},
        SimplifyCase{"ring_that_would_collapse", kSliver, 0.1, kSliver},
        SimplifyCase{"ring_of_four", {{0, 0}, {1, 0}, {0, 1}, {0, 0}}, 5.0, {{0, 0}, {1, 0}, {0, 1}, {0, 0}}}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(Simplify, NanEndMakesALineOpen) {
    // Not a ring (NaN never equals NaN), so the ring rule of keeping at
    // least four points does not apply: both ends stay, nothing else.
    const Polyline in{{kNaN, 0}, {1, 5}, {2, 0}, {3, 5}, {kNaN, 0}};
    const Polyline out = surfaces::simplify_polyline(in, 100.0);
    ASSERT_EQ(out.size(), 2u);
    EXPECT_TRUE(std::isnan(out.front()[0]) && std::isnan(out.back()[0]));
}

TEST(Simplify, LongZigzagIsHandledWithoutDeepRecursion) {
    // Every point is kept, so a recursive marking would nest once per point.
    Polyline zig;
    for (int k = 0; k < 200000; ++k) zig.push_back({double(k), double(k) * double(k) * 1e-3});
    const Polyline out = surfaces::douglas_peucker(zig, 1e-9);
    EXPECT_EQ(out.size(), zig.size());
}

}  // namespace
}  // namespace vz
