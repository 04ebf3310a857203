#pragma once
/// The project length unit.

namespace vz {

enum class LengthUnit { Feet = 0, Metres = 1 };

/// "ft" or "m".
inline const char* length_unit_symbol(LengthUnit u) { return u == LengthUnit::Feet ? "ft" : "m"; }

}  // namespace vz
