#include "support/revision_scripts.hpp"

#include <fcntl.h>
#include <poppler.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <map>
#include <numeric>
#include <set>
#include <stdexcept>

#include "support/temp_dir.hpp"

extern char** environ;

namespace tallowmark::testing {

namespace {

// xorshift32: the same play on every machine and library, unlike the standard distributions.
class Rng {
public:
    explicit Rng(std::uint32_t seed) : state_(seed ? seed : 2463534242u) {}
    std::uint32_t next() {
        state_ ^= state_ << 13;
        state_ ^= state_ >> 17;
        state_ ^= state_ << 5;
        return state_;
    }
    int below(int n) { return n > 0 ? static_cast<int>(next() % static_cast<std::uint32_t>(n)) : 0; }
    bool chance(int percent) { return below(100) < percent; }
    template <class T, std::size_t N>
    const T& pick(const std::array<T, N>& list) {
        return list[static_cast<std::size_t>(below(static_cast<int>(N)))];
    }

private:
    std::uint32_t state_;
};

// Common words come often and names recur, as in a real script; the rest
// are drawn from some two hundred, so a run of three or four words is rarely
// repeated while single words and pairs are, often.
constexpr auto commonWords = std::to_array<const char*>(
    {"the",  "and",  "a",    "to",  "of",  "I",  "you", "it",  "is",    "in",   "that", "not", "we", "my",
     "your", "be",   "with", "for", "but", "he", "she", "was", "all",   "so",   "what", "no",  "at", "on",
     "this", "have", "me",   "her", "him", "if", "do",  "are", "there", "will", "now",  "here"});
constexpr auto plainWords = std::to_array<const char*>(
    {"storm",   "harbour", "lantern",  "window",   "letter",    "candle",  "door",     "light",      "sea",
     "boat",    "rope",    "salt",     "bread",    "kettle",    "table",   "chair",    "stair",      "tower",
     "lamp",    "oil",     "wick",     "glass",    "night",     "morning", "evening",  "winter",     "summer",
     "coat",    "boots",   "key",      "lock",     "clock",     "bell",    "shore",    "rocks",      "gulls",
     "wind",    "rain",    "fog",      "cliff",    "path",      "village", "church",   "market",     "money",
     "debt",    "promise", "secret",   "father",   "mother",    "brother", "sister",   "husband",    "child",
     "doctor",  "captain", "keeper",   "stranger", "neighbour", "friend",  "enemy",    "ghost",      "voice",
     "silence", "music",   "song",     "dance",    "story",     "truth",   "lie",      "reason",     "fear",
     "hope",    "anger",   "grief",    "luck",     "trouble",   "matter",  "question", "answer",     "minute",
     "hour",    "year",    "week",     "supper",   "tea",       "whisky",  "pipe",     "map",        "chart",
     "compass", "engine",  "signal",   "flare",    "wreck",     "tide",    "current",  "anchor",     "deck",
     "mast",    "sail",    "oar",      "net",      "fish",      "basket",  "blanket",  "fire",       "smoke",
     "ash",     "iron",    "stone",    "wood",     "paint",     "ink",     "paper",    "book",       "prayer",
     "wedding", "funeral", "train",    "station",  "road",      "bridge",  "river",    "field",      "garden",
     "gate",    "fence",   "dog",      "horse",    "cart",      "wheel",   "bucket",   "well",       "cellar",
     "attic",   "roof",    "chimney",  "floor",    "wall",      "curtain", "mirror",   "photograph", "portrait",
     "ring",    "watch",   "coin",     "purse",    "knife",     "spoon",   "cup",      "plate",      "bottle",
     "cork",    "thread",  "needle",   "button",   "collar",    "sleeve",  "glove",    "hat",        "scarf",
     "shadow",  "dream",   "memory",   "name",     "word",      "message", "telegram", "parcel",     "envelope",
     "listen",  "wait",    "remember", "forget",   "carry",     "hold",    "follow",   "leave",      "return",
     "climb",   "fall",    "burn",     "break",    "mend",      "sing",    "whisper",  "shout",      "laugh",
     "weep",    "pray",    "lie",      "steal",    "hide",      "find",    "lose",     "keep",       "sell",
     "buy",     "owe",     "quiet",    "cold",     "dark",      "bright",  "old",      "young",      "tired",
     "brave",   "foolish", "careful",  "strange",  "heavy",     "empty",   "broken",   "crooked",    "gentle",
     "bitter",  "sweet",   "late"});
// MARTHA speaks most, and is renamed by one revision.
constexpr auto speakers = std::to_array<const char*>(
    {"MARTHA", "MARTHA", "MARTHA", "THOMAS", "THOMAS", "EDWIN", "CLARA", "CLARA", "WALTER", "MARTHA"});
constexpr auto names = std::to_array<const char*>({"MARTHA", "THOMAS", "EDWIN", "CLARA", "WALTER"});

std::string capitalized(std::string word) {
    if (!word.empty() && word[0] >= 'a' && word[0] <= 'z') word[0] = static_cast<char>(word[0] - 'a' + 'A');
    return word;
}

std::string titleCase(const std::string& name) {
    std::string out = name;
    for (std::size_t i = 1; i < out.size(); ++i)
        if (out[i] >= 'A' && out[i] <= 'Z') out[i] = static_cast<char>(out[i] - 'A' + 'a');
    return out;
}

class Writer {
public:
    explicit Writer(std::uint32_t seed) : rng_(seed) {}

