#include "run/report.h"

#include <cmath>

namespace eqsim {

void method_name(EquatingMethod method, std::string& name) {
    switch (method) {
        case 1:
            name = "Post-Smoothing";
            break;
        case 2:
            name = "Pre-Smoothing";
            break;
        case 3:
            name = "Unsmoothed equipercentile";
            break;
        case 4:
            name = "Linear";
            break;
        case 5:
            name = "Mean";
            break;
        default:
            name.clear();
            break;
    }
}

namespace {

void print_settings(std::FILE* out, const std::string& data_name, const ControlParameters& params,
                    double tx, double ty) {
    std::string name;
    method_name(params.method, name);
    std::fprintf(out, "Input file:\t%s\n", data_name.c_str());
    std::fprintf(out, "Columns read:\t%hd\t%hd\t%hd\n", params.columns[0], params.columns[1],
                 params.columns[2]);
    std::fprintf(out, "Type of equating function:\t%s\n", name.c_str());
    if (params.method < 3) {
        std::fprintf(out, "Smoothing parameter:\t%lf\n", params.smoothing);
    }
    std::fprintf(out, "Number of replications:\t%ld\n", static_cast<long>(params.replications));
    std::fprintf(out, "Seed:\t%ld\n", static_cast<long>(params.seed));
    std::fprintf(out, "Scale min, max, inc:\t%lf\t%lf\t%lf\n", params.scale.min, params.scale.max,
                 params.scale.increment);
    std::fprintf(out, "Sample sizes (new, old):\t%lf\t%lf\n\n", tx, ty);
}

void print_histogram(std::FILE* out, std::int16_t kx, std::span<const std::int32_t> histogram,
                     std::int16_t scale_points) {
    for (long k = 0; k < kx; ++k) {
        std::fprintf(out, "%ld", k);
        const std::int32_t* row = histogram.data() + k * scale_points;
        for (int s = 0; s < scale_points; ++s) {
            std::fprintf(out, "\t%d", static_cast<int>(row[s]));
        }
        std::fputc('\n', out);
    }
}

}  // namespace

std::array<double, 6> weighted_summary(std::int16_t kx, const ReportStatistics& stats) {
    std::array<double, 6> sums = {0.0, 0.0, 0.0, 0.0, 0.0, 0.0};
    for (long k = 0; k < kx; ++k) {
        const double w = stats.weights[k];
        sums[0] += w * stats.equated_sd[k];
        sums[1] += w * stats.unrounded_sd[k];
        sums[2] += w * stats.rounded_sd[k];
        sums[3] += w * stats.equated_mean[k];
        sums[4] += w * stats.unrounded_mean[k];
        sums[5] += w * stats.rounded_mean[k];
    }
    return sums;
}

bool report_is_finite(std::int16_t kx, const ReportStatistics& stats) {
    for (long k = 0; k < kx; ++k) {
        for (const auto& column : {stats.equated_sd, stats.unrounded_sd, stats.rounded_sd,
                                   stats.equated_mean, stats.unrounded_mean, stats.rounded_mean}) {
            if (!std::isfinite(column[k])) {
                return false;
            }
        }
    }
    for (const double sum : weighted_summary(kx, stats)) {
        if (!std::isfinite(sum)) {
            return false;
        }
    }
    return true;
}

void print_report(std::FILE* out, const std::string& data_name, const ControlParameters& params,
                  double tx, double ty, std::int16_t kx, const ReportStatistics& stats,
                  std::int16_t scale_points) {
    print_settings(out, data_name, params, tx, ty);
    for (long k = 0; k < kx; ++k) {
        std::fprintf(out, "%ld\t%.8lf\t%.8lf\t%.8lf", k, stats.equated_sd[k], stats.unrounded_sd[k],
                     stats.rounded_sd[k]);
        std::fprintf(out, "\t%.8lf\t%.8lf\t%.8lf\n", stats.equated_mean[k], stats.unrounded_mean[k],
                     stats.rounded_mean[k]);
    }
    const std::array<double, 6> sums = weighted_summary(kx, stats);
    std::fprintf(out, "Mean\t%.8lf\t%.8lf\t%.8lf", sums[0], sums[1], sums[2]);
    std::fprintf(out, "\t%.8lf\t%.8lf\t%.8lf\n\n", sums[3], sums[4], sums[5]);
    print_histogram(out, kx, stats.histogram, scale_points);
}

int write_report(const ReportDestination& destination, std::FILE* standard_output,
                 const std::string& data_name, const ControlParameters& params, double tx,
                 double ty, std::int16_t kx, const ReportStatistics& stats,
                 std::int16_t scale_points, std::string& diagnostic) {
    ReportStream stream;
    if (!stream.open(destination, standard_output, diagnostic)) {
        return 2;
    }
    print_report(stream.file(), data_name, params, tx, ty, kx, stats, scale_points);
    return stream.finish(diagnostic) ? 0 : 2;
}

}  // namespace eqsim
