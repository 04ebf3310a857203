#include "algorithms/surfaces.hpp"

#include <fmt/format.h>

#include <algorithm>
#include <cmath>
#include <limits>

#include "core/shell/structured.hpp"
#include "core/structured_surface.hpp"
#include "core/surface.hpp"
#include "core/tri_surface.hpp"
#include "expected_macros.hpp"
#include "foundation/format.hpp"
#include "gridding/lattice.hpp"
#include "parallel/parallel_for.hpp"

namespace vz {
namespace {

constexpr std::uint32_t kNoNode = std::numeric_limits<std::uint32_t>::max();

bool present(double x, double y) { return std::isfinite(x) && std::isfinite(y); }

/// The quad split of an ncol x nrow lattice whose node (i, j) sits at
/// xy(i, j); absent (non-finite) nodes are left out. Checks as
/// `StructuredShell::to_mesh_shell` does, in its order.
template <class XY>
Result<QuadMesh> build_quad_mesh(std::size_t nc, std::size_t nr, const XY& xy) {
    constexpr auto kMaxStep = static_cast<std::size_t>(std::numeric_limits<std::int32_t>::max());
    if (nc - 1 > kMaxStep || nr - 1 > kMaxStep)
        return fail(Error::geometry_inference(
            fmt::format("structured shell of {} x {} nodes exceeds the 32-bit lattice label range", nc, nr)));

    // The present nodes must fit 32-bit indices. A lattice that holds no
    // more nodes than that needs no count; a larger one is counted before
    // anything of its size is allocated.
    std::uint64_t count = std::uint64_t{nc} * nr;
    if (count > kMaxMeshNodes) {
        count = 0;
        for (std::size_t j = 0; j < nr; ++j)
            for (std::size_t i = 0; i < nc; ++i) {
                const auto [x, y] = xy(i, j);
                if (present(x, y)) ++count;
            }
        VZ_TRY(mesh::check_node_count(count, "StructuredShell::to_mesh_shell"));
    }
    // Node numbers by lattice position ([i * nr + j], like Grid2), so each
    // cell finds its corners in constant time.
    std::vector<std::uint32_t> index(nc * nr, kNoNode);
    QuadMesh mesh;
    mesh.ncol = nc;
    mesh.nrow = nr;
    mesh.nodes.reserve(count);
    mesh.cells.reserve(count);
    for (std::size_t j = 0; j < nr; ++j)
        for (std::size_t i = 0; i < nc; ++i) {
            const auto [x, y] = xy(i, j);
            if (!present(x, y)) continue;
            index[i * nr + j] = static_cast<std::uint32_t>(mesh.nodes.size());
            mesh.nodes.push_back({x, y});
            mesh.cells.push_back(i * nr + j);
        }

    if (nc >= 2 && nr >= 2) mesh.triangles.reserve(2 * (nc - 1) * (nr - 1));
    for (std::size_t j = 0; j + 1 < nr; ++j)
        for (std::size_t i = 0; i + 1 < nc; ++i) {
            const std::uint32_t g = index[i * nr + j];
            const std::uint32_t f = index[(i + 1) * nr + j];
            const std::uint32_t e = index[i * nr + j + 1];
            const std::uint32_t d = index[(i + 1) * nr + j + 1];
            if (g == kNoNode || f == kNoNode || e == kNoNode || d == kNoNode) continue;
            mesh::push_ccw_triangle(mesh.triangles, mesh.nodes, {g, f, d});
            mesh::push_ccw_triangle(mesh.triangles, mesh.nodes, {g, d, e});
        }
    if (mesh.triangles.empty())
        return fail(Error::geometry_inference("structured shell has no complete cell to triangulate"));
    mesh.triangles.shrink_to_fit();
    return mesh;
}

// ---- one level ----------------------------------------------------------------

/// A crossing key as one 64-bit code with the same order: a node key n is n
/// itself, an edge key (lo, hi) is (lo + 1) * 2^32 + hi. Node codes stay
/// below 2^32 and edge codes start there, so every node key sorts first; edge
/// codes order by lo, then hi. Exact for every 32-bit node index.
std::uint64_t key_code(const ContourKey& key) {
    if (key.tag == 0) return key.first;
    return ((std::uint64_t{key.first} + 1) << 32) | key.second;
}

/// One triangle as the tracer reads it: its corners in counter-clockwise
/// order, their values and positions, and (for a lattice) its cell.
struct TraceTriangle {
    MeshTriangle n;
    double v[3];
    NodeXY p[3];
    std::size_t i = 0, j = 0;
};

/// A triangle mesh held as lists: node positions, counter-clockwise
/// triangles and one value per node.
struct ListMesh {
    std::span<const NodeXY> nodes;
    std::span<const MeshTriangle> triangles;
    std::span<const double> values;

