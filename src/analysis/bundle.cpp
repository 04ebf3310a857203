#include "analysis/bundle.hpp"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdint>
#include <limits>

#include "core/mnemonics.hpp"
#include "foundation/format.hpp"

namespace vz::bundle {

namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

// The samples of a log that have both a depth and a value: a log assembled
// field by field may hold arrays of different lengths, and nothing here may
// read past either.
std::size_t sample_count(const Log& log) { return std::min(log.md.size(), log.values.size()); }

// A key whose signed order is the IEEE total order of doubles: negative
// values (sign bit set) have their magnitude bits flipped so that they
// order downwards, -NaN first and +NaN last.
std::int64_t total_order_key(double v) {
    const auto bits = std::bit_cast<std::int64_t>(v);
    return bits ^ static_cast<std::int64_t>(static_cast<std::uint64_t>(bits >> 63) >> 1);
}

}  // namespace

bool curve_selected(const Log& log, const CurveSelection& selection) {
    if (!selection) return true;
    if (selection->empty()) return false;
    const std::string canonical = canonical_mnemonic(log.mnemonic);
    return std::ranges::any_of(*selection, [&](const std::string& entry) {
        return iequals_ascii(entry, log.mnemonic) || iequals_ascii(entry, canonical);
    });
}

std::vector<const Log*> select_logs(const Sidetrack& bore, const CurveSelection& selection) {
    std::vector<const Log*> kept;
    for (const Log& log : bore.logs)
        if (curve_selected(log, selection)) kept.push_back(&log);
    return kept;
}

std::vector<double> depth_grid(std::span<const Log* const> logs) {
    std::vector<double> all;
    std::size_t total = 0;
    for (const Log* log : logs) total += sample_count(*log);
    all.reserve(total);
    for (const Log* log : logs) all.insert(all.end(), log->md.begin(), log->md.begin() + static_cast<std::ptrdiff_t>(sample_count(*log)));
    std::ranges::stable_sort(all, [](double a, double b) { return total_order_key(a) < total_order_key(b); });
    std::vector<double> grid;
    grid.reserve(all.size());
    for (double d : all)
        if (grid.empty() || !(d == grid.back())) grid.push_back(d);
    return grid;
}

double md_to_tvd(const Sidetrack& bore, double kb, double md) {
    if (const Trajectory* active = bore.active_trajectory())
        if (const auto p = active->position_at_md(md)) return (*p)[2];
    return md - kb;
}

std::vector<double> resample(std::span<const double> md, std::span<const double> values,
                             std::span<const double> grid) {
    const std::size_t n = std::min(md.size(), values.size());
    std::vector<double> out(grid.size(), kNaN);
    if (n == 0) return out;
    for (std::size_t t = 0; t < grid.size(); ++t) {
        const double d = grid[t];
        if (std::isnan(d) || d < md[0] || d > md[n - 1]) continue;
        // A lone sample brackets nothing: its depth takes its value, as any
        // grid depth equal to a log's first depth does.
        if (n == 1) {
            out[t] = values[0];
            continue;
        }
        std::size_t lo = 0;
        std::size_t size = n;
        while (size > 1) {
            const std::size_t half = size / 2;
            if (d > md[lo + half]) lo += half;
            size -= half;
        }
        std::size_t g = d > md[lo] ? lo + 1 : lo;
        // d <= md[n - 1] keeps g below n; the clamp guards the reads anyway.
        g = std::clamp<std::size_t>(g, 1, n - 1);
        const double a = md[g - 1];
        const double b = md[g];
        out[t] = b - a <= 0.0 ? values[g - 1] : values[g - 1] + (values[g] - values[g - 1]) * ((d - a) / (b - a));
    }
    return out;
}

std::vector<CurveRow> resample_logs(std::span<const Log* const> logs, std::span<const double> grid) {
    std::vector<CurveRow> rows;
    rows.reserve(logs.size());
    for (const Log* log : logs) {
        const std::size_t n = sample_count(*log);
        rows.push_back(CurveRow{log->mnemonic, canonical_mnemonic(log->mnemonic), log->unit,
                                log->kind == LogKind::Core,
                                resample(std::span(log->md).first(n), std::span(log->values).first(n), grid)});
    }
    return rows;
}

std::vector<ZoneRow> zone_rows(const Sidetrack& bore, double kb) {
    std::vector<ZoneRow> rows;
    for (const Zone& zone : bore.zones())
        rows.push_back(ZoneRow{zone.name, zone.top_md, zone.base_md, md_to_tvd(bore, kb, zone.top_md),
                               md_to_tvd(bore, kb, zone.base_md)});
    return rows;
}

std::vector<const Sidetrack*> bores_with_logs(const Well& well) {
    std::vector<const Sidetrack*> out;
    for (const auto& [label, bore] : well.bores)
        if (!bore.logs.empty()) out.push_back(&bore);
    return out;
}

BoreData gather(const Sidetrack& bore, double kb, const CurveSelection& selection) {
    BoreData data;
    const std::vector<const Log*> logs = select_logs(bore, selection);
    data.md = depth_grid(logs);
    data.tvd.reserve(data.md.size());
    for (double d : data.md) data.tvd.push_back(md_to_tvd(bore, kb, d));
    data.curves = resample_logs(logs, data.md);
    data.zones = zone_rows(bore, kb);
    return data;
}

}  // namespace vz::bundle
