#include "study/study_file.h"

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <memory>
#include <span>
#include <utility>

#include "io/anchor_table.h"
#include "io/located.h"
#include "io/method_words.h"
#include "io/platform/platform.h"
#include "io/settings.h"
#include "io/text_lines.h"
#include "io/tokens.h"

namespace eqsim::study {

namespace {

using Tokens = std::vector<std::string_view>;

char lower_ascii(char c) {
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

// True when token is word (given in lower case) in any case.
bool is_word(std::string_view token, std::string_view word) {
    if (token.size() != word.size()) {
        return false;
    }
    for (std::size_t i = 0; i < token.size(); ++i) {
        if (lower_ascii(token[i]) != word[i]) {
            return false;
        }
    }
    return true;
}

// Splits a line on blanks and tabs; a token that begins with '#' ends the line.
Tokens tokens_of(std::string_view line) {
    Tokens tokens;
    std::size_t pos = 0;
    for (;;) {
        while (pos < line.size() && (line[pos] == ' ' || line[pos] == '\t')) {
            ++pos;
        }
        if (pos == line.size() || line[pos] == '#') {
            return tokens;
        }
        const std::size_t start = pos;
        while (pos < line.size() && line[pos] != ' ' && line[pos] != '\t') {
            ++pos;
        }
        tokens.push_back(line.substr(start, pos - start));
    }
}

// The study file's folder as a prefix of its name, separator included ("" for none).
std::string folder_of(const std::string& path) {
    return path.substr(0, path.size() - platform::base_of(path).size());
}

std::string resolved(const std::string& study_path, std::string_view given) {
    if (platform::is_rooted(std::string(given))) {
        return std::string(given);
    }
    return folder_of(study_path) + std::string(given);
}

// The default output folder's name: the study file's name without its extension, or with
// ".out" added when it has none (the folder may not take the file's own name).
std::string default_output_name(const std::string& study_path) {
    const std::string name = study_path.substr(folder_of(study_path).size());
    const std::size_t dot = name.rfind('.');
    if (dot == std::string::npos || dot == 0) {
        return name + ".out";
    }
    return name.substr(0, dot);
}

// A column number, 1 to 25, as the whole token.
std::string read_column(const std::string& what, std::string_view token, std::int16_t& column) {
    std::int32_t value = 0;
    const NumberRead read = read_whole_integer(token, value);
    if (read == NumberRead::malformed) {
        return integer_problem(what, token, read);
    }
    std::string problem = column_problem(value);
    if (read == NumberRead::out_of_range) {
        problem = std::string("column number ").append(token).append(" is outside 1 to 25");
    }
    if (!problem.empty()) {
        return problem + "; columns count from 1 at the data file's left";
    }
    column = static_cast<std::int16_t>(value);
    return {};
}

const char* column_role(int index) {
    static const char* roles[3] = {"new-form", "old-form", "scale"};
    return roles[index];
}

// Reads the study line by line into study; each read_* returns an empty text or what is wrong.
class StudyReader {
  public:
    explicit StudyReader(StudySpec& study) : study_(study) {}

    std::string read_line(const Tokens& tokens, int line);
    std::string finish_problem(int& line);

  private:
    std::string read_data(std::span<const std::string_view> values, int line);
    std::string read_neat(std::span<const std::string_view> values, int line);
    std::string read_data_columns(std::span<const std::string_view> values, DataSetSpec& data);
    std::string read_data_scale(std::span<const std::string_view> values, DataSetSpec& data);
    std::string read_sizes(std::span<const std::string_view> values, int line);
    std::string read_size_pair(std::string_view token, int line);
    std::string read_method(std::span<const std::string_view> values, int line);
    std::string read_replications(std::span<const std::string_view> values);
    std::string read_seed(std::span<const std::string_view> values);
    std::string read_criterion(std::span<const std::string_view> values, int line);
    std::string read_output(std::span<const std::string_view> values);
    std::string read_cuts(std::span<const std::string_view> values);
    std::string once_problem(std::string_view keyword, int& seen_line, int line);

    StudySpec& study_;
    int replications_line_ = 0;
    int seed_line_ = 0;
    int output_line_ = 0;
};

std::string StudyReader::read_line(const Tokens& tokens, int line) {
    const std::string_view keyword = tokens[0];
    const std::span<const std::string_view> values(tokens.data() + 1, tokens.size() - 1);
    if (is_word(keyword, "data")) {
        return read_data(values, line);
    }
    if (is_word(keyword, "neat")) {
        return read_neat(values, line);
    }
    if (is_word(keyword, "sizes")) {
        return read_sizes(values, line);
    }
    if (is_word(keyword, "method")) {
        return read_method(values, line);
    }
    if (is_word(keyword, "replications")) {
        std::string problem = once_problem("replications", replications_line_, line);
        return problem.empty() ? read_replications(values) : problem;
    }
    if (is_word(keyword, "seed")) {
        std::string problem = once_problem("seed", seed_line_, line);
        return problem.empty() ? read_seed(values) : problem;
    }
    if (is_word(keyword, "criterion")) {
        int seen = study_.criterion.line;
        std::string problem = once_problem("criterion", seen, line);
        return problem.empty() ? read_criterion(values, line) : problem;
    }
    if (is_word(keyword, "output")) {
        std::string problem = once_problem("output", output_line_, line);
        return problem.empty() ? read_output(values) : problem;
    }
    if (is_word(keyword, "cuts")) {
        std::string problem = once_problem("cuts", study_.cuts_line, line);
        return problem.empty() ? read_cuts(values) : problem;
    }
    return "keyword " + quoted(keyword) +
           " names no setting; use data, neat, sizes, method, replications, seed, criterion, "
           "cuts or output";
}

std::string StudyReader::once_problem(std::string_view keyword, int& seen_line, int line) {
    if (seen_line != 0) {
        return std::string(keyword) + " is set already on line " + std::to_string(seen_line) +
               "; give it once";
    }
    seen_line = line;
    return {};
}

bool is_data_option(std::string_view token) {
    return is_word(token, "columns") || is_word(token, "scale");
}

std::string StudyReader::read_data(std::span<const std::string_view> values, int line) {
    if (values.empty() || is_data_option(values[0])) {
        return "data needs the data file's path first, as in `data scores.dat`";
    }
    if (study_.data.size() == kMaxStudyDataSets) {
        return "more than " + std::to_string(kMaxStudyDataSets) +
               " data sets; split the study into several files";
    }
    DataSetSpec data;
    data.as_given = std::string(values[0]);
    data.line = line;
    bool columns_given = false;
    bool scale_given = false;
    std::size_t i = 1;
    while (i < values.size()) {
        const std::string_view option = values[i];
        if (!is_data_option(option)) {
            return "unexpected " + quoted(option) +
                   " after the data path; only `columns NEW OLD SCALE` and `scale MIN MAX INC` "
                   "may follow it (a path cannot hold blanks)";
        }
        bool& given = is_word(option, "columns") ? columns_given : scale_given;
        if (given) {
            return std::string(is_word(option, "columns") ? "columns" : "scale") +
                   " is given twice on the data line; give it once";
        }
        given = true;
        std::size_t count = 0;
        while (i + 1 + count < values.size() && !is_data_option(values[i + 1 + count])) {
            ++count;
        }
        if (count != 3) {
            return is_word(option, "columns")
                       ? "columns takes three column numbers (new form, old form, scale), found " +
                             std::to_string(count)
                       : "scale takes three numbers (minimum, maximum, increment), found " +
                             std::to_string(count);
        }
        const auto three = values.subspan(i + 1, 3);
        std::string problem = is_word(option, "columns") ? read_data_columns(three, data)
                                                         : read_data_scale(three, data);
        if (!problem.empty()) {
            return problem;
        }
        i += 4;
    }
    for (const DataSetSpec& earlier : study_.data) {
        if (earlier.as_given == data.as_given &&
            std::memcmp(earlier.columns, data.columns, sizeof data.columns) == 0 &&
            earlier.scale.min == data.scale.min && earlier.scale.max == data.scale.max &&
            earlier.scale.increment == data.scale.increment) {
            return "this data set repeats line " + std::to_string(earlier.line) +
                   "; give each data set once";
        }
    }
    data.path = resolved(study_.path, data.as_given);
    study_.data.push_back(std::move(data));
    return {};
}

// An anchor-test data set: three paths, `max X-MAX Y-MAX V-MAX`, and the options.
std::string StudyReader::read_neat(std::span<const std::string_view> values, int line) {
    constexpr const char* form =
        "; write `neat NEW-TABLE OLD-TABLE CONVERSION max X-MAX Y-MAX V-MAX [scale MIN MAX INC] "
        "[anchor internal|external]`";
    if (values.size() < 7 || !is_word(values[3], "max")) {
        return std::string("neat needs three paths and the highest scores") + form;
    }
    if (study_.data.size() == kMaxStudyDataSets) {
        return "more than " + std::to_string(kMaxStudyDataSets) +
               " data sets; split the study into several files";
    }
    DataSetSpec data;
    data.design = Design::anchor_test;
    data.as_given = std::string(values[0]);
    data.line = line;
    int* maxima[3] = {&data.new_max, &data.old_max, &data.anchor_max};
    static const char* names[3] = {"new form's highest total score",
                                   "old form's highest total score", "highest anchor score"};
    for (int k = 0; k < 3; ++k) {
        std::int32_t value = 0;
        const NumberRead read = read_whole_integer(values[4 + k], value);
        if (read != NumberRead::ok) {
            return integer_problem(names[k], values[4 + k], read);
        }
        if (value < (k == 2 ? 1 : kMinimumScorePoints - 1) || value > kMaxAnchorScore) {
            return std::string(names[k]) + " " + quoted(values[4 + k]) + " is outside " +
                   std::to_string(k == 2 ? 1 : kMinimumScorePoints - 1) + " to " +
                   std::to_string(kMaxAnchorScore);
        }
        *maxima[k] = value;
    }
    bool scale_given = false;
    bool anchor_given = false;
    std::size_t i = 7;
    while (i < values.size()) {
        const std::string_view option = values[i];
        if (is_word(option, "scale") && !scale_given) {
            if (values.size() - i - 1 < 3) {
                return "scale takes three numbers (minimum, maximum, increment), found " +
                       std::to_string(values.size() - i - 1);
            }
            if (std::string problem = read_data_scale(values.subspan(i + 1, 3), data);
                !problem.empty()) {
                return problem;
            }
            scale_given = true;
            i += 4;
        } else if (is_word(option, "anchor") && !anchor_given && i + 1 < values.size() &&
                   (is_word(values[i + 1], "internal") || is_word(values[i + 1], "external"))) {
            data.anchor =
                is_word(values[i + 1], "external") ? AnchorKind::external : AnchorKind::internal;
            anchor_given = true;
            i += 2;
        } else {
            return "unexpected " + quoted(option) +
                   " on the neat line; after the highest scores only `scale MIN MAX INC` and "
                   "`anchor internal` or `anchor external` may follow, each once";
        }
    }
    if (data.anchor == AnchorKind::internal &&
        (data.anchor_max > data.new_max || data.anchor_max > data.old_max)) {
        return "the highest anchor score " + std::to_string(data.anchor_max) +
               " is above a form's highest total score, which an internal anchor (counted in the "
               "total) cannot be; is the anchor external?";
    }
    data.path = resolved(study_.path, data.as_given);
    data.old_table = resolved(study_.path, values[1]);
    data.conversion = resolved(study_.path, values[2]);
    study_.data.push_back(std::move(data));
    return {};
}

std::string StudyReader::read_data_columns(std::span<const std::string_view> values,
                                           DataSetSpec& data) {
    for (int k = 0; k < 3; ++k) {
        std::string problem =
            read_column(std::string(column_role(k)) + " column", values[k], data.columns[k]);
        if (!problem.empty()) {
            return problem;
        }
    }
    return {};
}

std::string StudyReader::read_data_scale(std::span<const std::string_view> values,
                                         DataSetSpec& data) {
    double* fields[3] = {&data.scale.min, &data.scale.max, &data.scale.increment};
    static const char* names[3] = {"scale minimum", "scale maximum", "scale increment"};
    for (int k = 0; k < 3; ++k) {
        const NumberRead read = read_whole_double(values[k], *fields[k]);
        if (read != NumberRead::ok) {
            return number_problem(names[k], values[k], read);
        }
    }
    if (std::string problem; !scale_is_usable(data.scale, problem)) {
        return problem + "; correct the data line's `scale MIN MAX INC`";
    }
    return {};
}

std::string StudyReader::read_sizes(std::span<const std::string_view> values, int line) {
    if (values.empty()) {
        return "sizes needs one or more sample sizes, each N (both forms) or NEW/OLD";
    }
    for (const std::string_view token : values) {
        if (std::string problem = read_size_pair(token, line); !problem.empty()) {
            return problem;
        }
    }
    return {};
}

std::string StudyReader::read_size_pair(std::string_view token, int line) {
    const std::size_t slash = token.find('/');
    const std::string_view parts[2] = {token.substr(0, slash), slash == std::string_view::npos
                                                                   ? token.substr(0, slash)
                                                                   : token.substr(slash + 1)};
    std::int32_t sizes[2] = {0, 0};
    for (int k = 0; k < 2; ++k) {
        const NumberRead read = read_whole_integer(parts[k], sizes[k]);
        if (read != NumberRead::ok || sizes[k] < 1) {
            return "sample size " + quoted(token) +
                   " is not a positive whole number or a pair NEW/OLD of them; write, say, 500 "
                   "or 500/3000";
        }
    }
    for (const SamplePairSpec& earlier : study_.sizes) {
        if (earlier.new_size == sizes[0] && earlier.old_size == sizes[1]) {
            return "sample sizes " + quoted(token) + " repeat " + std::to_string(earlier.new_size) +
                   "/" + std::to_string(earlier.old_size) +
                   (earlier.line == line ? " on this line"
                                         : " from line " + std::to_string(earlier.line)) +
                   "; give each pair of sizes once";
        }
    }
    if (study_.sizes.size() == kMaxStudySizePairs) {
        return "more than " + std::to_string(kMaxStudySizePairs) +
               " pairs of sample sizes; split the study into several files";
    }
    study_.sizes.push_back({sizes[0], sizes[1], line});
    return {};
}

std::string StudyReader::read_method(std::span<const std::string_view> values, int line) {
    MethodSpec method;
    method.line = line;
    MethodChoice choice;
    if (std::string problem = read_method_words(values, choice, method.has_parameter);
        !problem.empty()) {
        return problem;
    }
    method.method = choice.method;
    method.parameter = choice.parameter;
    for (const MethodSpec& earlier : study_.methods) {
        if (earlier.method == method.method && earlier.parameter == method.parameter) {
            return "this method and parameter repeat line " + std::to_string(earlier.line) +
                   "; give each once";
        }
    }
    if (study_.methods.size() == kMaxStudyMethods) {
        return "more than " + std::to_string(kMaxStudyMethods) +
               " methods; split the study into several files";
    }
    study_.methods.push_back(method);
    return {};
}

std::string StudyReader::read_replications(std::span<const std::string_view> values) {
    if (values.size() != 1) {
        return "replications takes one value, found " + std::to_string(values.size());
    }
    const NumberRead read = read_whole_integer(values[0], study_.replications);
    if (read != NumberRead::ok) {
        return integer_problem("replications", values[0], read);
    }
    if (study_.replications < 1) {
        return "replications must be at least 1, not " + std::to_string(study_.replications);
    }
    return {};
}

std::string StudyReader::read_seed(std::span<const std::string_view> values) {
    if (values.size() != 1) {
        return "seed takes one value, found " + std::to_string(values.size());
    }
    const NumberRead read = read_whole_integer(values[0], study_.seed);
    if (read != NumberRead::ok) {
        return integer_problem("seed", values[0], read);
    }
    if (std::string problem = seed_problem(study_.seed); !problem.empty()) {
        return problem + "; 0 takes the seed from the clock";
    }
    return {};
}

std::string StudyReader::read_criterion(std::span<const std::string_view> values, int line) {
    CriterionSpec& criterion = study_.criterion;
    criterion.line = line;
    if (values.size() == 1 && is_word(values[0], "none")) {
        criterion.kind = CriterionKind::unsmoothed;
        return {};
    }
    if (values.size() == 1 && is_word(values[0], "same")) {
        criterion.kind = CriterionKind::same;
        return {};
    }
    if (values.size() == 2 && is_word(values[0], "column")) {
        criterion.kind = CriterionKind::column;
        return read_column("criterion column", values[1], criterion.column);
    }
    std::string found;
    for (const std::string_view value : values) {
        if (!found.empty()) {
            found.push_back(' ');
        }
        found.append(value);
    }
    return "criterion takes None, Same or `column K`, found " + quoted(found);
}

std::string StudyReader::read_output(std::span<const std::string_view> values) {
    if (values.size() != 1) {
        return "output takes one folder path, found " + std::to_string(values.size()) +
               " values (a path cannot hold blanks)";
    }
    study_.output_as_given = std::string(values[0]);
    study_.output = resolved(study_.path, study_.output_as_given);
    if (study_.output == study_.path) {
        return "output names the study file itself; name a folder for the tables";
    }
    return {};
}

std::string StudyReader::read_cuts(std::span<const std::string_view> values) {
    if (values.empty()) {
        return "cuts needs one or more cut scores (rounded scale scores), as in `cuts 20 26`";
    }
    if (values.size() > static_cast<std::size_t>(kMaxCuts)) {
        return "cuts takes at most " + std::to_string(kMaxCuts) + " cut scores, found " +
               std::to_string(values.size());
    }
    for (const std::string_view token : values) {
        double cut = 0.0;
        const NumberRead read = read_whole_double(token, cut);
        if (read != NumberRead::ok) {
            return number_problem("cut score", token, read);
        }
        if (!std::isfinite(cut)) {
            return "cut score " + quoted(token) + " is not a finite number";
        }
        if (!study_.cuts.empty() && !(cut > study_.cuts.back())) {
            return "cut score " + quoted(token) + " does not follow " +
                   number_text(study_.cuts.back()) +
                   "; give the cut scores once each, in increasing order";
        }
        study_.cuts.push_back(cut);
    }
    return {};
}

std::string StudyReader::finish_problem(int& line) {
    line = 0;
    if (study_.data.empty()) {
        return "the study names no data set; add a line `data FILE` (or `neat ...`)";
    }
    if (study_.methods.empty()) {
        return "the study names no method; add a line such as `method None`";
    }
    // Each method runs on the data sets of its design: one that suits none would give nothing.
    for (const MethodSpec& method : study_.methods) {
        const Design wanted = design_of(method.method);
        if (std::none_of(study_.data.begin(), study_.data.end(),
                         [&](const DataSetSpec& data) { return data.design == wanted; })) {
            line = method.line;
            return "method " + std::string(words_of(method.method).word) +
                   (wanted == Design::anchor_test
                        ? " is for anchor-test data sets, and the study has none; add a `neat` "
                          "line or remove the method"
                        : " is for random-groups data sets, and the study has none; add a `data` "
                          "line or remove the method");
        }
    }
    for (const DataSetSpec& data : study_.data) {
        if (std::none_of(study_.methods.begin(), study_.methods.end(),
                         [&](const MethodSpec& m) { return design_of(m.method) == data.design; })) {
            line = data.line;
            return data.design == Design::anchor_test
                       ? std::string(
                             "no method of the study is for anchor-test data sets; add "
                             "one, such as `method Tucker`")
                       : std::string(
                             "no method of the study is for random-groups data sets; add "
                             "one, such as `method None`");
        }
    }
    if (study_.criterion.kind == CriterionKind::column) {
        for (const DataSetSpec& data : study_.data) {
            if (data.design == Design::anchor_test) {
                line = study_.criterion.line;
                return "criterion column is for data files of random groups; the anchor-test "
                       "data set on line " +
                       std::to_string(data.line) + " takes criterion None or Same";
            }
            for (int k = 0; k < 3; ++k) {
                if (data.columns[k] == study_.criterion.column) {
                    line = study_.criterion.line;
                    return "criterion column " + std::to_string(study_.criterion.column) +
                           " is the " + column_role(k) + " column of the data set on line " +
                           std::to_string(data.line) +
                           "; name the column that holds the criterion's equated scores";
                }
            }
        }
    }
    for (const DataSetSpec& data : study_.data) {
        for (const double cut : study_.cuts) {
            std::int32_t point = 0;
            if (!scale_point_of(cut, data.scale, point)) {
                line = study_.cuts_line;
                return "cut score " + number_text(cut) + " is not a point of the scale of the " +
                       "data set on line " + std::to_string(data.line) + " (" +
                       number_text(data.scale.min) + " to " + number_text(data.scale.max) + " by " +
                       number_text(data.scale.increment) + "); cut scores are rounded scale scores";
            }
        }
    }
    if (output_line_ == 0) {
        study_.output_as_given = default_output_name(study_.path);
        study_.output = folder_of(study_.path) + study_.output_as_given;
    }
    return {};
}

// What is wrong with a line's characters as text, or an empty text.
std::string text_problem(std::string_view line) {
    if (line.size() > kMaxStudyLine) {
        return "line is longer than " + std::to_string(kMaxStudyLine) +
               " characters; break it into several lines";
    }
    for (const char c : line) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte == 0) {
            return "line holds a NUL byte; the study file must be text";
        }
        if ((byte < 0x20 && c != '\t') || byte == 0x7f) {
            return "line holds the control character " + quoted(std::string_view(&c, 1)) +
                   "; the study file must be plain text";
        }
    }
    return {};
}

}  // namespace

