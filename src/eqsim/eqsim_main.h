// The program's command-line surface: arguments, control file, seed, smoothing check, and the
// four messages with their exit statuses. main() only forwards to eqsim_main(), so tests can run
// the whole program in-process with their own streams.
#pragma once

#include <cstdio>

namespace eqsim {

// Runs the program. Messages and a report sent to standard output go to out; diagnostics to err.
int eqsim_main(int argc, const char* const* argv, std::FILE* out, std::FILE* err);

}  // namespace eqsim
