#include "engine/equating/anchor_equating.h"

#include <algorithm>
#include <cmath>
#include <cstddef>

#include "engine/equating/equipercentile.h"
#include "engine/equating/linear_equating.h"
#include "engine/numeric/storage.h"

namespace eqsim {

namespace {

std::size_t cell_count(const AnchorTable& table) {
    return static_cast<std::size_t>(table.total_points) *
           static_cast<std::size_t>(table.anchor_points);
}

bool table_is_whole(const AnchorTable& table) {
    return table.total_points >= 1 && table.anchor_points >= 1 &&
           table.joint.size() >= cell_count(table);
}

// What every method needs before it reads anything.
bool pair_is_whole(const AnchorPair& pair, std::span<const double> equated) {
    return table_is_whole(pair.new_group) && table_is_whole(pair.old_group) &&
           pair.new_group.anchor_points == pair.old_group.anchor_points &&
           equated.size() >= static_cast<std::size_t>(pair.new_group.total_points);
}

// A NaN weight fails too.
bool weight_is_usable(double w1) {
    return w1 >= 0.0 && w1 <= 1.0;
}

std::span<const double> row_of(const AnchorTable& table, int x) {
    const auto kv = static_cast<std::size_t>(table.anchor_points);
    return table.joint.subspan(static_cast<std::size_t>(x) * kv, kv);
}

// ---- Moments of one group's table ----

struct TableMoments {
    double mean_total = 0.0;   // mu(X) or mu(Y)
    double mean_anchor = 0.0;  // mu(V)
    double var_total = 0.0;
    double var_anchor = 0.0;
    double covariance = 0.0;  // cov(X,V) or cov(Y,V)
};

// Two passes, means first and then deviations from them, as compute_moments does for one form.
void table_moments(const AnchorTable& table, TableMoments& m) {
    double mean_total = 0.0;
    double mean_anchor = 0.0;
    for (int x = 0; x < table.total_points; ++x) {
        const std::span<const double> row = row_of(table, x);
        double row_share = 0.0;
        for (int v = 0; v < table.anchor_points; ++v) {
            row_share += row[v];
            mean_anchor += static_cast<double>(v) * row[v];
        }
        mean_total += static_cast<double>(x) * row_share;
    }
    double var_total = 0.0;
    double var_anchor = 0.0;
    double covariance = 0.0;
    for (int x = 0; x < table.total_points; ++x) {
        const std::span<const double> row = row_of(table, x);
        const double dx = static_cast<double>(x) - mean_total;
        double row_share = 0.0;
        double row_anchor_deviation = 0.0;
        for (int v = 0; v < table.anchor_points; ++v) {
            const double dv = static_cast<double>(v) - mean_anchor;
            row_share += row[v];
            row_anchor_deviation += dv * row[v];
            var_anchor += dv * dv * row[v];
        }
        var_total += dx * dx * row_share;
        covariance += dx * row_anchor_deviation;
    }
    m.mean_total = mean_total;
    m.mean_anchor = mean_anchor;
    m.var_total = var_total;
    m.var_anchor = var_anchor;
    m.covariance = covariance;
}

// ---- Writing a linear result ----

// Writes e(x) = mu_y + slope (x - mu_x) for x = 0..kx-1, or nothing when a value would not be
// finite. The function and its rounding are monotone in x, so the two ends decide.
bool write_linear(int kx, double mu_x, double slope, double mu_y, std::span<double> equated) {
    const auto at = [&](int x) { return mu_y + slope * (static_cast<double>(x) - mu_x); };
    if (!std::isfinite(at(0)) || !std::isfinite(at(kx - 1))) {
        return false;
    }
    for (int x = 0; x < kx; ++x) {
        equated[x] = at(x);
    }
    return true;
}

// The synthetic population's moments of X and Y from the two groups' moments and the slopes
// gamma1, gamma2 (Kolen and Brennan, 2014, chapter 4), then linear equating.
bool equate_synthetic_linear(const AnchorPair& pair, const TableMoments& p, const TableMoments& q,
                             double gamma_new, double gamma_old, double w1,
                             std::span<double> equated) {
    const double w2 = 1.0 - w1;
    const double mean_gap = p.mean_anchor - q.mean_anchor;
    const double var_gap = p.var_anchor - q.var_anchor;
    const double gap_squared = mean_gap * mean_gap;
    const double gamma_new_squared = gamma_new * gamma_new;
    const double gamma_old_squared = gamma_old * gamma_old;
    const double mu_sx = p.mean_total - w2 * gamma_new * mean_gap;
    const double mu_sy = q.mean_total + w1 * gamma_old * mean_gap;
    const double var_sx =
        p.var_total - w2 * gamma_new_squared * var_gap + w1 * w2 * gamma_new_squared * gap_squared;
    const double var_sy =
        q.var_total + w1 * gamma_old_squared * var_gap + w1 * w2 * gamma_old_squared * gap_squared;
    // Divided by below, or under a square root; NaN fails each test.
    if (!(var_sx > 0.0) || !(var_sy >= 0.0) || !std::isfinite(var_sx) || !std::isfinite(var_sy)) {
        return false;
    }
    return write_linear(pair.new_group.total_points, mu_sx, std::sqrt(var_sy / var_sx), mu_sy,
                        equated);
}

// ---- Working storage ----

// Carves the workspace into consecutive arrays of the given lengths, growing it when needed.
template <std::size_t N>
bool take_arrays(AnchorWorkspace& work, const std::size_t (&lengths)[N],
                 std::span<double> (&arrays)[N]) {
    std::size_t total = 0;
    for (const std::size_t length : lengths) {
        total += length;
    }
    if (work.block.size() < total && !with_storage([&] {
            work.block.resize(total);
            return true;
        })) {
        return false;
    }
    std::size_t start = 0;
    for (std::size_t i = 0; i < N; ++i) {
        arrays[i] = std::span<double>(work.block).subspan(start, lengths[i]);
        start += lengths[i];
    }
    return true;
}

bool all_finite(std::span<const double> values) {
    return std::all_of(values.begin(), values.end(), [](double e) { return std::isfinite(e); });
}

// ---- The synthetic distributions of frequency estimation ----

// Rescales dist to sum 1, as the unsmoothed method normalises (by the reciprocal of the total, and
// not at all when the total is already 1). False when it is empty or its total is not finite.
bool rescale_to_one(std::span<double> dist) {
    double total = 0.0;
    for (const double share : dist) {
        total += share;
    }
    if (!(total > 0.0) || !std::isfinite(total)) {
        return false;
    }
    if (total != 1.0) {
        const double factor = 1.0 / total;
        for (double& share : dist) {
            share *= factor;
        }
    }
    return true;
}

// One group's synthetic distribution: own_weight times its own marginal plus other_weight times
// sum_v joint(t, v) ratio[v], where ratio[v] = h_other(v) / h_own(v), or 0 where h_own(v) is 0 (the
// left-out terms); then rescaled to sum 1.
bool synthetic_distribution(const AnchorTable& table, std::span<const double> ratio,
                            double own_weight, double other_weight, std::span<double> synthetic) {
    for (int t = 0; t < table.total_points; ++t) {
        const std::span<const double> row = row_of(table, t);
        double share = 0.0;
        double reweighted = 0.0;
        for (int v = 0; v < table.anchor_points; ++v) {
            share += row[v];
            reweighted += row[v] * ratio[v];
        }
        synthetic[t] = own_weight * share + other_weight * reweighted;
    }
    return rescale_to_one(synthetic);
}

// f_s into new_synthetic (KX values) and g_s into old_synthetic (KY values); new_ratio and
// old_ratio (KV values each) are scratch.
bool synthetic_distributions(const AnchorPair& pair, double w1, std::span<double> new_ratio,
                             std::span<double> old_ratio, std::span<double> new_synthetic,
                             std::span<double> old_synthetic) {
    anchor_score_marginal(pair.new_group, new_ratio);
    anchor_score_marginal(pair.old_group, old_ratio);
    // f_P(x|v) h_Q(v) = f_P(x,v) (h_Q(v) / h_P(v)), and likewise for Q.
    for (std::size_t v = 0; v < new_ratio.size(); ++v) {
        const double h_new = new_ratio[v];
        const double h_old = old_ratio[v];
        new_ratio[v] = h_new > 0.0 ? h_old / h_new : 0.0;
        old_ratio[v] = h_old > 0.0 ? h_new / h_old : 0.0;
    }
    const double w2 = 1.0 - w1;
    return synthetic_distribution(pair.new_group, new_ratio, w1, w2, new_synthetic) &&
           synthetic_distribution(pair.old_group, old_ratio, w2, w1, old_synthetic);
}

// The synthetic distributions in the workspace, for the two methods built on them.
struct Synthetic {
    std::span<double> new_dist;  // f_s, KX values
    std::span<double> old_dist;  // g_s, KY values
    std::span<double> result;    // KX values
};

bool synthetic_in_workspace(const AnchorPair& pair, double w1, AnchorWorkspace& work,
                            Synthetic& synthetic) {
    const auto kx = static_cast<std::size_t>(pair.new_group.total_points);
    const auto ky = static_cast<std::size_t>(pair.old_group.total_points);
    const auto kv = static_cast<std::size_t>(pair.new_group.anchor_points);
    std::span<double> arrays[5];
    if (!take_arrays(work, {kx, ky, kv, kv, kx}, arrays)) {
        return false;
    }
    synthetic = Synthetic{arrays[0], arrays[1], arrays[4]};
    return synthetic_distributions(pair, w1, arrays[2], arrays[3], synthetic.new_dist,
                                   synthetic.old_dist);
}

}  // namespace

bool tucker_equate(const AnchorPair& pair, double w1, AnchorWorkspace&, std::span<double> equated) {
    if (!pair_is_whole(pair, equated) || !weight_is_usable(w1)) {
        return false;
    }
    TableMoments p;
    TableMoments q;
    table_moments(pair.new_group, p);
    table_moments(pair.old_group, q);
    if (p.var_anchor == 0.0 || q.var_anchor == 0.0) {
        return false;
    }
    return equate_synthetic_linear(pair, p, q, p.covariance / p.var_anchor,
                                   q.covariance / q.var_anchor, w1, equated);
}

bool levine_observed_equate(const AnchorPair& pair, double w1, AnchorWorkspace&,
                            std::span<double> equated) {
    if (!pair_is_whole(pair, equated) || !weight_is_usable(w1)) {
        return false;
    }
    TableMoments p;
    TableMoments q;
    table_moments(pair.new_group, p);
    table_moments(pair.old_group, q);
    // The slopes under the classical congeneric model (Kolen and Brennan, 2014, chapter 4): an
    // internal anchor's items are part of the total, an external anchor's are not.
    double new_numerator = p.var_total;
    double new_divisor = p.covariance;
    double old_numerator = q.var_total;
    double old_divisor = q.covariance;
    if (pair.anchor == AnchorKind::external) {
        new_numerator = p.var_total + p.covariance;
        new_divisor = p.var_anchor + p.covariance;
        old_numerator = q.var_total + q.covariance;
        old_divisor = q.var_anchor + q.covariance;
    }
    if (new_divisor == 0.0 || old_divisor == 0.0) {
        return false;
    }
    return equate_synthetic_linear(pair, p, q, new_numerator / new_divisor,
                                   old_numerator / old_divisor, w1, equated);
}

bool chained_linear_equate(const AnchorPair& pair, double, AnchorWorkspace&,
                           std::span<double> equated) {
    if (!pair_is_whole(pair, equated)) {
        return false;
    }
    TableMoments p;
    TableMoments q;
    table_moments(pair.new_group, p);
    table_moments(pair.old_group, q);
    const double sd_px = std::sqrt(p.var_total);
    const double sd_pv = std::sqrt(p.var_anchor);
    const double sd_qy = std::sqrt(q.var_total);
    const double sd_qv = std::sqrt(q.var_anchor);
    if (sd_px == 0.0 || sd_qv == 0.0) {
        return false;
    }
    // l_P(x) = mu_P(V) + (sd_P(V) / sd_P(X)) (x - mu_P(X)) on the anchor's scale, then
    // l_Q(v) = mu_Q(Y) + (sd_Q(Y) / sd_Q(V)) (v - mu_Q(V)); composed, one line. Both steps are
    // monotone in x, so the ends decide whether every value is finite.
    const double to_anchor = sd_pv / sd_px;
    const double to_old = sd_qy / sd_qv;
    const auto at = [&](int x) {
        const double v = p.mean_anchor + to_anchor * (static_cast<double>(x) - p.mean_total);
        return q.mean_total + to_old * (v - q.mean_anchor);
    };
    const int kx = pair.new_group.total_points;
    if (!std::isfinite(at(0)) || !std::isfinite(at(kx - 1))) {
        return false;
    }
    for (int x = 0; x < kx; ++x) {
        equated[x] = at(x);
    }
    return true;
}

namespace {

// The synthetic population's distributions for frequency estimation and Braun-Holland, once the
// pair, the room for the result and the weight are checked.
bool synthetic_for(const AnchorPair& pair, double w1, std::span<const double> equated,
                   AnchorWorkspace& work, Synthetic& s) {
    return pair_is_whole(pair, equated) && weight_is_usable(w1) &&
           synthetic_in_workspace(pair, w1, work, s);
}

}  // namespace

bool frequency_estimation_equate(const AnchorPair& pair, double w1, AnchorWorkspace& work,
                                 std::span<double> equated) {
    Synthetic s;
    if (!synthetic_for(pair, w1, equated, work, s)) {
        return false;
    }
    equipercentile_equate(0.0, 1.0, s.new_dist, s.old_dist, kUniformMass, s.result);
    if (!all_finite(s.result)) {
        return false;
    }
    std::copy(s.result.begin(), s.result.end(), equated.begin());
    return true;
}

bool braun_holland_equate(const AnchorPair& pair, double w1, AnchorWorkspace& work,
                          std::span<double> equated) {
    Synthetic s;
    if (!synthetic_for(pair, w1, equated, work, s)) {
        return false;
    }
    Moments mx;
    Moments my;
    compute_moments(s.new_dist, mx);
    compute_moments(s.old_dist, my);
    if (mx.sd == 0.0) {
        return false;
    }
    return write_linear(pair.new_group.total_points, mx.mean, my.sd / mx.sd, my.mean, equated);
}

bool chained_equipercentile_equate(const AnchorPair& pair, double, AnchorWorkspace& work,
                                   std::span<double> equated) {
    if (!pair_is_whole(pair, equated)) {
        return false;
    }
    const int kx = pair.new_group.total_points;
    const int ky = pair.old_group.total_points;
    const int kv = pair.new_group.anchor_points;
    const auto ux = static_cast<std::size_t>(kx);
    const auto uv = static_cast<std::size_t>(kv);
    std::span<double> arrays[5];
    if (!take_arrays(work, {ux, uv, uv, static_cast<std::size_t>(ky), ux}, arrays)) {
        return false;
    }
    const std::span<double> new_total = arrays[0];   // f_P, then its cumulative distribution
    const std::span<double> new_anchor = arrays[1];  // h_P, likewise
    const std::span<double> old_anchor = arrays[2];  // h_Q, likewise
    const std::span<double> old_total = arrays[3];   // g_Q, likewise
    const std::span<double> result = arrays[4];
    total_score_marginal(pair.new_group, new_total);
    anchor_score_marginal(pair.new_group, new_anchor);
    anchor_score_marginal(pair.old_group, old_anchor);
    total_score_marginal(pair.old_group, old_total);
    // In P: x to the anchor score e_V(x) with the same percentile rank.
    equipercentile_equate(0.0, 1.0, new_total, new_anchor, kUniformMass, result);
    // In Q: e_V(x)'s percentile rank under h_Q, continuized as the unsmoothed method continuizes,
    // to the Y score with that rank.
    prepare_cumulative(old_anchor, kUniformMass);
    prepare_cumulative(old_total, kUniformMass);
    for (double& score : result) {
        score = score_of_rank(0.0, 1.0, old_total, percentile_rank_of(old_anchor, score));
    }
    if (!all_finite(result)) {
        return false;
    }
    std::copy(result.begin(), result.end(), equated.begin());
    return true;
}

bool total_score_marginal(const AnchorTable& table, std::span<double> marginal) {
    if (!table_is_whole(table) || marginal.size() < static_cast<std::size_t>(table.total_points)) {
        return false;
    }
    for (int x = 0; x < table.total_points; ++x) {
        const std::span<const double> row = row_of(table, x);
        double share = 0.0;
        for (const double cell : row) {
            share += cell;
        }
        marginal[x] = share;
    }
    return true;
}

bool anchor_score_marginal(const AnchorTable& table, std::span<double> marginal) {
    if (!table_is_whole(table) || marginal.size() < static_cast<std::size_t>(table.anchor_points)) {
        return false;
    }
    std::fill_n(marginal.begin(), table.anchor_points, 0.0);
    for (int x = 0; x < table.total_points; ++x) {
        const std::span<const double> row = row_of(table, x);
        for (int v = 0; v < table.anchor_points; ++v) {
            marginal[v] += row[v];
        }
    }
    return true;
}

}  // namespace eqsim
