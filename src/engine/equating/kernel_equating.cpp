// Kernel equating: pre-smoothing, continuization, the bandwidth search and the inversion (the
// definitions are in kernel_equating.h).
//
// Nearly all the time goes into PEN1, some 245 evaluations per form, each of K sums of K
// Gaussians. Its evaluation here gives the same bits as the plain loops of the definitions (the
// tests hold such loops and compare), while forming a fraction of the terms:
//   - The kernel centres are formed once per bandwidth, with the same expression.
//   - Each sum of the definitions runs from its large terms toward a tail where they fall off
//     (f_h outward from the nearest kernel on both sides, F_h and U_h toward their small tail).
//     Along such a tail, once the bound 2^e_r e^(-z^2/2) of every term still to come (e_r the
//     probability_exponent, e^(-z^2/2) decreasing as |z| grows) is below half an ulp of the
//     partial sum S, adding those terms leaves S as it is, rounded to nearest: they are skipped.
//     With S >= 2^e_S (e_S >= -900), a term is at most r_j g (1 + 2^-53), where the computed
//     Gaussian g is within 0.51 ulp, or 2^-1074 when subnormal, of the exact e^(-z^2/2) (and
//     Phi(-|z|) <= e^(-z^2/2)/2 within 1 ulp, or 2^-1074), so z^2 > 2 log 2 (54 + e_r - e_S)
//     keeps it below 2^(e_S - 54) (1 + 2^-51) + 2^-1074 < 2^(e_S - 53), half an ulp of S. The test
//     is made on the computed z^2 against a computed limit raised by 1e-6, which covers both
//     roundings. About nine kernel standard deviations either side of x remain.
//   - The Gaussians are formed two at a time (gaussian_pair, the same bits as gaussian), the
//     second of a pair before it is known to be needed.
//   - PEN1's sum over k stops as soon as it exceeds a value the search already holds: a sum of
//     squares only grows (rounding to nearest is monotone), so the comparison the search makes
//     comes out the same. The grid is visited every tenth point first, so that the best so far
//     is soon near the smallest.
// What remains: on the example (41 scores), about 70 full PEN1 evaluations' worth per form,
// two thirds of them the golden-section search's 45, each some 420 Gaussians (about nine kernel
// standard deviations either side of each score).
#include "engine/equating/kernel_equating.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <limits>
#include <vector>

#include "engine/numeric/correctly_rounded.h"
#include "engine/numeric/storage.h"
#include "engine/smoothing/loglinear.h"

namespace eqsim {

namespace {

constexpr double kInfinity = std::numeric_limits<double>::infinity();
constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
// The inversion's bracket reaches this many kernel standard deviations beyond the outermost
// centres, where Phi is exactly 0 or 1.
constexpr double kKernelReach = 40.0;
// The bandwidth grid is searched every kCoarseStep-th point first.
constexpr int kCoarseStep = 10;
constexpr double kNewtonStepTolerance = 1e-11;
constexpr double kRootBracketTolerance = 1e-10;
// A generous cap: bisection alone takes about 45 steps from the widest bracket to 1e-10, and the
// safeguard keeps Newton's method only while its steps at least halve every two iterations.
constexpr int kMaxInversionSteps = 200;

std::size_t size_of(int count) {
    return static_cast<std::size_t>(count);
}

bool is_finite(double v) {
    return v - v == 0.0;
}

double centre(const Continuized& c, int j) {
    return c.a * static_cast<double>(j) + c.shift;
}

// The largest double below v (v not NaN): a partial sum above it is at least v.
double just_below(double v) {
    return std::nextafter(v, -kInfinity);
}

// The square of z beyond which a term, and every later one on its side, cannot change a
// partial sum (see the opening comment). Remembers the limit of the last exponent of the sum,
// which changes only a few times in a sum.
class NegligibleTerms {
  public:
    explicit NegligibleTerms(int probability_exponent)
        : probability_exponent_(probability_exponent) {}

    double square_limit(double sum) {
        const auto exponent_bits = static_cast<int>(std::bit_cast<std::uint64_t>(sum) >> 52);
        if (exponent_bits != exponent_bits_) {
            exponent_bits_ = exponent_bits;
            const int exponent = exponent_bits - 1023;
            limit_ = exponent < kLowestExponent
                         ? kInfinity
                         : kTwoLn2 * static_cast<double>(54 + probability_exponent_ - exponent) +
                               kLimitMargin;
        }
        return limit_;
    }

