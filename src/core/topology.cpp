#include "core/topology.hpp"

#include <algorithm>
#include <bit>
#include <atomic>
#include <cmath>
#include <limits>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <type_traits>

#include "core/fill_vector.hpp"
#include "core/geometry/point_grid.hpp"
#include "foundation/error.hpp"
#include "parallel/parallel_for.hpp"

namespace vz {

namespace {

constexpr double kInf = std::numeric_limits<double>::infinity();
constexpr double kRadToDeg = 57.29577951308232;
/// No tree position to start a search from.
constexpr std::size_t kNoHint = std::numeric_limits<std::size_t>::max();
constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
/// The walk's grid: cell side over the refusal radius, most cells per point,
/// and the crowding above which the tree answers instead.
constexpr double kGridCellPerRefusal = 0.5;
constexpr std::size_t kGridCellsPerPoint = 4;
constexpr double kGridMaxCrowding = 16.0;
/// Fewest points for which blocks are walked ahead on other threads.
constexpr std::size_t kWalkAheadPoints = 1024;

Error inference(const char* message) { return Error::geometry_inference(message); }

/// Asks for the cache line at `p` ahead of its use.
inline void prefetch(const void* p) {
#if defined(__GNUC__)
    __builtin_prefetch(p);
#else
    (void)p;
#endif
}

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
    /// The bin of the highest count, ties going to the highest index.
    std::size_t modal_bin() const {
        std::size_t best = 0;
        for (std::size_t b = 1; b < N; ++b)
            if (count[b] >= count[best]) best = b;
        return best;
    }
    /// Mean of the modal bin; absent when every bin is empty.
    std::optional<double> modal_mean() const {
        const std::size_t best = modal_bin();
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
    /// Adds another sum: the state is that of all its terms added here.
    void add(const ExactSum& other) {
        std::uint64_t carry = 0;
        for (std::size_t k = 0; k < kLimbs; ++k) add_at(k, other.limbs_[k], carry);
    }

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

/// Squared distance from (x, y) to (px, py), rounded exactly as the point
/// index rounds it, so both order entries the same way.
inline double sq_dist(double px, double py, double x, double y) {
    const double dx = px - x;
    const double dy = py - y;
    return dx * dx + dy * dy;
}

/// Smallest squared distance from (x, y) to a box. Rounding is monotone, so
/// this never exceeds the computed squared distance of any point inside.
inline double box_d2(double xmin, double ymin, double xmax, double ymax, double x, double y) {
    const double dx = std::max(std::max(0.0, xmin - x), x - xmax);
    const double dy = std::max(std::max(0.0, ymin - y), y - ymax);
    return dx * dx + dy * dy;
}

/// Exactly `std::hypot(dx, dy) > limit`, deciding from the squares where
/// they leave no doubt and asking hypot only near the limit or where the
/// squares could overflow or lose bits to underflow.
inline bool hypot_above(double dx, double dy, double limit) {
    const double d2 = dx * dx + dy * dy;
    const double l2 = limit * limit;
    constexpr double kLow = 0x1p-900;
    constexpr double kHigh = 0x1p+1000;
    if (d2 > kLow && d2 < kHigh && l2 > kLow && l2 < kHigh) {
        if (d2 < l2 * (1.0 - 0x1p-40)) return false;
        if (d2 > l2 * (1.0 + 0x1p-40)) return true;
    }
    return std::hypot(dx, dy) > limit;
}

/// Largest squared distance from (x, y) to a box. Rounding is monotone, so
/// this is never below the computed squared distance of any point inside.
inline double box_far_d2(double xmin, double ymin, double xmax, double ymax, double x, double y) {
    const double dx = std::max(std::fabs(xmin - x), std::fabs(xmax - x));
    const double dy = std::max(std::fabs(ymin - y), std::fabs(ymax - y));
    return dx * dx + dy * dy;
}

/// A static 2-D tree over finite points that answers exactly as
/// `geometry::PointIndex` does (same squared distances, ascending (squared
/// distance, index) order, boundary included) but with flat storage and no
/// sorting of whole answers: the walk over a scattered cloud asks it several
/// million small questions. Its answers name an entry by its tree position
/// (see `spatial_order()`), while their order still goes by the caller's
/// index, so a detection can work on the points in tree order, where points
/// close in space lie close in memory.
class PlanarTree {
    friend class UnlabelledTree;

public:
    explicit PlanarTree(std::span<const std::array<double, 2>> points)
        : ids_(points.size()), leaf_of_(points.size(), 0) {
        // The splits move the points themselves with their indices, so the
        // comparisons read neighbouring memory instead of chasing indices.
        const std::size_t n = points.size();
        const std::size_t chunk = std::max<std::size_t>(parallel::chunk_items(20), 4096);
        FillVector<Item> items(n);
        parallel::for_each_chunk(n, chunk, [&](std::size_t b, std::size_t e) {
            for (std::size_t k = b; k < e; ++k) items[k] = Item{points[k][0], points[k][1], k};
        });
        if (!items.empty()) build(items);
        xs_.resize(n);
        ys_.resize(n);
        parallel::for_each_chunk(n, chunk, [&](std::size_t b, std::size_t end) {
            for (std::size_t e = b; e < end; ++e) {
                xs_[e] = items[e].x;
                ys_[e] = items[e].y;
                ids_[e] = items[e].id;
            }
        });
    }

    std::size_t size() const { return ids_.size(); }

    /// The caller's point index of every tree position: neighbours in space
    /// are mostly neighbours in this order, so per-point queries made in it
    /// share cached memory.
    std::span<const std::size_t> spatial_order() const { return ids_; }

    /// The order of answers: squared distance, then the caller's index of the
    /// two tree positions.
    bool less(const geometry::Neighbor& a, const geometry::Neighbor& b) const {
        if (a.dist2 != b.dist2) return a.dist2 < b.dist2;
        return ids_[a.index] < ids_[b.index];
    }

    /// Replaces `out` by the k nearest entries to (x, y) in ascending
    /// (dist2, index) order (all of them when fewer); empty for a non-finite
    /// position. `near`, a tree position close to (x, y) (kNone: none), only
    /// says where to start: the search begins at its leaf and widens towards
    /// the root until the k-th entry's disc lies inside the subtree searched.
    void nearest_k(double x, double y, std::size_t k, std::vector<geometry::Neighbor>& out,
                   std::size_t near = kNone) const {
        out.clear();
        if (k == 0 || ids_.empty() || !std::isfinite(x) || !std::isfinite(y)) return;
        k = std::min(k, ids_.size());
        out.reserve(k);
        if (near >= leaf_of_.size()) {
            nearest_below(0, x, y, k, out);
            return;
        }
        std::size_t id = leaf_of_[near];
        nearest_below(id, x, y, k, out);
        while (id != 0) {
            // Everything below `id` has been searched.
            if (out.size() == k && holds_disc(id, x, y, out.back().dist2)) return;
            const std::size_t parent = nodes_[id].parent;
            const std::size_t sibling = nodes_[parent].left == id ? nodes_[parent].right : nodes_[parent].left;
            nearest_below(sibling, x, y, k, out);
            id = parent;
        }
    }

    /// Visits the entries in ascending (dist2, index) order from (x, y),
    /// skipping the first `skip` and stopping after `limit` in all (0: no
    /// limit), when `visit` returns false or when the entries run out.
    /// Nothing for a non-finite position. The search is best-first, so it
    /// costs little more than the entries it hands out.
    template <class F>
    void visit_nearest(double x, double y, std::size_t skip, std::size_t limit, F&& visit) const {
        if (ids_.empty() || !std::isfinite(x) || !std::isfinite(y)) return;
        if (limit == 0) limit = std::numeric_limits<std::size_t>::max();
        // Nodes and entries in one heap, nearest first; a node comes before an
        // entry at the same squared distance, since it may hold an entry with
        // that distance and a lower index.
        const auto later = [](const HeapItem& a, const HeapItem& b) {
            if (a.d2 != b.d2) return a.d2 > b.d2;
            if (a.node != b.node) return b.node;
            return a.key > b.key;
        };
        // Scratch of this thread: the per-point passes run on several.
        static thread_local std::vector<HeapItem> heap;
        heap.clear();
        heap.push_back({box_d2(nodes_[0].xmin, nodes_[0].ymin, nodes_[0].xmax, nodes_[0].ymax, x, y), 0, true, 0});
        std::size_t seen = 0;
        while (!heap.empty() && seen < limit) {
            std::pop_heap(heap.begin(), heap.end(), later);
            const HeapItem item = heap.back();
            heap.pop_back();
            if (!item.node) {
                if (seen++ < skip) continue;
                if (!visit(geometry::Neighbor{item.pos, item.d2})) return;
                continue;
            }
            const Node& node = nodes_[item.key];
            if (node.left == kNone) {
                for (std::size_t e = node.begin; e < node.end; ++e) {
                    heap.push_back({sq_dist(xs_[e], ys_[e], x, y), ids_[e], false, e});
                    std::push_heap(heap.begin(), heap.end(), later);
                }
                continue;
            }
            for (const std::size_t c : {node.left, node.right}) {
                const Node& child = nodes_[c];
                heap.push_back({box_d2(child.xmin, child.ymin, child.xmax, child.ymax, x, y), c, true, 0});
                std::push_heap(heap.begin(), heap.end(), later);
            }
        }
    }

    /// As `visit_nearest`, resuming after `skip` entries already handed out,
    /// `last` being the final one of them, and never going beyond `stop_d2`
    /// (the caller's visit would stop at any entry farther than that). The
    /// entries come from growing rings of plain range searches, each sorted on
    /// its own; a ring far denser than the ones before falls back to the
    /// best-first search.
    template <class F>
    void visit_nearest_after(double x, double y, geometry::Neighbor last, std::size_t skip, std::size_t limit,
                             double stop_d2, F&& visit, std::size_t near = kNone) const {
        double t = last.dist2;
        if (!(t > 0.0 && std::isfinite(t)) || !std::isfinite(x) || !std::isfinite(y)) {
            visit_nearest(x, y, skip, limit, visit);
            return;
        }
        // Scratch of this thread: the per-point passes run on several.
        static thread_local std::vector<geometry::Neighbor> ring;
        std::size_t seen = skip;
        // The first ring reaches four times the area of the entries handed
        // out, which holds what most walks still need; later rings double.
        double grow = 4.0;
        while (seen < limit) {
            const double next = std::min(grow * t, stop_d2);
            grow = 2.0;
            // Every entry after `last` in (dist2, index) order, up to `next`.
            ring.clear();
            bool overflow = false;
            // Nodes lying wholly before `last` were handed out with the rings
            // before and are not walked again.
            const std::size_t last_id = ids_[last.index];
            gather_positions(climb(near, x, y, next), x, y, next, last.dist2, [&](std::size_t e, double d2) {
                if (d2 < last.dist2 || (d2 == last.dist2 && ids_[e] <= last_id)) return;
                if (ring.size() == kMaxRing) {
                    overflow = true;
                    return;
                }
                ring.push_back({e, d2});
            });
            if (overflow) {
                visit_nearest(x, y, seen, limit, visit);
                return;
            }
            std::sort(ring.begin(), ring.end(), [this](const auto& a, const auto& b) { return less(a, b); });
            for (const auto& nb : ring) {
                if (!visit(nb)) return;
                if (++seen == limit) return;
            }
            if (next >= stop_d2) return;
            if (!ring.empty()) last = ring.back();
            t = next;
        }
    }

    /// Calls `visit(position, dist2)` for every entry whose squared distance
    /// from (x, y) is at most radius², in no particular order. Nothing for a
    /// non-finite position or a negative or NaN radius. `near` as in
    /// `nearest_k`.
    template <class F>
    void for_each_within_by_position(double x, double y, double radius, F&& visit, std::size_t near = kNone) const {
        if (ids_.empty() || !std::isfinite(x) || !std::isfinite(y) || !(radius >= 0.0)) return;
        const double r2 = radius * radius;
        gather_positions(climb(near, x, y, r2), x, y, r2, -1.0, visit);
    }

private:
    static constexpr std::size_t kNone = std::numeric_limits<std::size_t>::max();
    static constexpr std::size_t kLeaf = 8;
    static constexpr std::size_t kMaxRing = 512;

    /// `visit(position, dist2)` for every entry with dist2 <= r2, skipping
    /// nodes whose every entry has a dist2 below `inner_d2`.
    template <class F>
    void gather_positions(std::size_t start, double x, double y, double r2, double inner_d2, F&& visit) const {
        std::array<std::size_t, 128> stack;
        std::size_t top = 0;
        stack[top++] = start;
        while (top > 0) {
            const Node& node = nodes_[stack[--top]];
            if (box_d2(node.xmin, node.ymin, node.xmax, node.ymax, x, y) > r2) continue;
            if (box_far_d2(node.xmin, node.ymin, node.xmax, node.ymax, x, y) < inner_d2) continue;
            if (node.left == kNone) {
                for (std::size_t e = node.begin; e < node.end; ++e) {
                    const double d2 = sq_dist(xs_[e], ys_[e], x, y);
                    if (d2 <= r2) visit(e, d2);
                }
                continue;
            }
            stack[top++] = node.right;
            stack[top++] = node.left;
        }
    }

    struct Node {
        double xmin, ymin, xmax, ymax;
        std::size_t begin, end;
        std::size_t left = kNone, right = kNone, parent = kNone;
    };

    // Median splits keep the depth at log2(n / kLeaf), far below the stack
    // size of the queries.
    /// A point with its index, as the build moves it.
    struct Item {
        double x, y;
        std::size_t id;
    };

    /// A node still to be made: its items, its parent and its number.
    struct Split {
        std::size_t begin, end, parent, id;
    };

    /// Nodes of the subtree over `count` items (each split halves its items
    /// until a leaf holds at most kLeaf).
    static std::size_t subtree_nodes(std::size_t count, std::vector<std::pair<std::size_t, std::size_t>>& memo) {
        if (count <= kLeaf) return 1;
        for (const auto& [c, nodes] : memo)
            if (c == count) return nodes;
        const std::size_t nodes = 1 + subtree_nodes(count / 2, memo) + subtree_nodes(count - count / 2, memo);
        memo.emplace_back(count, nodes);
        return nodes;
    }

    /// The tree over all items, numbered depth first (a node's left child
    /// follows it). Each split depends only on its own items, so the first
    /// levels split their nodes side by side on the toolkit's threads, and
    /// then the subtrees below are built side by side; every node's number
    /// follows from the sizes alone, so the tree is the same on any number
    /// of threads.
    void build(FillVector<Item>& items) {
        std::vector<std::pair<std::size_t, std::size_t>> memo;
        nodes_.resize(subtree_nodes(items.size(), memo));
        std::vector<Split> level{{0, items.size(), kNone, 0}};
        // Enough subtrees for every thread to take several.
        const std::size_t wide = 8 * parallel::thread_count();
        while (!level.empty() && level.size() < wide) {
            std::vector<std::array<Split, 2>> children(level.size());
            std::vector<char> inner(level.size(), 0);
            parallel::for_each_chunk(level.size(), 1, [&](std::size_t b, std::size_t e) {
                std::vector<std::pair<std::size_t, std::size_t>> local;
                for (std::size_t k = b; k < e; ++k) {
                    const auto halves = split(items, level[k], local);
                    if (halves) {
                        children[k] = *halves;
                        inner[k] = 1;
                    }
                }
            });
            std::vector<Split> next;
            for (std::size_t k = 0; k < level.size(); ++k)
                if (inner[k]) next.insert(next.end(), children[k].begin(), children[k].end());
            level = std::move(next);
        }
        parallel::for_each_chunk(level.size(), 1, [&](std::size_t b, std::size_t e) {
            std::vector<std::pair<std::size_t, std::size_t>> local;
            for (std::size_t k = b; k < e; ++k) build_below(items, level[k], local);
        });
    }

    void build_below(FillVector<Item>& items, const Split& at,
                     std::vector<std::pair<std::size_t, std::size_t>>& memo) {
        const auto halves = split(items, at, memo);
        if (!halves) return;
        build_below(items, (*halves)[0], memo);
        build_below(items, (*halves)[1], memo);
    }

    /// Makes node `at.id` over its items; for an inner node, moves the lower
    /// half of its items (by the coordinate of its longer side, then index)
    /// before the upper half and returns the two halves still to be made.
    std::optional<std::array<Split, 2>> split(FillVector<Item>& items, const Split& at,
                                              std::vector<std::pair<std::size_t, std::size_t>>& memo) {
        const auto [begin, end, parent, id] = at;
        Node node{kInf, kInf, -kInf, -kInf, begin, end};
        node.parent = parent;
        for (std::size_t e = begin; e < end; ++e) {
            node.xmin = std::min(node.xmin, items[e].x);
            node.ymin = std::min(node.ymin, items[e].y);
            node.xmax = std::max(node.xmax, items[e].x);
            node.ymax = std::max(node.ymax, items[e].y);
        }
        if (end - begin <= kLeaf) {
            nodes_[id] = node;
            for (std::size_t e = begin; e < end; ++e) leaf_of_[e] = id;
            return std::nullopt;
        }
        const int axis = (node.xmax - node.xmin) >= (node.ymax - node.ymin) ? 0 : 1;
        const std::size_t mid = begin + (end - begin) / 2;
        std::nth_element(items.begin() + static_cast<std::ptrdiff_t>(begin),
                         items.begin() + static_cast<std::ptrdiff_t>(mid),
                         items.begin() + static_cast<std::ptrdiff_t>(end), [axis](const Item& a, const Item& b) {
                             const double ca = axis == 0 ? a.x : a.y;
                             const double cb = axis == 0 ? b.x : b.y;
                             if (ca != cb) return ca < cb;
                             return a.id < b.id;
                         });
        node.left = id + 1;
        node.right = id + 1 + subtree_nodes(mid - begin, memo);
        nodes_[id] = node;
        return std::array<Split, 2>{Split{begin, mid, id, node.left}, Split{mid, end, id, node.right}};
    }

    /// The lowest node on the way from the leaf holding tree position `near`
    /// to the root whose subtree holds every entry that can have a computed
    /// squared distance from (x, y) of at most r2: one whose box holds the
    /// square around that disc strictly inside (an entry of another subtree
    /// lies on or beyond a split line the box does not cross), else the root.
    /// The radius is widened well beyond every rounding of the distances and
    /// of the comparisons here.
    std::size_t climb(std::size_t near, double x, double y, double r2) const {
        if (near >= leaf_of_.size()) return 0;
        const double r = widened_radius(x, y, r2);
        if (!(r < kInf)) return 0;
        std::size_t id = leaf_of_[near];
        while (id != 0 && !holds_square(id, x, y, r)) id = nodes_[id].parent;
        return id;
    }

    /// A radius beyond which no entry can have a computed squared distance
    /// from (x, y) of at most r2, whatever the rounding here or there.
    static double widened_radius(double x, double y, double r2) {
        return std::sqrt(r2) * (1.0 + 0x1p-40) + (std::fabs(x) + std::fabs(y)) * 0x1p-50 + 0x1p-498;
    }

    /// True when node `id`'s box holds the square of half-side r around
    /// (x, y) strictly inside.
    bool holds_square(std::size_t id, double x, double y, double r) const {
        const Node& n = nodes_[id];
        return n.xmin < x - r && x + r < n.xmax && n.ymin < y - r && y + r < n.ymax;
    }

    /// True when node `id` holds every entry whose computed squared distance
    /// from (x, y) can be at most r2 (see `climb`).
    bool holds_disc(std::size_t id, double x, double y, double r2) const {
        const double r = widened_radius(x, y, r2);
        return r < kInf && holds_square(id, x, y, r);
    }

    /// The k-nearest search below `id`, merging into `out` (at most k
    /// entries, ascending).
    void nearest_below(std::size_t id, double x, double y, std::size_t k, std::vector<geometry::Neighbor>& out) const {
        std::array<std::size_t, 128> stack;
        std::size_t top = 0;
        stack[top++] = id;
        while (top > 0) {
            const Node& node = nodes_[stack[--top]];
            if (out.size() == k && box_d2(node.xmin, node.ymin, node.xmax, node.ymax, x, y) > out.back().dist2)
                continue;
            if (node.left == kNone) {
                for (std::size_t e = node.begin; e < node.end; ++e) {
                    const geometry::Neighbor c{e, sq_dist(xs_[e], ys_[e], x, y)};
                    if (out.size() == k) {
                        if (!less(c, out.back())) continue;
                        out.pop_back();
                    }
                    out.insert(std::upper_bound(out.begin(), out.end(), c,
                                                [this](const auto& a, const auto& b) { return less(a, b); }),
                               c);
                }
                continue;
            }
            const Node& l = nodes_[node.left];
            const Node& r = nodes_[node.right];
            const double dl = box_d2(l.xmin, l.ymin, l.xmax, l.ymax, x, y);
            const double dr = box_d2(r.xmin, r.ymin, r.xmax, r.ymax, x, y);
            // The nearer child goes on top so that it is searched first.
            if (dl <= dr) {
                stack[top++] = node.right;
                stack[top++] = node.left;
            } else {
                stack[top++] = node.left;
                stack[top++] = node.right;
            }
        }
    }

    /// A node (key: node id) or an entry (key: the caller's point index, pos:
    /// its tree position) waiting in the best-first search.
    struct HeapItem {
        double d2;
        std::size_t key;
        bool node;
        std::size_t pos;
    };

    std::vector<std::size_t> ids_;
    std::vector<std::size_t> leaf_of_;  // tree position -> its leaf
    std::vector<double> xs_;
    std::vector<double> ys_;
    std::vector<Node> nodes_;
};

/// The tree of a `PlanarTree` over the same points, forgetting labelled
/// points: every node keeps the bounding box of its unlabelled points (empty
/// once it has none), so subtrees without any are skipped and the boxes shrink
/// away from the region already walked. Finding the unlabelled point nearest
/// to a position thus costs about as much as an ordinary nearest query however
/// many points are labelled. A removal only marks its leaf; the boxes are
/// brought up to date before the next search.
///
/// The walk asks for the point nearest to the centroid of the unlabelled
/// points once per block, and that centroid hardly moves from one block to the
/// next. So a search collects the `kCandidates` nearest unlabelled points and
/// a lower bound of the distance of every other one; the next questions are
/// answered from those candidates for as long as the bound, less the distance
/// the centroid has moved, proves that no other point can come first.
class UnlabelledTree {
public:
    /// Unlabelled points a search keeps as the candidates of later questions.
    static constexpr std::size_t kCandidates = 512;
    /// Candidates of a search `nearest` makes itself: it is waited for, and
    /// the next candidates mostly come from another tree's searches.
    static constexpr std::size_t kOwnCandidates = 32;

    /// `caller[p]` is the index by which ties are broken (empty: p itself).
    /// The tree's nodes are taken over from `tree`, built over the same
    /// points; `point_at[e]` is the point at tree position e (empty: e). The
    /// tree keeps its own copy of the positions in tree order, where a leaf's
    /// points lie side by side.
    /// Every position's entries are its own, so they are filled on the
    /// toolkit's threads; the sums, exact, come out the same from any split.
    UnlabelledTree(std::span<const std::array<double, 2>> points, std::span<const std::size_t> caller,
                   const PlanarTree& tree, std::span<const std::size_t> point_at)
        : xy_(points.size()), key_(points.size()), point_at_(points.size()), position_(points.size()),
          by_key_(points.size()), alive_(points.size()), seen_(points.size()), leaf_of_(tree.leaf_of_) {
        const std::size_t n = points.size();
        const std::size_t chunk = std::max<std::size_t>(parallel::chunk_items(40), 4096);
        std::vector<std::array<ExactSum, 2>> sums((n + chunk - 1) / chunk);
        parallel::for_each_chunk(n, chunk, [&](std::size_t b, std::size_t end) {
            auto& [sx, sy] = sums[b / chunk];
            for (std::size_t e = b; e < end; ++e) {
                const std::size_t p = point_at.empty() ? e : point_at[e];
                point_at_[e] = p;
                position_[p] = e;
                xy_[e] = points[p];
                key_[e] = caller.empty() ? p : caller[p];
                by_key_[key_[e]] = e;
                alive_[e] = 1;
                seen_[e] = 0;
                sx.add(points[p][0]);
                sy.add(points[p][1]);
            }
        });
        for (const auto& [sx, sy] : sums) {
            sum_x_.add(sx);
            sum_y_.add(sy);
        }
        // The tree is laid out depth first: a node's left child follows it.
        nodes_.resize(tree.nodes_.size());
        parent_.resize(tree.nodes_.size());
        parallel::for_each_chunk(tree.nodes_.size(), chunk, [&](std::size_t b, std::size_t end) {
            for (std::size_t id = b; id < end; ++id) {
                const PlanarTree::Node& t = tree.nodes_[id];
                Node& node = nodes_[id];
                node.box = {t.xmin, t.ymin, t.xmax, t.ymax};
                node.anchor = {0.0, 0.0};
                node.reach = 0.0;
                node.link = t.left == PlanarTree::kNone ? leaf_link(t.begin, t.end) : t.right;
                parent_[id] = t.parent;
            }
        });
        dirty_mark_.assign(nodes_.size(), 0);
        remaining_ = n;
    }

    std::size_t remaining() const { return remaining_; }

    /// Number of searches made so far: the candidates change with each.
    std::uint64_t searches() const { return searches_; }

    /// The candidates still unlabelled (the walk's points), nearest to the
    /// last search's position first.
    void candidate_points(std::vector<std::size_t>& out) const {
        out.clear();
        for (std::size_t k = first_live_; k < candidates_.size(); ++k)
            if (alive_[candidates_[k].at]) out.push_back(point_at_[candidates_[k].at]);
    }

    /// The mean of the unlabelled positions (from their exact sums).
    std::array<double, 2> centroid() const {
        const double n = static_cast<double>(remaining_);
        return {sum_x_.value() / n, sum_y_.value() / n};
    }

    /// The unlabelled point nearest to (x, y) by squared distance, the lowest
    /// caller index among equals. Requires remaining() > 0.
    std::size_t nearest(double x, double y) {
        if (!std::isfinite(x) || !std::isfinite(y)) return point_at_[first_alive()];
        double best_d2 = kInf;
        if (const std::size_t e = from_candidates(x, y, best_d2); e != kNone) return point_at_[e];
        search_candidates(x, y, best_d2, kOwnCandidates);
        return point_at_[found_.empty() ? first_alive() : found_.front().at];
    }

    /// A candidate of a search, with what the next questions read: its
    /// position, a lower bound of its distance from the anchor, its caller's
    /// index and tree position.
    struct Candidate {
        double x, y;
        double reach;
        std::size_t key;
        std::size_t at;
    };

    /// The candidates of a search, as another tree over the same points takes
    /// them over.
    struct Candidates {
        std::vector<Candidate> candidates;
        std::array<double, 2> anchor{0.0, 0.0};
        double cover = 0.0;
    };

    /// The answer of `nearest` when the present candidates prove it.
    std::optional<std::size_t> proved_nearest(double x, double y) {
        if (!std::isfinite(x) || !std::isfinite(y)) return std::nullopt;
        double best_d2 = kInf;
        const std::size_t e = from_candidates(x, y, best_d2);
        if (e == kNone) return std::nullopt;
        return point_at_[e];
    }

    /// A new search for candidates around (x, y), into `out`. The answers
    /// stay valid for a tree that has since lost more points: each of those
    /// points only drops out of the candidates or moves farther from the
    /// bound.
    void search_around(double x, double y, Candidates& out) {
        if (!std::isfinite(x) || !std::isfinite(y) || remaining_ == 0) return;
        double best_d2 = kInf;
        if (!candidates_.empty()) from_candidates(x, y, best_d2);
        search_candidates(x, y, best_d2, kCandidates);
        out.candidates = candidates_;
        out.anchor = anchor_;
        out.cover = cover_;
    }

    /// Takes over the candidates of a search made on a tree over the same
    /// points that had lost no point this one still holds.
    void adopt(const Candidates& in) {
        candidates_ = in.candidates;
        anchor_ = in.anchor;
        cover_ = in.cover;
        first_live_ = 0;
        ++searches_;
    }

    /// Asks for what `remove(p)` reads first.
    void prefetch(std::size_t p) const { vz::prefetch(&position_[p]); }

    void remove(std::size_t p) {
        const std::size_t at = position_[p];
        if (!alive_[at]) return;
        alive_[at] = 0;
        --remaining_;
        sum_x_.sub(xy_[at][0]);
        sum_y_.sub(xy_[at][1]);
        const std::size_t leaf = leaf_of_[at];
        if (!dirty_mark_[leaf]) {
            dirty_mark_[leaf] = 1;
            dirty_.push_back(leaf);
        }
    }

private:
    static constexpr std::size_t kNone = std::numeric_limits<std::size_t>::max();

    /// A leaf's link: this bit, its point count from bit 56, its first
    /// position below (positions stay far below 2^56: each takes more than
    /// 256 bytes of memory here).
    static constexpr std::uint64_t kLeafBit = std::uint64_t{1} << 63;
    static constexpr std::uint64_t kBeginBits = (std::uint64_t{1} << 56) - 1;

    /// (xmin, ymin, xmax, ymax) of the unlabelled points; empty: +inf, -inf.
    using Box = std::array<double, 4>;
    static constexpr Box kEmpty{kInf, kInf, -kInf, -kInf};

    static bool empty(const Box& b) { return b[0] > b[2]; }

    static std::uint64_t leaf_link(std::size_t begin, std::size_t end) {
        return kLeafBit | (std::uint64_t{end - begin} << 56) | begin;
    }
    /// The positions [begin, end) of a leaf's link.
    static std::pair<std::size_t, std::size_t> leaf_range(std::uint64_t link) {
        const auto begin = static_cast<std::size_t>(link & kBeginBits);
        return {begin, begin + static_cast<std::size_t>((link >> 56) & 0x7F)};
    }

    /// What a search reads of a node, in one cache line. `reach` is a lower
    /// bound of the distance from `anchor` to every unlabelled point below
    /// the node, left by the last search that looked at the node; removals
    /// only raise the true distances, so it stays a bound. `link` is the right
    /// child of an inner node (the left one follows the node) or a leaf's
    /// positions.
    struct alignas(64) Node {
        Box box;
        std::array<double, 2> anchor;
        double reach;
        std::uint64_t link;
    };

    /// A point kept by the running search.
    struct Found {
        double d2;
        std::size_t at;
    };

    static void grow(Box& b, const std::array<double, 2>& p) {
        b[0] = std::min(b[0], p[0]);
        b[1] = std::min(b[1], p[1]);
        b[2] = std::max(b[2], p[0]);
        b[3] = std::max(b[3], p[1]);
    }

    double d2_from(std::size_t e, double x, double y) const {
        const double dx = xy_[e][0] - x;
        const double dy = xy_[e][1] - y;
        return dx * dx + dy * dy;
    }

    /// The order of answers: squared distance, then the caller's index.
    bool before(const Found& a, const Found& b) const {
        return a.d2 < b.d2 || (a.d2 == b.d2 && key_[a.at] < key_[b.at]);
    }

    /// A new search for the candidates around (x, y), `best_d2` being the
    /// best candidate's squared distance from there (+inf for none): first
    /// within a guess of the distance that holds the next `count` points
    /// (the candidates it keeps), the best candidate's distance (else the old
    /// bound beyond the distance moved) and the width of the ring the last
    /// search needed, doubled while nothing lies within it. Leaves the
    /// candidates in `found_` too, first first.
    void search_candidates(double x, double y, double best_d2, std::size_t count) {
        count_ = count;
        refresh_boxes();
        double limit = kInf;
        if (!candidates_.empty()) {
            const double mx = x - anchor_[0];
            const double my = y - anchor_[1];
            const double start = best_d2 < kInf ? std::sqrt(best_d2) : cover_ + std::sqrt(mx * mx + my * my);
            limit = start + width_;
        }
        for (int tries = 0;; ++tries) {
            const double limit_d2 = tries < 64 ? limit * limit : kInf;
            search_within(x, y, limit_d2 < kInf ? limit_d2 : kInf);
            if (!found_.empty() || !(limit_d2 < kInf)) break;
            width_ = std::max(2.0 * width_, std::fabs(limit) * 0x1p-20 + 0x1p-500);
            limit += width_;
        }
        std::sort_heap(found_.begin(), found_.end(), [this](const Found& a, const Found& b) { return before(a, b); });
        ++searches_;
        candidates_.clear();
        for (const Found& f : found_)
            candidates_.push_back({xy_[f.at][0], xy_[f.at][1], root_bound(f.d2), key_[f.at], f.at});
        first_live_ = 0;
        anchor_ = {x, y};
        // Every other unlabelled point lies at a computed squared distance of
        // at least the last candidate's, or beyond the limit when fewer were
        // found; with no limit, there is then no other point.
        cover_ = found_.size() == count_ ? root_bound(found_.back().d2) : root_bound(limit_d2_);
        if (!found_.empty() && cover_ < kInf) {
            const double ring = cover_ - std::sqrt(found_.front().d2);
            width_ = found_.size() == count_ ? ring : 2.0 * std::max(width_, ring);
        }
    }

    /// The `count_` unlabelled points first in (squared distance, index)
    /// order from (x, y) among those whose squared distance is at most
    /// `limit_d2`, into `found_` as a heap. The candidates still unlabelled
    /// are offered first: they lie near the answer, so the search starts
    /// with a close bound.
    void search_within(double x, double y, double limit_d2) {
        if (++stamp_ == 0) {  // the marks wrapped: forget the old ones
            std::fill(seen_.begin(), seen_.end(), 0);
            stamp_ = 1;
        }
        found_.clear();
        limit_d2_ = limit_d2;
        best_d2_ = limit_d2;
        for (const Candidate& c : candidates_) {
            if (!alive_[c.at]) continue;
            seen_[c.at] = stamp_;
            offer(d2_from(c.at, x, y), c.at);
        }
        if (!empty(nodes_[0].box)) search(0, x, y);
    }

    /// Keeps (d2, e) among the `count_` first found so far within the
    /// limit, held as a heap whose top is the last of them.
    void offer(double d2, std::size_t e) {
        if (!(d2 <= limit_d2_)) return;
        const auto later = [this](const Found& a, const Found& b) { return before(a, b); };
        const Found f{d2, e};
        if (found_.size() == count_) {
            if (!before(f, found_.front())) return;
            std::pop_heap(found_.begin(), found_.end(), later);
            found_.back() = f;
        } else {
            found_.push_back(f);
        }
        std::push_heap(found_.begin(), found_.end(), later);
        if (found_.size() == count_) best_d2_ = std::min(best_d2_, found_.front().d2);
    }

    /// The answer from the candidates of the last search, when they prove it;
    /// kNone otherwise.
    std::size_t from_candidates(double x, double y, double& best_d2) {
        // Every other unlabelled point lies at least `cover_` from the anchor,
        // so at least `cover_` less the distance moved from (x, y); so does
        // each candidate beyond its own distance from the anchor.
        const double mx = x - anchor_[0];
        const double my = y - anchor_[1];
        const double moved = std::sqrt(mx * mx + my * my) * (1.0 + kSlack) + 0x1p-498;
        while (first_live_ < candidates_.size() && !alive_[candidates_[first_live_].at]) ++first_live_;
        best_d2 = kInf;
        const Candidate* best = nullptr;
        // The candidates lie in order of their distance from the anchor: once
        // one lies too far from the anchor to come first, so do the rest.
        for (std::size_t k = first_live_; k < candidates_.size(); ++k) {
            const Candidate& c = candidates_[k];
            if (best != nullptr && proves_beyond(c.reach - moved, best_d2)) break;
            if (!alive_[c.at]) continue;
            const double dx = c.x - x;
            const double dy = c.y - y;
            const double d2 = dx * dx + dy * dy;
            if (best == nullptr || d2 < best_d2 || (d2 == best_d2 && c.key < best->key)) {
                best_d2 = d2;
                best = &c;
            }
        }
        if (best == nullptr) return kNone;
        return proves_beyond(cover_ - moved, best_d2) ? best->at : kNone;
    }

    /// Brings the boxes of the leaves that lost points, and of the nodes
    /// above them, up to date. Once a box stays as it was, the boxes above it
    /// do too.
    void refresh_boxes() {
        for (const std::size_t leaf : dirty_) {
            dirty_mark_[leaf] = 0;
            const auto [begin, end] = leaf_range(nodes_[leaf].link);
            Box box = kEmpty;
            for (std::size_t e = begin; e < end; ++e)
                if (alive_[e]) grow(box, xy_[e]);
            if (box == nodes_[leaf].box) continue;
            nodes_[leaf].box = box;
            for (std::size_t id = parent_[leaf]; id != kNone; id = parent_[id]) {
                const Box& l = nodes_[id + 1].box;
                const Box& r = nodes_[nodes_[id].link].box;
                const Box merged{std::min(l[0], r[0]), std::min(l[1], r[1]), std::max(l[2], r[2]),
                                 std::max(l[3], r[3])};
                if (merged == nodes_[id].box) break;
                nodes_[id].box = merged;
            }
        }
        dirty_.clear();
    }

    /// The tree position of the unlabelled point of lowest caller index.
    std::size_t first_alive() {
        while (!alive_[by_key_[first_alive_]]) ++first_alive_;
        return by_key_[first_alive_];
    }

    static double node_d2(const Node& n, double x, double y) { return box_d2(n.box[0], n.box[1], n.box[2], n.box[3], x, y); }

    // Relative slack that covers the rounding of the distances and bounds
    // below many times over, so that a bound never exceeds a true distance.
    static constexpr double kSlack = 0x1p-40;

    /// A lower bound of the true distance behind a computed squared distance.
    /// An overflowed square only says that the distance is beyond the root
    /// of the largest double.
    static double root_bound(double d2) {
        const double r = std::sqrt(std::min(d2, std::numeric_limits<double>::max())) * (1.0 - kSlack);
        return r >= 0.0 ? r : 0.0;
    }

    /// True when every point at a true distance of at least `bound` has a
    /// computed squared distance above `d2`. Below 2^-400 the squares lose
    /// bits to underflow, and nothing is proved.
    static bool proves_beyond(double bound, double d2) {
        return bound > 0x1p-400 && bound * bound * (1.0 - kSlack) > d2;
    }

    /// True when no unlabelled point below the node can have a computed
    /// squared distance at or below the last of the points kept so far; then
    /// `bound` is a lower bound of their true distances from (x, y): the
    /// box's distance (`box_d2`, computed), or the node's reach from its
    /// anchor less the anchor's distance from (x, y).
    bool beyond_best(const Node& n, double box_d2, double x, double y, double& bound) const {
        if (box_d2 > best_d2_) {
            bound = root_bound(box_d2);
            return true;
        }
        // Squares below 2^-996 may underflow: the added 2^-498 covers them.
        const double mx = x - n.anchor[0];
        const double my = y - n.anchor[1];
        const double moved = std::sqrt(mx * mx + my * my) * (1.0 + kSlack) + 0x1p-498;
        bound = n.reach - moved;
        return proves_beyond(bound, best_d2_);
    }

    /// Searches below `id` (which holds unlabelled points and was not ruled
    /// out) and leaves there, as the node's reach from (x, y), the smallest
    /// distance of its unlabelled points or a lower bound of it. Successive
    /// searches start from nearby centroids, and the rim of the walked
    /// region is far from them on every side, so the reaches rule out most of
    /// the rim without descending into it.
    double search(std::size_t id, double x, double y) {
        Node& node = nodes_[id];
        double reach = kInf;
        if ((node.link & kLeafBit) != 0) {
            const auto [begin, end] = leaf_range(node.link);
            double nearest_d2 = kInf;
            for (std::size_t e = begin; e < end; ++e) {
                if (!alive_[e]) continue;
                const double d2 = d2_from(e, x, y);
                nearest_d2 = std::min(nearest_d2, d2);
                if (seen_[e] != stamp_) offer(d2, e);
            }
            reach = root_bound(nearest_d2);
        } else {
            const std::size_t l = id + 1;
            const std::size_t r = static_cast<std::size_t>(node.link);
            const double dl = node_d2(nodes_[l], x, y);
            const double dr = node_d2(nodes_[r], x, y);
            const bool left_first = dl <= dr;
            for (const bool left : {left_first, !left_first}) {
                const std::size_t child = left ? l : r;
                if (empty(nodes_[child].box)) continue;
                double bound = 0.0;
                const double got = beyond_best(nodes_[child], left ? dl : dr, x, y, bound) ? bound : search(child, x, y);
                reach = std::min(reach, got);
            }
        }
        if (!(reach >= 0.0)) reach = 0.0;
        node.anchor = {x, y};
        node.reach = reach;
        return reach;
    }

    // By tree position: the position, the caller's index, the walk's point.
    FillVector<std::array<double, 2>> xy_;
    FillVector<std::size_t> key_;
    FillVector<std::size_t> point_at_;
    /// The tree position of a walk's point, and of a caller's index.
    FillVector<std::size_t> position_;
    FillVector<std::size_t> by_key_;
    FillVector<char> alive_;
    /// Marks the positions offered before the running search started.
    FillVector<std::uint32_t> seen_;
    std::uint32_t stamp_ = 0;
    /// The leaf of every tree position (the tree's own table).
    std::span<const std::size_t> leaf_of_;
    FillVector<Node> nodes_;
    FillVector<std::size_t> parent_;
    /// Leaves that lost points since the boxes were last brought up to date.
    std::vector<std::size_t> dirty_;
    std::vector<char> dirty_mark_;
    std::size_t remaining_ = 0;
    std::size_t first_alive_ = 0;
    ExactSum sum_x_;
    ExactSum sum_y_;
    /// Points a running search keeps.
    std::size_t count_ = kCandidates;
    /// The squared distance of the last of `count_` points kept by the
    /// running search; its limit while fewer are kept.
    double best_d2_ = kInf;
    /// The running search's limit of squared distances.
    double limit_d2_ = kInf;
    /// The width of the ring around the last search's nearest point that
    /// held its candidates.
    double width_ = 0.0;
    /// The points kept by the running search.
    std::vector<Found> found_;
    /// The last search's points, its position and the bound of the others.
    std::vector<Candidate> candidates_;
    /// No candidate before this one is unlabelled.
    std::size_t first_live_ = 0;
    std::uint64_t searches_ = 0;
    std::array<double, 2> anchor_{0.0, 0.0};
    double cover_ = 0.0;
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
    const std::size_t n = points.size();
    // Each input point's fate: skipped (x or y not finite), the first at its
    // position, or a repeat with the same or with another z.
    enum Fate : std::uint8_t { kSkipped, kFirst, kSame, kOther };
    std::vector<std::uint8_t> fate(n, kSkipped);
    std::vector<std::uint64_t> hashes(n);
    const XYBitsHash hash;
    const std::size_t light = parallel::chunk_items(16);
    parallel::for_each_chunk(n, light, [&](std::size_t k0, std::size_t k1) {
        for (std::size_t k = k0; k < k1; ++k) {
            const auto& p = points[k];
            if (!std::isfinite(p[0]) || !std::isfinite(p[1])) continue;
            hashes[k] = hash(XYBits{std::bit_cast<std::uint64_t>(p[0]), std::bit_cast<std::uint64_t>(p[1])});
            fate[k] = kFirst;
        }
    });

    // The positions fall into shards by their hash; each shard keeps its
    // points in input order, so the first occurrence of a position is found
    // within its shard exactly as in one pass over the input, and the shards
    // are independent of one another.
    const int shard_bits = parallel::thread_count() > 1 && n >= (std::size_t{1} << 16) ? 6 : 0;
    const std::size_t shards = std::size_t{1} << shard_bits;
    const std::size_t chunks = shards == 1 ? 1 : (n + light - 1) / light;
    const std::size_t chunk = shards == 1 ? std::max<std::size_t>(n, 1) : light;
    auto shard_of = [&](std::size_t k) { return static_cast<std::size_t>(hashes[k] >> (64 - shard_bits)); };
    // Members of shard s: member[first[s] .. first[s + 1]), in input order.
    std::vector<std::size_t> first(shards + 1, 0);
    std::vector<std::size_t> member;
    if (shards > 1) {
        std::vector<std::size_t> at(chunks * shards, 0);
        parallel::for_each_chunk(n, chunk, [&](std::size_t k0, std::size_t k1) {
            std::size_t* count = &at[k0 / chunk * shards];
            for (std::size_t k = k0; k < k1; ++k)
                if (fate[k] != kSkipped) ++count[shard_of(k)];
        });
        std::size_t total = 0;
        for (std::size_t sh = 0; sh < shards; ++sh) {
            first[sh] = total;
            for (std::size_t c = 0; c < chunks; ++c) {
                const std::size_t count = at[c * shards + sh];
                at[c * shards + sh] = total;
                total += count;
            }
        }
        first[shards] = total;
        member.resize(total);
        parallel::for_each_chunk(n, chunk, [&](std::size_t k0, std::size_t k1) {
            std::size_t* next = &at[k0 / chunk * shards];
            for (std::size_t k = k0; k < k1; ++k)
                if (fate[k] != kSkipped) member[next[shard_of(k)]++] = k;
        });
    }
    // Open addressing over each shard's kept points: one probe sequence per
    // input point and no node per key.
    parallel::for_each_chunk(shards, 1, [&](std::size_t sh, std::size_t) {
        const std::size_t count = shards == 1 ? n : first[sh + 1] - first[sh];
        auto input = [&](std::size_t m) { return shards == 1 ? m : member[first[sh] + m]; };
        constexpr std::size_t kFree = std::numeric_limits<std::size_t>::max();
        std::size_t capacity = 16;
        while (capacity < 2 * count) capacity *= 2;
        const std::size_t mask = capacity - 1;
        std::vector<std::size_t> slots(capacity, kFree);
        auto same_xy = [&](std::size_t a, std::size_t b) {
            return std::bit_cast<std::uint64_t>(points[a][0]) == std::bit_cast<std::uint64_t>(points[b][0]) &&
                   std::bit_cast<std::uint64_t>(points[a][1]) == std::bit_cast<std::uint64_t>(points[b][1]);
        };
        for (std::size_t m = 0; m < count; ++m) {
            const std::size_t k = input(m);
            if (fate[k] == kSkipped) continue;
            std::size_t slot = static_cast<std::size_t>(hashes[k]) & mask;
            while (slots[slot] != kFree && !same_xy(slots[slot], k)) slot = (slot + 1) & mask;
            if (slots[slot] == kFree)
                slots[slot] = k;
            else
                fate[k] = std::bit_cast<std::uint64_t>(points[slots[slot]][2]) == std::bit_cast<std::uint64_t>(points[k][2])
                              ? kSame
                              : kOther;
        }
    });

    // The kept points in input order.
    DistinctPoints out;
    const std::size_t blocks = (n + light - 1) / light;
    std::vector<std::size_t> kept_before(blocks + 1, 0);
    for (std::size_t k = 0; k < n; ++k) {
        if (fate[k] == kFirst) ++kept_before[k / light + 1];
        out.coincident_dropped += fate[k] == kSame;
        out.coincident_ambiguous += fate[k] == kOther;
    }
    for (std::size_t b = 0; b < blocks; ++b) kept_before[b + 1] += kept_before[b];
    out.points.resize(kept_before[blocks]);
    out.z.resize(kept_before[blocks]);
    parallel::for_each_chunk(n, light, [&](std::size_t k0, std::size_t k1) {
        std::size_t at = kept_before[k0 / light];
        for (std::size_t k = k0; k < k1; ++k) {
            if (fate[k] != kFirst) continue;
            out.points[at] = {points[k][0], points[k][1]};
            out.z[at] = points[k][2];
            ++at;
        }
    });
    return out;
}

namespace {

/// A `geometry::PointIndex` seen through the query interface of `PlanarTree`;
/// both give the same answers.
struct IndexQueries {
    const geometry::PointIndex& index;

    /// `near` (a hint of the tree's) means nothing here.
    void nearest_k(double x, double y, std::size_t k, std::vector<geometry::Neighbor>& out,
                   std::size_t /*near*/ = 0) const {
        out = index.nearest_k(x, y, k);
    }
    template <class F>
    void visit_nearest(double x, double y, std::size_t skip, std::size_t limit, F&& visit) const {
        if (limit == 0) {
            std::size_t seen = 0;
            index.for_each_nearest(x, y, [&](const geometry::Neighbor& nb) {
                if (seen++ < skip) return true;
                return visit(nb);
            });
            return;
        }
        // Bounded walks mostly end early: ask for a few entries first and for
        // the whole limit only when they do not suffice. The order is total,
        // so the longer answer extends the shorter one.
        for (std::size_t k = std::min<std::size_t>(16, limit);; k = limit) {
            const auto entries = index.nearest_k(x, y, k);
            for (std::size_t e = skip; e < entries.size(); ++e)
                if (!visit(entries[e])) return;
            if (entries.size() < k || k == limit) return;
            skip = entries.size();
        }
    }
    template <class F>
    void visit_nearest_after(double x, double y, geometry::Neighbor /*last*/, std::size_t skip, std::size_t limit,
                             double /*stop_d2*/, F&& visit, std::size_t /*near*/ = 0) const {
        visit_nearest(x, y, skip, limit, visit);
    }
    template <class F>
    void for_each_within(double x, double y, double radius, F&& visit, std::size_t /*near*/ = 0) const {
        for (const auto& nb : index.within(x, y, radius)) visit(nb.index, nb.dist2);
    }
};

/// Range queries of a `PlanarTree` naming entries by tree position.
struct TreeOrderQueries {
    const PlanarTree& tree;

    /// `near`: the tree position of a point close to (x, y), where the
    /// search starts.
    template <class F>
    void for_each_within(double x, double y, double radius, F&& visit, std::size_t near) const {
        tree.for_each_within_by_position(x, y, radius, visit, near);
    }
};

/// Range queries of a grid over the points, naming entries by their place
/// in the grid's order.
struct GridQueries {
    const geometry::PointGrid& grid;

    template <class F>
    void for_each_within(double x, double y, double radius, F&& visit, std::size_t /*near*/) const {
        grid.for_each_entry_within(x, y, radius, visit);
    }
};

/// Runs `body(begin, end)` over chunks of [0, count). Queries of the
/// detection's own tree (which keep their scratch per thread) run on several
/// threads when the work is large; those of a shared index run in order on
/// the calling thread. Every point's result is its own either way.
template <class Queries, class Body>
void for_each_point(std::size_t count, std::uint64_t work_per_point, Body&& body) {
    if constexpr (std::is_same_v<Queries, PlanarTree>) {
        parallel::for_each_chunk(count, parallel::chunk_items(work_per_point), body);
    } else {
        body(std::size_t{0}, count);
    }
}

/// The nearest entries of each distinct point, in (squared distance, index)
/// order: either asked of the index on demand or read from a table of the
/// first `kCached` entries filled once, which serves the cell size, the
/// azimuth and most of the axis-step walk from one query per point.
template <class Queries>
class Neighbours {
public:
    static constexpr std::size_t kCached = 6;

    Neighbours(const Queries& queries, std::span<const std::array<double, 2>> points, bool cache)
        : queries_(queries), points_(points) {
        if (!cache) return;
        table_.resize(points.size() * kCached);
        counts_.resize(points.size());
        // Every point's row of the table is its own: the rows are filled on
        // several threads, each with its own scratch.
        for_each_point<Queries>(points.size(), 2000, [&](std::size_t k0, std::size_t k1) {
            std::vector<geometry::Neighbor> found;
            for (std::size_t p = k0; p < k1; ++p) {
                queries.nearest_k(points[p][0], points[p][1], kCached, found, p);
                std::copy(found.begin(), found.end(), table_.begin() + static_cast<std::ptrdiff_t>(p * kCached));
                counts_[p] = static_cast<std::uint8_t>(found.size());
            }
        });
        cached_ = true;
    }

    const Queries& queries() const { return queries_; }

    /// The first k (at most kCached) entries from point p.
    std::span<const geometry::Neighbor> first(std::size_t p, std::size_t k) {
        if (cached_)
            return {table_.data() + p * kCached, std::min<std::size_t>(k, counts_[p])};
        queries_.nearest_k(points_[p][0], points_[p][1], k, scratch_);
        return scratch_;
    }

    /// Visits the entries from point p in order until `visit` returns false,
    /// at most `limit` of them (0: no limit). `visit` is known to stop at any
    /// entry whose squared distance exceeds `stop_d2`. `near`: p's place in
    /// the spatial order, when the walk goes in that order.
    template <class F>
    void visit(std::size_t p, std::size_t limit, F&& visit, double stop_d2 = kInf, std::size_t near = kNoHint) {
        std::size_t skip = 0;
        if (cached_) {
            for (const auto& nb : first(p, kCached))
                if (!visit(nb)) return;
            if (counts_[p] < kCached || limit == kCached) return;  // nothing more to see
            skip = kCached;
        }
        if (skip > 0 && limit != 0) {
            queries_.visit_nearest_after(points_[p][0], points_[p][1], table_[p * kCached + skip - 1], skip, limit,
                                         stop_d2, visit, near);
            return;
        }
        queries_.visit_nearest(points_[p][0], points_[p][1], skip, limit, visit);
    }

private:
    const Queries& queries_;
    std::span<const std::array<double, 2>> points_;
    bool cached_ = false;
    std::vector<geometry::Neighbor> table_;
    std::vector<std::uint8_t> counts_;
    std::vector<geometry::Neighbor> scratch_;
};

template <class Q>
std::optional<double> nonzero_from(Neighbours<Q>& nbs, std::span<const std::array<double, 2>> points, std::size_t p) {
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

/// The element of the caller's point `p`: `element_of[p]`, or p itself when
/// the map is empty (the points are in the caller's order).
inline std::size_t element(std::span<const std::size_t> element_of, std::size_t p) {
    return element_of.empty() ? p : element_of[p];
}

/// Hands the terms of the caller's points to `consume` in order: for k = 0,
/// 1, …, the first m of the K slots that `m = produce(p, slots)` fills for
/// p = element(element_of, k). With the detection's own tree the terms are
/// produced side by side in the points' own order (where neighbouring
/// points share cached memory), gathered in the caller's order (chunks side
/// by side), then consumed in order on the calling thread, so sums over them
/// come out as from one loop.
template <class Q, class T, std::size_t K, class Produce, class Consume>
void ordered_terms(std::size_t count, std::span<const std::size_t> element_of, std::uint64_t work_per_point,
                   Produce&& produce, Consume&& consume) {
    if constexpr (!std::is_same_v<Q, PlanarTree>) {
        std::array<T, K> slots;
        for (std::size_t k = 0; k < count; ++k) {
            const std::size_t m = produce(element(element_of, k), slots);
            for (std::size_t e = 0; e < m; ++e) consume(slots[e]);
        }
    } else {
        static_assert(K < 256);
        std::vector<std::array<T, K>> terms(count);
        std::vector<std::uint8_t> made(count);
        const std::size_t chunk = std::max<std::size_t>(parallel::chunk_items(work_per_point), 4096);
        parallel::for_each_chunk(count, chunk, [&](std::size_t b, std::size_t e) {
            for (std::size_t p = b; p < e; ++p) made[p] = static_cast<std::uint8_t>(produce(p, terms[p]));
        });
        std::vector<std::vector<T>> parts((count + chunk - 1) / chunk);
        parallel::for_each_chunk(count, chunk, [&](std::size_t b, std::size_t e) {
            std::vector<T>& part = parts[b / chunk];
            for (std::size_t k = b; k < e; ++k) {
                const std::size_t p = element(element_of, k);
                part.insert(part.end(), terms[p].begin(), terms[p].begin() + made[p]);
            }
        });
        for (const auto& part : parts)
            for (const T& t : part) consume(t);
    }
}

/// The mean of the modal bin of a histogram of N bins over a range of
/// `width` fed with the finite values among `values(p)` (K of them, in
/// order) of the caller's points taken in order (p = element(element_of, k)
/// for k = 0, 1, …); absent when every bin is empty. Only the modal bin's
/// sum depends on that order, so with the detection's own tree the counts
/// are taken side by side in the points' own order, and only the modal bin's
/// values are then gathered in the caller's order (chunks side by side) and
/// summed in that order: the mean comes out as from one loop.
template <class Q, std::size_t N, std::size_t K, class Values>
std::optional<double> modal_mean(std::size_t count, std::span<const std::size_t> element_of, double width,
                                 std::uint64_t work_per_point, Values&& values) {
    if constexpr (!std::is_same_v<Q, PlanarTree>) {
        Histogram<N> hist;
        for (std::size_t k = 0; k < count; ++k)
            for (const double v : values(element(element_of, k)))
                if (std::isfinite(v)) hist.add(bin_of<N>(v, width), v);
        return hist.modal_mean();
    } else {
        constexpr std::uint16_t kNoBin = 0xFFFF;
        static_assert(N < kNoBin);
        std::vector<std::array<std::uint16_t, K>> bins(count);
        const std::size_t chunk = std::max<std::size_t>(parallel::chunk_items(work_per_point), 4096);
        const std::size_t chunks = (count + chunk - 1) / chunk;
        std::vector<std::array<std::uint64_t, N>> counts(chunks);
        parallel::for_each_chunk(count, chunk, [&](std::size_t b, std::size_t e) {
            std::array<std::uint64_t, N>& local = counts[b / chunk];
            local.fill(0);
            for (std::size_t p = b; p < e; ++p) {
                const std::array<double, K> v = values(p);
                for (std::size_t s = 0; s < K; ++s) {
                    bins[p][s] = kNoBin;
                    if (!std::isfinite(v[s])) continue;
                    const std::size_t bin = bin_of<N>(v[s], width);
                    bins[p][s] = static_cast<std::uint16_t>(bin);
                    ++local[bin];
                }
            }
        });
        Histogram<N> hist;
        for (const auto& local : counts)
            for (std::size_t b = 0; b < N; ++b) hist.count[b] += local[b];
        const std::size_t modal = hist.modal_bin();
        if (hist.count[modal] == 0) return std::nullopt;
        std::vector<std::vector<double>> parts(chunks);
        parallel::for_each_chunk(count, chunk, [&](std::size_t b, std::size_t e) {
            std::vector<double>& part = parts[b / chunk];
            for (std::size_t k = b; k < e; ++k) {
                const std::size_t p = element(element_of, k);
                const auto& at = bins[p];
                if (std::find(at.begin(), at.end(), modal) == at.end()) continue;
                const std::array<double, K> v = values(p);
                for (std::size_t s = 0; s < K; ++s)
                    if (at[s] == modal) part.push_back(v[s]);
            }
        });
        double sum = 0.0;
        for (const auto& part : parts)
            for (const double v : part) sum += v;
        return sum / static_cast<double>(hist.count[modal]);
    }
}

template <class Q>
Result<double> cell_size(Neighbours<Q>& nbs, std::span<const std::array<double, 2>> points,
                         std::span<const std::size_t> element_of, std::optional<double> nominal_cell) {
    double base = 0.0;
    if (nominal_cell) {
        base = *nominal_cell;
    } else {
        // The median does not depend on the order of the list.
        std::vector<double> found(points.size());
        for_each_point<Q>(points.size(), 200, [&](std::size_t k0, std::size_t k1) {
            for (std::size_t p = k0; p < k1; ++p) found[p] = nonzero_from(nbs, points, p).value_or(kNaN);
        });
        std::vector<double> nearest;
        nearest.reserve(points.size());
        for (const double d : found)
            if (!std::isnan(d)) nearest.push_back(d);
        if (nearest.empty()) return fail(inference("no neighbouring points to detect a cell size"));
        const std::size_t mid = nearest.size() / 2;
        std::nth_element(nearest.begin(), nearest.begin() + static_cast<std::ptrdiff_t>(mid), nearest.end());
        base = nearest[mid];
    }
    if (!(std::isfinite(base) && base > 0.0)) return fail(inference("could not detect a positive cell size"));

    const double range = 1.4 * base;
    // The sums go in the caller's point order.
    const auto cell = modal_mean<Q, 240, 6>(points.size(), element_of, range, 200, [&](std::size_t p) {
        std::array<double, 6> terms;
        terms.fill(kNaN);
        const auto nearest = nbs.first(p, 6);
        for (std::size_t e = 0; e < nearest.size(); ++e) {
            const double d = dist(points[p], points[nearest[e].index]);
            if (d > 0.0 && d <= range) terms[e] = d;
        }
        return terms;
    });
    if (!cell) return fail(inference("could not detect a cell size from neighbour steps"));
    return *cell;
}

template <class Q>
Result<double> azimuth(Neighbours<Q>& nbs, std::span<const std::array<double, 2>> points,
                       std::span<const std::size_t> element_of, double cell) {
    double c = 0.0;
    double s = 0.0;
    std::uint64_t n = 0;
    const double lo = 0.7 * cell;
    const double hi = 1.3 * cell;
    // The sums go in the caller's point order.
    ordered_terms<Q, std::array<double, 2>, 5>(
        points.size(), element_of, 500,
        [&](std::size_t p, std::array<std::array<double, 2>, 5>& terms) {
            std::size_t m = 0;
            for (const auto& nb : nbs.first(p, 5)) {
                const auto& q = points[nb.index];
                const double dx = q[0] - points[p][0];
                const double dy = q[1] - points[p][1];
                const double d = std::hypot(dx, dy);
                if (d < lo || d > hi) continue;
                const double a = std::atan2(dy, dx);
                terms[m++] = {std::cos(4.0 * a), std::sin(4.0 * a)};
            }
            return m;
        },
        [&](const std::array<double, 2>& t) {
            c += t[0];
            s += t[1];
            ++n;
        });
    if (n == 0) return fail(inference("could not detect a grid azimuth: no neighbour steps near the detected cell"));
    return std::atan2(s, c) / 4.0;
}

/// `disc(x, y, radius, p, visit)` calls `visit(point, dist2, px, py)` for
/// every point within the radius of (x, y), point p's own position, with the
/// point's position; `caller[e]` is the caller's index of point e (empty: e),
/// by which ties go.
template <class Q, class Disc>
Result<std::pair<double, double>> axis_steps(Neighbours<Q>& nbs, std::span<const std::array<double, 2>> points,
                                             std::span<const std::size_t> element_of,
                                             std::span<const std::size_t> caller, Disc&& disc,
                                             std::array<double, 2> ui, std::array<double, 2> uj, double cell) {
    const double reach = 20.0 * cell;
    // Entries whose squared distance exceeds this lie beyond the reach
    // whatever the rounding (unless squares underflow: then no bound).
    double stop_d2 = reach * reach * (1.0 + 0x1p-30);
    if (!(stop_d2 >= 0x1p-900)) stop_d2 = kInf;
    // The walks go in the points' own order (spatial when the points are in
    // tree order), which keeps the memory they touch warm; the histograms
    // then take the results in the caller's order, so their sums are the same
    // as with the walks made in it.
    std::vector<std::array<double, 4>> bests(points.size());
    // Which best an offset feeds: 0 and 1 the shortest positive and negative
    // projection on ui, 2 and 3 on uj; -1 none. The two axis tests exclude
    // each other.
    struct Offset {
        int cone;
        double length;
    };
    const auto classify = [&](double mx, double my) -> Offset {
        const double pi = mx * ui[0] + my * ui[1];
        const double pj = mx * uj[0] + my * uj[1];
        if (std::fabs(pj) <= 0.3 * std::fabs(pi) && pi != 0.0) return {pi > 0.0 ? 0 : 1, std::fabs(pi)};
        if (std::fabs(pi) <= 0.3 * std::fabs(pj) && pj != 0.0) return {pj > 0.0 ? 2 : 3, std::fabs(pj)};
        return {-1, 0.0};
    };
    const auto complete = [](const std::array<double, 4>& best) {
        return std::isfinite(best[0]) && std::isfinite(best[1]) && std::isfinite(best[2]) && std::isfinite(best[3]);
    };
    // The walk from p over its entries in (dist2, index) order, each given
    // by its offset from p; false ends it.
    const auto step_by = [&](std::array<double, 4>& best, double mx, double my) {
        if (mx == 0.0 && my == 0.0) return true;  // hypot is 0 only here
        if (hypot_above(mx, my, reach)) return false;
        const Offset o = classify(mx, my);
        if (o.cone >= 0) best[o.cone] = std::min(best[o.cone], o.length);
        return !complete(best);
    };
    const auto step = [&](std::array<double, 4>& best, std::size_t p, const geometry::Neighbor& nb) {
        const auto& q = points[nb.index];
        return step_by(best, q[0] - points[p][0], q[1] - points[p][1]);
    };
    // Most walks end within a few cells: they go through discs around p of
    // two, three, four and a half and seven times the distance of its sixth
    // nearest entry (the last for points on the rim of the cloud, where a
    // cone stays empty and the walk goes on to its 64th entry), a disc's new
    // entries taken together; a walk still going goes through the entries in
    // order from the start.
    //
    // A disc's entries need no ordering. Inside the discs no entry lies
    // beyond the reach, so the walk stops only when every best is finite or
    // at its 64th entry. With the first entry (in order) of each cone still
    // open, it stops right after the last of these, unless the entry limit
    // comes first; every best is then the shortest over the entries up to
    // there, in whatever order they are met.
    const double safe_r2 = reach * reach * (1.0 - 0x1p-20);
    const auto id = [&](std::size_t e) { return caller.empty() ? e : caller[e]; };
    struct Seen {
        double d2;
        std::size_t point;
        double length;
        int cone;
    };
    const auto before = [&](const Seen& a, const Seen& b) {
        return a.d2 < b.d2 || (a.d2 == b.d2 && id(a.point) < id(b.point));
    };
    const auto take = [](std::array<double, 4>& best, const Seen& e) {
        if (e.cone >= 0) best[e.cone] = std::min(best[e.cone], e.length);
    };
    const auto from_rings = [&](std::array<double, 4>& best, std::size_t p, std::vector<Seen>& seen) {
        const auto nearest = nbs.first(p, 6);
        if (nearest.size() < 6) return false;
        const double sixth = std::sqrt(nearest.back().dist2);
        const double x = points[p][0];
        const double y = points[p][1];
        // Entries at or within this squared distance were walked.
        double inner_r2 = -1.0;
        std::size_t walked = 0;
        for (const double scale : {2.0, 3.0, 4.5, 7.0}) {
            const double radius = scale * sixth;
            const double r2 = radius * radius;
            if (!(r2 > 0x1p-900 && r2 < safe_r2)) break;
            seen.clear();
            disc(x, y, radius, p, [&](std::size_t e, double d2, double ex, double ey) {
                if (d2 <= inner_r2) return;
                const Offset o = classify(ex - x, ey - y);
                seen.push_back({d2, e, o.length, o.cone});
            });
            // Entries of this disc the walk may still take.
            const std::size_t budget = 64 - walked;
            std::array<const Seen*, 4> first{};
            for (const Seen& e : seen)
                if (e.cone >= 0 && !std::isfinite(best[e.cone]) &&
                    (first[e.cone] == nullptr || before(e, *first[e.cone])))
                    first[e.cone] = &e;
            const Seen* last = nullptr;
            bool closes = true;
            for (int c = 0; c < 4; ++c) {
                if (std::isfinite(best[c])) continue;
                if (first[c] == nullptr) {
                    closes = false;
                    break;
                }
                if (last == nullptr || before(*last, *first[c])) last = first[c];
            }
            if (closes && last != nullptr) {
                std::size_t rank = 0;
                for (const Seen& e : seen) rank += before(e, *last) ? 1 : 0;
                if (rank < budget) {
                    for (const Seen& e : seen)
                        if (!before(*last, e)) take(best, e);
                    return true;
                }
            }
            if (seen.size() > budget) {
                // The walk ends at the entry limit, within this disc.
                std::nth_element(seen.begin(), seen.begin() + static_cast<std::ptrdiff_t>(budget), seen.end(),
                                 before);
                for (std::size_t k = 0; k < budget; ++k) take(best, seen[k]);
                return true;
            }
            for (const Seen& e : seen) take(best, e);
            walked += seen.size();
            inner_r2 = r2;
        }
        best = {kInf, kInf, kInf, kInf};
        return false;
    };
    for_each_point<Q>(points.size(), 1000, [&](std::size_t k0, std::size_t k1) {
        std::vector<Seen> seen;
        for (std::size_t p = k0; p < k1; ++p) {
            // Shortest positive and negative projection on ui, then on uj.
            std::array<double, 4>& best = bests[p];
            best = {kInf, kInf, kInf, kInf};
            if (from_rings(best, p, seen)) continue;
            nbs.visit(p, 64, [&](const geometry::Neighbor& nb) { return step(best, p, nb); }, stop_d2, p);
        }
    });
    // The histograms take the points in the caller's order.
    const auto si = modal_mean<Q, 512, 2>(points.size(), element_of, reach, 20, [&](std::size_t p) {
        return std::array<double, 2>{bests[p][0], bests[p][1]};
    });
    const auto sj = modal_mean<Q, 512, 2>(points.size(), element_of, reach, 20, [&](std::size_t p) {
        return std::array<double, 2>{bests[p][2], bests[p][3]};
    });
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
    const IndexQueries queries{index};
    Neighbours nbs(queries, points, false);
    return cell_size(nbs, points, {}, nominal_cell);
}

Result<double> detect_azimuth(const geometry::PointIndex& index, std::span<const std::array<double, 2>> points,
                              double cell) {
    const IndexQueries queries{index};
    Neighbours nbs(queries, points, false);
    return azimuth(nbs, points, {}, cell);
}

Result<std::pair<double, double>> detect_axis_steps(const geometry::PointIndex& index,
                                                    std::span<const std::array<double, 2>> points,
                                                    std::array<double, 2> ui, std::array<double, 2> uj, double cell) {
    const IndexQueries queries{index};
    Neighbours nbs(queries, points, false);
    const auto disc = [&](double x, double y, double radius, std::size_t, auto&& visit) {
        queries.for_each_within(x, y, radius,
                                [&](std::size_t k, double d2) { visit(k, d2, points[k][0], points[k][1]); });
    };
    return axis_steps(nbs, points, {}, {}, disc, ui, uj, cell);
}

namespace {

/// `local_step` over any map with `find(key)` answering an iterator whose
/// `second` is the point index, and `end()`.
template <class Map>
std::optional<std::array<double, 2>> step_from(const Map& cells, std::span<const std::array<double, 2>> points,
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

/// The cell map of the block being walked: open addressing over a table that
/// only grows, emptied by clearing the slots the block used, so the many
/// small blocks of a scattered cloud cost no more than their own cells.
/// `Tiled`: the keys are `cell_key`s, and the cells of a 4 x 4 tile share 16
/// neighbouring slots, so the cells a walk looks at around a point mostly
/// lie in one or two cache lines even when the table is large.
template <bool Tiled = false>
class FlatCellMap {
public:
    struct Slot {
        std::uint64_t first = 0;
        std::size_t second = kEmpty;
    };

    const Slot* find(std::uint64_t key) const {
        if (slots_.empty()) return end();
        for (std::size_t s = slot_of(key);; s = (s + 1) & mask_) {
            const Slot& slot = slots_[s];
            if (slot.second == kEmpty) return end();
            if (slot.first == key) return &slot;
        }
    }
    const Slot* end() const { return nullptr; }
    bool contains(std::uint64_t key) const { return find(key) != end(); }

    /// Adds `key` (not present yet).
    void emplace(std::uint64_t key, std::size_t value) {
        if (2 * (used_.size() + 1) > slots_.size()) grow();
        std::size_t s = slot_of(key);
        while (slots_[s].second != kEmpty) s = (s + 1) & mask_;
        slots_[s] = Slot{key, value};
        used_.push_back(s);
    }

    void clear() {
        for (const std::size_t s : used_) slots_[s] = Slot{};
        used_.clear();
    }

private:
    static constexpr std::size_t kEmpty = std::numeric_limits<std::size_t>::max();

    std::size_t slot_of(std::uint64_t key) const {
        if constexpr (Tiled) {
            const auto i = static_cast<std::uint32_t>(key >> 32);
            const auto j = static_cast<std::uint32_t>(key);
            std::uint64_t h = ((std::uint64_t{i >> 2} << 32) | (j >> 2)) * 0x9E3779B97F4A7C15ull;
            h ^= h >> 29;
            return static_cast<std::size_t>((h << 4) | ((i & 3u) << 2) | (j & 3u)) & mask_;
        } else {
            std::uint64_t h = key * 0x9E3779B97F4A7C15ull;
            h ^= h >> 29;
            return static_cast<std::size_t>(h) & mask_;
        }
    }
    void grow() {
        std::vector<Slot> old = std::move(slots_);
        slots_.assign(old.empty() ? 64 : 2 * old.size(), Slot{});
        mask_ = slots_.size() - 1;
        used_.clear();
        for (const Slot& slot : old)
            if (slot.second != kEmpty) emplace(slot.first, slot.second);
    }

    std::vector<Slot> slots_;
    std::vector<std::size_t> used_;
    std::size_t mask_ = 0;
};

}  // namespace

std::optional<std::array<double, 2>> local_step(const CellMap& cells, std::span<const std::array<double, 2>> points,
                                                std::array<double, 2> q, std::int32_t i, std::int32_t j,
                                                std::int32_t di, std::int32_t dj, double length) {
    return step_from(cells, points, q, i, j, di, dj, length);
}

namespace {

/// The walk of one block, breadth first from its seed, over any index with
/// the range query of `PlanarTree`. The walk may run over a reordering of the
/// caller's points: `points` and the query answers use walk positions,
/// `caller[e]` is the caller's index of walk position e (empty: the same),
/// by which ties go. Which points are labelled, and the labels it gives, it
/// leaves to a state: `labelled(k)`, `conflicts_with(k, i, j)` (k, labelled,
/// has a label of this block other than (i, j)) and `label(k, i, j)`; the
/// state also hears of every point a refusal names (`refusing(k)`) and may
/// stop the walk before each point taken from the queue (`keep_going()`
/// false: the walk is then incomplete and worthless).
template <class Q>
class BlockWalker {
public:
    BlockWalker(const Q& queries, std::span<const std::array<double, 2>> points, std::span<const std::size_t> caller,
                std::array<double, 2> si, std::array<double, 2> sj)
        : queries_(queries), points_(points), caller_(caller), si_(si), sj_(sj), li_(std::hypot(si[0], si[1])),
          lj_(std::hypot(sj[0], sj[1])), predict_radius_(0.42 * std::min(li_, lj_)),
          refuse_radius_(2.2 * std::max(li_, lj_)), predict_r2_(predict_radius_ * predict_radius_),
          refuse_r2_(refuse_radius_ * refuse_radius_) {}

    /// Walks the block of `seed`, appending its refusals (walk positions) to
    /// `refused`; returns the conflicts it counted, absent when the state
    /// stopped the walk.
    template <class State>
    std::optional<std::uint64_t> walk(std::size_t seed, State& state,
                                      std::vector<std::pair<std::uint64_t, std::uint64_t>>& refused) {
        constexpr std::size_t kNoPoint = std::numeric_limits<std::size_t>::max();
        std::uint64_t conflicts = 0;
        cells_.clear();
        queue_.clear();
        state.label(seed, 0, 0);
        cells_.emplace(cell_key(0, 0), seed);
        queue_.push_back({seed, 0, 0});
        std::size_t head = 0;
        while (head < queue_.size()) {
            if (!state.keep_going()) return std::nullopt;
            const auto [q, i, j] = queue_[head++];
            const std::array<double, 2> qp = points_[q];
            const auto ti = step_from(cells_, points_, qp, i, j, 1, 0, li_);
            const auto tj = step_from(cells_, points_, qp, i, j, 0, 1, lj_);
            const std::array<double, 2> vi = ti ? *ti : si_;
            const std::array<double, 2> vj = tj ? *tj : sj_;
            struct Direction {
                std::array<double, 2> g;
                std::int32_t di, dj;
            };
            const std::array<Direction, 4> directions{Direction{vi, 1, 0}, Direction{{-vi[0], -vi[1]}, -1, 0},
                                                      Direction{vj, 0, 1}, Direction{{-vj[0], -vj[1]}, 0, -1}};
            // Every point the predictions and the refusals may still look at
            // is gathered once the first refusal search comes, for the rest
            // of q's directions: the prediction discs lie within the step
            // plus the prediction radius of q (widened beyond the rounding of
            // the predicted positions), which the refusal radius covers but
            // for extreme coordinates. Labels given meanwhile are read on use.
            bool gathered = false;
            const auto gather = [&] {
                const double step = std::max(std::hypot(vi[0], vi[1]), std::hypot(vj[0], vj[1]));
                const double reach = (predict_radius_ + step) * (1.0 + 0x1p-30) +
                                     (std::fabs(qp[0]) + std::fabs(qp[1]) + step) * 0x1p-50 + 0x1p-500;
                const double radius = std::max(refuse_radius_, reach);
                around_.clear();
                queries_.for_each_within(qp[0], qp[1], radius, [&](std::size_t k, double d2) {
                    around_.push_back({k, d2, points_[k][0], points_[k][1], -1.0});
                }, q);
                gathered = true;
            };
            for (const Direction& dir : directions) {
                const std::int64_t ti64 = std::int64_t{i} + dir.di;
                const std::int64_t tj64 = std::int64_t{j} + dir.dj;
                // A walk cannot leave the 32-bit label range.
                if (ti64 < std::numeric_limits<std::int32_t>::min() || ti64 > std::numeric_limits<std::int32_t>::max() ||
                    tj64 < std::numeric_limits<std::int32_t>::min() || tj64 > std::numeric_limits<std::int32_t>::max())
                    continue;
                const auto target_i = static_cast<std::int32_t>(ti64);
                const auto target_j = static_cast<std::int32_t>(tj64);
                if (cells_.contains(cell_key(target_i, target_j))) continue;

                const double px = qp[0] + dir.g[0];
                const double py = qp[1] + dir.g[1];
                // The unlabelled point first in (squared distance, index)
                // order within the prediction radius of (px, py).
                std::size_t chosen = kNoPoint;
                double chosen_d2 = kInf;
                const auto consider = [&](std::size_t k, double d2) {
                    if (state.labelled(k)) {
                        if (state.conflicts_with(k, target_i, target_j)) ++conflicts;
                        return;
                    }
                    if (chosen == kNoPoint || d2 < chosen_d2 || (d2 == chosen_d2 && id(k) < id(chosen))) {
                        chosen = k;
                        chosen_d2 = d2;
                    }
                };
                if (gathered) {
                    // The squared distances computed as a range search
                    // computes them.
                    for (const Near& a : around_) {
                        const double dx = a.x - px;
                        const double dy = a.y - py;
                        const double d2 = dx * dx + dy * dy;
                        if (d2 <= predict_r2_) consider(a.point, d2);
                    }
                } else {
                    queries_.for_each_within(px, py, predict_radius_, consider, q);
                }
                if (chosen != kNoPoint) {
                    state.label(chosen, target_i, target_j);
                    cells_.emplace(cell_key(target_i, target_j), chosen);
                    queue_.push_back({chosen, target_i, target_j});
                    continue;
                }

                // The refused neighbour: the first unlabelled point within
                // the refusal radius, in (squared distance, index) order, that
                // passes the tests.
                const double glen = std::hypot(dir.g[0], dir.g[1]);
                // 0.9 |g|²: an offset whose squared projection on g is at most
                // this times its squared length lies far outside the cone
                // (0.951² is 0.9044), whatever the rounding, while the squares
                // neither overflow nor lose bits to underflow.
                const double cone_g2 = 0.9 * (glen * glen);
                if (!gathered) gather();
                // The cheap tests come first and the labels last: the cone
                // rules out most points, and reading a label changes nothing.
                std::size_t hit = kNoPoint;
                double hit_d2 = kInf;
                for (Near& a : around_) {
                    const std::size_t k = a.point;
                    const double d2 = a.d2;
                    if (!(d2 <= refuse_r2_)) continue;
                    if (hit != kNoPoint && (d2 > hit_d2 || (d2 == hit_d2 && id(k) > id(hit)))) continue;
                    const double vx = a.x - qp[0];
                    const double vy = a.y - qp[1];
                    const double along = vx * dir.g[0] + vy * dir.g[1];
                    if (!(along > 0.0)) continue;
                    const double bound = cone_g2 * d2;
                    if (bound > 0x1p-960 && bound < 0x1p+960 && along * along <= bound) continue;
                    if (a.w < 0.0) a.w = std::sqrt(d2);
                    const double w = a.w;
                    if (!(w >= 0.5 * glen)) continue;
                    if (along / (w * glen) > 0.951 && !state.labelled(k)) {
                        hit = k;
                        hit_d2 = d2;
                    }
                }
                if (hit != kNoPoint) {
                    state.refusing(hit);
                    refused.emplace_back(q, hit);
                }
            }
        }
        return conflicts;
    }

private:
    /// A point near the one being walked from: its squared distance from
    /// there, its position and its distance (negative until needed).
    struct Near {
        std::size_t point;
        double d2;
        double x, y;
        double w;
    };
    /// A labelled point waiting in the queue, with its label's steps.
    struct Queued {
        std::size_t point;
        std::int32_t i, j;
    };

    std::size_t id(std::size_t e) const { return caller_.empty() ? e : caller_[e]; }

    const Q& queries_;
    std::span<const std::array<double, 2>> points_;
    std::span<const std::size_t> caller_;
    std::array<double, 2> si_, sj_;
    double li_, lj_;
    double predict_radius_, refuse_radius_;
    // Both searches compare squared distances with the squared radius, as a
    // range search does.
    double predict_r2_, refuse_r2_;
    FlatCellMap<true> cells_;
    /// The block's queue: every point it labelled, the front at the walk's
    /// read position.
    std::vector<Queued> queue_;
    std::vector<Near> around_;
};

/// The labels of a walk made block after block: each label goes at once into
/// the walk's arrays and out of the seed search.
class DirectLabels {
public:
    DirectLabels(std::vector<char>& flags, std::vector<NodeLabel>& labels, UnlabelledTree& unlabelled)
        : flags_(flags), labels_(labels), unlabelled_(unlabelled) {}

    /// Labels from now on go to block `block`.
    void start(std::uint32_t block) { block_ = block; }

    bool labelled(std::size_t k) const { return flags_[k] != 0; }
    bool conflicts_with(std::size_t k, std::int32_t i, std::int32_t j) const {
        const NodeLabel& l = labels_[k];
        return l.block == block_ && (l.i != i || l.j != j);
    }
    void label(std::size_t k, std::int32_t i, std::int32_t j) {
        flags_[k] = 1;
        unlabelled_.remove(k);
        labels_[k] = NodeLabel{block_, i, j};
    }
    void refusing(std::size_t /*k*/) const {}
    bool keep_going() const { return true; }

private:
    std::vector<char>& flags_;
    std::vector<NodeLabel>& labels_;
    UnlabelledTree& unlabelled_;
    std::uint32_t block_ = 0;
};

/// One block walked ahead of its turn from a candidate seed.
struct Speculation {
    /// The points whose being unlabelled its outcome rests on: those it
    /// labelled and those its refusals name (see `SpeculativeLabels`).
    std::vector<std::size_t> read;
    /// The labels it gave, in order: point, i, j.
    struct Given {
        std::size_t point;
        std::int32_t i, j;
    };
    std::vector<Given> given;
    std::vector<std::pair<std::uint64_t, std::uint64_t>> refused;
    std::uint64_t conflicts = 0;
};

/// The labels of a speculative walk: its own, kept aside, on top of the
/// committed ones it reads as it goes.
///
/// Labels are only ever added, and a walk reads them in two choices only:
/// the unlabelled point first in order within a prediction's radius, and the
/// unlabelled point first in order that passes the refusal's tests; its
/// conflicts count labels of its own block alone. A label added since to any
/// other point it found unlabelled leaves both choices as they were (that
/// point came after the one chosen) and the conflicts too. So the walk
/// stands as long as the points it labelled and the points its refusals name
/// are still unlabelled; it notes those in `read`.
///
/// The walk also follows the committed labels as they are logged (`log`,
/// `logged` counting them, every one of them flagged before it is counted),
/// and stops once one of them falls on a point it rests on.
class SpeculativeLabels {
public:
    /// `marks`, one per point and all 0, is the walking thread's own; the
    /// walk marks there the points it rests on until `release()`.
    SpeculativeLabels(const std::atomic<std::uint8_t>* flags, const std::size_t* log,
                      const std::atomic<std::size_t>& logged, std::uint8_t* marks, Speculation& out)
        : flags_(flags), log_(log), logged_(logged), marks_(marks), out_(out),
          checked_(logged.load(std::memory_order_acquire)) {}

    bool labelled(std::size_t k) const {
        return flags_[k].load(std::memory_order_relaxed) != 0 || (marks_[k] & kOwn) != 0;
    }
    bool conflicts_with(std::size_t k, std::int32_t i, std::int32_t j) const {
        if ((marks_[k] & kOwn) == 0) return false;
        const auto it = own_.find(k);
        if (it == own_.end()) return false;
        const Speculation::Given& l = out_.given[it->second];
        return l.i != i || l.j != j;
    }
    void label(std::size_t k, std::int32_t i, std::int32_t j) {
        out_.read.push_back(k);
        marks_[k] |= kOwn;
        own_.emplace(k, out_.given.size());
        out_.given.push_back({k, i, j});
    }
    void refusing(std::size_t k) {
        out_.read.push_back(k);
        marks_[k] |= kNamed;
    }
    /// Clears the marks of the walk, before another thread may take it.
    void release() {
        for (const std::size_t k : out_.read) marks_[k] = 0;
    }
    /// False once a label committed since the walk began falls on a point
    /// the walk rests on: the walk can no longer stand.
    bool keep_going() {
        if (++calls_ % kCheckEvery != 0) return true;
        const std::size_t upto = logged_.load(std::memory_order_acquire);
        for (; checked_ < upto; ++checked_) {
            if (marks_[log_[checked_]] != 0) return false;
        }
        return true;
    }

private:
    /// Points taken from the queue between two looks at the log.
    static constexpr std::uint32_t kCheckEvery = 16;
    /// Marks of a point the walk labelled, and of one a refusal named.
    static constexpr std::uint8_t kOwn = 1;
    static constexpr std::uint8_t kNamed = 2;

    const std::atomic<std::uint8_t>* flags_;
    const std::size_t* log_;
    const std::atomic<std::size_t>& logged_;
    std::uint8_t* marks_;
    Speculation& out_;
    /// The walk's own labels: point -> its place in `out_.given`.
    FlatCellMap<> own_;
    std::size_t checked_;
    std::uint32_t calls_ = 0;
};

/// The labels of the committing walk on its own turn: as `DirectLabels`, on
/// the shared flags.
class CommittedLabels {
public:
    /// Every labelled point is also written to `log`, `logged` counting them.
    CommittedLabels(std::atomic<std::uint8_t>* flags, std::vector<NodeLabel>& labels, UnlabelledTree& unlabelled,
                    std::size_t* log, std::size_t& logged)
        : flags_(flags), labels_(labels), unlabelled_(unlabelled), log_(log), logged_(logged) {}

    void start(std::uint32_t block) { block_ = block; }

    bool labelled(std::size_t k) const { return flags_[k].load(std::memory_order_relaxed) != 0; }
    bool conflicts_with(std::size_t k, std::int32_t i, std::int32_t j) const {
        const NodeLabel& l = labels_[k];
        return l.block == block_ && (l.i != i || l.j != j);
    }
    void label(std::size_t k, std::int32_t i, std::int32_t j) {
        flags_[k].store(1, std::memory_order_relaxed);
        unlabelled_.remove(k);
        labels_[k] = NodeLabel{block_, i, j};
        log_[logged_++] = k;
    }
    void refusing(std::size_t /*k*/) const {}
    bool keep_going() const { return true; }

private:
    std::atomic<std::uint8_t>* flags_;
    std::vector<NodeLabel>& labels_;
    UnlabelledTree& unlabelled_;
    std::size_t* log_;
    std::size_t& logged_;
    std::uint32_t block_ = 0;
};

/// The walk of `walk_lattice` over a grid, with blocks walked ahead on the
/// toolkit's threads. One thread commits the blocks in their order, finding
/// each seed as the walk does; the others walk blocks ahead from the seed
/// search's candidates on the labels committed so far, noting every point
/// they found unlabelled. A walk depends on nothing but the positions and
/// which of the points it reads are labelled, so a block walked ahead is
/// the walk the committing thread would make when every point it found
/// unlabelled still is; it is then taken as it is. Otherwise, or when none
/// is ready, the committing thread walks the block itself. The result is
/// that of the walk on one thread, whichever blocks were walked ahead.
LatticeLabels walk_lattice_ahead(const geometry::PointGrid& grid, std::span<const std::size_t> caller,
                                 const PlanarTree& tree, std::span<const std::size_t> point_at,
                                 std::array<double, 2> si, std::array<double, 2> sj, std::size_t helpers) {
    const std::span<const std::array<double, 2>> points = grid.points();
    const std::size_t n = points.size();
    const GridQueries queries{grid};
    LatticeLabels out;
    std::vector<NodeLabel> labels(n, NodeLabel{});
    // Set once a point is committed labelled; read by every thread.
    std::vector<std::atomic<std::uint8_t>> flags(n);
    // Set while a helper walks or holds a walk from the point; the walk, when
    // ready, is handed over in `ready`, and taken by whoever empties it.
    std::vector<std::atomic<std::uint8_t>> claimed(n);
    std::vector<std::atomic<Speculation*>> ready(n);
    std::atomic<bool> done{false};
    // The seeds to walk ahead: the seed search's latest candidates.
    std::mutex plan_lock;
    std::vector<std::size_t> plan;
    std::atomic<std::uint64_t> plan_version{0};
    // Walks done with, kept for the helpers to fill again, handed over in
    // batches: the memory of a walk stays with the threads that fill it.
    using Walks = std::vector<std::unique_ptr<Speculation>>;
    std::mutex spare_lock;
    Walks spare;
    const auto give_back = [&](Walks& walks) {
        const std::lock_guard<std::mutex> hold(spare_lock);
        for (auto& walk : walks) spare.push_back(std::move(walk));
        walks.clear();
    };
    const auto take_spare = [&](Walks& mine) {
        if (mine.empty()) {
            const std::lock_guard<std::mutex> hold(spare_lock);
            for (std::size_t k = 0; k < 32 && !spare.empty(); ++k) {
                mine.push_back(std::move(spare.back()));
                spare.pop_back();
            }
        }
        if (mine.empty()) return std::make_unique<Speculation>();
        std::unique_ptr<Speculation> walk = std::move(mine.back());
        mine.pop_back();
        walk->read.clear();
        walk->given.clear();
        walk->refused.clear();
        walk->conflicts = 0;
        return walk;
    };

    // The points labelled so far, in order, and the centroid of the others,
    // for the helper that searches for seeds; the candidates it found last.
    FillVector<std::size_t> log(n);
    std::atomic<std::size_t> logged{0};
    std::atomic<double> want_x{0.0};
    std::atomic<double> want_y{0.0};
    std::mutex prepared_lock;
    UnlabelledTree::Candidates prepared;
    std::atomic<std::uint64_t> prepared_version{0};

    // The seed searches of the committing thread and of the seed helper, each
    // on a tree of its own, built side by side before they start.
    UnlabelledTree unlabelled(points, caller, tree, point_at);
    std::optional<UnlabelledTree> mirror;
    if (helpers >= 2) mirror.emplace(points, caller, tree, point_at);

    const auto commit = [&] {
        // Whatever happens here, the helpers must stop.
        struct Finish {
            std::atomic<bool>& done;
            ~Finish() { done.store(true, std::memory_order_release); }
        } finish{done};
        BlockWalker<GridQueries> walker(queries, points, caller, si, sj);
        std::size_t labelled = 0;
        CommittedLabels state(flags.data(), labels, unlabelled, log.data(), labelled);
        std::uint64_t published = 0;
        std::uint64_t adopted = 0;
        std::vector<std::size_t> candidates;
        Walks used;
        std::uint32_t block = 0;
        while (unlabelled.remaining() > 0) {
            const auto [cx, cy] = unlabelled.centroid();
            want_x.store(cx, std::memory_order_relaxed);
            want_y.store(cy, std::memory_order_relaxed);
            if (prepared_version.load(std::memory_order_acquire) != adopted) {
                // The seed helper's latest candidates, found on labels no
                // newer than these around a centroid close to this one: the
                // proofs from them are short.
                const std::lock_guard<std::mutex> hold(prepared_lock);
                unlabelled.adopt(prepared);
                adopted = prepared_version.load(std::memory_order_relaxed);
            }
            const auto proved = unlabelled.proved_nearest(cx, cy);
            const std::size_t seed = proved ? *proved : unlabelled.nearest(cx, cy);
            if (unlabelled.searches() != published) {
                published = unlabelled.searches();
                unlabelled.candidate_points(candidates);
                const std::lock_guard<std::mutex> hold(plan_lock);
                plan = candidates;
                plan_version.fetch_add(1, std::memory_order_release);
            }
            // A helper walking this block began before this turn came: its
            // walk is ready no later than one made now, and it gives up as
            // soon as a committed label undoes it.
            while (ready[seed].load(std::memory_order_acquire) == nullptr &&
                   claimed[seed].load(std::memory_order_acquire) != 0)
                parallel::cpu_relax();
            std::unique_ptr<Speculation> ahead(ready[seed].exchange(nullptr, std::memory_order_acquire));
            if (ahead) {
                // Another thread wrote the walk: its lists come over while the
                // points it rests on are looked at.
                prefetch(ahead->given.data());
                prefetch(ahead->refused.data());
            }
            const bool valid = ahead && std::none_of(ahead->read.begin(), ahead->read.end(), [&](std::size_t k) {
                return flags[k].load(std::memory_order_relaxed) != 0;
            });
            state.start(block);
            if (valid) {
                // The labels' places come over side by side, then are written.
                for (const Speculation::Given& g : ahead->given) {
                    prefetch(&labels[g.point]);
                    unlabelled.prefetch(g.point);
                }
                for (const Speculation::Given& g : ahead->given) state.label(g.point, g.i, g.j);
                out.refused.insert(out.refused.end(), ahead->refused.begin(), ahead->refused.end());
                out.conflicts += ahead->conflicts;
            } else {
                out.conflicts += *walker.walk(seed, state, out.refused);
            }
            if (ahead) {
                used.push_back(std::move(ahead));
                if (used.size() == 64) give_back(used);
            }
            logged.store(labelled, std::memory_order_release);
            ++block;
        }
        out.blocks = block;
    };

    // The seed helper: on a tree of its own that loses the labelled points
    // as they are logged, it searches for candidates around the latest
    // centroid each time a fair share of the last ones may be used up.
    const auto prepare = [&] {
        UnlabelledTree::Candidates mine;
        std::size_t seen = 0;
        while (!done.load(std::memory_order_acquire)) {
            const std::size_t upto = logged.load(std::memory_order_acquire);
            if (upto == seen && seen != 0) {
                std::this_thread::yield();
                continue;
            }
            for (; seen < upto; ++seen) mirror->remove(log[seen]);
            if (mirror->remaining() == 0) return;
            mirror->search_around(want_x.load(std::memory_order_relaxed), want_y.load(std::memory_order_relaxed), mine);
            {
                const std::lock_guard<std::mutex> hold(prepared_lock);
                std::swap(prepared, mine);
                prepared_version.fetch_add(1, std::memory_order_release);
            }
            while (!done.load(std::memory_order_acquire) &&
                   logged.load(std::memory_order_acquire) < upto + UnlabelledTree::kCandidates / 4)
                std::this_thread::yield();
        }
    };

    const auto help = [&] {
        BlockWalker<GridQueries> walker(queries, points, caller, si, sj);
        std::vector<std::size_t> mine;
        std::uint64_t version = 0;
        // This helper's walks still waiting for their turn, with the points
        // each rests on: once one of those is labelled, the walk is taken
        // back and made again.
        struct Waiting {
            std::size_t seed;
            Speculation* walk;
            std::vector<std::size_t> read;
        };
        std::vector<Waiting> waiting;
        Walks reusable;
        std::vector<std::uint8_t> marks(n, 0);
        while (!done.load(std::memory_order_acquire)) {
            if (plan_version.load(std::memory_order_acquire) != version) {
                const std::lock_guard<std::mutex> hold(plan_lock);
                mine = plan;
                version = plan_version.load(std::memory_order_relaxed);
            }
            std::erase_if(waiting, [&](Waiting& w) {
                if (ready[w.seed].load(std::memory_order_relaxed) != w.walk) return true;  // taken
                const bool stale = std::any_of(w.read.begin(), w.read.end(), [&](std::size_t k) {
                    return flags[k].load(std::memory_order_relaxed) != 0;
                });
                if (!stale) return false;
                Speculation* expected = w.walk;
                if (ready[w.seed].compare_exchange_strong(expected, nullptr, std::memory_order_acq_rel)) {
                    reusable.emplace_back(w.walk);
                    claimed[w.seed].store(0, std::memory_order_release);
                }
                return true;
            });
            // The first candidate, nearest to the seed search's position,
            // that nobody has walked.
            std::size_t seed = n;
            for (const std::size_t p : mine) {
                if (flags[p].load(std::memory_order_relaxed) != 0 || claimed[p].load(std::memory_order_relaxed) != 0 ||
                    claimed[p].exchange(1, std::memory_order_acq_rel) != 0)
                    continue;
                seed = p;
                break;
            }
            if (seed == n) {
                std::this_thread::yield();
                continue;
            }
            try {
                std::unique_ptr<Speculation> ahead = take_spare(reusable);
                SpeculativeLabels state(flags.data(), log.data(), logged, marks.data(), *ahead);
                const auto conflicts = walker.walk(seed, state, ahead->refused);
                state.release();
                if (!conflicts) {
                    // Undone by the labels committed meanwhile.
                    reusable.push_back(std::move(ahead));
                    claimed[seed].store(0, std::memory_order_release);
                    continue;
                }
                ahead->conflicts = *conflicts;
                waiting.push_back({seed, ahead.get(), ahead->read});
                ready[seed].store(ahead.release(), std::memory_order_release);
            } catch (...) {
                // Nobody may wait for this seed any more.
                claimed[seed].store(0, std::memory_order_release);
                throw;
            }
        }
    };

    parallel::for_each_chunk(helpers + 1, 1, [&](std::size_t b, std::size_t e) {
        for (std::size_t k = b; k < e; ++k) k == 0 ? commit() : k == 1 && helpers >= 2 ? prepare() : help();
    });
    // Walk positions become the caller's indices, each on its own.
    const std::size_t chunk = std::max<std::size_t>(parallel::chunk_items(20), 4096);
    parallel::for_each_chunk(n, chunk, [&](std::size_t b, std::size_t e) {
        for (std::size_t k = b; k < e; ++k) delete ready[k].exchange(nullptr, std::memory_order_relaxed);
    });
    parallel::for_each_chunk(out.refused.size(), chunk, [&](std::size_t b, std::size_t e) {
        for (std::size_t k = b; k < e; ++k) {
            auto& [from, to] = out.refused[k];
            from = caller[from];
            to = caller[to];
        }
    });
    out.labels.resize(n);
    parallel::for_each_chunk(n, chunk, [&](std::size_t b, std::size_t e) {
        for (std::size_t k = b; k < e; ++k) out.labels[caller[k]] = labels[k];
    });
    return out;
}

/// The breadth-first walk of every block over any index with the range
/// query of `PlanarTree`, on the walk positions of `BlockWalker`, with ties
/// by the caller's index; the result uses the caller's indices throughout,
/// so a reordering changes nothing but the memory traffic. `tree` is a
/// `PlanarTree` over the same points whose nodes the seed search takes over;
/// `point_at[t]` is the walk position of its tree position t (empty: the
/// same).
template <class Q>
LatticeLabels walk_lattice(const Q& queries, std::span<const std::array<double, 2>> points,
                           std::span<const std::size_t> caller, const PlanarTree& tree,
                           std::span<const std::size_t> point_at, std::array<double, 2> si,
                           std::array<double, 2> sj) {
    const std::size_t n = points.size();
    LatticeLabels out;
    std::vector<NodeLabel> labels(n, NodeLabel{});
    std::vector<char> labelled(n, 0);
    UnlabelledTree unlabelled(points, caller, tree, point_at);
    BlockWalker<Q> walker(queries, points, caller, si, sj);
    DirectLabels state(labelled, labels, unlabelled);
    std::uint32_t block = 0;
    while (unlabelled.remaining() > 0) {
        // The seed: the unlabelled point nearest to the unlabelled centroid.
        const auto [cx, cy] = unlabelled.centroid();
        const std::size_t seed = unlabelled.nearest(cx, cy);
        state.start(block);
        out.conflicts += *walker.walk(seed, state, out.refused);
        ++block;
    }
    out.blocks = block;
    // Walk positions become the caller's indices in one pass each, where the
    // reads do not wait for one another.
    if (caller.empty()) {
        out.labels = std::move(labels);
    } else {
        for (auto& [from, to] : out.refused) {
            from = caller[from];
            to = caller[to];
        }
        out.labels.resize(n);
        for (std::size_t e = 0; e < n; ++e) out.labels[caller[e]] = labels[e];
    }
    return out;
}

}  // namespace

LatticeLabels label_lattice(const geometry::PointIndex& index, std::span<const std::array<double, 2>> points,
                            std::array<double, 2> si, std::array<double, 2> sj) {
    const PlanarTree tree(points);
    return walk_lattice(IndexQueries{index}, points, {}, tree, tree.spatial_order(), si, sj);
}

/// The detection's own tree and the points in its order, which the walk
/// continues from.
struct WalkBasis {
    explicit WalkBasis(std::span<const std::array<double, 2>> points) : tree(points) {}

    PlanarTree tree;
    FillVector<std::array<double, 2>> tree_points;
};

Result<Measurement> measure(std::span<const std::array<double, 3>> points, std::optional<double> nominal_cell) {
    if (nominal_cell && !(std::isfinite(*nominal_cell) && *nominal_cell > 0.0))
        return fail(inference("nominal cell must be a finite positive number"));
    DistinctPoints distinct = distinct_points(points);
    if (distinct.points.size() < 4)
        return fail(inference("topology detection requires at least four distinct finite points"));

    // One flat tree serves every neighbour question (it answers as the shared
    // point index would), and one table of nearest entries serves the three
    // measuring passes.
    auto basis = std::make_shared<WalkBasis>(distinct.points);
    const PlanarTree& tree = basis->tree;
    // Everything below works on the points in tree order, where the points a
    // step looks at one after another mostly lie close in memory too; ties
    // and sums still go by the caller's order (`position` maps a caller's
    // index to its tree position).
    const auto order = tree.spatial_order();
    FillVector<std::array<double, 2>>& tree_points = basis->tree_points;
    tree_points.resize(distinct.points.size());
    FillVector<std::size_t> position(distinct.points.size());
    parallel::for_each_chunk(tree_points.size(), std::max<std::size_t>(parallel::chunk_items(20), 4096),
                             [&](std::size_t b, std::size_t end) {
                                 for (std::size_t e = b; e < end; ++e) {
                                     tree_points[e] = distinct.points[order[e]];
                                     position[order[e]] = e;
                                 }
                             });
    Neighbours nbs(tree, std::span<const std::array<double, 2>>(tree_points), true);
    VZ_ASSIGN_OR_RETURN(const double cell, cell_size(nbs, tree_points, position, nominal_cell));
    VZ_ASSIGN_OR_RETURN(const double theta, azimuth(nbs, tree_points, position, cell));
    const double c = std::cos(theta);
    const double s = std::sin(theta);
    // The axis steps' disc searches reach three times as far as a point's
    // sixth nearest entry: where the points spread evenly, a grid of cells
    // half as wide as a typical disc answers them.
    double sixth = 0.0;
    std::size_t sampled = 0;
    for (std::size_t p = 0; p < tree_points.size(); p += 1 + tree_points.size() / 1024) {
        const auto nearest = nbs.first(p, 6);
        sixth += std::sqrt(nearest.back().dist2);
        ++sampled;
    }
    const auto grid = geometry::PointGrid::build(tree_points, 1.5 * sixth / static_cast<double>(sampled),
                                                 kGridCellsPerPoint * tree_points.size() + 64);
    const bool use_grid = grid && grid->crowding() <= kGridMaxCrowding;
    const auto disc = [&](double x, double y, double radius, std::size_t p, auto&& visit) {
        // The grid holds the positions side by side in its own order.
        if (use_grid) {
            const auto at = grid->points();
            grid->for_each_entry_within(x, y, radius, [&](std::size_t g, double d2) {
                visit(grid->index_of(g), d2, at[g][0], at[g][1]);
            });
        } else {
            tree.for_each_within_by_position(x, y, radius, [&](std::size_t e, double d2) {
                visit(e, d2, tree_points[e][0], tree_points[e][1]);
            }, p);
        }
    };
    VZ_ASSIGN_OR_RETURN(const auto steps, axis_steps(nbs, tree_points, position, order, disc, {c, s}, {-s, c}, cell));

    Measurement out;
    TopologyDetection& d = out.detection;
    d.points = std::move(distinct.points);
    d.z = std::move(distinct.z);
    d.rotation = {c, s, -s, c};
    d.step_i = steps.first;
    d.step_j = steps.second;
    d.azimuth = theta;
    d.coincident_dropped = distinct.coincident_dropped;
    d.coincident_ambiguous = distinct.coincident_ambiguous;
    out.basis = std::move(basis);
    return out;
}

TopologyDetection walk(Measurement measurement) {
    TopologyDetection out = std::move(measurement.detection);
    const std::shared_ptr<const WalkBasis> basis = std::move(measurement.basis);
    const PlanarTree& tree = basis->tree;
    const auto order = tree.spatial_order();
    const std::span<const std::array<double, 2>> tree_points = basis->tree_points;
    const auto& rot = out.rotation;
    const std::array<double, 2> si{out.step_i * rot[0], out.step_i * rot[1]};
    const std::array<double, 2> sj{out.step_j * rot[2], out.step_j * rot[3]};
    // The walk's searches reach at most the refusal radius; where the points
    // spread evenly, a grid of cells half that wide answers them from a few
    // neighbouring cells.
    const double refuse_radius = 2.2 * std::max(std::hypot(si[0], si[1]), std::hypot(sj[0], sj[1]));
    const auto grid = geometry::PointGrid::build(tree_points, kGridCellPerRefusal * refuse_radius,
                                                 kGridCellsPerPoint * tree_points.size() + 64);
    LatticeLabels walk;
    if (grid && grid->crowding() <= kGridMaxCrowding) {
        // The walk then goes over the points in the grid's order, in which
        // the answers of a search lie side by side with their flags.
        const std::size_t n = tree_points.size();
        FillVector<std::size_t> grid_caller(n);
        FillVector<std::size_t> at_grid(n);
        parallel::for_each_chunk(n, std::max<std::size_t>(parallel::chunk_items(20), 4096),
                                 [&](std::size_t b, std::size_t end) {
                                     for (std::size_t g = b; g < end; ++g) {
                                         const std::size_t e = grid->index_of(g);
                                         grid_caller[g] = order[e];
                                         at_grid[e] = g;
                                     }
                                 });
        // Blocks are walked ahead on the threads left besides the committing
        // one and one for the caller's other work, where the cloud is large
        // enough to keep them busy.
        const std::size_t threads = parallel::thread_count();
        walk = threads >= 3 && n >= kWalkAheadPoints
                   ? walk_lattice_ahead(*grid, grid_caller, tree, at_grid, si, sj, threads - 2)
                   : walk_lattice(GridQueries{*grid}, grid->points(), grid_caller, tree, at_grid, si, sj);
    } else {
        walk = walk_lattice(TreeOrderQueries{tree}, tree_points, order, tree, {}, si, sj);
    }

    out.block_sizes.assign(walk.blocks, 0);
    for (const NodeLabel& l : walk.labels) ++out.block_sizes[l.block];
    out.refused = std::move(walk.refused);
    out.labels = std::move(walk.labels);
    out.conflicts = walk.conflicts;
    out.blocks = walk.blocks;
    return out;
}

Result<TopologyDetection> detect(std::span<const std::array<double, 3>> points, std::optional<double> nominal_cell) {
    VZ_ASSIGN_OR_RETURN(Measurement measured, measure(points, nominal_cell));
    return walk(std::move(measured));
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
