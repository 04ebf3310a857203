#include <gtest/gtest.h>

#include <fmt/format.h>

#include <cmath>
#include <functional>
#include <limits>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "core/surface_convert.hpp"
#include "manager/geodata.hpp"

namespace vz {
namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

using Names = std::vector<std::string>;

template <class V>
Names keys(const OrderedMap<std::string, V>& map) {
    Names out;
    for (const auto& [k, v] : map) out.push_back(k);
    return out;
}

const GridGeometry kGeom{100, 200, 10, 20, 3, 2, 0, false};

Surface regular(const GridGeometry& g = kGeom, double fill = 1.0) {
    return *Surface::make(g, Grid2(g.ncol, g.nrow, fill));
}

/// The structured surface on every node of a lattice.
StructuredMeshSurface structured(const GridGeometry& g = kGeom, double fill = 1.0) {
    auto shell = StructuredShell::from_grid_geometry(g);
    return *StructuredMeshSurface::from_shell(std::make_shared<const StructuredShell>(std::move(*shell)),
                                              Grid2(g.ncol, g.nrow, fill));
}

/// The triangulated surface on the lossless triangulation of a lattice.
TriSurface triangulated(const GridGeometry& g = kGeom, double fill = 1.0) {
    auto mesh = MeshShell::from_grid_geometry(g);
    const std::size_t n = mesh->node_count();
    return *TriSurface::from_shell(std::make_shared<const MeshShell>(std::move(*mesh)), std::vector<double>(n, fill));
}

/// The outcome of a call without its value.
template <class T>
Result<void> status(const Result<T>& r) {
    if (!r) return fail(r.error());
    return {};
}

PointSet points() { return PointSet::from_coords({{1, 2, 3}}); }

GeoData project() { return GeoData::make(LengthUnit::Metres); }

// ---- the model -----------------------------------------------------------------

TEST(GeoData, NewProjectIsEmpty) {
    const GeoData p = GeoData::make(LengthUnit::Feet);
    EXPECT_EQ(p.unit, LengthUnit::Feet);
    EXPECT_STREQ(length_unit_symbol(p.unit), "ft");
    EXPECT_TRUE(p.wells.empty() && p.surfaces.empty() && p.structured_surfaces.empty() && p.tri_surfaces.empty());
    EXPECT_TRUE(p.point_sets.empty() && p.polygon_sets.empty() && p.model_sections.empty() && p.assets.empty());
    EXPECT_TRUE(p.tags.empty() && p.strat_hints.empty() && p.strat_order.empty() && p.element_tags.empty());
    EXPECT_FALSE(p.display_name || p.crs || p.owner || p.created || p.curve_aliases);
}

TEST(GeoData, TitleAndCrsRules) {
    struct Case {
        std::optional<std::string> value;
        bool ok;
    };
    const Case cases[] = {
        {"North Sea", true},   {std::nullopt, true},    {" North", false}, {"North ", false},
        {"", false},           {"\xC2\xA0x", false},    {"a  b", true},
    };
    for (const char* label : {"display name", "CRS"}) {
        for (const auto& c : cases) {
            GeoData p = project();
            auto set = [&](std::optional<std::string> v) {
                return std::string(label) == "CRS" ? p.set_crs(std::move(v)) : p.set_display_name(std::move(v));
            };
            auto& field = std::string(label) == "CRS" ? p.crs : p.display_name;
            ASSERT_TRUE(set("old"));
            auto r = set(c.value);
            EXPECT_EQ(r.has_value(), c.ok) << label << " " << c.value.value_or("<none>");
            if (c.ok) {
                EXPECT_EQ(field, c.value);
            } else {
                EXPECT_EQ(r.error(),
                          Error::parse(fmt::format("project {} must be null or a non-empty, trimmed string", label)));
                EXPECT_EQ(field, "old");
            }
        }
    }
    GeoData p = project();
    p.set_owner(" anyone ");
    p.set_tags({"b", "", "b"});
    EXPECT_EQ(p.owner, " anyone ");
    EXPECT_EQ(p.tags, (Names{"b", "", "b"}));
}

TEST(GeoData, ElementTagsBelongToNames) {
    GeoData p = project();
    p.set_element_tags("x", {"t1"});
    p.set_element_tags("y", {});
    p.set_element_tags("x", {"t2", "t3"});  // in place
    EXPECT_EQ(keys(p.element_tags), (Names{"x", "y"}));
    EXPECT_EQ(p.element_tags.at("x"), (Names{"t2", "t3"}));
    EXPECT_EQ(p.element_tags.at("y"), Names{});

    project::restore_element_tags(p, "z", {});
    project::restore_element_tags(p, "y", {"r"});
    EXPECT_EQ(keys(p.element_tags), (Names{"x", "y"}));
    EXPECT_EQ(p.element_tags.at("y"), Names{"r"});
}

TEST(GeoData, Lookups) {
    GeoData p = project();
    for (const char* id : {"a", "b"}) p.wells.insert({id, Well::make(id, 0, 0, 0)});
    const std::vector<std::string> asked{"b", "x", "a", "b"};
    const auto found = p.wells_by_name(asked);
    ASSERT_EQ(found.size(), 3u);
    EXPECT_EQ(found[0], p.find_well("b"));
    EXPECT_EQ(found[1], p.find_well("a"));
    EXPECT_EQ(found[2], p.find_well("b"));
    EXPECT_EQ(p.find_well("A"), nullptr);  // exact match

    p.structured_surfaces.insert({"s", structured()});
    p.tri_surfaces.insert({"t", triangulated()});
    p.surfaces.insert({"r", regular()});
    EXPECT_EQ(p.surface_kind("r"), SurfaceKind::Regular);
    EXPECT_EQ(p.surface_kind("s"), SurfaceKind::Structured);
    EXPECT_EQ(p.surface_kind("t"), SurfaceKind::Triangulated);
    EXPECT_EQ(p.surface_kind("u"), std::nullopt);
    EXPECT_EQ(p.find_surface("s"), nullptr);
    EXPECT_NE(p.find_structured_surface("s"), nullptr);
    EXPECT_TRUE(p.name_in_use("t"));
    EXPECT_FALSE(p.name_in_use("u"));
}

// ---- renames ---------------------------------------------------------------------

TEST(Rename, WellsPointsPolygons) {
    enum Kind { WellK, PointsK, PolygonsK };
    struct Case {
        Kind kind;
        const char* from;
        const char* to;
        std::optional<Error> error;
        Names order;
    };
    const Case cases[] = {
        {WellK, "a", "a", std::nullopt, {"a", "b", "c"}},
        {WellK, "zz", "zz", std::nullopt, {"a", "b", "c"}},
        {WellK, "a", "b", Error::parse("rename_well: destination 'b' already exists"), {"a", "b", "c"}},
        {WellK, "zz", "b", Error::parse("rename_well: destination 'b' already exists"), {"a", "b", "c"}},
        {WellK, "zz", "y", Error::not_found("well 'zz'"), {"a", "b", "c"}},
        {WellK, "a", "d", std::nullopt, {"b", "c", "d"}},
        {PointsK, "a", "b", Error::parse("rename_point set: destination 'b' already exists"), {"a", "b", "c"}},
        {PointsK, "q", "y", Error::not_found("point set 'q'"), {"a", "b", "c"}},
        {PointsK, "b", "A", std::nullopt, {"a", "c", "A"}},
        {PolygonsK, "c", "a", Error::parse("rename_polygon set: destination 'a' already exists"), {"a", "b", "c"}},
        {PolygonsK, "q", "y", Error::not_found("polygon set 'q'"), {"a", "b", "c"}},
        {PolygonsK, "a", "z", std::nullopt, {"b", "c", "z"}},
    };
    for (const auto& c : cases) {
        GeoData p = project();
        for (const char* n : {"a", "b", "c"}) {
            p.wells.insert({n, Well::make(n, 0, 0, 0)});
            p.point_sets.insert({n, points()});
            p.polygon_sets.insert({n, PolygonSet{}});
        }
        Result<void> r = c.kind == WellK     ? p.rename_well(c.from, c.to)
                         : c.kind == PointsK ? p.rename_points(c.from, c.to)
                                             : p.rename_polygons(c.from, c.to);
        const std::string what = std::string(c.from) + "->" + c.to;
        if (c.error) {
            ASSERT_FALSE(r) << what;
            EXPECT_EQ(r.error(), *c.error) << what;
        } else {
            EXPECT_TRUE(r) << what;
        }
        const Names order = c.kind == WellK     ? keys(p.wells)
                            : c.kind == PointsK ? keys(p.point_sets)
                                                : keys(p.polygon_sets);
        EXPECT_EQ(order, c.order) << what;
        // The other kinds never move.
        if (c.kind != WellK) {
            EXPECT_EQ(keys(p.wells), (Names{"a", "b", "c"})) << what;
        }
        if (c.kind != PointsK) {
            EXPECT_EQ(keys(p.point_sets), (Names{"a", "b", "c"})) << what;
        }
        // A stored well's own name is its key.
        for (const auto& [id, w] : p.wells) EXPECT_EQ(w.name, id) << what;
    }
}

TEST(Rename, Surfaces) {
    auto make = [] {
        GeoData p = project();
        p.surfaces.insert({"r", regular()});
        p.structured_surfaces.insert({"s", structured()});
        p.tri_surfaces.insert({"t", triangulated()});
        p.surfaces.insert({"r2", regular()});
        p.surface_order = {"r", "s", "t", "r2"};
        return p;
    };
    struct Case {
        const char* from;
        const char* to;
        std::optional<Error> error;
        Names order;
    };
    const Case cases[] = {
        {"s", "r", Error::parse("rename_surface: destination 'r' already exists"), {"r", "s", "t", "r2"}},
        {"zz", "t", Error::parse("rename_surface: destination 't' already exists"), {"r", "s", "t", "r2"}},
        {"zz", "y", Error::not_found("surface 'zz'"), {"r", "s", "t", "r2"}},
        {"t", "t", std::nullopt, {"r", "s", "t", "r2"}},
        {"r", "x", std::nullopt, {"x", "s", "t", "r2"}},
        {"s", "y", std::nullopt, {"r", "y", "t", "r2"}},
    };
    for (const auto& c : cases) {
        GeoData p = make();
        auto r = p.rename_surface(c.from, c.to);
        if (c.error) {
            ASSERT_FALSE(r);
            EXPECT_EQ(r.error(), *c.error);
        } else {
            EXPECT_TRUE(r);
        }
        EXPECT_EQ(p.surface_order, c.order) << c.from;
    }
    // The renamed surface goes to the end of its own map, kind unchanged.
    GeoData p = make();
    ASSERT_TRUE(p.rename_surface("r", "x"));
    EXPECT_EQ(keys(p.surfaces), (Names{"r2", "x"}));
    ASSERT_TRUE(p.rename_surface("s", "y"));
    EXPECT_EQ(p.surface_kind("y"), SurfaceKind::Structured);
}

TEST(Rename, TagsFollowTheName) {
    GeoData p = project();
    p.wells.insert({"a", Well::make("a", 0, 0, 0)});
    p.wells.insert({"b", Well::make("b", 0, 0, 0)});
    p.point_sets.insert({"p", points()});
    p.set_element_tags("a", {"ta"});
    p.set_element_tags("c", {"tc"});
    p.set_element_tags("q", {"tq"});

    // The tags of a go to c, replacing c's entry in place.
    ASSERT_TRUE(p.rename_well("a", "c"));
    EXPECT_EQ(keys(p.element_tags), (Names{"c", "q"}));
    EXPECT_EQ(p.element_tags.at("c"), Names{"ta"});
    // b has no tags: an entry already stored under the new name stays.
    ASSERT_TRUE(p.rename_well("b", "q"));
    EXPECT_EQ(p.element_tags.at("q"), Names{"tq"});
    // A failed rename moves no tags.
    EXPECT_FALSE(p.rename_points("p", "p2") && p.rename_points("missing", "x"));
    EXPECT_EQ(keys(p.element_tags), (Names{"c", "q"}));

    // Namesakes of two kinds share one list; renaming one of them leaves the
    // other with its tags and gives the renamed element a copy.
    GeoData n = project();
    n.wells.insert({"x", Well::make("x", 0, 0, 0)});
    n.point_sets.insert({"x", points()});
    n.set_element_tags("x", {"shared"});
    ASSERT_TRUE(n.rename_points("x", "y"));
    EXPECT_EQ(n.element_tags.at("x"), Names{"shared"});
    EXPECT_EQ(n.element_tags.at("y"), Names{"shared"});
    // Once no element bears the old name, a rename moves the list.
    ASSERT_TRUE(n.rename_well("x", "z"));
    EXPECT_EQ(keys(n.element_tags), (Names{"y", "z"}));
}

// ---- deletions -------------------------------------------------------------------

TEST(Delete, ElementsAndTheirTags) {
    GeoData p = project();
    for (const char* n : {"a", "b", "c"}) p.wells.insert({n, Well::make(n, 0, 0, 0)});
    p.point_sets.insert({"b", points()});
    p.surfaces.insert({"s", regular()});
    p.tri_surfaces.insert({"t", triangulated()});
    p.surface_order = {"s", "t"};
    for (const char* n : {"a", "b", "s", "t", "ghost"}) p.set_element_tags(n, {std::string("tag-") + n});

    EXPECT_FALSE(p.delete_well("ghost"));
    EXPECT_FALSE(p.delete_points("a"));
    EXPECT_FALSE(p.delete_polygons("a"));
    EXPECT_FALSE(p.delete_surface("a"));
    EXPECT_EQ(p.element_tags.size(), 5u);

    EXPECT_TRUE(p.delete_well("a"));
    EXPECT_EQ(keys(p.wells), (Names{"b", "c"}));
    EXPECT_FALSE(p.element_tags.contains("a"));

    // The point set b still bears the name: the shared tags stay until the
    // last element of that name goes.
    EXPECT_TRUE(p.delete_well("b"));
    EXPECT_EQ(p.element_tags.at("b"), Names{"tag-b"});
    EXPECT_TRUE(p.delete_points("b"));
    EXPECT_FALSE(p.element_tags.contains("b"));

    EXPECT_TRUE(p.delete_surface("t"));
    EXPECT_EQ(p.surface_order, Names{"s"});
    EXPECT_TRUE(p.tri_surfaces.empty());
    EXPECT_FALSE(p.element_tags.contains("t"));
    EXPECT_FALSE(p.delete_surface("t"));
    EXPECT_EQ(keys(p.element_tags), (Names{"s", "ghost"}));
}

// ---- replacement -------------------------------------------------------------------

TEST(Replace, GuardComparesGeometryOnly) {
    GridGeometry rotated = kGeom;
    rotated.rotation_deg = 1e-12;
    GridGeometry flipped = kGeom;
    flipped.yflip = true;

    // A structured shell with one node moved by one unit in the last place.
    auto moved_x = StructuredShell::from_grid_geometry(kGeom)->x();
    moved_x(2, 1) = std::nextafter(moved_x(2, 1), 1e9);
    auto nudged = *StructuredShell::make(moved_x, StructuredShell::from_grid_geometry(kGeom)->y(), kGeom,
                                         PolygonSet::from_grid_geometry(kGeom));
    auto nudged_surface =
        *StructuredMeshSurface::from_shell(std::make_shared<const StructuredShell>(std::move(nudged)),
                                           Grid2(kGeom.ncol, kGeom.nrow, 0.0));

    const std::string mismatch = "replace_surface('top'): replacement geometry/topology differs from the stored surface";
    struct Case {
        const char* name;
        std::function<void(GeoData&)> stored;
        std::function<Result<void>(GeoData&)> replace;
        std::optional<SurfaceKind> kind_after;  // none: the call fails with `mismatch`
    };
    auto store_regular = [](GeoData& p) { p.surfaces.insert({"top", regular()}); };
    auto store_structured = [](GeoData& p) { p.structured_surfaces.insert({"top", structured()}); };
    auto store_tri = [](GeoData& p) { p.tri_surfaces.insert({"top", triangulated()}); };
    const Case cases[] = {
        {"values changed", store_regular, [](GeoData& p) { return status(p.replace_surface("top", regular(kGeom, 7))); },
         SurfaceKind::Regular},
        {"rotation differs", store_regular,
         [&](GeoData& p) { return status(p.replace_surface("top", regular(rotated))); }, std::nullopt},
        {"flip differs", store_regular,
         [&](GeoData& p) { return status(p.replace_surface("top", regular(flipped))); }, std::nullopt},
        {"regular by its triangulation", store_regular,
         [](GeoData& p) { return status(p.replace_tri_surface("top", triangulated(kGeom, 5))); },
         SurfaceKind::Triangulated},
        {"regular by its own triangulated conversion", store_regular,
         [](GeoData& p) { return status(p.replace_tri_surface("top", *surface_convert::to_tri_surface(regular()))); },
         SurfaceKind::Triangulated},
        {"regular by its own structured conversion", store_regular,
         [](GeoData& p) {
             return status(p.replace_structured_surface("top", *surface_convert::to_structured_mesh(regular())));
         },
         SurfaceKind::Structured},
        {"structured by its triangulated conversion", store_structured,
         [](GeoData& p) { return status(p.replace_tri_surface("top", *surface_convert::to_tri_surface(structured()))); },
         SurfaceKind::Triangulated},
        {"regular by structured on the lattice", store_regular,
         [](GeoData& p) { return status(p.replace_structured_surface("top", structured())); },
         SurfaceKind::Structured},
        {"structured by regular", store_structured,
         [](GeoData& p) { return status(p.replace_surface("top", regular())); }, SurfaceKind::Regular},
        {"structured by a nudged node", store_structured,
         [&](GeoData& p) { return status(p.replace_structured_surface("top", nudged_surface)); },
         std::nullopt},
        {"regular by a nudged node", store_regular,
         [&](GeoData& p) { return status(p.replace_structured_surface("top", nudged_surface)); },
         std::nullopt},
        {"tri by regular", store_tri,
         [](GeoData& p) { return status(p.replace_surface("top", regular(kGeom, 3))); },
         SurfaceKind::Regular},
        {"tri by structured", store_tri,
         [](GeoData& p) { return status(p.replace_structured_surface("top", structured())); },
         SurfaceKind::Structured},
        {"tri by nudged structured", store_tri,
         [&](GeoData& p) { return status(p.replace_structured_surface("top", nudged_surface)); },
         std::nullopt},
        {"tri by another lattice", store_tri,
         [&](GeoData& p) { return status(p.replace_tri_surface("top", triangulated(rotated))); },
         std::nullopt},
    };
    for (const auto& c : cases) {
        GeoData p = project();
        p.surfaces.insert({"first", regular()});
        c.stored(p);
        p.surfaces.insert({"last", regular()});
        p.surface_order = {"first", "top", "last"};
        p.set_element_tags("top", {"keep"});
        auto r = c.replace(p);
        EXPECT_EQ(p.surface_order, (Names{"first", "top", "last"})) << c.name;
        EXPECT_EQ(p.element_tags.at("top"), Names{"keep"}) << c.name;
        if (!c.kind_after) {
            ASSERT_FALSE(r) << c.name;
            EXPECT_EQ(r.error(), Error::geometry_mismatch(mismatch)) << c.name;
            continue;
        }
        ASSERT_TRUE(r) << c.name << ": " << r.error().display();
        EXPECT_EQ(p.surface_kind("top"), c.kind_after) << c.name;
        const std::size_t count = p.surfaces.size() + p.structured_surfaces.size() + p.tri_surfaces.size();
        EXPECT_EQ(count, 3u) << c.name;
        if (*c.kind_after == SurfaceKind::Regular) {
            EXPECT_EQ(keys(p.surfaces), (Names{"first", "last", "top"})) << c.name;
        }
    }
}

TEST(Replace, MissingNameAndAbsentNodes) {
    GeoData p = project();
    auto r = p.replace_surface("nothing", regular());
    ASSERT_FALSE(r);
    EXPECT_EQ(r.error(), Error::not_found("surface 'nothing'"));
    EXPECT_TRUE(p.surfaces.empty());

    // A structured surface with an absent node accepts a detached copy of
    // itself with new values (the absent node is the same on both sides),
    // and a surface built on an equal but separate shell.
    auto x = StructuredShell::from_grid_geometry(kGeom)->x();
    auto y = StructuredShell::from_grid_geometry(kGeom)->y();
    x(1, 1) = kNaN;
    y(1, 1) = kNaN;
    auto shell = [&] {
        return std::make_shared<const StructuredShell>(
            *StructuredShell::make(x, y, std::nullopt, PolygonSet::from_grid_geometry(kGeom)));
    };
    p.structured_surfaces.insert({"ev", *StructuredMeshSurface::from_shell(shell(), Grid2(3, 2, 1.0))});
    p.surface_order = {"ev"};
    StructuredMeshSurface copy = *p.find_structured_surface("ev");
    copy.values = Grid2(3, 2, 9.0);
    ASSERT_TRUE(p.replace_structured_surface("ev", copy));
    EXPECT_EQ(p.find_structured_surface("ev")->values(0, 0), 9.0);
    ASSERT_TRUE(p.replace_structured_surface("ev", *StructuredMeshSurface::from_shell(shell(), Grid2(3, 2, 2.0))));
    // A regular lattice never matches a shell with an absent node.
    EXPECT_FALSE(p.replace_surface("ev", regular()));
}

// ---- tops and hints ---------------------------------------------------------------

/// Wells W1 (vertical trajectory, datum 10, head (100, 200), bores "" and
/// st1) and W2 (main bore without trajectory).
GeoData wells_with_tops() {
    GeoData p = project();
    Well w1 = Well::make("W1", 100, 200, 10);
    EXPECT_TRUE(w1.sidetrack_entry("").push_trajectory(TrajectorySource::survey({{0, 0, 0}, {1000, 0, 0}})));
    w1.sidetrack_entry("").add_tops({{"Top Brent", 500}, {"Base", 900}, {"deep", 2000}});
    w1.sidetrack_entry("st1").add_tops({{"TOP BRENT", 600}});
    EXPECT_TRUE(w1.sidetrack_entry("st1").push_trajectory(TrajectorySource::survey({{0, 0, 0}, {1000, 0, 0}})));
    Well w2 = Well::make("W2", 0, 0, 0);
    w2.sidetrack_entry("").add_tops({{"top brent", 50}, {"top brent", 60}, {"Other", 70}});
    p.wells.insert({"W1", std::move(w1)});
    p.wells.insert({"W2", std::move(w2)});
    return p;
}

TEST(Tops, NamesSetsAndDeletion) {
    GeoData p = wells_with_tops();
    EXPECT_EQ(p.well_top_names(), (Names{"Top Brent", "Base", "deep", "Other"}));

    const auto rows = p.well_top_set("top brent");
    const std::vector<WellTopRow> expected{
        {"W1", "", 500, Xyz{100, 200, -490}},
        {"W1", "st1", 600, Xyz{100, 200, -590}},
        {"W2", "", 50, std::nullopt},
        {"W2", "", 60, std::nullopt},
    };
    EXPECT_EQ(rows, expected);
    // Beyond the trajectory there is no position.
    EXPECT_EQ(p.well_top_set("DEEP"), (std::vector<WellTopRow>{{"W1", "", 2000, std::nullopt}}));
    EXPECT_TRUE(p.well_top_set("Top").empty());
    // A row names the identifier the well is held under, also for a well
    // whose own name says otherwise (as a project file's payload may).
    p.find_well_mut("W2")->name = "name in the payload";
    EXPECT_EQ(p.well_top_set("top brent"), expected);

    EXPECT_EQ(p.delete_well_top("nobody"), 0u);
    EXPECT_EQ(p.delete_well_top(" top brent"), 0u);  // not trimmed
    EXPECT_EQ(p.delete_well_top("TOP brent"), 4u);
    EXPECT_EQ(p.well_top_names(), (Names{"Base", "deep", "Other"}));
}

SurfaceIntersection hit(std::optional<std::string> well, std::optional<std::string> bore, double md,
                        double elevation_offset = 0) {
    SurfaceIntersection h;
    h.md = md;
    h.xyz = {100, 200, -(md - 10) + elevation_offset};
    h.well = std::move(well);
    h.bore = std::move(bore);
    return h;
}

TEST(Tops, AssignmentFromCrossings) {
    struct Case {
        const char* what;
        const char* name;
        std::vector<SurfaceIntersection> hits;
        std::optional<Error> error;
    };
    const Case cases[] = {
        {"blank name", " \t", {hit("W1", "", 300)}, Error::parse("well-top name cannot be empty")},
        {"no well", "Top Brent", {hit(std::nullopt, "", 300)},
         Error::parse("project well-top assignment needs hit.well identity")},
        {"no bore", "Top Brent", {hit("W1", "", 300), hit("W1", std::nullopt, 300)},
         Error::parse("project well-top assignment needs hit.bore identity")},
        {"two hits one bore", "Top Brent", {hit("W1", "st1", 300), hit("W1", "st1", 400)},
         Error::parse("well-top assignment has multiple hits for W1/st1; select one crossing per bore")},
        {"unknown well", "Top Brent", {hit("W9", "", 300)},
         Error::not_found("intersection well 'W9' in this project")},
        {"unknown bore", "Top Brent", {hit("W1", "st2", 300)},
         Error::not_found("intersection bore 'st2' on well 'W1'")},
        {"off the trajectory", "Top Brent", {hit("W1", "", 300), hit("W1", "st1", 1500)},
         Error::out_of_range("intersection MD 1500 is outside bore 'st1'")},
        {"position differs", "Top Brent", {hit("W1", "", 300, 0.5)},
         Error::geometry_mismatch("intersection XYZ does not match bore '' at MD 300 (difference 0.5)")},
        {"no trajectory", "Top Brent", {hit("W2", "", 300)},
         Error::out_of_range("intersection MD 300 is outside bore ''")},
    };
    for (const auto& c : cases) {
        GeoData p = wells_with_tops();
        const auto before = p.wells;
        auto r = p._apply_top(c.name, c.hits);
        ASSERT_FALSE(r) << c.what;
        EXPECT_EQ(r.error(), *c.error) << c.what << ": " << r.error().display();
        EXPECT_EQ(p.wells, before) << c.what;
    }

    // Success: every earlier pick of the horizon goes, in any letter case and
    // on any bore; each hit's bore gets the trimmed name at the hit's md.
    GeoData p = wells_with_tops();
    const std::vector<SurfaceIntersection> hits{hit("W1", "st1", 700), hit("W1", "", 300)};
    ASSERT_TRUE(p._apply_top("  Top Brent ", hits));
    EXPECT_EQ(p.find_well("W1")->bore("")->tops,
              (std::vector<DepthPick>{{"Top Brent", 300}, {"Base", 900}, {"deep", 2000}}));
    EXPECT_EQ(p.find_well("W1")->bore("st1")->tops, (std::vector<DepthPick>{{"Top Brent", 700}}));
    EXPECT_EQ(p.find_well("W2")->bore("")->tops, (std::vector<DepthPick>{{"Other", 70}}));
    // No hits: the horizon leaves the project.
    ASSERT_TRUE(p._apply_top("top brent", {}));
    EXPECT_EQ(p.well_top_names(), (Names{"Base", "deep", "Other"}));
}

TEST(Tops, StratHints) {
    GeoData p = project();
    ASSERT_TRUE(p.strat_hint("Shale < Sand"));
    ASSERT_TRUE(p.strat_hint(" Coal > Shale "));
    EXPECT_EQ(p.strat_hint("Shale Sand").error(),
              Error::parse("strat hint 'Shale Sand' must contain '<' (above) or '>' (below)"));
    EXPECT_EQ(p.strat_hint(" < Sand").error(), Error::parse("strat hint ' < Sand' has an empty side"));
    p.push_strat_hint("", "");
    p.push_strat_hint("", "");
    const std::vector<StratHint> more{{"a", "b"}};
    p.extend_strat_hints(more);
    const std::vector<StratHint> expected{{"Shale", "Sand"}, {"Shale", "Coal"}, {"", ""}, {"", ""}, {"a", "b"}};
    EXPECT_EQ(p.strat_hints, expected);
}

// ---- model sections and assets ------------------------------------------------------

using Bytes = std::vector<std::uint8_t>;

Bytes bytes(std::string_view s) { return Bytes(s.begin(), s.end()); }

const Bytes kEnvelope = bytes(R"({"asset_type":"mesh","codec":"raw","provider":"p","schema_version":1})");

TEST(ModelSections, StoredAndReturnedUnchanged) {
    GeoData p = project();
    p.put_model_section("m1", {"a"}, 3, bytes("first"));
    p.put_model_section("m2", {}, 1, {});
    p.put_model_section("m1", {"b"}, 7, bytes("second"));
    EXPECT_EQ(p.model_section_names(), (Names{"m1", "m2"}));
    EXPECT_EQ(p.model_section("m1"), std::make_optional(std::make_pair(std::uint32_t{7}, bytes("second"))));
    EXPECT_EQ(p.model_sections.at("m1").tags, Names{"b"});
    EXPECT_EQ(p.model_section("none"), std::nullopt);
}

TEST(Assets, AddReplaceRenameDelete) {
    struct Case {
        const char* what;
        std::string name;
        std::string kind;
        Bytes envelope;
        std::uint32_t version;
        std::optional<Error> error;
    };
    const std::string long_name = "@asset/c/" + std::string(1016, 'n');
    const Case cases[] = {
        {"ok", "@asset/meshes/one", "mesh", kEnvelope, 1, std::nullopt},
        {"two segments", "@asset/meshes", "mesh", kEnvelope, 1,
         Error::parse("invalid asset name '@asset/meshes': empty and traversal path segments are forbidden")},
        {"traversal", "@asset/../x", "mesh", kEnvelope, 1,
         Error::parse("invalid asset name '@asset/../x': empty and traversal path segments are forbidden")},
        {"too long", long_name, "mesh", kEnvelope, 1,
         Error::parse("invalid asset name '" + long_name + "': expected '@asset/<collection>/<name>'")},
        {"unsorted keys", "@asset/m/two", "mesh",
         bytes(R"({"codec":"raw","asset_type":"mesh","provider":"p","schema_version":1})"), 1,
         Error::parse("asset envelope must be canonical compact UTF-8 JSON")},
        {"blanks", "@asset/m/two", "mesh",
         bytes(R"({"asset_type": "mesh","codec":"raw","provider":"p","schema_version":1})"), 1,
         Error::parse("asset envelope must be canonical compact UTF-8 JSON")},
        {"kind disagrees", "@asset/m/two", "grid", kEnvelope, 1,
         Error::parse("asset kind 'grid' disagrees with envelope asset_type 'mesh'")},
        {"frame version", "@asset/m/two", "mesh", kEnvelope, 2,
         Error::parse("cannot create asset frame v2; supported version is 1")},
        // The frame is checked before the name is found taken.
        {"taken, bad envelope", "@asset/meshes/one", "grid", kEnvelope, 1,
         Error::parse("asset kind 'grid' disagrees with envelope asset_type 'mesh'")},
        {"taken", "@asset/meshes/one", "mesh", kEnvelope, 1, Error::parse("asset '@asset/meshes/one' already exists")},
    };
    GeoData p = project();
    for (const auto& c : cases) {
        auto r = p.add_asset(c.name, c.kind, c.envelope, {"t"}, c.version, bytes("data"));
        if (c.error) {
            ASSERT_FALSE(r) << c.what;
            EXPECT_EQ(r.error(), *c.error) << c.what;
        } else {
            EXPECT_TRUE(r) << c.what << ": " << r.error().display();
        }
    }
    EXPECT_EQ(p.asset_names(), Names{"@asset/meshes/one"});
    EXPECT_EQ(p.asset("@asset/meshes/one"), (AssetSnapshot{"mesh", kEnvelope, 1, {"t"}, bytes("data")}));

    // Replacing a missing asset reports the name before the envelope.
    auto missing = p.replace_asset("@asset/m/none", "grid", kEnvelope, {}, 1, {});
    EXPECT_EQ(missing.error(), Error::not_found("asset '@asset/m/none'"));

    // A stored frame (as from a file) survives a rename and goes with a
    // replacement.
    ASSERT_TRUE(p.add_asset("@asset/meshes/two", "mesh", kEnvelope, {}, 1, {}));
    p.assets.at("@asset/meshes/one").frame = bytes("raw frame");
    EXPECT_EQ(p.rename_asset("@asset/meshes/one", "@asset/meshes/two").error(),
              Error::parse("asset '@asset/meshes/two' already exists"));
    EXPECT_EQ(p.rename_asset("@asset/meshes/none", "@asset/meshes/three").error(),
              Error::not_found("asset '@asset/meshes/none'"));
    EXPECT_EQ(p.rename_asset("bad", "@asset/meshes/one").error().kind(), ErrorKind::Parse);
    ASSERT_TRUE(p.rename_asset("@asset/meshes/one", "@asset/meshes/one"));
    EXPECT_EQ(p.asset_names(), (Names{"@asset/meshes/one", "@asset/meshes/two"}));
    ASSERT_TRUE(p.rename_asset("@asset/meshes/one", "@asset/meshes/three"));
    EXPECT_EQ(p.asset_names(), (Names{"@asset/meshes/two", "@asset/meshes/three"}));
    EXPECT_EQ(p.assets.at("@asset/meshes/three").frame, bytes("raw frame"));
    ASSERT_TRUE(p.replace_asset("@asset/meshes/three", "mesh", kEnvelope, {"n"}, 1, bytes("new")));
    EXPECT_EQ(p.assets.at("@asset/meshes/three").frame, std::nullopt);
    EXPECT_EQ(p.asset("@asset/meshes/three")->data, bytes("new"));
    EXPECT_EQ(p.asset_names(), (Names{"@asset/meshes/two", "@asset/meshes/three"}));

    EXPECT_FALSE(p.delete_asset("not an asset name"));
    EXPECT_TRUE(p.delete_asset("@asset/meshes/two"));
    EXPECT_EQ(p.asset_names(), Names{"@asset/meshes/three"});
    EXPECT_EQ(p.asset("@asset/meshes/two"), std::nullopt);
}

}  // namespace
}  // namespace vz
