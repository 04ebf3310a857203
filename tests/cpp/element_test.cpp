#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <bit>
#include <cmath>
#include <cstdint>
#include <functional>
#include <limits>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "core/attribute.hpp"
#include "core/points.hpp"
#include "core/polygons.hpp"
#include "core/shell/mesh.hpp"
#include "core/shell/structured.hpp"
#include "core/structured_surface.hpp"
#include "core/tri_surface.hpp"
#include "core/surface.hpp"
#include "core/well.hpp"
#include "foundation/grid2.hpp"
#include "manager/element.hpp"
#include "manager/payload.hpp"

namespace vz::element {
namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kInf = std::numeric_limits<double>::infinity();

template <class T>
T ok(Result<T> r) {
    if (!r) ADD_FAILURE() << r.error().display();
    return std::move(r).value();  // throws on failure, which fails the test
}

bool same_bits(double a, double b) { return std::bit_cast<std::uint64_t>(a) == std::bit_cast<std::uint64_t>(b); }

void expect_same_values(std::span<const double> a, std::span<const double> b, const std::string& what) {
    ASSERT_EQ(a.size(), b.size()) << what;
    for (std::size_t k = 0; k < a.size(); ++k) EXPECT_TRUE(same_bits(a[k], b[k])) << what << " [" << k << "]";
}

void expect_same_grid(const Grid2& a, const Grid2& b, const std::string& what) {
    EXPECT_EQ(a.ncol(), b.ncol()) << what;
    EXPECT_EQ(a.nrow(), b.nrow()) << what;
    expect_same_values(a.values(), b.values(), what);
}

/// Replaces the one occurrence of the bit pattern of `from` by that of `to`.
void replace_f64(Bytes& bytes, double from, double to) {
    std::uint8_t f[8], t[8];
    const auto fb = std::bit_cast<std::uint64_t>(from), tb = std::bit_cast<std::uint64_t>(to);
    for (int i = 0; i < 8; ++i) {
        f[i] = static_cast<std::uint8_t>(fb >> (8 * i));
        t[i] = static_cast<std::uint8_t>(tb >> (8 * i));
    }
    auto it = std::search(bytes.begin(), bytes.end(), f, f + 8);
    ASSERT_NE(it, bytes.end());
    ASSERT_EQ(std::search(it + 1, bytes.end(), f, f + 8), bytes.end()) << "pattern must be unique";
    std::copy(t, t + 8, it);
}

Trajectory trajectory(std::vector<Station> stations) { return ok(Trajectory::from_station_records(std::move(stations))); }

Log log(std::string mnemonic, std::vector<double> md, std::vector<double> values, LogKind kind = LogKind::Standard) {
    Log l = ok(Log::make(std::move(mnemonic), "API", std::move(md), std::move(values)));
    l.kind = kind;
    return l;
}

/// A well using every field: two bores, several trajectories with and
/// without tangents, an active trajectory that is not the last, logs of both
/// kinds, tops, contacts, stratigraphic order, CRS and a default bore.
Well rich_well() {
    Well w = Well::make("W-7", 451000.5, 6780000.25, 25.0, "EPSG:23031");
    Sidetrack& main = w.sidetrack_entry("");
    main.trajectories.push_back(trajectory({{0.0, 1.0, 2.0, -25.0, Tangent{0.0, 0.0, 1.0}},
                                            {100.0, 1.5, 2.5, 75.0, Tangent{0.1, 0.2, 0.97}}}));
    main.trajectories.push_back(trajectory({{10.0, 1.0, 2.0, -15.0, std::nullopt}}));
    main.active = 0;
    main.logs.push_back(log("GR", {1.0, 2.0, 3.0}, {30.0, 45.5, 60.0}));
    main.logs.push_back(log("CORE_PHI", {5.0}, {0.21}, LogKind::Core));
    main.logs.back().history.push("log.clip(top_md=1, base_md=9)");
    main.tops = {{"Top A", 10.0}, {"Top B", 55.5}};
    main.contacts = {{"OWC", 80.0}};
    main.strat_order = {"Top A", "Top B"};
    Sidetrack& st = w.sidetrack_entry("ST1");
    st.head = {451001.0, 6780001.0};
    st.kb = 26.0;
    st.trajectories.push_back(trajectory({{50.0, 3.0, 4.0, 20.0, std::nullopt}, {60.0, 3.5, 4.5, 30.0, std::nullopt}}));
    st.active = 0;
    w.default_bore = "ST1";
    return w;
}

// ============================================================ exact byte sizes

TEST(ElementSizes, ExampleRecordsHaveTheirStatedLength) {
    Well w1 = Well::make("W1", 1.0, 2.0, 10.0);
    Well with_log = w1;
    with_log.sidetrack_entry("").logs.push_back(log("GR", {1.0, 2.0}, {3.0, 4.0}));

    Surface surf = ok(Surface::make(GridGeometry{0, 0, 1, 1, 2, 3, 0, false}, Grid2(2, 3, 0.5)));

    PointSet one_point;
    one_point.points = {{1.0, 2.0, 3.0}};
    one_point.attributes.insert({"z2", {5.0}});

    PolygonSet square;
    square.polygons.push_back(Polygon::closed({{0, 0}, {1, 0}, {1, 1}, {0, 1}}));

    struct Case {
        const char* name;
        Bytes bytes;
        std::size_t size;
    };
    const Case cases[] = {
        {"empty well W1", ok(serialize_well(w1)), 132},
        {"W1 plus log GR", ok(serialize_well(with_log)), 132 + 114},
        {"2 x 3 surface", ok(serialize_surface(surf)), 166},
        {"one point, one column", ok(serialize_points(one_point)), 74},
        {"unit square polygon", ok(serialize_polygons(square)), 120},
        {"empty point set", ok(serialize_points(PointSet{})), 24},
    };
    for (const Case& c : cases) EXPECT_EQ(c.bytes.size(), c.size) << c.name;
    EXPECT_EQ(ok(serialize_points(PointSet{})), Bytes(24, 0));
}

TEST(ElementSizes, PointRecordBytesFollowTheLayout) {
    PointSet p;
    p.points = {{1.0, 2.0, 3.0}};
    p.attributes.insert({"z2", {5.0}});
    const Bytes expected = ok(payload::encode([](auto& out) {
        out.u64(1);
        out.f64(1.0);
        out.f64(2.0);
        out.f64(3.0);
        out.u64(1);
        out.text("z2");
        out.u64(1);
        out.f64(5.0);
        out.u64(0);
    }));
    EXPECT_EQ(ok(serialize_points(p)), expected);
}

TEST(ElementSizes, LogKindIsAFourByteIndexAfterTheTexts) {
    Well w = Well::make("W1", 1.0, 2.0, 10.0);
    w.sidetrack_entry("").logs.push_back(log("GR", {1.0}, {2.0}, LogKind::Core));
    const Bytes b = ok(serialize_well(w));
    // 132 bytes of the empty well up to the bore's log list; the log list
    // count sits after the label, head, kb, trajectory list and active index:
    // well name 10 + head/kb 24 + crs 1 + bore count 8 + key 8 + label 8 +
    // head/kb 24 + trajectories 8 + active 8 = 99, then the count (8), the
    // mnemonic "GR" (10) and the unit "API" (11).
    const std::size_t kind_at = 99 + 8 + 10 + 11;
    EXPECT_EQ(Bytes(b.begin() + kind_at, b.begin() + kind_at + 4), (Bytes{1, 0, 0, 0}));
}

TEST(ElementSections, EncodersFillKindPlaceholderNameAndVersion) {
    Surface surf = ok(Surface::make(GridGeometry{0, 0, 1, 1, 1, 1, 0, false}, Grid2(1, 1, 1.0)));
    const Section sections[] = {ok(encode_surface(surf)), ok(encode_points(PointSet{})),
                                ok(encode_polygons(PolygonSet{}))};
    const char* kinds[] = {"surface", "points", "polygons"};
    for (int k = 0; k < 3; ++k) {
        EXPECT_EQ(sections[k].kind, kinds[k]);
        EXPECT_EQ(sections[k].name, kinds[k]);
        EXPECT_TRUE(sections[k].tags.empty());
        EXPECT_EQ(sections[k].version, 2u);
    }
    EXPECT_EQ(sections[0].data, ok(serialize_surface(surf)));
}

// ================================================================ round trips

TEST(ElementRoundTrip, WellKeepsEveryFieldInBothVersions) {
    const Well w = rich_well();
    const Bytes b = ok(serialize_well(w));
    for (std::uint32_t version : {1u, 2u}) {
        const Well back = ok(decode_well(version, b));
        EXPECT_EQ(back, w) << "version " << version;
        EXPECT_EQ(back.bores.begin()->first, "");
        EXPECT_EQ(std::next(back.bores.begin())->first, "ST1");
    }
    // Equal wells give identical bytes.
    EXPECT_EQ(ok(serialize_well(ok(decode_well(2, b)))), b);
}

TEST(ElementRoundTrip, WellKeepsNanBitsInLogsAndTangents) {
    Well w = Well::make("N", 0, 0, 0);
    const double odd_nan = std::bit_cast<double>(std::uint64_t{0x7FF800000000BEEF});
    Sidetrack& b = w.sidetrack_entry("");
    b.trajectories.push_back(trajectory({{0.0, 0.0, 0.0, 0.0, Tangent{kNaN, -0.0, 1.0}}}));
    b.logs.push_back(log("RHOB", {1.0, 2.0}, {odd_nan, -kInf}));
    const Well back = ok(decode_well(2, ok(serialize_well(w))));
    const Station& s = back.bores.at("").trajectories[0].stations()[0];
    ASSERT_TRUE(s.tangent.has_value());
    EXPECT_TRUE(same_bits(s.tangent->north, kNaN));
    EXPECT_TRUE(same_bits(s.tangent->east, -0.0));
    expect_same_values(back.bores.at("").logs[0].values, b.logs[0].values, "log values");
}

TEST(ElementRoundTrip, SurfaceKeepsMetadataLaneAndCodeOrder) {
    const GridGeometry g{10.0, 20.0, 25.0, 30.0, 3, 2, 15.0, true};
    Surface s = ok(Surface::make(g, Grid2(3, 2, std::vector<double>{1, 2, kNaN, 4, 5, 6})));
    AttributeMetadata primary{"facies", "Facies", AttributeKind::Categorical, std::nullopt, CodeTable{}};
    primary.codes->insert({"7", CodeRecord{"Sand", "#FFCC00"}});
    primary.codes->insert({"-2", CodeRecord{std::nullopt, std::nullopt}});
    primary.codes->insert({"3", CodeRecord{"Shale", std::nullopt}});
    s.primary_metadata = primary;
    ASSERT_TRUE(s.set_attr("poro", Grid2(3, 2, std::vector<double>{0.1, 0.2, 0.3, kNaN, 0.5, 0.6})));
    AttributeMetadata zone{"zone", "Zone", AttributeKind::Categorical, "code", CodeTable{}};
    zone.codes->insert({"1", CodeRecord{"Upper", "#00FF00"}});
    ASSERT_TRUE(s.set_attr_with_metadata("zone", Grid2(3, 2, std::vector<double>{1, 1, kInf, 2, kNaN, 2}), zone));
    ASSERT_TRUE(s.set_attr("alpha", Grid2(3, 2, -1.0)));

    const Surface back = ok(decode_surface(2, ok(serialize_surface(s))));
    EXPECT_EQ(back.geom, g);
    expect_same_grid(back.values, s.values, "values");
    EXPECT_EQ(back.primary_metadata, s.primary_metadata);
    ASSERT_EQ(back.attr_names(), (std::vector<std::string_view>{"poro", "zone", "alpha"}));
    for (const auto& [name, lane] : s.attributes) {
        EXPECT_EQ(back.attributes.at(name).metadata, lane.metadata) << name;
        expect_same_grid(back.attributes.at(name).values, lane.values, name);
    }
    std::vector<std::string> codes;
    for (const auto& [key, rec] : *back.primary_metadata->codes) codes.push_back(key);
    EXPECT_EQ(codes, (std::vector<std::string>{"7", "-2", "3"}));
    EXPECT_EQ(back.history, s.history);
}

TEST(ElementRoundTrip, PointsAndPolygonsKeepEveryValue) {
    PointSet p;
    p.points = {{1.0, 2.0, 3.0}, {kNaN, -0.0, kInf}, {4.0, 5.0, 6.0}};
    p.attributes.insert({"b", {1.0, 2.0, 3.0}});
    p.attributes.insert({"a", {kNaN, 0.0, -1.0}});
    p.history = History({"points.from_coords", "points.set_attr(name=b)"});
    for (std::uint32_t version : {1u, 2u}) {
        const PointSet back = ok(decode_points(version, ok(serialize_points(p))));
        ASSERT_EQ(back.points.size(), 3u);
        for (std::size_t k = 0; k < 3; ++k) expect_same_values(back.points[k], p.points[k], "point");
        EXPECT_EQ(back.attr_names(), (std::vector<std::string>{"b", "a"}));
        expect_same_values(back.attributes.at("a"), p.attributes.at("a"), "column a");
        EXPECT_EQ(back.history, p.history);
    }

    PolygonSet ps;
    ps.polygons.push_back(Polygon::closed({{0, 0}, {10, 0}, {10, 10}, {0, 10}},
                                          {{{1, 1}, {2, 1}, {2, 2}}, {{5, 5}, {6, 5}, {6, 6}, {5, 6}}}));
    ps.polygons.push_back(Polygon{{{20, 20}, {21, 20}, {21, 21}}, {}});  // open ring, kept as held
    ps.attributes.insert({"id", {1.0, 2.0}});
    ps.history = History({"polygons.from_rings"});
    for (std::uint32_t version : {1u, 2u}) {
        const PolygonSet back = ok(decode_polygons(version, ok(serialize_polygons(ps))));
        EXPECT_EQ(back.polygons, ps.polygons);
        EXPECT_EQ(back.attributes, ps.attributes);
        EXPECT_EQ(back.history, ps.history);
    }
}

// ===================================================== version-1 surface layout

/// The version-1 "surface" record written field by field from the layout:
/// geometry, values grid, map of bare grids, history.
Bytes surface_v1(const GridGeometry& g, const Grid2& values, const std::vector<std::pair<std::string, Grid2>>& lanes,
                 const std::vector<std::string>& history) {
    return ok(payload::encode([&](auto& out) {
        out.f64(g.xori);
        out.f64(g.yori);
        out.f64(g.xinc);
        out.f64(g.yinc);
        out.u64(g.ncol);
        out.u64(g.nrow);
        out.f64(g.rotation_deg);
        out.boolean(g.yflip);
        out.grid(values);
        out.count(lanes.size());
        for (const auto& [name, grid] : lanes) {
            out.text(name);
            out.grid(grid);
        }
        out.text_list(history);
    }));
}

TEST(ElementSurfaceV1, UpgradesLanesWithDefaultMetadataAndStoredHistory) {
    const GridGeometry g{0, 0, 1, 1, 2, 3, 0, false};
    const Bytes v1 = surface_v1(g, Grid2(2, 3, 1.0), {{"poro", Grid2(2, 3, 0.2)}, {"a", Grid2(2, 3, 7.0)}},
                                {"surface.import", "surface.resample(ncol=2, nrow=3)"});
    EXPECT_EQ(surface_v1(g, Grid2(2, 3, 0.0), {}, {"surface.new"}).size(), 165u);

    const Surface s = ok(decode_surface(1, v1));
    EXPECT_EQ(s.geom, g);
    EXPECT_FALSE(s.primary_metadata.has_value());
    ASSERT_EQ(s.attr_names(), (std::vector<std::string_view>{"poro", "a"}));
    const AttributeMetadata expected{"poro", "poro", AttributeKind::Continuous, std::nullopt, std::nullopt};
    EXPECT_EQ(s.attributes.at("poro").metadata, expected);
    expect_same_grid(s.attributes.at("a").values, Grid2(2, 3, 7.0), "lane a");
    EXPECT_EQ(s.history.entries(), (std::vector<std::string>{"surface.import", "surface.resample(ncol=2, nrow=3)"}));

    const Surface empty_history = ok(decode_surface(1, surface_v1(g, Grid2(2, 3, 1.0), {}, {})));
    EXPECT_TRUE(empty_history.history.empty());
}

// ======================================================== decoding failures

struct FailCase {
    const char* name;
    std::function<Result<void>()> decode;
    std::string display;
};

void PrintTo(const FailCase& c, std::ostream* os) { *os << c.name; }

template <class T>
std::function<Result<void>()> run(Result<T> (*decoder)(std::uint32_t, std::span<const std::uint8_t>), std::uint32_t v,
                                  Bytes b) {
    return [=]() -> Result<void> {
        auto r = decoder(v, b);
        if (!r) return fail(r.error());
        return {};
    };
}

Bytes bytes_of(Result<Bytes> r) { return ok(std::move(r)); }

std::vector<FailCase> well_failures() {
    std::vector<FailCase> cases;
    const Bytes good = bytes_of(serialize_well(rich_well()));
    cases.push_back({"well v0", run(decode_well, 0, good), "parse error: unsupported 'well' element schema v0"});
    cases.push_back({"well v3", run(decode_well, 3, good), "parse error: unsupported 'well' element schema v3"});
    cases.push_back({"truncated well", run(decode_well, 2, Bytes(good.begin(), good.begin() + 20)),
                     "parse error: deserialize: io error: unexpected end of file"});
    {
        Well w = Well::make("W1", 0, 0, 0);
        w.sidetrack_entry("").logs.push_back(log("GR", {1.0}, {2.0}));
        Bytes b = bytes_of(serialize_well(w));
        b[99 + 8 + 10 + 11] = 2;  // the log kind index
        cases.push_back({"log kind 2", run(decode_well, 2, b),
                         "parse error: deserialize: invalid value: integer `2`, expected variant index 0 <= i < 2"});
    }
    {
        Well w = Well::make("W1", 0, 0, 0);
        Sidetrack& b = w.sidetrack_entry("");
        b.trajectories.push_back(trajectory({{1.0, 0, 0, 0, std::nullopt}}));
        b.active = 1;
        cases.push_back({"active out of range", run(decode_well, 2, bytes_of(serialize_well(w))),
                         "parse error: deserialize: bore '' active trajectory 1 is out of range (1 trajectories)"});
    }
    {
        Well w = Well::make("W1", 0, 0, 0);
        Log bad = log("GR", {1.0, 2.0}, {3.0, 4.0});
        bad.values.pop_back();
        w.sidetrack_entry("").logs.push_back(bad);
        cases.push_back({"log lengths differ", run(decode_well, 2, bytes_of(serialize_well(w))),
                         "parse error: deserialize: bore '' log 'GR': md len 2 != values len 1"});
    }
    {
        Well w = Well::make("W1", 0, 0, 0);
        w.sidetrack_entry("ST").trajectories.push_back(
            trajectory({{1000.25, 0, 0, 0, std::nullopt}, {1500.75, 0, 0, 1, std::nullopt}}));
        Bytes b = bytes_of(serialize_well(w));
        replace_f64(b, 1500.75, 1000.25);
        cases.push_back({"station depths repeat", run(decode_well, 2, b),
                         "parse error: deserialize: bore 'ST' trajectory 0: station measured depth must strictly "
                         "increase"});
    }
    {
        // A trajectory stored without stations: the list count patched to 0.
        Well w = Well::make("W1", 0, 0, 0);
        Bytes b = bytes_of(serialize_well(w));
        // Main bore: trajectories count at 10 + 24 + 1 + 8 + 8 + 8 + 24 = 83.
        b[83] = 1;
        b.insert(b.begin() + 91, 8, 0);  // one trajectory of 0 stations
        cases.push_back({"trajectory without stations", run(decode_well, 2, b),
                         "parse error: deserialize: bore '' trajectory 0: trajectory needs at least one station"});
    }
    {
        Well w = Well::make("W1", 0, 0, 0);
        w.bores.clear();
        w.sidetrack_entry("A");
        cases.push_back({"no main bore", run(decode_well, 2, bytes_of(serialize_well(w))),
                         "parse error: deserialize: well 'W1' has no main bore"});
    }
    {
        Well w = Well::make("W1", 0, 0, 0);
        w.sidetrack_entry("B").label = "C";
        cases.push_back({"bore key differs from label", run(decode_well, 2, bytes_of(serialize_well(w))),
                         "parse error: deserialize: bore key 'B' differs from its label 'C'"});
    }
    {
        Well w = Well::make("W1", 0, 0, 0);
        w.default_bore = "ST9";
        cases.push_back({"default bore missing", run(decode_well, 2, bytes_of(serialize_well(w))),
                         "parse error: deserialize: default bore 'ST9' is not a bore of well 'W1'"});
    }
    return cases;
}

std::vector<FailCase> set_failures() {
    std::vector<FailCase> cases;
    PointSet p;
    p.points = {{1, 2, 3}, {4, 5, 6}};
    p.attributes.insert({"ok", {1, 2}});
    p.attributes.insert({"short", {1}});
    const Bytes pb = bytes_of(serialize_points(p));
    cases.push_back({"points column short", run(decode_points, 2, pb),
                     "parse error: deserialize: point attribute 'short' has 1 rows, expected 2"});
    cases.push_back({"points v3", run(decode_points, 3, pb), "parse error: unsupported 'points' element schema v3"});
    {
        Bytes huge = bytes_of(serialize_points(PointSet{}));
        huge[5] = 1;  // 2^40 points stated, none present
        cases.push_back({"points count 2^40", run(decode_points, 2, huge),
                         "parse error: deserialize: io error: unexpected end of file"});
    }
    cases.push_back({"points v0", run(decode_points, 0, pb), "parse error: unsupported 'points' element schema v0"});
    Bytes bad_text = bytes_of(serialize_points(PointSet{}));
    bad_text[16] = 1;  // one history entry, then the text is missing
    bad_text.insert(bad_text.end(), {2, 0, 0, 0, 0, 0, 0, 0, 0xC3, 0x28});
    cases.push_back({"points history not utf-8", run(decode_points, 2, bad_text),
                     "parse error: deserialize: string is not valid utf8: invalid utf-8 sequence of 1 bytes from "
                     "index 0"});

    PolygonSet ps;
    ps.polygons.push_back(Polygon::closed({{0, 0}, {1, 0}, {1, 1}}));
    ps.attributes.insert({"id", {1, 2, 3}});
    cases.push_back({"polygons column long", run(decode_polygons, 2, bytes_of(serialize_polygons(ps))),
                     "parse error: deserialize: polygon attribute 'id' has 3 rows, expected 1"});
    cases.push_back({"polygons v3", run(decode_polygons, 3, bytes_of(serialize_polygons(PolygonSet{}))),
                     "parse error: unsupported 'polygons' element schema v3"});
    return cases;
}

std::vector<FailCase> surface_failures() {
    std::vector<FailCase> cases;
    const GridGeometry g{0, 0, 1, 1, 2, 3, 0, false};
    auto v2_with = [&](const std::function<void(Surface&)>& edit) {
        Surface s = ok(Surface::make(g, Grid2(2, 3, 1.0)));
        edit(s);
        return bytes_of(serialize_surface(s));
    };
    auto lane = [](std::string id, AttributeKind kind, Grid2 values) {
        return AttributeLane{AttributeMetadata{std::move(id), "L", kind, std::nullopt, std::nullopt}, std::move(values)};
    };
    const Bytes fine = v2_with([](Surface&) {});
    cases.push_back({"surface v0", run(decode_surface, 0, fine), "parse error: unsupported surface element schema v0"});
    cases.push_back({"surface v3", run(decode_surface, 3, fine), "parse error: unsupported surface element schema v3"});
    cases.push_back({"v2 values shape", run(decode_surface, 2, v2_with([](Surface& s) { s.values = Grid2(3, 2, 1.0); })),
                     "parse error: deserialize: geometry mismatch: Surface::new: values shape [3, 2] != grid (ncol=2, "
                     "nrow=3)"});
    cases.push_back({"v2 lane shape", run(decode_surface, 2, v2_with([&](Surface& s) {
                         s.attributes.insert({"a", lane("a", AttributeKind::Continuous, Grid2(2, 2, 1.0))});
                     })),
                     "parse error: deserialize: geometry mismatch: Surface::set_attr_with_metadata: values shape "
                     "[2, 2] != grid (ncol=2, nrow=3)"});
    cases.push_back({"v2 lane id differs", run(decode_surface, 2, v2_with([&](Surface& s) {
                         s.attributes.insert({"a", lane("b", AttributeKind::Continuous, Grid2(2, 3, 1.0))});
                     })),
                     "parse error: attribute metadata id 'b' must match lane name 'a'"});
    cases.push_back({"v2 lane id differs in case", run(decode_surface, 2, v2_with([&](Surface& s) {
                         s.attributes.insert({"Poro", lane("poro", AttributeKind::Continuous, Grid2(2, 3, 1.0))});
                     })),
                     "parse error: attribute metadata id 'poro' must match lane name 'Poro'"});
    cases.push_back({"v2 categorical fraction", run(decode_surface, 2, v2_with([&](Surface& s) {
                         Grid2 v(2, 3, 1.0);
                         v(1, 2) = 1.5;
                         s.attributes.insert({"f", lane("f", AttributeKind::Categorical, v)});
                     })),
                     "parse error: categorical attribute 'f' values must be integers or NaN"});
    cases.push_back({"v2 categorical primary fraction before lanes", run(decode_surface, 2, v2_with([&](Surface& s) {
                         s.values(0, 0) = 2.5;
                         s.primary_metadata =
                             AttributeMetadata{"main", "Main", AttributeKind::Categorical, std::nullopt, std::nullopt};
                         s.attributes.insert({"a", lane("b", AttributeKind::Continuous, Grid2(2, 3, 1.0))});
                     })),
                     "parse error: categorical attribute 'main' values must be integers or NaN"});
    cases.push_back({"v2 code key not canonical", run(decode_surface, 2, v2_with([&](Surface& s) {
                         AttributeLane l = lane("c", AttributeKind::Categorical, Grid2(2, 3, 7.0));
                         l.metadata.codes = CodeTable{};
                         l.metadata.codes->insert({"07", CodeRecord{}});
                         s.attributes.insert({"c", l});
                     })),
                     "parse error: attribute code key '07' must be canonical integer string '7'"});
    {
        Bytes b = v2_with([](Surface& s) {
            s.primary_metadata = AttributeMetadata{"m", "M", AttributeKind::Continuous, std::nullopt, std::nullopt};
        });
        // After the geometry (57) and the values grid (25 + 48): the option tag.
        b[57 + 25 + 48] = 2;
        cases.push_back({"v2 metadata tag 2", run(decode_surface, 2, b),
                         "parse error: deserialize: tag for enum is not valid, found 2"});
        Bytes yflip = fine;
        yflip[56] = 2;
        cases.push_back({"yflip byte 2", run(decode_surface, 2, yflip),
                         "parse error: deserialize: invalid u8 while decoding bool, expected 0 or 1, found 2"});
    }
    cases.push_back({"v1 values shape", run(decode_surface, 1, surface_v1(g, Grid2(3, 2, 1.0), {}, {})),
                     "geometry mismatch: Surface::new: values shape [3, 2] != grid (ncol=2, nrow=3)"});
    cases.push_back({"v1 lane shape", run(decode_surface, 1, surface_v1(g, Grid2(2, 3, 1.0), {{"a", Grid2(3, 2, 0.0)}}, {})),
                     "geometry mismatch: Surface::set_attr: values shape [3, 2] != grid (ncol=2, nrow=3)"});
    cases.push_back({"v1 lane name untrimmed", run(decode_surface, 1,
                                                   surface_v1(g, Grid2(2, 3, 1.0), {{" poro", Grid2(2, 3, 0.0)}}, {})),
                     "parse error: attribute metadata id and label must be non-empty, trimmed strings"});
    return cases;
}

class ElementDecodeFailure : public ::testing::TestWithParam<FailCase> {};

TEST_P(ElementDecodeFailure, ReportsItsText) {
    const FailCase& c = GetParam();
    auto r = c.decode();
    ASSERT_FALSE(r.has_value()) << c.name;
    EXPECT_EQ(r.error().display(), c.display) << c.name;
}

std::string case_name(const ::testing::TestParamInfo<FailCase>& info) {
    std::string n = info.param.name;
    for (char& ch : n)
        if (!std::isalnum(static_cast<unsigned char>(ch))) ch = '_';
    return n;
}

INSTANTIATE_TEST_SUITE_P(Well, ElementDecodeFailure, ::testing::ValuesIn(well_failures()), case_name);
INSTANTIATE_TEST_SUITE_P(Sets, ElementDecodeFailure, ::testing::ValuesIn(set_failures()), case_name);
INSTANTIATE_TEST_SUITE_P(Surface, ElementDecodeFailure, ::testing::ValuesIn(surface_failures()), case_name);

TEST(ElementDecode, CategoricalNanAndInfinityPassAndTrailingBytesAreIgnored) {
    const GridGeometry g{0, 0, 1, 1, 1, 3, 0, false};
    Surface s = ok(Surface::make(g, Grid2(1, 3, std::vector<double>{1.0, kNaN, -kInf})));
    s.primary_metadata = AttributeMetadata{"c", "C", AttributeKind::Categorical, std::nullopt, std::nullopt};
    Bytes b = ok(serialize_surface(s));
    b.insert(b.end(), {0xDE, 0xAD, 0xBE, 0xEF});
    const Surface back = ok(decode_surface(2, b));
    expect_same_values(back.values.values(), s.values.values(), "values");
}

TEST(ElementDecode, Version2MetadataIsCanonicalised) {
    const GridGeometry g{0, 0, 1, 1, 1, 1, 0, false};
    Surface s = ok(Surface::make(g, Grid2(1, 1, 3.0)));
    AttributeMetadata m{"k", "  Kind ", AttributeKind::Categorical, " u", CodeTable{}};
    m.codes->insert({"3", CodeRecord{" Three", "#a0b1c2"}});
    s.attributes.insert({"k", AttributeLane{m, Grid2(1, 1, 3.0)}});
    const Surface back = ok(decode_surface(2, ok(serialize_surface(s))));
    const AttributeMetadata& got = back.attributes.at("k").metadata;
    EXPECT_EQ(got.label, "Kind");
    EXPECT_EQ(got.units, "u");
    EXPECT_EQ(got.codes->at("3").label, "Three");
    EXPECT_EQ(got.codes->at("3").color, "#A0B1C2");
}

TEST(ElementDecode, RepeatedMapKeyKeepsFirstPlaceAndLastValue) {
    // Points with columns a, b, a in this order.
    const Bytes b = ok(payload::encode([](auto& out) {
        out.count(1);
        out.f64(0);
        out.f64(0);
        out.f64(0);
        out.count(3);
        out.text("a");
        out.f64_list(std::vector<double>{1.0});
        out.text("b");
        out.f64_list(std::vector<double>{2.0});
        out.text("a");
        out.f64_list(std::vector<double>{3.0});
        out.count(0);
    }));
    const PointSet p = ok(decode_points(2, b));
    EXPECT_EQ(p.attr_names(), (std::vector<std::string>{"a", "b"}));
    EXPECT_EQ(p.attributes.at("a"), std::vector<double>{3.0});
}

// ============================================== structured and triangulated surfaces

void expect_same_polygons(const PolygonSet& a, const PolygonSet& b) {
    EXPECT_EQ(a.polygons, b.polygons);
    EXPECT_EQ(a.attributes, b.attributes);
    EXPECT_EQ(a.history, b.history);
}

PolygonSet outline() {
    PolygonSet edge;
    edge.polygons.push_back(Polygon::closed({{0, 0}, {1, 0}, {1, 2}, {0, 2}}));
    edge.attributes.insert({"ring", {1.0}});
    edge.history = History({"polygons.from_rings"});
    return edge;
}

StructuredMeshSurface rich_structured() {
    Grid2 x(2, 3, std::vector<double>{0, 0.1, 0.2, 1, 1.1, kNaN});
    Grid2 y(2, 3, std::vector<double>{0, 1, 2, 0, 1, kNaN});
    StructuredMeshSurface s = ok(StructuredMeshSurface::make(x, y, Grid2(2, 3, std::vector<double>{5, 6, 7, 8, 9, kNaN}),
                                                             GridGeometry{0, 0, 1, 1, 2, 3, 0, false}, outline()));
    s.primary_metadata = AttributeMetadata{"depth", "Depth", AttributeKind::Continuous, "m", std::nullopt};
    EXPECT_TRUE(s.set_attr("b", Grid2(2, 3, 0.5)));
    AttributeMetadata zone{"a", "Zone", AttributeKind::Categorical, std::nullopt, CodeTable{}};
    zone.codes->insert({"2", CodeRecord{"Two", "#123ABC"}});
    EXPECT_TRUE(s.set_attr_with_metadata("a", Grid2(2, 3, 2.0), zone));
    return s;
}

TriSurface rich_tri() {
    std::vector<NodeXY> nodes = {{0, 0}, {1, 0}, {1, 1}, {0, 1}};
    std::vector<MeshTriangle> tris = {{0, 1, 2}, {0, 2, 3}};
    std::vector<MeshEdge> wire = {{0, 1}, {1, 2}, {2, 3}, {0, 3}};
    std::vector<std::optional<NodeLabel>> labels = {NodeLabel{0, 0, 0}, NodeLabel{0, 1, 0}, std::nullopt,
                                                    NodeLabel{4, -1, 7}};
    auto shell = std::make_shared<const MeshShell>(ok(MeshShell::make(nodes, tris, wire, outline(), labels)));
    TriSurface t = ok(TriSurface::from_shell(shell, {1.0, kNaN, 3.0, -0.0}));
    EXPECT_TRUE(t.set_attr("b", {1, 2, 3, 4}));
    EXPECT_TRUE(t.set_attr("a", {kInf, 0, 0, 0}));
    return t;
}

TEST(ElementRoundTrip, StructuredMeshKeepsShellLanesAndHistory) {
    const StructuredMeshSurface s = rich_structured();
    const Section section = ok(encode_structured_mesh(s));
    EXPECT_EQ(section.kind, "structured_mesh");
    EXPECT_EQ(section.version, 2u);
    const StructuredMeshSurface back = ok(decode_structured_mesh(2, section.data));
    ASSERT_TRUE(back.shell);
    EXPECT_NE(back.shell.get(), s.shell.get());
    expect_same_grid(back.shell->x(), s.shell->x(), "x");
    expect_same_grid(back.shell->y(), s.shell->y(), "y");
    EXPECT_EQ(back.shell->nominal(), s.shell->nominal());
    expect_same_polygons(back.shell->edge(), s.shell->edge());
    expect_same_grid(back.values, s.values, "values");
    EXPECT_EQ(back.primary_metadata, s.primary_metadata);
    ASSERT_EQ(back.attr_names(), (std::vector<std::string_view>{"b", "a"}));
    for (const auto& [name, lane] : s.attributes) {
        EXPECT_EQ(back.attributes.at(name).metadata, lane.metadata);
        expect_same_grid(back.attributes.at(name).values, lane.values, name);
    }
    EXPECT_EQ(back.history, s.history);
    EXPECT_EQ(ok(serialize_structured_mesh(back)), section.data);
}

TEST(ElementRoundTrip, TriSurfaceKeepsShellLabelsLanesAndHistory) {
    const TriSurface t = rich_tri();
    const Section section = ok(encode_tri_surface(t));
    EXPECT_EQ(section.kind, "tri_surface");
    EXPECT_EQ(ok(serialize_tri_surface(t)), section.data);
    const TriSurface back = ok(decode_tri_surface(2, section.data));
    EXPECT_EQ(back.shell->nodes(), t.shell->nodes());
    EXPECT_EQ(back.shell->triangles(), t.shell->triangles());
    EXPECT_EQ(back.shell->wireframe(), t.shell->wireframe());
    EXPECT_EQ(back.shell->labels(), t.shell->labels());
    expect_same_polygons(back.shell->edge(), t.shell->edge());
    expect_same_values(back.values, t.values, "values");
    EXPECT_EQ(back.primary_metadata, t.primary_metadata);
    ASSERT_EQ(back.attr_names(), (std::vector<std::string_view>{"b", "a"}));
    for (const auto& [name, lane] : t.attributes) {
        EXPECT_EQ(back.attributes.at(name).metadata, lane.metadata);
        expect_same_values(back.attributes.at(name).values, lane.values, name);
    }
    EXPECT_EQ(back.history, t.history);
}

// Records written field by field from the layout, for either version.

struct LaneSpec {
    std::string name;
    std::optional<AttributeMetadata> metadata;  // written in version 2 only
    std::vector<double> values;
};

template <class Out>
void put_meta(Out& out, const AttributeMetadata& m) {
    out.text(m.id);
    out.text(m.label);
    out.variant(static_cast<std::uint32_t>(m.kind));
    out.tag(m.units.has_value());
    if (m.units) out.text(*m.units);
    out.tag(false);  // no codes
}

AttributeMetadata continuous(std::string id) {
    return AttributeMetadata{id, id, AttributeKind::Continuous, std::nullopt, std::nullopt};
}

Bytes structured_record(std::uint32_t version, std::uint64_t ncol, std::uint64_t nrow, const Grid2& xy,
                        const Grid2& values, const std::optional<AttributeMetadata>& primary,
                        const std::vector<LaneSpec>& lanes, const std::vector<std::string>& history) {
    return ok(payload::encode([&](auto& out) {
        out.u64(ncol);
        out.u64(nrow);
        out.grid(xy);
        out.grid(xy);
        out.tag(false);  // no nominal geometry
        out.count(0);    // outline: no polygons, columns or history
        out.count(0);
        out.count(0);
        out.grid(values);
        if (version == 2) {
            out.tag(primary.has_value());
            if (primary) put_meta(out, *primary);
        }
        out.count(lanes.size());
        for (const LaneSpec& l : lanes) {
            out.text(l.name);
            if (version == 2) put_meta(out, *l.metadata);
            out.grid(l.values, l.values.size() / values.nrow(), values.nrow());
        }
        out.text_list(history);
    }));
}

Bytes tri_record(std::uint32_t version, std::size_t nodes, const std::vector<MeshTriangle>& triangles,
                 std::size_t labels, const std::vector<double>& values, const std::vector<LaneSpec>& lanes,
                 const std::vector<std::string>& history) {
    return ok(payload::encode([&](auto& out) {
        out.count(nodes);
        for (std::size_t n = 0; n < nodes; ++n) {
            out.f64(static_cast<double>(n % 2));
            out.f64(static_cast<double>(n / 2));
        }
        out.count(triangles.size());
        for (const auto& t : triangles) {
            out.u32(t[0]);
            out.u32(t[1]);
            out.u32(t[2]);
        }
        out.count(0);  // no stored wireframe
        out.count(0);  // outline: no polygons, columns or history
        out.count(0);
        out.count(0);
        out.count(labels);
        for (std::size_t k = 0; k < labels; ++k) {
            out.tag(true);
            out.u32(0);
            out.i32(static_cast<std::int32_t>(k % 2));
            out.i32(static_cast<std::int32_t>(k / 2));
        }
        out.f64_list(values);
        if (version == 2) out.tag(false);
        out.count(lanes.size());
        for (const LaneSpec& l : lanes) {
            out.text(l.name);
            if (version == 2) put_meta(out, *l.metadata);
            out.f64_list(l.values);
        }
        out.text_list(history);
    }));
}

const std::vector<MeshTriangle> kSquare = {{0, 1, 3}, {0, 3, 2}};

TEST(ElementMeshV1, LanesGetDefaultMetadataAndTheStoredHistory) {
    const Grid2 xy(2, 3, std::vector<double>{0, 1, 2, 3, 4, 5});
    const StructuredMeshSurface s = ok(decode_structured_mesh(
        1, structured_record(1, 2, 3, xy, Grid2(2, 3, 1.0),
                             std::nullopt, {{"q", std::nullopt, std::vector<double>(6, 2.0)},
                                            {"p", std::nullopt, std::vector<double>(6, 3.0)}},
                             {"structured_surface.new", "x"})));
    ASSERT_EQ(s.attr_names(), (std::vector<std::string_view>{"q", "p"}));
    EXPECT_EQ(s.attributes.at("q").metadata, continuous("q"));
    EXPECT_FALSE(s.primary_metadata.has_value());
    EXPECT_EQ(s.history.entries(), (std::vector<std::string>{"structured_surface.new", "x"}));

    const TriSurface t = ok(decode_tri_surface(
        1, tri_record(1, 4, kSquare, 0, {1, 2, 3, 4}, {{"b", std::nullopt, {1, 1, 1, 1}}, {"a", std::nullopt, {2, 2, 2, 2}}},
                      {})));
    ASSERT_EQ(t.attr_names(), (std::vector<std::string_view>{"b", "a"}));
    EXPECT_EQ(t.attributes.at("a").metadata, continuous("a"));
    EXPECT_TRUE(t.history.empty());
    // An empty stored label list: every node unlabelled; no stored wireframe stays empty.
    EXPECT_EQ(t.shell->labels(), std::vector<std::optional<NodeLabel>>(4));
    EXPECT_TRUE(t.shell->wireframe().empty());
}

TEST(ElementMeshLayout, EncodersWriteTheRecordsOfTheLayout) {
    // A structured surface whose x and y grids are equal, without nominal
    // geometry or outline, matches the record written field by field.
    const Grid2 xy(2, 3, std::vector<double>{0, 1, 2, 3, 4, 5});
    StructuredMeshSurface s = ok(StructuredMeshSurface::make(xy, xy, Grid2(2, 3, 1.5), std::nullopt, PolygonSet{}));
    ASSERT_TRUE(s.set_attr("q", Grid2(2, 3, 2.0)));
    s.history = History({"h"});
    EXPECT_EQ(ok(serialize_structured_mesh(s)),
              structured_record(2, 2, 3, xy, Grid2(2, 3, 1.5), std::nullopt,
                                {{"q", continuous("q"), std::vector<double>(6, 2.0)}}, {"h"}));

    std::vector<NodeXY> nodes = {{0, 0}, {1, 0}, {0, 1}, {1, 1}};
    std::vector<std::optional<NodeLabel>> labels = {NodeLabel{0, 0, 0}, NodeLabel{0, 1, 0}, NodeLabel{0, 0, 1},
                                                    NodeLabel{0, 1, 1}};
    auto shell = std::make_shared<const MeshShell>(ok(MeshShell::make(nodes, kSquare, {}, PolygonSet{}, labels)));
    TriSurface t = ok(TriSurface::from_shell(shell, {1, 2, 3, 4}));
    ASSERT_TRUE(t.set_attr("a", {5, 6, 7, 8}));
    t.history = History();
    EXPECT_EQ(ok(serialize_tri_surface(t)),
              tri_record(2, 4, kSquare, 4, {1, 2, 3, 4}, {{"a", continuous("a"), {5, 6, 7, 8}}}, {}));
}

std::vector<FailCase> mesh_failures() {
    std::vector<FailCase> cases;
    const Grid2 xy(2, 3, std::vector<double>{0, 1, 2, 3, 4, 5});
    const Grid2 ones(2, 3, 1.0);
    const std::vector<double> four(4, 1.0);
    for (std::uint32_t v : {1u, 2u}) {
        cases.push_back({"structured counts disagree", run(decode_structured_mesh, v,
                                                           structured_record(v, 3, 2, xy, ones, std::nullopt, {}, {})),
                         "parse error: deserialize: geometry mismatch: StructuredShell payload ncol/nrow disagree with "
                         "the coordinate arrays"});
        cases.push_back({"tri labels 3 for 4 nodes", run(decode_tri_surface, v, tri_record(v, 4, kSquare, 3, four, {}, {})),
                         "parse error: deserialize: geometry mismatch: MeshShell::new: 3 labels for 4 nodes"});
        cases.push_back({"tri triangle beyond nodes",
                         run(decode_tri_surface, v, tri_record(v, 4, {{0, 1, 9}}, 0, four, {}, {})),
                         "parse error: deserialize: geometry inference failed: MeshShell::new: triangle 0 references node 9 "
                         "outside the shell's 4 nodes"});
    }
    // Shape failures: version 1 returns the constructors' errors as they are,
    // version 2 reads them as unreadable payloads.
    cases.push_back({"structured v1 lane short", run(decode_structured_mesh, 1,
                                                     structured_record(1, 2, 3, xy, ones, std::nullopt,
                                                                       {{"a", std::nullopt, std::vector<double>(3, 1)}}, {})),
                     "geometry mismatch: StructuredMeshSurface::set_attr: lane shape [1, 3] != shell (ncol=2, nrow=3)"});
    // The lane grid is written as (n / nrow) x nrow, so 3 values give [1, 3].
    cases.push_back({"structured v2 lane short", run(decode_structured_mesh, 2,
                                                     structured_record(2, 2, 3, xy, ones, std::nullopt,
                                                                       {{"a", continuous("a"), std::vector<double>(3, 1)}}, {})),
                     "parse error: deserialize: geometry mismatch: StructuredMeshSurface::set_attr_with_metadata: lane "
                     "shape [1, 3] != shell (ncol=2, nrow=3)"});
    cases.push_back({"structured v2 values shape", run(decode_structured_mesh, 2,
                                                       structured_record(2, 2, 3, xy, Grid2(1, 3, 1.0), std::nullopt, {}, {})),
                     "parse error: deserialize: geometry mismatch: StructuredMeshSurface::from_shell: lane shape [1, 3] "
                     "!= shell (ncol=2, nrow=3)"});
    {
        Grid2 frac = ones;
        frac(1, 1) = 0.25;
        cases.push_back({"structured v2 categorical primary", run(decode_structured_mesh, 2,
                                                                  structured_record(2, 2, 3, xy, frac,
                                                                                    AttributeMetadata{"m", "M", AttributeKind::Categorical, std::nullopt, std::nullopt},
                                                                                    {{"a", continuous("b"), std::vector<double>(6, 1)}}, {})),
                         "parse error: deserialize: parse error: categorical attribute 'm' values must be integers or NaN"});
    }
    cases.push_back({"structured v2 id mismatch", run(decode_structured_mesh, 2,
                                                      structured_record(2, 2, 3, xy, ones, std::nullopt,
                                                                        {{"a", continuous("b"), std::vector<double>(6, 1)}}, {})),
                     "parse error: deserialize: parse error: attribute metadata id 'b' must match lane name 'a'"});
    cases.push_back({"structured v3", run(decode_structured_mesh, 3, structured_record(2, 2, 3, xy, ones, std::nullopt, {}, {})),
                     "parse error: unsupported structured_mesh element schema v3"});
    cases.push_back({"tri v1 values short", run(decode_tri_surface, 1, tri_record(1, 4, kSquare, 0, {1, 2, 3}, {}, {})),
                     "geometry mismatch: TriSurface::from_shell: 3 lane values for 4 shell nodes"});
    cases.push_back({"tri v1 lane short", run(decode_tri_surface, 1,
                                              tri_record(1, 4, kSquare, 0, four, {{"a", std::nullopt, {1, 2, 3}}}, {})),
                     "geometry mismatch: TriSurface::set_attr: 3 lane values for 4 shell nodes"});
    cases.push_back({"tri v2 lane short", run(decode_tri_surface, 2,
                                              tri_record(2, 4, kSquare, 0, four, {{"a", continuous("a"), {1, 2, 3}}}, {})),
                     "parse error: deserialize: geometry mismatch: TriSurface::set_attr_with_metadata: 3 lane values "
                     "for 4 shell nodes"});
    cases.push_back({"tri v0", run(decode_tri_surface, 0, tri_record(2, 4, kSquare, 0, four, {}, {})),
                     "parse error: unsupported tri_surface element schema v0"});
    return cases;
}

class ElementMeshDecodeFailure : public ::testing::TestWithParam<FailCase> {};

TEST_P(ElementMeshDecodeFailure, ReportsItsText) {
    const FailCase& c = GetParam();
    auto r = c.decode();
    ASSERT_FALSE(r.has_value()) << c.name;
    EXPECT_EQ(r.error().display(), c.display) << c.name;
}

INSTANTIATE_TEST_SUITE_P(Mesh, ElementMeshDecodeFailure, ::testing::ValuesIn(mesh_failures()),
                         [](const ::testing::TestParamInfo<FailCase>& info) {
                             return case_name(info) + "_" + std::to_string(info.index);
                         });

}  // namespace
}  // namespace vz::element
