#include "gridding/sparse_lu.hpp"

#include <Eigen/OrderingMethods>
#include <Eigen/SparseCore>
#include <Eigen/SparseLU>

#include <algorithm>
#include <cmath>
#include <limits>
#include <new>
#include <vector>

namespace vz::gridding {

namespace {

using Matrix = Eigen::SparseMatrix<double, Eigen::ColMajor, int>;
using Permutation = Eigen::PermutationMatrix<Eigen::Dynamic, Eigen::Dynamic, int>;

/// The columns as they come: the matrix reaches the factorisation with its
/// rows and columns already in elimination order.
struct GivenOrder {
    template <class MatrixType>
    void operator()(const MatrixType& m, Permutation& perm) {
        perm.setIdentity(m.cols());
    }
};

using Base = Eigen::SparseLU<Matrix, GivenOrder>;

/// The sparse LU with access to its pivots, and without the copy of the
/// input it keeps for nothing once factored.
class Factorisation : public Base {
public:
    /// Partial pivoting that keeps the diagonal element while it is at
    /// least a tenth of the largest in its column: the factors keep the
    /// symmetric pattern of the elimination order, and fewer entries.
    Factorisation() { setPivotThreshold(0.1); }
    /// True when every pivot (diagonal element of U) is finite and above
    /// `tol` in magnitude.
    bool pivots_above(double tol) const {
        for (Eigen::Index j = 0; j < cols(); ++j) {
            bool found = false;
            for (SCMatrix::InnerIterator it(m_Lstore, j); it; ++it) {
                if (it.row() != j) continue;
                const double p = std::fabs(it.value());
                if (!std::isfinite(p) || p <= tol) return false;
                found = true;
                break;
            }
            if (!found) return false;
        }
        return true;
    }

    /// Releases the input copy; the solves use the factors and permutations
    /// only, and the dimensions stay.
    void drop_input() { m_mat = NCMatrix(m_mat.rows(), m_mat.cols()); }
};

/// Triplets of the matrix in elimination order: entry (r, c) becomes
/// (position of r, position of c).
class PermutedEntries {
public:
    PermutedEntries(const SparseEntry* e, const std::vector<int>* pos) : e_(e), pos_(pos) {}
    int row() const { return (*pos_)[e_->row]; }
    int col() const { return (*pos_)[e_->col]; }
    double value() const { return e_->value; }
    const PermutedEntries& operator*() const { return *this; }
    const PermutedEntries* operator->() const { return this; }
    PermutedEntries& operator++() {
        ++e_;
        return *this;
    }
    bool operator!=(const PermutedEntries& o) const { return e_ != o.e_; }
    bool operator==(const PermutedEntries& o) const { return e_ == o.e_; }

private:
    const SparseEntry* e_;
    const std::vector<int>* pos_;
};

}  // namespace

struct SparseLu::Impl {
    Factorisation lu;
    std::vector<std::uint32_t> order;
};

SparseLu::SparseLu(std::unique_ptr<Impl> impl, std::size_t n) : impl_(std::move(impl)), n_(n) {}
SparseLu::SparseLu(SparseLu&&) noexcept = default;
SparseLu& SparseLu::operator=(SparseLu&&) noexcept = default;
SparseLu::~SparseLu() = default;

std::optional<SparseLu> SparseLu::factor(std::span<const SparseEntry> entries, std::size_t n, double diagonal_shift,
                                         std::span<const std::uint32_t> order) {
    if (n == 0 || n > static_cast<std::size_t>(std::numeric_limits<int>::max()) || order.size() != n)
        return std::nullopt;
    // The library reports an allocation it cannot make by throwing; here
    // that is "cannot factor", like a band that cannot be allocated.
    try {
        auto impl = std::make_unique<Impl>();
        impl->order.assign(order.begin(), order.end());
        std::vector<int> pos(n);
        for (std::size_t p = 0; p < n; ++p) pos[order[p]] = static_cast<int>(p);

        Matrix a(static_cast<Eigen::Index>(n), static_cast<Eigen::Index>(n));
        {
            const PermutedEntries begin(entries.data(), &pos), end(entries.data() + entries.size(), &pos);
            a.setFromTriplets(begin, end);
        }
        std::vector<int>().swap(pos);
        // Every diagonal element is present, shifted or not, so that the
        // shift reaches every row.
        double maxdiag = 0.0;
        std::vector<double> diag(n, 0.0);
        for (const SparseEntry& e : entries)
            if (e.row == e.col) diag[e.row] += e.value;
        for (double& d : diag) {
            d += diagonal_shift;
            maxdiag = std::max(maxdiag, std::fabs(d));  // NaN never compares greater
        }
        if (diagonal_shift != 0.0) {
            for (std::size_t k = 0; k < n; ++k) {
                const auto p = static_cast<Eigen::Index>(k);
                a.coeffRef(p, p) += diagonal_shift;
            }
        }
        a.makeCompressed();

        Factorisation& lu = impl->lu;
        lu.analyzePattern(a);
        lu.factorize(a);
        if (lu.info() != Eigen::Success) return std::nullopt;
        if (!lu.pivots_above(1e-10 * maxdiag)) return std::nullopt;
        lu.drop_input();

        return SparseLu(std::move(impl), n);
    } catch (const std::bad_alloc&) {
        return std::nullopt;
    }
}

void SparseLu::solve(std::span<const double> rhs, std::span<double> out) const {
    const std::vector<std::uint32_t>& order = impl_->order;
    Eigen::VectorXd b(static_cast<Eigen::Index>(n_));
    for (std::size_t p = 0; p < n_; ++p) b[static_cast<Eigen::Index>(p)] = rhs[order[p]];
    const Eigen::VectorXd x = impl_->lu.solve(b);
    for (std::size_t p = 0; p < n_; ++p) out[order[p]] = x[static_cast<Eigen::Index>(p)];
}

}  // namespace vz::gridding
