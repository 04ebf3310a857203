#include <gtest/gtest.h>
#include <shapefil.h>

#include <array>
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
    // Two counter-clockwise parts that no clockwise part holds and a part
    // without area: three polygons of one ring each.
    const PolygonsWithHoles three{{{{0, 0, 0}, {1, 0, 0}, {1, 1, 0}, {0, 0, 0}}},
                                  {{{5, 5, 0}, {6, 5, 0}, {6, 6, 0}, {5, 5, 0}}},
                                  {{{9, 1, 0}, {9, 2, 0}, {9, 3, 0}}}};
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

using Ring2 = std::vector<std::array<double, 2>>;

// A closed axis-aligned square, clockwise or counter-clockwise (y up).
Ring2 square(double x0, double y0, double x1, double y1, bool clockwise) {
    if (clockwise) return {{x0, y0}, {x0, y1}, {x1, y1}, {x1, y0}, {x0, y0}};
    return {{x0, y0}, {x1, y0}, {x1, y1}, {x0, y1}, {x0, y0}};
}

Shape shape_of(int type, const std::vector<Ring2>& rings) {
    Shape s{type, {}, {}, {}, {}};
    for (const auto& ring : rings) {
        s.parts.push_back(static_cast<int>(s.x.size()));
        for (const auto& v : ring) s.x.push_back(v[0]), s.y.push_back(v[1]);
    }
    if (type == SHPT_POLYGONZ || type == SHPT_ARCZ) s.z.assign(s.x.size(), 7.0);
    return s;
}

PolygonRings with_z0(const std::vector<Ring2>& rings) {
    PolygonRings out;
    for (const auto& ring : rings) {
        auto& r = out.emplace_back();
        for (const auto& v : ring) r.push_back({v[0], v[1], 0.0});
    }
    return out;
}

// Polygon records: clockwise parts are outer rings, counter-clockwise parts
// the holes of the smallest outer ring of the same record that holds them.
TEST(Shapefile, PolygonRecordsKeepTheirHoles) {
    const Ring2 outer = square(0, 0, 10, 10, true);
    const Ring2 lake = square(1, 1, 5, 5, false);
    const Ring2 island = square(2, 2, 4, 4, true);                  // in the lake
    const Ring2 pond = square(2.5, 2.5, 3.5, 3.5, false);           // on the island
    const Ring2 well = square(6, 6, 7, 7, false);                   // in the outer ring only
    const Ring2 away = square(20, 20, 21, 21, false);               // held by no outer ring
    const Ring2 corner = {{0, 0}, {3, 1}, {1, 3}, {0, 0}};          // hole touching the outer corner
    const Ring2 other = square(30, 0, 40, 10, true);
    struct Case {
        const char* name;
        int type;
        std::vector<std::vector<Ring2>> records;
        std::vector<std::vector<Ring2>> polygons;
    };
    const Case cases[] = {
        {"outer ring with a hole", SHPT_POLYGON, {{outer, lake}}, {{outer, lake}}},
        {"holes before their outer ring, an island with its own hole", SHPT_POLYGON,
         {{pond, outer, lake, island, well}}, {{outer, lake, well}, {island, pond}}},
        {"hole with its first vertex on the outer ring", SHPT_POLYGONZ, {{outer, corner}}, {{outer, corner}}},
        {"each hole to the outer ring that holds it", SHPT_POLYGONM, {{other, outer, well}}, {{other}, {outer, well}}},
        {"a hole no outer ring holds is a polygon", SHPT_POLYGON, {{outer, away}}, {{outer}, {away}}},
        {"holes stay within their record", SHPT_POLYGON, {{outer}, {well}}, {{outer}, {well}}},
        {"polyline parts stay lines", SHPT_ARC, {{outer, lake}}, {{outer}, {lake}}},
    };
    for (const auto& c : cases) {
        testing::ScratchDir dir;
        std::vector<Shape> shapes;
        for (const auto& record : c.records) shapes.push_back(shape_of(c.type, record));
        auto r = shapefile::read_polygons(write_shapes(dir, "holes", c.type, shapes));
        ASSERT_TRUE(r) << c.name << ": " << r.error().display();
        PolygonsWithHoles want;
        for (const auto& p : c.polygons) want.push_back(with_z0(p));
        EXPECT_EQ(*r, want) << c.name;
    }
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
        std::size_t polygons;
    };
    const Case cases[] = {
        {"blockgroups.shp", 673},  // 679 parts, six of them holes    {"corrupt_too_long.shp", 10}, {"coutwildrnp.shp", 67},
        {"gre.shp", 1},              {"latin1.shp", 1},            {"pyshp_MyPolyZ.shp", 1},
        {"pyshp_NullTest.shp", 0},   {"pyshp_balancing.shp", 0},   {"pyshp_dtype.shp", 0},
        {"pyshp_line.shp", 2},       {"pyshp_linem.shp", 2},       {"pyshp_linez.shp", 3},
        {"pyshp_multipatch.shp", 0}, {"pyshp_multipoint.shp", 0},  {"pyshp_point.shp", 0},
        {"pyshp_polygon.shp", 2},  // three parts, one a hole of the first    {"pyshp_shapetype.shp", 0},
    };
    for (const auto& c : cases) {
        auto p = testing::shared_data(std::string("shapefile/") + c.file);
        if (p.empty()) GTEST_SKIP() << "shared samples absent";
        auto r = shapefile::read_polygons(p);
        ASSERT_TRUE(r) << c.file << ": " << r.error().display();
        EXPECT_EQ(r->size(), c.polygons) << c.file;
        for (const auto& polygon : *r)
            for (const auto& ring : polygon) {
                EXPECT_FALSE(ring.empty()) << c.file;
                for (const auto& v : ring) EXPECT_EQ(v[2], 0.0) << c.file;
            }
    }
}

}  // namespace
}  // namespace vz
