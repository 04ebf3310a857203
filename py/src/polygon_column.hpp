#pragma once
/// The `PolygonColumn` class: its payload and the making of its objects.

#include <optional>
#include <string>
#include <vector>

#include "frame/frame.hpp"

namespace vz::py {

/// `PolygonColumn`: the `PolygonSet` object and the column name.
struct PolygonColumnPayload {
    Ref owner;
    std::string name;
};

PyResult<PyTypeObject*> polygon_column_type();
PyResult<Ref> new_polygon_column(Ref owner, std::string name);

}  // namespace vz::py
