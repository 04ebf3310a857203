#include "core/mnemonics.hpp"

#include <array>
#include <utility>

#include "foundation/format.hpp"

namespace vz {

namespace {

struct Alias {
    std::string_view alias;
    std::string_view canonical;
};

constexpr std::array<Alias, 50> kAliases{{
    {"K", "PERM"},      {"KH", "PERM"},     {"PERM", "PERM"},   {"PERMH", "PERM"},     {"KLOGH", "PERM"},
    {"SW", "SW"},       {"SWE", "SW"},      {"SW_E", "SW"},     {"SUWI", "SW"},        {"SWT", "SWT"},
    {"SW_T", "SWT"},    {"SWTOT", "SWT"},   {"GR", "GR"},       {"GRC", "GR"},         {"SGR", "GR"},
    {"CGR", "GR"},      {"GAMMA", "GR"},    {"DT", "DT"},       {"AC", "DT"},          {"DTCO", "DT"},
    {"SONIC", "DT"},    {"RT", "RT"},       {"RES", "RT"},      {"ILD", "RT"},         {"LLD", "RT"},
    {"RDEP", "RT"},     {"PHI", "PHIE"},    {"PHIE", "PHIE"},   {"PHI_E", "PHIE"},     {"PHIEF", "PHIE"},
    {"EFFPHI", "PHIE"}, {"PHIT", "PHIT"},   {"PHI_T", "PHIT"},  {"TOTPHI", "PHIT"},    {"NPHI", "NPHI"},
    {"TNPH", "NPHI"},   {"NEU", "NPHI"},    {"CNL", "NPHI"},    {"VSH", "VSH"},        {"VCL", "VSH"},
    {"VCLAY", "VSH"},   {"VSHGR", "VSH"},   {"VSHALE", "VSH"},  {"RHOB", "RHOB"},      {"DEN", "RHOB"},
    {"DENS", "RHOB"},   {"ZDEN", "RHOB"},   {"NTG", "NTG"},     {"N_G", "NTG"},        {"NET_GROSS", "NTG"},
}};

std::string_view strip_vintage(std::string_view s) {
    auto us = s.rfind('_');
    if (us == std::string_view::npos) return s;
    auto tail = s.substr(us + 1);
    if (tail.size() != 4) return s;
    for (char c : tail)
        if (c < '0' || c > '9') return s;
    return s.substr(0, us);
}

}  // namespace

std::string canonical_mnemonic(std::string_view raw) {
    std::string_view stripped = strip_vintage(trim_unicode(raw));
    std::string upper = ascii_upper(stripped);
    for (const auto& a : kAliases)
        if (a.alias == upper) return std::string(a.canonical);
    return std::string(stripped);
}

namespace mnemonics {

std::optional<std::string> alias_lookup(const AliasMap& map, std::string_view raw) {
    auto it = map.find(ascii_lower(trim_unicode(raw)));
    if (it == map.end()) return std::nullopt;
    return it->second;
}

std::string resolve_mnemonic(std::string_view mnemonic, const AliasMap* map) {
    if (map == nullptr) return std::string(mnemonic);
    if (auto hit = alias_lookup(*map, mnemonic)) return std::move(*hit);
    return canonical_mnemonic(mnemonic);
}

Log resolve(Log log, const AliasMap* map) {
    if (map != nullptr) log.mnemonic = resolve_mnemonic(log.mnemonic, map);
    return log;
}

}  // namespace mnemonics
}  // namespace vz
