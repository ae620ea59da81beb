// Populations the benchmarks draw from: the bundled example's two forms, and a longer
// 81-point test of the same shape.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "engine/sampling/score_sampling.h"
#include "engine/sampling/uniform_random.h"

namespace eqsim::bench {

struct Populations {
    std::vector<double> new_form;  // relative frequencies
    std::vector<double> old_form;
    std::vector<double> conversion;
    double new_size = 0.0;
    double old_size = 0.0;
};

// The bundled example (41 score points, 4329 and 4152 examinees).
Populations example_populations();

// An 81-point test with bell-shaped distributions of about 4000 examinees a form.
Populations long_test_populations();

std::string example_data_path();

// The samples of one replication drawn as the simulation draws them (raw generator values against
// integer thresholds), at the populations' rounded sizes.
struct ReplicationSampler {
    explicit ReplicationSampler(const Populations& pop);
    // Draws the new form's sample, then the old form's, into new_counts and old_counts.
    void draw(UniformRandom& random);

    RawSamplingTable new_table;
    RawSamplingTable old_table;
    std::vector<std::int32_t> new_counts;
    std::vector<std::int32_t> old_counts;
    std::int32_t nx = 0;
    std::int32_t ny = 0;
};

}  // namespace eqsim::bench
