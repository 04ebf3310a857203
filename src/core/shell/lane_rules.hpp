#pragma once
/// Lane rules shared by the structured and triangulated surfaces: what a
/// categorical lane may hold and the messages of the lane setters.

#include <cmath>
#include <span>
#include <string_view>

#include <fmt/format.h>

#include "foundation/error.hpp"

namespace vz::lane_rules {

/// True when no value is finite with a fractional part (NaN and infinities pass).
inline bool whole_or_nonfinite(std::span<const double> values) {
    for (double v : values)
        if (std::isfinite(v) && v != std::trunc(v)) return false;
    return true;
}

/// Parse "categorical attribute '{id}' values must be integers or NaN".
inline Error categorical_error(std::string_view id) {
    return Error::parse(fmt::format("categorical attribute '{}' values must be integers or NaN", id));
}

/// Parse "attribute metadata id '{id}' must match lane name '{name}'".
inline Error id_mismatch_error(std::string_view id, std::string_view name) {
    return Error::parse(fmt::format("attribute metadata id '{}' must match lane name '{}'", id, name));
}

}  // namespace vz::lane_rules
