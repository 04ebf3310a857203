// Crossings of a well path with a surface: the shared pieces of the
// intersection calls, and the calls of `Well` and `Sidetrack`.

#include "intersection.hpp"

#include <fmt/format.h>

#include "algorithms/intersections.hpp"
#include "frame/builders.hpp"
#include "frame/exception_text.hpp"
#include "sidetrack.hpp"
#include "surface_intersection.hpp"
#include "well.hpp"

namespace vz::py {

PyErr not_a_surface() {
    return PyErr::type_error("surface must be Surface, StructuredMeshSurface, or TriSurface");
}

PyErr wrap_step_error(PyErr err) {
    if (err.matches(PyExc_RuntimeError)) return err;
    return into_py_err(vz::Error::parse(exception_text(err)));
}

PyResult<Ref> hits_to_py(std::optional<std::uint64_t> project, std::vector<vz::SurfaceIntersection> hits,
                         const std::optional<std::string>& surface) {
    return list_map(hits, [&](const vz::SurfaceIntersection& h) {
        vz::SurfaceIntersection named = h;
        named.surface = surface;
        return new_surface_intersection(project, std::move(named));
    });
}

PyResult<Ref> hit_to_py(std::optional<std::uint64_t> project, std::optional<vz::SurfaceIntersection> hit,
                        const std::optional<std::string>& surface) {
    if (!hit) return Ref::none();
    hit->surface = surface;
    return new_surface_intersection(project, std::move(*hit));
}

namespace {

constexpr const char* kIntersectionsDoc =
    "intersections($self, surface, tolerance=1e-3)\n--\n\n"
    "All crossings of the resolved bore with `surface`, MD ordered.";
constexpr const char* kIntersectionDoc =
    "intersection($self, surface, tolerance=1e-3)\n--\n\n"
    "The sole crossing of the resolved bore, or `None`.";

// The crossings of the well's chosen bore, with the project's serial: the
// guard first (its errors as they are), then the dispatch, then the search
// under shared access to the well's project, whose failures are wrapped.
struct WellHits {
    std::uint64_t project = 0;
    std::vector<vz::SurfaceIntersection> hits;
    std::optional<std::string> surface;
};

PyResult<WellHits> well_hits(PyObject* self, const Args& a) {
    VZ_ASSIGN_OR_RETURN(auto h, well_handle(self));
    VZ_ASSIGN_OR_RETURN(double tolerance, a.get_or<double>("tolerance", 1e-3));
    VZ_TRY(resolve_accessor_guard(*h));
    PyObject* surface = a.raw("surface");
    return with_surface(surface, [&](const vz::TriangleMeshSource& view,
                                     const std::optional<std::string>& name) -> PyResult<WellHits> {
        return wrapped([&]() -> PyResult<WellHits> {
            VZ_ASSIGN_OR_RETURN(auto geo, project_shared(h->project.get()));
            const vz::Well* well = geo->project.find_well(h->id);
            if (!well) return raise(no_well(h->id));
            VZ_ASSIGN_OR_RETURN(auto hits, from_core(vz::intersections::well_intersections(*well, view, tolerance)));
            return WellHits{geo->serial, std::move(hits), name};
        }());
    });
}

PyResult<Ref> well_intersections(PyObject* self, const Args& a) {
    VZ_ASSIGN_OR_RETURN(WellHits r, well_hits(self, a));
    return hits_to_py(r.project, std::move(r.hits), r.surface);
}

PyResult<Ref> well_intersection(PyObject* self, const Args& a) {
    VZ_ASSIGN_OR_RETURN(WellHits r, well_hits(self, a));
    // The single-crossing rule belongs to the step: its failure is wrapped.
    VZ_ASSIGN_OR_RETURN(auto hit, wrapped(from_core(vz::intersections::select_single_crossing(std::move(r.hits)))));
    return hit_to_py(r.project, std::move(hit), r.surface);
}

// The crossings of the sidetrack's own bore: the well identifier copied
// first, then the dispatch, then the search under shared access to the
// `Well` object and its project, whose failures are wrapped.
PyResult<WellHits> bore_hits(PyObject* self, const Args& a) {
    VZ_ASSIGN_OR_RETURN(auto st, sidetrack_handle(self));
    VZ_ASSIGN_OR_RETURN(double tolerance, a.get_or<double>("tolerance", 1e-3));
    std::string well_id;
    {
        VZ_ASSIGN_OR_RETURN(auto well, well_handle(st->well.get()));
        well_id = well->id;
    }
    VZ_ASSIGN_OR_RETURN(WellHits r,
                        with_surface(a.raw("surface"), [&](const vz::TriangleMeshSource& view,
                                                           const std::optional<std::string>& name) -> PyResult<WellHits> {
                            return wrapped(with_bore(*st, [&](const vz::Sidetrack& bore) -> PyResult<WellHits> {
                                VZ_ASSIGN_OR_RETURN(
                                    auto hits, from_core(vz::intersections::bore_intersections(bore, view, tolerance)));
                                return WellHits{0, std::move(hits), name};
                            }));
                        }));
    for (auto& hit : r.hits) hit.well = well_id;
    // The project a crossing carries is the one of the sidetrack's `Well`
    // object; its serial never changes once the project object exists.
    VZ_ASSIGN_OR_RETURN(auto well, well_handle(st->well.get()));
    r.project = payload<GeoDataPayload>(well->project.get()).serial;
    return r;
}

}  // namespace

void add_well_intersections(ClassDef& def) {
    def.method<&well_intersections>(kIntersectionsDoc).method<&well_intersection>(kIntersectionDoc);
}

const char* const kSidetrackIntersectionsDoc =
    "intersections($self, surface, tolerance=1e-3)\n--\n\n"
    "All crossings of this bore with `surface`, MD ordered.";
const char* const kSidetrackIntersectionDoc =
    "intersection($self, surface, tolerance=1e-3)\n--\n\n"
    "The sole crossing of this bore, or `None`.";

PyResult<Ref> sidetrack_intersections(PyObject* self, const Args& a) {
    VZ_ASSIGN_OR_RETURN(WellHits r, bore_hits(self, a));
    return hits_to_py(r.project, std::move(r.hits), r.surface);
}

PyResult<Ref> sidetrack_intersection(PyObject* self, const Args& a) {
    VZ_ASSIGN_OR_RETURN(WellHits r, bore_hits(self, a));
    if (r.hits.size() > 1)
        return raise(PyErr::value_error(fmt::format(
            "trajectory crosses the surface {} times; call intersections(...) and select a crossing explicitly",
            r.hits.size())));
    std::optional<vz::SurfaceIntersection> hit;
    if (!r.hits.empty()) hit = std::move(r.hits.front());
    return hit_to_py(r.project, std::move(hit), r.surface);
}

}  // namespace vz::py
