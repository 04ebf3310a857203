// Boundary rings of a triangle list and the shell built from bare triangles.
//
// The directed edges go into one open-addressing set of packed 64-bit keys
// (three per triangle), which keeps the pass linear and allocation-free per
// edge even for millions of triangles. The boundary edges, usually a small
// fraction, are then sorted by (from, to): each start node owns a contiguous
// run of successors in ascending order, and consuming "the largest remaining
// successor" is shrinking the run from its end.

#include "core/shell/boundary.hpp"

#include <algorithm>
#include <array>
#include <bit>
#include <utility>

#include <fmt/format.h>

#include "core/polygons.hpp"

namespace vz::mesh {

namespace {

constexpr std::uint64_t kEmptyKey = ~std::uint64_t{0};  // never a packed pair of indices below 2^32 - 1

std::uint64_t edge_key(std::uint32_t from, std::uint32_t to) { return (std::uint64_t{from} << 32) | to; }

std::uint64_t mix(std::uint64_t h) {
    h ^= h >> 33;
    h *= 0xFF51AFD7ED558CCDull;
    h ^= h >> 33;
    h *= 0xC4CEB9FE1A85EC53ull;
    h ^= h >> 33;
    return h;
}

/// Set of directed edges with linear probing; sized once for `capacity`
/// keys at a load of at most three quarters.
class DirectedEdgeSet {
public:
    explicit DirectedEdgeSet(std::size_t capacity) {
        const std::size_t want = std::max<std::size_t>(16, capacity + capacity / 3 + 1);
        slots_.assign(std::bit_ceil(want), kEmptyKey);
        mask_ = slots_.size() - 1;
    }

    void insert(std::uint64_t key) {
        std::size_t at = mix(key) & mask_;
        while (slots_[at] != kEmptyKey) {
            if (slots_[at] == key) return;
            at = (at + 1) & mask_;
        }
        slots_[at] = key;
    }

    bool contains(std::uint64_t key) const {
        std::size_t at = mix(key) & mask_;
        while (slots_[at] != kEmptyKey) {
            if (slots_[at] == key) return true;
            at = (at + 1) & mask_;
        }
        return false;
    }

    /// Stored keys, in slot order.
    const std::vector<std::uint64_t>& slots() const { return slots_; }

private:
    std::vector<std::uint64_t> slots_;
    std::size_t mask_ = 0;
};

Result<void> check_triangle_range(std::size_t node_count, std::span<const MeshTriangle> triangles) {
    for (std::size_t t = 0; t < triangles.size(); ++t)
        for (const std::uint32_t v : triangles[t])
            if (v >= node_count)
                return fail(Error::geometry_inference(fmt::format(
                    "MeshShell::new: triangle {} references node {} outside the shell's {} nodes", t, v, node_count)));
    return {};
}

}  // namespace

Result<std::vector<BoundaryRing>> trace_boundary(std::size_t node_count, std::span<const MeshTriangle> triangles) {
    VZ_TRY(check_triangle_range(node_count, triangles));

    DirectedEdgeSet directed(triangles.size() * 3);
    for (const MeshTriangle& t : triangles) {
        directed.insert(edge_key(t[0], t[1]));
        directed.insert(edge_key(t[1], t[2]));
        directed.insert(edge_key(t[2], t[0]));
    }

    // Unpaired directed edges, sorted by (from, to): the boundary map with
    // every successor list ascending.
    std::vector<std::uint64_t> boundary;
    for (const std::uint64_t key : directed.slots()) {
        if (key == kEmptyKey) continue;
        const auto from = static_cast<std::uint32_t>(key >> 32);
        const auto to = static_cast<std::uint32_t>(key & 0xFFFFFFFFu);
        if (!directed.contains(edge_key(to, from))) boundary.push_back(key);
    }
    if (boundary.empty()) return fail(Error::geometry_inference("triangulated surface has no boundary"));
    std::sort(boundary.begin(), boundary.end());
    const std::size_t edge_count = boundary.size();

    // Runs of one start node: keys[r] owns boundary[begin[r] .. end[r]).
    std::vector<std::uint32_t> keys;
    std::vector<std::size_t> begin;
    std::vector<std::size_t> end;
    for (std::size_t e = 0; e < edge_count; ++e) {
        const auto from = static_cast<std::uint32_t>(boundary[e] >> 32);
        if (keys.empty() || keys.back() != from) {
            keys.push_back(from);
            begin.push_back(e);
            end.push_back(e);
        }
        end.back() = e + 1;
    }
    auto run_of = [&keys](std::uint32_t node) -> std::optional<std::size_t> {
        const auto it = std::lower_bound(keys.begin(), keys.end(), node);
        if (it == keys.end() || *it != node) return std::nullopt;
        return static_cast<std::size_t>(it - keys.begin());
    };

    std::vector<BoundaryRing> rings;
    std::size_t cursor = 0;  // runs before it are used up; runs only ever shrink
    for (;;) {
        while (cursor < keys.size() && begin[cursor] == end[cursor]) ++cursor;
        if (cursor == keys.size()) break;
        const std::uint32_t start = keys[cursor];
        BoundaryRing ring{start};
        std::uint32_t current = start;
        for (;;) {
            const auto run = run_of(current);
            if (!run || begin[*run] == end[*run])
                return fail(Error::geometry_inference("triangulated surface boundary is not closed"));
            const auto next = static_cast<std::uint32_t>(boundary[--end[*run]] & 0xFFFFFFFFu);
            if (next == start) break;
            ring.push_back(next);
            if (ring.size() > edge_count + 1)
                return fail(Error::geometry_inference("triangulated surface boundary tracing did not close"));
            current = next;
        }
        if (ring.size() < 3) continue;
        ring.push_back(start);
        rings.push_back(std::move(ring));
    }
    if (rings.empty()) return fail(Error::geometry_inference("triangulated surface produced no closed boundary"));
    return rings;
}

Result<MeshShell> from_triangles(std::vector<NodeXY> nodes, std::vector<MeshTriangle> triangles,
                                 std::vector<std::optional<NodeLabel>> labels) {
    if (labels.size() != nodes.size())
        return fail(Error::geometry_mismatch(
            fmt::format("MeshShell::from_triangles: {} labels for {} nodes", labels.size(), nodes.size())));
    VZ_TRY(check_node_count(nodes.size(), "MeshShell::new"));
    VZ_ASSIGN_OR_RETURN(auto rings, trace_boundary(nodes.size(), triangles));

    std::vector<std::vector<std::array<double, 3>>> outline;
    outline.reserve(rings.size());
    for (const BoundaryRing& ring : rings) {
        std::vector<std::array<double, 3>> points;
        points.reserve(ring.size());
        for (const std::uint32_t n : ring) points.push_back({nodes[n][0], nodes[n][1], 0.0});
        outline.push_back(std::move(points));
    }
    PolygonSet edge = PolygonSet::from_rings(outline);
    std::vector<MeshEdge> wireframe = build_wireframe(triangles, labels);
    return MeshShell::make(std::move(nodes), std::move(triangles), std::move(wireframe), std::move(edge),
                           std::move(labels));
}

}  // namespace vz::mesh
