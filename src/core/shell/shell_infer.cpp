// Regular lattices fitted to the nodes of the two shell kinds.

#include <algorithm>
#include <array>
#include <cmath>
#include <vector>

#include "core/shell/fit.hpp"
#include "core/shell/mesh.hpp"
#include "core/shell/structured.hpp"

namespace vz {

Result<GridGeometry> MeshShell::infer_grid(double tolerance) const {
    // Labels of one block give every node its lattice position outright.
    const bool one_block =
        !nodes_.empty() && std::all_of(labels_.begin(), labels_.end(), [this](const std::optional<NodeLabel>& l) {
            return l && l->block == labels_.front()->block;
        });
    if (one_block) {
        std::vector<fit::IndexedNode> records;
        records.reserve(nodes_.size());
        for (std::size_t n = 0; n < nodes_.size(); ++n)
            records.push_back({std::int64_t{labels_[n]->i}, std::int64_t{labels_[n]->j}, nodes_[n][0], nodes_[n][1]});
        return fit::fit_lattice_indexed(records, tolerance);
    }
    std::vector<std::array<double, 3>> points;
    points.reserve(nodes_.size());
    for (const NodeXY& p : nodes_) points.push_back({p[0], p[1], 0.0});
    VZ_ASSIGN_OR_RETURN(auto fitted, fit::fit_lattice_xy(points, tolerance));
    return fitted.geometry;
}

Result<GridGeometry> StructuredShell::infer_grid(double tolerance) const {
    std::vector<fit::IndexedNode> records;
    for (std::size_t j = 0; j < nrow(); ++j)
        for (std::size_t i = 0; i < ncol(); ++i) {
            const double px = x_(i, j);
            const double py = y_(i, j);
            if (std::isfinite(px) && std::isfinite(py))
                records.push_back({static_cast<std::int64_t>(i), static_cast<std::int64_t>(j), px, py});
        }
    return fit::fit_lattice_indexed(records, tolerance);
}

}  // namespace vz
