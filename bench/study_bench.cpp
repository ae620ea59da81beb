// Studies against the runs they replace: the five methods in one condition of the example (every
// method on the same samples) against five eqsim runs, and four conditions on one thread and on
// two.
#include <benchmark/benchmark.h>

#include <string>
#include <vector>

#include "bench_data.h"
#include "eqsim/replication_driver.h"
#include "study/study_file.h"
#include "study/study_run.h"

namespace {

using namespace eqsim;

constexpr std::int32_t kReplications = 500;

StudyPlan plan_of(const std::string& text) {
    study::StudySpec spec;
    std::string diagnostic;
    StudyPlan plan;
    if (!study::parse_study_text(text, "/bench/study.txt", spec, diagnostic) ||
        !study::plan_study(spec, spec.seed, plan, diagnostic)) {
        std::fprintf(stderr, "%s\n", diagnostic.c_str());
    }
    return plan;
}

std::string five_methods_study(const std::string& sizes,
                               std::int32_t replications = kReplications) {
    return "data " + bench::example_data_path() + "\n" + sizes +
           "method Post 0.3\nmethod Pre 6\nmethod None\nmethod Linear\nmethod Mean\n"
           "replications " +
           std::to_string(replications) + "\nseed 20261207\n";
}

void run_plan(benchmark::State& state, const StudyPlan& plan, int jobs) {
    std::vector<int> positions;
    for (int i = 0; i < static_cast<int>(plan.conditions.size()); ++i) {
        positions.push_back(i);
    }
    StudyRunOptions options;
    options.jobs = jobs;
    for (auto _ : state) {
        std::vector<ConditionResult> tables;
        const Status status = run_conditions(plan, positions, options, tables);
        if (!status.is_ok()) {
            state.SkipWithError(status.diagnostic().c_str());
            break;
        }
        benchmark::DoNotOptimize(tables.data());
    }
}

// The five methods of the example at its real sizes, one thread: the samples are drawn once.
void BM_StudyOfFiveMethods(benchmark::State& state) {
    run_plan(state, plan_of(five_methods_study("")), 1);
}
BENCHMARK(BM_StudyOfFiveMethods)->Unit(benchmark::kMillisecond)->UseRealTime();

// The same five simulations as five eqsim runs, each drawing its own samples.
void BM_FiveEqsimRuns(benchmark::State& state) {
    const std::string data = bench::example_data_path();
    const MethodChoice methods[] = {{Method::postsmoothing, 0.3},
                                    {Method::presmoothing, 6.0},
                                    {Method::unsmoothed, 0.25},
                                    {Method::linear, 0.25},
                                    {Method::mean, 0.25}};
    for (auto _ : state) {
        for (const MethodChoice& m : methods) {
            ControlParameters params;
            params.method = m.method;
            params.smoothing = m.parameter;
            params.replications = kReplications;
            params.seed = 20261207;
            const Status status = run_replications(params, data, "/dev/null", stdout);
            if (!status.is_ok()) {
                state.SkipWithError(status.diagnostic().c_str());
                return;
            }
        }
    }
}
BENCHMARK(BM_FiveEqsimRuns)->Unit(benchmark::kMillisecond)->UseRealTime();

// Four conditions of equal work on 1 and 2 threads (wall time: the throughput ratio).
void BM_StudyOfFourConditions(benchmark::State& state) {
    run_plan(state, plan_of(five_methods_study("sizes 2000 2000/2500 2500/2000 2500\n", 2000)),
             static_cast<int>(state.range(0)));
    state.SetLabel(std::to_string(state.range(0)) + " jobs");
}
BENCHMARK(BM_StudyOfFourConditions)->Arg(1)->Arg(2)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace
