#pragma once
/// Petrel well-tops export reader: one pick per line after "END HEADER",
/// columns at fixed positions (well 10, surface 9, kind 8, md 6).

#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

#include "foundation/result.hpp"

namespace vz::petrel_tops {

/// One pick: well name, top (surface) name, pick kind, finite md.
struct PetrelTopRow {
    std::string well;
    std::string surface;
    std::string kind;
    double md = 0.0;
    bool operator==(const PetrelTopRow&) const = default;
};

/// Reads the picks in file order (possibly none). Only `Io` can fail;
/// malformed lines are skipped.
Result<std::vector<PetrelTopRow>> read_file(const std::filesystem::path& path);

/// Tokens of a pick line: white space separates outside double quotes; a
/// quote toggles quoting and belongs to no token; no empty tokens.
std::vector<std::string> tokenize(std::string_view line);

}  // namespace vz::petrel_tops
