// The class object of this family; its methods are added by the files that build its behaviour.

#include "sources.hpp"

namespace vz::py {

namespace {

constexpr const char* kTriSurfaceDoc =
    "An unstructured triangulated surface over the original points.";

PyResult<std::optional<std::string>> tri_surface_name(PyObject* self) {
    VZ_ASSIGN_OR_RETURN(auto p, borrow<TriSurfacePayload>(self));
    return p->name;
}

PyResult<const char*> tri_surface_kind(PyObject*) { return "tri_surface"; }

ClassDef define_tri_surface() {
    return ClassDef::of<TriSurfacePayload>("TriSurface", kTriSurfaceDoc)
        .getter<&tri_surface_name>("name")
        .getter<&tri_surface_kind>("kind");
}

}  // namespace

PyResult<PyTypeObject*> tri_surface_type() {
    static TypeCell cell;
    return cell.get(define_tri_surface);
}

PyResult<Ref> new_tri_surface(TriSurfacePayload payload) {
    VZ_ASSIGN_OR_RETURN(PyTypeObject * type, tri_surface_type());
    return create_instance(type, std::move(payload));
}

}  // namespace vz::py
