// A whole run of the `eqsim` program after its control file is read: reads the populations from
// the data file, checks where the report goes, runs the simulation and has the report written.
#pragma once

#include <cstdio>
#include <functional>
#include <string>

#include "numeric/status.h"
#include "run/control_file.h"
#include "run/simulation.h"

namespace eqsim {

// Runs the simulation that params describe on the data file data_name and writes the report to
// output_name (standard_output when it is empty). progress, when set, is called as in
// SimulationOptions. The status's diagnostic says what went wrong.
Status run_replications(const ControlParameters& params, const std::string& data_name,
                        const std::string& output_name, std::FILE* standard_output,
                        const SamplingChoice& sampling = {},
                        std::function<bool(std::int32_t)> progress = {});

}  // namespace eqsim
