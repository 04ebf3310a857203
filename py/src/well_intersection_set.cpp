// The `WellIntersectionSet` class: the crossings of a batch as a sequence of
// `SurfaceIntersection` values, its diagnostic rows as dictionaries, and the
// seam through which the package stores the crossings as a formation top.

#include "well_intersection_set.hpp"

#include <fmt/format.h>

#include "frame/builders.hpp"
#include "geodata.hpp"
#include "surface_intersection.hpp"

namespace vz::py {

namespace {

constexpr const char* kDoc = "Aggregate returned by `WellsView.intersection(s)`.";

using SetAccess = Shared<WellIntersectionSetPayload>;

PyResult<SetAccess> set_of(PyObject* self) { return borrow<WellIntersectionSetPayload>(self); }

// Every crossing handed out is a new object carrying the set's project.
PyResult<Ref> hit_object(const WellIntersectionSetPayload& s, std::size_t k) {
    return new_surface_intersection(s.project_serial, s.hits[k]);
}

PyResult<Ref> row_dict(const vz::WellIntersectionRow& row) {
    DictBuilder d;
    d.add("well", row.well).add("bore", row.bore).add("reason", row.reason).add("message", row.message);
    return std::move(d).build();
}

PyResult<Ref> hits(PyObject* self) {
    VZ_ASSIGN_OR_RETURN(auto s, set_of(self));
    std::vector<PyResult<Ref>> items;
    items.reserve(s->hits.size());
    for (std::size_t k = 0; k < s->hits.size(); ++k) {
        items.push_back(hit_object(*s, k));
        if (!items.back()) return std::move(items.back());
    }
    return list_of(std::move(items));
}

template <std::vector<vz::WellIntersectionRow> WellIntersectionSetPayload::*Rows>
PyResult<Ref> rows(PyObject* self) {
    VZ_ASSIGN_OR_RETURN(auto s, set_of(self));
    return list_map((*s).*Rows, row_dict);
}

PyResult<Ref> summary(PyObject* self, const Args&) {
    VZ_ASSIGN_OR_RETURN(auto s, set_of(self));
    DictBuilder d;
    d.add("hits", s->hits.size()).add("skipped", s->skipped.size()).add("failed", s->failed.size());
    return std::move(d).build();
}

PyResult<std::size_t> length(PyObject* self) {
    VZ_ASSIGN_OR_RETURN(auto s, set_of(self));
    return s->hits.size();
}

// IndexError whose only argument is the (adjusted) index, as an int.
PyErr index_error(std::int64_t index) {
    auto value = to_py(index);
    if (!value) return std::move(value.error());
    PyErr_SetObject(PyExc_IndexError, value->get());
    return PyErr::fetch();
}

PyResult<Ref> hit_at(PyObject* self, std::int64_t index) {
    VZ_ASSIGN_OR_RETURN(auto s, set_of(self));
    const auto n = static_cast<std::int64_t>(s->hits.size());
    if (index < 0) index += n;
    if (index < 0 || index >= n) return raise(index_error(index));
    return hit_object(*s, static_cast<std::size_t>(index));
}

// set[index]: an integer (through the integer protocol), a negative one
// counted from the end once.
PyResult<Ref> subscript(PyObject* self, PyObject* key) {
    VZ_ASSIGN_OR_RETURN(std::int64_t index, Args::noted("index", from_py<std::int64_t>(key)));
    return hit_at(self, index);
}

// The sequence protocol's item slot, which iteration asks for 0, 1, 2, …
// until IndexError.
PyResult<Ref> item(PyObject* self, Py_ssize_t index) { return hit_at(self, index); }

PyResult<std::string> repr(PyObject* self) {
    VZ_ASSIGN_OR_RETURN(auto s, set_of(self));
    return fmt::format("WellIntersectionSet(hits={}, skipped={}, failed={})", s->hits.size(), s->skipped.size(),
                       s->failed.size());
}

// Stores the crossings as the formation top `name` across the project, all
// or nothing. Only a set made from the project's whole, current well list
// and without failed bores may do so.
PyResult<void> apply_top(PyObject* self, const Args& a) {
    VZ_ASSIGN_OR_RETURN(auto s, set_of(self));
    PyObject* expected = a.raw("expected");
    VZ_ASSIGN_OR_RETURN(bool is_project, is_object_of<geodata_type>(expected));
    if (!is_project) {
        PyErr err = not_instance(expected, "GeoData");
        return raise(std::move(Args::add_parameter_note(err, "expected")));
    }
    VZ_ASSIGN_OR_RETURN(std::string name, a.get<std::string>("name"));
    if (expected != s->project.get())
        return raise(PyErr::value_error("well-top assignment result belongs to a different project"));
    if (!s->complete)
        return raise(PyErr::value_error("well-top assignment requires a result from the complete project.wells view"));
    if (!s->failed.empty()) {
        const vz::WellIntersectionRow& first = s->failed.front();
        return raise(PyErr::value_error(fmt::format("well-top assignment blocked by {} failed bore(s); first {}/{}: {}",
                                                    s->failed.size(), first.well, first.bore, first.message)));
    }
    VZ_ASSIGN_OR_RETURN(auto geo, project_exclusive(s->project.get()));
    return from_core(geo->project._apply_top(name, s->hits));
}

ClassDef define() {
    ClassDef def = ClassDef::of<WellIntersectionSetPayload>("WellIntersectionSet", kDoc);
    def.getter<&hits>("hits")
        .getter<&rows<&WellIntersectionSetPayload::skipped>>("skipped")
        .getter<&rows<&WellIntersectionSetPayload::failed>>("failed")
        .method<&summary>("summary($self)\n--\n\n")
        .method<&apply_top>("_apply_top($self, expected, name)\n--\n\n"
                            "Internal atomic persistence seam used by `project.well_tops[name] = rhs`.")
        .len<&length>()
        .subscript<&subscript>()
        .sequence_item<&item>()
        .repr<&repr>();
    return def;
}

}  // namespace

PyResult<PyTypeObject*> well_intersection_set_type() {
    static TypeCell cell;
    return cell.get(define);
}

PyResult<Ref> new_well_intersection_set(WellIntersectionSetPayload payload) {
    VZ_ASSIGN_OR_RETURN(PyTypeObject * type, well_intersection_set_type());
    return create_instance(type, std::move(payload));
}

}  // namespace vz::py
