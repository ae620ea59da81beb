#include "numeric/dvector.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <new>

namespace eqsim {

DVector dvector(int low, int high) noexcept {
    // One spare element in front of low; computed wide so that no range overflows.
    const std::int64_t count = static_cast<std::int64_t>(high) - low + 2;
    if (count < 1) {
        numeric_fatal_error("allocation failure in dvector()");
    }
    DVector vector;
    try {
        vector.block_.reset(new double[static_cast<std::size_t>(count)]());
    } catch (const std::bad_alloc&) {
        numeric_fatal_error("allocation failure in dvector()");
    }
    vector.low_ = low;
    vector.high_ = high;
    return vector;
}

void release_dvector(DVector& vector, int low, int) noexcept {
    vector.block_.reset();
    vector.low_ = low;
    vector.high_ = low - 1;
}

void numeric_fatal_error(const char* message) noexcept {
    std::fputs("Numerical Recipes run-time error...\n", stderr);
    std::fprintf(stderr, "%s\n", message);
    std::fputs("...now exiting to system...\n", stderr);
    std::exit(1);
}

}  // namespace eqsim
