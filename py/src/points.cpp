// The class object of this family; its methods are added by the files that build its behaviour.

#include "sources.hpp"

namespace vz::py {

namespace {

constexpr const char* kPointSetDoc =
    "Scattered 3-D points with named `f64` attribute columns.";

PyResult<std::optional<std::string>> point_set_name(PyObject* self) {
    VZ_ASSIGN_OR_RETURN(auto p, borrow<PointSetPayload>(self));
    return p->name;
}

PyResult<const char*> point_set_kind(PyObject*) { return "point_set"; }

ClassDef define_point_set() {
    return ClassDef::of<PointSetPayload>("PointSet", kPointSetDoc)
        .getter<&point_set_name>("name")
        .getter<&point_set_kind>("kind");
}

}  // namespace

PyResult<PyTypeObject*> point_set_type() {
    static TypeCell cell;
    return cell.get(define_point_set);
}

PyResult<Ref> new_point_set(PointSetPayload payload) {
    VZ_ASSIGN_OR_RETURN(PyTypeObject * type, point_set_type());
    return create_instance(type, std::move(payload));
}

}  // namespace vz::py
