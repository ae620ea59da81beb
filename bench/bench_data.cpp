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

}  // namespace eqsim::bench
