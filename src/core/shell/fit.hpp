#pragma once
/// Lattice fits: does a set of positions lie on one regular, rotatable
/// lattice, and which one?
///
/// `fit::fit_lattice_xy` works from bare XY: it finds the two axes and their
/// spacings from neighbour differences, puts every point on an integer node
/// and refuses a point that misses its node by more than the tolerance, or
/// two points on one node. `fit::fit_lattice_indexed` works from nodes that
/// already carry integer (column, row): median column and row steps, median
/// origin, refused when the median node misses the fitted lattice (the mesh
/// is then curvilinear). Both are pure; every failure is GeometryInference.

#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <utility>
#include <vector>

#include "core/grid_geometry.hpp"
#include "foundation/result.hpp"

namespace vz::fit {

/// A node with its lattice indices and world position.
struct IndexedNode {
    std::int64_t column = 0;
    std::int64_t row = 0;
    double x = 0.0;
    double y = 0.0;

    bool operator==(const IndexedNode&) const = default;
};

/// The bare-XY fit: the lattice and, per finite input point, its node
/// (column, row), sorted ascending and without repeats.
struct LatticeFitXY {
    GridGeometry geometry;
    std::vector<std::pair<std::int64_t, std::int64_t>> occupied;
};

/// Fits a lattice to the finite (x, y) of `points` (z ignored). Origin at the
/// lattice corner of the smallest projections, first axis along the shortest
/// neighbour difference, yflip false. GeometryInference: "tolerance must be a
/// finite positive number", "at least four finite points are required", "not
/// enough neighbouring points to detect grid axes", "zero-length vector while
/// detecting grid axes", "could not detect regular spacing on both grid
/// axes", "point misses inferred lattice by {:.6}, above tolerance {:.6}",
/// "multiple points map to the same inferred grid node".
Result<LatticeFitXY> fit_lattice_xy(std::span<const std::array<double, 3>> points, double tolerance);

/// Fits a lattice to indexed nodes (columns and rows relative to the
/// smallest ones). GeometryInference: "tolerance must be a finite positive
/// number", "column/row geometry inference requires at least four indexed
/// points", "column/row attributes do not span a two-dimensional grid",
/// "column/row attributes are present, but adjacent indexed nodes are too
/// sparse to infer spacing", "zero-length vector while detecting grid axes",
/// "column/row attributes imply a degenerate row spacing", the median-residual
/// message naming the curvilinear mesh, and "column/row indices span more
/// lattice nodes than a count can hold" for index spans of 2^64 nodes.
Result<GridGeometry> fit_lattice_indexed(std::span<const IndexedNode> nodes, double tolerance);

/// Spacing along the unit vector `axis`: the median of the along-axis lengths
/// (of differences lying across the axis by at most the tolerance) up to 1.5
/// times the shortest plus the tolerance. GeometryInference "could not detect
/// regular spacing on both grid axes" when no difference qualifies.
Result<double> axis_spacing(std::span<const std::array<double, 2>> differences, std::array<double, 2> axis,
                            double tolerance);

/// `v` rounded half away from zero as a signed 64-bit integer, saturated at
/// the limits; NaN gives 0. How lattice indices are read from floats.
std::int64_t round_to_index(double v);

/// Median under the IEEE total order: absent for no values, the middle value
/// for an odd count, the mean of the two middle values for an even count.
std::optional<double> median(std::vector<double> values);

}  // namespace vz::fit
