/// Formation tops of a bore: validation, adding, replacing, removing and the
/// order in which a bore keeps them.

#include <algorithm>
#include <cmath>
#include <string>
#include <unordered_map>

#include <fmt/format.h>

#include "core/strat.hpp"
#include "core/well.hpp"
#include "foundation/format.hpp"

namespace vz {

namespace {

/// Sort key of a name missing from the stratigraphic order: after every rank.
constexpr std::size_t kUnranked = static_cast<std::size_t>(-1);

/// Indices of the tops whose name matches `name` ASCII case-insensitively.
std::vector<std::size_t> matching_tops(const std::vector<DepthPick>& tops, std::string_view name) {
    std::vector<std::size_t> out;
    for (std::size_t i = 0; i < tops.size(); ++i)
        if (iequals_ascii(tops[i].name, name)) out.push_back(i);
    return out;
}

}  // namespace

Result<std::string> Sidetrack::validate_top(std::string_view name, double md, const Trajectory* active) {
    const std::string_view trimmed = trim_unicode(name);
    if (trimmed.empty()) return fail(Error::parse("top name cannot be empty"));
    if (!std::isfinite(md)) return fail(Error::out_of_range("top measured depth must be finite"));
    if (active != nullptr && (md < active->first_md() || md > active->last_md())) {
        return fail(Error::out_of_range(fmt::format("top MD {} outside active trajectory range {}..{}", num(md),
                                                    num(active->first_md()), num(active->last_md()))));
    }
    return std::string(trimmed);
}

Result<void> Sidetrack::add_top(std::string_view name, double md) {
    VZ_ASSIGN_OR_RETURN(std::string trimmed, validate_top(name, md, active_trajectory()));
    if (!matching_tops(tops, trimmed).empty()) {
        return fail(Error::parse(fmt::format("top '{}' already exists on bore '{}'", trimmed, label)));
    }
    tops.push_back({std::move(trimmed), md});
    sort_tops();
    return {};
}

Result<void> Sidetrack::replace_top(std::string_view name, double md) {
    VZ_ASSIGN_OR_RETURN(std::string trimmed, validate_top(name, md, active_trajectory()));
    const auto found = matching_tops(tops, trimmed);
    if (found.size() > 1) {
        return fail(Error::parse(fmt::format(
            "top '{}' is duplicated on bore '{}'; remove the legacy duplicates explicitly", trimmed, label)));
    }
    if (found.empty()) return fail(Error::not_found(fmt::format("top '{}' on bore '{}'", trimmed, label)));
    tops[found.front()] = {std::move(trimmed), md};
    sort_tops();
    return {};
}

Result<DepthPick> Sidetrack::remove_top(std::string_view name) {
    const auto found = matching_tops(tops, name);
    if (found.size() > 1) {
        return fail(Error::parse(
            fmt::format("top '{}' is duplicated on bore '{}'; cannot choose one to remove", name, label)));
    }
    if (found.empty()) return fail(Error::not_found(fmt::format("top '{}' on bore '{}'", name, label)));
    const auto at = tops.begin() + static_cast<std::ptrdiff_t>(found.front());
    DepthPick removed = std::move(*at);
    tops.erase(at);
    return removed;
}

Result<void> Sidetrack::add_top_hit(std::string_view name, const SurfaceIntersection& hit) {
    VZ_TRY(check_intersection(hit));
    return add_top(name, hit.md);
}

Result<void> Sidetrack::replace_top_hit(std::string_view name, const SurfaceIntersection& hit) {
    VZ_TRY(check_intersection(hit));
    return replace_top(name, hit.md);
}

void Sidetrack::add_tops(std::vector<DepthPick> rows) {
    tops.reserve(tops.size() + rows.size());
    for (auto& r : rows) tops.push_back(std::move(r));
    sort_tops();
}

void sort_picks(std::vector<DepthPick>& picks, const std::vector<std::string>& strat_order) {
    if (strat_order.empty()) {
        std::stable_sort(picks.begin(), picks.end(), [](const DepthPick& a, const DepthPick& b) {
            return total_order_key(a.md) < total_order_key(b.md);
        });
        return;
    }
    const auto ranks = strat_rank_map(strat_order);
    // Decorate once so each comparison is two integer compares.
    struct Keyed {
        std::int64_t md_key;
        std::size_t rank;  // unranked names sort after every ranked one
        DepthPick top;
    };
    std::vector<Keyed> keyed;
    keyed.reserve(picks.size());
    for (auto& t : picks) {
        const auto r = ranks.find(t.name);
        keyed.push_back({total_order_key(t.md), r == ranks.end() ? kUnranked : r->second, std::move(t)});
    }
    std::stable_sort(keyed.begin(), keyed.end(), [](const Keyed& a, const Keyed& b) {
        if (a.md_key != b.md_key) return a.md_key < b.md_key;
        return a.rank < b.rank;
    });
    for (std::size_t i = 0; i < keyed.size(); ++i) picks[i] = std::move(keyed[i].top);
}

void Sidetrack::sort_tops() { sort_picks(tops, strat_order); }

void Sidetrack::set_strat_order(std::vector<std::string> names) {
    strat_order = std::move(names);
    sort_tops();
}

}  // namespace vz
