#pragma once
/// Stratigraphic hints and the stratigraphic column inferred from the
/// formation-top picks of many wells.
///
/// The column is a list of top names, shallowest first. Picks decide the
/// order wherever one well carries two tops at different measured depths;
/// hints ("A < B": A lies above B) settle pairs the picks leave unordered.

#include <cstddef>
#include <span>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "core/strat.hpp"
#include "core/well.hpp"
#include "foundation/result.hpp"

namespace vz {

namespace wells {

/// The stratigraphic column from the picks of every well (wells and picks in
/// the order first met) and resolved hints. Unrelated tops keep their
/// first-seen order; cycles are broken at their earliest-seen member. Time
/// and memory grow with the number of distinct names of a well, not with
/// its picks. Fails only when the pairs of names cannot be held in memory
/// (`OutOfRange` "the stratigraphic order of {} tops does not fit in
/// memory").
Result<std::vector<std::string>> infer_strat_order(std::span<const std::vector<DepthPick>> picks_per_well,
                                           std::span<const StratHint> hints);

}  // namespace wells

}  // namespace vz
