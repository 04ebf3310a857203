#include "io/irap.hpp"

#include <fcntl.h>
#include <fmt/format.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <charconv>
#include <cmath>
#include <limits>
#include <memory>
#include <span>

#include "foundation/format.hpp"
#include "io/text.hpp"

namespace vz::irap {

namespace {

constexpr double kUndefined = 9999900.0;
constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

// Integer parsing with the wording users see in messages.
enum class IntError { Invalid, TooLarge, TooSmall };

const char* int_error_text(IntError e) {
    switch (e) {
        case IntError::Invalid: return "invalid digit found in string";
        case IntError::TooLarge: return "number too large to fit in target type";
        case IntError::TooSmall: return "number too small to fit in target type";
    }
    return "";
}

std::expected<std::uint64_t, IntError> parse_unsigned(std::string_view s) {
    if (!s.empty() && s.front() == '+') s.remove_prefix(1);
    if (s.empty()) return std::unexpected(IntError::Invalid);
    for (char c : s)
        if (c < '0' || c > '9') return std::unexpected(IntError::Invalid);
    std::uint64_t v = 0;
    auto r = std::from_chars(s.data(), s.data() + s.size(), v);
    if (r.ec == std::errc::result_out_of_range) return std::unexpected(IntError::TooLarge);
    return v;
}

std::expected<std::int64_t, IntError> parse_signed(std::string_view s) {
    bool neg = false;
    if (!s.empty() && (s.front() == '+' || s.front() == '-')) {
        neg = s.front() == '-';
        s.remove_prefix(1);
    }
    if (s.empty()) return std::unexpected(IntError::Invalid);
    for (char c : s)
        if (c < '0' || c > '9') return std::unexpected(IntError::Invalid);
    std::uint64_t mag = 0;
    auto r = std::from_chars(s.data(), s.data() + s.size(), mag);
    constexpr std::uint64_t kMaxPos = static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max());
    if (r.ec == std::errc::result_out_of_range || mag > kMaxPos + (neg ? 1 : 0))
        return std::unexpected(neg ? IntError::TooSmall : IntError::TooLarge);
    return neg ? static_cast<std::int64_t>(0 - mag) : static_cast<std::int64_t>(mag);
}

std::string shown(std::string_view token) { return text::decode_latin1(token); }

bool space_at(const char* p) { return text::is_space(*p); }

/// Fills `out` with the next out.size() grid values, values >= 9999900 as
/// NaN. A token is taken as parsed when the number parser stops exactly at
/// its end (the parser never takes white space, so that is the token's own
/// number); any other token goes through `next_number`, which parses it by
/// the full rules or reports it.
Result<void> read_values(TokenStream& tokens, std::span<double> out) {
    std::size_t k = 0;
    const auto place = [&](double v) { out[k] = v >= kUndefined ? kNaN : v; };
    const std::size_t count = out.size();
    while (k < count) {
        const std::string_view rest = tokens.rest();
        const char* const begin = rest.data();
        const char* const end = begin + rest.size();
        const char* p = begin;
        for (; k < count; ++k) {
            while (p != end && space_at(p)) ++p;
            if (p == end) break;
            double v = 0.0;
            const auto r = fast_float::from_chars(p, end, v);
            if (r.ec != std::errc() || (r.ptr != end && !space_at(r.ptr)) || r.ptr[-1] == ')') break;
            p = r.ptr;
            place(v);
        }
        tokens.consume(static_cast<std::size_t>(p - begin));
        if (k == count) break;
        VZ_ASSIGN_OR_RETURN(const double v, next_number(tokens, "grid value"));
        place(v);
        ++k;
    }
    return {};
}

}  // namespace

std::optional<std::string_view> TokenStream::next() {
    const std::size_t n = text_.size();
    while (pos_ < n && text::is_space(text_[pos_])) ++pos_;
    if (pos_ >= n) return std::nullopt;
    std::size_t b = pos_;
    while (pos_ < n && !text::is_space(text_[pos_])) ++pos_;
    return text_.substr(b, pos_ - b);
}

