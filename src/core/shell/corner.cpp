#include "core/shell/corner.hpp"

#include <algorithm>

#include <fmt/format.h>

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

    // Edge facing corner c = the other two nodes of its triangle, keyed
    // (smaller, larger). Sorting the (key, corner) records groups each edge's
    // corners together; equal keys appear in ascending corner order.
    struct Rec {
        std::uint64_t key;
        std::uint32_t corner;
    };
    std::vector<Rec> recs;
    recs.reserve(triangles.size() * 3);
    for (std::size_t t = 0; t < triangles.size(); ++t) {
        for (std::size_t k = 0; k < 3; ++k) {
            const std::uint32_t a = triangles[t][(k + 1) % 3];
            const std::uint32_t b = triangles[t][(k + 2) % 3];
            const std::uint64_t key = (std::uint64_t{std::min(a, b)} << 32) | std::max(a, b);
            recs.push_back({key, static_cast<std::uint32_t>(3 * t + k)});
        }
    }
    std::sort(recs.begin(), recs.end(),
              [](const Rec& l, const Rec& r) { return l.key != r.key ? l.key < r.key : l.corner < r.corner; });

    for (std::size_t s = 0; s < recs.size();) {
        std::size_t e = s + 1;
        while (e < recs.size() && recs[e].key == recs[s].key) ++e;
        const std::size_t count = e - s;
        if (count >= 3)
            return std::unexpected(fmt::format(
                "edge ({}, {}) is carried by {} triangles; a shell must be edge-manifold (at most two)",
                recs[s].key >> 32, recs[s].key & 0xFFFFFFFFu, count));
        if (count == 2) {
            table.opposite[recs[s].corner] = recs[s + 1].corner;
            table.opposite[recs[s + 1].corner] = recs[s].corner;
        }
        s = e;
    }
    return table;
}

}  // namespace vz::corner
