// The `Well` handle: its getters, bore listings, default bore, representation
// and the attribute fallback that turns an unknown attribute into a
// formation top. The accessors, top mutators, zone table, intersections and
// viewer call are added to the same class by their own files.

#include "well.hpp"

#include <string>
#include <vector>

#include "frame/builders.hpp"
#include "frame/escape.hpp"
#include "frame/frame.hpp"
#include "bundle.hpp"
#include "intersection.hpp"
#include "well_accessors.hpp"
#include "zone_table.hpp"

namespace vz::py {

namespace {

constexpr const char* kDoc = "A well: a view into a `GeoData` project's well collection.";

// ---- getters ----------------------------------------------------------------

PyResult<std::string> id(PyObject* self) {
    VZ_ASSIGN_OR_RETURN(auto h, well_handle(self));
    return h->id;
}

PyResult<Ref> head(PyObject* self) {
    VZ_ASSIGN_OR_RETURN(auto h, well_handle(self));
    VZ_ASSIGN_OR_RETURN(auto xy, with_well(*h, [](const vz::Well& w) { return w.head; }));
    return py_tuple(xy[0], xy[1]);
}

PyResult<double> kb(PyObject* self) {
    VZ_ASSIGN_OR_RETURN(auto h, well_handle(self));
    return with_well(*h, [](const vz::Well& w) { return w.kb; });
}

PyResult<std::optional<std::string>> crs(PyObject* self) {
    VZ_ASSIGN_OR_RETURN(auto h, well_handle(self));
    return with_well(*h, [](const vz::Well& w) { return w.crs; });
}

PyResult<std::optional<std::string>> default_bore(PyObject* self) {
    VZ_ASSIGN_OR_RETURN(auto h, well_handle(self));
    return with_well(*h, [](const vz::Well& w) { return w.default_bore; });
}

PyResult<bool> is_multibore(PyObject* self) {
    VZ_ASSIGN_OR_RETURN(auto h, well_handle(self));
    return with_well(*h, [](const vz::Well& w) { return w.is_multibore(); });
}

std::vector<std::string> bore_labels(const vz::Well& w) {
    std::vector<std::string> labels;
    labels.reserve(w.bores.size());
    for (const auto& [label, bore] : w.bores) labels.push_back(label);
    return labels;
}

// ---- methods ------------------------------------------------------------------

PyResult<std::vector<std::string>> bores(PyObject* self, const Args&) {
    VZ_ASSIGN_OR_RETURN(auto h, well_handle(self));
    return with_well(*h, bore_labels);
}

PyResult<Ref> sidetracks(PyObject* self, const Args&) {
    VZ_ASSIGN_OR_RETURN(auto h, well_handle(self));
    VZ_ASSIGN_OR_RETURN(std::vector<std::string> labels, with_well(*h, bore_labels));
    VZ_ASSIGN_OR_RETURN(Ref list, checked(PyList_New(0)));
    for (std::string& label : labels) {
        VZ_ASSIGN_OR_RETURN(Ref bore, new_sidetrack(std::move(label), Ref::borrow(self)));
        if (PyList_Append(list.get(), bore.get()) < 0) return raise_pending();
    }
    return list;
}

PyResult<Ref> sidetrack(PyObject* self, const Args& a) {
    VZ_ASSIGN_OR_RETURN(std::string label, a.get<std::string>("label"));
    VZ_ASSIGN_OR_RETURN(auto h, well_handle(self));
    VZ_ASSIGN_OR_RETURN(bool present,
                        with_well(*h, [&](const vz::Well& w) { return w.sidetrack(label) != nullptr; }));
    if (!present) return Ref::none();
    return new_sidetrack(std::move(label), Ref::borrow(self));
}

PyResult<void> set_default_bore(PyObject* self, const Args& a) {
    VZ_ASSIGN_OR_RETURN(std::string label, a.get<std::string>("label"));
    VZ_ASSIGN_OR_RETURN(auto h, well_handle(self));
    VZ_ASSIGN_OR_RETURN(Result<void> r, with_well_mut(*h, [&](vz::Well& w) { return w.set_default_bore(label); }));
    return from_core(std::move(r));
}

// The id as a quoted, escaped literal; the project is not touched, so a
// handle whose well is gone still prints.
PyResult<std::string> repr(PyObject* self) {
    VZ_ASSIGN_OR_RETURN(auto h, well_handle(self));
    VZ_ASSIGN_OR_RETURN(std::string id, escape_literal(h->id));
    return fmt::format("Well(id={})", id);
}

// ---- attribute fallback -------------------------------------------------------

// An attribute that no member answers names a formation top on the accessor
// bore (ASCII case-insensitively); the `Interval` keeps the spelling used.
PyResult<Ref> top_attribute(PyObject* self, std::string_view name) {
    if (name.starts_with('_')) return raise(PyErr::attribute_error(std::string(name)));
    VZ_ASSIGN_OR_RETURN(auto h, well_handle(self));
    VZ_ASSIGN_OR_RETURN(bool found,
                        with_well(*h, [&](const vz::Well& w) { return w.top_interval(name).has_value(); }));
    if (!found)
        return raise(PyErr::attribute_error(fmt::format("'Well' object has no attribute or top '{}'", name)));
    return new_interval(std::string(name), Ref::borrow(self));
}

ClassDef define() {
    ClassDef def = ClassDef::of<WellPayload>("Well", kDoc);
    def.getter<&id>("id")
        .getter<&head>("head")
        .getter<&kb>("kb")
        .getter<&crs>("crs", "The coordinate reference system label, or `None`.")
        .getter<&default_bore>("default_bore", "The explicitly selected default bore label, or `None`.")
        .getter<&is_multibore>("is_multibore",
                               "Whether the well is multi-bore (more than one bore carries a trajectory).")
        .method<&bores>("bores($self)\n--\n\nThe bore (sidetrack) labels, in order (`\"\"` is the main bore).")
        .method<&sidetracks>("sidetracks($self)\n--\n\nAll bores (sidetracks), in order.")
        .method<&sidetrack>("sidetrack($self, label)\n--\n\nThe bore with `label`, or `None`.")
        .method<&set_default_bore>(
            "set_default_bore($self, label)\n--\n\n"
            "Select the bore the top-level accessors resolve through (`\"\"` = main bore).\n"
            "Raises `ValueError` if no such bore exists. Overrides the single-trajectory\n"
            "rule; the natural way to work a multi-bore well through the well-level API.")
        .repr<&repr>()
        .getattr_fallback<&top_attribute>();
    // The accessors, top mutators, zone table, intersection calls and the
    // viewer call add themselves here, each through one `add_well_…(def)`.
    add_well_accessors(def);
    add_well_zone_table(def);
    add_well_intersections(def);
    add_well_view(def);
    return def;
}

}  // namespace

PyResult<void> resolve_accessor_guard(const WellPayload& handle) {
    VZ_ASSIGN_OR_RETURN(auto geo, project_shared(handle.project.get()));
    const vz::Well* well = geo->project.find_well(handle.id);
    if (!well) return raise(no_well(handle.id));
    if (!well->is_multibore() || well->default_bore) return {};
    const auto named = well->named_bore_labels();
    std::string joined;
    for (std::size_t k = 0; k < named.size(); ++k) {
        if (k) joined += ", ";
        joined += named[k];
    }
    return raise(PyErr::value_error(
        fmt::format("well '{}' has {} bores ({}) \xe2\x80\x94 a top-level accessor can't pick one; use "
                    ".sidetrack(name) for a specific bore or .set_default_bore(name)",
                    handle.id, named.size(), joined)));
}

PyResult<PyTypeObject*> well_type() {
    static TypeCell cell;
    return cell.get(define);
}

PyResult<Ref> new_well(std::string id, Ref project) {
    VZ_ASSIGN_OR_RETURN(PyTypeObject * type, well_type());
    return create_instance(type, WellPayload{std::move(id), std::move(project)});
}

}  // namespace vz::py
