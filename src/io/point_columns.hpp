#pragma once
/// `PointColumns`: what the point readers deliver — points (x, y, z) in file
/// order and named numeric columns, one value per point, in column order.
/// The point-set loaders turn it into a `PointSet` (`PointSet::from_columns`)
/// and set the history.

#include <array>
#include <string>
#include <vector>

#include "foundation/ordered_map.hpp"

namespace vz {

struct PointColumns {
    std::vector<std::array<double, 3>> points;
    OrderedMap<std::string, std::vector<double>> attributes;
};

/// What the line readers (IRAP polygons, CPS-3 lines) return: rings in file
/// order, each a list of (x, y, z).
using PolygonRings = std::vector<std::vector<std::array<double, 3>>>;

/// What the GeoJSON and shapefile polygon readers return: polygons in file
/// order, each given by its rings of (x, y, z) — the exterior first, then its
/// holes in order. A line (LineString, polyline part) is a polygon of one
/// ring. `PolygonSet::from_polygons` builds the set.
using PolygonsWithHoles = std::vector<PolygonRings>;

}  // namespace vz
