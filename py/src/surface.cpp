// The class object of this family; its methods are added by the files that build its behaviour.

#include "sources.hpp"

namespace vz::py {

namespace {

constexpr const char* kSurfaceDoc =
    "A regular gridded surface (IRAP/RMS model): a primary value layer plus named\n"
    "attribute layers on the same geometry.";

PyResult<std::optional<std::string>> surface_name(PyObject* self) {
    VZ_ASSIGN_OR_RETURN(auto p, borrow<SurfacePayload>(self));
    return p->name;
}

PyResult<const char*> surface_kind(PyObject*) { return "surface"; }

ClassDef define_surface() {
    return ClassDef::of<SurfacePayload>("Surface", kSurfaceDoc)
        .getter<&surface_name>("name")
        .getter<&surface_kind>("kind");
}

}  // namespace

PyResult<PyTypeObject*> surface_type() {
    static TypeCell cell;
    return cell.get(define_surface);
}

PyResult<Ref> new_surface(SurfacePayload payload) {
    VZ_ASSIGN_OR_RETURN(PyTypeObject * type, surface_type());
    return create_instance(type, std::move(payload));
}

}  // namespace vz::py
