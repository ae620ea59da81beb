#include "study/study_run.h"

#include "io/anchor_table.h"
#include "io/data_file.h"
#include "io/located.h"
#include "io/method_words.h"
#include "io/tokens.h"
#include "study/tables.h"

namespace eqsim::study {

namespace {

// An anchor-test data set: the two tables and the conversion.
bool read_anchor_data_set(const StudySpec& spec, const DataSetSpec& data, StudyDataSet& set,
                          std::string& diagnostic) {
    std::vector<double> new_cells;
    std::vector<double> old_cells;
    std::vector<double> conversion;
    if (!read_anchor_table(data.path, {data.new_max, data.anchor_max, data.anchor}, new_cells,
                           diagnostic) ||
        !read_anchor_table(data.old_table, {data.old_max, data.anchor_max, data.anchor}, old_cells,
                           diagnostic) ||
        !read_scale_conversion(data.conversion, data.old_max, conversion, diagnostic)) {
        diagnostic += " (the data set of " + spec.path + ":" + std::to_string(data.line) + ")";
        return false;
    }
    if (Status s =
            Population::anchor_test(new_cells, data.new_max + 1, old_cells, data.old_max + 1,
                                    data.anchor_max + 1, data.anchor, conversion, set.population);
        !s.is_ok()) {
        diagnostic = located(spec.path, data.line, data.as_given + ": " + s.diagnostic());
        return false;
    }
    set.name = data.as_given;
    set.scale = data.scale;
    return true;
}

bool read_data_set(const StudySpec& spec, const DataSetSpec& data, StudyDataSet& set,
                   std::string& diagnostic) {
    if (data.design == Design::anchor_test) {
        return read_anchor_data_set(spec, data, set, diagnostic);
    }
    DataColumns columns;
    if (!read_data_file(data.path, data.columns, columns, diagnostic)) {
        diagnostic += " (the data set of " + spec.path + ":" + std::to_string(data.line) + ")";
        return false;
    }
    if (spec.criterion.kind == CriterionKind::column &&
        !read_criterion_column(data.path, spec.criterion.column, columns.new_points,
                               set.criterion_column, diagnostic)) {
        diagnostic +=
            " (the criterion of " + spec.path + ":" + std::to_string(spec.criterion.line) + ")";
        return false;
    }
    if (Status s = columns.population(set.population); !s.is_ok()) {
        diagnostic = located(spec.path, data.line, data.as_given + ": " + s.diagnostic());
        return false;
    }
    set.name = data.as_given;
    set.scale = data.scale;
    return true;
}

}  // namespace

bool plan_study(const StudySpec& spec, std::int32_t seed, StudyPlan& plan,
                std::string& diagnostic) {
    StudyDesign design;
    design.replications = spec.replications;
    design.seed = seed;
    design.criterion = spec.criterion.kind;
    design.cuts = spec.cuts;
    for (const SamplePairSpec& s : spec.sizes) {
        design.sizes.emplace_back(s.new_size, s.old_size);
    }
    for (const MethodSpec& m : spec.methods) {
        StudyMethod method;
        method.choice = MethodChoice{m.method, m.parameter};
        method.shows_parameter = m.has_parameter;
        method.word = std::string(words_of(m.method).word);
        method.label = method_label(m.method, m.has_parameter, m.parameter);
        design.methods.push_back(std::move(method));
    }
    plan = StudyPlan{};
    plan.design = std::move(design);
    for (std::size_t d = 0; d < spec.data.size(); ++d) {
        const DataSetSpec& data = spec.data[d];
        // The tables name a data set by its path; two data sets of one path could not be told
        // apart there, nor summarised apart.
        for (std::size_t e = 0; e < d; ++e) {
            if (spec.data[e].as_given == data.as_given) {
                diagnostic =
                    located(spec.path, data.line,
                            "data set " + data.as_given + " is named again (first at line " +
                                std::to_string(spec.data[e].line) +
                                "); the tables could not tell the two apart: give each "
                                "its own file name (a copy or a link)");
                return false;
            }
        }
        StudyDataSet set;
        if (!read_data_set(spec, data, set, diagnostic)) {
            return false;
        }
        bool criterion_failed = false;
        if (Status s = add_data_set(plan, std::move(set), criterion_failed); !s.is_ok()) {
            const int line =
                criterion_failed && spec.criterion.line != 0 ? spec.criterion.line : data.line;
            diagnostic = located(spec.path, line, s.diagnostic());
            return false;
        }
    }
    return true;
}

ConditionTables tables_of(const StudyPlan& plan, const Condition& condition,
                          ConditionResult&& result) {
    ConditionTables tables;
    tables.scores = std::move(result.scores);
    tables.summaries = std::move(result.summaries);
    tables.decisions = std::move(result.decisions);
    const ScaleSpec& scale = plan.design.data[static_cast<std::size_t>(condition.data_set)].scale;
    for (const HistogramCell& cell : result.histogram) {
        append_histogram_row(HistogramRow{row_key(plan, condition, cell.method), cell.score,
                                          scale_score_of_slot(scale, cell.slot), cell.count},
                             tables.histograms);
        ++tables.histogram_rows;
    }
    result.histogram = std::vector<HistogramCell>();
    return tables;
}

}  // namespace eqsim::study
