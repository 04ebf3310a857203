#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <optional>
#include <string>
#include <vector>

#include "algorithms/intersections.hpp"
#include "core/well.hpp"

namespace vz {
namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kInf = std::numeric_limits<double>::infinity();

/// A vertical survey from md0 to md1 on the bore.
void push_vertical(Sidetrack& bore, double md0, double md1) {
    auto t = bore.push_trajectory(TrajectorySource::survey({{md0, 0, 0}, {md1, 0, 0}}));
    ASSERT_TRUE(t.has_value()) << t.error().display();
}

Log make_log(const std::string& mnemonic, std::vector<double> md, std::vector<double> values) {
    auto log = Log::make(mnemonic, "", std::move(md), std::move(values));
    EXPECT_TRUE(log.has_value());
    return *log;
}

std::vector<std::string> top_names(const std::vector<DepthPick>& tops) {
    std::vector<std::string> out;
    for (const auto& t : tops) out.push_back(t.name);
    return out;
}

/// A horizontal plane at elevation `z` (negated subsea depth), two triangles
/// covering [-10000, 10000] in x and y.
class FlatPlane final : public TriangleMeshSource {
public:
    explicit FlatPlane(double z) : z_(z) {}
    Result<TriangleMesh> triangle_mesh() const override {
        TriangleMesh m;
        m.vertices = {{-10000, -10000, z_}, {10000, -10000, z_}, {10000, 10000, z_}, {-10000, 10000, z_}};
        m.triangles = {{0, 1, 2}, {0, 2, 3}};
        return m;
    }

private:
    double z_;
};

/// A surface whose triangle view cannot be formed.
class BrokenSurface final : public TriangleMeshSource {
public:
    Result<TriangleMesh> triangle_mesh() const override {
        return fail(Error::geometry_inference("structured shell has no complete cell to triangulate"));
    }
};

// ---- bores ------------------------------------------------------------------

TEST(Well, NewWellHoldsTheMainBore) {
    Well w = Well::make("W1", 10, 20, 25, "EPSG:23031");
    ASSERT_EQ(w.bores.size(), 1u);
    const Sidetrack* main = w.main_bore();
    ASSERT_NE(main, nullptr);
    EXPECT_EQ(main->label, "");
    EXPECT_EQ(main->head, (std::array<double, 2>{10, 20}));
    EXPECT_EQ(main->kb, 25.0);
    EXPECT_EQ(main->active, 0u);
    EXPECT_EQ(w.crs, std::optional<std::string>("EPSG:23031"));
    EXPECT_FALSE(w.is_multibore());
}

TEST(Well, SidetrackEntryAppendsOnceWithTheWellsHeadAndDatum) {
    Well w = Well::make("W1", 10, 20, 25);
    w.head = {11, 21};  // a bore copies what the well holds at creation
    Sidetrack& st = w.sidetrack_entry("ST1");
    EXPECT_EQ(st.label, "ST1");
    EXPECT_EQ(st.head, (std::array<double, 2>{11, 21}));
    EXPECT_EQ(st.kb, 25.0);
    st.add_contacts({{"OWC", 1500}});
    EXPECT_EQ(&w.sidetrack_entry("ST1"), w.sidetrack("ST1"));
    EXPECT_EQ(w.sidetrack("ST1")->contacts.size(), 1u);
    w.sidetrack_entry("ST2");
    ASSERT_EQ(w.bores.size(), 3u);
    std::vector<std::string> order;
    for (auto it = w.bores.begin(); it != w.bores.end(); ++it) order.push_back(it->first);
    EXPECT_EQ(order, (std::vector<std::string>{"", "ST1", "ST2"}));
    EXPECT_EQ(w.sidetrack("st1"), nullptr);  // labels are exact
    EXPECT_EQ(w.find_bore("ST2"), w.sidetrack("ST2"));
    EXPECT_EQ(w.named_bore_labels(), (std::vector<std::string_view>{"ST1", "ST2"}));
}

TEST(Well, ChangeBoreAddsAMissingBoreOnlyWhenTheChangeSucceeds) {
    Well w = Well::make("W1", 10, 20, 25);
    push_vertical(w.sidetrack_entry("A"), 0, 1000);

    // A refused change on a missing bore leaves the bores as they were.
    auto refused = w.change_bore("B", [](Sidetrack& b) { return b.add_top("  ", 100); });
    ASSERT_FALSE(refused.has_value());
    EXPECT_EQ(refused.error(), Error::parse("top name cannot be empty"));
    EXPECT_EQ(w.sidetrack("B"), nullptr);
    EXPECT_EQ(w.named_bore_labels(), (std::vector<std::string_view>{"A"}));

    // A successful one appends the bore last, made as `sidetrack_entry` makes
    // it, with the change applied.
    auto added = w.change_bore("B", [](Sidetrack& b) { return b.add_top("Brent", 5000); });
    ASSERT_TRUE(added.has_value()) << added.error().display();
    EXPECT_EQ(w.named_bore_labels(), (std::vector<std::string_view>{"A", "B"}));
    const Sidetrack* b = w.sidetrack("B");
    ASSERT_NE(b, nullptr);
    EXPECT_EQ(b->label, "B");
    EXPECT_EQ(b->head, (std::array<double, 2>{10, 20}));
    EXPECT_EQ(b->kb, 25.0);
    EXPECT_FALSE(b->has_trajectory());
    EXPECT_EQ(b->tops, (std::vector<DepthPick>{{"Brent", 5000}}));

    // An existing bore is changed in place; its failure changes nothing.
    auto in_place = w.change_bore("A", [](Sidetrack& a) { return a.add_top("Ness", 1001); });
    ASSERT_FALSE(in_place.has_value());
    EXPECT_EQ(in_place.error().kind(), ErrorKind::OutOfRange);
    EXPECT_TRUE(w.sidetrack("A")->tops.empty());
    auto removed = w.change_bore("B", [](Sidetrack& bore) { return bore.remove_top("brent"); });
    ASSERT_TRUE(removed.has_value());
    EXPECT_EQ(*removed, (DepthPick{"Brent", 5000}));
    EXPECT_EQ(w.bores.size(), 3u);
}

TEST(Well, BoreChoice) {
    struct Case {
        const char* name;
        std::vector<std::string> bores;        // created in order after the main bore
        std::vector<std::string> positioned;   // bores given a trajectory
        std::optional<std::string> default_bore;
        bool multibore;
        const char* accessor;
        std::optional<std::string> intersection;  // absent: refused
    };
    const Case cases[] = {
        {"main only, no trajectory", {}, {}, std::nullopt, false, "", ""},
        {"main only, positioned", {}, {""}, std::nullopt, false, "", ""},
        {"sidetrack only positioned", {"ST1"}, {"ST1"}, std::nullopt, false, "ST1", "ST1"},
        {"two positioned, no default", {"ST1"}, {"", "ST1"}, std::nullopt, true, "", std::nullopt},
        {"two positioned, default set", {"ST1"}, {"", "ST1"}, "ST1", true, "ST1", "ST1"},
        {"two positioned, default main", {"ST1"}, {"", "ST1"}, "", true, "", ""},
        {"nothing positioned, default", {"ST1", "ST2"}, {}, "ST2", false, "ST2", "ST2"},
        {"two sidetracks positioned", {"ST1", "ST2"}, {"ST1", "ST2"}, std::nullopt, true, "", std::nullopt},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Well w = Well::make("W", 0, 0, 0);
        for (const auto& b : c.bores) w.sidetrack_entry(b);
        for (const auto& b : c.positioned) push_vertical(*w.sidetrack(b), 0, 1000);
        if (c.default_bore) {
            ASSERT_TRUE(w.set_default_bore(*c.default_bore).has_value());
        }
        EXPECT_EQ(w.is_multibore(), c.multibore);
        ASSERT_NE(w.accessor_bore(), nullptr);
        EXPECT_EQ(w.accessor_bore()->label, c.accessor);
        // Well-level reads answer from the accessor bore alone.
        EXPECT_EQ(w.tvd(500).has_value(), w.accessor_bore()->has_trajectory());
        EXPECT_EQ(w.md_at_tvd(500).has_value(), w.accessor_bore()->has_trajectory());
        auto ib = w.intersection_bore();
        ASSERT_EQ(ib.has_value(), c.intersection.has_value());
        if (ib) {
            EXPECT_EQ((*ib)->label, *c.intersection);
        } else {
            EXPECT_EQ(ib.error().display(),
                      "unsupported: well 'W' has multiple bores; select one with sidetrack(...) or "
                      "set_default_bore(...) before this operation");
        }
        auto rb = w.resolve_bore();
        ASSERT_TRUE(rb.has_value());
        if (c.default_bore || !c.multibore) {
            EXPECT_EQ((*rb)->label, c.accessor);
        }
    }
}

TEST(Well, SetDefaultBoreRefusesUnknownLabels) {
    struct Case {
        std::vector<std::string> bores;
        const char* label;
        const char* message;
    };
    const Case cases[] = {
        {{}, "ST1", "not found: well 'W7' has no bore 'ST1' (bores: )"},
        {{"ST1", "ST2"}, "st1", "not found: well 'W7' has no bore 'st1' (bores: ST1, ST2)"},
        {{"A"}, " A", "not found: well 'W7' has no bore ' A' (bores: A)"},
    };
    for (const auto& c : cases) {
        Well w = Well::make("W7", 0, 0, 0);
        for (const auto& b : c.bores) w.sidetrack_entry(b);
        auto r = w.set_default_bore(c.label);
        ASSERT_FALSE(r.has_value());
        EXPECT_EQ(r.error().kind(), ErrorKind::NotFound);
        EXPECT_EQ(r.error().display(), c.message);
        EXPECT_FALSE(w.default_bore.has_value());
    }
    Well w = Well::make("W7", 0, 0, 0);
    w.sidetrack_entry("ST1");
    ASSERT_TRUE(w.set_default_bore("ST1").has_value());
    ASSERT_FALSE(w.set_default_bore("nope").has_value());
    EXPECT_EQ(w.default_bore, std::optional<std::string>("ST1"));  // failure keeps the earlier choice
    ASSERT_TRUE(w.set_default_bore("").has_value());
    EXPECT_EQ(w.default_bore, std::optional<std::string>(""));
}

TEST(Well, DamagedDefaultBoreFallsBackForReadsAndFailsForChanges) {
    Well w = Well::make("W", 0, 0, 25);
    push_vertical(w.sidetrack_entry(""), 0, 1000);
    w.default_bore = "gone";  // only a damaged project file can do this
    EXPECT_EQ(w.accessor_bore()->label, "");
    EXPECT_DOUBLE_EQ(*w.tvd(500), 475.0);
    auto r = w.add_top_md("A", 100);
    ASSERT_FALSE(r.has_value());
    EXPECT_EQ(r.error().kind(), ErrorKind::NotFound);
    EXPECT_TRUE(w.main_bore()->tops.empty());

    Well empty;  // no main bore at all
    empty.name = "E";
    EXPECT_EQ(empty.accessor_bore(), nullptr);
    EXPECT_FALSE(empty.tvd(1).has_value());
    EXPECT_TRUE(empty.tops().empty());
    EXPECT_FALSE(empty.top_interval("A").has_value());
    EXPECT_FALSE(empty.remove_top("A").has_value());
}

TEST(Sidetrack, ActiveTrajectory) {
    Well w = Well::make("W", 0, 0, 25);
    Sidetrack& b = w.sidetrack_entry("");
    EXPECT_EQ(b.active_trajectory(), nullptr);
    push_vertical(b, 0, 1000);
    push_vertical(b, 0, 2000);
    EXPECT_EQ(b.active, 1u);
    auto bad = b.push_trajectory(TrajectorySource::survey({{0, 0, 0}, {0, 0, 0}}));
    ASSERT_FALSE(bad.has_value());
    EXPECT_EQ(bad.error().display(), "out of range: station measured depth must strictly increase");
    EXPECT_EQ(b.active, 1u);
    EXPECT_EQ(b.trajectories.size(), 2u);
    auto good = b.push_trajectory(TrajectorySource::survey({{0, 0, 0}, {3000, 0, 0}}));
    ASSERT_TRUE(good.has_value());
    EXPECT_EQ(b.active, 2u);
    EXPECT_EQ(*good, b.active_trajectory());
    EXPECT_DOUBLE_EQ(b.active_trajectory()->last_md(), 3000.0);
    b.active = 7;  // damaged index: no active trajectory
    EXPECT_EQ(b.active_trajectory(), nullptr);
    EXPECT_FALSE(b.tvd(10).has_value());
}

TEST(Sidetrack, PositionsOnAVerticalHole) {
    Well w = Well::make("W", 500, 600, 25);
    Sidetrack& b = w.sidetrack_entry("");
    EXPECT_FALSE(b.tvd(1000).has_value());
    push_vertical(b, 25, 3000);
    EXPECT_DOUBLE_EQ(*b.tvd(1000), 975.0);
    const Xyz p = *b.xyz(1000);
    EXPECT_EQ(p, (Xyz{500, 600, -975}));
    EXPECT_DOUBLE_EQ(*w.tvd(1000), 975.0);
    EXPECT_EQ(*w.xyz(1000), p);
    EXPECT_DOUBLE_EQ(*w.md_at_tvd(975), 1000.0);
    for (double md : {kNaN, 24.0, 3000.5}) {
        EXPECT_FALSE(b.tvd(md).has_value()) << md;
        EXPECT_FALSE(b.xyz(md).has_value()) << md;
        EXPECT_FALSE(w.tvd(md).has_value()) << md;
    }
}

TEST(Sidetrack, LogsAndContactsMatchIgnoringAsciiCase) {
    Well w = Well::make("W", 0, 0, 0);
    Sidetrack& b = w.sidetrack_entry("");
    b.push_log(make_log("Gr", {1, 2}, {10, 20}));
    b.push_log(make_log("PHIE", {1, 2}, {0.1, 0.2}));
    b.push_log(make_log("gR", {1, 2}, {30, 40}));
    auto v = b.log("GR");
    ASSERT_TRUE(v.has_value());
    EXPECT_EQ(v->values()[0], 10.0);
    EXPECT_EQ(v->values().data(), b.logs[0].values.data());  // viewed, not copied
    EXPECT_FALSE(b.log("GR ").has_value());
    EXPECT_FALSE(b.log("ÉGR").has_value());
    EXPECT_EQ(w.log("phie")->values()[1], 0.2);
    b.remove_logs_named("gr");
    ASSERT_EQ(b.logs.size(), 1u);
    EXPECT_EQ(b.logs[0].mnemonic, "PHIE");

    b.add_contacts({{"OWC", 1500}, {"GOC", 1200}, {"owc", 1600}});
    b.add_contacts({{"FWL", 1700}});
    EXPECT_EQ(top_names(b.contacts), (std::vector<std::string>{"OWC", "GOC", "owc", "FWL"}));
    EXPECT_EQ(b.contact("Owc"), (std::optional<DepthPick>(DepthPick{"OWC", 1500})));
    EXPECT_FALSE(b.contact("OWC ").has_value());
    EXPECT_EQ(w.contacts().size(), 4u);
    EXPECT_EQ(w.contact("goc")->md, 1200.0);
}

// ---- crossings --------------------------------------------------------------

SurfaceIntersection hit_at(double md, Xyz xyz, std::optional<std::string> bore = std::nullopt,
                           std::optional<std::string> well = std::nullopt) {
    SurfaceIntersection h;
    h.md = md;
    h.xyz = xyz;
    h.bore = std::move(bore);
    h.well = std::move(well);
    return h;
}

TEST(Sidetrack, CheckIntersection) {
    Well w = Well::make("W", 5000, 10, 0);
    Sidetrack& st = w.sidetrack_entry("ST1");
    push_vertical(st, 0, 4000);
    Well near = Well::make("N", 0, 0, 0);
    Sidetrack& origin = near.sidetrack_entry("");
    push_vertical(origin, 0, 4000);
    Sidetrack& bare = w.sidetrack_entry("bare");
    struct Case {
        const char* name;
        const Sidetrack* bore;
        SurfaceIntersection hit;
        std::optional<ErrorKind> kind;
        const char* message;
    };
    const Case cases[] = {
        {"exact, no bore identity", &st, hit_at(100, {5000, 10, -100}), std::nullopt, ""},
        {"own label", &st, hit_at(100, {5000, 10, -100}, "ST1"), std::nullopt, ""},
        {"within tolerance at scale 5000", &st, hit_at(100, {5000 + 1e-6, 10, -100}), std::nullopt, ""},
        {"beyond tolerance at scale 5000", &st, hit_at(100, {5000, 10, -100.0009765625}),
         ErrorKind::GeometryMismatch,
         "geometry mismatch: intersection XYZ does not match bore 'ST1' at MD 100 (difference 0.0009765625)"},
        {"other bore before position", &st, hit_at(1e9, {0, 0, 0}, "ST2"), ErrorKind::GeometryMismatch,
         "geometry mismatch: intersection belongs to bore 'ST2', not 'ST1'"},
        {"md outside", &st, hit_at(4000.5, {5000, 10, -4000.5}), ErrorKind::OutOfRange,
         "out of range: intersection MD 4000.5 is outside bore 'ST1'"},
        {"NaN md", &st, hit_at(kNaN, {5000, 10, 0}), ErrorKind::OutOfRange,
         "out of range: intersection MD NaN is outside bore 'ST1'"},
        {"no trajectory", &bare, hit_at(10, {5000, 10, -10}), ErrorKind::OutOfRange,
         "out of range: intersection MD 10 is outside bore 'bare'"},
        {"near origin, 0.9e-6 away", &origin, hit_at(1, {0.9e-6, 0, -1}), std::nullopt, ""},
        {"near origin, 2e-6 away", &origin, hit_at(1, {2e-6, 0, -1}), ErrorKind::GeometryMismatch,
         "geometry mismatch: intersection XYZ does not match bore '' at MD 1 (difference 0.000002)"},
        // A NaN coordinate cannot be matched against the bore.
        {"NaN position", &st, hit_at(100, {kNaN, 10, -100}), ErrorKind::GeometryMismatch,
         "geometry mismatch: intersection XYZ does not match bore 'ST1' at MD 100 (difference NaN)"},
        {"well identity is not looked at", &st, hit_at(100, {5000, 10, -100}, "ST1", "other"), std::nullopt, ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        auto r = c.bore->check_intersection(c.hit);
        ASSERT_EQ(r.has_value(), !c.kind.has_value()) << (r ? "" : r.error().display());
        if (!r) {
            EXPECT_EQ(r.error().kind(), *c.kind);
            EXPECT_EQ(r.error().display(), c.message);
        }
    }
}

TEST(Sidetrack, IntersectionsWithAPlane) {
    Well w = Well::make("W", 100, 200, 25);
    Sidetrack& main = w.sidetrack_entry("");
    const FlatPlane plane(-1475);
    // Without a trajectory: nothing, and no search is run (the broken surface
    // would otherwise fail).
    EXPECT_TRUE(intersections::bore_intersections(main, BrokenSurface{}, 1e-6)->empty());
    EXPECT_FALSE(intersections::bore_intersection(main, BrokenSurface{}, 1e-6)->has_value());
    EXPECT_TRUE(intersections::well_intersections(w, BrokenSurface{}, 1e-6)->empty());

    push_vertical(main, 1000, 2000);
    auto hits = intersections::bore_intersections(main, plane, 1e-6);
    ASSERT_TRUE(hits.has_value()) << hits.error().display();
    ASSERT_EQ(hits->size(), 1u);
    const SurfaceIntersection& h = hits->front();
    EXPECT_NEAR(h.md, 1500, 1e-6);
    EXPECT_NEAR(h.xyz[0], 100, 1e-6);
    EXPECT_NEAR(h.xyz[2], -1475, 1e-6);
    EXPECT_EQ(h.bore, std::optional<std::string>(""));
    EXPECT_FALSE(h.well.has_value());
    EXPECT_FALSE(h.surface.has_value());
    EXPECT_TRUE(main.check_intersection(h).has_value());

    auto one = intersections::bore_intersection(main, plane, 1e-6);
    ASSERT_TRUE(one.has_value());
    ASSERT_TRUE(one->has_value());
    EXPECT_EQ(**one, h);
    EXPECT_FALSE(intersections::bore_intersection(main, FlatPlane(-5000), 1e-6)->has_value());

    auto whole = intersections::well_intersections(w, plane, 1e-6);
    ASSERT_TRUE(whole.has_value());
    ASSERT_EQ(whole->size(), 1u);
    EXPECT_EQ(whole->front().well, std::optional<std::string>("W"));
    EXPECT_EQ(whole->front().bore, std::optional<std::string>(""));

    // The surface's own failure passes through unchanged.
    auto broken = intersections::bore_intersections(main, BrokenSurface{}, 1e-6);
    ASSERT_FALSE(broken.has_value());
    EXPECT_EQ(broken.error().display(),
              "geometry inference failed: structured shell has no complete cell to triangulate");
}

TEST(Sidetrack, SeveralCrossingsNeedAnExplicitChoice) {
    Well w = Well::make("W", 0, 0, 0);
    Sidetrack& st = w.sidetrack_entry("ST1");
    // Down through the plane, up through it again, then down once more
    // (stations without tangents: straight between them).
    auto t = Trajectory::from_station_records({{0, 0, 0, 0, std::nullopt},
                                               {100, 10, 0, 100, std::nullopt},
                                               {200, 20, 0, 0, std::nullopt},
                                               {300, 30, 0, 100, std::nullopt}});
    ASSERT_TRUE(t.has_value());
    st.trajectories.push_back(*t);
    auto all = intersections::bore_intersections(st, FlatPlane(-50), 1e-6);
    ASSERT_TRUE(all.has_value()) << all.error().display();
    ASSERT_EQ(all->size(), 3u);
    EXPECT_LT((*all)[0].md, (*all)[1].md);
    EXPECT_LT((*all)[1].md, (*all)[2].md);
    for (const auto& h : *all) EXPECT_EQ(h.bore, std::optional<std::string>("ST1"));
    auto one = intersections::bore_intersection(st, FlatPlane(-50), 1e-6);
    ASSERT_FALSE(one.has_value());
    EXPECT_EQ(one.error().kind(), ErrorKind::Unsupported);
    EXPECT_EQ(one.error().display(),
              "unsupported: trajectory crosses the surface 3 times; call intersections(...) and select a crossing "
              "explicitly");
}

TEST(Well, IntersectionsFollowTheBoreChoice) {
    Well w = Well::make("W", 0, 0, 0);
    push_vertical(w.sidetrack_entry(""), 0, 1000);
    Sidetrack& st = w.sidetrack_entry("ST1");
    auto t = st.push_trajectory(TrajectorySource::positioned({{0, 0, 0, 50, 0, 0}, {1000, 0, 0, 50, 0, 1000}}));
    ASSERT_TRUE(t.has_value());
    auto refused = intersections::well_intersections(w, FlatPlane(-500), 1e-6);
    ASSERT_FALSE(refused.has_value());
    EXPECT_EQ(refused.error().kind(), ErrorKind::Unsupported);
    ASSERT_TRUE(w.set_default_bore("ST1").has_value());
    auto hits = intersections::well_intersections(w, FlatPlane(-500), 1e-6);
    ASSERT_TRUE(hits.has_value());
    ASSERT_EQ(hits->size(), 1u);
    EXPECT_NEAR(hits->front().xyz[0], 50, 1e-9);
    EXPECT_EQ(hits->front().well, std::optional<std::string>("W"));
    EXPECT_EQ(hits->front().bore, std::optional<std::string>("ST1"));
}

// ---- formation tops ---------------------------------------------------------

TEST(Tops, Validation) {
    auto traj = Trajectory::from_source(TrajectorySource::survey({{1000, 0, 0}, {2000, 0, 0}}), 0, 0, 0);
    ASSERT_TRUE(traj.has_value());
    struct Case {
        const char* name;
        double md;
        bool with_trajectory;
        const char* result;  // trimmed name, or the display text of the failure
        bool ok;
    };
    const Case cases[] = {
        {"  Top A \t", 5, false, "Top A", true},
        {"\u00a0Brent\u2003", 5, false, "Brent", true},  // Unicode white space is trimmed
        {"   ", 5, false, "parse error: top name cannot be empty", false},
        {"   ", kNaN, false, "parse error: top name cannot be empty", false},  // the name is checked first
        {"", 5, false, "parse error: top name cannot be empty", false},
        {"A", kNaN, false, "out of range: top measured depth must be finite", false},
        {"A", kInf, false, "out of range: top measured depth must be finite", false},
        {"A", -kInf, true, "out of range: top measured depth must be finite", false},
        {"A", -1e300, false, "A", true},  // no trajectory: every finite md
        {"A", 1000, true, "A", true},
        {"A", 2000, true, "A", true},
        {"A", 999.5, true, "out of range: top MD 999.5 outside active trajectory range 1000..2000", false},
        {"A", 2000.25, true, "out of range: top MD 2000.25 outside active trajectory range 1000..2000", false},
    };
    for (const auto& c : cases) {
        auto r = Sidetrack::validate_top(c.name, c.md, c.with_trajectory ? &*traj : nullptr);
        ASSERT_EQ(r.has_value(), c.ok) << c.name << " " << c.md;
        EXPECT_EQ(r ? *r : r.error().display(), c.result);
    }
}

TEST(Tops, AddReplaceRemoveOnABore) {
    Well w = Well::make("W", 0, 0, 0);
    Sidetrack& b = w.sidetrack_entry("ST1");
    push_vertical(b, 0, 3000);
    ASSERT_TRUE(b.add_top("  Brent ", 2000).has_value());
    ASSERT_TRUE(b.add_top("Ness", 1500).has_value());
    EXPECT_EQ(b.tops, (std::vector<DepthPick>{{"Ness", 1500}, {"Brent", 2000}}));

    struct Failure {
        const char* op;
        const char* name;
        double md;
        ErrorKind kind;
        const char* message;
    };
    const Failure failures[] = {
        {"add", "BRENT", 100, ErrorKind::Parse, "top 'BRENT' already exists on bore 'ST1'"},
        {"add", "Etive", 3001, ErrorKind::OutOfRange, "top MD 3001 outside active trajectory range 0..3000"},
        {"replace", "Etive", 100, ErrorKind::NotFound, "top 'Etive' on bore 'ST1'"},
        {"replace", " ", 100, ErrorKind::Parse, "top name cannot be empty"},
        {"remove", " Brent", 0, ErrorKind::NotFound, "top ' Brent' on bore 'ST1'"},  // removal does not trim
        {"remove", "Etive", 0, ErrorKind::NotFound, "top 'Etive' on bore 'ST1'"},
    };
    for (const auto& f : failures) {
        SCOPED_TRACE(std::string(f.op) + " " + f.name);
        const auto before = b.tops;
        const std::string op = f.op;
        std::optional<Error> err;
        if (op == "add") {
            auto r = b.add_top(f.name, f.md);
            if (!r) err = r.error();
        } else if (op == "replace") {
            auto r = b.replace_top(f.name, f.md);
            if (!r) err = r.error();
        } else {
            auto r = b.remove_top(f.name);
            if (!r) err = r.error();
        }
        ASSERT_TRUE(err.has_value());
        EXPECT_EQ(err->kind(), f.kind);
        EXPECT_EQ(err->message(), f.message);
        EXPECT_EQ(b.tops, before);
    }

    // Replacing takes the caller's spelling and moves the top.
    ASSERT_TRUE(b.replace_top(" brent  ", 1000).has_value());
    EXPECT_EQ(b.tops, (std::vector<DepthPick>{{"brent", 1000}, {"Ness", 1500}}));
    auto removed = b.remove_top("NESS");
    ASSERT_TRUE(removed.has_value());
    EXPECT_EQ(*removed, (DepthPick{"Ness", 1500}));
    EXPECT_EQ(b.tops, (std::vector<DepthPick>{{"brent", 1000}}));

    // The same name on another bore is fine.
    Sidetrack& other = w.sidetrack_entry("");
    EXPECT_TRUE(other.add_top("brent", 5).has_value());
}

TEST(Tops, DuplicatesFromALoaderAreNotChosenBetween) {
    Well w = Well::make("W", 0, 0, 0);
    Sidetrack& b = w.sidetrack_entry("");
    b.add_tops({{"Brent", 2000}, {" brent", 1000}, {"BRENT", 1500}});
    // add_tops stores names as given; only the exact-length match counts.
    EXPECT_EQ(top_names(b.tops), (std::vector<std::string>{" brent", "BRENT", "Brent"}));
    const auto before = b.tops;
    auto rep = b.replace_top("brent", 10);
    ASSERT_FALSE(rep.has_value());
    EXPECT_EQ(rep.error().display(),
              "parse error: top 'brent' is duplicated on bore ''; remove the legacy duplicates explicitly");
    auto rem = b.remove_top("brent");
    ASSERT_FALSE(rem.has_value());
    EXPECT_EQ(rem.error().display(), "parse error: top 'brent' is duplicated on bore ''; cannot choose one to remove");
    auto add = b.add_top("brent", 10);
    ASSERT_FALSE(add.has_value());
    EXPECT_EQ(add.error().display(), "parse error: top 'brent' already exists on bore ''");
    EXPECT_EQ(b.tops, before);
    auto rem_spaced = b.remove_top(" BRENT");
    ASSERT_TRUE(rem_spaced.has_value());
    EXPECT_EQ(rem_spaced->name, " brent");
}

TEST(Tops, Ordering) {
    struct Case {
        const char* name;
        std::vector<DepthPick> rows;  // added in this order
        std::vector<std::string> strat;
        std::vector<std::string> want;
    };
    const Case cases[] = {
        {"by md", {{"C", 1500}, {"A", 1000}, {"B", 1200}}, {}, {"A", "B", "C"}},
        {"equal md keep insertion order", {{"Y", 1000}, {"X", 1000}, {"W", 900}}, {}, {"W", "Y", "X"}},
        {"equal md by rank", {{"A", 1000}, {"Z", 1000}, {"B", 1000}}, {"B", "A"}, {"B", "A", "Z"}},
        {"rank only breaks md ties", {{"B", 1100}, {"A", 1000}}, {"B", "A"}, {"A", "B"}},
        {"rank is case-sensitive", {{"a", 1000}, {"B", 1000}}, {"A", "B"}, {"B", "a"}},
        {"repeated name takes later rank", {{"A", 1000}, {"B", 1000}, {"C", 1000}}, {"A", "B", "C", "A"},
         {"B", "C", "A"}},
        {"unranked ties keep order", {{"Q", 1000}, {"P", 1000}, {"A", 1000}}, {"A"}, {"A", "Q", "P"}},
        {"NaN after numbers", {{"N", kNaN}, {"I", kInf}, {"M", -kInf}, {"Z", 0}}, {}, {"M", "Z", "I", "N"}},
        {"signed zeros", {{"pos", 0.0}, {"neg", -0.0}}, {}, {"neg", "pos"}},
        {"negative NaN first", {{"n", 1}, {"nn", -kNaN}}, {}, {"nn", "n"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Sidetrack b;
        b.set_strat_order(c.strat);
        for (const auto& r : c.rows) b.add_tops({r});
        EXPECT_EQ(top_names(b.tops), c.want);
        // Appending all at once gives the same order.
        Sidetrack once;
        once.strat_order = c.strat;
        once.add_tops(c.rows);
        EXPECT_EQ(top_names(once.tops), c.want);
    }
}

TEST(Tops, NewStratOrderResortsAtOnce) {
    Well w = Well::make("W", 0, 0, 0);
    w.sidetrack_entry("ST1").add_tops({{"A", 1000}, {"B", 1000}});
    w.main_bore();
    w.sidetrack_entry("").add_tops({{"A", 5}, {"B", 5}});
    w.set_strat_order({"B", "A"});
    for (auto it = w.bores.begin(); it != w.bores.end(); ++it) {
        EXPECT_EQ(top_names(it->second.tops), (std::vector<std::string>{"B", "A"}));
        EXPECT_EQ(it->second.strat_order, (std::vector<std::string>{"B", "A"}));
    }
    w.set_strat_order({});
    EXPECT_EQ(top_names(w.sidetrack("ST1")->tops), (std::vector<std::string>{"B", "A"}));  // stable
}

TEST(Tops, AddedTopJoinsRankedOrder) {
    Sidetrack b;
    b.set_strat_order({"B", "A"});
    ASSERT_TRUE(b.add_top("A", 1000).has_value());
    ASSERT_TRUE(b.add_top("C", 1000).has_value());
    ASSERT_TRUE(b.add_top("B", 1000).has_value());
    EXPECT_EQ(top_names(b.tops), (std::vector<std::string>{"B", "A", "C"}));
}

TEST(Tops, WellLevelChangesAreRefusedOnAnAmbiguousWell) {
    Well w = Well::make("W9", 0, 0, 0);
    push_vertical(w.sidetrack_entry(""), 0, 1000);
    push_vertical(w.sidetrack_entry("ST1"), 0, 1000);
    const SurfaceIntersection hit = hit_at(500, {0, 0, -500});
    struct Case {
        const char* op;
        Result<void> result;
    };
    const std::string prefix = "unsupported: well 'W9' has multiple bores; select a default bore before ";
    auto removed = w.remove_top("A");
    ASSERT_FALSE(removed.has_value());
    EXPECT_EQ(removed.error().display(), prefix + "remove_top");
    const Case cases[] = {
        {"add_top", w.add_top_md("A", 10)},
        {"add_top", w.add_top_hit("A", hit)},
        {"replace_top", w.replace_top_md("A", 10)},
        {"replace_top", w.replace_top_hit("A", hit)},
    };
    for (const auto& c : cases) {
        ASSERT_FALSE(c.result.has_value()) << c.op;
        EXPECT_EQ(c.result.error().kind(), ErrorKind::Unsupported);
        EXPECT_EQ(c.result.error().display(), prefix + c.op);
    }
    // The bores themselves still accept changes.
    EXPECT_TRUE(w.sidetrack("ST1")->add_top("A", 10).has_value());
    EXPECT_TRUE(w.sidetrack("")->add_top("A", 20).has_value());
    // Once a default is chosen, the well-level forms go to it.
    ASSERT_TRUE(w.set_default_bore("ST1").has_value());
    ASSERT_TRUE(w.replace_top_md("a", 30).has_value());
    EXPECT_EQ(w.sidetrack("ST1")->tops, (std::vector<DepthPick>{{"a", 30}}));
    EXPECT_EQ(w.sidetrack("")->tops, (std::vector<DepthPick>{{"A", 20}}));
    EXPECT_EQ(w.tops(), w.sidetrack("ST1")->tops);
}

TEST(Tops, WellLevelFormsOnASingleBoreWell) {
    Well w = Well::make("W1", 0, 0, 0);
    Sidetrack& st = w.sidetrack_entry("ST1");  // the only bore with a trajectory
    push_vertical(st, 0, 2000);
    ASSERT_TRUE(w.add_top_md("Brent", 1500).has_value());
    EXPECT_EQ(top_names(st.tops), std::vector<std::string>{"Brent"});
    EXPECT_TRUE(w.main_bore()->tops.empty());
    auto dup = w.add_top_md("brent", 100);
    ASSERT_FALSE(dup.has_value());
    EXPECT_EQ(dup.error().display(), "parse error: top 'brent' already exists on bore 'ST1'");
    ASSERT_TRUE(w.add_top_hit("Ness", hit_at(1000, {0, 0, -1000}, "ST1", "W1")).has_value());
    ASSERT_TRUE(w.replace_top_hit(" NESS", hit_at(1100, {0, 0, -1100})).has_value());
    EXPECT_EQ(st.tops, (std::vector<DepthPick>{{"NESS", 1100}, {"Brent", 1500}}));
    auto gone = w.remove_top("ness");
    ASSERT_TRUE(gone.has_value());
    EXPECT_EQ(gone->md, 1100.0);
}

TEST(Tops, HitFormsCheckInOrder) {
    struct Case {
        const char* name;
        bool multibore;
        const char* top;
        SurfaceIntersection hit;
        const char* message;
    };
    const Case cases[] = {
        // Another well's crossing is reported before an ambiguous well.
        {"other well first", true, "A", hit_at(100, {0, 0, -100}, std::nullopt, "W2"),
         "geometry mismatch: intersection belongs to well 'W2', not 'W1'"},
        {"other well, single bore", false, "A", hit_at(100, {0, 0, -100}, "", "w1"),
         "geometry mismatch: intersection belongs to well 'w1', not 'W1'"},
        {"ambiguous well", true, "A", hit_at(100, {0, 0, -100}),
         "unsupported: well 'W1' has multiple bores; select a default bore before add_top"},
        // A crossing that is not on the bore is reported before a bad name.
        {"other bore before bad name", false, " ", hit_at(100, {0, 0, -100}, "ST9"),
         "geometry mismatch: intersection belongs to bore 'ST9', not ''"},
        {"off the bore before bad name", false, " ", hit_at(100, {0, 1, -100}),
         "geometry mismatch: intersection XYZ does not match bore '' at MD 100 (difference 1)"},
        {"outside the bore", false, "A", hit_at(5000, {0, 0, -5000}),
         "out of range: intersection MD 5000 is outside bore ''"},
        {"bad name last", false, " ", hit_at(100, {0, 0, -100}), "parse error: top name cannot be empty"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Well w = Well::make("W1", 0, 0, 0);
        push_vertical(w.sidetrack_entry(""), 0, 1000);
        if (c.multibore) push_vertical(w.sidetrack_entry("ST1"), 0, 1000);
        auto r = w.add_top_hit(c.top, c.hit);
        ASSERT_FALSE(r.has_value());
        EXPECT_EQ(r.error().display(), c.message);
        EXPECT_TRUE(w.main_bore()->tops.empty());
    }
}

TEST(Tops, TopFromACrossing) {
    Well w = Well::make("W", 100, 200, 25);
    Sidetrack& st = w.sidetrack_entry("ST1");
    push_vertical(st, 1000, 2000);
    auto hit = intersections::bore_intersection(st, FlatPlane(-1475), 1e-6);
    ASSERT_TRUE(hit.has_value() && hit->has_value());
    ASSERT_TRUE(st.add_top_hit("Brent", **hit).has_value());
    ASSERT_EQ(st.tops.size(), 1u);
    EXPECT_NEAR(st.tops[0].md, 1500, 1e-6);
    auto deeper = intersections::well_intersections(w, FlatPlane(-1775), 1e-6);
    ASSERT_TRUE(deeper.has_value());
    ASSERT_EQ(deeper->size(), 1u);
    ASSERT_TRUE(w.replace_top_hit("BRENT", deeper->front()).has_value());
    EXPECT_EQ(st.tops[0].name, "BRENT");
    EXPECT_NEAR(st.tops[0].md, 1800, 1e-6);
    // A crossing of the main bore's label does not belong to ST1.
    SurfaceIntersection foreign = deeper->front();
    foreign.bore = "";
    auto r = st.replace_top_hit("Brent", foreign);
    ASSERT_FALSE(r.has_value());
    EXPECT_EQ(r.error().display(), "geometry mismatch: intersection belongs to bore '', not 'ST1'");
}

// ---- zones ------------------------------------------------------------------

struct ZoneRow {
    std::string name;
    double top, base;
};

std::vector<ZoneRow> rows_of(const std::vector<Zone>& zones) {
    std::vector<ZoneRow> out;
    for (const auto& z : zones) out.push_back({z.name, z.top_md, z.base_md});
    return out;
}

void expect_rows(const std::vector<ZoneRow>& got, const std::vector<ZoneRow>& want) {
    ASSERT_EQ(got.size(), want.size());
    for (std::size_t i = 0; i < got.size(); ++i) {
        EXPECT_EQ(got[i].name, want[i].name) << i;
        EXPECT_EQ(got[i].top, want[i].top) << i;
        if (std::isnan(want[i].base))
            EXPECT_TRUE(std::isnan(got[i].base)) << i;
        else
            EXPECT_EQ(got[i].base, want[i].base) << i;
    }
}

TEST(Zones, FormedFromTops) {
    struct Case {
        const char* name;
        bool trajectory;
        std::vector<std::string> strat;
        std::vector<ZoneRow> want;
    };
    const Case cases[] = {
        {"md order", true, {}, {{"A", 1000, 1200}, {"B", 1200, 1500}, {"C", 1500, 2000}}},
        {"no trajectory", false, {}, {{"A", 1000, 1200}, {"B", 1200, 1500}, {"C", 1500, kNaN}}},
        {"strat order", true, {"C", "A", "B"}, {{"C", 1500, 2000}, {"A", 1000, 1200}, {"B", 1200, 1500}}},
        {"partial strat order", true, {"B"}, {{"B", 1200, 1500}, {"A", 1000, 1200}, {"C", 1500, 2000}}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Sidetrack b;
        if (c.trajectory) push_vertical(b, 0, 2000);
        b.add_tops({{"C", 1500}, {"A", 1000}, {"B", 1200}});
        b.set_strat_order(c.strat);
        expect_rows(rows_of(b.zones()), c.want);
    }
    Sidetrack none;
    EXPECT_TRUE(none.zones().empty());
    EXPECT_TRUE(none.zone_stats("GR").empty());
}

TEST(Zones, ClippedLogsAndStatistics) {
    Well w = Well::make("W", 0, 0, 0);
    Sidetrack& b = w.sidetrack_entry("");
    push_vertical(b, 0, 2000);
    b.push_log(make_log("GR", {1000, 1100, 1200, 1300, 1400, 1500, 1600}, {10, 20, 30, 40, kNaN, 60, 70}));
    b.add_tops({{"A", 1000}, {"B", 1200}, {"Thin", 1500}, {"C", 1500}});
    // Thin and C share md 1500: Thin has thickness 0 and an empty clip.
    const auto zones = b.zones();
    ASSERT_EQ(zones.size(), 4u);
    const auto a = zones[0].log("gr");
    ASSERT_TRUE(a.has_value());
    EXPECT_EQ(std::vector<double>(a->md().begin(), a->md().end()), (std::vector<double>{1000, 1100}));
    EXPECT_EQ(a->history().entries(),
              (std::vector<std::string>{"log.new", "log.clip(top_md=1000, base_md=1200)"}));
    EXPECT_FALSE(zones[0].log("PHIE").has_value());
    EXPECT_TRUE(zones[2].log("GR")->empty());

    const auto stats = b.zone_stats("Gr");
    ASSERT_EQ(stats.size(), 4u);
    const std::vector<std::string> names{"A", "B", "Thin", "C"};
    const std::vector<std::uint64_t> counts{2, 2, 0, 2};  // 1200 goes to B, the NaN at 1400 is skipped
    const std::vector<double> sums{30, 70, 0, 130};
    for (std::size_t i = 0; i < stats.size(); ++i) {
        EXPECT_EQ(stats[i].first, names[i]);
        EXPECT_EQ(stats[i].second.count, counts[i]) << names[i];
        EXPECT_EQ(stats[i].second.sum, sums[i]) << names[i];
    }
    EXPECT_TRUE(std::isnan(stats[2].second.mean));
    EXPECT_TRUE(b.zone_stats("PHIE").empty());

    Sidetrack unpositioned = b;
    unpositioned.trajectories.clear();
    const auto last = unpositioned.zone_stats("GR").back();
    EXPECT_EQ(last.first, "C");
    EXPECT_EQ(last.second.count, 0u);
}

TEST(Zones, ZoneOfANamedTop) {
    Well w = Well::make("W", 0, 0, 0);
    Sidetrack& main = w.sidetrack_entry("");
    push_vertical(main, 0, 3000);
    main.add_tops({{"Brent", 1000}, {"BRENT", 1200}, {"Ness", 1400}});
    main.set_strat_order({"Ness", "Brent"});
    auto z = main.zone_of_top("brent");
    ASSERT_TRUE(z.has_value());
    EXPECT_EQ(z->name, "Brent");  // the first in tops order, as stored
    EXPECT_EQ(z->top_md, 1000.0);
    EXPECT_EQ(z->base_md, 1200.0);
    auto ness = w.top_interval("NESS");
    ASSERT_TRUE(ness.has_value());
    EXPECT_EQ(ness->base_md, 3000.0);
    EXPECT_FALSE(main.zone_of_top("Etive").has_value());

    // The well answers from its accessor bore only.
    Sidetrack& st = w.sidetrack_entry("ST1");
    st.add_tops({{"Etive", 10}});
    EXPECT_FALSE(w.top_interval("Etive").has_value());
    ASSERT_TRUE(w.set_default_bore("ST1").has_value());
    auto etive = w.top_interval("etive");
    ASSERT_TRUE(etive.has_value());
    EXPECT_TRUE(std::isnan(etive->base_md));
}

}  // namespace
}  // namespace vz
