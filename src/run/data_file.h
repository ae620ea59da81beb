// The data file: one row per raw score holding the new form's population frequency, the old
// form's population frequency and the old form's scale score, in columns chosen by the settings.
// Reading yields the three arrays and each form's number of score points.
#pragma once

#include <cstdint>
#include <cstdio>
#include <span>
#include <string>
#include <vector>

namespace eqsim {

// The three arrays of a data file lie in one block of 3n doubles, in this order.
struct DataArrays {
    std::vector<double> block;
    std::int32_t rows = 0;

    std::span<double> new_frequencies() { return {block.data(), static_cast<std::size_t>(rows)}; }
    std::span<double> old_frequencies() {
        return {block.data() + rows, static_cast<std::size_t>(rows)};
    }
    std::span<double> scale_conversion() {
        return {block.data() + 2 * static_cast<std::size_t>(rows), static_cast<std::size_t>(rows)};
    }
};

inline constexpr std::size_t max_data_row = 298;
inline constexpr std::int32_t max_data_rows = 32767;

// Returns the number of data rows, or 0 on any failure (diagnostic then says where and why).
// kx and ky receive the numbers of rows whose new-form and old-form entries are numbers.
std::int32_t read_data_file(const std::string& name, const std::int16_t columns[3],
                            std::int16_t& kx, std::int16_t& ky, DataArrays& arrays,
                            std::string& diagnostic);

// Counts the rows from the current position up to the end of the rows (an empty line, a line
// beginning with terminator, or the end of the file) and restores the position. 0 on failure.
// Counting stops once the count exceeds max_data_rows.
std::int32_t count_data_rows(std::FILE* file, const std::string& terminator);

}  // namespace eqsim
