/// Zones of a bore, derived from its tops on every request, and per-zone
/// statistics of one curve.

#include <algorithm>
#include <limits>

#include "core/strat.hpp"
#include "core/well.hpp"
#include "foundation/format.hpp"

namespace vz {

namespace {

/// md of the last station of the active trajectory, NaN without one.
double end_md(const Sidetrack& bore) {
    const Trajectory* t = bore.active_trajectory();
    return t ? t->last_md() : std::numeric_limits<double>::quiet_NaN();
}

/// The zone of top i: its base is the next top in md order, or `end`.
Zone zone_at(const Sidetrack& bore, std::size_t i, double end) {
    const double base = i + 1 < bore.tops.size() ? bore.tops[i + 1].md : end;
    return Zone{bore.tops[i].name, std::span<const Log>(bore.logs), bore.tops[i].md, base};
}

}  // namespace

std::optional<LogView> Zone::log(std::string_view mnemonic) const {
    for (const Log& l : logs)
        if (iequals_ascii(l.mnemonic, mnemonic)) return Log::clip(l, top_md, base_md);
    return std::nullopt;
}

std::vector<Zone> Sidetrack::zones() const {
    const double end = end_md(*this);
    std::vector<Zone> out;
    out.reserve(tops.size());
    for (std::size_t i = 0; i < tops.size(); ++i) out.push_back(zone_at(*this, i, end));
    if (!strat_order.empty()) {
        const auto ranks = strat_rank_map(strat_order);
        constexpr std::size_t kUnranked = static_cast<std::size_t>(-1);  // after every rank
        std::vector<std::pair<std::size_t, std::size_t>> order;          // (rank key, md position)
        order.reserve(out.size());
        for (std::size_t i = 0; i < out.size(); ++i) {
            const auto r = ranks.find(out[i].name);
            order.emplace_back(r == ranks.end() ? kUnranked : r->second, i);
        }
        std::stable_sort(order.begin(), order.end(),
                         [](const auto& a, const auto& b) { return a.first < b.first; });
        std::vector<Zone> sorted;
        sorted.reserve(out.size());
        for (const auto& o : order) sorted.push_back(std::move(out[o.second]));
        out = std::move(sorted);
    }
    return out;
}

std::optional<Zone> Sidetrack::zone_of_top(std::string_view name) const {
    for (std::size_t i = 0; i < tops.size(); ++i)
        if (iequals_ascii(tops[i].name, name)) return zone_at(*this, i, end_md(*this));
    return std::nullopt;
}

std::vector<std::pair<std::string, Stats>> Sidetrack::zone_stats(std::string_view mnemonic) const {
    std::vector<std::pair<std::string, Stats>> out;
    for (Zone& z : zones()) {
        if (auto view = z.log(mnemonic)) out.emplace_back(std::move(z.name), view->stats());
    }
    return out;
}

}  // namespace vz
