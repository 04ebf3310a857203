#include "core/polygons.hpp"

#include <fmt/format.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <utility>

#include "core/geometry/predicates.hpp"
#include "core/polygon_mask.hpp"
#include "foundation/format.hpp"

namespace vz {

namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kInf = std::numeric_limits<double>::infinity();

bool finite(const Coord& c) { return std::isfinite(c.x) && std::isfinite(c.y); }

}  // namespace

void close_ring(std::vector<Coord>& ring) {
    if (ring.empty()) return;
    const Coord first = ring.front(), last = ring.back();
    if (!(last.x == first.x && last.y == first.y)) ring.push_back(first);
}

Polygon Polygon::closed(std::vector<Coord> exterior, std::vector<std::vector<Coord>> interiors) {
    close_ring(exterior);
    for (auto& ring : interiors) close_ring(ring);
    return {std::move(exterior), std::move(interiors)};
}

RingPosition classify_point_in_ring(double x, double y, std::span<const Coord> ring) {
    if (ring.empty()) return RingPosition::Outside;
    if (ring.size() == 1) return ring[0].x == x && ring[0].y == y ? RingPosition::OnBoundary : RingPosition::Outside;
    if (!std::isfinite(x) || !std::isfinite(y)) return RingPosition::Outside;
    long winding = 0;
    for (std::size_t k = 0; k + 1 < ring.size(); ++k) {
        const Coord a = ring[k], b = ring[k + 1];
        if (!finite(a) || !finite(b)) continue;
        const double o = geometry::orient2d(a.x, a.y, b.x, b.y, x, y);
        if (o == 0.0 && std::min(a.x, b.x) <= x && x <= std::max(a.x, b.x) && std::min(a.y, b.y) <= y &&
            y <= std::max(a.y, b.y))
            return RingPosition::OnBoundary;
        if (a.y <= y) {
            if (b.y > y && o > 0.0) ++winding;  // upward crossing, point on the left
        } else if (b.y <= y && o < 0.0) {
            --winding;  // downward crossing, point on the right
        }
    }
    return winding != 0 ? RingPosition::Inside : RingPosition::Outside;
}

double ring_area(std::span<const Coord> ring) {
    if (ring.size() < 3) return 0.0;
    const Coord first = ring.front(), last = ring.back();
    if (!(last.x == first.x && last.y == first.y)) return 0.0;
    double sum = 0.0;
    for (std::size_t k = 0; k + 1 < ring.size(); ++k) {
        const double x0 = ring[k].x - first.x, y0 = ring[k].y - first.y;
        const double x1 = ring[k + 1].x - first.x, y1 = ring[k + 1].y - first.y;
        sum += x0 * y1 - x1 * y0;
    }
    return sum * 0.5;
}

bool Polygon::contains(double x, double y) const {
    if (exterior.empty()) return false;
    if (classify_point_in_ring(x, y, exterior) != RingPosition::Inside) return false;
    for (const auto& hole : interiors)
        if (classify_point_in_ring(x, y, hole) != RingPosition::Outside) return false;
    return true;
}

double Polygon::signed_area() const {
    const double outer = ring_area(exterior);
    double holes = 0.0;
    for (const auto& ring : interiors) holes += std::fabs(ring_area(ring));
    const double magnitude = std::fabs(outer) - holes;
    return outer < 0.0 ? -magnitude : magnitude;
}

PolygonSet PolygonSet::from_rings(std::span<const std::vector<std::array<double, 3>>> rings) {
    PolygonSet set;
    for (const auto& ring : rings) {
        if (ring.size() <= 2) continue;
        std::vector<Coord> exterior;
        exterior.reserve(ring.size() + 1);
        for (const auto& v : ring) exterior.push_back({v[0], v[1]});
        set.polygons.push_back(Polygon::closed(std::move(exterior)));
    }
    set.history = History::make("polygons.from_rings");
    return set;
}

namespace {

// The (x, y) of a ring read with z, in order.
std::vector<Coord> planar(const std::vector<std::array<double, 3>>& ring) {
    std::vector<Coord> out;
    out.reserve(ring.size() + 1);
    for (const auto& v : ring) out.push_back({v[0], v[1]});
    return out;
}

}  // namespace

PolygonSet PolygonSet::from_polygons(std::span<const std::vector<std::vector<std::array<double, 3>>>> polygons) {
    PolygonSet set;
    set.polygons.reserve(polygons.size());
    for (const auto& rings : polygons) {
        if (rings.empty() || rings.front().size() <= 2) continue;
        std::vector<std::vector<Coord>> holes;
        holes.reserve(rings.size() - 1);
        for (std::size_t k = 1; k < rings.size(); ++k)
            if (rings[k].size() > 2) holes.push_back(planar(rings[k]));
        set.polygons.push_back(Polygon::closed(planar(rings.front()), std::move(holes)));
    }
    set.history = History::make("polygons.from_polygons");
    return set;
}

