#pragma once
/// Outline tracing of a triangle list and the mesh shell built from bare
/// triangles.
///
/// A boundary edge is a directed triangle edge u->v whose reverse v->u no
/// triangle carries. The boundary edges are walked into closed rings; each
/// ring follows the direction of its triangles, so with counter-clockwise
/// triangles an outer boundary runs counter-clockwise and the boundary of a
/// hole clockwise. Rings are traced in a fixed order (each starts at the
/// smallest node that still has an untraced boundary edge, and at a node with
/// several untraced outgoing edges the largest successor is taken first), so
/// the result depends only on the triangles, never on hashing.

#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include "core/node_label.hpp"
#include "core/shell/mesh.hpp"
#include "foundation/result.hpp"

namespace vz::mesh {

/// One traced boundary ring as node indices; the first node is repeated at
/// the end.
using BoundaryRing = std::vector<std::uint32_t>;

/// The closed boundary rings of `triangles` over `node_count` nodes, in
/// tracing order, each of three or more distinct steps. Errors:
/// GeometryInference "MeshShell::new: triangle {} references node {} outside
/// the shell's {} nodes" for the first index at or above `node_count`;
/// GeometryInference "triangulated surface has no boundary" when every edge
/// is paired (or there is no triangle); "triangulated surface boundary is not
/// closed" when a walk reaches a node without an untraced outgoing boundary
/// edge (inconsistently oriented triangles); "triangulated surface boundary
/// tracing did not close" when a ring grows beyond the boundary edge count;
/// "triangulated surface produced no closed boundary" when no ring is kept.
Result<std::vector<BoundaryRing>> trace_boundary(std::size_t node_count, std::span<const MeshTriangle> triangles);

/// A complete shell from bare triangles: the display wireframe
/// (`build_wireframe`), the outline (one polygon per traced ring, in tracing
/// order, holes as separate polygons; history ["polygons.from_rings"]) and
/// `MeshShell::make`. Checks in order: the node count limit of
/// `MeshShell::make`; GeometryMismatch "MeshShell::from_triangles: {} labels
/// for {} nodes"; every triangle index below the node count (the range
/// message of `MeshShell::make`); then the failures of `trace_boundary` and
/// of `MeshShell::make`. Nothing is built on failure.
Result<MeshShell> from_triangles(std::vector<NodeXY> nodes, std::vector<MeshTriangle> triangles,
                                 std::vector<std::optional<NodeLabel>> labels);

}  // namespace vz::mesh
