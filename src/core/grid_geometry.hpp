#pragma once
/// `GridGeometry`: a regular, rotatable areal lattice (no values).
///
/// Fields in the project file's order; no validation anywhere. Equality is
/// exact: IEEE equality of the five floats (NaN unequal to itself, +0 == -0),
/// exact ncol, nrow and yflip. Lattice arrays are indexed [column i, row j].

#include <cstdint>
#include <optional>
#include <utility>

#include "gridding/lattice.hpp"

namespace vz {

/// Bounding box (xmin, ymin, xmax, ymax).
struct BBox {
    double xmin, ymin, xmax, ymax;
    bool operator==(const BBox&) const = default;
};

struct GridGeometry {
    double xori = 0.0;
    double yori = 0.0;
    double xinc = 0.0;
    double yinc = 0.0;
    std::uint64_t ncol = 0;
    std::uint64_t nrow = 0;
    double rotation_deg = 0.0;
    bool yflip = false;

    /// World position of node (i, j); no range check.
    std::pair<double, double> node_xy(std::uint64_t i, std::uint64_t j) const {
        return gridding::node_xy(lattice(), i, j);
    }
    /// Fractional (column, row) of a world point, absent for degenerate input.
    std::optional<std::pair<double, double>> xy_to_ij(double x, double y) const {
        return gridding::xy_to_ij(lattice(), x, y);
    }
    /// Box of the four corner nodes.
    BBox bbox() const {
        auto b = gridding::lattice_bbox(lattice());
        return {b.xmin, b.ymin, b.xmax, b.ymax};
    }
    /// The toolkit's record with the same eight fields.
    gridding::Lattice lattice() const { return {xori, yori, xinc, yinc, ncol, nrow, rotation_deg, yflip}; }
    static GridGeometry from_lattice(const gridding::Lattice& l) {
        return {l.xori, l.yori, l.xinc, l.yinc, l.ncol, l.nrow, l.rotation_deg, l.yflip};
    }

    bool operator==(const GridGeometry&) const = default;
};

}  // namespace vz
