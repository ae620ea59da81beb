// Where a diagnostic points: "FILE:LINE: WHAT", or "FILE: WHAT" when the file as a whole is at
// fault (line 0).
#pragma once

#include <string>

namespace eqsim {

inline std::string located(const std::string& file, long line, const std::string& what) {
    return line == 0 ? file + ": " + what : file + ":" + std::to_string(line) + ": " + what;
}

}  // namespace eqsim
