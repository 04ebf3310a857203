#pragma once
/// Calling into Python modules (pandas for zone tables, the viewer
/// submodule): import a module, read an attribute, call it with positional
/// and keyword arguments. Modules are imported at each call (the
/// interpreter's module cache makes repeated imports cheap), so nothing is
/// held between calls.
///
/// Arguments come from the builders: positional ones as a tuple
/// (`py_tuple(…)`), keyword ones as a dict (`DictBuilder`), whose order is
/// the order the callee sees them in. Each takes a PyResult<Ref>, so a failed
/// builder's error is returned without calling anything.
///
///   auto frame = call_attr("pandas", "DataFrame", py_tuple(std::move(columns)));
///   auto pivoted = call_method(frame->get(), "pivot", py_tuple(),
///                              std::move(DictBuilder().add("index", "zone")).build());

#include <string_view>

#include "frame/builders.hpp"
#include "frame/py_err.hpp"
#include "frame/ref.hpp"

namespace vz::py {

/// The module `name` (dotted names allowed), or the pending exception of the
/// failed import (ImportError / ModuleNotFoundError, or whatever the module
/// raised while loading).
PyResult<Ref> import_module(std::string_view name);

/// `obj.<name>`, or the pending exception (AttributeError …).
PyResult<Ref> get_attr(PyObject* obj, std::string_view name);

/// Calls `callable(*args, **kwargs)`. `args` must be a tuple; `kwargs` a dict
/// or an empty Ref for no keywords. Returns the result or the exception the
/// call raised.
PyResult<Ref> call(PyObject* callable, PyResult<Ref> args, PyResult<Ref> kwargs = Ref());

/// `obj.<name>(*args, **kwargs)`.
PyResult<Ref> call_method(PyObject* obj, std::string_view name, PyResult<Ref> args, PyResult<Ref> kwargs = Ref());

/// `import <module>; <module>.<attr>(*args, **kwargs)`.
PyResult<Ref> call_attr(std::string_view module, std::string_view attr, PyResult<Ref> args,
                        PyResult<Ref> kwargs = Ref());

}  // namespace vz::py
