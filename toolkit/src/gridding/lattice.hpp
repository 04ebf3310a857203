#pragma once
/// The toolkit's regular lattice record and its closed-form transforms.
///
/// Node (i, j) lies at xori + (cos r * xinc) * i - (sin r * dy) * j,
/// yori + (sin r * xinc) * i + (cos r * dy) * j, r the rotation in radians
/// (counter-clockwise from +x), dy = -yinc when yflip is set, else yinc.

#include <cstdint>
#include <optional>
#include <utility>

namespace vz::gridding {

/// Eight fields in the order the project file stores them. No validation:
/// any combination of values is a lattice.
struct Lattice {
    double xori = 0.0;
    double yori = 0.0;
    double xinc = 0.0;
    double yinc = 0.0;
    std::uint64_t ncol = 0;
    std::uint64_t nrow = 0;
    double rotation_deg = 0.0;
    bool yflip = false;
};

/// Axis-aligned box (xmin, ymin, xmax, ymax).
struct Box {
    double xmin, ymin, xmax, ymax;
};

/// The node-to-world transform with its coefficients worked out once, for
/// walks over many nodes: `at(fi, fj)` is `node_xy_f(g, fi, fj)` exactly.
struct NodeTransform {
    double xori, yori;
    double xi, xj;  // x = xori + xi * fi - xj * fj
    double yi, yj;  // y = yori + yi * fi + yj * fj
    std::pair<double, double> at(double fi, double fj) const {
        return {xori + xi * fi - xj * fj, yori + yi * fi + yj * fj};
    }
};

/// The transform of lattice `g`.
NodeTransform node_transform(const Lattice& g);

/// World position of node (i, j); indices beyond the lattice extend it.
std::pair<double, double> node_xy(const Lattice& g, std::uint64_t i, std::uint64_t j);

/// World position of a fractional node (fi, fj).
std::pair<double, double> node_xy_f(const Lattice& g, double fi, double fj);

/// Fractional (column, row) of a world point; absent for a zero increment,
/// any non-finite field or input, or a non-finite result.
std::optional<std::pair<double, double>> xy_to_ij(const Lattice& g, double x, double y);

/// Bounding box of the four corner nodes (NaN coordinates ignored).
Box lattice_bbox(const Lattice& g);

}  // namespace vz::gridding
