// The class object of this family; its methods are added by the files that build its behaviour.

#include "sources.hpp"

namespace vz::py {

namespace {

constexpr const char* kPolygonSetDoc =
    "A collection of polygon rings (boundaries, faults, contacts).";

PyResult<std::optional<std::string>> polygon_set_name(PyObject* self) {
    VZ_ASSIGN_OR_RETURN(auto p, borrow<PolygonSetPayload>(self));
    return p->name;
}

PyResult<const char*> polygon_set_kind(PyObject*) { return "polygon_set"; }

ClassDef define_polygon_set() {
    return ClassDef::of<PolygonSetPayload>("PolygonSet", kPolygonSetDoc)
        .getter<&polygon_set_name>("name")
        .getter<&polygon_set_kind>("kind");
}

}  // namespace

PyResult<PyTypeObject*> polygon_set_type() {
    static TypeCell cell;
    return cell.get(define_polygon_set);
}

PyResult<Ref> new_polygon_set(PolygonSetPayload payload) {
    VZ_ASSIGN_OR_RETURN(PyTypeObject * type, polygon_set_type());
    return create_instance(type, std::move(payload));
}

}  // namespace vz::py
