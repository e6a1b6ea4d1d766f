#include "support/revision_scripts.hpp"

#include <glib.h>
#include <sys/wait.h>

#include <algorithm>
#include <cmath>
#include <map>
#include <numeric>
#include <random>
#include <set>
#include <sstream>
#include <stdexcept>
#include <tuple>

#include "support/temp_dir.hpp"

namespace tallowmark::testing {

namespace {

using Kind = PlayBlock::Kind;

// The engine alone, not the standard distributions: the same play on every machine and library.
struct Rng {
    explicit Rng(std::uint32_t seed) : engine(seed) {}
    std::mt19937 engine;
    int below(std::size_t n) { return n > 0 ? static_cast<int>(engine() % n) : 0; }
    bool chance(int percent) { return below(100) < percent; }
    const auto& pick(const auto& list) { return list[static_cast<std::size_t>(below(list.size()))]; }
};

std::vector<std::string> splitWords(const std::string& text) {
    std::vector<std::string> words;
    std::istringstream in(text);
    for (std::string word; in >> word;) words.push_back(std::move(word));
    return words;
}

std::string joined(const std::vector<std::string>& words, std::size_t from = 0, std::size_t to = std::string::npos) {
    std::string text;
    for (std::size_t i = from; i < std::min(to, words.size()); ++i) text += (text.empty() ? "" : " ") + words[i];
    return text;
}

// Common words come often and names recur, as in a real script; the rest are
// drawn from some two hundred, so a run of three or four words is rarely
// repeated while single words and pairs are, often.
const std::vector<std::string> commonWords = splitWords(
    "the and a to of I you it is in that not we my your be with for but he she was all so what no at on this have "
    "me her him if do are there will now here");
const std::vector<std::string> plainWords = splitWords(
    "storm harbour lantern window letter candle door light sea boat rope salt bread kettle table chair stair tower "
    "lamp oil wick glass night morning evening winter summer coat boots key lock clock bell shore rocks gulls wind "
    "rain fog cliff path village church market money debt promise secret father mother brother sister husband child "
    "doctor captain keeper stranger neighbour friend enemy ghost voice silence music song dance story truth lie "
    "reason fear hope anger grief luck trouble matter question answer minute hour year week supper tea whisky pipe "
    "map chart compass engine signal flare wreck tide current anchor deck mast sail oar net fish basket blanket fire "
    "smoke ash iron stone wood paint ink paper book prayer wedding funeral train station road bridge river field "
    "garden gate fence dog horse cart wheel bucket well cellar attic roof chimney floor wall curtain mirror "
    "photograph portrait ring watch coin purse knife spoon cup plate bottle cork thread needle button collar sleeve "
    "glove hat scarf shadow dream memory name word message telegram parcel envelope listen wait remember forget "
    "carry hold follow leave return climb fall burn break mend sing whisper shout laugh weep pray lie steal hide "
    "find lose keep sell buy owe quiet cold dark bright old young tired brave foolish careful strange heavy empty "
    "broken crooked gentle bitter sweet late");
// MARTHA speaks most, and is renamed by one revision.
const std::vector<std::string> speakers =
    splitWords("MARTHA MARTHA MARTHA THOMAS THOMAS EDWIN CLARA CLARA WALTER MARTHA");
const std::vector<std::string> names = splitWords("MARTHA THOMAS EDWIN CLARA WALTER");

// Sentences; in a stage direction, in brackets, the names are in capitals.
std::vector<std::string> sentences(Rng& rng, int count, bool direction = false) {
    std::vector<std::string> words;
    for (int s = 0; s < count; ++s) {
        const int length = 4 + rng.below(11);
        for (int i = 0; i < length; ++i) {
            const int roll = rng.below(100);
            std::string word = rng.pick(roll < 42 ? commonWords : roll < 47 ? names : plainWords);
            if (roll >= 42 && roll < 47 && !direction)
                std::transform(word.begin() + 1, word.end(), word.begin() + 1, g_ascii_tolower);
            if (i == 0) word[0] = g_ascii_toupper(word[0]);
            if (i + 1 < length && i > 1 && rng.chance(8)) word += ",";
            words.push_back(std::move(word));
        }
        const int end = rng.below(100);
        words.back() += direction || end < 75 ? "." : end < 93 ? "?" : "!";
    }
    if (direction) words.front().insert(0, "(");
    if (direction) words.back() += ")";
    return words;
}

PlayBlock block(Kind kind, const std::string& text = {}) { return {kind, {}, splitWords(text)}; }

std::size_t wordsOf(const Play& play) {
    std::size_t count = 0;
    for (const PlayBlock& b : play) count += b.words.size() + (b.speaker.empty() ? 0 : 1);
    return count;
}

// The play at about `wordsPerPage` words a page.
Play makePlay(int pages, std::uint32_t seed, double wordsPerPage) {
    Rng rng(seed);
    auto direction = [&] { return PlayBlock{Kind::direction, {}, sentences(rng, rng.chance(30) ? 2 : 1, true)}; };
    Play play = {block(Kind::title, "THE LANTERN KEEPER"), block(Kind::plain, "A play in two acts"),
                 block(Kind::plain,
                       "CHARACTERS: MARTHA, keeper of the light. THOMAS, her brother. EDWIN, a "
                       "fisherman. CLARA, his daughter. WALTER, a stranger."),
                 block(Kind::pageBreak), block(Kind::heading, "ACT ONE")};
    // A test's size, not a real show's: ten thousand pages at most.
    const auto target = static_cast<std::size_t>(std::clamp(pages - 1, 1, 10000) * wordsPerPage);
    bool twoColumnsDone = false, actTwo = false;
    int scene = 0;
    while (wordsOf(play) < target) {
        if (!twoColumnsDone && wordsOf(play) > target * 35 / 100) {
            // Verses that fill the page's first column and most of its second.
            twoColumnsDone = true;
            play.insert(play.end(),
                        {block(Kind::pageBreak), block(Kind::twoColumns), block(Kind::heading, "The Lantern Song")});
            const auto columnWords = static_cast<std::size_t>(0.75 * wordsPerPage);
            for (const std::size_t start = wordsOf(play); wordsOf(play) - start < columnWords;)
                play.push_back({Kind::speech, rng.pick(speakers), sentences(rng, 1)});
            play.push_back(block(Kind::oneColumn));
        }
        if (!actTwo && wordsOf(play) > target * 55 / 100) {
            actTwo = true;
            scene = 0;
            play.insert(play.end(), {block(Kind::pageBreak), block(Kind::heading, "ACT TWO")});
        }
        play.insert(play.end(), {block(Kind::heading, "Scene " + std::to_string(++scene)), direction()});
        const int speeches = 8 + rng.below(11);
        for (int s = 0; s < speeches && wordsOf(play) < target; ++s) {
            const int count = rng.below(100) < 10 ? 4 + rng.below(4) : 1 + rng.below(3);
            play.push_back({Kind::speech, rng.pick(speakers), sentences(rng, count)});
            if (rng.chance(15)) play.push_back(direction());
        }
    }
    play.push_back(block(Kind::plain, "END OF PLAY"));
    return play;
}

}  // namespace

void setPlay(const Play& play, const std::filesystem::path& pdf) {
    // Each kind's request, and what its words are set in.
    constexpr const char* requests[] = {".TL\n", ".LP\n", ".SH\n", ".LP\n\\fI", ".LP\n\\fB", ".bp", ".2C", ".1C"};
    std::string source = ".\\\" A play made by the carry tests.\n";
    for (const PlayBlock& b : play)
        source += requests[static_cast<int>(b.kind)] + (b.speaker.empty() ? "" : b.speaker + ".\\fP  ") +
                  joined(b.words) + (b.kind == Kind::direction ? "\\fP\n" : "\n");
    std::filesystem::path ms = pdf;
    writeText(ms.replace_extension(".ms"), source);
    const char* argv[] = {"sh", "-c", "exec groff -Tpdf -ms \"$0\" > \"$1\"", ms.c_str(), pdf.c_str(), nullptr};
    gchar* complaint = nullptr;
    gint status = -1;
    g_spawn_sync(nullptr, const_cast<gchar**>(argv), nullptr, G_SPAWN_SEARCH_PATH, nullptr, nullptr, nullptr,
                 &complaint, &status, nullptr);
    const std::string errors = complaint ? std::string(complaint).substr(0, 2000) : "";
    g_free(complaint);
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0)
        throw std::runtime_error("groff -Tpdf -ms failed on " + ms.string() +
                                 " (scripts/install-deps installs groff): " + errors);
}

