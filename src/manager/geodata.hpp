#pragma once
/// `GeoData`: the project. One value owning every element a script loads or
/// opens — wells, the three surface kinds (one shared namespace), point sets,
/// polygon sets, opaque model sections and provider assets — with the
/// project-level metadata saved into the container manifest and the one
/// length unit every element is taken to use.
///
/// Elements live in insertion-ordered name maps keyed by exact text. Inserting
/// a new key appends it; removing a key keeps the order of the others; a
/// rename moves the element to the end of its map. Names are unique per kind
/// only: a well, a point set, a polygon set, a surface and a model section may
/// share one name, and `element_tags` is keyed by the bare name, so such
/// namesakes share one tag list.
///
/// Every operation that can fail checks everything before it changes
/// anything: a failed call leaves the project as it was. Loaders only add
/// elements under free names; an element already stored under the name is
/// kept and returned.

#include <array>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "algorithms/intersections.hpp"
#include "algorithms/wells.hpp"
#include "core/mnemonics.hpp"
#include "core/points.hpp"
#include "core/polygons.hpp"
#include "core/structured_surface.hpp"
#include "core/surface.hpp"
#include "core/tri_surface.hpp"
#include "core/units.hpp"
#include "core/well.hpp"
#include "foundation/ordered_map.hpp"
#include "foundation/result.hpp"

namespace vz {

/// An opaque model section: stored and returned byte for byte.
struct ModelSection {
    /// Export tags (they become the manifest entry's tags).
    std::vector<std::string> tags;
    /// The payload, never interpreted.
    std::vector<std::uint8_t> data;
    /// The caller's version of the payload; becomes the section's version.
    std::uint32_t version = 0;

    bool operator==(const ModelSection&) const = default;
};

/// A generic provider-owned asset under "@asset/<collection>/<name>".
struct AssetRecord {
    /// The asset type; equals the envelope's asset_type for assets added or
    /// replaced in memory and for frame-version-1 assets opened from a file.
    std::string kind;
    /// Canonical compact JSON envelope (empty for a legacy asset from a file).
    std::vector<std::uint8_t> envelope;
    /// Export tags.
    std::vector<std::string> tags;
    /// The asset payload (empty for a legacy asset from a file).
    std::vector<std::uint8_t> data;
    /// The encoded frame exactly as read from a file (written back unchanged
    /// by save); none for assets added or replaced in memory.
    std::optional<std::vector<std::uint8_t>> frame;
    /// Frame version: 1 for added and replaced assets, the section's version
    /// for opened ones.
    std::uint32_t version = 1;

    bool operator==(const AssetRecord&) const = default;
};

/// What `GeoData::asset` hands out: copies of the stored fields, the stored
/// frame left out.
struct AssetSnapshot {
    std::string kind;
    std::vector<std::uint8_t> envelope;
    std::uint32_t version = 0;
    std::vector<std::string> tags;
    std::vector<std::uint8_t> data;

    bool operator==(const AssetSnapshot&) const = default;
};

/// One formation top of a horizon across the project: the well's identifier,
/// the bore's label ("" for the main bore), md, and the position of the
/// bore's active trajectory at md as (easting, northing, elevation = -subsea
/// depth), none when the bore has no active trajectory reaching md.
struct WellTopRow {
    std::string well;
    std::string bore;
    double md = 0.0;
    std::optional<Xyz> position;

