#include "eqsim/eqsim_main.h"

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

#include "engine/numeric/dvector.h"
#include "eqsim/control_file.h"
#include "eqsim/replication_driver.h"
#include "io/progress_line.h"
#include "io/settings.h"

namespace eqsim {

namespace {

// Each failure prints one of these on standard output; the exit status is its length.
constexpr std::string_view usage_message = "Must specify control file on command line.\n";
constexpr std::string_view control_message = "Error reading control file.\n";
constexpr std::string_view smoothing_message = "Invalid parameter for smoothing.\n";
constexpr std::string_view simulation_message = "Error in reading data or computing simulation";

constexpr const char* help_text =
    "Usage: eqsim CONTROL-FILE\n"
    "Simulates the random sampling error of equating a new test form to an old one\n"
    "(random-groups design) and reports, per new-form raw score, the standard error and\n"
    "mean over replications of the equated raw score and of the unrounded and rounded\n"
    "scale scores, with a histogram of the rounded scale scores.\n"
    "\n"
    "The control file names the data file (I), the output file (O; standard output when\n"
    "absent), the method (SM Post, Pre, None, Linear, Mean, Identity, Circle-arc,\n"
    "Synthetic or Kernel), the smoothing parameter (P), the replications (R), the seed\n"
    "(SE; 0 takes the clock), the data columns (C) and the scale's minimum, maximum and\n"
    "increment (SC). See man eqsim or README.md for the full format.\n"
    "\n"
    "Options (only as the single argument):\n"
    "  -h, --help     show this text\n"
    "  --version      show the version\n";

int fail(std::FILE* out, std::FILE* err, std::string_view message, const std::string& diagnostic) {
    std::fprintf(err, "eqsim: %s\n", diagnostic.c_str());
    std::fflush(err);
    std::fwrite(message.data(), 1, message.size(), out);
    std::fflush(out);
    return static_cast<int>(message.size());
}

// The spline's vectors ran out of storage: the numerical code's own three-line report on
// standard error, and status 1.
int fail_for_vector_storage(std::FILE* err, const std::string& diagnostic) {
    std::fputs(numeric_fatal_error(diagnostic.c_str()).c_str(), err);
    std::fflush(err);
    return 1;
}

void print_warning(std::FILE* err, const std::string& warning) {
    std::fprintf(err, "eqsim: %s\n", warning.c_str());
    std::fflush(err);
}

}  // namespace

int eqsim_main(int argc, const char* const* argv, std::FILE* out, std::FILE* err) {
    if (argc == 2) {
        const std::string_view option = argv[1];
        if (option == "--help" || option == "-h") {
            std::fputs(help_text, out);
            return std::fflush(out) == 0 ? 0 : 1;
        }
        if (option == "--version") {
            std::fputs("eqsim " EQSIM_VERSION "\n", out);
            return std::fflush(out) == 0 ? 0 : 1;
        }
    }
    if (argc != 2) {
        return fail(out, err, usage_message,
                    "expected exactly one argument, the control file's path (eqsim --help)");
    }
    const std::string control_path = argv[1];
    ControlParameters params;
    std::string data_name;
    std::string output_name;
    std::string diagnostic;
    ControlFileNotes notes;
    const bool read =
        read_control_file(control_path, params, data_name, output_name, diagnostic, notes);
    // Warnings come first: a value read otherwise than meant may be what a failure is about.
    for (const std::string& warning : notes.warnings) {
        print_warning(err, warning);
    }
    if (!read) {
        return fail(out, err, control_message, diagnostic);
    }
    if (!validate_control_parameters(params, diagnostic)) {
        return fail(out, err, control_message, control_path + ": " + diagnostic);
    }
    params.seed = settle_seed(params.seed);
    if (Status s = check_parameter({params.method, params.smoothing}); !s.is_ok()) {
        return fail(out, err, smoothing_message, control_path + ": " + s.diagnostic());
    }
    RunOrigin origin;
    origin.control_path = control_path;
    origin.lines = notes.lines;
    origin.warn = [err](const std::string& warning) { print_warning(err, warning); };
    ProgressLine progress_line(err);
    std::function<bool(std::int32_t)> progress;
    if (progress_line.on_terminal()) {
        progress = [&progress_line, &params](std::int32_t completed) {
            progress_line.update(static_cast<double>(completed) / params.replications,
                                 [&](double left) {
                                     return "eqsim: " + std::to_string(completed) + " of " +
                                            std::to_string(params.replications) +
                                            " replications, about " + duration_text(left) + " left";
                                 });
            return true;
        };
    }
    const Status status =
        run_replications(params, data_name, output_name, out, {}, std::move(progress), origin);
    progress_line.erase();
    if (status.code() == Status::Code::vector_storage) {
        return fail_for_vector_storage(err, status.diagnostic());
    }
    if (!status.is_ok()) {
        return fail(out, err, simulation_message, status.diagnostic());
    }
    return 0;
}

}  // namespace eqsim
