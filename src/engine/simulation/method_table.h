// The computing half of the method table: for every method its design, its name, the rule its
// parameter follows, its equating entry and its cost. Everything in the engine that depends on the
// method reads this table; the words users type for the methods belong to the programs.
#pragma once

#include <span>
#include <string_view>

#include "engine/engine.h"
#include "engine/equating/sample_pair.h"

namespace eqsim {

// Writes the equated scores (Kx values on the old form's raw scale) of one pair of samples. A
// failure is method_failed (or vector_storage when the spline's vectors ran out); the caller says
// which method failed and where.
using EquateEntry = Status (*)(const SamplePair& samples, double parameter,
                               std::span<double> equated);

struct MethodInfo {
    Method method;
    Design design;
    std::string_view name;  // as diagnostics and the eqsim report give it
    ParameterRule rule;
    EquateEntry equate;
    // Rough cost of equating one replication, per score point, in units of one drawn examinee;
    // it lets the study's scheduler balance its work.
    double cost_per_point;
};

// Every method, in code order.
std::span<const MethodInfo> method_table();

const MethodInfo& method_info(Method method);

}  // namespace eqsim
