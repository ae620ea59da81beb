#include "io/anchor_table.h"

#include <sys/stat.h>

#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <span>
#include <string_view>

#include "engine/numeric/storage.h"
#include "io/platform/platform.h"
#include "io/text_lines.h"
#include "io/tokens.h"

namespace eqsim {

namespace {

// One more token than a line of either file holds, so that an extra value is seen.
constexpr int kTokenLimit = 4;
constexpr int kByteLimit = static_cast<int>(kMaxAnchorLine) + 1;

std::string located(const std::string& name, long long line, const std::string& what) {
    return name + ":" + std::to_string(line) + ": " + what;
}

// The lines of a table or conversion file, each split into at most kTokenLimit tokens with its
// comment dropped; lines without tokens are skipped. Holds one line at a time.
class LineReader {
  public:
    enum class Next { line, end, failed };

    LineReader(const std::string& name, const char* what) : name_(name), what_(what) {}

    // Opens the file; false with the diagnostic set when it cannot be opened or is a folder.
    bool open(std::string& diagnostic) {
        file_.reset(platform::open_for_reading(name_));
        if (!file_) {
            diagnostic = name_ + ": cannot open the " + what_ + ": " + std::strerror(errno);
            return false;
        }
        struct stat info;
        if (fstat(fileno(file_.get()), &info) == 0 && S_ISDIR(info.st_mode)) {
            diagnostic = name_ + ": cannot open the " + what_ + ": " + std::strerror(EISDIR);
            return false;
        }
        skip_byte_order_mark(file_.get());
        return true;
    }

    // The next line with tokens: tokens() and number() describe it.
    Next next(std::string& diagnostic) {
        for (;;) {
            const LineStatus status =
                read_text_line(file_.get(), kMaxAnchorLine + 1, text_, kMaxAnchorLine + 1);
            if (status == LineStatus::end_of_file) {
                return Next::end;
            }
            if (status == LineStatus::read_error) {
                diagnostic = name_ + ": cannot read the " + what_ + ": " + std::strerror(errno);
                return Next::failed;
            }
            ++number_;
            // A stream without end (a device, a pipe fed forever) must not hold the reader.
            bytes_ += static_cast<long long>(text_.length) + (text_.has_newline ? 1 : 0);
            if (bytes_ > kMaxAnchorFileBytes) {
                diagnostic = name_ + ": the " + what_ + " is larger than " +
                             std::to_string(kMaxAnchorFileBytes) +
                             " bytes; is this the right file?";
                return Next::failed;
            }
            if (text_.has_nul) {
                diagnostic = located(name_, number_, "line holds a NUL byte; not a text file");
                return Next::failed;
            }
            if (text_.length > kMaxAnchorLine) {
                diagnostic = located(name_, number_,
                                     "line is longer than " + std::to_string(kMaxAnchorLine) +
                                         " characters; is this the right file?");
                return Next::failed;
            }
            count_ = split_tokens(kTokenLimit, kByteLimit, text_.text, tokens_);
            for (int i = 0; i < count_; ++i) {
                if (tokens_[i].starts_with('#')) {
                    count_ = i;
                }
            }
            if (count_ > 0) {
                return Next::line;
            }
        }
    }

    std::span<const std::string_view> tokens() const {
        return {tokens_, static_cast<std::size_t>(count_)};
    }
    long long number() const { return number_; }
    // The line as it was read, for telling what separates its values.
    std::string_view text() const { return text_.text; }

