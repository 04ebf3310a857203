#include "core/shell/mesh.hpp"

#include <numeric>
#include <utility>

#include <fmt/format.h>

#include "core/shell/corner.hpp"

namespace vz {

namespace mesh {

Result<void> check_node_count(std::uint64_t node_count, std::string_view context) {
    if (node_count > kMaxMeshNodes)
        return fail(Error::geometry_inference(fmt::format(
            "{}: {} nodes exceed the {} nodes a 32-bit node index can address", context, node_count, kMaxMeshNodes)));
    return {};
}

void push_ccw_triangle(std::vector<MeshTriangle>& triangles, std::span<const NodeXY> nodes, MeshTriangle t) {
    const NodeXY& pa = nodes[t[0]];
    const NodeXY& pb = nodes[t[1]];
    const NodeXY& pc = nodes[t[2]];
    const double area = (pb[0] - pa[0]) * (pc[1] - pa[1]) - (pb[1] - pa[1]) * (pc[0] - pa[0]);
    // Only a clockwise term swaps: collinear and NaN keep the given order.
    if (area < 0.0)
        triangles.push_back({t[0], t[2], t[1]});
    else
        triangles.push_back(t);
}

}  // namespace mesh

Result<MeshShell> MeshShell::make(std::vector<NodeXY> nodes, std::vector<MeshTriangle> triangles,
                                  std::vector<MeshEdge> wireframe, PolygonSet edge,
                                  std::vector<std::optional<NodeLabel>> labels) {
    VZ_TRY(mesh::check_node_count(nodes.size(), "MeshShell::new"));
    const std::size_t n = nodes.size();
    if (labels.size() != n)
        return fail(
            Error::geometry_mismatch(fmt::format("MeshShell::new: {} labels for {} nodes", labels.size(), n)));
    for (const MeshEdge& e : wireframe)
        if (e[0] >= n || e[1] >= n)
            return fail(Error::geometry_mismatch(
                fmt::format("MeshShell::new: wireframe edge ({}, {}) outside {} nodes", e[0], e[1], n)));
    auto table = corner::build_corner_table(n, triangles);
    if (!table) return fail(Error::geometry_inference(fmt::format("MeshShell::new: {}", table.error())));

    MeshShell shell;
    shell.nodes_ = std::move(nodes);
    shell.triangles_ = std::move(triangles);
    shell.wireframe_ = std::move(wireframe);
    shell.edge_ = std::move(edge);
    shell.labels_ = std::move(labels);
    return shell;
}

std::size_t MeshShell::components() const {
    if (triangles_.empty()) return 0;
    // Union-find over the node indices (range-checked by `make`); triangles
    // sharing any node join one group.
    std::vector<std::uint32_t> parent(nodes_.size());
    std::iota(parent.begin(), parent.end(), std::uint32_t{0});
    auto find = [&parent](std::uint32_t v) {
        std::uint32_t r = v;
        while (parent[r] != r) r = parent[r];
        while (parent[v] != r) {  // path compression
            const std::uint32_t next = parent[v];
            parent[v] = r;
            v = next;
        }
        return r;
    };
    for (const MeshTriangle& t : triangles_) {
        const std::uint32_t root = find(t[0]);
        for (std::size_t k = 1; k < 3; ++k) {
            const std::uint32_t r = find(t[k]);
            if (r != root) parent[r] = root;
        }
    }
    std::vector<bool> seen(nodes_.size(), false);
    std::size_t count = 0;
    for (const MeshTriangle& t : triangles_) {
        const std::uint32_t r = find(t[0]);
        if (!seen[r]) {
            seen[r] = true;
            ++count;
        }
    }
    return count;
}

}  // namespace vz
