#include "io/points_load.hpp"

#include <fmt/format.h>

#include <utility>

#include "expected_macros.hpp"
#include "io/cps3.hpp"
#include "io/csv.hpp"
#include "io/earthvision.hpp"
#include "io/geojson.hpp"
#include "io/irap.hpp"
#include "io/point_columns.hpp"
#include "io/shapefile.hpp"
#include "io/text.hpp"

namespace vz {

namespace {

Result<PointSet> to_point_set(Result<PointColumns> read, std::string entry) {
    if (!read) return fail(std::move(read).error());
    VZ_ASSIGN_OR_RETURN(PointSet set, PointSet::from_columns(std::move(read->points), std::move(read->attributes)));
    set.history = History::make(std::move(entry));
    return set;
}

Result<PolygonSet> to_polygon_set(Result<PolygonRings> read, std::string entry) {
    if (!read) return fail(std::move(read).error());
    PolygonSet set = PolygonSet::from_rings(*read);
    set.history = History::make(std::move(entry));
    return set;
}

std::string entry(std::string_view op, const std::filesystem::path& path) {
    return fmt::format("{}(path={})", op, text::display_path(path));
}

}  // namespace

namespace points_load {

Result<PointSet> load_csv(const std::filesystem::path& path, std::string_view x_column, std::string_view y_column,
                          std::string_view z_column) {
    return to_point_set(csv_points::read_file(path, x_column, y_column, z_column), entry("points.load_csv", path));
}

Result<PointSet> load_geojson(const std::filesystem::path& path) {
    return to_point_set(geojson::read_points(path), entry("points.load_geojson", path));
}

Result<PointSet> load_irap_points(const std::filesystem::path& path) {
    return to_point_set(irap::read_points(path), entry("points.load_irap_points", path));
}

Result<PointSet> load_earthvision_grid(const std::filesystem::path& path) {
    return to_point_set(earthvision::read_points(path), entry("points.load_earthvision_grid", path));
}

Result<PointSet> load_irap_points_with_topology(const std::filesystem::path& path,
                                                const std::filesystem::path& topology_path) {
    VZ_ASSIGN_OR_RETURN(PointColumns points, irap::read_points(path));
    VZ_ASSIGN_OR_RETURN(PointColumns topology, earthvision::read_points(topology_path));
    return to_point_set(point_data::attach_topology(std::move(points), topology, kTopologyTolerance),
                        fmt::format("points.load_irap_points_with_topology(path={}, topology_path={})",
                                    text::display_path(path), text::display_path(topology_path)));
}

}  // namespace points_load

namespace polygons_load {

Result<PolygonSet> load_cps3_lines(const std::filesystem::path& path) {
    return to_polygon_set(cps3::read_lines(path), entry("polygons.load_cps3_lines", path));
}

Result<PolygonSet> load_irap_polygons(const std::filesystem::path& path) {
    return to_polygon_set(irap::read_polygons(path), entry("polygons.load_irap_polygons", path));
}

Result<PolygonSet> load_geojson(const std::filesystem::path& path) {
    return to_polygon_set(geojson::read_polygons(path), entry("polygons.load_geojson", path));
}

Result<PolygonSet> load_shapefile(const std::filesystem::path& path) {
    return to_polygon_set(shapefile::read_polygons(path), entry("polygons.load_shapefile", path));
}

}  // namespace polygons_load
}  // namespace vz
