#include "io/surface_load.hpp"

#include <fmt/format.h>

#include "expected_macros.hpp"
#include "foundation/memory.hpp"
#include "io/cps3.hpp"
#include "io/irap.hpp"
#include "io/text.hpp"

namespace vz::surface_load {

namespace {

// The reader and the import run through one guard: memory exhaustion in
// them is an error naming the loader and file.
template <class Read>
Result<Surface> finish(Read&& read, std::string entry) {
    return guard_memory(
        [&]() -> Result<Surface> {
            VZ_ASSIGN_OR_RETURN(SurfaceData data, read());
            VZ_ASSIGN_OR_RETURN(Surface surface, Surface::import(std::move(data)));
            surface.history = History::make(entry);
            return surface;
        },
        [&] { return memory_error(entry); });
}

}  // namespace

Result<Surface> load_irap_classic(const std::filesystem::path& path) {
    return finish([&] { return irap::read_classic(path); },
                  fmt::format("surface.load_irap_classic(path={})", text::display_path(path)));
}

Result<Surface> load_cps3_grid(const std::filesystem::path& path) {
    return finish([&] { return cps3::read_grid(path); },
                  fmt::format("surface.load_cps3_grid(path={})", text::display_path(path)));
}

}  // namespace vz::surface_load
