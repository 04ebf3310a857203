#pragma once
/// Trajectories: the path of one bore as stations ordered by strictly
/// increasing measured depth, positioned by the minimum-curvature method.
///
/// Frame: x easting, y northing, z subsea true vertical depth positive down.
/// Measured depth starts at the kelly bushing, `kb` above the subsea zero, so
/// a vertical hole from a survey has z = md - kb. Inclination is measured
/// from vertical and azimuth clockwise from north, both in degrees.

#include <array>
#include <optional>
#include <span>
#include <variant>
#include <vector>

#include "foundation/result.hpp"

namespace vz {

/// A position (x, y, z). Depending on the query z is subsea TVD (positive
/// down) or elevation (positive up); each function says which.
using Xyz = std::array<double, 3>;

/// Unit direction of the hole (north, east, down).
struct Tangent {
    double north = 0.0;
    double east = 0.0;
    double down = 0.0;

    /// The tangent of an inclination and azimuth in degrees:
    /// (sin inc cos azi, sin inc sin azi, cos inc).
    static Tangent from_angles(double inc_deg, double azi_deg);

    bool operator==(const Tangent&) const = default;
};

/// One station: measured depth, position (easting, northing, subsea TVD
/// positive down) and, when known, the unit tangent of the hole.
struct Station {
    double md = 0.0;
    double x = 0.0;
    double y = 0.0;
    double z = 0.0;
    std::optional<Tangent> tangent;

    /// (x, y, z) with z subsea TVD, positive down.
    Xyz position() const { return {x, y, z}; }

    bool operator==(const Station&) const = default;
};

/// One row of a directional survey (degrees).
struct SurveyStation {
    double md = 0.0;
    double inc_deg = 0.0;
    double azi_deg = 0.0;
};

/// One row of a survey that already gives positions (z subsea TVD, positive
/// down).
struct PositionedStation {
    double md = 0.0;
    double inc_deg = 0.0;
    double azi_deg = 0.0;
    double x = 0.0;
    double y = 0.0;
    double z = 0.0;
};

/// The input of `Trajectory::from_source`.
struct TrajectorySource {
    /// Stations positioned by minimum curvature from the wellhead and datum.
    struct Survey {
        std::vector<SurveyStation> stations;
    };
    /// Stations whose positions are taken as given.
    struct Positioned {
        std::vector<PositionedStation> stations;
    };

    std::variant<Survey, Positioned> value;

    static TrajectorySource survey(std::vector<SurveyStation> stations) {
        return {Survey{std::move(stations)}};
    }
    static TrajectorySource positioned(std::vector<PositionedStation> stations) {
        return {Positioned{std::move(stations)}};
    }
};

/// The point at MD fraction `f` of a minimum-curvature interval of length
/// `length` that starts at `p` with unit tangent `t1` and ends with unit
/// tangent `t2` (z positive down). At f = 1 this is the classical
/// minimum-curvature step.
Xyz min_curvature_point(const Xyz& p, const Tangent& t1, const Tangent& t2, double f, double length);

/// An immutable list of at least one station with strictly increasing MD.
/// Queries answer absent outside [first MD, last MD] and for NaN input; they
/// never extrapolate or clamp.
struct Trajectory {
public:
    /// Builds from a survey (positioned by minimum curvature from
    /// (head_x, head_y, md0 - kb), the hole taken as vertical above the first
    /// station) or from positioned stations (head and kb unused). Fails with
    /// `OutOfRange` "trajectory needs at least one station" or "station
    /// measured depth must strictly increase" (also for a NaN MD after the
    /// first station).
    static Result<Trajectory> from_source(const TrajectorySource& source, double head_x, double head_y,
                                          double kb);

    /// Rebuilds a trajectory from stored stations (tangents optional), with
    /// the same two checks and messages as `from_source`.
    static Result<Trajectory> from_station_records(std::vector<Station> stations);

    /// The stations in MD order (never empty).
    const std::vector<Station>& stations() const { return stations_; }
    /// The MD of every station, in order.
    std::vector<double> mds() const;
    double first_md() const { return stations_.front().md; }
    double last_md() const { return stations_.back().md; }

    /// Position (x, y, z positive down) at a measured depth: on the
    /// minimum-curvature arc between the bracketing stations when both carry
    /// tangents, else linear; the left station's position on a zero-length
    /// interval. Absent for NaN or an md outside [first MD, last MD]; a
    /// one-station trajectory answers only at exactly its MD.
    std::optional<Xyz> position_at_md(double md) const;

    /// Subsea TVD (positive down) at a measured depth, or absent.
    std::optional<double> tvd(double md) const;

    /// (x, y, -z) at a measured depth: the third coordinate is an elevation,
    /// positive up. Absent where `position_at_md` is.
    std::optional<Xyz> xyz(double md) const;

    /// Measured depth of the first crossing (in MD order) of a subsea TVD,
    /// interpolated linearly between the two stations whose z values bracket
    /// it (ends included). Absent for NaN or when no interval brackets it; a
    /// lone station answers its MD when its z equals tvd exactly.
    std::optional<double> md_at_tvd(double tvd) const;

    bool operator==(const Trajectory&) const = default;

private:
    explicit Trajectory(std::vector<Station> stations) : stations_(std::move(stations)) {}
    std::vector<Station> stations_;
};

}  // namespace vz
