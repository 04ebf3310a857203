#pragma once
/// The bridge to the external log viewer: `view()` of `Well` and
/// `WellsView`, and the producer hook `Sidetrack._view_raw`.
///
/// The system draws nothing. Each shown bore becomes a plain dictionary
/// (keys "id", "display_name", "x", "y", "datum_m", "md", "tvd", "curves",
/// "zones"), gathered from the core with the interpreter lock released; the
/// viewer submodule `voridez._viewer` is imported at every `view()` call and
/// its `render` gets the payload and exactly the options the caller gave, in
/// the order spec, settings, template, tops, flatten_default, phie_cutoff,
/// flags, serve, save. Its result is returned unchanged.

#include "frame/frame.hpp"

namespace vz::py {

/// The text signature and help text of `Well.view` and `WellsView.view`.
extern const char* const kWellViewDoc;
extern const char* const kWellsViewViewDoc;
/// The text signature and help text of `Sidetrack._view_raw`.
extern const char* const kSidetrackViewRawDoc;

/// `Well.view`: the dictionary of the well's bore (the default bore, else
/// the only bore carrying logs, else the main bore), rendered.
PyResult<Ref> well_view(PyObject* self, const Args& a);
/// `WellsView.view`: the list of the dictionaries of every well still
/// stored, in view order, rendered.
PyResult<Ref> wells_view_view(PyObject* self, const Args& a);
/// `Sidetrack._view_raw`: the dictionary of exactly this bore, whatever the
/// well's default bore; imports nothing.
PyResult<Ref> sidetrack_view_raw(PyObject* self, const Args& a);

/// Adds `view` to the `Well` class.
void add_well_view(ClassDef& def);

}  // namespace vz::py
