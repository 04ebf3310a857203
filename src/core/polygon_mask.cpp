#include "core/polygon_mask.hpp"

#include <algorithm>
#include <cmath>
#include <limits>
#include <optional>
#include <vector>

#include "core/geometry/predicates.hpp"
#include "core/polygons.hpp"
#include "parallel/parallel_for.hpp"

// How the sweep stays exact.
//
// Work in lattice index space: (fi, fj) with node (i, j) at (i, j). The
// node-to-world map M is affine, so a ring's winding number around a point is
// the same in both spaces up to the sign of M's determinant.
//
// The ring vertices are carried into index space in floating point (the
// computed ring R~, each vertex within (ei, ej) of its exact image), and the
// node positions the lattice computes are within (si, sj) of the ideal (i, j).
// With di >= ei + si and dj >= ej + sj: when R~ keeps out of the box
// [i - di, i + di] x [j - dj, j + dj], moving R~ back to the exact ring and
// (i, j) to the computed node never lets the ring touch the point, so the
// winding of the computed node around the exact ring equals that of (i, j)
// around R~. That one is counted exactly along the column line fi = i from
// the vertices' sides (fi > i or not, compared exactly, the same for both
// edges of a vertex) and the order of crossings and nodes along the line.
//
// A node whose box some edge may enter is decided by exact tests on world
// coordinates: on an edge (orientation zero and inside its extent) it is on
// the boundary; otherwise its winding is that of an earlier point of the same
// column (a node already decided, or a point before every crossing, winding
// 0) plus the signed crossings of the segment between the two. Both points
// lie within si of the column line, so only the edges bucketed for the
// column can cross that segment. For a closed ring of finite edges and a
// point off the ring the winding does not depend on the direction it is
// counted in, which is what lets the column replace the x-direction ray of
// the per-node test and still give the same answers.
//
// The bounds: a coordinate of a computed node is within 3.01 u (|x0| + |a i|
// + |b j|) of the exact one (u the unit roundoff); a vertex carried into index
// space is within 8.1 u S (|m1| + |m2|) / |det| of its image. Both are
// covered, with a generous factor, by kSlack u S (|m1| + |m2|) / |det|, S
// bounding every coordinate and offset involved. Exact orientation tests need
// magnitudes where products neither overflow nor underflow: rings and
// lattices outside that range are tested node by node, as are rings that are
// not closed or hold a non-finite vertex (an open chain's x-direction
// crossing count depends on the direction).

namespace vz {

namespace {

constexpr double kUnitRoundoff = 0x1p-53;
constexpr double kSlack = 64.0;
constexpr double kLargest = 0x1p180;
// Lattice coefficients at least this large (or zero) keep every computed node
// coordinate zero or at least 2^-133; ring coordinates must be as large.
constexpr double kSmallestCoefficient = 0x1p-80;
constexpr double kSmallestCoordinate = 0x1p-133;
// Bucket entries held at once; more are built and swept in bands of columns.
constexpr std::size_t kMaxEntries = std::size_t{1} << 20;

bool exact_range(double v, double smallest) {
    const double a = std::fabs(v);
    return a == 0.0 || (a >= smallest && a <= kLargest);
}

/// A closed ring of finite coordinates in the exact tests' range.
bool sweepable(const std::vector<Coord>& ring) {
    if (ring.size() < 2 || !(ring.front() == ring.back())) return false;
    return std::ranges::all_of(ring, [](const Coord& c) {
        return exact_range(c.x, kSmallestCoordinate) && exact_range(c.y, kSmallestCoordinate);
    });
}

/// (x, y) on the segment a-b: collinear by the exact test and inside its extent.
bool on_segment(double ax, double ay, double bx, double by, double x, double y) {
    return geometry::orient2d(ax, ay, bx, by, x, y) == 0.0 && std::min(ax, bx) <= x && x <= std::max(ax, bx) &&
           std::min(ay, by) <= y && y <= std::max(ay, by);
}

enum Status : std::uint8_t { kOutside, kBoundary, kInside };

/// Index space of a lattice.
struct Frame {
    gridding::NodeTransform t;
    double det = 0.0;
    double orientation = 1.0;  // sign of det: windings in world = orientation x in index space

