#pragma once
/// Triangulation of scattered points sampled on a (possibly rotated and
/// fault-cut) lattice into a triangulated surface that follows the lattice and
/// never bridges a fault.
///
/// Topology detection finds the lattice's orientation and steps, labels the
/// points by their lattice walk and lists the adjacencies the walk refused.
/// The points are expressed in cell units of that lattice and triangulated by
/// Delaunay; a triangle survives only when each of its edges is a short edge
/// between lattice neighbours the walk did not refuse (the lattice rule) or,
/// when the caller allows bridging, an edge no longer than the bridge limit
/// (the bridge rule). Groups of fewer than eight triangles cut off from a
/// larger mesh are then dropped.

#include <array>
#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <optional>
#include <span>
#include <vector>

#include "core/geometry/delaunay.hpp"
#include "core/node_label.hpp"
#include "core/points.hpp"
#include "core/topology.hpp"
#include "core/tri_surface.hpp"
#include "foundation/result.hpp"

namespace vz {

namespace tri_surface {

/// Longest edge kept by the lattice rule when none is given, in cells.
inline constexpr double kDefaultMaxLink = 1.8;

/// Smallest triangle count of a connected group that is kept when some group
/// reaches it.
inline constexpr std::size_t kMinComponentTriangles = 8;

/// Refused adjacencies keyed by (smaller point index, larger point index),
/// packed as smaller * 2^32 + larger. A flat open-addressing set: it is
/// filled once and then asked once per short edge between lattice
/// neighbours, and a scattered cloud refuses about as many pairs as it has
/// points.
class RefusedPairs {
public:
    RefusedPairs() = default;
    RefusedPairs(std::initializer_list<std::uint64_t> keys);
    /// Room for `count` keys without growing.
    void reserve(std::size_t count);
    void insert(std::uint64_t key);
    bool contains(std::uint64_t key) const;
    std::size_t size() const { return size_ + (has_empty_key_ ? 1 : 0); }

private:
    // A slot holding this value is free; the key itself is kept aside.
    static constexpr std::uint64_t kFree = ~std::uint64_t{0};
    std::size_t slot_of(std::uint64_t key) const;
    void grow(std::size_t slots);

    std::vector<std::uint64_t> slots_;
    std::size_t size_ = 0;
    int shift_ = 64;
    bool has_empty_key_ = false;
};

/// The key of the unordered pair (a, b) in `RefusedPairs`; indices below 2^32.
inline std::uint64_t pair_key(std::uint64_t a, std::uint64_t b) {
    return a < b ? (a << 32) | b : (b << 32) | a;
}

/// The refused adjacencies of a detection as a pair set (direction dropped;
/// pairs with an index at or above 2^32 cannot name a triangulated point and
/// are left out).
RefusedPairs refused_pairs(const TopologyDetection& detection);

/// Lattice neighbours: true when no point is labelled at all (`labels`
/// empty) or either point has no label (an index beyond `labels`); false for
/// labels of different blocks; within one block true exactly when the larger
/// of |di| and |dj| is 1 (diagonal neighbours included).
bool lattice_adjacent(std::span<const NodeLabel> labels, std::uint64_t a, std::uint64_t b);

/// Edge rule of a triangle (a, b, c) over cell-unit coordinates `uv`: the
/// edges (a, b), (b, c), (c, a) are tested in order, and each passes when
/// its squared length is at most `max_link2` between lattice neighbours whose
/// pair was not refused, or at most `max_bridge2` when bridging is allowed.
/// A NaN length never passes. Indices must lie below `uv.size()`.
bool keep_triangle(const geometry::Triangle& triangle, std::span<const std::array<double, 2>> uv,
                   const RefusedPairs& refused, std::span<const NodeLabel> labels, double max_link2,
                   std::optional<double> max_bridge2);

/// Drops the triangles of small connected groups (triangles joined through
/// shared corners): when some group has at least `kMinComponentTriangles`
/// triangles, only the triangles of such groups remain, in their order;
/// otherwise every triangle remains. Indices must lie below `point_count`.
void keep_large_components(std::vector<geometry::Triangle>& triangles, std::size_t point_count);

/// The triangulated surface of a detection's points (steps 4 on of
/// `points::to_tri_surface`, whose history entry it does not write: the
/// result's history is ["tri_surface.from_shell"]). `max_link` and
/// `max_bridge` are in cells and already validated by the caller. Errors:
/// "triangulation rejected a point: {}" and the point-count limit of the
/// Delaunay triangulation, "triangulation produced no triangles (are the
/// points collinear?)", "triangulation retained no triangles at the requested
/// max_link", then those of `mesh::from_triangles`; GeometryMismatch
/// "triangulation needs one z per point ({} z for {} points)" first for a
/// detection whose z list does not match its points.
Result<TriSurface> triangulate_detection(const TopologyDetection& detection, double max_link,
                                         std::optional<double> max_bridge);

}  // namespace tri_surface

namespace points {

/// The points (x, y, z) as a triangulated surface following their lattice:
/// one node per point used by a kept triangle (numbered by first use), world
/// XY, the point's lattice label, z as primary values; no lanes, no primary
/// metadata; history: the set's followed by "points.to_tri_surface(max_link=…)"
/// or "points.to_tri_surface(max_link=…, max_bridge=…)". `max_link` (cells,
/// default 1.8) must satisfy √2 <= max_link < 2; `max_bridge` (cells), when
/// given, must be finite and at least max_link. Errors (GeometryInference):
/// "max_link must lie in (1.4142, 2) cells: …", "max_bridge must be a finite
/// length in cells >= max_link (…), got …", those of `topology::detect`,
/// "triangulation rejected a point: {}" (NAN, TooLarge, TooSmall), the
/// triangulation's point-count limit, "triangulation produced no triangles
/// (are the points collinear?)", "triangulation retained no triangles at the
/// requested max_link", then those of `mesh::from_triangles`. The set is only
/// read; attribute columns are not carried.
Result<TriSurface> to_tri_surface(const PointSet& set, std::optional<double> max_link,
                                  std::optional<double> max_bridge);

}  // namespace points

}  // namespace vz
