#pragma once
/// `NodeLabel`: where a node sits in a lattice walk, as (block, column steps,
/// row steps) counted from the seed node (0, 0) of its block.
///
/// Triangle meshes carry one optional label per node; the wireframe, the
/// coarse display levels and the lattice fit read them.

#include <compare>
#include <cstddef>
#include <cstdint>
#include <functional>

namespace vz {

/// Lattice-walk label of one node: `block` is the connected lattice block,
/// `i` the signed column step count and `j` the signed row step count from
/// the block's seed node.
struct NodeLabel {
    std::uint32_t block = 0;
    std::int32_t i = 0;
    std::int32_t j = 0;

    bool operator==(const NodeLabel&) const = default;
    /// Ordered by block, then i, then j.
    auto operator<=>(const NodeLabel&) const = default;
};

/// Hash of a label (all three fields), for label-keyed hash maps.
struct NodeLabelHash {
    std::size_t operator()(const NodeLabel& l) const noexcept {
        const std::uint64_t ij = (std::uint64_t{static_cast<std::uint32_t>(l.i)} << 32) |
                                 std::uint64_t{static_cast<std::uint32_t>(l.j)};
        std::uint64_t h = ij ^ (std::uint64_t{l.block} * 0x9E3779B97F4A7C15ull);
        h ^= h >> 33;
        h *= 0xFF51AFD7ED558CCDull;
        h ^= h >> 33;
        return static_cast<std::size_t>(h);
    }
};

}  // namespace vz
