// Regular-surface payloads ("surface" sections).

#include <fmt/format.h>

#include <utility>

#include "expected_macros.hpp"
#include "manager/element.hpp"
#include "manager/element_records.hpp"

namespace vz::element {

namespace {

bool fits(const GridGeometry& geom, const Grid2& values) {
    return values.ncol() == geom.ncol && values.nrow() == geom.nrow && values.size() == values.ncol() * values.nrow();
}

/// GeometryMismatch "{context}: values shape [c, r] != grid (ncol=…, nrow=…)",
/// the wording of the surface constructors.
Error shape_error(std::string_view context, const GridGeometry& geom, const Grid2& values) {
    return Error::geometry_mismatch(fmt::format("{}: values shape [{}, {}] != grid (ncol={}, nrow={})", context,
                                                values.ncol(), values.nrow(), geom.ncol, geom.nrow));
}

struct SurfaceV1Record {
    GridGeometry geom;
    Grid2 values;
    OrderedMap<std::string, Grid2> attributes;
    std::vector<std::string> history;
};

Result<SurfaceV1Record> read_surface_v1(payload::Reader& r) {
    SurfaceV1Record rec;
    VZ_ASSIGN_OR_RETURN(rec.geom, records::read_geometry(r));
    VZ_ASSIGN_OR_RETURN(rec.values, r.grid());
    VZ_ASSIGN_OR_RETURN(rec.attributes, r.map([](payload::Reader& rr) { return rr.grid(); }));
    VZ_ASSIGN_OR_RETURN(rec.history, r.text_list());
    return rec;
}

Result<Surface> read_surface_v2(payload::Reader& r) {
    Surface s;
    VZ_ASSIGN_OR_RETURN(s.geom, records::read_geometry(r));
    VZ_ASSIGN_OR_RETURN(s.values, r.grid());
    VZ_ASSIGN_OR_RETURN(s.primary_metadata, r.option(records::read_metadata));
    VZ_ASSIGN_OR_RETURN(s.attributes, r.map([](payload::Reader& rr) -> Result<AttributeLane> {
        AttributeLane lane;
        VZ_ASSIGN_OR_RETURN(lane.metadata, records::read_metadata(rr));
        VZ_ASSIGN_OR_RETURN(lane.values, rr.grid());
        return lane;
    }));
    VZ_ASSIGN_OR_RETURN(auto history, r.text_list());
    s.history = History(std::move(history));
    return s;
}

Result<Surface> upgrade_v1(SurfaceV1Record rec) {
    VZ_ASSIGN_OR_RETURN(Surface s, Surface::make(rec.geom, std::move(rec.values)));
    for (auto it = rec.attributes.begin(); it != rec.attributes.end(); ++it) {
        VZ_TRY(s.set_attr(it->first, std::move(it.value())));
    }
    s.history = History(std::move(rec.history));
    return s;
}

/// The checks the surface constructors would make, on a record read as it
/// is: the shapes (refused as unreadable payloads, since no writer produces
/// them), then the metadata rules (their errors unchanged).
Result<Surface> check_v2(Surface s) {
    if (!fits(s.geom, s.values)) return fail(payload::deserialize_error(shape_error("Surface::new", s.geom, s.values)));
    VZ_TRY(checked_node_count(s.geom, "Surface::new"));
    if (s.primary_metadata) s.primary_metadata->canonicalize();
    for (auto it = s.attributes.begin(); it != s.attributes.end(); ++it) it.value().metadata.canonicalize();
    if (s.primary_metadata) {
        VZ_TRY(s.primary_metadata->validate());
        VZ_TRY(records::check_categorical(*s.primary_metadata, s.values.values()));
    }
    for (auto it = s.attributes.begin(); it != s.attributes.end(); ++it) {
        AttributeLane& lane = it.value();
        if (!fits(s.geom, lane.values)) {
            return fail(
                payload::deserialize_error(shape_error("Surface::set_attr_with_metadata", s.geom, lane.values)));
        }
        VZ_TRY(records::check_lane_metadata(it->first, lane.metadata, lane.values.values()));
    }
    return s;
}

}  // namespace

Result<Bytes> serialize_surface(const Surface& s) {
    return payload::encode([&](auto& out) {
        records::put_geometry(out, s.geom);
        out.grid(s.values);
        payload::option(out, s.primary_metadata, [](auto& o, const AttributeMetadata& m) { records::put_metadata(o, m); });
        payload::map(out, s.attributes, [](auto& o, const AttributeLane& lane) {
            records::put_metadata(o, lane.metadata);
            o.grid(lane.values);
        });
        out.text_list(s.history.entries());
    });
}

Result<Section> encode_surface(const Surface& surface) {
    VZ_ASSIGN_OR_RETURN(auto bytes, serialize_surface(surface));
    return records::make_section(kSurfaceKind, std::move(bytes));
}

Result<Surface> decode_surface(std::uint32_t version, std::span<const std::uint8_t> data) {
    VZ_TRY(records::check_version_plain(kSurfaceKind, version));
    if (version == 1) {
        VZ_ASSIGN_OR_RETURN(auto rec, payload::decode(data, read_surface_v1));
        return upgrade_v1(std::move(rec));
    }
    VZ_ASSIGN_OR_RETURN(auto s, payload::decode(data, read_surface_v2));
    return check_v2(std::move(s));
}

}  // namespace vz::element
