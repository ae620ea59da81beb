// The run's settings: their defaults, the control file that overrides them line by line, and the
// checks that the final values must pass before a run may start.
#pragma once

#include <cstdint>
#include <string>

#include "equating/scale_conversion.h"
#include "run/data_file.h"
#include "run/methods.h"

namespace eqsim {

struct ControlParameters {
    std::int32_t replications = 10;
    std::int32_t seed = 0;
    double smoothing = 0.25;
    Method method = Method::postsmoothing;
    std::int16_t columns[3] = {1, 2, 3};
    ScaleSpec scale;
};

// Longest control line, before its newline, that is read as a setting.
inline constexpr std::size_t kMaxControlLine = 148;

// Reads the settings over params. True when reading ended at the end of the file or at an empty
// line; false when the file can't be read or a line is in error, and diagnostic then says where
// and why. Settings stored by earlier lines stay in params.
bool read_control_file(const std::string& path, ControlParameters& params, std::string& data_name,
                       std::string& output_name, std::string& diagnostic);

// Returns true when the final settings can run; otherwise diagnostic says what is wrong.
bool validate_control_parameters(const ControlParameters& params, std::string& diagnostic);

// The seed a run uses: a seed of 0 takes the calendar time in seconds (reduced to
// 1..2147483646), a negative seed its absolute value.
std::int32_t settle_seed(std::int32_t seed);

// Checks of single final values, shared with the study file: each gives an empty text when the
// value can run, else what is wrong with it.
std::string column_problem(std::int32_t column);
std::string seed_problem(std::int32_t seed);

}  // namespace eqsim
