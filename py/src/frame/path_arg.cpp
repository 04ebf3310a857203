#include "frame/path_arg.hpp"

#include <string>

#include <fmt/format.h>

namespace vz::py {

PyResult<std::filesystem::path> path_arg(const Args& a, std::string_view name) {
    PyObject* raw = a.raw(name);
    // Path parameters are required: a missing value is a binding mistake.
    if (!raw) return raise(PyErr::system_error(fmt::format("no value for path parameter '{}'", name)));
    if (!PyUnicode_Check(raw)) {
        PyErr err = not_instance(raw, "str");
        return raise(std::move(Args::add_parameter_note(err, name)));
    }
    PyObject* encoded = nullptr;
    if (!PyUnicode_FSConverter(raw, &encoded)) {
        PyErr err = PyErr::fetch();
        return raise(std::move(Args::add_parameter_note(err, name)));
    }
    Ref bytes = Ref::steal(encoded);
    char* data = nullptr;
    Py_ssize_t size = 0;
    if (PyBytes_AsStringAndSize(bytes.get(), &data, &size) < 0) return raise_pending();
    return std::filesystem::path(std::string(data, static_cast<std::size_t>(size)));
}

}  // namespace vz::py
