// The simulation itself: reads the populations, draws R pairs of samples, equates each pair by
// the chosen method, converts to scale scores, accumulates means, standard deviations and the
// histogram of rounded scale scores, and has the report written.
#pragma once

#include <cstdint>
#include <cstdio>
#include <span>
#include <string>

#include "run/control_file.h"

namespace eqsim {

// How the replications draw their samples. Every choice draws the very same samples; the
// cumulative search with a lookup of a given scale is kept for comparison and tests.
struct SamplingChoice {
    bool raw_thresholds = true;
    double lookup_scale = 10.0;
};

// Returns 0 when the report was written; 1 when the data can't be used; 2 when the report can't
// be written; -1 when storage runs out or the equating method fails. diagnostic says why.
std::int16_t run_replications(const ControlParameters& params, const std::string& data_name,
                              const std::string& output_name, std::FILE* standard_output,
                              std::string& diagnostic, const SamplingChoice& sampling = {});

// Replaces sums by means and sums of squares by standard deviations (divisor: completed).
void moments_from_sums(int k, std::int32_t completed, std::span<double> sums,
                       std::span<double> squares);

}  // namespace eqsim
