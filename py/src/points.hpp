#pragma once
/// The `PointSet` class family: the class definition in points.cpp adds the
/// methods of the other point-set files through the functions below, in the
/// order the class lists them.

#include <optional>
#include <string>

#include "frame/frame.hpp"

namespace vz::py {

/// `infer_geometry` and `to_structured_surface` (points_inference.cpp).
void add_point_set_inference(ClassDef& def);

/// `to_surface`, `to_tri_surface` and `detect_topology` (points_convert.cpp).
void add_point_set_conversions(ClassDef& def);

}  // namespace vz::py
