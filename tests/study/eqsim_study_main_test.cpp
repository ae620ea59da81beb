// Whole studies through the eqsim-study program: the identity with eqsim at the populations'
// totals, outputs that do not depend on threads or shards, the criterion and the indices, and
// inputs that cannot run.
#include "study/eqsim_study_main.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "eqsim/eqsim_main.h"
#include "study/tables.h"
#include "support/temp_dir.h"

namespace eqsim::study {
namespace {

using testing::fields_of;
using testing::lines_of;
using testing::read_file;
using testing::RunResult;
using testing::TempDir;

RunResult run_study(const std::vector<std::string>& args) {
    return testing::run_in_process(args, eqsim_study_main);
}

// A path as one word of the command line that std::system hands to the shell.
std::string shell_quoted(const std::string& path) {
#if defined(_WIN32)
    return "\"" + path + "\"";
#else
    return "'" + path + "'";
#endif
}

// Runs the built eqsim-study as its own process, as a cluster node would.
RunResult run_study_process(const std::string& args) {
    return testing::run_executable(args, {}, {}, EQSIM_STUDY_EXECUTABLE);
}

std::vector<ScoreRow> scores_in(const std::string& folder) {
    std::vector<ScoreRow> rows;
    std::string diagnostic;
    EXPECT_TRUE(parse_scores(read_file(folder + "/scores.csv"), "scores.csv", rows, diagnostic))
        << diagnostic;
    return rows;
}

std::string format8(double value) {
    char text[64];
    std::snprintf(text, sizeof text, "%.8lf", value);
    return text;
}

const char* const kOutputs[] = {"scores.csv",     "summary.csv",  "histograms.csv", "se_raw.svg",
                                "se_scale.svg",   "bias_raw.svg", "bias_scale.svg", "rmse_raw.svg",
                                "rmse_scale.svg", "index.html"};

// A condition at the populations' rounded totals gives, for every method, exactly the means,
// standard deviations and histogram that eqsim reports with that condition's seed.
TEST(EqsimStudy, ConditionAtTheTotalsIsWhatEqsimReports) {
    TempDir dir;
    const std::string data = testing::example_data_path();
    const std::string study =
        dir.write("study.txt", "data " + data +
                                   "\nmethod Post 0.3\nmethod Pre 6\nmethod None\nmethod Linear\n"
                                   "method Mean\nmethod Identity\nmethod Circle\nmethod Syn\n"
                                   "method Kernel 4\n"
                                   "replications 25\nseed -4242\noutput out\n");
    const RunResult r = run_study({study, "--jobs", "2"});
    ASSERT_EQ(r.status, 0) << r.err;
    const std::vector<ScoreRow> scores = scores_in(dir.file("out"));
    std::vector<HistogramRow> histograms;
    std::string diagnostic;
    ASSERT_TRUE(
        parse_histograms(read_file(dir.file("out/histograms.csv")), "h", histograms, diagnostic));
    const std::map<Method, std::string> control = {{Method::postsmoothing, "SM Post\nP 0.3\n"},
                                                   {Method::presmoothing, "SM Pre\nP 6\n"},
                                                   {Method::unsmoothed, "SM None\n"},
                                                   {Method::linear, "SM Linear\n"},
                                                   {Method::mean, "SM Mean\n"},
                                                   {Method::identity, "SM Identity\n"},
                                                   {Method::circle_arc, "SM Circle-arc\n"},
                                                   {Method::synthetic, "SM Synthetic\nP 0.5\n"},
                                                   {Method::kernel, "SM Kernel\nP 4\n"}};
    for (const auto& [method, settings] : control) {
        ASSERT_EQ(scores.front().seed, 4242);
        const std::string ctl =
            dir.write("run.ctl", "I " + data + "\n" + settings + "R 25\nSE 4242\n");
        const RunResult e = testing::run_in_process({ctl});
        ASSERT_EQ(e.status, 0) << e.err;
        const std::vector<std::string> report = lines_of(e.out);
        // The report's score lines follow its header and an empty line.
        const std::size_t first = parameter_rule(method) != ParameterRule::none ? 9 : 8;
        int checked = 0;
        for (const ScoreRow& row : scores) {
            if (row.key.method != method) {
                continue;
            }
            const auto f = fields_of(report[first + static_cast<std::size_t>(row.score)], '\t');
            const int q = static_cast<int>(row.quantity);
            EXPECT_EQ(format8(row.se), f[static_cast<std::size_t>(1 + q)]) << settings;
            EXPECT_EQ(format8(row.mean), f[static_cast<std::size_t>(4 + q)]) << settings;
            ++checked;
        }
        EXPECT_EQ(checked, 41 * 3);
        for (const HistogramRow& h : histograms) {
            if (h.key.method != method) {
                continue;
            }
            const auto f = fields_of(report[first + 43 + static_cast<std::size_t>(h.score)], '\t');
            const auto column = static_cast<std::size_t>(h.scale_score - 1.0) + 1;
            EXPECT_EQ(std::to_string(h.count), f[column]) << settings;
        }
    }
}

// Every output file is the same, byte for byte, on one thread, on two, and as shards run as
// separate processes and merged.
TEST(EqsimStudy, OutputsDoNotDependOnThreadsOrShards) {
    TempDir dir;
    const std::string body = "data " + testing::example_data_path() +
                             "\nsizes 300 900/400 2000\nmethod Post 0.2\nmethod Linear\n"
                             "replications 15\nseed 77\ncriterion Same\ncuts 18 24.0\n";
    // The same study file in three folders, each with its own output folder beside it.
    for (const char* folder : {"one", "two", "sharded"}) {
        std::filesystem::create_directories(dir.file(folder));
    }
    const std::string one = dir.write("one/study.txt", body);
    const std::string two = dir.write("two/study.txt", body);
    const std::string sharded = dir.write("sharded/study.txt", body);
    ASSERT_EQ(run_study({one, "--jobs", "1"}).status, 0);
    ASSERT_EQ(run_study({two, "--jobs=2"}).status, 0);
    for (const char* shard : {"2/2", "1/2"}) {
        const RunResult r = run_study_process(shell_quoted(sharded) + " --shard " + shard);
        ASSERT_EQ(r.status, 0) << r.err;
    }
    EXPECT_FALSE(testing::file_exists(dir.file("sharded/study/scores.csv")));
    const RunResult merged = run_study_process("--merge " + shell_quoted(sharded));
    ASSERT_EQ(merged.status, 0) << merged.err;
    std::vector<std::string> outputs(std::begin(kOutputs), std::end(kOutputs));
    outputs.push_back("decisions.csv");
    for (const std::string& name : outputs) {
        const std::string expected = read_file(dir.file("one/study/" + name));
        ASSERT_FALSE(expected.empty()) << name;
        EXPECT_TRUE(read_file(dir.file("two/study/" + name)) == expected) << name;
        EXPECT_TRUE(read_file(dir.file("sharded/study/" + name)) == expected) << name;
    }
    // Each condition has a seed of its own.
    const std::vector<ScoreRow> scores = scores_in(dir.file("one/study"));
    EXPECT_EQ(scores.front().seed, 77);
    EXPECT_NE(scores.back().seed, 77);
}

// Decisions at cut scores follow from the histograms: the mean share of misclassified examinees
// is the weighted chance that each raw score lands on the other side of the cut from the
// criterion. With one replication there is no Monte Carlo standard error to give, and the fields
// stay empty.
TEST(EqsimStudy, DecisionsAgreeWithTheHistogramsAndOneReplicationHasNoErrors) {
    TempDir dir;
    const std::string data = testing::example_data_path();
    const std::string study =
        dir.write("s.txt", "data " + data +
                               "\nsizes 60 400\nmethod Pre 4\nmethod Linear\nmethod Identity\n"
                               "replications 40\nseed 3\ncuts 12 18 30\n");
    ASSERT_EQ(run_study({study, "--jobs", "2"}).status, 0);
    const std::vector<ScoreRow> scores = scores_in(dir.file("s"));
    std::vector<HistogramRow> histograms;
    std::vector<DecisionRow> decisions;
    std::string diagnostic;
    ASSERT_TRUE(
        parse_histograms(read_file(dir.file("s/histograms.csv")), "h", histograms, diagnostic));
    ASSERT_TRUE(
        parse_decisions(read_file(dir.file("s/decisions.csv")), "d", decisions, diagnostic));
    ASSERT_EQ(decisions.size(), 2u * 3 * 3);
    for (const DecisionRow& d : decisions) {
        double criterion_pass = 0.0;
        double misclassified = 0.0;
        for (const ScoreRow& row : scores) {
            if (!(row.key == d.key) || row.quantity != Quantity::rounded) {
                continue;
            }
            const bool criterion_passes = row.criterion >= d.cut;
            double passing = 0.0;
            for (const HistogramRow& h : histograms) {
                if (h.key == d.key && h.score == row.score && h.scale_score >= d.cut) {
                    passing += static_cast<double>(h.count) / 40.0;
                }
            }
            criterion_pass += criterion_passes ? row.weight : 0.0;
            misclassified += row.weight * (criterion_passes ? 1.0 - passing : passing);
        }
        EXPECT_NEAR(d.criterion_pass, criterion_pass, 1e-12) << method_label(d.key) << d.cut;
        EXPECT_NEAR(d.misclassified, misclassified, 1e-12) << method_label(d.key) << d.cut;
        ASSERT_TRUE(d.mcse_misclassified.has_value());
        if (d.key.method == Method::identity) {
            EXPECT_EQ(*d.mcse_misclassified, 0.0);
        }
    }

    const std::string single =
        dir.write("one.txt", "data " + data + "\nmethod None\nreplications 1\nseed 3\ncuts 20\n");
    ASSERT_EQ(run_study({single}).status, 0);
    for (const std::string& line : lines_of(read_file(dir.file("one/scores.csv")))) {
        EXPECT_EQ(line.substr(line.size() - 4), line.rfind("data,", 0) == 0 ? "rmse" : ",,,,")
            << line;
    }
    for (const std::string& line : lines_of(read_file(dir.file("one/summary.csv")))) {
        EXPECT_EQ(line.substr(line.size() - 6), line.rfind("data,", 0) == 0 ? "rmse_u" : ",,,,,,")
            << line;
    }
    EXPECT_EQ(read_file(dir.file("one/decisions.csv")).back(), '\n');
    EXPECT_EQ(lines_of(read_file(dir.file("one/decisions.csv"))).back().back(), ',');
}

// A study of both designs: each method runs on the data sets of its own, the anchor-test rows are
// named by the new group's table, and the outputs do not depend on the threads.
TEST(EqsimStudy, AnchorTestAndRandomGroupsDataSetsInOneStudy) {
    TempDir dir;
    const std::string examples = std::string(EQSIM_SOURCE_DIR) + "/examples/";
    for (const char* name :
         {"kbneat_new.tab", "kbneat_old.tab", "kbneat_old.conv", "actmath.dat"}) {
        dir.write(name, read_file(examples + name));
    }
    const std::string body =
        "neat kbneat_new.tab kbneat_old.tab kbneat_old.conv max 36 36 12 scale 100 200 1\n"
        "data actmath.dat\nsizes 100\nmethod None\nmethod Tucker\nmethod Chained-e\n"
        "method Frequency 0.5\nreplications 20\nseed 8\ncriterion Same\n";
    const std::string one = dir.write("one.txt", body);
    const std::string two = dir.write("two.txt", body);
    ASSERT_EQ(run_study({one, "--jobs", "1"}).status, 0);
    const RunResult r = run_study({two, "--jobs", "2"});
    ASSERT_EQ(r.status, 0) << r.err;
    for (const std::string name : kOutputs) {
        if (name != "index.html") {  // whose title names the study file
            EXPECT_TRUE(read_file(dir.file("one/" + name)) == read_file(dir.file("two/" + name)))
                << name;
        }
    }
    std::vector<SummaryRow> summary;
    std::string diagnostic;
    ASSERT_TRUE(parse_summary(read_file(dir.file("one/summary.csv")), "s", summary, diagnostic));
    std::vector<std::string> seen;
    for (const SummaryRow& row : summary) {
        if (row.quantity == Quantity::raw) {
            seen.push_back(row.key.data + " " + method_label(row.key));
        }
    }
    EXPECT_EQ(seen, (std::vector<std::string>{
                        "kbneat_new.tab Tucker", "kbneat_new.tab Chained-equipercentile",
                        "kbneat_new.tab Frequency-estimation 0.5", "actmath.dat None"}));
}

// A criterion from the data file: bias is the mean less the criterion and RMSE the root of the
// squared standard error and bias, for every row; the summaries weight the rows as stated.
TEST(EqsimStudy, CriterionColumnAndTheIndices) {
    TempDir dir;
    std::string data;
    for (int x = 0; x < 12; ++x) {
        const int f = 5 + (x * 7) % 11;
        data += std::to_string(f) + " " + std::to_string(16 - f) + " " +
                std::to_string(10 + 2 * x) + " " + std::to_string(x) + ".25\n";
    }
    dir.write("forms.dat", data);
    const std::string study =
        dir.write("s.txt",
                  "data forms.dat scale 10 40 1\nmethod Mean\nmethod None\nreplications 20\n"
                  "seed 9\ncriterion column 4\n");
    const RunResult r = run_study({study});
    ASSERT_EQ(r.status, 0) << r.err;
    // The default output folder is the study file's name without its extension, beside it.
    const std::vector<ScoreRow> scores = scores_in(dir.file("s"));
    ASSERT_EQ(scores.size(), 2u * 12 * 3);
    for (const ScoreRow& row : scores) {
        if (row.quantity == Quantity::raw) {
            EXPECT_EQ(row.criterion, row.score + 0.25);
        }
        EXPECT_EQ(row.bias, row.mean - row.criterion);
        EXPECT_EQ(row.rmse, std::sqrt(row.se * row.se + row.bias * row.bias));
    }
    std::vector<SummaryRow> summary;
    std::string diagnostic;
    ASSERT_TRUE(parse_summary(read_file(dir.file("s/summary.csv")), "s", summary, diagnostic));
    double weighted = 0.0;
    for (int x = 0; x < 12; ++x) {
        const ScoreRow& row = scores[static_cast<std::size_t>(3 * x)];
        weighted += row.weight * (row.se * row.se);
    }
    EXPECT_NEAR(summary.front().se_w, std::sqrt(weighted), 1e-15);
}

struct BadStudy {
    const char* name;
    std::string study;  // the study file; "DATA" stands for the example's data file
    std::vector<std::string> extra_args;
    int status;
    std::string diagnostic;  // a fragment of the one line on standard error
};

TEST(EqsimStudy, InputsThatCannotRunEndBeforeAnyReplication) {
    const std::string point_masses = "0 0 10\n7 0 20\n0 9 30\n0 0 40\n";
    const std::vector<BadStudy> rows = {
        {"UnknownKeyword", "data DATA\nmethod None\nfrobnicate 3\n", {}, 2, "s.txt:3:"},
        {"MissingDataFile", "data nowhere.dat\nmethod None\n", {}, 2, "nowhere.dat"},
        {"OneDataFileTwice",
         "data DATA\ndata DATA columns 2 1 3\nmethod None\n",
         {},
         2,
         "s.txt:2:"},
        {"FewScorePoints", "data few.dat\nmethod None\n", {}, 2, "s.txt:1: few.dat"},
        {"CriterionColumnMissing",
         "data DATA\nmethod None\ncriterion column 9\n",
         {},
         2,
         "criterion"},
        {"OutputIsAFile", "data DATA\nmethod None\noutput few.dat\n", {}, 2, "few.dat"},
        {"ShardWithTheClockSeed", "data DATA\nmethod None\n", {"--shard", "1/2"}, 2, "seed"},
        {"BadShard", "data DATA\nmethod None\nseed 3\n", {"--shard", "3/2"}, 2, "--shard"},
        {"BadJobs", "data DATA\nmethod None\n", {"--jobs", "0"}, 2, "--jobs"},
        {"MergeWithoutShards",
         "data DATA\nmethod None\nseed 3\n",
         {"--merge"},
         2,
         "run the shards"},
        {"MethodFails",
         "data points.dat\nmethod None\nmethod Linear\nreplications 3\n",
         {},
         1,
         "condition 1 (points.dat, n = 7/9), Linear, replication 1"},
    };
    for (const BadStudy& row : rows) {
        TempDir dir;
        dir.write("few.dat", "1 1 1\n2 2 2\n3 3 3\n");
        dir.write("points.dat", point_masses);
        std::string study = row.study;
        for (std::size_t at = study.find("DATA"); at != std::string::npos;
             at = study.find("DATA")) {
            study.replace(at, 4, testing::example_data_path());
        }
        std::vector<std::string> args = {dir.write("s.txt", study)};
        args.insert(args.end(), row.extra_args.begin(), row.extra_args.end());
        const RunResult r = run_study(args);
        EXPECT_EQ(r.status, row.status) << row.name << "\n" << r.err;
        EXPECT_EQ(r.out, "") << row.name;
        EXPECT_EQ(r.err.rfind("eqsim-study: ", 0), 0u) << row.name << "\n" << r.err;
        EXPECT_EQ(r.err.find('\n'), r.err.size() - 1) << row.name << "\n" << r.err;
        EXPECT_NE(r.err.find(row.diagnostic), std::string::npos) << row.name << "\n" << r.err;
        // Nothing is written: no output folder, or an empty one.
        EXPECT_FALSE(testing::file_exists(dir.file("s/scores.csv"))) << row.name;
    }
    EXPECT_EQ(run_study({}).status, 2);
    EXPECT_EQ(run_study({"--help"}).status, 0);
    EXPECT_EQ(run_study({"--version"}).out, "eqsim-study " EQSIM_VERSION "\n");
}

// The merge refuses shards that do not make up the study, each row one way they can fail to, and
// writes nothing then.
TEST(EqsimStudy, MergeRefusesShardsThatDoNotMakeTheStudy) {
    const std::string body = "data DATA\nsizes 40 60\nmethod None\nreplications 3\nseed 5\n";
    // Replaces the first occurrence of from in the file by to.
    const auto edit = [](const std::string& path, const std::string& from, const std::string& to) {
        std::string text = read_file(path);
        const std::size_t at = text.find(from);
        ASSERT_NE(at, std::string::npos) << path << ": " << from;
        text.replace(at, from.size(), to);
        TempDir::write_file(path, text);
    };
    const struct {
        const char* name;
        std::function<void(const TempDir&)> damage;
        const char* diagnostic;
    } rows[] = {
        {"StudyFileEdited",
         [](const TempDir& d) {
             TempDir::write_file(d.file("s.txt"), read_file(d.file("s.txt")) + "#\n");
         },
         "made from another study file"},
        {"ShardMissing",
         [](const TempDir& d) { std::filesystem::remove(d.file("s/shard-2-of-2.manifest")); },
         "shard-2-of-2.manifest: missing; run shard 2/2"},
        {"ConditionInTwoShards",
         [&](const TempDir& d) {
             edit(d.file("s/shard-2-of-2.manifest"), "condition 1 ", "condition 0 ");
         },
         "condition 1 appears in two shards"},
        {"ConditionOfNoStudy",
         [&](const TempDir& d) {
             edit(d.file("s/shard-2-of-2.manifest"), "condition 1 ", "condition 7 ");
         },
         "condition 8 is not one of this study's; run the shards"},
        {"TablesCutShort",
         [](const TempDir& d) {
             std::string text = read_file(d.file("s/shard-1-of-2.scores.csv"));
             text.erase(text.rfind('\n', text.size() - 2) + 1);
             TempDir::write_file(d.file("s/shard-1-of-2.scores.csv"), text);
         },
         "shorter than its manifest says"},
        {"RowsNotListed",
         [](const TempDir& d) {
             const std::string path = d.file("s/shard-1-of-2.histograms.csv");
             const std::string text = read_file(path);
             TempDir::write_file(path, text + text.substr(text.rfind('\n', text.size() - 2) + 1));
         },
         "rows its manifest does not list"},
        {"HeaderDiffers",
         [&](const TempDir& d) {
             edit(d.file("s/shard-2-of-2.histograms.csv"), "count", "counts");
         },
         "shard-2-of-2.histograms.csv:1: the header is not"},
        {"SeedsDiffer",
         [&](const TempDir& d) { edit(d.file("s/shard-2-of-2.manifest"), "seed 5", "seed 6"); },
         "ran with seed 6, another with 5"},
        {"ShardsOfAnotherRun",
         [](const TempDir& d) {
             TempDir::write_file(d.file("s/shard-1-of-3.manifest"),
                                 read_file(d.file("s/shard-1-of-2.manifest")));
         },
         "a shard of"},
        {"ManifestDamaged",
         [&](const TempDir& d) {
             edit(d.file("s/shard-1-of-2.manifest"), "\nstudy ", "\nstudies ");
         },
         "shard-1-of-2.manifest:2: line not understood"},
    };
    for (const auto& row : rows) {
        TempDir dir;
        std::string study = body;
        study.replace(study.find("DATA"), 4, testing::example_data_path());
        const std::string path = dir.write("s.txt", study);
        for (const char* shard : {"1/2", "2/2"}) {
            ASSERT_EQ(run_study({path, "--shard", shard}).status, 0) << row.name;
        }
        row.damage(dir);
        const RunResult r = run_study({"--merge", path});
        EXPECT_EQ(r.status, 2) << row.name << "\n" << r.err;
        EXPECT_NE(r.err.find(row.diagnostic), std::string::npos) << row.name << "\n" << r.err;
        EXPECT_FALSE(testing::file_exists(dir.file("s/scores.csv"))) << row.name;
    }
}

}  // namespace
}  // namespace eqsim::study
