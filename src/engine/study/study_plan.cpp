// Planning a study: its conditions, their seeds, sizes and criteria; and the rows of its tables.
#include <algorithm>
#include <cmath>
#include <map>
#include <string>
#include <tuple>

#include "engine/equating/equipercentile.h"
#include "engine/numeric/number_text.h"
#include "engine/numeric/storage.h"
#include "engine/sampling/uniform_random.h"
#include "engine/study/study.h"

namespace eqsim {

namespace {

// The multiplier that spaces condition seeds along the generator's cycle (another primitive root
// of 2^31 - 1, so that consecutive conditions start far apart).
constexpr std::int64_t kSeedSpacing = 48271;

std::int32_t next_condition_seed(std::int32_t seed) {
    return static_cast<std::int32_t>(seed * kSeedSpacing % kGeneratorModulus);
}

// The criterion's equated raw scores of one condition: one set for every method, or one per
// method for criterion Same.
Status criterion_raw_scores(const StudyPlan& plan, const StudyDataSet& data, const Condition& c,
                            std::vector<std::vector<double>>& raw) {
    const Population& p = data.population;
    const auto kx = static_cast<std::size_t>(p.new_points());
    switch (plan.design.criterion) {
        case CriterionKind::column:
            if (p.design() == Design::anchor_test) {
                return Status::error(Status::Code::invalid_input,
                                     "a criterion column is for random-groups data sets; an "
                                     "anchor-test data set's criterion is None or Same");
            }
            raw.assign(1, data.criterion_column);
            return Status::ok();
        case CriterionKind::unsmoothed:
            raw.assign(1, std::vector<double>(kx));
            // In the anchor-test design the populations' chained equipercentile equating.
            if (p.design() == Design::anchor_test) {
                return equate_population(p, {Method::chained_equipercentile, 0.0}, c.new_size,
                                         c.old_size, raw[0]);
            }
            if (!equate_unsmoothed(p.new_relative(), p.old_relative(), raw[0])) {
                return Status::error(Status::Code::no_storage, "no storage for the criterion");
            }
            return Status::ok();
        case CriterionKind::same:
            raw.assign(plan.design.methods.size(), std::vector<double>());
            for (const std::size_t m : c.methods) {
                const StudyMethod& method = plan.design.methods[m];
                if (Status s = equate_population(p, method.choice, c.new_size, c.old_size, raw[m]);
                    !s.is_ok()) {
                    return Status::error(s.code(), "criterion Same: the " + method.word +
                                                       " method cannot equate the populations "
                                                       "themselves (" +
                                                       s.diagnostic() + ")");
                }
            }
            return Status::ok();
    }
    return Status::error(Status::Code::invalid_input, "unknown criterion");
}

bool all_finite(const std::vector<double>& values) {
    return std::all_of(values.begin(), values.end(), [](double v) { return std::isfinite(v); });
}

Status compute_criterion(const StudyPlan& plan, Condition& c) {
    const StudyDataSet& data = plan.design.data[static_cast<std::size_t>(c.data_set)];
    std::vector<std::vector<double>> raw;
    if (Status s = criterion_raw_scores(plan, data, c, raw); !s.is_ok()) {
        return s;
    }
    const Population& p = data.population;
    c.criterion.clear();
    for (std::vector<double>& r : raw) {
        PerQuantity<std::vector<double>> scores;
        scores[Quantity::scale].resize(r.size());
        scores[Quantity::rounded].resize(r.size());
        convert_to_scale(data.scale, r, p.conversion(), scores[Quantity::scale],
                         scores[Quantity::rounded]);
        if (!all_finite(r) || !all_finite(scores[Quantity::scale])) {
            return Status::error(Status::Code::invalid_input,
                                 "the criterion's equated or scale scores are not finite numbers");
        }
        scores[Quantity::raw] = std::move(r);
        c.criterion.push_back(std::move(scores));
    }
    return Status::ok();
}

// The cut scores as points of a data set's scale.
Status cut_points_of(std::span<const double> cuts, const StudyDataSet& set,
                     std::vector<std::int32_t>& points) {
    if (cuts.size() > static_cast<std::size_t>(kMaxCuts)) {
        return Status::error(Status::Code::invalid_input,
                             "more than " + std::to_string(kMaxCuts) + " cut scores");
    }
    for (std::size_t i = 0; i < cuts.size(); ++i) {
        std::int32_t point = 0;
        if (!scale_point_of(cuts[i], set.scale, point)) {
            return Status::error(
                Status::Code::invalid_input,
                "cut score " + number_text(cuts[i]) + " is not a point of the scale of data set " +
                    set.name + " (" + number_text(set.scale.min) + " to " +
                    number_text(set.scale.max) + " by " + number_text(set.scale.increment) + ")");
        }
        if (!points.empty() && point <= points.back()) {
            return Status::error(Status::Code::invalid_input,
                                 "cut scores must be strictly increasing; " + number_text(cuts[i]) +
                                     " follows " + number_text(cuts[i - 1]));
        }
        points.push_back(point);
    }
    return Status::ok();
}

// Ordering of keys for grouping (parameters compare by value; absent before present).
bool key_less(const RowKey& a, const RowKey& b) {
    return std::tie(a.data, a.n_new, a.n_old, a.method, a.parameter) <
           std::tie(b.data, b.n_new, b.n_old, b.method, b.parameter);
}

}  // namespace

std::int32_t condition_seed(std::int32_t study_seed, int index) {
    std::int32_t seed = study_seed;
    for (int i = 0; i < index; ++i) {
        seed = next_condition_seed(seed);
    }
    return seed;
}

int condition_count(std::size_t data_sets, std::size_t size_pairs) {
    return static_cast<int>(data_sets * std::max<std::size_t>(size_pairs, 1));
}

Status add_data_set(StudyPlan& plan, StudyDataSet data, bool& criterion_failed) {
    criterion_failed = false;
    StudyDesign& d = plan.design;
    d.data.push_back(std::move(data));
    const std::size_t k = d.data.size() - 1;
    const StudyDataSet& set = d.data[k];
    // The methods of the data set's design; the others do not run on it.
    std::vector<std::size_t> methods;
    std::vector<MethodChoice> choices;
    for (std::size_t m = 0; m < d.methods.size(); ++m) {
        if (design_of(d.methods[m].choice.method) == set.population.design()) {
            methods.push_back(m);
            choices.push_back(d.methods[m].choice);
        }
    }
    if (methods.empty()) {
        return Status::error(
            Status::Code::invalid_input,
            "no method of the study suits data set " + set.name + ", " +
                (set.population.design() == Design::anchor_test ? "an anchor-test data set"
                                                                : "a random-groups data set"));
    }
    std::vector<std::pair<std::int32_t, std::int32_t>> pairs = d.sizes;
    if (pairs.empty()) {
        pairs.emplace_back(0, 0);
    }
    std::vector<std::int32_t> cut_points;
    if (Status s = cut_points_of(d.cuts, set, cut_points); !s.is_ok()) {
        return s;
    }
    std::int32_t seed =
        plan.conditions.empty() ? d.seed : next_condition_seed(plan.conditions.back().seed);
    for (const auto& [new_size, old_size] : pairs) {
        Condition c;
        c.index = static_cast<int>(plan.conditions.size());
        c.data_set = static_cast<int>(k);
        c.seed = seed;
        seed = next_condition_seed(seed);
        SimulationOptions options;
        options.population = &set.population;
        options.scale = set.scale;
        options.methods = choices;
        options.replications = d.replications;
        options.seed = c.seed;
        options.new_size = new_size;
        options.old_size = old_size;
        if (Status s = check_sizes(options); !s.is_ok()) {
            return Status::error(s.code(), set.name + ": " + s.diagnostic());
        }
        if (Status s = check_settings(options); !s.is_ok()) {
            return s;
        }
        // The sizes the simulation will draw: the given ones, or the default ones.
        c.new_size = new_size != 0 ? new_size : set.population.default_new_size();
        c.old_size = old_size != 0 ? old_size : set.population.default_old_size();
        c.cut_points = cut_points;
        c.methods = methods;
        if (Status s = compute_criterion(plan, c); !s.is_ok()) {
            criterion_failed = true;
            return Status::error(s.code(), condition_name(plan, c) + ": " + s.diagnostic());
        }
        plan.conditions.push_back(std::move(c));
    }
    return Status::ok();
}

Status check_methods_suit(const StudyDesign& design) {
    for (const StudyMethod& m : design.methods) {
        const Design wanted = design_of(m.choice.method);
        const bool suits =
            std::any_of(design.data.begin(), design.data.end(),
                        [&](const StudyDataSet& set) { return set.population.design() == wanted; });
        if (!suits) {
            return Status::error(
                Status::Code::invalid_input,
                "the " + m.word +
                    " method suits no data set of the study (it is "
                    "for " +
                    (wanted == Design::anchor_test ? "anchor-test" : "random-groups") +
                    " data sets)");
        }
    }
    return Status::ok();
}

Status plan_study(StudyDesign design, StudyPlan& plan, PlanFailure& where) {
    std::vector<StudyDataSet> data = std::move(design.data);
    design.data.clear();
    plan = StudyPlan{};
    plan.design = std::move(design);
    where = PlanFailure{};
    for (std::size_t k = 0; k < data.size(); ++k) {
        if (Status s = add_data_set(plan, std::move(data[k]), where.criterion); !s.is_ok()) {
            where.data_set = static_cast<int>(k);
            return s;
        }
    }
    return check_methods_suit(plan.design);
}

// ---- Rows ----

void set_bias_and_rmse(ScoreRow& row) {
    row.bias = row.mean - row.criterion;
    row.rmse = std::sqrt(row.se * row.se + row.bias * row.bias);
}

SummaryRow summarise_scores(std::span<const ScoreRow> rows) {
    std::vector<const ScoreRow*> ordered;
    ordered.reserve(rows.size());
    for (const ScoreRow& row : rows) {
        ordered.push_back(&row);
    }
    std::stable_sort(ordered.begin(), ordered.end(),
                     [](const ScoreRow* a, const ScoreRow* b) { return a->score < b->score; });

    SummaryRow summary;
    summary.key = rows.front().key;
    summary.seed = rows.front().seed;
    summary.replications = rows.front().replications;
    summary.quantity = rows.front().quantity;
    const double uniform = 1.0 / static_cast<double>(rows.size());
    double se_w = 0.0, bias_w = 0.0, rmse_w = 0.0, se_u = 0.0, bias_u = 0.0, rmse_u = 0.0;
    for (const ScoreRow* row : ordered) {
        const double se2 = row->se * row->se;
        const double bias2 = row->bias * row->bias;
        const double rmse2 = row->rmse * row->rmse;
        se_w += row->weight * se2;
        bias_w += row->weight * bias2;
        rmse_w += row->weight * rmse2;
        se_u += uniform * se2;
        bias_u += uniform * bias2;
        rmse_u += uniform * rmse2;
    }
    summary.se_w = std::sqrt(se_w);
    summary.bias_w = std::sqrt(bias_w);
    summary.rmse_w = std::sqrt(rmse_w);
    summary.se_u = std::sqrt(se_u);
    summary.bias_u = std::sqrt(bias_u);
    summary.rmse_u = std::sqrt(rmse_u);
    return summary;
}

std::vector<SummaryRow> summarise_all_scores(std::span<const ScoreRow> rows) {
    // Group positions by key and quantity, remembering the order of first appearance.
    struct GroupLess {
        bool operator()(const std::pair<const RowKey*, Quantity>& a,
                        const std::pair<const RowKey*, Quantity>& b) const {
            if (key_less(*a.first, *b.first)) {
                return true;
            }
            if (key_less(*b.first, *a.first)) {
                return false;
            }
            return a.second < b.second;
        }
    };
    // Groups hold positions, not copies: a study's score rows are held once.
    std::map<std::pair<const RowKey*, Quantity>, std::size_t, GroupLess> group_of;
    std::vector<std::vector<std::size_t>> groups;
    for (std::size_t i = 0; i < rows.size(); ++i) {
        const auto [it, added] =
            group_of.try_emplace({&rows[i].key, rows[i].quantity}, groups.size());
        if (added) {
            groups.emplace_back();
        }
        groups[it->second].push_back(i);
    }
    std::vector<SummaryRow> summaries;
    summaries.reserve(groups.size());
    std::vector<ScoreRow> group_rows;
    for (const std::vector<std::size_t>& group : groups) {
        group_rows.clear();
        for (const std::size_t i : group) {
            group_rows.push_back(rows[i]);
        }
        summaries.push_back(summarise_scores(group_rows));
    }
    return summaries;
}

RowKey row_key(const StudyPlan& plan, const Condition& condition, std::size_t method) {
    const StudyMethod& m = plan.design.methods[method];
    RowKey key;
    key.data = plan.design.data[static_cast<std::size_t>(condition.data_set)].name;
    key.n_new = static_cast<double>(condition.new_size);
    key.n_old = static_cast<double>(condition.old_size);
    key.method = m.choice.method;
    if (m.shows_parameter) {
        key.parameter = m.choice.parameter;
    }
    return key;
}

std::string condition_name(const StudyPlan& plan, const Condition& condition) {
    // Built by appending: GCC 12 warns falsely about "literal" + std::string temporaries.
    std::string name("condition ");
    name.append(std::to_string(condition.index + 1));
    name.append(" (");
    name.append(plan.design.data[static_cast<std::size_t>(condition.data_set)].name);
    name.append(", n = ");
    name.append(std::to_string(condition.new_size));
    if (condition.old_size != condition.new_size) {
        name.push_back('/');
        name.append(std::to_string(condition.old_size));
    }
    name.push_back(')');
    return name;
}

double scale_score_of_slot(const ScaleSpec& scale, std::int32_t slot) {
    return scale.min + static_cast<double>(slot) * scale.increment;
}

}  // namespace eqsim
