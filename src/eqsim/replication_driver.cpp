#include "eqsim/replication_driver.h"

#include <algorithm>
#include <span>

#include "eqsim/report.h"
#include "io/data_file.h"
#include "io/platform/platform.h"
#include "io/report_destination.h"
#include "io/tokens.h"

namespace eqsim {

namespace {

// The simulation's options: the populations of the data file's score points and the settings.
SimulationOptions options_of(const ControlParameters& params, const Population& population,
                             std::span<const MethodChoice> methods,
                             const SamplingChoice& sampling) {
    SimulationOptions options;
    options.population = &population;
    options.scale = params.scale;
    options.methods = methods;
    options.replications = params.replications;
    options.seed = params.seed;
    options.sampling = sampling;
    return options;
}

Status simulation_error(std::string diagnostic) {
    return Status::error(Status::Code::invalid_input, std::move(diagnostic));
}

// Share of the old form's population at which the scale warning is given. Rounding holds only
// the extreme scores of a fitting conversion at the scale's ends, a small share.
constexpr double kShareOutsideScaleToWarn = 0.25;

std::string current_folder() {
    std::string folder;
    return platform::current_folder(folder) ? folder : std::string("the current folder");
}

// A failure to open a file named on line of the control file: said at that line, with the folder
// a relative path was taken from.
std::string at_naming_line(const RunOrigin& origin, long line, const std::string& path,
                           const std::string& diagnostic) {
    if (origin.control_path.empty() || line == 0) {
        return diagnostic;
    }
    std::string text = origin.control_path + ":" + std::to_string(line) + ": " + diagnostic;
    if (!path.empty() && !platform::is_rooted(path)) {
        text += " (a relative path is taken from the current folder, " + current_folder();
        if (platform::base_of(origin.control_path) != origin.control_path) {
            text += ", not from the control file's";
        }
        text += ")";
    }
    return text;
}

}  // namespace

std::string scale_warning(const ScaleSpec& scale, std::span<const double> conversion,
                          std::span<const double> old_frequencies, const std::string& data_name,
                          const RunOrigin& origin) {
    const double share = share_outside_scale(conversion, old_frequencies, scale);
    if (conversion.empty() || !(share >= kShareOutsideScaleToWarn)) {
        return {};
    }
    const auto [lowest, highest] = std::minmax_element(conversion.begin(), conversion.end());
    const long line = origin.lines.scale != 0 ? origin.lines.scale : origin.lines.input;
    std::string text;
    if (!origin.control_path.empty() && line != 0) {
        text = origin.control_path + ":" + std::to_string(line) + ": ";
    }
    const std::string range = number_text(scale.min) + " to " + number_text(scale.max);
    text += "warning: ";
    text += origin.lines.scale != 0 ? "the scale (SC) runs from " + range
                                    : "the scale is the default, " + range + " (no SC line)";
    text += ", but the old form's scale scores in " + data_name + " run from " +
            number_text(*lowest) + " to " + number_text(*highest) + ": " +
            std::to_string(static_cast<int>(share * 100.0)) +
            "% of its examinees score outside the scale, where rounded scale scores are held at "
            "its ends; ";
    text += origin.lines.scale != 0 ? "check SC and the scale-score column (C)"
                                    : "give the scale with SC MIN MAX INCREMENT";
    return text;
}

Status run_replications(const ControlParameters& params, const std::string& data_name,
                        const std::string& output_name, std::FILE* standard_output,
                        const SamplingChoice& sampling, std::function<bool(std::int32_t)> progress,
                        const RunOrigin& origin) {
    std::string diagnostic;
    DataColumns data;
    bool opened = false;
    if (!read_data_file(data_name, params.columns, data, diagnostic, &opened)) {
        return simulation_error(
            opened ? diagnostic
                   : at_naming_line(origin, origin.lines.input, data_name, diagnostic));
    }
    Population population;
    if (Status s = data.population(population); !s.is_ok()) {
        return simulation_error(data_name + ": " + s.diagnostic());
    }
    const MethodChoice methods[1] = {{params.method, params.smoothing}};
    SimulationOptions options = options_of(params, population, methods, sampling);
    options.progress = std::move(progress);

    ReportDestination destination;
    if (!check_report_destination(output_name, destination, diagnostic)) {
        return Status::error(Status::Code::output_failed,
                             at_naming_line(origin, origin.lines.output, output_name, diagnostic));
    }
    if (origin.warn) {
        if (const std::string warning =
                scale_warning(params.scale, population.conversion(), population.old_frequencies(),
                              data_name, origin);
            !warning.empty()) {
            origin.warn(warning);
        }
    }

    SimulationResult result;
    if (Status s = run_simulation(options, result); !s.is_ok()) {
        return s;
    }
    const ReportContent content{data_name, params, population, result};
    if (!summary_is_finite(content)) {
        return Status::error(
            Status::Code::method_failed,
            "the statistics over replications overflowed (scale scores too large)");
    }
    if (!write_report(destination, standard_output, content, diagnostic)) {
        return Status::error(Status::Code::output_failed, diagnostic);
    }
    return Status::ok();
}

}  // namespace eqsim
