#include "core/surface_ops.hpp"

#include <cmath>
#include <limits>

#include <fmt/format.h>

#include "core/surface.hpp"
#include "foundation/format.hpp"

namespace vz {

namespace {

Surface derived(const Surface& src, Grid2 values, std::string entry) {
    return Surface{src.geom, std::move(values), std::nullopt, {}, History::derive(src.history, std::move(entry))};
}

template <class F>
Grid2 map_values(const Grid2& in, F f) {
    std::vector<double> out(in.size());
    const std::span<const double> v = in.values();
    for (std::size_t k = 0; k < out.size(); ++k) out[k] = f(v[k]);
    return Grid2(in.ncol(), in.nrow(), std::move(out));
}

Error differing_geometry(std::string_view op) {
    return Error::geometry_mismatch(
        fmt::format("Surface::{}: operands have differing geometry \u2014 resample first", op));
}

template <class F>
Result<Surface> binary(const Surface& left, const Surface& right, std::string_view op, F f) {
    if (!(left.geom == right.geom) || left.values.size() != right.values.size()) return fail(differing_geometry(op));
    const std::span<const double> a = left.values.values(), b = right.values.values();
    std::vector<double> out(a.size());
    for (std::size_t k = 0; k < out.size(); ++k) out[k] = f(a[k], b[k]);
    History h = left.history;
    History::extend_prefixed(h, "rhs", right.history);
    h.push(fmt::format("surface.{}(surface)", op));
    return Surface{left.geom, Grid2(left.values.ncol(), left.values.nrow(), std::move(out)), std::nullopt, {},
                   std::move(h)};
}

Surface scalar(const Surface& s, std::string_view op, double x, double (*f)(double, double)) {
    return derived(s, map_values(s.values, [&](double v) { return f(v, x); }),
                   fmt::format("surface.{}_scalar({})", op, num(x)));
}

Result<void> check_bounds(const Surface& s, double lo, double hi) {
    if (s.values.empty()) return {};
    if (lo > hi || std::isnan(lo) || std::isnan(hi))
        return fail(Error::out_of_range(fmt::format("min > max, or either was NaN. min = {}, max = {}",
                                                    debug_num(lo), debug_num(hi))));
    return {};
}

Grid2 clamp_values(const Grid2& in, double lo, double hi) {
    return map_values(in, [lo, hi](double v) { return v < lo ? lo : (v > hi ? hi : v); });
}

}  // namespace

// ---- two surfaces ------------------------------------------------------------

Result<Surface> Surface::plus(const Surface& rhs) const {
    return binary(*this, rhs, "plus", [](double a, double b) { return a + b; });
}
Result<Surface> Surface::minus(const Surface& rhs) const {
    return binary(*this, rhs, "minus", [](double a, double b) { return a - b; });
}
Result<Surface> Surface::times(const Surface& rhs) const {
    return binary(*this, rhs, "times", [](double a, double b) { return a * b; });
}
Result<Surface> Surface::divided_by(const Surface& rhs) const {
    return binary(*this, rhs, "divided_by", [](double a, double b) { return a / b; });
}

// ---- scalars -----------------------------------------------------------------

Surface Surface::add_scalar(double s) const {
    return scalar(*this, "add", s, [](double v, double x) { return v + x; });
}
Surface Surface::sub_scalar(double s) const {
    return scalar(*this, "sub", s, [](double v, double x) { return v - x; });
}
Surface Surface::mul_scalar(double s) const {
    return scalar(*this, "mul", s, [](double v, double x) { return v * x; });
}
Surface Surface::div_scalar(double s) const {
    return scalar(*this, "div", s, [](double v, double x) { return v / x; });
}
Surface Surface::rsub_scalar(double x) const { return mul_scalar(-1.0).add_scalar(x); }
Surface Surface::powf_scalar(double s) const {
    return scalar(*this, "powf", s, [](double v, double x) { return std::pow(v, x); });
}

Result<Surface> Surface::clamp_min_scalar(double lo) const {
    constexpr double inf = std::numeric_limits<double>::infinity();
    VZ_TRY(check_bounds(*this, lo, inf));
    return derived(*this, clamp_values(values, lo, inf), fmt::format("surface.clamp_min_scalar({})", num(lo)));
}

Result<Surface> Surface::clamp(double lo, double hi) const {
    VZ_TRY(check_bounds(*this, lo, hi));
    return derived(*this, clamp_values(values, lo, hi), fmt::format("surface.clamp({}, {})", num(lo), num(hi)));
}

// ---- element functions -----------------------------------------------------

Surface Surface::ln() const {
    return derived(*this, map_values(values, [](double v) { return std::log(v); }), "surface.ln()");
}
Surface Surface::log10() const {
    return derived(*this, map_values(values, [](double v) { return std::log10(v); }), "surface.log10()");
}
Surface Surface::exp() const {
    return derived(*this, map_values(values, [](double v) { return std::exp(v); }), "surface.exp()");
}
Surface Surface::sqrt() const {
    return derived(*this, map_values(values, [](double v) { return std::sqrt(v); }), "surface.sqrt()");
}
Surface Surface::abs() const {
    return derived(*this, map_values(values, [](double v) { return std::fabs(v); }), "surface.abs()");
}

// ---- thickness -------------------------------------------------------------

Result<Surface> Surface::thickness(const Surface& base, bool clamp_zero) const {
    VZ_ASSIGN_OR_RETURN(Surface r, base.minus(*this));
    if (clamp_zero) {
        VZ_ASSIGN_OR_RETURN(r, r.clamp_min_scalar(0.0));
    }
    r.history.push(fmt::format("surface.thickness(clamp_zero={})", boolstr(clamp_zero)));
    return r;
}

// ---- collecting helpers and the dip kernel -----------------------------------

namespace surface_ops {

std::vector<double> lane_values(const Grid2& lane) {
    const auto v = lane.values();
    return std::vector<double>(v.begin(), v.end());
}

std::vector<double> non_nan_values(const Grid2& lane) {
    std::vector<double> out;
    out.reserve(lane.size());
    for (double v : lane.values())
        if (!std::isnan(v)) out.push_back(v);
    return out;
}

std::pair<Grid2, Grid2> dip_grids(const Grid2& V, const GridGeometry& geom) {
    constexpr double nan = std::numeric_limits<double>::quiet_NaN();
    constexpr double kRadToDeg = 57.29577951308232;
    const std::size_t ncol = V.ncol(), nrow = V.nrow();
    Grid2 dip(ncol, nrow, nan), az(ncol, nrow, nan);
    const double dx = geom.xinc;
    const double dy = geom.yflip ? -geom.yinc : geom.yinc;
    if (nrow == 0 || ncol == 0 || dx == 0.0 || !std::isfinite(dx) || dy == 0.0 || !std::isfinite(dy))
        return {std::move(dip), std::move(az)};
    const double r = geom.rotation_deg * 0.017453292519943295;
    const double s = std::sin(r), c = std::cos(r);
    const std::span<const double> v = V.values();
    // Each node's result depends only on its neighbours, so the storage order
    // (column outer) is as good as any and keeps the writes contiguous.
    for (std::size_t i = 0; i < ncol; ++i) {
        for (std::size_t j = 0; j < nrow; ++j) {
            const std::size_t k = i * nrow + j;
            const double centre = v[k];
            if (std::isnan(centre)) continue;
            const bool has_left = i > 0 && !std::isnan(v[k - nrow]);
            const bool has_right = i + 1 < ncol && !std::isnan(v[k + nrow]);
            const bool has_down = j > 0 && !std::isnan(v[k - 1]);
            const bool has_up = j + 1 < nrow && !std::isnan(v[k + 1]);
            double gi, gj;
            if (has_left && has_right)
                gi = (v[k + nrow] - v[k - nrow]) / (dx + dx);
            else if (has_right)
                gi = (v[k + nrow] - centre) / dx;
            else if (has_left)
                gi = (centre - v[k - nrow]) / dx;
            else
                continue;
            if (has_down && has_up)
                gj = (v[k + 1] - v[k - 1]) / (dy + dy);
            else if (has_up)
                gj = (v[k + 1] - centre) / dy;
            else if (has_down)
                gj = (centre - v[k - 1]) / dy;
            else
                continue;
            const double gx = c * gi - s * gj;
            const double gy = s * gi + c * gj;
            const double h = std::hypot(gx, gy);
            dip(i, j) = std::atan(h) * kRadToDeg;
            if (h != 0.0) {
                double a = std::atan2(-gx, -gy) * kRadToDeg;
                a = std::fmod(a, 360.0);
                if (a < 0.0) a += 360.0;
                az(i, j) = a;
            }
        }
    }
    return {std::move(dip), std::move(az)};
}

}  // namespace surface_ops

}  // namespace vz
