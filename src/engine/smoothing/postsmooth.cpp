#include "engine/smoothing/postsmooth.h"

#include <cmath>
#include <cstddef>

#include "engine/smoothing/spline.h"

namespace eqsim {

namespace {

// Every count is raised by this much, so that every proportion is positive, every percentile
// rank strictly increasing and every division by a proportion defined.
constexpr double kCountFloor = 1e-9;
// Probabilities below this are treated as zero by the standard error.
constexpr double kTinyProbability = 1e-9;

Status method_failed(const char* why) {
    return Status::error(Status::Code::method_failed, std::string("post-smoothing: ") + why);
}

Status no_vectors() {
    return Status::error(Status::Code::vector_storage, kVectorStorageFailure);
}

bool all_held(std::initializer_list<const DVector*> vectors) {
    for (const DVector* v : vectors) {
        if (v->empty()) {
            return false;
        }
    }
    return true;
}

DVector sample_counts(double size, std::span<const double> rel) {
    const int k = static_cast<int>(rel.size());
    DVector counts = dvector(0, k - 1);
    if (!counts.empty()) {
        for (int x = 0; x < k; ++x) {
            counts[x] = size * rel[static_cast<std::size_t>(x)];
        }
    }
    return counts;
}

DVector score_values(int k) {
    DVector values = dvector(0, k - 1);
    if (!values.empty()) {
        for (int x = 0; x < k; ++x) {
            values[x] = static_cast<double>(x);
        }
    }
    return values;
}

bool take_tables(int k, FormTables& tables) {
    tables.k = k;
    tables.proportions = dvector(0, k - 1);
    tables.cumulative = dvector(0, k - 1);
    tables.ranks = dvector(0, k - 1);
    return all_held({&tables.proportions, &tables.cumulative, &tables.ranks});
}

bool take_equivalents(int source_k, int target_k, Equivalents& out) {
    out.source_k = source_k;
    out.target_k = target_k;
    out.e = dvector(0, source_k - 1);
    out.se = dvector(0, source_k - 1);
    return all_held({&out.e, &out.se});
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

int highest_in_range(const Equivalents& eq) {
    return eq.source_k - 1 - eq.range.excluded_top;
}

// The slopes of one direction's extension lines, which run from (-0.5, -0.5) to the first fitted
// point and from the last to (k-0.5, target_k-0.5).
struct ExtensionSlopes {
    double low;
    double high;
};

// Fits one direction through its fitting range and returns the slopes of its extension lines.
bool fit_direction(const Equivalents& eq, const DVector& values, double smoothing,
                   CubicPieces& cubic, ExtensionSlopes& slopes) {
    const int lo = eq.range.lowest;
    const int hi = highest_in_range(eq);
    if (!fit_smoothing_spline(SplinePoints{lo, hi, values, eq.e, eq.se}, smoothing, cubic)) {
        return false;
    }
    slopes.low = (cubic.a[lo] + 0.5) / (static_cast<double>(lo) + 0.5);
    slopes.high = ((static_cast<double>(eq.target_k - 1) + 0.5) - cubic.a[hi]) /
                  (static_cast<double>(eq.range.excluded_top) + 0.5);
    return true;
}

void extend_by_lines(const Equivalents& eq, const ExtensionSlopes& slopes, CubicPieces& cubic) {
    const int lo = eq.range.lowest;
    const int hi = highest_in_range(eq);
    for (int x = lo - 1; x >= 0; --x) {
        cubic.a[x] = cubic.a[x + 1] - slopes.low;
        cubic.b[x] = slopes.low;
        cubic.c[x] = 0.0;
        cubic.d[x] = 0.0;
    }
    cubic.b[hi] = slopes.high;
    cubic.c[hi] = 0.0;
    cubic.d[hi] = 0.0;
    for (int x = hi + 1; x <= eq.source_k - 1; ++x) {
        cubic.a[x] = cubic.a[x - 1] + slopes.high;
        cubic.b[x] = slopes.high;
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

// The old-form score at which the old-to-new function q takes the value score: linear between
// knots, refined on the cubic piece when it lies inside the fitted range.
double invert_old_to_new(const CubicPieces& q, const Equivalents& to_new, double score) {
    const int ky = to_new.source_k;
    const int k = covering_piece(q.a, ky, score);
    double t = (score - q.a[k - 1]) / (q.a[k] - q.a[k - 1]);
    if (to_new.range.lowest < k && k <= highest_in_range(to_new) && q.a[k - 1] < score &&
        score < q.a[k]) {
        t = invert_cubic_segment(q.a[k - 1], q.b[k - 1], q.c[k - 1], q.d[k - 1], score, t);
    }
    return t + static_cast<double>(k - 1);
}

}  // namespace

Status postsmooth_equate(const SamplePair& samples, double smoothing, double tail_cut,
                         std::span<double> equated) {
    const int kx = static_cast<int>(samples.new_relative.size());
    const int ky = static_cast<int>(samples.old_relative.size());
    // Both forms need two score points: the inverse works on the piece between two of them.
    if (kx < 2 || ky < 2 || equated.size() < samples.new_relative.size()) {
        return method_failed("each form needs two score points and room for its scores");
    }
    DVector new_counts = sample_counts(samples.new_size, samples.new_relative);
    DVector old_counts = sample_counts(samples.old_size, samples.old_relative);
    if (!all_held({&new_counts, &old_counts})) {
        return no_vectors();
    }
    return postsmooth_counts(new_counts, kx, old_counts, ky, smoothing, tail_cut, equated);
}

Status postsmooth_counts(DVector& new_counts, int kx, DVector& old_counts, int ky, double smoothing,
                         double tail_cut, std::span<double> equated) noexcept {
    FormTables new_form;
    FormTables old_form;
    const DVector new_values = score_values(kx);
    const DVector old_values = score_values(ky);
    Equivalents to_old;
    Equivalents to_new;
    if (!take_tables(kx, new_form) || !take_tables(ky, old_form) ||
        !all_held({&new_values, &old_values}) || !take_equivalents(kx, ky, to_old) ||
        !take_equivalents(ky, kx, to_new)) {
        return no_vectors();
    }
    cumulate_counts(new_counts, kx, new_form);
    cumulate_counts(old_counts, ky, old_form);
    equate_with_errors(new_form, old_form, old_values, tail_cut, to_old);
    equate_with_errors(old_form, new_form, new_values, tail_cut, to_new);

    // A tail cut this wide leaves nothing to fit through.
    if (to_old.range.lowest > highest_in_range(to_old) ||
        to_new.range.lowest > highest_in_range(to_new)) {
        return method_failed("the tail cut leaves no score to fit through");
    }
    if (!smooth_and_average(to_old, to_new, new_values, old_values, smoothing,
                            equated.first(static_cast<std::size_t>(kx)))) {
        return no_vectors();
    }
    return Status::ok();
}

void cumulate_counts(DVector& counts, int k, FormTables& tables) noexcept {
    double total = 0.0;
    for (int x = 0; x < k; ++x) {
        counts[x] = counts[x] + kCountFloor;
        total = total + counts[x];
    }
    tables.total = total;
    for (int x = 0; x < k; ++x) {
        tables.proportions[x] = counts[x] / total;
    }
    tables.cumulative[0] = tables.proportions[0];
    tables.ranks[0] = 0.5 * tables.proportions[0];
    for (int x = 1; x < k; ++x) {
        tables.cumulative[x] = tables.cumulative[x - 1] + tables.proportions[x];
        tables.ranks[x] = tables.cumulative[x - 1] + 0.5 * tables.proportions[x];
    }
}

void equate_with_errors(const FormTables& source, const FormTables& target,
                        const DVector& target_values, double tail_cut, Equivalents& out) noexcept {
    out.range.lowest = lowest_in_range(source.ranks, source.k, tail_cut);
    out.range.excluded_top = count_excluded_top(source.ranks, source.k, tail_cut);
    for (int x = 0; x < source.k; ++x) {
        const double rank = source.ranks[x];
        const int u = first_reaching(target.cumulative, target.k, rank);
        if (u > 0) {
            out.e[x] = (target_values[u] - 0.5) +
                       (rank - target.cumulative[u - 1]) / target.proportions[u];
        } else {
            out.e[x] = -0.5 + rank / target.proportions[0];
        }
        out.se[x] = equating_standard_error(rank, target.proportions[u], target.cumulative[u],
                                            source.total, target.total);
    }
}

double equating_standard_error(double P, double g, double G, double source_total,
                               double target_total) noexcept {
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
    return std::sqrt(variance);
}

bool smooth_and_average(const Equivalents& to_old, const Equivalents& to_new,
                        const DVector& new_values, const DVector& old_values, double smoothing,
                        std::span<double> equated) noexcept {
    const int kx = to_old.source_k;
    CubicPieces s = cubic_pieces(0, kx - 1);
    CubicPieces q = cubic_pieces(0, to_new.source_k - 1);
    if (!holds_storage(s) || !holds_storage(q)) {
        return false;
    }
    ExtensionSlopes s_slopes{};
    ExtensionSlopes q_slopes{};
    if (!fit_direction(to_old, new_values, smoothing, s, s_slopes) ||
        !fit_direction(to_new, old_values, smoothing, q, q_slopes)) {
        return false;
    }
    extend_by_lines(to_old, s_slopes, s);
    extend_by_lines(to_new, q_slopes, q);
    for (int x = 0; x < kx; ++x) {
        const double inverse = invert_old_to_new(q, to_new, static_cast<double>(x));
        equated[static_cast<std::size_t>(x)] = 0.5 * (inverse + s.a[x]);
    }
    return true;
}

}  // namespace eqsim
