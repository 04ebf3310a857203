// The `GridGeometry` class: a regular, rotatable areal lattice as a value,
// with an optional edge polygon set and an optional display name. No field is
// validated; degenerate lattices answer what the core transforms give.

#include <fmt/format.h>

#include "bbox.hpp"
#include "frame/builders.hpp"
#include "foundation/format.hpp"
#include "sources.hpp"

namespace vz::py {

namespace {

constexpr const char* kDoc =
    "GridGeometry(xori, yori, xinc, yinc, ncol, nrow, rotation_deg=0.0, yflip=False)\n--\n\n"
    "A regular, rotatable areal lattice (the IRAP/RMS model). Construct directly,\n"
    "or read one back from `surface.geometry`.";

PyResult<GridGeometryPayload> construct(const Args& a) {
    vz::GridGeometry g;
    VZ_ASSIGN_OR_RETURN(g.xori, a.get<double>("xori"));
    VZ_ASSIGN_OR_RETURN(g.yori, a.get<double>("yori"));
    VZ_ASSIGN_OR_RETURN(g.xinc, a.get<double>("xinc"));
    VZ_ASSIGN_OR_RETURN(g.yinc, a.get<double>("yinc"));
    VZ_ASSIGN_OR_RETURN(g.ncol, a.get<std::uint64_t>("ncol"));
    VZ_ASSIGN_OR_RETURN(g.nrow, a.get<std::uint64_t>("nrow"));
    VZ_ASSIGN_OR_RETURN(g.rotation_deg, a.get_or<double>("rotation_deg", 0.0));
    VZ_ASSIGN_OR_RETURN(g.yflip, a.get_or<bool>("yflip", false));
    return GridGeometryPayload{std::nullopt, std::nullopt, g};
}

PyResult<vz::GridGeometry> lattice(PyObject* self) {
    VZ_ASSIGN_OR_RETURN(auto p, borrow<GridGeometryPayload>(self));
    return p->lattice;
}

PyResult<Ref> node_xy(PyObject* self, const Args& a) {
    VZ_ASSIGN_OR_RETURN(std::uint64_t i, a.get<std::uint64_t>("i"));
    VZ_ASSIGN_OR_RETURN(std::uint64_t j, a.get<std::uint64_t>("j"));
    VZ_ASSIGN_OR_RETURN(vz::GridGeometry g, lattice(self));
    const auto [x, y] = g.node_xy(i, j);
    return py_tuple(x, y);
}

PyResult<Ref> xy_to_ij(PyObject* self, const Args& a) {
    VZ_ASSIGN_OR_RETURN(double x, a.get<double>("x"));
    VZ_ASSIGN_OR_RETURN(double y, a.get<double>("y"));
    VZ_ASSIGN_OR_RETURN(vz::GridGeometry g, lattice(self));
    const auto ij = g.xy_to_ij(x, y);
    if (!ij) return Ref::none();
    return py_tuple(ij->first, ij->second);
}

PyResult<Ref> bbox(PyObject* self, const Args&) {
    VZ_ASSIGN_OR_RETURN(vz::GridGeometry g, lattice(self));
    return new_bbox(g.bbox());
}

PyResult<std::string> repr(PyObject* self) {
    VZ_ASSIGN_OR_RETURN(vz::GridGeometry g, lattice(self));
    return fmt::format("GridGeometry(ncol={}, nrow={}, xinc={}, yinc={}, rotation_deg={})", g.ncol, g.nrow,
                       num(g.xinc), num(g.yinc), num(g.rotation_deg));
}

PyResult<std::optional<std::string>> name(PyObject* self) {
    VZ_ASSIGN_OR_RETURN(auto p, borrow<GridGeometryPayload>(self));
    return p->name;
}

PyResult<const char*> kind(PyObject*) { return "grid_geometry"; }

template <auto Field>
PyResult<std::remove_cvref_t<decltype(vz::GridGeometry{}.*Field)>> field(PyObject* self) {
    VZ_ASSIGN_OR_RETURN(vz::GridGeometry g, lattice(self));
    return g.*Field;
}

// The stored edge when there is one (an empty stored edge stays empty), else
// the rectangular footprint through the corner nodes.
PyResult<Ref> edge(PyObject* self) {
    VZ_ASSIGN_OR_RETURN(auto p, borrow<GridGeometryPayload>(self));
    vz::PolygonSet edge = p->edge ? *p->edge : vz::PolygonSet::from_grid_geometry(p->lattice);
    return new_owned_polygon_set(std::move(edge));
}

ClassDef define() {
    return ClassDef::of<GridGeometryPayload>("GridGeometry", kDoc)
        .constructor<&construct>()
        .method<&node_xy>("node_xy($self, i, j)\n--\n\nWorld `(x, y)` of node `(i, j)`.")
        .method<&xy_to_ij>(
            "xy_to_ij($self, x, y)\n--\n\n"
            "Fractional node coordinates `(fi, fj)` for world `(x, y)`, or `None` for\n"
            "a degenerate (zero-spacing) geometry.")
        .method<&bbox>("bbox($self)\n--\n\nAxis-aligned bounding box of all nodes.")
        .getter<&name>("name",
                       "The dataset display name this geometry derives from (e.g.\n"
                       "`\"Top Dome geometry\"` for a geometry inferred from the `\"Top Dome\"`\n"
                       "point set), or `None` for anonymous geometries. Duck-typed viewer seam.")
        .getter<&kind>("kind",
                       "Stable kind label for type dispatch without imports: `\"grid_geometry\"`\n"
                       "(vs `infer_geometry`'s `\"structured_shell\"` / `\"mesh_shell\"`).")
        .getter<&field<&vz::GridGeometry::xori>>("xori")
        .getter<&field<&vz::GridGeometry::yori>>("yori")
        .getter<&field<&vz::GridGeometry::xinc>>("xinc")
        .getter<&field<&vz::GridGeometry::yinc>>("yinc")
        .getter<&field<&vz::GridGeometry::ncol>>("ncol")
        .getter<&field<&vz::GridGeometry::nrow>>("nrow")
        .getter<&field<&vz::GridGeometry::rotation_deg>>("rotation_deg")
        .getter<&field<&vz::GridGeometry::yflip>>("yflip")
        .getter<&edge>("edge",
                       "Edge polygon associated with the geometry. Inferred geometries may carry a\n"
                       "point-derived edge (`\"convex_hull\"`); plain geometries derive the rectangular\n"
                       "lattice footprint.")
        .repr<&repr>();
}

}  // namespace

PyResult<PyTypeObject*> grid_geometry_type() {
    static TypeCell cell;
    return cell.get(define);
}

PyResult<Ref> new_grid_geometry(GridGeometryPayload payload) {
    VZ_ASSIGN_OR_RETURN(PyTypeObject * type, grid_geometry_type());
    return create_instance(type, std::move(payload));
}

}  // namespace vz::py
