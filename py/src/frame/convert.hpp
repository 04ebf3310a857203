#pragma once
/// Conversions between Python objects and C++ values.
///
/// `from_py<T>(obj)` converts an argument value; a failure is the conversion's
/// own exception (the binding's "'{}' object is not an instance of '{}'" for a
/// wrong Python type, the interpreter's TypeError for a value that is not a
/// number of the wanted kind, OverflowError for an integer out of range).
/// `Args` adds the note naming the parameter. `to_py(value)` builds the Python
/// result of a method.

#include <algorithm>
#include <array>
#include <concepts>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "frame/py_err.hpp"
#include "frame/ref.hpp"

namespace vz::py {

/// The name of an object's type as messages show it ("int", "float64").
std::string type_name(PyObject* obj);

/// The binding's TypeError for an object of the wrong Python type:
/// "'{}' object is not an instance of '{}'", or "'None' is not an instance of
/// '{}'" for None.
PyErr not_instance(PyObject* obj, std::string_view expected);

/// A `dict` (or subclass) argument, held by reference.
struct Dict {
    Ref obj;
};

template <class T>
struct FromPy;  // specialised below; one per convertible type

/// `str` (or subclass) → UTF-8 text.
template <>
struct FromPy<std::string> {
    static PyResult<std::string> convert(PyObject* obj);
};
/// Anything Python's float conversion accepts (float, int, objects with
/// __float__ or __index__, numpy scalars) → double.
template <>
struct FromPy<double> {
    static PyResult<double> convert(PyObject* obj);
};
/// An integer (through the integer protocol) → unsigned 64-bit.
template <>
struct FromPy<std::uint64_t> {
    static PyResult<std::uint64_t> convert(PyObject* obj);
};
/// An integer → unsigned 32-bit; out of range: OverflowError "out of range
/// integral type conversion attempted".
template <>
struct FromPy<std::uint32_t> {
    static PyResult<std::uint32_t> convert(PyObject* obj);
};
/// An integer (through the integer protocol) → signed 64-bit.
template <>
struct FromPy<std::int64_t> {
    static PyResult<std::int64_t> convert(PyObject* obj);
};
/// Strict bool: `bool` or numpy's bool scalar, nothing else.
template <>
struct FromPy<bool> {
    static PyResult<bool> convert(PyObject* obj);
};
/// A sequence of numbers (list, tuple, array; not `str`) → doubles.
template <>
struct FromPy<std::vector<double>> {
    static PyResult<std::vector<double>> convert(PyObject* obj);
};
/// A sequence of sequences of numbers → rows of doubles (rows may differ in
/// length; the caller checks the shape). A `str`, as the whole or as a row,
/// is refused like a `str` where a sequence of numbers is wanted; a 2-D
/// array with the buffer protocol is read in one pass.
template <>
struct FromPy<std::vector<std::vector<double>>> {
    static PyResult<std::vector<std::vector<double>>> convert(PyObject* obj);
};
/// A sequence of `str` (not a `str` itself) → texts.
template <>
struct FromPy<std::vector<std::string>> {
    static PyResult<std::vector<std::string>> convert(PyObject* obj);
};
/// Any object, held by reference.
template <>
struct FromPy<Ref> {
    static PyResult<Ref> convert(PyObject* obj) { return Ref::borrow(obj); }
};
/// A `dict` or subclass.
template <>
struct FromPy<Dict> {
    static PyResult<Dict> convert(PyObject* obj);
};

/// Exactly N numbers in a `tuple` (or subclass): a list or another sequence
/// is refused with the binding's TypeError naming "tuple", a tuple of another
/// length with TypeError "expected a tuple of {} numbers, got {}".
template <std::size_t N>
struct FloatTuple {
    std::array<double, N> v{};
};
PyErr wrong_tuple_length(std::size_t expected, std::size_t got);
template <std::size_t N>
struct FromPy<FloatTuple<N>> {
    static PyResult<FloatTuple<N>> convert(PyObject* obj) {
        if (!PyTuple_Check(obj)) return raise(not_instance(obj, "tuple"));
        const Py_ssize_t n = PyTuple_Size(obj);
        if (n < 0) return raise_pending();
        if (static_cast<std::size_t>(n) != N) return raise(wrong_tuple_length(N, static_cast<std::size_t>(n)));
        FloatTuple<N> out;
        for (std::size_t i = 0; i < N; ++i) {
            const double v = PyFloat_AsDouble(PyTuple_GetItem(obj, static_cast<Py_ssize_t>(i)));
            if (v == -1.0 && PyErr_Occurred()) return raise_pending();
            out.v[i] = v;
        }
        return out;
    }
};

/// None → absent, anything else converted as T. (For arguments,
/// `Args::opt` already treats None as not given; this serves items of
/// sequences and values read from dicts.)
template <class T>
struct FromPy<std::optional<T>> {
    static PyResult<std::optional<T>> convert(PyObject* obj) {
        if (obj == Py_None) return std::optional<T>();
        auto v = FromPy<T>::convert(obj);
        if (!v) return raise(std::move(v.error()));
        return std::optional<T>(std::move(*v));
    }
};

/// Room for the items of a sequence argument: `now` to reserve before
/// iterating, and `claimed`, the count it is taken to hold. A `list` or
/// `tuple` (exact types) and an exported buffer whose first axis steps
/// through memory hold their length themselves: both are that length. Any
/// other length is a claim (a sequence class's `__len__` may report far more
/// items than it yields): `now` is at most `cap`, and the vector grows from
/// the items actually yielded. 0 and 0 when `len()` fails.
struct ItemRoom {
    std::size_t now;
    std::size_t claimed;
};
ItemRoom item_room(PyObject* obj, std::size_t cap);

/// A sequence argument of T items: refuses a `str` (a sequence of characters,
/// never taken as one of items) with TypeError "Can't extract `str` to
/// `Vec`" and non-sequences with the binding's TypeError naming "Sequence",
/// then converts each item of the object's iteration with `FromPy<T>`. The
/// result holds exactly the items the iteration yields, whatever the
/// object's length says.
template <class T>
PyResult<std::vector<T>> sequence_of(PyObject* obj) {
    if (PyUnicode_Check(obj)) return raise(PyErr::type_error("Can't extract `str` to `Vec`"));
    if (!PySequence_Check(obj)) return raise(not_instance(obj, "Sequence"));
    std::vector<T> out;
    // A few KiB at most on a claimed length.
    const ItemRoom room = item_room(obj, std::max<std::size_t>(1, 4096 / sizeof(T)));
    out.reserve(room.now);
    VZ_ASSIGN_OR_RETURN(Ref it, checked(PyObject_GetIter(obj)));
    while (PyObject* raw = PyIter_Next(it.get())) {
        Ref item = Ref::steal(raw);
        VZ_ASSIGN_OR_RETURN(T v, FromPy<T>::convert(item.get()));
        // While the claim holds, the room grows towards it, by at most eight
        // times the items yielded: few moves for an honest length, little
        // room for a false one.
        if (out.size() == out.capacity() && room.claimed > out.size())
            out.reserve(std::min(room.claimed, out.size() * 8));
        out.push_back(std::move(v));
    }
    if (PyErr_Occurred()) return raise_pending();
    return out;
}

/// Converts `obj` to T (no parameter note).
template <class T>
PyResult<T> from_py(PyObject* obj) {
    return FromPy<T>::convert(obj);
}

/// Python results.
PyResult<Ref> to_py(double v);
PyResult<Ref> to_py(bool v);
/// Any integer type → int.
template <std::integral T>
    requires(!std::same_as<T, bool>)
PyResult<Ref> to_py(T v) {
    if constexpr (std::is_signed_v<T>) return checked(PyLong_FromLongLong(static_cast<long long>(v)));
    else return checked(PyLong_FromUnsignedLongLong(static_cast<unsigned long long>(v)));
}
PyResult<Ref> to_py(std::string_view v);
inline PyResult<Ref> to_py(const std::string& v) { return to_py(std::string_view(v)); }
inline PyResult<Ref> to_py(const char* v) { return to_py(std::string_view(v)); }
inline PyResult<Ref> to_py(Ref v) { return v; }
/// A new list of floats / of str.
PyResult<Ref> to_py(const std::vector<double>& v);
PyResult<Ref> to_py(const std::vector<std::string>& v);
/// None when absent.
template <class T>
PyResult<Ref> to_py(const std::optional<T>& v) {
    if (!v) return Ref::none();
    return to_py(*v);
}

}  // namespace vz::py
