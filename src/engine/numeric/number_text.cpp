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

}  // namespace eqsim
