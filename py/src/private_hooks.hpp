#pragma once
/// Private module attributes for exercising frame services from Python
/// before public methods use them: `_warn`, `_stats`, `_bbox`,
/// `_surface_intersection`, `_project_serial`, `_surface_intersection_value`,
/// `_bytes`, `_optional_texts`, `_cutoffs`, `_ingest_spec_value`, `_call_attr`.

#include "frame/py_err.hpp"

namespace vz::py {

/// Sets the private attributes on `module` (not listed in __all__).
PyResult<void> add_private_hooks(PyObject* module);

}  // namespace vz::py
