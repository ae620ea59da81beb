#include "engine/equating/small_sample_equating.h"

#include <cmath>
#include <cstddef>

#include "engine/equating/linear_equating.h"

namespace eqsim {

namespace {

// Both forms need two score points for a line through their ends, and equated must hold the new
// form's scores.
bool forms_fit(std::size_t kx, std::size_t ky, std::span<double> equated) {
    return kx >= 2 && ky >= 2 && equated.size() >= kx;
}

// The identity line at a new-form score x: y_min + (y_max - y_min) (x - x_min) / (x_max - x_min)
// with x_min = y_min = 0. The product of two whole numbers is exact, so a score's value is
// correctly rounded and the ends come out exactly.
double identity_at(double x, double hi_x, double hi_y) {
    return (hi_y * x) / hi_x;
}

void write_identity(int kx, int ky, std::span<double> equated) {
    const double hi_x = static_cast<double>(kx - 1);
    const double hi_y = static_cast<double>(ky - 1);
    for (int i = 0; i < kx; ++i) {
        equated[i] = identity_at(static_cast<double>(i), hi_x, hi_y);
    }
}

}  // namespace

bool identity_equate(int kx, int ky, std::span<double> equated) {
    if (kx < 0 || ky < 0 ||
        !forms_fit(static_cast<std::size_t>(kx), static_cast<std::size_t>(ky), equated)) {
        return false;
    }
    write_identity(kx, ky, equated);
    return true;
}

// Livingston and Kim's simplified circle-arc method. Their symbols and ours:
//   x_min = 0, x_max = hi_x = Kx-1, y_min = 0, y_max = hi_y = Ky-1 (the two scales' ends)
//   mu_X, mu_Y = mx.mean, my.mean (the sample means); l(x) the identity line; d = mu_Y - l(mu_X)
//   x_c = x_max / 2, y_c, r: the circle through (x_min, 0), (mu_X, d), (x_max, 0)
// and e(x) = l(x) + y_c + sign(d) sqrt(r^2 - (x - x_c)^2).
//
// That form subtracts two numbers of size about |y_c|, which grows without bound as d nears 0
// (two samples with equal means give a d of one rounding error, and with it a y_c near 1e17), so
// it loses every digit just where the arc should be nearly the line. With
//   n(x) = (x_max - x)(x - x_min) = (x_max - x_c)^2 - (x - x_c)^2,   q = n(mu_X),
// the paper's y_c is (d^2 - q) / (2d) and r^2 - (x - x_c)^2 = y_c^2 + n(x). When the middle point
// is inside the semicircle (c = q - d^2 >= 0), y_c is 0 or of the sign opposite to d, and
// multiplying the arc's height above l by its conjugate gives the same height as
//   g(x) = 2 d n(x) / (c + sqrt(c^2 + 4 d^2 n(x))),
// a sum of terms of one sign that tends to d n(x) / q as d goes to 0 and never takes the root of
// a negative number. g(mu_X) = d: the arc passes through the middle point.
bool circle_arc_equate(std::span<const double> new_dist, std::span<const double> old_dist,
                       std::span<double> equated) {
    if (!forms_fit(new_dist.size(), old_dist.size(), equated)) {
        return false;
    }
    const int kx = static_cast<int>(new_dist.size());
    const int ky = static_cast<int>(old_dist.size());
    Moments mx;
    Moments my;
    compute_moments(new_dist, mx);
    compute_moments(old_dist, my);
    const double hi_x = static_cast<double>(kx - 1);
    const double hi_y = static_cast<double>(ky - 1);
    // On forms of equal length l(x) is x itself: samples with equal means give d = 0 exactly.
    const double line_at_mean = kx == ky ? mx.mean : identity_at(mx.mean, hi_x, hi_y);
    const double d = my.mean - line_at_mean;
    if (d == 0.0) {
        write_identity(kx, ky, equated);
        return true;
    }
    // Written so that a mean that is not a number fails too.
    if (!(mx.mean > 0.0 && mx.mean < hi_x)) {
        return false;
    }
    const double q = (hi_x - mx.mean) * mx.mean;
    const double c = q - d * d;
    if (!(c >= 0.0)) {
        return false;  // the middle point is beyond the semicircle
    }
    const double c_squared = c * c;
    const double two_d = 2.0 * d;
    const double four_d_squared = 4.0 * (d * d);
    // The ends carry no sampling error: they are set, not computed (g has 0/0 there when c = 0).
    equated[0] = 0.0;
    for (int i = 1; i < kx - 1; ++i) {
        const double x = static_cast<double>(i);
        const double n = (hi_x - x) * x;
        const double height = (two_d * n) / (c + std::sqrt(c_squared + four_d_squared * n));
        equated[i] = identity_at(x, hi_x, hi_y) + height;
    }
    equated[kx - 1] = hi_y;
    return true;
}

bool synthetic_equate(std::span<const double> new_dist, std::span<const double> old_dist,
                      double weight, std::span<double> equated) {
    if (!(weight >= 0.0 && weight <= 1.0) ||
        !forms_fit(new_dist.size(), old_dist.size(), equated)) {
        return false;
    }
    const int kx = static_cast<int>(new_dist.size());
    const int ky = static_cast<int>(old_dist.size());
    if (weight == 0.0) {
        write_identity(kx, ky, equated);
        return true;
    }
    if (!linear_equate(new_dist, old_dist, false, equated)) {
        return false;
    }
    const double hi_x = static_cast<double>(kx - 1);
    const double hi_y = static_cast<double>(ky - 1);
    const double rest = 1.0 - weight;
    for (int i = 0; i < kx; ++i) {
        equated[i] = weight * equated[i] + rest * identity_at(static_cast<double>(i), hi_x, hi_y);
    }
    return true;
}

}  // namespace eqsim
