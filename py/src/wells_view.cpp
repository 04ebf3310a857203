// The class object of this family; its methods are added by the files that build its behaviour.

#include "wells_view.hpp"

namespace vz::py {

namespace {

constexpr const char* kDoc =
    "A lightweight, broadcastable, filterable view over a project's wells.";

ClassDef define() { return ClassDef::of<WellsViewPayload>("WellsView", kDoc); }

}  // namespace

PyResult<PyTypeObject*> wells_view_type() {
    static TypeCell cell;
    return cell.get(define);
}

PyResult<Ref> new_wells_view(std::vector<std::string> ids, std::optional<std::string> top, Ref geo) {
    VZ_ASSIGN_OR_RETURN(PyTypeObject * type, wells_view_type());
    return create_instance(type, WellsViewPayload{std::move(ids), std::move(top), std::move(geo)});
}

}  // namespace vz::py
