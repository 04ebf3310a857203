#pragma once
/// LAS (Log ASCII Standard) well-log reader: versions 1.2 and 2.0 through the
/// LAS 2.0 reader below, 3.0 and later through the section parser.
///
/// `read_file` gives a depth column and the curves after it; `read_logs`
/// turns them into `Log` values (history "log.new") for the well loader.

#include <cstddef>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "core/log.hpp"
#include "foundation/result.hpp"

namespace vz::las {

/// One "~" section of a LAS 3.0 file: the title (text after "~" up to white
/// space or "|") and its trimmed non-empty lines, "#" lines included. Views
/// into the file bytes (Latin-1).
struct LasSection {
    std::string_view title;
    std::vector<std::string_view> lines;
};

/// What a section holds, by its title.
enum class LasSectionKind { Version = 0, Well = 1, CurveDefinition = 2, Data = 3, Other = 4 };

/// How a LAS 3.0 data row separates its values.
enum class LasDelimiter { Whitespace, Comma, Tab };

/// One curve: mnemonic and unit as in the file (UTF-8), one value per depth
/// sample, NaN for null or unreadable values.
struct LasCurve {
    std::string mnemonic;
    std::string unit;
    std::vector<double> values;
    bool operator==(const LasCurve&) const = default;
};

/// A read LAS file: the depth (index) column and the other curves in file
/// order.
struct LasData {
    std::vector<double> depth;
    std::vector<LasCurve> curves;
};

/// A curve definition of a LAS 3.0 definition section (Latin-1 bytes).
struct LasCurveDef {
    std::string_view mnemonic;
    std::string_view unit;
    bool operator==(const LasCurveDef&) const = default;
};

/// Reads a LAS file of any supported version. `Io` when it cannot be read;
/// 3.0: `Format` for wrapped data or unpaired sections; below 3.0: `Parse`
/// "LAS: {}" around the LAS 2.0 reader's failure, or "LAS: no md/depth curve".
/// Either version: `Parse` "LAS: no md/depth curve: the index curve '{}'
/// holds no number" when the depth column has rows but no finite value.
Result<LasData> read_file(const std::filesystem::path& path);

/// `read_file`, then `curves_to_logs`.
Result<std::vector<Log>> read_logs(const std::filesystem::path& path);

/// One `Log` per curve, each on a copy of the depth column; the first length
/// mismatch fails (`Parse` "log '{}': md len {} != values len {}").
Result<std::vector<Log>> curves_to_logs(const LasData& data);

/// The LAS 2.0 reader's view of one curve: mnemonic, unit and its column
/// (empty when the file has no data section).
struct LasV2Curve {
    std::string mnemonic;
    std::string unit;
    std::vector<double> data;
};

/// What the LAS 2.0 reader delivers: curves in file order, whether the file
/// held a data section, and the position of the index curve (the first curve
/// named MD, TVD, DEPT, DEPTH, TIME, TVDSS or TVDKB, else the first).
struct LasV2 {
    std::vector<LasV2Curve> curves;
    bool has_data = false;
    std::size_t index = 0;
};

/// The LAS 2.0 reader (files below version 3.0): UTF-16 (with or without a
/// byte-order mark), UTF-8 (with or without one) or Latin-1 text; wrapped
/// and unwrapped data; values within 1e-10 of NULL (default -999.25) become
/// NaN in every curve but the index curve; unreadable values are NaN.
/// Failures are `Parse` "LAS: {}" with "LAS header error: {}",
/// "LAS data error: {}" or "I/O error: {}" inside.
Result<LasV2> read_v2(const std::filesystem::path& path);

/// The LAS 2.0 reader on bytes already read (`path` names the file in
/// messages).
Result<LasV2> parse_v2(std::string_view bytes, const std::filesystem::path& path);

/// Depth and curves from the LAS 2.0 reader's result: the index curve's data
/// is the depth, every other curve (by position, so repeated mnemonics and
/// an index curve that is not the first lose nothing) follows in file order.
/// An index curve with rows but no finite value is refused.
Result<LasData> v2_to_data(LasV2 v2);

/// The kind of a section by its title (ASCII case ignored).
LasSectionKind section_kind(std::string_view title);

/// The value of a "MNEM.  value : description" header line: the first token
/// after the "." of the first non-comment line whose mnemonic matches.
std::optional<std::string_view> header_value(const std::vector<std::string_view>& lines, std::string_view mnemonic);

/// The mnemonic of a curve whose definition line names none (" .OHMM : r"):
/// the curve keeps its place, so every later curve keeps its own column.
inline constexpr std::string_view kNamelessCurve = "UNKNOWN";

/// A curve definition line to its mnemonic and unit; none without ".". An
/// empty mnemonic is `kNamelessCurve`.
std::optional<LasCurveDef> parse_curve_line(std::string_view line);

/// The definitions of every non-comment line of a definition section.
std::vector<LasCurveDef> curve_definitions(const std::vector<std::string_view>& lines);

/// The sections of a LAS file (Latin-1 bytes); lines before the first "~"
/// line belong to none.
std::vector<LasSection> scan_sections(std::string_view bytes);

}  // namespace vz::las
