#pragma once
/// The `TopologyReport` class: what a point set's topology detection learned,
/// as an immutable value made only by `PointSet.detect_topology`.

#include "core/topology.hpp"
#include "frame/frame.hpp"

namespace vz::py {

PyResult<PyTypeObject*> topology_report_type();
/// A new `TopologyReport` holding a copy of `report`.
PyResult<Ref> new_topology_report(vz::TopologyReport report);

}  // namespace vz::py
