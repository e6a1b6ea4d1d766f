// Editing the marks of the open script, with undo and redo. Every operation
// takes its undo snapshot first, changes the record, keeps the run state
// consistent, saves and reports.
#include <glib.h>

#include <algorithm>
#include <numeric>

#include "core/unicode_text.hpp"
#include "cues/cue_engine.hpp"

namespace tallowmark {

namespace {

// Replaces the first record with the same id in place, or appends.
// Returns true when the record was appended.
template <class T>
bool replaceOrAppend(std::vector<T>& list, const T& item) {
    auto it = std::find_if(list.begin(), list.end(), [&](const T& r) { return r.id == item.id; });
    if (it != list.end()) {
        *it = item;
        return false;
    }
    list.push_back(item);
    return true;
}

template <class T>
void removeIds(std::vector<T>& list, const CueEngine::IdSet& ids) {
    std::erase_if(list, [&](const T& r) { return ids.contains(r.id); });
}

}  // namespace

void CueEngine::recordUndo() {
    undoStack_.push_back(sidecar_);
    if (undoStack_.size() > undoLimit) undoStack_.erase(undoStack_.begin());
    redoStack_.clear();
}

void CueEngine::undoableEdit(const std::function<void()>& change) {
    recordUndo();
    change();
    queueSidecarSave(true);
    changed();
}

void CueEngine::appendCue(const Cue& cue) {
    if (replaceOrAppend(sidecar_.cues, cue) && !standbyID_) standbyID_ = cue.id;
}

void CueEngine::upsert(const Cue& cue) { upsert(std::vector<Cue>{cue}); }

void CueEngine::upsert(const std::vector<Cue>& cues) {
    if (cues.empty()) return;
    undoableEdit([&] {
        for (const Cue& cue : cues) appendCue(cue);
        reorder();
    });
}

void CueEngine::removeCuesFromRecord(const IdSet& ids) {
    removeIds(sidecar_.cues, ids);
    if (standbyID_ && ids.contains(*standbyID_)) standbyID_.reset();
    for (const std::string& id : ids) fired_.erase(id);
    reorder();
    // A removed standby is replaced by the first unfired cue, not by the cue
    // after it: the operator may have skipped cues that are still to come.
    if (!standbyID_) refillStandbyIfMissing();
}

void CueEngine::remove(const std::string& id) {
    undoableEdit([&] { removeCuesFromRecord({id}); });
}

void CueEngine::remove(const std::vector<std::string>& ids) {
    if (ids.empty()) return;
    undoableEdit([&] { removeCuesFromRecord(IdSet(ids.begin(), ids.end())); });
}

void CueEngine::renumberCues() {
    // Indices rather than identifiers: a hand-edited file may repeat an id.
    std::vector<std::size_t> order(sidecar_.cues.size());
    std::iota(order.begin(), order.end(), 0);
    std::stable_sort(order.begin(), order.end(), [&](std::size_t a, std::size_t b) {
        return inScriptOrder(sidecar_.cues[a], sidecar_.cues[b]);
    });
    bool differs = false;
    for (std::size_t pos = 0; pos < order.size(); ++pos) {
        if (sidecar_.cues[order[pos]].number != std::to_string(pos + 1)) differs = true;
    }
    if (!differs) return;
    undoableEdit([&] {
        for (std::size_t pos = 0; pos < order.size(); ++pos) {
            sidecar_.cues[order[pos]].number = std::to_string(pos + 1);
        }
        reorder();
    });
}

void CueEngine::upsert(const Mark& mark) { upsert(std::vector<Mark>{mark}); }

void CueEngine::upsert(const std::vector<Mark>& marks) {
    if (marks.empty()) return;
    undoableEdit([&] {
        for (const Mark& mark : marks) replaceOrAppend(sidecar_.marks, mark);
    });
}

void CueEngine::removeMark(const std::string& id) { removeMarks(std::vector<std::string>{id}); }

void CueEngine::removeMarks(const std::vector<std::string>& ids) {
    if (ids.empty()) return;
    undoableEdit([&] { removeIds(sidecar_.marks, IdSet(ids.begin(), ids.end())); });
}

void CueEngine::upsert(const Flag& flag) {
    undoableEdit([&] { replaceOrAppend(sidecar_.flags, flag); });
}

void CueEngine::removeFlag(const std::string& id) {
    undoableEdit([&] { removeIds(sidecar_.flags, {id}); });
}

void CueEngine::upsert(const Memo& memo) {
    undoableEdit([&] { replaceOrAppend(sidecar_.memos, memo); });
}

void CueEngine::removeMemo(const std::string& id) {
    undoableEdit([&] { removeIds(sidecar_.memos, {id}); });
}

void CueEngine::upsert(const Insert& insert) {
    undoableEdit([&] { replaceOrAppend(sidecar_.inserts, insert); });
}

bool CueEngine::removeInsert(const std::string& id) {
    // Cues that stand on the script text carry an empty insertID: an empty id
    // would take every one of them.
    if (id.empty()) return false;
    undoableEdit([&] {
        removeIds(sidecar_.inserts, {id});
        IdSet onLine;
        for (const Cue& cue : sidecar_.cues) {
            if (cue.insertID == id) onLine.insert(cue.id);
        }
        removeCuesFromRecord(onLine);
    });
    return true;
}

void CueEngine::setPageText(std::int64_t page, const std::string& text) {
    const std::string key = std::to_string(page);
    if (trimText(text, isSpaceOrLineBreak).empty()) {
        sidecar_.pageTexts.erase(key);
    } else {
        sidecar_.pageTexts[key] = text;
    }
    queueSidecarSave(false);
}

void CueEngine::setCrop(std::vector<double> crop) {
    sidecar_.crop = std::move(crop);
    queueSidecarSave(false);
}

void CueEngine::setSpreadOffset(std::int64_t offset) {
    sidecar_.spreadOffset = offset != 0 ? 1 : 0;
    queueSidecarSave(false);
}

void CueEngine::setPageLabelOffset(std::int64_t offset) {
    sidecar_.pageLabelOffset = offset;
    queueSidecarSave(true);
    changed();
}

bool CueEngine::applySnapshot(std::vector<CueSidecar>& from, std::vector<CueSidecar>& to) {
    if (from.empty()) return false;
    CueSidecar snapshot = std::move(from.back());
    from.pop_back();
    to.push_back(sidecar_);
    sidecar_ = std::move(snapshot);
    reorder();
    // A standby of none stays none; a standby whose cue is gone is refilled.
    if (standbyID_ && !findOrdered(*standbyID_)) refillStandbyIfMissing();
    queueSidecarSave(false);
    changed();
    return true;
}

bool CueEngine::undo() { return applySnapshot(undoStack_, redoStack_); }

bool CueEngine::redo() { return applySnapshot(redoStack_, undoStack_); }

}  // namespace tallowmark
