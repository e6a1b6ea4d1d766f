#include "document/page_frame.hpp"

#include <cairo.h>

namespace tallowmark {

void PageFrame::translateToCrop(cairo_t* cr) const {
    // cairo's y runs down, as the crop's does.
    if (crop) cairo_translate(cr, -crop->x * fullWidth, -crop->y * fullHeight);
}

}  // namespace tallowmark
