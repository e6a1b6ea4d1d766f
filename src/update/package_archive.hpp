#pragma once

// ZIP packages of the application folder, read and written in-process.
// Reading refuses what could write outside the work folder or fill the disk.

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>

namespace tallowmark::update {

struct UnpackLimits {
    std::uint64_t maxArchiveBytes = 512ull << 20;   // the .zip file itself
    std::uint64_t maxUnpackedBytes = 1024ull << 20; // all entries together
    std::uint64_t maxEntries = 20000;
};

// Unpacks `zip` into the existing folder `destination`. Refuses (and answers the
// reason) absolute paths, ".." segments, links that point outside `destination`,
// device and FIFO entries, and archives over the limits. Nothing is written
// outside `destination`.
std::optional<std::string> unpackZip(const std::filesystem::path& zip, const std::filesystem::path& destination,
                                     const UnpackLimits& limits = {});

// Packs the folder `folder` (its name as the top entry, e.g. "TALLOWMARK.app/...")
// into a new ZIP at `zip`, keeping modes and symbolic links.
std::optional<std::string> packZip(const std::filesystem::path& folder, const std::filesystem::path& zip);

}  // namespace tallowmark::update
