#include "manager/geodata.hpp"

#include <fmt/format.h>

#include <algorithm>
#include <cmath>
#include <set>
#include <utility>

#include "core/shell/mesh.hpp"
#include "core/shell/structured.hpp"
#include "expected_macros.hpp"
#include "foundation/format.hpp"
#include "manager/asset.hpp"
#include "manager/project_rules.hpp"

namespace vz {

namespace {

template <class V>
const V* find_in(const OrderedMap<std::string, V>& map, std::string_view name) {
    auto it = map.find(std::string(name));
    return it == map.end() ? nullptr : &it->second;
}

template <class V>
bool contains(const OrderedMap<std::string, V>& map, std::string_view name) {
    return map.find(std::string(name)) != map.end();
}

/// Removes `name` from `map` keeping the order of the others; the removed
/// value, or none when absent.
template <class V>
std::optional<V> take(OrderedMap<std::string, V>& map, std::string_view name) {
    auto it = map.find(std::string(name));
    if (it == map.end()) return std::nullopt;
    std::optional<V> value(std::move(it.value()));
    map.erase(it);
    return value;
}

/// Inserts under a key known to be absent (appended at the end) and returns
/// the stored value.
template <class V>
V& append(OrderedMap<std::string, V>& map, std::string_view name, V value) {
    auto [it, inserted] = map.insert_or_assign(std::string(name), std::move(value));
    (void)inserted;
    return it.value();
}

/// Exact coordinate equality in which an absent coordinate (NaN) matches an
/// absent one: a node missing on both sides is the same missing node.
bool same_coord(double a, double b) { return a == b || (std::isnan(a) && std::isnan(b)); }

using Ring = std::vector<std::array<double, 3>>;

bool same_rings(const std::vector<Ring>& a, const std::vector<Ring>& b) {
    if (a.size() != b.size()) return false;
    for (std::size_t r = 0; r < a.size(); ++r) {
        if (a[r].size() != b[r].size()) return false;
        for (std::size_t k = 0; k < a[r].size(); ++k)
            for (int c = 0; c < 3; ++c)
                if (!same_coord(a[r][k][c], b[r][k][c])) return false;
    }
    return true;
}

bool same_grid(const Grid2& a, const Grid2& b) {
    if (a.ncol() != b.ncol() || a.nrow() != b.nrow()) return false;
    auto va = a.values();
    auto vb = b.values();
    for (std::size_t k = 0; k < va.size(); ++k)
        if (!same_coord(va[k], vb[k])) return false;
    return true;
}

/// The regular lattice against a structured shell: same counts, every node
/// of the lattice (rows outer, columns inner) at the shell's node position,
/// and the lattice footprint equal to the shell's outline.
bool regular_matches_structured(const GridGeometry& geom, const StructuredShell& shell) {
    if (shell.ncol() != geom.ncol || shell.nrow() != geom.nrow) return false;
    for (std::uint64_t j = 0; j < geom.nrow; ++j)
        for (std::uint64_t i = 0; i < geom.ncol; ++i) {
            auto [x, y] = geom.node_xy(i, j);
            if (!(x == shell.x()(i, j) && y == shell.y()(i, j))) return false;
        }
    return same_rings(PolygonSet::from_grid_geometry(geom).rings(), shell.edge().rings());
}

bool structured_matches_structured(const StructuredShell& a, const StructuredShell& b) {
    return a.ncol() == b.ncol() && a.nrow() == b.nrow() && same_grid(a.x(), b.x()) && same_grid(a.y(), b.y()) &&
           same_rings(a.edge().rings(), b.edge().rings());
}

/// The triangle mesh a surface of any kind presents: a triangulated
/// surface's own shell, the lossless triangulation of a regular lattice or
/// of a structured shell.
Result<std::shared_ptr<const MeshShell>> mesh_of(SurfaceRef surface) {
    if (auto* s = std::get_if<const Surface*>(&surface)) {
        VZ_ASSIGN_OR_RETURN(MeshShell mesh, MeshShell::from_grid_geometry((*s)->geom));
        return std::make_shared<const MeshShell>(std::move(mesh));
    }
    if (auto* s = std::get_if<const StructuredMeshSurface*>(&surface)) {
        VZ_ASSIGN_OR_RETURN(MeshShell mesh, (*s)->shell->to_mesh_shell());
        return std::make_shared<const MeshShell>(std::move(mesh));
    }
    return std::get<const TriSurface*>(surface)->shell;
}

bool same_mesh(const MeshShell& a, const MeshShell& b) {
    if (a.node_count() != b.node_count()) return false;
    for (std::size_t n = 0; n < a.node_count(); ++n)
        if (!same_coord(a.nodes()[n][0], b.nodes()[n][0]) || !same_coord(a.nodes()[n][1], b.nodes()[n][1]))
            return false;
    return a.triangles() == b.triangles() && a.wireframe_edges(std::nullopt) == b.wireframe_edges(std::nullopt) &&
           same_rings(a.edge().rings(), b.edge().rings()) && a.labels() == b.labels();
}

SurfaceKind kind_of(SurfaceRef surface) { return static_cast<SurfaceKind>(surface.index()); }

}  // namespace

// ---- construction, lookups, listings ------------------------------------

GeoData GeoData::make(LengthUnit unit) {
    GeoData project;
    project.unit = unit;
    return project;
}

const Well* GeoData::find_well(std::string_view id) const { return find_in(wells, id); }

Well* GeoData::find_well_mut(std::string_view id) {
    auto it = wells.find(std::string(id));
    return it == wells.end() ? nullptr : &it.value();
}

const PointSet* GeoData::find_point_set(std::string_view name) const { return find_in(point_sets, name); }
const PolygonSet* GeoData::find_polygon_set(std::string_view name) const { return find_in(polygon_sets, name); }
const Surface* GeoData::find_surface(std::string_view name) const { return find_in(surfaces, name); }
const StructuredMeshSurface* GeoData::find_structured_surface(std::string_view name) const {
    return find_in(structured_surfaces, name);
}
const TriSurface* GeoData::find_tri_surface(std::string_view name) const { return find_in(tri_surfaces, name); }

std::optional<SurfaceRef> GeoData::lookup_surface(std::string_view name) const {
    if (const auto* s = find_surface(name)) return SurfaceRef(s);
    if (const auto* s = find_structured_surface(name)) return SurfaceRef(s);
    if (const auto* s = find_tri_surface(name)) return SurfaceRef(s);
    return std::nullopt;
}

std::optional<SurfaceKind> GeoData::surface_kind(std::string_view name) const {
    auto found = lookup_surface(name);
    if (!found) return std::nullopt;
    return kind_of(*found);
}

bool GeoData::name_in_use(std::string_view name) const {
    return contains(wells, name) || contains(point_sets, name) || contains(polygon_sets, name) ||
           lookup_surface(name).has_value() || contains(model_sections, name) || contains(assets, name);
}

namespace {
template <class V>
std::vector<std::string> keys_of(const OrderedMap<std::string, V>& map) {
    std::vector<std::string> out;
    out.reserve(map.size());
    for (const auto& [k, v] : map) out.push_back(k);
    return out;
}
}  // namespace

std::vector<std::string> GeoData::well_names() const { return keys_of(wells); }
std::vector<std::string> GeoData::model_section_names() const { return keys_of(model_sections); }
std::vector<std::string> GeoData::asset_names() const { return keys_of(assets); }

std::vector<const Well*> GeoData::wells_by_name(std::span<const std::string> names) const {
    std::vector<const Well*> out;
    for (const auto& n : names)
        if (const Well* w = find_well(n)) out.push_back(w);
    return out;
}

// ---- setters -----------------------------------------------------------

Result<void> GeoData::set_display_name(std::optional<std::string> value) {
    VZ_ASSIGN_OR_RETURN(auto checked, project::check_optional_name(std::move(value), "display name"));
    display_name = std::move(checked);
    return {};
}

Result<void> GeoData::set_crs(std::optional<std::string> value) {
    VZ_ASSIGN_OR_RETURN(auto checked, project::check_optional_name(std::move(value), "CRS"));
    crs = std::move(checked);
    return {};
}

void GeoData::set_owner(std::string value) { owner = std::move(value); }

void GeoData::set_tags(std::vector<std::string> values) { tags = std::move(values); }

void GeoData::set_element_tags(std::string_view name, std::vector<std::string> values) {
    element_tags.insert_or_assign(std::string(name), std::move(values));
}

void GeoData::set_curve_aliases(std::optional<AliasMap> map) { curve_aliases = std::move(map); }

// ---- renames -------------------------------------------------------------

void GeoData::rename_element_tags(std::string_view old_name, std::string_view new_name) {
    if (old_name == new_name) return;
    auto it = element_tags.find(std::string(old_name));
    if (it == element_tags.end()) return;
    if (name_in_use(old_name)) {
        // A namesake of another kind still bears the old name: it keeps the
        // shared list, and the renamed element takes a copy.
        std::vector<std::string> copy = it->second;
        element_tags.insert_or_assign(std::string(new_name), std::move(copy));
        return;
    }
    std::vector<std::string> moved = std::move(it.value());
    element_tags.erase(it);
    element_tags.insert_or_assign(std::string(new_name), std::move(moved));
}

namespace {

/// Rename within one map: destination first, then the source.
template <class V>
Result<V*> rename_in(OrderedMap<std::string, V>& map, std::string_view kind_word, std::string_view old_name,
                     std::string_view new_name) {
    if (contains(map, new_name))
        return fail(Error::parse(fmt::format("rename_{}: destination '{}' already exists", kind_word, new_name)));
    auto value = take(map, old_name);
    if (!value) return fail(Error::not_found(fmt::format("{} '{}'", kind_word, old_name)));
    return &append(map, new_name, std::move(*value));
}

}  // namespace

Result<void> GeoData::rename_well(std::string_view old_id, std::string_view new_id) {
    if (old_id == new_id) return {};
    VZ_ASSIGN_OR_RETURN(Well * well, rename_in(wells, "well", old_id, new_id));
    well->name = std::string(new_id);
    rename_element_tags(old_id, new_id);
    return {};
}

Result<void> GeoData::rename_points(std::string_view old_name, std::string_view new_name) {
    if (old_name == new_name) return {};
    VZ_TRY(rename_in(point_sets, "point set", old_name, new_name));
    rename_element_tags(old_name, new_name);
    return {};
}

Result<void> GeoData::rename_polygons(std::string_view old_name, std::string_view new_name) {
    if (old_name == new_name) return {};
    VZ_TRY(rename_in(polygon_sets, "polygon set", old_name, new_name));
    rename_element_tags(old_name, new_name);
    return {};
}

Result<void> GeoData::rename_surface(std::string_view old_name, std::string_view new_name) {
    if (old_name == new_name) return {};
    if (lookup_surface(new_name))
        return fail(Error::parse(fmt::format("rename_surface: destination '{}' already exists", new_name)));
    if (auto v = take(surfaces, old_name)) {
        append(surfaces, new_name, std::move(*v));
    } else if (auto v2 = take(structured_surfaces, old_name)) {
        append(structured_surfaces, new_name, std::move(*v2));
    } else if (auto v3 = take(tri_surfaces, old_name)) {
        append(tri_surfaces, new_name, std::move(*v3));
    } else {
        return fail(Error::not_found(fmt::format("surface '{}'", old_name)));
    }
    auto pos = std::find(surface_order.begin(), surface_order.end(), old_name);
    if (pos != surface_order.end()) *pos = std::string(new_name);
    rename_element_tags(old_name, new_name);
    return {};
}

// ---- deletions -----------------------------------------------------------

void GeoData::drop_orphan_tags(std::string_view name) {
    if (name_in_use(name)) return;
    auto it = element_tags.find(std::string(name));
    if (it != element_tags.end()) element_tags.erase(it);
}

bool GeoData::delete_well(std::string_view id) {
    if (!take(wells, id)) return false;
    drop_orphan_tags(id);
    return true;
}

bool GeoData::delete_points(std::string_view name) {
    if (!take(point_sets, name)) return false;
    drop_orphan_tags(name);
    return true;
}

bool GeoData::delete_polygons(std::string_view name) {
    if (!take(polygon_sets, name)) return false;
    drop_orphan_tags(name);
    return true;
}

bool GeoData::delete_surface(std::string_view name) {
    if (!take(surfaces, name) && !take(structured_surfaces, name) && !take(tri_surfaces, name)) return false;
    std::erase(surface_order, std::string(name));
    drop_orphan_tags(name);
    return true;
}

// ---- replacement ----------------------------------------------------------

Result<void> GeoData::check_replacement(std::string_view name, SurfaceRef value) const {
    auto stored = lookup_surface(name);
    if (!stored) return fail(Error::not_found(fmt::format("surface '{}'", name)));
    const SurfaceKind a = kind_of(*stored);
    const SurfaceKind b = kind_of(value);
    bool same = false;
    if (a == SurfaceKind::Regular && b == SurfaceKind::Regular) {
        same = std::get<const Surface*>(*stored)->geom == std::get<const Surface*>(value)->geom;
    } else if (a == SurfaceKind::Regular && b == SurfaceKind::Structured) {
        same = regular_matches_structured(std::get<const Surface*>(*stored)->geom,
                                          *std::get<const StructuredMeshSurface*>(value)->shell);
    } else if (a == SurfaceKind::Structured && b == SurfaceKind::Regular) {
        same = regular_matches_structured(std::get<const Surface*>(value)->geom,
                                          *std::get<const StructuredMeshSurface*>(*stored)->shell);
    } else if (a == SurfaceKind::Structured && b == SurfaceKind::Structured) {
        const auto& sa = std::get<const StructuredMeshSurface*>(*stored)->shell;
        const auto& sb = std::get<const StructuredMeshSurface*>(value)->shell;
        same = sa == sb || structured_matches_structured(*sa, *sb);
    } else {
        VZ_ASSIGN_OR_RETURN(auto ma, mesh_of(*stored));
        VZ_ASSIGN_OR_RETURN(auto mb, mesh_of(value));
        same = ma == mb || same_mesh(*ma, *mb);
    }
    if (!same)
        return fail(Error::geometry_mismatch(
            fmt::format("replace_surface('{}'): replacement geometry/topology differs from the stored surface", name)));
    return {};
}

void GeoData::remove_surface_everywhere(std::string_view name) {
    take(surfaces, name);
    take(structured_surfaces, name);
    take(tri_surfaces, name);
}

Result<const Surface*> GeoData::replace_surface(std::string_view name, Surface value) {
    VZ_TRY(check_replacement(name, SurfaceRef(&value)));
    remove_surface_everywhere(name);
    return &append(surfaces, name, std::move(value));
}

Result<const StructuredMeshSurface*> GeoData::replace_structured_surface(std::string_view name,
                                                                         StructuredMeshSurface value) {
    VZ_TRY(check_replacement(name, SurfaceRef(&value)));
    remove_surface_everywhere(name);
    return &append(structured_surfaces, name, std::move(value));
}

Result<const TriSurface*> GeoData::replace_tri_surface(std::string_view name, TriSurface value) {
    VZ_TRY(check_replacement(name, SurfaceRef(&value)));
    remove_surface_everywhere(name);
    return &append(tri_surfaces, name, std::move(value));
}

// ---- formation tops and hints ----------------------------------------------

std::vector<std::string> GeoData::well_top_names() const {
    std::vector<std::string> names;
    std::set<std::string> seen;  // ASCII-lower-cased names already taken
    for (const auto& [id, well] : wells)
        for (const auto& [label, bore] : well.bores)
            for (const auto& top : bore.tops)
                if (seen.insert(ascii_lower(top.name)).second) names.push_back(top.name);
    return names;
}

std::vector<WellTopRow> GeoData::well_top_set(std::string_view name) const {
    std::vector<WellTopRow> rows;
    for (const auto& [id, well] : wells)
        for (const auto& [label, bore] : well.bores) {
            const Trajectory* active = bore.active_trajectory();
            for (const auto& top : bore.tops) {
                if (!iequals_ascii(top.name, name)) continue;
                std::optional<Xyz> position;
                if (active) {
                    if (auto p = active->position_at_md(top.md)) position = Xyz{(*p)[0], (*p)[1], -(*p)[2]};
                }
                rows.push_back({id, label, top.md, position});
            }
        }
    return rows;
}

std::uint64_t GeoData::delete_well_top(std::string_view name) {
    std::uint64_t removed = 0;
    for (auto it = wells.begin(); it != wells.end(); ++it)
        for (auto b = it.value().bores.begin(); b != it.value().bores.end(); ++b)
            removed += std::erase_if(b.value().tops, [&](const DepthPick& t) { return iequals_ascii(t.name, name); });
    return removed;
}

Result<void> GeoData::_apply_top(std::string_view name, std::span<const SurfaceIntersection> hits) {
    const std::string top(trim_unicode(name));
    if (top.empty()) return fail(Error::parse("well-top name cannot be empty"));
    std::set<std::pair<std::string, std::string>> seen;
    for (const auto& hit : hits) {
        if (!hit.well) return fail(Error::parse("project well-top assignment needs hit.well identity"));
        if (!hit.bore) return fail(Error::parse("project well-top assignment needs hit.bore identity"));
        if (!seen.emplace(*hit.well, *hit.bore).second)
            return fail(Error::parse(fmt::format(
                "well-top assignment has multiple hits for {}/{}; select one crossing per bore", *hit.well, *hit.bore)));
        const Well* well = find_well(*hit.well);
        if (!well) return fail(Error::not_found(fmt::format("intersection well '{}' in this project", *hit.well)));
        const Sidetrack* bore = well->bore(*hit.bore);
        if (!bore)
            return fail(Error::not_found(fmt::format("intersection bore '{}' on well '{}'", *hit.bore, *hit.well)));
        VZ_TRY(bore->check_intersection(hit));
    }
    delete_well_top(top);
    for (const auto& hit : hits) find_well_mut(*hit.well)->sidetrack_entry(*hit.bore).add_tops({{top, hit.md}});
    return {};
}

Result<void> GeoData::strat_hint(std::string_view spec) {
    std::vector<StratHint> parsed;
    VZ_TRY(StratHint::parse(spec, parsed));
    strat_hints.insert(strat_hints.end(), parsed.begin(), parsed.end());
    return {};
}

void GeoData::push_strat_hint(std::string above, std::string below) {
    strat_hints.push_back({std::move(above), std::move(below)});
}

void GeoData::extend_strat_hints(std::span<const StratHint> pairs) {
    strat_hints.insert(strat_hints.end(), pairs.begin(), pairs.end());
}

// ---- model sections and assets -----------------------------------------------

void GeoData::put_model_section(std::string_view name, std::vector<std::string> section_tags, std::uint32_t version,
                                std::vector<std::uint8_t> data) {
    model_sections.insert_or_assign(std::string(name), ModelSection{std::move(section_tags), std::move(data), version});
}

std::optional<std::pair<std::uint32_t, std::vector<std::uint8_t>>> GeoData::model_section(
    std::string_view name) const {
    const ModelSection* s = find_in(model_sections, name);
    if (!s) return std::nullopt;
    return std::make_pair(s->version, s->data);
}

Result<void> GeoData::add_asset(std::string_view name, std::string kind, std::vector<std::uint8_t> envelope,
                                std::vector<std::string> asset_tags, std::uint32_t version,
                                std::vector<std::uint8_t> data) {
    VZ_TRY(asset::validate_name(name));
    VZ_TRY(asset::validate_frame(kind, envelope, version));
    if (contains(assets, name)) return fail(Error::parse(fmt::format("asset '{}' already exists", name)));
    append(assets, name,
           AssetRecord{std::move(kind), std::move(envelope), std::move(asset_tags), std::move(data), std::nullopt,
                       version});
    return {};
}

Result<void> GeoData::replace_asset(std::string_view name, std::string kind, std::vector<std::uint8_t> envelope,
                                    std::vector<std::string> asset_tags, std::uint32_t version,
                                    std::vector<std::uint8_t> data) {
    VZ_TRY(asset::validate_name(name));
    auto it = assets.find(std::string(name));
    if (it == assets.end()) return fail(Error::not_found(fmt::format("asset '{}'", name)));
    VZ_TRY(asset::validate_frame(kind, envelope, version));
    it.value() = AssetRecord{std::move(kind),  std::move(envelope), std::move(asset_tags),
                             std::move(data),  std::nullopt,        version};
    return {};
}

Result<void> GeoData::rename_asset(std::string_view old_name, std::string_view new_name) {
    VZ_TRY(asset::validate_name(old_name));
    VZ_TRY(asset::validate_name(new_name));
    if (old_name == new_name) return {};
    if (contains(assets, new_name)) return fail(Error::parse(fmt::format("asset '{}' already exists", new_name)));
    auto record = take(assets, old_name);
    if (!record) return fail(Error::not_found(fmt::format("asset '{}'", old_name)));
    append(assets, new_name, std::move(*record));
    return {};
}

bool GeoData::delete_asset(std::string_view name) { return take(assets, name).has_value(); }

std::optional<AssetSnapshot> GeoData::asset(std::string_view name) const {
    const AssetRecord* r = find_in(assets, name);
    if (!r) return std::nullopt;
    return AssetSnapshot{r->kind, r->envelope, r->version, r->tags, r->data};
}

namespace project {

void restore_element_tags(GeoData& project, std::string_view name, std::vector<std::string> tags) {
    if (tags.empty()) return;
    project.element_tags.insert_or_assign(std::string(name), std::move(tags));
}

}  // namespace project

}  // namespace vz
