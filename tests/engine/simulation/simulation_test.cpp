#include "engine/engine.h"

#include <gtest/gtest.h>

#include <cmath>

#include <string>
#include <thread>
#include <vector>

#include "io/anchor_table.h"
#include "io/data_file.h"
#include "support/temp_dir.h"

namespace eqsim {
namespace {

// The bundled example's populations.
const Population& example() {
    static const Population population = [] {
        DataColumns data;
        std::string diagnostic;
        const std::int16_t columns[3] = {1, 2, 3};
        EXPECT_TRUE(read_data_file(testing::example_data_path(), columns, data, diagnostic))
            << diagnostic;
        Population p;
        EXPECT_TRUE(data.population(p).is_ok());
        return p;
    }();
    return population;
}

SimulationOptions options_for(const Population& p, std::span<const MethodChoice> methods,
                              std::int32_t seed, std::int32_t replications) {
    SimulationOptions o;
    o.population = &p;
    o.methods = methods;
    o.seed = seed;
    o.replications = replications;
    return o;
}

void expect_same(const MethodResult& a, const MethodResult& b) {
    for (const Quantity q : kQuantities) {
        EXPECT_EQ(a.moments[q].mean, b.moments[q].mean);
        EXPECT_EQ(a.moments[q].sd, b.moments[q].sd);
    }
    EXPECT_EQ(a.histogram, b.histogram);
}

// Two different simulations running at once on two threads each give exactly what they give
// alone: nothing is shared between them. (CI also runs this under ThreadSanitizer.)
TEST(SimulationConcurrency, TwoSimulationsAtOnceGiveWhatEachGivesAlone) {
    const Population& p = example();
    const MethodChoice post[] = {{Method::postsmoothing, 0.3}};
    const MethodChoice pre[] = {{Method::presmoothing, 6.0}, {Method::linear, 0.0}};
    const SimulationOptions first = options_for(p, post, 20261207, 40);
    SimulationOptions second = options_for(p, pre, 99, 40);
    second.new_size = 800;
    second.old_size = 1200;

    SimulationResult first_alone;
    SimulationResult second_alone;
    ASSERT_TRUE(run_simulation(first, first_alone).is_ok());
    ASSERT_TRUE(run_simulation(second, second_alone).is_ok());

    SimulationResult first_together;
    SimulationResult second_together;
    Status first_status;
    Status second_status;
    std::thread a([&] { first_status = run_simulation(first, first_together); });
    std::thread b([&] { second_status = run_simulation(second, second_together); });
    a.join();
    b.join();
    ASSERT_TRUE(first_status.is_ok()) << first_status.diagnostic();
    ASSERT_TRUE(second_status.is_ok()) << second_status.diagnostic();
    expect_same(first_together.methods[0], first_alone.methods[0]);
    for (std::size_t m = 0; m < 2; ++m) {
        expect_same(second_together.methods[m], second_alone.methods[m]);
    }
}

// Methods that share a simulation equate the same samples, so each gets what it gets alone; and
// sizes given as the rounded totals are the default sizes.
TEST(Simulation, SharedSamplesAndExplicitSizesChangeNothing) {
    const Population& p = example();
    const MethodChoice all[] = {{Method::postsmoothing, 0.2},
                                {Method::presmoothing, 4.0},
                                {Method::unsmoothed, 0.0},
                                {Method::linear, 0.0},
                                {Method::mean, 0.0}};
    SimulationResult together;
    ASSERT_TRUE(run_simulation(options_for(p, all, 5, 12), together).is_ok());
    EXPECT_EQ(together.new_size, 4329);
    EXPECT_EQ(together.old_size, 4152);
    for (std::size_t m = 0; m < std::size(all); ++m) {
        SimulationOptions one = options_for(p, std::span(all).subspan(m, 1), 5, 12);
        one.new_size = 4329;
        one.old_size = 4152;
        SimulationResult alone;
        ASSERT_TRUE(run_simulation(one, alone).is_ok());
        expect_same(together.methods[m], alone.methods[0]);
    }
}

TEST(Simulation, ProgressIsReportedAndCanStopTheRun) {
    const Population& p = example();
    const MethodChoice mean[] = {{Method::mean, 0.0}};
    SimulationOptions o = options_for(p, mean, 3, 10);
    std::vector<std::int32_t> seen;
    o.progress = [&](std::int32_t done) {
        seen.push_back(done);
        return done < 4;
    };
    SimulationResult result;
    const Status status = run_simulation(o, result);
    EXPECT_EQ(status.code(), Status::Code::cancelled);
    EXPECT_EQ(seen, (std::vector<std::int32_t>{1, 2, 3, 4}));
}

TEST(Simulation, SettingsAndPopulationsThatCannotRunAreRefused) {
    const Population& p = example();
    const MethodChoice post[] = {{Method::postsmoothing, 0.3}};
    const MethodChoice bad_degree[] = {{Method::presmoothing, 0.5}};
    const auto refused = [](const SimulationOptions& o, const std::string& fragment) {
        SimulationResult result;
        const Status status = run_simulation(o, result);
        EXPECT_EQ(status.code(), Status::Code::invalid_input) << fragment;
        EXPECT_NE(status.diagnostic().find(fragment), std::string::npos) << status.diagnostic();
    };
    SimulationOptions o = options_for(p, post, 1, 10);
    o.seed = 0;
    refused(o, "seed 0");
    o = options_for(p, bad_degree, 1, 10);
    refused(o, "pre-smoothing");
    o = options_for(p, {}, 1, 10);
    refused(o, "no equating method");
    o = options_for(p, post, 1, 10);
    o.old_size = -5;
    refused(o, "old-form sample size -5");
    o.population = nullptr;
    refused(o, "no population");
}

// A population is checked once, when it is built; each row a way to be refused.
TEST(Population, PopulationsThatCannotRunAreRefused) {
    const std::vector<double> four = {1, 2, 3, 4};
    const std::vector<double> three = {1, 2, 3};
    const std::vector<double> negative = {1, -2, 3, 4};
    const std::vector<double> not_finite = {1, 2, std::nan(""), 4};
    const std::vector<double> first_infinite = {HUGE_VAL, 2, 3, 4};
    const std::vector<double> empty = {0, 0, 0, 0};
    const std::vector<double> huge = {1e300, 1, 1, 1};
    const struct {
        const std::vector<double>& new_form;
        const std::vector<double>& old_form;
        const std::vector<double>& conversion;
        const char* fragment;
    } rows[] = {
        {three, four, four, "at least 4 score points; found 3 new-form and 4 old-form"},
        {four, three, three, "found 4 new-form and 3 old-form"},
        {four, four, three, "the conversion has 3 scale scores for 4 old-form score points"},
        {four, four, not_finite, "scale score of old-form raw score 2 is not a finite number"},
        {four, four, first_infinite, "scale score of old-form raw score 0 is not a finite number"},
        {negative, four, four, "new-form frequency of raw score 1 is -2"},
        {four, not_finite, four, "old-form frequency of raw score 2 is nan"},
        {empty, four, four, "new-form frequencies total 0.000000, which gives no sample size"},
        {four, huge, four, "old-form frequencies total"},
    };
    for (const auto& row : rows) {
        Population p;
        const Status s = Population::random_groups(row.new_form, row.old_form, row.conversion, p);
        EXPECT_EQ(s.code(), Status::Code::invalid_input) << row.fragment;
        EXPECT_NE(s.diagnostic().find(row.fragment), std::string::npos) << s.diagnostic();
    }
    Population p;
    ASSERT_TRUE(Population::random_groups(four, four, four, p).is_ok());
    EXPECT_EQ(p.default_new_size(), 10);
    EXPECT_EQ(p.new_relative()[3], 0.4);
}

// The anchor-test design: samples are drawn from the cells of the groups' tables, so at large
// sizes every method's mean equating approaches its equating of the populations themselves, and
// each method runs only on populations of its design.
TEST(Simulation, AnchorTestSamplesComeFromTheTablesCells) {
    const std::string examples = std::string(EQSIM_SOURCE_DIR) + "/examples/";
    std::vector<double> new_cells;
    std::vector<double> old_cells;
    std::vector<double> conversion;
    std::string diagnostic;
    ASSERT_TRUE(read_anchor_table(examples + "kbneat_new.tab", {36, 12, AnchorKind::internal},
                                  new_cells, diagnostic))
        << diagnostic;
    ASSERT_TRUE(read_anchor_table(examples + "kbneat_old.tab", {36, 12, AnchorKind::internal},
                                  old_cells, diagnostic))
        << diagnostic;
    ASSERT_TRUE(read_scale_conversion(examples + "kbneat_old.conv", 36, conversion, diagnostic))
        << diagnostic;
    Population p;
    ASSERT_TRUE(Population::anchor_test(new_cells, 37, old_cells, 37, 13, AnchorKind::internal,
                                        conversion, p)
                    .is_ok());
    EXPECT_EQ(p.default_new_size(), 1655);
    EXPECT_EQ(p.default_old_size(), 1638);
    const MethodChoice methods[] = {
        {Method::tucker, kWeightOfSizes}, {Method::levine, 0.5},
        {Method::chained_linear, 0.0},    {Method::frequency_estimation, kWeightOfSizes},
        {Method::braun_holland, 0.25},    {Method::chained_equipercentile, 0.0}};
    SimulationOptions o = options_for(p, methods, 17, 4);
    o.scale = ScaleSpec{100, 200, 1};
    o.new_size = 400000;
    o.old_size = 300000;
    SimulationResult result;
    ASSERT_TRUE(run_simulation(o, result).is_ok());
    for (std::size_t m = 0; m < std::size(methods); ++m) {
        std::vector<double> population;
        ASSERT_TRUE(equate_population(p, methods[m], o.new_size, o.old_size, population).is_ok());
        const QuantityMoments& raw = result.methods[m].moments[Quantity::raw];
        for (std::size_t x = 3; x + 3 < population.size(); ++x) {
            EXPECT_NEAR(raw.mean[x], population[x], 0.05) << method_name(methods[m].method) << x;
            EXPECT_LT(raw.sd[x], 0.05) << method_name(methods[m].method) << x;
        }
    }
    // A method of the other design is refused, both ways.
    const MethodChoice linear[] = {{Method::linear, 0.0}};
    o.methods = linear;
    EXPECT_EQ(run_simulation(o, result).code(), Status::Code::invalid_input);
    const Population& groups = example();
    SimulationOptions random_groups = options_for(groups, methods, 17, 4);
    EXPECT_EQ(run_simulation(random_groups, result).code(), Status::Code::invalid_input);
}

}  // namespace
}  // namespace eqsim
