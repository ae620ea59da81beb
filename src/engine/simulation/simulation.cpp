#include <cmath>
#include <string>
#include <vector>

#include "engine/engine.h"
#include "engine/equating/scale_conversion.h"
#include "engine/numeric/storage.h"
#include "engine/sampling/score_sampling.h"
#include "engine/sampling/uniform_random.h"
#include "engine/simulation/method_table.h"

namespace eqsim {

namespace {

// One form's population as the sampler sees it: its sample size, its cumulative table with the
// lookup and raw-value table, and the current replication's counts and relative frequencies.
// In the anchor-test design the sampler draws examinees from the cells of a group's table of total
// and anchor scores (row-major by total score, anchor_points cells a row), and also gives the
// sample's total scores.
struct FormSampler {
    int k = 0;
    std::int32_t size = 0;
    std::vector<double> cumulative;
    std::vector<std::int32_t> lookup;
    RawSamplingTable raw_table;
    std::vector<std::int32_t> counts;
    std::vector<double> sample;
    int anchor_points = 0;       // 0 in the random-groups design
    std::vector<double> totals;  // anchor test: the sample's total scores, as shares

    // Takes the population's relative frequencies (or its table's cells) and builds the tables
    // from them.
    void build(std::span<const double> relative, const SamplingChoice& sampling,
               int anchor_points_of_table = 0) {
        anchor_points = anchor_points_of_table;
        if (anchor_points > 0) {
            totals.assign(relative.size() / static_cast<std::size_t>(anchor_points), 0.0);
        }
        k = static_cast<int>(relative.size());
        cumulative.assign(relative.begin(), relative.end());
        lookup.assign(static_cast<std::size_t>(sampling.lookup_scale) + 1, 0);
        counts.assign(relative.size(), 0);
        sample.assign(relative.size(), 0.0);
        // The cumulative values do not depend on the lookup's scale.
        build_sampling_table(sampling.lookup_scale, cumulative, lookup);
        if (sampling.raw_thresholds) {
            build_raw_sampling_table(cumulative, raw_table);
        }
    }

    void draw(UniformRandom& random, const SamplingChoice& sampling) {
        if (sampling.raw_thresholds) {
            draw_score_counts_raw(random, size, raw_table, counts);
        } else {
            draw_score_counts(random, size, sampling.lookup_scale, cumulative, lookup, counts);
        }
        const double n = static_cast<double>(size);
        for (int j = 0; j < k; ++j) {
            sample[j] = static_cast<double>(counts[j]) / n;
        }
        // Each total score's share from its row's whole count, which the counts give exactly.
        for (std::size_t x = 0; x < totals.size(); ++x) {
            std::int64_t row = 0;
            for (int v = 0; v < anchor_points; ++v) {
                row += counts[x * static_cast<std::size_t>(anchor_points) +
                              static_cast<std::size_t>(v)];
            }
            totals[x] = static_cast<double>(row) / n;
        }
    }

    // The sample's total-score shares: the sample itself in the random-groups design.
    std::span<const double> total_shares() const {
        return anchor_points > 0 ? std::span<const double>(totals)
                                 : std::span<const double>(sample);
    }
};

// Running sums of one quantity per new-form raw score; means and standard deviations at the end.
// A score whose value is the same in every replication (identity equating's, a population with
// every examinee on one score) is remembered as such: the sums of its squares would leave a
// spread of rounding noise, where the spread is exactly 0 and the mean the value itself.
struct Accumulator {
    std::vector<double> sums;
    std::vector<double> squares;
    std::vector<double> first;          // each score's value in the first replication
    std::vector<unsigned char> varies;  // a later replication gave another value

    void reset(int k) {
        const auto n = static_cast<std::size_t>(k);
        sums.assign(n, 0.0);
        squares.assign(n, 0.0);
        first.assign(n, 0.0);
        varies.assign(n, 0);
    }
    void add(std::int32_t replication, int k, double value) {
        sums[k] += value;
        squares[k] += value * value;
        if (replication == 1) {
            first[k] = value;
        } else if (value != first[k]) {
            varies[k] = 1;
        }
    }
    // Sets the moments of the scores whose value never changed to that value and 0.
    void settle_constant_scores(QuantityMoments& moments) const {
        for (std::size_t k = 0; k < varies.size(); ++k) {
            if (varies[k] == 0) {
                moments.mean[k] = first[k];
                moments.sd[k] = 0.0;
            }
        }
    }
};

// Index of the first of the first k values that is not finite, or -1.
int first_non_finite(std::span<const double> values, int k) {
    for (int i = 0; i < k; ++i) {
        if (!std::isfinite(values[i])) {
            return i;
        }
    }
    return -1;
}

std::string at_replication(std::int32_t r, const std::string& what) {
    return "replication " + std::to_string(r) + ": " + what;
}

// One method's work in a simulation: its scores of the current replication and its sums.
class MethodRun {
  public:
    MethodRun(const MethodChoice& choice, int kx, int scale_points)
        : choice_(choice), info_(method_info(choice.method)), scale_points_(scale_points) {
        const auto n = static_cast<std::size_t>(kx);
        for (const Quantity q : kQuantities) {
            values_[q].assign(n, 0.0);
            sums_[q].reset(kx);
        }
        histogram_.assign(n * static_cast<std::size_t>(scale_points), 0);
        slots_.assign(n, 0);
    }

