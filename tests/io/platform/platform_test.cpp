#include "io/platform/platform.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "support/temp_dir.h"

namespace eqsim::platform {
namespace {

using eqsim::testing::read_file;
using eqsim::testing::TempDir;

struct Split {
    std::string path;
    std::string folder;
    std::string base;
};

TEST(PathNames, PosixSplitsAtSlashesOnly) {
    for (const Split& s :
         {Split{"report.txt", ".", "report.txt"}, Split{"/report.txt", "/", "report.txt"},
          Split{"out/rep.txt", "out", "rep.txt"}, Split{"a/b/", "a/b", ""},
          Split{"out\\rep2.txt", ".", "out\\rep2.txt"}, Split{"C:x.dat", ".", "C:x.dat"}}) {
        EXPECT_EQ(posix_folder_of(s.path), s.folder) << s.path;
        EXPECT_EQ(posix_base_of(s.path), s.base) << s.path;
    }
}

TEST(PathNames, WindowsKnowsBackslashesDrivesAndNetworkShares) {
    for (const Split& s :
         {Split{"report.txt", ".", "report.txt"}, Split{"out\\rep2.txt", "out", "rep2.txt"},
          Split{"out/rep2.txt", "out", "rep2.txt"}, Split{"C:\\data\\x.dat", "C:\\data", "x.dat"},
          Split{"C:\\x.dat", "C:\\", "x.dat"}, Split{"C:x.dat", "C:", "x.dat"},
          Split{"\\x.dat", "\\", "x.dat"},
          Split{"\\\\server\\share\\x", "\\\\server\\share\\", "x"},
          Split{"\\\\server\\share\\dir\\x", "\\\\server\\share\\dir", "x"},
          Split{"\\\\?\\C:\\dir\\x", "\\\\?\\C:\\dir", "x"}}) {
        EXPECT_EQ(windows_folder_of(s.path), s.folder) << s.path;
        EXPECT_EQ(windows_base_of(s.path), s.base) << s.path;
    }
}

TEST(PathNames, RootedNamesAreUsedAsGiven) {
    for (const char* name : {"/abs/a.dat", "/"}) {
        EXPECT_TRUE(posix_is_rooted(name)) << name;
        EXPECT_TRUE(windows_is_rooted(name)) << name;
    }
    for (const char* name : {"a.dat", "sub/a.dat", "../a.dat", ""}) {
        EXPECT_FALSE(posix_is_rooted(name)) << name;
        EXPECT_FALSE(windows_is_rooted(name)) << name;
    }
    for (const char* name : {"C:\\data\\a.dat", "c:a.dat", "\\a.dat", "\\\\server\\share\\a.dat"}) {
        EXPECT_FALSE(posix_is_rooted(name)) << name;
        EXPECT_TRUE(windows_is_rooted(name)) << name;
    }
    EXPECT_FALSE(windows_is_rooted("sub\\a.dat"));
}

TEST(WriteFileAtomically, ReplacesWholeOrLeavesTheEarlierFileAndNothingElse) {
    TempDir dir;
    const std::string target = dir.write("out.csv", "earlier\n");
    std::string reason;
    EXPECT_FALSE(write_file_atomically(
        target, [](std::FILE* f) { return std::fputs("half", f) >= 0 && false; }, reason));
    EXPECT_EQ(read_file(target), "earlier\n");
    ASSERT_TRUE(write_file_atomically(
        target, [](std::FILE* f) { return std::fputs("a,b\r\n1,2\n", f) >= 0; }, reason))
        << reason;
    EXPECT_EQ(read_file(target), "a,b\r\n1,2\n");  // bytes as written, whatever the platform
    ASSERT_TRUE(write_file_atomically(
        dir.file("new.svg"), [](std::FILE* f) { return std::fputs("<svg/>", f) >= 0; }, reason));
    EXPECT_EQ(read_file(dir.file("new.svg")), "<svg/>");
    EXPECT_FALSE(write_file_atomically(
        dir.path(), [](std::FILE*) { return true; }, reason));
    EXPECT_FALSE(write_file_atomically(
        dir.file("missing/x.html"), [](std::FILE*) { return true; }, reason));
    int entries = 0;
    for ([[maybe_unused]] const auto& entry : std::filesystem::directory_iterator(dir.path())) {
        ++entries;
    }
    EXPECT_EQ(entries, 2);
}

}  // namespace
}  // namespace eqsim::platform
