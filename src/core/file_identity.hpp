#pragma once

// Whether two paths name the same file. Path text cannot say: a folder reached
// through a link, a hard link, or a name that differs only in case on a folder
// that ignores case all name one file under different texts. Writing a copy or
// an export over a file it was made from destroys the original, so the writers
// decide "same file" here and nowhere else.

#include <cstddef>
#include <filesystem>
#include <optional>
#include <span>

namespace tallowmark {

// True when `a` and `b` name the same file: the same device and inode once
// links are followed. A path with nothing at it yet stands for the place it
// would be created: its folder (links followed) and its last component, so two
// such paths are the same when they would create the same entry. The same
// text once made absolute and rid of "." and ".." is always the same file.
bool sameFile(const std::filesystem::path& a, const std::filesystem::path& b);

// The position of the first of `files` that names the same file as `path`;
// none when it names none of them.
std::optional<std::size_t> findSameFile(const std::filesystem::path& path,
                                        std::span<const std::filesystem::path> files);

}  // namespace tallowmark
