// Loading EarthVision grids as null-preserving structured surfaces: where
// every row lands (by number or by file order), absent and null nodes, the
// node-set checks in the order they are made, the outline, the nominal
// lattice, the history and the real exports.

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <limits>
#include <numeric>
#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include <fmt/format.h>

#include "io/structured_load.hpp"
#include "io/earthvision.hpp"
#include "io_test_util.hpp"

namespace vz {
namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

template <class T>
std::string error_text(const Result<T>& r) {
    return r ? std::string("<ok>") : r.error().display();
}

bool same(double a, double b) { return (std::isnan(a) && std::isnan(b)) || a == b; }

/// One indexed data row "x y z column row".
std::string indexed_row(double x, double y, double z, double column, double row) {
    return fmt::format("{} {} {} {} {}\n", x, y, z, column, row);
}

/// Expected content of one lattice position.
struct Node {
    std::size_t i, j;
    double x, y, z;
};

/// A full ncol x nrow lattice numbered from `base`, rows written in a
/// scrambled order (k -> 5k mod 12 style walk), node (i, j) at
/// (100 + 10 i, 200 + 20 j) with z = i + 10 j.
struct Numbered {
    std::string text;
    std::vector<Node> nodes;
};
Numbered numbered_lattice(std::size_t ncol, std::size_t nrow, int base) {
    Numbered out;
    const std::size_t count = ncol * nrow;
    std::size_t step = 5;
    while (std::gcd(step, count) != 1) ++step;
    for (std::size_t k = 0, n = 0; k < count; ++k, n = (n + step) % count) {
        const std::size_t i = n % ncol, j = n / ncol;
        const double x = 100.0 + 10.0 * double(i), y = 200.0 + 20.0 * double(j), z = double(i) + 10.0 * double(j);
        out.text += indexed_row(x, y, z, double(i) + base, double(j) + base);
        out.nodes.push_back({i, j, x, y, z});
    }
    return out;
}

void expect_lattice(const StructuredMeshSurface& s, std::size_t ncol, std::size_t nrow,
                    const std::vector<Node>& nodes, const std::string& name) {
    ASSERT_EQ(s.ncol(), ncol) << name;
    ASSERT_EQ(s.nrow(), nrow) << name;
    ASSERT_EQ(s.values.ncol(), ncol) << name;
    ASSERT_EQ(s.values.nrow(), nrow) << name;
    std::vector<char> listed(ncol * nrow, 0);
    for (const Node& n : nodes) {
        listed[n.i * nrow + n.j] = 1;
        EXPECT_TRUE(same(s.shell->x()(n.i, n.j), n.x)) << name << " x at " << n.i << "," << n.j;
        EXPECT_TRUE(same(s.shell->y()(n.i, n.j), n.y)) << name << " y at " << n.i << "," << n.j;
        EXPECT_TRUE(same(s.values(n.i, n.j), n.z)) << name << " z at " << n.i << "," << n.j;
    }
    std::size_t stray = 0;
    for (std::size_t i = 0; i < ncol; ++i)
        for (std::size_t j = 0; j < nrow; ++j)
            if (!listed[i * nrow + j] &&
                !(std::isnan(s.shell->x()(i, j)) && std::isnan(s.shell->y()(i, j)) && std::isnan(s.values(i, j))))
                ++stray;
    EXPECT_EQ(stray, 0u) << name << ": positions no row names must stay absent";
}

TEST(StructuredLoad, PlacesEveryRow) {
    struct Case {
        std::string name;
        std::string text;
        std::size_t ncol, nrow;
        std::vector<Node> nodes;
    };
    const Numbered from1 = numbered_lattice(4, 3, 1);
    const Numbered from0 = numbered_lattice(4, 3, 0);
    // x falls along the file so that any ordering by coordinates would show.
    const std::string by_order = "#Grid_size: 3 x 2\n9 0 1\n8 0 2\n7 0 3\n6 1 4\n5 1 5\n4 1 6\n";
    const std::vector<Node> by_order_nodes = {{0, 0, 9, 0, 1}, {1, 0, 8, 0, 2}, {2, 0, 7, 0, 3},
                                              {0, 1, 6, 1, 4}, {1, 1, 5, 1, 5}, {2, 1, 4, 1, 6}};
    const Case cases[] = {
        {"unnumbered rows fill the Grid_size lattice column fastest", by_order, 3, 2, by_order_nodes},
        {"numbered from 1", from1.text, 4, 3, from1.nodes},
        {"numbered from 0", from0.text, 4, 3, from0.nodes},
        {"Grid_size that agrees with the numbers", "#Grid_size: 4 x 3\n" + from1.text, 4, 3, from1.nodes},
        {"numbers offset, some positions absent",
         indexed_row(1, 2, 3, 5, 10) + indexed_row(4, 5, 6, 6, 10) + indexed_row(7, 8, 9, 5, 11) +
             indexed_row(10, 11, 12, 6, 11) + indexed_row(13, 14, 15, 7, 11),
         3, 2, {{0, 0, 1, 2, 3}, {1, 0, 4, 5, 6}, {0, 1, 7, 8, 9}, {1, 1, 10, 11, 12}, {2, 1, 13, 14, 15}}},
        {"Grid_size over numbered rows that leave positions absent",
         "#Grid_size: 3 x 2\n" + indexed_row(1, 2, 3, 5, 10) + indexed_row(13, 14, 15, 7, 11) +
             indexed_row(7, 20, 9, 5, 11),
         3, 2, {{0, 0, 1, 2, 3}, {2, 1, 13, 14, 15}, {0, 1, 7, 20, 9}}},
        {"null values keep their place",
         "#Grid_size: 2 x 2\n1 1 1e30\n2 1 -999\n#Null_value: -999\n1 2 -999\n2 2 7\n", 2, 2,
         {{0, 0, 1, 1, kNaN}, {1, 0, 2, 1, -999}, {0, 1, 1, 2, kNaN}, {1, 1, 2, 2, 7}}},
        {"numbers just above a whole number",
         indexed_row(0, 0, 1, 1.0000000001, 1) + indexed_row(1, 0, 2, 2, 1) + indexed_row(0, 1, 3, 1, 2.0000000005) +
             indexed_row(1, 1, 4, 2, 2),
         2, 2, {{0, 0, 0, 0, 1}, {1, 0, 1, 0, 2}, {0, 1, 0, 1, 3}, {1, 1, 1, 1, 4}}},
        {"sparse numbers over a wide span",
         indexed_row(0, 0, 1, 0, 0) + indexed_row(999, 0, 2, 999, 0) + indexed_row(0, 999, 3, 0, 999) +
             indexed_row(999, 999, 4, 999, 999),
         1000, 1000, {{0, 0, 0, 0, 1}, {999, 0, 999, 0, 2}, {0, 999, 0, 999, 3}, {999, 999, 999, 999, 4}}},
    };
    for (const Case& c : cases) {
        testing::ScratchDir dir;
        const auto path = dir.write("grid.ev", c.text);
        auto r = structured_load::load_earthvision_grid(path);
        ASSERT_TRUE(r) << c.name << ": " << error_text(r);
        expect_lattice(*r, c.ncol, c.nrow, c.nodes, c.name);
        EXPECT_EQ(r->history.entries(),
                  std::vector<std::string>{"structured_surface.load_earthvision_grid(path=" + path.string() + ")"})
            << c.name;
        EXPECT_TRUE(r->attributes.empty()) << c.name;
        EXPECT_FALSE(r->primary_metadata.has_value()) << c.name;
    }
}

TEST(StructuredLoad, RefusesInconsistentNodeSets) {
    struct Case {
        std::string name;
        std::string text;
        ErrorKind kind;
        std::string message;
    };
    const std::string two_by_two =
        indexed_row(0, 0, 1, 1, 1) + indexed_row(1, 0, 1, 2, 1) + indexed_row(0, 1, 1, 1, 2) + indexed_row(1, 1, 1, 2, 2);
    const std::string unnumbered5 = "1 1 1\n2 1 1\n3 1 1\n1 2 1\n2 2 1\n";
    const Case cases[] = {
        {"Grid_size and no data rows", "#Grid_size: 3 x 2\n", ErrorKind::GeometryInference,
         "EarthVision grid contains no data nodes"},
        {"only short rows", "# EarthVision\n1 2\n3 4\n", ErrorKind::GeometryInference,
         "EarthVision grid contains no data nodes"},
        {"one row without its row number", two_by_two + "5 5 5 3\n", ErrorKind::GeometryInference,
         "EarthVision grid mixes indexed and unindexed nodes"},
        {"every row with only a column number", "1 1 1 1\n2 1 1 2\n3 1 1 3\n", ErrorKind::GeometryInference,
         "EarthVision grid mixes indexed and unindexed nodes"},
        {"numbered and unnumbered rows, mix checked before Grid_size", "1 1 1\n" + two_by_two,
         ErrorKind::GeometryInference, "EarthVision grid mixes indexed and unindexed nodes"},
        {"unnumbered rows without Grid_size", "# EarthVision\n1 2 3\n4 5 6\n7 8 9\n", ErrorKind::GeometryInference,
         "EarthVision grid needs column/row fields or a Grid_size directive"},
        {"Grid_size product of 2^64", "#Grid_size: 4294967296 x 4294967296\n1 1 1\n", ErrorKind::GeometryMismatch,
         "EarthVision Grid_size overflows usize"},
        {"Grid_size product overflowing far", "#Grid_size: 18446744073709551615 x 2\n1 1 1\n",
         ErrorKind::GeometryMismatch, "EarthVision Grid_size overflows usize"},
        {"Grid_size product just below 2^64", "#Grid_size: 4294967296 x 4294967295\n1 1 1\n",
         ErrorKind::GeometryMismatch, "EarthVision Grid_size 4294967296 x 4294967295 expects 18446744069414584320 nodes, found 1"},
        {"five rows under 3 x 2", "#Grid_size: 3 x 2\n" + unnumbered5, ErrorKind::GeometryMismatch,
         "EarthVision Grid_size 3 x 2 expects 6 nodes, found 5"},
        {"Grid_size with no columns", "#Grid_size: 0 x 5\n1 1 1\n", ErrorKind::GeometryMismatch,
         "EarthVision Grid_size 0 x 5 expects 0 nodes, found 1"},
        {"negative column number", two_by_two + indexed_row(5, 5, 5, -1, 1), ErrorKind::GeometryInference,
         "EarthVision column index must be a finite non-negative integer, got -1"},
        {"fractional row number", two_by_two + indexed_row(5, 5, 5, 1, 0.5), ErrorKind::GeometryInference,
         "EarthVision row index must be a finite non-negative integer, got 0.5"},
        {"number just below a whole number", two_by_two + indexed_row(5, 5, 5, 6.9999999999, 1),
         ErrorKind::GeometryInference,
         "EarthVision column index must be a finite non-negative integer, got 6.9999999999"},
        {"column checked before row, first row first",
         two_by_two + indexed_row(5, 5, 5, 1, -2) + indexed_row(5, 5, 5, -3, -4), ErrorKind::GeometryInference,
         "EarthVision row index must be a finite non-negative integer, got -2"},
        {"both numbers bad in one row", two_by_two + "5 5 5 nan inf\n", ErrorKind::GeometryInference,
         "EarthVision column index must be a finite non-negative integer, got NaN"},
        {"number above 2^64", two_by_two + "5 5 5 1e20 1\n", ErrorKind::GeometryInference,
         "EarthVision column index exceeds platform range: 100000000000000000000"},
        {"index refusal before duplicates and Grid_size", "#Grid_size: 9 x 9\n" + two_by_two + two_by_two +
                                                             indexed_row(5, 5, 5, 1, -1),
         ErrorKind::GeometryInference, "EarthVision row index must be a finite non-negative integer, got -1"},
        {"Grid_size disagrees with the numbers",
         "#Grid_size: 4 x 3\n" + numbered_lattice(5, 3, 1).text, ErrorKind::GeometryMismatch,
         "EarthVision Grid_size (4, 3) disagrees with column/row topology (5, 3)"},
        {"Grid_size zero against the numbers", "#Grid_size: 0 x 2\n" + two_by_two, ErrorKind::GeometryMismatch,
         "EarthVision Grid_size (0, 2) disagrees with column/row topology (2, 2)"},
        {"Grid_size against a span of 2^64",
         "#Grid_size: 18446744073709551615 x 2\n" + two_by_two + indexed_row(5, 5, 5, 0, 1) +
             indexed_row(5, 5, 5, 18446744073709551616.0, 1),
         ErrorKind::GeometryMismatch,
         "EarthVision Grid_size (18446744073709551615, 2) disagrees with column/row topology (18446744073709551616, 2)"},
        {"Grid_size checked before duplicates", "#Grid_size: 3 x 2\n" + two_by_two + two_by_two,
         ErrorKind::GeometryMismatch, "EarthVision Grid_size (3, 2) disagrees with column/row topology (2, 2)"},
        {"duplicate numbered from 1",
         numbered_lattice(4, 3, 1).text + indexed_row(9, 9, 9, 3, 2), ErrorKind::GeometryInference,
         "multiple EarthVision nodes map to column=3, row=2"},
        {"duplicate numbered from 0",
         numbered_lattice(4, 3, 0).text + indexed_row(9, 9, 9, 3, 2), ErrorKind::GeometryInference,
         "multiple EarthVision nodes map to column=4, row=3"},
        {"first duplicate in file order",
         indexed_row(0, 0, 1, 7, 7) + indexed_row(1, 0, 1, 8, 7) + indexed_row(0, 0, 1, 8, 7) +
             indexed_row(1, 1, 1, 7, 8) + indexed_row(1, 1, 1, 7, 7),
         ErrorKind::GeometryInference, "multiple EarthVision nodes map to column=2, row=1"},
        {"a span of 2^64 columns",
         two_by_two + indexed_row(5, 5, 5, 0, 1) + indexed_row(5, 5, 5, 18446744073709551616.0, 1),
         ErrorKind::GeometryInference,
         "EarthVision column/row indices span 18446744073709551616 x 2 nodes, more than the 33554432 nodes allowed "
         "for 6 data nodes"},
        {"spans each small, product too large",
         indexed_row(0, 0, 1, 0, 0) + indexed_row(1, 0, 1, 9999, 0) + indexed_row(0, 1, 1, 0, 9999) +
             indexed_row(1, 1, 1, 9999, 9999),
         ErrorKind::GeometryInference,
         "EarthVision column/row indices span 10000 x 10000 nodes, more than the 33554432 nodes allowed for 4 data "
         "nodes"},
        {"Grid_size agreeing with a span the rows cannot describe",
         "#Grid_size: 1 x 100000000\n" + indexed_row(0, 0, 1, 4, 0) + indexed_row(1, 0, 1, 4, 99999999),
         ErrorKind::GeometryInference,
         "EarthVision column/row indices span 1 x 100000000 nodes, more than the 33554432 nodes allowed for 2 data "
         "nodes"},
        {"collinear nodes have no outline", "#Grid_size: 3 x 1\n0 0 1\n1 0 2\n2 0 3\n", ErrorKind::GeometryInference,
         "structured surface edge requires at least three non-collinear nodes"},
        {"a single node has no outline", indexed_row(5, 5, 5, 1, 1), ErrorKind::GeometryInference,
         "structured surface edge requires at least three non-collinear nodes"},
        {"no markers and no rows", "#exported\n", ErrorKind::Format,
         "EarthVision grid: no header markers and no data rows"},
    };
    for (const Case& c : cases) {
        testing::ScratchDir dir;
        auto r = structured_load::load_earthvision_grid(dir.write("grid.ev", c.text));
        ASSERT_FALSE(r) << c.name;
        EXPECT_EQ(r.error().kind(), c.kind) << c.name << ": " << r.error().display();
        EXPECT_EQ(r.error().message(), c.message) << c.name;
    }
}

TEST(StructuredLoad, MissingFileIsAnIoError) {
    testing::ScratchDir dir;
    auto r = structured_load::load_earthvision_grid(dir.path("absent.ev"));
    ASSERT_FALSE(r);
    EXPECT_EQ(r.error().kind(), ErrorKind::Io) << r.error().display();
}

/// Area of the quadrilateral cell (i, j)-(i+1, j)-(i+1, j+1)-(i, j+1).
double cell_area(const StructuredMeshSurface& s, std::size_t i, std::size_t j) {
    const Grid2& x = s.shell->x();
    const Grid2& y = s.shell->y();
    const double px[4] = {x(i, j), x(i + 1, j), x(i + 1, j + 1), x(i, j + 1)};
    const double py[4] = {y(i, j), y(i + 1, j), y(i + 1, j + 1), y(i, j + 1)};
    double twice = 0.0;
    for (int k = 0; k < 4; ++k) twice += px[k] * py[(k + 1) % 4] - px[(k + 1) % 4] * py[k];
    return std::fabs(twice) / 2.0;
}

/// Summed area of the cells whose four corners have finite x and y.
double occupied_area(const StructuredMeshSurface& s) {
    const Grid2& x = s.shell->x();
    const Grid2& y = s.shell->y();
    auto present = [&](std::size_t i, std::size_t j) { return std::isfinite(x(i, j)) && std::isfinite(y(i, j)); };
    double total = 0.0;
    for (std::size_t i = 0; i + 1 < s.ncol(); ++i)
        for (std::size_t j = 0; j + 1 < s.nrow(); ++j)
            if (present(i, j) && present(i + 1, j) && present(i + 1, j + 1) && present(i, j + 1))
                total += cell_area(s, i, j);
    return total;
}

double edge_area(const StructuredMeshSurface& s) {
    const auto areas = s.shell->edge().areas();
    return std::accumulate(areas.begin(), areas.end(), 0.0);
}

TEST(StructuredLoad, OutlineFollowsTheOccupiedCells) {
    struct Case {
        std::string name;
        std::string text;
        std::size_t polygons;
        double area;
    };
    // A unit 3 x 3 lattice without its corner (3, 3): three occupied cells.
    std::string clipped;
    for (int j = 1; j <= 3; ++j)
        for (int i = 1; i <= 3; ++i)
            if (!(i == 3 && j == 3)) clipped += indexed_row(i, j, 1, i, j);
    // The same lattice with every z null: occupancy depends on x and y only.
    std::string all_null;
    for (int j = 1; j <= 3; ++j)
        for (int i = 1; i <= 3; ++i) all_null += indexed_row(i, j, 1e30, i, j);
    // Two blocks of cells joined by nothing: two rings.
    std::string two_blocks;
    for (int j = 0; j <= 1; ++j)
        for (int i : {0, 1, 3, 4}) two_blocks += indexed_row(i, j, 1, i, j);
    const Case cases[] = {
        {"clipped corner", clipped, 1, 3.0},
        {"every value null", all_null, 1, 4.0},
        {"two separate blocks", two_blocks, 2, 2.0},
    };
    for (const Case& c : cases) {
        testing::ScratchDir dir;
        auto r = structured_load::load_earthvision_grid(dir.write("grid.ev", c.text));
        ASSERT_TRUE(r) << c.name << ": " << error_text(r);
        EXPECT_EQ(r->shell->edge().size(), c.polygons) << c.name;
        EXPECT_NEAR(edge_area(*r), c.area, 1e-12) << c.name;
        EXPECT_NEAR(occupied_area(*r), c.area, 1e-12) << c.name;
    }
}

TEST(StructuredLoad, NominalLatticeWhenTheNodesFitOne) {
    struct Case {
        std::string name;
        double rotation_deg;
        double dy;       // world step per row along the rotated y axis
        double wobble;   // bend added to every node, growing with i and j
        bool expect_nominal;
    };
    const Case cases[] = {
        {"axis-aligned", 0.0, 50.0, 0.0, true},
        {"rotated", 30.0, 50.0, 0.0, true},
        {"rows running down", 0.0, -50.0, 0.0, true},
        {"within the tolerance", 15.0, 40.0, 1e-6, true},
        {"curvilinear", 0.0, 50.0, 4.0, false},
    };
    const std::size_t ncol = 6, nrow = 5;
    for (const Case& c : cases) {
        const double r = c.rotation_deg * 0.017453292519943295;
        std::string text;
        for (std::size_t j = 0; j < nrow; ++j)
            for (std::size_t i = 0; i < ncol; ++i) {
                const double di = double(i), dj = double(j);
                const double bend = c.wobble * di * dj * dj;
                const double x = 1000.0 + std::cos(r) * 25.0 * di - std::sin(r) * c.dy * dj + bend;
                const double y = 2000.0 + std::sin(r) * 25.0 * di + std::cos(r) * c.dy * dj;
                text += indexed_row(x, y, di + dj, di + 1, dj + 1);
            }
        testing::ScratchDir dir;
        auto s = structured_load::load_earthvision_grid(dir.write("grid.ev", text));
        ASSERT_TRUE(s) << c.name << ": " << error_text(s);
        ASSERT_EQ(s->shell->nominal().has_value(), c.expect_nominal) << c.name;
        if (!c.expect_nominal) continue;
        const GridGeometry& g = *s->shell->nominal();
        EXPECT_EQ(g.ncol, ncol) << c.name;
        EXPECT_EQ(g.nrow, nrow) << c.name;
        for (std::size_t i = 0; i < ncol; ++i)
            for (std::size_t j = 0; j < nrow; ++j) {
                const auto [gx, gy] = g.node_xy(i, j);
                EXPECT_NEAR(gx, s->shell->x()(i, j), 1e-3) << c.name << " node " << i << "," << j;
                EXPECT_NEAR(gy, s->shell->y()(i, j), 1e-3) << c.name << " node " << i << "," << j;
            }
    }
}

/// Every non-null node of the file, as the point reader gives it, sits at its
/// own (column, row) shifted to start at 0.
void expect_points_in_place(const StructuredMeshSurface& s, const std::filesystem::path& path) {
    auto points = earthvision::read_points(path);
    ASSERT_TRUE(points) << error_text(points);
    const auto* columns = &points->attributes.at("column");
    const auto* rows = &points->attributes.at("row");
    double cmin = *std::min_element(columns->begin(), columns->end());
    double rmin = *std::min_element(rows->begin(), rows->end());
    for (std::size_t k = 0; k < points->points.size(); ++k) {
        const auto i = static_cast<std::size_t>((*columns)[k] - cmin);
        const auto j = static_cast<std::size_t>((*rows)[k] - rmin);
        ASSERT_LT(i, s.ncol());
        ASSERT_LT(j, s.nrow());
        EXPECT_EQ(s.shell->x()(i, j), points->points[k][0]) << "node " << k;
        EXPECT_EQ(s.shell->y()(i, j), points->points[k][1]) << "node " << k;
        EXPECT_EQ(s.values(i, j), points->points[k][2]) << "node " << k;
    }
}

TEST(StructuredLoad, RealExports) {
    struct Case {
        const char* file;
        std::size_t ncol, nrow;
        std::size_t present;  // nodes with finite x and y
    };
    const Case cases[] = {
        {"earthvision/resinsight_small_flipped_clipped.ptl", 3, 3, 8},
        {"earthvision/resinsight_norne_test.ptl", 93, 37, 93 * 37},
    };
    for (const Case& c : cases) {
        VZ_SHARED_OR_SKIP(path, c.file);
        auto s = structured_load::load_earthvision_grid(path);
        ASSERT_TRUE(s) << c.file << ": " << error_text(s);
        EXPECT_EQ(s->ncol(), c.ncol) << c.file;
        EXPECT_EQ(s->nrow(), c.nrow) << c.file;
        std::size_t present = 0;
        for (double v : s->shell->x().values()) present += std::isfinite(v) ? 1 : 0;
        EXPECT_EQ(present, c.present) << c.file;
        expect_points_in_place(*s, path);
        EXPECT_EQ(s->shell->edge().size(), 1u) << c.file;
        EXPECT_NEAR(edge_area(*s), occupied_area(*s), 1e-6 * occupied_area(*s)) << c.file;
        EXPECT_EQ(s->history.entries(),
                  std::vector<std::string>{"structured_surface.load_earthvision_grid(path=" + path.string() + ")"});
    }
}

TEST(StructuredLoad, ClippedExportLeavesItsMissingCornerAbsent) {
    VZ_SHARED_OR_SKIP(path, "earthvision/resinsight_small_flipped_clipped.ptl");
    auto s = structured_load::load_earthvision_grid(path);
    ASSERT_TRUE(s) << error_text(s);
    EXPECT_TRUE(std::isnan(s->shell->x()(2, 2)));
    EXPECT_TRUE(std::isnan(s->shell->y()(2, 2)));
    EXPECT_TRUE(std::isnan(s->values(2, 2)));
    // Column 2, row 3 of the file.
    EXPECT_EQ(s->shell->x()(1, 2), 455680.31);
    EXPECT_EQ(s->shell->y()(1, 2), 7321061.0);
    EXPECT_EQ(s->values(1, 2), -2577.1101);
}

}  // namespace
}  // namespace vz