    std::size_t triangle_count() const { return triangles.size(); }
    /// Corners and values of triangle k.
    void load(std::size_t k, TraceTriangle& t) const {
        t.n = triangles[k];
        for (int c = 0; c < 3; ++c) t.v[c] = values[t.n[c]];
    }
    /// Positions of a loaded triangle's corners.
    void place(TraceTriangle& t) const {
        for (int c = 0; c < 3; ++c) t.p[c] = nodes[t.n[c]];
    }
    /// fn(k, a, b, c) for the triangles [k0, k1) in order, with a, b, c
    /// the entries of `per_node` at the triangle's corners.
    template <class T, class F>
    void each_corners(std::size_t k0, std::size_t k1, const T* per_node, F&& fn) const {
        for (std::size_t k = k0; k < k1; ++k) {
            const auto& tri = triangles[k];
            fn(k, per_node[tri[0]], per_node[tri[1]], per_node[tri[2]]);
        }
    }
};

/// The quad split of a regular lattice every node of which has a finite
/// position, walked in place: the mesh `quad_mesh` builds for it, without
/// building it. Node n = j * nc + i is lattice node (i, j); cell (i, j), in
/// order row j outer and column i inner, gives triangles 2c and 2c + 1
/// (c = j * (nc - 1) + i) with the corners (i, j), (i + 1, j), (i + 1, j + 1)
/// and (i, j), (i + 1, j + 1), (i, j + 1), put counter-clockwise as the
/// explicit mesh puts them.
struct LatticeMesh {
    std::size_t nc = 0, nr = 0;
    gridding::NodeTransform xy{};
    /// Per node, in node order.
    std::span<const double> values;

    std::size_t triangle_count() const { return 2 * (nc - 1) * (nr - 1); }
    void load(std::size_t k, TraceTriangle& t) const {
        const std::size_t c = k / 2;
        t.j = c / (nc - 1);
        t.i = c - t.j * (nc - 1);
        const auto g = static_cast<std::uint32_t>(t.j * nc + t.i);
        const auto d = static_cast<std::uint32_t>(g + nc + 1);
        t.n = k % 2 == 0 ? MeshTriangle{g, g + 1, d} : MeshTriangle{g, d, static_cast<std::uint32_t>(g + nc)};
        for (int q = 0; q < 3; ++q) t.v[q] = values[t.n[q]];
    }
    void place(TraceTriangle& t) const {
        // The corners' lattice steps from (i, j), in load order.
        const bool lower = t.n[1] == t.n[0] + 1;
        const std::size_t di[3] = {0, 1, lower ? 1u : 0u};
        const std::size_t dj[3] = {0, lower ? 0u : 1u, 1};
        for (int q = 0; q < 3; ++q) {
            const auto [x, y] = xy.at(static_cast<double>(t.i + di[q]), static_cast<double>(t.j + dj[q]));
            t.p[q] = {x, y};
        }
        // As `mesh::push_ccw_triangle`: only a clockwise turn swaps.
        const NodeXY &pa = t.p[0], &pb = t.p[1], &pc = t.p[2];
        const double area = (pb[0] - pa[0]) * (pc[1] - pa[1]) - (pb[1] - pa[1]) * (pc[0] - pa[0]);
        if (area < 0.0) {
            std::swap(t.n[1], t.n[2]);
            std::swap(t.v[1], t.v[2]);
            std::swap(t.p[1], t.p[2]);
        }
    }
    template <class T, class F>
    void each_corners(std::size_t k0, std::size_t k1, const T* per_node, F&& fn) const {
        if (k0 >= k1) return;
        std::size_t c = k0 / 2;
        std::size_t j = c / (nc - 1);
        std::size_t i = c - j * (nc - 1);
        for (std::size_t k = k0; k < k1; ++k) {
            const T* row = per_node + j * nc + i;
            if (k % 2 == 0) {
                fn(k, row[0], row[1], row[nc + 1]);
            } else {
                fn(k, row[0], row[nc + 1], row[nc]);
                if (++i == nc - 1) {
                    i = 0;
                    ++j;
                }
            }
        }
    }
};

/// Triangle indices filed per level: for each chunk of triangles in order,
/// the list of each level in triangle order.
using FiledTriangles = std::vector<std::vector<std::vector<std::size_t>>>;

/// The tracer's state for one level: keys ascending with their positions,
/// segments ascending as index pairs (key order is index order), adjacency
/// lists sorted by neighbour, and which segments are still unused. Key
/// indices are 32-bit: a level would need billions of crossings, far beyond
/// memory, to exceed them.
class LevelTrace {
public:
    /// Traces `level` over every triangle of `mesh`.
    template <class Mesh>
    LevelTrace(const Mesh& mesh, double level) {
        for (std::size_t k = 0; k < mesh.triangle_count(); ++k) visit(mesh, k, level);
        finish();
    }
    /// Traces `level` over the triangles filed under its index `at`.
    template <class Mesh>
    LevelTrace(const Mesh& mesh, double level, const FiledTriangles& filed, std::size_t at) {
        std::size_t triangles = 0;
        for (const auto& part : filed) triangles += part[at].size();
        codes_.reserve(2 * triangles);  // two crossings per triangle filed
        found_.reserve(2 * triangles);
        for (const auto& part : filed)
            for (const std::size_t k : part[at]) visit(mesh, k, level);
        finish();
    }

