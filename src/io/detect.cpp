#include "io/detect.hpp"

#include <charconv>

#include "io/text.hpp"

namespace vz {

namespace {

constexpr std::size_t kHeadBytes = 65536;
constexpr int kSniffLines = 160;
constexpr std::size_t kHeadChars = 512;

bool contains(std::string_view hay, std::string_view needle) { return hay.find(needle) != std::string_view::npos; }

bool parse_u64(std::string_view s, std::uint64_t& out) {
    if (!s.empty() && s.front() == '+') s.remove_prefix(1);
    if (s.empty()) return false;
    for (char c : s)
        if (c < '0' || c > '9') return false;
    auto r = std::from_chars(s.data(), s.data() + s.size(), out);
    return r.ec == std::errc() && r.ptr == s.data() + s.size();
}

// True when `b` read as UTF-16 in the given byte order is text (see
// `FormatKind::is_binary`).
bool utf16_text(std::string_view b, bool big_endian) {
    auto unit = [&](std::size_t i) -> unsigned {
        const auto first = static_cast<unsigned char>(b[i]);
        const auto second = static_cast<unsigned char>(b[i + 1]);
        return big_endian ? (first << 8 | second) : (second << 8 | first);
    };
    const std::size_t n = b.size() & ~std::size_t{1};
    for (std::size_t i = 0; i < n; i += 2) {
        const unsigned u = unit(i);
        if (u < 0x20 && (u < 0x09 || u > 0x0D)) return false;
        if (u >= 0xDC00 && u < 0xE000) return false;
        if (u >= 0xD800 && u < 0xDC00) {
            if (i + 2 >= n) break;  // the pair runs past the bytes read
            const unsigned low = unit(i + 2);
            if (low < 0xDC00 || low >= 0xE000) return false;
            i += 2;
        }
    }
    return true;
}

bool has_ascii_letter(std::string_view s) {
    for (char c : s)
        if ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z')) return true;
    return false;
}

}  // namespace

std::string_view FormatKind::name() const {
    switch (v_) {
        case Cps3Grid: return "Cps3Grid";
        case Cps3Lines: return "Cps3Lines";
        case IrapClassicGrid: return "IrapClassicGrid";
        case IrapClassicPoints: return "IrapClassicPoints";
        case EarthVisionGrid: return "EarthVisionGrid";
        case Las: return "Las";
        case WellPath: return "WellPath";
        case PetrelTops: return "PetrelTops";
        case CrsMetaXml: return "CrsMetaXml";
        case GeoJson: return "GeoJson";
        case CsvPoints: return "CsvPoints";
        case Unknown: return "Unknown";
    }
    return "Unknown";
}

Result<FormatKind> FormatKind::detect(const std::filesystem::path& path) {
    VZ_ASSIGN_OR_RETURN(std::string head, text::read_head(path, kHeadBytes));
    if (auto k = sniff(head)) return *k;
    return from_extension(path);
}

std::vector<std::string> FormatKind::csv_header_tokens(std::string_view line) {
    std::vector<std::string> out;
    std::size_t start = 0;
    while (true) {
        std::size_t comma = line.find(',', start);
        std::string_view piece = line.substr(start, comma == std::string_view::npos ? line.npos : comma - start);
        piece = text::trim(piece);
        while (!piece.empty() && piece.front() == '"') piece.remove_prefix(1);
        while (!piece.empty() && piece.back() == '"') piece.remove_suffix(1);
        std::string tok(piece);
        for (char& c : tok)
            if (c >= 'A' && c <= 'Z') c = static_cast<char>(c + 32);
        out.push_back(std::move(tok));
        if (comma == std::string_view::npos) break;
        start = comma + 1;
    }
    return out;
}

bool FormatKind::csv_header_has_xyz(const std::vector<std::string>& tokens) {
    bool x = false, y = false, z = false;
    for (const auto& t : tokens) {
        x = x || t == "x" || t == "easting";
        y = y || t == "y" || t == "northing";
        z = z || t == "z" || t == "depth" || t == "tvd";
    }
    return x && y && z;
}

bool FormatKind::looks_like_irap_grid(std::string_view line) {
    auto toks = text::split_ws(line);
    std::uint64_t n = 0;
    return toks.size() >= 2 && toks[0] == "-996" && parse_u64(toks[1], n);
}

bool FormatKind::looks_like_xyz(std::string_view line) {
    int seen = 0, numeric = 0;
    std::size_t i = 0, n = line.size();
    auto sep = [](char c) { return c == ',' || text::is_space(c); };
    while (i < n && seen < 4) {
        while (i < n && sep(line[i])) ++i;
        std::size_t b = i;
        while (i < n && !sep(line[i])) ++i;
        if (i > b) {
            ++seen;
            if (text::parse_number(line.substr(b, i - b))) ++numeric;
        }
    }
    return numeric >= 3;
}

bool FormatKind::is_binary(std::string_view bytes) {
    if (bytes.find('\0') == std::string_view::npos) return false;
    if (bytes.starts_with("\xFF\xFE")) return !utf16_text(bytes.substr(2), false);
    if (bytes.starts_with("\xFE\xFF")) return !utf16_text(bytes.substr(2), true);
    return !utf16_text(bytes, false) && !utf16_text(bytes, true);
}

std::optional<FormatKind> FormatKind::sniff(std::string_view text) {
    // Read as Latin-1, any bytes look like text of some kind: a shapefile
    // whose coordinates hold "\n~" would be a LAS file, an IRAP binary grid
    // named .gri a classic one.
    if (is_binary(text)) return Unknown;
    std::optional<std::string_view> first_data;
    bool ev = false, wellpath = false, survey = false, cps3_grid = false, arrow = false;
    bool p_type = false, p_well = false, p_surface = false, p_md = false;
    std::optional<std::vector<std::string>> csv_header;

    text::Lines lines(text);
    std::string_view raw;
    for (int count = 0; count < kSniffLines && lines.next(raw); ++count) {
        std::string_view l = text::trim(raw);
        if (l.empty()) continue;
        std::string u = text::upper(l);
        if (!first_data && l.front() != '#' && l.front() != '!') first_data = l;
        if (l.front() == '~') return Las;
        if (contains(u, "PETREL WELL TOPS")) return PetrelTops;
        if (contains(u, "EARTHVISION") || contains(u, "GRID_SIZE") || contains(u, "GRID_SPACE") ||
            (l.front() == '#' && contains(u, "FIELD:")))
            ev = true;
        if (contains(u, "WELL TRACE") || contains(u, "WELL HEAD") || contains(u, "KELLY BUSHING")) wellpath = true;
        if (contains(u, "MD") && contains(u, "TVD") && contains(u, "INCL") && contains(u, "AZIM")) survey = true;
        if (l.size() > 1 && l.starts_with("->")) {
            arrow = true;
        } else {
            std::string_view ut = u;
            std::size_t e = 0;
            while (e < ut.size() && !text::is_space(ut[e])) ++e;
            ut = ut.substr(0, e);
            if (ut == "FSNROW" || ut == "FSXINC" || ut == "FSLIMI") cps3_grid = true;
        }
        if (u == "TYPE") p_type = true;
        if (u == "WELL") p_well = true;
        if (u == "SURFACE") p_surface = true;
        if (u == "MD") p_md = true;
        if (!csv_header && contains(l, ",") && has_ascii_letter(l)) csv_header = csv_header_tokens(l);
    }

    if (cps3_grid) return Cps3Grid;
    if (arrow) return Cps3Lines;
    if (ev) return EarthVisionGrid;
    if (wellpath && survey) return WellPath;
    if (p_type && p_well && p_surface && p_md) return PetrelTops;

    std::size_t b = 0;
    while (b < text.size() && text::is_space(text[b])) ++b;
    std::string head(text.substr(b, kHeadChars));
    for (char& c : head)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c + 32);
    if ((head.starts_with("<?xml") || head.starts_with("<crsmeta")) && contains(head, "crsmeta")) return CrsMetaXml;
    if (!head.empty() && (head.front() == '{' || head.front() == '[') && contains(head, "\"type\"") &&
        (contains(head, "featurecollection") || contains(head, "\"feature\"") || contains(head, "point") ||
         contains(head, "polygon")))
        return GeoJson;
    if (csv_header && csv_header_has_xyz(*csv_header)) return CsvPoints;
    if (!first_data) return std::nullopt;
    if (looks_like_irap_grid(*first_data)) return IrapClassicGrid;
    if (looks_like_xyz(*first_data)) return IrapClassicPoints;
    return std::nullopt;
}

