// The `TriSurface` class: values and lanes on a triangle mesh. Objects are
// always owned values that never change; deriving methods return new objects
// that share the mesh shell.

#include <fmt/format.h>

#include "bbox.hpp"
#include "frame/generate.hpp"
#include "stats.hpp"
#include "surface.hpp"
#include "surface_attr.hpp"
#include "surface_isolines.hpp"
#include "surface_view.hpp"

namespace vz::py {

namespace {

constexpr const char* kTriSurfaceDoc = "An unstructured triangulated surface over the original points.";

using Tri = vz::TriSurface;

/// Shared access to the object; the value behind it never changes.
PyResult<Shared<TriSurfacePayload>> shared_of(PyObject* self) { return borrow<TriSurfacePayload>(self); }

template <class F>
FlatResult<std::invoke_result_t<F, const Tri&>> with_tri(PyObject* self, F&& f) {
    VZ_ASSIGN_OR_RETURN(auto p, shared_of(self));
    return call_flat(std::forward<F>(f), *p->value);
}

PyResult<Ref> new_tri(Tri value, std::optional<std::string> name) {
    return new_tri_surface(TriSurfacePayload{std::move(name), std::make_shared<const Tri>(std::move(value))});
}

PyResult<Ref> no_lane(std::string_view name) {
    return raise(PyErr::key_error(fmt::format("no attribute layer '{}'", name)));
}

/// A list of tuples of N numbers, one per row.
template <class T, std::size_t N>
PyResult<Ref> tuple_list(std::span<const std::array<T, N>> rows) {
    return list_generate(rows.size(), [&](std::size_t k) {
        return tuple_generate(N, [&](std::size_t c) { return to_py(rows[k][c]); });
    });
}

// ---- queries ----------------------------------------------------------------------

PyResult<Ref> points(PyObject* self, const Args&) {
    return with_tri(self, [](const Tri& t) {
        const auto pts = t.points();
        return tuple_list(std::span<const std::array<double, 3>>(pts));
    });
}

// One implementation with `points`; registered as its own function, since a
// binding function carries the signature it was registered under.
PyResult<Ref> xyz(PyObject* self, const Args& a) { return points(self, a); }

PyResult<Ref> triangles(PyObject* self, const Args&) {
    return with_tri(self, [](const Tri& t) { return tuple_list(std::span<const vz::MeshTriangle>(t.shell->triangles())); });
}

PyResult<std::vector<double>> values(PyObject* self, const Args&) {
    return with_tri(self, [](const Tri& t) { return t.values; });
}

PyResult<std::vector<std::string>> history(PyObject* self, const Args&) {
    return with_tri(self, [](const Tri& t) { return t.history.entries(); });
}

PyResult<Ref> bbox(PyObject* self, const Args&) {
    VZ_ASSIGN_OR_RETURN(vz::BBox b, with_tri(self, [](const Tri& t) { return t.bbox(); }));
    return new_bbox(b);
}

PyResult<Ref> stats(PyObject* self, const Args&) {
    VZ_ASSIGN_OR_RETURN(vz::Stats st, with_tri(self, [](const Tri& t) { return t.stats(); }));
    return new_stats(st);
}

PyResult<Ref> to_points(PyObject* self, const Args&) {
    VZ_ASSIGN_OR_RETURN(auto p, shared_of(self));
    return new_owned_point_set(p->value->to_points(), p->name);
}

// ---- lanes ----------------------------------------------------------------------------

PyResult<std::vector<std::string>> attr_names(PyObject* self, const Args&) {
    return with_tri(self, [](const Tri& t) {
        std::vector<std::string> out;
        for (std::string_view n : t.attr_names()) out.emplace_back(n);
        return out;
    });
}

PyResult<Ref> attr(PyObject* self, const Args& a) {
    VZ_ASSIGN_OR_RETURN(auto p, shared_of(self));
    VZ_ASSIGN_OR_RETURN(std::string name, a.get<std::string>("name"));
    std::optional<Tri> lane = p->value->as_attr_surface(name);
    if (!lane) return no_lane(name);
    return new_tri(std::move(*lane), p->name);
}

PyResult<Ref> attr_metadata(PyObject* self, const Args& a) {
    VZ_ASSIGN_OR_RETURN(auto p, shared_of(self));
    VZ_ASSIGN_OR_RETURN(std::string name, a.get<std::string>("name"));
    const vz::AttributeMetadata* md = p->value->attr_metadata(name);
    if (!md) return no_lane(name);
    return attribute_metadata_to_py_dict(*md);
}

PyResult<Ref> set_attr(PyObject* self, const Args& a) {
    VZ_ASSIGN_OR_RETURN(auto p, shared_of(self));
    VZ_ASSIGN_OR_RETURN(std::string name, a.get<std::string>("name"));
    VZ_ASSIGN_OR_RETURN(std::vector<double> lane, a.get<std::vector<double>>("values"));
    VZ_ASSIGN_OR_RETURN(std::optional<Dict> metadata, a.opt<Dict>("metadata"));
    Tri copy = *p->value;
    VZ_TRY(set_lane_values(copy, name, std::move(lane), metadata));
    return new_tri(std::move(copy), p->name);
}

// ---- derived values -----------------------------------------------------------------

PyResult<Ref> infer_grid(PyObject* self, const Args& a) {
    VZ_ASSIGN_OR_RETURN(auto p, shared_of(self));
    VZ_ASSIGN_OR_RETURN(double tolerance, a.get_or<double>("tolerance", 1e-3));
    VZ_ASSIGN_OR_RETURN(vz::GridGeometry g, from_core(p->value->infer_grid(tolerance)));
    return new_grid_geometry(GridGeometryPayload{p->value->shell->edge(), geometry_name(p->name), g});
}

PyResult<Ref> resample(PyObject* self, const Args& a) {
    VZ_ASSIGN_OR_RETURN(auto p, shared_of(self));
    VZ_ASSIGN_OR_RETURN(ResampleArgs args, resample_args(a));
    const vz::GridGeometry lattice = args.target->lattice;
    const Tri& value = *p->value;
    auto r = allow_threads([&] { return value.resample(lattice, args.method); });
    if (!r) return raise(into_py_err(r.error()));
    return new_owned_surface(std::move(*r), p->name);
}

PyResult<Ref> value_layer(PyObject* self, const Args& a) {
    VZ_ASSIGN_OR_RETURN(auto p, shared_of(self));
    VZ_ASSIGN_OR_RETURN(std::optional<std::string> attr, a.opt<std::string>("attr"));
    VZ_ASSIGN_OR_RETURN(std::optional<std::uint64_t> stride, a.opt<std::uint64_t>("stride"));
    return value_layer_to_py(vz::value_layer(*p->value, attr, stride));
}

PyResult<Ref> wireframe_edges(PyObject* self, const Args& a) {
    VZ_ASSIGN_OR_RETURN(auto p, shared_of(self));
    VZ_ASSIGN_OR_RETURN(std::optional<std::uint64_t> stride, a.opt<std::uint64_t>("stride"));
    const std::vector<vz::MeshEdge> edges = p->value->wireframe_edges(stride);
    return tuple_list(std::span<const vz::MeshEdge>(edges));
}

PyResult<Ref> iso_lines(PyObject* self, const Args& a) {
    VZ_ASSIGN_OR_RETURN(auto p, shared_of(self));
    VZ_ASSIGN_OR_RETURN(IsoLineArgs args, iso_line_args(a));
    const Tri& value = *p->value;
    return iso_lines_to_py(allow_threads(
        [&] { return vz::surfaces::iso_lines(value, args.interval, args.levels, args.attr, args.simplify); }));
}

PyResult<std::string> repr(PyObject* self) {
    return with_tri(self, [](const Tri& t) {
        return fmt::format("TriSurface(points={}, triangles={}, components={}, rings={})", t.shell->node_count(),
                           t.shell->triangles().size(), t.components(), t.shell->edge().polygons.size());
    });
}

// ---- getters --------------------------------------------------------------------------

PyResult<std::optional<std::string>> name(PyObject* self) {
    VZ_ASSIGN_OR_RETURN(auto p, shared_of(self));
    return p->name;
}

PyResult<const char*> kind(PyObject*) { return "tri_surface"; }

PyResult<std::uint64_t> n_points(PyObject* self) {
    return with_tri(self, [](const Tri& t) { return static_cast<std::uint64_t>(t.shell->node_count()); });
}
PyResult<std::uint64_t> n_triangles(PyObject* self) {
    return with_tri(self, [](const Tri& t) { return static_cast<std::uint64_t>(t.shell->triangles().size()); });
}
PyResult<std::uint64_t> components(PyObject* self) {
    return with_tri(self, [](const Tri& t) { return static_cast<std::uint64_t>(t.components()); });
}

PyResult<Ref> edge(PyObject* self) {
    VZ_ASSIGN_OR_RETURN(auto p, shared_of(self));
    return new_owned_polygon_set(p->value->shell->edge());
}

PyResult<Ref> shell(PyObject* self) {
    VZ_ASSIGN_OR_RETURN(auto p, shared_of(self));
    return new_mesh_shell(MeshShellPayload{geometry_name(p->name), p->value->shell});
}

PyResult<Ref> primary_metadata(PyObject* self) {
    VZ_ASSIGN_OR_RETURN(auto p, shared_of(self));
    if (!p->value->primary_metadata) return Ref::none();
    return attribute_metadata_to_py_dict(*p->value->primary_metadata);
}

ClassDef define_tri_surface() {
    ClassDef def = ClassDef::of<TriSurfacePayload>("TriSurface", kTriSurfaceDoc);
    def.method<&points>("points($self)\n--\n\nVertices as `(x, y, z)` tuples \xe2\x80\x94 the input points, unmoved.")
        .method<&xyz>("xyz($self)\n--\n\nVertices through the generic point/viewer protocol.")
        .method<&triangles>("triangles($self)\n--\n\nTriangles as `(i, j, k)` index triples into `points()`.")
        .method<&values>("values($self)\n--\n\nThe primary per-node values (z). `NaN` = undefined.")
        .method<&history>("history($self)\n--\n\nHuman-readable operation history.")
        .method<&bbox>("bbox($self)\n--\n\nAxis-aligned bounding box over the vertices' XY.")
        .method<&stats>("stats($self)\n--\n\nStatistics over the vertices' z.")
        .method<&to_points>("to_points($self)\n--\n\nThe vertices as a `PointSet` \xe2\x80\x94 exact, nothing resampled.")
        .method<&attr_names>("attr_names($self)\n--\n\nThe names of all attribute lanes, in insertion order.")
        .method<&attr>(
            "attr($self, name)\n--\n\n"
            "A named attribute lane promoted to a standalone `TriSurface` on the\n"
            "same shared shell (mirrors `Surface.attr`); raises `KeyError` if absent.")
        .method<&attr_metadata>("attr_metadata($self, name)\n--\n\nCanonical durable metadata for attribute `name`.")
        .method<&set_attr>(
            "set_attr($self, name, values, metadata=None)\n--\n\n"
            "Set (or replace) attribute `name` (one value per node) \xe2\x80\x94 returns a\n"
            "**new** `TriSurface` (surfaces are immutable; the shell is shared).")
        .method<&infer_grid>(
            "infer_grid($self, tolerance=1e-3)\n--\n\n"
            "Fit a regular `GridGeometry` (lossy downward conversion); raises when\n"
            "the mesh is not regular.")
        .method<&resample>(
            "resample($self, target, method=\"min_curvature\")\n--\n\n"
            "Resample the primary values **and every attribute lane** onto a target\n"
            "regular geometry through the shared gridding kernels. `method`:\n"
            "`\"nearest\"`, `\"idw\"`, or `\"min_curvature\"`.")
        .method<&value_layer>(
            "value_layer($self, attr=None, stride=None)\n--\n\n"
            "A property lane as the viewer's trimesh dict: `{\"kind\": \"trimesh\",\n"
            "\"name\", \"nodes\", \"triangles\", \"values\", \"range\"}`. `stride=k` returns\n"
            "the coarse-LOD decimation (per-block `(i,j)`-label striding; `range`\n"
            "from the full-resolution lane). Display-only.")
        .method<&wireframe_edges>(
            "wireframe_edges($self, stride=None)\n--\n\n"
            "Unique triangle edges minus interior cell diagonals, as `(i, j)` index\n"
            "pairs into `points()` \xe2\x80\x94 the quad-dominant wireframe (a full lattice\n"
            "cell draws as a square). `stride=k` (k \xe2\x89\xa5 2) returns the coarse-LOD\n"
            "lattice wireframe (every k-th grid line per block, outline + seams +\n"
            "fringe kept); `None`/`1` is the full wireframe. Display-only.")
        .method<&iso_lines>(kIsoLinesDoc)
        .getter<&kind>("kind")
        .getter<&name>("name",
                       "The dataset name this surface derives from (propagated from the source\n"
                       "point set / surface), or `None` for anonymous meshes. Duck-typed\n"
                       "viewer seam.")
        .getter<&n_points>("n_points")
        .getter<&n_triangles>("n_triangles")
        .getter<&components>("components", "Connected components; more than one means the mesh honours a fault.")
        .getter<&edge>("edge", "Outer boundary ring(s) of the retained triangles.")
        .getter<&shell>("shell")
        .getter<&primary_metadata>("primary_metadata",
                                   "Metadata of the promoted primary lane, if this surface is an attribute.")
        .repr<&repr>();
    return def;
}

}  // namespace

PyResult<PyTypeObject*> tri_surface_type() {
    static TypeCell cell;
    return cell.get(define_tri_surface);
}

PyResult<Ref> new_tri_surface(TriSurfacePayload payload) {
    VZ_ASSIGN_OR_RETURN(PyTypeObject * type, tri_surface_type());
    return create_instance(type, std::move(payload));
}

}  // namespace vz::py
