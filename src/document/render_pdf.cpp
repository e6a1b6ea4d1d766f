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

std::unique_ptr<RenderPdf> RenderPdf::open(const PdfBytes& bytes, const std::string& password, PdfOpenError* why) {
    if (why) *why = PdfOpenError::unreadable;
    if (!bytes) return nullptr;
    auto handle = std::make_unique<Handle>();
    handle->bytes = bytes;
    GError* error = nullptr;
    if (password.empty()) {
        handle->document = poppler_document_new_from_bytes(bytes.get(), nullptr, &error);
    } else {
        // poppler-glib 22.12 (Debian 12) crashes in new_from_bytes and
        // new_from_data when a password is given and its first try fails: the
        // retry casts a copy of its stream to a type the copy is not, and reads
        // through null. new_from_stream copies soundly; over a memory stream of
        // the same bytes it reads no file. Back to new_from_bytes once the
        // oldest poppler built against has the fix.
        const gsize size = g_bytes_get_size(bytes.get());
        if (size == 0) return nullptr;
        GInputStream* stream = g_memory_input_stream_new_from_bytes(bytes.get());
        handle->document = poppler_document_new_from_stream(stream, static_cast<goffset>(size), password.c_str(),
                                                            nullptr, &error);
        g_object_unref(stream);
    }
    if (!handle->document) {
        // The error's code, never its text: the text is poppler's and may change.
        if (why && g_error_matches(error, POPPLER_ERROR, POPPLER_ERROR_ENCRYPTED)) *why = PdfOpenError::locked;
        g_clear_error(&error);
        return nullptr;
    }
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