    // A sentence; in a stage direction the names are in capitals.
    std::vector<std::string> sentence(bool direction) {
        std::vector<std::string> words;
        const int length = 4 + rng_.below(11);
        for (int i = 0; i < length; ++i) {
            std::string word;
            const int roll = rng_.below(100);
            if (roll < 42)
                word = rng_.pick(commonWords);
            else if (roll < 47)
                word = direction ? std::string(rng_.pick(names)) : titleCase(rng_.pick(names));
            else
                word = rng_.pick(plainWords);
            if (i + 1 < length && i > 1 && rng_.chance(8)) word += ",";
            words.push_back(std::move(word));
        }
        words.front() = capitalized(words.front());
        const int end = rng_.below(100);
        words.back() += direction || end < 75 ? "." : end < 93 ? "?" : "!";
        return words;
    }

    std::vector<std::string> speechWords(int sentences) {
        std::vector<std::string> words;
        for (int s = 0; s < sentences; ++s) {
            const auto more = sentence(false);
            words.insert(words.end(), more.begin(), more.end());
        }
        return words;
    }

    PlayBlock speech() {
        const int roll = rng_.below(100);
        const int sentences = roll < 10 ? 4 + rng_.below(4) : 1 + rng_.below(3);
        return {PlayBlock::Kind::speech, rng_.pick(speakers), speechWords(sentences)};
    }

    PlayBlock direction() {
        std::vector<std::string> words = sentence(true);
        if (rng_.chance(30)) {
            const auto more = sentence(true);
            words.insert(words.end(), more.begin(), more.end());
        }
        words.front() = "(" + words.front();
        words.back() += ")";
        return {PlayBlock::Kind::direction, {}, std::move(words)};
    }

