#include "core/gridding.hpp"

#include <cstdint>
#include <utility>

#include "gridding/grid.hpp"

namespace vz::gridding {

Result<Grid2> grid(std::span<const std::array<double, 3>> samples, const GridGeometry& geometry,
                   GriddingMethod method) {
    auto gridded = grid(samples, geometry.lattice(), static_cast<std::uint8_t>(method));
    if (!gridded) return fail(Error(std::move(gridded.error())));
    return Grid2(static_cast<std::size_t>(gridded->ncol), static_cast<std::size_t>(gridded->nrow),
                 std::move(gridded->values));
}

}  // namespace vz::gridding
