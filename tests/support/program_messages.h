// The four failure messages of the eqsim program, each beside the exit status it comes with (the
// message's length), so that tests name a failure rather than a bare number.
#pragma once

#include <string>

namespace eqsim::testing {

inline constexpr int kUsageStatus = 43;
inline const std::string kUsageMessage = "Must specify control file on command line.\n";
inline constexpr int kControlStatus = 28;
inline const std::string kControlMessage = "Error reading control file.\n";
inline constexpr int kSmoothingStatus = 33;
inline const std::string kSmoothingMessage = "Invalid parameter for smoothing.\n";
inline constexpr int kSimulationStatus = 45;
inline const std::string kSimulationMessage = "Error in reading data or computing simulation";

}  // namespace eqsim::testing
