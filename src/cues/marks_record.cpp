#include "cues/marks_record.hpp"

#include <glib.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <numeric>
#include <utility>

#include "core/unicode_text.hpp"

namespace tallowmark {

namespace {

std::string upperCase(const std::string& text) {
    // Full Unicode case mapping (ß becomes SS). Invalid bytes are replaced first
    // because the mapping needs valid UTF-8.
    gchar* valid = g_utf8_make_valid(text.data(), static_cast<gssize>(text.size()));
    gchar* upper = g_utf8_strup(valid, -1);
    std::string result(upper);
    g_free(upper);
    g_free(valid);
    return result;
}

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
void removeIds(std::vector<T>& list, const MarksRecord::IdSet& ids) {
    std::erase_if(list, [&](const T& r) { return ids.contains(r.id); });
}

}  // namespace

std::string MarksRecord::normalize(std::string_view number) {
    const std::string text = upperCase(trimText(number, isSpaceOrTab));
    // strtod would skip leading white space; a number here must start at once.
    if (text.empty() || g_ascii_isspace(text.front())) return text;
    char* end = nullptr;
    const double d = g_ascii_strtod(text.c_str(), &end);  // strtod in the C locale
    if (end != text.c_str() + text.size()) return text;
    if (!std::isfinite(d) || d != std::trunc(d) || std::fabs(d) >= 1e9) return text;
    char buffer[32];
    std::snprintf(buffer, sizeof buffer, "%lld", static_cast<long long>(d));  // -0 gives 0
    return buffer;
}

const Cue* MarksRecord::find(const std::string& id) const {
    auto it = orderedIndex_.find(id);
    return it == orderedIndex_.end() ? nullptr : &ordered_[it->second];
}

const Cue* MarksRecord::findByNumber(std::string_view number) const {
    const std::string wanted = normalize(number);
    for (const Cue& cue : ordered_) {
        if (normalize(cue.number) == wanted) return &cue;
    }
    return nullptr;
}

void MarksRecord::reorder() {
    ordered_ = sidecar_.cues;
    std::stable_sort(ordered_.begin(), ordered_.end(), inScriptOrder);
    // Every GO looks cues up by id (standby, the fired set, the resume offer);
    // on a long show a scan per lookup made each state report quadratic.
    orderedIndex_.clear();
    orderedIndex_.reserve(ordered_.size());
    for (std::size_t i = 0; i < ordered_.size(); ++i) orderedIndex_.emplace(ordered_[i].id, i);
}

void MarksRecord::load(CueSidecar sidecar) {
    sidecar_ = std::move(sidecar);
    undoStack_.clear();
    redoStack_.clear();
    reorder();
}

void MarksRecord::recordUndo() {
    undoStack_.push_back(sidecar_);
    if (undoStack_.size() > undoLimit) undoStack_.erase(undoStack_.begin());
    redoStack_.clear();
}

MarksRecord::Edit MarksRecord::upsert(const std::vector<Cue>& cues) {
    Edit edit;
    if (cues.empty()) return edit;
    recordUndo();
    edit.taken = true;
    for (const Cue& cue : cues) {
        if (replaceOrAppend(sidecar_.cues, cue) && !edit.appendedCue) edit.appendedCue = cue.id;
    }
    reorder();
    return edit;
}

MarksRecord::Edit MarksRecord::removeCues(const std::vector<std::string>& ids) {
    if (ids.empty()) return {};
    recordUndo();
    IdSet gone(ids.begin(), ids.end());
    removeIds(sidecar_.cues, gone);
    reorder();
    return {.taken = true, .removedCues = std::move(gone)};
}

MarksRecord::Edit MarksRecord::renumberCues() {
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
    if (!differs) return {};
    recordUndo();
    for (std::size_t pos = 0; pos < order.size(); ++pos) {
        sidecar_.cues[order[pos]].number = std::to_string(pos + 1);
    }
    reorder();
    return {.taken = true};
}

MarksRecord::Edit MarksRecord::upsert(const std::vector<Mark>& marks) {
    if (marks.empty()) return {};
    return step([&] {
        for (const Mark& mark : marks) replaceOrAppend(sidecar_.marks, mark);
    });
}

MarksRecord::Edit MarksRecord::removeMarks(const std::vector<std::string>& ids) {
    if (ids.empty()) return {};
    return step([&] { removeIds(sidecar_.marks, IdSet(ids.begin(), ids.end())); });
}

MarksRecord::Edit MarksRecord::acceptCarried(const std::vector<std::string>& ids) {
    const IdSet accepted(ids.begin(), ids.end());
    const auto flagged = [&](const auto& list) {
        return std::any_of(list.begin(), list.end(), [&](const auto& r) { return r.carry && accepted.contains(r.id); });
    };
    if (!flagged(sidecar_.cues) && !flagged(sidecar_.marks) && !flagged(sidecar_.flags) &&
        !flagged(sidecar_.memos) && !flagged(sidecar_.inserts))
        return {};
    return step([&] {
        const auto clear = [&](auto& list) {
            for (auto& record : list)
                if (accepted.contains(record.id)) record.carry.reset();
        };
        clear(sidecar_.cues);
        clear(sidecar_.marks);
        clear(sidecar_.flags);
        clear(sidecar_.memos);
        clear(sidecar_.inserts);
        reorder();
    });
}

MarksRecord::Edit MarksRecord::upsert(const Flag& flag) { return step([&] { replaceOrAppend(sidecar_.flags, flag); }); }

MarksRecord::Edit MarksRecord::removeFlag(const std::string& id) {
    return step([&] { removeIds(sidecar_.flags, {id}); });
}

MarksRecord::Edit MarksRecord::upsert(const Memo& memo) { return step([&] { replaceOrAppend(sidecar_.memos, memo); }); }

MarksRecord::Edit MarksRecord::removeMemo(const std::string& id) {
    return step([&] { removeIds(sidecar_.memos, {id}); });
}

MarksRecord::Edit MarksRecord::upsert(const Insert& insert) {
    return step([&] { replaceOrAppend(sidecar_.inserts, insert); });
}

MarksRecord::Edit MarksRecord::removeInsert(const std::string& id) {
    // Cues that stand on the script text carry an empty insertID: an empty id
    // would take every one of them.
    if (id.empty()) return {};
    recordUndo();
    removeIds(sidecar_.inserts, {id});
    IdSet onLine;
    for (const Cue& cue : sidecar_.cues) {
        if (cue.insertID == id) onLine.insert(cue.id);
    }
    removeIds(sidecar_.cues, onLine);
    reorder();
    return {.taken = true, .removedCues = std::move(onLine)};
}

void MarksRecord::takeOver(CueSidecar imported) {
    recordUndo();
    imported.documentName = sidecar_.documentName;
    imported.crop = sidecar_.crop;
    imported.spreadOffset = sidecar_.spreadOffset;
    sidecar_ = std::move(imported);
    reorder();
}

void MarksRecord::setPageText(std::int64_t page, const std::string& text) {
    const std::string key = std::to_string(page);
    if (trimText(text, isSpaceOrLineBreak).empty()) {
        sidecar_.pageTexts.erase(key);
    } else {
        sidecar_.pageTexts[key] = text;
    }
}

void MarksRecord::setCrop(std::vector<double> crop) { sidecar_.crop = std::move(crop); }

void MarksRecord::setSpreadOffset(std::int64_t offset) { sidecar_.spreadOffset = offset != 0 ? 1 : 0; }

void MarksRecord::setPageLabelOffset(std::int64_t offset) { sidecar_.pageLabelOffset = offset; }

bool MarksRecord::applySnapshot(std::vector<CueSidecar>& from, std::vector<CueSidecar>& to) {
    if (from.empty()) return false;
    CueSidecar snapshot = std::move(from.back());
    from.pop_back();
    to.push_back(sidecar_);
    sidecar_ = std::move(snapshot);
    reorder();
    return true;
}

bool MarksRecord::undo() { return applySnapshot(undoStack_, redoStack_); }

bool MarksRecord::redo() { return applySnapshot(redoStack_, undoStack_); }

}  // namespace tallowmark
