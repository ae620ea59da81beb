// Fuzz target: a whole run of the program, in process. The input holds the control file, then a
// line "%%", then the data file (without that line all of it is the control file). The run takes
// place in a folder of its own that holds:
//
//   run.ctl       the control file (the program's one argument)
//   scores.dat    the data file
//   report.txt    an earlier report
//   link.txt      a symbolic link to report.txt
//   dangling.txt  a symbolic link to gone.txt, which does not exist
//
// so that I and O can name any of them, a new file, or /dev/null and /dev/full. Inputs that ask
// for more than a short run are left out (not executed, not kept): more than 3 replications,
// 300 scale points, 64 data rows or 400 examinees a form, or a file name with a folder in it.
// Every method remains open to the input.
//
// What each execution checks:
// - the exit status is 0, 28, 33 or 45, and the one that the settings and the data call for where
//   those alone decide it;
// - standard output is exactly the status's message, or a complete report of the run when the
//   report goes there; standard error is one diagnostic line after a failure, empty otherwise,
//   after any warning lines;
// - a failed run leaves every file of the folder as it was and adds none; a completed run changes
//   only the report's destination, which holds a complete report.
#include <dirent.h>
#include <fcntl.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <string>
#include <string_view>

#include "eqsim/control_file.h"
#include "eqsim/eqsim_main.h"
#include "fuzz_support.h"
#include "io/data_file.h"

namespace {

using eqsim::fuzz::read_file;
using eqsim::fuzz::write_file;

constexpr std::int32_t max_replications = 3;
constexpr double max_scale_points = 300.0;
constexpr std::int32_t max_rows = 64;
constexpr double max_total = 400.0;

constexpr std::string_view earlier_report = "an earlier report\n";

// The folder's files before a run: name, and content or link target ("->" first).
using Folder = std::map<std::string, std::string>;

Folder folder_state() {
    Folder state;
    DIR* dir = opendir(".");
    if (dir == nullptr) {
        eqsim::fuzz::violation("cannot list the run's folder");
    }
    while (const dirent* entry = readdir(dir)) {
        const std::string name = entry->d_name;
        if (name == "." || name == "..") {
            continue;
        }
        char target[4096];
        const ssize_t length = readlink(name.c_str(), target, sizeof target);
        std::string content;
        if (length >= 0) {
            content = "->" + std::string(target, static_cast<std::size_t>(length));
        } else if (!read_file(name, content)) {
            content = "<unreadable>";
        }
        state.emplace(name, std::move(content));
    }
    closedir(dir);
    return state;
}

void prepare_folder(std::string_view control, std::string_view data) {
    for (const auto& [name, content] : folder_state()) {
        unlink(name.c_str());
    }
    write_file("run.ctl", control);
    write_file("scores.dat", data);
    write_file("report.txt", earlier_report);
    if (symlink("report.txt", "link.txt") != 0 || symlink("gone.txt", "dangling.txt") != 0) {
        eqsim::fuzz::violation("cannot create the links of the run's folder");
    }
}

// File names the input may use: any name in the run's folder, /dev/null, and /dev/full for the
// report (read as data it never ends).
bool allowed_name(const std::string& name, bool output) {
    return name.find('/') == std::string::npos || name == "/dev/null" ||
           (output && name == "/dev/full");
}

// The file that a report to output_name ends up in.
std::string destination_of(const std::string& output_name) {
    if (output_name == "link.txt") {
        return "report.txt";
    }
    if (output_name == "dangling.txt") {
        return "gone.txt";
    }
    return output_name;
}

// What the settings and the data alone say about a run, read by the program's own readers.
struct Plan {
    bool run_is_short = true;
    int status = -1;  // the status they call for, or -1 when the run itself decides (0 or 45)
    eqsim::fuzz::ExpectedReport report;
    std::string output_name;
};

Plan plan_run() {
    Plan plan;
    eqsim::ControlParameters& p = plan.report.params;
    std::string diagnostic;
    if (!eqsim::read_control_file("run.ctl", p, plan.report.data_name, plan.output_name,
                                  diagnostic) ||
        !eqsim::validate_control_parameters(p, diagnostic)) {
        plan.status = 28;
        return plan;
    }
    // The parameter's rule: a degree of at least 1, a smoothing value of at most 1, a weight
    // from 0 to 1.
    const eqsim::ParameterRule rule = eqsim::parameter_rule(p.method);
    if ((rule == eqsim::ParameterRule::degree && p.smoothing < 1.0) ||
        (rule == eqsim::ParameterRule::smoothing_value && p.smoothing > 1.0) ||
        (rule == eqsim::ParameterRule::weight && !(p.smoothing >= 0.0 && p.smoothing <= 1.0))) {
        plan.status = 33;
        return plan;
    }
    if (!allowed_name(plan.report.data_name, false) || !allowed_name(plan.output_name, true)) {
        plan.run_is_short = false;
        return plan;
    }
    eqsim::DataColumns data;
    const bool read = eqsim::read_data_file(plan.report.data_name, p.columns, data, diagnostic);
    const std::int32_t rows = data.rows;
    const int kx = data.new_points;
    const int ky = data.old_points;
    if (!read || kx <= 3 || ky <= 3) {
        plan.status = 45;
        return plan;
    }
    for (std::int32_t i = 0; i < rows; ++i) {
        plan.report.tx += data.new_frequencies[i];
        plan.report.ty += data.old_frequencies[i];
    }
    plan.report.kx = kx;
    const double points = eqsim::scale_point_count(p.scale);
    plan.report.scale_points = static_cast<int>(points);
    if (p.replications > max_replications || points > max_scale_points || rows > max_rows ||
        !(plan.report.tx <= max_total) || !(plan.report.ty <= max_total)) {
        plan.run_is_short = false;
    }
    if (plan.output_name == "/dev/full") {
        plan.status = 45;
    }
    return plan;
}

struct Result {
    int status = 0;
    std::string out;
    std::string err;
};

Result run_program() {
    Result r;
    char* out_text = nullptr;
    char* err_text = nullptr;
    std::size_t out_size = 0;
    std::size_t err_size = 0;
    std::FILE* out = open_memstream(&out_text, &out_size);
    std::FILE* err = open_memstream(&err_text, &err_size);
    const char* argv[] = {"eqsim", "run.ctl", nullptr};
    r.status = eqsim::eqsim_main(2, argv, out, err);
    std::fclose(out);
    std::fclose(err);
    r.out.assign(out_text, out_size);
    r.err.assign(err_text, err_size);
    std::free(out_text);
    std::free(err_text);
    return r;
}

std::string_view message_of(int status) {
    switch (status) {
        case 28:
            return eqsim::fuzz::control_message;
        case 33:
            return eqsim::fuzz::smoothing_message;
        case 45:
            return eqsim::fuzz::simulation_message;
        default:
            return {};
    }
}

void check(const Plan& plan, const Folder& before, const Result& r) {
    const std::string status = std::to_string(r.status);
    EQSIM_FUZZ_REQUIRE(r.status == 0 || r.status == 28 || r.status == 33 || r.status == 45, status);
    EQSIM_FUZZ_REQUIRE(plan.status < 0 || r.status == plan.status,
                       status + " where " + std::to_string(plan.status) + " was due: " + r.err);
    // Warnings, one line each, may come first; what follows them is as without them. After a
    // failure the last line is the diagnostic, whatever it holds (a file may be named "warning").
    std::string_view err = r.err;
    while (err.starts_with("eqsim: ") && err.find(": warning: ") < err.find('\n') &&
           (r.status == 0 || err.find('\n') + 1 < err.size())) {
        err.remove_prefix(err.find('\n') + 1);
    }
    if (r.status != 0) {
        EQSIM_FUZZ_REQUIRE(r.out == message_of(r.status), "standard output: " + r.out);
        EQSIM_FUZZ_REQUIRE(eqsim::fuzz::is_one_diagnostic_line(err), "standard error: " + r.err);
        EQSIM_FUZZ_REQUIRE(folder_state() == before, "a failed run changed the folder: " + r.err);
        return;
    }
    EQSIM_FUZZ_REQUIRE(err.empty(), "standard error of a completed run: " + r.err);
    Folder after = folder_state();
    if (plan.output_name.empty()) {
        const std::string why = eqsim::fuzz::report_problem(r.out, plan.report);
        EQSIM_FUZZ_REQUIRE(why.empty(), why);
    } else {
        EQSIM_FUZZ_REQUIRE(r.out.empty(), "standard output of a report to a file: " + r.out);
        if (plan.output_name != "/dev/null") {
            const std::string destination = destination_of(plan.output_name);
            const auto written = after.find(destination);
            EQSIM_FUZZ_REQUIRE(written != after.end(), "no report in " + destination);
            const std::string why = eqsim::fuzz::report_problem(written->second, plan.report);
            EQSIM_FUZZ_REQUIRE(why.empty(), destination + ": " + why);
            after.erase(written);
            Folder others = before;
            others.erase(destination);
            EQSIM_FUZZ_REQUIRE(after == others, "a completed run changed another file");
            return;
        }
    }
    EQSIM_FUZZ_REQUIRE(after == before, "a completed run changed the folder");
}

// How the inputs fared, printed when the fuzzer ends: how many were left out as too long, and
// how many runs ended with each status.
struct Tally {
    unsigned long long left_out = 0;
    unsigned long long status[4] = {0, 0, 0, 0};  // 0, 28, 33, 45

