#pragma once
/// `Args`: the arguments of one call, matched to the callable's signature.
///
/// The trampolines bind the call (interpreter-worded TypeErrors for missing,
/// surplus, duplicated and unknown arguments) before the method body runs;
/// the body then converts each parameter by name, in the order its
/// behaviour requires. A failed conversion keeps its exception and gets the
/// note "while processing '{}'" naming the parameter.

#include <array>
#include <optional>
#include <span>
#include <string_view>
#include <vector>

#include "frame/convert.hpp"
#include "frame/py_err.hpp"
#include "frame/signature.hpp"

namespace vz::py {

class Args {
public:
    /// Matches a vectorcall-style call (positional values, then the keyword
    /// values named by the `kwnames` tuple) to `sig`.
    static PyResult<Args> bind(const Signature& sig, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames);
    /// Matches a call given as an argument tuple and keyword dict (either may
    /// be null) to `sig`.
    static PyResult<Args> bind_tuple(const Signature& sig, PyObject* args, PyObject* kwargs);

    const Signature& signature() const { return *sig_; }

    /// The value given for `name` (borrowed), or null when omitted.
    PyObject* raw(std::string_view name) const;
    /// Whether `name` was given (None counts as given).
    bool given(std::string_view name) const { return raw(name) != nullptr; }
    /// Whether `name` was given and is not None.
    bool given_not_none(std::string_view name) const {
        PyObject* v = raw(name);
        return v && v != Py_None;
    }

    /// Converts the value of a parameter the call must give (a required
    /// parameter, or one whose presence the caller checked).
    template <class T>
    PyResult<T> get(std::string_view name) const {
        PyObject* v = raw(name);
        if (!v) return raise(missing_value(name));
        return noted(name, from_py<T>(v));
    }
    /// Converts the value when given; `fallback` when omitted. None is
    /// converted like any value (and fails unless T accepts it).
    template <class T>
    PyResult<T> get_or(std::string_view name, T fallback) const {
        PyObject* v = raw(name);
        if (!v) return fallback;
        return noted(name, from_py<T>(v));
    }
    /// Converts the value when given and not None; nullopt otherwise (None
    /// counts as not given).
    template <class T>
    PyResult<std::optional<T>> opt(std::string_view name) const {
        PyObject* v = raw(name);
        if (!v || v == Py_None) return std::optional<T>();
        VZ_ASSIGN_OR_RETURN(T out, noted(name, from_py<T>(v)));
        return std::optional<T>(std::move(out));
    }

    /// Adds the "while processing '{}'" note of parameter `name` to a failed
    /// conversion made outside `get` (custom converters).
    template <class T>
    static PyResult<T> noted(std::string_view name, PyResult<T>&& r) {
        if (!r) return raise(std::move(add_parameter_note(r.error(), name)));
        return std::move(r);
    }
    /// The note every failed argument conversion carries.
    static PyErr& add_parameter_note(PyErr& err, std::string_view name);

private:
    explicit Args(const Signature& sig) : sig_(&sig) {}
    static PyResult<Args> bind_views(const Signature& sig, PyObject* const* values, std::size_t nargs,
                                     std::span<const std::string_view> names);
    PyErr missing_value(std::string_view name) const;

    const Signature* sig_;
    std::array<PyObject*, Signature::kMaxParams> values_{};
};

}  // namespace vz::py
