#pragma once

// One run of the show over the marks of the open script: the standby cue,
// the fired cues, the cue fired last; GO, BACK, RESET, standby and firing by
// number; the run position written beside the marks file and the offer to
// resume it after a crash. Main thread only. The run file is written by the
// marks files' writer thread: a GO hands over the newest state and never
// waits for the disk.

#include <atomic>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "core/file_writer.hpp"
#include "cues/marks_record.hpp"
#include "cues/run_state.hpp"
#include "cues/show_report.hpp"

namespace tallowmark {

class ShowRun {
public:
    using IdSet = MarksRecord::IdSet;

    // The GO guard's longest setting; a longer one would swallow real GOs.
    static constexpr std::int64_t maxGoGuardMs = 2000;

    // A change of the run alone (GO, BACK, RESET, standby, fire by number,
    // restore): which cues changed their fired status. The marks are as they
    // were, so an owner can pass on this much instead of the whole state.
    struct RunChange {
        std::uint64_t from = 0;  // changeCount() before the change
        std::uint64_t seq = 0;   // changeCount() after it
        bool clear = false;      // the fired set was emptied first
        IdSet touched;           // cues whose status may have changed; fired() tells which way
    };

    struct ResolvedRun {
        IdSet fired;
        std::optional<Cue> standby;
    };

    // `marks` and `writer` outlive the run.
    ShowRun(const MarksRecord& marks, FileWriter& writer) : marks_(marks), writer_(writer) {}
    ShowRun(const ShowRun&) = delete;
    ShowRun& operator=(const ShowRun&) = delete;

    // Once for every cue fired, with the command's source.
    std::function<void(const Cue& cue, const std::string& source)> onFire;
    // One line for the control log, with the command's source.
    std::function<void(const std::string& text, const std::string& source)> onLog;
    // After every run change.
    std::function<void(const RunChange& change)> onRunChange;
    // A GO (or fire by number) that came inside the GO guard and fired
    // nothing, with its source and the milliseconds since the GO before it.
    std::function<void(const std::string& source, std::int64_t sinceMs)> onGoIgnored;
    // Every run command for the show report, with the cue it concerns (none
    // for RESET, an ignored GO and a resume) and, for an ignored GO, the
    // milliseconds since the GO before.
    std::function<void(ReportEntry::Kind kind, const Cue* cue, const std::string& source, std::int64_t sinceMs)>
        onRecord;

    // The least time between two GOs, whatever input sends them, read at each
    // GO so a change of the setting applies at once; 0 turns the guard off.
    void setGoGuard(std::function<std::int64_t()> milliseconds) { goGuardMs_ = std::move(milliseconds); }
    // Monotonic microseconds; the system's steady clock unless set.
    void setClock(std::function<std::int64_t()> micros) { clock_ = std::move(micros); }

    // Every report of the engine takes its number here, run change or not, so
    // that a reader can tell an old report from a new one; never goes back.
    std::uint64_t changeCount() const { return changeCount_; }
    void countChange() { ++changeCount_; }

    const IdSet& fired() const { return fired_; }
    const std::optional<std::string>& standbyID() const { return standbyID_; }
    const std::optional<std::string>& lastFiredID() const { return lastFiredID_; }
    std::optional<Cue> standbyCue() const;
    // The run last read from or handed to the run file; null when there is none.
    const RunState* savedRun() const { return savedRun_.get(); }
    const std::optional<std::filesystem::path>& runFileURL() const { return runFile_; }

    // --- running the show ---
    std::optional<Cue> go(const std::string& source);
    void back(const std::string& source);
    void reset(const std::string& source);
    void standbyByID(const std::string& id);
    std::optional<Cue> standbyByNumber(const std::string& number, const std::string& source);
    std::optional<Cue> fireCue(const std::string& number, const std::string& source);

    // --- the saved run ---
    std::optional<ResolvedRun> resolvedRun(const RunState& state) const;
    std::optional<ResumeOffer> resumeOffer() const;
    // An offer stands and nothing has fired in this run: every run command
    // but RESET then continues the saved run instead of starting a new one.
    bool resumeOfferOpen() const;
    bool restoreRun();
    void discardSavedRun();

    // A fresh run of the marks as they now stand: nothing fired, standby on
    // the first cue. With a run file, the run saved there is read (not applied).
    void start(std::optional<std::filesystem::path> runFile);

    // --- following the edits of the marks; the run file is left as it is ---
    // An appended cue takes standby when there is none.
    void cueAppended(const std::string& id);
    // Removed cues leave the fired set; a missing standby is refilled.
    void cuesRemoved(const IdSet& ids);
    // Undo or redo: a standby whose cue is gone is refilled, but none stays none.
    void marksRestored();
    // Another file's marks: a standby that is gone, or none, is refilled.
    void marksImported();

private:
    std::optional<Cue> nextUnfired() const;
    void fire(Cue cue, const std::string& source);
    void advanceStandby(const std::string& firedID);
    void refillStandbyIfMissing();
    void log(const std::string& text, const std::string& source);
    void record(ReportEntry::Kind kind, const Cue* cue, const std::string& source, std::int64_t sinceMs = 0);
    // True (and the GO logged and reported as ignored) when it comes inside the guard.
    bool insideGoGuard(const std::string& source);

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

    void saveRunState();
    void queueRunFileRemoval();
    void loadRunState();

    const MarksRecord& marks_;
    FileWriter& writer_;
    std::optional<std::filesystem::path> runFile_;
    IdSet fired_;
    std::optional<std::string> standbyID_;
    std::optional<std::string> lastFiredID_;
    std::uint64_t changeCount_ = 0;
    std::function<std::int64_t()> goGuardMs_;
    std::function<std::int64_t()> clock_;
    // When a GO last passed the guard; an ignored one does not move it, so a
    // desk repeating faster than the guard still gets a GO through each guard.
    std::optional<std::int64_t> lastGoAt_;
    // What the run operation in progress has touched.
    RunChange run_;
    // Shared with the writer's pending job: a GO builds the state once.
    std::shared_ptr<const RunState> savedRun_;
    // Set by the writer while run-file writes fail, so the failure is logged once.
    std::shared_ptr<std::atomic<bool>> runWriteFailing_ = std::make_shared<std::atomic<bool>>(false);
};

}  // namespace tallowmark
