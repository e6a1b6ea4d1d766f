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

    ~Handles() {
        if (text) g_object_unref(text);
    }
};

namespace {

struct PageRef {
    PopplerPage* page = nullptr;
    explicit PageRef(PopplerPage* p) : page(p) {}
    ~PageRef() {
        if (page) g_object_unref(page);
    }
    PageRef(const PageRef&) = delete;
    PageRef& operator=(const PageRef&) = delete;
};

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
    if (index < 0 || index >= pageCount()) return {};
    PageRef page(poppler_document_get_page(handles_->text, index));
    if (!page.page) return {};
    gchar* text = poppler_page_get_text(page.page);
    std::string result = text ? text : "";
    g_free(text);
    return result;
}

std::vector<TextLine> LayoutPdf::textLines(int index) const {
    std::vector<TextLine> lines;
    const std::optional<PageBoxes> boxes = pageBoxes(index);
    if (!boxes) return lines;
    PageRef page(poppler_document_get_page(handles_->text, index));
    if (!page.page) return lines;
    TextSpace space{{}, boxes->rotation};
    poppler_page_get_crop_box(page.page, &space.crop);

    gchar* text = poppler_page_get_text(page.page);
    PopplerRectangle* rects = nullptr;
    guint rectCount = 0;
    const bool haveLayout = text && poppler_page_get_text_layout(page.page, &rects, &rectCount);
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

}  // namespace tallowmark