    bool operator==(const WellTopRow&) const = default;
};

/// The three kinds of surface sharing the project's surface namespace.
enum class SurfaceKind { Regular = 0, Structured = 1, Triangulated = 2 };

/// A read-only reference to a surface of any kind.
using SurfaceRef = std::variant<const Surface*, const StructuredMeshSurface*, const TriSurface*>;

/// Name -> export tags, in insertion order.
using ElementTags = OrderedMap<std::string, std::vector<std::string>>;

struct GeoData {
    /// Project title: absent, or non-empty without surrounding white space.
    std::optional<std::string> display_name;
    /// Free-text coordinate reference system label; same rule as the title.
    std::optional<std::string> crs;
    /// Regular grid surfaces.
    OrderedMap<std::string, Surface> surfaces;
    /// Curvilinear mesh surfaces.
    OrderedMap<std::string, StructuredMeshSurface> structured_surfaces;
    /// Triangulated surfaces.
    OrderedMap<std::string, TriSurface> tri_surfaces;
    /// Every surface name of the three maps, once, in the order the surfaces
    /// entered the project (the save order).
    std::vector<std::string> surface_order;
    /// Wells by identifier; a stored well's own `name` equals its key.
    OrderedMap<std::string, Well> wells;
    /// Scattered point sets.
    OrderedMap<std::string, PointSet> point_sets;
    /// Polygon sets.
    OrderedMap<std::string, PolygonSet> polygon_sets;
    /// The global stratigraphic column, shallow to deep.
    std::vector<std::string> strat_order;
    /// Soft ordering hints, oldest first, never de-duplicated.
    std::vector<StratHint> strat_hints;
    /// Owner recorded for the project; any text.
    std::optional<std::string> owner;
    /// Project-level tags in the order given.
    std::vector<std::string> tags;
    /// Export tags per element name, whatever the element's kind; may hold
    /// names no element bears yet.
    ElementTags element_tags;
    /// Opaque model sections.
    OrderedMap<std::string, ModelSection> model_sections;
    /// Provider assets keyed by their full "@asset/..." name.
    OrderedMap<std::string, AssetRecord> assets;
    /// The sticky raw-to-canonical curve alias map well loading applies (keys
    /// trimmed and ASCII-lower-cased by the caller); never saved.
    std::optional<AliasMap> curve_aliases;
    /// Creation time in whole Unix seconds; none in a new project.
    std::optional<std::uint64_t> created;
    /// The project length unit, fixed when the project is made.
    LengthUnit unit = LengthUnit::Metres;

    /// An empty project under `unit`: every map and list empty, no display
    /// name, CRS, owner, curve aliases or creation time.
    static GeoData make(LengthUnit unit);

    // ---- lookups (exact names; null when absent) --------------------------

    /// The well stored under exactly `id`, or null.
    const Well* find_well(std::string_view id) const;
    /// The well stored under exactly `id`, for changing, or null.
    Well* find_well_mut(std::string_view id);
    /// The point set stored under exactly `name`, or null.
    const PointSet* find_point_set(std::string_view name) const;
    /// The polygon set stored under exactly `name`, or null.
    const PolygonSet* find_polygon_set(std::string_view name) const;
    /// The regular surface of that name (the regular map only).
    const Surface* find_surface(std::string_view name) const;
    /// The structured mesh surface of that name (the structured map only).
    const StructuredMeshSurface* find_structured_surface(std::string_view name) const;
    /// The triangulated surface of that name (the triangulated map only).
    const TriSurface* find_tri_surface(std::string_view name) const;
    /// Same as `find_point_set`.
    const PointSet* point_set(std::string_view name) const { return find_point_set(name); }
    /// Same as `find_polygon_set`.
    const PolygonSet* polygon_set(std::string_view name) const { return find_polygon_set(name); }
    /// Same as `find_surface`.
    const Surface* regular_surface(std::string_view name) const { return find_surface(name); }
    /// Same as `find_structured_surface`.
    const StructuredMeshSurface* structured_surface(std::string_view name) const {
        return find_structured_surface(name);
    }
    /// The surface of that name in whichever map holds it: regular first,
    /// then structured, then triangulated; none when no map holds it.
    std::optional<SurfaceRef> lookup_surface(std::string_view name) const;
    /// The kind of the surface stored under `name`, in the order of
    /// `lookup_surface`.
    std::optional<SurfaceKind> surface_kind(std::string_view name) const;
    /// True when some element (well, point set, polygon set, surface of any
    /// kind, model section or asset) is stored under `name`.
    bool name_in_use(std::string_view name) const;

