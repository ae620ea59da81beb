// What the fuzz targets share: a private scratch folder, whole-file reads and writes, the check
// that stops a target on a broken invariant, and the shape of the program's messages and report.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "eqsim/control_file.h"

namespace eqsim::fuzz {

// A folder of this process's own (on a memory file system where there is one), removed at exit.
const std::string& scratch_folder();

void write_file(const std::string& path, std::string_view content);
// The file's bytes; false when it can't be read.
bool read_file(const std::string& path, std::string& content);

// Ends the execution with a report that libFuzzer records as a crash, input saved.
[[noreturn]] void violation(const std::string& what);

#define EQSIM_FUZZ_REQUIRE(condition, what)                                               \
    do {                                                                                  \
        if (!(condition)) {                                                               \
            ::eqsim::fuzz::violation(std::string(#condition) + ": " + std::string(what)); \
        }                                                                                 \
    } while (false)

inline constexpr std::string_view usage_message = "Must specify control file on command line.\n";
inline constexpr std::string_view control_message = "Error reading control file.\n";
inline constexpr std::string_view smoothing_message = "Invalid parameter for smoothing.\n";
inline constexpr std::string_view simulation_message =
    "Error in reading data or computing simulation";

// A failure's diagnostic: exactly one line, "eqsim: " first.
bool is_one_diagnostic_line(std::string_view err);

// What a completed run's report must show; the rest of its lines are checked for their form.
struct ExpectedReport {
    std::string data_name;
    ControlParameters params;  // seed as the control file gave it (0: any clock seed)
    double tx = 0.0;
    double ty = 0.0;
    int kx = 0;
    int scale_points = 0;
};

// Returns an empty text when report is a complete report of the expected run, else what is wrong.
std::string report_problem(std::string_view report, const ExpectedReport& expected);

}  // namespace eqsim::fuzz
