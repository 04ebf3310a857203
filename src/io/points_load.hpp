#pragma once
/// File loaders of `PointSet` and `PolygonSet`: each runs one reader and
/// replaces the history of the result by one entry naming the loader and its
/// path(s) as the caller gave them. A reader's error is returned unchanged.
/// Shared by the project loaders and the Python point and polygon classes.

#include <filesystem>
#include <string_view>

#include "core/points.hpp"
#include "core/polygons.hpp"
#include "foundation/result.hpp"

namespace vz::points_load {

/// Tolerance (x, y and z) within which an IRAP point matches a point of a
/// topology export.
inline constexpr double kTopologyTolerance = 1e-3;

/// A headered CSV file: the named x, y and z columns and every numeric column
/// as an attribute (`csv_points::read_file`); history
/// ["points.load_csv(path={})"].
Result<PointSet> load_csv(const std::filesystem::path& path, std::string_view x_column, std::string_view y_column,
                          std::string_view z_column);

/// GeoJSON points (`geojson::read_points`); history
/// ["points.load_geojson(path={})"].
Result<PointSet> load_geojson(const std::filesystem::path& path);

/// A plain "X Y Z" file (`irap::read_points`); history
/// ["points.load_irap_points(path={})"].
Result<PointSet> load_irap_points(const std::filesystem::path& path);

/// The defined nodes of an EarthVision grid, with "column" and "row"
/// attributes when the file numbers its nodes (`earthvision::read_points`);
/// history ["points.load_earthvision_grid(path={})"].
Result<PointSet> load_earthvision_grid(const std::filesystem::path& path);

/// IRAP points of `path` given the "column" and "row" of the matching nodes
/// of the EarthVision export at `topology_path` (`point_data::attach_topology`
/// within `kTopologyTolerance`); the first failure is returned. History
/// ["points.load_irap_points_with_topology(path={}, topology_path={})"].
Result<PointSet> load_irap_points_with_topology(const std::filesystem::path& path,
                                                const std::filesystem::path& topology_path);

}  // namespace vz::points_load

namespace vz::polygons_load {

/// CPS-3 lines (`cps3::read_lines`) as polygons; history
/// ["polygons.load_cps3_lines(path={})"].
Result<PolygonSet> load_cps3_lines(const std::filesystem::path& path);

/// IRAP polygons separated by 999.0 rows (`irap::read_polygons`); history
/// ["polygons.load_irap_polygons(path={})"].
Result<PolygonSet> load_irap_polygons(const std::filesystem::path& path);

/// GeoJSON lines and polygons with their holes (`geojson::read_polygons`,
/// `PolygonSet::from_polygons`); history ["polygons.load_geojson(path={})"].
Result<PolygonSet> load_geojson(const std::filesystem::path& path);

/// ESRI shapefile polylines and polygons with their holes
/// (`shapefile::read_polygons`, `PolygonSet::from_polygons`); history
/// ["polygons.load_shapefile(path={})"].
Result<PolygonSet> load_shapefile(const std::filesystem::path& path);

}  // namespace vz::polygons_load
