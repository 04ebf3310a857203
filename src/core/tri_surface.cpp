#include "core/tri_surface.hpp"

#include <cmath>
#include <limits>
#include <utility>

#include <fmt/format.h>

#include "core/surface_convert.hpp"
#include "core/shell/lane_rules.hpp"

namespace vz {

namespace {

Error count_error(std::string_view context, std::size_t values, std::size_t nodes) {
    return Error::geometry_mismatch(fmt::format("{}: {} lane values for {} shell nodes", context, values, nodes));
}

}  // namespace

Result<TriSurface> TriSurface::from_shell(SharedMeshShell shell, std::vector<double> values) {
    if (!shell) return fail(Error::geometry_mismatch("TriSurface::from_shell: no shell"));
    if (values.size() != shell->node_count())
        return fail(count_error("TriSurface::from_shell", values.size(), shell->node_count()));
    return TriSurface{std::move(shell), std::move(values), std::nullopt, {}, History::make("tri_surface.from_shell")};
}

Result<void> TriSurface::set_attr(std::string_view name, std::vector<double> lane_values) {
    if (lane_values.size() != shell->node_count())
        return fail(count_error("TriSurface::set_attr", lane_values.size(), shell->node_count()));
    if (auto it = attributes.find(std::string(name)); it != attributes.end()) {
        const AttributeMetadata& meta = it->second.metadata;
        if (meta.kind == AttributeKind::Categorical && !lane_rules::whole_or_nonfinite(lane_values))
            return fail(lane_rules::categorical_error(meta.id));
        it.value().values = std::move(lane_values);
    } else {
        VZ_ASSIGN_OR_RETURN(auto meta, AttributeMetadata::for_lane(name));
        attributes.insert({std::string(name), TriLane{std::move(meta), std::move(lane_values)}});
    }
    history.push(fmt::format("tri_surface.set_attr(name={})", name));
    return {};
}

Result<void> TriSurface::set_attr_with_metadata(std::string_view name, std::vector<double> lane_values,
                                                AttributeMetadata metadata) {
    if (lane_values.size() != shell->node_count())
        return fail(count_error("TriSurface::set_attr_with_metadata", lane_values.size(), shell->node_count()));
    VZ_TRY(metadata.validate());
    if (metadata.id != name) return fail(lane_rules::id_mismatch_error(metadata.id, name));
    if (metadata.kind == AttributeKind::Categorical && !lane_rules::whole_or_nonfinite(lane_values))
        return fail(lane_rules::categorical_error(metadata.id));
    TriLane lane{std::move(metadata), std::move(lane_values)};
    if (auto it = attributes.find(std::string(name)); it != attributes.end())
        it.value() = std::move(lane);
    else
        attributes.insert({std::string(name), std::move(lane)});
    history.push(fmt::format("tri_surface.set_attr_with_metadata(name={})", name));
    return {};
}

std::optional<TriSurface> TriSurface::as_attr_surface(std::string_view name) const {
    auto it = attributes.find(std::string(name));
    if (it == attributes.end()) return std::nullopt;
    return TriSurface{shell, it->second.values, it->second.metadata, {},
                      History::derive(history, fmt::format("tri_surface.as_attr_surface(name={})", name))};
}

const AttributeMetadata* TriSurface::attr_metadata(std::string_view name) const {
    auto it = attributes.find(std::string(name));
    return it == attributes.end() ? nullptr : &it->second.metadata;
}

const std::vector<double>* TriSurface::attr(std::string_view name) const {
    auto it = attributes.find(std::string(name));
    return it == attributes.end() ? nullptr : &it->second.values;
}

std::vector<std::string_view> TriSurface::attr_names() const {
    std::vector<std::string_view> names;
    names.reserve(attributes.size());
    for (const auto& [name, lane] : attributes) names.emplace_back(name);
    return names;
}

BBox TriSurface::bbox() const {
    constexpr double inf = std::numeric_limits<double>::infinity();
    BBox b{inf, inf, -inf, -inf};
    // fmin/fmax skip a NaN operand, so each coordinate counts on its own.
    for (const NodeXY& p : shell->nodes()) {
        b.xmin = std::fmin(b.xmin, p[0]);
        b.xmax = std::fmax(b.xmax, p[0]);
        b.ymin = std::fmin(b.ymin, p[1]);
        b.ymax = std::fmax(b.ymax, p[1]);
    }
    return b;
}

Stats TriSurface::stats() const { return Stats::from_values(values); }

std::vector<std::array<double, 3>> TriSurface::points() const {
    const auto& nodes = shell->nodes();
    const std::size_t n = std::min(nodes.size(), values.size());
    std::vector<std::array<double, 3>> out;
    out.reserve(n);
    for (std::size_t k = 0; k < n; ++k) out.push_back({nodes[k][0], nodes[k][1], values[k]});
    return out;
}

PointSet TriSurface::to_points() const {
    PointSet out = PointSet::from_coords(points());
    out.history = History::derive(history, "tri_surface.to_points()");
    return out;
}

Result<DisplayLane> TriSurface::display_lane(const std::optional<std::string>& attr_name) const {
    if (!attr_name) return DisplayLane{values, "values"};
    auto it = attributes.find(*attr_name);
    if (it == attributes.end()) return fail(Error::not_found(fmt::format("no attribute layer '{}'", *attr_name)));
    return DisplayLane{it->second.values, *attr_name};
}

Result<Surface> TriSurface::resample(const GridGeometry& target, GriddingMethod method) const {
    const auto& nodes = shell->nodes();
    const auto primary = surface_convert::finite_samples(nodes, values);
    std::vector<std::string> names;
    names.reserve(attributes.size());
    for (const auto& [name, lane] : attributes) names.push_back(name);
    VZ_ASSIGN_OR_RETURN(auto lanes, surface_convert::collect_mesh_lanes(names, *this, nodes));
    VZ_ASSIGN_OR_RETURN(auto out, surface_convert::resample_mesh_lanes(primary, primary_metadata, lanes, target, method));
    out.primary_metadata = primary_metadata;
    out.history = History::derive(history, fmt::format("tri_surface.resample(ncol={}, nrow={}, method={})",
                                                       target.ncol, target.nrow, gridding_method_name(method)));
    return out;
}

}  // namespace vz
