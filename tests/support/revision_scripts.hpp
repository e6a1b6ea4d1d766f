#pragma once

// A made-up play set by groff (-ms, PDF), its revisions as a new draft brings
// them, and marks made on it as an operator makes them: the fixtures of the
// carry tests and benchmark.

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "cues/cue_sidecar.hpp"
#include "document/document_store.hpp"

namespace tallowmark::testing {

struct PlayBlock {
    enum class Kind { title, plain, heading, direction, speech, pageBreak, twoColumns, oneColumn };
    Kind kind = Kind::speech;
    std::string speaker;             // a speech's character, in capitals
    std::vector<std::string> words;  // as printed, punctuation and a direction's brackets included
};
using Play = std::vector<PlayBlock>;

// Sets the play with `groff -Tpdf -ms`; std::runtime_error naming the problem when groff is missing or fails.
void setPlay(const Play& play, const std::filesystem::path& pdf);

// A title page, two acts of scenes with speeches and stage directions, and a
// page in two columns, set to `pdf` within a few pages of `pages`. The same
// pages and seed make the same play.
Play writePlay(int pages, std::uint32_t seed, const std::filesystem::path& pdf);

// Words of one block: `count` from `first`, the speaker's name ("MARTHA.") in
// front when `withSpeaker` (then `first` is 0).
struct PlaySpan {
    int block = -1, first = 0, count = 0;
    bool withSpeaker = false;
};
// The span's words joined by spaces; empty for a span outside the play.
std::string spanText(const Play& play, const PlaySpan& span);

// Folded as search folds text: compatibility forms, case, white space and hyphens gone.
std::string folded(const std::string& text);

// Every page's words in reading order but a page number heading a page, and
// their folded texts end to end: a word a line-end hyphen broke, or a phrase
// a page break cut, reads on across the break.
struct PrintedWords {
    struct Word {
        int page = 0;
        DocumentStore::PageWord word;
        std::size_t key = 0;  // where its folded text starts in `keys`
    };
    std::vector<Word> words;
    std::string keys;
};
PrintedWords printedWords(DocumentStore& store);

// A phrase as an operator finds it: one part on each page it stands on, each
// read back by a word-snapped drag from its first word to its last. Empty
// unless the phrase is whole words found exactly once and every drag reads as its part.
struct Located {
    int page = 0;
    DocumentStore::Selection selection;
    std::size_t first = 0, last = 0;  // of PrintedWords::words
};
std::vector<Located> locate(DocumentStore& store, const PrintedWords& printed, const std::string& phrase);

// A record made on the script, and the words it was made on: a cue's or text
// mark's own; for a flag, memo or region the first line of a speech; for an
// inserted line the last; for a page note its page's first words.
struct MadeRecord {
    std::string kind;      // as CarriedRecord: "cue", "mark", "flag", "memo", "insert", "pageText"
    std::string id;        // as CarriedRecord: a group's first mark; a page note's page
    std::string markKind;  // a mark's: highlight, cut, hide, region
    PlaySpan span;
    std::string phrase;
    int page = 0;
    ViewFraction rect;  // where the words stood
};

struct OperatorMarks {
    CueSidecar sidecar;
    std::vector<MadeRecord> records;
};

struct MarkCounts {
    int cues = 24;       // every sixth of the first thirty on the two-column page
    int textMarks = 4;   // highlight, cut, hide in turn
    int besideText = 8;  // region, flag, memo, inserted line in turn, each on a speech of its own
    int pageNotes = 2;
    std::uint32_t seed = 7;
};

// Marks on the script open in `store`, set from `play`, on phrases drawn at
// random and kept when found once; fewer when the play is too small.
OperatorMarks markPlay(DocumentStore& store, const Play& play, const MarkCounts& counts);

enum class Revision { insertedParagraph, cutSpeech, changedWords, renamedCharacter, frontMatter };
std::string revisionName(Revision revision);

struct RevisedPlay {
    Play play;
    std::vector<int> blockMap;  // each old block's index in the new play; -1 when cut
    std::string changedCue;     // changedWords: the cue whose last two words were replaced
};

// One revision of `play`: a speech inserted early in act one (every later
// page moves); the speech holding the most records cut; the last two words of
// a cue of five or more replaced; MARTHA renamed MARGARET; a page of notes
// put after the title page.
RevisedPlay revise(const Play& play, Revision revision, const OperatorMarks& marks);

// The words of `span` in the revised play; none when its block was cut.
std::optional<std::string> revisedText(const RevisedPlay& revised, const PlaySpan& span);

}  // namespace tallowmark::testing
