// The cubic smoothing spline of C. H. Reinsch, "Smoothing by spline functions", Numerische
// Mathematik 10 (1967) 177-183.
//
// Among all functions g with square-integrable second derivative whose weighted residuals stay
// within a level S,
//
//     sum_i ((g(x_i) - y_i) / dy_i)^2 <= S,
//
// the one with least integral of g''^2 is a natural cubic spline. With a Lagrange parameter p its
// second derivatives 2u solve the pentadiagonal system
//
//     (p Q' D^2 Q + T) u = Q' y
//
// where Q holds the second divided differences, T the tridiagonal of the curvature integral and
// D = diag(dy). The residuals are y - a = p D^2 Q u, and p is raised from 0 (interpolation) by
// Newton's method until F(p) = ||D^-1 (y - a)||^2 = p^2 u' Q' D^2 Q u reaches S, or stops
// growing.
//
// Symbols of the paper and names here:
//   x, y, dy          the points (SplinePoints), indices lo..hi
//   S                 level = (hi - lo) * smoothing
//   Q' D (bands)      r2, r1, r: sub-, main and super-diagonal entries dy_{i-1}/h_{i-1},
//                     -dy_i/h_{i-1} - dy_i/h_i, dy_{i+1}/h_i
//   T (bands)         t (main, 2(h_{i-1} + h_i)/3) and t1 (off-diagonal, h_i/3)
//   Q' D^2 Q (bands)  b, c, d until the coefficients are written
//   Q' y              a until the coefficients are written
//   u, v              u (half the second derivatives) and v = D^2 Q u (the weighted residuals)
//   e                 u' Q' D^2 Q u, so that F(p) = p^2 e (f2 here)
//   f, g, h           scratch of each step below, named as in the paper
// The factorisation overwrites r, r1 and r2 with the Cholesky factors of the pentadiagonal
// system, and the Newton step reuses r for its intermediate values, as in the paper.
#include "engine/smoothing/spline.h"

#include <cmath>