Result<std::uint64_t> next_integer(TokenStream& tokens, std::string_view field) {
    auto tok = tokens.next();
    if (!tok) return fail(Error::parse(fmt::format("IRAP classic: missing {}", field)));
    auto v = parse_unsigned(*tok);
    if (!v)
        return fail(Error::parse(
            fmt::format("IRAP classic: bad {} '{}': {}", field, shown(*tok), int_error_text(v.error()))));
    return *v;
}

Result<double> next_number(TokenStream& tokens, std::string_view field) {
    auto tok = tokens.next();
    if (!tok) return fail(Error::parse(fmt::format("IRAP classic: missing {}", field)));
    auto v = text::parse_number(*tok);
    if (!v)
        return fail(Error::parse(
            fmt::format("IRAP classic: bad {} '{}': {}", field, shown(*tok), text::number_error_text(v.error()))));
    return *v;
}

Result<SurfaceData> read_classic(const std::filesystem::path& path) {
    VZ_ASSIGN_OR_RETURN(std::string bytes, text::read_file(path));
    TokenStream tokens(bytes);
    auto id_tok = tokens.next();
    if (!id_tok) return fail(Error::parse("IRAP classic: empty file"));
    auto id = parse_signed(*id_tok);
    if (!id)
        return fail(Error::parse(
            fmt::format("IRAP classic: bad id flag '{}': {}", shown(*id_tok), int_error_text(id.error()))));
    if (*id != -996) return fail(Error::parse(fmt::format("IRAP classic: expected id -996, got {}", *id)));

    VZ_ASSIGN_OR_RETURN(std::uint64_t nrow, next_integer(tokens, "nrow"));
    VZ_ASSIGN_OR_RETURN(double xinc, next_number(tokens, "xinc"));
    VZ_ASSIGN_OR_RETURN(double yinc, next_number(tokens, "yinc"));
    for (const char* f : {"xmin", "xmax", "ymin", "ymax"}) VZ_TRY(next_number(tokens, f));
    VZ_ASSIGN_OR_RETURN(std::uint64_t ncol, next_integer(tokens, "ncol"));
    VZ_ASSIGN_OR_RETURN(double rotation, next_number(tokens, "rotation"));
    VZ_ASSIGN_OR_RETURN(double x0, next_number(tokens, "x0"));
    VZ_ASSIGN_OR_RETURN(double y0, next_number(tokens, "y0"));
    for (int k = 0; k < 7; ++k) VZ_TRY(next_number(tokens, "reserved value"));

    std::uint64_t count = 0;
    if (__builtin_mul_overflow(ncol, nrow, &count)) return fail(Error::parse("IRAP classic: ncol*nrow overflows"));
    if (ncol > kMaxGridNodes || nrow > kMaxGridNodes)
        return fail(Error::parse(fmt::format("IRAP classic: grid (ncol={}, nrow={}) is too large", ncol, nrow)));

    // The header's count is not trusted: every value needs at least one byte
    // and a separator, so a count the rest of the file cannot hold is read
    // through (to report the first bad or missing value) without reserving.
    const std::uint64_t capacity = (static_cast<std::uint64_t>(tokens.remaining()) + 1) / 2;
    if (count > capacity) {
        for (std::uint64_t k = 0; k < count; ++k) VZ_TRY(next_number(tokens, "grid value"));
        return fail(Error::parse("IRAP classic: missing grid value"));  // not reached: the file runs out first
    }
    // File order is row-major (column fastest); the lattice array is
    // column-outer. The values are read in file order, then transposed in
    // blocks that stay in cache (writing each value straight to its place
    // would touch a new page per value).
    const std::size_t nc = static_cast<std::size_t>(ncol), nr = static_cast<std::size_t>(nrow);
    const std::unique_ptr<double[]> flat(new double[static_cast<std::size_t>(count)]);
    VZ_TRY(read_values(tokens, std::span<double>(flat.get(), static_cast<std::size_t>(count))));
    std::vector<double> data(static_cast<std::size_t>(count));
    constexpr std::size_t B = 64;
    for (std::size_t j0 = 0; nc > 0 && j0 < nr; j0 += B)
        for (std::size_t i0 = 0; i0 < nc; i0 += B)
            for (std::size_t j = j0; j < std::min(nr, j0 + B); ++j)
                for (std::size_t i = i0; i < std::min(nc, i0 + B); ++i) data[i * nr + j] = flat[j * nc + i];

    GridGeometry geom{x0, y0, std::fabs(xinc), std::fabs(yinc), ncol, nrow, rotation, yinc < 0};
    return SurfaceData::make(geom, Grid2(nc, nr, std::move(data)));
}

