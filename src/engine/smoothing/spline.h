// The cubic smoothing spline laid through equated scores: among all curves whose weighted squared
// residuals stay within the smoothing level, the natural cubic spline with the least integrated
// squared second derivative. Also owns the evaluation and inversion of one cubic piece.
#pragma once

#include "engine/numeric/dvector.h"

namespace eqsim {

// The points a spline is fitted through: x strictly increasing, y the values, dy >= 0 the
// standard deviation of each value (0 pins the point), all over lo..hi.
struct SplinePoints {
    int lo;
    int hi;
    const DVector& x;
    const DVector& y;
    const DVector& dy;
};

// A piecewise cubic: on x[i]..x[i+1] its value is a[i] + b[i]t + c[i]t^2 + d[i]t^3 with
// t = x - x[i].
struct CubicPieces {
    DVector a, b, c, d;
};

// Four vectors over low..high; empty ones when the storage cannot be had.
CubicPieces cubic_pieces(int low, int high) noexcept;

// True when every vector of pieces holds storage.
bool holds_storage(const CubicPieces& pieces) noexcept;

// Fits the points. smoothing is per interval: the residual level allowed is (hi - lo) times it,
// and 0 or below gives the interpolating natural spline. Writes a and c over lo..hi (c is 0 at
// both ends) and b and d over lo..hi-1 of out; nothing outside lo..hi is read or written.
// Non-finite data gives non-finite coefficients, never a hang. An empty range (hi < lo) writes
// nothing. False, writing nothing, when the fit's working storage cannot be had.
bool fit_smoothing_spline(const SplinePoints& points, double smoothing, CubicPieces& out) noexcept;

// The piece a + b t + c t^2 + d t^3 less target.
double cubic_segment_value(double a, double b, double c, double d, double target,
                           double t) noexcept;

// The derivative b + 2c t + 3d t^2 of the piece.
double cubic_segment_slope(double b, double c, double d, double t) noexcept;

// The t at which the piece takes the value target, by Newton's method from start. Makes at most
// 22 corrections and returns the last estimate even when it has not settled; a zero slope keeps
// the current estimate. t is not confined to the piece's interval.
double invert_cubic_segment(double a, double b, double c, double d, double target,
                            double start) noexcept;

}  // namespace eqsim
