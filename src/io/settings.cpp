#include "io/settings.h"

#include "engine/sampling/uniform_random.h"
#include "io/data_file.h"
#include "io/platform/platform.h"

namespace eqsim {

std::int32_t settle_seed(std::int32_t seed) {
    if (seed == 0) {
        // Reduced so that it stays a usable seed after 2038 too.
        const long long seconds = platform::calendar_seconds();
        long long reduced = seconds % kLargestSeed;
        if (reduced < 0) {
            reduced += kLargestSeed;
        }
        return reduced == 0 ? 1 : static_cast<std::int32_t>(reduced);
    }
    return seed < 0 ? -seed : seed;
}

std::string column_problem(std::int32_t column) {
    if (column < 1 || column > kMaxColumns) {
        return "column number " + std::to_string(column) + " is outside 1 to " +
               std::to_string(kMaxColumns);
    }
    return {};
}

std::string seed_problem(std::int32_t seed) {
    // The generator needs a seed in 1..2147483646 once a negative seed is negated.
    if (seed < -kLargestSeed || seed > kLargestSeed) {
        return "seed " + std::to_string(seed) + " is outside -" + std::to_string(kLargestSeed) +
               " to " + std::to_string(kLargestSeed);
    }
    return {};
}

}  // namespace eqsim
