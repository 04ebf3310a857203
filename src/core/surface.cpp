#include "core/surface.hpp"

#include <cmath>
#include <new>

#include <fmt/format.h>

#include "foundation/format.hpp"
#include "gridding/resample.hpp"

namespace vz {

namespace {

/// True when `values` has the lattice's shape (and a consistent length).
bool shape_matches(const GridGeometry& geom, const Grid2& values) {
    std::size_t n = 0;
    return values.ncol() == geom.ncol && values.nrow() == geom.nrow &&
           !__builtin_mul_overflow(values.ncol(), values.nrow(), &n) && n == values.size();
}

Error shape_error(std::string_view context, const GridGeometry& geom, const Grid2& values) {
    return Error::geometry_mismatch(fmt::format("{}: values shape [{}, {}] != grid (ncol={}, nrow={})", context,
                                                values.ncol(), values.nrow(), geom.ncol, geom.nrow));
}

/// A categorical lane holds no finite value with a fractional part.
bool whole_or_nonfinite(const Grid2& values) {
    for (double v : values.values())
        if (std::isfinite(v) && v != std::trunc(v)) return false;
    return true;
}

Error categorical_error(std::string_view name) {
    return Error::parse(fmt::format("categorical attribute '{}' values must be integers or NaN", name));
}

}  // namespace

Result<std::size_t> checked_node_count(const GridGeometry& geom, std::string_view context) {
    // Each axis on its own too: a lattice of no columns and 2^60 rows holds
    // no value, yet every walk over its rows would run for ever.
    std::uint64_t n = 0;
    if (geom.ncol > kMaxGridNodes || geom.nrow > kMaxGridNodes || __builtin_mul_overflow(geom.ncol, geom.nrow, &n) ||
        n > kMaxGridNodes)
        return fail(Error::out_of_range(
            fmt::format("{}: grid (ncol={}, nrow={}) is too large", context, geom.ncol, geom.nrow)));
    return static_cast<std::size_t>(n);
}

Result<SurfaceData> SurfaceData::make(const GridGeometry& geom, Grid2 values) {
    if (!shape_matches(geom, values))
        return fail(Error::geometry_mismatch(fmt::format("surface values shape [{}, {}] != grid (ncol={}, nrow={})",
                                                         values.ncol(), values.nrow(), geom.ncol, geom.nrow)));
    VZ_TRY(checked_node_count(geom, "surface values"));
    return SurfaceData{geom, std::move(values), {}};
}

Result<Surface> Surface::make(const GridGeometry& geom, Grid2 values) {
    if (!shape_matches(geom, values)) return fail(shape_error("Surface::new", geom, values));
    VZ_TRY(checked_node_count(geom, "Surface::new"));
    return Surface{geom, std::move(values), std::nullopt, {}, History::make("surface.new")};
}

Result<Surface> Surface::import(SurfaceData data) {
    Surface s{data.geom, std::move(data.values), std::nullopt, {}, History::make("surface.import")};
    for (auto it = data.attributes.begin(); it != data.attributes.end(); ++it)
        VZ_TRY(s.set_attr(it->first, std::move(it.value())));
    return s;
}

Result<Surface> Surface::constant(const GridGeometry& geom, double value) {
    VZ_ASSIGN_OR_RETURN(const std::size_t n, checked_node_count(geom, "Surface::constant"));
    std::vector<double> data;
    try {
        data.assign(n, value);
    } catch (const std::bad_alloc&) {
        return fail(Error::out_of_range(
            fmt::format("Surface::constant: grid (ncol={}, nrow={}) is too large", geom.ncol, geom.nrow)));
    }
    Grid2 values(static_cast<std::size_t>(geom.ncol), static_cast<std::size_t>(geom.nrow), std::move(data));
    return Surface{geom, std::move(values), std::nullopt, {},
                   History::make(fmt::format("surface.constant(value={})", num(value)))};
}

Result<void> Surface::set_attr(std::string_view name, Grid2 lane_values) {
    if (!shape_matches(geom, lane_values)) return fail(shape_error("Surface::set_attr", geom, lane_values));
    const std::string key(name);
    auto it = attributes.find(key);
    if (it != attributes.end()) {
        if (it->second.metadata.kind == AttributeKind::Categorical && !whole_or_nonfinite(lane_values))
            return fail(categorical_error(name));
        it.value().values = std::move(lane_values);
    } else {
        VZ_ASSIGN_OR_RETURN(AttributeMetadata md, AttributeMetadata::for_lane(name));
        attributes.insert({key, AttributeLane{std::move(md), std::move(lane_values)}});
    }
    history.push(fmt::format("surface.set_attr(name={})", name));
    return {};
}

Result<void> Surface::set_attr_with_metadata(std::string_view name, Grid2 lane_values, AttributeMetadata metadata) {
    if (!shape_matches(geom, lane_values))
        return fail(shape_error("Surface::set_attr_with_metadata", geom, lane_values));
    VZ_TRY(metadata.validate());
    if (metadata.id != name)
        return fail(
            Error::parse(fmt::format("attribute metadata id '{}' must match lane name '{}'", metadata.id, name)));
    if (metadata.kind == AttributeKind::Categorical && !whole_or_nonfinite(lane_values))
        return fail(categorical_error(name));
    const std::string key(name);
    AttributeLane lane{std::move(metadata), std::move(lane_values)};
    auto it = attributes.find(key);
    if (it != attributes.end())
        it.value() = std::move(lane);
    else
        attributes.insert({key, std::move(lane)});
    history.push(fmt::format("surface.set_attr_with_metadata(name={})", name));
    return {};
}

std::optional<Surface> Surface::as_attr_surface(std::string_view name) const {
    auto it = attributes.find(std::string(name));
    if (it == attributes.end()) return std::nullopt;
    return Surface{geom, it->second.values, it->second.metadata, {},
                   History::derive(history, fmt::format("surface.as_attr_surface(name={})", name))};
}

const Grid2* Surface::attr(std::string_view name) const {
    auto it = attributes.find(std::string(name));
    return it == attributes.end() ? nullptr : &it->second.values;
}

const AttributeMetadata* Surface::attr_metadata(std::string_view name) const {
    auto it = attributes.find(std::string(name));
    return it == attributes.end() ? nullptr : &it->second.metadata;
}

std::vector<std::string_view> Surface::attr_names() const {
    std::vector<std::string_view> names;
    names.reserve(attributes.size());
    for (const auto& [name, lane] : attributes) names.emplace_back(name);
    return names;
}

std::optional<double> Surface::sample(double x, double y) const {
    const GridGeometry target{x, y, 1.0, 1.0, 1, 1, 0.0, false};
    auto out = gridding::resample(values.values(), values.ncol(), values.nrow(), geom.lattice(), target.lattice(),
                                  false);
    if (!out || out->size() != 1 || !std::isfinite((*out)[0])) return std::nullopt;
    return (*out)[0];
}

Result<Surface> Surface::resample(const GridGeometry& target) const {
    // The kernel's own source checks (shape, then a degenerate lattice) come
    // first; only a sound source is asked whether the target can be held.
    const bool sound_source = values.ncol() == geom.ncol && values.nrow() == geom.nrow && geom.ncol != 0 &&
                              geom.nrow != 0 && geom.xinc != 0.0 && geom.yinc != 0.0;
    if (sound_source) VZ_TRY(checked_node_count(target, "Surface::resample"));
    const bool nearest = primary_metadata && primary_metadata->kind == AttributeKind::Categorical;
    VZ_ASSIGN_OR_RETURN(std::vector<double> out, gridding::resample(values.values(), values.ncol(), values.nrow(),
                                                                    geom.lattice(), target.lattice(), nearest));
    Grid2 grid(static_cast<std::size_t>(target.ncol), static_cast<std::size_t>(target.nrow), std::move(out));
    return Surface{target, std::move(grid), primary_metadata, {},
                   History::derive(history, fmt::format("surface.resample(ncol={}, nrow={})", target.ncol,
                                                        target.nrow))};
}

}  // namespace vz
