#include "io/data_file.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/temp_dir.h"

namespace eqsim {
namespace {

struct DataOutcome {
    std::int32_t rows = 0;
    int kx = -1;
    int ky = -1;
    std::vector<double> new_freq;
    std::vector<double> old_freq;
    std::vector<double> scale;
    std::string diagnostic;
};

DataOutcome read_text(const std::string& content, std::vector<std::int16_t> columns = {1, 2, 3}) {
    testing::TempDir dir;
    DataColumns data;
    DataOutcome o;
    const bool ok =
        read_data_file(dir.write("scores.dat", content), columns.data(), data, o.diagnostic);
    o.rows = ok ? data.rows : 0;
    o.kx = data.new_points;
    o.ky = data.old_points;
    if (ok) {
        o.new_freq = data.new_frequencies;
        o.old_freq = data.old_frequencies;
        o.scale = data.conversion;
    }
    return o;
}

const std::string four_rows = "5 6 10\n7 8 20\n9 10 30\n11 12 40\n";

TEST(ReadDataFile, RowsEndAtTheTerminatorAnEmptyLineOrTheEndOfTheFile) {
    for (const std::string tail :
         {"", "$\nanything at all\n", "$END\n1 2 3\n", "\n9 9 9\n", "\r\nfoo\n"}) {
        const DataOutcome o = read_text(four_rows + tail);
        EXPECT_EQ(o.rows, 4) << tail;
        EXPECT_EQ(o.kx, 4);
        EXPECT_EQ(o.ky, 4);
        EXPECT_EQ(o.scale, (std::vector<double>{10, 20, 30, 40}));
    }
    EXPECT_EQ(read_text("5 6 10\n7 8 20\n9 10 30\n11 12 40").rows, 4);
    EXPECT_EQ(read_text("\xEF\xBB\xBF" + four_rows).rows, 4);
    EXPECT_EQ(read_text("5\t6 \t10\r\n7 8 20\r\n").new_freq, (std::vector<double>{5, 7}));
    for (const std::string nothing : {"", "\n", "$\n5 6 7\n", "\r\n"}) {
        EXPECT_EQ(read_text(nothing).rows, 0) << nothing;
    }
}

TEST(ReadDataFile, MissingEntriesAreStoredAsZeroAndNotCounted) {
    const DataOutcome o = read_text("1 2 3\n4 * 6\n7 - x\n* * y\n");
    ASSERT_EQ(o.rows, 4) << o.diagnostic;
    EXPECT_EQ(o.kx, 3);
    EXPECT_EQ(o.ky, 1);
    EXPECT_EQ(o.new_freq, (std::vector<double>{1, 4, 7, 0}));
    EXPECT_EQ(o.old_freq, (std::vector<double>{2, 0, 0, 0}));
    EXPECT_EQ(o.scale, (std::vector<double>{3, 0, 0, 0}));

    const DataOutcome signs = read_text("3abc .5 -2.5\n-3 +3 1\n");
    ASSERT_EQ(signs.rows, 2) << signs.diagnostic;
    EXPECT_EQ(signs.new_freq, (std::vector<double>{3, 0}));
    EXPECT_EQ(signs.old_freq, (std::vector<double>{0.5, 0}));
    EXPECT_EQ(signs.scale, (std::vector<double>{-2.5, 0}));
    EXPECT_EQ(signs.kx, 1);
    EXPECT_EQ(signs.ky, 1);
}

TEST(ReadDataFile, ColumnsAreChosenFreelyAndMayRepeat) {
    const DataOutcome o = read_text("0 5 6 10\n1 7 8 20\n", {2, 2, 4});
    ASSERT_EQ(o.rows, 2);
    EXPECT_EQ(o.new_freq, o.old_freq);
    EXPECT_EQ(o.scale, (std::vector<double>{10, 20}));
    std::string wide;
    for (int i = 1; i <= 30; ++i) {
        wide += std::to_string(i) + " ";
    }
    EXPECT_EQ(read_text(wide + "\n", {25, 1, 2}).new_freq[0], 25.0);
    EXPECT_EQ(read_text(wide + "\n", {26, 1, 2}).rows, 0);
}

TEST(ReadDataFile, RowsThatCannotBeReadFailTheWholeRead) {
    const std::vector<std::string> bad = {
        "5 6\n",                 // too few columns
        "5 6 10\n   \n7 8 9\n",  // a blank line is a row without columns
        ". 6 10\n",              // a lone point is no number
        "5 6 abc\n",             // scale entry beside a numeric old-form entry
        "1e999 6 10\n",          // not finite
        "5 6 -1e999\n",
        "5 6 nan\n",
        "5 6 inf\n",
        "Score X Y\n5 6 10\n",                  // a header would shift every score
        "5 6 10\n* 7 20\n8 9 30\n",             // a gap in the new form
        "5 6 10\n7 * 20\n8 9 30\n",             // a gap in the old form
        "5 6 " + std::string(295, '1') + "\n",  // 299 characters
        std::string("5 6 10\0\n", 8),
    };
    for (const std::string& text : bad) {
        const DataOutcome o = read_text(text);
        EXPECT_EQ(o.rows, 0) << text;
        EXPECT_EQ(o.kx, 0);
        EXPECT_FALSE(o.diagnostic.empty());
    }
    EXPECT_EQ(read_text("5 6 " + std::string(294, '1') + "\n").rows, 1);
    // The scale entry beside a missing old-form entry is never read.
    EXPECT_EQ(read_text("5 6 7\n5 * nan\n").rows, 2);
    EXPECT_NE(read_text("5 6 10\n7 8 zz\n").diagnostic.find("scores.dat:2:"), std::string::npos);
}

TEST(ReadDataFile, AtMost32767Rows) {
    std::string rows;
    for (int i = 0; i < 32767; ++i) {
        rows += "1 1 1\n";
    }
    EXPECT_EQ(read_text(rows).rows, 32767);
    EXPECT_EQ(read_text(rows + "1 1 1\n").rows, 0);
}

TEST(ReadDataFile, MissingFileOrFolder) {
    testing::TempDir dir;
    DataColumns data;
    data.new_points = 5;
    std::string diagnostic;
    const std::int16_t columns[3] = {1, 2, 3};
    EXPECT_FALSE(read_data_file(dir.file("none"), columns, data, diagnostic));
    EXPECT_EQ(data.new_points, 0);
    EXPECT_FALSE(read_data_file(dir.path(), columns, data, diagnostic));
    EXPECT_FALSE(read_data_file("", columns, data, diagnostic));
}

}  // namespace
}  // namespace eqsim
