#include "update/package_archive.hpp"

#include <archive.h>
#include <archive_entry.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <set>
#include <string_view>
#include <system_error>
#include <utility>
#include <vector>

namespace tallowmark::update {

namespace fs = std::filesystem;

namespace {

// Links are followed at most this many times when checking where one leads,
// as the kernel does.
constexpr int maxLinkHops = 40;
constexpr std::size_t copyBlock = 64 * 1024;

class FileDescriptor {
public:
    FileDescriptor() = default;
    explicit FileDescriptor(int fd) : fd_(fd) {}
    ~FileDescriptor() {
        if (fd_ >= 0) ::close(fd_);
    }
    FileDescriptor(FileDescriptor&& other) noexcept : fd_(std::exchange(other.fd_, -1)) {}
    FileDescriptor& operator=(FileDescriptor&& other) noexcept {
        if (this != &other) {
            if (fd_ >= 0) ::close(fd_);
            fd_ = std::exchange(other.fd_, -1);
        }
        return *this;
    }
    int get() const { return fd_; }
    bool valid() const { return fd_ >= 0; }
    // Closes now and reports a failed close (a delayed write error).
    bool close() {
        const int fd = std::exchange(fd_, -1);
        return fd < 0 || ::close(fd) == 0;
    }

private:
    int fd_ = -1;
};

struct ArchiveReader {
    archive* handle = archive_read_new();
    ~ArchiveReader() { archive_read_free(handle); }
};

struct ArchiveWriter {
    archive* handle = archive_write_new();
    ~ArchiveWriter() { archive_write_free(handle); }
};

struct Entry {
    archive_entry* handle = archive_entry_new();
    ~Entry() { archive_entry_free(handle); }
};

std::string systemReason(std::string_view what, int error) {
    return std::string(what) + ": " + std::strerror(error);
}

std::string joinSegments(const std::vector<std::string>& segments) {
    std::string path;
    for (const auto& segment : segments) {
        if (!path.empty()) path += '/';
        path += segment;
    }
    return path;
}

// The segments of an entry's path inside the destination, "." and empty ones
// dropped; none for an absolute path or one with "..".
std::optional<std::vector<std::string>> entrySegments(std::string_view path, std::string& reason) {
    if (path.empty()) {
        reason = "the package has an entry without a name";
        return std::nullopt;
    }
    if (path.front() == '/') {
        reason = "the package has an absolute path: " + std::string(path);
        return std::nullopt;
    }
    std::vector<std::string> segments;
    std::size_t start = 0;
    while (start <= path.size()) {
        const std::size_t end = std::min(path.find('/', start), path.size());
        const std::string_view segment = path.substr(start, end - start);
        if (segment == "..") {
            reason = "the package has a path with \"..\": " + std::string(path);
            return std::nullopt;
        }
        if (!segment.empty() && segment != ".") segments.emplace_back(segment);
        start = end + 1;
    }
    return segments;
}

// Where a link at `linkSegments` with `target` points when read by name alone;
// none when that is outside the destination.
bool lexicallyInside(const std::vector<std::string>& linkSegments, std::string_view target) {
    if (target.empty() || target.front() == '/') return false;
    std::vector<std::string> at(linkSegments.begin(), linkSegments.end() - 1);
    std::size_t start = 0;
    while (start <= target.size()) {
        const std::size_t end = std::min(target.find('/', start), target.size());
        const std::string_view segment = target.substr(start, end - start);
        if (segment == "..") {
            if (at.empty()) return false;
            at.pop_back();
        } else if (!segment.empty() && segment != ".") {
            at.emplace_back(segment);
        }
        start = end + 1;
    }
    return true;
}

// Follows `path` (relative to `root`) through the links that exist on disk,
// one name at a time, and answers whether every step stays inside `root`. A
// chain of links that each look harmless can still climb out, so each link is
// resolved against what was actually written.
bool physicallyInside(const fs::path& root, const std::vector<std::string>& path) {
    std::vector<std::string> pending(path.rbegin(), path.rend());  // next name at the back
    std::vector<std::string> at;
    int hops = 0;
    while (!pending.empty()) {
        const std::string name = std::move(pending.back());
        pending.pop_back();
        if (name.empty() || name == ".") continue;
        if (name == "..") {
            if (at.empty()) return false;
            at.pop_back();
            continue;
        }
        const fs::path candidate = root / joinSegments(at) / name;
        struct stat info {};
        if (::lstat(candidate.c_str(), &info) != 0 || !S_ISLNK(info.st_mode)) {
            at.push_back(name);
            continue;
        }
        if (++hops > maxLinkHops) return false;
        std::error_code error;
        const std::string target = fs::read_symlink(candidate, error).string();
        if (error || target.empty() || target.front() == '/') return false;
        std::size_t start = target.size();
        // Push the target's names so its first one is followed next.
        while (true) {
            const std::size_t slash = start == 0 ? std::string::npos : target.rfind('/', start - 1);
            const std::size_t from = slash == std::string::npos ? 0 : slash + 1;
            pending.push_back(target.substr(from, start - from));
            if (slash == std::string::npos) break;
            start = slash;
        }
    }
    return true;
}

// Writes entries under one folder, never through a link: every folder on the
// way is opened without following links, and files are created exclusively.
class Extractor {
public:
    Extractor(FileDescriptor root, fs::path rootPath) : root_(std::move(root)), rootPath_(std::move(rootPath)) {}

