#pragma once
/// The `WellIntersectionSet` class: the result of crossing every well of a
/// `WellsView` with one surface.

#include <cstdint>
#include <vector>

#include "algorithms/batch_intersections.hpp"
#include "core/surface_intersection.hpp"
#include "frame/frame.hpp"

namespace vz::py {

/// `WellIntersectionSet`: the crossings (surface names filled), the skipped
/// and the failed rows, the project the batch ran on, and whether it covered
/// the project's whole well list. Fixed at creation.
struct WellIntersectionSetPayload {
    std::vector<vz::SurfaceIntersection> hits;
    std::vector<vz::WellIntersectionRow> skipped;
    std::vector<vz::WellIntersectionRow> failed;
    /// The `GeoData` object (kept alive by the set).
    Ref project;
    /// Its serial, copied when the set was made: the identity every crossing
    /// handed out carries.
    std::uint64_t project_serial = 0;
    bool complete = false;
};

PyResult<PyTypeObject*> well_intersection_set_type();
PyResult<Ref> new_well_intersection_set(WellIntersectionSetPayload payload);

}  // namespace vz::py
