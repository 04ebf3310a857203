#include "io/surface_load.hpp"

#include <fmt/format.h>

#include "expected_macros.hpp"
#include "io/cps3.hpp"
#include "io/irap.hpp"
#include "io/text.hpp"

namespace vz::surface_load {

namespace {

Result<Surface> finish(Result<SurfaceData> data, std::string entry) {
    if (!data) return fail(std::move(data).error());
    VZ_ASSIGN_OR_RETURN(Surface surface, Surface::import(std::move(*data)));
    surface.history = History::make(std::move(entry));
    return surface;
}

}  // namespace

Result<Surface> load_irap_classic(const std::filesystem::path& path) {
    return finish(irap::read_classic(path),
                  fmt::format("surface.load_irap_classic(path={})", text::display_path(path)));
}

Result<Surface> load_cps3_grid(const std::filesystem::path& path) {
    return finish(cps3::read_grid(path), fmt::format("surface.load_cps3_grid(path={})", text::display_path(path)));
}

}  // namespace vz::surface_load
