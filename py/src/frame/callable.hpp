#pragma once
/// The C entry points the interpreter calls, generated per binding function.
/// Each one binds the call's arguments to the function's signature, runs the
/// function, turns its result into a Python object or its PyErr into the
/// raised exception, and lets no C++ exception escape.
///
/// Binding functions have these forms (R any type `to_py` accepts, Ref, or
/// void for None):
///   method            PyResult<R> f(PyObject* self, const Args& a)
///   static / module   PyResult<R> f(const Args& a)
///   getter            PyResult<R> f(PyObject* self)
///   setter            PyResult<void> f(PyObject* self, PyObject* value)
///   constructor       PyResult<P> f(const Args& a)      (P the payload)
///   repr              PyResult<std::string> f(PyObject* self)
///   len               PyResult<std::size_t> f(PyObject* self)
///   richcompare       PyResult<Ref> f(PyObject* self, PyObject* other, int op)
///   getattr fallback  PyResult<Ref> f(PyObject* self, std::string_view name)

#include <exception>
#include <new>
#include <string>
#include <type_traits>

#include "frame/args.hpp"
#include "frame/convert.hpp"
#include "frame/instance.hpp"

namespace vz::py::detail {

/// The signature of a binding function, set when the function is registered
/// (each function is registered once).
template <auto Fn>
struct SignatureOf {
    static inline const Signature* sig = nullptr;
};

template <class T>
struct ResultValue;
template <class T>
struct ResultValue<PyResult<T>> {
    using type = T;
};

/// A binding result as a new reference, or null with the exception raised.
template <class R>
PyObject* finish(PyResult<R>&& r) {
    if (!r) {
        std::move(r.error()).restore();
        return nullptr;
    }
    if constexpr (std::is_void_v<R>) {
        return Ref::none().release();
    } else if constexpr (std::is_same_v<R, Ref>) {
        return r->release();
    } else {
        auto obj = to_py(*r);
        if (!obj) {
            std::move(obj.error()).restore();
            return nullptr;
        }
        return obj->release();
    }
}

/// Runs `f` (returning a PyResult) so that no C++ exception crosses into the
/// interpreter: memory exhaustion becomes MemoryError.
template <class F>
PyObject* guarded(F&& f) noexcept {
    try {
        return finish(f());
    } catch (const std::bad_alloc&) {
        PyErr_NoMemory();
    } catch (const std::exception& e) {
        PyErr_SetString(PyExc_RuntimeError, e.what());
    } catch (...) {
        PyErr_SetString(PyExc_RuntimeError, "unexpected native failure");
    }
    return nullptr;
}

template <auto Fn>
PyObject* method_entry(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) noexcept {
    return guarded([&] {
        using R = std::invoke_result_t<decltype(Fn), PyObject*, const Args&>;
        auto a = Args::bind(*SignatureOf<Fn>::sig, args, nargs, kwnames);
        if (!a) return R(raise(std::move(a.error())));
        return Fn(self, *a);
    });
}

template <auto Fn>
PyObject* function_entry(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) noexcept {
    return guarded([&] {
        using R = std::invoke_result_t<decltype(Fn), const Args&>;
        auto a = Args::bind(*SignatureOf<Fn>::sig, args, nargs, kwnames);
        if (!a) return R(raise(std::move(a.error())));
        return Fn(*a);
    });
}

template <auto Fn>
PyObject* getter_entry(PyObject* self, void*) noexcept {
    return guarded([&] { return Fn(self); });
}

template <auto Fn>
int setter_entry(PyObject* self, PyObject* value, void*) noexcept {
    if (!value) {
        PyErr_SetString(PyExc_AttributeError, "can't delete attribute");
        return -1;
    }
    PyObject* r = guarded([&] { return Fn(self, value); });
    if (!r) return -1;
    Py_DECREF(r);
    return 0;
}

template <auto Fn>
PyObject* repr_entry(PyObject* self) noexcept {
    return guarded([&] { return Fn(self); });
}

template <auto Fn>
Py_ssize_t len_entry(PyObject* self) noexcept {
    Py_ssize_t n = -1;
    PyObject* r = guarded([&]() -> PyResult<void> {
        VZ_ASSIGN_OR_RETURN(std::size_t len, Fn(self));
        if (len > static_cast<std::size_t>(PY_SSIZE_T_MAX))
            return raise(PyErr::overflow_error("length does not fit a Python size"));
        n = static_cast<Py_ssize_t>(len);
        return {};
    });
    if (!r) return -1;
    Py_DECREF(r);
    return n;
}

template <auto Fn>
PyObject* richcompare_entry(PyObject* self, PyObject* other, int op) noexcept {
    return guarded([&] { return Fn(self, other, op); });
}

template <auto Fn>
PyObject* getattr_entry(PyObject* self, PyObject* name) noexcept {
    // The ordinary lookup first (methods, getters, type attributes); only a
    // name it does not find reaches the class's fallback.
    PyObject* found = PyObject_GenericGetAttr(self, name);
    if (found || !PyErr_ExceptionMatches(PyExc_AttributeError)) return found;
    PyErr_Clear();
    return guarded([&]() -> PyResult<Ref> {
        VZ_ASSIGN_OR_RETURN(std::string text, from_py<std::string>(name));
        return Fn(self, std::string_view(text));
    });
}

template <auto Fn>
PyObject* new_entry(PyTypeObject* type, PyObject* args, PyObject* kwargs) noexcept {
    return guarded([&]() -> PyResult<Ref> {
        VZ_ASSIGN_OR_RETURN(Args a, Args::bind_tuple(*SignatureOf<Fn>::sig, args, kwargs));
        VZ_ASSIGN_OR_RETURN(auto value, Fn(a));
        return create_instance(type, std::move(value));
    });
}

/// A C entry point as the method table stores it.
template <class F>
PyCFunction as_cfunction(F* f) {
    return reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(f));
}

}  // namespace vz::py::detail
