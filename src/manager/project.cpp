#include "manager/project.hpp"

#include <fmt/format.h>

#include <unordered_map>
#include <unordered_set>
#include <utility>

#include "container/container.hpp"
#include "expected_macros.hpp"
#include "foundation/memory.hpp"
#include "io/text.hpp"
#include "manager/asset.hpp"
#include "manager/element.hpp"
#include "manager/project_rules.hpp"

namespace vz::project {

namespace {

using container::Json;

Json optional_text(const std::optional<std::string>& s) { return s ? Json(*s) : Json(); }

Json text_array(const std::vector<std::string>& items) {
    Json::Array a;
    a.reserve(items.size());
    for (const auto& s : items) a.emplace_back(s);
    return Json(std::move(a));
}

// ---- reading the metadata record ----------------------------------------------

/// "owner": a string as stored; anything else is no owner.
std::optional<std::string> meta_owner(const Json& app) {
    const Json* v = app.find("owner");
    if (v == nullptr || v->as_string() == nullptr) return std::nullopt;
    return *v->as_string();
}

/// An array whose every item is a string; anything else is an empty list.
std::vector<std::string> meta_text_list(const Json& app, std::string_view key) {
    std::vector<std::string> out;
    const Json* v = app.find(key);
    if (v == nullptr || v->as_array() == nullptr) return out;
    for (const Json& item : *v->as_array()) {
        if (item.as_string() == nullptr) return {};
        out.push_back(*item.as_string());
    }
    return out;
}

/// A non-negative JSON integer; anything else is none.
std::optional<std::uint64_t> meta_time(const Json& app, std::string_view key) {
    const Json* v = app.find(key);
    return v == nullptr ? std::nullopt : v->as_u64();
}

/// An array of [above, below] string pairs; anything else is an empty list.
std::vector<StratHint> meta_hints(const Json& app) {
    std::vector<StratHint> out;
    const Json* v = app.find("strat_hints");
    if (v == nullptr || v->as_array() == nullptr) return out;
    for (const Json& item : *v->as_array()) {
        const Json::Array* pair = item.as_array();
        if (pair == nullptr || pair->size() != 2 || (*pair)[0].as_string() == nullptr ||
            (*pair)[1].as_string() == nullptr) {
            return {};
        }
        out.push_back(StratHint{*(*pair)[0].as_string(), *(*pair)[1].as_string()});
    }
    return out;
}

// ---- save ---------------------------------------------------------------------------

/// One element about to be written: its kind word for messages and its name.
struct Planned {
    const char* what;
    const std::string* name;
};

/// A file keeps one section per name and open refuses a second one, so two
/// elements of different kinds under one name are refused before anything is
/// encoded. Only the surfaces the surface order lists are written; a listed
/// name that no map holds is reported when the surfaces are encoded.
Result<void> check_unique_names(const GeoData& p) {
    std::vector<Planned> planned;
    planned.reserve(p.surface_order.size() + p.wells.size() + p.point_sets.size() + p.polygon_sets.size() +
                    p.model_sections.size() + p.assets.size());
    // A name held by two surface maps would keep only one of the surfaces.
    for (const std::string& name : p.surface_order) {
        if (p.surfaces.contains(name)) planned.push_back({"surface", &name});
        if (p.structured_surfaces.contains(name)) planned.push_back({"structured mesh surface", &name});
        if (p.tri_surfaces.contains(name)) planned.push_back({"triangulated surface", &name});
    }
    for (const auto& [name, w] : p.wells) planned.push_back({"well", &name});
    for (const auto& [name, s] : p.point_sets) planned.push_back({"point set", &name});
    for (const auto& [name, s] : p.polygon_sets) planned.push_back({"polygon set", &name});
    for (const auto& [name, s] : p.model_sections) planned.push_back({"model section", &name});
    for (const auto& [name, s] : p.assets) planned.push_back({"asset", &name});
    std::unordered_map<std::string_view, const char*> seen;
    seen.reserve(planned.size());
    for (const Planned& e : planned) {
        auto [it, inserted] = seen.emplace(*e.name, e.what);
        if (!inserted) {
            return fail(Error::parse(fmt::format(
                "project element name '{}' is used by a {} and a {}; a project file holds one section per name, "
                "rename one of them before saving",
                *e.name, it->second, e.what)));
        }
    }
    return {};
}

Result<void> check_reserved_prefix(const GeoData& p) {
    auto check = [](const std::string& name) -> Result<void> {
        if (name.size() >= asset::kNamePrefix.size() && name.starts_with(asset::kNamePrefix)) {
            return fail(Error::parse(
                fmt::format("project element name '{}' uses reserved prefix '{}'", name, asset::kNamePrefix)));
        }
        return {};
    };
    for (const auto& [name, e] : p.surfaces) VZ_TRY(check(name));
    for (const auto& [name, e] : p.structured_surfaces) VZ_TRY(check(name));
    for (const auto& [name, e] : p.tri_surfaces) VZ_TRY(check(name));
    for (const auto& [name, e] : p.wells) VZ_TRY(check(name));
    for (const auto& [name, e] : p.point_sets) VZ_TRY(check(name));
    for (const auto& [name, e] : p.polygon_sets) VZ_TRY(check(name));
    for (const auto& [name, e] : p.model_sections) VZ_TRY(check(name));
    return {};
}

Result<container::Section> encode_surface_ref(const SurfaceRef& ref) {
    switch (ref.index()) {
        case 0: return element::encode_surface(*std::get<0>(ref));
        case 1: return element::encode_structured_mesh(*std::get<1>(ref));
        default: return element::encode_tri_surface(*std::get<2>(ref));
    }
}

// ---- open ---------------------------------------------------------------------------

/// The collection segment of "@asset/<collection>/...", "unknown" when the
/// name has none.
std::string asset_collection(std::string_view name) {
    if (!name.starts_with(asset::kNamePrefix)) return "unknown";
    std::string_view rest = name.substr(asset::kNamePrefix.size());
    const auto slash = rest.find('/');
    if (slash == std::string_view::npos || slash == 0) return "unknown";
    return std::string(rest.substr(0, slash));
}

Result<AssetRecord> open_asset(const container::Section& section) {
    VZ_TRY(asset::validate_name(section.name));
    AssetRecord rec;
    rec.tags = section.tags;
    rec.version = section.version;
    if (section.version == asset::kFrameVersion) {
        VZ_ASSIGN_OR_RETURN(auto parts, asset::decode_frame(section.data));
        VZ_ASSIGN_OR_RETURN(rec.kind, asset::parse_envelope(parts.first));
        rec.envelope = std::move(parts.first);
        rec.data = std::move(parts.second);
    } else {
        // A legacy asset: kept whole and written back byte for byte.
        rec.kind = asset_collection(section.name);
    }
    rec.frame = section.data;
    return rec;
}

/// Stores a decoded element section under its name, restoring its tags.
template <class T>
void store(GeoData& p, OrderedMap<std::string, T>& map, container::Section& section, T value) {
    project::restore_element_tags(p, section.name, std::move(section.tags));
    map.insert_or_assign(section.name, std::move(value));
}

bool is_surface_kind(std::string_view kind) {
    return kind == element::kSurfaceKind || kind == element::kStructuredMeshKind || kind == element::kTriSurfaceKind;
}

Result<void> open_section(GeoData& p, const container::Container& c, const container::Entry& entry) {
    const std::string& kind = entry.kind;
    const bool element_kind = kind == element::kWellKind || kind == element::kPointsKind ||
                              kind == element::kPolygonsKind || is_surface_kind(kind);
    if (!element_kind && kind != "model" && kind != "asset") return {};  // unknown kinds are not read
    if (is_surface_kind(kind)) {
        const bool elsewhere = (kind != element::kSurfaceKind && p.surfaces.contains(entry.name)) ||
                               (kind != element::kStructuredMeshKind && p.structured_surfaces.contains(entry.name)) ||
                               (kind != element::kTriSurfaceKind && p.tri_surfaces.contains(entry.name));
        if (elsewhere) {
            return fail(Error::parse(
                fmt::format(".zedod contains duplicate surface name '{}' across surface kinds", entry.name)));
        }
    }
    VZ_ASSIGN_OR_RETURN(container::Section section, container::read_entry(c, entry));
    const std::uint32_t version = entry.version;
    if (kind == element::kWellKind) {
        VZ_ASSIGN_OR_RETURN(Well w, element::decode_well(version, section.data));
        store(p, p.wells, section, std::move(w));
    } else if (kind == element::kPointsKind) {
        VZ_ASSIGN_OR_RETURN(PointSet s, element::decode_points(version, section.data));
        store(p, p.point_sets, section, std::move(s));
    } else if (kind == element::kPolygonsKind) {
        VZ_ASSIGN_OR_RETURN(PolygonSet s, element::decode_polygons(version, section.data));
        store(p, p.polygon_sets, section, std::move(s));
    } else if (kind == element::kSurfaceKind) {
        VZ_ASSIGN_OR_RETURN(Surface s, element::decode_surface(version, section.data));
        p.surface_order.push_back(section.name);
        store(p, p.surfaces, section, std::move(s));
    } else if (kind == element::kStructuredMeshKind) {
        VZ_ASSIGN_OR_RETURN(StructuredMeshSurface s, element::decode_structured_mesh(version, section.data));
        p.surface_order.push_back(section.name);
        store(p, p.structured_surfaces, section, std::move(s));
    } else if (kind == element::kTriSurfaceKind) {
        VZ_ASSIGN_OR_RETURN(TriSurface s, element::decode_tri_surface(version, section.data));
        p.surface_order.push_back(section.name);
        store(p, p.tri_surfaces, section, std::move(s));
    } else if (kind == "model") {
        ModelSection m{std::move(section.tags), std::move(section.data), version};
        p.model_sections.insert_or_assign(section.name, std::move(m));
    } else {
        VZ_ASSIGN_OR_RETURN(AssetRecord a, open_asset(section));
        p.assets.insert_or_assign(section.name, std::move(a));
    }
    return {};
}

// ---- split and export -------------------------------------------------------------

template <class Keep>
ToolsResult<void> copy_selected(const std::filesystem::path& src, const std::filesystem::path& dst, Keep&& keep) {
    VZ_ASSIGN_OR_RETURN(container::Container c, container::open(src));
    std::vector<container::StoredSection> kept;
    for (const container::Entry& entry : c.header.sections) {
        if (!keep(entry)) continue;
        // Each entry's own bytes, so a source with two sections of one name
        // copies both faithfully.
        VZ_ASSIGN_OR_RETURN(auto bytes, container::read_entry_payload(c, entry));
        kept.push_back(container::StoredSection{entry, std::move(bytes)});
    }
    return container::write_copied(dst, c.header.app, c.element_schema_version, kept);
}

}  // namespace

// ---- metadata record ------------------------------------------------------------------

std::string_view unit_name(LengthUnit unit) { return unit == LengthUnit::Feet ? "Feet" : "Metres"; }

ProjectMeta ProjectMeta::from_project(const GeoData& project, std::uint64_t now) {
    ProjectMeta m;
    m.created = project.created.value_or(now);
    m.crs = project.crs;
    m.display_name = project.display_name;
    m.modified = now;
    m.owner = project.owner;
    m.strat_hints = project.strat_hints;
    m.strat_order = project.strat_order;
    m.tags = project.tags;
    m.unit = project.unit;
    return m;
}

Json ProjectMeta::to_json() const {
    Json::Array hints;
    hints.reserve(strat_hints.size());
    for (const StratHint& h : strat_hints) hints.emplace_back(Json::Array{Json(h.above), Json(h.below)});
    return Json::object({
        {"created", Json(created)},
        {"crs", optional_text(crs)},
        {"display_name", optional_text(display_name)},
        {"modified", Json(modified)},
        {"owner", optional_text(owner)},
        {"strat_hints", Json(std::move(hints))},
        {"strat_order", text_array(strat_order)},
        {"tags", text_array(tags)},
        {"unit", Json(unit_name(unit))},
        {"voridez_version", Json(kWriterVersion)},
    });
}

// ---- save ---------------------------------------------------------------------------

container::Section stamp_element_section(container::Section section, const GeoData& project, std::string_view name) {
    section.name = std::string(name);
    auto it = project.element_tags.find(section.name);
    section.tags = it == project.element_tags.end() ? std::vector<std::string>{} : it->second;
    return section;
}

Result<void> save(const GeoData& p, const std::filesystem::path& path) try {
    VZ_TRY(check_optional_name(p.display_name, "display name"));
    VZ_TRY(check_optional_name(p.crs, "CRS"));
    VZ_TRY(check_reserved_prefix(p));
    VZ_TRY(check_unique_names(p));

    std::vector<container::Section> sections;
    sections.reserve(p.surface_order.size() + p.wells.size() + p.point_sets.size() + p.polygon_sets.size() +
                     p.model_sections.size() + p.assets.size());
    // Each listed surface is looked up and encoded in turn, so a missing name
    // is reported where the order reaches it.
    for (const std::string& name : p.surface_order) {
        auto ref = p.lookup_surface(name);
        if (!ref) return fail(Error::not_found(fmt::format("surface order references missing surface '{}'", name)));
        VZ_ASSIGN_OR_RETURN(auto s, encode_surface_ref(*ref));
        sections.push_back(stamp_element_section(std::move(s), p, name));
    }
    for (const auto& [name, w] : p.wells) {
        VZ_ASSIGN_OR_RETURN(auto bytes, element::serialize_well(w));
        container::Section s{std::string(element::kWellKind), {}, {}, std::move(bytes), element::kPayloadVersion};
        sections.push_back(stamp_element_section(std::move(s), p, name));
    }
    for (const auto& [name, ps] : p.point_sets) {
        VZ_ASSIGN_OR_RETURN(auto s, element::encode_points(ps));
        sections.push_back(stamp_element_section(std::move(s), p, name));
    }
    for (const auto& [name, ps] : p.polygon_sets) {
        VZ_ASSIGN_OR_RETURN(auto s, element::encode_polygons(ps));
        sections.push_back(stamp_element_section(std::move(s), p, name));
    }
    for (const auto& [name, m] : p.model_sections) {
        sections.push_back(container::Section{"model", name, m.tags, m.data, m.version});
    }
    for (const auto& [name, a] : p.assets) {
        VZ_TRY(asset::validate_name(name));
        std::vector<std::uint8_t> frame;
        if (a.frame) {
            frame = *a.frame;
        } else {
            VZ_ASSIGN_OR_RETURN(frame, asset::encode_frame(a.envelope, a.data));
        }
        sections.push_back(container::Section{"asset", name, a.tags, std::move(frame), a.version});
    }

    const ProjectMeta meta = ProjectMeta::from_project(p, now_unix_seconds());
    VZ_TRY(container::save(path, meta.to_json(), kElementSchemaVersion, sections));
    return {};
} catch (const std::bad_alloc&) {
    return fail(memory_error(fmt::format("save: the sections of the project for {}", text::display_path(path))));
}

// ---- open ---------------------------------------------------------------------------

Result<GeoData> open(const std::filesystem::path& path) try {
    VZ_ASSIGN_OR_RETURN(container::Container c, container::open(path));
    VZ_TRY(check_element_schema(c.element_schema_version));
    const Json app = c.header.app;
    VZ_ASSIGN_OR_RETURN(LengthUnit unit, meta_unit(app));
    GeoData p = GeoData::make(unit);
    VZ_ASSIGN_OR_RETURN(auto display_name, meta_optional_string(app, "display_name", "display name"));
    VZ_TRY(p.set_display_name(std::move(display_name)));
    VZ_ASSIGN_OR_RETURN(auto crs, meta_optional_string(app, "crs", "CRS"));
    VZ_TRY(p.set_crs(std::move(crs)));
    p.owner = meta_owner(app);
    p.tags = meta_text_list(app, "tags");
    p.created = meta_time(app, "created");
    p.strat_hints = meta_hints(app);
    p.strat_order = meta_text_list(app, "strat_order");

    std::unordered_set<std::string_view> names;
    names.reserve(c.header.sections.size());
    for (const container::Entry& e : c.header.sections) {
        if (!names.insert(e.name).second) {
            return fail(Error::parse(fmt::format(".zedod contains duplicate physical section name '{}'", e.name)));
        }
    }
    for (const container::Entry& e : c.header.sections) VZ_TRY(open_section(p, c, e));
    return p;
} catch (const std::bad_alloc&) {
    return fail(memory_error(fmt::format("open: the project in {}", text::display_path(path))));
}

// ---- inspect ------------------------------------------------------------------------

Result<ManifestSummary> inspect(const std::filesystem::path& path) {
    VZ_ASSIGN_OR_RETURN(container::Container c, container::open(path));
    const Json& app = c.header.app;
    ManifestSummary s;
    VZ_ASSIGN_OR_RETURN(s.display_name, meta_optional_string(app, "display_name", "display name"));
    VZ_ASSIGN_OR_RETURN(s.crs, meta_optional_string(app, "crs", "CRS"));
    s.owner = meta_owner(app);
    s.tags = meta_text_list(app, "tags");
    s.created = meta_time(app, "created");
    s.modified = meta_time(app, "modified");
    VZ_ASSIGN_OR_RETURN(s.unit, meta_unit_string(app));
    s.elements.reserve(c.header.sections.size());
    for (const container::Entry& e : c.header.sections) s.elements.emplace_back(e.kind, e.name);
    return s;
}

// ---- split and export -------------------------------------------------------------

bool split_selects(std::span<const std::string> names, const container::Entry& entry) {
    for (const std::string& n : names) {
        if (entry.name == n) return true;
    }
    if (entry.kind != "asset" || !entry.name.starts_with(asset::kNamePrefix)) return false;
    const std::string_view rest = std::string_view(entry.name).substr(asset::kNamePrefix.size());
    for (const std::string& n : names) {
        if (rest == n) return true;
    }
    return false;
}

bool export_selects(std::span<const std::string> tags, const container::Entry& entry) {
    for (const std::string& have : entry.tags) {
        for (const std::string& want : tags) {
            if (have == want) return true;
        }
    }
    return false;
}

ToolsResult<void> split(const std::filesystem::path& src, const std::filesystem::path& dst,
                        std::span<const std::string> names) {
    return copy_selected(src, dst, [&](const container::Entry& e) { return split_selects(names, e); });
}

ToolsResult<void> export_tagged(const std::filesystem::path& src, const std::filesystem::path& dst,
                                std::span<const std::string> tags) {
    return copy_selected(src, dst, [&](const container::Entry& e) { return export_selects(tags, e); });
}

}  // namespace vz::project
