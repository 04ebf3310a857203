#pragma once
/// A uniform grid of square cells over planar points, for range questions
/// whose radius is a small multiple of the cell side.
///
/// Where the points spread evenly over their bounding box, a disc search
/// reads a few cells whose entries lie side by side in memory, row by row,
/// instead of descending a tree; where they crowd into a few cells it loses
/// to a tree, and `crowding()` tells the caller so.
///
/// Its answers are those of `PointIndex::within`: every entry whose squared
/// distance dx² + dy² from the position, computed the same way, is at most
/// radius², boundary included. Points with a non-finite coordinate are left
/// out.

#include <array>
#include <cmath>
#include <cstddef>
#include <limits>
#include <optional>
#include <span>
#include <vector>

#include "core/fill_vector.hpp"

namespace vz::geometry {

class PointGrid {
public:
    /// A grid of cells of side `cell` over the finite points, entry k being
    /// point k. Absent when `cell` is not a finite number above 0, when no
    /// point is finite, or when the bounding box would need more than
    /// `max_cells` cells.
    static std::optional<PointGrid> build(std::span<const std::array<double, 2>> points, double cell,
                                          std::size_t max_cells);

    /// Number of entries (finite points).
    std::size_t size() const { return ids_.size(); }
    /// Number of cells.
    std::size_t cells() const { return nx_ * ny_; }
    /// The mean number of entries in the cell of an entry (the sum of the
    /// squared cell counts over the entry count): about the cell area times
    /// the density where points spread evenly, far more where they crowd.
    double crowding() const { return crowding_; }

    /// Calls `visit(index, dist2)` for every entry whose squared distance
    /// from (x, y) is at most radius², in no particular order. Nothing for a
    /// non-finite position or a negative or NaN radius.
    template <class F>
    void for_each_within(double x, double y, double radius, F&& visit) const {
        const std::size_t* ids = ids_.data();
        for_each_entry_within(x, y, radius, [&](std::size_t e, double d2) { visit(ids[e], d2); });
    }

    /// As `for_each_within`, naming the entries by their place in the grid's
    /// order (cells row by row, columns within a row, ascending index within
    /// a cell); `index_of` turns a place into the point's index.
    template <class F>
    void for_each_entry_within(double x, double y, double radius, F&& visit) const {
        if (ids_.empty() || !std::isfinite(x) || !std::isfinite(y) || !(radius >= 0.0)) return;
        const double r2 = radius * radius;
        // Beyond every rounding of the squared distances and of the cell
        // bounds: an entry outside these columns and rows cannot pass.
        const double reach = std::sqrt(r2) * (1.0 + 0x1p-40) + (std::fabs(x) + std::fabs(y)) * 0x1p-50 + 0x1p-498;
        const std::size_t c0 = column(x - reach);
        const std::size_t c1 = column(x + reach);
        const std::size_t r0 = row(y - reach);
        const std::size_t r1 = row(y + reach);
        // Local copies: the visitor may write memory the compiler cannot
        // tell apart from the grid's.
        const std::size_t* start = start_.data();
        const std::array<double, 2>* xy = xy_.data();
        const std::size_t nx = nx_;
        for (std::size_t r = r0; r <= r1; ++r) {
            // The cells of one row lie side by side.
            const std::size_t end = start[r * nx + c1 + 1];
            for (std::size_t e = start[r * nx + c0]; e < end; ++e) {
                const double dx = xy[e][0] - x;
                const double dy = xy[e][1] - y;
                const double d2 = dx * dx + dy * dy;
                if (d2 <= r2) visit(e, d2);
            }
        }
    }

    /// The index of the point at place e of the grid's order.
    std::size_t index_of(std::size_t e) const { return ids_[e]; }
    /// The entries' positions in the grid's order.
    std::span<const std::array<double, 2>> points() const { return xy_; }

private:
    PointGrid() = default;

    /// Column of abscissa x, clamped to the grid; monotone in x.
    std::size_t column(double x) const { return clamp_cell((x - x0_) * inv_, nx_); }
    std::size_t row(double y) const { return clamp_cell((y - y0_) * inv_, ny_); }

    static std::size_t clamp_cell(double f, std::size_t n) {
        const double c = std::floor(f);
        if (!(c > 0.0)) return 0;  // NaN too
        if (c >= static_cast<double>(n - 1)) return n - 1;
        return static_cast<std::size_t>(c);
    }

    double x0_ = 0.0;
    double y0_ = 0.0;
    double inv_ = 0.0;
    std::size_t nx_ = 0;
    std::size_t ny_ = 0;
    double crowding_ = 0.0;
    /// Entries of cell c (row-major, c = row · nx + column) are
    /// [start_[c], start_[c + 1]), in ascending index order.
    std::vector<std::size_t> start_;
    FillVector<std::array<double, 2>> xy_;
    FillVector<std::size_t> ids_;
};

}  // namespace vz::geometry
