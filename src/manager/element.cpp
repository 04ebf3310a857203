#include "manager/element.hpp"

#include <fmt/format.h>

#include <array>
#include <utility>

#include "core/shell/lane_rules.hpp"
#include "expected_macros.hpp"
#include "manager/element_records.hpp"

namespace vz::element {

namespace records {

Result<GridGeometry> read_geometry(payload::Reader& r) {
    GridGeometry g;
    VZ_ASSIGN_OR_RETURN(g.xori, r.f64());
    VZ_ASSIGN_OR_RETURN(g.yori, r.f64());
    VZ_ASSIGN_OR_RETURN(g.xinc, r.f64());
    VZ_ASSIGN_OR_RETURN(g.yinc, r.f64());
    VZ_ASSIGN_OR_RETURN(g.ncol, r.u64());
    VZ_ASSIGN_OR_RETURN(g.nrow, r.u64());
    VZ_ASSIGN_OR_RETURN(g.rotation_deg, r.f64());
    VZ_ASSIGN_OR_RETURN(g.yflip, r.boolean());
    return g;
}

Result<std::optional<std::string>> read_optional_text(payload::Reader& r) {
    return r.option([](payload::Reader& rr) { return rr.text(); });
}

Result<AttributeMetadata> read_metadata(payload::Reader& r) {
    AttributeMetadata m;
    VZ_ASSIGN_OR_RETURN(m.id, r.text());
    VZ_ASSIGN_OR_RETURN(m.label, r.text());
    VZ_ASSIGN_OR_RETURN(auto kind, r.variant(2));
    m.kind = static_cast<AttributeKind>(kind);
    VZ_ASSIGN_OR_RETURN(m.units, read_optional_text(r));
    VZ_ASSIGN_OR_RETURN(m.codes, r.option([](payload::Reader& rr) {
        return rr.map([](payload::Reader& r3) -> Result<CodeRecord> {
            CodeRecord c;
            VZ_ASSIGN_OR_RETURN(c.label, read_optional_text(r3));
            VZ_ASSIGN_OR_RETURN(c.color, read_optional_text(r3));
            return c;
        });
    }));
    return m;
}

namespace {

Result<std::vector<Coord>> read_ring(payload::Reader& r) {
    return r.list([](payload::Reader& rr) -> Result<Coord> {
        Coord c;
        VZ_ASSIGN_OR_RETURN(c.x, rr.f64());
        VZ_ASSIGN_OR_RETURN(c.y, rr.f64());
        return c;
    });
}

}  // namespace

Result<PolygonSet> read_polygon_set(payload::Reader& r) {
    PolygonSet set;
    VZ_ASSIGN_OR_RETURN(set.polygons, r.list([](payload::Reader& rr) -> Result<Polygon> {
        Polygon p;
        VZ_ASSIGN_OR_RETURN(p.exterior, read_ring(rr));
        VZ_ASSIGN_OR_RETURN(p.interiors, rr.list(read_ring));
        return p;
    }));
    VZ_ASSIGN_OR_RETURN(set.attributes, r.map([](payload::Reader& rr) { return rr.f64_list(); }));
    VZ_ASSIGN_OR_RETURN(auto history, r.text_list());
    set.history = History(std::move(history));
    // Every polygon-set operation indexes a column by polygon number.
    for (const auto& [name, column] : set.attributes) {
        if (column.size() != set.polygons.size()) {
            return fail(payload::deserialize_error(fmt::format("polygon attribute '{}' has {} rows, expected {}",
                                                               name, column.size(), set.polygons.size())));
        }
    }
    return set;
}

Result<void> check_version_quoted(std::string_view kind, std::uint32_t version) {
    if (version == 1 || version == 2) return {};
    return fail(Error::parse(fmt::format("unsupported '{}' element schema v{}", kind, version)));
}

Result<void> check_version_plain(std::string_view kind, std::uint32_t version) {
    if (version == 1 || version == 2) return {};
    return fail(Error::parse(fmt::format("unsupported {} element schema v{}", kind, version)));
}

Result<void> check_categorical(const AttributeMetadata& m, std::span<const double> values) {
    if (m.kind == AttributeKind::Categorical && !lane_rules::whole_or_nonfinite(values)) {
        return fail(lane_rules::categorical_error(m.id));
    }
    return {};
}

Result<void> check_lane_metadata(std::string_view name, AttributeMetadata& m, std::span<const double> values) {
    m.canonicalize();
    VZ_TRY(m.validate());
    if (m.id != name) return fail(lane_rules::id_mismatch_error(m.id, name));
    return check_categorical(m, values);
}

container::Section make_section(std::string_view kind, std::vector<std::uint8_t> data) {
    container::Section s;
    s.kind = std::string(kind);
    s.name = std::string(kind);
    s.data = std::move(data);
    s.version = kPayloadVersion;
    return s;
}

}  // namespace records

// ---- point sets -------------------------------------------------------------

Result<Bytes> serialize_points(const PointSet& points) {
    return payload::encode([&](auto& out) {
        out.count(points.points.size());
        for (const auto& p : points.points) {
            out.f64(p[0]);
            out.f64(p[1]);
            out.f64(p[2]);
        }
        payload::map(out, points.attributes, [](auto& o, const std::vector<double>& column) { o.f64_list(column); });
        out.text_list(points.history.entries());
    });
}

Result<Section> encode_points(const PointSet& points) {
    VZ_ASSIGN_OR_RETURN(auto bytes, serialize_points(points));
    return records::make_section(kPointsKind, std::move(bytes));
}

Result<PointSet> decode_points(std::uint32_t version, std::span<const std::uint8_t> data) {
    VZ_TRY(records::check_version_quoted(kPointsKind, version));
    return payload::decode(data, [](payload::Reader& r) -> Result<PointSet> {
        PointSet set;
        VZ_ASSIGN_OR_RETURN(set.points, r.list([](payload::Reader& rr) -> Result<std::array<double, 3>> {
            std::array<double, 3> p{};
            for (double& v : p) {
                VZ_ASSIGN_OR_RETURN(v, rr.f64());
            }
            return p;
        }));
        VZ_ASSIGN_OR_RETURN(set.attributes, r.map([](payload::Reader& rr) { return rr.f64_list(); }));
        VZ_ASSIGN_OR_RETURN(auto history, r.text_list());
        set.history = History(std::move(history));
        // Columns are indexed by point number everywhere else.
        for (const auto& [name, column] : set.attributes) {
            if (column.size() != set.points.size()) {
                return fail(payload::deserialize_error(fmt::format("point attribute '{}' has {} rows, expected {}",
                                                                   name, column.size(), set.points.size())));
            }
        }
        return set;
    });
}

// ---- polygon sets -----------------------------------------------------------

Result<Bytes> serialize_polygons(const PolygonSet& polygons) {
    return payload::encode([&](auto& out) { records::put_polygon_set(out, polygons); });
}

Result<Section> encode_polygons(const PolygonSet& polygons) {
    VZ_ASSIGN_OR_RETURN(auto bytes, serialize_polygons(polygons));
    return records::make_section(kPolygonsKind, std::move(bytes));
}

Result<PolygonSet> decode_polygons(std::uint32_t version, std::span<const std::uint8_t> data) {
    VZ_TRY(records::check_version_quoted(kPolygonsKind, version));
    return payload::decode(data, [](payload::Reader& r) { return records::read_polygon_set(r); });
}

}  // namespace vz::element
