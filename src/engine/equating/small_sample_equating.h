// The equating methods that need the least data, for studies of small samples: identity equating,
// circle-arc equating (Livingston and Kim, 2009, "The circle-arc method for equating in small
// samples", Journal of Educational Measurement 46, 330-343; their simplified method) and synthetic
// linking (a weighted average of linear and identity equating; Kim, von Davier and Haberman, 2008,
// Journal of Educational Measurement 45, 325-342).
//
// All three work on the raw-score scales 0..Kx-1 (new form) and 0..Ky-1 (old form). Their common
// "identity" is the line through the low points (0, 0) and the high points (Kx-1, Ky-1) of the two
// scales, which is e(x) = x when the forms have the same length. Each writes Kx equated scores on
// the old form's raw scale, and writes nothing when it fails.
#pragma once

#include <span>

namespace eqsim {

// Identity equating: equated[x] = (Ky-1) x / (Kx-1), correctly rounded, so the ends are 0 and
// Ky-1 exactly and forms of equal length give x exactly. It depends on no sample. False when a
// form has fewer than two score points or equated holds fewer than kx values.
bool identity_equate(int kx, int ky, std::span<double> equated);

// Circle-arc equating of two sample distributions (relative frequencies of scores 0..Kx-1 and
// 0..Ky-1): the identity line plus the arc of the circle through the low point, the middle point
// (mean of the new sample, mean of the old sample) and the high point. The ends are the identity's
// ends exactly. When the middle point lies on the identity line the result is the identity.
//
// False when no arc through the three points is a function of x that reaches the ends: the middle
// point lies outside the semicircle over the identity line (its distance d from the line has
// d^2 > (Kx-1 - mu_X) mu_X), or the new sample's mean mu_X is not strictly between 0 and Kx-1
// while d is not 0. False as well when a form has fewer than two score points or a span is short.
bool circle_arc_equate(std::span<const double> new_dist, std::span<const double> old_dist,
                       std::span<double> equated);

// Synthetic linking with weight w in [0, 1]: equated[x] = w linear(x) + (1 - w) identity(x), where
// linear is linear_equate of the same samples. w = 1 gives linear equating's scores exactly and
// w = 0 the identity's, without linear equating (so a sample without spread does not fail it).
// False when linear equating fails (for w > 0), when w is not in [0, 1], or under the identity's
// conditions.
bool synthetic_equate(std::span<const double> new_dist, std::span<const double> old_dist,
                      double weight, std::span<double> equated);

}  // namespace eqsim
