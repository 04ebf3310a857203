#include "core/geometry/delaunay.hpp"

#include <fmt/format.h>

#include <algorithm>
#include <bit>
#include <cmath>
#include <limits>
#include <type_traits>

#include "core/geometry/predicates.hpp"

// Incremental Delaunay construction.
//
// Points are inserted in a biased randomized order (rounds of doubling size,
// each round sorted along a Hilbert curve) so that walks are short and the
// expected work is O(n log n). Each point is located by a visibility walk,
// splits its triangle (or edge) and is then made Delaunay by Lawson flips on
// strict in-circle tests only: cocircular configurations are never flipped,
// so the order alone fixes the diagonals and the result is deterministic.
//
// The outside of the hull is covered by "ghost" triangles sharing one
// infinite vertex; a ghost (u, v, inf) stands for the open half-plane beyond
// the hull edge v→u, which makes insertions outside the hull the same
// operations as inside.

namespace vz::geometry {

namespace {

constexpr double kMaxMagnitude = 0x1p201;
constexpr double kMinMagnitude = 0x1p-142;

/// Deterministic 64-bit generator (splitmix64): a fixed seed, so the same
/// input always yields the same insertion order and the same walks.
struct SplitMix {
    std::uint64_t s;
    std::uint64_t next() {
        std::uint64_t z = (s += 0x9e3779b97f4a7c15ull);
        z = (z ^ (z >> 30)) * 0xbf58476d1ce4e5b9ull;
        z = (z ^ (z >> 27)) * 0x94d049bb133111ebull;
        return z ^ (z >> 31);
    }
};

constexpr int kHilbertBits = 14;

/// Position along a Hilbert curve over a 2^14 × 2^14 grid.
std::uint32_t hilbert_key(std::uint32_t x, std::uint32_t y) {
    constexpr std::uint32_t n = 1u << kHilbertBits;
    std::uint32_t d = 0;
    for (std::uint32_t s = n / 2; s > 0; s /= 2) {
        const std::uint32_t rx = (x & s) ? 1u : 0u;
        const std::uint32_t ry = (y & s) ? 1u : 0u;
        d += s * s * ((3u * rx) ^ ry);
        if (ry == 0) {
            if (rx == 1) {
                x = n - 1 - x;
                y = n - 1 - y;
            }
            std::swap(x, y);
        }
    }
    return d;
}

/// Stable LSD radix sort of 64-bit keys on their upper 32 bits (the lower 32
/// bits, the input index, are already ascending).
void radix_sort_upper(std::vector<std::uint64_t>& keys) {
    std::vector<std::uint64_t> tmp(keys.size());
    for (int shift = 32; shift < 64; shift += 16) {
        std::vector<std::size_t> count(65537, 0);
        for (std::uint64_t k : keys) ++count[((k >> shift) & 0xffff) + 1];
        for (std::size_t i = 1; i < count.size(); ++i) count[i] += count[i - 1];
        for (std::uint64_t k : keys) tmp[count[(k >> shift) & 0xffff]++] = k;
        keys.swap(tmp);
    }
}

/// The insertion order, a biased randomized one: every point is assigned a
/// round by a fixed hash of its index (the last round takes about half the
/// points, the one before a quarter, ...), and inside a round the points
/// follow a Hilbert curve, ties by input index. Walks stay short and the
/// expected work stays O(n log n) whatever order the caller used.
std::vector<std::uint32_t> insertion_order(const double* xs, const double* ys, std::size_t stride, std::size_t n) {
    double minx = std::numeric_limits<double>::infinity(), miny = minx;
    double maxx = -minx, maxy = -minx;
    for (std::size_t k = 0; k < n; ++k) {
        minx = std::min(minx, xs[k * stride]);
        maxx = std::max(maxx, xs[k * stride]);
        miny = std::min(miny, ys[k * stride]);
        maxy = std::max(maxy, ys[k * stride]);
    }
    const double extent = std::max(maxx - minx, maxy - miny);
    constexpr double cells = double((1u << kHilbertBits) - 1);
    const double scale = extent > 0.0 ? cells / extent : 0.0;
    auto grid = [&](double v, double lo) { return static_cast<std::uint32_t>(std::clamp((v - lo) * scale, 0.0, cells)); };

    // Rounds: about log2(n / 64) of them, at most 16 (4 bits of the key).
    int rounds = 1;
    while (rounds < 16 && (std::size_t{64} << rounds) < n) ++rounds;
    std::vector<std::uint64_t> keys(n);
    for (std::size_t k = 0; k < n; ++k) {
        SplitMix h{k ^ 0x5eed0fde1a0a7ull};
        const int level = std::min(std::countr_zero(h.next() | (std::uint64_t{1} << 63)), rounds - 1);
        const std::uint64_t round = static_cast<std::uint64_t>(rounds - 1 - level);
        const std::uint64_t curve = hilbert_key(grid(xs[k * stride], minx), grid(ys[k * stride], miny));
        keys[k] = (round << 60) | (curve << 32) | k;
    }
    radix_sort_upper(keys);
    std::vector<std::uint32_t> order(n);
    for (std::size_t i = 0; i < n; ++i) order[i] = static_cast<std::uint32_t>(keys[i]);
    return order;
}

/// The triangulation under construction. Id indexes vertices, triangles and
/// half-edges (3 t + i is edge i of triangle t, opposite its vertex i and
/// running from vertex i+1 to vertex i+2).
template <class Id>
class Builder {
public:
    static constexpr Id kInf = std::numeric_limits<Id>::max();