    // The folder that holds the last segment, created as needed unless `create`
    // is false (the folder of a hard link's target must already be there).
    std::optional<FileDescriptor> parentOf(const std::vector<std::string>& segments, std::string& reason,
                                           bool create = true) {
        FileDescriptor at(::dup(root_.get()));
        if (!at.valid()) {
            reason = systemReason("cannot open the work folder", errno);
            return std::nullopt;
        }
        for (std::size_t i = 0; i + 1 < segments.size(); ++i) {
            if (i == 0 && create) rememberTop(segments[0]);
            auto next = directory(at, segments[i], create, reason);
            if (!next) return std::nullopt;
            at = std::move(*next);
        }
        return at;
    }

    std::optional<FileDescriptor> directory(const FileDescriptor& at, const std::string& name, bool create,
                                            std::string& reason) {
        if (create && ::mkdirat(at.get(), name.c_str(), 0755) != 0 && errno != EEXIST) {
            reason = systemReason("cannot create " + name, errno);
            return std::nullopt;
        }
        FileDescriptor next(::openat(at.get(), name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
        if (!next.valid()) {
            reason = errno == ELOOP || errno == ENOTDIR ? "the package writes through a link or a file: " + name
                                                        : systemReason("cannot open " + name, errno);
            return std::nullopt;
        }
        return next;
    }

    // A name at the top that this unpacking may have created, removed after a refusal.
    void rememberTop(const std::string& name) {
        if (existedBefore_.count(name) == 0) created_.insert(name);
    }

    // Names at the top that existed before unpacking are never removed on failure.
    void noteExisting() {
        std::error_code error;
        for (const auto& item : fs::directory_iterator(rootPath_, error)) existedBefore_.insert(item.path().filename());
    }

    // Removes what this unpacking created, after a refusal.
    void removeCreated() {
        for (const auto& name : created_) {
            std::error_code error;
            fs::remove_all(rootPath_ / name, error);
        }
    }

private:
    FileDescriptor root_;
    fs::path rootPath_;
    std::set<std::string> created_;
    std::set<std::string> existedBefore_;
};

std::optional<std::string> readError(archive* reader) {
    const char* text = archive_error_string(reader);
    return std::string("the package cannot be read: ") + (text ? text : "unknown error");
}

std::optional<std::string> extractEntries(archive* reader, Extractor& out, const UnpackLimits& limits,
                                          std::vector<std::vector<std::string>>& links) {
    std::uint64_t entries = 0;
    std::uint64_t unpacked = 0;
    std::vector<char> buffer(copyBlock);
    while (true) {
        archive_entry* entry = nullptr;
        const int status = archive_read_next_header(reader, &entry);
        if (status == ARCHIVE_EOF) return std::nullopt;
        if (status < ARCHIVE_WARN) return readError(reader);
        if (++entries > limits.maxEntries) return "the package has more than " + std::to_string(limits.maxEntries) + " entries";

        const char* rawPath = archive_entry_pathname(entry);
        std::string reason;
        const auto segments = entrySegments(rawPath ? rawPath : "", reason);
        if (!segments) return reason;
        const std::string path = joinSegments(*segments);
        const mode_t type = archive_entry_filetype(entry);
        const char* hardlink = archive_entry_hardlink(entry);

        if (segments->empty()) {
            if (type == AE_IFDIR && !hardlink) continue;  // "./" names the work folder itself
            return "the package has an entry without a name";
        }
        auto parent = out.parentOf(*segments, reason);
        if (!parent) return reason;
        if (segments->size() == 1) out.rememberTop(segments->front());
        const std::string& name = segments->back();

        if (hardlink) {
            const auto targetSegments = entrySegments(hardlink, reason);
            if (!targetSegments) return reason;
            if (targetSegments->empty()) return "the package has a hard link to the work folder: " + path;
            auto targetParent = out.parentOf(*targetSegments, reason, /*create=*/false);
            if (!targetParent) return reason;
            struct stat info {};
            if (::fstatat(targetParent->get(), targetSegments->back().c_str(), &info, AT_SYMLINK_NOFOLLOW) != 0 ||
                !S_ISREG(info.st_mode)) {
                return "the package has a hard link to something other than one of its files: " + path;
            }
            if (::linkat(targetParent->get(), targetSegments->back().c_str(), parent->get(), name.c_str(), 0) != 0)
                return systemReason("cannot link " + path, errno);
            continue;
        }

        switch (type) {
        case AE_IFDIR: {
            if (!out.directory(*parent, name, /*create=*/true, reason)) return reason;
            break;
        }
        case AE_IFLNK: {
            const char* target = archive_entry_symlink(entry);
            if (!target || !lexicallyInside(*segments, target))
                return "the package has a link that points outside: " + path;
            if (::symlinkat(target, parent->get(), name.c_str()) != 0)
                return systemReason("cannot create the link " + path, errno);
            links.push_back(*segments);
            break;
        }
        case AE_IFREG: {
            // Only the executable bit is kept: no set-user-id, nothing writable by others.
            const mode_t mode = (archive_entry_perm(entry) & 0111) ? 0755 : 0644;
            FileDescriptor file(::openat(parent->get(), name.c_str(),
                                         O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, mode));
            if (!file.valid()) {
                return errno == EEXIST ? "the package holds " + path + " twice"
                                       : systemReason("cannot create " + path, errno);
            }
            while (true) {
                const la_ssize_t got = archive_read_data(reader, buffer.data(), buffer.size());
                if (got < 0) return readError(reader);
                if (got == 0) break;
                // Counted as written: the sizes in the headers are the sender's word.
                unpacked += static_cast<std::uint64_t>(got);
                if (unpacked > limits.maxUnpackedBytes)
                    return "the package unpacks to more than " + std::to_string(limits.maxUnpackedBytes) + " bytes";
                const char* from = buffer.data();
                std::size_t left = static_cast<std::size_t>(got);
                while (left > 0) {
                    const ssize_t wrote = ::write(file.get(), from, left);
                    if (wrote < 0 && errno == EINTR) continue;
                    if (wrote <= 0) return systemReason("cannot write " + path, errno);
                    from += wrote;
                    left -= static_cast<std::size_t>(wrote);
                }
            }
            if (::fchmod(file.get(), mode) != 0 || !file.close()) return systemReason("cannot write " + path, errno);
            break;
        }
        default:
            return "the package has a device, pipe or socket entry: " + path;
        }
    }
}

// Entries of the folder in a fixed order, so the same folder packs the same way.
std::vector<fs::path> sortedChildren(const fs::path& folder, std::error_code& error) {
    std::vector<fs::path> children;
    for (fs::directory_iterator it(folder, error), end; !error && it != end; it.increment(error))
        children.push_back(it->path());
    std::sort(children.begin(), children.end());
    return children;
}

std::optional<std::string> writeData(archive* writer, const fs::path& file) {
    FileDescriptor in(::open(file.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC));
    if (!in.valid()) return systemReason("cannot read " + file.string(), errno);
    std::vector<char> buffer(copyBlock);
    while (true) {
        const ssize_t got = ::read(in.get(), buffer.data(), buffer.size());
        if (got < 0 && errno == EINTR) continue;
        if (got < 0) return systemReason("cannot read " + file.string(), errno);
        if (got == 0) return std::nullopt;
        if (archive_write_data(writer, buffer.data(), static_cast<std::size_t>(got)) != got)
            return std::string("cannot write the package: ") + archive_error_string(writer);
    }
}

std::optional<std::string> packTree(archive* writer, const fs::path& path, const std::string& name) {
    struct stat info {};
    if (::lstat(path.c_str(), &info) != 0) return systemReason("cannot read " + path.string(), errno);
    Entry entry;
    archive_entry_copy_pathname(entry.handle, (S_ISDIR(info.st_mode) ? name + "/" : name).c_str());
    archive_entry_set_mtime(entry.handle, info.st_mtim.tv_sec, 0);
    std::string target;
    if (S_ISDIR(info.st_mode)) {
        archive_entry_set_filetype(entry.handle, AE_IFDIR);
        archive_entry_set_perm(entry.handle, info.st_mode & 0755);
    } else if (S_ISREG(info.st_mode)) {
        archive_entry_set_filetype(entry.handle, AE_IFREG);
        archive_entry_set_perm(entry.handle, info.st_mode & 0755);
        archive_entry_set_size(entry.handle, info.st_size);
    } else if (S_ISLNK(info.st_mode)) {
        std::error_code error;
        target = fs::read_symlink(path, error).string();
        if (error) return "cannot read the link " + path.string() + ": " + error.message();
        archive_entry_set_filetype(entry.handle, AE_IFLNK);
        archive_entry_set_perm(entry.handle, 0777);
        archive_entry_copy_symlink(entry.handle, target.c_str());
    } else {
        return "cannot pack " + path.string() + ": not a file, folder or link";
    }
    if (archive_write_header(writer, entry.handle) != ARCHIVE_OK)
        return std::string("cannot write the package: ") + archive_error_string(writer);
    if (S_ISREG(info.st_mode)) {
        if (auto failed = writeData(writer, path)) return failed;
    }
    if (!S_ISDIR(info.st_mode)) return std::nullopt;
    std::error_code error;
    const auto children = sortedChildren(path, error);
    if (error) return "cannot list " + path.string() + ": " + error.message();
    for (const auto& child : children) {
        if (auto failed = packTree(writer, child, name + "/" + child.filename().string())) return failed;
    }
    return std::nullopt;
}

}  // namespace

std::optional<std::string> unpackZip(const fs::path& zip, const fs::path& destination, const UnpackLimits& limits) {
    // Checked and read through one descriptor, so the file whose kind and size
    // were checked is the file that is read.
    FileDescriptor input(::open(zip.c_str(), O_RDONLY | O_CLOEXEC));
    if (!input.valid()) return systemReason("cannot read the package", errno);
    struct stat info {};
    if (::fstat(input.get(), &info) != 0) return systemReason("cannot read the package", errno);
    if (!S_ISREG(info.st_mode)) return "the package is not a file";
    if (static_cast<std::uint64_t>(info.st_size) > limits.maxArchiveBytes)
        return "the package is larger than " + std::to_string(limits.maxArchiveBytes) + " bytes";

    FileDescriptor root(::open(destination.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (!root.valid()) return systemReason("cannot open the work folder", errno);
    Extractor out(std::move(root), destination);
    out.noteExisting();

    ArchiveReader reader;
    archive_read_support_format_zip(reader.handle);
    if (archive_read_open_fd(reader.handle, input.get(), copyBlock) != ARCHIVE_OK) {
        const char* text = archive_error_string(reader.handle);
        return std::string("the package is not a ZIP archive") + (text ? std::string(" (") + text + ")" : "");
    }
    std::vector<std::vector<std::string>> links;
    std::optional<std::string> failed = extractEntries(reader.handle, out, limits, links);
    if (!failed) {
        // Only now is every link in place, so chains of them can be followed.
        for (const auto& link : links) {
            if (!physicallyInside(destination, link)) {
                failed = "the package has a link that points outside: " + joinSegments(link);
                break;
            }
        }
    }
    if (failed) out.removeCreated();
    return failed;
}

std::optional<std::string> packZip(const fs::path& folder, const fs::path& zip) {
    struct stat info {};
    if (::lstat(folder.c_str(), &info) != 0 || !S_ISDIR(info.st_mode)) return "not a folder: " + folder.string();
    const fs::path partial = zip.string() + ".part";
    ArchiveWriter writer;
    if (archive_write_set_format_zip(writer.handle) != ARCHIVE_OK ||
        archive_write_open_filename(writer.handle, partial.c_str()) != ARCHIVE_OK) {
        return std::string("cannot write the package: ") + archive_error_string(writer.handle);
    }
    const fs::path name = folder.filename().empty() ? folder.parent_path().filename() : folder.filename();
    std::optional<std::string> failed = packTree(writer.handle, folder, name.string());
    if (!failed && archive_write_close(writer.handle) != ARCHIVE_OK)
        failed = std::string("cannot write the package: ") + archive_error_string(writer.handle);
    std::error_code error;
    if (failed) {
        fs::remove(partial, error);
        return failed;
    }
    fs::rename(partial, zip, error);
    if (error) {
        fs::remove(partial, error);
        return "cannot write the package: " + error.message();
    }
    return std::nullopt;
}

}  // namespace tallowmark::update
