#pragma once
/// The `PointColumn` class: its payload and the making of its objects.

#include <optional>
#include <string>
#include <vector>

#include "frame/frame.hpp"

namespace vz::py {

/// `PointColumn`: the `PointSet` object and the column name.
struct PointColumnPayload {
    Ref owner;
    std::string name;
};

PyResult<PyTypeObject*> point_column_type();
PyResult<Ref> new_point_column(Ref owner, std::string name);

}  // namespace vz::py
