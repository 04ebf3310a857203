// Iso-lines: the shared argument reading and result form, and the `Surface`
// method (the structured and triangulated classes add theirs in their own
// files).

#include "surface_isolines.hpp"

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

namespace {

PyResult<Ref> point_tuple(const vz::IsoPoint& p) {
    VZ_ASSIGN_OR_RETURN(Ref x, to_py(p[0]));
    VZ_ASSIGN_OR_RETURN(Ref y, to_py(p[1]));
    return checked(PyTuple_Pack(2, x.get(), y.get()));
}

PyResult<Ref> polyline_list(const vz::Polyline& line) {
    VZ_ASSIGN_OR_RETURN(Ref list, checked(PyList_New(static_cast<Py_ssize_t>(line.size()))));
    for (std::size_t k = 0; k < line.size(); ++k) {
        VZ_ASSIGN_OR_RETURN(Ref point, point_tuple(line[k]));
        PyList_SetItem(list.get(), static_cast<Py_ssize_t>(k), point.release());
    }
    return list;
}

PyResult<Ref> level_tuple(const vz::IsoLevel& level) {
    VZ_ASSIGN_OR_RETURN(Ref value, to_py(level.first));
    VZ_ASSIGN_OR_RETURN(Ref lines, checked(PyList_New(static_cast<Py_ssize_t>(level.second.size()))));
    for (std::size_t k = 0; k < level.second.size(); ++k) {
        VZ_ASSIGN_OR_RETURN(Ref line, polyline_list(level.second[k]));
        PyList_SetItem(lines.get(), static_cast<Py_ssize_t>(k), line.release());
    }
    return checked(PyTuple_Pack(2, value.get(), lines.get()));
}

}  // namespace

PyResult<Ref> iso_lines_to_py(Result<std::vector<vz::IsoLevel>> levels) {
    if (!levels) return raise(into_py_err(levels.error()));
    VZ_ASSIGN_OR_RETURN(Ref out, checked(PyList_New(static_cast<Py_ssize_t>(levels->size()))));
    for (std::size_t k = 0; k < levels->size(); ++k) {
        VZ_ASSIGN_OR_RETURN(Ref level, level_tuple((*levels)[k]));
        PyList_SetItem(out.get(), static_cast<Py_ssize_t>(k), level.release());
    }
    return out;
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
