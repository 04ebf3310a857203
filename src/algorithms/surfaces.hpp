#pragma once
/// Iso-lines (contour lines) of a surface lane, and the quad-split lattice
/// meshes they and the triangle views are traced on.
///
/// A lane is contoured on a triangle mesh whose nodes carry one value each:
/// a regular `Surface` on the quad split of its lattice, a
/// `StructuredMeshSurface` on the quad split of its shell, a `TriSurface` on
/// its own mesh. Each level is traced by marching triangles into polylines,
/// which may then be simplified by Douglas-Peucker. Every map and set of the
/// tracer is ordered by `ContourKey`, so equal inputs give equal polylines,
/// bit for bit.

#include <array>
#include <compare>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "core/grid_geometry.hpp"
#include "core/shell/mesh.hpp"
#include "foundation/grid2.hpp"
#include "foundation/result.hpp"

namespace vz {

struct Surface;
struct StructuredMeshSurface;
struct TriSurface;
class StructuredShell;

/// A point (x, y) of a polyline, world units.
using IsoPoint = std::array<double, 2>;
/// A list of points; a closed ring repeats its first point as its last, bit
/// for bit.
using Polyline = std::vector<IsoPoint>;
/// One level and its polylines (possibly none).
using IsoLevel = std::pair<double, std::vector<Polyline>>;

/// Identity of a crossing of a level with the mesh. Every node key sorts
/// before every edge key; node keys compare by node, edge keys by (lo, hi).
struct ContourKey {
    /// 0 for a node key, 1 for an edge key.
    std::uint32_t tag = 0;
    /// The node (node key) or the smaller end node (edge key).
    std::uint32_t first = 0;
    /// The larger end node (edge key); 0 for a node key.
    std::uint32_t second = 0;

    /// The level meets mesh node n itself.
    static constexpr ContourKey node(std::uint32_t n) { return {0, n, 0}; }
    /// The level crosses the interior of the edge (a, b); stored as (min, max).
    static constexpr ContourKey edge(std::uint32_t a, std::uint32_t b) {
        return a < b ? ContourKey{1, a, b} : ContourKey{1, b, a};
    }

