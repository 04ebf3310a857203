#pragma once
/// Column/row topology of a point cloud sampled on a regular, possibly
/// rotated and fault-cut lattice, recovered from XY alone without moving a
/// point.
///
/// `topology::detect` measures the lattice (cell size, azimuth, the spacing
/// along both axes), then walks it breadth-first from a seed point, giving
/// every distinct point a `NodeLabel` (block, i, j). Where the walk cannot go
/// on regularly it records a refused adjacency (the stalled frontier), which
/// marks a fault. Every failure is `GeometryInference`.
///
/// Nearest-neighbour questions are answered in ascending (squared distance,
/// index) order, as `geometry::PointIndex` answers them; that order decides
/// which entries make the first k of a query and which of two equidistant
/// candidates the walk takes. The step functions below ask the index they are
/// given; `detect` asks a flat tree of its own that gives the same answers, and
/// walks the points in that tree's order, so its results equal those of the
/// step functions run on a `geometry::PointIndex`.

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <unordered_map>
#include <utility>
#include <vector>

#include "core/geometry/spatial_index.hpp"
#include "core/node_label.hpp"
#include "core/points.hpp"
#include "foundation/result.hpp"

namespace vz {

/// The full outcome of `topology::detect`. Every index is a position in
/// `points`.
struct TopologyDetection {
    /// The distinct finite XY positions, in order of first occurrence.
    std::vector<std::array<double, 2>> points;
    /// One per distinct point: the z of its first occurrence.
    std::vector<double> z;
    /// Adjacencies the walk refused, (from, to), in the order found.
    std::vector<std::pair<std::uint64_t, std::uint64_t>> refused;
    /// The label of every distinct point, indexed like `points` (the walk
    /// labels every point, so this holds exactly one label per point).
    std::vector<NodeLabel> labels;
    /// Labelled points per block, indexed by block number.
    std::vector<std::uint64_t> block_sizes;
    /// (cos θ, sin θ, -sin θ, cos θ).
    std::array<double, 4> rotation{};
    /// Lattice spacing along the i axis (cos θ, sin θ) and the j axis
    /// (-sin θ, cos θ), world units.
    double step_i = 0.0;
    double step_j = 0.0;
    /// θ in radians, in [-π/4, π/4]: the lattice axis nearest to +x.
    double azimuth = 0.0;
    /// Labelled points of the current block met at an unexpected (i, j).
    std::uint64_t conflicts = 0;
    /// Input points repeating an earlier XY with the same z (bit for bit).
    std::uint64_t coincident_dropped = 0;
    /// Input points repeating an earlier XY with a different z.
    std::uint64_t coincident_ambiguous = 0;
    /// Number of walks.
    std::uint32_t blocks = 0;
};

/// The summary of a detection handed to callers and to Python.
struct TopologyReport {
    double detected_cell_i = 0.0;
    double detected_cell_j = 0.0;
    /// Degrees counter-clockwise from +x, in [-45, 45].
    double detected_azimuth_deg = 0.0;
    std::uint64_t distinct_nodes = 0;
    std::uint64_t assigned = 0;
    std::uint64_t conflicts = 0;
    std::uint64_t coincident_dropped = 0;
    std::uint64_t coincident_ambiguous = 0;
    /// Number of refused adjacencies.
    std::uint64_t stalled_frontier = 0;
    std::uint32_t blocks = 0;
    /// The largest block's size, 0 without blocks.
    std::uint64_t largest_block = 0;

    /// The condensed form of a detection.
    static TopologyReport from_detection(const TopologyDetection& detection);

    /// One block, no conflicts, no ambiguous coincidences and every distinct
    /// point assigned. Refused and dropped counts do not matter.
    bool verified() const {
        return blocks == 1 && conflicts == 0 && coincident_ambiguous == 0 && assigned == distinct_nodes;
    }

