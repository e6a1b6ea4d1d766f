#include "document/render_pdf.hpp"

#include <cairo.h>
#include <poppler.h>

#include <algorithm>

namespace tallowmark {

struct RenderPdf::Handle {
    PdfBytes bytes;
    PopplerDocument* document = nullptr;
    ~Handle() {
        if (document) g_object_unref(document);
    }
};

RenderPdf::RenderPdf(std::unique_ptr<Handle> handle) : handle_(std::move(handle)) {}
RenderPdf::~RenderPdf() = default;

std::unique_ptr<RenderPdf> RenderPdf::open(const PdfBytes& bytes) {
    if (!bytes) return nullptr;
    auto handle = std::make_unique<Handle>();
    handle->bytes = bytes;
    handle->document = poppler_document_new_from_bytes(bytes.get(), nullptr, nullptr);
    if (!handle->document) return nullptr;
    return std::unique_ptr<RenderPdf>(new RenderPdf(std::move(handle)));
}

bool RenderPdf::drawPage(int index, cairo_t* cr, double width, double height, bool forPrinting) const {
    if (index < 0 || index >= poppler_document_get_n_pages(handle_->document)) return false;
    PopplerPage* page = poppler_document_get_page(handle_->document, index);
    if (!page) return false;
    // poppler draws the crop box, rotated as displayed, one unit per point.
    double pageWidth = 0, pageHeight = 0;
    poppler_page_get_size(page, &pageWidth, &pageHeight);
    const bool drawn = pageWidth > 0 && pageHeight > 0;
    if (drawn) {
        const double scale = std::min(width / pageWidth, height / pageHeight);
        cairo_save(cr);
        cairo_translate(cr, (width - pageWidth * scale) / 2, (height - pageHeight * scale) / 2);
        cairo_scale(cr, scale, scale);
        if (forPrinting) poppler_page_render_for_printing(page, cr);
        else poppler_page_render(page, cr);
        cairo_restore(cr);
    }
    g_object_unref(page);
    return drawn;
}

}  // namespace tallowmark
