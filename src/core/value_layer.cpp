// Value layers of the three surface kinds. Regular and structured surfaces
// are first split into their labelled lattice mesh, so that the lane values
// are gathered by each node's (i, j) label and the coarse levels of detail of
// all three kinds come from the same label-driven coarsening.

#include "core/value_layer.hpp"

#include <cmath>
#include <limits>
#include <utility>

#include <fmt/format.h>

#include "core/shell/structured.hpp"
#include "core/structured_surface.hpp"
#include "core/surface.hpp"
#include "core/tri_surface.hpp"
#include "foundation/grid2.hpp"

namespace vz {

namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

/// The primary values or the lane named exactly `attr` of a lattice surface.
template <class LatticeSurface>
Result<const Grid2*> lattice_lane(const LatticeSurface& surface, const std::optional<std::string>& attr) {
    if (!attr) return &surface.values;
    const Grid2* lane = surface.attr(*attr);
    if (lane == nullptr) return fail(Error::not_found(fmt::format("no attribute layer '{}'", *attr)));
    return lane;
}

/// Per mesh node, the lane value at the node's (i, j) label; NaN for a node
/// without label or with a label outside the lane's shape.
std::vector<double> values_by_label(const MeshShell& mesh, const Grid2& lane) {
    const auto& labels = mesh.labels();
    std::vector<double> out(labels.size(), kNaN);
    for (std::size_t n = 0; n < labels.size(); ++n) {
        const auto& l = labels[n];
        if (!l || l->i < 0 || l->j < 0) continue;
        const auto i = static_cast<std::size_t>(l->i);
        const auto j = static_cast<std::size_t>(l->j);
        if (i < lane.ncol() && j < lane.nrow()) out[n] = lane(i, j);
    }
    return out;
}

std::string layer_name(const std::optional<std::string>& attr) { return attr ? *attr : std::string("values"); }

}  // namespace

std::vector<double> ValueLayer::gather_values(std::span<const double> values, std::span<const std::uint32_t> kept) {
    std::vector<double> out;
    out.reserve(kept.size());
    for (const std::uint32_t k : kept) out.push_back(k < values.size() ? values[k] : kNaN);
    return out;
}

ValueLayer ValueLayer::build(const MeshShell& mesh, std::string name, std::span<const double> values,
                             std::optional<std::uint64_t> stride) {
    ValueLayer layer;
    layer.vmin = kNaN;
    layer.vmax = kNaN;
    for (const double v : values) {
        if (!std::isfinite(v)) continue;
        if (std::isnan(layer.vmin) || v < layer.vmin) layer.vmin = v;
        if (std::isnan(layer.vmax) || v > layer.vmax) layer.vmax = v;
    }

    const std::uint64_t k = stride.value_or(1);
    if (k < 2) {
        layer.nodes = mesh.nodes();
        layer.triangles = mesh.triangles();
        layer.values.assign(values.begin(), values.end());
    } else {
        // Lattice steps are 32-bit: a larger stride keeps only the multiples
        // of the largest step, which is what any larger stride would keep.
        CoarseMesh coarse = mesh.coarsen(static_cast<std::uint64_t>(mesh::lattice_stride(k)));
        layer.values = gather_values(values, coarse.kept);
        layer.nodes = std::move(coarse.nodes);
        layer.triangles = std::move(coarse.triangles);
    }
    layer.name = std::move(name);
    return layer;
}

Result<ValueLayer> value_layer(const Surface& surface, const std::optional<std::string>& attr,
                               std::optional<std::uint64_t> stride) {
    VZ_ASSIGN_OR_RETURN(const MeshShell mesh, MeshShell::from_grid_geometry(surface.geom));
    VZ_ASSIGN_OR_RETURN(const Grid2* lane, lattice_lane(surface, attr));
    const std::vector<double> values = values_by_label(mesh, *lane);
    return ValueLayer::build(mesh, layer_name(attr), values, stride);
}

Result<ValueLayer> value_layer(const StructuredMeshSurface& surface, const std::optional<std::string>& attr,
                               std::optional<std::uint64_t> stride) {
    VZ_ASSIGN_OR_RETURN(const MeshShell mesh, surface.shell->to_mesh_shell());
    VZ_ASSIGN_OR_RETURN(const Grid2* lane, lattice_lane(surface, attr));
    const std::vector<double> values = values_by_label(mesh, *lane);
    return ValueLayer::build(mesh, layer_name(attr), values, stride);
}

Result<ValueLayer> value_layer(const TriSurface& surface, const std::optional<std::string>& attr,
                               std::optional<std::uint64_t> stride) {
    VZ_ASSIGN_OR_RETURN(DisplayLane lane, surface.display_lane(attr));
    const MeshShell& mesh = *surface.shell;
    if (lane.values.size() != mesh.node_count())
        return fail(Error::geometry_mismatch(fmt::format("TriSurface value_layer: {} lane values for {} shell nodes",
                                                         lane.values.size(), mesh.node_count())));
    return ValueLayer::build(mesh, std::move(lane.name), lane.values, stride);
}

}  // namespace vz
