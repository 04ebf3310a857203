#pragma once
/// `Stats`: NaN-skipping summary statistics, optionally weighted.

#include <cstdint>
#include <limits>
#include <span>
#include <vector>

namespace vz {

/// Summary of a set of numbers. Values are kept sorted ascending (IEEE total
/// order, never NaN) so any percentile can be asked later. Weighted when
/// `weights` is non-empty (one weight per value).
struct Stats {
    std::vector<double> values;
    std::vector<double> weights;
    std::uint64_t count = 0;
    double mean = std::numeric_limits<double>::quiet_NaN();
    double min = std::numeric_limits<double>::quiet_NaN();
    double max = std::numeric_limits<double>::quiet_NaN();
    double std = std::numeric_limits<double>::quiet_NaN();
    double sum = 0.0;
    double p10 = std::numeric_limits<double>::quiet_NaN();
    double p50 = std::numeric_limits<double>::quiet_NaN();
    double p90 = std::numeric_limits<double>::quiet_NaN();

    /// Unweighted statistics of the non-NaN values.
    static Stats from_values(std::span<const double> values);
    /// Weighted statistics: pairs up to the shorter list, keeping a pair when
    /// its value is not NaN and its weight is > 0.
    static Stats from_weighted(std::span<const double> values, std::span<const double> weights);
    /// The computation behind both builders: `sorted` is NaN-free and
    /// ascending; `weights` empty or one per value (lists of differing
    /// lengths are cut to the pairs they form).
    static Stats from_sorted(std::vector<double> sorted, std::vector<double> weights);

    /// Percentile at fraction `p` (clamped into [0, 1]); NaN when there is no
    /// answer. Never fails.
    double percentile(double p) const;

    /// exp(mean(ln v)) over the values that are > 0 and finite; NaN if none.
    static double geomean(std::span<const double> values);

    bool weighted() const { return !weights.empty(); }
};

}  // namespace vz
