#include "core/shell/edge_buckets.hpp"

#include <algorithm>

namespace vz::shell_detail {

EdgeBuckets bucket_edges(std::size_t node_count, std::span<const std::array<std::uint32_t, 3>> triangles) {
    EdgeBuckets b;
    b.offsets.assign(node_count + 1, 0);
    for (const auto& t : triangles)
        for (std::size_t k = 0; k < 3; ++k) ++b.offsets[std::min(t[(k + 1) % 3], t[(k + 2) % 3]) + std::size_t{1}];
    for (std::size_t a = 0; a < node_count; ++a) b.offsets[a + 1] += b.offsets[a];

    b.entries.resize(triangles.size() * 3);
    std::vector<std::size_t> fill(b.offsets.begin(), b.offsets.end() - 1);
    for (std::size_t t = 0; t < triangles.size(); ++t) {
        for (std::size_t k = 0; k < 3; ++k) {
            const std::uint32_t p = triangles[t][(k + 1) % 3];
            const std::uint32_t q = triangles[t][(k + 2) % 3];
            const std::uint64_t corner = (3 * t + k) & 0xFFFFFFFFu;
            b.entries[fill[std::min(p, q)]++] = (std::uint64_t{std::max(p, q)} << 32) | corner;
        }
    }
    // Corners are placed in ascending order, so sorting each short bucket by
    // the packed value orders it by larger node, then corner.
    for (std::size_t a = 0; a < node_count; ++a)
        std::sort(b.entries.begin() + static_cast<std::ptrdiff_t>(b.offsets[a]),
                  b.entries.begin() + static_cast<std::ptrdiff_t>(b.offsets[a + 1]));
    return b;
}

std::size_t node_span(std::span<const std::array<std::uint32_t, 3>> triangles) {
    std::size_t n = 0;
    for (const auto& t : triangles)
        for (std::uint32_t v : t) n = std::max(n, std::size_t{v} + 1);
    return n;
}

}  // namespace vz::shell_detail