PolygonSet PolygonSet::from_grid_geometry(const GridGeometry& geometry) {
    const std::uint64_t a = geometry.ncol == 0 ? 0 : geometry.ncol - 1;
    const std::uint64_t b = geometry.nrow == 0 ? 0 : geometry.nrow - 1;
    std::vector<std::array<double, 3>> ring;
    for (auto [i, j] : {std::pair{std::uint64_t{0}, std::uint64_t{0}}, std::pair{a, std::uint64_t{0}}, std::pair{a, b},
                        std::pair{std::uint64_t{0}, b}}) {
        const auto [x, y] = geometry.node_xy(i, j);
        ring.push_back({x, y, 0.0});
    }
    PolygonSet set = from_rings(std::span(&ring, 1));
    set.history = History::make("polygons.from_grid_geometry");
    return set;
}

std::optional<PolygonSet> PolygonSet::convex_hull_xy(std::span<const std::array<double, 2>> points) {
    if (points.size() < 2) return std::nullopt;
    std::vector<std::array<double, 2>> pts(points.begin(), points.end());
    std::stable_sort(pts.begin(), pts.end(), [](const auto& p, const auto& q) {
        const auto px = total_order_key(p[0]), qx = total_order_key(q[0]);
        if (px != qx) return px < qx;
        return total_order_key(p[1]) < total_order_key(q[1]);
    });
    std::vector<std::array<double, 2>> unique;
    unique.reserve(pts.size());
    for (const auto& p : pts)
        if (unique.empty() || !(unique.back()[0] == p[0] && unique.back()[1] == p[1])) unique.push_back(p);
    if (unique.size() < 3) return std::nullopt;

    auto cross = [](const auto& o, const auto& a, const auto& p) {
        return (a[0] - o[0]) * (p[1] - o[1]) - (a[1] - o[1]) * (p[0] - o[0]);
    };
    auto chain = [&](auto first, auto last) {
        std::vector<std::array<double, 2>> c;
        for (auto it = first; it != last; ++it) {
            while (c.size() >= 2 && cross(c[c.size() - 2], c.back(), *it) <= 0.0) c.pop_back();
            c.push_back(*it);
        }
        return c;
    };
    auto lower = chain(unique.begin(), unique.end());
    auto upper = chain(unique.rbegin(), unique.rend());
    lower.pop_back();
    upper.pop_back();
    if (lower.size() + upper.size() <= 2) return std::nullopt;

    std::vector<std::array<double, 3>> ring;
    ring.reserve(lower.size() + upper.size());
    for (const auto& p : lower) ring.push_back({p[0], p[1], 0.0});
    for (const auto& p : upper) ring.push_back({p[0], p[1], 0.0});
    PolygonSet set = from_rings(std::span(&ring, 1));
    set.history = History::make("polygons.convex_hull_xy");
    return set;
}

std::vector<double> PolygonSet::areas() const {
    std::vector<double> out;
    out.reserve(polygons.size());
    for (const Polygon& p : polygons) out.push_back(std::fabs(p.signed_area()));
    return out;
}

double PolygonSet::total_area() const {
    double total = -0.0;
    for (double a : areas()) total += a;
    return total;
}

BBox PolygonSet::bbox() const {
    BBox b{kInf, kInf, -kInf, -kInf};
    bool any = false;
    for (const Polygon& p : polygons) {
        for (const Coord& c : p.exterior) {
            any = true;
            b.xmin = std::fmin(b.xmin, c.x);
            b.ymin = std::fmin(b.ymin, c.y);
            b.xmax = std::fmax(b.xmax, c.x);
            b.ymax = std::fmax(b.ymax, c.y);
        }
    }
    if (!any) return {kNaN, kNaN, kNaN, kNaN};
    return b;
}

std::vector<std::vector<std::array<double, 3>>> PolygonSet::rings() const {
    std::vector<std::vector<std::array<double, 3>>> out;
    out.reserve(polygons.size());
    for (const Polygon& p : polygons) {
        std::vector<std::array<double, 3>> ring;
        ring.reserve(p.exterior.size());
        for (const Coord& c : p.exterior) ring.push_back({c.x, c.y, 0.0});
        out.push_back(std::move(ring));
    }
    return out;
}

bool PolygonSet::contains(double x, double y) const {
    return std::ranges::any_of(polygons, [&](const Polygon& p) { return p.contains(x, y); });
}

Surface PolygonSet::clip(const Surface& surface) const {
    const std::size_t ncol = surface.values.ncol(), nrow = surface.values.nrow();
    std::vector<std::uint8_t> inside(ncol * nrow, 0);
    lattice_containment(polygons, surface.geom, ncol, nrow, inside);
    Grid2 values(ncol, nrow, kNaN);
    const std::vector<double>& source = surface.values.data();
    std::vector<double>& target = values.data();
    for (std::size_t k = 0; k < inside.size(); ++k)
        if (inside[k]) target[k] = source[k];
    History history = surface.history;
    History::extend_prefixed(history, "mask", this->history);
    history.push("polygons.clip(surface)");
    return Surface{surface.geom, std::move(values), std::nullopt, {}, std::move(history)};
}

Result<void> PolygonSet::set_attr(std::string_view name, std::vector<double> values) {
    if (values.size() != polygons.size())
        return fail(Error::parse(
            fmt::format("polygon attribute '{}' has {} rows, expected {}", name, values.size(), polygons.size())));
    attributes.insert_or_assign(std::string(name), std::move(values));
    history.push(fmt::format("polygons.set_attr(name={})", name));
    return {};
}

}  // namespace vz
