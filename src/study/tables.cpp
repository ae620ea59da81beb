#include "study/tables.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstddef>
#include <map>
#include <system_error>
#include <tuple>

#include "io/method_words.h"
#include "io/tokens.h"
#include "study/study_run.h"

namespace eqsim::study {

namespace {

constexpr std::string_view kScoresHeader =
    "data,n_new,n_old,method,parameter,seed,replications,score,weight,quantity,criterion,mean,se,"
    "bias,rmse,mcse_mean,mcse_se,mcse_bias,mcse_rmse\n";
constexpr std::string_view kSummaryHeader =
    "data,n_new,n_old,method,parameter,seed,replications,quantity,se_w,bias_w,rmse_w,se_u,bias_u,"
    "rmse_u,mcse_se_w,mcse_bias_w,mcse_rmse_w,mcse_se_u,mcse_bias_u,mcse_rmse_u\n";
constexpr std::string_view kDecisionsHeader =
    "data,n_new,n_old,method,parameter,seed,replications,cut,criterion_pass,misclassified,"
    "mcse_misclassified\n";
constexpr std::string_view kHistogramsHeader =
    "data,n_new,n_old,method,parameter,score,scale_score,count\n";

// ---- writing ----

void append_integer(std::int64_t value, std::string& out) {
    char buffer[24];
    const auto result = std::to_chars(buffer, buffer + sizeof buffer, value);
    out.append(buffer, result.ptr);
}

void append_text_field(std::string_view text, std::string& out) {
    if (text.find_first_of(",\"\r\n") == std::string_view::npos) {
        out.append(text);
        return;
    }
    out.push_back('"');
    for (const char c : text) {
        if (c == '"') {
            out.push_back('"');
        }
        out.push_back(c);
    }
    out.push_back('"');
}

void append_key(const RowKey& key, std::string& out) {
    append_text_field(key.data, out);
    out.push_back(',');
    append_number(key.n_new, out);
    out.push_back(',');
    append_number(key.n_old, out);
    out.push_back(',');
    out.append(words_of(key.method).word);
    out.push_back(',');
    if (key.parameter) {
        append_number(*key.parameter, out);
    }
}

void append_numbers(std::initializer_list<double> values, std::string& out) {
    for (const double value : values) {
        out.push_back(',');
        append_number(value, out);
    }
}

// Numbers that may be missing (Monte Carlo standard errors of fewer than two replications): an
// empty field then.
void append_optional_numbers(std::initializer_list<std::optional<double>> values,
                             std::string& out) {
    for (const std::optional<double>& value : values) {
        out.push_back(',');
        if (value) {
            append_number(*value, out);
        }
    }
}

// ---- reading ----

// One record of a CSV text: its fields, unquoted, and the line on which it starts.
struct Record {
    std::vector<std::string> fields;
    long line = 0;
};

class CsvReader {
  public:
    CsvReader(std::string_view text, std::string_view file_name)
        : text_(text), file_name_(file_name) {}

    // Reads the next record. Returns false at the end of the text or on an error (then error()
    // is not empty).
    bool next(Record& record) {
        record.fields.clear();
        record.line = line_;
        if (pos_ >= text_.size()) {
            return false;
        }
        std::string field;
        while (true) {
            field.clear();
            if (pos_ < text_.size() && text_[pos_] == '"') {
                if (!read_quoted(field)) {
                    return false;
                }
            } else {
                while (pos_ < text_.size() && text_[pos_] != ',' && text_[pos_] != '\n' &&
                       text_[pos_] != '\r') {
                    if (text_[pos_] == '"') {
                        fail(line_, "a quote inside an unquoted field");
                        return false;
                    }
                    field.push_back(text_[pos_++]);
                }
            }
            record.fields.push_back(field);
            if (pos_ >= text_.size()) {
                return true;
            }
            const char c = text_[pos_++];
            if (c == ',') {
                continue;
            }
            if (c == '\r') {
                if (pos_ >= text_.size() || text_[pos_] != '\n') {
                    fail(line_, "a carriage return outside quotes that does not end the line");
                    return false;
                }
                ++pos_;
            }
            ++line_;
            return true;
        }
    }

