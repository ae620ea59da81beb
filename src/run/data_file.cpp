#include "run/data_file.h"

#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string_view>

#include "numeric/storage.h"
#include "run/text_lines.h"

namespace eqsim {

namespace {

// Columns of a row beyond the last that a setting may name are not split off.
constexpr int kDataTokenLimit = kMaxColumns;
// The token text of a whole row, one terminator a token.
constexpr int kDataByteLimit = static_cast<int>(kMaxDataRow) + 1;

bool ends_rows(const TextLine& line, const std::string& terminator) {
    if (line.length == 0 || line.text[0] == '\r') {
        return true;
    }
    return !terminator.empty() && line.text.compare(0, terminator.size(), terminator) == 0;
}

// An entry counts as a number when it starts like one; a leading sign marks it missing.
bool is_numeric_entry(std::string_view entry) {
    const char c = entry.empty() ? '\0' : entry[0];
    return (c >= '0' && c <= '9') || c == '.';
}

// A form's column: the numbers must come first, then only missing entries.
struct FormColumn {
    int count = 0;
    bool missing_seen = false;
};

class RowReader {
  public:
    RowReader(const std::string& name, const std::int16_t columns[3], DataArrays& arrays)
        : name_(name), columns_(columns), arrays_(arrays) {}

    // Reads row i into the arrays. Returns false with the diagnostic set on failure.
    bool read_row(const TextLine& line, std::int32_t i, std::string& diagnostic) {
        const std::string where = name_ + ":" + std::to_string(i + 1) + ": ";
        if (line.has_nul) {
            diagnostic = where + "row holds a NUL byte; not a text file";
            return false;
        }
        if (line.length > kMaxDataRow) {
            diagnostic = where + "row is " + std::to_string(line.length) +
                         " characters long; at most " + std::to_string(kMaxDataRow) +
                         " are allowed";
            return false;
        }
        std::string_view tokens[kDataTokenLimit];
        const int count = split_tokens(kDataTokenLimit, kDataByteLimit, line.text, tokens);
        for (int c = 0; c < 3; ++c) {
            if (columns_[c] > count) {
                diagnostic = where + "row has " + std::to_string(count) + " columns; column " +
                             std::to_string(columns_[c]) + " is needed";
                return false;
            }
        }
        const std::string_view new_entry = tokens[columns_[0] - 1];
        const std::string_view old_entry = tokens[columns_[1] - 1];
        const std::string_view scale_entry = tokens[columns_[2] - 1];
        if (!read_form_entry(new_entry, new_form_, arrays_.new_frequencies()[i], "new-form", where,
                             diagnostic)) {
            return false;
        }
        double& old_value = arrays_.old_frequencies()[i];
        double& scale_value = arrays_.scale_conversion()[i];
        if (!read_form_entry(old_entry, old_form_, old_value, "old-form", where, diagnostic)) {
            return false;
        }
        if (!is_numeric_entry(old_entry)) {
            scale_value = 0.0;
            return true;
        }
        if (!read_finite(scale_entry, scale_value)) {
            diagnostic = where + "scale score " + quoted(scale_entry) + " is not a finite number";
            return false;
        }
        return true;
    }

    int new_count() const { return new_form_.count; }
    int old_count() const { return old_form_.count; }

  private:
    static bool read_finite(std::string_view entry, double& value) {
        return read_double_prefix(entry, value) && std::isfinite(value);
    }

    static bool read_form_entry(std::string_view entry, FormColumn& form, double& value,
                                const char* form_name, const std::string& where,
                                std::string& diagnostic) {
        if (!is_numeric_entry(entry)) {
            value = 0.0;
            form.missing_seen = true;
            return true;
        }
        if (!read_finite(entry, value)) {
            diagnostic =
                where + form_name + " frequency " + quoted(entry) + " is not a finite number";
            return false;
        }
        if (form.missing_seen) {
            diagnostic =
                where + form_name + " frequency follows a row where that form's entry is missing";
            return false;
        }
        ++form.count;
        return true;
    }

