#pragma once
/// Number and text formatting for messages, histories and representations.
///
/// Floats never reach fmt raw: `num(x)` gives the shortest decimal that reads
/// back to the same value, never with an exponent ("12", "0.5", "-0", "NaN",
/// "inf", "-inf"); `debug_num(x)` gives the debug form ("12.0", "1e16",
/// "1.5e-5"); `fixed(x, p)` gives exactly p decimals.

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace vz {

/// Shortest round-trip decimal without exponent; integral values without a
/// fractional part; NaN, inf, -inf.
std::string num(double x);

/// Longest text `put_num` writes: the positional form of the smallest
/// subnormal ("0." and 323 zeros before its digit) or of the largest double
/// (309 digits), with a sign.
inline constexpr std::size_t kMaxNumText = 330;

/// Writes `num(x)` at `out`, which has room for `kMaxNumText` bytes, and
/// returns its end: for writers that put many numbers into one buffer.
char* put_num(char* out, double x);

/// Debug form: decimal with at least one fractional digit, exponent form
/// ("1e16", "1.5e-5") when |x| >= 1e16 or 0 < |x| < 1e-4; NaN, inf, -inf.
std::string debug_num(double x);

/// Exactly `precision` decimals ("%.*f"); NaN, inf, -inf as in `num`.
std::string fixed(double x, int precision);

/// "true" / "false".
inline const char* boolstr(bool b) { return b ? "true" : "false"; }

/// A key whose integer order is the IEEE-754 total order of doubles:
/// -NaN < -inf < ... < -0 < +0 < ... < +inf < +NaN.
inline std::int64_t total_order_key(double x) {
    std::int64_t bits;
    static_assert(sizeof bits == sizeof x);
    __builtin_memcpy(&bits, &x, sizeof bits);
    return bits ^ static_cast<std::int64_t>(static_cast<std::uint64_t>(bits >> 63) >> 1);
}

/// IEEE-754 total-order "less than".
inline bool total_less(double a, double b) { return total_order_key(a) < total_order_key(b); }

/// True when `c` (a code point) is Unicode White_Space.
bool is_unicode_space(char32_t c);

/// `s` without leading and trailing Unicode White_Space (UTF-8 input; an
/// invalid byte sequence counts as non-space).
std::string_view trim_unicode(std::string_view s);

/// ASCII-only lower / upper casing (other bytes unchanged).
std::string ascii_lower(std::string_view s);
std::string ascii_upper(std::string_view s);

/// ASCII case-insensitive equality.
bool iequals_ascii(std::string_view a, std::string_view b);

/// `s` as a quoted, escaped string literal the way Python's repr() writes it
/// ('abc', "it's").
std::string quoted_repr(std::string_view s);

}  // namespace vz
