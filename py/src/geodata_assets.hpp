#pragma once
/// Model sections and assets of `GeoData`: opaque payloads the project keeps
/// and returns byte for byte.

#include "frame/frame.hpp"

namespace vz::py {

/// Adds the model-section and asset methods to the class.
void add_geodata_assets(ClassDef& def);

}  // namespace vz::py
