#pragma once
/// Headered comma-separated files: the CSV record reader, the tops CSV reader
/// (formation picks for the well loader) and the points CSV reader.
///
/// Dialect: fields separated by ','; the first record is the header; a field
/// may be enclosed in double quotes, "" inside standing for one quote;
/// fields are not trimmed; records end at '\n', '\r' or "\r\n"; blank lines
/// are no records; every record has as many fields as the header.

#include <cstddef>
#include <deque>
#include <expected>
#include <filesystem>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "foundation/result.hpp"
#include "io/point_columns.hpp"

namespace vz::csv {

/// A failure of the record reader: its kind and its text.
struct CsvError {
    enum class Kind { Io, FieldCount, Utf8 };
    Kind kind;
    std::string text;  // for Io: the operating system's error
};

/// One record: its fields (views valid until the next read).
struct Record {
    std::vector<std::string_view> fields;
    std::deque<std::string> unescaped;  // storage of quoted fields with "" inside
};

/// Reads records from a buffer.
class Reader {
public:
    /// `validate_utf8`: every record must be valid UTF-8.
    Reader(std::string_view data, bool validate_utf8) : data_(data), utf8_(validate_utf8) {}

    /// The next record into `rec`; false at the end of the data. A record
    /// whose field count differs from the first record's, or that is not
    /// valid UTF-8 when asked, fails.
    std::expected<bool, CsvError> next(Record& rec);

private:
    std::string_view data_;
    std::size_t pos_ = 0;
    bool utf8_;
    std::size_t width_ = 0;
    bool have_width_ = false;
};

}  // namespace vz::csv

namespace vz::io {

/// A record-reader failure with its context: `Io` for an input/output
/// failure (context dropped), else `Parse` "{context}: {text}".
Error csv_error(std::string_view context, const csv::CsvError& e);

}  // namespace vz::io

namespace vz::tops_csv {

/// Picks (name exactly as written, md) of a tops CSV file, in file order.
/// The file is decoded as Latin-1 first. `Io`; `Parse` "tops CSV: bad
/// header: {}", "tops CSV: row {}: {}", "tops CSV: row {}: missing name|md",
/// "tops CSV: row {}: bad md '{}': {}"; `NotFound` "tops CSV: column '{}'".
Result<std::vector<std::pair<std::string, double>>> read_file(const std::filesystem::path& path,
                                                               std::string_view name_column,
                                                               std::string_view md_column);

/// Index of the first header field exactly equal to `column`, or `NotFound`
/// "tops CSV: column '{}'".
Result<std::size_t> column_index(const std::vector<std::string_view>& header, std::string_view column);

}  // namespace vz::tops_csv

namespace vz::csv_points {

/// Points from the x, y and z columns (named exactly) and every other column
/// whose every field is a number as an attribute, in header order. `Io`;
/// `NotFound` "points CSV: column '{}'"; `Parse` "points CSV: bad header:
/// {}", "points CSV: row {}: {}", "points CSV: row {}: missing {}",
/// "points CSV: row {}: bad {} '{}': {}". Rows count data records from 0.
Result<PointColumns> read_file(const std::filesystem::path& path, std::string_view x_column,
                               std::string_view y_column, std::string_view z_column);

}  // namespace vz::csv_points
