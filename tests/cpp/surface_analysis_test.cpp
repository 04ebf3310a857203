// Surface analysis: areas, hypsometry, volume, statistics, dip and smoothing.

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <string>
#include <vector>

#include "core/surface.hpp"
#include "core/surface_ops.hpp"
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

constexpr double kDeg = 57.29577951308232;

Surface make_surface(const GridGeometry& g, Grid2 v) {
    auto s = Surface::make(g, std::move(v));
    EXPECT_TRUE(s) << error_text(s);
    return *s;
}

TEST(SurfaceAnalysis, AreasAboveAndBelow) {
    // 3 x 2 lattice, cell area 2 * 5 = 10.
    const Surface s = make_surface(geo(0, 0, 2, 5, 3, 2), cols({{1, 2}, {kNaN, 4}, {5, 6}}));
    struct Case {
        double depth, above, below;
    };
    const Case cases[] = {
        {4.0, 30.0, 30.0},  // the node at 4 counts for both
        {2.0, 40.0, 20.0},
        {-kInf, 50.0, 0.0},
        {kInf, 0.0, 50.0},
        {kNaN, 0.0, 0.0},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(s.area_above(c.depth), c.above) << c.depth;
        EXPECT_EQ(s.area_below(c.depth), c.below) << c.depth;
    }
    const Surface all_nan = make_surface(geo(0, 0, 2, 5, 2, 2), Grid2(2, 2, kNaN));
    EXPECT_EQ(all_nan.area_above(0), 0.0);
    // A negative increment gives a negative area: the product is taken as stored.
    const Surface neg = make_surface(geo(0, 0, -2, 5, 2, 1), cols({{1}, {2}}));
    EXPECT_EQ(neg.area_above(0), -20.0);
    // Infinite values are ordinary values.
    const Surface inf = make_surface(geo(0, 0, 1, 1, 2, 1), cols({{kInf}, {-kInf}}));
    EXPECT_EQ(inf.area_above(1e308), 1.0);
    EXPECT_EQ(inf.area_below(-1e308), 1.0);
}

TEST(SurfaceAnalysis, Hypsometry) {
    const Surface s = make_surface(geo(0, 0, 2, 5, 2, 2), cols({{3, kNaN}, {1, 1}}));
    const auto h = s.hypsometry();
    const std::vector<std::pair<double, double>> want{{1, 10}, {1, 20}, {3, 30}};
    EXPECT_EQ(h, want);
    // Total order puts -0 before +0 and keeps infinities.
    const Surface z = make_surface(geo(0, 0, 1, 1, 4, 1), cols({{0.0}, {-0.0}, {kInf}, {-kInf}}));
    const auto hz = z.hypsometry();
    ASSERT_EQ(hz.size(), 4u);
    EXPECT_EQ(hz[0].first, -kInf);
    EXPECT_TRUE(std::signbit(hz[1].first));
    EXPECT_FALSE(std::signbit(hz[2].first));
    EXPECT_EQ(hz[3].first, kInf);
    EXPECT_EQ(hz[3].second, 4.0);
    EXPECT_TRUE(make_surface(geo(0, 0, 1, 1, 2, 1), Grid2(2, 1, kNaN)).hypsometry().empty());
}

TEST(SurfaceAnalysis, VolumeBetween) {
    const GridGeometry g = geo(0, 0, 2, 3, 2, 2);
    const Surface top = make_surface(g, cols({{10, 20}, {kNaN, 5}}));
    const Surface base = make_surface(g, cols({{12, 15}, {1, kNaN}}));
    // |10-12| * 6 + |20-15| * 6
    auto v = top.volume_between(base);
    ASSERT_TRUE(v);
    EXPECT_EQ(*v, 42.0);
    EXPECT_EQ(*base.volume_between(top), 42.0);
    EXPECT_EQ(*top.volume_between(top), 0.0);
    // No node defined in both: a negative zero.
    const Surface other = make_surface(g, cols({{kNaN, kNaN}, {3, kNaN}}));
    auto none = top.volume_between(other);
    ASSERT_TRUE(none);
    EXPECT_EQ(*none, 0.0);
    EXPECT_TRUE(std::signbit(*none));
    GridGeometry flipped = g;
    flipped.yflip = true;
    EXPECT_EQ(error_text(top.volume_between(make_surface(flipped, Grid2(2, 2, 0.0)))),
              "geometry mismatch: Surface::volume_between: operands have differing geometry \u2014 resample first");
}

