// Settings that both programs read the same way: the seed a run settles on, and the checks of a
// seed and a data column that a control file and a study file share.
#pragma once

#include <cstdint>
#include <string>

namespace eqsim {

// The seed a run uses: a seed of 0 takes the calendar time in seconds (reduced to
// 1..2147483646), a negative seed its absolute value.
std::int32_t settle_seed(std::int32_t seed);

// Checks of single final values: each gives an empty text when the value can run, else what is
// wrong with it.
std::string column_problem(std::int32_t column);
std::string seed_problem(std::int32_t seed);

}  // namespace eqsim
