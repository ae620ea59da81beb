// The study file: what a study crosses (data sets, sample sizes, methods and their parameters),
// how long it runs, what its indices are measured against and where its tables go. This module
// reads and checks the file's text only; the data files it names are read by the runner.
//
// One setting a line, keywords as whole words in any case:
//
//   data PATH [columns NEW OLD SCALE] [scale MIN MAX INC]   (random groups; any number)
//   neat NEW-TABLE OLD-TABLE CONVERSION max X-MAX Y-MAX V-MAX [scale MIN MAX INC]
//        [anchor internal|external]                        (anchor test; any number)
//   sizes N | NEW/OLD ...                                  (any number of values and lines)
//   method WORD [PARAMETER]                                (one or more lines)
//   replications N | seed N | criterion None|Same|column K | output PATH   (each at most once)
//   cuts C1 C2 ...                                         (at most once: cut scores)
//
// A token that begins with '#' starts a comment to the end of its line; blank lines may stand
// anywhere. Numbers are strict: the whole token must be the number. Relative paths are taken
// from the study file's own folder. docs/study-file.md is the reference.
//
// Hostile input cannot make the reader hold much: the file is read up to kMaxStudyBytes, a line
// up to kMaxStudyLine characters, and the counts of data sets, sample-size pairs and methods are
// bounded below, so a study has at most 100 x 1000 conditions of 100 methods.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "engine/study/study.h"
#include "io/method_words.h"

namespace eqsim::study {

inline constexpr std::size_t kMaxStudyBytes = 1 << 20;  // the whole file
inline constexpr std::size_t kMaxStudyLine = 4096;      // characters before the line end
inline constexpr std::size_t kMaxStudyDataSets = 100;
inline constexpr std::size_t kMaxStudySizePairs = 1000;
inline constexpr std::size_t kMaxStudyMethods = 100;

inline constexpr std::int32_t kDefaultStudyReplications = 1000;

// A data set: a data file of random groups (a `data` line), or an anchor-test data set (a `neat`
// line) of two tables of total and anchor scores and the old form's conversion.
struct DataSetSpec {
    Design design = Design::random_groups;
    // The data file's path (the new table's for an anchor-test data set) as the study file writes
    // it: the tables' `data` column.
    std::string as_given;
    std::string path;  // as_given, taken from the study file's folder unless absolute
    std::int16_t columns[3] = {1, 2, 3};  // new-form, old-form and scale columns, 1..25
    ScaleSpec scale;                      // default 1 36 1
    int line = 0;
    // Anchor test only: the old group's table and the conversion (taken from the study file's
    // folder), the highest total scores of the two forms and the highest anchor score, and the
    // anchor's kind (internal unless given).
    std::string old_table;
    std::string conversion;
    int new_max = 0;
    int old_max = 0;
    int anchor_max = 0;
    AnchorKind anchor = AnchorKind::internal;
};

struct SamplePairSpec {
    std::int32_t new_size = 0;  // 1..2147483647
    std::int32_t old_size = 0;
    int line = 0;
};

struct MethodSpec {
    Method method = Method::unsmoothed;
    // Post: the smoothing value (0.25 unless given); Pre: the log-linear degree, a whole number
    // of at least 1; Synthetic: the weight of linear equating (0.5 unless given); 0 for the
    // methods without a parameter.
    double parameter = 0.0;
    bool has_parameter = false;  // the method takes a parameter (Post, Pre, Synthetic)
    int line = 0;
};

// `criterion None` (the default), `criterion Same`, or `criterion column K`: the data file's
// column K holds the criterion's equated raw scores.
struct CriterionSpec {
    CriterionKind kind = CriterionKind::unsmoothed;
    std::int16_t column = 0;  // 1..25 for CriterionKind::column, else 0
    int line = 0;             // 0 when the study file has no criterion line
};

struct StudySpec {
    std::string path;                   // the study file as named
    std::string digest;                 // study_digest() of the bytes that were read
    std::vector<DataSetSpec> data;      // at least one, in file order
    std::vector<SamplePairSpec> sizes;  // empty: each data set at its populations' rounded totals
    std::vector<MethodSpec> methods;    // at least one, in file order
    std::int32_t replications = kDefaultStudyReplications;  // at least 1
    std::int32_t seed = 0;  // 0: the clock; a negative seed runs as its absolute value
    CriterionSpec criterion;
    // Cut scores of pass and fail decisions: rounded scale scores on every data set's scale,
    // strictly increasing, at most kMaxCuts; empty without a cuts line.
    std::vector<double> cuts;
    int cuts_line = 0;
    std::string output_as_given;  // the output line's path, or the default's name
    // output_as_given taken from the study file's folder. Default: the study file's name without
    // its extension (the last '.' and what follows, unless the name starts with it), beside it;
    // a name without an extension gets ".out" added instead.
    std::string output;
};

// Reads and checks the study file at path. On failure returns false with diagnostic
// "PATH:LINE: what is wrong; what to do" (or "PATH: ..." when the file as a whole is at fault:
// it cannot be read, is too large, or lacks a data or method line); study is then unspecified.
bool read_study_file(const std::string& path, StudySpec& study, std::string& diagnostic);

// The same from the file's bytes already in memory; path names the file in diagnostics and
// anchors relative paths.
bool parse_study_text(std::string_view text, const std::string& path, StudySpec& study,
                      std::string& diagnostic);

// 16 lowercase hex digits of the 64-bit FNV-1a hash of the study file's bytes. It tells the
// shards of one study from those of another (or of an edited file); it identifies, it does not
// secure: anyone can make two files with the same digest.
std::string study_digest(std::string_view file_bytes);

}  // namespace eqsim::study
