#pragma once

// The text-and-layout handle on an open PDF: page boxes, rotation, text and
// text lines. The only file that talks to poppler's text side; every rectangle
// leaves it in PDF page space (origin bottom-left, y up, unrotated). Words are
// poppler's own words; lines are built from them (see layout_pdf.cpp).

#include <cstddef>
#include <cstdint>
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

// Whether each line lies on the page's first or last baseline, where a
// printed page number stands; a spread carries one in each half.
std::vector<bool> onOuterBaselines(const std::vector<TextLine>& lines);

struct PageWords;
struct RecognisedWord;

// One of poppler's words, with the index of its line on the page.
struct WordBox {
    PageRect rect;
    std::string text;
    std::uint32_t line = 0;
};

// Text chosen on a page.
struct TextSelection {
    std::string text;               // untrimmed
    PageRect bounds;                // union of the lines
    std::vector<PageRect> lines;    // ink of each line, in reading order
};

// One occurrence of a searched text, possibly spread over several lines.
struct TextMatch {
    int page = 0;
    PageRect bounds;
    PagePoint first;  // middle of the first and the last line box of the match
    PagePoint last;
};

class LayoutPdf {
public:
    // None when poppler cannot read the bytes as a PDF, or `password` (empty:
    // none) does not unlock an encrypted one.
    static std::unique_ptr<LayoutPdf> open(const PdfBytes& bytes, const std::string& password = {});
    ~LayoutPdf();
    LayoutPdf(const LayoutPdf&) = delete;
    LayoutPdf& operator=(const LayoutPdf&) = delete;

    int pageCount() const;
    // The bytes it reads, shared.
    const PdfBytes& bytes() const;
    std::optional<PageBoxes> pageBoxes(int index) const;
    std::string pageText(int index) const;
    // The page's text lines in poppler's reading order; lines without area are left out.
    std::vector<TextLine> textLines(int index) const;
    // The page's words in the same reading order; words without area are left out.
    std::vector<WordBox> wordBoxes(int index) const;

    // The library's word under the point; none when no word lies there.
    std::optional<TextSelection> wordAt(int index, PagePoint point) const;
    // The text from the glyph nearest `from` to the glyph nearest `to` in
    // reading order, or the whole lines of both; none when nothing is selected.
    // Lines between the two that lie outside the block the two lines span (the
    // other column of a script, the other half of a spread) are left out.
    std::optional<TextSelection> select(int index, PagePoint from, PagePoint to, bool wholeLines) const;
    // As select, widened to the whole words at both ends.
    std::optional<TextSelection> selectWords(int index, PagePoint from, PagePoint to) const;
    // Occurrences of `query` on one page in reading order, letter case ignored,
    // marks significant, across line ends (a line end reads as one space).
    std::vector<TextMatch> find(int index, const std::string& query) const;

    // Lets go of what poppler built for page `index` and of its glyph boxes;
    // both are made again if the page is asked about later. The line
    // collection at open calls it once a page's lines are taken.
    void releasePage(int index) const;

    // A page's words (its text and glyph boxes) are made by poppler's layout,
    // the slow step of every question about the page, and kept while all kept
    // pages fit in the budget; the least recently used go first. The newest
    // page is kept whatever its size, so questions about one page never lay
    // it out again and again. 8 MiB is some fifty text-dense pages: more than
    // a search for a common word reads before its limit of hits.
    static constexpr std::size_t defaultWordsBudget = std::size_t{8} << 20;
    void setWordsBudget(std::size_t bytes) const;
    std::size_t keptWordsBytes() const;
    // The words of page `index`, made if need be, no longer kept here; none for
    // no such page. Words depend on the bytes alone, so another LayoutPdf on
    // the same bytes may keep them (keepWords): the open hands over what its
    // workers laid out.
    std::shared_ptr<const PageWords> takeWords(int index) const;
    void keepWords(int index, std::shared_ptr<const PageWords> words) const;
    // What a page's words take in memory, in bytes.
    static std::size_t footprint(const PageWords& words);

    // Words read by text recognition from page `index` drawn at `dpi` (crop
    // box, rotation applied, pixels from the top-left), as the page's words:
    // one line per recognised line, each character an equal share of its
    // word's box. A word below `minConfidence` is kept for search and lines
    // but is never snapped to. None for no such page.
    std::shared_ptr<const PageWords> wordsFromRecognition(int index, const std::vector<RecognisedWord>& words,
                                                          int dpi, int minConfidence) const;
    // The page's words from now on, in place of its text layer's; they stay
    // whatever the budget, since they cannot be made again from the bytes.
    // False, with nothing kept, once the recognised words of all pages would
    // pass maxRecognisedBytes: a scan of thousands of dense pages must not
    // take the memory of the show.
    bool setRecognised(int index, std::shared_ptr<const PageWords> words) const;
    // Some 3,000 dense pages of recognised words.
    static constexpr std::size_t maxRecognisedBytes = std::size_t{256} << 20;
    bool recognised(int index) const;

private:
    struct Handles;
    enum class Ends { glyphs, words, lines };
    std::shared_ptr<const PageWords> words(int index) const;
    std::shared_ptr<const PageWords> makeWords(int index) const;
    std::optional<TextSelection> selectBetween(int index, PagePoint from, PagePoint to, Ends ends) const;
    explicit LayoutPdf(std::unique_ptr<Handles> handles);
    std::unique_ptr<Handles> handles_;
};

}  // namespace tallowmark
