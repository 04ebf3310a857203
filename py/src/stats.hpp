#pragma once
/// The `Stats` class: read-only summary statistics handed out by every
/// method that summarises values.

#include "foundation/statistics.hpp"
#include "frame/py_err.hpp"

namespace vz::py {

/// The class object (created on first need).
PyResult<PyTypeObject*> stats_type();
/// A new `Stats` object holding `s`; every method returning statistics goes
/// through this.
PyResult<Ref> new_stats(vz::Stats s);

}  // namespace vz::py
