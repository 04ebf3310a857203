#pragma once
/// `.wellpath` deviation-survey reader: the wellhead position, the
/// kelly-bushing datum, an optional CRS label and six numbers per survey row.

#include <array>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "foundation/result.hpp"

namespace vz::wellpath {

/// A read `.wellpath` file. Each row holds the file columns 0, 1, 2, 4, 8
/// and 10 of one survey line (md, x, y, a vertical depth, inclination,
/// azimuth as the loader reads them). `rows` is never empty.
struct WellPathData {
    std::vector<std::array<double, 6>> rows;
    std::optional<std::string> crs;
    double head_x = 0.0;
    double head_y = 0.0;
    double kb = 0.0;
};

/// Reads a `.wellpath` file. `Io` when unreadable; `Parse` "wellpath '{}':
/// missing wellhead X/Y / KB header or no survey rows".
Result<WellPathData> read_file(const std::filesystem::path& path);

/// The number of a header text: after its last ':', the first white-space
/// token that parses once stripped of every character other than digits,
/// '-' and '.' at both ends.
std::optional<double> header_number(std::string_view header);

/// Every token as a number, or none when any token fails.
std::optional<std::vector<double>> row_numbers(const std::vector<std::string_view>& tokens);

}  // namespace vz::wellpath
