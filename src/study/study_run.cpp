#include "study/study_run.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <condition_variable>
#include <mutex>
#include <thread>
#include <tuple>

#include "engine/equating/equipercentile.h"
#include "engine/equating/scale_conversion.h"
#include "io/data_file.h"
#include "engine/sampling/uniform_random.h"

namespace eqsim::study {

namespace {

// The multiplier that spaces condition seeds along the generator's cycle (another primitive root
// of 2^31 - 1, so that consecutive conditions start far apart).
constexpr std::int64_t kSeedSpacing = 48271;

std::string located(const std::string& file, int line, const std::string& what) {
    return file + ":" + std::to_string(line) + ": " + what;
}

double total_of(const std::vector<double>& values) {
    double total = 0.0;
    for (const double v : values) {
        total += v;
    }
    return total;
}

bool read_population(const StudySpec& spec, const DataSetSpec& data, Population& population,
                     std::string& diagnostic) {
    DataArrays arrays;
    if (!read_data_file(data.path, data.columns, arrays, diagnostic)) {
        diagnostic += " (the data set of " + spec.path + ":" + std::to_string(data.line) + ")";
        return false;
    }
    const auto kx = static_cast<std::size_t>(arrays.new_points);
    const auto ky = static_cast<std::size_t>(arrays.old_points);
    population.new_frequencies.assign(arrays.new_frequencies().begin(),
                                      arrays.new_frequencies().begin() + kx);
    population.old_frequencies.assign(arrays.old_frequencies().begin(),
                                      arrays.old_frequencies().begin() + ky);
    population.conversion.assign(arrays.scale_conversion().begin(),
                                 arrays.scale_conversion().begin() + ky);
    if (spec.criterion.kind == CriterionKind::column &&
        !read_criterion_column(data.path, spec.criterion.column, static_cast<int>(kx),
                               population.criterion_column, diagnostic)) {
        diagnostic +=
            " (the criterion of " + spec.path + ":" + std::to_string(spec.criterion.line) + ")";
        return false;
    }
    const double total = total_of(population.new_frequencies);
    population.relative.resize(kx);
    for (std::size_t i = 0; i < kx; ++i) {
        population.relative[i] = population.new_frequencies[i] / total;
    }
    return true;
}

std::vector<double> relative_of(const std::vector<double>& frequencies) {
    const double total = total_of(frequencies);
    std::vector<double> relative(frequencies.size());
    for (std::size_t i = 0; i < frequencies.size(); ++i) {
        relative[i] = frequencies[i] / total;
    }
    return relative;
}

// The criterion's equated raw scores of one condition: one set for every method, or one per
// method for criterion Same.
bool criterion_raw_scores(const StudyPlan& plan, const Population& p, const Condition& c,
                          std::vector<std::vector<double>>& raw, std::string& diagnostic) {
    const std::size_t kx = p.new_frequencies.size();
    const std::vector<double> old_relative = relative_of(p.old_frequencies);
    switch (plan.spec.criterion.kind) {
        case CriterionKind::column:
            raw.assign(1, p.criterion_column);
            return true;
        case CriterionKind::unsmoothed:
            raw.assign(1, std::vector<double>(kx));
            if (!equate_unsmoothed(static_cast<int>(kx), static_cast<int>(old_relative.size()),
                                   p.relative, old_relative, raw[0])) {
                diagnostic = "no storage for the criterion";
                return false;
            }
            return true;
        case CriterionKind::same:
            raw.assign(plan.methods.size(), std::vector<double>(kx));
            for (std::size_t m = 0; m < plan.methods.size(); ++m) {
                const MethodChoice& choice = plan.methods[m];
                const SamplePair populations{p.relative, old_relative,
                                             static_cast<double>(c.new_size),
                                             static_cast<double>(c.old_size)};
                const Status s =
                    method_info(choice.method).equate(populations, choice.parameter, raw[m]);
                if (!s.is_ok()) {
                    diagnostic =
                        "criterion Same: the " + std::string(method_info(choice.method).word) +
                        " method cannot equate the populations themselves (" + s.diagnostic() + ")";
                    return false;
                }
            }
            return true;
    }
    return false;
}

bool all_finite(const std::vector<double>& values) {
    return std::all_of(values.begin(), values.end(), [](double v) { return std::isfinite(v); });
}

bool compute_criterion(const StudyPlan& plan, const Population& p, Condition& c,
                       std::string& diagnostic) {
    std::vector<std::vector<double>> raw;
    if (!criterion_raw_scores(plan, p, c, raw, diagnostic)) {
        return false;
    }
    const ScaleSpec& scale = plan.spec.data[static_cast<std::size_t>(c.data_set)].scale;
    const int kx = static_cast<int>(p.new_frequencies.size());
    const int ky = static_cast<int>(p.old_frequencies.size());
    for (auto& quantity : c.criterion) {
        quantity.clear();
    }
    for (const std::vector<double>& r : raw) {
        std::vector<double> unrounded(r.size());
        std::vector<double> rounded(r.size());
        convert_to_scale(kx, ky, scale, r, p.conversion, unrounded, rounded);
        if (!all_finite(r) || !all_finite(unrounded)) {
            diagnostic = "the criterion's equated or scale scores are not finite numbers";
            return false;
        }
        c.criterion[0].push_back(r);
        c.criterion[1].push_back(std::move(unrounded));
        c.criterion[2].push_back(std::move(rounded));
    }
    return true;
}

// The sizes of a condition: as the study gives them, or the populations' rounded totals.
std::vector<std::pair<std::int32_t, std::int32_t>> size_pairs(const StudySpec& spec) {
    std::vector<std::pair<std::int32_t, std::int32_t>> pairs;
    for (const SamplePairSpec& s : spec.sizes) {
        pairs.emplace_back(s.new_size, s.old_size);
    }
    if (pairs.empty()) {
        pairs.emplace_back(0, 0);
    }
    return pairs;
}

SimulationOptions simulation_options(const StudyPlan& plan, const Condition& c) {
    const Population& p = plan.populations[static_cast<std::size_t>(c.data_set)];
    SimulationOptions o;
    o.new_frequencies = p.new_frequencies;
    o.old_frequencies = p.old_frequencies;
    o.conversion = p.conversion;
    o.scale = plan.spec.data[static_cast<std::size_t>(c.data_set)].scale;
    o.methods = plan.methods;
    o.replications = plan.spec.replications;
    o.seed = c.seed;
    o.new_size = c.new_size;
    o.old_size = c.old_size;
    return o;
}

RowKey key_of(const StudyPlan& plan, const Condition& c, std::size_t method) {
    RowKey key;
    key.data = plan.spec.data[static_cast<std::size_t>(c.data_set)].as_given;
    key.n_new = static_cast<double>(c.new_size);
    key.n_old = static_cast<double>(c.old_size);
    key.method = plan.methods[method].method;
    if (plan.spec.methods[method].has_parameter) {
        key.parameter = plan.methods[method].parameter;
    }
    return key;
}

std::string condition_name(const StudyPlan& plan, const Condition& c) {
    RowKey key = key_of(plan, c, 0);
    return "condition " + std::to_string(c.index + 1) + " (" + condition_label(key) + ")";
}

void append_tables(const StudyPlan& plan, const Condition& c, const SimulationResult& result,
                   ConditionTables& tables) {
    const ScaleSpec& scale = plan.spec.data[static_cast<std::size_t>(c.data_set)].scale;
    const Population& p = plan.populations[static_cast<std::size_t>(c.data_set)];
    for (std::size_t m = 0; m < result.methods.size(); ++m) {
        const MethodResult& r = result.methods[m];
        const RowKey key = key_of(plan, c, m);
        const std::size_t which = c.criterion[0].size() == 1 ? 0 : m;
        const QuantityMoments* moments[3] = {&r.equated, &r.unrounded, &r.rounded};
        for (int x = 0; x < result.new_points; ++x) {
            const auto xi = static_cast<std::size_t>(x);
            for (int q = 0; q < 3; ++q) {
                ScoreRow row;
                row.key = key;
                row.seed = c.seed;
                row.replications = plan.spec.replications;
                row.score = x;
                row.weight = p.relative[xi];
                row.quantity = static_cast<Quantity>(q);
                row.criterion = c.criterion[q][which][xi];
                row.mean = moments[q]->mean[xi];
                row.se = moments[q]->sd[xi];
                set_bias_and_rmse(row);
                tables.scores.push_back(std::move(row));
            }
        }
        for (int x = 0; x < result.new_points; ++x) {
            for (int s = 0; s < result.scale_points; ++s) {
                const std::int32_t count =
                    r.histogram[static_cast<std::size_t>(x) *
                                    static_cast<std::size_t>(result.scale_points) +
                                static_cast<std::size_t>(s)];
                if (count != 0) {
                    append_histogram_row(
                        HistogramRow{key, x, scale.min + static_cast<double>(s) * scale.increment,
                                     count},
                        tables.histograms);
                    ++tables.histogram_rows;
                }
            }
        }
    }
}

double method_cost(Method method, double points) {
    return method_info(method).cost_per_point * points;
}

// A piece of work: some of the methods of one condition. Every piece of a condition draws the
// condition's samples from its seed, so its methods get exactly the samples they would get in one
// piece; splitting a condition costs only the drawing of its samples again.
struct Task {
    std::size_t slot = 0;              // which of the conditions run
    std::vector<std::size_t> methods;  // positions in StudyPlan::methods, ascending
    double cost = 0.0;
};

// A failure, ordered as a single thread would meet it: by condition, then replication, then
// method.
struct Failure {
    int condition = -1;
    std::int32_t replication = 0;
    int method = 0;
    Status status;

