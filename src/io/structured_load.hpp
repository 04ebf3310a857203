#pragma once
/// File loader of `StructuredMeshSurface`: an EarthVision grid assembled into
/// a null-preserving structured surface. Every data row of the file takes its
/// place in an ncol x nrow lattice with its x, y and z (a null z stays NaN);
/// lattice positions no row names stay absent (NaN x, y and z). Shared by the
/// project's surface loader and the Python structured-surface class.

#include <filesystem>

#include "core/structured_surface.hpp"
#include "foundation/result.hpp"

namespace vz::structured_load {

/// Tolerance (world length) of the regular lattice fitted to the loaded nodes
/// as the surface's nominal geometry.
inline constexpr double kNominalTolerance = 1e-3;

/// Reads `path` with `earthvision::read_grid` (its `Io` / `Format` errors
/// unchanged) and places the nodes:
/// - rows carrying column and row numbers go to (column - smallest column,
///   row - smallest row); ncol and nrow are the spans of the numbers, and a
///   Grid_size line, when present, must agree with them;
/// - rows carrying neither fill a Grid_size ncol x nrow lattice in file order,
///   column fastest, the first row at (0, 0).
/// The outline is the occupied-cell edge of the node arrays; the nominal
/// lattice is the shell's lattice fit within `kNominalTolerance`, or none when
/// the fit fails. No lanes, no primary metadata, history
/// ["structured_surface.load_earthvision_grid(path={})"].
///
/// Errors, the first one found ends the load:
/// GeometryInference "EarthVision grid contains no data nodes",
/// "EarthVision grid mixes indexed and unindexed nodes",
/// "EarthVision grid needs column/row fields or a Grid_size directive";
/// GeometryMismatch "EarthVision Grid_size overflows usize",
/// "EarthVision Grid_size {} x {} expects {} nodes, found {}";
/// the index errors of `earthvision::node_index` (GeometryInference);
/// GeometryMismatch "EarthVision Grid_size (c, r) disagrees with column/row
/// topology (c, r)"; GeometryInference "EarthVision column/row indices span
/// {} x {} nodes, more than the {} nodes allowed for {} data nodes" when the
/// numbers spread over a lattice far larger than the rows can describe
/// (`points::lattice_node_budget`); GeometryInference "multiple EarthVision
/// nodes map to column={}, row={}" (1-based positions after the shift); the
/// outline errors of `points::structured_edge`.
Result<StructuredMeshSurface> load_earthvision_grid(const std::filesystem::path& path);

}  // namespace vz::structured_load
