#include "core/atomic_file.hpp"

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <fstream>
#include <map>
#include <utility>
#include <vector>

#include "core/system_log.hpp"

namespace tallowmark {

namespace fs = std::filesystem;

namespace {

// A temporary file left by a killed writer is stale once it is this old and no
// one holds its lock. The lock alone would leave a window between mkstemp and
// flock in which a fresh file looks abandoned; the age closes it.
constexpr std::time_t staleAfterSeconds = 5;

class FileDescriptor {
public:
    explicit FileDescriptor(int fd) : fd_(fd) {}
    ~FileDescriptor() { close(); }
    FileDescriptor(const FileDescriptor&) = delete;
    FileDescriptor& operator=(const FileDescriptor&) = delete;
    int get() const { return fd_; }
    int release() {
        const int fd = fd_;
        fd_ = -1;
        return fd;
    }
    int close() {
        int result = 0;
        if (fd_ >= 0) result = ::close(fd_);
        fd_ = -1;
        return result;
    }

private:
    int fd_;
};

// Our own code for "exists but is not a regular file"; no errno says that.
constexpr int notRegular = -1;

std::string describe(int code) { return code == notRegular ? "not a regular file" : std::strerror(code); }

bool fail(std::string* error, int code) {
    if (error) *error = describe(code);
    return false;
}

bool writeAll(int fd, std::string_view bytes) {
    const char* data = bytes.data();
    std::size_t left = bytes.size();
    while (left > 0) {
        ssize_t written = ::write(fd, data, left);
        if (written < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        data += written;
        left -= static_cast<std::size_t>(written);
    }
    return true;
}

fs::path folderOf(const fs::path& path) { return path.has_parent_path() ? path.parent_path() : fs::path("."); }

// Taken once before main, while the process has a single thread, for systems
// without /proc; umask() can only be read by setting it.
const mode_t startUmask = [] {
    const mode_t mask = ::umask(022);
    ::umask(mask);
    return mask;
}();

// Opens a file for reading without waiting on it: a FIFO with no writer would
// otherwise block open() for ever. Refuses anything but a regular file.
int openRegularForReading(const fs::path& path, struct stat& info, int& code) {
    FileDescriptor fd(::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC));
    if (fd.get() < 0) {
        code = errno;
        return -1;
    }
    if (::fstat(fd.get(), &info) != 0) {
        code = errno;
        return -1;
    }
    if (!S_ISREG(info.st_mode)) {
        code = S_ISDIR(info.st_mode) ? EISDIR : notRegular;
        return -1;
    }
    // Regular files ignore O_NONBLOCK; cleared anyway so reads behave as documented.
    ::fcntl(fd.get(), F_SETFL, ::fcntl(fd.get(), F_GETFL) & ~O_NONBLOCK);
    return fd.release();
}

// The mode for a file written at `destination`: that of the file being
// replaced, or 0666 less the umask for a new one. A file we cannot read (mode
// 000, another owner) is not copied on: it would stay unreadable for ever.
mode_t modeFor(const fs::path& destination) {
    const mode_t fresh = 0666 & ~currentUmask();
    struct stat existing {};
    if (::stat(destination.c_str(), &existing) != 0) return fresh;
    const bool readable = (existing.st_mode & S_IRUSR) != 0 && ::access(destination.c_str(), R_OK) == 0;
    if (readable) return existing.st_mode & 07777;
    logSystem("korvattava tiedosto ei ollut luettavissa, uusi tiedosto kirjoitetaan luettavaksi: " +
              destination.string());
    return fresh;
}

bool isOurTemporaryName(std::string_view name, std::string_view prefix) {
    // mkstemp replaces XXXXXX with six letters and digits.
    if (name.size() != prefix.size() + 6 || !name.starts_with(prefix)) return false;
    for (char c : name.substr(prefix.size())) {
        const bool alnum = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9');
        if (!alnum) return false;
    }
    return true;
}

}  // namespace

mode_t currentUmask() {
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line)) {
        if (!line.starts_with("Umask:")) continue;
        unsigned mask = 0;
        if (std::sscanf(line.c_str() + 6, "%o", &mask) == 1) return static_cast<mode_t>(mask & 0777);
        break;
    }
    return startUmask;
}

