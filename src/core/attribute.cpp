#include "core/attribute.hpp"

#include <charconv>
#include <cstdint>

#include <fmt/format.h>

#include "foundation/format.hpp"

namespace vz {

namespace {

bool trimmed_nonempty(std::string_view s) { return !s.empty() && trim_unicode(s).size() == s.size(); }

bool is_hex(char c) { return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F'); }

bool valid_color(std::string_view c) {
    if (c.size() != 7 || c[0] != '#') return false;
    for (std::size_t k = 1; k < 7; ++k)
        if (!is_hex(c[k])) return false;
    return true;
}

/// A signed 64-bit decimal: optional + or -, then one or more digits, nothing
/// else, within range.
std::optional<std::int64_t> parse_code_key(std::string_view key) {
    std::string_view digits = key;
    if (!digits.empty() && digits.front() == '+') digits.remove_prefix(1);
    std::string_view body = digits;
    if (!body.empty() && body.front() == '-' && digits.data() == key.data()) body.remove_prefix(1);
    if (body.empty()) return std::nullopt;
    for (char c : body)
        if (c < '0' || c > '9') return std::nullopt;
    std::int64_t value = 0;
    auto [ptr, ec] = std::from_chars(digits.data(), digits.data() + digits.size(), value);
    if (ec != std::errc() || ptr != digits.data() + digits.size()) return std::nullopt;
    return value;
}

}  // namespace

const char* attribute_kind_name(AttributeKind kind) {
    return kind == AttributeKind::Categorical ? "categorical" : "continuous";
}

Result<void> CodeRecord::validate() const {
    if (label && !trimmed_nonempty(*label))
        return fail(Error::parse("attribute code label must be null or a non-empty, trimmed string"));
    if (color && !valid_color(*color))
        return fail(Error::parse(fmt::format("attribute code color '{}' must be #RRGGBB or null", *color)));
    return {};
}

Result<CodeRecord> CodeRecord::from_parts(std::optional<std::string> label, std::optional<std::string> color) {
    CodeRecord rec{std::move(label), std::nullopt};
    if (color) rec.color = ascii_upper(*color);
    VZ_TRY(rec.validate());
    return rec;
}

Result<AttributeMetadata> AttributeMetadata::for_lane(std::string_view name) {
    AttributeMetadata m{std::string(name), std::string(name), AttributeKind::Continuous, std::nullopt, std::nullopt};
    VZ_TRY(m.validate());
    return m;
}

Result<void> AttributeMetadata::validate() const {
    if (!trimmed_nonempty(id) || !trimmed_nonempty(label))
        return fail(Error::parse("attribute metadata id and label must be non-empty, trimmed strings"));
    if (units && !trimmed_nonempty(*units))
        return fail(Error::parse("attribute metadata units must be null or a non-empty, trimmed string"));
    if (!codes) return {};
    if (kind == AttributeKind::Continuous)
        return fail(Error::parse("continuous attribute metadata must use codes=null"));
    for (const auto& [key, rec] : *codes) {
        const auto parsed = parse_code_key(key);
        if (!parsed)
            return fail(Error::parse(fmt::format("attribute code key '{}' must be a canonical integer string", key)));
        const std::string canonical = fmt::format("{}", *parsed);
        if (canonical != key)
            return fail(Error::parse(
                fmt::format("attribute code key '{}' must be canonical integer string '{}'", key, canonical)));
        VZ_TRY(rec.validate());
    }
    return {};
}

void AttributeMetadata::canonicalize() {
    label = std::string(trim_unicode(label));
    if (units) units = std::string(trim_unicode(*units));
    if (codes) {
        for (auto it = codes->begin(); it != codes->end(); ++it) {
            CodeRecord& rec = it.value();
            if (rec.label) rec.label = std::string(trim_unicode(*rec.label));
            if (rec.color) rec.color = ascii_upper(*rec.color);
        }
    }
}

}  // namespace vz
