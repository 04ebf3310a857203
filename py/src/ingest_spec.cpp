#include "ingest_spec.hpp"

#include <algorithm>

#include <fmt/format.h>

#include "foundation/format.hpp"
#include "frame/builders.hpp"
#include "frame/convert_more.hpp"
#include "frame/frame.hpp"

namespace vz::py {

namespace {

constexpr const char* kDoc =
    "IngestSpec(aliases=None, strat_hints=None, unit=None)\n--\n\n"
    "Declarative load-time canonicalization: `IngestSpec(aliases={raw: canonical},\n"
    "strat_hints=[(\"A\",\"B\"), ...], unit=\"m\")`. Applied at `load_well(ingest=)` /\n"
    "`load_well_tops(ingest=)` \xe2\x80\x94 it replaces the order-dependent sticky\n"
    "`aliases=`/`strat_hint(...)` mutation with a value you pass explicitly per\n"
    "load. `aliases` canonicalizes curve mnemonics; `strat_hints` seed the\n"
    "stratigraphic column order (each `(\"above\",\"below\")` or `\"A < B\"` shorthand,\n"
    "resolved at apply); `unit` (optional) declares the project length unit the\n"
    "load expects (a loud guard, checked at apply against the project unit).";

constexpr const char* kAliasesDoc = "The `{alias: canonical}` map (aliases are stored lowercased).";
constexpr const char* kStratHintsDoc = "The strat-order hints as `[(above, below), ...]`.";
constexpr const char* kUnitDoc = "The declared length unit label (`\"m\"`/`\"ft\"`), or `None`.";

constexpr const char* kReplaceDoc =
    "replace($self, aliases=None, strat_hints=None, unit=None)\n--\n\n"
    "A derived spec with the named fields overridden. Any omitted field keeps\n"
    "this spec's value; a supplied field fully replaces it.";

constexpr const char* kToDictDoc =
    "to_dict($self)\n--\n\n"
    "A plain, JSON-able dict `{spec, aliases, strat_hints, unit}` \xe2\x80\x94 round-trips\n"
    "via `from_dict`. The `\"spec\"` type tag names the spec (R7 round-trip rule).";

constexpr const char* kFromDictDoc =
    "from_dict(d)\n--\n\n"
    "Rebuild from a `{aliases, strat_hints, unit}` dict (as `to_dict` emits).";

constexpr const char* kNotAHint =
    "IngestSpec.strat_hints: each hint must be a (above, below) tuple/list or an 'A < B' / 'A > B' string";
constexpr const char* kNotAPair = "IngestSpec.strat_hints: a list hint must have exactly 2 elements (above, below)";

const IngestSpec& spec(PyObject* self) { return payload<IngestSpec>(self); }

// A str item as UTF-8 text (the caller checked that it is a str).
PyResult<std::string> text_of(PyObject* item) { return from_py<std::string>(item); }

// The texts of a sequence hint when every item is a str; nullopt when an
// item is not.
PyResult<std::optional<std::vector<std::string>>> all_texts(PyObject* seq) {
    std::vector<std::string> out;
    VZ_ASSIGN_OR_RETURN(Ref it, checked(PyObject_GetIter(seq)));
    while (PyObject* raw = PyIter_Next(it.get())) {
        Ref item = Ref::steal(raw);
        if (!PyUnicode_Check(item.get())) return std::optional<std::vector<std::string>>();
        VZ_ASSIGN_OR_RETURN(std::string t, text_of(item.get()));
        out.push_back(std::move(t));
    }
    if (PyErr_Occurred()) return raise_pending();
    return std::optional<std::vector<std::string>>(std::move(out));
}

// One item of a hints argument, by the first rule that applies.
PyResult<void> parse_hint(PyObject* item, std::vector<vz::StratHint>& out) {
    if (PyTuple_Check(item) && PyTuple_Size(item) == 2 && PyUnicode_Check(PyTuple_GetItem(item, 0)) &&
        PyUnicode_Check(PyTuple_GetItem(item, 1))) {
        VZ_ASSIGN_OR_RETURN(std::string above, text_of(PyTuple_GetItem(item, 0)));
        VZ_ASSIGN_OR_RETURN(std::string below, text_of(PyTuple_GetItem(item, 1)));
        out.push_back({std::move(above), std::move(below)});
        return {};
    }
    if (PyUnicode_Check(item)) {
        VZ_ASSIGN_OR_RETURN(std::string text, text_of(item));
        return from_core(vz::StratHint::parse(text, out));
    }
    // Any other sequence (not a mapping: dicts are not sequences) whose
    // items are all str.
    if (PySequence_Check(item)) {
        VZ_ASSIGN_OR_RETURN(auto texts, all_texts(item));
        if (texts) {
            if (texts->size() != 2) return raise(PyErr::value_error(kNotAPair));
            out.push_back({std::move((*texts)[0]), std::move((*texts)[1])});
            return {};
        }
    }
    return raise(PyErr::value_error(kNotAHint));
}

// The four fields from optional arguments already converted (None and
// omitted both absent): aliases normalised, hints parsed, unit parsed.
PyResult<IngestSpec> build(const std::optional<StrDict>& aliases, PyObject* hints,
                           const std::optional<std::string>& unit) {
    IngestSpec out;
    if (aliases) out.aliases = IngestSpec::normalize_aliases(aliases->entries);
    if (hints) {
        VZ_ASSIGN_OR_RETURN(out.strat_hints, IngestSpec::parse_strat_hints(hints));
    }
    if (unit) {
        VZ_ASSIGN_OR_RETURN(vz::LengthUnit parsed, parse_length_unit(*unit));
        out.unit_text = unit;
        out.unit = parsed;
    }
    return out;
}

// A hints argument: null when omitted or None.
PyObject* hints_arg(const Args& a) { return a.given_not_none("strat_hints") ? a.raw("strat_hints") : nullptr; }

PyResult<IngestSpec> construct(const Args& a) {
    VZ_ASSIGN_OR_RETURN(std::optional<StrDict> aliases, a.opt<StrDict>("aliases"));
    VZ_ASSIGN_OR_RETURN(std::optional<std::string> unit, a.opt<std::string>("unit"));
    return build(aliases, hints_arg(a), unit);
}

PyResult<Ref> new_ingest_spec(IngestSpec value) {
    VZ_ASSIGN_OR_RETURN(PyTypeObject * type, ingest_spec_type());
    return create_instance(type, std::move(value));
}

// A supplied field replaces this object's field whole (through the same
// checks as the constructor); an omitted or None one keeps it.
PyResult<Ref> replace(PyObject* self, const Args& a) {
    VZ_ASSIGN_OR_RETURN(std::optional<StrDict> aliases, a.opt<StrDict>("aliases"));
    VZ_ASSIGN_OR_RETURN(std::optional<std::string> unit, a.opt<std::string>("unit"));
    PyObject* hints = hints_arg(a);
    VZ_ASSIGN_OR_RETURN(IngestSpec given, build(aliases, hints, unit));
    IngestSpec out = spec(self);
    if (aliases) out.aliases = std::move(given.aliases);
    if (hints) out.strat_hints = std::move(given.strat_hints);
    if (unit) {
        out.unit_text = std::move(given.unit_text);
        out.unit = given.unit;
    }
    return new_ingest_spec(std::move(out));
}

// The alias entries sorted by key in ascending byte order (std::string
// compares its bytes as unsigned values).
std::vector<std::pair<std::string, std::string>> sorted_aliases(const IngestSpec& s) {
    std::vector<std::pair<std::string, std::string>> out(s.aliases.begin(), s.aliases.end());
    std::sort(out.begin(), out.end(), [](const auto& x, const auto& y) { return x.first < y.first; });
    return out;
}

PyResult<Ref> aliases_dict(const IngestSpec& s) {
    DictBuilder d;
    for (const auto& [key, value] : sorted_aliases(s)) d.add(key, value);
    return std::move(d).build();
}

PyResult<Ref> hints_list(const IngestSpec& s) {
    return list_map(s.strat_hints, [](const vz::StratHint& h) { return py_tuple(h.above, h.below); });
}

PyResult<Ref> aliases_getter(PyObject* self) { return aliases_dict(spec(self)); }
PyResult<Ref> strat_hints_getter(PyObject* self) { return hints_list(spec(self)); }
PyResult<Ref> unit_getter(PyObject* self) { return to_py(spec(self).unit_text); }

PyResult<Ref> to_dict(PyObject* self, const Args&) {
    const IngestSpec& s = spec(self);
    DictBuilder d;
    d.add("spec", "IngestSpec").add("aliases", aliases_dict(s)).add("strat_hints", hints_list(s));
    d.add("unit", s.unit_text);
    return std::move(d).build();
}

// A key of the dict's own table; missing and None both read as absent.
PyResult<Ref> dict_value(const Dict& d, const char* key) {
    VZ_ASSIGN_OR_RETURN(Ref v, dict_lookup(d, key));
    if (v.get() == Py_None) return Ref();
    return v;
}

// The values are converted without a parameter note: they are entries of
// `d`, not arguments.
PyResult<Ref> from_dict(const Args& a) {
    VZ_ASSIGN_OR_RETURN(Dict d, a.get<Dict>("d"));
    VZ_ASSIGN_OR_RETURN(Ref aliases_obj, dict_value(d, "aliases"));
    VZ_ASSIGN_OR_RETURN(Ref hints_obj, dict_value(d, "strat_hints"));
    VZ_ASSIGN_OR_RETURN(Ref unit_obj, dict_value(d, "unit"));
    std::optional<StrDict> aliases;
    if (aliases_obj) {
        VZ_ASSIGN_OR_RETURN(aliases, from_py<StrDict>(aliases_obj.get()));
    }
    std::optional<std::string> unit;
    if (unit_obj) {
        VZ_ASSIGN_OR_RETURN(unit, from_py<std::string>(unit_obj.get()));
    }
    VZ_ASSIGN_OR_RETURN(IngestSpec value, build(aliases, hints_obj.get(), unit));
    return new_ingest_spec(std::move(value));
}

// Equal when every field is equal (the alias maps regardless of order);
// other types and the ordering operators are left to the interpreter.
PyResult<Ref> compare(PyObject* self, PyObject* other, int op) {
    if ((op != Py_EQ && op != Py_NE) || !is_instance(other, Py_TYPE(self))) return Ref::borrow(Py_NotImplemented);
    const bool equal = spec(self) == spec(other);
    return to_py(equal == (op == Py_EQ));
}

PyResult<std::string> repr(PyObject* self) {
    const IngestSpec& s = spec(self);
    std::string aliases = "(no aliases)";
    if (!s.aliases.empty()) {
        std::vector<std::string> parts;
        for (const auto& [key, value] : sorted_aliases(s)) parts.push_back(fmt::format("{} -> {}", key, value));
        aliases = fmt::format("{}", fmt::join(parts, ", "));
    }
    std::string hints = "(no hints)";
    if (!s.strat_hints.empty()) {
        std::vector<std::string> parts;
        for (const vz::StratHint& h : s.strat_hints) parts.push_back(fmt::format("{} < {}", h.above, h.below));
        hints = fmt::format("{}", fmt::join(parts, ", "));
    }
    return fmt::format("IngestSpec\n  aliases:  {}\n  hints:    {}\n  unit:     {}", aliases, hints,
                       s.unit_text ? *s.unit_text : std::string("(project)"));
}

}  // namespace

vz::AliasMap IngestSpec::normalize_aliases(std::span<const std::pair<std::string, std::string>> entries) {
    vz::AliasMap out;
    for (const auto& [key, value] : entries) out.insert_or_assign(ascii_lower(trim_unicode(key)), value);
    return out;
}

PyResult<std::vector<vz::StratHint>> IngestSpec::parse_strat_hints(PyObject* hints) {
    std::vector<vz::StratHint> out;
    VZ_ASSIGN_OR_RETURN(Ref it, checked(PyObject_GetIter(hints)));
    while (PyObject* raw = PyIter_Next(it.get())) {
        Ref item = Ref::steal(raw);
        VZ_TRY(parse_hint(item.get(), out));
    }
    if (PyErr_Occurred()) return raise_pending();
    return out;
}

PyResult<IngestSpec> IngestSpec::extract(PyObject* obj) {
    VZ_ASSIGN_OR_RETURN(PyTypeObject * type, ingest_spec_type());
    if (!is_instance(obj, type)) return raise(not_instance(obj, "IngestSpec"));
    return spec(obj);
}

PyResult<PyTypeObject*> ingest_spec_type() {
    static TypeCell cell;
    return cell.get([] {
        return ClassDef::of<IngestSpec>("IngestSpec", kDoc)
            .constructor<&construct>()
            .getter<&aliases_getter>("aliases", kAliasesDoc)
            .getter<&strat_hints_getter>("strat_hints", kStratHintsDoc)
            .getter<&unit_getter>("unit", kUnitDoc)
            .method<&replace>(kReplaceDoc)
            .method<&to_dict>(kToDictDoc)
            .static_method<&from_dict>(kFromDictDoc)
            .richcompare<&compare>()
            .repr<&repr>();
    });
}

}  // namespace vz::py
