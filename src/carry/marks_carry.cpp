#include "carry/marks_carry.hpp"

#include <glib.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <map>
#include <set>
#include <utility>

#include "carry/word_alignment.hpp"
#include "core/unicode_text.hpp"
#include "document/document_store.hpp"

namespace tallowmark {

namespace {

constexpr std::size_t snippetBytes = 120;
// Words read on each side of a short record to be sure its few words are
// its own and not the same words elsewhere.
constexpr std::int32_t contextWords = 3;
// Found words further apart in the new script than in the old by more than
// this are not one place any more.
constexpr std::int32_t scatterSlack = 3;
// A page note stands on its page's first words.
constexpr std::size_t pageNoteWords = 8;
// Every this many records the caller hears how far the placing is.
constexpr int placeReportEvery = 25;
// The stores opened for the carry keep every page's words, up to this: some
// thousand dense pages; past it the oldest pages are laid out again if asked.
constexpr std::size_t carryWordsBudget = std::size_t{128} << 20;

struct Hit {
    std::int32_t from, to;
    std::size_t own = 0;  // which of the record's words
};

// Where a record's words are in the new script.
struct Located {
    CarryOutcome outcome = CarryOutcome::review;
    std::int32_t first = -1, last = -1;  // words of the new script, both included
    std::vector<Hit> hits;               // the own words found, in order
};

double overlap(const ViewFraction& a, const ViewFraction& b) {
    const double w = std::min(a.maxX(), b.maxX()) - std::max(a.minX(), b.minX());
    const double h = std::min(a.maxY(), b.maxY()) - std::max(a.minY(), b.minY());
    return w > 0 && h > 0 ? w * h : 0;
}

double distanceTo(const ViewFraction& r, double x, double y) {
    const double dx = x < r.minX() ? r.minX() - x : (x > r.maxX() ? x - r.maxX() : 0);
    const double dy = y < r.minY() ? r.minY() - y : (y > r.maxY() ? y - r.maxY() : 0);
    return std::hypot(dx, dy);
}

// A word broken at a line's end: a letter, then a hyphen (the hyphen-minus,
// the soft hyphen or the hyphen). A page number set as "-11-" is no such word.
bool endsWithHyphen(std::string_view text) {
    for (const std::string_view hyphen : {"-", "\u00AD", "\u2010"}) {
        if (!text.ends_with(hyphen)) continue;
        const std::string_view before = text.substr(0, text.size() - hyphen.size());
        if (before.empty()) return false;
        const char* last = g_utf8_find_prev_char(before.data(), before.data() + before.size());
        return last && g_unichar_isalpha(g_utf8_get_char_validated(last, before.data() + before.size() - last));
    }
    return false;
}

// The rest of a broken word starts in lower case.
bool continuesAWord(std::string_view text) {
    if (text.empty()) return false;
    const gunichar c = g_utf8_get_char_validated(text.data(), static_cast<gssize>(text.size()));
    return c != static_cast<gunichar>(-1) && c != static_cast<gunichar>(-2) && g_unichar_islower(c);
}

double clamp01(double v) { return std::isfinite(v) ? std::clamp(v, 0.0, 1.0) : 0.0; }

class Carrier {
public:
    Carrier(const ScriptWords& from, const ScriptWords& to, DocumentStore& target)
        : from_(from), to_(to), target_(target) {
        std::vector<std::uint64_t> a, b;
        a.reserve(from.words.size());
        b.reserve(to.words.size());
        for (const auto& w : from.words) a.push_back(wordHash(w.key));
        for (const auto& w : to.words) b.push_back(wordHash(w.key));
        map_ = alignWords(a, b);
    }

    std::optional<CarryResult> run(const CueSidecar& old, const CueSidecar& base, const CarryProgress& progress);

private:
    // --- the old script ---
    std::pair<std::size_t, std::size_t> pageRange(const ScriptWords& words, std::int64_t page) const {
        if (page < 0 || page >= words.pageCount()) return {0, 0};
        return {words.pageStart[static_cast<std::size_t>(page)], words.pageStart[static_cast<std::size_t>(page) + 1]};
    }