  private:
    const std::string& name_;
    const char* what_;
    FileHandle file_;
    TextLine text_;
    std::string_view tokens_[kTokenLimit];
    int count_ = 0;
    long long number_ = 0;
    long long bytes_ = 0;
};

// What a line with the wrong number of values holds, and the form it should take.
std::string value_count_problem(const LineReader& lines, int expected, const char* form) {
    const std::size_t count = lines.tokens().size();
    std::string problem =
        count > static_cast<std::size_t>(expected)
            ? "line holds more than " + std::to_string(expected) + " values"
            : "line holds " + std::to_string(count) + (count == 1 ? " value" : " values");
    problem += std::string("; each line is `") + form + "`";
    if (lines.text().find(',') != std::string_view::npos ||
        lines.text().find(';') != std::string_view::npos) {
        problem += " (values are separated by blanks or tabs, not by commas or semicolons)";
    }
    return problem;
}

enum class WholeRead { ok, malformed, out_of_range };

// The whole token as a whole number, an optional sign first.
WholeRead read_whole(std::string_view token, long long& value) {
    if (token.starts_with('+')) {
        token.remove_prefix(1);
        if (token.starts_with('-')) {
            return WholeRead::malformed;
        }
    }
    const char* end = token.data() + token.size();
    const auto [stop, error] = std::from_chars(token.data(), end, value);
    if (stop != end || token.empty()) {
        return WholeRead::malformed;
    }
    return error == std::errc() ? WholeRead::ok : WholeRead::out_of_range;
}

// The whole token as a finite real number, an optional sign first. False when it is no number
// (malformed) or not a finite one (finite false).
bool read_finite(std::string_view token, double& value, bool& malformed) {
    malformed = false;
    if (token.starts_with('+')) {
        token.remove_prefix(1);
        if (token.starts_with('-')) {
            malformed = true;
            return false;
        }
    }
    const char* end = token.data() + token.size();
    const auto [stop, error] = std::from_chars(token.data(), end, value);
    if (stop != end || token.empty()) {
        malformed = true;
        return false;
    }
    return error == std::errc() && std::isfinite(value);
}

// A score read from a token, within 0..max; otherwise an empty text and what is wrong.
std::string score_problem(std::string_view token, const char* what, int max, long long& value) {
    const WholeRead read = read_whole(token, value);
    if (read == WholeRead::malformed) {
        return std::string(what) + " " + quoted(token) +
               " is not a whole number; write its decimal digits alone";
    }
    if (read == WholeRead::out_of_range || value < 0 || value > max) {
        return std::string(what) + " " + quoted(token) + " is outside 0 to " + std::to_string(max) +
               "; correct the line, or the table's maximum " + what;
    }
    return {};
}

std::string count_problem(std::string_view token, double& value) {
    bool malformed = false;
    if (!read_finite(token, value, malformed)) {
        return "count " + quoted(token) +
               (malformed ? " is not a number; write it in decimal, as in 12 or 0.25"
                          : " is not a finite number");
    }
    if (value < 0.0) {
        return "count " + quoted(token) + " is negative; a count is 0 or more";
    }
    return {};
}

class TableReader {
  public:
    TableReader(const std::string& name, const AnchorTableShape& shape, std::vector<double>& counts)
        : name_(name), shape_(shape), counts_(counts) {}

    bool read(std::string& diagnostic) {
        const std::size_t columns = static_cast<std::size_t>(shape_.anchor_max) + 1;
        const std::size_t rows = static_cast<std::size_t>(shape_.total_max) + 1;
        if (shape_.total_max < 0 || shape_.anchor_max < 0 || shape_.total_max > kMaxAnchorScore ||
            shape_.anchor_max > kMaxAnchorScore || rows * columns > kMaxAnchorCells) {
            diagnostic = name_ + ": a table of total scores 0 to " +
                         std::to_string(shape_.total_max) + " and anchor scores 0 to " +
                         std::to_string(shape_.anchor_max) + " is outside what can be read (" +
                         std::to_string(kMaxAnchorCells) + " cells, scores up to " +
                         std::to_string(kMaxAnchorScore) + ")";
            return false;
        }
        LineReader lines(name_, "anchor table");
        if (!lines.open(diagnostic)) {
            return false;
        }
        if (!with_storage([&] {
                counts_.assign(rows * columns, 0.0);
                line_of_cell_.assign(rows * columns, 0);
                return true;
            })) {
            diagnostic = name_ + ": no storage for the anchor table";
            return false;
        }
        LineReader::Next next;
        while ((next = lines.next(diagnostic)) == LineReader::Next::line) {
            if (std::string problem = read_cell(lines, columns); !problem.empty()) {
                diagnostic = located(name_, lines.number(), problem);
                return false;
            }
        }
        if (next == LineReader::Next::failed) {
            return false;
        }
        double total = 0.0;
        for (const double count : counts_) {
            total += count;
        }
        if (total == 0.0) {
            diagnostic = name_ + ": the anchor table holds no examinees (no count above 0); " +
                         "list each non-empty cell as `total anchor count`";
            return false;
        }
        if (!std::isfinite(total)) {
            diagnostic = name_ + ": the counts add up to more than a number can hold; give " +
                         "counts of ordinary size (only their shares matter)";
            return false;
        }
        return true;
    }

  private:
    std::string read_cell(const LineReader& lines, std::size_t columns) {
        const std::span<const std::string_view> tokens = lines.tokens();
        if (tokens.size() != 3) {
            return value_count_problem(lines, 3, "total anchor count");
        }
        long long total = 0;
        long long anchor = 0;
        double count = 0.0;
        if (std::string problem = score_problem(tokens[0], "total score", shape_.total_max, total);
            !problem.empty()) {
            return problem;
        }
        if (std::string problem =
                score_problem(tokens[1], "anchor score", shape_.anchor_max, anchor);
            !problem.empty()) {
            return problem;
        }
        if (shape_.anchor == AnchorKind::internal && anchor > total) {
            return "anchor score " + std::to_string(anchor) + " is above the total score " +
                   std::to_string(total) +
                   ", yet an internal anchor's items count toward the total; correct the line, "
                   "or declare the anchor external";
        }
        if (std::string problem = count_problem(tokens[2], count); !problem.empty()) {
            return problem;
        }
        const std::size_t cell =
            static_cast<std::size_t>(total) * columns + static_cast<std::size_t>(anchor);
        if (line_of_cell_[cell] != 0) {
            return "total score " + std::to_string(total) + " and anchor score " +
                   std::to_string(anchor) + " are listed already on line " +
                   std::to_string(line_of_cell_[cell]) + "; list each cell once";
        }
        // A file within kMaxAnchorFileBytes has fewer lines than an int32_t holds.
        line_of_cell_[cell] = static_cast<std::int32_t>(lines.number());
        counts_[cell] = count + 0.0;  // -0 reads as 0
        return {};
    }

