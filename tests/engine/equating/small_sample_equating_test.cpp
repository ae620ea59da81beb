#include "engine/equating/small_sample_equating.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>
#include <vector>

#include "engine/equating/linear_equating.h"

namespace eqsim {
namespace {

int size_of(const std::vector<double>& v) {
    return static_cast<int>(v.size());
}

std::vector<double> relative(const std::vector<int>& counts) {
    double total = 0.0;
    for (const int c : counts) {
        total += c;
    }
    std::vector<double> result;
    for (const int c : counts) {
        result.push_back(c / total);
    }
    return result;
}

// The ends are compared exactly: they carry no sampling error.
void expect_scores(const std::vector<double>& got, const std::vector<double>& expected,
                   double tolerance, const std::string& where) {
    ASSERT_EQ(got.size(), expected.size()) << where;
    EXPECT_EQ(got.front(), expected.front()) << where;
    EXPECT_EQ(got.back(), expected.back()) << where;
    for (std::size_t i = 0; i < got.size(); ++i) {
        EXPECT_NEAR(got[i], expected[i], tolerance) << where << ", score " << i;
    }
}

TEST(IdentityEquate, LineThroughTheEndsOfBothScalesCorrectlyRounded) {
    struct Row {
        int kx;
        int ky;
        std::vector<double> expected;
    };
    const Row rows[] = {
        {5, 5, {0, 1, 2, 3, 4}},
        {5, 9, {0, 2, 4, 6, 8}},
        {4, 3, {0, 2.0 / 3.0, 4.0 / 3.0, 2}},
        {7, 3, {0, 1.0 / 3.0, 2.0 / 3.0, 1, 4.0 / 3.0, 5.0 / 3.0, 2}},
        {31, 31, {}},
    };
    for (const Row& row : rows) {
        std::vector<double> equated(static_cast<std::size_t>(row.kx), 42.0);
        ASSERT_TRUE(identity_equate(row.kx, row.ky, equated));
        for (int i = 0; i < row.kx; ++i) {
            const double expected = row.expected.empty() ? i : row.expected[i];
            EXPECT_EQ(equated[i], expected) << row.kx << " to " << row.ky << ", score " << i;
        }
    }
    std::vector<double> one(1, 42.0);
    EXPECT_FALSE(identity_equate(1, 5, one));
    EXPECT_EQ(one[0], 42.0);
}

// Hand-computed arcs. On 0..4 with the new sample's mean at the centre 2, a middle point d above
// or below the line gives y_c = (d^2 - 4) / (2d) and r^2 = 4 + y_c^2.
TEST(CircleArcEquate, HandComputedArcs) {
    const std::vector<double> centred = {0.125, 0.25, 0.25, 0.25, 0.125};  // mean 2
    struct Row {
        const char* name;
        std::vector<double> new_dist;
        std::vector<double> old_dist;
        std::vector<double> expected;
    };
    const Row rows[] = {
        // d = 1, y_c = -1.5, r = 2.5: e(x) = x - 1.5 + sqrt(6.25 - (x-2)^2).
        {"equal lengths, d > 0",
         centred,
         {0, 0, 0.25, 0.5, 0.25},
         {0, 1.79128784747792, 3, 3.7912878474779195, 4}},
        // l(x) = 2x, d = 3 - 4 = -1, y_c = 1.5, r = 2.5: e(x) = 2x + 1.5 - sqrt(6.25 - (x-2)^2).
        {"different lengths, d < 0",
         centred,
         {0, 0, 0.25, 0.5, 0.25, 0, 0, 0, 0},
         {0, 1.20871215252208, 3, 5.2087121525220805, 8}},
        {"different lengths, d = 0",
         centred,
         {0, 0, 0.125, 0.25, 0.25, 0.25, 0.125, 0, 0},
         {0, 2, 4, 6, 8}},
        // d = -2: the middle point is on the semicircle (y_c = 0), e(x) = 2x - sqrt(x (4 - x)).
        {"on the semicircle",
         centred,
         {0, 0.25, 0.5, 0.25, 0, 0, 0, 0, 0},
         {0, 0.2679491924311228, 2, 4.267949192431123, 8}},
        // l(x) = 2x/3, mu_X = 1.5, mu_Y = 1.25, d = 0.25, y_c = -4.375, r = 4.625.
        {"shorter old form, d > 0",
         {0.25, 0.25, 0.25, 0.25},
         {0.25, 0.25, 0.5},
         {0, 0.8895602061040466, 1.5562268727707131, 2}},
        // Every examinee on score 0 of both forms: the middle point is the low point, d = 0.
        {"middle point at the low end", {1, 0, 0, 0, 0}, {1, 0, 0, 0, 0}, {0, 1, 2, 3, 4}},
    };
    for (const Row& row : rows) {
        std::vector<double> equated(row.new_dist.size(), 42.0);
        ASSERT_TRUE(circle_arc_equate(row.new_dist, row.old_dist, equated)) << row.name;
        expect_scores(equated, row.expected, 1e-14, row.name);
    }
}

// The arc must tend to the line as the means come together, and equal means on forms of equal
// length must give the identity exactly. The paper's own arithmetic fails the near case: its y_c
// is then of order 1e13, and the difference of two such numbers has no correct digit at 1e-12.
TEST(CircleArcEquate, NearlyEqualMeansGiveNearlyTheIdentity) {
    // A sample whose mean m has (30 m) / 30 != m in doubles, so that the line through the ends
    // taken at m would put the middle point a rounding error away from it.
    const std::vector<double> sample =
        relative({2,  1,  2,  2,  3,  4, 5, 6, 7, 8, 9, 10, 11, 12, 12, 13,
                  13, 13, 12, 11, 10, 8, 7, 7, 5, 4, 3, 2,  2,  1,  1});
    const int k = size_of(sample);
    std::vector<double> equated(sample.size());
    ASSERT_TRUE(circle_arc_equate(sample, sample, equated));
    for (int i = 0; i < k; ++i) {
        EXPECT_EQ(equated[i], i);
    }
    for (const double moved : {1e-13, -1e-13}) {
        std::vector<double> shifted = sample;
        shifted[0] -= moved;
        shifted[k - 1] += moved;
        Moments mx;
        Moments my;
        compute_moments(sample, mx);
        compute_moments(shifted, my);
        const double d = my.mean - mx.mean;
        ASSERT_NE(d, 0.0);
        ASSERT_TRUE(circle_arc_equate(sample, shifted, equated));
        for (int i = 1; i < k - 1; ++i) {
            const double height = equated[i] - i;
            EXPECT_GT(height * d, 0.0) << "score " << i;
            EXPECT_LE(std::fabs(height), 2.0 * std::fabs(d)) << "score " << i;
        }
    }
}

TEST(CircleArcEquate, FailsWhenNoArcThroughTheThreePointsIsAFunction) {
    const std::vector<double> centred = {0.125, 0.25, 0.25, 0.25, 0.125};
    struct Row {
        const char* name;
        std::vector<double> new_dist;
        std::vector<double> old_dist;
    };
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const Row rows[] = {
        // l(2) = 4, mu_Y = 1.5: d = -2.5, d^2 > 2 * 2.
        {"beyond the semicircle, d < 0", centred, {0.5, 0, 0, 0.5, 0, 0, 0, 0, 0}},
        // mu_X = 1, mu_Y = 3: d = 2, d^2 > 3 * 1.
        {"beyond the semicircle, d > 0", {0.25, 0.5, 0.25, 0, 0}, {0, 0, 0.25, 0.5, 0.25}},
        {"new mean at the low end", {1, 0, 0, 0, 0}, {0, 1, 0, 0, 0}},
        {"new mean at the high end", {0, 0, 0, 0, 1}, {0, 0, 0, 1, 0}},
        {"a frequency not a number", centred, {0, nan, 0.25, 0.5, 0.25}},
        {"a single score point", {1}, {0.5, 0.5}},
        {"an empty old distribution", centred, {}},
    };
    for (const Row& row : rows) {
        std::vector<double> equated(row.new_dist.size(), 42.0);
        EXPECT_FALSE(circle_arc_equate(row.new_dist, row.old_dist, equated)) << row.name;
        for (const double e : equated) {
            EXPECT_EQ(e, 42.0) << row.name;
        }
    }
}

TEST(SyntheticEquate, WeightsBetweenIdentityAndLinear) {
    // The linear test's worked example: linear gives -0.2893002, 0.7024692, 1.6942386.
    const std::vector<double> new_dist = {0.2, 0.3, 0.5};
    const std::vector<double> old_dist = {0.3, 0.4, 0.3};
    std::vector<double> linear(3);
    ASSERT_TRUE(linear_equate(new_dist, old_dist, false, linear));
    std::vector<double> equated(3);
    ASSERT_TRUE(synthetic_equate(new_dist, old_dist, 1.0, equated));
    EXPECT_EQ(equated, linear);
    ASSERT_TRUE(synthetic_equate(new_dist, old_dist, 0.25, equated));
    EXPECT_NEAR(equated[0], 0.25 * -0.2893002, 1e-7);
    EXPECT_NEAR(equated[1], 0.25 * 0.7024692 + 0.75, 1e-7);
    EXPECT_NEAR(equated[2], 0.25 * 1.6942386 + 1.5, 1e-7);
    // Weight 0 is the identity whatever the samples, even one without spread that linear
    // equating cannot use.
    const std::vector<double> point = {0.0, 1.0, 0.0};
    const std::vector<double> old_long = {0.1, 0.2, 0.3, 0.2, 0.1, 0.1, 0.0};
    for (const auto& sample : {new_dist, point}) {
        ASSERT_TRUE(synthetic_equate(sample, old_long, 0.0, equated));
        EXPECT_EQ(equated, (std::vector<double>{0, 3, 6}));
    }
}

TEST(SyntheticEquate, FailsWithLinearOrOutsideItsWeights) {
    const std::vector<double> point = {0.0, 1.0, 0.0};
    const std::vector<double> old_dist = {0.3, 0.4, 0.3};
    std::vector<double> equated(3, 42.0);
    for (const double weight : {0.5, 1.0}) {
        EXPECT_FALSE(synthetic_equate(point, old_dist, weight, equated)) << weight;
    }
    const std::vector<double> spread = {0.2, 0.3, 0.5};
    for (const double weight : {-0.1, 1.5, std::numeric_limits<double>::quiet_NaN()}) {
        EXPECT_FALSE(synthetic_equate(spread, old_dist, weight, equated)) << weight;
    }
    EXPECT_EQ(equated, (std::vector<double>(3, 42.0)));
}

// Expected values from tests/reference/small_sample_reference.py, which evaluates the published
// formulas in exact fractions and 50-digit roots; its output is pasted here as it prints it.
struct ReferenceCase {
    const char* name;
    std::vector<int> new_counts;
    std::vector<int> old_counts;
    double weight;
    std::vector<double> circle_arc;
    std::vector<double> synthetic;
};

// clang-format off
const ReferenceCase kReferenceCases[] = {
    {"new31_old41",
     {1, 1, 2, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 12, 13, 13, 13, 12, 11, 10, 8, 7, 6, 5, 4,
      3, 2, 2, 1, 1},
     {0, 0, 1, 0, 1, 1, 2, 0, 2, 3, 2, 3, 4, 3, 4, 5, 4, 3, 4, 5, 3, 4, 2, 3, 2, 1, 2, 0, 1, 1,
      0, 1, 0, 0, 1, 0, 0, 0, 0, 0, 0},
     3.0 / 10.0,
     {0.0, 0.847503525778274, 1.7354605441604445, 2.6621240866805276, 3.6259859117361093,
      4.625743018468391, 5.660270826969906, 6.7286015705008095, 7.829906821258519,
      8.963483341711443, 10.12874165139853, 11.325196846325143, 12.552461319560896,
      13.810239117704203, 15.0983217358363, 16.41658520874432, 17.764988402502965,
      19.143572451037535, 20.552461319560898, 21.99186351299181, 23.462074984731863,
      24.96348334171144, 26.496573487925186, 28.061934903834143, 29.660270826969906,
      31.29240968513506, 32.959319245069445, 34.66212408668053, 36.40212721082711,
      38.18083685911161, 40.0},
     {0.1343171202545223, 1.3874225860977996, 2.6405280519410765, 3.893633517784354,
      5.146738983627631, 6.399844449470908, 7.652949915314186, 8.906055381157463,
      10.15916084700074, 11.412266312844018, 12.665371778687295, 13.918477244530571,
      15.17158271037385, 16.424688176217128, 17.677793642060404, 18.93089910790368,
      20.184004573746957, 21.437110039590234, 22.690215505433514, 23.94332097127679,
      25.196426437120067, 26.449531902963344, 27.70263736880662, 28.955742834649897,
      30.208848300493177, 31.461953766336453, 32.71505923217973, 33.96816469802301,
      35.221270163866286, 36.47437562970956, 37.72748109555284}},
    {"new41_old31",
     {0, 0, 0, 1, 0, 1, 1, 1, 2, 1, 3, 2, 3, 4, 3, 5, 4, 4, 5, 3, 4, 3, 5, 2, 3, 2, 2, 1, 2, 1,
      0, 1, 1, 0, 0, 1, 0, 0, 0, 0, 0},
     {1, 1, 1, 2, 2, 3, 3, 4, 5, 5, 6, 7, 7, 8, 8, 9, 9, 8, 8, 7, 7, 6, 5, 5, 4, 4, 3, 2, 2, 1,
      1},
     3.0 / 4.0,
     {0.0, 0.9588801496689341, 1.9066178625855397, 2.843283573253158, 3.768943228560289,
      4.683658409561064, 5.587486443779204, 6.480480508531307, 7.362689725718548,
      8.234159248492762, 9.094930340162987, 9.94504044567145, 10.784523255933518,
      11.613408765303712, 12.431723322399673, 13.239489674487178, 14.036727005602224,
      14.823450968560254, 15.599673710977783, 16.365403895407702, 17.120646713666346,
      17.865403895407702, 18.599673710977783, 19.323450968560252, 20.036727005602224,
      20.739489674487178, 21.431723322399673, 22.11340876530371, 22.784523255933518,
      23.445040445671452, 24.094930340162986, 24.734159248492762, 25.36268972571855,
      25.980480508531308, 26.587486443779202, 27.183658409561062, 27.76894322856029,
      28.343283573253157, 28.906617862585538, 29.458880149668936, 30.0},
     {-1.4225684834906185, -0.5045083156425284, 0.4135518522055616, 1.3316120200536516,
      2.2496721879017416, 3.167732355749832, 4.085792523597922, 5.003852691446012,
      5.9219128592941015, 6.839973027142192, 7.758033194990282, 8.676093362838373,
      9.594153530686462, 10.512213698534552, 11.430273866382642, 12.348334034230732,
      13.266394202078823, 14.184454369926913, 15.102514537775003, 16.020574705623094,
      16.938634873471184, 17.856695041319274, 18.774755209167363, 19.692815377015453,
      20.610875544863543, 21.528935712711633, 22.446995880559722, 23.365056048407812,
      24.2831162162559, 25.20117638410399, 26.11923655195208, 27.037296719800175,
      27.955356887648264, 28.873417055496354, 29.791477223344444, 30.709537391192534,
      31.627597559040623, 32.54565772688871, 33.4637178947368, 34.38177806258489,
      35.29983823043298}},
};
// clang-format on

TEST(SmallSampleReference, CircleArcAndSyntheticAgreeWithTheScript) {
    for (const ReferenceCase& c : kReferenceCases) {
        const std::vector<double> rx = relative(c.new_counts);
        const std::vector<double> ry = relative(c.old_counts);
        const int kx = size_of(rx);
        std::vector<double> equated(rx.size());
        ASSERT_TRUE(circle_arc_equate(rx, ry, equated)) << c.name;
        expect_scores(equated, c.circle_arc, 1e-9, std::string(c.name) + " circle-arc");
        ASSERT_TRUE(synthetic_equate(rx, ry, c.weight, equated)) << c.name;
        for (int i = 0; i < kx; ++i) {
            EXPECT_NEAR(equated[i], c.synthetic[i], 1e-9) << c.name << " synthetic, score " << i;
        }
    }
}

}  // namespace
}  // namespace eqsim
