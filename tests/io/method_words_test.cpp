// How words select methods: eqsim's control files by the first letters of the random-groups
// methods; study files also by a whole word or a beginning no other method shares.
#include "io/method_words.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>

namespace eqsim {
namespace {

TEST(MethodWords, StudyWordsSelectByWholeWordsBeginningsAndLetters) {
    const struct {
        const char* word;
        std::optional<Method> method;  // none: the word selects no method
        const char* problem;           // a fragment of why not
    } rows[] = {
        {"Tucker", Method::tucker, ""},
        {"t", Method::tucker, ""},
        {"Lev", Method::levine, ""},
        {"le", Method::levine, ""},
        {"L", Method::linear, ""},  // the one-letter form keeps its meaning
        {"Lin", Method::linear, ""},
        {"Loglinear", Method::linear, ""},  // no method begins so: its first letters choose
        {"C", Method::circle_arc, ""},
        {"Ci", Method::circle_arc, ""},
        {"Chained", std::nullopt, "could be Chained-linear or Chained-equipercentile"},
        {"chained-l", Method::chained_linear, ""},
        {"Chained-E", Method::chained_equipercentile, ""},
        {"F", Method::frequency_estimation, ""},
        {"braun", Method::braun_holland, ""},
        {"Pre", Method::presmoothing, ""},
        {"Post-smoothing", Method::postsmoothing, ""},
        {"P", std::nullopt, "could be Postsmoothing or Presmoothing"},
        {"N", Method::unsmoothed, ""},
        {"Mean-sigma", Method::mean, ""},
        {"K", Method::kernel, ""},
        {"X", std::nullopt, "names no method; use Post, Pre"},
        {"", std::nullopt, "names no method"},
    };
    for (const auto& row : rows) {
        std::string problem;
        const MethodWords* words = method_of_study_word(row.word, problem);
        ASSERT_EQ(words != nullptr, row.method.has_value()) << row.word << ": " << problem;
        if (words != nullptr) {
            EXPECT_EQ(words->method, *row.method) << row.word;
            EXPECT_EQ(problem, "") << row.word;
        } else {
            EXPECT_NE(problem.find(row.problem), std::string::npos) << row.word << ": " << problem;
        }
    }
    // eqsim's control files: random-groups methods only, by their letters ("Levine" is Linear,
    // as it always was; "Tucker" names none).
    EXPECT_EQ(method_of_word("Levine")->method, Method::linear);
    EXPECT_EQ(method_of_word("Tucker"), nullptr);
}

TEST(MethodWords, GroupWeightsAreShownOnlyWhenGiven) {
    const std::string_view given[] = {"Tucker", "0.3"};
    const std::string_view left[] = {"Freq"};
    const std::string_view outside[] = {"Braun", "1.2"};
    MethodChoice choice;
    bool shows = false;
    EXPECT_EQ(read_method_words(given, choice, shows), "");
    EXPECT_EQ(choice.parameter, 0.3);
    EXPECT_TRUE(shows);
    EXPECT_EQ(read_method_words(left, choice, shows), "");
    EXPECT_EQ(choice.parameter, kWeightOfSizes);
    EXPECT_FALSE(shows);
    EXPECT_NE(read_method_words(outside, choice, shows).find("weight of group P (w1) from 0.0"),
              std::string::npos);
}

}  // namespace
}  // namespace eqsim
