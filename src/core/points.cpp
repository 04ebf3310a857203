#include "core/points.hpp"

#include <fmt/format.h>

#include <algorithm>
#include <cmath>
#include <utility>

#include "core/geometry/spatial_index.hpp"
#include "core/gridding.hpp"
#include "foundation/format.hpp"

namespace vz {

namespace {

Error row_count_error(std::string_view name, std::size_t got, std::size_t expected) {
    return Error::parse(fmt::format("point attribute '{}' has {} rows, expected {}", name, got, expected));
}

}  // namespace

std::vector<std::string> attribute_names(const AttributeColumns& columns) {
    std::vector<std::string> names;
    names.reserve(columns.size());
    for (const auto& [name, values] : columns) names.push_back(name);
    return names;
}

std::optional<std::span<const double>> attribute_column(const AttributeColumns& columns, std::string_view name) {
    auto it = columns.find(std::string(name));
    if (it == columns.end()) return std::nullopt;
    return std::span<const double>(it->second);
}

PointSet PointSet::from_coords(std::vector<std::array<double, 3>> points) {
    return {std::move(points), {}, History::make("points.from_coords")};
}

Result<PointSet> PointSet::from_columns(std::vector<std::array<double, 3>> points, AttributeColumns columns) {
    for (const auto& [name, values] : columns)
        if (values.size() != points.size()) return fail(row_count_error(name, values.size(), points.size()));
    return PointSet{std::move(points), std::move(columns), History()};
}

std::optional<Stats> PointSet::stats(std::string_view name) const {
    auto column = attr(name);
    if (!column) return std::nullopt;
    return Stats::from_values(*column);
}

Stats PointSet::z_stats() const {
    std::vector<double> z;
    z.reserve(points.size());
    for (const auto& p : points) z.push_back(p[2]);
    return Stats::from_values(z);
}

std::optional<std::size_t> PointSet::nearest(double x, double y) const {
    if (points.empty()) return std::nullopt;
    std::vector<std::array<double, 2>> xy;
    xy.reserve(points.size());
    for (const auto& p : points) xy.push_back({p[0], p[1]});
    const auto index = geometry::PointIndex::bulk_load(xy);
    auto hit = index.nearest(x, y);
    if (!hit) return std::nullopt;
    return hit->index;
}

Result<void> PointSet::set_attr(std::string_view name, std::vector<double> values) {
    if (values.size() != points.size()) return fail(row_count_error(name, values.size(), points.size()));
    attributes.insert_or_assign(std::string(name), std::move(values));
    history.push(fmt::format("points.set_attr(name={})", name));
    return {};
}

Result<Surface> PointSet::to_surface(const GridGeometry& geometry, GriddingMethod method) const {
    VZ_ASSIGN_OR_RETURN(Grid2 values, gridding::grid(points, geometry, method));
    VZ_ASSIGN_OR_RETURN(Surface surface, Surface::make(geometry, std::move(values)));
    surface.history = History::derive(history, fmt::format("points.to_surface(method={})", gridding_method_name(method)));
    return surface;
}

namespace points {

std::string normalize_attr_name(std::string_view name) {
    std::string out(trim_unicode(name));
    for (char& c : out) {
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
        else if (c == ' ' || c == '-')
            c = '_';
    }
    return out;
}

namespace {

std::optional<std::string> first_named(const AttributeColumns& columns, std::initializer_list<std::string_view> wanted) {
    for (const auto& [name, values] : columns) {
        const std::string n = normalize_attr_name(name);
        if (std::find(wanted.begin(), wanted.end(), n) != wanted.end()) return name;
    }
    return std::nullopt;
}

}  // namespace

std::optional<std::string> column_attr_name(const AttributeColumns& columns) {
    return first_named(columns, {"column", "col"});
}

std::optional<std::string> row_attr_name(const AttributeColumns& columns) { return first_named(columns, {"row"}); }

}  // namespace points

}  // namespace vz