    Builder(const double* xs, const double* ys, std::size_t stride, const std::vector<std::uint32_t>& order)
        : rng_{0x0ddba11c0ffeeull} {
        const std::size_t n = order.size();
        pts_.resize(n);
        input_.resize(n);
        for (std::size_t v = 0; v < n; ++v) {
            const std::uint32_t k = order[v];
            pts_[v] = {xs[k * stride], ys[k * stride]};
            input_[v] = k;
        }
        verts_.reserve(6 * n + 16);
        nbr_.reserve(6 * n + 16);
    }

    std::vector<Triangle> run() {
        const Id n = static_cast<Id>(pts_.size());
        // The first triangle: the first point, the next distinct one, the
        // next one off their line. Points skipped here are inserted later.
        Id i1 = 1;
        while (i1 < n && same(0, i1)) ++i1;
        Id i2 = i1 + 1;
        while (i2 < n && orient(0, i1, i2) == 0.0) ++i2;
        if (i2 >= n) return {};
        if (orient(0, i1, i2) > 0.0) {
            start(0, i1, i2);
        } else {
            start(0, i2, i1);
        }
        for (Id v = 1; v < n; ++v) {
            if (v == i1 || v == i2) continue;
            insert(v);
        }
        std::vector<Triangle> out;
        const std::size_t ntri = verts_.size() / 3;
        out.reserve(ntri);
        for (std::size_t t = 0; t < ntri; ++t) {
            const Id a = verts_[3 * t], b = verts_[3 * t + 1], c = verts_[3 * t + 2];
            if (a == kInf || b == kInf || c == kInf) continue;
            out.push_back({input_[a], input_[b], input_[c]});
        }
        return out;
    }

private:
    std::vector<std::array<double, 2>> pts_;
    std::vector<std::uint32_t> input_;  // vertex -> lowest input index at that position
    std::vector<Id> verts_;             // 3 per triangle
    std::vector<Id> nbr_;               // 3 per triangle: the twin half-edge
    std::vector<Id> stack_;
    Id hint_ = 0;
    SplitMix rng_;

    bool same(Id a, Id b) const { return pts_[a][0] == pts_[b][0] && pts_[a][1] == pts_[b][1]; }
    double orient(Id a, Id b, Id c) const { return orient2d(pts_[a], pts_[b], pts_[c]); }

