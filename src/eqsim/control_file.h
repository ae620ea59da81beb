// The run's settings: their defaults, the control file that overrides them line by line, and the
// checks that the final values must pass before a run may start.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "engine/engine.h"
#include "io/data_file.h"

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

// The lines (counted from 1) whose settings took effect for the data file (I), the output file (O)
// and the scale (SC); 0 where no line set it. Messages about those files point back at them.
struct SettingLines {
    long input = 0;
    long output = 0;
    long scale = 0;
};

// What reading noticed besides the settings: where they came from, and lines that were read in a
// way the writer may not have meant, each as "FILE:LINE: warning: WHAT", in the order of the lines.
// Nothing is printed here; the program decides where warnings go.
struct ControlFileNotes {
    SettingLines lines;
    std::vector<std::string> warnings;
};

// Reads the settings over params. True when reading ended at the end of the file or at an empty
// line; false when the file can't be read or a line is in error, and diagnostic then says where
// and why. Settings stored by earlier lines stay in params, and so do the notes of earlier lines.
bool read_control_file(const std::string& path, ControlParameters& params, std::string& data_name,
                       std::string& output_name, std::string& diagnostic, ControlFileNotes& notes);
bool read_control_file(const std::string& path, ControlParameters& params, std::string& data_name,
                       std::string& output_name, std::string& diagnostic);

// Returns true when the final settings can run; otherwise diagnostic says what is wrong.
bool validate_control_parameters(const ControlParameters& params, std::string& diagnostic);

}  // namespace eqsim
