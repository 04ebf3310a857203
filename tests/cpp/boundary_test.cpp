// Boundary rings of triangle lists and the mesh shell built from bare
// triangles: ring order and orientation, pinch nodes, broken orientation,
// index checks ahead of any lookup, and invariants over many cut-up meshes.

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <map>
#include <optional>
#include <random>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "core/polygons.hpp"
#include "core/shell/boundary.hpp"
#include "core/shell/mesh.hpp"

namespace vz {
namespace {

using Labels = std::vector<std::optional<NodeLabel>>;
using Rings = std::vector<mesh::BoundaryRing>;

template <class T>
std::string error_of(const Result<T>& r) {
    return r ? std::string("<ok>") : r.error().message();
}

/// Nodes of an ncol x nrow unit lattice, node (i, j) = j * ncol + i at (i, j).
std::vector<NodeXY> lattice_nodes(std::uint32_t ncol, std::uint32_t nrow) {
    std::vector<NodeXY> nodes;
    for (std::uint32_t j = 0; j < nrow; ++j)
        for (std::uint32_t i = 0; i < ncol; ++i) nodes.push_back({double(i), double(j)});
    return nodes;
}

Labels lattice_labels(std::uint32_t ncol, std::uint32_t nrow) {
    Labels labels;
    for (std::uint32_t j = 0; j < nrow; ++j)
        for (std::uint32_t i = 0; i < ncol; ++i)
            labels.push_back(NodeLabel{0, static_cast<std::int32_t>(i), static_cast<std::int32_t>(j)});
    return labels;
}

/// The two counter-clockwise triangles of cell (i, j) of an ncol-wide lattice.
void push_cell(std::vector<MeshTriangle>& tris, std::uint32_t ncol, std::uint32_t i, std::uint32_t j) {
    const std::uint32_t a = j * ncol + i, b = a + 1, c = a + ncol, d = c + 1;
    tris.push_back({a, b, d});
    tris.push_back({a, d, c});
}

/// A 3 x 3-cell lattice (4 x 4 nodes) without its centre cell: an annulus.
std::vector<MeshTriangle> annulus() {
    std::vector<MeshTriangle> tris;
    for (std::uint32_t j = 0; j < 3; ++j)
        for (std::uint32_t i = 0; i < 3; ++i)
            if (i != 1 || j != 1) push_cell(tris, 4, i, j);
    return tris;
}

double signed_area(const std::vector<Coord>& ring) { return ring_area(ring); }

struct TraceCase {
    const char* name;
    std::size_t node_count;
    std::vector<MeshTriangle> triangles;
    Rings rings;        // expected when `error` is empty
    std::string error;  // expected GeometryInference text
};

class TraceBoundary : public ::testing::TestWithParam<TraceCase> {};

TEST_P(TraceBoundary, RingsOrFailure) {
    const TraceCase& c = GetParam();
    const auto r = mesh::trace_boundary(c.node_count, c.triangles);
    if (c.error.empty()) {
        ASSERT_TRUE(r) << error_of(r);
        EXPECT_EQ(*r, c.rings);
    } else {
        ASSERT_FALSE(r);
        EXPECT_EQ(r.error().kind(), ErrorKind::GeometryInference);
        EXPECT_EQ(r.error().message(), c.error);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Cases, TraceBoundary,
    ::testing::Values(
        TraceCase{"single_triangle", 3, {{0, 1, 2}}, {{0, 1, 2, 0}}, ""},
        // The shared diagonal 0-2 is interior; the ring starts at the smallest corner.
        TraceCase{"square", 4, {{2, 3, 0}, {0, 1, 2}}, {{0, 1, 2, 3, 0}}, ""},
        TraceCase{"two_separate_triangles", 6, {{3, 4, 5}, {0, 1, 2}}, {{0, 1, 2, 0}, {3, 4, 5, 3}}, ""},
        // Outer ring counter-clockwise from node 0, the hole clockwise from node 5.
        TraceCase{"annulus",
                  16,
                  annulus(),
                  {{0, 1, 2, 3, 7, 11, 15, 14, 13, 12, 8, 4, 0}, {5, 9, 10, 6, 5}},
                  ""},
        // A pinch node met mid-walk: the larger successor first, the node passed twice.
        TraceCase{"bow_tie", 5, {{0, 1, 2}, {2, 3, 4}}, {{0, 1, 2, 3, 4, 2, 0}}, ""},
        // A pinch node as start: the ring closes on its first return.
        TraceCase{"pinch_at_start", 5, {{0, 1, 2}, {0, 3, 4}}, {{0, 3, 4, 0}, {0, 1, 2, 0}}, ""},
        TraceCase{"duplicate_triangle", 3, {{0, 1, 2}, {1, 2, 0}}, {{0, 1, 2, 0}}, ""},
        TraceCase{"empty", 0, {}, {}, "triangulated surface has no boundary"},
        TraceCase{"tetrahedron", 4, {{0, 2, 1}, {0, 1, 3}, {1, 2, 3}, {2, 0, 3}}, {},
                  "triangulated surface has no boundary"},
        // Both triangles use 0->1: the first ring closes, the second dead-ends at 0.
        TraceCase{"inconsistent_orientation", 4, {{0, 1, 2}, {0, 1, 3}}, {},
                  "triangulated surface boundary is not closed"},
        TraceCase{"index_out_of_range", 5, {{0, 1, 2}, {5, 0, 1}}, {},
                  "MeshShell::new: triangle 1 references node 5 outside the shell's 5 nodes"},
        TraceCase{"none_marker_index", 3, {{0, 1, 0xFFFFFFFFu}}, {},
                  "MeshShell::new: triangle 0 references node 4294967295 outside the shell's 3 nodes"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(FromTriangles, AnnulusGivesCounterClockwiseOuterAndClockwiseHole) {
    auto r = mesh::from_triangles(lattice_nodes(4, 4), annulus(), lattice_labels(4, 4));
    ASSERT_TRUE(r) << error_of(r);
    const MeshShell& shell = *r;
    EXPECT_EQ(shell.triangles(), annulus());
    EXPECT_EQ(shell.labels(), lattice_labels(4, 4));
    EXPECT_EQ(shell.wireframe(), mesh::build_wireframe(annulus(), lattice_labels(4, 4)));
    EXPECT_EQ(shell.components(), 1u);

    const PolygonSet& edge = shell.edge();
    ASSERT_EQ(edge.size(), 2u);
    EXPECT_EQ(edge.history.entries(), std::vector<std::string>{"polygons.from_rings"});
    for (const Polygon& p : edge.polygons) EXPECT_TRUE(p.interiors.empty());
    const std::vector<Coord> outer{{0, 0}, {1, 0}, {2, 0}, {3, 0}, {3, 1}, {3, 2}, {3, 3},
                                   {2, 3}, {1, 3}, {0, 3}, {0, 2}, {0, 1}, {0, 0}};
    const std::vector<Coord> hole{{1, 1}, {1, 2}, {2, 2}, {2, 1}, {1, 1}};
    EXPECT_EQ(edge.polygons[0].exterior, outer);
    EXPECT_EQ(edge.polygons[1].exterior, hole);
    EXPECT_DOUBLE_EQ(signed_area(edge.polygons[0].exterior), 9.0);
    EXPECT_DOUBLE_EQ(signed_area(edge.polygons[1].exterior), -1.0);
}

TEST(FromTriangles, WireframeLeavesOutLabelledCellDiagonals) {
    std::vector<MeshTriangle> tris;
    push_cell(tris, 2, 0, 0);  // one cell: nodes 0 (0,0), 1 (1,0), 2 (0,1), 3 (1,1)
    auto labelled = mesh::from_triangles(lattice_nodes(2, 2), tris, lattice_labels(2, 2));
    ASSERT_TRUE(labelled) << error_of(labelled);
    EXPECT_EQ(labelled->wireframe(), (std::vector<MeshEdge>{{0, 1}, {0, 2}, {1, 3}, {2, 3}}));
    auto bare = mesh::from_triangles(lattice_nodes(2, 2), tris, Labels(4));
    ASSERT_TRUE(bare) << error_of(bare);
    EXPECT_EQ(bare->wireframe(), (std::vector<MeshEdge>{{0, 1}, {0, 2}, {0, 3}, {1, 3}, {2, 3}}));
}

struct FailureCase {
    const char* name;
    std::size_t nodes;
    std::size_t labels;
    std::vector<MeshTriangle> triangles;
    ErrorKind kind;
    std::string message;
};

class FromTrianglesFailure : public ::testing::TestWithParam<FailureCase> {};

TEST_P(FromTrianglesFailure, Message) {
    const FailureCase& c = GetParam();
    std::vector<NodeXY> nodes;
    for (std::size_t k = 0; k < c.nodes; ++k) nodes.push_back({double(k % 3), double(k / 3) + double(k % 2)});
    const auto r = mesh::from_triangles(nodes, c.triangles, Labels(c.labels));
    ASSERT_FALSE(r);
    EXPECT_EQ(r.error().kind(), c.kind);
    EXPECT_EQ(r.error().message(), c.message);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, FromTrianglesFailure,
    ::testing::Values(
        // The label count is checked before the triangles are looked at.
        FailureCase{"labels", 3, 2, {{0, 1, 7}}, ErrorKind::GeometryMismatch,
                    "MeshShell::from_triangles: 2 labels for 3 nodes"},
        FailureCase{"index_out_of_range", 5, 5, {{0, 1, 2}, {1, 7, 2}}, ErrorKind::GeometryInference,
                    "MeshShell::new: triangle 1 references node 7 outside the shell's 5 nodes"},
        FailureCase{"closed_surface", 4, 4, {{0, 2, 1}, {0, 1, 3}, {1, 2, 3}, {2, 0, 3}},
                    ErrorKind::GeometryInference, "triangulated surface has no boundary"},
        FailureCase{"no_triangles", 3, 3, {}, ErrorKind::GeometryInference, "triangulated surface has no boundary"},
        FailureCase{"inconsistent_orientation", 4, 4, {{0, 1, 2}, {0, 1, 3}}, ErrorKind::GeometryInference,
                    "triangulated surface boundary is not closed"},
        // Traceable (two rings through the pinched edge), refused by the shell.
        FailureCase{"four_triangles_on_one_edge", 6, 6, {{0, 1, 2}, {1, 0, 3}, {0, 1, 4}, {1, 0, 5}},
                    ErrorKind::GeometryInference,
                    "MeshShell::new: edge (0, 1) is carried by 4 triangles; a shell must be edge-manifold (at most "
                    "two)"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(FromTriangles, RangeMessageMatchesTheShellConstructor) {
    const std::vector<MeshTriangle> tris{{0, 1, 2}, {2, 1, 9}};
    const auto direct = MeshShell::make(lattice_nodes(3, 2), tris, {}, PolygonSet{}, Labels(6));
    const auto traced = mesh::from_triangles(lattice_nodes(3, 2), tris, Labels(6));
    ASSERT_FALSE(direct);
    ASSERT_FALSE(traced);
    EXPECT_EQ(traced.error().display(), direct.error().display());
}

// Lattice meshes with random cells removed: every boundary edge (a directed
// edge whose reverse no triangle has) is walked exactly once, and the rings'
// signed areas add up to the triangles' area (Green's theorem), whatever
// holes, islands and pinch nodes the removal made.
TEST(FromTriangles, RingsCoverEveryBoundaryEdgeOnceOnCutUpLattices) {
    std::mt19937 rng(7);
    const std::uint32_t ncol = 9, nrow = 8;
    for (int trial = 0; trial < 200; ++trial) {
        std::vector<MeshTriangle> tris;
        std::bernoulli_distribution keep(trial % 2 ? 0.8 : 0.55);
        for (std::uint32_t j = 0; j + 1 < nrow; ++j)
            for (std::uint32_t i = 0; i + 1 < ncol; ++i)
                if (keep(rng)) push_cell(tris, ncol, i, j);
        if (tris.empty()) continue;

        std::set<std::pair<std::uint32_t, std::uint32_t>> directed;
        for (const auto& t : tris)
            for (int k = 0; k < 3; ++k) directed.insert({t[k], t[(k + 1) % 3]});
        std::multiset<std::pair<std::uint32_t, std::uint32_t>> expected;
        for (const auto& [u, v] : directed)
            if (!directed.contains({v, u})) expected.insert({u, v});

        auto shell = mesh::from_triangles(lattice_nodes(ncol, nrow), tris, lattice_labels(ncol, nrow));
        ASSERT_TRUE(shell) << error_of(shell);
        auto rings = mesh::trace_boundary(ncol * nrow, tris);
        ASSERT_TRUE(rings) << error_of(rings);
        ASSERT_EQ(shell->edge().size(), rings->size());

        std::multiset<std::pair<std::uint32_t, std::uint32_t>> walked;
        double ring_area_sum = 0.0;
        std::uint32_t previous_start = 0;
        for (std::size_t r = 0; r < rings->size(); ++r) {
            const auto& ring = (*rings)[r];
            ASSERT_GE(ring.size(), 4u);
            ASSERT_EQ(ring.front(), ring.back());
            EXPECT_GE(ring.front(), previous_start) << "rings start at ascending nodes";
            previous_start = ring.front();
            for (std::size_t k = 0; k + 1 < ring.size(); ++k) walked.insert({ring[k], ring[k + 1]});
            ring_area_sum += signed_area(shell->edge().polygons[r].exterior);
        }
        EXPECT_EQ(walked, expected);
        EXPECT_DOUBLE_EQ(ring_area_sum, double(tris.size()) / 2.0);
    }
}

}  // namespace
}  // namespace vz
