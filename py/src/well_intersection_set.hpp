#pragma once
/// The `WellIntersectionSet` class: its payload and the making of its objects.

#include <string>
#include <utility>
#include <vector>

#include "core/surface_intersection.hpp"
#include "frame/frame.hpp"

namespace vz::py {

/// One well or bore a batch intersection skipped or could not search.
struct WellIntersectionRow {
    std::string well;
    std::string bore;
    std::string reason;
    std::string message;
};

/// `WellIntersectionSet`: the crossings, the skipped and the failed rows,
/// the project the batch ran on, and whether it covered every well.
struct WellIntersectionSetPayload {
    std::vector<vz::SurfaceIntersection> hits;
    std::vector<WellIntersectionRow> skipped;
    std::vector<WellIntersectionRow> failed;
    Ref project;
    bool complete = false;
};

PyResult<PyTypeObject*> well_intersection_set_type();
PyResult<Ref> new_well_intersection_set(WellIntersectionSetPayload payload);

}  // namespace vz::py
