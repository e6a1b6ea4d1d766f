#include "cues/cue_engine.hpp"

#include <utility>

namespace tallowmark {

CueEngine::CueEngine() : run_(marks_, files_.writer()) {
    run_.onFire = [this](const Cue& cue, const std::string& source) {
        if (onFire) onFire(cue, source);
    };
    run_.onLog = [this](const std::string& text, const std::string& source) {
        if (onLog) onLog(text, source);
    };
    run_.onGoIgnored = [this](const std::string& source, std::int64_t sinceMs) {
        if (onGoIgnored) onGoIgnored(source, sinceMs);
    };
    run_.onRecord = [this](ReportEntry::Kind kind, const Cue* cue, const std::string& source, std::int64_t sinceMs) {
        if (onRecord) onRecord(kind, cue, source, sinceMs);
    };
    run_.onRunChange = [this](const RunChange& change) {
        if (onRunChange) onRunChange(change);
        else if (onStateChange) onStateChange();
    };
}

void CueEngine::changed() {
    run_.countChange();
    if (onStateChange) onStateChange();
}

void CueEngine::loadSidecar(const std::filesystem::path& pdfPath) {
    marks_.load(files_.open(pdfPath));
    run_.start(runFilePathFor(*files_.sidecarURL()));
    changed();
}

void CueEngine::unload() {
    files_.close();
    marks_.load(CueSidecar{});
    run_.start(std::nullopt);
    changed();
}

void CueEngine::follow(const MarksRecord::Edit& edit) {
    if (!edit.taken) return;
    if (edit.appendedCue) run_.cueAppended(*edit.appendedCue);
    if (edit.removedCues) run_.cuesRemoved(*edit.removedCues);
    files_.queueSave(marks_.sidecar(), true);
    changed();
}

bool CueEngine::removeInsert(const std::string& id) {
    const MarksRecord::Edit edit = marks_.removeInsert(id);
    follow(edit);
    return edit.taken;
}

bool CueEngine::importSidecar(const std::filesystem::path& marksFile) {
    std::optional<CueSidecar> imported = files_.readImport(marksFile);
    if (!imported) return false;
    marks_.takeOver(std::move(*imported));
    run_.marksImported();
    const bool queued = files_.queueSave(marks_.sidecar(), true);
    changed();
    return queued;
}

bool CueEngine::carryIn(CueSidecar carried) {
    if (!files_.sidecarURL()) return false;
    marks_.takeOver(std::move(carried));
    run_.marksImported();
    const bool queued = files_.queueSave(marks_.sidecar(), true);
    changed();
    return queued;
}

void CueEngine::setPageText(std::int64_t page, const std::string& text) {
    marks_.setPageText(page, text);
    files_.queueSave(marks_.sidecar(), false);
}

void CueEngine::setCrop(std::vector<double> crop) {
    marks_.setCrop(std::move(crop));
    files_.queueSave(marks_.sidecar(), false);
}

void CueEngine::setSpreadOffset(std::int64_t offset) {
    marks_.setSpreadOffset(offset);
    files_.queueSave(marks_.sidecar(), false);
}

void CueEngine::setPageLabelOffset(std::int64_t offset) {
    marks_.setPageLabelOffset(offset);
    files_.queueSave(marks_.sidecar(), true);
    changed();
}

bool CueEngine::undo() { return restored(marks_.undo()); }

bool CueEngine::redo() { return restored(marks_.redo()); }

bool CueEngine::restored(bool applied) {
    if (!applied) return false;
    run_.marksRestored();
    files_.queueSave(marks_.sidecar(), false);
    changed();
    return true;
}

}  // namespace tallowmark