    // ---- listings (insertion order) ----------------------------------------

    /// Well identifiers in map order.
    std::vector<std::string> well_names() const;
    /// Model section names in map order.
    std::vector<std::string> model_section_names() const;
    /// Asset names (with their "@asset/" prefix) in map order.
    std::vector<std::string> asset_names() const;
    /// The wells stored under each name of `names`, in list order; names
    /// without a well are skipped, repeated names yield the well again.
    std::vector<const Well*> wells_by_name(std::span<const std::string> names) const;

    // ---- setters ------------------------------------------------------------

    /// Absent clears the title; a text must be non-empty and equal to itself
    /// trimmed of Unicode white space, else `Parse` "project display name must
    /// be null or a non-empty, trimmed string" (title unchanged). Stored as
    /// given.
    Result<void> set_display_name(std::optional<std::string> value);
    /// As `set_display_name`, with the label "CRS" in the message.
    Result<void> set_crs(std::optional<std::string> value);
    /// Replaces the owner; no check.
    void set_owner(std::string value);
    /// Replaces the project tags whole, unchanged.
    void set_tags(std::vector<std::string> values);
    /// Stores `values` under `name` in `element_tags`: in place when the name
    /// has an entry, else appended. No check; the name need not be borne.
    void set_element_tags(std::string_view name, std::vector<std::string> values);
    /// Replaces the sticky alias map whole; none clears it.
    void set_curve_aliases(std::optional<AliasMap> map);

    // ---- renames, deletions, replacement ------------------------------------

    /// Moves the well `old_id` to `new_id` at the end of the map and renames
    /// the well itself. Same text: success, no change. `Parse` "rename_well:
    /// destination '{}' already exists"; `NotFound` "well '{}'". Export tags
    /// follow (`rename_element_tags`).
    Result<void> rename_well(std::string_view old_id, std::string_view new_id);
    /// As `rename_well` for point sets (kind word "point set").
    Result<void> rename_points(std::string_view old_name, std::string_view new_name);
    /// As `rename_well` for polygon sets (kind word "polygon set").
    Result<void> rename_polygons(std::string_view old_name, std::string_view new_name);
    /// Renames a surface of any kind within its own map (moved to its end);
    /// its `surface_order` entry is renamed in place. `Parse` "rename_surface:
    /// destination '{}' already exists" when any surface map holds the new
    /// name (tested first); `NotFound` "surface '{}'".
    Result<void> rename_surface(std::string_view old_name, std::string_view new_name);
    /// Moves the export tags of `old_name` to `new_name` (replacing in place
    /// or appending). Nothing happens for equal names or when `old_name` has
    /// no tags. While another element still bears `old_name`, its tags stay
    /// there too (copied rather than moved) so that element keeps them.
    void rename_element_tags(std::string_view old_name, std::string_view new_name);

    /// Removes the well; false (nothing changed) when absent. The name's
    /// export tags go once no element bears the name any more.
    bool delete_well(std::string_view id);
    /// As `delete_well` for point sets.
    bool delete_points(std::string_view name);
    /// As `delete_well` for polygon sets.
    bool delete_polygons(std::string_view name);
    /// Removes the surface from the first map holding it and every equal
    /// `surface_order` entry; tags as `delete_well`.
    bool delete_surface(std::string_view name);

    /// Checks that `value` has exactly the geometry and topology of the
    /// surface stored under `name` (values, lanes, metadata and history are
    /// never compared). `NotFound` "surface '{}'"; `GeometryMismatch`
    /// "replace_surface('{}'): replacement geometry/topology differs from the
    /// stored surface"; a conversion failure while comparing meshes is
    /// returned as it is.
    Result<void> check_replacement(std::string_view name, SurfaceRef value) const;
    /// Removes `name` from all three surface maps (order of the rest kept);
    /// `surface_order` and `element_tags` are left alone.
    void remove_surface_everywhere(std::string_view name);
    /// `check_replacement`, then the value is stored under the name at the
    /// end of the regular map (whatever kind held the name before); the
    /// surface keeps its save position and its tags.
    Result<const Surface*> replace_surface(std::string_view name, Surface value);
    /// As `replace_surface`, stored into the structured map.
    Result<const StructuredMeshSurface*> replace_structured_surface(std::string_view name,
                                                                   StructuredMeshSurface value);
    /// As `replace_surface`, stored into the triangulated map.
    Result<const TriSurface*> replace_tri_surface(std::string_view name, TriSurface value);

