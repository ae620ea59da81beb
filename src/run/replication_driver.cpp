#include "run/replication_driver.h"

#include <cmath>
#include <new>
#include <vector>

#include "equating/equipercentile.h"
#include "equating/linear_equating.h"
#include "equating/scale_conversion.h"
#include "run/data_file.h"
#include "run/report.h"
#include "run/report_destination.h"
#include "sampling/score_sampling.h"
#include "sampling/uniform_random.h"
#include "smoothing/loglinear.h"
#include "smoothing/postsmooth.h"

namespace eqsim {

namespace {

constexpr double postsmooth_tail_cut = 0.005;

// One form's population: its sample size and sampling tables.
struct FormPopulation {
    std::int32_t sample_size = 0;
    std::span<double> cumulative;
    std::vector<std::int32_t> lookup;
    RawSamplingTable raw_table;
    std::vector<std::int32_t> counts;
    std::vector<double> sample;  // the current replication's relative frequencies
};

// Running sums of one quantity per new-form raw score; means and standard deviations at the end.
struct Accumulator {
    std::vector<double> sums;
    std::vector<double> squares;

    void add(int k, double value) {
        sums[k] += value;
        squares[k] += value * value;
    }
};

// The sample size a population total gives, or false when it is no usable size.
bool sample_size_of_total(double total, std::int32_t& size) {
    if (!(total > 0.0) || !(total + 0.5 < 2147483648.0)) {
        return false;
    }
    size = static_cast<std::int32_t>(total + 0.5);
    return size >= 1;
}

std::string form_total_problem(const std::string& data_name, const char* form, double total) {
    return data_name + ": " + form + " frequencies total " + std::to_string(total) +
           ", which gives no sample size from 1 to 2147483647";
}

struct Simulation {
    const ControlParameters& params;
    SamplingChoice sampling;
    std::int16_t kx = 0;
    std::int16_t ky = 0;
    std::int16_t scale_points = 0;
    double working_smoothing = 0.0;
    std::int16_t degree = 0;
    FormPopulation new_form;
    FormPopulation old_form;
    std::span<const double> conversion;
    std::vector<double> equated;
    std::vector<double> unrounded;
    std::vector<double> rounded;
    Accumulator equated_sums;
    Accumulator unrounded_sums;
    Accumulator rounded_sums;
    std::vector<std::int32_t> histogram;

    Simulation(const ControlParameters& p, const SamplingChoice& s) : params(p), sampling(s) {}

    void allocate(std::int32_t rows) {
        const auto n = static_cast<std::size_t>(rows);
        for (FormPopulation* form : {&new_form, &old_form}) {
            form->lookup.assign(static_cast<std::size_t>(sampling.lookup_scale) + 1, 0);
            form->counts.assign(n, 0);
            form->sample.assign(n, 0.0);
        }
        for (std::vector<double>* v : {&equated, &unrounded, &rounded}) {
            v->assign(n, 0.0);
        }
        for (Accumulator* a : {&equated_sums, &unrounded_sums, &rounded_sums}) {
            a->sums.assign(n, 0.0);
            a->squares.assign(n, 0.0);
        }
        histogram.assign(static_cast<std::size_t>(kx) * static_cast<std::size_t>(scale_points), 0);
    }

    void build_tables(FormPopulation& form, int k) {
        // The cumulative values do not depend on the lookup's scale.
        build_sampling_table(k, sampling.lookup_scale, form.cumulative, form.lookup);
        if (sampling.raw_thresholds) {
            build_raw_sampling_table(k, form.cumulative, form.raw_table);
        }
    }

    void draw_sample(FormPopulation& form, int k) {
        if (sampling.raw_thresholds) {
            draw_score_counts_raw(form.sample_size, k, form.raw_table, form.counts);
        } else {
            draw_score_counts(form.sample_size, k, sampling.lookup_scale, form.cumulative,
                              form.lookup, form.counts);
        }
        const double size = static_cast<double>(form.sample_size);
        for (int j = 0; j < k; ++j) {
            form.sample[j] = static_cast<double>(form.counts[j]) / size;
        }
    }

