// The version of the system the program runs on, as the outcome report carries it.
#pragma once

#include <string>

namespace brimo {

inline constexpr char kUnknownWindowsVersion[] = "0.0.0";

// "major.minor.build" as the system itself says (not as a compatibility layer shows it to the
// program); kUnknownWindowsVersion where it cannot tell.
std::string WindowsVersionText();

}  // namespace brimo
