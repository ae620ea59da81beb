// Per-replication cost of the Monte Carlo standard errors' running sums: one method's update for
// the bundled example's 41 scores and three quantities, without cuts and with 5 (the difference
// is the decisions' update). Compare with BM_ReplicationSampling, the cost of drawing the
// replication's two samples.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <vector>

#include "bench_data.h"
#include "engine/equating/scale_conversion.h"
#include "engine/sampling/score_sampling.h"
#include "engine/sampling/uniform_random.h"
#include "engine/simulation/method_table.h"
#include "engine/simulation/monte_carlo_errors.h"

namespace {

using namespace eqsim;

// Replications of the example equated by the unsmoothed method, with their scale scores and
// scale points, against the population's own unsmoothed equating.
struct Equated {
    std::vector<double> equated;
    std::vector<double> unrounded;
    std::vector<double> rounded;
    std::vector<std::int32_t> slots;
};

struct Workload {
    std::vector<double> weights;
    Equated criterion;
    std::vector<Equated> replications;
    int scale_points = 0;
};

Equated equate_and_convert(const SamplePair& samples, const bench::Populations& pop,
                           const ScaleSpec& scale, int scale_points) {
    const auto kx = samples.new_relative.size();
    Equated e;
    e.equated.assign(kx, 0.0);
    e.unrounded.assign(kx, 0.0);
    e.rounded.assign(kx, 0.0);
    method_info(Method::unsmoothed).equate(samples, 0.0, e.equated);
    convert_to_scale(scale, e.equated, pop.conversion, e.unrounded, e.rounded);
    for (const double r : e.rounded) {
        e.slots.push_back(scale_point_index(r, scale, scale_points));
    }
    return e;
}

Workload workload() {
    const bench::Populations pop = bench::example_populations();
    const ScaleSpec scale{1.0, 36.0, 1.0};
    Workload w;
    w.scale_points = static_cast<int>(scale_point_count(scale));
    w.weights = pop.new_form;
    w.criterion =
        equate_and_convert(SamplePair{pop.new_form, pop.old_form, pop.new_size, pop.old_size}, pop,
                           scale, w.scale_points);

    bench::ReplicationSampler sampler(pop);
    const std::int32_t nx = sampler.nx;
    const std::int32_t ny = sampler.ny;
    std::vector<double> new_sample(sampler.new_counts.size());
    std::vector<double> old_sample(sampler.old_counts.size());
    UniformRandom random;
    seed_uniform(random, 12345);
    for (int r = 0; r < 64; ++r) {
        sampler.draw(random);
        for (std::size_t j = 0; j < new_sample.size(); ++j) {
            new_sample[j] = static_cast<double>(sampler.new_counts[j]) / nx;
        }
        for (std::size_t j = 0; j < old_sample.size(); ++j) {
            old_sample[j] = static_cast<double>(sampler.old_counts[j]) / ny;
        }
        w.replications.push_back(equate_and_convert(
            SamplePair{new_sample, old_sample, static_cast<double>(nx), static_cast<double>(ny)},
            pop, scale, w.scale_points));
    }
    return w;
}

void BM_MonteCarloUpdate(benchmark::State& state) {
    const Workload w = workload();
    // Cuts at scale scores 10, 15, 20, 25 and 30.
    const std::int32_t five_cuts[] = {9, 14, 19, 24, 29};
    MonteCarloSetup setup;
    setup.replications = 2147483647;
    setup.weights = w.weights;
    setup.criterion_equated = w.criterion.equated;
    setup.criterion_unrounded = w.criterion.unrounded;
    setup.criterion_rounded = w.criterion.rounded;
    setup.cuts =
        std::span<const std::int32_t>(five_cuts).first(static_cast<std::size_t>(state.range(0)));
    setup.scale_points = w.scale_points;
    setup.criterion_slots = w.criterion.slots;
    MonteCarloAccumulator accumulator;
    if (!accumulator.reset(setup).is_ok()) {
        state.SkipWithError("reset failed");
        return;
    }
    std::size_t r = 0;
    for (auto _ : state) {
        const Equated& e = w.replications[r];
        accumulator.add_replication(e.equated, e.unrounded, e.rounded, e.slots);
        r = (r + 1) % w.replications.size();
    }
    benchmark::DoNotOptimize(accumulator.completed());
    state.SetLabel(state.range(0) == 0 ? "41 scores x 3 quantities" : "and 5 cuts");
}
BENCHMARK(BM_MonteCarloUpdate)->Arg(0)->Arg(5);

}  // namespace
