// The lattice resampling kernel: source checks, snapping, nearest and
// renormalised bilinear modes, rotated and flipped lattices.

#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "core/grid_geometry.hpp"
#include "gridding/resample.hpp"
#include "surface_test_util.hpp"

namespace vz {
namespace {

using testutil::cols;
using testutil::expect_values;
using testutil::from_fn;
using testutil::geo;
using testutil::kInf;
using testutil::kNaN;
using testutil::same_value;

ToolsResult<std::vector<double>> run(const Grid2& v, const GridGeometry& src, const GridGeometry& dst, bool nearest) {
    return gridding::resample(v.values(), v.ncol(), v.nrow(), src.lattice(), dst.lattice(), nearest);
}

std::string err(const ToolsResult<std::vector<double>>& r) { return r ? std::string() : r.error().display(); }

TEST(Resample, SourceChecksInOrder) {
    const std::string degenerate =
        "invalid geometry: resample: degenerate source geometry (empty grid or zero node spacing)";
    const GridGeometry dst = geo(0, 0, 1, 1, 2, 2);
    struct Case {
        const char* what;
        Grid2 values;
        GridGeometry src;
        std::string expected;
    };
    const Case cases[] = {
        {"transposed shape", Grid2(3, 4, 1.0), geo(0, 0, 1, 1, 4, 3),
         "invalid argument: resample: src_grid shape (3, 4) does not match src_georef (4, 3)"},
        {"shape before degenerate", Grid2(3, 4, 1.0), geo(0, 0, 0, 1, 0, 3),
         "invalid argument: resample: src_grid shape (3, 4) does not match src_georef (0, 3)"},
        {"xinc 0", Grid2(2, 2, 1.0), geo(0, 0, 0, 1, 2, 2), degenerate},
        {"yinc -0", Grid2(2, 2, 1.0), geo(0, 0, 1, -0.0, 2, 2), degenerate},
        {"no columns", Grid2(0, 2), geo(0, 0, 1, 1, 0, 2), degenerate},
        {"no rows", Grid2(2, 0), geo(0, 0, 1, 1, 2, 0), degenerate},
    };
    for (const Case& c : cases) EXPECT_EQ(err(run(c.values, c.src, dst, false)), c.expected) << c.what;
    // Even with no target node the source is checked.
    EXPECT_EQ(err(run(Grid2(2, 2, 1.0), geo(0, 0, 0, 1, 2, 2), geo(0, 0, 1, 1, 0, 0), true)), degenerate);
    // An oversized target is refused before allocating.
    EXPECT_EQ(err(run(Grid2(2, 2, 1.0), geo(0, 0, 1, 1, 2, 2), geo(0, 0, 1, 1, std::uint64_t{1} << 33, 1 << 20), true)),
              "invalid argument: resample: target grid (ncol=8589934592, nrow=1048576) is too large");
}

TEST(Resample, NonFiniteSourceFieldsGiveAllNaN) {
    const Grid2 v = cols({{1, 2}, {3, 4}});
    for (const GridGeometry& src : {geo(kNaN, 0, 1, 1, 2, 2), geo(0, kInf, 1, 1, 2, 2), geo(0, 0, kNaN, 1, 2, 2),
                                    geo(0, 0, 1, -kInf, 2, 2), geo(0, 0, 1, 1, 2, 2, kNaN)}) {
        for (bool nearest : {false, true}) {
            auto r = run(v, src, geo(0, 0, 1, 1, 2, 2), nearest);
            ASSERT_TRUE(r);
            expect_values(Grid2(2, 2, *r), std::vector<double>(4, kNaN));
        }
    }
    // Non-finite target positions leave those nodes NaN.
    auto r = run(v, geo(0, 0, 1, 1, 2, 2), geo(kNaN, 0, 1, 1, 2, 2), false);
    ASSERT_TRUE(r);
    expect_values(Grid2(2, 2, *r), std::vector<double>(4, kNaN));
}

TEST(Resample, OwnGeometryReproducesEveryNode) {
    const Grid2 v = cols({{1.25, kNaN, -3, 7}, {kInf, 2, 0.5, -kInf}, {4, 5, kNaN, 1e300}});
    for (const GridGeometry& g : {geo(0, 0, 1, 1, 3, 4), geo(1000.5, -20.25, 12.5, 7.25, 3, 4, 33.3, true),
                                  geo(-5, 5, -2, 3, 3, 4, 270, false), geo(1e6, 7e6, 25, 25, 3, 4, -119, true)}) {
        auto nearest = run(v, g, g, true);
        auto bilinear = run(v, g, g, false);
        ASSERT_TRUE(nearest && bilinear);
        expect_values(Grid2(3, 4, *nearest), v.data(), "nearest");
        std::vector<double> want = v.data();
        for (double& w : want)
            if (std::isinf(w)) w = kNaN;  // bilinear drops non-finite corners
        expect_values(Grid2(3, 4, *bilinear), want, "bilinear");
    }
}

TEST(Resample, HalfWayAndRenormalisedBilinear) {
    const GridGeometry src = geo(0, 0, 1, 1, 2, 2);
    // Corners (0,0)=0, (1,0)=4, (0,1)=8, (1,1)=NaN.
    const Grid2 v = cols({{0, 8}, {4, kNaN}});
    struct Case {
        double x, y;
        double bilinear, nearest;
    };
    const Case cases[] = {
        {0.5, 0.0, 2.0, 4.0},                          // half-way: nearest rounds away from zero
        {0.0, 0.5, 4.0, 8.0},
        {0.25, 0.25, (0.1875 * 4 + 0.1875 * 8) / 0.9375, 0.0},  // NaN corner left out, weights renormalised
        {0.75, 0.75, kNaN, kNaN},                      // nearest node undefined
        {0.5, 0.5, kNaN, kNaN},                        // rounds to (1,1)
        {0.49, 0.49, (0.51 * 0.51 * 0 + 0.49 * 0.51 * 4 + 0.51 * 0.49 * 8) / (1 - 0.49 * 0.49), 0.0},
        {1.0, 0.0, 4.0, 4.0},                          // last column is inside
        {1.0 + 2e-9, 0.0, kNaN, kNaN},                 // outside by more than the snap
        {-2e-9, 0.0, kNaN, kNaN},
        {1.0 + 5e-10, 0.0, 4.0, 4.0},                  // within the snap
        {-5e-10, 1.0, 8.0, 8.0},
    };
    for (const Case& c : cases) {
        const GridGeometry dst = geo(c.x, c.y, 1, 1, 1, 1);
        auto b = run(v, src, dst, false);
        auto n = run(v, src, dst, true);
        ASSERT_TRUE(b && n);
        EXPECT_TRUE(std::isnan(c.bilinear) ? std::isnan((*b)[0]) : std::fabs((*b)[0] - c.bilinear) < 1e-12)
            << "bilinear at " << c.x << "," << c.y << ": " << (*b)[0];
        EXPECT_TRUE(same_value((*n)[0], c.nearest)) << "nearest at " << c.x << "," << c.y << ": " << (*n)[0];
    }
}

TEST(Resample, RotatedAndFlippedLatticesFollowWorldPositions) {
    // A plane z = 2x - 3y + 5 sampled at the source nodes; bilinear
    // interpolation of a plane is exact, so every target node inside the
    // source must carry the plane's value at its own world position.
    auto plane = [](double x, double y) { return 2 * x - 3 * y + 5; };
    struct Case {
        GridGeometry src, dst;
    };
    const Case cases[] = {
        {geo(100, 50, 10, 5, 8, 9, 30, true), geo(90, 40, 3, 4, 20, 15, -10, false)},
        {geo(0, 0, 2, 2, 6, 6, 0, false), geo(1, 1, 1.5, 1.5, 8, 8, 45, true)},
        {geo(10, 10, -2, 3, 7, 5, 200, false), geo(-5, 0, 1, 1, 25, 25, 90, true)},
    };
    for (const Case& c : cases) {
        const Grid2 v = from_fn(c.src.ncol, c.src.nrow, [&](auto i, auto j) {
            auto [x, y] = c.src.node_xy(i, j);
            return plane(x, y);
        });
        auto b = run(v, c.src, c.dst, false);
        auto n = run(v, c.src, c.dst, true);
        ASSERT_TRUE(b && n);
        const Grid2 bil(c.dst.ncol, c.dst.nrow, *b), near(c.dst.ncol, c.dst.nrow, *n);
        std::size_t inside = 0;
        for (std::uint64_t i = 0; i < c.dst.ncol; ++i) {
            for (std::uint64_t j = 0; j < c.dst.nrow; ++j) {
                auto [x, y] = c.dst.node_xy(i, j);
                auto fij = c.src.xy_to_ij(x, y);
                ASSERT_TRUE(fij);
                auto [fi, fj] = *fij;
                const double lim_i = static_cast<double>(c.src.ncol - 1), lim_j = static_cast<double>(c.src.nrow - 1);
                const bool in = fi > 1e-6 && fi < lim_i - 1e-6 && fj > 1e-6 && fj < lim_j - 1e-6;
                const bool out = fi < -1e-6 || fi > lim_i + 1e-6 || fj < -1e-6 || fj > lim_j + 1e-6;
                if (in) {
                    ++inside;
                    EXPECT_NEAR(bil(i, j), plane(x, y), 1e-9) << i << "," << j;
                    const auto ni = static_cast<std::uint64_t>(std::round(fi)),
                               nj = static_cast<std::uint64_t>(std::round(fj));
                    EXPECT_EQ(near(i, j), v(ni, nj)) << i << "," << j;
                } else if (out) {
                    EXPECT_TRUE(std::isnan(bil(i, j)) && std::isnan(near(i, j))) << i << "," << j;
                }
            }
        }
        EXPECT_GT(inside, 10u);  // the fixture really overlaps
    }
}

TEST(Resample, EmptyTargetAndShapeOfResult) {
    const Grid2 v = cols({{1, 2}, {3, 4}});
    for (const GridGeometry& dst : {geo(0, 0, 1, 1, 0, 3), geo(0, 0, 1, 1, 3, 0)}) {
        auto r = run(v, geo(0, 0, 1, 1, 2, 2), dst, false);
        ASSERT_TRUE(r);
        EXPECT_TRUE(r->empty());
    }
    // Result layout is [i * nrow + j] of the target: a 3 x 1 target along x.
    auto r = run(v, geo(0, 0, 1, 1, 2, 2), geo(0, 1, 0.5, 1, 3, 1), false);
    ASSERT_TRUE(r);
    expect_values(Grid2(3, 1, *r), {2, 3, 4});
}

}  // namespace
}  // namespace vz
