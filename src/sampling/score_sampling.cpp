#include "sampling/score_sampling.h"

#include "sampling/uniform_random.h"

namespace eqsim {

void build_sampling_table(int k, double lookup_scale, std::span<double> distribution,
                          std::span<std::int32_t> lookup) {
    const int slots = static_cast<int>(lookup_scale);
    double sum = 0.0;
    int next_slot = 0;
    for (int j = 0; j < k; ++j) {
        sum = sum + distribution[j];
        if (j == k - 1) {
            // Absorbs rounding, so that every search ends at the last score at the latest.
            sum = 1.0;
        }
        distribution[j] = sum;
        const double scaled = sum * lookup_scale;
        const int reached = scaled < static_cast<double>(slots) ? static_cast<int>(scaled) : slots;
        while (next_slot <= reached && next_slot <= slots) {
            lookup[next_slot] = j;
            ++next_slot;
        }
    }
}

void draw_score_counts(std::int32_t n, int k, double lookup_scale,
                       std::span<const double> cumulative, std::span<const std::int32_t> lookup,
                       std::span<std::int32_t> counts) {
    for (int j = 0; j < k; ++j) {
        counts[j] = 0;
    }
    for (std::int32_t drawn = 0; drawn < n; ++drawn) {
        const double u = draw_uniform();
        int j = lookup[static_cast<int>(lookup_scale * u)];
        while (u > cumulative[j]) {
            ++j;
        }
        ++counts[j];
    }
}

}  // namespace eqsim