    // The old words of `page` that lie mostly inside `rect`.
    std::vector<std::int32_t> wordsUnder(std::int64_t page, const ViewFraction& rect) const {
        std::vector<std::int32_t> own;
        const auto [begin, end] = pageRange(from_, page);
        for (std::size_t i = begin; i < end; ++i) {
            const ScriptWords::Word& word = from_.words[i];
            const ViewFraction& r = word.rect;
            const ViewFraction& e = word.endRect;
            if (overlap(r, rect) >= 0.5 * r.width * r.height || overlap(e, rect) >= 0.5 * e.width * e.height)
                own.push_back(static_cast<std::int32_t>(i));
        }
        return own;
    }

    // The old word of `page` nearest the point; -1 on a page without words.
    std::int32_t nearestWord(std::int64_t page, double x, double y) const {
        const auto [begin, end] = pageRange(from_, page);
        std::int32_t best = -1;
        double bestDistance = std::numeric_limits<double>::infinity();
        for (std::size_t i = begin; i < end; ++i) {
            const double d = distanceTo(from_.words[i].rect, x, y);
            if (d < bestDistance) {
                bestDistance = d;
                best = static_cast<std::int32_t>(i);
            }
        }
        return best;
    }

    // Every word of the line holding word `at`, in `words`.
    static std::vector<std::int32_t> lineOf(const ScriptWords& words, std::int32_t at) {
        std::vector<std::int32_t> line;
        if (at < 0) return line;
        const auto& w = words.words;
        std::int32_t a = at, b = at;
        while (a > 0 && w[a - 1].page == w[at].page && w[a - 1].line == w[at].line) --a;
        while (b + 1 < static_cast<std::int32_t>(w.size()) && w[b + 1].page == w[at].page && w[b + 1].line == w[at].line)
            ++b;
        for (std::int32_t i = a; i <= b; ++i) line.push_back(i);
        return line;
    }

    static ViewFraction unionOf(const ScriptWords& words, const std::vector<std::int32_t>& indices) {
        double x0 = 1, y0 = 1, x1 = 0, y1 = 0;
        for (const std::int32_t i : indices) {
            const ViewFraction& r = words.words[i].rect;
            x0 = std::min(x0, r.minX());
            y0 = std::min(y0, r.minY());
            x1 = std::max(x1, r.maxX());
            y1 = std::max(y1, r.maxY());
        }
        return x1 > x0 ? ViewFraction{x0, y0, x1 - x0, y1 - y0} : ViewFraction{};
    }

    // --- finding the words again ---
    // Whether the words just before and after a short record moved with it:
    // a word or two alone may be found elsewhere by chance.
    bool contextAgrees(std::int32_t ownFirst, std::int32_t ownLast, std::int32_t first, std::int32_t last) const {
        for (std::int32_t k = 1; k <= contextWords; ++k) {
            const std::int32_t before = ownFirst - k;
            if (before >= 0 && map_[before] >= 0 && map_[before] < first && first - map_[before] <= k + scatterSlack)
                return true;
            const std::int32_t after = ownLast + k;
            if (after < static_cast<std::int32_t>(map_.size()) && map_[after] > last &&
                map_[after] - last <= k + scatterSlack)
                return true;
        }
        return false;
    }

