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

namespace {

/// The window mean of node (i, j) or, when that mean is NaN (+inf and -inf in
/// one window), the node's own value. The window's non-NaN values are summed
/// rows ascending (outer), columns ascending (inner); that order fixes the
/// floating-point result.
double window_mean(std::span<const double> v, std::size_t nrow, std::size_t i0, std::size_t i1, std::size_t j0,
                   std::size_t j1, double centre) {
    double sum = 0.0;
    std::uint64_t count = 0;
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
    return std::isnan(mean) ? centre : mean;
}

}  // namespace

Surface Surface::smooth(std::uint64_t radius) const {
    constexpr double nan = std::numeric_limits<double>::quiet_NaN();
    constexpr std::size_t kLanes = 4;
    const std::size_t ncol = values.ncol(), nrow = values.nrow();
    Grid2 out(ncol, nrow, nan);
    const std::span<const double> v = values.values();
    if (ncol == 0 || nrow == 0)
        return derived(*this, std::move(out), fmt::format("surface.smooth(radius={})", radius));
    // Window half-widths held within the lattice, so no index arithmetic overflows.
    const std::size_t ri = static_cast<std::size_t>(std::min<std::uint64_t>(radius, ncol - 1));
    const std::size_t rj = static_cast<std::size_t>(std::min<std::uint64_t>(radius, nrow - 1));
    for (std::size_t i = 0; i < ncol; ++i) {
        const std::size_t i0 = i >= ri ? i - ri : 0;
        const std::size_t i1 = std::min(ncol - 1, i + ri);
        std::size_t j = 0;
        while (j < nrow) {
            // Nodes whose row window lies wholly inside the lattice are done
            // kLanes at a time: each lane keeps its own sum in the same order
            // as `window_mean`, so the results are identical, but the lanes'
            // additions overlap and the reads stay contiguous.
            if (j >= rj && j + kLanes - 1 + rj < nrow) {
                // Four explicit accumulators keep the lanes in registers.
                double s0 = 0.0, s1 = 0.0, s2 = 0.0, s3 = 0.0;
                std::uint64_t n0 = 0, n1 = 0, n2 = 0, n3 = 0;
                for (std::size_t jj = j - rj; jj <= j + rj; ++jj) {
                    for (std::size_t ii = i0; ii <= i1; ++ii) {
                        const double* w = v.data() + ii * nrow + jj;
                        const double w0 = w[0], w1 = w[1], w2 = w[2], w3 = w[3];
                        if (!std::isnan(w0)) s0 += w0, ++n0;
                        if (!std::isnan(w1)) s1 += w1, ++n1;
                        if (!std::isnan(w2)) s2 += w2, ++n2;
                        if (!std::isnan(w3)) s3 += w3, ++n3;
                    }
                }
                const double sums[kLanes] = {s0, s1, s2, s3};
                const std::uint64_t counts[kLanes] = {n0, n1, n2, n3};
                for (std::size_t k = 0; k < kLanes; ++k) {
                    const double centre = v[i * nrow + j + k];
                    if (std::isnan(centre)) continue;
                    const double mean = sums[k] / static_cast<double>(counts[k]);
                    out(i, j + k) = std::isnan(mean) ? centre : mean;
                }
                j += kLanes;
                continue;
            }
            const double centre = v[i * nrow + j];
            if (!std::isnan(centre)) {
                const std::size_t j0 = j >= rj ? j - rj : 0;
                const std::size_t j1 = std::min(nrow - 1, j + rj);
                out(i, j) = window_mean(v, nrow, i0, i1, j0, j1, centre);
            }
            ++j;
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
