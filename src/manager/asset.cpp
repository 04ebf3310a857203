#include "manager/asset.hpp"

#include <fmt/format.h>

#include <cstring>
#include <limits>

#include "container/json.hpp"

namespace vz::asset {

namespace {

constexpr char kMagic[8] = {'K', 'I', 'O', 'A', 'S', 'S', 'E', 'T'};

std::string_view as_text(std::span<const std::uint8_t> bytes) {
    return {reinterpret_cast<const char*>(bytes.data()), bytes.size()};
}

Result<container::Json> parse_object(std::span<const std::uint8_t> envelope) {
    auto value = container::parse_json(as_text(envelope));
    if (!value) return fail(Error::parse(fmt::format("invalid asset envelope JSON: {}", value.error().display())));
    if (!value->is_object()) return fail(Error::parse("asset envelope must be a JSON object"));
    return std::move(*value);
}

}  // namespace

Result<void> validate_name(std::string_view name) {
    if (name.size() < 7 || name.size() > 1024 || !name.starts_with(kNamePrefix) ||
        name.find('\\') != std::string_view::npos || name.find('\0') != std::string_view::npos) {
        return fail(Error::parse(
            fmt::format("invalid asset name '{}': expected '{}<collection>/<name>'", name, kNamePrefix)));
    }
    std::size_t segments = 0;
    bool bad = false;
    std::size_t start = 0;
    for (;;) {
        const std::size_t slash = name.find('/', start);
        const std::string_view seg = name.substr(start, slash == std::string_view::npos ? name.npos : slash - start);
        ++segments;
        if (seg.empty() || seg == "." || seg == "..") bad = true;
        if (slash == std::string_view::npos) break;
        start = slash + 1;
    }
    if (bad || segments < 3) {
        return fail(
            Error::parse(fmt::format("invalid asset name '{}': empty and traversal path segments are forbidden", name)));
    }
    return {};
}

Result<std::string> parse_envelope(std::span<const std::uint8_t> envelope) {
    VZ_ASSIGN_OR_RETURN(auto obj, parse_object(envelope));
    for (const char* key : {"asset_type", "provider", "codec"}) {
        const container::Json* v = obj.find(key);
        const std::string* s = v ? v->as_string() : nullptr;
        if (s == nullptr || s->empty()) {
            return fail(Error::parse(fmt::format("asset envelope missing non-empty '{}'", key)));
        }
    }
    const container::Json* sv = obj.find("schema_version");
    const auto version = sv ? sv->as_u64() : std::nullopt;
    if (!version) return fail(Error::parse("asset envelope missing positive integer 'schema_version'"));
    if (*version < 1 || *version > std::numeric_limits<std::uint32_t>::max()) {
        return fail(Error::parse("asset envelope schema_version is out of range"));
    }
    return *obj.find("asset_type")->as_string();
}

Result<void> validate_frame(std::string_view kind, std::span<const std::uint8_t> envelope, std::uint32_t version) {
    if (version != kFrameVersion) {
        return fail(Error::parse(
            fmt::format("cannot create asset frame v{}; supported version is {}", version, kFrameVersion)));
    }
    VZ_ASSIGN_OR_RETURN(auto asset_type, parse_envelope(envelope));
    if (kind != asset_type) {
        return fail(Error::parse(
            fmt::format("asset kind '{}' disagrees with envelope asset_type '{}'", kind, asset_type)));
    }
    VZ_ASSIGN_OR_RETURN(auto obj, parse_object(envelope));
    if (container::to_json_text(obj) != as_text(envelope)) {
        return fail(Error::parse("asset envelope must be canonical compact UTF-8 JSON"));
    }
    return {};
}

Result<std::vector<std::uint8_t>> encode_frame(std::span<const std::uint8_t> envelope,
                                               std::span<const std::uint8_t> data) {
    if (envelope.size() > std::numeric_limits<std::uint32_t>::max()) {
        return fail(Error::parse("asset envelope is too large"));
    }
    const auto len = static_cast<std::uint32_t>(envelope.size());
    std::vector<std::uint8_t> frame;
    frame.reserve(12 + envelope.size() + data.size());
    frame.insert(frame.end(), kMagic, kMagic + 8);
    for (int i = 0; i < 4; ++i) frame.push_back(static_cast<std::uint8_t>(len >> (8 * i)));
    frame.insert(frame.end(), envelope.begin(), envelope.end());
    frame.insert(frame.end(), data.begin(), data.end());
    return frame;
}

Result<std::pair<std::vector<std::uint8_t>, std::vector<std::uint8_t>>> decode_frame(
    std::span<const std::uint8_t> frame) {
    if (frame.size() < 12 || std::memcmp(frame.data(), kMagic, 8) != 0) {
        return fail(Error::parse("invalid asset frame magic/length"));
    }
    std::uint64_t len = 0;
    for (int i = 0; i < 4; ++i) len |= static_cast<std::uint64_t>(frame[8 + i]) << (8 * i);
    if (12 + len > frame.size()) return fail(Error::parse("invalid asset envelope length"));
    const auto env = frame.subspan(12, static_cast<std::size_t>(len));
    const auto data = frame.subspan(12 + static_cast<std::size_t>(len));
    return std::pair{std::vector<std::uint8_t>(env.begin(), env.end()),
                     std::vector<std::uint8_t>(data.begin(), data.end())};
}

}  // namespace vz::asset
