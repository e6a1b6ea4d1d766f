#pragma once

#include <string_view>

namespace tallowmark {

// Writes one diagnostic line to the system log and to standard error.
// The line is prefixed with "TALLOWMARK: ".
void logSystem(std::string_view line);

// The same without the prefix, for lines that carry their own (the page's
// "TALLOWMARK JS: ").
void logSystemLine(std::string_view line);

}  // namespace tallowmark