bool parse_study_text(std::string_view text, const std::string& path, StudySpec& study,
                      std::string& diagnostic) {
    study = StudySpec();
    study.path = path;
    study.digest = study_digest(text);
    if (text.starts_with("\xEF\xBB\xBF")) {
        text.remove_prefix(3);
    }
    StudyReader reader(study);
    int line_number = 0;
    while (!text.empty()) {
        ++line_number;
        const std::size_t newline = text.find('\n');
        std::string_view line = text.substr(0, newline);
        text.remove_prefix(newline == std::string_view::npos ? text.size() : newline + 1);
        if (line.ends_with('\r')) {
            line.remove_suffix(1);
        }
        std::string problem = text_problem(line);
        if (problem.empty()) {
            const Tokens tokens = tokens_of(line);
            if (tokens.empty()) {
                continue;
            }
            problem = reader.read_line(tokens, line_number);
        }
        if (!problem.empty()) {
            diagnostic = located(path, line_number, problem);
            return false;
        }
    }
    int line = 0;
    if (std::string problem = reader.finish_problem(line); !problem.empty()) {
        diagnostic = located(path, line, problem);
        return false;
    }
    return true;
}

bool read_study_file(const std::string& path, StudySpec& study, std::string& diagnostic) {
    FileHandle file(platform::open_for_reading(path));
    if (!file) {
        diagnostic = path + ": cannot open the study file: " + std::strerror(errno);
        return false;
    }
    // Reading stops one chunk past the limit, so that a stream without end (a device, a pipe)
    // is read no further.
    std::string bytes;
    char chunk[4096];
    while (bytes.size() <= kMaxStudyBytes) {
        const std::size_t got = std::fread(chunk, 1, sizeof chunk, file.get());
        bytes.append(chunk, got);
        if (got < sizeof chunk) {
            break;
        }
    }
    if (std::ferror(file.get())) {
        diagnostic = path + ": cannot read the study file: " + std::strerror(errno);
        return false;
    }
    if (bytes.size() > kMaxStudyBytes) {
        diagnostic = path + ": the study file is larger than " + std::to_string(kMaxStudyBytes) +
                     " bytes; a study file holds settings, not data";
        return false;
    }
    return parse_study_text(bytes, path, study, diagnostic);
}

std::string study_digest(std::string_view file_bytes) {
    std::uint64_t hash = 0xcbf29ce484222325ULL;
    for (const char c : file_bytes) {
        hash ^= static_cast<unsigned char>(c);
        hash *= 0x100000001b3ULL;
    }
    static constexpr char hex[] = "0123456789abcdef";
    std::string digits(16, '0');
    for (int i = 15; i >= 0; --i) {
        digits[static_cast<std::size_t>(i)] = hex[hash & 0xf];
        hash >>= 4;
    }
    return digits;
}

}  // namespace eqsim::study
