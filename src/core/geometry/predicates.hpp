#pragma once
/// Exact planar orientation and in-circle predicates.
///
/// Each returns a double whose SIGN is exact for any finite inputs (a fast
/// floating-point filter first, then adaptive expansion arithmetic when the
/// filter cannot decide); the magnitude is only an approximation. Inputs must
/// be finite and the products involved must neither overflow nor underflow
/// (coordinate magnitudes between about 2^-142 and 2^201, or zero, are safe).

#include <array>

namespace vz::geometry {

/// Twice the signed area of triangle (a, b, c): > 0 when a, b, c run
/// counter-clockwise, < 0 clockwise, exactly 0 when collinear.
double orient2d(double ax, double ay, double bx, double by, double cx, double cy);

/// In-circle test: > 0 when d lies strictly inside the circle through the
/// counter-clockwise triangle (a, b, c), < 0 strictly outside, exactly 0 when
/// the four points are cocircular (signs flip for a clockwise a, b, c).
double incircle(double ax, double ay, double bx, double by, double cx, double cy, double dx, double dy);

/// orient2d on (x, y) pairs.
inline double orient2d(const std::array<double, 2>& a, const std::array<double, 2>& b, const std::array<double, 2>& c) {
    return orient2d(a[0], a[1], b[0], b[1], c[0], c[1]);
}

/// incircle on (x, y) pairs.
inline double incircle(const std::array<double, 2>& a, const std::array<double, 2>& b, const std::array<double, 2>& c,
                       const std::array<double, 2>& d) {
    return incircle(a[0], a[1], b[0], b[1], c[0], c[1], d[0], d[1]);
}

namespace detail {
/// orient2d evaluated only by exact expansion arithmetic (no filter); the
/// result is the most significant component of the exact value.
double orient2d_exact(double ax, double ay, double bx, double by, double cx, double cy);
/// incircle evaluated only by exact expansion arithmetic (no filter).
double incircle_exact(double ax, double ay, double bx, double by, double cx, double cy, double dx, double dy);
}  // namespace detail

}  // namespace vz::geometry
