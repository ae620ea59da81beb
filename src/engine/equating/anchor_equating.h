// Equating in the anchor-test design (common-item nonequivalent groups): the new form X is taken
// by group P, the old form Y by group Q, and both groups take the same anchor items V. Owns the six
// methods that equate X to Y's raw scale through the anchor, after Kolen and Brennan (2014, "Test
// Equating, Scaling, and Linking", 3rd ed., chapters 4 and 5), and the marginal distributions of
// a group's table of total and anchor scores.
//
// The linear methods (Tucker, Levine observed-score, Braun-Holland) and frequency estimation
// equate for a synthetic population that weights P by w1 and Q by w2 = 1 - w1; the chained methods
// go from X to V in P and from V to Y in Q and need no synthetic population.
//
// Symbols and names: f_P(x, v) is new_group.joint[x * KV + v] and g_Q(y, v) old_group.joint[...];
// f_P(x), g_Q(y) are the total scores' marginal shares, h_P(v), h_Q(v) the anchor's; mu, var and
// cov are population moments (divisor N) of a group's relative frequencies; gamma1, gamma2 are
// the regression-like slopes of the Tucker and Levine methods (gamma_new, gamma_old in the code).
#pragma once

#include <span>
#include <vector>

namespace eqsim {

// Whether the anchor's items count toward the total score (internal) or not (external). Only the
// Levine method's slopes depend on it.
enum class AnchorKind { internal, external };

// One group's bivariate table: relative frequencies over total scores 0..total_points-1 and
// anchor scores 0..anchor_points-1, row-major by total score (joint[x * anchor_points + v]),
// summing to 1.
struct AnchorTable {
    std::span<const double> joint;
    int total_points = 0;   // KX for the new group, KY for the old
    int anchor_points = 0;  // KV, the same in both groups
};

struct AnchorPair {
    AnchorTable new_group;  // group P: the new form X and the anchor
    AnchorTable old_group;  // group Q: the old form Y and the anchor
    AnchorKind anchor = AnchorKind::internal;
};

// Working storage of the equipercentile-based methods, grown on first use and reused afterwards,
// so that equating replication after replication allocates nothing. One per thread; callers only
// keep it.
struct AnchorWorkspace {
    std::vector<double> block;
};

// Every method writes the equated score e(x) on Y's raw scale for x = 0..KX-1 to the front of
// equated, and has the same signature so that callers can keep them in one table: the chained
// methods ignore w1; Tucker, Levine and chained linear ignore the workspace.
//
// Every method returns false, writing nothing, when a table does not hold its cells (fewer than
// one score point, or joint shorter than KX * KV), the groups' anchors differ in length, equated
// has fewer than KX values, w1 (where used) is not within 0..1, storage cannot be had, or a
// result is not finite (which non-finite shares in a table give). Each states its own further
// failures.
using AnchorEquateFunction = bool (*)(const AnchorPair& pair, double w1, AnchorWorkspace& work,
                                      std::span<double> equated);

// Tucker linear equating: gamma1 = cov_P(X,V) / var_P(V), gamma2 = cov_Q(Y,V) / var_Q(V) in the
// synthetic moments (see levine_observed_equate). Fails when var_P(V) or var_Q(V) is 0, or a
// synthetic variance is unusable.
bool tucker_equate(const AnchorPair& pair, double w1, AnchorWorkspace& work,
                   std::span<double> equated);

// Levine observed-score linear equating. Internal anchor: gamma1 = var_P(X) / cov_P(X,V),
// gamma2 = var_Q(Y) / cov_Q(Y,V); external anchor: gamma1 = (var_P(X) + cov_P(X,V)) / (var_P(V) +
// cov_P(X,V)), and gamma2 likewise. With both the Tucker and the Levine slopes:
//   mu_s(X)  = mu_P(X) - w2 gamma1 (mu_P(V) - mu_Q(V))
//   mu_s(Y)  = mu_Q(Y) + w1 gamma2 (mu_P(V) - mu_Q(V))
//   var_s(X) = var_P(X) - w2 gamma1^2 (var_P(V) - var_Q(V)) + w1 w2 gamma1^2 (mu_P(V) - mu_Q(V))^2
//   var_s(Y) = var_Q(Y) + w1 gamma2^2 (var_P(V) - var_Q(V)) + w1 w2 gamma2^2 (mu_P(V) - mu_Q(V))^2
//   e(x)     = mu_s(Y) + sqrt(var_s(Y) / var_s(X)) (x - mu_s(X)).
// Fails when a slope's divisor is 0, or a synthetic variance is unusable: var_s(X) not above 0,
// var_s(Y) below 0, or either not finite (the Levine slopes can exceed what the anchor's
// variances allow).
bool levine_observed_equate(const AnchorPair& pair, double w1, AnchorWorkspace& work,
                            std::span<double> equated);

// Chained linear equating: x to the anchor by linear equating of X and V in P, then the anchor to
// Y by linear equating of V and Y in Q. Fails when sd_P(X) or sd_Q(V) is 0.
bool chained_linear_equate(const AnchorPair& pair, double w1, AnchorWorkspace& work,
                           std::span<double> equated);

// Frequency estimation (post-stratification) equipercentile equating. The synthetic
// distributions are
//   f_s(x) = w1 f_P(x) + w2 sum_v f_P(x|v) h_Q(v),   g_s(y) = w1 sum_v g_Q(y|v) h_P(v) + w2 g_Q(y),
// where a term whose anchor score is empty in the group it conditions on is left out, and each is
// rescaled to sum 1; then f_s is equated to g_s as equate_unsmoothed equates two distributions
// (including its uniform mass for a distribution with a flat step). Fails when a synthetic
// distribution is empty (w1 = 0, say, with Q's anchor scores all empty in P).
bool frequency_estimation_equate(const AnchorPair& pair, double w1, AnchorWorkspace& work,
                                 std::span<double> equated);

// Braun-Holland linear equating: the mean and standard deviation of f_s matched to those of g_s
// (the synthetic distributions of frequency estimation). Fails as frequency estimation does, and
// when f_s has no spread.
bool braun_holland_equate(const AnchorPair& pair, double w1, AnchorWorkspace& work,
                          std::span<double> equated);

// Chained equipercentile equating: x to a real anchor score by equipercentile equating of X's and
// V's marginals in P, then that anchor score to Y: its percentile rank under V's marginal in Q
// (each score's probability uniform over its unit interval), inverted under Y's marginal in Q.
// Both steps prepare their marginals as equate_unsmoothed does. No failures of its own beyond
// non-finite results (an empty table gives them).
bool chained_equipercentile_equate(const AnchorPair& pair, double w1, AnchorWorkspace& work,
                                   std::span<double> equated);

// The marginal shares of a table's total scores (total_points values) or anchor scores
// (anchor_points values): the population equating's building block, and the weights of the
// summaries over the new group's total scores. False, writing nothing, when the table does not
// hold its cells or marginal is too short.
bool total_score_marginal(const AnchorTable& table, std::span<double> marginal);
bool anchor_score_marginal(const AnchorTable& table, std::span<double> marginal);

}  // namespace eqsim
