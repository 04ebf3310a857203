#pragma once
/// GeoJSON points and polygons. The document is parsed whole (feature
/// collection, single feature or bare geometry) before it is walked.

#include <filesystem>

#include "foundation/result.hpp"
#include "io/point_columns.hpp"

namespace vz::geojson {

/// One point per feature with at least one position: the last position of
/// its geometry (third ordinate or 0); numeric and boolean properties become
/// columns (first met first, within a feature in ascending name order), NaN
/// where a feature has none. A bare geometry counts as one feature without
/// properties. `Io` when the file cannot be opened; `Parse` "GeoJSON points:
/// {}" for malformed JSON or GeoJSON, a position with fewer than two
/// ordinates included.
Result<PointColumns> read_points(const std::filesystem::path& path);

/// Polygons in document order, collections recursively, rings as
/// (x, y, 0): one per Polygon and per polygon of a MultiPolygon, with its
/// rings as read (the exterior first, then its holes, empty rings kept in
/// place); one of a single ring per LineString and per line of a
/// MultiLineString (an empty line gives nothing); points give nothing.
/// `Io`; `Parse` "GeoJSON polygons: {}".
Result<PolygonsWithHoles> read_polygons(const std::filesystem::path& path);

}  // namespace vz::geojson
