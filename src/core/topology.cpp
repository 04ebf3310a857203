#include "core/topology.hpp"

#include <algorithm>
#include <bit>
#include <cmath>
#include <deque>
#include <limits>
#include <string>

#include "foundation/error.hpp"

namespace vz {

namespace {

constexpr double kInf = std::numeric_limits<double>::infinity();
constexpr double kRadToDeg = 57.29577951308232;

Error inference(const char* message) { return Error::geometry_inference(message); }

/// Exact (x, y) bit patterns as a hash key.
struct XYBits {
    std::uint64_t x;
    std::uint64_t y;
    bool operator==(const XYBits&) const = default;
};

struct XYBitsHash {
    std::size_t operator()(const XYBits& k) const noexcept {
        std::uint64_t h = k.x * 0x9E3779B97F4A7C15ull;
        h ^= (k.y + 0x632BE59BD9B4E019ull + (h << 6) + (h >> 2));
        h ^= h >> 33;
        h *= 0xFF51AFD7ED558CCDull;
        h ^= h >> 33;
        return static_cast<std::size_t>(h);
    }
};

double dist(const std::array<double, 2>& a, const std::array<double, 2>& b) {
    return std::hypot(b[0] - a[0], b[1] - a[1]);
}

/// Fixed-size histogram of (count, sum) whose modal bin is the highest count,
/// ties going to the highest index.
template <std::size_t N>
struct Histogram {
    std::array<std::uint64_t, N> count{};
    std::array<double, N> sum{};

    void add(std::size_t bin, double value) {
        ++count[bin];
        sum[bin] += value;
    }
    /// Mean of the modal bin; absent when every bin is empty.
    std::optional<double> modal_mean() const {
        std::size_t best = 0;
        for (std::size_t b = 1; b < N; ++b)
            if (count[b] >= count[best]) best = b;
        if (count[best] == 0) return std::nullopt;
        return sum[best] / static_cast<double>(count[best]);
    }
};

/// Bin of `value` in N bins over a range of `width` starting at 0.
template <std::size_t N>
std::size_t bin_of(double value, double width) {
    const double f = std::floor(value / width * static_cast<double>(N));
    if (!(f < static_cast<double>(N - 1))) return N - 1;
    if (!(f > 0.0)) return 0;
    return static_cast<std::size_t>(f);
}


/// An exact running sum of finite doubles: a two's-complement fixed-point
/// integer wide enough for every double and 2^40 terms, so additions and
/// removals in any order leave the same state. Reading it rounds once (up to
/// an ulp), always the same way for the same state.
class ExactSum {
public:
    void add(double x) { apply(x, false); }
    void sub(double x) { apply(x, true); }

    double value() const {
        std::array<std::uint64_t, kLimbs> mag = limbs_;
        const bool negative = (mag[kLimbs - 1] >> 63) != 0;
        if (negative) {
            std::uint64_t carry = 1;
            for (auto& l : mag) {
                l = ~l + carry;
                carry = (carry != 0 && l == 0) ? 1 : 0;
            }
        }
        std::size_t top = kLimbs;
        while (top > 0 && mag[top - 1] == 0) --top;
        if (top == 0) return 0.0;
        double v = 0.0;
        // The three highest limbs carry far more than 53 significant bits.
        for (std::size_t k = (top >= 3 ? top - 3 : 0); k < top; ++k)
            v += std::ldexp(static_cast<double>(mag[k]), static_cast<int>(64 * k) - kBias);
        return negative ? -v : v;
    }

private:
    static constexpr std::size_t kLimbs = 35;  // 2240 bits
    static constexpr int kBias = 1074;         // bit 0 weighs 2^-1074

