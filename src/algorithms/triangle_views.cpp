#include "algorithms/triangle_views.hpp"

#include <algorithm>
#include <utility>

#include "algorithms/surfaces.hpp"
#include "core/structured_surface.hpp"
#include "core/surface.hpp"
#include "core/tri_surface.hpp"
#include "expected_macros.hpp"

namespace vz {
namespace {

/// The mesh of a lattice lift: vertex k at node k's (x, y) with the value at
/// its (i, j); the triangles moved over.
Result<TriangleMesh> lift(QuadMesh mesh, const Grid2& values, std::string_view context) {
    VZ_ASSIGN_OR_RETURN(const auto z, surfaces::node_values(mesh, values, context));
    TriangleMesh out;
    out.vertices.resize(mesh.nodes.size());
    for (std::size_t k = 0; k < mesh.nodes.size(); ++k)
        out.vertices[k] = {mesh.nodes[k][0], mesh.nodes[k][1], z[k]};
    out.triangles = std::move(mesh.triangles);
    return out;
}

}  // namespace

namespace triangle_views {

TriangleMesh triangle_mesh(const TriSurface& surface) {
    TriangleMesh out;
    if (!surface.shell) return out;
    const auto& nodes = surface.shell->nodes();
    const std::size_t m = std::min(nodes.size(), surface.values.size());
    out.vertices.resize(m);
    for (std::size_t k = 0; k < m; ++k) out.vertices[k] = {nodes[k][0], nodes[k][1], surface.values[k]};
    out.triangles = surface.shell->triangles();
    return out;
}

Result<TriangleMesh> triangle_mesh(const Surface& surface) {
    VZ_ASSIGN_OR_RETURN(auto mesh, surfaces::quad_mesh(surface.geom));
    return lift(std::move(mesh), surface.values, "Surface::triangle_mesh");
}

Result<TriangleMesh> triangle_mesh(const StructuredMeshSurface& surface) {
    if (!surface.shell)
        return fail(Error::geometry_mismatch("StructuredMeshSurface::triangle_mesh: surface has no shell"));
    VZ_ASSIGN_OR_RETURN(auto mesh, surfaces::quad_mesh(*surface.shell));
    return lift(std::move(mesh), surface.values, "StructuredMeshSurface::triangle_mesh");
}

}  // namespace triangle_views

Result<TriangleMesh> SurfaceMeshView::triangle_mesh() const { return triangle_views::triangle_mesh(*surface_); }

Result<TriangleMesh> StructuredSurfaceMeshView::triangle_mesh() const {
    return triangle_views::triangle_mesh(*surface_);
}

Result<TriangleMesh> TriSurfaceMeshView::triangle_mesh() const { return triangle_views::triangle_mesh(*surface_); }

}  // namespace vz
