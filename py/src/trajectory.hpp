#pragma once
/// The `Trajectory` class: its payload and the making of its objects.

#include <optional>
#include <string>
#include <vector>

#include "core/trajectory.hpp"
#include "frame/frame.hpp"

namespace vz::py {

PyResult<PyTypeObject*> trajectory_type();
PyResult<Ref> new_trajectory(vz::Trajectory value);

}  // namespace vz::py
