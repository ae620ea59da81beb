#include "engine/equating/anchor_equating.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>
#include <vector>

#include "anchor_reference_values.h"
#include "engine/equating/equipercentile.h"
#include "engine/equating/linear_equating.h"
#include "io/anchor_table.h"

namespace eqsim {
namespace {

struct NamedMethod {
    const char* name;
    AnchorEquateFunction equate;
};

// In the order of the reference values' results.
const NamedMethod kMethods[] = {
    {"Tucker", tucker_equate},
    {"Levine observed-score", levine_observed_equate},
    {"chained linear", chained_linear_equate},
    {"frequency estimation", frequency_estimation_equate},
    {"Braun-Holland", braun_holland_equate},
    {"chained equipercentile", chained_equipercentile_equate},
};

const char* name_of(AnchorEquateFunction equate) {
    for (const NamedMethod& method : kMethods) {
        if (method.equate == equate) {
            return method.name;
        }
    }
    return "?";
}

std::vector<double> relative(const std::vector<double>& counts) {
    double total = 0.0;
    for (const double c : counts) {
        total += c;
    }
    std::vector<double> shares;
    for (const double c : counts) {
        shares.push_back(c / total);
    }
    return shares;
}

std::vector<double> example_counts(const char* file) {
    std::vector<double> counts;
    std::string diagnostic;
    EXPECT_TRUE(read_anchor_table(std::string(EQSIM_SOURCE_DIR) + "/examples/" + file,
                                  {36, 12, AnchorKind::internal}, counts, diagnostic))
        << diagnostic;
    return counts;
}

TEST(AnchorEquating, AgreesWithAnIndependentComputation) {
    // One workspace for every case, the largest first: a workspace sized for a longer test must
    // serve a shorter one.
    AnchorWorkspace work;
    for (int i = static_cast<int>(std::size(anchor_reference::kCases)) - 1; i >= 0; --i) {
        const anchor_reference::Case& c = anchor_reference::kCases[i];
        const bool from_files = c.new_counts.empty();
        const std::vector<double> p =
            relative(from_files ? example_counts("kbneat_new.tab") : c.new_counts);
        const std::vector<double> q =
            relative(from_files ? example_counts("kbneat_old.tab") : c.old_counts);
        ASSERT_EQ(p.size(), static_cast<std::size_t>(c.kx * c.kv));
        ASSERT_EQ(q.size(), static_cast<std::size_t>(c.ky * c.kv));
        const AnchorPair pair{{p, c.kx, c.kv}, {q, c.ky, c.kv}, c.anchor};
        for (int m = 0; m < anchor_reference::kMethodCount; ++m) {
            std::vector<double> equated(static_cast<std::size_t>(c.kx));
            ASSERT_TRUE(kMethods[m].equate(pair, c.w1, work, equated))
                << c.name << ": " << kMethods[m].name;
            for (int x = 0; x < c.kx; ++x) {
                EXPECT_NEAR(equated[x], c.equated[m][x], 1e-9)
                    << c.name << ": " << kMethods[m].name << " at x = " << x;
            }
        }
    }
}

// Both groups have anchor counts 8, 16, 24, 16 of 64 (shares exact in binary) but different
// conditional distributions of the total given the anchor; the forms differ in length.
const std::vector<double> kEqualNew = {
    3, 0, 0, 0,  //
    3, 4, 0, 0,  //
    2, 6, 3, 0,  //
    0, 4, 8, 2,  //
    0, 2, 8, 5,  //
    0, 0, 5, 5,  //
    0, 0, 0, 4,
};
const std::vector<double> kEqualOld = {
    2, 0, 0, 0,  //
    4, 3, 0, 0,  //
    2, 5, 0, 0,  //
    0, 5, 6, 0,  //
    0, 3, 8, 0,  //
    0, 0, 6, 4,  //
    0, 0, 4, 6,  //
    0, 0, 0, 6,
};

TEST(AnchorEquating, EqualGroupsGiveTheRandomGroupsEquatingOfTheMarginals) {
    const std::vector<double> p = relative(kEqualNew);
    const std::vector<double> q = relative(kEqualOld);
    std::vector<double> fx(7);
    std::vector<double> gy(8);
    std::vector<double> hp(4);
    std::vector<double> hq(4);
    ASSERT_TRUE(total_score_marginal({p, 7, 4}, fx));
    ASSERT_TRUE(total_score_marginal({q, 8, 4}, gy));
    ASSERT_TRUE(anchor_score_marginal({p, 7, 4}, hp));
    ASSERT_TRUE(anchor_score_marginal({q, 8, 4}, hq));
    EXPECT_EQ(fx, relative({3, 7, 11, 14, 15, 10, 4}));
    EXPECT_EQ(hp, hq);
    std::vector<double> linear(7);
    std::vector<double> equipercentile(7);
    ASSERT_TRUE(linear_equate(fx, gy, false, linear));
    ASSERT_TRUE(equate_unsmoothed(fx, gy, equipercentile));

    AnchorWorkspace work;
    for (const AnchorKind kind : {AnchorKind::internal, AnchorKind::external}) {
        const AnchorPair pair{{p, 7, 4}, {q, 8, 4}, kind};
        for (const double w1 : {0.0, 0.3, 1.0}) {
            for (const NamedMethod& method : kMethods) {
                if (method.equate == chained_equipercentile_equate) {
                    continue;  // its anchor-scale step keeps the anchor's discreteness
                }
                const std::vector<double>& expected =
                    method.equate == frequency_estimation_equate ? equipercentile : linear;
                std::vector<double> equated(7);
                ASSERT_TRUE(method.equate(pair, w1, work, equated)) << method.name;
                for (int x = 0; x < 7; ++x) {
                    EXPECT_NEAR(equated[x], expected[x], 1e-12)
                        << method.name << ", w1 = " << w1 << ", x = " << x;
                }
            }
        }
    }
}

TEST(AnchorEquating, FailuresWriteNothing) {
    const std::vector<double> good_new = relative(kEqualNew);  // 7 x 4
    const std::vector<double> good_old = relative(kEqualOld);  // 8 x 4
    // Every examinee of a group on anchor score 1: no anchor variance, no covariance.
    const std::vector<double> flat_anchor = relative({0, 1, 0, 0, 0, 2, 0, 0, 0, 1, 0, 0});
    // X and V independent in P.
    const std::vector<double> uncorrelated = relative({1, 1, 1, 1, 1, 1, 1, 1});
    // Every examinee of P on total score 1.
    const std::vector<double> one_total = relative({0, 0, 0, 0, 1, 2, 1, 0, 0, 0, 0, 0});
    // Correlation 0.5 in P, little anchor variance in Q: the Levine slopes take var_s(X) below 0.
    const std::vector<double> levine_new = relative({2, 1, 1, 0, 1, 2, 2, 1, 0, 1, 1, 2});
    const std::vector<double> levine_old = relative({0, 10, 0, 0, 0, 10, 1, 0, 0, 0, 1, 0});
    // P on anchor scores 0 and 1 only, Q on 2 and 3 only.
    const std::vector<double> low_anchor = relative({1, 1, 0, 0, 2, 1, 0, 0, 1, 2, 0, 0});
    const std::vector<double> high_anchor = relative({0, 0, 1, 1, 0, 0, 2, 1, 0, 0, 1, 2});
    std::vector<double> with_nan = good_new;
    with_nan[9] = std::numeric_limits<double>::quiet_NaN();
    const std::vector<double> three_anchor_points = relative({1, 2, 1, 2, 1, 1, 1, 1, 2});

    const AnchorTable new_table{good_new, 7, 4};
    const AnchorTable old_table{good_old, 8, 4};
    const AnchorKind internal = AnchorKind::internal;
    const AnchorKind external = AnchorKind::external;
    const std::vector<AnchorEquateFunction> synthetic = {frequency_estimation_equate,
                                                         braun_holland_equate};
    std::vector<AnchorEquateFunction> all;
    for (const NamedMethod& method : kMethods) {
        all.push_back(method.equate);
    }
    const std::vector<AnchorEquateFunction> weighted = {
        tucker_equate, levine_observed_equate, frequency_estimation_equate, braun_holland_equate};
    struct Row {
        const char* what;
        std::vector<AnchorEquateFunction> methods;
        AnchorPair pair;
        double w1 = 0.5;
        std::size_t equated_size = 7;
    };
    const std::vector<Row> rows = {
        {"no anchor variance in P", {tucker_equate}, {{flat_anchor, 3, 4}, old_table, internal}},
        {"no anchor variance in Q",
         {tucker_equate, chained_linear_equate},
         {new_table, {flat_anchor, 3, 4}, internal}},
        {"no covariance in P, internal anchor",
         {levine_observed_equate},
         {{uncorrelated, 2, 4}, old_table, internal}},
        {"var_P(V) + cov_P(X,V) = 0, external anchor",
         {levine_observed_equate},
         {{flat_anchor, 3, 4}, old_table, external}},
        {"negative synthetic variance",
         {levine_observed_equate},
         {{levine_new, 3, 4}, {levine_old, 3, 4}, internal},
         0.0},
        {"no total-score spread in P", {chained_linear_equate}, {{one_total, 3, 4}, old_table}},
        {"no spread in f_s", {braun_holland_equate}, {{one_total, 3, 4}, old_table}, 1.0},
        {"empty synthetic distribution",
         synthetic,
         {{low_anchor, 3, 4}, {high_anchor, 3, 4}, internal},
         0.0},
        {"w1 above 1", weighted, {new_table, old_table, internal}, 1.5},
        {"w1 below 0", weighted, {new_table, old_table, internal}, -0.25},
        {"w1 NaN",
         weighted,
         {new_table, old_table, internal},
         std::numeric_limits<double>::quiet_NaN()},
        {"a NaN share", all, {{with_nan, 7, 4}, old_table, internal}},
        {"anchors of different lengths", all, {new_table, {three_anchor_points, 3, 3}, internal}},
        {"a table shorter than its cells", all, {{good_new, 8, 4}, old_table, internal}},
        {"no score points", all, {{good_new, 0, 4}, old_table, internal}},
        {"equated too short", all, {new_table, old_table, internal}, 0.5, 6},
    };
    AnchorWorkspace work;
    for (const Row& row : rows) {
        for (const AnchorEquateFunction method : row.methods) {
            std::vector<double> equated(row.equated_size, 42.0);
            EXPECT_FALSE(method(row.pair, row.w1, work, equated))
                << row.what << ": " << name_of(method);
            EXPECT_EQ(equated, std::vector<double>(row.equated_size, 42.0))
                << row.what << ": " << name_of(method);
        }
    }
}

}  // namespace
}  // namespace eqsim
