#include "engine/simulation/methods.h"

#include <cstddef>

#include "engine/equating/equipercentile.h"
#include "engine/equating/linear_equating.h"
#include "engine/smoothing/loglinear.h"
#include "engine/smoothing/postsmooth.h"

namespace eqsim {

namespace {

int score_count(std::span<const double> relative) {
    return static_cast<int>(relative.size());
}

Status failed(std::string_view name) {
    return Status::error(Status::Code::method_failed,
                         "the " + std::string(name) + " equating method failed on the samples");
}

Status equate_postsmoothed(const SamplePair& s, double parameter, std::span<double> equated) {
    return postsmooth_equate(s, parameter, kPostsmoothTailCut, equated);
}

Status equate_presmoothed_entry(const SamplePair& s, double parameter, std::span<double> equated) {
    const int degree = loglinear_degree(parameter);
    if (!equate_presmoothed(s, degree, degree, equated)) {
        return failed("Pre-Smoothing");
    }
    return Status::ok();
}

Status equate_unsmoothed_entry(const SamplePair& s, double, std::span<double> equated) {
    if (!equate_unsmoothed(score_count(s.new_relative), score_count(s.old_relative), s.new_relative,
                           s.old_relative, equated)) {
        return failed("Unsmoothed equipercentile");
    }
    return Status::ok();
}

Status equate_linear_entry(const SamplePair& s, double, std::span<double> equated) {
    if (!linear_equate(score_count(s.new_relative), score_count(s.old_relative), s.new_relative,
                       s.old_relative, false, equated)) {
        return failed("Linear");
    }
    return Status::ok();
}

Status equate_mean_entry(const SamplePair& s, double, std::span<double> equated) {
    if (!linear_equate(score_count(s.new_relative), score_count(s.old_relative), s.new_relative,
                       s.old_relative, true, equated)) {
        return failed("Mean");
    }
    return Status::ok();
}

constexpr MethodInfo kMethods[] = {
    {Method::postsmoothing, "Postsmoothing", "PO", "Post-Smoothing", SmoothingRule::at_most_one,
     equate_postsmoothed, 110.0},
    {Method::presmoothing, "Presmoothing", "PR", "Pre-Smoothing", SmoothingRule::at_least_one,
     equate_presmoothed_entry, 90.0},
    {Method::unsmoothed, "None", "N", "Unsmoothed equipercentile", SmoothingRule::ignored,
     equate_unsmoothed_entry, 4.0},
    {Method::linear, "Linear", "L", "Linear", SmoothingRule::ignored, equate_linear_entry, 1.0},
    {Method::mean, "Mean", "M", "Mean", SmoothingRule::ignored, equate_mean_entry, 1.0},
};

char upper_ascii(char c) {
    return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c;
}

bool starts_with_prefix(std::string_view word, std::string_view prefix) {
    if (word.size() < prefix.size()) {
        return false;
    }
    for (std::size_t i = 0; i < prefix.size(); ++i) {
        if (upper_ascii(word[i]) != prefix[i]) {
            return false;
        }
    }
    return true;
}

}  // namespace

std::span<const MethodInfo> method_table() {
    return kMethods;
}

const MethodInfo& method_info(Method method) {
    return kMethods[static_cast<int>(method) - 1];
}

const MethodInfo* method_of_word(std::string_view word) {
    for (const MethodInfo& info : kMethods) {
        if (starts_with_prefix(word, info.prefix)) {
            return &info;
        }
    }
    return nullptr;
}

bool word_begins_method_name(std::string_view word, const MethodInfo& info) {
    const auto begins = [word](std::string_view name) {
        if (word.size() > name.size()) {
            return false;
        }
        for (std::size_t i = 0; i < word.size(); ++i) {
            if (upper_ascii(word[i]) != upper_ascii(name[i])) {
                return false;
            }
        }
        return true;
    };
    return begins(info.word) || begins(info.report_name);
}

bool smoothing_suits(Method method, double parameter, std::string& problem) {
    switch (method_info(method).rule) {
        case SmoothingRule::at_least_one:
            if (parameter < 1.0) {
                problem =
                    "pre-smoothing needs a smoothing parameter (the log-linear degree) of 1.0 or "
                    "more, not " +
                    std::to_string(parameter);
                return false;
            }
            return true;
        case SmoothingRule::at_most_one:
            if (parameter > 1.0) {
                problem = "post-smoothing needs a smoothing parameter of 1.0 or less, not " +
                          std::to_string(parameter);
                return false;
            }
            return true;
        case SmoothingRule::ignored:
            return true;
    }
    return true;
}

}  // namespace eqsim