Play writePlay(int pages, std::uint32_t seed, const std::filesystem::path& pdf) {
    // groff decides the pages: the words a page holds are corrected until the count is near.
    double wordsPerPage = 480;
    Play play;
    for (int attempt = 0; attempt < 4; ++attempt) {
        setPlay(play = makePlay(pages, seed, wordsPerPage), pdf);
        DocumentStore store;
        const int set = store.open(pdf) ? store.pageCount().value_or(0) : 0;
        if (set < 1) throw std::runtime_error("groff made a PDF that does not open: " + pdf.string());
        if (std::abs(set - pages) <= std::max(1, pages / 50)) break;
        wordsPerPage *= static_cast<double>(pages) / set;
    }
    return play;
}

std::string spanText(const Play& play, const PlaySpan& span) {
    if (span.block < 0 || span.block >= static_cast<int>(play.size())) return {};
    const PlayBlock& b = play[static_cast<std::size_t>(span.block)];
    const std::string words =
        joined(b.words, static_cast<std::size_t>(span.first), static_cast<std::size_t>(span.first + span.count));
    return !span.withSpeaker ? words : words.empty() ? b.speaker + "." : b.speaker + ". " + words;
}

std::string folded(const std::string& text) { return DocumentStore::searchKey(text).value_or(text); }

