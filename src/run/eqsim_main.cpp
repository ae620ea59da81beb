#include "run/eqsim_main.h"

namespace eqsim {

int eqsim_main(int, const char* const*, std::FILE*, std::FILE*) { return 0; }

}  // namespace eqsim
