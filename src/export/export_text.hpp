#pragma once

// Fonts and runs of text on the export's cairo context.

#include <cairo.h>
#include <pango/pangocairo.h>

#include <memory>
#include <string>
#include <vector>

#include "export/export_drawing.hpp"
#include "export/export_layout.hpp"
#include "export/markup_exporter.hpp"

namespace tallowmark::export_drawing {

using FontPtr = std::unique_ptr<PangoFontDescription, void (*)(PangoFontDescription*)>;

// The size is absolute (points) and clamped to what cairo can draw.
FontPtr font(const char* family, PangoWeight weight, PangoStyle style, double size);

// The bold monospaced font the cue labels are set in, matching the one the
// measured page used.
FontPtr labelFont(double size, const Layout& layout);

// One run of text in one font on the output context; measures and draws.
class TextRun {
public:
    TextRun(cairo_t* cr, const PangoFontDescription* desc, double letterSpacing = 0);
    ~TextRun();
    TextRun(const TextRun&) = delete;
    TextRun& operator=(const TextRun&) = delete;

    double ascent() const { return ascent_; }
    double lineHeight() const { return ascent_ + descent_; }  // ascender - descender

    double width(const std::string& text);
    // Draws one line with its baseline starting at (x, baseline).
    void draw(const std::string& text, double x, double baseline);
    // The family name of the font actually used, after fontconfig's fallback.
    std::string resolvedFamily();

private:
    cairo_t* cr_;
    PangoLayout* layout_;
    double ascent_ = 0, descent_ = 0;
};

// The lines between line feeds; an empty text is one empty line.
std::vector<std::string> splitLines(const std::string& text);
std::string trimmed(const std::string& text, const char* blanks);

// Draws the text word-wrapped to the box's width and clipped to the box, from
// its top-left corner; the colour is set inside the clip and ends with it.
void drawWrappedText(cairo_t* cr, const std::string& text, const PangoFontDescription* desc, const Box& box,
                     const Rgba& color);

}  // namespace tallowmark::export_drawing