PrintedWords printedWords(DocumentStore& store) {
    PrintedWords out;
    for (int page = 0; page < store.pageCount().value_or(0); ++page) {
        const std::vector<DocumentStore::PageWord> words = store.pageWords(page);
        std::size_t start = 0;
        std::string head;
        while (start < words.size() && words[start].line == words.front().line) head += words[start++].text;
        for (std::size_t i = DocumentStore::looksLikePageNumber(head) ? start : 0; i < words.size(); ++i) {
            out.words.push_back({page, words[i], out.keys.size()});
            out.keys += folded(words[i].text);
        }
    }
    return out;
}

std::vector<Located> locate(DocumentStore& store, const PrintedWords& printed, const std::string& phrase) {
    const std::string key = folded(phrase);
    const auto& words = printed.words;
    std::optional<std::pair<std::size_t, std::size_t>> run;
    for (std::size_t at = key.empty() ? std::string::npos : printed.keys.find(key); at != std::string::npos;
         at = printed.keys.find(key, at + 1)) {
        // Whole words only: some word starts where it starts, and where it ends.
        const auto first = std::ranges::upper_bound(words, at, {}, &PrintedWords::Word::key) - 1;
        const auto end = std::ranges::lower_bound(words, at + key.size(), {}, &PrintedWords::Word::key);
        if (first->key != at || (end != words.end() && end->key != at + key.size())) continue;
        if (run) return {};
        run = {static_cast<std::size_t>(first - words.begin()), static_cast<std::size_t>(end - words.begin()) - 1};
    }
    std::vector<Located> parts;
    for (std::size_t i = run ? run->first : 1; run && i <= run->second; ++i) {
        if (i == run->first || words[i].page != words[i - 1].page) parts.push_back({words[i].page, {}, i, i});
        parts.back().last = i;
    }
    for (Located& part : parts) {
        const ViewFraction& a = words[part.first].word.rect;
        const ViewFraction& b = words[part.last].word.rect;
        const auto selection = store.textSelection(part.page, {a.x + 0.1 * a.width, a.y + a.height / 2},
                                                   {b.maxX() - 0.1 * b.width, b.y + b.height / 2}, true);
        const std::size_t from = words[part.first].key;
        const std::size_t to = part.last + 1 < words.size() ? words[part.last + 1].key : printed.keys.size();
        if (!selection || folded(selection->text) != printed.keys.substr(from, to - from)) return {};
        part.selection = *selection;
    }
    return parts;
}

