// The engine's calls as R sees them: the population equating of one method, one simulation as
// the eqsim program runs it, and a whole study as eqsim-study runs it, from R vectors and lists to
// data frames. The R functions (R/eqsim.R) check the arguments' types and shapes and settle the
// seed and the sizes; everything about the values themselves is checked here, by the engine and by
// the readers of method words that the programs use, so that R gives the programs' diagnostics.
//
// Nothing here prints, and no R error is raised while the engine runs: a failure comes back from
// the engine as a Status and becomes an R error only after the engine has returned. An interrupt
// (Ctrl-C) stops the run through its progress callback (run_watch.h); the function then returns
// NULL, and the R function raises the interrupt.
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "cpp11/doubles.hpp"
#include "cpp11/integers.hpp"
#include "cpp11/list.hpp"
#include "cpp11/logicals.hpp"
#include "cpp11/protect.hpp"
#include "cpp11/strings.hpp"
#include "engine/engine.h"
#include "engine/study/study.h"
#include "frames.h"
#include "io/method_words.h"
#include "io/tokens.h"
#include "run_watch.h"

namespace eqsim::r {

namespace {

[[noreturn]] void fail(const std::string& diagnostic) {
    cpp11::stop("%s", diagnostic.c_str());
}

std::span<const double> span_of(const cpp11::doubles& values) {
    return {REAL(values.data()), static_cast<std::size_t>(values.size())};
}

// The method of eqsim_equate() and eqsim_simulate(): a word read as study files read it (its
// whole word, a beginning no other method shares, or its first letters), and a parameter. A
// parameter left NULL is eqsim's control-file default (P 0.25) for the methods that take one,
// except that a log-linear degree has no default; a method that takes no parameter refuses one,
// which could only be a mistake; an anchor-test method's weight w1 left NULL comes from the
// populations' totals. A given parameter is checked by the engine's rules (eqsim's: a fractional
// degree is truncated). A method of the other design than the populations' is refused by name.
MethodChoice method_argument(const std::string& word, SEXP parameter, Design design) {
    std::string problem;
    const MethodWords* words = method_of_study_word(word, problem);
    if (words == nullptr) {
        fail(problem);
    }
    if (design_of(words->method) != design) {
        fail("method " + std::string(words->word) + " is for the " +
             (design == Design::random_groups ? "anchor-test design, whose populations are two "
                                                "data frames of total, anchor and count; "
                                                "these populations are random groups', whose "
                                                "methods are "
                                              : "random-groups design; these populations are an "
                                                "anchor test's, whose methods are ") +
             hint_list(design));
    }
    MethodChoice choice{words->method, 0.0};
    const ParameterRule rule = parameter_rule(words->method);
    if (parameter == R_NilValue) {
        if (rule == ParameterRule::degree) {
            fail("method " + std::string(words->word) +
                 " needs the log-linear degree as its parameter, as in parameter = 6");
        }
        choice.parameter = rule == ParameterRule::none           ? 0.0
                           : rule == ParameterRule::group_weight ? kWeightOfSizes
                                                                 : MethodChoice{}.parameter;
        return choice;
    }
    if (rule == ParameterRule::none) {
        fail("method " + std::string(words->word) + " takes no parameter; leave parameter NULL");
    }
    choice.parameter = REAL(parameter)[0];
    if (Status s = check_parameter(choice); !s.is_ok()) {
        fail(s.diagnostic());
    }
    return choice;
}

Population population_of(const cpp11::doubles& x, const cpp11::doubles& y,
                         const cpp11::doubles& conversion) {
    Population population;
    if (Status s =
            Population::random_groups(span_of(x), span_of(y), span_of(conversion), population);
        !s.is_ok()) {
        fail(s.diagnostic());
    }
    return population;
}

// An anchor-test population from list(new_cells, old_cells, points, internal) as the R function
// anchor_tables() builds it: points holds the new form's, the old form's and the anchor's numbers
// of score points.
Status anchor_population_of(const cpp11::list& tables, std::span<const double> conversion,
                            Population& population) {
    const cpp11::integers points(tables["points"]);
    const bool internal = cpp11::logicals(tables["internal"])[0] == TRUE;
    return Population::anchor_test(
        span_of(cpp11::doubles(tables["new_cells"])), points[0],
        span_of(cpp11::doubles(tables["old_cells"])), points[1], points[2],
        internal ? AnchorKind::internal : AnchorKind::external, conversion, population);
}

ScaleSpec scale_of(const cpp11::doubles& scale) {
    return ScaleSpec{scale[0], scale[1], scale[2]};
}

// ---- A study's pieces ----

// The methods as a study file's method lines give them, one string each: a word and at most one
// parameter, separated by blanks.
std::vector<StudyMethod> study_methods(const cpp11::strings& texts) {
    constexpr int kMostTokens = 8;  // enough to say how many values were found
    std::vector<StudyMethod> methods;
    for (R_xlen_t i = 0; i < texts.size(); ++i) {
        const std::string text = texts[i];
        const std::string where = "methods[" + std::to_string(i + 1) + "] " + quoted(text) + ": ";
        std::string_view tokens[kMostTokens];
        const int count =
            split_tokens(kMostTokens, static_cast<int>(text.size()) + kMostTokens, text, tokens);
        StudyMethod method;
        if (std::string problem =
                read_method_words(std::span(tokens, count), method.choice, method.shows_parameter);
            !problem.empty()) {
            fail(where + problem);
        }
        method.word = std::string(words_of(method.choice.method).word);
        method.label =
            method_label(method.choice.method, method.shows_parameter, method.choice.parameter);
        for (std::size_t e = 0; e < methods.size(); ++e) {
            if (methods[e].choice.method == method.choice.method &&
                methods[e].choice.parameter == method.choice.parameter) {
                fail(where + "this method and parameter repeat methods[" + std::to_string(e + 1) +
                     "]; the tables could not tell them apart");
            }
        }
        methods.push_back(std::move(method));
    }
    return methods;
}

// One data set: list(name, x, y, conversion, criterion, scale), its columns already cut to each
// form's score points; or an anchor-test one, list(name, conversion, scale, new_cells, old_cells,
// points, internal).
StudyDataSet study_data_set(const cpp11::list& element, CriterionKind criterion) {
    StudyDataSet set;
    set.name = cpp11::strings(element["name"])[0];
    const cpp11::doubles scale(element["scale"]);
    set.scale = scale_of(scale);
    if (std::string problem; !scale_is_usable(set.scale, problem)) {
        fail(set.name + ": " + problem);
    }
    if (element["new_cells"] != R_NilValue) {
        const cpp11::doubles conversion(element["conversion"]);
        if (Status s = anchor_population_of(element, span_of(conversion), set.population);
            !s.is_ok()) {
            fail(set.name + ": " + s.diagnostic());
        }
        return set;
    }
    if (Status s = Population::random_groups(
            span_of(cpp11::doubles(element["x"])), span_of(cpp11::doubles(element["y"])),
            span_of(cpp11::doubles(element["conversion"])), set.population);
        !s.is_ok()) {
        fail(set.name + ": " + s.diagnostic());
    }
    if (criterion == CriterionKind::column) {
        const cpp11::doubles column(element["criterion"]);
        const auto kx = static_cast<std::size_t>(set.population.new_points());
        for (std::size_t x = 0; x < kx; ++x) {
            if (x >= static_cast<std::size_t>(column.size()) || !std::isfinite(column[x])) {
                fail(set.name + ": the criterion of new-form raw score " + std::to_string(x) +
                     " is not a finite number");
            }
        }
        set.criterion_column.assign(column.begin(), column.begin() + kx);
    }
    return set;
}

CriterionKind criterion_of(const std::string& word) {
    if (word == "same") {
        return CriterionKind::same;
    }
    if (word == "column") {
        return CriterionKind::column;
    }
    return CriterionKind::unsmoothed;
}

// The rows of histograms.csv from the conditions' cells.
std::vector<HistogramFrameRow> histogram_rows(const StudyPlan& plan,
                                              const std::vector<ConditionResult>& results,
                                              std::vector<RowKey>& keys) {
    const std::size_t methods = plan.design.methods.size();
    keys.clear();
    keys.reserve(results.size() * methods);
    std::size_t count = 0;
    for (std::size_t c = 0; c < results.size(); ++c) {
        for (std::size_t m = 0; m < methods; ++m) {
            keys.push_back(row_key(plan, plan.conditions[c], m));
        }
        count += results[c].histogram.size();
    }
    std::vector<HistogramFrameRow> rows;
    rows.reserve(count);
    for (std::size_t c = 0; c < results.size(); ++c) {
        const Condition& condition = plan.conditions[c];
        const ScaleSpec& scale =
            plan.design.data[static_cast<std::size_t>(condition.data_set)].scale;
        for (const HistogramCell& cell : results[c].histogram) {
            rows.push_back(HistogramFrameRow{&keys[c * methods + cell.method], cell.score,
                                             scale_score_of_slot(scale, cell.slot), cell.count});
        }
    }
    return rows;
}

}  // namespace

}  // namespace eqsim::r

