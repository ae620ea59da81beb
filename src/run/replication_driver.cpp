#include "run/replication_driver.h"

#include <span>

#include "run/data_file.h"
#include "run/report.h"
#include "run/report_destination.h"

namespace eqsim {

namespace {

// The simulation's options: the populations of the data file's score points and the settings.
SimulationOptions options_of(const ControlParameters& params, DataArrays& data,
                             std::span<const MethodChoice> methods,
                             const SamplingChoice& sampling) {
    SimulationOptions options;
    options.new_frequencies =
        data.new_frequencies().first(static_cast<std::size_t>(data.new_points));
    options.old_frequencies =
        data.old_frequencies().first(static_cast<std::size_t>(data.old_points));
    options.conversion = data.scale_conversion().first(static_cast<std::size_t>(data.old_points));
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

}  // namespace

Status run_replications(const ControlParameters& params, const std::string& data_name,
                        const std::string& output_name, std::FILE* standard_output,
                        const SamplingChoice& sampling,
                        std::function<bool(std::int32_t)> progress) {
    std::string diagnostic;
    DataArrays data;
    if (!read_data_file(data_name, params.columns, data, diagnostic)) {
        return simulation_error(diagnostic);
    }
    const MethodChoice methods[1] = {{params.method, params.smoothing}};
    SimulationOptions options = options_of(params, data, methods, sampling);
    options.progress = std::move(progress);
    if (Status s = check_populations(options); !s.is_ok()) {
        return simulation_error(data_name + ": " + s.diagnostic());
    }

    ReportDestination destination;
    if (!check_report_destination(output_name, destination, diagnostic)) {
        return Status::error(Status::Code::output_failed, diagnostic);
    }

    SimulationResult result;
    if (Status s = run_simulation(options, result); !s.is_ok()) {
        return s;
    }
    if (!summary_is_finite(result)) {
        return Status::error(
            Status::Code::method_failed,
            "the statistics over replications overflowed (scale scores too large)");
    }
    if (!write_report(destination, standard_output, ReportContent{data_name, params, result},
                      diagnostic)) {
        return Status::error(Status::Code::output_failed, diagnostic);
    }
    return Status::ok();
}

}  // namespace eqsim
