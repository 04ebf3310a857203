// Boundary rings of a triangle list and the shell built from bare triangles.
//
// The directed edges are grouped by start node with a counting sort, each
// node's few successors sorted, so that looking for the reverse of an edge is
// a short binary search in cache-friendly memory, even for millions of
// triangles. The boundary edges, usually a small fraction, come out in
// (from, to) order: each start node owns a contiguous run of successors in
// ascending order, and consuming "the largest remaining successor" is
// shrinking the run from its end.

#include "core/shell/boundary.hpp"

#include <algorithm>
#include <array>
#include <utility>

#include <fmt/format.h>

#include "core/polygons.hpp"

namespace vz::mesh {

namespace {

std::uint64_t edge_key(std::uint32_t from, std::uint32_t to) { return (std::uint64_t{from} << 32) | to; }

/// The directed triangle edges grouped by their start node (a counting sort,
/// so linear in the triangles): node u's successors are
/// `to[offset[u] .. offset[u + 1])`, sorted ascending with repeats removed
/// (`end[u]` marks the end of the distinct ones).
struct DirectedEdges {
    std::vector<std::size_t> offset;
    std::vector<std::size_t> end;
    std::vector<std::uint32_t> to;

    DirectedEdges(std::size_t node_count, std::span<const MeshTriangle> triangles)
        : offset(node_count + 1, 0), end(node_count, 0), to(triangles.size() * 3) {
        for (const MeshTriangle& t : triangles)
            for (const std::uint32_t v : t) ++offset[v + 1];
        for (std::size_t u = 0; u < node_count; ++u) offset[u + 1] += offset[u];
        std::vector<std::size_t> fill(offset.begin(), offset.end() - 1);
        for (const MeshTriangle& t : triangles)
            for (std::size_t k = 0; k < 3; ++k) to[fill[t[k]]++] = t[(k + 1) % 3];
        for (std::size_t u = 0; u < node_count; ++u) {
            const auto first = to.begin() + static_cast<std::ptrdiff_t>(offset[u]);
            const auto last = to.begin() + static_cast<std::ptrdiff_t>(offset[u + 1]);
            std::sort(first, last);
            end[u] = static_cast<std::size_t>(std::unique(first, last) - to.begin());
        }
    }

    bool contains(std::uint32_t from, std::uint32_t target) const {
        const auto first = to.begin() + static_cast<std::ptrdiff_t>(offset[from]);
        const auto last = to.begin() + static_cast<std::ptrdiff_t>(end[from]);
        return std::binary_search(first, last, target);
    }
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

    // Only nodes the triangles use need a slot, whatever count the caller gives.
    std::size_t used = 0;
    for (const MeshTriangle& t : triangles)
        for (const std::uint32_t v : t) used = std::max<std::size_t>(used, std::size_t{v} + 1);
    const DirectedEdges directed(used, triangles);

    // Unpaired directed edges in (from, to) order: the boundary map with
    // every successor list ascending.
    std::vector<std::uint64_t> boundary;
    for (std::size_t u = 0; u < used; ++u) {
        const auto from = static_cast<std::uint32_t>(u);
        for (std::size_t e = directed.offset[u]; e < directed.end[u]; ++e)
            if (!directed.contains(directed.to[e], from)) boundary.push_back(edge_key(from, directed.to[e]));
    }
    if (boundary.empty()) return fail(Error::geometry_inference("triangulated surface has no boundary"));
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
