// The viewer bridge (see bundle.hpp): options, curve selection, bore choice,
// the per-bore dictionary and the call into the viewer submodule.

#include "bundle.hpp"

#include <optional>
#include <string>
#include <vector>

#include <fmt/format.h>

#include "analysis/bundle.hpp"
#include "frame/builders.hpp"
#include "frame/exception_text.hpp"
#include "frame/pycall.hpp"
#include "geodata.hpp"
#include "sidetrack.hpp"
#include "well.hpp"
#include "wells_view.hpp"

namespace vz::py {

namespace {

#define VZ_VIEW_SIGNATURE                                                                                      \
    "view($self, spec=None, settings=None, curves=None, tops=None, flatten_default=None, phie_cutoff=None, " \
    "flags=None, serve=None, save=None, *, template=None)\n--\n\n"

#define VZ_VIEW_OPTIONS                                                                                 \
    "A `ViewSpec` (`spec`) declares what to show: `curves`, `tops`, `flatten_default`,\n"               \
    "`flags` and a porosity cutoff; a `ViewSettings` (`settings`) declares how to deliver\n"            \
    "it: `serve`, `save`. The legacy keywords say the same one by one: `curves` selects\n"              \
    "mnemonics (canonical or raw, case-insensitive; default all), then `tops` (`True`\n"               \
    "or a list of top names), `flatten_default`, `phie_cutoff` (viewer default 0.08),\n"              \
    "`flags`, `serve` (viewer default true) and `save`. Passing `spec` with any\n"                     \
    "what-keyword, or `settings` with `serve`/`save`, is an error. The viewer\n"                       \
    "(`voridez._viewer`, an optional runtime dependency imported lazily on each call)\n"              \
    "returns its `LogSession` (`.serve()`, `.save(path)`, `.bundle()`), which is\n"                    \
    "returned unchanged."

}  // namespace

const char* const kWellViewDoc = VZ_VIEW_SIGNATURE
    "Open a logs-only viewer session for this well (its default bore, else the\n"
    "only bore carrying logs).\n\n" VZ_VIEW_OPTIONS;

const char* const kWellsViewViewDoc = VZ_VIEW_SIGNATURE
    "Open a logs-only multi-well correlation panel over every well of this view\n"
    "(each well's default bore, else its only bore carrying logs).\n\n" VZ_VIEW_OPTIONS;

const char* const kSidetrackViewRawDoc =
    "_view_raw($self, curves=None)\n--\n\n"
    "Private producer hook used by the lazy project workspace. It gathers\n"
    "this exact bore without changing the parent well's default bore.";

#undef VZ_VIEW_SIGNATURE
#undef VZ_VIEW_OPTIONS

namespace {

// The options of a `view()` call, None counting as not given.
struct ViewOptions {
    Ref spec;
    Ref settings;
    std::optional<std::vector<std::string>> curves;
    Ref tops;
    std::optional<std::string> flatten_default;
    std::optional<double> phie_cutoff;
    std::optional<std::vector<std::string>> flags;
    std::optional<bool> serve;
    std::optional<std::string> save;
    Ref template_;
};

// An argument passed on as it is; empty when omitted or None.
Ref passed_object(const Args& a, std::string_view name) {
    PyObject* v = a.raw(name);
    return v && v != Py_None ? Ref::borrow(v) : Ref();
}

// Converts the arguments in signature order, then refuses an option object
// together with the keywords of its own group (the `spec` conflict first).
PyResult<ViewOptions> view_options(const Args& a) {
    ViewOptions o;
    o.spec = passed_object(a, "spec");
    o.settings = passed_object(a, "settings");
    VZ_ASSIGN_OR_RETURN(o.curves, a.opt<std::vector<std::string>>("curves"));
    o.tops = passed_object(a, "tops");
    VZ_ASSIGN_OR_RETURN(o.flatten_default, a.opt<std::string>("flatten_default"));
    VZ_ASSIGN_OR_RETURN(o.phie_cutoff, a.opt<double>("phie_cutoff"));
    VZ_ASSIGN_OR_RETURN(o.flags, a.opt<std::vector<std::string>>("flags"));
    VZ_ASSIGN_OR_RETURN(o.serve, a.opt<bool>("serve"));
    VZ_ASSIGN_OR_RETURN(o.save, a.opt<std::string>("save"));
    o.template_ = passed_object(a, "template");
    if (o.spec && (o.curves || o.tops || o.flatten_default || o.phie_cutoff || o.flags))
        return raise(PyErr::value_error("view(): pass EITHER spec=ViewSpec(...) OR the legacy "
                                        "curves/tops/flatten_default/phie_cutoff/flags kwargs, not both"));
    if (o.settings && (o.serve || o.save))
        return raise(PyErr::value_error(
            "view(): pass EITHER settings=ViewSettings(...) OR the legacy serve/save kwargs, not both"));
    return o;
}

// The curves to show: the spec's "curves" attribute when a spec is given
// (None: every curve), else the `curves` argument.
PyResult<vz::bundle::CurveSelection> curve_selection(const ViewOptions& o) {
    if (!o.spec) return o.curves;
    VZ_ASSIGN_OR_RETURN(Ref curves, get_attr(o.spec.get(), "curves"));
    if (curves.get() == Py_None) return vz::bundle::CurveSelection();
    VZ_ASSIGN_OR_RETURN(auto names, from_py<std::vector<std::string>>(curves.get()));
    return vz::bundle::CurveSelection(std::move(names));
}

// The bore `view()` shows: the default bore, else the only bore carrying
// logs, else the main bore. The curve selection plays no part.
PyResult<const vz::Sidetrack*> choose_bore(const vz::Well& well) {
    if (well.default_bore) {
        const vz::Sidetrack* bore = well.sidetrack(*well.default_bore);
        if (!bore)
            return raise(PyErr::value_error(
                fmt::format("well '{}': default bore '{}' not found", well.name, *well.default_bore)));
        return bore;
    }
    const std::vector<const vz::Sidetrack*> with_logs = vz::bundle::bores_with_logs(well);
    if (with_logs.size() > 1) {
        std::vector<std::string_view> labels;
        for (const vz::Sidetrack* b : with_logs) labels.push_back(b->label);
        return raise(PyErr::value_error(
            fmt::format("well '{}' has {} bores carrying logs ({}) \xe2\x80\x94 view() can't pick one; call "
                        "set_default_bore(name) first",
                        well.name, with_logs.size(), fmt::join(labels, ", "))));
    }
    if (with_logs.size() == 1) return with_logs.front();
    const vz::Sidetrack* main = well.main_bore();
    if (!main) return raise(PyErr::value_error("no bore ''"));
    return main;
}

PyResult<Ref> curve_dict(const vz::bundle::CurveRow& c) {
    DictBuilder d;
    d.add("mnemonic", c.mnemonic).add("canonical", c.canonical).add("unit", c.unit).add("core", c.core).add(
        "values", c.values);
    return std::move(d).build();
}

PyResult<Ref> zone_dict(const vz::bundle::ZoneRow& z) {
    DictBuilder d;
    d.add("name", z.name).add("top_md", z.top_md).add("base_md", z.base_md).add("top_tvd", z.top_tvd).add(
        "base_tvd", z.base_tvd);
    return std::move(d).build();
}

// One bore of one well as the viewer's dictionary; the numeric work runs
// with the interpreter lock released while the caller's shared access to the
// project keeps the bore unchanged.
PyResult<Ref> well_dict(const vz::Well& well, const vz::Sidetrack& bore, const vz::bundle::CurveSelection& curves) {
    const vz::bundle::BoreData data = allow_threads([&] { return vz::bundle::gather(bore, well.kb, curves); });
    DictBuilder d;
    d.add("id", well.name)
        .add("display_name", well.name)
        .add("x", well.head[0])
        .add("y", well.head[1])
        .add("datum_m", well.kb)
        .add("md", data.md)
        .add("tvd", data.tvd)
        .add("curves", list_map(data.curves, curve_dict))
        .add("zones", list_map(data.zones, zone_dict));
    return std::move(d).build();
}

PyResult<Ref> chosen_bore_dict(const vz::Well& well, const vz::bundle::CurveSelection& curves) {
    VZ_ASSIGN_OR_RETURN(const vz::Sidetrack* bore, choose_bore(well));
    return well_dict(well, *bore, curves);
}

// Imports the viewer submodule and calls its `render` with the payload and
// exactly the options given, in their fixed order.
PyResult<Ref> render(Ref payload, const ViewOptions& o) {
    auto module = import_module("voridez._viewer");
    if (!module)
        return raise(PyErr::new_err(
            PyExc_ImportError,
            fmt::format("voridez._viewer (the WellLogBundle producer) failed to import: {}",
                        exception_text(module.error(), ExceptionClassName::Plain))));
    DictBuilder kwargs;
    if (o.spec) kwargs.add("spec", o.spec);
    if (o.settings) kwargs.add("settings", o.settings);
    if (o.template_) kwargs.add("template", o.template_);
    if (o.tops) kwargs.add("tops", o.tops);
    if (o.flatten_default) kwargs.add("flatten_default", *o.flatten_default);
    if (o.phie_cutoff) kwargs.add("phie_cutoff", *o.phie_cutoff);
    if (o.flags) kwargs.add("flags", *o.flags);
    if (o.serve) kwargs.add("serve", *o.serve);
    if (o.save) kwargs.add("save", *o.save);
    VZ_ASSIGN_OR_RETURN(Ref fn, get_attr(module->get(), "render"));
    return call(fn.get(), py_tuple(std::move(payload)), std::move(kwargs).build());
}

}  // namespace

PyResult<Ref> well_view(PyObject* self, const Args& a) {
    VZ_ASSIGN_OR_RETURN(auto h, well_handle(self));
    VZ_ASSIGN_OR_RETURN(ViewOptions o, view_options(a));
    VZ_ASSIGN_OR_RETURN(auto curves, curve_selection(o));
    VZ_ASSIGN_OR_RETURN(Ref payload, with_well(*h, [&](const vz::Well& w) { return chosen_bore_dict(w, curves); }));
    return render(std::move(payload), o);
}

PyResult<Ref> wells_view_view(PyObject* self, const Args& a) {
    VZ_ASSIGN_OR_RETURN(auto v, borrow<WellsViewPayload>(self));
    VZ_ASSIGN_OR_RETURN(ViewOptions o, view_options(a));
    VZ_ASSIGN_OR_RETURN(auto curves, curve_selection(o));
    VZ_ASSIGN_OR_RETURN(Ref payload, checked(PyList_New(0)));
    {
        VZ_ASSIGN_OR_RETURN(auto geo, project_shared(v->geo.get()));
        for (const std::string& id : v->ids) {
            const vz::Well* well = geo->project.find_well(id);
            if (!well) continue;  // a well gone from the project is left out silently
            VZ_ASSIGN_OR_RETURN(Ref d, chosen_bore_dict(*well, curves));
            if (PyList_Append(payload.get(), d.get()) < 0) return raise_pending();
        }
    }
    return render(std::move(payload), o);
}

PyResult<Ref> sidetrack_view_raw(PyObject* self, const Args& a) {
    VZ_ASSIGN_OR_RETURN(auto st, sidetrack_handle(self));
    VZ_ASSIGN_OR_RETURN(auto curves, a.opt<std::vector<std::string>>("curves"));
    VZ_ASSIGN_OR_RETURN(auto well, well_handle(st->well.get()));
    return with_well(*well, [&](const vz::Well& w) -> PyResult<Ref> {
        const vz::Sidetrack* bore = w.sidetrack(st->label);
        if (!bore) return raise(no_bore(st->label));
        return well_dict(w, *bore, curves);
    });
}

void add_well_view(ClassDef& def) { def.method<&well_view>(kWellViewDoc); }

}  // namespace vz::py