using eqsim::r::fail;

// The population equating of one method: new-form raw scores' equated raw scores, with the
// populations' rounded totals as the sample sizes of the smoothing methods.
[[cpp11::register]] cpp11::doubles equate_population_(cpp11::doubles x, cpp11::doubles y,
                                                      std::string method, SEXP parameter) {
    const eqsim::MethodChoice choice =
        eqsim::r::method_argument(method, parameter, eqsim::Design::random_groups);
    // The conversion plays no part in equating; the population needs one of the right length.
    cpp11::writable::doubles conversion(y.size());
    std::fill(conversion.begin(), conversion.end(), 0.0);
    const eqsim::Population population = eqsim::r::population_of(x, y, conversion);
    std::vector<double> equated;
    if (eqsim::Status s = eqsim::equate_population(population, choice, 0, 0, equated); !s.is_ok()) {
        fail(s.diagnostic());
    }
    return cpp11::writable::doubles(equated.begin(), equated.end());
}

// The population equating of an anchor-test method: tables as anchor_population_of() takes them,
// with the groups' rounded totals as the sample sizes (w1 = n_P / (n_P + n_Q) where not given).
[[cpp11::register]] cpp11::doubles equate_anchor_population_(cpp11::list tables, std::string method,
                                                             SEXP parameter) {
    const eqsim::MethodChoice choice =
        eqsim::r::method_argument(method, parameter, eqsim::Design::anchor_test);
    // The conversion plays no part in equating; the population needs one of the right length.
    const std::vector<double> conversion(
        static_cast<std::size_t>(std::max(cpp11::integers(tables["points"])[1], 0)), 0.0);
    eqsim::Population population;
    if (eqsim::Status s = eqsim::r::anchor_population_of(tables, conversion, population);
        !s.is_ok()) {
        fail(s.diagnostic());
    }
    std::vector<double> equated;
    if (eqsim::Status s = eqsim::equate_population(population, choice, 0, 0, equated); !s.is_ok()) {
        fail(s.diagnostic());
    }
    return cpp11::writable::doubles(equated.begin(), equated.end());
}

