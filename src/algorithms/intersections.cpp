#include "algorithms/intersections.hpp"

#include <fmt/format.h>

#include <algorithm>
#include <cmath>
#include <limits>

#include "core/geometry/spatial_index.hpp"
#include "core/trajectory.hpp"
#include "core/well.hpp"
#include "foundation/format.hpp"

namespace vz {

namespace intersections {
namespace {

constexpr double kInf = std::numeric_limits<double>::infinity();
// 2^-52: a Gram determinant at or below this (absolute) marks a triangle too
// thin to hold any point.
constexpr double kDenFloor = 2.220446049250313e-16;
constexpr unsigned kMaxSplitDepth = 23;
constexpr int kBisections = 48;
constexpr int kTernarySteps = 36;

inline Point3 sub(const Point3& a, const Point3& b) { return {a[0] - b[0], a[1] - b[1], a[2] - b[2]}; }
inline double dot(const Point3& a, const Point3& b) { return a[0] * b[0] + a[1] * b[1] + a[2] * b[2]; }
inline Point3 cross(const Point3& a, const Point3& b) {
    return {a[1] * b[2] - a[2] * b[1], a[2] * b[0] - a[0] * b[2], a[0] * b[1] - a[1] * b[0]};
}
inline double norm(const Point3& a) { return std::sqrt(dot(a, a)); }
inline double distance(const Point3& a, const Point3& b) { return norm(sub(a, b)); }

/// The plane of one triangle, prepared once per candidate.
struct Plane {
    Point3 a;
    Point3 n;
    double n2;
    double n_len;

