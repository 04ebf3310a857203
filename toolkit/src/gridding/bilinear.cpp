#include "gridding/bilinear.hpp"

#include <array>
#include <cmath>
#include <cstddef>
#include <vector>

namespace vz::gridding {

namespace {

using u64 = std::uint64_t;
using u128 = unsigned __int128;

u64 mul_mod(u64 a, u64 b, u64 p) { return static_cast<u64>(static_cast<u128>(a) * b % p); }

u64 pow_mod(u64 a, u64 e, u64 p) {
    u64 r = 1;
    for (; e > 0; e >>= 1, a = mul_mod(a, a, p))
        if (e & 1) r = mul_mod(r, a, p);
    return r;
}

/// Rank of the rows (1, i, j, i j) over the integers modulo the prime p.
int rank_modulo(std::span<const std::pair<u64, u64>> nodes, u64 p) {
    // Reduced rows; row r has its leading 1 in column lead[r], and every
    // other kept row has 0 in that column.
    std::array<std::array<u64, 4>, 4> basis{};
    std::array<int, 4> lead{};
    int rank = 0;
    for (const auto& [i, j] : nodes) {
        std::array<u64, 4> row = {1, i % p, j % p, mul_mod(i % p, j % p, p)};
        for (int r = 0; r < rank; ++r) {
            const u64 f = row[static_cast<std::size_t>(lead[static_cast<std::size_t>(r)])];
            if (f == 0) continue;
            for (std::size_t c = 0; c < 4; ++c)
                row[c] = (row[c] + p - mul_mod(f, basis[static_cast<std::size_t>(r)][c], p)) % p;
        }
        std::size_t c = 0;
        while (c < 4 && row[c] == 0) ++c;
        if (c == 4) continue;
        const u64 inv = pow_mod(row[c], p - 2, p);
        for (u64& v : row) v = mul_mod(v, inv, p);
        for (int r = 0; r < rank; ++r) {
            auto& b = basis[static_cast<std::size_t>(r)];
            const u64 f = b[c];
            if (f == 0) continue;
            for (std::size_t k = 0; k < 4; ++k) b[k] = (b[k] + p - mul_mod(f, row[k], p)) % p;
        }
        basis[static_cast<std::size_t>(rank)] = row;
        lead[static_cast<std::size_t>(rank)] = static_cast<int>(c);
        if (++rank == 4) break;
    }
    return rank;
}

}  // namespace

bool determine_bilinear(std::span<const std::pair<std::uint64_t, std::uint64_t>> nodes) {
    // Rank 4 over the rationals means some 4 x 4 minor of integers is not 0.
    // Such a minor is below 24 (2^31)^4 < 2^129 in magnitude, so it cannot
    // be a multiple of all three primes (their product exceeds 2^185): it
    // shows as rank 4 modulo at least one of them. Rank 4 modulo a prime
    // means in turn a minor that is not 0 over the integers.
    constexpr u64 kPrimes[] = {(u64{1} << 62) - 57, (u64{1} << 62) - 87, (u64{1} << 62) - 117};
    for (const u64 p : kPrimes)
        if (rank_modulo(nodes, p) == 4) return true;
    return false;
}

Bilinear fit_bilinear(std::span<const std::pair<std::uint64_t, std::uint64_t>> nodes, std::span<const double> values,
                      bool full) {
    Bilinear f;
    const std::size_t n = nodes.size();
    if (n == 0) return f;
    double mean = 0.0;
    for (double v : values) mean += v;
    mean /= static_cast<double>(n);
    f.a = mean;
    if (!full || n < 4) return f;

    double ci = 0.0, cj = 0.0, lo_i = HUGE_VAL, hi_i = -HUGE_VAL, lo_j = HUGE_VAL, hi_j = -HUGE_VAL;
    for (const auto& [i, j] : nodes) {
        const double di = static_cast<double>(i), dj = static_cast<double>(j);
        ci += di;
        cj += dj;
        lo_i = std::fmin(lo_i, di), hi_i = std::fmax(hi_i, di);
        lo_j = std::fmin(lo_j, dj), hi_j = std::fmax(hi_j, dj);
    }
    Bilinear g;
    g.i0 = ci / static_cast<double>(n);
    g.j0 = cj / static_cast<double>(n);
    g.scale = std::fmax(1.0, std::fmax(hi_i - lo_i, hi_j - lo_j));
    // Least squares by Householder reflections of the n x 4 matrix with the
    // values as a fifth column: the columns are reduced one at a time, each
    // sum taken in node order.
    auto entry = [&](std::size_t k, int c) {
        const double u = (static_cast<double>(nodes[k].first) - g.i0) / g.scale;
        const double v = (static_cast<double>(nodes[k].second) - g.j0) / g.scale;
        switch (c) {
            case 0: return 1.0;
            case 1: return u;
            case 2: return v;
            case 3: return u * v;
            default: return values[k] - mean;
        }
    };
    // The matrix is small in width; keep it whole (n x 5).
    std::vector<double> m(n * 5);
    for (std::size_t k = 0; k < n; ++k)
        for (int c = 0; c < 5; ++c) m[k * 5 + static_cast<std::size_t>(c)] = entry(k, c);
    std::array<double, 4> diag{};
    for (std::size_t c = 0; c < 4; ++c) {
        double norm = 0.0;
        for (std::size_t k = c; k < n; ++k) norm += m[k * 5 + c] * m[k * 5 + c];
        norm = std::sqrt(norm);
        if (!(norm > 0.0)) return f;
        const double alpha = m[c * 5 + c] > 0.0 ? -norm : norm;
        m[c * 5 + c] -= alpha;  // the reflection's vector is column c from row c
        double vv = 0.0;
        for (std::size_t k = c; k < n; ++k) vv += m[k * 5 + c] * m[k * 5 + c];
        for (std::size_t c2 = c + 1; c2 < 5; ++c2) {
            double dot = 0.0;
            for (std::size_t k = c; k < n; ++k) dot += m[k * 5 + c] * m[k * 5 + c2];
            const double s = 2.0 * dot / vv;
            for (std::size_t k = c; k < n; ++k) m[k * 5 + c2] -= s * m[k * 5 + c];
        }
        diag[c] = alpha;
    }
    // R x = Q^T y: R's diagonal in `diag`, above it in m.
    std::array<double, 4> x{};
    double rmax = 0.0;
    for (double d : diag) rmax = std::fmax(rmax, std::fabs(d));
    for (std::size_t c = 4; c-- > 0;) {
        if (std::fabs(diag[c]) <= 1e-12 * rmax) return f;  // not determined
        double s = m[c * 5 + 4];
        for (std::size_t c2 = c + 1; c2 < 4; ++c2) s -= m[c * 5 + c2] * x[c2];
        x[c] = s / diag[c];
    }
    g.a = mean + x[0];
    g.b = x[1];
    g.c = x[2];
    g.d = x[3];
    if (!std::isfinite(g.a) || !std::isfinite(g.b) || !std::isfinite(g.c) || !std::isfinite(g.d)) return f;
    return g;
}

}  // namespace vz::gridding
