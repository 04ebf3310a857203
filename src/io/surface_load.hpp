#pragma once
/// File loaders of the regular `Surface`: one grid reader each, the result
/// taken over with `Surface::import` and its history replaced by one entry
/// that names the loader and the path as the caller gave it. Shared by the
/// project's surface loader and the Python surface class.

#include <filesystem>

#include "core/surface.hpp"
#include "foundation/result.hpp"

namespace vz::surface_load {

/// An IRAP classic ASCII grid (`irap::read_classic`); history
/// ["surface.load_irap_classic(path={})"]. The reader's errors (`Io`,
/// `Parse`) are returned unchanged.
Result<Surface> load_irap_classic(const std::filesystem::path& path);

/// A CPS-3 ASCII grid (`cps3::read_grid`); history
/// ["surface.load_cps3_grid(path={})"]. The reader's errors are returned
/// unchanged.
Result<Surface> load_cps3_grid(const std::filesystem::path& path);

}  // namespace vz::surface_load
