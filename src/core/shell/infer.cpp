#include "core/shell/infer.hpp"

#include <algorithm>
#include <array>
#include <cmath>
#include <limits>
#include <string>
#include <unordered_set>
#include <vector>

#include <fmt/format.h>

#include "core/shell/fit.hpp"
#include "foundation/error.hpp"

namespace vz::points {

namespace {

Error inference(std::string message) { return Error::geometry_inference(std::move(message)); }

struct KeyHash {
    std::size_t operator()(const std::pair<std::int64_t, std::int64_t>& k) const noexcept {
        std::uint64_t h = static_cast<std::uint64_t>(k.first) * 0x9E3779B97F4A7C15ull;
        h ^= static_cast<std::uint64_t>(k.second) + 0x632BE59BD9B4E019ull + (h << 6) + (h >> 2);
        h ^= h >> 33;
        h *= 0xFF51AFD7ED558CCDull;
        h ^= h >> 33;
        return static_cast<std::size_t>(h);
    }
};

/// True when two finite points share an XY key on the grid of max(tolerance,
/// 1e-9).
bool has_duplicate_xy(const PointSet& set, double tolerance) {
    const double k = 1.0 / std::max(tolerance, 1e-9);
    std::unordered_set<std::pair<std::int64_t, std::int64_t>, KeyHash> seen;
    seen.reserve(set.size());
    for (const auto& p : set.points) {
        if (!std::isfinite(p[0]) || !std::isfinite(p[1])) continue;
        if (!seen.emplace(fit::round_to_index(p[0] * k), fit::round_to_index(p[1] * k)).second) return true;
    }
    return false;
}

Error with_duplicate_diagnosis(const Error& fit_error) {
    return inference(fmt::format(
        "{}; duplicate XY nodes were found and no column/row topology attributes are available. Petrel surface point "
        "exports can lose grid topology in plain IRAP-points form; an EarthVisionGrid export (or a point file carrying "
        "column/row) restores it. Note that topology alone does not make a mesh regular — if the recovered mesh is "
        "curvilinear it has no GridGeometry at all, and to_structured_surface is the exact representation",
        fit_error.message()));
}

/// Occupied edge over the fitted lattice's own node positions, falling back
/// to the perimeter of the lattice.
Result<PolygonSet> bare_occupied_edge(const GridGeometry& g,
                                      const std::vector<std::pair<std::int64_t, std::int64_t>>& occupied,
                                      std::size_t point_count) {
    if (g.ncol == 0 || g.nrow == 0) return fail(inference("occupied edge requires at least 2x2 nodes"));
    // Counts come from the fit; hold them to the budget before allocating.
    VZ_ASSIGN_OR_RETURN(const auto shape, checked_lattice_shape(0, static_cast<std::int64_t>(g.ncol - 1), 0,
                                                                static_cast<std::int64_t>(g.nrow - 1), point_count));
    const double nan = std::numeric_limits<double>::quiet_NaN();
    Grid2 x(shape.first, shape.second, nan);
    Grid2 y(shape.first, shape.second, nan);
    for (const auto& [c, r] : occupied) {
        const auto i = static_cast<std::uint64_t>(c);
        const auto j = static_cast<std::uint64_t>(r);
        const auto [wx, wy] = g.node_xy(i, j);
        x(i, j) = wx;
        y(i, j) = wy;
    }
    if (auto edge = occupied_edge(x, y, nullptr)) return edge;
    return perimeter_edge(x, y);
}

/// Occupied edge over the points' own positions at their (column, row).
Result<PolygonSet> indexed_occupied_edge(const PointSet& set) {
    VZ_ASSIGN_OR_RETURN(const PlacedLattice placed,
                        place_indexed_points(set, "topology-aware occupied edge", "occupied edge", "topology"));
    const Grid2& x = placed.x;
    const Grid2& y = placed.y;
    if (auto edge = occupied_edge(x, y, nullptr)) return edge;
    if (auto edge = perimeter_edge(x, y)) return edge;
    return convex_hull_edge(x, y);
}

}  // namespace

Result<std::pair<GridGeometry, PolygonSet>> infer_geometry(const PointSet& set, double tolerance, EdgeMode mode) {
    VZ_ASSIGN_OR_RETURN(const auto indexed, grid_from_topology(set.points, set.attributes, tolerance));
    GridGeometry geometry;
    std::vector<std::pair<std::int64_t, std::int64_t>> occupied;
    const bool column_row_path = indexed.has_value();
    if (column_row_path) {
        geometry = *indexed;
    } else {
        auto bare = fit::fit_lattice_xy(set.points, tolerance);
        if (!bare) {
            const bool no_topology = !column_attr_name(set.attributes) && !row_attr_name(set.attributes);
            if (no_topology && bare.error().kind() == ErrorKind::GeometryInference && has_duplicate_xy(set, tolerance))
                return fail(with_duplicate_diagnosis(bare.error()));
            return fail(std::move(bare).error());
        }
        geometry = bare->geometry;
        occupied = std::move(bare->occupied);
    }

    switch (mode) {
        case EdgeMode::FullRect: return std::pair{geometry, PolygonSet::from_grid_geometry(geometry)};
        case EdgeMode::ConvexHull: {
            std::vector<std::array<double, 2>> xy;
            xy.reserve(set.size());
            for (const auto& p : set.points)
                if (std::isfinite(p[0]) && std::isfinite(p[1])) xy.push_back({p[0], p[1]});
            auto hull = PolygonSet::convex_hull_xy(xy);
            if (!hull) return fail(inference("convex hull edge requires at least three non-collinear points"));
            return std::pair{geometry, std::move(*hull)};
        }
        case EdgeMode::Occupied: {
            auto edge = column_row_path ? indexed_occupied_edge(set) : bare_occupied_edge(geometry, occupied, set.size());
            if (!edge) return fail(std::move(edge).error());
            return std::pair{geometry, std::move(*edge)};
        }
    }
    return fail(inference("unknown edge mode"));
}

Result<GridGeometry> infer_grid_geometry(const PointSet& set, double tolerance) {
    VZ_ASSIGN_OR_RETURN(auto inferred, infer_geometry(set, tolerance, EdgeMode::FullRect));
    return inferred.first;
}

}  // namespace vz::points
