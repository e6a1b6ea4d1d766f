#pragma once

// Fonts and runs of text on the export's cairo context.

#include <cairo.h>
#include <pango/pangocairo.h>

#include <memory>
#include <cstdint>
#include <string>
#include <string_view>
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

// The lines between line feeds; an empty text is one empty line. At most
// `maxLines` are made: the text after them is not read.
std::vector<std::string> splitLines(std::string_view text, std::size_t maxLines = SIZE_MAX);
std::string trimmed(const std::string& text, const char* blanks);

// How much of an operator's text is laid out. A label, memo, flag or inserted
// line may hold anything (the marks file keeps it whole); what is drawn is a
// bounded start of it, found without reading further than it keeps. The page
// cuts by the same rules (web/src/state/shown_text.ts).
struct Clipped {
    std::string_view text;
    bool cut = false;  // something was left out
};
// At most `maxChars` code points and `maxLines` lines (a line feed ends a
// line and counts as a character).
Clipped visiblePrefix(std::string_view text, std::size_t maxChars, std::size_t maxLines = SIZE_MAX);
// The start of at most `maxChars` code points; when cut, trailing blanks go
// and an ellipsis says there is more.
std::string shortText(std::string_view text, std::size_t maxChars);
// The most characters a box can show: no glyph of our faces is narrower than
// a fifth of the font size, no line lower than the size. Text past this lies
// outside the box, so cutting it there changes nothing drawn.
struct VisibleRoom {
    std::size_t chars = 0, lines = 0;
};
VisibleRoom visibleChars(double width, double height, double fontSize);
// A tag (a flag's chip, a region's tab) holds no more characters than fit
// across the page in its monospaced face, counted in the page's measured
// pixels as the page counts them.
std::size_t tagChars(double pageWpx, double fontPx);

// Draws the text word-wrapped to the box's width and clipped to the box, from
// its top-left corner; the colour is set inside the clip and ends with it.
void drawWrappedText(cairo_t* cr, const std::string& text, const PangoFontDescription* desc, const Box& box,
                     const Rgba& color);

}  // namespace tallowmark::export_drawing
