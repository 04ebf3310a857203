#include "io/structured_load.hpp"

#include <algorithm>
#include <array>
#include <cstdint>
#include <limits>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include <fmt/format.h>

#include "core/shell/edges.hpp"
#include "core/shell/structured.hpp"
#include "expected_macros.hpp"
#include "foundation/memory.hpp"
#include "io/earthvision.hpp"
#include "io/text.hpp"

namespace vz::structured_load {

namespace {

/// Where every node of the file goes: the lattice extents and one (i, j) per
/// node, in node order.
struct Placement {
    std::size_t ncol = 0;
    std::size_t nrow = 0;
    std::vector<std::array<std::uint64_t, 2>> ij;
};

bool is_indexed(const EarthVisionNode& n) { return n.column.has_value() && n.row.has_value(); }
bool is_unindexed(const EarthVisionNode& n) { return !n.column.has_value() && !n.row.has_value(); }

/// span + 1 written in full, also when it is 2^64.
std::string count_text(std::uint64_t span) {
    return span == std::numeric_limits<std::uint64_t>::max() ? std::string("18446744073709551616")
                                                              : std::to_string(span + 1);
}

/// Rows without numbers fill the Grid_size lattice in file order, column
/// fastest. The lattice holds exactly the rows read, so it never asks for
/// more memory than the file already took.
Result<Placement> place_by_order(const EarthVisionGrid& grid) {
    if (!grid.grid_size)
        return fail(Error::geometry_inference("EarthVision grid needs column/row fields or a Grid_size directive"));
    const auto [ncol, nrow] = *grid.grid_size;
    std::uint64_t count = 0;
    if (__builtin_mul_overflow(ncol, nrow, &count) || count > std::numeric_limits<std::size_t>::max())
        return fail(Error::geometry_mismatch("EarthVision Grid_size overflows usize"));
    const std::size_t found = grid.nodes.size();
    if (count != found)
        return fail(Error::geometry_mismatch(
            fmt::format("EarthVision Grid_size {} x {} expects {} nodes, found {}", ncol, nrow, count, found)));
    Placement out{static_cast<std::size_t>(ncol), static_cast<std::size_t>(nrow), {}};
    out.ij.reserve(found);
    for (std::size_t n = 0; n < found; ++n) out.ij.push_back({n % ncol, n / ncol});
    return out;
}

/// Rows with numbers go where their numbers say, shifted so that the smallest
/// column and row become 0.
Result<Placement> place_by_index(const EarthVisionGrid& grid) {
    Placement out;
    out.ij.reserve(grid.nodes.size());
    for (const EarthVisionNode& n : grid.nodes) {
        VZ_ASSIGN_OR_RETURN(const std::uint64_t c, earthvision::node_index(*n.column, "column"));
        VZ_ASSIGN_OR_RETURN(const std::uint64_t r, earthvision::node_index(*n.row, "row"));
        out.ij.push_back({c, r});
    }
    std::uint64_t cmin = out.ij.front()[0], cmax = cmin, rmin = out.ij.front()[1], rmax = rmin;
    for (const auto& [c, r] : out.ij) {
        cmin = std::min(cmin, c);
        cmax = std::max(cmax, c);
        rmin = std::min(rmin, r);
        rmax = std::max(rmax, r);
    }
    // Spans, not counts: a count of 2^64 would not fit.
    const std::uint64_t cspan = cmax - cmin;
    const std::uint64_t rspan = rmax - rmin;
    if (grid.grid_size) {
        const auto [gc, gr] = *grid.grid_size;
        const bool agrees = gc != 0 && gc - 1 == cspan && gr != 0 && gr - 1 == rspan;
        if (!agrees)
            return fail(Error::geometry_mismatch(
                fmt::format("EarthVision Grid_size ({}, {}) disagrees with column/row topology ({}, {})", gc, gr,
                            count_text(cspan), count_text(rspan))));
    }
    // The node arrays hold one entry per lattice position; a few rows with
    // far-apart numbers must not ask for arrays no machine can hold.
    const std::uint64_t budget = points::lattice_node_budget(grid.nodes.size());
    const bool fits = cspan < budget && rspan < budget && cspan + 1 <= budget / (rspan + 1);
    if (!fits)
        return fail(Error::geometry_inference(
            fmt::format("EarthVision column/row indices span {} x {} nodes, more than the {} nodes allowed for {} "
                        "data nodes",
                        count_text(cspan), count_text(rspan), budget, grid.nodes.size())));
    out.ncol = static_cast<std::size_t>(cspan + 1);
    out.nrow = static_cast<std::size_t>(rspan + 1);
    for (auto& [c, r] : out.ij) {
        c -= cmin;
        r -= rmin;
    }
    return out;
}

}  // namespace

Result<StructuredMeshSurface> load_earthvision_grid(const std::filesystem::path& path) try {
    VZ_ASSIGN_OR_RETURN(const EarthVisionGrid grid, earthvision::read_grid(path));
    if (grid.nodes.empty()) return fail(Error::geometry_inference("EarthVision grid contains no data nodes"));

    std::optional<Placement> placed;
    if (std::all_of(grid.nodes.begin(), grid.nodes.end(), is_indexed)) {
        VZ_ASSIGN_OR_RETURN(placed, place_by_index(grid));
    } else if (std::all_of(grid.nodes.begin(), grid.nodes.end(), is_unindexed)) {
        VZ_ASSIGN_OR_RETURN(placed, place_by_order(grid));
    } else {
        return fail(Error::geometry_inference("EarthVision grid mixes indexed and unindexed nodes"));
    }
    const std::size_t ncol = placed->ncol;
    const std::size_t nrow = placed->nrow;

    const double nan = std::numeric_limits<double>::quiet_NaN();
    Grid2 x(ncol, nrow, nan);
    Grid2 y(ncol, nrow, nan);
    Grid2 z(ncol, nrow, nan);
    std::vector<unsigned char> taken(ncol * nrow, 0);
    for (std::size_t n = 0; n < grid.nodes.size(); ++n) {
        const auto i = static_cast<std::size_t>(placed->ij[n][0]);
        const auto j = static_cast<std::size_t>(placed->ij[n][1]);
        unsigned char& flag = taken[i + ncol * j];
        if (flag)
            return fail(Error::geometry_inference(
                fmt::format("multiple EarthVision nodes map to column={}, row={}", i + 1, j + 1)));
        flag = 1;
        const EarthVisionNode& node = grid.nodes[n];
        x(i, j) = node.x;
        y(i, j) = node.y;
        z(i, j) = node.z;
    }
    placed.reset();
    taken = {};

    // Occupancy from x and y alone: a null node still holds its place.
    VZ_ASSIGN_OR_RETURN(PolygonSet edge, points::structured_edge(x, y, nullptr, std::nullopt, EdgeMode::Occupied));

    // The nominal lattice is metadata: a lattice that does not fit leaves it
    // unset and is not an error.
    std::optional<GridGeometry> nominal;
    if (auto probe = StructuredShell::make(Grid2(x), Grid2(y), std::nullopt, PolygonSet(edge)); probe)
        if (auto fitted = probe->infer_grid(kNominalTolerance); fitted) nominal = *fitted;

    VZ_ASSIGN_OR_RETURN(StructuredMeshSurface surface,
                        StructuredMeshSurface::make(std::move(x), std::move(y), std::move(z), nominal, std::move(edge)));
    surface.history =
        History::make(fmt::format("structured_surface.load_earthvision_grid(path={})", text::display_path(path)));
    return surface;
} catch (const std::bad_alloc&) {
    return fail(
        memory_error(fmt::format("structured_surface.load_earthvision_grid(path={})", text::display_path(path))));
}

}  // namespace vz::structured_load
