#include "eqsim/control_file.h"
#include "io/method_words.h"

#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "io/tokens.h"
#include "support/temp_dir.h"

namespace eqsim {
namespace {

struct ReadOutcome {
    bool ok;
    ControlParameters params;
    std::string data_name;
    std::string output_name;
    std::string diagnostic;
};

ReadOutcome read_text(const std::string& content) {
    testing::TempDir dir;
    ReadOutcome outcome{};
    outcome.ok = read_control_file(dir.write("run.ctl", content), outcome.params, outcome.data_name,
                                   outcome.output_name, outcome.diagnostic);
    return outcome;
}

std::vector<std::string> tokens_of(const std::string& line, int limit, int bytes) {
    std::vector<std::string_view> slots(static_cast<std::size_t>(limit));
    const int count = split_tokens(limit, bytes, line, slots);
    return {slots.begin(), slots.begin() + count};
}

TEST(SplitTokens, SeparatesOnBlanksAndTabsAndStopsAtLineEnds) {
    using V = std::vector<std::string>;
    EXPECT_EQ(tokens_of("  R \t 500  \n", 4, 149), (V{"R", "500"}));
    EXPECT_EQ(tokens_of("a b\r c", 4, 149), (V{"a", "b"}));
    EXPECT_EQ(tokens_of(" \t\r\n", 4, 149), V{});
    EXPECT_EQ(tokens_of("a b c d e f", 4, 149), (V{"a", "b", "c", "d"}));
    // Bytes stored count one terminator per token: "ab"+"cd" need 6, "ab" alone 3.
    EXPECT_EQ(tokens_of("ab cd", 4, 6), (V{"ab", "cd"}));
    EXPECT_EQ(tokens_of("ab cd", 4, 5), V{"ab"});
    EXPECT_EQ(tokens_of("ab cd", 4, 3), V{"ab"});
    EXPECT_EQ(tokens_of("ab cd", 4, 2), V{});
}

TEST(ReadControlFile, KeywordsGoByTheirFirstLettersInAnyCase) {
    const ReadOutcome o = read_text(
        "# a comment\nreplications 500\nparameter 0.5\ncolumns 2 3 4 5\n"
        "Input Data.txt\noutput Out.TXT\nseed -17\nsmoothing none\nscale 100 130 2\n");
    ASSERT_TRUE(o.ok) << o.diagnostic;
    EXPECT_EQ(o.params.replications, 500);
    EXPECT_EQ(o.params.smoothing, 0.5);
    EXPECT_EQ(o.params.columns[0], 2);
    EXPECT_EQ(o.params.columns[2], 4);
    EXPECT_EQ(o.data_name, "Data.txt");
    EXPECT_EQ(o.output_name, "Out.TXT");
    EXPECT_EQ(o.params.seed, -17);
    EXPECT_EQ(o.params.method, Method::unsmoothed);
    EXPECT_EQ(o.params.scale.min, 100.0);
    EXPECT_EQ(o.params.scale.increment, 2.0);

    EXPECT_EQ(read_text("r 7\nR 8\n").params.replications, 8);
    EXPECT_EQ(read_text("se 7\n").params.seed, 7);
    EXPECT_EQ(read_text("SEED 7\n").params.seed, 7);
}

TEST(ReadControlFile, MethodWordsAndTheirFirstLetters) {
    // 0 marks a word that selects no method.
    const std::vector<std::pair<std::string, int>> words = {{"PO", 1},
                                                            {"post", 1},
                                                            {"Postsmoothing", 1},
                                                            {"pre", 2},
                                                            {"PResmooth", 2},
                                                            {"None", 3},
                                                            {"n", 3},
                                                            {"linear", 4},
                                                            {"Mean", 5},
                                                            {"P", 0},
                                                            {"X", 0},
                                                            {"Px", 0},
                                                            {"Tucker", 0},
                                                            {"Frequency-estimation", 0},
                                                            {"Levine", 4}};
    for (const auto& [word, code] : words) {
        const MethodWords* method = method_of_word(word);
        EXPECT_EQ(method == nullptr ? 0 : static_cast<int>(method->method), code) << word;
        const ReadOutcome o = read_text("SM " + word + "\n");
        EXPECT_EQ(o.ok, code != 0) << word;
        if (code != 0) {
            EXPECT_EQ(o.params.method, static_cast<Method>(code)) << word;
        }
    }
}

TEST(ReadControlFile, ValuesReadTheirLeadingNumberOnly) {
    EXPECT_EQ(read_text("R 10x\n").params.replications, 10);
    EXPECT_EQ(read_text("R +12\n").params.replications, 12);
    EXPECT_EQ(read_text("P 1e-2abc\n").params.smoothing, 0.01);
    EXPECT_EQ(read_text("P 0x1p-2\n").params.smoothing, 0.25);
    EXPECT_EQ(read_text("C 007 2 3\n").params.columns[0], 7);
    // White space that does not separate tokens is skipped as formatted input skips it.
    EXPECT_EQ(read_text("R \v\f21\n").params.replications, 21);
    EXPECT_EQ(read_text("SE \v-5\n").params.seed, -5);
    EXPECT_EQ(read_text("P \v0.5\n").params.smoothing, 0.5);
}

TEST(ReadControlFile, LinesInErrorStopTheReadingAndKeepEarlierSettings) {
    const std::vector<std::string> bad = {"S 7\n",
                                          "X 1\n",
                                          "R 10 20\n",
                                          "R\n",
                                          "C 2 3\n",
                                          "SC 1 2\n",
                                          "I\n",
                                          "I a b\n",
                                          "R ten\n",
                                          "P abc\n",
                                          "SE -\n",
                                          "C 1 x 3\n",
                                          "SM Q\n",
                                          "   \n",
                                          " # not a comment\n",
                                          "R 2147483648\n",
                                          "SE -2147483649\n",
                                          "C 1 2 32768\n",
                                          "R 99999999999999999999\n",
                                          "R 5\r\n \r\n"};
    for (const std::string& text : bad) {
        EXPECT_FALSE(read_text(text).ok) << text;
    }
    const ReadOutcome o = read_text("R 33\nSE 5\nX 1\nR 44\n");
    EXPECT_FALSE(o.ok);
    EXPECT_EQ(o.params.replications, 33);
    EXPECT_NE(o.diagnostic.find("run.ctl:3:"), std::string::npos) << o.diagnostic;
    EXPECT_NE(read_text("S 7\n").diagnostic.find("needs a second letter"), std::string::npos);
    // Values beyond the third of C and SC are ignored, so only a one-value setting can have more.
    EXPECT_TRUE(read_text("C 2 3\n").diagnostic.ends_with("(C) takes three values, found 2"));
    EXPECT_TRUE(
        read_text("R 10 20\n").diagnostic.ends_with("(R) takes one value, found 2 or more"));
    // Bytes of a binary file are shown escaped.
    EXPECT_NE(read_text("\x01\xff 7\n").diagnostic.find("keyword \"\\x01\\xff\""),
              std::string::npos);
}

TEST(ReadControlFile, AnEmptyLineEndsTheSettings) {
    for (const std::string ending : {"\n", "\r\n"}) {
        const ReadOutcome o = read_text("R 20\nSE 3" + ending + ending + "garbage line\nR 99\n");
        EXPECT_TRUE(o.ok) << o.diagnostic;
        EXPECT_EQ(o.params.replications, 20);
        EXPECT_EQ(o.params.seed, 3);
    }
    EXPECT_TRUE(read_text("").ok);
    EXPECT_EQ(read_text("# only\n# comments\n").params.replications, 10);
    EXPECT_EQ(read_text("R 21").params.replications, 21);  // no final newline
    // A lone carriage return without its newline is not an empty line.
    EXPECT_FALSE(read_text("R 21\n\r").ok);
}

TEST(ReadControlFile, ByteOrderMarkAndWindowsLineEnds) {
    const ReadOutcome o = read_text("\xEF\xBB\xBFR 30\r\nSM Mean\r\n");
    EXPECT_TRUE(o.ok) << o.diagnostic;
    EXPECT_EQ(o.params.replications, 30);
    EXPECT_EQ(o.params.method, Method::mean);
    EXPECT_EQ(read_text("\xEF\xBB\xBF# comment\nR 31\n").params.replications, 31);
}

TEST(ReadControlFile, LongLinesAreErrorsButLongCommentsAreSkipped) {
    const std::string at_limit = "I " + std::string(146, 'd');
    EXPECT_TRUE(read_text(at_limit + "\n").ok);
    EXPECT_EQ(read_text(at_limit + "\n").data_name.size(), 146u);
    EXPECT_FALSE(read_text(at_limit + "d\n").ok);
    EXPECT_FALSE(read_text(at_limit + "d").ok);
    EXPECT_FALSE(read_text(at_limit + "\r\n").ok);  // the carriage return counts
    // Read in pieces, the tail of this comment would be a setting.
    const ReadOutcome o = read_text("#" + std::string(148, ' ') + "R 99\nR 12\n");
    EXPECT_TRUE(o.ok);
    EXPECT_EQ(o.params.replications, 12);
    // Exactly 149 characters: never mistaken for an empty line that ends the file.
    EXPECT_FALSE(read_text("R 5" + std::string(146, ' ') + "\nR 6\n").ok);
}

TEST(ReadControlFile, UnreadableFilesAndNulBytesAreErrors) {
    testing::TempDir dir;
    ControlParameters params;
    std::string data;
    std::string output;
    std::string diagnostic;
    EXPECT_FALSE(read_control_file(dir.path(), params, data, output, diagnostic));
    EXPECT_FALSE(read_control_file(dir.file("missing"), params, data, output, diagnostic));
    EXPECT_NE(diagnostic.find("missing"), std::string::npos);
    EXPECT_FALSE(read_text(std::string("R 5\0junk\n", 10)).ok);
    EXPECT_FALSE(read_text(std::string("\0\n", 2)).ok);
}

TEST(ValidateControlParameters, FinalValuesMustAllowARun) {
    std::string diagnostic;
    EXPECT_TRUE(validate_control_parameters(ControlParameters{}, diagnostic));
    const auto rejects = [](auto change) {
        ControlParameters p;
        change(p);
        std::string why;
        return !validate_control_parameters(p, why) && !why.empty();
    };
    EXPECT_TRUE(rejects([](ControlParameters& p) { p.replications = 0; }));
    EXPECT_TRUE(rejects([](ControlParameters& p) { p.smoothing = HUGE_VAL; }));
    EXPECT_TRUE(rejects([](ControlParameters& p) { p.smoothing = std::nan(""); }));
    EXPECT_TRUE(rejects([](ControlParameters& p) { p.scale.increment = 0.0; }));
    EXPECT_TRUE(rejects([](ControlParameters& p) { p.scale.increment = -1.0; }));
    EXPECT_TRUE(rejects([](ControlParameters& p) { p.scale.max = 0.5; }));
    EXPECT_TRUE(rejects([](ControlParameters& p) { p.scale.min = -HUGE_VAL; }));
    EXPECT_TRUE(rejects([](ControlParameters& p) { p.scale.max = 32768.0; }));
    EXPECT_TRUE(rejects([](ControlParameters& p) { p.scale = {0.0, 1.0, 1e-12}; }));
    EXPECT_TRUE(rejects([](ControlParameters& p) { p.columns[1] = 0; }));
    EXPECT_TRUE(rejects([](ControlParameters& p) { p.columns[2] = 26; }));
    EXPECT_TRUE(rejects([](ControlParameters& p) { p.seed = 2147483647; }));
    EXPECT_TRUE(rejects([](ControlParameters& p) { p.seed = -2147483647; }));
    EXPECT_TRUE(rejects([](ControlParameters& p) { p.seed = INT32_MIN; }));
    EXPECT_FALSE(rejects([](ControlParameters& p) { p.scale = {1.0, 32767.0, 1.0}; }));
    EXPECT_FALSE(rejects([](ControlParameters& p) { p.seed = -2147483646; }));
    EXPECT_FALSE(rejects([](ControlParameters& p) { p.scale = {5.0, 5.0, 0.3}; }));
}

TEST(ScalePointCount, RoundsTheNumberOfIncrements) {
    EXPECT_EQ(scale_point_count(ScaleSpec{1.0, 36.0, 1.0}), 36.0);
    EXPECT_EQ(scale_point_count(ScaleSpec{100.0, 130.0, 2.0}), 16.0);
    EXPECT_EQ(scale_point_count(ScaleSpec{0.0, 1.0, 0.3}), 4.0);
}

}  // namespace
}  // namespace eqsim
