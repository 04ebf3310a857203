// Iso-lines: the shared argument reading and result form, and the `Surface`
// method (the structured and triangulated classes add theirs in their own
// files).

#include "surface_isolines.hpp"

#include "frame/generate.hpp"
#include "surface.hpp"

namespace vz::py {

PyResult<IsoLineArgs> iso_line_args(const Args& a) {
    IsoLineArgs out;
    VZ_ASSIGN_OR_RETURN(out.interval, a.opt<double>("interval"));
    VZ_ASSIGN_OR_RETURN(out.levels, a.opt<std::vector<double>>("levels"));
    VZ_ASSIGN_OR_RETURN(out.attr, a.opt<std::string>("attr"));
    VZ_ASSIGN_OR_RETURN(out.simplify, a.opt<double>("simplify"));
    return out;
}

PyResult<Ref> iso_lines_to_py(Result<std::vector<vz::IsoLevel>> levels) {
    if (!levels) return raise(into_py_err(levels.error()));
    const auto point = [](const vz::IsoPoint& p) {
        return tuple_generate(2, [&](std::size_t k) { return to_py(p[k]); });
    };
    const auto polyline = [&](const vz::Polyline& line) {
        return list_generate(line.size(), [&](std::size_t k) { return point(line[k]); });
    };
    return list_generate(levels->size(), [&](std::size_t k) {
        const vz::IsoLevel& level = (*levels)[k];
        return py_tuple(level.first,
                        list_generate(level.second.size(), [&](std::size_t n) { return polyline(level.second[n]); }));
    });
}

namespace {

PyResult<Ref> iso_lines(PyObject* self, const Args& a) {
    VZ_ASSIGN_OR_RETURN(auto me, surface_shared(self));
    VZ_ASSIGN_OR_RETURN(IsoLineArgs args, iso_line_args(a));
    VZ_ASSIGN_OR_RETURN(auto r, with_resolved(me->source, [&](const vz::Surface& s) {
                            return allow_threads([&] {
                                return vz::surfaces::iso_lines(s, args.interval, args.levels, args.attr,
                                                               args.simplify);
                            });
                        }));
    return iso_lines_to_py(std::move(r));
}

}  // namespace

void add_surface_isolines(ClassDef& def) { def.method<&iso_lines>(kIsoLinesDoc); }

}  // namespace vz::py
