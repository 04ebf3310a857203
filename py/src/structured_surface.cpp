// The class object of this family; its methods are added by the files that build its behaviour.

#include "sources.hpp"

namespace vz::py {

namespace {

constexpr const char* kStructuredMeshSurfaceDoc =
    "A structured mesh surface: regular logical topology, explicit XY nodes.";

PyResult<std::optional<std::string>> structured_surface_name(PyObject* self) {
    VZ_ASSIGN_OR_RETURN(auto p, borrow<StructuredSurfacePayload>(self));
    return p->name;
}

PyResult<const char*> structured_surface_kind(PyObject*) { return "structured_mesh"; }

ClassDef define_structured_surface() {
    return ClassDef::of<StructuredSurfacePayload>("StructuredMeshSurface", kStructuredMeshSurfaceDoc)
        .getter<&structured_surface_name>("name")
        .getter<&structured_surface_kind>("kind");
}

}  // namespace

PyResult<PyTypeObject*> structured_surface_type() {
    static TypeCell cell;
    return cell.get(define_structured_surface);
}

PyResult<Ref> new_structured_surface(StructuredSurfacePayload payload) {
    VZ_ASSIGN_OR_RETURN(PyTypeObject * type, structured_surface_type());
    return create_instance(type, std::move(payload));
}

}  // namespace vz::py
