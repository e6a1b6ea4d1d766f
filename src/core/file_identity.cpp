#include "core/file_identity.hpp"

#include <sys/stat.h>

#include <string>
#include <system_error>

namespace tallowmark {

namespace fs = std::filesystem;

namespace {

// Where a path leads: an existing file, or the entry it would create.
struct Location {
    bool exists = false;
    bool reached = false;  // the file, or the folder it would be created in, was found
    dev_t device = 0;
    ino_t inode = 0;    // of the file, or of the folder it would be created in
    std::string name;   // the entry to be created; empty for an existing file
    fs::path text;      // absolute, without dot components

    // The same text counts as the same file whatever the disk says ("x/../y"
    // names y even when x is missing), so a refusal never depends on it.
    bool operator==(const Location& other) const {
        if (text == other.text) return true;
        return reached && other.reached && exists == other.exists && device == other.device &&
               inode == other.inode && name == other.name;
    }
};

// Links are followed as the kernel does, up to its own limit of 40.
constexpr int maxLinks = 40;

fs::path normalText(const fs::path& path) {
    std::error_code error;
    const fs::path absolute = fs::absolute(path, error);
    return (error ? path : absolute).lexically_normal();
}

Location locateTarget(const fs::path& path, int links) {
    Location at;
    struct stat info {};
    if (::stat(path.c_str(), &info) == 0) {
        at.exists = at.reached = true;
        at.device = info.st_dev;
        at.inode = info.st_ino;
        return at;
    }
    // A link to nothing yet: a write through it creates the file it points at.
    struct stat linkInfo {};
    std::error_code error;
    if (links < maxLinks && ::lstat(path.c_str(), &linkInfo) == 0 && S_ISLNK(linkInfo.st_mode)) {
        const fs::path target = fs::read_symlink(path, error);
        if (!error) return locateTarget(target.is_absolute() ? target : path.parent_path() / target, links + 1);
    }
    at.name = path.filename().string();
    // "x/." or "x/..": no entry of its own to create; left to the text.
    if (at.name.empty() || at.name == "." || at.name == "..") return at;
    const fs::path folder = path.has_parent_path() ? path.parent_path() : fs::path(".");
    if (::stat(folder.c_str(), &info) == 0 && S_ISDIR(info.st_mode)) {
        at.reached = true;
        at.device = info.st_dev;
        at.inode = info.st_ino;
    }
    return at;
}

Location locate(const fs::path& path) {
    Location at = locateTarget(path, 0);
    at.text = normalText(path);
    return at;
}

}  // namespace

bool sameFile(const fs::path& a, const fs::path& b) { return locate(a) == locate(b); }

std::optional<std::size_t> findSameFile(const fs::path& path, std::span<const fs::path> files) {
    const Location wanted = locate(path);
    for (std::size_t i = 0; i < files.size(); ++i)
        if (locate(files[i]) == wanted) return i;
    return std::nullopt;
}

}  // namespace tallowmark
