#include <cstdio>
#include <string>
#include <vector>

#include "io/platform/platform.h"
#include "study/eqsim_study_main.h"

int main(int argc, char** argv) {
    // Closed standard streams get stand-ins; a closed pipe, or an output file that passes the file
    // size limit, comes back as a write error instead of ending the process unreported (and
    // leaving a temporary file); the arguments arrive in UTF-8 on every platform.
    eqsim::platform::prepare_process();
    const std::vector<std::string> arguments = eqsim::platform::utf8_arguments(argc, argv);
    std::vector<const char*> pointers;
    for (const std::string& argument : arguments) {
        pointers.push_back(argument.c_str());
    }
    return eqsim::study::eqsim_study_main(static_cast<int>(pointers.size()), pointers.data(),
                                          stdout, stderr);
}
