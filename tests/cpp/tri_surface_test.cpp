// Triangulated surfaces: construction on a shared mesh shell, lanes and their
// metadata rules, lane promotion, geometry queries, display lanes and
// resampling onto a regular lattice.

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "core/tri_surface.hpp"

namespace vz {
namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kInf = std::numeric_limits<double>::infinity();

template <class T>
std::string error_text(const Result<T>& r) {
    return r ? std::string("<ok>") : r.error().display();
}

bool same(double a, double b) { return (std::isnan(a) && std::isnan(b)) || a == b; }

/// The mesh of a 3 x 3 lattice at (10 i, 20 + 10 j): nodes n = 3 j + i.
SharedMeshShell lattice_shell() {
    auto m = MeshShell::from_grid_geometry(GridGeometry{0, 20, 10, 10, 3, 3, 0, false});
    EXPECT_TRUE(m) << error_text(m);
    return std::make_shared<const MeshShell>(*std::move(m));
}

/// Surface on `lattice_shell` with value 3 j + i at node (i, j).
TriSurface surface9() {
    std::vector<double> v(9);
    for (std::size_t n = 0; n < 9; ++n) v[n] = double(n);
    auto s = TriSurface::from_shell(lattice_shell(), v);
    EXPECT_TRUE(s) << error_text(s);
    return *std::move(s);
}

AttributeMetadata categorical(const std::string& id) {
    AttributeMetadata m{id, "Zone", AttributeKind::Categorical, std::nullopt, CodeTable{}};
    m.codes->insert({"3", CodeRecord{"upper", "#00FF00"}});
    return m;
}

AttributeMetadata continuous(const std::string& id, const std::string& label = "Label") {
    return AttributeMetadata{id, label, AttributeKind::Continuous, std::string("v/v"), std::nullopt};
}

// ---- construction ---------------------------------------------------------

TEST(TriSurfaceBuild, FromShellChecksTheValueCount) {
    std::vector<NodeXY> nodes(10, NodeXY{0, 0});
    auto shell = std::make_shared<const MeshShell>(*MeshShell::make(
        nodes, {}, {}, PolygonSet{}, std::vector<std::optional<NodeLabel>>(10, std::nullopt)));
    struct Case {
        std::size_t count;
        const char* message;
    };
    const Case cases[] = {
        {10, nullptr},
        {9, "TriSurface::from_shell: 9 lane values for 10 shell nodes"},
        {11, "TriSurface::from_shell: 11 lane values for 10 shell nodes"},
        {0, "TriSurface::from_shell: 0 lane values for 10 shell nodes"},
    };
    for (const auto& c : cases) {
        auto s = TriSurface::from_shell(shell, std::vector<double>(c.count, 1.0));
        if (!c.message) {
            ASSERT_TRUE(s) << error_text(s);
            EXPECT_EQ(s->history.entries(), std::vector<std::string>{"tri_surface.from_shell"});
            EXPECT_FALSE(s->primary_metadata);
            EXPECT_TRUE(s->attributes.empty());
            EXPECT_EQ(s->shell.get(), shell.get());
            continue;
        }
        ASSERT_FALSE(s);
        EXPECT_EQ(s.error().kind(), ErrorKind::GeometryMismatch);
        EXPECT_EQ(s.error().message(), c.message);
    }
}

TEST(TriSurfaceBuild, FromShellWithoutAShellIsAnError) {
    auto s = TriSurface::from_shell(nullptr, {});
    ASSERT_FALSE(s);
    EXPECT_EQ(s.error().kind(), ErrorKind::GeometryMismatch);
    EXPECT_EQ(s.error().message(), "TriSurface::from_shell: no shell");
}

TEST(TriSurfaceBuild, CopiesAndPromotedLanesShareOneShell) {
    auto s = surface9();
    ASSERT_TRUE(s.set_attr("a", std::vector<double>(9, 1.0)));
    const TriSurface copy = s;
    auto promoted = s.as_attr_surface("a");
    ASSERT_TRUE(promoted);
    EXPECT_EQ(copy.shell.get(), s.shell.get());
    EXPECT_EQ(promoted->shell.get(), s.shell.get());
    EXPECT_EQ(s.shell.use_count(), 3);
}

// ---- lanes --------------------------------------------------------------------

TEST(TriSurfaceLanes, SetAttrAddsDefaultMetadataAndKeepsExistingOnes) {
    auto s = surface9();
    ASSERT_TRUE(s.set_attr("poro", std::vector<double>(9, 0.1)));
    EXPECT_EQ(*s.attr_metadata("poro"),
              (AttributeMetadata{"poro", "poro", AttributeKind::Continuous, std::nullopt, std::nullopt}));
    ASSERT_TRUE(s.set_attr_with_metadata("zone", std::vector<double>(9, 3.0), categorical("zone")));

    struct Case {
        double value;
        bool ok;
    };
    const Case cases[] = {{0.5, false}, {3.0, true}, {kNaN, true}, {-kInf, true}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.value);
        const auto lanes = s.attributes;
        const auto hist = s.history;
        std::vector<double> v(9, 3.0);
        v[4] = c.value;
        auto r = s.set_attr("zone", v);
        if (!c.ok) {
            ASSERT_FALSE(r);
            EXPECT_EQ(r.error().kind(), ErrorKind::Parse);
            EXPECT_EQ(r.error().message(), "categorical attribute 'zone' values must be integers or NaN");
            EXPECT_EQ(s.attributes, lanes);
            EXPECT_EQ(s.history, hist);
            continue;
        }
        ASSERT_TRUE(r) << error_text(r);
        EXPECT_EQ(*s.attr_metadata("zone"), categorical("zone"));
        EXPECT_TRUE(same((*s.attr("zone"))[4], c.value));
        EXPECT_EQ(s.history.entries().back(), "tri_surface.set_attr(name=zone)");
    }
    EXPECT_EQ(s.attr_names(), (std::vector<std::string_view>{"poro", "zone"}));
}

