// The engine's study from memory: the failure a study reports is the one a single thread would
// meet first, whatever the threads.
#include "engine/study/study.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace eqsim {
namespace {

StudyDataSet data_set(const std::string& name, const std::vector<double>& new_form) {
    StudyDataSet set;
    set.name = name;
    const std::vector<double> old_form = {1, 2, 3, 4};
    const std::vector<double> conversion = {1, 2, 3, 4};
    EXPECT_TRUE(Population::random_groups(new_form, old_form, conversion, set.population).is_ok());
    set.scale = ScaleSpec{1, 4, 1};
    return set;
}

// Linear equating fails on a new-form sample whose examinees all have one score: rarely for the
// first data set (two scores of equal share, 10 examinees), at once for the second.
TEST(RunConditions, TheEarliestFailureIsReportedWhateverTheThreads) {
    StudyDesign design;
    design.data = {data_set("rare.dat", {50, 50, 0, 0}), data_set("soon.dat", {1000, 1, 0, 0})};
    design.sizes = {{10, 10}};
    for (const Method m : {Method::unsmoothed, Method::linear, Method::mean}) {
        design.methods.push_back(StudyMethod{{m, 0.0}, false, "w", std::string(method_name(m))});
    }
    design.replications = 5000;
    design.seed = 11;
    StudyPlan plan;
    PlanFailure where;
    ASSERT_TRUE(plan_study(design, plan, where).is_ok());

    // The replication on which the first condition fails, from a simulation of its own.
    SimulationOptions alone;
    alone.population = &plan.design.data[0].population;
    alone.scale = plan.design.data[0].scale;
    const MethodChoice linear[] = {{Method::linear, 0.0}};
    alone.methods = linear;
    alone.replications = design.replications;
    alone.seed = plan.conditions[0].seed;
    alone.new_size = 10;
    alone.old_size = 10;
    SimulationResult result;
    ASSERT_EQ(run_simulation(alone, result).code(), Status::Code::method_failed);
    ASSERT_GT(result.failed_replication, 1);
    const std::string expected = "condition 1 (rare.dat, n = 10), Linear, replication " +
                                 std::to_string(result.failed_replication) + ": ";

    const int positions[] = {0, 1};
    for (const int jobs : {1, 2, 3}) {
        StudyRunOptions options;
        options.jobs = jobs;
        std::vector<ConditionResult> results;
        const Status s = run_conditions(plan, positions, options, results);
        EXPECT_EQ(s.code(), Status::Code::method_failed) << jobs;
        EXPECT_EQ(s.diagnostic().rfind(expected, 0), 0u) << jobs << ": " << s.diagnostic();
    }
}

}  // namespace
}  // namespace eqsim
