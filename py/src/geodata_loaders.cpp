// Reading one exchange file into the project under a caller-chosen name.
// The arguments are converted first (a wrong type touches nothing), then the
// project is taken exclusively for the whole read, with the interpreter lock
// held. The core loader keeps what the project already holds: a taken name
// still has its file read, but the stored element stays, so the view handed
// back always shows what is stored under the name. What a load has to tell
// about its file comes back as texts and is issued as UserWarnings after the
// load, once the project is free again; the element is stored by then.

#include "geodata_loaders.hpp"

#include <filesystem>
#include <string>
#include <utility>
#include <vector>

#include "geodata.hpp"
#include "sources.hpp"

namespace vz::py {

namespace {

/// The core loaders taking one path.
template <class T>
using OnePathLoader = Result<const T*> (vz::GeoData::*)(std::string_view, const std::filesystem::path&);

template <class T, OnePathLoader<T> Load, PyResult<Ref> (*Make)(std::string, Ref)>
PyResult<Ref> load(PyObject* self, const Args& a) {
    VZ_ASSIGN_OR_RETURN(std::string name, a.get<std::string>("name"));
    VZ_ASSIGN_OR_RETURN(std::string path, a.get<std::string>("path"));
    {
        VZ_ASSIGN_OR_RETURN(auto geo, project_exclusive(self));
        VZ_TRY(from_core((geo->project.*Load)(name, std::filesystem::path(path))));
    }
    return Make(std::move(name), Ref::borrow(self));
}

PyResult<Ref> load_points_with_topology(PyObject* self, const Args& a) {
    VZ_ASSIGN_OR_RETURN(std::string name, a.get<std::string>("name"));
    VZ_ASSIGN_OR_RETURN(std::string path, a.get<std::string>("path"));
    VZ_ASSIGN_OR_RETURN(std::string topology_path, a.get<std::string>("topology_path"));
    {
        VZ_ASSIGN_OR_RETURN(auto geo, project_exclusive(self));
        VZ_TRY(from_core(geo->project.load_points_with_topology(name, std::filesystem::path(path),
                                                                 std::filesystem::path(topology_path))));
    }
    return new_point_set_view(std::move(name), Ref::borrow(self));
}

// A file that gives no polygon loads as an empty set, and the caller is
// told so once the project is free again.
PyResult<Ref> load_polygons(PyObject* self, const Args& a) {
    VZ_ASSIGN_OR_RETURN(std::string name, a.get<std::string>("name"));
    VZ_ASSIGN_OR_RETURN(std::string path, a.get<std::string>("path"));
    std::vector<std::string> notes;
    {
        VZ_ASSIGN_OR_RETURN(auto geo, project_exclusive(self));
        VZ_TRY(from_core(geo->project.load_polygons(name, std::filesystem::path(path), &notes)));
    }
    for (const auto& note : notes) VZ_TRY(warn_user(note));
    return new_polygon_set_view(std::move(name), Ref::borrow(self));
}

}  // namespace

void add_geodata_loaders(ClassDef& def) {
    def.method<&load<vz::Surface, &vz::GeoData::load_surface, &new_surface_view>>(
           "load_surface($self, name, path)\n--\n\n"
           "Load a surface from `path` (IRAP classic) and store it under `name`,\n"
           "returning a cheap view (no grid copy).")
        .method<&load<vz::StructuredMeshSurface, &vz::GeoData::load_structured_surface,
                      &new_structured_surface_view>>(
            "load_structured_surface($self, name, path)\n--\n\n"
            "Load an EarthVision grid into the shared surface namespace as a\n"
            "null-preserving structured mesh surface.")
        .method<&load<vz::PointSet, &vz::GeoData::load_points, &new_point_set_view>>(
            "load_points($self, name, path)\n--\n\n"
            "Load a point set from `path` (extension-dispatched) under `name`,\n"
            "returning a view.")
        .method<&load_points_with_topology>(
            "load_points_with_topology($self, name, path, topology_path)\n--\n\n"
            "Load an IRAP/RMS point set, using a matching EarthVision grid export for\n"
            "Petrel `column`/`row` topology.")
        .method<&load_polygons>(
            "load_polygons($self, name, path)\n--\n\n"
            "Load a polygon set from `path` (extension-dispatched) under `name`,\n"
            "returning a view.");
}

}  // namespace vz::py
