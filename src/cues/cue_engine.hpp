#pragma once

// The one place where the show is run: the marks of the open script in script
// order, the standby cue, the fired cues, the run position on disk, editing
// with undo. Main thread only; every change is reported through the callbacks.
// Files are written by the engine's own writer thread: a GO or an edit only
// hands over the newest state and never waits for the disk.

#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <unordered_map>
#include <utility>
#include <vector>

#include "core/file_writer.hpp"
#include "cues/cue_sidecar.hpp"
#include "cues/run_state.hpp"

namespace tallowmark {

class CueEngine {
public:
    using IdSet = std::set<std::string>;

    // Called after every change of the run state or of the marks.
    std::function<void()> onStateChange;
    // Called once for every cue fired, with the command's source.
    std::function<void(const Cue& cue, const std::string& source)> onFire;
    // One line for the control log, with the command's source.
    std::function<void(const std::string& text, const std::string& source)> onLog;

    // A change of the run alone (GO, BACK, RESET, standby, fire by number,
    // restore): which cues changed their fired status. The marks are as they
    // were, so an owner can pass on this much instead of the whole state.
    struct RunChange {
        std::uint64_t from = 0;  // changeCount() before the change
        std::uint64_t seq = 0;   // changeCount() after it
        bool clear = false;      // the fired set was emptied first
        IdSet touched;           // cues whose status may have changed; fired() tells which way
    };
    // When set, run changes are reported here instead of through onStateChange.
    std::function<void(const RunChange& change)> onRunChange;
    // Counts the changes reported through either callback; never goes back,
    // so a reader can tell an old report from a new one.
    std::uint64_t changeCount() const { return changeCount_; }

    static constexpr std::size_t undoLimit = 50;
    static constexpr int backupCount = 5;

    // --- state (read only) ---
    const CueSidecar& sidecar() const { return sidecar_; }
    const std::optional<std::filesystem::path>& sidecarURL() const { return sidecarURL_; }
    const IdSet& fired() const { return fired_; }
    const std::optional<std::string>& standbyID() const { return standbyID_; }
    const std::optional<std::string>& lastFiredID() const { return lastFiredID_; }
    const std::vector<Cue>& ordered() const { return ordered_; }
    std::optional<Cue> standbyCue() const;
    bool isCue(const std::string& id) const { return orderedIndex_.contains(id); }
    // The run last read from or handed to the run file; null when there is none.
    const RunState* savedRun() const { return savedRun_.get(); }
    std::size_t undoDepth() const { return undoStack_.size(); }
    std::size_t redoDepth() const { return redoStack_.size(); }

    // --- running the show ---
    std::optional<Cue> go(const std::string& source);
    void back(const std::string& source);
    void reset(const std::string& source);
    void standbyByID(const std::string& id);
    std::optional<Cue> standbyByNumber(const std::string& number, const std::string& source);
    std::optional<Cue> fireCue(const std::string& number, const std::string& source);

    // Trimmed, upper-cased, and whole numbers below 10^9 written as plain integers.
    static std::string normalize(std::string_view number);

    // --- the marks file ---
    // Both wait (at most FileWriter::shutdownWait) for the writes of the script
    // that was open, so that nothing of it is lost or read half-done.
    void loadSidecar(const std::filesystem::path& pdfPath);
    void unload();
    void loadFromMemoryForTesting(CueSidecar sidecar);
    // The operator's explicit save: waits for the writer and answers whether
    // the file was written. Edits save on their own without waiting.
    bool saveSidecar(bool rotateBackup);
    // The same save (with backup rotation) without waiting: `done` runs on the
    // main thread once the writer has finished it, with whether the file was
    // written. False (and `done` never called) when no script is open. A Save
    // in the middle of a show must not hold the next GO behind the disk.
    bool saveSidecarInBackground(std::function<void(bool written)> done);
    // Waits for pending writes first (the file may be one of our backups).
    // True when the marks were read and their save was queued; a failed write
    // is logged by the writer.
    bool importSidecar(const std::filesystem::path& marksFile);
    // Show.tallowmark -> Show.tallowmark.bak<n>; 1 is the newest.
    static std::filesystem::path backupPath(const std::filesystem::path& sidecarPath, int n);

    // --- the run position ---
    struct ResolvedRun {
        IdSet fired;
        std::optional<Cue> standby;
    };
    std::optional<ResolvedRun> resolvedRun(const RunState& state) const;
    std::optional<ResumeOffer> resumeOffer() const;
    // An offer stands and nothing has fired in this run: every run command
    // but RESET then continues the saved run instead of starting a new one.
    bool resumeOfferOpen() const;
    bool restoreRun();
    void discardSavedRun();
    std::optional<std::filesystem::path> runFileURL() const;

