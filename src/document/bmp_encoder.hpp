#pragma once

// Screen images of drawn pages. A page of black text on white is gray
// throughout and mostly runs of white; an 8-bit gray BMP with run-length rows
// costs one pass over the pixels, where even the fastest deflate costs as much
// as drawing the page, and the web view decodes it as simply. It is about
// two and a half times a PNG's size (a quarter of the raw pixels), which
// is why it travels by address rather than as text, and why the image
// caches are bounded by bytes.

#include <cstdint>
#include <optional>
#include <vector>

typedef struct _cairo_surface cairo_surface_t;

namespace tallowmark {

// An 8-bit gray BMP (run-length rows, a 256-step gray palette) of a
// CAIRO_FORMAT_RGB24 image surface; none when a pixel is not gray (the
// caller falls back to a PNG) or the surface is unusable.
std::optional<std::vector<std::uint8_t>> encodeGrayBmp(cairo_surface_t* surface);

}  // namespace tallowmark
