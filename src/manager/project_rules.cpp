#include "manager/project_rules.hpp"

#include <fmt/format.h>

#include <chrono>

#include "foundation/format.hpp"

namespace vz::project {

Result<void> check_element_schema(std::uint32_t version) {
    if (version == 0) return fail(Error::parse(".zedod element schema v0 is unsupported (reads v1 and v2)"));
    if (version > kElementSchemaVersion) {
        return fail(Error::parse(fmt::format(".zedod element schema v{} is newer than this voridEZ (reads ≤ v{}) — "
                                             "upgrade voridEZ",
                                             version, kElementSchemaVersion)));
    }
    return {};
}

Result<std::optional<std::string>> check_optional_name(std::optional<std::string> value, std::string_view label) {
    if (!value) return value;
    if (value->empty() || trim_unicode(*value).size() != value->size()) {
        return fail(Error::parse(fmt::format("project {} must be null or a non-empty, trimmed string", label)));
    }
    return value;
}

Result<std::optional<std::string>> meta_optional_string(const container::Json& meta, std::string_view key,
                                                        std::string_view label) {
    const container::Json* v = meta.find(key);
    if (v == nullptr || v->is_null()) return std::optional<std::string>{};
    if (const std::string* s = v->as_string()) {
        return check_optional_name(std::string(trim_unicode(*s)), label);
    }
    return fail(Error::parse(fmt::format(".zedod manifest {} must be a string or null", label)));
}

Result<std::optional<std::string>> meta_unit_string(const container::Json& meta) {
    const container::Json* v = meta.find("unit");
    if (v == nullptr || v->is_null()) return std::optional<std::string>{};
    const std::string* s = v->as_string();
    if (s == nullptr) return fail(Error::parse(".zedod manifest unit must be a string"));
    const std::string_view trimmed = trim_unicode(*s);
    if (trimmed.empty()) return fail(Error::parse(".zedod manifest unit must be a non-empty, trimmed string"));
    return std::optional<std::string>(std::string(trimmed));
}

Result<LengthUnit> meta_unit(const container::Json& meta) {
    VZ_ASSIGN_OR_RETURN(auto text, meta_unit_string(meta));
    if (text == "Feet") return LengthUnit::Feet;
    if (text == "Metres") return LengthUnit::Metres;
    return fail(Error::parse(".zedod manifest missing/invalid unit"));
}

std::uint64_t now_unix_seconds() {
    const auto since = std::chrono::system_clock::now().time_since_epoch();
    const auto secs = std::chrono::duration_cast<std::chrono::seconds>(since).count();
    return secs > 0 ? static_cast<std::uint64_t>(secs) : 0;
}

}  // namespace vz::project