    Located locate(const std::vector<std::int32_t>& own) const {
        Located out;
        if (own.empty()) return out;
        std::vector<Hit> hits;
        for (std::size_t k = 0; k < own.size(); ++k)
            if (map_[own[k]] >= 0) hits.push_back({own[k], map_[own[k]], k});
        if (hits.empty()) return out;
        // The found words in runs that keep their spacing in both versions,
        // on one page: only such a run is the record's own words and nothing
        // between them. The largest run is the place.
        std::size_t bestBegin = 0, bestEnd = 0;
        for (std::size_t begin = 0; begin < hits.size();) {
            std::size_t end = begin + 1;
            while (end < hits.size() && hits[end].own == hits[end - 1].own + 1 &&
                   hits[end].to - hits[end - 1].to == hits[end].from - hits[end - 1].from &&
                   to_.words[hits[end].to].page == to_.words[hits[begin].to].page)
                ++end;
            if (end - begin > bestEnd - bestBegin) {
                bestBegin = begin;
                bestEnd = end;
            }
            begin = end;
        }
        std::vector<Hit> run(hits.begin() + static_cast<std::ptrdiff_t>(bestBegin),
                             hits.begin() + static_cast<std::ptrdiff_t>(bestEnd));
        const bool whole = run.size() == own.size();
        // Changed text keeps the record only while most of its words stand together.
        if (!whole && (run.size() < 2 || run.size() * 2 < own.size())) return out;
        out.first = run.front().to;
        out.last = run.back().to;
        if (own.size() < 3 && !contextAgrees(own.front(), own.back(), out.first, out.last)) return {};
        out.outcome = whole ? CarryOutcome::placed : CarryOutcome::changed;
        out.hits = std::move(run);
        return out;
    }

    // --- placing on the new script ---
    // What a drag from the first found word to the last selects on the new
    // script, if it selects exactly those words.
    std::optional<DocumentStore::Selection> dragOver(const Located& at) const {
        const auto& first = to_.words[at.first];
        const auto& last = to_.words[at.last];
        std::string expected;
        for (std::int32_t i = at.first; i <= at.last; ++i) expected += to_.words[i].key;
        // From the top of the first word to the foot of the last: a drag one
        // line down from middle to middle may read as a drag along one line.
        const double inset = 0.2;
        const ViewPoint from{first.rect.minX() + first.rect.width * 0.1, first.rect.minY() + first.rect.height * inset};
        const ViewFraction& end = last.endRect;
        const ViewPoint to{end.maxX() - end.width * 0.1, end.maxY() - end.height * inset};
        std::optional<DocumentStore::Selection> selection = target_.textSelection(first.page, from, to, true);
        if (!selection) return std::nullopt;
        const std::optional<std::string> got = DocumentStore::searchKey(selection->text);
        if (!got || *got != expected) return std::nullopt;
        return selection;
    }

    std::int32_t newPage(const Located& at) const { return to_.words[at.first].page; }

    // How far the place moved: the new box of a found word less its old box.
    std::pair<double, double> shift(const Located& at, std::int32_t near) const {
        const Hit* best = &at.hits.front();
        for (const Hit& h : at.hits)
            if (std::abs(h.from - near) < std::abs(best->from - near)) best = &h;
        const ViewFraction& a = from_.words[best->from].rect;
        const ViewFraction& b = to_.words[best->to].rect;
        return {b.minX() - a.minX(), b.minY() - a.minY()};
    }

    // The one shift every word of a cleanly found record took, when they all
    // took the same: then the record moves as it stands, with whatever the
    // operator made of its box, and a script carried to itself changes nothing.
    std::optional<std::pair<double, double>> rigidShift(const Located& at) const {
        if (at.outcome != CarryOutcome::placed) return std::nullopt;
        const auto [dx, dy] = shift(at, at.hits.front().from);
        for (const Hit& h : at.hits) {
            const ViewFraction& a = from_.words[h.from].rect;
            const ViewFraction& b = to_.words[h.to].rect;
            if (std::abs(b.minX() - a.minX() - dx) > 1e-4 || std::abs(b.minY() - a.minY() - dy) > 1e-4 ||
                std::abs(b.width - a.width) > 1e-4 || std::abs(b.height - a.height) > 1e-4)
                return std::nullopt;
        }
        return std::pair{dx, dy};
    }

    static std::optional<std::string> flag(CarryOutcome outcome) { return carryKey(outcome); }

    void note(CarryResult& result, std::string kind, std::string id, std::string name, std::string_view snippet,
              CarryOutcome outcome, std::int64_t oldPage, std::int64_t page) {
        result.records.push_back({std::move(kind), std::move(id), std::move(name), cutUtf8(snippet, snippetBytes),
                                  outcome, oldPage, page});
        ++(outcome == CarryOutcome::placed ? result.placed
                                           : outcome == CarryOutcome::changed ? result.changed : result.review);
    }

