#pragma once
/// Triangle adjacency of a mesh as a corner table, built while a mesh shell is
/// validated: it proves every triangle index is in range and every edge is
/// shared by at most two triangles. The shell does not keep it.

#include <array>
#include <cstddef>
#include <cstdint>
#include <expected>
#include <span>
#include <string>
#include <vector>

namespace vz::corner {

/// The none marker of corner and node entries (all bits set).
inline constexpr std::uint32_t kNone = 0xFFFFFFFFu;

/// Adjacency of a triangle list. Corner c = 3 t + k is position k of
/// triangle t; the edge facing it joins the triangle's other two nodes.
struct CornerTable {
    /// Per corner: the corner of the other triangle facing the same undirected
    /// edge, or `kNone` on a boundary edge.
    std::vector<std::uint32_t> opposite;
    /// Per node: the smallest corner at which the node occurs, or `kNone`.
    std::vector<std::uint32_t> first_corner;
};

/// Builds the table for `node_count` nodes. Failure texts (the caller wraps
/// them): "triangle {t} references node {v} outside the shell's {n} nodes"
/// (range checks run over every triangle first, so they win), "edge ({a},
/// {b}) is carried by {k} triangles; a shell must be edge-manifold (at most
/// two)", and, for inputs beyond 32-bit addressing, "{n} nodes exceed the
/// 32-bit node index range" / "{T} triangles exceed the 32-bit corner index
/// range".
std::expected<CornerTable, std::string> build_corner_table(std::size_t node_count,
                                                            std::span<const std::array<std::uint32_t, 3>> triangles);

}  // namespace vz::corner
