#include "core/trajectory.hpp"

#include <algorithm>
#include <cmath>
#include <utility>

namespace vz {

namespace {

constexpr double kDegToRad = 0.017453292519943295;
/// Below this dogleg (radians) the arc is treated as straight.
constexpr double kSmallAngle = 1e-4;

Error no_station() { return Error::out_of_range("trajectory needs at least one station"); }
Error not_increasing() { return Error::out_of_range("station measured depth must strictly increase"); }

/// True when `md` may follow `previous`. Written as "not greater" so that a
/// NaN depth is refused too instead of poisoning every later station.
bool follows(double previous, double md) { return md > previous; }

/// The tangent at fraction f of the arc between unit tangents t1 and t2 with
/// dogleg theta.
Tangent blend(const Tangent& t1, const Tangent& t2, double f, double theta) {
    if (theta < kSmallAngle) {
        const double n = t1.north + f * (t2.north - t1.north);
        const double e = t1.east + f * (t2.east - t1.east);
        const double d = t1.down + f * (t2.down - t1.down);
        const double len = std::max(std::sqrt(n * n + e * e + d * d), 1e-300);
        return {n / len, e / len, d / len};
    }
    const double s = std::sin(theta);
    const double a = std::sin((1.0 - f) * theta) / s;
    const double b = std::sin(f * theta) / s;
    return {t1.north * a + t2.north * b, t1.east * a + t2.east * b, t1.down * a + t2.down * b};
}

}  // namespace

Tangent Tangent::from_angles(double inc_deg, double azi_deg) {
    const double inc = inc_deg * kDegToRad;
    const double azi = azi_deg * kDegToRad;
    return {std::sin(inc) * std::cos(azi), std::sin(inc) * std::sin(azi), std::cos(inc)};
}

Xyz min_curvature_point(const Xyz& p, const Tangent& t1, const Tangent& t2, double f, double length) {
    const double c = std::clamp(t1.down * t2.down + (t1.east * t2.east + t1.north * t2.north), -1.0, 1.0);
    const double theta = std::acos(c);
    const Tangent tf = blend(t1, t2, f, theta);
    const double phi = f * theta;
    const double rf = phi < kSmallAngle ? 1.0 + phi * phi / 12.0 : (2.0 / phi) * std::tan(phi / 2.0);
    const double r = f * length * 0.5 * rf;
    return {p[0] + r * (t1.east + tf.east), p[1] + r * (t1.north + tf.north), p[2] + r * (t1.down + tf.down)};
}

Result<Trajectory> Trajectory::from_source(const TrajectorySource& source, double head_x, double head_y, double kb) {
    std::vector<Station> stations;
    if (const auto* survey = std::get_if<TrajectorySource::Survey>(&source.value)) {
        const auto& rows = survey->stations;
        if (rows.empty()) return fail(no_station());
        stations.reserve(rows.size());
        const Tangent t0 = Tangent::from_angles(rows[0].inc_deg, rows[0].azi_deg);
        stations.push_back({rows[0].md, head_x, head_y, rows[0].md - kb, t0});
        for (std::size_t k = 1; k < rows.size(); ++k) {
            if (!follows(rows[k - 1].md, rows[k].md)) return fail(not_increasing());
            const Station& prev = stations.back();
            const Tangent tk = Tangent::from_angles(rows[k].inc_deg, rows[k].azi_deg);
            const Xyz p = min_curvature_point(prev.position(), *prev.tangent, tk, 1.0, rows[k].md - rows[k - 1].md);
            stations.push_back({rows[k].md, p[0], p[1], p[2], tk});
        }
    } else {
        const auto& rows = std::get<TrajectorySource::Positioned>(source.value).stations;
        if (rows.empty()) return fail(no_station());
        stations.reserve(rows.size());
        for (std::size_t k = 0; k < rows.size(); ++k) {
            if (k > 0 && !follows(rows[k - 1].md, rows[k].md)) return fail(not_increasing());
            const auto& r = rows[k];
            stations.push_back({r.md, r.x, r.y, r.z, Tangent::from_angles(r.inc_deg, r.azi_deg)});
        }
    }
    return Trajectory(std::move(stations));
}

Result<Trajectory> Trajectory::from_station_records(std::vector<Station> stations) {
    if (stations.empty()) return fail(no_station());
    for (std::size_t k = 1; k < stations.size(); ++k)
        if (!follows(stations[k - 1].md, stations[k].md)) return fail(not_increasing());
    return Trajectory(std::move(stations));
}

std::vector<double> Trajectory::mds() const {
    std::vector<double> out;
    out.reserve(stations_.size());
    for (const auto& s : stations_) out.push_back(s.md);
    return out;
}

std::optional<Xyz> Trajectory::position_at_md(double md) const {
    const std::size_t n = stations_.size();
    if (n == 0 || std::isnan(md) || md < stations_.front().md || md > stations_.back().md) return std::nullopt;
    if (n == 1) {
        if (md == stations_.front().md) return stations_.front().position();
        return std::nullopt;
    }
    const auto it = std::lower_bound(stations_.begin(), stations_.end(), md,
                                     [](const Station& s, double x) { return s.md < x; });
    const std::size_t k = std::clamp<std::size_t>(static_cast<std::size_t>(it - stations_.begin()), 1, n - 1);
    const Station& a = stations_[k - 1];
    const Station& b = stations_[k];
    const double delta = b.md - a.md;
    if (delta <= 0.0) return a.position();
    const double f = (md - a.md) / delta;
    if (a.tangent && b.tangent) return min_curvature_point(a.position(), *a.tangent, *b.tangent, f, delta);
    return Xyz{a.x + f * (b.x - a.x), a.y + f * (b.y - a.y), a.z + f * (b.z - a.z)};
}

std::optional<double> Trajectory::tvd(double md) const {
    if (auto p = position_at_md(md)) return (*p)[2];
    return std::nullopt;
}

std::optional<Xyz> Trajectory::xyz(double md) const {
    if (auto p = position_at_md(md)) return Xyz{(*p)[0], (*p)[1], -(*p)[2]};
    return std::nullopt;
}

std::optional<double> Trajectory::md_at_tvd(double tvd) const {
    if (std::isnan(tvd) || stations_.empty()) return std::nullopt;
    for (std::size_t k = 0; k + 1 < stations_.size(); ++k) {
        const Station& a = stations_[k];
        const Station& b = stations_[k + 1];
        const bool bracketed = (a.z <= tvd && tvd <= b.z) || (b.z <= tvd && tvd <= a.z);
        if (!bracketed) continue;
        if (b.z == a.z) return a.md;
        return a.md + (b.md - a.md) * (tvd - a.z) / (b.z - a.z);
    }
    if (stations_.front().z == tvd) return stations_.front().md;
    return std::nullopt;
}

}  // namespace vz
