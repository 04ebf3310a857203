#pragma once
/// Wells, well tops and stratigraphic hints of `GeoData`: `load_well`,
/// `load_well_tops`, `strat_hint`, `well_top_set`, `well_top_names` and
/// `delete_well_top`.

#include "frame/frame.hpp"

namespace vz::py {

/// Adds the well loading, well-top and strat-hint methods to the class.
void add_geodata_wells(ClassDef& def);

}  // namespace vz::py
