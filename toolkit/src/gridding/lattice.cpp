#include "gridding/lattice.hpp"

#include <cmath>
#include <limits>

namespace vz::gridding {

namespace {
constexpr double kDegToRad = 0.017453292519943295;
}

NodeTransform node_transform(const Lattice& g) {
    const double r = g.rotation_deg * kDegToRad;
    const double dy = g.yflip ? -g.yinc : g.yinc;
    const double c = std::cos(r), s = std::sin(r);
    return {g.xori, g.yori, c * g.xinc, s * dy, s * g.xinc, c * dy};
}

std::pair<double, double> node_xy_f(const Lattice& g, double fi, double fj) { return node_transform(g).at(fi, fj); }

std::pair<double, double> node_xy(const Lattice& g, std::uint64_t i, std::uint64_t j) {
    return node_xy_f(g, static_cast<double>(i), static_cast<double>(j));
}

std::optional<std::pair<double, double>> xy_to_ij(const Lattice& g, double x, double y) {
    if (g.xinc == 0.0 || g.yinc == 0.0) return std::nullopt;
    for (double v : {g.xori, g.yori, g.xinc, g.yinc, g.rotation_deg, x, y})
        if (!std::isfinite(v)) return std::nullopt;
    const double r = g.rotation_deg * kDegToRad;
    const double ex = x - g.xori, ey = y - g.yori;
    const double c = std::cos(r), s = std::sin(r);
    const double u = ex * c + ey * s;
    double v = ey * c - ex * s;
    if (g.yflip) v = -v;
    const double fi = u / g.xinc, fj = v / g.yinc;
    if (!std::isfinite(fi) || !std::isfinite(fj)) return std::nullopt;
    return std::pair{fi, fj};
}

Box lattice_bbox(const Lattice& g) {
    const std::uint64_t a = g.ncol == 0 ? 0 : g.ncol - 1;
    const std::uint64_t b = g.nrow == 0 ? 0 : g.nrow - 1;
    constexpr double inf = std::numeric_limits<double>::infinity();
    Box box{inf, inf, -inf, -inf};
    const std::pair<std::uint64_t, std::uint64_t> corners[4] = {{0, 0}, {a, 0}, {0, b}, {a, b}};
    for (auto [i, j] : corners) {
        auto [x, y] = node_xy(g, i, j);
        if (!std::isnan(x)) {
            box.xmin = std::fmin(box.xmin, x);
            box.xmax = std::fmax(box.xmax, x);
        }
        if (!std::isnan(y)) {
            box.ymin = std::fmin(box.ymin, y);
            box.ymax = std::fmax(box.ymax, y);
        }
    }
    return box;
}

}  // namespace vz::gridding
