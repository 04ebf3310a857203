// Every reader and payload decoder, fed mutated copies of a small valid input
// (cut short, bytes flipped, numbers made hostile, pieces deleted, inserted
// or repeated), with fixed seeds: each input is read or refused with an
// error. Nothing crashes (the sanitizer pass checks memory), no exception
// leaves a reader, and where address-space limits work the whole run stays
// inside a budget, so a size taken from a file on trust shows up here.

#include <gtest/gtest.h>
#include <shapefil.h>

#include <array>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <random>
#include <string>
#include <string_view>
#include <vector>

#include "child_process.hpp"
#include "core/surface_convert.hpp"
#include "io/cps3.hpp"
#include "io/crsmeta.hpp"
#include "io/csv.hpp"
#include "io/detect.hpp"
#include "io/earthvision.hpp"
#include "io/geojson.hpp"
#include "io/irap.hpp"
#include "io/las.hpp"
#include "io/petrel_tops.hpp"
#include "io/points_load.hpp"
#include "io/shapefile.hpp"
#include "io/structured_load.hpp"
#include "io/surface_load.hpp"
#include "io/wellpath.hpp"
#include "io_test_util.hpp"
#include "manager/element.hpp"
#include "manager/geodata.hpp"

namespace vz {
namespace {

namespace fs = std::filesystem;

constexpr int kRounds = 2000;

// ---------------------------------------------------------------- seeds

const std::string kLas2 =
    "~VERSION INFORMATION\n VERS. 2.0 : v\n WRAP. NO : w\n~WELL\n STRT.M 1 : s\n NULL. -999.25 : n\n"
    "~CURVE\n DEPT.M : d\n GR.API : g\n RHOB.G/C3 : r\n~PARAMETER\n BHT.DEGC 35 : t\n~OTHER\n note\n"
    "~A  DEPT GR RHOB\n1.0 10 2.5\n1.5 -999.25 2.6\n2.0 12 \"x y\"\n2.5 7.020101130.188\n";
const std::string kLas2Wrapped =
    "~V\r VERS. 2.0\r WRAP. YES\r~C\r DEPT.M\r A.U\r B.U\r C.U\r~A\r1\r 10 20\r 30\r2\r 11 21 31\r";
const std::string kLas3 =
    "~Version\n VERS. 3.0\n DLM. COMMA\n~Well\n NULL. -1\n~Parameter_Definition\n P.u\n~Parameter_Data\n 5\n"
    "~Log_Definition\n DEPT.m : d\n GR.api : g\n~Log_Data | Log_Definition\n1,2\n3,-1\n5,,\n# c\n";
const std::string kWellpath =
    "# WELL TRACE FROM PETREL\n# WELL HEAD X-COORDINATE: 812.5 (m)\n# WELL HEAD Y-COORDINATE: 900 (m)\n"
    "# Datum KB = 25m\n# CRS: ED50\n=====\n  MD X Y Z TVD DX DY AZIM INCL DLS X\n"
    "0 812.5 900 25 0 0 0 0 0 0 0\n100 813 901 -50 -75 1 1 45 2.5 0 10.5\n200 814 902 -150 -175 2 2 46 3 0 11\n";
const std::string kPetrelTops =
    "# Petrel well tops\nVERSION 2\nBEGIN HEADER\nx\nEND HEADER\n"
    "1 2 3 4 5 6 1500.5 7 Horizon \"Top A\" \"W1\"\n1 2 3 4 5 6 1600 7 Horizon \"Top B\" W1\n"
    "1 2 3 4 5 6 1550 7 Other OWC W1_st1\n1 2 3 4 5 6 900 7 Horizon \"Top B\" W2\n";
const std::string kCrsMeta = "<crsmeta><label> ED50 / UTM 31N </label><crs name='EPSG:23031'/>&amp;</crsmeta>";
const std::string kTopsCsv = "name,md\nTop A,1000\n\"Top, B\",1100.5\nTop C,nan\n";
const std::string kPointsCsv = "x,y,z,a,b\n1,2,3,4,w\n5,6,7,8,9\n10,11,12,13,14\n";
const std::string kIrapGrid =
    "-996 2 25 25\n1000 1050 2000 2025\n3 0 1000 2000\n0  0  0  0  0  0  0\n1 2 3 4 9999900 6.5\n";
const std::string kIrapPoints = "# pts\n1 2 3\n4,5,6\n999 999 999\n7 8 9\n";
const std::string kIrapPolygons = "1 2 3\n4 5 6\n7 8 9\n999 0 0\n1 1 1\n2 2 2\n3 3 3\n";
const std::string kCps3Grid =
    "FFASCI 0 1 \"COLUMN\" GRID 2\nFSASCI 0 1 COMPUTED 0 -999\nFSLIMI 0 100 10 20 -5 5\nFSNROW 2 3\n"
    "FSXINC 50 10\n->Default\n1 2 -999\n4 5 6\n";
const std::string kCps3Lines = "->A\n1 2 3\n4 5 6\n->B\n7 8 9\n10 11 12\n";
const std::string kEarthVision =
    "# Type: scattered data\n# EarthVision\n# Grid_size: 3 x 2\n# Field: 4 column\n# Null_value: -999\n"
    "1 2 3 1 1\n2 2 3 2 1\n3 2 4 3 1\n1 3 5 1 2\n2 3 -999 2 2\n3 3 6 3 2\n";
const std::string kGeoJson =
    R"({"type":"FeatureCollection","features":[)"
    R"({"type":"Feature","geometry":{"type":"Point","coordinates":[1,2,3]},"properties":{"a":1,"b":true,"c":"x"}},)"
    R"({"type":"Feature","geometry":null,"properties":{"z":2}},)"
    R"({"type":"Feature","geometry":{"type":"Polygon","coordinates":[[[0,0],[1,0],[1,1],[0,0]]]},"properties":null},)"
    R"({"type":"Feature","geometry":{"type":"GeometryCollection","geometries":[{"type":"LineString",)"
    R"("coordinates":[[0,0],[2,2]]},{"type":"MultiPoint","coordinates":[[5,5]]}]},"properties":{"a":2.5}}]})";

std::string slurp(const fs::path& p) {
    std::ifstream f(p, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(f), {});
}

/// A polygon shapefile of two records: the bytes of its .shp and .shx.
std::array<std::string, 2> shapefile_seed(const testing::ScratchDir& dir) {
    const auto base = dir.path("seed");
    SHPHandle h = SHPCreate(base.c_str(), SHPT_POLYGON);
    const int parts[] = {0, 4};
    const double x[] = {0, 1, 1, 0, 5, 6, 6, 5}, y[] = {0, 0, 1, 0, 5, 5, 6, 5};
    for (int k = 0; k < 2; ++k) {
        SHPObject* o = SHPCreateObject(SHPT_POLYGON, -1, 2, parts, nullptr, 8, x, y, nullptr, nullptr);
        SHPWriteObject(h, -1, o);
        SHPDestroyObject(o);
    }
    SHPClose(h);
    return {slurp(dir.path("seed.shp")), slurp(dir.path("seed.shx"))};
}

template <class T>
std::string bytes_of(const Result<T>& r) {
    EXPECT_TRUE(r) << r.error().display();
    return r ? std::string(r->begin(), r->end()) : std::string();
}

// ---------------------------------------------------------------- mutations

const char* const kHostileNumbers[] = {
    "0",        "-1",         "4294967295",          "4294967296", "18446744073709551615", "18446744073709551616",
    "1e308",    "-1e308",     "1152921504606846976", "nan",        "inf",                  "0.5",
    "99999999999999999999999", "137438953473", "9223372036854775807",
};

/// A copy of `s` changed in one of several ways, some of them aimed at the
/// numbers that describe sizes.
std::string mutate(const std::string& s, std::mt19937_64& rng, bool binary) {
    std::string t = s;
    auto at = [&](std::size_t n) { return n == 0 ? std::size_t{0} : static_cast<std::size_t>(rng() % n); };
    switch (rng() % 6) {
        case 0: t.resize(at(t.size() + 1)); break;
        case 1:
            for (int k = 1 + static_cast<int>(rng() % 4); k > 0 && !t.empty(); --k)
                t[at(t.size())] = static_cast<char>(rng());
            break;
        case 2:
            if (binary) {
                // A little-endian 32- or 64-bit size put over whatever stood there.
                const std::uint64_t values[] = {0xFFFFFFFFu, 0x7FFFFFFFu, 0x80000000u, std::uint64_t{1} << 60,
                                                ~std::uint64_t{0}, 1000000000u};
                const std::uint64_t v = values[rng() % std::size(values)];
                const std::size_t width = rng() % 2 ? 4 : 8;
                if (t.size() >= width) {
                    const std::size_t p = at(t.size() - width + 1);
                    for (std::size_t i = 0; i < width; ++i) t[p + i] = static_cast<char>(v >> (8 * i));
                }
            } else {
                // A run of digits becomes a hostile number.
                std::vector<std::size_t> starts;
                for (std::size_t i = 0; i < t.size(); ++i)
                    if (std::isdigit(static_cast<unsigned char>(t[i])) &&
                        (i == 0 || !std::isdigit(static_cast<unsigned char>(t[i - 1]))))
                        starts.push_back(i);
                if (!starts.empty()) {
                    const std::size_t b = starts[at(starts.size())];
                    std::size_t e = b;
                    while (e < t.size() && (std::isdigit(static_cast<unsigned char>(t[e])) || t[e] == '.')) ++e;
                    t.replace(b, e - b, kHostileNumbers[rng() % std::size(kHostileNumbers)]);
                }
            }
            break;
        case 3: {
            const std::size_t b = at(t.size() + 1);
            t.erase(b, 1 + rng() % 16);
            break;
        }
        case 4: {
            static const std::string_view pieces[] = {"\r", "\n", "~", "\"", "#", "->", " 999 ", ",", "\t",
                                                      "\xA0", "{", "]", "~A\n", std::string_view("\0", 1)};
            std::string piece = rng() % 2 ? std::string(pieces[rng() % std::size(pieces)])
                                          : std::string(1 + rng() % 8, static_cast<char>(rng()));
            t.insert(at(t.size() + 1), piece);
            break;
        }
        default: {
            // A slice repeated elsewhere (rows, sections, records twice).
            if (t.empty()) break;
            const std::size_t b = at(t.size());
            const std::string slice = t.substr(b, 1 + rng() % 64);
            for (int k = 1 + static_cast<int>(rng() % 3); k > 0; --k) t.insert(at(t.size() + 1), slice);
            break;
        }
    }
    return t;
}

// ---------------------------------------------------------------- readers

/// One reader: how to make its valid input, and how to read one input (from
/// the file at the path, or from the bytes for payload decoders). `read`
/// tells whether the input was read; a refusal is as good an outcome.
struct Reader {
    std::string name;
    std::string file;
    std::function<std::string(const testing::ScratchDir&)> seed;
    std::function<bool(const fs::path&, const std::string&)> read;
    bool binary = false;
};

template <class T>
bool ok(const Result<T>& r) {
    return r.has_value();
}

std::span<const std::uint8_t> span_of(const std::string& b) {
    return {reinterpret_cast<const std::uint8_t*>(b.data()), b.size()};
}

/// A project with two wells, the owners of the picks of the tops seed.
GeoData project_with_wells(const testing::ScratchDir& dir) {
    GeoData g = GeoData::make(LengthUnit::Metres);
    const auto well = dir.path("W1.wellpath");
    std::ofstream(well) << kWellpath;
    EXPECT_TRUE(g.load_well("W1", {0, 0}, 0, well));
    EXPECT_TRUE(g.load_well("W2", {0, 0}, 0, well));
    return g;
}

std::vector<Reader> readers() {
    auto text = [](const std::string& s) { return [s](const testing::ScratchDir&) { return s; }; };
    std::vector<Reader> out = {
        {"las_v2", "a.las", text(kLas2), [](const fs::path& p, auto&) { return ok(las::read_logs(p)); }},
        {"las_v2_wrapped", "a.las", text(kLas2Wrapped), [](const fs::path& p, auto&) { return ok(las::read_logs(p)); }},
        {"las_v3", "a.las", text(kLas3), [](const fs::path& p, auto&) { return ok(las::read_logs(p)); }},
        {"wellpath", "w.wellpath", text(kWellpath), [](const fs::path& p, auto&) { return ok(wellpath::read_file(p)); }},
        {"petrel_tops", "t.tops", text(kPetrelTops),
         [](const fs::path& p, auto&) { return ok(petrel_tops::read_file(p)); }},
        {"crsmeta", "c.xml", text(kCrsMeta), [](const fs::path& p, auto&) { return ok(crsmeta::read_crs_label(p)); }},
        {"tops_csv", "t.csv", text(kTopsCsv),
         [](const fs::path& p, auto&) { return ok(tops_csv::read_file(p, "name", "md")); }},
        {"points_csv", "p.csv", text(kPointsCsv),
         [](const fs::path& p, auto&) { return ok(points_load::load_csv(p, "x", "y", "z")); }},
        {"irap_grid", "g.irap", text(kIrapGrid),
         [](const fs::path& p, auto&) { return ok(surface_load::load_irap_classic(p)); }},
        {"irap_points", "p.xyz", text(kIrapPoints),
         [](const fs::path& p, auto&) { return ok(points_load::load_irap_points(p)); }},
        {"irap_polygons", "p.pol", text(kIrapPolygons),
         [](const fs::path& p, auto&) { return ok(polygons_load::load_irap_polygons(p)); }},
        {"cps3_grid", "g.cps3grid", text(kCps3Grid),
         [](const fs::path& p, auto&) { return ok(surface_load::load_cps3_grid(p)); }},
        {"cps3_lines", "l.cps3lines", text(kCps3Lines),
         [](const fs::path& p, auto&) { return ok(polygons_load::load_cps3_lines(p)); }},
        {"earthvision_points", "g.ev", text(kEarthVision),
         [](const fs::path& p, auto&) { return ok(points_load::load_earthvision_grid(p)); }},
        {"earthvision_structured", "g.ev", text(kEarthVision),
         [](const fs::path& p, auto&) { return ok(structured_load::load_earthvision_grid(p)); }},
        {"geojson_points", "p.geojson", text(kGeoJson),
         [](const fs::path& p, auto&) { return ok(points_load::load_geojson(p)); }},
        {"geojson_polygons", "p.geojson", text(kGeoJson),
         [](const fs::path& p, auto&) { return ok(polygons_load::load_geojson(p)); }},
        {"detect", "d.las", text(kLas2), [](const fs::path& p, auto&) { return ok(FormatKind::detect(p)); }},
    };

    // The shapefile: the .shp mutated beside an intact index, or the index
    // mutated beside an intact .shp.
    for (int index = 0; index < 2; ++index) {
        Reader r;
        r.name = index ? "shapefile_index" : "shapefile";
        r.file = index ? "s.shx" : "s.shp";
        r.binary = true;
        r.seed = [index](const testing::ScratchDir& dir) {
            const auto seed = shapefile_seed(dir);
            std::ofstream(dir.path(index ? "s.shp" : "s.shx"), std::ios::binary) << seed[index ? 0 : 1];
            return seed[index];
        };
        r.read = [](const fs::path& p, const std::string&) {
            return ok(shapefile::read_polygons(fs::path(p).replace_extension(".shp")));
        };
        out.push_back(std::move(r));
    }

    // Loading tops into a project runs the reader and the order inference.
    out.push_back({"load_well_tops", "t.tops", text(kPetrelTops), [](const fs::path& p, auto&) {
                       testing::ScratchDir scratch;
                       GeoData g = project_with_wells(scratch);
                       return ok(g.load_well_tops(p));
                   }});

    // Payload decoders, both schema versions, on the bytes of elements read
    // from the seeds above.
    auto payload = [&](std::string name, std::function<std::string(const testing::ScratchDir&)> seed,
                       std::function<bool(std::uint32_t, std::span<const std::uint8_t>)> decode) {
        Reader r;
        r.name = std::move(name);
        r.file = "payload.bin";
        r.binary = true;
        r.seed = std::move(seed);
        r.read = [decode](const fs::path&, const std::string& bytes) {
            const bool v1 = decode(1, span_of(bytes));
            return decode(2, span_of(bytes)) || v1;
        };
        out.push_back(std::move(r));
    };
    auto written = [](const testing::ScratchDir& dir, const std::string& name, const std::string& content) {
        const auto p = dir.path(name);
        std::ofstream(p, std::ios::binary) << content;
        return p;
    };
    payload(
        "well_payload",
        [](const testing::ScratchDir& dir) {
            GeoData g = project_with_wells(dir);
            return bytes_of(element::serialize_well(g.wells.begin()->second));
        },
        [](std::uint32_t v, auto b) { return ok(element::decode_well(v, b)); });
    payload(
        "surface_payload",
        [written](const testing::ScratchDir& dir) {
            auto s = surface_load::load_irap_classic(written(dir, "g.irap", kIrapGrid));
            EXPECT_TRUE(s && s->set_attr("lane", s->values));
            return bytes_of(element::serialize_surface(*s));
        },
        [](std::uint32_t v, auto b) { return ok(element::decode_surface(v, b)); });
    payload(
        "structured_payload",
        [written](const testing::ScratchDir& dir) {
            auto s = structured_load::load_earthvision_grid(written(dir, "g.ev", kEarthVision));
            return bytes_of(element::serialize_structured_mesh(*s));
        },
        [](std::uint32_t v, auto b) { return ok(element::decode_structured_mesh(v, b)); });
    payload(
        "tri_payload",
        [written](const testing::ScratchDir& dir) {
            auto s = surface_load::load_irap_classic(written(dir, "g.irap", kIrapGrid));
            auto t = surface_convert::to_tri_surface(*s);
            return bytes_of(element::serialize_tri_surface(*t));
        },
        [](std::uint32_t v, auto b) { return ok(element::decode_tri_surface(v, b)); });
    payload(
        "points_payload",
        [written](const testing::ScratchDir& dir) {
            auto s = points_load::load_csv(written(dir, "p.csv", kPointsCsv), "x", "y", "z");
            return bytes_of(element::serialize_points(*s));
        },
        [](std::uint32_t v, auto b) { return ok(element::decode_points(v, b)); });
    payload(
        "polygons_payload",
        [written](const testing::ScratchDir& dir) {
            auto s = polygons_load::load_geojson(written(dir, "p.geojson", kGeoJson));
            return bytes_of(element::serialize_polygons(*s));
        },
        [](std::uint32_t v, auto b) { return ok(element::decode_polygons(v, b)); });
    return out;
}

void PrintTo(const Reader& r, std::ostream* os) { *os << r.name; }

class ReaderFuzz : public ::testing::TestWithParam<Reader> {};

TEST_P(ReaderFuzz, MutatedInputsAreReadOrRefused) {
    const Reader& r = GetParam();
    testing::ScratchDir dir;
    const std::string seed = r.seed(dir);
    const fs::path path = dir.path(r.file);
    std::ofstream(path, std::ios::binary) << seed;
    ASSERT_TRUE(r.read(path, seed)) << "the seed of " << r.name << " must read";

    auto run = [&]() -> std::string {
        std::uint64_t seed_of_name = 20;
        for (char c : r.name) seed_of_name = seed_of_name * 131 + static_cast<unsigned char>(c);
        std::mt19937_64 rng(seed_of_name);
        int read = 0;
        for (int round = 0; round < kRounds; ++round) {
            const std::string input = mutate(seed, rng, r.binary);
            std::ofstream(path, std::ios::binary | std::ios::trunc) << input;
            try {
                read += r.read(path, input) ? 1 : 0;
            } catch (const std::exception& e) {
                return r.name + " round " + std::to_string(round) + ": escaped exception: " + e.what();
            }
        }
        // The mutations leave many inputs readable: the reader was reached.
        return read > 0 ? "" : r.name + ": no mutated input was read";
    };
    const std::string report =
        testing::kAddressLimitWorks ? testing::run_with_memory_budget(std::size_t{1} << 30, run) : run();
    EXPECT_EQ(report, "");
}

INSTANTIATE_TEST_SUITE_P(EveryReader, ReaderFuzz, ::testing::ValuesIn(readers()),
                         [](const ::testing::TestParamInfo<Reader>& info) { return info.param.name; });

}  // namespace
}  // namespace vz