    Plane(const Point3& pa, const Point3& pb, const Point3& pc) : a(pa) {
        n = cross(sub(pb, pa), sub(pc, pa));
        n2 = dot(n, n);
        n_len = std::sqrt(n2);
    }
    /// Signed distance of p from the plane; +inf for a triangle without area.
    double dist(const Point3& p) const { return n2 == 0.0 ? kInf : dot(n, sub(p, a)) / n_len; }
};

/// Sign as +1 / -1 from the sign bit; 0 stands for "undefined" (NaN).
inline int sign_of(double v) {
    if (std::isnan(v)) return 0;
    return std::signbit(v) ? -1 : 1;
}

double edge_slack(const Point3& e1, const Point3& e2, double tolerance) {
    return tolerance / std::max({1.0, norm(e1), norm(e2)});
}

/// The trajectory as a position function (elevation positive up).
struct TrajectoryPositions {
    const Trajectory& trajectory;
    std::optional<Point3> operator()(double md) const { return trajectory.xyz(md); }
};

/// Midpoint subdivision; hands every leaf to `emit` in md order. Stops, and
/// returns false, as soon as `emit` returns false.
template <class Positions, class Emit>
bool subdivide(double md0, const Point3& p0, double md1, const Point3& p1, unsigned depth, double step,
               double tolerance, const Positions& positions, Emit& emit) {
    const double mid = (md0 + md1) * 0.5;
    const auto pm = positions(mid);
    if (!pm) return emit(TrajectorySegment{md0, p0, md1, p1});
    const Point3 chord_mid{p0[0] + (p1[0] - p0[0]) * 0.5, p0[1] + (p1[1] - p0[1]) * 0.5,
                           p0[2] + (p1[2] - p0[2]) * 0.5};
    const bool split = md1 - md0 > 0.25 * tolerance && depth <= kMaxSplitDepth &&
                       (distance(p0, p1) > 0.25 * step || distance(*pm, chord_mid) > 0.25 * tolerance);
    if (!split) return emit(TrajectorySegment{md0, p0, md1, p1});
    return subdivide(md0, p0, mid, *pm, depth + 1, step, tolerance, positions, emit) &&
           subdivide(mid, *pm, md1, p1, depth + 1, step, tolerance, positions, emit);
}

/// Ternary search for the md of the closest approach to the triangle's plane
/// inside [lo, hi]; `fallback` when the result has no position.
template <class Positions>
double refine(double fallback, double lo, double hi, const Plane& plane, const Positions& positions) {
    if (plane.n2 != 0.0) {
        for (int k = 0; k < kTernarySteps; ++k) {
            const double third = (hi - lo) / 3.0;
            const auto q1 = positions(lo + third);
            const auto q2 = positions(hi - third);
            const double d1 = q1 ? std::abs(plane.dist(*q1)) : kInf;
            const double d2 = q2 ? std::abs(plane.dist(*q2)) : kInf;
            if (d1 <= d2) {
                hi = hi - third;
            } else {
                lo = lo + third;
            }
        }
    } else {
        for (int k = 0; k < kTernarySteps; ++k) hi = hi - (hi - lo) / 3.0;
    }
    const double md = (lo + hi) * 0.5;
    return positions(md) ? md : fallback;
}

/// Bisection on a leaf whose ends are not on one side of the plane.
template <class Positions>
double bisect(double lo, double hi, double d_lo, double threshold, const Plane& plane, const Positions& positions) {
    for (int k = 0; k < kBisections; ++k) {
        const double mid = (lo + hi) * 0.5;
        const auto pm = positions(mid);
        if (!pm) return mid;
        if (hi - lo <= threshold) return mid;
        const double dm = plane.dist(*pm);
        if (std::abs(dm) <= threshold) return mid;
        const int sm = sign_of(dm);
        const int sl = sign_of(d_lo);
        if (sm != 0 && sl != 0 && sm == sl) {
            lo = mid;
            d_lo = dm;
        } else {
            hi = mid;
        }
    }
    return (lo + hi) * 0.5;
}

geometry::Box3 to_index_box(const Box3& b) { return geometry::Box3{b.min, b.max}; }

bool valid_tolerance(double tolerance) { return std::isfinite(tolerance) && tolerance > 0.0; }

Error tolerance_error() { return Error::out_of_range("intersection tolerance must be finite and positive"); }

/// Usable triangles: indices in range and all nine coordinates finite, in
/// list order.
std::vector<std::size_t> usable_triangles(std::span<const Point3> vertices, std::span<const TriangleIndices> triangles) {
    std::vector<std::size_t> usable;
    const std::size_t nv = vertices.size();
    for (std::size_t k = 0; k < triangles.size(); ++k) {
        const auto& t = triangles[k];
        if (t[0] >= nv || t[1] >= nv || t[2] >= nv) continue;
        bool finite = true;
        for (const auto idx : t)
            for (const double c : vertices[idx]) finite = finite && std::isfinite(c);
        if (finite) usable.push_back(k);
    }
    return usable;
}

/// The mesh side of one search: triangles are found through `index`, whose
/// entry k is triangle `entries[k]`; `entries` ascends, so the candidates of
/// every leaf are met in triangle-list order whichever subset is indexed.
struct IndexedMesh {
    std::span<const Point3> vertices;
    std::span<const TriangleIndices> triangles;
    std::span<const std::size_t> entries;
    const geometry::BoxIndex3& index;
    double step;
    double tolerance;
};

/// Subdivides the trajectory station interval by station interval, meets
/// every leaf with its candidate triangles, then sorts the crossings by md
/// and merges near-duplicates.
template <class Positions>
Result<std::vector<Crossing>> search_leaves(std::span<const double> mds, const Positions& positions,
                                            const IndexedMesh& mesh) {
    const auto vertices = mesh.vertices;
    const auto triangles = mesh.triangles;
    const auto indexed = mesh.entries;
    const auto& index = mesh.index;
    const double step = mesh.step;
    const double tolerance = mesh.tolerance;
    std::vector<Crossing> crossings;

    // Leaves are searched as the subdivision emits them, station interval
    // by station interval in md order: the same order as a full list of
    // leaves, without holding one.
    const double threshold = 0.1 * tolerance;
    std::vector<std::size_t> hits;
    std::optional<Error> failure;
    auto visit = [&](const TrajectorySegment& leaf) -> bool {
        index.query(to_index_box(segment_envelope(leaf.p0, leaf.p1, tolerance)), hits);
        for (const auto entry : hits) {
            const auto& tri = triangles[indexed[entry]];
            const Point3& a = vertices[tri[0]];
            const Point3& b = vertices[tri[1]];
            const Point3& c = vertices[tri[2]];
            if (segment_coplanar_with_triangle(leaf.p0, leaf.p1, a, b, c, tolerance)) {
                failure = Error::unsupported(fmt::format(
                    "trajectory interval {}..{} is coplanar with the surface; intersection is not a discrete pick",
                    fixed(leaf.md0, 6), fixed(leaf.md1, 6)));
                return false;
            }
            const Plane plane(a, b, c);
            const auto [hit, t] = segment_triangle_crossing(leaf.p0, leaf.p1, a, b, c, tolerance);
            if (hit) {
                const double d0 = plane.dist(leaf.p0);
                const double d1 = plane.dist(leaf.p1);
                const int s0 = sign_of(d0);
                const int s1 = sign_of(d1);
                const bool same_side = s0 != 0 && s0 == s1;
                double md;
                if (same_side) {
                    md = refine(leaf.md0 + t * (leaf.md1 - leaf.md0), leaf.md0, leaf.md1, plane, positions);
                    // A leaf wholly on one side of the plane is hit only
                    // through the parameter slack of the segment test: its
                    // line meets the plane just beyond the leaf, possibly far
                    // from the surface. Keep the closest approach only when
                    // it lies within the tolerance of the plane; failing
                    // that, a leaf end within the tolerance (a hole that ends
                    // on the surface) is the crossing.
                    const auto q = positions(md);
                    if (!q || !(std::abs(plane.dist(*q)) <= tolerance)) {
                        if (std::abs(d1) <= tolerance && !(std::abs(d0) < std::abs(d1))) {
                            md = leaf.md1;
                        } else if (std::abs(d0) <= tolerance) {
                            md = leaf.md0;
                        } else {
                            continue;
                        }
                    }
                } else {
                    md = bisect(leaf.md0, leaf.md1, d0, threshold, plane, positions);
                }
                const auto p = positions(md);
                if (!p || !point_in_triangle(*p, a, b, c, tolerance)) continue;
                crossings.push_back({md, (*p)[0], (*p)[1], (*p)[2]});
                continue;
            }
            // Sampling fallback: a leaf grazing the plane inside the
            // triangle without piercing it.
            if (plane.n2 == 0.0) continue;
            std::array<double, 5> sample_md{};
            std::array<Point3, 5> sample_p{};
            bool all_positioned = true;
            for (int k = 0; k < 5; ++k) {
                sample_md[k] = leaf.md0 + k * 0.25 * (leaf.md1 - leaf.md0);
                const auto p = positions(sample_md[k]);
                if (!p) {
                    all_positioned = false;
                    break;
                }
                sample_p[k] = *p;
            }
            if (!all_positioned) continue;
            int best = -1;
            double best_d = kInf;
            for (int k = 0; k < 5; ++k) {
                if (!point_in_triangle(sample_p[k], a, b, c, tolerance)) continue;
                const double d = std::abs(plane.dist(sample_p[k]));
                if (best < 0 || d < best_d) {
                    best = k;
                    best_d = d;
                }
            }
            if (best < 0 || !(best_d <= tolerance)) continue;
            const double md = refine(sample_md[best], leaf.md0, leaf.md1, plane, positions);
            const auto p = positions(md);
            if (p && std::abs(plane.dist(*p)) <= tolerance && point_in_triangle(*p, a, b, c, tolerance))
                crossings.push_back({md, (*p)[0], (*p)[1], (*p)[2]});
        }
        return true;
    };
    for (std::size_t i = 0; i + 1 < mds.size(); ++i) {
        const auto p0 = positions(mds[i]);
        const auto p1 = positions(mds[i + 1]);
        if (!p0 || !p1) continue;
        if (!subdivide(mds[i], *p0, mds[i + 1], *p1, 0u, step, tolerance, positions, visit))
            return fail(std::move(*failure));
    }

    std::stable_sort(crossings.begin(), crossings.end(),
                     [](const Crossing& l, const Crossing& r) { return total_less(l.md, r.md); });
    const double md_gap = 4.0 * std::max(std::sqrt(tolerance), tolerance);
    const double xyz_gap = 4.0 * tolerance;
    std::vector<Crossing> kept;
    kept.reserve(crossings.size());
    for (const auto& c : crossings) {
        if (!kept.empty()) {
            const Crossing& r = kept.back();
            if (std::abs(c.md - r.md) <= md_gap && distance({c.x, c.y, c.z}, {r.x, r.y, r.z}) <= xyz_gap) continue;
        }
        kept.push_back(c);
    }
    return kept;
}

/// One search from scratch. Only triangles whose padded box meets the padded
/// box of the whole subdivided trajectory can be met by any leaf query: a
/// first, cheap pass over the leaves bounds the trajectory, and the index
/// holds just those triangles, so a single search does not pay for indexing
/// the whole mesh. Any leaf box lies inside that bound, so each leaf meets
/// exactly the triangles it would meet in an index of all of them.
template <class Positions>
Result<std::vector<Crossing>> search(std::span<const double> mds, const Positions& positions,
                                     std::span<const Point3> vertices, std::span<const TriangleIndices> triangles,
                                     double tolerance) {
    if (!valid_tolerance(tolerance)) return fail(tolerance_error());
    if (mds.size() < 2) return std::vector<Crossing>{};
    const std::vector<std::size_t> candidates = usable_triangles(vertices, triangles);
    if (candidates.empty()) return std::vector<Crossing>{};

    const double step = std::max(median_edge_length(vertices, triangles, candidates), 8.0 * tolerance);

    Box3 reach{{kInf, kInf, kInf}, {-kInf, -kInf, -kInf}};
    auto extend = [&reach, tolerance](const TrajectorySegment& leaf) {
        const Box3 b = segment_envelope(leaf.p0, leaf.p1, tolerance);
        for (int k = 0; k < 3; ++k) {
            reach.min[k] = std::min(reach.min[k], b.min[k]);
            reach.max[k] = std::max(reach.max[k], b.max[k]);
        }
        return true;
    };
    for (std::size_t i = 0; i + 1 < mds.size(); ++i) {
        const auto p0 = positions(mds[i]);
        const auto p1 = positions(mds[i + 1]);
        if (p0 && p1) subdivide(mds[i], *p0, mds[i + 1], *p1, 0u, step, tolerance, positions, extend);
    }
    std::vector<std::size_t> indexed;
    std::vector<geometry::Box3> boxes;
    for (const auto k : candidates) {
        const auto& t = triangles[k];
        const Box3 b = triangle_envelope(vertices[t[0]], vertices[t[1]], vertices[t[2]], tolerance);
        if (b.min[0] <= reach.max[0] && reach.min[0] <= b.max[0] && b.min[1] <= reach.max[1] &&
            reach.min[1] <= b.max[1] && b.min[2] <= reach.max[2] && reach.min[2] <= b.max[2]) {
            indexed.push_back(k);
            boxes.push_back(to_index_box(b));
        }
    }
    const auto index = geometry::BoxIndex3::bulk_load(boxes);
    boxes = {};
    return search_leaves(mds, positions, IndexedMesh{vertices, triangles, indexed, index, step, tolerance});
}

}  // namespace

bool point_in_triangle(const Point3& p, const Point3& a, const Point3& b, const Point3& c, double tolerance) {
    const Point3 e1 = sub(b, a);
    const Point3 e2 = sub(c, a);
    const double d11 = dot(e1, e1);
    const double d12 = dot(e1, e2);
    const double d22 = dot(e2, e2);
    const double den = d11 * d22 - d12 * d12;
    if (!(std::abs(den) > kDenFloor)) return false;
    const Point3 w = sub(p, a);
    const double e1w = dot(e1, w);
    const double e2w = dot(e2, w);
    const double u = (d22 * e1w - d12 * e2w) / den;
    const double v = (d11 * e2w - d12 * e1w) / den;
    const double s = edge_slack(e1, e2, tolerance);
    return u >= -s && v >= -s && 1.0 - u - v >= -s;
}

std::pair<bool, double> segment_triangle_crossing(const Point3& p0, const Point3& p1, const Point3& a, const Point3& b,
                                                  const Point3& c, double tolerance) {
    const Point3 e1 = sub(b, a);
    const Point3 e2 = sub(c, a);
    const Point3 d = sub(p1, p0);
    const Point3 pv = cross(d, e2);
    const double det = dot(e1, pv);
    if (!(std::abs(det) > tolerance * std::max({1.0, norm(e1), norm(e2)}))) return {false, 0.0};
    const Point3 tv = sub(p0, a);
    const double u = dot(tv, pv) / det;
    if (!(u >= -tolerance && u <= 1.0 + tolerance)) return {false, 0.0};
    const Point3 q = cross(tv, e1);
    const double v = dot(d, q) / det;
    if (!(v >= -tolerance && u + v <= 1.0 + tolerance)) return {false, 0.0};
    const double t = dot(e2, q) / det;
    if (!(t >= -tolerance && t <= 1.0 + tolerance)) return {false, 0.0};
    return {true, std::clamp(t, 0.0, 1.0)};
}

bool segment_coplanar_with_triangle(const Point3& p0, const Point3& p1, const Point3& a, const Point3& b,
                                    const Point3& c, double tolerance) {
    const Plane plane(a, b, c);
    if (plane.n2 == 0.0) return false;
    const Point3 mid{(p0[0] + p1[0]) * 0.5, (p0[1] + p1[1]) * 0.5, (p0[2] + p1[2]) * 0.5};
    for (const Point3* p : {&p0, &mid, &p1})
        if (!(std::abs(plane.dist(*p)) <= tolerance)) return false;
    const Point3 e1 = sub(b, a);
    const Point3 e2 = sub(c, a);
    const double d12 = dot(e1, e2);
    const double den = dot(e1, e1) * dot(e2, e2) - d12 * d12;
    if (!(std::abs(den) > kDenFloor)) return false;
    const bool touches = point_in_triangle(p0, a, b, c, tolerance) || point_in_triangle(mid, a, b, c, tolerance) ||
                         point_in_triangle(p1, a, b, c, tolerance);
    return touches && distance(p0, p1) > tolerance;
}

Box3 segment_envelope(const Point3& p0, const Point3& p1, double tolerance) {
    Box3 box;
    for (int k = 0; k < 3; ++k) {
        box.min[k] = std::min(p0[k], p1[k]) - tolerance;
        box.max[k] = std::max(p0[k], p1[k]) + tolerance;
    }
    return box;
}

Box3 triangle_envelope(const Point3& a, const Point3& b, const Point3& c, double tolerance) {
    Box3 box;
    for (int k = 0; k < 3; ++k) {
        box.min[k] = std::min({a[k], b[k], c[k]}) - tolerance;
        box.max[k] = std::max({a[k], b[k], c[k]}) + tolerance;
    }
    return box;
}

double median_edge_length(std::span<const Point3> vertices, std::span<const TriangleIndices> triangles,
                          std::span<const std::size_t> candidates) {
    std::vector<double> lengths;
    lengths.reserve(candidates.size() * 3);
    for (const auto k : candidates) {
        const auto& t = triangles[k];
        const Point3& a = vertices[t[0]];
        const Point3& b = vertices[t[1]];
        const Point3& c = vertices[t[2]];
        // Squared lengths: a length is positive and finite exactly when its
        // square is, and the square root keeps their order, so the root of
        // the middle square is the middle length, without a root per edge.
        const Point3 ab = sub(a, b);
        const Point3 bc = sub(b, c);
        const Point3 ca = sub(c, a);
        for (const double len2 : {dot(ab, ab), dot(bc, bc), dot(ca, ca)})
            if (len2 > 0.0 && std::isfinite(len2)) lengths.push_back(len2);
    }
    if (lengths.empty()) return 1.0;
    const auto middle = lengths.begin() + static_cast<std::ptrdiff_t>(lengths.size() / 2);
    std::nth_element(lengths.begin(), middle, lengths.end());
    return std::sqrt(*middle);
}

void subdivide_md_interval(double md0, const Point3& p0, double md1, const Point3& p1, unsigned depth, double step,
                           double tolerance, const Trajectory& trajectory, std::vector<TrajectorySegment>& leaves) {
    auto append = [&leaves](const TrajectorySegment& leaf) {
        leaves.push_back(leaf);
        return true;
    };
    subdivide(md0, p0, md1, p1, depth, step, tolerance, TrajectoryPositions{trajectory}, append);
}

double refine_crossing_md(double fallback, double lo, double hi, const Point3& a, const Point3& b, const Point3& c,
                          const Trajectory& trajectory) {
    return refine(fallback, lo, hi, Plane(a, b, c), TrajectoryPositions{trajectory});
}

Result<std::vector<Crossing>> intersect_trajectory_with_mesh(std::span<const double> mds, const Trajectory& trajectory,
                                                             std::span<const Point3> vertices,
                                                             std::span<const TriangleIndices> triangles,
                                                             double tolerance) {
    return search(mds, TrajectoryPositions{trajectory}, vertices, triangles, tolerance);
}

Result<PreparedMesh> PreparedMesh::prepare(std::span<const Point3> vertices, std::span<const TriangleIndices> triangles,
                                           double tolerance) {
    if (!valid_tolerance(tolerance)) return fail(tolerance_error());
    PreparedMesh mesh;
    mesh.vertices_ = vertices;
    mesh.triangles_ = triangles;
    mesh.tolerance_ = tolerance;
    mesh.usable_ = usable_triangles(vertices, triangles);
    mesh.step_ = std::max(median_edge_length(vertices, triangles, mesh.usable_), 8.0 * tolerance);
    std::vector<geometry::Box3> boxes;
    boxes.reserve(mesh.usable_.size());
    for (const auto k : mesh.usable_) {
        const auto& t = triangles[k];
        boxes.push_back(to_index_box(triangle_envelope(vertices[t[0]], vertices[t[1]], vertices[t[2]], tolerance)));
    }
    mesh.index_ = geometry::BoxIndex3::bulk_load(boxes);
    return mesh;
}

Result<std::vector<Crossing>> intersect_trajectory_with_mesh(std::span<const double> mds, const Trajectory& trajectory,
                                                             const PreparedMesh& mesh) {
    if (mds.size() < 2 || mesh.usable_.empty()) return std::vector<Crossing>{};
    return search_leaves(mds, TrajectoryPositions{trajectory},
                         IndexedMesh{mesh.vertices_, mesh.triangles_, mesh.usable_, mesh.index_, mesh.step_,
                                     mesh.tolerance_});
}

Result<std::vector<SurfaceIntersection>> intersect_trajectory_surface(const Trajectory& trajectory,
                                                                      const TriangleMeshSource& surface,
                                                                      double tolerance) {
    VZ_ASSIGN_OR_RETURN(const TriangleMesh mesh, surface.triangle_mesh());
    const std::vector<double> mds = trajectory.mds();
    VZ_ASSIGN_OR_RETURN(const std::vector<Crossing> found,
                        intersect_trajectory_with_mesh(mds, trajectory, mesh.vertices, mesh.triangles, tolerance));
    std::vector<SurfaceIntersection> out;
    out.reserve(found.size());
    for (const auto& c : found) {
        SurfaceIntersection rec;
        rec.md = c.md;
        rec.xyz = {c.x, c.y, c.z};
        out.push_back(std::move(rec));
    }
    return out;
}

Result<std::optional<SurfaceIntersection>> select_single_crossing(std::vector<SurfaceIntersection> crossings) {
    if (crossings.empty()) return std::optional<SurfaceIntersection>{};
    if (crossings.size() == 1) return std::optional<SurfaceIntersection>{std::move(crossings.front())};
    return fail(Error::unsupported(fmt::format(
        "trajectory crosses the surface {} times; call intersections(...) and select a crossing explicitly",
        crossings.size())));
}

Result<std::optional<SurfaceIntersection>> intersect_single(const Trajectory& trajectory,
                                                            const TriangleMeshSource& surface, double tolerance) {
    VZ_ASSIGN_OR_RETURN(auto crossings, intersect_trajectory_surface(trajectory, surface, tolerance));
    return select_single_crossing(std::move(crossings));
}

}  // namespace intersections
}  // namespace vz

