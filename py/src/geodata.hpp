#pragma once
/// The `GeoData` class: the Python project object. It owns one core project
/// for its whole life; every handle that reaches into the project (wells,
/// surface, point-set and polygon-set views, well views) keeps a reference to
/// this object and takes shared access to it (exclusive access to change it)
/// for each use. Access never waits: a conflict fails at once with
/// RuntimeError "Already mutably borrowed" / "Already borrowed".

#include <cstdint>
#include <string>
#include <string_view>

#include "frame/frame.hpp"
#include "manager/geodata.hpp"

namespace vz::py {

/// Payload of a `GeoData` object. The core project holds no Python object,
/// so handles pointing at the project never form a reference cycle with it.
struct GeoDataPayload {
    vz::GeoData project;
    /// A process-wide serial number, never reused: the identity crossings
    /// carry to tell their project apart from any other (an address could be
    /// reused by a later project).
    std::uint64_t serial = 0;
};

/// The class object (created on first need).
PyResult<PyTypeObject*> geodata_type();

/// A new `GeoData` object owning `project` (used by the constructor and by
/// `GeoData.open`), with a fresh serial number.
PyResult<Ref> new_geodata(vz::GeoData project);

/// Shared access to the project of a `GeoData` object.
inline PyResult<Shared<GeoDataPayload>> project_shared(PyObject* geo) { return borrow<GeoDataPayload>(geo); }
/// Exclusive access to the project of a `GeoData` object.
inline PyResult<Exclusive<GeoDataPayload>> project_exclusive(PyObject* geo) {
    return borrow_mut<GeoDataPayload>(geo);
}

/// The display name the project gives an element object it hands out: the
/// text after the last "/" of the stored name (the whole name without one),
/// trimmed of Unicode white space; may be empty.
std::string name_leaf(std::string_view stored_name);

}  // namespace vz::py
