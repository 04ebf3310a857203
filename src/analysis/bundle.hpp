#pragma once
/// The log bundle of one bore for an external log viewer: one common
/// measured-depth grid for every shown curve, the vertical depth at each grid
/// point, the curves resampled onto the grid and the zones between the
/// bore's formation tops with their depths.
///
/// Plain values only, so the whole gathering can run while the caller's
/// interpreter lock is released. Depths and the datum are in the project's
/// length unit; vertical depths are subsea TVD, positive down.

#include <optional>
#include <span>
#include <string>
#include <vector>

#include "core/log.hpp"
#include "core/well.hpp"

namespace vz::bundle {

/// Curve names to show: absent shows every curve, an empty list none.
using CurveSelection = std::optional<std::vector<std::string>>;

/// One shown curve on the grid.
struct CurveRow {
    std::string mnemonic;
    /// `canonical_mnemonic` of the mnemonic.
    std::string canonical;
    std::string unit;
    /// True for a core log (`LogKind::Core`).
    bool core = false;
    /// One value per grid depth, NaN where the log has none.
    std::vector<double> values;
};

/// One zone with its depths; the vertical depths follow `md_to_tvd`.
struct ZoneRow {
    std::string name;
    double top_md = 0.0;
    double base_md = 0.0;
    double top_tvd = 0.0;
    double base_tvd = 0.0;
};

/// Everything the viewer gets of one bore.
struct BoreData {
    /// The depth grid, ascending.
    std::vector<double> md;
    /// One vertical depth per grid depth.
    std::vector<double> tvd;
    std::vector<CurveRow> curves;
    std::vector<ZoneRow> zones;
};

/// Whether a log is shown: always without a selection; otherwise when an
/// entry equals, ASCII case-insensitively, the log's mnemonic or its
/// canonical mnemonic (entries are compared as given).
bool curve_selected(const Log& log, const CurveSelection& selection);

/// The shown logs of the bore, in the bore's log order.
std::vector<const Log*> select_logs(const Sidetrack& bore, const CurveSelection& selection);

/// The common grid of the logs: every sample depth of every log (samples
/// that have both a depth and a value), sorted ascending in IEEE total order
/// (stable), then each run of equal depths collapsed to its first element
/// (so -0.0 and +0.0 merge, NaNs all stay). Empty without logs.
std::vector<double> depth_grid(std::span<const Log* const> logs);

/// The vertical depth at a measured depth: the z of the bore's active
/// trajectory there, else (no active trajectory, or no position at that
/// depth) md - kb.
double md_to_tvd(const Sidetrack& bore, double kb, double md);

/// A log's values at the grid depths: NaN outside [first depth, last depth]
/// of the log and for a NaN depth; otherwise linear between the samples a
/// binary search brackets the depth with (the left value across a
/// zero-length or descending step). A one-sample log gives its value at its
/// own depth. Never reads past either array.
std::vector<double> resample(std::span<const double> md, std::span<const double> values,
                             std::span<const double> grid);

/// The curve rows of the shown logs on the grid.
std::vector<CurveRow> resample_logs(std::span<const Log* const> logs, std::span<const double> grid);

/// The zones of the bore (`Sidetrack::zones` order) with their depths.
std::vector<ZoneRow> zone_rows(const Sidetrack& bore, double kb);

/// The bores of a well that carry at least one log, in bore order.
std::vector<const Sidetrack*> bores_with_logs(const Well& well);

/// The bundle of one bore with the well's datum `kb` and the selection.
/// Never fails.
BoreData gather(const Sidetrack& bore, double kb, const CurveSelection& selection);

}  // namespace vz::bundle
