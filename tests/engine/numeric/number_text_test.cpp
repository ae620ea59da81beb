#include "engine/numeric/number_text.h"

#include <gtest/gtest.h>

#include <cfloat>
#include <cmath>
#include <cstdio>
#include <limits>
#include <random>
#include <string>

namespace eqsim {
namespace {

// Diagnostics once wrote these numbers with std::to_string, that is printf's "%f": the text must
// stay the same, ties and the ends of the range included.
TEST(NumberText, FixedTextIsWhatPrintfWrites) {
    const auto printf_f = [](double value) {
        char buffer[400];
        std::snprintf(buffer, sizeof buffer, "%f", value);
        return std::string(buffer);
    };
    std::vector<double> values = {0.0,
                                  -0.0,
                                  0.5,
                                  1.5,
                                  0.0000005,
                                  0.0000015,
                                  0.0000025,
                                  -2.0,
                                  1e300,
                                  -DBL_MAX,
                                  DBL_MIN,
                                  1e-320,
                                  123456.7890125,
                                  std::numeric_limits<double>::infinity(),
                                  -std::numeric_limits<double>::infinity(),
                                  std::numeric_limits<double>::quiet_NaN()};
    std::mt19937_64 bits(20261207);
    for (int i = 0; i < 10000; ++i) {
        const double scale = std::ldexp(1.0, static_cast<int>(bits() % 80) - 40);
        values.push_back(static_cast<double>(bits() % 2000001) / 1e6 * scale -
                         (i % 2 == 0 ? 0.0 : scale));
    }
    for (const double value : values) {
        EXPECT_EQ(fixed_text(value), printf_f(value)) << value;
    }
}

}  // namespace
}  // namespace eqsim
