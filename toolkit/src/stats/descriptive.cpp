#include "stats/descriptive.hpp"

#include <algorithm>
#include <cmath>
#include <vector>

namespace vz::stats::descriptive {

ToolsResult<double> percentile(std::span<const double> data, double p) {
    if (data.empty()) return std::unexpected(ToolsError::empty_input("stats: no data"));
    if (!(p >= 0.0 && p <= 100.0))
        return std::unexpected(ToolsError::invalid_argument("percentile: p must be in [0, 100]"));
    std::vector<double> s(data.begin(), data.end());
    std::stable_sort(s.begin(), s.end());
    const std::size_t n = s.size();
    if (n == 1) return s[0];
    const double h = static_cast<double>(n - 1) * (p / 100.0);
    const double fl = std::floor(h);
    const std::size_t i = fl > 0.0 ? static_cast<std::size_t>(fl) : 0;
    if (i + 1 < n) return s[i] + (s[i + 1] - s[i]) * (h - static_cast<double>(i));
    return s[n - 1];
}

}  // namespace vz::stats::descriptive
