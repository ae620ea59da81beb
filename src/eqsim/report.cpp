#include "eqsim/report.h"

#include <cmath>

namespace eqsim {

namespace {

void print_settings(std::FILE* out, const ReportContent& content) {
    const ControlParameters& params = content.params;

    std::fprintf(out, "Input file:\t%s\n", content.data_name.c_str());
    std::fprintf(out, "Columns read:\t%hd\t%hd\t%hd\n", params.columns[0], params.columns[1],
                 params.columns[2]);
    std::fprintf(out, "Type of equating function:\t%s\n",
                 std::string(method_name(params.method)).c_str());
    if (parameter_rule(params.method) != ParameterRule::none) {
        std::fprintf(out, "Smoothing parameter:\t%lf\n", params.smoothing);
    }
    std::fprintf(out, "Number of replications:\t%ld\n", static_cast<long>(params.replications));
    std::fprintf(out, "Seed:\t%ld\n", static_cast<long>(params.seed));
    std::fprintf(out, "Scale min, max, inc:\t%lf\t%lf\t%lf\n", params.scale.min, params.scale.max,
                 params.scale.increment);
    std::fprintf(out, "Sample sizes (new, old):\t%lf\t%lf\n\n", content.population.new_total(),
                 content.population.old_total());
}

void print_histogram(std::FILE* out, const SimulationResult& result) {
    const MethodResult& m = result.methods.front();
    for (long k = 0; k < result.new_points; ++k) {
        std::fprintf(out, "%ld", k);
        const std::int32_t* row = m.histogram.data() + k * result.scale_points;
        for (int s = 0; s < result.scale_points; ++s) {
            std::fprintf(out, "\t%d", static_cast<int>(row[s]));
        }
        std::fputc('\n', out);
    }
}

}  // namespace

std::array<double, 6> weighted_summary(const ReportContent& content) {
    const SimulationResult& result = content.result;
    const PerQuantity<QuantityMoments>& m = result.methods.front().moments;
    const std::span<const double> weights = content.population.new_relative();
    std::array<double, 6> sums = {0.0, 0.0, 0.0, 0.0, 0.0, 0.0};
    for (std::size_t k = 0; k < static_cast<std::size_t>(result.new_points); ++k) {
        const double w = weights[k];
        for (std::size_t q = 0; q < kQuantities.size(); ++q) {
            sums[q] += w * m[kQuantities[q]].sd[k];
            sums[3 + q] += w * m[kQuantities[q]].mean[k];
        }
    }
    return sums;
}

bool summary_is_finite(const ReportContent& content) {
    for (const double sum : weighted_summary(content)) {
        if (!std::isfinite(sum)) {
            return false;
        }
    }
    return true;
}

void print_report(std::FILE* out, const ReportContent& content) {
    const SimulationResult& result = content.result;
    const PerQuantity<QuantityMoments>& m = result.methods.front().moments;
    const QuantityMoments& raw = m[Quantity::raw];
    const QuantityMoments& scale = m[Quantity::scale];
    const QuantityMoments& rounded = m[Quantity::rounded];
    print_settings(out, content);
    for (std::size_t k = 0; k < static_cast<std::size_t>(result.new_points); ++k) {
        std::fprintf(out, "%zu\t%.8lf\t%.8lf\t%.8lf", k, raw.sd[k], scale.sd[k], rounded.sd[k]);
        std::fprintf(out, "\t%.8lf\t%.8lf\t%.8lf\n", raw.mean[k], scale.mean[k], rounded.mean[k]);
    }
    const std::array<double, 6> sums = weighted_summary(content);
    std::fprintf(out, "Mean\t%.8lf\t%.8lf\t%.8lf", sums[0], sums[1], sums[2]);
    std::fprintf(out, "\t%.8lf\t%.8lf\t%.8lf\n\n", sums[3], sums[4], sums[5]);
    print_histogram(out, result);
}

bool write_report(const ReportDestination& destination, std::FILE* standard_output,
                  const ReportContent& content, std::string& diagnostic) {
    ReportStream stream;
    if (!stream.open(destination, standard_output, diagnostic)) {
        return false;
    }
    print_report(stream.file(), content);
    return stream.finish(diagnostic);
}

}  // namespace eqsim
