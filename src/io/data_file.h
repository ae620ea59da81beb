// The data file: one row per raw score holding the new form's population frequency, the old
// form's population frequency and the old form's scale score, in columns chosen by the settings.
// Reading yields the three arrays and each form's number of score points.
#pragma once

#include <cstdint>
#include <cstdio>
#include <span>
#include <string>
#include <vector>

#include "engine/engine.h"

namespace eqsim {

// Most columns a row may hold that a setting can choose (more are ignored).
inline constexpr int kMaxColumns = 25;
// Longest row, before its newline, and most rows a data file may have.
inline constexpr std::size_t kMaxDataRow = 298;
inline constexpr std::int32_t kMaxDataRows = 32767;

// What a data file holds: per row, the new form's frequency, the old form's frequency and the old
// form's scale score (0 where an entry is missing), and each form's number of score points: the
// rows whose entries for that form are numbers, which come first.
struct DataColumns {
    std::int32_t rows = 0;
    std::vector<double> new_frequencies;
    std::vector<double> old_frequencies;
    std::vector<double> conversion;
    int new_points = 0;  // Kx
    int old_points = 0;  // Ky

    // The populations of the score points, checked as Population::random_groups checks them.
    Status population(Population& population) const;
};

// Reads the rows of the data file name, taking the new form's frequencies, the old form's
// frequencies and the old form's scale scores from the columns (counted from 1). False on any
// failure, with diagnostic saying where and why; opened, when given, tells whether the file could
// be opened at all (false also for a folder or an empty name), so that a caller can say where the
// name came from.
bool read_data_file(const std::string& name, const std::int16_t columns[3], DataColumns& data,
                    std::string& diagnostic, bool* opened = nullptr);

// Reads column (counted from 1) of the first count rows of the data file name into values: the
// criterion's equated raw score of each new-form raw score. Every one of those rows must hold the
// column and a finite number there (signs allowed). False, with diagnostic, otherwise.
bool read_criterion_column(const std::string& name, int column, int count,
                           std::vector<double>& values, std::string& diagnostic);

// Counts the rows from the current position up to the end of the rows (an empty line, a line
// beginning with terminator, or the end of the file) and restores the position. 0 on failure.
// Counting stops once the count exceeds kMaxDataRows.
std::int32_t count_data_rows(std::FILE* file, const std::string& terminator);

}  // namespace eqsim
