#include "core/strat.hpp"

#include <fmt/format.h>

#include <string>
#include <utility>
#include <vector>

#include "foundation/format.hpp"

namespace vz {

namespace {

Error no_match(std::string_view name) {
    return Error::parse(fmt::format(
        "strat hint entry '{}': no loaded well top matches it (from the IngestSpec strat_hints / strat_hint hints)",
        name));
}

}  // namespace

Result<void> StratHint::parse(std::string_view text, std::vector<StratHint>& hints) {
    std::string_view above;
    std::string_view below;
    if (const auto lt = text.find('<'); lt != std::string_view::npos) {
        above = text.substr(0, lt);
        below = text.substr(lt + 1);
    } else if (const auto gt = text.find('>'); gt != std::string_view::npos) {
        below = text.substr(0, gt);
        above = text.substr(gt + 1);
    } else {
        return fail(Error::parse(fmt::format("strat hint '{}' must contain '<' (above) or '>' (below)", text)));
    }
    above = trim_unicode(above);
    below = trim_unicode(below);
    if (above.empty() || below.empty())
        return fail(Error::parse(fmt::format("strat hint '{}' has an empty side", text)));
    hints.push_back(StratHint{std::string(above), std::string(below)});
    return {};
}

Result<std::string> StratHint::resolve_name(std::string_view name, std::span<const std::string> candidates) {
    const std::string_view t = trim_unicode(name);
    // An empty search text would be contained in every candidate; it names
    // no top at all.
    if (t.empty()) return fail(no_match(name));
    for (const auto& c : candidates)
        if (iequals_ascii(c, t)) return c;
    const std::string with_top = std::string(t) + " top";
    for (const auto& c : candidates)
        if (iequals_ascii(c, with_top)) return c;
    const std::string needle = ascii_lower(t);
    std::vector<const std::string*> matches;
    for (const auto& c : candidates)
        if (ascii_lower(c).find(needle) != std::string::npos) matches.push_back(&c);
    if (matches.size() == 1) return *matches.front();
    if (matches.empty()) return fail(no_match(name));
    std::string joined;
    for (std::size_t k = 0; k < matches.size(); ++k) {
        if (k > 0) joined += ", ";
        joined += *matches[k];
    }
    return fail(Error::parse(fmt::format(
        "strat hint entry '{}' is ambiguous — matches {} (disambiguate the IngestSpec strat_hints / strat_hint entry)",
        name, joined)));
}

std::unordered_map<std::string, std::size_t> strat_rank_map(std::span<const std::string> order) {
    std::unordered_map<std::string, std::size_t> ranks;
    ranks.reserve(order.size());
    for (std::size_t k = 0; k < order.size(); ++k) ranks[order[k]] = k;
    return ranks;
}

}  // namespace vz
