// Point-set conversions: gridding onto a regular lattice (`to_surface`),
// triangulation that never bridges a fault (`to_tri_surface`) and the
// recovery of column/row topology from bare coordinates (`detect_topology`).
// Each holds the receiver (and its project) for the whole call, runs its long
// core step with the interpreter lock released on the points read in place,
// and hands out a new owned object named like the receiver.

#include <cmath>
#include <memory>

#include <fmt/format.h>

#include "core/topology.hpp"
#include "core/triangulate.hpp"
#include "core/shell/infer.hpp"
#include "frame/builders.hpp"
#include "points.hpp"
#include "sources.hpp"
#include "topology_report.hpp"

namespace vz::py {

namespace {

/// The lattice a `geom` argument gives: a `GridGeometry`'s eight fields;
/// the shells and triangulated surfaces that come out of geometry inference
/// are refused with a pointer to the conversion that fits them.
PyResult<vz::GridGeometry> lattice_of(PyObject* geom) {
    VZ_ASSIGN_OR_RETURN(bool is_grid, is_object_of<&grid_geometry_type>(geom));
    if (is_grid) {
        VZ_ASSIGN_OR_RETURN(auto g, (borrow_as<GridGeometryPayload, &grid_geometry_type>(geom)));
        return g->lattice;
    }
    VZ_ASSIGN_OR_RETURN(bool is_structured, is_object_of<&structured_shell_type>(geom));
    if (is_structured)
        return raise(PyErr::type_error(
            "to_surface: received a StructuredShell geometry from infer_geometry, not a GridGeometry \xe2\x80\x94 use "
            "to_structured_surface() for the value-bearing representation, or pass an explicit GridGeometry"));
    VZ_ASSIGN_OR_RETURN(bool is_mesh, is_object_of<&mesh_shell_type>(geom));
    if (is_mesh)
        return raise(PyErr::type_error(
            "to_surface: received a MeshShell geometry from infer_geometry, not a GridGeometry \xe2\x80\x94 use "
            "to_tri_surface() for the value-bearing representation, or pass an explicit GridGeometry"));
    VZ_ASSIGN_OR_RETURN(bool is_tri, is_object_of<&tri_surface_type>(geom));
    if (is_tri)
        return raise(PyErr::type_error(
            "to_surface: received a value-bearing TriSurface, not a GridGeometry \xe2\x80\x94 resample that TriSurface "
            "or pass an explicit GridGeometry"));
    return raise(PyErr::type_error(
        fmt::format("to_surface: geom must be a GridGeometry (or None to infer one), got {}", type_name(geom))));
}

PyResult<Ref> to_surface(PyObject* self, const Args& a) {
    PyObject* geom = a.raw("geom");
    VZ_ASSIGN_OR_RETURN(std::string method_text, a.get_or<std::string>("method", "idw"));
    VZ_ASSIGN_OR_RETURN(double tolerance, a.get_or<double>("tolerance", 1e-3));
    VZ_ASSIGN_OR_RETURN(auto p, borrow<PointSetPayload>(self));
    VZ_ASSIGN_OR_RETURN(const GriddingMethod method, parse_gridding_method(method_text));

    std::optional<vz::GridGeometry> given;
    if (geom && geom != Py_None) {
        VZ_ASSIGN_OR_RETURN(given, lattice_of(geom));
    } else if (!std::isfinite(tolerance) || tolerance <= 0.0) {
        return raise(PyErr::value_error("to_surface: tolerance must be a finite positive number"));
    }

    // Inference holds the lock; gridding releases it. Without a lattice that
    // fits there is no surface: gridding onto a bounding box would invent one.
    auto surface_result = with_resolved(p->source, [&](const vz::PointSet& set) -> PyResult<vz::Surface> {
        vz::GridGeometry lattice;
        if (given) {
            lattice = *given;
        } else {
            auto inferred = points::infer_grid_geometry(set, tolerance);
            if (!inferred)
                return raise(PyErr::value_error(fmt::format(
                    "to_surface: no regular lattice fits these points ({}) \xe2\x80\x94 the points "
                    "are not lattice-regular; pass an explicit GridGeometry or use "
                    "to_tri_surface()",
                    inferred.error().display())));
            lattice = *inferred;
        }
        Result<vz::Surface> gridded =
            allow_threads([&] { return set.to_surface(lattice, method); });
        return from_core(std::move(gridded));
    });
    VZ_ASSIGN_OR_RETURN(vz::Surface surface, std::move(surface_result));
    return new_owned_surface(std::move(surface), p->name);
}

PyResult<Ref> to_tri_surface(PyObject* self, const Args& a) {
    VZ_ASSIGN_OR_RETURN(std::optional<double> max_link, a.opt<double>("max_link"));
    VZ_ASSIGN_OR_RETURN(std::optional<double> max_bridge, a.opt<double>("max_bridge"));
    VZ_ASSIGN_OR_RETURN(auto p, borrow<PointSetPayload>(self));
    auto tri_result = with_resolved(p->source, [&](const vz::PointSet& set) {
        Result<vz::TriSurface> r =
            allow_threads([&] { return points::to_tri_surface(set, max_link, max_bridge); });
        return from_core(std::move(r));
    });
    VZ_ASSIGN_OR_RETURN(vz::TriSurface tri, std::move(tri_result));
    return new_tri_surface(TriSurfacePayload{p->name, std::make_shared<const vz::TriSurface>(std::move(tri))});
}

PyResult<Ref> detect_topology(PyObject* self, const Args& a) {
    VZ_ASSIGN_OR_RETURN(std::optional<double> nominal_cell, a.opt<double>("nominal_cell"));
    VZ_ASSIGN_OR_RETURN(auto p, borrow<PointSetPayload>(self));
    auto detected_result = with_resolved(p->source, [&](const vz::PointSet& set) {
        auto r = allow_threads([&] { return points::detect_topology(set, nominal_cell); });
        return from_core(std::move(r));
    });
    VZ_ASSIGN_OR_RETURN(auto detected, std::move(detected_result));
    auto& [labelled, report] = detected;
    PyResult<Ref> points = labelled ? new_owned_point_set(std::move(*labelled), p->name) : PyResult<Ref>(Ref::none());
    return py_tuple(std::move(points), new_topology_report(report));
}

}  // namespace

void add_point_set_conversions(ClassDef& def) {
    def.method<&to_surface>(
           "to_surface($self, geom=None, method=\"idw\", tolerance=1e-3)\n--\n\n"
           "Grid the points' Z values onto a regular lattice using `method`\n"
           "(`\"nearest\"`, `\"idw\"`, or `\"min_curvature\"`), returning a new `Surface`.\n"
           "\n"
           "`geom=None` (the default) infers the lattice from the points themselves\n"
           "(the same machinery as `infer_geometry(tolerance)`). When no regular\n"
           "lattice fits, this raises a `ValueError` \xe2\x80\x94 it never grids onto an\n"
           "arbitrary bounding lattice; pass an explicit `GridGeometry` or represent\n"
           "the cloud with `to_tri_surface()` instead. Passing an `infer_geometry`\n"
           "geometry shell as `geom` is a `TypeError` pointing at the corresponding\n"
           "explicit value-bearing conversion. `tolerance` is used only when `geom`\n"
           "is `None`.")
        .method<&to_tri_surface>(
            "to_tri_surface($self, max_link=None, max_bridge=None)\n--\n\n"
            "Triangulate the points into a `TriSurface` \xe2\x80\x94 the fallback when\n"
            "`detect_topology()` cannot verify a structured mesh.\n"
            "\n"
            "`max_link` is the longest triangle edge to keep, **in cells** of the detected\n"
            "grid, and must lie in `(sqrt(2), 2)`; `None` uses 1.8. The result is a single\n"
            "connected component, and no triangle bridges a fault: the adjacencies the\n"
            "topology walk refused are excluded from the triangulation.")
        .method<&detect_topology>(
            "detect_topology($self, nominal_cell=None)\n--\n\n"
            "Recover `column`/`row` topology from bare coordinates, without moving a point.\n"
            "\n"
            "Returns `(points, report)`. `points` carries the `column`/`row` attributes and\n"
            "is **`None` unless the detection verified** \xe2\x80\x94 every distinct node labelled, no\n"
            "index claimed twice, no coincident node pair with differing z. An unverified\n"
            "report means the surface is fault-cut: represent it as a triangulated network,\n"
            "not a structured mesh. `report.stalled_frontier` locates the fault.");
}

}  // namespace vz::py
