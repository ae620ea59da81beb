// The report of a completed run: its settings, per new-form raw score the standard deviation and
// mean over replications of the equated, unrounded and rounded scale scores, their averages
// weighted by the population, and the histogram of rounded scale scores.
#pragma once

#include <array>
#include <cstdio>
#include <string>

#include "engine/engine.h"
#include "eqsim/control_file.h"
#include "io/report_destination.h"

namespace eqsim {

// Everything the report shows: the settings as the control file gave them and the results of
// the simulation's one method.
struct ReportContent {
    const std::string& data_name;
    const ControlParameters& params;
    const Population& population;
    const SimulationResult& result;
};

// Writes the report to its checked destination. False, with diagnostic, when it could not be
// written; nothing is then left at a named destination that was not there before.
bool write_report(const ReportDestination& destination, std::FILE* standard_output,
                  const ReportContent& content, std::string& diagnostic);

// The summary line: the six columns (three standard deviations, three means) averaged over the
// new form's raw scores with the population weights, added in raw-score order.
std::array<double, 6> weighted_summary(const ReportContent& content);

// True when every average of the summary line is finite.
bool summary_is_finite(const ReportContent& content);

// Writes the report's text to an open stream.
void print_report(std::FILE* out, const ReportContent& content);

}  // namespace eqsim