    bool before(const Failure& other) const {
        if (other.condition < 0) {
            return true;
        }
        return std::tie(condition, replication, method) <
               std::tie(other.condition, other.replication, other.method);
    }
};

// The work of the conditions, shared by the threads: which task is next, what has been done,
// and the earliest failure. Tasks are handed out largest first, so that the last ones to finish
// are short; the results go to their own slots, so the order of work changes nothing.
class Scheduler {
  public:
    Scheduler(const StudyPlan& plan, const std::vector<int>& positions, const RunOptions& options,
              std::vector<ConditionTables>& tables)
        : plan_(plan), positions_(positions), options_(options), tables_(tables) {
        slots_.resize(positions.size());
        for (Slot& slot : slots_) {
            slot.methods.resize(plan.methods.size());
        }
        make_tasks();
    }

    void work() {
        for (;;) {
            std::size_t task = 0;
            {
                std::lock_guard<std::mutex> lock(mutex_);
                if (next_ >= tasks_.size()) {
                    return;
                }
                task = next_++;
            }
            run_task(tasks_[task]);
        }
    }

    // Reports progress until every task is done; runs on the calling thread.
    void watch() {
        std::unique_lock<std::mutex> lock(mutex_);
        while (tasks_done_ < tasks_.size()) {
            changed_.wait_for(lock, std::chrono::milliseconds(200));
            if (options_.progress) {
                // Replications of whole conditions: the units done, in shares of a condition.
                const double units = static_cast<double>(units_.load());
                const double per_condition = static_cast<double>(plan_.methods.size());
                options_.progress(static_cast<int>(conditions_done_),
                                  static_cast<std::int64_t>(units / per_condition));
            }
        }
    }

