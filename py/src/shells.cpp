// The geometry shells as Python values: `StructuredShell` (nodes by column
// and row, each with its own XY) and `MeshShell` (numbered nodes, triangles,
// wireframe, outline and walk labels). A shell object holds its core shell
// shared with whatever it was taken from; the shell never changes, so every
// member only reads, with the interpreter lock held throughout. Polygon sets
// and geometries handed out hold copies.

#include <cmath>
#include <limits>

#include <fmt/format.h>

#include "bbox.hpp"
#include "frame/builders.hpp"
#include "sources.hpp"

namespace vz::py {

namespace {

constexpr const char* kKindDoc = "Stable kind label for type dispatch without imports.";
constexpr const char* kNameDoc = "Dataset geometry name propagated from the source, or `None`.";

template <class Payload>
PyResult<std::optional<std::string>> shell_name(PyObject* self) {
    VZ_ASSIGN_OR_RETURN(auto p, borrow<Payload>(self));
    return p->name;
}

/// A new `GridGeometry` of a lattice fitted to (or kept with) a shell: this
/// object's display name as it is, the shell's outline as its edge.
template <class Payload>
PyResult<Ref> shell_geometry(const Payload& p, const vz::GridGeometry& lattice) {
    return new_grid_geometry(GridGeometryPayload{p.shell->edge(), p.name, lattice});
}

template <class Payload>
PyResult<Ref> shell_edge(PyObject* self) {
    VZ_ASSIGN_OR_RETURN(auto p, borrow<Payload>(self));
    return new_owned_polygon_set(p->shell->edge());
}

template <class Payload>
PyResult<Ref> infer_grid(PyObject* self, const Args& a) {
    VZ_ASSIGN_OR_RETURN(double tolerance, a.get_or<double>("tolerance", 1e-3));
    VZ_ASSIGN_OR_RETURN(auto p, borrow<Payload>(self));
    VZ_ASSIGN_OR_RETURN(vz::GridGeometry lattice, from_core(p->shell->infer_grid(tolerance)));
    return shell_geometry(*p, lattice);
}

// ---- StructuredShell ---------------------------------------------------------

using SP = StructuredShellPayload;

constexpr const char* kStructuredShellDoc =
    "The level-2 geometry shell: `(i, j)`-organized nodes with explicit per-node\n"
    "XY. Purely topological/positional \xe2\x80\x94 never a function of z.";

PyResult<const char*> structured_kind(PyObject* self) {
    VZ_ASSIGN_OR_RETURN(auto p, borrow<SP>(self));
    return "structured_shell";
}

PyResult<std::uint64_t> ncol(PyObject* self) {
    VZ_ASSIGN_OR_RETURN(auto p, borrow<SP>(self));
    return p->shell->ncol();
}

PyResult<std::uint64_t> nrow(PyObject* self) {
    VZ_ASSIGN_OR_RETURN(auto p, borrow<SP>(self));
    return p->shell->nrow();
}

PyResult<Ref> nominal_geometry(PyObject* self) {
    VZ_ASSIGN_OR_RETURN(auto p, borrow<SP>(self));
    if (!p->shell->nominal()) return Ref::none();
    return shell_geometry(*p, *p->shell->nominal());
}

/// A node array as nrow lists of ncol floats: element [j][i] is node (i, j).
template <const Grid2& (StructuredShell::*Axis)() const>
PyResult<Ref> node_rows(PyObject* self, const Args&) {
    VZ_ASSIGN_OR_RETURN(auto p, borrow<SP>(self));
    const Grid2& g = ((*p->shell).*Axis)();
    std::vector<PyResult<Ref>> rows;
    rows.reserve(g.nrow());
    for (std::size_t j = 0; j < g.nrow(); ++j) {
        std::vector<double> row(g.ncol());
        for (std::size_t i = 0; i < g.ncol(); ++i) row[i] = g(i, j);
        rows.push_back(to_py(row));
    }
    return list_of(std::move(rows));
}

PyResult<Ref> structured_bbox(PyObject* self, const Args&) {
    VZ_ASSIGN_OR_RETURN(auto p, borrow<SP>(self));
    return new_bbox(p->shell->bbox());
}

PyResult<Ref> structured_node_xy(PyObject* self, const Args& a) {
    VZ_ASSIGN_OR_RETURN(std::uint64_t i, a.get<std::uint64_t>("i"));
    VZ_ASSIGN_OR_RETURN(std::uint64_t j, a.get<std::uint64_t>("j"));
    VZ_ASSIGN_OR_RETURN(auto p, borrow<SP>(self));
    VZ_ASSIGN_OR_RETURN(auto xy, from_core(p->shell->node_xy(i, j)));
    return py_tuple(xy.first, xy.second);
}

PyResult<Ref> to_mesh_shell(PyObject* self, const Args&) {
    VZ_ASSIGN_OR_RETURN(auto p, borrow<SP>(self));
    VZ_ASSIGN_OR_RETURN(vz::MeshShell mesh, from_core(p->shell->to_mesh_shell()));
    return new_mesh_shell(MeshShellPayload{p->name, std::make_shared<const vz::MeshShell>(std::move(mesh))});
}

PyResult<std::string> structured_repr(PyObject* self) {
    VZ_ASSIGN_OR_RETURN(auto p, borrow<SP>(self));
    return fmt::format("StructuredShell(ncol={}, nrow={})", p->shell->ncol(), p->shell->nrow());
}

ClassDef define_structured_shell() {
    return ClassDef::of<SP>("StructuredShell", kStructuredShellDoc)
        .getter<&structured_kind>("kind", kKindDoc)
        .getter<&shell_name<SP>>("name", kNameDoc)
        .getter<&ncol>("ncol")
        .getter<&nrow>("nrow")
        .getter<&nominal_geometry>("nominal_geometry", "Optional approximate regular geometry (metadata only).")
        .getter<&shell_edge<SP>>("edge", "Edge polygon in modelling coordinates.")
        .method<&node_rows<&StructuredShell::x>>(
            "x($self)\n--\n\nX node coordinates as row-major nested lists: outer list is rows.")
        .method<&node_rows<&StructuredShell::y>>(
            "y($self)\n--\n\nY node coordinates as row-major nested lists: outer list is rows.")
        .method<&structured_bbox>("bbox($self)\n--\n\nAxis-aligned bounding box over finite XY nodes.")
        .method<&structured_node_xy>("node_xy($self, i, j)\n--\n\nWorld `(x, y)` of logical node `(i, j)`.")
        .method<&to_mesh_shell>("to_mesh_shell($self)\n--\n\nExplode into a level-3 `MeshShell` (free, lossless).")
        .method<&infer_grid<SP>>(
            "infer_grid($self, tolerance=1e-3)\n--\n\n"
            "Fit a regular `GridGeometry` (lossy downward conversion); raises when\n"
            "the shell is curvilinear.")
        .repr<&structured_repr>();
}

// ---- MeshShell ---------------------------------------------------------------

using MP = MeshShellPayload;

constexpr const char* kMeshShellDoc =
    "The level-3 geometry shell: integer node ids with explicit XY, CCW triangle\n"
    "topology, the quad-dominant wireframe, the boundary edge, and per-node walk\n"
    "labels. Purely topological/positional \xe2\x80\x94 never a function of z.";

PyResult<const char*> mesh_kind(PyObject* self) {
    VZ_ASSIGN_OR_RETURN(auto p, borrow<MP>(self));
    return "mesh_shell";
}

PyResult<std::uint64_t> n_nodes(PyObject* self) {
    VZ_ASSIGN_OR_RETURN(auto p, borrow<MP>(self));
    return p->shell->node_count();
}

PyResult<std::uint64_t> n_triangles(PyObject* self) {
    VZ_ASSIGN_OR_RETURN(auto p, borrow<MP>(self));
    return p->shell->triangles().size();
}

PyResult<std::uint64_t> components(PyObject* self) {
    VZ_ASSIGN_OR_RETURN(auto p, borrow<MP>(self));
    return p->shell->components();
}

PyResult<Ref> nodes(PyObject* self, const Args&) {
    VZ_ASSIGN_OR_RETURN(auto p, borrow<MP>(self));
    return list_map(p->shell->nodes(), [](const NodeXY& n) { return tuple_from(n); });
}

PyResult<Ref> triangles(PyObject* self, const Args&) {
    VZ_ASSIGN_OR_RETURN(auto p, borrow<MP>(self));
    return list_map(p->shell->triangles(), [](const MeshTriangle& t) { return tuple_from(t); });
}

PyResult<Ref> labels(PyObject* self, const Args&) {
    VZ_ASSIGN_OR_RETURN(auto p, borrow<MP>(self));
    return list_map(p->shell->labels(), [](const std::optional<NodeLabel>& l) -> PyResult<Ref> {
        if (!l) return Ref::none();
        return py_tuple(l->block, l->i, l->j);
    });
}

PyResult<Ref> wireframe_edges(PyObject* self, const Args& a) {
    VZ_ASSIGN_OR_RETURN(std::optional<std::uint64_t> stride, a.opt<std::uint64_t>("stride"));
    VZ_ASSIGN_OR_RETURN(auto p, borrow<MP>(self));
    return list_map(p->shell->wireframe_edges(stride), [](const MeshEdge& e) { return tuple_from(e); });
}

// Each axis on its own over all nodes; NaN coordinates are skipped (fmin and
// fmax pass over them), infinite ones count.
PyResult<Ref> mesh_bbox(PyObject* self, const Args&) {
    VZ_ASSIGN_OR_RETURN(auto p, borrow<MP>(self));
    constexpr double inf = std::numeric_limits<double>::infinity();
    vz::BBox b{inf, inf, -inf, -inf};
    for (const NodeXY& n : p->shell->nodes()) {
        b.xmin = std::fmin(b.xmin, n[0]);
        b.xmax = std::fmax(b.xmax, n[0]);
        b.ymin = std::fmin(b.ymin, n[1]);
        b.ymax = std::fmax(b.ymax, n[1]);
    }
    return new_bbox(b);
}

PyResult<std::string> mesh_repr(PyObject* self) {
    VZ_ASSIGN_OR_RETURN(auto p, borrow<MP>(self));
    return fmt::format("MeshShell(nodes={}, triangles={}, components={})", p->shell->node_count(),
                       p->shell->triangles().size(), p->shell->components());
}

ClassDef define_mesh_shell() {
    return ClassDef::of<MP>("MeshShell", kMeshShellDoc)
        .getter<&mesh_kind>("kind", kKindDoc)
        .getter<&shell_name<MP>>("name", kNameDoc)
        .getter<&n_nodes>("n_nodes")
        .getter<&n_triangles>("n_triangles")
        .getter<&components>("components", "Connected components; more than one means the shell honours a fault.")
        .getter<&shell_edge<MP>>("edge", "Outer boundary ring(s) of the triangles.")
        .method<&nodes>("nodes($self)\n--\n\nNode XY as `(x, y)` tuples \xe2\x80\x94 2-D by design (a shell has no z).")
        .method<&triangles>("triangles($self)\n--\n\nTriangles as `(i, j, k)` index triples into `nodes()`, CCW.")
        .method<&labels>("labels($self)\n--\n\nPer-node walk labels `(block, i, j)`, `None` where unlabelled.")
        .method<&wireframe_edges>(
            "wireframe_edges($self, stride=None)\n--\n\n"
            "The quad-dominant wireframe as `(i, j)` index pairs into `nodes()`.\n"
            "`stride=k` (k \xe2\x89\xa5 2) returns the coarse-LOD lattice wireframe (every k-th\n"
            "grid line per block, outline + seams + fringe kept); `None`/`1` is the\n"
            "full wireframe. Display-only \xe2\x80\x94 geometry is never decimated.")
        .method<&mesh_bbox>("bbox($self)\n--\n\nAxis-aligned bounding box over the nodes.")
        .method<&infer_grid<MP>>(
            "infer_grid($self, tolerance=1e-3)\n--\n\n"
            "Fit a regular `GridGeometry` (lossy downward conversion); raises when\n"
            "the shell is not regular.")
        .repr<&mesh_repr>();
}

}  // namespace

PyResult<PyTypeObject*> structured_shell_type() {
    static TypeCell cell;
    return cell.get(define_structured_shell);
}

PyResult<Ref> new_structured_shell(StructuredShellPayload payload) {
    VZ_ASSIGN_OR_RETURN(PyTypeObject * type, structured_shell_type());
    return create_instance(type, std::move(payload));
}

PyResult<PyTypeObject*> mesh_shell_type() {
    static TypeCell cell;
    return cell.get(define_mesh_shell);
}

PyResult<Ref> new_mesh_shell(MeshShellPayload payload) {
    VZ_ASSIGN_OR_RETURN(PyTypeObject * type, mesh_shell_type());
    return create_instance(type, std::move(payload));
}

}  // namespace vz::py
