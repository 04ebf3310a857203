#include <gtest/gtest.h>
#include <fmt/format.h>

#include <span>
#include <string>

#include "io/detect.hpp"
#include "io_test_util.hpp"

namespace vz {
namespace {

TEST(FormatKind, OrdinalsAndNames) {
    const char* names[] = {"Cps3Grid", "Cps3Lines", "IrapClassicGrid", "IrapClassicPoints", "EarthVisionGrid", "Las",
                           "WellPath", "PetrelTops", "CrsMetaXml", "GeoJson", "CsvPoints", "Unknown"};
    for (int i = 0; i < 12; ++i) {
        FormatKind k(static_cast<FormatKind::Value>(i));
        EXPECT_EQ(k.ordinal(), i);
        EXPECT_EQ(k.name(), names[i]);
        EXPECT_EQ(fmt::format("{}", k), names[i]);
    }
    EXPECT_EQ(sizeof(FormatKind), 1u);
}

struct DetectCase {
    const char* name;
    std::string file;      // file name (extension matters for the fallback)
    std::string content;
    FormatKind expected;
};

/// Each case's file, written under its name, detects as the case expects.
void expect_detected(std::span<const DetectCase> cases) {
    for (const auto& c : cases) {
        testing::ScratchDir dir;
        auto k = FormatKind::detect(dir.write(c.file, c.content));
        ASSERT_TRUE(k) << c.name << ": " << k.error().display();
        EXPECT_EQ(k->name(), c.expected.name()) << c.name;
    }
}

std::string lines(int n, const std::string& line) {
    std::string out;
    for (int i = 0; i < n; ++i) out += line + "\n";
    return out;
}

// Every content rule in its order, the precedence between rules, and the
// fallback to the extension when the content decides nothing.
TEST(FormatKind, DetectTable) {
    const DetectCase cases[] = {
        // LAS and Petrel stop the pass at once.
        {"tilde wins over earlier markers", "a.txt", "FSNROW 2 3\n-> x\n# EARTHVISION\n~Version\n", FormatKind::Las},
        {"tilde whatever the extension", "a.geojson", "junk\n  ~A\n", FormatKind::Las},
        {"petrel title any case", "a.dat", "# petrel WELL tops\n1 2 3\n", FormatKind::PetrelTops},
        // Marker order after the pass.
        {"cps3 grid beats arrow", "a.txt", "-> a\nfsnrow 2 3\n", FormatKind::Cps3Grid},
        {"fsxinc", "a.txt", "FSXINC 1 1\n", FormatKind::Cps3Grid},
        {"fslimi token only as first token", "a.txt", "x FSLIMI 1\n", FormatKind::Unknown},
        {"fsnrow must be the whole token", "a.txt", "FSNROWS 1 2\n", FormatKind::Unknown},
        {"arrow beats earthvision", "a.txt", "# EARTHVISION\n->\n", FormatKind::Cps3Lines},
        {"single dash-gt char line is no arrow", "a.txt", "-\n", FormatKind::Unknown},
        {"earthvision grid_space", "a.dat", "# Grid_space: 1,2\n1 2 3\n", FormatKind::EarthVisionGrid},
        {"earthvision field on comment", "a.dat", "#Field: Norne\n", FormatKind::EarthVisionGrid},
        {"field without hash is nothing", "a.txt", "Field: Norne\n", FormatKind::Unknown},
        {"wellpath needs survey header", "a.txt", "# WELL HEAD X: 1\n", FormatKind::Unknown},
        {"survey header alone", "a.txt", "MD TVD INCL AZIM\n", FormatKind::Unknown},
        {"wellpath", "a.txt", "MD  TVD  INCLINATION AZIMUTH\n# kelly bushing: 30\n", FormatKind::WellPath},
        {"petrel columns", "a.txt", "BEGIN HEADER\nType\nWELL\nsurface\n MD \nEND HEADER\n", FormatKind::PetrelTops},
        {"petrel columns incomplete", "a.txt", "Type\nWell\nSurface\n", FormatKind::Unknown},
        // Head tests.
        {"crsmeta xml", "a.txt", "  <?xml version='1.0'?><CrsMeta><label>x</label></CrsMeta>", FormatKind::CrsMetaXml},
        {"crsmeta root", "a.txt", "<crsmeta/>", FormatKind::CrsMetaXml},
        {"xml without crsmeta by content", "a.txt", "<?xml version='1.0'?><a/>", FormatKind::Unknown},
        {"xml without crsmeta by extension", "a.xml", "<?xml version='1.0'?><a/>", FormatKind::CrsMetaXml},
        {"xml with bom by extension", "a.xml", "\xEF\xBB\xBF<?xml?><crsmeta/>", FormatKind::CrsMetaXml},
        {"xml with bom other extension", "a.txt", "\xEF\xBB\xBF<?xml?><crsmeta/>", FormatKind::Unknown},
        {"geojson collection", "a.txt", "{\"type\": \"FeatureCollection\", \"features\": []}", FormatKind::GeoJson},
        {"geojson bare point", "a.txt", "[{\"type\":\"Point\"}]", FormatKind::GeoJson},
        {"json without geometry words", "a.txt", "{\"type\": \"thing\"}", FormatKind::Unknown},
        {"json without type key", "a.txt", "{\"kind\": \"Point\"}", FormatKind::Unknown},
        // CSV header.
        {"csv xyz quoted", "a.txt", "\"Easting\", \"NORTHING\" ,tvd\n1,2,3\n", FormatKind::CsvPoints},
        {"csv header on comment line", "a.txt", "#,x,y,z\n", FormatKind::CsvPoints},
        {"comment glued to first field", "a.txt", "# x,y,z\n", FormatKind::Unknown},
        {"only first csv header counts", "a.txt", "name,md\nx,y,z\n", FormatKind::Unknown},
        {"csv name md by extension", "tops.csv", "name,md\nA,100\n", FormatKind::CsvPoints},
        // IRAP grid and XYZ on the first data line.
        {"irap grid", "a.txt", "-996 100 25 25\n", FormatKind::IrapClassicGrid},
        {"irap grid plus sign", "a.txt", "-996 +7\n", FormatKind::IrapClassicGrid},
        {"irap float id", "a.txt", "-996.0 100 25 25\n", FormatKind::IrapClassicPoints},
        {"irap negative nrow", "a.txt", "-996 -100 1\n", FormatKind::IrapClassicPoints},
        {"irap nrow too large", "a.txt", "-996 18446744073709551616\n", FormatKind::Unknown},
        {"irap nrow max", "a.txt", "-996 18446744073709551615\n", FormatKind::IrapClassicGrid},
        {"xyz three of four", "a.txt", "! comment\n1.0,2.0,abc,4\n", FormatKind::IrapClassicPoints},
        {"xyz two of three", "a.txt", "1.0,2.0,abc\n", FormatKind::Unknown},
        {"xyz fifth token not looked at", "a.txt", "1 a b 4 5\n", FormatKind::Unknown},
        {"comments only fall back", "a.xyz", "# a\n! b\n", FormatKind::IrapClassicPoints},
        // Limits of the pass.
        {"line 161 not examined", "a.txt", lines(160, "") + "~A\n", FormatKind::Unknown},
        {"line 160 examined", "a.txt", lines(159, "") + "~A\n", FormatKind::Las},
        {"cr-only line ends are one line", "a.txt", "hello\r~Version\r", FormatKind::Unknown},
        {"bom before tilde then later tilde", "a.txt", "\xEF\xBB\xBF~Version\n~Well\n", FormatKind::Las},
        {"empty file by extension", "a.wellpath", "", FormatKind::WellPath},
        // Extension fallback.
        {"ext cps3grid", "a.CPS3GRID", "", FormatKind::Cps3Grid},
        {"ext cps3lines", "a.cps3lines", "", FormatKind::Cps3Lines},
        {"ext gri", "a.gri", "", FormatKind::IrapClassicGrid},
        {"ext irap", "a.irap", "", FormatKind::IrapClassicGrid},
        {"ext irapclassicpoints", "a.irapclassicpoints", "", FormatKind::IrapClassicPoints},
        {"ext dat", "a.Dat", "", FormatKind::IrapClassicPoints},
        {"ext earthvisiongrid", "a.earthvisiongrid", "", FormatKind::EarthVisionGrid},
        {"ext las", "a.LAS", "", FormatKind::Las},
        {"ext tops", "a.tops", "", FormatKind::PetrelTops},
        {"ext json", "a.json", "", FormatKind::GeoJson},
        {"ext geojson", "a.geojson", "", FormatKind::GeoJson},
        {"dot file has no extension", ".las", "", FormatKind::Unknown},
        {"double dot file", "..las", "", FormatKind::Las},
        {"no extension", "README", "", FormatKind::Unknown},
        {"unlisted", "a.txt", "", FormatKind::Unknown},
        {"not text", "a.l\xFF", "", FormatKind::Unknown},
    };
    expect_detected(cases);
}

// Bytes that hold a NUL and are not UTF-16 text are binary: `Unknown`
// whatever they would look like as Latin-1 text and whatever the name says.
TEST(FormatKind, BinaryContentIsUnknown) {
    using namespace std::string_literals;
    // Shapefile header (file code 9994, big-endian) and a record whose
    // coordinate bytes hold a line feed followed by '~'.
    const std::string shp = "\0\0\x27\x0a"s + std::string(96, '\0') + "\0\0\0\x01\0\0\0\x30\x05\0\0\0"s +
                            "\x11\x22\x0a~\x33\x44\x59\x40"s + std::string(40, '\0');
    // IRAP binary grid: a 32-byte Fortran record holding -996 and the counts.
    const std::string irap_binary = "\0\0\0\x20\xff\xff\xfc\x1c\0\0\0\x03"s + std::string(28, '\0');
    const std::string las_le = "~\0V\0\n\0~\0A\0\n\0"s;
    const std::string las_be = "\0~\0V\0\n\0~\0A\0\n"s;
    const DetectCase cases[] = {
        {"shapefile holding a tilde line", "a.shp", shp, FormatKind::Unknown},
        {"the same bytes named as a LAS file", "a.las", shp, FormatKind::Unknown},
        {"irap binary named as a classic grid", "a.gri", irap_binary, FormatKind::Unknown},
        {"irap binary named irap", "a.irap", irap_binary, FormatKind::Unknown},
        {"text padded with NULs", "a.las", "~A\n1 2\n\0\0\0\0"s, FormatKind::Unknown},
        {"NULs beside control characters", "a.las", "~A\x01\0\0\x01"s, FormatKind::Unknown},
        // UTF-16 text is no binary: it is read as before (a line starting
        // with '~' where the text begins, otherwise by its name).
        {"utf-16le with bom", "a.las", "\xff\xfe"s + las_le, FormatKind::Las},
        {"utf-16be with bom", "a.las", "\xfe\xff"s + las_be, FormatKind::Las},
        {"utf-16be without bom", "a.las", las_be, FormatKind::Las},
        {"utf-16le without bom by content", "a.txt", las_le, FormatKind::Las},
        {"utf-16 cut inside a surrogate pair", "a.las", "\xff\xfe~\0\x3d\xd8"s, FormatKind::Las},
        {"utf-16 with a lone surrogate", "a.las", "\xff\xfe~\0\x00\xdc\n\0"s, FormatKind::Unknown},
        // A stray NUL in Latin-1 text does not make it binary.
        {"a stray NUL in text", "a.txt", "~Version\nnote\0 1\n"s, FormatKind::Las},
        {"no NUL at all", "a.gri", "\x01\x02\x03\n", FormatKind::IrapClassicGrid},
    };
    expect_detected(cases);
    EXPECT_EQ(FormatKind::sniff(irap_binary), FormatKind::Unknown);
}

TEST(FormatKind, DetectReadsOnlyTheHead) {
    testing::ScratchDir dir;
    // A LAS marker beyond the first 65,536 bytes is never seen.
    std::string content(65536, ' ');
    content += "\n~A\n";
    EXPECT_EQ(*FormatKind::detect(dir.write("a.txt", content)), FormatKind::Unknown);
    auto missing = FormatKind::detect(dir.path("absent.las"));
    ASSERT_FALSE(missing);
    EXPECT_EQ(missing.error().kind(), ErrorKind::Io);
}

TEST(FormatKind, Steps) {
    EXPECT_EQ(FormatKind::csv_header_tokens(" \"X\" ,\"\"y\"\", Z ,"),
              (std::vector<std::string>{"x", "y", "z", ""}));
    EXPECT_TRUE(FormatKind::csv_header_has_xyz({"depth", "easting", "northing"}));
    EXPECT_FALSE(FormatKind::csv_header_has_xyz({"x", "y", "zz"}));
    EXPECT_TRUE(FormatKind::looks_like_irap_grid("-996 0"));
    EXPECT_FALSE(FormatKind::looks_like_irap_grid("-996"));
    EXPECT_FALSE(FormatKind::looks_like_irap_grid("-996 1.0"));
    EXPECT_TRUE(FormatKind::looks_like_xyz("1 2 3"));
    EXPECT_FALSE(FormatKind::looks_like_xyz("1 2"));
    EXPECT_EQ(FormatKind::sniff(""), std::nullopt);
    EXPECT_EQ(FormatKind::from_extension("dir.las/file"), FormatKind::Unknown);
}

TEST(FormatKind, Fixtures) {
    EXPECT_EQ(*FormatKind::detect(testing::fixture("petrel_tops/export.tops")), FormatKind::PetrelTops);
    EXPECT_EQ(*FormatKind::detect(testing::fixture("cps3/top_brent.cps3grid")), FormatKind::Cps3Grid);
    EXPECT_EQ(*FormatKind::detect(testing::fixture("cps3/top_brent_truncated.cps3grid")), FormatKind::Cps3Grid);
}

// The real samples: every one is recognised by content or extension as the
// format of its folder.
TEST(FormatKind, SharedSamples) {
    struct Case {
        const char* file;
        FormatKind expected;
    };
    const Case cases[] = {
        {"las/lasio_2.0_sample.las", FormatKind::Las},
        {"las/lasio_enc_utf16le_bom.las", FormatKind::Las},
        {"las/lasio_enc_utf16be_nobom.las", FormatKind::Las},
        {"las/lasio_not_a_las_file.las", FormatKind::IrapClassicPoints},
        {"irap_grid/resdata_valid_rotm65.irap", FormatKind::IrapClassicGrid},
        {"irap_grid/resinsight_volantis_rot30.irap", FormatKind::IrapClassicGrid},
        {"earthvision/resinsight_norne_test.ptl", FormatKind::EarthVisionGrid},
        {"points_xyz/xtgeo_pointset2.poi", FormatKind::IrapClassicPoints},
        {"points_xyz/resinsight_tiny_tabs.dat", FormatKind::IrapClassicPoints},
        {"points_csv/xtgeo_poi_attr.csv", FormatKind::CsvPoints},
        {"polygons_irap/xtgeo_polset2.pol", FormatKind::IrapClassicPoints},
        {"geojson/fiona_trio_mixed_types.geojson", FormatKind::GeoJson},
        {"geojson/geojsonhint_rootstring.geojson", FormatKind::GeoJson},
        {"crs_xml/rasterio_rgb.jpg.aux.xml", FormatKind::CrsMetaXml},
        {"shapefile/gre.shp", FormatKind::Unknown},
        {"shapefile/gre.dbf", FormatKind::Unknown},
        {"shapefile/blockgroups.shx", FormatKind::Unknown},
        {"crs_prj/rasterio_box.prj", FormatKind::Unknown},
        {"polygons_csv/xtgeo_reek_faultpolys.csv", FormatKind::CsvPoints},
        {"las/lasio_only_ascii_section.las", FormatKind::Las},
    };
    for (const auto& c : cases) {
        auto p = testing::shared_data(c.file);
        if (p.empty()) GTEST_SKIP() << "shared samples absent";
        auto k = FormatKind::detect(p);
        ASSERT_TRUE(k) << c.file;
        EXPECT_EQ(k->name(), c.expected.name()) << c.file;
    }
}

}  // namespace
}  // namespace vz
