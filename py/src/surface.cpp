// The `Surface` class: creating, reading, writing, describing, sampling,
// resampling and converting a regular grid surface. The arithmetic, analysis,
// iso-line, lane and viewer members are added by their own files.

#include "surface.hpp"

#include <fmt/format.h>

#include "bbox.hpp"
#include "core/polygons.hpp"
#include "core/surface_convert.hpp"
#include "io/surface_load.hpp"
#include "io/surface_save.hpp"
#include "stats.hpp"

namespace vz::py {

namespace {

constexpr const char* kSurfaceDoc =
    "A regular gridded surface (IRAP/RMS model): a primary value layer plus named\n"
    "attribute layers on the same geometry. `NaN` = undefined.";

// ---- static constructors ------------------------------------------------------

template <Result<vz::Surface> (*Load)(const std::filesystem::path&)>
PyResult<Ref> load(const Args& a) {
    VZ_ASSIGN_OR_RETURN(std::string text, a.get<std::string>("path"));
    const std::filesystem::path path(text);
    return wrap_surface(allow_threads([&] { return Load(path); }));
}

PyResult<Ref> constant(const Args& a) {
    VZ_ASSIGN_OR_RETURN(GridGeometryArg geom, a.get<GridGeometryArg>("geom"));
    VZ_ASSIGN_OR_RETURN(double value, a.get<double>("value"));
    return wrap_surface(vz::Surface::constant(geom->lattice, value));
}

// ---- methods ------------------------------------------------------------------

PyResult<void> save_irap_classic(PyObject* self, const Args& a) {
    VZ_ASSIGN_OR_RETURN(auto p, surface_shared(self));
    VZ_ASSIGN_OR_RETURN(std::string text, a.get<std::string>("path"));
    const std::filesystem::path path(text);
    VZ_ASSIGN_OR_RETURN(Result<void> r, with_resolved(p->source, [&](const vz::Surface& s) {
                            return allow_threads([&] { return vz::surface_save::save_irap_classic(s, path); });
                        }));
    return from_core(std::move(r));
}

PyResult<std::vector<std::string>> history(PyObject* self, const Args&) {
    return with_surface(self, [](const vz::Surface& s) { return s.history.entries(); });
}

PyResult<std::optional<double>> sample(PyObject* self, const Args& a) {
    VZ_ASSIGN_OR_RETURN(auto p, surface_shared(self));
    VZ_ASSIGN_OR_RETURN(double x, a.get<double>("x"));
    VZ_ASSIGN_OR_RETURN(double y, a.get<double>("y"));
    return with_resolved(p->source, [&](const vz::Surface& s) { return s.sample(x, y); });
}

PyResult<Ref> resample(PyObject* self, const Args& a) {
    VZ_ASSIGN_OR_RETURN(auto p, surface_shared(self));
    VZ_ASSIGN_OR_RETURN(GridGeometryArg target, a.get<GridGeometryArg>("target"));
    const vz::GridGeometry lattice = target->lattice;
    return wrap_surface(with_resolved(p->source, [&](const vz::Surface& s) {
        return allow_threads([&] { return s.resample(lattice); });
    }));
}

PyResult<Ref> stats(PyObject* self, const Args&) {
    VZ_ASSIGN_OR_RETURN(vz::Stats st, with_surface(self, [](const vz::Surface& s) { return s.stats(); }));
    return new_stats(st);
}

PyResult<Ref> bbox(PyObject* self, const Args&) {
    VZ_ASSIGN_OR_RETURN(vz::BBox box, with_surface(self, [](const vz::Surface& s) { return s.bbox(); }));
    return new_bbox(box);
}

PyResult<Ref> to_tri_surface(PyObject* self, const Args&) {
    VZ_ASSIGN_OR_RETURN(auto p, surface_shared(self));
    VZ_ASSIGN_OR_RETURN(Result<vz::TriSurface> r, with_resolved(p->source, [](const vz::Surface& s) {
                            return allow_threads([&] { return vz::surface_convert::to_tri_surface(s); });
                        }));
    if (!r) return raise(into_py_err(r.error()));
    return new_tri_surface(TriSurfacePayload{p->name, std::make_shared<const vz::TriSurface>(std::move(*r))});
}

PyResult<Ref> to_structured_mesh(PyObject* self, const Args&) {
    VZ_ASSIGN_OR_RETURN(auto p, surface_shared(self));
    VZ_ASSIGN_OR_RETURN(Result<vz::StructuredMeshSurface> r, with_resolved(p->source, [](const vz::Surface& s) {
                            return allow_threads([&] { return vz::surface_convert::to_structured_mesh(s); });
                        }));
    if (!r) return raise(into_py_err(r.error()));
    return new_owned_structured_surface(std::move(*r), p->name);
}

PyResult<std::string> repr(PyObject* self) {
    return with_surface(self, [](const vz::Surface& s) {
        return fmt::format("Surface(ncol={}, nrow={})", s.geom.ncol, s.geom.nrow);
    });
}

// ---- getters ------------------------------------------------------------------

PyResult<std::optional<std::string>> name(PyObject* self) {
    VZ_ASSIGN_OR_RETURN(auto p, surface_shared(self));
    return p->name;
}

PyResult<const char*> kind(PyObject*) { return "surface"; }

PyResult<std::uint64_t> ncol(PyObject* self) {
    return with_surface(self, [](const vz::Surface& s) { return s.geom.ncol; });
}
PyResult<std::uint64_t> nrow(PyObject* self) {
    return with_surface(self, [](const vz::Surface& s) { return s.geom.nrow; });
}
PyResult<double> rotation_deg(PyObject* self) {
    return with_surface(self, [](const vz::Surface& s) { return s.geom.rotation_deg; });
}

// The convex outline of the defined nodes, or an empty set when there is none.
vz::PolygonSet edge_of(const vz::Surface& s) {
    if (auto hull = s.edge()) return std::move(*hull);
    return vz::PolygonSet::from_rings({});
}

PyResult<Ref> edge(PyObject* self) {
    VZ_ASSIGN_OR_RETURN(vz::PolygonSet e, with_surface(self, edge_of));
    return new_owned_polygon_set(std::move(e));
}

PyResult<Ref> geometry(PyObject* self) {
    VZ_ASSIGN_OR_RETURN(auto p, surface_shared(self));
    VZ_ASSIGN_OR_RETURN(GridGeometryPayload g, with_resolved(p->source, [](const vz::Surface& s) {
                            return GridGeometryPayload{edge_of(s), std::nullopt, s.geom};
                        }));
    g.name = geometry_name(p->name);
    return new_grid_geometry(std::move(g));
}

ClassDef define_surface() {
    ClassDef def = ClassDef::of<SurfacePayload>("Surface", kSurfaceDoc);
    def.static_method<&load<&vz::surface_load::load_irap_classic>>(
           "load_irap_classic(path)\n--\n\nLoad an IRAP-classic (ROXAR ASCII) surface from `path`.")
        .static_method<&load<&vz::surface_load::load_cps3_grid>>(
            "load_cps3_grid(path)\n--\n\nLoad a CPS-3 regular grid (`.CPS3grid`) surface from `path`.")
        .static_method<&constant>("constant(geom, value)\n--\n\nA surface whose every node holds `value`, on `geom`.")
        .method<&save_irap_classic>(
            "save_irap_classic($self, path)\n--\n\nWrite this surface's primary layer as IRAP-classic ASCII to `path`.")
        .method<&history>("history($self)\n--\n\nHuman-readable operation history for this surface.")
        .method<&sample>(
            "sample($self, x, y)\n--\n\n"
            "Bilinear sample at world `(x, y)`; `None` outside the grid or near an\n"
            "undefined node.")
        .method<&resample>(
            "resample($self, target)\n--\n\n"
            "Resample the primary layer onto `target` (bilinear). Kernel NaN-corner\n"
            "policy (nearest corner NaN \xe2\x86\x92 NaN, else renormalized over finite corners).\n"
            "Source and target rotation and `yflip` are honoured independently through\n"
            "the exact world-to-intrinsic lattice transforms.")
        .method<&stats>("stats($self)\n--\n\nSummary statistics over the defined nodes.")
        .method<&bbox>("bbox($self)\n--\n\nAxis-aligned bounding box of the grid nodes.")
        .method<&to_tri_surface>(
            "to_tri_surface($self)\n--\n\n"
            "Lift to a `TriSurface` (free, lossless: the grid quad-splits along a\n"
            "consistent diagonal; all attribute lanes carried 1:1 per node).")
        .method<&to_structured_mesh>(
            "to_structured_mesh($self)\n--\n\n"
            "Lift to a `StructuredMeshSurface` (free, lossless: per-node XY computed\n"
            "from the grid; all attribute lanes carried 1:1).");
    add_surface_ops(def);
    add_surface_analysis(def);
    add_surface_isolines(def);
    add_surface_attr(def);
    add_surface_view(def);
    def.getter<&name>("name",
                      "The dataset name this surface was resolved under (the project lookup\n"
                      "leaf) or derives from (e.g. `points.to_surface()` propagates the point\n"
                      "set's name), or `None` for anonymous surfaces. Duck-typed viewer seam.")
        .getter<&kind>("kind", "Stable kind label for type dispatch without imports: `\"surface\"`.")
        .getter<&ncol>("ncol")
        .getter<&nrow>("nrow")
        .getter<&rotation_deg>("rotation_deg")
        .getter<&geometry>("geometry", "A copy of this surface's grid geometry.")
        .getter<&edge>("edge", "Edge polygon enclosing the surface's defined nodes.")
        .repr<&repr>();
    return def;
}

}  // namespace

PyResult<PyTypeObject*> surface_type() {
    static TypeCell cell;
    return cell.get(define_surface);
}

PyResult<Ref> new_surface(SurfacePayload payload) {
    VZ_ASSIGN_OR_RETURN(PyTypeObject * type, surface_type());
    return create_instance(type, std::move(payload));
}

}  // namespace vz::py
