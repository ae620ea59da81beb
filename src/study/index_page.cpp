#include "study/index_page.h"

#include <charconv>

#include "io/tokens.h"
#include "study/plots.h"

namespace eqsim::study {

namespace {

constexpr std::string_view kStyle = R"(<style>
body { font-family: "DejaVu Sans", Verdana, Arial, Helvetica, sans-serif; color: #222;
       background: #fff; margin: 1.5em auto; max-width: 64em; padding: 0 1em; line-height: 1.4; }
h1 { font-size: 1.5em; margin-bottom: 0.2em; }
h2 { font-size: 1.2em; margin-top: 1.6em; border-bottom: 1px solid #bbb; }
figure { margin: 1em 0; break-inside: avoid; page-break-inside: avoid; }
figure img { max-width: 100%; height: auto; display: block; }
figcaption { font-size: 0.9em; color: #444; }
table { border-collapse: collapse; font-size: 0.85em; margin: 0.5em 0; }
th, td { border: 1px solid #bbb; padding: 0.2em 0.5em; }
th { background: #eee; }
td.n { text-align: right; font-variant-numeric: tabular-nums; }
tbody tr:nth-child(even) { background: #f6f6f6; }
p.note { font-size: 0.9em; color: #444; }
@media print {
  body { margin: 0; max-width: none; font-size: 10pt; }
  h2 { break-after: avoid; page-break-after: avoid; }
  tr { break-inside: avoid; page-break-inside: avoid; }
  thead { display: table-header-group; }
  tbody tr:nth-child(even) { background: none; }
}
</style>
)";

// Four significant digits: the table is for reading; scores.csv and summary.csv keep every digit.
void append_short(double value, std::string& out) {
    char buffer[64];
    const auto result =
        std::to_chars(buffer, buffer + sizeof buffer, value + 0.0, std::chars_format::general, 4);
    out.append(buffer, result.ptr);
}

// "0.1234 ± 0.0012", or the value alone without its Monte Carlo standard error.
void append_with_error(double value, const std::optional<double>& mcse, std::string& out) {
    append_short(value, out);
    if (mcse) {
        out.append(" \u00b1 ");
        append_short(*mcse, out);
    }
}

void append_cell(std::string_view text, bool numeric, std::string& out) {
    out.append(numeric ? "<td class=\"n\">" : "<td>");
    append_escaped(text, out);
    out.append("</td>");
}

// The cells every table's row begins with: the data set, the sizes (new/old) and the method.
void append_key_cells(const RowKey& key, std::string& out) {
    append_cell(key.data, false, out);
    std::string sizes;
    append_number(key.n_new, sizes);
    sizes.push_back('/');
    append_number(key.n_old, sizes);
    append_cell(sizes, true, out);
    append_cell(method_label(key), false, out);
}

struct Section {
    std::string_view heading;
    std::string_view caption;
};

Section section_of(Index index) {
    switch (index) {
        case Index::se:
            return {"Standard error",
                    "Standard deviation over the replications of each new-form raw score's "
                    "equated score."};
        case Index::bias:
            return {"Bias",
                    "Mean over the replications less the criterion equating; the shaded band is "
                    "two Monte Carlo standard errors either side."};
        case Index::rmse:
            return {"Root mean squared error",
                    "The square root of the squared standard error plus the squared bias."};
    }
    return {};
}

// The plots in their order, a heading before the first of each index.
void append_figures(std::string& out) {
    for (std::size_t i = 0; i < std::size(kStudyPlots); ++i) {
        const Index index = kStudyPlots[i].index;
        const Quantity quantity = kStudyPlots[i].quantity;
        const Section section = section_of(index);
        if (i == 0 || kStudyPlots[i - 1].index != index) {
            out.append("<h2>");
            append_escaped(section.heading, out);
            out.append("</h2>\n");
        }
        {
            const std::string name = plot_file_name(index, quantity);
            out.append("<figure><img src=\"");
            append_escaped(name, out);
            out.append("\" alt=\"");
            append_escaped(section.heading, out);
            out.append(quantity == Quantity::raw ? " of equated raw scores"
                                                 : " of unrounded scale scores");
            out.append("\"><figcaption>");
            append_escaped(section.caption, out);
            out.append(quantity == Quantity::raw ? " Equated raw scores."
                                                 : " Unrounded scale scores.");
            out.append(" (<a href=\"");
            append_escaped(name, out);
            out.append("\">");
            append_escaped(name, out);
            out.append("</a>)</figcaption></figure>\n");
        }
    }
}

void append_summary(std::span<const SummaryRow> summary, std::string& out) {
    out.append(
        "<h2>Summary</h2>\n<p class=\"note\">Weighted: averaged over the new form's raw "
        "scores with its population relative frequencies, as root mean squares. "
        "Unweighted: every raw score counts the same. After each value, &plusmn; its Monte "
        "Carlo standard error (none with a single replication). All digits are in summary.csv."
        "</p>\n");
    out.append(
        "<table>\n<thead>\n<tr><th rowspan=\"2\">Data</th><th rowspan=\"2\">Sizes "
        "(new/old)</th><th rowspan=\"2\">Method</th><th rowspan=\"2\">Seed</th>"
        "<th rowspan=\"2\">Replications</th><th rowspan=\"2\">Quantity</th>"
        "<th colspan=\"3\">Weighted</th><th colspan=\"3\">Unweighted</th></tr>\n"
        "<tr><th>SE</th><th>Bias</th><th>RMSE</th><th>SE</th><th>Bias</th><th>RMSE</th>"
        "</tr>\n</thead>\n<tbody>\n");
    for (const SummaryRow& row : summary) {
        out.append("<tr>");
        append_key_cells(row.key, out);
        append_cell(std::to_string(row.seed), true, out);
        append_cell(std::to_string(row.replications), true, out);
        append_cell(quantity_word(row.quantity), false, out);
        const std::pair<double, std::optional<double>> values[] = {
            {row.se_w, row.mcse_se_w},     {row.bias_w, row.mcse_bias_w},
            {row.rmse_w, row.mcse_rmse_w}, {row.se_u, row.mcse_se_u},
            {row.bias_u, row.mcse_bias_u}, {row.rmse_u, row.mcse_rmse_u}};
        std::string text;
        for (const auto& [value, mcse] : values) {
            text.clear();
            append_with_error(value, mcse, text);
            append_cell(text, true, out);
        }
        out.append("</tr>\n");
    }
    out.append("</tbody>\n</table>\n");
}

void append_decisions(std::span<const DecisionRow> decisions, std::string& out) {
    out.append(
        "<h2>Decisions at cut scores</h2>\n<p class=\"note\">A new-form raw score passes when "
        "its rounded scale score is at least the cut. Criterion pass: the share of the new "
        "form's population that passes by the criterion equating. Misclassified: the mean over "
        "the replications of the share whose decision the equating error changes, &plusmn; its "
        "Monte Carlo standard error. All digits are in decisions.csv.</p>\n");
    out.append(
        "<table>\n<thead>\n<tr><th>Data</th><th>Sizes (new/old)</th><th>Method</th>"
        "<th>Cut</th><th>Criterion pass</th><th>Misclassified</th></tr>\n</thead>\n<tbody>\n");
    for (const DecisionRow& row : decisions) {
        out.append("<tr>");
        append_key_cells(row.key, out);
        std::string text;
        append_number(row.cut, text);
        append_cell(text, true, out);
        text.clear();
        append_short(row.criterion_pass, text);
        append_cell(text, true, out);
        text.clear();
        append_with_error(row.misclassified, row.mcse_misclassified, text);
        append_cell(text, true, out);
        out.append("</tr>\n");
    }
    out.append("</tbody>\n</table>\n");
}

}  // namespace

std::string index_page(std::string_view title, std::span<const SummaryRow> summary,
                       std::span<const DecisionRow> decisions) {
    std::string out;
    out.append(
        "<!DOCTYPE html>\n<html lang=\"en\">\n<head>\n<meta charset=\"utf-8\">\n"
        "<meta name=\"viewport\" content=\"width=device-width, initial-scale=1\">\n"
        "<title>");
    append_escaped(title, out);
    out.append("</title>\n");
    out.append(kStyle);
    out.append("</head>\n<body>\n<h1>");
    append_escaped(title, out);
    out.append(
        "</h1>\n<p class=\"note\">Conditional standard error, bias and root mean squared "
        "error of equating against the new form's raw score, one panel per data set and "
        "sample sizes, one line per method. The tables scores.csv, summary.csv and "
        "histograms.csv beside this page hold the numbers.</p>\n");
    append_figures(out);
    append_summary(summary, out);
    if (!decisions.empty()) {
        append_decisions(decisions, out);
    }
    out.append("</body>\n</html>\n");
    return out;
}

}  // namespace eqsim::study
