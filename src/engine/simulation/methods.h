// The five equating methods in one table: the words the control and study files accept for each,
// the name the report gives it, the rule its smoothing parameter must meet, and its equating
// entry. Everything that depends on the method reads this table; nothing else names methods by
// number.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>

#include "engine/equating/sample_pair.h"
#include "engine/numeric/status.h"

namespace eqsim {

// The codes are those of the report's history (1 post-smoothing ... 5 mean).
enum class Method : std::int16_t {
    postsmoothing = 1,
    presmoothing = 2,
    unsmoothed = 3,
    linear = 4,
    mean = 5,
};

// What a method's smoothing parameter must be.
enum class SmoothingRule {
    ignored,       // the method has no parameter
    at_most_one,   // cubic-spline smoothing value: 1.0 or less
    at_least_one,  // log-linear degree: 1.0 or more (truncated toward zero)
};

// Writes the equated scores (Kx values on the old form's raw scale) of one pair of samples.
using EquateEntry = Status (*)(const SamplePair& samples, double parameter,
                               std::span<double> equated);

struct MethodInfo {
    Method method;
    std::string_view word;         // the full word: Postsmoothing, Presmoothing, None, ...
    std::string_view prefix;       // the letters that select it, in any case: PO, PR, N, L, M
    std::string_view report_name;  // as the report prints it: Post-Smoothing, ...
    SmoothingRule rule;
    EquateEntry equate;
    // Rough cost of equating one replication, per score point, in units of one drawn examinee;
    // it lets a scheduler balance its work.
    double cost_per_point;
};

// Every method, in code order.
std::span<const MethodInfo> method_table();

const MethodInfo& method_info(Method method);

// The method a control-file word selects (by its first letter, by its first two for P...), or
// nullptr when it selects none.
const MethodInfo* method_of_word(std::string_view word);

// True when word, in any case, begins the method's full word or its report name ("Post",
// "Post-smoothing", "n"); false when only its first letters chose the method ("Loglinear" chooses
// Linear, "Mean-sigma" Mean).
bool word_begins_method_name(std::string_view word, const MethodInfo& info);

// True when parameter suits the method; otherwise problem says why.
bool smoothing_suits(Method method, double parameter, std::string& problem);

}  // namespace eqsim
