#include "core/structured_surface.hpp"

#include <cmath>
#include <utility>

#include <fmt/format.h>

#include "core/shell/lane_rules.hpp"

namespace vz {

namespace {

bool shape_matches(const StructuredShell& shell, const Grid2& values) {
    return values.ncol() == shell.ncol() && values.nrow() == shell.nrow() &&
           values.size() == shell.ncol() * shell.nrow();
}

Error shape_error(std::string_view context, const StructuredShell& shell, const Grid2& values) {
    return Error::geometry_mismatch(fmt::format("{}: lane shape [{}, {}] != shell (ncol={}, nrow={})", context,
                                                values.ncol(), values.nrow(), shell.ncol(), shell.nrow()));
}

Error range_error(std::uint64_t i, std::uint64_t j, std::size_t ncol, std::size_t nrow) {
    return Error::out_of_range(
        fmt::format("structured surface node ({}, {}) outside shape (ncol={}, nrow={})", i, j, ncol, nrow));
}

}  // namespace

Result<StructuredMeshSurface> StructuredMeshSurface::from_shell(SharedStructuredShell shell, Grid2 values) {
    if (!shell) return fail(Error::geometry_mismatch("StructuredMeshSurface::from_shell: no shell"));
    if (!shape_matches(*shell, values))
        return fail(shape_error("StructuredMeshSurface::from_shell", *shell, values));
    return StructuredMeshSurface{std::move(shell), std::move(values), std::nullopt, {},
                                 History::make("structured_surface.from_shell")};
}

Result<StructuredMeshSurface> StructuredMeshSurface::make(Grid2 x, Grid2 y, Grid2 values,
                                                          std::optional<GridGeometry> nominal, PolygonSet edge) {
    VZ_ASSIGN_OR_RETURN(auto shell, StructuredShell::make(std::move(x), std::move(y), std::move(nominal), std::move(edge)));
    VZ_ASSIGN_OR_RETURN(auto surface,
                        from_shell(std::make_shared<const StructuredShell>(std::move(shell)), std::move(values)));
    surface.history = History::make("structured_surface.new");
    return surface;
}

Result<void> StructuredMeshSurface::set_attr(std::string_view name, Grid2 lane_values) {
    if (!shape_matches(*shell, lane_values))
        return fail(shape_error("StructuredMeshSurface::set_attr", *shell, lane_values));
    if (auto it = attributes.find(std::string(name)); it != attributes.end()) {
        const AttributeMetadata& meta = it->second.metadata;
        if (meta.kind == AttributeKind::Categorical && !lane_rules::whole_or_nonfinite(lane_values.values()))
            return fail(lane_rules::categorical_error(meta.id));
        it.value().values = std::move(lane_values);
    } else {
        VZ_ASSIGN_OR_RETURN(auto meta, AttributeMetadata::for_lane(name));
        attributes.insert({std::string(name), AttributeLane{std::move(meta), std::move(lane_values)}});
    }
    history.push(fmt::format("structured_surface.set_attr(name={})", name));
    return {};
}

Result<void> StructuredMeshSurface::set_attr_with_metadata(std::string_view name, Grid2 lane_values,
                                                           AttributeMetadata metadata) {
    if (!shape_matches(*shell, lane_values))
        return fail(shape_error("StructuredMeshSurface::set_attr_with_metadata", *shell, lane_values));
    VZ_TRY(metadata.validate());
    if (metadata.id != name) return fail(lane_rules::id_mismatch_error(metadata.id, name));
    if (metadata.kind == AttributeKind::Categorical && !lane_rules::whole_or_nonfinite(lane_values.values()))
        return fail(lane_rules::categorical_error(metadata.id));
    AttributeLane lane{std::move(metadata), std::move(lane_values)};
    if (auto it = attributes.find(std::string(name)); it != attributes.end())
        it.value() = std::move(lane);
    else
        attributes.insert({std::string(name), std::move(lane)});
    history.push(fmt::format("structured_surface.set_attr_with_metadata(name={})", name));
    return {};
}

std::optional<StructuredMeshSurface> StructuredMeshSurface::as_attr_surface(std::string_view name) const {
    auto it = attributes.find(std::string(name));
    if (it == attributes.end()) return std::nullopt;
    return StructuredMeshSurface{shell, it->second.values, it->second.metadata, {},
                                 History::derive(history, fmt::format("structured_surface.as_attr_surface(name={})", name))};
}

const AttributeMetadata* StructuredMeshSurface::attr_metadata(std::string_view name) const {
    auto it = attributes.find(std::string(name));
    return it == attributes.end() ? nullptr : &it->second.metadata;
}

const Grid2* StructuredMeshSurface::attr(std::string_view name) const {
    auto it = attributes.find(std::string(name));
    return it == attributes.end() ? nullptr : &it->second.values;
}

std::vector<std::string_view> StructuredMeshSurface::attr_names() const {
    std::vector<std::string_view> names;
    names.reserve(attributes.size());
    for (const auto& [name, lane] : attributes) names.emplace_back(name);
    return names;
}

Result<double> StructuredMeshSurface::z(std::uint64_t i, std::uint64_t j) const {
    if (i >= shell->ncol() || j >= shell->nrow()) return fail(range_error(i, j, shell->ncol(), shell->nrow()));
    return values(i, j);
}

Result<std::pair<double, double>> StructuredMeshSurface::node_xy(std::uint64_t i, std::uint64_t j) const {
    return shell->node_xy(i, j);
}

Stats StructuredMeshSurface::stats() const { return Stats::from_values(values.values()); }

PointSet StructuredMeshSurface::to_points() const {
    const std::size_t nc = shell->ncol();
    const std::size_t nr = shell->nrow();
    std::vector<std::array<double, 3>> pts;
    std::vector<double> column;
    std::vector<double> row;
    for (std::size_t j = 0; j < nr; ++j) {
        for (std::size_t i = 0; i < nc; ++i) {
            const double x = shell->x()(i, j);
            const double y = shell->y()(i, j);
            if (!std::isfinite(x) || !std::isfinite(y)) continue;
            pts.push_back({x, y, values(i, j)});
            column.push_back(static_cast<double>(i + 1));
            row.push_back(static_cast<double>(j + 1));
        }
    }
    PointSet out;
    out.points = std::move(pts);
    out.attributes.insert({"column", std::move(column)});
    out.attributes.insert({"row", std::move(row)});
    out.history = History::derive(history, "structured_surface.to_points()");
    return out;
}

}  // namespace vz
