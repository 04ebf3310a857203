// Handing out what a project holds. Regular and structured surfaces, point
// sets and polygon sets leave as views (the name and the project object;
// every later use looks the element up again); wells as `Well` handles; a
// triangulated surface as a detached copy that shares the immutable mesh
// shell. Nothing is copied but names and triangulated values, and no Python
// object is made while the project is held.

#include "geodata_elements.hpp"

#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "frame/builders.hpp"
#include "geodata.hpp"
#include "sources.hpp"
#include "well.hpp"
#include "wells_view.hpp"

namespace vz::py {

namespace {

/// A triangulated surface copied out of a project: the name it was stored
/// under and the detached value.
struct TriCopy {
    std::string name;
    std::shared_ptr<const vz::TriSurface> value;
};

PyResult<Ref> new_tri_copy(TriCopy copy) {
    return new_tri_surface(TriSurfacePayload{name_leaf(copy.name), std::move(copy.value)});
}

PyResult<Ref> well(PyObject* self, const Args& a) {
    VZ_ASSIGN_OR_RETURN(std::string id, a.get<std::string>("id"));
    bool found = false;
    {
        VZ_ASSIGN_OR_RETURN(auto geo, project_shared(self));
        found = geo->project.find_well(id) != nullptr;
    }
    if (!found) return Ref::none();
    return new_well(std::move(id), Ref::borrow(self));
}

PyResult<Ref> surface(PyObject* self, const Args& a) {
    VZ_ASSIGN_OR_RETURN(std::string name, a.get<std::string>("name"));
    std::optional<vz::SurfaceKind> kind;
    std::shared_ptr<const vz::TriSurface> copy;
    {
        VZ_ASSIGN_OR_RETURN(auto geo, project_shared(self));
        kind = geo->project.surface_kind(name);
        if (kind == vz::SurfaceKind::Triangulated)
            copy = std::make_shared<const vz::TriSurface>(*geo->project.find_tri_surface(name));
    }
    if (!kind) return Ref::none();
    switch (*kind) {
        case vz::SurfaceKind::Regular: return new_surface_view(std::move(name), Ref::borrow(self));
        case vz::SurfaceKind::Structured: return new_structured_surface_view(std::move(name), Ref::borrow(self));
        case vz::SurfaceKind::Triangulated: break;
    }
    return new_tri_copy(TriCopy{std::move(name), std::move(copy)});
}

/// `points` and `polygons`: a view when the map holds the name, else None.
template <class T, PyResult<Ref> (*Make)(std::string, Ref)>
PyResult<Ref> element_view(PyObject* self, const Args& a) {
    VZ_ASSIGN_OR_RETURN(std::string name, a.get<std::string>("name"));
    bool found = false;
    {
        VZ_ASSIGN_OR_RETURN(auto geo, project_shared(self));
        found = SourceTraits<T>::find(geo->project, name) != nullptr;
    }
    if (!found) return Ref::none();
    return Make(std::move(name), Ref::borrow(self));
}

template <class V>
std::vector<std::string> names_of(const OrderedMap<std::string, V>& map) {
    std::vector<std::string> names;
    names.reserve(map.size());
    for (const auto& [name, value] : map) names.push_back(name);
    return names;
}

// Grouped by kind (regular, structured, triangulated), each kind in its
// map's insertion order; the project's overall save order is not consulted.
PyResult<Ref> surfaces(PyObject* self, const Args&) {
    std::vector<std::string> regular, structured;
    std::vector<TriCopy> triangulated;
    {
        VZ_ASSIGN_OR_RETURN(auto geo, project_shared(self));
        const vz::GeoData& project = geo->project;
        regular = names_of(project.surfaces);
        structured = names_of(project.structured_surfaces);
        triangulated.reserve(project.tri_surfaces.size());
        for (const auto& [name, value] : project.tri_surfaces)
            triangulated.push_back({name, std::make_shared<const vz::TriSurface>(value)});
    }
    std::vector<PyResult<Ref>> items;
    items.reserve(regular.size() + structured.size() + triangulated.size());
    for (std::string& name : regular) items.push_back(new_surface_view(std::move(name), Ref::borrow(self)));
    for (std::string& name : structured)
        items.push_back(new_structured_surface_view(std::move(name), Ref::borrow(self)));
    for (TriCopy& copy : triangulated) items.push_back(new_tri_copy(std::move(copy)));
    return list_of(std::move(items));
}

PyResult<Ref> wells(PyObject* self) {
    std::vector<std::string> ids;
    {
        VZ_ASSIGN_OR_RETURN(auto geo, project_shared(self));
        ids = geo->project.well_names();
    }
    return new_wells_view(std::move(ids), std::nullopt, Ref::borrow(self));
}

}  // namespace

void add_geodata_elements(ClassDef& def) {
    def.method<&well>("well($self, id)\n--\n\nThe well stored under `id` (view), or `None`.")
        .method<&surface>("surface($self, name)\n--\n\nThe surface stored under `name` (view), or `None`.")
        .method<&element_view<vz::PointSet, &new_point_set_view>>(
            "points($self, name)\n--\n\nThe point set stored under `name` (view), or `None`.")
        .method<&element_view<vz::PolygonSet, &new_polygon_set_view>>(
            "polygons($self, name)\n--\n\nThe polygon set stored under `name` (view), or `None`.")
        .method<&surfaces>("surfaces($self)\n--\n\nAll surfaces in insertion order, as cheap views (no grid copy).")
        .getter<&wells>("wells", "A broadcastable, filterable view over all wells (insertion order).");
}

}  // namespace vz::py