    void count(int s) { ++status[s == 0 ? 0 : s == 28 ? 1 : s == 33 ? 2 : 3]; }
    static void print();
};
Tally tally;

void Tally::print() {
    std::fprintf(stderr,
                 "whole runs: %llu left out as too long; status 0: %llu, 28: %llu, "
                 "33: %llu, 45: %llu\n",
                 tally.left_out, tally.status[0], tally.status[1], tally.status[2],
                 tally.status[3]);
}

// The run's folder is the current one only while an input runs: libFuzzer keeps its own paths
// relative to the folder it was started in.
class InRunFolder {
  public:
    InRunFolder() : home_(open(".", O_RDONLY | O_DIRECTORY | O_CLOEXEC)) {
        if (home_ < 0 || chdir(eqsim::fuzz::scratch_folder().c_str()) != 0) {
            eqsim::fuzz::violation("cannot enter the run's folder");
        }
    }
    ~InRunFolder() {
        if (fchdir(home_) != 0) {
            eqsim::fuzz::violation("cannot leave the run's folder");
        }
        close(home_);
    }
    InRunFolder(const InRunFolder&) = delete;
    InRunFolder& operator=(const InRunFolder&) = delete;

  private:
    int home_;
};

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    std::atexit(Tally::print);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* bytes, std::size_t size) {
    const std::string_view input(reinterpret_cast<const char*>(bytes), size);
    std::string_view control = input;
    std::string_view data;
    if (input.starts_with("%%\n")) {
        control = {};
        data = input.substr(3);
    } else if (const std::size_t split = input.find("\n%%\n"); split != std::string_view::npos) {
        control = input.substr(0, split + 1);
        data = input.substr(split + 4);
    }
    const InRunFolder in_run_folder;
    prepare_folder(control, data);
    const Plan plan = plan_run();
    if (!plan.run_is_short) {
        ++tally.left_out;
        return -1;
    }
    const Folder before = folder_state();
    const Result result = run_program();
    check(plan, before, result);
    tally.count(result.status);
    return 0;
}