// One simulation: list(scores, histogram, share_outside), or NULL when interrupted. share_outside
// is the share of the old form's population whose scale scores lie outside the scale (eqsim
// warns from a quarter).
[[cpp11::register]] SEXP simulate_(cpp11::doubles x, cpp11::doubles y, cpp11::doubles conversion,
                                   std::string method, SEXP parameter, int replications, int seed,
                                   int new_size, int old_size, cpp11::doubles scale,
                                   SEXP progress) {
    const eqsim::MethodChoice methods[1] = {
        eqsim::r::method_argument(method, parameter, eqsim::Design::random_groups)};
    const eqsim::Population population = eqsim::r::population_of(x, y, conversion);
    eqsim::SimulationOptions options;
    options.population = &population;
    options.scale = eqsim::r::scale_of(scale);
    options.methods = methods;
    options.replications = replications;
    options.seed = seed;
    options.new_size = new_size;
    options.old_size = old_size;
    eqsim::r::RunWatch watch(progress);
    const double total = static_cast<double>(replications);
    options.progress = [&](std::int32_t done) {
        return watch.poll(static_cast<double>(done) / total);
    };
    eqsim::SimulationResult result;
    const eqsim::Status status = eqsim::run_simulation(options, result);
    if (watch.interrupted()) {
        return R_NilValue;
    }
    if (!status.is_ok()) {
        fail(status.diagnostic());
    }

    const eqsim::MethodResult& m = result.methods.front();
    const std::span<const double> weights = population.new_relative();
    const auto kx = static_cast<std::size_t>(result.new_points);
    std::vector<eqsim::r::SimulationScoreRow> scores;
    scores.reserve(kx * eqsim::kQuantities.size());
    for (std::size_t k = 0; k < kx; ++k) {
        for (const eqsim::Quantity q : eqsim::kQuantities) {
            scores.push_back({static_cast<std::int32_t>(k), weights[k], q, m.moments[q].mean[k],
                              m.moments[q].sd[k]});
        }
    }
    std::vector<eqsim::r::HistogramFrameRow> histogram;
    const auto points = static_cast<std::size_t>(result.scale_points);
    for (std::size_t k = 0; k < kx; ++k) {
        for (std::size_t s = 0; s < points; ++s) {
            if (const std::int32_t count = m.histogram[k * points + s]; count != 0) {
                histogram.push_back(
                    {nullptr, static_cast<std::int32_t>(k),
                     eqsim::scale_score_of_slot(options.scale, static_cast<std::int32_t>(s)),
                     count});
            }
        }
    }
    using namespace cpp11::literals;
    return cpp11::writable::list(
        {"scores"_nm = eqsim::r::simulation_scores_frame(scores),
         "histogram"_nm = eqsim::r::simulation_histogram_frame(histogram),
         "share_outside"_nm = eqsim::share_outside_scale(
             population.conversion(), population.old_frequencies(), options.scale)});
}