    Rng& rng() { return rng_; }

private:
    Rng rng_;
};

std::vector<std::string> splitWords(const std::string& text) {
    std::vector<std::string> words;
    std::string word;
    for (const char c : text) {
        if (c == ' ') {
            if (!word.empty()) words.push_back(std::move(word));
            word.clear();
        } else {
            word += c;
        }
    }
    if (!word.empty()) words.push_back(std::move(word));
    return words;
}

PlayBlock block(PlayBlock::Kind kind, const std::string& text = {}) { return {kind, {}, splitWords(text)}; }

std::size_t wordsOf(const std::vector<PlayBlock>& blocks) {
    std::size_t count = 0;
    for (const PlayBlock& b : blocks) count += b.words.size() + (b.speaker.empty() ? 0 : 1);
    return count;
}

// The play at about `wordsPerPage` words a page.
Play makePlayAt(const PlaySize& size, double wordsPerPage) {
    Writer writer(size.seed);
    Play play;
    auto& blocks = play.blocks;
    blocks.push_back(block(PlayBlock::Kind::title, "THE LANTERN KEEPER"));
    blocks.push_back(block(PlayBlock::Kind::byline, "A play in two acts"));
    blocks.push_back(block(PlayBlock::Kind::plain, "Rehearsal draft."));
    blocks.push_back(block(PlayBlock::Kind::plain,
                           "CHARACTERS: MARTHA, keeper of the light. THOMAS, her brother. EDWIN, a fisherman. "
                           "CLARA, his daughter. WALTER, a stranger."));
    blocks.push_back(block(PlayBlock::Kind::pageBreak));

    // A test's size, not a real show's: ten thousand pages at most.
    const auto target = static_cast<std::size_t>(std::clamp(size.pages - 1, 1, 10000) * wordsPerPage);
    // Words that fill the two-column page's first column and most of its second.
    const auto columnWords = static_cast<std::size_t>(0.75 * wordsPerPage);
    bool twoColumnsDone = false, actTwo = false;
    int scene = 0;
    blocks.push_back(block(PlayBlock::Kind::heading, "ACT ONE"));
    while (wordsOf(blocks) < target) {
        if (!twoColumnsDone && wordsOf(blocks) > target * 35 / 100) {
            twoColumnsDone = true;
            blocks.push_back(block(PlayBlock::Kind::pageBreak));
            blocks.push_back(block(PlayBlock::Kind::twoColumns));
            blocks.push_back(block(PlayBlock::Kind::heading, "The Lantern Song"));
            const std::size_t start = wordsOf(blocks);
            while (wordsOf(blocks) - start < columnWords) {
                PlayBlock verse{PlayBlock::Kind::speech, writer.rng().pick(speakers), writer.speechWords(1)};
                blocks.push_back(std::move(verse));
            }
            blocks.push_back(block(PlayBlock::Kind::oneColumn));
        }
        if (!actTwo && wordsOf(blocks) > target * 55 / 100) {
            actTwo = true;
            scene = 0;
            blocks.push_back(block(PlayBlock::Kind::pageBreak));
            blocks.push_back(block(PlayBlock::Kind::heading, "ACT TWO"));
        }
        blocks.push_back(block(PlayBlock::Kind::heading, "Scene " + std::to_string(++scene)));
        blocks.push_back(writer.direction());
        const int speeches = 8 + writer.rng().below(11);
        for (int s = 0; s < speeches && wordsOf(blocks) < target; ++s) {
            blocks.push_back(writer.speech());
            if (writer.rng().chance(15)) blocks.push_back(writer.direction());
        }
    }
    blocks.push_back(block(PlayBlock::Kind::plain, "END OF PLAY"));
    return play;
}

constexpr double firstWordsPerPage = 480;

std::string joined(const std::vector<std::string>& words, std::size_t from = 0, std::size_t to = std::string::npos) {
    std::string text;
    for (std::size_t i = from; i < std::min(to, words.size()); ++i) text += (text.empty() ? "" : " ") + words[i];
    return text;
}

// The output of a child that failed, for the message.
std::string tail(const std::string& text) { return text.size() > 2000 ? text.substr(text.size() - 2000) : text; }

}  // namespace

Play makePlay(const PlaySize& size) { return makePlayAt(size, firstWordsPerPage); }

std::string groffSource(const Play& play) {
    std::string source = ".\\\" A play made by the carry tests.\n";
    for (const PlayBlock& b : play.blocks) {
        const std::string text = joined(b.words);
        switch (b.kind) {
            case PlayBlock::Kind::title: source += ".TL\n" + text + "\n"; break;
            case PlayBlock::Kind::byline: source += ".AU\n" + text + "\n"; break;
            case PlayBlock::Kind::plain: source += ".LP\n" + text + "\n"; break;
            case PlayBlock::Kind::heading: source += ".SH\n" + text + "\n"; break;
            case PlayBlock::Kind::direction: source += ".LP\n\\fI" + text + "\\fP\n"; break;
            case PlayBlock::Kind::speech: source += ".LP\n\\fB" + b.speaker + ".\\fP  " + text + "\n"; break;
            case PlayBlock::Kind::pageBreak: source += ".bp\n"; break;
            case PlayBlock::Kind::twoColumns: source += ".2C\n"; break;
            case PlayBlock::Kind::oneColumn: source += ".1C\n"; break;
        }
    }
    return source;
}

void setPlay(const Play& play, const std::filesystem::path& pdf) {
    std::filesystem::path source = pdf, errors = pdf;
    source.replace_extension(".ms");
    errors.replace_extension(".groff-errors");
    writeText(source, groffSource(play));

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 1, pdf.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    posix_spawn_file_actions_addopen(&actions, 2, errors.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    std::string a0 = "groff", a1 = "-Tpdf", a2 = "-ms", a3 = source.string();
    char* argv[] = {a0.data(), a1.data(), a2.data(), a3.data(), nullptr};
    pid_t pid = 0;
    const int spawned = posix_spawnp(&pid, "groff", &actions, nullptr, argv, environ);
    posix_spawn_file_actions_destroy(&actions);
    if (spawned == ENOENT)
        throw std::runtime_error(
            "groff is not installed (it sets the revised-script fixtures): install the "
            "groff package, as scripts/install-deps does");
    if (spawned != 0) throw std::runtime_error(std::string("groff could not be started: ") + std::strerror(spawned));
    int status = 0;
    while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    const std::string complaint = readText(errors);
    std::error_code ignored;
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0 || std::filesystem::file_size(pdf, ignored) == 0)
        throw std::runtime_error("groff -Tpdf -ms failed on " + source.string() + ": " + tail(complaint));
    std::filesystem::remove(errors, ignored);
}

int pdfPageCount(const std::filesystem::path& pdf) {
    gchar* uri = g_filename_to_uri(std::filesystem::absolute(pdf).c_str(), nullptr, nullptr);
    if (!uri) return 0;
    PopplerDocument* document = poppler_document_new_from_file(uri, nullptr, nullptr);
    g_free(uri);
    if (!document) return 0;
    const int pages = poppler_document_get_n_pages(document);
    g_object_unref(document);
    return pages;
}

Play writePlay(const PlaySize& size, const std::filesystem::path& pdf) {
    double wordsPerPage = firstWordsPerPage;
    Play play;
    for (int attempt = 0; attempt < 4; ++attempt) {
        play = makePlayAt(size, wordsPerPage);
        setPlay(play, pdf);
        const int pages = pdfPageCount(pdf);
        if (pages < 1) throw std::runtime_error("groff made a PDF poppler cannot read: " + pdf.string());
        if (std::abs(pages - size.pages) <= std::max(1, size.pages / 50)) break;
        wordsPerPage *= static_cast<double>(size.pages) / pages;
    }
    return play;
}

std::string spanText(const Play& play, const PlaySpan& span) {
    if (span.block < 0 || span.block >= static_cast<int>(play.blocks.size())) return {};
    const PlayBlock& b = play.blocks[static_cast<std::size_t>(span.block)];
    std::string text = span.withSpeaker ? b.speaker + "." : std::string();
    const std::string words =
        joined(b.words, static_cast<std::size_t>(span.first), static_cast<std::size_t>(span.first + span.count));
    return text.empty() ? words : words.empty() ? text : text + " " + words;
}

std::string folded(const std::string& text) { return DocumentStore::searchKey(text).value_or(text); }

namespace {

// A drag from word `first` to word `last` of the page, kept when it reads as `key`.
std::optional<Located> dragged(DocumentStore& store, int page, std::vector<DocumentStore::PageWord> words,
                               std::size_t first, std::size_t last, const std::string& key) {
    Located at;
    at.page = page;
    at.words = std::move(words);
    at.first = first;
    at.last = last;
    const ViewFraction& a = at.words[first].rect;
    const ViewFraction& b = at.words[last].rect;
    const auto selection = store.textSelection(page, {a.x + 0.1 * a.width, a.y + a.height / 2},
                                               {b.maxX() - 0.1 * b.width, b.y + b.height / 2}, true);
    if (!selection || folded(selection->text) != key) return std::nullopt;
    at.selection = *selection;
    at.hit = {page, selection->rect, selection->text, selection->lineEnd};
    return at;
}

// The page's first word below its number, if it prints one at the head.
std::size_t firstBodyWord(const std::vector<DocumentStore::PageWord>& words) {
    std::size_t start = 0;
    std::string head;
    while (start < words.size() && words[start].line == words.front().line) head += words[start++].text;
    return DocumentStore::looksLikePageNumber(head) ? start : 0;
}

}  // namespace

namespace {

// The runs of `words` from `from` that read as `key` and start inside `area` (any, without one).
std::vector<std::pair<std::size_t, std::size_t>> runsOf(const std::vector<DocumentStore::PageWord>& words,
                                                        const std::string& key,
                                                        const std::optional<ViewFraction>& area) {
    std::vector<std::pair<std::size_t, std::size_t>> runs;
    constexpr double slack = 0.002;
    for (std::size_t i = 0; i < words.size(); ++i) {
        const ViewFraction& w = words[i].rect;
        const double cx = w.x + w.width / 2, cy = w.y + w.height / 2;
        if (area && (cx < area->minX() - slack || cx > area->maxX() + slack || cy < area->minY() - slack ||
                     cy > area->maxY() + slack))
            continue;
        std::string run;
        for (std::size_t j = i; j < words.size(); ++j) {
            run += folded(words[j].text);
            if (key.compare(0, run.size(), run) != 0) break;
            if (run.size() == key.size()) {
                runs.emplace_back(i, j);
                break;
            }
        }
    }
    return runs;
}

}  // namespace

std::optional<Located> locatePhrase(DocumentStore& store, const std::string& phrase, bool hyphens) {
    const std::string key = folded(phrase);
    const std::vector<DocumentStore::SearchHit> hits = store.search(phrase, 2);
    if (hits.size() == 1) {
        std::vector<DocumentStore::PageWord> words = store.pageWords(hits[0].page);
        const auto runs = runsOf(words, key, hits[0].rect);
        if (runs.empty()) return std::nullopt;
        auto at = dragged(store, hits[0].page, std::move(words), runs[0].first, runs[0].second, key);
        if (at) at->hit = hits[0];
        return at;
    }
    if (!hits.empty() || !hyphens || key.size() < 2) return std::nullopt;
    std::optional<Located> found;
    for (int page = 0; page < store.pageCount().value_or(0); ++page) {
        std::vector<DocumentStore::PageWord> words = store.pageWords(page);
        const auto runs = runsOf(words, key, std::nullopt);
        if (runs.empty()) continue;
        if (found || runs.size() > 1) return std::nullopt;
        found = dragged(store, page, std::move(words), runs[0].first, runs[0].second, key);
        if (!found) return std::nullopt;
    }
    return found;
}

std::vector<Located> locateAcrossPages(DocumentStore& store, const std::string& phrase) {
    if (auto whole = locatePhrase(store, phrase, true)) return {std::move(*whole)};
    const std::vector<std::string> words = splitWords(phrase);
    const int pages = store.pageCount().value_or(0);
    for (std::size_t k = 1; k < words.size(); ++k) {
        const std::string head = joined(words, 0, k), tail = joined(words, k);
        // The longer part is found once; the shorter stands at the edge of the page beside it.
        const bool tailLonger = words.size() - k >= k;
        auto found = locatePhrase(store, tailLonger ? tail : head, true);
        if (!found) continue;
        const int other = found->page + (tailLonger ? -1 : 1);
        if (other < 0 || other >= pages) continue;
        const bool atEdge =
            tailLonger ? found->first == firstBodyWord(found->words) : found->last + 1 == found->words.size();
        if (!atEdge) continue;
        std::vector<DocumentStore::PageWord> otherWords = store.pageWords(other);
        const std::string key = folded(tailLonger ? head : tail);
        std::string run;
        std::optional<Located> rest;
        if (tailLonger) {
            for (std::size_t i = otherWords.size(); i-- > 0 && run.size() < key.size();) {
                run = folded(otherWords[i].text) + run;
                if (run == key) rest = dragged(store, other, otherWords, i, otherWords.size() - 1, key);
            }
        } else {
            for (std::size_t i = firstBodyWord(otherWords); i < otherWords.size() && run.size() < key.size(); ++i) {
                run += folded(otherWords[i].text);
                if (run == key) rest = dragged(store, other, otherWords, firstBodyWord(otherWords), i, key);
            }
        }
        if (!rest) continue;
        if (tailLonger) return {std::move(*rest), std::move(*found)};
        return {std::move(*found), std::move(*rest)};
    }
    return {};
}

namespace {

// Marks an operator would make, on phrases drawn from the play.
class Marker {
public:
    Marker(DocumentStore& store, const Play& play, std::uint32_t seed) : store_(store), play_(play), rng_(seed) {
        bool twoColumns = false;
        for (std::size_t i = 0; i < play.blocks.size(); ++i) {
            const PlayBlock& b = play.blocks[i];
            if (b.kind == PlayBlock::Kind::twoColumns) twoColumns = true;
            if (b.kind == PlayBlock::Kind::oneColumn) twoColumns = false;
            if (b.kind != PlayBlock::Kind::speech && b.kind != PlayBlock::Kind::direction) continue;
            (twoColumns ? columnBlocks_ : textBlocks_).push_back(static_cast<int>(i));
            if (!twoColumns && b.kind == PlayBlock::Kind::speech) speeches_.push_back(static_cast<int>(i));
        }
    }

