// The `PolygonSet` class: polygons with named numeric columns (one value per
// polygon), owned by the object or a view of a polygon set stored in a
// project, resolved on every call as point sets are. Besides the queries it
// masks surfaces (`clip`) and offers the per-polygon `area` column, which a
// call turns into the total area.

#include <array>
#include <filesystem>

#include <fmt/format.h>

#include "attribute_columns.hpp"
#include "bbox.hpp"
#include "frame/builders.hpp"
#include "io/points_load.hpp"
#include "manager/loaders.hpp"
#include "polygon_column.hpp"
#include "sources.hpp"

namespace vz::py {

namespace {

constexpr const char* kPolygonSetDoc = "A collection of polygon rings (boundaries, faults, contacts).";

PyResult<Shared<PolygonSetPayload>> receiver(PyObject* self) { return borrow<PolygonSetPayload>(self); }

/// Runs `f` on the polygon set behind `self` (shared access to the object
/// and, for a view, to its project, both released when `f` returns).
template <class F>
auto with_polygons(PyObject* self, F&& f) -> ResolvedResult<vz::PolygonSet, F> {
    VZ_ASSIGN_OR_RETURN(auto p, receiver(self));
    return with_resolved(p->source, std::forward<F>(f));
}

// ---- static constructors ---------------------------------------------------

// The whole argument is converted before any vertex is looked at; then a
// vertex without both x and y refuses the call, even in a ring too short to
// keep.
PyResult<Ref> from_rings(const Args& a) {
    using Ring = std::vector<std::vector<double>>;
    VZ_ASSIGN_OR_RETURN(std::vector<Ring> given, Args::noted("rings", sequence_of<Ring>(a.raw("rings"))));
    std::vector<std::vector<std::array<double, 3>>> rings;
    rings.reserve(given.size());
    for (const auto& ring : given) {
        auto& out = rings.emplace_back();
        out.reserve(ring.size());
        for (const auto& v : ring) {
            if (v.size() < 2) return raise(PyErr::value_error("from_rings: each vertex needs at least [x, y]"));
            out.push_back({v[0], v[1], v.size() >= 3 ? v[2] : 0.0});
        }
    }
    return new_owned_polygon_set(vz::PolygonSet::from_rings(rings));
}

// The file loaders, named as a warning names them.
constexpr char kLoadGeojson[] = "load_geojson";
constexpr char kLoadIrapPolygons[] = "load_irap_polygons";
constexpr char kLoadShapefile[] = "load_shapefile";
constexpr char kLoadCps3Lines[] = "load_cps3_lines";

// A file that gives no polygon (points only, null geometries, multipatch
// records) reads as an empty set, with a UserWarning naming the file.
template <Result<vz::PolygonSet> (*Load)(const std::filesystem::path&), const char* Op>
PyResult<Ref> load_path(const Args& a) {
    VZ_ASSIGN_OR_RETURN(std::string path, a.get<std::string>("path"));
    Result<vz::PolygonSet> r = allow_threads([&] { return Load(std::filesystem::path(path)); });
    VZ_ASSIGN_OR_RETURN(vz::PolygonSet set, from_core(std::move(r)));
    if (set.polygons.empty()) VZ_TRY(warn_user(loaders::no_polygon_note(Op, std::filesystem::path(path))));
    return new_owned_polygon_set(std::move(set));
}

// ---- getters ---------------------------------------------------------------

PyResult<std::optional<std::string>> name(PyObject* self) {
    VZ_ASSIGN_OR_RETURN(auto p, receiver(self));
    return p->name;
}

PyResult<const char*> kind(PyObject* self) {
    VZ_ASSIGN_OR_RETURN(auto p, receiver(self));
    return "polygon_set";
}

// Computed afresh on every access; "area" is not a stored column.
PyResult<Ref> area(PyObject* self) {
    auto areas_result = with_polygons(self, [](const vz::PolygonSet& s) {
        return std::make_pair(s.areas(), s.total_area());
    });
    VZ_ASSIGN_OR_RETURN(auto areas, std::move(areas_result));
    return new_polygon_column(areas.second, "area", std::move(areas.first));
}

// ---- queries ---------------------------------------------------------------

PyResult<std::vector<std::string>> history(PyObject* self, const Args&) {
    return with_polygons(self, [](const vz::PolygonSet& s) { return s.history.entries(); });
}

PyResult<std::vector<std::string>> attr_names(PyObject* self, const Args&) {
    return with_polygons(self, [](const vz::PolygonSet& s) { return s.attr_names(); });
}

PyResult<std::optional<std::vector<double>>> attr(PyObject* self, const Args& a) {
    VZ_ASSIGN_OR_RETURN(std::string column, a.get<std::string>("name"));
    return with_polygons(self, [&](const vz::PolygonSet& s) -> std::optional<std::vector<double>> {
        auto values = s.attr(column);
        if (!values) return std::nullopt;
        return std::vector<double>(values->begin(), values->end());
    });
}

PyResult<double> total_area(PyObject* self, const Args&) {
    return with_polygons(self, [](const vz::PolygonSet& s) { return s.total_area(); });
}

PyResult<Ref> bbox(PyObject* self, const Args&) {
    VZ_ASSIGN_OR_RETURN(vz::BBox b, with_polygons(self, [](const vz::PolygonSet& s) { return s.bbox(); }));
    return new_bbox(b);
}

PyResult<Ref> rings(PyObject* self, const Args&) {
    VZ_ASSIGN_OR_RETURN(auto rings, with_polygons(self, [](const vz::PolygonSet& s) { return s.rings(); }));
    return list_map(rings, [](const std::vector<std::array<double, 3>>& ring) {
        return list_map(ring, [](const std::array<double, 3>& v) {
            return list_of(std::vector<PyResult<Ref>>{to_py(v[0]), to_py(v[1]), to_py(v[2])});
        });
    });
}

PyResult<bool> contains(PyObject* self, const Args& a) {
    VZ_ASSIGN_OR_RETURN(double x, a.get<double>("x"));
    VZ_ASSIGN_OR_RETURN(double y, a.get<double>("y"));
    return with_polygons(self, [&](const vz::PolygonSet& s) { return s.contains(x, y); });
}

// The polygon set is resolved before the surface is looked at; the masked
// copy is anonymous whatever the surface's name.
PyResult<Ref> clip(PyObject* self, const Args& a) {
    using SurfaceArg = ObjectOf<SurfacePayload, &surface_type>;
    VZ_ASSIGN_OR_RETURN(SurfaceArg surface, a.get<SurfaceArg>("surface"));
    auto masked_result = with_polygons(self, [&](const vz::PolygonSet& polygons) {
        return with_resolved(surface->source,
                             [&](const vz::Surface& s) { return polygons.clip(s); });
    });
    VZ_ASSIGN_OR_RETURN(vz::Surface masked, std::move(masked_result));
    return new_owned_surface(std::move(masked));
}

PyResult<std::size_t> len(PyObject* self) {
    return with_polygons(self, [](const vz::PolygonSet& s) { return s.size(); });
}

// ---- columns -----------------------------------------------------------------

PyResult<void> reserved_polygon_name(std::string_view name) {
    if (name == "area")
        return raise(PyErr::attribute_error(
            "cannot assign derived polygon column 'area'; create a named attribute instead"));
    return {};
}

PyResult<void> set_attr(PyObject* self, const Args& a) {
    VZ_ASSIGN_OR_RETURN(std::string column, a.get<std::string>("name"));
    return write_column<PolygonSetPayload>(self, column, a.raw("values"), "PolygonSet.set_attr",
                                           &reserved_polygon_name);
}

PyResult<Ref> column_attribute(PyObject* self, std::string_view requested) {
    auto values_result = with_polygons(self, [&](const vz::PolygonSet& s) {
        return find_column(s.attributes, requested);
    });
    VZ_ASSIGN_OR_RETURN(auto values, std::move(values_result));
    if (!values)
        return raise(
            PyErr::attribute_error(fmt::format("'PolygonSet' object has no attribute or column '{}'", requested)));
    return new_polygon_column(std::nullopt, std::string(requested), std::move(*values));
}

PyResult<void> assign_attribute(PyObject* self, PyObject* name, PyObject* value) {
    if (!value) return raise(cannot_delete_attribute());
    VZ_ASSIGN_OR_RETURN(std::string column, from_py<std::string>(name));
    return write_column<PolygonSetPayload>(self, column, value, "PolygonSet.set_attr", &reserved_polygon_name);
}

ClassDef define_polygon_set() {
    return ClassDef::of<PolygonSetPayload>("PolygonSet", kPolygonSetDoc)
        .static_method<&from_rings>(
            "from_rings(rings)\n--\n\n"
            "Build an in-memory `PolygonSet` from `rings` \xe2\x80\x94 each ring a list of\n"
            "`[x, y, z]` (z optional/ignored) or `[x, y]` vertices. Rings with fewer\n"
            "than three vertices are dropped.")
        .static_method<&load_path<&polygons_load::load_geojson, kLoadGeojson>>(
            "load_geojson(path)\n--\n\nLoad polygons from a GeoJSON file.")
        .static_method<&load_path<&polygons_load::load_irap_polygons, kLoadIrapPolygons>>(
            "load_irap_polygons(path)\n--\n\n"
            "Load polygons from an IRAP/RMS plain `X Y Z` file (`999.0` separators).")
        .static_method<&load_path<&polygons_load::load_shapefile, kLoadShapefile>>(
            "load_shapefile(path)\n--\n\nLoad polygons from an ESRI shapefile (pass the `.shp` path).")
        .static_method<&load_path<&polygons_load::load_cps3_lines, kLoadCps3Lines>>(
            "load_cps3_lines(path)\n--\n\n"
            "Load polygons from a CPS-3 lines file (`.CPS3lines`) \xe2\x80\x94 polyline blocks\n"
            "each introduced by a `->` marker (structure outlines, faults, edges).")
        .getter<&name>("name",
                       "The dataset name this polygon set was resolved under (the project\n"
                       "lookup leaf), or `None` for anonymous/in-memory polygon sets.\n"
                       "Duck-typed viewer seam.")
        .getter<&kind>("kind", "Stable kind label for type dispatch without imports: `\"polygon_set\"`.")
        .method<&history>("history($self)\n--\n\nHuman-readable operation history for this polygon set.")
        .method<&attr_names>("attr_names($self)\n--\n\nNames of all numeric attribute columns.")
        .method<&attr>("attr($self, name)\n--\n\nA named attribute column as a `list[float]`, or `None` if absent.")
        .method<&total_area>("total_area($self)\n--\n\nTotal unsigned area of all polygons.")
        .method<&bbox>("bbox($self)\n--\n\nAxis-aligned bounding box over all polygons.")
        .method<&rings>(
            "rings($self)\n--\n\n"
            "Exterior ring vertices of each polygon as `[x, y, z]` (z = 0); the\n"
            "outline geometry, not just area/bbox.")
        .method<&contains>("contains($self, x, y)\n--\n\nWhether `(x, y)` is inside any polygon (boundary-exclusive).")
        .method<&clip>(
            "clip($self, surface)\n--\n\nA copy of `surface` with every node outside all polygons masked to `NaN`.")
        .len<&len>()
        .method<&set_attr>(
            "set_attr($self, name, values)\n--\n\n"
            "Set (or replace) attribute `name` from a same-length column, list, or scalar.")
        .getter<&area>("area",
                       "Per-polygon unsigned-area column. Callable for compatibility:\n"
                       "`polygons.area()` returns the total area.")
        .getattr_fallback<&column_attribute>()
        .setattr<&assign_attribute>();
}

}  // namespace

PyResult<PyTypeObject*> polygon_set_type() {
    static TypeCell cell;
    return cell.get(define_polygon_set);
}

PyResult<Ref> new_polygon_set(PolygonSetPayload payload) {
    VZ_ASSIGN_OR_RETURN(PyTypeObject * type, polygon_set_type());
    return create_instance(type, std::move(payload));
}

}  // namespace vz::py