    int threads_wanted() const {
        return std::max(1, std::min<int>(options_.jobs, static_cast<int>(tasks_.size())));
    }

    Status result() const { return failure_.status; }

  private:
    // One condition's results as its tasks complete.
    struct Slot {
        std::vector<MethodResult> methods;  // in StudyPlan::methods order
        SimulationResult shape;             // sizes and counts of the condition's result
        std::size_t tasks = 0;
        std::size_t tasks_done = 0;
    };

    const Condition& condition(std::size_t slot) const {
        return plan_.conditions[static_cast<std::size_t>(positions_[slot])];
    }

    double sampling_cost(std::size_t slot) const {
        const Condition& c = condition(slot);
        return static_cast<double>(c.new_size) + static_cast<double>(c.old_size);
    }

    // Each condition's methods in groups of about equal cost, as many groups a condition as keeps
    // the threads busy for the shortest time: a group saves its share of the equating on another
    // thread but draws the samples again, so one thread never splits, and many conditions rarely.
    void make_tasks() {
        const std::size_t most = std::min<std::size_t>(plan_.methods.size(), 8);
        std::vector<Task> best = tasks_with_groups(1);
        double best_time = makespan(best);
        for (std::size_t groups = 2; options_.jobs > 1 && groups <= most; ++groups) {
            std::vector<Task> tasks = tasks_with_groups(groups);
            if (const double time = makespan(tasks); time < best_time) {
                best = std::move(tasks);
                best_time = time;
            }
        }
        tasks_ = std::move(best);
        for (const Task& t : tasks_) {
            ++slots_[t.slot].tasks;
        }
    }

