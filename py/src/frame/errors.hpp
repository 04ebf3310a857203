#pragma once
/// The boundary between core failures and Python exceptions: every core
/// `Error` reaches Python as a ValueError carrying its display text.

#include <utility>

#include "foundation/error.hpp"
#include "foundation/result.hpp"
#include "frame/py_err.hpp"

namespace vz::py {

/// A core failure as a (lazily built) ValueError whose only argument is the
/// error's display text, rendered now. Needs no interpreter lock.
inline PyErr into_py_err(const Error& e) { return PyErr::value_error(e.display()); }

/// A core result as a binding result: the value, or the ValueError of its
/// error.
template <class T>
PyResult<T> from_core(Result<T>&& r) {
    if (!r) return raise(into_py_err(r.error()));
    if constexpr (std::is_void_v<T>) return {};
    else return std::move(*r);
}

}  // namespace vz::py
