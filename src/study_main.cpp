#include <csignal>
#include <cstdio>

#include "study/eqsim_study_main.h"

int main(int argc, char** argv) {
    // A closed pipe must come back as a write error, not end the process unreported.
    std::signal(SIGPIPE, SIG_IGN);
    return eqsim::study::eqsim_study_main(argc, argv, stdout, stderr);
}
