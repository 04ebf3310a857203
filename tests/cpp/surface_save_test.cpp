// Saving regular surfaces as IRAP classic grids: what goes out reads back to
// the same lattice and values, only the primary layer is written, and a
// refused or failed save is reported without touching what it should not.

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <limits>
#include <string>
#include <vector>

#include "io/surface_save.hpp"
#include "io/irap.hpp"
#include "io_test_util.hpp"

namespace vz {
namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kInf = std::numeric_limits<double>::infinity();

template <class T>
std::string error_text(const Result<T>& r) {
    return r ? std::string("<ok>") : r.error().display();
}

std::string slurp(const std::filesystem::path& p) {
    std::ifstream f(p, std::ios::binary);
    return {std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>()};
}

/// A surface whose values are given row by row (j outer, i inner), the order
/// a reader sees them in the file.
Surface surface_of(const GridGeometry& g, const std::vector<double>& by_rows) {
    Grid2 values(g.ncol, g.nrow, kNaN);
    for (std::size_t k = 0; k < by_rows.size(); ++k) values(k % g.ncol, k / g.ncol) = by_rows[k];
    auto s = Surface::make(g, std::move(values));
    EXPECT_TRUE(s) << error_text(s);
    return *std::move(s);
}

/// Same double, NaN matching NaN and the sign of zero kept.
bool same_bits(double a, double b) {
    if (std::isnan(a) || std::isnan(b)) return std::isnan(a) && std::isnan(b);
    return a == b && std::signbit(a) == std::signbit(b);
}

TEST(SurfaceSave, ReadsBackTheSameGridAndValues) {
    struct Case {
        const char* name;
        GridGeometry geom;
        std::vector<double> values;  // by rows
        std::vector<double> expect;  // by rows, as read back
    };
    const GridGeometry plain{1000, 2000, 25, 25, 3, 2, 0, false};
    const Case cases[] = {
        {"plain with a null node", plain, {1, 2, 3, 4, kNaN, 6.5}, {1, 2, 3, 4, kNaN, 6.5}},
        {"rows running down", {1000, 2000, 25, 25, 3, 2, 0, true}, {1, 2, 3, 4, 5, 6}, {1, 2, 3, 4, 5, 6}},
        {"rotated, fractional steps and origin", {456789.125, -7321154.5, 12.5, 0.1, 2, 3, -65.25, false},
         {0.1, -0.0, 1e-7, 9876543.21, -2596.739, -1e21},
         {0.1, -0.0, 1e-7, 9876543.21, -2596.739, -1e21}},
        {"undefined marker and above read back as null", plain, {9999899.5, 9999900, 1e7, kInf, -kInf, -9999900},
         {9999899.5, kNaN, kNaN, kNaN, -kInf, -9999900}},
        {"seven nodes on one row", {0, 0, 1, 1, 7, 1, 0, false}, {1, 2, 3, 4, 5, 6, 7}, {1, 2, 3, 4, 5, 6, 7}},
        {"no columns", {5, 6, 1, 2, 0, 4, 0, false}, {}, {}},
        {"no rows", {5, 6, 1, 2, 3, 0, 10, true}, {}, {}},
    };
    for (const Case& c : cases) {
        testing::ScratchDir dir;
        const auto path = dir.path("grid.irap");
        const Surface surface = surface_of(c.geom, c.values);
        auto saved = surface_save::save_irap_classic(surface, path);
        ASSERT_TRUE(saved) << c.name << ": " << error_text(saved);
        auto back = irap::read_classic(path);
        ASSERT_TRUE(back) << c.name << ": " << error_text(back);
        EXPECT_EQ(back->geom, c.geom) << c.name;
        ASSERT_EQ(back->values.ncol(), c.geom.ncol) << c.name;
        ASSERT_EQ(back->values.nrow(), c.geom.nrow) << c.name;
        for (std::size_t k = 0; k < c.expect.size(); ++k) {
            const std::size_t i = k % c.geom.ncol, j = k / c.geom.ncol;
            EXPECT_TRUE(same_bits(back->values(i, j), c.expect[k]))
                << c.name << " node " << i << "," << j << ": " << back->values(i, j);
        }
    }
}

TEST(SurfaceSave, WritesTheFileText) {
    struct Case {
        const char* name;
        GridGeometry geom;
        std::vector<double> values;
        std::string text;
    };
    const Case cases[] = {
        {"3 x 2 with a null node", {1000, 2000, 25, 25, 3, 2, 0, false}, {1, 2, 3, 4, kNaN, 6.5},
         "-996 2 25 25\n1000 1050 2000 2025\n3 0 1000 2000\n0  0  0  0  0  0  0\n1 2 3 4 9999900 6.5\n"},
        {"rows running down", {1000, 2000, 25, 25, 3, 2, 0, true}, {1, 2, 3, 4, kNaN, 6.5},
         "-996 2 25 -25\n1000 1050 2000 2025\n3 0 1000 2000\n0  0  0  0  0  0  0\n1 2 3 4 9999900 6.5\n"},
        {"lines of six across rows", {0, 0, 1, 1, 4, 2, 0, false}, {1, 2, 3, 4, 5, 6, 7, 8},
         "-996 2 1 1\n0 3 0 1\n4 0 0 0\n0  0  0  0  0  0  0\n1 2 3 4 5 6\n7 8\n"},
        {"empty lattice", {5, 6, 1, 2, 0, 0, 0, false}, {},
         "-996 0 1 2\n5 5 6 6\n0 0 5 6\n0  0  0  0  0  0  0\n"},
    };
    for (const Case& c : cases) {
        testing::ScratchDir dir;
        const auto path = dir.path("grid.irap");
        auto saved = surface_save::save_irap_classic(surface_of(c.geom, c.values), path);
        ASSERT_TRUE(saved) << c.name << ": " << error_text(saved);
        EXPECT_EQ(slurp(path), c.text) << c.name;
    }
}

TEST(SurfaceSave, WritesOnlyThePrimaryLayerAndLeavesTheSurfaceAlone) {
    const GridGeometry g{10, 20, 5, 5, 2, 2, 0, false};
    Surface with_lane = surface_of(g, {1, 2, 3, 4});
    ASSERT_TRUE(with_lane.set_attr("porosity", Grid2(2, 2, 0.25)));
    const Surface before = with_lane;

    testing::ScratchDir dir;
    ASSERT_TRUE(surface_save::save_irap_classic(with_lane, dir.path("lane.irap")));
    ASSERT_TRUE(surface_save::save_irap_classic(surface_of(g, {1, 2, 3, 4}), dir.path("plain.irap")));
    EXPECT_EQ(slurp(dir.path("lane.irap")), slurp(dir.path("plain.irap")));
    EXPECT_EQ(with_lane.geom, before.geom);
    EXPECT_EQ(with_lane.values, before.values);
    EXPECT_EQ(with_lane.attr_names(), before.attr_names());
    EXPECT_EQ(with_lane.history, before.history);

    auto back = irap::read_classic(dir.path("lane.irap"));
    ASSERT_TRUE(back) << error_text(back);
    EXPECT_TRUE(back->attributes.empty());
}

TEST(SurfaceSave, ReplacesAnExistingLongerFile) {
    testing::ScratchDir dir;
    const auto path = dir.write("grid.irap", std::string(4096, 'x'));
    const GridGeometry g{0, 0, 1, 1, 2, 1, 0, false};
    ASSERT_TRUE(surface_save::save_irap_classic(surface_of(g, {3, 4}), path));
    EXPECT_EQ(slurp(path), "-996 1 1 1\n0 1 0 0\n2 0 0 0\n0  0  0  0  0  0  0\n3 4\n");
}

TEST(SurfaceSave, RefusedSaves) {
    struct Case {
        const char* name;
        Surface surface;
        bool missing_folder;
        ErrorKind kind;
        std::string message;  // empty: the operating system's text
    };
    const GridGeometry g{0, 0, 1, 1, 3, 2, 0, false};
    // Built field by field: a surface whose values disagree with its lattice
    // cannot come out of the validating constructors.
    Surface wrong_shape{g, Grid2(2, 2, 1.0), std::nullopt, {}, History::make("surface.new")};
    Surface transposed{g, Grid2(2, 3, 1.0), std::nullopt, {}, History::make("surface.new")};
    const Case cases[] = {
        {"values smaller than the lattice", wrong_shape, false, ErrorKind::GeometryMismatch,
         "save_irap_classic: values shape [2, 2] != grid (ncol=3, nrow=2)"},
        {"values transposed", transposed, false, ErrorKind::GeometryMismatch,
         "save_irap_classic: values shape [2, 3] != grid (ncol=3, nrow=2)"},
        {"folder does not exist", surface_of(g, {1, 2, 3, 4, 5, 6}), true, ErrorKind::Io, ""},
    };
    for (const Case& c : cases) {
        testing::ScratchDir dir;
        const std::string earlier = "earlier content\n";
        const auto path = c.missing_folder ? dir.path("absent/grid.irap") : dir.write("grid.irap", earlier);
        auto r = surface_save::save_irap_classic(c.surface, path);
        ASSERT_FALSE(r) << c.name;
        EXPECT_EQ(r.error().kind(), c.kind) << c.name << ": " << r.error().display();
        if (!c.message.empty()) {
            EXPECT_EQ(r.error().message(), c.message) << c.name;
        }
        if (c.missing_folder) {
            EXPECT_FALSE(std::filesystem::exists(path)) << c.name;
        } else {
            EXPECT_EQ(slurp(path), earlier) << c.name << ": a refused save must not touch the file";
        }
    }
}

}  // namespace
}  // namespace vz
