// Guard rails of the eqsim program, through the built executable: warnings for inputs that run but
// are likely slips, diagnostics that point at a failure's cause, and the progress line of a long
// run in a terminal. None of them may change standard output, a report or the exit status.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <pty.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <optional>
#include <string>
#include <vector>

#include "support/program_messages.h"
#include "support/temp_dir.h"

namespace eqsim {
namespace {

using testing::read_file;
using testing::TempDir;

// Every sample of these populations is the population itself, and every scale score of the old
// form lies between 20 and 80: on the default scale of 1 to 36 all of them are held at 36.
const std::string scale_20_to_80 = "0 0 20\n7 0 40\n0 9 60\n0 0 80\n";

std::string report_held_at_36() {
    std::string histogram;
    for (int x = 0; x < 4; ++x) {
        histogram += std::to_string(x);
        for (int point = 1; point < 36; ++point) {
            histogram += "\t0";
        }
        histogram += "\t3\n";
    }
    const std::string zeros = "\t0.00000000\t0.00000000\t0.00000000";
    return "Input file:\tscores.dat\nColumns read:\t1\t2\t3\nType of equating function:\tMean\n"
           "Number of replications:\t3\nSeed:\t5\n"
           "Scale min, max, inc:\t1.000000\t36.000000\t1.000000\n"
           "Sample sizes (new, old):\t7.000000\t9.000000\n\n"
           "0" +
           zeros + "\t1.00000000\t40.00000000\t36.00000000\n1" + zeros +
           "\t2.00000000\t60.00000000\t36.00000000\n2" + zeros +
           "\t3.00000000\t80.00000000\t36.00000000\n3" + zeros +
           "\t4.00000000\t100.00000000\t36.00000000\nMean" + zeros +
           "\t2.00000000\t60.00000000\t36.00000000\n\n" + histogram;
}

// The example's data with line `line` (from 1) replaced.
std::string example_with_line(int line, const std::string& replacement) {
    const std::string data = read_file(testing::example_data_path());
    std::size_t start = 0;
    for (int i = 1; i < line; ++i) {
        start = data.find('\n', start) + 1;
    }
    const std::size_t end = data.find('\n', start);
    return data.substr(0, start) + replacement + data.substr(end);
}

std::string example_separated_by(char separator) {
    std::string data = read_file(testing::example_data_path());
    for (char& c : data) {
        if (c == ' ') {
            c = separator;
        }
    }
    return data;
}

struct Row {
    std::string name;
    std::string control;  // run.ctl, in a folder that holds the data as scores.dat
    std::optional<std::string> data = std::nullopt;  // the example's data when not given
    // Standard error: empty, or one line holding this text, where {folder} stands for the
    // folder the program ran in.
    std::string err = {};
    // What the run must give otherwise: the standard output and status of the same input
    // without the slip (a control file read the same way), or a known report and status.
    std::optional<std::string> same_as = std::nullopt;
    std::string out = {};
    int status = 0;
    std::string control_path = "run.ctl";
};

std::vector<Row> rows() {
    const std::string run = "I scores.dat\nSM Mean\nR 5\nSE 3\n";
    const std::string failed = testing::kSimulationMessage;
    const int failure = testing::kSimulationStatus;
    return {
        // Settings after the empty line that ends them.
        {.name = "SettingsAfterAnEmptyLine",
         .control = "I scores.dat\nSM Mean\n\nR 5\nSE 3\n",
         .err = "run.ctl:4: warning: this line is not read: the settings ended at the empty line 3",
         .same_as = "I scores.dat\nSM Mean\n"},
        {.name = "OnlyCommentsAndBlanksAfterTheEmptyLine",
         .control = run + "\n\n  \t\n# notes\n\r\n",
         .same_as = run},
        // Method words.
        {.name = "MethodLoglinear",
         .control = run + "SM Loglinear\n",
         .err = "run.ctl:5: warning: method \"Loglinear\" is read as Linear",
         .same_as = run + "SM Linear\n"},
        {.name = "MethodLogDashLinear",
         .control = run + "SM Log-linear\n",
         .err = "run.ctl:5: warning: method \"Log-linear\" is read as Linear",
         .same_as = run + "SM Linear\n"},
        {.name = "MethodMeanSigma",
         .control = run + "SM Linear\nSM Mean-sigma\n",
         .err = "run.ctl:6: warning: method \"Mean-sigma\" is read as Mean",
         .same_as = run},
        {.name = "MethodWordsThatBeginANameAreSilent",
         .control = run + "SM Post\nSM PR\nP 3\nSM Pre-smoothing\nSM n\n",
         .same_as = run + "SM None\nP 3\n"},
        // Numbers with characters after them.
        {.name = "ReplicationsWithAnExponent",
         .control = run + "R 1e3\n",
         .err = "run.ctl:5: warning: replications (R) \"1e3\" is read as 1: the text after \"1\" "
                "is ignored",
         .same_as = run + "R 1\n"},
        {.name = "ReplicationsWithAThousandsComma",
         .control = run + "R 1,000\n",
         .err = "warning: replications (R) \"1,000\" is read as 1",
         .same_as = run + "R 1\n"},
        {.name = "ReplicationsWithASuffix",
         .control = run + "R 20k\n",
         .err = "warning: replications (R) \"20k\" is read as 20",
         .same_as = run + "R 20\n"},
        {.name = "SmoothingWithADecimalComma",
         .control = run + "SM Post\nP 0,3\n",
         .err = "run.ctl:6: warning: smoothing parameter (P) \"0,3\" is read as 0: the text after "
                "\"0\" is ignored (the decimal mark is a point",
         .same_as = run + "SM Post\nP 0\n"},
        {.name = "ScaleValueWithCharactersAfterIt",
         .control = run + "SC 1 36pts 1\n",
         .err = "run.ctl:5: warning: scale maximum (SC) \"36pts\" is read as 36",
         .same_as = run + "SC 1 36 1\n"},
        // Scale scores outside the scale.
        {.name = "ConversionOutsideTheDefaultScale",
         .control = "I scores.dat\nSM Mean\nR 3\nSE 5\n",
         .data = scale_20_to_80,
         .err = "run.ctl:1: warning: the scale is the default, 1 to 36 (no SC line), but the old "
                "form's scale scores in scores.dat run from 20 to 80: 100% of its examinees",
         .out = report_held_at_36()},
        {.name = "ConversionOutsideTheGivenScale",
         .control = "I scores.dat\nSM Mean\nR 3\nSC 1 36 1\nSE 5\n",
         .data = scale_20_to_80,
         .err = "run.ctl:4: warning: the scale (SC) runs from 1 to 36, but the old form's scale "
                "scores in scores.dat run from 20 to 80",
         .out = report_held_at_36()},
        {.name = "ConversionThatFitsTheScaleIsSilent",
         .control = "I scores.dat\nSM Mean\nR 3\nSC 20 80 1\nSE 5\n",
         .data = scale_20_to_80,
         .same_as = "I scores.dat\nSM Mean\nR 3\nSC 20 80 1\nSE 5\n"},
        // Diagnostics that point at the cause.
        {.name = "HeaderLine",
         .control = run,
         .data = "new old scale\n" + read_file(testing::example_data_path()),
         .err = "scores.dat:1: new-form entry \"new\" is not a number, so it counts as missing, "
                "yet line 2 holds a number for that form: the data file must not have a header "
                "line",
         .out = failed,
         .status = failure},
        {.name = "ShortHeaderLine",
         .control = run,
         .data = "frequencies\n" + read_file(testing::example_data_path()),
         .err = "scores.dat:1: row has 1 column; column 2 is needed (the data file must not have "
                "a header line",
         .out = failed,
         .status = failure},
        {.name = "SignedEntry",
         .control = run,
         .data = example_with_line(5, "-1 3 4.0"),
         .err = "scores.dat:5: new-form entry \"-1\" has a sign, and a signed entry counts as "
                "missing, yet line 6 holds a number for that form",
         .out = failed,
         .status = failure},
        {.name = "CommaSeparatedColumns",
         .control = run,
         .data = example_separated_by(','),
         .err = "scores.dat:1: row has 1 column; column 2 is needed (columns are separated by "
                "blanks or tabs, not by commas)",
         .out = failed,
         .status = failure},
        {.name = "SemicolonSeparatedColumns",
         .control = run,
         .data = example_separated_by(';'),
         .err = "(columns are separated by blanks or tabs, not by semicolons)",
         .out = failed,
         .status = failure},
        // Paths, at the line that named them.
        {.name = "RelativeDataPath",
         .control = "I ../study.dat\nSM Mean\n",
         .err = "run.ctl:1: ../study.dat: cannot open data file: No such file or directory (a "
                "relative path is taken from the current folder, {folder})",
         .out = failed,
         .status = failure},
        {.name = "RelativeDataPathFromAControlFileElsewhere",
         .control = "SM Mean\nI study.dat\n",
         .err = "sub/run.ctl:2: study.dat: cannot open data file: No such file or directory (a "
                "relative path is taken from the current folder, {folder}, not from the control "
                "file's)",
         .out = failed,
         .status = failure,
         .control_path = "sub/run.ctl"},
        {.name = "AbsoluteDataPath",
         .control = "SM Mean\nI /nonexistent/study.dat\n",
         .err = "run.ctl:2: /nonexistent/study.dat: cannot open data file: No such file or "
                "directory\n",
         .out = failed,
         .status = failure},
        {.name = "ReportInAMissingFolder",
         .control = run + "O missing/report.txt\n",
         .err = "run.ctl:5: missing/report.txt: cannot create output file: No such file or "
                "directory (a relative path is taken from the current folder, {folder})",
         .out = failed,
         .status = failure},
    };
}

void PrintTo(const Row& row, std::ostream* os) {
    *os << row.name;
}

std::string with_folder(std::string text, const std::string& folder) {
    const std::string mark = "{folder}";
    if (const std::size_t at = text.find(mark); at != std::string::npos) {
        text.replace(at, mark.size(), folder);
    }
    return text;
}

// Runs the executable on control (at control_path) and data in a folder of its own.
testing::RunResult run_in_folder(const TempDir& folder, const std::string& control_path,
                                 const std::string& control, const std::string& data) {
    mkdir(folder.file("sub").c_str(), 0700);
    folder.write("scores.dat", data);
    folder.write(control_path, control);
    return testing::run_executable("'" + control_path + "'", folder.path());
}

class GuardRails : public ::testing::TestWithParam<Row> {};

TEST_P(GuardRails, SayWhatIsWrongAndChangeNoOutputOrStatus) {
    const Row& row = GetParam();
    const std::string data = row.data.value_or(read_file(testing::example_data_path()));
    TempDir folder;
    const auto r = run_in_folder(folder, row.control_path, row.control, data);
    if (row.err.empty()) {
        EXPECT_EQ(r.err, "");
    } else {
        EXPECT_EQ(r.err.rfind("eqsim: ", 0), 0u) << r.err;
        EXPECT_EQ(r.err.find('\n'), r.err.size() - 1) << "one line: " << r.err;
        EXPECT_NE(r.err.find(with_folder(row.err, folder.path())), std::string::npos) << r.err;
    }
    if (row.same_as) {
        TempDir other;
        const auto reference = run_in_folder(other, row.control_path, *row.same_as, data);
        EXPECT_EQ(reference.err, "") << "the reference run must be silent";
        EXPECT_EQ(r.status, reference.status) << r.err;
        EXPECT_EQ(r.out, reference.out);
    } else {
        EXPECT_EQ(r.status, row.status) << r.err;
        EXPECT_EQ(r.out, row.out);
    }
}

INSTANTIATE_TEST_SUITE_P(Table, GuardRails, ::testing::ValuesIn(rows()),
                         [](const ::testing::TestParamInfo<Row>& info) { return info.param.name; });

struct TerminalRun {
    int status = -1;
    std::string terminal;  // what the program wrote to its terminal (standard error)
    std::string out;       // standard output, sent to a file
};

// Runs the executable in folder with standard error (and input) on a pseudo-terminal.
TerminalRun run_on_terminal(const TempDir& folder, const std::string& control) {
    TerminalRun run;
    const std::string out_path = folder.file("stdout");
    int master = -1;
    const pid_t pid = forkpty(&master, nullptr, nullptr, nullptr);
    if (pid == 0) {
        const int out = open(out_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        if (out < 0 || dup2(out, 1) < 0 || chdir(folder.path().c_str()) != 0) {
            _exit(126);
        }
        execl(EQSIM_EXECUTABLE, EQSIM_EXECUTABLE, control.c_str(), static_cast<char*>(nullptr));
        _exit(127);
    }
    if (pid < 0) {
        return run;
    }
    char buffer[4096];
    for (;;) {
        const ssize_t got = read(master, buffer, sizeof buffer);
        if (got > 0) {
            run.terminal.append(buffer, static_cast<std::size_t>(got));
        } else if (got < 0 && errno == EINTR) {
            continue;
        } else {
            break;  // EIO once the program has closed the terminal
        }
    }
    close(master);
    int raw = 0;
    waitpid(pid, &raw, 0);
    run.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
    run.out = read_file(out_path);
    return run;
}

TEST(GuardRails, ALongRunInATerminalShowsItsProgressAndErasesIt) {
    TempDir folder;
    folder.write("scores.dat", read_file(testing::example_data_path()));
    const auto control = [&](long replications) {
        return folder.write("run.ctl", "I scores.dat\nSM Post\nP 0.3\nSE 20261207\nR " +
                                           std::to_string(replications) + "\n");
    };

    // A short run shows nothing.
    const TerminalRun short_run = run_on_terminal(folder, control(20));
    ASSERT_EQ(short_run.status, 0) << short_run.terminal;
    EXPECT_EQ(short_run.terminal, "");

    // Enough replications for about three and a half seconds on this build and machine, where
    // the line appears once a run looks like taking more than two.
    const long probe = 2000;
    control(probe);
    const auto start = std::chrono::steady_clock::now();
    ASSERT_EQ(testing::run_executable("run.ctl", folder.path()).status, 0);
    const double probe_seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    const long replications =
        std::max(probe, static_cast<long>(3.5 * static_cast<double>(probe) / probe_seconds));

    // A machine busy with other work can make the probe slow and the run quick, so a run that
    // ends before its line is due is tried again with twice the replications.
    TerminalRun long_run;
    std::string total;
    long replications_run = replications;
    for (int attempt = 0; attempt < 3; ++attempt, replications_run *= 2) {
        control(replications_run);
        const auto plain = testing::run_executable("run.ctl", folder.path());
        ASSERT_EQ(plain.status, 0);
        EXPECT_EQ(plain.err, "");
        long_run = run_on_terminal(folder, folder.file("run.ctl"));
        EXPECT_EQ(long_run.status, 0) << long_run.terminal;
        EXPECT_EQ(long_run.out, plain.out) << "the report must not change";
        total = " of " + std::to_string(replications_run) + " replications, about ";
        if (long_run.terminal.find(total) != std::string::npos) {
            break;
        }
    }

    const std::string& shown = long_run.terminal;
    ASSERT_NE(shown.find(total), std::string::npos)
        << replications_run << " replications: " << shown;
    EXPECT_EQ(shown.find('\n'), std::string::npos) << "one line, rewritten in place: " << shown;
    // The line is blanked out at the end and the cursor left at its start.
    const std::size_t last_text = shown.find_last_not_of(" \r");
    ASSERT_NE(last_text, std::string::npos);
    EXPECT_EQ(shown.substr(last_text - 4, 5), " left") << shown;
    const std::string tail = shown.substr(last_text + 1);
    ASSERT_GE(tail.size(), 2u);
    EXPECT_EQ(tail.front(), '\r');
    EXPECT_EQ(tail.back(), '\r');
    const std::size_t last_line = shown.rfind('\r', last_text);
    EXPECT_GE(tail.size() - 2, last_text - last_line) << "the blanks must cover the line";
}

}  // namespace
}  // namespace eqsim
