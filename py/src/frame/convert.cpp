#include "frame/convert.hpp"

#include <fmt/format.h>

#include <algorithm>
#include <bit>
#include <cstring>
#include <optional>

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

std::string class_name(PyTypeObject* type) {
    Ref name = Ref::steal(PyType_GetName(type));
    if (name) {
        Py_ssize_t n = 0;
        if (const char* s = PyUnicode_AsUTF8AndSize(name.get(), &n)) return std::string(s, static_cast<std::size_t>(n));
    }
    PyErr_Clear();
    return "object";
}

ItemRoom item_room(PyObject* obj, std::size_t cap) {
    const auto held = [](Py_ssize_t n) {
        const std::size_t k = n > 0 ? static_cast<std::size_t>(n) : 0;
        return ItemRoom{k, k};
    };
    if (PyList_CheckExact(obj)) return held(PyList_Size(obj));
    if (PyTuple_CheckExact(obj)) return held(PyTuple_Size(obj));
    // An exported buffer whose first axis steps through memory (a numpy
    // array of objects, say) holds that many items itself; a zero stride (a
    // broadcast view repeating one item) makes its length a claim.
    if (!PyUnicode_Check(obj) && PyObject_CheckBuffer(obj)) {
        Py_buffer v{};
        if (PyObject_GetBuffer(obj, &v, PyBUF_RECORDS_RO) == 0) {
            const bool laid_out = v.ndim >= 1 && v.shape && (!v.strides || v.strides[0] != 0);
            const Py_ssize_t n = laid_out ? v.shape[0] : -1;
            PyBuffer_Release(&v);
            if (n >= 0) return held(n);
        } else {
            PyErr_Clear();
        }
    }
    const Py_ssize_t n = PySequence_Size(obj);
    if (n < 0) {
        PyErr_Clear();
        return {0, 0};
    }
    const auto claimed = static_cast<std::size_t>(n);
    return {std::min(claimed, cap), claimed};
}

