#include "bench_data.h"

#include <cmath>
#include <fstream>
#include <sstream>

namespace eqsim::bench {

namespace {

void normalise(std::vector<double>& freq, double& total) {
    total = 0.0;
    for (const double f : freq) {
        total += f;
    }
    for (double& f : freq) {
        f /= total;
    }
}

std::vector<double> bell(int k, double centre, double spread, double size) {
    std::vector<double> freq(static_cast<std::size_t>(k));
    for (int i = 0; i < k; ++i) {
        const double z = (i - centre) / spread;
        freq[static_cast<std::size_t>(i)] = std::round(size * std::exp(-0.5 * z * z) / 20.0);
    }
    return freq;
}

}  // namespace

std::string example_data_path() {
    return std::string(EQSIM_SOURCE_DIR) + "/examples/actmath.dat";
}

Populations example_populations() {
    Populations pop;
    std::ifstream file(example_data_path());
    double x;
    double y;
    double s;
    while (file >> x >> y >> s) {
        pop.new_form.push_back(x);
        pop.old_form.push_back(y);
        pop.conversion.push_back(s);
    }
    normalise(pop.new_form, pop.new_size);
    normalise(pop.old_form, pop.old_size);
    return pop;
}

Populations long_test_populations() {
    Populations pop;
    pop.new_form = bell(81, 42.0, 13.0, 4000.0);
    pop.old_form = bell(81, 39.0, 14.0, 4000.0);
    for (int i = 0; i < 81; ++i) {
        pop.conversion.push_back(100.0 + 0.5 * i);
    }
    normalise(pop.new_form, pop.new_size);
    normalise(pop.old_form, pop.old_size);
    return pop;
}

ReplicationSampler::ReplicationSampler(const Populations& pop)
    : new_counts(pop.new_form.size()),
      old_counts(pop.old_form.size()),
      nx(static_cast<std::int32_t>(pop.new_size + 0.5)),
      ny(static_cast<std::int32_t>(pop.old_size + 0.5)) {
    std::vector<double> new_cumulative = pop.new_form;
    std::vector<double> old_cumulative = pop.old_form;
    std::vector<std::int32_t> lookup(11);
    build_sampling_table(10.0, new_cumulative, lookup);
    build_sampling_table(10.0, old_cumulative, lookup);
    build_raw_sampling_table(new_cumulative, new_table);
    build_raw_sampling_table(old_cumulative, old_table);
}

void ReplicationSampler::draw(UniformRandom& random) {
    draw_score_counts_raw(random, nx, new_table, new_counts);
    draw_score_counts_raw(random, ny, old_table, old_counts);
}

}  // namespace eqsim::bench
