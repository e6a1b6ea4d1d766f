#pragma once

// The marks of the open script in memory: the record, its cues in script
// order, every edit and the undo history. It knows nothing of the run or of
// files: an edit answers what it did, and the engine has the run follow and
// the file saved. Main thread only.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "cues/cue_sidecar.hpp"

namespace tallowmark {

class MarksRecord {
public:
    using IdSet = std::set<std::string>;

    static constexpr std::size_t undoLimit = 50;

    // What an undoable edit did.
    struct Edit {
        // An undo step was taken. False only for an edit that does nothing at
        // all (an empty batch, numbers already in order, an empty insert id).
        bool taken = false;
        // The first cue the edit appended, which takes standby when there is none.
        std::optional<std::string> appendedCue = std::nullopt;
        // The cues asked to go, found or not: the run drops them and refills
        // a missing standby even when none was found.
        std::optional<IdSet> removedCues = std::nullopt;
    };

    const CueSidecar& sidecar() const { return sidecar_; }
    const std::vector<Cue>& ordered() const { return ordered_; }
    // The cue in ordered() with this id; null when there is none.
    const Cue* find(const std::string& id) const;
    // The first cue in script order whose number has the same normal form.
    const Cue* findByNumber(std::string_view number) const;
    std::size_t undoDepth() const { return undoStack_.size(); }
    std::size_t redoDepth() const { return redoStack_.size(); }

    // Trimmed, upper-cased, and whole numbers below 10^9 written as plain integers.
    static std::string normalize(std::string_view number);

    // Another script's marks: the history of the last one never carries over.
    void load(CueSidecar sidecar);

    // Each list matches its records by id: an upsert replaces the first record
    // with the id in place, or appends. A batch is one step.
    Edit upsert(const std::vector<Cue>& cues);
    Edit removeCues(const std::vector<std::string>& ids);
    Edit renumberCues();
    Edit upsert(const std::vector<Mark>& marks);
    Edit removeMarks(const std::vector<std::string>& ids);
    // The records of `ids` (of any kind) accepted where a carry left them:
    // their carry flags go, as one step. Nothing to accept takes no step.
    Edit acceptCarried(const std::vector<std::string>& ids);
    Edit upsert(const Flag& flag);
    Edit removeFlag(const std::string& id);
    Edit upsert(const Memo& memo);
    Edit removeMemo(const std::string& id);
    Edit upsert(const Insert& insert);
    // The inserted line and the cues that stand on it.
    Edit removeInsert(const std::string& id);
    // The marks of another script's file, as one step; the open script keeps
    // its own name, crop and spread offset.
    void takeOver(CueSidecar imported);

    // Without an undo step.
    void setPageText(std::int64_t page, const std::string& text);
    void setCrop(std::vector<double> crop);
    void setSpreadOffset(std::int64_t offset);
    void setPageLabelOffset(std::int64_t offset);

    // The whole record as it was (or is again), changes without a step included.
    bool undo();
    bool redo();

private:
    void recordUndo();
    // An edit with its undo step taken first.
    template <class Change>
    Edit step(Change change) {
        recordUndo();
        change();
        return {.taken = true};
    }
    void reorder();
    bool applySnapshot(std::vector<CueSidecar>& from, std::vector<CueSidecar>& to);

    CueSidecar sidecar_;
    std::vector<CueSidecar> undoStack_;  // oldest first
    std::vector<CueSidecar> redoStack_;  // oldest first
    std::vector<Cue> ordered_;
    std::unordered_map<std::string, std::size_t> orderedIndex_;  // id -> position in ordered_
};

}  // namespace tallowmark
