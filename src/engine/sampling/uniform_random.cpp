#include "engine/sampling/uniform_random.h"

namespace eqsim {

void seed_uniform(UniformRandom& generator, std::int32_t seed) {
    generator.state = seed;
    for (int i = 0; i < kShuffleTableSize; ++i) {
        congruential_step(generator);
    }
    for (int slot = 0; slot < kShuffleTableSize; ++slot) {
        generator.table[slot] = congruential_step(generator);
    }
    generator.last = congruential_step(generator);
}

}  // namespace eqsim
