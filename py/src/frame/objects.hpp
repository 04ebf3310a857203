#pragma once
/// Binding objects as arguments and the small answers the object slots give.
///
/// `ObjectOf<P, TypeFn>` converts an argument that must be an object of one
/// binding class (payload P, class object `TypeFn()`): the exact class is
/// checked (binding classes cannot be subclassed) and shared access to the
/// object is taken for as long as the converted value lives, so the payload
/// cannot change under the call. A wrong object fails with the binding's
/// "'{}' object is not an instance of '{}'" naming the class; a conflicting
/// access with "Already mutably borrowed".

#include <string>
#include <type_traits>
#include <utility>

#include "frame/borrow.hpp"
#include "frame/convert.hpp"

namespace vz::py {

namespace detail {

template <class R>
struct FlattenResult {
    using type = R;
};
template <class R>
struct FlattenResult<PyResult<R>> {
    using type = R;
};

}  // namespace detail

/// `PyResult<R>` for R, and `PyResult<R>` unchanged: the result of a step
/// that may or may not fail itself.
template <class R>
using FlatResult = PyResult<typename detail::FlattenResult<R>::type>;

/// Calls `f(args…)` and returns its result as a `FlatResult` (a void result
/// becomes an empty success).
template <class F, class... A>
FlatResult<std::invoke_result_t<F, A...>> call_flat(F&& f, A&&... args) {
    using R = std::invoke_result_t<F, A...>;
    if constexpr (std::is_void_v<R>) {
        std::forward<F>(f)(std::forward<A>(args)...);
        return {};
    } else {
        return std::forward<F>(f)(std::forward<A>(args)...);
    }
}

/// NotImplemented: what a number or comparison slot answers for an operand
/// it does not take, so that the interpreter tries the other operand.
inline PyResult<Ref> not_implemented() { return Ref::borrow(Py_NotImplemented); }

/// The ordinary attribute assignment (or deletion, value null) of an object.
inline PyResult<void> generic_setattr(PyObject* self, PyObject* name, PyObject* value) {
    if (PyObject_GenericSetAttr(self, name, value) < 0) return raise_pending();
    return {};
}

/// The name of a class object as messages show it ("Surface").
std::string class_name(PyTypeObject* type);

/// Whether `obj` is an object of the binding class `TypeFn()`.
template <auto TypeFn>
PyResult<bool> is_object_of(PyObject* obj) {
    VZ_ASSIGN_OR_RETURN(PyTypeObject * type, TypeFn());
    return Py_TYPE(obj) == type;
}

/// Shared access to `obj`, which must be an object of the binding class
/// `TypeFn()` whose payload is P.
template <class P, auto TypeFn>
PyResult<Shared<P>> borrow_as(PyObject* obj) {
    VZ_ASSIGN_OR_RETURN(PyTypeObject * type, TypeFn());
    if (Py_TYPE(obj) != type) return raise(not_instance(obj, class_name(type)));
    return borrow<P>(obj);
}

/// An argument that is an object of one binding class, held under shared
/// access.
template <class P, auto TypeFn>
struct ObjectOf {
    Shared<P> access;

    const P& operator*() const { return *access; }
    const P* operator->() const { return access.operator->(); }
    /// The object itself (borrowed; the access keeps it alive).
    PyObject* object() const { return access.object(); }
};

template <class P, auto TypeFn>
struct FromPy<ObjectOf<P, TypeFn>> {
    static PyResult<ObjectOf<P, TypeFn>> convert(PyObject* obj) {
        VZ_ASSIGN_OR_RETURN(Shared<P> access, (borrow_as<P, TypeFn>(obj)));
        return ObjectOf<P, TypeFn>{std::move(access)};
    }
};

}  // namespace vz::py
