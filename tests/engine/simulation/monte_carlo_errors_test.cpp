#include "engine/simulation/monte_carlo_errors.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "engine/sampling/uniform_random.h"

namespace eqsim {
namespace {

using Table = std::vector<std::vector<double>>;  // [replication][score]

// Replications kept whole, so that a test can recompute every statistic directly.
struct Replications {
    Table quantity[3];  // equated, unrounded, rounded
    std::vector<std::vector<std::int32_t>> slots;
};

struct Targets {
    std::vector<double> weights;
    std::vector<double> criterion[3];
    std::vector<std::int32_t> cuts;
    int scale_points = 0;
    std::vector<std::int32_t> criterion_slots;
};

MonteCarloSetup setup_of(const Targets& t, std::int32_t replications) {
    MonteCarloSetup s;
    s.replications = replications;
    s.weights = t.weights;
    s.criterion_equated = t.criterion[0];
    s.criterion_unrounded = t.criterion[1];
    s.criterion_rounded = t.criterion[2];
    s.cuts = t.cuts;
    s.scale_points = t.scale_points;
    s.criterion_slots = t.criterion_slots;
    return s;
}

MonteCarloErrors run(const Targets& t, const Replications& reps) {
    const auto r_count = static_cast<std::int32_t>(reps.quantity[0].size());
    MonteCarloAccumulator accumulator;
    const Status status = accumulator.reset(setup_of(t, r_count));
    EXPECT_TRUE(status.is_ok()) << status.diagnostic();
    const std::vector<std::int32_t> no_slots(t.weights.size(), 0);
    for (std::int32_t r = 0; r < r_count; ++r) {
        accumulator.add_replication(reps.quantity[0][r], reps.quantity[1][r], reps.quantity[2][r],
                                    reps.slots.empty() ? no_slots : reps.slots[r]);
    }
    MonteCarloErrors result;
    EXPECT_TRUE(accumulator.finish(result));
    return result;
}

const std::optional<QuantityErrors>& quantity_of(const MonteCarloErrors& e, int q) {
    return q == 0 ? e.equated : q == 1 ? e.unrounded : e.rounded;
}

// Equal within a relative tolerance; an expected 0 must be exactly 0.
void expect_close(double actual, double expected, double relative, const std::string& what) {
    if (expected == 0.0) {
        EXPECT_EQ(actual, 0.0) << what;
    } else {
        EXPECT_NEAR(actual, expected, relative * std::fabs(expected)) << what;
    }
}

// One score's MCSEs on hand-made replications. Expected values in exact rational arithmetic
// (Python 3):
//   from fractions import Fraction as F; import math
//   def mcse(e, c):
//       n = len(e); mean = sum(map(F, e)) / n; u = [F(v) - mean for v in e]
//       m2, m4 = sum(x**2 for x in u) / n, sum(x**4 for x in u) / n
//       mse = m2 + (mean - F(c))**2
//       var_m2 = (n - 1) * ((n - 1) * m4 - (n - 3) * m2**2) / F(n**3)
//       q = sum(((F(v) - F(c))**2 - mse)**2 for v in e)
//       return (math.sqrt(m2 / (n - 1)), math.sqrt(var_m2) / (2 * math.sqrt(m2)),
//               math.sqrt(q / (n * (n - 1))) / (2 * math.sqrt(mse)))
TEST(MonteCarloErrors, PerScoreFormulasOnHandMadeReplications) {
    const double third = 0.1 + 0.2;  // 0.30000000000000004, against a criterion of 0.3
    const double far = 1000.1;
    // MCSEs of the mean, se and rmse; none with one replication.
    using Expected = std::optional<std::array<double, 3>>;
    const struct {
        const char* name;
        std::vector<double> values;
        double criterion;
        Expected expected;
        double relative;
    } rows[] = {
        {"one replication: nothing to estimate from", {5.0}, 4.0, std::nullopt, 0},
        {"two replications", {1, 3}, 0.0, {{1.0, 0.25, 0.89442719099991586}}, 1e-15},
        {"constant, with a bias: exact zeros", {third, third, third, third}, 0.3, {{0, 0, 0}}, 0},
        // The normal-theory se / sqrt(2 (R - 1)) would give 0.0707 for the se's MCSE.
        {"skewed and discrete",
         {0, 0, 0, 0, 0, 0, 0, 0, 0, 1},
         0.0,
         {{0.10000000000000001, 0.11560709320798618, 0.15811388300841897}},
         1e-14},
        // The same shape, with the rare value first (the shift) and far from 0.
        {"skewed, rare value first, far from 0",
         {far + 1, far, far, far, far, far, far, far, far, far},
         far,
         {{0.10000000000000001, 0.11560709320798618, 0.15811388300841897}},
         1e-11},
        {"four spread values",
         {1, 2, 4, 9},
         3.0,
         {{1.7795130420052185, 0.74608352414458268, 1.3161089837634483}},
         1e-14},
    };
    for (const auto& row : rows) {
        Targets t;
        t.weights = {1.0};
        Replications reps;
        for (int q = 0; q < 3; ++q) {
            t.criterion[q] = {row.criterion};
            for (const double v : row.values) {
                reps.quantity[q].push_back({v});
            }
        }
        const MonteCarloErrors e = run(t, reps);
        for (int q = 0; q < 3; ++q) {
            const std::optional<QuantityErrors>& errors = quantity_of(e, q);
            ASSERT_EQ(errors.has_value(), row.expected.has_value()) << row.name;
            if (!row.expected) {
                continue;
            }
            const auto [mean, se, rmse] = *row.expected;
            expect_close(errors->mean[0], mean, row.relative, row.name);
            expect_close(errors->se[0], se, row.relative, row.name);
            expect_close(errors->rmse[0], rmse, row.relative, row.name);
            // With one score of weight 1 the summary's mean squared error is the score's.
            expect_close(errors->rmse_w, rmse, 1e-11, row.name);
            expect_close(errors->rmse_u, rmse, 1e-11, row.name);
        }
    }
}

// Correlated scores around 1000 (so that the shift matters), a rounded quantity, unequal weights.
Replications correlated_replications(std::int32_t count, std::int32_t seed) {
    UniformRandom random;
    seed_uniform(random, seed);
    Replications reps;
    for (std::int32_t r = 0; r < count; ++r) {
        const double common = draw_uniform(random);
        std::vector<double> e(5), u(5), ro(5);
        for (int x = 0; x < 5; ++x) {
            e[x] = 1000.0 + x + common * (1.0 + 0.3 * x) + 0.2 * draw_uniform(random);
            u[x] = 3.0 * e[x] - 2000.0;
            ro[x] = std::floor(u[x] + 0.5);
        }
        reps.quantity[0].push_back(e);
        reps.quantity[1].push_back(u);
        reps.quantity[2].push_back(ro);
    }
    return reps;
}

Targets correlated_targets() {
    Targets t;
    t.weights = {0.1, 0.3, 0.25, 0.2, 0.15};
    for (int x = 0; x < 5; ++x) {
        t.criterion[0].push_back(1000.4 + x);
        t.criterion[1].push_back(3.0 * (1000.4 + x) - 2000.0 + 0.1);
        t.criterion[2].push_back(std::floor(t.criterion[1].back() + 0.5));
    }
    return t;
}

// se_w, bias_w, se_u, bias_u of the replications outside [skip_begin, skip_end), two-pass.
std::array<double, 4> spreads(const Table& v, const Targets& t, int q, std::size_t skip_begin,
                              std::size_t skip_end) {
    const std::size_t k = t.weights.size();
    const double n = static_cast<double>(v.size() - (skip_end - skip_begin));
    std::array<double, 4> sums{};
    for (std::size_t x = 0; x < k; ++x) {
        double mean = 0.0;
        for (std::size_t r = 0; r < v.size(); ++r) {
            if (r < skip_begin || r >= skip_end) {
                mean += v[r][x] / n;
            }
        }
        double m2 = 0.0;
        for (std::size_t r = 0; r < v.size(); ++r) {
            if (r < skip_begin || r >= skip_end) {
                m2 += (v[r][x] - mean) * (v[r][x] - mean) / n;
            }
        }
        const double bias = mean - t.criterion[q][x];
        sums[0] += t.weights[x] * m2;
        sums[1] += t.weights[x] * bias * bias;
        sums[2] += m2 / static_cast<double>(k);
        sums[3] += bias * bias / static_cast<double>(k);
    }
    for (double& s : sums) {
        s = std::sqrt(s);
    }
    return sums;
}

// sd / sqrt(R) / (2 sqrt(mean)) of per-replication values.
double root_mean_mcse(const std::vector<double>& values) {
    const double n = static_cast<double>(values.size());
    double mean = 0.0;
    for (const double v : values) {
        mean += v / n;
    }
    double ss = 0.0;
    for (const double v : values) {
        ss += (v - mean) * (v - mean);
    }
    return std::sqrt(ss / (n - 1.0) / n) / (2.0 * std::sqrt(mean));
}

// Every MCSE against a direct computation from the stored replications: two-pass moments per
// score, Q_r per replication, and the jackknife that recomputes the summaries leaving out each
// contiguous batch (batches of 1 below 50 replications; of 2 and 3 at 137).
TEST(MonteCarloErrors, AgreeWithDirectComputationFromStoredReplications) {
    const Targets t = correlated_targets();
    for (const std::int32_t count : {2, 7, 50, 137}) {
        const Replications reps = correlated_replications(count, 4711 + count);
        const MonteCarloErrors e = run(t, reps);
        const double n = static_cast<double>(count);
        for (int q = 0; q < 3; ++q) {
            const std::string what =
                "R " + std::to_string(count) + " quantity " + std::to_string(q);
            const Table& v = reps.quantity[q];
            const std::optional<QuantityErrors>& errors = quantity_of(e, q);
            ASSERT_TRUE(errors.has_value()) << what;
            for (std::size_t x = 0; x < t.weights.size(); ++x) {
                double mean = 0.0;
                for (const auto& row : v) {
                    mean += row[x] / n;
                }
                double m2 = 0.0, m4 = 0.0, mse = 0.0;
                for (const auto& row : v) {
                    const double u = row[x] - mean;
                    m2 += u * u / n;
                    m4 += u * u * u * u / n;
                    const double y = row[x] - t.criterion[q][x];
                    mse += y * y / n;
                }
                double spread = 0.0;
                for (const auto& row : v) {
                    const double y = row[x] - t.criterion[q][x];
                    spread += (y * y - mse) * (y * y - mse);
                }
                const double var_m2 =
                    (n - 1.0) * ((n - 1.0) * m4 - (n - 3.0) * m2 * m2) / (n * n * n);
                expect_close(errors->mean[x], std::sqrt(m2 / (n - 1.0)), 1e-9, what + " mean");
                expect_close(errors->se[x],
                             m2 > 0.0 ? std::sqrt(var_m2) / (2.0 * std::sqrt(m2)) : 0.0, 1e-9,
                             what + " se");
                expect_close(
                    errors->rmse[x],
                    mse > 0.0 ? std::sqrt(spread / (n * (n - 1.0))) / (2.0 * std::sqrt(mse)) : 0.0,
                    1e-9, what + " rmse");
            }

            std::vector<double> weighted, unweighted;
            for (const auto& row : v) {
                double w = 0.0, u = 0.0;
                for (std::size_t x = 0; x < row.size(); ++x) {
                    const double y = row[x] - t.criterion[q][x];
                    w += t.weights[x] * y * y;
                    u += y * y / static_cast<double>(row.size());
                }
                weighted.push_back(w);
                unweighted.push_back(u);
            }
            expect_close(errors->rmse_w, root_mean_mcse(weighted), 1e-9, what + " rmse_w");
            expect_close(errors->rmse_u, root_mean_mcse(unweighted), 1e-9, what + " rmse_u");

            const std::size_t batches = std::min<std::size_t>(v.size(), 50);
            const std::array<double, 4> all = spreads(v, t, q, 0, 0);
            std::array<double, 4> jackknife{};
            for (std::size_t b = 0; b < batches; ++b) {
                const std::array<double, 4> less =
                    spreads(v, t, q, b * v.size() / batches, (b + 1) * v.size() / batches);
                for (int i = 0; i < 4; ++i) {
                    jackknife[i] += (less[i] - all[i]) * (less[i] - all[i]);
                }
            }
            const double factor = static_cast<double>(batches - 1) / static_cast<double>(batches);
            const double got[4] = {errors->se_w, errors->bias_w, errors->se_u, errors->bias_u};
            for (int i = 0; i < 4; ++i) {
                expect_close(got[i], std::sqrt(factor * jackknife[i]), 1e-8,
                             what + " jackknife " + std::to_string(i));
            }
        }
    }
}

// Misclassification per cut against a direct count, with cuts at both ends of the scale and
// replication scale points beyond them (counted at the nearest end).
TEST(MonteCarloErrors, DecisionsAgreeWithDirectCountIncludingCutsAtTheScaleEnds) {
    Targets t;
    t.weights = {0.05, 0.15, 0.3, 0.25, 0.15, 0.1};
    for (int q = 0; q < 3; ++q) {
        t.criterion[q].assign(6, 0.0);
    }
    t.scale_points = 10;
    t.cuts = {0, 3, 4, 9};
    t.criterion_slots = {0, 2, 3, 4, 7, 9};
    UniformRandom random;
    seed_uniform(random, 99);
    Replications reps;
    for (int r = 0; r < 23; ++r) {
        std::vector<std::int32_t> slots(6);
        for (int x = 0; x < 6; ++x) {
            // Mostly near the criterion, sometimes off the scale at either end.
            const int step = static_cast<int>(draw_uniform(random) * 5.0) - 2;
            slots[x] = r % 7 == 3 ? (x % 2 == 0 ? -2 : 12) : t.criterion_slots[x] + step;
        }
        reps.slots.push_back(slots);
        for (int q = 0; q < 3; ++q) {
            reps.quantity[q].push_back(std::vector<double>(6, 0.0));
        }
    }

    for (const std::size_t count : {std::size_t{23}, std::size_t{1}}) {
        Replications some = reps;
        some.slots.resize(count);
        for (int q = 0; q < 3; ++q) {
            some.quantity[q].resize(count);
        }
        const MonteCarloErrors e = run(t, some);
        ASSERT_EQ(e.decisions.size(), t.cuts.size());
        const double n = static_cast<double>(count);
        for (std::size_t j = 0; j < t.cuts.size(); ++j) {
            const std::int32_t cut = t.cuts[j];
            double pass = 0.0;
            for (int x = 0; x < 6; ++x) {
                pass += t.criterion_slots[x] >= cut ? t.weights[x] : 0.0;
            }
            std::vector<double> m;
            for (const auto& slots : some.slots) {
                double wrong = 0.0;
                for (int x = 0; x < 6; ++x) {
                    const int s = std::clamp(slots[x], 0, 9);
                    wrong += (s >= cut) != (t.criterion_slots[x] >= cut) ? t.weights[x] : 0.0;
                }
                m.push_back(wrong);
            }
            double mean = 0.0;
            for (const double v : m) {
                mean += v / n;
            }
            double ss = 0.0;
            for (const double v : m) {
                ss += (v - mean) * (v - mean);
            }
            const CutDecision& d = e.decisions[j];
            const std::string what = "R " + std::to_string(count) + " cut " + std::to_string(cut);
            EXPECT_EQ(d.cut, cut);
            EXPECT_NEAR(d.criterion_pass, pass, 1e-15) << what;
            expect_close(d.misclassified, mean, 1e-13, what);
            if (count == 1) {
                EXPECT_FALSE(d.mcse_misclassified.has_value()) << what;
            } else {
                ASSERT_TRUE(d.mcse_misclassified.has_value()) << what;
                expect_close(*d.mcse_misclassified, std::sqrt(ss / (n - 1.0) / n), 1e-12, what);
            }
        }
        // Every score passes the cut at the scale's minimum, always.
        EXPECT_EQ(e.decisions[0].criterion_pass, 1.0);
        EXPECT_EQ(e.decisions[0].misclassified, 0.0);
        EXPECT_EQ(e.equated.has_value(), count > 1);
    }
}

// Identity equating has no sampling error: replications that repeat the same values give exactly
// 0 for every MCSE, whatever the bias, and a constant misclassification has an MCSE of exactly 0.
TEST(MonteCarloErrors, RepeatedValuesGiveExactZeros) {
    Targets t;
    t.weights = {0.1, 0.2, 0.3, 0.4};
    t.criterion[0] = {0.3, 0.75, 2.0, 1000.0};
    t.criterion[1] = {1.1, 2.2, 3.3, 4.4};
    t.criterion[2] = {1.0, 2.0, 3.0, 4.0};
    t.scale_points = 5;
    t.cuts = {1, 2, 4};
    t.criterion_slots = {0, 1, 2, 3};
    Replications reps;
    for (int r = 0; r < 137; ++r) {
        reps.quantity[0].push_back({0.1 + 0.2, 0.7, 2.3, 1000.1});
        reps.quantity[1].push_back({1.1 / 3.0, 2.2, 0.0, 4.4});
        reps.quantity[2].push_back({1.0, 3.0, 3.0, 4.0});
        reps.slots.push_back({0, 2, 2, 4});
    }
    const MonteCarloErrors e = run(t, reps);
    for (int q = 0; q < 3; ++q) {
        const std::optional<QuantityErrors>& errors = quantity_of(e, q);
        ASSERT_TRUE(errors.has_value());
        for (std::size_t x = 0; x < 4; ++x) {
            EXPECT_EQ(errors->mean[x], 0.0) << q << " " << x;
            EXPECT_EQ(errors->se[x], 0.0) << q << " " << x;
            EXPECT_EQ(errors->rmse[x], 0.0) << q << " " << x;
        }
        for (const double s : {errors->se_w, errors->bias_w, errors->rmse_w, errors->se_u,
                               errors->bias_u, errors->rmse_u}) {
            EXPECT_EQ(s, 0.0) << q;
        }
    }
    for (const CutDecision& d : e.decisions) {
        EXPECT_EQ(*d.mcse_misclassified, 0.0) << d.cut;
    }
    EXPECT_EQ(e.decisions[1].misclassified, 0.2);  // x = 1 passes cut 2 but not by the criterion
    EXPECT_EQ(e.decisions[2].misclassified, 0.4);
}

// The point of an MCSE: it predicts how much a study's result would differ in a rerun with other
// seeds. Across 300 independent studies of 120 replications, the mean reported MCSE of each index
// matches the index's observed standard deviation. The third score is 0 or 1 (probability 0.1),
// where the normal-theory MCSE of its se would be about half the observed spread.
TEST(MonteCarloErrors, PredictTheSpreadOfIndicesOverIndependentStudies) {
    constexpr int kStudies = 300;
    constexpr int kReps = 120;
    Targets t;
    t.weights = {0.5, 0.3, 0.2};
    for (int q = 0; q < 3; ++q) {
        t.criterion[q] = {0.3, 0.9, 0.0};
    }
    t.scale_points = 7;
    t.cuts = {1, 2, 4};
    t.criterion_slots = {1, 3, 0};
    UniformRandom random;
    seed_uniform(random, 20240611);

    // Indices: per score mean, se, rmse (9); se_w, bias_w, rmse_w, se_u, bias_u, rmse_u;
    // misclassified at each cut (3).
    constexpr int kIndices = 18;
    std::vector<std::array<double, kIndices>> values, mcses;
    for (int study = 0; study < kStudies; ++study) {
        Replications reps;
        for (int r = 0; r < kReps; ++r) {
            const double u1 = draw_uniform(random);
            const double u2 = draw_uniform(random);
            const std::vector<double> v = {u1, u1 + 0.5 * u2, u2 < 0.1 ? 1.0 : 0.0};
            for (int q = 0; q < 3; ++q) {
                reps.quantity[q].push_back(v);
            }
            std::vector<std::int32_t> slots;
            for (const double value : v) {
                slots.push_back(static_cast<std::int32_t>(std::floor(4.0 * value)));
            }
            reps.slots.push_back(slots);
        }
        const MonteCarloErrors e = run(t, reps);
        std::array<double, kIndices> index{}, mcse{};
        const Table& v = reps.quantity[0];
        double sums[6] = {};
        for (int x = 0; x < 3; ++x) {
            double mean = 0.0;
            for (const auto& row : v) {
                mean += row[x] / kReps;
            }
            double m2 = 0.0;
            for (const auto& row : v) {
                m2 += (row[x] - mean) * (row[x] - mean) / kReps;
            }
            const double bias = mean - t.criterion[0][x];
            index[3 * x] = mean;
            index[3 * x + 1] = std::sqrt(m2);
            index[3 * x + 2] = std::sqrt(m2 + bias * bias);
            mcse[3 * x] = e.equated->mean[x];
            mcse[3 * x + 1] = e.equated->se[x];
            mcse[3 * x + 2] = e.equated->rmse[x];
            const double terms[3] = {m2, bias * bias, m2 + bias * bias};
            for (int i = 0; i < 3; ++i) {
                sums[i] += t.weights[x] * terms[i];
                sums[3 + i] += terms[i] / 3.0;
            }
        }
        for (int i = 0; i < 6; ++i) {
            index[9 + i] = std::sqrt(sums[i]);
        }
        const QuantityErrors& q = *e.equated;
        const double summary_mcse[6] = {q.se_w, q.bias_w, q.rmse_w, q.se_u, q.bias_u, q.rmse_u};
        std::copy(std::begin(summary_mcse), std::end(summary_mcse), mcse.begin() + 9);
        for (int j = 0; j < 3; ++j) {
            index[15 + j] = e.decisions[j].misclassified;
            mcse[15 + j] = *e.decisions[j].mcse_misclassified;
        }
        values.push_back(index);
        mcses.push_back(mcse);
    }
    for (int i = 0; i < kIndices; ++i) {
        double mean = 0.0, mean_mcse = 0.0;
        for (int s = 0; s < kStudies; ++s) {
            mean += values[s][i] / kStudies;
            mean_mcse += mcses[s][i] / kStudies;
        }
        double ss = 0.0;
        for (int s = 0; s < kStudies; ++s) {
            ss += (values[s][i] - mean) * (values[s][i] - mean);
        }
        const double observed = std::sqrt(ss / (kStudies - 1));
        EXPECT_GT(mean_mcse / observed, 0.85) << "index " << i;
        EXPECT_LT(mean_mcse / observed, 1.15) << "index " << i;
    }
}

TEST(MonteCarloErrors, SetupsThatCannotBeMeasuredAreRefused) {
    const Targets good = correlated_targets();
    const std::vector<std::int32_t> slots = {0, 1, 2, 3, 4};
    const struct {
        const char* fragment;
        void (*change)(MonteCarloSetup&);
    } rows[] = {
        {"no raw scores", [](MonteCarloSetup& s) { s.weights = {}; }},
        {"criterion needs 5",
         [](MonteCarloSetup& s) { s.criterion_rounded = s.criterion_rounded.first(4); }},
        {"at least 1", [](MonteCarloSetup& s) { s.replications = 0; }},
        {"finite",
         [](MonteCarloSetup& s) {
             static const double nan_criterion[5] = {0, 0, std::nan(""), 0, 0};
             s.criterion_unrounded = nan_criterion;
         }},
        {"at most 20 cuts",
         [](MonteCarloSetup& s) {
             static const std::int32_t cuts[21] = {};
             s.cuts = cuts;
         }},
        {"strictly increasing",
         [](MonteCarloSetup& s) {
             static const std::int32_t cuts[2] = {3, 3};
             s.cuts = cuts;
         }},
        {"cut 10 is not a scale point",
         [](MonteCarloSetup& s) {
             static const std::int32_t cuts[1] = {10};
             s.cuts = cuts;
         }},
        {"criterion scale point 10",
         [](MonteCarloSetup& s) {
             static const std::int32_t off[5] = {0, 1, 10, 3, 4};
             s.criterion_slots = off;
         }},
        {"a scale point for each",
         [](MonteCarloSetup& s) { s.criterion_slots = s.criterion_slots.first(2); }},
    };
    for (const auto& row : rows) {
        MonteCarloSetup s = setup_of(good, 10);
        const std::int32_t cuts[1] = {4};
        s.cuts = cuts;
        s.scale_points = 10;
        s.criterion_slots = slots;
        row.change(s);
        MonteCarloAccumulator accumulator;
        const Status status = accumulator.reset(s);
        EXPECT_EQ(status.code(), Status::Code::invalid_input) << row.fragment;
        EXPECT_NE(status.diagnostic().find(row.fragment), std::string::npos) << status.diagnostic();
    }

    // finish() wants exactly the announced replications.
    const Replications reps = correlated_replications(4, 1);
    for (const int added : {3, 5}) {
        MonteCarloAccumulator accumulator;
        ASSERT_TRUE(accumulator.reset(setup_of(good, 4)).is_ok());
        for (int r = 0; r < added; ++r) {
            const auto& row = reps.quantity[0][static_cast<std::size_t>(r % 4)];
            accumulator.add_replication(row, row, row, {});
        }
        MonteCarloErrors result;
        EXPECT_FALSE(accumulator.finish(result)) << added;
    }
}

}  // namespace
}  // namespace eqsim
