#include <fmt/format.h>
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <random>
#include <string>

#include "io/irap.hpp"
#include "io/text.hpp"
#include "io_test_util.hpp"

namespace vz {
namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kInf = std::numeric_limits<double>::infinity();

bool same_bits(double a, double b) { return std::memcmp(&a, &b, sizeof a) == 0 || (std::isnan(a) && std::isnan(b)); }

// Values given row by row (j outer, i inner), as in the file.
Grid2 rows(std::size_t ncol, std::size_t nrow, const std::vector<double>& row_major) {
    Grid2 g(ncol, nrow, -12345.0);
    for (std::size_t j = 0; j < nrow; ++j)
        for (std::size_t i = 0; i < ncol; ++i) g(i, j) = row_major[j * ncol + i];
    return g;
}

const std::string kHeader = "-996 2 25 25\n1000 1050 2000 2025\n3 0 1000 2000\n0  0  0  0  0  0  0\n";

TEST(IrapClassicWriter, WorkedExample) {
    GridGeometry g{1000, 2000, 25, 25, 3, 2, 0, false};
    auto text = irap::classic_text(g, rows(3, 2, {1, 2, 3, 4, kNaN, 6.5}));
    ASSERT_TRUE(text) << text.error().display();
    EXPECT_EQ(*text, kHeader + "1 2 3 4 9999900 6.5\n");

    g.yflip = true;
    auto flipped = irap::classic_text(g, rows(3, 2, {1, 2, 3, 4, kNaN, 6.5}));
    EXPECT_EQ(*flipped, "-996 2 25 -25\n1000 1050 2000 2025\n3 0 1000 2000\n0  0  0  0  0  0  0\n"
                        "1 2 3 4 9999900 6.5\n");
}

TEST(IrapClassicWriter, Layout) {
    struct Case {
        const char* name;
        GridGeometry geom;
        Grid2 values;
        std::string text;
    };
    const Case cases[] = {
        {"seven nodes", {0, 0, 1, 1, 7, 1, 0, false}, rows(7, 1, {1, 2, 3, 4, 5, 6, 7}),
         "-996 1 1 1\n0 6 0 0\n7 0 0 0\n0  0  0  0  0  0  0\n1 2 3 4 5 6\n7\n"},
        {"no columns", {5, 6, 0.1, 2, 0, 3, 30, false}, Grid2(0, 3), "-996 3 0.1 2\n5 5 6 10\n0 30 5 6\n0  0  0  0  0  0  0\n"},
        {"no rows", {5, 6, 0.1, 2, 4, 0, 30, true}, Grid2(4, 0), "-996 0 0.1 -2\n5 5.3 6 6\n4 30 5 6\n0  0  0  0  0  0  0\n"},
        {"number forms", {-0.0, 1e21, 1e-7, 0.5, 2, 2, -65, false}, rows(2, 2, {-0.0, kInf, -kInf, 9999899.5}),
         "-996 2 0.0000001 0.5\n-0 0.0000001 1000000000000000000000 1000000000000000000000\n2 -65 -0 1000000000000000000000\n"
         "0  0  0  0  0  0  0\n-0 inf -inf 9999899.5\n"},
    };
    for (const auto& c : cases) {
        auto t = irap::classic_text(c.geom, c.values);
        ASSERT_TRUE(t) << c.name;
        EXPECT_EQ(*t, c.text) << c.name;
    }
    auto bad = irap::classic_text(GridGeometry{0, 0, 1, 1, 3, 2, 0, false}, Grid2(2, 3));
    ASSERT_FALSE(bad);
    EXPECT_EQ(bad.error(), Error::geometry_mismatch("save_irap_classic: values shape [2, 3] != grid (ncol=3, nrow=2)"));
}

TEST(IrapClassic, RoundTrip) {
    testing::ScratchDir dir;
    std::mt19937_64 rng(7);
    std::uniform_real_distribution<double> d(-5000, 5000);
    for (auto [nc, nr, flip] : {std::tuple{13u, 7u, false}, {1u, 1u, true}, {6u, 5u, true}, {0u, 4u, false}}) {
        GridGeometry g{461234.125, 5931000.5, 12.5, 7.25, nc, nr, 30.000000000000004, flip};
        Grid2 v(nc, nr);
        for (double& x : v.data()) x = d(rng);
        if (nc * nr > 3) v.data()[1] = kNaN, v.data()[2] = -kInf, v.data()[3] = -0.0;
        auto p = dir.path("g.irap");
        ASSERT_TRUE(irap::write_classic(p, g, v));
        auto back = irap::read_classic(p);
        ASSERT_TRUE(back) << back.error().display();
        EXPECT_EQ(back->geom, g);
        ASSERT_EQ(back->values.ncol(), nc);
        ASSERT_EQ(back->values.nrow(), nr);
        for (std::size_t k = 0; k < v.size(); ++k) EXPECT_TRUE(same_bits(back->values.data()[k], v.data()[k])) << k;
        EXPECT_TRUE(back->attributes.empty());
    }
    auto unwritable = irap::write_classic(dir.path("no/such/dir/g.irap"), GridGeometry{}, Grid2());
    ASSERT_FALSE(unwritable);
    EXPECT_EQ(unwritable.error().kind(), ErrorKind::Io);
}

// A NUL inside the path would cut it short at the operating system and
// truncate whatever file the prefix names; the writer refuses it instead.
TEST(IrapClassic, WriteRefusesPathWithNul) {
    testing::ScratchDir dir;
    const auto kept = dir.write("g.irap", "keep me");
    using namespace std::string_literals;
    const std::filesystem::path nul(kept.string() + "\0.tmp"s);
    auto r = irap::write_classic(nul, GridGeometry{0, 0, 1, 1, 1, 1, 0, false}, Grid2(1, 1, 5.0));
    ASSERT_FALSE(r);
    EXPECT_EQ(r.error(), Error::io("path contains a NUL character: '" + kept.string() + "\\0.tmp'"));
    auto left = text::read_file(kept);
    ASSERT_TRUE(left);
    EXPECT_EQ(*left, "keep me");
}

TEST(IrapClassic, ReadValues) {
    testing::ScratchDir dir;
    auto r = irap::read_classic(dir.write(
        "g.irap", "-996 +2 -25 -25 7 -3e9 1 2\n3 -65 1000 2000 0 0 0 0 0 0 0\n9999900 inf -9999900\n"
                  "-inf 1e300 NaN 77 extra tokens"));
    ASSERT_TRUE(r) << r.error().display();
    EXPECT_EQ(r->geom, (GridGeometry{1000, 2000, 25, 25, 3, 2, -65, true}));
    const auto& v = r->values;
    EXPECT_TRUE(std::isnan(v(0, 0)));
    EXPECT_TRUE(std::isnan(v(1, 0)));
    EXPECT_EQ(v(2, 0), -9999900);
    EXPECT_EQ(v(0, 1), -kInf);
    EXPECT_TRUE(std::isnan(v(1, 1)));
    EXPECT_TRUE(std::isnan(v(2, 1)));

    auto zero = irap::read_classic(dir.write("z.irap", "-996 0 1 -0 0 0 0 0 5 0 1 2 0 0 0 0 0 0 0"));
    ASSERT_TRUE(zero) << zero.error().display();
    EXPECT_EQ(zero->values.size(), 0u);
    EXPECT_FALSE(zero->geom.yflip);
}

TEST(IrapClassic, ReadFailures) {
    const std::string head = "-996 2 25 25 0 0 0 0 3 0 1000 2000 ";
    struct Case {
        const char* name;
        std::string content;
        std::string message;
    };
    const Case cases[] = {
        {"whitespace only", " \n\t\xA0", "IRAP classic: empty file"},
        {"ends after id", "-996\n", "IRAP classic: missing nrow"},
        {"float id", "-996.0 2", "IRAP classic: bad id flag '-996.0': invalid digit found in string"},
        {"other id", "+995 2", "IRAP classic: expected id -996, got 995"},
        {"id too large", "9223372036854775808", "IRAP classic: bad id flag '9223372036854775808': number too large to fit in target type"},
        {"id too small", "-9223372036854775809", "IRAP classic: bad id flag '-9223372036854775809': number too small to fit in target type"},
        {"float nrow", "-996 5.0", "IRAP classic: bad nrow '5.0': invalid digit found in string"},
        {"negative nrow", "-996 -5", "IRAP classic: bad nrow '-5': invalid digit found in string"},
        {"nrow too large", "-996 18446744073709551616", "IRAP classic: bad nrow '18446744073709551616': number too large to fit in target type"},
        {"bad xinc", "-996 2 abc", "IRAP classic: bad xinc 'abc': invalid float literal"},
        {"bad latin-1 token", "-996 2 1 2 3 4 5 6 x\xE9", "IRAP classic: bad ncol 'x\xC3\xA9': invalid digit found in string"},
        {"ends in reserved block", head + "0 0 0", "IRAP classic: missing reserved value"},
        {"too few values", head + "0 0 0 0 0 0 0 1 2 3 4 5", "IRAP classic: missing grid value"},
        {"bad value", head + "0 0 0 0 0 0 0 1 2 x 4 5 6", "IRAP classic: bad grid value 'x': invalid float literal"},
        {"overflow", "-996 4294967296 1 1 0 0 0 0 4294967296 0 0 0 0 0 0 0 0 0 0", "IRAP classic: ncol*nrow overflows"},
        // A header promising far more nodes than the file holds ends in the
        // missing-value error, never in a huge allocation.
        {"lying header", "-996 4000000000 1 1 0 0 0 0 4000000000 0 0 0 0 0 0 0 0 0 0 1 2 3", "IRAP classic: missing grid value"},
        {"lying header bad value", "-996 4000000000 1 1 0 0 0 0 4000000000 0 0 0 0 0 0 0 0 0 0 1 y", "IRAP classic: bad grid value 'y': invalid float literal"},
    };
    for (const auto& c : cases) {
        testing::ScratchDir dir;
        auto r = irap::read_classic(dir.write("g.irap", c.content));
        ASSERT_FALSE(r) << c.name;
        EXPECT_EQ(r.error(), Error::parse(c.message)) << c.name << ": " << r.error().display();
    }
    testing::ScratchDir dir;
    auto missing = irap::read_classic(dir.path("absent.irap"));
    ASSERT_FALSE(missing);
    EXPECT_EQ(missing.error().kind(), ErrorKind::Io);
}

// Every grid value token reads as the readers' number syntax reads it, and a
// bad one is reported with its text whether it stands alone or among good
// ones.
TEST(IrapClassic, GridValueTokensReadAsTheNumberSyntax) {
    const char* tokens[] = {"1", "-2.5", "+5", ".5", "5.", "1e5", "1E-5", "+.5e+3", "inf", "-INF", "Infinity",
                            "nan", "-NaN", "9999900", "9999899.9", "1e400", "-1e400", "1e-400", "0.1",
                            "123456789012345678901234567890", "-0", "00012", "4.9e-324"};
    std::string body;
    for (const char* t : tokens) body += std::string(t) + (body.size() % 3 == 0 ? "\n" : " \t");
    const std::string head = "-996 1 1 1 0 0 0 0 " + std::to_string(std::size(tokens)) + " 0 0 0 0 0 0 0 0 0 0\n";
    testing::ScratchDir dir;
    auto r = irap::read_classic(dir.write("g.irap", head + body));
    ASSERT_TRUE(r) << r.error().display();
    for (std::size_t k = 0; k < std::size(tokens); ++k) {
        double want = *text::parse_number(tokens[k]);
        if (want >= 9999900.0) want = kNaN;
        EXPECT_TRUE(same_bits(r->values(k, 0), want)) << tokens[k] << " read as " << r->values(k, 0);
    }

    const char* bad[] = {"1.5x", "1,5", "0x10", "nan(1)", ".", "e5", "--1", "1e", "+-1", "\x85" "5"};
    for (const char* b : bad) {
        for (const std::string& before : {std::string(), std::string("1 2 ")}) {
            const std::string text = "-996 1 1 1 0 0 0 0 4 0 0 0 0 0 0 0 0 0 0\n" + before + b + " 7 8 9";
            auto bad_read = irap::read_classic(dir.write("b.irap", text));
            if (std::string_view(b) == "\x85" "5") {
                // 0x85 is white space: the token is "5" and the file reads.
                ASSERT_TRUE(bad_read) << bad_read.error().display();
                continue;
            }
            ASSERT_FALSE(bad_read) << b;
            EXPECT_EQ(bad_read.error(), Error::parse(fmt::format("IRAP classic: bad grid value '{}': invalid float literal",
                                                                 text::decode_latin1(b))))
                << bad_read.error().display();
        }
    }
}

// A grid file cut short anywhere fails with a message (or, past the last
// value, reads whole).
TEST(IrapClassic, EveryPrefixReadsOrFails) {
    GridGeometry g{10, 20, 1, 2, 3, 2, 0, true};
    auto text = irap::classic_text(g, rows(3, 2, {1, 2, 3, 4, kNaN, 6}));
    ASSERT_TRUE(text);
    for (std::size_t n = 0; n <= text->size(); ++n) {
        testing::ScratchDir dir;
        auto r = irap::read_classic(dir.write("g.irap", text->substr(0, n)));
        if (n >= text->size() - 1) {
            ASSERT_TRUE(r) << n << ": " << r.error().display();
            EXPECT_EQ(r->geom, g);
        } else if (!r) {
            EXPECT_EQ(r.error().kind(), ErrorKind::Parse) << n;
        } else {
            // Cut inside the last value: "6" is complete only at the end, but a
            // cut value such as "9999" for "9999900" still parses.
            EXPECT_EQ(r->geom, g) << n;
        }
    }
}

TEST(IrapClassic, SharedSamples) {
    struct Case {
        const char* file;
        const char* error;  // nullptr: reads
        std::uint64_t ncol, nrow;
        double rotation;
    };
    const Case cases[] = {
        {"resdata_valid_rotm65.irap", nullptr, 49, 79, -65},
        {"resdata_small_30x20_rotm65.irap", nullptr, 30, 20, -65},
        {"resdata_header_xinc_inconsistent.irap", nullptr, 49, 79, -65},
        {"resinsight_volantis_rot30.irap", nullptr, 280, 440, 30},
        {"resdata_BROKEN_too_many_values.irap", nullptr, 49, 79, -65},
        {"resdata_BROKEN_too_few_values.irap", "IRAP classic: missing grid value", 0, 0, 0},
    };
    for (const auto& c : cases) {
        auto p = testing::shared_data(std::string("irap_grid/") + c.file);
        if (p.empty()) GTEST_SKIP() << "shared samples absent";
        auto r = irap::read_classic(p);
        if (c.error) {
            ASSERT_FALSE(r) << c.file;
            EXPECT_EQ(r.error(), Error::parse(c.error)) << c.file;
            continue;
        }
        ASSERT_TRUE(r) << c.file << ": " << r.error().display();
        EXPECT_EQ(r->geom.ncol, c.ncol) << c.file;
        EXPECT_EQ(r->geom.nrow, c.nrow) << c.file;
        EXPECT_EQ(r->geom.rotation_deg, c.rotation) << c.file;
        // Written back and read again, the grid is unchanged.
        testing::ScratchDir dir;
        ASSERT_TRUE(irap::write_classic(dir.path("back.irap"), r->geom, r->values));
        auto again = irap::read_classic(dir.path("back.irap"));
        ASSERT_TRUE(again);
        EXPECT_EQ(again->geom, r->geom) << c.file;
        for (std::size_t k = 0; k < r->values.size(); ++k)
            ASSERT_TRUE(same_bits(again->values.data()[k], r->values.data()[k])) << c.file << " " << k;
    }
}

TEST(XyzLine, Parse) {
    struct Case {
        std::string line;
        std::optional<std::array<double, 3>> row;
        std::string error;  // non-empty: expected message
    };
    const Case cases[] = {
        {"1 2 3", std::array<double, 3>{1, 2, 3}, ""},
        {" 4,5,,6 extra ", std::array<double, 3>{4, 5, 6}, ""},
        {"# 1 2 3", std::nullopt, ""},
        {"!x", std::nullopt, ""},
        {"   ", std::nullopt, ""},
        {"1 2", std::nullopt, "XYZ: missing z in '1 2'"},
        {" 1 two 3 ", std::nullopt, "XYZ: bad y 'two': invalid float literal"},
        {"1\xC2\xA0" "2\xE2\x80\x83" "3", std::array<double, 3>{1, 2, 3}, ""},  // no-break and em space
    };
    for (const auto& c : cases) {
        auto r = xyz::parse_line(c.line);
        if (!c.error.empty()) {
            ASSERT_FALSE(r) << c.line;
            EXPECT_EQ(r.error(), Error::parse(c.error)) << c.line;
        } else {
            ASSERT_TRUE(r) << c.line << ": " << r.error().display();
            EXPECT_EQ(*r, c.row) << c.line;
        }
    }
}

TEST(IrapPoints, Read) {
    testing::ScratchDir dir;
    auto r = irap::read_points(dir.write("p.xyz", "# caf\xE9\n1 2 3\r\n999 999 999\n4,5,6\n999.0000001 0 0\n"));
    ASSERT_TRUE(r) << r.error().display();
    EXPECT_EQ(r->points, (std::vector<std::array<double, 3>>{{1, 2, 3}, {4, 5, 6}, {999.0000001, 0, 0}}));
    EXPECT_TRUE(r->attributes.empty());

    auto bad = irap::read_points(dir.write("b.xyz", "1 2 3\n" + std::string(500, '\n') + "4 5\n"));
    ASSERT_FALSE(bad);
    EXPECT_EQ(bad.error(), Error::parse("XYZ: missing z in '4 5'"));
}

TEST(IrapPoints, RefusesForeignFormats) {
    struct Case {
        const char* name;
        std::string content;
        const char* kind;  // nullptr: not refused by the sniff
    };
    std::string sixty;
    for (int i = 0; i < 60; ++i) sixty += "1 2 3\n";
    const Case cases[] = {
        {"las on line three", "1 2 3\n\n~Version\n", "LAS"},
        {"arrow", "-> fault\n", "CPS-3"},
        {"lower-case fsnrow", "fsnrow 2 3\n", "CPS-3"},
        {"ffattr", "FFATTR x\n", "CPS-3"},
        {"grid_space anywhere", "1 2 3 # grid_space\n", "EarthVision grid"},
        {"field comment", "# Field: x\n", "EarthVision grid"},
        {"field without hash", "Field: x\n", nullptr},
        {"las on line 61", sixty + "~A\n", nullptr},
    };
    for (const auto& c : cases) {
        testing::ScratchDir dir;
        auto p = dir.write("p.xyz", c.content);
        auto r = irap::read_points(p);
        ASSERT_FALSE(r) << c.name;
        if (c.kind) {
            EXPECT_EQ(r.error(), Error::format("IRAP points reader: '" + p.string() + "' looks like " + c.kind +
                                               ", not plain X Y Z \xE2\x80\x94 use the " + c.kind + " reader"))
                << c.name;
        } else {
            EXPECT_EQ(r.error().kind(), ErrorKind::Parse) << c.name << ": " << r.error().display();
        }
    }
}

TEST(IrapPolygons, Read) {
    testing::ScratchDir dir;
    auto r = irap::read_polygons(dir.write("p.pol", "999 0 0\n1 2 3\n4 5 6\n7 8 9\n999 0 0\n999 0 0\n\n"
                                                    "1 1 1\n2 2 2\n3\xC2\xA0" "3 3\n"));
    ASSERT_TRUE(r) << r.error().display();
    const PolygonRings expected{{{1, 2, 3}, {4, 5, 6}, {7, 8, 9}}, {{1, 1, 1}, {2, 2, 2}, {3, 3, 3}}};
    EXPECT_EQ(*r, expected);

    auto latin1 = dir.write("l.pol", "# caf\xE9\n1 2 3\n");
    auto bad = irap::read_polygons(latin1);
    ASSERT_FALSE(bad);
    EXPECT_EQ(bad.error(), Error::io("'" + latin1.string() + "': stream did not contain valid UTF-8"));
    EXPECT_TRUE(irap::read_points(latin1));

    auto truncated = irap::read_polygons(dir.write("t.pol", "1 2 3\n4 5 6\n7 8"));
    ASSERT_FALSE(truncated);
    EXPECT_EQ(truncated.error(), Error::parse("XYZ: missing z in '7 8'"));
}

TEST(PointData, AttachTopology) {
    PointColumns topo;
    for (int k = 0; k < 6; ++k) topo.points.push_back({double(k), double(10 * k), -double(k)});
    topo.attributes.insert({"z_extra", {9, 9, 9, 9, 9, 9}});
    topo.attributes.insert({" COL", {0, 1, 2, 0, 1, 2}});
    topo.attributes.insert({"Row", {0, 0, 0, 1, 1, kNaN}});

    PointColumns every_other;
    every_other.points = {{0, 0, 0}, {2.0005, 20, -2}, {4, 10 * 4, -4}};
    every_other.attributes.insert({"row", {7, 7, 7}});
    auto r = point_data::attach_topology(every_other, topo, 1e-3);
    ASSERT_TRUE(r) << r.error().display();
    std::vector<std::string> names;
    for (const auto& [k, v] : r->attributes) names.push_back(k);
    EXPECT_EQ(names, (std::vector<std::string>{"row", "column"}));
    EXPECT_EQ(r->attributes.at("column"), (std::vector<double>{0, 2, 1}));
    EXPECT_EQ(r->attributes.at("row"), (std::vector<double>{0, 0, 1}));

    PointColumns reversed;
    reversed.points = {{4, 40, -4}, {0, 0, 0}};
    auto rev = point_data::attach_topology(reversed, topo, 1e-3);
    ASSERT_FALSE(rev);
    EXPECT_EQ(rev.error(),
              Error::geometry_inference("IRAP points are not an ordered subset of the topology point export"));

    PointColumns nan_point;
    nan_point.points = {{kNaN, 0, 0}};
    EXPECT_FALSE(point_data::attach_topology(nan_point, topo, 1e-3));

    auto empty = point_data::attach_topology(PointColumns{}, topo, 1e-3);
    ASSERT_TRUE(empty);
    EXPECT_TRUE(empty->attributes.at("column").empty());
    EXPECT_TRUE(empty->attributes.at("row").empty());

    PointColumns no_col = topo;
    no_col.attributes.erase(" COL");
    EXPECT_EQ(point_data::attach_topology(PointColumns{}, no_col, 1e-3).error(),
              Error::geometry_inference("topology point set does not contain a column attribute"));
    PointColumns no_row = topo;
    no_row.attributes.erase("Row");
    EXPECT_EQ(point_data::attach_topology(PointColumns{}, no_row, 1e-3).error(),
              Error::geometry_inference("topology point set does not contain a row attribute"));
    EXPECT_EQ(point_data::normalize_attr_name("  Node Column-Id "), "node_column_id");
}

TEST(IrapPoints, SharedSamples) {
    struct Case {
        const char* file;
        std::size_t points;
    };
    const Case cases[] = {
        {"resinsight_tiny_space.dat", 15},     {"resinsight_tiny_tabs.dat", 15}, {"xtgeo_emerald_1000.poi", 1000},
        {"xtgeo_pointset2.poi", 30},           {"xtgeo_twocell_999_terminated.poi", 2},
    };
    for (const auto& c : cases) {
        auto p = testing::shared_data(std::string("points_xyz/") + c.file);
        if (p.empty()) GTEST_SKIP() << "shared samples absent";
        auto r = irap::read_points(p);
        ASSERT_TRUE(r) << c.file << ": " << r.error().display();
        EXPECT_EQ(r->points.size(), c.points) << c.file;
    }
}

TEST(IrapPolygons, SharedSamples) {
    struct Case {
        const char* file;
        std::vector<std::size_t> ring_sizes;
    };
    const Case cases[] = {
#include "io_irap_polygon_samples.inc"
    };
    for (const auto& c : cases) {
        auto p = testing::shared_data(std::string("polygons_irap/") + c.file);
        if (p.empty()) GTEST_SKIP() << "shared samples absent";
        auto r = irap::read_polygons(p);
        ASSERT_TRUE(r) << c.file << ": " << r.error().display();
        std::vector<std::size_t> sizes;
        for (const auto& ring : *r) sizes.push_back(ring.size());
        EXPECT_EQ(sizes, c.ring_sizes) << c.file;
    }
}

}  // namespace
}  // namespace vz
