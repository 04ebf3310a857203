// The `Sidetrack` handle: one bore of a stored well, named by its label. Its
// accessors and statistics read exactly that bore; its top mutators and
// `assign_log` change it, making the bore when the well lacks it.

#include "sidetrack.hpp"

#include <optional>
#include <string>
#include <utility>
#include <vector>

#include <fmt/format.h>

#include "analysis/interpret.hpp"
#include "bundle.hpp"
#include "frame/builders.hpp"
#include "frame/escape.hpp"
#include "intersection.hpp"
#include "net_settings.hpp"
#include "stats.hpp"
#include "well_accessors.hpp"

namespace vz::py {

namespace {

constexpr const char* kDoc =
    "A bore (sidetrack): a view resolving `well.sidetrack(label)`. Exposes\n"
    "per-bore logs, zones, and aggregates (the real data lives on the named bores\n"
    "A/B/C/ST2, not the main bore).";

// ---- the handle -----------------------------------------------------------------

PyResult<std::string> label(PyObject* self) {
    VZ_ASSIGN_OR_RETURN(auto st, sidetrack_handle(self));
    return st->label;
}

// ---- accessors ------------------------------------------------------------------

PyResult<Ref> mnemonics(PyObject* self, const Args&) {
    VZ_ASSIGN_OR_RETURN(auto st, sidetrack_handle(self));
    VZ_ASSIGN_OR_RETURN(std::vector<std::string> names, with_bore(*st, [](const vz::Sidetrack& b) {
                            std::vector<std::string> out;
                            out.reserve(b.logs.size());
                            for (const vz::Log& l : b.logs) out.push_back(l.mnemonic);
                            return out;
                        }));
    return to_py(names);
}

PyResult<std::optional<double>> tvd(PyObject* self, const Args& a) {
    VZ_ASSIGN_OR_RETURN(auto st, sidetrack_handle(self));
    VZ_ASSIGN_OR_RETURN(double md, a.get<double>("md"));
    return with_bore(*st, [&](const vz::Sidetrack& b) { return b.tvd(md); });
}

PyResult<Ref> xyz(PyObject* self, const Args& a) {
    VZ_ASSIGN_OR_RETURN(auto st, sidetrack_handle(self));
    VZ_ASSIGN_OR_RETURN(double md, a.get<double>("md"));
    VZ_ASSIGN_OR_RETURN(std::optional<vz::Xyz> p, with_bore(*st, [&](const vz::Sidetrack& b) { return b.xyz(md); }));
    return xyz_to_py(p);
}

PyResult<Ref> tops(PyObject* self, const Args&) {
    VZ_ASSIGN_OR_RETURN(auto st, sidetrack_handle(self));
    VZ_ASSIGN_OR_RETURN(std::vector<vz::DepthPick> rows, with_bore(*st, [](const vz::Sidetrack& b) { return b.tops; }));
    return picks_to_py(rows);
}

PyResult<Ref> md_range(PyObject* self, const Args&) {
    VZ_ASSIGN_OR_RETURN(auto st, sidetrack_handle(self));
    using Span = std::optional<std::pair<double, double>>;
    VZ_ASSIGN_OR_RETURN(Span span, with_bore(*st, [](const vz::Sidetrack& b) -> Span {
                            const vz::Trajectory* t = b.active_trajectory();
                            if (!t) return std::nullopt;
                            return std::make_pair(t->first_md(), t->last_md());
                        }));
    if (!span) return Ref::none();
    return py_tuple(span->first, span->second);
}

PyResult<Ref> contacts(PyObject* self, const Args&) {
    VZ_ASSIGN_OR_RETURN(auto st, sidetrack_handle(self));
    VZ_ASSIGN_OR_RETURN(std::vector<vz::DepthPick> rows,
                        with_bore(*st, [](const vz::Sidetrack& b) { return b.contacts; }));
    return picks_to_py(rows);
}

PyResult<Ref> contact(PyObject* self, const Args& a) {
    VZ_ASSIGN_OR_RETURN(auto st, sidetrack_handle(self));
    VZ_ASSIGN_OR_RETURN(std::string name, a.get<std::string>("name"));
    VZ_ASSIGN_OR_RETURN(std::optional<vz::DepthPick> row,
                        with_bore(*st, [&](const vz::Sidetrack& b) { return b.contact(name); }));
    if (!row) return Ref::none();
    return pick_to_py(*row);
}

struct ZoneRow {
    std::string name;
    double top_md;
    double base_md;
};

PyResult<Ref> zones(PyObject* self, const Args&) {
    VZ_ASSIGN_OR_RETURN(auto st, sidetrack_handle(self));
    VZ_ASSIGN_OR_RETURN(std::vector<ZoneRow> rows, with_bore(*st, [](const vz::Sidetrack& b) {
                            std::vector<ZoneRow> out;
                            for (vz::Zone& z : b.zones()) out.push_back({std::move(z.name), z.top_md, z.base_md});
                            return out;
                        }));
    return list_map(rows, [](const ZoneRow& z) { return py_tuple(z.name, z.top_md, z.base_md); });
}

PyResult<Ref> log(PyObject* self, const Args& a) {
    VZ_ASSIGN_OR_RETURN(auto st, sidetrack_handle(self));
    VZ_ASSIGN_OR_RETURN(std::string mnemonic, a.get<std::string>("mnemonic"));
    VZ_ASSIGN_OR_RETURN(bool found,
                        with_bore(*st, [&](const vz::Sidetrack& b) { return b.log(mnemonic).has_value(); }));
    if (!found) return Ref::none();
    return new_log_view(LogViewPayload{std::move(mnemonic), std::nullopt, st->label, st->well});
}

// ---- top mutators -------------------------------------------------------------------

/// The name and the depth argument, the crossing's project checked against
/// the handle's before the project is touched.
struct TopArguments {
    std::string name;
    MdOrHit depth;
};

PyResult<TopArguments> top_arguments(const SidetrackPayload& st, const Args& a) {
    VZ_ASSIGN_OR_RETURN(std::string name, a.get<std::string>("name"));
    VZ_ASSIGN_OR_RETURN(MdOrHit depth, MdOrHit::extract(a.raw("md_or_hit")));
    if (depth.project_serial) {
        VZ_ASSIGN_OR_RETURN(auto well, well_handle(st.well.get()));
        VZ_TRY(depth.check_project(well->project.get()));
    }
    return TopArguments{std::move(name), std::move(depth)};
}

template <Result<void> (vz::Sidetrack::*ByMd)(std::string_view, double),
          Result<void> (vz::Sidetrack::*ByHit)(std::string_view, const vz::SurfaceIntersection&)>
PyResult<void> set_top(PyObject* self, const Args& a) {
    VZ_ASSIGN_OR_RETURN(auto st, sidetrack_handle(self));
    VZ_ASSIGN_OR_RETURN(TopArguments args, top_arguments(*st, a));
    VZ_ASSIGN_OR_RETURN(Result<void> r, with_bore_mut(*st, [&](vz::Sidetrack& b) {
                            return args.depth.hit ? (b.*ByHit)(args.name, *args.depth.hit)
                                                  : (b.*ByMd)(args.name, args.depth.md);
                        }));
    return from_core(std::move(r));
}

PyResult<void> remove_top(PyObject* self, const Args& a) {
    VZ_ASSIGN_OR_RETURN(auto st, sidetrack_handle(self));
    VZ_ASSIGN_OR_RETURN(std::string name, a.get<std::string>("name"));
    VZ_ASSIGN_OR_RETURN(Result<vz::DepthPick> r,
                        with_bore_mut(*st, [&](vz::Sidetrack& b) { return b.remove_top(name); }));
    if (!r) return raise(into_py_err(r.error()));
    return {};
}

// ---- statistics ---------------------------------------------------------------------

PyResult<Ref> log_stats(PyObject* self, const Args& a) {
    VZ_ASSIGN_OR_RETURN(auto st, sidetrack_handle(self));
    VZ_ASSIGN_OR_RETURN(std::string mnemonic, a.get<std::string>("mnemonic"));
    VZ_ASSIGN_OR_RETURN(std::optional<vz::Stats> stats,
                        with_bore(*st, [&](const vz::Sidetrack& b) -> std::optional<vz::Stats> {
                            const auto view = b.log(mnemonic);
                            if (!view) return std::nullopt;
                            return view->stats();
                        }));
    if (!stats) return Ref::none();
    return new_stats(std::move(*stats));
}

/// A list of (zone name, result) tuples; `item` makes each result.
template <class T, class Make>
PyResult<Ref> zone_rows(const std::vector<std::pair<std::string, T>>& rows, Make&& item) {
    return list_map(rows, [&](const std::pair<std::string, T>& row) { return py_tuple(row.first, item(row.second)); });
}

PyResult<Ref> zone_stats(PyObject* self, const Args& a) {
    VZ_ASSIGN_OR_RETURN(auto st, sidetrack_handle(self));
    VZ_ASSIGN_OR_RETURN(std::string mnemonic, a.get<std::string>("mnemonic"));
    VZ_ASSIGN_OR_RETURN(std::optional<std::string> zone, a.opt<std::string>("zone"));
    // The result is built while the bore is held.
    return with_bore(*st, [&](const vz::Sidetrack& b) -> PyResult<Ref> {
        auto rows = b.zone_stats(mnemonic);
        if (!zone) return zone_rows(rows, [](const vz::Stats& s) { return new_stats(s); });
        for (auto& [name, stats] : rows)
            if (iequals_ascii(name, *zone)) return new_stats(std::move(stats));
        return Ref::none();
    });
}

/// The arguments of `net_zone_stats`, converted in signature order.
struct NetArguments {
    std::string value;
    std::string phi = "PHIE";
    std::string sw = "SW";
    std::optional<std::string> vsh;
    vz::Cutoffs cutoffs;
    bool geomean = false;
};

PyResult<NetArguments> net_arguments(const Args& a) {
    NetArguments n;
    VZ_ASSIGN_OR_RETURN(n.value, a.get<std::string>("value"));
    VZ_ASSIGN_OR_RETURN(n.phi, a.get_or<std::string>("phi", "PHIE"));
    VZ_ASSIGN_OR_RETURN(n.sw, a.get_or<std::string>("sw", "SW"));
    VZ_ASSIGN_OR_RETURN(n.vsh, a.opt<std::string>("vsh"));
    // Each cutoff: the explicit keyword, else the settings' field, else the
    // default.
    VZ_ASSIGN_OR_RETURN(std::optional<vz::Cutoffs> cut, a.opt<vz::Cutoffs>("cut"));
    if (cut) n.cutoffs = *cut;
    VZ_ASSIGN_OR_RETURN(std::optional<double> phi_min, a.opt<double>("phi_min"));
    VZ_ASSIGN_OR_RETURN(std::optional<double> sw_max, a.opt<double>("sw_max"));
    VZ_ASSIGN_OR_RETURN(std::optional<double> vsh_max, a.opt<double>("vsh_max"));
    if (phi_min) n.cutoffs.phi_min = *phi_min;
    if (sw_max) n.cutoffs.sw_max = *sw_max;
    if (vsh_max) n.cutoffs.vsh_max = *vsh_max;
    VZ_ASSIGN_OR_RETURN(n.geomean, a.get_or<bool>("geomean", false));
    return n;
}

PyResult<Ref> net_zone_stats(PyObject* self, const Args& a) {
    VZ_ASSIGN_OR_RETURN(auto st, sidetrack_handle(self));
    VZ_ASSIGN_OR_RETURN(NetArguments n, net_arguments(a));
    // The results are built while the bore is held.
    return with_bore(*st, [&](const vz::Sidetrack& b) -> PyResult<Ref> {
        const std::optional<std::string_view> vsh = n.vsh ? std::optional<std::string_view>(*n.vsh) : std::nullopt;
        // Without the interpreter lock; the bore cannot change meanwhile, as
        // every exclusive access to the held project fails at once.
        auto rows = allow_threads(
            [&] { return vz::well_tables::net_zone_stats(b, n.value, n.phi, n.sw, vsh, n.cutoffs); });
        if (n.geomean)
            return zone_rows(rows, [](const std::vector<double>& net) { return to_py(vz::Stats::geomean(net)); });
        return zone_rows(rows, [](const std::vector<double>& net) { return new_stats(vz::Stats::from_values(net)); });
    });
}

// ---- log assignment --------------------------------------------------------------------

PyResult<void> assign_log(PyObject* self, const Args& a) {
    VZ_ASSIGN_OR_RETURN(auto st, sidetrack_handle(self));
    VZ_ASSIGN_OR_RETURN(std::string mnemonic, a.get<std::string>("mnemonic"));
    VZ_ASSIGN_OR_RETURN(std::vector<double> md, a.get<std::vector<double>>("md"));
    VZ_ASSIGN_OR_RETURN(std::vector<double> values, a.get<std::vector<double>>("values"));
    VZ_ASSIGN_OR_RETURN(std::string unit, a.get_or<std::string>("unit", ""));
    VZ_ASSIGN_OR_RETURN(bool overwrite, a.get_or<bool>("overwrite", false));
    return with_bore_mut(*st, [&](vz::Sidetrack& b) -> PyResult<void> {
        if (!overwrite && b.log(mnemonic))
            return raise(PyErr::value_error(fmt::format("log '{}' already exists on this bore", mnemonic)));
        VZ_ASSIGN_OR_RETURN(vz::Log log, from_core(vz::Log::make(mnemonic, unit, std::move(md), std::move(values))));
        log.history.push(fmt::format("sidetrack.assign_log(name={})", mnemonic));
        // Only now, with the new curve built, may an old one go.
        if (overwrite) b.remove_logs_named(mnemonic);
        b.push_log(std::move(log));
        return {};
    });
}

// ---- the representation -------------------------------------------------------------------

PyResult<std::string> repr(PyObject* self) {
    VZ_ASSIGN_OR_RETURN(auto st, sidetrack_handle(self));
    VZ_ASSIGN_OR_RETURN(std::string label, escape_literal(st->label));
    return fmt::format("Sidetrack(label={})", label);
}

ClassDef define() {
    ClassDef def = ClassDef::of<SidetrackPayload>("Sidetrack", kDoc);
    def.getter<&label>("label")
        .method<&mnemonics>("mnemonics($self)\n--\n\nThe mnemonics of every curve on this bore, in insertion order.")
        .method<&sidetrack_view_raw>(kSidetrackViewRawDoc)
        .method<&tvd>("tvd($self, md)\n--\n\nTVD at measured depth `md` on this bore, or `None`.")
        .method<&xyz>("xyz($self, md)\n--\n\nInterpolated position `(x, y, z)` at `md`, or `None`.")
        .method<&sidetrack_intersections>(kSidetrackIntersectionsDoc)
        .method<&sidetrack_intersection>(kSidetrackIntersectionDoc)
        .method<&tops>("tops($self)\n--\n\nFormation tops on this bore as `(name, md)` rows.")
        .method<&set_top<&vz::Sidetrack::add_top, &vz::Sidetrack::add_top_hit>>(
            "add_top($self, name, md_or_hit)\n--\n\n")
        .method<&set_top<&vz::Sidetrack::replace_top, &vz::Sidetrack::replace_top_hit>>(
            "replace_top($self, name, md_or_hit)\n--\n\n")
        .method<&remove_top>("remove_top($self, name)\n--\n\n")
        .method<&md_range>(
            "md_range($self)\n--\n\nThe `(min, max)` measured-depth span of the active trajectory, or `None`.")
        .method<&log_stats>("log_stats($self, mnemonic)\n--\n\n"
                            "Full-curve NaN-skipping `Stats` for `mnemonic` (case-insensitive), or `None`.")
        .method<&log>("log($self, mnemonic)\n--\n\n"
                      "A per-sample view of curve `mnemonic` (case-insensitive) on this bore, or `None`.")
        .method<&assign_log>("assign_log($self, mnemonic, md, values, unit=\"\", overwrite=False)\n--\n\n"
                             "Add a calculated log on this bore. Raises unless `overwrite=True` when a\n"
                             "curve with the same mnemonic already exists on this bore.")
        .method<&contacts>("contacts($self)\n--\n\nFluid-contact picks on this bore as `(name, md)` rows.")
        .method<&contact>("contact($self, name)\n--\n\n"
                          "The named fluid-contact pick on this bore as `(name, md)`, or `None`.")
        .method<&net_zone_stats>(
            "net_zone_stats($self, value, phi=\"PHIE\", sw=\"SW\", vsh=None, cut=None, phi_min=None, sw_max=None, "
            "vsh_max=None, geomean=False)\n--\n\n"
            "Net-conditioned per-zone aggregation of curve `value` on this bore: per zone, the\n"
            "`Stats` (or with `geomean=True` the geometric mean) of the samples whose porosity\n"
            "`phi`, water saturation `sw` and optional shale volume `vsh`, interpolated at the\n"
            "sample depths, pass the cutoffs. Each cutoff is the explicit `phi_min` / `sw_max` /\n"
            "`vsh_max`, else the field of `cut` (a `NetSettings`), else 0.08 / 0.5 / 0.5.")
        .method<&zones>("zones($self)\n--\n\nEach formation zone as `(name, top_md, base_md)`, in MD order.")
        .method<&zone_stats>("zone_stats($self, mnemonic, zone=None)\n--\n\n"
                             "Per-zone statistics of curve `mnemonic` as `(zone, Stats)` rows in zone order,\n"
                             "or, with `zone`, that zone's `Stats` (case-insensitive) or `None`.")
        .repr<&repr>();
    return def;
}

}  // namespace

PyResult<PyTypeObject*> sidetrack_type() {
    static TypeCell cell;
    return cell.get(define);
}

PyResult<Ref> new_sidetrack(std::string label, Ref well) {
    VZ_ASSIGN_OR_RETURN(PyTypeObject * type, sidetrack_type());
    return create_instance(type, SidetrackPayload{std::move(label), std::move(well)});
}

}  // namespace vz::py
