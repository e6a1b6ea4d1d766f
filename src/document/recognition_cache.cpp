#include "document/recognition_cache.hpp"

#include <dirent.h>
#include <fcntl.h>
#include <glib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <tuple>

#include "core/atomic_file.hpp"
#include "core/json_helpers.hpp"

namespace tallowmark {

namespace fs = std::filesystem;

namespace {

// An entry as stored: the key beside the page, so that a renamed file or a
// short-hash collision never answers for another key. Words are records with
// one-letter keys: a page of them is most of the file.
struct EntryWord {
    std::string text;
    double x = 0, y = 0, w = 0, h = 0;
    std::int64_t confidence = 0;
    std::int64_t line = 0;
};

struct EntryFile {
    std::int64_t format = 0;
    std::string pdfHash;
    std::int64_t page = 0;
    std::string languages;
    std::string engine;
    std::string dataStamp;
    std::int64_t dpi = 0;
    std::int64_t width = 0;
    std::int64_t height = 0;
    double skewDegrees = 0;
    std::vector<EntryWord> words;
};

// Raised when what is stored changes shape; older entries then miss.
constexpr std::int64_t entryFormat = 1;

}  // namespace

template <>
struct RecordFields<EntryWord> {
    static constexpr auto list = std::tuple{
        FieldKey{"t", &EntryWord::text, RequiredForm{}}, FieldKey{"x", &EntryWord::x, RequiredForm{}},
        FieldKey{"y", &EntryWord::y, RequiredForm{}},    FieldKey{"w", &EntryWord::w, RequiredForm{}},
        FieldKey{"h", &EntryWord::h, RequiredForm{}},    FieldKey{"c", &EntryWord::confidence, RequiredForm{}},
        FieldKey{"l", &EntryWord::line, RequiredForm{}}};
};

// The words are a plain list so that they are decoded one by one as parsed;
// their presence is checked after decoding.
template <>
struct RecordFields<EntryFile> {
    static constexpr auto list = std::tuple{FieldKey{"format", &EntryFile::format, RequiredForm{}},
                                            FieldKey{"pdfHash", &EntryFile::pdfHash, RequiredForm{}},
                                            FieldKey{"page", &EntryFile::page, RequiredForm{}},
                                            FieldKey{"languages", &EntryFile::languages, RequiredForm{}},
                                            FieldKey{"engine", &EntryFile::engine, RequiredForm{}},
                                            FieldKey{"dataStamp", &EntryFile::dataStamp, RequiredForm{}},
                                            FieldKey{"dpi", &EntryFile::dpi, RequiredForm{}},
                                            FieldKey{"width", &EntryFile::width, RequiredForm{}},
                                            FieldKey{"height", &EntryFile::height, RequiredForm{}},
                                            FieldKey{"skewDegrees", &EntryFile::skewDegrees, RequiredForm{}},
                                            FieldKey{"words", &EntryFile::words}};
};

namespace {

Json toJson(const EntryWord& word) { return fieldsToJson(word); }

constexpr std::array entryBounds{ListBound{"words", RecognitionCache::maxWords, PastBound::refuse}};

// The key's texts are a few dozen bytes; a longer one is not a key of ours.
constexpr std::size_t maxKeyTextBytes = 4096;
// A box may pass the image's edge by rounding, no more.
constexpr double edgeTolerance = 1e-6;
// Recognition levels lines turned a few degrees; past a right angle is no skew.
constexpr double maxSkewDegrees = 90;
constexpr std::size_t maxLanguages = 32;

bool isHexHash(const std::string& text) {
    return text.size() == 64 && std::all_of(text.begin(), text.end(),
                                            [](char c) { return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'); });
}

// A key that can name an entry: its hash is a folder name of ours, and a
// data stamp that is empty (unknown data) never matches.
bool usableKey(const RecognitionKey& key) {
    return isHexHash(key.pdfHash) && key.page >= 0 && !key.dataStamp.empty() &&
           key.languages.size() <= maxKeyTextBytes && key.engine.size() <= maxKeyTextBytes &&
           key.dataStamp.size() <= maxKeyTextBytes;
}

bool sameKey(const EntryFile& entry, const RecognitionKey& key) {
    return std::tie(entry.pdfHash, entry.page, entry.languages, entry.engine, entry.dataStamp) ==
           std::tie(key.pdfHash, key.page, key.languages, key.engine, key.dataStamp);
}

std::string sha256Hex(std::string_view bytes) {
    gchar* digest =
        g_compute_checksum_for_data(G_CHECKSUM_SHA256, reinterpret_cast<const guchar*>(bytes.data()), bytes.size());
    std::string hex(digest);
    g_free(digest);
    return hex;
}

// The same language names the recognizer accepts.
bool inside(double start, double length, int side) {
    return std::isfinite(start) && std::isfinite(length) && start >= 0 && length >= 0 &&
           start + length <= side + edgeTolerance;
}

// Whether a page is one recognition could have given: the bounds load holds
// every file to and store every page to.
bool withinBounds(const CachedPage& page) {
    if (page.dpi < minRecognitionDpi || page.dpi > maxRecognitionDpi) return false;
    if (page.width < 1 || page.width > maxRecognitionSide || page.height < 1 || page.height > maxRecognitionSide)
        return false;
    if (!std::isfinite(page.skewDegrees) || std::abs(page.skewDegrees) > maxSkewDegrees) return false;
    if (page.words.size() > RecognitionCache::maxWords) return false;
    return std::all_of(page.words.begin(), page.words.end(), [&](const RecognisedWord& word) {
        return !word.text.empty() && word.text.size() <= RecognitionCache::maxWordBytes &&
               inside(word.x, word.w, page.width) && inside(word.y, word.h, page.height) && word.confidence >= 0 &&
               word.confidence <= 100 && word.line >= 0 &&
               static_cast<std::size_t>(word.line) < RecognitionCache::maxWords;
    });
}

// The stored page, when the entry is whole, of this key and within bounds.
std::optional<CachedPage> pageOf(const EntryFile& entry, const RecognitionKey& key) {
    if (entry.format != entryFormat || !sameKey(entry, key)) return std::nullopt;
    // Narrowed only once in range; withinBounds then holds them to the real bounds.
    const auto small = [](std::int64_t value) { return value >= 0 && value <= maxRecognitionSide; };
    if (!small(entry.dpi) || !small(entry.width) || !small(entry.height)) return std::nullopt;
    CachedPage page{static_cast<int>(entry.dpi),
                    static_cast<int>(entry.width),
                    static_cast<int>(entry.height),
                    {},
                    entry.skewDegrees};
    page.words.reserve(entry.words.size());
    for (const EntryWord& stored : entry.words) {
        if (stored.confidence < 0 || stored.confidence > 100 || stored.line < 0 ||
            stored.line >= static_cast<std::int64_t>(RecognitionCache::maxWords))
            return std::nullopt;
        page.words.push_back(RecognisedWord{stored.text, stored.x, stored.y, stored.w, stored.h,
                                            static_cast<int>(stored.confidence), static_cast<int>(stored.line)});
    }
    if (!withinBounds(page)) return std::nullopt;
    return page;
}

// A box past the image's edge cut to it; false for one that is no box.
bool cutToImage(double& start, double& length, int side) {
    if (!std::isfinite(start) || !std::isfinite(length) || length < 0) return false;
    const double from = std::clamp(start, 0.0, static_cast<double>(side));
    const double to = std::clamp(start + length, 0.0, static_cast<double>(side));
    start = from;
    length = std::max(to - from, 0.0);
    return true;
}

// Marks the folder used now; a link is not followed.
void touch(const fs::path& folder) { ::utimensat(AT_FDCWD, folder.c_str(), nullptr, AT_SYMLINK_NOFOLLOW); }

bool isRealFolder(const fs::path& path) {
    std::error_code error;
    return fs::symlink_status(path, error).type() == fs::file_type::directory;
}

class Descriptor {
public:
    explicit Descriptor(int fd) : fd_(fd) {}
    ~Descriptor() {
        if (fd_ >= 0) ::close(fd_);
    }
    Descriptor(const Descriptor&) = delete;
    Descriptor& operator=(const Descriptor&) = delete;
    int get() const { return fd_; }

private:
    int fd_;
};

// Calls visit(name) for each name in the open folder `fd` but "." and "..".
template <class Visit>
void forEachName(int fd, Visit visit) {
    const int own = ::dup(fd);
    if (own < 0) return;
    DIR* dir = ::fdopendir(own);
    if (!dir) {
        ::close(own);
        return;
    }
    while (const dirent* entry = ::readdir(dir)) {
        const std::string_view name = entry->d_name;
        if (name != "." && name != "..") visit(entry->d_name);
    }
    ::closedir(dir);
}

struct PdfFolder {
    std::string name;
    std::uintmax_t bytes = 0;
    struct timespec used {};
};

// Everything in the cache is reached through descriptors of folders opened
// without following links, each name looked at with lstat: a link inside the
// root, to a folder or a file, is neither counted nor followed nor removed,
// even when it takes a folder's place while the pruning runs.
// The regular files of the root's folder `name` and their bytes; with
// `remove`, the bytes of those removed, and the folder goes once empty.
std::optional<PdfFolder> measure(int rootFd, const char* name, bool remove) {
    Descriptor fd(::openat(rootFd, name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    struct stat info {};
    if (fd.get() < 0 || ::fstat(fd.get(), &info) != 0) return std::nullopt;
    PdfFolder folder{name, 0, info.st_mtim};
    forEachName(fd.get(), [&](const char* file) {
        struct stat fileInfo {};
        if (::fstatat(fd.get(), file, &fileInfo, AT_SYMLINK_NOFOLLOW) != 0 || !S_ISREG(fileInfo.st_mode)) return;
        // When removing, what went: a file that stays still counts.
        if (!remove || ::unlinkat(fd.get(), file, 0) == 0)
            folder.bytes += static_cast<std::uintmax_t>(fileInfo.st_size);
    });
    // Fails, leaving the folder, when anything else is in it (a link, a new entry being written).
    if (remove) ::unlinkat(rootFd, name, AT_REMOVEDIR);
    return folder;
}

bool usedBefore(const PdfFolder& a, const PdfFolder& b) {
    return std::tie(a.used.tv_sec, a.used.tv_nsec, a.name) < std::tie(b.used.tv_sec, b.used.tv_nsec, b.name);
}

}  // namespace

std::string contentHash(const PdfBytes& pdf) {
    if (!pdf) return {};
    gsize size = 0;
    const auto* data = static_cast<const guchar*>(g_bytes_get_data(pdf.get(), &size));
    GChecksum* checksum = g_checksum_new(G_CHECKSUM_SHA256);
    // The length it takes is signed: a huge file goes in pieces.
    constexpr gsize piece = gsize{1} << 30;
    for (gsize done = 0; done < size; done += std::min(piece, size - done))
        g_checksum_update(checksum, data + done, static_cast<gssize>(std::min(piece, size - done)));
    std::string hex = g_checksum_get_string(checksum);
    g_checksum_free(checksum);
    return hex;
}

std::string languageDataStamp(const fs::path& dataFolder, const std::string& languages) {
    std::string stamp;
    std::size_t count = 0;
    for (const std::string& name : splitLanguages(languages)) {
        if (!validLanguageName(name) || ++count > maxLanguages) return {};
        // Followed when a link: a package update replaces the file it leads to.
        struct stat info {};
        const fs::path file = dataFolder / (name + ".traineddata");
        if (::stat(file.c_str(), &info) != 0 || !S_ISREG(info.st_mode)) return {};
        char times[64];
        std::snprintf(times, sizeof times, "%lld %lld.%09ld", static_cast<long long>(info.st_size),
                      static_cast<long long>(info.st_mtim.tv_sec), static_cast<long>(info.st_mtim.tv_nsec));
        stamp += (stamp.empty() ? "" : "+") + name + " " + times;
    }
    return stamp;
}

RecognitionCache::RecognitionCache() : RecognitionCache(defaultRoot()) {}

RecognitionCache::RecognitionCache(fs::path root, std::uintmax_t maxBytes)
    : root_(std::move(root)), maxBytes_(maxBytes) {}

fs::path RecognitionCache::defaultRoot() { return fs::path(g_get_user_cache_dir()) / "TALLOWMARK" / "ocr"; }

fs::path RecognitionCache::entryPath(const RecognitionKey& key) const {
    if (!usableKey(key)) return {};
    // Each text with its length first, so that no two keys run together into the same bytes.
    std::string rest;
    for (const std::string* text : {&key.pdfHash, &key.languages, &key.engine, &key.dataStamp})
        rest += std::to_string(text->size()) + ":" + *text + ";";
    return root_ / key.pdfHash / ("p" + std::to_string(key.page) + "-" + sha256Hex(rest).substr(0, 16) + ".json");
}

std::optional<CachedPage> RecognitionCache::load(const RecognitionKey& key) const {
    const fs::path path = entryPath(key);
    if (path.empty() || !isRealFolder(path.parent_path())) return std::nullopt;
    // Not through a link: an entry is a file the cache wrote in its own folder.
    std::error_code error;
    if (fs::symlink_status(path, error).type() != fs::file_type::regular) return std::nullopt;
    // Refuses anything but a regular file without waiting, should one take the name meanwhile.
    const ReadResult read = readWholeFile(path, maxEntryBytes);
    if (read.status != ReadStatus::ok) return std::nullopt;
    FileNotes notes;
    const std::optional<EntryFile> entry = decodeFile<EntryFile>(read.bytes, entryBounds, notes, 8);
    // Repaired text is damage: the words would not be the ones recognised.
    if (!entry || notes.repaired || !fieldPresent<EntryFile>(notes, "words")) return std::nullopt;
    std::optional<CachedPage> page = pageOf(*entry, key);
    if (page) touch(path.parent_path());
    return page;
}

bool RecognitionCache::store(const RecognitionKey& key, const CachedPage& page) const {
    const fs::path path = entryPath(key);
    if (path.empty()) return false;
    EntryFile entry{entryFormat, key.pdfHash, key.page,    key.languages,    key.engine, key.dataStamp,
                    page.dpi,    page.width,  page.height, page.skewDegrees, {}};
    entry.words.reserve(page.words.size());
    CachedPage cut = page;
    for (RecognisedWord& word : cut.words) {
        if (!cutToImage(word.x, word.w, page.width) || !cutToImage(word.y, word.h, page.height)) return false;
        entry.words.push_back(EntryWord{word.text, word.x, word.y, word.w, word.h, word.confidence, word.line});
    }
    if (!withinBounds(cut)) return false;
    const std::string bytes = dumpJson(fieldsToJson(entry), -1);
    if (bytes.size() > maxEntryBytes) return false;

    const fs::path folder = path.parent_path();
    std::error_code error;
    fs::create_directories(root_, error);
    fs::create_directory(folder, error);
    // A link put in the folder's place is not written through.
    if (!isRealFolder(folder) || !writeFileAtomically(path, bytes)) return false;
    touch(folder);
    prune(key.pdfHash);
    return true;
}

void RecognitionCache::prune(const std::string& kept) const {
    Descriptor rootFd(::open(root_.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (rootFd.get() < 0) return;
    std::vector<PdfFolder> folders;
    std::uintmax_t total = 0;
    forEachName(rootFd.get(), [&](const char* name) {
        // Only the folders the cache makes; anything else here is not its own.
        if (!isHexHash(name)) return;
        if (std::optional<PdfFolder> folder = measure(rootFd.get(), name, false)) {
            total += folder->bytes;
            folders.push_back(std::move(*folder));
        }
    });
    if (total <= maxBytes_) return;
    std::sort(folders.begin(), folders.end(), usedBefore);
    const std::uintmax_t target = maxBytes_ / 4 * 3;
    for (const PdfFolder& folder : folders) {
        if (total < target) break;
        if (folder.name == kept) continue;
        // Counted again as removed: another process may have added or taken files since.
        const std::optional<PdfFolder> removed = measure(rootFd.get(), folder.name.c_str(), true);
        total -= std::min(total, removed ? removed->bytes : folder.bytes);  // none: another pruner took it
    }
}

}  // namespace tallowmark
