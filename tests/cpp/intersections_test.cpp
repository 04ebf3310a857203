#include <fmt/format.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdint>
#include <functional>
#include <limits>
#include <optional>
#include <random>
#include <string>
#include <vector>

#include "algorithms/intersections.hpp"
#include "core/trajectory.hpp"
#include "foundation/error.hpp"
#include "foundation/result.hpp"

namespace vz {
namespace {

using intersections::Point3;
using intersections::TriangleIndices;

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kInf = std::numeric_limits<double>::infinity();
constexpr double kTol = 1e-3;

/// A hand-made surface: a fixed mesh, or a fixed conversion failure.
class MeshSource final : public TriangleMeshSource {
public:
    explicit MeshSource(TriangleMesh mesh) : result_(std::move(mesh)) {}
    explicit MeshSource(Error error) : result_(std::unexpected(std::move(error))) {}
    Result<TriangleMesh> triangle_mesh() const override { return result_; }

private:
    Result<TriangleMesh> result_;
};

/// A regular mesh over [x0, x0 + n*h] x [y0, y0 + n*h], elevation z(x, y),
/// two triangles per cell.
TriangleMesh grid_mesh(int n, double h, const std::function<double(double, double)>& z, double x0 = 0.0,
                       double y0 = 0.0) {
    TriangleMesh m;
    for (int j = 0; j <= n; ++j)
        for (int i = 0; i <= n; ++i) {
            const double x = x0 + i * h;
            const double y = y0 + j * h;
            m.vertices.push_back({x, y, z(x, y)});
        }
    const auto id = [n](int i, int j) { return static_cast<std::uint32_t>(j * (n + 1) + i); };
    for (int j = 0; j < n; ++j)
        for (int i = 0; i < n; ++i) {
            m.triangles.push_back({id(i, j), id(i + 1, j), id(i + 1, j + 1)});
            m.triangles.push_back({id(i, j), id(i + 1, j + 1), id(i, j + 1)});
        }
    return m;
}

TriangleMesh flat(double elevation) {
    return grid_mesh(10, 100.0, [elevation](double, double) { return elevation; });
}

/// A trajectory through the given (md, x, y, subsea tvd) stations, straight
/// between them.
Trajectory path(const std::vector<std::array<double, 4>>& rows) {
    std::vector<Station> stations;
    for (const auto& r : rows) stations.push_back(Station{r[0], r[1], r[2], r[3], std::nullopt});
    auto t = Trajectory::from_station_records(std::move(stations));
    EXPECT_TRUE(t.has_value());
    return *t;
}

/// Vertical hole at (x, y) from tvd 0 to `depth`, md = tvd.
Trajectory vertical(double x, double y, double depth, int stations = 2) {
    std::vector<std::array<double, 4>> rows;
    for (int k = 0; k < stations; ++k) {
        const double d = depth * k / (stations - 1);
        rows.push_back({d, x, y, d});
    }
    return path(rows);
}

Result<std::vector<SurfaceIntersection>> cross(const Trajectory& t, const TriangleMesh& mesh, double tol = kTol) {
    return intersections::intersect_trajectory_surface(t, MeshSource(mesh), tol);
}

std::vector<double> mds_of(const std::vector<SurfaceIntersection>& v) {
    std::vector<double> out;
    for (const auto& s : v) out.push_back(s.md);
    return out;
}

// ---------------------------------------------------------------------------
// Geometric primitives

TEST(IntersectionPrimitives, PointInTriangleUsesScaledEdgeSlack) {
    const Point3 a{0, 0, 0}, b{10, 0, 0}, c{0, 10, 0};
    // Slack is tolerance / max(1, |e1|, |e2|) = 0.1 / 10 = 0.01 in barycentric
    // terms, i.e. 0.1 in length along an edge of 10.
    struct Case {
        Point3 p;
        bool inside;
    };
    const Case cases[] = {
        {{1, 1, 0}, true},        {{1, 1, 50}, true},  // projected onto the plane
        {{-0.09, 5, 0}, true},    {{-0.11, 5, 0}, false}, {{5.04, 5.04, 0}, true},
        {{5.06, 5.06, 0}, false}, {{kNaN, 1, 0}, false},
    };
    for (const auto& c2 : cases)
        EXPECT_EQ(intersections::point_in_triangle(c2.p, a, b, c, 0.1), c2.inside)
            << c2.p[0] << "," << c2.p[1] << "," << c2.p[2];
    // A needle whose Gram determinant is below 2^-52 holds no point, even its
    // own vertex.
    const Point3 n1{0, 0, 0}, n2{1e-5, 0, 0}, n3{0, 1e-4, 0};
    EXPECT_FALSE(intersections::point_in_triangle(n1, n1, n2, n3, 1.0));
    EXPECT_FALSE(intersections::point_in_triangle(a, a, a, c, 1.0));
}

TEST(IntersectionPrimitives, SegmentTestHasUnscaledParameterSlack) {
    const Point3 a{0, 0, 0}, b{10, 0, 0}, c{0, 10, 0};
    struct Case {
        Point3 p0, p1;
        bool hit;
        double t;
    };
    const Case cases[] = {
        {{1, 1, 1}, {1, 1, -1}, true, 0.5},
        {{1, 1, 2}, {1, 1, 0}, true, 1.0},
        // Line meets the plane at t = 1.0005: inside the slack, clamped.
        {{1, 1, 2.001}, {1, 1, 0.001}, true, 1.0},
        {{1, 1, 2.01}, {1, 1, 0.01}, false, 0.0},
        // Parallel to the plane: no hit.
        {{1, 1, 0}, {2, 2, 0}, false, 0.0},
        // Outside the triangle.
        {{20, 20, 1}, {20, 20, -1}, false, 0.0},
    };
    for (const auto& k : cases) {
        const auto [hit, t] = intersections::segment_triangle_crossing(k.p0, k.p1, a, b, c, kTol);
        EXPECT_EQ(hit, k.hit) << k.p0[2] << ".." << k.p1[2];
        if (k.hit) {
            EXPECT_DOUBLE_EQ(t, k.t);
        }
    }
}

TEST(IntersectionPrimitives, CoplanarNeedsAreaContactAndLength) {
    const Point3 a{0, 0, 0}, b{10, 0, 0}, c{0, 10, 0};
    struct Case {
        Point3 p0, p1, ta, tb, tc;
        bool coplanar;
    };
    const Case cases[] = {
        {{1, 1, 0}, {3, 3, 0}, a, b, c, true},
        {{1, 1, 0.0009}, {3, 3, -0.0009}, a, b, c, true},
        {{1, 1, 0.002}, {3, 3, 0}, a, b, c, false},          // an end too far off the plane
        {{1, 1, 0}, {1.0005, 1, 0}, a, b, c, false},          // chord not longer than the tolerance
        {{20, 20, 0}, {30, 30, 0}, a, b, c, false},           // in the plane, off the triangle
        {{1, 1, 0}, {3, 3, 0}, a, a, c, false},               // zero normal
    };
    for (const auto& k : cases)
        EXPECT_EQ(intersections::segment_coplanar_with_triangle(k.p0, k.p1, k.ta, k.tb, k.tc, kTol), k.coplanar);
}

TEST(IntersectionPrimitives, EnvelopesArePaddedBoxes) {
    const auto s = intersections::segment_envelope({3, -1, 5}, {1, 2, -5}, 0.5);
    EXPECT_EQ(s.min, (Point3{0.5, -1.5, -5.5}));
    EXPECT_EQ(s.max, (Point3{3.5, 2.5, 5.5}));
    const auto t = intersections::triangle_envelope({0, 5, 1}, {2, -1, 1}, {-3, 0, 4}, 1.0);
    EXPECT_EQ(t.min, (Point3{-4, -2, 0}));
    EXPECT_EQ(t.max, (Point3{3, 6, 5}));
}

TEST(IntersectionPrimitives, MedianEdgeLength) {
    const std::vector<Point3> v = {{0, 0, 0}, {3, 0, 0}, {0, 4, 0}, {0, 0, kNaN}, {6, 0, 0}, {6, 8, 0}};
    const std::vector<TriangleIndices> t = {{0, 1, 2}, {0, 0, 0}, {0, 4, 5}};
    struct Case {
        std::vector<std::size_t> candidates;
        double median;
    };
    const Case cases[] = {
        {{}, 1.0},         // nothing measurable
        {{1}, 1.0},        // only zero-length edges
        {{0}, 4.0},        // 3, 4, 5
        {{0, 2}, 6.0},     // 3, 4, 5, 6, 8, 10: upper of the two middle values
    };
    for (const auto& c : cases) EXPECT_DOUBLE_EQ(intersections::median_edge_length(v, t, c.candidates), c.median);
}

TEST(IntersectionPrimitives, SubdivisionLeaves) {
    const auto straight = vertical(0, 0, 100);
    // A quarter circle of radius ~573 m: from vertical to horizontal over
    // 900 m of hole, positioned by minimum curvature.
    std::vector<SurveyStation> rows = {{0, 0, 90}, {900, 90, 90}};
    const auto arc = *Trajectory::from_source(TrajectorySource::survey(rows), 0, 0, 0);
    struct Case {
        const char* name;
        const Trajectory* trajectory;
        double md0, md1;
        unsigned depth;
        double step, tolerance;
        std::size_t leaves;  // 0: only check the leaf invariants
    };
    const Case cases[] = {
        {"chord splits", &straight, 0, 100, 0, 40, kTol, 16},
        {"chord short enough", &straight, 0, 100, 0, 400, kTol, 1},
        {"depth 22 may split twice", &straight, 0, 100, 22, 1e-9, kTol, 4},
        {"depth 23 may split once", &straight, 0, 100, 23, 1e-9, kTol, 2},
        {"depth 24 is a leaf", &straight, 0, 100, 24, 1e-9, kTol, 1},
        {"span below a quarter tolerance", &straight, 50, 50.0002, 0, 1e-9, kTol, 1},
        {"midpoint without position", &straight, 0, 300, 0, 1e-9, kTol, 1},
        {"curvature splits", &arc, 0, 900, 0, 1e9, kTol, 0},
    };
    for (const auto& c : cases) {
        const auto p0 = c.trajectory->xyz(c.md0).value_or(Point3{0, 0, 0});
        const auto p1 = c.trajectory->xyz(c.md1).value_or(Point3{0, 0, 0});
        std::vector<intersections::TrajectorySegment> leaves;
        intersections::subdivide_md_interval(c.md0, p0, c.md1, p1, c.depth, c.step, c.tolerance, *c.trajectory,
                                             leaves);
        ASSERT_FALSE(leaves.empty()) << c.name;
        if (c.leaves != 0) {
            EXPECT_EQ(leaves.size(), c.leaves) << c.name;
        }
        // Leaves tile [md0, md1] in order, carrying the positions of their ends.
        EXPECT_EQ(leaves.front().md0, c.md0) << c.name;
        EXPECT_EQ(leaves.back().md1, c.md1) << c.name;
        for (std::size_t k = 0; k < leaves.size(); ++k) {
            const auto& l = leaves[k];
            EXPECT_LT(l.md0, l.md1) << c.name;
            if (k > 0) {
                EXPECT_EQ(l.md0, leaves[k - 1].md1) << c.name;
            }
            if (const auto at = c.trajectory->xyz(l.md0)) {
                EXPECT_EQ(l.p0, *at) << c.name;
            }
        }
        if (c.trajectory == &arc) {
            // Every leaf is straight within a quarter of the tolerance.
            EXPECT_GT(leaves.size(), 64u);
            for (const auto& l : leaves) {
                const auto mid = *arc.xyz((l.md0 + l.md1) * 0.5);
                const Point3 chord{(l.p0[0] + l.p1[0]) / 2, (l.p0[1] + l.p1[1]) / 2, (l.p0[2] + l.p1[2]) / 2};
                EXPECT_LE(std::hypot(mid[0] - chord[0], mid[1] - chord[1], mid[2] - chord[2]), 0.25 * kTol);
            }
        }
    }
}

TEST(IntersectionPrimitives, RefineFindsClosestApproach) {
    // Down to 1 m above the plane z = -1000 at md 10, then back up.
    const auto v_path = path({{0, 5, 5, 990}, {10, 5, 5, 999}, {20, 5, 5, 990}});
    const Point3 a{0, 0, -1000}, b{10, 0, -1000}, c{0, 10, -1000};
    struct Case {
        const char* name;
        Point3 tb;  // the triangle's second vertex (a repeat of a gives no area)
        double fallback, lo, hi;
        double md, within;
    };
    const Case cases[] = {
        {"closest approach", b, -1, 0, 20, 10, 1e-5},
        {"closest approach at the bracket's end", b, -1, 0, 8, 8, 1e-5},
        {"no area: towards lo", a, -1, 4, 16, 4, 1e-5},
        {"no position: fallback", b, 7.5, 30, 40, 7.5, 0},
    };
    for (const auto& k : cases)
        EXPECT_NEAR(intersections::refine_crossing_md(k.fallback, k.lo, k.hi, a, k.tb, c, v_path), k.md, k.within)
            << k.name;
}

// ---------------------------------------------------------------------------
// The crossing search

TEST(CrossingSearch, InvalidToleranceFailsBeforeAnythingElse) {
    const double bad[] = {0.0, -0.0, -1e-3, kNaN, kInf, -kInf};
    const auto one_station = path({{100, 0, 0, 100}});
    for (const double tol : bad) {
        auto r = cross(one_station, flat(-50), tol);
        ASSERT_FALSE(r.has_value()) << tol;
        EXPECT_EQ(r.error().kind(), ErrorKind::OutOfRange);
        EXPECT_EQ(r.error().display(), "out of range: intersection tolerance must be finite and positive");
    }
    // A positive subnormal tolerance is valid.
    auto r = cross(path({{0, 450, 470, 0}, {700, 450, 470, 700}, {2000, 450, 470, 2000}}), flat(-1000),
                   std::numeric_limits<double>::denorm_min());
    ASSERT_TRUE(r.has_value());
    ASSERT_EQ(r->size(), 1u);
    EXPECT_NEAR((*r)[0].md, 1000.0, 1e-9);
    // A hole ending exactly on the surface is found at its last md, even
    // when no refined point can come within so small a tolerance.
    auto end = cross(vertical(450, 470, 1000), flat(-1000), std::numeric_limits<double>::denorm_min());
    ASSERT_TRUE(end.has_value());
    ASSERT_EQ(end->size(), 1u);
    EXPECT_EQ((*end)[0].md, 1000.0);
}

TEST(CrossingSearch, NothingToSearch) {
    TriangleMesh all_nan = flat(-1000);
    for (auto& v : all_nan.vertices) v[2] = kNaN;
    TriangleMesh out_of_range = flat(-1000);
    for (auto& t : out_of_range.triangles) t[2] = static_cast<std::uint32_t>(out_of_range.vertices.size());
    struct Case {
        const char* name;
        Trajectory trajectory;
        TriangleMesh mesh;
    };
    const Case cases[] = {
        {"one station", path({{1000, 450, 450, 1000}}), flat(-1000)},
        {"all nodes undefined", vertical(450, 450, 2000), all_nan},
        {"indices beyond the vertices", vertical(450, 450, 2000), out_of_range},
        {"no triangles", vertical(450, 450, 2000), TriangleMesh{flat(-1000).vertices, {}}},
        {"well beside the mesh", vertical(5000, 450, 2000), flat(-1000)},
        {"well stops above", vertical(450, 450, 900), flat(-1000)},
    };
    for (const auto& c : cases) {
        auto r = cross(c.trajectory, c.mesh);
        ASSERT_TRUE(r.has_value()) << c.name << ": " << r.error().display();
        EXPECT_TRUE(r->empty()) << c.name;
    }
}

TEST(CrossingSearch, SingleCrossingsLieOnTheSurfaceAndOnTheTrajectory) {
    const auto tilted = grid_mesh(10, 100.0, [](double x, double y) { return -1000.0 + 0.1 * x - 0.05 * y; });
    struct Case {
        const char* name;
        Trajectory trajectory;
        TriangleMesh mesh;
        std::function<double(double, double)> surface;
    };
    const auto plane = [](double, double) { return -1000.0; };
    const Case cases[] = {
        {"vertical through flat", vertical(450, 470, 2000, 5), flat(-1000), plane},
        {"vertical through a shared vertex", vertical(300, 400, 2000), flat(-1000), plane},
        {"vertical along a shared edge", vertical(300, 450, 2000), flat(-1000), plane},
        {"deviated through tilted", path({{0, 100, 100, 0}, {500, 100, 100, 500}, {1500, 700, 500, 1300}}), tilted,
         [](double x, double y) { return -1000.0 + 0.1 * x - 0.05 * y; }},
        {"upward through flat", path({{0, 450, 450, 1100}, {300, 550, 450, 900}}), flat(-1000), plane},
    };
    for (const auto& c : cases) {
        auto r = cross(c.trajectory, c.mesh);
        ASSERT_TRUE(r.has_value()) << c.name << ": " << r.error().display();
        ASSERT_EQ(r->size(), 1u) << c.name;
        const auto& hit = (*r)[0];
        // Position is the trajectory's own position at the md, exactly.
        const auto at = c.trajectory.xyz(hit.md);
        ASSERT_TRUE(at.has_value());
        EXPECT_EQ(hit.xyz, *at) << c.name;
        // And within a tenth of the tolerance of the surface (vertical
        // distance is at most the plane distance scaled by the slope).
        EXPECT_NEAR(hit.xyz[2], c.surface(hit.xyz[0], hit.xyz[1]), 0.2 * kTol) << c.name;
        EXPECT_FALSE(hit.well || hit.bore || hit.surface) << c.name;
    }
}

TEST(CrossingSearch, FoldCrossedTwiceInMdOrder) {
    // An anticline: crest at x = 500, elevation -900, flanks down to -1100.
    const auto fold_z = [](double x, double) { return -1000.0 + 100.0 * std::cos((x - 500.0) / 500.0 * M_PI); };
    const auto fold = grid_mesh(40, 25.0, fold_z);
    // A horizontal well at elevation -1000 running along x: it enters and
    // leaves the fold at x = 250 and x = 750.
    const auto well = path({{0, 0, 500, 500}, {500, 0, 500, 1000}, {1500, 1000, 500, 1000}});
    auto r = cross(well, fold);
    ASSERT_TRUE(r.has_value()) << r.error().display();
    ASSERT_EQ(r->size(), 2u);
    EXPECT_LT((*r)[0].md, (*r)[1].md);
    // Linear triangles cut the cosine slightly inside; the mesh is fine enough
    // for a metre.
    EXPECT_NEAR((*r)[0].xyz[0], 250.0, 1.0);
    EXPECT_NEAR((*r)[1].xyz[0], 750.0, 1.0);
    for (const auto& hit : *r) EXPECT_EQ(hit.xyz, *well.xyz(hit.md));

    auto single = intersections::intersect_single(well, MeshSource(fold), kTol);
    ASSERT_FALSE(single.has_value());
    EXPECT_EQ(single.error().kind(), ErrorKind::Unsupported);
    EXPECT_EQ(single.error().display(),
              "unsupported: trajectory crosses the surface 2 times; call intersections(...) and select a crossing "
              "explicitly");
}

TEST(CrossingSearch, NearDuplicatesMergeOnlyWhenCloseInMdAndSpace) {
    // Two parallel sheets in one mesh, gap g apart in elevation.
    const auto two_sheets = [](double gap) {
        TriangleMesh a = flat(-1000);
        const TriangleMesh b = flat(-1000 - gap);
        const auto offset = static_cast<std::uint32_t>(a.vertices.size());
        a.vertices.insert(a.vertices.end(), b.vertices.begin(), b.vertices.end());
        for (auto t : b.triangles) a.triangles.push_back({t[0] + offset, t[1] + offset, t[2] + offset});
        return a;
    };
    struct Case {
        double gap;
        std::size_t expected;
    };
    // Thresholds at tolerance 1e-3: 0.126.. in md and 0.004 in space.
    const Case cases[] = {{0.002, 1}, {0.0035, 1}, {0.01, 2}, {0.2, 2}};
    for (const auto& c : cases) {
        const auto well = vertical(450, 450, 2000);
        auto r = cross(well, two_sheets(c.gap));
        ASSERT_TRUE(r.has_value());
        EXPECT_EQ(r->size(), c.expected) << "gap " << c.gap;
        auto single = intersections::intersect_single(well, MeshSource(two_sheets(c.gap)), kTol);
        EXPECT_EQ(single.has_value(), c.expected == 1) << "gap " << c.gap;
    }
}

TEST(CrossingSearch, CoplanarLeafIsUnsupported) {
    // Down to the plane, then along it: the first leaf in the plane names its
    // md range, although a crossing was found before it.
    const auto well = path({{0, 450, 450, 900}, {100, 450, 450, 1000}, {110, 460, 450, 1000}});
    auto r = cross(well, flat(-1000));
    ASSERT_FALSE(r.has_value());
    EXPECT_EQ(r.error().kind(), ErrorKind::Unsupported);
    EXPECT_EQ(r.error().display(),
              "unsupported: trajectory interval 100.000000..110.000000 is coplanar with the surface; intersection is "
              "not a discrete pick");

    // A sheet of triangles that are all degenerate (repeated vertex) never
    // yields a crossing nor the coplanar failure.
    TriangleMesh degenerate = flat(-1000);
    for (auto& t : degenerate.triangles) t[2] = t[1];
    auto d = cross(well, degenerate);
    ASSERT_TRUE(d.has_value()) << d.error().display();
    EXPECT_TRUE(d->empty());
}

TEST(CrossingSearch, LeafEndsNearThePlane) {
    const auto tilted_z = [](double x, double) { return -1000.0 + 0.5 * (x - 450.0); };
    const auto tilted = grid_mesh(10, 100.0, tilted_z);
    struct Case {
        const char* name;
        Trajectory trajectory;
        TriangleMesh mesh;
        std::vector<double> expected_mds;
    };
    const Case cases[] = {
        // The hole stops short of the surface. Its last leaf's line meets the
        // plane within the parameter slack of the segment test, but the hole
        // never comes within the tolerance of the surface: no crossing.
        {"stops 1.5 tolerances above flat", vertical(450, 470, 999.9985), flat(-1000), {}},
        {"stops 1 cm above tilted", vertical(450, 470, 999.99), tilted, {}},
        {"stops 1 cm above tilted, deviated",
         path({{0, 450, 470, 0}, {500, 450, 470, 500}, {500 + 499.99 * std::sqrt(2.0), 450, 970, 999.99}}), tilted,
         {}},
        // Ending exactly on the surface is a crossing at the last md.
        {"ends on flat", vertical(450, 470, 1000), flat(-1000), {1000}},
        {"ends on tilted", vertical(450, 470, 1000), tilted, {1000}},
        // Ending within the tolerance of it is too.
        {"ends half a tolerance above flat", vertical(450, 470, 999.9995), flat(-1000), {999.9995}},
        // Running almost parallel to the surface, from 0.9 to 1.1 tolerances
        // above it, never piercing it: the closest approach, within the
        // tolerance, is the crossing. From 1.1 to 1.3 tolerances: none.
        {"grazes within the tolerance", path({{0, 450, 470, 999.9991}, {20, 470, 470, 999.9989}}), flat(-1000),
         {0}},
        {"grazes beyond the tolerance", path({{0, 450, 470, 999.9989}, {20, 470, 470, 999.9987}}), flat(-1000), {}},
        // Touching within the tolerance and turning back is one crossing.
        {"touches and turns back", path({{0, 450, 470, 990}, {10, 450, 470, 999.9995}, {20, 450, 470, 990}}),
         flat(-1000), {10}},
    };
    for (const auto& c : cases) {
        auto r = cross(c.trajectory, c.mesh);
        ASSERT_TRUE(r.has_value()) << c.name << ": " << r.error().display();
        const auto got = mds_of(*r);
        EXPECT_EQ(got.size(), c.expected_mds.size()) << c.name;
        if (got.size() != c.expected_mds.size()) continue;
        for (std::size_t k = 0; k < got.size(); ++k) EXPECT_NEAR(got[k], c.expected_mds[k], 1e-3) << c.name;
    }
}

TEST(CrossingSearch, UndefinedNodesLeaveHoles) {
    // The node at (500, 500) is undefined: the six triangles around it drop
    // out; a well through the hole finds nothing, one beside it finds the
    // surface.
    TriangleMesh mesh = flat(-1000);
    for (auto& v : mesh.vertices)
        if (v[0] == 500 && v[1] == 500) v[2] = kNaN;
    struct Case {
        double x, y;
        std::size_t n;
    };
    const Case cases[] = {{510, 490, 0}, {490, 510, 0}, {650, 650, 1}, {350, 250, 1}};
    for (const auto& c : cases) {
        auto r = cross(vertical(c.x, c.y, 2000), mesh);
        ASSERT_TRUE(r.has_value());
        EXPECT_EQ(r->size(), c.n) << c.x << "," << c.y;
    }
}

// ---------------------------------------------------------------------------
// Searches in a prepared mesh

/// A randomly folded n x n-cell mesh of spacing h around elevation -1000:
/// cell diagonals chosen at random, triangle list shuffled, some nodes
/// undefined, some triangles pointing past the vertex list or repeating a
/// vertex. With `plateau`, the fold is cut flat at elevation -1000.
TriangleMesh random_folded_mesh(std::mt19937& rng, int n, double h, bool plateau) {
    std::uniform_real_distribution<double> unit(0.0, 1.0);
    const double amp = 50.0 + 150.0 * unit(rng);
    const double lx = 150.0 + 400.0 * unit(rng);
    const double ly = 150.0 + 400.0 * unit(rng);
    const double phase = 6.0 * unit(rng);
    TriangleMesh m;
    for (int j = 0; j <= n; ++j)
        for (int i = 0; i <= n; ++i) {
            const double x = i * h;
            const double y = j * h;
            double z = -1000.0 + amp * std::sin(x / lx + phase) * std::cos(y / ly) + 20.0 * std::sin((x - y) / 90.0);
            if (plateau) z = std::max(z, -1000.0);
            if (unit(rng) < 0.02) z = kNaN;
            m.vertices.push_back({x, y, z});
        }
    const auto id = [n](int i, int j) { return static_cast<std::uint32_t>(j * (n + 1) + i); };
    for (int j = 0; j < n; ++j)
        for (int i = 0; i < n; ++i) {
            if (unit(rng) < 0.5) {
                m.triangles.push_back({id(i, j), id(i + 1, j), id(i + 1, j + 1)});
                m.triangles.push_back({id(i, j), id(i + 1, j + 1), id(i, j + 1)});
            } else {
                m.triangles.push_back({id(i, j), id(i + 1, j), id(i, j + 1)});
                m.triangles.push_back({id(i + 1, j), id(i + 1, j + 1), id(i, j + 1)});
            }
        }
    const auto nv = static_cast<std::uint32_t>(m.vertices.size());
    for (int k = 0; k < 5; ++k) {
        m.triangles.push_back({id(k, 0), nv + static_cast<std::uint32_t>(k), id(k, 1)});
        m.triangles.push_back({id(k, k), id(k, k), id(k + 1, k)});
    }
    std::shuffle(m.triangles.begin(), m.triangles.end(), rng);
    return m;
}

/// A deviated well from a random head inside the mesh's extent: vertical to
/// a random kick-off, building to near horizontal towards a random azimuth,
/// then undulating about horizontal so that it meets the fold again and again.
Trajectory random_deviated_well(std::mt19937& rng, double extent) {
    std::uniform_real_distribution<double> unit(0.0, 1.0);
    const double x = extent * (0.1 + 0.8 * unit(rng));
    const double y = extent * (0.1 + 0.8 * unit(rng));
    const double kickoff = 500.0 + 400.0 * unit(rng);
    const double build = 2.0 + 6.0 * unit(rng);  // degrees per 30 m
    const double target = 70.0 + 25.0 * unit(rng);
    const double azimuth = 360.0 * unit(rng);
    const double swing = 3.0 + 8.0 * unit(rng);
    std::vector<SurveyStation> rows;
    for (double md = 0.0; md <= 2400.0; md += 30.0) {
        double inc = std::clamp((md - kickoff) / 30.0 * build, 0.0, target);
        if (inc == target) inc += swing * std::sin((md - kickoff) / 160.0);
        rows.push_back({md, inc, azimuth + 10.0 * std::sin(md / 400.0)});
    }
    auto t = Trajectory::from_source(TrajectorySource::survey(std::move(rows)), x, y, 0.0);
    EXPECT_TRUE(t.has_value()) << t.error().display();
    return *t;
}

/// A well zigzagging in depth across the mesh on straight legs, from one
/// random point near its edge to another, each leg going through the fold.
Trajectory random_zigzag_well(std::mt19937& rng, double extent) {
    std::uniform_real_distribution<double> unit(0.0, 1.0);
    const double x0 = extent * 0.1 * unit(rng);
    const double y0 = extent * unit(rng);
    const double x1 = extent * (0.9 + 0.1 * unit(rng));
    const double y1 = extent * unit(rng);
    const int legs = 8 + static_cast<int>(8 * unit(rng));
    std::vector<std::array<double, 4>> rows = {{0.0, x0, y0, 0.0}};
    for (int k = 0; k <= legs; ++k) {
        const double f = static_cast<double>(k) / legs;
        const double tvd = (k % 2 == 0 ? 700.0 : 1300.0) + 100.0 * (unit(rng) - 0.5);
        const Point3 p{x0 + f * (x1 - x0), y0 + f * (y1 - y0), tvd};
        const auto& last = rows.back();
        const double md = last[0] + std::hypot(p[0] - last[1], p[1] - last[2], p[2] - last[3]);
        rows.push_back({md, p[0], p[1], p[2]});
    }
    return path(rows);
}

/// Exact equality of two search results: the same error text, or the same
/// crossings in the same order with bit-identical numbers.
void expect_identical(const Result<std::vector<intersections::Crossing>>& fresh,
                      const Result<std::vector<intersections::Crossing>>& prepared, const std::string& where) {
    ASSERT_EQ(fresh.has_value(), prepared.has_value()) << where;
    if (!fresh) {
        EXPECT_EQ(fresh.error().kind(), prepared.error().kind()) << where;
        EXPECT_EQ(fresh.error().display(), prepared.error().display()) << where;
        return;
    }
    ASSERT_EQ(fresh->size(), prepared->size()) << where;
    const auto bits = [](double v) { return std::bit_cast<std::uint64_t>(v); };
    for (std::size_t k = 0; k < fresh->size(); ++k) {
        const auto& f = (*fresh)[k];
        const auto& p = (*prepared)[k];
        EXPECT_EQ(bits(f.md), bits(p.md)) << where << " crossing " << k;
        EXPECT_EQ(bits(f.x), bits(p.x)) << where << " crossing " << k;
        EXPECT_EQ(bits(f.y), bits(p.y)) << where << " crossing " << k;
        EXPECT_EQ(bits(f.z), bits(p.z)) << where << " crossing " << k;
    }
}

TEST(PreparedMesh, SearchesMatchFreshSearchesElementByElement) {
    struct Case {
        unsigned seed;
        int cells;
        double spacing;
        double tolerance;
        bool plateau;
    };
    // Large tolerances merge many near-duplicates, so which of several
    // equal-md crossings is met first decides what survives.
    const Case cases[] = {
        {1, 40, 25.0, 1e-3, false}, {2, 30, 40.0, 0.05, false}, {3, 50, 20.0, 2.0, false},
        {4, 24, 60.0, 0.5, true},   {5, 40, 30.0, 1e-3, true},  {6, 35, 35.0, 5.0, false},
    };
    std::size_t crossings = 0;
    std::size_t failures = 0;
    for (const auto& c : cases) {
        std::mt19937 rng(c.seed);
        const TriangleMesh mesh = random_folded_mesh(rng, c.cells, c.spacing, c.plateau);
        const double extent = c.cells * c.spacing;
        std::vector<Trajectory> wells;
        for (int k = 0; k < 6; ++k) wells.push_back(random_deviated_well(rng, extent));
        for (int k = 0; k < 4; ++k) wells.push_back(random_zigzag_well(rng, extent));
        // Vertical holes through mesh nodes and cell edges: crossings shared
        // by several triangles at exactly the same md.
        wells.push_back(vertical(c.spacing * 7, c.spacing * 9, 1500.0, 4));
        wells.push_back(vertical(c.spacing * 11.5, c.spacing * 3, 1500.0, 3));
        // Along the plateau's plane: a coplanar leaf where the mesh is flat.
        wells.push_back(path({{0, c.spacing, c.spacing, 0}, {1000, c.spacing, c.spacing, 1000},
                              {1000 + extent * 0.8, c.spacing + extent * 0.8, c.spacing, 1000}}));
        const auto prepared = intersections::PreparedMesh::prepare(mesh.vertices, mesh.triangles, c.tolerance);
        ASSERT_TRUE(prepared.has_value()) << prepared.error().display();
        for (std::size_t w = 0; w < wells.size(); ++w) {
            const std::vector<double> mds = wells[w].mds();
            const auto fresh =
                intersections::intersect_trajectory_with_mesh(mds, wells[w], mesh.vertices, mesh.triangles, c.tolerance);
            const auto again = intersections::intersect_trajectory_with_mesh(mds, wells[w], *prepared);
            expect_identical(fresh, again, fmt::format("seed {} well {}", c.seed, w));
            if (fresh) {
                crossings += fresh->size();
            } else {
                ++failures;
            }
        }
    }
    // The comparison means something only if the wells do cross, several
    // times, and the plateau holes fail as coplanar.
    EXPECT_GT(crossings, 100u);
    EXPECT_GE(failures, 2u);
}

TEST(PreparedMesh, PreparationChecksTheToleranceAndTheMeshAsAFreshSearchDoes) {
    const TriangleMesh grid = flat(-500.0);
    TriangleMesh unusable = grid;
    for (auto& v : unusable.vertices) v[2] = kNaN;
    const TriangleMesh empty;
    const Trajectory well = vertical(250, 350, 1000, 3);
    const Trajectory one_station = path({{0, 250, 350, 0}});
    struct Case {
        const char* name;
        const TriangleMesh* mesh;
        const Trajectory* trajectory;
        double tolerance;
        std::size_t crossings;  // when the search succeeds
    };
    const Case cases[] = {
        {"zero tolerance", &grid, &well, 0.0, 0},
        {"negative tolerance", &grid, &well, -1e-3, 0},
        {"NaN tolerance", &grid, &well, kNaN, 0},
        {"infinite tolerance", &grid, &well, kInf, 0},
        {"invalid tolerance, empty mesh", &empty, &one_station, 0.0, 0},
        {"subnormal tolerance", &grid, &well, 4.9e-324, 1},
        {"no usable triangle", &unusable, &well, kTol, 0},
        {"no triangle", &empty, &well, kTol, 0},
        {"one station", &grid, &one_station, kTol, 0},
        {"one crossing", &grid, &well, kTol, 1},
    };
    for (const auto& c : cases) {
        const std::vector<double> mds = c.trajectory->mds();
        const auto fresh = intersections::intersect_trajectory_with_mesh(mds, *c.trajectory, c.mesh->vertices,
                                                                         c.mesh->triangles, c.tolerance);
        const auto prepared = intersections::PreparedMesh::prepare(c.mesh->vertices, c.mesh->triangles, c.tolerance);
        if (!fresh) {
            ASSERT_FALSE(prepared.has_value()) << c.name;
            EXPECT_EQ(prepared.error().display(), fresh.error().display()) << c.name;
            EXPECT_EQ(prepared.error().display(), "out of range: intersection tolerance must be finite and positive")
                << c.name;
            continue;
        }
        ASSERT_TRUE(prepared.has_value()) << c.name;
        EXPECT_EQ(fresh->size(), c.crossings) << c.name;
        expect_identical(fresh, intersections::intersect_trajectory_with_mesh(mds, *c.trajectory, *prepared), c.name);
    }
}

// ---------------------------------------------------------------------------
// Drivers and the record

TEST(IntersectionDrivers, MeshErrorComesFirstAndPassesUnchanged) {
    const MeshSource broken(Error::geometry_inference("structured shell has no complete cell to triangulate"));
    const auto well = vertical(450, 450, 2000);
    for (const double tol : {kTol, kNaN, -1.0}) {
        auto r = intersections::intersect_trajectory_surface(well, broken, tol);
        ASSERT_FALSE(r.has_value());
        EXPECT_EQ(r.error().kind(), ErrorKind::GeometryInference);
        EXPECT_EQ(r.error().display(),
                  "geometry inference failed: structured shell has no complete cell to triangulate");
        auto s = intersections::intersect_single(well, broken, tol);
        ASSERT_FALSE(s.has_value());
        EXPECT_EQ(s.error(), r.error());
    }
}

TEST(IntersectionDrivers, SelectSingleCrossing) {
    SurfaceIntersection a;
    a.md = 10;
    a.xyz = {1, 2, -3};
    SurfaceIntersection b = a;
    b.md = 20;
    struct Case {
        std::vector<SurfaceIntersection> in;
        std::optional<std::string> error;
    };
    const Case cases[] = {
        {{}, std::nullopt},
        {{a}, std::nullopt},
        {{a, b}, "unsupported: trajectory crosses the surface 2 times; call intersections(...) and select a crossing "
                 "explicitly"},
        {{a, b, a}, "unsupported: trajectory crosses the surface 3 times; call intersections(...) and select a "
                    "crossing explicitly"},
    };
    for (const auto& c : cases) {
        auto r = intersections::select_single_crossing(c.in);
        if (c.error) {
            ASSERT_FALSE(r.has_value());
            EXPECT_EQ(r.error().display(), *c.error);
        } else {
            ASSERT_TRUE(r.has_value());
            EXPECT_EQ(r->has_value(), !c.in.empty());
            if (!c.in.empty()) {
                EXPECT_EQ(**r, c.in[0]);
            }
        }
    }
    // A trajectory too short to search gives none, not an error.
    auto none = intersections::intersect_single(path({{5, 0, 0, 5}}), MeshSource(flat(-1000)), kTol);
    ASSERT_TRUE(none.has_value());
    EXPECT_FALSE(none->has_value());
}

TEST(IntersectionDrivers, WithIdentityReplacesAllThreeNames) {
    SurfaceIntersection rec;
    rec.md = 1234.5;
    rec.xyz = {1, 2, -3};
    rec.surface = "Top A";
    const auto stamped = rec.with_identity("W1", "", std::nullopt);
    EXPECT_EQ(stamped.well, std::optional<std::string>("W1"));
    EXPECT_EQ(stamped.bore, std::optional<std::string>(""));
    EXPECT_FALSE(stamped.surface.has_value());
    EXPECT_EQ(stamped.md, 1234.5);
    EXPECT_EQ(stamped.xyz, (std::array<double, 3>{1, 2, -3}));
    EXPECT_EQ(rec.surface, std::optional<std::string>("Top A"));  // the copy overload leaves its source alone
    const auto cleared = SurfaceIntersection(stamped).with_identity(std::nullopt, std::nullopt, "S");
    EXPECT_FALSE(cleared.well || cleared.bore);
    EXPECT_EQ(cleared.surface, std::optional<std::string>("S"));
}

}  // namespace
}  // namespace vz
