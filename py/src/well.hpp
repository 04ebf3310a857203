#pragma once
/// The well-family handles (`Well`, `Sidetrack`, `Interval`, `LogView`) and
/// the resolution chain every call on them runs.
///
/// A handle holds no well data: a `Well` keeps the well's identifier and the
/// `GeoData` object; a `Sidetrack`, `Interval` or `LogView` keeps its own key
/// and the `Well` handle object it came from (which keeps the project alive).
/// Every call finds the well again in the project, under shared access to the
/// project (exclusive for the mutators), so a handle always sees the
/// project's current state. Core references into the project are used only
/// while that access is held; results are copied out before it is released.
/// No handle holds an object that could refer back to it, so no reference
/// cycle can form.

#include <optional>
#include <string>
#include <string_view>
#include <utility>

#include <fmt/format.h>

#include "core/well.hpp"
#include "frame/frame.hpp"
#include "geodata.hpp"

namespace vz::py {

/// `Well`: the identifier under which the project stores the well (matched
/// exactly) and the owning `GeoData` object.
struct WellPayload {
    std::string id;
    Ref project;
};
/// `Sidetrack`: the bore label and the `Well` handle object.
struct SidetrackPayload {
    std::string label;
    Ref well;
};
/// `Interval`: the top name as the caller wrote it and the `Well` handle.
struct IntervalPayload {
    std::string name;
    Ref well;
};
/// `LogView`: the mnemonic, the optional top that clips it, the optional
/// bore label and the `Well` handle.
struct LogViewPayload {
    std::string mnemonic;
    std::optional<std::string> top;
    std::optional<std::string> bore;
    Ref well;
};

PyResult<PyTypeObject*> well_type();
PyResult<PyTypeObject*> sidetrack_type();
PyResult<PyTypeObject*> interval_type();
PyResult<PyTypeObject*> log_view_type();

/// New handles.
PyResult<Ref> new_well(std::string id, Ref project);
PyResult<Ref> new_sidetrack(std::string label, Ref well);
PyResult<Ref> new_interval(std::string name, Ref well);
PyResult<Ref> new_log_view(LogViewPayload payload);

/// ValueError "no well '{}'" with the handle's identifier.
inline PyErr no_well(std::string_view id) { return PyErr::value_error(fmt::format("no well '{}'", id)); }

/// The handle behind a `Well` object (shared access; never in conflict, as
/// nothing takes exclusive access to a handle).
inline PyResult<Shared<WellPayload>> well_handle(PyObject* well) { return borrow<WellPayload>(well); }

/// The multi-bore guard of the well-level accessors, top mutators and
/// intersection calls: with its own shared access to the project (released
/// before it returns), refuses a well on which more than one bore carries a
/// trajectory and no default bore is set, with the ValueError "well '{}' has
/// {} bores ({}) — a top-level accessor can't pick one; use .sidetrack(name)
/// for a specific bore or .set_default_bore(name)" (the handle's id, the
/// number of bores other than the main bore, their labels). A missing well
/// fails with "no well '{}'".
PyResult<void> resolve_accessor_guard(const WellPayload& well);

/// Runs `f(const vz::Well&)` on the handle's well under shared access to the
/// project, held until `f` returns; "no well '{}'" when none is stored under
/// the id, "Already mutably borrowed" when the project is held exclusively.
template <class F>
FlatResult<std::invoke_result_t<F, const vz::Well&>> with_well(const WellPayload& handle, F&& f) {
    VZ_ASSIGN_OR_RETURN(auto geo, project_shared(handle.project.get()));
    const vz::Well* well = geo->project.find_well(handle.id);
    if (!well) return raise(no_well(handle.id));
    return call_flat(std::forward<F>(f), *well);
}

/// Runs `f(vz::Well&)` on the handle's well under exclusive access to the
/// project; "no well '{}'", or "Already borrowed" when the project is in use.
template <class F>
FlatResult<std::invoke_result_t<F, vz::Well&>> with_well_mut(const WellPayload& handle, F&& f) {
    VZ_ASSIGN_OR_RETURN(auto geo, project_exclusive(handle.project.get()));
    vz::Well* well = geo->project.find_well_mut(handle.id);
    if (!well) return raise(no_well(handle.id));
    return call_flat(std::forward<F>(f), *well);
}

}  // namespace vz::py
