#include <gtest/gtest.h>

#include <stdlib.h>

#include <algorithm>
#include <cctype>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <limits>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "container/container.hpp"
#include "core/shell/mesh.hpp"
#include "manager/asset.hpp"
#include "manager/element.hpp"
#include "manager/geodata.hpp"
#include "manager/payload.hpp"
#include "manager/project.hpp"
#include "manager/project_rules.hpp"

namespace vz::project {
namespace {

namespace fs = std::filesystem;
using container::Json;
using Bytes = std::vector<std::uint8_t>;

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

template <class T>
T ok(Result<T> r) {
    if (!r) ADD_FAILURE() << r.error().display();
    return std::move(r).value();  // throws on failure, which fails the test
}

void ok(const Result<void>& r) { EXPECT_TRUE(r.has_value()) << (r ? "" : r.error().display()); }

/// A fresh directory per test, removed afterwards.
class TempDir {
public:
    TempDir() {
        std::string tmpl = (fs::temp_directory_path() / "vz_project_XXXXXX").string();
        EXPECT_NE(::mkdtemp(tmpl.data()), nullptr);
        path_ = tmpl;
    }
    ~TempDir() {
        std::error_code ec;
        fs::remove_all(path_, ec);
    }
    fs::path operator/(std::string_view name) const { return path_ / name; }

private:
    fs::path path_;
};

Bytes read_file(const fs::path& p) {
    std::ifstream in(p, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

std::string error_text(const Result<void>& r) { return r ? std::string("<success>") : r.error().display(); }
template <class T>
std::string error_text(const Result<T>& r) {
    return r ? std::string("<success>") : r.error().display();
}
std::string error_text(const ToolsResult<void>& r) { return r ? std::string("<success>") : Error(r.error()).display(); }

const std::string kEnvelope = R"({"asset_type":"logo","codec":"png","provider":"test","schema_version":1})";
Bytes bytes_of(std::string_view s) { return Bytes(s.begin(), s.end()); }

// ------------------------------------------------------------------ fixtures

Well well(std::string name, double kb) {
    Well w = Well::make(std::move(name), 100.0, 200.0, kb, "EPSG:4326");
    Sidetrack& b = w.sidetrack_entry("");
    b.trajectories.push_back(ok(Trajectory::from_station_records(
        {{0.0, 100.0, 200.0, -kb, Tangent{0, 0, 1}}, {500.0, 101.0, 202.0, 500.0 - kb, Tangent{0.01, 0.02, 0.99}}})));
    b.logs.push_back(ok(Log::make("GR", "API", {10.0, 20.0, 30.0}, {50.0, kNaN, 70.0})));
    b.tops = {{"Top A", 100.0}, {"Top B", 300.0}};
    b.contacts = {{"GOC", 250.0}};
    b.strat_order = {"Top A", "Top B"};
    Sidetrack& st = w.sidetrack_entry("ST1");
    st.tops = {{"Top A", 110.0}};
    return w;
}

Surface regular(double base) {
    Surface s = ok(Surface::make(GridGeometry{0, 0, 10, 10, 3, 2, 30.0, false},
                                 Grid2(3, 2, std::vector<double>{base, base + 1, kNaN, base + 3, base + 4, base + 5})));
    AttributeMetadata facies{"facies", "Facies", AttributeKind::Categorical, std::nullopt, CodeTable{}};
    facies.codes->insert({"2", CodeRecord{"Sand", "#FFCC00"}});
    facies.codes->insert({"1", CodeRecord{"Shale", "#553311"}});
    EXPECT_TRUE(s.set_attr_with_metadata("facies", Grid2(3, 2, std::vector<double>{1, 2, 2, 1, kNaN, 1}), facies));
    EXPECT_TRUE(s.set_attr("poro", Grid2(3, 2, 0.2)));
    return s;
}

StructuredMeshSurface structured() {
    Grid2 x(2, 2, std::vector<double>{0, 0, 1, 1});
    Grid2 y(2, 2, std::vector<double>{0, 1, 0, 1});
    PolygonSet edge;
    edge.polygons.push_back(Polygon::closed({{0, 0}, {1, 0}, {1, 1}, {0, 1}}));
    return ok(StructuredMeshSurface::make(x, y, Grid2(2, 2, 5.0), std::nullopt, edge));
}

TriSurface tri() {
    auto shell = std::make_shared<const MeshShell>(ok(MeshShell::from_grid_geometry(GridGeometry{0, 0, 1, 1, 2, 2, 0, false})));
    return ok(TriSurface::from_shell(shell, {1.0, 2.0, 3.0, 4.0}));
}

/// A project holding every element kind, tags, hints, an owner, a creation
/// time, model sections and assets, loaded in a deliberately mixed order.
GeoData full_project() {
    GeoData p = GeoData::make(LengthUnit::Feet);
    ok(p.set_display_name("North Sea"));
    ok(p.set_crs("EPSG:23031"));
    p.set_owner(" geo team ");
    p.set_tags({"release", "2024"});
    p.created = 1700000000;
    p.push_strat_hint("Top A", "Top B");
    p.push_strat_hint("Top B", "Base");
    p.strat_order = {"Top A", "Top B", "Base"};

    PolygonSet outline;
    outline.polygons.push_back(Polygon::closed({{0, 0}, {4, 0}, {4, 4}}, {{{1, 1}, {2, 1}, {2, 2}}}));
    outline.attributes.insert({"id", {7.0}});
    outline.history = History({"polygons.from_rings"});
    p.polygon_sets.insert({"lease", outline});

    PointSet pts = PointSet::from_coords({{1, 2, 3}, {4, 5, kNaN}});
    EXPECT_TRUE(pts.set_attr("amp", {0.5, -0.5}));
    p.point_sets.insert({"picks", pts});

    p.wells.insert({"W2", well("W2", 30.0)});
    p.wells.insert({"W1", well("W1", 25.0)});

    p.tri_surfaces.insert({"tin", tri()});
    p.surfaces.insert({"top", regular(1000.0)});
    p.structured_surfaces.insert({"mesh", structured()});
    p.surfaces.insert({"base", regular(2000.0)});
    p.surface_order = {"top", "mesh", "tin", "base"};

    p.set_element_tags("top", {"horizons", "export"});
    p.set_element_tags("W1", {"wells"});
    p.set_element_tags("not-an-element", {"kept"});

    p.put_model_section("velocity", {"models"}, 3, {1, 2, 3, 4});
    ok(p.add_asset("@asset/maps/logo", "logo", bytes_of(kEnvelope), {"export"}, 1, {0x89, 0x50, 0x4E, 0x47}));
    return p;
}

template <class M, class Ser>
void expect_same_map(const M& a, const M& b, Ser ser, const char* what) {
    ASSERT_EQ(a.size(), b.size()) << what;
    auto ia = a.begin();
    auto ib = b.begin();
    for (; ia != a.end(); ++ia, ++ib) {
        EXPECT_EQ(ia->first, ib->first) << what;
        // The payload encoding holds every field, bit for bit.
        EXPECT_EQ(ok(ser(ia->second)), ok(ser(ib->second))) << what << " " << ia->first;
    }
}

void expect_same_project(const GeoData& a, const GeoData& b) {
    EXPECT_EQ(a.unit, b.unit);
    EXPECT_EQ(a.display_name, b.display_name);
    EXPECT_EQ(a.crs, b.crs);
    EXPECT_EQ(a.owner, b.owner);
    EXPECT_EQ(a.tags, b.tags);
    EXPECT_EQ(a.created, b.created);
    EXPECT_EQ(a.strat_hints, b.strat_hints);
    EXPECT_EQ(a.strat_order, b.strat_order);
    EXPECT_EQ(a.surface_order, b.surface_order);
    EXPECT_EQ(a.model_sections, b.model_sections);
    expect_same_map(a.wells, b.wells, element::serialize_well, "wells");
    expect_same_map(a.surfaces, b.surfaces, element::serialize_surface, "surfaces");
    expect_same_map(a.structured_surfaces, b.structured_surfaces, element::serialize_structured_mesh, "structured");
    expect_same_map(a.tri_surfaces, b.tri_surfaces, element::serialize_tri_surface, "tri");
    expect_same_map(a.point_sets, b.point_sets, element::serialize_points, "points");
    expect_same_map(a.polygon_sets, b.polygon_sets, element::serialize_polygons, "polygons");
    ASSERT_EQ(a.assets.size(), b.assets.size());
    for (auto ia = a.assets.begin(), ib = b.assets.begin(); ia != a.assets.end(); ++ia, ++ib) {
        EXPECT_EQ(ia->first, ib->first);
        EXPECT_EQ(ia->second.kind, ib->second.kind);
        EXPECT_EQ(ia->second.envelope, ib->second.envelope);
        EXPECT_EQ(ia->second.tags, ib->second.tags);
        EXPECT_EQ(ia->second.data, ib->second.data);
        EXPECT_EQ(ia->second.version, ib->second.version);
    }
}

/// Writes a container from sections (data uncompressed) and an app value.
void write_container(const fs::path& path, const Json& app, std::vector<container::Section> sections,
                     std::uint32_t schema = 2) {
    auto r = container::save(path, app, schema, sections);
    ASSERT_TRUE(r.has_value()) << Error(r.error()).display();
}

Json app_with(std::initializer_list<std::pair<std::string, Json>> members) {
    Json app = Json::object({{"unit", Json("Metres")}});
    for (const auto& [k, v] : members) app.set(k, v);
    return app;
}

container::Section section(std::string kind, std::string name, Bytes data, std::uint32_t version = 2,
                           std::vector<std::string> tags = {}) {
    return container::Section{std::move(kind), std::move(name), std::move(tags), std::move(data), version};
}

Bytes well_bytes(std::string name) { return ok(element::serialize_well(Well::make(std::move(name), 0, 0, 0))); }

// ================================================================ save and open

TEST(ProjectSave, FullProjectOpensEqualAndSavesAgainIdentically) {
    TempDir dir;
    const GeoData p = full_project();
    ok(save(p, dir / "a.zedod"));
    const GeoData back = ok(open(dir / "a.zedod"));
    expect_same_project(p, back);
    // Tags come back for elements only; a tag list under a name no element
    // bears is not a section and is not saved.
    EXPECT_EQ(back.element_tags.size(), 2u);
    EXPECT_EQ(back.element_tags.at("top"), (std::vector<std::string>{"horizons", "export"}));
    EXPECT_EQ(back.element_tags.at("W1"), std::vector<std::string>{"wells"});
    // The asset opened from a file carries its frame and writes it back.
    ASSERT_TRUE(back.assets.at("@asset/maps/logo").frame.has_value());
    EXPECT_EQ(*back.assets.at("@asset/maps/logo").frame,
              ok(asset::encode_frame(bytes_of(kEnvelope), Bytes{0x89, 0x50, 0x4E, 0x47})));

    ok(save(back, dir / "b.zedod"));
    auto a = container::open(dir / "a.zedod");
    auto b = container::open(dir / "b.zedod");
    ASSERT_TRUE(a && b);
    // Only "modified" may differ (the clock may tick between the saves); it
    // has the same number of digits, so the files have the same length.
    Json app_b = b->header.app;
    app_b.set("modified", *a->header.app.find("modified"));
    EXPECT_EQ(a->header.app, app_b);
    EXPECT_EQ(a->header.sections, b->header.sections);
    EXPECT_EQ(read_file(dir / "a.zedod").size(), read_file(dir / "b.zedod").size());
    for (const container::Entry& e : a->header.sections) {
        EXPECT_EQ(ok(Result<Bytes>(container::read_section_raw(*a, e.name))),
                  ok(Result<Bytes>(container::read_section_raw(*b, e.name))))
            << e.name;
    }
}

TEST(ProjectSave, SectionOrderAndMetadataRecord) {
    TempDir dir;
    ok(save(full_project(), dir / "p.zedod"));
    const ManifestSummary s = ok(inspect(dir / "p.zedod"));
    const std::vector<std::pair<std::string, std::string>> expected = {
        {"surface", "top"},  {"structured_mesh", "mesh"}, {"tri_surface", "tin"}, {"surface", "base"},
        {"well", "W2"},      {"well", "W1"},              {"points", "picks"},    {"polygons", "lease"},
        {"model", "velocity"}, {"asset", "@asset/maps/logo"}};
    EXPECT_EQ(s.elements, expected);
    EXPECT_EQ(s.unit, "Feet");
    EXPECT_EQ(s.display_name, "North Sea");
    EXPECT_EQ(s.owner, " geo team ");
    EXPECT_EQ(s.created, 1700000000u);
    ASSERT_TRUE(s.modified.has_value());

    auto c = container::open(dir / "p.zedod");
    ASSERT_TRUE(c);
    EXPECT_EQ(c->element_schema_version, 2u);
    // The record holds exactly its ten keys.
    std::vector<std::string> keys;
    for (const auto& [k, v] : *c->header.app.as_object()) keys.push_back(k);
    EXPECT_EQ(keys, (std::vector<std::string>{"created", "crs", "display_name", "modified", "owner", "strat_hints",
                                              "strat_order", "tags", "unit", "voridez_version"}));
    EXPECT_EQ(container::to_json_text(*c->header.app.find("strat_hints")), R"([["Top A","Top B"],["Top B","Base"]])");
    EXPECT_EQ(*c->header.app.find("voridez_version")->as_string(), "0.3.15");
    for (const container::Entry& e : c->header.sections) {
        EXPECT_EQ(e.version, e.kind == "model" ? 3u : e.kind == "asset" ? 1u : 2u) << e.name;
    }
    EXPECT_EQ(c->header.sections[0].tags, (std::vector<std::string>{"horizons", "export"}));
    EXPECT_EQ(c->header.sections[8].tags, std::vector<std::string>{"models"});
}

TEST(ProjectSave, EmptyProjectWritesOnlyTheRecord) {
    TempDir dir;
    const std::uint64_t before = now_unix_seconds();
    ok(save(GeoData::make(LengthUnit::Metres), dir / "e.zedod"));
    auto c = container::open(dir / "e.zedod");
    ASSERT_TRUE(c);
    EXPECT_TRUE(c->header.sections.empty());
    const Json& app = c->header.app;
    ASSERT_TRUE(app.find("created") && app.find("created")->as_u64());
    const std::uint64_t t = *app.find("created")->as_u64();
    EXPECT_GE(t, before);
    EXPECT_EQ(container::to_json_text(app),
              "{\"created\":" + std::to_string(t) + ",\"crs\":null,\"display_name\":null,\"modified\":" +
                  std::to_string(t) +
                  ",\"owner\":null,\"strat_hints\":[],\"strat_order\":[],\"tags\":[],\"unit\":\"Metres\","
                  "\"voridez_version\":\"0.3.15\"}");
    const GeoData back = ok(open(dir / "e.zedod"));
    EXPECT_EQ(back.unit, LengthUnit::Metres);
    EXPECT_EQ(back.created, app.find("created")->as_u64());
}

TEST(ProjectSave, AtAssetLikeNameThatIsNotThePrefixIsFine) {
    TempDir dir;
    GeoData p = GeoData::make(LengthUnit::Metres);
    p.wells.insert({"@asse", Well::make("@asse", 0, 0, 0)});
    ok(save(p, dir / "ok.zedod"));
    EXPECT_EQ(ok(open(dir / "ok.zedod")).wells.begin()->first, "@asse");
}

struct SaveFailure {
    const char* name;
    std::function<void(GeoData&)> edit;
    std::string display;
};

void PrintTo(const SaveFailure& c, std::ostream* os) { *os << c.name; }

class ProjectSaveFailure : public ::testing::TestWithParam<SaveFailure> {};

TEST_P(ProjectSaveFailure, RefusesBeforeWritingAnything) {
    TempDir dir;
    GeoData p = full_project();
    GetParam().edit(p);
    EXPECT_EQ(error_text(save(p, dir / "x.zedod")), GetParam().display);
    EXPECT_FALSE(fs::exists(dir / "x.zedod"));
    EXPECT_FALSE(fs::exists(dir / "x.zedod.tmp"));
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ProjectSaveFailure,
    ::testing::Values(
        SaveFailure{"untrimmed display name", [](GeoData& p) { p.display_name = "North Sea "; },
                    "parse error: project display name must be null or a non-empty, trimmed string"},
        SaveFailure{"empty crs", [](GeoData& p) { p.crs = ""; },
                    "parse error: project CRS must be null or a non-empty, trimmed string"},
        SaveFailure{"reserved prefix", [](GeoData& p) { p.wells.insert({"@asset/x", Well::make("@asset/x", 0, 0, 0)}); },
                    "parse error: project element name '@asset/x' uses reserved prefix '@asset/'"},
        SaveFailure{"reserved prefix on a model section",
                    [](GeoData& p) { p.put_model_section("@asset/m/n", {}, 1, {}); },
                    "parse error: project element name '@asset/m/n' uses reserved prefix '@asset/'"},
        SaveFailure{"surface order names a missing surface", [](GeoData& p) { p.surface_order.push_back("gone"); },
                    "not found: surface order references missing surface 'gone'"},
        SaveFailure{"a surface that cannot be encoded is met before a later missing one",
                    [](GeoData& p) {
                        p.surfaces.at("top").history.push("\xff");
                        p.surface_order.push_back("gone");
                    },
                    "parse error: serialize: string is not valid utf8: invalid utf-8 sequence of 1 bytes from index 0"},
        SaveFailure{"an element name that is not UTF-8 would make a file no reader opens",
                    [](GeoData& p) { p.point_sets.insert({"P\xff", PointSet{}}); },
                    "invalid argument: section 7 has a kind, name or tag that is not valid UTF-8 text"},
        SaveFailure{"well and point set share a name",
                    [](GeoData& p) { p.point_sets.insert({"W1", PointSet{}}); },
                    "parse error: project element name 'W1' is used by a well and a point set; a project file holds "
                    "one section per name, rename one of them before saving"},
        SaveFailure{"surface and model section share a name",
                    [](GeoData& p) { p.put_model_section("mesh", {}, 1, {}); },
                    "parse error: project element name 'mesh' is used by a structured mesh surface and a model "
                    "section; a project file holds one section per name, rename one of them before saving"},
        SaveFailure{"two surface kinds under one name",
                    [](GeoData& p) { p.tri_surfaces.insert({"top", tri()}); },
                    "parse error: project element name 'top' is used by a surface and a triangulated surface; a "
                    "project file holds one section per name, rename one of them before saving"},
        SaveFailure{"invalid asset name",
                    [](GeoData& p) { p.assets.insert({"@asset/x", AssetRecord{}}); },
                    "parse error: invalid asset name '@asset/x': empty and traversal path segments are forbidden"}),
    [](const ::testing::TestParamInfo<SaveFailure>& info) {
        std::string n = info.param.name;
        for (char& ch : n)
            if (!std::isalnum(static_cast<unsigned char>(ch))) ch = '_';
        return n;
    });

TEST(ProjectSave, FailureLeavesAnExistingFileAlone) {
    TempDir dir;
    ok(save(full_project(), dir / "p.zedod"));
    const Bytes before = read_file(dir / "p.zedod");
    GeoData bad = full_project();
    bad.surface_order.push_back("gone");
    EXPECT_FALSE(save(bad, dir / "p.zedod"));
    EXPECT_EQ(read_file(dir / "p.zedod"), before);
}

// ============================================== a project loaded from real files

/// A file of the shared real-world samples, or empty when the folder is absent.
fs::path shared_sample(const std::string& rel) {
#ifdef VZ_SHARED_DATA_DIR
    fs::path p = fs::path(VZ_SHARED_DATA_DIR) / rel;
    if (fs::exists(p)) return p;
#endif
    return {};
}

TEST(ProjectSave, ProjectLoadedFromRealFilesRoundTrips) {
    const char* files[] = {"las/lasio_2.0_sample.las", "irap_grid/resinsight_volantis_rot30.irap",
                           "points_xyz/xtgeo_emerald_1000.poi",
                           "shapefile/blockgroups.shp", "earthvision/resinsight_small_flipped_clipped.ptl"};
    std::vector<fs::path> paths;
    for (const char* f : files) {
        paths.push_back(shared_sample(f));
        if (paths.back().empty()) GTEST_SKIP() << "shared sample absent: " << f;
    }
    TempDir dir;
    GeoData p = GeoData::make(LengthUnit::Metres);
    ASSERT_TRUE(p.load_well("sample", {10, 20}, 5, paths[0])) << "well";
    ASSERT_TRUE(p.load_surface("volantis", paths[1])) << "surface";
    ASSERT_TRUE(p.load_points("emerald", paths[2])) << "points";
    ASSERT_TRUE(p.load_polygons("blocks", paths[3])) << "polygons";
    // A curvilinear mesh with absent nodes, its outline and nominal lattice.
    ASSERT_TRUE(p.load_structured_surface("clipped", paths[4])) << "structured";
    ok(save(p, dir / "real.zedod"));
    GeoData back = ok(open(dir / "real.zedod"));
    // A project never saved before gets the save time as its creation time.
    EXPECT_TRUE(back.created.has_value());
    back.created.reset();
    expect_same_project(p, back);
}

// ========================================================================== open

TEST(ProjectOpen, MetadataIsReadLeniently) {
    TempDir dir;
    const Json app = Json::object({
        {"unit", Json(" Feet ")},
        {"display_name", Json("  North Sea ")},
        {"crs", Json()},
        {"owner", Json(7)},
        {"tags", Json(Json::Array{Json("a"), Json(1)})},
        {"created", Json(-5)},
        {"strat_hints", Json(Json::Array{Json(Json::Array{Json("A"), Json("B")}), Json("C")})},
        {"strat_order", Json(Json::Array{Json("A"), Json("B")})},
        {"extra", Json(true)},
    });
    write_container(dir / "m.zedod", app, {});
    const GeoData p = ok(open(dir / "m.zedod"));
    EXPECT_EQ(p.unit, LengthUnit::Feet);
    EXPECT_EQ(p.display_name, "North Sea");
    EXPECT_FALSE(p.crs.has_value());
    EXPECT_FALSE(p.owner.has_value());
    EXPECT_TRUE(p.tags.empty());
    EXPECT_FALSE(p.created.has_value());
    EXPECT_TRUE(p.strat_hints.empty());
    EXPECT_EQ(p.strat_order, (std::vector<std::string>{"A", "B"}));

    write_container(dir / "f.zedod", app_with({{"created", Json(1.5)}, {"owner", Json(" me ")}}), {});
    const GeoData q = ok(open(dir / "f.zedod"));
    EXPECT_FALSE(q.created.has_value());
    EXPECT_EQ(q.owner, " me ");
}

TEST(ProjectOpen, SectionsOfEveryKind) {
    TempDir dir;
    // A version-1 surface section written from its layout.
    const Bytes surface_v1 = ok(payload::encode([](auto& out) {
        for (double d : {0.0, 0.0, 1.0, 1.0}) out.f64(d);
        out.u64(1);
        out.u64(2);
        out.f64(0.0);
        out.boolean(false);
        out.grid(std::vector<double>{3.0, 4.0}, 1, 2);
        out.count(1);
        out.text("poro");
        out.grid(std::vector<double>{0.1, 0.2}, 1, 2);
        out.text_list(std::vector<std::string>{"old"});
    }));
    const Bytes legacy = {9, 8, 7};
    write_container(dir / "s.zedod", app_with({}),
                    {section("surface", "v1", surface_v1, 1, {"t"}), section("well", "W", well_bytes("inner"), 1),
                     section("future_kind", "F", {0xFF}), section("model", "M", {1, 2}, 7, {"m"}),
                     section("asset", "@asset/old/thing", legacy, 0, {"x"})});
    const GeoData p = ok(open(dir / "s.zedod"));
    EXPECT_EQ(p.surface_order, std::vector<std::string>{"v1"});
    EXPECT_EQ(p.surfaces.at("v1").attr_metadata("poro")->label, "poro");
    EXPECT_EQ(p.surfaces.at("v1").history.entries(), std::vector<std::string>{"old"});
    // Element names come from the sections; the payload's own name stays.
    EXPECT_EQ(p.wells.at("W").name, "inner");
    EXPECT_EQ(p.element_tags.size(), 1u);
    EXPECT_EQ(p.element_tags.at("v1"), std::vector<std::string>{"t"});
    EXPECT_EQ(p.model_sections.at("M"), (ModelSection{{"m"}, {1, 2}, 7}));
    const AssetRecord& a = p.assets.at("@asset/old/thing");
    EXPECT_EQ(a.kind, "old");
    EXPECT_TRUE(a.envelope.empty());
    EXPECT_TRUE(a.data.empty());
    EXPECT_EQ(a.frame, legacy);
    EXPECT_EQ(a.version, 0u);
    EXPECT_EQ(a.tags, std::vector<std::string>{"x"});

    // A legacy asset survives a save byte for byte.
    ok(save(p, dir / "again.zedod"));
    auto c = container::open(dir / "again.zedod");
    ASSERT_TRUE(c);
    EXPECT_EQ(ok(Result<container::Section>(container::read_section(*c, "@asset/old/thing"))),
              section("asset", "@asset/old/thing", legacy, 0, {"x"}));
}

struct OpenFailure {
    const char* name;
    std::function<void(const fs::path&)> write;
    std::string display;
};

void PrintTo(const OpenFailure& c, std::ostream* os) { *os << c.name; }

class ProjectOpenFailure : public ::testing::TestWithParam<OpenFailure> {};

TEST_P(ProjectOpenFailure, ReportsItsText) {
    TempDir dir;
    GetParam().write(dir / "f.zedod");
    std::string want = GetParam().display;
    // "{path}" in a case stands for the file it opens.
    if (const auto at = want.find("{path}"); at != std::string::npos) want.replace(at, 6, (dir / "f.zedod").string());
    EXPECT_EQ(error_text(open(dir / "f.zedod")), want);
}

std::function<void(const fs::path&)> file_with(Json app, std::vector<container::Section> sections = {},
                                               std::uint32_t schema = 2) {
    return [=](const fs::path& p) { write_container(p, app, sections, schema); };
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ProjectOpenFailure,
    ::testing::Values(
        OpenFailure{"missing file", [](const fs::path&) {},
                    "I/O error: '{path}': No such file or directory (os error 2)"},
        OpenFailure{"schema v3", file_with(Json(), {}, 3),
                    "parse error: .zedod element schema v3 is newer than this voridEZ (reads ≤ v2) — upgrade voridEZ"},
        OpenFailure{"schema v0", file_with(app_with({}), {}, 0),
                    "parse error: .zedod element schema v0 is unsupported (reads v1 and v2)"},
        OpenFailure{"no app", file_with(Json()), "parse error: .zedod manifest missing/invalid unit"},
        OpenFailure{"lower-case unit", file_with(app_with({{"unit", Json("feet")}})),
                    "parse error: .zedod manifest missing/invalid unit"},
        OpenFailure{"blank unit", file_with(app_with({{"unit", Json("  ")}})),
                    "parse error: .zedod manifest unit must be a non-empty, trimmed string"},
        OpenFailure{"unit number", file_with(app_with({{"unit", Json(1)}})),
                    "parse error: .zedod manifest unit must be a string"},
        OpenFailure{"blank display name", file_with(app_with({{"display_name", Json("   ")}})),
                    "parse error: project display name must be null or a non-empty, trimmed string"},
        OpenFailure{"display name number", file_with(app_with({{"display_name", Json(3)}})),
                    "parse error: .zedod manifest display name must be a string or null"},
        OpenFailure{"crs number", file_with(app_with({{"crs", Json(3)}})),
                    "parse error: .zedod manifest CRS must be a string or null"},
        OpenFailure{"duplicate names across kinds",
                    file_with(app_with({}), {section("well", "A", well_bytes("A")), section("points", "A", Bytes(24, 0))}),
                    "parse error: .zedod contains duplicate physical section name 'A'"},
        OpenFailure{"damaged well payload", file_with(app_with({}), {section("well", "W", Bytes{1, 2, 3})}),
                    "parse error: deserialize: io error: unexpected end of file"},
        OpenFailure{"well section version 5", file_with(app_with({}), {section("well", "W", well_bytes("W"), 5)}),
                    "parse error: unsupported 'well' element schema v5"},
        OpenFailure{"bad asset name", file_with(app_with({}), {section("asset", "@asset/x", Bytes{}, 1)}),
                    "parse error: invalid asset name '@asset/x': empty and traversal path segments are forbidden"},
        OpenFailure{"bad asset frame", file_with(app_with({}), {section("asset", "@asset/a/b", Bytes{1, 2}, 1)}),
                    "parse error: invalid asset frame magic/length"},
        OpenFailure{"truncated section",
                    [](const fs::path& p) {
                        write_container(p, app_with({}), {section("well", "W", well_bytes("W"))});
                        fs::resize_file(p, fs::file_size(p) - 3);
                    },
                    "parse error: section 'W' truncated"}),
    [](const ::testing::TestParamInfo<OpenFailure>& info) {
        std::string n = info.param.name;
        for (char& ch : n)
            if (!std::isalnum(static_cast<unsigned char>(ch))) ch = '_';
        return n;
    });

// ======================================================================= inspect

TEST(ProjectInspect, ReadsTheManifestOnly) {
    TempDir dir;
    // A newer element schema, a unit open refuses, two sections of one name
    // and a payload that would not decode: inspect reads none of them.
    write_container(dir / "i.zedod",
                    app_with({{"unit", Json(" metres ")}, {"owner", Json("me")}, {"tags", Json(Json::Array{Json("t")})},
                              {"created", Json(5)}, {"modified", Json(9)}}),
                    {section("well", "A", Bytes{1}), section("points", "A", Bytes{2})}, 7);
    const ManifestSummary s = ok(inspect(dir / "i.zedod"));
    const ManifestSummary expected{"me", std::nullopt, std::nullopt, {"t"}, 5, 9, "metres", {{"well", "A"}, {"points", "A"}}};
    EXPECT_EQ(s, expected);

    write_container(dir / "n.zedod", Json(), {section("surface", "S", Bytes{})});
    EXPECT_EQ(ok(inspect(dir / "n.zedod")),
              (ManifestSummary{std::nullopt, std::nullopt, std::nullopt, {}, std::nullopt, std::nullopt, std::nullopt,
                               {{"surface", "S"}}}));

    write_container(dir / "u.zedod", app_with({{"unit", Json(true)}}), {});
    EXPECT_EQ(error_text(inspect(dir / "u.zedod")), "parse error: .zedod manifest unit must be a string");
    write_container(dir / "d.zedod", app_with({{"display_name", Json("")}}), {});
    EXPECT_EQ(error_text(inspect(dir / "d.zedod")),
              "parse error: project display name must be null or a non-empty, trimmed string");
}

// ============================================================= split and export

/// The raw stored sections of a file, in manifest order.
std::vector<container::StoredSection> stored(const fs::path& p) {
    auto c = container::open(p);
    EXPECT_TRUE(c.has_value());
    std::vector<container::StoredSection> out;
    if (!c) return out;
    for (const container::Entry& e : c->header.sections) {
        auto bytes = container::read_entry_payload(*c, e);
        EXPECT_TRUE(bytes.has_value());
        container::StoredSection s{e, bytes ? *bytes : Bytes{}};
        s.entry.offset = 0;  // offsets depend on what precedes
        out.push_back(std::move(s));
    }
    return out;
}

TEST(ProjectSplit, CopiesSelectedSectionsUnchanged) {
    TempDir dir;
    ok(save(full_project(), dir / "src.zedod"));
    const auto all = stored(dir / "src.zedod");
    auto src = container::open(dir / "src.zedod");
    ASSERT_TRUE(src);

    struct Case {
        const char* name;
        std::vector<std::string> names;
        std::vector<std::string> expect;
    };
    const Case cases[] = {
        {"two surfaces", {"base", "top"}, {"top", "base"}},
        {"asset by its short name", {"maps/logo", "W1"}, {"W1", "@asset/maps/logo"}},
        {"asset by its full name", {"@asset/maps/logo"}, {"@asset/maps/logo"}},
        {"nothing matches", {"Top", "w1", "logo"}, {}},
    };
    for (const Case& c : cases) {
        const fs::path dst = dir / "dst.zedod";
        ASSERT_TRUE(split(dir / "src.zedod", dst, c.names)) << c.name;
        auto out = container::open(dst);
        ASSERT_TRUE(out) << c.name;
        EXPECT_EQ(out->header.app, src->header.app) << c.name;
        EXPECT_EQ(out->element_schema_version, 2u);
        const auto got = stored(dst);
        std::vector<std::string> names;
        for (const auto& s : got) {
            names.push_back(s.entry.name);
            const auto same = std::find_if(all.begin(), all.end(),
                                           [&](const auto& a) { return a.entry.name == s.entry.name; });
            ASSERT_NE(same, all.end());
            EXPECT_EQ(s, *same) << c.name << " " << s.entry.name;
        }
        EXPECT_EQ(names, c.expect) << c.name;
    }
}

TEST(ProjectSplit, AssetRuleAppliesToAssetSectionsOnly) {
    TempDir dir;
    write_container(dir / "src.zedod", app_with({}),
                    {section("model", "@asset/maps/logo", {1}), section("asset", "@asset/maps/pic", {2}, 0)}, 9);
    ok(Result<void>(split(dir / "src.zedod", dir / "a.zedod", std::vector<std::string>{"maps/logo", "maps/pic"})));
    std::vector<std::string> names;
    for (const auto& s : stored(dir / "a.zedod")) names.push_back(s.entry.name);
    EXPECT_EQ(names, std::vector<std::string>{"@asset/maps/pic"});
    // A source newer than open accepts is still copied, keeping its version.
    EXPECT_EQ(container::open(dir / "a.zedod")->element_schema_version, 9u);
}

TEST(ProjectSplit, NamesakeSectionsEachKeepTheirOwnBytes) {
    TempDir dir;
    write_container(dir / "src.zedod", app_with({}),
                    {section("well", "A", {1, 1, 1}, 2, {"t"}), section("points", "A", {2, 2}, 2, {"t"})});
    const auto source = stored(dir / "src.zedod");
    ASSERT_EQ(source.size(), 2u);
    ASSERT_NE(source[0].data, source[1].data);
    ok(Result<void>(split(dir / "src.zedod", dir / "s.zedod", std::vector<std::string>{"A"})));
    EXPECT_EQ(stored(dir / "s.zedod"), source);
    ok(Result<void>(export_tagged(dir / "src.zedod", dir / "e.zedod", std::vector<std::string>{"t"})));
    EXPECT_EQ(stored(dir / "e.zedod"), source);
}

TEST(ProjectExport, KeepsSectionsCarryingAnyTag) {
    TempDir dir;
    ok(save(full_project(), dir / "src.zedod"));
    struct Case {
        std::vector<std::string> tags;
        std::vector<std::string> expect;
    };
    const Case cases[] = {
        {{"export"}, {"top", "@asset/maps/logo"}},
        {{"wells", "models"}, {"W1", "velocity"}},
        {{"Export"}, {}},
        {{}, {}},
        {{"kept"}, {}},
    };
    for (const Case& c : cases) {
        ASSERT_TRUE(export_tagged(dir / "src.zedod", dir / "dst.zedod", c.tags));
        std::vector<std::string> names;
        for (const auto& s : stored(dir / "dst.zedod")) names.push_back(s.entry.name);
        EXPECT_EQ(names, c.expect);
    }
}

TEST(ProjectSplit, TruncatedSourceWritesNothing) {
    TempDir dir;
    ok(save(full_project(), dir / "src.zedod"));
    fs::resize_file(dir / "src.zedod", fs::file_size(dir / "src.zedod") - 1);  // cuts the last asset
    const std::vector<std::string> names = {"top", "@asset/maps/logo"};
    EXPECT_EQ(error_text(split(dir / "src.zedod", dir / "new.zedod", names)),
              "parse error: section '@asset/maps/logo' truncated");
    EXPECT_FALSE(fs::exists(dir / "new.zedod"));

    ok(Result<void>(split(dir / "src.zedod", dir / "old.zedod", std::vector<std::string>{"top"})));
    const Bytes before = read_file(dir / "old.zedod");
    EXPECT_FALSE(split(dir / "src.zedod", dir / "old.zedod", names));
    EXPECT_EQ(read_file(dir / "old.zedod"), before);

    EXPECT_EQ(error_text(export_tagged(dir / "missing.zedod", dir / "x.zedod", names)),
              "I/O error: '" + (dir / "missing.zedod").string() + "': No such file or directory (os error 2)");
}

TEST(ProjectSplit, SelectionRules) {
    const container::Entry asset_entry{"asset", "@asset/maps/logo", {"a", "b"}, 1, 0, 0};
    const container::Entry model_entry{"model", "@asset/maps/logo", {}, 1, 0, 0};
    const std::vector<std::string> short_name = {"maps/logo"};
    const std::vector<std::string> full_name = {"@asset/maps/logo"};
    EXPECT_TRUE(split_selects(short_name, asset_entry));
    EXPECT_FALSE(split_selects(short_name, model_entry));
    EXPECT_TRUE(split_selects(full_name, model_entry));
    EXPECT_FALSE(split_selects(std::vector<std::string>{"Maps/Logo"}, asset_entry));
    EXPECT_TRUE(export_selects(std::vector<std::string>{"x", "b"}, asset_entry));
    EXPECT_FALSE(export_selects(std::vector<std::string>{"A"}, asset_entry));
    EXPECT_FALSE(export_selects(std::vector<std::string>{"a"}, model_entry));
}

}  // namespace
}  // namespace vz::project