PyErr wrong_tuple_length(std::size_t expected, std::size_t got) {
    return PyErr::type_error(fmt::format("expected a tuple of {} numbers, got {}", expected, got));
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
    VZ_ASSIGN_OR_RETURN(Ref i, as_index(obj));
    // An integer beyond 64 bits is out of range like any other: one message
    // however far out it lies.
    int overflow = 0;
    const long long v = PyLong_AsLongLongAndOverflow(i.get(), &overflow);
    if (v == -1 && PyErr_Occurred()) return raise_pending();
    if (overflow != 0 || v < 0 || v > static_cast<long long>(UINT32_MAX))
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

// The buffer fast path for numeric sequences. An object that exports a
// one-dimensional buffer of plain numbers in native byte order (a numpy
// array, array.array, a memoryview) is read straight from its memory: no
// Python float per element. Each element becomes the double that the
// sequence path's float conversion would give (a float widened, an integer
// converted with round-to-nearest, a bool as 0 or 1), so the two paths agree
// exactly. Anything else (str, bytes, bytearray, other formats, other
// dimensions, foreign byte order) takes the sequence path.

// How one element of a buffer format is read, or null for formats the fast
// path leaves to the sequence path.
using ReadElement = double (*)(const char*);

template <class T>
double read_element(const char* p) {
    if constexpr (std::is_same_v<T, bool>) {
        // Read as a byte: a stored value other than 0 or 1 must not be
        // loaded as a bool.
        unsigned char b;
        std::memcpy(&b, p, 1);
        return b != 0 ? 1.0 : 0.0;
    } else {
        T v;
        std::memcpy(&v, p, sizeof v);
        return static_cast<double>(v);
    }
}

ReadElement element_reader(const char* format, Py_ssize_t itemsize) {
    if (!format) format = "B";
    // Native order and size: no prefix, '@' or '='; '<' is native on a
    // little-endian machine.
    if (*format == '@' || *format == '=' || (*format == '<' && std::endian::native == std::endian::little)) ++format;
    if (format[0] == '\0' || format[1] != '\0') return nullptr;
    auto sized = [&](auto tag) -> ReadElement {
        using T = decltype(tag);
        return itemsize == static_cast<Py_ssize_t>(sizeof(T)) ? &read_element<T> : nullptr;
    };
    switch (format[0]) {
        case 'd': return sized(double{});
        case 'f': return sized(float{});
        case 'b': return sized(static_cast<signed char>(0));
        case 'B': return sized(static_cast<unsigned char>(0));
        case 'h': return sized(short{});
        case 'H': return sized(static_cast<unsigned short>(0));
        case 'i': return sized(int{});
        case 'I': return sized(0u);
        case 'l': return sized(0l);
        case 'L': return sized(0ul);
        case 'q': return sized(0ll);
        case 'Q': return sized(0ull);
        case 'n': return sized(static_cast<Py_ssize_t>(0));
        case 'N': return sized(static_cast<std::size_t>(0));
        case '?': return sized(bool{});
        default: return nullptr;
    }
}

/// Holds a buffer view and gives it back on every path.
class BufferView {
public:
    explicit BufferView(PyObject* obj) {
        if (PyUnicode_Check(obj) || PyBytes_Check(obj) || PyByteArray_Check(obj) || !PyObject_CheckBuffer(obj)) return;
        if (PyObject_GetBuffer(obj, &view_, PyBUF_RECORDS_RO) < 0) {
            PyErr_Clear();  // not exportable this way: the sequence path decides
            return;
        }
        held_ = true;
    }
    BufferView(const BufferView&) = delete;
    BufferView& operator=(const BufferView&) = delete;
    ~BufferView() {
        if (held_) PyBuffer_Release(&view_);
    }
    bool held() const { return held_; }
    const Py_buffer& operator*() const { return view_; }

private:
    Py_buffer view_{};
    bool held_ = false;
};

// Appends the elements of an n-element strided run starting at `p`.
void append_strided(std::vector<double>& out, const char* p, Py_ssize_t n, Py_ssize_t stride, ReadElement read) {
    if (read == &read_element<double> && stride == static_cast<Py_ssize_t>(sizeof(double))) {
        const std::size_t at = out.size();
        out.resize(at + static_cast<std::size_t>(n));
        if (n > 0) std::memcpy(out.data() + at, p, static_cast<std::size_t>(n) * sizeof(double));
        return;
    }
    for (Py_ssize_t k = 0; k < n; ++k) out.push_back(read(p + k * stride));
}

// The rows of a readable buffer of `ndim` dimensions, or none when the fast
// path does not apply.
std::optional<std::vector<std::vector<double>>> buffer_rows(PyObject* obj, int ndim) {
    BufferView buf(obj);
    if (!buf.held()) return std::nullopt;
    const Py_buffer& v = *buf;
    if (v.ndim != ndim || !v.shape) return std::nullopt;
    const ReadElement read = element_reader(v.format, v.itemsize);
    if (!read) return std::nullopt;
    const Py_ssize_t rows = ndim == 1 ? 1 : v.shape[0];
    const Py_ssize_t cols = v.shape[ndim - 1];
    const Py_ssize_t row_stride = ndim == 1 ? 0 : (v.strides ? v.strides[0] : cols * v.itemsize);
    const Py_ssize_t col_stride = v.strides ? v.strides[ndim - 1] : v.itemsize;
    if (v.suboffsets) return std::nullopt;
    std::vector<std::vector<double>> out(static_cast<std::size_t>(rows));
    for (Py_ssize_t r = 0; r < rows; ++r) {
        out[static_cast<std::size_t>(r)].reserve(static_cast<std::size_t>(cols));
        append_strided(out[static_cast<std::size_t>(r)], static_cast<const char*>(v.buf) + r * row_stride, cols,
                       col_stride, read);
    }
    return out;
}

}  // namespace

PyResult<std::vector<double>> FromPy<std::vector<double>>::convert(PyObject* obj) {
    if (auto rows = buffer_rows(obj, 1)) return std::move(rows->front());
    return sequence_of<double>(obj);
}

PyResult<std::vector<std::vector<double>>> FromPy<std::vector<std::vector<double>>>::convert(PyObject* obj) {
    if (auto rows = buffer_rows(obj, 2)) return std::move(*rows);
    return sequence_of<std::vector<double>>(obj);
}

PyResult<std::vector<std::string>> FromPy<std::vector<std::string>>::convert(PyObject* obj) {
    return sequence_of<std::string>(obj);
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