    static Id next(Id i) { return i == 2 ? 0 : i + 1; }
    static Id prev(Id i) { return i == 0 ? 2 : i - 1; }

    bool ghost(Id t) const { return verts_[3 * t] == kInf || verts_[3 * t + 1] == kInf || verts_[3 * t + 2] == kInf; }

    Id new_triangle() {
        const Id t = static_cast<Id>(verts_.size() / 3);
        verts_.resize(verts_.size() + 3);
        nbr_.resize(nbr_.size() + 3);
        return t;
    }
    void set(Id t, Id a, Id b, Id c) {
        verts_[3 * t] = a;
        verts_[3 * t + 1] = b;
        verts_[3 * t + 2] = c;
    }
    void link(Id h, Id g) {
        nbr_[h] = g;
        nbr_[g] = h;
    }

    void start(Id a, Id b, Id c) {
        // Real triangle (a, b, c) and the ghosts beyond its three edges.
        const Id t = new_triangle(), g0 = new_triangle(), g1 = new_triangle(), g2 = new_triangle();
        set(t, a, b, c);
        set(g0, c, b, kInf);  // beyond b→c
        set(g1, a, c, kInf);  // beyond c→a
        set(g2, b, a, kInf);  // beyond a→b
        link(3 * t + 0, 3 * g0 + 2);
        link(3 * t + 1, 3 * g1 + 2);
        link(3 * t + 2, 3 * g2 + 2);
        // Ghost edges through the infinite vertex: g0 = (c, b, inf) edge 0 is
        // b→inf, edge 1 is inf→c.
        link(3 * g0 + 0, 3 * g2 + 1);  // b→inf / inf→b
        link(3 * g0 + 1, 3 * g1 + 0);  // inf→c / c→inf
        link(3 * g1 + 1, 3 * g2 + 0);  // inf→a / a→inf
        hint_ = t;
    }

    /// Outcome of locating a point.
    struct Location {
        enum Kind { Face, Edge, Vertex } kind;
        Id tri;
        Id index;  // Edge: the edge's index; Vertex: the vertex's index in tri
    };

    Location locate(Id p) {
        Id t = hint_;
        if (ghost(t)) {
            // Step to the real triangle across the ghost's finite edge.
            Id i = 0;
            while (verts_[3 * t + i] != kInf) ++i;
            t = nbr_[3 * t + i] / 3;
        }
        Id from = 3;  // edge we entered through (known to be fine)
        std::size_t steps = 0;
        const std::size_t limit = 4 * (verts_.size() / 3) + 64;
        while (true) {
            if (++steps > limit) return locate_by_scan(p);
            const Id r = static_cast<Id>(rng_.next() % 3);
            double o[3] = {1.0, 1.0, 1.0};
            bool moved = false;
            for (Id k = 0; k < 3; ++k) {
                const Id i = (r + k) % 3;
                if (i == from) continue;
                const Id a = verts_[3 * t + next(i)];
                const Id b = verts_[3 * t + prev(i)];
                o[i] = orient(a, b, p);
                if (o[i] < 0.0) {
                    const Id h = nbr_[3 * t + i];
                    const Id u = h / 3;
                    if (ghost(u)) return {Location::Face, u, 0};
                    t = u;
                    from = h % 3;
                    moved = true;
                    break;
                }
            }
            if (moved) continue;
            if (from < 3) o[from] = 1.0;  // strictly inside relative to the entry edge
            return classify(t, o);
        }
    }

    Location classify(Id t, const double* o) const {
        int zeros = 0;
        Id zi = 0, zj = 0;
        for (Id i = 0; i < 3; ++i) {
            if (o[i] == 0.0) {
                (zeros == 0 ? zi : zj) = i;
                ++zeros;
            }
        }
        if (zeros == 0) return {Location::Face, t, 0};
        if (zeros == 1) return {Location::Edge, t, zi};
        return {Location::Vertex, t, static_cast<Id>(3 - zi - zj)};
    }

