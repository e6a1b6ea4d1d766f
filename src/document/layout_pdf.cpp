#include "document/layout_pdf.hpp"

#include <poppler.h>

#include <algorithm>
#include <climits>
#include <cmath>
#include <cpp/poppler-document.h>
#include <cpp/poppler-page.h>

#include "core/unicode_text.hpp"

namespace tallowmark {

// A page's text with one box per character in page space, split into lines.
// Words, drags and whole lines are cut from these boxes rather than asked of
// poppler's selection calls: in poppler 22.12 those pick the wrong words on
// pages turned 180 or 270 degrees (a point on one word selects the first word
// of the line), while the glyph boxes are right in every rotation. The
// turned-page selection tests show when poppler's calls could serve again.
struct GlyphLayout {
    struct Glyph {
        std::size_t begin = 0, end = 0;  // bytes of the character in `text`
        PageRect rect;
        bool blank = true;  // white space or line break: no ink of its own
    };
    std::string text;
    std::vector<Glyph> glyphs;
    std::vector<std::pair<std::size_t, std::size_t>> lines;  // glyph ranges [first, last)
};

// poppler-glib gives the text; poppler-cpp the media box and rotation, which
// glib 22.x does not expose. Both read the same bytes.
struct LayoutPdf::Handles {
    PdfBytes bytes;
    PopplerDocument* text = nullptr;
    std::unique_ptr<poppler::document> boxes;
    // Pages are kept once fetched: each holds the text page poppler built for
    // it, so the search after the line collection at open does not rebuild it.
    std::vector<PopplerPage*> pages;
    // Each page's glyph boxes, made once: selections ask for them many times.
    std::vector<std::unique_ptr<GlyphLayout>> layouts;

    ~Handles() {
        for (PopplerPage* page : pages)
            if (page) g_object_unref(page);
        if (text) g_object_unref(text);
    }

    PopplerPage* page(int index) {
        if (index < 0 || index >= poppler_document_get_n_pages(text)) return nullptr;
        if (pages.empty()) pages.resize(poppler_document_get_n_pages(text), nullptr);
        if (!pages[index]) pages[index] = poppler_document_get_page(text, index);
        return pages[index];
    }
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
    PopplerRectangle crop;
    int rotation;

    void toPage(double tx, double ty, double& x, double& y) const {
        switch (rotation) {
            case 90: x = crop.x1 + ty; y = crop.y1 + tx; break;
            case 180: x = crop.x2 - tx; y = crop.y1 + ty; break;
            case 270: x = crop.x2 - ty; y = crop.y2 - tx; break;
            default: x = crop.x1 + tx; y = crop.y2 - ty; break;
        }
    }

    void fromPage(double x, double y, double& tx, double& ty) const {
        switch (rotation) {
            case 90: tx = y - crop.y1; ty = x - crop.x1; break;
            case 180: tx = crop.x2 - x; ty = y - crop.y1; break;
            case 270: tx = crop.y2 - y; ty = crop.x2 - x; break;
            default: tx = x - crop.x1; ty = crop.y2 - y; break;
        }
    }

    PageRect toPage(const PopplerRectangle& r) const {
        double ax, ay, bx, by;
        toPage(r.x1, r.y1, ax, ay);
        toPage(r.x2, r.y2, bx, by);
        return {std::min(ax, bx), std::min(ay, by), std::abs(bx - ax), std::abs(by - ay)};
    }
};

PageRect unite(const PageRect& a, const PageRect& b) {
    const double x0 = std::min(a.minX(), b.minX()), y0 = std::min(a.minY(), b.minY());
    return {x0, y0, std::max(a.maxX(), b.maxX()) - x0, std::max(a.maxY(), b.maxY()) - y0};
}

TextSpace textSpace(PopplerPage* page, int rotation) {
    TextSpace space{{}, rotation};
    poppler_page_get_crop_box(page, &space.crop);
    return space;
}

// The ink of glyphs [first, last), or none when they are all blank.
std::optional<PageRect> inkOf(const GlyphLayout& layout, std::size_t first, std::size_t last) {
    std::optional<PageRect> bounds;
    for (std::size_t i = first; i < last; ++i)
        if (!layout.glyphs[i].blank) bounds = bounds ? unite(*bounds, layout.glyphs[i].rect) : layout.glyphs[i].rect;
    return bounds;
}

double distanceTo(const PageRect& r, PagePoint p) {
    const double dx = std::max({r.minX() - p.x, 0.0, p.x - r.maxX()});
    const double dy = std::max({r.minY() - p.y, 0.0, p.y - r.maxY()});
    return std::hypot(dx, dy);
}

PagePoint centreOf(const PageRect& r) { return {r.x + r.width / 2, r.y + r.height / 2}; }

}  // namespace

LayoutPdf::LayoutPdf(std::unique_ptr<Handles> handles) : handles_(std::move(handles)) {}
LayoutPdf::~LayoutPdf() = default;