void removeStaleTemporaries(std::span<const fs::path> files, std::span<const fs::path> kept) {
    // Where each kept file really is: a link named like our debris may lead to
    // the script or its marks, and a hard link is the same file under a name
    // of ours. Neither may go.
    std::vector<std::pair<dev_t, ino_t>> keptFiles;
    for (const fs::path& path : kept) {
        struct stat info {};
        if (::stat(path.c_str(), &info) == 0) keptFiles.emplace_back(info.st_dev, info.st_ino);
    }
    std::map<fs::path, std::vector<std::string>> prefixesByFolder;
    for (const fs::path& path : files) {
        prefixesByFolder[folderOf(path)].push_back("." + path.filename().string() + ".tmp-");
    }
    const std::time_t now = std::time(nullptr);
    for (const auto& [folder, prefixes] : prefixesByFolder) {
        DIR* dir = ::opendir(folder.c_str());
        if (!dir) continue;
        while (const dirent* entry = ::readdir(dir)) {
            const bool ours = std::any_of(prefixes.begin(), prefixes.end(), [&](const std::string& prefix) {
                return isOurTemporaryName(entry->d_name, prefix);
            });
            if (!ours) continue;
            FileDescriptor fd(::openat(::dirfd(dir), entry->d_name, O_RDONLY | O_NONBLOCK | O_NOFOLLOW | O_CLOEXEC));
            struct stat info {};
            if (fd.get() < 0 || ::fstat(fd.get(), &info) != 0 || !S_ISREG(info.st_mode)) continue;
            if (info.st_nlink != 1) continue;
            const auto same = [&](const std::pair<dev_t, ino_t>& file) {
                return file.first == info.st_dev && file.second == info.st_ino;
            };
            if (std::any_of(keptFiles.begin(), keptFiles.end(), same)) continue;
            if (now - info.st_mtime < staleAfterSeconds) continue;
            // Every writer of ours holds an exclusive lock until its rename; a
            // lock we can take means the writer is gone.
            if (::flock(fd.get(), LOCK_EX | LOCK_NB) != 0) continue;
            // The name must still be the file just checked, not one put in its place meanwhile.
            struct stat atName {};
            if (::fstatat(::dirfd(dir), entry->d_name, &atName, AT_SYMLINK_NOFOLLOW) != 0 ||
                atName.st_dev != info.st_dev || atName.st_ino != info.st_ino) {
                continue;
            }
            ::unlinkat(::dirfd(dir), entry->d_name, 0);
        }
        ::closedir(dir);
    }
}

void removeStaleTemporaries(const fs::path& path) {
    const fs::path one[] = {path};
    removeStaleTemporaries(one, one);
}

std::optional<StagedFile> StagedFile::create(const fs::path& destination, std::string* error) {
    removeStaleTemporaries(destination);
    std::string pattern = (folderOf(destination) / ("." + destination.filename().string() + ".tmp-XXXXXX")).string();
    FileDescriptor fd(::mkostemp(pattern.data(), O_CLOEXEC));
    if (fd.get() < 0) {
        fail(error, errno);
        return std::nullopt;
    }
    ::flock(fd.get(), LOCK_EX | LOCK_NB);  // fresh file: no one else can hold it
    ::fchmod(fd.get(), modeFor(destination));
    return StagedFile(fd.release(), pattern, destination);
}

bool StagedFile::finish(std::string* error) {
    if (::fsync(fd_) != 0) return fail(error, errno);
    return true;
}

