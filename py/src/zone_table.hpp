#pragma once
/// Zone tables as pandas data frames: the twelve arguments `Well.zone_table`
/// and `WellsView.zone_table` share, and the one frame builder both hand their
/// labelled bores to.
///
/// pandas is imported at every call and only these operations of it are
/// used: `Categorical(zones, categories=…, ordered=True)`,
/// `DataFrame(columns)`, and the frame methods `pivot(index=…, columns=…,
/// values=…)`, `set_index([…])` and `round(decimals)`.

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "analysis/well_tables.hpp"
#include "frame/frame.hpp"

namespace vz::py {

/// The converted arguments after `curve`'s place in the signature
/// "(curve, stats=None, zones=None, include_empty=False, pivot=False,
/// aggregate=False, weighted=True, decimals=None, cut=None, phi="PHIE",
/// sw="SW", vsh=None)".
struct ZoneTableArgs {
    std::string curve;
    /// `stats`, or ["mean"] when it is None; the names are checked by the
    /// builder.
    std::vector<std::string> stats;
    std::optional<std::vector<std::string>> zones;
    bool include_empty = false;
    bool pivot = false;
    bool aggregate = false;
    bool weighted = true;
    std::optional<std::int64_t> decimals;
    /// Present when `cut` was given, with the conditioning curve names.
    std::optional<vz::NetConditioning> net;
};

/// Converts the arguments in signature order; the first failure raises
/// (TypeError naming the argument, OverflowError for `decimals` beyond 64
/// bits).
PyResult<ZoneTableArgs> zone_table_args(const Args& a);

/// The data frame of the labelled bores (every bore of one well, or of every
/// well of a view) under `args`. `strat_column` is the project's
/// stratigraphic column, which orders the "zone" categories (zones it does not
/// name follow in the order first met). The caller holds shared access to the
/// project that owns the bores until this returns; the cells are computed
/// with the interpreter lock released.
///
/// Failures, in order: ValueError "zone_table: unknown stat '{}' (expected
/// one of: …)", ValueError "zone_table: use either pivot=True or
/// aggregate=True, not both", ImportError "zone_table requires pandas —
/// `pip install pandas`", and whatever a pandas call raises.
PyResult<Ref> build_dataframe(std::span<const vz::well_tables::BoreRow> bores, const ZoneTableArgs& args,
                              std::span<const std::string> strat_column);

/// Adds `zone_table` to the `Well` class.
void add_well_zone_table(ClassDef& def);

}  // namespace vz::py
