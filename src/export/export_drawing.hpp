#pragma once

// Shared by the exporter's own files only: the page's measures and the bounds
// every drawn number is checked against.

#include <cairo.h>

#include <cmath>
#include <initializer_list>
#include <new>
#include <string>

namespace tallowmark::export_drawing {

// Overlays are placed from measured numbers; one far off the page (a broken
// measurement) is skipped rather than handed to cairo's fixed-point range.
constexpr double maxCoordinate = 1e6;
constexpr double maxFontPoints = 2000;

// Collects a PDF as cairo writes it (the closure is a std::string); the file
// is written at once when it is complete, so a failed export leaves nothing
// under the chosen name.
inline cairo_status_t appendToBuffer(void* closure, const unsigned char* data, unsigned int length) {
    try {
        static_cast<std::string*>(closure)->append(reinterpret_cast<const char*>(data), length);
    } catch (const std::bad_alloc&) {
        return CAIRO_STATUS_NO_MEMORY;
    }
    return CAIRO_STATUS_SUCCESS;
}

// Rectangles in output-page points, origin top-left, y down (cairo's space).
struct Box {
    double x = 0, y = 0, w = 0, h = 0;
    double right() const { return x + w; }
    double bottom() const { return y + h; }
    Box grown(double d) const { return {x - d, y - d, w + 2 * d, h + 2 * d}; }
    bool sane() const {
        for (double v : {x, y, w, h})
            if (!std::isfinite(v) || std::fabs(v) > maxCoordinate) return false;
        return w >= 0 && h >= 0;
    }
};

struct PageGeometry {
    double croppedWidth = 0, croppedHeight = 0;
    double grownHeight = 0;     // the cropped height with the inserted lines' room added
    double pointsPerPixel = 1;  // output points per pixel of the page as it was measured on screen
    double gutterWidth = 0;     // the label gutter beside the page, points
    bool gutterLeft = false;    // the gutter is left of the page (the page is drawn right of it)
    // Fractions of the cropped width and the grown height, in points.
    Box rect(double x, double y, double w, double h) const {
        return {croppedWidth * x, grownHeight * y, croppedWidth * w, grownHeight * h};
    }
};

}  // namespace tallowmark::export_drawing
