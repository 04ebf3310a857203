// Private module attributes (leading underscore, never in __all__) that give
// Python a way to exercise frame services no public method reaches yet:
// issuing warnings, making the value objects that loaders and models will
// hand out, reading back the values that arguments carry (cutoffs, ingest
// specs, crossings), the bytes and optional-text conversions, and calls into
// other Python modules.

#include "private_hooks.hpp"

#include <algorithm>

#include "bbox.hpp"
#include "frame/builders.hpp"
#include "frame/convert_more.hpp"
#include "frame/frame.hpp"
#include "frame/pycall.hpp"
#include "geodata.hpp"
#include "ingest_spec.hpp"
#include "net_settings.hpp"
#include "stats.hpp"
#include "surface_intersection.hpp"

namespace vz::py {

namespace {

constexpr const char* kWarnDoc =
    "_warn(message, user=False)\n--\n\n"
    "Issue `message` as a DeprecationWarning (or a UserWarning when `user`).";

PyResult<void> warn_hook(const Args& a) {
    VZ_ASSIGN_OR_RETURN(std::string message, a.get<std::string>("message"));
    VZ_ASSIGN_OR_RETURN(bool user, a.get_or<bool>("user", false));
    return user ? warn_user(message) : warn_deprecated(message);
}

constexpr const char* kStatsDoc =
    "_stats(values)\n--\n\n"
    "The `Stats` of a sequence of numbers (NaN skipped).";

PyResult<Ref> stats_hook(const Args& a) {
    VZ_ASSIGN_OR_RETURN(std::vector<double> values, a.get<std::vector<double>>("values"));
    return new_stats(vz::Stats::from_values(values));
}

constexpr const char* kBBoxDoc =
    "_bbox(xmin, ymin, xmax, ymax)\n--\n\n"
    "A `BBox` with the four values as given.";

PyResult<Ref> bbox_hook(const Args& a) {
    VZ_ASSIGN_OR_RETURN(double xmin, a.get<double>("xmin"));
    VZ_ASSIGN_OR_RETURN(double ymin, a.get<double>("ymin"));
    VZ_ASSIGN_OR_RETURN(double xmax, a.get<double>("xmax"));
    VZ_ASSIGN_OR_RETURN(double ymax, a.get<double>("ymax"));
    return new_bbox(vz::BBox{xmin, ymin, xmax, ymax});
}

constexpr const char* kHitDoc =
    "_surface_intersection(md, x, y, z, well=None, bore=None, surface=None, project=None)\n--\n\n"
    "A `SurfaceIntersection` with the values as given; `project` is a project serial.";

PyResult<Ref> hit_hook(const Args& a) {
    vz::SurfaceIntersection hit;
    VZ_ASSIGN_OR_RETURN(hit.md, a.get<double>("md"));
    VZ_ASSIGN_OR_RETURN(hit.xyz[0], a.get<double>("x"));
    VZ_ASSIGN_OR_RETURN(hit.xyz[1], a.get<double>("y"));
    VZ_ASSIGN_OR_RETURN(hit.xyz[2], a.get<double>("z"));
    VZ_ASSIGN_OR_RETURN(hit.well, a.opt<std::string>("well"));
    VZ_ASSIGN_OR_RETURN(hit.bore, a.opt<std::string>("bore"));
    VZ_ASSIGN_OR_RETURN(hit.surface, a.opt<std::string>("surface"));
    VZ_ASSIGN_OR_RETURN(std::optional<std::uint64_t> project, a.opt<std::uint64_t>("project"));
    return new_surface_intersection(project, std::move(hit));
}

constexpr const char* kSerialDoc =
    "_project_serial(geo)\n--\n\n"
    "The serial a crossing of the `GeoData` object `geo` carries as its project.";

PyResult<std::uint64_t> serial_hook(const Args& a) {
    VZ_ASSIGN_OR_RETURN(auto geo, (a.get<ObjectOf<GeoDataPayload, &geodata_type>>("geo")));
    return geo->serial;
}

constexpr const char* kHitValueDoc =
    "_surface_intersection_value(hit)\n--\n\n"
    "What a `SurfaceIntersection` holds, read back as the top mutations read it:\n"
    "(project, md, (x, y, z), well, bore, surface).";

PyResult<Ref> hit_value_hook(const Args& a) {
    VZ_ASSIGN_OR_RETURN(SurfaceIntersectionValue v, a.get<SurfaceIntersectionValue>("hit"));
    return py_tuple(v.project, v.hit.md, tuple_from(v.hit.xyz), v.hit.well, v.hit.bore, v.hit.surface);
}

constexpr const char* kBytesDoc =
    "_bytes(data)\n--\n\n"
    "`data` through the bytes argument conversion, returned as new bytes.";

PyResult<Ref> bytes_hook(const Args& a) {
    VZ_ASSIGN_OR_RETURN(Bytes data, a.get<Bytes>("data"));
    return to_py(data);
}

constexpr const char* kOptionalTextsDoc =
    "_optional_texts(values)\n--\n\n"
    "`values` through the conversion of a sequence of str or None, returned as a list.";

PyResult<Ref> optional_texts_hook(const Args& a) {
    VZ_ASSIGN_OR_RETURN(auto values, a.get<std::vector<std::optional<std::string>>>("values"));
    return list_map(values, [](const std::optional<std::string>& v) { return to_py(v); });
}

constexpr const char* kCutoffsDoc =
    "_cutoffs(cut)\n--\n\n"
    "The (phi_min, sw_max, vsh_max) of a `cut` argument, read as the net methods read it.";

PyResult<Ref> cutoffs_hook(const Args& a) {
    VZ_ASSIGN_OR_RETURN(vz::Cutoffs cut, a.get<vz::Cutoffs>("cut"));
    return py_tuple(cut.phi_min, cut.sw_max, cut.vsh_max);
}

constexpr const char* kIngestDoc =
    "_ingest_spec_value(spec)\n--\n\n"
    "What the loaders take from an `IngestSpec`: (aliases as sorted pairs, hints,\n"
    "unit text, parsed unit symbol).";

PyResult<Ref> ingest_hook(const Args& a) {
    VZ_ASSIGN_OR_RETURN(IngestSpec v, a.get<IngestSpec>("spec"));
    std::vector<std::pair<std::string, std::string>> aliases(v.aliases.begin(), v.aliases.end());
    std::sort(aliases.begin(), aliases.end());
    std::vector<std::pair<std::string, std::string>> hints;
    for (const vz::StratHint& h : v.strat_hints) hints.emplace_back(h.above, h.below);
    std::optional<std::string> unit;
    if (v.unit) unit = vz::length_unit_symbol(*v.unit);
    return py_tuple(list_of_pairs(aliases), list_of_pairs(hints), v.unit_text, unit);
}

constexpr const char* kCallDoc =
    "_call_attr(module, attr, args, kwargs=None)\n--\n\n"
    "`module.attr(*args, **kwargs)` with the module imported by name; the keywords\n"
    "are passed on in the dict's order.";

PyResult<Ref> call_hook(const Args& a) {
    VZ_ASSIGN_OR_RETURN(std::string module, a.get<std::string>("module"));
    VZ_ASSIGN_OR_RETURN(std::string attr, a.get<std::string>("attr"));
    std::vector<PyResult<Ref>> args;
    VZ_ASSIGN_OR_RETURN(Ref it, checked(PyObject_GetIter(a.raw("args"))));
    while (PyObject* item = PyIter_Next(it.get())) args.emplace_back(Ref::steal(item));
    if (PyErr_Occurred()) return raise_pending();
    VZ_ASSIGN_OR_RETURN(std::optional<Dict> kwargs, a.opt<Dict>("kwargs"));
    PyResult<Ref> keywords = Ref();
    if (kwargs) {
        DictBuilder d;
        Py_ssize_t pos = 0;
        PyObject *key = nullptr, *value = nullptr;
        while (PyDict_Next(kwargs->obj.get(), &pos, &key, &value)) d.add_item(Ref::borrow(key), Ref::borrow(value));
        keywords = std::move(d).build();
    }
    return call_attr(module, attr, tuple_of(std::move(args)), std::move(keywords));
}

PyResult<void> set_private(PyObject* module, const char* name, PyResult<Ref> fn) {
    if (!fn) return raise(std::move(fn.error()));
    if (PyObject_SetAttrString(module, name, fn->get()) < 0) return raise_pending();
    return {};
}

}  // namespace

PyResult<void> add_private_hooks(PyObject* module) {
    VZ_TRY(set_private(module, "_warn", make_function<&warn_hook>(kWarnDoc, module)));
    VZ_TRY(set_private(module, "_stats", make_function<&stats_hook>(kStatsDoc, module)));
    VZ_TRY(set_private(module, "_bbox", make_function<&bbox_hook>(kBBoxDoc, module)));
    VZ_TRY(set_private(module, "_surface_intersection", make_function<&hit_hook>(kHitDoc, module)));
    VZ_TRY(set_private(module, "_project_serial", make_function<&serial_hook>(kSerialDoc, module)));
    VZ_TRY(set_private(module, "_surface_intersection_value",
                       make_function<&hit_value_hook>(kHitValueDoc, module)));
    VZ_TRY(set_private(module, "_bytes", make_function<&bytes_hook>(kBytesDoc, module)));
    VZ_TRY(set_private(module, "_optional_texts", make_function<&optional_texts_hook>(kOptionalTextsDoc, module)));
    VZ_TRY(set_private(module, "_cutoffs", make_function<&cutoffs_hook>(kCutoffsDoc, module)));
    VZ_TRY(set_private(module, "_ingest_spec_value", make_function<&ingest_hook>(kIngestDoc, module)));
    VZ_TRY(set_private(module, "_call_attr", make_function<&call_hook>(kCallDoc, module)));
    return {};
}

}  // namespace vz::py
