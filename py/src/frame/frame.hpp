#pragma once
/// Everything a class file uses: owned references, results and errors,
/// argument binding and conversion, access guards, class definition,
/// warnings, the shared parsers and releasing the interpreter lock.
///
/// Adding a class (one file per class, e.g. `py/src/net_settings.cpp`):
///  1. Pick the payload type P (the core value, or a small struct holding it).
///  2. Write each member as a function: methods `PyResult<R> f(PyObject* self,
///     const Args& a)`, getters `PyResult<R> f(PyObject* self)`, static
///     methods and constructors `PyResult<R> f(const Args& a)` (see
///     callable.hpp). Convert arguments with `a.get<T>("name")`,
///     `a.get_or<T>(…)` or `a.opt<T>(…)` in the order the behaviour needs;
///     take access with `borrow<P>(self)` / `borrow_mut<P>(self)` (immutable
///     value classes read `payload<P>(self)`); pass core failures through
///     `from_core(…)` / `into_py_err(…)`.
///  3. Define `PyResult<PyTypeObject*> <name>_type()` with a static TypeCell
///     and a ClassDef (see class_def.hpp); docstrings start with the text
///     signature, which is also what the argument binding reads.
///  4. Offer `PyResult<Ref> new_<name>(P)` through `create_instance` when
///     other files hand out objects of the class.
///  5. Add one line `VZ_CLASS(Name, <name>_type)` at its place in
///     `py/src/registry.inc`.

#include "frame/args.hpp"
#include "frame/borrow.hpp"
#include "frame/class_def.hpp"
#include "frame/convert.hpp"
#include "frame/errors.hpp"
#include "frame/gil.hpp"
#include "frame/module_add.hpp"
#include "frame/objects.hpp"
#include "frame/parsers.hpp"
#include "frame/py_err.hpp"
#include "frame/ref.hpp"
#include "frame/warnings.hpp"