namespace {

// The record with the box `r`.
template <class Record>
Record placed(Record record, const ViewFraction& r) {
    std::tie(record.x, record.y, record.w, record.h) = std::tuple(r.x, r.y, r.width, r.height);
    return record;
}

// Marks an operator would make, on phrases drawn from the play.
class Marker {
public:
    Marker(DocumentStore& store, const Play& play, std::uint32_t seed)
        : store_(store), play_(play), printed_(printedWords(store)), rng_(seed) {
        bool columns = false;
        for (std::size_t i = 0; i < play.size(); ++i) {
            columns = play[i].kind == Kind::twoColumns || (columns && play[i].kind != Kind::oneColumn);
            if (play[i].kind != Kind::speech && play[i].kind != Kind::direction) continue;
            (columns ? columnBlocks_ : textBlocks_).push_back(static_cast<int>(i));
            if (!columns && play[i].kind == Kind::speech) speeches_.push_back(static_cast<int>(i));
        }
    }

    // A cue on 3 to 6 words of one line; the two-column page holds a few,
    // however many there are; every fourth is long enough for a revision to
    // change its last two words and leave most.
    void cue(int n) {
        const int length = n % 4 == 1 ? 5 + rng_.below(2) : 3 + rng_.below(3);
        const auto at = onWords(n % 6 == 5 && n < 30 && !columnBlocks_.empty() ? columnBlocks_ : textBlocks_, length,
                                /*oneLine=*/true);
        if (!at) return;
        const DocumentStore::Selection& s = at->selection;
        Cue cue = placed(Cue{.number = std::to_string(out_.sidecar.cues.size() + 1), .page = at->page}, s.rect);
        std::tie(cue.labelX, cue.snippet, cue.padL, cue.padR) = std::tuple(s.lineEnd, s.text, s.gapL, s.gapR);
        made("cue", out_.sidecar.cues.emplace_back(cue).id, {}, at->span, *at);
    }

    // One mark per line of a drag over 8 to 16 words, one group; the first keeps the words.
    void textMark(const std::string& kind) {
        const auto at = onWords(speeches_, 8 + rng_.below(9), /*oneLine=*/false);
        const std::string group = makeUUID();
        for (std::size_t k = 0; at && k < at->selection.lines.size(); ++k) {
            const Mark mark{.page = at->page, .kind = kind, .text = k ? "" : at->selection.text, .group = group};
            const std::string& id = out_.sidecar.marks.emplace_back(placed(mark, at->selection.lines[k])).id;
            if (k == 0) made("mark", id, kind, at->span, *at);
        }
    }

    // A region round a speech, a flag or memo by its first line or a line
    // inserted under its last; each on a speech of its own.
    void besideText(const std::string& kind) {
        const bool foot = kind == "insert";
        for (int attempt = 0; attempt < 80 && !speeches_.empty(); ++attempt) {
            const int b = rng_.pick(speeches_), words = wordsIn(b);
            const auto speech = besideText_.contains(b) ? std::nullopt : one({b, 0, words, true});
            if (!speech) continue;
            std::size_t lo = foot ? speech->last : speech->first, hi = lo;
            const auto& w = printed_.words;
            while (lo > speech->first && w[lo - 1].word.line == w[lo].word.line) --lo;
            while (hi < speech->last && w[hi + 1].word.line == w[hi].word.line) ++hi;
            // The line's words are the span's when found there whole: no word broken at its edge.
            const int n = static_cast<int>(hi - lo + 1);
            const PlaySpan span = !foot       ? PlaySpan{b, 0, n - 1, true}
                                  : n > words ? PlaySpan{b, 0, words, true}  // a speech of one line
                                              : PlaySpan{b, words - n, n, false};
            const auto line = span.count > 0 ? one(span) : std::nullopt;
            if (!line || line->first != lo || line->last != hi) continue;
            const ViewFraction& r = line->selection.rect;
            const ViewFraction& s = speech->selection.rect;
            // An inserted line goes in the gap to the next line.
            const bool next = hi + 1 < w.size() && w[hi + 1].page == line->page;
            const double afterY =
                next ? (r.maxY() + w[hi + 1].word.rect.y) / 2 : std::min(1.0, r.maxY() + r.height / 2);
            const int page = line->page;
            CueSidecar& out = out_.sidecar;
            std::string id;
            auto keep = [&](auto& list, const auto& record) { id = list.emplace_back(record).id; };
            if (kind == "region") keep(out.marks, placed(Mark{.page = page, .kind = kind}, s));
            if (kind == "flag") keep(out.flags, Flag{.page = page, .x = std::max(0.01, r.x - 0.04), .y = r.y});
            if (kind == "memo")
                keep(out.memos, placed(Memo{.page = page}, {0.01, r.y, std::max(0.02, r.x - 0.02), 0.03}));
            if (foot)
                keep(out.inserts,
                     Insert{.page = page, .afterY = afterY, .lineMidY = afterY, .lineH = r.height, .x = r.x});
            besideText_.insert(b);
            made(kind == "region" ? "mark" : kind, id, kind == "region" ? kind : "", span, *line);
            return;
        }
    }

