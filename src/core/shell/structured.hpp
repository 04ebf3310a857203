#pragma once
/// `StructuredShell`: the node geometry of a curvilinear ncol x nrow lattice.
/// Node (i, j) (i the column, j the row) has its own world (x, y) at [i, j] of
/// the `x` and `y` arrays; a node whose x or y is not finite is absent. The
/// shell also keeps its outline and, as metadata only, an approximate regular
/// lattice (`nominal`).
///
/// A shell carries no z, is built only through `StructuredShell::make` and
/// never changes afterwards. Surfaces share one shell through
/// `SharedStructuredShell`.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <utility>

#include "core/grid_geometry.hpp"
#include "core/polygons.hpp"
#include "core/shell/mesh.hpp"
#include "foundation/grid2.hpp"
#include "foundation/result.hpp"

namespace vz {

class StructuredShell {
public:
    /// Validating constructor; takes the inputs over. GeometryMismatch
    /// "StructuredShell::new: shape must be non-empty" when an extent of `x`
    /// is 0; "StructuredShell::new: x/y shapes differ: x=(c, r), y=(c, r)"
    /// when the shapes differ. Nothing ties absent nodes, `nominal` or `edge`
    /// to the coordinates.
    static Result<StructuredShell> make(Grid2 x, Grid2 y, std::optional<GridGeometry> nominal, PolygonSet edge);

    /// Every node of `geometry` at its world position, the geometry as the
    /// nominal lattice and its four-corner footprint as edge. GeometryMismatch
    /// "StructuredShell::new: shape must be non-empty" without a column or a
    /// row; OutOfRange "StructuredShell::from_grid_geometry: grid (ncol=…,
    /// nrow=…) is too large" when the node count cannot be held.
    static Result<StructuredShell> from_grid_geometry(const GridGeometry& geometry);

    /// A shell decoded from a project file: `make` (its errors unchanged),
    /// then GeometryMismatch "StructuredShell payload ncol/nrow disagree with
    /// the coordinate arrays" when the stored counts differ from the extents
    /// of `x`.
    static Result<StructuredShell> from_payload(PolygonSet edge, std::optional<GridGeometry> nominal, Grid2 x, Grid2 y,
                                                std::uint64_t ncol, std::uint64_t nrow);

    /// The outline.
    const PolygonSet& edge() const { return edge_; }
    /// Approximate regular lattice, metadata only.
    const std::optional<GridGeometry>& nominal() const { return nominal_; }
    /// World x of node (i, j) at [i, j]; NaN for an absent node.
    const Grid2& x() const { return x_; }
    /// World y of node (i, j) at [i, j]; NaN for an absent node.
    const Grid2& y() const { return y_; }
    std::size_t ncol() const { return x_.ncol(); }
    std::size_t nrow() const { return x_.nrow(); }

    /// (x, y) of node (i, j), NaN included. OutOfRange "structured surface
    /// node (i, j) outside shape (ncol=…, nrow=…)" when i >= ncol or
    /// j >= nrow.
    Result<std::pair<double, double>> node_xy(std::uint64_t i, std::uint64_t j) const;

    /// Extent of the nodes whose x and y are both finite; all four NaN when
    /// there is none. Never fails.
    BBox bbox() const;

    /// The regular lattice fitted to the present nodes by their (i, j), rows
    /// outer and columns inner. Errors are those of the indexed lattice fit
    /// (GeometryInference).
    Result<GridGeometry> infer_grid(double tolerance) const;

    /// The triangle mesh of the present nodes (numbered row j outer, column i
    /// inner, labelled (0, i, j)), each complete cell split along its
    /// (i, j)-(i + 1, j + 1) diagonal into two counter-clockwise triangles,
    /// wireframe without the diagonals, edge copied. GeometryInference
    /// "structured shell has no complete cell to triangulate" when no cell has
    /// all four corners; GeometryInference when the nodes exceed 32-bit
    /// indices or the lattice exceeds 32-bit labels.
    Result<MeshShell> to_mesh_shell() const;

private:
    StructuredShell() = default;

    PolygonSet edge_;
    std::optional<GridGeometry> nominal_;
    Grid2 x_;
    Grid2 y_;
};

/// A shell shared read-only by every surface built on it.
using SharedStructuredShell = std::shared_ptr<const StructuredShell>;

}  // namespace vz
