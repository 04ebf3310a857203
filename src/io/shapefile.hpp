#pragma once
/// ESRI shapefile polylines and polygons, read through the shapefile library
/// from memory (the .shp with its .shx; an index missing beside the .shp is
/// rebuilt from the .shp's own record headers).

#include <filesystem>

#include "foundation/result.hpp"
#include "io/point_columns.hpp"

namespace vz::shapefile {

/// Every part of every polyline and polygon record (plain, Z or M) as one
/// ring of (x, y, 0); other record types give nothing. Every failure —
/// a missing or unreadable .shp, an unreadable .shx or .dbf sibling, a
/// malformed header or record, a part that refers to points outside its
/// record — is `Parse` "shapefile: {}".
Result<PolygonRings> read_polygons(const std::filesystem::path& path);

}  // namespace vz::shapefile
