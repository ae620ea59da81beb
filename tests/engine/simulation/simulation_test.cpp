#include "engine/simulation/simulation.h"

#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <vector>

#include "io/data_file.h"
#include "support/temp_dir.h"

namespace eqsim {
namespace {

// The bundled example's populations.
struct Populations {
    std::vector<double> new_form;
    std::vector<double> old_form;
    std::vector<double> conversion;
};

Populations example() {
    DataArrays data;
    std::string diagnostic;
    const std::int16_t columns[3] = {1, 2, 3};
    EXPECT_TRUE(read_data_file(testing::example_data_path(), columns, data, diagnostic))
        << diagnostic;
    Populations p;
    const auto kx = static_cast<std::size_t>(data.new_points);
    const auto ky = static_cast<std::size_t>(data.old_points);
    p.new_form.assign(data.new_frequencies().begin(), data.new_frequencies().begin() + kx);
    p.old_form.assign(data.old_frequencies().begin(), data.old_frequencies().begin() + ky);
    p.conversion.assign(data.scale_conversion().begin(), data.scale_conversion().begin() + ky);
    return p;
}

SimulationOptions options_for(const Populations& p, std::span<const MethodChoice> methods,
                              std::int32_t seed, std::int32_t replications) {
    SimulationOptions o;
    o.new_frequencies = p.new_form;
    o.old_frequencies = p.old_form;
    o.conversion = p.conversion;
    o.methods = methods;
    o.seed = seed;
    o.replications = replications;
    return o;
}

void expect_same(const MethodResult& a, const MethodResult& b) {
    for (const auto& [x, y] : {std::pair{&a.equated, &b.equated},
                               {&a.unrounded, &b.unrounded},
                               {&a.rounded, &b.rounded}}) {
        EXPECT_EQ(x->mean, y->mean);
        EXPECT_EQ(x->sd, y->sd);
    }
    EXPECT_EQ(a.histogram, b.histogram);
}

// Two different simulations running at once on two threads each give exactly what they give
// alone: nothing is shared between them. (CI also runs this under ThreadSanitizer.)
TEST(SimulationConcurrency, TwoSimulationsAtOnceGiveWhatEachGivesAlone) {
    const Populations p = example();
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
    const Populations p = example();
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
    const Populations p = example();
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
    const Populations p = example();
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
    const std::vector<double> three = {1, 2, 3};
    o.new_frequencies = three;
    refused(o, "at least 4 score points");
    o = options_for(p, post, 1, 10);
    o.conversion = std::span(p.conversion).first(3);
    refused(o, "conversion has 3 scale scores");
}

}  // namespace
}  // namespace eqsim
