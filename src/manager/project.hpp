#pragma once
/// Project files: saving a `GeoData` into one container file, opening it
/// again, summarising a file without decoding it, and copying a file's
/// sections by name or by tag without opening the project.
///
/// A saved file holds one section per element (surfaces in the project's
/// surface order, then wells, point sets, polygon sets, model sections and
/// assets), each compressed, and the project metadata record (`ProjectMeta`)
/// as the manifest's "app" value; its element schema version is 2. Saving
/// never changes the project and writes atomically (temporary file, flush,
/// rename); opening is all or nothing.

#include <cstdint>
#include <filesystem>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "container/json.hpp"
#include "container/manifest.hpp"
#include "core/units.hpp"
#include "foundation/result.hpp"
#include "manager/geodata.hpp"
#include "tools_error.hpp"

namespace vz::project {

/// The module version the writer records under "voridez_version".
inline constexpr std::string_view kWriterVersion = "0.3.15";

/// The project metadata record: the manifest's "app" object.
struct ProjectMeta {
    /// Unix seconds: the project's creation time, else the save time.
    std::uint64_t created = 0;
    std::optional<std::string> crs;
    std::optional<std::string> display_name;
    /// Unix seconds of the save.
    std::uint64_t modified = 0;
    std::optional<std::string> owner;
    std::vector<StratHint> strat_hints;
    std::vector<std::string> strat_order;
    std::vector<std::string> tags;
    LengthUnit unit = LengthUnit::Metres;

    /// The record of `project` saved at `now` (Unix seconds).
    static ProjectMeta from_project(const GeoData& project, std::uint64_t now);

    /// The JSON object with exactly the ten keys "created", "crs",
    /// "display_name", "modified", "owner", "strat_hints" (array of [above,
    /// below]), "strat_order", "tags", "unit" ("Feet" or "Metres") and
    /// "voridez_version"; absent texts are null. Written compactly with the
    /// keys in byte order by the container's JSON writer.
    container::Json to_json() const;
};

/// "Feet" or "Metres": the unit's name in project files.
std::string_view unit_name(LengthUnit unit);

/// What `inspect` reports of a file.
struct ManifestSummary {
    /// "owner" when a string, taken as stored.
    std::optional<std::string> owner;
    /// "display_name", trimmed.
    std::optional<std::string> display_name;
    /// "crs", trimmed.
    std::optional<std::string> crs;
    /// "tags" when an array of strings, else empty.
    std::vector<std::string> tags;
    /// "created" when a non-negative integer.
    std::optional<std::uint64_t> created;
    /// "modified" when a non-negative integer.
    std::optional<std::uint64_t> modified;
    /// "unit" trimmed, not checked against the unit names.
    std::optional<std::string> unit;
    /// (kind, name) of every manifest entry, in manifest order.
    std::vector<std::pair<std::string, std::string>> elements;

    bool operator==(const ManifestSummary&) const = default;
};

/// The section with its name set to `name` and its tags to the project's
/// element tags for that name (empty when it has none).
container::Section stamp_element_section(container::Section section, const GeoData& project, std::string_view name);

/// Writes the whole project to `path`. Checks first, writing nothing on
/// failure: Parse "project {} must be null or a non-empty, trimmed string"
/// (display name, CRS); Parse "project element name '{}' uses reserved
/// prefix '@asset/'"; Parse "project element name '{}' is used by a {} and
/// a {}; a project file holds one section per name, rename one of them
/// before saving" (elements of different kinds under one name would make a
/// file that cannot be opened); then, surface by surface in the surface
/// order, NotFound "surface order references missing surface '{}'" or the
/// encoder's error; the other encoders' errors; the asset name and frame
/// errors. Then the container writer's errors (as `Tools`).
Result<void> save(const GeoData& project, const std::filesystem::path& path);

/// Reads a project file back. Errors, in the order met: the container
/// reader's (as `Tools`), the element schema gate, the metadata rules
/// ("unit", "display_name", "crs"), Parse ".zedod contains duplicate
/// physical section name '{}'", Parse ".zedod contains duplicate surface
/// name '{}' across surface kinds", section read errors (as `Tools`), the
/// payload decoders' errors, the asset name, frame and envelope errors.
/// Sections of unknown kinds are skipped unread.
Result<GeoData> open(const std::filesystem::path& path);

/// The metadata and the section list of a file, without reading any
/// section and without the element schema gate. Errors: the container
/// reader's (as `Tools`); the "display_name", "crs" and "unit" rules.
Result<ManifestSummary> inspect(const std::filesystem::path& path);

/// True when the entry's name is one of `names`, or the entry is an
/// "asset" whose name is "@asset/" followed by one of `names`.
bool split_selects(std::span<const std::string> names, const container::Entry& entry);

/// True when one of the entry's tags is one of `tags` (exact text).
bool export_selects(std::span<const std::string> tags, const container::Entry& entry);

/// Copies the sections of `src` that `split_selects` keeps, compressed
/// bytes unchanged and in source order, with the source's "app" value and
/// element schema version, into a new container at `dst`. Nothing is
/// decoded. Errors of the container reader and writer; `dst` is untouched
/// on failure.
ToolsResult<void> split(const std::filesystem::path& src, const std::filesystem::path& dst,
                        std::span<const std::string> names);

/// As `split`, keeping the sections that `export_selects` accepts (the
/// project operation "export"; the word is reserved in C++).
ToolsResult<void> export_tagged(const std::filesystem::path& src, const std::filesystem::path& dst,
                                std::span<const std::string> tags);

}  // namespace vz::project
