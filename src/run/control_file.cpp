#include "run/control_file.h"

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <memory>
#include <string_view>
#include <utility>

#include "run/text_lines.h"
#include "sampling/uniform_random.h"

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
            const MethodInfo* method = method_of_word(values[0]);
            if (method == nullptr) {
                return "method " + quoted(values[0]) +
                       " names no method (Post, Pre, None, Linear or Mean)";
            }
            params.method = method->method;
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
    std::string_view tokens[kControlTokenLimit];
    const int count = split_tokens(kControlTokenLimit, kControlByteLimit, line, tokens);
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

bool read_control_file(const std::string& path, ControlParameters& params, std::string& data_name,
                       std::string& output_name, std::string& diagnostic) {
    FileHandle file(std::fopen(path.c_str(), "r"));
    if (!file) {
        diagnostic = path + ": cannot open control file: " + std::strerror(errno);
        return false;
    }
    skip_byte_order_mark(file.get());
    TextLine line;
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
            return true;  // an empty line ends the settings
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
        const std::string problem = read_setting_line(text, params, data_name, output_name);
        if (!problem.empty()) {
            diagnostic = located(path, line_number, problem);
            return false;
        }
    }
}

std::int32_t settle_seed(std::int32_t seed) {
    if (seed == 0) {
        // Reduced so that it stays a usable seed after 2038 too.
        const long long seconds = static_cast<long long>(std::time(nullptr));
        long long reduced = seconds % kLargestSeed;
        if (reduced < 0) {
            reduced += kLargestSeed;
        }
        return reduced == 0 ? 1 : static_cast<std::int32_t>(reduced);
    }
    return seed < 0 ? -seed : seed;
}

std::string column_problem(std::int32_t column) {
    if (column < 1 || column > kMaxColumns) {
        return "column number " + std::to_string(column) + " is outside 1 to " +
               std::to_string(kMaxColumns);
    }
    return {};
}

std::string seed_problem(std::int32_t seed) {
    // The generator needs a seed in 1..2147483646 once a negative seed is negated.
    if (seed < -kLargestSeed || seed > kLargestSeed) {
        return "seed " + std::to_string(seed) + " is outside -" + std::to_string(kLargestSeed) +
               " to " + std::to_string(kLargestSeed);
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
