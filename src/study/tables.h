// The study's tables (scores.csv, summary.csv, histograms.csv, decisions.csv) as text: the CSV text
// their rows (engine/study/study.h) are written as, and the readers that turn that text back into
// the same rows, bit for bit, so that partial tables from shards merge into exactly the bytes of an
// unsharded run.
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

#include "engine/study/study.h"
#include "io/method_words.h"

namespace eqsim::study {

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
std::string_view decisions_header();

// Append one row's line, newline included.
void append_score_row(const ScoreRow& row, std::string& out);
void append_summary_row(const SummaryRow& row, std::string& out);
void append_histogram_row(const HistogramRow& row, std::string& out);
void append_decision_row(const DecisionRow& row, std::string& out);

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
bool parse_decisions(std::string_view text, std::string_view file_name,
                     std::vector<DecisionRow>& rows, std::string& diagnostic);

// The label of a method and its parameter in plots and pages: "Postsmoothing 0.1", "None".
std::string method_label(const RowKey& key);

// The label of a condition: "DATA, n = N_NEW/N_OLD" (one size when both are equal).
std::string condition_label(const RowKey& key);

}  // namespace eqsim::study
