#pragma once
/// Zone tables: one log curve summarised per formation zone and per bore,
/// optionally net-conditioned, in a tidy form or an aggregate form that opens
/// every zone with a row pooling all its bores.

#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "analysis/interpret.hpp"
#include "core/well.hpp"
#include "foundation/statistics.hpp"

namespace vz {

/// Net conditioning of a zone table: the conditioning curves and cutoffs.
struct NetConditioning {
    std::string phi;
    std::string sw;
    Cutoffs cutoffs;
    std::optional<std::string> vsh;
};

/// The core result of a zone table. Row r is zone[r], bore[r] and
/// stats[s][r] for every statistic s (in the requested name order); NaN marks
/// an undefined value. `zone_order` is present in the tidy form (the zones
/// with rows, in first-met order) and absent in the aggregate form.
struct ZoneTable {
    std::vector<std::string> zone;
    std::vector<std::string> bore;
    std::vector<std::vector<double>> stats;
    std::optional<std::vector<std::string>> zone_order;

    bool is_aggregate() const { return !zone_order.has_value(); }
};

namespace well_tables {

/// One bore of a zone table: the label written into its rows and the bore.
struct BoreRow {
    std::string label;
    const Sidetrack* bore = nullptr;
};

/// Per zone × bore statistics of `curve`. `stat_names` are among "mean",
/// "sum", "count", "min", "max", "std", "p10", "p50", "p90", "samples" and
/// "gross" (the caller rejects others). A zone filter keeps the zones whose
/// ASCII-lowered name is in the lowered filter. Samples are weighted by the
/// md span they represent when `weighted`. Bores without trajectories give
/// no rows; empty cells are dropped unless `include_empty`. `aggregate`
/// gives the aggregate form. Never fails.
ZoneTable zone_table(std::span<const BoreRow> bores, std::string_view curve, std::span<const std::string> stat_names,
                     const std::optional<std::vector<std::string>>& zone_filter, bool include_empty, bool aggregate,
                     bool weighted, const std::optional<NetConditioning>& net);

/// The zone order re-ranked by a stratigraphic column (shallow to deep):
/// zones the column names (ASCII case-insensitively) come first, in column
/// order; the others follow in their given order. Never fails.
std::vector<std::string> order_by_column(std::span<const std::string> zones, std::span<const std::string> column);

/// A table ordered by a stratigraphic column: the tidy form's zone order
/// (its rows stay bore by bore), or the aggregate form's per-zone row blocks
/// (each still opened by its pooled row), by `order_by_column`. Never fails.
void order_table_by_column(ZoneTable& table, std::span<const std::string> column);

/// One field of `stats` by name ("count" and "samples" both give the count);
/// NaN for any other name, "gross" included.
double stat_by_name(const Stats& stats, std::string_view name);

/// Thickness weights of n >= 2 samples at the given mds: the half-span to
/// each neighbour, the full span to the only neighbour at either end.
std::vector<double> thickness_weights(std::span<const double> md);

}  // namespace well_tables
}  // namespace vz
