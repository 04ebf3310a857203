// Mesh shells (validation, corner table, components, orientation),
// wireframes and coarse display meshes, structured shells and their
// explosion into triangle meshes.

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <limits>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "core/shell/corner.hpp"
#include "core/shell/mesh.hpp"
#include "core/shell/structured.hpp"

namespace vz {
namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kInf = std::numeric_limits<double>::infinity();
constexpr std::int32_t kMaxStep = std::numeric_limits<std::int32_t>::max();

using Labels = std::vector<std::optional<NodeLabel>>;

template <class T>
std::string error_text(const Result<T>& r) {
    return r ? std::string("<ok>") : r.error().display();
}

/// `n` nodes along the x axis (positions play no part in validation).
std::vector<NodeXY> line_nodes(std::size_t n) {
    std::vector<NodeXY> nodes;
    for (std::size_t k = 0; k < n; ++k) nodes.push_back({double(k), 0.0});
    return nodes;
}

MeshShell must_make(std::vector<NodeXY> nodes, std::vector<MeshTriangle> tris, std::vector<MeshEdge> wire = {},
                    Labels labels = {}) {
    if (labels.empty()) labels.assign(nodes.size(), std::nullopt);
    auto r = MeshShell::make(std::move(nodes), std::move(tris), std::move(wire), PolygonSet{}, std::move(labels));
    EXPECT_TRUE(r) << error_text(r);
    return *std::move(r);
}

/// Grid2 of shape (ncol, nrow) from f(i, j).
template <class F>
Grid2 grid(std::size_t ncol, std::size_t nrow, F f) {
    Grid2 g(ncol, nrow);
    for (std::size_t i = 0; i < ncol; ++i)
        for (std::size_t j = 0; j < nrow; ++j) g(i, j) = f(i, j);
    return g;
}

/// Structured shell with node (i, j) at (x0 + i, y0 + sy * j); `absent`
/// nodes get NaN coordinates.
StructuredShell lattice_shell(std::size_t ncol, std::size_t nrow, double sy = 1.0,
                              std::vector<std::pair<std::size_t, std::size_t>> absent = {}) {
    auto gone = [&](std::size_t i, std::size_t j) {
        return std::find(absent.begin(), absent.end(), std::pair{i, j}) != absent.end();
    };
    Grid2 x = grid(ncol, nrow, [&](std::size_t i, std::size_t j) { return gone(i, j) ? kNaN : 10.0 + double(i); });
    Grid2 y = grid(ncol, nrow, [&](std::size_t i, std::size_t j) { return gone(i, j) ? kNaN : 20.0 + sy * double(j); });
    auto r = StructuredShell::make(std::move(x), std::move(y), std::nullopt, PolygonSet{});
    EXPECT_TRUE(r) << error_text(r);
    return *std::move(r);
}

double signed_area(const std::vector<NodeXY>& nodes, const MeshTriangle& t) {
    const auto& a = nodes[t[0]];
    const auto& b = nodes[t[1]];
    const auto& c = nodes[t[2]];
    return (b[0] - a[0]) * (c[1] - a[1]) - (b[1] - a[1]) * (c[0] - a[0]);
}

// ---- MeshShell::make ------------------------------------------------------

struct MakeCase {
    const char* what;
    std::size_t nodes;
    std::size_t labels;
    std::vector<MeshEdge> wireframe;
    std::vector<MeshTriangle> triangles;
    ErrorKind kind;
    const char* message;  // nullptr: must succeed
};

TEST(MeshShellMake, ChecksInOrderAndReportsTheFirstFailure) {
    const MakeCase cases[] = {
        {"empty shell", 0, 0, {}, {}, ErrorKind::Io, nullptr},
        {"label count", 4, 3, {}, {}, ErrorKind::GeometryMismatch, "MeshShell::new: 3 labels for 4 nodes"},
        {"labels before wireframe", 4, 5, {{0, 9}}, {{0, 1, 9}}, ErrorKind::GeometryMismatch,
         "MeshShell::new: 5 labels for 4 nodes"},
        {"wireframe pair at node count", 4, 4, {{0, 3}, {0, 4}}, {}, ErrorKind::GeometryMismatch,
         "MeshShell::new: wireframe edge (0, 4) outside 4 nodes"},
        {"wireframe pair as stored", 4, 4, {{7, 1}}, {}, ErrorKind::GeometryMismatch,
         "MeshShell::new: wireframe edge (7, 1) outside 4 nodes"},
        {"wireframe before triangles", 4, 4, {{0, 4}}, {{0, 1, 9}}, ErrorKind::GeometryMismatch,
         "MeshShell::new: wireframe edge (0, 4) outside 4 nodes"},
        {"last wireframe index in range", 4, 4, {{0, 3}}, {}, ErrorKind::Io, nullptr},
        {"two triangles per edge", 5, 5, {}, {{0, 1, 2}, {0, 2, 3}, {0, 1, 3}}, ErrorKind::Io, nullptr},
        {"edge of three triangles", 5, 5, {}, {{0, 1, 2}, {0, 2, 3}, {0, 1, 3}, {0, 1, 4}},
         ErrorKind::GeometryInference,
         "MeshShell::new: edge (0, 1) is carried by 3 triangles; a shell must be edge-manifold (at most two)"},
        {"edge of four triangles, reversed orders", 6, 6, {}, {{1, 0, 2}, {0, 1, 3}, {4, 1, 0}, {5, 0, 1}},
         ErrorKind::GeometryInference,
         "MeshShell::new: edge (0, 1) is carried by 4 triangles; a shell must be edge-manifold (at most two)"},
        {"node out of range", 5, 5, {}, {{0, 1, 2}, {5, 0, 1}}, ErrorKind::GeometryInference,
         "MeshShell::new: triangle 1 references node 5 outside the shell's 5 nodes"},
        {"range wins over manifold", 5, 5, {}, {{0, 1, 2}, {0, 1, 3}, {0, 1, 4}, {2, 3, 4}, {4, 3, 7}},
         ErrorKind::GeometryInference, "MeshShell::new: triangle 4 references node 7 outside the shell's 5 nodes"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        auto r = MeshShell::make(line_nodes(c.nodes), c.triangles, c.wireframe, PolygonSet{},
                                 Labels(c.labels, std::nullopt));
        if (!c.message) {
            ASSERT_TRUE(r) << error_text(r);
            EXPECT_EQ(r->triangles(), c.triangles);
            EXPECT_EQ(r->wireframe(), c.wireframe);
            EXPECT_EQ(r->node_count(), c.nodes);
            continue;
        }
        ASSERT_FALSE(r);
        EXPECT_EQ(r.error().kind(), c.kind);
        EXPECT_EQ(r.error().message(), c.message);
    }
}

TEST(MeshShellMake, KeepsEveryInputAsGiven) {
    PolygonSet edge = PolygonSet::from_rings(std::vector<std::vector<std::array<double, 3>>>{
        {{0, 0, 0}, {1, 0, 0}, {0, 1, 0}}});
    const std::vector<NodeXY> nodes{{0, 0}, {1, 0}, {0, 1}};
    const std::vector<MeshTriangle> tris{{0, 2, 1}};  // clockwise: not checked, not reordered
    const std::vector<MeshEdge> wire{{2, 0}};
    const Labels labels{NodeLabel{3, -1, 4}, std::nullopt, NodeLabel{0, 0, 0}};
    auto r = MeshShell::make(nodes, tris, wire, edge, labels);
    ASSERT_TRUE(r) << error_text(r);
    EXPECT_EQ(r->nodes(), nodes);
    EXPECT_EQ(r->triangles(), tris);
    EXPECT_EQ(r->wireframe(), wire);
    EXPECT_EQ(r->labels(), labels);
    EXPECT_EQ(r->edge().polygons, edge.polygons);
    EXPECT_EQ(r->edge().history.entries(), edge.history.entries());
}

TEST(MeshShellMake, NodeCountBeyondThirtyTwoBitIndicesIsRefused) {
    EXPECT_TRUE(mesh::check_node_count(kMaxMeshNodes, "ctx"));
    auto r = mesh::check_node_count(kMaxMeshNodes + 1, "ctx");
    ASSERT_FALSE(r);
    EXPECT_EQ(r.error().kind(), ErrorKind::GeometryInference);
    EXPECT_EQ(r.error().message(), "ctx: 4294967295 nodes exceed the 4294967294 nodes a 32-bit node index can address");

    auto table = corner::build_corner_table(std::size_t{corner::kNone}, {});
    ASSERT_FALSE(table);
    EXPECT_EQ(table.error(), "4294967295 nodes exceed the 32-bit node index range");
}

// ---- corner table -----------------------------------------------------------

TEST(CornerTable, PairsTheCornersFacingAnEdgeAndRecordsFirstCorners) {
    // Square of two triangles sharing the diagonal (1, 3); node 4 unused.
    const std::vector<MeshTriangle> tris{{0, 1, 3}, {1, 2, 3}};
    auto t = corner::build_corner_table(5, tris);
    ASSERT_TRUE(t) << t.error();
    const auto N = corner::kNone;
    // Corner 0 (node 0 of triangle 0) faces (1, 3); corner 4 (node 2 of
    // triangle 1) faces (3, 1).
    EXPECT_EQ(t->opposite, (std::vector<std::uint32_t>{4, N, N, N, 0, N}));
    EXPECT_EQ(t->first_corner, (std::vector<std::uint32_t>{0, 1, 4, 2, N}));
}

// ---- components ---------------------------------------------------------------

TEST(MeshShellComponents, TrianglesSharingANodeFormOneGroup) {
    struct Case {
        const char* what;
        std::size_t nodes;
        std::vector<MeshTriangle> tris;
        std::size_t expected;
    };
    const Case cases[] = {
        {"no triangles", 4, {}, 0},
        {"one triangle, unused nodes", 6, {{0, 1, 2}}, 1},
        {"shared edge", 4, {{0, 1, 2}, {0, 2, 3}}, 1},
        {"shared vertex only", 5, {{0, 1, 2}, {2, 3, 4}}, 1},
        {"disjoint", 6, {{0, 1, 2}, {3, 4, 5}}, 2},
        {"joined by a later triangle", 7, {{0, 1, 2}, {3, 4, 5}, {6, 5, 2}}, 1},
        {"joined through a third node", 9, {{0, 1, 2}, {3, 4, 5}, {6, 7, 8}, {8, 4, 1}}, 1},
        {"three groups", 9, {{0, 1, 2}, {3, 4, 5}, {6, 7, 8}}, 3},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(must_make(line_nodes(c.nodes), c.tris).components(), c.expected);
    }
}

// ---- orientation ----------------------------------------------------------------

TEST(PushCcwTriangle, SwapsOnlyClockwiseTriples) {
    struct Case {
        const char* what;
        std::vector<NodeXY> nodes;
        MeshTriangle expected;
    };
    const Case cases[] = {
        {"counter-clockwise", {{0, 0}, {1, 0}, {0, 1}}, {0, 1, 2}},
        {"clockwise", {{0, 0}, {0, 1}, {1, 0}}, {0, 2, 1}},
        {"collinear", {{0, 0}, {1, 1}, {2, 2}}, {0, 1, 2}},
        {"NaN coordinate", {{0, 0}, {kNaN, 1}, {1, 0}}, {0, 1, 2}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        std::vector<MeshTriangle> out{{9, 9, 9}};
        mesh::push_ccw_triangle(out, c.nodes, {0, 1, 2});
        ASSERT_EQ(out.size(), 2u);
        EXPECT_EQ(out[0], (MeshTriangle{9, 9, 9}));
        EXPECT_EQ(out[1], c.expected);
    }
}

// ---- stored wireframe ---------------------------------------------------------------

TEST(BuildWireframe, DropsOnlyInteriorCellDiagonals) {
    // One cell split along (1, 3): nodes 0 (0,0), 1 (1,0), 2 (1,1), 3 (0,1).
    const std::vector<MeshTriangle> cell{{0, 1, 3}, {1, 2, 3}};
    const NodeLabel l00{0, 0, 0}, l10{0, 1, 0}, l11{0, 1, 1}, l01{0, 0, 1};
    const std::vector<MeshEdge> sides{{0, 1}, {0, 3}, {1, 2}, {2, 3}};
    const std::vector<MeshEdge> all{{0, 1}, {0, 3}, {1, 2}, {1, 3}, {2, 3}};
    struct Case {
        const char* what;
        std::vector<MeshTriangle> tris;
        Labels labels;
        std::vector<MeshEdge> expected;
    };
    const Case cases[] = {
        {"labelled cell", cell, {l00, l10, l11, l01}, sides},
        {"unlabelled cell", cell, Labels(4, std::nullopt), all},
        {"diagonal across blocks", cell, {l00, NodeLabel{1, 1, 0}, l11, NodeLabel{0, 0, 1}}, all},
        {"diagonal touching an unlabelled node", cell, {l00, std::nullopt, l11, l01}, all},
        {"diagonal with negative steps", cell,
         {NodeLabel{2, -5, -7}, NodeLabel{2, -4, -7}, NodeLabel{2, -4, -6}, NodeLabel{2, -5, -6}}, sides},
        {"single labelled triangle keeps its diagonal", {{0, 1, 3}}, {l00, l10, l11, l01}, {{0, 1}, {0, 3}, {1, 3}}},
        {"no triangles", {}, {l00}, {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(mesh::build_wireframe(c.tris, c.labels), c.expected);
    }
}

// ---- wireframe at a stride -------------------------------------------------------

TEST(WireframeEdges, StrideBelowTwoReturnsTheStoredWireframe) {
    const std::vector<MeshTriangle> tris{{0, 1, 3}, {1, 2, 3}};
    const std::vector<MeshEdge> stored{{2, 3}, {0, 1}};  // deliberately unsorted and partial
    const auto with = must_make(line_nodes(4), tris, stored);
    const auto without = must_make(line_nodes(4), tris);
    const std::vector<MeshEdge> all{{0, 1}, {0, 3}, {1, 2}, {1, 3}, {2, 3}};
    for (std::optional<std::uint64_t> stride : {std::optional<std::uint64_t>{}, std::optional<std::uint64_t>{0},
                                                std::optional<std::uint64_t>{1}}) {
        SCOPED_TRACE(stride ? std::to_string(*stride) : "none");
        EXPECT_EQ(with.wireframe_edges(stride), stored);
        EXPECT_EQ(without.wireframe_edges(stride), all);
    }
}

/// Mesh node of lattice node (i, j) in a complete ncol x nrow structured mesh.
std::uint32_t node_at(std::size_t ncol, std::size_t i, std::size_t j) { return std::uint32_t(j * ncol + i); }

/// The coarse wireframe of a complete n x n lattice derived from the line
/// rule: row line j kept when j is a multiple of k or on the outline, column
/// line i likewise; no diagonals.
std::set<MeshEdge> expected_coarse_lines(std::size_t n, std::uint64_t k) {
    std::set<MeshEdge> out;
    auto kept_line = [&](std::size_t v) { return v % k == 0 || v == 0 || v == n - 1; };
    for (std::size_t j = 0; j < n; ++j)
        for (std::size_t i = 0; i + 1 < n; ++i)
            if (kept_line(j)) out.insert({node_at(n, i, j), node_at(n, i + 1, j)});
    for (std::size_t i = 0; i < n; ++i)
        for (std::size_t j = 0; j + 1 < n; ++j)
            if (kept_line(i)) out.insert({node_at(n, i, j), node_at(n, i, j + 1)});
    return out;
}

TEST(WireframeEdges, CoarseStrideKeepsEveryKthLineAndTheOutline) {
    struct Case {
        std::size_t n;
        std::uint64_t stride;
        std::uint64_t effective;
    };
    const Case cases[] = {
        {4, 2, 2},
        {5, 2, 2},
        {7, 3, 3},
        {5, 4, 4},
        // Strides past the 32-bit lattice steps clamp to 2^31 - 1: only line 0
        // and the outline remain (2^32 would otherwise divide by zero).
        {4, std::uint64_t{1} << 32, std::uint64_t{kMaxStep}},
        {4, std::numeric_limits<std::uint64_t>::max(), std::uint64_t{kMaxStep}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << c.n << "x" << c.n << " stride " << c.stride);
        auto shell = lattice_shell(c.n, c.n).to_mesh_shell();
        ASSERT_TRUE(shell) << error_text(shell);
        const auto got = shell->wireframe_edges(c.stride);
        EXPECT_TRUE(std::is_sorted(got.begin(), got.end()));
        EXPECT_EQ(std::set<MeshEdge>(got.begin(), got.end()), expected_coarse_lines(c.n, c.effective));
        EXPECT_EQ(std::set<MeshEdge>(got.begin(), got.end()).size(), got.size());
    }
}

TEST(WireframeEdges, CoarseRuleCountsNegativeMultiplesAndKeepsSeamsAndFringe) {
    // Nodes: 0 (0,-4), 1 (1,-4), 2 (1,-3), 3 (0,-3) in block 0 as one cell;
    // node 4 unlabelled fringe; node 5 of block 1 joined to node 1.
    const Labels labels{NodeLabel{0, 0, -4}, NodeLabel{0, 1, -4}, NodeLabel{0, 1, -3},
                        NodeLabel{0, 0, -3}, std::nullopt,        NodeLabel{1, 0, -4}};
    const std::vector<NodeXY> nodes{{0, 0}, {1, 0}, {1, 1}, {0, 1}, {2, 1}, {2, 0}};
    const std::vector<MeshTriangle> tris{{0, 1, 2}, {0, 2, 3}, {1, 5, 4}, {1, 4, 2}};
    const auto shell = must_make(nodes, tris, {}, labels);
    // (0,1) row j=-4 on the outline; (0,2) diagonal; (0,3) outline column 0;
    // (1,2) column i=1, interior (two triangles), 1 not a multiple of 2: dropped;
    // (1,4) fringe; (1,5) outline seam; (2,3) outline; (2,4) outline fringe; (4,5) outline.
    const std::vector<MeshEdge> expected{{0, 1}, {0, 3}, {1, 4}, {1, 5}, {2, 3}, {2, 4}, {4, 5}};
    EXPECT_EQ(shell.wireframe_edges(2), expected);

    // The keep rule on its own, interior edges (use count 2).
    EXPECT_TRUE(mesh::coarse_wireframe_keep({0, 1}, 2, labels, 2));    // row j = -4
    EXPECT_FALSE(mesh::coarse_wireframe_keep({3, 2}, 2, labels, 2));   // row j = -3
    EXPECT_TRUE(mesh::coarse_wireframe_keep({3, 2}, 2, labels, 3));    // -3 is a multiple of 3
    EXPECT_TRUE(mesh::coarse_wireframe_keep({0, 3}, 2, labels, 5));    // column i = 0
    EXPECT_FALSE(mesh::coarse_wireframe_keep({1, 2}, 2, labels, 2));   // column i = 1
    EXPECT_FALSE(mesh::coarse_wireframe_keep({0, 2}, 2, labels, 1));   // diagonal
    EXPECT_TRUE(mesh::coarse_wireframe_keep({0, 2}, 1, labels, 2));    // outline diagonal
    EXPECT_TRUE(mesh::coarse_wireframe_keep({1, 5}, 2, labels, 2));    // seam
    EXPECT_TRUE(mesh::coarse_wireframe_keep({1, 4}, 2, labels, 2));    // fringe
}

TEST(LatticeStride, ClampsToThirtyTwoBitSteps) {
    struct Case {
        std::uint64_t in;
        std::int32_t out;
    };
    const Case cases[] = {{0, 1},
                          {1, 1},
                          {7, 7},
                          {std::uint64_t{kMaxStep}, kMaxStep},
                          {std::uint64_t{kMaxStep} + 1, kMaxStep},
                          {std::uint64_t{1} << 32, kMaxStep},
                          {std::numeric_limits<std::uint64_t>::max(), kMaxStep}};
    for (const auto& c : cases) EXPECT_EQ(mesh::lattice_stride(c.in), c.out) << c.in;
}

// ---- coarse display mesh ----------------------------------------------------------

TEST(Coarsen, KeepsLatticeMultiplesAndSplitsCompleteCoarseCells) {
    struct Case {
        std::size_t n;
        std::uint64_t k;
        std::size_t cells_per_side;
    };
    const Case cases[] = {{4, 2, 1}, {5, 2, 2}, {7, 3, 2}, {3, 0, 2}, {3, 1, 2}, {4, 5, 0}};
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << c.n << "x" << c.n << " k=" << c.k);
        auto shell = lattice_shell(c.n, c.n).to_mesh_shell();
        ASSERT_TRUE(shell) << error_text(shell);
        const auto coarse = shell->coarsen(c.k);
        const std::size_t k = c.k == 0 ? 1 : c.k;
        std::vector<std::uint32_t> expected_kept;
        for (std::size_t j = 0; j < c.n; j += k)
            for (std::size_t i = 0; i < c.n; i += k) expected_kept.push_back(node_at(c.n, i, j));
        EXPECT_EQ(coarse.kept, expected_kept);
        ASSERT_EQ(coarse.nodes.size(), coarse.kept.size());
        for (std::size_t v = 0; v < coarse.kept.size(); ++v) EXPECT_EQ(coarse.nodes[v], shell->nodes()[coarse.kept[v]]);
        EXPECT_EQ(coarse.triangles.size(), 2 * c.cells_per_side * c.cells_per_side);
        for (const auto& t : coarse.triangles) EXPECT_GT(signed_area(coarse.nodes, t), 0.0);
    }
}

TEST(Coarsen, FirstNodeOfALabelWinsAndUnlabelledNodesAreSkipped) {
    // Cell corners of block 0 at stride 2, plus a repeat of label (0,0,0) and
    // an unlabelled node; the cell runs clockwise in XY (y flipped).
    const std::vector<NodeXY> nodes{{0, 0}, {5, 5}, {2, 0}, {0, -2}, {9, 9}, {2, -2}};
    const Labels labels{NodeLabel{0, 0, 0}, NodeLabel{0, 0, 0}, NodeLabel{0, 2, 0},
                        NodeLabel{0, 0, 2}, std::nullopt,       NodeLabel{0, 2, 2}};
    const auto shell = must_make(nodes, {}, {}, labels);
    const auto coarse = shell.coarsen(2);
    EXPECT_EQ(coarse.kept, (std::vector<std::uint32_t>{0, 2, 3, 5}));
    // v = 0, r = 1 (2,0), s = 2 (0,2), d = 3 (2,2): (v, r, d) and (v, d, s),
    // each turned counter-clockwise.
    EXPECT_EQ(coarse.triangles, (std::vector<MeshTriangle>{{0, 3, 1}, {0, 2, 3}}));

    const auto unlabelled = must_make(line_nodes(4), {{0, 1, 2}});
    const auto none = unlabelled.coarsen(2);
    EXPECT_TRUE(none.nodes.empty());
    EXPECT_TRUE(none.triangles.empty());
    EXPECT_TRUE(none.kept.empty());
}

TEST(Coarsen, ExtremeStridesClampWithoutWrapping) {
    // Labels at -M, 0 and M on both axes (M = 2^31 - 1): at stride M they form
    // a complete 2 x 2 coarse block; stepping past M must not wrap around.
    const std::int32_t M = kMaxStep;
    const std::int32_t steps[] = {-M, 0, M};
    std::vector<NodeXY> nodes;
    Labels labels;
    for (int j = 0; j < 3; ++j)
        for (int i = 0; i < 3; ++i) {
            nodes.push_back({double(i), double(j)});
            labels.push_back(NodeLabel{0, steps[i], steps[j]});
        }
    const auto shell = must_make(nodes, {}, {}, labels);
    for (std::uint64_t k : {std::uint64_t(M), std::uint64_t{1} << 32, std::numeric_limits<std::uint64_t>::max()}) {
        SCOPED_TRACE(k);
        const auto coarse = shell.coarsen(k);
        EXPECT_EQ(coarse.kept.size(), 9u);
        EXPECT_EQ(coarse.triangles.size(), 8u);
    }
    // At stride 2 only label (0, 0) is a multiple: one node, no cell.
    const auto two = shell.coarsen(2);
    EXPECT_EQ(two.kept, (std::vector<std::uint32_t>{4}));
    EXPECT_TRUE(two.triangles.empty());
}

// ---- structured shell ----------------------------------------------------------------

TEST(StructuredShellMake, RefusesEmptyAndMismatchedShapes) {
    struct Case {
        const char* what;
        std::size_t xc, xr, yc, yr;
        const char* message;
    };
    const Case cases[] = {
        {"no column", 0, 3, 5, 5, "StructuredShell::new: shape must be non-empty"},
        {"no row", 3, 0, 3, 0, "StructuredShell::new: shape must be non-empty"},
        {"y differs", 3, 4, 3, 5, "StructuredShell::new: x/y shapes differ: x=(3, 4), y=(3, 5)"},
        {"y transposed", 3, 4, 4, 3, "StructuredShell::new: x/y shapes differ: x=(3, 4), y=(4, 3)"},
        {"y empty", 2, 2, 0, 0, "StructuredShell::new: x/y shapes differ: x=(2, 2), y=(0, 0)"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        auto r = StructuredShell::make(Grid2(c.xc, c.xr), Grid2(c.yc, c.yr), std::nullopt, PolygonSet{});
        ASSERT_FALSE(r);
        EXPECT_EQ(r.error().kind(), ErrorKind::GeometryMismatch);
        EXPECT_EQ(r.error().message(), c.message);
    }
    auto ok = StructuredShell::make(Grid2(3, 4, 1.0), Grid2(3, 4, 2.0), GridGeometry{1, 2, 3, 4, 3, 4, 0, false},
                                    PolygonSet{});
    ASSERT_TRUE(ok);
    EXPECT_EQ(ok->ncol(), 3u);
    EXPECT_EQ(ok->nrow(), 4u);
    EXPECT_EQ(ok->nominal(), (GridGeometry{1, 2, 3, 4, 3, 4, 0, false}));
}

TEST(StructuredShellNodeXY, ReturnsStoredCoordinatesInsideTheShape) {
    const auto shell = lattice_shell(3, 2, 1.0, {{0, 0}});
    struct Case {
        std::uint64_t i, j;
        const char* message;  // nullptr: inside
    };
    const Case cases[] = {
        {1, 1, nullptr},
        {2, 0, nullptr},
        {3, 0, "structured surface node (3, 0) outside shape (ncol=3, nrow=2)"},
        {0, 2, "structured surface node (0, 2) outside shape (ncol=3, nrow=2)"},
        {std::numeric_limits<std::uint64_t>::max(), 0,
         "structured surface node (18446744073709551615, 0) outside shape (ncol=3, nrow=2)"},
    };
    for (const auto& c : cases) {
        auto r = shell.node_xy(c.i, c.j);
        if (!c.message) {
            ASSERT_TRUE(r);
            EXPECT_EQ(r->first, 10.0 + double(c.i));
            EXPECT_EQ(r->second, 20.0 + double(c.j));
            continue;
        }
        ASSERT_FALSE(r);
        EXPECT_EQ(r.error().kind(), ErrorKind::OutOfRange);
        EXPECT_EQ(r.error().message(), c.message);
    }
    auto absent = shell.node_xy(0, 0);
    ASSERT_TRUE(absent);
    EXPECT_TRUE(std::isnan(absent->first) && std::isnan(absent->second));
}

TEST(StructuredShellBBox, CountsOnlyNodesWithFiniteXAndY) {
    struct Case {
        const char* what;
        Grid2 x, y;
        BBox expected;
        bool all_nan;
    };
    const Case cases[] = {
        {"all absent", Grid2(2, 2, kNaN), Grid2(2, 2, kNaN), {}, true},
        {"finite x with NaN y ignored", grid(2, 1, [](auto i, auto) { return i == 0 ? -100.0 : 1.0; }),
         grid(2, 1, [](auto i, auto) { return i == 0 ? kNaN : 2.0; }), {1, 2, 1, 2}, false},
        {"infinite coordinate ignored", grid(3, 1, [](auto i, auto) { return i == 2 ? kInf : double(i); }),
         grid(3, 1, [](auto i, auto) { return 5.0 - double(i); }), {0, 4, 1, 5}, false},
        {"spread", grid(2, 2, [](auto i, auto j) { return double(i) - 3.0 * double(j); }),
         grid(2, 2, [](auto i, auto j) { return 7.0 * double(j) - double(i); }), {-3, -1, 1, 7}, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        auto shell = StructuredShell::make(c.x, c.y, std::nullopt, PolygonSet{});
        ASSERT_TRUE(shell);
        const BBox b = shell->bbox();
        if (c.all_nan) {
            EXPECT_TRUE(std::isnan(b.xmin) && std::isnan(b.ymin) && std::isnan(b.xmax) && std::isnan(b.ymax));
        } else {
            EXPECT_EQ(b, c.expected);
        }
    }
}

TEST(StructuredShellToMesh, NumbersRowsOuterAndSplitsCellsCounterClockwise) {
    struct Case {
        const char* what;
        double sy;
        std::vector<MeshTriangle> triangles;
    };
    const Case cases[] = {
        {"y grows with j", 1.0, {{0, 1, 3}, {0, 3, 2}}},
        {"y falls with j", -1.0, {{0, 3, 1}, {0, 2, 3}}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        PolygonSet edge = PolygonSet::from_rings(std::vector<std::vector<std::array<double, 3>>>{
            {{10, 20, 0}, {11, 20, 0}, {11, 21, 0}}});
        Grid2 x = grid(2, 2, [](auto i, auto) { return 10.0 + double(i); });
        Grid2 y = grid(2, 2, [&](auto, auto j) { return 20.0 + c.sy * double(j); });
        auto s = StructuredShell::make(x, y, std::nullopt, edge);
        ASSERT_TRUE(s);
        auto m = s->to_mesh_shell();
        ASSERT_TRUE(m) << error_text(m);
        EXPECT_EQ(m->nodes(), (std::vector<NodeXY>{{10, 20}, {11, 20}, {10, 20 + c.sy}, {11, 20 + c.sy}}));
        EXPECT_EQ(m->labels(), (Labels{NodeLabel{0, 0, 0}, NodeLabel{0, 1, 0}, NodeLabel{0, 0, 1}, NodeLabel{0, 1, 1}}));
        EXPECT_EQ(m->triangles(), c.triangles);
        EXPECT_EQ(m->wireframe(), (std::vector<MeshEdge>{{0, 1}, {0, 2}, {1, 3}, {2, 3}}));
        EXPECT_EQ(m->edge().polygons, edge.polygons);
        for (const auto& t : m->triangles()) EXPECT_GT(signed_area(m->nodes(), t), 0.0);
    }
}

TEST(StructuredShellToMesh, SkipsAbsentNodesAndIncompleteCells) {
    // 3 x 2 lattice with node (2, 1) absent: one complete cell (0..1), nodes
    // numbered (0,0)=0 (1,0)=1 (2,0)=2 (0,1)=3 (1,1)=4.
    auto m = lattice_shell(3, 2, 1.0, {{2, 1}}).to_mesh_shell();
    ASSERT_TRUE(m) << error_text(m);
    EXPECT_EQ(m->node_count(), 5u);
    EXPECT_EQ(m->labels()[4], (NodeLabel{0, 1, 1}));
    EXPECT_EQ(m->triangles(), (std::vector<MeshTriangle>{{0, 1, 4}, {0, 4, 3}}));
    EXPECT_EQ(m->components(), 1u);
    // Node 2 belongs to no triangle and draws nothing.
    EXPECT_EQ(m->wireframe(), (std::vector<MeshEdge>{{0, 1}, {0, 3}, {1, 4}, {3, 4}}));

    // A node with a finite x but NaN y is absent too.
    Grid2 x = grid(2, 2, [](auto i, auto) { return double(i); });
    Grid2 y = grid(2, 2, [](auto i, auto j) { return i == 1 && j == 1 ? kNaN : double(j); });
    auto half = StructuredShell::make(x, y, std::nullopt, PolygonSet{});
    ASSERT_TRUE(half);
    auto r = half->to_mesh_shell();
    ASSERT_FALSE(r);
    EXPECT_EQ(r.error().message(), "structured shell has no complete cell to triangulate");
}

TEST(StructuredShellToMesh, NoCompleteCellIsAnInferenceError) {
    struct Case {
        const char* what;
        std::size_t ncol, nrow;
        std::vector<std::pair<std::size_t, std::size_t>> absent;
    };
    const Case cases[] = {
        {"3x3 without its centre", 3, 3, {{1, 1}}},
        {"single row", 5, 1, {}},
        {"single column", 1, 5, {}},
        {"single node", 1, 1, {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        auto r = lattice_shell(c.ncol, c.nrow, 1.0, c.absent).to_mesh_shell();
        ASSERT_FALSE(r);
        EXPECT_EQ(r.error().kind(), ErrorKind::GeometryInference);
        EXPECT_EQ(r.error().message(), "structured shell has no complete cell to triangulate");
    }
}

TEST(StructuredShellFromGridGeometry, PlacesEveryNodeByTheLatticeTransform) {
    const GridGeometry geoms[] = {
        {100, 200, 10, 5, 4, 3, 0, false},
        {100, 200, 10, 5, 4, 3, 30, false},
        {-5, 7, 2, 3, 3, 2, 45, true},
        {0, 0, 1, 1, 1, 1, 0, false},
    };
    for (const auto& g : geoms) {
        SCOPED_TRACE(testing::Message() << g.ncol << "x" << g.nrow << " rot " << g.rotation_deg);
        auto s = StructuredShell::from_grid_geometry(g);
        ASSERT_TRUE(s) << error_text(s);
        ASSERT_EQ(s->ncol(), g.ncol);
        ASSERT_EQ(s->nrow(), g.nrow);
        EXPECT_EQ(s->nominal(), g);
        for (std::size_t i = 0; i < g.ncol; ++i)
            for (std::size_t j = 0; j < g.nrow; ++j) {
                const auto [wx, wy] = g.node_xy(i, j);
                EXPECT_EQ(s->x()(i, j), wx);
                EXPECT_EQ(s->y()(i, j), wy);
            }
        const PolygonSet footprint = PolygonSet::from_grid_geometry(g);
        EXPECT_EQ(s->edge().polygons, footprint.polygons);
        EXPECT_EQ(s->edge().history.entries(), footprint.history.entries());
    }
}

TEST(StructuredShellFromGridGeometry, EmptyOrOversizedLatticesFailInOrder) {
    struct Case {
        const char* what;
        std::uint64_t ncol, nrow;
        ErrorKind kind;
        const char* message;
    };
    const Case cases[] = {
        {"no column", 0, 4, ErrorKind::GeometryMismatch, "StructuredShell::new: shape must be non-empty"},
        {"no row", 4, 0, ErrorKind::GeometryMismatch, "StructuredShell::new: shape must be non-empty"},
        {"too many nodes", std::uint64_t{1} << 40, std::uint64_t{1} << 40, ErrorKind::OutOfRange,
         "StructuredShell::from_grid_geometry: grid (ncol=1099511627776, nrow=1099511627776) is too large"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const GridGeometry g{0, 0, 1, 1, c.ncol, c.nrow, 0, false};
        auto s = StructuredShell::from_grid_geometry(g);
        ASSERT_FALSE(s);
        EXPECT_EQ(s.error().kind(), c.kind);
        EXPECT_EQ(s.error().message(), c.message);
        auto m = MeshShell::from_grid_geometry(g);
        ASSERT_FALSE(m);
        EXPECT_EQ(m.error(), s.error());
    }
}

TEST(MeshShellFromGridGeometry, ExplodesTheLatticeIntoLabelledTriangles) {
    const GridGeometry g{0, 0, 2, 1, 3, 3, 0, true};  // rows run along -y: cells turn
    auto m = MeshShell::from_grid_geometry(g);
    ASSERT_TRUE(m) << error_text(m);
    ASSERT_EQ(m->node_count(), 9u);
    for (std::size_t j = 0; j < 3; ++j)
        for (std::size_t i = 0; i < 3; ++i) {
            const auto n = node_at(3, i, j);
            const auto [wx, wy] = g.node_xy(i, j);
            EXPECT_EQ(m->nodes()[n], (NodeXY{wx, wy}));
            EXPECT_EQ(m->labels()[n], (NodeLabel{0, std::int32_t(i), std::int32_t(j)}));
        }
    EXPECT_EQ(m->triangles().size(), 8u);
    for (const auto& t : m->triangles()) EXPECT_GT(signed_area(m->nodes(), t), 0.0);
    EXPECT_EQ(m->wireframe().size(), 12u);  // 6 row and 6 column segments
    EXPECT_EQ(m->components(), 1u);

    auto single_row = MeshShell::from_grid_geometry(GridGeometry{0, 0, 1, 1, 3, 1, 0, false});
    ASSERT_FALSE(single_row);
    EXPECT_EQ(single_row.error().display(),
              "geometry inference failed: structured shell has no complete cell to triangulate");
}

TEST(StructuredShellFromPayload, ChecksStoredCountsAgainstTheArrays) {
    struct Case {
        const char* what;
        std::uint64_t ncol, nrow;
        std::size_t yc;
        const char* message;
    };
    const Case cases[] = {
        {"matching", 3, 2, 3, nullptr},
        {"ncol one more", 4, 2, 3, "StructuredShell payload ncol/nrow disagree with the coordinate arrays"},
        {"nrow one less", 3, 1, 3, "StructuredShell payload ncol/nrow disagree with the coordinate arrays"},
        {"arrays refused first", 4, 2, 2, "StructuredShell::new: x/y shapes differ: x=(3, 2), y=(2, 2)"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        auto s = StructuredShell::from_payload(PolygonSet{}, std::nullopt, Grid2(3, 2, 1.0), Grid2(c.yc, 2, 1.0),
                                               c.ncol, c.nrow);
        if (!c.message) {
            ASSERT_TRUE(s) << error_text(s);
            EXPECT_EQ(s->ncol(), 3u);
            continue;
        }
        ASSERT_FALSE(s);
        EXPECT_EQ(s.error().kind(), ErrorKind::GeometryMismatch);
        EXPECT_EQ(s.error().message(), c.message);
    }
}

}  // namespace
}  // namespace vz

namespace vz {
namespace {

// ---- lattice fits of the shells ----------------------------------------------------

void expect_geometry_near(const GridGeometry& got, const GridGeometry& want) {
    EXPECT_NEAR(got.xori, want.xori, 1e-9);
    EXPECT_NEAR(got.yori, want.yori, 1e-9);
    EXPECT_NEAR(got.xinc, want.xinc, 1e-9);
    EXPECT_NEAR(got.yinc, want.yinc, 1e-9);
    EXPECT_EQ(got.ncol, want.ncol);
    EXPECT_EQ(got.nrow, want.nrow);
    EXPECT_NEAR(got.rotation_deg, want.rotation_deg, 1e-9);
    EXPECT_EQ(got.yflip, want.yflip);
}

TEST(ShellInferGrid, RegularShellsGiveBackTheirLattice) {
    const GridGeometry g{1000, 2000, 25, 25, 5, 4, 0, false};
    auto structured = StructuredShell::from_grid_geometry(g);
    ASSERT_TRUE(structured);
    auto s = structured->infer_grid(1e-3);
    ASSERT_TRUE(s) << error_text(s);
    expect_geometry_near(*s, g);

    auto mesh = MeshShell::from_grid_geometry(g);
    ASSERT_TRUE(mesh);
    auto m = mesh->infer_grid(1e-3);
    ASSERT_TRUE(m) << error_text(m);
    expect_geometry_near(*m, g);
}

TEST(ShellInferGrid, MeshUsesLabelsOnlyWhenEveryNodeIsLabelledInOneBlock) {
    // A lattice of 5 nodes 10 apart along x and 3 nodes 20 apart along y,
    // labelled with columns running along y: the indexed fit takes columns
    // 20 apart, the bare XY fit its first axis along the shorter spacing.
    std::vector<NodeXY> nodes;
    Labels labels;
    for (int j = 0; j < 3; ++j)
        for (int i = 0; i < 5; ++i) {
            nodes.push_back({10.0 * i, 20.0 * j});
            labels.push_back(NodeLabel{2, j, i});
        }
    struct Case {
        const char* what;
        std::size_t node;
        std::optional<NodeLabel> label;
        double xinc, yinc;
        std::uint64_t ncol, nrow;
    };
    const Case cases[] = {
        {"all in block 2", 0, NodeLabel{2, 0, 0}, 20.0, 10.0, 3, 5},
        {"one unlabelled node", 5, std::nullopt, 10.0, 20.0, 5, 3},
        {"one node in another block", 14, NodeLabel{0, 2, 4}, 10.0, 20.0, 5, 3},
        {"first node in another block", 0, NodeLabel{0, 0, 0}, 10.0, 20.0, 5, 3},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        Labels l = labels;
        l[c.node] = c.label;
        const auto shell = must_make(nodes, {}, {}, l);
        auto g = shell.infer_grid(1e-3);
        ASSERT_TRUE(g) << error_text(g);
        EXPECT_NEAR(g->xinc, c.xinc, 1e-9);
        EXPECT_NEAR(std::abs(g->yinc), c.yinc, 1e-9);
        EXPECT_EQ(g->ncol, c.ncol);
        EXPECT_EQ(g->nrow, c.nrow);
    }
}

TEST(ShellInferGrid, FitFailuresPassThrough) {
    const auto labelled = *MeshShell::from_grid_geometry(GridGeometry{0, 0, 1, 1, 2, 2, 0, false});
    const auto bare = must_make(line_nodes(3), {});
    const auto empty = must_make({}, {});
    const auto structured = lattice_shell(2, 2);
    struct Case {
        const char* what;
        Result<GridGeometry> got;
        const char* message;
    };
    const Case cases[] = {
        {"tolerance", labelled.infer_grid(kNaN), "tolerance must be a finite positive number"},
        {"structured tolerance", structured.infer_grid(-1.0), "tolerance must be a finite positive number"},
        {"bare, too few points", bare.infer_grid(1e-3), "at least four finite points are required"},
        {"no nodes", empty.infer_grid(1e-3), "at least four finite points are required"},
        {"structured, too few nodes", lattice_shell(3, 2, 1.0, {{0, 0}, {1, 0}, {2, 0}}).infer_grid(1e-3),
         "column/row geometry inference requires at least four indexed points"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        ASSERT_FALSE(c.got);
        EXPECT_EQ(c.got.error().kind(), ErrorKind::GeometryInference);
        EXPECT_EQ(c.got.error().message(), c.message);
    }
}

}  // namespace
}  // namespace vz
