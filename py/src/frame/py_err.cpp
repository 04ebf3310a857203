#include "frame/py_err.hpp"

#include <utility>

namespace vz::py {

// The fetch/restore pair is the limited API's way to move exceptions on 3.11;
// newer headers mark it deprecated in favour of calls 3.11 does not have.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"

PyErr PyErr::new_err(PyObject* type, std::string message) {
    PyErr e;
    e.lazy_type_ = type;
    e.message_ = std::move(message);
    return e;
}

PyErr PyErr::fetch() {
    PyObject *t = nullptr, *v = nullptr, *tb = nullptr;
    PyErr_Fetch(&t, &v, &tb);
    if (!t) return system_error("error return without exception set");
    PyErr_NormalizeException(&t, &v, &tb);
    if (tb && v) PyException_SetTraceback(v, tb);
    PyErr e;
    e.type_ = Ref::steal(t);
    e.value_ = Ref::steal(v);
    e.traceback_ = Ref::steal(tb);
    return e;
}

PyResult<Ref> make_str(std::string_view text) {
    return checked(PyUnicode_DecodeUTF8(text.data(), static_cast<Py_ssize_t>(text.size()), "replace"));
}

PyObject* PyErr::value() {
    if (value_) return value_.get();
    if (!lazy_type_) return nullptr;
    auto msg = make_str(message_);
    PyObject* v = msg ? PyObject_CallFunctionObjArgs(lazy_type_, msg->get(), nullptr) : nullptr;
    if (!v) {
        PyErr_Clear();
        return nullptr;
    }
    type_ = Ref::borrow(lazy_type_);
    value_ = Ref::steal(v);
    lazy_type_ = nullptr;
    message_.clear();
    return value_.get();
}

void PyErr::restore() && {
    if (lazy_type_) {
        auto msg = make_str(message_);
        if (msg) PyErr_SetObject(lazy_type_, msg->get());
        else std::move(msg.error()).restore();
        return;
    }
    if (!value_) {
        PyErr_SetString(PyExc_SystemError, "an empty error was raised");
        return;
    }
    PyErr_Restore(type_.release(), value_.release(), traceback_.release());
}

PyErr& PyErr::add_note(std::string_view note) {
    PyObject* v = value();
    if (!v) return *this;
    auto text = make_str(note);
    if (!text) return *this;
    PyObject* r = PyObject_CallMethod(v, "add_note", "O", text->get());
    if (r) Py_DECREF(r);
    else PyErr_Clear();
    return *this;
}

PyErr& PyErr::set_cause(PyErr cause) {
    PyObject* v = value();
    PyObject* c = cause.value();
    if (v && c) {
        Py_INCREF(c);
        PyException_SetCause(v, c);  // steals the reference
    }
    return *this;
}

bool PyErr::matches(PyObject* type) const {
    if (lazy_type_) return PyErr_GivenExceptionMatches(lazy_type_, type) != 0;
    return type_ && PyErr_GivenExceptionMatches(type_.get(), type) != 0;
}

#pragma GCC diagnostic pop

}  // namespace vz::py
