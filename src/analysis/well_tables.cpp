#include "analysis/well_tables.hpp"

#include <algorithm>
#include <limits>
#include <unordered_map>
#include <unordered_set>

#include "foundation/format.hpp"

namespace vz::well_tables {

namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

struct Cell {
    std::string zone;
    std::string bore;
    double gross = kNaN;
    std::vector<double> values;
};

struct Pool {
    std::vector<double> values;
    std::vector<double> weights;
};

std::vector<double> cell_values(const Stats& s, double gross, std::span<const std::string> names) {
    std::vector<double> out;
    out.reserve(names.size());
    for (const auto& n : names) out.push_back(n == "gross" ? gross : stat_by_name(s, n));
    return out;
}

/// The conditioning curves of one bore, looked up once.
struct Conditioning {
    const NetConditioning& spec;
    std::optional<LogView> phi;
    std::optional<LogView> sw;
    std::optional<LogView> vsh;

    Conditioning(const NetConditioning& s, const Sidetrack& bore) : spec(s) {
        phi = bore.log(s.phi);
        sw = bore.log(s.sw);
        if (s.vsh) vsh = bore.log(*s.vsh);
    }

    std::vector<std::uint8_t> flags(std::span<const double> mds) const {
        const std::vector<double> p = phi ? Log::resample(*phi, mds) : std::vector<double>(mds.size(), kNaN);
        const std::vector<double> w = sw ? Log::resample(*sw, mds) : std::vector<double>(mds.size(), kNaN);
        std::optional<std::vector<double>> v;
        if (vsh) v = Log::resample(*vsh, mds);
        return interpret::net_flags(p, w, v ? std::optional<std::span<const double>>(*v) : std::nullopt,
                                    spec.cutoffs);
    }
};

}  // namespace

double stat_by_name(const Stats& s, std::string_view name) {
    if (name == "mean") return s.mean;
    if (name == "sum") return s.sum;
    if (name == "count" || name == "samples") return static_cast<double>(s.count);
    if (name == "min") return s.min;
    if (name == "max") return s.max;
    if (name == "std") return s.std;
    if (name == "p10") return s.p10;
    if (name == "p50") return s.p50;
    if (name == "p90") return s.p90;
    return kNaN;
}

std::vector<std::string> order_by_column(std::span<const std::string> zones, std::span<const std::string> column) {
    std::unordered_map<std::string, std::size_t> rank;
    for (std::size_t k = 0; k < column.size(); ++k) rank.try_emplace(ascii_lower(column[k]), k);
    std::vector<std::pair<std::size_t, std::string>> ranked;
    ranked.reserve(zones.size());
    for (const auto& z : zones) {
        const auto it = rank.find(ascii_lower(z));
        ranked.emplace_back(it == rank.end() ? column.size() : it->second, z);
    }
    std::ranges::stable_sort(ranked, {}, &std::pair<std::size_t, std::string>::first);
    std::vector<std::string> out;
    out.reserve(ranked.size());
    for (auto& [r, z] : ranked) out.push_back(std::move(z));
    return out;
}

void order_table_by_column(ZoneTable& table, std::span<const std::string> column) {
    if (table.zone_order) {
        table.zone_order = order_by_column(*table.zone_order, column);
        return;
    }
    // Aggregate rows come in one contiguous block per zone.
    std::vector<std::string> zones;
    std::vector<std::pair<std::size_t, std::size_t>> blocks;  // [begin, end) per zone, in that order
    for (std::size_t r = 0; r < table.zone.size(); ++r) {
        if (r == 0 || table.zone[r] != table.zone[r - 1]) {
            zones.push_back(table.zone[r]);
            blocks.emplace_back(r, r);
        }
        blocks.back().second = r + 1;
    }
    const std::vector<std::string> ordered = order_by_column(zones, column);
    std::vector<std::size_t> rows;
    rows.reserve(table.zone.size());
    std::vector<bool> used(blocks.size(), false);
    for (const auto& z : ordered)
        for (std::size_t b = 0; b < blocks.size(); ++b)
            if (!used[b] && zones[b] == z) {
                used[b] = true;
                for (std::size_t r = blocks[b].first; r < blocks[b].second; ++r) rows.push_back(r);
                break;
            }
    const auto permute = [&](auto& values) {
        std::remove_reference_t<decltype(values)> out;
        out.reserve(values.size());
        for (std::size_t r : rows) out.push_back(std::move(values[r]));
        values = std::move(out);
    };
    permute(table.zone);
    permute(table.bore);
    for (auto& column_values : table.stats) permute(column_values);
}

