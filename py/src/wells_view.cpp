// The `WellsView` class: an immutable view over some wells of one project,
// narrowed by `filter`, `tops` and attribute access, with zone tables, batch
// crossings and the viewer across its wells. It holds copies of the well
// identifiers and looks every well up again on each call; an identifier
// whose well is gone still counts, and the calls that read wells skip it.

#include "wells_view.hpp"

#include <functional>

#include <fmt/format.h>

#include "algorithms/batch_intersections.hpp"
#include "bundle.hpp"
#include "frame/builders.hpp"
#include "geodata.hpp"
#include "intersection.hpp"
#include "stats.hpp"
#include "well.hpp"
#include "well_intersection_set.hpp"
#include "zone_table.hpp"

namespace vz::py {

namespace {

constexpr const char* kDoc =
    "A lightweight, broadcastable, filterable view over a project's wells.\n"
    "\n"
    "Holds the owning `GeoData` plus the well ids in view. `filter`/`tops` narrow\n"
    "the set; `__getattr__` broadcasts: with no pending top it resolves a top name\n"
    "(returning a narrowed view), and after `tops(name)` it resolves a log\n"
    "mnemonic to a per-well `list[Stats]`.";

using ViewAccess = Shared<WellsViewPayload>;

PyResult<ViewAccess> view_of(PyObject* self) { return borrow<WellsViewPayload>(self); }

PyResult<std::size_t> length(PyObject* self) {
    VZ_ASSIGN_OR_RETURN(auto v, view_of(self));
    return v->ids.size();
}

PyResult<std::size_t> len_method(PyObject* self, const Args&) { return length(self); }

PyResult<bool> is_empty(PyObject* self, const Args&) {
    VZ_ASSIGN_OR_RETURN(auto v, view_of(self));
    return v->ids.empty();
}

PyResult<std::string> repr(PyObject* self) {
    VZ_ASSIGN_OR_RETURN(auto v, view_of(self));
    return fmt::format("WellsView(len={})", v->ids.size());
}

// One handle per id, whether or not its well is still stored.
PyResult<Ref> iter(PyObject* self, const Args&) {
    VZ_ASSIGN_OR_RETURN(auto v, view_of(self));
    return list_map(v->ids, [&](const std::string& id) { return new_well(id, v->geo); });
}

// `pred(well)` decides for each id in turn; the project is not touched, so
// `pred` may use and even change it.
PyResult<Ref> filter(PyObject* self, const Args& a) {
    VZ_ASSIGN_OR_RETURN(auto v, view_of(self));
    PyObject* pred = a.raw("pred");
    std::vector<std::string> kept;
    for (const std::string& id : v->ids) {
        VZ_ASSIGN_OR_RETURN(Ref well, new_well(id, v->geo));
        VZ_ASSIGN_OR_RETURN(Ref verdict, checked(PyObject_CallFunctionObjArgs(pred, well.get(), nullptr)));
        const int truth = PyObject_IsTrue(verdict.get());
        if (truth < 0) return raise_pending();
        if (truth) kept.push_back(id);
    }
    return new_wells_view(std::move(kept), v->top, v->geo);
}

// The ids whose stored well carries the top on its accessor bore, in view
// order (no multi-bore refusal: such a well is judged on its main bore).
PyResult<std::vector<std::string>> ids_with_top(const WellsViewPayload& v, std::string_view top) {
    VZ_ASSIGN_OR_RETURN(auto geo, project_shared(v.geo.get()));
    std::vector<std::string> kept;
    for (const std::string& id : v.ids) {
        const vz::Well* well = geo->project.find_well(id);
        if (well && well->top_interval(top)) kept.push_back(id);
    }
    return kept;
}

PyResult<Ref> tops(PyObject* self, const Args& a) {
    VZ_ASSIGN_OR_RETURN(auto v, view_of(self));
    VZ_ASSIGN_OR_RETURN(std::string name, a.get<std::string>("name"));
    VZ_ASSIGN_OR_RETURN(auto kept, ids_with_top(*v, name));
    return new_wells_view(std::move(kept), std::move(name), v->geo);
}

// The statistics of the log `mnemonic` within the remembered top's zone of
// every stored well that has both, in view order.
PyResult<Ref> log_stats(const WellsViewPayload& v, const std::string& top, std::string_view mnemonic) {
    std::vector<vz::Stats> found;
    {
        VZ_ASSIGN_OR_RETURN(auto geo, project_shared(v.geo.get()));
        for (const std::string& id : v.ids) {
            const vz::Well* well = geo->project.find_well(id);
            if (!well) continue;
            const auto zone = well->top_interval(top);
            if (!zone) continue;
            const auto samples = zone->log(mnemonic);
            if (samples) found.push_back(samples->stats());
        }
    }
    return list_map(found, [](const vz::Stats& s) { return new_stats(s); });
}

// A name no member answers: a top to narrow to, or, once a top is
// remembered, a log to summarise per well. Names beginning with "_" are
// never broadcast.
PyResult<Ref> broadcast(PyObject* self, std::string_view name) {
    if (!name.empty() && name.front() == '_') return raise(PyErr::attribute_error(std::string(name)));
    VZ_ASSIGN_OR_RETURN(auto v, view_of(self));
    if (v->top) return log_stats(*v, *v->top, name);
    VZ_ASSIGN_OR_RETURN(auto kept, ids_with_top(*v, name));
    if (kept.empty())
        return raise(PyErr::attribute_error(fmt::format("no well in this view carries top '{}'", name)));
    return new_wells_view(std::move(kept), std::string(name), v->geo);
}

// Every bore of every stored well in view order, labelled by the well id
// (main bore) or the id, a space and the bore label.
PyResult<Ref> zone_table(PyObject* self, const Args& a) {
    VZ_ASSIGN_OR_RETURN(auto v, view_of(self));
    VZ_ASSIGN_OR_RETURN(ZoneTableArgs args, zone_table_args(a));
    VZ_ASSIGN_OR_RETURN(auto geo, project_shared(v->geo.get()));
    std::vector<vz::well_tables::BoreRow> rows;
    for (const std::string& id : v->ids) {
        const vz::Well* well = geo->project.find_well(id);
        if (!well) continue;
        for (const auto& [label, bore] : well->bores)
            rows.push_back({label.empty() ? id : fmt::format("{} {}", id, label), &bore});
    }
    return build_dataframe(rows, args, geo->project.strat_order);
}

// The batch crossing of every positioned bore of the view's wells: one bad
// bore becomes a row instead of ending the call.
PyResult<Ref> batch(PyObject* self, const Args& a, bool all) {
    VZ_ASSIGN_OR_RETURN(auto v, view_of(self));
    VZ_ASSIGN_OR_RETURN(double tolerance, a.get_or<double>("tolerance", 1e-3));
    bool complete = false;
    {
        VZ_ASSIGN_OR_RETURN(auto geo, project_shared(v->geo.get()));
        complete = geo->project.well_names() == v->ids;
    }
    WellIntersectionSetPayload out;
    VZ_TRY(with_surface(a.raw("surface"), [&](const vz::TriangleMeshSource& view,
                                              const std::optional<std::string>& name) -> PyResult<void> {
        VZ_ASSIGN_OR_RETURN(auto geo, project_shared(v->geo.get()));
        std::vector<std::reference_wrapper<const vz::Well>> wells;
        for (const vz::Well* w : geo->project.wells_by_name(v->ids)) wells.emplace_back(*w);
        VZ_ASSIGN_OR_RETURN(vz::WellIntersectionBatch found,
                            from_core(vz::intersections::intersect_wells_with_surface(wells, view, tolerance, all)));
        for (auto& hit : found.hits) hit.surface = name;
        out.hits = std::move(found.hits);
        out.skipped = std::move(found.skipped);
        out.failed = std::move(found.failed);
        out.project_serial = geo->serial;
        return {};
    }));
    out.project = v->geo;
    out.complete = complete;
    return new_well_intersection_set(std::move(out));
}

PyResult<Ref> intersection(PyObject* self, const Args& a) { return batch(self, a, false); }
PyResult<Ref> intersections(PyObject* self, const Args& a) { return batch(self, a, true); }

constexpr const char* kZoneTableDoc =
    "zone_table($self, curve, stats=None, zones=None, include_empty=False, pivot=False, aggregate=False, "
    "weighted=True, decimals=None, cut=None, phi=\"PHIE\", sw=\"SW\", vsh=None)\n--\n\n"
    "A tidy per-`zone \xc3\x97 bore` table of `curve` across **every** well in this\n"
    "view, as a `pandas.DataFrame`. Like `Well.zone_table`, but `bore`\n"
    "identifies well + sidetrack (e.g. `\"15/9-A1 B\"`). `stats` default\n"
    "`[\"mean\"]`; `zone` is an ordered Categorical in lithostratigraphic order;\n"
    "empty cells dropped unless `include_empty`. `pivot=True` \xe2\x86\x92 wide (`zone`\n"
    "index \xc3\x97 `bore` columns; multi-stat \xe2\x86\x92 MultiIndex `(stat, bore)`).\n"
    "`aggregate=True` \xe2\x86\x92 grouped by zone with a pooled \"all\" row first\n"
    "(sample-weighted across wells), indexed by `(zone, bore)`; mutually\n"
    "exclusive with `pivot`. `zones` keeps only those zone names\n"
    "(case-insensitive). `weighted` (default True) thickness-weights the\n"
    "averages; `stats` may also be `samples`/`gross`. `decimals` rounds. Pass\n"
    "`cut=NetSettings(...)` to net-condition every cell first (see\n"
    "`Well.zone_table`); `phi`/`sw`/`vsh` name the conditioning curves. pandas.";

ClassDef define() {
    ClassDef def = ClassDef::of<WellsViewPayload>("WellsView", kDoc);
    def.method<&len_method>("len($self)\n--\n\n")
        .method<&is_empty>("is_empty($self)\n--\n\n")
        .method<&iter>("iter($self)\n--\n\nThe wells in this view as `Well` objects (insertion order).")
        .method<&filter>("filter($self, pred)\n--\n\nA new view keeping only wells for which `pred(well)` is truthy.")
        .method<&tops>("tops($self, name)\n--\n\n"
                       "A new view narrowed to wells that have the named top; remembers the top\n"
                       "so a following attribute access resolves a log to a per-well `Stats`.")
        .method<&zone_table>(kZoneTableDoc)
        .method<&intersection>("intersection($self, surface, tolerance=1e-3)\n--\n\n"
                               "One hit per bore across the view; no-hit and failed bores remain in the\n"
                               "returned diagnostics rather than aborting other wells.")
        .method<&intersections>("intersections($self, surface, tolerance=1e-3)\n--\n\n"
                                "All crossings per bore across the view.")
        .method<&wells_view_view>(kWellsViewViewDoc)
        .len<&length>()
        .repr<&repr>()
        .getattr_fallback<&broadcast>();
    return def;
}

}  // namespace

PyResult<PyTypeObject*> wells_view_type() {
    static TypeCell cell;
    return cell.get(define);
}

PyResult<Ref> new_wells_view(std::vector<std::string> ids, std::optional<std::string> top, Ref geo) {
    VZ_ASSIGN_OR_RETURN(PyTypeObject * type, wells_view_type());
    return create_instance(type, WellsViewPayload{std::move(ids), std::move(top), std::move(geo)});
}

}  // namespace vz::py
