#include "study/study_file.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/temp_dir.h"

namespace eqsim::study {
namespace {

struct Parsed {
    bool ok = false;
    StudySpec study;
    std::string diagnostic;
};

Parsed parse(const std::string& text, const std::string& path = "/studies/math.study") {
    Parsed p;
    p.ok = parse_study_text(text, path, p.study, p.diagnostic);
    return p;
}

TEST(StudyFile, ReadsTheExampleStudy) {
    const Parsed p = parse(
        "# Smoothing and sample size on the mathematics forms\n"
        "data       actmath.dat columns 1 2 3 scale 1 36 1\n"
        "sizes      500 3000 500/3000\n"
        "method     None\n"
        "method     Pre 6\n"
        "method     Post 0.1\n"
        "method     Post 0.3\n"
        "replications 1000\n"
        "seed       20261207\n"
        "criterion  None\n"
        "output     results\n");
    ASSERT_TRUE(p.ok) << p.diagnostic;
    const StudySpec& s = p.study;
    ASSERT_EQ(s.data.size(), 1u);
    EXPECT_EQ(s.data[0].as_given, "actmath.dat");
    EXPECT_EQ(s.data[0].path, "/studies/actmath.dat");
    EXPECT_EQ(s.data[0].line, 2);
    ASSERT_EQ(s.sizes.size(), 3u);
    EXPECT_EQ(s.sizes[0].new_size, 500);
    EXPECT_EQ(s.sizes[0].old_size, 500);
    EXPECT_EQ(s.sizes[2].new_size, 500);
    EXPECT_EQ(s.sizes[2].old_size, 3000);
    ASSERT_EQ(s.methods.size(), 4u);
    EXPECT_EQ(s.methods[0].method, Method::unsmoothed);
    EXPECT_FALSE(s.methods[0].has_parameter);
    EXPECT_EQ(s.methods[1].method, Method::presmoothing);
    EXPECT_EQ(s.methods[1].parameter, 6.0);
    EXPECT_EQ(s.methods[3].parameter, 0.3);
    EXPECT_EQ(s.methods[3].line, 7);
    EXPECT_EQ(s.replications, 1000);
    EXPECT_EQ(s.seed, 20261207);
    EXPECT_EQ(s.criterion.kind, CriterionKind::unsmoothed);
    EXPECT_EQ(s.criterion.line, 10);
    EXPECT_EQ(s.output_as_given, "results");
    EXPECT_EQ(s.output, "/studies/results");
}

TEST(StudyFile, DefaultsAndTextConventions) {
    // A byte-order mark, CRLF line ends, keywords in any case, comments after a setting and blank
    // lines; a '#' inside a token is part of it.
    const Parsed p = parse(
        "\xEF\xBB\xBF\r\n  DATA\tform#2.dat   # the second form\r\n\n\t\nMeThOd post\r\n# end");
    ASSERT_TRUE(p.ok) << p.diagnostic;
    const StudySpec& s = p.study;
    EXPECT_EQ(s.data[0].as_given, "form#2.dat");
    EXPECT_EQ(s.data[0].line, 2);
    EXPECT_EQ(s.data[0].columns[0], 1);
    EXPECT_EQ(s.data[0].columns[2], 3);
    EXPECT_EQ(s.data[0].scale.min, 1.0);
    EXPECT_EQ(s.data[0].scale.max, 36.0);
    EXPECT_EQ(s.data[0].scale.increment, 1.0);
    EXPECT_TRUE(s.sizes.empty());
    EXPECT_EQ(s.methods[0].method, Method::postsmoothing);
    EXPECT_TRUE(s.methods[0].has_parameter);
    EXPECT_EQ(s.methods[0].parameter, 0.25);
    EXPECT_EQ(s.replications, 1000);
    EXPECT_EQ(s.seed, 0);
    EXPECT_EQ(s.criterion.kind, CriterionKind::unsmoothed);
    EXPECT_EQ(s.criterion.line, 0);
    EXPECT_EQ(s.output_as_given, "math");
    EXPECT_EQ(s.output, "/studies/math");

    const Parsed q = parse(
        "data a.dat scale 100 130 0.5 columns 4 5 6\ndata a.dat\nsizes 7/9\nsizes +8 1/2147483647\n"
        "method l\nmethod pre 2\nmethod Pre 3\nmethod post -0.5\nseed -2147483646\n"
        "criterion column 25\nreplications 1\n");
    ASSERT_TRUE(q.ok) << q.diagnostic;
    EXPECT_EQ(q.study.data[0].columns[0], 4);
    EXPECT_EQ(q.study.data[0].scale.increment, 0.5);
    EXPECT_EQ(q.study.sizes.size(), 3u);
    EXPECT_EQ(q.study.sizes[2].old_size, 2147483647);
    EXPECT_EQ(q.study.methods[0].method, Method::linear);
    EXPECT_EQ(q.study.seed, -2147483646);
    EXPECT_EQ(q.study.criterion.kind, CriterionKind::column);
    EXPECT_EQ(q.study.criterion.column, 25);
    EXPECT_EQ(parse("data a\nmethod n\ncriterion SAME\n").study.criterion.kind,
              CriterionKind::same);
}

TEST(StudyFile, PathsAreTakenFromTheStudyFilesFolder) {
    struct Row {
        std::string study, data, resolved, output;
    };
    const std::vector<Row> rows = {
        {"/s/t/math.study", "a.dat", "/s/t/a.dat", "/s/t/math"},
        {"/s/t/math.study", "/abs/a.dat", "/abs/a.dat", "/s/t/math"},
        {"/s/t/math.study", "../a.dat", "/s/t/../a.dat", "/s/t/math"},
        {"math.v2.study", "a.dat", "a.dat", "math.v2"},
        {"rel/dir.v2/study", "sub/a.dat", "rel/dir.v2/sub/a.dat", "rel/dir.v2/study.out"},
        {"/s/.study", "a.dat", "/s/a.dat", "/s/.study.out"},
    };
    for (const Row& row : rows) {
        const Parsed p = parse("data " + row.data + "\nmethod None\n", row.study);
        ASSERT_TRUE(p.ok) << p.diagnostic;
        EXPECT_EQ(p.study.data[0].path, row.resolved) << row.study;
        EXPECT_EQ(p.study.output, row.output) << row.study;
    }
#if defined(_WIN32)
    // Windows names: backslashes, drives and network shares.
    const std::vector<Row> windows_rows = {
        {"C:\\s\\math.study", "a.dat", "C:\\s\\a.dat", "C:\\s\\math"},
        {"C:\\s\\math.study", "D:\\abs\\a.dat", "D:\\abs\\a.dat", "C:\\s\\math"},
        {"C:math.study", "sub\\a.dat", "C:sub\\a.dat", "C:math"},
        {"\\\\server\\share\\math.study", "a.dat", "\\\\server\\share\\a.dat",
         "\\\\server\\share\\math"},
    };
    for (const Row& row : windows_rows) {
        const Parsed p = parse("data " + row.data + "\nmethod None\n", row.study);
        ASSERT_TRUE(p.ok) << p.diagnostic;
        EXPECT_EQ(p.study.data[0].path, row.resolved) << row.study;
        EXPECT_EQ(p.study.output, row.output) << row.study;
    }
#endif
    EXPECT_EQ(parse("data a\nmethod n\noutput /o\n").study.output, "/o");
    EXPECT_EQ(parse("data a\nmethod n\noutput o/p\n", "x/s.t").study.output, "x/o/p");
}

TEST(StudyFile, EveryErrorNamesTheFileAndLine) {
    struct Row {
        std::string text;
        int line;  // 0: the file as a whole
        std::string fragment;
    };
    const std::string ok = "data a.dat\nmethod None\n";
    const std::vector<Row> rows = {
        {"datum a.dat\n", 1, "keyword \"datum\" names no setting"},
        {"rep 10\n", 1, "names no setting"},
        {"data\n", 1, "needs the data file's path"},
        {"data columns 1 2 3\n", 1, "needs the data file's path"},
        {"data my file.dat\n", 1, "unexpected \"file.dat\""},
        {"data a columns 1 2\n", 1, "three column numbers (new form, old form, scale), found 2"},
        {"data a columns 1 2 3 columns 1 2 3\n", 1, "columns is given twice"},
        {"data a columns 1 26 3\n", 1, "column number 26 is outside 1 to 25"},
        {"data a columns 0 2 3\n", 1, "column number 0 is outside 1 to 25"},
        {"data a columns 99999999999 2 3\n", 1, "column number 99999999999 is outside 1 to 25"},
        {"data a columns 1.0 2 3\n", 1, "new-form column \"1.0\" is not a whole number"},
        {"data a scale 1 36\n", 1, "scale takes three numbers"},
        {"data a scale 1 36 0\n", 1, "scale increment must be above 0"},
        {"data a scale 36 1 1\n", 1, "scale maximum is below its minimum"},
        {"data a scale 1 inf 1\n", 1, "must be finite"},
        {"data a scale 1 1e999 1\n", 1, "scale maximum \"1e999\" is beyond the range"},
        {"data a scale 1 36 1x\n", 1, "scale increment \"1x\" is not a number"},
        {"data a scale 0 1e9 1e-3\n", 1, "more than 32767 points"},
        {ok + "data a.dat\n", 3, "this data set repeats line 1"},
        {"sizes\n", 1, "sizes needs one or more"},
        {"sizes 0\n", 1, "sample size \"0\" is not a positive whole number"},
        {"sizes 500/\n", 1, "\"500/\" is not a positive"},
        {"sizes 5/6/7\n", 1, "\"5/6/7\" is not a positive"},
        {"sizes 1e3\n", 1, "\"1e3\" is not a positive"},
        {"sizes 2147483648\n", 1, "not a positive"},
        {"sizes 500 500/500\n", 1, "repeat 500/500 on this line"},
        {"sizes 3/4\n\nsizes 3/4\n", 3, "repeat 3/4 from line 1"},
        {"method\n", 1, "method needs a method word"},
        {"method Px\n", 1, "method \"Px\" names no method"},
        {"method None 3\n", 1, "method None takes no parameter, found \"3\""},
        {"cuts\n", 1, "cuts needs one or more cut scores"},
        {"neat a b c\n", 1, "neat needs three paths and the highest scores"},
        {"neat a b c max 36 36\n", 1, "neat needs three paths"},
        {"neat a b c max 36 x 12\n", 1, "old form's highest total score \"x\" is not a whole"},
        {"neat a b c max 2 36 1\n", 1, "new form's highest total score \"2\" is outside 3 to"},
        {"neat a b c max 36 36 0\n", 1, "highest anchor score \"0\" is outside 1 to"},
        {"neat a b c max 10 36 12\n", 1, "highest anchor score 12 is above a form's highest"},
        {"neat a b c max 36 36 12 anchor inside\n", 1, "unexpected \"anchor\" on the neat line"},
        {"neat a b c max 36 36 12 scale 1 2\n", 1, "scale takes three numbers"},
        {"data a\nmethod None\nmethod Tucker\n", 3, "method Tucker is for anchor-test data"},
        {"neat a b c max 36 36 12\nmethod None\nmethod Tucker\n", 2,
         "method None is for random-groups data sets, and the study has none"},
        {"data a\nneat b c d max 9 9 3\nmethod None\n", 2, "no method of the study is for anchor"},
        {"neat a b c max 9 9 3\nmethod T\ncriterion column 4\n", 3,
         "criterion column is for data files of random groups"},
        {"method Chained\n", 1, "could be Chained-linear or Chained-equipercentile"},
        {"cuts 20 twenty\n", 1, "cut score \"twenty\" is not a number"},
        {"cuts 20 20\n", 1, "cut score \"20\" does not follow 20"},
        {"cuts 26 20\n", 1, "cut score \"20\" does not follow 26"},
        {"cuts 20\ncuts 26\n", 2, "cuts is set already on line 1"},
        {"cuts 1 2 3 4 5 6 7 8 9 10 11 12 13 14 15 16 17 18 19 20 21\n", 1, "at most 20"},
        {"data a\nmethod n\ncuts 20 37\n", 3,
         "cut score 37 is not a point of the scale of the data set on line 1 (1 to 36 by 1)"},
        {"data a scale 0 10 0.5\nmethod n\ncuts 2.25\n", 3, "cut score 2.25 is not a point"},
        {"method Identity 1\n", 1, "method Identity takes no parameter, found \"1\""},
        {"method Circle 2\n", 1, "method Circle-arc takes no parameter, found \"2\""},
        {"method Synthetic 1.5\n", 1, "weight of linear equating) from 0.0 to 1.0, not 1.500000"},
        {"method Kernel\n", 1, "method Kernel needs the log-linear degree"},
        {"method Kernel 2.5\n", 1, "degree \"2.5\" is not a whole number from 1 to 32767"},
        {"method K 0\n", 1, "kernel equating needs a smoothing parameter (the log-linear degree)"},
        {"method Syn -0\nmethod Syn 0\n", 2, "repeat line 1"},
        {"method Mean 0\n", 1, "method Mean takes no parameter"},
        {"method Post 0.1 0.2\n", 1, "at most one parameter"},
        {"method Pre\n", 1, "needs the log-linear degree"},
        {"method Pre 0\n", 1, "degree) of 1.0 or more"},
        {"method Pre 6.5\n", 1, "degree \"6.5\" is not a whole number from 1 to 32767"},
        {"method Pre 40000\n", 1, "not a whole number from 1 to 32767"},
        {"method Post 1.5\n", 1, "smoothing parameter of 1.0 or less"},
        {"method Post nan\n", 1, "\"nan\" is not a finite number"},
        {"method Post 0,3\n", 1, "smoothing parameter \"0,3\" is not a number"},
        {"method Post 0.25\nmethod Post\n", 2, "repeat line 1"},
        {"method Pre 6\nmethod pre +6.0\n", 2, "repeat line 1"},
        {"replications 1e3\n", 1, "replications \"1e3\" is not a whole number"},
        {"replications 1,000\n", 1, "not a whole number"},
        {"replications 0\n", 1, "replications must be at least 1, not 0"},
        {"replications 2147483648\n", 1, "does not fit a 32-bit integer"},
        {"replications\n", 1, "replications takes one value, found 0"},
        {"replications 5\nreplications 5\n", 2, "replications is set already on line 1"},
        {"seed 2147483647\n", 1, "outside -2147483646 to 2147483646"},
        {"seed -2147483647\n", 1, "outside -2147483646 to 2147483646"},
        {"seed 12.0\n", 1, "seed \"12.0\" is not a whole number"},
        {"seed +-5\n", 1, "seed \"+-5\" is not a whole number"},
        {"data a scale +-1 36 1\n", 1, "scale minimum \"+-1\" is not a number"},
        {"seed 1\nseed 1\n", 2, "seed is set already on line 1"},
        {"criterion\n", 1, "criterion takes None, Same or `column K`, found \"\""},
        {"criterion column\n", 1, "found \"column\""},
        {"criterion column 26\n", 1, "column number 26 is outside 1 to 25"},
        {"criterion Nonesuch\n", 1, "found \"Nonesuch\""},
        {"criterion None\ncriterion Same\n", 2, "criterion is set already on line 1"},
        {ok + "criterion column 2\n", 3, "the old-form column of the data set on line 1"},
        {"data a columns 4 5 6\ndata b\nmethod n\ncriterion column 3\n", 4,
         "the scale column of the data set on line 2"},
        {"output\n", 1, "output takes one folder path, found 0"},
        {"output a b\n", 1, "found 2 values"},
        {"output math.study\n", 1, "output names the study file itself"},
        {"output x\noutput y\n", 2, "output is set already on line 1"},
        {"data a\x01.dat\n", 1, "control character \"\\x01\""},
        {"data a\rb\n", 1, "control character \"\\x0d\""},
        {std::string("data a\0b\n", 9), 1, "NUL byte"},
        {"# " + std::string(kMaxStudyLine, 'x') + "\n", 1, "longer than 4096 characters"},
        {"method None\n", 0, "the study names no data set"},
        {"data a\n# method None\n", 0, "the study names no method"},
        {"", 0, "names no data set"},
    };
    for (const Row& row : rows) {
        const Parsed p = parse(row.text);
        ASSERT_FALSE(p.ok) << row.text;
        std::string where = "/studies/math.study";
        if (row.line != 0) {
            where.append(":").append(std::to_string(row.line));
        }
        where.append(": ");
        EXPECT_TRUE(p.diagnostic.starts_with(where)) << p.diagnostic << "\nexpected " << where;
        EXPECT_NE(p.diagnostic.find(row.fragment), std::string::npos)
            << p.diagnostic << "\nexpected " << row.fragment;
        EXPECT_EQ(p.diagnostic.find('\n'), std::string::npos) << p.diagnostic;
    }
    // The longest line there may be.
    const Parsed longest =
        parse("#" + std::string(kMaxStudyLine - 1, 'x') + "\ndata a\nmethod n\n");
    EXPECT_TRUE(longest.ok) << longest.diagnostic;
}

TEST(StudyFile, ReadsTheFileAndItsDigest) {
    testing::TempDir dir;
    const std::string text = "data a.dat\nmethod None\n";
    StudySpec study;
    std::string diagnostic;
    ASSERT_TRUE(read_study_file(dir.write("s.study", text), study, diagnostic)) << diagnostic;
    EXPECT_EQ(study.data[0].path, dir.path() + "/a.dat");
    EXPECT_EQ(study.digest, study_digest(text));
    // The 64-bit FNV-1a hash's published values; one changed byte changes the digest.
    EXPECT_EQ(study_digest(""), "cbf29ce484222325");
    EXPECT_EQ(study_digest("a"), "af63dc4c8601ec8c");
    EXPECT_NE(study_digest(text), study_digest("data a.dat\nmethod none\n"));

    EXPECT_FALSE(read_study_file(dir.file("missing.study"), study, diagnostic));
    EXPECT_TRUE(diagnostic.starts_with(dir.file("missing.study") + ": cannot open")) << diagnostic;
    EXPECT_FALSE(read_study_file(dir.path(), study, diagnostic));
    // POSIX opens a folder and fails to read it; Windows fails to open it. Either way the
    // diagnostic says what the name is.
#if defined(_WIN32)
    EXPECT_TRUE(diagnostic.starts_with(dir.path() + ": cannot open")) << diagnostic;
#else
    EXPECT_TRUE(diagnostic.starts_with(dir.path() + ": cannot read")) << diagnostic;
#endif
    EXPECT_NE(diagnostic.find("Is a directory"), std::string::npos) << diagnostic;
    // A file of settings padded past the limit with comments, and a device without end.
    std::string big = text;
    while (big.size() <= kMaxStudyBytes) {
        big += "# " + std::string(100, 'c') + "\n";
    }
    EXPECT_FALSE(read_study_file(dir.write("big.study", big), study, diagnostic));
    EXPECT_NE(diagnostic.find("larger than 1048576 bytes"), std::string::npos) << diagnostic;
    EXPECT_FALSE(read_study_file("/dev/zero", study, diagnostic));
    EXPECT_NE(diagnostic.find("larger than"), std::string::npos) << diagnostic;
}

}  // namespace
}  // namespace eqsim::study
