#pragma once
/// Planar outlines: `Coord`, `Polygon` (an exterior ring and holes) and
/// `PolygonSet` (polygons with named numeric columns and a history), with
/// areas, bounding box, strict containment, the convex hull, the footprint
/// of a lattice and the masking of a surface.
///
/// Rings built here are closed (the first vertex repeats at the end unless the
/// ring is empty); their orientation is kept as given and no other validity is
/// checked. Everything is 2-D: a z given with the input is dropped.

#include <array>
#include <cstddef>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "core/grid_geometry.hpp"
#include "core/points.hpp"
#include "core/surface.hpp"
#include "foundation/history.hpp"
#include "foundation/result.hpp"

namespace vz {

/// A planar vertex.
struct Coord {
    double x = 0.0;
    double y = 0.0;

    bool operator==(const Coord&) const = default;
};

/// Appends a copy of the first vertex unless the ring is empty or its last
/// vertex equals its first exactly in x and y (a NaN coordinate never does).
void close_ring(std::vector<Coord>& ring);

struct Polygon {
    std::vector<Coord> exterior;
    std::vector<std::vector<Coord>> interiors;

    /// A polygon with every ring closed by `close_ring`.
    static Polygon closed(std::vector<Coord> exterior, std::vector<std::vector<Coord>> interiors = {});

    /// |area(exterior)| minus the sum of |area(hole)|, carrying the sign of
    /// area(exterior) (counter-clockwise positive).
    double signed_area() const;

    /// True when (x, y) lies strictly inside the exterior and strictly
    /// outside every hole (a point on any ring is not inside); an empty
    /// exterior contains nothing.
    bool contains(double x, double y) const;

    bool operator==(const Polygon&) const = default;
};

/// Where a point lies against a ring.
enum class RingPosition { Inside, OnBoundary, Outside };

/// Classifies (x, y) against `ring`: OnBoundary on an edge between
/// consecutive vertices (exact orientation test and within the edge's
/// extent); otherwise Inside for a non-zero winding number, else Outside. An
/// empty ring gives Outside; a one-vertex ring OnBoundary only at the vertex.
/// A non-finite point is Outside; an edge with a non-finite end is ignored.
RingPosition classify_point_in_ring(double x, double y, std::span<const Coord> ring);

/// Signed shoelace area of a closed ring, vertices shifted by the first one
/// (counter-clockwise positive); 0 for fewer than three vertices or a ring
/// whose last vertex differs from its first.
double ring_area(std::span<const Coord> ring);

struct PolygonSet {
    /// In input order.
    std::vector<Polygon> polygons;
    /// One value per polygon per column.
    AttributeColumns attributes;
    /// Oldest entry first.
    History history;

    /// One polygon per ring of three or more vertices (shorter rings are
    /// dropped), the ring as exterior without holes, z dropped, closed; no
    /// columns; history ["polygons.from_rings"]. Never fails.
    static PolygonSet from_rings(std::span<const std::vector<std::array<double, 3>>> rings);

    /// One polygon per entry of `polygons`, each given as its rings of
    /// (x, y, z): the exterior first, then its holes in order. Rings of
    /// three or more vertices are kept, z dropped, closed; a shorter hole is
    /// dropped, and a polygon without rings or whose exterior is shorter is
    /// dropped with its holes (it bounds no area). No columns; history
    /// ["polygons.from_polygons"]. Never fails.
    static PolygonSet from_polygons(std::span<const std::vector<std::vector<std::array<double, 3>>>> polygons);

    /// The footprint of `geometry`: one ring through the world positions of
    /// nodes (0, 0), (ncol-1, 0), (ncol-1, nrow-1), (0, nrow-1) (ncol-1 and
    /// nrow-1 taken as 0 for an empty axis); history
    /// ["polygons.from_grid_geometry"]. Never fails.
    static PolygonSet from_grid_geometry(const GridGeometry& geometry);

    /// The convex hull of `points` (x, y) by the monotone chain: one
    /// counter-clockwise ring starting at the smallest x (smallest y among
    /// equals), collinear edge points dropped; history
    /// ["polygons.convex_hull_xy"]. Absent when fewer than three hull vertices
    /// remain. Callers pass finite coordinates.
    static std::optional<PolygonSet> convex_hull_xy(std::span<const std::array<double, 2>> points);

    /// Number of polygons.
    std::size_t size() const { return polygons.size(); }

    /// Unsigned area of each polygon (holes subtracted), in order.
    std::vector<double> areas() const;
    /// Sum of `areas` in order, starting from -0.0 (an empty set gives -0.0).
    double total_area() const;
    /// (xmin, ymin, xmax, ymax) over the exterior vertices of every polygon,
    /// NaN ignored; all four NaN when no polygon has an exterior vertex.
    BBox bbox() const;
    /// Each polygon's exterior ring as (x, y, 0.0), closing vertex included.
    std::vector<std::vector<std::array<double, 3>>> rings() const;
    /// True when some polygon has (x, y) strictly inside its exterior and
    /// strictly outside each of its holes (a point on any ring is not inside).
    bool contains(double x, double y) const;
    /// "polygons": the kind under which a project stores polygon sets.
    std::string element_kind() const { return "polygons"; }

    /// A new surface on the same lattice keeping the primary value of every
    /// node `contains` accepts and NaN elsewhere; no lanes, no primary
    /// metadata; history: the surface's, this set's entries behind "mask.",
    /// then "polygons.clip(surface)". Never fails. The nodes are decided by
    /// `lattice_containment`, column by column on the toolkit's threads.
    Surface clip(const Surface& surface) const;

    /// Column names in insertion order.
    std::vector<std::string> attr_names() const { return attribute_names(attributes); }
    /// Read-only view of the column called exactly `name`, or absent.
    std::optional<std::span<const double>> attr(std::string_view name) const {
        return attribute_column(attributes, name);
    }
    /// Inserts or replaces column `name` and appends
    /// "polygons.set_attr(name={})". `Parse` "polygon attribute '{}' has {}
    /// rows, expected {}" when the value count is not the polygon count; the
    /// set is then unchanged.
    Result<void> set_attr(std::string_view name, std::vector<double> values);

    /// Field-wise equality (columns compared in order; NaN never equal).
    bool operator==(const PolygonSet&) const = default;
};

}  // namespace vz
