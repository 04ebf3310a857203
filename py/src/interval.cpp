// The `Interval` handle: the zone that starts at one formation top of a well,
// found again on the well's accessor bore at every use. An attribute that no
// member answers names a log and gives its statistics within the zone.

#include <optional>
#include <string>
#include <tuple>
#include <utility>

#include <fmt/format.h>

#include "foundation/format.hpp"
#include "frame/escape.hpp"
#include "stats.hpp"
#include "well.hpp"

namespace vz::py {

namespace {

constexpr const char* kDoc = "The depth interval a top names: a view resolving its `Top` on the well.";

/// Runs `f(const vz::Zone&)` on the interval's zone under shared access to the
/// interval, its `Well` handle and the project: "no well '{}'", or "top '{}'
/// no longer present" with the interval's key. No multi-bore guard: the zone
/// is looked for on the accessor bore.
template <class F>
FlatResult<std::invoke_result_t<F, const vz::Zone&>> with_zone(PyObject* self, F&& f) {
    using R = FlatResult<std::invoke_result_t<F, const vz::Zone&>>;
    VZ_ASSIGN_OR_RETURN(auto iv, borrow<IntervalPayload>(self));
    VZ_ASSIGN_OR_RETURN(auto well, well_handle(iv->well.get()));
    return with_well(*well, [&](const vz::Well& w) -> R {
        const std::optional<vz::Zone> zone = w.top_interval(iv->name);
        if (!zone) return raise(PyErr::value_error(fmt::format("top '{}' no longer present", iv->name)));
        return call_flat(std::forward<F>(f), *zone);
    });
}

PyResult<std::string> name(PyObject* self) {
    return with_zone(self, [](const vz::Zone& z) { return z.name; });
}

PyResult<double> top_md(PyObject* self) {
    return with_zone(self, [](const vz::Zone& z) { return z.top_md; });
}

PyResult<double> base_md(PyObject* self) {
    return with_zone(self, [](const vz::Zone& z) { return z.base_md; });
}

PyResult<double> thickness_md(PyObject* self, const Args&) {
    return with_zone(self, [](const vz::Zone& z) { return z.base_md - z.top_md; });
}

PyResult<Ref> log(PyObject* self, const Args& a) {
    VZ_ASSIGN_OR_RETURN(std::string mnemonic, a.get<std::string>("mnemonic"));
    VZ_ASSIGN_OR_RETURN(bool found, with_zone(self, [&](const vz::Zone& z) { return z.log(mnemonic).has_value(); }));
    if (!found) return Ref::none();
    VZ_ASSIGN_OR_RETURN(auto iv, borrow<IntervalPayload>(self));
    return new_log_view(LogViewPayload{std::move(mnemonic), iv->name, std::nullopt, iv->well});
}

PyResult<std::string> repr(PyObject* self) {
    using Row = std::tuple<std::string, double, double>;
    VZ_ASSIGN_OR_RETURN(Row zone, with_zone(self, [](const vz::Zone& z) { return Row(z.name, z.top_md, z.base_md); }));
    VZ_ASSIGN_OR_RETURN(std::string name, escape_literal(std::get<0>(zone)));
    return fmt::format("Interval(name={}, top_md={}, base_md={})", name, num(std::get<1>(zone)),
                       num(std::get<2>(zone)));
}

/// An attribute that no member answers: the statistics of that log within
/// the zone.
PyResult<Ref> log_attribute(PyObject* self, std::string_view attr) {
    if (attr.starts_with('_')) return raise(PyErr::attribute_error(std::string(attr)));
    VZ_ASSIGN_OR_RETURN(std::optional<vz::Stats> stats,
                        with_zone(self, [&](const vz::Zone& z) -> std::optional<vz::Stats> {
                            const auto view = z.log(attr);
                            if (!view) return std::nullopt;
                            return view->stats();
                        }));
    if (!stats)
        return raise(PyErr::attribute_error(fmt::format("'Interval' object has no attribute or log '{}'", attr)));
    return new_stats(std::move(*stats));
}

ClassDef define() {
    ClassDef def = ClassDef::of<IntervalPayload>("Interval", kDoc);
    def.getter<&name>("name")
        .getter<&top_md>("top_md")
        .getter<&base_md>("base_md")
        .method<&thickness_md>(
            "thickness_md($self)\n--\n\nThe interval thickness in measured depth (`base_md - top_md`).")
        .method<&log>("log($self, mnemonic)\n--\n\nThe log `mnemonic` clipped to this interval, or `None`.")
        .repr<&repr>()
        .getattr_fallback<&log_attribute>();
    return def;
}

}  // namespace

PyResult<PyTypeObject*> interval_type() {
    static TypeCell cell;
    return cell.get(define);
}

PyResult<Ref> new_interval(std::string name, Ref well) {
    VZ_ASSIGN_OR_RETURN(PyTypeObject * type, interval_type());
    return create_instance(type, IntervalPayload{std::move(name), std::move(well)});
}

}  // namespace vz::py
