#include "core/shell/edges.hpp"

#include <algorithm>
#include <cmath>
#include <limits>
#include <memory>
#include <string>
#include <unordered_map>

#include <fmt/format.h>

#include "core/shell/fit.hpp"
#include "core/surface.hpp"
#include "foundation/error.hpp"

namespace vz {

const char* edge_mode_name(EdgeMode mode) {
    switch (mode) {
        case EdgeMode::Occupied: return "Occupied";
        case EdgeMode::ConvexHull: return "ConvexHull";
        case EdgeMode::FullRect: return "FullRect";
    }
    return "?";
}

namespace points {

namespace {

Error inference(std::string message) { return Error::geometry_inference(std::move(message)); }

bool present(const Grid2& x, const Grid2& y, const Grid2* v, std::size_t i, std::size_t j) {
    return std::isfinite(x(i, j)) && std::isfinite(y(i, j)) && (v == nullptr || std::isfinite((*v)(i, j)));
}

/// Reads one index value: absent to skip the point (NaN), the rounded integer,
/// or the error naming `what` ("column" or "row").
Result<std::optional<std::int64_t>> read_index(double value, const char* what) {
    if (std::isnan(value)) return std::optional<std::int64_t>{};
    if (!std::isfinite(value)) return fail(inference(fmt::format("{} attribute contains a non-finite value", what)));
    const double r = std::round(value);
    if (std::fabs(value - r) > 1e-6)
        return fail(inference(fmt::format("{} attribute contains non-integer grid indices", what)));
    return std::optional<std::int64_t>{fit::round_to_index(r)};
}

/// The indexed points of columns already found, with the length check.
Result<std::vector<IndexedPoint>> indices_from(std::span<const std::array<double, 3>> points,
                                               std::span<const double> columns, std::span<const double> rows) {
    if (columns.size() != points.size() || rows.size() != points.size())
        return fail(inference("column/row attributes must match point count"));
    std::vector<IndexedPoint> out;
    out.reserve(points.size());
    for (std::size_t k = 0; k < points.size(); ++k) {
        const auto& p = points[k];
        if (!std::isfinite(p[0]) || !std::isfinite(p[1])) continue;
        VZ_ASSIGN_OR_RETURN(const auto c, read_index(columns[k], "column"));
        if (!c) continue;
        VZ_ASSIGN_OR_RETURN(const auto r, read_index(rows[k], "row"));
        if (!r) continue;
        out.push_back({*c, *r, p[0], p[1], p[2]});
    }
    return out;
}

struct ColumnRow {
    std::span<const double> columns;
    std::span<const double> rows;
};

std::optional<ColumnRow> find_column_row(const AttributeColumns& attributes) {
    const auto cname = column_attr_name(attributes);
    const auto rname = row_attr_name(attributes);
    if (!cname || !rname) return std::nullopt;
    return ColumnRow{*attribute_column(attributes, *cname), *attribute_column(attributes, *rname)};
}

std::array<double, 3> world_vertex(const Grid2& x, const Grid2& y, std::size_t node, std::size_t nrow) {
    return {x(node / nrow, node % nrow), y(node / nrow, node % nrow), 0.0};
}

}  // namespace

std::uint64_t lattice_node_budget(std::size_t point_count) {
    const std::uint64_t floor_budget = std::uint64_t{1} << 25;
    const std::uint64_t per_point =
        point_count > kMaxGridNodes / 16 ? kMaxGridNodes : static_cast<std::uint64_t>(point_count) * 16;
    return std::min(kMaxGridNodes, std::max(floor_budget, per_point));
}

Result<std::pair<std::size_t, std::size_t>> checked_lattice_shape(std::int64_t cmin, std::int64_t cmax,
                                                                   std::int64_t rmin, std::int64_t rmax,
                                                                   std::size_t point_count) {
    // Spans as exact unsigned differences; plus one may wrap only at 2^64 - 1.
    const std::uint64_t cspan = static_cast<std::uint64_t>(cmax) - static_cast<std::uint64_t>(cmin);
    const std::uint64_t rspan = static_cast<std::uint64_t>(rmax) - static_cast<std::uint64_t>(rmin);
    const std::uint64_t budget = lattice_node_budget(point_count);
    const auto count_text = [](std::uint64_t span) {
        return span == std::numeric_limits<std::uint64_t>::max() ? std::string("18446744073709551616")
                                                                  : std::to_string(span + 1);
    };
    const bool fits = cspan < budget && rspan < budget && (cspan + 1) <= budget / (rspan + 1);
    if (!fits)
        return fail(inference(fmt::format("lattice of {} x {} nodes exceeds the {} nodes allowed for {} points",
                                          count_text(cspan), count_text(rspan), budget, point_count)));
    return std::pair{static_cast<std::size_t>(cspan + 1), static_cast<std::size_t>(rspan + 1)};
}

std::vector<std::array<double, 2>> finite_node_xy(const Grid2& x, const Grid2& y) {
    std::vector<std::array<double, 2>> out;
    const std::size_t ncol = std::min(x.ncol(), y.ncol());
    const std::size_t nrow = std::min(x.nrow(), y.nrow());
    for (std::size_t i = 0; i < ncol; ++i)
        for (std::size_t j = 0; j < nrow; ++j)
            if (std::isfinite(x(i, j)) && std::isfinite(y(i, j))) out.push_back({x(i, j), y(i, j)});
    return out;
}

Result<PolygonSet> convex_hull_edge(const Grid2& x, const Grid2& y) {
    const auto nodes = finite_node_xy(x, y);
    auto hull = PolygonSet::convex_hull_xy(nodes);
    if (!hull) return fail(inference("structured surface edge requires at least three non-collinear nodes"));
    return std::move(*hull);
}

Result<PolygonSet> perimeter_edge(const Grid2& x, const Grid2& y) {
    const std::size_t ncol = x.ncol();
    const std::size_t nrow = x.nrow();
    if (ncol < 2 || nrow < 2) return fail(inference("structured surface perimeter edge requires at least 2x2 nodes"));
    if (y.ncol() != ncol || y.nrow() != nrow) return fail(inference("node arrays x and y differ in shape"));
    std::vector<std::array<double, 3>> ring;
    ring.reserve(2 * ncol + 2 * nrow - 4);
    const auto visit = [&](std::size_t i, std::size_t j) {
        if (!std::isfinite(x(i, j)) || !std::isfinite(y(i, j))) return false;
        ring.push_back({x(i, j), y(i, j), 0.0});
        return true;
    };
    bool ok = true;
    for (std::size_t i = 0; ok && i < ncol; ++i) ok = visit(i, 0);
    for (std::size_t j = 1; ok && j < nrow; ++j) ok = visit(ncol - 1, j);
    for (std::size_t i = ncol - 1; ok && i-- > 0;) ok = visit(i, nrow - 1);
    for (std::size_t j = nrow - 1; ok && j-- > 1;) ok = visit(0, j);
    if (!ok) return fail(inference("structured surface perimeter edge has missing boundary nodes"));
    if (ring.size() < 3) return fail(inference("structured surface perimeter edge has fewer than three finite nodes"));
    const std::vector<std::vector<std::array<double, 3>>> rings{std::move(ring)};
    return PolygonSet::from_rings(rings);
}

Result<PolygonSet> occupied_edge(const Grid2& x, const Grid2& y, const Grid2* v) {
    const std::size_t ncol = x.ncol();
    const std::size_t nrow = x.nrow();
    if (ncol < 2 || nrow < 2) return fail(inference("occupied edge requires at least 2x2 nodes"));
    if (y.ncol() != ncol || y.nrow() != nrow) return fail(inference("node arrays x and y differ in shape"));
    if (v != nullptr && (v->ncol() != ncol || v->nrow() != nrow))
        return fail(inference("occupied edge value array does not match node geometry"));

    const std::size_t ccol = ncol - 1;
    const std::size_t crow = nrow - 1;
    std::vector<char> node_present(ncol * nrow);
    for (std::size_t i = 0; i < ncol; ++i)
        for (std::size_t j = 0; j < nrow; ++j) node_present[i * nrow + j] = present(x, y, v, i, j) ? 1 : 0;
    const auto node = [nrow](std::size_t i, std::size_t j) { return i * nrow + j; };
    std::vector<char> occupied(ccol * crow);
    for (std::size_t c = 0; c < ccol; ++c)
        for (std::size_t r = 0; r < crow; ++r)
            occupied[c * crow + r] = node_present[node(c, r)] && node_present[node(c + 1, r)] &&
                                     node_present[node(c + 1, r + 1)] && node_present[node(c, r + 1)];
    const auto occ = [&](std::size_t c, std::size_t r) { return occupied[c * crow + r] != 0; };

    // Directed boundary sides, start node -> end nodes in the order added;
    // `starts` keeps the start nodes in first-added order so that tracing is
    // reproducible.
    std::unordered_map<std::size_t, std::vector<std::size_t>> sides;
    std::vector<std::size_t> starts;
    std::size_t side_count = 0;
    const auto add_side = [&](std::size_t from, std::size_t to) {
        auto [it, inserted] = sides.try_emplace(from);
        if (inserted) starts.push_back(from);
        it->second.push_back(to);
        ++side_count;
    };
    for (std::size_t r = 0; r < crow; ++r) {
        for (std::size_t c = 0; c < ccol; ++c) {
            if (!occ(c, r)) continue;
            if (r == 0 || !occ(c, r - 1)) add_side(node(c, r), node(c + 1, r));
            if (c + 1 == ccol || !occ(c + 1, r)) add_side(node(c + 1, r), node(c + 1, r + 1));
            if (r + 1 == crow || !occ(c, r + 1)) add_side(node(c + 1, r + 1), node(c, r + 1));
            if (c == 0 || !occ(c - 1, r)) add_side(node(c, r + 1), node(c, r));
        }
    }
    if (side_count == 0) return fail(inference("occupied edge has no complete occupied cells"));

    const auto take_last = [&](std::size_t from) -> std::optional<std::size_t> {
        auto it = sides.find(from);
        if (it == sides.end()) return std::nullopt;
        const std::size_t to = it->second.back();
        it->second.pop_back();
        if (it->second.empty()) sides.erase(it);
        return to;
    };

    std::vector<std::vector<std::array<double, 3>>> rings;
    std::size_t cursor = 0;
    while (!sides.empty()) {
        while (!sides.contains(starts[cursor])) ++cursor;
        const std::size_t start = starts[cursor];
        std::vector<std::size_t> ring{start};
        std::size_t current = *take_last(start);
        while (current != start) {
            ring.push_back(current);
            if (ring.size() > side_count + 1) return fail(inference("occupied edge tracing did not close"));
            const auto next = take_last(current);
            if (!next) return fail(inference("occupied edge boundary is not closed"));
            current = *next;
        }
        if (ring.size() >= 3) {
            std::vector<std::array<double, 3>> world;
            world.reserve(ring.size());
            for (const std::size_t nd : ring) world.push_back(world_vertex(x, y, nd, nrow));
            rings.push_back(std::move(world));
        }
    }
    if (rings.empty()) return fail(inference("occupied edge has fewer than three boundary vertices"));
    return PolygonSet::from_rings(rings);
}

Result<PolygonSet> structured_edge(const Grid2& x, const Grid2& y, const Grid2* v,
                                   const std::optional<GridGeometry>& nominal, EdgeMode mode) {
    switch (mode) {
        case EdgeMode::Occupied: {
            if (auto edge = occupied_edge(x, y, v)) return edge;
            if (auto edge = perimeter_edge(x, y)) return edge;
            return convex_hull_edge(x, y);
        }
        case EdgeMode::ConvexHull: return convex_hull_edge(x, y);
        case EdgeMode::FullRect:
            if (!nominal)
                return fail(inference(
                    "full_rect edge requires a nominal regular geometry; this mesh is curvilinear — use the occupied edge"));
            return PolygonSet::from_grid_geometry(*nominal);
    }
    return fail(inference("unknown edge mode"));
}

Result<std::vector<IndexedPoint>> topology_indices(std::span<const std::array<double, 3>> points,
                                                   const AttributeColumns& attributes) {
    const auto cr = find_column_row(attributes);
    if (!cr) return fail(inference("structured surface conversion requires column/row topology attributes"));
    return indices_from(points, cr->columns, cr->rows);
}

Result<std::optional<GridGeometry>> grid_from_topology(std::span<const std::array<double, 3>> points,
                                                       const AttributeColumns& attributes, double tolerance) {
    if (!(std::isfinite(tolerance) && tolerance > 0.0))
        return fail(inference("tolerance must be a finite positive number"));
    const auto cr = find_column_row(attributes);
    if (!cr) return std::optional<GridGeometry>{};
    VZ_ASSIGN_OR_RETURN(const auto indexed, indices_from(points, cr->columns, cr->rows));
    std::vector<fit::IndexedNode> nodes;
    nodes.reserve(indexed.size());
    for (const auto& p : indexed) nodes.push_back({p.column, p.row, p.x, p.y});
    VZ_ASSIGN_OR_RETURN(const GridGeometry g, fit::fit_lattice_indexed(nodes, tolerance));
    return std::optional<GridGeometry>{g};
}

Result<PlacedLattice> place_indexed_points(const PointSet& set, std::string_view what, std::string_view span,
                                           std::string_view node) {
    VZ_ASSIGN_OR_RETURN(const auto nodes, topology_indices(set.points, set.attributes));
    if (nodes.size() < 4) return fail(inference(fmt::format("{} requires at least four indexed points", what)));
    std::int64_t cmin = nodes[0].column, cmax = nodes[0].column, rmin = nodes[0].row, rmax = nodes[0].row;
    for (const auto& p : nodes) {
        cmin = std::min(cmin, p.column);
        cmax = std::max(cmax, p.column);
        rmin = std::min(rmin, p.row);
        rmax = std::max(rmax, p.row);
    }
    if (!(cmin < cmax && rmin < rmax))
        return fail(inference(fmt::format("column/row attributes do not span a two-dimensional {}", span)));
    VZ_ASSIGN_OR_RETURN(const auto shape, checked_lattice_shape(cmin, cmax, rmin, rmax, set.size()));
    const auto [ncol, nrow] = shape;

    const double nan = std::numeric_limits<double>::quiet_NaN();
    PlacedLattice out{Grid2(ncol, nrow, nan), Grid2(ncol, nrow, nan), Grid2(ncol, nrow, nan)};
    std::vector<char> filled(ncol * nrow, 0);
    for (const auto& p : nodes) {
        const auto i = static_cast<std::size_t>(static_cast<std::uint64_t>(p.column) - static_cast<std::uint64_t>(cmin));
        const auto j = static_cast<std::size_t>(static_cast<std::uint64_t>(p.row) - static_cast<std::uint64_t>(rmin));
        if (filled[i * nrow + j])
            return fail(inference(
                fmt::format("multiple points map to {} node column={}, row={}", node, p.column, p.row)));
        filled[i * nrow + j] = 1;
        out.x(i, j) = p.x;
        out.y(i, j) = p.y;
        out.z(i, j) = p.z;
    }
    return out;
}

Result<StructuredMeshSurface> to_structured_surface(const PointSet& set, double tolerance, EdgeMode mode) {
    VZ_ASSIGN_OR_RETURN(PlacedLattice placed,
                        place_indexed_points(set, "structured surface conversion", "structured surface", "structured"));
    Grid2& x = placed.x;
    Grid2& y = placed.y;
    Grid2& z = placed.z;

    std::optional<GridGeometry> nominal;
    if (auto g = grid_from_topology(set.points, set.attributes, tolerance); g && *g) nominal = **g;

    VZ_ASSIGN_OR_RETURN(PolygonSet edge, structured_edge(x, y, &z, nominal, mode));
    VZ_ASSIGN_OR_RETURN(StructuredMeshSurface surface,
                        StructuredMeshSurface::make(std::move(x), std::move(y), std::move(z), nominal, std::move(edge)));
    surface.history = History::derive(set.history, fmt::format("points.to_structured_surface(edge={})", edge_mode_name(mode)));
    return surface;
}

}  // namespace points

}  // namespace vz
