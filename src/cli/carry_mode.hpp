#pragma once

#include <cstdio>
#include <string>
#include <vector>

namespace tallowmark {

// "--carry-marks OLD.pdf NEW.pdf [--replace]": the marks of OLD carried onto
// NEW by their words and written as NEW's marks file. NEW's marks are only
// replaced when `replace` is set; OLD's are never written.
int carryMarksMode(const std::vector<std::string>& operands, bool replace, const std::string& password,
                   std::FILE* out);

}  // namespace tallowmark