    void cues(int count) {
        for (int n = 0; n < count; ++n) {
            // The one two-column page holds a few, however many there are.
            const bool inColumns = n % 6 == 5 && n < 30 && !columnBlocks_.empty();
            // Every fourth cue is long enough for a revision to change its last words and leave most.
            const int length = n % 4 == 1 ? 5 + rng_.below(2) : 3 + rng_.below(3);
            for (int attempt = 0; attempt < 60; ++attempt) {
                const auto& from = inColumns ? columnBlocks_ : textBlocks_;
                if (from.empty()) return;
                const int b = from[static_cast<std::size_t>(rng_.below(static_cast<int>(from.size())))];
                const PlayBlock& block = play_.blocks[static_cast<std::size_t>(b)];
                const int words = static_cast<int>(block.words.size());
                if (words < length) continue;
                PlaySpan span{b, rng_.below(words - length + 1), length, false};
                if (block.kind == PlayBlock::Kind::speech && span.first == 0 && rng_.chance(30)) {
                    span.withSpeaker = true;
                    span.count = length - 1;
                }
                const std::string phrase = spanText(play_, span);
                if (!used_.insert(phrase).second) continue;
                const auto at = locatePhrase(store_, phrase);
                if (!at || at->selection.lines.size() != 1) continue;
                Cue cue;
                cue.number = std::to_string(out_.sidecar.cues.size() + 1);
                cue.kind = n % 3 == 0 ? "LX" : n % 3 == 1 ? "SND" : "FLY";
                cue.page = at->page;
                cue.x = at->selection.rect.x;
                cue.y = at->selection.rect.y;
                cue.w = at->selection.rect.width;
                cue.h = at->selection.rect.height;
                cue.labelX = at->selection.lineEnd;
                cue.padL = at->selection.gapL;
                cue.padR = at->selection.gapR;
                cue.snippet = at->selection.text;
                out_.records.push_back({"cue", cue.id, {}, span, phrase, at->page});
                out_.sidecar.cues.push_back(std::move(cue));
                break;
            }
        }
    }

