#include <cmath>
#include <string>

#include "engine/engine.h"
#include "engine/numeric/number_text.h"
#include "engine/numeric/storage.h"

namespace eqsim {

namespace {

Status invalid(std::string what) {
    return Status::error(Status::Code::invalid_input, std::move(what));
}

double total_of(std::span<const double> frequencies) {
    double total = 0.0;
    for (const double f : frequencies) {
        total += f;
    }
    return total;
}

// The sample size a population total gives: the total rounded to the nearest whole examinee,
// which must be from 1 to 2147483647.
bool sample_size_of_total(double total, std::int32_t& size) {
    if (!(total > 0.0) || !(total + 0.5 < 2147483648.0)) {
        return false;
    }
    size = static_cast<std::int32_t>(total + 0.5);
    return size >= 1;
}

Status check_frequencies(std::span<const double> frequencies, const char* form) {
    for (std::size_t i = 0; i < frequencies.size(); ++i) {
        if (!std::isfinite(frequencies[i]) || frequencies[i] < 0.0) {
            return invalid(std::string(form) + " frequency of raw score " + std::to_string(i) +
                           " is " + fixed_text(frequencies[i]) +
                           "; frequencies must be finite and not negative");
        }
    }
    return Status::ok();
}

Status settle_total(std::span<const double> frequencies, const char* form, double& total,
                    std::int32_t& size) {
    total = total_of(frequencies);
    if (!sample_size_of_total(total, size)) {
        return invalid(std::string(form) + " frequencies total " + fixed_text(total) +
                       ", which gives no sample size from 1 to 2147483647");
    }
    return Status::ok();
}

std::vector<double> relative_frequencies(std::span<const double> frequencies, double total) {
    std::vector<double> relative(frequencies.size());
    for (std::size_t i = 0; i < frequencies.size(); ++i) {
        relative[i] = frequencies[i] / total;
    }
    return relative;
}

// Sums each total score's row of a table (row-major by total score) into its marginal.
std::vector<double> row_sums(std::span<const double> cells, int rows, int columns) {
    std::vector<double> sums(static_cast<std::size_t>(rows), 0.0);
    for (int x = 0; x < rows; ++x) {
        for (int v = 0; v < columns; ++v) {
            sums[static_cast<std::size_t>(x)] +=
                cells[static_cast<std::size_t>(x) * static_cast<std::size_t>(columns) +
                      static_cast<std::size_t>(v)];
        }
    }
    return sums;
}

Status check_table(std::span<const double> cells, int points, int anchor_points, AnchorKind anchor,
                   const char* group) {
    if (points < 1 || anchor_points < 1 ||
        cells.size() !=
            static_cast<std::size_t>(points) * static_cast<std::size_t>(anchor_points)) {
        return invalid(std::string(group) + " table has " + std::to_string(cells.size()) +
                       " cells for " + std::to_string(points) + " total and " +
                       std::to_string(anchor_points) + " anchor score points");
    }
    for (int x = 0; x < points; ++x) {
        for (int v = 0; v < anchor_points; ++v) {
            const double c =
                cells[static_cast<std::size_t>(x) * static_cast<std::size_t>(anchor_points) +
                      static_cast<std::size_t>(v)];
            if (!std::isfinite(c) || c < 0.0) {
                return invalid(std::string(group) + " count of total " + std::to_string(x) +
                               " and anchor " + std::to_string(v) + " is " + fixed_text(c) +
                               "; counts must be finite and not negative");
            }
            if (anchor == AnchorKind::internal && v > x && c > 0.0) {
                return invalid(std::string(group) + " has examinees with anchor score " +
                               std::to_string(v) + " above their total score " + std::to_string(x) +
                               ", which an internal anchor (counted in the total) cannot have");
            }
        }
    }
    return Status::ok();
}

}  // namespace

Status Population::anchor_test(std::span<const double> new_cells, int new_points,
                               std::span<const double> old_cells, int old_points, int anchor_points,
                               AnchorKind anchor, std::span<const double> conversion,
                               Population& population) {
    population = Population();
    if (anchor_points < 2) {
        return invalid("the anchor needs at least 2 score points; found " +
                       std::to_string(anchor_points));
    }
    if (Status s = check_table(new_cells, new_points, anchor_points, anchor, "the new group's");
        !s.is_ok()) {
        return s;
    }
    if (Status s = check_table(old_cells, old_points, anchor_points, anchor, "the old group's");
        !s.is_ok()) {
        return s;
    }
    Population p;
    Status built = Status::ok();
    if (!with_storage([&] {
            const std::vector<double> new_totals = row_sums(new_cells, new_points, anchor_points);
            const std::vector<double> old_totals = row_sums(old_cells, old_points, anchor_points);
            built = random_groups(new_totals, old_totals, conversion, p);
            if (!built.is_ok()) {
                return true;
            }
            p.new_joint_ = relative_frequencies(new_cells, p.new_total_);
            p.old_joint_ = relative_frequencies(old_cells, p.old_total_);
            return true;
        })) {
        return Status::error(Status::Code::no_storage, "no storage for the populations");
    }
    if (!built.is_ok()) {
        return built;
    }
    p.design_ = Design::anchor_test;
    p.anchor_ = anchor;
    p.anchor_points_ = anchor_points;
    population = std::move(p);
    return Status::ok();
}

Status Population::random_groups(std::span<const double> new_frequencies,
                                 std::span<const double> old_frequencies,
                                 std::span<const double> conversion, Population& population) {
    population = Population();
    const std::size_t kx = new_frequencies.size();
    const std::size_t ky = old_frequencies.size();
    if (kx < kMinimumScorePoints || ky < kMinimumScorePoints) {
        return invalid("each form needs at least " + std::to_string(kMinimumScorePoints) +
                       " score points; found " + std::to_string(kx) + " new-form and " +
                       std::to_string(ky) + " old-form");
    }
    if (conversion.size() != ky) {
        return invalid("the conversion has " + std::to_string(conversion.size()) +
                       " scale scores for " + std::to_string(ky) + " old-form score points");
    }
    for (std::size_t i = 0; i < ky; ++i) {
        if (!std::isfinite(conversion[i])) {
            return invalid("the scale score of old-form raw score " + std::to_string(i) +
                           " is not a finite number");
        }
    }
    Population p;
    if (Status s = check_frequencies(new_frequencies, "new-form"); !s.is_ok()) {
        return s;
    }
    if (Status s = check_frequencies(old_frequencies, "old-form"); !s.is_ok()) {
        return s;
    }
    if (Status s = settle_total(new_frequencies, "new-form", p.new_total_, p.default_new_size_);
        !s.is_ok()) {
        return s;
    }
    if (Status s = settle_total(old_frequencies, "old-form", p.old_total_, p.default_old_size_);
        !s.is_ok()) {
        return s;
    }
    if (!with_storage([&] {
            p.new_frequencies_.assign(new_frequencies.begin(), new_frequencies.end());
            p.old_frequencies_.assign(old_frequencies.begin(), old_frequencies.end());
            p.conversion_.assign(conversion.begin(), conversion.end());
            p.new_relative_ = relative_frequencies(new_frequencies, p.new_total_);
            p.old_relative_ = relative_frequencies(old_frequencies, p.old_total_);
            return true;
        })) {
        return Status::error(Status::Code::no_storage, "no storage for the populations");
    }
    population = std::move(p);
    return Status::ok();
}

}  // namespace eqsim
