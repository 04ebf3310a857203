#pragma once
/// IRAP (RMS) text files: the classic ASCII grid (reader and writer), plain
/// "X Y Z" point files and polygon files whose rings are separated by rows
/// with x = 999.0, and the shared XYZ line parser.

#include <array>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

#include "core/grid_geometry.hpp"
#include "core/surface.hpp"
#include "foundation/grid2.hpp"
#include "foundation/result.hpp"
#include "io/point_columns.hpp"

namespace vz::irap {

/// Whitespace-separated tokens of a decoded file (Latin-1 white space).
class TokenStream {
public:
    explicit TokenStream(std::string_view text) : text_(text) {}
    /// The next token, or none at the end.
    std::optional<std::string_view> next();
    /// Bytes not yet consumed.
    std::size_t remaining() const { return text_.size() - pos_; }
    /// The text not yet consumed.
    std::string_view rest() const { return text_.substr(pos_); }
    /// Consumes `n` bytes of `rest()`.
    void consume(std::size_t n) { pos_ += n; }

private:
    std::string_view text_;
    std::size_t pos_ = 0;
};

/// Reads an IRAP classic ASCII grid: header, then ncol x nrow values with
/// the column index fastest; values >= 9999900 become NaN. `Io`; `Parse`
/// "IRAP classic: empty file", "IRAP classic: bad id flag '{}': {}",
/// "IRAP classic: expected id -996, got {}", "IRAP classic: missing {}",
/// "IRAP classic: bad {} '{}': {}", "IRAP classic: ncol*nrow overflows".
Result<SurfaceData> read_classic(const std::filesystem::path& path);

/// The next token as an unsigned integer field ("+" allowed, digits only).
Result<std::uint64_t> next_integer(TokenStream& tokens, std::string_view field);

/// The next token as a real field (the readers' number syntax).
Result<double> next_number(TokenStream& tokens, std::string_view field);

/// The text of an IRAP classic file for a lattice and its values (shape
/// (ncol, nrow), NaN written as 9999900), byte for byte as the writer puts
/// it. `GeometryMismatch` "save_irap_classic: values shape [c, r] != grid
/// (ncol={}, nrow={})".
Result<std::string> classic_text(const GridGeometry& geom, const Grid2& values);

/// Writes `classic_text` to `path` (created or truncated) in one call. `Io`
/// when the file cannot be created or written.
Result<void> write_classic(const std::filesystem::path& path, const GridGeometry& geom, const Grid2& values);

/// Reads a plain "X Y Z" point file (Latin-1) into points without
/// attributes; rows with x = 999.0 are dropped. Refuses, with `Format`
/// "IRAP points reader: '{}' looks like {}, not plain X Y Z — use the {}
/// reader", files whose first 60 lines look like LAS, CPS-3 or EarthVision.
/// `Io`; the XYZ line parser's `Parse` errors.
Result<PointColumns> read_points(const std::filesystem::path& path);

/// Reads an IRAP polygon file (UTF-8): rows with x = 999.0 close the ring in
/// progress (empty rings are not kept). `Io` ("'<path>': stream did not
/// contain valid UTF-8" for invalid text); the XYZ line parser's `Parse`
/// errors.
Result<PolygonRings> read_polygons(const std::filesystem::path& path);

}  // namespace vz::irap

namespace vz::xyz {

/// How the bytes of a line are read.
enum class Encoding { Latin1, Utf8 };

/// One "X Y Z" line: none for an empty or comment ('#', '!') line; else the
/// first three pieces between white space and ','. `Parse` "XYZ: missing {}
/// in '{}'" or "XYZ: bad {} '{}': {}".
Result<std::optional<std::array<double, 3>>> parse_line(std::string_view line, Encoding enc = Encoding::Utf8);

}  // namespace vz::xyz

namespace vz::point_data {

/// Gives IRAP points the "column" and "row" values of the topology points
/// they match, walking both lists in order (each topology point used at most
/// once; a match is within `tolerance` on x, y and z). `GeometryInference`
/// "topology point set does not contain a column attribute" / "... row
/// attribute" / "IRAP points are not an ordered subset of the topology point
/// export".
Result<PointColumns> attach_topology(PointColumns irap, const PointColumns& topology, double tolerance);

/// A column name trimmed, ASCII-lower-cased, spaces and hyphens turned into
/// underscores.
std::string normalize_attr_name(std::string_view name);

}  // namespace vz::point_data
