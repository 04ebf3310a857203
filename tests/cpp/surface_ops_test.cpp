// Surface arithmetic: two-surface operations, scalars, clamping, element
// functions and thickness; values, histories and refusals.

#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "core/surface.hpp"
#include "surface_test_util.hpp"

namespace vz {
namespace {

using testutil::cols;
using testutil::error_text;
using testutil::expect_values;
using testutil::geo;
using testutil::kInf;
using testutil::kNaN;

Surface make_surface(const GridGeometry& g, Grid2 v) {
    auto s = Surface::make(g, std::move(v));
    EXPECT_TRUE(s) << error_text(s);
    return *s;
}

std::vector<std::string> with(std::vector<std::string> h, std::initializer_list<std::string> more) {
    h.insert(h.end(), more);
    return h;
}

/// A surface with primary metadata, lanes and a two-entry history.
Surface decorated() {
    Surface s = make_surface(geo(5, 6, 2, 3, 2, 2, 10, true), cols({{1, -2}, {kNaN, 4}}));
    s.primary_metadata = AttributeMetadata{"code", "code", AttributeKind::Categorical, std::nullopt, std::nullopt};
    EXPECT_TRUE(s.set_attr("lane", Grid2(2, 2, 9.0)));
    return s;
}

void expect_plain_derived(const Surface& r, const Surface& src, const std::string& what) {
    EXPECT_EQ(r.geom, src.geom) << what;
    EXPECT_FALSE(r.primary_metadata) << what;
    EXPECT_TRUE(r.attributes.empty()) << what;
}

TEST(SurfaceArithmetic, TwoSurfaceValuesAndHistories) {
    const GridGeometry g = geo(0, 0, 1, 1, 3, 2);
    Surface left = make_surface(g, cols({{6, 0}, {-3, kNaN}, {0, 5}}));
    Surface right = make_surface(g, cols({{2, 0}, {0, 1}, {0, kInf}}));
    right = right.add_scalar(1).sub_scalar(1);  // right history: new, add_scalar(1), sub_scalar(1)
    struct Case {
        const char* op;
        std::function<Result<Surface>(const Surface&, const Surface&)> f;
        std::vector<double> expected;
    };
    const Case cases[] = {
        {"plus", [](auto& a, auto& b) { return a.plus(b); }, {8, 0, -3, kNaN, 0, kInf}},
        {"minus", [](auto& a, auto& b) { return a.minus(b); }, {4, 0, -3, kNaN, 0, -kInf}},
        {"times", [](auto& a, auto& b) { return a.times(b); }, {12, 0, -0.0, kNaN, 0, kInf}},
        {"divided_by", [](auto& a, auto& b) { return a.divided_by(b); }, {3, kNaN, -kInf, kNaN, kNaN, 0}},
    };
    for (const Case& c : cases) {
        auto r = c.f(left, right);
        ASSERT_TRUE(r) << c.op;
        expect_values(r->values, c.expected, c.op);
        expect_plain_derived(*r, left, c.op);
        EXPECT_EQ(r->history.entries(),
                  (std::vector<std::string>{"surface.new", "rhs.surface.new", "rhs.surface.add_scalar(1)",
                                            "rhs.surface.sub_scalar(1)", std::string("surface.") + c.op + "(surface)"}))
            << c.op;
    }
    // Division by zero keeps the sign of the dividend.
    auto d = make_surface(g, cols({{1, -1}, {0, 2}, {-0.5, kNaN}})).divided_by(make_surface(g, Grid2(3, 2, 0.0)));
    ASSERT_TRUE(d);
    expect_values(d->values, {kInf, -kInf, kNaN, kInf, -kInf, kNaN});
    // Operands are unchanged.
    expect_values(left.values, {6, 0, -3, kNaN, 0, 5});
    EXPECT_EQ(left.history.size(), 1u);
}

TEST(SurfaceArithmetic, DifferingGeometriesAreRefused) {
    const GridGeometry g = geo(0, 0, 1, 1, 2, 2);
    Surface a = make_surface(g, Grid2(2, 2, 1.0));
    GridGeometry flipped = g;
    flipped.yflip = true;
    GridGeometry ulp = g;
    ulp.xinc = std::nextafter(1.0, 2.0);
    GridGeometry more_rows = geo(0, 0, 1, 1, 2, 3);
    GridGeometry neg_zero = g;
    neg_zero.xori = -0.0;  // +0 equals -0: accepted
    const GridGeometry others[] = {flipped, ulp, more_rows};
    const char* ops[] = {"plus", "minus", "times", "divided_by"};
    for (const GridGeometry& og : others) {
        Surface b = make_surface(og, Grid2(og.ncol, og.nrow, 1.0));
        const Result<Surface> results[] = {a.plus(b), a.minus(b), a.times(b), a.divided_by(b)};
        for (int k = 0; k < 4; ++k)
            EXPECT_EQ(error_text(results[k]), std::string("geometry mismatch: Surface::") + ops[k] +
                                                  ": operands have differing geometry \u2014 resample first");
    }
    EXPECT_TRUE(a.plus(make_surface(neg_zero, Grid2(2, 2, 1.0))));
    EXPECT_TRUE(a.plus(a));
    // A NaN field makes a geometry unequal even to itself.
    Surface n = make_surface(geo(0, 0, 1, 1, 2, 2, kNaN), Grid2(2, 2, 1.0));
    EXPECT_EQ(error_text(n.plus(n)),
              "geometry mismatch: Surface::plus: operands have differing geometry \u2014 resample first");
}

TEST(SurfaceArithmetic, ScalarOperations) {
    const Surface s = decorated();  // values 1, -2, NaN, 4
    const auto base = s.history.entries();
    struct Case {
        const char* entry;
        std::function<Surface(const Surface&)> f;
        std::vector<double> expected;
    };
    const Case cases[] = {
        {"surface.add_scalar(0.1)", [](auto& x) { return x.add_scalar(0.1); }, {1 + 0.1, -2 + 0.1, kNaN, 4 + 0.1}},
        {"surface.add_scalar(1000000000000000000000)", [](auto& x) { return x.add_scalar(1e21); },
         {1 + 1e21, -2 + 1e21, kNaN, 4 + 1e21}},
        {"surface.sub_scalar(-1)", [](auto& x) { return x.sub_scalar(-1.0); }, {2, -1, kNaN, 5}},
        {"surface.mul_scalar(2)", [](auto& x) { return x.mul_scalar(2.0); }, {2, -4, kNaN, 8}},
        {"surface.mul_scalar(-0)", [](auto& x) { return x.mul_scalar(-0.0); }, {-0.0, 0.0, kNaN, -0.0}},
        {"surface.div_scalar(0)", [](auto& x) { return x.div_scalar(0.0); }, {kInf, -kInf, kNaN, kInf}},
        {"surface.div_scalar(inf)", [](auto& x) { return x.div_scalar(kInf); }, {0, -0.0, kNaN, 0}},
        {"surface.mul_scalar(-1)\nsurface.add_scalar(10)", [](auto& x) { return x.rsub_scalar(10.0); },
         {9, 12, kNaN, 6}},
        {"surface.powf_scalar(0)", [](auto& x) { return x.powf_scalar(0.0); }, {1, 1, 1, 1}},
        {"surface.powf_scalar(0.5)", [](auto& x) { return x.powf_scalar(0.5); }, {1, kNaN, kNaN, 2}},
        {"surface.powf_scalar(2)", [](auto& x) { return x.powf_scalar(2.0); }, {1, 4, kNaN, 16}},
        {"surface.powf_scalar(NaN)", [](auto& x) { return x.powf_scalar(kNaN); }, {1, kNaN, kNaN, kNaN}},
        {"surface.ln()", [](auto& x) { return x.ln(); }, {0, kNaN, kNaN, std::log(4.0)}},
        {"surface.log10()", [](auto& x) { return x.log10(); }, {0, kNaN, kNaN, std::log10(4.0)}},
        {"surface.exp()", [](auto& x) { return x.exp(); }, {std::exp(1.0), std::exp(-2.0), kNaN, std::exp(4.0)}},
        {"surface.sqrt()", [](auto& x) { return x.sqrt(); }, {1, kNaN, kNaN, 2}},
        {"surface.abs()", [](auto& x) { return x.abs(); }, {1, 2, kNaN, 4}},
    };
    for (const Case& c : cases) {
        Surface r = c.f(s);
        expect_values(r.values, c.expected, c.entry);
        expect_plain_derived(r, s, c.entry);
        std::vector<std::string> entries = base;
        // A case may append several entries, one per line.
        for (std::string_view rest = c.entry;;) {
            const auto nl = rest.find('\n');
            entries.emplace_back(rest.substr(0, nl));
            if (nl == std::string_view::npos) break;
            rest.remove_prefix(nl + 1);
        }
        EXPECT_EQ(r.history.entries(), entries) << c.entry;
    }
    // The source keeps everything.
    EXPECT_TRUE(s.primary_metadata);
    EXPECT_EQ(s.attributes.size(), 1u);
    EXPECT_EQ(s.history.entries(), base);
}

TEST(SurfaceArithmetic, ElementFunctionEdgeValues) {
    Surface s = make_surface(geo(0, 0, 1, 1, 4, 1), cols({{0}, {-1}, {-0.0}, {-kInf}}));
    expect_values(s.ln().values, {-kInf, kNaN, -kInf, kNaN});
    expect_values(s.log10().values, {-kInf, kNaN, -kInf, kNaN});
    expect_values(s.exp().values, {1, std::exp(-1.0), 1, 0});
    Surface sq = s.sqrt();
    EXPECT_TRUE(std::signbit(sq.values(2, 0)));  // sqrt(-0) = -0
    expect_values(sq.values, {0, kNaN, 0, kNaN});
    Surface ab = s.abs();
    EXPECT_FALSE(std::signbit(ab.values(2, 0)));  // abs(-0) = +0
    expect_values(ab.values, {0, 1, 0, kInf});
    Surface big = make_surface(geo(0, 0, 1, 1, 1, 1), cols({{1000}}));
    expect_values(big.exp().values, {kInf});
}

TEST(SurfaceArithmetic, Clamping) {
    const Surface s = make_surface(geo(0, 0, 1, 1, 5, 1), cols({{-5}, {0.5}, {kNaN}, {3}, {-kInf}}));
    const auto base = s.history.entries();
    struct Case {
        const char* entry;
        std::function<Result<Surface>(const Surface&)> f;
        std::vector<double> expected;
    };
    const Case ok[] = {
        {"surface.clamp(0, 1)", [](auto& x) { return x.clamp(0, 1); }, {0, 0.5, kNaN, 1, 0}},
        {"surface.clamp(1, 1)", [](auto& x) { return x.clamp(1, 1); }, {1, 1, kNaN, 1, 1}},
        {"surface.clamp(-inf, inf)", [](auto& x) { return x.clamp(-kInf, kInf); }, {-5, 0.5, kNaN, 3, -kInf}},
        {"surface.clamp_min_scalar(0)", [](auto& x) { return x.clamp_min_scalar(0); }, {0, 0.5, kNaN, 3, 0}},
        {"surface.clamp_min_scalar(-inf)", [](auto& x) { return x.clamp_min_scalar(-kInf); },
         {-5, 0.5, kNaN, 3, -kInf}},
    };
    for (const Case& c : ok) {
        auto r = c.f(s);
        ASSERT_TRUE(r) << c.entry << ": " << error_text(r);
        expect_values(r->values, c.expected, c.entry);
        EXPECT_EQ(r->history.entries(), with(base, {c.entry}));
    }
    struct Bad {
        std::function<Result<Surface>(const Surface&)> f;
        const char* text;
    };
    const Bad bad[] = {
        {[](auto& x) { return x.clamp(2, 1); }, "min = 2.0, max = 1.0"},
        {[](auto& x) { return x.clamp(kNaN, 1); }, "min = NaN, max = 1.0"},
        {[](auto& x) { return x.clamp(0, kNaN); }, "min = 0.0, max = NaN"},
        {[](auto& x) { return x.clamp(1e16, -2.5e-5); }, "min = 1e16, max = -2.5e-5"},
        {[](auto& x) { return x.clamp_min_scalar(kNaN); }, "min = NaN, max = inf"},
    };
    for (const Bad& b : bad)
        EXPECT_EQ(error_text(b.f(s)), std::string("out of range: min > max, or either was NaN. ") + b.text);
    // A grid without nodes never compares the bounds.
    Surface empty = make_surface(geo(0, 0, 1, 1, 0, 4), Grid2(0, 4));
    auto e = empty.clamp(2, 1);
    ASSERT_TRUE(e);
    EXPECT_EQ(e->values.size(), 0u);
    EXPECT_EQ(e->history.entries(), (std::vector<std::string>{"surface.new", "surface.clamp(2, 1)"}));
    auto em = empty.clamp_min_scalar(kNaN);
    ASSERT_TRUE(em);
    EXPECT_EQ(em->history.entries(), (std::vector<std::string>{"surface.new", "surface.clamp_min_scalar(NaN)"}));
}

TEST(SurfaceArithmetic, ThicknessBaseMinusTop) {
    const GridGeometry g = geo(0, 0, 10, 10, 2, 2);
    Surface top = make_surface(g, cols({{100, 200}, {kNaN, 150}})).add_scalar(0);
    Surface base = make_surface(g, cols({{130, 190}, {120, kNaN}}));
    struct Case {
        bool clamp;
        std::vector<double> values;
        std::vector<std::string> tail;
    };
    const Case cases[] = {
        {true, {30, 0, kNaN, kNaN},
         {"surface.minus(surface)", "surface.clamp_min_scalar(0)", "surface.thickness(clamp_zero=true)"}},
        {false, {30, -10, kNaN, kNaN}, {"surface.minus(surface)", "surface.thickness(clamp_zero=false)"}},
    };
    for (const Case& c : cases) {
        auto t = top.thickness(base, c.clamp);
        ASSERT_TRUE(t);
        expect_values(t->values, c.values);
        EXPECT_EQ(t->geom, base.geom);
        std::vector<std::string> want{"surface.new", "rhs.surface.new", "rhs.surface.add_scalar(0)"};
        want.insert(want.end(), c.tail.begin(), c.tail.end());
        EXPECT_EQ(t->history.entries(), want);
    }
    Surface other = make_surface(geo(0, 0, 10, 10, 2, 2, 0, true), Grid2(2, 2, 0.0));
    EXPECT_EQ(error_text(top.thickness(other, true)),
              "geometry mismatch: Surface::minus: operands have differing geometry \u2014 resample first");
}

}  // namespace
}  // namespace vz
