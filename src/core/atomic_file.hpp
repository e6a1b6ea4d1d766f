#pragma once

#include <sys/types.h>

#include <cstddef>
#include <filesystem>
#include <optional>
#include <span>
#include <string>
#include <string_view>

namespace tallowmark {

// A temporary file beside its destination (".NAME.tmp-XXXXXX"), written in
// full and flushed to disk but not yet in place. Made first so that a caller
// can move other files (backups) between making it and committing it; if it
// is never committed it is removed again.
class StagedFile {
public:
    // Fails (none, with the system's description in `error`) when the temporary
    // file cannot be made or written.
    static std::optional<StagedFile> write(const std::filesystem::path& destination, std::string_view bytes,
                                           std::string* error = nullptr);
    // The same with the bytes of `source`, which must be a regular file.
    static std::optional<StagedFile> copy(const std::filesystem::path& source,
                                          const std::filesystem::path& destination, std::string* error = nullptr);

    StagedFile(StagedFile&& other) noexcept;
    StagedFile& operator=(StagedFile&&) = delete;
    StagedFile(const StagedFile&) = delete;
    StagedFile& operator=(const StagedFile&) = delete;
    ~StagedFile();

    // Renames the temporary file over the destination in one step.
    bool commit(std::string* error = nullptr);
    const std::filesystem::path& temporaryPath() const { return temporary_; }

private:
    StagedFile(int fd, std::filesystem::path temporary, std::filesystem::path destination)
        : fd_(fd), temporary_(std::move(temporary)), destination_(std::move(destination)) {}
    static std::optional<StagedFile> create(const std::filesystem::path& destination, std::string* error);
    bool finish(std::string* error);

    // Held open (and locked) until the rename, so that removeStaleTemporaries
    // never takes a file that is still being written.
    int fd_ = -1;
    std::filesystem::path temporary_;  // empty once committed or moved from
    std::filesystem::path destination_;
};

// Writes the bytes to a temporary file in the destination's folder, flushes it
// to disk and renames it over the destination, so that a reader (or a crash)
// sees either the old file or the new one, never half of one.
// A new file gets 0666 less the umask, like any file a program creates; a file
// being replaced keeps its mode unless we could not read it, in which case the
// new one is made readable again (and that is logged).
// Returns false and sets `error` to the system's description on failure; the
// destination is then untouched and no temporary file is left behind.
bool writeFileAtomically(const std::filesystem::path& path, std::string_view bytes,
                         std::string* error = nullptr);

// The process's umask, read without changing it (other threads may be
// creating files at the same moment).
mode_t currentUmask();

// Removes temporary files of our own naming beside `path` that an earlier run
// left behind when it was killed mid-write. Called by every atomic write.
void removeStaleTemporaries(const std::filesystem::path& path);

// The same for each of `files` in one pass over each folder. A candidate is
// taken only when it is certainly debris: our name, a regular file with no
// other name (no second hard link), not one of `kept` nor the file one of them
// leads to through links, at least a few seconds old and locked by no writer.
void removeStaleTemporaries(std::span<const std::filesystem::path> files,
                            std::span<const std::filesystem::path> kept);

enum class ReadStatus { ok, missing, tooLarge, failed };

struct ReadResult {
    ReadStatus status = ReadStatus::failed;
    std::string bytes;
    std::string error;  // the system's description when status is failed
};

// Reads a whole file of at most `maxBytes`. Files that the system owns are
// small; a larger one is refused rather than loaded into memory. Anything but
// a regular file (a folder, a FIFO, a device) is refused without waiting on it.
ReadResult readWholeFile(const std::filesystem::path& path, std::size_t maxBytes);

}  // namespace tallowmark
