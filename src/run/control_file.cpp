#include "run/control_file.h"

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string_view>
#include <utility>

#include "run/text_lines.h"

namespace eqsim {

namespace {

constexpr int control_token_limit = 4;
constexpr int control_byte_limit = 149;

char upper_ascii(char c) {
    return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c;
}

char upper_at(std::string_view word, std::size_t i) {
    return i < word.size() ? upper_ascii(word[i]) : '\0';
}

struct FileCloser {
    void operator()(std::FILE* f) const { std::fclose(f); }
};
using FileHandle = std::unique_ptr<std::FILE, FileCloser>;

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

// Applies one tokenised setting line. Returns an empty text on success, else what is wrong.
std::string apply_setting(Setting setting, std::span<const std::string_view> values,
                          ControlParameters& params, std::string& data_name,
                          std::string& output_name) {
    bool out_of_range = false;
    switch (setting) {
        case Setting::replications:
            if (!read_int32_prefix(values[0], params.replications, out_of_range)) {
                return out_of_range
                           ? "replications " + quoted(values[0]) + " does not fit a 32-bit integer"
                           : "replications " + quoted(values[0]) + " is not an integer";
            }
            return {};
        case Setting::seed:
            if (!read_int32_prefix(values[0], params.seed, out_of_range)) {
                return out_of_range ? "seed " + quoted(values[0]) + " does not fit a 32-bit integer"
                                    : "seed " + quoted(values[0]) + " is not an integer";
            }
            return {};
        case Setting::smoothing:
            if (!read_double_prefix(values[0], params.smoothing)) {
                return "smoothing parameter " + quoted(values[0]) + " is not a number";
            }
            return {};
        case Setting::columns:
            for (int i = 0; i < 3; ++i) {
                if (!read_int16_prefix(values[i], params.columns[i], out_of_range)) {
                    return "column number " + quoted(values[i]) +
                           (out_of_range ? " does not fit a 16-bit integer" : " is not an integer");
                }
            }
            return {};
        case Setting::scale: {
            double* fields[3] = {&params.scale.min, &params.scale.max, &params.scale.increment};
            static const char* names[3] = {"minimum", "maximum", "increment"};
            for (int i = 0; i < 3; ++i) {
                if (!read_double_prefix(values[i], *fields[i])) {
                    return std::string("scale ") + names[i] + " " + quoted(values[i]) +
                           " is not a number";
                }
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
            const EquatingMethod method = parse_method_code(values[0]);
            if (method == 0) {
                return "method " + quoted(values[0]) +
                       " names no method (Post, Pre, None, Linear or Mean)";
            }
            params.method = method;
            return {};
        }
        case Setting::none:
            break;
    }
    return "unknown setting";
}

// Reads one non-comment line's setting. Returns an empty text on success, else what is wrong.
std::string read_setting_line(std::string_view line, ControlParameters& params,
                              std::string& data_name, std::string& output_name) {
    std::string_view tokens[control_token_limit];
    const int count = split_tokens(control_token_limit, control_byte_limit, line, tokens);
    if (count == 0) {
        return "line holds no keyword (an empty line must be truly empty to end the settings)";
    }
    const std::string_view keyword = tokens[0];
    const Setting setting = setting_of_keyword(keyword);
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
                         data_name, output_name);
}

std::string located(const std::string& path, long line_number, const std::string& what) {
    return path + ":" + std::to_string(line_number) + ": " + what;
}

}  // namespace

EquatingMethod parse_method_code(std::string_view word) {
    switch (upper_at(word, 0)) {
        case 'L':
            return 4;
        case 'M':
            return 5;
        case 'N':
            return 3;
        case 'P':
            switch (upper_at(word, 1)) {
                case 'R':
                    return 2;
                case 'O':
                    return 1;
                default:
                    return 0;
            }
        default:
            return 0;
    }
}

std::int16_t read_control_file(const std::string& path, ControlParameters& params,
                               std::string& data_name, std::string& output_name,
                               std::string& diagnostic) {
    FileHandle file(std::fopen(path.c_str(), "r"));
    if (!file) {
        diagnostic = path + ": cannot open control file: " + std::strerror(errno);
        return 1;
    }
    skip_byte_order_mark(file.get());
    TextLine line;
    for (long line_number = 1;; ++line_number) {
        // A setting line longer than the limit is an error wherever it ends, so no more of it is
        // read; a comment line is skipped whole.
        LineStatus status =
            read_text_line(file.get(), max_control_line + 1, line, max_control_line);
        if (status == LineStatus::line && line.cut && line.text[0] == '#') {
            TextLine rest;
            status = read_text_line(file.get(), 0, rest);
        }
        if (status == LineStatus::read_error) {
            diagnostic = path + ": cannot read control file: " + std::strerror(errno);
            return 1;
        }
        if (status == LineStatus::end_of_file) {
            return 0;
        }
        const std::string_view text = line.text;
        if (line.has_newline && (line.length == 0 || (line.length == 1 && text[0] == '\r'))) {
            return 0;  // an empty line ends the settings
        }
        if (text[0] == '#') {
            continue;
        }
        if (line.has_nul) {
            diagnostic = located(path, line_number, "line holds a NUL byte; not a text file");
            return 1;
        }
        if (line.length > max_control_line) {
            diagnostic = located(path, line_number,
                                 "line is longer than 148 characters (the longest allowed)");
            return 1;
        }
        const std::string problem = read_setting_line(text, params, data_name, output_name);
        if (!problem.empty()) {
            diagnostic = located(path, line_number, problem);
            return 1;
        }
    }
}

double scale_point_count(const ScaleSpec& scale) {
    return std::trunc((scale.max - scale.min) / scale.increment + 0.5) + 1.0;
}

std::string scale_problem(const ScaleSpec& scale) {
    if (!std::isfinite(scale.min) || !std::isfinite(scale.max) || !std::isfinite(scale.increment)) {
        return "scale minimum, maximum and increment must be finite numbers";
    }
    if (!(scale.increment > 0.0)) {
        return "scale increment must be above 0";
    }
    if (scale.max < scale.min) {
        return "scale maximum is below its minimum";
    }
    if (!(scale_point_count(scale) <= 32767.0)) {
        return "scale has more than 32767 points";
    }
    constexpr double limit = 2147483647.0;
    if (!(std::fabs(scale.min) / scale.increment < limit) ||
        !(std::fabs(scale.max) / scale.increment < limit)) {
        return "scale minimum and maximum must lie within 2147483647 increments of 0";
    }
    return {};
}

std::string column_problem(std::int32_t column) {
    if (column < 1 || column > 25) {
        return "column number " + std::to_string(column) + " is outside 1 to 25";
    }
    return {};
}

std::string seed_problem(std::int32_t seed) {
    // The generator needs a seed in 1..2147483646 once a negative seed is negated.
    if (seed == INT32_MIN || seed == 2147483647 || seed == -2147483647) {
        return "seed " + std::to_string(seed) + " is outside -2147483646 to 2147483646";
    }
    return {};
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
    if (const std::string problem = scale_problem(params.scale); !problem.empty()) {
        diagnostic = problem;
        return false;
    }
    for (const std::int16_t column : params.columns) {
        if (std::string problem = column_problem(column); !problem.empty()) {
            diagnostic = std::move(problem);
            return false;
        }
    }
    if (std::string problem = seed_problem(params.seed); !problem.empty()) {
        diagnostic = std::move(problem);
        return false;
    }
    return true;
}

}  // namespace eqsim
