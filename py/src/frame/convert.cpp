#include "frame/convert.hpp"

#include <fmt/format.h>

namespace vz::py {

std::string type_name(PyObject* obj) {
    Ref name = Ref::steal(PyType_GetName(Py_TYPE(obj)));
    if (name) {
        Py_ssize_t n = 0;
        if (const char* s = PyUnicode_AsUTF8AndSize(name.get(), &n)) return std::string(s, static_cast<std::size_t>(n));
    }
    PyErr_Clear();
    return "object";
}

PyErr not_instance(PyObject* obj, std::string_view expected) {
    if (obj == Py_None) return PyErr::type_error(fmt::format("'None' is not an instance of '{}'", expected));
    return PyErr::type_error(fmt::format("'{}' object is not an instance of '{}'", type_name(obj), expected));
}

PyResult<std::string> FromPy<std::string>::convert(PyObject* obj) {
    if (!PyUnicode_Check(obj)) return raise(not_instance(obj, "str"));
    Py_ssize_t n = 0;
    const char* s = PyUnicode_AsUTF8AndSize(obj, &n);
    if (!s) return raise_pending();
    return std::string(s, static_cast<std::size_t>(n));
}

PyResult<double> FromPy<double>::convert(PyObject* obj) {
    const double v = PyFloat_AsDouble(obj);
    if (v == -1.0 && PyErr_Occurred()) return raise_pending();
    return v;
}

namespace {

// The integer protocol: int itself, or an object's __index__.
PyResult<Ref> as_index(PyObject* obj) {
    if (PyLong_Check(obj)) return Ref::borrow(obj);
    return checked(PyNumber_Index(obj));
}

}  // namespace

PyResult<std::uint64_t> FromPy<std::uint64_t>::convert(PyObject* obj) {
    VZ_ASSIGN_OR_RETURN(Ref i, as_index(obj));
    const unsigned long long v = PyLong_AsUnsignedLongLong(i.get());
    if (v == static_cast<unsigned long long>(-1) && PyErr_Occurred()) return raise_pending();
    return static_cast<std::uint64_t>(v);
}

PyResult<std::int64_t> FromPy<std::int64_t>::convert(PyObject* obj) {
    VZ_ASSIGN_OR_RETURN(Ref i, as_index(obj));
    const long long v = PyLong_AsLongLong(i.get());
    if (v == -1 && PyErr_Occurred()) return raise_pending();
    return static_cast<std::int64_t>(v);
}

PyResult<std::uint32_t> FromPy<std::uint32_t>::convert(PyObject* obj) {
    VZ_ASSIGN_OR_RETURN(std::int64_t v, FromPy<std::int64_t>::convert(obj));
    if (v < 0 || v > static_cast<std::int64_t>(UINT32_MAX))
        return raise(PyErr::overflow_error("out of range integral type conversion attempted"));
    return static_cast<std::uint32_t>(v);
}

PyResult<bool> FromPy<bool>::convert(PyObject* obj) {
    if (PyBool_Check(obj)) return obj == Py_True;
    // numpy's bool scalar is not a bool subclass; accept it by its type's name
    // ("numpy.bool_", or "numpy.bool" from numpy 2 on).
    PyObject* type = reinterpret_cast<PyObject*>(Py_TYPE(obj));
    Ref module = Ref::steal(PyObject_GetAttrString(type, "__module__"));
    if (!module) PyErr_Clear();
    else if (PyUnicode_Check(module.get()) && PyUnicode_CompareWithASCIIString(module.get(), "numpy") == 0) {
        const std::string name = type_name(obj);
        if (name == "bool_" || name == "bool") {
            const int t = PyObject_IsTrue(obj);
            if (t < 0) return raise_pending();
            return t == 1;
        }
    }
    return raise(not_instance(obj, "bool"));
}

namespace {

// A sequence argument: refuses a str (which is a sequence of characters) and
// non-sequences, then converts each item of the object's iteration.
template <class T>
PyResult<std::vector<T>> convert_sequence(PyObject* obj) {
    if (PyUnicode_Check(obj)) return raise(PyErr::type_error("Can't extract `str` to `Vec`"));
    if (!PySequence_Check(obj)) return raise(not_instance(obj, "Sequence"));
    std::vector<T> out;
    const Py_ssize_t n = PySequence_Size(obj);
    if (n < 0) PyErr_Clear();
    else out.reserve(static_cast<std::size_t>(n));
    VZ_ASSIGN_OR_RETURN(Ref it, checked(PyObject_GetIter(obj)));
    while (PyObject* raw = PyIter_Next(it.get())) {
        Ref item = Ref::steal(raw);
        VZ_ASSIGN_OR_RETURN(T v, FromPy<T>::convert(item.get()));
        out.push_back(std::move(v));
    }
    if (PyErr_Occurred()) return raise_pending();
    return out;
}

}  // namespace

PyResult<std::vector<double>> FromPy<std::vector<double>>::convert(PyObject* obj) {
    return convert_sequence<double>(obj);
}

PyResult<std::vector<std::string>> FromPy<std::vector<std::string>>::convert(PyObject* obj) {
    return convert_sequence<std::string>(obj);
}

PyResult<Dict> FromPy<Dict>::convert(PyObject* obj) {
    if (!PyDict_Check(obj)) return raise(not_instance(obj, "dict"));
    return Dict{Ref::borrow(obj)};
}

PyResult<Ref> to_py(double v) { return checked(PyFloat_FromDouble(v)); }
PyResult<Ref> to_py(bool v) { return Ref::borrow(v ? Py_True : Py_False); }
PyResult<Ref> to_py(std::string_view v) {
    return checked(PyUnicode_FromStringAndSize(v.data(), static_cast<Py_ssize_t>(v.size())));
}

namespace {

template <class T>
PyResult<Ref> list_of(const std::vector<T>& v) {
    VZ_ASSIGN_OR_RETURN(Ref list, checked(PyList_New(static_cast<Py_ssize_t>(v.size()))));
    for (std::size_t i = 0; i < v.size(); ++i) {
        VZ_ASSIGN_OR_RETURN(Ref item, to_py(v[i]));
        if (PyList_SetItem(list.get(), static_cast<Py_ssize_t>(i), item.release()) < 0) return raise_pending();
    }
    return list;
}

}  // namespace

PyResult<Ref> to_py(const std::vector<double>& v) { return list_of(v); }
PyResult<Ref> to_py(const std::vector<std::string>& v) { return list_of(v); }

}  // namespace vz::py