    const std::string& error() const { return error_; }

    void fail(long line, std::string_view what) {
        error_.assign(file_name_);
        error_.push_back(':');
        error_.append(std::to_string(line));
        error_.append(": ");
        error_.append(what);
    }

  private:
    bool read_quoted(std::string& field) {
        const long start = line_;
        ++pos_;
        while (true) {
            if (pos_ >= text_.size()) {
                fail(start, "a quoted field is not closed before the end of the file");
                return false;
            }
            const char c = text_[pos_++];
            if (c == '"') {
                if (pos_ < text_.size() && text_[pos_] == '"') {
                    field.push_back('"');
                    ++pos_;
                    continue;
                }
                if (pos_ < text_.size() && text_[pos_] != ',' && text_[pos_] != '\n' &&
                    text_[pos_] != '\r') {
                    fail(line_, "text after the closing quote of a field");
                    return false;
                }
                return true;
            }
            if (c == '\n') {
                ++line_;
            }
            field.push_back(c);
        }
    }

    std::string_view text_;
    std::string_view file_name_;
    std::size_t pos_ = 0;
    long line_ = 1;
    std::string error_;
};

// Converts one record's fields, naming the first field that does not read.
class FieldReader {
  public:
    FieldReader(const Record& record, std::span<const std::string_view> names)
        : record_(record), names_(names) {}

    bool text(std::size_t i, std::string& value) {
        value = record_.fields[i];
        return true;
    }

    bool optional_number(std::size_t i, std::optional<double>& value) {
        if (record_.fields[i].empty()) {
            value.reset();
            return true;
        }
        double number_value = 0.0;
        if (!number(i, number_value)) {
            return false;
        }
        value = number_value;
        return true;
    }

    bool number(std::size_t i, double& value) {
        const std::string& f = record_.fields[i];
        const char* end = f.data() + f.size();
        const auto result = std::from_chars(f.data(), end, value);
        if (f.empty() || result.ec != std::errc() || result.ptr != end) {
            return bad(i, "a number");
        }
        return true;
    }

    template <typename Int>
    bool integer(std::size_t i, Int& value) {
        const std::string& f = record_.fields[i];
        const char* end = f.data() + f.size();
        const auto result = std::from_chars(f.data(), end, value);
        if (f.empty() || result.ec != std::errc() || result.ptr != end) {
            return bad(i, "an integer");
        }
        return true;
    }

    bool quantity(std::size_t i, Quantity& value) {
        for (const Quantity q : {Quantity::raw, Quantity::scale, Quantity::rounded}) {
            if (record_.fields[i] == quantity_word(q)) {
                value = q;
                return true;
            }
        }
        return bad(i, "raw, scale or rounded");
    }

    bool key(RowKey& key) {
        if (!text(0, key.data) || !number(1, key.n_new) || !number(2, key.n_old)) {
            return false;
        }
        const MethodWords* info = method_of_table_word(record_.fields[3]);
        if (info == nullptr) {
            return bad(3, full_word_list(" or ", std::nullopt));
        }
        key.method = info->method;
        const ParameterRule rule = parameter_rule(info->method);
        const bool takes_parameter = rule != ParameterRule::none;
        // A group weight left to the sample sizes shows no parameter.
        if (rule == ParameterRule::group_weight && record_.fields[4].empty()) {
            key.parameter.reset();
            return true;
        }
        if (!takes_parameter) {
            key.parameter.reset();
            if (!record_.fields[4].empty()) {
                problem_ = "parameter is given for " + std::string(info->word) +
                           ", which takes none; it should be empty";
                return false;
            }
            return true;
        }
        double parameter = 0.0;
        if (!number(4, parameter)) {
            return false;
        }
        key.parameter = parameter;
        return true;
    }