std::optional<StagedFile> StagedFile::write(const fs::path& destination, std::string_view bytes,
                                            std::string* error) {
    std::optional<StagedFile> staged = create(destination, error);
    if (!staged) return std::nullopt;
    if (!writeAll(staged->fd_, bytes)) {
        fail(error, errno);
        return std::nullopt;
    }
    if (!staged->finish(error)) return std::nullopt;
    return staged;
}

std::optional<StagedFile> StagedFile::copy(const fs::path& source, const fs::path& destination,
                                           std::string* error) {
    struct stat info {};
    int code = 0;
    FileDescriptor in(openRegularForReading(source, info, code));
    if (in.get() < 0) {
        fail(error, code);
        return std::nullopt;
    }
    std::optional<StagedFile> staged = create(destination, error);
    if (!staged) return std::nullopt;
    char buffer[65536];
    for (;;) {
        const ssize_t got = ::read(in.get(), buffer, sizeof buffer);
        if (got < 0 && errno == EINTR) continue;
        if (got < 0 || !writeAll(staged->fd_, std::string_view(buffer, static_cast<std::size_t>(got < 0 ? 0 : got)))) {
            fail(error, errno);
            return std::nullopt;
        }
        if (got == 0) break;
    }
    if (!staged->finish(error)) return std::nullopt;
    return staged;
}

StagedFile::StagedFile(StagedFile&& other) noexcept
    : fd_(other.fd_), temporary_(std::move(other.temporary_)), destination_(std::move(other.destination_)) {
    other.fd_ = -1;
    other.temporary_.clear();
}

StagedFile::~StagedFile() {
    if (!temporary_.empty()) ::unlink(temporary_.c_str());
    if (fd_ >= 0) ::close(fd_);
}

bool StagedFile::commit(std::string* error) {
    if (temporary_.empty()) return fail(error, EINVAL);
    if (::rename(temporary_.c_str(), destination_.c_str()) != 0) return fail(error, errno);
    temporary_.clear();
    ::close(fd_);  // after the rename: the lock covers the whole life of the temporary name
    fd_ = -1;
    // Make the rename itself durable; a failure here leaves a complete file either way.
    FileDescriptor dir(::open(folderOf(destination_).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (dir.get() >= 0) ::fsync(dir.get());
    return true;
}

bool writeFileAtomically(const fs::path& path, std::string_view bytes, std::string* error) {
    std::optional<StagedFile> staged = StagedFile::write(path, bytes, error);
    return staged && staged->commit(error);
}

ReadResult readWholeFile(const fs::path& path, std::size_t maxBytes) {
    ReadResult result;
    struct stat info {};
    int code = 0;
    FileDescriptor fd(openRegularForReading(path, info, code));
    if (fd.get() < 0) {
        result.status = (code == ENOENT) ? ReadStatus::missing : ReadStatus::failed;
        result.error = describe(code);
        return result;
    }
    if (static_cast<std::size_t>(info.st_size) > maxBytes) {
        result.status = ReadStatus::tooLarge;
        result.error = "file too large";
        return result;
    }
    // Room for the whole file at once: growing by doubling would hold up to
    // twice its size while copying, for a file near the limit.
    result.bytes.reserve(static_cast<std::size_t>(info.st_size) + 1);
    char buffer[65536];
    for (;;) {
        ssize_t got = ::read(fd.get(), buffer, sizeof buffer);
        if (got < 0) {
            if (errno == EINTR) continue;
            result.error = std::strerror(errno);
            result.bytes.clear();
            return result;
        }
        if (got == 0) break;
        result.bytes.append(buffer, static_cast<std::size_t>(got));
        // The file may have grown since fstat.
        if (result.bytes.size() > maxBytes) {
            result.status = ReadStatus::tooLarge;
            result.error = "file too large";
            result.bytes.clear();
            return result;
        }
    }
    result.status = ReadStatus::ok;
    return result;
}

}  // namespace tallowmark
