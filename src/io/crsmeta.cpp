#include "io/crsmeta.hpp"

#include <fmt/format.h>

#include "io/text.hpp"

namespace vz::crsmeta {

namespace {

std::string lower(std::string_view s) {
    std::string out(s);
    for (char& c : out)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c + 32);
    return out;
}

}  // namespace

std::optional<std::string_view> element_text(std::string_view text, std::string_view tag) {
    std::string low = lower(text);
    std::string open = fmt::format("<{}>", tag), close = fmt::format("</{}>", tag);
    std::size_t b = low.find(open);
    if (b == std::string::npos) return std::nullopt;
    b += open.size();
    std::size_t e = low.find(close, b);
    if (e == std::string::npos) return std::nullopt;
    return text.substr(b, e - b);
}

std::optional<std::string_view> attribute_value(std::string_view text, std::string_view name) {
    std::string low = lower(text);
    for (char q : {'"', '\''}) {
        std::string key = fmt::format("{}={}", name, q);
        std::size_t b = low.find(key);
        if (b == std::string::npos) continue;
        b += key.size();
        std::size_t e = low.find(q, b);
        if (e == std::string::npos || e == b) continue;
        return text.substr(b, e - b);
    }
    return std::nullopt;
}

std::string unescape_entities(std::string_view s) {
    static constexpr std::pair<std::string_view, char> kEntities[] = {
        {"&amp;", '&'}, {"&lt;", '<'}, {"&gt;", '>'}, {"&quot;", '"'}, {"&apos;", '\''}};
    std::string out;
    out.reserve(s.size());
    for (std::size_t i = 0; i < s.size();) {
        bool replaced = false;
        if (s[i] == '&') {
            for (const auto& [ent, ch] : kEntities)
                if (s.substr(i, ent.size()) == ent) {
                    out.push_back(ch);
                    i += ent.size();
                    replaced = true;
                    break;
                }
        }
        if (!replaced) out.push_back(s[i++]);
    }
    return out;
}

Result<std::string> read_crs_label(const std::filesystem::path& path) {
    VZ_ASSIGN_OR_RETURN(std::string bytes, text::read_file(path));
    std::optional<std::string_view> found = element_text(bytes, "label");
    if (!found) found = element_text(bytes, "crs");
    if (!found) found = attribute_value(bytes, "label");
    if (!found) found = attribute_value(bytes, "name");
    std::string_view label = found ? text::trim(*found) : std::string_view{};
    if (label.empty())
        return fail(Error::parse(fmt::format("crsmeta '{}': no CRS label found", text::display_path(path))));
    return unescape_entities(text::decode_latin1(label));
}

}  // namespace vz::crsmeta