    std::vector<Polyline> polylines() {
        std::vector<Polyline> out;
        if (segments_.empty()) return out;
        // Open lines from every odd-degree key, collected before any tracing.
        std::vector<std::uint32_t> odd;
        for (std::uint32_t k = 0; k < positions_.size(); ++k)
            if ((offsets_[k + 1] - offsets_[k]) % 2 == 1) odd.push_back(k);
        for (const std::uint32_t s : odd)
            while (has_unused(s)) out.push_back(chain_from(s));
        // Closed rings from the smallest remaining segment.
        std::size_t next = 0;
        while (remaining_ > 0) {
            while (used_[next]) ++next;
            out.push_back(chain_from(segments_[next].first));
        }
        std::erase_if(out, [](const Polyline& p) { return p.size() < 2; });
        return out;
    }

private:
    void finish() {
        if (codes_.empty()) return;
        index_keys();
        build_adjacency();
    }

    /// A triangle with mixed flags adds its two crossings, in edge order, to
    /// the crossings found so far; one that touches the level at a single
    /// node adds the same code twice and so no segment.
    template <class Mesh>
    void visit(const Mesh& mesh, std::size_t k, double level) {
        static constexpr int kEdge[3][2] = {{0, 1}, {1, 2}, {2, 0}};
        TraceTriangle tri;
        mesh.load(k, tri);
        const double* v = tri.v;
        if (std::isnan(v[0]) || std::isnan(v[1]) || std::isnan(v[2])) return;
        if ((v[0] >= level) == (v[1] >= level) && (v[1] >= level) == (v[2] >= level)) return;
        mesh.place(tri);
        const bool above[3] = {v[0] >= level, v[1] >= level, v[2] >= level};
        for (const auto& e : kEdge) {
            const int a = e[0];
            const int b = e[1];
            if (above[a] == above[b]) continue;
            const double t = (level - v[a]) / (v[b] - v[a]);
            const NodeXY& pa = tri.p[a];
            const NodeXY& pb = tri.p[b];
            if (t <= 0.0) {
                codes_.push_back(key_code(ContourKey::node(tri.n[a])));
                found_.push_back({pa[0], pa[1]});
            } else if (t >= 1.0) {
                codes_.push_back(key_code(ContourKey::node(tri.n[b])));
                found_.push_back({pb[0], pb[1]});
            } else {
                codes_.push_back(key_code(ContourKey::edge(tri.n[a], tri.n[b])));
                found_.push_back({(pb[0] - pa[0]) * t + pa[0], (pb[1] - pa[1]) * t + pa[1]});
            }
        }
    }

    void index_keys() {
        // Crossings by (code, discovery order): the first triangle to meet a
        // crossing fixes its position.
        std::vector<std::pair<std::uint64_t, std::uint64_t>> order(codes_.size());
        for (std::size_t k = 0; k < codes_.size(); ++k) order[k] = {codes_[k], k};
        std::sort(order.begin(), order.end());
        std::vector<std::uint32_t> key_of(codes_.size());
        for (std::size_t r = 0; r < order.size(); ++r) {
            if (r == 0 || order[r].first != order[r - 1].first) positions_.push_back(found_[order[r].second]);
            key_of[order[r].second] = static_cast<std::uint32_t>(positions_.size() - 1);
        }
        order = {};
        found_ = {};
        // Crossings come in pairs, one pair per triangle; a pair of two keys
        // is a segment, held once however many triangles share it.
        std::vector<std::uint64_t> pairs;
        pairs.reserve(codes_.size() / 2);
        for (std::size_t k = 0; k + 1 < codes_.size(); k += 2) {
            const std::uint32_t a = key_of[k];
            const std::uint32_t b = key_of[k + 1];
            if (a == b) continue;
            pairs.push_back((std::uint64_t{std::min(a, b)} << 32) | std::max(a, b));
        }
        codes_ = {};
        std::sort(pairs.begin(), pairs.end());
        pairs.erase(std::unique(pairs.begin(), pairs.end()), pairs.end());
        segments_.reserve(pairs.size());
        for (const std::uint64_t p : pairs)
            segments_.emplace_back(static_cast<std::uint32_t>(p >> 32), static_cast<std::uint32_t>(p));
        used_.assign(segments_.size(), 0);
        remaining_ = segments_.size();
    }

