#include "core/shell/corner.hpp"

#include <optional>

#include <fmt/format.h>

#include "core/shell/edge_buckets.hpp"

namespace vz::corner {

std::expected<CornerTable, std::string> build_corner_table(std::size_t node_count,
                                                            std::span<const std::array<std::uint32_t, 3>> triangles) {
    // Corner and node entries are 32-bit with the all-bits value as marker.
    if (node_count >= kNone) return std::unexpected(fmt::format("{} nodes exceed the 32-bit node index range", node_count));
    if (triangles.size() > (std::size_t{kNone} - 1) / 3)
        return std::unexpected(fmt::format("{} triangles exceed the 32-bit corner index range", triangles.size()));

    CornerTable table;
    table.opposite.assign(triangles.size() * 3, kNone);
    table.first_corner.assign(node_count, kNone);

    // Range check and first corners in one walk, so an out-of-range node
    // always wins over a manifold failure found later.
    for (std::size_t t = 0; t < triangles.size(); ++t) {
        for (std::size_t k = 0; k < 3; ++k) {
            const std::uint32_t v = triangles[t][k];
            if (v >= node_count)
                return std::unexpected(
                    fmt::format("triangle {} references node {} outside the shell's {} nodes", t, v, node_count));
            const auto c = static_cast<std::uint32_t>(3 * t + k);
            if (table.first_corner[v] == kNone) table.first_corner[v] = c;
        }
    }

    // Edges in ascending (smaller, larger) order, each with its corners.
    const auto buckets = shell_detail::bucket_edges(node_count, triangles);
    std::optional<std::string> failure;
    shell_detail::for_each_edge(buckets, [&](std::uint32_t a, std::uint32_t b, std::size_t first, std::size_t count) {
        if (failure) return;
        if (count >= 3) {
            failure = fmt::format("edge ({}, {}) is carried by {} triangles; a shell must be edge-manifold (at most two)",
                                  a, b, count);
            return;
        }
        if (count == 2) {
            const std::uint32_t c1 = shell_detail::EdgeBuckets::corner(buckets.entries[first]);
            const std::uint32_t c2 = shell_detail::EdgeBuckets::corner(buckets.entries[first + 1]);
            table.opposite[c1] = c2;
            table.opposite[c2] = c1;
        }
    });
    if (failure) return std::unexpected(std::move(*failure));
    return table;
}

}  // namespace vz::corner
