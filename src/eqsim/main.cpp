#include <cstdio>
#include <string>
#include <vector>

#include "eqsim/eqsim_main.h"
#include "io/platform/platform.h"

int main(int argc, char** argv) {
    eqsim::platform::prepare_process();
    const std::vector<std::string> arguments = eqsim::platform::utf8_arguments(argc, argv);
    std::vector<const char*> pointers;
    for (const std::string& argument : arguments) {
        pointers.push_back(argument.c_str());
    }
    return eqsim::eqsim_main(static_cast<int>(pointers.size()), pointers.data(), stdout, stderr);
}
