// The class object of this family; its methods are added by the files that build its behaviour.

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

namespace {

constexpr const char* kDoc = "Aggregate returned by `WellsView.intersection(s)`.";

ClassDef define() { return ClassDef::of<WellIntersectionSetPayload>("WellIntersectionSet", kDoc); }

}  // namespace

PyResult<PyTypeObject*> well_intersection_set_type() {
    static TypeCell cell;
    return cell.get(define);
}

PyResult<Ref> new_well_intersection_set(WellIntersectionSetPayload payload) {
    VZ_ASSIGN_OR_RETURN(PyTypeObject * type, well_intersection_set_type());
    return create_instance(type, std::move(payload));
}

}  // namespace vz::py
