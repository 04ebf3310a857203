#pragma once
/// Small rules the project layer applies to a container's element schema
/// version and to the project metadata object ("app") of its manifest.
/// Every failure is a core Parse error.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "container/json.hpp"
#include "core/units.hpp"
#include "foundation/result.hpp"

namespace vz::project {

/// The newest element schema version this build reads (and the one it
/// writes).
inline constexpr std::uint32_t kElementSchemaVersion = 2;

/// Admits element schema versions 1 and 2. Parse ".zedod element schema v0
/// is unsupported (reads v1 and v2)" for 0; ".zedod element schema v{} is
/// newer than this voridEZ (reads ≤ v2) — upgrade voridEZ" for 3 and above.
Result<void> check_element_schema(std::uint32_t version);

/// Absent passes; a text passes when non-empty and equal to itself with
/// Unicode white space trimmed from both ends. Otherwise Parse "project
/// {label} must be null or a non-empty, trimmed string". Labels in use:
/// "display name", "CRS".
Result<std::optional<std::string>> check_optional_name(std::optional<std::string> value, std::string_view label);

/// The optional text under `key` of the metadata object: absent when `meta`
/// is not an object, the key is missing or null; a string is trimmed and then
/// passed through `check_optional_name`; any other JSON type gives Parse
/// ".zedod manifest {label} must be a string or null".
Result<std::optional<std::string>> meta_optional_string(const container::Json& meta, std::string_view key,
                                                        std::string_view label);

/// The trimmed "unit" text of the metadata object: absent when `meta` is not
/// an object or "unit" is missing or null; Parse ".zedod manifest unit must
/// be a non-empty, trimmed string" when empty after trimming; Parse ".zedod
/// manifest unit must be a string" for other JSON types.
Result<std::optional<std::string>> meta_unit_string(const container::Json& meta);

/// The project unit: the trimmed "unit" text must be exactly "Feet" or
/// "Metres"; absent or any other text gives Parse ".zedod manifest
/// missing/invalid unit" (the failures of `meta_unit_string` first).
Result<LengthUnit> meta_unit(const container::Json& meta);

/// The system clock as whole seconds since 1970-01-01 UTC (fraction
/// dropped); 0 when the clock reads earlier.
std::uint64_t now_unix_seconds();

}  // namespace vz::project
