// Per-replication cost of each equating method against the cost of drawing that replication's
// two samples, on the bundled example's populations and on an 81-point test. Identity,
// circle-arc and synthetic equating (weight 0.5) are meant to cost at most Linear's time plus a
// microsecond. The anchor-test methods run on the bundled anchor-test example's tables (37 total
// and 13 anchor score points).
#include <benchmark/benchmark.h>

#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "bench_data.h"
#include "engine/equating/anchor_equating.h"
#include "engine/equating/equipercentile.h"
#include "engine/equating/kernel_equating.h"
#include "engine/equating/linear_equating.h"
#include "engine/equating/small_sample_equating.h"
#include "engine/sampling/score_sampling.h"
#include "engine/sampling/uniform_random.h"
#include "engine/smoothing/loglinear.h"
#include "engine/smoothing/postsmooth.h"
#include "io/anchor_table.h"

namespace {

using namespace eqsim;

struct Replication {
    int kx = 0;
    int ky = 0;
    double nx = 0.0;
    double ny = 0.0;
    std::vector<double> rx;
    std::vector<double> ry;
};

bench::Populations populations(std::int64_t which) {
    return which == 0 ? bench::example_populations() : bench::long_test_populations();
}

std::vector<double> sample_of(UniformRandom& random, const std::vector<double>& population,
                              double size) {
    std::vector<double> cumulative = population;
    std::vector<std::int32_t> lookup(11);
    build_sampling_table(10.0, cumulative, lookup);
    RawSamplingTable table;
    build_raw_sampling_table(cumulative, table);
    std::vector<std::int32_t> counts(population.size());
    const auto n = static_cast<std::int32_t>(size + 0.5);
    draw_score_counts_raw(random, n, table, counts);
    std::vector<double> sample(population.size());
    for (std::size_t j = 0; j < sample.size(); ++j) {
        sample[j] = static_cast<double>(counts[j]) / static_cast<double>(n);
    }
    return sample;
}

Replication replication_of(std::int64_t which) {
    const bench::Populations pop = populations(which);
    UniformRandom random;
    seed_uniform(random, 424242);
    Replication r;
    r.kx = static_cast<int>(pop.new_form.size());
    r.ky = static_cast<int>(pop.old_form.size());
    r.nx = static_cast<double>(static_cast<std::int32_t>(pop.new_size + 0.5));
    r.ny = static_cast<double>(static_cast<std::int32_t>(pop.old_size + 0.5));
    r.rx = sample_of(random, pop.new_form, pop.new_size);
    r.ry = sample_of(random, pop.old_form, pop.old_size);
    return r;
}

void label(benchmark::State& state) {
    state.SetLabel(state.range(0) == 0 ? "41 points" : "81 points");
}

void BM_ReplicationSampling(benchmark::State& state) {
    const bench::Populations pop = populations(state.range(0));
    bench::ReplicationSampler sampler(pop);
    UniformRandom random;
    seed_uniform(random, 12345);
    for (auto _ : state) {
        sampler.draw(random);
        benchmark::DoNotOptimize(sampler.new_counts.data());
        benchmark::DoNotOptimize(sampler.old_counts.data());
    }
    label(state);
}
BENCHMARK(BM_ReplicationSampling)->Arg(0)->Arg(1);

void BM_PostSmoothing(benchmark::State& state) {
    const Replication r = replication_of(state.range(0));
    std::vector<double> equated(static_cast<std::size_t>(r.kx));
    const SamplePair samples{r.rx, r.ry, r.nx, r.ny};
    for (auto _ : state) {
        const Status result = postsmooth_equate(samples, 0.3, kPostsmoothTailCut, equated);
        benchmark::DoNotOptimize(result.is_ok());
    }
    label(state);
}
BENCHMARK(BM_PostSmoothing)->Arg(0)->Arg(1);

void BM_PreSmoothing(benchmark::State& state) {
    const Replication r = replication_of(state.range(0));
    std::vector<double> equated(static_cast<std::size_t>(r.kx));
    for (auto _ : state) {
        const bool result = equate_presmoothed(SamplePair{r.rx, r.ry, r.nx, r.ny}, 6, 6, equated);
        benchmark::DoNotOptimize(result);
    }
    label(state);
}
BENCHMARK(BM_PreSmoothing)->Arg(0)->Arg(1);

void BM_Kernel(benchmark::State& state) {
    const Replication r = replication_of(state.range(0));
    std::vector<double> equated(static_cast<std::size_t>(r.kx));
    for (auto _ : state) {
        const bool result = kernel_equate(SamplePair{r.rx, r.ry, r.nx, r.ny}, 6, 6, equated);
        benchmark::DoNotOptimize(result);
    }
    label(state);
}
BENCHMARK(BM_Kernel)->Arg(0)->Arg(1);

// Kernel equating's three steps on the example's replication, degree 6: the two log-linear fits,
// the two bandwidth searches, the inversion.
void BM_KernelSteps(benchmark::State& state) {
    const Replication r = replication_of(0);
    const auto k = static_cast<std::size_t>(r.kx);
    std::vector<double> scores(k);
    std::vector<double> observed_x(k);
    std::vector<double> observed_y(k);
    std::vector<double> px(k);
    std::vector<double> py(k);
    std::vector<double> coefficients(k);
    for (std::size_t i = 0; i < k; ++i) {
        scores[i] = static_cast<double>(i);
        observed_x[i] = r.nx * r.rx[i];
        observed_y[i] = r.ny * r.ry[i];
    }
    const auto fit = [&] {
        LogLinearOutcome outcome;
        return fit_loglinear(6, scores, std::span(observed_x).first(r.rx.size()), px, coefficients,
                             outcome) &&
               fit_loglinear(6, scores, std::span(observed_y).first(r.ry.size()), py, coefficients,
                             outcome);
    };
    fit();
    for (std::vector<double>* p : {&px, &py}) {
        double total = 0.0;
        for (const double v : *p) {
            total += v;
        }
        for (double& v : *p) {
            v /= total;
        }
    }
    double hx = 0.0;
    double hy = 0.0;
    select_bandwidth(px, hx);
    select_bandwidth(py, hy);
    Continuized cx;
    Continuized cy;
    continuize(px, hx, cx);
    continuize(py, hy, cy);
    std::vector<double> equated(k);
    for (auto _ : state) {
        bool result = false;
        if (state.range(0) == 0) {
            result = fit();
        } else if (state.range(0) == 1) {
            result = select_bandwidth(px, hx) && select_bandwidth(py, hy);
        } else {
            result = equate_continuized(cx, cy, equated);
        }
        benchmark::DoNotOptimize(result);
    }
    const char* labels[] = {"fits", "bandwidth searches", "inversion"};
    state.SetLabel(labels[state.range(0)]);
}
BENCHMARK(BM_KernelSteps)->Arg(0)->Arg(1)->Arg(2);

void BM_Unsmoothed(benchmark::State& state) {
    const Replication r = replication_of(state.range(0));
    std::vector<double> equated(static_cast<std::size_t>(r.kx));
    for (auto _ : state) {
        const bool result = equate_unsmoothed(r.rx, r.ry, equated);
        benchmark::DoNotOptimize(result);
    }
    label(state);
}
BENCHMARK(BM_Unsmoothed)->Arg(0)->Arg(1);

void BM_Linear(benchmark::State& state) {
    const Replication r = replication_of(state.range(0));
    std::vector<double> equated(static_cast<std::size_t>(r.kx));
    for (auto _ : state) {
        const bool result = linear_equate(r.rx, r.ry, false, equated);
        benchmark::DoNotOptimize(result);
    }
    label(state);
}
BENCHMARK(BM_Linear)->Arg(0)->Arg(1);

void BM_Identity(benchmark::State& state) {
    const Replication r = replication_of(state.range(0));
    std::vector<double> equated(static_cast<std::size_t>(r.kx));
    for (auto _ : state) {
        const bool result = identity_equate(r.kx, r.ky, equated);
        benchmark::DoNotOptimize(result);
    }
    label(state);
}
BENCHMARK(BM_Identity)->Arg(0)->Arg(1);

void BM_CircleArc(benchmark::State& state) {
    const Replication r = replication_of(state.range(0));
    std::vector<double> equated(static_cast<std::size_t>(r.kx));
    for (auto _ : state) {
        const bool result = circle_arc_equate(r.rx, r.ry, equated);
        benchmark::DoNotOptimize(result);
    }
    label(state);
}
BENCHMARK(BM_CircleArc)->Arg(0)->Arg(1);

void BM_Synthetic(benchmark::State& state) {
    const Replication r = replication_of(state.range(0));
    std::vector<double> equated(static_cast<std::size_t>(r.kx));
    for (auto _ : state) {
        const bool result = synthetic_equate(r.rx, r.ry, 0.5, equated);
        benchmark::DoNotOptimize(result);
    }
    label(state);
}
BENCHMARK(BM_Synthetic)->Arg(0)->Arg(1);

void BM_Mean(benchmark::State& state) {
    const Replication r = replication_of(state.range(0));
    std::vector<double> equated(static_cast<std::size_t>(r.kx));
    for (auto _ : state) {
        const bool result = linear_equate(r.rx, r.ry, true, equated);
        benchmark::DoNotOptimize(result);
    }
    label(state);
}
BENCHMARK(BM_Mean)->Arg(0)->Arg(1);

// The bundled anchor-test example's two tables as relative frequencies.
struct AnchorExample {
    std::vector<double> new_joint;
    std::vector<double> old_joint;
    AnchorPair pair() const {
        return {{new_joint, 37, 13}, {old_joint, 37, 13}, AnchorKind::internal};
    }
};

std::vector<double> anchor_shares(const char* file) {
    std::vector<double> counts;
    std::string diagnostic;
    if (!read_anchor_table(std::string(EQSIM_SOURCE_DIR) + "/examples/" + file,
                           {36, 12, AnchorKind::internal}, counts, diagnostic)) {
        return {};
    }
    double total = 0.0;
    for (const double c : counts) {
        total += c;
    }
    for (double& c : counts) {
        c /= total;
    }
    return counts;
}

void anchor_method(benchmark::State& state, AnchorEquateFunction equate) {
    const AnchorExample example{anchor_shares("kbneat_new.tab"), anchor_shares("kbneat_old.tab")};
    if (example.new_joint.empty() || example.old_joint.empty()) {
        state.SkipWithError("cannot read the anchor-test example");
        return;
    }
    const AnchorPair pair = example.pair();
    AnchorWorkspace work;
    std::vector<double> equated(37);
    for (auto _ : state) {
        const bool result = equate(pair, 0.5, work, equated);
        benchmark::DoNotOptimize(result);
        benchmark::DoNotOptimize(equated.data());
    }
    state.SetLabel("37 x 13 points");
}

void BM_Tucker(benchmark::State& state) {
    anchor_method(state, tucker_equate);
}
BENCHMARK(BM_Tucker);

void BM_LevineObserved(benchmark::State& state) {
    anchor_method(state, levine_observed_equate);
}
BENCHMARK(BM_LevineObserved);

void BM_ChainedLinear(benchmark::State& state) {
    anchor_method(state, chained_linear_equate);
}
BENCHMARK(BM_ChainedLinear);

void BM_FrequencyEstimation(benchmark::State& state) {
    anchor_method(state, frequency_estimation_equate);
}
BENCHMARK(BM_FrequencyEstimation);

void BM_BraunHolland(benchmark::State& state) {
    anchor_method(state, braun_holland_equate);
}
BENCHMARK(BM_BraunHolland);

void BM_ChainedEquipercentile(benchmark::State& state) {
    anchor_method(state, chained_equipercentile_equate);
}
BENCHMARK(BM_ChainedEquipercentile);

}  // namespace
