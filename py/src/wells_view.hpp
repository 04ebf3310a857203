#pragma once
/// The `WellsView` class: its payload and the making of its objects.

#include <optional>
#include <string>
#include <vector>

#include "frame/frame.hpp"

namespace vz::py {

/// `WellsView`: copies of the well identifiers, an optional remembered top
/// and the `GeoData` object.
struct WellsViewPayload {
    std::vector<std::string> ids;
    std::optional<std::string> top;
    Ref geo;
};

PyResult<PyTypeObject*> wells_view_type();
PyResult<Ref> new_wells_view(std::vector<std::string> ids, std::optional<std::string> top, Ref geo);

}  // namespace vz::py
