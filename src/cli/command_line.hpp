#pragma once

// The command-line modes that inspect script PDFs. Arguments are examined in a
// fixed order; the first mode whose switch and required operands are present runs.

#include <cstdio>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace tallowmark {

// The exit status of the mode that ran, or none when no mode applies and the
// application should start. `arguments` excludes the program name.
std::optional<int> runCommandLineMode(const std::vector<std::string>& arguments, std::FILE* out);

// A leading "~" (alone or before "/") becomes the user's home folder.
std::filesystem::path expandPathOperand(const std::string& operand);

// 1-based page operand: missing or not a number is page 1, values below 1 count as 1.
int pageOperand(const std::string* operand);

}  // namespace tallowmark
