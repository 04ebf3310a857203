#include "frame/exception_text.hpp"

#include <optional>

#include "frame/convert.hpp"

namespace vz::py {

namespace {

// str(obj) as UTF-8 text, or nothing (the failure cleared).
std::optional<std::string> text_of(PyObject* obj) {
    Ref str = Ref::steal(PyObject_Str(obj));
    if (str) {
        auto text = from_py<std::string>(str.get());
        if (text) return std::move(*text);
    }
    PyErr_Clear();
    return std::nullopt;
}

}  // namespace

std::string exception_text(PyErr& err, ExceptionClassName naming) {
    PyObject* exc = err.value();
    if (!exc) return "<exception str() failed>";
    std::optional<std::string> name;
    if (naming == ExceptionClassName::Qualified) {
        PyObject* type = reinterpret_cast<PyObject*>(Py_TYPE(exc));
        Ref qualname = Ref::steal(PyObject_GetAttrString(type, "__qualname__"));
        name = qualname ? text_of(qualname.get()) : std::nullopt;
        if (!qualname) PyErr_Clear();
    }
    std::string out = name ? *name : type_name(exc);
    out += ": ";
    out += text_of(exc).value_or("<exception str() failed>");
    return out;
}

}  // namespace vz::py
