// The well-level accessors (a well read as one borehole through its accessor
// bore) and the top mutators of `Well`. Every one of them runs the multi-bore
// guard after its arguments are converted, so an ambiguous well is refused
// before anything is read or changed.

#include "well_accessors.hpp"

#include <string>
#include <utility>

#include "frame/builders.hpp"
#include "geodata.hpp"
#include "surface_intersection.hpp"
#include "well.hpp"

// The second help-text line of the guarded accessors.
#define VZ_GUARD_LINE "\nRaises on a multi-bore well with no default bore (select one first)."

namespace vz::py {

// ---- shared Python forms ----------------------------------------------------

PyResult<Ref> pick_to_py(const vz::DepthPick& pick) { return py_tuple(pick.name, pick.md); }

PyResult<Ref> picks_to_py(const std::vector<vz::DepthPick>& picks) { return list_map(picks, pick_to_py); }

PyResult<Ref> xyz_to_py(const std::optional<vz::Xyz>& xyz) {
    if (!xyz) return Ref::none();
    return tuple_from(*xyz);
}

// ---- the depth argument -----------------------------------------------------

PyResult<MdOrHit> MdOrHit::extract(PyObject* value) {
    const double md = PyFloat_AsDouble(value);
    if (!(md == -1.0 && PyErr_Occurred())) return MdOrHit{md, std::nullopt, std::nullopt};
    PyErr_Clear();  // not a number: a crossing is the only other form
    VZ_ASSIGN_OR_RETURN(PyTypeObject * crossing, surface_intersection_type());
    if (!is_instance(value, crossing))
        return raise(PyErr::type_error("top depth must be a finite MD number or SurfaceIntersection"));
    VZ_ASSIGN_OR_RETURN(SurfaceIntersectionValue v, surface_intersection_value(value));
    return MdOrHit{v.hit.md, std::move(v.hit), v.project};
}

PyResult<void> MdOrHit::check_project(PyObject* project) const {
    // The serial is fixed when the project object is made, so it is read
    // without taking access to the project.
    if (hit && project_serial && *project_serial != payload<GeoDataPayload>(project).serial)
        return raise(PyErr::value_error("intersection belongs to a different project"));
    return {};
}

namespace {

// ---- accessors ------------------------------------------------------------------

/// The guard, then `f(const vz::Well&)` under shared access to the project.
template <class F>
FlatResult<std::invoke_result_t<F, const vz::Well&>> read_guarded(PyObject* self, F&& f) {
    VZ_ASSIGN_OR_RETURN(auto h, well_handle(self));
    VZ_TRY(resolve_accessor_guard(*h));
    return with_well(*h, std::forward<F>(f));
}

PyResult<Ref> log(PyObject* self, const Args& a) {
    VZ_ASSIGN_OR_RETURN(std::string mnemonic, a.get<std::string>("mnemonic"));
    VZ_ASSIGN_OR_RETURN(bool found,
                        read_guarded(self, [&](const vz::Well& w) { return w.log(mnemonic).has_value(); }));
    if (!found) return Ref::none();
    return new_log_view(LogViewPayload{std::move(mnemonic), std::nullopt, std::nullopt, Ref::borrow(self)});
}

PyResult<Ref> top(PyObject* self, const Args& a) {
    VZ_ASSIGN_OR_RETURN(std::string name, a.get<std::string>("name"));
    VZ_ASSIGN_OR_RETURN(bool found,
                        read_guarded(self, [&](const vz::Well& w) { return w.top_interval(name).has_value(); }));
    if (!found) return Ref::none();
    return new_interval(std::move(name), Ref::borrow(self));
}

PyResult<std::optional<double>> tvd(PyObject* self, const Args& a) {
    VZ_ASSIGN_OR_RETURN(double md, a.get<double>("md"));
    return read_guarded(self, [&](const vz::Well& w) { return w.tvd(md); });
}

PyResult<Ref> xyz(PyObject* self, const Args& a) {
    VZ_ASSIGN_OR_RETURN(double md, a.get<double>("md"));
    VZ_ASSIGN_OR_RETURN(std::optional<vz::Xyz> p, read_guarded(self, [&](const vz::Well& w) { return w.xyz(md); }));
    return xyz_to_py(p);
}

PyResult<std::optional<double>> md_at_tvd(PyObject* self, const Args& a) {
    VZ_ASSIGN_OR_RETURN(double depth, a.get<double>("tvd"));
    return read_guarded(self, [&](const vz::Well& w) { return w.md_at_tvd(depth); });
}

PyResult<Ref> tops(PyObject* self, const Args&) {
    VZ_ASSIGN_OR_RETURN(std::vector<vz::DepthPick> rows,
                        read_guarded(self, [](const vz::Well& w) -> std::vector<vz::DepthPick> { return w.tops(); }));
    return picks_to_py(rows);
}

PyResult<Ref> contacts(PyObject* self, const Args&) {
    VZ_ASSIGN_OR_RETURN(
        std::vector<vz::DepthPick> rows,
        read_guarded(self, [](const vz::Well& w) -> std::vector<vz::DepthPick> { return w.contacts(); }));
    return picks_to_py(rows);
}

PyResult<Ref> contact(PyObject* self, const Args& a) {
    VZ_ASSIGN_OR_RETURN(std::string name, a.get<std::string>("name"));
    VZ_ASSIGN_OR_RETURN(std::optional<vz::DepthPick> row,
                        read_guarded(self, [&](const vz::Well& w) { return w.contact(name); }));
    if (!row) return Ref::none();
    return pick_to_py(*row);
}

// ---- top mutators -----------------------------------------------------------------

/// `add_top` / `replace_top`: the name, the guard, the depth, the project
/// check, then the change under exclusive access.
template <Result<void> (vz::Well::*ByMd)(std::string_view, double),
          Result<void> (vz::Well::*ByHit)(std::string_view, const vz::SurfaceIntersection&)>
PyResult<void> set_top(PyObject* self, const Args& a) {
    VZ_ASSIGN_OR_RETURN(auto h, well_handle(self));
    VZ_ASSIGN_OR_RETURN(std::string name, a.get<std::string>("name"));
    VZ_TRY(resolve_accessor_guard(*h));
    VZ_ASSIGN_OR_RETURN(MdOrHit depth, MdOrHit::extract(a.raw("md_or_hit")));
    VZ_TRY(depth.check_project(h->project.get()));
    VZ_ASSIGN_OR_RETURN(Result<void> r, with_well_mut(*h, [&](vz::Well& w) {
                            return depth.hit ? (w.*ByHit)(name, *depth.hit) : (w.*ByMd)(name, depth.md);
                        }));
    return from_core(std::move(r));
}

PyResult<void> remove_top(PyObject* self, const Args& a) {
    VZ_ASSIGN_OR_RETURN(auto h, well_handle(self));
    VZ_ASSIGN_OR_RETURN(std::string name, a.get<std::string>("name"));
    VZ_TRY(resolve_accessor_guard(*h));
    VZ_ASSIGN_OR_RETURN(Result<vz::DepthPick> r, with_well_mut(*h, [&](vz::Well& w) { return w.remove_top(name); }));
    if (!r) return raise(into_py_err(r.error()));
    return {};
}

}  // namespace

void add_well_accessors(ClassDef& def) {
    def.method<&log>("log($self, mnemonic)\n--\n\n"
                     "A full-curve view of log `mnemonic` (case-insensitive), or `None`." VZ_GUARD_LINE)
        .method<&top>("top($self, name)\n--\n\n"
                      "The interval named by top `name` (case-insensitive), or `None`." VZ_GUARD_LINE)
        .method<&tvd>("tvd($self, md)\n--\n\nTVD at measured depth `md`, or `None`." VZ_GUARD_LINE)
        .method<&xyz>("xyz($self, md)\n--\n\n"
                      "Interpolated position `(x, y, z)` at measured depth `md`, or `None`." VZ_GUARD_LINE)
        .method<&md_at_tvd>("md_at_tvd($self, tvd)\n--\n\nMeasured depth at a given TVD, or `None`." VZ_GUARD_LINE)
        .method<&tops>("tops($self)\n--\n\nFormation-top records on the resolved bore as `(name, md)` rows.")
        .method<&contacts>("contacts($self)\n--\n\n"
                           "Fluid-contact picks on the resolved bore as `(name, md)` rows." VZ_GUARD_LINE)
        .method<&contact>("contact($self, name)\n--\n\n"
                          "The named fluid-contact pick on the resolved bore as `(name, md)`, or `None`." VZ_GUARD_LINE)
        .method<&set_top<&vz::Well::add_top_md, &vz::Well::add_top_hit>>(
            "add_top($self, name, md_or_hit)\n--\n\n"
            "Add a top from a finite MD or a matching `SurfaceIntersection`.")
        .method<&set_top<&vz::Well::replace_top_md, &vz::Well::replace_top_hit>>(
            "replace_top($self, name, md_or_hit)\n--\n\n"
            "Replace an existing top from a finite MD or matching intersection.")
        .method<&remove_top>("remove_top($self, name)\n--\n\nRemove a named top from the resolved bore.");
}

#undef VZ_GUARD_LINE

}  // namespace vz::py
