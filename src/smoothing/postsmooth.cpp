#include "smoothing/postsmooth.h"

#include <cmath>
#include <cstddef>
#include <cstdint>

#include "smoothing/spline.h"

namespace eqsim {

namespace {

// Every count is raised by this much, so that every proportion is positive, every percentile
// rank strictly increasing and every division by a proportion defined.
constexpr double kCountFloor = 1e-9;
// Probabilities below this are treated as zero by the standard error.
constexpr double kTinyProbability = 1e-9;

// Both forms need two score points: the inverse works on the piece between two of them.
bool arguments_fit(int new_low, int new_high, int old_low, int old_high,
                   std::span<const double> new_rel, std::span<const double> old_rel,
                   std::span<const std::span<double>> outputs,
                   std::span<const double> smoothing_values, int count) {
    if (new_low < 0 || old_low < 0 || new_high <= new_low || old_high <= old_low || count < 1) {
        return false;
    }
    const auto needs = [](int high) { return static_cast<std::size_t>(high) + 1; };
    if (new_rel.size() < needs(new_high) || old_rel.size() < needs(old_high)) {
        return false;
    }
    const auto listed = static_cast<std::size_t>(count);
    if (outputs.size() < listed || smoothing_values.size() < listed) {
        return false;
    }
    for (std::size_t i = 0; i < listed; ++i) {
        if (outputs[i].size() < needs(new_high)) {
            return false;
        }
    }
    return true;
}

DVector sample_counts(double size, std::span<const double> rel, int low, int k) {
    DVector counts = dvector(0, k - 1);
    for (int x = 0; x < k; ++x) {
        counts[x] = size * rel[static_cast<std::size_t>(low + x)];
    }
    return counts;
}

DVector score_values(int k) {
    DVector values = dvector(0, k - 1);
    for (int x = 0; x < k; ++x) {
        values[x] = static_cast<double>(x);
    }
    return values;
}

// The tables of one form after its counts are cumulated.
struct FormTables {
    DVector proportions;
    DVector cumulative;
    DVector ranks;
    double total = 0.0;
};

FormTables tabulate_form(DVector& counts, int k) {
    FormTables tables{dvector(0, k - 1), dvector(0, k - 1), dvector(0, k - 1), 0.0};
    cumulate_counts(counts, tables.proportions, tables.cumulative, tables.ranks, tables.total, k);
    return tables;
}

// One direction's unsmoothed equivalents, their standard errors and its fitting range.
struct Equivalents {
    DVector e;
    DVector se;
    FittingRange range{};
};

Equivalents equivalents_between(const FormTables& source, const FormTables& target,
                                const DVector& target_values, int source_k, int target_k,
                                double tail_cut) {
    Equivalents out{dvector(0, source_k - 1), dvector(0, source_k - 1), {}};
    equate_with_errors(source.ranks, target_values, target.proportions, target.cumulative,
                       source.total, target.total, source_k, target_k, out.e, out.se, tail_cut,
                       out.range.lowest, out.range.excluded_top);
    return out;
}

// Coefficients of one direction's function over a form's whole score range.
struct Cubic {
    DVector a, b, c, d;
};

Cubic take_cubic(int k) {
    return Cubic{dvector(0, k - 1), dvector(0, k - 1), dvector(0, k - 1), dvector(0, k - 1)};
}

int lowest_in_range(const DVector& ranks, int k, double tail_cut) {
    int x = 0;
    while (x < k - 1 && ranks[x] <= tail_cut) {
        ++x;
    }
    return x;
}

int count_excluded_top(const DVector& ranks, int k, double tail_cut) {
    const double upper = 1.0 - tail_cut;
    int j = 0;
    while (j < k - 1 && ranks[k - 1 - j] >= upper) {
        ++j;
    }
    return j;
}

// The lowest target score whose cumulative proportion reaches rank, the top score at most.
int first_reaching(const DVector& cumulative, int k, double rank) {
    int u = 0;
    while (u < k - 1 && cumulative[u] < rank) {
        ++u;
    }
    return u;
}

// Fits one direction and returns the slopes of its lower and upper extension lines, which run
// from (-0.5, -0.5) to the first fitted point and from the last to (k-0.5, target_k-0.5).
void fit_direction(const DVector& values, const DVector& e, const DVector& se, int k, int target_k,
                   FittingRange range, double smoothing, Cubic& cubic, double& low_slope,
                   double& high_slope) {
    const int lo = range.lowest;
    const int hi = k - 1 - range.excluded_top;
    fit_smoothing_spline(lo, hi, values, e, se, smoothing, cubic.a, cubic.b, cubic.c, cubic.d);
    low_slope = (cubic.a[lo] + 0.5) / (static_cast<double>(lo) + 0.5);
    high_slope = ((static_cast<double>(target_k - 1) + 0.5) - cubic.a[hi]) /
                 (static_cast<double>(range.excluded_top) + 0.5);
}

void extend_by_lines(Cubic& cubic, int k, FittingRange range, double low_slope, double high_slope) {
    const int lo = range.lowest;
    const int hi = k - 1 - range.excluded_top;
    for (int x = lo - 1; x >= 0; --x) {
        cubic.a[x] = cubic.a[x + 1] - low_slope;
        cubic.b[x] = low_slope;
        cubic.c[x] = 0.0;
        cubic.d[x] = 0.0;
    }
    cubic.b[hi] = high_slope;
    cubic.c[hi] = 0.0;
    cubic.d[hi] = 0.0;
    for (int x = hi + 1; x <= k - 1; ++x) {
        cubic.a[x] = cubic.a[x - 1] + high_slope;
        cubic.b[x] = high_slope;
        cubic.c[x] = 0.0;
        cubic.d[x] = 0.0;
    }
}

// The piece k (between knots k-1 and k) of the old-to-new function that covers score: the first
// or last piece when score lies beyond the knots, so the ends extrapolate linearly.
int covering_piece(const DVector& knots, int ky, double score) {
    if (score <= knots[0]) {
        return 1;
    }
    if (score >= knots[ky - 1]) {
        return ky - 1;
    }
    int k = 1;
    while (k < ky - 1 && knots[k] < score) {
        ++k;
    }
    return k;
}

// The old-form score at which the old-to-new function takes the value score: linear between
// knots, refined on the cubic piece when it lies inside the fitted range.
double invert_old_to_new(const Cubic& q, int ky, FittingRange old_range, double score) {
    const int k = covering_piece(q.a, ky, score);
    double t = (score - q.a[k - 1]) / (q.a[k] - q.a[k - 1]);
    const int hi_old = ky - 1 - old_range.excluded_top;
    if (old_range.lowest < k && k <= hi_old && q.a[k - 1] < score && score < q.a[k]) {
        t = invert_cubic_segment(q.a[k - 1], q.b[k - 1], q.c[k - 1], q.d[k - 1], score, t);
    }
    return t + static_cast<double>(k - 1);
}

}  // namespace

std::int16_t postsmooth_equate(int new_low, int new_high, int old_low, int old_high,
                               double new_size, double old_size, std::span<const double> new_rel,
                               std::span<const double> old_rel,
                               std::span<const std::span<double>> outputs,
                               std::span<const double> smoothing_values, int count,
                               double tail_cut) {
    if (!arguments_fit(new_low, new_high, old_low, old_high, new_rel, old_rel, outputs,
                       smoothing_values, count)) {
        return 1;
    }
    const int kx = new_high - new_low + 1;
    const int ky = old_high - old_low + 1;
    DVector new_counts = sample_counts(new_size, new_rel, new_low, kx);
    DVector old_counts = sample_counts(old_size, old_rel, old_low, ky);
    return postsmooth_counts(kx, ky, new_counts, old_counts, outputs, new_low, smoothing_values,
                             count, tail_cut);
}

std::int16_t postsmooth_counts(int kx, int ky, DVector& new_counts, DVector& old_counts,
                               std::span<const std::span<double>> outputs, int output_low,
                               std::span<const double> smoothing_values, int count,
                               double tail_cut) noexcept {
    FormTables new_form = tabulate_form(new_counts, kx);
    FormTables old_form = tabulate_form(old_counts, ky);
    const DVector new_values = score_values(kx);
    const DVector old_values = score_values(ky);

    const Equivalents to_old =
        equivalents_between(new_form, old_form, old_values, kx, ky, tail_cut);
    const Equivalents to_new =
        equivalents_between(old_form, new_form, new_values, ky, kx, tail_cut);

    // A tail cut this wide leaves nothing to fit through.
    if (to_old.range.lowest > kx - 1 - to_old.range.excluded_top ||
        to_new.range.lowest > ky - 1 - to_new.range.excluded_top) {
        return 1;
    }
    for (int i = 0; i < count; ++i) {
        const auto index = static_cast<std::size_t>(i);
        smooth_and_average(kx, ky, new_values, old_values, to_old.e, to_old.se, to_old.range,
                           to_new.e, to_new.se, to_new.range, smoothing_values[index],
                           outputs[index].subspan(static_cast<std::size_t>(output_low),
                                                  static_cast<std::size_t>(kx)));
    }
    return 0;
}

void cumulate_counts(DVector& counts, DVector& proportions, DVector& cumulative, DVector& ranks,
                     double& total, int k) noexcept {
    total = 0.0;
    for (int x = 0; x < k; ++x) {
        counts[x] = counts[x] + kCountFloor;
        total = total + counts[x];
    }
    for (int x = 0; x < k; ++x) {
        proportions[x] = counts[x] / total;
    }
    cumulative[0] = proportions[0];
    ranks[0] = 0.5 * proportions[0];
    for (int x = 1; x < k; ++x) {
        cumulative[x] = cumulative[x - 1] + proportions[x];
        ranks[x] = cumulative[x - 1] + 0.5 * proportions[x];
    }
}

void equate_with_errors(const DVector& source_ranks, const DVector& target_values,
                        const DVector& target_proportions, const DVector& target_cumulative,
                        double source_total, double target_total, int source_k, int target_k,
                        DVector& e, DVector& se, double tail_cut, int& lowest,
                        int& excluded_top) noexcept {
    lowest = lowest_in_range(source_ranks, source_k, tail_cut);
    excluded_top = count_excluded_top(source_ranks, source_k, tail_cut);
    for (int x = 0; x < source_k; ++x) {
        const double rank = source_ranks[x];
        const int u = first_reaching(target_cumulative, target_k, rank);
        if (u > 0) {
            e[x] = (target_values[u] - 0.5) +
                   (rank - target_cumulative[u - 1]) / target_proportions[u];
        } else {
            e[x] = -0.5 + rank / target_proportions[0];
        }
        equating_standard_error(rank, target_proportions[u], target_cumulative[u], source_total,
                                target_total, se[x]);
    }
}

void equating_standard_error(double P, double g, double G, double source_total, double target_total,
                             double& se) noexcept {
    const double p = P < kTinyProbability ? 1.0 / (2.0 * source_total) : P;
    const double gamma = g < kTinyProbability ? 1.0 / (2.0 * target_total) : g;
    double variance =
        ((p * (1.0 - p)) / (gamma * gamma)) * ((1.0 / target_total) + (1.0 / source_total));
    if (P > kTinyProbability && G > kTinyProbability && g > kTinyProbability) {
        variance =
            variance - (((G - g) - P) * (P - G)) / (((target_total * gamma) * gamma) * gamma);
    } else if (variance < kTinyProbability) {
        variance = 0.0;
    }
    // The correction can take a variance that is 0 in exact arithmetic a rounding below it.
    if (variance < 0.0) {
        variance = 0.0;
    }
    se = std::sqrt(variance);
}

void smooth_and_average(int kx, int ky, const DVector& new_values, const DVector& old_values,
                        const DVector& e_new, const DVector& se_new, FittingRange new_range,
                        const DVector& e_old, const DVector& se_old, FittingRange old_range,
                        double smoothing, std::span<double> equated) noexcept {
    Cubic s = take_cubic(kx);
    Cubic q = take_cubic(ky);
    double m_low = 0.0;
    double m_high = 0.0;
    fit_direction(new_values, e_new, se_new, kx, ky, new_range, smoothing, s, m_low, m_high);
    double q_low = 0.0;
    double q_high = 0.0;
    fit_direction(old_values, e_old, se_old, ky, kx, old_range, smoothing, q, q_low, q_high);
    extend_by_lines(s, kx, new_range, m_low, m_high);
    extend_by_lines(q, ky, old_range, q_low, q_high);
    for (int x = 0; x < kx; ++x) {
        const double inverse = invert_old_to_new(q, ky, old_range, static_cast<double>(x));
        equated[static_cast<std::size_t>(x)] = 0.5 * (inverse + s.a[x]);
    }
}

}  // namespace eqsim
