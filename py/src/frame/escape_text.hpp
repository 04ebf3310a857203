#pragma once
/// Texts in representations: a text written as a double-quoted, escaped
/// string literal. A backslash and a double quote get a backslash before
/// them; tab, carriage return, line feed and NUL read \t, \r, \n, \0; other
/// control characters, and the characters the caller's predicate marks
/// (non-printable characters and combining marks), read \u{…} with the code
/// point in lower-case hexadecimal; everything else, non-ASCII letters
/// included, is written as it is.
///
/// Free of Python: `frame/escape.hpp` supplies the predicate from the
/// interpreter's Unicode database.

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include <fmt/format.h>

namespace vz::py {

/// The replacement character, read in place of a byte that does not start a
/// well-formed UTF-8 sequence.
inline constexpr char32_t kReplacementChar = 0xFFFD;

/// Decodes the UTF-8 sequence at `s[i]` into `cp` and returns its length;
/// returns 0 (and leaves `cp` unspecified) for a byte that does not start a
/// well-formed sequence (a stray continuation byte, a truncated or overlong
/// sequence, a surrogate or a value above U+10FFFF).
inline std::size_t decode_utf8_at(std::string_view s, std::size_t i, char32_t& cp) {
    const auto b = static_cast<unsigned char>(s[i]);
    std::size_t len = 0;
    char32_t min = 0;
    if (b < 0x80) {
        cp = b;
        return 1;
    } else if ((b & 0xE0) == 0xC0) {
        len = 2, min = 0x80, cp = b & 0x1F;
    } else if ((b & 0xF0) == 0xE0) {
        len = 3, min = 0x800, cp = b & 0x0F;
    } else if ((b & 0xF8) == 0xF0) {
        len = 4, min = 0x10000, cp = b & 0x07;
    } else {
        return 0;
    }
    if (i + len > s.size()) return 0;
    for (std::size_t k = 1; k < len; ++k) {
        const auto c = static_cast<unsigned char>(s[i + k]);
        if ((c & 0xC0) != 0x80) return 0;
        cp = (cp << 6) | (c & 0x3F);
    }
    if (cp < min || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return 0;
    return len;
}

/// Calls `f(cp)` for every code point of `s` in order; a byte that does not
/// start a well-formed sequence counts as one replacement character.
template <class F>
void for_each_code_point(std::string_view s, F&& f) {
    for (std::size_t i = 0; i < s.size();) {
        char32_t cp = 0;
        const std::size_t len = decode_utf8_at(s, i, cp);
        f(len ? cp : kReplacementChar, s.substr(i, len));
        i += len ? len : 1;
    }
}

/// `text` as a double-quoted literal. `escaped(cp)` is asked for code points
/// from U+0080 on and says whether one is written as \u{…}; ASCII is decided
/// here (control characters escaped, everything else as it is). An
/// ill-formed byte is written as the replacement character.
template <class Escaped>
std::string escape_literal_with(std::string_view text, Escaped&& escaped) {
    std::string out;
    out.reserve(text.size() + 2);
    out += '"';
    for_each_code_point(text, [&](char32_t cp, std::string_view bytes) {
        switch (cp) {
            case '\\': out += "\\\\"; return;
            case '"': out += "\\\""; return;
            case '\t': out += "\\t"; return;
            case '\r': out += "\\r"; return;
            case '\n': out += "\\n"; return;
            case '\0': out += "\\0"; return;
            default: break;
        }
        const bool control = cp < 0x20 || cp == 0x7F;
        if (control || (cp >= 0x80 && escaped(cp))) {
            out += fmt::format("\\u{{{:x}}}", static_cast<std::uint32_t>(cp));
        } else if (bytes.empty()) {
            out += "\xef\xbf\xbd";  // the replacement character, U+FFFD
        } else {
            out += bytes;
        }
    });
    out += '"';
    return out;
}

}  // namespace vz::py
