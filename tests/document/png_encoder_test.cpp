#include "document/png_encoder.hpp"

#include <cairo.h>
#include <gtest/gtest.h>

#include "support/pdf_fixtures.hpp"

namespace tallowmark {
namespace {

// Encodes a 3 x 2 surface and checks it decodes to the same pixels; returns the
// PNG colour type (byte 25: inside IHDR after signature, length, type, size, depth).
int roundTrip(const std::vector<std::uint32_t>& pixels) {
    cairo_surface_t* surface = cairo_image_surface_create(CAIRO_FORMAT_RGB24, 3, 2);
    cairo_surface_flush(surface);
    unsigned char* data = cairo_image_surface_get_data(surface);
    const int stride = cairo_image_surface_get_stride(surface);
    for (int i = 0; i < 6; ++i)
        reinterpret_cast<std::uint32_t*>(data + (i / 3) * stride)[i % 3] = pixels[i];
    cairo_surface_mark_dirty(surface);
    const auto png = encodePng(surface);
    cairo_surface_destroy(surface);
    if (!png) return -1;
    const auto bitmap = testing::decodePng(*png);
    EXPECT_EQ(bitmap.width, 3);
    EXPECT_EQ(bitmap.height, 2);
    for (int i = 0; i < 6 && bitmap.rgb.size() == 18; ++i) {
        EXPECT_EQ(bitmap.rgb[3 * i], (pixels[i] >> 16) & 0xFF) << i;
        EXPECT_EQ(bitmap.rgb[3 * i + 1], (pixels[i] >> 8) & 0xFF) << i;
        EXPECT_EQ(bitmap.rgb[3 * i + 2], pixels[i] & 0xFF) << i;
    }
    return (*png)[25];
}

TEST(PngEncoder, GrayPagesEncodeAsGrayAndColourKeepsItsChannels) {
    EXPECT_EQ(roundTrip({0xFFFFFF, 0x000000, 0x808080, 0x101010, 0xFEFEFE, 0x7F7F7F}), 0);
    EXPECT_EQ(roundTrip({0xFFFFFF, 0x000000, 0x808080, 0x101010, 0xFEFEFE, 0xFF2010}), 2);
    EXPECT_EQ(roundTrip({0x0000FE, 0x00FE00, 0xFE0000, 0x123456, 0x654321, 0xABCDEF}), 2);
}

}  // namespace
}  // namespace tallowmark