    // Notes on pages a speech or direction starts or runs onto, made on the
    // page's first words (after its number); each note's text its own.
    void pageNotes(int count) {
        const std::size_t start = static_cast<std::size_t>(rng_.below(textBlocks_.size()));
        for (std::size_t k = 0; k < textBlocks_.size() && count > 0; ++k) {
            const int b = textBlocks_[(start + k) % textBlocks_.size()];
            const bool speaker = !play_[static_cast<std::size_t>(b)].speaker.empty();
            const auto parts = locate(store_, printed_, spanText(play_, {b, 0, wordsIn(b), speaker}));
            for (const Located& part : parts) {
                const int before = static_cast<int>(part.first - parts[0].first) - (speaker ? 1 : 0);
                const PlaySpan span = before < 0 ? PlaySpan{b, 0, 6, true} : PlaySpan{b, before, 7, false};
                const bool head = part.first == 0 || printed_.words[part.first - 1].page != part.page;
                const auto at = head && span.first + span.count <= wordsIn(b) ? one(span) : std::nullopt;
                if (!at || at->first != part.first || count == 0) continue;
                const std::string id = std::to_string(at->page);
                out_.sidecar.pageTexts[id] = "Sound: check the rain track (note " + std::to_string(count--) + ")";
                made("pageText", id, {}, span, *at);
            }
        }
    }

    OperatorMarks take() { return std::move(out_); }

private:
    struct Found : Located {
        PlaySpan span;
    };

    int wordsIn(int block) const { return static_cast<int>(play_[static_cast<std::size_t>(block)].words.size()); }

    // The span found once, in one piece.
    std::optional<Located> one(const PlaySpan& span) const {
        std::vector<Located> parts = locate(store_, printed_, spanText(play_, span));
        return parts.size() == 1 ? std::optional(std::move(parts[0])) : std::nullopt;
    }

    // `length` words of a block from `blocks`, now and then the speaker's name among them, on one line or (mostly,
    // as drags that cross a line end are the ones worth carrying) more.
    std::optional<Found> onWords(const std::vector<int>& blocks, int length, bool oneLine) {
        for (int attempt = 0; attempt < 60 && !blocks.empty(); ++attempt) {
            const int b = rng_.pick(blocks), words = wordsIn(b);
            if (words < length) continue;
            PlaySpan span{b, rng_.below(static_cast<std::size_t>(words - length + 1)), length, false};
            if (play_[static_cast<std::size_t>(b)].kind == Kind::speech && span.first == 0 && rng_.chance(30))
                span = {b, 0, length - 1, true};
            const auto at = one(span);
            const std::size_t lines = at ? at->selection.lines.size() : 0;
            if (oneLine ? lines == 1 : lines > 1 || (at && attempt >= 40)) return Found{*at, span};
        }
        return std::nullopt;
    }

    void made(const std::string& kind, const std::string& id, const std::string& markKind, const PlaySpan& span,
              const Located& at) {
        out_.records.push_back({kind, id, markKind, span, spanText(play_, span), at.page, at.selection.rect});
    }

    DocumentStore& store_;
    const Play& play_;
    const PrintedWords printed_;
    Rng rng_;
    std::vector<int> textBlocks_, columnBlocks_, speeches_;
    std::set<int> besideText_;
    OperatorMarks out_;
};

// The play with `blocks` put after the first block of kind `after`; every later block moves.
RevisedPlay inserted(const Play& play, Kind after, const std::vector<PlayBlock>& blocks) {
    const auto at = static_cast<std::size_t>(std::ranges::find(play, after, &PlayBlock::kind) - play.begin()) + 1;
    RevisedPlay out{play, {}, {}};
    out.play.insert(out.play.begin() + static_cast<std::ptrdiff_t>(std::min(at, play.size())), blocks.begin(),
                    blocks.end());
    for (std::size_t i = 0; i < play.size(); ++i)
        out.blockMap.push_back(static_cast<int>(i < at ? i : i + blocks.size()));
    return out;
}

}  // namespace

