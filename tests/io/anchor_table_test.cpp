#include "io/anchor_table.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/temp_dir.h"

namespace eqsim {
namespace {

std::string example(const char* file) {
    return std::string(EQSIM_SOURCE_DIR) + "/examples/" + file;
}

TEST(AnchorTableFile, ReadsTheBundledExample) {
    std::vector<double> counts;
    std::string diagnostic;
    double totals[2] = {0.0, 0.0};
    const char* files[2] = {"kbneat_new.tab", "kbneat_old.tab"};
    for (int g = 0; g < 2; ++g) {
        ASSERT_TRUE(read_anchor_table(example(files[g]), {36, 12, AnchorKind::internal}, counts,
                                      diagnostic))
            << diagnostic;
        ASSERT_EQ(counts.size(), 37u * 13u);
        for (const double c : counts) {
            totals[g] += c;
        }
    }
    EXPECT_EQ(totals[0], 1655.0);
    EXPECT_EQ(totals[1], 1638.0);
    // The old group's first cell, "3 0 1".
    EXPECT_EQ(counts[3 * 13 + 0], 1.0);

    std::vector<double> scale;
    ASSERT_TRUE(read_scale_conversion(example("kbneat_old.conv"), 36, scale, diagnostic))
        << diagnostic;
    ASSERT_EQ(scale.size(), 37u);
    EXPECT_EQ(scale[0], 100.0);
    EXPECT_EQ(scale[1], 101.6228);
    EXPECT_EQ(scale[36], 200.0);
}

TEST(AnchorTableFile, TextConventions) {
    testing::TempDir dir;
    std::vector<double> counts;
    std::string diagnostic;
    // A byte-order mark, CR LF, tabs, comment lines and trailing comments, blank lines, a sign,
    // fractions; cells not listed stay empty. An external anchor may exceed the total.
    const std::string text =
        "\xEF\xBB\xBF# total anchor count\r\n\r\n0 0 2\r\n  \t\r\n1\t2  0.5 # note\r\n"
        "+2 1 1e1\n# 2 0 9\n";
    ASSERT_TRUE(read_anchor_table(dir.write("t.tab", text), {2, 2, AnchorKind::external}, counts,
                                  diagnostic))
        << diagnostic;
    EXPECT_EQ(counts, (std::vector<double>{2, 0, 0, 0, 0, 0.5, 0, 10, 0}));

    std::vector<double> scale;
    ASSERT_TRUE(read_scale_conversion(dir.write("c.conv", "# raw scale\r\n0 -1.5\r\n\n1\t2e1\n"), 1,
                                      scale, diagnostic))
        << diagnostic;
    EXPECT_EQ(scale, (std::vector<double>{-1.5, 20}));
}

TEST(AnchorTableFile, EveryErrorNamesTheFileAndLine) {
    struct Row {
        bool conversion;  // a conversion of raw scores 0..3; otherwise a table 0..5 by 0..2
        std::string text;
        int line;  // 0: the file as a whole
        std::string fragment;
        AnchorKind anchor = AnchorKind::internal;
    };
    const std::vector<Row> rows = {
        {false, "1 0 1\n6 0 1\n", 2, "total score \"6\" is outside 0 to 5"},
        {false, "-1 0 1\n", 1, "total score \"-1\" is outside 0 to 5"},
        {false, "99999999999999999999 0 1\n", 1, "is outside 0 to 5"},
        {false, "1.5 0 1\n", 1, "total score \"1.5\" is not a whole number"},
        {false, "1 3 1\n", 1, "anchor score \"3\" is outside 0 to 2"},
        {false, "1 3 1\n", 1, "anchor score \"3\" is outside 0 to 2", AnchorKind::external},
        {false, "1 2 1\n", 1, "anchor score 2 is above the total score 1"},
        {false, "1 0 -2\n", 1, "count \"-2\" is negative"},
        {false, "1 0 x\n", 1, "count \"x\" is not a number"},
        {false, "1 0 nan\n", 1, "count \"nan\" is not a finite number"},
        {false, "1 0 1e999\n", 1, "count \"1e999\" is not a finite number"},
        {false, "# cells\n1 0 1\n\n1 0 2\n", 4, "are listed already on line 2"},
        {false, "1 0\n", 1, "line holds 2 values; each line is `total anchor count`"},
        {false, "1 0 1 1\n", 1, "line holds more than 3 values"},
        {false, "1,0,1\n", 1, "not by commas"},
        {false, "0 0 0\n2 1 0\n", 0, "holds no examinees"},
        {false, "", 0, "holds no examinees"},
        {false, "1 0 1e308\n2 0 1e308\n", 0, "add up to more than a number can hold"},
        {false, std::string("1 0 1\0\n", 7), 1, "NUL byte"},
        {false, "#" + std::string(kMaxAnchorLine, 'x') + "\n", 1, "longer than 4096 characters"},
        {true, "0 10\n1 11\n3 13\n", 3, "raw score 3 comes where raw score 2 is due"},
        {true, "0 10\n1 11\n2 12\n0 9\n", 4, "raw score 0 comes after raw score 2"},
        {true, "0 10\n\n1 11\n1 11\n", 4, "raw score 1 is listed already on line 3"},
        {true, "0 10\n1 11\n2 12\n3 13\n4 14\n", 5, "raw score \"4\" is outside"},
        {true, "-1 9\n", 1, "raw score \"-1\" is outside"},
        {true, "a 10\n", 1, "raw score \"a\" is not a whole number"},
        {true, "0 10\n1 x\n", 2, "scale score \"x\" is not a finite number"},
        {true, "0 10\n1 inf\n", 2, "scale score \"inf\" is not a finite number"},
        {true, "0 10 5\n", 1, "line holds more than 2 values; each line is `raw scale`"},
        {true, "0 10\n1 11\n", 0, "the conversion stops at raw score 1"},
        {true, "0 10\n1 11\n2 12\n", 0, "the conversion stops at raw score 2"},
        {true, "# nothing\n", 0, "the conversion holds no raw scores"},
    };
    testing::TempDir dir;
    for (const Row& row : rows) {
        const std::string path = dir.write(row.conversion ? "old.conv" : "new.tab", row.text);
        std::vector<double> values{1.0};
        std::string diagnostic;
        const bool ok = row.conversion
                            ? read_scale_conversion(path, 3, values, diagnostic)
                            : read_anchor_table(path, {5, 2, row.anchor}, values, diagnostic);
        ASSERT_FALSE(ok) << row.text;
        EXPECT_TRUE(values.empty()) << row.text;
        const std::string where =
            row.line == 0 ? path + ": " : path + ":" + std::to_string(row.line) + ": ";
        EXPECT_TRUE(diagnostic.starts_with(where)) << diagnostic << "\nexpected " << where;
        EXPECT_NE(diagnostic.find(row.fragment), std::string::npos)
            << diagnostic << "\nexpected " << row.fragment;
        EXPECT_EQ(diagnostic.find('\n'), std::string::npos) << diagnostic;
    }
    std::vector<double> values;
    std::string diagnostic;
    EXPECT_FALSE(read_anchor_table(dir.file("none.tab"), {5, 2}, values, diagnostic));
    EXPECT_TRUE(diagnostic.starts_with(dir.file("none.tab") + ": cannot open")) << diagnostic;
    EXPECT_FALSE(read_scale_conversion(dir.path(), 3, values, diagnostic));
    EXPECT_TRUE(diagnostic.starts_with(dir.path() + ": cannot open")) << diagnostic;
}

}  // namespace
}  // namespace eqsim
