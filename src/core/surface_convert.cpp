#include "core/surface_convert.hpp"

#include <cmath>
#include <limits>
#include <memory>
#include <utility>

#include <fmt/format.h>

#include "core/points.hpp"
#include "core/shell/structured.hpp"
#include "foundation/error.hpp"

namespace vz::surface_convert {

namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

GriddingMethod method_for(const std::optional<AttributeMetadata>& metadata, GriddingMethod asked) {
    return metadata && metadata->kind == AttributeKind::Categorical ? GriddingMethod::Nearest : asked;
}

Error missing_lane(std::string_view name) {
    return Error::not_found(fmt::format("no attribute layer '{}'", name));
}

/// Grids the samples onto `target` the way a point set grids its z.
Result<Surface> grid_samples(std::span<const Sample> samples, const GridGeometry& target, GriddingMethod method) {
    const PointSet points = PointSet::from_coords(std::vector<std::array<double, 3>>(samples.begin(), samples.end()));
    return points.to_surface(target, method);
}

/// Lifts a lattice-indexed surface onto a mesh shell whose node labels
/// address the lattice: values and lanes gathered by label.
template <class Source>
Result<TriSurface> lift_to_mesh(const Source& source, MeshShell mesh, std::string entry) {
    auto shell = std::make_shared<const MeshShell>(std::move(mesh));
    const auto& labels = shell->labels();
    VZ_ASSIGN_OR_RETURN(TriSurface out, TriSurface::from_shell(shell, values_by_label(source.values, labels)));
    out.primary_metadata = source.primary_metadata;
    for (const auto& [name, lane] : source.attributes)
        VZ_TRY(out.set_attr_with_metadata(name, values_by_label(lane.values, labels), lane.metadata));
    out.history = History::derive(source.history, std::move(entry));
    return out;
}

}  // namespace

std::vector<double> values_by_label(const Grid2& values, std::span<const std::optional<NodeLabel>> labels) {
    std::vector<double> out;
    out.reserve(labels.size());
    const std::size_t ncol = values.ncol();
    const std::size_t nrow = values.nrow();
    for (const auto& label : labels) {
        if (!label || label->i < 0 || label->j < 0 || static_cast<std::size_t>(label->i) >= ncol ||
            static_cast<std::size_t>(label->j) >= nrow) {
            out.push_back(kNaN);
            continue;
        }
        out.push_back(values(static_cast<std::size_t>(label->i), static_cast<std::size_t>(label->j)));
    }
    return out;
}

std::vector<Sample> finite_samples(std::span<const NodeXY> nodes, std::span<const double> values) {
    std::vector<Sample> out;
    const std::size_t n = std::min(nodes.size(), values.size());
    out.reserve(n);
    for (std::size_t k = 0; k < n; ++k)
        if (std::isfinite(values[k])) out.push_back({nodes[k][0], nodes[k][1], values[k]});
    return out;
}

Result<std::vector<LaneRecord>> collect_mesh_lanes(std::span<const std::string> names, const TriSurface& surface,
                                                   std::span<const NodeXY> nodes) {
    std::vector<LaneRecord> out;
    out.reserve(names.size());
    for (const auto& name : names) {
        const auto it = surface.attributes.find(name);
        if (it == surface.attributes.end()) return fail(missing_lane(name));
        out.push_back({it->second.metadata, finite_samples(nodes, it->second.values)});
    }
    return out;
}

namespace {

/// (x, y, v) of the shell nodes rows outer, columns inner, all three finite.
std::vector<Sample> structured_samples(const StructuredShell& shell, const Grid2& values) {
    std::vector<Sample> out;
    const std::size_t ncol = std::min(shell.ncol(), values.ncol());
    const std::size_t nrow = std::min(shell.nrow(), values.nrow());
    for (std::size_t j = 0; j < nrow; ++j) {
        for (std::size_t i = 0; i < ncol; ++i) {
            const double x = shell.x()(i, j);
            const double y = shell.y()(i, j);
            const double v = values(i, j);
            if (std::isfinite(x) && std::isfinite(y) && std::isfinite(v)) out.push_back({x, y, v});
        }
    }
    return out;
}

}  // namespace

Result<std::vector<LaneRecord>> collect_structured_lanes(std::span<const std::string> names,
                                                         const StructuredMeshSurface& surface) {
    std::vector<LaneRecord> out;
    out.reserve(names.size());
    for (const auto& name : names) {
        const auto it = surface.attributes.find(name);
        if (it == surface.attributes.end()) return fail(missing_lane(name));
        out.push_back({it->second.metadata, structured_samples(*surface.shell, it->second.values)});
    }
    return out;
}

Result<Surface> resample_mesh_lanes(std::span<const Sample> primary,
                                    const std::optional<AttributeMetadata>& primary_metadata,
                                    std::span<const LaneRecord> lanes, const GridGeometry& target,
                                    GriddingMethod method) {
    VZ_ASSIGN_OR_RETURN(Surface out, grid_samples(primary, target, method_for(primary_metadata, method)));
    for (const LaneRecord& lane : lanes) {
        VZ_ASSIGN_OR_RETURN(Surface gridded, grid_samples(lane.samples, target, method_for(lane.metadata, method)));
        VZ_TRY(out.set_attr_with_metadata(lane.metadata.id, std::move(gridded.values), lane.metadata));
    }
    return out;
}

std::vector<std::string> lane_names(const LaneMap& lanes) {
    std::vector<std::string> out;
    out.reserve(lanes.size());
    for (const auto& [name, lane] : lanes) out.push_back(name);
    return out;
}

Result<TriSurface> to_tri_surface(const Surface& surface) {
    VZ_ASSIGN_OR_RETURN(MeshShell mesh, MeshShell::from_grid_geometry(surface.geom));
    return lift_to_mesh(surface, std::move(mesh), "surface.to_tri_surface()");
}

Result<TriSurface> to_tri_surface(const StructuredMeshSurface& surface) {
    VZ_ASSIGN_OR_RETURN(MeshShell mesh, surface.shell->to_mesh_shell());
    return lift_to_mesh(surface, std::move(mesh), "structured_surface.to_tri_surface()");
}

Result<StructuredMeshSurface> to_structured_mesh(const Surface& surface) {
    VZ_ASSIGN_OR_RETURN(StructuredShell shell, StructuredShell::from_grid_geometry(surface.geom));
    auto shared = std::make_shared<const StructuredShell>(std::move(shell));
    VZ_ASSIGN_OR_RETURN(StructuredMeshSurface out, StructuredMeshSurface::from_shell(shared, surface.values));
    out.primary_metadata = surface.primary_metadata;
    for (const auto& [name, lane] : surface.attributes) VZ_TRY(out.set_attr_with_metadata(name, lane.values, lane.metadata));
    out.history = History::derive(surface.history, "surface.to_structured_mesh()");
    return out;
}

Result<Surface> resample(const StructuredMeshSurface& surface, const GridGeometry& target, GriddingMethod method) {
    const auto names = lane_names(surface.attributes);
    VZ_ASSIGN_OR_RETURN(const auto lanes, collect_structured_lanes(names, surface));
    const auto primary = structured_samples(*surface.shell, surface.values);
    VZ_ASSIGN_OR_RETURN(Surface out, resample_mesh_lanes(primary, surface.primary_metadata, lanes, target, method));
    out.primary_metadata = surface.primary_metadata;
    out.history = History::derive(surface.history, fmt::format("structured_surface.resample(ncol={}, nrow={}, method={})",
                                                                target.ncol, target.nrow, gridding_method_name(method)));
    return out;
}

}  // namespace vz::surface_convert