// A whole study: list(scores, summary, histograms, decisions), or NULL when interrupted. data: a
// list of list(name, x, y, conversion, criterion, scale); new_sizes and old_sizes: the pairs of
// sample sizes (none: each data set at its rounded totals); methods: the study file's method
// words; cuts: the cut scores of the decisions (none: no decisions, and decisions is NULL).
[[cpp11::register]] SEXP study_(cpp11::list data, cpp11::integers new_sizes,
                                cpp11::integers old_sizes, cpp11::strings methods, int replications,
                                int seed, std::string criterion, cpp11::doubles cuts, int jobs,
                                SEXP progress) {
    eqsim::StudyDesign design;
    design.replications = replications;
    design.seed = seed;
    design.criterion = eqsim::r::criterion_of(criterion);
    design.cuts.assign(cuts.begin(), cuts.end());
    design.methods = eqsim::r::study_methods(methods);
    for (R_xlen_t i = 0; i < new_sizes.size(); ++i) {
        design.sizes.emplace_back(new_sizes[i], old_sizes[i]);
    }
    for (R_xlen_t d = 0; d < data.size(); ++d) {
        design.data.push_back(eqsim::r::study_data_set(cpp11::list(data[d]), design.criterion));
    }
    eqsim::StudyPlan plan;
    eqsim::PlanFailure where;
    if (eqsim::Status s = eqsim::plan_study(std::move(design), plan, where); !s.is_ok()) {
        fail(s.diagnostic());
    }

    std::vector<int> positions(plan.conditions.size());
    for (std::size_t i = 0; i < positions.size(); ++i) {
        positions[i] = static_cast<int>(i);
    }
    eqsim::r::RunWatch watch(progress);
    const double total = static_cast<double>(eqsim::replications_of(plan, positions));
    eqsim::StudyRunOptions options;
    options.jobs = jobs;
    options.progress = [&](int, std::int64_t done) {
        return watch.poll(static_cast<double>(done) / total);
    };
    std::vector<eqsim::ConditionResult> results;
    const eqsim::Status status = eqsim::run_conditions(plan, positions, options, results);
    if (watch.interrupted()) {
        return R_NilValue;
    }
    if (!status.is_ok()) {
        fail(status.diagnostic());
    }

    std::vector<eqsim::ScoreRow> scores;
    std::vector<eqsim::SummaryRow> summaries;
    std::vector<eqsim::DecisionRow> decisions;
    for (eqsim::ConditionResult& r : results) {
        std::move(r.scores.begin(), r.scores.end(), std::back_inserter(scores));
        std::move(r.summaries.begin(), r.summaries.end(), std::back_inserter(summaries));
        std::move(r.decisions.begin(), r.decisions.end(), std::back_inserter(decisions));
        r.scores = {};
        r.summaries = {};
        r.decisions = {};
    }
    std::vector<eqsim::RowKey> keys;
    const std::vector<eqsim::r::HistogramFrameRow> histograms =
        eqsim::r::histogram_rows(plan, results, keys);
    using namespace cpp11::literals;
    const cpp11::sexp decisions_frame =
        plan.design.cuts.empty() ? cpp11::sexp(R_NilValue) : eqsim::r::decisions_frame(decisions);
    return cpp11::writable::list({"scores"_nm = eqsim::r::scores_frame(scores),
                                  "summary"_nm = eqsim::r::summary_frame(summaries),
                                  "histograms"_nm = eqsim::r::histograms_frame(histograms),
                                  "decisions"_nm = decisions_frame});
}

// Numbers as the study's CSV files write them: the shortest text that reads back as the same
// double. NA for NA. (For tests that compare with the files' text.)
[[cpp11::register]] cpp11::strings shortest_text_(cpp11::doubles values) {
    cpp11::writable::strings texts(values.size());
    for (R_xlen_t i = 0; i < values.size(); ++i) {
        if (ISNA(values[i])) {
            texts[i] = NA_STRING;
        } else {
            texts[i] = eqsim::number_text(values[i]);
        }
    }
    return texts;
}
