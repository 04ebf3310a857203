// The class object of this family; its methods are added by the files that build its behaviour.

#include "trajectory.hpp"

namespace vz::py {

namespace {

constexpr const char* kDoc =
    "A minimum-curvature well path positioned from a wellhead + KB datum.";

ClassDef define() { return ClassDef::of<vz::Trajectory>("Trajectory", kDoc); }

}  // namespace

PyResult<PyTypeObject*> trajectory_type() {
    static TypeCell cell;
    return cell.get(define);
}

PyResult<Ref> new_trajectory(vz::Trajectory value) {
    VZ_ASSIGN_OR_RETURN(PyTypeObject * type, trajectory_type());
    return create_instance(type, std::move(value));
}

}  // namespace vz::py
