// The study's three tables (scores.csv, summary.csv, histograms.csv): their rows, the CSV text
// they are written as, and the readers that turn that text back into the same rows, bit for bit,
// so that partial tables from shards merge into exactly the bytes of an unsharded run.
//
// Numbers are written in the shortest text that reads back as the same double (std::to_chars,
// which no locale affects); integers as integers; fields holding a comma, a quote or a line break
// are quoted, with quotes doubled. Every row ends with a single newline.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "engine/simulation/methods.h"

namespace eqsim::study {

// The three quantities each index is computed for.
enum class Quantity {
    raw,      // the equated raw score
    scale,    // the unrounded scale score
    rounded,  // the rounded scale score
};

std::string_view quantity_word(Quantity quantity);

// What the rows of one condition, method and parameter share. The parameter is present exactly
// for the methods that take one (Postsmoothing, Presmoothing).
struct RowKey {
    std::string data;  // the data path as the study file gives it
    double n_new = 0.0;
    double n_old = 0.0;
    Method method = Method::unsmoothed;
    std::optional<double> parameter;

    bool operator==(const RowKey&) const = default;
};

// Same data set and sizes.
inline bool same_condition(const RowKey& a, const RowKey& b) {
    return a.data == b.data && a.n_new == b.n_new && a.n_old == b.n_old;
}

// Same method and parameter.
inline bool same_method(const RowKey& a, const RowKey& b) {
    return a.method == b.method && a.parameter == b.parameter;
}

struct ScoreRow {
    RowKey key;
    std::int64_t seed = 0;
    std::int64_t replications = 0;
    std::int32_t score = 0;  // the new form's raw score
    double weight = 0.0;     // the new form's population relative frequency at score
    Quantity quantity = Quantity::raw;
    double criterion = 0.0;
    double mean = 0.0;
    double se = 0.0;
    double bias = 0.0;
    double rmse = 0.0;
};

struct SummaryRow {
    RowKey key;
    std::int64_t seed = 0;
    std::int64_t replications = 0;
    Quantity quantity = Quantity::raw;
    double se_w = 0.0;
    double bias_w = 0.0;
    double rmse_w = 0.0;
    double se_u = 0.0;
    double bias_u = 0.0;
    double rmse_u = 0.0;
};

struct HistogramRow {
    RowKey key;
    std::int32_t score = 0;
    double scale_score = 0.0;  // the rounded scale score counted
    std::int64_t count = 0;
};

// The header lines, newline included.
std::string_view scores_header();
std::string_view summary_header();
std::string_view histograms_header();

// Append one row's line, newline included.
void append_score_row(const ScoreRow& row, std::string& out);
void append_summary_row(const SummaryRow& row, std::string& out);
void append_histogram_row(const HistogramRow& row, std::string& out);

// Read a whole table (header line first, then any number of rows) written by the functions above.
// Rows are appended to rows. On malformed text they return false with diagnostic
// "FILE:LINE: what is wrong", naming file_name and the line on which the bad row starts; rows
// read before it stay appended.
bool parse_scores(std::string_view text, std::string_view file_name, std::vector<ScoreRow>& rows,
                  std::string& diagnostic);
bool parse_summary(std::string_view text, std::string_view file_name, std::vector<SummaryRow>& rows,
                   std::string& diagnostic);
bool parse_histograms(std::string_view text, std::string_view file_name,
                      std::vector<HistogramRow>& rows, std::string& diagnostic);

// Sets row.bias = mean - criterion and row.rmse = sqrt(se^2 + bias^2) from the row's mean,
// criterion and se.
void set_bias_and_rmse(ScoreRow& row);

// The summary of the score rows of one key and quantity (key, seed, replications and quantity are
// taken from the first row; rows must not be empty). Weighted by each row's weight:
// se_w = sqrt(sum w * se^2), and so for bias and rmse; unweighted with w = 1/K for K rows. Sums
// are taken in raw-score order.
SummaryRow summarise_scores(std::span<const ScoreRow> rows);

// The summaries of all score rows: one per key and quantity, in the order in which each key and
// quantity first appears in rows.
std::vector<SummaryRow> summarise_all_scores(std::span<const ScoreRow> rows);

// Shortest text that reads back as value ("0.1", "500", "1e+300", "-0", "5e-324").
void append_number(double value, std::string& out);

// The label of a method and its parameter in plots and pages: "Postsmoothing 0.1", "None".
std::string method_label(const RowKey& key);

// The label of a condition: "DATA, n = N_NEW/N_OLD" (one size when both are equal).
std::string condition_label(const RowKey& key);

}  // namespace eqsim::study
