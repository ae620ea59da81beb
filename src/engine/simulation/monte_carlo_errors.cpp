#include "engine/simulation/monte_carlo_errors.h"

#include <algorithm>
#include <cmath>
#include <string>

#include "engine/equating/scale_conversion.h"
#include "engine/numeric/storage.h"

namespace eqsim {

namespace {

Status invalid(std::string what) {
    return Status::error(Status::Code::invalid_input, std::move(what));
}

bool all_finite(std::span<const double> values) {
    for (const double v : values) {
        if (!std::isfinite(v)) {
            return false;
        }
    }
    return true;
}

// The first replication (counted from 0) of batch b of B over R replications: floor(b R / B),
// so that batch sizes differ by at most one and every batch has one when R >= B.
std::int32_t batch_start(int b, int batches, std::int32_t replications) {
    return static_cast<std::int32_t>(static_cast<std::int64_t>(b) * replications / batches);
}

// Per-score MCSEs from the sums over n replications of d = value - shift and of its powers
// (S1..S4), for one score whose criterion lies `offset` = shift - criterion below its shift.
//
// With delta = S1/n and p_j = S_j/n, the central moments of the values are
//     m2 = p2 - delta^2,  m3 = p3 - 3 delta p2 + 2 delta^3,
//     m4 = p4 - 4 delta p3 + 6 delta^2 p2 - 3 delta^4,
// the reported standard error is se = sqrt(m2) (divisor n) and the bias b = offset + delta.
struct ScoreMcse {
    double mean;
    double se;
    double rmse;
};

ScoreMcse score_mcse(double s1, double s2, double s3, double s4, double offset, double n) {
    const double delta = s1 / n;
    const double p2 = s2 / n;
    const double p3 = s3 / n;
    const double p4 = s4 / n;
    const double m2 = std::max(0.0, p2 - delta * delta);
    const double m3 = p3 - delta * (3.0 * p2 - 2.0 * delta * delta);
    const double m4 =
        std::max(0.0, p4 - delta * (4.0 * p3 - delta * (6.0 * p2 - 3.0 * delta * delta)));
    const double bias = offset + delta;
    ScoreMcse out{0.0, 0.0, 0.0};

    // Morris et al. (2019), Table 6: sqrt(sum (e_r - mean)^2 / (n (n - 1))) = sqrt(m2 / (n - 1)).
    out.mean = std::sqrt(m2 / (n - 1.0));

    // Var(m2) for n independent values with central moments mu2, mu4 (Kenney and Keeping 1951,
    // p. 164, give it for the divisor n - 1; ours is that times ((n - 1) / n)^2):
    //     Var(m2) = (n - 1) ((n - 1) mu4 - (n - 3) mu2^2) / n^3,
    // estimated with the replications' m2 and m4 in place of mu2 and mu4 (never below
    // 2 (n - 1) m2^2 / n^3, since m4 >= m2^2). By the delta method, with kurtosis = m4 / m2^2,
    //     MCSE(se) = sqrt(Var(m2)) / (2 se)
    //              = se sqrt((n - 1) ((n - 1) kurtosis - (n - 3)) / n^3) / 2;
    // the kurtosis keeps the fourth powers of tiny spreads from underflowing.
    if (m2 > 0.0) {
        const double se = std::sqrt(m2);
        const double kurtosis = m4 / m2 / m2;
        const double inner = std::max(0.0, (n - 1.0) * kurtosis - (n - 3.0));
        out.se = 0.5 * se * std::sqrt((n - 1.0) * inner / (n * n * n));
    }

    // Morris et al. (2019), Table 6, MCSE of the MSE:
    //     sqrt(sum_r ((e_r - c)^2 - MSE)^2 / (n (n - 1))).
    // With e_r - c = u_r + b, u_r = e_r - mean (so sum u_r = 0) and MSE = m2 + b^2,
    //     sum_r ((e_r - c)^2 - MSE)^2 = sum_r (u_r^2 - m2 + 2 b u_r)^2
    //                                 = n (m4 - m2^2 + 4 b m3 + 4 b^2 m2),
    // a sum of squares (m3^2 <= m2 (m4 - m2^2)). Then MCSE(rmse) = MCSE(MSE) / (2 rmse).
    const double mse = m2 + bias * bias;
    if (mse > 0.0) {
        const double spread =
            std::max(0.0, (m4 - m2 * m2) + 4.0 * bias * m3 + 4.0 * bias * bias * m2);
        out.rmse = std::sqrt(spread / (n - 1.0)) / (2.0 * std::sqrt(mse));
    }
    return out;
}

// The spread summaries of the replications left after taking away one batch's sums (zeros for
// the full set): se_w^2 = sum_x w m2(x), bias_w^2 = sum_x w b(x)^2, and the same with w = 1/K.
// Sums in raw-score order.
struct SpreadSummary {
    double se_w;
    double bias_w;
    double se_u;
    double bias_u;
};

SpreadSummary spread_summary(std::span<const double> weights, std::span<const double> offsets,
                             std::span<const double> sums, std::span<const double> squares,
                             const double* less_sums, const double* less_squares, double n) {
    const std::size_t k = weights.size();
    const double uniform = 1.0 / static_cast<double>(k);
    double se_w = 0.0, bias_w = 0.0, se_u = 0.0, bias_u = 0.0;
    for (std::size_t x = 0; x < k; ++x) {
        const double delta = (sums[x] - less_sums[x]) / n;
        const double m2 = std::max(0.0, (squares[x] - less_squares[x]) / n - delta * delta);
        const double bias = offsets[x] + delta;
        const double bias2 = bias * bias;
        se_w += weights[x] * m2;
        bias_w += weights[x] * bias2;
        se_u += uniform * m2;
        bias_u += uniform * bias2;
    }
    return {std::sqrt(se_w), std::sqrt(bias_w), std::sqrt(se_u), std::sqrt(bias_u)};
}

// MCSE of the root of a mean over n replications of per-replication values V_r, from the sums
// of their deviations from the first value: sd(V_r) / sqrt(n) / (2 sqrt(mean V)), Morris et al.
// (2019), Table 6, and the delta method. 0 when the mean is 0.
double root_mean_mcse(double first, double sum, double squares, double n) {
    const double delta = sum / n;
    const double mean = first + delta;
    if (!(mean > 0.0)) {
        return 0.0;
    }
    const double variance = std::max(0.0, squares / n - delta * delta);
    return std::sqrt(variance / (n - 1.0)) / (2.0 * std::sqrt(mean));
}

// One replication's values of one quantity: adds d = value - shift and its square, cube and
// fourth power to s1..s4, and returns Q = sum_x w (value - c)^2 and U = sum_x (value - c)^2,
// summed in raw-score order. One pass reads each value once; it measured faster than a
// vectorised pass for the sums followed by one for Q and U. The arrays never overlap, and
// __restrict says so: without it every store to a sum forces the next values to be reloaded
// (1.5 times slower).
struct Squares {
    double weighted;
    double unweighted;
};

Squares add_values(std::size_t k, const double* __restrict values, const double* __restrict shift,
                   const double* __restrict criterion, const double* __restrict weights,
                   double* __restrict s1, double* __restrict s2, double* __restrict s3,
                   double* __restrict s4) {
    double weighted = 0.0;
    double unweighted = 0.0;
    for (std::size_t x = 0; x < k; ++x) {
        const double d = values[x] - shift[x];
        const double d2 = d * d;
        s1[x] += d;
        s2[x] += d2;
        s3[x] += d2 * d;
        s4[x] += d2 * d2;
        const double y = values[x] - criterion[x];
        const double y2 = y * y;
        weighted += weights[x] * y2;
        unweighted += y2;
    }
    return {weighted, unweighted};
}

}  // namespace

Status MonteCarloAccumulator::reset(const MonteCarloSetup& setup) {
    // Until the setup is taken, replications are only counted and finish() refuses.
    k_ = 0;
    replications_ = 0;
    completed_ = 0;
    cut_count_ = 0;
    const std::size_t k = setup.weights.size();
    if (k < 1) {
        return invalid("no raw scores to measure");
    }
    if (setup.criterion_equated.size() != k || setup.criterion_unrounded.size() != k ||
        setup.criterion_rounded.size() != k) {
        return invalid("the criterion needs " + std::to_string(k) + " scores per quantity");
    }
    if (!all_finite(setup.weights) || !all_finite(setup.criterion_equated) ||
        !all_finite(setup.criterion_unrounded) || !all_finite(setup.criterion_rounded)) {
        return invalid("weights and criterion scores must be finite numbers");
    }
    if (setup.replications < 1) {
        return invalid("replications must be at least 1, not " +
                       std::to_string(setup.replications));
    }
    const std::size_t cuts = setup.cuts.size();
    if (cuts > static_cast<std::size_t>(kMaxCuts)) {
        return invalid("at most " + std::to_string(kMaxCuts) + " cuts, not " +
                       std::to_string(cuts));
    }
    if (cuts > 0) {
        if (setup.scale_points < 1 || setup.scale_points > kMaxScalePoints) {
            return invalid("cuts need a scale of 1 to " + std::to_string(kMaxScalePoints) +
                           " points");
        }
        for (std::size_t j = 0; j < cuts; ++j) {
            if (setup.cuts[j] < 0 || setup.cuts[j] >= setup.scale_points) {
                return invalid("cut " + std::to_string(setup.cuts[j]) + " is not a scale point");
            }
            if (j > 0 && setup.cuts[j] <= setup.cuts[j - 1]) {
                return invalid("cuts must be strictly increasing");
            }
        }
        if (setup.criterion_slots.size() != k) {
            return invalid("the criterion needs a scale point for each of the " +
                           std::to_string(k) + " scores");
        }
        for (const std::int32_t slot : setup.criterion_slots) {
            if (slot < 0 || slot >= setup.scale_points) {
                return invalid("criterion scale point " + std::to_string(slot) +
                               " is not on the scale");
            }
        }
    }

    k_ = static_cast<int>(k);
    replications_ = setup.replications;
    completed_ = 0;
    batches_ = std::min<std::int32_t>(setup.replications, kJackknifeBatches);
    batch_ = 0;
    next_batch_start_ = batch_start(1, batches_, replications_);
    cut_count_ = static_cast<int>(cuts);
    scale_points_ = cuts > 0 ? setup.scale_points : 0;
    std::copy(setup.cuts.begin(), setup.cuts.end(), cuts_.begin());
    current_.fill(0.0);
    is_touched_.fill(false);
    touched_count_ = 0;
    cut_shift_.fill(0.0);
    cut_sum_.fill(0.0);
    cut_squares_.fill(0.0);
    cut_hits_.fill(0);

    const bool stored = with_storage([&] {
        weights_.assign(setup.weights.begin(), setup.weights.end());
        reset_quantity(quantities_[0], setup.criterion_equated);
        reset_quantity(quantities_[1], setup.criterion_unrounded);
        reset_quantity(quantities_[2], setup.criterion_rounded);
        cuts_up_to_.assign(static_cast<std::size_t>(scale_points_), 0);
        criterion_slots_.clear();
        if (cut_count_ > 0) {
            criterion_slots_.assign(setup.criterion_slots.begin(), setup.criterion_slots.end());
            int below = 0;
            for (int s = 0; s < scale_points_; ++s) {
                while (below < cut_count_ && cuts_[below] <= s) {
                    ++below;
                }
                cuts_up_to_[s] = static_cast<std::uint8_t>(below);
            }
        }
        return true;
    });
    if (!stored) {
        k_ = 0;
        replications_ = 0;
        cut_count_ = 0;
        return Status::error(Status::Code::no_storage, "no storage for the Monte Carlo sums");
    }
    return Status::ok();
}

void MonteCarloAccumulator::reset_quantity(Quantity& q, std::span<const double> criterion) {
    const auto k = static_cast<std::size_t>(k_);
    q.criterion.assign(criterion.begin(), criterion.end());
    q.shift.assign(k, 0.0);
    q.running.assign(4 * k, 0.0);
    q.batch_sums.assign(k * static_cast<std::size_t>(batches_), 0.0);
    q.batch_squares.assign(k * static_cast<std::size_t>(batches_), 0.0);
    q.first_weighted = 0.0;
    q.first_unweighted = 0.0;
    q.weighted_sum = 0.0;
    q.weighted_squares = 0.0;
    q.unweighted_sum = 0.0;
    q.unweighted_squares = 0.0;
}

void MonteCarloAccumulator::add_replication(std::span<const double> equated,
                                            std::span<const double> unrounded,
                                            std::span<const double> rounded,
                                            std::span<const std::int32_t> rounded_slots) {
    // More replications than announced have no batch; finish() refuses the count.
    if (completed_ >= replications_) {
        ++completed_;
        return;
    }
    add_quantity(quantities_[0], equated);
    add_quantity(quantities_[1], unrounded);
    add_quantity(quantities_[2], rounded);
    if (cut_count_ > 0) {
        add_decisions(rounded_slots);
    }
    ++completed_;
    if (completed_ == next_batch_start_) {
        for (Quantity& q : quantities_) {
            close_batch(q);
        }
        ++batch_;
        next_batch_start_ = batch_start(batch_ + 1, batches_, replications_);
    }
}

void MonteCarloAccumulator::close_batch(Quantity& q) {
    const auto k = static_cast<std::size_t>(k_);
    const std::size_t at = static_cast<std::size_t>(batch_) * k;
    std::copy(q.running.begin(), q.running.begin() + k, q.batch_sums.begin() + at);
    std::copy(q.running.begin() + k, q.running.begin() + 2 * k, q.batch_squares.begin() + at);
    std::fill(q.running.begin(), q.running.begin() + 2 * k, 0.0);
}

void MonteCarloAccumulator::add_quantity(Quantity& q, std::span<const double> values) {
    const auto k = static_cast<std::size_t>(k_);
    if (completed_ == 0) {
        std::copy(values.begin(), values.begin() + k_, q.shift.begin());
    }
    double* sums = q.running.data();
    const Squares squares = add_values(k, values.data(), q.shift.data(), q.criterion.data(),
                                       weights_.data(), sums, sums + k, sums + 2 * k, sums + 3 * k);
    if (completed_ == 0) {
        q.first_weighted = squares.weighted;
        q.first_unweighted = squares.unweighted;
    }
    const double dw = squares.weighted - q.first_weighted;
    const double du = squares.unweighted - q.first_unweighted;
    q.weighted_sum += dw;
    q.weighted_squares += dw * dw;
    q.unweighted_sum += du;
    q.unweighted_squares += du * du;
}

void MonteCarloAccumulator::add_decisions(std::span<const std::int32_t> slots) {
    // A score is misclassified at cut C exactly when C lies in (lo, hi], lo and hi the lower and
    // higher of its scale points in this replication and by the criterion: only the cuts between
    // them are touched, so a replication costs O(K + cuts crossed).
    const std::int32_t top = scale_points_ - 1;
    for (int x = 0; x < k_; ++x) {
        const std::int32_t s = std::clamp(slots[x], std::int32_t{0}, top);
        const std::int32_t c = criterion_slots_[x];
        if (s == c) {
            continue;
        }
        const int from = cuts_up_to_[std::min(s, c)];
        const int to = cuts_up_to_[std::max(s, c)];
        for (int j = from; j < to; ++j) {
            if (!is_touched_[j]) {
                is_touched_[j] = true;
                touched_[touched_count_++] = j;
            }
            current_[j] += weights_[x];
        }
    }
    // A cut left untouched had weight 0; finish_decisions() counts those replications from
    // cut_hits_ instead of visiting every cut here.
    if (completed_ == 0) {
        for (int t = 0; t < touched_count_; ++t) {
            cut_shift_[touched_[t]] = current_[touched_[t]];
        }
    }
    for (int t = 0; t < touched_count_; ++t) {
        const int j = touched_[t];
        const double d = current_[j] - cut_shift_[j];
        cut_sum_[j] += d;
        cut_squares_[j] += d * d;
        ++cut_hits_[j];
        current_[j] = 0.0;
        is_touched_[j] = false;
    }
    touched_count_ = 0;
}

bool MonteCarloAccumulator::finish(MonteCarloErrors& result) const {
    if (k_ < 1 || completed_ != replications_) {
        return false;
    }
    return with_storage([&] {
        if (!finish_quantity(quantities_[0], result.equated) ||
            !finish_quantity(quantities_[1], result.unrounded) ||
            !finish_quantity(quantities_[2], result.rounded)) {
            return false;
        }
        finish_decisions(result.decisions);
        return true;
    });
}

bool MonteCarloAccumulator::finish_quantity(const Quantity& q,
                                            std::optional<QuantityErrors>& out) const {
    const auto k = static_cast<std::size_t>(k_);
    // Totals over the batches, in batch order.
    std::vector<double> sums(k, 0.0);
    std::vector<double> squares(k, 0.0);
    for (int b = 0; b < batches_; ++b) {
        const std::size_t at = static_cast<std::size_t>(b) * k;
        for (std::size_t x = 0; x < k; ++x) {
            sums[x] += q.batch_sums[at + x];
            squares[x] += q.batch_squares[at + x];
        }
    }
    const double sums_of_q[4] = {q.weighted_sum, q.weighted_squares, q.unweighted_sum,
                                 q.unweighted_squares};
    if (!all_finite(sums) || !all_finite(squares) || !all_finite(q.running) ||
        !all_finite(sums_of_q) || !std::isfinite(q.first_weighted) ||
        !std::isfinite(q.first_unweighted)) {
        return false;
    }
    out.reset();
    if (replications_ < 2) {
        return true;
    }

    const double n = static_cast<double>(replications_);
    QuantityErrors e;
    e.mean.resize(k);
    e.se.resize(k);
    e.rmse.resize(k);
    // The criterion's distance below the shift; the bias is this plus the mean deviation.
    std::vector<double> offsets(k);
    for (std::size_t x = 0; x < k; ++x) {
        offsets[x] = q.shift[x] - q.criterion[x];
        const ScoreMcse s = score_mcse(sums[x], squares[x], q.running[2 * k + x],
                                       q.running[3 * k + x], offsets[x], n);
        e.mean[x] = s.mean;
        e.se[x] = s.se;
        e.rmse[x] = s.rmse;
    }

    // rmse_w^2 and rmse_u^2 are means over replications of Q and U / K: the direct formula.
    e.rmse_w = root_mean_mcse(q.first_weighted, q.weighted_sum, q.weighted_squares, n);
    const double uniform = 1.0 / static_cast<double>(k);
    e.rmse_u = root_mean_mcse(q.first_unweighted * uniform, q.unweighted_sum * uniform,
                              q.unweighted_squares * uniform * uniform, n);

    // se and bias summaries are not means over replications: the delete-a-group jackknife over
    // the batches (Kott 2001), v = (B - 1) / B sum_b (theta_(b) - theta)^2, theta the estimate
    // from all replications and theta_(b) the one without batch b.
    const std::vector<double> zeros(k, 0.0);
    const SpreadSummary all =
        spread_summary(weights_, offsets, sums, squares, zeros.data(), zeros.data(), n);
    double v_se_w = 0.0, v_bias_w = 0.0, v_se_u = 0.0, v_bias_u = 0.0;
    for (int b = 0; b < batches_; ++b) {
        const std::size_t at = static_cast<std::size_t>(b) * k;
        const std::int32_t size =
            batch_start(b + 1, batches_, replications_) - batch_start(b, batches_, replications_);
        const SpreadSummary less =
            spread_summary(weights_, offsets, sums, squares, q.batch_sums.data() + at,
                           q.batch_squares.data() + at, n - static_cast<double>(size));
        v_se_w += (less.se_w - all.se_w) * (less.se_w - all.se_w);
        v_bias_w += (less.bias_w - all.bias_w) * (less.bias_w - all.bias_w);
        v_se_u += (less.se_u - all.se_u) * (less.se_u - all.se_u);
        v_bias_u += (less.bias_u - all.bias_u) * (less.bias_u - all.bias_u);
    }
    const double factor = static_cast<double>(batches_ - 1) / static_cast<double>(batches_);
    e.se_w = std::sqrt(factor * v_se_w);
    e.bias_w = std::sqrt(factor * v_bias_w);
    e.se_u = std::sqrt(factor * v_se_u);
    e.bias_u = std::sqrt(factor * v_bias_u);
    out = std::move(e);
    return true;
}

void MonteCarloAccumulator::finish_decisions(std::vector<CutDecision>& out) const {
    out.assign(static_cast<std::size_t>(cut_count_), CutDecision{});
    const double n = static_cast<double>(replications_);
    for (int j = 0; j < cut_count_; ++j) {
        CutDecision& d = out[static_cast<std::size_t>(j)];
        d.cut = cuts_[j];
        for (int x = 0; x < k_; ++x) {
            if (criterion_slots_[x] >= d.cut) {
                d.criterion_pass += weights_[x];
            }
        }
        // Replications that did not touch the cut had weight 0, a deviation of -shift.
        const double untouched = static_cast<double>(replications_ - cut_hits_[j]);
        const double sum = cut_sum_[j] - untouched * cut_shift_[j];
        const double squares = cut_squares_[j] + untouched * (cut_shift_[j] * cut_shift_[j]);
        const double delta = sum / n;
        d.misclassified = cut_shift_[j] + delta;
        if (replications_ >= 2) {
            const double variance = std::max(0.0, squares / n - delta * delta);
            d.mcse_misclassified = std::sqrt(variance / (n - 1.0));
        }
    }
}

}  // namespace eqsim
