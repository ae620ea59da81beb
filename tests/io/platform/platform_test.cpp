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

}  // namespace
}  // namespace eqsim::platform
