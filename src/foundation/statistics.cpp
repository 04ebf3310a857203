#include "foundation/statistics.hpp"

#include <algorithm>
#include <cmath>
#include <limits>
#include <numeric>
#include <utility>

#include "foundation/format.hpp"
#include "stats/descriptive.hpp"

namespace vz {

namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

double unweighted_percentile(std::span<const double> values, double pct) {
    auto r = stats::descriptive::percentile(values, pct);
    return r ? *r : kNaN;
}

// First value whose running weight total reaches q * W; the last value when
// rounding (or a NaN q) keeps the total below it.
// Only the values that have a weight take part, so a hand-assembled Stats
// whose lists differ in length is never read past its end.
double weighted_quantile(const std::vector<double>& values, const std::vector<double>& weights, double q) {
    const std::size_t n = std::min(values.size(), weights.size());
    if (n == 0) return kNaN;
    if (n == 1) return values[0];
    double w_total = 0.0;
    for (std::size_t k = 0; k < n; ++k) w_total += weights[k];
    if (w_total <= 0.0) return kNaN;
    const double target = q * w_total;
    double running = 0.0;
    for (std::size_t k = 0; k < n; ++k) {
        running += weights[k];
        if (running >= target) return values[k];
    }
    return values[n - 1];
}

}  // namespace

Stats Stats::from_values(std::span<const double> values) {
    std::vector<double> kept;
    kept.reserve(values.size());
    for (double v : values)
        if (!std::isnan(v)) kept.push_back(v);
    std::sort(kept.begin(), kept.end(), total_less);
    return from_sorted(std::move(kept), {});
}

Stats Stats::from_weighted(std::span<const double> values, std::span<const double> weights) {
    const std::size_t n = std::min(values.size(), weights.size());
    std::vector<std::pair<double, double>> pairs;
    pairs.reserve(n);
    for (std::size_t k = 0; k < n; ++k)
        if (!std::isnan(values[k]) && weights[k] > 0.0) pairs.emplace_back(values[k], weights[k]);
    std::stable_sort(pairs.begin(), pairs.end(), [](const auto& a, const auto& b) { return total_less(a.first, b.first); });
    std::vector<double> v, w;
    v.reserve(pairs.size());
    w.reserve(pairs.size());
    for (const auto& [x, wt] : pairs) {
        v.push_back(x);
        w.push_back(wt);
    }
    return from_sorted(std::move(v), std::move(w));
}

Stats Stats::from_sorted(std::vector<double> sorted, std::vector<double> weights) {
    // Weights that do not pair one to one with the values are cut to the
    // pairs they form rather than read past the end of either list.
    if (!weights.empty() && weights.size() != sorted.size()) {
        const std::size_t n = std::min(weights.size(), sorted.size());
        sorted.resize(n);
        weights.resize(n);
    }
    Stats s;
    const std::size_t n = sorted.size();
    s.count = n;
    if (n == 0) {
        s.sum = 0.0;
        s.mean = s.min = s.max = s.std = s.p10 = s.p50 = s.p90 = kNaN;
        s.values = std::move(sorted);
        s.weights = std::move(weights);
        return s;
    }
    s.min = sorted.front();
    s.max = sorted.back();
    if (weights.empty()) {
        double sum = 0.0;
        for (double v : sorted) sum += v;
        s.sum = sum;
        s.mean = sum / static_cast<double>(n);
        double sq = 0.0;
        for (double v : sorted) sq += (v - s.mean) * (v - s.mean);
        s.std = std::sqrt(sq / static_cast<double>(n));
        s.p10 = unweighted_percentile(sorted, 10.0);
        s.p50 = unweighted_percentile(sorted, 50.0);
        s.p90 = unweighted_percentile(sorted, 90.0);
    } else {
        double w_total = 0.0, sum = 0.0;
        for (std::size_t k = 0; k < n; ++k) {
            w_total += weights[k];
            sum += sorted[k] * weights[k];
        }
        s.sum = sum;
        s.mean = sum / w_total;
        double sq = 0.0;
        for (std::size_t k = 0; k < n; ++k) sq += weights[k] * (sorted[k] - s.mean) * (sorted[k] - s.mean);
        s.std = std::sqrt(sq / w_total);
        s.p10 = weighted_quantile(sorted, weights, 0.1);
        s.p50 = weighted_quantile(sorted, weights, 0.5);
        s.p90 = weighted_quantile(sorted, weights, 0.9);
    }
    s.values = std::move(sorted);
    s.weights = std::move(weights);
    return s;
}

double Stats::percentile(double p) const {
    if (p < 0.0) p = 0.0;
    if (p > 1.0) p = 1.0;
    if (weights.empty()) return unweighted_percentile(values, p * 100.0);
    return weighted_quantile(values, weights, p);
}

double Stats::geomean(std::span<const double> values) {
    double log_sum = 0.0;
    std::size_t taken = 0;
    for (double v : values) {
        if (v > 0.0 && std::isfinite(v)) {
            log_sum += std::log(v);
            ++taken;
        }
    }
    if (taken == 0) return kNaN;
    return std::exp(log_sum / static_cast<double>(taken));
}

}  // namespace vz
