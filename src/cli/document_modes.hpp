#pragma once

// The command-line modes that inspect a script's text: lines, sizes, text
// boxes, selection snapping and lock waits. Each prints to `out` and returns
// the exit status.

#include <cstdio>
#include <filesystem>
#include <optional>
#include <string>

namespace tallowmark {

int pageLinesMode(const std::filesystem::path& pdf, int page, std::FILE* out);
// `crop` is the operand of "--maxtext-crop", when given.
int maxTextDataMode(const std::filesystem::path& pdf, const std::optional<std::string>& crop, std::FILE* out);
int pageSizesMode(const std::filesystem::path& pdf, std::FILE* out);
int lockLatencyMode(const std::filesystem::path& pdf, std::FILE* out);
int snapTestMode(const std::filesystem::path& pdf, std::FILE* out);
int textBoxMode(const std::filesystem::path& pdf, std::FILE* out);

}  // namespace tallowmark
