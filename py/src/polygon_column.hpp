#pragma once
/// The `PolygonColumn` class: a detached, named numeric column of a polygon
/// set (one value per polygon), with the members of `PointColumn` and a call
/// that yields the stored scalar of the `area` column.

#include <optional>
#include <string>
#include <vector>

#include "attribute_columns.hpp"
#include "frame/frame.hpp"

namespace vz::py {

/// `PolygonColumn`: the scalar a call returns (present only on the column
/// of `PolygonSet.area`, holding the total area), the name and the values.
struct PolygonColumnPayload {
    std::optional<double> call_value;
    std::string name;
    std::vector<double> values;
};

PyResult<PyTypeObject*> polygon_column_type();
/// A new `PolygonColumn`.
PyResult<Ref> new_polygon_column(std::optional<double> call_value, std::string name, std::vector<double> values);

template <>
struct ColumnClass<PolygonColumnPayload> {
    static constexpr const char* kName = "PolygonColumn";
    /// Arithmetic results carry no call value.
    static PyResult<Ref> make(const std::string& name, std::vector<double> values) {
        return new_polygon_column(std::nullopt, name, std::move(values));
    }
};

}  // namespace vz::py
