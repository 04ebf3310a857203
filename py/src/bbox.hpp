#pragma once
/// The `BBox` class: a read-only axis-aligned 2-D box handed out by the
/// `bbox` methods.

#include "core/grid_geometry.hpp"
#include "frame/py_err.hpp"

namespace vz::py {

/// The class object (created on first need).
PyResult<PyTypeObject*> bbox_type();
/// A new `BBox` object with the four values as given (no check: xmin may
/// exceed xmax, values may be NaN or infinite).
PyResult<Ref> new_bbox(vz::BBox box);

}  // namespace vz::py