    // ---- formation tops and stratigraphic hints -----------------------------

    /// Distinct top names over every well, bore and top in order, compared
    /// ASCII case-insensitively, each spelled and placed as first met.
    std::vector<std::string> well_top_names() const;
    /// One row per top whose name matches `name` ASCII case-insensitively,
    /// wells, bores and tops in order.
    std::vector<WellTopRow> well_top_set(std::string_view name) const;
    /// Removes every top matching `name` (ASCII case-insensitive, not
    /// trimmed) from every bore; returns how many went.
    std::uint64_t delete_well_top(std::string_view name);
    /// Writes a horizon from crossings: the trimmed name (`Parse` "well-top
    /// name cannot be empty"), every hit validated in order (`Parse` "project
    /// well-top assignment needs hit.well identity" / "... hit.bore
    /// identity", `Parse` "well-top assignment has multiple hits for {}/{};
    /// select one crossing per bore", `NotFound` "intersection well '{}' in
    /// this project", `NotFound` "intersection bore '{}' on well '{}'", and
    /// `Sidetrack::check_intersection`'s errors); then every earlier pick of
    /// the name anywhere goes and each hit's bore gets (name, md). Any failure
    /// leaves every top as it was; an empty hit list removes the horizon.
    Result<void> _apply_top(std::string_view name, std::span<const SurfaceIntersection> hits);
    /// Parses "A < B" / "B > A" (`StratHint::parse`) and appends the hint;
    /// its `Parse` errors leave the hints unchanged.
    Result<void> strat_hint(std::string_view spec);
    /// Appends (above, below) as given, without any check.
    void push_strat_hint(std::string above, std::string below);
    /// Appends copies of `pairs` in order.
    void extend_strat_hints(std::span<const StratHint> pairs);

    // ---- model sections and assets ------------------------------------------

    /// Stores a model section: in place when the name exists (position kept),
    /// else appended. Never fails.
    void put_model_section(std::string_view name, std::vector<std::string> section_tags, std::uint32_t version,
                           std::vector<std::uint8_t> data);
    /// (version, copy of the data) of the section, or none.
    std::optional<std::pair<std::uint32_t, std::vector<std::uint8_t>>> model_section(std::string_view name) const;
    /// Adds an asset: `asset::validate_name`, then `asset::validate_frame`,
    /// then `Parse` "asset '{}' already exists"; appended without a stored
    /// frame.
    Result<void> add_asset(std::string_view name, std::string kind, std::vector<std::uint8_t> envelope,
                           std::vector<std::string> asset_tags, std::uint32_t version,
                           std::vector<std::uint8_t> data);
    /// Replaces an asset in place: `asset::validate_name`, then `NotFound`
    /// "asset '{}'", then `asset::validate_frame`; a stored frame is dropped.
    Result<void> replace_asset(std::string_view name, std::string kind, std::vector<std::uint8_t> envelope,
                               std::vector<std::string> asset_tags, std::uint32_t version,
                               std::vector<std::uint8_t> data);
    /// Moves an asset (stored frame included) to the end under `new_name`:
    /// both names validated (old first); same text: no change; `Parse` "asset
    /// '{}' already exists" (new); `NotFound` "asset '{}'" (old).
    /// `element_tags` is not touched.
    Result<void> rename_asset(std::string_view old_name, std::string_view new_name);
    /// Order-preserving removal; false when absent. The name is not
    /// validated.
    bool delete_asset(std::string_view name);
    /// Copies of the stored fields (the stored frame left out), or none.
    std::optional<AssetSnapshot> asset(std::string_view name) const;

