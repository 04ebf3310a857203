// Column/row topology detection: lattice measurement, the breadth-first
// labelling walk with its refused adjacencies, coincident points, the report
// and the labelled point set.

#include <gtest/gtest.h>

#include <bit>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <limits>
#include <map>
#include <numbers>
#include <optional>
#include <random>
#include <span>
#include <set>
#include <string>
#include <tuple>
#include <vector>

#include <filesystem>

#include "core/points.hpp"
#include "core/shell/fit.hpp"
#include "core/shell/infer.hpp"
#include "core/topology.hpp"
#include "foundation/error.hpp"
#include "io/irap.hpp"
#include "thread_count_util.hpp"

namespace vz {
namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kInf = std::numeric_limits<double>::infinity();

using P = std::array<double, 3>;

/// One lattice node: its logical (i, j) and its point.
struct Node {
    int i;
    int j;
    P p;
};

/// Nodes of an ncol x nrow lattice with spacings dx, dy, rotated by `deg`
/// about `origin`, row by row; z = 100 + i + 1000 j. `keep` filters nodes.
template <class Keep>
std::vector<Node> lattice_nodes(int ncol, int nrow, double dx, double dy, double deg, Keep keep,
                                std::array<double, 2> origin = {1000.0, 5000.0}) {
    const double r = deg * std::numbers::pi / 180.0;
    const double c = std::cos(r);
    const double s = std::sin(r);
    std::vector<Node> out;
    for (int j = 0; j < nrow; ++j)
        for (int i = 0; i < ncol; ++i)
            if (keep(i, j))
                out.push_back({i, j,
                               P{origin[0] + i * dx * c - j * dy * s, origin[1] + i * dx * s + j * dy * c,
                                 100.0 + i + 1000.0 * j}});
    return out;
}

std::vector<Node> full_lattice(int ncol, int nrow, double dx, double dy, double deg) {
    return lattice_nodes(ncol, nrow, dx, dy, deg, [](int, int) { return true; });
}

std::vector<P> points_of(const std::vector<Node>& nodes) {
    std::vector<P> out;
    for (const Node& n : nodes) out.push_back(n.p);
    return out;
}

/// The node at (x, y), matched within 1e-9 of the lattice scale.
const Node* node_at(const std::vector<Node>& nodes, double x, double y) {
    for (const Node& n : nodes)
        if (std::fabs(n.p[0] - x) < 1e-6 && std::fabs(n.p[1] - y) < 1e-6) return &n;
    return nullptr;
}

std::string error_text(const Result<TopologyDetection>& r) { return r ? "<ok>" : r.error().display(); }

// ---------------------------------------------------------------------------
// Failures, in the order they are checked.

TEST(TopologyDetect, FailuresAreGeometryInference) {
    const auto lattice25 = points_of(full_lattice(6, 5, 25.0, 25.0, 0.0));
    // Five columns 10 apart, each of five points at uneven heights below 7:
    // every point's sixth nearest entry is its copy in the next column, so
    // the modal distance is 10, while its four nearest lie below 0.7 cells.
    std::vector<P> columns;
    for (int c = 0; c < 5; ++c)
        for (const double y : {0.0, 1.1, 2.9, 4.6, 6.9}) columns.push_back({10.0 * c, y, 0.0});
    struct Case {
        const char* what;
        std::vector<P> points;
        std::optional<double> nominal;
        const char* message;
    };
    const std::vector<Case> cases = {
        {"nominal zero", lattice25, 0.0, "nominal cell must be a finite positive number"},
        {"nominal negative", lattice25, -1.0, "nominal cell must be a finite positive number"},
        {"nominal NaN", lattice25, kNaN, "nominal cell must be a finite positive number"},
        {"nominal infinite", lattice25, kInf, "nominal cell must be a finite positive number"},
        {"nominal checked before the points", {}, -0.0, "nominal cell must be a finite positive number"},
        {"three distinct points, many duplicates",
         {{0, 0, 1}, {1, 0, 1}, {0, 1, 1}, {0, 0, 1}, {1, 0, 2}, {0, 1, 1}},
         std::nullopt,
         "topology detection requires at least four distinct finite points"},
        {"non-finite coordinates do not count",
         {{0, 0, 1}, {1, 0, 1}, {0, 1, 1}, {kNaN, 1, 1}, {1, kInf, 1}, {-kInf, 2, 1}},
         std::nullopt,
         "topology detection requires at least four distinct finite points"},
        {"signed zeros: distinct but no neighbour at a distance",
         {{0.0, 0.0, 1}, {-0.0, 0.0, 1}, {0.0, -0.0, 1}, {-0.0, -0.0, 1}},
         std::nullopt,
         "no neighbouring points to detect a cell size"},
        {"every neighbour distance overflows",
         {{-1.5e308, 0, 0}, {1.5e308, 0, 0}, {0, -1.5e308, 0}, {0, 1.5e308, 0}},
         std::nullopt,
         "could not detect a positive cell size"},
        {"nominal far below the spacing", lattice25, 1.0, "could not detect a cell size from neighbour steps"},
        {"subnormal nominal passes its check", lattice25, 5e-324, "could not detect a cell size from neighbour steps"},
        {"no step near the cell", columns, 10.0,
         "could not detect a grid azimuth: no neighbour steps near the detected cell"},
        {"points on one line", {{0, 0, 0}, {10, 0, 0}, {20, 0, 0}, {30, 0, 0}, {40, 0, 0}}, std::nullopt,
         "could not detect a step along both grid axes"},
    };
    for (const Case& c : cases) {
        const auto r = topology::detect(c.points, c.nominal);
        ASSERT_FALSE(r.has_value()) << c.what;
        EXPECT_EQ(r.error().kind(), ErrorKind::GeometryInference) << c.what;
        EXPECT_EQ(r.error().display(), std::string("geometry inference failed: ") + c.message) << c.what;
    }
}

// ---------------------------------------------------------------------------
// Complete lattices: measurement, one block, consistent labels.

struct CleanCase {
    const char* what;
    int ncol, nrow;
    double dx, dy, deg;
    std::optional<double> nominal;
    // Expected report.
    double azimuth_deg, cell_i, cell_j;
};

class CleanLattice : public ::testing::TestWithParam<CleanCase> {};

TEST_P(CleanLattice, MeasuresAndLabelsEveryNode) {
    const CleanCase& c = GetParam();
    const auto nodes = full_lattice(c.ncol, c.nrow, c.dx, c.dy, c.deg);
    PointSet set = PointSet::from_coords(points_of(nodes));
    ASSERT_TRUE(set.set_attr("phi", std::vector<double>(set.size(), 0.25)).has_value());

    const auto r = points::detect_topology(set, c.nominal);
    ASSERT_TRUE(r.has_value()) << r.error().display();
    const auto& [labelled, report] = *r;
    EXPECT_NEAR(report.detected_azimuth_deg, c.azimuth_deg, 1e-9);
    EXPECT_NEAR(report.detected_cell_i, c.cell_i, 1e-9 * c.cell_i);
    EXPECT_NEAR(report.detected_cell_j, c.cell_j, 1e-9 * c.cell_j);
    const std::uint64_t n = nodes.size();
    EXPECT_EQ(report.distinct_nodes, n);
    EXPECT_EQ(report.assigned, n);
    EXPECT_EQ(report.blocks, 1u);
    EXPECT_EQ(report.largest_block, n);
    EXPECT_EQ(report.conflicts, 0u);
    EXPECT_EQ(report.stalled_frontier, 0u);
    EXPECT_EQ(report.coincident_dropped, 0u);
    EXPECT_EQ(report.coincident_ambiguous, 0u);
    ASSERT_TRUE(report.verified());
    ASSERT_TRUE(labelled.has_value());

    // Only "column" and "row", 1-based, row by row; every point sits at
    // origin + (column - 1) step_i ui + (row - 1) step_j uj of the detected
    // frame, and carries the z of its source node.
    EXPECT_EQ(labelled->attr_names(), (std::vector<std::string>{"column", "row"}));
    EXPECT_EQ(labelled->history.entries(),
              (std::vector<std::string>{"points.from_coords", "points.set_attr(name=phi)", "points.detect_topology()"}));
    ASSERT_EQ(labelled->size(), n);
    const auto col = *labelled->attr("column");
    const auto row = *labelled->attr("row");
    const double th = report.detected_azimuth_deg * std::numbers::pi / 180.0;
    const std::array<double, 2> ui{std::cos(th), std::sin(th)};
    const std::array<double, 2> uj{-std::sin(th), std::cos(th)};
    const std::size_t first = 0;
    ASSERT_EQ(col[first], 1.0);
    ASSERT_EQ(row[first], 1.0);
    const auto& o = labelled->points[first];
    double max_col = 0, max_row = 0;
    for (std::size_t k = 0; k < n; ++k) {
        if (k > 0) {
            const bool ordered = row[k - 1] < row[k] || (row[k - 1] == row[k] && col[k - 1] < col[k]);
            EXPECT_TRUE(ordered) << "row-major order broken at " << k;
        }
        const auto& p = labelled->points[k];
        const double a = (col[k] - 1) * report.detected_cell_i;
        const double b = (row[k] - 1) * report.detected_cell_j;
        EXPECT_NEAR(p[0], o[0] + a * ui[0] + b * uj[0], 1e-6) << k;
        EXPECT_NEAR(p[1], o[1] + a * ui[1] + b * uj[1], 1e-6) << k;
        const Node* src = node_at(nodes, p[0], p[1]);
        ASSERT_NE(src, nullptr);
        EXPECT_EQ(p[2], src->p[2]);
        max_col = std::max(max_col, col[k]);
        max_row = std::max(max_row, row[k]);
    }
    EXPECT_EQ(max_col * max_row, static_cast<double>(n));
}

INSTANTIATE_TEST_SUITE_P(
    Lattices, CleanLattice,
    ::testing::Values(
        CleanCase{"axis aligned, unequal spacings", 12, 9, 25.0, 40.0, 0.0, std::nullopt, 0.0, 25.0, 40.0},
        // Rotated by 60 degrees: the axis nearest +x is at -30 degrees.
        CleanCase{"square, rotated 60", 15, 11, 10.0, 10.0, 60.0, std::nullopt, -30.0, 10.0, 10.0},
        CleanCase{"unequal, rotated 20", 14, 10, 25.0, 40.0, 20.0, std::nullopt, 20.0, 25.0, 40.0},
        // The short axis points at 70 degrees, so the axis nearest +x (-20
        // degrees) is the long one: the detected i spacing is 40.
        CleanCase{"unequal, rotated 70", 10, 14, 25.0, 40.0, 70.0, std::nullopt, -20.0, 40.0, 25.0},
        // A nominal cell only sets the histogram range (0, 28].
        CleanCase{"nominal cell 20 on spacing 25", 8, 7, 25.0, 25.0, 0.0, 20.0, 0.0, 25.0, 25.0},
        CleanCase{"negative rotation", 9, 8, 5.0, 7.0, -33.0, std::nullopt, -33.0, 5.0, 7.0}),
    [](const auto& info) { return std::string("case") + std::to_string(info.index); });

TEST(TopologyDetect, InputOrderDoesNotChangeTheLabelledSet) {
    const auto nodes = full_lattice(13, 9, 12.5, 20.0, 35.0);
    std::vector<P> pts = points_of(nodes);
    const auto base = points::detect_topology(PointSet::from_coords(pts), std::nullopt);
    ASSERT_TRUE(base.has_value());
    std::mt19937 rng(7);
    for (int round = 0; round < 3; ++round) {
        std::shuffle(pts.begin(), pts.end(), rng);
        const auto r = points::detect_topology(PointSet::from_coords(pts), std::nullopt);
        ASSERT_TRUE(r.has_value());
        ASSERT_TRUE(r->first.has_value());
        EXPECT_NEAR(r->second.detected_azimuth_deg, base->second.detected_azimuth_deg, 1e-9);
        EXPECT_NEAR(r->second.detected_cell_i, base->second.detected_cell_i, 1e-9);
        EXPECT_NEAR(r->second.detected_cell_j, base->second.detected_cell_j, 1e-9);
        EXPECT_EQ(r->first->points, base->first->points);
        EXPECT_TRUE(std::ranges::equal(*r->first->attr("column"), *base->first->attr("column")));
        EXPECT_TRUE(std::ranges::equal(*r->first->attr("row"), *base->first->attr("row")));
    }
}

// ---------------------------------------------------------------------------
// Faults and gaps: blocks, refused adjacencies, conflicts.

struct FaultCase {
    const char* what;
    double deg;
    int removed_column;  // -1: none
    double throw_j;      // offset of columns >= 5 along j, in cells
};

class FaultedLattice : public ::testing::TestWithParam<FaultCase> {};

// A 10 x 6 lattice of spacing 10 cut between columns 4 and 5, either by a
// removed column or by a throw of half a cell: two blocks, no conflicts, and
// every border point of the block walked first refuses the adjacency across
// the fault (one pair per row).
TEST_P(FaultedLattice, SplitsIntoTwoBlocksWithOneRefusalPerRow) {
    const FaultCase& c = GetParam();
    const int ncol = 10, nrow = 6;
    const double cell = 10.0;
    const double r = c.deg * std::numbers::pi / 180.0;
    std::vector<Node> nodes = lattice_nodes(ncol, nrow, cell, cell, c.deg,
                                            [&](int i, int) { return i != c.removed_column; });
    for (Node& n : nodes) {
        if (n.i < 5) continue;
        n.p[0] += -std::sin(r) * c.throw_j * cell;
        n.p[1] += std::cos(r) * c.throw_j * cell;
    }
    const auto d = topology::detect(points_of(nodes), std::nullopt);
    ASSERT_TRUE(d.has_value()) << error_text(d);
    const TopologyReport report = TopologyReport::from_detection(*d);
    EXPECT_EQ(report.blocks, 2u);
    EXPECT_EQ(report.conflicts, 0u);
    EXPECT_EQ(report.assigned, nodes.size());
    EXPECT_FALSE(report.verified());
    ASSERT_EQ(d->refused.size(), static_cast<std::size_t>(nrow));
    ASSERT_EQ(d->block_sizes.size(), 2u);
    EXPECT_EQ(d->block_sizes[0] + d->block_sizes[1], nodes.size());

    std::set<int> rows_seen;
    for (const auto& [from, to] : d->refused) {
        EXPECT_EQ(d->labels[from].block, 0u);
        EXPECT_EQ(d->labels[to].block, 1u);
        const Node* a = node_at(nodes, d->points[from][0], d->points[from][1]);
        const Node* b = node_at(nodes, d->points[to][0], d->points[to][1]);
        ASSERT_TRUE(a && b);
        // From the column bordering the cut, to the other side two steps on.
        EXPECT_TRUE(a->i == 4 || a->i == 5 || (c.removed_column >= 0 && std::abs(a->i - c.removed_column) == 1))
            << a->i;
        EXPECT_EQ(std::abs(b->i - a->i), 2);
        if (c.throw_j == 0.0) {
            EXPECT_EQ(a->j, b->j);
        }
        rows_seen.insert(a->j);
    }
    EXPECT_EQ(rows_seen.size(), static_cast<std::size_t>(nrow));

    // Within each block the labels are one consistent lattice frame.
    for (std::size_t a = 0; a < d->points.size(); ++a) {
        for (std::size_t b = a + 1; b < d->points.size(); ++b) {
            if (d->labels[a].block != d->labels[b].block) continue;
            const Node* na = node_at(nodes, d->points[a][0], d->points[a][1]);
            const Node* nb = node_at(nodes, d->points[b][0], d->points[b][1]);
            const int di = d->labels[b].i - d->labels[a].i;
            const int dj = d->labels[b].j - d->labels[a].j;
            EXPECT_EQ(std::abs(di) + std::abs(dj), std::abs(nb->i - na->i) + std::abs(nb->j - na->j));
        }
    }
    const auto labelled = points::detect_topology(PointSet::from_coords(points_of(nodes)), std::nullopt);
    ASSERT_TRUE(labelled.has_value());
    EXPECT_FALSE(labelled->first.has_value());
    EXPECT_EQ(labelled->second, report);
}

INSTANTIATE_TEST_SUITE_P(Faults, FaultedLattice,
                         ::testing::Values(FaultCase{"removed column", 0.0, 4, 0.0},
                                           FaultCase{"removed column, rotated", 27.0, 4, 0.0},
                                           FaultCase{"half-cell throw", 0.0, -1, 0.5},
                                           FaultCase{"half-cell throw, rotated", -15.0, -1, 0.5}),
                         [](const auto& info) { return std::string("case") + std::to_string(info.index); });

TEST(TopologyDetect, RemovedColumnLetsTheLargerSideWalkFirst) {
    // Columns 0-3 and 5-9 remain; the centroid lies nearest column 5, so the
    // right-hand block is walked first and refuses to column 3.
    const auto nodes = lattice_nodes(10, 6, 10.0, 10.0, 0.0, [](int i, int) { return i != 4; });
    const auto d = topology::detect(points_of(nodes), std::nullopt);
    ASSERT_TRUE(d.has_value());
    EXPECT_EQ(d->block_sizes, (std::vector<std::uint64_t>{30, 24}));
    for (const auto& [from, to] : d->refused) {
        EXPECT_EQ(node_at(nodes, d->points[from][0], d->points[from][1])->i, 5);
        EXPECT_EQ(node_at(nodes, d->points[to][0], d->points[to][1])->i, 3);
    }
}

TEST(TopologyDetect, MissingInteriorNodesKeepOneBlock) {
    const std::set<std::pair<int, int>> holes = {{3, 3}, {4, 3}, {7, 5}, {2, 6}};
    const auto nodes = lattice_nodes(11, 9, 20.0, 30.0, 12.0, [&](int i, int j) { return !holes.contains({i, j}); });
    const auto r = points::detect_topology(PointSet::from_coords(points_of(nodes)), std::nullopt);
    ASSERT_TRUE(r.has_value());
    const auto& [labelled, report] = *r;
    EXPECT_EQ(report.blocks, 1u);
    EXPECT_EQ(report.conflicts, 0u);
    EXPECT_EQ(report.distinct_nodes, nodes.size());
    ASSERT_TRUE(report.verified());
    ASSERT_TRUE(labelled.has_value());
    // Holes keep their place: labels are the source lattice's (i, j) shifted.
    const auto col = *labelled->attr("column");
    const auto row = *labelled->attr("row");
    for (std::size_t k = 0; k < labelled->size(); ++k) {
        const Node* src = node_at(nodes, labelled->points[k][0], labelled->points[k][1]);
        ASSERT_NE(src, nullptr);
        EXPECT_EQ(col[k], src->i + 1);
        EXPECT_EQ(row[k], src->j + 1);
    }
}

class ScatteredCloud : public ::testing::TestWithParam<std::array<double, 2>> {};

// A cloud without lattice order breaks into many small blocks; every block
// starts at the unlabelled point nearest to the unlabelled centroid, wherever
// the cloud lies (positive, mixed-sign and large projected coordinates).
TEST_P(ScatteredCloud, SplitsIntoSeededBlocks) {
    const auto offset = GetParam();
    std::mt19937_64 rng(5);
    std::uniform_real_distribution<double> u(0.0, 1000.0);
    std::vector<P> pts(3000);
    for (P& p : pts) p = {offset[0] + u(rng), offset[1] + u(rng), 0.0};
    const auto d = topology::detect(pts, std::nullopt);
    ASSERT_TRUE(d.has_value()) << error_text(d);
    ASSERT_GT(d->blocks, 50u);
    ASSERT_EQ(d->block_sizes.size(), d->blocks);
    ASSERT_EQ(d->labels.size(), pts.size());

    std::vector<std::set<std::pair<int, int>>> cells(d->blocks);
    std::vector<std::optional<std::size_t>> seeds(d->blocks);
    for (std::size_t k = 0; k < d->labels.size(); ++k) {
        const NodeLabel& l = d->labels[k];
        ASSERT_LT(l.block, d->blocks);
        EXPECT_TRUE(cells[l.block].insert({l.i, l.j}).second) << "two points on one cell of block " << l.block;
        if (l.i == 0 && l.j == 0) seeds[l.block] = k;
    }
    std::uint64_t total = 0;
    for (std::uint32_t b = 0; b < d->blocks; ++b) {
        EXPECT_EQ(d->block_sizes[b], cells[b].size());
        EXPECT_TRUE(seeds[b].has_value());
        total += d->block_sizes[b];
    }
    EXPECT_EQ(total, pts.size());

    // The seeds of the first blocks, recomputed by brute force.
    std::vector<char> taken(pts.size(), 0);
    for (std::uint32_t b = 0; b < 20; ++b) {
        double cx = 0, cy = 0;
        std::size_t n = 0;
        for (std::size_t k = 0; k < pts.size(); ++k)
            if (!taken[k]) {
                cx += d->points[k][0];
                cy += d->points[k][1];
                ++n;
            }
        cx /= double(n);
        cy /= double(n);
        std::size_t best = 0;
        double best_d2 = kInf;
        for (std::size_t k = 0; k < pts.size(); ++k) {
            if (taken[k]) continue;
            const double d2 = std::pow(d->points[k][0] - cx, 2) + std::pow(d->points[k][1] - cy, 2);
            if (d2 < best_d2) {
                best_d2 = d2;
                best = k;
            }
        }
        EXPECT_EQ(seeds[b], best) << "block " << b;
        for (std::size_t k = 0; k < pts.size(); ++k)
            if (d->labels[k].block == b) taken[k] = 1;
    }
}

INSTANTIATE_TEST_SUITE_P(Offsets, ScatteredCloud,
                         ::testing::Values(std::array<double, 2>{0.0, 0.0}, std::array<double, 2>{-500.0, -700.0},
                                           std::array<double, 2>{456789.0, -6543210.0}),
                         [](const auto& info) { return std::string("case") + std::to_string(info.index); });

// ---------------------------------------------------------------------------
// Real rotated grids exported by other tools: their defined nodes as points.

std::filesystem::path shared_sample(const std::string& rel) {
#ifdef VZ_SHARED_DATA_DIR
    std::filesystem::path p = std::filesystem::path(VZ_SHARED_DATA_DIR) / rel;
    if (std::filesystem::exists(p)) return p;
#endif
    return {};
}

class RealGridNodes : public ::testing::TestWithParam<const char*> {};

TEST_P(RealGridNodes, TopologyFitAndInferenceRecoverTheLattice) {
    const auto path = shared_sample(GetParam());
    if (path.empty()) GTEST_SKIP() << "shared sample data not available";
    const auto data = irap::read_classic(path);
    ASSERT_TRUE(data.has_value()) << data.error().display();
    const GridGeometry& g = data->geom;
    std::vector<P> pts;
    for (std::uint64_t j = 0; j < g.nrow; ++j)
        for (std::uint64_t i = 0; i < g.ncol; ++i)
            if (std::isfinite(data->values(i, j))) {
                const auto [x, y] = g.node_xy(i, j);
                pts.push_back({x, y, data->values(i, j)});
            }
    ASSERT_GT(pts.size(), 100u);
    /// True when (x, y) lies on a node of the source lattice.
    const auto on_source_node = [&](double x, double y) {
        const auto ij = g.xy_to_ij(x, y);
        return ij && std::fabs(ij->first - std::round(ij->first)) < 1e-6 &&
               std::fabs(ij->second - std::round(ij->second)) < 1e-6;
    };

    // Topology: one verified block; the azimuth is the rotation folded into
    // [-45, 45]; the cells are the increments.
    const auto t = points::detect_topology(PointSet::from_coords(pts), std::nullopt);
    ASSERT_TRUE(t.has_value()) << t.error().display();
    const auto& [labelled, report] = *t;
    ASSERT_TRUE(report.verified());
    double folded = std::fmod(g.rotation_deg, 90.0);
    if (folded > 45.0) folded -= 90.0;
    if (folded < -45.0) folded += 90.0;
    EXPECT_NEAR(report.detected_azimuth_deg, folded, 1e-6);
    EXPECT_NEAR(std::min(report.detected_cell_i, report.detected_cell_j), std::min(g.xinc, g.yinc), 1e-6);
    EXPECT_NEAR(std::max(report.detected_cell_i, report.detected_cell_j), std::max(g.xinc, g.yinc), 1e-6);

    // Bare fit: the same node count and spacing, every node on a source node.
    const auto fit = fit::fit_lattice_xy(pts, 1e-3);
    ASSERT_TRUE(fit.has_value()) << fit.error().display();
    EXPECT_EQ(fit->geometry.ncol * fit->geometry.nrow, g.ncol * g.nrow);
    EXPECT_NEAR(fit->geometry.xinc * fit->geometry.yinc, g.xinc * g.yinc, 1e-6);
    for (const auto& [c, r] : fit->occupied) {
        const auto [x, y] = fit->geometry.node_xy(static_cast<std::uint64_t>(c), static_cast<std::uint64_t>(r));
        ASSERT_TRUE(on_source_node(x, y)) << c << ", " << r;
    }

    // Inference from the detected column/row labels: the indexed fit and an
    // outline covering every cell of the full lattice.
    ASSERT_TRUE(labelled.has_value());
    const auto inferred = points::infer_geometry(*labelled, 1e-3, EdgeMode::Occupied);
    ASSERT_TRUE(inferred.has_value()) << inferred.error().display();
    EXPECT_EQ(inferred->first.ncol * inferred->first.nrow, g.ncol * g.nrow);
    const auto [x0, y0] = inferred->first.node_xy(0, 0);
    EXPECT_TRUE(on_source_node(x0, y0));
    ASSERT_EQ(inferred->second.size(), 1u);
    EXPECT_NEAR(inferred->second.total_area(), double(g.ncol - 1) * double(g.nrow - 1) * g.xinc * g.yinc,
                1e-6 * g.xinc * g.yinc * double(g.ncol * g.nrow));
}

INSTANTIATE_TEST_SUITE_P(SharedData, RealGridNodes,
                         ::testing::Values("irap_grid/resdata_small_30x20_rotm65.irap",
                                           "irap_grid/resdata_valid_rotm65.irap",
                                           "irap_grid/resinsight_volantis_rot30.irap"),
                         [](const auto& info) { return std::string("grid") + std::to_string(info.index); });

// ---------------------------------------------------------------------------
// Coincident points.

TEST(TopologyDistinct, DropsRepeatsAndCountsThem) {
    const double nz = std::copysign(kNaN, -1.0);
    struct Case {
        const char* what;
        std::vector<P> input;
        std::vector<std::array<double, 2>> points;
        std::uint64_t dropped, ambiguous;
    };
    const std::vector<Case> cases = {
        {"same z dropped", {{1, 2, 3}, {1, 2, 3}, {4, 5, 6}}, {{1, 2}, {4, 5}}, 1, 0},
        {"different z ambiguous", {{1, 2, 3}, {1, 2, 3.5}, {1, 2, 3}}, {{1, 2}}, 1, 1},
        {"signed zeros are different coordinates", {{0.0, 1, 0}, {-0.0, 1, 0}, {0.0, 1, 0}}, {{0.0, 1}, {-0.0, 1}}, 1, 0},
        {"NaN z compared by bits", {{1, 1, kNaN}, {1, 1, kNaN}, {1, 1, nz}}, {{1, 1}}, 1, 1},
        {"non-finite XY counted nowhere", {{kNaN, 1, 0}, {1, kInf, 0}, {kNaN, 1, 0}, {2, 2, 0}}, {{2, 2}}, 0, 0},
    };
    for (const Case& c : cases) {
        const auto d = topology::distinct_points(c.input);
        ASSERT_EQ(d.points.size(), c.points.size()) << c.what;
        for (std::size_t k = 0; k < c.points.size(); ++k) {
            EXPECT_EQ(std::signbit(d.points[k][0]), std::signbit(c.points[k][0])) << c.what;
            EXPECT_EQ(d.points[k], c.points[k]) << c.what;
        }
        EXPECT_EQ(d.z.size(), d.points.size()) << c.what;
        EXPECT_EQ(d.coincident_dropped, c.dropped) << c.what;
        EXPECT_EQ(d.coincident_ambiguous, c.ambiguous) << c.what;
    }
}

// Many points with few distinct positions (long probe runs in the table),
// against a plain ordered map of bit patterns, on one thread and on several
// (enough points that the positions are split among threads).
TEST(TopologyDistinct, MatchesAMapOfBitPatterns) {
    std::mt19937_64 rng(5);
    const double coords[] = {0.0, -0.0, 1.0, 2.5, -3.0, 1e300, 4.9e-324, kNaN, kInf, 456789.125};
    std::vector<P> input(90000);
    for (P& p : input)
        p = {coords[rng() % std::size(coords)], std::ldexp(double(rng() % 300), -3), double(rng() % 3)};

    std::map<std::pair<std::uint64_t, std::uint64_t>, std::size_t> seen;
    std::vector<std::array<double, 2>> points;
    std::vector<double> z;
    std::uint64_t dropped = 0, ambiguous = 0;
    for (const P& p : input) {
        if (!std::isfinite(p[0]) || !std::isfinite(p[1])) continue;
        const auto key = std::pair{std::bit_cast<std::uint64_t>(p[0]), std::bit_cast<std::uint64_t>(p[1])};
        const auto [it, fresh] = seen.try_emplace(key, points.size());
        if (fresh) {
            points.push_back({p[0], p[1]});
            z.push_back(p[2]);
        } else if (std::bit_cast<std::uint64_t>(z[it->second]) == std::bit_cast<std::uint64_t>(p[2])) {
            ++dropped;
        } else {
            ++ambiguous;
        }
    }
    for (const std::size_t threads : {std::size_t{1}, std::size_t{2}, std::size_t{8}}) {
        const testing::ScopedThreadCount env(threads);
        const auto d = topology::distinct_points(input);
        ASSERT_EQ(d.points.size(), points.size());
        for (std::size_t k = 0; k < points.size(); ++k) {
            ASSERT_EQ(std::bit_cast<std::uint64_t>(d.points[k][0]), std::bit_cast<std::uint64_t>(points[k][0])) << k;
            ASSERT_EQ(std::bit_cast<std::uint64_t>(d.points[k][1]), std::bit_cast<std::uint64_t>(points[k][1])) << k;
            ASSERT_EQ(d.z[k], z[k]) << k;
        }
        EXPECT_EQ(d.coincident_dropped, dropped);
        EXPECT_EQ(d.coincident_ambiguous, ambiguous);
    }
}

TEST(TopologyDetect, CoincidentPointsInTheReport) {
    const auto nodes = full_lattice(7, 6, 10.0, 10.0, 0.0);
    const std::vector<P> base = points_of(nodes);
    struct Case {
        const char* what;
        P extra;
        std::uint64_t dropped, ambiguous;
        bool verified;
    };
    const P first = base[8];
    const Case cases[] = {
        {"repeat with the same z", first, 1, 0, true},
        {"repeat with another z", {first[0], first[1], first[2] + 1.0}, 0, 1, false},
    };
    for (const Case& c : cases) {
        std::vector<P> pts = base;
        pts.push_back(c.extra);
        pts.push_back({kNaN, 3.0, 1.0});  // ignored
        const auto r = points::detect_topology(PointSet::from_coords(pts), std::nullopt);
        ASSERT_TRUE(r.has_value()) << c.what;
        const auto& [labelled, report] = *r;
        EXPECT_EQ(report.distinct_nodes, base.size()) << c.what;
        EXPECT_EQ(report.coincident_dropped, c.dropped) << c.what;
        EXPECT_EQ(report.coincident_ambiguous, c.ambiguous) << c.what;
        EXPECT_EQ(report.verified(), c.verified) << c.what;
        EXPECT_EQ(labelled.has_value(), c.verified) << c.what;
        if (labelled) {
            // The duplicate keeps the z of its first occurrence.
            const auto it = std::find_if(labelled->points.begin(), labelled->points.end(), [&](const P& p) {
                return p[0] == first[0] && p[1] == first[1];
            });
            ASSERT_NE(it, labelled->points.end());
            EXPECT_EQ((*it)[2], first[2]);
        }
    }
}

// ---------------------------------------------------------------------------
// Building blocks.

TEST(TopologyLocalStep, MeanOfTheNeighbourStepsWithinBounds) {
    const std::vector<std::array<double, 2>> pts = {{0, 0}, {10, 1}, {-10, -1}, {30, 0}, {1, 0.5}, {16, 0}, {6, 0}};
    struct Case {
        const char* what;
        topology::CellMap cells;
        std::array<double, 2> q;
        double length;
        std::optional<std::array<double, 2>> expected;
    };
    const std::vector<Case> cases = {
        {"no neighbour", {{topology::cell_key(0, 0), 0}}, {0, 0}, 10, std::nullopt},
        {"forward only", {{topology::cell_key(1, 0), 1}}, {0, 0}, 10, std::array<double, 2>{10, 1}},
        {"backward only", {{topology::cell_key(-1, 0), 2}}, {0, 0}, 10, std::array<double, 2>{10, 1}},
        {"both averaged",
         {{topology::cell_key(1, 0), 3}, {topology::cell_key(-1, 0), 2}},
         {0, 0},
         15,
         std::array<double, 2>{20, 0.5}},
        {"too long", {{topology::cell_key(1, 0), 3}}, {0, 0}, 10, std::nullopt},
        {"too short", {{topology::cell_key(1, 0), 4}}, {0, 0}, 10, std::nullopt},
        {"exactly 1.6 L is refused", {{topology::cell_key(1, 0), 5}}, {0, 0}, 10, std::nullopt},
        {"exactly 0.6 L is refused", {{topology::cell_key(1, 0), 6}}, {0, 0}, 10, std::nullopt},
    };
    for (const Case& c : cases) {
        const auto got = topology::local_step(c.cells, pts, c.q, 0, 0, 1, 0, c.length);
        ASSERT_EQ(got.has_value(), c.expected.has_value()) << c.what;
        if (got) {
            EXPECT_EQ(*got, *c.expected) << c.what;
        }
    }
}

TEST(TopologyCellSize, ModalBinOfTheNeighbourDistances) {
    using XY = std::vector<std::array<double, 2>>;
    struct Case {
        const char* what;
        XY points;
        std::optional<double> nominal;
        double expected;
    };
    XY square;
    for (int j = 0; j < 3; ++j)
        for (int i = 0; i < 3; ++i) square.push_back({10.0 * i, 10.0 * j});
    const std::vector<Case> cases = {
        // Diagonals (1.414 spacings) lie beyond 1.4 times the base.
        {"square lattice", square, std::nullopt, 10.0},
        // Sides 10 and 12 and the diagonal fill three bins equally: the
        // highest bin wins.
        {"equal counts go to the highest bin", {{0, 0}, {10, 0}, {0, 12}, {10, 12}}, 12.0, std::hypot(10.0, 12.0)},
        // Nearest distances 1, 1, 3, 3: the base is the upper middle value 3,
        // so the range (0, 4.2] holds both pair distances, tied again.
        {"base is the upper middle nearest distance", {{0, 0}, {1, 0}, {100, 0}, {103, 0}}, std::nullopt, 3.0},
    };
    for (const Case& c : cases) {
        const auto index = geometry::PointIndex::bulk_load(c.points);
        const auto got = topology::detect_cell_size(index, c.points, c.nominal);
        ASSERT_TRUE(got.has_value()) << c.what;
        EXPECT_EQ(*got, c.expected) << c.what;
    }
}

// ---------------------------------------------------------------------------
// The fast walk against a brute-force one: every block seeded at the unlabelled
// point nearest to the unlabelled centroid, every search a scan of all points.

using XY = std::array<double, 2>;

/// The walk with plain scans. Coordinates must be multiples of a power of two
/// small enough for plain sums to be exact, so the centroid is the same value
/// whichever way it is summed.
topology::LatticeLabels brute_force_walk(const std::vector<XY>& pts, XY si, XY sj) {
    const std::size_t n = pts.size();
    constexpr std::size_t kNo = std::numeric_limits<std::size_t>::max();
    topology::LatticeLabels out;
    out.labels.assign(n, NodeLabel{});
    std::vector<char> done(n, 0);
    const double li = std::hypot(si[0], si[1]);
    const double lj = std::hypot(sj[0], sj[1]);
    const double predict2 = std::pow(0.42 * std::min(li, lj), 2);
    const double refuse2 = std::pow(2.2 * std::max(li, lj), 2);
    const auto d2_of = [&](std::size_t k, double x, double y) {
        const double dx = pts[k][0] - x;
        const double dy = pts[k][1] - y;
        return dx * dx + dy * dy;
    };
    const auto nearer = [](double d2, std::size_t k, double best_d2, std::size_t best) {
        return best == kNo || d2 < best_d2 || (d2 == best_d2 && k < best);
    };
    std::uint32_t block = 0;
    for (;;) {
        double sx = 0.0, sy = 0.0;
        std::size_t left = 0;
        for (std::size_t k = 0; k < n; ++k)
            if (!done[k]) {
                sx += pts[k][0];
                sy += pts[k][1];
                ++left;
            }
        if (left == 0) break;
        const double cx = sx / double(left), cy = sy / double(left);
        std::size_t seed = kNo;
        double seed_d2 = kInf;
        for (std::size_t k = 0; k < n; ++k)
            if (!done[k] && nearer(d2_of(k, cx, cy), k, seed_d2, seed)) {
                seed = k;
                seed_d2 = d2_of(k, cx, cy);
            }
        topology::CellMap cells;
        std::vector<std::size_t> queue{seed};
        done[seed] = 1;
        out.labels[seed] = NodeLabel{block, 0, 0};
        cells[topology::cell_key(0, 0)] = seed;
        for (std::size_t head = 0; head < queue.size(); ++head) {
            const std::size_t q = queue[head];
            const XY qp = pts[q];
            const auto [i, j] = std::pair{out.labels[q].i, out.labels[q].j};
            const XY vi = topology::local_step(cells, pts, qp, i, j, 1, 0, li).value_or(si);
            const XY vj = topology::local_step(cells, pts, qp, i, j, 0, 1, lj).value_or(sj);
            const std::array<std::tuple<XY, int, int>, 4> dirs{
                std::tuple{vi, 1, 0}, std::tuple{XY{-vi[0], -vi[1]}, -1, 0}, std::tuple{vj, 0, 1},
                std::tuple{XY{-vj[0], -vj[1]}, 0, -1}};
            for (const auto& [g, di, dj] : dirs) {
                const int ti = i + di, tj = j + dj;
                if (cells.contains(topology::cell_key(ti, tj))) continue;
                const double px = qp[0] + g[0], py = qp[1] + g[1];
                std::size_t chosen = kNo;
                double chosen_d2 = kInf;
                for (std::size_t k = 0; k < n; ++k) {
                    const double d2 = d2_of(k, px, py);
                    if (!(d2 <= predict2)) continue;
                    if (done[k]) {
                        const NodeLabel& l = out.labels[k];
                        if (l.block == block && (l.i != ti || l.j != tj)) ++out.conflicts;
                    } else if (nearer(d2, k, chosen_d2, chosen)) {
                        chosen = k;
                        chosen_d2 = d2;
                    }
                }
                if (chosen != kNo) {
                    done[chosen] = 1;
                    out.labels[chosen] = NodeLabel{block, ti, tj};
                    cells[topology::cell_key(ti, tj)] = chosen;
                    queue.push_back(chosen);
                    continue;
                }
                const double glen = std::hypot(g[0], g[1]);
                std::size_t hit = kNo;
                double hit_d2 = kInf;
                for (std::size_t k = 0; k < n; ++k) {
                    const double d2 = d2_of(k, qp[0], qp[1]);
                    if (done[k] || !(d2 <= refuse2)) continue;
                    const double w = std::sqrt(d2);
                    const double cosine = ((pts[k][0] - qp[0]) * g[0] + (pts[k][1] - qp[1]) * g[1]) / (w * glen);
                    if (w >= 0.5 * glen && cosine > 0.951 && nearer(d2, k, hit_d2, hit)) {
                        hit = k;
                        hit_d2 = d2;
                    }
                }
                if (hit != kNo) out.refused.emplace_back(q, hit);
            }
        }
        ++block;
    }
    out.blocks = block;
    return out;
}

void expect_same_walk(const topology::LatticeLabels& want, const std::vector<NodeLabel>& labels,
                      const std::vector<std::pair<std::uint64_t, std::uint64_t>>& refused, std::uint64_t conflicts,
                      std::uint32_t blocks, const std::string& what) {
    EXPECT_EQ(blocks, want.blocks) << what;
    EXPECT_EQ(conflicts, want.conflicts) << what;
    ASSERT_EQ(labels.size(), want.labels.size()) << what;
    for (std::size_t k = 0; k < labels.size(); ++k)
        ASSERT_EQ(labels[k], want.labels[k]) << what << ": label of point " << k;
    ASSERT_EQ(refused.size(), want.refused.size()) << what;
    for (std::size_t k = 0; k < refused.size(); ++k) ASSERT_EQ(refused[k], want.refused[k]) << what << ": refusal " << k;
}

/// Rounds to a multiple of 2^-10, which keeps sums of a few thousand
/// coordinates below 2^21 exact.
double grid_round(double v) { return std::ldexp(std::round(std::ldexp(v, 10)), -10); }

struct WalkCloud {
    std::string name;
    std::vector<P> points;
};

std::vector<WalkCloud> walk_clouds() {
    std::vector<WalkCloud> out;
    std::mt19937_64 rng(11);
    std::uniform_real_distribution<double> u(0.0, 1.0);
    std::normal_distribution<double> g(0.0, 1.0);
    const auto shuffled = [&](std::vector<P> p) {
        std::shuffle(p.begin(), p.end(), rng);
        return p;
    };
    for (const auto& [name, ox, oy] : {std::tuple{"uniform", 0.0, 0.0}, std::tuple{"uniform_mixed_sign", -500.0, -700.0},
                                       std::tuple{"uniform_projected", 456789.0, -654321.0}}) {
        std::vector<P> p(2500);
        for (P& q : p) q = {grid_round(ox + 1000.0 * u(rng)), grid_round(oy + 1000.0 * u(rng)), 0.0};
        out.push_back({name, p});
    }
    {  // Tight clusters of very different sizes, far apart.
        std::vector<P> p;
        for (int c = 0; c < 12; ++c) {
            const double cx = 5000.0 * u(rng), cy = 5000.0 * u(rng), spread = 0.5 + 40.0 * u(rng);
            const int count = 20 + static_cast<int>(300 * u(rng));
            for (int k = 0; k < count; ++k)
                p.push_back({grid_round(cx + spread * g(rng)), grid_round(cy + spread * g(rng)), 0.0});
        }
        out.push_back({"clusters", shuffled(p)});
    }
    {  // A jittered, rotated lattice thrown half a row along a fault, with gaps.
        std::vector<P> p;
        const double c = std::cos(0.4), s = std::sin(0.4);
        for (int j = 0; j < 45; ++j)
            for (int i = 0; i < 45; ++i) {
                if ((i * 7 + j * 11) % 13 == 0) continue;
                const double a = 10.0 * i + 0.7 * g(rng), b = 15.0 * j + (i > 22 ? 7.5 : 0.0) + 0.7 * g(rng);
                p.push_back({grid_round(1000.0 + a * c - b * s), grid_round(-2000.0 + a * s + b * c), 0.0});
            }
        out.push_back({"faulted_lattice", shuffled(p)});
    }
    {  // Integer points with gaps, some nodes split into twins a quarter step
       // either side, the whole repeated under quarter turns about the empty
       // origin: seeds, predictions and refusals meet equal distances
       // everywhere, and every such choice falls to the lowest index.
        std::vector<P> base;
        for (int j = 0; j <= 20; ++j)
            for (int i = 1; i <= 20; ++i) {
                const double r = u(rng);
                if (r < 0.2) continue;
                if (r < 0.3) {
                    base.push_back({i - 0.25, double(j), 0.0});
                    base.push_back({i + 0.25, double(j), 0.0});
                } else {
                    base.push_back({double(i), double(j), 0.0});
                }
            }
        std::vector<P> p;
        for (const P& b : base) {
            p.push_back(b);
            p.push_back({-b[1], b[0], 0.0});
            p.push_back({-b[0], -b[1], 0.0});
            p.push_back({b[1], -b[0], 0.0});
        }
        out.push_back({"integer_ties", shuffled(p)});
    }
    {  // Rows twenty times farther apart than the columns, with gaps: every
       // search around a point meets a long run of its row.
        std::vector<P> p;
        for (int j = 0; j < 30; ++j)
            for (int i = 0; i < 60; ++i) {
                if (u(rng) < 0.1) continue;
                p.push_back({grid_round(i + 0.05 * g(rng)), grid_round(20.0 * j + 0.3 * g(rng)), 0.0});
            }
        out.push_back({"stretched_lattice", shuffled(p)});
    }
    {  // Density rising across the cloud, larger than the others: the
       // centroid of the unwalked points drifts as the walks eat the cloud,
       // and the seed search meets a long, ragged rim many times.
        std::vector<P> p(6000);
        for (P& q : p) q = {grid_round(1000.0 * std::sqrt(u(rng))), grid_round(600.0 * u(rng)), 0.0};
        out.push_back({"density_gradient", p});
    }
    return out;
}

class FastWalk : public ::testing::TestWithParam<WalkCloud> {};

// The detection's own tree and walk give exactly what the shared point index
// and the brute-force walk give: the same measures, labels, refusals in the
// same order, conflicts and blocks.
TEST_P(FastWalk, MatchesTheBruteForceWalkElementByElement) {
    const auto& cloud = GetParam();
    const auto d = topology::detect(cloud.points, std::nullopt);
    ASSERT_TRUE(d.has_value()) << error_text(d);
    ASSERT_EQ(d->points.size(), cloud.points.size());

    const auto index = geometry::PointIndex::bulk_load(d->points);
    const auto cell = topology::detect_cell_size(index, d->points, std::nullopt);
    ASSERT_TRUE(cell.has_value());
    const auto theta = topology::detect_azimuth(index, d->points, *cell);
    ASSERT_TRUE(theta.has_value());
    EXPECT_EQ(*theta, d->azimuth);
    const double c = std::cos(*theta), s = std::sin(*theta);
    const auto steps = topology::detect_axis_steps(index, d->points, {c, s}, {-s, c}, *cell);
    ASSERT_TRUE(steps.has_value());
    EXPECT_EQ(steps->first, d->step_i);
    EXPECT_EQ(steps->second, d->step_j);
    EXPECT_EQ(d->rotation, (std::array<double, 4>{c, s, -s, c}));

    const XY si{d->step_i * c, d->step_i * s};
    const XY sj{d->step_j * -s, d->step_j * c};
    const auto want = brute_force_walk(d->points, si, sj);
    ASSERT_GT(want.blocks, 1u) << "the cloud should need several walks";
    expect_same_walk(want, d->labels, d->refused, d->conflicts, d->blocks, cloud.name + " (detect)");
    const auto shared = topology::label_lattice(index, d->points, si, sj);
    expect_same_walk(want, shared.labels, shared.refused, shared.conflicts, shared.blocks,
                     cloud.name + " (label_lattice)");
}

/// The axis steps by the plain walk: for every point the first 64 entries in
/// (squared distance, index) order, stopped by the reach or by the fourth
/// best, then the two histograms filled in point order.
std::pair<double, double> brute_force_axis_steps(const std::vector<XY>& pts, XY ui, XY uj, double cell) {
    const double reach = 20.0 * cell;
    std::array<std::uint64_t, 512> ci{}, cj{};
    std::array<double, 512> si{}, sj{};
    const auto add = [&](auto& count, auto& sum, double v) {
        const double f = std::floor(v / reach * 512.0);
        const std::size_t bin = !(f < 511.0) ? 511 : !(f > 0.0) ? 0 : static_cast<std::size_t>(f);
        ++count[bin];
        sum[bin] += v;
    };
    std::vector<std::pair<double, std::size_t>> order(pts.size());
    for (std::size_t p = 0; p < pts.size(); ++p) {
        for (std::size_t k = 0; k < pts.size(); ++k) {
            const double dx = pts[k][0] - pts[p][0], dy = pts[k][1] - pts[p][1];
            order[k] = {dx * dx + dy * dy, k};
        }
        const std::size_t first = std::min<std::size_t>(64, pts.size());
        std::partial_sort(order.begin(), order.begin() + static_cast<std::ptrdiff_t>(first), order.end());
        std::array<double, 4> best{kInf, kInf, kInf, kInf};
        for (std::size_t e = 0; e < first; ++e) {
            const double mx = pts[order[e].second][0] - pts[p][0], my = pts[order[e].second][1] - pts[p][1];
            if (mx == 0.0 && my == 0.0) continue;
            if (std::hypot(mx, my) > reach) break;
            const double pi = mx * ui[0] + my * ui[1], pj = mx * uj[0] + my * uj[1];
            if (std::fabs(pj) <= 0.3 * std::fabs(pi) && pi != 0.0) {
                double& b = best[pi > 0.0 ? 0 : 1];
                b = std::min(b, std::fabs(pi));
            } else if (std::fabs(pi) <= 0.3 * std::fabs(pj) && pj != 0.0) {
                double& b = best[pj > 0.0 ? 2 : 3];
                b = std::min(b, std::fabs(pj));
            }
            if (std::isfinite(best[0]) && std::isfinite(best[1]) && std::isfinite(best[2]) && std::isfinite(best[3]))
                break;
        }
        for (int k = 0; k < 4; ++k)
            if (std::isfinite(best[k])) k < 2 ? add(ci, si, best[k]) : add(cj, sj, best[k]);
    }
    const auto modal = [](const auto& count, const auto& sum) {
        std::size_t m = 0;
        for (std::size_t b = 1; b < 512; ++b)
            if (count[b] >= count[m]) m = b;
        return sum[m] / static_cast<double>(count[m]);
    };
    return {modal(ci, si), modal(cj, sj)};
}

// The axis steps of the detection and of the shared index equal the plain
// walk's, bit for bit: most walks are decided from one disc around the point
// without putting its entries in order.
TEST_P(FastWalk, AxisStepsMatchThePlainWalk) {
    const auto& cloud = GetParam();
    const auto d = topology::detect(cloud.points, std::nullopt);
    ASSERT_TRUE(d.has_value()) << error_text(d);
    const auto index = geometry::PointIndex::bulk_load(d->points);
    const auto cell = topology::detect_cell_size(index, d->points, std::nullopt);
    ASSERT_TRUE(cell.has_value());
    const double c = std::cos(d->azimuth), s = std::sin(d->azimuth);
    const auto want = brute_force_axis_steps(d->points, {c, s}, {-s, c}, *cell);
    EXPECT_EQ(std::bit_cast<std::uint64_t>(d->step_i), std::bit_cast<std::uint64_t>(want.first)) << cloud.name;
    EXPECT_EQ(std::bit_cast<std::uint64_t>(d->step_j), std::bit_cast<std::uint64_t>(want.second)) << cloud.name;
    const auto shared = topology::detect_axis_steps(index, d->points, {c, s}, {-s, c}, *cell);
    ASSERT_TRUE(shared.has_value());
    EXPECT_EQ(*shared, want) << cloud.name;
}

INSTANTIATE_TEST_SUITE_P(Clouds, FastWalk, ::testing::ValuesIn(walk_clouds()),
                         [](const auto& info) { return info.param.name; });

// The detection of `cloud` is the same, bit for bit and element by element,
// on one thread and on `thread_counts`.
void expect_same_on_one_thread_and_many(const WalkCloud& cloud, std::span<const std::size_t> thread_counts) {
    std::optional<Result<TopologyDetection>> one;
    {
        const testing::ScopedThreadCount env(1);
        one = topology::detect(cloud.points, std::nullopt);
    }
    ASSERT_TRUE(one->has_value()) << cloud.name;
    const TopologyDetection& want = **one;
    for (const std::size_t threads : thread_counts) {
        const testing::ScopedThreadCount env(threads);
        const auto got = topology::detect(cloud.points, std::nullopt);
        ASSERT_TRUE(got.has_value()) << cloud.name;
        EXPECT_EQ(std::bit_cast<std::uint64_t>(got->step_i), std::bit_cast<std::uint64_t>(want.step_i)) << cloud.name;
        EXPECT_EQ(std::bit_cast<std::uint64_t>(got->step_j), std::bit_cast<std::uint64_t>(want.step_j)) << cloud.name;
        EXPECT_EQ(std::bit_cast<std::uint64_t>(got->azimuth), std::bit_cast<std::uint64_t>(want.azimuth)) << cloud.name;
        EXPECT_EQ(got->block_sizes, want.block_sizes) << cloud.name;
        expect_same_walk(topology::LatticeLabels{want.refused, want.labels, want.conflicts, want.blocks}, got->labels,
                         got->refused, got->conflicts, got->blocks,
                         cloud.name + " with " + std::to_string(threads) + " threads");
    }
}

// The measuring passes run their points on several threads, and blocks are
// walked ahead on several; the detection is the same, bit for bit and
// element by element, on one thread and on many.
TEST(TopologyDetect, SameOnOneThreadAndOnMany) {
    for (const WalkCloud& cloud : walk_clouds()) expect_same_on_one_thread_and_many(cloud, testing::kThreadCounts);
}

// A cloud large enough that every pass splits its points into several chunks
// on several threads: the tree's items, the histograms, the seed trees with
// their exact sums (far from the origin, of mixed magnitude), the grid's
// cells and the walk's final renumbering.
TEST(TopologyDetect, LargeCloudSameOnOneThreadAndOnMany) {
    std::mt19937_64 rng(11);
    std::uniform_real_distribution<double> u(0.0, 1.0);
    std::vector<P> p(20000);
    for (P& q : p) q = {grid_round(-345678.0 + 900.0 * u(rng)), grid_round(7654321.0 + 1100.0 * u(rng)), 0.0};
    const std::size_t threads[] = {2, 3, 8};
    expect_same_on_one_thread_and_many({"large_uniform", p}, threads);

    // Against passes that take the points one by one: the measures of the
    // shared index, and the seeds of the first blocks, each the point nearest
    // to the mean of the points not yet walked (the coordinates are
    // multiples of 2^-10 small enough that plain sums are exact).
    const auto d = topology::detect(p, std::nullopt);
    ASSERT_TRUE(d.has_value()) << error_text(d);
    const auto index = geometry::PointIndex::bulk_load(d->points);
    const auto cell = topology::detect_cell_size(index, d->points, std::nullopt);
    ASSERT_TRUE(cell.has_value());
    const auto theta = topology::detect_azimuth(index, d->points, *cell);
    ASSERT_TRUE(theta.has_value());
    EXPECT_EQ(std::bit_cast<std::uint64_t>(*theta), std::bit_cast<std::uint64_t>(d->azimuth));
    const double c = std::cos(*theta), s = std::sin(*theta);
    const auto steps = topology::detect_axis_steps(index, d->points, {c, s}, {-s, c}, *cell);
    ASSERT_TRUE(steps.has_value());
    EXPECT_EQ(std::bit_cast<std::uint64_t>(steps->first), std::bit_cast<std::uint64_t>(d->step_i));
    EXPECT_EQ(std::bit_cast<std::uint64_t>(steps->second), std::bit_cast<std::uint64_t>(d->step_j));
    ASSERT_GT(d->blocks, 12u);
    for (std::uint32_t b = 0; b < 12; ++b) {
        double sx = 0.0, sy = 0.0;
        std::size_t left = 0;
        for (std::size_t k = 0; k < d->points.size(); ++k)
            if (d->labels[k].block >= b) {
                sx += d->points[k][0];
                sy += d->points[k][1];
                ++left;
            }
        const double cx = sx / double(left), cy = sy / double(left);
        std::size_t seed = d->points.size();
        double seed_d2 = kInf;
        for (std::size_t k = 0; k < d->points.size(); ++k) {
            if (d->labels[k].block < b) continue;
            const double dx = d->points[k][0] - cx, dy = d->points[k][1] - cy;
            if (dx * dx + dy * dy < seed_d2) {
                seed = k;
                seed_d2 = dx * dx + dy * dy;
            }
        }
        ASSERT_LT(seed, d->points.size());
        EXPECT_EQ(d->labels[seed], (NodeLabel{b, 0, 0})) << "seed of block " << b;
    }
}

TEST(TopologyReport, LargestBlockIsZeroWithoutBlocks) {
    TopologyDetection d;
    EXPECT_EQ(TopologyReport::from_detection(d).largest_block, 0u);
    d.block_sizes = {3, 9, 4};
    d.blocks = 3;
    d.azimuth = std::numbers::pi / 8;
    const TopologyReport r = TopologyReport::from_detection(d);
    EXPECT_EQ(r.largest_block, 9u);
    EXPECT_DOUBLE_EQ(r.detected_azimuth_deg, 22.5);
    EXPECT_FALSE(r.verified());
}

}  // namespace
}  // namespace vz
