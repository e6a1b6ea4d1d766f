#pragma once

// The one place where the show is run: the front of the marks of the open
// script (MarksRecord), the run over them (ShowRun) and their files
// (MarksFiles), which it wires together. An edit changes the record, has the
// run follow and the file saved; every change is reported through the
// callbacks. Main thread only. Files are written by one writer thread: a GO
// or an edit only hands over the newest state and never waits for the disk.

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "core/file_writer.hpp"
#include "cues/cue_sidecar.hpp"
#include "cues/marks_files.hpp"
#include "cues/marks_record.hpp"
#include "cues/run_state.hpp"
#include "cues/show_run.hpp"

namespace tallowmark {

namespace testing {
struct EngineAccess;
}

class CueEngine {
public:
    using IdSet = MarksRecord::IdSet;
    using RunChange = ShowRun::RunChange;
    using ResolvedRun = ShowRun::ResolvedRun;

    CueEngine();
    CueEngine(const CueEngine&) = delete;
    CueEngine& operator=(const CueEngine&) = delete;

    // Called after every change of the run state or of the marks.
    std::function<void()> onStateChange;
    // Called once for every cue fired, with the command's source.
    std::function<void(const Cue& cue, const std::string& source)> onFire;
    // One line for the control log, with the command's source.
    std::function<void(const std::string& text, const std::string& source)> onLog;
    // When set, run changes are reported here instead of through onStateChange.
    std::function<void(const RunChange& change)> onRunChange;
    // A GO inside the GO guard, which fired nothing; see ShowRun.
    std::function<void(const std::string& source, std::int64_t sinceMs)> onGoIgnored;
    // Every run command, for the show report; see ShowRun.
    std::function<void(ReportEntry::Kind kind, const Cue* cue, const std::string& source, std::int64_t sinceMs)>
        onRecord;
    void setGoGuard(std::function<std::int64_t()> milliseconds) { run_.setGoGuard(std::move(milliseconds)); }
    void setClock(std::function<std::int64_t()> micros) { run_.setClock(std::move(micros)); }
    // Counts the changes reported through either callback; never goes back,
    // so a reader can tell an old report from a new one.
    std::uint64_t changeCount() const { return run_.changeCount(); }

    static constexpr std::size_t undoLimit = MarksRecord::undoLimit;
    static constexpr int backupCount = MarksFiles::backupCount;

    // --- state (read only) ---
    const CueSidecar& sidecar() const { return marks_.sidecar(); }
    const std::optional<std::filesystem::path>& sidecarURL() const { return files_.sidecarURL(); }
    const IdSet& fired() const { return run_.fired(); }
    const std::optional<std::string>& standbyID() const { return run_.standbyID(); }
    const std::optional<std::string>& lastFiredID() const { return run_.lastFiredID(); }
    const std::vector<Cue>& ordered() const { return marks_.ordered(); }
    std::optional<Cue> standbyCue() const { return run_.standbyCue(); }
    bool isCue(const std::string& id) const { return marks_.find(id) != nullptr; }
    // The cue of `id`, and the one after it in script order; null when there is none.
    const Cue* cue(const std::string& id) const { return marks_.find(id); }
    const Cue* cueAfter(const std::string& id) const {
        const Cue* at = marks_.find(id);
        return at && at + 1 != ordered().data() + ordered().size() ? at + 1 : nullptr;
    }
    bool hasCueNumber(std::string_view number) const { return marks_.findByNumber(number) != nullptr; }
    // The run last read from or handed to the run file; null when there is none.
    const RunState* savedRun() const { return run_.savedRun(); }
    std::size_t undoDepth() const { return marks_.undoDepth(); }
    std::size_t redoDepth() const { return marks_.redoDepth(); }
    // One English sentence for the operator about the open script's marks file; see MarksFiles.
    const std::string& loadWarning() const { return files_.loadWarning(); }

    // --- running the show ---
    std::optional<Cue> go(const std::string& source) { return run_.go(source); }
    void back(const std::string& source) { run_.back(source); }
    void reset(const std::string& source) { run_.reset(source); }
    void standbyByID(const std::string& id) { run_.standbyByID(id); }
    std::optional<Cue> standbyByNumber(const std::string& number, const std::string& source) {
        return run_.standbyByNumber(number, source);
    }
    std::optional<Cue> fireCue(const std::string& number, const std::string& source) {
        return run_.fireCue(number, source);
    }

    // Trimmed, upper-cased, and whole numbers below 10^9 written as plain integers.
    static std::string normalize(std::string_view number) { return MarksRecord::normalize(number); }

