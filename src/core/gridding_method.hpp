#pragma once
/// The gridding kernel selector. Its text form (the member name) is written
/// into histories.

#include <cstdint>

namespace vz {

/// Stored in one byte; the values are the toolkit's method codes.
enum class GriddingMethod : std::uint8_t { Nearest = 0, InverseDistance = 1, MinimumCurvature = 2 };

/// "Nearest", "InverseDistance", "MinimumCurvature".
inline const char* gridding_method_name(GriddingMethod m) {
    switch (m) {
        case GriddingMethod::Nearest: return "Nearest";
        case GriddingMethod::InverseDistance: return "InverseDistance";
        case GriddingMethod::MinimumCurvature: return "MinimumCurvature";
    }
    return "?";
}

}  // namespace vz
