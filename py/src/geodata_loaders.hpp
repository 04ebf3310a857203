#pragma once
/// The file loaders of `GeoData`: `load_surface`, `load_structured_surface`,
/// `load_points`, `load_points_with_topology` and `load_polygons`.

#include "frame/frame.hpp"

namespace vz::py {

/// Adds the five file loaders to the class.
void add_geodata_loaders(ClassDef& def);

}  // namespace vz::py