TEST(SurfaceAnalysis, StatsDropNaNKeepInfinity) {
    const Surface s = make_surface(geo(0, 0, 1, 1, 2, 2), cols({{1, kNaN}, {3, 5}}));
    const Stats st = s.stats();
    EXPECT_EQ(st.count, 3u);
    EXPECT_EQ(st.mean, 3.0);
    EXPECT_EQ(st.min, 1.0);
    EXPECT_EQ(st.max, 5.0);
    const Stats si = make_surface(geo(0, 0, 1, 1, 2, 1), cols({{1}, {kInf}})).stats();
    EXPECT_EQ(si.count, 2u);
    EXPECT_EQ(si.max, kInf);
    // Collectors keep lattice order.
    const Grid2 lane = cols({{1, kNaN}, {3, 5}});
    expect_values(Grid2(4, 1, surface_ops::lane_values(lane)), {1, kNaN, 3, 5});
    EXPECT_EQ(surface_ops::non_nan_values(lane), (std::vector<double>{1, 3, 5}));
}

TEST(SurfaceAnalysis, DipOfPlanesOnAnyLattice) {
    // z = a x + b y in world coordinates, sampled at the nodes of rotated and
    // flipped lattices: dip = atan(hypot(a, b)), azimuth = direction of
    // steepest descent clockwise from north.
    struct Case {
        double a, b;
        GridGeometry g;
    };
    const Case cases[] = {
        {0.5, 0.0, geo(0, 0, 1, 1, 5, 4)},
        {0.5, 0.0, geo(0, 0, 1, 1, 5, 4, 90)},
        {0.3, -0.4, geo(1000, 2000, 25, 12.5, 6, 7, 30, true)},
        {-1.0, 2.0, geo(-50, 10, 3, 4, 4, 5, -135, false)},
        {0.0, 0.1, geo(0, 0, 2, 2, 3, 3, 200, true)},
    };
    for (const Case& c : cases) {
        const Surface s = make_surface(c.g, from_fn(c.g.ncol, c.g.nrow, [&](auto i, auto j) {
                                           auto [x, y] = c.g.node_xy(i, j);
                                           return c.a * x + c.b * y;
                                       }));
        double want_az = std::atan2(-c.a, -c.b) * kDeg;
        if (want_az < 0) want_az += 360;
        const double want_dip = std::atan(std::hypot(c.a, c.b)) * kDeg;
        const Surface dip = s.dip_angle();
        const Surface az = s.dip_azimuth();
        for (double d : dip.values.values()) EXPECT_NEAR(d, want_dip, 1e-9) << c.a << "," << c.b;
        for (double z : az.values.values()) EXPECT_NEAR(z, want_az, 1e-7) << c.a << "," << c.b;
        EXPECT_EQ(dip.history.entries(), (std::vector<std::string>{"surface.new", "surface.dip_angle()"}));
        EXPECT_EQ(az.history.entries(), (std::vector<std::string>{"surface.new", "surface.dip_azimuth()"}));
        EXPECT_EQ(dip.geom, c.g);
    }
}

