#include "document/png_encoder.hpp"

#include <cairo.h>
#include <spng.h>
#include <zlib.h>

#include <cstring>
#include <memory>

#include "document/surface_pixels.hpp"

namespace tallowmark {

namespace {

// cairo keeps each pixel as a native-endian 0x00RRGGBB word.
std::uint32_t pixelAt(const unsigned char* row, int x) {
    std::uint32_t pixel;
    std::memcpy(&pixel, row + 4 * static_cast<std::size_t>(x), 4);
    return pixel;
}

bool allGray(const unsigned char* pixels, int width, int height, int stride) {
    for (int y = 0; y < height; ++y) {
        const unsigned char* row = pixels + static_cast<std::size_t>(y) * stride;
        // A row at a time without a branch per pixel, so the compiler can vectorise it.
        std::uint32_t differ = 0;
        for (int x = 0; x < width; ++x) {
            const std::uint32_t p = pixelAt(row, x);
            differ |= ((p >> 16) ^ p) | ((p >> 8) ^ p);  // red or green against blue, in the low byte
        }
        if (differ & 0xFF) return false;
    }
    return true;
}

// Share of pixels equal to their left neighbour, over every eighth row. A
// drawn text page is mostly blank paper (0.85 and more); the grain of a
// scanned page leaves few (about 0.15 on a grey 150-dpi scan).
double repeatShare(const unsigned char* pixels, int width, int height, int stride) {
    std::size_t repeats = 0, compared = 0;
    for (int y = 0; y < height; y += 8) {
        const unsigned char* row = pixels + static_cast<std::size_t>(y) * stride;
        for (int x = 1; x < width; ++x) repeats += pixelAt(row, x) == pixelAt(row, x - 1);
        compared += static_cast<std::size_t>(width - 1);
    }
    return compared ? static_cast<double>(repeats) / static_cast<double>(compared) : 1.0;
}

}  // namespace

std::optional<std::vector<std::uint8_t>> encodePng(cairo_surface_t* surface) {
    const std::optional<SurfacePixels> read = rgb24Pixels(surface);
    if (!read) return std::nullopt;
    const auto [width, height, stride, pixels] = *read;

    std::unique_ptr<spng_ctx, void (*)(spng_ctx*)> ctx(spng_ctx_new(SPNG_CTX_ENCODER), spng_ctx_free);
    if (!ctx) return std::nullopt;
    spng_ihdr header{};
    header.width = static_cast<std::uint32_t>(width);
    header.height = static_cast<std::uint32_t>(height);
    header.bit_depth = 8;
    // Black text on white draws in grays only; one channel instead of three
    // halves the encoding time. The check costs a tenth of that.
    const bool gray = allGray(pixels, width, height, stride);
    header.color_type = gray ? SPNG_COLOR_TYPE_GRAYSCALE : SPNG_COLOR_TYPE_TRUECOLOR;
    // Level 1 without filtering: on dense anti-aliased text it is both faster
    // and smaller than SUB or UP, and about three times faster than level 6.
    // In a scan's grain deflate's string search finds next to nothing and is
    // most of the encoding time; Huffman coding alone is a third faster there
    // and the file a seventh smaller. On text it would be two to three times
    // the size, and on a lightly grained scan both cost about the same.
    const bool grainy = repeatShare(pixels, width, height, stride) < 0.5;
    if (spng_set_option(ctx.get(), SPNG_ENCODE_TO_BUFFER, 1) || spng_set_ihdr(ctx.get(), &header) ||
        spng_set_option(ctx.get(), SPNG_IMG_COMPRESSION_LEVEL, 1) ||
        spng_set_option(ctx.get(), SPNG_IMG_COMPRESSION_STRATEGY, grainy ? Z_HUFFMAN_ONLY : Z_DEFAULT_STRATEGY) ||
        spng_set_option(ctx.get(), SPNG_FILTER_CHOICE, SPNG_FILTER_CHOICE_NONE) ||
        spng_encode_image(ctx.get(), nullptr, 0, SPNG_FMT_PNG, SPNG_ENCODE_PROGRESSIVE | SPNG_ENCODE_FINALIZE))
        return std::nullopt;

    std::vector<unsigned char> row(static_cast<std::size_t>(width) * (gray ? 1 : 3));
    // Through a plain pointer: a byte store through the vector would make the
    // compiler reload its data pointer for every pixel.
    unsigned char* const target = row.data();
    for (int y = 0; y < height; ++y) {
        const unsigned char* source = pixels + static_cast<std::size_t>(y) * stride;
        if (gray) {
            for (int x = 0; x < width; ++x) target[x] = static_cast<unsigned char>(pixelAt(source, x));
        } else {
            for (int x = 0; x < width; ++x) {
                const std::uint32_t pixel = pixelAt(source, x);
                target[3 * x] = static_cast<unsigned char>(pixel >> 16);
                target[3 * x + 1] = static_cast<unsigned char>(pixel >> 8);
                target[3 * x + 2] = static_cast<unsigned char>(pixel);
            }
        }
        const int status = spng_encode_row(ctx.get(), row.data(), row.size());
        if (status != 0 && !(status == SPNG_EOI && y == height - 1)) return std::nullopt;
    }

    int error = 0;
    std::size_t length = 0;
    void* png = spng_get_png_buffer(ctx.get(), &length, &error);
    if (!png || error) {
        std::free(png);
        return std::nullopt;
    }
    std::vector<std::uint8_t> bytes(static_cast<std::uint8_t*>(png), static_cast<std::uint8_t*>(png) + length);
    std::free(png);
    return bytes;
}

}  // namespace tallowmark
