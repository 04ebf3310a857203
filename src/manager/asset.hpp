#pragma once
/// Generic provider-owned assets of a project: the name rule, the envelope
/// rules and the asset frame an "asset" section carries.
///
/// Frame (entry version 1): the 8 bytes "KIOASSET", the envelope length L as
/// u32 little-endian, the envelope (canonical compact JSON, UTF-8) and the
/// asset's data bytes. Every failure is a core Parse error.

#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "foundation/result.hpp"

namespace vz::asset {

/// The prefix every asset name starts with.
inline constexpr std::string_view kNamePrefix = "@asset/";
/// The only asset frame version.
inline constexpr std::uint32_t kFrameVersion = 1;

/// Checks "@asset/<collection>/<name>[/...]": 7 to 1024 bytes, the prefix,
/// no backslash or NUL ("invalid asset name '{}': expected
/// '@asset/<collection>/<name>'"), then at least three '/'-separated
/// segments, none empty, "." or ".." ("invalid asset name '{}': empty and
/// traversal path segments are forbidden").
Result<void> validate_name(std::string_view name);

/// Parses an envelope and returns its "asset_type". It must be one JSON
/// object ("invalid asset envelope JSON: {}", "asset envelope must be a JSON
/// object"), with non-empty string members "asset_type", "provider" and
/// "codec" ("asset envelope missing non-empty '{}'") and an integer
/// "schema_version" ("asset envelope missing positive integer
/// 'schema_version'") from 1 to 4294967295 ("asset envelope schema_version
/// is out of range").
Result<std::string> parse_envelope(std::span<const std::uint8_t> envelope);

/// The checks an asset passes before the project takes it: frame version 1
/// ("cannot create asset frame v{}; supported version is 1"), a valid
/// envelope, `kind` equal to its asset_type ("asset kind '{}' disagrees with
/// envelope asset_type '{}'") and the envelope in canonical form, byte for
/// byte the manifest writer's text of the parsed value ("asset envelope must
/// be canonical compact UTF-8 JSON").
Result<void> validate_frame(std::string_view kind, std::span<const std::uint8_t> envelope, std::uint32_t version);

/// The frame bytes of an envelope and data; "asset envelope is too large"
/// when the envelope's length does not fit 32 bits.
Result<std::vector<std::uint8_t>> encode_frame(std::span<const std::uint8_t> envelope,
                                               std::span<const std::uint8_t> data);

/// Splits a frame into (envelope, data): "invalid asset frame magic/length"
/// when shorter than 12 bytes or without the magic, "invalid asset envelope
/// length" when the envelope runs past the end.
Result<std::pair<std::vector<std::uint8_t>, std::vector<std::uint8_t>>> decode_frame(
    std::span<const std::uint8_t> frame);

}  // namespace vz::asset
