#include "io/surface_save.hpp"

#include "io/irap.hpp"

namespace vz::surface_save {

Result<void> save_irap_classic(const Surface& surface, const std::filesystem::path& path) {
    return irap::write_classic(path, surface.geom, surface.values);
}

}  // namespace vz::surface_save