namespace {

/// A growing text that hands out room for the next piece of at most
/// `kMaxNumText` bytes and keeps the bytes used.
class TextSink {
public:
    explicit TextSink(std::size_t expected) { text_.resize(std::max<std::size_t>(expected, 4 * kMaxNumText)); }
    /// Room for one more piece.
    char* room() {
        if (text_.size() - used_ < 2 * kMaxNumText) text_.resize(2 * text_.size());
        return text_.data() + used_;
    }
    void commit(char* end) { used_ = static_cast<std::size_t>(end - text_.data()); }
    void put(std::string_view s) {
        char* p = room();
        commit(std::copy(s.begin(), s.end(), p));
    }
    void put(double v) { commit(put_num(room(), v)); }
    void put(char c) {
        char* p = room();
        *p++ = c;
        commit(p);
    }
    std::string take() && {
        text_.resize(used_);
        return std::move(text_);
    }

private:
    std::string text_;
    std::size_t used_ = 0;
};

}  // namespace

Result<std::string> classic_text(const GridGeometry& g, const Grid2& values) {
    if (values.ncol() != g.ncol || values.nrow() != g.nrow)
        return fail(Error::geometry_mismatch(fmt::format("save_irap_classic: values shape [{}, {}] != grid (ncol={}, nrow={})",
                                                         values.ncol(), values.nrow(), g.ncol, g.nrow)));
    VZ_TRY(checked_node_count(g, "save_irap_classic"));
    const double yinc_written = g.yflip ? -g.yinc : g.yinc;
    const double xmax = g.xori + static_cast<double>(g.ncol == 0 ? 0 : g.ncol - 1) * g.xinc;
    const double ymax = g.yori + static_cast<double>(g.nrow == 0 ? 0 : g.nrow - 1) * g.yinc;
    const std::size_t nc = values.ncol(), nr = values.nrow();
    // About 20 bytes a node for typical depths; the sink grows past that.
    TextSink out(256 + nc * nr * 20);
    out.put(fmt::format("-996 {} ", g.nrow));
    out.put(g.xinc);
    out.put(' ');
    out.put(yinc_written);
    out.put('\n');
    for (double v : {g.xori, xmax, g.yori}) out.put(v), out.put(' ');
    out.put(ymax);
    out.put('\n');
    out.put(fmt::format("{} ", g.ncol));
    out.put(g.rotation_deg);
    out.put(' ');
    out.put(g.xori);
    out.put(' ');
    out.put(g.yori);
    out.put("\n0  0  0  0  0  0  0\n");
    const auto& data = values.data();
    std::size_t k = 0;
    for (std::size_t j = 0; nc > 0 && j < nr; ++j)  // no rows to walk on a lattice without columns
        for (std::size_t i = 0; i < nc; ++i, ++k) {
            const double v = data[i * nr + j];
            char* p = out.room();
            p = std::isnan(v) ? std::copy_n("9999900", 7, p) : put_num(p, v);
            *p++ = (k % 6 == 5) ? '\n' : ' ';
            out.commit(p);
        }
    std::string text = std::move(out).take();
    if (k % 6 != 0) text.back() = '\n';
    return text;
}

