#pragma once
/// `PyErr`: a Python exception held as a value, and `PyResult<T>`, the result
/// type of every binding step (std::expected<T, PyErr>; propagate with
/// VZ_TRY / VZ_ASSIGN_OR_RETURN).
///
/// An error made from a class and a message is built lazily: nothing touches
/// the interpreter until it is raised, so such errors may be made and dropped
/// while the interpreter lock is released. Errors fetched from the
/// interpreter, and any error once a note or cause is attached, hold the
/// exception object and need the lock.

#include <expected>
#include <string>
#include <string_view>

#include "expected_macros.hpp"
#include "frame/ref.hpp"

namespace vz::py {

class PyErr {
public:
    /// A lazily built exception of the built-in class `type` (e.g.
    /// PyExc_ValueError) with one message argument.
    static PyErr new_err(PyObject* type, std::string message);
    static PyErr type_error(std::string m) { return new_err(PyExc_TypeError, std::move(m)); }
    static PyErr value_error(std::string m) { return new_err(PyExc_ValueError, std::move(m)); }
    static PyErr runtime_error(std::string m) { return new_err(PyExc_RuntimeError, std::move(m)); }
    static PyErr key_error(std::string m) { return new_err(PyExc_KeyError, std::move(m)); }
    static PyErr index_error(std::string m) { return new_err(PyExc_IndexError, std::move(m)); }
    static PyErr attribute_error(std::string m) { return new_err(PyExc_AttributeError, std::move(m)); }
    static PyErr overflow_error(std::string m) { return new_err(PyExc_OverflowError, std::move(m)); }
    static PyErr system_error(std::string m) { return new_err(PyExc_SystemError, std::move(m)); }

    /// Takes the exception pending in the interpreter (lock held). When none
    /// is pending (a C-API contract broken), a SystemError says so.
    static PyErr fetch();

    /// Raises the exception into the interpreter (lock held); this object is
    /// left empty.
    void restore() &&;

    /// The exception object, built now when lazy (lock held). Null only when
    /// even building it failed (the interpreter then has an error pending,
    /// which is cleared).
    PyObject* value();

    /// Adds `note` to the exception's notes; when adding fails the exception
    /// stays as it was.
    PyErr& add_note(std::string_view note);
    /// Sets `cause` as the exception's __cause__.
    PyErr& set_cause(PyErr cause);

    /// Whether the exception is an instance of `type` (lock held for
    /// fetched errors).
    bool matches(PyObject* type) const;
    /// The message of a lazily built error (empty for fetched ones).
    const std::string& lazy_message() const { return message_; }

private:
    PyObject* lazy_type_ = nullptr;  // borrowed built-in exception class
    std::string message_;
    Ref type_, value_, traceback_;
};

/// A value or a Python exception.
template <class T>
using PyResult = std::expected<T, PyErr>;

/// Shorthand for a failed result: `return raise(PyErr::type_error("..."));`
inline std::unexpected<PyErr> raise(PyErr e) { return std::unexpected<PyErr>(std::move(e)); }

/// A failed result carrying the exception pending in the interpreter.
inline std::unexpected<PyErr> raise_pending() { return std::unexpected<PyErr>(PyErr::fetch()); }

/// A new reference from a C-API call, or the pending exception when null.
inline PyResult<Ref> checked(PyObject* new_ref) {
    if (!new_ref) return raise_pending();
    return Ref::steal(new_ref);
}

/// A Python str from UTF-8 text (undecodable bytes replaced, never failing
/// on content).
PyResult<Ref> make_str(std::string_view text);

}  // namespace vz::py
