#pragma once
/// File writers of the regular `Surface`. Only the lattice and the primary
/// values go out; attribute lanes, metadata and history are not written.

#include <filesystem>

#include "core/surface.hpp"
#include "foundation/result.hpp"

namespace vz::surface_save {

/// Writes the surface's `GridGeometry` and primary values as an IRAP classic
/// ASCII grid to `path` (created or replaced; NaN nodes written as 9999900),
/// through `irap::write_classic`. The surface is unchanged. GeometryMismatch
/// "save_irap_classic: values shape [c, r] != grid (ncol={}, nrow={})" when
/// the values do not match the lattice (no file is touched then); `Io` when
/// the file cannot be created or written.
Result<void> save_irap_classic(const Surface& surface, const std::filesystem::path& path);

}  // namespace vz::surface_save
