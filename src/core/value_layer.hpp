#pragma once
/// Value layers: one value lane of a surface prepared for the external viewer
/// as a triangle mesh (node positions, counter-clockwise triangles, one value
/// per node) with the lane's finite value range.
///
/// Regular and structured surfaces present their lanes on the quad-split mesh
/// of their lattice or shell, triangulated surfaces on their own mesh. A
/// stride k >= 2 asks for a coarser level of detail (the labelled nodes whose
/// lattice column and row are multiples of k); the range always describes the
/// full-resolution lane. A layer owns copies of everything it holds.

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "core/shell/mesh.hpp"
#include "foundation/result.hpp"

namespace vz {

struct Surface;
struct StructuredMeshSurface;
struct TriSurface;

struct ValueLayer {
    /// "values" for the primary lane, else the attribute lane's name.
    std::string name;
    /// Node positions (x, y), world units, in mesh node order.
    std::vector<NodeXY> nodes;
    /// Counter-clockwise triangles over `nodes`.
    std::vector<MeshTriangle> triangles;
    /// One value per node, in node order; NaN for undefined.
    std::vector<double> values;
    /// Smallest finite value of the full-resolution lane; NaN when none.
    double vmin = 0.0;
    /// Largest finite value of the full-resolution lane; NaN when none.
    double vmax = 0.0;

    /// The layer of `values` (one per mesh node) on `mesh`. Stride absent, 0
    /// or 1: the mesh's nodes and triangles with the values as given. Stride
    /// k >= 2: the coarse mesh of `MeshShell::coarsen` (strides beyond the
    /// 32-bit lattice step range are clamped to 2^31 - 1) with the values at
    /// its kept nodes. vmin and vmax come from every given value, NaN and
    /// infinities skipped. Never fails.
    static ValueLayer build(const MeshShell& mesh, std::string name, std::span<const double> values,
                            std::optional<std::uint64_t> stride);

    /// values[k] for each k of `kept`, NaN for an index beyond `values`.
    static std::vector<double> gather_values(std::span<const double> values, std::span<const std::uint32_t> kept);
};

/// The primary values (attr absent, layer "values") or the lane named exactly
/// `attr` of a regular surface on the quad split of its lattice. Errors in
/// this order: GeometryMismatch "StructuredShell::new: shape must be
/// non-empty" for a lattice without column or row, OutOfRange for a lattice
/// too large to hold, GeometryInference "structured shell has no complete
/// cell to triangulate"; NotFound "no attribute layer '{}'".
Result<ValueLayer> value_layer(const Surface& surface, const std::optional<std::string>& attr,
                               std::optional<std::uint64_t> stride);

/// As for a regular surface, on the quad split of the structured shell
/// (absent nodes left out): GeometryInference "structured shell has no
/// complete cell to triangulate" first, then NotFound "no attribute layer
/// '{}'".
Result<ValueLayer> value_layer(const StructuredMeshSurface& surface, const std::optional<std::string>& attr,
                               std::optional<std::uint64_t> stride);

/// The primary values or the named lane of a triangulated surface on its own
/// shell. NotFound "no attribute layer '{}'"; GeometryMismatch "TriSurface
/// value_layer: {} lane values for {} shell nodes" when the lane does not
/// hold one value per node.
Result<ValueLayer> value_layer(const TriSurface& surface, const std::optional<std::string>& attr,
                               std::optional<std::uint64_t> stride);

}  // namespace vz
