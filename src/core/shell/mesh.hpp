#pragma once
/// `MeshShell`: the node geometry of a triangulated surface. Node n has an
/// explicit (x, y); triangles are counter-clockwise triples of 32-bit node
/// indices; the wireframe is the display edge list (cell diagonals left out);
/// the edge is the outline; every node may carry a lattice label.
///
/// A shell carries no z and no values, is built only through `MeshShell::make`
/// (which validates it) and never changes afterwards. Surfaces share one shell
/// through `SharedMeshShell`.

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string_view>
#include <vector>

#include "core/grid_geometry.hpp"
#include "core/node_label.hpp"
#include "core/polygons.hpp"
#include "foundation/result.hpp"

namespace vz {

/// A node position (x, y).
using NodeXY = std::array<double, 2>;
/// A triangle as three node indices, counter-clockwise in XY.
using MeshTriangle = std::array<std::uint32_t, 3>;
/// An undirected edge as (smaller node, larger node).
using MeshEdge = std::array<std::uint32_t, 2>;

/// Largest node count a shell may hold: node indices are 32-bit and the
/// all-bits-set value is reserved as the none marker.
inline constexpr std::uint64_t kMaxMeshNodes = 0xFFFFFFFEull;

/// The coarse display mesh of `MeshShell::coarsen`.
struct CoarseMesh {
    /// XY of the kept nodes, in coarse order.
    std::vector<NodeXY> nodes;
    /// Counter-clockwise triangles over `nodes`.
    std::vector<MeshTriangle> triangles;
    /// Per coarse node, the index of its source node (ascending).
    std::vector<std::uint32_t> kept;
};

class MeshShell {
public:
    /// Validating constructor; takes every list over. Checks in order:
    /// GeometryMismatch "MeshShell::new: {} labels for {} nodes";
    /// GeometryMismatch "MeshShell::new: wireframe edge ({}, {}) outside {}
    /// nodes" (first offending pair as stored); GeometryInference
    /// "MeshShell::new: {}" around the corner-table failure (triangle index out
    /// of range, or an edge carried by three or more triangles). A node count
    /// beyond `kMaxMeshNodes` fails first with GeometryInference. Orientation,
    /// degenerate triangles and coincident nodes are not checked.
    static Result<MeshShell> make(std::vector<NodeXY> nodes, std::vector<MeshTriangle> triangles,
                                  std::vector<MeshEdge> wireframe, PolygonSet edge,
                                  std::vector<std::optional<NodeLabel>> labels);

    /// The mesh of a regular lattice: every node at its world position, row j
    /// outer and column i inner, labels (0, i, j), every cell split into two
    /// counter-clockwise triangles. GeometryMismatch "StructuredShell::new:
    /// shape must be non-empty" for a lattice without column or row;
    /// GeometryInference "structured shell has no complete cell to
    /// triangulate" for a single row or column; OutOfRange for a lattice too
    /// large to hold.
    static Result<MeshShell> from_grid_geometry(const GridGeometry& geometry);

    const std::vector<NodeXY>& nodes() const { return nodes_; }
    const std::vector<MeshTriangle>& triangles() const { return triangles_; }
    /// The stored display wireframe (may be empty).
    const std::vector<MeshEdge>& wireframe() const { return wireframe_; }
    /// The outline, one polygon per boundary ring.
    const PolygonSet& edge() const { return edge_; }
    /// One optional label per node.
    const std::vector<std::optional<NodeLabel>>& labels() const { return labels_; }
    std::size_t node_count() const { return nodes_.size(); }

    /// Number of groups of triangles connected through shared nodes (a shared
    /// vertex suffices); 0 without triangles. Never fails.
    std::size_t components() const;

    /// The regular lattice of the nodes: the indexed fit over (i, j, x, y)
    /// when every node is labelled in the block of node 0, else the fit over
    /// bare XY. Errors are those of the lattice fits (GeometryInference).
    Result<GridGeometry> infer_grid(double tolerance) const;

    /// Display wireframe. `stride` none, 0 or 1: the stored wireframe, or when
    /// none is stored every distinct triangle edge (smaller, larger) in
    /// ascending order. A stride k >= 2: every k-th row and column line of
    /// each labelled block plus outline, seams and unlabelled fringe, cell
    /// diagonals dropped. Strides beyond the 32-bit lattice step range are
    /// clamped to 2^31 - 1. Never fails.
    std::vector<MeshEdge> wireframe_edges(std::optional<std::uint64_t> stride) const;

    /// Coarse display mesh keeping the first node of each label whose i and j
    /// are multiples of `k` (negative multiples included; unlabelled nodes are
    /// never kept), each complete coarse cell split into two counter-clockwise
    /// triangles along its (i, j)-(i + k, j + k) diagonal. k = 0 counts as 1;
    /// k beyond 2^31 - 1 is clamped. Never fails.
    CoarseMesh coarsen(std::uint64_t k) const;

private:
    MeshShell() = default;

    std::vector<NodeXY> nodes_;
    std::vector<MeshTriangle> triangles_;
    std::vector<MeshEdge> wireframe_;
    PolygonSet edge_;
    std::vector<std::optional<NodeLabel>> labels_;
};

/// A shell shared read-only by every surface built on it.
using SharedMeshShell = std::shared_ptr<const MeshShell>;

namespace mesh {

/// GeometryInference "{context}: {n} nodes exceed the 4294967294 nodes a
/// 32-bit node index can address" when `node_count` is above
/// `kMaxMeshNodes`; success otherwise.
Result<void> check_node_count(std::uint64_t node_count, std::string_view context);

/// Appends (a, b, c) to `triangles`, as (a, c, b) when the three nodes run
/// clockwise in XY; collinear or NaN positions keep the given order. Callers
/// pass indices of existing nodes.
void push_ccw_triangle(std::vector<MeshTriangle>& triangles, std::span<const NodeXY> nodes, MeshTriangle t);

/// Stored wireframe of a triangle list: every distinct edge in ascending
/// (smaller, larger) order except interior cell diagonals (edges of exactly
/// two triangles whose end labels share a block and differ by one in both i
/// and j). `labels` has one entry per node referenced by `triangles`.
std::vector<MeshEdge> build_wireframe(std::span<const MeshTriangle> triangles,
                                      std::span<const std::optional<NodeLabel>> labels);

/// Keep rule of the coarse wireframe for edge (a < b) used by `use_count`
/// triangles at lattice stride `k` (>= 1): outline edges kept, cell diagonals
/// dropped, row-line segments kept when j is a multiple of k, column-line
/// segments when i is, everything else (fringe, seams) kept.
bool coarse_wireframe_keep(MeshEdge edge, std::size_t use_count, std::span<const std::optional<NodeLabel>> labels,
                           std::int32_t k);

/// A requested lattice stride as the 32-bit step the lattice rules use:
/// 0 becomes 1, values above 2^31 - 1 become 2^31 - 1.
std::int32_t lattice_stride(std::uint64_t stride);

}  // namespace mesh

}  // namespace vz
