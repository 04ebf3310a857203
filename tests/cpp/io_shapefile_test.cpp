#include <gtest/gtest.h>
#include <shapefil.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "io/shapefile.hpp"
#include "io_test_util.hpp"

namespace vz {
namespace {

struct Shape {
    int type;
    std::vector<int> parts;
    std::vector<double> x, y, z;
};

// Writes <stem>.shp and <stem>.shx with the shapefile library's writer.
std::filesystem::path write_shapes(const testing::ScratchDir& dir, const std::string& stem, int type,
                                   const std::vector<Shape>& shapes) {
    auto base = dir.path(stem);
    SHPHandle h = SHPCreate(base.c_str(), type);
    for (const auto& s : shapes) {
        SHPObject* o = SHPCreateObject(s.type, -1, static_cast<int>(s.parts.size()), s.parts.empty() ? nullptr : s.parts.data(),
                                       nullptr, static_cast<int>(s.x.size()), s.x.data(), s.y.data(),
                                       s.z.empty() ? nullptr : s.z.data(), nullptr);
        SHPWriteObject(h, -1, o);
        SHPDestroyObject(o);
    }
    SHPClose(h);
    return dir.path(stem + ".shp");
}

std::string slurp(const std::filesystem::path& p) {
    std::ifstream f(p, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(f), {});
}

const Shape kThreeParts{SHPT_POLYGON, {0, 4, 8}, {0, 1, 1, 0, 5, 6, 6, 5, 9, 9, 9}, {0, 0, 1, 0, 5, 5, 6, 5, 1, 2, 3}, {}};

TEST(Shapefile, ReadPolygons) {
    testing::ScratchDir dir;
    const PolygonRings three{{{0, 0, 0}, {1, 0, 0}, {1, 1, 0}, {0, 0, 0}},
                             {{5, 5, 0}, {6, 5, 0}, {6, 6, 0}, {5, 5, 0}},
                             {{9, 1, 0}, {9, 2, 0}, {9, 3, 0}}};
    auto plain = shapefile::read_polygons(write_shapes(dir, "poly", SHPT_POLYGON, {kThreeParts}));
    ASSERT_TRUE(plain) << plain.error().display();  // no .dbf beside it
    EXPECT_EQ(*plain, three);

    Shape z = kThreeParts;
    z.type = SHPT_POLYGONZ;
    z.z.assign(z.x.size(), 123.0);
    auto withz = shapefile::read_polygons(write_shapes(dir, "polyz", SHPT_POLYGONZ, {z}));
    ASSERT_TRUE(withz) << withz.error().display();
    EXPECT_EQ(*withz, three);

    Shape line{SHPT_ARC, {0, 2}, {1, 2, 3, 4}, {1, 2, 3, 4}, {}};
    auto lines = shapefile::read_polygons(write_shapes(dir, "line", SHPT_ARC, {line, line}));
    ASSERT_TRUE(lines);
    EXPECT_EQ(lines->size(), 4u);

    Shape pt{SHPT_POINT, {}, {1}, {2}, {}};
    auto points = shapefile::read_polygons(write_shapes(dir, "pts", SHPT_POINT, {pt, pt}));
    ASSERT_TRUE(points);
    EXPECT_TRUE(points->empty());
}

TEST(Shapefile, MissingIndexIsRebuilt) {
    testing::ScratchDir dir;
    auto shp = write_shapes(dir, "poly", SHPT_POLYGON, {kThreeParts, kThreeParts});
    auto with_index = shapefile::read_polygons(shp);
    ASSERT_TRUE(with_index);
    std::filesystem::remove(dir.path("poly.shx"));
    auto rebuilt = shapefile::read_polygons(shp);
    ASSERT_TRUE(rebuilt) << rebuilt.error().display();
    EXPECT_EQ(*rebuilt, *with_index);
}

TEST(Shapefile, Failures) {
    testing::ScratchDir dir;
    auto shp = write_shapes(dir, "poly", SHPT_POLYGON, {kThreeParts});
    const std::string good = slurp(shp);
    struct Case {
        const char* name;
        std::string shp_bytes;
        bool keep_index;
        std::string message;  // empty: any "shapefile: " message
    };
    std::string bad_part = good;
    // The third part start (record content offset 44 + 2 * 4) points past the
    // record's 11 points.
    std::size_t rec = 100 + 8;
    bad_part[rec + 44 + 8] = 50;
    const Case cases[] = {
        {"truncated without index", good.substr(0, good.size() - 20), false,
         "shapefile: record 0 runs past the end of the .shp file"},
        {"truncated with index", good.substr(0, good.size() - 20), true, ""},
        {"header only fragment", good.substr(0, 60), false, "shapefile: the .shp file is shorter than its 100-byte header"},
        {"part outside record", bad_part, true, ""},
    };
    for (const auto& c : cases) {
        testing::ScratchDir d;
        auto p = d.write("x.shp", c.shp_bytes);
        if (c.keep_index) d.write("x.shx", slurp(dir.path("poly.shx")));
        auto r = shapefile::read_polygons(p);
        ASSERT_FALSE(r) << c.name;
        EXPECT_EQ(r.error().kind(), ErrorKind::Parse) << c.name;
        if (c.message.empty())
            EXPECT_EQ(r.error().message().rfind("shapefile: ", 0), 0u) << c.name << ": " << r.error().message();
        else
            EXPECT_EQ(r.error().message(), c.message) << c.name;
    }

    auto missing = shapefile::read_polygons(dir.path("absent.shp"));
    ASSERT_FALSE(missing);
    EXPECT_EQ(missing.error().kind(), ErrorKind::Parse);
    EXPECT_EQ(missing.error().message(), "shapefile: cannot open '" + dir.path("absent.shp").string() +
                                             "': No such file or directory (os error 2)");

    std::filesystem::create_directory(dir.path("poly.dbf"));  // a sibling that cannot be read
    auto unreadable = shapefile::read_polygons(shp);
    ASSERT_FALSE(unreadable);
    EXPECT_EQ(unreadable.error().message().rfind("shapefile: cannot read '" + dir.path("poly.dbf").string() + "': ", 0), 0u);
}

// A .shp cut short anywhere, with or without its index, reads the records
// it still holds or fails with a message; nothing is read out of range.
TEST(Shapefile, EveryPrefixReadsOrFails) {
    testing::ScratchDir dir;
    Shape z = kThreeParts;
    z.type = SHPT_POLYGONZ;
    z.z.assign(z.x.size(), 1.0);
    auto shp = write_shapes(dir, "poly", SHPT_POLYGONZ, {z, z, z});
    const std::string bytes = slurp(shp), index = slurp(dir.path("poly.shx"));
    for (bool with_index : {false, true}) {
        for (std::size_t n = 0; n <= bytes.size(); n += 3) {
            testing::ScratchDir d;
            auto p = d.write("x.shp", bytes.substr(0, n));
            if (with_index) d.write("x.shx", index);
            auto r = shapefile::read_polygons(p);
            if (!r) {
                EXPECT_EQ(r.error().kind(), ErrorKind::Parse) << n;
                EXPECT_EQ(r.error().message().rfind("shapefile: ", 0), 0u) << n;
            } else {
                EXPECT_LE(r->size(), 9u) << n;
            }
        }
    }
}

TEST(Shapefile, SharedSamples) {
    struct Case {
        const char* file;
        std::size_t rings;
    };
    const Case cases[] = {
        {"blockgroups.shp", 679},    {"corrupt_too_long.shp", 10}, {"coutwildrnp.shp", 67},
        {"gre.shp", 1},              {"latin1.shp", 1},            {"pyshp_MyPolyZ.shp", 1},
        {"pyshp_NullTest.shp", 0},   {"pyshp_balancing.shp", 0},   {"pyshp_dtype.shp", 0},
        {"pyshp_line.shp", 2},       {"pyshp_linem.shp", 2},       {"pyshp_linez.shp", 3},
        {"pyshp_multipatch.shp", 0}, {"pyshp_multipoint.shp", 0},  {"pyshp_point.shp", 0},
        {"pyshp_polygon.shp", 3},    {"pyshp_shapetype.shp", 0},
    };
    for (const auto& c : cases) {
        auto p = testing::shared_data(std::string("shapefile/") + c.file);
        if (p.empty()) GTEST_SKIP() << "shared samples absent";
        auto r = shapefile::read_polygons(p);
        ASSERT_TRUE(r) << c.file << ": " << r.error().display();
        EXPECT_EQ(r->size(), c.rings) << c.file;
        for (const auto& ring : *r) {
            EXPECT_FALSE(ring.empty()) << c.file;
            for (const auto& v : ring) EXPECT_EQ(v[2], 0.0) << c.file;
        }
    }
}

}  // namespace
}  // namespace vz
