#include "foundation/format.hpp"

#include <fmt/format.h>

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <system_error>

namespace vz {

namespace {

bool special(double x, std::string& out) {
    if (std::isnan(x)) {
        out = "NaN";
        return true;
    }
    if (std::isinf(x)) {
        out = x > 0 ? "inf" : "-inf";
        return true;
    }
    return false;
}

}  // namespace

char* put_num(char* p, double x) {
    if (std::isnan(x)) return std::copy_n("NaN", 3, p);
    if (std::isinf(x)) return x > 0 ? std::copy_n("inf", 3, p) : std::copy_n("-inf", 4, p);
    if (std::signbit(x)) *p++ = '-';
    if (x == 0.0) {
        *p++ = '0';
        return p;
    }
    // The shortest digits that read back to x and their decimal exponent,
    // laid out positionally. The scientific form of to_chars gives exactly
    // those digits ("d.ddde+XX"); its fixed form would write the exact
    // expansion of a large double (99999999999999991611392 for 1e23).
    char sci[32];
    const auto r = std::to_chars(sci, sci + sizeof sci, std::fabs(x), std::chars_format::scientific);
    const char* e = std::find(sci, r.ptr, 'e');
    char digits[20];
    char* const dend = digits + sizeof digits;
    char* d = dend;
    // Digits right to left without the point; trailing zeros never occur in
    // the shortest form except for a single "0", which x != 0 rules out.
    for (const char* c = e; c != sci;) {
        --c;
        if (*c != '.') *--d = *c;
    }
    int exp10 = 0;
    std::from_chars(e + 1 + (e[1] == '+'), r.ptr, exp10);
    const int n = static_cast<int>(dend - d);
    const int exponent = exp10 - (n - 1);  // of the last digit
    const int point = n + exponent;          // digits before the decimal point
    if (exponent >= 0) {
        p = std::copy(d, dend, p);
        return std::fill_n(p, exponent, '0');
    }
    if (point > 0) {
        p = std::copy(d, d + point, p);
        *p++ = '.';
        return std::copy(d + point, dend, p);
    }
    *p++ = '0';
    *p++ = '.';
    p = std::fill_n(p, -point, '0');
    return std::copy(d, dend, p);
}

std::string num(double x) {
    char buf[kMaxNumText];
    return std::string(buf, put_num(buf, x));
}

std::string debug_num(double x) {
    std::string out;
    if (special(x, out)) return out;
    double a = std::fabs(x);
    char buf[400];
    if (a != 0.0 && (a >= 1e16 || a < 1e-4)) {
        auto r = std::to_chars(buf, buf + sizeof buf, x, std::chars_format::scientific);
        std::string s(buf, r.ptr);
        // to_chars writes "1.5e-05" / "1e+16"; the debug form is "1.5e-5" / "1e16".
        auto e = s.find('e');
        std::string mant = s.substr(0, e);
        std::string exp = s.substr(e + 1);
        bool neg = !exp.empty() && exp[0] == '-';
        std::size_t k = (exp[0] == '-' || exp[0] == '+') ? 1 : 0;
        while (k + 1 < exp.size() && exp[k] == '0') ++k;
        return mant + "e" + (neg ? "-" : "") + exp.substr(k);
    }
    auto r = std::to_chars(buf, buf + sizeof buf, x, std::chars_format::fixed);
    std::string s(buf, r.ptr);
    if (s.find('.') == std::string::npos) s += ".0";
    return s;
}

std::string fixed(double x, int precision) {
    std::string out;
    if (special(x, out)) return out;
    char buf[512];
    auto r = std::to_chars(buf, buf + sizeof buf, x, std::chars_format::fixed, precision);
    if (r.ec != std::errc()) {
        int n = std::snprintf(buf, sizeof buf, "%.*f", precision, x);
        return std::string(buf, n > 0 ? static_cast<std::size_t>(n) : 0);
    }
    return std::string(buf, r.ptr);
}

bool is_unicode_space(char32_t c) {
    return (c >= 0x09 && c <= 0x0D) || c == 0x20 || c == 0x85 || c == 0xA0 || c == 0x1680 ||
           (c >= 0x2000 && c <= 0x200A) || c == 0x2028 || c == 0x2029 || c == 0x202F || c == 0x205F ||
           c == 0x3000;
}

namespace {

// Decodes one UTF-8 code point starting at s[i]; returns its length, 0 when invalid.
std::size_t decode_at(std::string_view s, std::size_t i, char32_t& cp) {
    auto b = static_cast<unsigned char>(s[i]);
    std::size_t len = b < 0x80 ? 1 : (b >> 5) == 6 ? 2 : (b >> 4) == 14 ? 3 : (b >> 3) == 30 ? 4 : 0;
    if (len == 0 || i + len > s.size()) return 0;
    cp = len == 1 ? b : len == 2 ? (b & 0x1F) : len == 3 ? (b & 0x0F) : (b & 0x07);
    for (std::size_t k = 1; k < len; ++k) {
        auto c = static_cast<unsigned char>(s[i + k]);
        if ((c & 0xC0) != 0x80) return 0;
        cp = (cp << 6) | (c & 0x3F);
    }
    return len;
}

}  // namespace

std::string_view trim_unicode(std::string_view s) {
    std::size_t begin = 0;
    while (begin < s.size()) {
        char32_t cp;
        std::size_t len = decode_at(s, begin, cp);
        if (len == 0 || !is_unicode_space(cp)) break;
        begin += len;
    }
    std::size_t end = s.size();
    while (end > begin) {
        // Step back to the start of the last code point.
        std::size_t start = end - 1;
        while (start > begin && (static_cast<unsigned char>(s[start]) & 0xC0) == 0x80 && end - start < 4) --start;
        char32_t cp;
        std::size_t len = decode_at(s, start, cp);
        if (len != end - start || !is_unicode_space(cp)) break;
        end = start;
    }
    return s.substr(begin, end - begin);
}

std::string ascii_lower(std::string_view s) {
    std::string out(s);
    for (auto& c : out)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return out;
}

std::string ascii_upper(std::string_view s) {
    std::string out(s);
    for (auto& c : out)
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    return out;
}

bool iequals_ascii(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        char x = a[i], y = b[i];
        if (x >= 'A' && x <= 'Z') x = static_cast<char>(x - 'A' + 'a');
        if (y >= 'A' && y <= 'Z') y = static_cast<char>(y - 'A' + 'a');
        if (x != y) return false;
    }
    return true;
}

