#include "io/petrel_tops.hpp"

#include <cmath>

#include "io/text.hpp"

namespace vz::petrel_tops {

std::vector<std::string> tokenize(std::string_view line) {
    std::vector<std::string> out;
    std::string cur;
    bool quoted = false;
    for (char c : line) {
        if (c == '"') {
            quoted = !quoted;
        } else if (!quoted && text::is_space(c)) {
            if (!cur.empty()) out.push_back(std::move(cur)), cur.clear();
        } else {
            cur.push_back(c);
        }
    }
    if (!cur.empty()) out.push_back(std::move(cur));
    return out;
}

Result<std::vector<PetrelTopRow>> read_file(const std::filesystem::path& path) {
    VZ_ASSIGN_OR_RETURN(std::string bytes, text::read_file(path));
    std::vector<PetrelTopRow> out;
    bool in_body = false;
    text::Lines lines(bytes);
    std::string_view raw;
    while (lines.next(raw)) {
        std::string_view l = text::trim(raw);
        if (text::iequals(l, "END HEADER")) {
            in_body = true;
            continue;
        }
        if (!in_body || l.empty() || l.front() == '#') continue;
        auto toks = tokenize(l);
        if (toks.size() < 11) continue;
        auto md = text::parse_number(toks[6]);
        if (!md || !std::isfinite(*md) || std::fabs(*md - (-999.0)) <= 1e-6) continue;
        out.push_back(PetrelTopRow{text::decode_latin1(toks[10]), text::decode_latin1(toks[9]),
                                   text::decode_latin1(toks[8]), *md});
    }
    return out;
}

}  // namespace vz::petrel_tops
