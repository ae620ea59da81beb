#include "smoothing/spline.h"

#include <cmath>

namespace eqsim {

namespace {

// Passes of the iteration on p beyond which the fit settles for the p it has. Converging data
// needs a handful; the cap only stops data that would never satisfy the exit tests.
constexpr int kMaxPasses = 1000;

// Work arrays of one fit, over lo-1..hi+1. r, r1 and r2 hold the bands of the residual operator
// and then the factors of the pentadiagonal system; t and t1 the bands of the curvature term;
// u the solution (half the second derivatives); v the weighted residuals.
struct FitWork {
    DVector r, r1, r2, t, t1, u, v;
};

// The scalars the iteration carries from one step to the next. f, g and h are reused as
// temporaries by every step, and each step starts from whatever the one before left.
struct FitScalars {
    double p = 0.0;
    double e = 0.0;
    double f = 0.0;
    double g = 0.0;
    double h = 0.0;
    double f2 = 0.0;
};

FitWork take_fit_work(int lo, int hi) {
    return FitWork{dvector(lo - 1, hi + 1), dvector(lo - 1, hi + 1), dvector(lo - 1, hi + 1),
                   dvector(lo - 1, hi + 1), dvector(lo - 1, hi + 1), dvector(lo - 1, hi + 1),
                   dvector(lo - 1, hi + 1)};
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

// Second divided differences into a; the residual operator's three diagonals into r2, r1, r;
// the curvature bands into t and t1.
void set_up_bands(int lo, int hi, const DVector& x, const DVector& y, const DVector& dy, DVector& a,
                  FitWork& w, FitScalars& s) {
    const int m1 = lo + 1;
    const int m2 = hi - 1;
    const double third = 1.0 / 3.0;
    s.h = x[m1] - x[lo];
    s.f = (y[m1] - y[lo]) / s.h;
    for (int i = m1; i <= m2; ++i) {
        s.g = s.h;
        s.h = x[i + 1] - x[i];
        s.e = s.f;
        s.f = (y[i + 1] - y[i]) / s.h;
        a[i] = s.f - s.e;
        w.t[i] = ((s.g + s.h) * 2.0) * third;
        w.t1[i] = s.h * third;
        w.r2[i] = dy[i - 1] / s.g;
        w.r[i] = dy[i + 1] / s.h;
        w.r1[i] = -dy[i] / s.g - dy[i] / s.h;
    }
}

// The three bands of the residual operator times its transpose, kept in b, c and d.
void fill_penalty_bands(int lo, int hi, const FitWork& w, DVector& b, DVector& c, DVector& d) {
    for (int i = lo + 1; i <= hi - 1; ++i) {
        b[i] = (w.r[i] * w.r[i] + w.r1[i] * w.r1[i]) + w.r2[i] * w.r2[i];
        c[i] = w.r[i] * w.r1[i + 1] + w.r1[i] * w.r2[i + 1];
        d[i] = w.r[i] * w.r2[i + 2];
    }
}

// Factorises the pentadiagonal system for the current p and solves it for u.
void solve_for_u(int lo, int hi, const DVector& a, const DVector& b, const DVector& c,
                 const DVector& d, FitWork& w, FitScalars& s) {
    const int m1 = lo + 1;
    const int m2 = hi - 1;
    for (int i = m1; i <= m2; ++i) {
        w.r1[i - 1] = s.f * w.r[i - 1];
        w.r2[i - 2] = s.g * w.r[i - 2];
        w.r[i] = 1.0 / (((s.p * b[i] + w.t[i]) - s.f * w.r1[i - 1]) - s.g * w.r2[i - 2]);
        w.u[i] = (a[i] - w.r1[i - 1] * w.u[i - 1]) - w.r2[i - 2] * w.u[i - 2];
        s.f = (s.p * c[i] + w.t1[i]) - s.h * w.r1[i - 1];
        s.g = s.h;
        s.h = d[i] * s.p;
    }
    for (int i = m2; i >= m1; --i) {
        w.u[i] = (w.r[i] * w.u[i] - w.r1[i] * w.u[i + 1]) - w.r2[i] * w.u[i + 2];
    }
}

// Weighted residuals into v and their weighted sum of squares into e.
void sum_residuals(int lo, int hi, const DVector& x, const DVector& dy, FitWork& w, FitScalars& s) {
    s.e = 0.0;
    s.h = 0.0;
    for (int i = lo; i <= hi - 1; ++i) {
        s.g = s.h;
        s.h = (w.u[i + 1] - w.u[i]) / (x[i + 1] - x[i]);
        w.v[i] = ((s.h - s.g) * dy[i]) * dy[i];
        s.e = s.e + w.v[i] * (s.h - s.g);
    }
    w.v[hi] = (-s.h * dy[hi]) * dy[hi];
    s.e = s.e - w.v[hi] * s.h;
}

// The derivative term of Newton's step on f2(p), left in f; r is reused for the intermediate
// values.
void newton_derivative(int lo, int hi, const DVector& x, FitWork& w, FitScalars& s) {
    const int m1 = lo + 1;
    s.f = 0.0;
    s.h = (w.v[m1] - w.v[lo]) / (x[m1] - x[lo]);
    for (int i = m1; i <= hi - 1; ++i) {
        s.g = s.h;
        s.h = (w.v[i + 1] - w.v[i]) / (x[i + 1] - x[i]);
        s.g = ((s.h - s.g) - w.r1[i - 1] * w.r[i - 1]) - w.r2[i - 2] * w.r[i - 2];
        s.f = s.f + (s.g * w.r[i]) * s.g;
        w.r[i] = s.g;
    }
}

bool all_finite(const FitScalars& s) {
    return std::isfinite(s.p) && std::isfinite(s.e) && std::isfinite(s.f2);
}

// Raises p by Newton's method until the residual sum reaches the allowed level or stops growing.
// Leaves u and v from the last completed pass and p as used in it.
void iterate_on_p(int lo, int hi, const DVector& x, const DVector& dy, double level,
                  const DVector& a, const DVector& b, const DVector& c, const DVector& d,
                  FitWork& w, FitScalars& s) {
    s.f2 = -level;
    for (int pass = 1;; ++pass) {
        solve_for_u(lo, hi, a, b, c, d, w, s);
        sum_residuals(lo, hi, x, dy, w, s);
        s.g = s.f2;
        s.f2 = (s.e * s.p) * s.p;
        if (s.f2 >= level || s.f2 <= s.g) {
            return;
        }
        // A single point has no interval to correct over, and non-finite values or a pass
        // count this high mean the level will never be met.
        if (hi <= lo || !all_finite(s) || pass >= kMaxPasses) {
            return;
        }
        newton_derivative(lo, hi, x, w, s);
        s.h = s.e - s.p * s.f;
        if (s.h <= 0.0) {
            return;
        }
        s.p = s.p + (level - s.f2) / ((std::sqrt(level / s.e) + s.p) * s.h);
    }
}

void write_coefficients(int lo, int hi, const DVector& x, const DVector& y, const FitWork& w,
                        double p, DVector& a, DVector& b, DVector& c, DVector& d) {
    for (int i = lo; i <= hi; ++i) {
        a[i] = y[i] - p * w.v[i];
        c[i] = w.u[i];
    }
    for (int i = lo; i <= hi - 1; ++i) {
        const double h = x[i + 1] - x[i];
        d[i] = (c[i + 1] - c[i]) / (3.0 * h);
        b[i] = (a[i + 1] - a[i]) / h - (h * d[i] + c[i]) * h;
    }
}

}  // namespace

void fit_smoothing_spline(int lo, int hi, const DVector& x, const DVector& y, const DVector& dy,
                          double smoothing, DVector& a, DVector& b, DVector& c,
                          DVector& d) noexcept {
    if (hi < lo) {
        return;
    }
    // The level counts intervals, not points.
    const double level = static_cast<double>(hi - lo) * smoothing;
    FitWork work = take_fit_work(lo, hi);
    clear_boundary_entries(lo, hi, work);
    FitScalars scalars;
    if (hi > lo) {
        set_up_bands(lo, hi, x, y, dy, a, work, scalars);
    }
    fill_penalty_bands(lo, hi, work, b, c, d);
    iterate_on_p(lo, hi, x, dy, level, a, b, c, d, work, scalars);
    write_coefficients(lo, hi, x, y, work, scalars.p, a, b, c, d);
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