    // One mark per line of a drag over 8 to 16 words, one group; the first
    // mark keeps the words.
    void textMarks(const std::string& kind, int count) {
        for (int n = 0; n < count; ++n) {
            for (int attempt = 0; attempt < 60 && !speeches_.empty(); ++attempt) {
                const int b = speeches_[static_cast<std::size_t>(rng_.below(static_cast<int>(speeches_.size())))];
                const int words = static_cast<int>(play_.blocks[static_cast<std::size_t>(b)].words.size());
                const int length = 8 + rng_.below(9);
                if (words < length) continue;
                const PlaySpan span{b, rng_.below(words - length + 1), length, false};
                const std::string phrase = spanText(play_, span);
                if (!used_.insert(phrase).second) continue;
                const auto at = locatePhrase(store_, phrase);
                // Most drags cross a line end; that is the case worth carrying.
                if (!at || (at->selection.lines.size() < 2 && attempt < 40)) continue;
                const std::string group = makeUUID();
                for (std::size_t k = 0; k < at->selection.lines.size(); ++k) {
                    const ViewFraction& r = at->selection.lines[k];
                    Mark mark;
                    mark.page = at->page;
                    mark.x = r.x;
                    mark.y = r.y;
                    mark.w = r.width;
                    mark.h = r.height;
                    mark.kind = kind;
                    mark.text = k == 0 ? at->selection.text : std::string();
                    mark.group = group;
                    if (k == 0) out_.records.push_back({"mark", mark.id, kind, span, phrase, at->page});
                    out_.sidecar.marks.push_back(std::move(mark));
                }
                break;
            }
        }
    }

