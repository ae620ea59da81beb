// Running a study's conditions on a pool of threads. Each condition's methods are split into
// groups of about equal cost when that shortens the run; every group of a condition draws the
// condition's samples from its seed, so its methods get exactly the samples they would get in one
// group, and the results go to their own slots: neither the number of threads nor the order in
// which they finish changes a bit of the results.
#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>
#include <tuple>

#include "engine/simulation/method_table.h"
#include "engine/study/study.h"

namespace eqsim {

namespace {

// How often the watching thread reports progress.
constexpr std::chrono::milliseconds kProgressInterval{200};
// The most groups a condition's methods are split into.
constexpr std::size_t kMostGroups = 8;

double method_cost(Method method, double points) {
    return method_info(method).cost_per_point * points;
}

SimulationOptions simulation_options(const StudyPlan& plan, const Condition& c) {
    const StudyDataSet& data = plan.design.data[static_cast<std::size_t>(c.data_set)];
    SimulationOptions o;
    o.population = &data.population;
    o.scale = data.scale;
    o.replications = plan.design.replications;
    o.seed = c.seed;
    o.new_size = c.new_size;
    o.old_size = c.old_size;
    o.cuts = c.cut_points;
    return o;
}

void set_errors(const QuantityErrors* errors, std::size_t x, ScoreRow& row) {
    if (errors != nullptr) {
        row.mcse_mean = errors->mean[x];
        row.mcse_se = errors->se[x];
        row.mcse_rmse = errors->rmse[x];
    }
}

void set_errors(const QuantityErrors* errors, SummaryRow& row) {
    if (errors != nullptr) {
        row.mcse_se_w = errors->se_w;
        row.mcse_bias_w = errors->bias_w;
        row.mcse_rmse_w = errors->rmse_w;
        row.mcse_se_u = errors->se_u;
        row.mcse_bias_u = errors->bias_u;
        row.mcse_rmse_u = errors->rmse_u;
    }
}

// One quantity's Monte Carlo standard errors in a method's result, or null when there are none
// (fewer than two replications).
const QuantityErrors* errors_of(const MethodResult& r, Quantity q) {
    if (!r.errors) {
        return nullptr;
    }
    const std::optional<QuantityErrors>& e = q == Quantity::raw     ? r.errors->equated
                                             : q == Quantity::scale ? r.errors->unrounded
                                                                    : r.errors->rounded;
    return e ? &*e : nullptr;
}

// The rows of one condition from its methods' results, in the study's method order.
void append_rows(const StudyPlan& plan, const Condition& c, const SimulationResult& result,
                 ConditionResult& out) {
    const StudyDataSet& data = plan.design.data[static_cast<std::size_t>(c.data_set)];
    const std::span<const double> weights = data.population.new_relative();
    const auto kx = static_cast<std::size_t>(result.new_points);
    const auto points = static_cast<std::size_t>(result.scale_points);
    for (const std::size_t m : c.methods) {
        const MethodResult& r = result.methods[m];
        const RowKey key = row_key(plan, c, m);
        const PerQuantity<std::vector<double>>& criterion =
            c.criterion[c.criterion.size() == 1 ? 0 : m];
        for (std::size_t x = 0; x < kx; ++x) {
            for (const Quantity q : kQuantities) {
                ScoreRow row;
                row.key = key;
                row.seed = c.seed;
                row.replications = plan.design.replications;
                row.score = static_cast<std::int32_t>(x);
                row.weight = weights[x];
                row.quantity = q;
                row.criterion = criterion[q][x];
                row.mean = r.moments[q].mean[x];
                row.se = r.moments[q].sd[x];
                set_bias_and_rmse(row);
                set_errors(errors_of(r, q), x, row);
                out.scores.push_back(std::move(row));
            }
        }
        for (std::size_t x = 0; x < kx; ++x) {
            for (std::size_t s = 0; s < points; ++s) {
                const std::int32_t count = r.histogram[x * points + s];
                if (count != 0) {
                    out.histogram.push_back(HistogramCell{static_cast<std::uint32_t>(m),
                                                          static_cast<std::int32_t>(x),
                                                          static_cast<std::int32_t>(s), count});
                }
            }
        }
    }
    out.summaries = summarise_all_scores(out.scores);
    // summarise_all_scores gives each method's quantities in order, methods in order.
    for (std::size_t i = 0; i < out.summaries.size(); ++i) {
        set_errors(
            errors_of(result.methods[c.methods[i / kQuantities.size()]], out.summaries[i].quantity),
            out.summaries[i]);
    }
    for (const std::size_t m : c.methods) {
        const MethodResult& r = result.methods[m];
        if (!r.errors) {
            continue;
        }
        const RowKey key = row_key(plan, c, m);
        for (std::size_t i = 0; i < r.errors->decisions.size(); ++i) {
            const CutDecision& d = r.errors->decisions[i];
            DecisionRow row;
            row.key = key;
            row.seed = c.seed;
            row.replications = plan.design.replications;
            row.cut = plan.design.cuts[i];
            row.criterion_pass = d.criterion_pass;
            row.misclassified = d.misclassified;
            row.mcse_misclassified = d.mcse_misclassified;
            out.decisions.push_back(std::move(row));
        }
    }
}

// A piece of work: some of the methods of one condition.
struct Task {
    std::size_t slot = 0;              // which of the conditions run
    std::vector<std::size_t> methods;  // positions in StudyDesign::methods, ascending
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
    Scheduler(const StudyPlan& plan, std::span<const int> positions, const StudyRunOptions& options,
              std::vector<ConditionResult>& results)
        : plan_(plan), positions_(positions), options_(options), results_(results) {
        slots_.resize(positions.size());
        for (Slot& slot : slots_) {
            slot.methods.resize(plan.design.methods.size());
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
            changed_.wait_for(lock, kProgressInterval);
            if (options_.progress) {
                // Replications of whole conditions: the share of the methods' replications done.
                const double units = static_cast<double>(units_.load());
                const double replications =
                    static_cast<double>(positions_.size()) * plan_.design.replications;
                if (!options_.progress(
                        static_cast<int>(conditions_done_),
                        static_cast<std::int64_t>(units / total_units_ * replications))) {
                    cancelled_.store(true);
                }
            }
        }
    }

