#include "surface_intersection.hpp"

#include <array>
#include <string>

#include <fmt/format.h>

#include "foundation/format.hpp"
#include "frame/builders.hpp"
#include "frame/escape.hpp"
#include "frame/frame.hpp"

namespace vz::py {

namespace {

constexpr const char* kDoc = "One immutable crossing with measured depth, XYZ, and source identity.";

// The keys of the mapping form, in the order `keys` and `to_dict` give them.
constexpr std::array<const char*, 5> kKeys = {"md", "xyz", "well", "bore", "surface"};

// Objects never change after creation and carry no access flag: every
// member reads the payload directly.
const vz::SurfaceIntersection& hit(PyObject* self) { return payload<SurfaceIntersectionValue>(self).hit; }

// The value under kKeys[k].
PyResult<Ref> value_at(const vz::SurfaceIntersection& h, std::size_t k) {
    switch (k) {
        case 0: return to_py(h.md);
        case 1: return tuple_from(h.xyz);
        case 2: return to_py(h.well);
        case 3: return to_py(h.bore);
        default: return to_py(h.surface);
    }
}

template <std::size_t K>
PyResult<Ref> getter(PyObject* self) {
    return value_at(hit(self), K);
}

PyResult<Ref> keys(PyObject*, const Args&) {
    return list_map(kKeys, [](const char* key) { return to_py(key); });
}

PyResult<Ref> to_dict(PyObject* self, const Args&) {
    DictBuilder d;
    for (std::size_t k = 0; k < kKeys.size(); ++k) d.add(kKeys[k], value_at(hit(self), k));
    return std::move(d).build();
}

// hit[key]: a str among the keys (exact, case-sensitive); another str raises
// KeyError carrying the key itself, anything else the argument TypeError of
// the parameter `key`.
PyResult<Ref> subscript(PyObject* self, PyObject* key) {
    if (!PyUnicode_Check(key)) {
        PyErr err = not_instance(key, "str");
        return raise(std::move(Args::add_parameter_note(err, "key")));
    }
    for (std::size_t k = 0; k < kKeys.size(); ++k)
        if (PyUnicode_CompareWithASCIIString(key, kKeys[k]) == 0) return value_at(hit(self), k);
    PyErr_SetObject(PyExc_KeyError, key);
    return raise_pending();
}

// The sequence protocol's item slot (iteration asks it for 0, 1, …): the
// index goes through the same key check, so iterating fails like hit[0].
PyResult<Ref> item(PyObject* self, Py_ssize_t index) {
    VZ_ASSIGN_OR_RETURN(Ref key, to_py(index));
    return subscript(self, key.get());
}

PyResult<std::string> repr(PyObject* self) {
    const vz::SurfaceIntersection& h = hit(self);
    VZ_ASSIGN_OR_RETURN(std::string well, optional_literal(h.well));
    VZ_ASSIGN_OR_RETURN(std::string bore, optional_literal(h.bore));
    VZ_ASSIGN_OR_RETURN(std::string surface, optional_literal(h.surface));
    // fixed() rounds the exact binary value, an exact tie to the even digit.
    return fmt::format("SurfaceIntersection(md={}, xyz=({}, {}, {}), well={}, bore={}, surface={})", fixed(h.md, 6),
                       fixed(h.xyz[0], 6), fixed(h.xyz[1], 6), fixed(h.xyz[2], 6), well, bore, surface);
}

}  // namespace

PyResult<PyTypeObject*> surface_intersection_type() {
    static TypeCell cell;
    return cell.get([] {
        return ClassDef::of<SurfaceIntersectionValue>("SurfaceIntersection", kDoc)
            .getter<&getter<0>>("md")
            .getter<&getter<1>>("xyz")
            .getter<&getter<2>>("well")
            .getter<&getter<3>>("bore")
            .getter<&getter<4>>("surface")
            .method<&keys>("keys($self)\n--\n\n")
            .method<&to_dict>("to_dict($self)\n--\n\n")
            .subscript<&subscript>()
            .sequence_item<&item>()
            .repr<&repr>();
    });
}

PyResult<Ref> new_surface_intersection(std::optional<std::uint64_t> project, vz::SurfaceIntersection hit) {
    VZ_ASSIGN_OR_RETURN(PyTypeObject * type, surface_intersection_type());
    return create_instance(type, SurfaceIntersectionValue{project, std::move(hit)});
}

PyResult<SurfaceIntersectionValue> surface_intersection_value(PyObject* obj) {
    VZ_ASSIGN_OR_RETURN(PyTypeObject * type, surface_intersection_type());
    if (!is_instance(obj, type)) return raise(not_instance(obj, "SurfaceIntersection"));
    return payload<SurfaceIntersectionValue>(obj);
}

}  // namespace vz::py
