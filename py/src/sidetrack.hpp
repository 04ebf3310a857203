#pragma once
/// The resolution of a `Sidetrack` handle, shared by the files that add
/// methods to the class: the bore is looked up again on every call, by its
/// exact label, in the well the handle's `Well` object names.

#include <string_view>
#include <type_traits>
#include <utility>

#include <fmt/format.h>

#include "well.hpp"

namespace vz::py {

/// ValueError "no bore '{}'" with the bore label.
inline PyErr no_bore(std::string_view label) { return PyErr::value_error(fmt::format("no bore '{}'", label)); }

/// Shared access to a `Sidetrack` object's payload (never in conflict: no
/// call takes exclusive access to a handle).
inline PyResult<Shared<SidetrackPayload>> sidetrack_handle(PyObject* self) { return borrow<SidetrackPayload>(self); }

/// Runs `f(const vz::Sidetrack&)` on the handle's bore under shared access to
/// the `Well` handle and to the project, both held until `f` returns: "no
/// well '{}'" when the well is gone, "no bore '{}'" when it has no bore of
/// the label.
template <class F>
FlatResult<std::invoke_result_t<F, const vz::Sidetrack&>> with_bore(const SidetrackPayload& st, F&& f) {
    using R = FlatResult<std::invoke_result_t<F, const vz::Sidetrack&>>;
    VZ_ASSIGN_OR_RETURN(auto well, well_handle(st.well.get()));
    return with_well(*well, [&](const vz::Well& w) -> R {
        const vz::Sidetrack* bore = w.sidetrack(st.label);
        if (!bore) return raise(no_bore(st.label));
        return call_flat(std::forward<F>(f), *bore);
    });
}

/// Runs `f(vz::Sidetrack&)` (returning a core `Result` or a `PyResult`) on the
/// handle's bore under exclusive access to the project, for the bore-level
/// mutators. A missing bore is made for the change and added to the well
/// only when `f` succeeds (`Well::change_bore`). "no well '{}'", or "Already
/// borrowed" while the project is in use.
template <class F>
FlatResult<std::invoke_result_t<F, vz::Sidetrack&>> with_bore_mut(const SidetrackPayload& st, F&& f) {
    VZ_ASSIGN_OR_RETURN(auto well, well_handle(st.well.get()));
    return with_well_mut(*well, [&](vz::Well& w) { return w.change_bore(st.label, std::forward<F>(f)); });
}

}  // namespace vz::py
