#pragma once
/// Spatial indexes over planar points and 3-D boxes.
///
/// Both are R-trees bulk-loaded once and then only queried. Every answer is
/// independent of the tree's internal layout: entries at equal distance come
/// in ascending index order, box hits come in ascending index order.

#include <array>
#include <cstddef>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <vector>

#include "foundation/result.hpp"

namespace vz::geometry {

/// One answer of a point-index query: the entry's index (its position in the
/// bulk-loaded input) and its squared planar distance dx² + dy² from the query
/// position.
struct Neighbor {
    std::size_t index = 0;
    double dist2 = 0.0;

    bool operator==(const Neighbor&) const = default;
};

/// An R-tree over planar points, each carrying its position in the input.
///
/// Ordering rule of every query: ascending (squared distance, index); an entry
/// at the query position itself therefore comes first, at distance 0, and
/// duplicates come lowest index first. Points with a non-finite coordinate are
/// left out of the index (no position can be ordered against them).
class PointIndex {
public:
    /// An empty index.
    PointIndex();
    ~PointIndex();
    PointIndex(PointIndex&&) noexcept;
    PointIndex& operator=(PointIndex&&) noexcept;
    PointIndex(const PointIndex&) = delete;
    PointIndex& operator=(const PointIndex&) = delete;

    /// Bulk-loads the points (x, y); entry k carries index k.
    static PointIndex bulk_load(std::span<const std::array<double, 2>> points);
    /// Bulk-loads the points (xs[k], ys[k]); entry k carries index k.
    /// GeometryMismatch when the two spans differ in length.
    static Result<PointIndex> bulk_load_xy(std::span<const double> xs, std::span<const double> ys);

    /// Number of indexed (finite) entries.
    std::size_t size() const;
    bool empty() const { return size() == 0; }

    /// The nearest entry to (x, y) with no distance limit; none when the index
    /// is empty or the position is not finite.
    std::optional<Neighbor> nearest(double x, double y) const;

    /// The k nearest entries to (x, y) in ascending (dist2, index) order; all
    /// entries when fewer than k are indexed; empty for a non-finite position.
    std::vector<Neighbor> nearest_k(double x, double y, std::size_t k) const;

    /// Visits entries in ascending (dist2, index) order from (x, y) until
    /// `visit` returns false or the entries run out. Cost grows with the number
    /// of entries visited, so callers that stop early pay little.
    void for_each_nearest(double x, double y, const std::function<bool(const Neighbor&)>& visit) const;

    /// Every entry whose squared distance from (x, y) is at most radius²
    /// (boundary included), in ascending (dist2, index) order. Empty for a
    /// non-finite position or a negative or NaN radius; +inf takes all entries.
    std::vector<Neighbor> within(double x, double y, double radius) const;

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

/// A closed axis-aligned 3-D box: min ≤ max per axis (x, y, z).
struct Box3 {
    std::array<double, 3> min{};
    std::array<double, 3> max{};

    bool operator==(const Box3&) const = default;
};

/// An R-tree over closed 3-D boxes, each carrying its position in the input.
/// Boxes with a non-finite coordinate or min > max on an axis are left out.
class BoxIndex3 {
public:
    /// An empty index.
    BoxIndex3();
    ~BoxIndex3();
    BoxIndex3(BoxIndex3&&) noexcept;
    BoxIndex3& operator=(BoxIndex3&&) noexcept;
    BoxIndex3(const BoxIndex3&) = delete;
    BoxIndex3& operator=(const BoxIndex3&) = delete;

    /// Bulk-loads the boxes; entry k carries index k.
    static BoxIndex3 bulk_load(std::span<const Box3> boxes);

    /// Number of indexed entries.
    std::size_t size() const;
    bool empty() const { return size() == 0; }

    /// Replaces `out` by the indices of every entry intersecting the closed
    /// query box (touching counts), ascending. A query box with a NaN
    /// coordinate or min > max hits nothing. `out`'s capacity is reused.
    void query(const Box3& box, std::vector<std::size_t>& out) const;
    /// As above, returning a new list.
    std::vector<std::size_t> query(const Box3& box) const;

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

}  // namespace vz::geometry
