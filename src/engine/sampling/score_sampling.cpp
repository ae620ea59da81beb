#include "engine/sampling/score_sampling.h"

#include <algorithm>

#include "engine/sampling/uniform_random.h"

namespace eqsim {

void build_sampling_table(double lookup_scale, std::span<double> distribution,
                          std::span<std::int32_t> lookup) {
    const int k = static_cast<int>(distribution.size());
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

void draw_score_counts(UniformRandom& random, std::int32_t n, double lookup_scale,
                       std::span<const double> cumulative, std::span<const std::int32_t> lookup,
                       std::span<std::int32_t> counts) {
    std::fill(counts.begin(), counts.end(), 0);
    UniformRandom generator = random;
    for (std::int32_t drawn = 0; drawn < n; ++drawn) {
        const double u = static_cast<double>(draw_uniform_raw(generator)) / kDeviateDivisor;
        int j = lookup[static_cast<int>(lookup_scale * u)];
        while (u > cumulative[j]) {
            ++j;
        }
        ++counts[j];
    }
    random = generator;
}

namespace {

constexpr std::int64_t largest_raw = 2147483647;

double deviate_of(std::int64_t raw) {
    return static_cast<double>(raw) / kDeviateDivisor;
}

// The smallest raw value whose deviate exceeds value, or one beyond every raw value.
std::uint32_t raw_threshold(double value) {
    if (!(deviate_of(largest_raw) > value)) {
        return 0xFFFFFFFFu;
    }
    if (deviate_of(1) > value) {
        return 1u;
    }
    // Start near value * (2^31 - 1) and step to the exact boundary; division is monotone, so
    // the deviates on either side of it settle the question.
    std::int64_t raw = std::clamp(static_cast<std::int64_t>(value * kDeviateDivisor),
                                  std::int64_t{1}, largest_raw);
    while (raw < largest_raw && !(deviate_of(raw) > value)) {
        ++raw;
    }
    while (raw > 1 && deviate_of(raw - 1) > value) {
        --raw;
    }
    return static_cast<std::uint32_t>(raw);
}

int score_of_raw(std::uint32_t raw, int k, const std::vector<std::uint32_t>& thresholds) {
    int j = 0;
    while (j < k - 1 && raw >= thresholds[static_cast<std::size_t>(j)]) {
        ++j;
    }
    return j;
}

}  // namespace

void build_raw_sampling_table(std::span<const double> cumulative, RawSamplingTable& table) {
    const int k = static_cast<int>(cumulative.size());
    table.thresholds.resize(static_cast<std::size_t>(k));
    for (int j = 0; j < k; ++j) {
        table.thresholds[static_cast<std::size_t>(j)] = raw_threshold(cumulative[j]);
    }
    table.thresholds[static_cast<std::size_t>(k - 1)] = 0xFFFFFFFFu;
    const std::size_t buckets = (std::size_t{1} << (31 - RawSamplingTable::bucket_shift)) + 1;
    table.start.resize(buckets);
    for (std::size_t b = 0; b < buckets; ++b) {
        const std::uint32_t smallest = static_cast<std::uint32_t>(
            std::max<std::uint64_t>(1u, b << RawSamplingTable::bucket_shift));
        table.start[b] = score_of_raw(smallest, k, table.thresholds);
    }
}

void draw_score_counts_raw(UniformRandom& random, std::int32_t n, const RawSamplingTable& table,
                           std::span<std::int32_t> counts) {
    std::fill(counts.begin(), counts.end(), 0);
    const std::uint32_t* thresholds = table.thresholds.data();
    const std::int32_t* start = table.start.data();
    UniformRandom generator = random;
    for (std::int32_t drawn = 0; drawn < n; ++drawn) {
        const auto raw = static_cast<std::uint32_t>(draw_uniform_raw(generator));
        int j = start[raw >> RawSamplingTable::bucket_shift];
        while (raw >= thresholds[j]) {
            ++j;
        }
        ++counts[j];
    }
    random = generator;
}

}  // namespace eqsim
