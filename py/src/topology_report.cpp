// The class object of this family; its methods are added by the files that build its behaviour.

#include "topology_report.hpp"

namespace vz::py {

namespace {

constexpr const char* kDoc =
    "What `PointSet.detect_topology(...)` learned.";

ClassDef define() { return ClassDef::of<vz::TopologyReport>("TopologyReport", kDoc); }

}  // namespace

PyResult<PyTypeObject*> topology_report_type() {
    static TypeCell cell;
    return cell.get(define);
}

PyResult<Ref> new_topology_report(vz::TopologyReport report) {
    VZ_ASSIGN_OR_RETURN(PyTypeObject * type, topology_report_type());
    return create_instance(type, std::move(report));
}

}  // namespace vz::py
