#include "io/wellpath.hpp"

#include <fmt/format.h>

#include "io/text.hpp"

namespace vz::wellpath {

std::optional<double> header_number(std::string_view h) {
    if (std::size_t colon = h.rfind(':'); colon != std::string_view::npos) h = h.substr(colon + 1);
    auto keep = [](char c) { return (c >= '0' && c <= '9') || c == '-' || c == '.'; };
    for (std::string_view tok : text::split_ws(h)) {
        while (!tok.empty() && !keep(tok.front())) tok.remove_prefix(1);
        while (!tok.empty() && !keep(tok.back())) tok.remove_suffix(1);
        if (auto v = text::parse_number(tok)) return *v;
    }
    return std::nullopt;
}

std::optional<std::vector<double>> row_numbers(const std::vector<std::string_view>& tokens) {
    std::vector<double> out;
    out.reserve(tokens.size());
    for (auto t : tokens) {
        auto v = text::parse_number(t);
        if (!v) return std::nullopt;
        out.push_back(*v);
    }
    return out;
}

Result<WellPathData> read_file(const std::filesystem::path& path) {
    VZ_ASSIGN_OR_RETURN(std::string bytes, text::read_file(path));
    WellPathData out;
    std::optional<double> hx, hy, kb;
    text::Lines lines(bytes);
    std::string_view raw;
    while (lines.next(raw)) {
        std::string_view l = text::trim(raw);
        if (l.empty() || l.front() == '=') continue;
        if (l.front() == '#') {
            std::string_view h = text::trim(l.substr(1));
            std::string u = text::upper(h);
            if (u.find("WELL HEAD X") != std::string::npos) {
                hx = header_number(h);
            } else if (u.find("WELL HEAD Y") != std::string::npos) {
                hy = header_number(h);
            } else if (u.find("DATUM") != std::string::npos && u.find("KB") != std::string::npos) {
                kb = header_number(h);
            } else if (!out.crs && (u.find("UTM") != std::string::npos || u.find("CRS") != std::string::npos)) {
                out.crs = text::decode_latin1(h);
            }
            continue;
        }
        auto toks = text::split_ws(l);
        if (toks.size() < 11) continue;
        auto nums = row_numbers(toks);
        if (!nums) continue;
        const auto& n = *nums;
        out.rows.push_back({n[0], n[1], n[2], n[4], n[8], n[10]});
    }
    if (!hx || !hy || !kb || out.rows.empty())
        return fail(Error::parse(fmt::format("wellpath '{}': missing wellhead X/Y / KB header or no survey rows",
                                             text::display_path(path))));
    out.head_x = *hx;
    out.head_y = *hy;
    out.kb = *kb;
    return out;
}

}  // namespace vz::wellpath
