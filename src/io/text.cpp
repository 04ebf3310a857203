#include "io/text.hpp"
#include "utf8.hpp"

#include <fast_float/fast_float.h>
#include <fcntl.h>
#include <fmt/format.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <new>
#include <cstdint>
#include <cstring>

namespace vz::text {

std::string decode_latin1(std::string_view bytes) {
    std::size_t high = 0;
    for (unsigned char c : bytes) high += c >= 0x80;
    if (high == 0) return std::string(bytes);
    std::string out;
    out.reserve(bytes.size() + high);
    for (unsigned char c : bytes) {
        if (c < 0x80) {
            out.push_back(static_cast<char>(c));
        } else {
            out.push_back(static_cast<char>(0xC0 | (c >> 6)));
            out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
        }
    }
    return out;
}

Result<void> check_path(const std::filesystem::path& path) {
    if (path.native().find('\0') == std::string::npos) return {};
    return fail(Error::io(fmt::format("path contains a NUL character: '{}'", display_path(path))));
}

namespace {

// Closes a descriptor on every path out of a read.
struct Fd {
    int fd;
    ~Fd() {
        if (fd >= 0) ::close(fd);
    }
};

Result<std::string> read_upto(const std::filesystem::path& path, std::size_t limit) {
    VZ_TRY(check_path(path));
    // Opened without blocking, so that a named pipe with no writer cannot
    // hold the call; a pipe, socket or device is refused rather than read
    // (it may never end, like /dev/zero). A directory goes on to the read,
    // whose own error names it.
    Fd f{::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK)};
    if (f.fd < 0) return fail(Error::io_errno(errno, path));
    struct stat st {};
    if (::fstat(f.fd, &st) != 0) return fail(Error::io_errno(errno, path));
    if (!S_ISREG(st.st_mode) && !S_ISDIR(st.st_mode))
        return fail(Error::io(fmt::format("'{}' is not a regular file", display_path(path))));
    std::string buf;
    // The size is only a hint for the first allocation; the read runs to the
    // end of the file whatever the size said.
    std::size_t chunk = 1 << 16;
    if (S_ISREG(st.st_mode) && st.st_size > 0) {
        chunk = std::min<std::size_t>(static_cast<std::size_t>(st.st_size) + 1, limit);
    }
    std::size_t used = 0;
    while (used < limit) {
        if (buf.size() - used == 0) {
            // Grow without zero-filling: the read overwrites the new room. A
            // file larger than the memory available is the system's "cannot
            // allocate memory", like any other failed read.
            std::size_t want = std::min(limit, used + std::max<std::size_t>(chunk, buf.size()));
            try {
                buf.resize_and_overwrite(want, [](char*, std::size_t n) { return n; });
            } catch (const std::bad_alloc&) {
                buf = std::string();
                return fail(Error::io_errno(ENOMEM, path));
            }
        }
        ssize_t n = ::read(f.fd, buf.data() + used, buf.size() - used);
        if (n < 0) {
            if (errno == EINTR) continue;
            return fail(Error::io_errno(errno, path));
        }
        if (n == 0) break;
        used += static_cast<std::size_t>(n);
    }
    buf.resize(used);
    return buf;
}

}  // namespace

Result<std::string> read_file(const std::filesystem::path& path) {
    return read_upto(path, static_cast<std::size_t>(-1) / 2);
}

Result<std::string> read_head(const std::filesystem::path& path, std::size_t limit) { return read_upto(path, limit); }

std::string_view trim(std::string_view s) {
    std::size_t b = 0, e = s.size();
    while (b < e && is_space(s[b])) ++b;
    while (e > b && is_space(s[e - 1])) --e;
    return s.substr(b, e - b);
}

std::vector<std::string_view> split_lines(std::string_view text) {
    std::vector<std::string_view> out;
    Lines lines(text);
    std::string_view line;
    while (lines.next(line)) out.push_back(line);
    return out;
}

std::vector<std::string_view> split_ws(std::string_view s) {
    std::vector<std::string_view> out;
    std::size_t i = 0, n = s.size();
    while (i < n) {
        while (i < n && is_space(s[i])) ++i;
        std::size_t b = i;
        while (i < n && !is_space(s[i])) ++i;
        if (i > b) out.push_back(s.substr(b, i - b));
    }
    return out;
}

const char* number_error_text(NumberError e) {
    return e == NumberError::Empty ? "cannot parse float from empty string" : "invalid float literal";
}

bool is_number_syntax(std::string_view s) {
    std::size_t p = 0, n = s.size();
    if (p < n && (s[p] == '+' || s[p] == '-')) ++p;
    std::string_view rest = s.substr(p);
    if (iequals(rest, "inf") || iequals(rest, "infinity") || iequals(rest, "nan")) return true;
    std::size_t digits = 0;
    while (p < n && s[p] >= '0' && s[p] <= '9') ++p, ++digits;
    if (p < n && s[p] == '.') {
        ++p;
        while (p < n && s[p] >= '0' && s[p] <= '9') ++p, ++digits;
    }
    if (digits == 0) return false;
    if (p < n && (s[p] == 'e' || s[p] == 'E')) {
        ++p;
        if (p < n && (s[p] == '+' || s[p] == '-')) ++p;
        std::size_t exp = 0;
        while (p < n && s[p] >= '0' && s[p] <= '9') ++p, ++exp;
        if (exp == 0) return false;
    }
    return p == n;
}

std::expected<double, NumberError> parse_number_slow(std::string_view token) {
    if (token.empty()) return std::unexpected(NumberError::Empty);
    const char* first = token.data();
    const char* last = first + token.size();
    double v = 0.0;
    if (!is_number_syntax(token)) return std::unexpected(NumberError::Invalid);
    if (*first == '+') ++first;
    auto r = fast_float::from_chars(first, last, v);
    if (r.ptr != last) return std::unexpected(NumberError::Invalid);
    return v;  // out-of-range magnitudes come back rounded (inf or 0)
}

std::vector<double> lenient_numbers(std::string_view line) {
    std::vector<double> out;
    std::size_t i = 0, n = line.size();
    auto sep = [](char c) { return c == ',' || is_space(c); };
    while (i < n) {
        while (i < n && sep(line[i])) ++i;
        std::size_t b = i;
        while (i < n && !sep(line[i])) ++i;
        if (i > b) {
            if (auto v = parse_number(line.substr(b, i - b))) out.push_back(*v);
        }
    }
    return out;
}

bool valid_utf8(std::string_view s) { return utf8::is_valid(s); }

namespace {
constexpr char up(char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 32) : c; }
}  // namespace

std::string upper(std::string_view s) {
    std::string out(s);
    for (char& c : out) c = up(c);
    return out;
}

bool iequals(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i)
        if (up(a[i]) != up(b[i])) return false;
    return true;
}

bool istarts_with(std::string_view s, std::string_view prefix) {
    return s.size() >= prefix.size() && iequals(s.substr(0, prefix.size()), prefix);
}

bool icontains(std::string_view hay, std::string_view needle) {
    if (needle.empty()) return true;
    if (hay.size() < needle.size()) return false;
    for (std::size_t i = 0; i + needle.size() <= hay.size(); ++i)
        if (iequals(hay.substr(i, needle.size()), needle)) return true;
    return false;
}

std::string display_path(const std::filesystem::path& path) { return vz::display_path(path); }

std::string io_reason(const Error& e, const std::filesystem::path& path) {
    const std::string& m = e.message();
    const std::string named = "'" + display_path(path) + "': ";
    if (e.kind() == ErrorKind::Io && m.starts_with(named)) return m.substr(named.size());
    return m;
}

}  // namespace vz::text
