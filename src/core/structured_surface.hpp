#pragma once
/// `StructuredMeshSurface`: values on a curvilinear lattice. A shared,
/// immutable `StructuredShell` gives node (i, j) its world XY; the surface
/// adds one primary value per node and named attribute lanes of the same
/// (ncol, nrow) shape, indexed [column i, row j], NaN for no value.
///
/// A surface is a value: copies and promoted lanes share the shell, every
/// operation returns a new value except `set_attr` and
/// `set_attr_with_metadata`, which change the surface in place and either
/// apply completely or not at all.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "core/attribute.hpp"
#include "core/points.hpp"
#include "core/polygons.hpp"
#include "core/shell/structured.hpp"
#include "core/surface.hpp"
#include "foundation/grid2.hpp"
#include "foundation/history.hpp"
#include "foundation/result.hpp"
#include "foundation/statistics.hpp"

namespace vz {

struct StructuredMeshSurface {
    /// Node XY, outline, nominal lattice; shared and never changed.
    SharedStructuredShell shell;
    /// Primary value per node, shape (ncol, nrow).
    Grid2 values;
    /// Description of the primary values; none after construction.
    std::optional<AttributeMetadata> primary_metadata;
    /// Lanes by name in insertion order, each of shape (ncol, nrow), metadata
    /// id equal to the lane name.
    LaneMap attributes;
    /// Oldest entry first.
    History history;

    /// Surface on `shell` with no lanes, no primary metadata and the history
    /// ["structured_surface.from_shell"]. GeometryMismatch
    /// "StructuredMeshSurface::from_shell: lane shape [c, r] != shell (ncol=…,
    /// nrow=…)" when the values' shape differs from the shell's.
    static Result<StructuredMeshSurface> from_shell(SharedStructuredShell shell, Grid2 values);

    /// Builds and shares the shell (`StructuredShell::make`, its errors
    /// unchanged), then `from_shell`; history ["structured_surface.new"].
    static Result<StructuredMeshSurface> make(Grid2 x, Grid2 y, Grid2 values, std::optional<GridGeometry> nominal,
                                              PolygonSet edge);

    // ---- lanes ----------------------------------------------------------

    /// Sets lane `name`. An existing lane keeps its metadata and place (a
    /// categorical one refuses a finite fractional value, Parse
    /// "categorical attribute '{}' values must be integers or NaN"); a new
    /// lane gets `AttributeMetadata::for_lane(name)` (its Parse errors) and is
    /// appended. Appends "structured_surface.set_attr(name=…)".
    /// GeometryMismatch "StructuredMeshSurface::set_attr: lane shape …" on a
    /// shape mismatch. On failure nothing changes.
    Result<void> set_attr(std::string_view name, Grid2 lane_values);

    /// Inserts or replaces lane `name` whole. Checks in order: shape
    /// (GeometryMismatch), `AttributeMetadata::validate` (Parse), id equal to
    /// the name byte for byte (Parse "attribute metadata id '{}' must match
    /// lane name '{}'"), categorical values whole or non-finite (Parse).
    /// Appends "structured_surface.set_attr_with_metadata(name=…)". On failure
    /// nothing changes.
    Result<void> set_attr_with_metadata(std::string_view name, Grid2 lane_values, AttributeMetadata metadata);

    /// The lane promoted to the primary values of a new surface on the same
    /// shell (its metadata as primary metadata, no lanes, history +
    /// "structured_surface.as_attr_surface(name=…)"); none when no lane has
    /// that exact name.
    std::optional<StructuredMeshSurface> as_attr_surface(std::string_view name) const;

    /// The lane's metadata, or nullptr when absent.
    const AttributeMetadata* attr_metadata(std::string_view name) const;
    /// The lane's values, or nullptr when absent.
    const Grid2* attr(std::string_view name) const;
    /// Lane names in insertion order (views into the stored names).
    std::vector<std::string_view> attr_names() const;

    // ---- queries ----------------------------------------------------------

    /// Shell columns and rows.
    std::size_t ncol() const { return shell->ncol(); }
    std::size_t nrow() const { return shell->nrow(); }

    /// Primary value at [i, j], NaN included. OutOfRange "structured surface
    /// node (i, j) outside shape (ncol=…, nrow=…)".
    Result<double> z(std::uint64_t i, std::uint64_t j) const;
    /// The shell's (x, y) of node (i, j); same range error as `z`.
    Result<std::pair<double, double>> node_xy(std::uint64_t i, std::uint64_t j) const;
    /// The shell's extent over nodes with finite x and y (four NaN if none).
    BBox bbox() const { return shell->bbox(); }
    /// The shell's indexed lattice fit.
    Result<GridGeometry> infer_grid(double tolerance) const { return shell->infer_grid(tolerance); }
    /// Statistics of the primary values, NaN skipped.
    Stats stats() const;

    /// "structured_mesh": the kind under which a project stores this surface kind.
    std::string element_kind() const { return "structured_mesh"; }

    /// One point (x, y, value) per node with finite x and y (value may be
    /// NaN), rows outer and columns inner, with the columns "column" = i + 1
    /// and "row" = j + 1; history + "structured_surface.to_points()".
    PointSet to_points() const;
};

}  // namespace vz