    void build_adjacency() {
        offsets_.assign(positions_.size() + 1, 0);
        for (const auto& [a, b] : segments_) {
            ++offsets_[a + 1];
            ++offsets_[b + 1];
        }
        for (std::size_t k = 0; k < positions_.size(); ++k) offsets_[k + 1] += offsets_[k];
        adjacency_.resize(offsets_.back());
        std::vector<std::size_t> fill(offsets_.begin(), offsets_.end() - 1);
        for (std::uint32_t s = 0; s < segments_.size(); ++s) {
            const auto [a, b] = segments_[s];
            adjacency_[fill[a]++] = {b, s};
            adjacency_[fill[b]++] = {a, s};
        }
        for (std::size_t k = 0; k < positions_.size(); ++k)
            std::sort(adjacency_.begin() + static_cast<std::ptrdiff_t>(offsets_[k]),
                      adjacency_.begin() + static_cast<std::ptrdiff_t>(offsets_[k + 1]));
    }

    bool has_unused(std::uint32_t key) const {
        for (std::size_t e = offsets_[key]; e < offsets_[key + 1]; ++e)
            if (!used_[adjacency_[e].second]) return true;
        return false;
    }

    /// Walks from `s` along unused segments, always leaving a key by its
    /// smallest neighbour whose segment is still unused.
    Polyline chain_from(std::uint32_t s) {
        Polyline line{positions_[s]};
        std::uint32_t cur = s;
        for (;;) {
            std::uint32_t next = kNoNode;
            for (std::size_t e = offsets_[cur]; e < offsets_[cur + 1]; ++e) {
                const auto [nb, seg] = adjacency_[e];
                if (used_[seg]) continue;
                used_[seg] = 1;
                --remaining_;
                next = nb;
                break;
            }
            if (next == kNoNode) return line;
            line.push_back(positions_[next]);
            cur = next;
        }
    }

