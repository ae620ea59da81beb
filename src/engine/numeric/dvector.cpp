#include "engine/numeric/dvector.h"

#include <cstdint>
#include <new>

namespace eqsim {

DVector dvector(int low, int high) noexcept {
    // One spare element in front of low; computed wide so that no range overflows.
    const std::int64_t count = static_cast<std::int64_t>(high) - low + 2;
    DVector vector;
    if (count < 1) {
        return vector;
    }
    vector.block_.reset(new (std::nothrow) double[static_cast<std::size_t>(count)]());
    if (vector.block_ != nullptr) {
        vector.low_ = low;
        vector.high_ = high;
    }
    return vector;
}

std::string numeric_fatal_error(const char* message) {
    return std::string("Numerical Recipes run-time error...\n") + message +
           "\n...now exiting to system...\n";
}

}  // namespace eqsim
