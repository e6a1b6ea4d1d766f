#pragma once

// A made-up play set by groff (-ms, PDF output), revisions of it as a new
// draft brings them, and marks made on it the way an operator makes them: for
// the tests and the benchmark of carrying marks to a revised script.

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "cues/cue_sidecar.hpp"
#include "document/document_store.hpp"

namespace tallowmark::testing {

struct PlayBlock {
    enum class Kind { title, byline, plain, heading, direction, speech, pageBreak, twoColumns, oneColumn };
    Kind kind = Kind::speech;
    std::string speaker;             // a speech's character, in capitals
    std::vector<std::string> words;  // as printed, punctuation and a direction's brackets included
};

struct Play {
    std::vector<PlayBlock> blocks;
};

struct PlaySize {
    int pages = 8;  // about this many pages once set
    std::uint32_t seed = 1;
};

// A title page, two acts of scenes with speeches and stage directions, and a
// page set in two columns. The same size and seed make the same play.
Play makePlay(const PlaySize& size);

std::string groffSource(const Play& play);

// Sets the play with `groff -Tpdf -ms`; std::runtime_error naming the problem
// when groff is missing or fails.
void setPlay(const Play& play, const std::filesystem::path& pdf);

// makePlay with its length corrected until the set script is within a few
// pages of `size.pages` (groff decides the pages); sets it to `pdf`.
Play writePlay(const PlaySize& size, const std::filesystem::path& pdf);

// Pages of the PDF; 0 when poppler cannot read it.
int pdfPageCount(const std::filesystem::path& pdf);

// Words of one block: `count` from `first`, the speaker's name ("MARTHA.")
// in front when `withSpeaker` (then `first` is 0).
struct PlaySpan {
    int block = -1;
    int first = 0;
    int count = 0;
    bool withSpeaker = false;
};
// The span's words joined by spaces; empty for a span outside the play.
std::string spanText(const Play& play, const PlaySpan& span);

// Folded as search folds text: compatibility forms, case, white space and hyphens gone.
std::string folded(const std::string& text);

// A phrase found as an operator finds it: search, then a word-snapped drag
// from its first word to its last. None unless it occurs exactly once and the
// drag reads as the phrase. The store's search misses a phrase whose word a
// line-end hyphen breaks; `hyphens` then looks through every page's words.
struct Located {
    int page = 0;
    DocumentStore::SearchHit hit;
    DocumentStore::Selection selection;
    std::vector<DocumentStore::PageWord> words;  // the page's
    std::size_t first = 0, last = 0;             // the phrase's first and last of them
};
std::optional<Located> locatePhrase(DocumentStore& store, const std::string& phrase, bool hyphens = false);
// The phrase whole, as locatePhrase finds it; or, where a page break cuts
// it, its two parts: the foot of one page and the head of the next. Empty
// when it is found neither way. Finds hyphenated words, as above.
std::vector<Located> locateAcrossPages(DocumentStore& store, const std::string& phrase);

// A record made on the script, and the words it was made on.
struct MadeRecord {
    std::string kind;      // as CarriedRecord: "cue", "mark", "flag", "memo", "insert", "pageText"
    std::string id;        // as CarriedRecord: a group's first mark; a page note's page
    std::string markKind;  // a mark's: highlight, cut, hide, region
    // The words: a cue's or a text mark's own; a whole line for the records
    // beside the text (the first line of a speech for flags, memos and
    // regions, the last for inserted lines); a page's first words for its note.
    PlaySpan span;
    std::string phrase;
    int page = 0;
};

struct OperatorMarks {
    CueSidecar sidecar;
    std::vector<MadeRecord> records;
};

struct MarkCounts {
    int cues = 24;  // every sixth of the first thirty on the two-column page
    int highlights = 2;
    int cuts = 1;
    int hides = 1;
    int regions = 1;
    int flags = 2;
    int memos = 2;
    int inserts = 2;
    int pageNotes = 2;
    std::uint32_t seed = 7;
};

// Marks on the script open in `store`, which was set from `play`. Phrases
// are drawn at random and kept when found once; fewer records than asked
// for when the play is too small to hold them.
OperatorMarks markPlay(DocumentStore& store, const Play& play, const MarkCounts& counts);

enum class Revision { insertedParagraph, cutSpeech, changedWords, renamedCharacter, frontMatter };
std::string revisionName(Revision revision);

struct RevisedPlay {
    Play play;
    std::vector<int> blockMap;  // each old block's index in the new play; -1 when cut
    std::string changedCue;     // changedWords: the cue whose last two words were replaced
    int cutBlock = -1;          // cutSpeech: the old block cut
};

// One revision of `play`. An inserted speech early in act one (every later
// page moves); the speech holding the most records cut; the last two words of
// a cue of five or more words replaced; MARTHA renamed MARGARET everywhere; a
// page of notes put before the title page.
RevisedPlay revise(const Play& play, Revision revision, const OperatorMarks& marks);

// The words of `span` in the revised play; none when its block was cut.
std::optional<std::string> revisedText(const RevisedPlay& revised, const PlaySpan& span);

}  // namespace tallowmark::testing
