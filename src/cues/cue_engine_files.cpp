// The marks file (load, save, backups, import) and the run-position file.
#include <glib.h>

#include <system_error>

#include "core/atomic_file.hpp"
#include "core/system_log.hpp"
#include "cues/cue_engine.hpp"

namespace tallowmark {

namespace fs = std::filesystem;

fs::path CueEngine::backupPath(const fs::path& sidecarPath, int n) {
    fs::path path = sidecarPath;
    path += ".bak" + std::to_string(n);
    return path;
}

void CueEngine::loadSidecar(const fs::path& pdfPath) {
    const fs::path url = sidecarPathFor(pdfPath);
    sidecarURL_ = url;
    keepUnreadableFile_ = false;

    std::optional<CueSidecar> loaded;
    const ReadResult file = readWholeFile(url, maxSidecarBytes);
    if (file.status == ReadStatus::ok) loaded = decodeSidecar(file.bytes);
    if (!loaded) {
        CueSidecar fresh;
        fresh.documentName = pdfPath.filename().string();
        loaded = std::move(fresh);
        if (file.status != ReadStatus::missing) {
            keepUnreadableFile_ = true;
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

void CueEngine::rotateBackups() {
    if (!sidecarURL_) return;
    std::error_code ignored;
    const fs::path& url = *sidecarURL_;
    if (!fs::exists(url, ignored)) return;
    // Each step ignores its own failure: rotation must never stop a save.
    fs::remove(backupPath(url, backupCount), ignored);
    for (int n = backupCount - 1; n >= 1; --n) {
        const fs::path from = backupPath(url, n);
        if (fs::exists(from, ignored)) {
            fs::remove(backupPath(url, n + 1), ignored);
            fs::rename(from, backupPath(url, n + 1), ignored);
        }
    }
    fs::remove(backupPath(url, 1), ignored);
    fs::copy_file(url, backupPath(url, 1), ignored);
}

bool CueEngine::saveSidecar(bool rotateBackup) {
    if (!sidecarURL_) return false;
    const fs::path url = *sidecarURL_;

    std::error_code ignored;
    const bool mustKeepOld = keepUnreadableFile_ && fs::exists(url, ignored);
    if (rotateBackup || mustKeepOld) rotateBackups();
    if (mustKeepOld) {
        // An unreadable marks file may still hold every cue of the show; never
        // overwrite it unless its content is safe in backup 1.
        std::error_code backupError, fileError;
        const auto kept = fs::file_size(backupPath(url, 1), backupError);
        const auto size = fs::file_size(url, fileError);
        if (backupError || fileError || kept != size) {
            logSystem("sivutiedoston tallennus epaonnistui: lukukelvotonta merkintatiedostoa ei "
                      "saatu varmuuskopioksi: " + url.string());
            return false;
        }
    }
    keepUnreadableFile_ = false;

    const std::optional<std::string> bytes = encodeSidecar(sidecar_);
    if (!bytes) return false;
    std::string error;
    if (!writeFileAtomically(url, *bytes, &error)) {
        logSystem("sivutiedoston tallennus epaonnistui: " + error);
        return false;
    }
    return true;
}

bool CueEngine::importSidecar(const fs::path& marksFile) {
    if (!sidecarURL_) return false;
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
    const bool saved = saveSidecar(true);
    changed();
    return saved;
}

std::optional<fs::path> CueEngine::runFileURL() const {
    if (!sidecarURL_) return std::nullopt;
    return runFilePathFor(*sidecarURL_);
}

void CueEngine::saveRunState() {
    const auto url = runFileURL();
    if (!url) return;
    std::error_code ignored;
    if (fired_.empty()) {
        fs::remove(*url, ignored);
        savedRun_.reset();
        return;
    }
    RunState state;
    state.standbyID = standbyID_.value_or("");
    state.fired.assign(fired_.begin(), fired_.end());
    state.savedAt = static_cast<double>(g_get_real_time()) / 1e6;
    savedRun_ = state;
    if (auto bytes = encodeRunState(state)) writeFileAtomically(*url, *bytes);
}

void CueEngine::loadRunState() {
    savedRun_.reset();
    const auto url = runFileURL();
    if (!url) return;
    const ReadResult file = readWholeFile(*url, maxRunFileBytes);
    if (file.status != ReadStatus::ok) return;
    std::optional<RunState> state = decodeRunState(file.bytes);
    if (!state || state->fired.empty()) return;
    savedRun_ = std::move(state);
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
    if (const auto url = runFileURL()) {
        std::error_code ignored;
        fs::remove(*url, ignored);
    }
}

}  // namespace tallowmark
