#pragma once

// The export layout: where the page placed cue boxes, labels, inserted lines
// and hidden or struck text, measured page by page just before an export. The
// exporter draws these exactly as the operator saw them on screen.
//
// Units: px are pixels of the page as displayed (`pageWpx` wide); width
// fractions run 0..1 across the page; grown-height fractions run down the page
// after room for inserted lines was added; page-height fractions run down the
// page's own (cropped) height.

#include <array>
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "core/json_helpers.hpp"

namespace tallowmark {

// Room opened in the page: the page is cut at `afterY` and the part below moves
// down by `height` (both page-height fractions).
struct Gap {
    double afterY = 0;
    double height = 0;
};

// A text row split sideways: the part left of x0 moves left by dL, the part
// right of x1 moves right by dR (width fractions); top and bottom are
// page-height fractions.
struct HRow {
    double top = 0, bottom = 0;
    double x0 = 0, x1 = 0;
    double dL = 0, dR = 0;
};

struct CueBox {
    std::string id;
    std::string color;
    double x = 0, w = 0, dy = 0, dh = 0;
    double padL = 0, padR = 0;
    double outlineOffset = 0;
};

struct Label {
    std::string id;
    std::string text;  // lines separated by line feeds
    std::string color;
    double x = 0, w = 0, dy = 0, dh = 0;
    std::int64_t rows = 1;
    double padL = 0;
    double measuredWpx = 0;
    // The thin line from the cue box to a label in the gutter: x0, y0, x1, y1
    // as x and dy are; none for a label without one.
    std::optional<std::array<double, 4>> leader;
};

// The margin beside the page the labels stand in, on the page's outer side;
// the exported page grows by it.
struct Gutter {
    bool left = false;  // left of a left-hand page, else right
    double px = 0;      // its width, px of the page as displayed
};

struct MarkBox {
    std::string kind;  // "hide" or "cut"; other kinds are not drawn
    double x = 0, w = 0, dy = 0, dh = 0;
};

struct InsertBox {
    std::string text;
    double x = 0, w = 0, dy = 0, dh = 0;
    double lineH = 0;  // page-height fraction: one line of the script's text
    std::int64_t rows = 1;
};

struct PageLayout {
    std::optional<double> labelFontPx;
    double extra = 0;  // grown height = height * (1 + extra)
    double pageWpx = 0;
    double pageHpx = 0;
    std::vector<Gap> gaps;  // sorted by afterY, equal values in their given order
    std::vector<HRow> hrows;
    std::vector<CueBox> cues;
    std::vector<Label> labels;
    std::vector<MarkBox> marks;
    std::vector<InsertBox> inserts;
    Gutter gutter;
};

struct Layout {
    double labelFontPx = 0;
    double labelLineH = 0;
    double labelPadX = 0;
    double labelPadY = 0;
    double markRadiusPx = 4;
    double outlineWPx = 1.5;
    std::vector<std::string> resolvedFonts;
    double insertFontK = 0.82;
    double insertLineK = 1.3;
    std::map<std::int64_t, PageLayout> pages;  // by 0-based page index

    // None when the layout is unusable: a required layout key missing or not a
    // number, "pages" not a list of objects, or a page without a numeric
    // "index" and "extra". Entries lacking a required key are skipped silently
    // so a partly malformed page still exports what is well formed. A number
    // written as text is not a number; neither is NaN or infinity.
    static std::optional<Layout> fromJson(const Json& object);
};

// Parses the text of a layout file; none when it is not a JSON object or not a
// usable layout.
std::optional<Layout> decodeLayout(std::string_view text);

// The largest layout file read; real ones are a few hundred kilobytes.
inline constexpr std::size_t maxLayoutBytes = 64u << 20;

}  // namespace tallowmark
