#include "core/atomic_file.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace tallowmark {

namespace {

class FileDescriptor {
public:
    explicit FileDescriptor(int fd) : fd_(fd) {}
    ~FileDescriptor() { close(); }
    FileDescriptor(const FileDescriptor&) = delete;
    FileDescriptor& operator=(const FileDescriptor&) = delete;
    int get() const { return fd_; }
    int close() {
        int result = 0;
        if (fd_ >= 0) result = ::close(fd_);
        fd_ = -1;
        return result;
    }

private:
    int fd_;
};

bool fail(std::string* error, int code) {
    if (error) *error = std::strerror(code);
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

}  // namespace

bool writeFileAtomically(const std::filesystem::path& path, std::string_view bytes,
                         std::string* error) {
    const std::filesystem::path folder =
        path.has_parent_path() ? path.parent_path() : std::filesystem::path(".");
    std::string pattern = (folder / ("." + path.filename().string() + ".tmp-XXXXXX")).string();
    FileDescriptor fd(::mkstemp(pattern.data()));
    if (fd.get() < 0) return fail(error, errno);

    // Keep the permissions of the file being replaced; a new file is readable by all,
    // like any document the operator saves.
    struct stat existing {};
    mode_t mode = (::stat(path.c_str(), &existing) == 0) ? (existing.st_mode & 07777) : 0644;
    ::fchmod(fd.get(), mode);

    int code = 0;
    if (!writeAll(fd.get(), bytes) || ::fsync(fd.get()) != 0) code = errno;
    if (fd.close() != 0 && code == 0) code = errno;
    if (code == 0 && ::rename(pattern.c_str(), path.c_str()) != 0) code = errno;
    if (code != 0) {
        ::unlink(pattern.c_str());
        return fail(error, code);
    }
    // Make the rename itself durable; a failure here leaves a complete file either way.
    FileDescriptor dir(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (dir.get() >= 0) ::fsync(dir.get());
    return true;
}

ReadResult readWholeFile(const std::filesystem::path& path, std::size_t maxBytes) {
    ReadResult result;
    FileDescriptor fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
    if (fd.get() < 0) {
        result.status = (errno == ENOENT) ? ReadStatus::missing : ReadStatus::failed;
        result.error = std::strerror(errno);
        return result;
    }
    struct stat info {};
    if (::fstat(fd.get(), &info) != 0 || !S_ISREG(info.st_mode)) {
        result.error = S_ISDIR(info.st_mode) ? std::strerror(EISDIR) : std::strerror(errno);
        return result;
    }
    if (static_cast<std::size_t>(info.st_size) > maxBytes) {
        result.status = ReadStatus::tooLarge;
        result.error = "file too large";
        return result;
    }
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
