#pragma once
/// Project files from Python: `save` (instance) and the static `open`,
/// `inspect`, `split`, `export` and `merge`.

#include "frame/frame.hpp"

namespace vz::py {

/// Adds the six project-file methods to the class.
void add_geodata_files(ClassDef& def);

}  // namespace vz::py
