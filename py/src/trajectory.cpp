// The `Trajectory` class: a free-standing well path built from a directional
// survey, queried for positions and depths and crossed with surfaces. It
// belongs to no project.
//
// Unlike a bore's `xyz` (an elevation), a free trajectory answers its
// positions in the frame it is built in: z is subsea TVD, positive down, so
// that a vertical hole reads z = md - kb.

#include "trajectory.hpp"

#include <fmt/format.h>

#include "algorithms/intersections.hpp"
#include "foundation/format.hpp"
#include "frame/builders.hpp"
#include "intersection.hpp"

namespace vz::py {

namespace {

constexpr const char* kDoc = "A minimum-curvature well path positioned from a wellhead + KB datum.";

PyResult<vz::Trajectory> from_stations(const Args& a) {
    VZ_ASSIGN_OR_RETURN(auto rows, Args::noted("stations", sequence_of<FloatTuple<3>>(a.raw("stations"))));
    VZ_ASSIGN_OR_RETURN(auto head, a.get<FloatTuple<2>>("head"));
    VZ_ASSIGN_OR_RETURN(double kb, a.get<double>("kb"));
    std::vector<vz::SurveyStation> stations;
    stations.reserve(rows.size());
    for (const auto& r : rows) stations.push_back(vz::SurveyStation{r.v[0], r.v[1], r.v[2]});
    return from_core(vz::Trajectory::from_source(vz::TrajectorySource::survey(std::move(stations)), head.v[0],
                                                 head.v[1], kb));
}

PyResult<Ref> make(const Args& a) {
    VZ_ASSIGN_OR_RETURN(vz::Trajectory t, from_stations(a));
    return new_trajectory(std::move(t));
}

PyResult<Ref> md_range(PyObject* self, const Args&) {
    VZ_ASSIGN_OR_RETURN(auto t, borrow<vz::Trajectory>(self));
    return py_tuple(t->first_md(), t->last_md());
}

PyResult<Ref> xyz(PyObject* self, const Args& a) {
    VZ_ASSIGN_OR_RETURN(auto t, borrow<vz::Trajectory>(self));
    VZ_ASSIGN_OR_RETURN(double md, a.get<double>("md"));
    // position_at_md, not the elevation form: z stays positive down.
    const auto p = t->position_at_md(md);
    if (!p) return Ref::none();
    return tuple_from(*p);
}

PyResult<std::optional<double>> tvd(PyObject* self, const Args& a) {
    VZ_ASSIGN_OR_RETURN(auto t, borrow<vz::Trajectory>(self));
    VZ_ASSIGN_OR_RETURN(double md, a.get<double>("md"));
    return t->tvd(md);
}

PyResult<std::optional<double>> md_at_tvd(PyObject* self, const Args& a) {
    VZ_ASSIGN_OR_RETURN(auto t, borrow<vz::Trajectory>(self));
    VZ_ASSIGN_OR_RETURN(double depth, a.get<double>("tvd"));
    return t->md_at_tvd(depth);
}

// Every crossing (All) or the sole one. Crossings carry no project, well or
// bore; core errors reach the caller as their display text, unwrapped.
template <bool All>
PyResult<Ref> crossings(PyObject* self, const Args& a) {
    VZ_ASSIGN_OR_RETURN(auto t, borrow<vz::Trajectory>(self));
    VZ_ASSIGN_OR_RETURN(double tolerance, a.get_or<double>("tolerance", 1e-3));
    return with_surface(a.raw("surface"), [&](const vz::TriangleMeshSource& view,
                                              const std::optional<std::string>& name) -> PyResult<Ref> {
        if constexpr (All) {
            VZ_ASSIGN_OR_RETURN(auto hits,
                                from_core(vz::intersections::intersect_trajectory_surface(*t, view, tolerance)));
            return hits_to_py(std::nullopt, std::move(hits), name);
        } else {
            VZ_ASSIGN_OR_RETURN(auto hit, from_core(vz::intersections::intersect_single(*t, view, tolerance)));
            return hit_to_py(std::nullopt, std::move(hit), name);
        }
    });
}

PyResult<std::string> repr(PyObject* self) {
    VZ_ASSIGN_OR_RETURN(auto t, borrow<vz::Trajectory>(self));
    return fmt::format("Trajectory(md {}..{})", vz::fixed(t->first_md(), 1), vz::fixed(t->last_md(), 1));
}

ClassDef define() {
    ClassDef def = ClassDef::of<vz::Trajectory>("Trajectory", kDoc);
    def.static_method<&make>(
           "from_stations(stations, head, kb)\n--\n\n"
           "Build from a directional survey: `stations` is a list of\n"
           "`(md, inc_deg, azi_deg)` (inclination from vertical, azimuth clockwise\n"
           "from North), positioned from `head = (x, y)` and kelly-bushing `kb` via\n"
           "the minimum-curvature method. `z` is subsea TVD (positive down); a\n"
           "vertical hole satisfies `tvd(md) = md - kb`.")
        .method<&md_range>("md_range($self)\n--\n\n`(min, max)` measured-depth span of the path.")
        .method<&xyz>("xyz($self, md)\n--\n\n"
                      "Interpolated world position `(x, y, z=TVDSS)` at `md`, or `None` outside\n"
                      "the MD range.")
        .method<&tvd>("tvd($self, md)\n--\n\nSubsea true vertical depth at `md`, or `None` outside the MD range.")
        .method<&md_at_tvd>("md_at_tvd($self, tvd)\n--\n\n"
                            "Measured depth at a given TVD (shallowest crossing), or `None`.")
        .method<&crossings<true>>("intersections($self, surface, tolerance=1e-3)\n--\n\n"
                                "Every MD-ordered crossing with a regular, structured, or triangulated\n"
                                "surface. Computation is pure; no tops are created.")
        .method<&crossings<false>>("intersection($self, surface, tolerance=1e-3)\n--\n\n"
                               "The sole crossing, `None` for no hit; multiple crossings raise with\n"
                               "guidance to call `intersections`.")
        .repr<&repr>();
    return def;
}

}  // namespace

PyResult<PyTypeObject*> trajectory_type() {
    static TypeCell cell;
    return cell.get(define);
}

PyResult<Ref> new_trajectory(vz::Trajectory value) {
    VZ_ASSIGN_OR_RETURN(PyTypeObject * type, trajectory_type());
    return create_instance(type, std::move(value));
}

}  // namespace vz::py
