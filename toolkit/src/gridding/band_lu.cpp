#include "gridding/band_lu.hpp"

#include <algorithm>
#include <cmath>
#include <new>

namespace vz::gridding {

std::optional<std::uint64_t> band_storage_len(std::uint64_t n, std::uint64_t h) {
    std::uint64_t width = 0, len = 0;
    if (__builtin_mul_overflow(h, std::uint64_t{2}, &width) || __builtin_add_overflow(width, 1, &width) ||
        __builtin_mul_overflow(n, width, &len))
        return std::nullopt;
    return len;
}

std::optional<BandLu> BandLu::assemble_and_factor(std::span<const SparseEntry> entries, std::size_t n, std::size_t h,
                                                  double diagonal_shift) {
    const auto len = band_storage_len(n, h);
    if (!len || *len > SIZE_MAX / sizeof(double)) return std::nullopt;
    // An allocation the machine cannot back is reported as "cannot factor";
    // the caller then takes its iterative path.
    std::unique_ptr<double[]> storage(new (std::nothrow) double[static_cast<std::size_t>(*len)]());
    if (!storage) return std::nullopt;
    BandLu m(std::move(storage), n, h);
    for (const SparseEntry& e : entries) m.at(e.row, e.col) += e.value;
    if (diagonal_shift != 0.0)
        for (std::size_t k = 0; k < n; ++k) m.at(k, k) += diagonal_shift;
    if (!m.factor()) return std::nullopt;
    return m;
}

bool BandLu::factor() {
    double maxdiag = 0.0;
    for (std::size_t k = 0; k < n_; ++k) {
        const double d = std::fabs(at(k, k));
        if (d > maxdiag) maxdiag = d;  // NaN never compares greater
    }
    const double tol = 1e-10 * maxdiag;
    const std::size_t w = 2 * h_ + 1;
    for (std::size_t i = 0; i < n_; ++i) {
        const double p = at(i, i);
        if (!std::isfinite(std::fabs(p)) || std::fabs(p) <= tol) return false;
        const std::size_t last = std::min(n_ - 1, i + h_);
        const double* row_i = &a_[i * w + h_ - i];  // row_i[k] == A[i][k]
        for (std::size_t j = i + 1; j <= last; ++j) {
            double* row_j = &a_[j * w + h_ - j];  // row_j[k] == A[j][k]
            const double m = row_j[i] / p;
            if (!std::isfinite(m)) return false;
            row_j[i] = m;
            if (m == 0.0) continue;
            for (std::size_t k = i + 1; k <= last; ++k) row_j[k] -= row_i[k] * m;
        }
    }
    factored_ = true;
    return true;
}

void BandLu::solve(std::span<const double> rhs, std::span<double> out) const {
    std::copy(rhs.begin(), rhs.end(), out.begin());
    for (std::size_t i = 0; i < n_; ++i) {
        const std::size_t first = i > h_ ? i - h_ : 0;
        double sum = 0.0;
        for (std::size_t j = first; j < i; ++j) sum += at(i, j) * out[j];
        out[i] -= sum;
    }
    for (std::size_t i = n_; i-- > 0;) {
        const std::size_t last = std::min(n_ - 1, i + h_);
        double sum = 0.0;
        for (std::size_t k = i + 1; k <= last; ++k) sum += at(i, k) * out[k];
        out[i] = (out[i] - sum) / at(i, i);
    }
}

}  // namespace vz::gridding
