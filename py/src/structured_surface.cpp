// The `StructuredMeshSurface` class: values and lanes on a curvilinear
// lattice whose nodes carry their own world XY. Objects never change; methods
// that derive a new value first copy the resolved surface (the copy shares
// the shell), so a view's project is held only while the copy is made and
// the computation runs on the copy.

#include <fmt/format.h>

#include "bbox.hpp"
#include "core/surface_convert.hpp"
#include "frame/generate.hpp"
#include "io/structured_load.hpp"
#include "stats.hpp"
#include "surface.hpp"
#include "surface_attr.hpp"
#include "surface_isolines.hpp"
#include "surface_view.hpp"

namespace vz::py {

namespace {

constexpr const char* kStructuredMeshSurfaceDoc =
    "A structured mesh surface: regular logical topology, explicit XY nodes.";

using Structured = vz::StructuredMeshSurface;

PyResult<Shared<StructuredSurfacePayload>> shared_of(PyObject* self) {
    return borrow<StructuredSurfacePayload>(self);
}

/// Runs `f` on the resolved core value of the receiver.
template <class F>
ResolvedResult<Structured, F> with_structured(PyObject* self, F&& f) {
    VZ_ASSIGN_OR_RETURN(auto p, shared_of(self));
    return with_resolved(p->source, std::forward<F>(f));
}

/// A copy of the resolved value that shares its shell: what the deriving
/// methods compute on, with no access to the project held.
PyResult<Structured> derived_copy(const StructuredSurfacePayload& p) {
    return with_resolved(p.source, [](const Structured& s) { return derive_shared(s); });
}

/// A node array as nrow row lists of ncol floats: row j holds (0, j) … (ncol − 1, j).
PyResult<Ref> node_rows(const Grid2& a) {
    return list_generate(a.nrow(), [&](std::size_t j) {
        return list_generate(a.ncol(), [&](std::size_t i) { return to_py(a(i, j)); });
    });
}

PyResult<Ref> no_lane(std::string_view name) {
    return raise(PyErr::key_error(fmt::format("no attribute layer '{}'", name)));
}

// ---- static loader -------------------------------------------------------------

PyResult<Ref> load_earthvision_grid(const Args& a) {
    VZ_ASSIGN_OR_RETURN(std::string text, a.get<std::string>("path"));
    const std::filesystem::path path(text);
    auto r = allow_threads([&] { return vz::structured_load::load_earthvision_grid(path); });
    if (!r) return raise(into_py_err(r.error()));
    return new_owned_structured_surface(std::move(*r));
}

// ---- queries ---------------------------------------------------------------------

PyResult<Ref> bbox(PyObject* self, const Args&) {
    VZ_ASSIGN_OR_RETURN(vz::BBox b, with_structured(self, [](const Structured& s) { return s.bbox(); }));
    return new_bbox(b);
}

PyResult<Ref> node_xy(PyObject* self, const Args& a) {
    VZ_ASSIGN_OR_RETURN(auto p, shared_of(self));
    VZ_ASSIGN_OR_RETURN(std::uint64_t i, a.get<std::uint64_t>("i"));
    VZ_ASSIGN_OR_RETURN(std::uint64_t j, a.get<std::uint64_t>("j"));
    VZ_ASSIGN_OR_RETURN(auto r, with_resolved(p->source, [&](const Structured& s) { return s.node_xy(i, j); }));
    VZ_ASSIGN_OR_RETURN(auto xy, from_core(std::move(r)));
    return py_tuple(xy.first, xy.second);
}

PyResult<double> z(PyObject* self, const Args& a) {
    VZ_ASSIGN_OR_RETURN(auto p, shared_of(self));
    VZ_ASSIGN_OR_RETURN(std::uint64_t i, a.get<std::uint64_t>("i"));
    VZ_ASSIGN_OR_RETURN(std::uint64_t j, a.get<std::uint64_t>("j"));
    VZ_ASSIGN_OR_RETURN(auto r, with_resolved(p->source, [&](const Structured& s) { return s.z(i, j); }));
    return from_core(std::move(r));
}

template <const Grid2& (vz::StructuredShell::*Axis)() const>
PyResult<Ref> shell_rows(PyObject* self, const Args&) {
    return with_structured(self, [](const Structured& s) { return node_rows(((*s.shell).*Axis)()); });
}

PyResult<Ref> values(PyObject* self, const Args&) {
    return with_structured(self, [](const Structured& s) { return node_rows(s.values); });
}

PyResult<Ref> to_points(PyObject* self, const Args&) {
    VZ_ASSIGN_OR_RETURN(auto p, shared_of(self));
    VZ_ASSIGN_OR_RETURN(vz::PointSet pts, with_resolved(p->source, [](const Structured& s) { return s.to_points(); }));
    return new_owned_point_set(std::move(pts), p->name);
}

PyResult<Ref> stats(PyObject* self, const Args&) {
    VZ_ASSIGN_OR_RETURN(vz::Stats st, with_structured(self, [](const Structured& s) { return s.stats(); }));
    return new_stats(st);
}

PyResult<std::vector<std::string>> history(PyObject* self, const Args&) {
    return with_structured(self, [](const Structured& s) { return s.history.entries(); });
}

// ---- lanes -----------------------------------------------------------------------

PyResult<Ref> attr(PyObject* self, const Args& a) {
    VZ_ASSIGN_OR_RETURN(auto p, shared_of(self));
    VZ_ASSIGN_OR_RETURN(std::string name, a.get<std::string>("name"));
    VZ_ASSIGN_OR_RETURN(auto lane, with_resolved(p->source, [&](const Structured& s) { return s.as_attr_surface(name); }));
    if (!lane) return no_lane(name);
    return new_owned_structured_surface(std::move(*lane), p->name);
}

PyResult<std::vector<std::string>> attr_names(PyObject* self, const Args&) {
    return with_structured(self, [](const Structured& s) { return vz::surface_convert::lane_names(s.attributes); });
}

PyResult<Ref> attr_metadata(PyObject* self, const Args& a) {
    VZ_ASSIGN_OR_RETURN(auto p, shared_of(self));
    VZ_ASSIGN_OR_RETURN(std::string name, a.get<std::string>("name"));
    VZ_ASSIGN_OR_RETURN(auto md, with_resolved(p->source, [&](const Structured& s) {
                            const vz::AttributeMetadata* m = s.attr_metadata(name);
                            return m ? std::optional<vz::AttributeMetadata>(*m) : std::nullopt;
                        }));
    if (!md) return no_lane(name);
    return attribute_metadata_to_py_dict(*md);
}

PyResult<Ref> set_attr(PyObject* self, const Args& a) {
    VZ_ASSIGN_OR_RETURN(auto p, shared_of(self));
    VZ_ASSIGN_OR_RETURN(std::string name, a.get<std::string>("name"));
    VZ_ASSIGN_OR_RETURN(auto rows, a.get<std::vector<std::vector<double>>>("values"));
    VZ_ASSIGN_OR_RETURN(std::optional<Dict> metadata, a.opt<Dict>("metadata"));
    VZ_ASSIGN_OR_RETURN(Structured copy, derived_copy(*p));
    const std::size_t ncol = copy.ncol(), nrow = copy.nrow();
    bool shaped = rows.size() == nrow;
    for (const auto& row : rows) shaped = shaped && row.size() == ncol;
    if (!shaped)
        return raise(PyErr::value_error(
            fmt::format("set_attr expects {} rows of {} values (the shape values() returns)", nrow, ncol)));
    Grid2 lane(ncol, nrow);
    for (std::size_t j = 0; j < nrow; ++j)
        for (std::size_t i = 0; i < ncol; ++i) lane(i, j) = rows[j][i];
    VZ_TRY(set_lane_values(copy, name, std::move(lane), metadata));
    return new_owned_structured_surface(std::move(copy), p->name);
}

// ---- conversions -------------------------------------------------------------------

PyResult<Ref> to_tri_surface(PyObject* self, const Args&) {
    VZ_ASSIGN_OR_RETURN(auto p, shared_of(self));
    VZ_ASSIGN_OR_RETURN(Structured copy, derived_copy(*p));
    auto r = allow_threads([&] { return vz::surface_convert::to_tri_surface(copy); });
    if (!r) return raise(into_py_err(r.error()));
    return new_tri_surface(TriSurfacePayload{p->name, std::make_shared<const vz::TriSurface>(std::move(*r))});
}

PyResult<Ref> infer_grid(PyObject* self, const Args& a) {
    VZ_ASSIGN_OR_RETURN(auto p, shared_of(self));
    VZ_ASSIGN_OR_RETURN(double tolerance, a.get_or<double>("tolerance", 1e-3));
    VZ_ASSIGN_OR_RETURN(auto fit, with_resolved(p->source, [&](const Structured& s) -> PyResult<GridGeometryPayload> {
                            VZ_ASSIGN_OR_RETURN(vz::GridGeometry g, from_core(s.infer_grid(tolerance)));
                            return GridGeometryPayload{s.shell->edge(), geometry_name(p->name), g};
                        }));
    return new_grid_geometry(std::move(fit));
}

PyResult<Ref> resample(PyObject* self, const Args& a) {
    VZ_ASSIGN_OR_RETURN(auto p, shared_of(self));
    VZ_ASSIGN_OR_RETURN(ResampleArgs args, resample_args(a));
    const vz::GridGeometry lattice = args.target->lattice;
    VZ_ASSIGN_OR_RETURN(Structured copy, derived_copy(*p));
    auto r = allow_threads([&] { return vz::surface_convert::resample(copy, lattice, args.method); });
    if (!r) return raise(into_py_err(r.error()));
    return new_owned_surface(std::move(*r), p->name);
}

PyResult<Ref> iso_lines(PyObject* self, const Args& a) {
    VZ_ASSIGN_OR_RETURN(auto p, shared_of(self));
    VZ_ASSIGN_OR_RETURN(IsoLineArgs args, iso_line_args(a));
    VZ_ASSIGN_OR_RETURN(Structured copy, derived_copy(*p));
    return iso_lines_to_py(allow_threads(
        [&] { return vz::surfaces::iso_lines(copy, args.interval, args.levels, args.attr, args.simplify); }));
}

PyResult<Ref> value_layer(PyObject* self, const Args& a) {
    VZ_ASSIGN_OR_RETURN(auto p, shared_of(self));
    VZ_ASSIGN_OR_RETURN(std::optional<std::string> attr, a.opt<std::string>("attr"));
    VZ_ASSIGN_OR_RETURN(std::optional<std::uint64_t> stride, a.opt<std::uint64_t>("stride"));
    VZ_ASSIGN_OR_RETURN(auto layer,
                        with_resolved(p->source, [&](const Structured& s) { return vz::value_layer(s, attr, stride); }));
    return value_layer_to_py(std::move(layer));
}

PyResult<std::string> repr(PyObject* self) {
    return with_structured(self, [](const Structured& s) {
        return fmt::format("StructuredMeshSurface(ncol={}, nrow={})", s.ncol(), s.nrow());
    });
}

// ---- getters -------------------------------------------------------------------------

PyResult<std::optional<std::string>> name(PyObject* self) {
    VZ_ASSIGN_OR_RETURN(auto p, shared_of(self));
    return p->name;
}

PyResult<const char*> kind(PyObject*) { return "structured_mesh"; }

PyResult<std::uint64_t> ncol(PyObject* self) {
    return with_structured(self, [](const Structured& s) { return static_cast<std::uint64_t>(s.ncol()); });
}
PyResult<std::uint64_t> nrow(PyObject* self) {
    return with_structured(self, [](const Structured& s) { return static_cast<std::uint64_t>(s.nrow()); });
}

PyResult<Ref> nominal_geometry(PyObject* self) {
    VZ_ASSIGN_OR_RETURN(auto g, with_structured(self, [](const Structured& s) {
                            std::optional<GridGeometryPayload> out;
                            if (s.shell->nominal()) out = GridGeometryPayload{s.shell->edge(), std::nullopt, *s.shell->nominal()};
                            return out;
                        }));
    if (!g) return Ref::none();
    return new_grid_geometry(std::move(*g));
}

PyResult<Ref> edge(PyObject* self) {
    VZ_ASSIGN_OR_RETURN(vz::PolygonSet e, with_structured(self, [](const Structured& s) { return s.shell->edge(); }));
    return new_owned_polygon_set(std::move(e));
}

PyResult<Ref> shell(PyObject* self) {
    VZ_ASSIGN_OR_RETURN(auto p, shared_of(self));
    VZ_ASSIGN_OR_RETURN(SharedStructuredShell sh, with_resolved(p->source, [](const Structured& s) { return s.shell; }));
    return new_structured_shell(StructuredShellPayload{geometry_name(p->name), std::move(sh)});
}

PyResult<Ref> primary_metadata(PyObject* self) {
    VZ_ASSIGN_OR_RETURN(auto md, with_structured(self, [](const Structured& s) { return s.primary_metadata; }));
    if (!md) return Ref::none();
    return attribute_metadata_to_py_dict(*md);
}

ClassDef define_structured_surface() {
    ClassDef def = ClassDef::of<StructuredSurfacePayload>("StructuredMeshSurface", kStructuredMeshSurfaceDoc);
    def.static_method<&load_earthvision_grid>(
           "load_earthvision_grid(path)\n--\n\nLoad an EarthVision grid as a null-preserving structured surface.")
        .method<&bbox>("bbox($self)\n--\n\nAxis-aligned bounding box over finite XY nodes.")
        .method<&node_xy>("node_xy($self, i, j)\n--\n\nWorld `(x, y)` of logical node `(i, j)`.")
        .method<&z>("z($self, i, j)\n--\n\nPrimary value at logical node `(i, j)`.")
        .method<&shell_rows<&vz::StructuredShell::x>>(
            "x($self)\n--\n\nX node coordinates as row-major nested lists: outer list is rows.")
        .method<&shell_rows<&vz::StructuredShell::y>>(
            "y($self)\n--\n\nY node coordinates as row-major nested lists: outer list is rows.")
        .method<&values>("values($self)\n--\n\nZ values as row-major nested lists: outer list is rows.")
        .method<&to_points>(
            "to_points($self)\n--\n\n"
            "Explode the mesh back into a `PointSet`, one point per populated node, with\n"
            "its `column`/`row` topology. Exact \xe2\x80\x94 coordinates are copied, not resampled \xe2\x80\x94\n"
            "so `points.to_structured_surface().to_points()` round-trips losslessly.")
        .method<&stats>("stats($self)\n--\n\nSummary statistics over finite primary values.")
        .method<&history>("history($self)\n--\n\nHuman-readable operation history.")
        .method<&attr>(
            "attr($self, name)\n--\n\n"
            "A named attribute lane promoted to a standalone `StructuredMeshSurface`\n"
            "on the same shared shell (mirrors `Surface.attr`); raises `KeyError`\n"
            "if absent.")
        .method<&attr_names>("attr_names($self)\n--\n\nThe names of all attribute lanes, in insertion order.")
        .method<&attr_metadata>("attr_metadata($self, name)\n--\n\nCanonical durable metadata for attribute `name`.")
        .method<&set_attr>(
            "set_attr($self, name, values, metadata=None)\n--\n\n"
            "Set (or replace) attribute `name` from row-major nested lists (the\n"
            "same shape `values()` returns) \xe2\x80\x94 returns a **new**\n"
            "`StructuredMeshSurface` (surfaces are immutable; the shell is shared).")
        .method<&to_tri_surface>(
            "to_tri_surface($self)\n--\n\n"
            "Lift to a `TriSurface` (free, lossless: node identity preserved; all\n"
            "attribute lanes carried 1:1).")
        .method<&infer_grid>(
            "infer_grid($self, tolerance=1e-3)\n--\n\n"
            "Fit a regular `GridGeometry` (lossy downward conversion); raises when\n"
            "the mesh is curvilinear.")
        .method<&resample>(
            "resample($self, target, method=\"min_curvature\")\n--\n\n"
            "Resample the primary values **and every attribute lane** onto a target\n"
            "regular geometry through the shared gridding kernels. `method`:\n"
            "`\"nearest\"`, `\"idw\"`, or `\"min_curvature\"`.")
        .method<&iso_lines>(kIsoLinesDoc)
        .method<&value_layer>(
            "value_layer($self, attr=None, stride=None)\n--\n\n"
            "A property lane as the viewer's trimesh dict: `{\"kind\": \"trimesh\",\n"
            "\"name\", \"nodes\", \"triangles\", \"values\", \"range\"}`. `stride=k` returns\n"
            "the coarse-LOD decimation (per-block `(i,j)` striding; `range` from the\n"
            "full-resolution lane). Display-only.")
        .getter<&name>("name",
                       "The dataset name this surface derives from (propagated from the source\n"
                       "point set / surface), or `None` for anonymous meshes. Duck-typed\n"
                       "viewer seam.")
        .getter<&kind>("kind")
        .getter<&ncol>("ncol")
        .getter<&nrow>("nrow")
        .getter<&nominal_geometry>("nominal_geometry",
                                   "Optional approximate regular geometry. This is metadata, not the\n"
                                   "canonical coordinate model.")
        .getter<&edge>("edge", "Edge polygon in modelling coordinates.")
        .getter<&shell>("shell")
        .getter<&primary_metadata>("primary_metadata",
                                   "Metadata of the promoted primary lane, if this surface is an attribute.")
        .repr<&repr>();
    return def;
}

}  // namespace

PyResult<PyTypeObject*> structured_surface_type() {
    static TypeCell cell;
    return cell.get(define_structured_surface);
}

PyResult<Ref> new_structured_surface(StructuredSurfacePayload payload) {
    VZ_ASSIGN_OR_RETURN(PyTypeObject * type, structured_surface_type());
    return create_instance(type, std::move(payload));
}

}  // namespace vz::py
