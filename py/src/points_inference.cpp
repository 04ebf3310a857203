// Geometry inference of point sets: `PointSet.infer_geometry`, which names
// the geometry the points sit on (a regular lattice, or failing that a
// curvilinear or triangulated shell, announced by a warning), and
// `PointSet.to_structured_surface`, which carries the values of points with
// column/row attributes onto a structured mesh.

#include <cmath>
#include <variant>

#include <fmt/format.h>

#include "core/shell/edges.hpp"
#include "core/shell/infer.hpp"
#include "core/triangulate.hpp"
#include "foundation/format.hpp"
#include "points.hpp"
#include "sources.hpp"

namespace vz::py {

namespace {

/// The `edge` option: trimmed, ASCII-lower-cased, spaces and hyphens as
/// underscores; the outline names that no longer exist get their own message.
PyResult<EdgeMode> parse_edge(std::string_view text) {
    const std::string norm = points::normalize_attr_name(text);
    if (norm == "occupied") return EdgeMode::Occupied;
    for (std::string_view s : {"hull", "convexhull", "convex_hull"})
        if (norm == s) return EdgeMode::ConvexHull;
    for (std::string_view s : {"rect", "fullrect", "full_rect", "rectangle"})
        if (norm == s) return EdgeMode::FullRect;
    for (std::string_view s : {"tin", "alpha", "outer", "concave", "default", "trimesh", "concavehull", "alpha_shape",
                               "concave_hull", "triangulated", "triangulated_mesh"})
        if (norm == s)
            return raise(PyErr::value_error(
                fmt::format("geometry edge '{}' has been removed; use 'occupied' for the data footprint, 'full_rect' "
                            "for the bounding lattice rectangle, or 'convex_hull'",
                            norm)));
    return raise(PyErr::value_error(
        fmt::format("unknown geometry edge '{}' (expected 'occupied', 'convex_hull', or 'full_rect')", norm)));
}

/// What `infer_geometry` does when no regular lattice fits.
enum class Fallback { Mesh, Error };

/// The `fallback` option: trimmed and ASCII-lower-cased only. The legacy
/// spellings of the mesh fallback still work after a DeprecationWarning.
PyResult<Fallback> parse_fallback(std::string_view text) {
    const std::string norm = ascii_lower(trim_unicode(text));
    for (std::string_view s : {"mesh", "meshshell", "mesh_shell"})
        if (norm == s) return Fallback::Mesh;
    for (std::string_view s : {"tri", "trisurface", "tri_surface"}) {
        if (norm != s) continue;
        VZ_TRY(warn_deprecated(
            "infer_geometry(fallback='tri') is deprecated because infer_geometry now returns geometry-only shells; "
            "use fallback='mesh' instead."));
        return Fallback::Mesh;
    }
    for (std::string_view s : {"error", "raise"})
        if (norm == s) return Fallback::Error;
    return raise(PyErr::value_error(
        fmt::format("unknown geometry fallback '{}' (expected 'mesh', legacy 'tri', or 'error')", norm)));
}

/// "{} geometry" after the point set's display name; none without one.
std::optional<std::string> geometry_name(const std::optional<std::string>& name) {
    if (!name) return std::nullopt;
    return fmt::format("{} geometry", *name);
}

using Inferred = std::variant<GridGeometryPayload, StructuredShellPayload, MeshShellPayload>;

PyResult<Ref> hand_out(Inferred inferred) {
    return std::visit(
        [](auto&& payload) -> PyResult<Ref> {
            using P = std::decay_t<decltype(payload)>;
            if constexpr (std::is_same_v<P, GridGeometryPayload>) return new_grid_geometry(std::move(payload));
            else if constexpr (std::is_same_v<P, StructuredShellPayload>) return new_structured_shell(std::move(payload));
            else return new_mesh_shell(std::move(payload));
        },
        std::move(inferred));
}

// The lattice fit and the structured attempt hold the interpreter lock; only
// the triangulation of the last stage releases it. The receiver (and its
// project) stays held throughout, the warnings included, so the points read
// in place cannot change under the call.
PyResult<Ref> infer_geometry(PyObject* self, const Args& a) {
    VZ_ASSIGN_OR_RETURN(double tolerance, a.get_or<double>("tolerance", 1e-3));
    VZ_ASSIGN_OR_RETURN(std::string edge_text, a.get_or<std::string>("edge", "full_rect"));
    std::optional<double> max_bridge = 3.4;
    if (a.given("max_bridge")) {
        VZ_ASSIGN_OR_RETURN(max_bridge, a.get<std::optional<double>>("max_bridge"));
    }
    VZ_ASSIGN_OR_RETURN(std::string fallback_text, a.get_or<std::string>("fallback", "mesh"));
    VZ_ASSIGN_OR_RETURN(auto p, borrow<PointSetPayload>(self));

    VZ_ASSIGN_OR_RETURN(const EdgeMode mode, parse_edge(edge_text));
    VZ_ASSIGN_OR_RETURN(const Fallback fallback, parse_fallback(fallback_text));
    if (!std::isfinite(tolerance) || tolerance <= 0.0)
        return raise(PyErr::value_error("geometry inference failed: tolerance must be a finite positive number"));
    const std::optional<std::string> name = geometry_name(p->name);

    auto inferred_result = with_resolved(p->source, [&](const vz::PointSet& set) -> PyResult<Inferred> {
        auto fit = points::infer_geometry(set, tolerance, mode);
        if (fit) return GridGeometryPayload{std::move(fit->second), name, fit->first};
        const std::string lattice_error = fit.error().display();
        if (fallback == Fallback::Error)
            return raise(PyErr::value_error(fmt::format(
                "geometry inference failed: no regular lattice fits these points ({}) and "
                "fallback=\"error\" was requested \xe2\x80\x94 pass an explicit GridGeometry or "
                "use an explicit value-bearing conversion",
                lattice_error)));

        // A curvilinear shell has no nominal rectangle to draw.
        const EdgeMode shell_mode = mode == EdgeMode::FullRect ? EdgeMode::Occupied : mode;
        if (auto structured = points::to_structured_surface(set, tolerance, shell_mode)) {
            VZ_TRY(warn_user(fmt::format(
                "infer_geometry: no regular lattice fits these points ({}); returning "
                "StructuredShell geometry (pass fallback=\"error\" to raise instead)",
                lattice_error)));
            return StructuredShellPayload{name, structured->shell};
        }

        Result<vz::TriSurface> tri = allow_threads(
            [&] { return points::to_tri_surface(set, std::nullopt, max_bridge); });
        if (!tri)
            return raise(PyErr::value_error(fmt::format(
                "geometry inference failed: no regular lattice fits these points ({}); the "
                "MeshShell fallback also failed ({}) \xe2\x80\x94 pass an explicit GridGeometry "
                "or fix the input cloud",
                lattice_error, tri.error().display())));
        VZ_TRY(warn_user(fmt::format(
            "infer_geometry: no regular lattice fits these points ({}); returning the MeshShell "
            "fallback (pass fallback=\"error\" to raise instead)",
            lattice_error)));
        return MeshShellPayload{name, tri->shell};
    });
    VZ_ASSIGN_OR_RETURN(Inferred inferred, std::move(inferred_result));
    return hand_out(std::move(inferred));
}

PyResult<Ref> to_structured_surface(PyObject* self, const Args& a) {
    VZ_ASSIGN_OR_RETURN(double tolerance, a.get_or<double>("tolerance", 1e-3));
    VZ_ASSIGN_OR_RETURN(std::string edge_text, a.get_or<std::string>("edge", "occupied"));
    VZ_ASSIGN_OR_RETURN(auto p, borrow<PointSetPayload>(self));
    VZ_ASSIGN_OR_RETURN(const EdgeMode mode, parse_edge(edge_text));
    auto surface_result = with_resolved(p->source, [&](const vz::PointSet& set) {
        return from_core(points::to_structured_surface(set, tolerance, mode));
    });
    VZ_ASSIGN_OR_RETURN(vz::StructuredMeshSurface surface, std::move(surface_result));
    return new_owned_structured_surface(std::move(surface), p->name);
}

}  // namespace

void add_point_set_inference(ClassDef& def) {
    def.method<&infer_geometry>(
           "infer_geometry($self, tolerance=1e-3, edge=\"full_rect\", max_bridge=3.4, fallback=\"mesh\")\n--\n\n"
           "Infer geometry only (never values): a regular `GridGeometry`, a\n"
           "topology-verified curvilinear `StructuredShell`, or a triangulated\n"
           "`MeshShell` when no structured topology can be verified.\n"
           "\n"
           "`edge` controls `geometry.edge`: `\"full_rect\"` (default; the four corners of\n"
           "the bounding lattice), `\"occupied\"` (the outline of the nodes that carry\n"
           "data \xe2\x80\x94 use this when the footprint is not rectangular), or `\"convex_hull\"`.\n"
           "It applies to a successfully inferred `GridGeometry`. A topology-verified\n"
           "`StructuredShell` fallback honours explicit `\"occupied\"` /\n"
           "`\"convex_hull\"`; the default `\"full_rect\"` retains its compatible\n"
           "occupied boundary because a curvilinear shell has no nominal rectangle.\n"
           "A triangulated `MeshShell` carries the boundary implied by its triangles.\n"
           "\n"
           "`max_bridge` (in cells) applies **only to the fallback `MeshShell`**: it\n"
           "admits triangle edges the closed-lattice rules reject \xe2\x80\x94 the boundary fringe,\n"
           "fault seams, interior data gaps \xe2\x80\x94 up to that length, closing the mesh where\n"
           "the geometry does not close. The default is 3.4 cells; pass `None` to keep\n"
           "the mesh strictly lattice-closed. It has no effect when a regular\n"
           "`GridGeometry` is inferred.\n"
           "\n"
           "`fallback` controls what happens when the lattice fit fails: `\"mesh\"`\n"
           "(default) returns a geometry shell **and emits a `UserWarning`**;\n"
           "`\"error\"` raises a `ValueError`. Legacy `\"tri\"` is accepted with a\n"
           "`DeprecationWarning` but still returns `StructuredShell | MeshShell`.\n"
           "Dispatch via `kind`: `\"grid_geometry\"`, `\"structured_shell\"`, or\n"
           "`\"mesh_shell\"`.")
        .method<&to_structured_surface>(
            "to_structured_surface($self, tolerance=1e-3, edge=\"occupied\")\n--\n\n"
            "Promote topology-bearing points (`column`/`row` attributes) to a\n"
            "structured mesh surface with explicit XY at every logical node.");
}

}  // namespace vz::py