    bool operator==(const TopologyReport&) const = default;
};

namespace topology {

/// Result of `distinct_points`.
struct DistinctPoints {
    std::vector<std::array<double, 2>> points;
    std::vector<double> z;
    std::uint64_t coincident_dropped = 0;
    std::uint64_t coincident_ambiguous = 0;
};

/// Result of `label_lattice`.
struct LatticeLabels {
    std::vector<std::pair<std::uint64_t, std::uint64_t>> refused;
    /// One label per point.
    std::vector<NodeLabel> labels;
    std::uint64_t conflicts = 0;
    std::uint32_t blocks = 0;
};

/// Cells of the block being walked: (i, j) packed into 64 bits -> point index.
using CellMap = std::unordered_map<std::uint64_t, std::size_t>;

/// Key of cell (i, j) in a `CellMap`.
inline std::uint64_t cell_key(std::int32_t i, std::int32_t j) {
    return (std::uint64_t{static_cast<std::uint32_t>(i)} << 32) | std::uint64_t{static_cast<std::uint32_t>(j)};
}

/// Drops input points with a non-finite x or y (counted nowhere) and repeats
/// of an earlier XY (exact bit pattern, so 0.0 and -0.0 differ): a repeat
/// with the same z bits counts as dropped, with other z bits as ambiguous.
/// Keeps the first occurrence's z. Never fails.
DistinctPoints distinct_points(std::span<const std::array<double, 3>> points);

/// Distance hypot(dx, dy) from (x, y) to the nearest indexed point lying at a
/// distance greater than 0; absent when there is none. `points` are the
/// indexed positions.
std::optional<double> nearest_nonzero_distance(const geometry::PointIndex& index,
                                               std::span<const std::array<double, 2>> points, double x, double y);

/// Modal neighbour distance over (0, 1.4 base] in 240 bins, base being
/// `nominal_cell` or the median nearest non-zero distance. GeometryInference
/// "no neighbouring points to detect a cell size", "could not detect a
/// positive cell size", "could not detect a cell size from neighbour steps".
Result<double> detect_cell_size(const geometry::PointIndex& index, std::span<const std::array<double, 2>> points,
                                std::optional<double> nominal_cell);

/// Direction (radians, [-π/4, π/4]) of the lattice axis nearest to +x from
/// the 4-fold mean of the steps to the 5 nearest entries lying within
/// [0.7, 1.3] cells. GeometryInference "could not detect a grid azimuth: no
/// neighbour steps near the detected cell".
Result<double> detect_azimuth(const geometry::PointIndex& index, std::span<const std::array<double, 2>> points,
                              double cell);

/// Modal shortest axial step along `ui` and `uj` (512 bins over [0, 20
/// cells]). GeometryInference "could not detect a step along both grid axes".
Result<std::pair<double, double>> detect_axis_steps(const geometry::PointIndex& index,
                                                    std::span<const std::array<double, 2>> points,
                                                    std::array<double, 2> ui, std::array<double, 2> uj, double cell);

/// The mean of the block's steps through (i, j) along (di, dj): from the
/// point to its forward cell neighbour and from its backward neighbour to the
/// point. Absent without either neighbour or when the mean's length is not
/// strictly between 0.6 and 1.6 times `length`.
std::optional<std::array<double, 2>> local_step(const CellMap& cells, std::span<const std::array<double, 2>> points,
                                                std::array<double, 2> q, std::int32_t i, std::int32_t j,
                                                std::int32_t di, std::int32_t dj, double length);

/// The breadth-first walk: labels every point, counts conflicts and records
/// refused adjacencies. Each walk (block) starts at the unlabelled point
/// nearest to the mean of the unlabelled positions (lowest index among equal
/// squared distances); the mean comes from exact sums, so it does not depend
/// on the order of the points. Never fails.
LatticeLabels label_lattice(const geometry::PointIndex& index, std::span<const std::array<double, 2>> points,
                            std::array<double, 2> si, std::array<double, 2> sj);

/// Detects the lattice topology of `points` (x, y, z). `nominal_cell`, when
/// given, sets the cell-size histogram's range. GeometryInference: "nominal
/// cell must be a finite positive number", "topology detection requires at
/// least four distinct finite points" and the step failures above.
/// `measure` then `walk`.
Result<TopologyDetection> detect(std::span<const std::array<double, 3>> points, std::optional<double> nominal_cell);

/// What the walk of a detection continues from (defined with the detection).
struct WalkBasis;

/// A detection whose lattice is measured and whose walk is still to come.
struct Measurement {
    /// `points`, `z`, the coincidence counts, `rotation`, `step_i`, `step_j`
    /// and `azimuth` as the detection has them; the walk's fields empty.
    TopologyDetection detection;
    std::shared_ptr<const WalkBasis> basis;
};

/// The measuring half of `detect`: the distinct points and the lattice's
/// measures, with every failure of `detect`. A caller may work with the
/// measures (the cell units of the points) while `walk` runs.
Result<Measurement> measure(std::span<const std::array<double, 3>> points, std::optional<double> nominal_cell);

/// The walking half of `detect`: completes the measured detection with its
/// labels, refusals, conflicts and blocks. Never fails.
TopologyDetection walk(Measurement measurement);

/// The labelled points of a detection, row by row (j, then i ascending),
/// with the 1-based columns "column" and "row" only; history: the source's
/// plus "points.detect_topology()".
PointSet labelled_points(const PointSet& source, const TopologyDetection& detection);

}  // namespace topology

namespace points {

/// Topology of a point set: the report, and when it is verified the labelled
/// point set (`topology::labelled_points`). Errors of `topology::detect`
/// unchanged. The set is not changed.
Result<std::pair<std::optional<PointSet>, TopologyReport>> detect_topology(const PointSet& set,
                                                                           std::optional<double> nominal_cell);

}  // namespace points

}  // namespace vz
