// Triangle views of regular, structured and triangulated surfaces, and the
// crossings of a trajectory with each of them.

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "algorithms/intersections.hpp"
#include "algorithms/triangle_views.hpp"
#include "core/polygons.hpp"
#include "core/shell/mesh.hpp"
#include "core/shell/structured.hpp"
#include "core/structured_surface.hpp"
#include "core/surface.hpp"
#include "core/trajectory.hpp"
#include "core/tri_surface.hpp"

namespace vz {
namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

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

bool same_bits(double a, double b) { return std::memcmp(&a, &b, sizeof a) == 0; }

bool same_mesh(const TriangleMesh& a, const TriangleMesh& b) {
    if (a.vertices.size() != b.vertices.size() || a.triangles != b.triangles) return false;
    for (std::size_t k = 0; k < a.vertices.size(); ++k)
        for (int c = 0; c < 3; ++c)
            if (!same_bits(a.vertices[k][c], b.vertices[k][c])) return false;
    return true;
}

/// The three kinds of surface over one lattice and one set of node values.
struct ThreeKinds {
    Surface regular;
    StructuredMeshSurface structured;
    TriSurface tri;
};

ThreeKinds three_kinds(const GridGeometry& g, const Grid2& values) {
    auto regular = Surface::make(g, values);
    EXPECT_TRUE(regular.has_value());
    Grid2 x(g.ncol, g.nrow);
    Grid2 y(g.ncol, g.nrow);
    for (std::size_t i = 0; i < g.ncol; ++i)
        for (std::size_t j = 0; j < g.nrow; ++j) std::tie(x(i, j), y(i, j)) = g.node_xy(i, j);
    auto structured = StructuredMeshSurface::make(x, y, values, g, PolygonSet::from_grid_geometry(g));
    EXPECT_TRUE(structured.has_value());
    auto shell = MeshShell::from_grid_geometry(g);
    EXPECT_TRUE(shell.has_value());
    std::vector<double> v;
    for (const auto& label : shell->labels()) v.push_back(values(label->i, label->j));
    auto tri = TriSurface::from_shell(std::make_shared<const MeshShell>(std::move(*shell)), std::move(v));
    EXPECT_TRUE(tri.has_value());
    return {*regular, *structured, *tri};
}

Trajectory vertical_well(double x, double y, double kb, double md_end) {
    auto t = Trajectory::from_source(TrajectorySource::survey({{0, 0, 0}, {md_end / 2, 0, 0}, {md_end, 0, 0}}), x, y,
                                     kb);
    EXPECT_TRUE(t.has_value()) << t.error().display();
    return *t;
}

// ---- the views ------------------------------------------------------------------

TEST(TriangleViews, TriSurfaceViewPairsNodesWithValuesAndCopiesTheTriangles) {
    const auto g = geo(10, 20, 5, 5, 4, 3, 25.0);
    const auto kinds = three_kinds(g, from_fn(4, 3, [](auto i, auto j) { return double(i * 10 + j); }));
    const TriSurface& t = kinds.tri;
    const TriangleMesh m = triangle_views::triangle_mesh(t);
    ASSERT_EQ(m.vertices.size(), t.shell->node_count());
    for (std::size_t k = 0; k < m.vertices.size(); ++k) {
        EXPECT_TRUE(same_bits(m.vertices[k][0], t.shell->nodes()[k][0]));
        EXPECT_TRUE(same_bits(m.vertices[k][1], t.shell->nodes()[k][1]));
        EXPECT_TRUE(same_bits(m.vertices[k][2], t.values[k]));
    }
    EXPECT_EQ(m.triangles, t.shell->triangles());

    // Lanes play no part.
    TriSurface with_lane = t;
    ASSERT_TRUE(with_lane.set_attr("other", std::vector<double>(t.values.size(), -7.0)).has_value());
    EXPECT_TRUE(same_mesh(triangle_views::triangle_mesh(with_lane), m));
}

TEST(TriangleViews, TriSurfaceViewStopsAtTheShorterOfNodesAndValues) {
    auto kinds = three_kinds(geo(0, 0, 1, 1, 3, 3), Grid2(3, 3, 1.0));
    kinds.tri.values.resize(5);  // fields are public; the view must not read past them
    const TriangleMesh m = triangle_views::triangle_mesh(kinds.tri);
    EXPECT_EQ(m.vertices.size(), 5u);
    EXPECT_EQ(m.triangles, kinds.tri.shell->triangles());
    // The search leaves out triangles whose corners have no vertex.
    auto hits = intersections::intersect_trajectory_surface(vertical_well(0.2, 0.1, 5, 10),
                                                            TriSurfaceMeshView(kinds.tri), 0.01);
    ASSERT_TRUE(hits.has_value());
    ASSERT_EQ(hits->size(), 1u);
    EXPECT_NEAR(hits->front().md, 4.0, 0.01);
}

/// The lattice views equal the triangulated lift: same vertices (NaN z at
/// undefined nodes) and triangles as the triangulated surface on the
/// lattice's own mesh shell.
class LatticeViews : public ::testing::TestWithParam<GridGeometry> {};

TEST_P(LatticeViews, EqualTheViewOfTheTriangulatedLift) {
    const GridGeometry& g = GetParam();
    const Grid2 v = from_fn(g.ncol, g.nrow, [](auto i, auto j) {
        return (i + 2 * j) % 5 == 0 ? kNaN : -1000.0 + double(i) * 3.5 - double(j);
    });
    const auto kinds = three_kinds(g, v);
    const Surface before = kinds.regular;
    const TriangleMesh lift = triangle_views::triangle_mesh(kinds.tri);

    auto regular = SurfaceMeshView(kinds.regular).triangle_mesh();
    auto structured = StructuredSurfaceMeshView(kinds.structured).triangle_mesh();
    auto tri = TriSurfaceMeshView(kinds.tri).triangle_mesh();
    ASSERT_TRUE(regular && structured && tri);
    EXPECT_TRUE(same_mesh(*regular, lift));
    EXPECT_TRUE(same_mesh(*structured, lift));
    EXPECT_TRUE(same_mesh(*tri, lift));
    std::size_t nan_z = 0;
    for (const auto& p : regular->vertices) nan_z += std::isnan(p[2]) ? 1 : 0;
    EXPECT_GT(nan_z, 0u);
    EXPECT_EQ(regular->vertices.size(), g.ncol * g.nrow);
    EXPECT_EQ(regular->triangles.size(), 2 * (g.ncol - 1) * (g.nrow - 1));
    // Only read.
    EXPECT_EQ(kinds.regular.history.entries(), before.history.entries());
    EXPECT_TRUE(std::equal(kinds.regular.values.values().begin(), kinds.regular.values.values().end(),
                           before.values.values().begin(), before.values.values().end(),
                           [](double a, double b) { return same_bits(a, b); }));
}

INSTANTIATE_TEST_SUITE_P(Table, LatticeViews,
                         ::testing::Values(geo(0, 0, 1, 1, 2, 2), geo(100, 200, 25, 12.5, 7, 5),
                                           geo(100, 200, 25, 12.5, 7, 5, 40.0),
                                           geo(100, 200, 25, 12.5, 6, 8, -15.0, true)));

TEST(TriangleViews, StructuredViewLeavesAbsentNodesAndTheirCellsOut) {
    const auto g = geo(0, 0, 1, 1, 4, 4);
    const auto kinds = three_kinds(g, Grid2(4, 4, -5.0));
    Grid2 x = kinds.structured.shell->x();
    x(1, 2) = kNaN;
    auto holed = StructuredMeshSurface::make(std::move(x), kinds.structured.shell->y(), kinds.structured.values, g,
                                             PolygonSet::from_grid_geometry(g));
    ASSERT_TRUE(holed.has_value());
    auto m = StructuredSurfaceMeshView(*holed).triangle_mesh();
    ASSERT_TRUE(m.has_value());
    EXPECT_EQ(m->vertices.size(), 15u);
    // The node (1, 2) touches four of the nine cells.
    EXPECT_EQ(m->triangles.size(), 2u * 5u);
    auto shell_mesh = holed->shell->to_mesh_shell();
    ASSERT_TRUE(shell_mesh.has_value());
    EXPECT_EQ(m->triangles, shell_mesh->triangles());
}

struct ViewErrorCase {
    const char* name;
    std::uint64_t ncol;
    std::uint64_t nrow;
    ErrorKind kind;
    const char* display;
};

class ViewErrors : public ::testing::TestWithParam<ViewErrorCase> {};

TEST_P(ViewErrors, ComeBeforeTheTrajectoryAndTheTolerance) {
    const auto& c = GetParam();
    const auto g = geo(0, 0, 1, 1, c.ncol, c.nrow);
    auto regular = Surface::make(g, Grid2(c.ncol, c.nrow, -1.0));
    ASSERT_TRUE(regular.has_value());
    const SurfaceMeshView view(*regular);
    auto direct = view.triangle_mesh();
    ASSERT_FALSE(direct.has_value());
    EXPECT_EQ(direct.error().kind(), c.kind);
    EXPECT_EQ(direct.error().display(), c.display);
    // An invalid tolerance is not looked at: the view's error is reported.
    auto hits = intersections::intersect_trajectory_surface(vertical_well(0, 0, 0, 10), view, 0.0);
    ASSERT_FALSE(hits.has_value());
    EXPECT_EQ(hits.error().display(), c.display);
    auto single = intersections::intersect_single(vertical_well(0, 0, 0, 10), view, -1.0);
    ASSERT_FALSE(single.has_value());
    EXPECT_EQ(single.error().display(), c.display);

    if (c.ncol > 0 && c.nrow > 0) {
        auto structured = StructuredMeshSurface::make(Grid2(c.ncol, c.nrow, 0.0), Grid2(c.ncol, c.nrow, 0.0),
                                                      Grid2(c.ncol, c.nrow, -1.0), std::nullopt, PolygonSet{});
        ASSERT_TRUE(structured.has_value());
        auto s = StructuredSurfaceMeshView(*structured).triangle_mesh();
        ASSERT_FALSE(s.has_value());
        EXPECT_EQ(s.error().display(), c.display);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Table, ViewErrors,
    ::testing::Values(ViewErrorCase{"single_row", 5, 1, ErrorKind::GeometryInference,
                                    "geometry inference failed: structured shell has no complete cell to triangulate"},
                      ViewErrorCase{"single_column", 1, 5, ErrorKind::GeometryInference,
                                    "geometry inference failed: structured shell has no complete cell to triangulate"},
                      ViewErrorCase{"no_rows", 3, 0, ErrorKind::GeometryMismatch,
                                    "geometry mismatch: StructuredShell::new: shape must be non-empty"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(TriangleViews, ValuesOfAnotherShapeThanTheLatticeAreRefused) {
    auto s = Surface::make(geo(0, 0, 1, 1, 3, 3), Grid2(3, 3, 0.0));
    ASSERT_TRUE(s.has_value());
    s->values = Grid2(3, 2, 0.0);
    auto m = SurfaceMeshView(*s).triangle_mesh();
    ASSERT_FALSE(m.has_value());
    EXPECT_EQ(m.error().kind(), ErrorKind::GeometryMismatch);
}

// ---- crossings through the views ----------------------------------------------

/// A tilted plane z = -100 - 0.5 x over [0, 100] x [0, 100] in cells of 10.
Grid2 tilted_plane() {
    return from_fn(11, 11, [](auto i, auto) { return -100.0 - 0.5 * (10.0 * double(i)); });
}

struct CrossingCase {
    const char* name;
    double x;
    double y;
    std::vector<std::pair<std::size_t, std::size_t>> undefined;  // nodes set to NaN
    std::optional<double> md;                                      // expected crossing, none for no crossing
};

class CrossingsThroughViews : public ::testing::TestWithParam<CrossingCase> {};

TEST_P(CrossingsThroughViews, AgreeOnAllThreeSurfaceKinds) {
    const auto& c = GetParam();
    Grid2 v = tilted_plane();
    for (const auto& [i, j] : c.undefined) v(i, j) = kNaN;
    const auto kinds = three_kinds(geo(0, 0, 10, 10, 11, 11), v);
    const Trajectory well = vertical_well(c.x, c.y, 0.0, 400.0);
    const SurfaceMeshView regular(kinds.regular);
    const StructuredSurfaceMeshView structured(kinds.structured);
    const TriSurfaceMeshView tri(kinds.tri);
    std::vector<std::vector<SurfaceIntersection>> found;
    for (const TriangleMeshSource* source : {static_cast<const TriangleMeshSource*>(&regular),
                                             static_cast<const TriangleMeshSource*>(&structured),
                                             static_cast<const TriangleMeshSource*>(&tri)}) {
        auto hits = intersections::intersect_trajectory_surface(well, *source, 0.01);
        ASSERT_TRUE(hits.has_value()) << hits.error().display();
        found.push_back(*hits);
    }
    EXPECT_EQ(found[0], found[1]);
    EXPECT_EQ(found[0], found[2]);
    if (!c.md) {
        EXPECT_TRUE(found[0].empty());
        return;
    }
    ASSERT_EQ(found[0].size(), 1u);
    const auto& hit = found[0].front();
    // The search places a crossing within its tolerance.
    EXPECT_NEAR(hit.md, *c.md, 0.01);
    EXPECT_NEAR(hit.xyz[0], c.x, 1e-9);
    EXPECT_NEAR(hit.xyz[1], c.y, 1e-9);
    EXPECT_EQ(hit.xyz[2], -hit.md);
    EXPECT_FALSE(hit.well || hit.bore || hit.surface);
}

INSTANTIATE_TEST_SUITE_P(
    Table, CrossingsThroughViews,
    ::testing::Values(
        // Elevation of the plane at x: -100 - 0.5 x; md = -elevation (kb 0).
        CrossingCase{"inside", 35, 45, {}, 117.5},
        CrossingCase{"between_nodes", 72.5, 11, {}, 136.25},
        CrossingCase{"undefined_far_away", 35, 45, {{9, 9}, {0, 10}}, 117.5},
        // Both triangles of the cell (3, 4) touch its corner (3, 4).
        CrossingCase{"in_a_hole", 35, 45, {{3, 4}}, std::nullopt},
        CrossingCase{"outside_the_lattice", 150, 45, {}, std::nullopt}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(CrossingsThroughViews, AllNanTriangulatedSurfaceGivesItsWholeMeshAndNoCrossing) {
    auto kinds = three_kinds(geo(0, 0, 10, 10, 4, 4), Grid2(4, 4, kNaN));
    const TriangleMesh m = triangle_views::triangle_mesh(kinds.tri);
    EXPECT_EQ(m.vertices.size(), 16u);
    EXPECT_EQ(m.triangles.size(), 18u);
    for (const auto& p : m.vertices) EXPECT_TRUE(std::isnan(p[2]));
    auto hits = intersections::intersect_trajectory_surface(vertical_well(15, 15, 0, 500),
                                                            TriSurfaceMeshView(kinds.tri), 0.01);
    ASSERT_TRUE(hits.has_value());
    EXPECT_TRUE(hits->empty());
}

TEST(CrossingsThroughViews, FoldedSurfaceCrossedTwiceGivesBothInMdOrder) {
    // A deviated well through a ridge: z = -200 + 30 cos(x / 30), running
    // eastwards at a constant elevation just below the crest.
    const auto g = geo(0, 0, 5, 5, 41, 5);
    const auto kinds =
        three_kinds(g, from_fn(41, 5, [](auto i, auto) { return -200.0 + 30.0 * std::cos((5.0 * i - 100.0) / 30.0); }));
    std::vector<PositionedStation> rows;
    for (int k = 0; k <= 20; ++k) rows.push_back({9.0 * k, 90, 90, 5.0 + 9.0 * k, 10, 185});
    auto well = Trajectory::from_source(TrajectorySource::positioned(rows), 0, 0, 0);
    ASSERT_TRUE(well.has_value()) << well.error().display();
    const StructuredSurfaceMeshView view(kinds.structured);
    auto hits = intersections::intersect_trajectory_surface(*well, view, 0.01);
    ASSERT_TRUE(hits.has_value()) << hits.error().display();
    ASSERT_EQ(hits->size(), 2u);
    EXPECT_LT((*hits)[0].md, (*hits)[1].md);
    for (const auto& h : *hits) EXPECT_NEAR(h.xyz[2], -185.0, 0.01);
    auto single = intersections::intersect_single(*well, view, 0.01);
    ASSERT_FALSE(single.has_value());
    EXPECT_EQ(single.error().display(),
              "unsupported: trajectory crosses the surface 2 times; call intersections(...) and select a crossing "
              "explicitly");
}

}  // namespace
}  // namespace vz
