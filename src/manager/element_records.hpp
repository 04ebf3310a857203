#pragma once
/// Records shared by several element payloads (lattice geometry, attribute
/// metadata, polygon sets, the version checks), for the element codec files
/// only. Writers are templates over the payload size and write passes.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "core/attribute.hpp"
#include "core/grid_geometry.hpp"
#include "core/polygons.hpp"
#include "manager/payload.hpp"

namespace vz::element::records {

/// `GridGeometry`: xori, yori, xinc, yinc, ncol, nrow, rotation_deg, yflip
/// (57 bytes).
template <class Out>
void put_geometry(Out& out, const GridGeometry& g) {
    out.f64(g.xori);
    out.f64(g.yori);
    out.f64(g.xinc);
    out.f64(g.yinc);
    out.u64(g.ncol);
    out.u64(g.nrow);
    out.f64(g.rotation_deg);
    out.boolean(g.yflip);
}

template <class Out>
void put_optional_text(Out& out, const std::optional<std::string>& s) {
    payload::option(out, s, [](auto& o, const std::string& v) { o.text(v); });
}

/// `AttributeMetadata`: id, label, kind (u32), optional units, optional
/// code map (key -> optional label, optional colour).
template <class Out>
void put_metadata(Out& out, const AttributeMetadata& m) {
    out.text(m.id);
    out.text(m.label);
    out.variant(static_cast<std::uint32_t>(m.kind));
    put_optional_text(out, m.units);
    payload::option(out, m.codes, [](auto& o, const CodeTable& codes) {
        payload::map(o, codes, [](auto& oo, const CodeRecord& c) {
            put_optional_text(oo, c.label);
            put_optional_text(oo, c.color);
        });
    });
}

/// A ring: count, then (x, y) per vertex.
template <class Out>
void put_ring(Out& out, const std::vector<Coord>& ring) {
    out.count(ring.size());
    for (const Coord& c : ring) {
        out.f64(c.x);
        out.f64(c.y);
    }
}

/// `PolygonSet`: polygons (exterior, holes), columns, history.
template <class Out>
void put_polygon_set(Out& out, const PolygonSet& set) {
    payload::list(out, set.polygons, [](auto& o, const Polygon& p) {
        put_ring(o, p.exterior);
        payload::list(o, p.interiors, [](auto& oo, const std::vector<Coord>& ring) { put_ring(oo, ring); });
    });
    payload::map(out, set.attributes, [](auto& o, const std::vector<double>& column) { o.f64_list(column); });
    out.text_list(set.history.entries());
}

Result<GridGeometry> read_geometry(payload::Reader& r);
Result<std::optional<std::string>> read_optional_text(payload::Reader& r);
Result<AttributeMetadata> read_metadata(payload::Reader& r);
/// A polygon set as stored; Parse "deserialize: polygon attribute '{}' has
/// {} rows, expected {}" for a column of the wrong length.
Result<PolygonSet> read_polygon_set(payload::Reader& r);

/// Parse "unsupported '{kind}' element schema v{version}" unless the version
/// is 1 or 2.
Result<void> check_version_quoted(std::string_view kind, std::uint32_t version);
/// Parse "unsupported {kind} element schema v{version}" unless the version
/// is 1 or 2.
Result<void> check_version_plain(std::string_view kind, std::uint32_t version);

/// Parse "categorical attribute '{id}' values must be integers or NaN" when
/// the metadata is categorical and a finite value has a fractional part.
Result<void> check_categorical(const AttributeMetadata& m, std::span<const double> values);

/// Canonicalises a lane's metadata, validates it, requires its id to equal
/// the lane name and applies the categorical rule; the errors of those
/// rules, unwrapped.
Result<void> check_lane_metadata(std::string_view name, AttributeMetadata& m, std::span<const double> values);

/// Wraps the payload in a section of `kind` (placeholder name = kind, no
/// tags, version 2).
container::Section make_section(std::string_view kind, std::vector<std::uint8_t> data);

}  // namespace vz::element::records