    /// Codes and positions of the crossings, in the order found.
    std::vector<std::uint64_t> codes_;
    std::vector<IsoPoint> found_;
    /// Position of each distinct key, ascending by key.
    std::vector<IsoPoint> positions_;
    std::vector<std::pair<std::uint32_t, std::uint32_t>> segments_;
    std::vector<std::size_t> offsets_;
    /// (neighbour key, segment) per adjacency entry.
    std::vector<std::pair<std::uint32_t, std::uint32_t>> adjacency_;
    std::vector<unsigned char> used_;
    std::size_t remaining_ = 0;
};

// ---- simplification -------------------------------------------------------------

/// Marks the points of (start, end) that Douglas-Peucker keeps. Worked off an
/// explicit stack so that a long line cannot exhaust the call stack; the
/// spans are independent, so the order they are worked in does not matter.
void douglas_peucker_mark(std::span<const IsoPoint> p, std::size_t start, std::size_t end, double tol,
                          std::vector<unsigned char>& keep) {
    std::vector<std::pair<std::size_t, std::size_t>> stack{{start, end}};
    while (!stack.empty()) {
        const auto [s, e] = stack.back();
        stack.pop_back();
        if (s + 1 >= e) continue;
        const double cx = p[e][0] - p[s][0];
        const double cy = p[e][1] - p[s][1];
        const double d = cx * cx + cy * cy;
        const double root = std::sqrt(d);
        double best = -std::numeric_limits<double>::infinity();
        std::size_t best_k = e;
        for (std::size_t k = s + 1; k < e; ++k) {
            const double dx = p[k][0] - p[s][0];
            const double dy = p[k][1] - p[s][1];
            const double dist = d <= 0.0 ? std::sqrt(dx * dx + dy * dy) : std::abs(dx * cy - dy * cx) / root;
            if (dist > best) {
                best = dist;
                best_k = k;
            }
        }
        if (best_k == e || !(tol < best)) continue;
        keep[best_k] = 1;
        stack.emplace_back(best_k, e);
        stack.emplace_back(s, best_k);
    }
}

/// The interval's lowest or highest level index as a signed 64-bit integer,
/// saturating, NaN as 0.
std::int64_t saturate(double v) {
    if (std::isnan(v)) return 0;
    if (v <= -9223372036854775808.0) return std::numeric_limits<std::int64_t>::min();
    if (v >= 9223372036854775808.0) return std::numeric_limits<std::int64_t>::max();
    return static_cast<std::int64_t>(v);
}

/// Below this many elementary operations a phase stays on the calling
/// thread.
bool worth_threads(std::uint64_t work) { return work >= 2 * parallel::kMinChunkWork; }

/// Every level traced on `mesh`, paired with its polylines, in the order of
/// `levels`. One pass over the triangles files each under the levels it
/// crosses: a triangle has mixed flags at level L exactly when
/// min < L <= max of its corner values (and none is NaN). Every level then visits just its own
/// triangles, in the order a full pass would meet them, and gives the same
/// polylines. Chunks of triangles are filed, and distinct levels traced, on
/// several threads; equal levels (-0 and 0 included) share one trace.
template <class Mesh>
std::vector<IsoLevel> trace_all(const Mesh& mesh, std::span<const double> levels) {
    std::vector<double> distinct;
    for (const double level : levels)
        if (!std::isnan(level)) distinct.push_back(level);
    std::sort(distinct.begin(), distinct.end());
    distinct.erase(std::unique(distinct.begin(), distinct.end()), distinct.end());

    // Each node's rank: the number of distinct levels at or below its value
    // (kNoRank for NaN). A triangle with corner values lo <= … <= hi crosses
    // exactly the levels in (lo, hi], which are the levels of rank
    // rank(lo) … rank(hi) - 1; ranks are filed without looking at a value
    // twice. Neighbouring nodes hold similar values, so each search starts
    // from the last rank.
    constexpr std::uint32_t kNoRank = std::numeric_limits<std::uint32_t>::max();
    const std::size_t count = distinct.empty() ? 0 : mesh.triangle_count();
    const std::size_t nodes = count == 0 ? 0 : mesh.values.size();
    std::vector<std::uint32_t> rank(nodes);
    parallel::for_each_chunk(nodes, parallel::chunk_items(8), [&](std::size_t n0, std::size_t n1) {
        std::size_t r = 0;
        for (std::size_t n = n0; n < n1; ++n) {
            const double v = mesh.values[n];
            if (std::isnan(v)) {
                rank[n] = kNoRank;
                continue;
            }
            while (r > 0 && distinct[r - 1] > v) --r;
            while (r < distinct.size() && distinct[r] <= v) ++r;
            rank[n] = static_cast<std::uint32_t>(r);
        }
    });
    const std::size_t threads = parallel::thread_count();
    const std::size_t chunk =
        std::max<std::size_t>({parallel::chunk_items(4), (count + 4 * threads - 1) / (4 * threads), 1});
    FiledTriangles filed(count == 0 ? 0 : (count - 1) / chunk + 1);
    parallel::for_each_chunk(count, chunk, [&](std::size_t k0, std::size_t k1) {
        auto& lists = filed[k0 / chunk];
        lists.resize(distinct.size());
        mesh.each_corners(k0, k1, rank.data(), [&](std::size_t k, std::uint32_t a, std::uint32_t b, std::uint32_t c) {
            const std::uint32_t hi = std::max(a, std::max(b, c));
            if (hi == kNoRank) return;  // a NaN corner
            for (std::uint32_t at = std::min(a, std::min(b, c)); at < hi; ++at) lists[at].push_back(k);
        });
    });
    rank = {};

    std::uint64_t filed_total = 0;
    for (const auto& lists : filed)
        for (const auto& list : lists) filed_total += list.size();
    std::vector<std::vector<Polyline>> traced(distinct.size());
    const std::size_t level_chunk = worth_threads(64 * filed_total) ? 1 : std::max<std::size_t>(distinct.size(), 1);
    parallel::for_each_chunk(distinct.size(), level_chunk, [&](std::size_t a0, std::size_t a1) {
        for (std::size_t at = a0; at < a1; ++at) traced[at] = LevelTrace(mesh, distinct[at], filed, at).polylines();
    });
    filed = {};

    std::vector<IsoLevel> out;
    out.reserve(levels.size());
    for (const double level : levels) {
        if (std::isnan(level)) {
            out.emplace_back(level, std::vector<Polyline>{});
            continue;
        }
        const auto at = static_cast<std::size_t>(std::lower_bound(distinct.begin(), distinct.end(), level) -
                                                 distinct.begin());
        out.emplace_back(level, traced[at]);
    }
    return out;
}

/// Steps 3 to 6 of every driver: levels, tracing, simplification. `values`
/// holds one value per node of `mesh`, in node order.
template <class Mesh>
Result<std::vector<IsoLevel>> contour(const Mesh& mesh, std::span<const double> values,
                                      std::optional<double> interval, const std::optional<std::vector<double>>& levels,
                                      std::optional<double> simplify) {
    VZ_ASSIGN_OR_RETURN(const auto lv, iso_lines::levels(values, interval, levels));
    auto out = trace_all(mesh, lv);
    if (simplify) {
        std::uint64_t points = 0;
        for (const auto& [level, lines] : out)
            for (const auto& line : lines) points += line.size();
        const std::size_t level_chunk = worth_threads(32 * points) ? 1 : std::max<std::size_t>(out.size(), 1);
        parallel::for_each_chunk(out.size(), level_chunk, [&](std::size_t a0, std::size_t a1) {
            for (std::size_t at = a0; at < a1; ++at)
                for (auto& line : out[at].second) line = surfaces::simplify_polyline(line, *simplify);
        });
    }
    return out;
}

Result<std::vector<IsoLevel>> lattice_iso_lines(Result<QuadMesh> mesh, Result<surfaces::GridDisplayLane> lane,
                                                std::string_view context, std::optional<double> interval,
                                                const std::optional<std::vector<double>>& levels,
                                                std::optional<double> simplify) {
    if (!mesh) return fail(std::move(mesh.error()));
    if (!lane) return fail(std::move(lane.error()));
    VZ_ASSIGN_OR_RETURN(const auto values, surfaces::node_values(*mesh, *lane->values, context));
    return contour(ListMesh{mesh->nodes, mesh->triangles, values}, values, interval, levels, simplify);
}

/// GeometryMismatch "{context}: lane shape [c, r] != mesh lattice (ncol=…,
/// nrow=…)" unless `lane` holds nc x nr values.
Result<void> check_lane_shape(const Grid2& lane, std::size_t nc, std::size_t nr, std::string_view context) {
    if (lane.ncol() != nc || lane.nrow() != nr || lane.size() != nc * nr)
        return fail(Error::geometry_mismatch(fmt::format("{}: lane shape [{}, {}] != mesh lattice (ncol={}, nrow={})",
                                                         context, lane.ncol(), lane.nrow(), nc, nr)));
    return {};
}

/// The lattice of `geometry` as a mesh walked in place, when `quad_mesh`
/// would build it with every node present and without error: at least 2 x 2
/// nodes, within the node and label limits, every node's position finite.
/// Absent otherwise; the explicit mesh then says what is wrong.
std::optional<LatticeMesh> walkable_lattice(const GridGeometry& geometry) {
    constexpr auto kMaxStep = static_cast<std::uint64_t>(std::numeric_limits<std::int32_t>::max());
    if (geometry.ncol < 2 || geometry.nrow < 2) return std::nullopt;
    if (geometry.ncol - 1 > kMaxStep || geometry.nrow - 1 > kMaxStep) return std::nullopt;
    std::uint64_t nodes = 0;
    if (__builtin_mul_overflow(geometry.ncol, geometry.nrow, &nodes) || nodes > kMaxGridNodes ||
        nodes > kMaxMeshNodes)
        return std::nullopt;
    LatticeMesh mesh;
    mesh.nc = static_cast<std::size_t>(geometry.ncol);
    mesh.nr = static_cast<std::size_t>(geometry.nrow);
    mesh.xy = gridding::node_transform(geometry.lattice());
    for (std::size_t j = 0; j < mesh.nr; ++j)
        for (std::size_t i = 0; i < mesh.nc; ++i) {
            const auto [x, y] = mesh.xy.at(static_cast<double>(i), static_cast<double>(j));
            if (!present(x, y)) return std::nullopt;
        }
    return mesh;
}

/// The lane's values in node order (row j outer, column i inner), from its
/// column-outer storage, worked in tiles that stay in cache.
std::vector<double> row_major(const Grid2& lane) {
    const std::size_t nc = lane.ncol(), nr = lane.nrow();
    const auto v = lane.values();
    std::vector<double> out(nc * nr);
    constexpr std::size_t kTile = 64;
    for (std::size_t i0 = 0; i0 < nc; i0 += kTile)
        for (std::size_t j0 = 0; j0 < nr; j0 += kTile)
            for (std::size_t i = i0; i < std::min(nc, i0 + kTile); ++i)
                for (std::size_t j = j0; j < std::min(nr, j0 + kTile); ++j) out[j * nc + i] = v[i * nr + j];
    return out;
}

}  // namespace

namespace surfaces {

Result<QuadMesh> quad_mesh(const GridGeometry& geometry) {
    if (geometry.ncol == 0 || geometry.nrow == 0)
        return fail(Error::geometry_mismatch("StructuredShell::new: shape must be non-empty"));
    VZ_TRY(checked_node_count(geometry, "StructuredShell::from_grid_geometry"));
    const auto lattice = geometry.lattice();
    return build_quad_mesh(static_cast<std::size_t>(geometry.ncol), static_cast<std::size_t>(geometry.nrow),
                           [&lattice](std::size_t i, std::size_t j) { return gridding::node_xy(lattice, i, j); });
}

Result<QuadMesh> quad_mesh(const StructuredShell& shell) {
    const Grid2& x = shell.x();
    const Grid2& y = shell.y();
    return build_quad_mesh(shell.ncol(), shell.nrow(),
                           [&x, &y](std::size_t i, std::size_t j) { return std::pair{x(i, j), y(i, j)}; });
}

Result<std::vector<double>> node_values(const QuadMesh& mesh, const Grid2& lane, std::string_view context) {
    VZ_TRY(check_lane_shape(lane, mesh.ncol, mesh.nrow, context));
    const auto v = lane.values();
    std::vector<double> out(mesh.cells.size());
    for (std::size_t k = 0; k < out.size(); ++k) out[k] = v[mesh.cells[k]];
    return out;
}

Result<GridDisplayLane> display_lane(const Surface& surface, const std::optional<std::string>& attr) {
    if (!attr) return GridDisplayLane{&surface.values, "values"};
    const Grid2* lane = surface.attr(*attr);
    if (lane == nullptr) return fail(Error::not_found(fmt::format("no attribute layer '{}'", *attr)));
    return GridDisplayLane{lane, *attr};
}

Result<GridDisplayLane> display_lane(const StructuredMeshSurface& surface, const std::optional<std::string>& attr) {
    if (!attr) return GridDisplayLane{&surface.values, "values"};
    const Grid2* lane = surface.attr(*attr);
    if (lane == nullptr) return fail(Error::not_found(fmt::format("no attribute layer '{}'", *attr)));
    return GridDisplayLane{lane, *attr};
}

std::vector<Polyline> trace_level(std::span<const NodeXY> nodes, std::span<const MeshTriangle> triangles,
                                  std::span<const double> values, double level) {
    return LevelTrace(ListMesh{nodes, triangles, values}, level).polylines();
}

std::vector<IsoLevel> trace_levels(std::span<const NodeXY> nodes, std::span<const MeshTriangle> triangles,
                                   std::span<const double> values, std::span<const double> levels) {
    return trace_all(ListMesh{nodes, triangles, values}, levels);
}

Polyline douglas_peucker(std::span<const IsoPoint> points, double tol) {
    const std::size_t n = points.size();
    if (n <= 2) return Polyline(points.begin(), points.end());
    std::vector<unsigned char> keep(n, 0);
    keep[0] = 1;
    keep[n - 1] = 1;
    douglas_peucker_mark(points, 0, n - 1, tol, keep);
    Polyline out;
    for (std::size_t k = 0; k < n; ++k)
        if (keep[k]) out.push_back(points[k]);
    return out;
}

Polyline simplify_polyline(std::span<const IsoPoint> points, double tol) {
    const std::size_t n = points.size();
    const Polyline unchanged(points.begin(), points.end());
    if (n <= 2) return unchanged;
    if (!(std::isfinite(tol) && tol > 0.0)) return unchanged;
    const IsoPoint& first = points.front();
    const IsoPoint& last = points.back();
    if (!(first[0] == last[0] && first[1] == last[1])) return douglas_peucker(points, tol);
    if (n <= 4) return unchanged;
    // Cut the ring at the interior point farthest from its start (the
    // closing point is no candidate), simplify both halves and join them.
    std::size_t g = 1;
    double best = -std::numeric_limits<double>::infinity();
    for (std::size_t k = 1; k + 1 < n; ++k) {
        const double dx = points[k][0] - first[0];
        const double dy = points[k][1] - first[1];
        const double d2 = dx * dx + dy * dy;
        if (d2 > best) {
            best = d2;
            g = k;
        }
    }
    Polyline joined = douglas_peucker(points.subspan(0, g + 1), tol);
    joined.pop_back();
    const Polyline right = douglas_peucker(points.subspan(g), tol);
    joined.insert(joined.end(), right.begin(), right.end());
    return joined.size() > 3 ? joined : unchanged;
}

Result<std::vector<IsoLevel>> iso_lines(const Surface& surface, std::optional<double> interval,
                                        const std::optional<std::vector<double>>& levels,
                                        const std::optional<std::string>& attr, std::optional<double> simplify) {
    // A lattice whose nodes all have positions is walked cell by cell; the
    // mesh is the one built below, node for node and triangle for triangle.
    if (auto mesh = walkable_lattice(surface.geom)) {
        VZ_ASSIGN_OR_RETURN(const auto lane, display_lane(surface, attr));
        VZ_TRY(check_lane_shape(*lane.values, mesh->nc, mesh->nr, "Surface iso-lines"));
        const std::vector<double> values = row_major(*lane.values);
        mesh->values = values;
        return contour(*mesh, values, interval, levels, simplify);
    }
    return explicit_iso_lines(surface, interval, levels, attr, simplify);
}

Result<std::vector<IsoLevel>> explicit_iso_lines(const Surface& surface, std::optional<double> interval,
                                                 const std::optional<std::vector<double>>& levels,
                                                 const std::optional<std::string>& attr,
                                                 std::optional<double> simplify) {
    return lattice_iso_lines(quad_mesh(surface.geom), display_lane(surface, attr), "Surface iso-lines", interval,
                             levels, simplify);
}

Result<std::vector<IsoLevel>> iso_lines(const StructuredMeshSurface& surface, std::optional<double> interval,
                                        const std::optional<std::vector<double>>& levels,
                                        const std::optional<std::string>& attr, std::optional<double> simplify) {
    if (!surface.shell) return fail(Error::geometry_mismatch("StructuredMeshSurface iso-lines: surface has no shell"));
    return lattice_iso_lines(quad_mesh(*surface.shell), display_lane(surface, attr),
                             "StructuredMeshSurface iso-lines", interval, levels, simplify);
}

Result<std::vector<IsoLevel>> iso_lines(const TriSurface& surface, std::optional<double> interval,
                                        const std::optional<std::vector<double>>& levels,
                                        const std::optional<std::string>& attr, std::optional<double> simplify) {
    if (!surface.shell) return fail(Error::geometry_mismatch("TriSurface iso-lines: surface has no shell"));
    VZ_ASSIGN_OR_RETURN(const auto lane, surface.display_lane(attr));
    const MeshShell& shell = *surface.shell;
    // The tracer reads one value per node; a lane of another length would
    // be read out of bounds.
    if (lane.values.size() != shell.node_count())
        return fail(Error::geometry_mismatch(fmt::format("TriSurface iso-lines: {} lane values for {} shell nodes",
                                                         lane.values.size(), shell.node_count())));
    return contour(ListMesh{shell.nodes(), shell.triangles(), lane.values}, lane.values, interval, levels, simplify);
}

}  // namespace surfaces

namespace iso_lines {

Result<std::vector<double>> levels(std::span<const double> values, std::optional<double> interval,
                                   const std::optional<std::vector<double>>& levels) {
    if (levels) return *levels;
    if (!interval) return fail(Error::out_of_range("iso_lines: provide an interval or explicit levels"));
    const double step = *interval;
    if (!(std::isfinite(step) && step > 0.0))
        return fail(
            Error::out_of_range(fmt::format("iso-line interval must be a finite positive number, got {}", num(step))));
    double lo_v = std::numeric_limits<double>::infinity();
    double hi_v = -std::numeric_limits<double>::infinity();
    bool any = false;
    for (const double v : values) {
        if (!std::isfinite(v)) continue;
        any = true;
        lo_v = std::min(lo_v, v);
        hi_v = std::max(hi_v, v);
    }
    if (!any) return std::vector<double>{};
    const double s = 1e-9 * std::max({step, std::abs(hi_v), std::abs(lo_v)});
    const std::int64_t lo = saturate(std::ceil((lo_v - s) / step));
    const std::int64_t hi = saturate(std::floor((hi_v + s) / step));
    if (lo > hi) return std::vector<double>{};
    // An interval tiny against the value range would ask for more levels
    // than memory holds; at most kMaxIntervalLevels are derived. hi - lo is
    // taken in unsigned arithmetic, where it cannot overflow.
    const std::uint64_t span = static_cast<std::uint64_t>(hi) - static_cast<std::uint64_t>(lo);
    if (span >= kMaxIntervalLevels)
        return fail(Error::out_of_range(fmt::format("iso-line interval {} gives more than {} levels between {} and {}",
                                                    num(step), kMaxIntervalLevels, num(lo_v), num(hi_v))));
    return level_range(lo, hi, step);
}

std::vector<double> level_range(std::int64_t lo, std::int64_t hi, double interval) {
    std::vector<double> out;
    if (lo > hi) return out;
    out.reserve(static_cast<std::size_t>(static_cast<std::uint64_t>(hi) - static_cast<std::uint64_t>(lo)) + 1);
    for (std::int64_t k = lo;; ++k) {
        out.push_back(static_cast<double>(k) * interval);
        if (k == hi) break;
    }
    return out;
}

}  // namespace iso_lines
}  // namespace vz
