#include "io/report_destination.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#if !defined(_WIN32)
#include <unistd.h>
#endif

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "support/program_messages.h"
#include "support/temp_dir.h"

namespace eqsim {
namespace {

using testing::file_exists;
using testing::read_file;
using testing::run_in_process;
using testing::TempDir;

const std::string& simulation_error = testing::kSimulationMessage;
const std::string earlier_report = "an earlier report\n";

std::string control_for(const TempDir& dir, const std::string& output,
                        const std::string& settings = "SM Mean\nR 5\nSE 11\n") {
    return dir.write("run.ctl",
                     "I " + testing::example_data_path() + "\nO " + output + "\n" + settings);
}

int entries_in(const std::string& folder) {
    int count = 0;
    for ([[maybe_unused]] const auto& entry : std::filesystem::directory_iterator(folder)) {
        ++count;
    }
    return count;
}

// POSIX only: permission bits and the file creation mask. (Windows: the counterparts below.)
#if !defined(_WIN32)
mode_t mode_of(const std::string& path) {
    struct stat info;
    return stat(path.c_str(), &info) == 0 ? (info.st_mode & 07777) : 0;
}

TEST(ReportDestination, ANewReportGetsTheUsualPermissionsAndNoTemporaryFileStays) {
    TempDir dir;
    const mode_t saved = umask(027);
    const auto r = run_in_process({control_for(dir, dir.file("report.txt"))});
    umask(saved);
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(mode_of(dir.file("report.txt")), 0640u);
    EXPECT_EQ(read_file(dir.file("report.txt")).substr(0, 12), "Input file:\t");
    EXPECT_EQ(entries_in(dir.path()), 2);  // the control file and the report
}

TEST(ReportDestination, AnExistingReportIsReplacedWholeAndKeepsItsMode) {
    TempDir dir;
    const std::string report = dir.write("report.txt", earlier_report);
    chmod(report.c_str(), 0604);
    ASSERT_EQ(run_in_process({control_for(dir, report)}).status, 0);
    EXPECT_NE(read_file(report), earlier_report);
    EXPECT_EQ(mode_of(report), 0604u);
    EXPECT_EQ(entries_in(dir.path()), 2);
}

#endif

TEST(ReportDestination, AFailedRunLeavesAnEarlierReportUntouched) {
    TempDir dir;
    const std::string report = dir.write("report.txt", earlier_report);
    // Linear equating fails on samples without spread.
    const std::string data = dir.write("point.dat", "0 0 1\n7 0 2\n0 9 3\n0 0 4\n");
    const std::string control =
        dir.write("run.ctl", "I " + data + "\nO " + report + "\nSM Linear\nR 3\nSE 2\n");
    const auto r = run_in_process({control});
    EXPECT_EQ(r.status, testing::kSimulationStatus);
    EXPECT_EQ(read_file(report), earlier_report);
    EXPECT_EQ(entries_in(dir.path()), 3);
}

TEST(ReportDestination, AnUnusableDestinationIsFoundBeforeAnyReplication) {
    TempDir dir;
    // Two billion replications would take hours: the run must end before the first.
    const std::string endless = "SM Mean\nR 2000000000\nSE 11\n";
    for (const std::string& output :
         {dir.file("missing/report.txt"), dir.path(), dir.file("run.ctl/report.txt")}) {
        const auto start = std::chrono::steady_clock::now();
        const auto r = run_in_process({control_for(dir, output, endless)});
        EXPECT_EQ(r.status, testing::kSimulationStatus) << output;
        EXPECT_EQ(r.out, simulation_error);
        EXPECT_NE(r.err.find(output), std::string::npos) << r.err;
        EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
    }
    EXPECT_FALSE(file_exists(dir.file("missing")));
}

// POSIX only: symbolic links, devices, shell redirections, pipes and permissions.
#if !defined(_WIN32)
TEST(ReportDestination, ASymbolicLinkIsFollowedAndKept) {
    TempDir dir;
    const std::string target = dir.write("target.txt", earlier_report);
    ASSERT_EQ(symlink("target.txt", dir.file("link.txt").c_str()), 0);
    ASSERT_EQ(run_in_process({control_for(dir, dir.file("link.txt"))}).status, 0);
    struct stat info;
    ASSERT_EQ(lstat(dir.file("link.txt").c_str(), &info), 0);
    EXPECT_TRUE(S_ISLNK(info.st_mode));
    EXPECT_EQ(read_file(target).substr(0, 12), "Input file:\t");

    ASSERT_EQ(symlink("fresh.txt", dir.file("dangling.txt").c_str()), 0);
    ASSERT_EQ(run_in_process({control_for(dir, dir.file("dangling.txt"))}).status, 0);
    EXPECT_EQ(read_file(dir.file("fresh.txt")).substr(0, 12), "Input file:\t");
}

TEST(ReportDestination, WriteErrorsAreFailures) {
    TempDir dir;
    const auto full = run_in_process({control_for(dir, "/dev/full")});
    EXPECT_EQ(full.status, testing::kSimulationStatus);
    EXPECT_NE(full.err.find("/dev/full"), std::string::npos) << full.err;

    const std::string control = control_for(dir, "");
    const std::string stdout_control =
        dir.write("stdout.ctl", "I " + testing::example_data_path() + "\nSM Mean\nR 5\nSE 11\n");
    EXPECT_EQ(testing::run_executable("'" + stdout_control + "' >/dev/full").status,
              testing::kSimulationStatus);
    EXPECT_EQ(testing::run_executable("'" + stdout_control + "' >&-").status,
              testing::kSimulationStatus);
    const auto fine = testing::run_executable("'" + stdout_control + "'");
    EXPECT_EQ(fine.status, 0);
    EXPECT_EQ(fine.out.substr(0, 12), "Input file:\t");
}

TEST(ReportDestination, StandardOutputByNameReachesAPipe) {
    TempDir dir;
    const std::string control = control_for(dir, "/dev/stdout");
    const std::string command = "bash -c \"set -o pipefail; '" + std::string(EQSIM_EXECUTABLE) +
                                "' '" + control + "' | cat > '" + dir.file("piped.txt") + "'\"";
    EXPECT_EQ(std::system(command.c_str()), 0);
    EXPECT_EQ(read_file(dir.file("piped.txt")).substr(0, 12), "Input file:\t");
}

TEST(ReportDestination, PermissionsDecideBetweenRenameInPlaceAndRefusal) {
    if (geteuid() == 0) {
        GTEST_SKIP() << "permissions do not bind the superuser";
    }
    TempDir dir;
    const std::string locked = dir.write("locked.txt", earlier_report);
    chmod(locked.c_str(), 0444);
    EXPECT_EQ(run_in_process({control_for(dir, locked)}).status, testing::kSimulationStatus);
    EXPECT_EQ(read_file(locked), earlier_report);

    const std::string sealed_folder = dir.file("sealed");
    std::filesystem::create_directory(sealed_folder);
    const std::string report = sealed_folder + "/report.txt";
    TempDir::write_file(report, earlier_report);
    chmod(sealed_folder.c_str(), 0555);
    EXPECT_EQ(run_in_process({control_for(dir, report)}).status, 0);
    EXPECT_EQ(read_file(report).substr(0, 12), "Input file:\t");
    EXPECT_EQ(run_in_process({control_for(dir, sealed_folder + "/new.txt")}).status,
              testing::kSimulationStatus);
}

#else
// Windows counterparts: a report over an earlier one replaces it (rename() would refuse), the
// read-only attribute refuses the report, and names may use backslashes.
TEST(ReportDestination, AReportWrittenTwiceReplacesTheFirstAndAReadOnlyOneIsRefused) {
    TempDir dir;
    const std::string report = dir.write("report.txt", earlier_report);
    const std::string backslashed = dir.path() + "\\report.txt";
    for (int run = 0; run < 2; ++run) {
        const auto r = run_in_process({control_for(dir, backslashed)});
        ASSERT_EQ(r.status, 0) << r.err;
        EXPECT_EQ(read_file(report).substr(0, 12), "Input file:\t");
        EXPECT_EQ(entries_in(dir.path()), 2);
    }
    const std::string finished = read_file(report);
    std::filesystem::permissions(report, std::filesystem::perms::owner_write,
                                 std::filesystem::perm_options::remove);
    const auto refused = run_in_process({control_for(dir, report)});
    EXPECT_EQ(refused.status, 45);
    EXPECT_NE(refused.err.find("Permission denied"), std::string::npos) << refused.err;
    EXPECT_EQ(read_file(report), finished);
    EXPECT_EQ(entries_in(dir.path()), 2);
}

TEST(ReportDestination, TheExecutableReplacesAnEarlierReport) {
    TempDir dir;
    const std::string report = dir.write("report.txt", earlier_report);
    const std::string control = control_for(dir, report);
    EXPECT_EQ(testing::run_executable("\"" + control + "\"").status, 0);
    const auto again = testing::run_executable("\"" + control + "\"");
    EXPECT_EQ(again.status, 0) << again.err;
    EXPECT_EQ(again.out, "");
    EXPECT_EQ(read_file(report).substr(0, 12), "Input file:\t");
}
#endif

TEST(CheckReportDestination, ClassifiesTheKindsOfDestination) {
    TempDir dir;
    ReportDestination d;
    std::string why;
    ASSERT_TRUE(check_report_destination("", d, why));
    EXPECT_EQ(d.kind, DestinationKind::standard_output);
    ASSERT_TRUE(check_report_destination(dir.file("new.txt"), d, why));
    EXPECT_EQ(d.kind, DestinationKind::replace_by_rename);
    EXPECT_FALSE(d.exists);
#if defined(_WIN32)
    ASSERT_TRUE(check_report_destination("NUL", d, why)) << why;
#else
    ASSERT_TRUE(check_report_destination("/dev/null", d, why));
#endif
    EXPECT_EQ(d.kind, DestinationKind::write_directly);
    EXPECT_FALSE(check_report_destination(dir.path(), d, why));
    EXPECT_FALSE(check_report_destination(dir.file("no/such/folder.txt"), d, why));
    EXPECT_EQ(entries_in(dir.path()), 0);
}

TEST(WriteOutputFile, ReplacesWholeOrLeavesTheEarlierFileAndNothingElse) {
    TempDir dir;
    const std::string target = dir.write("out.csv", "earlier\n");
    std::string diagnostic;
    EXPECT_FALSE(write_output_file(
        target, [](std::FILE* f) { return std::fputs("half", f) >= 0 && false; }, diagnostic));
    EXPECT_EQ(read_file(target), "earlier\n");
    ASSERT_TRUE(write_output_file(
        target, [](std::FILE* f) { return std::fputs("a,b\r\n1,2\n", f) >= 0; }, diagnostic))
        << diagnostic;
    EXPECT_EQ(read_file(target), "a,b\r\n1,2\n");  // bytes as written, whatever the platform
    ASSERT_TRUE(write_output_file(
        dir.file("new.svg"), [](std::FILE* f) { return std::fputs("<svg/>", f) >= 0; },
        diagnostic));
    EXPECT_EQ(read_file(dir.file("new.svg")), "<svg/>");
    EXPECT_FALSE(write_output_file(
        dir.path(), [](std::FILE*) { return true; }, diagnostic));
    EXPECT_FALSE(write_output_file(
        dir.file("missing/x.html"), [](std::FILE*) { return true; }, diagnostic));
    int entries = 0;
    for ([[maybe_unused]] const auto& entry : std::filesystem::directory_iterator(dir.path())) {
        ++entries;
    }
    EXPECT_EQ(entries, 2);
}

}  // namespace
}  // namespace eqsim
