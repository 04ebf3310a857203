#pragma once
/// The `SurfaceIntersection` class: one immutable crossing of a well path
/// with a surface, handed out by the intersection calls and read back by the
/// top mutations.

#include <cstdint>
#include <optional>

#include "core/surface_intersection.hpp"
#include "frame/convert.hpp"
#include "frame/py_err.hpp"

namespace vz::py {

/// What a `SurfaceIntersection` object holds (its payload).
struct SurfaceIntersectionValue {
    /// The serial of the `GeoData` object the crossing belongs to; absent for
    /// crossings of a free-standing trajectory. A serial, not an address: it
    /// is never reused, so a crossing can never pass for one of a later
    /// project, and it keeps no project alive.
    std::optional<std::uint64_t> project;
    /// The crossing: md, xyz (z an elevation, positive up), well, bore and
    /// surface names.
    vz::SurfaceIntersection hit;
};

/// The class object (created on first need).
PyResult<PyTypeObject*> surface_intersection_type();
/// A new `SurfaceIntersection` object.
PyResult<Ref> new_surface_intersection(std::optional<std::uint64_t> project, vz::SurfaceIntersection hit);
/// A copy of what a `SurfaceIntersection` object holds; any other object:
/// TypeError "'{}' object is not an instance of 'SurfaceIntersection'".
PyResult<SurfaceIntersectionValue> surface_intersection_value(PyObject* obj);

/// `a.get<SurfaceIntersectionValue>("hit")`: a crossing argument through the
/// argument binding, with the note naming the parameter on failure.
template <>
struct FromPy<SurfaceIntersectionValue> {
    static PyResult<SurfaceIntersectionValue> convert(PyObject* obj) { return surface_intersection_value(obj); }
};

}  // namespace vz::py
