#pragma once
/// Descriptive statistics of the toolkit library.

#include <span>

#include "tools_error.hpp"

namespace vz::stats::descriptive {

/// Percentile `p` (a percentage in [0, 100]) of `data` by linear
/// interpolation between neighbouring sorted values.
/// Errors: EmptyInput "stats: no data"; InvalidArgument
/// "percentile: p must be in [0, 100]" (NaN included).
ToolsResult<double> percentile(std::span<const double> data, double p);

}  // namespace vz::stats::descriptive
