// The `LogView` handle: one curve of a stored well, whole or clipped to a
// top's zone, on a named bore or on the well's accessor bore. Every member
// builds the view of the stored samples anew (no copy of them) and copies out
// only its answer.

#include <optional>
#include <string>
#include <utility>
#include <vector>

#include <fmt/format.h>

#include "frame/builders.hpp"
#include "frame/escape.hpp"
#include "stats.hpp"
#include "well.hpp"

namespace vz::py {

namespace {

constexpr const char* kDoc =
    "A view onto a well log: the full curve, an interval clip, and/or a named\n"
    "bore.";

/// The view the payload names on a stored well, or none when the bore, the
/// top or the curve is gone. Without a bore it follows the accessor-bore
/// rule (no multi-bore guard).
std::optional<vz::LogView> resolve(const LogViewPayload& p, const vz::Well& w) {
    if (!p.bore) {
        if (!p.top) return w.log(p.mnemonic);
        const auto zone = w.top_interval(*p.top);
        return zone ? zone->log(p.mnemonic) : std::nullopt;
    }
    const vz::Sidetrack* bore = w.sidetrack(*p.bore);
    if (!bore) return std::nullopt;
    if (!p.top) return bore->log(p.mnemonic);
    const auto zone = bore->zone_of_top(*p.top);
    return zone ? zone->log(p.mnemonic) : std::nullopt;
}

/// Runs `f(const vz::LogView&)` under shared access to the view object, its
/// `Well` handle and the project: "no well '{}'", or "log '{}' no longer
/// present" with the view's mnemonic whichever link is missing.
template <class F>
FlatResult<std::invoke_result_t<F, const vz::LogView&>> with_view(const LogViewPayload& p, F&& f) {
    using R = FlatResult<std::invoke_result_t<F, const vz::LogView&>>;
    VZ_ASSIGN_OR_RETURN(auto well, well_handle(p.well.get()));
    return with_well(*well, [&](const vz::Well& w) -> R {
        const std::optional<vz::LogView> view = resolve(p, w);
        if (!view) return raise(PyErr::value_error(fmt::format("log '{}' no longer present", p.mnemonic)));
        return call_flat(std::forward<F>(f), *view);
    });
}

PyResult<Shared<LogViewPayload>> view_handle(PyObject* self) { return borrow<LogViewPayload>(self); }

std::vector<double> copy(std::span<const double> s) { return std::vector<double>(s.begin(), s.end()); }

PyResult<Ref> stats(PyObject* self, const Args&) {
    VZ_ASSIGN_OR_RETURN(auto p, view_handle(self));
    VZ_ASSIGN_OR_RETURN(vz::Stats s, with_view(*p, [](const vz::LogView& v) { return v.stats(); }));
    return new_stats(std::move(s));
}

PyResult<double> geomean(PyObject* self, const Args&) {
    VZ_ASSIGN_OR_RETURN(auto p, view_handle(self));
    return with_view(*p, [](const vz::LogView& v) { return v.geomean(); });
}

PyResult<std::vector<double>> values(PyObject* self, const Args&) {
    VZ_ASSIGN_OR_RETURN(auto p, view_handle(self));
    return with_view(*p, [](const vz::LogView& v) { return copy(v.values()); });
}

PyResult<std::vector<std::string>> history(PyObject* self, const Args&) {
    VZ_ASSIGN_OR_RETURN(auto p, view_handle(self));
    return with_view(*p, [](const vz::LogView& v) -> std::vector<std::string> { return v.history().entries(); });
}

PyResult<std::vector<double>> md(PyObject* self, const Args&) {
    VZ_ASSIGN_OR_RETURN(auto p, view_handle(self));
    return with_view(*p, [](const vz::LogView& v) { return copy(v.md()); });
}

PyResult<std::optional<double>> at_md(PyObject* self, const Args& a) {
    VZ_ASSIGN_OR_RETURN(auto p, view_handle(self));
    VZ_ASSIGN_OR_RETURN(double depth, a.get<double>("md"));
    return with_view(*p, [&](const vz::LogView& v) { return v.at_md(depth); });
}

PyResult<Ref> at_md_many(PyObject* self, const Args& a) {
    VZ_ASSIGN_OR_RETURN(auto p, view_handle(self));
    VZ_ASSIGN_OR_RETURN(std::vector<double> depths, a.get<std::vector<double>>("depths"));
    VZ_ASSIGN_OR_RETURN(std::vector<std::optional<double>> answers,
                        with_view(*p, [&](const vz::LogView& v) {
                            std::vector<std::optional<double>> out;
                            out.reserve(depths.size());
                            for (const double d : depths) out.push_back(v.at_md(d));
                            return out;
                        }));
    return list_map(answers, [](const std::optional<double>& v) { return to_py(v); });
}

PyResult<Ref> values_md(PyObject* self, const Args&) {
    VZ_ASSIGN_OR_RETURN(auto p, view_handle(self));
    using Arrays = std::pair<std::vector<double>, std::vector<double>>;
    VZ_ASSIGN_OR_RETURN(Arrays arrays, with_view(*p, [](const vz::LogView& v) {
                            return Arrays(copy(v.values()), copy(v.md()));
                        }));
    return py_tuple(arrays.first, arrays.second);
}

PyResult<std::size_t> length(PyObject* self) {
    VZ_ASSIGN_OR_RETURN(auto p, view_handle(self));
    return with_view(*p, [](const vz::LogView& v) { return v.size(); });
}

PyResult<std::string> repr(PyObject* self) {
    VZ_ASSIGN_OR_RETURN(auto p, view_handle(self));
    VZ_ASSIGN_OR_RETURN(std::size_t n, with_view(*p, [](const vz::LogView& v) { return v.size(); }));
    VZ_ASSIGN_OR_RETURN(std::string mnemonic, escape_literal(p->mnemonic));
    return fmt::format("LogView(mnemonic={}, n={})", mnemonic, n);
}

ClassDef define() {
    ClassDef def = ClassDef::of<LogViewPayload>("LogView", kDoc);
    def.method<&stats>("stats($self)\n--\n\nNaN-skipping summary statistics of the view's values.")
        .method<&geomean>("geomean($self)\n--\n\n"
                          "Geometric mean of the view's positive values (the natural average for\n"
                          "permeability); NaN when there are none.")
        .method<&values>("values($self)\n--\n\nThe view's values as a `list[float]`.")
        .method<&history>("history($self)\n--\n\nHuman-readable operation history for the source log/view.")
        .method<&md>("md($self)\n--\n\nThe view's measured depths as a `list[float]`.")
        .method<&at_md>("at_md($self, md)\n--\n\nLinearly interpolated value at measured depth `md`, or `None`.")
        .method<&at_md_many>("at_md_many($self, depths)\n--\n\n"
                             "`at_md` for every depth of `depths`, in order (`None` outside the view),\n"
                             "resolving the well, bore, top and log once for the whole sequence.")
        .method<&values_md>("values_md($self)\n--\n\n"
                            "The view's `(values, md)` as two lists from a single resolution, instead of\n"
                            "separate `values` and `md` calls.")
        .len<&length>()
        .repr<&repr>();
    return def;
}

}  // namespace

PyResult<PyTypeObject*> log_view_type() {
    static TypeCell cell;
    return cell.get(define);
}

PyResult<Ref> new_log_view(LogViewPayload payload) {
    VZ_ASSIGN_OR_RETURN(PyTypeObject * type, log_view_type());
    return create_instance(type, std::move(payload));
}

}  // namespace vz::py
