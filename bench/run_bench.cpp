// Whole runs of the bundled example, per method, and the sampling-bound run with the fast
// sampling path against the cumulative search with the 10-slot lookup.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <string>

#include "bench_data.h"
#include "eqsim/replication_driver.h"

namespace {

using namespace eqsim;

void run_example(benchmark::State& state, Method method, double smoothing,
                 std::int32_t replications, const SamplingChoice& sampling) {
    ControlParameters params;
    params.method = method;
    params.smoothing = smoothing;
    params.replications = replications;
    params.seed = 20261207;
    const std::string data = bench::example_data_path();
    for (auto _ : state) {
        const Status result = run_replications(params, data, "/dev/null", stdout, sampling);
        if (!result.is_ok()) {
            state.SkipWithError(result.diagnostic().c_str());
            break;
        }
    }
    state.counters["replications"] = replications;
}

void BM_ExampleRun(benchmark::State& state) {
    const auto method = static_cast<Method>(state.range(0));
    const double smoothing = method == Method::presmoothing ? 6.0 : 0.3;
    run_example(state, method, smoothing, 500, SamplingChoice{});
    state.SetLabel(std::string(method_name(method)));
}
BENCHMARK(BM_ExampleRun)->DenseRange(1, 5)->Unit(benchmark::kMillisecond);

// The sampling-bound run: mean equating, 2000 replications.
void BM_SamplingBoundRun(benchmark::State& state) {
    const bool fast = state.range(0) == 1;
    run_example(state, Method::mean, 0.25, 2000,
                fast ? SamplingChoice{} : SamplingChoice{false, 10.0});
    state.SetLabel(fast ? "raw-value thresholds" : "10-slot lookup");
}
BENCHMARK(BM_SamplingBoundRun)->Arg(1)->Arg(0)->Unit(benchmark::kMillisecond);

}  // namespace
