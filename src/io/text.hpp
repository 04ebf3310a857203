#pragma once
/// Shared text handling of the exchange-file readers: whole-file reads,
/// byte-for-byte ISO-8859-1 decoding, line iteration, trimming and the one
/// number syntax every reader accepts.
///
/// Readers keep the file as raw bytes and interpret every byte as the
/// Latin-1 character of the same code; only the texts they hand out are
/// converted to UTF-8 (`decode_latin1`). White space of a Latin-1 byte is
/// the Unicode White_Space set restricted to U+0000..U+00FF: 0x09..0x0D,
/// 0x20, 0x85 and 0xA0.

#include <array>
#include <cstddef>
#include <expected>
#include <system_error>

#include <fast_float/fast_float.h>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

#include "foundation/result.hpp"

namespace vz::text {

/// Bytes to UTF-8 text, every byte becoming the character of the same code
/// (U+0000..U+00FF). Never fails.
std::string decode_latin1(std::string_view bytes);

/// Refuses a path the operating system cannot take whole: paths go to it as
/// NUL-terminated strings, so a NUL inside would quietly name another file.
/// `Io` "path contains a NUL character: '{}'" (the display form, NUL shown
/// as \0).
Result<void> check_path(const std::filesystem::path& path);

/// Reads the whole file. `Io` "'<path>': <the operating system's error>" on
/// an open or read failure; `check_path`'s error for a path holding a NUL.
Result<std::string> read_file(const std::filesystem::path& path);

/// Reads at most `limit` bytes from the start of the file (`Io` on failure,
/// `check_path`'s error included).
Result<std::string> read_head(const std::filesystem::path& path, std::size_t limit);

/// Latin-1 white space by byte: the number loops of the readers ask it for
/// every byte between values.
inline constexpr std::array<bool, 256> kLatin1Space = [] {
    std::array<bool, 256> t{};
    for (int c = 0; c < 256; ++c) t[static_cast<std::size_t>(c)] = (c >= 0x09 && c <= 0x0D) || c == 0x20 || c == 0x85 || c == 0xA0;
    return t;
}();

/// True for a Latin-1 byte that is Unicode White_Space.
constexpr bool is_space(unsigned char c) { return kLatin1Space[c]; }
constexpr bool is_space(char c) { return is_space(static_cast<unsigned char>(c)); }

/// `s` without Latin-1 white space at either end.
std::string_view trim(std::string_view s);

/// Lines of a text: a line ends at '\n', a '\r' directly before it goes with
/// it; text after the last '\n' is the last line; a final '\n' adds no empty
/// line; a lone '\r' does not end a line.
class Lines {
public:
    explicit Lines(std::string_view text) : rest_(text), done_(text.empty()) {}
    /// The next line (untrimmed) in `line`; false at the end.
    bool next(std::string_view& line) {
        if (done_) return false;
        std::size_t nl = rest_.find('\n');
        if (nl == std::string_view::npos) {
            line = rest_;
            done_ = true;
            return true;
        }
        line = rest_.substr(0, nl);
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        rest_.remove_prefix(nl + 1);
        if (rest_.empty()) done_ = true;
        return true;
    }

private:
    std::string_view rest_;
    bool done_;
};

/// Every line of a text, in order (see `Lines`).
std::vector<std::string_view> split_lines(std::string_view text);

/// Splits at runs of Latin-1 white space; no empty pieces.
std::vector<std::string_view> split_ws(std::string_view s);

/// The failure of `parse_number`.
enum class NumberError { Empty, Invalid };

/// "cannot parse float from empty string" / "invalid float literal".
const char* number_error_text(NumberError e);

/// True when the token follows the decimal syntax of `parse_number`.
bool is_number_syntax(std::string_view token);

/// `parse_number` for the tokens its fast path leaves (a leading '+',
/// non-numbers, empty tokens).
std::expected<double, NumberError> parse_number_slow(std::string_view token);

/// A token to a double, rounded to nearest: optional sign, digits with an
/// optional point and fraction (".5", "5." but not "."), optional exponent;
/// or "inf", "infinity", "nan" in any case with optional sign. No white
/// space, separators, decimal comma or hexadecimal.
inline std::expected<double, NumberError> parse_number(std::string_view token) {
    if (!token.empty()) {
        // Fast path: the parser consumed the whole token and the token is not
        // one of the forms it accepts beyond this syntax ("nan(...)").
        double v = 0.0;
        const char* last = token.data() + token.size();
        auto r = fast_float::from_chars(token.data(), last, v);
        if (r.ptr == last && r.ec == std::errc() && token.back() != ')') return v;
    }
    return parse_number_slow(token);
}

/// The numbers of a line: pieces between white space and ',' (empty pieces
/// dropped) that parse; the others are skipped.
std::vector<double> lenient_numbers(std::string_view line);

/// True when `s` is well-formed UTF-8 (no overlong forms, surrogates or
/// values beyond U+10FFFF).
bool valid_utf8(std::string_view s);

/// ASCII upper-cased copy (other bytes unchanged).
std::string upper(std::string_view s);

/// ASCII case-insensitive equality.
bool iequals(std::string_view a, std::string_view b);

/// True when `hay` contains `needle`, ASCII letters compared without case.
bool icontains(std::string_view hay, std::string_view needle);

/// True when `s` starts with `prefix`, ASCII letters compared without case.
bool istarts_with(std::string_view s, std::string_view prefix);

/// A path in its display form, as given by the caller (a NUL shown as \0).
std::string display_path(const std::filesystem::path& path);

/// The text of an I/O failure on `path` without the quoted path in front,
/// for messages that name the file in a wording of their own ("cannot open
/// '{}': {}"); other texts are returned whole.
std::string io_reason(const Error& e, const std::filesystem::path& path);

}  // namespace vz::text
