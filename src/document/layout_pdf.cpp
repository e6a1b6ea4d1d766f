#include "document/layout_pdf.hpp"

#include <poppler.h>

#include <algorithm>
#include <climits>
#include <cpp/poppler-document.h>
#include <cpp/poppler-page.h>

#include "core/unicode_text.hpp"

namespace tallowmark {

// poppler-glib gives the text; poppler-cpp the media box and rotation, which
// glib 22.x does not expose. Both read the same bytes.
struct LayoutPdf::Handles {
    PdfBytes bytes;
    PopplerDocument* text = nullptr;
    std::unique_ptr<poppler::document> boxes;
    // Pages are kept once fetched: each holds the text page poppler built for
    // it, so the search after the line collection at open does not rebuild it.
    std::vector<PopplerPage*> pages;

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

PopplerSelectionStyle popplerStyle(SelectionStyle style) {
    switch (style) {
        case SelectionStyle::word: return POPPLER_SELECTION_WORD;
        case SelectionStyle::line: return POPPLER_SELECTION_LINE;
        default: return POPPLER_SELECTION_GLYPH;
    }
}

// The line boxes of a selection. poppler's cairo region would merge the boxes
// of neighbouring lines where they overlap and cut them into bands, losing the
// lines; the older rectangle list keeps one box per line.
std::vector<PageRect> selectionLines(PopplerPage* page, const TextSpace& space, PopplerSelectionStyle style,
                                     PopplerRectangle& area) {
    std::vector<PageRect> lines;
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
    GList* region = poppler_page_get_selection_region(page, 1.0, style, &area);
    for (GList* item = region; item; item = item->next) {
        const PageRect r = space.toPage(*static_cast<PopplerRectangle*>(item->data));
        if (r.width > 0 || r.height > 0) lines.push_back(r);
    }
    poppler_page_selection_region_free(region);
#pragma GCC diagnostic pop
    return lines;
}

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

std::vector<TextLine> LayoutPdf::textLines(int index) const {
    std::vector<TextLine> lines;
    const std::optional<PageBoxes> boxes = pageBoxes(index);
    if (!boxes) return lines;
    PopplerPage* page = handles_->page(index);
    if (!page) return lines;
    const TextSpace space = textSpace(page, boxes->rotation);

    gchar* text = poppler_page_get_text(page);
    PopplerRectangle* rects = nullptr;
    guint rectCount = 0;
    const bool haveLayout = text && poppler_page_get_text_layout(page, &rects, &rectCount);
    if (haveLayout) {
        // One rectangle per character of the text, line breaks included.
        std::string current;
        std::optional<PageRect> bounds;
        auto finishLine = [&] {
            if (bounds && bounds->hasArea())
                lines.push_back({*bounds, trimText(current, isSpaceOrLineBreak)});
            current.clear();
            bounds.reset();
        };
        guint i = 0;
        for (const char* p = text; *p; p = g_utf8_next_char(p), ++i) {
            const gunichar c = g_utf8_get_char(p);
            if (c == '\n') {
                finishLine();
                continue;
            }
            current.append(p, g_utf8_next_char(p) - p);
            // Blanks carry poppler's guessed gaps; they would stretch a line past its ink.
            if (i < rectCount && !isSpaceOrLineBreak(c)) {
                const PageRect r = space.toPage(rects[i]);
                bounds = bounds ? unite(*bounds, r) : r;
            }
        }
        finishLine();
    }
    g_free(rects);
    g_free(text);
    return lines;
}

std::optional<TextSelection> LayoutPdf::select(int index, PagePoint from, PagePoint to, SelectionStyle style) const {
    const std::optional<PageBoxes> boxes = pageBoxes(index);
    PopplerPage* page = boxes ? handles_->page(index) : nullptr;
    if (!page) return std::nullopt;
    const TextSpace space = textSpace(page, boxes->rotation);
    PopplerRectangle area;
    space.fromPage(from.x, from.y, area.x1, area.y1);
    space.fromPage(to.x, to.y, area.x2, area.y2);
    const PopplerSelectionStyle chosen = popplerStyle(style);

    TextSelection selection;
    selection.lines = selectionLines(page, space, chosen, area);
    if (selection.lines.empty()) return std::nullopt;
    selection.bounds = selection.lines.front();
    for (const PageRect& line : selection.lines) selection.bounds = unite(selection.bounds, line);
    gchar* text = poppler_page_get_selected_text(page, chosen, &area);
    selection.text = text ? text : "";
    g_free(text);
    return selection;
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

}  // namespace tallowmark
