#include <cairo.h>
#include <gtest/gtest.h>

#include "document/bmp_encoder.hpp"
#include "document/document_store.hpp"
#include "support/pdf_fixtures.hpp"
#include "support/temp_dir.hpp"

namespace tallowmark {
namespace {

TEST(DocumentRender, TheImageCacheStaysWithinItsBytes) {
    testing::TempDir dir;
    testing::writePdf(dir / "s.pdf", {{300, 400, {}}, {300, 400, {}}, {300, 400, {}}, {300, 400, {}}});
    DocumentStore store;
    ASSERT_TRUE(store.open(dir / "s.pdf"));
    std::size_t size = 0;  // blank pages are alike
    for (int page = 0; page < 4; ++page) {
        const auto image = store.pageImage(page, 100, ImageEncoding::screen);
        ASSERT_TRUE(image);
        EXPECT_TRUE(size == 0 || image->bytes.size() == size);
        size = image->bytes.size();
    }
    // A bound of two images lets the oldest go at once, and keeps them out after.
    store.setImageCacheBytes(2 * size);
    EXPECT_EQ(store.cachedKeys(), (std::vector<std::string>{"2@100/screen", "3@100/screen"}));
    ASSERT_TRUE(store.pageImage(1, 100, ImageEncoding::screen));
    EXPECT_EQ(store.cachedKeys(), (std::vector<std::string>{"3@100/screen", "1@100/screen"}));
    EXPECT_EQ(store.imageCacheBytes(), 2 * size);

    // One image larger than the whole bound is handed out but pushes nothing out.
    EXPECT_TRUE(store.pageImage(0, 800, ImageEncoding::screen));
    EXPECT_EQ(store.cachedKeys().size(), 2u);
    // A hit is the cached image itself, not a copy.
    EXPECT_EQ(store.pageImage(3, 100, ImageEncoding::screen), store.pageImage(3, 100, ImageEncoding::screen));
    store.close();
    EXPECT_EQ(store.imageCacheBytes(), 0u);
}

// The pixels of a 6 x 3 surface, rows top to bottom, as an 8-bit BMP, or none.
std::optional<std::vector<std::uint8_t>> bmpOf(const std::vector<std::uint32_t>& pixels) {
    cairo_surface_t* surface = cairo_image_surface_create(CAIRO_FORMAT_RGB24, 6, 3);
    cairo_surface_flush(surface);
    unsigned char* data = cairo_image_surface_get_data(surface);
    const int stride = cairo_image_surface_get_stride(surface);
    for (int i = 0; i < 18; ++i) reinterpret_cast<std::uint32_t*>(data + (i / 6) * stride)[i % 6] = pixels[i];
    cairo_surface_mark_dirty(surface);
    auto bmp = encodeGrayBmp(surface);
    cairo_surface_destroy(surface);
    return bmp;
}

TEST(GrayBmp, RunLengthRowsBottomUpAndColourRefused) {
    std::vector<std::uint32_t> pixels = {
        0xFFFFFF, 0xFFFFFF, 0xFFFFFF, 0xFFFFFF, 0xFFFFFF, 0xFFFFFF,  // one run
        0x101010, 0x101010, 0x101010, 0x101010, 0x808080, 0x7F7F7F,  // a run, two single pixels
        0x010101, 0x020202, 0x030303, 0x040404, 0x040404, 0x040404,  // a stretch of three, a run
    };
    const auto bmp = bmpOf(pixels);
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
    EXPECT_FALSE(bmpOf(pixels));
}

}  // namespace
}  // namespace tallowmark
