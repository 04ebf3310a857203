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

/// A read LAS file: the depth column (the first curve, whatever its name)
/// and the other curves in file order, ascending in depth when the file ran
/// upwards; the depth curve's mnemonic and the depth unit (the depth curve's
/// unit, else the unit of the ~Well section's STRT line, empty when neither
/// has one); warnings about the data, each naming the file in single quotes
/// ("'{path}': ...").
struct LasData {
    std::vector<double> depth;
    std::vector<LasCurve> curves;
    std::string depth_mnemonic;
    std::string depth_unit;
    std::vector<std::string> warnings;
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
///
/// Data rows, either version (unwrapped rows; wrapped 2.0 data are read
/// value by value):
/// - a row holding a depth alone in a file of several curves, and a row
///   whose depth is not a number, are skipped (one warning for the file);
/// - rows shorter than the curve list leave NaN in the curves they omit;
/// - when every row holds the same number of values and that is more than
///   the curves defined, the surplus columns are curves named
///   `kNamelessCurve`; a row longer than the curve list otherwise is refused
///   (`Parse` "LAS: '{}': line {} holds {} values but {} curves are defined
///   and not every row holds as many");
/// - a depth column that only falls (equal neighbours allowed, NaN depths
///   left aside) is turned round with its rows; one that rises and falls is
///   kept as read, with a warning naming the line where its order breaks;
/// - a table far larger than the data section can describe is refused before
///   it is allocated (`OutOfRange` "... a table of {} rows × {} curves does
///   not fit in memory", naming the file);
/// - a depth column that has rows but no number other than the null value
///   is refused: `Parse` "LAS: no md/depth curve: the index curve '{}' holds
///   no number".
Result<LasData> read_file(const std::filesystem::path& path);

/// What a read tells beside the logs: the depth unit and the warnings of
/// `LasData`.
struct LasReadInfo {
    std::string depth_unit;
    std::vector<std::string> warnings;
};

/// `read_file`, then `curves_to_logs`; `info`, when given, receives the
/// depth unit and the warnings.
Result<std::vector<Log>> read_logs(const std::filesystem::path& path, LasReadInfo* info = nullptr);

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

/// What the reader saw in the data rows of a file (lines 1-based, 0 for
/// none).
struct LasRowReport {
    /// Rows kept.
    std::size_t rows = 0;
    /// A kept row has a finite depth other than the null value.
    bool any_depth = false;
    /// Rows skipped: a depth alone in a file of several curves, or a depth
    /// that is not a number (counted in `unreadable_depths` too).
    std::size_t skipped = 0;
    std::size_t unreadable_depths = 0;
    std::size_t first_skipped_line = 0;
    /// The depths fall somewhere and never rise (NaN left aside).
    bool descending = false;
    /// Where the depths, having risen, fall (or having fallen, rise).
    std::size_t order_break_line = 0;
};

/// What the LAS 2.0 reader delivers: curves in file order (surplus columns
/// of the rows as `kNamelessCurve` curves at the end), whether the file held
/// a data section, the unit of the ~Well section's STRT line, and what the
/// data rows showed. The first curve is the index (depth) curve.
struct LasV2 {
    std::vector<LasV2Curve> curves;
    bool has_data = false;
    std::string strt_unit;
    LasRowReport rows;
};

/// The LAS 2.0 reader (files below version 3.0): UTF-16 (with or without a
/// byte-order mark), UTF-8 (with or without one) or Latin-1 text; wrapped
/// and unwrapped data; values within 1e-10 of NULL (default -999.25, also
/// when the NULL line has no value) become NaN in every curve but the
/// first; unreadable values are NaN; the row rules of `read_file`, without
/// turning a falling depth column round. Failures are `Parse` "LAS: {}"
/// with "LAS header error: {}", "LAS data error: {}" or "I/O error: {}"
/// inside.
Result<LasV2> read_v2(const std::filesystem::path& path);

/// The LAS 2.0 reader on bytes already read (`path` names the file in
/// messages).
Result<LasV2> parse_v2(std::string_view bytes, const std::filesystem::path& path);

/// Depth and curves from the LAS 2.0 reader's result: the first curve's
/// data is the depth, every other curve (by position, so repeated mnemonics
/// lose nothing) follows in file order; then the depth rules of `read_file`
/// (`path` names the file in messages and warnings).
Result<LasData> v2_to_data(LasV2 v2, const std::filesystem::path& path);

/// What kind of length a depth unit spells (ASCII case ignored): feet ("F",
/// "FT", "FEET", "FOOT", "USFT"), metres ("M", "METER", "METERS", "METRE",
/// "METRES"), another length ("IN", "INCH", "INCHES", ".1IN", "0.1IN",
/// "CM", "MM", "KM"), or none of these (times such as "S" or "MS", an empty
/// or unknown unit).
enum class DepthUnitKind { Feet, Metres, OtherLength, NotALength };
DepthUnitKind depth_unit_kind(std::string_view unit);

/// The kind of a section by its title (ASCII case ignored). A trailing
/// index in brackets (the section arrays of LAS 3.0, "Log_Data[2]") is
/// left aside.
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