    /// Fallback location by examining every triangle; never needed on a
    /// Delaunay triangulation, kept so that location always terminates.
    Location locate_by_scan(Id p) {
        const std::size_t ntri = verts_.size() / 3;
        for (std::size_t tt = 0; tt < ntri; ++tt) {
            const Id t = static_cast<Id>(tt);
            if (ghost(t)) continue;
            double o[3];
            bool inside = true;
            for (Id i = 0; i < 3 && inside; ++i) {
                o[i] = orient(verts_[3 * t + next(i)], verts_[3 * t + prev(i)], p);
                inside = o[i] >= 0.0;
            }
            if (inside) return classify(t, o);
        }
        for (std::size_t tt = 0; tt < ntri; ++tt) {
            const Id t = static_cast<Id>(tt);
            if (ghost(t) && conflicts(t, p)) return {Location::Face, t, 0};
        }
        return {Location::Vertex, 0, 0};  // unreachable for a valid triangulation
    }

    /// Whether p lies strictly inside the circumcircle of triangle t (for a
    /// ghost: strictly beyond its hull edge).
    bool conflicts(Id t, Id p) const {
        const Id a = verts_[3 * t], b = verts_[3 * t + 1], c = verts_[3 * t + 2];
        if (a == kInf) return orient(b, c, p) > 0.0;
        if (b == kInf) return orient(c, a, p) > 0.0;
        if (c == kInf) return orient(a, b, p) > 0.0;
        return incircle(pts_[a], pts_[b], pts_[c], pts_[p]) > 0.0;
    }

    void insert(Id p) {
        const Location loc = locate(p);
        switch (loc.kind) {
            case Location::Vertex: {
                const Id v = verts_[3 * loc.tri + loc.index];
                input_[v] = std::min(input_[v], input_[p]);
                return;
            }
            case Location::Face:
                split_face(loc.tri, p);
                break;
            case Location::Edge:
                split_edge(loc.tri, loc.index, p);
                break;
        }
        legalize(p);
    }

    /// Splits triangle t = (v0, v1, v2) into (p, v1, v2), (p, v2, v0),
    /// (p, v0, v1); each new triangle has p at position 0.
    void split_face(Id t, Id p) {
        const Id v0 = verts_[3 * t], v1 = verts_[3 * t + 1], v2 = verts_[3 * t + 2];
        const Id o0 = nbr_[3 * t], o1 = nbr_[3 * t + 1], o2 = nbr_[3 * t + 2];
        const Id t1 = new_triangle(), t2 = new_triangle();
        set(t, p, v1, v2);
        set(t1, p, v2, v0);
        set(t2, p, v0, v1);
        link(3 * t, o0);
        link(3 * t1, o1);
        link(3 * t2, o2);
        link(3 * t + 1, 3 * t1 + 2);
        link(3 * t + 2, 3 * t2 + 1);
        link(3 * t1 + 1, 3 * t2 + 2);
        stack_.push_back(3 * t);
        stack_.push_back(3 * t1);
        stack_.push_back(3 * t2);
        hint_ = t;
    }

    /// Splits edge i of t (and the triangle across it) at p into four
    /// triangles, each with p at position 0.
    void split_edge(Id t, Id i, Id p) {
        const Id a = verts_[3 * t + i], b = verts_[3 * t + next(i)], c = verts_[3 * t + prev(i)];
        const Id g = nbr_[3 * t + i];
        const Id u = g / 3, j = g % 3;
        const Id d = verts_[3 * u + j];
        const Id o_ca = nbr_[3 * t + next(i)];
        const Id o_ab = nbr_[3 * t + prev(i)];
        const Id o_bd = nbr_[3 * u + next(j)];
        const Id o_dc = nbr_[3 * u + prev(j)];
        const Id t1 = new_triangle(), t3 = new_triangle();
        const Id t0 = t, t2 = u;
        set(t0, p, a, b);
        set(t1, p, c, a);
        set(t2, p, d, c);
        set(t3, p, b, d);
        link(3 * t0, o_ab);
        link(3 * t1, o_ca);
        link(3 * t2, o_dc);
        link(3 * t3, o_bd);
        link(3 * t0 + 2, 3 * t1 + 1);
        link(3 * t0 + 1, 3 * t3 + 2);
        link(3 * t1 + 2, 3 * t2 + 1);
        link(3 * t2 + 2, 3 * t3 + 1);
        stack_.push_back(3 * t0);
        stack_.push_back(3 * t1);
        stack_.push_back(3 * t2);
        stack_.push_back(3 * t3);
        hint_ = t0;
    }

