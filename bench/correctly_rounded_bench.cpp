// Cost per call of the correctly rounded exp and log against the C library's, on argument
// streams like the log-linear fit's: linear predictors of fitted frequencies for exp, counts
// and ratios of observed to fitted counts for log.
#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdint>
#include <vector>

#include "engine/numeric/correctly_rounded.h"

namespace {

constexpr int kStreamLength = 4096;

// A fixed pseudo-random stream (splitmix64), uniform on [low, high).
std::vector<double> uniform_stream(std::uint64_t seed, double low, double high) {
    std::vector<double> values(kStreamLength);
    for (double& v : values) {
        std::uint64_t z = (seed += 0x9e3779b97f4a7c15u);
        z = (z ^ (z >> 30)) * 0xbf58476d1ce4e5b9u;
        z = (z ^ (z >> 27)) * 0x94d049bb133111ebu;
        z ^= z >> 31;
        v = low + (high - low) * (static_cast<double>(z >> 11) * 0x1p-53);
    }
    return values;
}

const std::vector<double>& exp_arguments() {
    static const std::vector<double> values = uniform_stream(1, -25.0, 9.0);
    return values;
}

// Counts 0.5..5000 and ratios near 1, interleaved.
const std::vector<double>& log_arguments() {
    static const std::vector<double> values = [] {
        std::vector<double> counts = uniform_stream(2, 0.5, 5000.0);
        const std::vector<double> ratios = uniform_stream(3, 0.8, 1.25);
        for (int i = 1; i < kStreamLength; i += 2) {
            counts[i] = ratios[i];
        }
        return counts;
    }();
    return values;
}

template <double (*F)(double)>
void run(benchmark::State& state, const std::vector<double>& arguments) {
    double sink = 0.0;
    for (auto _ : state) {
        for (double x : arguments) {
            sink += F(x);
        }
    }
    benchmark::DoNotOptimize(sink);
    state.SetItemsProcessed(state.iterations() * kStreamLength);
}

double library_exp(double x) {
    return std::exp(x);
}
double library_log(double x) {
    return std::log(x);
}

void BM_CorrectlyRoundedExp(benchmark::State& state) {
    run<eqsim::cr_exp>(state, exp_arguments());
}
void BM_LibraryExp(benchmark::State& state) {
    run<library_exp>(state, exp_arguments());
}
void BM_CorrectlyRoundedLog(benchmark::State& state) {
    run<eqsim::cr_log>(state, log_arguments());
}
void BM_LibraryLog(benchmark::State& state) {
    run<library_log>(state, log_arguments());
}
BENCHMARK(BM_CorrectlyRoundedExp);
BENCHMARK(BM_LibraryExp);
BENCHMARK(BM_CorrectlyRoundedLog);
BENCHMARK(BM_LibraryLog);

}  // namespace