    void apply(double x, bool negate) {
        if (x == 0.0 || !std::isfinite(x)) return;
        const std::uint64_t bits = std::bit_cast<std::uint64_t>(x);
        const bool negative = ((bits >> 63) != 0) != negate;
        const int biased = static_cast<int>((bits >> 52) & 0x7FF);
        std::uint64_t mant = bits & ((std::uint64_t{1} << 52) - 1);
        int pos = 0;  // bit position of the mantissa's lowest bit
        if (biased == 0) {
            pos = 0;
        } else {
            mant |= std::uint64_t{1} << 52;
            pos = biased - 1;
        }
        const std::size_t limb = static_cast<std::size_t>(pos / 64);
        const int shift = pos % 64;
        const std::uint64_t lo = mant << shift;
        const std::uint64_t hi = shift == 0 ? 0 : (mant >> (64 - shift));
        if (negative) {
            std::uint64_t borrow = 0;
            subtract_at(limb, lo, borrow);
            subtract_at(limb + 1, hi, borrow);
            for (std::size_t k = limb + 2; borrow != 0 && k < kLimbs; ++k) subtract_at(k, 0, borrow);
        } else {
            std::uint64_t carry = 0;
            add_at(limb, lo, carry);
            add_at(limb + 1, hi, carry);
            for (std::size_t k = limb + 2; carry != 0 && k < kLimbs; ++k) add_at(k, 0, carry);
        }
    }
    void add_at(std::size_t k, std::uint64_t v, std::uint64_t& carry) {
        const std::uint64_t a = limbs_[k];
        const std::uint64_t s1 = a + v;
        const std::uint64_t s2 = s1 + carry;
        carry = (s1 < a || s2 < s1) ? 1 : 0;
        limbs_[k] = s2;
    }
    void subtract_at(std::size_t k, std::uint64_t v, std::uint64_t& borrow) {
        const std::uint64_t a = limbs_[k];
        const std::uint64_t d1 = a - v;
        const std::uint64_t d2 = d1 - borrow;
        borrow = (a < v || d1 < borrow) ? 1 : 0;
        limbs_[k] = d2;
    }

    std::array<std::uint64_t, kLimbs> limbs_{};
};

/// A static 2-D tree over the points that forgets labelled points: subtrees
/// without unlabelled points are skipped, so finding the unlabelled point
/// nearest to a position stays cheap however many points are labelled.
class UnlabelledTree {
public:
    explicit UnlabelledTree(std::span<const std::array<double, 2>> points)
        : points_(points), order_(points.size()), leaf_of_(points.size(), 0), alive_(points.size(), 1) {
        for (std::size_t k = 0; k < order_.size(); ++k) order_[k] = k;
        if (!order_.empty()) build(0, order_.size(), kNone);
        remaining_ = points.size();
        for (std::size_t k = 0; k < points.size(); ++k) {
            sum_x_.add(points[k][0]);
            sum_y_.add(points[k][1]);
        }
    }

    std::size_t remaining() const { return remaining_; }

    /// The mean of the unlabelled positions (from their exact sums).
    std::array<double, 2> centroid() const {
        const double n = static_cast<double>(remaining_);
        return {sum_x_.value() / n, sum_y_.value() / n};
    }

    /// The unlabelled point nearest to (x, y) by squared distance, the lowest
    /// index among equals. Requires remaining() > 0.
    std::size_t nearest(double x, double y) {
        if (!std::isfinite(x) || !std::isfinite(y)) {
            while (!alive_[first_alive_]) ++first_alive_;
            return first_alive_;
        }
        best_d2_ = kInf;
        best_ = kNone;
        search(0, x, y);
        if (best_ == kNone) {  // every distance overflowed: lowest index
            while (!alive_[first_alive_]) ++first_alive_;
            return first_alive_;
        }
        return best_;
    }

    void remove(std::size_t p) {
        if (!alive_[p]) return;
        alive_[p] = 0;
        --remaining_;
        sum_x_.sub(points_[p][0]);
        sum_y_.sub(points_[p][1]);
        for (std::size_t node = leaf_of_[p]; node != kNone; node = nodes_[node].parent) --nodes_[node].alive;
    }

private:
    static constexpr std::size_t kNone = std::numeric_limits<std::size_t>::max();
    static constexpr std::size_t kLeaf = 8;

    struct Node {
        double xmin, ymin, xmax, ymax;
        std::size_t begin, end;
        std::size_t left = kNone, right = kNone, parent = kNone;
        std::size_t alive = 0;
    };

