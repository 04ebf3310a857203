#pragma once
/// Which nodes of a lattice a list of polygons strictly contains, for masking
/// surfaces by outlines of many vertices.
///
/// The answer for every node is exactly `Polygon::contains` of the node's
/// world position `GridGeometry::node_xy(i, j)`, holes and boundary included,
/// at a cost that grows with the nodes plus the ring edges times the lattice
/// columns they cross, rather than with nodes times edges.

#include <cstddef>
#include <cstdint>
#include <span>

#include "core/grid_geometry.hpp"

namespace vz {

struct Polygon;

/// Sets out[i * nrow + j] to 1 for every node (i, j), i < ncol, j < nrow, of
/// `geom` whose world position some polygon contains, and leaves every other
/// element as it is (the caller clears `out`, of size ncol * nrow).
///
/// Each lattice column is swept once along its rows: the ring edges are
/// bucketed by the columns they come near, each ring's crossings with the
/// column line give the winding of every node that no edge comes near, and
/// the few nodes near an edge are decided by exact orientation tests against
/// the edges of that column alone. Columns run on the toolkit's threads and
/// each writes only its own elements, so the result never depends on the
/// thread count. Rings the sweep cannot take (not closed, a non-finite
/// vertex, coordinates too large or too small for exact tests), and lattices
/// with a non-finite or degenerate transform, are tested node by node.
void lattice_containment(std::span<const Polygon> polygons, const GridGeometry& geom, std::size_t ncol,
                         std::size_t nrow, std::span<std::uint8_t> out);

}  // namespace vz
