#pragma once

// A page as it is drawn: its displayed size in points and the crop in force.

#include <optional>

#include "document/page_geometry.hpp"

typedef struct _cairo cairo_t;

namespace tallowmark {

struct PageFrame {
    double fullWidth = 0;  // the display box, turned by the page's rotation
    double fullHeight = 0;
    std::optional<PageCrop> crop;

    // The part of the page the crop keeps, in points.
    double croppedWidth() const { return fullWidth * (crop ? crop->width : 1); }
    double croppedHeight() const { return fullHeight * (crop ? crop->height : 1); }
    // Moves `cr`'s origin so that the whole page, drawn into (0, 0, fullWidth,
    // fullHeight), has the crop's top-left corner where the origin was. A
    // scale or clip of the caller's goes before.
    void translateToCrop(cairo_t* cr) const;
};

}  // namespace tallowmark
