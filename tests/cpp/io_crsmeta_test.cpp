#include <gtest/gtest.h>

#include <string>

#include "io/crsmeta.hpp"
#include "io_test_util.hpp"

namespace vz {
namespace {

TEST(CrsMeta, ReadLabel) {
    struct Case {
        const char* name;
        std::string content;
        std::optional<std::string> label;  // none: the no-label failure
    };
    const Case cases[] = {
        {"label element", "<crsmeta><label> ED50 / UTM 31N </label></crsmeta>", "ED50 / UTM 31N"},
        {"upper-case tags", "<CRSMETA><LABEL>WGS 84</Label></CRSMETA>", "WGS 84"},
        {"blank label decides", "<label>   </label><crs>x</crs>", std::nullopt},
        {"label with attribute skipped", "<label id='1'>a</label><crs>EPSG:23031</crs>", "EPSG:23031"},
        {"multi-line", "<label>\n  line one\n  line two\n</label>", "line one\n  line two"},
        {"single-quoted name", "<crs name='ETRS89'/>", "ETRS89"},
        {"label attribute before name", "<crs name=\"N\" label=\"L\"/>", "L"},
        {"empty attribute falls to single quotes", "<a name=\"\" name='S'/>", "S"},
        {"filename matches name", "<file filename=\"f.shp\"/>", "f.shp"},
        {"unclosed element", "<label>abc", std::nullopt},
        {"one pass of entities", "<label>&amp;lt; &lt; &quot;q&quot; &apos; &#38; &gt;</label>", "&lt; < \"q\" ' &#38; >"},
        {"latin-1", "<label>Bj\xF8rnefjell</label>", "Bj\xC3\xB8rnefjell"},
        {"empty file", "", std::nullopt},
    };
    for (const auto& c : cases) {
        testing::ScratchDir dir;
        auto p = dir.write("crs.xml", c.content);
        auto r = crsmeta::read_crs_label(p);
        if (c.label) {
            ASSERT_TRUE(r) << c.name << ": " << r.error().display();
            EXPECT_EQ(*r, *c.label) << c.name;
        } else {
            ASSERT_FALSE(r) << c.name;
            EXPECT_EQ(r.error(), Error::parse("crsmeta '" + p.string() + "': no CRS label found")) << c.name;
        }
    }
    testing::ScratchDir dir;
    auto missing = crsmeta::read_crs_label(dir.path("absent.xml"));
    ASSERT_FALSE(missing);
    EXPECT_EQ(missing.error().kind(), ErrorKind::Io);
}

// The real XML side files of other tools (GDAL's SRS elements) carry none
// of the label forms: both are refused with the no-label message.
TEST(CrsMeta, SharedSamples) {
    for (const char* f : {"crs_xml/rasterio_compdcs.vrt", "crs_xml/rasterio_rgb.jpg.aux.xml"}) {
        auto p = testing::shared_data(f);
        if (p.empty()) GTEST_SKIP() << "shared samples absent";
        auto r = crsmeta::read_crs_label(p);
        ASSERT_FALSE(r) << f;
        EXPECT_EQ(r.error(), Error::parse("crsmeta '" + p.string() + "': no CRS label found")) << f;
    }
}

}  // namespace
}  // namespace vz
