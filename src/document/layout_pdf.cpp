#include "document/layout_pdf.hpp"

#include <glib.h>

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstring>
#include <list>
#include <cpp/poppler-document.h>
#include <cpp/poppler-page.h>

#include "core/unicode_text.hpp"
#include "document/text_recognition.hpp"

namespace tallowmark {

// A page's words as poppler finds them, in its reading order, with one box per
// character in page space, and the lines built from them. Lines are not taken
// from the page text: poppler's page text runs a name column into the speech
// beside it and the two halves of a spread into one line, while its words stay
// apart. Words, drags and whole lines are cut from the character boxes rather
// than asked of poppler's selection calls: in poppler 22.12 those pick the
// wrong words on pages turned 180 or 270 degrees, while the boxes are right in
// every rotation. The turned-page selection tests show when that changes.
struct PageWords {
    // Floats keep a glyph at 20 bytes; page coordinates need no more.
    struct Glyph {
        float x, y, width, height;
        std::uint32_t begin;  // first byte of the character in `text`
        PageRect rect() const { return {x, y, width, height}; }
    };
    struct Word {
        std::uint32_t firstGlyph, endGlyph;
        PageRect rect;
    };
    struct Line {
        std::uint32_t firstWord, endWord;
        std::uint32_t firstGlyph, endGlyph;
        PageRect rect;  // union of its glyphs
    };
    // Lines joined by line breaks; within a line a word is followed by one
    // space where poppler says a space follows it, by nothing otherwise.
    std::string text;
    std::vector<Glyph> glyphs;
    std::vector<Word> words;
    std::vector<Line> lines;
    // Recognised pages only: one flag per word, set for a word read with too
    // little confidence to snap a selection to.
    std::vector<std::uint8_t> weak;

    bool isWeak(std::size_t word) const { return word < weak.size() && weak[word] != 0; }

    // The byte after the glyph's character.
    std::size_t endOf(std::size_t glyph) const {
        return static_cast<std::size_t>(g_utf8_next_char(text.c_str() + glyphs[glyph].begin) - text.c_str());
    }
    // The word and the line holding a glyph.
    std::size_t wordOf(std::size_t glyph) const {
        const auto it = std::upper_bound(words.begin(), words.end(), glyph,
                                         [](std::size_t g, const Word& w) { return g < w.firstGlyph; });
        return static_cast<std::size_t>(it - words.begin()) - 1;
    }
    std::size_t lineOf(std::size_t glyph) const {
        const auto it = std::upper_bound(lines.begin(), lines.end(), glyph,
                                         [](std::size_t g, const Line& l) { return g < l.firstGlyph; });
        return static_cast<std::size_t>(it - lines.begin()) - 1;
    }
};

struct LayoutPdf::Handles {
    PdfBytes bytes;
    std::unique_ptr<poppler::document> document;
    // The kept pages' words (see defaultWordsBudget), by page index; the
    // shared pointer lets a caller finish with a page dropped meanwhile.
    std::vector<std::shared_ptr<const PageWords>> pages;
    std::list<int> recent;                         // kept pages, most recently used first
    std::vector<std::list<int>::iterator> placeIn;  // each kept page's entry in `recent`
    std::size_t keptBytes = 0;
    std::size_t budget = defaultWordsBudget;
    // Words recognised from a page's picture, by page index; never dropped.
    std::vector<std::shared_ptr<const PageWords>> recognised;
    std::size_t recognisedBytes = 0;

