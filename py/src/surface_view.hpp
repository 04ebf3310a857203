#pragma once
/// The value-layer dictionary (`{"kind": "trimesh", "name", "nodes",
/// "triangles", "values", "range"}`) that every surface class's
/// `value_layer` returns.

#include "core/value_layer.hpp"
#include "frame/frame.hpp"

namespace vz::py {

/// The layer as a new dict: nodes as [x, y] lists, triangles as [a, b, c]
/// lists, one value per node, range [min, max] ([nan, nan] without a finite
/// value). A core error becomes the ValueError of its display text.
PyResult<Ref> value_layer_to_py(Result<vz::ValueLayer> layer);

}  // namespace vz::py
