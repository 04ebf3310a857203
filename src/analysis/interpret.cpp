#include "analysis/interpret.hpp"

#include <limits>

namespace vz {

namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

double at_or_nan(std::span<const double> v, std::size_t k) { return k < v.size() ? v[k] : kNaN; }

}  // namespace

namespace interpret {

std::vector<std::uint8_t> net_flags(std::span<const double> phi, std::span<const double> sw,
                                    std::optional<std::span<const double>> vsh, const Cutoffs& cutoffs) {
    std::vector<std::uint8_t> flags(phi.size(), 0);
    for (std::size_t k = 0; k < phi.size(); ++k) {
        const double p = phi[k];
        const double s = at_or_nan(sw, k);
        const double v = vsh ? at_or_nan(*vsh, k) : 0.0;
        // Every comparison with NaN is false, so NaN is never net.
        flags[k] = (p >= cutoffs.phi_min && s <= cutoffs.sw_max && v <= cutoffs.vsh_max) ? 1 : 0;
    }
    return flags;
}

}  // namespace interpret

namespace well_tables {

std::vector<std::pair<std::string, std::vector<double>>> net_zone_stats(const Sidetrack& bore,
                                                                        std::string_view value_curve,
                                                                        std::string_view phi_curve,
                                                                        std::string_view sw_curve,
                                                                        std::optional<std::string_view> vsh_curve,
                                                                        const Cutoffs& cutoffs) {
    const auto phi_log = bore.log(phi_curve);
    const auto sw_log = bore.log(sw_curve);
    const auto vsh_log = vsh_curve ? bore.log(*vsh_curve) : std::nullopt;

    std::vector<std::pair<std::string, std::vector<double>>> out;
    for (Zone& zone : bore.zones()) {
        std::vector<double> net;
        if (const auto samples = zone.log(value_curve); samples && !samples->empty()) {
            const auto mds = samples->md();
            const auto values = samples->values();
            const std::vector<double> phi =
                phi_log ? Log::resample(*phi_log, mds) : std::vector<double>(mds.size(), kNaN);
            const std::vector<double> sw =
                sw_log ? Log::resample(*sw_log, mds) : std::vector<double>(mds.size(), kNaN);
            std::optional<std::vector<double>> vsh;
            if (vsh_log) vsh = Log::resample(*vsh_log, mds);
            const auto flags = interpret::net_flags(
                phi, sw, vsh ? std::optional<std::span<const double>>(*vsh) : std::nullopt, cutoffs);
            for (std::size_t k = 0; k < values.size(); ++k)
                if (flags[k] == 1) net.push_back(values[k]);
        }
        out.emplace_back(std::move(zone.name), std::move(net));
    }
    return out;
}

}  // namespace well_tables
}  // namespace vz
