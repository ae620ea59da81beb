#include "study/plots.h"

#include <gtest/gtest.h>

#include <cmath>
#include <optional>
#include <string>
#include <vector>

#include "study/index_page.h"

namespace eqsim::study {
namespace {

// True when every tag is closed in order (enough of XML for text written by hand).
bool tags_balance(const std::string& text) {
    std::vector<std::string> open;
    for (std::size_t pos = text.find('<'); pos != std::string::npos; pos = text.find('<', pos)) {
        const std::size_t end = text.find('>', pos);
        if (end == std::string::npos) {
            return false;
        }
        const std::string tag = text.substr(pos + 1, end - pos - 1);
        pos = end;
        if (tag.empty() || tag[0] == '!' || tag.back() == '/') {
            continue;
        }
        const std::string name =
            tag.substr(tag[0] == '/', tag.find_first_of(" \n") - (tag[0] == '/'));
        if (name == "meta" || name == "img") {
            continue;
        }
        if (tag[0] != '/') {
            open.push_back(name);
        } else if (open.empty() || open.back() != name) {
            return false;
        } else {
            open.pop_back();
        }
    }
    return open.empty();
}

std::vector<ScoreRow> example_rows() {
    std::vector<ScoreRow> rows;
    for (const char* data : {"a&b.dat", "c<d>.dat"}) {
        for (const std::optional<double> parameter : {std::optional<double>(), {0.3}}) {
            for (std::int32_t x = 0; x <= 20; ++x) {
                for (const Quantity q : {Quantity::raw, Quantity::scale, Quantity::rounded}) {
                    ScoreRow row;
                    row.key = {data, 500, 3000,
                               parameter ? Method::postsmoothing : Method::unsmoothed, parameter};
                    row.score = x;
                    row.quantity = q;
                    row.weight = 1.0 / 21;
                    row.se = 0.2 + 0.001 * (x - 10) * (x - 10);
                    row.criterion = x;
                    row.mean = x + 0.01 * (x - 10) * (parameter ? 2 : 1);
                    set_bias_and_rmse(row);
                    rows.push_back(row);
                }
            }
        }
    }
    rows[5].se = std::nan("");  // a gap in one line
    return rows;
}

TEST(StudyPlots, SixWellFormedPlotsThatDependOnlyOnTheRows) {
    const std::vector<ScoreRow> rows = example_rows();
    std::vector<std::string> plots;
    for (const PlotKind& plot : kStudyPlots) {
        plots.push_back(plot_svg(rows, plot.index, plot.quantity));
    }
    ASSERT_EQ(plots.size(), 6u);
    const char* names[] = {"se_raw.svg",     "se_scale.svg", "bias_raw.svg",
                           "bias_scale.svg", "rmse_raw.svg", "rmse_scale.svg"};
    for (std::size_t i = 0; i < plots.size(); ++i) {
        const std::string& svg = plots[i];
        const std::string name = plot_file_name(kStudyPlots[i].index, kStudyPlots[i].quantity);
        EXPECT_EQ(name, names[i]);
        EXPECT_TRUE(tags_balance(svg)) << name;
        EXPECT_EQ(svg.rfind("<svg xmlns=\"http://www.w3.org/2000/svg\"", 0), 0u);
        EXPECT_NE(svg.find("a&amp;b.dat, n = 500/3000"), std::string::npos);
        EXPECT_NE(svg.find("c&lt;d&gt;.dat"), std::string::npos);
        EXPECT_NE(svg.find(">Postsmoothing 0.3<"), std::string::npos);
        EXPECT_EQ(svg.find("nan"), std::string::npos);
        EXPECT_EQ(svg.find("-0.00 "), std::string::npos);
    }
    // The same rows give the same bytes; a change of one value changes them.
    EXPECT_EQ(plot_svg(rows, Index::se, Quantity::raw), plots[0]);
    std::vector<ScoreRow> changed = rows;
    changed[3].se += 0.05;
    EXPECT_NE(plot_svg(changed, Index::se, Quantity::raw), plots[0]);
}

// The panel grid: a row per data set and a column per size when every data set has the same
// sizes (at most four), otherwise up to three columns (two for four panels).
TEST(StudyPlots, PanelsFormRowsOfDataSetsAndColumnsOfSizes) {
    const auto width_of = [](int data_sets, int sizes) {
        std::vector<ScoreRow> rows;
        for (int d = 0; d < data_sets; ++d) {
            for (int n = 0; n < sizes; ++n) {
                for (std::int32_t x = 0; x <= 3; ++x) {
                    ScoreRow row;
                    row.key = {std::string(1, static_cast<char>('a' + d)), 100.0 * (n + 1),
                               100.0 * (n + 1), Method::linear, std::nullopt};
                    row.score = x;
                    row.se = 0.1 * (x + 1);
                    rows.push_back(row);
                }
            }
        }
        const std::string svg = plot_svg(rows, Index::se, Quantity::raw);
        const std::size_t at = svg.find(" width=\"") + 8;
        return std::stod(svg.substr(at, svg.find('"', at) - at));
    };
    const double one = width_of(1, 1);
    const double panel = width_of(1, 2) - one;
    ASSERT_GT(panel, 0.0);
    const struct {
        int data_sets, sizes, columns;
    } grids[] = {{1, 3, 3}, {1, 4, 2}, {1, 5, 3}, {3, 2, 2}, {2, 3, 3},
                 {2, 4, 4}, {2, 5, 3}, {4, 1, 2}, {5, 1, 3}};
    for (const auto& g : grids) {
        EXPECT_EQ(width_of(g.data_sets, g.sizes), one + (g.columns - 1) * panel)
            << g.data_sets << " data sets x " << g.sizes << " sizes";
    }
}

TEST(StudyPlots, IndexPageShowsThePlotsAndEscapesTheSummary) {
    const std::vector<ScoreRow> rows = example_rows();
    const std::vector<SummaryRow> summary = summarise_all_scores(rows);
    const std::string page = index_page("Study <1>", summary);
    EXPECT_TRUE(tags_balance(page));
    EXPECT_EQ(page, index_page("Study <1>", summary));
    EXPECT_NE(page.find("<title>Study &lt;1&gt;</title>"), std::string::npos);
    for (const PlotKind& plot : kStudyPlots) {
        EXPECT_NE(page.find("<img src=\"" + plot_file_name(plot.index, plot.quantity) + "\""),
                  std::string::npos);
    }
    EXPECT_NE(page.find("<td>c&lt;d&gt;.dat</td>"), std::string::npos);
    EXPECT_EQ(page.find("<script"), std::string::npos);
}

}  // namespace
}  // namespace eqsim::study