    const std::string& name_;
    const std::int16_t* columns_;
    DataArrays& arrays_;
    FormColumn new_form_;
    FormColumn old_form_;
};

}  // namespace

std::int32_t count_data_rows(std::FILE* file, const std::string& terminator) {
    const long position = std::ftell(file);
    if (position < 0) {
        return 0;
    }
    std::int32_t count = 0;
    TextLine line;
    while (count <= kMaxDataRows &&
           read_text_line(file, terminator.size() + 1, line) == LineStatus::line) {
        if (ends_rows(line, terminator)) {
            break;
        }
        ++count;
    }
    std::clearerr(file);
    if (std::fseek(file, position, SEEK_SET) != 0) {
        return 0;
    }
    return count;
}

bool read_data_file(const std::string& name, const std::int16_t columns[3], DataArrays& arrays,
                    std::string& diagnostic) {
    arrays = DataArrays{};
    FileHandle file(std::fopen(name.c_str(), "r"));
    if (!file) {
        diagnostic = (name.empty() ? std::string("no data file named (keyword I)")
                                   : name + ": cannot open data file: " + std::strerror(errno));
        return false;
    }
    skip_byte_order_mark(file.get());
    const std::int32_t n = count_data_rows(file.get(), "$");
    if (n == 0) {
        diagnostic = name + ": data file holds no rows (or cannot be read)";
        return false;
    }
    if (n > kMaxDataRows) {
        diagnostic = name + ": data file has more than " + std::to_string(kMaxDataRows) + " rows";
        return false;
    }
    if (!with_storage([&] {
            arrays.block.assign(3 * static_cast<std::size_t>(n), 0.0);
            return true;
        })) {
        diagnostic = name + ": no storage for the data arrays";
        return false;
    }
    arrays.rows = n;
    RowReader reader(name, columns, arrays);
    TextLine line;
    for (std::int32_t i = 0; i < n; ++i) {
        if (read_text_line(file.get(), kMaxDataRow + 1, line) != LineStatus::line) {
            diagnostic = name + ": data file changed or became unreadable while it was read";
            arrays = DataArrays{};
            return false;
        }
        if (!reader.read_row(line, i, diagnostic)) {
            arrays = DataArrays{};
            return false;
        }
    }
    arrays.new_points = reader.new_count();
    arrays.old_points = reader.old_count();
    return true;
}

bool read_criterion_column(const std::string& name, int column, int count,
                           std::vector<double>& values, std::string& diagnostic) {
    values.clear();
    FileHandle file(std::fopen(name.c_str(), "r"));
    if (!file) {
        diagnostic = name + ": cannot open data file: " + std::strerror(errno);
        return false;
    }
    skip_byte_order_mark(file.get());
    TextLine line;
    for (int i = 0; i < count; ++i) {
        const std::string where = name + ":" + std::to_string(i + 1) + ": ";
        if (read_text_line(file.get(), kMaxDataRow + 1, line) != LineStatus::line) {
            diagnostic = where + "data file changed or became unreadable while it was read";
            return false;
        }
        std::string_view tokens[kDataTokenLimit];
        const int found = split_tokens(kDataTokenLimit, kDataByteLimit, line.text, tokens);
        if (column > found) {
            diagnostic = where + "row has " + std::to_string(found) + " columns; the criterion's " +
                         "column " + std::to_string(column) + " is needed";
            return false;
        }
        const std::string_view entry = tokens[column - 1];
        double value = 0.0;
        char* end = nullptr;
        const std::string text(entry);
        value = std::strtod(text.c_str(), &end);
        if (end != text.c_str() + text.size() || text.empty() || !std::isfinite(value)) {
            diagnostic = where + "criterion " + quoted(entry) + " in column " +
                         std::to_string(column) +
                         " is not a finite number; the column must hold the criterion's equated " +
                         "raw score of every new-form raw score";
            return false;
        }
        values.push_back(value);
    }
    return true;
}

}  // namespace eqsim
