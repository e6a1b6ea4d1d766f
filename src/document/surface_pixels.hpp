#pragma once

// The pixels of a drawn page, as the encoders read them.

#include <cairo.h>

#include <optional>

namespace tallowmark {

struct SurfacePixels {
    int width = 0;
    int height = 0;
    int stride = 0;
    const unsigned char* data = nullptr;
};

// A flushed CAIRO_FORMAT_RGB24 image surface's pixels; none for any other
// surface, a failed one or an empty one.
inline std::optional<SurfacePixels> rgb24Pixels(cairo_surface_t* surface) {
    if (!surface || cairo_surface_status(surface) != CAIRO_STATUS_SUCCESS ||
        cairo_image_surface_get_format(surface) != CAIRO_FORMAT_RGB24)
        return std::nullopt;
    cairo_surface_flush(surface);
    SurfacePixels p{cairo_image_surface_get_width(surface), cairo_image_surface_get_height(surface),
                    cairo_image_surface_get_stride(surface), cairo_image_surface_get_data(surface)};
    if (p.width <= 0 || p.height <= 0 || !p.data) return std::nullopt;
    return p;
}

}  // namespace tallowmark
