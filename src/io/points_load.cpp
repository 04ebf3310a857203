#include "io/points_load.hpp"

#include <fmt/format.h>

#include <type_traits>
#include <utility>

#include "expected_macros.hpp"
#include "foundation/memory.hpp"
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

// The loaders run their reader and the set's construction through one guard:
// memory exhaustion anywhere in them is an error naming the loader and file.
template <class Read>
Result<PointSet> to_point_set(Read&& read, std::string entry) {
    return guard_memory(
        [&]() -> Result<PointSet> {
            VZ_ASSIGN_OR_RETURN(PointColumns columns, read());
            VZ_ASSIGN_OR_RETURN(PointSet set,
                                PointSet::from_columns(std::move(columns.points), std::move(columns.attributes)));
            set.history = History::make(entry);
            return set;
        },
        [&] { return memory_error(entry); });
}

// Line readers give rings (each its own polygon); the GeoJSON and shapefile
// readers give polygons with their holes.
template <class Read>
Result<PolygonSet> to_polygon_set(Read&& read, std::string entry) {
    return guard_memory(
        [&]() -> Result<PolygonSet> {
            VZ_ASSIGN_OR_RETURN(auto read_back, read());
            PolygonSet set;
            if constexpr (std::is_same_v<decltype(read_back), PolygonsWithHoles>)
                set = PolygonSet::from_polygons(read_back);
            else
                set = PolygonSet::from_rings(read_back);
            set.history = History::make(entry);
            return set;
        },
        [&] { return memory_error(entry); });
}

std::string entry(std::string_view op, const std::filesystem::path& path) {
    return fmt::format("{}(path={})", op, text::display_path(path));
}

}  // namespace

namespace points_load {

Result<PointSet> load_csv(const std::filesystem::path& path, std::string_view x_column, std::string_view y_column,
                          std::string_view z_column) {
    return to_point_set([&] { return csv_points::read_file(path, x_column, y_column, z_column); },
                        entry("points.load_csv", path));
}

Result<PointSet> load_geojson(const std::filesystem::path& path) {
    return to_point_set([&] { return geojson::read_points(path); }, entry("points.load_geojson", path));
}

Result<PointSet> load_irap_points(const std::filesystem::path& path) {
    return to_point_set([&] { return irap::read_points(path); }, entry("points.load_irap_points", path));
}

Result<PointSet> load_earthvision_grid(const std::filesystem::path& path) {
    return to_point_set([&] { return earthvision::read_points(path); },
                        entry("points.load_earthvision_grid", path));
}

Result<PointSet> load_irap_points_with_topology(const std::filesystem::path& path,
                                                const std::filesystem::path& topology_path) {
    return to_point_set(
        [&]() -> Result<PointColumns> {
            VZ_ASSIGN_OR_RETURN(PointColumns points, irap::read_points(path));
            VZ_ASSIGN_OR_RETURN(PointColumns topology, earthvision::read_points(topology_path));
            return point_data::attach_topology(std::move(points), topology, kTopologyTolerance);
        },
        fmt::format("points.load_irap_points_with_topology(path={}, topology_path={})", text::display_path(path),
                    text::display_path(topology_path)));
}

}  // namespace points_load

namespace polygons_load {

Result<PolygonSet> load_cps3_lines(const std::filesystem::path& path) {
    return to_polygon_set([&] { return cps3::read_lines(path); }, entry("polygons.load_cps3_lines", path));
}

Result<PolygonSet> load_irap_polygons(const std::filesystem::path& path) {
    return to_polygon_set([&] { return irap::read_polygons(path); },
                          entry("polygons.load_irap_polygons", path));
}

Result<PolygonSet> load_geojson(const std::filesystem::path& path) {
    return to_polygon_set([&] { return geojson::read_polygons(path); }, entry("polygons.load_geojson", path));
}

Result<PolygonSet> load_shapefile(const std::filesystem::path& path) {
    return to_polygon_set([&] { return shapefile::read_polygons(path); },
                          entry("polygons.load_shapefile", path));
}

}  // namespace polygons_load
}  // namespace vz
