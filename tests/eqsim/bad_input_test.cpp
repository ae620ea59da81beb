// Hostile input through the real program. Every row runs the built executable in a folder of its
// own that holds the row's control file (run.ctl), its data file (scores.dat) and an earlier
// report (report.txt), and checks the exit status, standard output, the time taken, and that a
// failed run left the folder exactly as it was.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <linux/fs.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "support/program_messages.h"
#include "support/temp_dir.h"

#if defined(__SANITIZE_ADDRESS__)
#define EQSIM_UNDER_ADDRESS_SANITIZER 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define EQSIM_UNDER_ADDRESS_SANITIZER 1
#endif
#endif

namespace eqsim {
namespace {

using testing::read_file;
using testing::TempDir;

constexpr auto time_limit = std::chrono::seconds(10);

const std::string& usage_error = testing::kUsageMessage;
const std::string& control_error = testing::kControlMessage;
const std::string& smoothing_error = testing::kSmoothingMessage;
const std::string& simulation_error = testing::kSimulationMessage;
const std::string earlier_report = "an earlier report\n";

// Twelve score points a form, about 180 and 170 examinees: runs take milliseconds.
const std::string small_forms =
    "0 0.2 1.0000\n0.4 1.5 4.0600\n2.3 6.8 7.2400\n8.3 18.1 10.5400\n20.3 32.2 13.9600\n"
    "34.8 39.9 17.5000\n42.5 35.4 21.1600\n37.1 22.4 24.9400\n22.7 9.9 28.8400\n"
    "9.2 2.9 32.8600\n2.3 0.5 37.0000\n0.3 0 41.2600\n";

// A run of the small forms with its report to report.txt; later lines override these.
std::string run_with(const std::string& settings) {
    return "I scores.dat\nO report.txt\nSM Mean\nR 2\nSE 7\n" + settings;
}

std::string repeated(const std::string& line, int times) {
    std::string text;
    for (int i = 0; i < times; ++i) {
        text += line;
    }
    return text;
}

std::string crlf(const std::string& text) {
    std::string converted;
    for (const char c : text) {
        if (c == '\n') {
            converted += '\r';
        }
        converted += c;
    }
    return converted;
}

std::string garbage(std::size_t size, unsigned seed) {
    std::string bytes(size, '\0');
    for (char& c : bytes) {
        seed = seed * 1103515245u + 12345u;
        c = static_cast<char>(seed >> 16);
    }
    return bytes;
}

// closed_pipe: a pipe whose reading end is closed before the program starts.
enum class Stdout { captured, full_device, closed, closed_pipe };

// What a completed run must have written.
enum class Expect { failure, report_in_file, report_on_stdout };

struct Row {
    std::string name;
    std::string control;
    std::optional<std::string> data = small_forms;
    int status = 0;
    Expect expect = Expect::failure;
    // Arguments instead of the control file's path; the folder is the working directory.
    std::optional<std::vector<std::string>> arguments = std::nullopt;
    Stdout stdout_to = Stdout::captured;
    rlim_t address_space = RLIM_INFINITY;
    rlim_t file_size = RLIM_INFINITY;
    // Text that the diagnostic on standard error must hold, where the reason matters.
    std::string diagnostic = {};
    // Text of the one warning the run must give before its outcome; empty: no warning.
    std::string warning = {};
    // Prepares the folder further; returns a reason to skip the row, or an empty text.
    std::function<std::string(const TempDir&)> setup = nullptr;
    // The row runs eqsim-study with control as the study file study.txt, whose earlier outputs
    // in results/ must survive a failure.
    bool study = false;
};

struct Outcome {
    int status = -1;  // exit status, or -1 when the run was stopped or killed by a signal
    bool timed_out = false;
    std::string out;
    std::string err;
};

// Runs the executable in folder with the row's arguments, limits and standard output.
Outcome run_row(const Row& row, const TempDir& folder, const TempDir& capture) {
    std::vector<std::string> args =
        row.arguments.value_or(std::vector<std::string>{row.study ? "study.txt" : "run.ctl"});
    std::vector<char*> argv;
    std::string program = row.study ? EQSIM_STUDY_EXECUTABLE : EQSIM_EXECUTABLE;
    argv.push_back(program.data());
    for (std::string& arg : args) {
        argv.push_back(arg.data());
    }
    argv.push_back(nullptr);
    const std::string out_path = capture.file("out");
    const std::string err_path = capture.file("err");

    const pid_t pid = fork();
    if (pid == 0) {
        const int err = open(err_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        int out = -1;
        if (row.stdout_to == Stdout::full_device) {
            out = open("/dev/full", O_WRONLY);
        } else if (row.stdout_to == Stdout::closed_pipe) {
            int ends[2];
            if (pipe(ends) == 0) {
                close(ends[0]);
                out = ends[1];
            }
        } else {
            out = open(out_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        }
        if (err < 0 || out < 0 || dup2(err, 2) < 0 || dup2(out, 1) < 0 ||
            chdir(folder.path().c_str()) != 0) {
            _exit(126);
        }
        close(err);
        close(out);
        if (row.stdout_to == Stdout::closed) {
            close(1);
        }
        const rlimit space{row.address_space, row.address_space};
        const rlimit size{row.file_size, row.file_size};
        if (setrlimit(RLIMIT_AS, &space) != 0 || setrlimit(RLIMIT_FSIZE, &size) != 0) {
            _exit(126);
        }
        // An ignored signal stays ignored across exec: the program must ignore SIGPIPE itself.
        signal(SIGPIPE, SIG_DFL);
        execv(argv[0], argv.data());
        _exit(127);
    }
    Outcome outcome;
    if (pid < 0) {
        return outcome;
    }
    const auto deadline = std::chrono::steady_clock::now() + time_limit;
    int raw = 0;
    while (waitpid(pid, &raw, WNOHANG) == 0) {
        if (std::chrono::steady_clock::now() > deadline) {
            kill(pid, SIGKILL);
            waitpid(pid, &raw, 0);
            outcome.timed_out = true;
            break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    outcome.status = !outcome.timed_out && WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
    outcome.out = read_file(out_path);
    outcome.err = read_file(err_path);
    return outcome;
}

// Every entry of the folder: regular files by content, links by target, folders by name.
std::map<std::string, std::string> folder_state(const std::string& folder) {
    std::map<std::string, std::string> state;
    for (const auto& entry : std::filesystem::directory_iterator(folder)) {
        const std::string path = entry.path().string();
        std::string what;
        if (entry.is_symlink()) {
            what = "link to " + std::filesystem::read_symlink(entry.path()).string();
        } else if (entry.is_directory()) {
            what = "folder";
        } else {
            what = "file: " + read_file(path);
        }
        state.emplace(entry.path().filename().string(), what);
    }
    return state;
}

// Sets or clears the immutable attribute, which binds the superuser too.
bool set_immutable(const std::string& path, bool on) {
    const int fd = open(path.c_str(), O_RDONLY | O_NONBLOCK);
    if (fd < 0) {
        return false;
    }
    int flags = 0;
    bool done = ioctl(fd, FS_IOC_GETFLAGS, &flags) == 0;
    if (done) {
        flags = on ? (flags | FS_IMMUTABLE_FL) : (flags & ~FS_IMMUTABLE_FL);
        done = ioctl(fd, FS_IOC_SETFLAGS, &flags) == 0;
    }
    close(fd);
    return done;
}

std::string make_report_read_only(const TempDir& folder) {
    const std::string report = folder.file("report.txt");
    if (geteuid() != 0) {
        chmod(report.c_str(), 0444);
        return {};
    }
    if (!set_immutable(report, true)) {
        return "permissions do not bind the superuser, and this file system has no immutable files";
    }
    return {};
}

std::vector<Row> rows() {
    std::vector<Row> t;
    const auto fails = [&t](std::string name, std::string control, int status,
                            std::optional<std::string> data = small_forms) {
        Row row;
        row.name = std::move(name);
        row.control = std::move(control);
        row.status = status;
        row.data = std::move(data);
        t.push_back(std::move(row));
    };
    const auto runs = [&t](std::string name, std::string control,
                           std::optional<std::string> data = small_forms) {
        Row row;
        row.name = std::move(name);
        row.control = std::move(control);
        row.data = std::move(data);
        row.expect = Expect::report_in_file;
        t.push_back(std::move(row));
    };

    // The command line.
    t.push_back({.name = "NoArgument",
                 .control = "",
                 .status = testing::kUsageStatus,
                 .arguments = std::vector<std::string>{}});
    t.push_back({.name = "TwoArguments",
                 .control = run_with(""),
                 .status = testing::kUsageStatus,
                 .arguments = std::vector<std::string>{"run.ctl", "run.ctl"}});

    // The control file as a whole.
    t.push_back({.name = "MissingControlFile",
                 .control = "",
                 .status = testing::kControlStatus,
                 .arguments = std::vector<std::string>{"missing.ctl"}});
    t.push_back({.name = "ControlFileIsAFolder",
                 .control = "",
                 .status = testing::kControlStatus,
                 .arguments = std::vector<std::string>{"."}});
    t.push_back({.name = "ControlFileNeverEndsItsLine",
                 .control = "",
                 .status = testing::kControlStatus,
                 .arguments = std::vector<std::string>{"/dev/zero"},
                 .diagnostic = "NUL byte"});
    t.push_back({.name = "EmptyArgument",
                 .control = "",
                 .status = testing::kControlStatus,
                 .arguments = std::vector<std::string>{""}});
    fails("ControlFileOfBinaryGarbage", garbage(4096, 1), testing::kControlStatus);
    fails("ControlFileEmptyHasNoDataFile", "", testing::kSimulationStatus);
    fails("ControlFileOfCommentsOnly", "# nothing set\n#I scores.dat\n",
          testing::kSimulationStatus);
    runs("ControlFileWithWindowsLineEnds", crlf(run_with("SM None\n")));
    runs("ControlFileWithByteOrderMark", "\xEF\xBB\xBF" + run_with(""));
    runs("ControlFileEndsAtCarriageReturnNewline", run_with("\r\nS 7\n"));
    t.back().warning = "run.ctl:7: warning: this line is not read";
    runs("ControlFileEndsAtEmptyLine", run_with("\nR -1\nbogus\n"));
    t.back().warning = "run.ctl:7: warning: this line is not read";
    runs("ControlFileTruncatedInAKeyword", run_with("SM Me"));
    fails("ControlFileTruncatedInAScale", run_with("SC 1 36"), testing::kControlStatus);
    fails("ControlFileTruncatedAfterAnS", run_with("S"), testing::kControlStatus);

    // Control lines.
    fails("LineOfBlanks", run_with("   \t \n"), testing::kControlStatus);
    fails("IndentedHashIsNoComment", run_with("  # note\n"), testing::kControlStatus);
    fails("NulByteInASetting", run_with(std::string("R 3\0\n", 5)), testing::kControlStatus);
    fails("SingleS", run_with("S 7\n"), testing::kControlStatus);
    fails("UnknownKeyword", run_with("X 1\n"), testing::kControlStatus);
    fails("KeywordWithoutValue", run_with("R\n"), testing::kControlStatus);
    fails("ExtraValue", run_with("R 10 20\n"), testing::kControlStatus);
    fails("ValueThatIsNoNumber", run_with("R ten\n"), testing::kControlStatus);
    fails("MethodWordP", run_with("SM P\n"), testing::kControlStatus);
    fails("MethodWordX", run_with("SM X\n"), testing::kControlStatus);
    runs("LineOf148Characters", run_with("R 3" + std::string(145, ' ') + "\n"));
    fails("LineOf149Characters", run_with("R 3" + std::string(146, ' ') + "\n"),
          testing::kControlStatus);
    fails("LineOf148CharactersAndACarriageReturn", run_with("R 3" + std::string(145, ' ') + "\r\n"),
          testing::kControlStatus);
    fails("TokenOfAMegabyte", run_with("I " + std::string(1 << 20, 'd') + "\n"),
          testing::kControlStatus);
    runs("CommentOfAMegabyte", "#" + std::string(1 << 20, '#') + "\n" + run_with(""));

    // Integers that do not fit their fields, and final values that cannot run.
    fails("ReplicationsBeyond32Bits", run_with("R 2147483648\n"), testing::kControlStatus);
    fails("ReplicationsZero", run_with("R 0\n"), testing::kControlStatus);
    fails("ReplicationsNegative", run_with("R -5\n"), testing::kControlStatus);
    runs("BadValueOverriddenLater", run_with("R 0\nR 2\n"));
    fails("SeedBeyond32Bits", run_with("SE 99999999999\n"), testing::kControlStatus);
    fails("SeedSmallest32Bit", run_with("SE -2147483648\n"), testing::kControlStatus);
    fails("SeedLargest32Bit", run_with("SE 2147483647\n"), testing::kControlStatus);
    fails("SeedNegatedLargest", run_with("SE -2147483647\n"), testing::kControlStatus);
    runs("SeedLargestUsable", run_with("SE -2147483646\n"));
    runs("SeedZeroTakesTheClock", run_with("SE 0\n"));
    fails("ColumnBeyond16Bits", run_with("C 32768 2 3\n"), testing::kControlStatus);
    fails("ColumnZero", run_with("C 0 2 3\n"), testing::kControlStatus);
    fails("Column26", run_with("C 1 2 26\n"), testing::kControlStatus);
    fails("SmoothingNotANumber", run_with("P nan\n"), testing::kControlStatus);
    fails("SmoothingInfinite", run_with("P inf\n"), testing::kControlStatus);
    fails("SmoothingOverflows", run_with("P 1e999\n"), testing::kControlStatus);
    fails("ScaleInfinite", run_with("SC -inf 36 1\n"), testing::kControlStatus);
    fails("ScaleNotANumber", run_with("SC 1 nan 1\n"), testing::kControlStatus);
    fails("ScaleIncrementZero", run_with("SC 1 36 0\n"), testing::kControlStatus);
    fails("ScaleIncrementNegative", run_with("SC 1 36 -1\n"), testing::kControlStatus);
    fails("ScaleMaximumBelowMinimum", run_with("SC 36 1 1\n"), testing::kControlStatus);
    fails("Scale32768Points", run_with("SC 0 32767 1\n"), testing::kControlStatus);
    runs("Scale32767Points", run_with("SC 0 32766 1\n"));
    fails("ScaleEndsTooManyIncrementsFromZero", run_with("SC 1e300 1e300 1e-300\n"),
          testing::kControlStatus);
    runs("HexadecimalScale", run_with("SC 0x1p0 0x24p0 0x1p0\n"));

    // The smoothing parameter against the method.
    fails("PostSmoothingAboveOne", run_with("SM Post\nP 1.0001\n"), testing::kSmoothingStatus);
    fails("PreSmoothingBelowOne", run_with("P 0.999\nSM Pre\n"), testing::kSmoothingStatus);
    runs("PostSmoothingAtOne", run_with("SM Post\nP 1.0\n"));
    runs("PreSmoothingHugeDegree", run_with("SM Pre\nP 1e300\n"));

    // The data file as a whole.
    fails("NoDataFileNamed", "O report.txt\nSM Mean\n", testing::kSimulationStatus);
    fails("MissingDataFile", run_with("I nothing.dat\n"), testing::kSimulationStatus);
    fails("DataFileIsAFolder", run_with("I .\n"), testing::kSimulationStatus);
    fails("EmptyDataFile", run_with(""), testing::kSimulationStatus, "");
    fails("DataFileOfBinaryGarbage", run_with(""), testing::kSimulationStatus, garbage(4096, 2));
    fails("DataFileWithNul", run_with(""), testing::kSimulationStatus,
          "1 2 " + std::string(1, '\0') + "3\n" + small_forms);
    fails("DataFileTruncatedInARow", run_with(""), testing::kSimulationStatus,
          small_forms.substr(0, small_forms.size() - 9));
    runs("DataFileWithWindowsLineEndsAndByteOrderMark", run_with(""),
         "\xEF\xBB\xBF" + crlf(small_forms));
    fails("DataFileOf32768Rows", run_with(""), testing::kSimulationStatus,
          repeated("1 1 1\n", 32768));
    runs("DataFileOf32767Rows", run_with(""), small_forms + repeated("* * *\n", 32767 - 12));

    // Data rows.
    runs("RowOf298Characters", run_with(""), small_forms + "* * " + std::string(294, 'x') + "\n");
    fails("RowOf299Characters", run_with(""), testing::kSimulationStatus,
          small_forms + "* * " + std::string(295, 'x') + "\n");
    fails("RowOf298CharactersAndACarriageReturn", run_with(""), testing::kSimulationStatus,
          small_forms + "* * " + std::string(294, 'x') + "\r\n");
    fails("RowOfAMegabyte", run_with(""), testing::kSimulationStatus,
          small_forms + std::string(1 << 20, '7') + "\n");
    fails("TooFewColumns", run_with(""), testing::kSimulationStatus, small_forms + "1 2\n");
    fails("NewFormEntryOverflows", run_with(""), testing::kSimulationStatus,
          "1e999 1 1\n" + small_forms);
    fails("OldFormEntryOverflows", run_with(""), testing::kSimulationStatus,
          "1 1e999 1\n" + small_forms);
    fails("ScaleEntryOverflows", run_with(""), testing::kSimulationStatus,
          "1 1 1e999\n" + small_forms);
    runs("ScaleEntryBesideAMissingOldEntryIsNotRead", run_with(""), small_forms + "1 * 1e999\n");
    fails("NumberAfterAMissingEntry", run_with(""), testing::kSimulationStatus,
          small_forms + "* 1 1\n1 1 1\n");
    fails("HeaderLine", run_with(""), testing::kSimulationStatus, "new old scale\n" + small_forms);
    fails("ThreeScorePoints", run_with(""), testing::kSimulationStatus, "1 1 1\n2 2 2\n3 3 3\n");
    fails("OldFormOfThreeScorePoints", run_with(""), testing::kSimulationStatus,
          "1 1 1\n2 2 2\n3 3 3\n4 * 4\n5 * 5\n");
    fails("NewFormOfThreeScorePoints", run_with(""), testing::kSimulationStatus,
          "1 1 1\n2 2 2\n3 3 3\n* 4 4\n* 5 5\n");
    fails("TotalZero", run_with(""), testing::kSimulationStatus, "0 1 1\n0 2 2\n0 3 3\n0 4 4\n");
    fails("SampleSizeRoundsToZero", run_with(""), testing::kSimulationStatus,
          "0.1 1 1\n0.1 2 2\n0.1 3 3\n0.1 4 4\n");
    fails("SampleSizeBeyond32Bits", run_with(""), testing::kSimulationStatus,
          "1073741824 1 1\n1073741824 2 2\n0 3 3\n0 4 4\n");
    fails("HugeFrequencies", run_with(""), testing::kSimulationStatus,
          "1e300 1 1\n1e300 2 2\n1 3 3\n1 4 4\n");

    // Methods that fail in a replication.
    fails("LinearEquatingWithoutSpread", run_with("SM Linear\n"), testing::kSimulationStatus,
          "0 0 1\n7 0 2\n0 9 3\n0 0 4\n");

    // Report destinations.
    fails("OutputInAMissingFolder", run_with("O missing/report.txt\n"), testing::kSimulationStatus);
    fails("OutputIsAFolder", run_with("O .\n"), testing::kSimulationStatus);
    t.push_back({.name = "OutputThroughALoopOfLinks",
                 .control = run_with("O loop1\n"),
                 .status = testing::kSimulationStatus,
                 .setup = [](const TempDir& folder) {
                     if (symlink("loop2", folder.file("loop1").c_str()) != 0 ||
                         symlink("loop1", folder.file("loop2").c_str()) != 0) {
                         return std::string("cannot create symbolic links here");
                     }
                     return std::string();
                 }});
    fails("OutputOnAFullDevice", run_with("O /dev/full\n"), testing::kSimulationStatus);
    t.push_back({.name = "OutputFileReadOnly",
                 .control = run_with(""),
                 .status = testing::kSimulationStatus,
                 .setup = make_report_read_only});
    t.push_back({.name = "OutputBeyondTheFileSizeLimit",
                 .control = run_with(""),
                 .status = testing::kSimulationStatus,
                 .file_size = 1024,
                 .diagnostic = "File too large"});
    t.push_back({.name = "StandardOutputOnAFullDevice",
                 .control = "I scores.dat\nSM Mean\nR 2\nSE 7\n",
                 .status = testing::kSimulationStatus,
                 .stdout_to = Stdout::full_device});
    t.push_back({.name = "StandardOutputClosed",
                 .control = "I scores.dat\nSM Mean\nR 2\nSE 7\n",
                 .status = testing::kSimulationStatus,
                 .stdout_to = Stdout::closed});
    t.push_back({.name = "StandardOutputAPipeClosedByItsReader",
                 .control = "I scores.dat\nSM Mean\nR 2\nSE 7\n",
                 .status = testing::kSimulationStatus,
                 .stdout_to = Stdout::closed_pipe,
                 .diagnostic = "Broken pipe"});
    t.push_back({.name = "StandardOutputClosedAndNamedAsTheReport",
                 .control = "I scores.dat\nSM Mean\nR 2\nSE 7\nO /dev/stdout\n",
                 .status = testing::kSimulationStatus,
                 .stdout_to = Stdout::closed,
                 .diagnostic = "/dev/stdout"});
    t.push_back({.name = "ReportOnStandardOutput",
                 .control = "I scores.dat\nSM Mean\nR 2\nSE 7\n",
                 .expect = Expect::report_on_stdout});

    // eqsim-study: errors found before any replication end with status 2; a method that fails on
    // a replication, or outputs that cannot be written, with status 1. Earlier outputs stay.
    const std::string study_head = "data scores.dat\nseed 5\noutput results\n";
    t.push_back({.name = "StudyFileOfBinaryGarbage",
                 .control = garbage(4096, 3),
                 .status = 2,
                 .study = true});
    t.push_back({.name = "StudyUnknownKeyword",
                 .control = study_head + "method None\nmethods Mean\n",
                 .status = 2,
                 .diagnostic = "study.txt:5:",
                 .study = true});
    t.push_back({.name = "StudyDataFileMissing",
                 .control = study_head + "method None\n",
                 .data = std::nullopt,
                 .status = 2,
                 .diagnostic = "scores.dat",
                 .study = true});
    t.push_back({.name = "StudyOutputFolderIsAFile",
                 .control = "data scores.dat\nmethod None\noutput scores.dat\n",
                 .status = 2,
                 .diagnostic = "scores.dat",
                 .study = true});
    t.push_back({.name = "StudyMethodFailsOnAReplication",
                 .control = study_head + "method None\nmethod Linear\nreplications 4\n",
                 .data = "0 0 10\n7 0 20\n0 9 30\n0 0 40\n",
                 .status = 1,
                 .diagnostic = "Linear, replication 1",
                 .study = true});
    t.push_back({.name = "StudyOutputsBeyondTheFileSizeLimit",
                 .control = study_head + "method None\nreplications 3\n",
                 .status = 1,
                 .file_size = 2048,
                 .diagnostic = "results/",
                 .study = true});

#if !defined(EQSIM_UNDER_ADDRESS_SANITIZER)
    // Storage runs out: 2000 score points times 32767 scale points is a histogram of 262 MB,
    // beyond an address space of 128 MB. (The sanitizer reserves far more address space than
    // that for itself, so these rows run only without it.)
    t.push_back({.name = "HistogramBeyondTheAddressSpace",
                 .control = run_with("SC 0 32766 1\nR 1\n"),
                 .data = repeated("1 1 1\n", 2000),
                 .status = testing::kSimulationStatus,
                 .address_space = rlim_t{128} << 20,
                 .diagnostic = "no storage"});
#endif
    return t;
}

void PrintTo(const Row& row, std::ostream* os) {
    *os << row.name;
}

class BadInput : public ::testing::TestWithParam<Row> {};

TEST_P(BadInput, EndsWithItsMessageAndStatusAndHarmsNoEarlierReport) {
    const Row& row = GetParam();
    TempDir folder;
    TempDir capture;
    folder.write(row.study ? "study.txt" : "run.ctl", row.control);
    if (row.study) {
        std::filesystem::create_directory(folder.file("results"));
        folder.write("results/scores.csv", earlier_report);
    }
    if (row.data) {
        folder.write("scores.dat", *row.data);
    }
    const std::string report = folder.write("report.txt", earlier_report);
    if (row.setup) {
        if (const std::string skip = row.setup(folder); !skip.empty()) {
            GTEST_SKIP() << skip;
        }
    }
    const auto before = folder_state(folder.path());
    const auto start = std::chrono::steady_clock::now();
    const Outcome o = run_row(row, folder, capture);
    const auto elapsed = std::chrono::steady_clock::now() - start;
    set_immutable(report, false);

    ASSERT_FALSE(o.timed_out) << "still running after " << time_limit.count() << " s";
    // Warnings come first and leave the rest of the outcome as it would be without them.
    std::string warnings;
    std::string err = o.err;
    while (err.find(": warning: ") < err.find('\n') &&
           (row.expect != Expect::failure || err.find('\n') + 1 < err.size())) {
        warnings += err.substr(0, err.find('\n') + 1);
        err.erase(0, err.find('\n') + 1);
    }
    if (row.warning.empty()) {
        EXPECT_EQ(warnings, "");
    } else {
        EXPECT_NE(warnings.find(row.warning), std::string::npos) << warnings;
        EXPECT_EQ(warnings.find('\n'), warnings.size() - 1) << "one warning: " << warnings;
    }
    EXPECT_LT(elapsed, time_limit);
    const int expected_status = row.expect == Expect::failure ? row.status : 0;
    EXPECT_EQ(o.status, expected_status) << o.err;
    EXPECT_EQ(o.err.find("ERROR: "), std::string::npos) << "a sanitizer report:\n" << o.err;
    EXPECT_EQ(o.err.find("runtime error"), std::string::npos) << "a sanitizer report:\n" << o.err;
    if (row.study) {
        EXPECT_EQ(o.out, "");
        EXPECT_EQ(o.err.rfind("eqsim-study: ", 0), 0u) << o.err;
        EXPECT_EQ(o.err.find('\n'), o.err.size() - 1) << "one diagnostic line: " << o.err;
        EXPECT_NE(o.err.find(row.diagnostic), std::string::npos) << o.err;
        EXPECT_EQ(folder_state(folder.path()), before) << "the folder changed";
        EXPECT_EQ(folder_state(folder.file("results")).size(), 1u) << "an output was left";
        EXPECT_EQ(read_file(folder.file("results/scores.csv")), earlier_report);
        return;
    }
    switch (row.expect) {
        case Expect::failure: {
            const std::string message = row.status == testing::kUsageStatus     ? usage_error
                                        : row.status == testing::kControlStatus ? control_error
                                        : row.status == testing::kSmoothingStatus
                                            ? smoothing_error
                                            : simulation_error;
            if (row.stdout_to == Stdout::captured) {
                EXPECT_EQ(o.out, message);
            }
            EXPECT_EQ(err.rfind("eqsim: ", 0), 0u) << o.err;
            EXPECT_EQ(err.find('\n'), err.size() - 1) << "one diagnostic line: " << o.err;
            EXPECT_NE(err.find(row.diagnostic), std::string::npos) << o.err;
            EXPECT_EQ(folder_state(folder.path()), before) << "the folder changed";
            break;
        }
        case Expect::report_in_file:
            EXPECT_EQ(o.out, "");
            EXPECT_EQ(err, "");
            EXPECT_EQ(read_file(report).rfind("Input file:\tscores.dat\n", 0), 0u);
            EXPECT_EQ(folder_state(folder.path()).size(), before.size()) << "a file was left";
            break;
        case Expect::report_on_stdout:
            EXPECT_EQ(o.out.rfind("Input file:\tscores.dat\n", 0), 0u) << o.out;
            EXPECT_EQ(err, "");
            EXPECT_EQ(folder_state(folder.path()), before);
            break;
    }
}

INSTANTIATE_TEST_SUITE_P(Table, BadInput, ::testing::ValuesIn(rows()),
                         [](const ::testing::TestParamInfo<Row>& info) { return info.param.name; });

}  // namespace
}  // namespace eqsim
