#pragma once
/// Moving a surface between its three representations: the regular
/// `Surface`, the `StructuredMeshSurface` on a curvilinear lattice and the
/// `TriSurface` on a triangle mesh.
///
/// Lifting (regular to structured or triangulated, structured to
/// triangulated) is exact: every node keeps its value and every attribute
/// lane is carried one to one with its metadata. Going back down to a regular
/// lattice regrids the defined node samples lane by lane through the gridding
/// kernels. Every conversion returns a new value whose primary metadata is a
/// copy of the source's and whose history is the source's plus one entry;
/// the source is never changed. The conversions add no messages of their own:
/// failures of the building blocks are passed on unchanged.

#include <array>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "core/attribute.hpp"
#include "core/grid_geometry.hpp"
#include "core/gridding_method.hpp"
#include "core/node_label.hpp"
#include "core/shell/mesh.hpp"
#include "core/structured_surface.hpp"
#include "core/surface.hpp"
#include "core/tri_surface.hpp"
#include "foundation/grid2.hpp"
#include "foundation/result.hpp"

namespace vz::surface_convert {

/// A world sample (x, y, value).
using Sample = std::array<double, 3>;

/// One lane ready for regridding: a copy of its metadata and its finite
/// samples.
struct LaneRecord {
    AttributeMetadata metadata;
    std::vector<Sample> samples;
};

/// Per mesh node, in node order, the value at [i, j] of its label (the block
/// is not looked at); NaN for a node without label or whose label lies
/// outside the array.
std::vector<double> values_by_label(const Grid2& values, std::span<const std::optional<NodeLabel>> labels);

/// (x, y, v) for every node, in node order, whose value is finite; nodes and
/// values are paired by index up to the shorter list, positions untested.
std::vector<Sample> finite_samples(std::span<const NodeXY> nodes, std::span<const double> values);

/// The lane records of `names` (in the order given) of a triangulated
/// surface whose shell nodes are `nodes`. NotFound "no attribute layer '{}'"
/// for a name the surface does not have.
Result<std::vector<LaneRecord>> collect_mesh_lanes(std::span<const std::string> names, const TriSurface& surface,
                                                   std::span<const NodeXY> nodes);

/// The lane records of `names` of a structured surface: samples (x, y, lane)
/// of the shell nodes rows outer, columns inner, where all three are finite.
/// NotFound "no attribute layer '{}'" for a name the surface does not have.
Result<std::vector<LaneRecord>> collect_structured_lanes(std::span<const std::string> names,
                                                         const StructuredMeshSurface& surface);

/// Regrids the primary samples and every lane onto `target` with `method`
/// (`Nearest` for categorical metadata whatever was asked); lanes are added
/// in order with their metadata. The result has no primary metadata and the
/// history the gridding left; callers set both. Errors of the gridding
/// (Tools "empty input: grid: no points to grid" for a sample-less primary
/// or lane) and of the lane setter.
Result<Surface> resample_mesh_lanes(std::span<const Sample> primary, const std::optional<AttributeMetadata>& primary_metadata,
                                    std::span<const LaneRecord> lanes, const GridGeometry& target,
                                    GriddingMethod method);

/// Lane names of a regular or structured surface in insertion order.
std::vector<std::string> lane_names(const LaneMap& lanes);

/// The lattice as a triangle mesh (nodes row by row, labels (0, i, j), every
/// cell split in two) carrying the values, the primary metadata and every
/// lane; history + "surface.to_tri_surface()". Errors of
/// `MeshShell::from_grid_geometry` (GeometryInference "structured shell has
/// no complete cell to triangulate" for a single row or column) and of the
/// lane setter.
Result<TriSurface> to_tri_surface(const Surface& surface);

/// The lattice as a structured shell (node positions by the lattice, the
/// lattice as nominal geometry, its footprint as edge) carrying values,
/// primary metadata and lanes; history + "surface.to_structured_mesh()".
/// Errors of `StructuredShell::from_grid_geometry` (no column or no row,
/// lattice too large) and of the lane setter.
Result<StructuredMeshSurface> to_structured_mesh(const Surface& surface);

/// The structured shell's present nodes as a triangle mesh carrying values,
/// primary metadata and lanes; history + "structured_surface.to_tri_surface()".
/// Errors of `StructuredShell::to_mesh_shell` and of the lane setter.
Result<TriSurface> to_tri_surface(const StructuredMeshSurface& surface);

/// The defined samples of the primary values and of every lane regridded
/// onto `target`; primary metadata carried; history +
/// "structured_surface.resample(ncol={}, nrow={}, method={})". Errors of
/// `resample_mesh_lanes`.
Result<Surface> resample(const StructuredMeshSurface& surface, const GridGeometry& target, GriddingMethod method);

}  // namespace vz::surface_convert
