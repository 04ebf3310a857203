#pragma once
/// The `PointColumn` class: a detached, named numeric column of a point set
/// (one value per point), with `values`, `stats`, len(), repr() and the
/// arithmetic operators.

#include <string>
#include <vector>

#include "attribute_columns.hpp"
#include "frame/frame.hpp"

namespace vz::py {

/// `PointColumn`: the name it was requested under (a coordinate letter, or
/// the column operand's name for an arithmetic result) and its own copy of
/// the values.
struct PointColumnPayload {
    std::string name;
    std::vector<double> values;
};

PyResult<PyTypeObject*> point_column_type();
/// A new `PointColumn` holding `values` under `name`.
PyResult<Ref> new_point_column(std::string name, std::vector<double> values);

template <>
struct ColumnClass<PointColumnPayload> {
    static constexpr const char* kName = "PointColumn";
    static PyResult<Ref> make(const std::string& name, std::vector<double> values) {
        return new_point_column(name, std::move(values));
    }
};

}  // namespace vz::py