    // Measures the replications against a criterion from now on, for their Monte Carlo standard
    // errors and decisions.
    Status track_errors(const MonteCarloSetup& setup) {
        tracking_ = true;
        return errors_.reset(setup);
    }

    // Equates one pair of samples, converts to the scale and adds the scores to the sums.
    Status add_replication(std::int32_t r, const SamplePair& samples, const ScaleSpec& scale,
                           std::span<const double> conversion) {
        const int kx = static_cast<int>(samples.new_relative.size());
        std::vector<double>& equated = values_[Quantity::raw];
        const Status status = info_.equate(samples, choice_.parameter, equated);
        if (!status.is_ok()) {
            if (status.code() == Status::Code::vector_storage) {
                return status;
            }
            return Status::error(Status::Code::method_failed,
                                 at_replication(r, "the " + std::string(info_.name) +
                                                       " equating method failed on the drawn "
                                                       "samples"));
        }
        if (const int k = first_non_finite(equated, kx); k >= 0) {
            return Status::error(Status::Code::method_failed,
                                 at_replication(r,
                                                "equating gave a value that is not a finite "
                                                "number for raw score " +
                                                    std::to_string(k)));
        }
        convert_to_scale(scale, equated, conversion, values_[Quantity::scale],
                         values_[Quantity::rounded]);
        // Conversion values near the largest double can overflow along the way; such a scale
        // score has no meaning and no place in the histogram.
        if (const int k = first_non_finite(values_[Quantity::scale], kx); k >= 0) {
            return Status::error(Status::Code::method_failed,
                                 at_replication(r,
                                                "the scale conversion gave a value that is not a "
                                                "finite number for raw score " +
                                                    std::to_string(k)));
        }
        accumulate(r, kx, scale);
        if (tracking_) {
            errors_.add_replication(values_[Quantity::raw], values_[Quantity::scale],
                                    values_[Quantity::rounded], slots_);
        }
        return Status::ok();
    }

    // Turns the sums into means and standard deviations. False when they overflowed.
    bool finish(int kx, std::int32_t replications, MethodResult& result) {
        bool finite = true;
        for (const Quantity q : kQuantities) {
            finite = finite && first_non_finite(sums_[q].sums, kx) < 0 &&
                     first_non_finite(sums_[q].squares, kx) < 0;
        }
        result.choice = choice_;
        for (const Quantity q : kQuantities) {
            QuantityMoments& moments = result.moments[q];
            moments_from_sums(replications, sums_[q].sums, sums_[q].squares);
            moments.mean = std::move(sums_[q].sums);
            moments.sd = std::move(sums_[q].squares);
            sums_[q].settle_constant_scores(moments);
            finite = finite && first_non_finite(moments.mean, kx) < 0 &&
                     first_non_finite(moments.sd, kx) < 0;
        }
        result.histogram = std::move(histogram_);
        if (tracking_) {
            MonteCarloErrors errors;
            finite = finite && errors_.finish(errors);
            result.errors = std::move(errors);
        }
        return finite;
    }

  private:
    void accumulate(std::int32_t r, int kx, const ScaleSpec& scale) {
        const std::vector<double>& equated = values_[Quantity::raw];
        const std::vector<double>& unrounded = values_[Quantity::scale];
        const std::vector<double>& rounded = values_[Quantity::rounded];
        for (int k = 0; k < kx; ++k) {
            sums_[Quantity::raw].add(r, k, equated[k]);
            sums_[Quantity::scale].add(r, k, unrounded[k]);
            sums_[Quantity::rounded].add(r, k, rounded[k]);
            // Scales whose ends are not multiples of the increment can round just past them;
            // such a score counts at the nearest end so that every row still sums to R.
            const int slot = scale_point_index(rounded[k], scale, scale_points_);
            slots_[k] = slot;
            ++histogram_[static_cast<std::size_t>(k) * static_cast<std::size_t>(scale_points_) +
                         static_cast<std::size_t>(slot)];
        }
    }

