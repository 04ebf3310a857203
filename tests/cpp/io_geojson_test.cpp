#include <gtest/gtest.h>

#include <cmath>
#include <string>

#include "io/geojson.hpp"
#include "io_test_util.hpp"
#include "child_process.hpp"

namespace vz {
namespace {

constexpr double N = -1e300;  // NaN in expectation tables

std::string feature(const std::string& geometry, const std::string& props = "null") {
    return "{\"type\":\"Feature\",\"geometry\":" + geometry + ",\"properties\":" + props + "}";
}
std::string collection(std::initializer_list<std::string> features) {
    std::string out = "{\"type\":\"FeatureCollection\",\"features\":[";
    bool first = true;
    for (const auto& f : features) out += (first ? "" : ",") + f, first = false;
    return out + "]}";
}
std::string point(double x, double y) { return "{\"type\":\"Point\",\"coordinates\":[" + std::to_string(x) + "," + std::to_string(y) + "]}"; }

std::vector<std::pair<std::string, std::vector<double>>> columns(const PointColumns& p) {
    std::vector<std::pair<std::string, std::vector<double>>> out;
    for (const auto& [k, v] : p.attributes) {
        std::vector<double> col(v);
        for (double& x : col)
            if (std::isnan(x)) x = N;
        out.emplace_back(k, col);
    }
    return out;
}

TEST(GeoJsonPoints, Read) {
    using Cols = std::vector<std::pair<std::string, std::vector<double>>>;
    struct Case {
        const char* name;
        std::string doc;
        std::vector<std::array<double, 3>> points;
        Cols cols;
    };
    const std::string multipolygon =
        "{\"type\":\"MultiPolygon\",\"coordinates\":[[[[0,0],[1,0],[1,1],[0,0]],[[0.2,0.2],[0.3,0.2],[0.2,0.3],[0.2,0.2]]],"
        "[[[5,5],[6,5],[6,6],[5,5]],[[5.1,5.1],[5.2,5.1],[5.1,5.2],[5.1,5.3]]]]}";
    const Case cases[] = {
        {"null geometry still registers names",
         collection({feature(point(1, 2), "{\"a\":1}"), feature("null", "{\"b\":2}"), feature(point(3, 4))}),
         {{1, 2, 0}, {3, 4, 0}},
         {{"a", {1, N}}, {"b", {N, N}}}},
        {"ascending names, kinds",
         collection({feature(point(0, 0), "{\"zeta\":1,\"alpha\":true,\"name\":\"x\",\"n\":null,\"arr\":[1]}"),
                     feature(point(1, 1), "{\"beta\":-2,\"alpha\":false,\"big\":18446744073709551615}")}),
         {{0, 0, 0}, {1, 1, 0}},
         {{"alpha", {1, 0}}, {"zeta", {1, N}}, {"beta", {N, -2}}, {"big", {N, 18446744073709551615.0}}}},
        {"number versus string",
         collection({feature(point(0, 0), "{\"depth\":2500}"), feature(point(1, 1), "{\"depth\":\"2500\"}")}),
         {{0, 0, 0}, {1, 1, 0}},
         {{"depth", {2500, N}}}},
        {"last position of a line", feature("{\"type\":\"LineString\",\"coordinates\":[[1,2],[3,4,5,6]]}"), {{3, 4, 5}}, {}},
        {"last vertex of the last hole", feature(multipolygon), {{5.1, 5.3, 0}}, {}},
        {"bare geometry counts as one feature", "{\"type\":\"Point\",\"coordinates\":[7,8,9]}", {{7, 8, 9}}, {}},
        {"empty line gives no point", feature("{\"type\":\"LineString\",\"coordinates\":[]}", "{\"k\":1}"), {}, {{"k", {}}}},
        {"collection member order",
         feature("{\"type\":\"GeometryCollection\",\"geometries\":[{\"type\":\"LineString\",\"coordinates\":[[1,1],[2,2]]},"
                 "{\"type\":\"MultiPoint\",\"coordinates\":[[3,3],[4,4]]}]}"),
         {{4, 4, 0}}, {}},
    };
    for (const auto& c : cases) {
        testing::ScratchDir dir;
        auto r = geojson::read_points(dir.write("p.geojson", c.doc));
        ASSERT_TRUE(r) << c.name << ": " << r.error().display();
        EXPECT_EQ(r->points, c.points) << c.name;
        EXPECT_EQ(columns(*r), c.cols) << c.name;
    }
}

// Every feature with a property of its own makes the attribute table grow
// with the square of the features: 20,000 such points are 400 million
// values. Under an address-space limit that table is refused with its size
// instead of letting the allocation failure escape; a table that fits is
// read, each value in its feature's row.
TEST(GeoJsonPoints, AttributeTableBeyondMemoryIsRefusedWithItsSize) {
    VZ_SKIP_WITHOUT_ADDRESS_LIMIT();
    auto file = [](int n) {
        std::string f = "{\"type\":\"FeatureCollection\",\"features\":[";
        for (int k = 0; k < n; ++k)
            f += (k ? "," : "") + feature(point(k, 0), "{\"p" + std::to_string(k) + "\":" + std::to_string(k) + "}");
        return f + "]}";
    };
    testing::ScratchDir dir;
    const auto big = dir.write("big.geojson", file(20000));
    const auto small = dir.write("small.geojson", file(1000));
    const std::string report = testing::run_with_memory_budget(std::size_t{256} << 20, [&]() -> std::string {
        auto r = geojson::read_points(big);
        if (r) return "read a table beyond the limit";
        const char* want = "out of range: GeoJSON points: an attribute table of 20000 points × 20000 columns does "
                           "not fit in memory";
        if (r.error().display() != want) return r.error().display();
        auto fits = geojson::read_points(small);
        if (!fits) return fits.error().display();
        if (fits->points.size() != 1000 || fits->attributes.size() != 1000) return "wrong table size";
        for (int k = 0; k < 1000; k += 111) {
            const auto& column = fits->attributes.at("p" + std::to_string(k));
            for (int i = 0; i < 1000; ++i)
                if (i == k ? column[i] != k : !std::isnan(column[i])) return "value in the wrong row";
        }
        return "";
    });
    EXPECT_EQ(report, "");
}

TEST(GeoJsonPolygons, Read) {
    struct Case {
        const char* name;
        std::string doc;
        PolygonsWithHoles polygons;
    };
    const Case cases[] = {
        // Each polygon keeps its rings together, the exterior first: the
        // rings after the first are its holes, never polygons of their own.
        {"multipolygon with holes",
         "{\"type\":\"MultiPolygon\",\"coordinates\":[[[[0,0,9],[1,0],[1,1]],[[2,2],[3,3]]],[[[4,4],[5,5]],[[6,6]]]]}",
         {{{{0, 0, 0}, {1, 0, 0}, {1, 1, 0}}, {{2, 2, 0}, {3, 3, 0}}}, {{{4, 4, 0}, {5, 5, 0}}, {{6, 6, 0}}}}},
        {"polygon with two holes, then a line",
         collection({feature("{\"type\":\"Polygon\",\"coordinates\":[[[0,0],[9,0],[9,9]],[[1,1],[2,1],[2,2]],"
                             "[[5,5],[6,5],[6,6]]]}"),
                     feature("{\"type\":\"LineString\",\"coordinates\":[[7,7],[8,8]]}")}),
         {{{{0, 0, 0}, {9, 0, 0}, {9, 9, 0}}, {{1, 1, 0}, {2, 1, 0}, {2, 2, 0}}, {{5, 5, 0}, {6, 5, 0}, {6, 6, 0}}},
          {{{7, 7, 0}, {8, 8, 0}}}}},
        // An empty ring stays in place so that the next one does not become
        // the exterior; a polygon without rings is handed on empty.
        {"empty rings keep their place",
         "{\"type\":\"GeometryCollection\",\"geometries\":[{\"type\":\"Polygon\",\"coordinates\":[[],[[1,1],[2,1],[2,2]]]},"
         "{\"type\":\"Polygon\",\"coordinates\":[]}]}",
         {{{}, {{1, 1, 0}, {2, 1, 0}, {2, 2, 0}}}, {}}},
        {"empty line and points give nothing",
         collection({feature("{\"type\":\"LineString\",\"coordinates\":[]}"), feature(point(1, 1)),
                     feature("{\"type\":\"GeometryCollection\",\"geometries\":[" + point(0, 0) +
                             ",{\"type\":\"LineString\",\"coordinates\":[[1,2],[3,4]]}]}"),
                     feature("null")}),
         {{{{1, 2, 0}, {3, 4, 0}}}}},
        {"multilinestring: one polygon per line", feature("{\"type\":\"MultiLineString\",\"coordinates\":[[[1,1],[2,2]],[[3,3],[4,4]]]}",
                                    "{\"ignored\":\"yes\"}"),
         {{{{1, 1, 0}, {2, 2, 0}}}, {{{3, 3, 0}, {4, 4, 0}}}}},
    };
    for (const auto& c : cases) {
        testing::ScratchDir dir;
        auto r = geojson::read_polygons(dir.write("p.geojson", c.doc));
        ASSERT_TRUE(r) << c.name << ": " << r.error().display();
        EXPECT_EQ(*r, c.polygons) << c.name;
    }
}

// Malformed documents fail with the reader's message in both readers; a
// position with fewer than two ordinates is one of them.
TEST(GeoJson, Failures) {
    struct Case {
        const char* name;
        std::string doc;
        std::string message;  // the reader's text; empty: only the prefix is checked
    };
    const Case cases[] = {
        {"one ordinate", feature("{\"type\":\"LineString\",\"coordinates\":[[1,2],[3]]}"),
         "a position needs at least two ordinates, got 1"},
        {"empty position", feature("{\"type\":\"Point\",\"coordinates\":[]}"), "a position needs at least two ordinates, got 0"},
        {"string ordinate", feature("{\"type\":\"Point\",\"coordinates\":[\"1\",2]}"), "a position must be an array of numbers"},
        {"unknown type", "{\"type\":\"featurecollection\",\"features\":[]}", "unknown geometry type 'featurecollection'"},
        {"root null", "null", "the document must be a GeoJSON object"},
        {"no coordinates", feature("{\"type\":\"Polygon\"}"), "a Polygon needs \"coordinates\""},
        {"features not array", "{\"type\":\"FeatureCollection\",\"features\":{}}",
         "a FeatureCollection needs a \"features\" array"},
        {"bad properties", feature(point(1, 1), "[1]"), "feature properties must be an object or null"},
        {"polygon one level short", feature("{\"type\":\"Polygon\",\"coordinates\":[[1,2],[3,4]]}"),
         "a position must be an array of numbers"},
        {"truncated document", collection({feature(point(1, 1))}).substr(0, 40), ""},
        {"invalid utf-8 in a string", "{\"type\":\"Point\",\"coordinates\":[1,2],\"x\":\"\xFF\"}", ""},
    };
    for (const auto& c : cases) {
        testing::ScratchDir dir;
        auto p = dir.write("p.geojson", c.doc);
        auto pts = geojson::read_points(p);
        auto polys = geojson::read_polygons(p);
        ASSERT_FALSE(pts) << c.name;
        ASSERT_FALSE(polys) << c.name;
        EXPECT_EQ(pts.error().kind(), ErrorKind::Parse) << c.name;
        EXPECT_EQ(polys.error().kind(), ErrorKind::Parse) << c.name;
        if (!c.message.empty()) {
            EXPECT_EQ(pts.error().message(), "GeoJSON points: " + c.message) << c.name;
            EXPECT_EQ(polys.error().message(), "GeoJSON polygons: " + c.message) << c.name;
        } else {
            EXPECT_EQ(pts.error().message().rfind("GeoJSON points: [json.exception.parse_error", 0), 0u)
                << pts.error().message();
            EXPECT_EQ(polys.error().message().rfind("GeoJSON polygons: [json.exception.parse_error", 0), 0u);
        }
    }
    testing::ScratchDir dir;
    EXPECT_EQ(geojson::read_points(dir.path("absent")).error().kind(), ErrorKind::Io);
    EXPECT_EQ(geojson::read_polygons(dir.path("absent")).error().kind(), ErrorKind::Io);
}

TEST(GeoJson, SharedSamples) {
    struct Case {
        const char* file;
        long polygons;  // -1: refused
        long points;  // -1: refused
    };
    const Case cases[] = {
        {"fiona_grenada_multipolygon.geojson", 1, 1},
        {"fiona_issue627_polygons.geojson", 3, 3},
        {"fiona_rmnp_multipolygon_noprops.geojson", 2, 1},  // one polygon with a hole
        {"fiona_single_point_tz.geojson", 0, 1},
        {"fiona_trio_mixed_types.geojson", 2, 3},
        {"geojsonhint_bad-duplicate-properties.geojson", 0, 0},
        {"geojsonhint_bad-json.geojson", -1, -1},
        {"geojsonhint_bad-polygonloop.geojson", -1, -1},
        {"geojsonhint_different-first-last.geojson", 1, 1},
        {"geojsonhint_featurecollection-type-case.geojson", -1, -1},
        {"geojsonhint_good-featurecollection-bbox3d.geojson", 0, 2},
        {"geojsonhint_good-featurecollection-extensions.geojson", 2, 3},
        {"geojsonhint_good-geometrycollection.geojson", 1, 1},
        {"geojsonhint_good-point-3d.geojson", 0, 1},
        {"geojsonhint_multipolygon.geojson", 2, 1},  // one polygon with a hole
        {"geojsonhint_nullgeometry.geojson", 0, 0},
        {"geojsonhint_polygon_winding_order.geojson", 1, 1},
        {"geojsonhint_rootstring.geojson", -1, -1},
        {"geojsonhint_short-linearring.geojson", 1, 1},
        {"geojsonhint_stringcoord.geojson", -1, -1},
    };
    for (const auto& c : cases) {
        auto p = testing::shared_data(std::string("geojson/") + c.file);
        if (p.empty()) GTEST_SKIP() << "shared samples absent";
        auto polygons = geojson::read_polygons(p);
        auto pts = geojson::read_points(p);
        if (c.polygons < 0) {
            EXPECT_FALSE(polygons) << c.file;
            EXPECT_FALSE(pts) << c.file;
            continue;
        }
        ASSERT_TRUE(polygons) << c.file << ": " << polygons.error().display();
        ASSERT_TRUE(pts) << c.file << ": " << pts.error().display();
        EXPECT_EQ(static_cast<long>(polygons->size()), c.polygons) << c.file;
        EXPECT_EQ(static_cast<long>(pts->points.size()), c.points) << c.file;
    }
}

}  // namespace
}  // namespace vz
