// Private module attributes (leading underscore, never in __all__) that give
// Python a way to exercise frame services no public method reaches yet:
// issuing warnings, and making the value objects that loaders and models will
// hand out.

#include "private_hooks.hpp"

#include "bbox.hpp"
#include "frame/frame.hpp"
#include "stats.hpp"

namespace vz::py {

namespace {

constexpr const char* kWarnDoc =
    "_warn(message, user=False)\n--\n\n"
    "Issue `message` as a DeprecationWarning (or a UserWarning when `user`).";

PyResult<void> warn_hook(const Args& a) {
    VZ_ASSIGN_OR_RETURN(std::string message, a.get<std::string>("message"));
    VZ_ASSIGN_OR_RETURN(bool user, a.get_or<bool>("user", false));
    return user ? warn_user(message) : warn_deprecated(message);
}

constexpr const char* kStatsDoc =
    "_stats(values)\n--\n\n"
    "The `Stats` of a sequence of numbers (NaN skipped).";

PyResult<Ref> stats_hook(const Args& a) {
    VZ_ASSIGN_OR_RETURN(std::vector<double> values, a.get<std::vector<double>>("values"));
    return new_stats(vz::Stats::from_values(values));
}

constexpr const char* kBBoxDoc =
    "_bbox(xmin, ymin, xmax, ymax)\n--\n\n"
    "A `BBox` with the four values as given.";

PyResult<Ref> bbox_hook(const Args& a) {
    VZ_ASSIGN_OR_RETURN(double xmin, a.get<double>("xmin"));
    VZ_ASSIGN_OR_RETURN(double ymin, a.get<double>("ymin"));
    VZ_ASSIGN_OR_RETURN(double xmax, a.get<double>("xmax"));
    VZ_ASSIGN_OR_RETURN(double ymax, a.get<double>("ymax"));
    return new_bbox(vz::BBox{xmin, ymin, xmax, ymax});
}

PyResult<void> set_private(PyObject* module, const char* name, PyResult<Ref> fn) {
    if (!fn) return raise(std::move(fn.error()));
    if (PyObject_SetAttrString(module, name, fn->get()) < 0) return raise_pending();
    return {};
}

}  // namespace

PyResult<void> add_private_hooks(PyObject* module) {
    VZ_TRY(set_private(module, "_warn", make_function<&warn_hook>(kWarnDoc, module)));
    VZ_TRY(set_private(module, "_stats", make_function<&stats_hook>(kStatsDoc, module)));
    VZ_TRY(set_private(module, "_bbox", make_function<&bbox_hook>(kBBoxDoc, module)));
    return {};
}

}  // namespace vz::py
