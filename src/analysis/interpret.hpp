#pragma once
/// Net rock: the porosity, water-saturation and shale-volume cutoffs, the
/// per-sample net test, and the net samples of a curve per zone of a bore.

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "core/well.hpp"

namespace vz {

/// Net cutoffs: a sample is net when phi >= phi_min, sw <= sw_max and
/// vsh <= vsh_max (fractions). No range or order check applies.
struct Cutoffs {
    double phi_min = 0.08;
    double sw_max = 0.5;
    double vsh_max = 0.5;

    bool operator==(const Cutoffs&) const = default;
};

namespace interpret {

/// One flag per phi value: 1 for net, 0 otherwise. An sw (or given vsh) list
/// shorter than phi reads NaN past its end; without vsh values the shale
/// volume reads 0. Any NaN operand makes the sample not net. Never fails.
std::vector<std::uint8_t> net_flags(std::span<const double> phi, std::span<const double> sw,
                                    std::optional<std::span<const double>> vsh, const Cutoffs& cutoffs);

}  // namespace interpret

namespace well_tables {

/// For every zone of the bore, in zone order: the zone name and the values
/// of `value_curve` inside the zone whose samples are net. The conditioning
/// curves are resampled onto the value curve's depths; a missing phi or sw
/// curve makes no sample net, a missing or unnamed vsh curve reads 0. Zones
/// without the value curve or without net samples give empty lists. Never
/// fails.
std::vector<std::pair<std::string, std::vector<double>>> net_zone_stats(const Sidetrack& bore,
                                                                        std::string_view value_curve,
                                                                        std::string_view phi_curve,
                                                                        std::string_view sw_curve,
                                                                        std::optional<std::string_view> vsh_curve,
                                                                        const Cutoffs& cutoffs);

}  // namespace well_tables
}  // namespace vz