    // --- the marks file ---
    // Both wait (at most FileWriter::shutdownWait) for the writes of the script
    // that was open, so that nothing of it is lost or read half-done.
    void loadSidecar(const std::filesystem::path& pdfPath);
    void unload();
    // The operator's explicit save: waits for the writer and answers whether
    // the file was written. Edits save on their own without waiting.
    bool saveSidecar(bool rotateBackup) { return files_.save(marks_.sidecar(), rotateBackup); }
    // The same save (with backup rotation) without waiting: `done` runs on the
    // main thread once the writer has finished it, with whether the file was
    // written. False (and `done` never called) when no script is open.
    bool saveSidecarInBackground(std::function<void(bool written)> done) {
        return files_.saveInBackground(marks_.sidecar(), std::move(done));
    }
    // Waits for pending writes first (the file may be one of our backups).
    // True when the marks were read and their save was queued; a failed write
    // is logged by the writer.
    bool importSidecar(const std::filesystem::path& marksFile);
    // Marks carried over from another version of the script replace these,
    // as one undo step and a save with backup rotation, like an import.
    // False when no script is open or the save could not be queued.
    bool carryIn(CueSidecar carried);
    // Show.tallowmark -> Show.tallowmark.bak<n>; 1 is the newest.
    static std::filesystem::path backupPath(const std::filesystem::path& sidecarPath, int n) {
        return MarksFiles::backupPath(sidecarPath, n);
    }

    // --- the run position ---
    std::optional<ResolvedRun> resolvedRun(const RunState& state) const { return run_.resolvedRun(state); }
    std::optional<ResumeOffer> resumeOffer() const { return run_.resumeOffer(); }
    // An offer stands and nothing has fired in this run: every run command
    // but RESET then continues the saved run instead of starting a new one.
    bool resumeOfferOpen() const { return run_.resumeOfferOpen(); }
    bool restoreRun() { return run_.restoreRun(); }
    void discardSavedRun() { run_.discardSavedRun(); }
    std::optional<std::filesystem::path> runFileURL() const { return run_.runFileURL(); }

    // --- the disk ---
    // Waits until every file write asked for so far is done; false on timeout.
    bool flushWrites(std::chrono::milliseconds timeout = FileWriter::shutdownWait) { return files_.flush(timeout); }

    // --- editing: undoable edits save with backup rotation and report ---
    void upsert(const Cue& cue) { upsert(std::vector<Cue>{cue}); }
    void upsert(const std::vector<Cue>& cues) { follow(marks_.upsert(cues)); }
    void remove(const std::string& id) { remove(std::vector<std::string>{id}); }
    void remove(const std::vector<std::string>& ids) { follow(marks_.removeCues(ids)); }
    void renumberCues() { follow(marks_.renumberCues()); }
    void upsert(const Mark& mark) { upsert(std::vector<Mark>{mark}); }
    void upsert(const std::vector<Mark>& marks) { follow(marks_.upsert(marks)); }
    void removeMark(const std::string& id) { removeMarks(std::vector<std::string>{id}); }
    void removeMarks(const std::vector<std::string>& ids) { follow(marks_.removeMarks(ids)); }
    void acceptCarried(const std::vector<std::string>& ids) { follow(marks_.acceptCarried(ids)); }
    void upsert(const Flag& flag) { follow(marks_.upsert(flag)); }
    void removeFlag(const std::string& id) { follow(marks_.removeFlag(id)); }
    void upsert(const Memo& memo) { follow(marks_.upsert(memo)); }
    void removeMemo(const std::string& id) { follow(marks_.removeMemo(id)); }
    void upsert(const Insert& insert) { follow(marks_.upsert(insert)); }
    // False, and nothing happens, for an empty id.
    bool removeInsert(const std::string& id);
    // The page's own settings of the script: saved without rotation or report.
    void setPageText(std::int64_t page, const std::string& text);
    void setCrop(std::vector<double> crop);
    void setSpreadOffset(std::int64_t offset);
    // Shown on every page label: rotates and reports like an edit, with no undo step.
    void setPageLabelOffset(std::int64_t offset);
    // Save without rotation; a standby whose cue is gone is refilled.
    bool undo();
    bool redo();

private:
    friend struct testing::EngineAccess;

    // An undoable edit done on the record: the run follows, the file is saved
    // with rotation, the owner hears of it. Nothing when the edit took no step.
    void follow(const MarksRecord::Edit& edit);
    // After an undo or redo that `applied` a step.
    bool restored(bool applied);
    void changed();

    MarksRecord marks_;
    // Before the run, which writes through its writer.
    MarksFiles files_;
    ShowRun run_;
};

}  // namespace tallowmark
