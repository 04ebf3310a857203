#include "frame/convert_more.hpp"

namespace vz::py {

PyResult<StrDict> FromPy<StrDict>::convert(PyObject* obj) {
    if (!PyDict_Check(obj)) return raise(not_instance(obj, "dict"));
    StrDict out;
    out.entries.reserve(static_cast<std::size_t>(PyDict_Size(obj)));
    // PyDict_Next walks the dict's own table in insertion order; the text
    // conversions below run no Python code, so the dict cannot change under
    // the walk.
    Py_ssize_t pos = 0;
    PyObject *key = nullptr, *value = nullptr;
    while (PyDict_Next(obj, &pos, &key, &value)) {
        VZ_ASSIGN_OR_RETURN(std::string k, from_py<std::string>(key));
        VZ_ASSIGN_OR_RETURN(std::string v, from_py<std::string>(value));
        out.entries.emplace_back(std::move(k), std::move(v));
    }
    return out;
}

PyResult<Bytes> FromPy<Bytes>::convert(PyObject* obj) {
    if (!PyBytes_Check(obj)) return raise(not_instance(obj, "bytes"));
    char* data = nullptr;
    Py_ssize_t size = 0;
    if (PyBytes_AsStringAndSize(obj, &data, &size) < 0) return raise_pending();
    const auto* bytes = reinterpret_cast<const std::uint8_t*>(data);
    return Bytes{std::vector<std::uint8_t>(bytes, bytes + size)};
}

PyResult<std::vector<std::optional<std::string>>> FromPy<std::vector<std::optional<std::string>>>::convert(
    PyObject* obj) {
    return sequence_of<std::optional<std::string>>(obj);
}

PyResult<Ref> dict_lookup(const Dict& d, std::string_view key) {
    VZ_ASSIGN_OR_RETURN(Ref k, to_py(key));
    PyObject* v = PyDict_GetItemWithError(d.obj.get(), k.get());
    if (!v) {
        if (PyErr_Occurred()) return raise_pending();
        return Ref();
    }
    // Borrowed from the dict: held, since converting it may run Python code
    // that changes the dict.
    return Ref::borrow(v);
}

PyResult<Ref> to_py(const Bytes& v) {
    return checked(PyBytes_FromStringAndSize(reinterpret_cast<const char*>(v.data.data()),
                                             static_cast<Py_ssize_t>(v.data.size())));
}

}  // namespace vz::py