TEST(SurfaceAnalysis, DipKnownAnswersAndDegenerateLattices) {
    // 0.5 * i: dip atan(0.5), descent towards -x.
    const Surface ramp = make_surface(geo(0, 0, 1, 1, 3, 3), from_fn(3, 3, [](auto i, auto) { return 0.5 * i; }));
    const auto [ramp_dip, ramp_az] = ramp.dip_surfaces();
    for (double d : ramp_dip.values.values()) EXPECT_DOUBLE_EQ(d, std::atan(0.5) * kDeg);
    for (double a : ramp_az.values.values()) EXPECT_DOUBLE_EQ(a, 270.0);
    Surface turned = ramp;
    turned.geom.rotation_deg = 90;
    const Surface turned_az = turned.dip_azimuth();
    for (double a : turned_az.values.values()) EXPECT_NEAR(a, 180.0, 1e-12);

    // Values equal to the row index: azimuth 180, and with yflip a negative zero.
    const auto rows = from_fn(2, 3, [](auto, auto j) { return double(j); });
    const Surface up = make_surface(geo(0, 0, 1, 1, 2, 3), rows).dip_azimuth();
    for (double a : up.values.values()) EXPECT_EQ(a, 180.0);
    const Surface up_flipped = make_surface(geo(0, 0, 1, 1, 2, 3, 0, true), rows).dip_azimuth();
    for (double a : up_flipped.values.values()) {
        EXPECT_EQ(a, 0.0);
        EXPECT_TRUE(std::signbit(a));
    }

    // Flat: dip 0, azimuth NaN.
    const Surface flat = make_surface(geo(0, 0, 1, 1, 3, 3), Grid2(3, 3, 7.0));
    expect_values(flat.dip_angle().values, std::vector<double>(9, 0.0));
    expect_values(flat.dip_azimuth().values, std::vector<double>(9, kNaN));

    // Single row or column, zero or non-finite increments: NaN everywhere.
    for (const GridGeometry& g : {geo(0, 0, 1, 1, 4, 1), geo(0, 0, 1, 1, 1, 4), geo(0, 0, 0, 1, 2, 2),
                                  geo(0, 0, 1, 0, 2, 2), geo(0, 0, kInf, 1, 2, 2), geo(0, 0, 1, kNaN, 2, 2)}) {
        const Surface s = make_surface(g, from_fn(g.ncol, g.nrow, [](auto i, auto j) { return double(i + 2 * j); }));
        auto [d, a] = s.dip_surfaces();
        expect_values(d.values, std::vector<double>(g.ncol * g.nrow, kNaN));
        expect_values(a.values, std::vector<double>(g.ncol * g.nrow, kNaN));
    }

    // One-sided differences next to undefined nodes; an isolated node is NaN.
    //   column 0: NaN  NaN  NaN
    //   column 1: 2    4    NaN
    //   column 2: 5    NaN  NaN
    const Surface holes = make_surface(geo(0, 0, 1, 1, 3, 3), cols({{kNaN, kNaN, kNaN}, {2, 4, kNaN}, {5, kNaN, 9}}));
    const Grid2 dip = holes.dip_angle().values;
    // (1,0): left NaN -> gi = 5 - 2; up only -> gj = 4 - 2.
    EXPECT_DOUBLE_EQ(dip(1, 0), std::atan(std::hypot(3.0, 2.0)) * kDeg);
    // (1,1): left NaN, right NaN -> no column derivative.
    EXPECT_TRUE(std::isnan(dip(1, 1)));
    // (2,0): left only -> gi = 5 - 2; up NaN, down absent -> skipped.
    EXPECT_TRUE(std::isnan(dip(2, 0)));
    // (2,2): isolated.
    EXPECT_TRUE(std::isnan(dip(2, 2)));
    EXPECT_TRUE(std::isnan(dip(0, 0)));
}

TEST(SurfaceAnalysis, Smoothing) {
    // 3 x 3 with an undefined centre.
    const Grid2 v = cols({{1, 2, 3}, {4, kNaN, 6}, {7, 8, 9}});
    const Surface s = make_surface(geo(0, 0, 1, 1, 3, 3), v);
    const Surface r0 = s.smooth(0);
    expect_values(r0.values, v.data());
    EXPECT_EQ(r0.history.entries(), (std::vector<std::string>{"surface.new", "surface.smooth(radius=0)"}));
    const Surface r1 = s.smooth(1);
    EXPECT_EQ(r1.history.entries().back(), "surface.smooth(radius=1)");
    expect_values(r1.values, {(1 + 2 + 4) / 3.0, (1 + 2 + 3 + 4 + 6) / 5.0, (2 + 3 + 6) / 3.0,
                              (1 + 2 + 4 + 7 + 8) / 5.0, kNaN, (2 + 3 + 6 + 8 + 9) / 5.0, (4 + 7 + 8) / 3.0,
                              (4 + 6 + 7 + 8 + 9) / 5.0, (6 + 8 + 9) / 3.0});
    // A radius beyond the lattice (even the largest one) averages everything defined.
    const double all = (1 + 2 + 3 + 4 + 6 + 7 + 8 + 9) / 8.0;
    for (std::uint64_t radius : {std::uint64_t{5}, ~std::uint64_t{0}}) {
        const Surface big = s.smooth(radius);
        expect_values(big.values, {all, all, all, all, kNaN, all, all, all, all});
        EXPECT_EQ(big.history.entries().back(), "surface.smooth(radius=" + std::to_string(radius) + ")");
    }
    // +inf and -inf in one window: the node keeps its own value; an infinity
    // alone dominates its windows.
    const Surface inf = make_surface(geo(0, 0, 1, 1, 4, 1), cols({{kInf}, {1}, {-kInf}, {2}}));
    expect_values(inf.smooth(1).values, {kInf, 1, -kInf, -kInf});
    // Derived surface: no lanes, no metadata.
    Surface dec = s;
    ASSERT_TRUE(dec.set_attr("x", Grid2(3, 3, 1.0)));
    const Surface d = dec.smooth(1);
    EXPECT_TRUE(d.attributes.empty());
    EXPECT_FALSE(d.primary_metadata);
    EXPECT_EQ(d.geom, s.geom);
}


