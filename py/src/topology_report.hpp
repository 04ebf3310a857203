#pragma once
/// The `TopologyReport` class: its payload and the making of its objects.

#include <optional>
#include <string>
#include <vector>

#include "core/topology.hpp"
#include "frame/frame.hpp"

namespace vz::py {

PyResult<PyTypeObject*> topology_report_type();
PyResult<Ref> new_topology_report(vz::TopologyReport report);

}  // namespace vz::py
