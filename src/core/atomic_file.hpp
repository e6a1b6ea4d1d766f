#pragma once

#include <cstddef>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

namespace tallowmark {

// Writes the bytes to a temporary file in the destination's folder, flushes it
// to disk and renames it over the destination, so that a reader (or a crash)
// sees either the old file or the new one, never half of one.
// Returns false and sets `error` to the system's description on failure; the
// destination is then untouched and no temporary file is left behind.
bool writeFileAtomically(const std::filesystem::path& path, std::string_view bytes,
                         std::string* error = nullptr);

enum class ReadStatus { ok, missing, tooLarge, failed };

struct ReadResult {
    ReadStatus status = ReadStatus::failed;
    std::string bytes;
    std::string error;  // the system's description when status is failed
};

// Reads a whole file of at most `maxBytes`. Files that the system owns are
// small; a larger one is refused rather than loaded into memory.
ReadResult readWholeFile(const std::filesystem::path& path, std::size_t maxBytes);

}  // namespace tallowmark