OperatorMarks markPlay(DocumentStore& store, const Play& play, const MarkCounts& counts) {
    Marker marker(store, play, counts.seed);
    for (int n = 0; n < counts.cues; ++n) marker.cue(n);
    for (int n = 0; n < counts.textMarks; ++n) marker.textMark(splitWords("highlight cut hide")[n % 3]);
    for (int n = 0; n < counts.besideText; ++n) marker.besideText(splitWords("region flag memo insert")[n % 4]);
    marker.pageNotes(counts.pageNotes);
    return marker.take();
}

std::string revisionName(Revision revision) {
    return splitWords("insertedParagraph cutSpeech changedWords renamedCharacter frontMatter")
        .at(static_cast<std::size_t>(revision));
}

RevisedPlay revise(const Play& play, Revision revision, const OperatorMarks& marks) {
    RevisedPlay out{play, std::vector<int>(play.size()), {}};
    Rng rng(0x5eed1234u);
    std::iota(out.blockMap.begin(), out.blockMap.end(), 0);
    switch (revision) {
        case Revision::insertedParagraph:
            return inserted(play, Kind::speech, {{Kind::speech, "THOMAS", sentences(rng, 7)}});
        case Revision::frontMatter:
            return inserted(play, Kind::pageBreak,
                            {block(Kind::heading, "NOTES ON THIS DRAFT"),
                             {Kind::plain, {}, sentences(rng, 4)},
                             {Kind::plain, {}, sentences(rng, 4)},
                             block(Kind::pageBreak)});
        case Revision::cutSpeech: {
            // The speech most records stand on, so the cut leaves several to review.
            std::map<int, int> records;
            for (const MadeRecord& r : marks.records)
                if (r.span.block >= 0 && play[static_cast<std::size_t>(r.span.block)].kind == Kind::speech)
                    ++records[r.span.block];
            if (records.empty()) return out;
            const int cut = std::ranges::max_element(records, {}, &std::pair<const int, int>::second)->first;
            out.play.erase(out.play.begin() + cut);
            for (int& b : out.blockMap) b = b == cut ? -1 : b > cut ? b - 1 : b;
            return out;
        }
        case Revision::changedWords:
            // A cue of five words or more.
            for (const MadeRecord& r : marks.records) {
                if (r.kind != "cue" || r.span.count < 5 || r.span.withSpeaker) continue;
                for (int k = r.span.first + r.span.count - 2; k < r.span.first + r.span.count; ++k) {
                    // The letters replaced, the punctuation round them kept.
                    std::string& word =
                        out.play[static_cast<std::size_t>(r.span.block)].words[static_cast<std::size_t>(k)];
                    const std::size_t a = std::min(word.find_first_not_of("(),.?!"), word.size());
                    const std::size_t z = std::max(word.find_last_not_of("(),.?!") + 1, a);
                    std::string replacement = rng.pick(plainWords);
                    while (folded(replacement) == folded(word.substr(a, z - a))) replacement = rng.pick(plainWords);
                    word = word.substr(0, a) + replacement + word.substr(z);
                }
                out.changedCue = r.id;
                break;
            }
            return out;
        case Revision::renamedCharacter:
            for (PlayBlock& b : out.play) {
                if (b.speaker == "MARTHA") b.speaker = "MARGARET";
                for (std::string& word : b.words)
                    for (const auto& [from, to] : {std::pair{"MARTHA", "MARGARET"}, std::pair{"Martha", "Margaret"}})
                        if (const std::size_t at = word.find(from); at != std::string::npos) word.replace(at, 6, to);
            }
            return out;
    }
    return out;
}

std::optional<std::string> revisedText(const RevisedPlay& revised, const PlaySpan& span) {
    if (span.block < 0 || span.block >= static_cast<int>(revised.blockMap.size())) return std::nullopt;
    const int block = revised.blockMap[static_cast<std::size_t>(span.block)];
    if (block < 0) return std::nullopt;
    return spanText(revised.play, {block, span.first, span.count, span.withSpeaker});
}

}  // namespace tallowmark::testing
