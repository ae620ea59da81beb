// Numbers as diagnostics and tables write them: the shortest text that reads back as the same
// double ("0.1", "500", "1e+300", "-0", "5e-324"), or six decimals as printf's "%f" writes them
// ("1.500000", "-inf", "nan"), both by std::to_chars, which no locale affects and which formats in
// memory without the C library's printf family.
#pragma once

#include <string>

namespace eqsim {

void append_number(double value, std::string& out);
std::string number_text(double value);
std::string fixed_text(double value);

}  // namespace eqsim
