#pragma once
/// Undirected triangle edges grouped by their smaller node: a counting pass
/// instead of a global sort or a hash map, so that edge counting over
/// millions of triangles stays linear. Shared by the corner table and the
/// wireframes.

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

namespace vz::shell_detail {

/// Edges of a triangle list in ascending (smaller, larger) order. The edge
/// facing corner c = 3 t + k (the nodes at positions k + 1 and k + 2) is one
/// entry; entries of one edge sit together, in ascending corner order.
struct EdgeBuckets {
    /// Entries of smaller node a are [offsets[a], offsets[a + 1]).
    std::vector<std::size_t> offsets;
    /// (larger node << 32) | low 32 bits of the corner index.
    std::vector<std::uint64_t> entries;

    static std::uint32_t larger(std::uint64_t e) { return static_cast<std::uint32_t>(e >> 32); }
    static std::uint32_t corner(std::uint64_t e) { return static_cast<std::uint32_t>(e & 0xFFFFFFFFu); }
};

/// Every triangle index must be below `node_count` (the caller checks).
EdgeBuckets bucket_edges(std::size_t node_count, std::span<const std::array<std::uint32_t, 3>> triangles);

/// One past the largest node index of `triangles` (0 without triangles).
std::size_t node_span(std::span<const std::array<std::uint32_t, 3>> triangles);

/// Calls f(smaller, larger, first entry index, entry count) for every
/// distinct edge in ascending (smaller, larger) order.
template <class F>
void for_each_edge(const EdgeBuckets& b, F&& f) {
    const std::size_t nodes = b.offsets.empty() ? 0 : b.offsets.size() - 1;
    for (std::size_t a = 0; a < nodes; ++a) {
        const std::size_t end = b.offsets[a + 1];
        for (std::size_t s = b.offsets[a]; s < end;) {
            const std::uint32_t v = EdgeBuckets::larger(b.entries[s]);
            std::size_t e = s + 1;
            while (e < end && EdgeBuckets::larger(b.entries[e]) == v) ++e;
            f(static_cast<std::uint32_t>(a), v, s, e - s);
            s = e;
        }
    }
}

}  // namespace vz::shell_detail
