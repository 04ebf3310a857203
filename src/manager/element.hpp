#pragma once
/// Element payloads of project files: the encoders that turn one project
/// element into the bytes of its container section, and the decoders that
/// turn a section's schema version and bytes back into the element.
///
/// Every payload is one record of the positional encoding of
/// `manager/payload.hpp`. Encoders write schema version 2; decoders read
/// versions 1 and 2 (for wells, point sets and polygon sets both versions
/// are the same bytes; surface payloads of version 1 carry no attribute
/// metadata and are upgraded on the way in).
///
/// Errors: encoding failures are Parse "serialize: {}"; a wrong section
/// version is Parse "unsupported ..."; bytes that cannot be read are Parse
/// "deserialize: {}". Decoders trust nothing they read: a record that breaks
/// what the element's constructors guarantee (a bore without its label, an
/// active trajectory index out of range, log arrays of unequal length,
/// station depths that do not increase, columns that do not have one value
/// per point or polygon, arrays that do not fit their lattice or shell) is
/// refused with Parse "deserialize: {}" instead of being stored.

#include <cstdint>
#include <span>
#include <string_view>
#include <vector>

#include "container/manifest.hpp"
#include "core/points.hpp"
#include "core/polygons.hpp"
#include "core/shell/mesh.hpp"
#include "core/structured_surface.hpp"
#include "core/surface.hpp"
#include "core/tri_surface.hpp"
#include "core/well.hpp"
#include "foundation/result.hpp"

namespace vz::element {

/// The uncompressed section the container writer takes.
using Section = container::Section;
/// Payload bytes.
using Bytes = std::vector<std::uint8_t>;

/// Section kind texts (fixed values of the file format).
inline constexpr std::string_view kWellKind = "well";
inline constexpr std::string_view kSurfaceKind = "surface";
inline constexpr std::string_view kStructuredMeshKind = "structured_mesh";
inline constexpr std::string_view kTriSurfaceKind = "tri_surface";
inline constexpr std::string_view kPointsKind = "points";
inline constexpr std::string_view kPolygonsKind = "polygons";

/// The payload schema version every encoder writes.
inline constexpr std::uint32_t kPayloadVersion = 2;

// ---- wells -----------------------------------------------------------------

/// The well payload: name, head (x, y), kb, optional CRS, bores by label in
/// bore order (label, head, kb, trajectories of station records, active
/// index, logs, tops, contacts, stratigraphic order), optional default bore.
/// Parse "serialize: {}" when a text is not UTF-8.
Result<Bytes> serialize_well(const Well& well);

/// A well from a "well" section of version 1 or 2 (else Parse "unsupported
/// 'well' element schema v{}"). Parse "deserialize: {}" for unreadable bytes
/// and for a well that breaks the well model's guarantees: no main bore, a
/// bore stored under a key other than its label, a trajectory without
/// stations or with depths that do not strictly increase, an active index
/// beyond the trajectories, log arrays of unequal length, a default bore
/// that is not one of the bores.
Result<Well> decode_well(std::uint32_t version, std::span<const std::uint8_t> data);

// ---- regular surfaces ------------------------------------------------------

/// The version-2 "surface" payload: geometry (57 bytes), values grid,
/// optional primary metadata, lanes (metadata and grid) in lane order,
/// history.
Result<Bytes> serialize_surface(const Surface& surface);
/// `serialize_surface` as a section: kind and placeholder name "surface",
/// no tags, version 2.
Result<Section> encode_surface(const Surface& surface);

/// A regular surface from a "surface" section. Version 1 is rebuilt through
/// `Surface::make` and `Surface::set_attr` (their errors unchanged) and
/// keeps the stored history; version 2 canonicalises and checks the primary
/// and lane metadata (errors unchanged: metadata rules, "attribute metadata
/// id '{}' must match lane name '{}'", "categorical attribute '{}' values
/// must be integers or NaN") and refuses values or lanes whose shape is not
/// the geometry's with Parse "deserialize: {}" around the constructors'
/// shape texts. Other versions: Parse "unsupported surface element schema
/// v{}".
Result<Surface> decode_surface(std::uint32_t version, std::span<const std::uint8_t> data);

// ---- structured mesh and triangulated surfaces -------------------------------

/// The version-2 "structured_mesh" payload: the shell record (ncol, nrow, x
/// and y grids, optional nominal geometry, outline), values grid, optional
/// primary metadata, lanes (metadata and grid), history.
Result<Bytes> serialize_structured_mesh(const StructuredMeshSurface& surface);
/// `serialize_structured_mesh` as a section (kind and name
/// "structured_mesh", version 2).
Result<Section> encode_structured_mesh(const StructuredMeshSurface& surface);
/// A structured mesh surface from a "structured_mesh" section; the shell is
/// rebuilt while reading (`StructuredShell::from_payload`; its failure is
/// Parse "deserialize: {}"). Version 1 goes through
/// `StructuredMeshSurface::from_shell` and `set_attr` (errors unchanged),
/// version 2 through `from_shell` and `set_attr_with_metadata` after the
/// metadata is canonicalised (errors as Parse "deserialize: {}" around their
/// display text); both keep the stored history. Other versions: Parse
/// "unsupported structured_mesh element schema v{}".
Result<StructuredMeshSurface> decode_structured_mesh(std::uint32_t version, std::span<const std::uint8_t> data);

/// The version-2 "tri_surface" payload: the shell record (nodes, triangles,
/// wireframe, outline, one optional label per node), values, optional
/// primary metadata, lanes (metadata and values), history.
Result<Bytes> serialize_tri_surface(const TriSurface& surface);
/// `serialize_tri_surface` as a section (kind and name "tri_surface",
/// version 2).
Result<Section> encode_tri_surface(const TriSurface& surface);
/// A triangulated surface from a "tri_surface" section; the shell is rebuilt
/// while reading (an empty label list means every node unlabelled; then
/// `MeshShell::make`, whose failure is Parse "deserialize: {}"). Versions as
/// `decode_structured_mesh`, through `TriSurface::from_shell`, `set_attr`
/// and `set_attr_with_metadata`. Other versions: Parse "unsupported
/// tri_surface element schema v{}".
Result<TriSurface> decode_tri_surface(std::uint32_t version, std::span<const std::uint8_t> data);

// ---- point and polygon sets ------------------------------------------------

/// The "points" payload: points (x, y, z), columns in column order, history.
Result<Bytes> serialize_points(const PointSet& points);
/// `serialize_points` as a section (kind and name "points", version 2).
Result<Section> encode_points(const PointSet& points);
/// A point set from a "points" section of version 1 or 2 (else Parse
/// "unsupported 'points' element schema v{}"). Parse "deserialize: point
/// attribute '{}' has {} rows, expected {}" for a column whose length is not
/// the point count.
Result<PointSet> decode_points(std::uint32_t version, std::span<const std::uint8_t> data);

/// The "polygons" payload: polygons (exterior and hole rings as stored),
/// columns in column order, history.
Result<Bytes> serialize_polygons(const PolygonSet& polygons);
/// `serialize_polygons` as a section (kind and name "polygons", version 2).
Result<Section> encode_polygons(const PolygonSet& polygons);
/// A polygon set from a "polygons" section of version 1 or 2 (else Parse
/// "unsupported 'polygons' element schema v{}"). Parse "deserialize: polygon
/// attribute '{}' has {} rows, expected {}" for a column whose length is not
/// the polygon count. Rings are taken as stored.
Result<PolygonSet> decode_polygons(std::uint32_t version, std::span<const std::uint8_t> data);

}  // namespace vz::element
