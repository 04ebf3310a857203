#include "core/surface_intersection.hpp"

#include <utility>

namespace vz {

SurfaceIntersection SurfaceIntersection::with_identity(std::optional<std::string> well_name,
                                                       std::optional<std::string> bore_name,
                                                       std::optional<std::string> surface_name) && {
    well = std::move(well_name);
    bore = std::move(bore_name);
    surface = std::move(surface_name);
    return std::move(*this);
}

SurfaceIntersection SurfaceIntersection::with_identity(std::optional<std::string> well_name,
                                                       std::optional<std::string> bore_name,
                                                       std::optional<std::string> surface_name) const& {
    SurfaceIntersection copy = *this;
    return std::move(copy).with_identity(std::move(well_name), std::move(bore_name), std::move(surface_name));
}

}  // namespace vz
