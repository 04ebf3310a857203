// Changing which elements a project holds and under which names. Each call
// takes the project exclusively on entry (an access conflict is reported
// before an argument error), converts its arguments and runs one core
// operation; handles handed out earlier keep their old names and go stale.
//
// `replace_surface` is the exception: it resolves its value to an owned copy
// before it touches the project, so a view of the same project (even of the
// very name being replaced) is a valid value.

#include "geodata_edits.hpp"

#include <memory>
#include <string>
#include <utility>
#include <variant>
#include <vector>

#include "geodata.hpp"
#include "sources.hpp"

namespace vz::py {

namespace {

using Rename = Result<void> (vz::GeoData::*)(std::string_view, std::string_view);
using Delete = bool (vz::GeoData::*)(std::string_view);

template <Rename Op>
PyResult<void> rename(PyObject* self, const Args& a) {
    VZ_ASSIGN_OR_RETURN(auto geo, project_exclusive(self));
    VZ_ASSIGN_OR_RETURN(std::string old_name, a.get<std::string>("old"));
    VZ_ASSIGN_OR_RETURN(std::string new_name, a.get<std::string>("new"));
    return from_core((geo->project.*Op)(old_name, new_name));
}

/// The deletions; `param` is the name of the one parameter ("id" or "name").
template <Delete Op, const char* Param>
PyResult<bool> remove(PyObject* self, const Args& a) {
    VZ_ASSIGN_OR_RETURN(auto geo, project_exclusive(self));
    VZ_ASSIGN_OR_RETURN(std::string name, a.get<std::string>(Param));
    return (geo->project.*Op)(name);
}

constexpr char kId[] = "id";
constexpr char kName[] = "name";

/// The owned copy a replacement stores, of whichever kind the value is.
using Replacement = std::variant<vz::Surface, vz::StructuredMeshSurface, vz::TriSurface>;

template <class P, auto TypeFn>
PyResult<std::optional<Shared<P>>> try_borrow_as(PyObject* value) {
    VZ_ASSIGN_OR_RETURN(bool is, is_object_of<TypeFn>(value));
    if (!is) return std::optional<Shared<P>>();
    auto access = borrow<P>(value);
    if (!access) return std::optional<Shared<P>>();  // in use: not taken as this class
    return std::optional<Shared<P>>(std::move(*access));
}

template <class T>
PyResult<T> owned_copy(const Source<T>& source) {
    return with_resolved(source, [](const T& stored) { return T(stored); });
}

// Classifies `value` (Surface, then StructuredMeshSurface, then TriSurface)
// and copies the surface behind it; a view is looked up in its own project
// under shared access taken and given back here.
PyResult<Replacement> replacement_of(PyObject* value) {
    VZ_ASSIGN_OR_RETURN(auto regular, (try_borrow_as<SurfacePayload, &surface_type>(value)));
    if (regular) {
        VZ_ASSIGN_OR_RETURN(vz::Surface copy, owned_copy((*regular)->source));
        return Replacement(std::move(copy));
    }
    VZ_ASSIGN_OR_RETURN(auto structured, (try_borrow_as<StructuredSurfacePayload, &structured_surface_type>(value)));
    if (structured) {
        VZ_ASSIGN_OR_RETURN(vz::StructuredMeshSurface copy, owned_copy((*structured)->source));
        return Replacement(std::move(copy));
    }
    VZ_ASSIGN_OR_RETURN(auto triangulated, (try_borrow_as<TriSurfacePayload, &tri_surface_type>(value)));
    if (triangulated) return Replacement(vz::TriSurface(*(*triangulated)->value));
    return raise(PyErr::type_error("replace_surface value must be Surface, StructuredMeshSurface, or TriSurface"));
}

PyResult<void> replace_surface(PyObject* self, const Args& a) {
    VZ_ASSIGN_OR_RETURN(std::string name, a.get<std::string>("name"));
    PyObject* value = a.raw("value");  // required: the binding has checked it is given
    VZ_ASSIGN_OR_RETURN(Replacement copy, replacement_of(value));
    VZ_ASSIGN_OR_RETURN(auto geo, project_exclusive(self));
    vz::GeoData& project = geo->project;
    auto stored = std::visit(
        [&](auto& surface) -> Result<void> {
            using T = std::decay_t<decltype(surface)>;
            Result<const T*> r;
            if constexpr (std::is_same_v<T, vz::Surface>)
                r = project.replace_surface(name, std::move(surface));
            else if constexpr (std::is_same_v<T, vz::StructuredMeshSurface>)
                r = project.replace_structured_surface(name, std::move(surface));
            else
                r = project.replace_tri_surface(name, std::move(surface));
            if (!r) return fail(std::move(r.error()));
            return {};
        },
        copy);
    return from_core(std::move(stored));
}

PyResult<void> set_element_tags(PyObject* self, const Args& a) {
    VZ_ASSIGN_OR_RETURN(auto geo, project_exclusive(self));
    VZ_ASSIGN_OR_RETURN(std::string name, a.get<std::string>("name"));
    VZ_ASSIGN_OR_RETURN(std::vector<std::string> tags, a.get<std::vector<std::string>>("tags"));
    geo->project.set_element_tags(name, std::move(tags));
    return {};
}

}  // namespace

void add_geodata_edits(ClassDef& def) {
    def.method<&rename<&vz::GeoData::rename_well>>("rename_well($self, old, new)\n--\n\nRename a stored well.")
        .method<&rename<&vz::GeoData::rename_points>>(
            "rename_points($self, old, new)\n--\n\nRename a stored point set.")
        .method<&rename<&vz::GeoData::rename_surface>>(
            "rename_surface($self, old, new)\n--\n\nRename a stored surface.")
        .method<&rename<&vz::GeoData::rename_polygons>>(
            "rename_polygons($self, old, new)\n--\n\nRename a stored polygon set.")
        .method<&remove<&vz::GeoData::delete_well, kId>>(
            "delete_well($self, id)\n--\n\nDelete a stored well. Returns whether anything was removed.")
        .method<&remove<&vz::GeoData::delete_points, kName>>(
            "delete_points($self, name)\n--\n\nDelete a stored point set. Returns whether anything was removed.")
        .method<&remove<&vz::GeoData::delete_surface, kName>>(
            "delete_surface($self, name)\n--\n\nDelete a stored surface. Returns whether anything was removed.")
        .method<&remove<&vz::GeoData::delete_polygons, kName>>(
            "delete_polygons($self, name)\n--\n\nDelete a stored polygon set. Returns whether anything was removed.")
        .method<&replace_surface>(
            "replace_surface($self, name, value)\n--\n\n"
            "Deliberately write a detached regular/structured/triangulated surface\n"
            "back under an existing project name. Geometry/topology must be unchanged.")
        .method<&set_element_tags>(
            "set_element_tags($self, name, tags)\n--\n\n"
            "Tag a single element (by name) so `export(tags=...)` can select it.");
}

}  // namespace vz::py
