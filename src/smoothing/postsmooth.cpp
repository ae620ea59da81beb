#include "smoothing/postsmooth.h"

namespace eqsim {

std::int16_t postsmooth_equate(int, int, int, int, double, double, std::span<const double>,
                               std::span<const double>, std::span<const std::span<double>>,
                               std::span<const double>, int, double) {
    return 1;
}

}  // namespace eqsim