    bool operator==(const ContourKey&) const = default;
    auto operator<=>(const ContourKey&) const = default;
};

/// The quad-split triangle mesh of a lattice, without the display parts of a
/// `MeshShell` (wireframe, outline): nodes with finite x and y, numbered row j
/// outer and column i inner; every cell with four such corners split along
/// its (i, j)-(i + 1, j + 1) diagonal into two counter-clockwise triangles.
/// Node order, triangles and orientation are those of
/// `StructuredShell::to_mesh_shell`.
struct QuadMesh {
    /// Node positions (x, y), in node order.
    std::vector<NodeXY> nodes;
    /// Counter-clockwise triangles over `nodes`.
    std::vector<MeshTriangle> triangles;
    /// Per node, its lattice position i * nrow + j (the `Grid2` index of the
    /// node's (i, j) label).
    std::vector<std::size_t> cells;
    /// Lattice columns and rows the mesh was built from.
    std::size_t ncol = 0;
    std::size_t nrow = 0;
};

namespace surfaces {

/// The quad-split mesh of a regular lattice, every node at its world position
/// (the mesh of `MeshShell::from_grid_geometry`, with its errors):
/// GeometryMismatch "StructuredShell::new: shape must be non-empty" without a
/// column or row; OutOfRange when the lattice is too large to hold;
/// GeometryInference when the nodes exceed 32-bit indices or labels;
/// GeometryInference "structured shell has no complete cell to triangulate"
/// when no cell has four finite corners.
Result<QuadMesh> quad_mesh(const GridGeometry& geometry);

/// The quad-split mesh of a structured shell (the mesh of
/// `StructuredShell::to_mesh_shell`, same errors): only nodes with finite x
/// and y are nodes, only cells with four of them are split.
Result<QuadMesh> quad_mesh(const StructuredShell& shell);

/// Per mesh node, in node order, the value of `lane` at the node's (i, j).
/// GeometryMismatch "{context}: lane shape [c, r] != mesh lattice (ncol=…,
/// nrow=…)" when the lane's shape is not the mesh's lattice shape.
Result<std::vector<double>> node_values(const QuadMesh& mesh, const Grid2& lane, std::string_view context);

/// The values a display operation of a lattice surface works on: a view of
/// the primary values or of one lane, and the name it shows them under.
struct GridDisplayLane {
    /// Shape (ncol, nrow); points into the surface.
    const Grid2* values = nullptr;
    /// "values" for the primary values, else the lane name.
    std::string name;
};

/// The primary values under the name "values" (attr absent), or the lane
/// named exactly `attr`. NotFound "no attribute layer '{}'".
Result<GridDisplayLane> display_lane(const Surface& surface, const std::optional<std::string>& attr);
/// As for a regular surface, over a structured surface's lanes.
Result<GridDisplayLane> display_lane(const StructuredMeshSurface& surface, const std::optional<std::string>& attr);

/// All crossings of one level with the mesh as polylines: open lines first,
/// in ascending order of their start keys, then closed rings in ascending
/// order of their smallest remaining segment. A triangle with a NaN corner
/// takes no part; a node exactly at the level counts as above it. Reads
/// `triangles` indices below `nodes.size()` and one value per node
/// (precondition of every mesh of this system).
std::vector<Polyline> trace_level(std::span<const NodeXY> nodes, std::span<const MeshTriangle> triangles,
                                  std::span<const double> values, double level);

/// `trace_level` for each level in the given order, each paired with its
/// polylines (levels without lines included).
std::vector<IsoLevel> trace_levels(std::span<const NodeXY> nodes, std::span<const MeshTriangle> triangles,
                                   std::span<const double> values, std::span<const double> levels);

/// Douglas-Peucker on an open line: the first and last points are always
/// kept; an interior point is kept when it lies strictly farther than `tol`
/// from the chord of its span (the first maximum winning). Two points or
/// fewer: an unchanged copy.
Polyline douglas_peucker(std::span<const IsoPoint> points, double tol);

/// Simplified copy of a polyline. Unchanged for two points or fewer, for a
/// tolerance that is not finite and positive, and for a closed ring of four
/// points or fewer. An open line goes through `douglas_peucker`; a closed
/// ring is cut at the interior point farthest from its first point, both
/// halves simplified and joined, and kept unchanged when the join would have
/// three points or fewer.
Polyline simplify_polyline(std::span<const IsoPoint> points, double tol);

/// Iso-lines of a regular surface's primary values (attr absent) or named
/// lane on the quad split of its lattice: levels from `levels` when given
/// (used as they are), else every multiple of `interval` within the finite
/// values; each polyline simplified with `simplify` when given. Errors in
/// this order: mesh (GeometryInference "structured shell has no complete
/// cell to triangulate", GeometryMismatch for a lattice without column or
/// row), lane (NotFound "no attribute layer '{}'"), levels (OutOfRange, see
/// `iso_lines::levels`). Never changes the surface.
Result<std::vector<IsoLevel>> iso_lines(const Surface& surface, std::optional<double> interval,
                                        const std::optional<std::vector<double>>& levels,
                                        const std::optional<std::string>& attr, std::optional<double> simplify);

/// `iso_lines` of a regular surface traced on the explicit quad-split mesh
/// that `quad_mesh` builds, whatever the lattice: the same result, errors
/// included. `iso_lines` walks the lattice's cells in place instead wherever
/// every node has a position.
Result<std::vector<IsoLevel>> explicit_iso_lines(const Surface& surface, std::optional<double> interval,
                                                 const std::optional<std::vector<double>>& levels,
                                                 const std::optional<std::string>& attr,
                                                 std::optional<double> simplify);

/// As for a regular surface, on the quad split of the structured shell
/// (absent nodes left out, cells with a missing corner not split).
Result<std::vector<IsoLevel>> iso_lines(const StructuredMeshSurface& surface, std::optional<double> interval,
                                        const std::optional<std::vector<double>>& levels,
                                        const std::optional<std::string>& attr, std::optional<double> simplify);

/// As for a regular surface, on the triangulated surface's own mesh. Errors:
/// lane (NotFound), GeometryMismatch "TriSurface iso-lines: {} lane values
/// for {} shell nodes" when the lane does not hold one value per node, then
/// levels (OutOfRange).
Result<std::vector<IsoLevel>> iso_lines(const TriSurface& surface, std::optional<double> interval,
                                        const std::optional<std::vector<double>>& levels,
                                        const std::optional<std::string>& attr, std::optional<double> simplify);

}  // namespace surfaces

namespace iso_lines {

/// Most levels an interval may produce; a finer interval is refused before
/// anything is allocated.
inline constexpr std::uint64_t kMaxIntervalLevels = 100'000;

/// The levels to trace. Explicit `levels` are returned exactly as given (not
/// sorted, de-duplicated or filtered; the interval is then ignored).
/// Otherwise every k * interval from ceil((min - s) / interval) to
/// floor((max + s) / interval), min and max the smallest and largest finite
/// value and s = 1e-9 * max(interval, |max|, |min|); empty without a finite
/// value. OutOfRange "iso_lines: provide an interval or explicit levels"
/// when neither is given; "iso-line interval must be a finite positive
/// number, got {}" for an interval that is zero, negative or not finite;
/// "iso-line interval {} gives more than 100000 levels between {} and {}"
/// when the interval is too fine for the value range.
Result<std::vector<double>> levels(std::span<const double> values, std::optional<double> interval,
                                   const std::optional<std::vector<double>>& levels);

/// k * interval for k = lo … hi (k converted to a double, then multiplied);
/// empty when lo > hi. The caller bounds hi - lo.
std::vector<double> level_range(std::int64_t lo, std::int64_t hi, double interval);

}  // namespace iso_lines
}  // namespace vz
