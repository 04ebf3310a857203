// Read-only analyses of a regular surface: areas above and below a level, the
// hypsometric curve, the volume between two surfaces, statistics, dip and
// NaN-aware smoothing.

#include <algorithm>
#include <array>
#include <cmath>
#include <limits>

#include <fmt/format.h>

#include "core/gridding.hpp"
#include "core/polygons.hpp"
#include "core/surface.hpp"
#include "core/surface_ops.hpp"
#include "foundation/format.hpp"

namespace vz {

namespace {

Surface derived(const Surface& src, Grid2 values, std::string entry) {
    return Surface{src.geom, std::move(values), std::nullopt, {}, History::derive(src.history, std::move(entry))};
}

// The cell area as stored: no absolute value, so a negative increment gives
// negative areas and volumes.
double node_area(const GridGeometry& g) { return g.xinc * g.yinc; }

}  // namespace

double Surface::area_above(double depth) const {
    const double a = node_area(geom);
    std::uint64_t count = 0;
    for (double v : values.values()) count += (v >= depth) ? 1 : 0;
    return a * static_cast<double>(count);
}

double Surface::area_below(double depth) const {
    const double a = node_area(geom);
    std::uint64_t count = 0;
    for (double v : values.values()) count += (v <= depth) ? 1 : 0;
    return a * static_cast<double>(count);
}

std::vector<std::pair<double, double>> Surface::hypsometry() const {
    std::vector<double> v = surface_ops::non_nan_values(values);
    std::stable_sort(v.begin(), v.end(), [](double a, double b) { return total_less(a, b); });
    const double a = node_area(geom);
    std::vector<std::pair<double, double>> out;
    out.reserve(v.size());
    for (std::size_t k = 0; k < v.size(); ++k) out.emplace_back(v[k], static_cast<double>(k + 1) * a);
    return out;
}

Result<double> Surface::volume_between(const Surface& base) const {
    if (!(geom == base.geom) || values.size() != base.values.size())
        return fail(Error::geometry_mismatch(
            "Surface::volume_between: operands have differing geometry \u2014 resample first"));
    const double a = node_area(geom);
    const std::span<const double> t = values.values(), b = base.values.values();
    double sum = -0.0;
    for (std::size_t k = 0; k < t.size(); ++k)
        if (!std::isnan(t[k]) && !std::isnan(b[k])) sum += std::fabs(t[k] - b[k]) * a;
    return sum;
}

Stats Surface::stats() const { return Stats::from_values(surface_ops::lane_values(values)); }

std::pair<Surface, Surface> Surface::dip_surfaces() const {
    auto [dip, az] = surface_ops::dip_grids(values, geom);
    return {derived(*this, std::move(dip), "surface.dip_angle()"),
            derived(*this, std::move(az), "surface.dip_azimuth()")};
}

Surface Surface::dip_angle() const { return dip_surfaces().first; }

Surface Surface::dip_azimuth() const { return dip_surfaces().second; }

Surface Surface::smooth(std::uint64_t radius) const {
    constexpr double nan = std::numeric_limits<double>::quiet_NaN();
    const std::size_t ncol = values.ncol(), nrow = values.nrow();
    Grid2 out(ncol, nrow, nan);
    const std::span<const double> v = values.values();
    const std::size_t r = radius > std::numeric_limits<std::size_t>::max() ? std::numeric_limits<std::size_t>::max()
                                                                            : static_cast<std::size_t>(radius);
    auto lo = [r](std::size_t k) { return k >= r ? k - r : std::size_t{0}; };
    auto hi = [r](std::size_t k, std::size_t n) {
        const std::size_t up = r > std::numeric_limits<std::size_t>::max() - k ? std::numeric_limits<std::size_t>::max()
                                                                                : k + r;
        return std::min(n - 1, up);
    };
    for (std::size_t i = 0; i < ncol; ++i) {
        const std::size_t i0 = lo(i), i1 = hi(i, ncol);
        for (std::size_t j = 0; j < nrow; ++j) {
            const double centre = v[i * nrow + j];
            if (std::isnan(centre)) continue;
            const std::size_t j0 = lo(j), j1 = hi(j, nrow);
            double sum = 0.0;
            std::uint64_t count = 0;
            // Rows ascending outer, columns ascending inner: this order fixes
            // the floating-point sum.
            for (std::size_t jj = j0; jj <= j1; ++jj) {
                for (std::size_t ii = i0; ii <= i1; ++ii) {
                    const double w = v[ii * nrow + jj];
                    if (!std::isnan(w)) {
                        sum += w;
                        ++count;
                    }
                }
            }
            const double mean = sum / static_cast<double>(count);
            out(i, j) = std::isnan(mean) ? centre : mean;
        }
    }
    return derived(*this, std::move(out), fmt::format("surface.smooth(radius={})", radius));
}

Result<Surface> Surface::extrapolate(GriddingMethod method) const {
    const std::string entry = fmt::format("surface.extrapolate(method={})", gridding_method_name(method));
    const std::span<const double> v = values.values();
    if (std::none_of(v.begin(), v.end(), [](double z) { return std::isnan(z); }))
        return derived(*this, values, entry);
    const std::size_t ncol = values.ncol(), nrow = values.nrow();
    std::vector<std::array<double, 3>> samples;
    // Rows outer, columns inner: the order the gridding kernels see the
    // samples in decides their ties.
    for (std::size_t j = 0; j < nrow; ++j) {
        for (std::size_t i = 0; i < ncol; ++i) {
            const double z = v[i * nrow + j];
            if (!std::isfinite(z)) continue;
            auto [x, y] = geom.node_xy(i, j);
            samples.push_back({x, y, z});
        }
    }
    if (samples.empty())
        return fail(Error::out_of_range("surface.extrapolate requires at least one finite source node"));
    VZ_ASSIGN_OR_RETURN(Grid2 gridded, gridding::grid(samples, geom, method));
    Grid2 out = values;
    const std::span<double> o = out.values();
    const std::span<const double> g = gridded.values();
    if (g.size() != o.size())
        return fail(Error::geometry_mismatch(fmt::format("surface.extrapolate: gridded shape [{}, {}] != grid (ncol={}, nrow={})",
                                                         gridded.ncol(), gridded.nrow(), geom.ncol, geom.nrow)));
    for (std::size_t k = 0; k < o.size(); ++k)
        if (std::isnan(o[k])) o[k] = g[k];
    return derived(*this, std::move(out), entry);
}

std::optional<PolygonSet> Surface::edge() const {
    const std::size_t ncol = values.ncol(), nrow = values.nrow();
    const std::span<const double> v = values.values();
    std::vector<std::array<double, 2>> points;
    for (std::size_t j = 0; j < nrow; ++j) {
        for (std::size_t i = 0; i < ncol; ++i) {
            if (std::isnan(v[i * nrow + j])) continue;
            auto [x, y] = geom.node_xy(i, j);
            // The hull needs finite coordinates: a non-finite position cannot
            // be ordered and is left out.
            if (std::isfinite(x) && std::isfinite(y)) points.push_back({x, y});
        }
    }
    if (points.size() < 3) return std::nullopt;
    return PolygonSet::convex_hull_xy(points);
}

}  // namespace vz
