#pragma once
// Small fixtures shared by the surface test executables.

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <initializer_list>
#include <limits>
#include <string>
#include <vector>

#include "core/grid_geometry.hpp"
#include "foundation/grid2.hpp"
#include "foundation/result.hpp"

namespace vz::testutil {

inline constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
inline constexpr double kInf = std::numeric_limits<double>::infinity();

/// Geometry with the eight fields in declaration order.
inline GridGeometry geo(double xori, double yori, double xinc, double yinc, std::uint64_t ncol, std::uint64_t nrow,
                        double rot = 0.0, bool yflip = false) {
    return GridGeometry{xori, yori, xinc, yinc, ncol, nrow, rot, yflip};
}

/// A grid given column by column: `cols({{c0r0, c0r1}, {c1r0, c1r1}})`.
inline Grid2 cols(std::initializer_list<std::initializer_list<double>> columns) {
    const std::size_t ncol = columns.size();
    const std::size_t nrow = ncol == 0 ? 0 : columns.begin()->size();
    std::vector<double> data;
    for (const auto& c : columns) {
        EXPECT_EQ(c.size(), nrow) << "ragged fixture";
        data.insert(data.end(), c.begin(), c.end());
    }
    return Grid2(ncol, nrow, std::move(data));
}

/// Node values from a function of (i, j).
template <class F>
Grid2 from_fn(std::size_t ncol, std::size_t nrow, F f) {
    Grid2 g(ncol, nrow);
    for (std::size_t i = 0; i < ncol; ++i)
        for (std::size_t j = 0; j < nrow; ++j) g(i, j) = f(i, j);
    return g;
}

/// Equality where NaN equals NaN and the sign of zero is ignored.
inline bool same_value(double a, double b) { return (std::isnan(a) && std::isnan(b)) || a == b; }

/// Exact, NaN-aware comparison of a grid with expected values in storage order.
inline void expect_values(const Grid2& g, const std::vector<double>& expected, const std::string& what = "") {
    ASSERT_EQ(g.size(), expected.size()) << what;
    for (std::size_t k = 0; k < expected.size(); ++k)
        EXPECT_TRUE(same_value(g.values()[k], expected[k]))
            << what << " node " << k << ": got " << g.values()[k] << ", expected " << expected[k];
}

/// Bit-exact equality of two grids (shape and every value's bits).
inline bool same_bits(const Grid2& a, const Grid2& b) {
    return a.ncol() == b.ncol() && a.nrow() == b.nrow() && a.size() == b.size() &&
           (a.size() == 0 || std::memcmp(a.values().data(), b.values().data(), a.size() * sizeof(double)) == 0);
}

/// The display text of a failed result ("" when it succeeded).
template <class T>
std::string error_text(const Result<T>& r) {
    return r ? std::string() : r.error().display();
}

}  // namespace vz::testutil
