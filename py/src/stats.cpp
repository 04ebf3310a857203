#include "stats.hpp"

#include <cmath>
#include <limits>

#include <fmt/format.h>

#include "foundation/format.hpp"
#include "frame/frame.hpp"

namespace vz::py {

namespace {

constexpr const char* kDoc =
    "Summary statistics over defined (non-NaN) values. Read-only: every field is\n"
    "a getter; arbitrary quantiles come from [`Stats::percentile`].";

const vz::Stats& stats(PyObject* self) { return payload<vz::Stats>(self); }

PyResult<std::uint64_t> count(PyObject* self) { return stats(self).count; }

template <double vz::Stats::*Field>
PyResult<double> field(PyObject* self) {
    return stats(self).*Field;
}

PyResult<double> percentile(PyObject* self, const Args& a) {
    VZ_ASSIGN_OR_RETURN(double p, a.get<double>("p"));
    const vz::Stats& s = stats(self);
    // No values, or no fraction to ask for: no answer.
    if (std::isnan(p) || s.values.empty()) return std::numeric_limits<double>::quiet_NaN();
    return s.percentile(p);
}

PyResult<double> geomean(const Args& a) {
    VZ_ASSIGN_OR_RETURN(std::vector<double> values, a.get<std::vector<double>>("values"));
    return vz::Stats::geomean(values);
}

PyResult<std::string> repr(PyObject* self) {
    const vz::Stats& s = stats(self);
    return fmt::format("Stats(count={}, mean={}, min={}, max={}, p50={})", s.count, num(s.mean), num(s.min),
                       num(s.max), num(s.p50));
}

}  // namespace

PyResult<PyTypeObject*> stats_type() {
    static TypeCell cell;
    return cell.get([] {
        return ClassDef::of<vz::Stats>("Stats", kDoc)
            .getter<&count>("count")
            .getter<&field<&vz::Stats::mean>>("mean")
            .getter<&field<&vz::Stats::min>>("min")
            .getter<&field<&vz::Stats::max>>("max")
            .getter<&field<&vz::Stats::std>>("std")
            .getter<&field<&vz::Stats::sum>>("sum")
            .getter<&field<&vz::Stats::p10>>("p10")
            .getter<&field<&vz::Stats::p50>>("p50")
            .getter<&field<&vz::Stats::p90>>("p90")
            .method<&percentile>("percentile($self, p)\n--\n\nArbitrary percentile, `p` in `[0, 1]`.")
            .static_method<&geomean>(
                "geomean(values)\n--\n\n"
                "Geometric mean of positive, non-NaN `values` \xe2\x80\x94 the natural average for\n"
                "log-normal quantities such as permeability. Static: `Stats.geomean([...])`.")
            .repr<&repr>();
    });
}

PyResult<Ref> new_stats(vz::Stats s) {
    VZ_ASSIGN_OR_RETURN(PyTypeObject * type, stats_type());
    return create_instance(type, std::move(s));
}

}  // namespace vz::py