std::vector<double> thickness_weights(std::span<const double> md) {
    const std::size_t n = md.size();
    if (n < 2) return std::vector<double>(n, 1.0);
    std::vector<double> w(n);
    w[0] = md[1] - md[0];
    w[n - 1] = md[n - 1] - md[n - 2];
    for (std::size_t k = 1; k + 1 < n; ++k) w[k] = (md[k + 1] - md[k - 1]) * 0.5;
    return w;
}

ZoneTable zone_table(std::span<const BoreRow> bores, std::string_view curve, std::span<const std::string> stat_names,
                     const std::optional<std::vector<std::string>>& zone_filter, bool include_empty, bool aggregate,
                     bool weighted, const std::optional<NetConditioning>& net) {
    std::optional<std::unordered_set<std::string>> filter;
    if (zone_filter) {
        filter.emplace();
        for (const auto& z : *zone_filter) filter->insert(ascii_lower(z));
    }

    std::vector<Cell> cells;
    std::vector<std::string> zone_order;
    std::unordered_map<std::string, Pool> pools;

    for (const auto& row : bores) {
        if (row.bore == nullptr || row.bore->trajectories.empty()) continue;
        const Sidetrack& bore = *row.bore;
        std::optional<Conditioning> cond;
        if (net) cond.emplace(*net, bore);

        for (const Zone& zone : bore.zones()) {
            if (filter && !filter->contains(ascii_lower(zone.name))) continue;
            if (std::find(zone_order.begin(), zone_order.end(), zone.name) == zone_order.end())
                zone_order.push_back(zone.name);
            const double gross = zone.base_md - zone.top_md;
            const auto samples = zone.log(curve);
            if (!samples) {
                if (include_empty) {
                    std::vector<double> values;
                    for (const auto& n : stat_names) values.push_back(n == "gross" ? gross : kNaN);
                    cells.push_back(Cell{zone.name, row.label, gross, std::move(values)});
                }
                continue;
            }
            std::vector<double> kept_md;
            std::vector<double> kept_values;
            const auto mds = samples->md();
            const auto vals = samples->values();
            if (cond) {
                const auto flags = cond->flags(mds);
                for (std::size_t k = 0; k < vals.size(); ++k)
                    if (flags[k] == 1) {
                        kept_md.push_back(mds[k]);
                        kept_values.push_back(vals[k]);
                    }
            } else {
                kept_md.assign(mds.begin(), mds.end());
                kept_values.assign(vals.begin(), vals.end());
            }
            std::vector<double> weights;
            if (kept_values.size() == 1) {
                weights.push_back(1.0);
            } else if (kept_values.size() >= 2) {
                weights = thickness_weights(kept_md);
            }
            const Stats stats = weighted ? Stats::from_weighted(kept_values, weights) : Stats::from_values(kept_values);
            Pool& pool = pools[zone.name];
            pool.values.insert(pool.values.end(), kept_values.begin(), kept_values.end());
            pool.weights.insert(pool.weights.end(), weights.begin(), weights.end());
            if (include_empty || stats.count > 0)
                cells.push_back(Cell{zone.name, row.label, gross, cell_values(stats, gross, stat_names)});
        }
    }

    ZoneTable table;
    table.stats.resize(stat_names.size());
    const auto emit = [&](const std::string& zone, const std::string& bore, const std::vector<double>& values) {
        table.zone.push_back(zone);
        table.bore.push_back(bore);
        for (std::size_t s = 0; s < values.size(); ++s) table.stats[s].push_back(values[s]);
    };

    if (!aggregate) {
        for (const auto& c : cells) emit(c.zone, c.bore, c.values);
        std::vector<std::string> order;
        for (const auto& z : zone_order)
            if (std::find(table.zone.begin(), table.zone.end(), z) != table.zone.end()) order.push_back(z);
        table.zone_order = std::move(order);
        return table;
    }

    static const Pool kEmptyPool;
    for (const auto& z : zone_order) {
        const auto it = pools.find(z);
        const Pool& pool = it == pools.end() ? kEmptyPool : it->second;
        const Stats pooled = weighted ? Stats::from_weighted(pool.values, pool.weights) : Stats::from_values(pool.values);
        std::vector<const Cell*> zone_cells;
        for (const auto& c : cells)
            if (c.zone == z) zone_cells.push_back(&c);
        if (!(pooled.count > 0 || include_empty || !zone_cells.empty())) continue;
        double gross = kNaN;
        if (!zone_cells.empty()) {
            double sum = 0.0;
            for (const Cell* c : zone_cells) sum += c->gross;
            gross = sum / static_cast<double>(zone_cells.size());
        }
        emit(z, "all", cell_values(pooled, gross, stat_names));
        for (const Cell* c : zone_cells) emit(c->zone, c->bore, c->values);
    }
    return table;
}

}  // namespace vz::well_tables