    std::pair<double, double> index_of(double x, double y) const {
        const double ex = x - t.xori, ey = y - t.yori;
        return {(t.yj * ex + t.xj * ey) / det, (t.xi * ey - t.yi * ex) / det};
    }
};

std::optional<Frame> frame_of(const GridGeometry& geom) {
    Frame f;
    f.t = gridding::node_transform(geom.lattice());
    for (double v : {f.t.xori, f.t.yori, f.t.xi, f.t.xj, f.t.yi, f.t.yj})
        if (!exact_range(v, kSmallestCoefficient)) return std::nullopt;
    f.det = f.t.xi * f.t.yj + f.t.xj * f.t.yi;
    if (!std::isfinite(f.det) || f.det == 0.0) return std::nullopt;
    f.orientation = f.det > 0.0 ? 1.0 : -1.0;
    return f;
}

/// One ring the sweep takes.
struct SweptRing {
    std::uint32_t polygon;
    bool exterior;
};

/// The rings of every polygon laid out for the sweep.
struct Rings {
    std::vector<SweptRing> rings;
    std::vector<std::uint32_t> vertex_ring;  // ring of each vertex
    std::vector<double> x, y;                // world coordinates, rings one after another
    std::vector<double> fi, fj;              // the same vertices in index space
    std::vector<std::uint32_t> edges;        // first vertex of every edge
    // Per polygon, the holes the sweep cannot take: polygon p's are
    // odd_holes[odd_start[p] .. odd_start[p + 1]).
    std::vector<std::size_t> odd_start;
    std::vector<const std::vector<Coord>*> odd_holes;
};

/// One edge as it meets one column line.
struct LineEdge {
    std::uint32_t v;  // first vertex
    int sign;         // index-space winding it adds to the nodes before it, 0 when it does not cross
    double jlo, jhi;  // rows whose box it may enter: its part near the column line, widened by dj
};

struct Sweep {
    const std::span<const Polygon> polygons;
    const GridGeometry& geom;
    const std::size_t nrow;
    const Frame& frame;
    const Rings& rings;
    const double di, dj;
    const std::vector<std::uint32_t>& irregular;  // polygons tested node by node
};

/// Scratch of one thread.
struct LineScratch {
    std::vector<std::uint8_t> candidate;
    std::vector<std::int32_t> winding, cover;
    std::vector<LineEdge> edges;
    std::vector<double> x, y;  // node positions of the column, when a polygon needs them all
    bool have_positions = false;
};

/// The edges of one ring near column line i, with their crossings.
void line_edges(const Sweep& s, double fi, std::span<const std::uint32_t> entries, std::vector<LineEdge>& out) {
    out.clear();
    const Rings& r = s.rings;
    for (std::uint32_t v : entries) {
        const double ai = r.fi[v], aj = r.fj[v], bi = r.fi[v + 1], bj = r.fj[v + 1];
        if (std::max(ai, bi) < fi - s.di || std::min(ai, bi) > fi + s.di) continue;
        double l0 = 0.0, l1 = 1.0;
        if (ai != bi) {
            l0 = std::clamp((fi - s.di - ai) / (bi - ai), 0.0, 1.0);
            l1 = std::clamp((fi + s.di - ai) / (bi - ai), 0.0, 1.0);
        }
        const double j0 = aj + l0 * (bj - aj), j1 = aj + l1 * (bj - aj);
        const double pad = s.dj + 16.0 * kUnitRoundoff * (std::fabs(aj) + std::fabs(bj));
        const bool above_a = ai > fi, above_b = bi > fi;
        LineEdge e;
        e.v = v;
        e.sign = above_a == above_b ? 0 : (above_a ? 1 : -1);
        e.jlo = std::min(j0, j1) - pad;
        e.jhi = std::max(j0, j1) + pad;
        out.push_back(e);
    }
}

/// Clamps a row position to [lo, hi] and converts it.
std::ptrdiff_t clamp_row(double v, std::ptrdiff_t lo, std::ptrdiff_t hi) {
    if (!(v >= double(lo))) return lo;
    if (!(v <= double(hi))) return hi;
    return static_cast<std::ptrdiff_t>(v);
}

/// Decides one ring on column i. `visit(j, status)` is called for the nodes
/// of [first, last] (returned) that `wanted(j)` accepts, in row order; every
/// node outside that range is outside the ring. Returns an empty range
/// (first > last) when no node of the column can be inside or on the ring.
template <class Wanted, class Visit>
std::pair<std::ptrdiff_t, std::ptrdiff_t> sweep_ring(const Sweep& s, std::size_t i, std::span<const LineEdge> edges,
                                                     LineScratch& scratch, Wanted&& wanted, Visit&& visit) {
    const auto nrow = static_cast<std::ptrdiff_t>(s.nrow);
    if (edges.empty()) return {0, -1};
    double lo = std::numeric_limits<double>::infinity(), hi = -lo;
    for (const LineEdge& e : edges) {
        lo = std::min(lo, e.jlo);
        hi = std::max(hi, e.jhi);
    }
    const std::ptrdiff_t first = clamp_row(std::ceil(lo), 0, nrow), last = clamp_row(std::floor(hi), -1, nrow - 1);
    if (first > last) return {0, -1};
    const std::size_t len = static_cast<std::size_t>(last - first + 1);
    auto& winding = scratch.winding;
    auto& cover = scratch.cover;
    std::fill_n(winding.begin(), len + 1, 0);
    std::fill_n(cover.begin(), len + 1, 0);
    for (const LineEdge& e : edges) {
        // Crossings add their sign to the nodes before them.
        if (e.sign != 0) {
            const std::ptrdiff_t before = clamp_row(std::ceil(e.jlo) - 1.0, first - 1, last);
            if (before >= first) winding[static_cast<std::size_t>(before - first)] += e.sign;
        }
        const std::ptrdiff_t u0 = clamp_row(std::ceil(e.jlo), first, last + 1);
        const std::ptrdiff_t u1 = clamp_row(std::floor(e.jhi), first - 1, last);
        if (u0 <= u1) {
            ++cover[static_cast<std::size_t>(u0 - first)];
            --cover[static_cast<std::size_t>(u1 - first + 1)];
        }
    }
    for (std::size_t k = len - 1; k-- > 0;) winding[k] += winding[k + 1];

    // The last point of this column whose world winding is known: a point
    // before every crossing (winding 0) to begin with.
    struct Anchor {
        double j;
        bool placed;
        double x, y;
        long w;
    } anchor{std::floor(lo) - 1.0, false, 0.0, 0.0, 0};
    const Rings& r = s.rings;
    std::int32_t covered = 0;
    for (std::ptrdiff_t j = first; j <= last; ++j) {
        const std::size_t k = static_cast<std::size_t>(j - first);
        covered += cover[k];
        if (covered == 0) {
            const long w = static_cast<long>(s.frame.orientation) * winding[k];
            anchor = {double(j), false, 0.0, 0.0, w};
            if (wanted(j)) visit(j, w != 0 ? kInside : kOutside);
            continue;
        }
        if (!wanted(j)) continue;
        const double fj = double(j);
        const auto [px, py] = s.geom.node_xy(i, static_cast<std::uint64_t>(j));
        bool boundary = false;
        for (const LineEdge& e : edges) {
            if (e.jlo <= fj && fj <= e.jhi && on_segment(r.x[e.v], r.y[e.v], r.x[e.v + 1], r.y[e.v + 1], px, py)) {
                boundary = true;
                break;
            }
        }
        if (boundary) {
            visit(j, kBoundary);
            continue;
        }
        if (!anchor.placed) {
            std::tie(anchor.x, anchor.y) = gridding::node_xy_f(s.geom.lattice(), double(i), anchor.j);
            anchor.placed = true;
        }
        // Signed crossings of the segment anchor -> node: an edge whose ends
        // lie on different sides of the segment's line (a vertex on the line
        // counts as the negative side) and whose line separates the two. The
        // segment keeps near the column line, so an edge can only cross it
        // along its part near the line.
        long w = anchor.w;
        const double from = std::min(anchor.j, fj), to = std::max(anchor.j, fj);
        for (const LineEdge& e : edges) {
            if (e.jhi < from || e.jlo > to) continue;
            const double ax = r.x[e.v], ay = r.y[e.v], bx = r.x[e.v + 1], by = r.y[e.v + 1];
            const bool pos_a = geometry::orient2d(anchor.x, anchor.y, px, py, ax, ay) > 0.0;
            const bool pos_b = geometry::orient2d(anchor.x, anchor.y, px, py, bx, by) > 0.0;
            if (pos_a == pos_b) continue;
            const double o_from = geometry::orient2d(ax, ay, bx, by, anchor.x, anchor.y);
            const double o_to = geometry::orient2d(ax, ay, bx, by, px, py);
            if (o_from < 0.0 && o_to > 0.0)
                ++w;  // from the edge's right to its left
            else if (o_from > 0.0 && o_to < 0.0)
                --w;
        }
        anchor = {fj, true, px, py, w};
        visit(j, w != 0 ? kInside : kOutside);
    }
    return {first, last};
}

/// Masks column i into `mask` (nrow elements).
void sweep_column(const Sweep& s, std::size_t i, std::span<const std::uint32_t> entries, LineScratch& scratch,
                  std::uint8_t* mask) {
    const Rings& r = s.rings;
    const double fi = double(i);
    scratch.have_positions = false;
    auto node = [&](std::size_t j) {
        if (!scratch.have_positions) {
            for (std::size_t q = 0; q < s.nrow; ++q) std::tie(scratch.x[q], scratch.y[q]) = s.geom.node_xy(i, q);
            scratch.have_positions = true;
        }
        return std::pair{scratch.x[j], scratch.y[j]};
    };

    auto& candidate = scratch.candidate;
    std::ptrdiff_t polygon = -1, c0 = 0, c1 = -1;  // the polygon whose exterior set `candidate` over [c0, c1]
    auto flush = [&]() {
        if (polygon < 0) return;
        const auto p = static_cast<std::size_t>(polygon);
        for (std::size_t h = r.odd_start[p]; h < r.odd_start[p + 1]; ++h) {
            const std::vector<Coord>& hole = *r.odd_holes[h];
            for (std::ptrdiff_t j = c0; j <= c1; ++j) {
                if (!candidate[static_cast<std::size_t>(j)]) continue;
                const auto [x, y] = node(static_cast<std::size_t>(j));
                if (classify_point_in_ring(x, y, hole) != RingPosition::Outside)
                    candidate[static_cast<std::size_t>(j)] = 0;
            }
        }
        for (std::ptrdiff_t j = c0; j <= c1; ++j) {
            mask[j] |= candidate[static_cast<std::size_t>(j)];
            candidate[static_cast<std::size_t>(j)] = 0;
        }
        polygon = -1;
    };

    for (std::size_t k = 0; k < entries.size();) {
        const std::uint32_t ring = r.vertex_ring[entries[k]];
        std::size_t end = k + 1;
        while (end < entries.size() && r.vertex_ring[entries[end]] == ring) ++end;
        const SweptRing& info = r.rings[ring];
        const auto group = entries.subspan(k, end - k);
        k = end;
        if (info.exterior) {
            flush();
            line_edges(s, fi, group, scratch.edges);
            const auto range = sweep_ring(
                s, i, scratch.edges, scratch, [](std::ptrdiff_t) { return true; },
                [&](std::ptrdiff_t j, Status st) { candidate[static_cast<std::size_t>(j)] = st == kInside; });
            if (range.first > range.second) continue;
            polygon = info.polygon;
            std::tie(c0, c1) = range;
        } else if (static_cast<std::ptrdiff_t>(info.polygon) == polygon) {
            line_edges(s, fi, group, scratch.edges);
            sweep_ring(
                s, i, scratch.edges, scratch,
                [&](std::ptrdiff_t j) { return j >= c0 && j <= c1 && candidate[static_cast<std::size_t>(j)]; },
                [&](std::ptrdiff_t j, Status st) {
                    if (st != kOutside) candidate[static_cast<std::size_t>(j)] = 0;
                });
        }
    }
    flush();

    for (std::uint32_t p : s.irregular) {
        const Polygon& polygon_p = s.polygons[p];
        for (std::size_t j = 0; j < s.nrow; ++j) {
            if (mask[j]) continue;
            const auto [x, y] = node(j);
            if (polygon_p.contains(x, y)) mask[j] = 1;
        }
    }
}

/// Every node against every polygon: lattices the sweep cannot take.
void node_by_node(std::span<const Polygon> polygons, const GridGeometry& geom, std::size_t ncol, std::size_t nrow,
                  std::span<std::uint8_t> out) {
    std::uint64_t work = 0;
    for (const Polygon& p : polygons) {
        work += p.exterior.size();
        for (const auto& hole : p.interiors) work += hole.size();
    }
    const std::size_t chunk = parallel::chunk_items((work + 1) * 8 * nrow);
    parallel::for_each_chunk(ncol, chunk, [&](std::size_t i0, std::size_t i1) {
        for (std::size_t i = i0; i < i1; ++i) {
            for (std::size_t j = 0; j < nrow; ++j) {
                const auto [x, y] = geom.node_xy(i, j);
                for (const Polygon& p : polygons) {
                    if (p.contains(x, y)) {
                        out[i * nrow + j] = 1;
                        break;
                    }
                }
            }
        }
    });
}

}  // namespace

void lattice_containment(std::span<const Polygon> polygons, const GridGeometry& geom, std::size_t ncol,
                         std::size_t nrow, std::span<std::uint8_t> out) {
    if (ncol == 0 || nrow == 0 || polygons.empty()) return;
    const std::optional<Frame> frame = frame_of(geom);
    if (!frame) return node_by_node(polygons, geom, ncol, nrow, out);

    // Lay out the rings the sweep takes; polygons whose exterior it cannot
    // take are tested node by node, and an empty or one-vertex exterior
    // contains nothing.
    Rings r;
    std::vector<std::uint32_t> irregular;
    std::size_t total = 0;
    for (const Polygon& p : polygons) {
        total += p.exterior.size();
        for (const auto& hole : p.interiors) total += hole.size();
    }
    constexpr std::size_t kIndexLimit = std::numeric_limits<std::uint32_t>::max();
    if (total >= kIndexLimit || polygons.size() >= kIndexLimit)
        return node_by_node(polygons, geom, ncol, nrow, out);
    auto add_ring = [&](const std::vector<Coord>& ring, std::uint32_t polygon, bool exterior) {
        const auto id = static_cast<std::uint32_t>(r.rings.size());
        r.rings.push_back({polygon, exterior});
        for (std::size_t k = 0; k < ring.size(); ++k) {
            const auto v = static_cast<std::uint32_t>(r.x.size());
            r.x.push_back(ring[k].x);
            r.y.push_back(ring[k].y);
            r.vertex_ring.push_back(id);
            if (k + 1 < ring.size()) r.edges.push_back(v);
        }
    };
    r.odd_start.assign(polygons.size() + 1, 0);
    for (std::size_t n = 0; n < polygons.size(); ++n) {
        const Polygon& p = polygons[n];
        const auto id = static_cast<std::uint32_t>(n);
        r.odd_start[n + 1] = r.odd_start[n];
        if (p.exterior.size() < 2) continue;
        if (!sweepable(p.exterior)) {
            irregular.push_back(id);
            continue;
        }
        add_ring(p.exterior, id, true);
        for (const auto& hole : p.interiors) {
            if (sweepable(hole)) {
                add_ring(hole, id, false);
            } else if (!hole.empty()) {  // an empty hole excludes nothing
                r.odd_holes.push_back(&hole);
                ++r.odd_start[n + 1];
            }
        }
    }

    // Index space, and the half-widths of the boxes beyond which an edge
    // cannot change a node's answer.
    const Frame& f = *frame;
    double max_fj = 0.0, offset = 0.0;
    r.fi.resize(r.x.size());
    r.fj.resize(r.x.size());
    for (std::size_t v = 0; v < r.x.size(); ++v) {
        std::tie(r.fi[v], r.fj[v]) = f.index_of(r.x[v], r.y[v]);
        max_fj = std::max(max_fj, std::fabs(r.fj[v]));
        offset = std::max({offset, std::fabs(r.x[v] - f.t.xori), std::fabs(r.y[v] - f.t.yori)});
    }
    const double columns = double(ncol) + 1.0, rows = std::max(double(nrow), max_fj + 16.0) + 1.0;
    const double reach = std::max(std::fabs(f.t.xori) + std::fabs(f.t.xi) * columns + std::fabs(f.t.xj) * rows,
                                  std::fabs(f.t.yori) + std::fabs(f.t.yi) * columns + std::fabs(f.t.yj) * rows);
    if (!(reach <= kLargest)) return node_by_node(polygons, geom, ncol, nrow, out);
    const double scale = kSlack * kUnitRoundoff * std::max(reach, offset) / std::fabs(f.det);
    const double di = scale * (std::fabs(f.t.yj) + std::fabs(f.t.xj));
    const double dj = scale * (std::fabs(f.t.yi) + std::fabs(f.t.xi));
    if (!std::isfinite(di) || !std::isfinite(dj)) return node_by_node(polygons, geom, ncol, nrow, out);

    // The columns each edge comes near.
    const auto last_column = static_cast<std::ptrdiff_t>(ncol) - 1;
    std::vector<std::pair<std::ptrdiff_t, std::ptrdiff_t>> span(r.edges.size());
    std::vector<std::size_t> per_column(ncol + 1, 0);
    for (std::size_t e = 0; e < r.edges.size(); ++e) {
        const std::uint32_t v = r.edges[e];
        const double lo = std::min(r.fi[v], r.fi[v + 1]) - 2.0 * di, hi = std::max(r.fi[v], r.fi[v + 1]) + 2.0 * di;
        span[e] = {clamp_row(std::ceil(lo), 0, last_column + 1), clamp_row(std::floor(hi), -1, last_column)};
        if (span[e].first <= span[e].second) {
            ++per_column[static_cast<std::size_t>(span[e].first)];
            --per_column[static_cast<std::size_t>(span[e].second + 1)];
        }
    }
    for (std::size_t i = 1; i <= ncol; ++i) per_column[i] += per_column[i - 1];

    const Sweep s{polygons, geom, nrow, f, r, di, dj, irregular};
    std::vector<std::size_t> start;
    std::vector<std::uint32_t> entries;
    for (std::size_t band0 = 0; band0 < ncol;) {
        // A band of columns whose entries fit; at least one column.
        std::size_t band1 = band0, count = 0;
        while (band1 < ncol && (band1 == band0 || count + per_column[band1] <= kMaxEntries))
            count += per_column[band1++];
        start.assign(band1 - band0 + 1, 0);
        for (std::size_t i = band0; i < band1; ++i) start[i - band0 + 1] = start[i - band0] + per_column[i];
        entries.resize(count);
        std::vector<std::size_t> fill(start.begin(), start.end() - 1);
        for (std::size_t e = 0; e < r.edges.size(); ++e) {
            const auto a = std::max(span[e].first, static_cast<std::ptrdiff_t>(band0));
            const auto b = std::min(span[e].second, static_cast<std::ptrdiff_t>(band1) - 1);
            for (std::ptrdiff_t i = a; i <= b; ++i) entries[fill[static_cast<std::size_t>(i) - band0]++] = r.edges[e];
        }

        const std::size_t band_columns = band1 - band0;
        const std::size_t chunk = parallel::chunk_items(4 * nrow + 64 * (count / band_columns + 1));
        parallel::for_each_chunk(band_columns, chunk, [&](std::size_t c0, std::size_t c1) {
            LineScratch scratch;
            scratch.candidate.assign(nrow, 0);
            scratch.winding.assign(nrow + 2, 0);
            scratch.cover.assign(nrow + 2, 0);
            scratch.x.resize(nrow);
            scratch.y.resize(nrow);
            for (std::size_t c = c0; c < c1; ++c) {
                const std::size_t i = band0 + c;
                const std::span<const std::uint32_t> column(entries.data() + start[c], start[c + 1] - start[c]);
                sweep_column(s, i, column, scratch, out.data() + i * nrow);
            }
        });
        band0 = band1;
    }
}

}  // namespace vz
