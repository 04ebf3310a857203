#include <gtest/gtest.h>

#include <string>

#include "io/wellpath.hpp"
#include "io_test_util.hpp"

namespace vz {
namespace {

const std::string kRow11 = "100 1 2 3 4 5 6 7 8 9 10\n";

TEST(Wellpath, HeaderNumber) {
    struct Case {
        const char* header;
        std::optional<double> value;
    };
    const Case cases[] = {
        {"WELL HEAD X-COORDINATE: 812.5 (m)", 812.5},
        {"DATUM: KB 30.5", 30.5},
        {"Datum KB = 25", 25},
        {"Datum KB = 25m", 25},
        {"WELL HEAD X/Y: 10 20", 10},
        {"a: 1 : b", std::nullopt},
        {"x: (m)", std::nullopt},
        {"x: -12.5e", -12.5},
    };
    for (const auto& c : cases) EXPECT_EQ(wellpath::header_number(c.header), c.value) << c.header;
}

TEST(Wellpath, ReadFile) {
    testing::ScratchDir dir;
    const std::string file =
        "# WELL TRACE FROM PETREL\n"
        "# WELL HEAD X-COORDINATE: 812.5 (m)\n"
        "# WELL HEAD Y-COORDINATE: 900 (m)\n"
        "# Datum KB = 25m\n"
        "# CRS: ED50 / UTM zone 31N\n"
        "# projection UTM other\n"
        "=====================\n"
        "  MD X Y Z TVD DX DY AZIM INCL DLS X\n"
        "0 812.5 900 25 0 0 0 0 0 0 0\n"
        "1 2 3 4 5 6 7 8 9 10\n"              // ten numbers: ignored
        "1 2 3 4 5 6 7 8 9 10 abc 12\n"      // a word: ignored
        "\t100 813 901 x5 -75 1 1 45 2.5 0 10.5 extra\n"  // a word: ignored
        "100 813 901 -50 -75 1 1 45 2.5 0 10.5 12\n";
    auto r = wellpath::read_file(dir.write("w.wellpath", file));
    ASSERT_TRUE(r) << r.error().display();
    EXPECT_EQ(r->head_x, 812.5);
    EXPECT_EQ(r->head_y, 900);
    EXPECT_EQ(r->kb, 25);
    EXPECT_EQ(r->crs, "CRS: ED50 / UTM zone 31N");
    ASSERT_EQ(r->rows.size(), 2u);
    EXPECT_EQ(r->rows[0], (std::array<double, 6>{0, 812.5, 900, 0, 0, 0}));
    EXPECT_EQ(r->rows[1], (std::array<double, 6>{100, 813, 901, -75, 2.5, 10.5}));
}

TEST(Wellpath, MissingHeadersOrRows) {
    struct Case {
        const char* name;
        std::string content;
    };
    const Case cases[] = {
        {"no rows", "# WELL HEAD X: 1\n# WELL HEAD Y: 2\n# DATUM KB: 3\n"},
        {"no kb", "# WELL HEAD X: 1\n# WELL HEAD Y: 2\n# DATUM: 3\n" + kRow11},
        {"x/y line sets x only", "# WELL HEAD X/Y: 1 2\n# DATUM KB: 3\n" + kRow11},
        {"second x unreadable", "# WELL HEAD X: 1\n# WELL HEAD X: none\n# WELL HEAD Y: 2\n# DATUM KB: 3\n" + kRow11},
        {"truncated file", "# WELL HEAD X: 1\n# WELL HEAD Y: 2\n# DAT"},
        {"empty", ""},
    };
    for (const auto& c : cases) {
        testing::ScratchDir dir;
        auto p = dir.write("w.wellpath", c.content);
        auto r = wellpath::read_file(p);
        ASSERT_FALSE(r) << c.name;
        EXPECT_EQ(r.error(), Error::parse("wellpath '" + p.string() +
                                          "': missing wellhead X/Y / KB header or no survey rows"))
            << c.name;
    }
    testing::ScratchDir dir;
    auto ok = wellpath::read_file(dir.write("w", "# WELL HEAD X: 1\n# WELL HEAD Y: 2\n# DATUM KB: 3\n" + kRow11));
    ASSERT_TRUE(ok);
    EXPECT_EQ(ok->crs, std::nullopt);
    auto missing = wellpath::read_file(dir.path("absent"));
    ASSERT_FALSE(missing);
    EXPECT_EQ(missing.error().kind(), ErrorKind::Io);
}

}  // namespace
}  // namespace vz