namespace eqsim {

namespace {

// Passes of the iteration on p beyond which the fit settles for the p it has. Converging data
// needs a handful; the cap only stops data that would never satisfy the exit tests.
constexpr int kMaxPasses = 1000;

// Work arrays of one fit, over lo-1..hi+1.
struct FitWork {
    DVector r, r1, r2, t, t1, u, v;
};

bool take_fit_work(int lo, int hi, FitWork& w) {
    for (DVector* v : {&w.r, &w.r1, &w.r2, &w.t, &w.t1, &w.u, &w.v}) {
        *v = dvector(lo - 1, hi + 1);
        if (v->empty()) {
            return false;
        }
    }
    return true;
}

// The recurrences reach past both ends; these entries stay 0 so that they add nothing there.
void clear_boundary_entries(int lo, int hi, FitWork& w) {
    w.r[lo - 1] = 0.0;
    w.r[lo] = 0.0;
    w.r1[hi] = 0.0;
    w.r2[hi] = 0.0;
    w.r2[hi + 1] = 0.0;
    w.u[lo - 1] = 0.0;
    w.u[lo] = 0.0;
    w.u[hi] = 0.0;
    w.u[hi + 1] = 0.0;
}

// Second divided differences into a; the bands of Q' D into r2, r1, r; the bands of T into t
// and t1.
void set_up_bands(const SplinePoints& p, DVector& a, FitWork& w) {
    const int m1 = p.lo + 1;
    const int m2 = p.hi - 1;
    const double third = 1.0 / 3.0;
    double h = p.x[m1] - p.x[p.lo];
    double f = (p.y[m1] - p.y[p.lo]) / h;
    for (int i = m1; i <= m2; ++i) {
        const double g = h;
        h = p.x[i + 1] - p.x[i];
        const double e = f;
        f = (p.y[i + 1] - p.y[i]) / h;
        a[i] = f - e;
        w.t[i] = ((g + h) * 2.0) * third;
        w.t1[i] = h * third;
        w.r2[i] = p.dy[i - 1] / g;
        w.r[i] = p.dy[i + 1] / h;
        w.r1[i] = -p.dy[i] / g - p.dy[i] / h;
    }
}

// The three bands of Q' D^2 Q, kept in b, c and d.
void fill_penalty_bands(int lo, int hi, const FitWork& w, DVector& b, DVector& c, DVector& d) {
    for (int i = lo + 1; i <= hi - 1; ++i) {
        b[i] = (w.r[i] * w.r[i] + w.r1[i] * w.r1[i]) + w.r2[i] * w.r2[i];
        c[i] = w.r[i] * w.r1[i + 1] + w.r1[i] * w.r2[i + 1];
        d[i] = w.r[i] * w.r2[i + 2];
    }
}

// Factorises the pentadiagonal system for p and solves it for u. The recurrences start on the
// cleared entries r[lo-1] and r[lo], so the first step's f and g multiply zeros.
void solve_for_u(int lo, int hi, double p, const DVector& a, const DVector& b, const DVector& c,
                 const DVector& d, FitWork& w) {
    const int m1 = lo + 1;
    const int m2 = hi - 1;
    double f = 0.0;
    double g = 0.0;
    double h = 0.0;
    for (int i = m1; i <= m2; ++i) {
        w.r1[i - 1] = f * w.r[i - 1];
        w.r2[i - 2] = g * w.r[i - 2];
        w.r[i] = 1.0 / (((p * b[i] + w.t[i]) - f * w.r1[i - 1]) - g * w.r2[i - 2]);
        w.u[i] = (a[i] - w.r1[i - 1] * w.u[i - 1]) - w.r2[i - 2] * w.u[i - 2];
        f = (p * c[i] + w.t1[i]) - h * w.r1[i - 1];
        g = h;
        h = d[i] * p;
    }
    for (int i = m2; i >= m1; --i) {
        w.u[i] = (w.r[i] * w.u[i] - w.r1[i] * w.u[i + 1]) - w.r2[i] * w.u[i + 2];
    }
}

// The weighted residuals into v; returns e = u' Q' D^2 Q u.
double sum_residuals(const SplinePoints& p, FitWork& w) {
    double e = 0.0;
    double h = 0.0;
    for (int i = p.lo; i <= p.hi - 1; ++i) {
        const double g = h;
        h = (w.u[i + 1] - w.u[i]) / (p.x[i + 1] - p.x[i]);
        w.v[i] = ((h - g) * p.dy[i]) * p.dy[i];
        e = e + w.v[i] * (h - g);
    }
    w.v[p.hi] = (-h * p.dy[p.hi]) * p.dy[p.hi];
    e = e - w.v[p.hi] * h;
    return e;
}

// The derivative term f of Newton's step on F(p); r is reused for the intermediate values.
double newton_derivative(const SplinePoints& p, FitWork& w) {
    const int m1 = p.lo + 1;
    double f = 0.0;
    double h = (w.v[m1] - w.v[p.lo]) / (p.x[m1] - p.x[p.lo]);
    for (int i = m1; i <= p.hi - 1; ++i) {
        double g = h;
        h = (w.v[i + 1] - w.v[i]) / (p.x[i + 1] - p.x[i]);
        g = ((h - g) - w.r1[i - 1] * w.r[i - 1]) - w.r2[i - 2] * w.r[i - 2];
        f = f + (g * w.r[i]) * g;
        w.r[i] = g;
    }
    return f;
}

// Raises p by Newton's method until F(p) reaches the level or stops growing. Leaves u and v from
// the last completed pass and returns p as used in it.
double iterate_on_p(const SplinePoints& points, double level, const DVector& a, const DVector& b,
                    const DVector& c, const DVector& d, FitWork& w) {
    double p = 0.0;
    double f2 = -level;
    for (int pass = 1;; ++pass) {
        solve_for_u(points.lo, points.hi, p, a, b, c, d, w);
        const double e = sum_residuals(points, w);
        const double previous_f2 = f2;
        f2 = (e * p) * p;
        if (f2 >= level || f2 <= previous_f2) {
            return p;
        }
        // A single point has no interval to correct over, and non-finite values or a pass
        // count this high mean the level will never be met.
        const bool finite = std::isfinite(p) && std::isfinite(e) && std::isfinite(f2);
        if (points.hi <= points.lo || !finite || pass >= kMaxPasses) {
            return p;
        }
        const double f = newton_derivative(points, w);
        const double h = e - p * f;
        if (h <= 0.0) {
            return p;
        }
        p = p + (level - f2) / ((std::sqrt(level / e) + p) * h);
    }
}

void write_coefficients(const SplinePoints& p, const FitWork& w, double lagrange,
                        CubicPieces& out) {
    for (int i = p.lo; i <= p.hi; ++i) {
        out.a[i] = p.y[i] - lagrange * w.v[i];
        out.c[i] = w.u[i];
    }
    for (int i = p.lo; i <= p.hi - 1; ++i) {
        const double h = p.x[i + 1] - p.x[i];
        out.d[i] = (out.c[i + 1] - out.c[i]) / (3.0 * h);
        out.b[i] = (out.a[i + 1] - out.a[i]) / h - (h * out.d[i] + out.c[i]) * h;
    }
}

}  // namespace

CubicPieces cubic_pieces(int low, int high) noexcept {
    return CubicPieces{dvector(low, high), dvector(low, high), dvector(low, high),
                       dvector(low, high)};
}

bool holds_storage(const CubicPieces& pieces) noexcept {
    return !pieces.a.empty() && !pieces.b.empty() && !pieces.c.empty() && !pieces.d.empty();
}

bool fit_smoothing_spline(const SplinePoints& points, double smoothing, CubicPieces& out) noexcept {
    const int lo = points.lo;
    const int hi = points.hi;
    if (hi < lo) {
        return true;
    }
    FitWork work;
    if (!take_fit_work(lo, hi, work)) {
        return false;
    }
    // The level counts intervals, not points.
    const double level = static_cast<double>(hi - lo) * smoothing;
    clear_boundary_entries(lo, hi, work);
    if (hi > lo) {
        set_up_bands(points, out.a, work);
    }
    fill_penalty_bands(lo, hi, work, out.b, out.c, out.d);
    const double p = iterate_on_p(points, level, out.a, out.b, out.c, out.d, work);
    write_coefficients(points, work, p, out);
    return true;
}

double cubic_segment_value(double a, double b, double c, double d, double target,
                           double t) noexcept {
    return (((a - target) + b * t) + (c * t) * t) + ((d * t) * t) * t;
}

double cubic_segment_slope(double b, double c, double d, double t) noexcept {
    return (b + (2.0 * c) * t) + ((3.0 * d) * t) * t;
}

double invert_cubic_segment(double a, double b, double c, double d, double target,
                            double start) noexcept {
    double t = start;
    for (int k = 0;; ++k) {
        const double slope = cubic_segment_slope(b, c, d, t);
        const double t_new =
            slope != 0.0 ? t - cubic_segment_value(a, b, c, d, target, t) / slope : t;
        if (std::fabs(t_new - t) < 0.00001 || k > 20) {
            return t_new;
        }
        t = t_new;
    }
}

}  // namespace eqsim
