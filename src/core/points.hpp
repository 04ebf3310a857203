#pragma once
/// `PointSet`: scattered points (x, y, z) in load order, named numeric
/// attribute columns with one value per point, and an operation history.
///
/// A point set is a value: operations return new values or change only the
/// set they are called on. Coordinates and attribute values are stored as
/// given (NaN and infinities included); operations that need finite
/// coordinates filter them. Column names match exactly (case-sensitive).

#include <array>
#include <cstddef>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "core/grid_geometry.hpp"
#include "core/gridding_method.hpp"
#include "core/surface.hpp"
#include "foundation/history.hpp"
#include "foundation/ordered_map.hpp"
#include "foundation/result.hpp"
#include "foundation/statistics.hpp"

namespace vz {

/// Attribute columns by name, in the order they were first added.
using AttributeColumns = OrderedMap<std::string, std::vector<double>>;

/// Column names of `columns` in insertion order (shared by point and polygon sets).
std::vector<std::string> attribute_names(const AttributeColumns& columns);
/// The column called exactly `name`, or absent.
std::optional<std::span<const double>> attribute_column(const AttributeColumns& columns, std::string_view name);

struct PointSet {
    /// (x easting, y northing, z vertical value) per point, in load order.
    std::vector<std::array<double, 3>> points;
    /// One value per point per column.
    AttributeColumns attributes;
    /// Oldest entry first.
    History history;

    /// The points as given, no columns, history ["points.from_coords"].
    static PointSet from_coords(std::vector<std::array<double, 3>> points);

    /// The points with `columns` in their order and an empty history (the
    /// reader's caller sets it). `Parse` "point attribute '{}' has {} rows,
    /// expected {}" for the first column, in insertion order, whose length is
    /// not the point count.
    static Result<PointSet> from_columns(std::vector<std::array<double, 3>> points, AttributeColumns columns);

    /// Number of points.
    std::size_t size() const { return points.size(); }

    /// Column names in insertion order.
    std::vector<std::string> attr_names() const { return attribute_names(attributes); }
    /// Read-only view of the column called exactly `name`, or absent.
    std::optional<std::span<const double>> attr(std::string_view name) const {
        return attribute_column(attributes, name);
    }
    /// Statistics of the column (NaN skipped), or absent when there is no such column.
    std::optional<Stats> stats(std::string_view name) const;
    /// Statistics of the z values of all points (NaN skipped).
    Stats z_stats() const;

    /// Index of the point nearest to (x, y) in the plane (z plays no part);
    /// among equally near points the lowest index. Points with a non-finite x
    /// or y are not considered. Absent for an empty set, a non-finite query or
    /// when no point has a finite position.
    std::optional<std::size_t> nearest(double x, double y) const;

    /// Inserts or replaces column `name` (a new name goes last, an existing
    /// one keeps its place) and appends "points.set_attr(name={})". `Parse`
    /// "point attribute '{}' has {} rows, expected {}" when the value count is
    /// not the point count; the set is then unchanged.
    Result<void> set_attr(std::string_view name, std::vector<double> values);

    /// z gridded onto `geometry` with `method`: a surface with no lanes and no
    /// primary metadata whose history is this set's followed by
    /// "points.to_surface(method={})" (the method's member name). Errors:
    /// Tools "empty input: grid: no points to grid" for an empty set.
    Result<Surface> to_surface(const GridGeometry& geometry, GriddingMethod method) const;

    /// Field-wise equality (columns compared in order; NaN never equal).
    bool operator==(const PointSet&) const = default;
};

namespace points {

/// Trims Unicode white space from both ends, lower-cases ASCII A-Z and turns
/// every space and hyphen-minus into an underscore.
std::string normalize_attr_name(std::string_view name);

/// The first column, in insertion order, whose normalised name is "column"
/// or "col"; absent when none qualifies.
std::optional<std::string> column_attr_name(const AttributeColumns& columns);
/// The first column, in insertion order, whose normalised name is "row".
std::optional<std::string> row_attr_name(const AttributeColumns& columns);

}  // namespace points

}  // namespace vz
