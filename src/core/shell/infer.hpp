#pragma once
/// Geometry inference of a point set: the regular lattice its points sit on
/// and an outline of the part of it they cover. Column/row attributes, when
/// present, choose the indexed fit; otherwise the lattice is fitted to the
/// bare XY, and a failed bare fit on points that repeat XY positions gets a
/// diagnosis (a point export that lost its grid topology). Never produces
/// values; the point set is never changed.

#include <utility>

#include "core/grid_geometry.hpp"
#include "core/points.hpp"
#include "core/polygons.hpp"
#include "core/shell/edges.hpp"
#include "foundation/result.hpp"

namespace vz::points {

/// The lattice and its outline by `mode`. Errors (GeometryInference unless a
/// called operation says otherwise): "tolerance must be a finite positive
/// number"; the attribute and fit errors; the fit's message followed by
/// "; duplicate XY nodes were found and no column/row topology attributes
/// are available. …" when the bare fit fails on a set without column and row
/// attributes that repeats an XY key; "convex hull edge requires at least
/// three non-collinear points"; on the column/row path "topology-aware
/// occupied edge requires at least four indexed points", "column/row
/// attributes do not span a two-dimensional occupied edge", "multiple points
/// map to topology node column={}, row={}"; the lattice budget of
/// `checked_lattice_shape`; the edge errors of the occupied chain.
Result<std::pair<GridGeometry, PolygonSet>> infer_geometry(const PointSet& set, double tolerance, EdgeMode mode);

/// `infer_geometry` with the `FullRect` edge, the edge dropped.
Result<GridGeometry> infer_grid_geometry(const PointSet& set, double tolerance);

}  // namespace vz::points
