#include "frames.h"

#include <string>
#include <string_view>
#include <utility>

#include "cpp11/doubles.hpp"
#include "cpp11/integers.hpp"
#include "cpp11/list.hpp"
#include "cpp11/protect.hpp"
#include "cpp11/strings.hpp"
#include "io/method_words.h"

namespace eqsim::r {

namespace {

// A data frame built one column at a time from a span of rows: each column is a name and a
// function that reads the column's value from a row.
template <typename Row>
class Frame {
  public:
    explicit Frame(std::span<const Row> rows) : rows_(rows) {}

    template <typename Get>
    void integer(const char* name, Get get) {
        cpp11::writable::integers column(size());
        for (R_xlen_t i = 0; i < size(); ++i) {
            column[i] = static_cast<int>(get(rows_[static_cast<std::size_t>(i)]));
        }
        add(name, column);
    }

    template <typename Get>
    void number(const char* name, Get get) {
        cpp11::writable::doubles column(size());
        for (R_xlen_t i = 0; i < size(); ++i) {
            column[i] = get(rows_[static_cast<std::size_t>(i)]);
        }
        add(name, column);
    }

    // get returns a std::optional<double>; an empty one is NA.
    template <typename Get>
    void optional_number(const char* name, Get get) {
        cpp11::writable::doubles column(size());
        for (R_xlen_t i = 0; i < size(); ++i) {
            column[i] = get(rows_[static_cast<std::size_t>(i)]).value_or(NA_REAL);
        }
        add(name, column);
    }

    // get returns a std::string_view. Runs of rows with the same text share one R string, so that
    // a column of few distinct values is not hashed row by row.
    template <typename Get>
    void text(const char* name, Get get) {
        cpp11::writable::strings column(size());
        std::string_view last;
        SEXP last_string = R_NilValue;
        for (R_xlen_t i = 0; i < size(); ++i) {
            const std::string_view value = get(rows_[static_cast<std::size_t>(i)]);
            if (last_string == R_NilValue || value != last) {
                last_string = cpp11::safe[Rf_mkCharLenCE](value.data(),
                                                          static_cast<int>(value.size()), CE_UTF8);
                last = value;
            }
            SET_STRING_ELT(column, i, last_string);
        }
        add(name, column);
    }

    // The key columns: data, n_new, n_old, method, parameter.
    template <typename GetKey>
    void key(GetKey get_key) {
        text("data", [&](const Row& r) -> std::string_view { return get_key(r).data; });
        integer("n_new", [&](const Row& r) { return get_key(r).n_new; });
        integer("n_old", [&](const Row& r) { return get_key(r).n_old; });
        text("method", [&](const Row& r) { return words_of(get_key(r).method).word; });
        optional_number("parameter", [&](const Row& r) { return get_key(r).parameter; });
    }

    cpp11::sexp data_frame() {
        cpp11::writable::list frame(static_cast<R_xlen_t>(columns_.size()));
        cpp11::writable::strings names(static_cast<R_xlen_t>(columns_.size()));
        for (std::size_t c = 0; c < columns_.size(); ++c) {
            frame[static_cast<R_xlen_t>(c)] = columns_[c];
            names[static_cast<R_xlen_t>(c)] = names_[c];
        }
        frame.names() = names;
        // The compact form of row names 1..n.
        frame.attr("row.names") =
            cpp11::writable::integers({NA_INTEGER, -static_cast<int>(size())});
        frame.attr("class") = "data.frame";
        return frame;
    }

  private:
    R_xlen_t size() const { return static_cast<R_xlen_t>(rows_.size()); }

    void add(const char* name, SEXP column) {
        names_.emplace_back(name);
        columns_.emplace_back(column);
    }

