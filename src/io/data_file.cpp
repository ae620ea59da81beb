#include "io/data_file.h"

#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <span>
#include <string_view>

#include "engine/numeric/storage.h"
#include "io/platform/platform.h"
#include "io/text_lines.h"
#include "io/tokens.h"

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

bool is_letter(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}

// A form's column: the numbers must come first, then only missing entries. The first missing
// entry is kept, so that a number after it can be blamed on its cause.
struct FormColumn {
    int count = 0;
    bool missing_seen = false;
    std::int32_t missing_line = 0;
    std::string missing_entry;
};

// Why a number may not follow the form's first missing entry, pointing at that entry's line: a
// word on line 1 is a header line, a signed number is missing by its sign.
std::string number_after_missing(const std::string& name, const FormColumn& form,
                                 const char* form_name, std::int32_t line) {
    const std::string& entry = form.missing_entry;
    std::string text = name + ":" + std::to_string(form.missing_line) + ": " + form_name +
                       " entry " + quoted(entry);
    const std::string later = "line " + std::to_string(line) + " holds a number for that form";
    const bool signed_number = entry.size() > 1 && (entry[0] == '-' || entry[0] == '+') &&
                               ((entry[1] >= '0' && entry[1] <= '9') || entry[1] == '.');
    if (signed_number) {
        return text + " has a sign, and a signed entry counts as missing, yet " + later +
               " (write frequencies without a sign)";
    }
    if (form.missing_line == 1 && !entry.empty() && (is_letter(entry[0]) || entry[0] == '#')) {
        return text + " is not a number, so it counts as missing, yet " + later +
               ": the data file must not have a header line (its first row is raw score 0)";
    }
    return text + " counts as missing (it does not begin with a digit or a point), yet " + later +
           ": a form's numbers must all come before its missing entries";
}

// Which characters other than blanks and tabs seem to separate a row's columns.
const char* other_separator(std::string_view line) {
    for (const char c : line) {
        if (c == ',') {
            return "commas";
        }
        if (c == ';') {
            return "semicolons";
        }
        if (c == '|') {
            return "bars";
        }
    }
    return nullptr;
}

bool holds_a_word(std::span<const std::string_view> tokens) {
    for (const std::string_view token : tokens) {
        if (!token.empty() && is_letter(token[0])) {
            return true;
        }
    }
    return false;
}

class RowReader {
  public:
    RowReader(const std::string& name, const std::int16_t columns[3], DataColumns& data)
        : name_(name), columns_(columns), data_(data) {}

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
                diagnostic = where + "row has " + std::to_string(count) +
                             (count == 1 ? " column" : " columns") + "; column " +
                             std::to_string(columns_[c]) + " is needed";
                if (const char* separator = other_separator(line.text)) {
                    diagnostic += " (columns are separated by blanks or tabs, not by " +
                                  std::string(separator) + ")";
                } else if (i == 0 && holds_a_word({tokens, static_cast<std::size_t>(count)})) {
                    diagnostic +=
                        " (the data file must not have a header line; its first row is "
                        "raw score 0)";
                }
                return false;
            }
        }
        const std::string_view new_entry = tokens[columns_[0] - 1];
        const std::string_view old_entry = tokens[columns_[1] - 1];
        const std::string_view scale_entry = tokens[columns_[2] - 1];
        if (!read_form_entry(new_entry, new_form_, data_.new_frequencies[i], "new-form", i + 1,
                             diagnostic)) {
            return false;
        }
        double& old_value = data_.old_frequencies[i];
        double& scale_value = data_.conversion[i];
        if (!read_form_entry(old_entry, old_form_, old_value, "old-form", i + 1, diagnostic)) {
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

    bool read_form_entry(std::string_view entry, FormColumn& form, double& value,
                         const char* form_name, std::int32_t line, std::string& diagnostic) {
        if (!is_numeric_entry(entry)) {
            value = 0.0;
            if (!form.missing_seen) {
                form.missing_seen = true;
                form.missing_line = line;
                form.missing_entry = std::string(entry.substr(0, 40));
            }
            return true;
        }
        if (!read_finite(entry, value)) {
            diagnostic = name_ + ":" + std::to_string(line) + ": " + form_name + " frequency " +
                         quoted(entry) + " is not a finite number";
            return false;
        }
        if (form.missing_seen) {
            diagnostic = number_after_missing(name_, form, form_name, line);
            return false;
        }
        ++form.count;
        return true;
    }

    const std::string& name_;
    const std::int16_t* columns_;
    DataColumns& data_;
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

bool read_data_file(const std::string& name, const std::int16_t columns[3], DataColumns& data,
                    std::string& diagnostic, bool* opened) {
    data = DataColumns{};
    if (opened != nullptr) {
        *opened = false;
    }
    FileHandle file(platform::open_for_reading(name));
    if (!file) {
        diagnostic = (name.empty() ? std::string("no data file named (keyword I)")
                                   : name + ": cannot open data file: " + std::strerror(errno));
        return false;
    }
    if (platform::kind_of_stream(file.get()) == platform::PathKind::directory) {
        diagnostic = name + ": cannot open data file: " + std::strerror(EISDIR);
        return false;
    }
    if (opened != nullptr) {
        *opened = true;
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
            const auto rows = static_cast<std::size_t>(n);
            data.new_frequencies.assign(rows, 0.0);
            data.old_frequencies.assign(rows, 0.0);
            data.conversion.assign(rows, 0.0);
            return true;
        })) {
        diagnostic = name + ": no storage for the data arrays";
        return false;
    }
    data.rows = n;
    RowReader reader(name, columns, data);
    TextLine line;
    for (std::int32_t i = 0; i < n; ++i) {
        if (read_text_line(file.get(), kMaxDataRow + 1, line) != LineStatus::line) {
            diagnostic = name + ": data file changed or became unreadable while it was read";
            data = DataColumns{};
            return false;
        }
        if (!reader.read_row(line, i, diagnostic)) {
            data = DataColumns{};
            return false;
        }
    }
    data.new_points = reader.new_count();
    data.old_points = reader.old_count();
    return true;
}

Status DataColumns::population(Population& population) const {
    const auto kx = static_cast<std::size_t>(new_points);
    const auto ky = static_cast<std::size_t>(old_points);
    return Population::random_groups(std::span<const double>(new_frequencies).first(kx),
                                     std::span<const double>(old_frequencies).first(ky),
                                     std::span<const double>(conversion).first(ky), population);
}

bool read_criterion_column(const std::string& name, int column, int count,
                           std::vector<double>& values, std::string& diagnostic) {
    values.clear();
    FileHandle file(platform::open_for_reading(name));
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
