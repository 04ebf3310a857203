#pragma once
/// The curve-name authority: canonical mnemonics through a fixed alias table,
/// and the user alias map applied at load time.

#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>

#include "core/log.hpp"

namespace vz {

/// User alias map: raw mnemonic (trimmed, ASCII lower case) -> mnemonic.
using AliasMap = std::unordered_map<std::string, std::string>;

/// Canonical name of a raw curve mnemonic: trimmed, a trailing "_NNNN"
/// vintage tag stripped, then matched (ASCII upper case, whole text) against
/// the alias table. Unknown names come back trimmed and tag-stripped in their
/// own case. Never fails.
std::string canonical_mnemonic(std::string_view raw);

namespace mnemonics {

/// The map's value for `raw` (trimmed and ASCII lower-cased, tag kept).
std::optional<std::string> alias_lookup(const AliasMap& map, std::string_view raw);

/// The mnemonic a log gets on load: unchanged without a map; with one, the
/// map's entry when present, else the canonical name.
std::string resolve_mnemonic(std::string_view mnemonic, const AliasMap* map);

/// The log with its mnemonic resolved by `resolve_mnemonic` (no map: the log
/// unchanged); every other field is kept. Never fails.
Log resolve(Log log, const AliasMap* map);

}  // namespace mnemonics
}  // namespace vz
