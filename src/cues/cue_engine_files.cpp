// The marks file (load, save, backups, import) and the run-position file.
#include <glib.h>

#include <system_error>

#include "core/atomic_file.hpp"
#include "core/main_queue.hpp"
#include "core/system_log.hpp"
#include "cues/cue_engine.hpp"

namespace tallowmark {

namespace fs = std::filesystem;

namespace {

// What the writer did with one marks save, for a caller that waits for it.
enum SaveOutcome : int { savePending = 0, saveWritten = 1, saveRefused = 2 };

void report(const std::shared_ptr<std::atomic<int>>& outcome, bool written) {
    if (outcome) outcome->store(written ? saveWritten : saveRefused);
}

// Runs on the writer. The current file is copied to a temporary name before
// anything moves: a file that cannot be copied (a folder in its place, a read
// error) leaves every backup where it was, and a kill part-way leaves backup 1
// whole or absent. True when backup 1 now holds the current file.
bool rotateBackupsOnDisk(const fs::path& url) {
    std::error_code ignored;
    if (!fs::exists(url, ignored)) return false;
    std::optional<StagedFile> copy = StagedFile::copy(url, CueEngine::backupPath(url, 1));
    if (!copy) return false;
    // Each step ignores its own failure: rotation must never stop a save.
    fs::remove(CueEngine::backupPath(url, CueEngine::backupCount), ignored);
    for (int n = CueEngine::backupCount - 1; n >= 1; --n) {
        const fs::path from = CueEngine::backupPath(url, n);
        if (fs::exists(from, ignored)) {
            fs::remove(CueEngine::backupPath(url, n + 1), ignored);
            fs::rename(from, CueEngine::backupPath(url, n + 1), ignored);
        }
    }
    return copy->commit();
}

// Runs on the writer: backups, the refuse-first check, the write, the log line.
void writeMarksFile(const fs::path& url, const std::string& bytes, bool rotateBackup,
                    const std::shared_ptr<std::atomic<bool>>& keepOld,
                    const std::shared_ptr<std::atomic<int>>& outcome) {
    std::error_code ignored;
    const bool mustKeepOld = keepOld->load() && fs::exists(url, ignored);
    const bool kept = (rotateBackup || mustKeepOld) && rotateBackupsOnDisk(url);
    if (mustKeepOld && !kept) {
        // An unreadable marks file may still hold every cue of the show; never
        // overwrite it unless its content is safe in backup 1.
        logSystem("sivutiedoston tallennus epaonnistui: lukukelvotonta merkintatiedostoa ei "
                  "saatu varmuuskopioksi: " + url.string());
        return report(outcome, false);
    }
    keepOld->store(false);
    std::string error;
    if (!writeFileAtomically(url, bytes, &error)) {
        logSystem("sivutiedoston tallennus epaonnistui: " + error);
        return report(outcome, false);
    }
    report(outcome, true);
}

}  // namespace

fs::path CueEngine::backupPath(const fs::path& sidecarPath, int n) {
    fs::path path = sidecarPath;
    path += ".bak" + std::to_string(n);
    return path;
}

void CueEngine::waitForWrites() {
    if (!writer_.flush(FileWriter::shutdownWait)) {
        logSystem("tiedostojen kirjoitus ei valmistunut " + std::to_string(FileWriter::shutdownWait.count() / 1000) +
                  " sekunnissa; jatketaan odottamatta");
    }
}

bool CueEngine::flushWrites(std::chrono::milliseconds timeout) { return writer_.flush(timeout); }

void CueEngine::loadSidecar(const fs::path& pdfPath) {
    // The previous script's writes land first, and a script opened again is
    // read as its last write left it.
    waitForWrites();
    const fs::path url = sidecarPathFor(pdfPath);
    sidecarURL_ = url;
    keepUnreadableFile_ = std::make_shared<std::atomic<bool>>(false);

    std::optional<CueSidecar> loaded;
    const ReadResult file = readWholeFile(url, maxSidecarBytes);
    if (file.status == ReadStatus::ok) loaded = decodeSidecar(file.bytes);
    if (!loaded) {
        CueSidecar fresh;
        fresh.documentName = pdfPath.filename().string();
        loaded = std::move(fresh);
        if (file.status != ReadStatus::missing) {
            keepUnreadableFile_->store(true);
            logSystem("merkintatiedostoa ei voitu lukea, aloitetaan tyhjasta (vanha sisalto "
                      "siirtyy varmuuskopioksi ennen tallennusta): " + url.string());
        }
    }
    sidecar_ = std::move(*loaded);

    fired_.clear();
    lastFiredID_.reset();
    undoStack_.clear();
    redoStack_.clear();
    reorder();
    standbyID_ = ordered_.empty() ? std::nullopt : std::optional(ordered_.front().id);
    loadRunState();
    changed();
}

bool CueEngine::queueSidecarSave(bool rotateBackup, std::shared_ptr<std::atomic<int>> outcome) {
    if (!sidecarURL_) return false;
    // The writer gets a copy of the record and encodes it there: encoding a
    // script of thousands of cues takes tens of milliseconds, which the next
    // GO must not wait for. A rotating save moves backups, so it always runs;
    // a plain one may give way to a newer plain one, which leaves the same
    // files behind.
    writer_.submit(
        sidecarURL_->string(),
        [url = *sidecarURL_, sidecar = sidecar_, rotateBackup, keepOld = keepUnreadableFile_,
         outcome = std::move(outcome)] {
            // A record that cannot be encoded (a real that is not finite) is not written, silently.
            const std::optional<std::string> bytes = encodeSidecar(sidecar);
            if (!bytes) return report(outcome, false);
            writeMarksFile(url, *bytes, rotateBackup, keepOld, outcome);
        },
        rotateBackup ? FileWriter::Merge::keeps : FileWriter::Merge::replaces);
    return true;
}

bool CueEngine::saveSidecar(bool rotateBackup) {
    auto outcome = std::make_shared<std::atomic<int>>(savePending);
    if (!queueSidecarSave(rotateBackup, outcome)) return false;
    if (!writer_.flush(FileWriter::shutdownWait)) {
        logSystem("sivutiedoston tallennus ei valmistunut " +
                  std::to_string(FileWriter::shutdownWait.count() / 1000) + " sekunnissa");
        return false;
    }
    return outcome->load() == saveWritten;
}

bool CueEngine::saveSidecarInBackground(std::function<void(bool)> done) {
    auto outcome = std::make_shared<std::atomic<int>>(savePending);
    if (!queueSidecarSave(true, outcome)) return false;
    // The writer runs jobs in order and a rotating save is never merged away,
    // so this job sees that save's outcome.
    writer_.submit(
        sidecarURL_->string() + "#saved",
        [outcome, done = std::move(done)] {
            const bool written = outcome->load() == saveWritten;
            postToMain([done, written] { done(written); });
        },
        FileWriter::Merge::keeps);
    return true;
}

bool CueEngine::importSidecar(const fs::path& marksFile) {
    if (!sidecarURL_) return false;
    // The operator may pick one of our own backups: read it as the last edit left it.
    waitForWrites();
    const ReadResult file = readWholeFile(marksFile, maxSidecarBytes);
    if (file.status != ReadStatus::ok) return false;
    std::optional<CueSidecar> imported = decodeSidecar(file.bytes);
    if (!imported) return false;

    recordUndo();
    imported->documentName = sidecar_.documentName;
    imported->crop = sidecar_.crop;
    imported->spreadOffset = sidecar_.spreadOffset;
    sidecar_ = std::move(*imported);
    reorder();
    refillStandbyIfMissing();
    const bool queued = queueSidecarSave(true);
    changed();
    return queued;
}

std::optional<fs::path> CueEngine::runFileURL() const {
    if (!sidecarURL_) return std::nullopt;
    return runFilePathFor(*sidecarURL_);
}

void CueEngine::queueRunFileRemoval() {
    const auto url = runFileURL();
    if (!url) return;
    // Through the writer like the writes, so a write queued before it can
    // never bring the file back.
    writer_.submit(
        url->string(),
        [url = *url] {
            std::error_code ignored;
            fs::remove(url, ignored);
        },
        FileWriter::Merge::replaces);
}

void CueEngine::saveRunState() {
    const auto url = runFileURL();
    if (!url) return;
    if (fired_.empty()) {
        savedRun_.reset();
        queueRunFileRemoval();
        return;
    }
    auto state = std::make_shared<RunState>();
    state->standbyID = standbyID_.value_or("");
    state->fired.assign(fired_.begin(), fired_.end());
    state->savedAt = static_cast<double>(g_get_real_time()) / 1e6;
    savedRun_ = state;
    // Only the newest state matters: a burst of GOs costs one encoding and one write.
    writer_.submit(
        url->string(),
        [url = *url, state = std::shared_ptr<const RunState>(std::move(state)), failing = runWriteFailing_] {
            const std::optional<std::string> bytes = encodeRunState(*state);
            if (!bytes) return;
            std::string error;
            if (writeFileAtomically(url, *bytes, &error)) {
                failing->store(false);
            } else if (!failing->exchange(true)) {
                logSystem("ajotiedoston tallennus epaonnistui: " + error);
            }
        },
        FileWriter::Merge::replaces);
}

void CueEngine::loadRunState() {
    savedRun_.reset();
    const auto url = runFileURL();
    if (!url) return;
    const ReadResult file = readWholeFile(*url, maxRunFileBytes);
    if (file.status == ReadStatus::failed || file.status == ReadStatus::tooLarge) {
        // Otherwise the missing resume offer would have no explanation anywhere.
        logSystem("ajotiedostoa ei voitu lukea, jatkoa ei tarjota: " + url->string() + ": " + file.error);
    }
    if (file.status != ReadStatus::ok) return;
    std::optional<RunState> state = decodeRunState(file.bytes);
    if (!state || state->fired.empty()) return;
    savedRun_ = std::make_shared<const RunState>(std::move(*state));
}

std::optional<CueEngine::ResolvedRun> CueEngine::resolvedRun(const RunState& state) const {
    ResolvedRun run;
    for (const std::string& id : state.fired) {
        if (findOrdered(id)) run.fired.insert(id);
    }
    if (run.fired.empty()) return std::nullopt;
    if (const Cue* cue = findOrdered(state.standbyID)) {
        run.standby = *cue;
    } else {
        for (const Cue& cue : ordered_) {
            if (!run.fired.contains(cue.id)) {
                run.standby = cue;
                break;
            }
        }
    }
    return run;
}

std::optional<ResumeOffer> CueEngine::resumeOffer() const {
    if (!savedRun_) return std::nullopt;
    auto run = resolvedRun(*savedRun_);
    if (!run || !run->standby || run->fired.size() >= ordered_.size()) return std::nullopt;
    return ResumeOffer{static_cast<std::int64_t>(run->fired.size()),
                       static_cast<std::int64_t>(ordered_.size()), *run->standby};
}

bool CueEngine::restoreRun() {
    if (!savedRun_) return false;
    auto run = resolvedRun(*savedRun_);
    if (!run) return false;
    fired_ = std::move(run->fired);
    standbyID_ = run->standby ? std::optional(run->standby->id) : std::nullopt;
    lastFiredID_.reset();
    changed();
    return true;
}

void CueEngine::discardSavedRun() {
    savedRun_.reset();
    queueRunFileRemoval();
}

}  // namespace tallowmark
