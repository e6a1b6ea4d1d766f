#pragma once

// The text-and-layout handle on an open PDF: page boxes, rotation, text and
// text lines. The only file that talks to poppler's text side; every rectangle
// leaves it in PDF page space (origin bottom-left, y up, unrotated).

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "document/page_geometry.hpp"
#include "document/pdf_bytes.hpp"

namespace tallowmark {

struct PageBoxes {
    PageRect display;  // crop box, or media box when the crop box is empty
    int rotation = 0;  // 0, 90, 180 or 270, clockwise as displayed
};

struct TextLine {
    PageRect rect;
    std::string text;  // trimmed of white space and line breaks
};

// Text chosen on a page, as poppler selects it.
struct TextSelection {
    std::string text;               // untrimmed
    PageRect bounds;                // union of the lines
    std::vector<PageRect> lines;    // poppler's line boxes, in selection order
};

enum class SelectionStyle { glyph, word, line };

// One occurrence of a searched text, possibly spread over several lines.
struct TextMatch {
    int page = 0;
    PageRect bounds;
    PagePoint first;  // middle of the first and the last line box of the match
    PagePoint last;
};

class LayoutPdf {
public:
    // None when poppler cannot read the bytes as a PDF.
    static std::unique_ptr<LayoutPdf> open(const PdfBytes& bytes);
    ~LayoutPdf();
    LayoutPdf(const LayoutPdf&) = delete;
    LayoutPdf& operator=(const LayoutPdf&) = delete;

    int pageCount() const;
    std::optional<PageBoxes> pageBoxes(int index) const;
    std::string pageText(int index) const;
    // The page's text lines in poppler's reading order; lines without area are left out.
    std::vector<TextLine> textLines(int index) const;

    // The text between two points (a word or whole lines around them with the
    // wider styles); none when nothing is selected.
    std::optional<TextSelection> select(int index, PagePoint from, PagePoint to, SelectionStyle style) const;
    // Occurrences of `query` on one page in reading order, letter case ignored,
    // marks significant, across line ends.
    std::vector<TextMatch> find(int index, const std::string& query) const;

private:
    struct Handles;
    explicit LayoutPdf(std::unique_ptr<Handles> handles);
    std::unique_ptr<Handles> handles_;
};

}  // namespace tallowmark
