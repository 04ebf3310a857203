#include "core/shell/fit.hpp"

#include <algorithm>
#include <cmath>
#include <limits>
#include <map>

#include <fmt/format.h>

#include "core/geometry/spatial_index.hpp"
#include "foundation/error.hpp"
#include "foundation/format.hpp"

namespace vz::fit {

namespace {

constexpr double kRadToDeg = 57.29577951308232;
constexpr std::int64_t kI64Max = std::numeric_limits<std::int64_t>::max();
constexpr std::int64_t kI64Min = std::numeric_limits<std::int64_t>::min();

Error inference(std::string message) { return Error::geometry_inference(std::move(message)); }

bool valid_tolerance(double t) { return std::isfinite(t) && t > 0.0; }

/// b - a for a <= b, exact as an unsigned count.
std::uint64_t span_of(std::int64_t a, std::int64_t b) {
    return static_cast<std::uint64_t>(b) - static_cast<std::uint64_t>(a);
}

}  // namespace

std::int64_t round_to_index(double v) {
    if (std::isnan(v)) return 0;
    const double r = std::round(v);
    if (r >= 9223372036854775808.0) return kI64Max;
    if (r < -9223372036854775808.0) return kI64Min;
    return static_cast<std::int64_t>(r);
}

std::optional<double> median(std::vector<double> values) {
    if (values.empty()) return std::nullopt;
    std::sort(values.begin(), values.end(), total_less);
    const std::size_t n = values.size();
    if (n % 2 == 1) return values[n / 2];
    return (values[n / 2 - 1] + values[n / 2]) / 2.0;
}

Result<double> axis_spacing(std::span<const std::array<double, 2>> differences, std::array<double, 2> axis,
                            double tolerance) {
    std::vector<double> kept;
    for (const auto& d : differences) {
        const double along = std::fabs(d[0] * axis[0] + d[1] * axis[1]);
        const double across = std::fabs(d[1] * axis[0] - d[0] * axis[1]);
        if (along > tolerance && across <= tolerance) kept.push_back(along);
    }
    if (kept.empty()) return fail(inference("could not detect regular spacing on both grid axes"));
    std::sort(kept.begin(), kept.end(), total_less);
    const double limit = 1.5 * kept.front() + tolerance;
    std::size_t n = 1;
    while (n < kept.size() && kept[n] <= limit) ++n;
    kept.resize(n);
    return *median(std::move(kept));
}

Result<LatticeFitXY> fit_lattice_xy(std::span<const std::array<double, 3>> points, double tolerance) {
    if (!valid_tolerance(tolerance)) return fail(inference("tolerance must be a finite positive number"));
    std::vector<std::array<double, 2>> kept;
    kept.reserve(points.size());
    for (const auto& p : points)
        if (std::isfinite(p[0]) && std::isfinite(p[1])) kept.push_back({p[0], p[1]});
    const std::size_t n = kept.size();
    if (n < 4) return fail(inference("at least four finite points are required"));

    const auto index = geometry::PointIndex::bulk_load(kept);
    const std::size_t stride = std::max<std::size_t>(1, n / 2000);
    std::vector<std::array<double, 2>> diffs;
    for (std::size_t s = 0; s < n; s += stride) {
        const auto& p = kept[s];
        for (const auto& nb : index.nearest_k(p[0], p[1], 13)) {
            if (nb.index == s) continue;
            const std::array<double, 2> d{kept[nb.index][0] - p[0], kept[nb.index][1] - p[1]};
            if (std::hypot(d[0], d[1]) > tolerance) diffs.push_back(d);
        }
    }
    if (diffs.size() < 2) return fail(inference("not enough neighbouring points to detect grid axes"));

    // The shortest difference, the first collected among equal lengths.
    std::size_t shortest = 0;
    double shortest_len = std::hypot(diffs[0][0], diffs[0][1]);
    for (std::size_t k = 1; k < diffs.size(); ++k) {
        const double len = std::hypot(diffs[k][0], diffs[k][1]);
        if (len < shortest_len) {
            shortest_len = len;
            shortest = k;
        }
    }
    if (!(std::isfinite(shortest_len) && shortest_len > 0.0))
        return fail(inference("zero-length vector while detecting grid axes"));
    std::array<double, 2> u{diffs[shortest][0] / shortest_len, diffs[shortest][1] / shortest_len};
    if (u[0] < 0.0 || (u[1] < 0.0 && std::fabs(u[0]) <= 2.220446049250313e-16)) u = {-u[0], -u[1]};
    const std::array<double, 2> nrm{-u[1], u[0]};

    VZ_ASSIGN_OR_RETURN(const double xinc, axis_spacing(diffs, u, tolerance));
    VZ_ASSIGN_OR_RETURN(const double yinc, axis_spacing(diffs, nrm, tolerance));

    const auto k0 = kept.front();
    std::vector<double> a(n);
    std::vector<double> b(n);
    double amin = std::numeric_limits<double>::quiet_NaN();
    double bmin = std::numeric_limits<double>::quiet_NaN();
    for (std::size_t k = 0; k < n; ++k) {
        const double dx = kept[k][0] - k0[0];
        const double dy = kept[k][1] - k0[1];
        a[k] = dx * u[0] + dy * u[1];
        b[k] = dx * nrm[0] + dy * nrm[1];
        amin = std::fmin(amin, a[k]);
        bmin = std::fmin(bmin, b[k]);
    }

    std::vector<std::pair<std::int64_t, std::int64_t>> nodes;
    nodes.reserve(n);
    for (std::size_t k = 0; k < n; ++k) {
        const double fa = (a[k] - amin) / xinc;
        const double fb = (b[k] - bmin) / yinc;
        const std::int64_t column = round_to_index(fa);
        const std::int64_t row = round_to_index(fb);
        const double residual = std::hypot(std::fabs(fa - static_cast<double>(column)) * xinc,
                                           std::fabs(fb - static_cast<double>(row)) * yinc);
        if (residual > tolerance)
            return fail(inference(fmt::format("point misses inferred lattice by {}, above tolerance {}",
                                              fixed(residual, 6), fixed(tolerance, 6))));
        nodes.emplace_back(column, row);
    }
    std::sort(nodes.begin(), nodes.end());
    if (std::adjacent_find(nodes.begin(), nodes.end()) != nodes.end())
        return fail(inference("multiple points map to the same inferred grid node"));

    std::int64_t max_col = kI64Min;
    std::int64_t max_row = kI64Min;
    for (const auto& [c, r] : nodes) {
        max_col = std::max(max_col, c);
        max_row = std::max(max_row, r);
    }
    LatticeFitXY out;
    out.geometry.xori = k0[0] + amin * u[0] + bmin * nrm[0];
    out.geometry.yori = k0[1] + amin * u[1] + bmin * nrm[1];
    out.geometry.xinc = xinc;
    out.geometry.yinc = yinc;
    // Columns and rows are never negative (every projection is at least the
    // smallest), so the largest plus one fits an unsigned count.
    out.geometry.ncol = static_cast<std::uint64_t>(max_col) + 1;
    out.geometry.nrow = static_cast<std::uint64_t>(max_row) + 1;
    out.geometry.rotation_deg = std::atan2(u[1], u[0]) * kRadToDeg;
    out.geometry.yflip = false;
    out.occupied = std::move(nodes);
    return out;
}

Result<GridGeometry> fit_lattice_indexed(std::span<const IndexedNode> nodes, double tolerance) {
    if (!valid_tolerance(tolerance)) return fail(inference("tolerance must be a finite positive number"));
    if (nodes.size() < 4)
        return fail(inference("column/row geometry inference requires at least four indexed points"));
    std::int64_t cmin = kI64Max, cmax = kI64Min, rmin = kI64Max, rmax = kI64Min;
    for (const auto& nd : nodes) {
        cmin = std::min(cmin, nd.column);
        cmax = std::max(cmax, nd.column);
        rmin = std::min(rmin, nd.row);
        rmax = std::max(rmax, nd.row);
    }
    if (cmin == cmax || rmin == rmax)
        return fail(inference("column/row attributes do not span a two-dimensional grid"));
    const std::uint64_t col_span = span_of(cmin, cmax);
    const std::uint64_t row_span = span_of(rmin, rmax);
    if (col_span == std::numeric_limits<std::uint64_t>::max() || row_span == std::numeric_limits<std::uint64_t>::max())
        return fail(inference("column/row indices span more lattice nodes than a count can hold"));

    std::map<std::pair<std::int64_t, std::int64_t>, std::array<double, 2>> by_index;
    for (const auto& nd : nodes) by_index[{nd.column, nd.row}] = {nd.x, nd.y};

    std::vector<double> cdx, cdy, rdx, rdy;
    for (const auto& [key, p] : by_index) {
        const auto [c, r] = key;
        if (c < kI64Max) {
            if (auto it = by_index.find({c + 1, r}); it != by_index.end()) {
                const double dx = it->second[0] - p[0];
                const double dy = it->second[1] - p[1];
                if (std::hypot(dx, dy) > tolerance) {
                    cdx.push_back(dx);
                    cdy.push_back(dy);
                }
            }
        }
        if (r < kI64Max) {
            if (auto it = by_index.find({c, r + 1}); it != by_index.end()) {
                const double dx = it->second[0] - p[0];
                const double dy = it->second[1] - p[1];
                if (std::hypot(dx, dy) > tolerance) {
                    rdx.push_back(dx);
                    rdy.push_back(dy);
                }
            }
        }
    }
    if (cdx.empty() || rdx.empty())
        return fail(inference(
            "column/row attributes are present, but adjacent indexed nodes are too sparse to infer spacing"));
    const double mcdx = *median(std::move(cdx));
    const double mcdy = *median(std::move(cdy));
    const double mrdx = *median(std::move(rdx));
    const double mrdy = *median(std::move(rdy));

    const double xinc = std::hypot(mcdx, mcdy);
    if (!(std::isfinite(xinc) && xinc > 0.0)) return fail(inference("zero-length vector while detecting grid axes"));
    const double cos_r = mcdx / xinc;
    const double sin_r = mcdy / xinc;
    const double sigma = (mcdx * mrdy - mcdy * mrdx) / xinc;
    if (!(std::fabs(sigma) > tolerance))
        return fail(inference("column/row attributes imply a degenerate row spacing"));
    const double yinc = std::fabs(sigma);
    const bool yflip = sigma < 0.0;

    std::vector<double> ox;
    std::vector<double> oy;
    ox.reserve(nodes.size());
    oy.reserve(nodes.size());
    for (const auto& nd : nodes) {
        const double k = static_cast<double>(span_of(cmin, nd.column)) * xinc;
        double w = static_cast<double>(span_of(rmin, nd.row)) * yinc;
        if (yflip) w = -w;
        ox.push_back(nd.x - k * cos_r + w * sin_r);
        oy.push_back(nd.y - k * sin_r - w * cos_r);
    }
    GridGeometry g;
    g.xori = *median(std::move(ox));
    g.yori = *median(std::move(oy));
    g.xinc = xinc;
    g.yinc = yinc;
    g.ncol = col_span + 1;
    g.nrow = row_span + 1;
    g.rotation_deg = std::atan2(sin_r, cos_r) * kRadToDeg;
    g.yflip = yflip;

    std::vector<double> residuals;
    residuals.reserve(nodes.size());
    double worst = 0.0;
    for (const auto& nd : nodes) {
        const auto [x, y] = g.node_xy(span_of(cmin, nd.column), span_of(rmin, nd.row));
        const double res = std::hypot(nd.x - x, nd.y - y);
        residuals.push_back(res);
        worst = std::fmax(worst, res);
    }
    const double med = *median(std::move(residuals));
    if (med > tolerance)
        return fail(inference(fmt::format(
            "column/row nodes miss the inferred regular lattice by a median of {} (worst {}), above tolerance {}; the "
            "mesh is curvilinear rather than a regular grid — use to_structured_surface, which carries explicit "
            "per-node XY",
            fixed(med, 6), fixed(worst, 6), fixed(tolerance, 6))));
    return g;
}

}  // namespace vz::fit
