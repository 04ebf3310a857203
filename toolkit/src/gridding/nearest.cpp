// The nearest-sample kernel. The Boost R-tree stays inside this translation
// unit; the rest of the toolkit sees only `gridding::nearest`.

// Boost.Geometry reaches Boost.Math, which still includes a Boost header
// that Boost itself has deprecated; the note it prints is not ours to act on.
#define BOOST_ALLOW_DEPRECATED_HEADERS
#include <boost/geometry.hpp>
#include <boost/geometry/index/rtree.hpp>
#include <cmath>
#include <cstdint>
#include <iterator>
#include <utility>
#include <vector>

#include "gridding/grid.hpp"

namespace vz::gridding {

namespace {

namespace bg = boost::geometry;
namespace bgi = boost::geometry::index;

using Point = bg::model::point<double, 2, bg::cs::cartesian>;
using RBox = bg::model::box<Point>;
using Entry = std::pair<Point, std::uint64_t>;
using Tree = bgi::rtree<Entry, bgi::rstar<16>>;

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

double squared_distance(const Entry& e, double x, double y) {
    const double dx = bg::get<0>(e.first) - x, dy = bg::get<1>(e.first) - y;
    return dx * dx + dy * dy;
}

}  // namespace

Array2 nearest(std::span<const Sample> samples, const Lattice& lattice) {
    Array2 out = Array2::filled(lattice.ncol, lattice.nrow, kNaN);
    if (lattice.ncol == 0 || lattice.nrow == 0) return out;

    // Bulk load every sample with a finite position, keeping its input index.
    std::vector<Entry> entries;
    entries.reserve(samples.size());
    for (std::size_t k = 0; k < samples.size(); ++k) {
        const Sample& s = samples[k];
        if (std::isfinite(s[0]) && std::isfinite(s[1])) entries.emplace_back(Point(s[0], s[1]), k);
    }
    if (entries.empty()) return out;
    const Tree tree(entries.begin(), entries.end());

    std::vector<Entry> found;
    for (std::uint64_t j = 0; j < lattice.nrow; ++j) {
        for (std::uint64_t i = 0; i < lattice.ncol; ++i) {
            const auto [x, y] = node_xy(lattice, i, j);
            if (!std::isfinite(x) || !std::isfinite(y)) continue;
            found.clear();
            tree.query(bgi::nearest(Point(x, y), 1), std::back_inserter(found));
            if (found.empty()) continue;
            const double best = squared_distance(found.front(), x, y);
            std::uint64_t pick = found.front().second;
            if (std::isfinite(best)) {
                // Other samples at the same distance (or also exactly on the
                // node): the first in input order wins. The box is widened by a
                // few units in the last place so that no sample at exactly
                // `best` falls outside it.
                const double r = std::sqrt(best) * (1.0 + 1e-12);
                const RBox box(Point(std::nextafter(x - r, -INFINITY), std::nextafter(y - r, -INFINITY)),
                              Point(std::nextafter(x + r, INFINITY), std::nextafter(y + r, INFINITY)));
                found.clear();
                tree.query(bgi::intersects(box), std::back_inserter(found));
                for (const Entry& e : found)
                    if (e.second < pick && squared_distance(e, x, y) <= best) pick = e.second;
            }
            out(i, j) = samples[pick][2];
        }
    }
    return out;
}

}  // namespace vz::gridding
