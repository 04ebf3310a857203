#pragma once
/// Outlines of node lattices and the promotion of points that carry integer
/// "column"/"row" attributes to curvilinear (structured) surfaces.
///
/// Node arrays X and Y (and an optional value array V) have one shape
/// (ncol, nrow), indexed [i, j]. Node (i, j) is present when X and Y (and V,
/// when given) are finite there; a cell (c, r) is occupied when its four
/// corners (c, r), (c+1, r), (c+1, r+1), (c, r+1) are present. Rings are
/// counter-clockwise in index space (i to the right, j upwards); the boundary
/// of a gap enclosed by occupied cells comes out clockwise as a polygon of
/// its own. Every failure here is GeometryInference.

#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include "core/grid_geometry.hpp"
#include "core/points.hpp"
#include "core/polygons.hpp"
#include "core/structured_surface.hpp"
#include "foundation/grid2.hpp"
#include "foundation/result.hpp"

namespace vz {

/// How the outline of a node lattice is drawn. Stored in one byte.
enum class EdgeMode : std::uint8_t {
    /// The boundary of the cells whose four corners are present.
    Occupied = 0,
    /// The convex hull of the present nodes.
    ConvexHull = 1,
    /// The four corners of the nominal regular lattice.
    FullRect = 2,
};

/// "Occupied", "ConvexHull", "FullRect".
const char* edge_mode_name(EdgeMode mode);

namespace points {

/// A point with its lattice indices.
struct IndexedPoint {
    std::int64_t column = 0;
    std::int64_t row = 0;
    double x = 0.0;
    double y = 0.0;
    double z = 0.0;

    bool operator==(const IndexedPoint&) const = default;
};

/// Largest number of lattice nodes a conversion of `point_count` points may
/// allocate: 2^25 nodes, or 16 per point for larger sets, never more than the
/// lattice limit of surfaces. Index spans come from data, so a few points
/// with far-apart indices must not ask for arrays no machine can hold.
std::uint64_t lattice_node_budget(std::size_t point_count);

/// (ncol, nrow) = (cmax - cmin + 1, rmax - rmin + 1) when the spans are
/// representable and ncol * nrow lies within `lattice_node_budget`; else
/// GeometryInference "column/row indices span {ncol} x {nrow} nodes, more
/// than the {budget} nodes allowed for {n} points" (counts that overflow are
/// written as their spans plus one in full).
Result<std::pair<std::size_t, std::size_t>> checked_lattice_shape(std::int64_t cmin, std::int64_t cmax,
                                                                   std::int64_t rmin, std::int64_t rmax,
                                                                   std::size_t point_count);

/// The outline of a node lattice by mode. `Occupied`: `occupied_edge`, else
/// `perimeter_edge`, else `convex_hull_edge` (only the last error is kept).
/// `ConvexHull`: `convex_hull_edge`. `FullRect`: the nominal lattice's
/// footprint, or "full_rect edge requires a nominal regular geometry; this
/// mesh is curvilinear — use the occupied edge" without one.
Result<PolygonSet> structured_edge(const Grid2& x, const Grid2& y, const Grid2* v,
                                   const std::optional<GridGeometry>& nominal, EdgeMode mode);

/// The boundary rings of the occupied cells, each a polygon of its own
/// (history ["polygons.from_rings"]). Rings are traced from the start nodes
/// in the order they first got a side; at every node the side added last is
/// taken first. Errors: "occupied edge requires at
/// least 2x2 nodes", "occupied edge value array does not match node
/// geometry", "occupied edge has no complete occupied cells", "occupied edge
/// boundary is not closed", "occupied edge tracing did not close", "occupied
/// edge has fewer than three boundary vertices".
Result<PolygonSet> occupied_edge(const Grid2& x, const Grid2& y, const Grid2* v);

/// The one ring through the lattice's border nodes, counter-clockwise from
/// (0, 0). Errors: "structured surface perimeter edge requires at least 2x2
/// nodes", "structured surface perimeter edge has missing boundary nodes",
/// "structured surface perimeter edge has fewer than three finite nodes".
Result<PolygonSet> perimeter_edge(const Grid2& x, const Grid2& y);

/// The convex hull of the present nodes; "structured surface edge requires
/// at least three non-collinear nodes" when it is degenerate.
Result<PolygonSet> convex_hull_edge(const Grid2& x, const Grid2& y);

/// Positions of the nodes with finite x and y, i outer and j inner.
std::vector<std::array<double, 2>> finite_node_xy(const Grid2& x, const Grid2& y);

/// Indexed points placed on the lattice their (column, row) span: x, y and z
/// arrays of shape (ncol, nrow), NaN where no point stands.
struct PlacedLattice {
    Grid2 x, y, z;
};

/// Places the points of `set` that carry column/row attributes. `what` names
/// the caller in the failure texts: "{what} requires at least four indexed
/// points", "column/row attributes do not span a two-dimensional {span}",
/// "multiple points map to {node} node column={}, row={}" (all
/// `GeometryInference`), plus the errors of `topology_indices` and
/// `checked_lattice_shape`.
Result<PlacedLattice> place_indexed_points(const PointSet& set, std::string_view what, std::string_view span,
                                           std::string_view node);

/// The points with finite x and y whose column and row values are not NaN,
/// with the values rounded to integers, in point order. Errors:
/// "structured surface conversion requires column/row topology attributes",
/// "column/row attributes must match point count", "{column|row} attribute
/// contains a non-finite value", "{column|row} attribute contains non-integer
/// grid indices" (more than 1e-6 from an integer).
Result<std::vector<IndexedPoint>> topology_indices(std::span<const std::array<double, 3>> points,
                                                   const AttributeColumns& attributes);

/// The regular lattice fitted to the indexed points; absent when the column
/// or the row attribute is missing. Errors: "tolerance must be a finite
/// positive number", the attribute errors of `topology_indices`, and the
/// errors of `fit::fit_lattice_indexed`.
Result<std::optional<GridGeometry>> grid_from_topology(std::span<const std::array<double, 3>> points,
                                                       const AttributeColumns& attributes, double tolerance);

/// The points placed on their (column, row) nodes as a structured surface
/// (z as values, no lanes) with the edge chosen by `mode` and, when the nodes
/// fit a regular lattice within `tolerance`, that lattice as nominal
/// geometry; history: the set's plus "points.to_structured_surface(edge={})".
/// Errors: those of `topology_indices`, "structured surface conversion
/// requires at least four indexed points", "column/row attributes do not
/// span a two-dimensional structured surface", the lattice budget of
/// `checked_lattice_shape`, "multiple points map to structured node
/// column={}, row={}", and the edge errors.
Result<StructuredMeshSurface> to_structured_surface(const PointSet& set, double tolerance, EdgeMode mode);

}  // namespace points

}  // namespace vz