    bool equate_samples() {
        const double nx = static_cast<double>(new_form.sample_size);
        const double ny = static_cast<double>(old_form.sample_size);
        const std::span<const double> rx(new_form.sample.data(), static_cast<std::size_t>(kx));
        const std::span<const double> ry(old_form.sample.data(), static_cast<std::size_t>(ky));
        const std::span<double> out(equated.data(), static_cast<std::size_t>(kx));
        switch (params.method) {
            case 1: {
                const std::span<double> outputs[1] = {out};
                return postsmooth_equate(0, kx - 1, 0, ky - 1, nx, ny, rx, ry, outputs,
                                         std::span<const double>(&working_smoothing, 1), 1,
                                         postsmooth_tail_cut) == 0;
            }
            case 2:
                return equate_presmoothed(kx, ky, nx, ny, rx, ry, degree, degree, out) > 0;
            case 3:
                return equate_unsmoothed(kx, ky, rx, ry, out) != 0;
            case 4:
                return linear_equate(kx, ky, rx, ry, 0, out) != 0;
            case 5:
                return linear_equate(kx, ky, rx, ry, 1, out) != 0;
            default:
                return false;
        }
    }

    int histogram_slot(double rounded_score) const {
        const double slot =
            std::trunc((rounded_score - params.scale.min) / params.scale.increment + 0.5);
        // Scales whose ends are not multiples of the increment can round just past them; such a
        // score counts at the nearest end so that every row still sums to R.
        if (!(slot >= 0.0)) {
            return 0;
        }
        if (slot > static_cast<double>(scale_points - 1)) {
            return scale_points - 1;
        }
        return static_cast<int>(slot);
    }

    void accumulate() {
        for (int k = 0; k < kx; ++k) {
            equated_sums.add(k, equated[k]);
            unrounded_sums.add(k, unrounded[k]);
            rounded_sums.add(k, rounded[k]);
            ++histogram[static_cast<std::size_t>(k) * static_cast<std::size_t>(scale_points) +
                        static_cast<std::size_t>(histogram_slot(rounded[k]))];
        }
    }

    // Index of the first of the new form's values that is not finite, or -1.
    int first_non_finite(const std::vector<double>& values) const {
        for (int k = 0; k < kx; ++k) {
            if (!std::isfinite(values[k])) {
                return k;
            }
        }
        return -1;
    }

    // Runs every replication. Returns false, with diagnostic, when the method fails.
    bool replicate(std::string& diagnostic) {
        for (std::int32_t r = 1; r <= params.replications; ++r) {
            draw_sample(new_form, kx);
            draw_sample(old_form, ky);
            if (!equate_samples()) {
                std::string name;
                method_name(params.method, name);
                diagnostic = "replication " + std::to_string(r) + ": the " + name +
                             " equating method failed on the drawn samples";
                return false;
            }
            if (const int k = first_non_finite(equated); k >= 0) {
                diagnostic = "replication " + std::to_string(r) +
                             ": equating gave a value that is not a finite number for raw score " +
                             std::to_string(k);
                return false;
            }
            convert_to_scale(kx, ky, params.scale, equated, conversion, unrounded, rounded);
            // Conversion values near the largest double can overflow along the way; such a
            // scale score has no meaning and no place in the histogram.
            if (const int k = first_non_finite(unrounded); k >= 0) {
                diagnostic = "replication " + std::to_string(r) +
                             ": the scale conversion gave a value that is not a finite number "
                             "for raw score " +
                             std::to_string(k);
                return false;
            }
            accumulate();
        }
        return true;
    }

    bool sums_are_finite() const {
        for (const Accumulator* a : {&equated_sums, &unrounded_sums, &rounded_sums}) {
            if (first_non_finite(a->sums) >= 0 || first_non_finite(a->squares) >= 0) {
                return false;
            }
        }
        return true;
    }

    void finish_moments() {
        for (Accumulator* a : {&equated_sums, &unrounded_sums, &rounded_sums}) {
            moments_from_sums(kx, params.replications, a->sums, a->squares);
        }
    }

