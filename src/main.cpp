#include <cstdio>

#include "run/eqsim_main.h"

int main(int argc, char** argv) { return eqsim::eqsim_main(argc, argv, stdout, stderr); }