FormatKind FormatKind::from_extension(const std::filesystem::path& path) {
    std::string name = path.filename().string();
    std::size_t dot = name.rfind('.');
    if (dot == std::string::npos || dot == 0) return Unknown;
    std::string ext = name.substr(dot + 1);
    // Only valid UTF-8 text counts as an extension.
    for (std::size_t i = 0; i < ext.size();) {
        unsigned char c = static_cast<unsigned char>(ext[i]);
        std::size_t len = c < 0x80 ? 1 : (c >> 5) == 0x6 ? 2 : (c >> 4) == 0xE ? 3 : (c >> 3) == 0x1E ? 4 : 0;
        if (len == 0 || i + len > ext.size()) return Unknown;
        for (std::size_t k = 1; k < len; ++k)
            if ((static_cast<unsigned char>(ext[i + k]) & 0xC0) != 0x80) return Unknown;
        i += len;
    }
    for (char& c : ext)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c + 32);
    struct Row {
        std::string_view ext;
        Value kind;
    };
    static constexpr Row kTable[] = {
        {"cps3grid", Cps3Grid},
        {"cps3lines", Cps3Lines},
        {"irap", IrapClassicGrid},
        {"gri", IrapClassicGrid},
        {"irapclassicpoints", IrapClassicPoints},
        {"xyz", IrapClassicPoints},
        {"dat", IrapClassicPoints},
        {"earthvisiongrid", EarthVisionGrid},
        {"las", Las},
        {"wellpath", WellPath},
        {"tops", PetrelTops},
        {"xml", CrsMetaXml},
        {"geojson", GeoJson},
        {"json", GeoJson},
        {"csv", CsvPoints},
    };
    for (const auto& r : kTable)
        if (r.ext == ext) return r.kind;
    return Unknown;
}

}  // namespace vz
