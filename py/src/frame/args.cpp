#include "frame/args.hpp"

#include <vector>

#include <fmt/format.h>

namespace vz::py {

namespace {

// Keyword names as UTF-8 views into the (immutable) name objects, which the
// call keeps alive.
PyResult<std::vector<std::string_view>> keyword_names(const std::vector<PyObject*>& names) {
    std::vector<std::string_view> out;
    out.reserve(names.size());
    for (PyObject* n : names) {
        if (!PyUnicode_Check(n)) return raise(PyErr::type_error("keywords must be strings"));
        Py_ssize_t len = 0;
        const char* s = PyUnicode_AsUTF8AndSize(n, &len);
        if (!s) return raise_pending();
        out.emplace_back(s, static_cast<std::size_t>(len));
    }
    return out;
}

}  // namespace

PyResult<Args> Args::bind_values(const Signature& sig, PyObject* const* values, std::size_t nargs,
                                 const std::vector<PyObject*>& names) {
    VZ_ASSIGN_OR_RETURN(auto views, keyword_names(names));
    std::array<std::ptrdiff_t, Signature::kMaxParams> slots{};
    const std::size_t np = sig.params().size();
    auto bound = sig.bind(nargs, views, std::span(slots.data(), np));
    if (!bound) return raise(PyErr::type_error(std::move(bound.error())));
    Args a(sig);
    for (std::size_t i = 0; i < np; ++i)
        if (slots[i] != Signature::kNotGiven) a.values_[i] = values[slots[i]];
    return a;
}

PyResult<Args> Args::bind(const Signature& sig, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    std::vector<PyObject*> names;
    if (kwnames) {
        const Py_ssize_t nk = PyTuple_Size(kwnames);
        if (nk < 0) return raise_pending();
        names.reserve(static_cast<std::size_t>(nk));
        for (Py_ssize_t k = 0; k < nk; ++k) names.push_back(PyTuple_GetItem(kwnames, k));
    }
    return bind_values(sig, args, static_cast<std::size_t>(nargs), names);
}

PyResult<Args> Args::bind_tuple(const Signature& sig, PyObject* args, PyObject* kwargs) {
    std::vector<PyObject*> values;
    std::size_t nargs = 0;
    if (args) {
        const Py_ssize_t n = PyTuple_Size(args);
        if (n < 0) return raise_pending();
        nargs = static_cast<std::size_t>(n);
        for (Py_ssize_t i = 0; i < n; ++i) values.push_back(PyTuple_GetItem(args, i));
    }
    std::vector<PyObject*> names;
    if (kwargs) {
        Py_ssize_t pos = 0;
        PyObject *key = nullptr, *value = nullptr;
        while (PyDict_Next(kwargs, &pos, &key, &value)) {
            names.push_back(key);
            values.push_back(value);
        }
    }
    return bind_values(sig, values.data(), nargs, names);
}

PyObject* Args::raw(std::string_view name) const {
    if (auto i = sig_->index_of(name)) return values_[*i];
    return nullptr;
}

PyErr Args::missing_value(std::string_view name) const {
    if (!sig_->index_of(name))
        return PyErr::system_error(fmt::format("{} has no parameter '{}'", sig_->display_name(), name));
    return PyErr::system_error(fmt::format("{}: no value for parameter '{}'", sig_->display_name(), name));
}

PyErr& Args::add_parameter_note(PyErr& err, std::string_view name) {
    return err.add_note(fmt::format("while processing '{}'", name));
}

}  // namespace vz::py
