#include "cues/show_report.hpp"

#include <fcntl.h>
#include <glib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <utility>

#include "core/atomic_file.hpp"
#include "core/json_helpers.hpp"
#include "core/unicode_text.hpp"
#include "core/system_log.hpp"
#include "core/text_repair.hpp"

namespace fs = std::filesystem;

namespace tallowmark {

namespace {

// A label is a line of the script at most; anything longer is cut so that one
// hostile cue cannot grow every line of the file.
constexpr std::size_t maxTextBytes = 240;
// Longer lines are not ours: skipped unread.
constexpr std::size_t maxLineBytes = 4096;

constexpr std::array<std::pair<ReportEntry::Kind, std::string_view>, 7> kindNames{{
    {ReportEntry::Kind::open, "open"},
    {ReportEntry::Kind::go, "go"},
    {ReportEntry::Kind::back, "back"},
    {ReportEntry::Kind::reset, "reset"},
    {ReportEntry::Kind::standby, "standby"},
    {ReportEntry::Kind::ignored, "ignored"},
    {ReportEntry::Kind::resume, "resume"},
}};

std::string cut(std::string text) {
    repairUtf8(text);
    if (text.size() <= maxTextBytes) return text;
    return cutUtf8(text, maxTextBytes) + "\u2026";
}

std::optional<ReportEntry::Kind> kindNamed(std::string_view name) {
    for (const auto& [kind, text] : kindNames)
        if (text == name) return kind;
    return std::nullopt;
}

// Milliseconds between two entries: the steady clock within one launch (a
// clock set during the show does not bend the times), the wall clock across.
std::int64_t millisBetween(const ReportEntry& a, const ReportEntry& b) {
    if (!a.launch.empty() && a.launch == b.launch) return (b.monoUs - a.monoUs) / 1000;
    return b.wallMs - a.wallMs;
}

std::string csvField(std::string_view text) {
    // A field a spreadsheet would take for a formula is quoted and led by an apostrophe.
    const bool formula = !text.empty() && std::string_view("=+-@\t\r").find(text.front()) != std::string_view::npos;
    if (!formula && text.find_first_of(",\"\n\r") == std::string_view::npos) return std::string(text);
    std::string quoted = "\"";
    if (formula) quoted += '\'';
    for (const char c : text) {
        if (c == '"') quoted += '"';
        quoted += c;
    }
    return quoted + "\"";
}

std::string isoTime(std::int64_t wallMs) {
    GDateTime* time = g_date_time_new_from_unix_local(wallMs / 1000);
    if (!time) return {};
    gchar* text = g_date_time_format(time, "%Y-%m-%d %H:%M:%S");
    std::string result = text ? text : "";
    g_free(text);
    g_date_time_unref(time);
    return result;
}

std::string seconds(double value) {
    char text[32];
    std::snprintf(text, sizeof text, "%.1f", value);
    return text;
}

}  // namespace

std::string_view kindName(ReportEntry::Kind kind) {
    for (const auto& [k, text] : kindNames)
        if (k == kind) return text;
    return "go";
}

std::string encodeEntry(const ReportEntry& entry) {
    Json line = {{"k", kindName(entry.kind)}, {"t", entry.wallMs}, {"m", entry.monoUs}, {"p", cut(entry.launch)},
                 {"s", cut(entry.source)}};
    if (!entry.number.empty()) line["n"] = cut(entry.number);
    if (!entry.label.empty()) line["l"] = cut(entry.label);
    if (!entry.type.empty()) line["y"] = cut(entry.type);
    if (entry.sinceMs != 0) line["d"] = entry.sinceMs;
    return dumpJson(line, -1) + "\n";
}

std::optional<ReportEntry> decodeEntry(std::string_view line) {
    if (line.empty() || line.size() > maxLineBytes) return std::nullopt;
    const std::optional<Json> json = parseJson(line, 4);
    if (!json || !json->is_object()) return std::nullopt;
    ReportEntry entry;
    std::string kind;
    FieldReader reader(*json);
    reader.required("k", kind)
        .required("t", entry.wallMs)
        .field("m", entry.monoUs)
        .field("p", entry.launch)
        .field("s", entry.source)
        .field("n", entry.number)
        .field("l", entry.label)
        .field("y", entry.type)
        .field("d", entry.sinceMs);
    const std::optional<ReportEntry::Kind> named = kindNamed(kind);
    if (!reader.ok() || !named) return std::nullopt;
    entry.kind = *named;
    return entry;
}

std::vector<Performance> performancesOf(std::span<const ReportEntry> entries, std::int64_t intervalMinutes) {
    const std::int64_t intervalMs = std::clamp<std::int64_t>(intervalMinutes, 1, 24 * 60) * 60'000;
    std::vector<Performance> performances;
    bool open = false;       // a performance is being added to
    bool ended = true;       // the next GO begins a new one
    bool resumable = false;  // an open or reset just ended one; a resume takes it back
    const ReportEntry* lastGo = nullptr;
    const ReportEntry* actStart = nullptr;
    double atSeconds = 0;

    auto closeAct = [&](Performance& p) {
        if (!actStart || !lastGo) return;
        ReportSpan& act = p.acts.back();
        act.endWallMs = lastGo->wallMs;
        act.seconds = static_cast<double>(millisBetween(*actStart, *lastGo)) / 1000;
    };
    auto finish = [&] {
        if (!open) return;
        Performance& p = performances.back();
        closeAct(p);
        p.endWallMs = lastGo->wallMs;
        p.runningSeconds = atSeconds;
        open = false;
    };

    for (const ReportEntry& e : entries) {
        switch (e.kind) {
        case ReportEntry::Kind::open:
        case ReportEntry::Kind::reset:
            if (open) {
                if (e.kind == ReportEntry::Kind::reset) ++performances.back().resets;
                finish();
                resumable = e.kind == ReportEntry::Kind::open;
            }
            ended = true;
            break;
        case ReportEntry::Kind::resume:
            // The show picked up after a crash is the same performance.
            if (ended && resumable && !performances.empty()) {
                open = true;
                ended = false;
                performances.back().resumed = true;
            }
            resumable = false;
            break;
        case ReportEntry::Kind::go: {
            resumable = false;
            if (ended) {
                performances.emplace_back();
                Performance& p = performances.back();
                p.startWallMs = e.wallMs;
                p.acts.push_back({e.wallMs, e.wallMs, 0, 0});
                open = true;
                ended = false;
                actStart = lastGo = &e;
                atSeconds = 0;
            }
            Performance& p = performances.back();
            const std::int64_t gapMs = lastGo == &e ? 0 : std::max<std::int64_t>(millisBetween(*lastGo, e), 0);
            if (gapMs > intervalMs) {
                closeAct(p);
                p.intervals.push_back({lastGo->wallMs, e.wallMs, static_cast<double>(gapMs) / 1000, 0});
                p.acts.push_back({e.wallMs, e.wallMs, 0, 0});
                actStart = &e;
            }
            if (!p.cues.empty()) p.cues.back().heldSeconds = static_cast<double>(gapMs) / 1000;
            atSeconds += static_cast<double>(gapMs) / 1000;
            p.cues.push_back({e.number, e.label, e.type, e.source, e.wallMs, atSeconds, 0,
                              static_cast<int>(p.acts.size()) - 1});
            ++p.acts.back().goCount;
            lastGo = &e;
            break;
        }
        case ReportEntry::Kind::back:
            if (open) ++performances.back().backs;
            break;
        case ReportEntry::Kind::standby:
            if (open) ++performances.back().standbys;
            break;
        case ReportEntry::Kind::ignored:
            if (open) ++performances.back().ignored;
            break;
        }
    }
    finish();
    return performances;
}

std::string reportCSV(std::span<const Performance> performances, const std::string& scriptName) {
    std::string csv = "script,performance,act,number,label,type,source,time,into show (s),held (s)\n";
    int index = 0;
    for (const Performance& p : performances) {
        ++index;
        for (const ReportCue& cue : p.cues) {
            csv += csvField(scriptName) + ',' + std::to_string(index) + ',' + std::to_string(cue.act + 1) + ',' +
                   csvField(cue.number) + ',' + csvField(cue.label) + ',' + csvField(cue.type) + ',' +
                   csvField(cue.source) + ',' + isoTime(cue.wallMs) + ',' + seconds(cue.atSeconds) + ',' +
                   seconds(cue.heldSeconds) + '\n';
        }
    }
    return csv;
}

// --- the file ---

fs::path ShowReportLog::defaultFolder() { return fs::path(g_get_user_data_dir()) / "TALLOWMARK" / "reports"; }

fs::path ShowReportLog::fileFor(const fs::path& folder, const fs::path& script) {
    std::error_code error;
    // Links followed: the script reached by another path keeps its report.
    fs::path real = fs::weakly_canonical(fs::absolute(script, error), error);
    if (real.empty()) real = script;
    const std::string text = real.string();
    gchar* digest = g_compute_checksum_for_data(G_CHECKSUM_SHA256, reinterpret_cast<const guchar*>(text.data()),
                                                text.size());
    std::string stem = script.stem().string();
    if (stem.size() > 60) stem.resize(60);
    for (char& c : stem)
        if (static_cast<unsigned char>(c) < 0x20 || c == '/') c = '_';
    const std::string name = stem + "-" + std::string(digest, 16) + ".report";
    g_free(digest);
    return folder / name;
}


// The writer waits for the queued appends as it goes.
ShowReportLog::~ShowReportLog() = default;

namespace {

// The newest `limit` bytes of the file, from the first whole line in them; none
// when it is not a regular file (a FIFO is never waited on) or cannot be read.
std::optional<std::string> readTail(const fs::path& file, std::uintmax_t limit) {
    const int fd = ::open(file.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK);
    if (fd < 0) return std::nullopt;
    struct stat info {};
    std::optional<std::string> result;
    if (::fstat(fd, &info) == 0 && S_ISREG(info.st_mode)) {
        const auto size = static_cast<std::uintmax_t>(info.st_size);
        const std::uintmax_t from = size > limit ? size - limit : 0;
        std::string bytes(static_cast<std::size_t>(size - from), '\0');
        std::size_t got = 0;
        while (got < bytes.size()) {
            const ssize_t n = ::pread(fd, bytes.data() + got, bytes.size() - got, static_cast<off_t>(from + got));
            if (n < 0 && errno == EINTR) continue;
            if (n <= 0) break;
            got += static_cast<std::size_t>(n);
        }
        bytes.resize(got);
        if (from > 0) {
            const std::size_t newline = bytes.find('\n');
            bytes.erase(0, newline == std::string::npos ? bytes.size() : newline + 1);
        }
        result = std::move(bytes);
    }
    ::close(fd);
    return result;
}

// Keeps the newest whole lines of `file` that fit half the limit; the oldest
// performances go first.
void compact(const fs::path& file) {
    std::optional<std::string> kept = readTail(file, ShowReportLog::maxBytes / 2);
    if (!kept) return;
    if (!kept->empty() && kept->back() != '\n') *kept += '\n';
    std::string error;
    if (!writeFileAtomically(file, *kept, &error)) logSystem("show report not shortened: " + error);
}

// Appends one whole line. A line torn by an earlier kill is ended first, so
// the new one is never read as its tail.
bool appendLine(const fs::path& file, const std::string& line, std::string* error, bool* shortened) {
    std::error_code ignored;
    fs::create_directories(file.parent_path(), ignored);
    const int fd = ::open(file.c_str(), O_RDWR | O_APPEND | O_CREAT | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK, 0600);
    if (fd < 0) {
        *error = std::strerror(errno);
        return false;
    }
    struct stat info {};
    if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
        *error = "not a regular file";
        ::close(fd);
        return false;
    }
    std::string bytes;
    if (info.st_size > 0) {
        char last = '\n';
        if (::pread(fd, &last, 1, info.st_size - 1) == 1 && last != '\n') bytes = "\n";
    }
    bytes += line;
    // One write: a kill lands before it or after it; the kernel does not stop
    // a write of a few hundred bytes to a local file half way.
    const ssize_t written = ::write(fd, bytes.data(), bytes.size());
    const bool ok = written == static_cast<ssize_t>(bytes.size());
    if (!ok) *error = written < 0 ? std::strerror(errno) : "short write";
    ::close(fd);
    *shortened = ok && static_cast<std::uintmax_t>(info.st_size) + bytes.size() > ShowReportLog::maxBytes;
    if (*shortened) compact(file);
    return ok;
}

}  // namespace