namespace vz::intersections {

Result<std::vector<SurfaceIntersection>> bore_intersections(const Sidetrack& bore, const TriangleMeshSource& surface,
                                                            double tolerance) {
    const Trajectory* t = bore.active_trajectory();
    if (t == nullptr) return std::vector<SurfaceIntersection>{};
    VZ_ASSIGN_OR_RETURN(auto hits, intersect_trajectory_surface(*t, surface, tolerance));
    for (auto& h : hits) h = std::move(h).with_identity(std::nullopt, bore.label, std::nullopt);
    return hits;
}

Result<std::optional<SurfaceIntersection>> bore_intersection(const Sidetrack& bore,
                                                             const TriangleMeshSource& surface, double tolerance) {
    if (bore.active_trajectory() == nullptr) return std::optional<SurfaceIntersection>{};
    VZ_ASSIGN_OR_RETURN(auto hits, bore_intersections(bore, surface, tolerance));
    return select_single_crossing(std::move(hits));
}

Result<std::vector<SurfaceIntersection>> well_intersections(const Well& well, const TriangleMeshSource& surface,
                                                            double tolerance) {
    VZ_ASSIGN_OR_RETURN(const Sidetrack* bore, well.intersection_bore());
    const Trajectory* t = bore ? bore->active_trajectory() : nullptr;
    if (t == nullptr) return std::vector<SurfaceIntersection>{};
    VZ_ASSIGN_OR_RETURN(auto hits, intersect_trajectory_surface(*t, surface, tolerance));
    for (auto& h : hits) h = std::move(h).with_identity(well.name, bore->label, std::nullopt);
    return hits;
}

}  // namespace vz::intersections
