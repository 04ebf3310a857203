#pragma once
/// Crossings of a well trajectory with a surface seen as a 3-D triangle mesh.
///
/// Coordinates are (x, y, z) = (easting, northing, elevation): z is the
/// negated subsea TVD, positive upwards, and a surface node's z is its primary
/// value. Measured depths, coordinates and tolerances share the project's
/// length unit.

#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <utility>
#include <vector>

#include "core/geometry/spatial_index.hpp"
#include "core/surface_intersection.hpp"
#include "foundation/result.hpp"

namespace vz {

struct Trajectory;
struct Sidetrack;
struct Well;

namespace intersections {

using Point3 = std::array<double, 3>;
using TriangleIndices = std::array<std::uint32_t, 3>;

/// One raw crossing found by the kernel: md and the trajectory position there.
struct Crossing {
    double md = 0.0;
    double x = 0.0;
    double y = 0.0;
    double z = 0.0;
};

/// One straight leaf of the trajectory subdivision, md0 < md1.
struct TrajectorySegment {
    double md0 = 0.0;
    Point3 p0{};
    double md1 = 0.0;
    Point3 p1{};
};

/// Axis-aligned 3-D box.
struct Box3 {
    Point3 min{};
    Point3 max{};
};

/// Every crossing of the trajectory with the mesh, ascending in md, with
/// near-duplicates merged. `mds` are the station depths; the trajectory is
/// only asked for positions. Errors: OutOfRange for a tolerance that is not
/// finite and positive; Unsupported when a leaf lies in a triangle's plane.
Result<std::vector<Crossing>> intersect_trajectory_with_mesh(std::span<const double> mds, const Trajectory& trajectory,
                                                             std::span<const Point3> vertices,
                                                             std::span<const TriangleIndices> triangles,
                                                             double tolerance);

/// A mesh made ready for any number of crossing searches with one tolerance:
/// its usable triangles, the subdivision step and an index of their
/// tolerance-padded boxes, all built once. It views the caller's vertices and
/// triangles, which must outlive it unchanged.
class PreparedMesh {
public:
    /// Errors: OutOfRange for a tolerance that is not finite and positive.
    static Result<PreparedMesh> prepare(std::span<const Point3> vertices, std::span<const TriangleIndices> triangles,
                                        double tolerance);

    /// The tolerance every search in this mesh uses.
    double tolerance() const { return tolerance_; }
    /// Subdivision step: max(median edge length, 8 x tolerance).
    double step() const { return step_; }
    /// Positions of the usable triangles in the triangle list, ascending.
    std::span<const std::size_t> usable() const { return usable_; }

private:
    friend Result<std::vector<Crossing>> intersect_trajectory_with_mesh(std::span<const double> mds,
                                                                        const Trajectory& trajectory,
                                                                        const PreparedMesh& mesh);
    PreparedMesh() = default;

    std::span<const Point3> vertices_;
    std::span<const TriangleIndices> triangles_;
    double tolerance_ = 0.0;
    double step_ = 0.0;
    std::vector<std::size_t> usable_;
    geometry::BoxIndex3 index_;  // entry k is triangle usable_[k]
};

/// The crossings of `intersect_trajectory_with_mesh` above for the prepared
/// mesh and its tolerance, identical to a fresh search of the same mesh.
/// Errors: Unsupported when a leaf lies in a triangle's plane.
Result<std::vector<Crossing>> intersect_trajectory_with_mesh(std::span<const double> mds, const Trajectory& trajectory,
                                                             const PreparedMesh& mesh);

/// True when p, projected onto the triangle's plane, lies inside (a, b, c)
/// with an edge slack of tolerance / max(1, |b - a|, |c - a|).
bool point_in_triangle(const Point3& p, const Point3& a, const Point3& b, const Point3& c, double tolerance);

/// Segment/triangle test with tolerance slack; (hit, t) with t in [0, 1].
std::pair<bool, double> segment_triangle_crossing(const Point3& p0, const Point3& p1, const Point3& a, const Point3& b,
                                                  const Point3& c, double tolerance);

/// True when the segment lies in the triangle's plane within the tolerance,
/// touches the triangle and is longer than the tolerance.
bool segment_coplanar_with_triangle(const Point3& p0, const Point3& p1, const Point3& a, const Point3& b,
                                    const Point3& c, double tolerance);

/// Box of the segment padded by the tolerance.
Box3 segment_envelope(const Point3& p0, const Point3& p1, double tolerance);

/// Box of the triangle padded by the tolerance.
Box3 triangle_envelope(const Point3& a, const Point3& b, const Point3& c, double tolerance);

/// Median of the positive finite edge lengths of the candidate triangles
/// (upper middle for an even count; 1 when there is none).
double median_edge_length(std::span<const Point3> vertices, std::span<const TriangleIndices> triangles,
                          std::span<const std::size_t> candidates);

/// Cuts [md0, md1] (positions p0, p1) into straight leaves by midpoint
/// subdivision and appends them to `leaves` in md order. A piece is split
/// while its md span exceeds tolerance / 4, `depth` is at most 23 and either
/// its chord exceeds step / 4 or its midpoint strays more than tolerance / 4
/// from the chord; a piece whose midpoint has no position is a leaf.
void subdivide_md_interval(double md0, const Point3& p0, double md1, const Point3& p1, unsigned depth, double step,
                           double tolerance, const Trajectory& trajectory, std::vector<TrajectorySegment>& leaves);

/// The md of the trajectory's closest approach to the plane of (a, b, c)
/// inside [lo, hi] by a 36-step ternary search (towards lo for a triangle
/// without area); `fallback` when that md has no position.
double refine_crossing_md(double fallback, double lo, double hi, const Point3& a, const Point3& b, const Point3& c,
                          const Trajectory& trajectory);

/// Crossings of a trajectory with a surface as `SurfaceIntersection` records
/// without names, ascending in md. The surface's mesh error comes first, then
/// the kernel's errors, all unchanged.
Result<std::vector<SurfaceIntersection>> intersect_trajectory_surface(const Trajectory& trajectory,
                                                                      const TriangleMeshSource& surface,
                                                                      double tolerance);

/// None for no crossing, the crossing for one; Unsupported for several.
Result<std::optional<SurfaceIntersection>> select_single_crossing(std::vector<SurfaceIntersection> crossings);

/// `intersect_trajectory_surface` followed by `select_single_crossing`.
Result<std::optional<SurfaceIntersection>> intersect_single(const Trajectory& trajectory,
                                                            const TriangleMeshSource& surface, double tolerance);

/// Crossings of the bore's active trajectory with the surface in MD order,
/// each stamped with bore = the bore's label; empty without an active
/// trajectory. The search's errors pass through unchanged.
Result<std::vector<SurfaceIntersection>> bore_intersections(const Sidetrack& bore, const TriangleMeshSource& surface,
                                                            double tolerance);

/// The bore's single crossing (absent for none or without an active
/// trajectory); `Unsupported` "trajectory crosses the surface {} times; call
/// intersections(...) and select a crossing explicitly" for several.
Result<std::optional<SurfaceIntersection>> bore_intersection(const Sidetrack& bore,
                                                             const TriangleMeshSource& surface, double tolerance);

/// Crossings of the well's intersection bore (see `Well::intersection_bore`)
/// with the surface, stamped with well = the well's name and bore = the
/// bore's label, in MD order; the bore choice's error first.
Result<std::vector<SurfaceIntersection>> well_intersections(const Well& well, const TriangleMeshSource& surface,
                                                            double tolerance);

}  // namespace intersections
}  // namespace vz
