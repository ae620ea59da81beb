// Per-deviate cost of the generator and of drawing score samples.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <string>
#include <vector>

#include "bench_data.h"
#include "engine/sampling/score_sampling.h"
#include "engine/sampling/uniform_random.h"
#include "io/anchor_table.h"

namespace {

using namespace eqsim;

void BM_DrawUniform(benchmark::State& state) {
    UniformRandom random;
    seed_uniform(random, 12345);
    double sink = 0.0;
    for (auto _ : state) {
        for (int i = 0; i < 1000; ++i) {
            sink += draw_uniform(random);
        }
    }
    benchmark::DoNotOptimize(sink);
    state.SetItemsProcessed(state.iterations() * 1000);
}
BENCHMARK(BM_DrawUniform);

void BM_DrawScoreCounts(benchmark::State& state) {
    const double scale = static_cast<double>(state.range(0));
    const bench::Populations pop = bench::example_populations();
    std::vector<double> cumulative = pop.new_form;
    std::vector<std::int32_t> lookup(static_cast<std::size_t>(scale) + 1);
    build_sampling_table(scale, cumulative, lookup);
    std::vector<std::int32_t> counts(cumulative.size());
    UniformRandom random;
    seed_uniform(random, 12345);
    for (auto _ : state) {
        draw_score_counts(random, 4329, scale, cumulative, lookup, counts);
        benchmark::DoNotOptimize(counts.data());
    }
    state.SetItemsProcessed(state.iterations() * 4329);
}
BENCHMARK(BM_DrawScoreCounts)->Arg(10)->Arg(4096);

}  // namespace

namespace {

void BM_DriverSampling(benchmark::State& state) {
    const bench::Populations pop = bench::example_populations();
    std::vector<double> cumulative = pop.new_form;
    std::vector<std::int32_t> lookup(11);
    build_sampling_table(10.0, cumulative, lookup);
    RawSamplingTable table;
    build_raw_sampling_table(cumulative, table);
    std::vector<std::int32_t> counts(cumulative.size());
    UniformRandom random;
    seed_uniform(random, 12345);
    for (auto _ : state) {
        draw_score_counts_raw(random, 4329, table, counts);
        benchmark::DoNotOptimize(counts.data());
    }
    state.SetItemsProcessed(state.iterations() * 4329);
}
BENCHMARK(BM_DriverSampling);

}  // namespace

namespace {

// The anchor-test design's samples: 1655 examinees drawn from the 37 x 13 = 481 cells of the
// bundled anchor-test example's new-group table, and each total score's share summed from its
// row of counts, as the simulation does. Compare per examinee with BM_DrawUniform.
void BM_AnchorTableSampling(benchmark::State& state) {
    std::vector<double> cells;
    std::string diagnostic;
    if (!read_anchor_table(std::string(EQSIM_SOURCE_DIR) + "/examples/kbneat_new.tab",
                           {36, 12, AnchorKind::internal}, cells, diagnostic)) {
        state.SkipWithError(diagnostic.c_str());
        return;
    }
    double total = 0.0;
    for (const double c : cells) {
        total += c;
    }
    for (double& c : cells) {
        c /= total;
    }
    std::vector<std::int32_t> lookup(11);
    build_sampling_table(10.0, cells, lookup);
    RawSamplingTable table;
    build_raw_sampling_table(cells, table);
    std::vector<std::int32_t> counts(cells.size());
    std::vector<double> totals(37);
    UniformRandom random;
    seed_uniform(random, 12345);
    constexpr std::int32_t n = 1655;
    for (auto _ : state) {
        draw_score_counts_raw(random, n, table, counts);
        for (std::size_t x = 0; x < totals.size(); ++x) {
            std::int64_t row = 0;
            for (std::size_t v = 0; v < 13; ++v) {
                row += counts[x * 13 + v];
            }
            totals[x] = static_cast<double>(row) / n;
        }
        benchmark::DoNotOptimize(totals.data());
    }
    state.SetItemsProcessed(state.iterations() * n);
}
BENCHMARK(BM_AnchorTableSampling);

}  // namespace
