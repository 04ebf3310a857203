#pragma once
/// The crossing calls of wells, bores, free trajectories and well views: the
/// one dispatch over the three surface kinds, the wrapping of errors raised
/// inside a well's or bore's search, and the Python form of crossings.
///
/// Dispatch: a `Surface`, then a `StructuredMeshSurface`, then a `TriSurface`;
/// the first class the object belongs to wins and shared access to it is held
/// for the whole step. A project-backed surface is looked up in its own
/// project (which may differ from the well's) under shared access; the step
/// sees the surface as the triangle view the crossing search reads, which
/// converts a regular or structured surface into triangles whenever the
/// search asks. Anything else fails with TypeError "surface must be Surface,
/// StructuredMeshSurface, or TriSurface".

#include <cstdint>
#include <optional>
#include <string>
#include <type_traits>
#include <utility>
#include <vector>

#include "algorithms/triangle_views.hpp"
#include "core/surface_intersection.hpp"
#include "frame/frame.hpp"
#include "sources.hpp"

namespace vz::py {

/// The TypeError of an object that is no surface of the three kinds.
PyErr not_a_surface();

/// The result of `with_surface` for a step `Step`.
template <class Step>
using SurfaceStepResult =
    FlatResult<std::invoke_result_t<Step, const vz::TriangleMeshSource&, const std::optional<std::string>&>>;

namespace detail {

/// The dispatch step of a surface kind with a project-backed source: shared
/// access to the object, the core value resolved, the step run on its view.
template <class Payload, auto TypeFn, class MeshView, class Step>
SurfaceStepResult<Step> with_sourced_surface(PyObject* surface, Step& step) {
    using R = SurfaceStepResult<Step>;
    VZ_ASSIGN_OR_RETURN(auto s, (borrow_as<Payload, TypeFn>(surface)));
    const std::optional<std::string> name = s->name;
    return with_resolved(s->source, [&](const auto& value) -> R {
        const MeshView view(value);
        return call_flat(step, static_cast<const vz::TriangleMeshSource&>(view), name);
    });
}

}  // namespace detail

/// Runs `step(view, display_name)` on the triangle view of `surface` (see the
/// header comment); the display name is the surface object's `name` (None
/// when it has none), copied before any lookup.
template <class Step>
SurfaceStepResult<Step> with_surface(PyObject* surface, Step&& step) {
    VZ_ASSIGN_OR_RETURN(bool regular, is_object_of<surface_type>(surface));
    if (regular) return detail::with_sourced_surface<SurfacePayload, surface_type, vz::SurfaceMeshView>(surface, step);
    VZ_ASSIGN_OR_RETURN(bool structured, is_object_of<structured_surface_type>(surface));
    if (structured)
        return detail::with_sourced_surface<StructuredSurfacePayload, structured_surface_type,
                                            vz::StructuredSurfaceMeshView>(surface, step);
    VZ_ASSIGN_OR_RETURN(bool triangulated, is_object_of<tri_surface_type>(surface));
    if (!triangulated) return raise(not_a_surface());
    VZ_ASSIGN_OR_RETURN(auto s, (borrow_as<TriSurfacePayload, tri_surface_type>(surface)));
    const std::optional<std::string> name = s->name;
    if (!s->value) return raise(PyErr::system_error("TriSurface object without a surface"));
    const vz::TriSurfaceMeshView view(*s->value);
    return call_flat(step, static_cast<const vz::TriangleMeshSource&>(view), name);
}

/// A Python error raised inside the search step of a well or bore, as the
/// caller sees it: the core Parse error "{class}: {text}" (the exception's
/// qualified class name and its str(), or "<exception str() failed>"), as a
/// ValueError "parse error: …". Access conflicts (RuntimeError) pass
/// unchanged.
PyErr wrap_step_error(PyErr err);

/// Runs a search step and wraps its failure with `wrap_step_error`.
template <class R>
PyResult<R> wrapped(PyResult<R>&& r) {
    if (!r) return raise(wrap_step_error(std::move(r.error())));
    return std::move(r);
}

/// The crossings with their surface's display name, as a list of new
/// `SurfaceIntersection` objects carrying `project` (a project serial, or
/// none for a free trajectory).
PyResult<Ref> hits_to_py(std::optional<std::uint64_t> project, std::vector<vz::SurfaceIntersection> hits,
                         const std::optional<std::string>& surface);
/// One crossing (or None) the same way.
PyResult<Ref> hit_to_py(std::optional<std::uint64_t> project, std::optional<vz::SurfaceIntersection> hit,
                        const std::optional<std::string>& surface);

/// Adds `intersections` and `intersection` to the `Well` class.
void add_well_intersections(ClassDef& def);

/// `Sidetrack.intersections` and `Sidetrack.intersection` with their text
/// signatures and help texts: the crossings of exactly this bore, carrying
/// the well's identifier and the project of the sidetrack's `Well` object.
/// More than one crossing makes `intersection` fail with the ValueError
/// "trajectory crosses the surface {} times; call intersections(...) and
/// select a crossing explicitly" as it stands.
extern const char* const kSidetrackIntersectionsDoc;
extern const char* const kSidetrackIntersectionDoc;
PyResult<Ref> sidetrack_intersections(PyObject* self, const Args& a);
PyResult<Ref> sidetrack_intersection(PyObject* self, const Args& a);

}  // namespace vz::py
