#pragma once
/// Triangle views of the three surface kinds for the crossing search.
///
/// The crossing search sees every surface as a bare 3-D triangle mesh
/// through `TriangleMeshSource`. The adapters here give that view of a
/// regular `Surface`, a `StructuredMeshSurface` and a `TriSurface` without
/// the surface types knowing about the search. Each call builds the mesh
/// afresh and hands it to the caller; the surface is only read and nothing is
/// cached on it. An adapter refers to its surface and must not outlive it.

#include "algorithms/intersections.hpp"
#include "foundation/result.hpp"

namespace vz {

struct Surface;
struct StructuredMeshSurface;
struct TriSurface;

namespace triangle_views {

/// Vertex k = (node k's x, node k's y, primary value k) for k below the
/// smaller of the node and value counts; the triangles are a copy of the
/// shell's, unchanged. Lanes, metadata and history play no part. Never fails
/// (a surface without shell gives an empty mesh).
TriangleMesh triangle_mesh(const TriSurface& surface);

/// The mesh of the surface's triangulated lift: one vertex per lattice node
/// with finite world position (row j outer, column i inner) at (x, y, value
/// at (i, j)), NaN for undefined nodes; every complete cell split into two
/// counter-clockwise triangles. The lift's errors: GeometryInference
/// "structured shell has no complete cell to triangulate" for a lattice of a
/// single row or column, GeometryMismatch "StructuredShell::new: shape must
/// be non-empty" without a column or row, OutOfRange for a lattice too large
/// to hold; GeometryMismatch when the values' shape is not the lattice's.
Result<TriangleMesh> triangle_mesh(const Surface& surface);

/// As for a regular surface, over the structured shell: nodes with finite x
/// and y only, cells whose four corners exist only; same errors.
Result<TriangleMesh> triangle_mesh(const StructuredMeshSurface& surface);

}  // namespace triangle_views

/// `TriangleMeshSource` over a regular surface (`triangle_views::triangle_mesh`).
class SurfaceMeshView final : public TriangleMeshSource {
public:
    explicit SurfaceMeshView(const Surface& surface) : surface_(&surface) {}
    /// The lattice's triangle mesh with z = the primary values; the lift's
    /// errors unchanged.
    Result<TriangleMesh> triangle_mesh() const override;

private:
    const Surface* surface_;
};

/// `TriangleMeshSource` over a structured mesh surface.
class StructuredSurfaceMeshView final : public TriangleMeshSource {
public:
    explicit StructuredSurfaceMeshView(const StructuredMeshSurface& surface) : surface_(&surface) {}
    /// The shell's triangle mesh with z = the primary values; the lift's
    /// errors unchanged.
    Result<TriangleMesh> triangle_mesh() const override;

private:
    const StructuredMeshSurface* surface_;
};

/// `TriangleMeshSource` over a triangulated surface; never fails.
class TriSurfaceMeshView final : public TriangleMeshSource {
public:
    explicit TriSurfaceMeshView(const TriSurface& surface) : surface_(&surface) {}
    /// The shell's nodes and triangles with z = the primary values.
    Result<TriangleMesh> triangle_mesh() const override;

private:
    const TriSurface* surface_;
};

}  // namespace vz
