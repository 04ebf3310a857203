// Conversions between regular, structured and triangulated surfaces, and the
// regridding of structured surfaces onto a regular lattice.

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <limits>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "core/attribute.hpp"
#include "core/shell/structured.hpp"
#include "core/structured_surface.hpp"
#include "core/surface.hpp"
#include "core/surface_convert.hpp"
#include "core/tri_surface.hpp"
#include "foundation/error.hpp"

namespace vz {
namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kInf = std::numeric_limits<double>::infinity();

template <class T>
std::string error_text(const Result<T>& r) {
    return r ? std::string("<ok>") : r.error().display();
}

AttributeMetadata continuous(const std::string& name, std::optional<std::string> units = std::nullopt) {
    AttributeMetadata m;
    m.id = name;
    m.label = name + " label";
    m.kind = AttributeKind::Continuous;
    m.units = std::move(units);
    return m;
}

AttributeMetadata categorical(const std::string& name) {
    AttributeMetadata m;
    m.id = name;
    m.label = name;
    m.kind = AttributeKind::Categorical;
    CodeTable codes;
    codes.insert({"1", CodeRecord{"sand", "#FFCC00"}});
    codes.insert({"2", CodeRecord{"shale", "#336699"}});
    m.codes = codes;
    return m;
}

/// A rotated ncol x nrow surface: values 10 i + j (NaN at `hole`), lanes
/// "facies" (categorical 1 or 2) and "phi" (continuous, 0.01 (i + j)), the
/// primary metadata continuous "depth" in m, history ["surface.new",
/// "surface.set_attr_with_metadata(name=…)"…].
Surface sample_surface(std::size_t ncol, std::size_t nrow, std::optional<std::pair<std::size_t, std::size_t>> hole = {}) {
    const GridGeometry g{1000, 2000, 25, 40, ncol, nrow, 30, false};
    Grid2 v(ncol, nrow), facies(ncol, nrow), phi(ncol, nrow);
    for (std::size_t i = 0; i < ncol; ++i)
        for (std::size_t j = 0; j < nrow; ++j) {
            v(i, j) = 10.0 * i + j;
            facies(i, j) = (i + j) % 2 == 0 ? 1.0 : 2.0;
            phi(i, j) = 0.01 * double(i + j);
        }
    if (hole) v(hole->first, hole->second) = kNaN;
    auto s = Surface::make(g, std::move(v));
    EXPECT_TRUE(s.has_value());
    EXPECT_TRUE(s->set_attr_with_metadata("facies", facies, categorical("facies")).has_value());
    EXPECT_TRUE(s->set_attr_with_metadata("phi", phi, continuous("phi", "v/v")).has_value());
    s->primary_metadata = continuous("depth", "m");
    return *s;
}

std::vector<std::string> with_entry(const History& h, const std::string& entry) {
    std::vector<std::string> out = h.entries();
    out.push_back(entry);
    return out;
}

bool same_value(double a, double b) { return (std::isnan(a) && std::isnan(b)) || a == b; }

// ---------------------------------------------------------------------------
// Building blocks

TEST(SurfaceConvertBlocks, ValuesByLabel) {
    Grid2 v(3, 2);
    for (std::size_t i = 0; i < 3; ++i)
        for (std::size_t j = 0; j < 2; ++j) v(i, j) = 10.0 * i + j;
    const std::vector<std::optional<NodeLabel>> labels = {
        NodeLabel{0, 0, 0}, NodeLabel{0, 2, 1}, std::nullopt, NodeLabel{7, 1, 0},  // block not looked at
        NodeLabel{0, 3, 0}, NodeLabel{0, -1, 0}, NodeLabel{0, 0, 2},               // outside: NaN
    };
    const auto got = surface_convert::values_by_label(v, labels);
    const std::vector<double> expected = {0, 21, kNaN, 10, kNaN, kNaN, kNaN};
    ASSERT_EQ(got.size(), expected.size());
    for (std::size_t k = 0; k < got.size(); ++k) EXPECT_TRUE(same_value(got[k], expected[k])) << k;
}

TEST(SurfaceConvertBlocks, FiniteSamples) {
    const std::vector<NodeXY> nodes = {{0, 0}, {1, 0}, {2, 0}, {3, 0}, {kNaN, 9}};
    const std::vector<double> values = {5, kNaN, kInf, -1, 7, 8};  // one more value than nodes
    const auto got = surface_convert::finite_samples(nodes, values);
    // Positions are not tested: the NaN-x node keeps its finite value.
    ASSERT_EQ(got.size(), 3u);
    EXPECT_EQ(got[0], (surface_convert::Sample{0, 0, 5}));
    EXPECT_EQ(got[1], (surface_convert::Sample{3, 0, -1}));
    EXPECT_TRUE(std::isnan(got[2][0]));
    EXPECT_EQ(got[2][2], 7);
}

// ---------------------------------------------------------------------------
// Lifting

TEST(SurfaceConvert, RegularToTriangulatedCarriesEverything) {
    const Surface src = sample_surface(3, 2);
    const auto r = surface_convert::to_tri_surface(src);
    ASSERT_TRUE(r.has_value()) << error_text(r);
    const TriSurface& t = *r;
    ASSERT_EQ(t.shell->node_count(), 6u);
    EXPECT_EQ(t.shell->triangles().size(), 4u);
    // Nodes row by row, each holding the value of its (i, j).
    for (std::size_t k = 0; k < 6; ++k) {
        const std::size_t i = k % 3, j = k / 3;
        const auto [x, y] = src.geom.node_xy(i, j);
        EXPECT_NEAR(t.shell->nodes()[k][0], x, 1e-9);
        EXPECT_NEAR(t.shell->nodes()[k][1], y, 1e-9);
        EXPECT_EQ(t.values[k], src.values(i, j));
        EXPECT_EQ(t.attr("facies")->at(k), src.attr("facies")->operator()(i, j));
        EXPECT_EQ(t.attr("phi")->at(k), src.attr("phi")->operator()(i, j));
    }
    EXPECT_EQ(t.attr_names(), (std::vector<std::string_view>{"facies", "phi"}));
    EXPECT_EQ(*t.attr_metadata("facies"), categorical("facies"));
    EXPECT_EQ(*t.attr_metadata("phi"), continuous("phi", "v/v"));
    EXPECT_EQ(t.primary_metadata, src.primary_metadata);
    EXPECT_EQ(t.history.entries(), with_entry(src.history, "surface.to_tri_surface()"));
}

TEST(SurfaceConvert, RegularToStructuredCarriesEverything) {
    const Surface src = sample_surface(4, 3, std::pair<std::size_t, std::size_t>{2, 1});
    const auto r = surface_convert::to_structured_mesh(src);
    ASSERT_TRUE(r.has_value()) << error_text(r);
    const StructuredMeshSurface& s = *r;
    ASSERT_EQ(s.ncol(), 4u);
    ASSERT_EQ(s.nrow(), 3u);
    EXPECT_EQ(s.shell->nominal(), std::optional<GridGeometry>(src.geom));
    EXPECT_EQ(s.shell->edge(), PolygonSet::from_grid_geometry(src.geom));
    for (std::size_t i = 0; i < 4; ++i)
        for (std::size_t j = 0; j < 3; ++j) {
            const auto [x, y] = src.geom.node_xy(i, j);
            EXPECT_EQ(s.shell->x()(i, j), x);
            EXPECT_EQ(s.shell->y()(i, j), y);
            EXPECT_TRUE(same_value(s.values(i, j), src.values(i, j)));
        }
    EXPECT_TRUE(std::isnan(s.values(2, 1)));
    EXPECT_EQ(s.attr_names(), (std::vector<std::string_view>{"facies", "phi"}));
    EXPECT_EQ(*s.attr("facies"), *src.attr("facies"));
    EXPECT_EQ(*s.attr_metadata("facies"), categorical("facies"));
    EXPECT_EQ(s.primary_metadata, src.primary_metadata);
    EXPECT_EQ(s.history.entries(), with_entry(src.history, "surface.to_structured_mesh()"));
}

TEST(SurfaceConvert, RegularThroughStructuredToTriangulated) {
    const Surface src = sample_surface(5, 4, std::pair<std::size_t, std::size_t>{1, 2});
    const auto structured = surface_convert::to_structured_mesh(src);
    ASSERT_TRUE(structured.has_value());
    const auto tri = surface_convert::to_tri_surface(*structured);
    ASSERT_TRUE(tri.has_value()) << error_text(tri);
    const auto direct = surface_convert::to_tri_surface(src);
    ASSERT_TRUE(direct.has_value());
    // Same mesh, values, lanes and metadata either way; the history tells the road.
    EXPECT_EQ(tri->shell->nodes(), direct->shell->nodes());
    EXPECT_EQ(tri->shell->triangles(), direct->shell->triangles());
    EXPECT_EQ(tri->shell->labels(), direct->shell->labels());
    ASSERT_EQ(tri->values.size(), 20u);
    for (std::size_t k = 0; k < tri->values.size(); ++k) EXPECT_TRUE(same_value(tri->values[k], direct->values[k]));
    EXPECT_TRUE(std::isnan(tri->values[2 * 5 + 1]));
    EXPECT_EQ(tri->attributes, direct->attributes);
    EXPECT_EQ(tri->primary_metadata, src.primary_metadata);
    std::vector<std::string> expected = src.history.entries();
    expected.push_back("surface.to_structured_mesh()");
    expected.push_back("structured_surface.to_tri_surface()");
    EXPECT_EQ(tri->history.entries(), expected);
}

TEST(SurfaceConvert, SingleRowAndAbsentNodes) {
    const Surface row = sample_surface(4, 1);
    EXPECT_EQ(error_text(surface_convert::to_tri_surface(row)),
              "geometry inference failed: structured shell has no complete cell to triangulate");
    const auto lifted = surface_convert::to_structured_mesh(row);
    ASSERT_TRUE(lifted.has_value()) << error_text(lifted);
    EXPECT_EQ(lifted->nrow(), 1u);
    EXPECT_EQ(error_text(surface_convert::to_tri_surface(*lifted)),
              "geometry inference failed: structured shell has no complete cell to triangulate");

    // Node (1, 1) of a 3 x 4 shell absent: it is no mesh node, and the four
    // cells around it have no triangles.
    Grid2 x(3, 4), y(3, 4), v(3, 4);
    for (std::size_t i = 0; i < 3; ++i)
        for (std::size_t j = 0; j < 4; ++j) {
            x(i, j) = 10.0 * i;
            y(i, j) = 10.0 * j;
            v(i, j) = double(i + 3 * j);
        }
    x(1, 1) = kNaN;
    auto s = StructuredMeshSurface::make(x, y, v, std::nullopt, PolygonSet{});
    ASSERT_TRUE(s.has_value());
    Grid2 lane(3, 4, 2.5);
    ASSERT_TRUE(s->set_attr("k", lane).has_value());
    const auto t = surface_convert::to_tri_surface(*s);
    ASSERT_TRUE(t.has_value()) << error_text(t);
    EXPECT_EQ(t->shell->node_count(), 11u);
    // Only the cells (0, 2) and (1, 2) keep all four corners.
    EXPECT_EQ(t->shell->triangles().size(), 4u);
    for (const auto& label : t->shell->labels()) {
        ASSERT_TRUE(label.has_value());
        EXPECT_FALSE(label->i == 1 && label->j == 1);
    }
    for (std::size_t k = 0; k < t->values.size(); ++k) {
        const auto& l = *t->shell->labels()[k];
        EXPECT_EQ(t->values[k], double(l.i + 3 * l.j));
    }
    EXPECT_EQ(t->attr("k")->size(), 11u);
}

TEST(SurfaceConvert, EmptyLatticeAndUnchangedSource) {
    // No column: neither lift can build a shell; the shell's own error comes back.
    auto empty = Surface::make(GridGeometry{0, 0, 1, 1, 0, 3, 0, false}, Grid2(0, 3));
    ASSERT_TRUE(empty.has_value());
    const auto s = surface_convert::to_structured_mesh(*empty);
    ASSERT_FALSE(s.has_value());
    EXPECT_EQ(s.error().kind(), ErrorKind::GeometryMismatch);
    EXPECT_FALSE(surface_convert::to_tri_surface(*empty).has_value());

    const Surface src = sample_surface(4, 3);
    const Surface copy = src;
    ASSERT_TRUE(surface_convert::to_tri_surface(src).has_value());
    ASSERT_TRUE(surface_convert::to_structured_mesh(src).has_value());
    EXPECT_EQ(src.history.entries(), copy.history.entries());
    EXPECT_EQ(src.attributes, copy.attributes);
    EXPECT_EQ(src.values, copy.values);
}

// ---------------------------------------------------------------------------
// Regridding a structured surface

/// A gently curved 6 x 5 structured surface with values x / 10 + y / 20, a
/// categorical lane and a continuous lane.
StructuredMeshSurface curved_surface(bool categorical_primary, bool empty_lane = false) {
    const std::size_t ncol = 6, nrow = 5;
    Grid2 x(ncol, nrow), y(ncol, nrow), v(ncol, nrow), facies(ncol, nrow), phi(ncol, nrow);
    for (std::size_t i = 0; i < ncol; ++i)
        for (std::size_t j = 0; j < nrow; ++j) {
            x(i, j) = 100.0 * i + 3.0 * double(j * j);
            y(i, j) = 100.0 * j + 2.0 * double(i);
            v(i, j) = categorical_primary ? double(1 + (i / 3)) : x(i, j) / 10.0 + y(i, j) / 20.0;
            facies(i, j) = (j < 2) ? 1.0 : 2.0;
            phi(i, j) = empty_lane ? kNaN : 0.1 + 0.01 * double(i);
        }
    auto s = StructuredMeshSurface::make(x, y, v, std::nullopt, PolygonSet{});
    EXPECT_TRUE(s.has_value());
    EXPECT_TRUE(s->set_attr_with_metadata("facies", facies, categorical("facies")).has_value());
    EXPECT_TRUE(s->set_attr_with_metadata("phi", phi, continuous("phi")).has_value());
    s->primary_metadata = categorical_primary ? categorical("zone") : continuous("depth", "m");
    if (categorical_primary) s->primary_metadata->id = "zone";
    return *s;
}

TEST(StructuredResample, CarriesLanesAndRoutesCategoricalToNearest) {
    const GridGeometry target{-50, -50, 25, 20, 24, 24, 0, false};
    for (const bool cat : {false, true}) {
        const StructuredMeshSurface src = curved_surface(cat);
        const auto r = surface_convert::resample(src, target, GriddingMethod::MinimumCurvature);
        ASSERT_TRUE(r.has_value()) << error_text(r);
        EXPECT_EQ(r->geom, target);
        EXPECT_EQ(r->primary_metadata, src.primary_metadata);
        EXPECT_EQ(r->attr_names(), (std::vector<std::string_view>{"facies", "phi"}));
        EXPECT_EQ(*r->attr_metadata("facies"), categorical("facies"));
        EXPECT_EQ(r->history.entries(),
                  with_entry(src.history, "structured_surface.resample(ncol=24, nrow=24, method=MinimumCurvature)"));
        // Categorical values stay codes of the source; a continuous lane is
        // interpolated and takes values between the codes' neighbours.
        std::set<double> facies_seen, primary_seen;
        bool phi_between_nodes = false;
        for (const double f : r->attr("facies")->values())
            if (std::isfinite(f)) facies_seen.insert(f);
        for (const double p : r->values.values())
            if (std::isfinite(p)) primary_seen.insert(p);
        for (const double p : r->attr("phi")->values()) {
            const double steps = (p - 0.1) / 0.01;
            if (std::isfinite(p) && std::fabs(steps - std::round(steps)) > 1e-3) phi_between_nodes = true;
        }
        EXPECT_EQ(facies_seen, (std::set<double>{1.0, 2.0}));
        EXPECT_TRUE(phi_between_nodes);
        if (cat) {
            EXPECT_EQ(primary_seen, (std::set<double>{1.0, 2.0}));
        } else {
            EXPECT_GT(primary_seen.size(), 100u);
        }
    }
}

TEST(StructuredResample, FailuresOfTheGridding) {
    const GridGeometry target{0, 0, 50, 50, 10, 20, 0, false};
    const auto empty_lane = surface_convert::resample(curved_surface(false, true), target, GriddingMethod::Nearest);
    ASSERT_FALSE(empty_lane.has_value());
    EXPECT_EQ(empty_lane.error().kind(), ErrorKind::Tools);
    EXPECT_EQ(empty_lane.error().display(), "empty input: grid: no points to grid");

    StructuredMeshSurface no_primary = curved_surface(false);
    Grid2 nan_values(no_primary.ncol(), no_primary.nrow(), kNaN);
    no_primary.values = nan_values;
    EXPECT_EQ(error_text(surface_convert::resample(no_primary, target, GriddingMethod::InverseDistance)),
              "empty input: grid: no points to grid");

    // Lanes by name: an unknown name is refused, not looked up elsewhere.
    const std::vector<std::string> names = {"phi", "nope"};
    const auto lanes = surface_convert::collect_structured_lanes(names, curved_surface(false));
    EXPECT_EQ(error_text(lanes), "not found: no attribute layer 'nope'");
}

TEST(StructuredResample, LaneSamplesComeFromTheLaneAlone) {
    // A node whose primary value is undefined still feeds its lanes.
    StructuredMeshSurface s = curved_surface(false);
    s.values(0, 0) = kNaN;
    const std::vector<std::string> names = {"phi", "facies"};
    const auto lanes = surface_convert::collect_structured_lanes(names, s);
    ASSERT_TRUE(lanes.has_value());
    ASSERT_EQ(lanes->size(), 2u);
    EXPECT_EQ((*lanes)[0].metadata.id, "phi");
    EXPECT_EQ((*lanes)[0].samples.size(), 30u);
    // Rows outer, columns inner.
    EXPECT_EQ((*lanes)[0].samples[1], (surface_convert::Sample{100.0, 2.0, 0.11}));
    EXPECT_EQ((*lanes)[0].samples[6], (surface_convert::Sample{3.0, 100.0, 0.1}));
}

}  // namespace
}  // namespace vz
