// The `TopologyReport` class: a copy of the core report with one getter per
// field and the computed `verified` gate, printed as a one-line summary.

#include "topology_report.hpp"

#include <fmt/format.h>

#include "foundation/format.hpp"

namespace vz::py {

namespace {

constexpr const char* kDoc =
    "What `PointSet.detect_topology(...)` learned. `verified` is the gate: labels are\n"
    "returned only when it is true.";

PyResult<Shared<vz::TopologyReport>> report(PyObject* self) { return borrow<vz::TopologyReport>(self); }

PyResult<bool> verified(PyObject* self) {
    VZ_ASSIGN_OR_RETURN(auto r, report(self));
    return r->verified();
}

template <auto Field>
PyResult<std::remove_cvref_t<decltype(vz::TopologyReport{}.*Field)>> field(PyObject* self) {
    VZ_ASSIGN_OR_RETURN(auto r, report(self));
    return (*r).*Field;
}

PyResult<std::string> repr(PyObject* self) {
    VZ_ASSIGN_OR_RETURN(auto r, report(self));
    return fmt::format(
        "TopologyReport(verified={}, blocks={} (largest {}), assigned={}/{}, cell=({}, {}), azimuth={}, "
        "conflicts={}, stalled_frontier={}, coincident_dropped={}, coincident_ambiguous={})",
        r->verified() ? "true" : "false", r->blocks, r->largest_block, r->assigned, r->distinct_nodes,
        fixed(r->detected_cell_i, 3), fixed(r->detected_cell_j, 3), fixed(r->detected_azimuth_deg, 3), r->conflicts,
        r->stalled_frontier, r->coincident_dropped, r->coincident_ambiguous);
}

using R = vz::TopologyReport;

ClassDef define() {
    return ClassDef::of<vz::TopologyReport>("TopologyReport", kDoc)
        .getter<&verified>("verified",
                           "Every distinct node labelled, no index claimed twice, no unresolvable coincidence.")
        .getter<&field<&R::detected_cell_i>>("detected_cell_i",
                                             "Detected step along the column axis (the cell need not be square).")
        .getter<&field<&R::detected_cell_j>>("detected_cell_j", "Detected step along the row axis.")
        .getter<&field<&R::detected_azimuth_deg>>("detected_azimuth_deg",
                                                  "Detected grid azimuth in degrees, modulo 90.")
        .getter<&field<&R::distinct_nodes>>("distinct_nodes",
                                            "Distinct nodes considered, after dropping exactly-coincident duplicates.")
        .getter<&field<&R::assigned>>("assigned", "Nodes the walk reached and labelled.")
        .getter<&field<&R::conflicts>>("conflicts", "Times two points claimed the same `(column, row)`.")
        .getter<&field<&R::coincident_dropped>>("coincident_dropped",
                                                "Coincident points dropped: same XY *and* same z, so harmless.")
        .getter<&field<&R::coincident_ambiguous>>(
            "coincident_ambiguous", "Coincident points with differing z: two nodes at one place, unresolvable.")
        .getter<&field<&R::stalled_frontier>>("stalled_frontier",
                                              "Adjacencies the walk could not resolve \xe2\x80\x94 the fault traces.")
        .getter<&field<&R::blocks>>("blocks", "Fault blocks found; one means an uninterrupted grid.")
        .getter<&field<&R::largest_block>>("largest_block", "Nodes in the biggest block.")
        .repr<&repr>();
}

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