    void drop(int index) {
        std::shared_ptr<const PageWords>& kept = pages[index];
        if (!kept) return;
        keptBytes -= footprint(*kept);
        recent.erase(placeIn[index]);
        kept.reset();
    }
    void keep(int index, std::shared_ptr<const PageWords> words) {
        drop(index);
        keptBytes += footprint(*words);
        pages[index] = std::move(words);
        recent.push_front(index);
        placeIn[index] = recent.begin();
        while (keptBytes > budget && recent.size() > 1) drop(recent.back());
    }
    void touch(int index) { recent.splice(recent.begin(), recent, placeIn[index]); }
};

namespace {

PageRect toPageRect(const poppler::rectf& r) { return {r.x(), r.y(), r.width(), r.height()}; }

int rotationOf(poppler::page::orientation_enum orientation) {
    switch (orientation) {
        case poppler::page::landscape: return 90;
        case poppler::page::upside_down: return 180;
        case poppler::page::seascape: return 270;
        default: return 0;
    }
}

// poppler lays text out in the displayed page: origin at the top-left of the
// crop box, y down, the page's rotation applied. Undo both to reach page space.
struct TextSpace {
    double x1, y1, x2, y2;  // crop box in page space
    int rotation;

    void toPage(double tx, double ty, double& x, double& y) const {
        switch (rotation) {
            case 90: x = x1 + ty; y = y1 + tx; break;
            case 180: x = x2 - tx; y = y1 + ty; break;
            case 270: x = x2 - ty; y = y2 - tx; break;
            default: x = x1 + tx; y = y2 - ty; break;
        }
    }

    PageRect toPage(const poppler::rectf& r) const {
        double ax, ay, bx, by;
        toPage(r.left(), r.top(), ax, ay);
        toPage(r.right(), r.bottom(), bx, by);
        return {std::min(ax, bx), std::min(ay, by), std::abs(bx - ax), std::abs(by - ay)};
    }
};

PageRect unite(const PageRect& a, const PageRect& b) {
    const double x0 = std::min(a.minX(), b.minX()), y0 = std::min(a.minY(), b.minY());
    return {x0, y0, std::max(a.maxX(), b.maxX()) - x0, std::max(a.maxY(), b.maxY()) - y0};
}

bool contains(const PageRect& r, PagePoint p) {
    return p.x >= r.minX() && p.x <= r.maxX() && p.y >= r.minY() && p.y <= r.maxY();
}

double distanceTo(const PageRect& r, PagePoint p) {
    const double dx = std::max({r.minX() - p.x, 0.0, p.x - r.maxX()});
    const double dy = std::max({r.minY() - p.y, 0.0, p.y - r.maxY()});
    return std::hypot(dx, dy);
}

PagePoint centreOf(const PageRect& r) { return {r.x + r.width / 2, r.y + r.height / 2}; }

// A word's place along and across its writing direction, in poppler's
// displayed space, where its rotation (quarter turns) says which way it runs.
struct Run {
    int rotation;
    double start, end;  // along the direction of writing
    double across;      // middle across it
    double thickness;