    std::vector<Task> tasks_with_groups(std::size_t groups) const {
        std::vector<Task> tasks;
        const std::size_t methods = plan_.methods.size();
        for (std::size_t slot = 0; slot < positions_.size(); ++slot) {
            const double points = static_cast<double>(
                plan_.populations[static_cast<std::size_t>(condition(slot).data_set)]
                    .new_frequencies.size());
            // Methods dearest first, each to the group that costs least so far.
            std::vector<std::size_t> order(methods);
            for (std::size_t m = 0; m < methods; ++m) {
                order[m] = m;
            }
            std::stable_sort(order.begin(), order.end(), [&](std::size_t a, std::size_t b) {
                return method_cost(plan_.methods[a].method, points) >
                       method_cost(plan_.methods[b].method, points);
            });
            std::vector<Task> group(groups);
            for (Task& t : group) {
                t.slot = slot;
                t.cost = sampling_cost(slot);
            }
            for (const std::size_t m : order) {
                Task& cheapest =
                    *std::min_element(group.begin(), group.end(),
                                      [](const Task& a, const Task& b) { return a.cost < b.cost; });
                cheapest.methods.push_back(m);
                cheapest.cost += method_cost(plan_.methods[m].method, points);
            }
            for (Task& t : group) {
                if (!t.methods.empty()) {
                    std::sort(t.methods.begin(), t.methods.end());
                    tasks.push_back(std::move(t));
                }
            }
        }
        std::stable_sort(tasks.begin(), tasks.end(),
                         [](const Task& a, const Task& b) { return a.cost > b.cost; });
        return tasks;
    }

    // The estimated time until the last thread finishes, tasks (largest first) going each to the
    // thread that is free first.
    double makespan(const std::vector<Task>& tasks) const {
        std::vector<double> busy(static_cast<std::size_t>(std::max(1, options_.jobs)), 0.0);
        for (const Task& t : tasks) {
            *std::min_element(busy.begin(), busy.end()) += t.cost;
        }
        return *std::max_element(busy.begin(), busy.end());
    }

    // A task stops when a condition before its own has failed: that failure is the one
    // reported, whatever the order in which the threads meet failures.
    bool should_stop(int index) const {
        const int failed = failed_condition_.load();
        return failed >= 0 && failed < index;
    }

    void run_task(const Task& task) {
        const Condition& c = condition(task.slot);
        std::vector<MethodChoice> methods;
        for (const std::size_t m : task.methods) {
            methods.push_back(plan_.methods[m]);
        }
        SimulationOptions options = simulation_options(plan_, c);
        options.methods = methods;
        const auto units = static_cast<std::int64_t>(task.methods.size());
        options.progress = [&](std::int32_t) {
            units_.fetch_add(units);
            return !should_stop(c.index);
        };
        SimulationResult result;
        const Status status = run_simulation(options, result);

        std::unique_lock<std::mutex> lock(mutex_);
        Slot& slot = slots_[task.slot];
        if (status.is_ok()) {
            for (std::size_t i = 0; i < task.methods.size(); ++i) {
                slot.methods[task.methods[i]] = std::move(result.methods[i]);
            }
            result.methods.clear();
            slot.shape = std::move(result);
        } else if (status.code() != Status::Code::cancelled) {
            record_failure(c, task, result, status);
        }
        const bool last = ++slot.tasks_done == slot.tasks;
        if (last && failed_condition_.load() < 0) {
            lock.unlock();
            finish_condition(task.slot);
            lock.lock();
        }
        if (last) {
            ++conditions_done_;
        }
        ++tasks_done_;
        changed_.notify_all();
    }

    void record_failure(const Condition& c, const Task& task, const SimulationResult& result,
                        const Status& status) {
        Failure f;
        f.condition = c.index;
        f.replication = result.failed_replication;
        const std::size_t method =
            result.failed_method >= 0 ? task.methods[static_cast<std::size_t>(result.failed_method)]
                                      : 0;
        f.method = static_cast<int>(method);
        if (!f.before(failure_)) {
            return;
        }
        std::string label;
        if (result.failed_method >= 0) {
            label = method_label(key_of(plan_, c, method)) + ", ";
        }
        f.status = Status::error(status.code(),
                                 condition_name(plan_, c) + ", " + label + status.diagnostic());
        failure_ = std::move(f);
        failed_condition_.store(failure_.condition);
    }

