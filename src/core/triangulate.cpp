// Lattice-following triangulation of point sets. The Delaunay triangulation
// runs in cell units of the detected lattice, where a cell side measures 1 and
// a cell diagonal √2 whatever the lattice's rotation and aspect; there one
// length limit separates the edges of a lattice cell from edges that skip a
// node, and the refused adjacencies of the lattice walk mark the faults the
// mesh must not cross.

#include "core/triangulate.hpp"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdlib>
#include <limits>
#include <memory>
#include <numbers>
#include <utility>

#include <fmt/format.h>

#include "core/geometry/predicates.hpp"
#include "core/shell/boundary.hpp"
#include "foundation/format.hpp"
#include "parallel/parallel_for.hpp"

namespace vz {

namespace tri_surface {

RefusedPairs::RefusedPairs(std::initializer_list<std::uint64_t> keys) {
    reserve(keys.size());
    for (const std::uint64_t key : keys) insert(key);
}

void RefusedPairs::reserve(std::size_t count) {
    // At most half full: linear probes stay short.
    std::size_t slots = 16;
    while (slots / 2 < count) slots *= 2;
    if (slots > slots_.size()) grow(slots);
}

void RefusedPairs::grow(std::size_t slots) {
    std::vector<std::uint64_t> old(slots, kFree);
    old.swap(slots_);
    shift_ = 64 - std::countr_zero(slots);
    size_ = 0;
    for (const std::uint64_t key : old)
        if (key != kFree) insert(key);
}

std::size_t RefusedPairs::slot_of(std::uint64_t key) const {
    // Fibonacci hashing: the product's top bits mix both packed indices.
    const std::size_t mask = slots_.size() - 1;
    std::size_t slot = static_cast<std::size_t>((key * 0x9E3779B97F4A7C15ull) >> shift_);
    while (slots_[slot] != kFree && slots_[slot] != key) slot = (slot + 1) & mask;
    return slot;
}

void RefusedPairs::insert(std::uint64_t key) {
    if (key == kFree) {
        has_empty_key_ = true;
        return;
    }
    if (slots_.empty() || (size_ + 1) * 2 > slots_.size()) grow(std::max<std::size_t>(16, slots_.size() * 2));
    const std::size_t slot = slot_of(key);
    if (slots_[slot] == kFree) {
        slots_[slot] = key;
        ++size_;
    }
}

bool RefusedPairs::contains(std::uint64_t key) const {
    if (key == kFree) return has_empty_key_;
    return !slots_.empty() && slots_[slot_of(key)] == key;
}

RefusedPairs refused_pairs(const TopologyDetection& detection) {
    constexpr std::uint64_t kIndexLimit = std::uint64_t{1} << 32;
    RefusedPairs out;
    out.reserve(detection.refused.size());
    for (const auto& [a, b] : detection.refused)
        if (a < kIndexLimit && b < kIndexLimit) out.insert(pair_key(a, b));
    return out;
}

bool lattice_adjacent(std::span<const NodeLabel> labels, std::uint64_t a, std::uint64_t b) {
    if (labels.empty() || a >= labels.size() || b >= labels.size()) return true;
    const NodeLabel& la = labels[a];
    const NodeLabel& lb = labels[b];
    if (la.block != lb.block) return false;
    const std::int64_t di = std::llabs(std::int64_t{la.i} - lb.i);
    const std::int64_t dj = std::llabs(std::int64_t{la.j} - lb.j);
    return std::max(di, dj) == 1;
}

bool keep_triangle(const geometry::Triangle& triangle, std::span<const std::array<double, 2>> uv,
                   const RefusedPairs& refused, std::span<const NodeLabel> labels, double max_link2,
                   std::optional<double> max_bridge2) {
    for (std::size_t k = 0; k < 3; ++k) {
        const std::uint32_t p = triangle[k];
        const std::uint32_t q = triangle[(k + 1) % 3];
        const double du = uv[p][0] - uv[q][0];
        const double dv = uv[p][1] - uv[q][1];
        const double len2 = du * du + dv * dv;
        // Comparisons on NaN are false, so a NaN length passes neither rule.
        // The label test goes before the pair lookup: it is an array read,
        // and on a scattered cloud it rules out most edges.
        const bool by_lattice = len2 <= max_link2 && lattice_adjacent(labels, p, q) && !refused.contains(pair_key(p, q));
        const bool by_bridge = max_bridge2 && len2 <= *max_bridge2;
        if (!by_lattice && !by_bridge) return false;
    }
    return true;
}

void keep_large_components(std::vector<geometry::Triangle>& triangles, std::size_t point_count) {
    if (triangles.empty()) return;
    std::vector<std::uint32_t> parent(point_count);
    for (const auto& t : triangles)
        for (const std::uint32_t v : t) parent[v] = v;
    auto find = [&parent](std::uint32_t v) {
        std::uint32_t root = v;
        while (parent[root] != root) root = parent[root];
        while (parent[v] != root) {  // path compression
            const std::uint32_t next = parent[v];
            parent[v] = root;
            v = next;
        }
        return root;
    };
    for (const auto& t : triangles) {
        const std::uint32_t root = find(t[0]);
        for (std::size_t k = 1; k < 3; ++k) {
            const std::uint32_t r = find(t[k]);
            if (r != root) parent[r] = root;
        }
    }

    // Triangles per group, counted at each triangle's first corner's root.
    std::vector<std::uint32_t> group(triangles.size());
    std::vector<std::size_t> count(point_count, 0);
    bool any_large = false;
    for (std::size_t t = 0; t < triangles.size(); ++t) {
        group[t] = find(triangles[t][0]);
        any_large |= ++count[group[t]] >= kMinComponentTriangles;
    }
    if (!any_large) return;
    std::size_t out = 0;
    for (std::size_t t = 0; t < triangles.size(); ++t)
        if (count[group[t]] >= kMinComponentTriangles) triangles[out++] = triangles[t];
    triangles.resize(out);
}

namespace {

/// The points of a detection in cell units: rotated onto the lattice axes,
/// then divided by the steps.
std::vector<std::array<double, 2>> cell_units(const TopologyDetection& detection) {
    const auto& rot = detection.rotation;
    std::vector<std::array<double, 2>> uv(detection.points.size());
    for (std::size_t k = 0; k < uv.size(); ++k) {
        const auto [x, y] = detection.points[k];
        uv[k] = {(x * rot[0] + y * rot[1]) / detection.step_i, (x * rot[2] + y * rot[3]) / detection.step_j};
    }
    return uv;
}

/// The surface of a detection (one z per point) from the Delaunay
/// triangulation of its cell units `uv`: the edge rule, the small groups,
/// the nodes and the shell.
Result<TriSurface> surface_from_delaunay(const TopologyDetection& detection, std::span<const std::array<double, 2>> uv,
                                         Result<std::vector<geometry::Triangle>> delaunay, double max_link,
                                         std::optional<double> max_bridge) {
    const std::size_t n = detection.points.size();
    VZ_ASSIGN_OR_RETURN(std::vector<geometry::Triangle> triangles, std::move(delaunay));
    if (triangles.empty())
        return fail(Error::geometry_inference("triangulation produced no triangles (are the points collinear?)"));

    const tri_surface::RefusedPairs refused = tri_surface::refused_pairs(detection);
    const std::span<const NodeLabel> labels = detection.labels;
    const std::optional<double> bridge2 =
        max_bridge ? std::optional<double>(*max_bridge * *max_bridge) : std::nullopt;
    // The triangulation ran in cell units; rounding there can leave a
    // triangle whose corners are collinear, or even clockwise, in world XY
    // (a flat sliver along a straight outer row that the bridge length
    // admits). Such a triangle has no area in the mesh it would join and
    // breaks the counter-clockwise order every mesh keeps, so it goes. The
    // orientation is judged on XY scaled by the power of two nearest the
    // cell: scaling by it is exact, so the sign is that of world XY, and the
    // predicate's products stay in range at any lattice scale the cell-unit
    // triangulation accepts.
    const auto& xy = detection.points;
    const int cell_exponent = std::ilogb(std::max(detection.step_i, detection.step_j));
    auto scaled = [&](std::uint32_t k) {
        return std::array<double, 2>{std::ldexp(xy[k][0], -cell_exponent), std::ldexp(xy[k][1], -cell_exponent)};
    };
    // Each triangle is judged on its own, on the toolkit's threads; the kept
    // ones then close up in their order.
    std::vector<char> kept(triangles.size());
    parallel::for_each_chunk(triangles.size(), parallel::chunk_items(100), [&](std::size_t t0, std::size_t t1) {
        for (std::size_t k = t0; k < t1; ++k) {
            const geometry::Triangle& t = triangles[k];
            kept[k] = tri_surface::keep_triangle(t, uv, refused, labels, max_link * max_link, bridge2) &&
                      geometry::orient2d(scaled(t[0]), scaled(t[1]), scaled(t[2])) > 0.0;
        }
    });
    std::size_t count = 0;
    for (std::size_t k = 0; k < triangles.size(); ++k)
        if (kept[k]) triangles[count++] = triangles[k];
    triangles.resize(count);
    if (triangles.empty())
        return fail(Error::geometry_inference("triangulation retained no triangles at the requested max_link"));
    tri_surface::keep_large_components(triangles, n);

    // Nodes in order of first use by the kept triangles.
    constexpr std::uint32_t kUnused = std::numeric_limits<std::uint32_t>::max();
    std::vector<std::uint32_t> node_of(n, kUnused);
    std::vector<NodeXY> nodes;
    std::vector<double> z;
    std::vector<std::optional<NodeLabel>> node_labels;
    std::vector<MeshTriangle> mesh_triangles;
    mesh_triangles.reserve(triangles.size());
    for (const auto& t : triangles) {
        MeshTriangle mt{};
        for (std::size_t c = 0; c < 3; ++c) {
            const std::uint32_t k = t[c];
            if (node_of[k] == kUnused) {
                node_of[k] = static_cast<std::uint32_t>(nodes.size());
                nodes.push_back(detection.points[k]);
                z.push_back(detection.z[k]);
                node_labels.push_back(k < labels.size() ? std::optional<NodeLabel>(labels[k]) : std::nullopt);
            }
            mt[c] = node_of[k];
        }
        mesh_triangles.push_back(mt);
    }

    VZ_ASSIGN_OR_RETURN(MeshShell shell,
                        mesh::from_triangles(std::move(nodes), std::move(mesh_triangles), std::move(node_labels)));
    return TriSurface::from_shell(std::make_shared<const MeshShell>(std::move(shell)), std::move(z));
}

}  // namespace

Result<TriSurface> triangulate_detection(const TopologyDetection& detection, double max_link,
                                         std::optional<double> max_bridge) {
    const std::size_t n = detection.points.size();
    if (detection.z.size() != n)
        return fail(Error::geometry_mismatch(
            fmt::format("triangulation needs one z per point ({} z for {} points)", detection.z.size(), n)));
    const auto uv = cell_units(detection);
    return surface_from_delaunay(detection, uv, geometry::delaunay_triangulate(uv), max_link, max_bridge);
}

}  // namespace tri_surface

namespace points {

Result<TriSurface> to_tri_surface(const PointSet& set, std::optional<double> max_link,
                                  std::optional<double> max_bridge) {
    const double link = max_link.value_or(tri_surface::kDefaultMaxLink);
    if (!(link >= std::numbers::sqrt2 && link < 2.0))
        return fail(Error::geometry_inference(
            fmt::format("max_link must lie in ({}, {}) cells: below the cell diagonal the mesh shreds, at two "
                        "cells a triangle skips a node (got {})",
                        fixed(std::numbers::sqrt2, 4), 2, num(link))));
    if (max_bridge && !(std::isfinite(*max_bridge) && *max_bridge >= link))
        return fail(Error::geometry_inference(fmt::format(
            "max_bridge must be a finite length in cells >= max_link ({}), got {}", num(link), num(*max_bridge))));

    VZ_ASSIGN_OR_RETURN(topology::Measurement measured, topology::measure(set.points, std::nullopt));
    // The Delaunay triangulation needs only the lattice's measures, so it
    // runs beside the walk that labels the points.
    const auto uv = tri_surface::cell_units(measured.detection);
    std::optional<TopologyDetection> detection;
    std::optional<Result<std::vector<geometry::Triangle>>> delaunay;
    parallel::for_each_chunk(2, 1, [&](std::size_t task, std::size_t) {
        if (task == 0)
            detection.emplace(topology::walk(std::move(measured)));
        else
            delaunay.emplace(geometry::delaunay_triangulate(uv));
    });
    VZ_ASSIGN_OR_RETURN(TriSurface surface, tri_surface::surface_from_delaunay(*detection, uv, std::move(*delaunay),
                                                                                 link, max_bridge));
    surface.history = History::derive(
        set.history, max_bridge ? fmt::format("points.to_tri_surface(max_link={}, max_bridge={})", num(link),
                                              num(*max_bridge))
                                : fmt::format("points.to_tri_surface(max_link={})", num(link)));
    return surface;
}

}  // namespace points

}  // namespace vz