    static Run of(const poppler::rectf& r, int rotation) {
        switch (rotation) {
            case 1: return {1, r.top(), r.bottom(), (r.left() + r.right()) / 2, r.width()};
            case 2: return {2, -r.right(), -r.left(), (r.top() + r.bottom()) / 2, r.height()};
            case 3: return {3, -r.bottom(), -r.top(), (r.left() + r.right()) / 2, r.width()};
            default: return {0, r.left(), r.right(), (r.top() + r.bottom()) / 2, r.height()};
        }
    }
};

// Whether `next` continues the line that `line` began and `previous` ended.
// A line keeps to one baseline and one direction and never goes back; a gap of
// two line heights, or a gap wider than a word space that poppler saw no space
// in, is a column gap or a spread's gutter.
bool continuesLine(const Run& line, const Run& previous, bool spaceAfterPrevious, const Run& next) {
    if (next.rotation != line.rotation) return false;
    const double thickness = std::min(line.thickness, next.thickness);
    if (!(std::abs(next.across - line.across) < 0.5 * thickness)) return false;
    const double gap = next.start - previous.end;
    if (gap < -0.5 * thickness || gap > 2 * thickness) return false;
    return spaceAfterPrevious || gap < 0.6 * thickness;
}

// poppler's own to_utf8 opens an iconv converter for every word, which made
// the converter lookup (and its process-wide lock, contended by the workers
// of the open) a large part of collecting a page. Empty for text that is not
// well-formed UTF-16.
std::string utf8Of(const poppler::ustring& text) {
    if (text.empty()) return {};
    static_assert(sizeof(poppler::ustring::value_type) == sizeof(gunichar2));
    gchar* converted = g_utf16_to_utf8(reinterpret_cast<const gunichar2*>(text.data()),
                                       static_cast<glong>(text.size()), nullptr, nullptr, nullptr);
    if (!converted) return {};
    std::string result(converted);
    g_free(converted);
    return result;
}

std::shared_ptr<PageWords> collectWords(const poppler::page& page, const TextSpace& space) {
    auto result = std::make_shared<PageWords>();
    PageWords& out = *result;
    std::optional<Run> lineRun, previousRun;
    bool previousSpace = false;
    auto closeLine = [&] {
        if (out.lines.empty()) return;
        PageWords::Line& line = out.lines.back();
        line.endWord = static_cast<std::uint32_t>(out.words.size());
        line.endGlyph = static_cast<std::uint32_t>(out.glyphs.size());
        for (std::size_t i = line.firstGlyph; i < line.endGlyph; ++i)
            line.rect = i == line.firstGlyph ? out.glyphs[i].rect() : unite(line.rect, out.glyphs[i].rect());
    };
    for (const poppler::text_box& box : page.text_list()) {
        const std::string word = utf8Of(box.text());
        if (word.empty()) continue;
        const Run run = Run::of(box.bbox(), box.rotation());
        if (!lineRun || !continuesLine(*lineRun, *previousRun, previousSpace, run)) {
            closeLine();
            if (!out.lines.empty()) out.text += '\n';
            out.lines.push_back({static_cast<std::uint32_t>(out.words.size()), 0,
                                 static_cast<std::uint32_t>(out.glyphs.size()), 0, {}});
            lineRun = run;
        } else if (previousSpace) {
            out.text += ' ';
        }
        previousRun = run;
        previousSpace = box.has_space_after();

        PageWords::Word entry{static_cast<std::uint32_t>(out.glyphs.size()), 0, space.toPage(box.bbox())};
        // One box per code point; a box poppler does not have falls back to the word's.
        std::size_t i = 0;
        for (const char* p = word.c_str(); *p; p = g_utf8_next_char(p), ++i) {
            poppler::rectf r = box.char_bbox(i);
            const PageRect rect = r.width() > 0 || r.height() > 0 ? space.toPage(r) : entry.rect;
            out.glyphs.push_back({static_cast<float>(rect.x), static_cast<float>(rect.y),
                                  static_cast<float>(rect.width), static_cast<float>(rect.height),
                                  static_cast<std::uint32_t>(out.text.size() + (p - word.c_str()))});
        }
        out.text += word;
        entry.endGlyph = static_cast<std::uint32_t>(out.glyphs.size());
        out.words.push_back(entry);
    }
    closeLine();
    out.glyphs.shrink_to_fit();
    out.words.shrink_to_fit();
    out.lines.shrink_to_fit();
    out.text.shrink_to_fit();
    return result;
}

// The ink of glyphs [first, last) on each line they touch, with the line indexes.
std::vector<std::pair<std::size_t, PageRect>> linePieces(const PageWords& page, std::size_t first, std::size_t last) {
    std::vector<std::pair<std::size_t, PageRect>> pieces;
    if (first >= last) return pieces;
    for (std::size_t k = page.lineOf(first); k < page.lines.size() && page.lines[k].firstGlyph < last; ++k) {
        const std::size_t from = std::max<std::size_t>(first, page.lines[k].firstGlyph);
        const std::size_t to = std::min<std::size_t>(last, page.lines[k].endGlyph);
        if (from >= to) continue;
        PageRect ink = page.glyphs[from].rect();
        for (std::size_t i = from + 1; i < to; ++i) ink = unite(ink, page.glyphs[i].rect());
        pieces.emplace_back(k, ink);
    }
    return pieces;
}

// Glyphs [first, last) as a selection. Lines between the first and the last
// whose middle lies outside the block those two span belong to another
// column or the other half of a spread, and are left out.
std::optional<TextSelection> selectionOf(const PageWords& page, std::size_t first, std::size_t last) {
    const auto pieces = linePieces(page, first, last);
    if (pieces.empty()) return std::nullopt;
    const PageRect block = unite(page.lines[pieces.front().first].rect, page.lines[pieces.back().first].rect);
    constexpr double slack = 1;
    TextSelection selection;
    for (std::size_t n = 0; n < pieces.size(); ++n) {
        const auto& [k, ink] = pieces[n];
        const PagePoint middle = centreOf(page.lines[k].rect);
        const bool edge = n == 0 || n + 1 == pieces.size();
        if (!edge && (middle.x < block.minX() - slack || middle.x > block.maxX() + slack ||
                      middle.y < block.minY() - slack || middle.y > block.maxY() + slack))
            continue;
        const std::size_t from = std::max<std::size_t>(first, page.lines[k].firstGlyph);
        const std::size_t to = std::min<std::size_t>(last, page.lines[k].endGlyph);
        if (!selection.lines.empty()) selection.text += '\n';
        selection.text += page.text.substr(page.glyphs[from].begin, page.endOf(to - 1) - page.glyphs[from].begin);
        selection.bounds = selection.lines.empty() ? ink : unite(selection.bounds, ink);
        selection.lines.push_back(ink);
    }
    return selection;
}

}  // namespace

std::vector<bool> onOuterBaselines(const std::vector<TextLine>& lines) {
    std::vector<bool> outer(lines.size(), false);
    if (lines.empty()) return outer;
    double top = -INFINITY, bottom = INFINITY;
    for (const TextLine& line : lines) {
        top = std::max(top, centreOf(line.rect).y);
        bottom = std::min(bottom, centreOf(line.rect).y);
    }
    for (std::size_t k = 0; k < lines.size(); ++k) {
        const double middle = centreOf(lines[k].rect).y, half = lines[k].rect.height / 2;
        outer[k] = top - middle < half || middle - bottom < half;
    }
    return outer;
}

LayoutPdf::LayoutPdf(std::unique_ptr<Handles> handles) : handles_(std::move(handles)) {}
LayoutPdf::~LayoutPdf() = default;

std::unique_ptr<LayoutPdf> LayoutPdf::open(const PdfBytes& bytes, const std::string& password) {
    if (!bytes) return nullptr;
    gsize size = 0;
    const char* data = static_cast<const char*>(g_bytes_get_data(bytes.get(), &size));
    if (size == 0 || size > INT_MAX) return nullptr;
    auto handles = std::make_unique<Handles>();
    handles->bytes = bytes;
    // poppler-cpp reads from the bytes in place; `bytes` keeps them alive.
    // Given as both passwords, as poppler-glib does, so either of the file's unlocks it.
    handles->document.reset(poppler::document::load_from_raw_data(data, static_cast<int>(size), password, password));
    if (!handles->document || handles->document->is_locked()) return nullptr;
    handles->pages.resize(std::max(handles->document->pages(), 0));
    handles->placeIn.resize(handles->pages.size());
    handles->recognised.resize(handles->pages.size());
    return std::unique_ptr<LayoutPdf>(new LayoutPdf(std::move(handles)));
}

int LayoutPdf::pageCount() const { return handles_->document->pages(); }

const PdfBytes& LayoutPdf::bytes() const { return handles_->bytes; }

std::optional<PageBoxes> LayoutPdf::pageBoxes(int index) const {
    if (index < 0 || index >= pageCount()) return std::nullopt;
    std::unique_ptr<poppler::page> page(handles_->document->create_page(index));
    if (!page) return std::nullopt;
    PageBoxes boxes;
    boxes.display = toPageRect(page->page_rect(poppler::crop_box));
    if (!boxes.display.hasArea()) boxes.display = toPageRect(page->page_rect(poppler::media_box));
    boxes.rotation = rotationOf(page->orientation());
    return boxes;
}

std::string LayoutPdf::pageText(int index) const {
    const auto page = words(index);
    return page ? page->text : std::string();
}

std::shared_ptr<const PageWords> LayoutPdf::makeWords(int index) const {
    std::unique_ptr<poppler::page> page(handles_->document->create_page(index));
    if (!page) return nullptr;
    const poppler::rectf crop = page->page_rect(poppler::crop_box);
    const TextSpace space{crop.left(), crop.top(), crop.right(), crop.bottom(), rotationOf(page->orientation())};
    return collectWords(*page, space);
}

std::shared_ptr<const PageWords> LayoutPdf::words(int index) const {
    if (index < 0 || index >= pageCount() || index >= static_cast<int>(handles_->pages.size())) return nullptr;
    if (const std::shared_ptr<const PageWords>& read = handles_->recognised[index]) return read;
    if (const std::shared_ptr<const PageWords>& kept = handles_->pages[index]) {
        handles_->touch(index);
        return kept;
    }
    std::shared_ptr<const PageWords> made = makeWords(index);
    if (made) handles_->keep(index, made);
    return made;
}

std::size_t LayoutPdf::footprint(const PageWords& words) {
    return sizeof(PageWords) + words.text.capacity() + words.glyphs.capacity() * sizeof(PageWords::Glyph) +
           words.words.capacity() * sizeof(PageWords::Word) + words.lines.capacity() * sizeof(PageWords::Line) +
           words.weak.capacity();
}

void LayoutPdf::setWordsBudget(std::size_t bytes) const {
    handles_->budget = bytes;
    while (handles_->keptBytes > bytes && handles_->recent.size() > 1) handles_->drop(handles_->recent.back());
}

std::size_t LayoutPdf::keptWordsBytes() const { return handles_->keptBytes; }

std::shared_ptr<const PageWords> LayoutPdf::takeWords(int index) const {
    if (index < 0 || index >= pageCount() || index >= static_cast<int>(handles_->pages.size())) return nullptr;
    if (const std::shared_ptr<const PageWords>& read = handles_->recognised[index]) return read;
    std::shared_ptr<const PageWords> taken = std::move(handles_->pages[index]);
    if (!taken) return makeWords(index);
    handles_->pages[index] = taken;  // drop counts what it lets go of
    handles_->drop(index);
    return taken;
}

void LayoutPdf::keepWords(int index, std::shared_ptr<const PageWords> words) const {
    if (!words || index < 0 || index >= static_cast<int>(handles_->pages.size())) return;
    handles_->keep(index, std::move(words));
}

std::vector<TextLine> LayoutPdf::textLines(int index) const {
    std::vector<TextLine> lines;
    const auto page = words(index);
    if (!page) return lines;
    for (const PageWords::Line& line : page->lines) {
        if (!line.rect.hasArea() || line.firstGlyph >= line.endGlyph) continue;
        const std::size_t from = page->glyphs[line.firstGlyph].begin, to = page->endOf(line.endGlyph - 1);
        lines.push_back({line.rect, trimText(std::string_view(page->text).substr(from, to - from), isSpaceOrLineBreak)});
    }
    return lines;
}

std::vector<WordBox> LayoutPdf::wordBoxes(int index) const {
    std::vector<WordBox> boxes;
    const auto page = words(index);
    if (!page) return boxes;
    for (std::uint32_t l = 0; l < page->lines.size(); ++l) {
        const PageWords::Line& line = page->lines[l];
        for (std::uint32_t w = line.firstWord; w < line.endWord && w < page->words.size(); ++w) {
            const PageWords::Word& word = page->words[w];
            if (!word.rect.hasArea() || word.firstGlyph >= word.endGlyph) continue;
            const std::size_t from = page->glyphs[word.firstGlyph].begin, to = page->endOf(word.endGlyph - 1);
            boxes.push_back({word.rect, std::string(page->text, from, to - from), l});
        }
    }
    return boxes;
}

std::optional<TextSelection> LayoutPdf::wordAt(int index, PagePoint point) const {
    const auto page = words(index);
    if (!page) return std::nullopt;
    // Words set tight may overlap: the one whose letter is under the point wins.
    const PageWords::Word* found = nullptr;
    for (std::size_t w = 0; w < page->words.size(); ++w) {
        const PageWords::Word& word = page->words[w];
        if (page->isWeak(w) || !contains(word.rect, point)) continue;
        for (std::size_t i = word.firstGlyph; i < word.endGlyph; ++i)
            if (contains(page->glyphs[i].rect(), point)) return selectionOf(*page, word.firstGlyph, word.endGlyph);
        if (!found) found = &word;
    }
    if (!found) return std::nullopt;
    return selectionOf(*page, found->firstGlyph, found->endGlyph);
}

std::optional<TextSelection> LayoutPdf::select(int index, PagePoint from, PagePoint to, bool wholeLines) const {
    return selectBetween(index, from, to, wholeLines ? Ends::lines : Ends::glyphs);
}

std::optional<TextSelection> LayoutPdf::selectWords(int index, PagePoint from, PagePoint to) const {
    return selectBetween(index, from, to, Ends::words);
}

std::optional<TextSelection> LayoutPdf::selectBetween(int index, PagePoint from, PagePoint to, Ends ends) const {
    const auto page = words(index);
    if (!page || page->lines.empty()) return std::nullopt;
    // The line nearest a point, and the glyph boundary nearest it along that
    // line's own direction, so turned pages need no case of their own.
    struct Place {
        std::size_t line;
        std::size_t boundary;  // glyphs before it are before the point
    };
    auto placeOf = [&](PagePoint p) {
        Place best{0, 0};
        double bestDistance = INFINITY;
        for (std::size_t k = 0; k < page->lines.size(); ++k)
            if (const double d = distanceTo(page->lines[k].rect, p); d < bestDistance) {
                bestDistance = d;
                best.line = k;
            }
        const PageWords::Line& line = page->lines[best.line];
        best.boundary = line.firstGlyph;
        // The line runs from its first glyph towards its last; a line of one
        // glyph is taken as running left to right.
        const PagePoint head = centreOf(page->glyphs[line.firstGlyph].rect());
        const PagePoint tail = centreOf(page->glyphs[line.endGlyph - 1].rect());
        PagePoint direction{1, 0};
        if (std::hypot(tail.x - head.x, tail.y - head.y) > 0) direction = {tail.x - head.x, tail.y - head.y};
        const double along = p.x * direction.x + p.y * direction.y;
        for (std::size_t i = line.firstGlyph; i < line.endGlyph; ++i) {
            const PagePoint c = centreOf(page->glyphs[i].rect());
            if (c.x * direction.x + c.y * direction.y <= along) best.boundary = i + 1;
        }
        return best;
    };
    Place start = placeOf(from), end = placeOf(to);
    if (start.line > end.line || (start.line == end.line && start.boundary > end.boundary)) std::swap(start, end);
    std::size_t first = start.boundary, last = end.boundary;
    if (ends == Ends::lines) {
        first = page->lines[start.line].firstGlyph;
        last = page->lines[end.line].endGlyph;
    } else if (ends == Ends::words && first < last) {
        // A word read with little confidence may be a smudge: the ends move
        // in to the first and last sure words rather than out over it.
        std::size_t head = page->wordOf(first), tail = page->wordOf(last - 1);
        while (head < tail && page->isWeak(head)) ++head;
        while (tail > head && page->isWeak(tail)) --tail;
        if (page->isWeak(head)) return std::nullopt;
        first = page->words[head].firstGlyph;
        last = page->words[tail].endGlyph;
    }
    return selectionOf(*page, first, last);
}

std::vector<TextMatch> LayoutPdf::find(int index, const std::string& query) const {
    std::vector<TextMatch> matches;
    const auto page = words(index);
    if (!page || page->glyphs.empty() || !g_utf8_validate(query.data(), static_cast<gssize>(query.size()), nullptr))
        return matches;
    gchar* foldedQuery = g_utf8_casefold(query.data(), static_cast<gssize>(query.size()));
    const std::string needle = foldedQuery;
    g_free(foldedQuery);
    if (needle.empty()) return matches;
    // The page text case-folded a character at a time, each folded byte
    // remembering the character it came from; a line end reads as a space.
    // ASCII, most of a script, folds to its own lower case byte for byte,
    // without asking GLib (and the heap) once a character.
    std::string haystack;
    std::vector<std::uint32_t> source;
    const std::string& text = page->text;
    haystack.reserve(text.size());
    source.reserve(text.size());
    for (const char* p = text.c_str(); *p;) {
        const auto at = static_cast<std::uint32_t>(p - text.c_str());
        if (static_cast<unsigned char>(*p) < 0x80) {
            haystack += *p == '\n' ? ' ' : g_ascii_tolower(*p);
            source.push_back(at);
            ++p;
            continue;
        }
        const char* next = g_utf8_next_char(p);
        gchar* folded = g_utf8_casefold(p, next - p);
        const std::size_t length = std::strlen(folded);
        haystack.append(folded, length);
        source.insert(source.end(), length, at);
        g_free(folded);
        p = next;
    }
    auto glyphAtOrAfter = [&](std::size_t byte) {
        return static_cast<std::size_t>(
            std::lower_bound(page->glyphs.begin(), page->glyphs.end(), byte,
                             [](const PageWords::Glyph& g, std::size_t b) { return g.begin < b; }) -
            page->glyphs.begin());
    };
    for (std::size_t at = haystack.find(needle); at != std::string::npos; at = haystack.find(needle, at + needle.size())) {
        const std::size_t first = glyphAtOrAfter(source[at]);
        const std::size_t last = glyphAtOrAfter(source[at + needle.size() - 1] + 1);
        const auto pieces = linePieces(*page, first, last);
        if (pieces.empty()) continue;
        TextMatch match{index, pieces.front().second, centreOf(pieces.front().second), centreOf(pieces.back().second)};
        for (const auto& piece : pieces) match.bounds = unite(match.bounds, piece.second);
        matches.push_back(match);
    }
    return matches;
}

std::shared_ptr<const PageWords> LayoutPdf::wordsFromRecognition(int index, const std::vector<RecognisedWord>& words,
                                                                 int dpi, int minConfidence) const {
    if (index < 0 || index >= pageCount() || dpi <= 0) return nullptr;
    std::unique_ptr<poppler::page> page(handles_->document->create_page(index));
    if (!page) return nullptr;
    const poppler::rectf crop = page->page_rect(poppler::crop_box);
    const TextSpace space{crop.left(), crop.top(), crop.right(), crop.bottom(), rotationOf(page->orientation())};
    const double points = 72.0 / dpi;
    auto result = std::make_shared<PageWords>();
    PageWords& out = *result;
    std::optional<int> lineNumber;
    std::optional<Run> previousRun;
    double lineHeight = 0;  // the tallest word of the line so far
    auto closeLine = [&] {
        if (out.lines.empty()) return;
        PageWords::Line& line = out.lines.back();
        line.endWord = static_cast<std::uint32_t>(out.words.size());
        line.endGlyph = static_cast<std::uint32_t>(out.glyphs.size());
        for (std::size_t w = line.firstWord; w < line.endWord; ++w)
            line.rect = w == line.firstWord ? out.words[w].rect : unite(line.rect, out.words[w].rect);
    };
    for (const RecognisedWord& word : words) {
        const glong characters =
            g_utf8_validate(word.text.data(), static_cast<gssize>(word.text.size()), nullptr)
                ? g_utf8_strlen(word.text.data(), static_cast<gssize>(word.text.size()))
                : 0;
        if (characters <= 0 || !(word.w > 0 && word.h > 0) || !std::isfinite(word.x) || !std::isfinite(word.y) ||
            !std::isfinite(word.w) || !std::isfinite(word.h))
            continue;
        // The box in poppler's displayed space (points, y down).
        const double left = word.x * points, top = word.y * points, right = (word.x + word.w) * points,
                     bottom = (word.y + word.h) * points;
        // Tesseract may run two columns of a few lines into one line; a gap
        // of two line heights parts them, as it parts poppler's words.
        // Only the gap is asked: the recognised line keeps to its baseline, but
        // its word boxes rise and fall with ascenders and descenders.
        const Run run = Run::of(poppler::rectf(left, top, right - left, bottom - top), 0);
        const bool parted = previousRun && run.start - previousRun->end > 2 * std::min(run.thickness, lineHeight);
        if (lineNumber != word.line || parted) {
            lineHeight = run.thickness;
            closeLine();
            if (!out.lines.empty()) out.text += '\n';
            out.lines.push_back({static_cast<std::uint32_t>(out.words.size()), 0,
                                 static_cast<std::uint32_t>(out.glyphs.size()), 0, {}});
            lineNumber = word.line;
        } else {
            out.text += ' ';
        }
        previousRun = run;
        lineHeight = std::max(lineHeight, run.thickness);
        const poppler::rectf box(left, top, right - left, bottom - top);
        PageWords::Word entry{static_cast<std::uint32_t>(out.glyphs.size()), 0, space.toPage(box)};
        const double share = (right - left) / static_cast<double>(characters);
        std::size_t i = 0;
        for (const char* p = word.text.c_str(); *p; p = g_utf8_next_char(p), ++i) {
            const PageRect rect =
                space.toPage(poppler::rectf(left + share * static_cast<double>(i), top, share, bottom - top));
            out.glyphs.push_back({static_cast<float>(rect.x), static_cast<float>(rect.y),
                                  static_cast<float>(rect.width), static_cast<float>(rect.height),
                                  static_cast<std::uint32_t>(out.text.size() + (p - word.text.c_str()))});
        }
        out.text += word.text;
        entry.endGlyph = static_cast<std::uint32_t>(out.glyphs.size());
        out.words.push_back(entry);
        out.weak.push_back(word.confidence < minConfidence ? 1 : 0);
    }
    closeLine();
    return result;
}

bool LayoutPdf::setRecognised(int index, std::shared_ptr<const PageWords> words) const {
    if (!words || index < 0 || index >= static_cast<int>(handles_->recognised.size())) return false;
    std::shared_ptr<const PageWords>& slot = handles_->recognised[index];
    const std::size_t kept = handles_->recognisedBytes - (slot ? footprint(*slot) : 0) + footprint(*words);
    if (kept > maxRecognisedBytes) return false;
    handles_->drop(index);
    handles_->recognisedBytes = kept;
    slot = std::move(words);
    return true;
}

bool LayoutPdf::recognised(int index) const {
    return index >= 0 && index < static_cast<int>(handles_->recognised.size()) && handles_->recognised[index];
}

void LayoutPdf::releasePage(int index) const {
    if (index >= 0 && index < static_cast<int>(handles_->pages.size())) handles_->drop(index);
}

}  // namespace tallowmark
