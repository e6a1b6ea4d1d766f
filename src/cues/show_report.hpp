#pragma once

// The show report: every run command of every performance, as it happened,
// appended one line at a time to a file per script in the program's data
// folder, and the performances read back from it (acts, intervals, the time
// of every cue) for the report sheet, its CSV and its printed pages.

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "core/file_writer.hpp"

namespace tallowmark {

// One run command as it happened.
struct ReportEntry {
    enum class Kind {
        open,     // the script was opened: a performance ends
        go,       // a cue fired (GO or fire by number)
        back,
        reset,    // a performance ends
        standby,  // standby moved by hand or by number
        ignored,  // a GO inside the GO guard, which fired nothing
        resume,   // the run saved before a crash was picked up: the performance goes on
    };
    Kind kind = Kind::go;
    std::int64_t wallMs = 0;  // Unix time
    std::int64_t monoUs = 0;  // steady clock of the launch that wrote it
    std::string launch;       // which launch wrote it: steady times compare only within one
    std::string source;       // "key", "osc 10.0.0.5", "midi", ...
    std::string number;       // the cue's, when there is one
    std::string label;
    std::string type;
    std::int64_t sinceMs = 0;  // ignored GOs: since the GO before

    bool operator==(const ReportEntry&) const = default;
};

std::string_view kindName(ReportEntry::Kind kind);

// One line of the file, newline included. Texts are cut to a bounded length.
std::string encodeEntry(const ReportEntry& entry);
// None for a line that is not one (a torn last line, a foreign one).
std::optional<ReportEntry> decodeEntry(std::string_view line);

// A cue as fired in a performance.
struct ReportCue {
    std::string number, label, type, source;
    std::int64_t wallMs = 0;
    double atSeconds = 0;    // since the performance began
    double heldSeconds = 0;  // until the next GO; 0 for the last
    int act = 0;             // 0-based
};

// An act (GOs closer than the interval length) or an interval between two.
struct ReportSpan {
    std::int64_t startWallMs = 0;
    std::int64_t endWallMs = 0;
    double seconds = 0;
    int goCount = 0;  // acts only
};

struct Performance {
    std::int64_t startWallMs = 0;  // the first GO
    std::int64_t endWallMs = 0;    // the last GO
    double runningSeconds = 0;
    std::vector<ReportSpan> acts;
    std::vector<ReportSpan> intervals;  // one fewer than the acts
    std::vector<ReportCue> cues;        // every GO that fired, in order
    int backs = 0, resets = 0, standbys = 0, ignored = 0;
    bool resumed = false;  // picked up after a crash
};

// The performances of `entries` (in file order), oldest first. One begins
// with the first GO after an open or a RESET and ends with the last GO before
// the next; a resume carries the performance before on. A gap of more than
// `intervalMinutes` between two GOs is an interval.
std::vector<Performance> performancesOf(std::span<const ReportEntry> entries, std::int64_t intervalMinutes);

// Every cue of every performance, one row each, with a header row.
std::string reportCSV(std::span<const Performance> performances, const std::string& scriptName);

// The report file of one script, written by its own thread: a GO never waits
// for the disk. Lines are appended whole; a line torn by a kill is skipped on
// reading and never joins the next. The file is kept under `maxBytes` by
// dropping the oldest performances.
class ShowReportLog {
public:
    static constexpr std::uintmax_t maxBytes = 8u << 20;
    static constexpr std::size_t maxEntries = 100'000;

    // The report file of `script` in `folder`: its name is the script's stem
    // and a digest of the script's real path, so two scripts never share one.
    static std::filesystem::path fileFor(const std::filesystem::path& folder, const std::filesystem::path& script);
    // $XDG_DATA_HOME/TALLOWMARK/reports (or its fallback under ~/.local/share).
    static std::filesystem::path defaultFolder();

    explicit ShowReportLog(std::filesystem::path file);
    ~ShowReportLog();
    ShowReportLog(const ShowReportLog&) = delete;
    ShowReportLog& operator=(const ShowReportLog&) = delete;

    const std::filesystem::path& file() const { return file_; }
    void append(const ReportEntry& entry);
    // Waits for the queued appends; false when `timeout` passed first.
    bool flush(std::chrono::milliseconds timeout = FileWriter::shutdownWait);

    // `done` gets the entries on the writer's thread, after every append
    // queued before: the report read is never short of the last GO. They are
    // held in memory after the first read and are valid during the call only.
    void readInOrder(std::function<void(const std::vector<ReportEntry>& entries)> done);

    // The entries in the file, bounded in bytes and count; any thread.
    static std::vector<ReportEntry> read(const std::filesystem::path& file);

private:
    struct Shared;
    std::filesystem::path file_;
    std::shared_ptr<Shared> shared_;
    FileWriter writer_;
};

}  // namespace tallowmark