    const std::string& problem() const { return problem_; }

  private:
    bool bad(std::size_t i, std::string_view expected) {
        problem_ = std::string(names_[i]) + " is \"" + record_.fields[i] + "\"; it should be " +
                   std::string(expected);
        return false;
    }

    const Record& record_;
    std::span<const std::string_view> names_;
    std::string problem_;
};

// Splits a header line into its names (the headers hold no quotes).
std::vector<std::string_view> header_names(std::string_view header) {
    std::vector<std::string_view> names;
    header.remove_suffix(1);
    std::size_t start = 0;
    while (true) {
        const std::size_t comma = header.find(',', start);
        names.push_back(header.substr(start, comma - start));
        if (comma == std::string_view::npos) {
            return names;
        }
        start = comma + 1;
    }
}

// Reads a table whose header is header and whose rows convert_row turns into Row.
template <typename Row, typename Convert>
bool parse_table(std::string_view text, std::string_view file_name, std::string_view header,
                 std::vector<Row>& rows, std::string& diagnostic, Convert convert_row) {
    const std::vector<std::string_view> names = header_names(header);
    CsvReader reader(text, file_name);
    Record record;
    if (!reader.next(record)) {
        if (reader.error().empty()) {
            reader.fail(1, "the file is empty; it should start with the header line");
        }
        diagnostic = reader.error();
        return false;
    }
    if (record.fields.size() != names.size() ||
        !std::equal(names.begin(), names.end(), record.fields.begin())) {
        reader.fail(
            1, "the header is not \"" + std::string(header.substr(0, header.size() - 1)) + "\"");
        diagnostic = reader.error();
        return false;
    }
    while (reader.next(record)) {
        if (record.fields.size() != names.size()) {
            reader.fail(record.line, "the row has " + std::to_string(record.fields.size()) +
                                         " fields; it should have " + std::to_string(names.size()));
            diagnostic = reader.error();
            return false;
        }
        FieldReader fields(record, names);
        Row row;
        if (!convert_row(fields, row)) {
            reader.fail(record.line, fields.problem());
            diagnostic = reader.error();
            return false;
        }
        rows.push_back(std::move(row));
    }
    if (!reader.error().empty()) {
        diagnostic = reader.error();
        return false;
    }
    return true;
}

}  // namespace

std::string_view scores_header() {
    return kScoresHeader;
}
std::string_view summary_header() {
    return kSummaryHeader;
}
std::string_view histograms_header() {
    return kHistogramsHeader;
}
std::string_view decisions_header() {
    return kDecisionsHeader;
}

void append_score_row(const ScoreRow& row, std::string& out) {
    append_key(row.key, out);
    out.push_back(',');
    append_integer(row.seed, out);
    out.push_back(',');
    append_integer(row.replications, out);
    out.push_back(',');
    append_integer(row.score, out);
    append_numbers({row.weight}, out);
    out.push_back(',');
    out.append(quantity_word(row.quantity));
    append_numbers({row.criterion, row.mean, row.se, row.bias, row.rmse}, out);
    append_optional_numbers({row.mcse_mean, row.mcse_se, row.mcse_mean, row.mcse_rmse}, out);
    out.push_back('\n');
}

void append_summary_row(const SummaryRow& row, std::string& out) {
    append_key(row.key, out);
    out.push_back(',');
    append_integer(row.seed, out);
    out.push_back(',');
    append_integer(row.replications, out);
    out.push_back(',');
    out.append(quantity_word(row.quantity));
    append_numbers({row.se_w, row.bias_w, row.rmse_w, row.se_u, row.bias_u, row.rmse_u}, out);
    append_optional_numbers({row.mcse_se_w, row.mcse_bias_w, row.mcse_rmse_w, row.mcse_se_u,
                             row.mcse_bias_u, row.mcse_rmse_u},
                            out);
    out.push_back('\n');
}

void append_decision_row(const DecisionRow& row, std::string& out) {
    append_key(row.key, out);
    out.push_back(',');
    append_integer(row.seed, out);
    out.push_back(',');
    append_integer(row.replications, out);
    append_numbers({row.cut, row.criterion_pass, row.misclassified}, out);
    append_optional_numbers({row.mcse_misclassified}, out);
    out.push_back('\n');
}

void append_histogram_row(const HistogramRow& row, std::string& out) {
    append_key(row.key, out);
    out.push_back(',');
    append_integer(row.score, out);
    append_numbers({row.scale_score}, out);
    out.push_back(',');
    append_integer(row.count, out);
    out.push_back('\n');
}

bool parse_scores(std::string_view text, std::string_view file_name, std::vector<ScoreRow>& rows,
                  std::string& diagnostic) {
    return parse_table(
        text, file_name, kScoresHeader, rows, diagnostic, [](FieldReader& f, ScoreRow& row) {
            return f.key(row.key) && f.integer(5, row.seed) && f.integer(6, row.replications) &&
                   f.integer(7, row.score) && f.number(8, row.weight) &&
                   f.quantity(9, row.quantity) && f.number(10, row.criterion) &&
                   f.number(11, row.mean) && f.number(12, row.se) && f.number(13, row.bias) &&
                   f.number(14, row.rmse) && f.optional_number(15, row.mcse_mean) &&
                   f.optional_number(16, row.mcse_se) && f.optional_number(18, row.mcse_rmse);
        });
}

bool parse_summary(std::string_view text, std::string_view file_name, std::vector<SummaryRow>& rows,
                   std::string& diagnostic) {
    return parse_table(
        text, file_name, kSummaryHeader, rows, diagnostic, [](FieldReader& f, SummaryRow& row) {
            return f.key(row.key) && f.integer(5, row.seed) && f.integer(6, row.replications) &&
                   f.quantity(7, row.quantity) && f.number(8, row.se_w) &&
                   f.number(9, row.bias_w) && f.number(10, row.rmse_w) && f.number(11, row.se_u) &&
                   f.number(12, row.bias_u) && f.number(13, row.rmse_u) &&
                   f.optional_number(14, row.mcse_se_w) && f.optional_number(15, row.mcse_bias_w) &&
                   f.optional_number(16, row.mcse_rmse_w) && f.optional_number(17, row.mcse_se_u) &&
                   f.optional_number(18, row.mcse_bias_u) && f.optional_number(19, row.mcse_rmse_u);
        });
}

bool parse_decisions(std::string_view text, std::string_view file_name,
                     std::vector<DecisionRow>& rows, std::string& diagnostic) {
    return parse_table(
        text, file_name, kDecisionsHeader, rows, diagnostic, [](FieldReader& f, DecisionRow& row) {
            return f.key(row.key) && f.integer(5, row.seed) && f.integer(6, row.replications) &&
                   f.number(7, row.cut) && f.number(8, row.criterion_pass) &&
                   f.number(9, row.misclassified) && f.optional_number(10, row.mcse_misclassified);
        });
}

bool parse_histograms(std::string_view text, std::string_view file_name,
                      std::vector<HistogramRow>& rows, std::string& diagnostic) {
    return parse_table(text, file_name, kHistogramsHeader, rows, diagnostic,
                       [](FieldReader& f, HistogramRow& row) {
                           return f.key(row.key) && f.integer(5, row.score) &&
                                  f.number(6, row.scale_score) && f.integer(7, row.count);
                       });
}

std::string method_label(const RowKey& key) {
    return eqsim::method_label(key.method, key.parameter.has_value(), key.parameter.value_or(0.0));
}

std::string condition_label(const RowKey& key) {
    std::string label = key.data + ", n = ";
    append_number(key.n_new, label);
    if (key.n_old != key.n_new) {
        label.push_back('/');
        append_number(key.n_old, label);
    }
    return label;
}

}  // namespace eqsim::study
