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
///   binary number op  PyResult<Ref> f(PyObject* self, PyObject* other, bool reflected)
///                     (return `not_implemented()` for operands it does not take)
///   unary number op   PyResult<Ref> f(PyObject* self)
///   subscript         PyResult<Ref> f(PyObject* self, PyObject* key)
///   set item          PyResult<void> f(PyObject* self, PyObject* key, PyObject* value)
///                     (value null: `del obj[key]`)
///   sequence item     PyResult<Ref> f(PyObject* self, Py_ssize_t index)
///   contains          PyResult<bool> f(PyObject* self, PyObject* item)
///   call              PyResult<R> f(PyObject* self, const Args& a)   (as a method)
///   set attribute     PyResult<void> f(PyObject* self, PyObject* name, PyObject* value)
///                     (value null: `del obj.name`; `generic_setattr` for the
///                     ordinary behaviour)
///   iter              PyResult<Ref> f(PyObject* self)

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
        // The interpreter passes attribute names as str; read the text in
        // place (it lives as long as `name`).
        Py_ssize_t n = 0;
        const char* text = PyUnicode_Check(name) ? PyUnicode_AsUTF8AndSize(name, &n) : nullptr;
        if (!text) {
            if (PyErr_Occurred()) return raise_pending();
            return raise(not_instance(name, "str"));
        }
        return Fn(self, std::string_view(text, static_cast<std::size_t>(n)));
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

/// A binary number slot: the interpreter calls it with the operands in the
/// order of the expression, so `self` is whichever operand is of this class
/// (`TypeFn()`), and `reflected` says that it stands on the right.
template <auto Fn, auto TypeFn>
PyObject* binary_entry(PyObject* a, PyObject* b) noexcept {
    return guarded([&]() -> PyResult<Ref> {
        VZ_ASSIGN_OR_RETURN(PyTypeObject * type, TypeFn());
        if (Py_TYPE(a) == type) return Fn(a, b, false);
        if (Py_TYPE(b) == type) return Fn(b, a, true);
        return Ref::borrow(Py_NotImplemented);
    });
}

/// `**` with a modulus is not offered: pow(a, b, m) gives NotImplemented.
template <auto Fn, auto TypeFn>
PyObject* power_entry(PyObject* a, PyObject* b, PyObject* modulus) noexcept {
    if (modulus != Py_None) return Py_NewRef(Py_NotImplemented);
    return binary_entry<Fn, TypeFn>(a, b);
}

template <auto Fn>
PyObject* unary_entry(PyObject* self) noexcept {
    return guarded([&] { return Fn(self); });
}

template <auto Fn>
PyObject* subscript_entry(PyObject* self, PyObject* key) noexcept {
    return guarded([&] { return Fn(self, key); });
}

template <auto Fn>
int set_item_entry(PyObject* self, PyObject* key, PyObject* value) noexcept {
    PyObject* r = guarded([&] { return Fn(self, key, value); });
    if (!r) return -1;
    Py_DECREF(r);
    return 0;
}

template <auto Fn>
PyObject* item_entry(PyObject* self, Py_ssize_t index) noexcept {
    return guarded([&] { return Fn(self, index); });
}

template <auto Fn>
int contains_entry(PyObject* self, PyObject* item) noexcept {
    int answer = -1;
    PyObject* r = guarded([&]() -> PyResult<void> {
        VZ_ASSIGN_OR_RETURN(bool found, Fn(self, item));
        answer = found ? 1 : 0;
        return {};
    });
    if (!r) return -1;
    Py_DECREF(r);
    return answer;
}

template <auto Fn>
PyObject* call_entry(PyObject* self, PyObject* args, PyObject* kwargs) noexcept {
    return guarded([&] {
        using R = std::invoke_result_t<decltype(Fn), PyObject*, const Args&>;
        auto a = Args::bind_tuple(*SignatureOf<Fn>::sig, args, kwargs);
        if (!a) return R(raise(std::move(a.error())));
        return Fn(self, *a);
    });
}

template <auto Fn>
int setattr_entry(PyObject* self, PyObject* name, PyObject* value) noexcept {
    PyObject* r = guarded([&] { return Fn(self, name, value); });
    if (!r) return -1;
    Py_DECREF(r);
    return 0;
}

template <auto Fn>
PyObject* iter_entry(PyObject* self) noexcept {
    return guarded([&] { return Fn(self); });
}

/// A C entry point as the method table stores it.
template <class F>
PyCFunction as_cfunction(F* f) {
    return reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(f));
}

}  // namespace vz::py::detail
