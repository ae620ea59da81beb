#include "engine/numeric/number_text.h"

#include <charconv>

namespace eqsim {

void append_number(double value, std::string& out) {
    char buffer[32];
    const auto result = std::to_chars(buffer, buffer + sizeof buffer, value);
    out.append(buffer, result.ptr);
}

std::string number_text(double value) {
    std::string text;
    append_number(value, text);
    return text;
}

std::string fixed_text(double value) {
    // DBL_MAX has 309 digits before the point.
    char buffer[330];
    const auto result =
        std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::fixed, 6);
    return std::string(buffer, result.ptr);
}

}  // namespace eqsim
