// Value layers of regular, structured and triangulated surfaces: node order
// and triangles of the quad split, lane selection, value ranges, coarse
// levels of detail (clamped strides included) and every failure.

#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <cstdint>
#include <limits>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "core/grid_geometry.hpp"
#include "core/shell/boundary.hpp"
#include "core/shell/mesh.hpp"
#include "core/structured_surface.hpp"
#include "core/surface.hpp"
#include "core/tri_surface.hpp"
#include "core/value_layer.hpp"
#include "foundation/grid2.hpp"

namespace vz {
namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kInf = std::numeric_limits<double>::infinity();

template <class T>
std::string error_of(const Result<T>& r) {
    return r ? std::string("<ok>") : r.error().message();
}

template <class F>
Grid2 grid(std::size_t ncol, std::size_t nrow, F f) {
    Grid2 g(ncol, nrow);
    for (std::size_t i = 0; i < ncol; ++i)
        for (std::size_t j = 0; j < nrow; ++j) g(i, j) = f(i, j);
    return g;
}

double v_of(std::size_t i, std::size_t j) { return 10.0 * double(i) + double(j); }

GridGeometry unit_geometry(std::uint64_t ncol, std::uint64_t nrow) {
    GridGeometry g;
    g.xinc = 1.0;
    g.yinc = 1.0;
    g.ncol = ncol;
    g.nrow = nrow;
    return g;
}

Surface surface_on(const GridGeometry& g) {
    auto s = Surface::make(g, grid(g.ncol, g.nrow, v_of));
    EXPECT_TRUE(s) << error_of(s);
    return *std::move(s);
}

double twice_area(const ValueLayer& l, const MeshTriangle& t) {
    const auto& a = l.nodes[t[0]];
    const auto& b = l.nodes[t[1]];
    const auto& c = l.nodes[t[2]];
    return (b[0] - a[0]) * (c[1] - a[1]) - (b[1] - a[1]) * (c[0] - a[0]);
}

bool same_value(double a, double b) { return (std::isnan(a) && std::isnan(b)) || a == b; }

// ---- the full-resolution quad split -------------------------------------------------

class RegularFullResolution : public ::testing::TestWithParam<std::optional<std::uint64_t>> {};

TEST_P(RegularFullResolution, NodesTrianglesAndValuesInLatticeOrder) {
    const Surface s = surface_on(unit_geometry(3, 2));
    const auto r = value_layer(s, std::nullopt, GetParam());
    ASSERT_TRUE(r) << error_of(r);
    EXPECT_EQ(r->name, "values");
    EXPECT_EQ(r->nodes, (std::vector<NodeXY>{{0, 0}, {1, 0}, {2, 0}, {0, 1}, {1, 1}, {2, 1}}));
    EXPECT_EQ(r->triangles, (std::vector<MeshTriangle>{{0, 1, 4}, {0, 4, 3}, {1, 2, 5}, {1, 5, 4}}));
    EXPECT_EQ(r->values, (std::vector<double>{0, 10, 20, 1, 11, 21}));
    EXPECT_EQ(r->vmin, 0.0);
    EXPECT_EQ(r->vmax, 21.0);
}

// No stride, stride 0 and stride 1 all mean full resolution.
INSTANTIATE_TEST_SUITE_P(Strides, RegularFullResolution,
                         ::testing::Values(std::nullopt, std::optional<std::uint64_t>(0),
                                           std::optional<std::uint64_t>(1)));

TEST(ValueLayer, RotatedFlippedLatticePlacesEveryNodeByItsLabel) {
    GridGeometry g;
    g.xori = 451000.0;
    g.yori = 6780000.0;
    g.xinc = 25.0;
    g.yinc = 12.5;
    g.ncol = 5;
    g.nrow = 4;
    g.rotation_deg = 30.0;
    g.yflip = true;
    Surface s = surface_on(g);
    ASSERT_TRUE(s.set_attr("amp", grid(5, 4, [](std::size_t i, std::size_t j) { return -v_of(i, j); })));
    const auto r = value_layer(s, std::string("amp"), std::nullopt);
    ASSERT_TRUE(r) << error_of(r);
    EXPECT_EQ(r->name, "amp");
    ASSERT_EQ(r->nodes.size(), 20u);
    ASSERT_EQ(r->values.size(), 20u);
    for (std::size_t n = 0; n < 20; ++n) {
        const std::size_t i = n % 5, j = n / 5;  // rows outer, columns inner
        const auto [x, y] = g.node_xy(i, j);
        EXPECT_EQ(r->nodes[n], (NodeXY{x, y}));
        EXPECT_EQ(r->values[n], -v_of(i, j));
    }
    EXPECT_EQ(r->triangles.size(), 24u);
    for (const auto& t : r->triangles) EXPECT_GT(twice_area(*r, t), 0.0) << "counter-clockwise despite yflip";
    EXPECT_EQ(r->vmin, -43.0);
    EXPECT_EQ(r->vmax, 0.0);
}

// ---- value ranges ------------------------------------------------------------------

TEST(ValueLayer, RangeSkipsNaNAndInfinities) {
    struct Case {
        const char* name;
        std::array<double, 4> lane;  // nodes (0,0), (1,0), (0,1), (1,1)
        double vmin, vmax;
    };
    const Case cases[] = {
        {"mixed", {kNaN, 3.0, kInf, -2.0}, -2.0, 3.0},
        {"all_nan", {kNaN, kNaN, kNaN, kNaN}, kNaN, kNaN},
        {"only_infinities", {kInf, -kInf, kNaN, kInf}, kNaN, kNaN},
        {"one_finite", {-kInf, 5.0, kNaN, kInf}, 5.0, 5.0},
        {"negative_zero", {0.0, -0.0, 1.0, 1.0}, 0.0, 1.0},
    };
    for (const Case& c : cases) {
        Surface s = surface_on(unit_geometry(2, 2));
        Grid2 lane(2, 2);
        lane(0, 0) = c.lane[0];
        lane(1, 0) = c.lane[1];
        lane(0, 1) = c.lane[2];
        lane(1, 1) = c.lane[3];
        ASSERT_TRUE(s.set_attr("lane", lane));
        const auto r = value_layer(s, std::string("lane"), std::nullopt);
        ASSERT_TRUE(r) << c.name << ": " << error_of(r);
        EXPECT_TRUE(same_value(r->vmin, c.vmin)) << c.name << " vmin " << r->vmin;
        EXPECT_TRUE(same_value(r->vmax, c.vmax)) << c.name << " vmax " << r->vmax;
        EXPECT_EQ(r->values.size(), 4u);
    }
}

// ---- coarse levels of detail -------------------------------------------------------

struct StrideCase {
    const char* name;
    std::uint64_t ncol, nrow, stride;
    std::vector<std::array<std::size_t, 2>> kept;  // (i, j) in node order
    std::size_t triangles;
};

class RegularCoarse : public ::testing::TestWithParam<StrideCase> {};

TEST_P(RegularCoarse, KeepsMultiplesOfTheStrideAndTheFullRange) {
    const StrideCase& c = GetParam();
    const GridGeometry g = unit_geometry(c.ncol, c.nrow);
    Surface s = surface_on(g);
    // Extremes at nodes no coarse level keeps: the range must still see them.
    s.values(1, 1) = -500.0;
    s.values(c.ncol - 1, c.nrow - 1) = 900.0;
    const auto r = value_layer(s, std::nullopt, c.stride);
    ASSERT_TRUE(r) << error_of(r);
    ASSERT_EQ(r->nodes.size(), c.kept.size());
    ASSERT_EQ(r->values.size(), c.kept.size());
    for (std::size_t n = 0; n < c.kept.size(); ++n) {
        const auto [i, j] = c.kept[n];
        const auto [x, y] = g.node_xy(i, j);
        EXPECT_EQ(r->nodes[n], (NodeXY{x, y})) << n;
        EXPECT_EQ(r->values[n], s.values(i, j)) << n;
    }
    EXPECT_EQ(r->triangles.size(), c.triangles);
    for (const auto& t : r->triangles) {
        for (const auto v : t) EXPECT_LT(v, r->nodes.size());
        EXPECT_GT(twice_area(*r, t), 0.0);
    }
    EXPECT_EQ(r->vmin, -500.0);
    EXPECT_EQ(r->vmax, 900.0);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, RegularCoarse,
    ::testing::Values(
        StrideCase{"five_by_five_stride_2",
                   5,
                   5,
                   2,
                   {{0, 0}, {2, 0}, {4, 0}, {0, 2}, {2, 2}, {4, 2}, {0, 4}, {2, 4}, {4, 4}},
                   8},
        // The last column and row are not multiples of 2: not kept.
        StrideCase{"four_by_four_stride_2", 4, 4, 2, {{0, 0}, {2, 0}, {0, 2}, {2, 2}}, 2},
        StrideCase{"five_by_five_stride_4", 5, 5, 4, {{0, 0}, {4, 0}, {0, 4}, {4, 4}}, 2},
        StrideCase{"seven_by_three_stride_3", 7, 3, 3, {{0, 0}, {3, 0}, {6, 0}}, 0},
        // Strides beyond the lattice: only column and row 0, no triangle.
        StrideCase{"stride_beyond_lattice", 3, 3, 7, {{0, 0}}, 0},
        StrideCase{"stride_2_pow_31", 3, 3, std::uint64_t{1} << 31, {{0, 0}}, 0},
        StrideCase{"stride_2_pow_40", 3, 3, std::uint64_t{1} << 40, {{0, 0}}, 0},
        StrideCase{"stride_max", 3, 3, std::numeric_limits<std::uint64_t>::max(), {{0, 0}}, 0}),
    [](const auto& info) { return std::string(info.param.name); });

// ---- structured surfaces -------------------------------------------------------------

/// A 4 x 3 curvilinear shell (node (i, j) at (i + 0.1 j, j + 0.05 i)) whose
/// node (1, 1) is absent; lane value 100 i + j, -999 at the absent node.
StructuredMeshSurface holed_structured() {
    Grid2 x = grid(4, 3, [](std::size_t i, std::size_t j) { return double(i) + 0.1 * double(j); });
    Grid2 y = grid(4, 3, [](std::size_t i, std::size_t j) { return double(j) + 0.05 * double(i); });
    x(1, 1) = kNaN;
    y(1, 1) = kNaN;
    Grid2 v = grid(4, 3, [](std::size_t i, std::size_t j) { return 100.0 * double(i) + double(j); });
    v(1, 1) = -999.0;
    auto s = StructuredMeshSurface::make(std::move(x), std::move(y), std::move(v), std::nullopt, PolygonSet{});
    EXPECT_TRUE(s) << error_of(s);
    return *std::move(s);
}

TEST(StructuredValueLayer, AbsentNodesAreLeftOutAndValuesFollowLabels) {
    const StructuredMeshSurface s = holed_structured();
    const auto r = value_layer(s, std::nullopt, std::nullopt);
    ASSERT_TRUE(r) << error_of(r);
    EXPECT_EQ(r->name, "values");
    // Present nodes, rows outer: (0..3, 0), (0, 1), (2, 1), (3, 1), (0..3, 2).
    EXPECT_EQ(r->values, (std::vector<double>{0, 100, 200, 300, 1, 201, 301, 2, 102, 202, 302}));
    ASSERT_EQ(r->nodes.size(), 11u);
    EXPECT_EQ(r->nodes[5], (NodeXY{2.1, 1.1}));
    // Only the two cells right of the hole are complete.
    EXPECT_EQ(r->triangles.size(), 4u);
    for (const auto& t : r->triangles) EXPECT_GT(twice_area(*r, t), 0.0);
    // The absent node's lane value is no node's value.
    EXPECT_EQ(r->vmin, 0.0);
    EXPECT_EQ(r->vmax, 302.0);
}

TEST(StructuredValueLayer, CoarseLevelAndNamedLane) {
    StructuredMeshSurface s = holed_structured();
    ASSERT_TRUE(s.set_attr("twice", grid(4, 3, [](std::size_t i, std::size_t j) { return 2.0 * (i + j); })));
    const auto r = value_layer(s, std::string("twice"), 2);
    ASSERT_TRUE(r) << error_of(r);
    EXPECT_EQ(r->name, "twice");
    // Kept labels (0, 0), (2, 0), (0, 2), (2, 2): one coarse cell.
    EXPECT_EQ(r->values, (std::vector<double>{0, 4, 4, 8}));
    EXPECT_EQ(r->nodes, (std::vector<NodeXY>{{0.0, 0.0}, {2.0, 0.1}, {0.2, 2.0}, {2.2, 2.1}}));
    EXPECT_EQ(r->triangles.size(), 2u);
    EXPECT_EQ(r->vmin, 0.0);
    EXPECT_EQ(r->vmax, 10.0);
}

// ---- triangulated surfaces -----------------------------------------------------------

/// A triangulated 3 x 3-node lattice, labelled (0, i, j) when `labelled`.
TriSurface tri_lattice(bool labelled) {
    std::vector<NodeXY> nodes;
    std::vector<std::optional<NodeLabel>> labels;
    std::vector<double> z;
    for (int j = 0; j < 3; ++j)
        for (int i = 0; i < 3; ++i) {
            nodes.push_back({double(i) * 2.0, double(j) * 3.0});
            labels.push_back(labelled ? std::optional<NodeLabel>(NodeLabel{0, i, j}) : std::nullopt);
            z.push_back(v_of(i, j));
        }
    std::vector<MeshTriangle> tris;
    for (std::uint32_t j = 0; j < 2; ++j)
        for (std::uint32_t i = 0; i < 2; ++i) {
            const std::uint32_t a = j * 3 + i;
            tris.push_back({a, a + 1, a + 4});
            tris.push_back({a, a + 4, a + 3});
        }
    auto shell = mesh::from_triangles(std::move(nodes), std::move(tris), std::move(labels));
    EXPECT_TRUE(shell) << error_of(shell);
    auto s = TriSurface::from_shell(std::make_shared<const MeshShell>(*std::move(shell)), std::move(z));
    EXPECT_TRUE(s) << error_of(s);
    return *std::move(s);
}

TEST(TriValueLayer, FullResolutionIsTheShellItself) {
    TriSurface s = tri_lattice(true);
    std::vector<double> lane{5, kNaN, 7, 1, 2, 3, -4, 0, kInf};
    ASSERT_TRUE(s.set_attr("q", lane));
    const auto r = value_layer(s, std::string("q"), 1);
    ASSERT_TRUE(r) << error_of(r);
    EXPECT_EQ(r->name, "q");
    EXPECT_EQ(r->nodes, s.shell->nodes());
    EXPECT_EQ(r->triangles, s.shell->triangles());
    ASSERT_EQ(r->values.size(), lane.size());
    for (std::size_t k = 0; k < lane.size(); ++k) EXPECT_TRUE(same_value(r->values[k], lane[k])) << k;
    EXPECT_EQ(r->vmin, -4.0);
    EXPECT_EQ(r->vmax, 7.0);
}

TEST(TriValueLayer, CoarseLevelFollowsLabels) {
    struct Case {
        const char* name;
        bool labelled;
        std::size_t nodes, triangles;
    };
    const Case cases[] = {{"labelled", true, 4, 2}, {"unlabelled_keeps_nothing", false, 0, 0}};
    for (const Case& c : cases) {
        const TriSurface s = tri_lattice(c.labelled);
        const auto r = value_layer(s, std::nullopt, 2);
        ASSERT_TRUE(r) << c.name << ": " << error_of(r);
        EXPECT_EQ(r->name, "values") << c.name;
        EXPECT_EQ(r->nodes.size(), c.nodes) << c.name;
        EXPECT_EQ(r->values.size(), c.nodes) << c.name;
        EXPECT_EQ(r->triangles.size(), c.triangles) << c.name;
        EXPECT_EQ(r->vmin, 0.0) << c.name;
        EXPECT_EQ(r->vmax, 22.0) << c.name;
        if (c.labelled) {
            EXPECT_EQ(r->values, (std::vector<double>{0, 20, 2, 22}));
        }
    }
}

// ---- failures ----------------------------------------------------------------------

TEST(ValueLayer, FailureTexts) {
    struct Case {
        const char* name;
        Result<ValueLayer> result;
        ErrorKind kind;
        std::string message;
    };
    const Surface plain = surface_on(unit_geometry(3, 3));
    const Surface one_row = surface_on(unit_geometry(4, 1));
    const Surface one_column = surface_on(unit_geometry(1, 4));
    Surface no_columns = plain;
    no_columns.geom.ncol = 0;
    no_columns.values = Grid2(0, 3);
    auto line_shell = StructuredMeshSurface::make(grid(3, 1, [](auto i, auto) { return double(i); }),
                                                  grid(3, 1, [](auto, auto) { return 0.0; }), Grid2(3, 1),
                                                  std::nullopt, PolygonSet{});
    ASSERT_TRUE(line_shell) << error_of(line_shell);
    TriSurface short_lane = tri_lattice(true);
    short_lane.values.pop_back();
    const std::string no_cell = "structured shell has no complete cell to triangulate";
    Case cases[] = {
        {"missing_lane_named_values", value_layer(plain, std::string("values"), std::nullopt),
         ErrorKind::NotFound, "no attribute layer 'values'"},
        {"one_row", value_layer(one_row, std::nullopt, std::nullopt), ErrorKind::GeometryInference, no_cell},
        {"one_row_stride", value_layer(one_row, std::nullopt, 2), ErrorKind::GeometryInference, no_cell},
        {"one_column", value_layer(one_column, std::nullopt, 5), ErrorKind::GeometryInference, no_cell},
        // The mesh is checked before the lane.
        {"one_row_missing_lane", value_layer(one_row, std::string("nope"), std::nullopt),
         ErrorKind::GeometryInference, no_cell},
        {"no_columns", value_layer(no_columns, std::nullopt, std::nullopt), ErrorKind::GeometryMismatch,
         "StructuredShell::new: shape must be non-empty"},
        {"structured_one_row", value_layer(*line_shell, std::string("nope"), std::nullopt),
         ErrorKind::GeometryInference, no_cell},
        {"structured_missing_lane", value_layer(holed_structured(), std::string("nope"), 3), ErrorKind::NotFound,
         "no attribute layer 'nope'"},
        {"tri_missing_lane", value_layer(tri_lattice(true), std::string("nope"), std::nullopt),
         ErrorKind::NotFound, "no attribute layer 'nope'"},
        {"tri_short_lane", value_layer(short_lane, std::nullopt, 2), ErrorKind::GeometryMismatch,
         "TriSurface value_layer: 8 lane values for 9 shell nodes"},
    };
    for (const Case& c : cases) {
        ASSERT_FALSE(c.result) << c.name;
        EXPECT_EQ(c.result.error().kind(), c.kind) << c.name;
        EXPECT_EQ(c.result.error().message(), c.message) << c.name;
    }
}

TEST(ValueLayer, GatherValuesGuardsIndices) {
    const std::vector<double> values{1.0, 2.0, 3.0};
    const std::vector<std::uint32_t> kept{0, 2, 3, 0xFFFFFFFFu};
    const auto out = ValueLayer::gather_values(values, kept);
    ASSERT_EQ(out.size(), 4u);
    EXPECT_EQ(out[0], 1.0);
    EXPECT_EQ(out[1], 3.0);
    EXPECT_TRUE(std::isnan(out[2]));
    EXPECT_TRUE(std::isnan(out[3]));
}

}  // namespace
}  // namespace vz
