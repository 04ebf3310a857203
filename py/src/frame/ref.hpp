#pragma once
/// `Ref`: an owned (strong) reference to a Python object, released when the
/// Ref goes out of scope. Must be created, copied and destroyed with the
/// interpreter lock held.

#include <utility>

#include "frame/python.hpp"

namespace vz::py {

class Ref {
public:
    Ref() = default;
    /// Takes over a new reference (the result of an API call that returns
    /// one); null stays null.
    static Ref steal(PyObject* o) { return Ref(o); }
    /// Adds a reference to a borrowed object.
    static Ref borrow(PyObject* o) {
        Py_XINCREF(o);
        return Ref(o);
    }
    /// A new reference to None.
    static Ref none() { return borrow(Py_None); }

    Ref(const Ref& other) : obj_(other.obj_) { Py_XINCREF(obj_); }
    Ref(Ref&& other) noexcept : obj_(std::exchange(other.obj_, nullptr)) {}
    Ref& operator=(Ref other) noexcept {
        std::swap(obj_, other.obj_);
        return *this;
    }
    ~Ref() { Py_XDECREF(obj_); }

    /// The object, still owned by this Ref.
    PyObject* get() const { return obj_; }
    /// Hands the reference to the caller (e.g. as a C-API return value).
    PyObject* release() { return std::exchange(obj_, nullptr); }
    explicit operator bool() const { return obj_ != nullptr; }

private:
    explicit Ref(PyObject* o) : obj_(o) {}
    PyObject* obj_ = nullptr;
};

}  // namespace vz::py
