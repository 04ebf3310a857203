// Error-free transformations (two-sum, two-product) rely on every operation
// being rounded on its own; a fused multiply-add contracted by the compiler
// would silently break them, so contraction is switched off for this file
// wherever the target offers FMA.
#if defined(__GNUC__) && !defined(__clang__) && (defined(__FMA__) || defined(__FP_FAST_FMA))
#pragma GCC optimize("fp-contract=off")
#endif

#include "core/geometry/predicates.hpp"

#include <algorithm>
#include <cmath>

namespace vz::geometry {

namespace {

// Unit roundoff of IEEE binary64 and Dekker's splitter.
constexpr double kEps = 0x1p-53;
constexpr double kSplitter = 0x1p27 + 1.0;

// Forward error bounds of the successive evaluation stages (relative to the
// permanent of the determinant); they hold in round-to-nearest.
constexpr double kResultErrBound = (3.0 + 8.0 * kEps) * kEps;
constexpr double kCcwErrBoundA = (3.0 + 16.0 * kEps) * kEps;
constexpr double kCcwErrBoundB = (2.0 + 12.0 * kEps) * kEps;
constexpr double kCcwErrBoundC = (9.0 + 64.0 * kEps) * kEps * kEps;
constexpr double kIccErrBoundA = (10.0 + 96.0 * kEps) * kEps;
constexpr double kIccErrBoundB = (4.0 + 48.0 * kEps) * kEps;
constexpr double kIccErrBoundC = (44.0 + 576.0 * kEps) * kEps * kEps;

// --- error-free transformations ---------------------------------------------

/// x + y = a + b exactly, x = fl(a + b).
inline void two_sum(double a, double b, double& x, double& y) {
    x = a + b;
    const double bvirt = x - a;
    const double avirt = x - bvirt;
    const double bround = b - bvirt;
    const double around = a - avirt;
    y = around + bround;
}

/// As two_sum, valid when |a| >= |b| (or a == 0).
inline void fast_two_sum(double a, double b, double& x, double& y) {
    x = a + b;
    const double bvirt = x - a;
    y = b - bvirt;
}

/// The rounding error of x = fl(a - b).
inline double two_diff_tail(double a, double b, double x) {
    const double bvirt = a - x;
    const double avirt = x + bvirt;
    const double bround = bvirt - b;
    const double around = a - avirt;
    return around + bround;
}

/// x + y = a - b exactly, x = fl(a - b).
inline void two_diff(double a, double b, double& x, double& y) {
    x = a - b;
    y = two_diff_tail(a, b, x);
}

/// x + y = a * b exactly, x = fl(a * b).
inline void two_product(double a, double b, double& x, double& y) {
    x = a * b;
#if defined(__FMA__) || defined(__FP_FAST_FMA)
    y = std::fma(a, b, -x);
#else
    double c = kSplitter * a;
    const double ahi = c - (c - a);
    const double alo = a - ahi;
    c = kSplitter * b;
    const double bhi = c - (c - b);
    const double blo = b - bhi;
    const double err1 = x - ahi * bhi;
    const double err2 = err1 - alo * bhi;
    const double err3 = err2 - ahi * blo;
    y = alo * blo - err3;
#endif
}

/// (a1 + a0) - (b1 + b0) as a four-component expansion x[0..3] (ascending).
inline void two_two_diff(double a1, double a0, double b1, double b0, double* x) {
    double i, j, k;
    // (a1, a0) - b0
    two_diff(a0, b0, i, x[0]);
    two_sum(a1, i, j, k);
    // (j, k) - b1
    double m;
    two_diff(k, b1, m, x[1]);
    two_sum(j, m, x[3], x[2]);
}

// --- expansion arithmetic -------------------------------------------------
// An expansion is an array of non-overlapping components in increasing order
// of magnitude whose exact sum is the value; the zero-eliminating variants
// drop zero components but always keep at least one.

/// h = e + f. h must hold elen + flen components; returns its length.
int expansion_sum(int elen, const double* e, int flen, const double* f, double* h) {
    int ei = 0;
    int fi = 0;
    double enow = e[0];
    double fnow = f[0];
    double q;
    if ((fnow > enow) == (fnow > -enow)) {
        q = enow;
        ++ei;
        if (ei < elen) enow = e[ei];
    } else {
        q = fnow;
        ++fi;
        if (fi < flen) fnow = f[fi];
    }
    int hi = 0;
    double qnew, hh;
    if (ei < elen && fi < flen) {
        if ((fnow > enow) == (fnow > -enow)) {
            fast_two_sum(enow, q, qnew, hh);
            ++ei;
            if (ei < elen) enow = e[ei];
        } else {
            fast_two_sum(fnow, q, qnew, hh);
            ++fi;
            if (fi < flen) fnow = f[fi];
        }
        q = qnew;
        if (hh != 0.0) h[hi++] = hh;
        while (ei < elen && fi < flen) {
            if ((fnow > enow) == (fnow > -enow)) {
                two_sum(q, enow, qnew, hh);
                ++ei;
                if (ei < elen) enow = e[ei];
            } else {
                two_sum(q, fnow, qnew, hh);
                ++fi;
                if (fi < flen) fnow = f[fi];
            }
            q = qnew;
            if (hh != 0.0) h[hi++] = hh;
        }
    }
    while (ei < elen) {
        two_sum(q, enow, qnew, hh);
        ++ei;
        if (ei < elen) enow = e[ei];
        q = qnew;
        if (hh != 0.0) h[hi++] = hh;
    }
    while (fi < flen) {
        two_sum(q, fnow, qnew, hh);
        ++fi;
        if (fi < flen) fnow = f[fi];
        q = qnew;
        if (hh != 0.0) h[hi++] = hh;
    }
    if (q != 0.0 || hi == 0) h[hi++] = q;
    return hi;
}

/// h = e * b. h must hold 2 * elen components; returns its length.
int scale_expansion(int elen, const double* e, double b, double* h) {
    double q, hh;
    two_product(e[0], b, q, hh);
    int hi = 0;
    if (hh != 0.0) h[hi++] = hh;
    for (int i = 1; i < elen; ++i) {
        double p1, p0, sum;
        two_product(e[i], b, p1, p0);
        two_sum(q, p0, sum, hh);
        if (hh != 0.0) h[hi++] = hh;
        fast_two_sum(p1, sum, q, hh);
        if (hh != 0.0) h[hi++] = hh;
    }
    if (q != 0.0 || hi == 0) h[hi++] = q;
    return hi;
}

/// Approximate value of an expansion (sign-correct).
inline double estimate(int n, const double* e) {
    double q = e[0];
    for (int i = 1; i < n; ++i) q += e[i];
    return q;
}

/// A fixed-capacity expansion.
template <int N>
struct Exp {
    double v[N];
    int n = 0;
};

template <int A, int B>
Exp<A + B> add(const Exp<A>& e, const Exp<B>& f) {
    Exp<A + B> h;
    h.n = expansion_sum(e.n, e.v, f.n, f.v, h.v);
    return h;
}

/// Exact product of two expansions: the sum of e scaled by every component of f.
template <int A, int B>
Exp<2 * A * B> mul(const Exp<A>& e, const Exp<B>& f) {
    Exp<2 * A * B> acc;
    Exp<2 * A * B> tmp;
    Exp<2 * A> part;
    acc.n = scale_expansion(e.n, e.v, f.v[0], acc.v);
    for (int i = 1; i < f.n; ++i) {
        part.n = scale_expansion(e.n, e.v, f.v[i], part.v);
        tmp.n = expansion_sum(acc.n, acc.v, part.n, part.v, tmp.v);
        std::copy_n(tmp.v, tmp.n, acc.v);
        acc.n = tmp.n;
    }
    return acc;
}

/// The exact difference a - b as a two-component expansion.
inline Exp<2> exact_diff(double a, double b) {
    Exp<2> d;
    double x, y;
    two_diff(a, b, x, y);
    d.v[0] = y;
    d.v[1] = x;
    d.n = 2;
    return d;
}

/// The most significant component: carries the sign of the exact value.
template <int N>
double leading(const Exp<N>& e) {
    return e.v[e.n - 1];
}

// --- adaptive stages -------------------------------------------------------

double orient2d_adapt(double ax, double ay, double bx, double by, double cx, double cy, double detsum) {
    const double acx = ax - cx;
    const double bcx = bx - cx;
    const double acy = ay - cy;
    const double bcy = by - cy;

    double detleft, detlefttail, detright, detrighttail;
    two_product(acx, bcy, detleft, detlefttail);
    two_product(acy, bcx, detright, detrighttail);
    double b[4];
    two_two_diff(detleft, detlefttail, detright, detrighttail, b);

    double det = estimate(4, b);
    double errbound = kCcwErrBoundB * detsum;
    if (det >= errbound || -det >= errbound) return det;

    const double acxtail = two_diff_tail(ax, cx, acx);
    const double bcxtail = two_diff_tail(bx, cx, bcx);
    const double acytail = two_diff_tail(ay, cy, acy);
    const double bcytail = two_diff_tail(by, cy, bcy);
    if (acxtail == 0.0 && acytail == 0.0 && bcxtail == 0.0 && bcytail == 0.0) return det;

    errbound = kCcwErrBoundC * detsum + kResultErrBound * std::fabs(det);
    det += (acx * bcytail + bcy * acxtail) - (acy * bcxtail + bcx * acytail);
    if (det >= errbound || -det >= errbound) return det;

    return detail::orient2d_exact(ax, ay, bx, by, cx, cy);
}

/// det(a, b, c) of the rounded differences (rows x, y, x² + y²), exactly, as an
/// expansion: the "lift" of one row times the opposite 2×2 minor.
int lifted_term(double px, double py, double qx, double qy, double rx, double ry, double* out) {
    // minor = qx * ry - rx * qy
    double m1, m0, n1, n0;
    two_product(qx, ry, m1, m0);
    two_product(rx, qy, n1, n0);
    double minor[4];
    two_two_diff(m1, m0, n1, n0, minor);
    double xt[8], xx[16], yt[8], yy[16];
    const int xtn = scale_expansion(4, minor, px, xt);
    const int xxn = scale_expansion(xtn, xt, px, xx);
    const int ytn = scale_expansion(4, minor, py, yt);
    const int yyn = scale_expansion(ytn, yt, py, yy);
    return expansion_sum(xxn, xx, yyn, yy, out);
}

double incircle_adapt(double ax, double ay, double bx, double by, double cx, double cy, double dx, double dy,
                      double permanent) {
    const double adx = ax - dx;
    const double bdx = bx - dx;
    const double cdx = cx - dx;
    const double ady = ay - dy;
    const double bdy = by - dy;
    const double cdy = cy - dy;

    double adet[32], bdet[32], cdet[32], abdet[64], fin[96];
    const int alen = lifted_term(adx, ady, bdx, bdy, cdx, cdy, adet);
    const int blen = lifted_term(bdx, bdy, cdx, cdy, adx, ady, bdet);
    const int clen = lifted_term(cdx, cdy, adx, ady, bdx, bdy, cdet);
    const int ablen = expansion_sum(alen, adet, blen, bdet, abdet);
    const int finlen = expansion_sum(ablen, abdet, clen, cdet, fin);

    double det = estimate(finlen, fin);
    double errbound = kIccErrBoundB * permanent;
    if (det >= errbound || -det >= errbound) return det;

    const double adxtail = two_diff_tail(ax, dx, adx);
    const double adytail = two_diff_tail(ay, dy, ady);
    const double bdxtail = two_diff_tail(bx, dx, bdx);
    const double bdytail = two_diff_tail(by, dy, bdy);
    const double cdxtail = two_diff_tail(cx, dx, cdx);
    const double cdytail = two_diff_tail(cy, dy, cdy);
    if (adxtail == 0.0 && bdxtail == 0.0 && cdxtail == 0.0 && adytail == 0.0 && bdytail == 0.0 && cdytail == 0.0) {
        return det;
    }

    errbound = kIccErrBoundC * permanent + kResultErrBound * std::fabs(det);
    det += ((adx * adx + ady * ady) * ((bdx * cdytail + cdy * bdxtail) - (bdy * cdxtail + cdx * bdytail)) +
            2.0 * (adx * adxtail + ady * adytail) * (bdx * cdy - bdy * cdx)) +
           ((bdx * bdx + bdy * bdy) * ((cdx * adytail + ady * cdxtail) - (cdy * adxtail + adx * cdytail)) +
            2.0 * (bdx * bdxtail + bdy * bdytail) * (cdx * ady - cdy * adx)) +
           ((cdx * cdx + cdy * cdy) * ((adx * bdytail + bdy * adxtail) - (ady * bdxtail + bdx * adytail)) +
            2.0 * (cdx * cdxtail + cdy * cdytail) * (adx * bdy - ady * bdx));
    if (det >= errbound || -det >= errbound) return det;

    return detail::incircle_exact(ax, ay, bx, by, cx, cy, dx, dy);
}

}  // namespace

namespace detail {

double orient2d_exact(double ax, double ay, double bx, double by, double cx, double cy) {
    // ax*by - ay*bx + bx*cy - by*cx + cx*ay - cy*ax, each pair exact.
    double t[3][4];
    double p1, p0, q1, q0;
    two_product(ax, by, p1, p0);
    two_product(ay, bx, q1, q0);
    two_two_diff(p1, p0, q1, q0, t[0]);
    two_product(bx, cy, p1, p0);
    two_product(by, cx, q1, q0);
    two_two_diff(p1, p0, q1, q0, t[1]);
    two_product(cx, ay, p1, p0);
    two_product(cy, ax, q1, q0);
    two_two_diff(p1, p0, q1, q0, t[2]);
    double s[8], r[12];
    const int sn = expansion_sum(4, t[0], 4, t[1], s);
    const int rn = expansion_sum(sn, s, 4, t[2], r);
    return r[rn - 1];
}

double incircle_exact(double ax, double ay, double bx, double by, double cx, double cy, double dx, double dy) {
    // Exact differences (two components each), then the lifted determinant
    // with every product and sum carried out exactly.
    const Exp<2> adx = exact_diff(ax, dx), ady = exact_diff(ay, dy);
    const Exp<2> bdx = exact_diff(bx, dx), bdy = exact_diff(by, dy);
    const Exp<2> cdx = exact_diff(cx, dx), cdy = exact_diff(cy, dy);

    auto minor = [](const Exp<2>& px, const Exp<2>& py, const Exp<2>& qx, const Exp<2>& qy) {
        Exp<8> a = mul(px, qy);
        Exp<8> b = mul(qx, py);
        for (int i = 0; i < b.n; ++i) b.v[i] = -b.v[i];
        return add(a, b);  // px * qy - qx * py
    };
    auto lift = [](const Exp<2>& px, const Exp<2>& py) { return add(mul(px, px), mul(py, py)); };

    const Exp<16> bc = minor(bdx, bdy, cdx, cdy);
    const Exp<16> ca = minor(cdx, cdy, adx, ady);
    const Exp<16> ab = minor(adx, ady, bdx, bdy);
    const Exp<512> ta = mul(lift(adx, ady), bc);
    const Exp<512> tb = mul(lift(bdx, bdy), ca);
    const Exp<512> tc = mul(lift(cdx, cdy), ab);
    const Exp<1024> tab = add(ta, tb);
    const Exp<1536> all = add(tab, tc);
    return leading(all);
}

}  // namespace detail

double orient2d(double ax, double ay, double bx, double by, double cx, double cy) {
    const double detleft = (ax - cx) * (by - cy);
    const double detright = (ay - cy) * (bx - cx);
    const double det = detleft - detright;
    double detsum;
    if (detleft > 0.0) {
        if (detright <= 0.0) return det;
        detsum = detleft + detright;
    } else if (detleft < 0.0) {
        if (detright >= 0.0) return det;
        detsum = -detleft - detright;
    } else {
        return det;
    }
    const double errbound = kCcwErrBoundA * detsum;
    if (det >= errbound || -det >= errbound) return det;
    return orient2d_adapt(ax, ay, bx, by, cx, cy, detsum);
}

double incircle(double ax, double ay, double bx, double by, double cx, double cy, double dx, double dy) {
    const double adx = ax - dx;
    const double bdx = bx - dx;
    const double cdx = cx - dx;
    const double ady = ay - dy;
    const double bdy = by - dy;
    const double cdy = cy - dy;

    const double bdxcdy = bdx * cdy;
    const double cdxbdy = cdx * bdy;
    const double alift = adx * adx + ady * ady;
    const double cdxady = cdx * ady;
    const double adxcdy = adx * cdy;
    const double blift = bdx * bdx + bdy * bdy;
    const double adxbdy = adx * bdy;
    const double bdxady = bdx * ady;
    const double clift = cdx * cdx + cdy * cdy;

    const double det = alift * (bdxcdy - cdxbdy) + blift * (cdxady - adxcdy) + clift * (adxbdy - bdxady);
    const double permanent = (std::fabs(bdxcdy) + std::fabs(cdxbdy)) * alift +
                             (std::fabs(cdxady) + std::fabs(adxcdy)) * blift +
                             (std::fabs(adxbdy) + std::fabs(bdxady)) * clift;
    const double errbound = kIccErrBoundA * permanent;
    if (det > errbound || -det > errbound) return det;
    return incircle_adapt(ax, ay, bx, by, cx, cy, dx, dy, permanent);
}

}  // namespace vz::geometry
