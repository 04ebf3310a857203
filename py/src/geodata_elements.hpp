#pragma once
/// The element lookups and listings of `GeoData`: `well`, `surface`,
/// `points`, `polygons`, `surfaces` and the `wells` property.

#include "frame/frame.hpp"

namespace vz::py {

/// Adds the lookups, `surfaces` and the `wells` property to the class.
void add_geodata_elements(ClassDef& def);

}  // namespace vz::py