Result<void> write_classic(const std::filesystem::path& path, const GridGeometry& geom, const Grid2& values) {
    VZ_ASSIGN_OR_RETURN(std::string body, classic_text(geom, values));
    VZ_TRY(text::check_path(path));
    int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    if (fd < 0) return fail(Error::io_errno(errno, path));
    std::size_t done = 0;
    while (done < body.size()) {
        ssize_t n = ::write(fd, body.data() + done, body.size() - done);
        if (n < 0) {
            if (errno == EINTR) continue;
            int err = errno;
            ::close(fd);
            return fail(Error::io_errno(err, path));
        }
        done += static_cast<std::size_t>(n);
    }
    if (::close(fd) != 0) return fail(Error::io_errno(errno, path));
    return {};
}

// ---------------------------------------------------------------------------
// X Y Z point and polygon files

namespace {

std::optional<std::string_view> foreign_kind(std::string_view bytes) {
    text::Lines lines(bytes);
    std::string_view raw;
    for (int count = 0; count < 60 && lines.next(raw); ++count) {
        std::string_view l = text::trim(raw);
        if (l.empty()) continue;
        if (l.front() == '~') return "LAS";
        if (l.starts_with("->")) return "CPS-3";
        std::string u = text::upper(l);
        std::size_t e = 0;
        while (e < u.size() && !text::is_space(u[e])) ++e;
        std::string_view first(u.data(), e);
        for (std::string_view k : {"FSASCI", "FFASCI", "FFATTR", "FSNROW", "FSXINC", "FSLIMI"})
            if (first == k) return "CPS-3";
        if (u.find("EARTHVISION") != std::string::npos || u.find("GRID_SIZE") != std::string::npos ||
            u.find("GRID_SPACE") != std::string::npos)
            return "EarthVision grid";
        if (l.front() == '#' && u.find("FIELD:") != std::string::npos) return "EarthVision grid";
    }
    return std::nullopt;
}


}  // namespace

Result<PointColumns> read_points(const std::filesystem::path& path) {
    VZ_ASSIGN_OR_RETURN(std::string bytes, text::read_file(path));
    if (auto kind = foreign_kind(bytes))
        return fail(Error::format(fmt::format("IRAP points reader: '{}' looks like {}, not plain X Y Z \xE2\x80\x94 use the {} reader",
                                              text::display_path(path), *kind, *kind)));
    PointColumns out;
    text::Lines lines(bytes);
    std::string_view raw;
    while (lines.next(raw)) {
        VZ_ASSIGN_OR_RETURN(auto row, xyz::parse_line(raw, xyz::Encoding::Latin1));
        if (row && (*row)[0] != 999.0) out.points.push_back(*row);
    }
    return out;
}

Result<PolygonRings> read_polygons(const std::filesystem::path& path) {
    VZ_ASSIGN_OR_RETURN(std::string bytes, text::read_file(path));
    if (!text::valid_utf8(bytes))
        return fail(Error::io(fmt::format("'{}': stream did not contain valid UTF-8", text::display_path(path))));
    PolygonRings rings;
    std::vector<std::array<double, 3>> current;
    text::Lines lines(bytes);
    std::string_view raw;
    while (lines.next(raw)) {
        VZ_ASSIGN_OR_RETURN(auto row, xyz::parse_line(raw, xyz::Encoding::Utf8));
        if (!row) continue;
        if ((*row)[0] == 999.0) {
            if (!current.empty()) rings.push_back(std::move(current));
            current.clear();
        } else {
            current.push_back(*row);
        }
    }
    if (!current.empty()) rings.push_back(std::move(current));
    return rings;
}

}  // namespace vz::irap

