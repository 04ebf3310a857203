#pragma once
/// `Grid2`: an ncol x nrow array of doubles stored column-outer, row-inner
/// (`[i * nrow + j]`), the logical order of lattice arrays in project files.

#include <cstddef>
#include <span>
#include <vector>

namespace vz {

class Grid2 {
public:
    Grid2() = default;
    Grid2(std::size_t ncol, std::size_t nrow, double fill = 0.0) : ncol_(ncol), nrow_(nrow), data_(ncol * nrow, fill) {}
    /// Takes `data` of length ncol * nrow (caller guarantees the length).
    Grid2(std::size_t ncol, std::size_t nrow, std::vector<double> data)
        : ncol_(ncol), nrow_(nrow), data_(std::move(data)) {}

    std::size_t ncol() const { return ncol_; }
    std::size_t nrow() const { return nrow_; }
    std::size_t size() const { return data_.size(); }
    bool empty() const { return data_.empty(); }

    double& operator()(std::size_t i, std::size_t j) { return data_[i * nrow_ + j]; }
    double operator()(std::size_t i, std::size_t j) const { return data_[i * nrow_ + j]; }

    std::span<double> values() { return data_; }
    std::span<const double> values() const { return data_; }
    std::vector<double>& data() { return data_; }
    const std::vector<double>& data() const { return data_; }

    /// Exact element equality (NaN never equals NaN; use `same_bits` for that).
    bool operator==(const Grid2&) const = default;

private:
    std::size_t ncol_ = 0;
    std::size_t nrow_ = 0;
    std::vector<double> data_;
};

}  // namespace vz
