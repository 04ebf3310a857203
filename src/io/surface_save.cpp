#include "io/surface_save.hpp"

#include <fmt/format.h>

#include "foundation/memory.hpp"
#include "io/irap.hpp"

namespace vz::surface_save {

Result<void> save_irap_classic(const Surface& surface, const std::filesystem::path& path) {
    // The whole text is built in memory before it is written.
    return guard_memory([&] { return irap::write_classic(path, surface.geom, surface.values); },
                        [&] {
                            return memory_error(fmt::format("save_irap_classic: the text of a grid of {} × {} nodes",
                                                            surface.geom.ncol, surface.geom.nrow));
                        });
}

}  // namespace vz::surface_save