    // A record moved with its anchor: the point records (flags, memos, regions).
    template <class Record>
    Located carryPoint(Record& record, double x, double y) {
        const std::int32_t near = nearestWord(record.page, x, y);
        Located at = locate(lineOf(from_, near));
        if (at.outcome == CarryOutcome::review) return at;
        const auto [dx, dy] = shift(at, near);
        lastShiftX_ = dx;
        record.page = newPage(at);
        record.x = clamp01(record.x + dx);
        record.y = clamp01(record.y + dy);
        return at;
    }

    // A framed record: moved with the words inside its frame, or, with none
    // inside, with the line nearest its corner.
    template <class Record>
    Located carryOver(Record& record, const ViewFraction& frame) {
        const std::vector<std::int32_t> inside = wordsUnder(record.page, frame);
        if (inside.empty()) return carryPoint(record, frame.minX(), frame.minY());
        Located at = locate(inside);
        if (at.outcome == CarryOutcome::review) return at;
        const auto [dx, dy] = shift(at, inside.front());
        lastShiftX_ = dx;
        record.page = newPage(at);
        record.x = clamp01(record.x + dx);
        record.y = clamp01(record.y + dy);
        return at;
    }

    const ScriptWords& from_;
    const ScriptWords& to_;
    DocumentStore& target_;
    std::vector<std::int32_t> map_;
    double lastShiftX_ = 0;  // across of the last point record carried
};

std::optional<CarryResult> Carrier::run(const CueSidecar& old, const CueSidecar& base, const CarryProgress& progress) {
    CarryResult result;
    CueSidecar& out = result.sidecar;
    out = old;
    out.documentName = base.documentName;
    out.crop = base.crop;
    out.spreadOffset = base.spreadOffset;
    out.marks.clear();
    out.pageTexts.clear();

    const int total = static_cast<int>(old.cues.size() + old.marks.size() + old.flags.size() + old.memos.size() +
                                       old.inserts.size() + old.pageTexts.size());
    int done = 0;
    auto step = [&](int count) {
        const int before = done / placeReportEvery;
        done += count;
        return !progress || done / placeReportEvery == before || progress("place", done, total);
    };

    // Inserted lines first: the cues standing on them follow them.
    struct Moved {
        CarryOutcome outcome;
        std::int64_t page;
        double dx, dy;
    };
    std::map<std::string, Moved> inserts;
    for (Insert& insert : out.inserts) {
        const Insert before = insert;
        // The line it follows: the old line whose foot is nearest the gap.
        std::int32_t line = -1;
        double best = std::numeric_limits<double>::infinity();
        const auto [begin, end] = pageRange(from_, insert.page);
        for (std::size_t i = begin; i < end; ++i) {
            const double d = std::abs(from_.words[i].rect.maxY() - insert.afterY);
            if (d < best) {
                best = d;
                line = static_cast<std::int32_t>(i);
            }
        }
        const std::vector<std::int32_t> own = lineOf(from_, line);
        const Located at = locate(own);
        Moved moved{at.outcome, insert.page, 0, 0};
        if (at.outcome != CarryOutcome::review) {
            const ViewFraction oldLine = unionOf(from_, own);
            const ViewFraction newLine = unionOf(to_, lineOf(to_, at.first));
            moved = {at.outcome, newPage(at), newLine.minX() - oldLine.minX(), newLine.maxY() - oldLine.maxY()};
            insert.page = moved.page;
            insert.afterY = clamp01(insert.afterY + moved.dy);
            insert.lineMidY = clamp01(insert.lineMidY + moved.dy);
            insert.x = clamp01(insert.x + moved.dx);
        }
        insert.carry = flag(at.outcome);
        inserts[insert.id] = moved;
        note(result, "insert", insert.id, "inserted line", insert.text, at.outcome, before.page, insert.page);
        if (!step(1)) return std::nullopt;
    }

    for (Cue& cue : out.cues) {
        const std::int64_t oldPage = cue.page;
        const std::string name = "Cue " + cue.number + (cue.kind.empty() ? "" : " " + cue.kind);
        if (const auto it = inserts.find(cue.insertID); !cue.insertID.empty() && it != inserts.end()) {
            const Moved& m = it->second;
            if (m.outcome != CarryOutcome::review) {
                cue.page = m.page;
                cue.x = clamp01(cue.x + m.dx);
                cue.y = clamp01(cue.y + m.dy);
                if (cue.labelX > 0) cue.labelX = clamp01(cue.labelX + m.dx);
            }
            cue.carry = flag(m.outcome);
            note(result, "cue", cue.id, name, cue.snippet, m.outcome, oldPage, cue.page);
            if (!step(1)) return std::nullopt;
            continue;
        }
        const ViewFraction box{cue.x, cue.y, cue.w, cue.h};
        std::vector<std::int32_t> own = wordsUnder(cue.page, box);
        Located at;
        std::optional<DocumentStore::Selection> drag;
        if (!own.empty()) {
            at = locate(own);
            if (const auto rigid = rigidShift(at)) {
                cue.page = newPage(at);
                cue.x = clamp01(cue.x + rigid->first);
                cue.y = clamp01(cue.y + rigid->second);
                if (cue.labelX > 0) cue.labelX = clamp01(cue.labelX + rigid->first);
                cue.carry.reset();
                note(result, "cue", cue.id, name, cue.snippet, at.outcome, oldPage, cue.page);
                if (!step(1)) return std::nullopt;
                continue;
            }
            if (at.outcome != CarryOutcome::review) drag = dragOver(at);
            if (!drag) at.outcome = CarryOutcome::review;
        } else {
            // A box beside the text moves with the nearest line.
            at = carryPoint(cue, cue.x, cue.y + cue.h / 2);
            if (at.outcome != CarryOutcome::review && cue.labelX > 0) cue.labelX = clamp01(cue.labelX + lastShiftX_);
        }
        if (drag) {
            cue.page = newPage(at);
            cue.x = drag->rect.x;
            cue.y = drag->rect.y;
            cue.w = drag->rect.width;
            cue.h = drag->rect.height;
            cue.labelX = drag->lineEnd;
            if (cue.padL >= 0) cue.padL = std::max(0.0, drag->gapL);
            if (cue.padR >= 0) cue.padR = std::max(0.0, drag->gapR);
            if (at.outcome == CarryOutcome::placed) cue.snippet = drag->text;
        }
        cue.carry = flag(at.outcome);
        note(result, "cue", cue.id, name, cue.snippet, at.outcome, oldPage, cue.page);
        if (!step(1)) return std::nullopt;
    }

    // Marks: the lines of one drag share a group and travel as one. Grouped
    // in one pass, so a file of many marks costs no more than reading it.
    std::vector<std::vector<std::size_t>> groups;
    std::map<std::pair<std::string, std::string>, std::size_t> groupOf;  // (group, kind) -> its index in groups
    for (std::size_t m = 0; m < old.marks.size(); ++m) {
        const Mark& mark = old.marks[m];
        if (mark.group.empty()) {
            groups.push_back({m});
            continue;
        }
        const auto [it, fresh] = groupOf.try_emplace({mark.group, mark.kind}, groups.size());
        if (fresh) groups.emplace_back();
        groups[it->second].push_back(m);
    }
    for (const std::vector<std::size_t>& members : groups) {
        std::vector<Mark> group;
        for (const std::size_t k : members) group.push_back(old.marks[k]);
        Mark& lead = group.front();
        const std::int64_t oldPage = lead.page;
        const std::string snippet = lead.text;
        Located at;
        if (lead.kind == "region") {
            at = carryOver(lead, {lead.x, lead.y, lead.w, lead.h});
            for (Mark& mark : group) mark.carry = flag(at.outcome);
            for (std::size_t k = 1; k < group.size(); ++k) group[k].page = lead.page;
        } else {
            std::set<std::int32_t> under;
            for (const Mark& mark : group)
                for (const std::int32_t i : wordsUnder(mark.page, {mark.x, mark.y, mark.w, mark.h})) under.insert(i);
            at = locate({under.begin(), under.end()});
            if (const auto rigid = rigidShift(at)) {
                for (Mark& mark : group) {
                    mark.page = newPage(at);
                    mark.x = clamp01(mark.x + rigid->first);
                    mark.y = clamp01(mark.y + rigid->second);
                }
            } else if (auto drag = at.outcome == CarryOutcome::review ? std::nullopt : dragOver(at)) {
                // One mark per line, as a drag makes them; the group's ids kept.
                std::vector<Mark> lines;
                for (std::size_t k = 0; k < drag->lines.size(); ++k) {
                    Mark mark = group[std::min(k, group.size() - 1)];
                    if (k >= group.size()) mark.id = makeUUID();
                    const ViewFraction& r = drag->lines[k];
                    mark.page = newPage(at);
                    mark.x = r.x;
                    mark.y = r.y;
                    mark.w = r.width;
                    mark.h = r.height;
                    mark.text = k == 0 ? drag->text : std::string();
                    lines.push_back(std::move(mark));
                }
                group = std::move(lines);
            } else {
                at.outcome = CarryOutcome::review;
            }
            for (Mark& mark : group) mark.carry = flag(at.outcome);
        }
        note(result, "mark", group.front().id, group.front().kind, snippet, at.outcome, oldPage, group.front().page);
        for (Mark& mark : group) out.marks.push_back(std::move(mark));
        if (!step(static_cast<int>(group.size()))) return std::nullopt;
    }

    // Flags and memos move with the line nearest them.
    const auto points = [&](auto& list, const char* kind) {
        for (auto& record : list) {
            const std::int64_t oldPage = record.page;
            const Located at = carryPoint(record, record.x, record.y);
            record.carry = flag(at.outcome);
            note(result, kind, record.id, kind, record.text, at.outcome, oldPage, record.page);
            if (!step(1)) return false;
        }
        return true;
    };
    if (!points(out.flags, "flag") || !points(out.memos, "memo")) return std::nullopt;

    // A page note goes with its page's first words (page numbers left out:
    // they change with every reflow). Two notes meeting on one page are
    // joined, so neither is lost.
    for (const auto& [key, text] : old.pageTexts) {
        const bool numeric = !key.empty() && key.size() < 10 &&
                             std::all_of(key.begin(), key.end(), [](char c) { return c >= '0' && c <= '9'; });
        const std::int64_t page = numeric ? std::stoll(key) : -1;
        std::vector<std::int32_t> first;
        const auto [begin, end] = pageRange(from_, page);
        for (std::size_t i = begin; i < end && first.size() < pageNoteWords; ++i) {
            const std::string& k = from_.words[i].key;
            if (!std::all_of(k.begin(), k.end(), [](char c) { return c >= '0' && c <= '9'; }))
                first.push_back(static_cast<std::int32_t>(i));
        }
        const Located at = locate(first);
        const CarryOutcome outcome = at.outcome;
        const std::int64_t newPage = outcome == CarryOutcome::review ? page : this->newPage(at);
        const std::string newKey = outcome == CarryOutcome::review ? key : std::to_string(newPage);
        std::string& into = out.pageTexts[newKey];
        into = into.empty() ? text : into + "\n\n" + text;
        note(result, "pageText", key, "page note", text, outcome, std::max<std::int64_t>(page, 0),
             std::max<std::int64_t>(newPage, 0));
        if (!step(1)) return std::nullopt;
    }
    if (progress && !progress("place", total, total)) return std::nullopt;
    return result;
}

}  // namespace

std::optional<std::string> carryKey(CarryOutcome outcome) {
    switch (outcome) {
        case CarryOutcome::placed:
            return std::nullopt;
        case CarryOutcome::changed:
            return "changed";
        case CarryOutcome::review:
            return "review";
    }
    return std::nullopt;
}

std::optional<ScriptWords> readScriptWords(DocumentStore& store, std::string_view step,
                                           const CarryProgress& progress) {
    const std::int64_t generation = store.documentGeneration();
    const std::optional<int> pages = store.pageCount();
    if (!pages) return std::nullopt;
    ScriptWords script;
    script.pageStart.reserve(static_cast<std::size_t>(*pages) + 1);
    for (int page = 0; page < *pages; ++page) {
        if (progress && !progress(step, page, *pages)) return std::nullopt;
        script.pageStart.push_back(script.words.size());
        bool hyphenated = false;  // the last word taken ends in a hyphen
        for (DocumentStore::PageWord& word : store.pageWords(page)) {
            std::optional<std::string> key = DocumentStore::searchKey(word.text);
            if (!key || key->empty()) continue;  // a dash or a mark: nothing to match by
            const bool broken = hyphenated && script.words.size() > script.pageStart.back() &&
                                script.words.back().line != word.line && continuesAWord(word.text);
            hyphenated = endsWithHyphen(word.text);
            if (broken) {
                // "bas-" at a line's end and "ket" on the next are the one word
                // the other version may print whole.
                script.words.back().key += *key;
                script.words.back().endRect = word.rect;
                continue;
            }
            if (script.words.size() >= maxScriptWords) return std::nullopt;
            script.words.push_back({page, word.line, word.rect, word.rect, std::move(*key)});
        }
        if (store.documentGeneration() != generation) return std::nullopt;
    }
    script.pageStart.push_back(script.words.size());
    if (progress && !progress(step, *pages, *pages)) return std::nullopt;
    return script;
}

std::optional<CarryResult> carryMarks(const CueSidecar& old, const ScriptWords& from, const ScriptWords& to,
                                      DocumentStore& target, const CueSidecar& base, const CarryProgress& progress) {
    return Carrier(from, to, target).run(old, base, progress);
}

namespace {

// A store of the carry's own on `path`, keeping every page's words.
std::optional<std::string> openForCarry(DocumentStore& store, const std::filesystem::path& path,
                                        const std::string& password, bool dropPageNumbers,
                                        const std::optional<PageCrop>& crop) {
    store.setWordsBudget(carryWordsBudget);
    store.setDropPageNumbers(dropPageNumbers);
    const DocumentStore::OpenResult opened = store.openScript(path, password);
    if (!opened.info) {
        const std::string name = path.filename().string();
        return opened.problem == PdfOpenError::locked ? name + " is locked with a password"
                                                      : name + " could not be read as a PDF";
    }
    if (crop) store.setCrop(crop);
    return std::nullopt;
}

}  // namespace

CarryRun carryFromScript(const std::filesystem::path& oldPdf, const CueSidecar& old, DocumentStore& target,
                         const CueSidecar& base, const CarryProgress& progress) {
    CarryRun run;
    const std::optional<DocumentStore::Info> info = target.currentInfo();
    if (!info) {
        run.failure = CarryFailure{"No script is open"};
        return run;
    }
    const bool drop = target.dropsPageNumbers();
    bool stopped = false;
    const CarryProgress watched = [&](std::string_view step, int done, int total) {
        stopped = progress && !progress(step, done, total);
        return !stopped;
    };
    DocumentStore before, after;
    // Versions of a locked script are most often locked alike.
    std::optional<std::string> problem = openForCarry(before, oldPdf, {}, drop, cropFromList(old.crop));
    if (problem && !target.password().empty())
        problem = openForCarry(before, oldPdf, target.password(), drop, cropFromList(old.crop));
    if (problem) {
        run.failure = CarryFailure{*problem};
        return run;
    }
    if ((problem = openForCarry(after, info->path, target.password(), drop, target.manualCrop()))) {
        run.failure = CarryFailure{*problem};
        return run;
    }
    const std::optional<ScriptWords> from = readScriptWords(before, "old", watched);
    before.close();
    const std::optional<ScriptWords> to = from ? readScriptWords(after, "new", watched) : std::nullopt;
    if (!from || !to) {
        if (!stopped) run.failure = CarryFailure{"The script has too many words to follow"};
        return run;
    }
    run.result = carryMarks(old, *from, *to, after, base, progress);
    return run;
}

}  // namespace tallowmark
