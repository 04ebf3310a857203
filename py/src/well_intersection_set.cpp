// The class object of this family; its methods are added by the files that build its behaviour.

#include "well_intersection_set.hpp"

namespace vz::py {

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
