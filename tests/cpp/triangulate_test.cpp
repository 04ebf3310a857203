// Lattice-following triangulation of point sets: argument limits, perfect
// and rotated lattices, faults that must not be bridged (and are when a
// bridge length allows it), island removal, refused points, node numbering,
// and the edge and component rules on hand-made detections.

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <limits>
#include <map>
#include <numbers>
#include <optional>
#include <random>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "core/points.hpp"
#include "core/polygons.hpp"
#include "core/topology.hpp"
#include "core/triangulate.hpp"
#include "thread_count_util.hpp"

namespace vz {
namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kInf = std::numeric_limits<double>::infinity();

template <class T>
std::string error_of(const Result<T>& r) {
    return r ? std::string("<ok>") : r.error().message();
}

/// z of lattice node (i, j): distinct per node so that values can be traced.
double z_of(int i, int j) { return 1000.0 + 10.0 * i + 0.5 * j; }

/// Points of an ncol x nrow lattice rotated by `deg` with steps `si`, `sj`
/// from `origin`; node (i, j) is placed by `place` (i, j) -> (i', j') offsets
/// in cells before the rotation, and carries z_of(i, j).
template <class Place>
PointSet lattice_points(int ncol, int nrow, double deg, double si, double sj, std::array<double, 2> origin,
                        Place place) {
    const double t = deg * std::numbers::pi / 180.0;
    const double c = std::cos(t), s = std::sin(t);
    std::vector<std::array<double, 3>> pts;
    for (int j = 0; j < nrow; ++j)
        for (int i = 0; i < ncol; ++i) {
            const auto [a, b] = place(i, j);
            const double u = a * si, v = b * sj;
            pts.push_back({origin[0] + u * c - v * s, origin[1] + u * s + v * c, z_of(i, j)});
        }
    return PointSet::from_coords(std::move(pts));
}

PointSet plain_lattice(int ncol, int nrow) {
    return lattice_points(ncol, nrow, 0.0, 1.0, 1.0, {0.0, 0.0},
                          [](int i, int j) { return std::array<double, 2>{double(i), double(j)}; });
}

/// Twice the signed area of triangle t of the shell, in XY.
double twice_area(const MeshShell& shell, const MeshTriangle& t) {
    const auto& a = shell.nodes()[t[0]];
    const auto& b = shell.nodes()[t[1]];
    const auto& c = shell.nodes()[t[2]];
    return (b[0] - a[0]) * (c[1] - a[1]) - (b[1] - a[1]) * (c[0] - a[0]);
}

/// Structural checks every result must pass: counter-clockwise triangles,
/// one value per node equal to the z of the input point at the node's XY,
/// every node used by a triangle.
void expect_sound(const TriSurface& s, const PointSet& input) {
    const MeshShell& shell = *s.shell;
    ASSERT_EQ(s.values.size(), shell.node_count());
    ASSERT_EQ(shell.labels().size(), shell.node_count());
    std::map<std::pair<double, double>, double> z_at;
    for (const auto& p : input.points) z_at.emplace(std::pair{p[0], p[1]}, p[2]);
    for (std::size_t n = 0; n < shell.node_count(); ++n) {
        const auto it = z_at.find({shell.nodes()[n][0], shell.nodes()[n][1]});
        ASSERT_NE(it, z_at.end()) << "node " << n << " is not an input point";
        EXPECT_EQ(s.values[n], it->second);
    }
    std::vector<bool> used(shell.node_count(), false);
    std::uint32_t next_new = 0;
    for (const auto& t : shell.triangles()) {
        EXPECT_GT(twice_area(shell, t), 0.0);
        for (const auto v : t) {
            if (!used[v]) {
                EXPECT_EQ(v, next_new) << "nodes are numbered by first use";
                ++next_new;
            }
            used[v] = true;
        }
    }
    EXPECT_TRUE(std::all_of(used.begin(), used.end(), [](bool u) { return u; }));
}

// ---- argument limits --------------------------------------------------------

struct LimitCase {
    const char* name;
    std::optional<double> max_link;
    std::optional<double> max_bridge;
    std::string error;  // empty: accepted
    std::string history;
};

class TriangulateLimits : public ::testing::TestWithParam<LimitCase> {};

TEST_P(TriangulateLimits, AcceptedOrRefused) {
    const LimitCase& c = GetParam();
    const PointSet input = plain_lattice(5, 5);
    const auto r = points::to_tri_surface(input, c.max_link, c.max_bridge);
    if (!c.error.empty()) {
        ASSERT_FALSE(r);
        EXPECT_EQ(r.error().kind(), ErrorKind::GeometryInference);
        EXPECT_EQ(r.error().message(), c.error);
        return;
    }
    ASSERT_TRUE(r) << error_of(r);
    EXPECT_EQ(r->history.entries(), (std::vector<std::string>{"points.from_coords", c.history}));
}

const std::string kLinkText =
    "max_link must lie in (1.4142, 2) cells: below the cell diagonal the mesh shreds, at two cells a triangle "
    "skips a node (got ";

INSTANTIATE_TEST_SUITE_P(
    Cases, TriangulateLimits,
    ::testing::Values(
        LimitCase{"default", std::nullopt, std::nullopt, "", "points.to_tri_surface(max_link=1.8)"},
        LimitCase{"diagonal_exactly", std::numbers::sqrt2, std::nullopt, "",
                  "points.to_tri_surface(max_link=1.4142135623730951)"},
        LimitCase{"just_below_two", 1.9999999999999998, std::nullopt, "",
                  "points.to_tri_surface(max_link=1.9999999999999998)"},
        LimitCase{"below_diagonal", 1.4142, std::nullopt, kLinkText + "1.4142)", ""},
        LimitCase{"two", 2.0, std::nullopt, kLinkText + "2)", ""},
        LimitCase{"nan", kNaN, std::nullopt, kLinkText + "NaN)", ""},
        LimitCase{"negative", -1.5, std::nullopt, kLinkText + "-1.5)", ""},
        LimitCase{"bridge_equal_link", 1.5, 1.5, "", "points.to_tri_surface(max_link=1.5, max_bridge=1.5)"},
        LimitCase{"bridge_default_link", std::nullopt, 3.4, "",
                  "points.to_tri_surface(max_link=1.8, max_bridge=3.4)"},
        LimitCase{"bridge_whole", std::nullopt, 2.0, "", "points.to_tri_surface(max_link=1.8, max_bridge=2)"},
        LimitCase{"bridge_below_link", 1.8, 1.7,
                  "max_bridge must be a finite length in cells >= max_link (1.8), got 1.7", ""},
        LimitCase{"bridge_infinite", std::nullopt, kInf,
                  "max_bridge must be a finite length in cells >= max_link (1.8), got inf", ""},
        LimitCase{"bridge_nan", std::nullopt, kNaN,
                  "max_bridge must be a finite length in cells >= max_link (1.8), got NaN", ""},
        // The link is checked before the bridge.
        LimitCase{"both_bad", 2.5, kNaN, kLinkText + "2.5)", ""}),
    [](const auto& info) { return std::string(info.param.name); });

// ---- whole lattices -----------------------------------------------------------

struct LatticeCase {
    const char* name;
    int ncol, nrow;
    double deg, si, sj;
    std::array<double, 2> origin;
};

class TriangulateLattice : public ::testing::TestWithParam<LatticeCase> {};

TEST_P(TriangulateLattice, EveryCellGivesTwoTrianglesAndOneOutline) {
    const LatticeCase& c = GetParam();
    const PointSet input = lattice_points(c.ncol, c.nrow, c.deg, c.si, c.sj, c.origin,
                                          [](int i, int j) { return std::array<double, 2>{double(i), double(j)}; });
    const auto r = points::to_tri_surface(input, std::nullopt, std::nullopt);
    ASSERT_TRUE(r) << error_of(r);
    const MeshShell& shell = *r->shell;
    EXPECT_EQ(shell.node_count(), std::size_t(c.ncol * c.nrow));
    EXPECT_EQ(shell.triangles().size(), std::size_t(2 * (c.ncol - 1) * (c.nrow - 1)));
    expect_sound(*r, input);
    EXPECT_EQ(shell.components(), 1u);
    ASSERT_EQ(shell.edge().size(), 1u);
    EXPECT_NEAR(shell.edge().polygons[0].signed_area(), (c.ncol - 1) * (c.nrow - 1) * c.si * c.sj,
                1e-6 * c.si * c.sj * c.ncol * c.nrow);
    EXPECT_TRUE(r->attributes.empty());
    EXPECT_FALSE(r->primary_metadata);
    // Every node is labelled, all in one block, lattice neighbours one step apart.
    for (const auto& t : shell.triangles())
        for (int k = 0; k < 3; ++k) {
            const auto& a = shell.labels()[t[k]];
            const auto& b = shell.labels()[t[(k + 1) % 3]];
            ASSERT_TRUE(a && b);
            EXPECT_EQ(a->block, b->block);
            EXPECT_EQ(std::max(std::abs(a->i - b->i), std::abs(a->j - b->j)), 1);
        }
}

INSTANTIATE_TEST_SUITE_P(Cases, TriangulateLattice,
                         ::testing::Values(LatticeCase{"unit_5x5", 5, 5, 0.0, 1.0, 1.0, {0.0, 0.0}},
                                           LatticeCase{"rotated_utm", 14, 9, 27.0, 25.0, 40.0, {452000.0, 6780000.0}},
                                           LatticeCase{"rotated_negative", 8, 11, -33.0, 12.5, 12.5, {-300.0, 75.0}},
                                           LatticeCase{"narrow_cells", 12, 6, 5.0, 10.0, 3.0, {1.0e5, 2.0e5}}),
                         [](const auto& info) { return std::string(info.param.name); });

// A 12 x 10 lattice cut between columns 5 and 6 by a fault that throws the
// right side half a cell along j: no triangle may join the two sides unless a
// bridge length lets it.
PointSet faulted_lattice() {
    return lattice_points(12, 10, 20.0, 30.0, 30.0, {5000.0, 9000.0}, [](int i, int j) {
        return std::array<double, 2>{double(i), j + (i >= 6 ? 0.5 : 0.0)};
    });
}

/// The column of the input node at the shell node's XY (input points are
/// generated rows outer, 12 columns inner).
std::vector<int> node_columns(const MeshShell& shell, const PointSet& input) {
    std::map<std::pair<double, double>, int> column_at;
    for (std::size_t k = 0; k < input.points.size(); ++k)
        column_at.emplace(std::pair{input.points[k][0], input.points[k][1]}, int(k % 12));
    std::vector<int> out;
    for (const auto& n : shell.nodes()) out.push_back(column_at.at({n[0], n[1]}));
    return out;
}

TEST(TriangulateFault, LatticeRuleDoesNotBridgeTheFault) {
    const PointSet input = faulted_lattice();
    const auto r = points::to_tri_surface(input, std::nullopt, std::nullopt);
    ASSERT_TRUE(r) << error_of(r);
    const MeshShell& shell = *r->shell;
    expect_sound(*r, input);
    EXPECT_EQ(shell.node_count(), 120u);
    EXPECT_EQ(shell.triangles().size(), 180u);  // 2 x 45 cells on either side
    const std::vector<int> column = node_columns(shell, input);
    for (const auto& t : shell.triangles()) {
        const bool left = column[t[0]] < 6;
        for (const auto v : t) EXPECT_EQ(column[v] < 6, left) << "triangle bridges the fault";
    }
    EXPECT_EQ(shell.components(), 2u);
    EXPECT_EQ(shell.edge().size(), 2u);
}

TEST(TriangulateFault, BridgeLengthJoinsTheSides) {
    const PointSet input = faulted_lattice();
    const auto r = points::to_tri_surface(input, std::nullopt, 3.4);
    ASSERT_TRUE(r) << error_of(r);
    const MeshShell& shell = *r->shell;
    expect_sound(*r, input);
    EXPECT_EQ(shell.node_count(), 120u);
    const std::vector<int> column = node_columns(shell, input);
    const double cell = 30.0;
    std::size_t zigzag = 0;
    std::size_t cell_triangles = 0;
    for (const auto& t : shell.triangles()) {
        const bool left = column[t[0]] < 6;
        const bool bridges = std::any_of(t.begin(), t.end(), [&](auto v) { return (column[v] < 6) != left; });
        double longest = 0.0;
        for (int k = 0; k < 3; ++k) {
            const auto& a = shell.nodes()[t[k]];
            const auto& b = shell.nodes()[t[(k + 1) % 3]];
            longest = std::max(longest, std::hypot(a[0] - b[0], a[1] - b[1]) / cell);
        }
        EXPECT_LE(longest, 3.4 + 1e-9);
        if (bridges) {
            zigzag += longest < 1.2;
        } else if (longest < 1.5) {
            ++cell_triangles;
        } else {
            // Along a straight outer row the bridge length also admits the
            // flat slivers that the triangulation puts between nearly
            // collinear boundary points (their cell units are rounded); only
            // those that stay counter-clockwise in XY are kept.
            EXPECT_LT(std::abs(twice_area(shell, t)), 1e-9 * cell * cell);
        }
    }
    // The strip between columns 5 and 6 (10 + 10 nodes) is triangulated as a
    // zigzag of 18 triangles; every cell triangle of both sides stays.
    EXPECT_EQ(zigzag, 18u);
    EXPECT_EQ(cell_triangles, 180u);
    EXPECT_EQ(shell.components(), 1u);
    EXPECT_EQ(shell.edge().size(), 1u);
}

// An axis-aligned fault whose sides keep straight outer rows of exactly
// collinear points: the bridge length admits the flat triangles that the
// rounded cell units put along those rows, and none of them may reach the
// mesh (zero area, no counter-clockwise order).
TEST(TriangulateFault, BridgeKeepsNoFlatTriangleAlongAStraightRow) {
    const PointSet input = lattice_points(12, 12, 0.0, 25.0, 25.0, {0.0, 0.0}, [](int i, int j) {
        return std::array<double, 2>{double(i), j + (i >= 6 ? 0.45 : 0.0)};
    });
    const auto r = points::to_tri_surface(input, std::nullopt, 3.4);
    ASSERT_TRUE(r) << error_of(r);
    expect_sound(*r, input);
    const MeshShell& shell = *r->shell;
    EXPECT_EQ(shell.node_count(), 144u);
    EXPECT_EQ(shell.components(), 1u);
    for (const auto& t : shell.triangles()) {
        const auto& a = shell.nodes()[t[0]];
        const bool one_row = shell.nodes()[t[1]][1] == a[1] && shell.nodes()[t[2]][1] == a[1];
        const bool one_column = shell.nodes()[t[1]][0] == a[0] && shell.nodes()[t[2]][0] == a[0];
        EXPECT_FALSE(one_row || one_column);
    }
}

// ---- islands ------------------------------------------------------------------

/// A 3 x 2-node patch (4 triangles) with its lower-left node at cell (i0, j0).
void add_patch(std::vector<std::array<double, 3>>& pts, int i0, int j0) {
    for (int j = 0; j < 2; ++j)
        for (int i = 0; i < 3; ++i) pts.push_back({double(i0 + i), double(j0 + j), z_of(i0 + i, j0 + j)});
}

TEST(TriangulateIslands, SmallIslandIsDroppedBesideALargeMesh) {
    std::vector<std::array<double, 3>> pts = plain_lattice(10, 10).points;
    add_patch(pts, 20, 3);
    const PointSet input = PointSet::from_coords(pts);
    const auto r = points::to_tri_surface(input, std::nullopt, std::nullopt);
    ASSERT_TRUE(r) << error_of(r);
    expect_sound(*r, input);
    EXPECT_EQ(r->shell->node_count(), 100u);
    EXPECT_EQ(r->shell->triangles().size(), 162u);
    for (const auto& n : r->shell->nodes()) EXPECT_LT(n[0], 10.0);
}

TEST(TriangulateIslands, AllSmallIslandsAreKept) {
    std::vector<std::array<double, 3>> pts;
    add_patch(pts, 0, 0);
    add_patch(pts, 20, 3);
    const PointSet input = PointSet::from_coords(pts);
    const auto r = points::to_tri_surface(input, std::nullopt, std::nullopt);
    ASSERT_TRUE(r) << error_of(r);
    expect_sound(*r, input);
    EXPECT_EQ(r->shell->node_count(), 12u);
    EXPECT_EQ(r->shell->triangles().size(), 8u);
    EXPECT_EQ(r->shell->components(), 2u);
    EXPECT_EQ(r->shell->edge().size(), 2u);
}

// ---- failures of the whole operation -----------------------------------------------

struct FailureCase {
    const char* name;
    std::vector<std::array<double, 3>> extra;  // added to a 5 x 5 unit lattice
    bool lattice;
    std::string error;
};

class TriangulateFailure : public ::testing::TestWithParam<FailureCase> {};

TEST_P(TriangulateFailure, Message) {
    const FailureCase& c = GetParam();
    std::vector<std::array<double, 3>> pts;
    if (c.lattice) pts = plain_lattice(5, 5).points;
    pts.insert(pts.end(), c.extra.begin(), c.extra.end());
    const PointSet input = PointSet::from_coords(pts);
    const PointSet before = input;
    const auto r = points::to_tri_surface(input, std::nullopt, std::nullopt);
    ASSERT_FALSE(r);
    EXPECT_EQ(r.error().kind(), ErrorKind::GeometryInference);
    EXPECT_EQ(r.error().message(), c.error);
    EXPECT_EQ(input.history.entries(), before.history.entries());
}

INSTANTIATE_TEST_SUITE_P(
    Cases, TriangulateFailure,
    ::testing::Values(
        FailureCase{"three_points", {{0, 0, 1}, {1, 0, 1}, {0, 1, 1}, {1, 0, 2}}, false,
                    "topology detection requires at least four distinct finite points"},
        // A point 1e-50 from the origin measures below 2^-142 cells.
        FailureCase{"too_small", {{1e-50, 0.0, 7.0}}, true, "triangulation rejected a point: TooSmall"},
        FailureCase{"too_large", {{1e300, 0.0, 7.0}}, true, "triangulation rejected a point: TooLarge"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(Triangulate, KeepsHistoryAndDropsColumns) {
    PointSet input = plain_lattice(4, 4);
    ASSERT_TRUE(input.set_attr("porosity", std::vector<double>(16, 0.2)));
    const auto r = points::to_tri_surface(input, 1.5, std::nullopt);
    ASSERT_TRUE(r) << error_of(r);
    EXPECT_TRUE(r->attributes.empty());
    EXPECT_EQ(r->history.entries(), (std::vector<std::string>{"points.from_coords", "points.set_attr(name=porosity)",
                                                               "points.to_tri_surface(max_link=1.5)"}));
    EXPECT_EQ(input.attr_names(), std::vector<std::string>{"porosity"});
}

// The walk and the Delaunay triangulation run side by side; the surface is
// the one built from the whole detection, on one thread and on many, for a
// scattered cloud (many small blocks) and a jittered lattice with a fault
// and gaps (large blocks, refused pairs).
TEST(Triangulate, SameAsFromTheDetectionOnOneThreadAndOnMany) {
    std::mt19937_64 rng(29);
    std::uniform_real_distribution<double> u(0.0, 1.0);
    std::normal_distribution<double> g(0.0, 0.08);
    std::vector<std::pair<std::string, PointSet>> clouds;
    {
        std::vector<std::array<double, 3>> pts(3000);
        for (auto& p : pts) p = {456789.0 + 400.0 * u(rng), 6543210.0 + 400.0 * u(rng), u(rng)};
        clouds.emplace_back("scattered", PointSet::from_coords(std::move(pts)));
    }
    clouds.emplace_back("faulted", lattice_points(50, 40, 25.0, 12.5, 20.0, {1000.0, -500.0}, [&](int i, int j) {
                            return std::array<double, 2>{i + g(rng), j + (i >= 25 ? 0.5 : 0.0) + g(rng)};
                        }));
    for (const auto& [name, set] : clouds) {
        const auto detection = topology::detect(set.points, std::nullopt);
        ASSERT_TRUE(detection) << name;
        const auto want = tri_surface::triangulate_detection(*detection, 1.8, std::nullopt);
        ASSERT_TRUE(want) << name << ": " << error_of(want);
        for (const std::size_t threads : {std::size_t{1}, std::size_t{2}, std::size_t{8}}) {
            const testing::ScopedThreadCount env(threads);
            const auto got = points::to_tri_surface(set, 1.8, std::nullopt);
            ASSERT_TRUE(got) << name << ": " << error_of(got);
            EXPECT_EQ(got->shell->nodes(), want->shell->nodes()) << name << " on " << threads;
            EXPECT_EQ(got->shell->triangles(), want->shell->triangles()) << name << " on " << threads;
            EXPECT_EQ(got->shell->labels(), want->shell->labels()) << name << " on " << threads;
            EXPECT_EQ(testing::bits(got->values), testing::bits(want->values)) << name << " on " << threads;
        }
    }
}

// ---- hand-made detections ---------------------------------------------------------

/// A detection over cell-unit positions with identity rotation and unit
/// steps; z = 100 + point index.
TopologyDetection detection(std::vector<std::array<double, 2>> pts, std::vector<NodeLabel> labels = {},
                            std::vector<std::pair<std::uint64_t, std::uint64_t>> refused = {}) {
    TopologyDetection d;
    for (std::size_t k = 0; k < pts.size(); ++k) d.z.push_back(100.0 + double(k));
    d.points = std::move(pts);
    d.labels = std::move(labels);
    d.refused = std::move(refused);
    d.rotation = {1.0, 0.0, -0.0, 1.0};
    d.step_i = 1.0;
    d.step_j = 1.0;
    return d;
}

/// Unit lattice positions and (block 0) labels, rows outer.
std::pair<std::vector<std::array<double, 2>>, std::vector<NodeLabel>> unit_lattice(int ncol, int nrow) {
    std::vector<std::array<double, 2>> pts;
    std::vector<NodeLabel> labels;
    for (int j = 0; j < nrow; ++j)
        for (int i = 0; i < ncol; ++i) {
            pts.push_back({double(i), double(j)});
            labels.push_back({0, i, j});
        }
    return {pts, labels};
}

TEST(TriangulateDetection, FailureTexts) {
    struct Case {
        const char* name;
        TopologyDetection d;
        ErrorKind kind;
        std::string error;
    };
    auto [pts, labels] = unit_lattice(3, 3);
    std::vector<std::pair<std::uint64_t, std::uint64_t>> every_pair;
    for (std::uint64_t a = 0; a < 9; ++a)
        for (std::uint64_t b = a + 1; b < 9; ++b) every_pair.emplace_back(b, a);
    TopologyDetection short_z = detection(pts, labels);
    short_z.z.pop_back();
    TopologyDetection nan_step = detection(pts, labels);
    nan_step.step_j = kNaN;
    const Case cases[] = {
        {"collinear", detection({{0, 0}, {1, 0}, {2, 0}, {3, 0}}), ErrorKind::GeometryInference,
         "triangulation produced no triangles (are the points collinear?)"},
        {"all_refused", detection(pts, labels, every_pair), ErrorKind::GeometryInference,
         "triangulation retained no triangles at the requested max_link"},
        {"nan_position", nan_step, ErrorKind::GeometryInference, "triangulation rejected a point: NAN"},
        {"short_z", short_z, ErrorKind::GeometryMismatch, "triangulation needs one z per point (8 z for 9 points)"},
    };
    for (const Case& c : cases) {
        const auto r = tri_surface::triangulate_detection(c.d, 1.8, std::nullopt);
        ASSERT_FALSE(r) << c.name;
        EXPECT_EQ(r.error().kind(), c.kind) << c.name;
        EXPECT_EQ(r.error().message(), c.error) << c.name;
    }
}

TEST(TriangulateDetection, RefusedPairCutsItsTrianglesUnlessBridged) {
    auto [pts, labels] = unit_lattice(4, 4);
    // Refuse the step from node (1, 1) = 5 to node (2, 1) = 6, stored (to, from).
    const TopologyDetection d = detection(pts, labels, {{6, 5}});
    const auto cut = tri_surface::triangulate_detection(d, 1.8, std::nullopt);
    ASSERT_TRUE(cut) << error_of(cut);
    const auto bridged = tri_surface::triangulate_detection(d, 1.8, 1.8);
    ASSERT_TRUE(bridged) << error_of(bridged);
    EXPECT_EQ(bridged->shell->triangles().size(), 18u);
    EXPECT_EQ(cut->shell->triangles().size(), 16u);  // both triangles on edge 5-6 gone
    for (const auto& t : cut->shell->triangles()) {
        std::set<std::pair<double, double>> corners;
        for (const auto v : t) corners.insert({cut->shell->nodes()[v][0], cut->shell->nodes()[v][1]});
        EXPECT_FALSE(corners.contains({1.0, 1.0}) && corners.contains({2.0, 1.0}));
    }
    EXPECT_EQ(cut->history.entries(), std::vector<std::string>{"tri_surface.from_shell"});
}

TEST(TriangulateDetection, UnusedPointsBecomeNoNodesAndNodesFollowFirstUse) {
    // Point 0 sits far away: no kept triangle uses it.
    std::vector<std::array<double, 2>> pts{{50.0, 50.0}};
    std::vector<NodeLabel> labels{{1, 0, 0}};
    auto [lat, lab] = unit_lattice(3, 3);
    pts.insert(pts.end(), lat.begin(), lat.end());
    labels.insert(labels.end(), lab.begin(), lab.end());
    const TopologyDetection d = detection(pts, labels);
    const auto r = tri_surface::triangulate_detection(d, 1.8, std::nullopt);
    ASSERT_TRUE(r) << error_of(r);
    const MeshShell& shell = *r->shell;
    ASSERT_EQ(shell.node_count(), 9u);
    EXPECT_EQ(shell.triangles().size(), 8u);
    // Node n carries the position, label and z of the point it came from.
    std::uint32_t next_new = 0;
    std::set<std::uint32_t> seen;
    for (const auto& t : shell.triangles())
        for (const auto v : t)
            if (seen.insert(v).second) {
                EXPECT_EQ(v, next_new++);
            }
    for (std::size_t n = 0; n < shell.node_count(); ++n) {
        const auto it = std::find(pts.begin(), pts.end(), shell.nodes()[n]);
        ASSERT_NE(it, pts.end());
        const auto k = std::size_t(it - pts.begin());
        EXPECT_NE(k, 0u);
        EXPECT_EQ(shell.labels()[n], labels[k]);
        EXPECT_EQ(r->values[n], 100.0 + double(k));
    }
}

// A lattice keeps its triangles whatever its scale: the unit 4 x 4 lattice,
// upright and rotated, scaled by powers of two so far that products of world
// coordinate differences underflow or overflow, while its cell units stay
// ordinary numbers. Every cell gives its two triangles, counter-clockwise.
TEST(TriangulateDetection, KeepsTheLatticeAtExtremeScales) {
    auto [unit, labels] = unit_lattice(4, 4);
    for (const double deg : {0.0, 30.0}) {
        const double t = deg * std::numbers::pi / 180.0;
        const double c = std::cos(t), s = std::sin(t);
        for (const int e : {-540, -300, 0, 300, 520}) {
            const double step = std::ldexp(1.0, e);
            std::vector<std::array<double, 2>> pts;
            for (const auto& p : unit) pts.push_back({(p[0] * c - p[1] * s) * step, (p[0] * s + p[1] * c) * step});
            TopologyDetection d = detection(pts, labels);
            d.rotation = {c, s, -s, c};
            d.step_i = step;
            d.step_j = step;
            const auto r = tri_surface::triangulate_detection(d, 1.8, std::nullopt);
            ASSERT_TRUE(r) << deg << " degrees, 2^" << e << ": " << error_of(r);
            const MeshShell& shell = *r->shell;
            EXPECT_EQ(shell.node_count(), 16u) << deg << " degrees, 2^" << e;
            EXPECT_EQ(shell.triangles().size(), 18u) << deg << " degrees, 2^" << e;
            for (const auto& tri : shell.triangles()) {
                std::array<std::array<double, 2>, 3> q;  // back in cells: exact
                for (std::size_t k = 0; k < 3; ++k)
                    q[k] = {std::ldexp(shell.nodes()[tri[k]][0], -e), std::ldexp(shell.nodes()[tri[k]][1], -e)};
                const double area2 = (q[1][0] - q[0][0]) * (q[2][1] - q[0][1]) - (q[1][1] - q[0][1]) * (q[2][0] - q[0][0]);
                EXPECT_NEAR(area2, 1.0, 1e-9) << deg << " degrees, 2^" << e;
            }
        }
    }
}

TEST(LatticeAdjacent, Rules) {
    const std::vector<NodeLabel> labels{{0, 0, 0}, {0, 1, 1}, {0, 2, 0}, {1, 1, 0}, {0, 0, 0}, {0, -1, 1}};
    struct Case {
        std::uint64_t a, b;
        bool adjacent;
    };
    const Case cases[] = {
        {0, 1, true},   // diagonal neighbour
        {0, 5, true},   // negative steps
        {0, 2, false},  // two steps apart
        {0, 3, false},  // other block
        {0, 4, false},  // same (i, j)
        {0, 9, true},   // no label for point 9
    };
    for (const Case& c : cases) {
        EXPECT_EQ(tri_surface::lattice_adjacent(labels, c.a, c.b), c.adjacent) << c.a << "-" << c.b;
        EXPECT_EQ(tri_surface::lattice_adjacent(labels, c.b, c.a), c.adjacent) << c.b << "-" << c.a;
    }
    EXPECT_TRUE(tri_surface::lattice_adjacent({}, 0, 3)) << "nothing labelled";
}

TEST(RefusedPairs, HoldsExactlyTheInsertedKeysThroughGrowth) {
    // Keys packed from point pairs that collide in the low bits, a repeat, and
    // the all-ones key the set keeps aside from its table.
    tri_surface::RefusedPairs set{tri_surface::pair_key(7, 3), tri_surface::pair_key(3, 7), ~std::uint64_t{0}};
    EXPECT_EQ(set.size(), 2u);
    std::vector<std::uint64_t> keys;
    for (std::uint64_t a = 0; a < 300; ++a) keys.push_back(tri_surface::pair_key(a * 1024, a * 1024 + 1));
    for (const auto key : keys) set.insert(key);
    for (const auto key : keys) set.insert(key);
    EXPECT_EQ(set.size(), 302u);
    for (const auto key : keys) EXPECT_TRUE(set.contains(key));
    EXPECT_TRUE(set.contains(tri_surface::pair_key(3, 7)));
    EXPECT_TRUE(set.contains(~std::uint64_t{0}));
    for (std::uint64_t a = 0; a < 300; ++a) EXPECT_FALSE(set.contains(tri_surface::pair_key(a * 1024, a * 1024 + 2)));
    EXPECT_FALSE(tri_surface::RefusedPairs{}.contains(0));
    EXPECT_FALSE(tri_surface::RefusedPairs{}.contains(~std::uint64_t{0}));
}

TEST(KeepTriangle, EdgeRules) {
    // Points 0..3 on a unit square, 4 two cells to the right of 1, 5 with a NaN position.
    const std::vector<std::array<double, 2>> uv{{0, 0}, {1, 0}, {1, 1}, {0, 1}, {3, 0}, {kNaN, 0}};
    const std::vector<NodeLabel> labels{{0, 0, 0}, {0, 1, 0}, {0, 1, 1}, {0, 0, 1}, {0, 2, 0}, {0, 1, 2}};
    const std::vector<NodeLabel> two_blocks{{0, 0, 0}, {0, 1, 0}, {1, 1, 1}, {0, 0, 1}, {0, 2, 0}, {0, 1, 2}};
    const double link2 = 1.8 * 1.8;
    struct Case {
        const char* name;
        geometry::Triangle t;
        tri_surface::RefusedPairs refused;
        const std::vector<NodeLabel>* labels;
        std::optional<double> bridge2;
        bool keep;
    };
    const Case cases[] = {
        {"cell_triangle", {0, 1, 2}, {}, &labels, std::nullopt, true},
        {"refused_edge", {0, 1, 2}, {tri_surface::pair_key(2, 1)}, &labels, std::nullopt, false},
        {"refused_edge_bridged", {0, 1, 2}, {tri_surface::pair_key(1, 2)}, &labels, 2.0, true},
        {"other_block", {0, 1, 2}, {}, &two_blocks, std::nullopt, false},
        {"other_block_bridged", {0, 1, 2}, {}, &two_blocks, 2.0, true},
        // Edge 1-4 measures 2 cells and its labels are 1 step apart: too long.
        {"too_long", {1, 4, 2}, {}, &labels, std::nullopt, false},
        {"too_long_bridged_short", {1, 4, 2}, {}, &labels, 3.9, false},
        {"too_long_bridged", {1, 4, 2}, {}, &labels, 3.4 * 3.4, true},
        {"nan_length", {0, 1, 5}, {}, &labels, 1e300, false},
        {"unlabelled", {0, 1, 2}, {}, nullptr, std::nullopt, true},
    };
    for (const Case& c : cases) {
        const std::span<const NodeLabel> l = c.labels ? std::span<const NodeLabel>(*c.labels) : std::span<const NodeLabel>();
        EXPECT_EQ(tri_surface::keep_triangle(c.t, uv, c.refused, l, link2, c.bridge2), c.keep) << c.name;
    }
}

TEST(KeepLargeComponents, GroupsLinkedThroughCornersAndTheEightTriangleRule) {
    /// `count` triangles fanned around point `hub`, using points hub+1 ...
    auto fan = [](std::uint32_t hub, std::uint32_t count) {
        std::vector<geometry::Triangle> out;
        for (std::uint32_t k = 0; k < count; ++k) out.push_back({hub, hub + 1 + k, hub + 2 + k});
        return out;
    };
    auto join = [](std::vector<std::vector<geometry::Triangle>> parts) {
        std::vector<geometry::Triangle> out;
        for (const auto& p : parts) out.insert(out.end(), p.begin(), p.end());
        return out;
    };
    const auto big = fan(0, 8);      // points 0..9
    const auto small = fan(20, 7);   // points 20..28
    const auto small2 = fan(40, 3);  // points 40..44
    // Two small groups that share only point 60: one group of 8.
    const std::vector<geometry::Triangle> pinched{{60, 61, 62}, {60, 63, 64}, {60, 65, 66}, {60, 67, 68},
                                                  {60, 69, 70}, {60, 71, 72}, {60, 73, 74}, {60, 75, 76}};
    struct Case {
        const char* name;
        std::vector<geometry::Triangle> in, out;
    };
    const Case cases[] = {
        {"big_and_small", join({small, big, small2}), big},
        {"only_small", join({small, small2}), join({small, small2})},
        {"vertex_sharing_counts", join({small2, pinched}), pinched},
        {"empty", {}, {}},
    };
    for (const Case& c : cases) {
        auto tris = c.in;
        tri_surface::keep_large_components(tris, 100);
        EXPECT_EQ(tris, c.out) << c.name;
    }
}

}  // namespace
}  // namespace vz