    std::span<const Row> rows_;
    std::vector<std::string> names_;
    std::vector<cpp11::sexp> columns_;
};

}  // namespace

cpp11::sexp simulation_scores_frame(std::span<const SimulationScoreRow> rows) {
    Frame<SimulationScoreRow> f(rows);
    f.integer("score", [](const SimulationScoreRow& r) { return r.score; });
    f.number("weight", [](const SimulationScoreRow& r) { return r.weight; });
    f.text("quantity", [](const SimulationScoreRow& r) { return quantity_word(r.quantity); });
    f.number("mean", [](const SimulationScoreRow& r) { return r.mean; });
    f.number("se", [](const SimulationScoreRow& r) { return r.se; });
    return f.data_frame();
}

cpp11::sexp simulation_histogram_frame(std::span<const HistogramFrameRow> rows) {
    Frame<HistogramFrameRow> f(rows);
    f.integer("score", [](const HistogramFrameRow& r) { return r.score; });
    f.number("scale_score", [](const HistogramFrameRow& r) { return r.scale_score; });
    f.integer("count", [](const HistogramFrameRow& r) { return r.count; });
    return f.data_frame();
}

cpp11::sexp scores_frame(std::span<const ScoreRow> rows) {
    Frame<ScoreRow> f(rows);
    f.key([](const ScoreRow& r) -> const RowKey& { return r.key; });
    f.integer("seed", [](const ScoreRow& r) { return r.seed; });
    f.integer("replications", [](const ScoreRow& r) { return r.replications; });
    f.integer("score", [](const ScoreRow& r) { return r.score; });
    f.number("weight", [](const ScoreRow& r) { return r.weight; });
    f.text("quantity", [](const ScoreRow& r) { return quantity_word(r.quantity); });
    f.number("criterion", [](const ScoreRow& r) { return r.criterion; });
    f.number("mean", [](const ScoreRow& r) { return r.mean; });
    f.number("se", [](const ScoreRow& r) { return r.se; });
    f.number("bias", [](const ScoreRow& r) { return r.bias; });
    f.number("rmse", [](const ScoreRow& r) { return r.rmse; });
    // The bias differs from the mean by the fixed criterion: the same Monte Carlo error.
    f.optional_number("mcse_mean", [](const ScoreRow& r) { return r.mcse_mean; });
    f.optional_number("mcse_se", [](const ScoreRow& r) { return r.mcse_se; });
    f.optional_number("mcse_bias", [](const ScoreRow& r) { return r.mcse_mean; });
    f.optional_number("mcse_rmse", [](const ScoreRow& r) { return r.mcse_rmse; });
    return f.data_frame();
}

cpp11::sexp summary_frame(std::span<const SummaryRow> rows) {
    Frame<SummaryRow> f(rows);
    f.key([](const SummaryRow& r) -> const RowKey& { return r.key; });
    f.integer("seed", [](const SummaryRow& r) { return r.seed; });
    f.integer("replications", [](const SummaryRow& r) { return r.replications; });
    f.text("quantity", [](const SummaryRow& r) { return quantity_word(r.quantity); });
    f.number("se_w", [](const SummaryRow& r) { return r.se_w; });
    f.number("bias_w", [](const SummaryRow& r) { return r.bias_w; });
    f.number("rmse_w", [](const SummaryRow& r) { return r.rmse_w; });
    f.number("se_u", [](const SummaryRow& r) { return r.se_u; });
    f.number("bias_u", [](const SummaryRow& r) { return r.bias_u; });
    f.number("rmse_u", [](const SummaryRow& r) { return r.rmse_u; });
    f.optional_number("mcse_se_w", [](const SummaryRow& r) { return r.mcse_se_w; });
    f.optional_number("mcse_bias_w", [](const SummaryRow& r) { return r.mcse_bias_w; });
    f.optional_number("mcse_rmse_w", [](const SummaryRow& r) { return r.mcse_rmse_w; });
    f.optional_number("mcse_se_u", [](const SummaryRow& r) { return r.mcse_se_u; });
    f.optional_number("mcse_bias_u", [](const SummaryRow& r) { return r.mcse_bias_u; });
    f.optional_number("mcse_rmse_u", [](const SummaryRow& r) { return r.mcse_rmse_u; });
    return f.data_frame();
}

cpp11::sexp histograms_frame(std::span<const HistogramFrameRow> rows) {
    Frame<HistogramFrameRow> f(rows);
    f.key([](const HistogramFrameRow& r) -> const RowKey& { return *r.key; });
    f.integer("score", [](const HistogramFrameRow& r) { return r.score; });
    f.number("scale_score", [](const HistogramFrameRow& r) { return r.scale_score; });
    f.integer("count", [](const HistogramFrameRow& r) { return r.count; });
    return f.data_frame();
}

cpp11::sexp decisions_frame(std::span<const DecisionRow> rows) {
    Frame<DecisionRow> f(rows);
    f.key([](const DecisionRow& r) -> const RowKey& { return r.key; });
    f.integer("seed", [](const DecisionRow& r) { return r.seed; });
    f.integer("replications", [](const DecisionRow& r) { return r.replications; });
    f.number("cut", [](const DecisionRow& r) { return r.cut; });
    f.number("criterion_pass", [](const DecisionRow& r) { return r.criterion_pass; });
    f.number("misclassified", [](const DecisionRow& r) { return r.misclassified; });
    f.optional_number("mcse_misclassified",
                      [](const DecisionRow& r) { return r.mcse_misclassified; });
    return f.data_frame();
}

}  // namespace eqsim::r
