#include "study/tables.h"

#include "io/tokens.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>

namespace eqsim::study {
namespace {

std::uint64_t bits(double value) {
    std::uint64_t b;
    std::memcpy(&b, &value, sizeof b);
    return b;
}

ScoreRow score_row(std::string data, Method method, std::optional<double> parameter) {
    ScoreRow row;
    row.key = {std::move(data), 500, 3000, method, parameter};
    row.seed = 20261207;
    row.replications = 1000;
    return row;
}

TEST(StudyTables, NumbersAreShortestAndReadBackBitForBit) {
    const double awkward[] = {0.1,
                              1e300,
                              -0.0,
                              0.0,
                              500,
                              -3,
                              5e-324,
                              2.2250738585072009e-308,
                              std::numeric_limits<double>::max(),
                              1.0 / 3.0,
                              0.30000000000000004,
                              9007199254740993.0,
                              std::numeric_limits<double>::infinity()};
    std::string shortest;
    for (const double v : {0.1, 1e300, -0.0, 500.0, 5e-324}) {
        append_number(v, shortest);
        shortest.push_back(' ');
    }
    EXPECT_EQ(shortest, "0.1 1e+300 -0 500 5e-324 ");

    std::vector<ScoreRow> written;
    for (std::size_t i = 0; i < std::size(awkward); ++i) {
        ScoreRow row = score_row("d.dat", Method::postsmoothing, awkward[i]);
        row.key.n_new = awkward[(i + 1) % std::size(awkward)];
        row.score = static_cast<std::int32_t>(i);
        row.quantity = static_cast<Quantity>(i % 3);
        row.weight = row.criterion = row.mean = row.se = row.bias = row.rmse = awkward[i];
        if (i % 2 == 0) {  // the others have no Monte Carlo standard errors (one replication)
            row.mcse_mean = row.mcse_se = row.mcse_rmse = awkward[i];
        }
        written.push_back(row);
    }
    std::string text(scores_header());
    for (const ScoreRow& row : written) {
        append_score_row(row, text);
    }
    std::vector<ScoreRow> read;
    std::string diagnostic;
    ASSERT_TRUE(parse_scores(text, "scores.csv", read, diagnostic)) << diagnostic;
    ASSERT_EQ(read.size(), written.size());
    for (std::size_t i = 0; i < read.size(); ++i) {
        EXPECT_EQ(read[i].key, written[i].key);
        EXPECT_EQ(bits(read[i].key.n_new), bits(written[i].key.n_new));
        EXPECT_EQ(bits(*read[i].key.parameter), bits(awkward[i]));
        EXPECT_EQ(read[i].quantity, written[i].quantity);
        for (const double v : {read[i].weight, read[i].criterion, read[i].mean, read[i].se,
                               read[i].bias, read[i].rmse}) {
            EXPECT_EQ(bits(v), bits(awkward[i])) << i;
        }
        for (const std::optional<double>& e :
             {read[i].mcse_mean, read[i].mcse_se, read[i].mcse_rmse}) {
            ASSERT_EQ(e.has_value(), i % 2 == 0) << i;
            if (e) {
                EXPECT_EQ(bits(*e), bits(awkward[i])) << i;
            }
        }
    }
    // Writing what was read gives the same bytes.
    std::string again(scores_header());
    for (const ScoreRow& row : read) {
        append_score_row(row, again);
    }
    EXPECT_EQ(again, text);
}

TEST(StudyTables, TextFieldsAreQuotedAndTheOtherTablesRoundTrip) {
    const std::string awkward_path = "forms/a \"b\", c\nd.dat";
    ScoreRow score = score_row(awkward_path, Method::linear, std::nullopt);
    score.score = 7;
    score.weight = 0.25;
    score.quantity = Quantity::rounded;
    score.criterion = 12;
    score.mean = 12.5;
    score.se = 1.5;
    set_bias_and_rmse(score);
    EXPECT_EQ(score.bias, 0.5);
    EXPECT_EQ(score.rmse, std::sqrt(2.5));
    std::string line;
    append_score_row(score, line);
    EXPECT_EQ(line,
              "\"forms/a \"\"b\"\", c\nd.dat\",500,3000,Linear,,20261207,1000,7,0.25,rounded,"
              "12,12.5,1.5,0.5,1.5811388300841898,,,,\n");
    score.mcse_mean = 0.125;
    score.mcse_se = 0.0625;
    score.mcse_rmse = 0.25;
    line.clear();
    append_score_row(score, line);
    EXPECT_EQ(line.substr(line.find("1.5811388300841898")),
              "1.5811388300841898,0.125,0.0625,0.125,0.25\n");  // mcse_bias is mcse_mean

    SummaryRow summary{{awkward_path, 40, 40, Method::presmoothing, 6.0},
                       -5,
                       2,
                       Quantity::scale,
                       0.1,
                       0.2,
                       0.3,
                       0.4,
                       0.5,
                       0.6,
                       0.01,
                       std::nullopt,
                       0.03,
                       0.04,
                       0.05,
                       0.06};
    DecisionRow decision{
        {"plain.dat", 40, 41, Method::synthetic, 0.5}, 9, 200, 26.5, 0.375, 0.0625, std::nullopt};
    HistogramRow histogram{
        {"plain.dat", 40, 41, Method::mean, std::nullopt}, 3, 17.5, 123456789012};
    std::string summary_text(summary_header());
    append_summary_row(summary, summary_text);
    std::string histogram_text(histograms_header());
    append_histogram_row(histogram, histogram_text);
    EXPECT_EQ(histogram_text,
              "data,n_new,n_old,method,parameter,score,scale_score,count\n"
              "plain.dat,40,41,Mean,,3,17.5,123456789012\n");

    std::string diagnostic;
    std::vector<SummaryRow> summaries;
    ASSERT_TRUE(parse_summary(summary_text, "summary.csv", summaries, diagnostic)) << diagnostic;
    ASSERT_EQ(summaries.size(), 1u);
    EXPECT_EQ(summaries[0].key, summary.key);
    EXPECT_EQ(summaries[0].seed, -5);
    EXPECT_EQ(summaries[0].rmse_u, 0.6);
    EXPECT_EQ(summaries[0].mcse_se_w, 0.01);
    EXPECT_FALSE(summaries[0].mcse_bias_w.has_value());
    EXPECT_EQ(summaries[0].mcse_rmse_u, 0.06);
    std::string decision_text(decisions_header());
    append_decision_row(decision, decision_text);
    EXPECT_EQ(decision_text,
              "data,n_new,n_old,method,parameter,seed,replications,cut,criterion_pass,"
              "misclassified,mcse_misclassified\n"
              "plain.dat,40,41,Synthetic,0.5,9,200,26.5,0.375,0.0625,\n");
    std::vector<DecisionRow> decisions;
    ASSERT_TRUE(parse_decisions(decision_text, "decisions.csv", decisions, diagnostic))
        << diagnostic;
    ASSERT_EQ(decisions.size(), 1u);
    EXPECT_EQ(decisions[0].key, decision.key);
    EXPECT_EQ(decisions[0].cut, 26.5);
    EXPECT_FALSE(decisions[0].mcse_misclassified.has_value());
    std::vector<HistogramRow> histograms;
    ASSERT_TRUE(parse_histograms(histogram_text, "histograms.csv", histograms, diagnostic))
        << diagnostic;
    ASSERT_EQ(histograms.size(), 1u);
    EXPECT_EQ(histograms[0].key, histogram.key);
    EXPECT_EQ(histograms[0].count, 123456789012);
}

TEST(StudyTables, MalformedTextNamesFileAndLine) {
    const std::string header(histograms_header());
    const std::string good = "a.dat,40,40,None,,3,17,5\n";
    const struct {
        std::string text;
        std::string expected;
    } cases[] = {
        {"", "h.csv:1: the file is empty"},
        {"data,n_new\n", "h.csv:1: the header is not"},
        {header + good + "a.dat,40,40,None,,3,17\n", "h.csv:3: the row has 7 fields"},
        {header + good + "\n", "h.csv:3: the row has 1 fields"},
        {header + "a.dat,40,40,None,0.5,3,17,5\n", "h.csv:2: parameter is given for None"},
        {header + "a.dat,40,40,Post,0.5,3,17,5\n", "h.csv:2: method is \"Post\""},
        {header + "a.dat,40,40,Postsmoothing,,3,17,5\n", "h.csv:2: parameter is \"\""},
        {header + "a.dat,4O,40,None,,3,17,5\n", "h.csv:2: n_new is \"4O\"; it should be a number"},
        {header + "a.dat, 40,40,None,,3,17,5\n", "h.csv:2: n_new is \" 40\""},
        {header + "a.dat,40,40,None,,3.5,17,5\n", "h.csv:2: score is \"3.5\"; it should be an"},
        {header + "a.dat,40,40,None,,3,17,99999999999999999999\n", "h.csv:2: count is"},
        {header + "\"a\nb.dat\",40,40,None,,3,17,5\n\"unclosed,1\n", "h.csv:4: a quoted field is"},
        {header + "\"a\"x,40,40,None,,3,17,5\n", "h.csv:2: text after the closing quote"},
        {header + "a\"b,40,40,None,,3,17,5\n", "h.csv:2: a quote inside an unquoted field"},
    };
    for (const auto& c : cases) {
        std::vector<HistogramRow> rows;
        std::string diagnostic;
        EXPECT_FALSE(parse_histograms(c.text, "h.csv", rows, diagnostic)) << c.text;
        EXPECT_EQ(diagnostic.rfind(c.expected, 0), 0u) << diagnostic;
    }
    std::vector<ScoreRow> rows;
    std::string diagnostic;
    EXPECT_FALSE(parse_scores(header + good, "s.csv", rows, diagnostic));
    // A file without its final newline and with CRLF line ends still reads.
    std::vector<HistogramRow> rows2;
    EXPECT_TRUE(parse_histograms("data,n_new,n_old,method,parameter,score,scale_score,count\r\n" +
                                     good.substr(0, good.size() - 1),
                                 "h.csv", rows2, diagnostic))
        << diagnostic;
    EXPECT_EQ(rows2.size(), 1u);
}

TEST(StudyTables, SummariesAreRootMeanSquaresInScoreOrder) {
    // Two scores, weights 0.25 and 0.75; given out of order and interleaved with another
    // quantity and method.
    ScoreRow a = score_row("d.dat", Method::unsmoothed, std::nullopt);
    a.score = 1;
    a.weight = 0.75;
    a.se = 0.4;
    a.mean = 1.0;
    a.criterion = 1.0;
    set_bias_and_rmse(a);
    ScoreRow b = a;
    b.score = 0;
    b.weight = 0.25;
    b.se = 0.2;
    b.mean = 0.5;
    b.criterion = 0.2;
    set_bias_and_rmse(b);
    ScoreRow other_quantity = a;
    other_quantity.quantity = Quantity::scale;
    ScoreRow other_method = a;
    other_method.key.method = Method::mean;

    const std::vector<ScoreRow> rows = {a, other_quantity, other_method, b};
    const std::vector<SummaryRow> summaries = summarise_all_scores(rows);
    ASSERT_EQ(summaries.size(), 3u);
    EXPECT_EQ(summaries[1].quantity, Quantity::scale);
    EXPECT_EQ(summaries[2].key.method, Method::mean);
    const SummaryRow& s = summaries[0];
    EXPECT_EQ(s.key, a.key);
    EXPECT_EQ(s.seed, 20261207);
    EXPECT_DOUBLE_EQ(s.se_w, std::sqrt(0.25 * 0.04 + 0.75 * 0.16));
    EXPECT_DOUBLE_EQ(s.bias_w, std::sqrt(0.25 * 0.09));
    EXPECT_DOUBLE_EQ(s.rmse_w, std::sqrt(0.25 * 0.13 + 0.75 * 0.16));
    EXPECT_DOUBLE_EQ(s.se_u, std::sqrt(0.5 * 0.04 + 0.5 * 0.16));
    EXPECT_DOUBLE_EQ(s.bias_u, std::sqrt(0.5 * 0.09));
    EXPECT_DOUBLE_EQ(s.rmse_u, std::sqrt(0.5 * 0.13 + 0.5 * 0.16));
    // Order of the rows given does not change a bit of the result.
    const std::vector<ScoreRow> reversed = {b, a};
    const SummaryRow r = summarise_scores(reversed);
    EXPECT_EQ(bits(r.rmse_w), bits(s.rmse_w));
    EXPECT_EQ(bits(r.se_u), bits(s.se_u));
}

}  // namespace
}  // namespace eqsim::study
