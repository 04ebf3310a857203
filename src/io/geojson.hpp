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

/// One ring of (x, y, 0) per LineString, line of a MultiLineString and ring
/// of a Polygon or MultiPolygon (holes included), collections recursively;
/// points and empty lines give nothing. `Io`; `Parse` "GeoJSON polygons: {}".
Result<PolygonRings> read_polygons(const std::filesystem::path& path);

}  // namespace vz::geojson
