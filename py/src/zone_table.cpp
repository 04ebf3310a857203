// Zone tables as pandas data frames (see zone_table.hpp), and
// `Well.zone_table`.

#include "zone_table.hpp"

#include <algorithm>
#include <array>
#include <string_view>

#include <fmt/format.h>

#include "frame/builders.hpp"
#include "frame/pycall.hpp"
#include "geodata.hpp"
#include "net_settings.hpp"
#include "well.hpp"

namespace vz::py {

namespace {

// The accepted statistic names: the `Stats` fields, then the two that only
// zone tables know.
constexpr std::array<std::string_view, 9> kStatFields = {"mean", "sum", "count", "min", "max",
                                                         "std",  "p10", "p50",   "p90"};
constexpr std::array<std::string_view, 2> kTableStats = {"samples", "gross"};

bool accepted_stat(std::string_view name) {
    return std::ranges::find(kStatFields, name) != kStatFields.end() ||
           std::ranges::find(kTableStats, name) != kTableStats.end();
}

// The requested statistics, checked in request order, each name once (its
// first place kept): a name asked for twice makes one column, never a
// repeated one, whatever shape the frame takes.
PyResult<std::vector<std::string>> checked_stats(const std::vector<std::string>& requested) {
    std::vector<std::string> names;
    for (const std::string& name : requested) {
        if (!accepted_stat(name))
            return raise(PyErr::value_error(fmt::format("zone_table: unknown stat '{}' (expected one of: {}, {})",
                                                        name, fmt::join(kStatFields, ", "),
                                                        fmt::join(kTableStats, ", "))));
        if (std::ranges::find(names, name) == names.end()) names.push_back(name);
    }
    return names;
}

// The cells, computed with the interpreter lock released (the caller's
// shared access to the project keeps the bores unchanged meanwhile), their
// zones ranked by the stratigraphic column rather than by first meeting.
vz::ZoneTable compute_cells(std::span<const vz::well_tables::BoreRow> bores, const ZoneTableArgs& args,
                            std::span<const std::string> stats, std::span<const std::string> strat_column) {
    return allow_threads([&] {
        vz::ZoneTable table = vz::well_tables::zone_table(bores, args.curve, stats, args.zones, args.include_empty,
                                                          args.aggregate, args.weighted, args.net);
        vz::well_tables::order_table_by_column(table, strat_column);
        return table;
    });
}

// The column dictionary: "zone" (as given), "bore", then one list of floats
// per statistic the core returned a column for.
PyResult<Ref> columns(PyResult<Ref> zone, const vz::ZoneTable& table, std::span<const std::string> stats) {
    DictBuilder d;
    d.add("zone", std::move(zone)).add("bore", table.bore);
    for (std::size_t s = 0; s < stats.size() && s < table.stats.size(); ++s) d.add(stats[s], table.stats[s]);
    return std::move(d).build();
}

// frame.pivot(index="zone", columns="bore", values=…): one statistic as a
// str (flat bore columns), several as a list (columns by statistic and bore).
PyResult<Ref> pivot(PyObject* frame, std::span<const std::string> stats) {
    PyResult<Ref> values = stats.size() == 1 ? to_py(stats.front())
                                             : to_py(std::vector<std::string>(stats.begin(), stats.end()));
    DictBuilder kwargs;
    kwargs.add("index", "zone").add("columns", "bore").add("values", std::move(values));
    return call_method(frame, "pivot", py_tuple(), std::move(kwargs).build());
}

PyErr pandas_missing() {
    return PyErr::new_err(PyExc_ImportError, "zone_table requires pandas \xe2\x80\x94 `pip install pandas`");
}

}  // namespace

PyResult<ZoneTableArgs> zone_table_args(const Args& a) {
    ZoneTableArgs out;
    VZ_ASSIGN_OR_RETURN(out.curve, a.get<std::string>("curve"));
    VZ_ASSIGN_OR_RETURN(auto stats, a.opt<std::vector<std::string>>("stats"));
    VZ_ASSIGN_OR_RETURN(out.zones, a.opt<std::vector<std::string>>("zones"));
    VZ_ASSIGN_OR_RETURN(out.include_empty, a.get_or<bool>("include_empty", false));
    VZ_ASSIGN_OR_RETURN(out.pivot, a.get_or<bool>("pivot", false));
    VZ_ASSIGN_OR_RETURN(out.aggregate, a.get_or<bool>("aggregate", false));
    VZ_ASSIGN_OR_RETURN(out.weighted, a.get_or<bool>("weighted", true));
    VZ_ASSIGN_OR_RETURN(out.decimals, a.opt<std::int64_t>("decimals"));
    VZ_ASSIGN_OR_RETURN(auto cut, a.opt<vz::Cutoffs>("cut"));
    VZ_ASSIGN_OR_RETURN(std::string phi, a.get_or<std::string>("phi", "PHIE"));
    VZ_ASSIGN_OR_RETURN(std::string sw, a.get_or<std::string>("sw", "SW"));
    VZ_ASSIGN_OR_RETURN(auto vsh, a.opt<std::string>("vsh"));
    out.stats = stats ? std::move(*stats) : std::vector<std::string>{"mean"};
    if (cut) out.net = vz::NetConditioning{std::move(phi), std::move(sw), *cut, std::move(vsh)};
    return out;
}

PyResult<Ref> build_dataframe(std::span<const vz::well_tables::BoreRow> bores, const ZoneTableArgs& args,
                              std::span<const std::string> strat_column) {
    VZ_ASSIGN_OR_RETURN(const std::vector<std::string> stats, checked_stats(args.stats));
    if (args.pivot && args.aggregate)
        return raise(PyErr::value_error("zone_table: use either pivot=True or aggregate=True, not both"));

    vz::ZoneTable table = compute_cells(bores, args, stats, strat_column);

    auto imported = import_module("pandas");
    if (!imported) return raise(pandas_missing());
    const Ref pandas = std::move(*imported);

    Ref frame;
    if (!table.is_aggregate()) {
        DictBuilder kwargs;
        kwargs.add("categories", *table.zone_order).add("ordered", true);
        VZ_ASSIGN_OR_RETURN(Ref zone,
                            call_method(pandas.get(), "Categorical", py_tuple(table.zone), std::move(kwargs).build()));
        VZ_ASSIGN_OR_RETURN(frame, call_method(pandas.get(), "DataFrame",
                                               py_tuple(columns(std::move(zone), table, stats))));
        if (args.pivot) {
            VZ_ASSIGN_OR_RETURN(frame, pivot(frame.get(), stats));
        }
    } else {
        VZ_ASSIGN_OR_RETURN(frame, call_method(pandas.get(), "DataFrame",
                                               py_tuple(columns(to_py(table.zone), table, stats))));
        VZ_ASSIGN_OR_RETURN(frame, call_method(frame.get(), "set_index",
                                               py_tuple(std::vector<std::string>{"zone", "bore"})));
    }
    if (args.decimals) {
        VZ_ASSIGN_OR_RETURN(frame, call_method(frame.get(), "round", py_tuple(*args.decimals)));
    }
    return frame;
}

namespace {

constexpr const char* kWellZoneTableDoc =
    "zone_table($self, curve, stats=None, zones=None, include_empty=False, pivot=False, aggregate=False, "
    "weighted=True, decimals=None, cut=None, phi=\"PHIE\", sw=\"SW\", vsh=None)\n--\n\n"
    "A tidy per-`zone \xc3\x97 bore` table of `curve` across this well's bores, as a\n"
    "`pandas.DataFrame` (columns `zone`, `bore`, then each requested stat).\n"
    "`stats` are `Stats` attribute names (default `[\"mean\"]`; any of\n"
    "mean/sum/count/min/max/std/p10/p50/p90). `zone` is an ordered Categorical\n"
    "in lithostratigraphic order, so it survives `pivot`/`groupby`. Empty\n"
    "(zero-thickness / no-sample) cells are dropped unless `include_empty`.\n"
    "`pivot=True` returns wide instead: `zone` index \xc3\x97 `bore` columns (one stat\n"
    "\xe2\x86\x92 flat; several \xe2\x86\x92 MultiIndex `(stat, bore)`). `aggregate=True` groups by\n"
    "zone with a pooled \"all\" row first (sample-weighted across bores), indexed\n"
    "by `(zone, bore)`; mutually exclusive with `pivot`. `decimals` rounds the\n"
    "stat values. `zones` keeps only those zone names (case-insensitive).\n"
    "`weighted` (default True) thickness-weights the averages by each sample's\n"
    "MD span (so mixed sampling rates don't bias); `stats` may also be\n"
    "`samples`/`gross`. Pass `cut=NetSettings(...)` to **net-condition** every\n"
    "cell first (only samples passing the \xcf\x86/Sw[/Vsh] cutoffs are pooled), with\n"
    "the conditioning curves named by `phi`/`sw`/`vsh` (defaults `PHIE`/`SW`/\n"
    "none \xe2\x80\x94 inert without `cut`). Requires pandas.";

// Every bore of the well in bore order, the main bore labelled "", with
// shared access to the project held until the frame is built.
PyResult<Ref> well_zone_table(PyObject* self, const Args& a) {
    VZ_ASSIGN_OR_RETURN(auto h, well_handle(self));
    VZ_ASSIGN_OR_RETURN(ZoneTableArgs args, zone_table_args(a));
    VZ_ASSIGN_OR_RETURN(auto geo, project_shared(h->project.get()));
    const vz::Well* well = geo->project.find_well(h->id);
    if (!well) return raise(no_well(h->id));
    std::vector<vz::well_tables::BoreRow> rows;
    rows.reserve(well->bores.size());
    for (const auto& [label, bore] : well->bores) rows.push_back({label, &bore});
    return build_dataframe(rows, args, geo->project.strat_order);
}

}  // namespace

void add_well_zone_table(ClassDef& def) { def.method<&well_zone_table>(kWellZoneTableDoc); }

}  // namespace vz::py