std::unique_ptr<LayoutPdf> LayoutPdf::open(const PdfBytes& bytes) {
    if (!bytes) return nullptr;
    gsize size = 0;
    const char* data = static_cast<const char*>(g_bytes_get_data(bytes.get(), &size));
    if (size == 0 || size > INT_MAX) return nullptr;
    auto handles = std::make_unique<Handles>();
    handles->bytes = bytes;
    handles->text = poppler_document_new_from_bytes(bytes.get(), nullptr, nullptr);
    if (!handles->text) return nullptr;
    handles->boxes.reset(poppler::document::load_from_raw_data(data, static_cast<int>(size)));
    if (!handles->boxes || handles->boxes->is_locked()) return nullptr;
    return std::unique_ptr<LayoutPdf>(new LayoutPdf(std::move(handles)));
}

int LayoutPdf::pageCount() const { return poppler_document_get_n_pages(handles_->text); }

std::optional<PageBoxes> LayoutPdf::pageBoxes(int index) const {
    if (index < 0 || index >= pageCount()) return std::nullopt;
    std::unique_ptr<poppler::page> page(handles_->boxes->create_page(index));
    if (!page) return std::nullopt;
    PageBoxes boxes;
    boxes.display = toPageRect(page->page_rect(poppler::crop_box));
    if (!boxes.display.hasArea()) boxes.display = toPageRect(page->page_rect(poppler::media_box));
    boxes.rotation = rotationOf(page->orientation());
    return boxes;
}

std::string LayoutPdf::pageText(int index) const {
    PopplerPage* page = handles_->page(index);
    if (!page) return {};
    gchar* text = poppler_page_get_text(page);
    std::string result = text ? text : "";
    g_free(text);
    return result;
}

const GlyphLayout* LayoutPdf::layout(int index) const {
    const std::optional<PageBoxes> boxes = pageBoxes(index);
    PopplerPage* page = boxes ? handles_->page(index) : nullptr;
    if (!page) return nullptr;
    if (handles_->layouts.empty()) handles_->layouts.resize(pageCount());
    std::unique_ptr<GlyphLayout>& cached = handles_->layouts[index];
    if (cached) return cached.get();

    cached = std::make_unique<GlyphLayout>();
    GlyphLayout& result = *cached;
    const TextSpace space = textSpace(page, boxes->rotation);
    gchar* text = poppler_page_get_text(page);
    PopplerRectangle* rects = nullptr;
    guint rectCount = 0;
    if (text && poppler_page_get_text_layout(page, &rects, &rectCount)) {
        // One rectangle per character of the text, line breaks included.
        result.text = text;
        std::size_t lineStart = 0;
        guint i = 0;
        for (const char* p = text; *p; p = g_utf8_next_char(p), ++i) {
            const gunichar c = g_utf8_get_char(p);
            GlyphLayout::Glyph glyph;
            glyph.begin = static_cast<std::size_t>(p - text);
            glyph.end = static_cast<std::size_t>(g_utf8_next_char(p) - text);
            // Blanks carry poppler's guessed gaps; they would stretch a line past its ink.
            glyph.blank = isSpaceOrLineBreak(c) || i >= rectCount;
            if (i < rectCount) glyph.rect = space.toPage(rects[i]);
            result.glyphs.push_back(glyph);
            if (c == '\n') {
                result.lines.emplace_back(lineStart, result.glyphs.size() - 1);
                lineStart = result.glyphs.size();
            }
        }
        if (lineStart < result.glyphs.size()) result.lines.emplace_back(lineStart, result.glyphs.size());
    }
    g_free(rects);
    g_free(text);
    return &result;
}

std::vector<TextLine> LayoutPdf::textLines(int index) const {
    std::vector<TextLine> lines;
    const GlyphLayout* glyphs = layout(index);
    if (!glyphs) return lines;
    for (const auto& [first, last] : glyphs->lines) {
        const std::optional<PageRect> ink = inkOf(*glyphs, first, last);
        if (!ink || !ink->hasArea()) continue;
        const std::size_t from = glyphs->glyphs[first].begin, to = glyphs->glyphs[last - 1].end;
        lines.push_back({*ink, trimText(std::string_view(glyphs->text).substr(from, to - from), isSpaceOrLineBreak)});
    }
    return lines;
}

std::optional<TextSelection> LayoutPdf::selectGlyphs(const GlyphLayout& glyphs, std::size_t first,
                                                    std::size_t last) {
    if (first >= last) return std::nullopt;
    TextSelection selection;
    selection.text = glyphs.text.substr(glyphs.glyphs[first].begin, glyphs.glyphs[last - 1].end - glyphs.glyphs[first].begin);
    for (const auto& [lineFirst, lineLast] : glyphs.lines) {
        const std::size_t from = std::max(first, lineFirst), to = std::min(last, lineLast);
        if (from >= to) continue;
        if (const std::optional<PageRect> ink = inkOf(glyphs, from, to)) {
            selection.lines.push_back(*ink);
            selection.bounds = selection.lines.size() == 1 ? *ink : unite(selection.bounds, *ink);
        }
    }
    if (selection.lines.empty()) return std::nullopt;
    return selection;
}

