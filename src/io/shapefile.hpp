#pragma once
/// ESRI shapefile polylines and polygons, read through the shapefile library
/// from memory (the .shp with its .shx; an index missing beside the .shp is
/// rebuilt from the .shp's own record headers).

#include <filesystem>

#include "foundation/result.hpp"
#include "io/point_columns.hpp"

namespace vz::shapefile {

/// Polygons of (x, y, 0) rings in record order: every part of a polyline
/// record (plain, Z or M) as a polygon of one ring; the parts of a polygon
/// record as polygons with holes — clockwise parts are outer rings,
/// counter-clockwise parts holes of the smallest outer ring of the record
/// that holds them (a hole that none holds, and a part without area, is a
/// polygon of its own); polygons in the order of their outer ring, holes in
/// file order. Parts without points and other record types give nothing.
/// Every failure —
/// a missing or unreadable .shp, an unreadable .shx or .dbf sibling, a
/// malformed header or record, a part that refers to points outside its
/// record — is `Parse` "shapefile: {}".
Result<PolygonsWithHoles> read_polygons(const std::filesystem::path& path);

}  // namespace vz::shapefile
