#pragma once
/// The `FormatKind` class (one cached member object per file format, with
/// the format's ordinal) and the module function `detect(path)`.

#include "frame/py_err.hpp"
#include "io/detect.hpp"

namespace vz::py {

/// The class object (created on first need, with its twelve members).
PyResult<PyTypeObject*> format_kind_type();

/// The cached member object of `kind` (a new reference to it); the class
/// attributes and every result that names a format are these same objects.
PyResult<Ref> format_kind_member(vz::FormatKind kind);

/// The built-in function `detect(path)` bound to `module`.
PyResult<Ref> detect_function(PyObject* module);

}  // namespace vz::py