namespace vz::xyz {

namespace {

// Length of the white-space character at `s[i]`, or 0 when it is none.
std::size_t space_len(std::string_view s, std::size_t i, Encoding enc) {
    auto c = static_cast<unsigned char>(s[i]);
    if (enc == Encoding::Latin1 || c < 0x80) return text::is_space(c) ? 1 : 0;
    std::size_t len = (c >> 5) == 0x6 ? 2 : (c >> 4) == 0xE ? 3 : (c >> 3) == 0x1E ? 4 : 0;
    if (len == 0 || i + len > s.size()) return 0;
    char32_t cp = c & (len == 2 ? 0x1F : len == 3 ? 0x0F : 0x07);
    for (std::size_t k = 1; k < len; ++k) cp = (cp << 6) | (static_cast<unsigned char>(s[i + k]) & 0x3F);
    return is_unicode_space(cp) ? len : 0;
}

std::string_view trim_enc(std::string_view s, Encoding enc) {
    return enc == Encoding::Latin1 ? text::trim(s) : trim_unicode(s);
}

std::string shown(std::string_view s, Encoding enc) {
    return enc == Encoding::Latin1 ? text::decode_latin1(s) : std::string(s);
}

}  // namespace

Result<std::optional<std::array<double, 3>>> parse_line(std::string_view line, Encoding enc) {
    std::string_view l = trim_enc(line, enc);
    if (l.empty() || l.front() == '#' || l.front() == '!') return std::optional<std::array<double, 3>>{};
    std::array<double, 3> xyz{};
    static constexpr const char* kNames[] = {"x", "y", "z"};
    std::size_t i = 0, n = l.size();
    for (int k = 0; k < 3; ++k) {
        // Skip separators: white space and ','.
        while (i < n) {
            if (l[i] == ',') {
                ++i;
                continue;
            }
            std::size_t w = space_len(l, i, enc);
            if (w == 0) break;
            i += w;
        }
        if (i >= n) return fail(Error::parse(fmt::format("XYZ: missing {} in '{}'", kNames[k], shown(l, enc))));
        std::size_t b = i;
        while (i < n && l[i] != ',' && space_len(l, i, enc) == 0) ++i;
        std::string_view piece = l.substr(b, i - b);
        auto v = text::parse_number(piece);
        if (!v)
            return fail(Error::parse(
                fmt::format("XYZ: bad {} '{}': {}", kNames[k], shown(piece, enc), text::number_error_text(v.error()))));
        xyz[k] = *v;
    }
    return std::optional<std::array<double, 3>>{xyz};
}

}  // namespace vz::xyz

namespace vz::point_data {

std::string normalize_attr_name(std::string_view name) {
    std::string out(trim_unicode(name));
    for (char& c : out) {
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c + 32);
        if (c == ' ' || c == '-') c = '_';
    }
    return out;
}

Result<PointColumns> attach_topology(PointColumns irap, const PointColumns& topology, double tolerance) {
    const std::vector<double>* col = nullptr;
    const std::vector<double>* row = nullptr;
    for (const auto& [name, values] : topology.attributes) {
        std::string key = normalize_attr_name(name);
        if (!col && (key == "col" || key == "column")) col = &values;
        if (!row && key == "row") row = &values;
    }
    if (!col) return fail(Error::geometry_inference("topology point set does not contain a column attribute"));
    if (!row) return fail(Error::geometry_inference("topology point set does not contain a row attribute"));

    std::vector<double> cols, rows;
    cols.reserve(irap.points.size());
    rows.reserve(irap.points.size());
    std::size_t cursor = 0;
    const auto& topo = topology.points;
    for (const auto& p : irap.points) {
        while (cursor < topo.size()) {
            const auto& t = topo[cursor];
            bool hit = std::fabs(p[0] - t[0]) <= tolerance && std::fabs(p[1] - t[1]) <= tolerance &&
                       std::fabs(p[2] - t[2]) <= tolerance;
            if (hit) break;
            ++cursor;
        }
        if (cursor >= topo.size())
            return fail(Error::geometry_inference("IRAP points are not an ordered subset of the topology point export"));
        cols.push_back(cursor < col->size() ? (*col)[cursor] : std::numeric_limits<double>::quiet_NaN());
        rows.push_back(cursor < row->size() ? (*row)[cursor] : std::numeric_limits<double>::quiet_NaN());
        ++cursor;
    }
    irap.attributes.insert_or_assign("column", std::move(cols));
    irap.attributes.insert_or_assign("row", std::move(rows));
    return irap;
}

}  // namespace vz::point_data