    // The records beside the text, each on a speech of its own.
    void regions(int count) {
        for (int n = 0; n < count; ++n) {
            const auto line = speechLine(/*last=*/false);
            if (!line) return;
            const PlaySpan whole{
                line->span.block, 0,
                static_cast<int>(play_.blocks[static_cast<std::size_t>(line->span.block)].words.size()), true};
            const auto speech = locatePhrase(store_, spanText(play_, whole));
            if (!speech) continue;
            constexpr double pad = 0.004;
            const ViewFraction& r = speech->selection.rect;
            Mark region;
            region.page = line->page;
            region.x = r.x - pad;
            region.y = r.y - pad;
            region.w = r.width + 2 * pad;
            region.h = r.height + 2 * pad;
            region.kind = "region";
            region.text = "Storm";
            region.color = "#d8391d";
            out_.records.push_back({"mark", region.id, "region", line->span, line->phrase, line->page});
            out_.sidecar.marks.push_back(std::move(region));
        }
    }

    void flags(int count) {
        for (int n = 0; n < count; ++n) {
            const auto line = speechLine(false);
            if (!line) return;
            Flag flag;
            flag.page = line->page;
            flag.x = std::max(0.01, line->rect.x - 0.04);
            flag.y = line->rect.y + line->rect.height / 2;
            flag.text = "standby";
            out_.records.push_back({"flag", flag.id, {}, line->span, line->phrase, line->page});
            out_.sidecar.flags.push_back(std::move(flag));
        }
    }

    void memos(int count) {
        for (int n = 0; n < count; ++n) {
            const auto line = speechLine(false);
            if (!line) return;
            Memo memo;
            memo.page = line->page;
            memo.x = 0.01;
            memo.y = line->rect.y + 0.25 * line->rect.height;
            memo.w = std::max(0.02, line->rect.x - 0.02);
            memo.h = 0.03;
            memo.text = "Check the door is unlatched";
            out_.records.push_back({"memo", memo.id, {}, line->span, line->phrase, line->page});
            out_.sidecar.memos.push_back(std::move(memo));
        }
    }

    // A line inserted under a speech's last line, in the gap to the next line.
    void inserts(int count) {
        for (int n = 0; n < count; ++n) {
            const auto line = speechLine(true);
            if (!line) return;
            const std::vector<ViewFraction> lines = store_.pageLines(line->page);
            const double bottom = line->rect.maxY(), h = line->rect.height;
            double afterY = std::min(1.0, bottom + 0.5 * h);
            for (const ViewFraction& next : lines)
                if (next.y >= bottom - 0.25 * h && next.y < afterY + 0.5 * h)
                    afterY = std::min(afterY, (bottom + next.y) / 2);
            Insert insert;
            insert.page = line->page;
            insert.afterY = afterY;
            insert.lineMidY = afterY;
            insert.lineH = h;
            insert.x = line->rect.x;
            insert.text = "(A door slams off.)";
            out_.records.push_back({"insert", insert.id, {}, line->span, line->phrase, line->page});
            out_.sidecar.inserts.push_back(std::move(insert));
        }
    }

    // A note on a page, made on the page's first words (after its number).
    void pageNotes(int count) {
        const int pages = store_.pageCount().value_or(0);
        std::vector<int> order(static_cast<std::size_t>(std::max(0, pages - 1)));
        std::iota(order.begin(), order.end(), 1);
        for (std::size_t i = order.size(); i > 1; --i)
            std::swap(order[i - 1], order[static_cast<std::size_t>(rng_.below(static_cast<int>(i)))]);
        int made = 0;
        for (const int page : order) {
            if (made == count) break;
            const std::vector<DocumentStore::PageWord> words = store_.pageWords(page);
            const std::size_t start = firstBodyWord(words);
            if (words.size() < start + 7) continue;
            std::vector<std::string> first;
            for (std::size_t k = start; k < start + 7; ++k) first.push_back(words[k].text);
            const auto span = spanOf(first);
            if (!span) continue;
            const std::string phrase = spanText(play_, *span);
            const auto at = locatePhrase(store_, phrase);
            if (!at || at->page != page) continue;
            out_.sidecar.pageTexts[std::to_string(page)] = "Sound: check the rain track before this page";
            out_.records.push_back({"pageText", std::to_string(page), {}, *span, phrase, page});
            ++made;
        }
    }

    OperatorMarks take() { return std::move(out_); }

private:
    struct Line {
        PlaySpan span;
        std::string phrase;
        int page = 0;
        ViewFraction rect;
    };

