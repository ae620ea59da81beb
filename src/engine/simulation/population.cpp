#include <cmath>
#include <string>

#include "engine/engine.h"
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
                           " is " + std::to_string(frequencies[i]) +
                           "; frequencies must be finite and not negative");
        }
    }
    return Status::ok();
}

Status settle_total(std::span<const double> frequencies, const char* form, double& total,
                    std::int32_t& size) {
    total = total_of(frequencies);
    if (!sample_size_of_total(total, size)) {
        return invalid(std::string(form) + " frequencies total " + std::to_string(total) +
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

}  // namespace

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
