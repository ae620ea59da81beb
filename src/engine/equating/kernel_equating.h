// Kernel equating with a Gaussian kernel (A. A. von Davier, P. W. Holland and D. T. Thayer, "The
// Kernel Method of Test Equating", Springer, 2004): each form's log-linear pre-smoothed
// distribution is continuized by a Gaussian kernel whose bandwidth minimises the penalty PEN1,
// and the new form's continuized distribution function is composed with the inverse of the old
// form's. Owns the continuization, PEN1, the pinned bandwidth search and the inversion.
//
// The quantities are defined here down to the order of their floating-point operations, so that
// the fast evaluation in kernel_equating.cpp can be checked bit for bit against a plain one.
// For a distribution r_0..r_{K-1} over the scores 0..K-1 and a bandwidth h:
//   mu = sum_j j r_j, sigma^2 = sum_j ((j - mu)(j - mu)) r_j      (sums from j = 0 up)
//   a = sqrt(sigma^2 / (sigma^2 + h h)), shift = (1 - a) mu, scale = a h,
//   inverse_scale = 1 / scale, centre_j = a j + shift,
//   z_j(x) = (x - centre_j) inverse_scale,
//   F_h(x) = sum_j r_j Phi(z_j(x))     the lower tail, normal_cdf (normal.h); j from 0 up
//   U_h(x) = sum_j r_j Phi(-z_j(x))    the upper tail 1 - F_h(x) to full relative accuracy;
//                                      j from K-1 down
//   f_h(x) = (sum_j r_j e^(-z_j(x)^2/2)) (inverse_scale kInvSqrtTwoPi)     gaussian (normal.h);
//            j outward from the kernel nearest x: n, n+1, ..., K-1, then n-1, ..., 0, where,
//            m being the first j with z_j(x) <= 0, n is m, or m-1 when z_(m-1)(x) <= -z_m(x), or
//            K-1 when there is no such j
//   PEN1(h) = sum_k d_k d_k, d_k = r_k - f_h(k)    (k from 0 up)
// Every sum starts at 0.0 and adds its terms one at a time in the order given. Each sum runs
// from its largest terms toward the tail where the terms fall off, so that the evaluation can stop
// where the rest could not change it (see kernel_equating.cpp).
// The continuized distribution keeps mu and sigma^2: sum_j r_j centre_j = mu and
// sum_j r_j (centre_j - mu)^2 + (a h)^2 = a^2 sigma^2 + a^2 h^2 = sigma^2.
#pragma once

#include <span>

#include "engine/equating/sample_pair.h"
#include "engine/numeric/normal.h"

namespace eqsim {

// Kernel-equates a pair of samples: each form is pre-smoothed exactly as equate_presmoothed does
// (observed counts size * relative frequency, degrees capped at K - 1, a fit that did not converge
// used as it stands), its fitted frequencies divided by their sum; each form's bandwidth is
// chosen by select_bandwidth; then equated[x] = G^-1(F(x)) for x = 0..Kx-1 by
// equate_continuized. False, writing nothing, when a degree is below 1, equated is too short, a
// fit produced no fitted frequencies, a fitted distribution has no spread, or the bandwidth
// search or the inversion meets a non-finite value.
bool kernel_equate(const SamplePair& samples, int degree_x, int degree_y,
                   std::span<double> equated);

// One form's distribution continuized at a bandwidth: the kernel of score j is the normal
// density with mean a j + shift and standard deviation scale.
struct Continuized {
    std::span<const double> probabilities;  // r_j, summing to 1
    double mean = 0.0;                      // mu
    double variance = 0.0;                  // sigma^2
    double bandwidth = 0.0;                 // h
    double a = 0.0;
    double shift = 0.0;
    double scale = 0.0;
    double inverse_scale = 0.0;
    int probability_exponent = 0;  // every r_j is below 2^probability_exponent
};

// Continuizes probabilities (r_j over scores 0..K-1) at bandwidth h, by the definitions above.
// False when there are no probabilities, one is not in [0, 1], h is not positive and finite, or
// sigma^2 is not positive and finite.
bool continuize(std::span<const double> probabilities, double h, Continuized& out);

// F_h(x), U_h(x) = 1 - F_h(x) and f_h(x), by the definitions above.
double continuized_cdf(const Continuized& c, double x);
double continuized_upper_tail(const Continuized& c, double x);
double continuized_density(const Continuized& c, double x);

// PEN1(h) for probabilities over scores 0..K-1, using centres (at least K doubles) as workspace.
// Once the partial sum over k exceeds stop_above the sum stops and that partial sum, which is
// then above stop_above and at most PEN1(h), is returned; a result at or below stop_above is
// PEN1(h) itself. NaN when continuize would fail.
double pen1(std::span<const double> probabilities, double h, std::span<double> centres,
            double stop_above);
// PEN1(h) in full, with its own workspace.
double pen1(std::span<const double> probabilities, double h);

// The bandwidth search is pinned so that results are reproducible: PEN1 at the grid points
// h_i = 0.01 e^(i (log 2000 / 199)), i = 0..199 (0.01 to 20, by cr_exp and cr_log), the
// smallest taken (the lowest i on a tie); then golden-section search on [h_(i-1), h_(i+1)]
// (clamped to the grid's ends), the left point kept on a tie, until the bracket is narrower than
// 1e-10 times its midpoint, which is the bandwidth.
inline constexpr int kBandwidthGridPoints = 200;
double bandwidth_grid_point(int i);
// Inverse of the golden ratio, (sqrt 5 - 1)/2 rounded.
inline constexpr double kInverseGoldenRatio = 0x1.3c6ef372fe95p-1;
inline constexpr double kBandwidthTolerance = 1e-10;

// The bandwidth of probabilities by the search above. False when the distribution cannot be
// continuized (continuize) or PEN1 overflows at every grid point; an overflowing PEN1 elsewhere
// only loses the comparison.
bool select_bandwidth(std::span<const double> probabilities, double& h);

// equated[x] = G^-1(F(x)), x = 0..Kx-1, F the new form's continuized distribution function and
// G the old form's. The equation is set on the smaller tail, so that a value of F within rounding
// of 0 or 1 keeps its relative accuracy: G(y) = F(x) when F(x) <= 1/2, otherwise the old form's
// upper tail at y equals the new form's upper tail U(x). Each equation is solved by Newton's
// method safeguarded by bisection (a step leaving the bracket, or not halving the step before
// last, is replaced by bisection), until a Newton step would move less than 1e-11 (the error
// left is of the order of its square) or the bracket holding the root is narrower than 1e-10.
// The score nearest the new form's mean starts from the linear equating of the two means and
// standard deviations; the next ones outward from e of their neighbour plus that line's slope,
// and the rest from the straight line through their two inner neighbours. The bracket starts 40
// kernel standard deviations beyond the old form's outermost kernel centres, where its tails are
// exactly 0; a tail probability of the new form that underflows to 0 therefore equates to that
// end of the bracket. False, writing nothing, when equated is too short or a non-finite value
// appears.
bool equate_continuized(const Continuized& x, const Continuized& y, std::span<double> equated);

}  // namespace eqsim
