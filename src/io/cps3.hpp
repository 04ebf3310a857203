#pragma once
/// CPS-3 ASCII exchange files: the grid reader (FS header keywords, values
/// after the first "->" line) and the lines reader (polylines introduced by
/// "->" markers). Both skip tokens that are not numbers without a message.

#include <filesystem>
#include <string_view>
#include <vector>

#include "core/surface.hpp"
#include "foundation/result.hpp"
#include "io/point_columns.hpp"

namespace vz::cps3 {

/// Reads a CPS-3 grid: row 0 at ymin, column index fastest, unrotated and
/// unflipped; values with |v| >= 1e29 or within 1e-9·|null| of the FSASCI
/// null (default 1e30) are NaN; missing trailing values are NaN and surplus
/// values are ignored. `Io`; `Parse` "CPS-3 grid: missing FSNROW",
/// "CPS-3 grid: missing FSLIMI", "CPS-3 grid: zero node count",
/// "CPS-3 grid: nrow*ncol overflows", and "CPS-3 grid: {} nodes is more
/// than the file can describe" for a node count the file cannot back.
Result<SurfaceData> read_grid(const std::filesystem::path& path);

/// Reads a CPS-3 lines file into polylines of (x, y, z); only `Io` fails.
Result<PolygonRings> read_lines(const std::filesystem::path& path);

/// The numbers of a header line after its keyword.
std::vector<double> header_numbers(std::string_view line);

/// Appends the numbers of a data line to `values`.
void push_values(std::string_view line, std::vector<double>& values);

/// The numbers of a lines-file line.
std::vector<double> line_numbers(std::string_view line);

}  // namespace vz::cps3
