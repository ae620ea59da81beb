// The run's settings: their defaults, the control file that overrides them line by line, and the
// checks that the final values must pass before a run may start.
#pragma once

#include <cstdint>
#include <string>

#include "equating/scale_conversion.h"

namespace eqsim {

using EquatingMethod = std::int16_t;

struct ControlParameters {
    std::int32_t replications = 10;
    std::int32_t seed = 0;
    double smoothing = 0.25;
    EquatingMethod method = 1;
    std::int16_t columns[3] = {1, 2, 3};
    ScaleSpec scale;
};

// Longest control line, before its newline, that is read as a setting.
inline constexpr std::size_t max_control_line = 148;

// Returns 0 when reading ended at the end of the file or at an empty line, 1 when the file can't
// be read or a line is in error; diagnostic then says where and why. Settings stored by earlier
// lines stay in params.
std::int16_t read_control_file(const std::string& path, ControlParameters& params,
                               std::string& data_name, std::string& output_name,
                               std::string& diagnostic);

// Method code 1..5 named by a method word, or 0.
EquatingMethod parse_method_code(std::string_view word);

// Returns true when the final settings can run; otherwise diagnostic says what is wrong.
bool validate_control_parameters(const ControlParameters& params, std::string& diagnostic);

// Number of points of the reporting scale, computed in floating point.
double scale_point_count(const ScaleSpec& scale);

// The checks of the final settings one value at a time, shared with the study file. Each returns
// an empty text when the value can run, else what is wrong with it.
std::string scale_problem(const ScaleSpec& scale);
std::string column_problem(std::int32_t column);
std::string seed_problem(std::int32_t seed);

}  // namespace eqsim
