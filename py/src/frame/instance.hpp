#pragma once
/// The memory layout of every binding object: the Python object header, the
/// access flag, then the C++ payload of the class. Objects are made only by
/// the system (`create_instance`) or by a class's constructor, and their
/// payload is destroyed with them.

#include <memory>
#include <type_traits>
#include <utility>

#include "frame/borrow_flag.hpp"
#include "frame/py_err.hpp"
#include "frame/ref.hpp"

namespace vz::py {

template <class P>
struct Instance {
    PyObject ob_base;
    BorrowFlag flag;
    P value;
};

/// The instance behind `self`, which must be an object of a class whose
/// payload is P (the methods of that class are only called on such objects).
template <class P>
Instance<P>& instance(PyObject* self) {
    return *reinterpret_cast<Instance<P>*>(self);
}

/// The payload of `self`, read directly: for the immutable value classes,
/// which take no access.
template <class P>
P& payload(PyObject* self) {
    return instance<P>(self).value;
}

/// A new object of the class `type` (whose payload is P) holding `value`.
/// Moving a payload may allocate (an insertion-ordered map moves its
/// storage); should that fail, the half-made object is freed without
/// touching the payload it never got, and the call fails with MemoryError.
template <class P>
PyResult<Ref> create_instance(PyTypeObject* type, P value) {
    auto alloc = reinterpret_cast<allocfunc>(PyType_GetSlot(type, Py_tp_alloc));
    PyObject* obj = alloc ? alloc(type, 0) : nullptr;
    if (!obj) return raise_pending();
    auto& inst = instance<P>(obj);
    std::construct_at(&inst.flag);
    try {
        std::construct_at(&inst.value, std::move(value));
    } catch (...) {
        std::destroy_at(&inst.flag);
        auto free_fn = reinterpret_cast<freefunc>(PyType_GetSlot(type, Py_tp_free));
        free_fn(obj);
        Py_DECREF(type);
        return raise(PyErr::new_err(PyExc_MemoryError, "out of memory while creating an object"));
    }
    return Ref::steal(obj);
}

/// Deallocation slot of a class whose payload is P.
template <class P>
void dealloc_instance(PyObject* self) {
    PyTypeObject* type = Py_TYPE(self);
    auto& inst = instance<P>(self);
    std::destroy_at(&inst.value);
    std::destroy_at(&inst.flag);
    auto free_fn = reinterpret_cast<freefunc>(PyType_GetSlot(type, Py_tp_free));
    free_fn(self);
    Py_DECREF(type);
}

/// Whether `obj` is an object of `type` (binding classes cannot be
/// subclassed, so this is the exact type).
inline bool is_instance(PyObject* obj, PyTypeObject* type) { return Py_TYPE(obj) == type; }

}  // namespace vz::py
