#pragma once
/// Crossings of one surface with every positioned bore of a list of wells.
///
/// Instead of failing, the batch reports what happened to each bore: the
/// crossings found (`hits`), the bores where nothing was found or nothing
/// could be searched (`skipped`) and the bores where the search failed
/// (`failed`). One bore's failure never stops the others.

#include <functional>
#include <span>
#include <string>
#include <vector>

#include "algorithms/intersections.hpp"
#include "foundation/result.hpp"

namespace vz {

struct Well;

/// One diagnostic row of a batch: the well's identifier, the bore's label
/// (empty for the main bore and for a row about the whole well), a reason
/// word and a human-readable message.
struct WellIntersectionRow {
    std::string well;
    std::string bore;
    /// "outside_or_no_intersection", "missing_trajectory", "coplanar",
    /// "multiple_intersections" or "intersection_error".
    std::string reason;
    std::string message;

    bool operator==(const WellIntersectionRow&) const = default;
};

/// The outcome of a batch, three lists in this order.
struct WellIntersectionBatch {
    /// Crossings with well and bore set and surface absent, sorted by
    /// `intersections::cmp_hits_well_bore_md`.
    std::vector<SurfaceIntersection> hits;
    /// Bores without a crossing, then wells without a positioned bore, in
    /// visiting order.
    std::vector<WellIntersectionRow> skipped;
    /// Bores whose search failed, in visiting order.
    std::vector<WellIntersectionRow> failed;

    bool operator==(const WellIntersectionBatch&) const = default;
};

namespace intersections {

/// Intersects `surface` with every bore holding a trajectory, wells in list
/// order and bores in each well's order, on each bore's active trajectory.
/// `all` = true keeps every crossing of a bore; false asks for the sole
/// crossing, and a bore crossing several times becomes a failed
/// "multiple_intersections" row. A bore without crossing is skipped as
/// "outside_or_no_intersection" ("trajectory does not intersect the finite
/// surface geometry"); a well without positioned bore as
/// "missing_trajectory" ("well has no positioned bore", empty bore); a
/// bore's search error is a failed row with the error's display text and the
/// reason "coplanar", "multiple_intersections" or "intersection_error" (an
/// invalid tolerance gives the last for every positioned bore). Only the
/// surface's own mesh error fails the whole call, before any well is looked
/// at. The surface's mesh is built and prepared for searching once, then
/// searched for every bore.
Result<WellIntersectionBatch> intersect_wells_with_surface(std::span<const std::reference_wrapper<const Well>> wells,
                                                           const TriangleMeshSource& surface, double tolerance,
                                                           bool all);

/// The order of batch hits: by well, then bore, then md. An absent name
/// sorts before every present one; present names compare byte by byte, a
/// proper prefix first; md compares in IEEE total order.
bool cmp_hits_well_bore_md(const SurfaceIntersection& a, const SurfaceIntersection& b);

}  // namespace intersections
}  // namespace vz