TEST(TriSurfaceLanes, FailuresReportTheFirstBrokenRuleAndChangeNothing) {
    AttributeMetadata bad_units = continuous("a");
    bad_units.units = std::string(" m");
    struct Case {
        const char* what;
        bool with_metadata;
        std::string name;
        std::size_t count;
        double fill;
        AttributeMetadata meta;
        ErrorKind kind;
        const char* message;
    };
    const Case cases[] = {
        {"set_attr count", false, "a", 8, 1.0, {}, ErrorKind::GeometryMismatch,
         "TriSurface::set_attr: 8 lane values for 9 shell nodes"},
        {"set_attr bad name", false, "a ", 9, 1.0, {}, ErrorKind::Parse,
         "attribute metadata id and label must be non-empty, trimmed strings"},
        {"count before validation", true, "a", 10, 1.0, AttributeMetadata{}, ErrorKind::GeometryMismatch,
         "TriSurface::set_attr_with_metadata: 10 lane values for 9 shell nodes"},
        {"validation before id", true, "b", 9, 1.0, bad_units, ErrorKind::Parse,
         "attribute metadata units must be null or a non-empty, trimmed string"},
        {"id mismatch", true, "Zone", 9, 1.0, categorical("zone"), ErrorKind::Parse,
         "attribute metadata id 'zone' must match lane name 'Zone'"},
        {"fractional categorical", true, "zone", 9, 2.75, categorical("zone"), ErrorKind::Parse,
         "categorical attribute 'zone' values must be integers or NaN"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        auto s = surface9();
        std::vector<double> v(c.count, c.fill);
        auto r = c.with_metadata ? s.set_attr_with_metadata(c.name, v, c.meta) : s.set_attr(c.name, v);
        ASSERT_FALSE(r);
        EXPECT_EQ(r.error().kind(), c.kind);
        EXPECT_EQ(r.error().message(), c.message);
        EXPECT_TRUE(s.attributes.empty());
        EXPECT_EQ(s.history.entries(), std::vector<std::string>{"tri_surface.from_shell"});
    }
}

TEST(TriSurfaceLanes, ReplacingTheSecondOfThreeLanesKeepsItSecond) {
    auto s = surface9();
    for (const char* n : {"a", "b", "c"}) ASSERT_TRUE(s.set_attr(n, std::vector<double>(9, 1.0)));
    ASSERT_TRUE(s.set_attr_with_metadata("b", std::vector<double>(9, 2.0), continuous("b", "Bee")));
    EXPECT_EQ(s.attr_names(), (std::vector<std::string_view>{"a", "b", "c"}));
    EXPECT_EQ(*s.attr_metadata("b"), continuous("b", "Bee"));
    EXPECT_EQ(*s.attr("b"), std::vector<double>(9, 2.0));
    EXPECT_EQ(s.history.entries().back(), "tri_surface.set_attr_with_metadata(name=b)");
}

TEST(TriSurfaceLanes, AsAttrSurfacePromotesOnlyTheLane) {
    auto s = surface9();
    s.primary_metadata = continuous("depth");
    ASSERT_TRUE(s.set_attr_with_metadata("zone", std::vector<double>(9, 3.0), categorical("zone")));
    ASSERT_TRUE(s.set_attr("other", std::vector<double>(9, 5.0)));
    EXPECT_FALSE(s.as_attr_surface("missing"));
    auto p = s.as_attr_surface("zone");
    ASSERT_TRUE(p);
    EXPECT_EQ(p->values, std::vector<double>(9, 3.0));
    EXPECT_EQ(p->primary_metadata, categorical("zone"));
    EXPECT_TRUE(p->attributes.empty());
    auto expected = s.history.entries();
    expected.push_back("tri_surface.as_attr_surface(name=zone)");
    EXPECT_EQ(p->history.entries(), expected);
    EXPECT_EQ(s.values[4], 4.0);
}

// ---- geometry and values ------------------------------------------------------

TEST(TriSurfaceGeometry, BBoxSkipsEachNaNCoordinateOnItsOwn) {
    struct Case {
        const char* what;
        std::vector<NodeXY> nodes;
        BBox expected;
    };
    const Case cases[] = {
        {"no nodes", {}, {kInf, kInf, -kInf, -kInf}},
        {"NaN x still counts its y", {{1, 2}, {kNaN, 50}, {3, -4}}, {1, -4, 3, 50}},
        {"NaN y still counts its x", {{1, 2}, {-9, kNaN}}, {-9, 2, 1, 2}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        auto shell = std::make_shared<const MeshShell>(*MeshShell::make(
            c.nodes, {}, {}, PolygonSet{}, std::vector<std::optional<NodeLabel>>(c.nodes.size())));
        auto s = TriSurface::from_shell(shell, std::vector<double>(c.nodes.size(), 0.0));
        ASSERT_TRUE(s);
        EXPECT_EQ(s->bbox(), c.expected);
    }
}

TEST(TriSurfaceGeometry, PointsAndToPointsKeepEveryNodeInOrder) {
    auto s = surface9();
    s.values[2] = kNaN;
    ASSERT_TRUE(s.set_attr("lane", std::vector<double>(9, 1.0)));
    const auto pts = s.points();
    ASSERT_EQ(pts.size(), 9u);
    for (std::size_t n = 0; n < 9; ++n) {
        EXPECT_EQ(pts[n][0], 10.0 * double(n % 3));
        EXPECT_EQ(pts[n][1], 20.0 + 10.0 * double(n / 3));
        EXPECT_TRUE(same(pts[n][2], s.values[n]));
    }
    const PointSet p = s.to_points();
    ASSERT_EQ(p.points.size(), 9u);
    EXPECT_TRUE(std::isnan(p.points[2][2]));
    EXPECT_TRUE(p.attributes.empty());
    EXPECT_EQ(p.history.entries(), (std::vector<std::string>{"tri_surface.from_shell", "tri_surface.set_attr(name=lane)",
                                                             "tri_surface.to_points()"}));
    const Stats st = s.stats();
    EXPECT_EQ(st.count, 8u);
    EXPECT_EQ(st.sum, 36.0 - 2.0);
}

TEST(TriSurfaceGeometry, ComponentsAndWireframeComeFromTheShell) {
    auto s = surface9();
    EXPECT_EQ(s.components(), 1u);
    EXPECT_EQ(s.wireframe_edges(std::nullopt), s.shell->wireframe());
    EXPECT_EQ(s.wireframe_edges(2), s.shell->wireframe_edges(2));
    // 3 x 3 lattice at stride 2: lines 0 and 2 are both outline, line 1 drops.
    EXPECT_EQ(s.wireframe_edges(2).size(), 8u);
}

// ---- display and resampling ------------------------------------------------------

TEST(TriSurfaceDisplay, DisplayLanePicksPrimaryOrNamedLane) {
    auto s = surface9();
    ASSERT_TRUE(s.set_attr("poro", std::vector<double>(9, 0.3)));
    auto primary = s.display_lane(std::nullopt);
    ASSERT_TRUE(primary);
    EXPECT_EQ(primary->name, "values");
    EXPECT_EQ(primary->values.data(), s.values.data());
    auto lane = s.display_lane(std::string("poro"));
    ASSERT_TRUE(lane);
    EXPECT_EQ(lane->name, "poro");
    EXPECT_EQ(std::vector<double>(lane->values.begin(), lane->values.end()), std::vector<double>(9, 0.3));
    auto missing = s.display_lane(std::string("values"));
    ASSERT_FALSE(missing);
    EXPECT_EQ(missing.error().kind(), ErrorKind::NotFound);
    EXPECT_EQ(missing.error().display(), "not found: no attribute layer 'values'");
}

TEST(TriSurfaceResample, GridsPrimaryAndLanesWithCategoricalByNearest) {
    auto s = surface9();
    s.values[4] = kNaN;  // NaN nodes give no sample
    s.primary_metadata = continuous("depth");
    std::vector<double> zone(9);
    for (std::size_t n = 0; n < 9; ++n) zone[n] = n % 2 == 0 ? 1.0 : 2.0;
    ASSERT_TRUE(s.set_attr_with_metadata("zone", zone, categorical("zone")));
    ASSERT_TRUE(s.set_attr("poro", std::vector<double>{0.1, 0.2, 0.3, 0.1, 0.2, 0.3, 0.1, 0.2, 0.3}));

    // A finer lattice over the same footprint: node spacing 2.5.
    const GridGeometry target{0, 20, 2.5, 2.5, 9, 9, 0, false};
    auto r = s.resample(target, GriddingMethod::InverseDistance);
    ASSERT_TRUE(r) << error_text(r);
    EXPECT_EQ(r->geom, target);
    EXPECT_EQ(r->primary_metadata, continuous("depth"));
    EXPECT_EQ(r->attr_names(), (std::vector<std::string_view>{"zone", "poro"}));
    EXPECT_EQ(*r->attr_metadata("zone"), categorical("zone"));
    auto hist = s.history.entries();
    hist.push_back("tri_surface.resample(ncol=9, nrow=9, method=InverseDistance)");
    EXPECT_EQ(r->history.entries(), hist);

    // The categorical lane holds only codes that were sampled; the
    // continuous ones are blended between samples.
    std::set<double> codes;
    for (double v : r->attr("zone")->values())
        if (!std::isnan(v)) codes.insert(v);
    EXPECT_TRUE(codes.size() >= 1 && codes.size() <= 2);
    for (double v : codes) EXPECT_TRUE(v == 1.0 || v == 2.0) << v;
    bool blended = false;
    for (double v : r->attr("poro")->values())
        if (std::isfinite(v) && v != 0.1 && v != 0.2 && v != 0.3) blended = true;
    EXPECT_TRUE(blended);
    // A target node on a sample holds that sample's value.
    EXPECT_DOUBLE_EQ(r->values(0, 0), 0.0);
    EXPECT_DOUBLE_EQ(r->values(8, 8), 8.0);
}

TEST(TriSurfaceResample, CategoricalPrimaryIsGriddedByNearestAndNoSampleFails) {
    auto s = surface9();
    for (std::size_t n = 0; n < 9; ++n) s.values[n] = n < 4 ? 5.0 : 7.0;
    s.primary_metadata = categorical("zone");
    auto r = s.resample(GridGeometry{0, 20, 2.5, 2.5, 9, 9, 0, false}, GriddingMethod::MinimumCurvature);
    ASSERT_TRUE(r) << error_text(r);
    for (double v : r->values.values()) EXPECT_TRUE(v == 5.0 || v == 7.0 || std::isnan(v)) << v;
    EXPECT_EQ(r->history.entries().back(), "tri_surface.resample(ncol=9, nrow=9, method=MinimumCurvature)");

    // All primary values NaN: no sample to grid.
    auto none = surface9();
    std::fill(none.values.begin(), none.values.end(), kNaN);
    auto e = none.resample(GridGeometry{0, 20, 2.5, 2.5, 9, 9, 0, false}, GriddingMethod::Nearest);
    ASSERT_FALSE(e);
    EXPECT_EQ(e.error().kind(), ErrorKind::Tools);
    ASSERT_NE(e.error().tools(), nullptr);
    EXPECT_EQ(e.error().tools()->kind(), ToolsErrorKind::EmptyInput);

    // A lane without finite values fails the same way after the primary.
    auto lane_none = surface9();
    ASSERT_TRUE(lane_none.set_attr("empty", std::vector<double>(9, kNaN)));
    auto le = lane_none.resample(GridGeometry{0, 20, 5, 5, 5, 5, 0, false}, GriddingMethod::Nearest);
    ASSERT_FALSE(le);
    EXPECT_EQ(le.error().kind(), ErrorKind::Tools);
}

}  // namespace
}  // namespace vz