    std::size_t build(std::size_t begin, std::size_t end, std::size_t parent) {
        const std::size_t id = nodes_.size();
        Node node{kInf, kInf, -kInf, -kInf, begin, end};
        node.parent = parent;
        node.alive = end - begin;
        for (std::size_t k = begin; k < end; ++k) {
            const auto& p = points_[order_[k]];
            node.xmin = std::min(node.xmin, p[0]);
            node.ymin = std::min(node.ymin, p[1]);
            node.xmax = std::max(node.xmax, p[0]);
            node.ymax = std::max(node.ymax, p[1]);
        }
        nodes_.push_back(node);
        if (end - begin <= kLeaf) {
            for (std::size_t k = begin; k < end; ++k) leaf_of_[order_[k]] = id;
            return id;
        }
        const int axis = (node.xmax - node.xmin) >= (node.ymax - node.ymin) ? 0 : 1;
        const std::size_t mid = begin + (end - begin) / 2;
        std::nth_element(order_.begin() + static_cast<std::ptrdiff_t>(begin),
                         order_.begin() + static_cast<std::ptrdiff_t>(mid),
                         order_.begin() + static_cast<std::ptrdiff_t>(end), [&](std::size_t a, std::size_t b) {
                             if (points_[a][axis] != points_[b][axis]) return points_[a][axis] < points_[b][axis];
                             return a < b;
                         });
        const std::size_t left = build(begin, mid, id);
        const std::size_t right = build(mid, end, id);
        nodes_[id].left = left;
        nodes_[id].right = right;
        return id;
    }

    /// Smallest squared distance from (x, y) to the node's box. Rounding is
    /// monotone, so this never exceeds the computed squared distance of any
    /// point inside.
    static double box_d2(const Node& n, double x, double y) {
        const double dx = std::max({0.0, n.xmin - x, x - n.xmax});
        const double dy = std::max({0.0, n.ymin - y, y - n.ymax});
        return dx * dx + dy * dy;
    }

    void search(std::size_t id, double x, double y) {
        const Node& node = nodes_[id];
        if (node.alive == 0 || box_d2(node, x, y) > best_d2_) return;
        if (node.left == kNone) {
            for (std::size_t k = node.begin; k < node.end; ++k) {
                const std::size_t p = order_[k];
                if (!alive_[p]) continue;
                const double dx = points_[p][0] - x;
                const double dy = points_[p][1] - y;
                const double d2 = dx * dx + dy * dy;
                if (d2 < best_d2_ || (d2 == best_d2_ && p < best_)) {
                    best_d2_ = d2;
                    best_ = p;
                }
            }
            return;
        }
        const double dl = box_d2(nodes_[node.left], x, y);
        const double dr = box_d2(nodes_[node.right], x, y);
        const std::size_t first = dl <= dr ? node.left : node.right;
        const std::size_t second = dl <= dr ? node.right : node.left;
        search(first, x, y);
        search(second, x, y);
    }

