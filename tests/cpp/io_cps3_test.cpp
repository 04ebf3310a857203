#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>

#include "io/cps3.hpp"
#include "io_test_util.hpp"

namespace vz {
namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double N = -1e300;  // stands for NaN in expectation tables

std::vector<double> row_major(const Grid2& g) {
    std::vector<double> out;
    for (std::size_t j = 0; j < g.nrow(); ++j)
        for (std::size_t i = 0; i < g.ncol(); ++i) out.push_back(std::isnan(g(i, j)) ? N : g(i, j));
    return out;
}

TEST(Cps3Grid, Read) {
    struct Case {
        const char* name;
        std::string content;
        GridGeometry geom;
        std::vector<double> values;  // row-major, N for NaN
    };
    const Case cases[] = {
        {"full header",
         "FFASCI 0 1 \"COLUMN\" GRID 2\nFSASCI 0 1 COMPUTED 0 -999\nFSATTR 0 0\nFSLIMI 0 100 10 20 -5 5\n"
         "FSNROW 2 3\nFSXINC 50 10\n->Default\n1 2 -999\n4 -999.0000001 -998\n",
         {0, 10, 50, 10, 3, 2, 0, false},
         {1, 2, N, 4, N, -998}},
        {"fallback increments and padding", "FSNROW 3.9 5\nFSLIMI 0 100 0 10\n->\n1 2 3 4 5 6\n",
         {0, 0, 25, 5, 5, 3, 0, false},
         {1, 2, 3, 4, 5, 6, N, N, N, N, N, N, N, N, N}},
        {"single column and zero fsxinc", "FSNROW 2 1\nFSLIMI 7 7 0 10\nFSXINC 0 10\n->\n1 2\n",
         {7, 0, 1, 10, 1, 2, 0, false},
         {1, 2}},
        {"default null and skipped tokens", "FSLIMI 0 1 0 1\nFSNROW 1 4\n->\n1e30 1.0000000001e30 1.5x -1e29\n7\n",
         {0, 0, 1.0 / 3.0, 1, 4, 1, 0, false},
         {N, N, N, 7}},
        {"header keywords after the arrow are values", "FSNROW 1 3\nFSLIMI 0 2 0 0\n->\nFSASCI 5\n# 6\n7 8\n",
         {0, 0, 1, 1, 3, 1, 0, false},
         {5, 6, 7}},
        {"surplus values ignored", "FSNROW 1 2\nFSLIMI 0 1 0 0\n->\n1 2 3 4 5\n", {0, 0, 1, 1, 2, 1, 0, false}, {1, 2}},
        {"later keyword wins, short lines ignored", "FSNROW 9 9\nFSNROW 1 2\nFSLIMI 0 4 0 0\nFSLIMI 1 2 3\n"
         "FSXINC 3\n->\n1 2\n", {0, 0, 4, 1, 2, 1, 0, false}, {1, 2}},
    };
    for (const auto& c : cases) {
        testing::ScratchDir dir;
        auto r = cps3::read_grid(dir.write("g.cps3grid", c.content));
        ASSERT_TRUE(r) << c.name << ": " << r.error().display();
        EXPECT_EQ(r->geom, c.geom) << c.name;
        EXPECT_EQ(row_major(r->values), c.values) << c.name;
    }
}

TEST(Cps3Grid, Failures) {
    struct Case {
        const char* name;
        std::string content;
        std::string message;
    };
    const Case cases[] = {
        {"no fsnrow", "FSLIMI 0 1 0 1\n->\n1\n", "CPS-3 grid: missing FSNROW"},
        {"fsnrow one number", "FSNROW 3\nFSLIMI 0 1 0 1\n", "CPS-3 grid: missing FSNROW"},
        {"fsnrow after arrow", "FSLIMI 0 1 0 1\n->\nFSNROW 2 2\n", "CPS-3 grid: missing FSNROW"},
        {"fslimi three numbers", "FSNROW 2 2\nFSLIMI 1 2 3\n", "CPS-3 grid: missing FSLIMI"},
        {"zero rows", "FSNROW 0 5\nFSLIMI 0 1 0 1\n", "CPS-3 grid: zero node count"},
        {"negative rows", "FSNROW -1 2\nFSLIMI 0 1 0 1\n", "CPS-3 grid: zero node count"},
        {"nan rows", "FSNROW nan 2\nFSLIMI 0 1 0 1\n", "CPS-3 grid: zero node count"},
        {"overflow", "FSNROW 1e300 2\nFSLIMI 0 1 0 1\n", "CPS-3 grid: nrow*ncol overflows"},
        {"lying header", "FSNROW 100000 100000\nFSLIMI 0 1 0 1\n->\n1 2 3\n",
         "CPS-3 grid: 10000000000 nodes is more than the file can describe"},
        {"empty", "", "CPS-3 grid: missing FSNROW"},
    };
    for (const auto& c : cases) {
        testing::ScratchDir dir;
        auto r = cps3::read_grid(dir.write("g.cps3grid", c.content));
        ASSERT_FALSE(r) << c.name;
        EXPECT_EQ(r.error(), Error::parse(c.message)) << c.name << ": " << r.error().display();
    }
    testing::ScratchDir dir;
    EXPECT_EQ(cps3::read_grid(dir.path("absent")).error().kind(), ErrorKind::Io);
    EXPECT_EQ(cps3::read_lines(dir.path("absent")).error().kind(), ErrorKind::Io);
}

TEST(Cps3Lines, Read) {
    struct Case {
        const char* name;
        std::string content;
        PolygonRings rings;
    };
    const Case cases[] = {
        {"worked example", "->A\n1 2 3\n4 5 6\n->B\n->C\n7 8 9\n",
         {{{1, 2, 3}, {4, 5, 6}}, {}, {{7, 8, 9}}}},
        {"skipped lines", "1 2 3\nFFASCI 1 2 3\n->\n1 2\n# 1 2 3\nFSX 1 2 3\n 4 5 6 7 \nx 7 y 8 9\n",
         {{{4, 5, 6}, {7, 8, 9}}}},
        {"no arrow", "1 2 3\n", {}},
        {"truncated last line", "->\n1 2 3\n4 5", {{{1, 2, 3}}}},
    };
    for (const auto& c : cases) {
        testing::ScratchDir dir;
        auto r = cps3::read_lines(dir.write("l.cps3lines", c.content));
        ASSERT_TRUE(r) << c.name;
        EXPECT_EQ(*r, c.rings) << c.name;
    }
    EXPECT_EQ(cps3::header_numbers("FSLIMI 1 x 2"), (std::vector<double>{1, 2}));
    EXPECT_EQ(cps3::line_numbers("1 x 2"), (std::vector<double>{1, 2}));
    std::vector<double> v{0};
    cps3::push_values("3 +4", v);
    EXPECT_EQ(v, (std::vector<double>{0, 3, 4}));
    (void)kNaN;
}

// An export-shaped grid and the same file cut off inside its last row.
TEST(Cps3Grid, ExportFixtures) {
    const GridGeometry geom{450000, 6780000, 25, 25, 4, 3, 0, false};
    auto full = cps3::read_grid(testing::fixture("cps3/top_brent.cps3grid"));
    ASSERT_TRUE(full) << full.error().display();
    EXPECT_EQ(full->geom, geom);
    EXPECT_EQ(row_major(full->values),
              (std::vector<double>{-2000.5, -2010.25, -2020, N, -1990, -1995.5, -2001, -2008, -1980, N, -1985, -1990.75}));
    auto cut = cps3::read_grid(testing::fixture("cps3/top_brent_truncated.cps3grid"));
    ASSERT_TRUE(cut) << cut.error().display();
    EXPECT_EQ(cut->geom, geom);
    EXPECT_EQ(row_major(cut->values),
              (std::vector<double>{-2000.5, -2010.25, -2020, N, -1990, -1995.5, -2001, -2008, -1980, N, N, N}));
}

}  // namespace
}  // namespace vz
