#include <gtest/gtest.h>

#include <cmath>
#include <string>

#include "io/csv.hpp"
#include "io_test_util.hpp"

namespace vz {
namespace {

using Picks = std::vector<std::pair<std::string, double>>;

TEST(CsvReader, Records) {
    csv::Reader reader("a,\"b \"\"q\"\", c\",d\r\n\r\n\"x\"tail,,\n\"multi\nline\",2,3", false);
    csv::Record rec;
    std::vector<std::vector<std::string>> got;
    while (true) {
        auto r = reader.next(rec);
        ASSERT_TRUE(r);
        if (!*r) break;
        got.emplace_back(rec.fields.begin(), rec.fields.end());
    }
    const std::vector<std::vector<std::string>> expected{
        {"a", "b \"q\", c", "d"}, {"xtail", "", ""}, {"multi\nline", "2", "3"}};
    EXPECT_EQ(got, expected);
}

TEST(TopsCsv, ReadFile) {
    struct Case {
        const char* name;
        std::string content;
        Picks picks;
    };
    const double inf = std::numeric_limits<double>::infinity();
    const Case cases[] = {
        {"plain", "name,md\nTop A,1500\n Top B ,\" 12.5 \"\n", {{"Top A", 1500}, {" Top B ", 12.5}}},
        {"columns anywhere, cr ends", "x,md,name\r1,inf,\"A, quoted\"\r", {{"A, quoted", inf}}},
        {"header only", "name,md\n", {}},
        {"latin-1 name", "name,md\nBr\xE6nt,1\n", {{"Br\xC3\xA6nt", 1}}},
    };
    for (const auto& c : cases) {
        testing::ScratchDir dir;
        auto r = tops_csv::read_file(dir.write("t.csv", c.content), "name", "md");
        ASSERT_TRUE(r) << c.name << ": " << r.error().display();
        EXPECT_EQ(*r, c.picks) << c.name;
    }
    testing::ScratchDir dir;
    auto nan = tops_csv::read_file(dir.write("n.csv", "name,md\nA,nan\n"), "name", "md");
    ASSERT_TRUE(nan);
    EXPECT_TRUE(std::isnan((*nan)[0].second));
}

TEST(TopsCsv, Failures) {
    struct Case {
        const char* name;
        std::string content;
        Error error;
    };
    const Case cases[] = {
        {"capitals", "Name,MD\nA,1\n", Error::not_found("tops CSV: column 'name'")},
        {"space before md", "name, md\nA,1\n", Error::not_found("tops CSV: column 'md'")},
        {"empty file", "", Error::not_found("tops CSV: column 'name'")},
        {"empty md", "name,md\nA,1\nB,\n",
         Error::parse("tops CSV: row 1: bad md '': cannot parse float from empty string")},
        {"decimal comma adds a field", "name,md\nA, 1,5\n",
         Error::parse("tops CSV: row 0: found record with 3 fields, but the header has 2 fields")},
        {"word md", "name,md\nA,\" deep \"\n", Error::parse("tops CSV: row 0: bad md ' deep ': invalid float literal")},
        {"truncated record", "name,md\nA,1\nB",
         Error::parse("tops CSV: row 1: found record with 1 fields, but the header has 2 fields")},
    };
    for (const auto& c : cases) {
        testing::ScratchDir dir;
        auto r = tops_csv::read_file(dir.write("t.csv", c.content), "name", "md");
        ASSERT_FALSE(r) << c.name;
        EXPECT_EQ(r.error(), c.error) << c.name << ": " << r.error().display();
    }
    testing::ScratchDir dir;
    auto missing = tops_csv::read_file(dir.path("absent.csv"), "name", "md");
    ASSERT_FALSE(missing);
    EXPECT_EQ(missing.error().kind(), ErrorKind::Io);
}

TEST(PointsCsv, ReadFile) {
    testing::ScratchDir dir;
    auto r = csv_points::read_file(dir.write("p.csv",
                                             "id,x,y,z,name,gap,dup,dup,q\n"
                                             "1,10,20,30,a,5,1,2,0.5\n"
                                             "2, 11 ,21,31,b,,3,4,-1\n"),
                                   "x", "y", "z");
    ASSERT_TRUE(r) << r.error().display();
    EXPECT_EQ(r->points, (std::vector<std::array<double, 3>>{{10, 20, 30}, {11, 21, 31}}));
    std::vector<std::string> names;
    for (const auto& [k, v] : r->attributes) names.push_back(k);
    EXPECT_EQ(names, (std::vector<std::string>{"id", "dup", "q"}));
    EXPECT_EQ(r->attributes.at("id"), (std::vector<double>{1, 2}));
    EXPECT_EQ(r->attributes.at("dup"), (std::vector<double>{2, 4}));
    EXPECT_EQ(r->attributes.at("q"), (std::vector<double>{0.5, -1}));

    auto header_only = csv_points::read_file(dir.write("h.csv", "X,Y,Z,a\n"), "X", "Y", "Z");
    ASSERT_TRUE(header_only);
    EXPECT_TRUE(header_only->points.empty());
    ASSERT_EQ(header_only->attributes.size(), 1u);
    EXPECT_TRUE(header_only->attributes.at("a").empty());

    auto same = csv_points::read_file(dir.write("s.csv", "v\n1\n"), "v", "v", "v");
    ASSERT_TRUE(same);
    EXPECT_EQ(same->points, (std::vector<std::array<double, 3>>{{1, 1, 1}}));
    EXPECT_TRUE(same->attributes.empty());
}

TEST(PointsCsv, Failures) {
    struct Case {
        const char* name;
        std::string content;
        Error error;
    };
    const Case cases[] = {
        {"missing z", "x,y,Z\n", Error::not_found("points CSV: column 'z'")},
        {"missing x first", "a,b\n", Error::not_found("points CSV: column 'x'")},
        {"field count", "x,y,z\n1,2,3\n1,2,3,4\n",
         Error::parse("points CSV: row 1: found record with 4 fields, but the header has 3 fields")},
        {"bad y", "x,y,z\n1, two ,3\n", Error::parse("points CSV: row 0: bad y ' two ': invalid float literal")},
        {"empty z", "x,y,z\n1,2,\n", Error::parse("points CSV: row 0: bad z '': cannot parse float from empty string")},
        {"invalid utf-8 row", "x,y,z\n1,2,3\n1,2,3\xFF\n", Error::parse("points CSV: row 1: invalid UTF-8 in record")},
        {"invalid utf-8 header", "x,y,z\xC3\n", Error::parse("points CSV: bad header: invalid UTF-8 in record")},
        {"truncated", "x,y,z\n1,2", Error::parse("points CSV: row 0: found record with 2 fields, but the header has 3 fields")},
    };
    for (const auto& c : cases) {
        testing::ScratchDir dir;
        auto r = csv_points::read_file(dir.write("p.csv", c.content), "x", "y", "z");
        ASSERT_FALSE(r) << c.name;
        EXPECT_EQ(r.error(), c.error) << c.name << ": " << r.error().display();
    }
    EXPECT_EQ(io::csv_error("ctx", csv::CsvError{csv::CsvError::Kind::Io, "gone"}), Error::io("gone"));
}

// A pandas export: an unnamed index column (header ""), string columns and a
// numeric column using 1e+33 as its undefined marker.
TEST(PointsCsv, SharedSample) {
    VZ_SHARED_OR_SKIP(p, "points_csv/xtgeo_poi_attr.csv");
    auto r = csv_points::read_file(p, "X_UTME", "Y_UTMN", "Z_TVDSS");
    ASSERT_TRUE(r) << r.error().display();
    EXPECT_FALSE(r->points.empty());
    for (const auto& [name, values] : r->attributes) {
        EXPECT_EQ(values.size(), r->points.size()) << name;
        EXPECT_NE(name, "Well");
    }
    EXPECT_TRUE(r->attributes.contains(""));
    EXPECT_TRUE(r->attributes.contains("MyNum"));
    auto wrong = csv_points::read_file(p, "x", "y", "z");
    ASSERT_FALSE(wrong);
    EXPECT_EQ(wrong.error(), Error::not_found("points CSV: column 'x'"));
}

// The fault polygons exported as CSV (a POLY_ID column instead of 999
// separators) read as points whose POLY_ID is an attribute.
TEST(PointsCsv, PolygonExportSample) {
    VZ_SHARED_OR_SKIP(p, "polygons_csv/xtgeo_reek_faultpolys.csv");
    auto r = csv_points::read_file(p, "X_UTME", "Y_UTMN", "Z_TVDSS");
    ASSERT_TRUE(r) << r.error().display();
    ASSERT_EQ(r->attributes.size(), 1u);
    EXPECT_EQ(r->attributes.begin()->first, "POLY_ID");
    EXPECT_EQ(r->attributes.at("POLY_ID").size(), r->points.size());
    EXPECT_EQ(r->points.size(), 754u);
}

}  // namespace
}  // namespace vz