    int threads_wanted() const {
        return std::max(1, std::min<int>(options_.jobs, static_cast<int>(tasks_.size())));
    }

    Status result() const {
        if (failure_.condition < 0 && cancelled_.load()) {
            return Status::error(Status::Code::cancelled, "the study was stopped");
        }
        return failure_.status;
    }

  private:
    // One condition's results as its tasks complete.
    struct Slot {
        std::vector<MethodResult> methods;  // in StudyDesign::methods order
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
        const std::size_t most = std::min(plan_.design.methods.size(), kMostGroups);
        total_units_ = 0.0;
        for (std::size_t slot = 0; slot < positions_.size(); ++slot) {
            total_units_ +=
                static_cast<double>(condition(slot).methods.size()) * plan_.design.replications;
        }
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
        const std::vector<StudyMethod>& methods = plan_.design.methods;
        for (std::size_t slot = 0; slot < positions_.size(); ++slot) {
            const std::vector<std::size_t>& runs = condition(slot).methods;
            const double points = static_cast<double>(
                plan_.design.data[static_cast<std::size_t>(condition(slot).data_set)]
                    .population.new_points());
            // Methods dearest first, each to the group that costs least so far.
            std::vector<std::size_t> order = runs;
            std::stable_sort(order.begin(), order.end(), [&](std::size_t a, std::size_t b) {
                return method_cost(methods[a].choice.method, points) >
                       method_cost(methods[b].choice.method, points);
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
                cheapest.cost += method_cost(methods[m].choice.method, points);
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

    // A task stops when the run is cancelled or a condition before its own has failed: that
    // failure is the one reported, whatever the order in which the threads meet failures.
    bool should_stop(int index) const {
        const int failed = failed_condition_.load();
        return cancelled_.load() || (failed >= 0 && failed < index);
    }

    void run_task(const Task& task) {
        const Condition& c = condition(task.slot);
        std::vector<MethodChoice> methods;
        for (const std::size_t m : task.methods) {
            methods.push_back(plan_.design.methods[m].choice);
        }
        SimulationOptions options = simulation_options(plan_, c);
        options.methods = methods;
        // Each method's criterion: the condition's own for criterion Same, else the shared one.
        std::vector<PerQuantity<std::vector<double>>> criteria;
        if (c.criterion.size() == 1) {
            criteria.push_back(c.criterion.front());
        } else {
            for (const std::size_t m : task.methods) {
                criteria.push_back(c.criterion[m]);
            }
        }
        options.criteria = criteria;
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
        if (last && failed_condition_.load() < 0 && !cancelled_.load()) {
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
            label = plan_.design.methods[method].label + ", ";
        }
        f.status = Status::error(status.code(),
                                 condition_name(plan_, c) + ", " + label + status.diagnostic());
        failure_ = std::move(f);
        failed_condition_.store(failure_.condition);
    }

    // Every task of the condition is done: its rows, in the study's method order.
    void finish_condition(std::size_t index) {
        Slot& slot = slots_[index];
        slot.shape.methods = std::move(slot.methods);
        append_rows(plan_, condition(index), slot.shape, results_[index]);
        slot.shape = SimulationResult();
    }

    const StudyPlan& plan_;
    std::span<const int> positions_;
    const StudyRunOptions& options_;
    std::vector<ConditionResult>& results_;
    std::vector<Slot> slots_;
    std::vector<Task> tasks_;
    std::mutex mutex_;
    std::condition_variable changed_;
    std::size_t next_ = 0;
    std::size_t tasks_done_ = 0;
    std::size_t conditions_done_ = 0;
    std::atomic<std::int64_t> units_{0};
    double total_units_ = 1.0;  // replications of every method of every condition run
    std::atomic<int> failed_condition_{-1};
    std::atomic<bool> cancelled_{false};
    Failure failure_;
};

}  // namespace

std::int64_t replications_of(const StudyPlan& plan, std::span<const int> positions) {
    return static_cast<std::int64_t>(positions.size()) * plan.design.replications;
}

Status run_conditions(const StudyPlan& plan, std::span<const int> positions,
                      const StudyRunOptions& options, std::vector<ConditionResult>& results) {
    results.assign(positions.size(), ConditionResult{});
    Scheduler scheduler(plan, positions, options, results);
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

}  // namespace eqsim
