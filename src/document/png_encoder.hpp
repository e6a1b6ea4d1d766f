#pragma once

// PNG encoding of drawn pages. Tuned for speed over size: the pages are mostly
// white text, which compresses well even at the lowest level.

#include <cstdint>
#include <optional>
#include <vector>

typedef struct _cairo_surface cairo_surface_t;

namespace tallowmark {

// Encodes a CAIRO_FORMAT_RGB24 image surface as an 8-bit PNG, gray when every
// pixel is gray and RGB otherwise; none on failure.
std::optional<std::vector<std::uint8_t>> encodePng(cairo_surface_t* surface);

}  // namespace tallowmark
