#pragma once
/// The values a crossing search works with that the well model keeps too: a
/// surface seen as a bare triangle mesh, the interface through which the
/// search sees any surface kind, and one crossing of a trajectory with a
/// surface.
///
/// Coordinates are (x, y, z) = (easting, northing, elevation): z is the
/// negated subsea TVD, positive upwards, and a surface node's z is its primary
/// value.

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "foundation/result.hpp"

namespace vz {

/// A surface as a bare triangle mesh: vertices (x, y, primary value; NaN where
/// the node is undefined) and triangles as u32 vertex indices.
struct TriangleMesh {
    std::vector<std::array<double, 3>> vertices;
    std::vector<std::array<std::uint32_t, 3>> triangles;
};

/// The one interface through which the crossing search sees any surface kind.
class TriangleMeshSource {
public:
    virtual ~TriangleMeshSource() = default;
    /// A freshly built mesh owned by the caller, or the surface's conversion
    /// error. Never changes the surface.
    virtual Result<TriangleMesh> triangle_mesh() const = 0;

protected:
    TriangleMeshSource() = default;
    TriangleMeshSource(const TriangleMeshSource&) = default;
    TriangleMeshSource& operator=(const TriangleMeshSource&) = default;
};

/// One crossing of a trajectory with a surface: measured depth, the
/// trajectory's position there (easting, northing, elevation) and the optional
/// well, bore and surface names, in that presentation order.
struct SurfaceIntersection {
    double md = 0.0;
    std::array<double, 3> xyz{};
    std::optional<std::string> well;
    std::optional<std::string> bore;
    std::optional<std::string> surface;

    /// The same crossing with all three names replaced at once; an absent
    /// name clears its field. md and xyz are unchanged. Never fails.
    SurfaceIntersection with_identity(std::optional<std::string> well_name, std::optional<std::string> bore_name,
                                      std::optional<std::string> surface_name) &&;
    SurfaceIntersection with_identity(std::optional<std::string> well_name, std::optional<std::string> bore_name,
                                      std::optional<std::string> surface_name) const&;

    bool operator==(const SurfaceIntersection&) const = default;
};

}  // namespace vz
