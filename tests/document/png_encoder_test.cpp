// The page image encoders: PNG for the page, run-length gray BMP for the screen.
#include "document/png_encoder.hpp"

#include <cairo.h>
#include <gtest/gtest.h>

#include "document/bmp_encoder.hpp"
#include "support/pdf_fixtures.hpp"

namespace tallowmark {
namespace {

// Encodes a surface `width` pixels wide holding `pixels`, rows top to bottom.
template <class Encode>
auto encoded(int width, const std::vector<std::uint32_t>& pixels, Encode encode) {
    const int height = static_cast<int>(pixels.size()) / width;
    cairo_surface_t* surface = cairo_image_surface_create(CAIRO_FORMAT_RGB24, width, height);
    cairo_surface_flush(surface);
    unsigned char* data = cairo_image_surface_get_data(surface);
    const int stride = cairo_image_surface_get_stride(surface);
    for (std::size_t i = 0; i < pixels.size(); ++i)
        reinterpret_cast<std::uint32_t*>(data + (i / width) * stride)[i % width] = pixels[i];
    cairo_surface_mark_dirty(surface);
    auto bytes = encode(surface);
    cairo_surface_destroy(surface);
    return bytes;
}

// Encodes 3 x 2 pixels that must decode the same; the PNG colour type (IHDR byte 25).
int roundTrip(const std::vector<std::uint32_t>& pixels) {
    const auto png = encoded(3, pixels, encodePng);
    if (!png) return -1;
    const auto bitmap = testing::decodePng(*png);
    std::vector<unsigned char> rgb;
    for (const std::uint32_t p : pixels)
        for (const int shift : {16, 8, 0}) rgb.push_back((p >> shift) & 0xFF);
    EXPECT_EQ(std::tuple(bitmap.width, bitmap.height, bitmap.rgb), std::tuple(3, 2, rgb));
    return (*png)[25];
}

TEST(PngEncoder, GrayPagesEncodeAsGrayAndColourKeepsItsChannels) {
    EXPECT_EQ(roundTrip({0xFFFFFF, 0x000000, 0x808080, 0x101010, 0xFEFEFE, 0x7F7F7F}), 0);
    EXPECT_EQ(roundTrip({0xFFFFFF, 0x000000, 0x808080, 0x101010, 0xFEFEFE, 0xFF2010}), 2);
    EXPECT_EQ(roundTrip({0x0000FE, 0x00FE00, 0xFE0000, 0x123456, 0x654321, 0xABCDEF}), 2);
}

TEST(GrayBmp, RunLengthRowsBottomUpAndColourRefused) {
    std::vector<std::uint32_t> pixels = {
        0xFFFFFF, 0xFFFFFF, 0xFFFFFF, 0xFFFFFF, 0xFFFFFF, 0xFFFFFF,  // one run
        0x101010, 0x101010, 0x101010, 0x101010, 0x808080, 0x7F7F7F,  // a run, two single pixels
        0x010101, 0x020202, 0x030303, 0x040404, 0x040404, 0x040404,  // a stretch of three, a run
    };
    const auto bmp = encoded(6, pixels, encodeGrayBmp);
    ASSERT_TRUE(bmp);
    // From byte 1078, after the headers and the palette; the bottom row first.
    EXPECT_EQ(std::vector<std::uint8_t>(bmp->begin() + 1078, bmp->end()),
              (std::vector<std::uint8_t>{0, 3, 1, 2, 3, 0, 3, 4, 0, 0,  // stretch (padded), run, end of row
                                         4, 0x10, 1, 0x80, 1, 0x7F, 0, 0,
                                         6, 0xFF, 0, 0,
                                         0, 1}));  // end of bitmap
    EXPECT_EQ((*bmp)[2] | (*bmp)[3] << 8, 1078 + 24);  // file size
    EXPECT_EQ((*bmp)[22], 3);                          // height: positive, bottom-up
    EXPECT_EQ((*bmp)[30], 1);                          // BI_RLE8
    EXPECT_EQ((*bmp)[54 + 4 * 0x80], 0x80);            // palette entry 0x80 is gray 0x80
    pixels[7] = 0x101011;
    EXPECT_FALSE(encoded(6, pixels, encodeGrayBmp));
}

}  // namespace
}  // namespace tallowmark
