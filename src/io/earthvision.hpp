#pragma once
/// EarthVision grid files: "#" header lines and one "x y z [column row]" row
/// per node. The reader keeps every row as a node record; the structured
/// surface assembly turns them into a mesh surface, and `read_points` gives
/// the non-null nodes as points.

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string_view>
#include <utility>
#include <vector>

#include "foundation/result.hpp"
#include "io/point_columns.hpp"

namespace vz {

/// One data row: x, y, z (NaN when null) and the optional fourth and fifth
/// numbers (node column and row, as read).
struct EarthVisionNode {
    std::optional<double> column;
    std::optional<double> row;
    double x = 0.0;
    double y = 0.0;
    double z = 0.0;
};

/// A parsed EarthVision grid file.
struct EarthVisionGrid {
    /// First two numbers of the last Grid_size header line with two numbers.
    std::optional<std::pair<std::uint64_t, std::uint64_t>> grid_size;
    std::vector<EarthVisionNode> nodes;
};

}  // namespace vz

namespace vz::earthvision {

/// Reads the file. `Io`; `Format` "EarthVision grid: no header markers and
/// no data rows" when it has neither.
Result<EarthVisionGrid> read_grid(const std::filesystem::path& path);

/// The nodes with a finite z as points; with "column" and "row" columns
/// (NaN where a node has none) when any node of the file carries numbers.
Result<PointColumns> read_points(const std::filesystem::path& path);

/// A node number as an index: finite, not negative, at most 1e-9 above an
/// integer, else `GeometryInference` "EarthVision {} index must be a finite
/// non-negative integer, got {}"; above 2^64 `GeometryInference`
/// "EarthVision {} index exceeds platform range: {}"; 2^64 itself saturates
/// to the largest index.
Result<std::uint64_t> node_index(double value, std::string_view field);

/// The numbers of a data row (pieces between white space and ',' that parse).
std::vector<double> row_numbers(std::string_view row);

/// The runs of ASCII digits of a Grid_size header text, each as an unsigned
/// 64-bit integer (a run too long for 64 bits is dropped).
std::vector<std::uint64_t> grid_size_numbers(std::string_view header);

}  // namespace vz::earthvision
