#pragma once
/// The `Surface` class family: what its files share.
///
/// The class is defined once in surface.cpp; each group of members lives in
/// its own file and adds itself to the definition through one `add_surface_…`
/// call, in the order the class lists its members.
///
/// Every member that reads the surface takes shared access to the object,
/// converts its arguments, and then runs its core step on the resolved value
/// (`with_resolved`, sources.hpp): an owned value in place, or the project's
/// stored value under shared access to the project for as long as the step
/// runs, also while the interpreter lock is released.

#include <optional>
#include <string>
#include <utility>

#include "foundation/result.hpp"
#include "sources.hpp"

namespace vz::py {

/// Shared access to a `Surface` object (the receiver of a method).
inline PyResult<Shared<SurfacePayload>> surface_shared(PyObject* self) { return borrow<SurfacePayload>(self); }

/// A `Surface` argument, held under shared access for the whole call.
using SurfaceArg = ObjectOf<SurfacePayload, &surface_type>;
/// A `GridGeometry` argument, held under shared access for the whole call.
using GridGeometryArg = ObjectOf<GridGeometryPayload, &grid_geometry_type>;

/// Runs `f` on the core surface of the receiver `self`: shared access to the
/// object, then resolution. `f` may return a value, a `PyResult` or a core
/// `Result` (passed through for the caller to convert).
template <class F>
ResolvedResult<vz::Surface, F> with_surface(PyObject* self, F&& f) {
    VZ_ASSIGN_OR_RETURN(auto p, surface_shared(self));
    return with_resolved(p->source, std::forward<F>(f));
}

/// A new owned `Surface` object from a core result (a core error becomes
/// the ValueError of its display text).
inline PyResult<Ref> wrap_surface(Result<vz::Surface> r, std::optional<std::string> name = std::nullopt) {
    if (!r) return raise(into_py_err(r.error()));
    return new_owned_surface(std::move(*r), std::move(name));
}
inline PyResult<Ref> wrap_surface(PyResult<Result<vz::Surface>> r, std::optional<std::string> name = std::nullopt) {
    if (!r) return raise(std::move(r.error()));
    return wrap_surface(std::move(*r), std::move(name));
}
inline PyResult<Ref> wrap_surface(PyResult<vz::Surface> r, std::optional<std::string> name = std::nullopt) {
    if (!r) return raise(std::move(r.error()));
    return new_owned_surface(std::move(*r), std::move(name));
}

/// The display name of a geometry or shell handed out by a named object:
/// "{} geometry"; none for an anonymous object.
inline std::optional<std::string> geometry_name(const std::optional<std::string>& name) {
    if (!name) return std::nullopt;
    return *name + " geometry";
}

/// The arguments of the mesh surfaces' `resample(target, method=…)`: the
/// target held under shared access for the whole call, and the parsed
/// gridding method (an unknown word is a TypeError).
struct ResampleArgs {
    GridGeometryArg target;
    GriddingMethod method;
};
inline PyResult<ResampleArgs> resample_args(const Args& a) {
    VZ_ASSIGN_OR_RETURN(GridGeometryArg target, a.get<GridGeometryArg>("target"));
    VZ_ASSIGN_OR_RETURN(std::string text, a.get_or<std::string>("method", "min_curvature"));
    VZ_ASSIGN_OR_RETURN(GriddingMethod method, parse_gridding_method(text));
    return ResampleArgs{std::move(target), method};
}

/// The member groups, each defined in its own file.
void add_surface_ops(ClassDef& def);       // surface_ops.cpp: operators, arithmetic, element functions
void add_surface_analysis(ClassDef& def);  // surface_analysis.cpp
void add_surface_isolines(ClassDef& def);  // surface_isolines.cpp
void add_surface_attr(ClassDef& def);      // surface_attr.cpp: lanes, metadata, set_attr
void add_surface_view(ClassDef& def);      // surface_view.cpp: value layer and viewer transports

}  // namespace vz::py
