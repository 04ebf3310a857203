// The class object of this family; its methods are added by the files that build its behaviour.

#include "well.hpp"

#include <optional>
#include <string>
#include <vector>

namespace vz::py {

PyResult<PyTypeObject*> interval_type();
PyResult<Ref> new_interval(std::string name, Ref well);

namespace {

constexpr const char* kDoc =
    "The depth interval a top names: a view resolving its `Top` on the well.";

ClassDef define() { return ClassDef::of<IntervalPayload>("Interval", kDoc); }

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
