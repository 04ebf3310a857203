#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <limits>
#include <optional>
#include <span>
#include <utility>
#include <vector>

#include "core/grid_geometry.hpp"
#include "core/gridding.hpp"
#include "core/gridding_method.hpp"
#include "foundation/error.hpp"
#include "gridding/band_lu.hpp"
#include "gridding/grid.hpp"
#include "gridding/lattice.hpp"
#include "mincurv_test_util.hpp"
#include "gridding/mincurv_operator.hpp"
#include "parallel/team.hpp"
#include "thread_count_util.hpp"

namespace vz::gridding {
namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kInf = std::numeric_limits<double>::infinity();

Lattice lattice(double xori, double yori, double xinc, double yinc, std::uint64_t ncol, std::uint64_t nrow,
                double rotation_deg = 0.0, bool yflip = false) {
    return {xori, yori, xinc, yinc, ncol, nrow, rotation_deg, yflip};
}

/// A unit lattice at the origin: node (i, j) lies at (i, j).
Lattice unit(std::uint64_t ncol, std::uint64_t nrow) { return lattice(0, 0, 1, 1, ncol, nrow); }

std::vector<Sample> with_positions_of(const Lattice& g, std::initializer_list<std::pair<std::uint64_t, std::uint64_t>> nodes,
                                      auto&& z_of) {
    std::vector<Sample> out;
    for (auto [i, j] : nodes) {
        auto [x, y] = node_xy(g, i, j);
        out.push_back({x, y, z_of(x, y)});
    }
    return out;
}

// ---------------------------------------------------------------- dispatch

TEST(Grid, EmptySampleListFailsForEveryMethod) {
    for (std::uint8_t method : {0, 1, 2, 7}) {
        auto r = grid({}, unit(3, 3), method);
        ASSERT_FALSE(r.has_value()) << int(method);
        EXPECT_EQ(r.error().kind(), ToolsErrorKind::EmptyInput);
        EXPECT_EQ(r.error().display(), "empty input: grid: no points to grid");
    }
}

TEST(Grid, RefusesLatticesTooLargeToHold) {
    const std::vector<Sample> s = {{0, 0, 1}};
    const struct {
        Lattice g;
        const char* text;
    } cases[] = {
        {unit(std::uint64_t{1} << 32, std::uint64_t{1} << 32),
         "invalid argument: grid: lattice (ncol=4294967296, nrow=4294967296) is too large"},
        {unit(std::uint64_t{1} << 20, std::uint64_t{1} << 18),
         "invalid argument: grid: lattice (ncol=1048576, nrow=262144) is too large"},
    };
    for (const auto& c : cases) {
        for (std::uint8_t method : {0, 1, 2}) {
            auto r = grid(s, c.g, method);
            ASSERT_FALSE(r.has_value());
            EXPECT_EQ(r.error().kind(), ToolsErrorKind::InvalidArgument);
            EXPECT_EQ(r.error().display(), c.text);
        }
    }
    // The empty-input check comes first.
    EXPECT_EQ(grid({}, unit(std::uint64_t{1} << 32, std::uint64_t{1} << 32), 0).error().kind(),
              ToolsErrorKind::EmptyInput);
}

TEST(Grid, DispatchesOnMethodCode) {
    // Three samples on a 5 x 1 lattice: the kernels disagree at node 1.
    const std::vector<Sample> s = {{0, 0, 0}, {4, 0, 8}, {2.6, 0, 1}};
    const Lattice g = unit(5, 1);
    const struct {
        std::uint8_t method;
        Array2 expected;
    } cases[] = {
        {0, nearest(s, g)},
        {1, inverse_distance(s, g)},
        {2, min_curvature(s, g)},
        {200, min_curvature(s, g)},
    };
    for (const auto& c : cases) {
        auto r = grid(s, g, c.method);
        ASSERT_TRUE(r.has_value());
        EXPECT_EQ(r->values, c.expected.values) << int(c.method);
    }
    EXPECT_NE(nearest(s, g).values, inverse_distance(s, g).values);
}

TEST(Grid, EmptyLatticeGivesEmptyArray) {
    const std::vector<Sample> s = {{0, 0, 1}, {1, 1, 2}};
    for (auto g : {unit(0, 4), unit(4, 0)}) {
        for (const Array2& a : {nearest(s, g), inverse_distance(s, g), min_curvature(s, g)}) {
            EXPECT_EQ(a.ncol, g.ncol);
            EXPECT_EQ(a.nrow, g.nrow);
            EXPECT_TRUE(a.values.empty());
        }
    }
}

// ---------------------------------------------------------------- nearest

TEST(Nearest, OneSampleFillsEveryNode) {
    const std::vector<Sample> s = {{1000, -500, 7.5}};
    const Array2 a = nearest(s, lattice(0, 0, 2, 3, 4, 3));
    ASSERT_EQ(a.values.size(), 12u);
    for (double v : a.values) EXPECT_EQ(v, 7.5);
}

TEST(Nearest, TiesGoToTheFirstSampleInInputOrder) {
    // Node (1, 0) of a unit lattice lies at (1, 0); samples at equal distance.
    struct Case {
        const char* what;
        std::vector<Sample> samples;
        double expected;
    };
    const Case cases[] = {
        {"left before right", {{0, 0, 10}, {2, 0, 20}}, 10},
        {"right before left", {{2, 0, 20}, {0, 0, 10}}, 20},
        {"four around the node", {{1, 1, 4}, {1, -1, 3}, {0, 0, 2}, {2, 0, 1}}, 4},
        {"coincident on the node", {{5, 5, 9}, {1, 0, 30}, {1, 0, 40}}, 30},
        {"nearer one later wins", {{0, 0, 10}, {2, 0, 20}, {1.5, 0, 99}}, 99},
    };
    for (const Case& c : cases) {
        const Array2 a = nearest(c.samples, unit(3, 1));
        EXPECT_EQ(a(1, 0), c.expected) << c.what;
    }
}

TEST(Nearest, FarSampleStillRulesItsSide) {
    const std::vector<Sample> s = {{0, 0, 1}, {1e6, 0, 2}};
    const Array2 a = nearest(s, lattice(0, 0, 1e5, 1, 11, 1));
    for (std::uint64_t i = 0; i < 11; ++i) EXPECT_EQ(a(i, 0), i <= 5 ? 1.0 : 2.0) << i;
}

TEST(Nearest, NonFiniteSamplesAndNodesAreHandled) {
    const std::vector<Sample> s = {{kNaN, 0, 100}, {0, kInf, 200}, {3, 0, kNaN}, {0, 0, 1}};
    const Array2 a = nearest(s, unit(4, 1));
    EXPECT_EQ(a(0, 0), 1.0);
    EXPECT_EQ(a(1, 0), 1.0);
    EXPECT_TRUE(std::isnan(a(2, 0)));  // the chosen sample's z is NaN
    EXPECT_TRUE(std::isnan(a(3, 0)));
    const Array2 none = nearest(std::vector<Sample>{{kNaN, kNaN, 1}}, unit(2, 2));
    for (double v : none.values) EXPECT_TRUE(std::isnan(v));
    const Array2 bad_lattice = nearest(s, lattice(kNaN, 0, 1, 1, 2, 2));
    for (double v : bad_lattice.values) EXPECT_TRUE(std::isnan(v));
}

TEST(Nearest, NodePositionsFollowRotationAndFlip) {
    // One sample at each expected node position, z = its index.
    struct Case {
        Lattice g;
        std::vector<std::pair<double, double>> expected;  // nodes (i, j) in [i * nrow + j] order
    };
    const Case cases[] = {
        {lattice(10, 20, 5, 2, 2, 2), {{10, 20}, {10, 22}, {15, 20}, {15, 22}}},
        {lattice(10, 20, 5, 2, 2, 2, 0, true), {{10, 20}, {10, 18}, {15, 20}, {15, 18}}},
        {lattice(10, 20, 5, 2, 2, 2, 90), {{10, 20}, {8, 20}, {10, 25}, {8, 25}}},
        {lattice(10, 20, 5, 2, 2, 2, 90, true), {{10, 20}, {12, 20}, {10, 25}, {12, 25}}},
    };
    for (const Case& c : cases) {
        std::vector<Sample> s;
        for (std::size_t k = 0; k < c.expected.size(); ++k)
            s.push_back({c.expected[k].first, c.expected[k].second, double(k)});
        const Array2 a = nearest(s, c.g);
        for (std::size_t k = 0; k < c.expected.size(); ++k) EXPECT_EQ(a.values[k], double(k));
    }
}

// ---------------------------------------------------------------- inverse distance

TEST(InverseDistance, WeightsByInverseSquareDistance) {
    struct Case {
        const char* what;
        std::vector<Sample> samples;
        Lattice g;
        std::uint64_t i;
        double expected;
    };
    const Case cases[] = {
        {"midpoint", {{0, 0, 0}, {2, 0, 10}}, unit(3, 1), 1, 5.0},
        {"quarter way: weights 16 and 16/9", {{0, 0, 0}, {4, 0, 10}}, unit(5, 1), 1, 1.0},
        {"far sample takes part", {{0, 0, 0}, {1, 0, 0}, {1e3, 0, 1e6 + 1e6}}, lattice(0.5, 0, 1, 1, 1, 1), 0,
         (2e6 / (999.5 * 999.5)) / (4.0 + 4.0 + 1 / (999.5 * 999.5))},
    };
    for (const Case& c : cases) EXPECT_NEAR(inverse_distance(c.samples, c.g)(c.i, 0), c.expected, 1e-12) << c.what;
}

TEST(InverseDistance, ExactHitDecidesTheNode) {
    struct Case {
        const char* what;
        std::vector<Sample> samples;
        double expected;
    };
    // Node (1, 0) of a unit lattice at (1, 0).
    const Case cases[] = {
        {"hit beside a very close sample", {{1 + 1e-9, 0, 500}, {1, 0, 3.25}}, 3.25},
        {"first of coincident samples", {{0, 0, 8}, {1, 0, 1.5}, {1, 0, 2.5}}, 1.5},
        {"hit after a far sample", {{1e9, 1e9, -4}, {1, 0, 0.125}}, 0.125},
    };
    for (const Case& c : cases) EXPECT_EQ(inverse_distance(c.samples, unit(3, 1))(1, 0), c.expected) << c.what;
}

TEST(InverseDistance, OneSampleGivesItsValueToRounding) {
    const std::vector<Sample> s = {{3.3, -7.1, 42.7}};
    const Array2 a = inverse_distance(s, lattice(0, 0, 1.7, 2.9, 5, 4, 33));
    for (double v : a.values) EXPECT_NEAR(v, 42.7, 1e-13);
}

TEST(InverseDistance, BlockedLanesMatchThePlainWalk) {
    // 7 x 5 = 35 nodes, not a multiple of the lane count, with hits on some
    // nodes and duplicates: compare each node with a direct evaluation.
    const Lattice g = lattice(100, 200, 10, 5, 7, 5, 20, true);
    std::vector<Sample> s;
    for (int k = 0; k < 40; ++k) s.push_back({100 + 1.7 * k, 180 + 0.9 * ((k * 7) % 13), std::sin(k * 1.3) * 10});
    for (auto [i, j] : {std::pair<std::uint64_t, std::uint64_t>{3, 2}, {6, 4}, {0, 0}}) {
        auto [x, y] = node_xy(g, i, j);
        s.push_back({x, y, 1000.0 + double(i)});
    }
    const Array2 a = inverse_distance(s, g);
    for (std::uint64_t i = 0; i < g.ncol; ++i)
        for (std::uint64_t j = 0; j < g.nrow; ++j) {
            auto [x, y] = node_xy(g, i, j);
            double sum = 0, total = 0, hit = kNaN;
            for (const Sample& p : s) {
                const double d2 = (p[0] - x) * (p[0] - x) + (p[1] - y) * (p[1] - y);
                if (d2 == 0) {
                    hit = p[2];
                    break;
                }
                sum += (1 / d2) * p[2];
                total += 1 / d2;
            }
            EXPECT_EQ(a(i, j), std::isnan(hit) ? sum / total : hit) << i << "," << j;
        }
    EXPECT_EQ(a(3, 2), 1003.0);
}

/// Samples over a rotated, flipped lattice of ncol x nrow nodes: a smooth
/// field at scattered positions, some of them exactly on nodes.
std::vector<Sample> scattered_over(const Lattice& g, std::size_t count) {
    std::vector<Sample> s;
    const double cols = double(std::max<std::uint64_t>(g.ncol - 1, 1));
    const double rows = double(std::max<std::uint64_t>(g.nrow - 1, 1));
    for (std::size_t k = 0; k < count; ++k) {
        const double fi = std::fmod(0.618034 * double(k) * double(g.ncol), cols);
        const double fj = std::fmod(0.414214 * double(k) * double(g.nrow) + 0.5, rows);
        const bool on_node = k % 5 == 0;
        auto [x, y] = node_xy_f(g, on_node ? std::round(fi) : fi, on_node ? std::round(fj) : fj);
        s.push_back({x, y, 100.0 + 7.0 * std::sin(fi / 9.0) * std::cos(fj / 7.0) + 0.05 * fi});
    }
    return s;
}

TEST(Gridding, ThreadsGiveTheOneThreadGrid) {
    // Large enough for many chunks of work at every thread count; the grids
    // must agree bit for bit (NaN and signed zeros included).
    struct Case {
        const char* what;
        Lattice g;
        std::size_t samples;
        std::uint8_t method;
    };
    const Case cases[] = {
        {"inverse distance", lattice(500, -300, 12.5, 9.0, 120, 90, 27.5, true), 60, kMethodInverseDistance},
        {"inverse distance, one row", lattice(0, 0, 1.0, 1.0, 5000, 1), 40, kMethodInverseDistance},
        {"minimum curvature, direct", lattice(500, -300, 12.5, 9.0, 70, 48, -12.0, true), 300,
         kMethodMinimumCurvature},
        {"minimum curvature, one column", lattice(10, 20, 2.0, 3.0, 1, 3000, 5.0), 200, kMethodMinimumCurvature},
    };
    for (const Case& c : cases) {
        const std::vector<Sample> s = scattered_over(c.g, c.samples);
        std::vector<std::uint64_t> one;
        {
            const vz::testing::ScopedThreadCount env(1);
            auto r = grid(s, c.g, c.method);
            ASSERT_TRUE(r.has_value()) << c.what;
            ASSERT_TRUE(std::all_of(r->values.begin(), r->values.end(), [](double v) { return std::isfinite(v); }))
                << c.what;
            one = vz::testing::bits(r->values);
        }
        for (const std::size_t threads : vz::testing::kThreadCounts) {
            const vz::testing::ScopedThreadCount env(threads);
            auto r = grid(s, c.g, c.method);
            ASSERT_TRUE(r.has_value()) << c.what;
            EXPECT_EQ(vz::testing::bits(r->values), one) << c.what << " with " << threads << " threads";
        }
    }
}

TEST(InverseDistance, NonFiniteSamplesAreLeftOut) {
    const std::vector<Sample> good = {{0, 0, 0}, {2, 0, 10}, {1, 3, 4}};
    for (Sample bad : {Sample{kNaN, 0, 1}, Sample{0, kNaN, 1}, Sample{1.5, 0.5, kNaN}, Sample{kInf, 0, 1},
                       Sample{1, 1, -kInf}}) {
        std::vector<Sample> s = good;
        s.insert(s.begin() + 1, bad);
        const Array2 a = inverse_distance(s, unit(3, 3));
        EXPECT_EQ(a.values, inverse_distance(good, unit(3, 3)).values);
        for (double v : a.values) EXPECT_TRUE(std::isfinite(v));
    }
    const Array2 none = inverse_distance(std::vector<Sample>{{kNaN, 0, 1}}, unit(2, 2));
    for (double v : none.values) EXPECT_TRUE(std::isnan(v));
}

// ---------------------------------------------------------------- snapping

TEST(Snap, NearestNodeWithHalvesAwayFromZero) {
    using Node = std::optional<std::pair<std::uint64_t, std::uint64_t>>;
    const Lattice g = unit(4, 3);
    struct Case {
        double x, y;
        Node expected;
    };
    const Case cases[] = {
        {0.5, 0, Node({1, 0})},   {-0.5, 0, std::nullopt}, {3.5, 0, std::nullopt}, {3.49, 2.49, Node({3, 2})},
        {-0.4, -0.4, Node({0, 0})}, {1.5, 1.5, Node({2, 2})}, {0, 2.5, std::nullopt}, {kNaN, 0, std::nullopt},
        {0, kInf, std::nullopt},
    };
    for (const Case& c : cases) EXPECT_EQ(snap_to_node(g, c.x, c.y), c.expected) << c.x << "," << c.y;
    EXPECT_EQ(snap_to_node(lattice(0, 0, 0, 1, 4, 3), 1, 1), std::nullopt);
    EXPECT_EQ(snap_to_node(lattice(0, 0, 1, 1, 4, 3, kNaN), 1, 1), std::nullopt);
    // yflip: rows run towards -y.
    EXPECT_EQ(snap_to_node(lattice(0, 0, 1, 1, 4, 3, 0, true), 1, -2), Node({1, 2}));
}

// ---------------------------------------------------------------- band LU

TEST(BandLu, SolvesABandSystemAndSumsDuplicates) {
    // Tridiagonal 4 x 4 with 4 on the diagonal (given as 3 + 1) and -1 beside.
    std::vector<SparseEntry> e;
    for (std::uint32_t k = 0; k < 4; ++k) {
        e.push_back({k, k, 3.0});
        e.push_back({k, k, 1.0});
        if (k > 0) e.push_back({k, k - 1, -1.0});
        if (k < 3) e.push_back({k, k + 1, -1.0});
    }
    auto m = BandLu::assemble_and_factor(e, 4, 1, 0.0);
    ASSERT_TRUE(m.has_value());
    EXPECT_TRUE(m->factored());
    const std::vector<double> x = {1, -2, 3, 0.5};
    std::vector<double> rhs(4), out(4, kNaN);
    for (int r = 0; r < 4; ++r)
        rhs[r] = 4 * x[r] - (r > 0 ? x[r - 1] : 0) - (r < 3 ? x[r + 1] : 0);
    m->solve(rhs, out);
    for (int r = 0; r < 4; ++r) EXPECT_NEAR(out[r], x[r], 1e-14);
}

TEST(BandLu, SolveOnATeamIsTheSolveToRounding) {
    // A diagonally dominant band of 1200 rows and half bandwidth 200: several
    // blocks of rows, each in several chunks, rows starting inside and
    // outside the band. The team's solve gives the same bits on any team and
    // agrees with the plain solve.
    const std::size_t n = 1200, h = 200;
    std::vector<SparseEntry> e;
    for (std::uint32_t r = 0; r < n; ++r)
        for (std::uint32_t c = r >= h ? r - static_cast<std::uint32_t>(h) : 0; c <= std::min<std::size_t>(n - 1, r + h);
             ++c)
            e.push_back({r, c, r == c ? 450.0 + r % 7 : std::sin(0.37 * r + 1.1 * c)});
    auto m = BandLu::assemble_and_factor(e, n, h, 0.0);
    ASSERT_TRUE(m.has_value());
    std::vector<double> rhs(n), plain(n), one(n, kNaN), other(n, kNaN);
    for (std::size_t k = 0; k < n; ++k) rhs[k] = std::cos(0.1 * double(k)) * 50.0;
    m->solve(rhs, plain);
    {
        const vz::testing::ScopedThreadCount env(1);
        parallel::Team team;
        m->solve(team, rhs, one);
    }
    for (std::size_t k = 0; k < n; ++k) EXPECT_NEAR(one[k], plain[k], 1e-12 * (1.0 + std::fabs(plain[k])));
    for (const std::size_t threads : vz::testing::kThreadCounts) {
        const vz::testing::ScopedThreadCount env(threads);
        parallel::Team team;
        m->solve(team, rhs, other);
        EXPECT_EQ(vz::testing::bits(other), vz::testing::bits(one)) << threads;
    }
}

TEST(BandLu, RefusesSingularMatrices) {
    const struct {
        const char* what;
        std::vector<SparseEntry> entries;
        double shift;
        bool ok;
    } cases[] = {
        {"zero pivot", {{0, 0, 0.0}, {0, 1, 1.0}, {1, 0, 1.0}, {1, 1, 1.0}}, 0.0, false},
        {"rank one", {{0, 0, 1.0}, {0, 1, 1.0}, {1, 0, 1.0}, {1, 1, 1.0}}, 0.0, false},
        {"rank one, shifted", {{0, 0, 1.0}, {0, 1, 1.0}, {1, 0, 1.0}, {1, 1, 1.0}}, 1e-3, true},
        {"NaN pivot", {{0, 0, kNaN}, {1, 1, 1.0}}, 0.0, false},
    };
    for (const auto& c : cases) EXPECT_EQ(BandLu::assemble_and_factor(c.entries, 2, 1, c.shift).has_value(), c.ok) << c.what;
}

/// The elimination pivot by pivot and the two substitutions, written out
/// plainly on band storage (element (r, c) at r (2h + 1) + c - r + h): the
/// reference every band factorisation must match bit for bit. Absent when a
/// pivot or multiplier fails.
std::optional<std::vector<double>> reference_band_solve(std::span<const SparseEntry> entries, std::size_t n,
                                                        std::size_t h, std::span<const double> rhs) {
    std::vector<double> band(n * (2 * h + 1), 0.0);
    auto a = [&](std::size_t r, std::size_t c) -> double& { return band[r * (2 * h + 1) + c + h - r]; };
    for (const SparseEntry& e : entries) a(e.row, e.col) += e.value;
    double maxdiag = 0.0;
    for (std::size_t k = 0; k < n; ++k) maxdiag = std::max(maxdiag, std::fabs(a(k, k)));
    const double tol = 1e-10 * maxdiag;
    for (std::size_t i = 0; i < n; ++i) {
        const double p = a(i, i);
        if (!std::isfinite(std::fabs(p)) || std::fabs(p) <= tol) return std::nullopt;
        const std::size_t last = std::min(n - 1, i + h);
        for (std::size_t j = i + 1; j <= last; ++j) {
            const double m = a(j, i) / p;
            if (!std::isfinite(m)) return std::nullopt;
            a(j, i) = m;
            if (m == 0.0) continue;
            for (std::size_t k = i + 1; k <= last; ++k) a(j, k) -= a(i, k) * m;
        }
    }
    std::vector<double> x(rhs.begin(), rhs.end());
    for (std::size_t i = 0; i < n; ++i) {
        double sum = 0.0;
        for (std::size_t j = i > h ? i - h : 0; j < i; ++j) sum += a(i, j) * x[j];
        x[i] -= sum;
    }
    for (std::size_t i = n; i-- > 0;) {
        double sum = 0.0;
        for (std::size_t k = i + 1; k <= std::min(n - 1, i + h); ++k) sum += a(i, k) * x[k];
        x[i] = (x[i] - sum) / a(i, i);
    }
    return x;
}

TEST(BandLu, MatchesThePivotByPivotEliminationBitForBit) {
    // Band matrices with ragged profiles (rows whose band starts late, so
    // their first multipliers are 0), scattered zeros, duplicate entries and
    // a diagonal that may or may not dominate; an empty row deep inside makes
    // a matrix singular late in the elimination.
    constexpr std::size_t kNone = std::numeric_limits<std::size_t>::max();
    struct Case {
        std::size_t n, h;
        double diagonal;  // added to the diagonal
        std::size_t empty_row;
    };
    const Case cases[] = {{1, 0, 1.0, kNone},     {5, 0, 1.0, kNone},      {3, 2, 4.0, kNone},
                          {7, 3, 0.5, kNone},     {40, 5, 3.0, kNone},     {200, 17, 2.0, kNone},
                          {300, 40, 9.0, kNone},  {3000, 60, 30.0, kNone}, {2500, 9, 0.0, kNone},
                          {800, 23, 1e-3, kNone}, {3000, 60, 30.0, 2100},  {5, 0, 1.0, 4},
                          // Long narrow bands (below the tile's pivots too),
                          // an early failure, and bands wide enough for
                          // several threads.
                          {40000, 12, 3.0, kNone}, {200000, 5, 1.0, kNone},  {3000, 60, 30.0, 100},
                          {200000, 0, 1.0, kNone}, {2500, 190, 60.0, kNone}, {2500, 190, 60.0, 1800},
                          {1200, 260, 0.0, kNone}};
    std::uint64_t state = 0x9E3779B97F4A7C15ull;
    auto next = [&state] {
        state = state * 6364136223846793005ull + 1442695040888963407ull;
        return double(state >> 11) / double(1ull << 53);
    };
    int factored = 0, refused = 0;
    for (const Case& c : cases) {
        std::vector<SparseEntry> e;
        for (std::size_t r = 0; r < c.n; ++r) {
            if (r == c.empty_row) continue;
            const std::size_t skip = c.h == 0 ? 0 : (r * 7) % (c.h / 2 + 1);  // late start of row r's band
            const std::size_t first = r >= c.h ? r - c.h + skip : 0;
            for (std::size_t col = first; col <= std::min(c.n - 1, r + c.h); ++col) {
                const double u = next();
                if (col != r && u < 0.2) continue;
                const double v = col == r ? c.diagonal + 4.0 * u : (u - 0.6) * 2.0;
                e.push_back({static_cast<std::uint32_t>(r), static_cast<std::uint32_t>(col), v});
                if (u > 0.9) e.push_back({static_cast<std::uint32_t>(r), static_cast<std::uint32_t>(col), 0.25});
            }
        }
        std::vector<double> rhs(c.n);
        for (double& v : rhs) v = next() * 100.0 - 50.0;
        const auto expected = reference_band_solve(e, c.n, c.h, rhs);
        (expected ? factored : refused)++;
        for (const std::size_t threads : {std::size_t{1}, std::size_t{2}, std::size_t{3}, std::size_t{8}}) {
            const vz::testing::ScopedThreadCount env(threads);
            auto m = BandLu::assemble_and_factor(e, c.n, c.h, 0.0);
            ASSERT_EQ(m.has_value(), expected.has_value()) << c.n << "/" << c.h << " with " << threads;
            if (!m) continue;
            std::vector<double> out(c.n, kNaN);
            m->solve(rhs, out);
            EXPECT_EQ(vz::testing::bits(out), vz::testing::bits(*expected)) << c.n << "/" << c.h << " with " << threads;
        }
    }
    // The table holds both outcomes.
    EXPECT_GT(factored, 4);
    EXPECT_GT(refused, 0);
}

// ---------------------------------------------------------------- minimum curvature

TEST(MinCurvatureOperator, FailureTexts) {
    const std::vector<std::array<double, 2>> four = {{0, 0}, {4, 0}, {0, 4}, {4, 4}};
    struct Case {
        const char* what;
        Lattice g;
        std::vector<std::array<double, 2>> positions;
        ToolsErrorKind kind;
        const char* message;
    };
    const char* singular =
        "MinCurvatureOperator: conditioning system is singular (too few / collinear hard anchors to pin the surface)";
    const Case cases[] = {
        {"one column", unit(1, 5), four, ToolsErrorKind::InvalidGeometry,
         "MinCurvatureOperator::factor: lattice must be at least 2x2"},
        {"one row", unit(5, 1), four, ToolsErrorKind::InvalidGeometry,
         "MinCurvatureOperator::factor: lattice must be at least 2x2"},
        {"three corners", unit(5, 5), {{0, 0}, {4, 0}, {0, 4}}, ToolsErrorKind::InvalidArgument, singular},
        {"no anchor", unit(5, 5), {{-10, -10}}, ToolsErrorKind::InvalidArgument, singular},
        {"beyond the memory budget", unit(400, 400), four, ToolsErrorKind::InvalidArgument,
         "MinCurvatureOperator::factor: band storage of 159996 x 1601 values exceeds the memory budget"},
    };
    for (const Case& c : cases) {
        auto op = MinCurvatureOperator::factor(c.g, c.positions, std::uint64_t{1} << 30);
        ASSERT_FALSE(op.has_value()) << c.what;
        EXPECT_EQ(op.error().kind(), c.kind) << c.what;
        EXPECT_EQ(op.error().message(), c.message) << c.what;
    }
    auto op = MinCurvatureOperator::factor(unit(5, 5), four);
    ASSERT_TRUE(op.has_value());
    auto solved = op->solve(std::vector<double>{1, 2, 3});
    ASSERT_FALSE(solved.has_value());
    EXPECT_EQ(solved.error().kind(), ToolsErrorKind::InvalidArgument);
    EXPECT_EQ(solved.error().message(), "MinCurvatureOperator::solve: expected 4 z-values, got 3");
}

TEST(MinCurvatureOperator, AnchorsAndFreeNumbering) {
    // Samples 0 and 2 pin node (1, 1); sample 1 pins (3, 0); sample 3 pins
    // nothing; sample 4 pins (0, 2).
    const std::vector<std::array<double, 2>> pos = {{1.2, 0.9}, {3, 0}, {0.8, 1.1}, {9, 9}, {0, 2}, {2, 2}};
    auto wide = MinCurvatureOperator::factor(unit(4, 3), pos);
    ASSERT_TRUE(wide.has_value());
    using N = std::pair<std::uint64_t, std::uint64_t>;
    EXPECT_EQ(wide->anchors(), (std::vector<N>{{1, 1}, {3, 0}, {0, 2}, {2, 2}}));
    EXPECT_EQ(wide->sample_count(), 6u);
    // nrow < ncol: columns outer, rows inner.
    EXPECT_EQ(wide->free_nodes().front(), N(0, 0));
    EXPECT_EQ(wide->free_nodes()[1], N(0, 1));
    EXPECT_EQ(wide->free_nodes().size(), 8u);
    auto tall = MinCurvatureOperator::factor(unit(3, 4), std::vector<std::array<double, 2>>{{1, 1}, {0, 3}, {2, 3}, {2, 0}});
    ASSERT_TRUE(tall.has_value());
    // Otherwise rows outer, columns inner.
    EXPECT_EQ(tall->free_nodes()[0], N(0, 0));
    EXPECT_EQ(tall->free_nodes()[1], N(1, 0));
    EXPECT_EQ(tall->free_nodes()[2], N(0, 1));
    // The same operator solves other values for the same layout.
    auto a = wide->solve(std::vector<double>{1, 2, 3, 4, 5, 6});
    auto b = wide->solve(std::vector<double>{2, 4, 6, 8, 10, 12});
    ASSERT_TRUE(a && b);
    EXPECT_EQ((*a)(1, 1), 2.0);  // mean of samples 0 and 2
    for (std::size_t k = 0; k < a->values.size(); ++k) EXPECT_NEAR(b->values[k], 2 * a->values[k], 1e-9);
}

/// Largest |a - b| over the nodes, relative to the largest |b|.
double relative_gap(const Array2& a, const Array2& b) {
    double gap = 0, scale = 0;
    for (std::size_t k = 0; k < b.values.size(); ++k) {
        gap = std::max(gap, std::fabs(a.values[k] - b.values[k]));
        scale = std::max(scale, std::fabs(b.values[k]));
    }
    return gap / scale;
}

TEST(MinCurvatureOperator, IterativeSolveAgreesWithTheBand) {
    // The iterative solve, forced by a band budget of 0, solves the very
    // system the band solves: same anchors and unknowns, anchors exact, free
    // nodes equal to rounding, whichever dimension is shorter (the numbering
    // and the band differ) and whether the unshifted or the shifted system is
    // solved.
    std::vector<Sample> collinear;
    for (int i = 2; i <= 30; i += 4) collinear.push_back({double(i), 9.0, std::sin(i * 0.7) * 5});
    std::vector<Sample> crowded = scattered_over(unit(7, 6), 60);
    crowded.push_back({3, 3, 50});  // on a node another sample pins
    // The shifted system is nearly singular by construction (its smallest
    // pivots are about 1e-8 of its largest), which bounds how closely two
    // solves of it can agree.
    struct Case {
        const char* what;
        Lattice g;
        std::vector<Sample> samples;
        double tolerance;
    };
    const Case cases[] = {
        {"wide", lattice(500, -300, 12.5, 9.0, 37, 23), scattered_over(lattice(500, -300, 12.5, 9.0, 37, 23), 45), 1e-9},
        {"tall, rotated and flipped", lattice(500, -300, 12.5, 9.0, 19, 31, 33, true),
         scattered_over(lattice(500, -300, 12.5, 9.0, 19, 31, 33, true), 30), 1e-9},
        {"four anchors", unit(24, 24), {{1, 2, 5}, {20, 3, -4}, {4, 22, 8}, {21, 20, 1}}, 1e-9},
        {"most nodes pinned", unit(7, 6), crowded, 1e-9},
        {"collinear, shifted", unit(33, 19), collinear, 1e-7},
    };
    for (const Case& c : cases) {
        std::vector<std::array<double, 2>> positions;
        std::vector<double> z;
        for (const Sample& p : c.samples) {
            positions.push_back({p[0], p[1]});
            z.push_back(p[2]);
        }
        auto band = MinCurvatureOperator::factor(c.g, positions);
        auto iterated = MinCurvatureOperator::factor(c.g, positions, 0, BeyondBudget::Iterate);
        ASSERT_TRUE(band.has_value() && iterated.has_value()) << c.what;
        ASSERT_TRUE(band->band().has_value()) << c.what;
        ASSERT_TRUE(iterated->path() == SolvePath::Iterative && !iterated->band().has_value()) << c.what;
        EXPECT_EQ(iterated->anchors(), band->anchors()) << c.what;
        EXPECT_EQ(iterated->free_nodes(), band->free_nodes()) << c.what;
        const auto a = iterated->solve(z);
        const auto b = band->solve(z);
        ASSERT_TRUE(a && b) << c.what;
        EXPECT_LE(relative_gap(*a, *b), c.tolerance) << c.what;
        for (auto [i, j] : band->anchors()) EXPECT_EQ((*a)(i, j), (*b)(i, j)) << c.what;
        // One factorisation serves other values of the same layout.
        for (double& v : z) v = 2 * v - 1;
        EXPECT_LE(relative_gap(*iterated->solve(z), *band->solve(z)), c.tolerance) << c.what;
    }
}

TEST(MinCurvatureOperator, IterativeFormRefusesWhatTheBandRefuses) {
    // Too few anchors stays singular, and a mismatched z count stays an
    // error, in iterative form too.
    const char* singular =
        "MinCurvatureOperator: conditioning system is singular (too few / collinear hard anchors to pin the surface)";
    const std::vector<std::vector<std::array<double, 2>>> layouts = {{{0, 0}, {9, 0}, {0, 9}}, {{-10, -10}}};
    for (const auto& positions : layouts) {
        auto op = MinCurvatureOperator::factor(unit(10, 10), positions, 0, BeyondBudget::Iterate);
        ASSERT_FALSE(op.has_value());
        EXPECT_EQ(op.error().kind(), ToolsErrorKind::InvalidArgument);
        EXPECT_EQ(op.error().message(), singular);
    }
    auto op = MinCurvatureOperator::factor(unit(10, 10), std::vector<std::array<double, 2>>{{0, 0}, {9, 0}, {0, 9}, {9, 9}},
                                           0, BeyondBudget::Iterate);
    ASSERT_TRUE(op.has_value());
    auto solved = op->solve(std::vector<double>{1, 2, 3});
    ASSERT_FALSE(solved.has_value());
    EXPECT_EQ(solved.error().message(), "MinCurvatureOperator::solve: expected 4 z-values, got 3");
}

TEST(MinCurvature, BeyondTheBandBudgetTheSystemIsSolvedIteratively) {
    // The driver takes the iterative solve where the band does not fit, not
    // the relaxation: the result is the band's to rounding.
    const Lattice g = lattice(500, -300, 12.5, 9.0, 29, 21, -12.0, true);
    const std::vector<Sample> s = scattered_over(g, 40);
    const Array2 band = min_curvature(s, g);
    const Array2 iterated = min_curvature(s, g, 0);
    EXPECT_LE(relative_gap(iterated, band), 1e-9);
    // Too few anchors: the relaxation still runs.
    const std::vector<Sample> three = {{0, 0, 1}, {6, 1, 3}, {2, 5, -2}};
    EXPECT_EQ(vz::testing::bits(min_curvature(three, unit(7, 6), 0).values),
              vz::testing::bits(min_curvature(three, unit(7, 6)).values));
}

TEST(MinCurvature, ReproducesAPlaneExactly) {
    const auto plane = [](double x, double y) { return 2.0 + 0.5 * x - 0.25 * y; };
    const std::initializer_list<std::pair<std::uint64_t, std::uint64_t>> nodes = {{0, 0}, {5, 1}, {2, 4}, {6, 5},
                                                                                  {1, 5}, {3, 2}};
    struct Case {
        const char* what;
        Lattice g;
    };
    const Case cases[] = {
        {"wide", lattice(100, 50, 10, 5, 8, 6)},
        {"tall", lattice(100, 50, 10, 5, 7, 9)},
        {"square", lattice(100, 50, 10, 5, 7, 7)},
        {"rotated and flipped", lattice(-30, 12, 2.5, 4, 8, 6, 30, true)},
    };
    for (const Case& c : cases) {
        const auto s = with_positions_of(c.g, nodes, plane);
        std::vector<std::array<double, 2>> positions;
        for (const Sample& p : s) positions.push_back({p[0], p[1]});
        ASSERT_TRUE(MinCurvatureOperator::factor(c.g, positions).has_value()) << c.what;  // the direct path
        const Array2 a = min_curvature(s, c.g);
        for (std::uint64_t i = 0; i < c.g.ncol; ++i)
            for (std::uint64_t j = 0; j < c.g.nrow; ++j) {
                auto [x, y] = node_xy(c.g, i, j);
                EXPECT_NEAR(a(i, j), plane(x, y), 1e-9) << c.what << " " << i << "," << j;
            }
    }
}

/// Residual of the minimum-curvature equation at node (i, j).
double residual(const Array2& a, std::int64_t i, std::int64_t j) { return testing::mincurv_residual(a, i, j); }

TEST(MinCurvature, FreeNodesSatisfyTheEquation) {
    struct Case {
        const char* what;
        Lattice g;
        std::vector<Sample> samples;
        double tolerance;
    };
    std::vector<Sample> scattered;
    for (int k = 0; k < 9; ++k) scattered.push_back({std::fmod(k * 3.7, 9.0), std::fmod(k * 2.3, 7.0), std::sin(k * 1.9) * 20});
    const Case cases[] = {
        {"direct, wide", unit(10, 7), scattered, 1e-9},
        {"direct, tall", unit(7, 10), scattered, 1e-9},
        {"relaxed, three anchors", unit(6, 5), {{0, 0, 1}, {5, 0, 3}, {2, 4, -6}}, 1e-4},
    };
    for (const Case& c : cases) {
        const Array2 a = min_curvature(c.samples, c.g);
        std::vector<char> pinned(a.values.size(), 0);
        for (const Sample& p : c.samples)
            if (auto n = snap_to_node(c.g, p[0], p[1])) pinned[n->first * c.g.nrow + n->second] = 1;
        for (std::uint64_t i = 0; i < c.g.ncol; ++i)
            for (std::uint64_t j = 0; j < c.g.nrow; ++j)
                if (!pinned[i * c.g.nrow + j]) {
                    EXPECT_NEAR(residual(a, std::int64_t(i), std::int64_t(j)), 0.0, c.tolerance)
                        << c.what << " " << i << "," << j;
                }
    }
}

TEST(MinCurvature, AnchorValuesAreMeansOfTheirSamples) {
    // Every node pinned: exactly the per-node means, whichever path runs.
    const Lattice g = unit(3, 2);
    std::vector<Sample> s;
    for (std::uint64_t i = 0; i < 3; ++i)
        for (std::uint64_t j = 0; j < 2; ++j) {
            s.push_back({double(i) + 0.1, double(j), double(i * 10 + j)});
            s.push_back({double(i) - 0.1, double(j) + 0.2, double(i * 10 + j) + 1.0});
        }
    s.push_back({1, 0, 13.5});  // a third sample on node (1, 0)
    const Array2 a = min_curvature(s, g);
    for (std::uint64_t i = 0; i < 3; ++i)
        for (std::uint64_t j = 0; j < 2; ++j) {
            const double base = double(i * 10 + j);
            const double expected = (i == 1 && j == 0) ? (base + base + 1.0 + 13.5) / 3.0 : (base + base + 1.0) / 2.0;
            EXPECT_EQ(a(i, j), expected) << i << "," << j;
        }
}

TEST(MinCurvature, FallbackCases) {
    struct Case {
        const char* what;
        std::vector<Sample> samples;
        Lattice g;
    };
    const Case cases[] = {
        {"single sample", {{2.2, 1.9, 6.5}}, unit(5, 5)},
        {"three corners", {{0, 0, 1}, {4, 0, 3}, {0, 4, 5}}, unit(5, 5)},
        {"one row", {{0, 0, 1}, {0.2, 0.1, 2}, {3, 0, 7}, {9, 0, 4}}, unit(6, 1)},
    };
    for (const Case& c : cases) {
        const Array2 a = min_curvature(c.samples, c.g);
        const Array2 idw = inverse_distance(c.samples, c.g);
        ASSERT_EQ(a.values.size(), c.g.ncol * c.g.nrow);
        for (double v : a.values) EXPECT_TRUE(std::isfinite(v)) << c.what;
        // Pinned nodes hold their mean; free nodes are bounded by the data.
        for (const Sample& p : c.samples) {
            auto node = snap_to_node(c.g, p[0], p[1]);
            if (!node) continue;
            double sum = 0, n = 0;
            for (const Sample& q : c.samples)
                if (snap_to_node(c.g, q[0], q[1]) == node) sum += q[2], ++n;
            EXPECT_EQ(a(node->first, node->second), sum / n) << c.what;
        }
        if (c.g.nrow == 1) {
            // Too small to relax: the inverse-distance surface with pinned means.
            for (std::uint64_t i = 0; i < c.g.ncol; ++i) {
                if (i != 0 && i != 3) {
                    EXPECT_EQ(a(i, 0), idw(i, 0)) << i;
                }
            }
        }
    }
    const Array2 one = min_curvature(cases[0].samples, cases[0].g);
    for (double v : one.values) EXPECT_NEAR(v, 6.5, 1e-12);
}

/// The relaxation written as plainly as it reads: the inverse-distance start
/// with pinned means, then sweeps over rows (outer) and columns (inner) that
/// update each free node in place from its neighbours as they stand.
Array2 plain_relaxation(const std::vector<Sample>& samples, const Lattice& g, int max_sweeps) {
    Array2 a = inverse_distance(samples, g);
    std::vector<double> sum(a.values.size(), 0.0), count(a.values.size(), 0.0);
    for (const Sample& p : samples)
        if (auto n = snap_to_node(g, p[0], p[1])) {
            sum[n->first * g.nrow + n->second] += p[2];
            count[n->first * g.nrow + n->second] += 1;
        }
    for (std::size_t k = 0; k < a.values.size(); ++k)
        if (count[k] > 0) a.values[k] = sum[k] / count[k];
    const auto nc = static_cast<std::int64_t>(g.ncol), nr = static_cast<std::int64_t>(g.nrow);
    // Sweeps end once every residual they meet (the change an update makes
    // is 1.5 / 16 of it) is at most 1e-9 of the largest |z| pinned.
    double scale = 0;
    for (std::size_t k = 0; k < a.values.size(); ++k)
        if (count[k] > 0) scale = std::max(scale, std::fabs(a.values[k]));
    const double limit = 1.5 / 16 * 1e-9 * scale;
    for (int sweep = 0; sweep < max_sweeps; ++sweep) {
        double largest = 0;
        for (std::int64_t j = 0; j < nr; ++j)
            for (std::int64_t i = 0; i < nc; ++i) {
                if (count[static_cast<std::uint64_t>(i) * g.nrow + static_cast<std::uint64_t>(j)] > 0) continue;
                const auto [e, d, f] = testing::stencil_sums(a, i, j);
                double& z = a(static_cast<std::uint64_t>(i), static_cast<std::uint64_t>(j));
                const double c = (0.25 * e + 0.75 * (8 * e - 2 * d - f)) * 0.0625;
                const double v = z + 1.5 * (c - z);
                largest = std::max(largest, std::fabs(v - z));
                z = v;
            }
        if (largest <= limit) break;
    }
    return a;
}

TEST(MinCurvature, RelaxationOnThreadsIsThePlainSweep) {
    // Lattices tall and large enough for up to eight bands of rows, in
    // heights that leave every remainder of the four rows relaxed together;
    // runs capped before converging, and runs that converge after one sweep
    // or after many (the bands ahead then undo the sweeps they began after
    // it). Whatever the thread count, the grid is the plain sweep's, bit for
    // bit.
    std::vector<Sample> plane;
    for (int k = 0; k < 131; k += 2)
        for (int l = 0; l < 139; l += 2) plane.push_back({double(k), double(l), 5 + 0.0001 * k - 0.0002 * l});
    const Lattice rotated = lattice(0, 0, 2.0, 3.0, 129, 142, 15.0);
    struct Case {
        const char* what;
        Lattice g;
        std::vector<Sample> samples;
        int max_sweeps;
    };
    const Case cases[] = {
        {"three samples, capped", unit(130, 137), {{3, 4, 10}, {120, 7, -20}, {60, 130, 35}}, 12},
        {"many anchors, capped", rotated, scattered_over(rotated, 300), 12},
        {"one sample, converged at once", unit(140, 131), {{100, 20, 7.5}}, 20000},
        {"a plane, converged after many sweeps", unit(131, 139), plane, 20000},
    };
    for (const Case& c : cases) {
        const Array2 expected = plain_relaxation(c.samples, c.g, c.max_sweeps);
        for (const std::size_t threads : {std::size_t{1}, std::size_t{2}, std::size_t{3}, std::size_t{8}}) {
            const vz::testing::ScopedThreadCount env(threads);
            const Array2 a = min_curvature_relaxation(c.samples, c.g, c.max_sweeps);
            EXPECT_EQ(vz::testing::bits(a.values), vz::testing::bits(expected.values))
                << c.what << " with " << threads << " threads";
        }
    }
}

TEST(MinCurvature, CollinearAnchorsUseTheShiftedSystem) {
    // Five anchors on row 2: singular unshifted; the shift still pins them.
    const Lattice g = unit(7, 5);
    std::vector<std::array<double, 2>> pos;
    for (int i = 1; i <= 5; ++i) pos.push_back({double(i), 2.0});
    auto op = MinCurvatureOperator::factor(g, pos);
    ASSERT_TRUE(op.has_value());
    auto a = op->solve(std::vector<double>{1, 2, 3, 4, 5});
    ASSERT_TRUE(a.has_value());
    for (int i = 1; i <= 5; ++i) EXPECT_EQ((*a)(i, 2), double(i));
    for (double v : a->values) EXPECT_TRUE(std::isfinite(v));
}

TEST(MinCurvature, NonFiniteSamplesAreLeftOut) {
    const Lattice g = unit(6, 5);
    const auto plane = [](double x, double y) { return 1.0 - x + 3.0 * y; };
    const auto good = with_positions_of(g, {{0, 0}, {5, 0}, {0, 4}, {5, 4}, {2, 2}}, plane);
    const Array2 expected = min_curvature(good, g);
    for (Sample bad : {Sample{2, 3, kNaN}, Sample{kNaN, 1, 5}, Sample{1, kInf, 5}, Sample{3, 1, kInf}}) {
        std::vector<Sample> s = good;
        s.insert(s.begin() + 2, bad);
        const Array2 a = min_curvature(s, g);
        EXPECT_EQ(a.values, expected.values);
        // The same holds on the relaxation path (single usable sample).
        const Array2 lone = min_curvature(std::vector<Sample>{bad, {2, 2, 4}}, g);
        for (double v : lone.values) EXPECT_NEAR(v, 4.0, 1e-12);
    }
}

// ---------------------------------------------------------------- core wrapper

TEST(CoreGrid, WrapsToolkitResultsAndErrors) {
    const GridGeometry g{0, 0, 1, 1, 3, 2, 0, false};
    const std::vector<std::array<double, 3>> s = {{0, 0, 1}, {2, 1, 3}};
    const struct {
        GriddingMethod m;
        const char* name;
    } cases[] = {{GriddingMethod::Nearest, "Nearest"},
                 {GriddingMethod::InverseDistance, "InverseDistance"},
                 {GriddingMethod::MinimumCurvature, "MinimumCurvature"}};
    for (const auto& c : cases) {
        EXPECT_STREQ(gridding_method_name(c.m), c.name);
        auto r = grid(s, g, c.m);
        ASSERT_TRUE(r.has_value());
        EXPECT_EQ(r->ncol(), 3u);
        EXPECT_EQ(r->nrow(), 2u);
        auto direct = grid(s, g.lattice(), static_cast<std::uint8_t>(c.m));
        EXPECT_EQ(r->data(), direct->values);
        auto empty = grid(std::span<const std::array<double, 3>>{}, g, c.m);
        ASSERT_FALSE(empty.has_value());
        EXPECT_EQ(empty.error().kind(), ErrorKind::Tools);
        EXPECT_EQ(empty.error().display(), "empty input: grid: no points to grid");
    }
}

}  // namespace
}  // namespace vz::gridding