    std::span<const std::array<double, 2>> points_;
    std::vector<std::size_t> order_;
    std::vector<std::size_t> leaf_of_;
    std::vector<char> alive_;
    std::vector<Node> nodes_;
    std::size_t remaining_ = 0;
    std::size_t first_alive_ = 0;
    ExactSum sum_x_;
    ExactSum sum_y_;
    double best_d2_ = kInf;
    std::size_t best_ = kNone;
};

}  // namespace

TopologyReport TopologyReport::from_detection(const TopologyDetection& d) {
    TopologyReport r;
    r.detected_cell_i = d.step_i;
    r.detected_cell_j = d.step_j;
    r.detected_azimuth_deg = d.azimuth * kRadToDeg;
    r.distinct_nodes = d.points.size();
    r.assigned = d.labels.size();
    r.conflicts = d.conflicts;
    r.coincident_dropped = d.coincident_dropped;
    r.coincident_ambiguous = d.coincident_ambiguous;
    r.stalled_frontier = d.refused.size();
    r.blocks = d.blocks;
    for (const std::uint64_t n : d.block_sizes) r.largest_block = std::max(r.largest_block, n);
    return r;
}

namespace topology {

DistinctPoints distinct_points(std::span<const std::array<double, 3>> points) {
    DistinctPoints out;
    std::unordered_map<XYBits, std::size_t, XYBitsHash> seen;
    seen.reserve(points.size());
    for (const auto& p : points) {
        if (!std::isfinite(p[0]) || !std::isfinite(p[1])) continue;
        const XYBits key{std::bit_cast<std::uint64_t>(p[0]), std::bit_cast<std::uint64_t>(p[1])};
        auto [it, inserted] = seen.try_emplace(key, out.points.size());
        if (inserted) {
            out.points.push_back({p[0], p[1]});
            out.z.push_back(p[2]);
        } else if (std::bit_cast<std::uint64_t>(out.z[it->second]) == std::bit_cast<std::uint64_t>(p[2])) {
            ++out.coincident_dropped;
        } else {
            ++out.coincident_ambiguous;
        }
    }
    return out;
}

namespace {

/// The nearest entries of each distinct point, in the index's (squared
/// distance, index) order: either asked of the index on demand or read from a
/// table of the first `kCached` entries filled once, which serves the cell
/// size, the azimuth and most of the axis-step walk from one query per point.
class Neighbours {
public:
    static constexpr std::size_t kCached = 6;

    Neighbours(const geometry::PointIndex& index, std::span<const std::array<double, 2>> points, bool cache)
        : index_(index), points_(points) {
        if (!cache) return;
        table_.resize(points.size() * kCached);
        counts_.resize(points.size());
        for (std::size_t p = 0; p < points.size(); ++p) {
            const auto nb = index.nearest_k(points[p][0], points[p][1], kCached);
            std::copy(nb.begin(), nb.end(), table_.begin() + static_cast<std::ptrdiff_t>(p * kCached));
            counts_[p] = static_cast<std::uint8_t>(nb.size());
        }
        cached_ = true;
    }

    /// The first k (at most kCached) entries from point p.
    std::span<const geometry::Neighbor> first(std::size_t p, std::size_t k) {
        if (cached_)
            return {table_.data() + p * kCached, std::min<std::size_t>(k, counts_[p])};
        scratch_ = index_.nearest_k(points_[p][0], points_[p][1], k);
        return scratch_;
    }

    /// Visits the entries from point p in order until `visit` returns false,
    /// at most `limit` of them (0: no limit).
    template <class F>
    void visit(std::size_t p, std::size_t limit, F&& visit) {
        std::size_t skip = 0;
        if (cached_) {
            for (const auto& nb : first(p, kCached))
                if (!visit(nb)) return;
            if (counts_[p] < kCached || limit == kCached) return;  // nothing more to see
            skip = kCached;
        }
        if (limit != 0) {
            // One query for the rest of a bounded walk.
            const auto entries = index_.nearest_k(points_[p][0], points_[p][1], limit);
            for (std::size_t k = skip; k < entries.size(); ++k)
                if (!visit(entries[k])) return;
            return;
        }
        std::size_t seen = 0;
        index_.for_each_nearest(points_[p][0], points_[p][1], [&](const geometry::Neighbor& nb) {
            if (seen++ < skip) return true;
            return visit(nb);
        });
    }