    // The whole first (or last) line of a speech no other record beside the
    // text stands on; its words are found whole (no word broken at either end).
    std::optional<Line> speechLine(bool last) {
        for (int attempt = 0; attempt < 80 && !speeches_.empty(); ++attempt) {
            const int b = speeches_[static_cast<std::size_t>(rng_.below(static_cast<int>(speeches_.size())))];
            if (!besideText_.insert(b).second) continue;
            const PlayBlock& block = play_.blocks[static_cast<std::size_t>(b)];
            const int words = static_cast<int>(block.words.size());
            const int k = std::min(words, 4);
            const PlaySpan probe = last ? PlaySpan{b, words - k, k, false} : PlaySpan{b, 0, k, true};
            const auto at = locatePhrase(store_, spanText(play_, probe));
            if (!at) {
                besideText_.erase(b);
                continue;
            }
            const std::size_t end = last ? at->last : at->first;
            std::size_t lo = end, hi = end;
            while (lo > 0 && at->words[lo - 1].line == at->words[end].line) --lo;
            while (hi + 1 < at->words.size() && at->words[hi + 1].line == at->words[end].line) ++hi;
            const bool brokenAfter = at->words[hi].text.ends_with("-");
            const bool brokenBefore = lo > 0 && at->words[lo - 1].text.ends_with("-");
            if ((last && hi != at->last) || (!last && lo != at->first) || brokenAfter || brokenBefore) {
                besideText_.erase(b);
                continue;
            }
            const int n = static_cast<int>(hi - lo + 1);
            PlaySpan span;
            if (!last)
                span = {b, 0, n - 1, true};
            else if (n > words)
                span = {b, 0, words, true};  // a speech of one line
            else
                span = {b, words - n, n, false};
            std::string lineText;
            double x0 = 1, y0 = 1, x1 = 0, y1 = 0;
            for (std::size_t i = lo; i <= hi; ++i) {
                lineText += at->words[i].text;
                const ViewFraction& r = at->words[i].rect;
                x0 = std::min(x0, r.minX());
                y0 = std::min(y0, r.minY());
                x1 = std::max(x1, r.maxX());
                y1 = std::max(y1, r.maxY());
            }
            const std::string phrase = spanText(play_, span);
            if (span.count < 1 || folded(phrase) != folded(lineText) || !locatePhrase(store_, phrase)) {
                besideText_.erase(b);
                continue;
            }
            return Line{span, phrase, at->page, {x0, y0, x1 - x0, y1 - y0}};
        }
        return std::nullopt;
    }

    // The one place in the play of these words, in one block.
    std::optional<PlaySpan> spanOf(const std::vector<std::string>& words) const {
        std::vector<std::string> want;
        for (const std::string& w : words) want.push_back(folded(w));
        std::optional<PlaySpan> found;
        int matches = 0;
        for (std::size_t b = 0; b < play_.blocks.size(); ++b) {
            const PlayBlock& block = play_.blocks[b];
            std::vector<std::string> have;
            if (!block.speaker.empty()) have.push_back(folded(block.speaker + "."));
            for (const std::string& w : block.words) have.push_back(folded(w));
            for (std::size_t i = 0; i + want.size() <= have.size(); ++i) {
                if (!std::equal(want.begin(), want.end(), have.begin() + static_cast<std::ptrdiff_t>(i))) continue;
                ++matches;
                const bool speaker = !block.speaker.empty() && i == 0;
                const int offset = block.speaker.empty() ? 0 : 1;
                found = PlaySpan{static_cast<int>(b), speaker ? 0 : static_cast<int>(i) - offset,
                                 static_cast<int>(want.size()) - (speaker ? 1 : 0), speaker};
            }
        }
        return matches == 1 ? found : std::nullopt;
    }

    DocumentStore& store_;
    const Play& play_;
    Rng rng_;
    std::vector<int> textBlocks_, columnBlocks_, speeches_;
    std::set<std::string> used_;
    std::set<int> besideText_;
    OperatorMarks out_;
};

// A word's letters, and what stands before and after them ("(Martha," has "(" and ",").
struct WordParts {
    std::string before, letters, after;
};
WordParts partsOf(const std::string& word) {
    auto isLetter = [](char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); };
    std::size_t a = 0, b = word.size();
    while (a < b && !isLetter(word[a])) ++a;
    while (b > a && !isLetter(word[b - 1])) --b;
    return {word.substr(0, a), word.substr(a, b - a), word.substr(b)};
}

RevisedPlay inserted(const Play& play, std::size_t at, const std::vector<PlayBlock>& blocks) {
    RevisedPlay out;
    out.play = play;
    out.play.blocks.insert(out.play.blocks.begin() + static_cast<std::ptrdiff_t>(at), blocks.begin(), blocks.end());
    for (std::size_t i = 0; i < play.blocks.size(); ++i)
        out.blockMap.push_back(static_cast<int>(i < at ? i : i + blocks.size()));
    return out;
}

}  // namespace

OperatorMarks markPlay(DocumentStore& store, const Play& play, const MarkCounts& counts) {
    Marker marker(store, play, counts.seed);
    marker.cues(counts.cues);
    marker.textMarks("highlight", counts.highlights);
    marker.textMarks("cut", counts.cuts);
    marker.textMarks("hide", counts.hides);
    marker.regions(counts.regions);
    marker.flags(counts.flags);
    marker.memos(counts.memos);
    marker.inserts(counts.inserts);
    marker.pageNotes(counts.pageNotes);
    return marker.take();
}

