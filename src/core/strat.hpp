#pragma once
/// Stratigraphic hints and the rank of a name in a stratigraphic column (a
/// list of top names, shallowest first). The inference of the column from
/// picks lives with the well algorithms.

#include <cstddef>
#include <span>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "foundation/result.hpp"

namespace vz {

/// A soft ordering hint: the top named `above` lies above (is shallower
/// than) the top named `below`.
struct StratHint {
    std::string above;
    std::string below;

    /// Parses "A < B" (A above B) or "B > A" (B below A) and appends the hint
    /// with both sides trimmed of Unicode white space. A text holding both
    /// characters splits at its first '<'. `Parse` "strat hint '{}' must
    /// contain '<' (above) or '>' (below)" or "strat hint '{}' has an empty
    /// side" (the text as given); `hints` is unchanged on failure.
    static Result<void> parse(std::string_view text, std::vector<StratHint>& hints);

    /// The one candidate a hint name designates, spelled as the candidate:
    /// an ASCII case-insensitive match of the trimmed name, else of the name
    /// followed by " top", else the only candidate containing the name
    /// (ASCII case-insensitively). `Parse` "strat hint entry '{}': no loaded
    /// well top matches it (...)" for no match or a name that is empty after
    /// trimming, "strat hint entry '{}' is ambiguous — matches {} (...)" for
    /// several.
    static Result<std::string> resolve_name(std::string_view name, std::span<const std::string> candidates);

    bool operator==(const StratHint&) const = default;
};

/// Position of every name of a column, 0 for the first (exact spelling; a
/// name listed twice keeps its later position). Never fails.
std::unordered_map<std::string, std::size_t> strat_rank_map(std::span<const std::string> order);

}  // namespace vz