// What the writer's jobs share, touched by them only, one at a time.
struct ShowReportLog::Shared {
    bool failing = false;  // so a failure is logged once
    // The file's entries as last read, kept up with every append: the sheet
    // after a long day reads memory, not 20,000 lines. None until first read.
    std::optional<std::vector<ReportEntry>> entries;

    const std::vector<ReportEntry>& loaded(const fs::path& file) {
        if (!entries) entries = read(file);
        return *entries;
    }
};

ShowReportLog::ShowReportLog(fs::path file) : file_(std::move(file)), shared_(std::make_shared<Shared>()) {
    // Read ahead, so that even the first look at the report is quick.
    readInOrder([](const std::vector<ReportEntry>&) {});
}

void ShowReportLog::append(const ReportEntry& entry) {
    // Jobs run in order: each keeps its line, none replaces another.
    writer_.submit(file_.string(),
                   [file = file_, line = encodeEntry(entry), shared = shared_] {
                       std::string error;
                       bool shortened = false;
                       if (!appendLine(file, line, &error, &shortened)) {
                           if (!std::exchange(shared->failing, true))
                               logSystem("show report not written to " + file.string() + ": " + error);
                           return;
                       }
                       shared->failing = false;
                       if (shortened) {
                           shared->entries.reset();
                       } else if (shared->entries) {
                           // As it will read back from the file, texts cut.
                           if (auto kept = decodeEntry(std::string_view(line).substr(0, line.size() - 1)))
                               shared->entries->push_back(std::move(*kept));
                           if (shared->entries->size() > maxEntries)
                               shared->entries->erase(shared->entries->begin(),
                                                      shared->entries->begin() + maxEntries / 10);
                       }
                   },
                   FileWriter::Merge::keeps);
}

void ShowReportLog::readInOrder(std::function<void(const std::vector<ReportEntry>& entries)> done) {
    writer_.submit(file_.string() + "\n(read)",
                   [file = file_, shared = shared_, done = std::move(done)] { done(shared->loaded(file)); },
                   FileWriter::Merge::keeps);
}

bool ShowReportLog::flush(std::chrono::milliseconds timeout) { return writer_.flush(timeout); }

std::vector<ReportEntry> ShowReportLog::read(const fs::path& file) {
    std::vector<ReportEntry> entries;
    // A file grown past its limit (by hand, or before it was shortened) is read from its newest part.
    const std::optional<std::string> bytes = readTail(file, maxBytes);
    if (!bytes) return entries;
    std::string_view rest = *bytes;
    while (!rest.empty() && entries.size() < maxEntries) {
        const std::size_t newline = rest.find('\n');
        // The last line without its newline is the one a kill tore: skipped.
        if (newline == std::string_view::npos) break;
        if (auto entry = decodeEntry(rest.substr(0, newline))) entries.push_back(std::move(*entry));
        rest.remove_prefix(newline + 1);
    }
    return entries;
}

}  // namespace tallowmark
