#include "format_kind.hpp"

#include <array>
#include <cstdint>
#include <filesystem>
#include <string>
#include <utility>

#include <fmt/format.h>

#include "frame/frame.hpp"

namespace vz::py {

namespace {

// Member names in ordinal order: the class attribute names, and the text
// after "FormatKind." in a member's representation.
constexpr std::array<const char*, 12> kMemberNames = {
    "Cps3Grid",   "Cps3Lines", "IrapClassicGrid", "IrapClassicPoints", "EarthVisionGrid", "Las",
    "WellPath",   "PetrelTops", "CrsMetaXml",     "GeoJson",           "CsvPoints",       "Unknown",
};
static_assert(kMemberNames.size() == vz::FormatKind::Unknown + 1, "one member per format");

// One cell per ordinal, holding the member object for the life of the
// process. A cell is only trusted while its object belongs to the current
// class object: should creating the class fail after some members were made,
// the next attempt makes fresh members of the new class object.
std::array<PyObject*, kMemberNames.size()> g_members{};

template <std::size_t K>
PyResult<Ref> make_member(PyTypeObject* type) {
    PyObject*& cell = g_members[K];
    if (cell && Py_TYPE(cell) == type) return Ref::borrow(cell);
    VZ_ASSIGN_OR_RETURN(Ref obj, create_instance(type, vz::FormatKind(static_cast<vz::FormatKind::Value>(K))));
    Ref stale = Ref::steal(std::exchange(cell, Ref(obj).release()));
    return obj;
}

// Members never change and their access flag is never taken exclusively, so
// reading the ordinal needs no access guard.
std::uint8_t ordinal(PyObject* self) { return payload<vz::FormatKind>(self).ordinal(); }

PyResult<std::string> repr(PyObject* self) { return fmt::format("FormatKind.{}", kMemberNames[ordinal(self)]); }

PyObject* to_int(PyObject* self) noexcept { return PyLong_FromLong(static_cast<long>(ordinal(self))); }

// Equality against another member or anything that reads as an integer
// (int, bool, objects with __index__); other operands and the ordering
// operators are left to the interpreter.
PyResult<Ref> compare(PyObject* self, PyObject* other, int op) {
    if (op != Py_EQ && op != Py_NE) return Ref::borrow(Py_NotImplemented);
    std::int64_t theirs = 0;
    if (is_instance(other, Py_TYPE(self))) {
        theirs = ordinal(other);
    } else {
        auto as_int = from_py<std::int64_t>(other);
        if (!as_int) return Ref::borrow(Py_NotImplemented);  // the failed conversion is dropped
        theirs = *as_int;
    }
    const bool equal = static_cast<std::int64_t>(ordinal(self)) == theirs;
    return Ref::borrow(equal == (op == Py_EQ) ? Py_True : Py_False);
}

template <std::size_t... K>
ClassDef& add_members(ClassDef& def, std::index_sequence<K...>) {
    (def.class_attribute(kMemberNames[K], &make_member<K>), ...);
    return def;
}

constexpr const char* kDetectDoc = "detect(path)\n--\n\n";

// The path text goes to the operating system as Python itself would pass it
// (the file-system encoding, so names listed by os.listdir round-trip); a
// text holding a NUL character names no file and is refused by that
// conversion rather than cut short.
PyResult<Ref> detect(const Args& a) {
    PyObject* raw = a.raw("path");
    if (!PyUnicode_Check(raw)) {
        PyErr err = not_instance(raw, "str");
        return raise(std::move(Args::add_parameter_note(err, "path")));
    }
    PyObject* encoded = nullptr;
    if (!PyUnicode_FSConverter(raw, &encoded)) {
        PyErr err = PyErr::fetch();
        return raise(std::move(Args::add_parameter_note(err, "path")));
    }
    Ref bytes = Ref::steal(encoded);
    char* data = nullptr;
    Py_ssize_t size = 0;
    if (PyBytes_AsStringAndSize(bytes.get(), &data, &size) < 0) return raise_pending();
    const std::filesystem::path path(std::string(data, static_cast<std::size_t>(size)));
    VZ_ASSIGN_OR_RETURN(vz::FormatKind kind, from_core(vz::FormatKind::detect(path)));
    return format_kind_member(kind);
}

}  // namespace

PyResult<PyTypeObject*> format_kind_type() {
    static TypeCell cell;
    return cell.get([] {
        ClassDef def = ClassDef::of<vz::FormatKind>("FormatKind", nullptr);
        def.repr<&repr>().richcompare<&compare>().slot(Py_nb_int, reinterpret_cast<void*>(&to_int));
        return std::move(add_members(def, std::make_index_sequence<kMemberNames.size()>{}));
    });
}

PyResult<Ref> format_kind_member(vz::FormatKind kind) {
    VZ_ASSIGN_OR_RETURN(PyTypeObject * type, format_kind_type());
    const std::size_t k = kind.ordinal();
    if (k >= g_members.size() || !g_members[k] || Py_TYPE(g_members[k]) != type)
        return raise(PyErr::system_error(fmt::format("no FormatKind member of ordinal {}", k)));
    return Ref::borrow(g_members[k]);
}

PyResult<Ref> detect_function(PyObject* module) { return make_function<&detect>(kDetectDoc, module); }

}  // namespace vz::py
