#pragma once

#include <string_view>

namespace tallowmark {

// Writes one diagnostic line to the system log and to standard error.
// The line is prefixed with "TALLOWMARK: ".
void logSystem(std::string_view line);

}  // namespace tallowmark
