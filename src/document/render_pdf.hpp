#pragma once

// The drawing handle on an open PDF: a second poppler document on the same
// bytes, used only to draw pages with cairo. The only file that talks to
// poppler's drawing side.

#include <memory>
#include <string>

#include "document/pdf_bytes.hpp"

typedef struct _cairo cairo_t;

namespace tallowmark {

class RenderPdf {
public:
    // None when poppler cannot read the bytes, with the reason in `why` when
    // asked for. `password` (empty: none) unlocks an encrypted file; it may be
    // either of the file's passwords.
    static std::unique_ptr<RenderPdf> open(const PdfBytes& bytes, const std::string& password = {},
                                           PdfOpenError* why = nullptr);
    ~RenderPdf();
    RenderPdf(const RenderPdf&) = delete;
    RenderPdf& operator=(const RenderPdf&) = delete;

    // Draws page `index` (0-based, rotation applied) fitted into the rectangle
    // (0, 0, width, height) of `cr`'s user space, aspect ratio preserved and
    // centred; false when there is no such page. `forPrinting` draws as for
    // a printed or exported copy (annotations meant for print, no screen-only
    // ones), the form a marked-script export wants.
    bool drawPage(int index, cairo_t* cr, double width, double height, bool forPrinting = false) const;

private:
    struct Handle;
    explicit RenderPdf(std::unique_ptr<Handle> handle);
    std::unique_ptr<Handle> handle_;
};

}  // namespace tallowmark
