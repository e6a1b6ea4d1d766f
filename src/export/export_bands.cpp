#include "export/export_bands.hpp"

#include <algorithm>
#include <cmath>
#include <vector>

namespace tallowmark::export_drawing {

namespace {

// One clipped strip of the page and where it moves to. Heights are fractions
// of the cropped page height, widths of its width.
struct Band {
    double top, bottom;
    double left, right;
    double shiftDown;  // moved down by the room of the gaps above it
    double shiftSide;  // moved sideways, for the outer parts of a split row
};

// The page between two gaps, moved down by the gaps above it.
struct Segment {
    double top, bottom, shiftDown;
};

std::vector<Segment> segmentsOf(const PageLayout* page) {
    std::vector<Segment> segments;
    if (!page) {
        segments.push_back({0, 1, 0});
        return segments;
    }
    double top = 0, shiftDown = 0;
    for (const Gap& gap : page->gaps) {
        const double bottom = std::min(std::max(gap.afterY, top), 1.0);
        segments.push_back({top, bottom, shiftDown});
        shiftDown += gap.height;
        top = bottom;
    }
    segments.push_back({top, 1, shiftDown});
    return segments;
}

// The row split at a cut that ends where the segment ends, if any.
const HRow* splitRowEnding(const PageLayout* page, const Segment& seg) {
    if (!page) return nullptr;
    for (const HRow& r : page->hrows) {
        // The tolerance absorbs the page's rounding of fractions.
        if (std::fabs(r.bottom - seg.bottom) < 0.0015 && r.top > seg.top - 0.000001 && (r.dL > 0 || r.dR > 0))
            return &r;
    }
    return nullptr;
}

std::vector<Band> bandsOf(const PageLayout* page) {
    std::vector<Band> bands;
    for (const Segment& seg : segmentsOf(page)) {
        const HRow* row = splitRowEnding(page, seg);
        if (!row) {
            bands.push_back({seg.top, seg.bottom, 0, 1, seg.shiftDown, 0});
            continue;
        }
        if (seg.top + 0.000001 < row->top) bands.push_back({seg.top, row->top, 0, 1, seg.shiftDown, 0});
        bands.push_back({row->top, seg.bottom, 0, row->x0, seg.shiftDown, -row->dL});
        bands.push_back({row->top, seg.bottom, row->x0, row->x1, seg.shiftDown, 0});
        bands.push_back({row->top, seg.bottom, row->x1, 1, seg.shiftDown, row->dR});
    }
    return bands;
}

}  // namespace

void drawPageBands(cairo_t* cr, const DocumentStore& store, int index, const PageFrame& frame, const PageGeometry& g,
                   const PageLayout* page) {
    for (const Band& band : bandsOf(page)) {
        if (!(band.top < band.bottom) || !(band.left < band.right)) continue;
        const double dx = g.croppedWidth * band.shiftSide, dy = g.croppedHeight * band.shiftDown;
        if (!std::isfinite(dx) || !std::isfinite(dy) || std::fabs(dx) > maxCoordinate || std::fabs(dy) > maxCoordinate)
            continue;
        cairo_save(cr);
        cairo_translate(cr, dx, dy);
        cairo_rectangle(cr, g.croppedWidth * band.left, g.croppedHeight * band.top,
                        g.croppedWidth * (band.right - band.left), g.croppedHeight * (band.bottom - band.top));
        cairo_clip(cr);
        frame.translateToCrop(cr);
        store.drawPageForPrinting(index, cr, frame.fullWidth, frame.fullHeight);
        cairo_restore(cr);
    }
}

}  // namespace tallowmark::export_drawing
