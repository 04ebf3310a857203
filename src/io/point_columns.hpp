#pragma once
/// `PointColumns`: what the point readers deliver — points (x, y, z) in file
/// order and named numeric columns, one value per point, in column order.
/// The point-set loaders turn it into a `PointSet` (`PointSet::from_columns`)
/// and set the history.

#include <array>
#include <string>
#include <vector>

#include "foundation/ordered_map.hpp"

namespace vz {

struct PointColumns {
    std::vector<std::array<double, 3>> points;
    OrderedMap<std::string, std::vector<double>> attributes;
};

/// What every polygon reader returns: rings in file order, each a list of
/// (x, y, z).
using PolygonRings = std::vector<std::vector<std::array<double, 3>>>;

}  // namespace vz
