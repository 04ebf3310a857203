#include "gridding/resample.hpp"

#include <cmath>
#include <cstdint>
#include <limits>
#include <new>

#include <fmt/format.h>

namespace vz::gridding {

namespace {

constexpr double kDegToRad = 0.017453292519943295;
constexpr double kSnap = 1e-9;
// Node counts above this (1 TiB of doubles) are refused rather than allocated.
constexpr std::uint64_t kMaxNodes = std::uint64_t{1} << 37;

double snap(double f) {
    const double r = std::round(f);
    return std::fabs(f - r) < kSnap ? r : f;
}

}  // namespace

ToolsResult<std::vector<double>> resample(std::span<const double> values, std::size_t src_ncol,
                                          std::size_t src_nrow, const Lattice& src, const Lattice& dst,
                                          bool nearest) {
    std::size_t src_count = 0;
    const bool shape_ok = src_ncol == src.ncol && src_nrow == src.nrow &&
                          !__builtin_mul_overflow(src_ncol, src_nrow, &src_count) && src_count == values.size();
    if (!shape_ok)
        return std::unexpected(ToolsError::invalid_argument(fmt::format(
            "resample: src_grid shape ({}, {}) does not match src_georef ({}, {})", src_ncol, src_nrow,
            src.ncol, src.nrow)));
    if (src.ncol == 0 || src.nrow == 0 || src.xinc == 0.0 || src.yinc == 0.0)
        return std::unexpected(ToolsError::invalid_geometry(
            "resample: degenerate source geometry (empty grid or zero node spacing)"));
    std::uint64_t dst_count = 0;
    if (__builtin_mul_overflow(dst.ncol, dst.nrow, &dst_count) || dst_count > kMaxNodes)
        return std::unexpected(ToolsError::invalid_argument(
            fmt::format("resample: target grid (ncol={}, nrow={}) is too large", dst.ncol, dst.nrow)));

    constexpr double nan = std::numeric_limits<double>::quiet_NaN();
    std::vector<double> out;
    try {
        out.assign(static_cast<std::size_t>(dst_count), nan);
    } catch (const std::bad_alloc&) {
        return std::unexpected(ToolsError::invalid_argument(
            fmt::format("resample: target grid (ncol={}, nrow={}) is too large", dst.ncol, dst.nrow)));
    }
    if (dst_count == 0) return out;
    for (double f : {src.xori, src.yori, src.xinc, src.yinc, src.rotation_deg})
        if (!std::isfinite(f)) return out;

    // Target transform, node (i, j) -> world.
    const double tr = dst.rotation_deg * kDegToRad;
    const double tdy = dst.yflip ? -dst.yinc : dst.yinc;
    const double tc = std::cos(tr), ts = std::sin(tr);
    const double tax = tc * dst.xinc, tbx = ts * tdy;  // x = xori + tax*i - tbx*j
    const double tay = ts * dst.xinc, tby = tc * tdy;  // y = yori + tay*i + tby*j
    // Source inverse transform, world -> fractional (fi, fj).
    const double sr = src.rotation_deg * kDegToRad;
    const double sc = std::cos(sr), ss = std::sin(sr);
    const double vsign = src.yflip ? -1.0 : 1.0;
    const double maxi = static_cast<double>(src.ncol - 1), maxj = static_cast<double>(src.nrow - 1);
    const std::size_t sn = src_nrow, last_i = src_ncol - 1, last_j = src_nrow - 1;

    const std::size_t nrow = static_cast<std::size_t>(dst.nrow);
    for (std::size_t i = 0; i < static_cast<std::size_t>(dst.ncol); ++i) {
        const double di = static_cast<double>(i);
        for (std::size_t j = 0; j < nrow; ++j) {
            const double dj = static_cast<double>(j);
            const double x = dst.xori + tax * di - tbx * dj;
            const double y = dst.yori + tay * di + tby * dj;
            if (!std::isfinite(x) || !std::isfinite(y)) continue;
            const double ex = x - src.xori, ey = y - src.yori;
            const double u = sc * ex + ss * ey;
            const double v = (sc * ey - ss * ex) * vsign;
            double fi = u / src.xinc, fj = v / src.yinc;
            if (!std::isfinite(fi) || !std::isfinite(fj)) continue;
            fi = snap(fi);
            fj = snap(fj);
            if (!(fi >= 0.0 && fi <= maxi && fj >= 0.0 && fj <= maxj)) continue;
            const auto ni = static_cast<std::size_t>(std::round(fi));
            const auto nj = static_cast<std::size_t>(std::round(fj));
            const double near = values[ni * sn + nj];
            double& cell = out[i * nrow + j];
            if (nearest) {
                cell = near;
                continue;
            }
            if (std::isnan(near)) continue;
            const auto i0 = static_cast<std::size_t>(std::floor(fi));
            const auto j0 = static_cast<std::size_t>(std::floor(fj));
            const std::size_t i1 = i0 + 1 < last_i ? i0 + 1 : last_i;
            const std::size_t j1 = j0 + 1 < last_j ? j0 + 1 : last_j;
            const double tx = fi - static_cast<double>(i0), ty = fj - static_cast<double>(j0);
            const double w[4] = {(1.0 - tx) * (1.0 - ty), tx * (1.0 - ty), (1.0 - tx) * ty, tx * ty};
            const double z[4] = {values[i0 * sn + j0], values[i1 * sn + j0], values[i0 * sn + j1],
                                 values[i1 * sn + j1]};
            double wsum = 0.0, acc = 0.0;
            for (int k = 0; k < 4; ++k) {
                if (w[k] > 0.0 && std::isfinite(z[k])) {
                    wsum += w[k];
                    acc += w[k] * z[k];
                }
            }
            if (wsum > 0.0) cell = acc / wsum;
        }
    }
    return out;
}

}  // namespace vz::gridding