/// The smoothing rule written out node by node: the window's non-NaN values
/// summed rows ascending (outer), columns ascending (inner).
Grid2 reference_smooth(const Grid2& v, std::size_t r) {
    Grid2 out(v.ncol(), v.nrow(), kNaN);
    for (std::size_t i = 0; i < v.ncol(); ++i) {
        for (std::size_t j = 0; j < v.nrow(); ++j) {
            if (std::isnan(v(i, j))) continue;
            double sum = 0.0;
            double count = 0.0;
            for (std::size_t jj = (j >= r ? j - r : 0); jj <= std::min(v.nrow() - 1, j + r); ++jj)
                for (std::size_t ii = (i >= r ? i - r : 0); ii <= std::min(v.ncol() - 1, i + r); ++ii)
                    if (!std::isnan(v(ii, jj))) {
                        sum += v(ii, jj);
                        count += 1;
                    }
            const double mean = sum / count;
            out(i, j) = std::isnan(mean) ? v(i, j) : mean;
        }
    }
    return out;
}

TEST(SurfaceAnalysis, SmoothingSumsInTheStatedOrder) {
    // Magnitudes far apart make the floating-point sum depend on its order.
    const double pool[] = {1e16, 1.0, -1e16, 3.25, kNaN, 0.1, -7.5, 2e15, kNaN, 1e-3, -0.0, 5e15};
    std::size_t k = 0;
    const Grid2 v = from_fn(13, 11, [&](auto, auto) { return pool[(k++ * 7) % 12]; });
    const Surface s = make_surface(geo(0, 0, 1, 1, 13, 11), v);
    for (std::size_t r : {0, 1, 2, 3, 6, 20}) {
        const Grid2 got = s.smooth(r).values;
        const Grid2 want = reference_smooth(v, r);
        for (std::size_t n = 0; n < want.size(); ++n) {
            const double a = got.values()[n], b = want.values()[n];
            EXPECT_TRUE((std::isnan(a) && std::isnan(b)) || std::memcmp(&a, &b, sizeof a) == 0)
                << "radius " << r << " node " << n << ": " << a << " vs " << b;
        }
    }
    // Lattices thinner than the window in either direction.
    for (auto [nc, nr] : {std::pair<std::size_t, std::size_t>{1, 9}, {9, 1}, {2, 3}}) {
        const Grid2 thin = from_fn(nc, nr, [&](auto i, auto j) { return pool[(i * 5 + j * 3) % 12]; });
        const Grid2 got = make_surface(geo(0, 0, 1, 1, nc, nr), thin).smooth(2).values;
        const Grid2 want = reference_smooth(thin, 2);
        for (std::size_t n = 0; n < want.size(); ++n) {
            const double a = got.values()[n], b = want.values()[n];
            EXPECT_TRUE((std::isnan(a) && std::isnan(b)) || std::memcmp(&a, &b, sizeof a) == 0)
                << nc << "x" << nr << " node " << n;
        }
    }
}

