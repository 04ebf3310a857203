#pragma once
/// Renames, deletions, surface replacement and element tags of `GeoData`.

#include "frame/frame.hpp"

namespace vz::py {

/// Adds the four renames, the four deletions, `replace_surface` and
/// `set_element_tags` to the class.
void add_geodata_edits(ClassDef& def);

}  // namespace vz::py
