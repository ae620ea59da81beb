// The simulation's source of randomness: the minimal standard congruential generator (multiplier
// 16807, modulus 2^31 - 1; Park and Miller, "Random number generators: good ones are hard to
// find", CACM 31, 1988) behind a 97-slot shuffle table (Bays and Durham). A generator is a plain
// value owned by whoever runs a simulation and handed to the sampling code; nothing here is
// shared between generators. Every step is exact integer arithmetic, so a seed always gives the
// same deviates.
#pragma once

#include <cstdint>

namespace eqsim {

inline constexpr std::int32_t kGeneratorMultiplier = 16807;
inline constexpr std::int32_t kGeneratorModulus = 2147483647;  // 2^31 - 1
// Largest value a proper seed may have: the modulus less one (2^31 - 2).
inline constexpr std::int32_t kLargestSeed = kGeneratorModulus - 1;
inline constexpr int kShuffleTableSize = 97;
// Schrage's factorisation of the modulus: m = a q + r.
inline constexpr std::int32_t kSchrageQ = 127773;
inline constexpr std::int32_t kSchrageR = 2836;
// A raw value r is the deviate r / kDeviateDivisor.
inline constexpr double kDeviateDivisor = 2147483647.0;
inline constexpr double kDeviateReciprocal = 1.0 / kDeviateDivisor;

// The generator's whole state: the congruential sequence's current value, the shuffle table and
// the last value handed out (which picks the next slot).
struct UniformRandom {
    std::int32_t state = 1;
    std::int32_t table[kShuffleTableSize] = {};
    std::int32_t last = 1;
};

// One step by Schrage's factorisation, exact in 32-bit arithmetic for every state, negative
// ones and 0 included: (16807 * state) mod (2^31 - 1), represented in 1..2^31 - 1.
inline std::int32_t congruential_step_schrage(std::int32_t state) {
    const std::int32_t hi = state / kSchrageQ;
    const std::int32_t lo = state % kSchrageQ;
    const std::int32_t t = kGeneratorMultiplier * lo - kSchrageR * hi;
    return t > 0 ? t : t + kGeneratorModulus;
}

// The same step for states in 1..2^31 - 1 (every state after the first step) by a 64-bit
// product reduced modulo the Mersenne prime, in half the time.
inline std::int32_t congruential_step_positive(std::int32_t state) {
    const std::uint64_t product =
        static_cast<std::uint64_t>(state) * static_cast<std::uint64_t>(kGeneratorMultiplier);
    // product = high * 2^31 + low = high * (2^31 - 1) + (high + low)
    std::uint64_t residue = (product & 0x7FFFFFFFu) + (product >> 31);
    if (residue > 0x7FFFFFFFu) {
        residue -= 0x7FFFFFFFu;
    }
    return static_cast<std::int32_t>(residue);
}

// Advances generator's congruential sequence by one step and returns the new value.
inline std::int32_t congruential_step(UniformRandom& generator) {
    const std::int32_t state = generator.state;
    generator.state =
        state > 0 ? congruential_step_positive(state) : congruential_step_schrage(state);
    return generator.state;
}

// The shuffle slot that a raw value selects: floor(97 * last / (2^31 - 1)), held at 96. This is
// the integer form of truncating last * 97.0 * reciprocal and gives the same slot for every
// value: with C = floor(97 * 2^64 / (2^31 - 1)), last * C / 2^64 falls short of
// 97 * last / (2^31 - 1) by less than 2^-33, while that quotient is never within 1 / (2^31 - 1)
// of an integer from above, except for last = 2^31 - 1 (a degenerate seed), where the shortfall
// turns 97 into the 96 that the table needs.
inline int shuffle_slot(std::int32_t last) {
    constexpr std::uint64_t scaled_ratio = 833223655812u;  // floor(97 * 2^64 / (2^31 - 1))
    __extension__ using wide = unsigned __int128;
    return static_cast<int>((static_cast<wide>(static_cast<std::uint32_t>(last)) * scaled_ratio) >>
                            64);
}

// The slot as the floating-point product selects it; the reference for shuffle_slot.
inline int shuffle_slot_floating(std::int32_t last) {
    const int slot = static_cast<int>(static_cast<double>(last) * 97.0 * kDeviateReciprocal);
    return slot > kShuffleTableSize - 1 ? kShuffleTableSize - 1 : slot;
}

// Starts generator from seed: 97 warm-up steps, 97 steps into the table, one more as the last
// value. Seeds 1..2^31 - 2 are proper; others are accepted and give degenerate sequences.
void seed_uniform(UniformRandom& generator, std::int32_t seed);

// The next raw value of generator's shuffled sequence, in 1..2147483646 for a proper seed. Hot
// loops run a local copy of the generator, which their own stores cannot alias.
inline std::int32_t draw_uniform_raw(UniformRandom& generator) {
    const int slot = shuffle_slot(generator.last);
    generator.last = generator.table[slot];
    generator.table[slot] = congruential_step(generator);
    return generator.last;
}

// The next deviate, in (0, 1].
inline double draw_uniform(UniformRandom& generator) {
    return static_cast<double>(draw_uniform_raw(generator)) / kDeviateDivisor;
}

}  // namespace eqsim