TEST(SurfaceAnalysis, ExtrapolateFillsOnlyUndefinedNodes) {
    struct Case {
        const char* what;
        GriddingMethod method;
        GridGeometry g;
        Grid2 values;
        std::vector<double> expected;
    };
    const Case cases[] = {
        {"nearest along a row", GriddingMethod::Nearest, geo(0, 0, 1, 1, 5, 1), cols({{1}, {kNaN}, {kNaN}, {5}, {kNaN}}),
         {1, 1, 5, 5, 5}},
        // Infinite nodes keep their values and are not used as samples.
        {"infinite nodes are not samples", GriddingMethod::Nearest, geo(0, 0, 1, 1, 3, 1), cols({{kInf}, {kNaN}, {3}}),
         {kInf, 3, 3}},
        // Anisotropic spacing on a rotated, flipped lattice: (1,1) is one
        // xinc from (0,1) but ten xinc from (1,0).
        {"world distances", GriddingMethod::Nearest, geo(7, -3, 1, 10, 2, 2, 40, true), cols({{4, 8}, {6, kNaN}}),
         {4, 8, 6, 8}},
        {"inverse distance midpoint", GriddingMethod::InverseDistance, geo(0, 0, 2, 2, 3, 1), cols({{2}, {kNaN}, {4}}),
         {2, 3, 4}},
    };
    for (const Case& c : cases) {
        Surface s = make_surface(c.g, c.values);
        ASSERT_TRUE(s.set_attr("lane", Grid2(c.g.ncol, c.g.nrow, 1.0)));
        auto r = s.extrapolate(c.method);
        ASSERT_TRUE(r) << c.what << ": " << error_text(r);
        expect_values(r->values, c.expected, c.what);
        EXPECT_EQ(r->geom, c.g);
        EXPECT_TRUE(r->attributes.empty());
        EXPECT_EQ(r->history.entries().back(),
                  std::string("surface.extrapolate(method=") + gridding_method_name(c.method) + ")");
        EXPECT_EQ(r->history.size(), s.history.size() + 1);
    }
}

TEST(SurfaceAnalysis, ExtrapolateMinimumCurvatureRestoresAPlane) {
    const GridGeometry g = geo(100, 200, 10, 10, 9, 9, 25);
    auto plane = [&](std::size_t i, std::size_t j) { return 3.0 + 0.5 * double(i) - 0.25 * double(j); };
    Grid2 holed = from_fn(9, 9, plane);
    for (std::size_t i = 3; i <= 5; ++i)
        for (std::size_t j = 3; j <= 5; ++j) holed(i, j) = kNaN;
    auto r = make_surface(g, holed).extrapolate(GriddingMethod::MinimumCurvature);
    ASSERT_TRUE(r) << error_text(r);
    for (std::size_t i = 0; i < 9; ++i) {
        for (std::size_t j = 0; j < 9; ++j) {
            if (std::isnan(holed(i, j)))
                EXPECT_NEAR(r->values(i, j), plane(i, j), 1e-3) << i << "," << j;
            else
                EXPECT_EQ(r->values(i, j), holed(i, j)) << i << "," << j;  // defined nodes untouched
        }
    }
}

TEST(SurfaceAnalysis, ExtrapolateWithoutGriddingOrSamples) {
    // No NaN node: a copy, even when no node is finite (the gridding never runs).
    const Surface full = make_surface(geo(0, 0, 1, 1, 2, 1), cols({{kInf}, {-kInf}}));
    auto copy = full.extrapolate(GriddingMethod::MinimumCurvature);
    ASSERT_TRUE(copy) << error_text(copy);
    expect_values(copy->values, {kInf, -kInf});
    EXPECT_EQ(copy->history.entries(),
              (std::vector<std::string>{"surface.new", "surface.extrapolate(method=MinimumCurvature)"}));
    // NaN nodes and nothing finite to grid from.
    for (GriddingMethod m : {GriddingMethod::Nearest, GriddingMethod::InverseDistance, GriddingMethod::MinimumCurvature}) {
        const Surface holes = make_surface(geo(0, 0, 1, 1, 3, 1), cols({{kInf}, {kNaN}, {-kInf}}));
        EXPECT_EQ(error_text(holes.extrapolate(m)),
                  "out of range: surface.extrapolate requires at least one finite source node");
        const Surface empty_nan = make_surface(geo(0, 0, 1, 1, 2, 2), Grid2(2, 2, kNaN));
        EXPECT_EQ(error_text(empty_nan.extrapolate(m)),
                  "out of range: surface.extrapolate requires at least one finite source node");
    }
    // A lattice without nodes has no NaN node: copied.
    auto none = make_surface(geo(0, 0, 1, 1, 0, 3), Grid2(0, 3)).extrapolate(GriddingMethod::Nearest);
    ASSERT_TRUE(none);
    EXPECT_EQ(none->values.size(), 0u);
}

}  // namespace
}  // namespace vz
