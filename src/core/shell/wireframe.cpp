// Display wireframes and the coarse display mesh of a mesh shell. Both read
// the node labels: two labelled nodes of one block that differ by one in both
// i and j are the ends of a cell diagonal, which viewers leave out so that a
// lattice cell draws as a square.

#include <algorithm>
#include <cstdlib>
#include <limits>
#include <unordered_map>

#include "core/shell/edge_buckets.hpp"
#include "core/shell/mesh.hpp"

namespace vz {

namespace {

/// An undirected edge key with the number of triangles using it.
struct EdgeUse {
    MeshEdge edge;
    std::size_t count;
};

/// Every distinct undirected edge of `triangles` in ascending (smaller,
/// larger) order with its use count.
std::vector<EdgeUse> edge_uses(std::span<const MeshTriangle> triangles) {
    const auto buckets = shell_detail::bucket_edges(shell_detail::node_span(triangles), triangles);
    std::vector<EdgeUse> uses;
    uses.reserve(triangles.size() * 3 / 2 + 2);
    shell_detail::for_each_edge(buckets, [&uses](std::uint32_t a, std::uint32_t b, std::size_t, std::size_t count) {
        uses.push_back({{a, b}, count});
    });
    return uses;
}

/// The label of node `n`, or none when unlabelled or beyond the label list.
const std::optional<NodeLabel>& label_of(std::span<const std::optional<NodeLabel>> labels, std::uint32_t n) {
    static const std::optional<NodeLabel> none;
    return n < labels.size() ? labels[n] : none;
}

/// True when both ends carry labels of one block differing by one in i and j.
bool is_cell_diagonal(const std::optional<NodeLabel>& la, const std::optional<NodeLabel>& lb) {
    return la && lb && la->block == lb->block && std::llabs(std::int64_t{la->i} - lb->i) == 1 &&
           std::llabs(std::int64_t{la->j} - lb->j) == 1;
}

/// v is a multiple of k (remainder 0 whatever the signs); k = 0 counts as 1.
bool multiple_of(std::int32_t v, std::int32_t k) { return k == 0 || std::int64_t{v} % std::int64_t{k} == 0; }

}  // namespace

namespace mesh {

std::int32_t lattice_stride(std::uint64_t stride) {
    constexpr auto kMax = static_cast<std::uint64_t>(std::numeric_limits<std::int32_t>::max());
    if (stride == 0) return 1;
    return static_cast<std::int32_t>(std::min(stride, kMax));
}

std::vector<MeshEdge> build_wireframe(std::span<const MeshTriangle> triangles,
                                      std::span<const std::optional<NodeLabel>> labels) {
    std::vector<MeshEdge> out;
    for (const EdgeUse& u : edge_uses(triangles)) {
        if (u.count == 2 && is_cell_diagonal(label_of(labels, u.edge[0]), label_of(labels, u.edge[1]))) continue;
        out.push_back(u.edge);
    }
    return out;
}

bool coarse_wireframe_keep(MeshEdge edge, std::size_t use_count, std::span<const std::optional<NodeLabel>> labels,
                           std::int32_t k) {
    if (use_count == 1) return true;  // outline
    const auto& la = label_of(labels, edge[0]);
    const auto& lb = label_of(labels, edge[1]);
    if (use_count == 2 && is_cell_diagonal(la, lb)) return false;
    if (la && lb && la->block == lb->block) {
        const std::int64_t di = std::llabs(std::int64_t{la->i} - lb->i);
        const std::int64_t dj = std::llabs(std::int64_t{la->j} - lb->j);
        if (la->j == lb->j && di == 1) return multiple_of(la->j, k);  // a segment of row line j
        if (la->i == lb->i && dj == 1) return multiple_of(la->i, k);  // a segment of column line i
    }
    return true;  // fringe, seams, anything else
}

}  // namespace mesh

std::vector<MeshEdge> MeshShell::wireframe_edges(std::optional<std::uint64_t> stride) const {
    const std::uint64_t k = stride.value_or(1);
    if (k < 2) {
        if (!wireframe_.empty()) return wireframe_;
        std::vector<MeshEdge> all;
        for (const EdgeUse& u : edge_uses(triangles_)) all.push_back(u.edge);
        return all;
    }
    const std::int32_t ks = mesh::lattice_stride(k);
    std::vector<MeshEdge> out;
    for (const EdgeUse& u : edge_uses(triangles_))
        if (mesh::coarse_wireframe_keep(u.edge, u.count, labels_, ks)) out.push_back(u.edge);
    return out;
}

CoarseMesh MeshShell::coarsen(std::uint64_t k) const {
    const std::int32_t ks = mesh::lattice_stride(k);
    CoarseMesh out;
    std::unordered_map<NodeLabel, std::uint32_t, NodeLabelHash> coarse_of;
    std::vector<NodeLabel> coarse_labels;
    for (std::size_t n = 0; n < nodes_.size(); ++n) {
        const auto& l = labels_[n];
        if (!l || !multiple_of(l->i, ks) || !multiple_of(l->j, ks)) continue;
        const auto index = static_cast<std::uint32_t>(out.nodes.size());
        if (!coarse_of.emplace(*l, index).second) continue;  // label already taken by an earlier node
        out.nodes.push_back(nodes_[n]);
        out.kept.push_back(static_cast<std::uint32_t>(n));
        coarse_labels.push_back(*l);
    }

    // Lattice steps beyond the 32-bit label range name no node.
    auto find = [&coarse_of](std::uint32_t block, std::int64_t i, std::int64_t j) -> std::optional<std::uint32_t> {
        constexpr std::int64_t lo = std::numeric_limits<std::int32_t>::min();
        constexpr std::int64_t hi = std::numeric_limits<std::int32_t>::max();
        if (i < lo || i > hi || j < lo || j > hi) return std::nullopt;
        auto it = coarse_of.find(NodeLabel{block, static_cast<std::int32_t>(i), static_cast<std::int32_t>(j)});
        if (it == coarse_of.end()) return std::nullopt;
        return it->second;
    };
    for (std::size_t v = 0; v < coarse_labels.size(); ++v) {
        const NodeLabel& l = coarse_labels[v];
        const auto r = find(l.block, std::int64_t{l.i} + ks, l.j);
        const auto s = find(l.block, l.i, std::int64_t{l.j} + ks);
        const auto d = find(l.block, std::int64_t{l.i} + ks, std::int64_t{l.j} + ks);
        if (!r || !s || !d) continue;
        const auto cv = static_cast<std::uint32_t>(v);
        mesh::push_ccw_triangle(out.triangles, out.nodes, {cv, *r, *d});
        mesh::push_ccw_triangle(out.triangles, out.nodes, {cv, *d, *s});
    }
    return out;
}

}  // namespace vz
