#include "engine/simulation/method_table.h"

#include <cmath>
#include <string>

#include "engine/equating/anchor_equating.h"
#include "engine/equating/equipercentile.h"
#include "engine/equating/kernel_equating.h"
#include "engine/equating/linear_equating.h"
#include "engine/equating/small_sample_equating.h"
#include "engine/numeric/number_text.h"
#include "engine/smoothing/loglinear.h"
#include "engine/smoothing/postsmooth.h"

namespace eqsim {

namespace {

Status failed() {
    return Status::error(Status::Code::method_failed, "the method cannot equate the samples");
}

Status equate_postsmoothed(const SamplePair& s, double parameter, std::span<double> equated) {
    return postsmooth_equate(s, parameter, kPostsmoothTailCut, equated);
}

Status equate_presmoothed_entry(const SamplePair& s, double parameter, std::span<double> equated) {
    const int degree = loglinear_degree(parameter);
    return equate_presmoothed(s, degree, degree, equated) ? Status::ok() : failed();
}

Status equate_unsmoothed_entry(const SamplePair& s, double, std::span<double> equated) {
    return equate_unsmoothed(s.new_relative, s.old_relative, equated) ? Status::ok() : failed();
}

Status equate_linear_entry(const SamplePair& s, double, std::span<double> equated) {
    return linear_equate(s.new_relative, s.old_relative, false, equated) ? Status::ok() : failed();
}

Status equate_mean_entry(const SamplePair& s, double, std::span<double> equated) {
    return linear_equate(s.new_relative, s.old_relative, true, equated) ? Status::ok() : failed();
}

Status equate_identity_entry(const SamplePair& s, double, std::span<double> equated) {
    return identity_equate(static_cast<int>(s.new_relative.size()),
                           static_cast<int>(s.old_relative.size()), equated)
               ? Status::ok()
               : failed();
}

Status equate_circle_arc_entry(const SamplePair& s, double, std::span<double> equated) {
    return circle_arc_equate(s.new_relative, s.old_relative, equated) ? Status::ok() : failed();
}

Status equate_synthetic_entry(const SamplePair& s, double weight, std::span<double> equated) {
    return synthetic_equate(s.new_relative, s.old_relative, weight, equated) ? Status::ok()
                                                                             : failed();
}

Status equate_kernel_entry(const SamplePair& s, double parameter, std::span<double> equated) {
    const int degree = loglinear_degree(parameter);
    return kernel_equate(s, degree, degree, equated) ? Status::ok() : failed();
}

// The anchor-test methods: w1 given, or n_P / (n_P + n_Q) of the sample sizes. Each thread keeps
// its working storage from one replication to the next.
template <AnchorEquateFunction equate>
Status equate_anchor_entry(const SamplePair& s, double parameter, std::span<double> equated) {
    if (s.anchor == nullptr) {
        return Status::error(Status::Code::method_failed,
                             "an anchor-test method needs the groups' tables of total and anchor "
                             "scores");
    }
    thread_local AnchorWorkspace work;
    const double w1 =
        parameter == kWeightOfSizes ? s.new_size / (s.new_size + s.old_size) : parameter;
    return equate(*s.anchor, w1, work, equated) ? Status::ok() : failed();
}

constexpr MethodInfo kMethods[] = {
    {Method::postsmoothing, Design::random_groups, "Post-Smoothing", ParameterRule::smoothing_value,
     equate_postsmoothed, 110.0},
    {Method::presmoothing, Design::random_groups, "Pre-Smoothing", ParameterRule::degree,
     equate_presmoothed_entry, 90.0},
    {Method::unsmoothed, Design::random_groups, "Unsmoothed equipercentile", ParameterRule::none,
     equate_unsmoothed_entry, 4.0},
    {Method::linear, Design::random_groups, "Linear", ParameterRule::none, equate_linear_entry,
     1.0},
    {Method::mean, Design::random_groups, "Mean", ParameterRule::none, equate_mean_entry, 1.0},
    {Method::identity, Design::random_groups, "Identity", ParameterRule::none,
     equate_identity_entry, 0.2},
    {Method::circle_arc, Design::random_groups, "Circle-arc", ParameterRule::none,
     equate_circle_arc_entry, 2.0},
    {Method::synthetic, Design::random_groups, "Synthetic", ParameterRule::weight,
     equate_synthetic_entry, 1.2},
    {Method::kernel, Design::random_groups, "Kernel", ParameterRule::degree, equate_kernel_entry,
     3000.0},
    {Method::tucker, Design::anchor_test, "Tucker", ParameterRule::group_weight,
     equate_anchor_entry<tucker_equate>, 12.0},
    {Method::levine, Design::anchor_test, "Levine", ParameterRule::group_weight,
     equate_anchor_entry<levine_observed_equate>, 12.0},
    {Method::chained_linear, Design::anchor_test, "Chained-linear", ParameterRule::none,
     equate_anchor_entry<chained_linear_equate>, 12.0},
    {Method::frequency_estimation, Design::anchor_test, "Frequency-estimation",
     ParameterRule::group_weight, equate_anchor_entry<frequency_estimation_equate>, 10.0},
    {Method::braun_holland, Design::anchor_test, "Braun-Holland", ParameterRule::group_weight,
     equate_anchor_entry<braun_holland_equate>, 6.0},
    {Method::chained_equipercentile, Design::anchor_test, "Chained-equipercentile",
     ParameterRule::none, equate_anchor_entry<chained_equipercentile_equate>, 9.0},
};

constexpr Method kMethodCodes[] = {Method::postsmoothing,
                                   Method::presmoothing,
                                   Method::unsmoothed,
                                   Method::linear,
                                   Method::mean,
                                   Method::identity,
                                   Method::circle_arc,
                                   Method::synthetic,
                                   Method::kernel,
                                   Method::tucker,
                                   Method::levine,
                                   Method::chained_linear,
                                   Method::frequency_estimation,
                                   Method::braun_holland,
                                   Method::chained_equipercentile};

}  // namespace

std::span<const MethodInfo> method_table() {
    return kMethods;
}

const MethodInfo& method_info(Method method) {
    return kMethods[static_cast<int>(method) - 1];
}

std::span<const Method> all_methods() {
    return kMethodCodes;
}

std::string_view method_name(Method method) {
    return method_info(method).name;
}

ParameterRule parameter_rule(Method method) {
    return method_info(method).rule;
}

Design design_of(Method method) {
    return method_info(method).design;
}

Status check_parameter(const MethodChoice& choice) {
    const double p = choice.parameter;
    if (!std::isfinite(p)) {
        return Status::error(Status::Code::invalid_input,
                             "smoothing parameter must be a finite number");
    }
    switch (parameter_rule(choice.method)) {
        case ParameterRule::degree:
            if (p < 1.0) {
                return Status::error(
                    Status::Code::invalid_input,
                    std::string(choice.method == Method::kernel ? "kernel equating"
                                                                : "pre-smoothing") +
                        " needs a smoothing parameter (the log-linear degree) of "
                        "1.0 or more, not " +
                        fixed_text(p));
            }
            break;
        case ParameterRule::smoothing_value:
            if (p > 1.0) {
                return Status::error(
                    Status::Code::invalid_input,
                    "post-smoothing needs a smoothing parameter of 1.0 or less, not " +
                        fixed_text(p));
            }
            break;
        case ParameterRule::weight:
            if (!(p >= 0.0 && p <= 1.0)) {
                return Status::error(Status::Code::invalid_input,
                                     "synthetic equating needs a smoothing parameter (the weight "
                                     "of linear equating) from 0.0 to 1.0, not " +
                                         fixed_text(p));
            }
            break;
        case ParameterRule::group_weight:
            if (p != kWeightOfSizes && !(p >= 0.0 && p <= 1.0)) {
                return Status::error(Status::Code::invalid_input,
                                     "the " + std::string(method_name(choice.method)) +
                                         " method needs a weight of group P (w1) from 0.0 to "
                                         "1.0, not " +
                                         fixed_text(p));
            }
            break;
        case ParameterRule::none:
            break;
    }
    return Status::ok();
}

}  // namespace eqsim
