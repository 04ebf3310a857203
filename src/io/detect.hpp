#pragma once
/// `FormatKind`: the exchange formats the readers handle, and detection of a
/// file's format from its opening bytes (first) or its extension (fallback).

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include <fmt/format.h>

#include "foundation/result.hpp"

namespace vz {

/// File-format enumeration. The ordinals (0..11, in declaration order) are
/// part of the Python interface.
class FormatKind {
public:
    enum Value : std::uint8_t {
        Cps3Grid = 0,
        Cps3Lines = 1,
        IrapClassicGrid = 2,
        IrapClassicPoints = 3,
        EarthVisionGrid = 4,
        Las = 5,
        WellPath = 6,
        PetrelTops = 7,
        CrsMetaXml = 8,
        GeoJson = 9,
        CsvPoints = 10,
        Unknown = 11,
    };

    constexpr FormatKind(Value v = Unknown) : v_(v) {}  // NOLINT: implicit, like the enumerators
    constexpr operator Value() const { return v_; }     // NOLINT: switch-able

    /// Ordinal as the Python members convert to it.
    constexpr std::uint8_t ordinal() const { return v_; }

    /// The display text: the variant name ("Cps3Grid", ..., "Unknown").
    std::string_view name() const;

    /// Classifies a file: reads at most its first 65,536 bytes, sniffs them,
    /// and falls back to the extension. Fails only with `Io` (open or read).
    static Result<FormatKind> detect(const std::filesystem::path& path);

    /// Classification by content alone (text as Latin-1 bytes): the first
    /// 160 lines and the 512-byte head; none when nothing decides. Binary
    /// content (`is_binary`) is `Unknown` whatever the file is named.
    static std::optional<FormatKind> sniff(std::string_view text);

    /// True for bytes that are not text: they hold a NUL byte and are not
    /// UTF-16 text. UTF-16 text is read in the byte order of its byte-order
    /// mark, or without one in either order, and holds no U+0000, no control
    /// character other than tab, line feed, vertical tab, form feed and
    /// carriage return, and no unpaired surrogate (a code unit or pair cut
    /// off at the end of the bytes is not looked at).
    static bool is_binary(std::string_view bytes);

    /// Classification by the file name's extension alone; never fails.
    static FormatKind from_extension(const std::filesystem::path& path);

    /// Fields of a CSV header line: split at ',', each trimmed, stripped of
    /// leading and trailing '"', ASCII-lower-cased.
    static std::vector<std::string> csv_header_tokens(std::string_view line);

    /// A field "x"/"easting", one "y"/"northing" and one "z"/"depth"/"tvd".
    static bool csv_header_has_xyz(const std::vector<std::string>& tokens);

    /// First token exactly "-996", second an unsigned decimal below 2^64.
    static bool looks_like_irap_grid(std::string_view line);

    /// At least three of the first four tokens (split at white space and ',')
    /// are numbers.
    static bool looks_like_xyz(std::string_view line);

private:
    Value v_;
};

}  // namespace vz

/// Formats a `FormatKind` as its display text.
template <>
struct fmt::formatter<vz::FormatKind> : fmt::formatter<std::string_view> {
    template <class Ctx>
    auto format(vz::FormatKind k, Ctx& ctx) const {
        return fmt::formatter<std::string_view>::format(k.name(), ctx);
    }
};
