// The class object of this family; its methods are added by the files that build its behaviour.

#include "well.hpp"

#include <optional>
#include <string>
#include <vector>

namespace vz::py {

PyResult<PyTypeObject*> log_view_type();
PyResult<Ref> new_log_view(LogViewPayload payload);

namespace {

constexpr const char* kDoc =
    "A view onto a well log: the full curve, an interval clip, and/or a named\n"
    "bore.";

ClassDef define() { return ClassDef::of<LogViewPayload>("LogView", kDoc); }

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
