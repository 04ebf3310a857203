#include "io/geojson.hpp"

#include <fmt/format.h>

#include <cmath>
#include <limits>
#include <nlohmann/json.hpp>
#include <optional>

#include "foundation/memory.hpp"
#include "io/text.hpp"

namespace vz::geojson {

namespace {

using json = nlohmann::json;

// The DOM builder, keeping the parser's message instead of throwing it.
class DomParser : public nlohmann::detail::json_sax_dom_parser<json> {
public:
    explicit DomParser(json& root) : json_sax_dom_parser<json>(root, false) {}
    template <class Exception>
    bool parse_error(std::size_t pos, const std::string& token, const Exception& ex) {
        message = ex.what();
        return json_sax_dom_parser<json>::parse_error(pos, token, ex);
    }
    std::string message;
};

std::expected<json, std::string> parse_document(const std::string& text) {
    json root;
    DomParser sax(root);
    bool ok = json::sax_parse(text, &sax, nlohmann::detail::input_format_t::json, true, false);
    if (!ok || sax.is_errored()) return std::unexpected(sax.message.empty() ? "invalid JSON" : sax.message);
    return root;
}

using Position = std::array<double, 3>;
using Fail = std::unexpected<std::string>;

std::expected<Position, std::string> position(const json& p) {
    if (!p.is_array()) return Fail("a position must be an array of numbers");
    if (p.size() < 2) return Fail(fmt::format("a position needs at least two ordinates, got {}", p.size()));
    Position out{0, 0, 0};
    for (std::size_t k = 0; k < p.size(); ++k) {
        if (!p[k].is_number()) return Fail("a position must be an array of numbers");
        if (k < 3) out[k] = p[k].get<double>();
    }
    return out;
}

std::expected<std::vector<Position>, std::string> positions(const json& a) {
    if (!a.is_array()) return Fail("expected an array of positions");
    std::vector<Position> out;
    out.reserve(a.size());
    for (const auto& p : a) {
        auto pos = position(p);
        if (!pos) return Fail(pos.error());
        out.push_back(*pos);
    }
    return out;
}

// Visits a geometry: `on_point` gets every position in document order,
// `on_line` every LineString and line of a MultiLineString, `on_polygon` the
// rings of every Polygon and polygon of a MultiPolygon (exterior first).
template <class OnPoint, class OnLine, class OnPolygon>
std::expected<void, std::string> walk_geometry(const json& g, OnPoint&& on_point, OnLine&& on_line,
                                               OnPolygon&& on_polygon, int depth = 0) {
    if (depth > 64) return Fail("geometry collections nested too deeply");
    if (!g.is_object()) return Fail("a geometry must be an object");
    auto t = g.find("type");
    if (t == g.end() || !t->is_string()) return Fail("a geometry needs a \"type\" string");
    const std::string& type = t->get_ref<const std::string&>();
    if (type == "GeometryCollection") {
        auto gs = g.find("geometries");
        if (gs == g.end() || !gs->is_array()) return Fail("a GeometryCollection needs a \"geometries\" array");
        for (const auto& m : *gs) {
            auto r = walk_geometry(m, on_point, on_line, on_polygon, depth + 1);
            if (!r) return r;
        }
        return {};
    }
    if (type != "Point" && type != "MultiPoint" && type != "LineString" && type != "MultiLineString" &&
        type != "Polygon" && type != "MultiPolygon")
        return Fail(fmt::format("unknown geometry type '{}'", type));
    auto c = g.find("coordinates");
    if (c == g.end()) return Fail(fmt::format("a {} needs \"coordinates\"", type));
    auto malformed = [&] { return Fail(fmt::format("malformed {} coordinates", type)); };
    // The positions of every line of `a`, in order.
    auto lines = [&](const json& a) -> std::expected<std::vector<std::vector<Position>>, std::string> {
        if (!a.is_array()) return malformed();
        std::vector<std::vector<Position>> out;
        out.reserve(a.size());
        for (const auto& item : a) {
            auto ps = positions(item);
            if (!ps) return Fail(ps.error());
            for (const auto& p : *ps) on_point(p);
            out.push_back(std::move(*ps));
        }
        return out;
    };
    if (type == "Point") {
        auto p = position(*c);
        if (!p) return Fail(p.error());
        on_point(*p);
        return {};
    }
    if (type == "MultiPoint") {
        auto ps = positions(*c);
        if (!ps) return Fail(ps.error());
        for (const auto& p : *ps) on_point(p);
        return {};
    }
    if (type == "LineString") {
        auto ps = positions(*c);
        if (!ps) return Fail(ps.error());
        for (const auto& p : *ps) on_point(p);
        on_line(*ps);
        return {};
    }
    if (type == "MultiLineString") {
        auto ls = lines(*c);
        if (!ls) return Fail(ls.error());
        for (const auto& l : *ls) on_line(l);
        return {};
    }
    if (type == "Polygon") {
        auto rings = lines(*c);
        if (!rings) return Fail(rings.error());
        on_polygon(*rings);
        return {};
    }
    // MultiPolygon
    if (!c->is_array()) return malformed();
    for (const auto& polygon : *c) {
        if (!polygon.is_array()) return malformed();
        auto rings = lines(polygon);
        if (!rings) return Fail(rings.error());
        on_polygon(*rings);
    }
    return {};
}

// Calls `on_feature(geometry or null, properties or null)` per feature of
// the document; a bare geometry is a feature without properties.
template <class OnFeature>
std::expected<void, std::string> walk_document(const json& doc, OnFeature&& on_feature) {
    static const json kNull;
    if (!doc.is_object()) return Fail("the document must be a GeoJSON object");
    auto t = doc.find("type");
    if (t == doc.end() || !t->is_string()) return Fail("the document needs a \"type\" string");
    const std::string& type = t->get_ref<const std::string&>();
    auto feature = [&](const json& f) -> std::expected<void, std::string> {
        if (!f.is_object()) return Fail("a feature must be an object");
        auto ft = f.find("type");
        if (ft == f.end() || !ft->is_string() || ft->get_ref<const std::string&>() != "Feature")
            return Fail("a feature needs \"type\": \"Feature\"");
        auto g = f.find("geometry");
        auto p = f.find("properties");
        const json& geom = g == f.end() ? kNull : *g;
        const json& props = p == f.end() ? kNull : *p;
        if (!props.is_null() && !props.is_object()) return Fail("feature properties must be an object or null");
        return on_feature(geom, props);
    };
    if (type == "FeatureCollection") {
        auto fs = doc.find("features");
        if (fs == doc.end() || !fs->is_array()) return Fail("a FeatureCollection needs a \"features\" array");
        for (const auto& f : *fs) {
            auto r = feature(f);
            if (!r) return r;
        }
        return {};
    }
    if (type == "Feature") return feature(doc);
    return on_feature(doc, kNull);
}

}  // namespace

namespace {

/// The size of the attribute table being built, for the message when it
/// does not fit in memory (no points: no table yet).
struct TableSize {
    std::size_t points = 0;
    std::size_t columns = 0;
};

Result<PointColumns> read_points_unguarded(const std::filesystem::path& path, TableSize& table) {
    VZ_ASSIGN_OR_RETURN(std::string text, text::read_file(path));
    auto doc = parse_document(text);
    text = std::string();
    if (!doc) return fail(Error::parse(fmt::format("GeoJSON points: {}", doc.error())));

    // Each accepted feature keeps its numeric properties as (column, value)
    // pairs: memory follows the properties the file holds, and the table is
    // laid out once its size is known.
    struct Accepted {
        Position point;
        std::vector<std::pair<std::size_t, double>> props;
    };
    std::vector<Accepted> accepted;
    OrderedMap<std::string, std::size_t> columns;  // name -> column, first met first
    auto r = walk_document(*doc, [&](const json& geom, const json& props) -> std::expected<void, std::string> {
        std::optional<Position> pending;
        std::vector<std::pair<std::size_t, double>> current;
        if (props.is_object()) {
            // The default object keeps its names in ascending byte order.
            for (auto it = props.begin(); it != props.end(); ++it) {
                const json& v = it.value();
                double x;
                if (v.is_boolean()) {
                    x = v.get<bool>() ? 1.0 : 0.0;
                } else if (v.is_number()) {
                    x = v.get<double>();
                } else {
                    continue;
                }
                auto [col, fresh] = columns.try_emplace(it.key(), columns.size());
                (void)fresh;
                current.emplace_back(col->second, x);
            }
        }
        if (!geom.is_null()) {
            auto w = walk_geometry(
                geom, [&](const Position& p) { pending = p; }, [](const std::vector<Position>&) {},
                [](const std::vector<std::vector<Position>>&) {});
            if (!w) return w;
        }
        if (pending) accepted.push_back(Accepted{*pending, std::move(current)});
        return {};
    });
    if (!r) return fail(Error::parse(fmt::format("GeoJSON points: {}", r.error())));
    doc = json();

    // points × columns values, NaN where a feature lacks a property: every
    // column is allocated before any is filled.
    table = {accepted.size(), columns.size()};
    std::vector<std::vector<double>> values(columns.size());
    for (auto& column : values) column.assign(accepted.size(), std::numeric_limits<double>::quiet_NaN());
    PointColumns out;
    out.points.reserve(accepted.size());
    for (std::size_t i = 0; i < accepted.size(); ++i) {
        out.points.push_back(accepted[i].point);
        for (const auto& [col, x] : accepted[i].props) values[col][i] = x;
    }
    accepted = {};
    for (const auto& [name, col] : columns) out.attributes.insert({name, std::move(values[col])});
    return out;
}

}  // namespace

Result<PointColumns> read_points(const std::filesystem::path& path) {
    TableSize table;
    return guard_memory([&] { return read_points_unguarded(path, table); },
                        [&] {
                            if (table.points > 0 && table.columns > 0)
                                return memory_error(fmt::format("GeoJSON points: an attribute table of {} points × {} columns",
                                                                table.points, table.columns));
                            return memory_error(fmt::format("GeoJSON points: {}", text::display_path(path)));
                        });
}

namespace {

std::vector<std::array<double, 3>> planar_ring(const std::vector<Position>& line) {
    std::vector<std::array<double, 3>> ring;
    ring.reserve(line.size());
    for (const auto& p : line) ring.push_back({p[0], p[1], 0.0});
    return ring;
}

Result<PolygonsWithHoles> read_polygons_unguarded(const std::filesystem::path& path) {
    VZ_ASSIGN_OR_RETURN(std::string text, text::read_file(path));
    auto doc = parse_document(text);
    if (!doc) return fail(Error::parse(fmt::format("GeoJSON polygons: {}", doc.error())));
    PolygonsWithHoles polygons;
    auto r = walk_document(*doc, [&](const json& geom, const json&) -> std::expected<void, std::string> {
        if (geom.is_null()) return {};
        return walk_geometry(
            geom, [](const Position&) {},
            [&](const std::vector<Position>& line) {
                if (line.empty()) return;
                polygons.push_back(PolygonRings{planar_ring(line)});
            },
            [&](const std::vector<std::vector<Position>>& rings) {
                // Rings are handed on as read, empty ones included, so that
                // the first stays the exterior and the rest its holes.
                PolygonRings polygon;
                polygon.reserve(rings.size());
                for (const auto& ring : rings) polygon.push_back(planar_ring(ring));
                polygons.push_back(std::move(polygon));
            });
    });
    if (!r) return fail(Error::parse(fmt::format("GeoJSON polygons: {}", r.error())));
    return polygons;
}

}  // namespace

Result<PolygonsWithHoles> read_polygons(const std::filesystem::path& path) {
    return guard_memory([&] { return read_polygons_unguarded(path); },
                        [&] { return memory_error(fmt::format("GeoJSON polygons: {}", text::display_path(path))); });
}

}  // namespace vz::geojson
