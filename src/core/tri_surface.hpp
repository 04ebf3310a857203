#pragma once
/// `TriSurface`: values on a triangle mesh. A shared, immutable `MeshShell`
/// gives the node XY, triangles, wireframe, outline and labels; the surface
/// adds one primary value per node and named attribute lanes with one value
/// per node, NaN for no value.
///
/// A surface is a value: copies and promoted lanes share the shell, every
/// operation returns a new value except `set_attr` and
/// `set_attr_with_metadata`, which change the surface in place and either
/// apply completely or not at all.

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "core/attribute.hpp"
#include "core/grid_geometry.hpp"
#include "core/gridding_method.hpp"
#include "core/points.hpp"
#include "core/shell/mesh.hpp"
#include "core/surface.hpp"
#include "foundation/history.hpp"
#include "foundation/ordered_map.hpp"
#include "foundation/result.hpp"
#include "foundation/statistics.hpp"

namespace vz {

/// One named lane of a triangulated surface: metadata (id == lane name) and
/// one value per shell node.
struct TriLane {
    AttributeMetadata metadata;
    std::vector<double> values;

    bool operator==(const TriLane&) const = default;
};

/// Lane name -> lane, in insertion order; names compare exactly.
using TriLaneMap = OrderedMap<std::string, TriLane>;

/// The values a display operation works on and the name it shows them under.
struct DisplayLane {
    /// One value per shell node (a view into the surface).
    std::span<const double> values;
    /// "values" for the primary values, else the lane name.
    std::string name;
};

struct TriSurface {
    /// Nodes, triangles, wireframe, outline, labels; shared and never changed.
    SharedMeshShell shell;
    /// Primary value per shell node, in node order.
    std::vector<double> values;
    /// Description of the primary values; none after `from_shell`.
    std::optional<AttributeMetadata> primary_metadata;
    /// Lanes by name in insertion order, one value per node each.
    TriLaneMap attributes;
    /// Oldest entry first.
    History history;

    /// Surface on `shell` with no lanes, no primary metadata and the history
    /// ["tri_surface.from_shell"]. GeometryMismatch "TriSurface::from_shell:
    /// {} lane values for {} shell nodes" when the counts differ.
    static Result<TriSurface> from_shell(SharedMeshShell shell, std::vector<double> values);

    // ---- lanes ----------------------------------------------------------

    /// Sets lane `name`. An existing lane keeps its metadata and place (a
    /// categorical one refuses a finite fractional value, Parse
    /// "categorical attribute '{}' values must be integers or NaN"); a new
    /// lane gets `AttributeMetadata::for_lane(name)` (its Parse errors) and is
    /// appended. Appends "tri_surface.set_attr(name=…)". GeometryMismatch
    /// "TriSurface::set_attr: {} lane values for {} shell nodes". On failure
    /// nothing changes.
    Result<void> set_attr(std::string_view name, std::vector<double> lane_values);

    /// Inserts or replaces lane `name` whole. Checks in order: count
    /// (GeometryMismatch), `AttributeMetadata::validate` (Parse), id equal to
    /// the name byte for byte (Parse "attribute metadata id '{}' must match
    /// lane name '{}'"), categorical values whole or non-finite (Parse).
    /// Appends "tri_surface.set_attr_with_metadata(name=…)". On failure
    /// nothing changes.
    Result<void> set_attr_with_metadata(std::string_view name, std::vector<double> lane_values,
                                        AttributeMetadata metadata);

    /// The lane promoted to the primary values of a new surface on the same
    /// shell (its metadata as primary metadata, no lanes, history +
    /// "tri_surface.as_attr_surface(name=…)"); none when no lane has that
    /// exact name.
    std::optional<TriSurface> as_attr_surface(std::string_view name) const;

    /// The lane's metadata, or nullptr when absent.
    const AttributeMetadata* attr_metadata(std::string_view name) const;
    /// The lane's values, or nullptr when absent.
    const std::vector<double>* attr(std::string_view name) const;
    /// Lane names in insertion order (views into the stored names).
    std::vector<std::string_view> attr_names() const;

    // ---- geometry and values ----------------------------------------------

    /// Extent of the node XY, NaN coordinates skipped one by one; with no
    /// node (inf, inf, -inf, -inf).
    BBox bbox() const;
    /// Statistics of the primary values, NaN skipped.
    Stats stats() const;
    /// (x, y, value) per node in node order, for min(nodes, values) nodes.
    std::vector<std::array<double, 3>> points() const;
    /// `points` as a point set without columns; history + "tri_surface.to_points()".
    PointSet to_points() const;
    /// Connected triangle groups of the shell.
    std::size_t components() const { return shell->components(); }
    /// The shell's lattice fit.
    Result<GridGeometry> infer_grid(double tolerance) const { return shell->infer_grid(tolerance); }
    /// The shell's display wireframe at `stride`.
    std::vector<MeshEdge> wireframe_edges(std::optional<std::uint64_t> stride) const {
        return shell->wireframe_edges(stride);
    }

    /// "tri_surface": the kind under which a project stores this surface kind.
    std::string element_kind() const { return "tri_surface"; }

    // ---- display and resampling -------------------------------------------

    /// The primary values under the name "values" (attr absent) or the named
    /// lane's values under its name. NotFound "no attribute layer '{}'".
    Result<DisplayLane> display_lane(const std::optional<std::string>& attr) const;

    /// The primary values and every lane gridded onto `target` from their
    /// finite node samples (categorical ones by nearest sample whatever
    /// `method` says), lanes in order with their metadata, primary metadata
    /// kept; history + "tri_surface.resample(ncol=…, nrow=…, method=…)".
    /// Gridding errors (Tools, for example no finite sample) are returned.
    Result<Surface> resample(const GridGeometry& target, GriddingMethod method) const;
};

}  // namespace vz
