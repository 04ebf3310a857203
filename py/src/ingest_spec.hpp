#pragma once
/// The `IngestSpec` class: how one well load is to be interpreted — curve
/// aliases, stratigraphic ordering hints and the length unit the load
/// expects. The loaders take a copy of the whole value through
/// `IngestSpec::extract`.

#include <optional>
#include <span>
#include <string>
#include <utility>
#include <vector>

#include "core/mnemonics.hpp"
#include "core/strat.hpp"
#include "core/units.hpp"
#include "frame/convert.hpp"
#include "frame/py_err.hpp"

namespace vz::py {

/// The value of an `IngestSpec` object (and its payload).
struct IngestSpec {
    /// Raw mnemonic → canonical mnemonic; keys trimmed of Unicode white
    /// space and ASCII-lower-cased, values as given.
    vz::AliasMap aliases;
    /// (above, below) pairs in the order given.
    std::vector<vz::StratHint> strat_hints;
    /// The unit argument exactly as given.
    std::optional<std::string> unit_text;
    /// `unit_text` parsed; absent when `unit_text` is.
    std::optional<vz::LengthUnit> unit;

    bool operator==(const IngestSpec&) const = default;

    /// A copy of the value of an `IngestSpec` object; any other object:
    /// TypeError "'{}' object is not an instance of 'IngestSpec'".
    static PyResult<IngestSpec> extract(PyObject* obj);

    /// The alias map of `entries` (in the given order): each key trimmed of
    /// Unicode white space at both ends and ASCII-lower-cased, each value
    /// unchanged. When several keys normalise to the same key, the last of
    /// them in the given order wins. Never fails.
    static vz::AliasMap normalize_aliases(std::span<const std::pair<std::string, std::string>> entries);

    /// The hints of a `strat_hints` argument (iterated with the interpreter's
    /// iteration protocol): a tuple of two str as given; a str parsed as
    /// "A < B" / "B > A"; another sequence of exactly two str as given.
    /// ValueError for anything else; the first failing item ends the parse.
    static PyResult<std::vector<vz::StratHint>> parse_strat_hints(PyObject* hints);
};

/// The class object (created on first need).
PyResult<PyTypeObject*> ingest_spec_type();

/// `a.get<IngestSpec>("ingest")`: an `ingest` argument through the argument
/// binding, with the note naming the parameter on failure.
template <>
struct FromPy<IngestSpec> {
    static PyResult<IngestSpec> convert(PyObject* obj) { return IngestSpec::extract(obj); }
};

}  // namespace vz::py
