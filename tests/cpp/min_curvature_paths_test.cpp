// Minimum curvature by every solve path: the band factors, GMRES refined on
// the band factors of the shifted system, and GMRES with multigrid. Whatever
// the memory budget, one problem gives one surface.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <limits>
#include <utility>
#include <vector>

#include "gridding/bilinear.hpp"
#include "gridding/grid.hpp"
#include "gridding/lattice.hpp"
#include "gridding/mincurv_operator.hpp"
#include "mincurv_test_util.hpp"
#include "thread_count_util.hpp"

namespace vz::gridding {
namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr std::uint64_t kUnlimited = ~std::uint64_t{0};

using Node = std::pair<std::uint64_t, std::uint64_t>;

Lattice unit(std::uint64_t ncol, std::uint64_t nrow) { return {0, 0, 1, 1, ncol, nrow, 0, false}; }

/// Samples on the given nodes of a unit lattice, z a bumpy field.
std::vector<Sample> on_nodes(const std::vector<Node>& nodes) {
    std::vector<Sample> s;
    for (auto [i, j] : nodes) {
        const double x = double(i), y = double(j);
        s.push_back({x, y, 40.0 + 9.0 * std::sin(x / 5.0) * std::cos(y / 4.0) + 0.3 * x - 0.2 * y});
    }
    return s;
}

/// `count` samples spread over the lattice by a low-discrepancy walk, off
/// the nodes.
std::vector<Sample> spread(const Lattice& g, std::size_t count) {
    std::vector<Sample> s;
    for (std::size_t k = 0; k < count; ++k) {
        const double fi = std::fmod(0.7548776662 * double(k) + 0.31, 1.0) * double(g.ncol - 1);
        const double fj = std::fmod(0.5698402910 * double(k) + 0.17, 1.0) * double(g.nrow - 1);
        auto [x, y] = node_xy_f(g, fi, fj);
        s.push_back({x, y, 200.0 + 12.0 * std::sin(fi / 6.0) * std::cos(fj / 5.0) + 0.4 * fi});
    }
    return s;
}

std::vector<std::array<double, 2>> positions_of(const std::vector<Sample>& s) {
    std::vector<std::array<double, 2>> out;
    for (const Sample& p : s)
        if (finite_sample(p)) out.push_back({p[0], p[1]});
    return out;
}

struct Range {
    double lo = HUGE_VAL, hi = -HUGE_VAL;
    double width() const { return hi - lo; }
};
Range range_of(const Array2& a) {
    Range r;
    for (double v : a.values) r.lo = std::min(r.lo, v), r.hi = std::max(r.hi, v);
    return r;
}
double largest_gap(const Array2& a, const Array2& b) {
    double gap = 0.0;
    for (std::size_t k = 0; k < a.values.size(); ++k) gap = std::max(gap, std::fabs(a.values[k] - b.values[k]));
    return gap;
}

// ---------------------------------------------------------------- singular by geometry

TEST(DetermineBilinear, RankOfTheAnchorsRows) {
    // Every layout below on which some non-zero a + b i + c j + d i j
    // vanishes leaves the minimum-curvature system singular.
    struct Case {
        const char* what;
        std::vector<Node> nodes;
        bool determined;
    };
    // Lattice points of the hyperbola (i - 10)(j - 8) = 24.
    std::vector<Node> hyperbola;
    for (std::uint64_t i = 11; i <= 34; ++i)
        if (24 % (i - 10) == 0) hyperbola.emplace_back(i, 8 + 24 / (i - 10));
    std::vector<Node> hyperbola_and_one = hyperbola;
    hyperbola_and_one.emplace_back(20, 20);
    const std::uint64_t big = (std::uint64_t{1} << 31) - 1;
    const Case cases[] = {
        {"three corners", {{0, 0}, {9, 0}, {0, 9}}, false},
        {"four nodes, one repeated", {{0, 0}, {9, 0}, {0, 9}, {9, 0}}, false},
        {"four corners of a square", {{0, 0}, {9, 0}, {0, 9}, {9, 9}}, true},
        {"a row", {{1, 4}, {3, 4}, {8, 4}, {20, 4}, {33, 4}}, false},
        {"a column", {{6, 0}, {6, 7}, {6, 8}, {6, 30}}, false},
        {"the diagonal", {{1, 1}, {2, 2}, {5, 5}, {9, 9}}, false},
        {"a line of slope -2/3", {{3, 20}, {6, 18}, {15, 12}, {24, 6}, {30, 2}}, false},
        {"a column and a row", {{5, 0}, {5, 9}, {5, 30}, {0, 12}, {17, 12}, {40, 12}}, false},
        {"a hyperbola", hyperbola, false},
        {"a hyperbola and one more node", hyperbola_and_one, true},
        {"nearly a line", {{0, 0}, {10, 5}, {20, 10}, {31, 15}}, true},
        {"a line far out", {{big - 3, 0}, {big - 2, 1}, {big - 1, 2}, {big, 3}}, false},
        {"far out, not a line", {{big - 3, 0}, {big - 2, 1}, {big - 1, 2}, {big, 4}}, true},
        {"scattered", {{3, 7}, {12, 1}, {8, 8}, {2, 2}, {15, 13}}, true},
    };
    ASSERT_GE(hyperbola.size(), 6u);
    for (const Case& c : cases) EXPECT_EQ(determine_bilinear(c.nodes), c.determined) << c.what;
}

TEST(FitBilinear, FitsWhatTheNodesDetermine) {
    const auto f = [](double i, double j) { return 3.0 - 0.5 * i + 0.25 * j + 0.125 * i * j; };
    const std::vector<Node> nodes = {{0, 0}, {40, 3}, {7, 33}, {38, 29}, {20, 16}, {1000, 700}};
    std::vector<double> values;
    for (auto [i, j] : nodes) values.push_back(f(double(i), double(j)));
    const Bilinear fit = fit_bilinear(nodes, values, true);
    for (double i : {0.0, 13.0, 500.0, 1000.0})
        for (double j : {0.0, 9.0, 700.0}) EXPECT_NEAR(fit.at(i, j), f(i, j), 1e-9 * (1.0 + std::fabs(f(i, j))));
    // Not asked for, or not determined (nodes on a line): the mean.
    EXPECT_EQ(fit_bilinear(nodes, values, false).at(5.0, 5.0),
              (values[0] + values[1] + values[2] + values[3] + values[4] + values[5]) / 6.0);
    const std::vector<Node> line = {{0, 0}, {1, 1}, {2, 2}, {3, 3}};
    const std::vector<double> four = {1.0, 2.0, 4.0, 9.0};
    EXPECT_EQ(fit_bilinear(line, four, true).at(17.0, 2.0), 4.0);
}

TEST(MinCurvatureOperator, SingularLayoutsSolveTheShiftedSystemOnEveryPath) {
    // Anchors on a line, or on a column and a row, leave the system
    // singular: every path solves the shifted one, never the system itself.
    const std::vector<Node> layouts[] = {
        {{2, 12}, {9, 12}, {17, 12}, {25, 12}, {36, 12}},
        {{3, 3}, {9, 7}, {15, 11}, {21, 15}, {33, 23}},
        {{5, 1}, {5, 20}, {5, 28}, {14, 9}, {30, 9}},
    };
    for (const auto& nodes : layouts) {
        const std::vector<Sample> s = on_nodes(nodes);
        for (std::uint64_t budget : {kUnlimited, std::uint64_t{0}}) {
            auto op = MinCurvatureOperator::factor(unit(40, 30), positions_of(s), budget, BeyondBudget::Iterate);
            ASSERT_TRUE(op.has_value());
            EXPECT_TRUE(op->shifted());
            EXPECT_EQ(op->path(), budget ? SolvePath::Band : SolvePath::Iterative);
        }
    }
    // Four corners pin the system: it is solved as it stands.
    auto op = MinCurvatureOperator::factor(unit(40, 30), positions_of(on_nodes({{0, 0}, {39, 0}, {0, 29}, {39, 29}})));
    ASSERT_TRUE(op.has_value());
    EXPECT_FALSE(op->shifted());
}

// ---------------------------------------------------------------- one surface

TEST(MinCurvature, EveryPathGivesTheBandSurface) {
    // Each problem solved with the band where it fits (an unlimited budget)
    // and iteratively (a budget of 0): the surfaces agree to 1e-6 of their
    // range. The band path named is the one the unlimited budget takes.
    std::vector<Node> row, edges, hyperbola, dense;
    for (std::uint64_t i = 1; i < 40; i += 6) row.emplace_back(i, 11);
    for (std::uint64_t k = 0; k < 30; k += 3) {
        edges.emplace_back(k, 0);
        edges.emplace_back(39 - k, 29);
        edges.emplace_back(0, 29 - k);
        edges.emplace_back(39, k);
    }
    for (std::uint64_t i = 11; i <= 34; ++i)
        if (24 % (i - 10) == 0) hyperbola.emplace_back(i, 2 + 24 / (i - 10));
    for (std::uint64_t i = 0; i < 40; ++i)
        for (std::uint64_t j = 0; j < 30; ++j)
            if ((i * 7 + j * 3) % 5 == 0) dense.emplace_back(i, j);
    std::vector<Sample> with_nan = spread(unit(40, 30), 60);
    for (std::size_t k = 0; k < with_nan.size(); k += 7) with_nan[k][2] = kNaN;
    with_nan.push_back({kNaN, 5, 1});
    const Lattice turned{500, -300, 12.5, 9.0, 37, 29, 33.0, true};
    struct Case {
        const char* what;
        Lattice g;
        std::vector<Sample> samples;
        SolvePath band_path;
        bool shifted;
    };
    const Case cases[] = {
        {"few picks far apart", unit(40, 30), on_nodes({{2, 3}, {37, 1}, {20, 15}, {5, 27}, {35, 26}, {19, 2}}),
         SolvePath::Band, false},
        {"picks on a row", unit(40, 30), on_nodes(row), SolvePath::Band, true},
        {"picks on a hyperbola", unit(40, 30), on_nodes(hyperbola), SolvePath::Band, true},
        {"dense picks", unit(40, 30), on_nodes(dense), SolvePath::Band, false},
        {"picks on the edges and corners", unit(40, 30), on_nodes(edges), SolvePath::Band, false},
        {"NaN z among the picks", unit(40, 30), with_nan, SolvePath::Band, false},
        {"elongated, wide", unit(90, 6), spread(unit(90, 6), 30), SolvePath::Band, false},
        {"elongated, tall", unit(5, 80), spread(unit(5, 80), 25), SolvePath::Band, false},
        {"rotated and flipped", turned, spread(turned, 45), SolvePath::Band, false},
        // The band elimination meets no tiny pivot, yet loses the solution
        // to rounding (its residual shows it, and GMRES on the band factors
        // restores it); then two cases whose elimination meets a tiny pivot
        // although their anchors pin them.
        {"few picks far from three corners", unit(150, 40),
         on_nodes({{117, 18}, {89, 2}, {82, 2}, {125, 2}, {113, 30}}), SolvePath::Band, false},
        {"elongated, five picks", unit(11, 45), on_nodes({{8, 7}, {3, 3}, {5, 19}, {3, 11}, {0, 7}}),
         SolvePath::RefinedBand, false},
        {"elongated, six picks", unit(17, 60), on_nodes({{3, 5}, {1, 12}, {6, 21}, {12, 3}, {15, 15}, {13, 20}}),
         SolvePath::RefinedBand, false},
    };
    for (const Case& c : cases) {
        auto band_op = MinCurvatureOperator::factor(c.g, positions_of(c.samples), kUnlimited, BeyondBudget::Iterate);
        auto iter_op = MinCurvatureOperator::factor(c.g, positions_of(c.samples), 0, BeyondBudget::Iterate);
        ASSERT_TRUE(band_op.has_value() && iter_op.has_value()) << c.what;
        EXPECT_EQ(band_op->path(), c.band_path) << c.what;
        EXPECT_EQ(iter_op->path(), SolvePath::Iterative) << c.what;
        EXPECT_EQ(band_op->shifted(), c.shifted) << c.what;
        EXPECT_EQ(iter_op->shifted(), c.shifted) << c.what;

        const Array2 band = min_curvature(c.samples, c.g, kUnlimited);
        const Array2 iterated = min_curvature(c.samples, c.g, 0);
        for (double v : iterated.values) ASSERT_TRUE(std::isfinite(v)) << c.what;
        const Range r = range_of(band);
        EXPECT_LE(largest_gap(iterated, band), 1e-6 * r.width()) << c.what;
        // Anchors hold their means exactly on both.
        for (auto [i, j] : band_op->anchors()) EXPECT_EQ(iterated(i, j), band(i, j)) << c.what;
    }
}

/// Largest |residual| of the unshifted equations over the free nodes of `a`,
/// neighbours outside the lattice extrapolated linearly.
double largest_residual(const Array2& a, const std::vector<Node>& anchors) {
    const auto nc = static_cast<std::int64_t>(a.ncol), nr = static_cast<std::int64_t>(a.nrow);
    double largest = 0.0;
    for (std::int64_t i = 0; i < nc; ++i)
        for (std::int64_t j = 0; j < nr; ++j) {
            if (std::find(anchors.begin(), anchors.end(), Node(i, j)) != anchors.end()) continue;
            largest = std::max(largest, std::fabs(testing::mincurv_residual(a, i, j)));
        }
    return largest;
}

TEST(MinCurvature, ATinyPivotNeverShiftsASystemItsAnchorsPin) {
    // The band elimination meets a pivot under 1e-10 of the largest
    // diagonal; the surface still satisfies the system itself, where the
    // shifted system would leave residuals of 1e-8 x 16 x |z| (here about
    // 6e-6) at every free node.
    const std::vector<Sample> s = on_nodes({{8, 7}, {3, 3}, {5, 19}, {3, 11}, {0, 7}});
    auto op = MinCurvatureOperator::factor(unit(11, 45), positions_of(s));
    ASSERT_TRUE(op.has_value());
    ASSERT_EQ(op->path(), SolvePath::RefinedBand);
    const Array2 a = min_curvature(s, unit(11, 45));
    EXPECT_LE(largest_residual(a, op->anchors()), 1e-9);
}

TEST(MinCurvature, FourAnchorsGiveTheBilinearFunctionThroughThem) {
    // Four anchors that pin the system leave its solution the bilinear
    // function through them (it satisfies every equation), whichever path
    // runs. The lattice of 400 x 400 nodes with four picks far from the
    // corners is the case whose band elimination used to meet a tiny pivot
    // and return the shifted system's surface (-3.3 ... 80.4 instead of
    // -204.8 ... 152.1); a budget of 0 solves it iteratively. The elongated
    // lattice meets the same pivot on its band path.
    struct Case {
        const char* what;
        Lattice g;
        std::vector<Sample> samples;
        std::uint64_t budget;
        SolvePath path;
    };
    const Case cases[] = {
        {"400 x 400, four picks", {0, 0, 10, 10, 400, 400, 0, false},
         {{365.4, 1440.6, 16.9}, {3227.8, 3406.8, 47.3}, {846.8, 142.6, 80.4}, {3988.9, 2547.5, 33.2}}, 0,
         SolvePath::Iterative},
        {"58 x 7, band", unit(58, 7), {{27, 0, 3}, {12, 2, -1}, {5, 6, 4}, {5, 2, 2}}, kUnlimited,
         SolvePath::RefinedBand},
        {"58 x 7, iterative", unit(58, 7), {{27, 0, 3}, {12, 2, -1}, {5, 6, 4}, {5, 2, 2}}, 0, SolvePath::Iterative},
        {"40 x 30, band", unit(40, 30), {{2, 3, 3}, {37, 1, -1}, {20, 25, 4}, {6, 20, 2}}, kUnlimited,
         SolvePath::Band},
    };
    for (const Case& c : cases) {
        auto op = MinCurvatureOperator::factor(c.g, positions_of(c.samples), c.budget, BeyondBudget::Iterate);
        ASSERT_TRUE(op.has_value()) << c.what;
        ASSERT_EQ(op->anchors().size(), 4u) << c.what;
        EXPECT_EQ(op->path(), c.path) << c.what;
        // The bilinear function through the anchors, by elimination with
        // partial pivoting of the 4 x 4 system.
        double m[4][5];
        for (std::size_t r = 0; r < 4; ++r) {
            const auto [i, j] = *snap_to_node(c.g, c.samples[r][0], c.samples[r][1]);
            const double row[5] = {1.0, double(i), double(j), double(i) * double(j), c.samples[r][2]};
            std::copy(row, row + 5, m[r]);
        }
        for (int k = 0; k < 4; ++k) {
            int p = k;
            for (int r = k + 1; r < 4; ++r)
                if (std::fabs(m[r][k]) > std::fabs(m[p][k])) p = r;
            std::swap(m[k], m[p]);
            for (int r = 0; r < 4; ++r)
                if (r != k) {
                    const double f = m[r][k] / m[k][k];
                    for (int q = k; q < 5; ++q) m[r][q] -= f * m[k][q];
                }
        }
        const Array2 a = min_curvature(c.samples, c.g, c.budget);
        Range r;
        double gap = 0.0;
        for (std::uint64_t i = 0; i < c.g.ncol; ++i)
            for (std::uint64_t j = 0; j < c.g.nrow; ++j) {
                const double b = m[0][4] / m[0][0] + m[1][4] / m[1][1] * double(i) + m[2][4] / m[2][2] * double(j) +
                                 m[3][4] / m[3][3] * double(i) * double(j);
                gap = std::max(gap, std::fabs(a(i, j) - b));
                r.lo = std::min(r.lo, b), r.hi = std::max(r.hi, b);
            }
        EXPECT_LE(gap, 1e-9 * r.width()) << c.what;
        if (c.g.ncol == 400) {
            EXPECT_NEAR(r.lo, -204.8258, 1e-4);
            EXPECT_NEAR(r.hi, 152.1389, 1e-4);
        }
    }
}

TEST(MinCurvature, CollinearPicksGiveOneSurfaceOnEveryPath) {
    // Four picks on one line of a 59 x 60 lattice: singular, so the shifted
    // system on every path. Factored with pivoting and no shift, it once
    // gave values of 2e9.
    std::vector<Sample> s;
    for (int k = 0; k < 4; ++k) s.push_back({5.0 + 12 * k, 7.0 + 9 * k, std::sin(k * 1.3) * 40 + 20});
    const Lattice g = unit(59, 60);
    const Array2 band = min_curvature(s, g, kUnlimited);
    const Array2 iterated = min_curvature(s, g, 0);
    const Range r = range_of(band);
    EXPECT_LT(r.width(), 200.0);
    EXPECT_LE(largest_gap(iterated, band), 1e-6 * r.width());
}

TEST(MinCurvature, PlanesOnEveryPath) {
    // A plane satisfies every equation: both paths reproduce it at every
    // node to rounding, the shifted system's excepted (its shift pulls
    // towards 0).
    const Lattice g{100, 50, 10, 5, 23, 17, 0, false};
    const auto plane = [](double x, double y) { return 2.0 + 0.5 * x - 0.25 * y; };
    std::vector<Sample> s;
    for (const auto& [i, j] : std::vector<Node>{{0, 0}, {5, 1}, {2, 14}, {20, 15}, {11, 6}, {22, 2}}) {
        auto [x, y] = node_xy(g, i, j);
        s.push_back({x, y, plane(x, y)});
    }
    for (std::uint64_t budget : {kUnlimited, std::uint64_t{0}}) {
        const Array2 a = min_curvature(s, g, budget);
        for (std::uint64_t i = 0; i < g.ncol; ++i)
            for (std::uint64_t j = 0; j < g.nrow; ++j) {
                auto [x, y] = node_xy(g, i, j);
                EXPECT_NEAR(a(i, j), plane(x, y), 1e-9) << budget << " " << i << "," << j;
            }
    }
}

TEST(MinCurvature, IterativePathsOnThreadsGiveTheOneThreadSurface) {
    // A lattice large enough for several chunks of every pass and sum; the
    // refined band path on its tiny-pivot case. Bit for bit whatever the
    // count.
    const Lattice tall{0, 0, 1, 1, 32, 260, 0, false};
    struct Case {
        const char* what;
        Lattice g;
        std::vector<Sample> samples;
        std::uint64_t budget;
    };
    const Case cases[] = {
        {"multigrid", tall, spread(tall, 90), 0},
        {"multigrid, shifted", tall, on_nodes({{3, 10}, {9, 70}, {15, 130}, {27, 250}}), 0},
        {"refined band", unit(11, 45), on_nodes({{8, 7}, {3, 3}, {5, 19}, {3, 11}, {0, 7}}), kUnlimited},
    };
    for (const Case& c : cases) {
        std::vector<std::uint64_t> one;
        {
            const vz::testing::ScopedThreadCount env(1);
            one = vz::testing::bits(min_curvature(c.samples, c.g, c.budget).values);
        }
        for (const std::size_t threads : vz::testing::kThreadCounts) {
            const vz::testing::ScopedThreadCount env(threads);
            EXPECT_EQ(vz::testing::bits(min_curvature(c.samples, c.g, c.budget).values), one)
                << c.what << " with " << threads << " threads";
        }
    }
}

}  // namespace
}  // namespace vz::gridding
