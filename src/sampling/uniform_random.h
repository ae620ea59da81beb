// The program's one source of randomness: the minimal standard congruential generator
// (multiplier 16807, modulus 2^31 - 1, Schrage's factorisation) behind a 97-slot shuffle table.
// The state is process-wide; every step is exact so that a seed always gives the same deviates.
#pragma once

#include <cstdint>

namespace eqsim {

struct UniformRandom {
    std::int32_t state = 1;
    std::int32_t table[97] = {};
    std::int32_t last = 1;
};

inline UniformRandom uniform_random;

namespace uniform_constants {
inline constexpr std::int32_t multiplier = 16807;
inline constexpr std::int32_t modulus = 2147483647;
inline constexpr std::int32_t schrage_q = 127773;
inline constexpr std::int32_t schrage_r = 2836;
inline constexpr double reciprocal = 1.0 / 2147483647.0;
inline constexpr double divisor = 2147483647.0;
}  // namespace uniform_constants

// Advances the congruential sequence by one step and returns the new value.
inline std::int32_t congruential_step() {
    using namespace uniform_constants;
    const std::int32_t state = uniform_random.state;
    const std::int32_t hi = state / schrage_q;
    const std::int32_t lo = state % schrage_q;
    const std::int32_t t = multiplier * lo - schrage_r * hi;
    uniform_random.state = t > 0 ? t : t + modulus;
    return uniform_random.state;
}

void seed_uniform(std::int32_t seed);

// The next deviate, in (0, 1].
inline double draw_uniform() {
    using namespace uniform_constants;
    // For last = 2^31 - 1 (a degenerate seed) the product rounds to exactly 97.0; the clamp keeps
    // the slot inside the table without changing any other case.
    int slot = static_cast<int>(static_cast<double>(uniform_random.last) * 97.0 * reciprocal);
    if (slot > 96) {
        slot = 96;
    }
    uniform_random.last = uniform_random.table[slot];
    uniform_random.table[slot] = congruential_step();
    return static_cast<double>(uniform_random.last) / divisor;
}

}  // namespace eqsim