    // Every task of the condition is done: its tables, in the study's method order.
    void finish_condition(std::size_t index) {
        Slot& slot = slots_[index];
        slot.shape.methods = std::move(slot.methods);
        append_tables(plan_, condition(index), slot.shape, tables_[index]);
        slot.shape = SimulationResult();
    }

    const StudyPlan& plan_;
    const std::vector<int>& positions_;
    const RunOptions& options_;
    std::vector<ConditionTables>& tables_;
    std::vector<Slot> slots_;
    std::vector<Task> tasks_;
    std::mutex mutex_;
    std::condition_variable changed_;
    std::size_t next_ = 0;
    std::size_t tasks_done_ = 0;
    std::size_t conditions_done_ = 0;
    std::atomic<std::int64_t> units_{0};
    std::atomic<int> failed_condition_{-1};
    Failure failure_;
};

}  // namespace

std::int32_t condition_seed(std::int32_t study_seed, int index) {
    std::int64_t seed = study_seed;
    for (int i = 0; i < index; ++i) {
        seed = seed * kSeedSpacing % kGeneratorModulus;
    }
    return static_cast<std::int32_t>(seed);
}

bool plan_study(const StudySpec& spec, std::int32_t seed, StudyPlan& plan,
                std::string& diagnostic) {
    plan = StudyPlan{};
    plan.spec = spec;
    plan.seed = seed;
    for (const MethodSpec& m : spec.methods) {
        plan.methods.push_back(MethodChoice{m.method, m.parameter});
    }
    plan.populations.resize(spec.data.size());
    const auto pairs = size_pairs(spec);
    std::int32_t next_seed = seed;
    for (std::size_t d = 0; d < spec.data.size(); ++d) {
        const DataSetSpec& data = spec.data[d];
        Population& population = plan.populations[d];
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
        if (!read_population(spec, data, population, diagnostic)) {
            return false;
        }
        for (const auto& [new_size, old_size] : pairs) {
            Condition c;
            c.index = static_cast<int>(plan.conditions.size());
            c.data_set = static_cast<int>(d);
            c.seed = next_seed;
            next_seed = static_cast<std::int32_t>(next_seed * kSeedSpacing % kGeneratorModulus);
            SimulationOptions options = simulation_options(plan, c);
            options.new_size = new_size;
            options.old_size = old_size;
            if (Status s = check_populations(options); !s.is_ok()) {
                diagnostic = located(spec.path, data.line, data.as_given + ": " + s.diagnostic());
                return false;
            }
            if (Status s = check_settings(options); !s.is_ok()) {
                diagnostic = located(spec.path, data.line, s.diagnostic());
                return false;
            }
            // The sizes the simulation will draw: the given ones, or the rounded totals.
            c.new_size =
                new_size != 0
                    ? new_size
                    : static_cast<std::int32_t>(total_of(population.new_frequencies) + 0.5);
            c.old_size =
                old_size != 0
                    ? old_size
                    : static_cast<std::int32_t>(total_of(population.old_frequencies) + 0.5);
            if (!compute_criterion(plan, population, c, diagnostic)) {
                const int line = spec.criterion.line != 0 ? spec.criterion.line : data.line;
                diagnostic = located(spec.path, line, condition_name(plan, c) + ": " + diagnostic);
                return false;
            }
            plan.conditions.push_back(std::move(c));
        }
    }
    return true;
}

std::int64_t replications_of(const StudyPlan& plan, const std::vector<int>& positions) {
    return static_cast<std::int64_t>(positions.size()) * plan.spec.replications;
}

Status run_conditions(const StudyPlan& plan, const std::vector<int>& positions,
                      const RunOptions& options, std::vector<ConditionTables>& tables) {
    tables.assign(positions.size(), ConditionTables{});
    Scheduler scheduler(plan, positions, options, tables);
    const int jobs = scheduler.threads_wanted();
    std::vector<std::thread> threads;
    threads.reserve(static_cast<std::size_t>(jobs));
    for (int j = 0; j < jobs; ++j) {
        threads.emplace_back([&scheduler] { scheduler.work(); });
    }
    scheduler.watch();
    for (std::thread& t : threads) {
        t.join();
    }
    return scheduler.result();
}

}  // namespace eqsim::study
