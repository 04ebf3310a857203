// The class object of this family; its methods are added by the files that build its behaviour.

#include "well.hpp"

#include <optional>
#include <string>
#include <vector>

namespace vz::py {

PyResult<PyTypeObject*> sidetrack_type();
PyResult<Ref> new_sidetrack(std::string label, Ref well);

namespace {

constexpr const char* kDoc =
    "A bore (sidetrack): a view resolving `well.sidetrack(label)`.";

ClassDef define() { return ClassDef::of<SidetrackPayload>("Sidetrack", kDoc); }

}  // namespace

PyResult<PyTypeObject*> sidetrack_type() {
    static TypeCell cell;
    return cell.get(define);
}

PyResult<Ref> new_sidetrack(std::string label, Ref well) {
    VZ_ASSIGN_OR_RETURN(PyTypeObject * type, sidetrack_type());
    return create_instance(type, SidetrackPayload{std::move(label), std::move(well)});
}

}  // namespace vz::py
