// Regular surfaces: construction, attribute lanes, promotion, sampling and
// resampling through the surface.

#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "core/surface.hpp"
#include "gridding/grid.hpp"
#include "io/irap.hpp"
#include "io_test_util.hpp"
#include "manager/element.hpp"
#include "surface_test_util.hpp"

namespace vz {
namespace {

using testutil::cols;
using testutil::error_text;
using testutil::expect_values;
using testutil::from_fn;
using testutil::geo;
using testutil::kInf;
using testutil::kNaN;
using testutil::same_bits;

Surface make_surface(const GridGeometry& g, Grid2 v) {
    auto s = Surface::make(g, std::move(v));
    EXPECT_TRUE(s) << error_text(s);
    return *s;
}

AttributeMetadata meta(std::string id, AttributeKind kind) {
    return AttributeMetadata{id, id, kind, std::nullopt, std::nullopt};
}

std::vector<std::string> names_of(const Surface& s) {
    std::vector<std::string> out;
    for (auto n : s.attr_names()) out.emplace_back(n);
    return out;
}

/// Everything a failed in-place operation must leave as it was.
struct Snapshot {
    std::vector<std::string> history;
    std::vector<std::string> names;
    std::vector<Grid2> lanes;
    std::vector<AttributeMetadata> metas;
    explicit Snapshot(const Surface& s) : history(s.history.entries()), names(names_of(s)) {
        for (const auto& [n, lane] : s.attributes) {
            lanes.push_back(lane.values);
            metas.push_back(lane.metadata);
        }
    }
    void expect_same(const Surface& s) const {
        EXPECT_EQ(s.history.entries(), history);
        EXPECT_EQ(names_of(s), names);
        std::size_t k = 0;
        for (const auto& [n, lane] : s.attributes) {
            ASSERT_LT(k, lanes.size());
            EXPECT_TRUE(same_bits(lane.values, lanes[k])) << "lane " << n;
            EXPECT_EQ(lane.metadata, metas[k]) << "lane " << n;
            ++k;
        }
    }
};

// ---- construction ------------------------------------------------------------

TEST(SurfaceConstruction, ShapeMismatchMessagesPerEntryPoint) {
    const GridGeometry g = geo(0, 0, 1, 1, 4, 3);
    const Grid2 wrong(3, 4, 1.0);
    EXPECT_EQ(error_text(Surface::make(g, wrong)),
              "geometry mismatch: Surface::new: values shape [3, 4] != grid (ncol=4, nrow=3)");
    EXPECT_EQ(error_text(SurfaceData::make(g, wrong)),
              "geometry mismatch: surface values shape [3, 4] != grid (ncol=4, nrow=3)");
    Surface s = make_surface(g, Grid2(4, 3, 0.0));
    const Snapshot before(s);
    EXPECT_EQ(error_text(s.set_attr("a", wrong)),
              "geometry mismatch: Surface::set_attr: values shape [3, 4] != grid (ncol=4, nrow=3)");
    // The shape check comes before the metadata checks.
    EXPECT_EQ(error_text(s.set_attr_with_metadata("a", wrong, meta("", AttributeKind::Continuous))),
              "geometry mismatch: Surface::set_attr_with_metadata: values shape [3, 4] != grid (ncol=4, nrow=3)");
    before.expect_same(s);
    // A grid whose storage disagrees with its stated shape is refused too.
    EXPECT_FALSE(Surface::make(g, Grid2(4, 3, std::vector<double>(5, 0.0))));
}

TEST(SurfaceConstruction, MakeAndImport) {
    const GridGeometry g = geo(10, 20, 2, 3, 4, 3, 15, true);
    const Grid2 v = from_fn(4, 3, [](auto i, auto j) { return i == 1 && j == 2 ? kNaN : 10.0 * i + j; });
    Surface s = make_surface(g, v);
    EXPECT_EQ(s.geom, g);
    EXPECT_TRUE(same_bits(s.values, v));
    EXPECT_FALSE(s.primary_metadata);
    EXPECT_TRUE(s.attributes.empty());
    EXPECT_EQ(s.history.entries(), std::vector<std::string>{"surface.new"});
    EXPECT_EQ(s.bbox(), g.bbox());

    auto data = SurfaceData::make(g, v);
    ASSERT_TRUE(data);
    EXPECT_TRUE(data->attributes.empty());
    auto plain = Surface::import(*data);
    ASSERT_TRUE(plain);
    EXPECT_EQ(plain->history.entries(), std::vector<std::string>{"surface.import"});
    EXPECT_TRUE(same_bits(plain->values, v));
    EXPECT_FALSE(plain->primary_metadata);

    data->attributes.insert({"b", Grid2(4, 3, 1.0)});
    data->attributes.insert({"a", Grid2(4, 3, 2.0)});
    auto with_lanes = Surface::import(*data);
    ASSERT_TRUE(with_lanes);
    EXPECT_EQ(names_of(*with_lanes), (std::vector<std::string>{"b", "a"}));
    EXPECT_EQ(with_lanes->history.entries(),
              (std::vector<std::string>{"surface.import", "surface.set_attr(name=b)", "surface.set_attr(name=a)"}));

    // A record carrying a lane the surface refuses yields the refusal, no surface.
    data->attributes.insert({" c", Grid2(4, 3, 3.0)});
    EXPECT_EQ(error_text(Surface::import(*data)),
              "parse error: attribute metadata id and label must be non-empty, trimmed strings");
    data->attributes.erase(" c");
    data->attributes.insert({"d", Grid2(3, 4, 3.0)});
    EXPECT_EQ(error_text(Surface::import(*data)),
              "geometry mismatch: Surface::set_attr: values shape [3, 4] != grid (ncol=4, nrow=3)");
}

TEST(SurfaceConstruction, ConstantValuesAndHistory) {
    struct Case {
        double value;
        const char* entry;
    };
    const Case cases[] = {
        {2.5, "surface.constant(value=2.5)"},   {3.0, "surface.constant(value=3)"},
        {kNaN, "surface.constant(value=NaN)"},  {-kInf, "surface.constant(value=-inf)"},
        {1e21, "surface.constant(value=1000000000000000000000)"}, {0.1, "surface.constant(value=0.1)"},
    };
    for (const Case& c : cases) {
        auto s = Surface::constant(geo(0, 0, 1, 1, 3, 2), c.value);
        ASSERT_TRUE(s);
        expect_values(s->values, std::vector<double>(6, c.value), c.entry);
        EXPECT_EQ(s->history.entries(), std::vector<std::string>{c.entry});
        EXPECT_FALSE(s->primary_metadata);
        EXPECT_TRUE(s->attributes.empty());
    }
    // No check of the geometry: zero columns, NaN increments are fine.
    auto empty = Surface::constant(geo(kNaN, 0, 0, -1, 0, 7), 1.0);
    ASSERT_TRUE(empty);
    EXPECT_EQ(empty->values.ncol(), 0u);
    EXPECT_EQ(empty->values.nrow(), 7u);
    EXPECT_EQ(empty->values.size(), 0u);
}

TEST(SurfaceConstruction, OversizedLatticesAreRefusedBeforeAllocating) {
    struct Case {
        std::uint64_t ncol, nrow;
    };
    const Case cases[] = {
        {std::uint64_t{1} << 32, std::uint64_t{1} << 32},  // product overflows 64 bits
        {std::uint64_t{1} << 20, std::uint64_t{1} << 20},  // 8 TiB of doubles
        {~std::uint64_t{0}, 2},
    };
    const Surface small = make_surface(geo(0, 0, 1, 1, 2, 2), Grid2(2, 2, 1.0));
    for (const Case& c : cases) {
        const auto g = geo(0, 0, 1, 1, c.ncol, c.nrow);
        const std::string dims = "(ncol=" + std::to_string(c.ncol) + ", nrow=" + std::to_string(c.nrow) + ")";
        EXPECT_EQ(error_text(Surface::constant(g, 0.0)), "out of range: Surface::constant: grid " + dims + " is too large");
        auto r = small.resample(g);
        ASSERT_FALSE(r);
        EXPECT_EQ(r.error().display(), "out of range: Surface::resample: grid " + dims + " is too large");
        // A degenerate source is reported before the size of the target.
        const Surface flat = make_surface(geo(0, 0, 0, 1, 2, 2), Grid2(2, 2, 1.0));
        EXPECT_EQ(error_text(flat.resample(g)),
                  "invalid geometry: resample: degenerate source geometry (empty grid or zero node spacing)");
    }
}

// A lattice with no columns and 2^60 rows holds no value, yet every walk
// over its rows would run for ever (the IRAP writer looped 2^60 times). Each
// axis is held to the lattice limit on its own, wherever a surface comes
// from or goes to; an axis at the limit itself is still accepted.
TEST(SurfaceConstruction, EveryAxisIsHeldToTheLatticeLimit) {
    const std::uint64_t huge = std::uint64_t{1} << 60;
    struct Case {
        std::uint64_t ncol, nrow;
        bool refused;
    };
    const Case cases[] = {
        {0, huge, true},
        {huge, 0, true},
        {0, kMaxGridNodes + 1, true},
        {kMaxGridNodes, 0, false},
        {0, kMaxGridNodes, false},
    };
    testing::ScratchDir dir;
    for (const Case& c : cases) {
        const auto g = geo(0, 0, 1, 1, c.ncol, c.nrow);
        const std::string dims = "(ncol=" + std::to_string(c.ncol) + ", nrow=" + std::to_string(c.nrow) + ")";
        const std::string too_large = "grid " + dims + " is too large";
        const Grid2 none(static_cast<std::size_t>(c.ncol), static_cast<std::size_t>(c.nrow), std::vector<double>{});
        auto expect = [&](const auto& result, const std::string& error, const char* where) {
            if (c.refused) {
                EXPECT_EQ(error_text(result), error) << where << " " << dims;
            } else {
                EXPECT_TRUE(result) << where << " " << dims << ": " << error_text(result);
            }
        };
        expect(Surface::make(g, none), "out of range: Surface::new: " + too_large, "Surface::new");
        expect(SurfaceData::make(g, none), "out of range: surface values: " + too_large, "SurfaceData::new");
        expect(Surface::constant(g, 1.0), "out of range: Surface::constant: " + too_large, "Surface::constant");

        // A stored surface of that lattice (written around the constructor).
        Surface stored{g, none, std::nullopt, {}, History::make("surface.new")};
        auto bytes = element::serialize_surface(stored);
        ASSERT_TRUE(bytes) << error_text(bytes);
        expect(element::decode_surface(2, *bytes), "out of range: Surface::new: " + too_large, "decode");

        expect(irap::classic_text(g, none), "out of range: save_irap_classic: " + too_large, "IRAP writer");
        const auto file = dir.write("huge.irap", "-996 " + std::to_string(c.nrow) + " 1 1 0 0 0 0 " +
                                                     std::to_string(c.ncol) + " 0 0 0 0 0 0 0 0 0 0\n");
        expect(irap::read_classic(file), "parse error: IRAP classic: " + too_large, "IRAP reader");

        const gridding::Sample sample{0, 0, 1};
        auto gridded = gridding::grid(std::span(&sample, 1), g.lattice(), gridding::kMethodNearest);
        if (c.refused) {
            ASSERT_FALSE(gridded) << dims;
            EXPECT_EQ(gridded.error().display(), "invalid argument: grid: lattice " + dims + " is too large");
        }
    }
}

// ---- lanes ------------------------------------------------------------------------

TEST(SurfaceLanes, SetAttrOrderReplacementAndHistory) {
    Surface s = make_surface(geo(0, 0, 1, 1, 2, 2), Grid2(2, 2, 0.0));
    ASSERT_TRUE(s.set_attr("b", Grid2(2, 2, 1.0)));
    ASSERT_TRUE(s.set_attr("a", Grid2(2, 2, 2.0)));
    ASSERT_TRUE(s.set_attr("b", cols({{3, 4}, {5, kNaN}})));
    EXPECT_EQ(names_of(s), (std::vector<std::string>{"b", "a"}));
    ASSERT_NE(s.attr("b"), nullptr);
    expect_values(*s.attr("b"), {3, 4, 5, kNaN});
    expect_values(*s.attr("a"), {2, 2, 2, 2});
    EXPECT_EQ(s.attr("B"), nullptr);  // exact names
    EXPECT_EQ(s.attr_metadata("B"), nullptr);
    ASSERT_NE(s.attr_metadata("a"), nullptr);
    EXPECT_EQ(*s.attr_metadata("a"), meta("a", AttributeKind::Continuous));
    EXPECT_EQ(s.history.entries(), (std::vector<std::string>{"surface.new", "surface.set_attr(name=b)",
                                                              "surface.set_attr(name=a)", "surface.set_attr(name=b)"}));
    // The primary values are untouched by lane operations.
    expect_values(s.values, {0, 0, 0, 0});
}

TEST(SurfaceLanes, SetAttrRefusalsLeaveSurfaceUnchanged) {
    Surface s = make_surface(geo(0, 0, 1, 1, 2, 2), Grid2(2, 2, 0.0));
    ASSERT_TRUE(s.set_attr_with_metadata("facies", cols({{1, 2}, {3, 4}}), meta("facies", AttributeKind::Categorical)));
    ASSERT_TRUE(s.set_attr("poro", Grid2(2, 2, 0.25)));
    struct Case {
        const char* name;
        Grid2 values;
        std::string expected;
    };
    const Case cases[] = {
        {"", Grid2(2, 2, 1.0), "parse error: attribute metadata id and label must be non-empty, trimmed strings"},
        {" x", Grid2(2, 2, 1.0), "parse error: attribute metadata id and label must be non-empty, trimmed strings"},
        {"x ", Grid2(2, 2, 1.0), "parse error: attribute metadata id and label must be non-empty, trimmed strings"},
        {"facies", cols({{1, 2}, {1.5, 4}}), "parse error: categorical attribute 'facies' values must be integers or NaN"},
        {"facies", cols({{1, 2}, {-1e-300, 4}}), "parse error: categorical attribute 'facies' values must be integers or NaN"},
        {"facies", Grid2(1, 4, 1.0), "geometry mismatch: Surface::set_attr: values shape [1, 4] != grid (ncol=2, nrow=2)"},
    };
    for (const Case& c : cases) {
        const Snapshot before(s);
        EXPECT_EQ(error_text(s.set_attr(c.name, c.values)), c.expected) << "name '" << c.name << "'";
        before.expect_same(s);
    }
    // Whole numbers, NaN and infinities are accepted in a categorical lane and
    // the lane keeps its metadata.
    ASSERT_TRUE(s.set_attr("facies", cols({{1, 2}, {kNaN, kInf}})));
    expect_values(*s.attr("facies"), {1, 2, kNaN, kInf});
    EXPECT_EQ(s.attr_metadata("facies")->kind, AttributeKind::Categorical);
    // A continuous lane takes fractions.
    ASSERT_TRUE(s.set_attr("poro", Grid2(2, 2, 0.5)));
}

TEST(SurfaceLanes, SetAttrWithMetadataChecksInOrder) {
    Surface s = make_surface(geo(0, 0, 1, 1, 2, 2), Grid2(2, 2, 0.0));
    AttributeMetadata bad_units = meta("A", AttributeKind::Continuous);
    bad_units.units = " m";
    struct Case {
        const char* what;
        const char* name;
        Grid2 values;
        AttributeMetadata md;
        std::string expected;
    };
    const Case cases[] = {
        {"id differs", "a", Grid2(2, 2, 1.0), meta("A", AttributeKind::Continuous),
         "parse error: attribute metadata id 'A' must match lane name 'a'"},
        {"invalid metadata reported before the id", "a", Grid2(2, 2, 1.0), bad_units,
         "parse error: attribute metadata units must be null or a non-empty, trimmed string"},
        {"categorical fractions", "c", Grid2(2, 2, 0.5), meta("c", AttributeKind::Categorical),
         "parse error: categorical attribute 'c' values must be integers or NaN"},
        {"id mismatch before categorical test", "c", Grid2(2, 2, 0.5), meta("d", AttributeKind::Categorical),
         "parse error: attribute metadata id 'd' must match lane name 'c'"},
    };
    for (const Case& c : cases) {
        const Snapshot before(s);
        EXPECT_EQ(error_text(s.set_attr_with_metadata(c.name, c.values, c.md)), c.expected) << c.what;
        before.expect_same(s);
    }
}

TEST(SurfaceLanes, SetAttrWithMetadataReplacesWholeLaneInPlace) {
    Surface s = make_surface(geo(0, 0, 1, 1, 2, 1), Grid2(2, 1, 0.0));
    ASSERT_TRUE(s.set_attr("x", Grid2(2, 1, 0.5)));
    ASSERT_TRUE(s.set_attr("y", Grid2(2, 1, 1.5)));
    AttributeMetadata cat = meta("x", AttributeKind::Categorical);
    cat.units = "code";
    cat.codes = CodeTable{};
    cat.codes->insert({"1", CodeRecord{"Sand", "#FFCC00"}});
    // Metadata is stored as given (not canonicalised): the lower-case colour stays.
    cat.codes->insert({"2", CodeRecord{"Shale", "#00aa00"}});
    ASSERT_TRUE(s.set_attr_with_metadata("x", cols({{1}, {2}}), cat));
    EXPECT_EQ(names_of(s), (std::vector<std::string>{"x", "y"}));
    EXPECT_EQ(*s.attr_metadata("x"), cat);
    expect_values(*s.attr("x"), {1, 2});
    ASSERT_TRUE(s.set_attr_with_metadata("z", Grid2(2, 1, 7.0), meta("z", AttributeKind::Continuous)));
    EXPECT_EQ(names_of(s), (std::vector<std::string>{"x", "y", "z"}));
    EXPECT_EQ(s.history.entries(),
              (std::vector<std::string>{"surface.new", "surface.set_attr(name=x)", "surface.set_attr(name=y)",
                                        "surface.set_attr_with_metadata(name=x)",
                                        "surface.set_attr_with_metadata(name=z)"}));
    // Once categorical, plain set_attr enforces whole numbers on the lane.
    EXPECT_FALSE(s.set_attr("x", Grid2(2, 1, 0.5)));
}

TEST(SurfaceLanes, AsAttrSurfacePromotesOneLane) {
    Surface s = make_surface(geo(1, 2, 3, 4, 2, 1, 30), cols({{9}, {8}}));
    s.primary_metadata = meta("primary", AttributeKind::Continuous);
    ASSERT_TRUE(s.set_attr_with_metadata("f", cols({{1}, {kNaN}}), meta("f", AttributeKind::Categorical)));
    ASSERT_TRUE(s.set_attr("g", Grid2(2, 1, 5.0)));
    EXPECT_FALSE(s.as_attr_surface("F"));
    EXPECT_FALSE(s.as_attr_surface("missing"));
    auto p = s.as_attr_surface("f");
    ASSERT_TRUE(p);
    EXPECT_EQ(p->geom, s.geom);
    expect_values(p->values, {1, kNaN});
    EXPECT_EQ(p->primary_metadata, meta("f", AttributeKind::Categorical));
    EXPECT_TRUE(p->attributes.empty());
    auto expected_history = s.history.entries();
    expected_history.push_back("surface.as_attr_surface(name=f)");
    EXPECT_EQ(p->history.entries(), expected_history);
    // The source is untouched.
    expect_values(s.values, {9, 8});
    EXPECT_EQ(s.attributes.size(), 2u);
}

// ---- sampling and resampling through the surface ----------------------------

TEST(SurfaceSampling, SampleAnswersOnlyFiniteValues) {
    // Rotated, flipped lattice: node positions come from the geometry itself.
    const GridGeometry g = geo(100, 200, 10, 20, 3, 3, 30, true);
    const Grid2 v = cols({{1, 2, 3}, {4, kNaN, 6}, {7, 8, kInf}});
    Surface s = make_surface(g, v);
    for (std::uint64_t i = 0; i < 3; ++i) {
        for (std::uint64_t j = 0; j < 3; ++j) {
            auto [x, y] = g.node_xy(i, j);
            auto got = s.sample(x, y);
            const double want = v(i, j);
            if (std::isfinite(want)) {
                ASSERT_TRUE(got) << i << "," << j;
                EXPECT_DOUBLE_EQ(*got, want);
            } else {
                EXPECT_FALSE(got) << i << "," << j;
            }
        }
    }
    // Half-way between nodes (0,0)=1 and (0,1)=2.
    auto [xa, ya] = g.node_xy(0, 0);
    auto [xb, yb] = g.node_xy(0, 1);
    auto mid = s.sample((xa + xb) / 2, (ya + yb) / 2);
    ASSERT_TRUE(mid);
    EXPECT_NEAR(*mid, 1.5, 1e-12);
    // Outside the lattice, and non-finite queries.
    auto [xo, yo] = g.node_xy(5, 5);
    EXPECT_FALSE(s.sample(xo, yo));
    EXPECT_FALSE(s.sample(kNaN, 0));
    // A degenerate lattice never answers.
    Surface flat = make_surface(geo(0, 0, 0, 1, 2, 2), Grid2(2, 2, 1.0));
    EXPECT_FALSE(flat.sample(0, 0));
    // A categorical primary still interpolates.
    Surface cat = make_surface(geo(0, 0, 1, 1, 2, 1), cols({{1}, {2}}));
    cat.primary_metadata = meta("c", AttributeKind::Categorical);
    auto c = cat.sample(0.5, 0);
    ASSERT_TRUE(c);
    EXPECT_EQ(*c, 1.5);
}

TEST(SurfaceResample, ModeFollowsPrimaryMetadataAndResultIsDerived) {
    Surface s = make_surface(geo(0, 0, 1, 1, 2, 1), cols({{1}, {3}}));
    ASSERT_TRUE(s.set_attr("lane", Grid2(2, 1, 5.0)));
    const GridGeometry target = geo(0.5, 0, 1, 1, 1, 1, 0, true);

    auto bil = s.resample(target);
    ASSERT_TRUE(bil) << error_text(bil);
    EXPECT_EQ(bil->geom, target);
    expect_values(bil->values, {2});
    EXPECT_FALSE(bil->primary_metadata);
    EXPECT_TRUE(bil->attributes.empty());
    EXPECT_EQ(bil->history.entries(), (std::vector<std::string>{"surface.new", "surface.set_attr(name=lane)",
                                                                 "surface.resample(ncol=1, nrow=1)"}));

    s.primary_metadata = meta("code", AttributeKind::Categorical);
    auto near = s.resample(target);
    ASSERT_TRUE(near);
    expect_values(near->values, {3});  // half-way rounds away from zero
    EXPECT_EQ(near->primary_metadata, s.primary_metadata);

    Surface degenerate = make_surface(geo(0, 0, 0, 1, 2, 1), cols({{1}, {3}}));
    EXPECT_EQ(error_text(degenerate.resample(target)),
              "invalid geometry: resample: degenerate source geometry (empty grid or zero node spacing)");
    Surface empty = make_surface(geo(0, 0, 1, 1, 0, 3), Grid2(0, 3));
    EXPECT_EQ(error_text(empty.resample(target)),
              "invalid geometry: resample: degenerate source geometry (empty grid or zero node spacing)");
    auto r = degenerate.resample(target);
    ASSERT_FALSE(r);
    EXPECT_EQ(r.error().kind(), ErrorKind::Tools);
    ASSERT_NE(r.error().tools(), nullptr);
    EXPECT_EQ(r.error().tools()->kind(), ToolsErrorKind::InvalidGeometry);

    // A target without nodes gives an empty surface.
    auto none = s.resample(geo(0, 0, 1, 1, 0, 5));
    ASSERT_TRUE(none);
    EXPECT_EQ(none->values.size(), 0u);
    EXPECT_EQ(none->values.nrow(), 5u);
}

}  // namespace
}  // namespace vz
