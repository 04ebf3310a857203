// Moving whole projects between memory and container files. Every method
// converts its arguments first (paths are `str` only: bytes and path objects
// are refused before any file is touched), then releases the interpreter
// lock for the whole file operation. `save` reads the project in place under
// shared access, taken before the path is converted and held across the
// released lock, so another thread may read the project meanwhile while every
// change to it fails with "Already borrowed". The static methods hold no
// project at all.

#include "geodata_files.hpp"

#include <filesystem>
#include <string>
#include <utility>
#include <vector>

#include "container/container.hpp"
#include "frame/builders.hpp"
#include "geodata.hpp"
#include "manager/project.hpp"

namespace vz::py {

namespace {

namespace fs = std::filesystem;

/// A toolkit result as a core one (the toolkit error carried by kind Tools).
Result<void> as_core(ToolsResult<void>&& r) {
    if (!r) return fail(Error(std::move(r.error())));
    return {};
}

PyResult<void> save(PyObject* self, const Args& a) {
    VZ_ASSIGN_OR_RETURN(auto geo, project_shared(self));
    VZ_ASSIGN_OR_RETURN(std::string path, a.get<std::string>("path"));
    const vz::GeoData& project = geo->project;
    Result<void> r = allow_threads([&] { return project::save(project, fs::path(path)); });
    return from_core(std::move(r));
}

PyResult<Ref> open(const Args& a) {
    VZ_ASSIGN_OR_RETURN(std::string path, a.get<std::string>("path"));
    Result<vz::GeoData> r = allow_threads([&] { return project::open(fs::path(path)); });
    VZ_ASSIGN_OR_RETURN(vz::GeoData project, from_core(std::move(r)));
    return new_geodata(std::move(project));
}

PyResult<Ref> inspect(const Args& a) {
    VZ_ASSIGN_OR_RETURN(std::string path, a.get<std::string>("path"));
    Result<project::ManifestSummary> r = allow_threads([&] { return project::inspect(fs::path(path)); });
    VZ_ASSIGN_OR_RETURN(project::ManifestSummary m, from_core(std::move(r)));
    DictBuilder d;
    d.add("owner", m.owner)
        .add("display_name", m.display_name)
        .add("crs", m.crs)
        .add("tags", m.tags)
        .add("created", m.created)
        .add("modified", m.modified)
        .add("unit", m.unit)
        .add("elements", list_of_pairs(m.elements));
    return std::move(d).build();
}

/// `split` and `export`: a source, a destination and a list of texts (names
/// or tags) that select the sections copied.
using Selection = ToolsResult<void> (*)(const fs::path&, const fs::path&, std::span<const std::string>);

template <Selection Copy, const char* ListParam>
PyResult<void> copy_selected(const Args& a) {
    VZ_ASSIGN_OR_RETURN(std::string src, a.get<std::string>("src"));
    VZ_ASSIGN_OR_RETURN(std::string dst, a.get<std::string>("dst"));
    VZ_ASSIGN_OR_RETURN(std::vector<std::string> list, a.get<std::vector<std::string>>(ListParam));
    Result<void> r = allow_threads([&] { return as_core(Copy(fs::path(src), fs::path(dst), list)); });
    return from_core(std::move(r));
}

constexpr char kNames[] = "names";
constexpr char kTags[] = "tags";

PyResult<void> merge(const Args& a) {
    VZ_ASSIGN_OR_RETURN(std::string first, a.get<std::string>("a"));
    VZ_ASSIGN_OR_RETURN(std::string second, a.get<std::string>("b"));
    VZ_ASSIGN_OR_RETURN(std::string dst, a.get<std::string>("dst"));
    Result<void> r =
        allow_threads([&] { return as_core(container::merge(fs::path(first), fs::path(second), fs::path(dst))); });
    return from_core(std::move(r));
}

}  // namespace

void add_geodata_files(ClassDef& def) {
    def.method<&save>("save($self, path)\n--\n\nSave the whole project to a single `.zedod` file (atomic).")
        .static_method<&open>("open(path)\n--\n\nOpen a `.zedod` project.")
        .static_method<&inspect>(
            "inspect(path)\n--\n\n"
            "Read a project's manifest (owner/tags/unit/timestamps + element index)\n"
            "without decoding any element \xe2\x80\x94 a dict.")
        .static_method<&copy_selected<&project::split, kNames>>(
            "split(src, dst, names)\n--\n\n"
            "Copy `src` \xe2\x86\x92 `dst` keeping only sections named in `names` (byte-for-byte).")
        .static_method<&copy_selected<&project::export_tagged, kTags>>(
            "export(src, dst, tags)\n--\n\n"
            "Copy `src` \xe2\x86\x92 `dst` keeping only sections tagged with any of `tags`.")
        .static_method<&merge>("merge(a, b, dst)\n--\n\nMerge projects `a` and `b` into `dst` (`b` wins on clash).");
}

}  // namespace vz::py
