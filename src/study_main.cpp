#include <csignal>
#include <cstdio>

#include "study/eqsim_study_main.h"

int main(int argc, char** argv) {
    // A closed pipe must come back as a write error, not end the process unreported; so must an
    // output file that passes the file size limit, which would otherwise leave its temporary file.
    std::signal(SIGPIPE, SIG_IGN);
    std::signal(SIGXFSZ, SIG_IGN);
    return eqsim::study::eqsim_study_main(argc, argv, stdout, stderr);
}