    MethodChoice choice_;
    const MethodInfo& info_;
    int scale_points_;
    PerQuantity<std::vector<double>> values_;  // the current replication's scores
    PerQuantity<Accumulator> sums_;
    std::vector<std::int32_t> histogram_;
    std::vector<std::int32_t> slots_;  // the scale points of the replication's rounded scores
    bool tracking_ = false;
    MonteCarloAccumulator errors_;
};

Status invalid(std::string what) {
    return Status::error(Status::Code::invalid_input, std::move(what));
}

// The sample size options ask for: the given one, or the population's default.
Status settle_size(std::int32_t asked, std::int32_t default_size, const char* form,
                   std::int32_t& size) {
    if (asked < 0) {
        return invalid(std::string(form) + " sample size " + std::to_string(asked) + " is below 1");
    }
    size = asked > 0 ? asked : default_size;
    return Status::ok();
}

Status settle_sizes(const SimulationOptions& options, std::int32_t& new_size,
                    std::int32_t& old_size) {
    if (options.population == nullptr) {
        return invalid("no population given");
    }
    const Population& p = *options.population;
    if (Status s = settle_size(options.new_size, p.default_new_size(), "new-form", new_size);
        !s.is_ok()) {
        return s;
    }
    return settle_size(options.old_size, p.default_old_size(), "old-form", old_size);
}

// Sets every method's run to measure its replications against its criterion.
Status track_errors(const SimulationOptions& options, int scale_points,
                    std::vector<MethodRun>& runs) {
    const Population& population = *options.population;
    std::vector<std::int32_t> criterion_slots;
    for (std::size_t m = 0; m < runs.size(); ++m) {
        const PerQuantity<std::vector<double>>& criterion =
            options.criteria[options.criteria.size() == 1 ? 0 : m];
        criterion_slots.clear();
        for (const double rounded : criterion[Quantity::rounded]) {
            criterion_slots.push_back(scale_point_index(rounded, options.scale, scale_points));
        }
        MonteCarloSetup setup;
        setup.replications = options.replications;
        setup.weights = population.new_relative();
        setup.criterion_equated = criterion[Quantity::raw];
        setup.criterion_unrounded = criterion[Quantity::scale];
        setup.criterion_rounded = criterion[Quantity::rounded];
        setup.cuts = options.cuts;
        setup.scale_points = scale_points;
        setup.criterion_slots = criterion_slots;
        if (Status s = runs[m].track_errors(setup); !s.is_ok()) {
            return s;
        }
    }
    return Status::ok();
}

Status run_checked(const SimulationOptions& options, SimulationResult& result) {
    const Population& population = *options.population;
    const int kx = population.new_points();
    result.new_points = kx;
    result.old_points = population.old_points();
    result.scale_points = static_cast<int>(scale_point_count(options.scale));
    result.seed = options.seed;
    if (Status s = settle_sizes(options, result.new_size, result.old_size); !s.is_ok()) {
        return s;
    }

    std::vector<MethodRun> runs;
    FormSampler new_form;
    FormSampler old_form;
    if (!with_storage([&] {
            runs.reserve(options.methods.size());
            for (const MethodChoice& choice : options.methods) {
                runs.emplace_back(choice, kx, result.scale_points);
            }
            return true;
        })) {
        return Status::error(Status::Code::no_storage, "no storage for the simulation's arrays");
    }
    if (!with_storage([&] {
            if (population.design() == Design::anchor_test) {
                new_form.build(population.new_joint(), options.sampling,
                               population.anchor_points());
                old_form.build(population.old_joint(), options.sampling,
                               population.anchor_points());
            } else {
                new_form.build(population.new_relative(), options.sampling);
                old_form.build(population.old_relative(), options.sampling);
            }
            return true;
        })) {
        return Status::error(Status::Code::no_storage, "no storage for the sampling tables");
    }
    new_form.size = result.new_size;
    old_form.size = result.old_size;
    if (!options.criteria.empty()) {
        if (Status s = track_errors(options, result.scale_points, runs); !s.is_ok()) {
            return s;
        }
    }

    UniformRandom random;
    seed_uniform(random, options.seed);
    const AnchorPair tables{{new_form.sample, population.new_points(), population.anchor_points()},
                            {old_form.sample, population.old_points(), population.anchor_points()},
                            population.anchor()};
    const SamplePair samples{new_form.total_shares(), old_form.total_shares(),
                             static_cast<double>(new_form.size), static_cast<double>(old_form.size),
                             population.design() == Design::anchor_test ? &tables : nullptr};
    for (std::int32_t r = 1; r <= options.replications; ++r) {
        // The new form's sample is always drawn first.
        new_form.draw(random, options.sampling);
        old_form.draw(random, options.sampling);
        for (std::size_t m = 0; m < runs.size(); ++m) {
            if (Status s =
                    runs[m].add_replication(r, samples, options.scale, population.conversion());
                !s.is_ok()) {
                result.failed_method = static_cast<int>(m);
                result.failed_replication = r;
                return s;
            }
        }
        if (options.progress && !options.progress(r)) {
            return Status::error(Status::Code::cancelled, at_replication(r, "stopped"));
        }
    }

    result.methods.resize(runs.size());
    for (std::size_t m = 0; m < runs.size(); ++m) {
        // Scale scores beyond about 1e154 overflow their sums of squares, which would come out
        // as infinite or (infinity less infinity) vanishing spreads; neither is a result.
        if (!runs[m].finish(kx, options.replications, result.methods[m])) {
            result.failed_method = static_cast<int>(m);
            return Status::error(
                Status::Code::method_failed,
                "the statistics over replications overflowed (scale scores too large)");
        }
    }
    return Status::ok();
}

}  // namespace

Status check_sizes(const SimulationOptions& options) {
    std::int32_t new_size = 0;
    std::int32_t old_size = 0;
    return settle_sizes(options, new_size, old_size);
}

Status check_settings(const SimulationOptions& options) {
    std::string problem;
    if (!scale_is_usable(options.scale, problem)) {
        return invalid(problem);
    }
    if (options.replications < 1) {
        return invalid("replications must be at least 1, not " +
                       std::to_string(options.replications));
    }
    if (options.seed < 1 || options.seed > kLargestSeed) {
        return invalid("seed " + std::to_string(options.seed) + " is outside 1 to " +
                       std::to_string(kLargestSeed));
    }
    if (options.methods.empty()) {
        return invalid("no equating method given");
    }
    if (!options.criteria.empty() && options.criteria.size() != 1 &&
        options.criteria.size() != options.methods.size()) {
        return invalid("the criteria are " + std::to_string(options.criteria.size()) + " for " +
                       std::to_string(options.methods.size()) +
                       " methods; give one for every method, or one for all");
    }
    if (!options.cuts.empty() && options.criteria.empty()) {
        return invalid("cut scores need a criterion to decide against");
    }
    for (const MethodChoice& choice : options.methods) {
        if (Status s = check_parameter(choice); !s.is_ok()) {
            return s;
        }
        if (options.population != nullptr &&
            design_of(choice.method) != options.population->design()) {
            return invalid("the " + std::string(method_name(choice.method)) +
                           " method does not suit the populations' design");
        }
    }
    return Status::ok();
}

Status run_simulation(const SimulationOptions& options, SimulationResult& result) {
    result = SimulationResult{};
    if (Status s = check_settings(options); !s.is_ok()) {
        return s;
    }
    if (Status s = check_sizes(options); !s.is_ok()) {
        return s;
    }
    return run_checked(options, result);
}

Status equate_population(const Population& population, const MethodChoice& choice,
                         std::int32_t new_size, std::int32_t old_size,
                         std::vector<double>& equated) {
    if (Status s = check_parameter(choice); !s.is_ok()) {
        return s;
    }
    SimulationOptions sizes;
    sizes.population = &population;
    sizes.new_size = new_size;
    sizes.old_size = old_size;
    if (Status s = settle_sizes(sizes, new_size, old_size); !s.is_ok()) {
        return s;
    }
    const MethodInfo& info = method_info(choice.method);
    if (info.design != population.design()) {
        return invalid("the " + std::string(info.name) +
                       " method does not suit the populations' design");
    }
    const AnchorPair tables{
        {population.new_joint(), population.new_points(), population.anchor_points()},
        {population.old_joint(), population.old_points(), population.anchor_points()},
        population.anchor()};
    const SamplePair populations{population.new_relative(), population.old_relative(),
                                 static_cast<double>(new_size), static_cast<double>(old_size),
                                 population.design() == Design::anchor_test ? &tables : nullptr};
    if (!with_storage([&] {
            equated.assign(static_cast<std::size_t>(population.new_points()), 0.0);
            return true;
        })) {
        return Status::error(Status::Code::no_storage, "no storage for the equated scores");
    }
    const Status status = info.equate(populations, choice.parameter, equated);
    if (!status.is_ok()) {
        if (status.code() == Status::Code::vector_storage) {
            return status;
        }
        return Status::error(
            Status::Code::method_failed,
            "the " + std::string(info.name) + " equating method failed on the samples");
    }
    return Status::ok();
}

void moments_from_sums(std::int32_t completed, std::span<double> sums, std::span<double> squares) {
    const double m = static_cast<double>(completed);
    for (std::size_t i = 0; i < sums.size(); ++i) {
        const double mean = sums[i] / m;
        sums[i] = mean;
        const double variance = squares[i] / m - mean * mean;
        squares[i] = variance > 0.0 ? std::sqrt(variance) : 0.0;
    }
}

}  // namespace eqsim
