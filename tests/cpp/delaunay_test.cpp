#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <limits>
#include <map>
#include <ostream>
#include <random>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "core/geometry/delaunay.hpp"
#include "core/geometry/predicates.hpp"

namespace vz::geometry {
namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kInf = std::numeric_limits<double>::infinity();

using Pt = std::array<double, 2>;

struct Cloud {
    std::string name;
    std::vector<Pt> pts;
};

void PrintTo(const Cloud& c, std::ostream* os) { *os << c.name; }

// Convex hull (strict, counter-clockwise) by the monotone chain on exact
// orientation; an independent reference for the area and hull-size checks.
std::vector<Pt> strict_hull(std::vector<Pt> p) {
    std::sort(p.begin(), p.end());
    p.erase(std::unique(p.begin(), p.end()), p.end());
    if (p.size() < 3) return p;
    std::vector<Pt> h(2 * p.size());
    std::size_t k = 0;
    for (std::size_t i = 0; i < p.size(); ++i) {
        while (k >= 2 && orient2d(h[k - 2], h[k - 1], p[i]) <= 0) --k;
        h[k++] = p[i];
    }
    for (std::size_t i = p.size() - 1, t = k + 1; i-- > 0;) {
        while (k >= t && orient2d(h[k - 2], h[k - 1], p[i]) <= 0) --k;
        h[k++] = p[i];
    }
    h.resize(k - 1);
    return h;
}

double polygon_area(const std::vector<Pt>& ring) {
    double a = 0.0;
    for (std::size_t i = 0; i < ring.size(); ++i) {
        const Pt& p = ring[i];
        const Pt& q = ring[(i + 1) % ring.size()];
        a += (p[0] - ring[0][0]) * (q[1] - ring[0][1]) - (q[0] - ring[0][0]) * (p[1] - ring[0][1]);
    }
    return 0.5 * a;
}

bool on_segment(const Pt& a, const Pt& b, const Pt& p) {
    return orient2d(a, b, p) == 0.0 && std::min(a[0], b[0]) <= p[0] && p[0] <= std::max(a[0], b[0]) &&
           std::min(a[1], b[1]) <= p[1] && p[1] <= std::max(a[1], b[1]);
}

/// Checks everything a Delaunay triangulation of `pts` must satisfy.
void check_triangulation(const std::vector<Pt>& pts, const std::vector<Triangle>& tris) {
    // Distinct points and the lowest index of each.
    std::map<Pt, std::uint32_t> first;
    for (std::uint32_t k = 0; k < pts.size(); ++k) first.emplace(pts[k], k);
    std::vector<Pt> distinct;
    for (const auto& [p, k] : first) distinct.push_back(p);
    const std::vector<Pt> hull = strict_hull(distinct);
    ASSERT_GE(hull.size(), 3u);

    // Every triangle counter-clockwise and non-degenerate; each directed edge
    // used once, each undirected edge by at most two triangles.
    std::set<std::pair<std::uint32_t, std::uint32_t>> directed;
    std::set<std::uint32_t> used;
    double area = 0.0;
    for (const Triangle& t : tris) {
        for (std::uint32_t v : t) {
            ASSERT_LT(v, pts.size());
            used.insert(v);
        }
        ASSERT_GT(orient2d(pts[t[0]], pts[t[1]], pts[t[2]]), 0.0);
        for (int e = 0; e < 3; ++e) {
            ASSERT_TRUE(directed.insert({t[e], t[(e + 1) % 3]}).second) << "directed edge used twice";
        }
        area += 0.5 * ((pts[t[1]][0] - pts[t[0]][0]) * (pts[t[2]][1] - pts[t[0]][1]) -
                       (pts[t[2]][0] - pts[t[0]][0]) * (pts[t[1]][1] - pts[t[0]][1]));
    }
    // Every distinct point is a vertex, under its lowest index.
    std::set<std::uint32_t> want_used;
    for (const auto& [p, k] : first) want_used.insert(k);
    ASSERT_EQ(used, want_used);

    // Boundary edges (no reverse twin) lie on the hull; their count is the
    // number of points on the hull boundary, and the triangle count follows.
    std::size_t boundary = 0;
    for (const auto& [a, b] : directed) {
        if (directed.count({b, a})) continue;
        ++boundary;
        bool on_hull = false;
        for (std::size_t i = 0; i < hull.size() && !on_hull; ++i) {
            const Pt& h0 = hull[i];
            const Pt& h1 = hull[(i + 1) % hull.size()];
            on_hull = on_segment(h0, h1, pts[a]) && on_segment(h0, h1, pts[b]);
        }
        ASSERT_TRUE(on_hull) << "boundary edge off the hull";
    }
    std::size_t on_boundary = 0;
    for (const Pt& p : distinct) {
        for (std::size_t i = 0; i < hull.size(); ++i) {
            if (on_segment(hull[i], hull[(i + 1) % hull.size()], p)) {
                ++on_boundary;
                break;
            }
        }
    }
    EXPECT_EQ(boundary, on_boundary);
    EXPECT_EQ(tris.size(), 2 * distinct.size() - 2 - on_boundary);
    // Rounding in both area sums scales with the squared extent, which
    // matters for nearly flat hulls.
    const double hull_area = polygon_area(hull);
    double extent = 0.0;
    for (const Pt& h : hull) extent = std::max({extent, std::fabs(h[0] - hull[0][0]), std::fabs(h[1] - hull[0][1])});
    EXPECT_NEAR(area, hull_area, 1e-9 * hull_area + 1e-14 * extent * extent * double(tris.size() + hull.size()));

    // Empty circumcircles, by brute force over every point.
    for (const Triangle& t : tris) {
        for (const Pt& p : distinct) {
            ASSERT_LE(incircle(pts[t[0]], pts[t[1]], pts[t[2]], p), 0.0)
                << "point (" << p[0] << ", " << p[1] << ") inside a circumcircle";
        }
    }
}

std::vector<Pt> lattice(int ni, int nj, double angle, double step_i, double step_j, double ox, double oy) {
    std::vector<Pt> p;
    const double c = std::cos(angle), s = std::sin(angle);
    for (int j = 0; j < nj; ++j) {
        for (int i = 0; i < ni; ++i) {
            const double u = i * step_i, v = j * step_j;
            p.push_back({ox + u * c - v * s, oy + u * s + v * c});
        }
    }
    return p;
}

std::vector<Cloud> clouds() {
    std::vector<Cloud> out;
    std::mt19937_64 rng(2024);
    std::uniform_real_distribution<double> u(0.0, 1.0);
    {
        std::vector<Pt> p;
        for (int k = 0; k < 700; ++k) p.push_back({u(rng), u(rng)});
        out.push_back({"random", p});
    }
    {
        // Many points on a few lines (horizontal, vertical, diagonal), plus
        // a sprinkle of general points.
        std::vector<Pt> p;
        for (int k = 0; k < 100; ++k) {
            p.push_back({k * 0.01, 0.5});
            p.push_back({0.25, k * 0.013});
            p.push_back({k * 0.007, k * 0.007});
        }
        for (int k = 0; k < 60; ++k) p.push_back({u(rng), u(rng)});
        out.push_back({"collinear_heavy", p});
    }
    {
        // Integer points in a small square: most of them repeat.
        std::uniform_int_distribution<int> c(0, 12);
        std::vector<Pt> p;
        for (int k = 0; k < 600; ++k) p.push_back({double(c(rng)), double(c(rng))});
        out.push_back({"duplicate_heavy", p});
    }
    out.push_back({"lattice", lattice(24, 21, 0.0, 1.0, 1.0, 0.0, 0.0)});
    out.push_back({"lattice_rect_offset", lattice(20, 17, 0.0, 25.0, 12.5, 456000.0, 6780000.0)});
    out.push_back({"lattice_rotated_30deg", lattice(22, 18, 0.5235987755982988, 1.0, 1.0, 3.0, -7.0)});
    out.push_back({"lattice_rotated_world", lattice(19, 23, -0.3, 25.0, 25.0, 512345.6, 6712345.9)});
    {
        // A lattice in cell units as the point-set triangulation builds it:
        // rotated world coordinates divided by the step, never shifted.
        std::vector<Pt> w = lattice(21, 21, 0.7, 50.0, 50.0, 430000.0, 7020000.0);
        const double c = std::cos(0.7), s = std::sin(0.7);
        for (Pt& q : w) q = {(q[0] * c + q[1] * s) / 50.0, (-q[0] * s + q[1] * c) / 50.0};
        out.push_back({"lattice_cell_units", w});
    }
    {
        // Every lattice node three times, listed in a scrambled order.
        std::vector<Pt> base = lattice(12, 10, 0.0, 2.0, 2.0, -5.0, 5.0);
        std::vector<Pt> p;
        for (int rep = 0; rep < 3; ++rep) p.insert(p.end(), base.begin(), base.end());
        std::shuffle(p.begin(), p.end(), rng);
        out.push_back({"lattice_triplicated", p});
    }
    {
        // Exactly cocircular: the integer points of x² + y² = 5² · 13² (= 65²),
        // plus the centre and a ring of lattice points inside.
        std::vector<Pt> p;
        for (int x = -65; x <= 65; ++x) {
            for (int y = -65; y <= 65; ++y) {
                if (x * x + y * y == 65 * 65) p.push_back({double(x), double(y)});
            }
        }
        for (int x = -3; x <= 3; ++x) p.push_back({x * 10.0, 0.0});
        out.push_back({"cocircular", p});
    }
    {
        // A lattice whose nodes are nudged by at most two ulps: nearly
        // cocircular and nearly collinear everywhere, the predicates' hardest
        // regime.
        std::vector<Pt> p = lattice(26, 19, 0.0, 0.1, 0.1, 1000.0, -2000.0);
        std::uniform_int_distribution<int> nudge(-2, 2);
        for (Pt& q : p) {
            for (double& c : q) {
                const int k = nudge(rng);
                for (int i = 0; i < std::abs(k); ++i) c = std::nextafter(c, k > 0 ? kInf : -kInf);
            }
        }
        out.push_back({"ulp_nudged_lattice", p});
    }
    {
        // Magnitudes from near the lower to near the upper accepted bound.
        std::vector<Pt> p;
        std::uniform_int_distribution<int> e(-140, 199);
        auto coord = [&] { return std::ldexp((u(rng) < 0.5 ? -1.0 : 1.0) * (0.5 + 0.5 * u(rng)), e(rng)); };
        for (int k = 0; k < 300; ++k) p.push_back({coord(), coord()});
        p.push_back({0x1p200, 0x1p200});
        p.push_back({-0x1p200, 0x1p200});
        p.push_back({0.0, -0x1p200});
        out.push_back({"extreme_magnitudes", p});
    }
    {
        // Clustered: tight blobs far apart.
        std::normal_distribution<double> g(0.0, 1e-4);
        std::vector<Pt> p;
        for (int c = 0; c < 5; ++c) {
            for (int k = 0; k < 100; ++k) p.push_back({c * 10.0 + g(rng), (c % 2) * 7.0 + g(rng)});
        }
        out.push_back({"clusters", p});
    }
    return out;
}

class DelaunayCloud : public ::testing::TestWithParam<Cloud> {};

TEST_P(DelaunayCloud, IsAValidDelaunayTriangulation) {
    const std::vector<Pt>& pts = GetParam().pts;
    auto tris = delaunay_triangulate(pts);
    ASSERT_TRUE(tris.has_value()) << tris.error().display();
    check_triangulation(pts, *tris);
}

TEST_P(DelaunayCloud, IsDeterministicAndOverloadsAgree) {
    const std::vector<Pt>& pts = GetParam().pts;
    std::vector<double> xs, ys;
    for (const Pt& p : pts) {
        xs.push_back(p[0]);
        ys.push_back(p[1]);
    }
    auto a = delaunay_triangulate(pts);
    auto b = delaunay_triangulate(xs, ys);
    auto c = delaunay_triangulate(pts);
    ASSERT_TRUE(a && b && c);
    EXPECT_EQ(*a, *b);
    EXPECT_EQ(*a, *c);
}

INSTANTIATE_TEST_SUITE_P(Clouds, DelaunayCloud, ::testing::ValuesIn(clouds()),
                         [](const auto& info) { return info.param.name; });

TEST(Delaunay, ManySmallDegenerateSetsFromTinyGrids) {
    // Few points drawn from tiny integer grids (some rotated and rounded):
    // duplicates, collinear runs and cocircular quadruples in every mix.
    std::mt19937_64 rng(31);
    int triangulated = 0;
    for (int trial = 0; trial < 1500; ++trial) {
        const int side = 2 + trial % 5;
        const int count = 3 + static_cast<int>(rng() % 30);
        const double angle = (trial % 3 == 0) ? 0.0 : 0.1 * (trial % 17);
        std::uniform_int_distribution<int> c(0, side - 1);
        std::vector<Pt> pts;
        for (int k = 0; k < count; ++k) {
            const double u = c(rng), v = c(rng);
            pts.push_back({u * std::cos(angle) - v * std::sin(angle), u * std::sin(angle) + v * std::cos(angle)});
        }
        auto tris = delaunay_triangulate(pts);
        ASSERT_TRUE(tris.has_value());
        if (strict_hull(pts).size() < 3) {
            EXPECT_TRUE(tris->empty()) << "trial " << trial;
            continue;
        }
        SCOPED_TRACE(trial);
        check_triangulation(pts, *tris);
        if (::testing::Test::HasFatalFailure()) return;
        ++triangulated;
    }
    EXPECT_GT(triangulated, 1000);
}

TEST(Delaunay, UnitLatticeGivesHalfCellTriangles) {
    // On a square lattice every Delaunay triangle is half a cell, whichever
    // diagonal the tie rule picks; a 5 × 5 lattice has 32 of them. Rotated
    // lattices are rounded, so nearly collinear boundary nodes may also close
    // a sliver against the hull; nothing else may appear.
    for (double angle : {0.0, 0.25, 1.1}) {
        const std::vector<Pt> pts = lattice(5, 5, angle, 1.0, 1.0, 0.0, 0.0);
        auto tris = delaunay_triangulate(pts);
        ASSERT_TRUE(tris.has_value());
        int halves = 0;
        for (const Triangle& t : *tris) {
            const double a2 = orient2d(pts[t[0]], pts[t[1]], pts[t[2]]);
            if (std::fabs(a2 - 1.0) < 1e-12) {
                ++halves;
            } else {
                EXPECT_NE(angle, 0.0);
                EXPECT_LT(a2, 1e-12);
            }
        }
        EXPECT_EQ(halves, 32) << angle;
        if (angle == 0.0) {
            EXPECT_EQ(tris->size(), 32u);
        }
    }
}

TEST(Delaunay, DegenerateInputsGiveNoTriangles) {
    const struct {
        const char* name;
        std::vector<Pt> pts;
    } cases[] = {
        {"empty", {}},
        {"one", {{1.0, 2.0}}},
        {"two", {{1.0, 2.0}, {3.0, 4.0}}},
        {"one_point_repeated", {{1.0, 2.0}, {1.0, 2.0}, {1.0, 2.0}, {1.0, 2.0}}},
        {"two_points_repeated", {{1.0, 2.0}, {3.0, 4.0}, {1.0, 2.0}, {3.0, 4.0}, {1.0, 2.0}}},
        {"collinear", {{0.0, 0.0}, {3.0, 3.0}, {1.0, 1.0}, {-2.0, -2.0}, {1.0, 1.0}, {2.5, 2.5}}},
        {"vertical", {{4.0, 0.0}, {4.0, 9.0}, {4.0, -1.0}, {4.0, 3.0}}},
    };
    for (const auto& c : cases) {
        auto tris = delaunay_triangulate(c.pts);
        ASSERT_TRUE(tris.has_value()) << c.name;
        EXPECT_TRUE(tris->empty()) << c.name;
    }
}

TEST(Delaunay, DuplicatesKeepTheLowestIndex) {
    // The square's corners, each repeated; index 0 and 4 name the same point.
    const std::vector<Pt> pts = {{1.0, 1.0}, {0.0, 0.0}, {1.0, 0.0}, {0.0, 0.0}, {1.0, 1.0},
                                 {0.0, 1.0}, {1.0, 0.0}, {0.0, 1.0}, {-0.0, 0.0}};
    auto tris = delaunay_triangulate(pts);
    ASSERT_TRUE(tris.has_value());
    ASSERT_EQ(tris->size(), 2u);
    std::set<std::uint32_t> used;
    for (const Triangle& t : *tris) used.insert(t.begin(), t.end());
    EXPECT_EQ(used, (std::set<std::uint32_t>{0, 1, 2, 5}));
}

TEST(Delaunay, RejectsUnusableCoordinates) {
    const double tiny = 0x1p-143;
    const double huge = 0x1p202;
    const struct {
        std::vector<Pt> pts;
        const char* reason;
    } cases[] = {
        {{{0.0, 0.0}, {kNaN, 1.0}, {1.0, 1.0}}, "NAN"},
        {{{0.0, 0.0}, {1.0, kInf}, {1.0, 1.0}}, "TooLarge"},
        {{{0.0, 0.0}, {-kInf, 0.0}, {1.0, 1.0}}, "TooLarge"},
        {{{0.0, 0.0}, {1.0, -huge}, {1.0, 1.0}}, "TooLarge"},
        {{{0.0, 0.0}, {tiny, 1.0}, {1.0, 1.0}}, "TooSmall"},
        {{{0.0, 0.0}, {1.0, -5e-324}, {1.0, 1.0}}, "TooSmall"},
        // The first offending point decides, and x is tested before y.
        {{{0.0, kNaN}, {kInf, 0.0}, {1.0, 1.0}}, "NAN"},
        {{{tiny, kNaN}, {1.0, 0.0}, {1.0, 1.0}}, "TooSmall"},
        {{{huge, tiny}, {1.0, 0.0}, {1.0, 1.0}}, "TooLarge"},
        // Fewer than three points are still checked.
        {{{kNaN, 0.0}}, "NAN"},
    };
    for (const auto& c : cases) {
        auto tris = delaunay_triangulate(c.pts);
        ASSERT_FALSE(tris.has_value()) << c.reason;
        EXPECT_EQ(tris.error().kind(), ErrorKind::GeometryInference);
        EXPECT_EQ(tris.error().message(), std::string("triangulation rejected a point: ") + c.reason);
    }
    // The bounds themselves, zero and negative zero are accepted.
    const std::vector<Pt> edge = {{0.0, -0.0}, {0x1p201, 0x1p-142}, {-0x1p-142, 0x1p201}};
    auto ok = delaunay_triangulate(edge);
    ASSERT_TRUE(ok.has_value());
    EXPECT_EQ(ok->size(), 1u);
}

TEST(Delaunay, MismatchedCoordinateListsAreRefused) {
    const std::vector<double> xs = {0.0, 1.0, 2.0};
    const std::vector<double> ys = {0.0, 1.0};
    auto tris = delaunay_triangulate(xs, ys);
    ASSERT_FALSE(tris.has_value());
    EXPECT_EQ(tris.error().kind(), ErrorKind::GeometryMismatch);
    EXPECT_EQ(tris.error().message(), "triangulation needs as many x as y coordinates (3 vs 2)");
}

TEST(Delaunay, LargerRandomAndLatticeInputsStayLocallyDelaunay) {
    // Big enough for many insertion rounds and long walks; checked edge by
    // edge (every interior edge locally Delaunay implies global Delaunay).
    std::mt19937_64 rng(77);
    std::uniform_real_distribution<double> u(-1e3, 1e3);
    std::vector<std::vector<Pt>> inputs;
    {
        std::vector<Pt> p;
        for (int k = 0; k < 20000; ++k) p.push_back({u(rng), u(rng)});
        inputs.push_back(p);
    }
    inputs.push_back(lattice(150, 130, 0.0, 1.0, 1.0, 0.0, 0.0));
    inputs.push_back(lattice(140, 120, 0.4, 25.0, 25.0, 600000.0, 5000000.0));
    for (const auto& pts : inputs) {
        auto tris = delaunay_triangulate(pts);
        ASSERT_TRUE(tris.has_value());
        std::map<std::pair<std::uint32_t, std::uint32_t>, std::uint32_t> apex;  // directed edge -> opposite vertex
        for (const Triangle& t : *tris) {
            ASSERT_GT(orient2d(pts[t[0]], pts[t[1]], pts[t[2]]), 0.0);
            for (int e = 0; e < 3; ++e) {
                ASSERT_TRUE(apex.emplace(std::pair{t[e], t[(e + 1) % 3]}, t[(e + 2) % 3]).second);
            }
        }
        std::size_t boundary = 0;
        for (const auto& [edge, c] : apex) {
            auto twin = apex.find({edge.second, edge.first});
            if (twin == apex.end()) {
                ++boundary;
                continue;
            }
            ASSERT_LE(incircle(pts[edge.first], pts[edge.second], pts[c], pts[twin->second]), 0.0);
        }
        // Euler: for distinct points with h on the boundary, T = 2n - 2 - h.
        EXPECT_EQ(tris->size(), 2 * pts.size() - 2 - boundary);
    }
}

}  // namespace
}  // namespace vz::geometry
