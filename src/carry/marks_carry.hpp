#pragma once

// Marks made on one version of a script, carried onto a revised version by
// the words they stand on. Both scripts' words, in reading order and folded
// as search folds them, are aligned (word_alignment.hpp); each record moves
// onto the new places of its own words, or, when they are gone or scattered,
// stays where it was with a flag for the operator to review. A record is
// never placed on words it was not anchored to.

#include <atomic>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "cues/cue_sidecar.hpp"
#include "document/page_geometry.hpp"

namespace tallowmark {

class DocumentStore;

// The words of a whole script in reading order.
struct ScriptWords {
    struct Word {
        std::int32_t page = 0;
        std::int32_t line = 0;  // the word's line on its page, in the page's reading order
        ViewFraction rect;
        // Where the word ends: the rest of a word a line-end hyphen broke
        // (read as one word, as a reader reads it); else the same as rect.
        ViewFraction endRect;
        std::string key;  // folded as search folds it
    };
    std::vector<Word> words;
    // Index of each page's first word; one more entry than pages, the last being words.size().
    std::vector<std::size_t> pageStart;

    int pageCount() const { return pageStart.empty() ? 0 : static_cast<int>(pageStart.size()) - 1; }
};

// Called now and then with the step under way ("old", "new", "place": the old
// script's pages read, the new script's, the records placed), how far it is
// and how far it goes; answers whether to go on.
using CarryProgress = std::function<bool(std::string_view step, int done, int total)>;

// Every page's words of the script open in `store`, each page taken under the
// store's lock on its own, reported to `progress` as `step`; none when the
// script closes meanwhile, when `progress` says stop, or past maxScriptWords.
std::optional<ScriptWords> readScriptWords(DocumentStore& store, std::string_view step = "words",
                                           const CarryProgress& progress = {});
constexpr std::size_t maxScriptWords = 1'000'000;

enum class CarryOutcome { placed, changed, review };
// "changed" and "review" as the marks file keeps them; none for placed.
std::optional<std::string> carryKey(CarryOutcome outcome);

// What became of one record.
struct CarriedRecord {
    std::string kind;  // "cue", "mark", "flag", "memo", "insert" or "pageText"
    std::string id;    // the record's id; a mark group's first mark; the page index of a page text
    std::string name;  // how the operator knows it: "Cue 12 LX", "highlight", "memo", ...
    std::string snippet;  // the words it stood on in the old script
    CarryOutcome outcome = CarryOutcome::review;
    std::int64_t oldPage = 0;
    std::int64_t newPage = 0;
};

struct CarryResult {
    // The carried marks: every record of the old marks, with its `carry` key
    // set when it was not placed cleanly. documentName, crop and spreadOffset
    // are the target's, as the caller handed them in.
    CueSidecar sidecar;
    std::vector<CarriedRecord> records;  // in the order of the marks file's lists
    int placed = 0;
    int changed = 0;
    int review = 0;
};

// Carries `old` (made on the script whose words are `from`) onto the script
// open in `target`, whose words are `to`; each placement is snapped by
// `target` as a drag over the words would be. `base` gives the result's
// documentName, crop and spreadOffset. None when `progress` says stop.
std::optional<CarryResult> carryMarks(const CueSidecar& old, const ScriptWords& from, const ScriptWords& to,
                                      DocumentStore& target, const CueSidecar& base,
                                      const CarryProgress& progress = {});

// The whole carry from the files: opens the old script `oldPdf` (its crop
// taken from `old`) and the script open in `target` again, each in a store of
// its own that keeps every page's words (the target's crop and page-number
// setting applied, so every position agrees with `target`'s), and carries.
// An English sentence for the operator when a script cannot be read.
struct CarryFailure {
    std::string message;
};
struct CarryRun {
    std::optional<CarryResult> result;
    std::optional<CarryFailure> failure;  // set when result is none and the run was not stopped
};
CarryRun carryFromScript(const std::filesystem::path& oldPdf, const CueSidecar& old, DocumentStore& target,
                         const CueSidecar& base, const CarryProgress& progress = {});

}  // namespace tallowmark
