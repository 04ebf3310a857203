// The class object of this family; its methods are added by the files that build its behaviour.

#include "sources.hpp"

namespace vz::py {

namespace {

constexpr const char* kStructuredShellDoc =
    "The level-2 geometry shell: `(i, j)`-organized nodes with explicit per-node\n"
    "XY.";

PyResult<std::optional<std::string>> structured_shell_name(PyObject* self) {
    VZ_ASSIGN_OR_RETURN(auto p, borrow<StructuredShellPayload>(self));
    return p->name;
}

PyResult<const char*> structured_shell_kind(PyObject*) { return "structured_shell"; }

ClassDef define_structured_shell() {
    return ClassDef::of<StructuredShellPayload>("StructuredShell", kStructuredShellDoc)
        .getter<&structured_shell_name>("name")
        .getter<&structured_shell_kind>("kind");
}

constexpr const char* kMeshShellDoc =
    "The level-3 geometry shell: integer node ids with explicit XY, CCW triangle\n"
    "topology, the quad-dominant wireframe, the boundary edge, and per-node walk\n"
    "labels.";

PyResult<std::optional<std::string>> mesh_shell_name(PyObject* self) {
    VZ_ASSIGN_OR_RETURN(auto p, borrow<MeshShellPayload>(self));
    return p->name;
}

PyResult<const char*> mesh_shell_kind(PyObject*) { return "mesh_shell"; }

ClassDef define_mesh_shell() {
    return ClassDef::of<MeshShellPayload>("MeshShell", kMeshShellDoc)
        .getter<&mesh_shell_name>("name")
        .getter<&mesh_shell_kind>("kind");
}

}  // namespace

PyResult<PyTypeObject*> structured_shell_type() {
    static TypeCell cell;
    return cell.get(define_structured_shell);
}

PyResult<Ref> new_structured_shell(StructuredShellPayload payload) {
    VZ_ASSIGN_OR_RETURN(PyTypeObject * type, structured_shell_type());
    return create_instance(type, std::move(payload));
}

PyResult<PyTypeObject*> mesh_shell_type() {
    static TypeCell cell;
    return cell.get(define_mesh_shell);
}

PyResult<Ref> new_mesh_shell(MeshShellPayload payload) {
    VZ_ASSIGN_OR_RETURN(PyTypeObject * type, mesh_shell_type());
    return create_instance(type, std::move(payload));
}

}  // namespace vz::py