    const geometry::PointIndex& index() const { return index_; }

private:
    const geometry::PointIndex& index_;
    std::span<const std::array<double, 2>> points_;
    bool cached_ = false;
    std::vector<geometry::Neighbor> table_;
    std::vector<std::uint8_t> counts_;
    std::vector<geometry::Neighbor> scratch_;
};

std::optional<double> nonzero_from(Neighbours& nbs, std::span<const std::array<double, 2>> points, std::size_t p) {
    std::optional<double> found;
    nbs.visit(p, 0, [&](const geometry::Neighbor& nb) {
        const double d = dist(points[p], points[nb.index]);
        if (d > 0.0) {
            found = d;
            return false;
        }
        return true;
    });
    return found;
}

Result<double> cell_size(Neighbours& nbs, std::span<const std::array<double, 2>> points,
                         std::optional<double> nominal_cell) {
    double base = 0.0;
    if (nominal_cell) {
        base = *nominal_cell;
    } else {
        std::vector<double> nearest;
        nearest.reserve(points.size());
        for (std::size_t p = 0; p < points.size(); ++p)
            if (auto d = nonzero_from(nbs, points, p)) nearest.push_back(*d);
        if (nearest.empty()) return fail(inference("no neighbouring points to detect a cell size"));
        const std::size_t mid = nearest.size() / 2;
        std::nth_element(nearest.begin(), nearest.begin() + static_cast<std::ptrdiff_t>(mid), nearest.end());
        base = nearest[mid];
    }
    if (!(std::isfinite(base) && base > 0.0)) return fail(inference("could not detect a positive cell size"));

    const double range = 1.4 * base;
    Histogram<240> hist;
    for (std::size_t p = 0; p < points.size(); ++p) {
        for (const auto& nb : nbs.first(p, 6)) {
            const double d = dist(points[p], points[nb.index]);
            if (d > 0.0 && d <= range) hist.add(bin_of<240>(d, range), d);
        }
    }
    const auto cell = hist.modal_mean();
    if (!cell) return fail(inference("could not detect a cell size from neighbour steps"));
    return *cell;
}

Result<double> azimuth(Neighbours& nbs, std::span<const std::array<double, 2>> points, double cell) {
    double c = 0.0;
    double s = 0.0;
    std::uint64_t n = 0;
    const double lo = 0.7 * cell;
    const double hi = 1.3 * cell;
    for (std::size_t p = 0; p < points.size(); ++p) {
        for (const auto& nb : nbs.first(p, 5)) {
            const auto& q = points[nb.index];
            const double dx = q[0] - points[p][0];
            const double dy = q[1] - points[p][1];
            const double d = std::hypot(dx, dy);
            if (d < lo || d > hi) continue;
            const double a = std::atan2(dy, dx);
            c += std::cos(4.0 * a);
            s += std::sin(4.0 * a);
            ++n;
        }
    }
    if (n == 0) return fail(inference("could not detect a grid azimuth: no neighbour steps near the detected cell"));
    return std::atan2(s, c) / 4.0;
}

Result<std::pair<double, double>> axis_steps(Neighbours& nbs, std::span<const std::array<double, 2>> points,
                                             std::array<double, 2> ui, std::array<double, 2> uj, double cell) {
    const double reach = 20.0 * cell;
    Histogram<512> hist_i;
    Histogram<512> hist_j;
    for (std::size_t p = 0; p < points.size(); ++p) {
        // Shortest positive and negative projection on ui, then on uj.
        std::array<double, 4> best{kInf, kInf, kInf, kInf};
        nbs.visit(p, 64, [&](const geometry::Neighbor& nb) {
            const auto& q = points[nb.index];
            const double mx = q[0] - points[p][0];
            const double my = q[1] - points[p][1];
            const double d = std::hypot(mx, my);
            if (d == 0.0) return true;
            if (d > reach) return false;
            const double pi = mx * ui[0] + my * ui[1];
            const double pj = mx * uj[0] + my * uj[1];
            if (std::fabs(pj) <= 0.3 * std::fabs(pi) && pi != 0.0) {
                double& b = best[pi > 0.0 ? 0 : 1];
                b = std::min(b, std::fabs(pi));
            }
            if (std::fabs(pi) <= 0.3 * std::fabs(pj) && pj != 0.0) {
                double& b = best[pj > 0.0 ? 2 : 3];
                b = std::min(b, std::fabs(pj));
            }
            return !(std::isfinite(best[0]) && std::isfinite(best[1]) && std::isfinite(best[2]) &&
                     std::isfinite(best[3]));
        });
        for (int k = 0; k < 2; ++k)
            if (std::isfinite(best[k])) hist_i.add(bin_of<512>(best[k], reach), best[k]);
        for (int k = 2; k < 4; ++k)
            if (std::isfinite(best[k])) hist_j.add(bin_of<512>(best[k], reach), best[k]);
    }
    const auto si = hist_i.modal_mean();
    const auto sj = hist_j.modal_mean();
    if (!si || !sj) return fail(inference("could not detect a step along both grid axes"));
    return std::pair{*si, *sj};
}

}  // namespace

std::optional<double> nearest_nonzero_distance(const geometry::PointIndex& index,
                                               std::span<const std::array<double, 2>> points, double x,
                                               double y) {
    const std::array<double, 2> q{x, y};
    std::optional<double> found;
    index.for_each_nearest(x, y, [&](const geometry::Neighbor& nb) {
        const double d = dist(q, points[nb.index]);
        if (d > 0.0) {
            found = d;
            return false;
        }
        return true;
    });
    return found;
}

Result<double> detect_cell_size(const geometry::PointIndex& index, std::span<const std::array<double, 2>> points,
                                std::optional<double> nominal_cell) {
    Neighbours nbs(index, points, false);
    return cell_size(nbs, points, nominal_cell);
}

Result<double> detect_azimuth(const geometry::PointIndex& index, std::span<const std::array<double, 2>> points,
                              double cell) {
    Neighbours nbs(index, points, false);
    return azimuth(nbs, points, cell);
}

Result<std::pair<double, double>> detect_axis_steps(const geometry::PointIndex& index,
                                                    std::span<const std::array<double, 2>> points,
                                                    std::array<double, 2> ui, std::array<double, 2> uj, double cell) {
    Neighbours nbs(index, points, false);
    return axis_steps(nbs, points, ui, uj, cell);
}

std::optional<std::array<double, 2>> local_step(const CellMap& cells, std::span<const std::array<double, 2>> points,
                                                std::array<double, 2> q, std::int32_t i, std::int32_t j,
                                                std::int32_t di, std::int32_t dj, double length) {
    double sx = 0.0;
    double sy = 0.0;
    int n = 0;
    const auto in_range = [](std::int64_t v) {
        return v >= std::numeric_limits<std::int32_t>::min() && v <= std::numeric_limits<std::int32_t>::max();
    };
    const std::int64_t fi = std::int64_t{i} + di, fj = std::int64_t{j} + dj;
    const std::int64_t bi = std::int64_t{i} - di, bj = std::int64_t{j} - dj;
    if (in_range(fi) && in_range(fj)) {
        if (auto it = cells.find(cell_key(static_cast<std::int32_t>(fi), static_cast<std::int32_t>(fj)));
            it != cells.end()) {
            sx += points[it->second][0] - q[0];
            sy += points[it->second][1] - q[1];
            ++n;
        }
    }
    if (in_range(bi) && in_range(bj)) {
        if (auto it = cells.find(cell_key(static_cast<std::int32_t>(bi), static_cast<std::int32_t>(bj)));
            it != cells.end()) {
            sx += q[0] - points[it->second][0];
            sy += q[1] - points[it->second][1];
            ++n;
        }
    }
    if (n == 0) return std::nullopt;
    const std::array<double, 2> mean{sx / n, sy / n};
    const double len = std::hypot(mean[0], mean[1]);
    if (len > 0.6 * length && len < 1.6 * length) return mean;
    return std::nullopt;
}

LatticeLabels label_lattice(const geometry::PointIndex& index, std::span<const std::array<double, 2>> points,
                            std::array<double, 2> si, std::array<double, 2> sj) {
    const std::size_t n = points.size();
    LatticeLabels out;
    out.labels.assign(n, NodeLabel{});
    std::vector<char> labelled(n, 0);
    std::vector<std::uint32_t> block_of(n, 0);

    const double li = std::hypot(si[0], si[1]);
    const double lj = std::hypot(sj[0], sj[1]);
    const double predict_radius = 0.42 * std::min(li, lj);
    const double refuse_radius = 2.2 * std::max(li, lj);

    UnlabelledTree unlabelled(points);
    CellMap cells;
    std::deque<std::size_t> queue;
    std::uint32_t block = 0;
    while (unlabelled.remaining() > 0) {
        // The seed: the unlabelled point nearest to the unlabelled centroid.
        const auto [cx, cy] = unlabelled.centroid();
        const std::size_t seed = unlabelled.nearest(cx, cy);

        // Clearing keeps the bucket array, and clearing a large one for each
        // of many small blocks would cost its full size every time.
        if (cells.bucket_count() > 4096) {
            cells = CellMap{};
        } else {
            cells.clear();
        }
        labelled[seed] = 1;
        unlabelled.remove(seed);
        block_of[seed] = block;
        out.labels[seed] = NodeLabel{block, 0, 0};
        cells.emplace(cell_key(0, 0), seed);
        queue.clear();
        queue.push_back(seed);

        while (!queue.empty()) {
            const std::size_t q = queue.front();
            queue.pop_front();
            const std::array<double, 2> qp = points[q];
            const std::int32_t i = out.labels[q].i;
            const std::int32_t j = out.labels[q].j;
            const auto ti = local_step(cells, points, qp, i, j, 1, 0, li);
            const auto tj = local_step(cells, points, qp, i, j, 0, 1, lj);
            const std::array<double, 2> vi = ti ? *ti : si;
            const std::array<double, 2> vj = tj ? *tj : sj;
            struct Direction {
                std::array<double, 2> g;
                std::int32_t di, dj;
            };
            const std::array<Direction, 4> directions{Direction{vi, 1, 0}, Direction{{-vi[0], -vi[1]}, -1, 0},
                                                      Direction{vj, 0, 1}, Direction{{-vj[0], -vj[1]}, 0, -1}};
            for (const Direction& dir : directions) {
                const std::int64_t ti64 = std::int64_t{i} + dir.di;
                const std::int64_t tj64 = std::int64_t{j} + dir.dj;
                // A walk cannot leave the 32-bit label range.
                if (ti64 < std::numeric_limits<std::int32_t>::min() || ti64 > std::numeric_limits<std::int32_t>::max() ||
                    tj64 < std::numeric_limits<std::int32_t>::min() || tj64 > std::numeric_limits<std::int32_t>::max())
                    continue;
                const auto target_i = static_cast<std::int32_t>(ti64);
                const auto target_j = static_cast<std::int32_t>(tj64);
                if (cells.contains(cell_key(target_i, target_j))) continue;

                const double px = qp[0] + dir.g[0];
                const double py = qp[1] + dir.g[1];
                std::optional<std::size_t> chosen;
                for (const auto& nb : index.within(px, py, predict_radius)) {
                    const std::size_t k = nb.index;
                    if (labelled[k]) {
                        if (block_of[k] == block && (out.labels[k].i != target_i || out.labels[k].j != target_j))
                            ++out.conflicts;
                        continue;
                    }
                    // Ascending (distance, index): the first unlabelled one is the nearest.
                    if (!chosen) chosen = k;
                }
                if (chosen) {
                    labelled[*chosen] = 1;
                    unlabelled.remove(*chosen);
                    block_of[*chosen] = block;
                    out.labels[*chosen] = NodeLabel{block, target_i, target_j};
                    cells.emplace(cell_key(target_i, target_j), *chosen);
                    queue.push_back(*chosen);
                    continue;
                }

                const double glen = std::hypot(dir.g[0], dir.g[1]);
                for (const auto& nb : index.within(qp[0], qp[1], refuse_radius)) {
                    const std::size_t k = nb.index;
                    if (labelled[k]) continue;
                    const double vx = points[k][0] - qp[0];
                    const double vy = points[k][1] - qp[1];
                    const double w = std::sqrt(nb.dist2);
                    if (!(w >= 0.5 * glen)) continue;
                    if ((vx * dir.g[0] + vy * dir.g[1]) / (w * glen) > 0.951) {
                        out.refused.emplace_back(q, k);
                        break;
                    }
                }
            }
        }
        ++block;
    }
    out.blocks = block;
    return out;
}

Result<TopologyDetection> detect(std::span<const std::array<double, 3>> points, std::optional<double> nominal_cell) {
    if (nominal_cell && !(std::isfinite(*nominal_cell) && *nominal_cell > 0.0))
        return fail(inference("nominal cell must be a finite positive number"));
    DistinctPoints distinct = distinct_points(points);
    if (distinct.points.size() < 4)
        return fail(inference("topology detection requires at least four distinct finite points"));

    const auto index = geometry::PointIndex::bulk_load(distinct.points);
    // One table of nearest entries serves the three measuring passes.
    Neighbours nbs(index, distinct.points, true);
    VZ_ASSIGN_OR_RETURN(const double cell, cell_size(nbs, distinct.points, nominal_cell));
    VZ_ASSIGN_OR_RETURN(const double theta, azimuth(nbs, distinct.points, cell));
    const double c = std::cos(theta);
    const double s = std::sin(theta);
    VZ_ASSIGN_OR_RETURN(const auto steps, axis_steps(nbs, distinct.points, {c, s}, {-s, c}, cell));
    const auto [step_i, step_j] = steps;

    LatticeLabels walk =
        label_lattice(index, distinct.points, {step_i * c, step_i * s}, {step_j * -s, step_j * c});

    TopologyDetection out;
    out.block_sizes.assign(walk.blocks, 0);
    for (const NodeLabel& l : walk.labels) ++out.block_sizes[l.block];
    out.points = std::move(distinct.points);
    out.z = std::move(distinct.z);
    out.refused = std::move(walk.refused);
    out.labels = std::move(walk.labels);
    out.rotation = {c, s, -s, c};
    out.step_i = step_i;
    out.step_j = step_j;
    out.azimuth = theta;
    out.conflicts = walk.conflicts;
    out.coincident_dropped = distinct.coincident_dropped;
    out.coincident_ambiguous = distinct.coincident_ambiguous;
    out.blocks = walk.blocks;
    return out;
}

PointSet labelled_points(const PointSet& source, const TopologyDetection& detection) {
    const std::size_t n = detection.labels.size();
    std::vector<std::size_t> order(n);
    for (std::size_t k = 0; k < n; ++k) order[k] = k;
    std::int32_t min_i = std::numeric_limits<std::int32_t>::max();
    std::int32_t min_j = std::numeric_limits<std::int32_t>::max();
    for (const NodeLabel& l : detection.labels) {
        min_i = std::min(min_i, l.i);
        min_j = std::min(min_j, l.j);
    }
    std::sort(order.begin(), order.end(), [&](std::size_t a, std::size_t b) {
        const NodeLabel& la = detection.labels[a];
        const NodeLabel& lb = detection.labels[b];
        if (la.j != lb.j) return la.j < lb.j;
        if (la.i != lb.i) return la.i < lb.i;
        return a < b;
    });
    PointSet out;
    out.points.reserve(n);
    std::vector<double> column;
    std::vector<double> row;
    column.reserve(n);
    row.reserve(n);
    for (const std::size_t k : order) {
        const auto& p = detection.points[k];
        out.points.push_back({p[0], p[1], detection.z[k]});
        // Differences of two 32-bit values are exact in 64 bits.
        column.push_back(static_cast<double>(std::int64_t{detection.labels[k].i} - min_i + 1));
        row.push_back(static_cast<double>(std::int64_t{detection.labels[k].j} - min_j + 1));
    }
    out.attributes.insert({"column", std::move(column)});
    out.attributes.insert({"row", std::move(row)});
    out.history = History::derive(source.history, "points.detect_topology()");
    return out;
}

}  // namespace topology

namespace points {

Result<std::pair<std::optional<PointSet>, TopologyReport>> detect_topology(const PointSet& set,
                                                                           std::optional<double> nominal_cell) {
    VZ_ASSIGN_OR_RETURN(const TopologyDetection detection, topology::detect(set.points, nominal_cell));
    const TopologyReport report = TopologyReport::from_detection(detection);
    std::optional<PointSet> labelled;
    if (report.verified()) labelled = topology::labelled_points(set, detection);
    return std::pair{std::move(labelled), report};
}

}  // namespace points

}  // namespace vz