    ReportStatistics statistics(std::span<const double> weights) const {
        return ReportStatistics{weights,
                                equated_sums.sums,
                                unrounded_sums.sums,
                                rounded_sums.sums,
                                equated_sums.squares,
                                unrounded_sums.squares,
                                rounded_sums.squares,
                                histogram};
    }
};

}  // namespace

void moments_from_sums(int k, std::int32_t completed, std::span<double> sums,
                       std::span<double> squares) {
    const double m = static_cast<double>(completed);
    for (int i = 0; i < k; ++i) {
        const double mean = sums[i] / m;
        sums[i] = mean;
        const double variance = squares[i] / m - mean * mean;
        squares[i] = variance > 0.0 ? std::sqrt(variance) : 0.0;
    }
}

std::int16_t run_replications(const ControlParameters& params, const std::string& data_name,
                              const std::string& output_name, std::FILE* standard_output,
                              std::string& diagnostic, const SamplingChoice& sampling) {
    Simulation sim(params, sampling);
    sim.working_smoothing = params.smoothing;
    sim.degree = loglinear_degree(params.smoothing);

    DataArrays data;
    const std::int32_t rows =
        read_data_file(data_name, params.columns, sim.kx, sim.ky, data, diagnostic);
    if ((rows & 0xFFFF) == 0) {
        return 1;
    }
    if (sim.kx <= 3 || sim.ky <= 3) {
        diagnostic = data_name + ": each form needs at least 4 score points; found " +
                     std::to_string(sim.kx) + " new-form and " + std::to_string(sim.ky) +
                     " old-form";
        return 1;
    }
    const std::span<double> new_freq = data.new_frequencies();
    const std::span<double> old_freq = data.old_frequencies();
    double tx = 0.0;
    double ty = 0.0;
    for (std::int32_t i = 0; i < rows; ++i) {
        tx += new_freq[i];
        ty += old_freq[i];
    }
    if (!sample_size_of_total(tx, sim.new_form.sample_size)) {
        diagnostic = form_total_problem(data_name, "new-form", tx);
        return 1;
    }
    if (!sample_size_of_total(ty, sim.old_form.sample_size)) {
        diagnostic = form_total_problem(data_name, "old-form", ty);
        return 1;
    }

    ReportDestination destination;
    if (!check_report_destination(output_name, destination, diagnostic)) {
        return 2;
    }

    sim.scale_points = static_cast<std::int16_t>(scale_point_count(params.scale));
    std::vector<double> weights;
    try {
        sim.allocate(rows);
        weights.assign(static_cast<std::size_t>(rows), 0.0);
    } catch (const std::bad_alloc&) {
        diagnostic = "no storage for the simulation's arrays";
        return -1;
    }

    for (std::int32_t i = 0; i < rows; ++i) {
        new_freq[i] = new_freq[i] / tx;
        weights[i] = new_freq[i];
        old_freq[i] = old_freq[i] / ty;
    }
    sim.new_form.cumulative = new_freq.first(static_cast<std::size_t>(sim.kx));
    sim.old_form.cumulative = old_freq.first(static_cast<std::size_t>(sim.ky));
    try {
        sim.build_tables(sim.new_form, sim.kx);
        sim.build_tables(sim.old_form, sim.ky);
    } catch (const std::bad_alloc&) {
        diagnostic = "no storage for the sampling tables";
        return -1;
    }
    sim.conversion = data.scale_conversion().first(static_cast<std::size_t>(sim.ky));
    seed_uniform(params.seed);

    if (!sim.replicate(diagnostic)) {
        return -1;
    }
    // Scale scores beyond about 1e154 overflow their sums of squares, which would come out as
    // infinite or (infinity less infinity) vanishing spreads; neither is a result.
    const bool sums_finite = sim.sums_are_finite();
    sim.finish_moments();
    const ReportStatistics stats = sim.statistics(weights);
    if (!sums_finite || !report_is_finite(sim.kx, stats)) {
        diagnostic = "the statistics over replications overflowed (scale scores too large)";
        return -1;
    }
    return static_cast<std::int16_t>(write_report(destination, standard_output, data_name, params,
                                                  tx, ty, sim.kx, stats, sim.scale_points,
                                                  diagnostic));
}

}  // namespace eqsim
