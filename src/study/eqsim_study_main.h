// The eqsim-study program's command-line surface:
//
//     eqsim-study STUDY-FILE [--jobs N] [--shard I/N]
//     eqsim-study --merge STUDY-FILE
//     eqsim-study --help | --version
//
// Exit status 0 for a completed study, 2 for a command line, study file, data file or output
// folder that cannot be used (found before the first replication), 1 when a method fails on a
// replication or an output file cannot be written. main() only forwards here, so tests can run
// the whole program in-process with their own streams.
#pragma once

#include <cstdio>

namespace eqsim::study {

int eqsim_study_main(int argc, const char* const* argv, std::FILE* out, std::FILE* err);

}  // namespace eqsim::study
