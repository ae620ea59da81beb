// The anchor-test design's data files: a group's table of examinees by total score and anchor
// score, and the old form's raw-to-scale conversion. Owns their formats and their diagnostics.
//
// A table file has one line per non-empty cell, `total anchor count`; a conversion file one line
// `raw scale` for each of the old form's raw scores, from 0 up, in order. In both, values are
// separated by blanks or tabs, a token that begins with `#` ends the line (so `#` starts a comment
// line), blank lines are skipped, and a UTF-8 byte-order mark and CR LF line ends are accepted.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "engine/equating/anchor_equating.h"

namespace eqsim {

// Longest line, before its newline, and largest file either reader accepts.
inline constexpr std::size_t kMaxAnchorLine = 4096;
inline constexpr long long kMaxAnchorFileBytes = 64LL * 1024 * 1024;
// Highest total or anchor score (as many score points as a data file may have rows), and most
// cells a table may have.
inline constexpr int kMaxAnchorScore = 32766;
inline constexpr std::size_t kMaxAnchorCells = std::size_t{1} << 22;

// What a table must fit: total scores 0..total_max, anchor scores 0..anchor_max, and whether the
// anchor is internal (its score cannot exceed the total).
struct AnchorTableShape {
    int total_max = 0;
    int anchor_max = 0;
    AnchorKind anchor = AnchorKind::internal;
};

// Reads the table file name into counts: (total_max + 1) (anchor_max + 1) values, row-major by
// total score, 0 for a cell not listed. A cell listed twice, a score outside the shape, an
// internal anchor's score above its total, a count that is negative or not a finite number, and a
// table whose counts add up to 0 are errors. False on any failure, with one diagnostic
// "NAME:LINE: ..." (or "NAME: ..." for the file as a whole), and counts empty.
bool read_anchor_table(const std::string& name, const AnchorTableShape& shape,
                       std::vector<double>& counts, std::string& diagnostic);

// Reads the conversion file name into scale: the scale scores of raw scores 0..old_max. A raw
// score missing, out of order, repeated or above old_max, and a scale score that is not a finite
// number, are errors. False on any failure, with one diagnostic as above, and scale empty.
bool read_scale_conversion(const std::string& name, int old_max, std::vector<double>& scale,
                           std::string& diagnostic);

}  // namespace eqsim
