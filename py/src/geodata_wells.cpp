// Bringing wells and formation tops into a project, and the project's
// stratigraphic hints.
//
// Curve aliases come from one of three places for a well load: an
// `IngestSpec` (this load only; the project's own aliases are set aside and
// put back), the deprecated `aliases=` argument (stored on the project, where
// they stay for every later load without `ingest`, even when this load
// fails), or the project's stored aliases as they stand. Deprecation warnings
// are issued while the project is held exclusively, so a warnings hook that
// reads the same project fails instead of seeing a half-made change; a
// warning turned into an error ends the call before anything changes.
//
// What a load has to tell about its files (a LAS file of a directory that
// was skipped, a directory holding nothing of the well, a tops file without
// picks) comes back from the core as texts and is issued as UserWarnings
// after the load, once the project is free again, so a warnings hook may
// look at it. The load stands by then: a filter that turns such a warning
// into an error makes the call raise, with the well or the tops stored.
//
// None of these methods releases the interpreter lock.

#include "geodata_wells.hpp"

#include <array>
#include <filesystem>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "frame/builders.hpp"
#include "frame/convert_more.hpp"
#include "geodata.hpp"
#include "ingest_spec.hpp"
#include "well.hpp"

namespace vz::py {

namespace {

namespace fs = std::filesystem;

constexpr const char* kAliasesDeprecated =
    "load_well(aliases=...) is deprecated and mutates sticky project state; pass "
    "ingest=IngestSpec(aliases=...) instead (removal in a future minor).";
constexpr const char* kStratHintDeprecated =
    "GeoData.strat_hint(...) is deprecated and mutates sticky project state; pass "
    "load_well_tops(ingest=IngestSpec(strat_hints=[...])) instead (removal in a future minor).";

/// The `aliases` argument of `load_well`, normalised (keys trimmed and
/// ASCII-lower-cased); none when not given.
PyResult<std::optional<vz::AliasMap>> alias_argument(const Args& a) {
    if (!a.given_not_none("aliases")) return std::optional<vz::AliasMap>();
    VZ_ASSIGN_OR_RETURN(StrDict given, a.get<StrDict>("aliases"));
    return std::optional<vz::AliasMap>(IngestSpec::normalize_aliases(given.entries));
}

PyResult<Ref> load_well(PyObject* self, const Args& a) {
    VZ_ASSIGN_OR_RETURN(std::string id, a.get<std::string>("id"));
    VZ_ASSIGN_OR_RETURN(auto head, a.opt<FloatTuple<2>>("head"));
    VZ_ASSIGN_OR_RETURN(auto kb, a.opt<double>("kb"));
    VZ_ASSIGN_OR_RETURN(auto files, a.opt<std::string>("files"));
    VZ_ASSIGN_OR_RETURN(auto ingest, a.opt<IngestSpec>("ingest"));
    VZ_ASSIGN_OR_RETURN(std::optional<vz::AliasMap> aliases, alias_argument(a));
    if (!files) return raise(PyErr::value_error("load_well: `files` (a well directory or file) is required"));
    if (ingest && aliases)
        return raise(PyErr::value_error(
            "load_well: pass EITHER ingest=IngestSpec(...) OR the deprecated aliases= kwarg, not both"));
    const std::array<double, 2> xy = head ? head->v : std::array<double, 2>{0.0, 0.0};
    const double datum = kb.value_or(0.0);
    const fs::path path(*files);
    std::vector<std::string> notes;
    {
        VZ_ASSIGN_OR_RETURN(auto geo, project_exclusive(self));
        vz::GeoData& project = geo->project;
        Result<const vz::Well*> loaded;
        if (aliases) {
            VZ_TRY(warn_deprecated(kAliasesDeprecated));
            project.set_curve_aliases(std::move(aliases));
            loaded = project.load_well(id, xy, datum, path, &notes);
        } else if (ingest) {
            if (ingest->unit && *ingest->unit != project.unit)
                return raise(PyErr::value_error(
                    fmt::format("load_well: IngestSpec unit '{}' disagrees with the project unit '{}' (well '{}')",
                                length_unit_symbol(*ingest->unit), length_unit_symbol(project.unit), id)));
            std::optional<vz::AliasMap> map;
            if (!ingest->aliases.empty()) map = std::move(ingest->aliases);
            loaded = project.load_well_with_aliases(id, xy, datum, path, std::move(map), &notes);
        } else {
            loaded = project.load_well(id, xy, datum, path, &notes);
        }
        VZ_TRY(from_core(std::move(loaded)));
    }
    for (const auto& note : notes) VZ_TRY(warn_user(note));
    return new_well(std::move(id), Ref::borrow(self));
}

PyResult<std::uint64_t> load_well_tops(PyObject* self, const Args& a) {
    std::vector<std::string> notes;
    std::uint64_t count = 0;
    {
        VZ_ASSIGN_OR_RETURN(auto geo, project_exclusive(self));
        VZ_ASSIGN_OR_RETURN(std::string path, a.get<std::string>("path"));
        VZ_ASSIGN_OR_RETURN(auto ingest, a.opt<IngestSpec>("ingest"));
        // The spec's hints join the project for good: they are kept (and
        // saved) even when the load below fails.
        if (ingest) geo->project.extend_strat_hints(ingest->strat_hints);
        VZ_ASSIGN_OR_RETURN(count, from_core(geo->project.load_well_tops(fs::path(path), &notes)));
    }
    for (const auto& note : notes) VZ_TRY(warn_user(note));
    return count;
}

PyResult<void> strat_hint(PyObject* self, const Args& a) {
    VZ_ASSIGN_OR_RETURN(auto geo, project_exclusive(self));
    VZ_ASSIGN_OR_RETURN(auto spec, a.opt<std::string>("spec"));
    VZ_ASSIGN_OR_RETURN(auto above, a.opt<std::string>("above"));
    VZ_ASSIGN_OR_RETURN(auto below, a.opt<std::string>("below"));
    VZ_TRY(warn_deprecated(kStratHintDeprecated));
    if (spec && !above && !below) return from_core(geo->project.strat_hint(*spec));
    if (!spec && above && below) {
        geo->project.push_strat_hint(std::move(*above), std::move(*below));
        return {};
    }
    if (!spec && !above && !below)
        return raise(PyErr::value_error("strat_hint: pass a shorthand string (e.g. \"A < B\") or above=/below="));
    return raise(PyErr::value_error("strat_hint: use EITHER a shorthand string OR above=/below=, not both"));
}

PyResult<Ref> well_top_set(PyObject* self, const Args& a) {
    std::vector<vz::WellTopRow> rows;
    {
        VZ_ASSIGN_OR_RETURN(auto geo, project_shared(self));
        VZ_ASSIGN_OR_RETURN(std::string name, a.get<std::string>("name"));
        rows = geo->project.well_top_set(name);
    }
    std::vector<PyResult<Ref>> items;
    items.reserve(rows.size());
    for (const auto& row : rows) {
        PyResult<Ref> xyz = row.position ? tuple_from(*row.position) : PyResult<Ref>(Ref::none());
        items.push_back(py_tuple(row.well, row.bore, row.md, std::move(xyz)));
    }
    return list_of(std::move(items));
}

PyResult<std::vector<std::string>> well_top_names(PyObject* self, const Args&) {
    VZ_ASSIGN_OR_RETURN(auto geo, project_shared(self));
    return geo->project.well_top_names();
}

PyResult<std::uint64_t> delete_well_top(PyObject* self, const Args& a) {
    VZ_ASSIGN_OR_RETURN(auto geo, project_exclusive(self));
    VZ_ASSIGN_OR_RETURN(std::string name, a.get<std::string>("name"));
    return geo->project.delete_well_top(name);
}

}  // namespace

void add_geodata_wells(ClassDef& def) {
    def.method<&load_well>(
           "load_well($self, id, head=None, kb=None, files=None, ingest=None, aliases=None)\n--\n\n"
           "Load a well from `files` (a per-well directory or single file) under\n"
           "`id`, returning a view. `head` (wellhead `(x, y)`) and `kb` (datum) are\n"
           "**optional** \xe2\x80\x94 when a `.wellpath` is present its header is authoritative\n"
           "and overrides them, so for a positioned well you can omit both:\n"
           "`geo.load_well(\"15/9-A1\", files=\"wells/\")`. Without a `.wellpath` they\n"
           "default to `(0, 0)` / `0`.\n"
           "\n"
           "`ingest` (optional) is a declarative [`IngestSpec`] applied to **this\n"
           "load only** \xe2\x80\x94 curve `aliases` (canonicalize mnemonics: the map first, then\n"
           "the built-in table + vintage `_YYYY` strip) plus a declared `unit` guard\n"
           "(loud error if it disagrees with the project unit). It supersedes the\n"
           "sticky `aliases=` kwarg and the fluent `strat_hint(...)` mutation.\n"
           "\n"
           "`aliases` (**deprecated**, use `ingest=IngestSpec(aliases=...)`) sets a\n"
           "`{raw: canonical}` map as sticky project state affecting this and every\n"
           "subsequent `load_well`. Passing both `ingest` and `aliases` is a loud\n"
           "error.")
        .method<&load_well_tops>(
            "load_well_tops($self, path, ingest=None)\n--\n\n"
            "Load a multi-well Petrel well-tops file; route each `Horizon` pick to the\n"
            "matching loaded well + bore. Returns the number of tops assigned. Also\n"
            "derives the project's global lithostratigraphic column (see\n"
            "`strat_order`) across every well in the file and pushes it into each\n"
            "loaded well, so `zones()`/`zone_stats()` present in that order.\n"
            "\n"
            "`ingest` (optional) is a declarative [`IngestSpec`]; its `strat_hints`\n"
            "(each `(\"above\",\"below\")` or `\"A < B\"`) are applied as soft ordering hints\n"
            "for this load \xe2\x80\x94 the declarative replacement for the fluent\n"
            "`strat_hint(...)` mutation. Names resolve at apply (a bad token errors\n"
            "loudly naming it).")
        .method<&strat_hint>(
            "strat_hint($self, spec=None, *, above=None, below=None)\n--\n\n"
            "Add a soft lithostratigraphic ordering hint, honoured by the *next*\n"
            "`load_well_tops` only where the data leaves the pair unordered (real MD\n"
            "positions always win). Two forms:\n"
            "\n"
            "- shorthand: `geo.strat_hint(\"Base Shale < Upper Sand\")` \xe2\x80\x94 `A < B` is \"A\n"
            "  above B\", `A > B` is \"A below B\"; sides may be partial names.\n"
            "- explicit: `geo.strat_hint(above=\"Base Shale top\", below=\"Upper Sand top\")`.\n"
            "\n"
            "**Deprecated** \xe2\x80\x94 this mutates sticky project state; pass the hints\n"
            "declaratively via `load_well_tops(ingest=IngestSpec(strat_hints=[...]))`\n"
            "instead (removal in a future minor).")
        .method<&well_top_set>(
            "well_top_set($self, name)\n--\n\n"
            "Persisted picks for one horizon as `(well, bore, md, xyz-or-None)` rows.")
        .method<&well_top_names>(
            "well_top_names($self)\n--\n\nDistinct persisted formation-top names across every well/bore.")
        .method<&delete_well_top>(
            "delete_well_top($self, name)\n--\n\nDelete a persisted formation horizon globally; returns picks removed.");
}

}  // namespace vz::py
