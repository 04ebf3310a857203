#pragma once
/// The two shared text parsers behind the `unit` and `method` arguments:
/// a length unit ("m", "ft" and their long spellings) and a gridding method
/// ("nearest", "idw", "min_curvature" and their spellings).
///
/// Free of Python: the failure is the message text; `frame/parsers.hpp`
/// raises it as the exception each argument calls for (ValueError for units,
/// TypeError for methods).

#include <algorithm>
#include <expected>
#include <string>
#include <string_view>

#include <fmt/format.h>

#include "core/gridding_method.hpp"
#include "core/units.hpp"
#include "foundation/format.hpp"

namespace vz::py {

/// A unit text: non-empty, without surrounding Unicode white space, compared
/// ASCII-case-insensitively with the accepted spellings. Failure: the
/// ValueError text.
inline std::expected<LengthUnit, std::string> parse_length_unit_text(std::string_view text) {
    if (text.empty() || trim_unicode(text).size() != text.size())
        return std::unexpected(std::string("unit must be a non-empty, trimmed string"));
    const std::string lowered = ascii_lower(text);
    for (std::string_view s : {"m", "metre", "meter", "metres", "meters"})
        if (lowered == s) return LengthUnit::Metres;
    for (std::string_view s : {"ft", "feet", "foot"})
        if (lowered == s) return LengthUnit::Feet;
    return std::unexpected(fmt::format("unknown unit '{}' (expected 'ft' or 'm')", lowered));
}

/// A gridding-method text: trimmed of Unicode white space, ASCII-lowercased,
/// each space and hyphen-minus turned into "_", then compared with the
/// accepted spellings. Failure: the TypeError text quoting the normalised text.
inline std::expected<GriddingMethod, std::string> parse_gridding_method_text(std::string_view text) {
    std::string norm = ascii_lower(trim_unicode(text));
    std::replace_if(norm.begin(), norm.end(), [](char c) { return c == ' ' || c == '-'; }, '_');
    if (norm == "nearest") return GriddingMethod::Nearest;
    for (std::string_view s : {"idw", "inverse_distance", "inversedistance"})
        if (norm == s) return GriddingMethod::InverseDistance;
    for (std::string_view s : {"min_curvature", "mincurvature", "minimum_curvature", "minimumcurvature"})
        if (norm == s) return GriddingMethod::MinimumCurvature;
    return std::unexpected(
        fmt::format("unknown grid method '{}' (expected 'nearest', 'idw', or 'min_curvature')", norm));
}

}  // namespace vz::py
