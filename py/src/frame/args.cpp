#include "frame/args.hpp"

#include <vector>

#include <fmt/format.h>

namespace vz::py {

namespace {

// A keyword name as a UTF-8 view into the (immutable) name object, which the
// call keeps alive.
PyResult<std::string_view> keyword_name(PyObject* n) {
    if (!PyUnicode_Check(n)) return raise(PyErr::type_error("keywords must be strings"));
    Py_ssize_t len = 0;
    const char* s = PyUnicode_AsUTF8AndSize(n, &len);
    if (!s) return raise_pending();
    return std::string_view(s, static_cast<std::size_t>(len));
}

}  // namespace

PyResult<Args> Args::bind_views(const Signature& sig, PyObject* const* values, std::size_t nargs,
                                std::span<const std::string_view> names) {
    std::array<std::ptrdiff_t, Signature::kMaxParams> slots{};
    const std::size_t np = sig.params().size();
    auto bound = sig.bind(nargs, names, std::span(slots.data(), np));
    if (!bound) return raise(PyErr::type_error(std::move(bound.error())));
    Args a(sig);
    for (std::size_t i = 0; i < np; ++i)
        if (slots[i] != Signature::kNotGiven) a.values_[i] = values[slots[i]];
    return a;
}

PyResult<Args> Args::bind(const Signature& sig, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    // Keyword names live on the stack for ordinary calls; only a call with
    // more keywords than any signature has parameters spills to the heap.
    std::array<std::string_view, Signature::kMaxParams> small;
    std::vector<std::string_view> large;
    std::span<std::string_view> names;
    if (kwnames) {
        const Py_ssize_t nk = PyTuple_Size(kwnames);
        if (nk < 0) return raise_pending();
        if (static_cast<std::size_t>(nk) <= small.size()) {
            names = std::span(small.data(), static_cast<std::size_t>(nk));
        } else {
            large.resize(static_cast<std::size_t>(nk));
            names = std::span(large);
        }
        for (Py_ssize_t k = 0; k < nk; ++k) {
            VZ_ASSIGN_OR_RETURN(names[static_cast<std::size_t>(k)], keyword_name(PyTuple_GetItem(kwnames, k)));
        }
    }
    return bind_views(sig, args, static_cast<std::size_t>(nargs), names);
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
    std::vector<std::string_view> names;
    if (kwargs) {
        Py_ssize_t pos = 0;
        PyObject *key = nullptr, *value = nullptr;
        while (PyDict_Next(kwargs, &pos, &key, &value)) {
            VZ_ASSIGN_OR_RETURN(std::string_view name, keyword_name(key));
            names.push_back(name);
            values.push_back(value);
        }
    }
    return bind_views(sig, values.data(), nargs, names);
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
