#include "core/shell/structured.hpp"

#include <cmath>
#include <limits>
#include <utility>

#include <fmt/format.h>

#include "core/surface.hpp"

namespace vz {

namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

bool present(double x, double y) { return std::isfinite(x) && std::isfinite(y); }

Error empty_shape_error() { return Error::geometry_mismatch("StructuredShell::new: shape must be non-empty"); }

}  // namespace

Result<StructuredShell> StructuredShell::make(Grid2 x, Grid2 y, std::optional<GridGeometry> nominal, PolygonSet edge) {
    if (x.ncol() == 0 || x.nrow() == 0) return fail(empty_shape_error());
    if (x.ncol() != y.ncol() || x.nrow() != y.nrow())
        return fail(Error::geometry_mismatch(fmt::format("StructuredShell::new: x/y shapes differ: x=({}, {}), y=({}, {})",
                                                         x.ncol(), x.nrow(), y.ncol(), y.nrow())));
    StructuredShell shell;
    shell.edge_ = std::move(edge);
    shell.nominal_ = std::move(nominal);
    shell.x_ = std::move(x);
    shell.y_ = std::move(y);
    return shell;
}

Result<StructuredShell> StructuredShell::from_grid_geometry(const GridGeometry& geometry) {
    if (geometry.ncol == 0 || geometry.nrow == 0) return fail(empty_shape_error());
    VZ_TRY(checked_node_count(geometry, "StructuredShell::from_grid_geometry"));
    const std::size_t ncol = geometry.ncol;
    const std::size_t nrow = geometry.nrow;
    Grid2 x(ncol, nrow);
    Grid2 y(ncol, nrow);
    for (std::size_t i = 0; i < ncol; ++i) {
        for (std::size_t j = 0; j < nrow; ++j) {
            const auto [wx, wy] = geometry.node_xy(i, j);
            x(i, j) = wx;
            y(i, j) = wy;
        }
    }
    return make(std::move(x), std::move(y), geometry, PolygonSet::from_grid_geometry(geometry));
}

Result<StructuredShell> StructuredShell::from_payload(PolygonSet edge, std::optional<GridGeometry> nominal, Grid2 x,
                                                      Grid2 y, std::uint64_t ncol, std::uint64_t nrow) {
    VZ_ASSIGN_OR_RETURN(auto shell, make(std::move(x), std::move(y), std::move(nominal), std::move(edge)));
    if (ncol != shell.ncol() || nrow != shell.nrow())
        return fail(Error::geometry_mismatch("StructuredShell payload ncol/nrow disagree with the coordinate arrays"));
    return shell;
}

Result<std::pair<double, double>> StructuredShell::node_xy(std::uint64_t i, std::uint64_t j) const {
    if (i >= ncol() || j >= nrow())
        return fail(Error::out_of_range(fmt::format("structured surface node ({}, {}) outside shape (ncol={}, nrow={})",
                                                    i, j, ncol(), nrow())));
    return std::pair{x_(i, j), y_(i, j)};
}

BBox StructuredShell::bbox() const {
    BBox b{kNaN, kNaN, kNaN, kNaN};
    bool any = false;
    const auto xs = x_.values();
    const auto ys = y_.values();
    for (std::size_t k = 0; k < xs.size(); ++k) {
        const double px = xs[k];
        const double py = ys[k];
        if (!present(px, py)) continue;
        if (!any) {
            b = {px, py, px, py};
            any = true;
            continue;
        }
        b.xmin = std::min(b.xmin, px);
        b.ymin = std::min(b.ymin, py);
        b.xmax = std::max(b.xmax, px);
        b.ymax = std::max(b.ymax, py);
    }
    return b;
}

Result<MeshShell> StructuredShell::to_mesh_shell() const {
    const std::size_t nc = ncol();
    const std::size_t nr = nrow();
    // Labels count lattice steps in 32 bits.
    constexpr auto kMaxStep = static_cast<std::size_t>(std::numeric_limits<std::int32_t>::max());
    if (nc - 1 > kMaxStep || nr - 1 > kMaxStep)
        return fail(Error::geometry_inference(
            fmt::format("structured shell of {} x {} nodes exceeds the 32-bit lattice label range", nc, nr)));

    std::uint64_t present_count = 0;
    for (std::size_t k = 0; k < x_.size(); ++k)
        if (present(x_.values()[k], y_.values()[k])) ++present_count;
    VZ_TRY(mesh::check_node_count(present_count, "StructuredShell::to_mesh_shell"));

    // Node numbers, row j outer and column i inner; the index lattice gives
    // each cell corner in constant time.
    constexpr std::uint32_t kNone = std::numeric_limits<std::uint32_t>::max();
    std::vector<std::uint32_t> index(nc * nr, kNone);  // [i * nr + j], like Grid2
    std::vector<NodeXY> nodes;
    std::vector<std::optional<NodeLabel>> labels;
    nodes.reserve(present_count);
    labels.reserve(present_count);
    for (std::size_t j = 0; j < nr; ++j) {
        for (std::size_t i = 0; i < nc; ++i) {
            const double px = x_(i, j);
            const double py = y_(i, j);
            if (!present(px, py)) continue;
            index[i * nr + j] = static_cast<std::uint32_t>(nodes.size());
            nodes.push_back({px, py});
            labels.push_back(NodeLabel{0, static_cast<std::int32_t>(i), static_cast<std::int32_t>(j)});
        }
    }

    std::vector<MeshTriangle> triangles;
    for (std::size_t j = 0; j + 1 < nr; ++j) {
        for (std::size_t i = 0; i + 1 < nc; ++i) {
            const std::uint32_t g = index[i * nr + j];
            const std::uint32_t f = index[(i + 1) * nr + j];
            const std::uint32_t e = index[i * nr + j + 1];
            const std::uint32_t d = index[(i + 1) * nr + j + 1];
            if (g == kNone || f == kNone || e == kNone || d == kNone) continue;
            mesh::push_ccw_triangle(triangles, nodes, {g, f, d});
            mesh::push_ccw_triangle(triangles, nodes, {g, d, e});
        }
    }
    if (triangles.empty())
        return fail(Error::geometry_inference("structured shell has no complete cell to triangulate"));

    auto wireframe = mesh::build_wireframe(triangles, labels);
    return MeshShell::make(std::move(nodes), std::move(triangles), std::move(wireframe), edge_, std::move(labels));
}

Result<MeshShell> MeshShell::from_grid_geometry(const GridGeometry& geometry) {
    VZ_ASSIGN_OR_RETURN(auto shell, StructuredShell::from_grid_geometry(geometry));
    return shell.to_mesh_shell();
}

}  // namespace vz
