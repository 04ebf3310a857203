// The `PointSet` class: scattered points with named numeric columns, either
// owned by the object or a view of a point set stored in a project. Every
// member but `name` and `kind` resolves the source; what a member returns is
// copied out while the project is held, and Python objects are built after
// it is released. The only change an object ever sees is the writing of a
// column, which detaches a view first, so the project never changes through
// a point set.

#include "points.hpp"

#include <array>
#include <cmath>
#include <filesystem>
#include <limits>

#include <fmt/format.h>

#include "attribute_columns.hpp"
#include "bbox.hpp"
#include "frame/builders.hpp"
#include "io/points_load.hpp"
#include "point_column.hpp"
#include "sources.hpp"
#include "stats.hpp"

namespace vz::py {

namespace {

constexpr const char* kPointSetDoc = "Scattered 3-D points with named `f64` attribute columns.";

PyResult<Shared<PointSetPayload>> receiver(PyObject* self) { return borrow<PointSetPayload>(self); }

/// Runs `f` on the point set behind `self` (shared access to the object and,
/// for a view, to its project, both released when `f` returns).
template <class F>
auto with_points(PyObject* self, F&& f) -> ResolvedResult<vz::PointSet, F> {
    VZ_ASSIGN_OR_RETURN(auto p, receiver(self));
    return with_resolved(p->source, std::forward<F>(f));
}

// ---- static constructors ---------------------------------------------------

PyResult<Ref> from_xyz(const Args& a) {
    VZ_ASSIGN_OR_RETURN(std::vector<double> x, a.get<std::vector<double>>("x"));
    VZ_ASSIGN_OR_RETURN(std::vector<double> y, a.get<std::vector<double>>("y"));
    VZ_ASSIGN_OR_RETURN(std::vector<double> z, a.get<std::vector<double>>("z"));
    if (x.size() != y.size() || x.size() != z.size())
        return raise(PyErr::value_error("from_xyz: x, y, z must have equal length"));
    std::vector<std::array<double, 3>> points(x.size());
    for (std::size_t i = 0; i < x.size(); ++i) points[i] = {x[i], y[i], z[i]};
    return new_owned_point_set(vz::PointSet::from_coords(std::move(points)));
}

/// A loader body run with the interpreter lock released; its core error
/// becomes a ValueError, its point set a new owned object without a name.
template <class Load>
PyResult<Ref> run_loader(Load&& load) {
    Result<vz::PointSet> r = allow_threads(std::forward<Load>(load));
    VZ_ASSIGN_OR_RETURN(vz::PointSet set, from_core(std::move(r)));
    return new_owned_point_set(std::move(set));
}

PyResult<Ref> load_csv(const Args& a) {
    VZ_ASSIGN_OR_RETURN(std::string path, a.get<std::string>("path"));
    VZ_ASSIGN_OR_RETURN(std::string x, a.get_or<std::string>("x", "x"));
    VZ_ASSIGN_OR_RETURN(std::string y, a.get_or<std::string>("y", "y"));
    VZ_ASSIGN_OR_RETURN(std::string z, a.get_or<std::string>("z", "z"));
    return run_loader([&] { return points_load::load_csv(std::filesystem::path(path), x, y, z); });
}

template <Result<vz::PointSet> (*Load)(const std::filesystem::path&)>
PyResult<Ref> load_path(const Args& a) {
    VZ_ASSIGN_OR_RETURN(std::string path, a.get<std::string>("path"));
    return run_loader([&] { return Load(std::filesystem::path(path)); });
}

// The finite-node view of an EarthVision grid is kept for old scripts; the
// deprecation warning comes first, and when a filter turns it into an error
// the file is never opened.
PyResult<Ref> load_earthvision_grid(const Args& a) {
    VZ_ASSIGN_OR_RETURN(std::string path, a.get<std::string>("path"));
    VZ_TRY(warn_deprecated(
        "PointSet.load_earthvision_grid() is deprecated; use StructuredMeshSurface.load_earthvision_grid() to "
        "preserve null nodes and topology."));
    return run_loader([&] { return points_load::load_earthvision_grid(std::filesystem::path(path)); });
}

// ---- getters ---------------------------------------------------------------

PyResult<std::optional<std::string>> name(PyObject* self) {
    VZ_ASSIGN_OR_RETURN(auto p, receiver(self));
    return p->name;
}

PyResult<const char*> kind(PyObject* self) {
    VZ_ASSIGN_OR_RETURN(auto p, receiver(self));
    return "point_set";
}

// ---- queries ---------------------------------------------------------------

PyResult<std::vector<std::string>> history(PyObject* self, const Args&) {
    return with_points(self, [](const vz::PointSet& s) { return s.history.entries(); });
}

PyResult<Ref> xy(PyObject* self, const Args&) {
    auto xy_result = with_points(self, [](const vz::PointSet& s) {
        std::vector<std::array<double, 2>> out(s.points.size());
        for (std::size_t i = 0; i < out.size(); ++i) out[i] = {s.points[i][0], s.points[i][1]};
        return out;
    });
    VZ_ASSIGN_OR_RETURN(auto xy, std::move(xy_result));
    return list_map(xy, [](const std::array<double, 2>& p) { return tuple_from(p); });
}

PyResult<Ref> xyz(PyObject* self, const Args&) {
    VZ_ASSIGN_OR_RETURN(auto xyz, with_points(self, [](const vz::PointSet& s) { return s.points; }));
    return list_map(xyz, [](const std::array<double, 3>& p) { return tuple_from(p); });
}

PyResult<std::vector<std::string>> attr_names(PyObject* self, const Args&) {
    return with_points(self, [](const vz::PointSet& s) { return s.attr_names(); });
}

PyResult<std::optional<std::vector<double>>> attr(PyObject* self, const Args& a) {
    VZ_ASSIGN_OR_RETURN(std::string column, a.get<std::string>("name"));
    return with_points(self, [&](const vz::PointSet& s) -> std::optional<std::vector<double>> {
        auto values = s.attr(column);
        if (!values) return std::nullopt;
        return std::vector<double>(values->begin(), values->end());
    });
}

PyResult<Ref> stats(PyObject* self, const Args& a) {
    VZ_ASSIGN_OR_RETURN(std::string column, a.get<std::string>("attr"));
    VZ_ASSIGN_OR_RETURN(auto s, with_points(self, [&](const vz::PointSet& set) { return set.stats(column); }));
    if (!s) return Ref::none();
    return new_stats(std::move(*s));
}

PyResult<Ref> z_stats(PyObject* self, const Args&) {
    VZ_ASSIGN_OR_RETURN(vz::Stats s, with_points(self, [](const vz::PointSet& set) { return set.z_stats(); }));
    return new_stats(std::move(s));
}

// Each axis on its own; a NaN coordinate never replaces the running extreme
// (fmin and fmax skip it), so a set whose x are all NaN keeps (+inf, -inf).
// An empty set has no extent at all: four NaN.
vz::BBox point_bbox(const vz::PointSet& s) {
    constexpr double inf = std::numeric_limits<double>::infinity();
    if (s.points.empty()) {
        const double nan = std::numeric_limits<double>::quiet_NaN();
        return {nan, nan, nan, nan};
    }
    vz::BBox b{inf, inf, -inf, -inf};
    for (const auto& p : s.points) {
        b.xmin = std::fmin(b.xmin, p[0]);
        b.xmax = std::fmax(b.xmax, p[0]);
        b.ymin = std::fmin(b.ymin, p[1]);
        b.ymax = std::fmax(b.ymax, p[1]);
    }
    return b;
}

PyResult<Ref> bbox(PyObject* self, const Args&) {
    VZ_ASSIGN_OR_RETURN(vz::BBox b, with_points(self, [](const vz::PointSet& s) { return point_bbox(s); }));
    return new_bbox(b);
}

// A NaN or infinite query has no nearest point: None (the index is never
// asked about such a position).
PyResult<std::optional<std::size_t>> nearest(PyObject* self, const Args& a) {
    VZ_ASSIGN_OR_RETURN(double x, a.get<double>("x"));
    VZ_ASSIGN_OR_RETURN(double y, a.get<double>("y"));
    return with_points(self, [&](const vz::PointSet& s) -> std::optional<std::size_t> {
        if (!std::isfinite(x) || !std::isfinite(y)) return std::nullopt;
        return s.nearest(x, y);
    });
}

PyResult<std::size_t> len(PyObject* self) {
    return with_points(self, [](const vz::PointSet& s) { return s.size(); });
}

PyResult<std::string> repr(PyObject* self) {
    VZ_ASSIGN_OR_RETURN(std::size_t n, len(self));
    return fmt::format("PointSet(len={})", n);
}

// ---- columns -----------------------------------------------------------------

PyResult<void> reserved_point_name(std::string_view name) {
    if (name == "x" || name == "y" || name == "z")
        return raise(PyErr::attribute_error(
            fmt::format("cannot assign coordinate column '{}'; create a named attribute instead", name)));
    return {};
}

PyResult<void> set_attr(PyObject* self, const Args& a) {
    VZ_ASSIGN_OR_RETURN(std::string column, a.get<std::string>("name"));
    return write_column<PointSetPayload>(self, column, a.raw("values"), "PointSet.set_attr", &reserved_point_name);
}

// A coordinate letter ("x", "y", "z", lower case only) comes before every
// attribute; then the exact name, then the first attribute of the same key.
PyResult<Ref> column_attribute(PyObject* self, std::string_view requested) {
    auto values_result = with_points(self, [&](const vz::PointSet& s) -> std::optional<std::vector<double>> {
        if (requested == "x" || requested == "y" || requested == "z") {
            const std::size_t axis = static_cast<std::size_t>(requested[0] - 'x');
            std::vector<double> out(s.points.size());
            for (std::size_t i = 0; i < out.size(); ++i) out[i] = s.points[i][axis];
            return out;
        }
        return find_column(s.attributes, requested);
    });
    VZ_ASSIGN_OR_RETURN(auto values, std::move(values_result));
    if (!values)
        return raise(
            PyErr::attribute_error(fmt::format("'PointSet' object has no attribute or column '{}'", requested)));
    return new_point_column(std::string(requested), std::move(*values));
}

// Every assignment writes a column, whatever the name; nothing is stored on
// the Python object itself.
PyResult<void> assign_attribute(PyObject* self, PyObject* name, PyObject* value) {
    if (!value) return raise(cannot_delete_attribute());
    VZ_ASSIGN_OR_RETURN(std::string column, from_py<std::string>(name));
    return write_column<PointSetPayload>(self, column, value, "PointSet.set_attr", &reserved_point_name);
}

ClassDef define_point_set() {
    ClassDef def = ClassDef::of<PointSetPayload>("PointSet", kPointSetDoc);
    def.static_method<&from_xyz>(
           "from_xyz(x, y, z)\n--\n\n"
           "Build an in-memory `PointSet` from equal-length `x`/`y`/`z` lists.")
        .static_method<&load_csv>(
            "load_csv(path, x=\"x\", y=\"y\", z=\"z\")\n--\n\n"
            "Load a headered CSV, taking X/Y/Z from the named columns; other numeric\n"
            "columns become attributes.")
        .static_method<&load_path<&points_load::load_geojson>>(
            "load_geojson(path)\n--\n\n"
            "Load point features from a GeoJSON file (numeric properties \xe2\x86\x92 attributes).")
        .static_method<&load_path<&points_load::load_irap_points>>(
            "load_irap_points(path)\n--\n\n"
            "Load scattered points from an IRAP/RMS plain `X Y Z` file (also the\n"
            "`.IrapClassicPoints` content). Rejects a foreign header with `Format`.")
        .static_method<&load_earthvision_grid>(
            "load_earthvision_grid(path)\n--\n\n"
            "Deprecated finite-node compatibility view of an EarthVision grid.\n"
            "Prefer `StructuredMeshSurface.load_earthvision_grid`; null nodes are\n"
            "dropped here.")
        .getter<&name>("name",
                       "The dataset name this point set was resolved under (the project lookup\n"
                       "leaf, e.g. `\"Top Dome\"`), or `None` for anonymous/in-memory point sets.\n"
                       "Duck-typed viewer seam; derived objects propagate it.")
        .getter<&kind>("kind", "Stable kind label for type dispatch without imports: `\"point_set\"`.")
        .method<&history>("history($self)\n--\n\nHuman-readable operation history for this point set.")
        .method<&xy>("xy($self)\n--\n\nPoint coordinates as `(x, y)` tuples in load order.")
        .method<&xyz>("xyz($self)\n--\n\nPoint coordinates as `(x, y, z)` tuples in load order.")
        .method<&attr_names>("attr_names($self)\n--\n\nNames of all numeric attribute columns.")
        .method<&attr>("attr($self, name)\n--\n\nA named attribute column as a `list[float]`, or `None` if absent.")
        .method<&stats>("stats($self, attr)\n--\n\nNaN-skipping statistics over a named attribute column, or `None`.")
        .method<&z_stats>(
            "z_stats($self)\n--\n\n"
            "NaN-skipping statistics over the points' **z** coordinate (horizon\n"
            "depth/elevation range).")
        .method<&bbox>("bbox($self)\n--\n\nAxis-aligned bounding box of the points' XY.")
        .method<&nearest>(
            "nearest($self, x, y)\n--\n\nIndex of the areally-nearest point to `(x, y)`, or `None` if empty.")
        .len<&len>()
        .repr<&repr>()
        .method<&set_attr>(
            "set_attr($self, name, values)\n--\n\n"
            "Set (or replace) attribute `name` from a same-length column, list, or scalar.")
        .getattr_fallback<&column_attribute>()
        .setattr<&assign_attribute>();
    add_point_set_inference(def);
    add_point_set_conversions(def);
    return def;
}

}  // namespace

PyResult<PyTypeObject*> point_set_type() {
    static TypeCell cell;
    return cell.get(define_point_set);
}

PyResult<Ref> new_point_set(PointSetPayload payload) {
    VZ_ASSIGN_OR_RETURN(PyTypeObject * type, point_set_type());
    return create_instance(type, std::move(payload));
}

}  // namespace vz::py
