#include "eqsim/eqsim_main.h"

#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <ctime>
#include <functional>
#include <string>
#include <string_view>

#include "engine/numeric/dvector.h"
#include "eqsim/control_file.h"
#include "io/settings.h"
#include "engine/simulation/methods.h"
#include "eqsim/replication_driver.h"
#include "engine/sampling/uniform_random.h"

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
    "absent), the method (SM Post|Pre|None|Linear|Mean), the smoothing parameter (P), the\n"
    "replications (R), the seed (SE; 0 takes the clock), the data columns (C) and the\n"
    "scale's minimum, maximum and increment (SC). See man eqsim or README.md for the full\n"
    "format.\n"
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

// "3 s", "2 min 5 s", "1 h 20 min": a time left, to the second below ten minutes.
std::string duration_text(double seconds) {
    const long whole = static_cast<long>(seconds + 0.5);
    if (whole < 60) {
        return std::to_string(whole) + " s";
    }
    if (whole < 600) {
        return std::to_string(whole / 60) + " min " + std::to_string(whole % 60) + " s";
    }
    if (whole < 3600) {
        return std::to_string((whole + 30) / 60) + " min";
    }
    const long minutes = (whole + 30) / 60;
    return std::to_string(minutes / 60) + " h " + std::to_string(minutes % 60) + " min";
}

// The progress of a long run, for a person watching a terminal: one line on standard error,
// rewritten in place with the replications done and the time left, and erased when the
// replications end, before the report is written. Shown only when standard error is a terminal
// and the run looks like taking more than about two seconds, and rewritten at most ten times a
// second, so that it costs nothing measurable; never shown otherwise.
class ProgressLine {
  public:
    ProgressLine(std::FILE* err, std::int32_t replications)
        : err_(err), replications_(replications), start_(Clock::now()) {}

    // Called after each completed replication; always lets the run go on.
    bool update(std::int32_t completed) {
        if (completed >= replications_) {
            erase();
            return true;
        }
        const Clock::time_point now = Clock::now();
        const double elapsed = seconds(now - start_);
        if (!shown_) {
            const double expected_total = elapsed * replications_ / completed;
            if (elapsed < kFirstLook || expected_total < kLongRun) {
                return true;
            }
        } else if (now - last_write_ < kInterval) {
            return true;
        }
        const double left = elapsed * (replications_ - completed) / completed;
        write("eqsim: " + std::to_string(completed) + " of " + std::to_string(replications_) +
              " replications, about " + duration_text(left) + " left");
        last_write_ = now;
        return true;
    }

    // Removes the line, if it is shown.
    void erase() {
        if (shown_) {
            write(std::string());
            std::fputc('\r', err_);
            std::fflush(err_);
            shown_ = false;
        }
    }

  private:
    using Clock = std::chrono::steady_clock;
    static constexpr double kFirstLook = 0.5;  // seconds before a run's length is judged
    static constexpr double kLongRun = 2.0;    // seconds a run must look like taking
    static constexpr std::chrono::milliseconds kInterval{100};

    static double seconds(Clock::duration d) { return std::chrono::duration<double>(d).count(); }

    // Writes text over the line, padded with blanks to cover a longer earlier text.
    void write(const std::string& text) {
        std::string line = "\r" + text;
        if (text.size() < width_) {
            line.append(width_ - text.size(), ' ');
        }
        width_ = std::max(width_, text.size());
        std::fputs(line.c_str(), err_);
        std::fflush(err_);
        shown_ = true;
    }

    std::FILE* err_;
    std::int32_t replications_;
    Clock::time_point start_;
    Clock::time_point last_write_;
    bool shown_ = false;
    std::size_t width_ = 0;
};

bool is_terminal(std::FILE* stream) {
    const int fd = fileno(stream);
    return fd >= 0 && isatty(fd) == 1;
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
    if (std::string problem; !smoothing_suits(params.method, params.smoothing, problem)) {
        return fail(out, err, smoothing_message, control_path + ": " + problem);
    }
    RunOrigin origin;
    origin.control_path = control_path;
    origin.lines = notes.lines;
    origin.warn = [err](const std::string& warning) { print_warning(err, warning); };
    std::function<bool(std::int32_t)> progress;
    ProgressLine progress_line(err, params.replications);
    if (is_terminal(err)) {
        progress = [&progress_line](std::int32_t completed) {
            return progress_line.update(completed);
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