    // ---- loaders (defined in manager/loaders.cpp) ----------------------------

    /// Loads one well directory (walked recursively, sorted by path) or one
    /// file into a `Well` under `id` (see manager/loaders.hpp for the rules).
    /// A new identifier is appended; an identifier already stored keeps its
    /// well and that well is returned. The repeats of a mnemonic within one
    /// LAS file are numbered ("RES", "RES:2", ...) after alias resolution.
    /// Errors: a path that does not exist (`Io`), listing and detection `Io`,
    /// tops CSV, wellpath and trajectory-builder errors; a single file that
    /// cannot be read (its error, kind kept, naming the file) or gives no
    /// log, survey or top (`Format` when it is no well file at all, else
    /// `Parse`); nothing is stored on failure. In a directory, LAS files that
    /// fail are skipped and CRS side files that fail are passed over. On
    /// success `warnings`, when given, receives one text per skipped LAS
    /// file (naming it and the reason) and one for a directory holding no
    /// LAS, survey or tops CSV file of the well.
    Result<const Well*> load_well(std::string_view id, std::array<double, 2> head, double kb,
                                  const std::filesystem::path& path, std::vector<std::string>* warnings = nullptr);
    /// `load_well` with `aliases` in force instead of the sticky alias map;
    /// the sticky map is put back afterwards, whatever the result.
    Result<const Well*> load_well_with_aliases(std::string_view id, std::array<double, 2> head, double kb,
                                               const std::filesystem::path& path, std::optional<AliasMap> aliases,
                                               std::vector<std::string>* warnings = nullptr);
    /// Reads a Petrel well-tops file, derives the stratigraphic column from
    /// its Horizon picks and the project's hints, routes each pick to the
    /// stored well it names (tops from Horizon rows, contacts from Other
    /// rows), gives every well and the project the column, and returns the
    /// number of tops assigned. Reader and hint-resolution errors leave the
    /// project unchanged. On success `warnings`, when given, receives a text
    /// naming the file when it holds no Horizon or Other pick.
    Result<std::uint64_t> load_well_tops(const std::filesystem::path& path,
                                         std::vector<std::string>* warnings = nullptr);
    /// A regular surface (CPS-3 or IRAP classic grid) under `name`.
    Result<const Surface*> load_surface(std::string_view name, const std::filesystem::path& path);
    /// A structured mesh surface (EarthVision grid) under `name`.
    Result<const StructuredMeshSurface*> load_structured_surface(std::string_view name,
                                                                 const std::filesystem::path& path);
    /// A point set (IRAP points, EarthVision grid, GeoJSON or CSV) under
    /// `name`.
    Result<const PointSet*> load_points(std::string_view name, const std::filesystem::path& path);
    /// IRAP points with column and row numbers from an EarthVision export.
    Result<const PointSet*> load_points_with_topology(std::string_view name, const std::filesystem::path& path,
                                                      const std::filesystem::path& topology_path);
    /// A polygon set (shapefile, CPS-3 lines, IRAP polygons or GeoJSON)
    /// under `name`. A file that gives no polygon still loads, as an empty
    /// set; `warnings`, when given, then receives
    /// `loaders::no_polygon_note("load_polygons", path)`.
    Result<const PolygonSet*> load_polygons(std::string_view name, const std::filesystem::path& path,
                                            std::vector<std::string>* warnings = nullptr);

private:
    /// Drops the export tags of `name` when no element bears it any more.
    void drop_orphan_tags(std::string_view name);
};

namespace project {

/// Stores non-empty `tags` under `name` in the project's `element_tags`
/// (replacing an existing entry in place, else appending); an empty list
/// stores nothing. Used when a project file is opened.
void restore_element_tags(GeoData& project, std::string_view name, std::vector<std::string> tags);

}  // namespace project

}  // namespace vz
