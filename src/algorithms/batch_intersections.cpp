#include "algorithms/batch_intersections.hpp"

#include <algorithm>
#include <optional>
#include <utility>

#include "core/trajectory.hpp"
#include "core/well.hpp"
#include "expected_macros.hpp"
#include "foundation/format.hpp"

namespace vz::intersections {
namespace {

/// -1, 0 or 1 for absent-first, byte-wise name order.
int compare_names(const std::optional<std::string>& a, const std::optional<std::string>& b) {
    if (!a || !b) return static_cast<int>(a.has_value()) - static_cast<int>(b.has_value());
    const int c = a->compare(*b);
    return (c > 0) - (c < 0);
}

/// Below this many positioned bores a batch searches each bore from scratch:
/// a single search indexes only the triangles within its trajectory's reach,
/// which for a few wells costs less than indexing the whole mesh once.
constexpr std::size_t kPrepareFromBores = 4;

/// The crossing search of every bore of one batch, in the one mesh the batch
/// built: the surface is only read, so every bore would be given the same
/// mesh anyway. Prepared once for many bores, searched from scratch for a
/// few; both give identical crossings and errors.
class BatchSearch {
public:
    BatchSearch(const TriangleMesh& mesh, double tolerance, std::size_t bores) : mesh_(mesh), tolerance_(tolerance) {
        if (bores >= kPrepareFromBores)
            prepared_.emplace(PreparedMesh::prepare(mesh.vertices, mesh.triangles, tolerance));
    }

    Result<std::vector<Crossing>> operator()(std::span<const double> mds, const Trajectory& trajectory) const {
        if (!prepared_)
            return intersect_trajectory_with_mesh(mds, trajectory, mesh_.vertices, mesh_.triangles, tolerance_);
        // A mesh that could not be prepared carries the error every search
        // would give.
        if (!*prepared_) return fail(prepared_->error());
        return intersect_trajectory_with_mesh(mds, trajectory, **prepared_);
    }

private:
    const TriangleMesh& mesh_;
    double tolerance_;
    std::optional<Result<PreparedMesh>> prepared_;
};

/// The bore's crossings on its active trajectory, as `Sidetrack::intersections`
/// (all) or `Sidetrack::intersection` (single) give them.
Result<std::vector<SurfaceIntersection>> query_bore(const Sidetrack& bore, const BatchSearch& search, bool all) {
    std::vector<SurfaceIntersection> out;
    const Trajectory* t = bore.active_trajectory();
    if (t == nullptr) return out;
    const std::vector<double> mds = t->mds();
    VZ_ASSIGN_OR_RETURN(const auto found, search(mds, *t));
    out.reserve(found.size());
    for (const auto& c : found) {
        SurfaceIntersection rec;
        rec.md = c.md;
        rec.xyz = {c.x, c.y, c.z};
        out.push_back(std::move(rec));
    }
    if (all) return out;
    VZ_ASSIGN_OR_RETURN(auto single, select_single_crossing(std::move(out)));
    std::vector<SurfaceIntersection> one;
    if (single) one.push_back(std::move(*single));
    return one;
}

std::string failure_reason(const std::string& text) {
    if (text.find("coplanar") != std::string::npos) return "coplanar";
    if (text.find("crosses the surface") != std::string::npos) return "multiple_intersections";
    return "intersection_error";
}

}  // namespace

bool cmp_hits_well_bore_md(const SurfaceIntersection& a, const SurfaceIntersection& b) {
    if (const int c = compare_names(a.well, b.well); c != 0) return c < 0;
    if (const int c = compare_names(a.bore, b.bore); c != 0) return c < 0;
    return total_less(a.md, b.md);
}

Result<WellIntersectionBatch> intersect_wells_with_surface(std::span<const std::reference_wrapper<const Well>> wells,
                                                           const TriangleMeshSource& surface, double tolerance,
                                                           bool all) {
    VZ_ASSIGN_OR_RETURN(const TriangleMesh mesh, surface.triangle_mesh());
    std::size_t bores = 0;
    for (const Well& well : wells)
        for (const auto& [label, bore] : well.bores) bores += bore.has_trajectory() ? 1 : 0;
    const BatchSearch search(mesh, tolerance, bores);
    WellIntersectionBatch batch;
    for (const Well& well : wells) {
        bool queried = false;
        for (const auto& [label, bore] : well.bores) {
            if (!bore.has_trajectory()) continue;
            queried = true;
            auto hits = query_bore(bore, search, all);
            if (!hits) {
                std::string text = hits.error().display();
                batch.failed.push_back({well.name, label, failure_reason(text), std::move(text)});
                continue;
            }
            if (hits->empty()) {
                batch.skipped.push_back({well.name, label, "outside_or_no_intersection",
                                         "trajectory does not intersect the finite surface geometry"});
                continue;
            }
            for (auto& h : *hits) batch.hits.push_back(std::move(h).with_identity(well.name, label, std::nullopt));
        }
        if (!queried) batch.skipped.push_back({well.name, "", "missing_trajectory", "well has no positioned bore"});
    }
    std::stable_sort(batch.hits.begin(), batch.hits.end(), cmp_hits_well_bore_md);
    return batch;
}

}  // namespace vz::intersections
