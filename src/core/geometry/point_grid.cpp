#include "core/geometry/point_grid.hpp"

#include <algorithm>

#include "parallel/parallel_for.hpp"

namespace vz::geometry {

std::optional<PointGrid> PointGrid::build(std::span<const std::array<double, 2>> points, double cell,
                                          std::size_t max_cells) {
    if (!(std::isfinite(cell) && cell > 0.0)) return std::nullopt;
    const double inv = 1.0 / cell;
    if (!std::isfinite(inv)) return std::nullopt;
    constexpr double kInf = std::numeric_limits<double>::infinity();
    double xmin = kInf, ymin = kInf, xmax = -kInf, ymax = -kInf;
    std::size_t finite = 0;
    for (const auto& p : points) {
        if (!std::isfinite(p[0]) || !std::isfinite(p[1])) continue;
        xmin = std::min(xmin, p[0]);
        ymin = std::min(ymin, p[1]);
        xmax = std::max(xmax, p[0]);
        ymax = std::max(ymax, p[1]);
        ++finite;
    }
    if (finite == 0) return std::nullopt;

    // The extent in cells, computed as `column` computes it, so the largest
    // coordinate falls in the last column.
    const auto extent = [&](double lo, double hi) -> std::optional<std::size_t> {
        const double f = std::floor((hi - lo) * inv);
        if (!(f >= 0.0 && f < static_cast<double>(max_cells))) return std::nullopt;
        return static_cast<std::size_t>(f) + 1;
    };
    const auto nx = extent(xmin, xmax);
    const auto ny = extent(ymin, ymax);
    if (!nx || !ny || *nx > max_cells / *ny) return std::nullopt;

    PointGrid grid;
    grid.x0_ = xmin;
    grid.y0_ = ymin;
    grid.inv_ = inv;
    grid.nx_ = *nx;
    grid.ny_ = *ny;
    const std::size_t cells = *nx * *ny;
    constexpr std::size_t kOut = std::numeric_limits<std::size_t>::max();
    // Each point's cell is its own: found on the toolkit's threads.
    std::vector<std::size_t> cell_of(points.size());
    parallel::for_each_chunk(points.size(), std::max<std::size_t>(parallel::chunk_items(20), 4096),
                             [&](std::size_t k0, std::size_t k1) {
                                 for (std::size_t k = k0; k < k1; ++k) {
                                     const auto& p = points[k];
                                     cell_of[k] = std::isfinite(p[0]) && std::isfinite(p[1])
                                                      ? grid.row(p[1]) * grid.nx_ + grid.column(p[0])
                                                      : kOut;
                                 }
                             });
    // The cells split into bands of consecutive cells, one per thread (a
    // few at most: each band reads every point's cell); each band counts and
    // places the points of its own cells, taking every point in index order,
    // so the entries of a cell come in index order whatever the bands.
    constexpr std::size_t kMaxBands = 16;
    const std::size_t bands = std::min({parallel::thread_count(), cells, kMaxBands});
    const auto band_cells = [&](std::size_t b) { return std::pair{cells * b / bands, cells * (b + 1) / bands}; };
    grid.start_.assign(cells + 1, 0);
    parallel::for_each_chunk(bands, 1, [&](std::size_t b0, std::size_t b1) {
        for (std::size_t b = b0; b < b1; ++b) {
            const auto [lo, hi] = band_cells(b);
            for (const std::size_t c : cell_of)
                if (c >= lo && c < hi) ++grid.start_[c + 1];
        }
    });
    double crowding = 0.0;
    for (std::size_t c = 0; c < cells; ++c) {
        const double count = static_cast<double>(grid.start_[c + 1]);
        crowding += count * count;
        grid.start_[c + 1] += grid.start_[c];
    }
    grid.crowding_ = crowding / static_cast<double>(finite);
    grid.xy_.resize(finite);
    grid.ids_.resize(finite);
    std::vector<std::size_t> next(grid.start_.begin(), grid.start_.end() - 1);
    parallel::for_each_chunk(bands, 1, [&](std::size_t b0, std::size_t b1) {
        for (std::size_t b = b0; b < b1; ++b) {
            const auto [lo, hi] = band_cells(b);
            for (std::size_t k = 0; k < points.size(); ++k) {
                const std::size_t c = cell_of[k];
                if (c < lo || c >= hi) continue;
                const std::size_t e = next[c]++;
                grid.xy_[e] = points[k];
                grid.ids_[e] = k;
            }
        }
    });
    return grid;
}

}  // namespace vz::geometry