    // --- the disk ---
    // Waits until every file write asked for so far is done; false on timeout.
    bool flushWrites(std::chrono::milliseconds timeout = FileWriter::shutdownWait);
    FileWriter& writerForTesting() { return writer_; }

    // --- editing ---
    void upsert(const Cue& cue);
    void upsert(const std::vector<Cue>& cues);
    void remove(const std::string& id);
    void remove(const std::vector<std::string>& ids);
    void renumberCues();
    void upsert(const Mark& mark);
    void upsert(const std::vector<Mark>& marks);
    void removeMark(const std::string& id);
    void removeMarks(const std::vector<std::string>& ids);
    void upsert(const Flag& flag);
    void removeFlag(const std::string& id);
    void upsert(const Memo& memo);
    void removeMemo(const std::string& id);
    void upsert(const Insert& insert);
    // False, and nothing happens, for an empty id.
    bool removeInsert(const std::string& id);
    void setPageText(std::int64_t page, const std::string& text);
    void setCrop(std::vector<double> crop);
    void setSpreadOffset(std::int64_t offset);
    void setPageLabelOffset(std::int64_t offset);
    bool undo();
    bool redo();

private:
    void reorder();
    const Cue* findOrdered(const std::string& id) const;
    const Cue* findByNumber(std::string_view number) const;
    std::optional<Cue> nextUnfired() const;
    void fire(Cue cue, const std::string& source);
    void advanceStandby(const std::string& firedID);
    void refillStandbyIfMissing();
    void removeCuesFromRecord(const IdSet& ids);
    void appendCue(const Cue& cue);
    bool applySnapshot(std::vector<CueSidecar>& from, std::vector<CueSidecar>& to);

    void recordUndo();
    // Undo step, change, save with backup rotation, report: the shape of every undoable edit.
    void undoableEdit(const std::function<void()>& change);
    // Hands a copy of the marks to the writer, which encodes and saves them;
    // false when no script is open. `outcome` learns what the writer did.
    bool queueSidecarSave(bool rotateBackup, std::shared_ptr<std::atomic<int>> outcome = nullptr);
    void queueRunFileRemoval();
    void waitForWrites();
    void saveRunState();
    void loadRunState();

    void log(const std::string& text, const std::string& source);
    void changed();
    // The run operations note what they touch through these, and report it with runChanged().
    void beginRun();
    void setFired(const std::string& id, bool fired);
    void clearFired();
    void runChanged();
    // Puts the saved run in place of the fresh one; false when there is none.
    bool applySavedRun();
    // Continues the saved run when its offer is open; true when it did.
    bool continueSavedRun(const std::string& source);
    // Forgets the saved run and removes its file, without a report.
    void dropSavedRun();

    CueSidecar sidecar_;
    std::optional<std::filesystem::path> sidecarURL_;
    IdSet fired_;
    std::optional<std::string> standbyID_;
    std::optional<std::string> lastFiredID_;
    std::uint64_t changeCount_ = 0;
    // What the run operation in progress has touched.
    RunChange run_;
    std::vector<CueSidecar> undoStack_;  // oldest first
    std::vector<CueSidecar> redoStack_;  // oldest first
    std::vector<Cue> ordered_;
    std::unordered_map<std::string, std::size_t> orderedIndex_;  // id -> position in ordered_
    // Shared with the writer's pending job: a GO builds the state once.
    std::shared_ptr<const RunState> savedRun_;
    // The marks file existed at load but could not be read or decoded; its
    // content must reach the backups before anything overwrites it. Shared with
    // the writer, which clears it once backup 1 holds the old content.
    std::shared_ptr<std::atomic<bool>> keepUnreadableFile_ = std::make_shared<std::atomic<bool>>(false);
    // Set by the writer while run-file writes fail, so the failure is logged once.
    std::shared_ptr<std::atomic<bool>> runWriteFailing_ = std::make_shared<std::atomic<bool>>(false);
    // --- what opening the marks file had to say (cue_engine_files.cpp) ---
public:
    // One English sentence for the operator about the marks file of the open
    // script: too long to read (and left alone), or repaired. Empty when there
    // is nothing to say, and once the script is closed.
    const std::string& loadWarning() const;

private:
    // True when saves are refused (and says so in the log, once per opening).
    bool marksSavesRefused();

    std::string loadWarning_;
    // The marks file holds more than this program reads: nothing may write
    // over it or rotate it while its script is open.
    bool marksRefused_ = false;
    bool marksRefusalLogged_ = false;
    // --- end of what opening the marks file had to say ---

    // Last: destroyed first, waiting for what is queued while the rest still stands.
    FileWriter writer_;
};

}  // namespace tallowmark
