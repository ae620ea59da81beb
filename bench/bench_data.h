// Populations the benchmarks draw from: the bundled example's two forms, and a longer
// 81-point test of the same shape.
#pragma once

#include <string>
#include <vector>

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

}  // namespace eqsim::bench
