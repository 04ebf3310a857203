// Attribute lanes of a regular surface from Python: listing them, reading
// their metadata, promoting one through the `AttrAccessor`, and setting one
// from another surface (`set_attr` or plain attribute assignment, the only
// members of the surface classes that change their object). Also the
// dictionary form of attribute metadata shared by every surface class.

#include "surface_attr.hpp"

#include <initializer_list>
#include <optional>
#include <string>
#include <utility>

#include <fmt/format.h>

#include "frame/builders.hpp"
#include "frame/convert_more.hpp"
#include "surface.hpp"

namespace vz::py {

// ---- metadata dictionaries ------------------------------------------------------

namespace {

PyResult<Ref> code_record_dict(const vz::CodeRecord& record) {
    DictBuilder d;
    d.add("label", record.label).add("color", record.color);
    return std::move(d).build();
}

PyResult<Ref> codes_dict(const std::optional<vz::CodeTable>& codes) {
    if (!codes) return Ref::none();
    DictBuilder d;
    for (const auto& [key, record] : *codes) d.add(key, code_record_dict(record));
    return std::move(d).build();
}

// The keys of `dict` in its own order: every key a str, and one of `allowed`.
PyResult<void> check_keys(PyObject* dict, std::initializer_list<std::string_view> allowed, std::string_view context) {
    Py_ssize_t pos = 0;
    PyObject* key = nullptr;
    PyObject* value = nullptr;
    while (PyDict_Next(dict, &pos, &key, &value)) {
        if (!PyUnicode_Check(key)) return raise(PyErr::type_error(fmt::format("{} keys must be strings", context)));
        VZ_ASSIGN_OR_RETURN(std::string text, from_py<std::string>(key));
        bool known = false;
        for (std::string_view a : allowed) known = known || a == text;
        if (!known) return raise(PyErr::type_error(fmt::format("unknown {} key '{}'", context, text)));
    }
    return {};
}

// A text field: absent or None gives none, a str its text.
PyResult<std::optional<std::string>> field_text(const Dict& dict, const char* key) {
    VZ_ASSIGN_OR_RETURN(Ref v, dict_lookup(dict, key));
    if (!v || v.get() == Py_None) return std::optional<std::string>();
    if (!PyUnicode_Check(v.get()))
        return raise(PyErr::type_error(fmt::format("attribute metadata {} must be a string or None", key)));
    VZ_ASSIGN_OR_RETURN(std::string text, from_py<std::string>(v.get()));
    return std::optional<std::string>(std::move(text));
}

PyResult<std::optional<vz::CodeTable>> read_codes(const Dict& dict) {
    VZ_ASSIGN_OR_RETURN(Ref held, dict_lookup(dict, "codes"));
    PyObject* codes = held.get();
    if (!codes || codes == Py_None) return std::optional<vz::CodeTable>();
    if (!PyDict_Check(codes)) return raise(PyErr::type_error("attribute metadata codes must be a dict or None"));
    vz::CodeTable table;
    Py_ssize_t pos = 0;
    PyObject* key = nullptr;
    PyObject* record = nullptr;
    while (PyDict_Next(codes, &pos, &key, &record)) {
        // Both held: looking a field up compares keys, which may run the
        // Python code of a str subclass that changes the dicts.
        Ref key_ref = Ref::borrow(key);
        const Dict rec{Ref::borrow(record)};
        if (!PyUnicode_Check(key)) return raise(PyErr::type_error("attribute metadata code keys must be strings"));
        if (!PyDict_Check(record)) return raise(PyErr::type_error("attribute metadata code records must be dicts"));
        VZ_ASSIGN_OR_RETURN(std::string code, from_py<std::string>(key));
        VZ_TRY(check_keys(record, {"label", "color"}, "attribute code record"));
        VZ_ASSIGN_OR_RETURN(auto label, field_text(rec, "label"));
        VZ_ASSIGN_OR_RETURN(auto color, field_text(rec, "color"));
        VZ_ASSIGN_OR_RETURN(vz::CodeRecord parsed, from_core(vz::CodeRecord::from_parts(std::move(label), std::move(color))));
        table.insert({std::move(code), std::move(parsed)});
    }
    return std::optional<vz::CodeTable>(std::move(table));
}

}  // namespace

PyResult<Ref> attribute_metadata_to_py_dict(const vz::AttributeMetadata& metadata) {
    DictBuilder d;
    d.add("id", metadata.id)
        .add("label", metadata.label)
        .add("kind", vz::attribute_kind_name(metadata.kind))
        .add("units", metadata.units)
        .add("codes", codes_dict(metadata.codes));
    return std::move(d).build();
}

PyResult<vz::AttributeMetadata> attribute_metadata_from_py_dict(std::string_view lane_name, const Dict& dict) {
    const Dict& d = dict;
    VZ_TRY(check_keys(d.obj.get(), {"id", "label", "kind", "units", "codes"}, "attribute metadata"));
    vz::AttributeMetadata md;
    VZ_ASSIGN_OR_RETURN(auto id, field_text(d, "id"));
    md.id = id ? std::move(*id) : std::string(lane_name);
    VZ_ASSIGN_OR_RETURN(auto label, field_text(d, "label"));
    md.label = label ? std::move(*label) : md.id;
    VZ_ASSIGN_OR_RETURN(auto kind, field_text(d, "kind"));
    if (!kind || *kind == "continuous")
        md.kind = vz::AttributeKind::Continuous;
    else if (*kind == "categorical")
        md.kind = vz::AttributeKind::Categorical;
    else
        return raise(PyErr::type_error(
            fmt::format("attribute metadata kind must be 'continuous' or 'categorical', got '{}'", *kind)));
    VZ_ASSIGN_OR_RETURN(md.units, field_text(d, "units"));
    VZ_ASSIGN_OR_RETURN(md.codes, read_codes(d));
    VZ_TRY(from_core(md.validate()));
    return md;
}

// ---- Surface lane members ---------------------------------------------------------

namespace {

PyResult<Ref> no_lane(std::string_view name) {
    return raise(PyErr::key_error(fmt::format("no attribute layer '{}'", name)));
}

std::vector<std::string> lane_names(const vz::Surface& s) {
    std::vector<std::string> out;
    for (std::string_view n : s.attr_names()) out.emplace_back(n);
    return out;
}

PyResult<Ref> attr(PyObject* self) { return new_attr_accessor(Ref::borrow(self)); }

PyResult<std::vector<std::string>> attr_names(PyObject* self, const Args&) { return with_surface(self, lane_names); }

PyResult<Ref> attr_metadata(PyObject* self, const Args& a) {
    VZ_ASSIGN_OR_RETURN(auto me, surface_shared(self));
    VZ_ASSIGN_OR_RETURN(std::string name, a.get<std::string>("name"));
    VZ_ASSIGN_OR_RETURN(auto md, with_resolved(me->source, [&](const vz::Surface& s) {
                            const vz::AttributeMetadata* m = s.attr_metadata(name);
                            return m ? std::optional<vz::AttributeMetadata>(*m) : std::nullopt;
                        }));
    if (!md) return no_lane(name);
    return attribute_metadata_to_py_dict(*md);
}

PyResult<Ref> primary_metadata(PyObject* self) {
    VZ_ASSIGN_OR_RETURN(auto md, with_surface(self, [](const vz::Surface& s) { return s.primary_metadata; }));
    if (!md) return Ref::none();
    return attribute_metadata_to_py_dict(*md);
}

// Sets lane `name` of the receiver (held exclusively) from the primary values
// of `value`: the value's lattice and values are copied first, so that two
// views of one stored surface can be combined; the lattices must be equal
// field by field; the receiver then detaches and takes the lane.
PyResult<void> set_lane(SurfacePayload& receiver, const std::string& name, const SurfacePayload& value,
                        const std::optional<Dict>& metadata) {
    VZ_ASSIGN_OR_RETURN(auto copied, with_resolved(value.source, [](const vz::Surface& s) {
                            return std::pair<vz::GridGeometry, Grid2>(s.geom, s.values);
                        }));
    VZ_ASSIGN_OR_RETURN(bool same, with_resolved(receiver.source,
                                                 [&](const vz::Surface& s) { return s.geom == copied.first; }));
    if (!same)
        return raise(into_py_err(vz::Error::geometry_mismatch(
            fmt::format("Surface::set_attr('{}'): attribute surface must match origin, increments, node counts, "
                        "rotation, and yflip",
                        name))));
    VZ_ASSIGN_OR_RETURN(vz::Surface * own, make_owned(receiver.source));
    return set_lane_values(*own, name, std::move(copied.second), metadata);
}

PyResult<void> set_attr(PyObject* self, const Args& a) {
    VZ_ASSIGN_OR_RETURN(auto me, borrow_mut<SurfacePayload>(self));
    VZ_ASSIGN_OR_RETURN(std::string name, a.get<std::string>("name"));
    VZ_ASSIGN_OR_RETURN(SurfaceArg values, a.get<SurfaceArg>("values"));
    VZ_ASSIGN_OR_RETURN(std::optional<Dict> metadata, a.opt<Dict>("metadata"));
    return set_lane(*me, name, *values, metadata);
}

// Attribute assignment sets a lane of that name; there is no other
// assignable attribute, and none can be deleted.
PyResult<void> assign_attribute(PyObject* self, PyObject* name, PyObject* value) {
    if (!value) return raise(PyErr::attribute_error("can't delete attribute"));
    VZ_ASSIGN_OR_RETURN(auto me, borrow_mut<SurfacePayload>(self));
    VZ_ASSIGN_OR_RETURN(std::string lane, from_py<std::string>(name));
    auto other = borrow_as<SurfacePayload, &surface_type>(value);
    if (!other)
        return raise(PyErr::type_error(fmt::format("Surface attribute '{}' must be assigned another Surface", lane)));
    return set_lane(*me, lane, **other, std::nullopt);
}

}  // namespace

void add_surface_attr(ClassDef& def) {
    def.method<&attr_names>("attr_names($self)\n--\n\nThe names of all attribute layers, in insertion order.")
        .method<&attr_metadata>("attr_metadata($self, name)\n--\n\nCanonical durable metadata for attribute `name`.")
        .method<&set_attr>(
            "set_attr($self, name, values, metadata=None)\n--\n\n"
            "Set (or replace) attribute `name` from another surface's primary layer\n"
            "(must match this surface's geometry). Copy-on-write: an `InGeo` view\n"
            "detaches to an owned copy first, so the project is never mutated.")
        .getter<&attr>("attr",
                       "The attribute accessor: `surface.attr[\"seismic\"]` (or `surface.attr(name)`)\n"
                       "returns the promoted attribute layer as a `Surface`; `.names()` lists them.")
        .getter<&primary_metadata>("primary_metadata",
                                   "Metadata of the promoted primary lane, or `None` for an ordinary\n"
                                   "primary surface.")
        .setattr<&assign_attribute>();
}

// ---- AttrAccessor -------------------------------------------------------------------

namespace {

constexpr const char* kAccessorDoc =
    "Accessor returned by `surface.attr`: subscript or call by attribute name to\n"
    "promote that attribute layer to a standalone `Surface`.";

// Runs `f` on the held surface's core value: shared access to the accessor,
// then to the surface, then resolution.
template <class F>
ResolvedResult<vz::Surface, F> with_held(PyObject* self, F&& f) {
    VZ_ASSIGN_OR_RETURN(auto acc, borrow<AttrAccessorPayload>(self));
    return with_surface(acc->surface.get(), std::forward<F>(f));
}

PyResult<std::vector<std::string>> names(PyObject* self, const Args&) { return with_held(self, lane_names); }

// `AttrAccessor::promote`, the body of subscript and call.
PyResult<Ref> promote(PyObject* self, const std::string& name) {
    VZ_ASSIGN_OR_RETURN(auto lane, with_held(self, [&](const vz::Surface& s) { return s.as_attr_surface(name); }));
    if (!lane) return no_lane(name);
    return new_owned_surface(std::move(*lane));
}

PyResult<Ref> subscript(PyObject* self, PyObject* key) {
    VZ_ASSIGN_OR_RETURN(std::string name, Args::noted("name", from_py<std::string>(key)));
    return promote(self, name);
}

PyResult<Ref> call(PyObject* self, const Args& a) {
    VZ_ASSIGN_OR_RETURN(std::string name, a.get<std::string>("name"));
    return promote(self, name);
}

PyResult<bool> contains(PyObject* self, PyObject* item) {
    VZ_ASSIGN_OR_RETURN(std::string name, Args::noted("name", from_py<std::string>(item)));
    return with_held(self, [&](const vz::Surface& s) { return s.attr(name) != nullptr; });
}

ClassDef define_accessor() {
    return std::move(ClassDef::of<AttrAccessorPayload>("AttrAccessor", kAccessorDoc)
                         .method<&names>("names($self)\n--\n\nThe attribute layer names, in insertion order.")
                         .subscript<&subscript>()
                         .call<&call>("__call__($self, name)\n--\n\n")
                         .contains<&contains>());
}

}  // namespace

PyResult<PyTypeObject*> attr_accessor_type() {
    static TypeCell cell;
    return cell.get(define_accessor);
}

PyResult<Ref> new_attr_accessor(Ref surface) {
    VZ_ASSIGN_OR_RETURN(PyTypeObject * type, attr_accessor_type());
    return create_instance(type, AttrAccessorPayload{std::move(surface)});
}

}  // namespace vz::py
