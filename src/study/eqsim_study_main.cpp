#include "study/eqsim_study_main.h"

#include <charconv>
#include <chrono>
#include <cstdint>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "io/progress_line.h"
#include "io/settings.h"
#include "study/study_file.h"
#include "study/study_outputs.h"
#include "study/study_run.h"

namespace eqsim::study {

namespace {

constexpr int kCompleted = 0;
constexpr int kFailedRun = 1;
constexpr int kUnusableInput = 2;

constexpr const char* kHelpText =
    "Usage: eqsim-study STUDY-FILE [--jobs N] [--shard I/N]\n"
    "       eqsim-study --merge STUDY-FILE\n"
    "       eqsim-study --help | --version\n"
    "Runs a study of equating error: every data set of the study file at every pair of sample\n"
    "sizes (a condition), each replication's samples equated by every method, and writes\n"
    "scores.csv (mean, standard error, bias and RMSE against the criterion per raw score),\n"
    "summary.csv, histograms.csv, SVG plots and index.html to the study's output folder.\n"
    "\n"
    "  --jobs N     run on N threads (default: every hardware thread); the outputs are the\n"
    "               same for every N\n"
    "  --shard I/N  run only the I-th of N shares of the conditions and leave partial tables\n"
    "               in the output folder, for a cluster; then merge them with --merge\n"
    "  --merge      check that the shards of the study are all there and write the outputs\n"
    "               (byte for byte those of an unsharded run)\n"
    "\n"
    "Exit status: 0 done, 2 unusable command line, study file, data file or output folder,\n"
    "1 a method failed on a replication or an output file could not be written.\n"
    "See docs/study-file.md for the study file and docs/studies.md for clusters.\n";

struct CommandLine {
    std::string study_path;
    int jobs = 0;  // 0: every hardware thread
    int shard = 0;
    int shards = 0;
    bool merge = false;
};

bool parse_positive(std::string_view text, int& value) {
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    return error == std::errc() && end == text.data() + text.size() && value >= 1;
}

bool parse_shard(std::string_view text, int& shard, int& shards) {
    const std::size_t slash = text.find('/');
    return slash != std::string_view::npos && parse_positive(text.substr(0, slash), shard) &&
           parse_positive(text.substr(slash + 1), shards) && shard <= shards;
}

// Reads the arguments; false, with diagnostic, when they make no command.
bool parse_command_line(int argc, const char* const* argv, CommandLine& c,
                        std::string& diagnostic) {
    for (int i = 1; i < argc; ++i) {
        const std::string_view arg = argv[i];
        const auto value = [&](std::string_view option, std::string_view& out) {
            if (arg.size() > option.size() && arg.substr(0, option.size()) == option &&
                arg[option.size()] == '=') {
                out = arg.substr(option.size() + 1);
                return true;
            }
            if (arg == option && i + 1 < argc) {
                out = argv[++i];
                return true;
            }
            return false;
        };
        std::string_view text;
        if (arg == "--merge") {
            c.merge = true;
        } else if (arg.starts_with("--jobs")) {
            if (!value("--jobs", text) || !parse_positive(text, c.jobs)) {
                diagnostic = "--jobs needs a whole number of threads, 1 or more";
                return false;
            }
        } else if (arg.starts_with("--shard")) {
            if (!value("--shard", text) || !parse_shard(text, c.shard, c.shards)) {
                diagnostic = "--shard needs I/N with 1 <= I <= N, for example --shard 2/8";
                return false;
            }
        } else if (arg.starts_with("-") && arg.size() > 1) {
            diagnostic = "unknown option " + std::string(arg) + " (eqsim-study --help)";
            return false;
        } else if (c.study_path.empty()) {
            c.study_path = std::string(arg);
        } else {
            diagnostic = "more than one study file given (eqsim-study --help)";
            return false;
        }
    }
    if (c.study_path.empty()) {
        diagnostic = "no study file given (eqsim-study --help)";
        return false;
    }
    if (c.merge && (c.shard != 0 || c.jobs != 0)) {
        diagnostic = "--merge takes the study file alone";
        return false;
    }
    return true;
}

int fail(std::FILE* err, int status, const std::string& diagnostic) {
    std::fprintf(err, "eqsim-study: %s\n", diagnostic.c_str());
    std::fflush(err);
    return status;
}

std::string clock_text(double seconds) {
    const long s = static_cast<long>(seconds + 0.5);
    char text[32];
    std::snprintf(text, sizeof text, "%ld:%02ld", s / 60, s % 60);
    return text;
}

int run_study(const CommandLine& c, const StudySpec& spec, std::FILE* err) {
    if (c.shards != 0 && spec.seed == 0) {
        return fail(err, kUnusableInput,
                    spec.path +
                        ": a sharded study needs a seed other than 0 (the clock would differ "
                        "between shards); add a `seed` line");
    }
    std::string diagnostic;
    StudyPlan plan;
    const std::int32_t seed = settle_seed(spec.seed);
    if (!plan_study(spec, seed, plan, diagnostic)) {
        return fail(err, kUnusableInput, diagnostic);
    }
    if (!prepare_output_folder(spec.output, diagnostic)) {
        return fail(err, kUnusableInput, diagnostic);
    }
    const int count = static_cast<int>(plan.conditions.size());
    std::vector<int> positions =
        c.shards != 0 ? shard_positions(count, c.shard, c.shards) : shard_positions(count, 1, 1);
    StudyRunOptions options;
    options.jobs =
        c.jobs != 0 ? c.jobs : static_cast<int>(std::max(1u, std::thread::hardware_concurrency()));
    const int conditions = static_cast<int>(positions.size());
    const std::int64_t total = replications_of(plan, positions);
    ProgressLine progress(err);
    if (progress.on_terminal()) {
        options.progress = [&](int done, std::int64_t replications) {
            progress.update(static_cast<double>(replications) / static_cast<double>(total),
                            [&](double left) {
                                return "eqsim-study: " + std::to_string(done) + "/" +
                                       std::to_string(conditions) + " conditions, " +
                                       std::to_string(replications) + "/" + std::to_string(total) +
                                       " replications, " +
                                       (left < 0.0 ? std::string("estimating time left")
                                                   : clock_text(left) + " left");
                            });
            return true;
        };
    }
    std::vector<ConditionResult> results;
    const Status status = run_conditions(plan, positions, options, results);
    progress.erase();
    if (!status.is_ok()) {
        return fail(err, kFailedRun, spec.path + ": " + status.diagnostic());
    }
    std::vector<ConditionTables> tables;
    tables.reserve(results.size());
    for (std::size_t i = 0; i < results.size(); ++i) {
        tables.push_back(tables_of(plan, plan.conditions[static_cast<std::size_t>(positions[i])],
                                   std::move(results[i])));
    }
    results = std::vector<ConditionResult>();
    const bool written =
        c.shards != 0
            ? write_shard(spec.output, spec, seed, c.shard, c.shards, positions, tables, diagnostic)
            : write_study_outputs(spec.output, spec, seed, tables, diagnostic);
    if (!written) {
        return fail(err, kFailedRun, diagnostic);
    }
    return kCompleted;
}

int merge_study(const StudySpec& spec, std::FILE* err) {
    std::string diagnostic;
    std::int32_t seed = 0;
    std::vector<ConditionTables> tables;
    if (!read_shards(spec.output, spec, seed, tables, diagnostic)) {
        return fail(err, kUnusableInput, diagnostic);
    }
    if (!write_study_outputs(spec.output, spec, seed, tables, diagnostic)) {
        return fail(err, kFailedRun, diagnostic);
    }
    return kCompleted;
}

}  // namespace

int eqsim_study_main(int argc, const char* const* argv, std::FILE* out, std::FILE* err) {
    if (argc == 2) {
        const std::string_view option = argv[1];
        if (option == "--help" || option == "-h") {
            std::fputs(kHelpText, out);
            return std::fflush(out) == 0 ? kCompleted : kFailedRun;
        }
        if (option == "--version") {
            std::fputs("eqsim-study " EQSIM_VERSION "\n", out);
            return std::fflush(out) == 0 ? kCompleted : kFailedRun;
        }
    }
    CommandLine command;
    std::string diagnostic;
    if (!parse_command_line(argc, argv, command, diagnostic)) {
        return fail(err, kUnusableInput, diagnostic);
    }
    StudySpec spec;
    if (!read_study_file(command.study_path, spec, diagnostic)) {
        return fail(err, kUnusableInput, diagnostic);
    }
    return command.merge ? merge_study(spec, err) : run_study(command, spec, err);
}

}  // namespace eqsim::study
