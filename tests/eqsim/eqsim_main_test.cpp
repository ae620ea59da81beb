#include "eqsim/eqsim_main.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <ctime>
#include <filesystem>
#include <numeric>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "support/program_messages.h"
#include "support/temp_dir.h"

namespace eqsim {
namespace {

using testing::fields_of;
using testing::lines_of;
using testing::read_file;
using testing::run_in_process;
using testing::TempDir;

const std::string& simulation_error = testing::kSimulationMessage;

// Every sample of these populations is the population itself, so the results are exact.
const std::string point_masses = "0 0 10\n7 0 20\n0 9 30\n0 0 40\n";

struct Scenario {
    TempDir dir;
    std::string data;
    std::string control;

    explicit Scenario(const std::string& settings,
                      const std::optional<std::string>& data_text = std::nullopt) {
        data = data_text ? dir.write("scores.dat", *data_text) : testing::example_data_path();
        control = dir.write("run.ctl", "I " + data + "\n" + settings);
    }
    testing::RunResult run() const { return run_in_process({control}); }
};

TEST(EqsimMain, ArgumentsOtherThanOneControlFileAreRefused) {
    for (const std::vector<std::string>& args :
         {std::vector<std::string>{}, std::vector<std::string>{"a.ctl", "b.ctl"},
          std::vector<std::string>{"--help", "x"}}) {
        const auto r = run_in_process(args);
        EXPECT_EQ(r.status, testing::kUsageStatus);
        EXPECT_EQ(r.out, "Must specify control file on command line.\n");
        EXPECT_NE(r.err.find("eqsim: "), std::string::npos);
    }
    const auto help = run_in_process({"--help"});
    EXPECT_EQ(help.status, 0);
    EXPECT_NE(help.out.find("Usage: eqsim CONTROL-FILE"), std::string::npos);
    EXPECT_EQ(run_in_process({"-h"}).out, help.out);
    const auto version = run_in_process({"--version"});
    EXPECT_EQ(version.status, 0);
    EXPECT_EQ(version.out, "eqsim " EQSIM_VERSION "\n");
}

TEST(EqsimMain, ControlFileErrorsIncludingFinalValueChecks) {
    const auto missing = run_in_process({"/nonexistent/run.ctl"});
    EXPECT_EQ(missing.status, testing::kControlStatus);
    EXPECT_EQ(missing.out, "Error reading control file.\n");
    EXPECT_NE(missing.err.find("/nonexistent/run.ctl"), std::string::npos);
    for (const std::string settings :
         {"S 7\n", "R 0\n", "SC 1 36 0\n", "C 1 2 0\n", "SE 2147483647\n", "P nan\n", "SC 36 1 1\n",
          "R -5\nR 5\nR 0\n"}) {
        const auto r = Scenario("SM Linear\n" + settings).run();
        EXPECT_EQ(r.status, testing::kControlStatus) << settings;
        EXPECT_EQ(r.out, "Error reading control file.\n") << settings;
        EXPECT_NE(r.err.find("run.ctl"), std::string::npos) << r.err;
    }
    // A bad value overridden by a later line is fine.
    EXPECT_EQ(Scenario("SM Linear\nR 0\nR 2\n").run().status, 0);
}

TEST(EqsimMain, SmoothingParameterMustSuitTheMethod) {
    const auto check = [](const std::string& settings) {
        const auto r = Scenario(settings + "R 1\nSE 1\n").run();
        return r.status;
    };
    EXPECT_EQ(check("SM Post\nP 1.0001\n"), testing::kSmoothingStatus);
    EXPECT_EQ(check("P 1.0001\n"), testing::kSmoothingStatus);  // post-smoothing is the default
    EXPECT_EQ(check("P 0.999\nSM Pre\n"), testing::kSmoothingStatus);
    EXPECT_NE(check("SM Post\nP 1.0\n"), testing::kSmoothingStatus);
    EXPECT_NE(check("SM Pre\nP 1.0\n"), testing::kSmoothingStatus);
    EXPECT_EQ(check("SM Synthetic\nP 1.5\n"), testing::kSmoothingStatus);
    EXPECT_EQ(check("SM Kernel\nP 0.9\n"), testing::kSmoothingStatus);
    // The anchor-test methods are eqsim-study's; eqsim's control file names none of them.
    const auto tucker = Scenario("SM Tucker\nR 1\nSE 1\n").run();
    EXPECT_EQ(tucker.status, testing::kControlStatus);
    EXPECT_NE(tucker.err.find("is Tucker, a method of the anchor-test design"), std::string::npos)
        << tucker.err;
    EXPECT_EQ(check("SM S\nP -0.01\n"), testing::kSmoothingStatus);
    EXPECT_EQ(check("SM Synthetic\nP 1\n"), 0);
    EXPECT_EQ(check("SM Identity\nP 7\n"), 0);
    EXPECT_EQ(check("SM None\nP -5\n"), 0);
    EXPECT_EQ(check("SM Mean\nP 1e300\n"), 0);
    const auto r = Scenario("SM Pre\nP 0.5\n").run();
    EXPECT_EQ(r.out, "Invalid parameter for smoothing.\n");
}

TEST(EqsimMain, DataProblemsEndWithTheSimulationMessage) {
    const std::vector<std::string> bad_data = {
        "",                                      // no rows
        "1 1 1\n2 2 2\n3 3 3\n",                 // three score points
        "1 1 1\n2 2 2\n3 3 3\n4 * 4\n5 * 5\n",   // old form has three
        "1 1 1\n2 2 2\n3 3 3\n* 4 4\n* 5 5\n",   // new form has three
        "0 1 1\n0 2 2\n0 3 3\n0 4 4\n",          // new form total of 0
        "0.1 1 1\n0.1 2 2\n0.1 3 3\n0.1 4 4\n",  // sample size trunc(0.4 + 0.5) = 0
        "1e300 1 1\n1e300 2 2\n1 3 3\n1 4 4\n",  // sample size beyond 32 bits
    };
    for (const std::string& data : bad_data) {
        const auto r = Scenario("SM Mean\nR 2\n", data).run();
        EXPECT_EQ(r.status, testing::kSimulationStatus) << data;
        EXPECT_EQ(r.out, simulation_error) << data;
        EXPECT_NE(r.err.find("scores.dat"), std::string::npos) << r.err;
    }
    TempDir dir;
    const auto no_input = run_in_process({dir.write("run.ctl", "SM Mean\n")});
    EXPECT_EQ(no_input.status, testing::kSimulationStatus);
}

TEST(EqsimMain, ReportOfAnExactlyKnownRun) {
    const Scenario s("SM Mean\nR 3\nSE -99\nSC 10 50 10\n", point_masses);
    const auto r = s.run();
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.err, "");
    const std::string zeros = "\t0.00000000\t0.00000000\t0.00000000";
    EXPECT_EQ(r.out, "Input file:\t" + s.data +
                         "\n"
                         "Columns read:\t1\t2\t3\n"
                         "Type of equating function:\tMean\n"
                         "Number of replications:\t3\n"
                         "Seed:\t99\n"
                         "Scale min, max, inc:\t10.000000\t50.000000\t10.000000\n"
                         "Sample sizes (new, old):\t7.000000\t9.000000\n"
                         "\n"
                         "0" +
                         zeros +
                         "\t1.00000000\t20.00000000\t20.00000000\n"
                         "1" +
                         zeros +
                         "\t2.00000000\t30.00000000\t30.00000000\n"
                         "2" +
                         zeros +
                         "\t3.00000000\t40.00000000\t40.00000000\n"
                         "3" +
                         zeros +
                         "\t4.00000000\t50.00000000\t50.00000000\n"
                         "Mean" +
                         zeros +
                         "\t2.00000000\t30.00000000\t30.00000000\n"
                         "\n"
                         "0\t0\t3\t0\t0\t0\n"
                         "1\t0\t0\t3\t0\t0\n"
                         "2\t0\t0\t0\t3\t0\n"
                         "3\t0\t0\t0\t0\t3\n");
}

TEST(EqsimMain, ReportHeaderOfEveryMethod) {
    struct Header {
        std::string method;
        std::string name;
        std::string smoothing_line;  // empty where the method takes no smoothing parameter
    };
    for (const Header& h :
         {Header{"Post", "Post-Smoothing", "Smoothing parameter:\t0.300000\n"},
          Header{"Pre", "Pre-Smoothing", "Smoothing parameter:\t6.000000\n"},
          Header{"None", "Unsmoothed equipercentile", ""}, Header{"Linear", "Linear", ""},
          Header{"Mean", "Mean", ""}, Header{"Identity", "Identity", ""},
          Header{"Circle-arc", "Circle-arc", ""},
          Header{"Syn", "Synthetic", "Smoothing parameter:\t0.300000\n"},
          Header{"K", "Kernel", "Smoothing parameter:\t6.000000\n"}}) {
        const std::string p = h.method == "Pre" || h.method == "K" ? "6" : "0.3";
        const Scenario s("SM " + h.method + "\nP " + p + "\nR 1\nSE 3\nC 1 2 3\nSC 1 36 1\n");
        const auto r = s.run();
        ASSERT_EQ(r.status, 0) << h.method << r.err;
        EXPECT_EQ(r.out.substr(0, r.out.find("\n\n") + 2),
                  "Input file:\t" + s.data + "\nColumns read:\t1\t2\t3\n" +
                      "Type of equating function:\t" + h.name + "\n" + h.smoothing_line +
                      "Number of replications:\t1\nSeed:\t3\n"
                      "Scale min, max, inc:\t1.000000\t36.000000\t1.000000\n"
                      "Sample sizes (new, old):\t4329.000000\t4152.000000\n\n")
            << h.method;
    }
}

// The methods that need the least data, end to end: identity's equated scores and scale scores do
// not vary, circle-arc's ends do not, and synthetic equating runs from identity (weight 0) to
// linear equating (weight 1).
TEST(EqsimMain, SmallSampleMethodsEndToEnd) {
    const auto scores = [](const std::string& settings) {
        const auto r = Scenario(settings + "R 30\nSE 99\n").run();
        EXPECT_EQ(r.status, 0) << settings << r.err;
        std::vector<std::vector<std::string>> rows;
        const std::vector<std::string> lines = testing::lines_of(r.out);
        for (std::size_t i = 0; i < lines.size() && lines[i].rfind("Mean", 0) != 0; ++i) {
            const std::vector<std::string> f = testing::fields_of(lines[i], '\t');
            if (f.size() == 7 && f[0] == std::to_string(rows.size())) {
                rows.push_back(f);
            }
        }
        EXPECT_EQ(rows.size(), 41u) << settings;
        return rows;
    };
    for (const auto& row : scores("SM Identity\n")) {
        EXPECT_EQ(row[1], "0.00000000") << row[0];
        EXPECT_EQ(row[2], "0.00000000") << row[0];
        EXPECT_EQ(row[4], row[0] + ".00000000");
    }
    const auto arc = scores("SM Circle-arc\n");
    EXPECT_EQ(arc.front()[1], "0.00000000");
    EXPECT_EQ(arc.back()[1], "0.00000000");
    EXPECT_EQ(arc.back()[4], "40.00000000");
    EXPECT_NE(arc[20][1], "0.00000000");
    EXPECT_EQ(scores("SM Synthetic\nP 0\n"), scores("SM Identity\n"));
    EXPECT_EQ(scores("SM Synthetic\nP 1\n"), scores("SM Linear\n"));
}

TEST(EqsimMain, ExampleReportsMatchTheirGoldenCopies) {
    // The examples name their data file relative to the repository's top folder; a scratch
    // folder with a copy of the examples stands in for it (a copy, since Windows may refuse to
    // make links). See tests/golden/README.md.
    TempDir top;
    const std::string source = EQSIM_SOURCE_DIR;
    std::error_code error;
    std::filesystem::copy(source + "/examples", top.file("examples"),
                          std::filesystem::copy_options::recursive, error);
    ASSERT_FALSE(error) << error.message();
    for (const std::string example :
         {"linear", "mean", "postsmooth", "presmooth", "unsmoothed", "kernel"}) {
        const auto r = testing::run_executable("examples/" + example + ".ctl", top.path());
        EXPECT_EQ(r.status, 0) << example << ": " << r.err;
        EXPECT_EQ(r.err, "") << example << ": an example gives no warning";
        EXPECT_EQ(r.out, read_file(source + "/tests/golden/" + example + ".txt"))
            << example << ": run tests/golden/regenerate.sh if the change is intended";
    }
}

// glibc picks its exp and log by processor; the log-linear fit uses exp and log of its own, so
// a run as on a processor without fused multiply-add gives the same bytes. Degree 20, ten
// replications, seed 1 changed in three lines when the fit used the C library's functions.
TEST(EqsimMain, PreSmoothedReportIsTheSameWithoutTheProcessorsFusedMultiplyAdd) {
#if defined(_WIN32)
    GTEST_SKIP() << "the switch is glibc's; the Wine comparison covers the other C library";
#endif
    const std::string without_fma = "GLIBC_TUNABLES=glibc.cpu.hwcaps=-AVX2,-FMA";
    for (const std::string settings : {"SM Pre\nP 20\nR 10\nSE 1\n", "SM Pre\nP 6\nR 10\nSE 3\n"}) {
        const Scenario s(settings);
        const auto normal = testing::run_executable("'" + s.control + "'");
        const auto other = testing::run_executable("'" + s.control + "'", {}, without_fma);
        ASSERT_EQ(normal.status, 0) << normal.err;
        EXPECT_EQ(other.status, normal.status) << settings;
        EXPECT_EQ(other.out, normal.out) << settings;
        EXPECT_EQ(other.err, normal.err) << settings;
    }
}

TEST(EqsimMain, ReportLayoutOnTheBundledExample) {
    const auto r = Scenario("SM Linear\nR 25\nSE 31\n").run();
    ASSERT_EQ(r.status, 0) << r.err;
    const auto lines = lines_of(r.out);
    ASSERT_EQ(lines.size(), 7u + 1 + 41 + 1 + 1 + 41);
    EXPECT_EQ(lines[2], "Type of equating function:\tLinear");  // no smoothing line
    EXPECT_EQ(lines[6], "Sample sizes (new, old):\t4329.000000\t4152.000000");
    EXPECT_EQ(lines[7], "");
    for (int k = 0; k < 41; ++k) {
        const auto fields = fields_of(lines[8 + k]);
        ASSERT_EQ(fields.size(), 7u);
        EXPECT_EQ(fields[0], std::to_string(k));
        const auto histogram = fields_of(lines[51 + k]);
        ASSERT_EQ(histogram.size(), 37u);
        int total = 0;
        for (std::size_t i = 1; i < histogram.size(); ++i) {
            total += std::stoi(histogram[i]);
        }
        EXPECT_EQ(total, 25) << "raw score " << k;
    }
    EXPECT_EQ(lines[49].substr(0, 5), "Mean\t");
    EXPECT_EQ(lines[50], "");
}

TEST(EqsimMain, SameSeedSameBytesAndTheClockSeedIsReported) {
    const Scenario s("SM Linear\nR 40\nSE 2718\n");
    const auto first = s.run();
    ASSERT_EQ(first.status, 0);
    EXPECT_EQ(s.run().out, first.out);
    const auto other = Scenario("SM Linear\nR 40\nSE 2719\n").run();
    EXPECT_NE(other.out, first.out);

    const long before = static_cast<long>(std::time(nullptr));
    const auto clock = Scenario("SM Linear\nR 2\nSE 0\n").run();
    const long after = static_cast<long>(std::time(nullptr));
    const auto seed_line = lines_of(clock.out).at(4);
    const long seed = std::stol(seed_line.substr(seed_line.find('\t') + 1));
    EXPECT_GE(seed, before % 2147483646);
    EXPECT_LE(seed, after % 2147483646);
}

TEST(EqsimMain, UnroundedTotalsAreReportedWhileRoundedOnesAreDrawn) {
    const auto r =
        Scenario("SM Mean\nR 2\nSE 5\n", "20 30 1\n30.6 30 2\n29 30.4 3\n20 9 4\n").run();
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(lines_of(r.out).at(6), "Sample sizes (new, old):\t99.600000\t99.400000");
}

TEST(EqsimMain, ScoresRoundingPastTheScaleEndsCountAtTheNearestEnd) {
    // 0 to 1 by 0.3 has 4 points, and 1.2 rounds to slot 4: counted in slot 3.
    const auto r =
        Scenario("SM Mean\nR 6\nSE 8\nSC 0 1 0.3\n", "0 0 0.2\n7 0 0.5\n0 9 0.9\n0 0 1.3\n").run();
    ASSERT_EQ(r.status, 0) << r.err;
    const auto lines = lines_of(r.out);
    EXPECT_EQ(lines.back(), "3\t0\t0\t0\t6");
}

TEST(EqsimMain, AFailingMethodLeavesNoReport) {
    // Linear equating of a sample without spread fails in the first replication.
    const auto r = Scenario("SM Linear\nR 3\nSE 4\n", point_masses).run();
    EXPECT_EQ(r.status, testing::kSimulationStatus);
    EXPECT_EQ(r.out, simulation_error);
    EXPECT_NE(r.err.find("replication 1"), std::string::npos) << r.err;
}

TEST(EqsimMain, ScaleScoresThatOverflowFailTheRun) {
    const auto r =
        Scenario("SM Linear\nR 2\nSE 9\n", "2 8 1e308\n9 7 -1e308\n1 1 2\n9 3 1e308\n").run();
    EXPECT_EQ(r.status, testing::kSimulationStatus);
    EXPECT_EQ(r.out, simulation_error);
    EXPECT_NE(r.err.find("scale conversion"), std::string::npos) << r.err;
}

TEST(EqsimMain, StatisticsThatOverflowFailTheRun) {
    // Finite scale scores whose squares are not.
    const auto r = Scenario("SM Mean\nR 2\nSE 9\nSC 1e200 1e201 1e199\n",
                            "0 0 1e200\n7 0 2e200\n0 9 3e200\n0 0 4e200\n")
                       .run();
    EXPECT_EQ(r.status, testing::kSimulationStatus);
    EXPECT_EQ(r.out, simulation_error);
    EXPECT_NE(r.err.find("overflowed"), std::string::npos) << r.err;
}

TEST(EqsimMain, OneReplicationHasMeansOfThatReplicationAndNoSpread) {
    const auto r = Scenario("SM Linear\nR 1\nSE 77\n").run();
    ASSERT_EQ(r.status, 0);
    for (const auto& line : lines_of(r.out)) {
        const auto f = fields_of(line);
        if (f.size() == 7) {
            EXPECT_EQ(f[1], "0.00000000");
            EXPECT_EQ(f[2], "0.00000000");
            EXPECT_EQ(f[3], "0.00000000");
        }
    }
}

}  // namespace
}  // namespace eqsim
