// A whole run of the `eqsim` program after its control file is read: reads the populations from
// the data file, checks where the report goes, runs the simulation and has the report written.
#pragma once

#include <cstdio>
#include <functional>
#include <string>

#include "engine/engine.h"
#include "engine/numeric/status.h"
#include "eqsim/control_file.h"

namespace eqsim {

// Where a run's settings came from, and where its warnings go. With the control file's path and
// the lines that named the data file, the report and the scale, a file that cannot be opened is
// reported at the line that named it, and a warning about the data points at the line to change.
struct RunOrigin {
    std::string control_path;  // empty: diagnostics name the files alone
    SettingLines lines;
    // Receives each warning, "FILE:LINE: warning: WHAT", before the replications start.
    std::function<void(const std::string&)> warn;
};

// Runs the simulation that params describe on the data file data_name and writes the report to
// output_name (standard_output when it is empty). progress, when set, is called as in
// SimulationOptions. The status's diagnostic says what went wrong.
Status run_replications(const ControlParameters& params, const std::string& data_name,
                        const std::string& output_name, std::FILE* standard_output,
                        const SamplingChoice& sampling = {},
                        std::function<bool(std::int32_t)> progress = {},
                        const RunOrigin& origin = {});

// The scale warning of a run, or an empty text: when a quarter or more of the old form's
// population has scale scores outside the scale, most rounded scale scores would be held at its
// ends, as when a conversion from 20 to 80 meets the default scale of 1 to 36.
std::string scale_warning(const ScaleSpec& scale, std::span<const double> conversion,
                          std::span<const double> old_frequencies, const std::string& data_name,
                          const RunOrigin& origin);

}  // namespace eqsim
