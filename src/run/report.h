// The report of a completed run: its settings, per new-form raw score the standard deviation and
// mean over replications of the equated, unrounded and rounded scale scores, their averages
// weighted by the population, and the histogram of rounded scale scores.
#pragma once

#include <array>
#include <cstdint>
#include <cstdio>
#include <span>
#include <string>

#include "run/control_file.h"
#include "run/report_destination.h"

namespace eqsim {

struct ReportStatistics {
    std::span<const double> weights;  // new form's population relative frequencies
    std::span<const double> equated_mean;
    std::span<const double> unrounded_mean;
    std::span<const double> rounded_mean;
    std::span<const double> equated_sd;
    std::span<const double> unrounded_sd;
    std::span<const double> rounded_sd;
    std::span<const std::int32_t> histogram;  // kx rows of scale_points counts
};

// Writes the report to its checked destination. Returns 0 when it was written, 2 when it could
// not be (nothing is then left at a named destination that was not there before).
int write_report(const ReportDestination& destination, std::FILE* standard_output,
                 const std::string& data_name, const ControlParameters& params, double tx,
                 double ty, std::int16_t kx, const ReportStatistics& stats,
                 std::int16_t scale_points, std::string& diagnostic);

// The summary line: the six columns (three standard deviations, three means) averaged over the
// new form's raw scores with the population weights, added in raw-score order.
std::array<double, 6> weighted_summary(std::int16_t kx, const ReportStatistics& stats);

// True when every number the report would print is finite.
bool report_is_finite(std::int16_t kx, const ReportStatistics& stats);

// Stores the method's name (empty for an unknown code) in name.
void method_name(EquatingMethod method, std::string& name);

// Writes the report's text to an open stream.
void print_report(std::FILE* out, const std::string& data_name, const ControlParameters& params,
                  double tx, double ty, std::int16_t kx, const ReportStatistics& stats,
                  std::int16_t scale_points);

}  // namespace eqsim