  private:
    static constexpr int kLowestExponent = -900;
    static constexpr double kTwoLn2 = 0x1.62e42fefa39efp+0;
    static constexpr double kLimitMargin = 1e-6;
    int probability_exponent_;
    int exponent_bits_ = -1;
    double limit_ = kInfinity;
};

// The first j with z_j(x) <= 0 (K when there is none); z_j falls as j rises.
template <typename ZOf>
int first_not_above(int k_count, ZOf z_of) {
    int lo = 0;
    int hi = k_count;
    while (lo < hi) {
        const int mid = lo + (hi - lo) / 2;
        if (z_of(mid) <= 0.0) {
            hi = mid;
        } else {
            lo = mid + 1;
        }
    }
    return lo;
}

// sum plus the terms r_j e^(-z_j^2/2) of one side of f_h's outward order, j = from, from + step,
// ... within 0..K-1, up to the first negligible one (the first term is not tested when
// test_first is false). The Gaussians are formed two at a time, the second before it is known to
// be needed. Everything is passed by value, so that the sum stays in a register.
template <typename ZOf>
double add_side(std::span<const double> r, int probability_exponent, int from, int step,
                bool test_first, ZOf z_of, double sum) {
    NegligibleTerms negligible(probability_exponent);
    const int end = step > 0 ? static_cast<int>(r.size()) : -1;
    bool test = test_first;
    for (int j = from; j != end; j += 2 * step) {
        const double z0 = z_of(j);
        if (test && z0 * z0 > negligible.square_limit(sum)) {
            return sum;
        }
        test = true;
        const int j1 = j + step;
        if (j1 == end) {
            return sum + r[j] * gaussian(z0);
        }
        const double z1 = z_of(j1);
        double g0 = 0.0;
        double g1 = 0.0;
        gaussian_pair(z0, z1, g0, g1);
        sum += r[j] * g0;
        if (z1 * z1 > negligible.square_limit(sum)) {
            return sum;
        }
        sum += r[j1] * g1;
    }
    return sum;
}

// sum_j r_j e^(-z_j^2/2) in f_h's outward order, given the first j whose z_j <= 0, skipping
// what cannot change it.
template <typename ZOf>
double outward_gaussian_sum(std::span<const double> r, int probability_exponent, int first_below,
                            ZOf z_of) {
    const int k_count = static_cast<int>(r.size());
    int n = first_below;
    if (n == k_count) {
        n = k_count - 1;
    } else if (n > 0 && z_of(n - 1) <= -z_of(n)) {
        n = n - 1;
    }
    const double right = add_side(r, probability_exponent, n, 1, false, z_of, 0.0);
    return add_side(r, probability_exponent, n - 1, -1, true, z_of, right);
}

// c's distribution continuized at bandwidth h, its moments taken from c as they stand.
bool continuize_again(const Continuized& c, double h, Continuized& out) {
    if (!(h > 0.0 && h < kInfinity)) {
        return false;
    }
    Continuized at = c;
    at.bandwidth = h;
    at.a = std::sqrt(c.variance / (c.variance + h * h));
    at.shift = (1.0 - at.a) * c.mean;
    at.scale = at.a * h;
    at.inverse_scale = 1.0 / at.scale;
    if (!(at.inverse_scale < kInfinity)) {
        return false;
    }
    out = at;
    return true;
}

// PEN1 at c's bandwidth (see pen1).
double continuized_pen1(const Continuized& c, std::span<double> centres, double stop_above) {
    const std::span<const double> r = c.probabilities;
    const int k_count = static_cast<int>(r.size());
    for (int j = 0; j < k_count; ++j) {
        centres[j] = centre(c, j);
    }
    const double inverse_scale = c.inverse_scale;
    const double factor = inverse_scale * kInvSqrtTwoPi;
    // z_j(k) falls as j rises and rises with k, so the first j with z_j(k) <= 0 only moves up.
    int first_below = 0;
    double pen = 0.0;
    for (int k = 0; k < k_count; ++k) {
        const double x = static_cast<double>(k);
        const auto z_of = [&](int j) { return (x - centres[j]) * inverse_scale; };
        while (first_below < k_count && z_of(first_below) > 0.0) {
            ++first_below;
        }
        const double sum = outward_gaussian_sum(r, c.probability_exponent, first_below, z_of);
        const double d = r[k] - sum * factor;
        pen += d * d;
        if (pen > stop_above) {
            return pen;
        }
    }
    return pen;
}

// psi(y) = G(y) - p on the lower tail or p - U(y) on the upper one (increasing in y either way)
// and its slope g(y).
void tail_equation(const Continuized& c, bool upper, double p, double y, double& psi,
                   double& slope) {
    psi = upper ? p - continuized_upper_tail(c, y) : continuized_cdf(c, y) - p;
    slope = continuized_density(c, y);
}

// The root of the tail equation for target p by Newton's method safeguarded by bisection
// (W. H. Press et al., "Numerical Recipes", rtsafe), from start.
bool solve_tail_equation(const Continuized& c, bool upper, double p, double start, double& root) {
    const int k = static_cast<int>(c.probabilities.size());
    double lo = centre(c, 0) - kKernelReach * c.scale;
    double hi = centre(c, k - 1) + kKernelReach * c.scale;
    if (p == 0.0) {
        root = upper ? hi : lo;
        return true;
    }
    double y = start > lo && start < hi ? start : 0.5 * (lo + hi);
    double step = hi - lo;
    double step_before = step;
    for (int n = 0; n < kMaxInversionSteps; ++n) {
        double psi = 0.0;
        double slope = 0.0;
        tail_equation(c, upper, p, y, psi, slope);
        if (!is_finite(psi) || !is_finite(slope)) {
            return false;
        }
        if (psi == 0.0) {
            root = y;
            return true;
        }
        if (psi < 0.0) {
            lo = y;
        } else {
            hi = y;
        }
        const double newton_step = psi / slope;
        // Tested before the bracket: a step below half an ulp of y would leave y where it is.
        if (std::fabs(newton_step) < kNewtonStepTolerance) {
            root = y - newton_step;
            return true;
        }
        double next = y - newton_step;
        if (!(next > lo && next < hi && 2.0 * std::fabs(newton_step) <= std::fabs(step_before))) {
            next = 0.5 * (lo + hi);
        }
        step_before = step;
        step = next - y;
        y = next;
        if (hi - lo < kRootBracketTolerance) {
            root = y;
            return true;
        }
    }
    return false;
}

// Pre-smooths one form as equate_presmoothed does and divides the fitted frequencies by their
// sum. False when the fit produced no fitted frequencies or their sum is not positive and finite.
bool presmoothed_probabilities(std::span<const double> relative, double size, int degree,
                               std::span<const double> scores, std::span<double> observed,
                               std::span<double> coefficients, std::span<double> probabilities) {
    const int k = static_cast<int>(relative.size());
    for (int i = 0; i < k; ++i) {
        observed[i] = size * relative[i];
    }
    LogLinearOutcome outcome;
    if (!fit_loglinear(degree, scores, observed.first(relative.size()), probabilities, coefficients,
                       outcome)) {
        return false;
    }
    double sum = 0.0;
    for (int i = 0; i < k; ++i) {
        sum += probabilities[i];
    }
    if (!(sum > 0.0 && sum < kInfinity)) {
        return false;
    }
    for (int i = 0; i < k; ++i) {
        probabilities[i] /= sum;
    }
    return true;
}

}  // namespace

bool continuize(std::span<const double> probabilities, double h, Continuized& out) {
    if (probabilities.empty()) {
        return false;
    }
    double largest = 0.0;
    for (const double r : probabilities) {
        if (!(r >= 0.0 && r <= 1.0)) {
            return false;
        }
        largest = std::max(largest, r);
    }
    Continuized c;
    c.probabilities = probabilities;
    for (std::size_t j = 0; j < probabilities.size(); ++j) {
        c.mean += static_cast<double>(j) * probabilities[j];
    }
    for (std::size_t j = 0; j < probabilities.size(); ++j) {
        const double d = static_cast<double>(j) - c.mean;
        c.variance += (d * d) * probabilities[j];
    }
    if (!(c.variance > 0.0 && c.variance < kInfinity)) {
        return false;
    }
    // largest < 2^(e + 1) for largest in [2^e, 2^(e + 1)); a subnormal largest reads as 2^-1022.
    c.probability_exponent =
        std::max(static_cast<int>(std::bit_cast<std::uint64_t>(largest) >> 52), 1) - 1023 + 1;
    return continuize_again(c, h, out);
}

double continuized_cdf(const Continuized& c, double x) {
    const std::span<const double> r = c.probabilities;
    NegligibleTerms negligible(c.probability_exponent);
    double sum = 0.0;
    for (std::size_t j = 0; j < r.size(); ++j) {
        const double z = (x - centre(c, static_cast<int>(j))) * c.inverse_scale;
        if (z <= 0.0 && z * z > negligible.square_limit(sum)) {
            break;
        }
        sum += r[j] * normal_cdf(z);
    }
    return sum;
}

double continuized_upper_tail(const Continuized& c, double x) {
    const std::span<const double> r = c.probabilities;
    NegligibleTerms negligible(c.probability_exponent);
    double sum = 0.0;
    for (std::size_t j = r.size(); j-- > 0;) {
        const double z = (x - centre(c, static_cast<int>(j))) * c.inverse_scale;
        if (z >= 0.0 && z * z > negligible.square_limit(sum)) {
            break;
        }
        sum += r[j] * normal_cdf(-z);
    }
    return sum;
}

double continuized_density(const Continuized& c, double x) {
    const int k_count = static_cast<int>(c.probabilities.size());
    const auto z_of = [&](int j) { return (x - centre(c, j)) * c.inverse_scale; };
    const double sum = outward_gaussian_sum(c.probabilities, c.probability_exponent,
                                            first_not_above(k_count, z_of), z_of);
    return sum * (c.inverse_scale * kInvSqrtTwoPi);
}

double pen1(std::span<const double> probabilities, double h, std::span<double> centres,
            double stop_above) {
    Continuized c;
    if (!continuize(probabilities, h, c) || centres.size() < probabilities.size()) {
        return kNaN;
    }
    return continuized_pen1(c, centres, stop_above);
}

double pen1(std::span<const double> probabilities, double h) {
    std::vector<double> centres(probabilities.size());
    return pen1(probabilities, h, centres, kInfinity);
}

double bandwidth_grid_point(int i) {
    static const std::array<double, kBandwidthGridPoints> grid = [] {
        std::array<double, kBandwidthGridPoints> g{};
        const double step = cr_log(2000.0) / static_cast<double>(kBandwidthGridPoints - 1);
        for (int n = 0; n < kBandwidthGridPoints; ++n) {
            g[size_of(n)] = 0.01 * cr_exp(static_cast<double>(n) * step);
        }
        return g;
    }();
    return grid[size_of(i)];
}

bool select_bandwidth(std::span<const double> probabilities, double& h) {
    return with_storage([&] {
        Continuized base;
        if (!continuize(probabilities, 1.0, base)) {
            return false;
        }
        std::vector<double> centres(probabilities.size());
        const auto pen = [&](double at, double stop_above) {
            Continuized c;
            return continuize_again(base, at, c) ? continuized_pen1(c, centres, stop_above) : kNaN;
        };
        // The grid, every kCoarseStep-th point (and the last) first and then the rest, so that
        // the best so far is soon near the smallest: a point is taken when below the best, or
        // equal to it at a lower index, so an evaluation may stop once it exceeds the best.
        double best = kInfinity;
        int best_i = -1;
        const auto consider = [&](int i) {
            const double value = pen(bandwidth_grid_point(i), best);
            if (value < best || (value == best && i < best_i)) {
                best = value;
                best_i = i;
            }
            return value == value;
        };
        constexpr int kLast = kBandwidthGridPoints - 1;
        for (int i = 0; i < kLast; i += kCoarseStep) {
            if (!consider(i)) {
                return false;
            }
        }
        if (!consider(kLast)) {
            return false;
        }
        for (int i = 0; i < kLast; ++i) {
            if (i % kCoarseStep != 0 && !consider(i)) {
                return false;
            }
        }
        if (!(best < kInfinity)) {
            return false;
        }
        // Golden section. Of the two inner points the left is kept when PEN1(c) <= PEN1(d), so
        // a new c need only be known up to exceeding PEN1(d), and a new d up to reaching
        // PEN1(c); the point kept is always one evaluated in full.
        double a = bandwidth_grid_point(std::max(best_i - 1, 0));
        double b = bandwidth_grid_point(std::min(best_i + 1, kBandwidthGridPoints - 1));
        double c = b - kInverseGoldenRatio * (b - a);
        double d = a + kInverseGoldenRatio * (b - a);
        double fc = pen(c, kInfinity);
        double fd = pen(d, just_below(fc));
        while (b - a >= kBandwidthTolerance * (0.5 * (a + b))) {
            if (fc <= fd) {
                b = d;
                d = c;
                fd = fc;
                c = b - kInverseGoldenRatio * (b - a);
                fc = pen(c, fd);
            } else {
                a = c;
                c = d;
                fc = fd;
                d = a + kInverseGoldenRatio * (b - a);
                fd = pen(d, just_below(fc));
            }
        }
        h = 0.5 * (a + b);
        return true;
    });
}

bool equate_continuized(const Continuized& x, const Continuized& y, std::span<double> equated) {
    const int kx = static_cast<int>(x.probabilities.size());
    if (kx < 1 || y.probabilities.empty() || equated.size() < size_of(kx)) {
        return false;
    }
    return with_storage([&] {
        std::vector<double> result(size_of(kx));
        const double slope = std::sqrt(y.variance) / std::sqrt(x.variance);
        const auto solve = [&](int score, double start) {
            const double at = static_cast<double>(score);
            const double lower = continuized_cdf(x, at);
            const bool upper = !(lower <= 0.5);
            const double p = upper ? continuized_upper_tail(x, at) : lower;
            return is_finite(p) && solve_tail_equation(y, upper, p, start, result[size_of(score)]);
        };
        // From the score nearest the mean, where the linear equating is close, outward: each
        // score starts on the line through the two scores before it.
        const int middle = std::clamp(static_cast<int>(std::lround(x.mean)), 0, kx - 1);
        if (!solve(middle, y.mean + slope * (static_cast<double>(middle) - x.mean))) {
            return false;
        }
        for (const int direction : {1, -1}) {
            for (int score = middle + direction; score >= 0 && score < kx; score += direction) {
                const double previous = result[size_of(score - direction)];
                const int before = score - 2 * direction;
                const double start = before == middle - direction
                                         ? previous + direction * slope
                                         : 2.0 * previous - result[size_of(before)];
                if (!solve(score, start)) {
                    return false;
                }
            }
        }
        std::copy(result.begin(), result.end(), equated.begin());
        return true;
    });
}

bool kernel_equate(const SamplePair& samples, int degree_x, int degree_y,
                   std::span<double> equated) {
    const std::span<const double> rx = samples.new_relative;
    const std::span<const double> ry = samples.old_relative;
    const int kx = static_cast<int>(rx.size());
    const int ky = static_cast<int>(ry.size());
    if (kx < 1 || ky < 1 || equated.size() < rx.size()) {
        return false;
    }
    const int qx = std::min(degree_x, kx - 1);
    const int qy = std::min(degree_y, ky - 1);
    if (qx < 1 || qy < 1) {
        return false;
    }
    return with_storage([&] {
        const std::size_t m = size_of(std::max(kx, ky));
        std::vector<double> block(5 * m);
        const std::span<double> all(block);
        const std::span<double> px = all.subspan(0, size_of(kx));
        const std::span<double> py = all.subspan(m, size_of(ky));
        const std::span<double> observed = all.subspan(2 * m, m);
        const std::span<double> scores = all.subspan(3 * m, m);
        const std::span<double> coefficients = all.subspan(4 * m, m);
        for (std::size_t i = 0; i < m; ++i) {
            scores[i] = static_cast<double>(i);
        }
        if (!presmoothed_probabilities(rx, samples.new_size, qx, scores, observed, coefficients,
                                       px) ||
            !presmoothed_probabilities(ry, samples.old_size, qy, scores, observed, coefficients,
                                       py)) {
            return false;
        }
        double hx = 0.0;
        double hy = 0.0;
        Continuized cx;
        Continuized cy;
        if (!select_bandwidth(px, hx) || !select_bandwidth(py, hy) || !continuize(px, hx, cx) ||
            !continuize(py, hy, cy)) {
            return false;
        }
        return equate_continuized(cx, cy, equated);
    });
}

}  // namespace eqsim
