#pragma once
/// Planar Delaunay triangulation of points, on the exact predicates.

#include <array>
#include <cstdint>
#include <span>
#include <vector>

#include "foundation/result.hpp"

namespace vz::geometry {

/// A triangle as three input point indices, counter-clockwise.
using Triangle = std::array<std::uint32_t, 3>;

/// Delaunay triangulation of the points (xs[k], ys[k]).
///
/// Every triangle is counter-clockwise and has no input point strictly inside
/// its circumcircle; together the triangles cover the convex hull. Points that
/// repeat an earlier point exactly are used once, under their lowest index.
/// Where four or more points are cocircular (every lattice cell), the choice
/// of diagonals is fixed by the input alone: the same input always gives the
/// same triangles in the same order. Fewer than three distinct points, or all
/// points on one line, give no triangles (not an error).
///
/// Errors (nothing is triangulated): GeometryMismatch "triangulation needs as
/// many x as y coordinates ({} vs {})"; GeometryInference "triangulation
/// accepts at most 4294967295 points, got {}"; GeometryInference
/// "triangulation rejected a point: {}" with "NAN" (a NaN coordinate),
/// "TooLarge" (magnitude above 2^201, infinities included) or "TooSmall"
/// (non-zero magnitude below 2^-142), testing the points in index order, x
/// before y. The coordinate range keeps every exact predicate free of
/// overflow and underflow.
Result<std::vector<Triangle>> delaunay_triangulate(std::span<const double> xs, std::span<const double> ys);

/// As above, for (x, y) pairs.
Result<std::vector<Triangle>> delaunay_triangulate(std::span<const std::array<double, 2>> points);

}  // namespace vz::geometry
