#include "sampling/uniform_random.h"

namespace eqsim {

void seed_uniform(std::int32_t seed) {
    uniform_random.state = seed;
    for (int i = 0; i < 97; ++i) {
        congruential_step();
    }
    for (int slot = 0; slot < 97; ++slot) {
        uniform_random.table[slot] = congruential_step();
    }
    uniform_random.last = congruential_step();
}

}  // namespace eqsim