    /// Lawson flips around the new point p: every stacked half-edge is edge 0
    /// of a triangle (p, x, y); flip it while the triangle across conflicts.
    void legalize(Id p) {
        while (!stack_.empty()) {
            const Id h = stack_.back();
            stack_.pop_back();
            const Id t = h / 3;
            const Id g = nbr_[h];
            const Id u = g / 3, j = g % 3;
            if (!conflicts(u, p)) continue;
            const Id x = verts_[3 * t + 1], y = verts_[3 * t + 2];
            const Id q = verts_[3 * u + j];
            const Id a_xq = nbr_[3 * u + next(j)];
            const Id a_qy = nbr_[3 * u + prev(j)];
            const Id a_yp = nbr_[3 * t + 1];
            const Id a_px = nbr_[3 * t + 2];
            set(t, p, x, q);
            set(u, p, q, y);
            link(3 * t, a_xq);
            link(3 * t + 2, a_px);
            link(3 * u, a_qy);
            link(3 * u + 1, a_yp);
            link(3 * t + 1, 3 * u + 2);
            stack_.push_back(3 * t);
            stack_.push_back(3 * u);
            hint_ = t;
        }
    }
};

Result<std::vector<Triangle>> triangulate(const double* xs, const double* ys, std::size_t stride, std::size_t n) {
    if (n > std::numeric_limits<std::uint32_t>::max()) {
        return fail(Error::geometry_inference(
            fmt::format("triangulation accepts at most {} points, got {}", std::numeric_limits<std::uint32_t>::max(), n)));
    }
    for (std::size_t k = 0; k < n; ++k) {
        for (double v : {xs[k * stride], ys[k * stride]}) {
            const char* reason = nullptr;
            if (std::isnan(v)) {
                reason = "NAN";
            } else if (std::fabs(v) > kMaxMagnitude) {
                reason = "TooLarge";
            } else if (v != 0.0 && std::fabs(v) < kMinMagnitude) {
                reason = "TooSmall";
            }
            if (reason) return fail(Error::geometry_inference(fmt::format("triangulation rejected a point: {}", reason)));
        }
    }
    if (n < 3) return std::vector<Triangle>{};
    const std::vector<std::uint32_t> order = insertion_order(xs, ys, stride, n);
    // Half-edge ids reach about 6 n; 32-bit ids while they fit.
    if (n < (std::size_t{1} << 32) / 8) {
        return Builder<std::uint32_t>(xs, ys, stride, order).run();
    }
    return Builder<std::uint64_t>(xs, ys, stride, order).run();
}

}  // namespace

Result<std::vector<Triangle>> delaunay_triangulate(std::span<const double> xs, std::span<const double> ys) {
    if (xs.size() != ys.size()) {
        return fail(Error::geometry_mismatch(
            fmt::format("triangulation needs as many x as y coordinates ({} vs {})", xs.size(), ys.size())));
    }
    return triangulate(xs.data(), ys.data(), 1, xs.size());
}

Result<std::vector<Triangle>> delaunay_triangulate(std::span<const std::array<double, 2>> points) {
    if (points.empty()) return std::vector<Triangle>{};
    return triangulate(&points[0][0], &points[0][1], 2, points.size());
}

}  // namespace vz::geometry
