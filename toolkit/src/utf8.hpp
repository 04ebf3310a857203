#pragma once
/// UTF-8 checking and encoding shared by the readers, the payload codec and
/// the container file.

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <optional>
#include <string>
#include <string_view>

namespace vz::utf8 {

/// Where well-formed UTF-8 stops: the start of the faulty sequence, how many
/// of its bytes were valid (the lead byte alone counts as 1), and whether the
/// text ended inside the sequence.
struct Fault {
    std::size_t index;
    std::size_t valid_len;
    bool incomplete;
};

/// The first fault of `text` (overlong forms, surrogates and code points above
/// U+10FFFF included), or nothing when the whole text is well-formed.
inline std::optional<Fault> first_fault(std::string_view text) {
    const auto* s = reinterpret_cast<const unsigned char*>(text.data());
    const std::size_t n = text.size();
    std::size_t i = 0;
    while (i < n) {
        // ASCII runs eight bytes at a time.
        if (i + 8 <= n) {
            std::uint64_t w;
            std::memcpy(&w, s + i, 8);
            if ((w & 0x8080808080808080ull) == 0) {
                i += 8;
                continue;
            }
        }
        const unsigned char b0 = s[i];
        if (b0 < 0x80) {
            ++i;
            continue;
        }
        std::size_t width = 0;
        unsigned char lo = 0x80, hi = 0xBF;
        if (b0 >= 0xC2 && b0 <= 0xDF) {
            width = 2;
        } else if (b0 >= 0xE0 && b0 <= 0xEF) {
            width = 3;
            if (b0 == 0xE0) lo = 0xA0;
            if (b0 == 0xED) hi = 0x9F;
        } else if (b0 >= 0xF0 && b0 <= 0xF4) {
            width = 4;
            if (b0 == 0xF0) lo = 0x90;
            if (b0 == 0xF4) hi = 0x8F;
        } else {
            return Fault{i, 1, false};
        }
        for (std::size_t k = 1; k < width; ++k) {
            if (i + k >= n) return Fault{i, k, true};
            const unsigned char b = s[i + k];
            const bool ok = k == 1 ? (b >= lo && b <= hi) : (b >= 0x80 && b <= 0xBF);
            if (!ok) return Fault{i, k, false};
        }
        i += width;
    }
    return std::nullopt;
}

/// True when `text` is well-formed UTF-8.
inline bool is_valid(std::string_view text) { return !first_fault(text); }

/// Appends the UTF-8 encoding of code point `cp` (at most U+10FFFF).
inline void append(std::string& out, char32_t cp) {
    if (cp < 0x80) {
        out.push_back(static_cast<char>(cp));
    } else if (cp < 0x800) {
        out.push_back(static_cast<char>(0xC0 | (cp >> 6)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else if (cp < 0x10000) {
        out.push_back(static_cast<char>(0xE0 | (cp >> 12)));
        out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else {
        out.push_back(static_cast<char>(0xF0 | (cp >> 18)));
        out.push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    }
}

}  // namespace vz::utf8
