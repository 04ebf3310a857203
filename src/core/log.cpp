#include "core/log.hpp"

#include <algorithm>
#include <cmath>
#include <limits>
#include <utility>

#include <fmt/format.h>

#include "foundation/format.hpp"

namespace vz {

namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

/// Number of leading samples whose MD is below `x` (a lower bound by binary
/// search; a NaN `x` gives 0).
std::size_t count_below(std::span<const double> md, double x) {
    return static_cast<std::size_t>(std::lower_bound(md.begin(), md.end(), x) - md.begin());
}

/// Linear interpolation inside the interval (a, b); a zero or negative
/// length takes the left sample.
double interpolate(std::span<const double> md, std::span<const double> values, std::size_t a, std::size_t b,
                   double x) {
    const double delta = md[b] - md[a];
    if (delta <= 0.0) return values[a];
    // At the upper sample itself the answer is that sample's own value: the
    // general form can miss it by a rounding step, and a curve read at its
    // own depths (a conditioning curve sampled with the curve it conditions)
    // must give back exactly what it stores, so that a value equal to a
    // cutoff stays equal to it. A NaN or infinite left sample still spoils
    // the value through the general form.
    if (x == md[b] && std::isfinite(values[a])) return values[b];
    return values[a] + (values[b] - values[a]) * ((x - md[a]) / delta);
}

/// Index of the upper sample of the interval holding `x`: the number of MDs
/// below `x`, kept within [1, n - 1] so that an unordered depth column can
/// never lead outside the arrays.
std::size_t upper_index(std::span<const double> md, double x) {
    return std::clamp<std::size_t>(count_below(md, x), 1, md.size() - 1);
}

}  // namespace

Result<Log> Log::make(std::string mnemonic, std::string unit, std::vector<double> md, std::vector<double> values) {
    if (md.size() != values.size()) {
        return fail(Error::parse(
            fmt::format("log '{}': md len {} != values len {}", mnemonic, md.size(), values.size())));
    }
    Log log;
    log.mnemonic = std::move(mnemonic);
    log.unit = std::move(unit);
    log.kind = LogKind::Standard;
    log.md = std::move(md);
    log.values = std::move(values);
    log.history = History::make("log.new");
    return log;
}

Result<Log> Log::from_curve(LogCurve curve, std::span<const double> md) {
    return make(std::move(curve.mnemonic), std::move(curve.unit), std::vector<double>(md.begin(), md.end()),
                std::move(curve.values));
}

LogView Log::view() const { return LogView(history, md, values); }

LogView Log::clip(const Log& log, double top_md, double base_md) {
    // Only samples with both an md and a value can be clipped (the arrays
    // have one length unless the log was assembled field by field).
    const std::size_t n = std::min(log.md.size(), log.values.size());
    const std::span<const double> md = std::span<const double>(log.md).first(n);
    const std::size_t start = count_below(md, top_md);
    const std::size_t end = std::max(start, count_below(md, base_md));
    History history =
        History::derive(log.history, fmt::format("log.clip(top_md={}, base_md={})", num(top_md), num(base_md)));
    return LogView(std::move(history), md.subspan(start, end - start),
                   std::span<const double>(log.values).subspan(start, end - start));
}

std::vector<double> Log::resample(const LogView& view, std::span<const double> targets) {
    const auto md = view.md();
    const auto values = view.values();
    const std::size_t n = md.size();
    std::vector<double> out(targets.size(), kNaN);
    if (n == 0) return out;
    const double first = md.front();
    const double last = md.back();
    std::size_t j = 1;
    for (std::size_t t = 0; t < targets.size(); ++t) {
        const double x = targets[t];
        if (std::isnan(x) || x < first || x > last) continue;
        if (n == 1) {
            if (x == first) out[t] = values[0];
            continue;
        }
        // Targets normally ascend and the cursor only moves forward; a target
        // at or below the lower end of the current interval is looked up
        // afresh so it is never extrapolated from an interval above it.
        if (j > 1 && !(x > md[j - 1])) j = upper_index(md, x);
        while (j < n - 1 && x > md[j]) ++j;
        out[t] = interpolate(md, values, j - 1, j, x);
    }
    return out;
}

std::optional<double> LogView::at_md(double md) const {
    const std::size_t n = md_.size();
    if (n == 0 || std::isnan(md) || md < md_.front() || md > md_.back()) return std::nullopt;
    if (n == 1) return md == md_[0] ? std::optional<double>(values_[0]) : std::nullopt;
    const std::size_t k = upper_index(md_, md);
    return interpolate(md_, values_, k - 1, k, md);
}

Stats LogView::stats() const { return Stats::from_values(values_); }

double LogView::geomean() const { return Stats::geomean(values_); }

}  // namespace vz