std::string revisionName(Revision revision) {
    switch (revision) {
        case Revision::insertedParagraph: return "insertedParagraph";
        case Revision::cutSpeech: return "cutSpeech";
        case Revision::changedWords: return "changedWords";
        case Revision::renamedCharacter: return "renamedCharacter";
        case Revision::frontMatter: return "frontMatter";
    }
    return "unknown";
}

RevisedPlay revise(const Play& play, Revision revision, const OperatorMarks& marks) {
    const std::size_t blocks = play.blocks.size();
    auto identity = [&] {
        RevisedPlay out;
        out.play = play;
        out.blockMap.resize(blocks);
        std::iota(out.blockMap.begin(), out.blockMap.end(), 0);
        return out;
    };
    switch (revision) {
        case Revision::insertedParagraph: {
            // After the first speech of act one: every page after it moves.
            std::size_t at = 0;
            while (at < blocks && play.blocks[at].kind != PlayBlock::Kind::speech) ++at;
            Writer writer(0x5eed1234u);
            PlayBlock added{PlayBlock::Kind::speech, "THOMAS", writer.speechWords(7)};
            return inserted(play, std::min(at + 1, blocks), {added});
        }
        case Revision::frontMatter: {
            // A page of notes after the title page.
            std::size_t at = 0;
            while (at < blocks && play.blocks[at].kind != PlayBlock::Kind::pageBreak) ++at;
            Writer writer(0xf00d5eedu);
            std::vector<PlayBlock> page = {block(PlayBlock::Kind::heading, "NOTES ON THIS DRAFT")};
            for (int p = 0; p < 3; ++p) page.push_back({PlayBlock::Kind::plain, {}, writer.speechWords(4)});
            page.push_back(block(PlayBlock::Kind::pageBreak));
            return inserted(play, std::min(at + 1, blocks), page);
        }
        case Revision::cutSpeech: {
            // The speech most records stand on, so the cut leaves several to review.
            std::map<int, int> records;
            for (const MadeRecord& r : marks.records)
                if (r.span.block >= 0 &&
                    play.blocks[static_cast<std::size_t>(r.span.block)].kind == PlayBlock::Kind::speech)
                    ++records[r.span.block];
            int cut = -1, most = 0;
            for (const auto& [b, n] : records)
                if (n > most) {
                    most = n;
                    cut = b;
                }
            RevisedPlay out;
            out.play = play;
            out.cutBlock = cut;
            if (cut >= 0) out.play.blocks.erase(out.play.blocks.begin() + cut);
            for (int i = 0; i < static_cast<int>(blocks); ++i)
                out.blockMap.push_back(i == cut ? -1 : (cut >= 0 && i > cut ? i - 1 : i));
            return out;
        }
        case Revision::changedWords: {
            RevisedPlay out = identity();
            // A cue of five words or more, on a speech nothing beside the text stands on.
            std::set<int> beside;
            for (const MadeRecord& r : marks.records)
                if (r.kind != "cue" && !(r.kind == "mark" && r.markKind != "region")) beside.insert(r.span.block);
            for (const MadeRecord& r : marks.records) {
                if (r.kind != "cue" || r.span.count < 5 || r.span.withSpeaker || beside.contains(r.span.block))
                    continue;
                auto& words = out.play.blocks[static_cast<std::size_t>(r.span.block)].words;
                Rng rng(0xc4a93ed5u);
                for (int k = r.span.first + r.span.count - 2; k < r.span.first + r.span.count; ++k) {
                    WordParts parts = partsOf(words[static_cast<std::size_t>(k)]);
                    std::string replacement;
                    do {
                        replacement = rng.pick(plainWords);
                    } while (folded(replacement) == folded(parts.letters));
                    words[static_cast<std::size_t>(k)] = parts.before + replacement + parts.after;
                }
                out.changedCue = r.id;
                break;
            }
            return out;
        }
        case Revision::renamedCharacter: {
            RevisedPlay out = identity();
            for (PlayBlock& b : out.play.blocks) {
                if (b.speaker == "MARTHA") b.speaker = "MARGARET";
                for (std::string& word : b.words) {
                    WordParts parts = partsOf(word);
                    if (parts.letters == "MARTHA")
                        word = parts.before + "MARGARET" + parts.after;
                    else if (parts.letters == "Martha")
                        word = parts.before + "Margaret" + parts.after;
                }
            }
            return out;
        }
    }
    return identity();
}

std::optional<std::string> revisedText(const RevisedPlay& revised, const PlaySpan& span) {
    if (span.block < 0 || span.block >= static_cast<int>(revised.blockMap.size())) return std::nullopt;
    const int block = revised.blockMap[static_cast<std::size_t>(span.block)];
    if (block < 0) return std::nullopt;
    return spanText(revised.play, {block, span.first, span.count, span.withSpeaker});
}

}  // namespace tallowmark::testing