std::optional<TextSelection> LayoutPdf::wordAt(int index, PagePoint point) const {
    const GlyphLayout* glyphs = layout(index);
    if (!glyphs) return std::nullopt;
    for (const auto& [first, last] : glyphs->lines)
        for (std::size_t i = first; i < last; ++i) {
            const PageRect& r = glyphs->glyphs[i].rect;
            if (glyphs->glyphs[i].blank || point.x < r.minX() || point.x > r.maxX() || point.y < r.minY() ||
                point.y > r.maxY())
                continue;
            std::size_t begin = i, end = i + 1;
            while (begin > first && !glyphs->glyphs[begin - 1].blank) --begin;
            while (end < last && !glyphs->glyphs[end].blank) ++end;
            return selectGlyphs(*glyphs, begin, end);
        }
    return std::nullopt;
}

std::optional<TextSelection> LayoutPdf::select(int index, PagePoint from, PagePoint to, bool wholeLines) const {
    const GlyphLayout* glyphs = layout(index);
    if (!glyphs) return std::nullopt;
    // The line nearest a point, and the glyph boundary nearest it along that
    // line's own direction, so turned pages need no case of their own.
    struct Place {
        std::size_t line;
        std::size_t boundary;  // glyphs before it are before the point
    };
    auto placeOf = [&](PagePoint p) -> std::optional<Place> {
        std::optional<Place> best;
        double bestDistance = INFINITY;
        for (std::size_t k = 0; k < glyphs->lines.size(); ++k) {
            const auto [first, last] = glyphs->lines[k];
            const std::optional<PageRect> ink = inkOf(*glyphs, first, last);
            if (!ink) continue;
            if (const double d = distanceTo(*ink, p); d < bestDistance) {
                bestDistance = d;
                best = Place{k, first};
            }
        }
        if (!best) return best;
        const auto [first, last] = glyphs->lines[best->line];
        // The line runs from its first inked glyph towards its last; a line of
        // one glyph is taken as running left to right.
        std::vector<PagePoint> centres;
        for (std::size_t i = first; i < last; ++i)
            if (!glyphs->glyphs[i].blank) centres.push_back(centreOf(glyphs->glyphs[i].rect));
        PagePoint direction{1, 0};
        if (const double length = std::hypot(centres.back().x - centres.front().x, centres.back().y - centres.front().y);
            length > 0)
            direction = {centres.back().x - centres.front().x, centres.back().y - centres.front().y};
        const double along = p.x * direction.x + p.y * direction.y;
        for (std::size_t i = first; i < last; ++i) {
            if (glyphs->glyphs[i].blank) continue;
            const PagePoint c = centreOf(glyphs->glyphs[i].rect);
            if (c.x * direction.x + c.y * direction.y <= along) best->boundary = i + 1;
        }
        return best;
    };
    std::optional<Place> start = placeOf(from), end = placeOf(to);
    if (!start || !end) return std::nullopt;
    if (start->line > end->line) std::swap(start, end);
    if (wholeLines) return selectGlyphs(*glyphs, glyphs->lines[start->line].first, glyphs->lines[end->line].second);
    // The start takes the glyph after its boundary; the end the glyph before its own.
    std::size_t first = start->boundary;
    while (first < glyphs->lines[start->line].second && glyphs->glyphs[first].blank) ++first;
    return selectGlyphs(*glyphs, first, end->boundary);
}

std::vector<TextMatch> LayoutPdf::find(int index, const std::string& query) const {
    std::vector<TextMatch> matches;
    const std::optional<PageBoxes> boxes = pageBoxes(index);
    PopplerPage* page = boxes ? handles_->page(index) : nullptr;
    if (!page) return matches;
    const TextSpace space = textSpace(page, boxes->rotation);
    // Found boxes come with y measured up from the displayed page's foot.
    double height = 0;
    poppler_page_get_size(page, nullptr, &height);
    GList* found = poppler_page_find_text_with_options(page, query.c_str(), POPPLER_FIND_MULTILINE);
    std::optional<TextMatch> current;
    for (GList* item = found; item; item = item->next) {
        PopplerRectangle* box = static_cast<PopplerRectangle*>(item->data);
        PopplerRectangle r = *box;
        r.y1 = height - box->y2;
        r.y2 = height - box->y1;
        const PageRect part = space.toPage(r);
        const PagePoint middle{part.x + part.width / 2, part.y + part.height / 2};
        if (!current) {
            current = TextMatch{index, part, middle, middle};
        } else {
            current->bounds = unite(current->bounds, part);
            current->last = middle;
        }
        // A match running on to the next line continues in the next box.
        if (!poppler_rectangle_find_get_match_continued(box)) {
            matches.push_back(*current);
            current.reset();
        }
    }
    g_list_free_full(found, reinterpret_cast<GDestroyNotify>(poppler_rectangle_free));
    return matches;
}

void LayoutPdf::releasePage(int index) const {
    if (index < 0) return;
    const auto at = static_cast<std::size_t>(index);
    if (at < handles_->pages.size() && handles_->pages[at]) {
        g_object_unref(handles_->pages[at]);
        handles_->pages[at] = nullptr;
    }
    if (at < handles_->layouts.size()) handles_->layouts[at].reset();
}

}  // namespace tallowmark