std::string quoted_repr(std::string_view s) {
    bool has_single = s.find('\'') != std::string_view::npos;
    bool has_double = s.find('"') != std::string_view::npos;
    char q = (has_single && !has_double) ? '"' : '\'';
    std::string out(1, q);
    for (std::size_t i = 0; i < s.size();) {
        char32_t cp;
        std::size_t len = decode_at(s, i, cp);
        if (len == 0) {  // not valid UTF-8: show the byte escaped
            char buf[8];
            std::snprintf(buf, sizeof buf, "\\x%02x", static_cast<unsigned char>(s[i]));
            out += buf;
            ++i;
            continue;
        }
        if (cp == static_cast<char32_t>(q) || cp == '\\') {
            out += '\\';
            out += static_cast<char>(cp);
        } else if (cp == '\n') {
            out += "\\n";
        } else if (cp == '\r') {
            out += "\\r";
        } else if (cp == '\t') {
            out += "\\t";
        } else if (cp < 0x20 || cp == 0x7F) {
            char buf[8];
            std::snprintf(buf, sizeof buf, "\\x%02x", static_cast<unsigned>(cp));
            out += buf;
        } else {
            out.append(s.substr(i, len));
        }
        i += len;
    }
    out += q;
    return out;
}

}  // namespace vz
