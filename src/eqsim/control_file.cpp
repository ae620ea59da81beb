#include "eqsim/control_file.h"

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string_view>
#include <utility>
#include <vector>

#include "engine/sampling/uniform_random.h"
#include "io/located.h"
#include "io/method_words.h"
#include "io/platform/platform.h"
#include "io/settings.h"
#include "io/text_lines.h"
#include "io/tokens.h"

namespace eqsim {

namespace {

// A keyword and at most three values; the token text of a whole line, one terminator a token.
constexpr int kControlTokenLimit = 4;
constexpr int kControlByteLimit = static_cast<int>(kMaxControlLine) + 1;

char upper_ascii(char c) {
    return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c;
}

char upper_at(std::string_view word, std::size_t i) {
    return i < word.size() ? upper_ascii(word[i]) : '\0';
}

enum class Setting { none, replications, smoothing, columns, input, output, seed, method, scale };

Setting setting_of_keyword(std::string_view keyword) {
    switch (upper_at(keyword, 0)) {
        case 'R':
            return Setting::replications;
        case 'P':
            return Setting::smoothing;
        case 'C':
            return Setting::columns;
        case 'I':
            return Setting::input;
        case 'O':
            return Setting::output;
        case 'S':
            switch (upper_at(keyword, 1)) {
                case 'E':
                    return Setting::seed;
                case 'M':
                    return Setting::method;
                case 'C':
                    return Setting::scale;
                default:
                    return Setting::none;
            }
        default:
            return Setting::none;
    }
}

int tokens_needed(Setting setting) {
    return (setting == Setting::columns || setting == Setting::scale) ? 4 : 2;
}

const char* setting_name(Setting setting) {
    switch (setting) {
        case Setting::replications:
            return "replications (R)";
        case Setting::smoothing:
            return "smoothing parameter (P)";
        case Setting::columns:
            return "columns (C)";
        case Setting::input:
            return "input file (I)";
        case Setting::output:
            return "output file (O)";
        case Setting::seed:
            return "seed (SE)";
        case Setting::method:
            return "method (SM)";
        case Setting::scale:
            return "scale (SC)";
        case Setting::none:
            break;
    }
    return "";
}

// Warns about a number read from the start of a token whose remaining characters are ignored:
// "1e3", "1,000" and "20k" are read as 1, 1 and 20, and "0,3" as 0.
void note_ignored_text(const char* what, std::string_view token, std::size_t used,
                       const std::string& value, bool integer, std::vector<std::string>& warnings) {
    if (used >= token.size()) {
        return;
    }
    std::string text = std::string(what) + " " + quoted(token) + " is read as " + value +
                       ": the text after " + quoted(token.substr(0, used)) + " is ignored";
    const char next = token[used];
    if (integer) {
        text += " (a whole number is written in digits only)";
    } else if (next == ',') {
        text += " (the decimal mark is a point, and numbers take no thousands separators)";
    }
    warnings.push_back(std::move(text));
}

std::string integer_problem(const char* what, std::string_view token, bool out_of_range,
                            const char* range) {
    return std::string(what) + " " + quoted(token) +
           (out_of_range ? std::string(" does not fit a ") + range + " integer"
                         : std::string(" is not an integer"));
}

// Applies one tokenised setting line. Returns an empty text on success, else what is wrong;
// warnings receives what was read in a way the writer may not have meant.
std::string apply_setting(Setting setting, std::span<const std::string_view> values,
                          ControlParameters& params, std::string& data_name,
                          std::string& output_name, std::vector<std::string>& warnings) {
    bool out_of_range = false;
    std::size_t used = 0;
    switch (setting) {
        case Setting::replications:
            if (!read_int32_prefix(values[0], params.replications, out_of_range, &used)) {
                return integer_problem("replications", values[0], out_of_range, "32-bit");
            }
            note_ignored_text("replications (R)", values[0], used,
                              std::to_string(params.replications), true, warnings);
            return {};
        case Setting::seed:
            if (!read_int32_prefix(values[0], params.seed, out_of_range, &used)) {
                return integer_problem("seed", values[0], out_of_range, "32-bit");
            }
            note_ignored_text("seed (SE)", values[0], used, std::to_string(params.seed), true,
                              warnings);
            return {};
        case Setting::smoothing:
            if (!read_double_prefix(values[0], params.smoothing, &used)) {
                return "smoothing parameter " + quoted(values[0]) + " is not a number";
            }
            note_ignored_text("smoothing parameter (P)", values[0], used,
                              number_text(params.smoothing), false, warnings);
            return {};
        case Setting::columns:
            for (int i = 0; i < 3; ++i) {
                if (!read_int16_prefix(values[i], params.columns[i], out_of_range, &used)) {
                    return integer_problem("column number", values[i], out_of_range, "16-bit");
                }
                note_ignored_text("column number (C)", values[i], used,
                                  std::to_string(params.columns[i]), true, warnings);
            }
            return {};
        case Setting::scale: {
            double* fields[3] = {&params.scale.min, &params.scale.max, &params.scale.increment};
            static const char* names[3] = {"minimum", "maximum", "increment"};
            for (int i = 0; i < 3; ++i) {
                if (!read_double_prefix(values[i], *fields[i], &used)) {
                    return std::string("scale ") + names[i] + " " + quoted(values[i]) +
                           " is not a number";
                }
                note_ignored_text((std::string("scale ") + names[i] + " (SC)").c_str(), values[i],
                                  used, number_text(*fields[i]), false, warnings);
            }
            return {};
        }
        case Setting::input:
            data_name = std::string(values[0]);
            return {};
        case Setting::output:
            output_name = std::string(values[0]);
            return {};
        case Setting::method: {
            const MethodWords* method = method_of_word(values[0]);
            if (method == nullptr) {
                std::string unused;
                if (const MethodWords* study = method_of_study_word(values[0], unused);
                    study != nullptr && design_of(study->method) == Design::anchor_test) {
                    return "method " + quoted(values[0]) + " is " + std::string(study->word) +
                           ", a method of the anchor-test design, which eqsim-study runs; eqsim "
                           "runs the random-groups design (" +
                           hint_list() + ")";
                }
                return "method " + quoted(values[0]) + " names no method (" + hint_list() + ")";
            }
            params.method = method->method;
            if (!word_begins_method_name(values[0], *method)) {
                warnings.push_back("method " + quoted(values[0]) + " is read as " +
                                   std::string(method->word) +
                                   ": a method is chosen by its first letters (" + letters_list() +
                                   "); the methods are " + full_word_list(" and "));
            }
            return {};
        }
        case Setting::none:
            break;
    }
    return "unknown setting";
}

// Reads one non-comment line's setting. Returns an empty text on success, else what is wrong;
// setting receives the line's setting where its keyword names one.
std::string read_setting_line(std::string_view line, ControlParameters& params,
                              std::string& data_name, std::string& output_name, Setting& setting,
                              std::vector<std::string>& warnings) {
    std::string_view tokens[kControlTokenLimit];
    const int count = split_tokens(kControlTokenLimit, kControlByteLimit, line, tokens);
    setting = Setting::none;
    if (count == 0) {
        return "line holds no keyword (an empty line must be truly empty to end the settings)";
    }
    const std::string_view keyword = tokens[0];
    setting = setting_of_keyword(keyword);
    if (setting == Setting::none) {
        if (upper_at(keyword, 0) == 'S') {
            return "keyword " + quoted(keyword) + " needs a second letter (SE, SM or SC)";
        }
        return "keyword " + quoted(keyword) + " names no setting";
    }
    const int needed = tokens_needed(setting);
    if (count != needed) {
        const bool three = needed == 4;
        return std::string(setting_name(setting)) + " takes " +
               (three ? "three values" : "one value") + ", found " + std::to_string(count - 1) +
               (!three && count > 2 ? " or more" : "");
    }
    return apply_setting(setting, std::span<const std::string_view>(tokens + 1, count - 1), params,
                         data_name, output_name, warnings);
}

bool is_blank_text(std::string_view text) {
    for (const char c : text) {
        if (c != ' ' && c != '\t' && c != '\r' && c != '\v' && c != '\f') {
            return false;
        }
    }
    return true;
}

// After the empty line that ends the settings: the number of the first line that would have been
// a setting (text that is not a comment), or 0 when only comments and blank lines follow. Only a
// regular file is looked at, so that a terminal or a pipe is never waited on beyond the empty line.
long first_unread_setting_line(std::FILE* file, long empty_line) {
    if (platform::kind_of_stream(file) != platform::PathKind::regular) {
        return 0;
    }
    TextLine line;
    for (long line_number = empty_line + 1;; ++line_number) {
        if (read_text_line(file, kMaxControlLine + 1, line) != LineStatus::line) {
            return 0;
        }
        const bool text_beyond_kept = line.length > line.text.size();
        if ((!is_blank_text(line.text) || text_beyond_kept) && line.text[0] != '#') {
            return line_number;
        }
    }
}

}  // namespace

bool read_control_file(const std::string& path, ControlParameters& params, std::string& data_name,
                       std::string& output_name, std::string& diagnostic, ControlFileNotes& notes) {
    FileHandle file(platform::open_for_reading(path));
    if (!file) {
        diagnostic = path + ": cannot open control file: " + std::strerror(errno);
        return false;
    }
    skip_byte_order_mark(file.get());
    TextLine line;
    std::vector<std::string> warnings;
    for (long line_number = 1;; ++line_number) {
        // A setting line longer than the limit is an error wherever it ends, so no more of it is
        // read; a comment line is skipped whole.
        LineStatus status = read_text_line(file.get(), kMaxControlLine + 1, line, kMaxControlLine);
        if (status == LineStatus::line && line.cut && line.text[0] == '#') {
            TextLine rest;
            status = read_text_line(file.get(), 0, rest);
        }
        if (status == LineStatus::read_error) {
            diagnostic = path + ": cannot read control file: " + std::strerror(errno);
            return false;
        }
        if (status == LineStatus::end_of_file) {
            return true;
        }
        const std::string_view text = line.text;
        if (line.has_newline && (line.length == 0 || (line.length == 1 && text[0] == '\r'))) {
            // An empty line ends the settings. Settings after it are a likely slip (an empty line
            // left in the middle), so the first of them is pointed out.
            if (const long unread = first_unread_setting_line(file.get(), line_number)) {
                notes.warnings.push_back(located(
                    path, unread,
                    "warning: this line is not read: the settings ended at the empty line " +
                        std::to_string(line_number) +
                        ", and nothing after it is read (delete that line to use the settings "
                        "after it)"));
            }
            return true;
        }
        if (text[0] == '#') {
            continue;
        }
        if (line.has_nul) {
            diagnostic = located(path, line_number, "line holds a NUL byte; not a text file");
            return false;
        }
        if (line.length > kMaxControlLine) {
            diagnostic = located(path, line_number,
                                 "line is longer than " + std::to_string(kMaxControlLine) +
                                     " characters (the longest allowed)");
            return false;
        }
        Setting setting = Setting::none;
        warnings.clear();
        const std::string problem =
            read_setting_line(text, params, data_name, output_name, setting, warnings);
        for (const std::string& warning : warnings) {
            notes.warnings.push_back(located(path, line_number, "warning: " + warning));
        }
        if (!problem.empty()) {
            diagnostic = located(path, line_number, problem);
            return false;
        }
        if (setting == Setting::input) {
            notes.lines.input = line_number;
        } else if (setting == Setting::output) {
            notes.lines.output = line_number;
        } else if (setting == Setting::scale) {
            notes.lines.scale = line_number;
        }
    }
}

bool read_control_file(const std::string& path, ControlParameters& params, std::string& data_name,
                       std::string& output_name, std::string& diagnostic) {
    ControlFileNotes notes;
    return read_control_file(path, params, data_name, output_name, diagnostic, notes);
}

bool validate_control_parameters(const ControlParameters& params, std::string& diagnostic) {
    if (params.replications < 1) {
        diagnostic = "replications must be at least 1, not " + std::to_string(params.replications);
        return false;
    }
    if (!std::isfinite(params.smoothing)) {
        diagnostic = "smoothing parameter must be a finite number";
        return false;
    }
    if (!scale_is_usable(params.scale, diagnostic)) {
        return false;
    }
    for (const std::int16_t column : params.columns) {
        if (std::string problem = column_problem(column); !problem.empty()) {
            diagnostic = std::move(problem);
            return false;
        }
    }
    // The generator needs a seed in 1..2147483646 once a negative seed is negated.
    if (std::string problem = seed_problem(params.seed); !problem.empty()) {
        diagnostic = std::move(problem);
        return false;
    }
    return true;
}

}  // namespace eqsim