    const std::string& name_;
    const AnchorTableShape& shape_;
    std::vector<double>& counts_;
    std::vector<std::int32_t> line_of_cell_;  // 0: not listed yet
};

class ConversionReader {
  public:
    ConversionReader(const std::string& name, int old_max, std::vector<double>& scale)
        : name_(name), old_max_(old_max), scale_(scale) {}

    bool read(std::string& diagnostic) {
        if (old_max_ < 0 || old_max_ > kMaxAnchorScore) {
            diagnostic = name_ + ": a conversion of raw scores 0 to " + std::to_string(old_max_) +
                         " is outside what can be read (scores up to " +
                         std::to_string(kMaxAnchorScore) + ")";
            return false;
        }
        LineReader lines(name_, "conversion");
        if (!lines.open(diagnostic)) {
            return false;
        }
        if (!with_storage([&] {
                scale_.reserve(static_cast<std::size_t>(old_max_) + 1);
                return true;
            })) {
            diagnostic = name_ + ": no storage for the conversion";
            return false;
        }
        LineReader::Next next;
        while ((next = lines.next(diagnostic)) == LineReader::Next::line) {
            if (std::string problem = read_row(lines); !problem.empty()) {
                diagnostic = located(name_, lines.number(), problem);
                return false;
            }
        }
        if (next == LineReader::Next::failed) {
            return false;
        }
        const auto due = static_cast<long long>(scale_.size());
        if (due <= old_max_) {
            const std::string wanted = "the old form's raw scores 0 to " +
                                       std::to_string(old_max_) + " each need a line `raw scale`";
            diagnostic = due == 0 ? name_ + ": the conversion holds no raw scores; " + wanted
                                  : name_ + ": the conversion stops at raw score " +
                                        std::to_string(due - 1) + "; " + wanted;
            return false;
        }
        return true;
    }

  private:
    std::string read_row(const LineReader& lines) {
        const std::span<const std::string_view> tokens = lines.tokens();
        if (tokens.size() != 2) {
            return value_count_problem(lines, 2, "raw scale");
        }
        long long raw = 0;
        const WholeRead read = read_whole(tokens[0], raw);
        if (read == WholeRead::malformed) {
            return "raw score " + quoted(tokens[0]) +
                   " is not a whole number; write its decimal digits alone";
        }
        const auto due = static_cast<long long>(scale_.size());
        if (read == WholeRead::out_of_range || raw < 0 || raw > old_max_) {
            return "raw score " + quoted(tokens[0]) +
                   " is outside the old form's raw scores 0 to " + std::to_string(old_max_) +
                   "; remove the line, or correct the old form's maximum";
        }
        if (raw == due - 1) {
            return "raw score " + std::to_string(raw) + " is listed already on line " +
                   std::to_string(previous_line_) + "; list each raw score once";
        }
        if (raw < due) {
            return "raw score " + std::to_string(raw) + " comes after raw score " +
                   std::to_string(due - 1) + "; list the raw scores in increasing order";
        }
        if (raw > due) {
            return "raw score " + std::to_string(raw) + " comes where raw score " +
                   std::to_string(due) + " is due, which is missing; give every raw score " +
                   "from 0 up a line, in order";
        }
        double value = 0.0;
        bool malformed = false;
        if (!read_finite(tokens[1], value, malformed)) {
            return "scale score " + quoted(tokens[1]) + " is not a finite number";
        }
        scale_.push_back(value);
        previous_line_ = lines.number();
        return {};
    }

    const std::string& name_;
    int old_max_;
    std::vector<double>& scale_;
    long long previous_line_ = 0;
};

}  // namespace

bool read_anchor_table(const std::string& name, const AnchorTableShape& shape,
                       std::vector<double>& counts, std::string& diagnostic) {
    counts.clear();
    TableReader reader(name, shape, counts);
    if (!reader.read(diagnostic)) {
        counts.clear();
        return false;
    }
    return true;
}

bool read_scale_conversion(const std::string& name, int old_max, std::vector<double>& scale,
                           std::string& diagnostic) {
    scale.clear();
    ConversionReader reader(name, old_max, scale);
    if (!reader.read(diagnostic)) {
        scale.clear();
        return false;
    }
    return true;
}

}  // namespace eqsim
