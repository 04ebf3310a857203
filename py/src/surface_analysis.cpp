// `Surface` analysis: thickness, areas above and below a level, the volume
// between two surfaces, the hypsometric curve, dip, smoothing and the filling
// of undefined nodes. Arguments are converted (and a method parsed) before
// the receiver is resolved; the long passes run with the interpreter lock
// released while the receiver and its project stay under shared access.

#include "frame/builders.hpp"
#include "surface.hpp"

namespace vz::py {

namespace {

PyResult<Ref> thickness(PyObject* self, const Args& a) {
    VZ_ASSIGN_OR_RETURN(auto me, surface_shared(self));
    VZ_ASSIGN_OR_RETURN(SurfaceArg base, a.get<SurfaceArg>("base"));
    VZ_ASSIGN_OR_RETURN(bool clamp_zero, a.get_or<bool>("clamp_zero", false));
    return wrap_surface(with_resolved(me->source, [&](const vz::Surface& top) {
        return with_resolved(base->source, [&](const vz::Surface& b) { return top.thickness(b, clamp_zero); });
    }));
}

template <double (vz::Surface::*Fn)(double) const>
PyResult<double> area(PyObject* self, const Args& a) {
    VZ_ASSIGN_OR_RETURN(auto me, surface_shared(self));
    VZ_ASSIGN_OR_RETURN(double depth, a.get<double>("depth"));
    return with_resolved(me->source, [&](const vz::Surface& s) { return (s.*Fn)(depth); });
}

PyResult<double> volume_between(PyObject* self, const Args& a) {
    VZ_ASSIGN_OR_RETURN(auto me, surface_shared(self));
    VZ_ASSIGN_OR_RETURN(SurfaceArg base, a.get<SurfaceArg>("base"));
    VZ_ASSIGN_OR_RETURN(Result<double> r, with_resolved(me->source, [&](const vz::Surface& top) {
                            return with_resolved(base->source, [&](const vz::Surface& b) {
                                return allow_threads([&] { return top.volume_between(b); });
                            });
                        }));
    return from_core(std::move(r));
}

PyResult<Ref> hypsometry(PyObject* self, const Args&) {
    VZ_ASSIGN_OR_RETURN(auto curve, with_surface(self, [](const vz::Surface& s) { return s.hypsometry(); }));
    return list_of_pairs(curve);
}

template <vz::Surface (vz::Surface::*Fn)() const>
PyResult<Ref> released_pass(PyObject* self, const Args&) {
    return wrap_surface(
        with_surface(self, [](const vz::Surface& s) { return allow_threads([&] { return (s.*Fn)(); }); }));
}

PyResult<Ref> smooth(PyObject* self, const Args& a) {
    VZ_ASSIGN_OR_RETURN(auto me, surface_shared(self));
    VZ_ASSIGN_OR_RETURN(std::uint64_t radius, a.get_or<std::uint64_t>("radius", 1));
    return wrap_surface(with_resolved(
        me->source, [&](const vz::Surface& s) { return allow_threads([&] { return s.smooth(radius); }); }));
}

PyResult<Ref> extrapolate(PyObject* self, const Args& a) {
    VZ_ASSIGN_OR_RETURN(auto me, surface_shared(self));
    VZ_ASSIGN_OR_RETURN(std::string text, a.get_or<std::string>("method", "nearest"));
    VZ_ASSIGN_OR_RETURN(GriddingMethod method, parse_gridding_method(text));
    return wrap_surface(with_resolved(
        me->source, [&](const vz::Surface& s) { return allow_threads([&] { return s.extrapolate(method); }); }));
}

}  // namespace

void add_surface_analysis(ClassDef& def) {
    def.method<&thickness>(
           "thickness($self, base, clamp_zero=False)\n--\n\n"
           "`base - top`, optionally clamped at zero (negative thickness \xe2\x86\x92 0).\n"
           "Works as `top.thickness(base)` and, through Python's normal unbound\n"
           "method protocol, as `Surface.thickness(top, base)`.")
        .method<&area<&vz::Surface::area_above>>(
            "area_above($self, depth)\n--\n\nAreal extent of nodes whose value is `>= depth`.")
        .method<&area<&vz::Surface::area_below>>(
            "area_below($self, depth)\n--\n\nAreal extent of nodes whose value is `<= depth`.")
        .method<&volume_between>(
            "volume_between($self, base)\n--\n\nVolume between this surface and `base` (equal geometry required).")
        .method<&hypsometry>(
            "hypsometry($self)\n--\n\nThe hypsometric curve as `[(depth, area), \xe2\x80\xa6]`, ascending.")
        .method<&released_pass<&vz::Surface::dip_angle>>(
            "dip_angle($self)\n--\n\nGeological dip angle in degrees, derived in the surface's world frame.")
        .method<&released_pass<&vz::Surface::dip_azimuth>>(
            "dip_azimuth($self)\n--\n\nDown-dip azimuth in degrees clockwise from North. Flat nodes are NaN.")
        .method<&smooth>(
            "smooth($self, radius=1)\n--\n\n"
            "NaN-aware square-window moving average. The original NaN mask is\n"
            "preserved; the returned surface is detached and primary-only.")
        .method<&extrapolate>(
            "extrapolate($self, method=\"nearest\")\n--\n\n"
            "Fill only original NaN nodes on this geometry using a shared korviTools\n"
            "gridding kernel (`nearest`, `idw`, or `min_curvature`).");
}

}  // namespace vz::py
